#include "dblib/IB_StringList.h"

#include "dblib/IB_Constants.h"
#include "dblib/IB_Errors.h"
#include "dblib/sql/IB_Parse.h"
#include "platform/ScopeGuards.h"
#include "platform/Streams.h"

namespace {

bool IsBlank(std::string_view S) { return Trim(S).empty(); }

// 1-based position of the first Ch outside double quotes, 0 when none.
int32_t PosOutsideQuotes(char Ch, std::string_view S) { return CharPosOutsideQuotes(Ch, S, 1); }

std::string LinkNameOf(std::string_view Item) {
  const int32_t P = PosOutsideQuotes('=', Item);
  return std::string(P > 0 ? Item.substr(0, static_cast<size_t>(P - 1)) : Item);
}

std::string LinkValueOf(std::string_view Item) {
  const int32_t P = PosOutsideQuotes('=', Item);
  return P > 0 ? std::string(Item.substr(static_cast<size_t>(P))) : std::string();
}

// The part after the qualifier's '.', or empty when the name is not qualified.
bool SplitQualified(std::string_view Name, std::string& FieldPart) {
  const int32_t P = PosOutsideQuotes('.', Name);
  if (P <= 0) return false;
  FieldPart = std::string(Name.substr(static_cast<size_t>(P)));
  return true;
}

}  // namespace

int TIB_StringList::Add(const std::string& S) { return AddObject(S, nullptr); }

int TIB_StringList::AddObject(const std::string& S, TObject* AObject) {
  if (!FInternalChange && IsBlank(S)) {
    TValueRestorer<bool> internal(FInternalChange, true);
    return TStringList::AddObject(S, AObject);
  }
  return TStringList::AddObject(S, AObject);
}

void TIB_StringList::Put(int Index, const std::string& S) {
  if (!GetSorted()) {
    TStringList::Put(Index, S);
    return;
  }
  TObject* Obj = GetObject(Index);
  const std::string Old = Get(Index);
  // One bracket, so that nobody is told of the list while the item is out of it.
  auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  Delete(Index);
  try {
    AddObject(S, Obj);
  } catch (...) {
    // Refused (a duplicate): the item goes back as it was rather than being lost.
    AddObject(Old, Obj);
    throw;
  }
  update.End();
}

void TIB_StringList::Changing() {
  if (!FInternalChange) TStringList::Changing();
}

void TIB_StringList::Changed() {
  if (FInternalChange || GetUpdateCount() > 0) return;
  if (Count() > 0 && !FKeepBlankLines) RemoveBlankLines();
  TStringList::Changed();
}

void TIB_StringList::SetUpdateState(bool Updating) {
  FUpdating = Updating;
  TStringList::SetUpdateState(Updating);
}

void TIB_StringList::RemoveBlankLines() {
  TValueRestorer<bool> internal(FInternalChange, true);
  for (int I = Count() - 1; I >= 0; --I)
    if (I < Count() && IsBlank(Get(I))) Delete(I);
}

std::string TIB_StringList::GetLinkName(int Index) const { return LinkNameOf(Get(Index)); }

std::string TIB_StringList::GetLinkFieldName(int Index) const {
  if (Index < 0 || Index >= Count()) return std::string();
  std::string Name = GetLinkName(Index);
  std::string Field;
  return SplitQualified(Name, Field) ? Field : Name;
}

std::string TIB_StringList::GetLinkValue(int Index) const { return LinkValueOf(Get(Index)); }

void TIB_StringList::SetLinkValue(int Index, const std::string& Value) {
  const std::string Item = Get(Index);
  const int32_t P = PosOutsideQuotes('=', Item);
  Put(Index, P > 0 ? Item.substr(0, static_cast<size_t>(P)) + Value : Item + "=" + Value);
}

bool TIB_StringList::FindName(std::string_view Name, int& Index) const {
  if (!GetSorted()) IB_Raise<EIB_Error>(IBMsg::StringlistMustBeSortedForThis);
  const std::string Key = std::string(Name) + "=";
  bool Found = false;
  int L = 0;
  int H = Count() - 1;
  while (L <= H) {
    const int I = (L + H) / 2;
    const std::string Item = Get(I);
    const int Cmp = CompareStrings(std::string_view(Item).substr(0, Key.size()), Key);
    if (Cmp < 0) {
      L = I + 1;
    } else {
      H = I - 1;
      if (Cmp == 0) {
        Found = true;
        if (GetDuplicates() != dupAccept) L = I;
      }
    }
  }
  Index = Found ? L : -1;
  return Found;
}

bool TIB_StringList::FindValue(std::string_view Name, std::string& Value) const {
  int Index = -1;
  const bool Found = FindName(Name, Index);
  Value = Found ? GetLinkValue(Index) : std::string();
  return Found;
}

// Steps 1 and 2 of the lookup: the item named Name, else the item that is Name alone.
int TIB_StringList::IndexByNameOrItem(std::string_view Name) const {
  int Index = -1;
  if (GetSorted()) {
    if (!FindName(Name, Index)) Index = -1;
  } else {
    Index = IndexOfName(Name);
  }
  if (Index < 0) Index = IndexOf(Name);
  return Index;
}

std::string TIB_StringList::ValueByName(std::string_view Name) const {
  std::string Value;
  if (GetSorted())
    FindValue(Name, Value);
  else
    Value = GetValue(Name);
  return Value;
}

// The first item whose name (before its first '=') is qualified and has Name as its field part.
int TIB_StringList::ScanFieldName(std::string_view Name) const {
  for (int I = 0; I < Count(); ++I) {
    std::string Field;
    if (SplitQualified(GetName(I), Field) && CompareText(Field, Name) == 0) return I;
  }
  return -1;
}

int TIB_StringList::IndexOfLinkName(std::string_view Name) const {
  const int Index = IndexByNameOrItem(Name);
  if (Index >= 0) return Index;
  std::string Field;
  if (SplitQualified(Name, Field)) return IndexByNameOrItem(Field);
  return ScanFieldName(Name);
}

std::string TIB_StringList::GetLinkValueByName(std::string_view Name) const {
  std::string Value = ValueByName(Name);
  if (!Value.empty()) return Value;
  std::string Field;
  if (SplitQualified(Name, Field)) return ValueByName(Field);
  const int Index = ScanFieldName(Name);
  return Index >= 0 ? GetLinkValue(Index) : std::string();
}

void TIB_StringList::SetLinkValueByName(std::string_view Name, const std::string& Value) {
  std::string Key(Name);
  int Index = IndexByNameOrItem(Key);
  std::string Field;
  if (Index < 0 && SplitQualified(Key, Field)) {
    Key = Field;
    Index = IndexByNameOrItem(Key);
  }
  if (Index < 0 && !SplitQualified(Key, Field)) {
    // Every item qualified by some relation with this field name takes the value. The items change in
    // one update, so that blank items dropped or a sorted re-insert cannot shift the indexes found.
    std::vector<int> Matches;
    for (int I = 0; I < Count(); ++I) {
      std::string ItemField;
      if (SplitQualified(GetLinkName(I), ItemField) && CompareText(ItemField, Key) == 0) Matches.push_back(I);
    }
    if (!Matches.empty()) {
      auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
      if (!GetSorted()) {
        for (int I : Matches) SetLinkValue(I, Value);
      } else {
        std::vector<std::pair<std::string, TObject*>> Changed;
        for (auto It = Matches.rbegin(); It != Matches.rend(); ++It) {
          const std::string Item = Get(*It);
          const int32_t P = PosOutsideQuotes('=', Item);
          Changed.emplace_back(P > 0 ? Item.substr(0, static_cast<size_t>(P)) + Value : Item + "=" + Value,
                               GetObject(*It));
          Delete(*It);
        }
        for (auto It = Changed.rbegin(); It != Changed.rend(); ++It) AddObject(It->first, It->second);
      }
      update.End();
      return;
    }
  }
  if (Index >= 0)
    SetLinkValue(Index, Value);
  else
    Add(Key + "=" + Value);
}

void TIB_StringList::GetLinkAttributeAt(int Index, std::string_view Attr, std::string& Value) const {
  int32_t NamePos = 0;
  int32_t EndPos = 0;
  ParseAttributeText(GetLinkValue(Index), Attr, NamePos, Value, EndPos);
}

void TIB_StringList::FindLinkAttribute(std::string_view Name, std::string_view Attr, std::string& Value,
                                       bool& Present) const {
  int32_t NamePos = 0;
  int32_t EndPos = 0;
  ParseAttributeText(GetLinkValueByName(Name), Attr, NamePos, Value, EndPos);
  Present = NamePos != 0;
}

void TIB_StringList::GetLinkAttribute(std::string_view Name, std::string_view Attr, std::string& Value) const {
  bool Present = false;
  FindLinkAttribute(Name, Attr, Value, Present);
  if (!Present) Value.clear();
}

bool TIB_StringList::HasLinkAttribute(std::string_view Name, std::string_view Attr) const {
  std::string Value;
  bool Present = false;
  FindLinkAttribute(Name, Attr, Value, Present);
  return Present;
}

void TIB_StringList::SaveToStream(TStream* Stream) const {
  if (Stream == nullptr) return;
  const std::string Text = GetText();
  Stream->WriteBuffer(Text.data(), static_cast<int64_t>(Text.size()));
}

void TIB_StringList::SetCommaList(std::string_view Text) {
  auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  Clear();
  if (!Text.empty()) {
    size_t Start = 0;
    for (;;) {
      const int32_t P = CharPosOutsideQuotes(',', Text, static_cast<int32_t>(Start) + 1);
      if (P <= 0) break;
      Add(Trim(Text.substr(Start, static_cast<size_t>(P - 1) - Start)));
      Start = static_cast<size_t>(P);
    }
    Add(Trim(Text.substr(Start)));
  }
  update.End();
}
