#include "platform/Classes.h"

#include <algorithm>

#include "platform/ScopeGuards.h"

// ---------------------------------------------------------------------------------------------
// TAliveFlag

// Out of line: the last holder frees the flag; the compiler, seeing only the inlined copies, takes
// the count for a use after the free.
void TAliveFlag::Free(TShared* Shared) noexcept { delete Shared; }

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  FAlive.Clear();
  // Normally BeforeDestruction has done all of this; this is the safety net for a derived
  // override that did not reach the base.
  if (!FFreeNotifies.empty() || !FComponents.empty() || FOwner) TComponent::BeforeDestruction();
}

void TComponent::Destroying() {
  if (HasState(csDestroying)) return;
  IncludeState(csDestroying);
  for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::BeforeDestruction() {
  IncludeState(csDestroying);
  // Tell everyone who asked for our free notice, last first.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    // They may have asked us for our notice too; drop it so they do not notify a dead object.
    auto& theirs = other->FFreeNotifies;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    Remove(c);
    delete c;
  }
}

int TComponent::GetComponentIndex() const {
  if (!FOwner) return -1;
  const auto& v = FOwner->FComponents;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TComponent* TComponent::FindComponent(std::string_view AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameText(c->FName, AName)) return c;
  return nullptr;
}

void TComponent::BeginLoading() {
  IncludeState(csLoading);
  IncludeState(csReading);
  for (TComponent* c : FComponents) c->BeginLoading();
}

void TComponent::EndLoading() {
  if (!FinishLoading()) throw EAbort();
}

// Over a snapshot with the tokens of what this component owns: a component deleted (or moved to another
// owner) by an earlier one's Loaded() is skipped, and the walk stops once this component went.
bool TComponent::FinishLoading() {
  const TAliveFlag alive = FAlive;
  ExcludeState(csReading);
  ExcludeState(csLoading);
  Loaded();
  if (!alive.Get()) return false;
  std::vector<std::pair<TComponent*, TAliveFlag>> snapshot;
  snapshot.reserve(FComponents.size());
  for (TComponent* c : FComponents) snapshot.emplace_back(c, c->FAlive);
  for (const auto& [c, cAlive] : snapshot) {
    if (!cAlive.Get() || std::find(FComponents.begin(), FComponents.end(), c) == FComponents.end()) continue;
    c->FinishLoading();
    if (!alive.Get()) return false;
  }
  return true;
}

void TComponent::Loaded() { ExcludeState(csLoading); }

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
  AComponent->FOwner = nullptr;
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent), FComponents.end());
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent) return;
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  Insert(AComponent);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  Remove(AComponent);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  // Both sides keep the other, so whichever goes first tells the other.
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  auto& theirs = AComponent->FFreeNotifies;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  RemoveNotification(AComponent);
  if (AComponent) AComponent->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* AComponent) {
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent), FFreeNotifies.end());
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
  // Pass the notice on to what we own, last first, over a snapshot: handlers may change the list.
  std::vector<TComponent*> snapshot = FComponents;
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    TComponent* c = *it;
    if (c == AComponent) continue;
    if (std::find(FComponents.begin(), FComponents.end(), c) == FComponents.end()) continue;
    c->Notification(AComponent, Operation);
  }
}

// ---------------------------------------------------------------------------------------------
// TStrings

namespace {
const char* const SListIndexError = "List index out of bounds (%d)";
const char* const SSortedListError = "Operation not allowed on sorted list";
const char* const SDuplicateString = "String list does not allow duplicates";
}  // namespace

void TStrings::InsertObject(int Index, const std::string& S, TObject* AObject) {
  Insert(Index, S);
  PutObject(Index, AObject);
}

int TStrings::Add(const std::string& S) {
  int r = Count();
  Insert(r, S);
  return r;
}

int TStrings::AddObject(const std::string& S, TObject* AObject) {
  int r = Add(S);
  PutObject(r, AObject);
  return r;
}

void TStrings::AddStrings(const TStrings& Strings) {
  if (&Strings == this) {
    std::vector<std::pair<std::string, TObject*>> copy;
    for (int i = 0; i < Strings.Count(); ++i) copy.emplace_back(Strings.Get(i), Strings.GetObject(i));
    {
      auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
      for (auto& [s, o] : copy) AddObject(s, o);
      update.End();
    }
    return;
  }
  auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  for (int i = 0; i < Strings.Count(); ++i) AddObject(Strings.Get(i), Strings.GetObject(i));
  update.End();
}

void TStrings::Assign(const TStrings& Source) {
  if (&Source == this) return;
  auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  Clear();
  AddStrings(Source);
  update.End();
}

int TStrings::IndexOf(std::string_view S) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareText(Get(i), S) == 0) return i;
  return -1;
}

int TStrings::IndexOfName(std::string_view Name) const {
  for (int i = 0; i < Count(); ++i) {
    std::string s = Get(i);
    size_t p = s.find('=');
    if (p != std::string::npos && CompareText(std::string_view(s).substr(0, p), Name) == 0) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const {
  for (int i = 0; i < Count(); ++i)
    if (GetObject(i) == AObject) return i;
  return -1;
}

void TStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  (void)Get(NewIndex);  // a bad place raises before the item leaves its own
  auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  std::string s = Get(CurIndex);
  TObject* o = GetObject(CurIndex);
  Delete(CurIndex);
  InsertObject(NewIndex, s, o);
  update.End();
}

void TStrings::Exchange(int Index1, int Index2) {
  auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  std::string s = Get(Index1);
  TObject* o = GetObject(Index1);
  Put(Index1, Get(Index2));
  PutObject(Index1, GetObject(Index2));
  Put(Index2, s);
  PutObject(Index2, o);
  update.End();
}

bool TStrings::Equals(const TStrings& Other) const {
  if (Count() != Other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (Get(i) != Other.Get(i)) return false;
  return true;
}

std::string TStrings::GetName(int Index) const {
  std::string s = Get(Index);
  size_t p = s.find('=');
  return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStrings::GetValueFromIndex(int Index) const {
  std::string s = Get(Index);
  size_t p = s.find('=');
  return p == std::string::npos ? std::string() : s.substr(p + 1);
}

void TStrings::SetValueFromIndex(int Index, const std::string& Value) {
  if (!Value.empty()) {
    if (Index < 0) Index = Add("");
    Put(Index, GetName(Index) + "=" + Value);
  } else if (Index >= 0) {
    Delete(Index);
  }
}

std::string TStrings::GetValue(std::string_view Name) const {
  int i = IndexOfName(Name);
  return i < 0 ? std::string() : GetValueFromIndex(i);
}

void TStrings::SetValue(std::string_view Name, const std::string& Value) {
  int i = IndexOfName(Name);
  if (!Value.empty()) {
    if (i < 0) i = Add("");
    Put(i, std::string(Name) + "=" + Value);
  } else if (i >= 0) {
    Delete(i);
  }
}

std::string TStrings::GetText() const {
  std::string r;
  for (int i = 0; i < Count(); ++i) {
    r += Get(i);
    r += "\r\n";
  }
  return r;
}

void TStrings::SetText(std::string_view Value) {
  auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  Clear();
  size_t p = 0;
  while (p < Value.size()) {
    size_t start = p;
    while (p < Value.size() && Value[p] != '\r' && Value[p] != '\n') ++p;
    Add(std::string(Value.substr(start, p - start)));
    if (p < Value.size() && Value[p] == '\r') ++p;
    if (p < Value.size() && Value[p] == '\n') ++p;
  }
  update.End();
}

std::string TStrings::GetCommaText() const {
  int n = Count();
  if (n == 1 && Get(0).empty()) return "\"\"";
  std::string r;
  for (int i = 0; i < n; ++i) {
    std::string s = Get(i);
    bool quote = false;
    for (char ch : s)
      if (static_cast<unsigned char>(ch) <= ' ' || ch == '"' || ch == ',') {
        quote = true;
        break;
      }
    if (quote) s = QuotedStr(s, '"');
    if (i > 0) r += ',';
    r += s;
  }
  return r;
}

void TStrings::SetCommaText(std::string_view Value) {
  auto blank = [](char ch) { return ch != '\0' && static_cast<unsigned char>(ch) <= ' '; };
  auto update = MakeBracket(*this, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  Clear();
  size_t p = 0, n = Value.size();
  while (p < n && blank(Value[p])) ++p;
  while (p < n) {
    std::string s;
    if (Value[p] == '"') {
      ++p;
      while (p < n) {
        if (Value[p] == '"') {
          if (p + 1 < n && Value[p + 1] == '"') {
            s += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        s += Value[p++];
      }
    } else {
      size_t start = p;
      while (p<n&& static_cast<unsigned char>(Value[p])> ' ' && Value[p] != ',') ++p;
      s.assign(Value.substr(start, p - start));
      if (p == start && p < n && Value[p] != ',') {
        // A control character that is no separator: keep it rather than loop on it.
        s += Value[p++];
      }
    }
    Add(s);
    while (p < n && blank(Value[p])) ++p;
    if (p < n && Value[p] == ',') {
      do ++p;
      while (p < n && blank(Value[p]));
    }
  }
  update.End();
}

void TStrings::BeginUpdate() {
  if (FUpdateCount == 0) SetUpdateState(true);
  ++FUpdateCount;
}

void TStrings::EndUpdate() {
  if (FUpdateCount <= 0) return;
  --FUpdateCount;
  if (FUpdateCount == 0) SetUpdateState(false);
}

// ---------------------------------------------------------------------------------------------
// TStringList

void TStringList::CheckIndex(int Index, bool AllowEnd) const {
  int limit = AllowEnd ? Count() : Count() - 1;
  if (Index < 0 || Index > limit) throw EStringListError(Format(SListIndexError, {int64_t(Index)}));
}

std::string TStringList::Get(int Index) const {
  CheckIndex(Index);
  return FItems[static_cast<size_t>(Index)].S;
}

void TStringList::Put(int Index, const std::string& S) {
  if (FSorted) throw EStringListError(SSortedListError);
  CheckIndex(Index);
  Changing();
  FItems[static_cast<size_t>(Index)].S = S;
  Changed();
}

TObject* TStringList::GetObject(int Index) const {
  CheckIndex(Index);
  return FItems[static_cast<size_t>(Index)].Obj;
}

void TStringList::PutObject(int Index, TObject* AObject) {
  CheckIndex(Index);
  Changing();
  FItems[static_cast<size_t>(Index)].Obj = AObject;
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  Changing();
  FItems.clear();
  Changed();
}

void TStringList::Delete(int Index) {
  CheckIndex(Index);
  Changing();
  FItems.erase(FItems.begin() + Index);
  Changed();
}

void TStringList::Insert(int Index, const std::string& S) { InsertObject(Index, S, nullptr); }

void TStringList::InsertObject(int Index, const std::string& S, TObject* AObject) {
  if (FSorted) throw EStringListError(SSortedListError);
  CheckIndex(Index, true);
  InsertItem(Index, S, AObject);
}

void TStringList::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  // Everything is checked before the item leaves its place, so a refused move loses nothing.
  CheckIndex(CurIndex, false);
  CheckIndex(NewIndex, false);
  if (FSorted) throw EStringListError(SSortedListError);
  Changing();
  TItem item = std::move(FItems[CurIndex]);
  FItems.erase(FItems.begin() + CurIndex);
  FItems.insert(FItems.begin() + NewIndex, std::move(item));
  Changed();
}

void TStringList::InsertItem(int Index, const std::string& S, TObject* AObject) {
  Changing();
  FItems.insert(FItems.begin() + Index, TItem{S, AObject});
  Changed();
}

int TStringList::Add(const std::string& S) { return AddObject(S, nullptr); }

int TStringList::AddObject(const std::string& S, TObject* AObject) {
  int index;
  if (!FSorted) {
    index = Count();
  } else if (Find(S, index)) {
    switch (FDuplicates) {
      case dupIgnore: return index;
      case dupError: throw EStringListError(SDuplicateString);
      case dupAccept: break;
    }
  }
  InsertItem(index, S, AObject);
  return index;
}

int TStringList::IndexOf(std::string_view S) const {
  if (!FSorted) {
    for (int i = 0; i < Count(); ++i)
      if (CompareStrings(FItems[static_cast<size_t>(i)].S, S) == 0) return i;
    return -1;
  }
  int i;
  return Find(S, i) ? i : -1;
}

void TStringList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  Changing();
  std::swap(FItems[static_cast<size_t>(Index1)], FItems[static_cast<size_t>(Index2)]);
  Changed();
}

void TStringList::Assign(const TStrings& Source) { TStrings::Assign(Source); }

void TStringList::SetText(std::string_view Value) { TStrings::SetText(Value); }

bool TStringList::Find(std::string_view S, int& Index) const {
  bool result = false;
  int l = 0, h = Count() - 1;
  while (l <= h) {
    int i = (l + h) / 2;
    int c = CompareStrings(FItems[static_cast<size_t>(i)].S, S);
    if (c < 0) {
      l = i + 1;
    } else {
      h = i - 1;
      if (c == 0) {
        result = true;
        if (FDuplicates != dupAccept) l = i;
      }
    }
  }
  Index = l;
  return result;
}

void TStringList::Sort() {
  CustomSort([](TStringList* List, int A, int B) {
    return List->CompareStrings(List->FItems[static_cast<size_t>(A)].S, List->FItems[static_cast<size_t>(B)].S);
  });
}

void TStringList::CustomSort(const TStringListSortCompare& Compare) {
  if (FSorted || Count() <= 1) return;
  Changing();
  QuickSort(0, Count() - 1, Compare);
  Changed();
}

void TStringList::QuickSort(int L, int R, const TStringListSortCompare& Compare) {
  // Insertion-stable merge through indexes: equal strings keep their order.
  std::vector<int> idx;
  for (int i = L; i <= R; ++i) idx.push_back(i);
  std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) { return Compare(this, a, b) < 0; });
  std::vector<TItem> sorted;
  sorted.reserve(idx.size());
  for (int i : idx) sorted.push_back(FItems[static_cast<size_t>(i)]);
  std::move(sorted.begin(), sorted.end(), FItems.begin() + L);
}

void TStringList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  if (Value) Sort();
  FSorted = Value;
}

void TStringList::Changed() {
  if (GetUpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (GetUpdateCount() == 0 && OnChanging) OnChanging(this);
}

// Goes through the virtual notifications, so that a derived list sees the start and end of an update.
void TStringList::SetUpdateState(bool Updating) {
  if (Updating)
    Changing();
  else
    Changed();
}
