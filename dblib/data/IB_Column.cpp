// TIB_Column: null state, old values, the change protocol, names, attributes and the text-based
// defaults of the typed getters and setters. Display settings and masks are in IB_ColumnDisplay.cpp.
#include "dblib/data/IB_Column.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Errors.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_MaskEnh.h"
#include "dblib/data/IB_Row.h"
#include "dblib/data/IB_RowNames.h"
#include "platform/ScopeGuards.h"

TIB_Column::TIB_Column(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR)
    : FRow(ARow), FFieldNo(AFieldNo), FPSQLVAR(APSQLVAR) {
  FBlankIsNull = HasAttribute("BLANKISNULL");
  FIsBoolean = HasAttribute("BOOLEAN");
  if (FIsBoolean) {
    bool found = false;
    const std::string param = GetAttributeParam("BOOLEAN", found);
    const size_t comma = param.find(',');
    if (comma != std::string::npos && comma > 0) {
      FTrueText = Trim(param.substr(0, comma));
      FFalseText = Trim(param.substr(comma + 1));
    }
  }
  ResetAlignment();
}

void TIB_Column::ResetAlignment() {
  switch (GetSQLType() & ~1) {
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_LONG:
    case SQL_SHORT:
    case SQL_QUAD:
    case SQL_INT64: FAlignment = 1; break;
    default: FAlignment = 0;
  }
  if (FIsBoolean) FAlignment = 2;
}

TIB_Column::~TIB_Column() { FAlive.Clear(); }

TIB_RowStatement* TIB_Column::GetStatement() const {
  TIB_RowStatement* st = FRow ? FRow->GetStatement() : nullptr;
  if (!st) return nullptr;
  TIB_RowStatement* owner = st->GetOwningStatement();
  return owner ? owner : st;
}

// ---- buffer access --------------------------------------------------------------------------------

void TIB_Column::TakeOldValues() const noexcept {
  if (FRow) FRow->TakeOldValues();
}

void TIB_Column::SetNullInd(int16_t Value) {
  if (uint8_t* slot = FReadingOld ? FOldSlot : FSlot) std::memcpy(slot, &Value, 2);
}

uint16_t TIB_Column::GetVarLength() const {
  const uint8_t* data = Data();
  if (!data || !IsVarChar() || NullInd() == -1) return 0;
  uint16_t len;
  std::memcpy(&len, data, 2);
  const uint16_t max = static_cast<uint16_t>(std::max<int16_t>(GetSQLLen(), 0));
  return len > max ? max : len;
}

void TIB_Column::SetVarLength(uint16_t Value) {
  uint8_t* data = Data();
  if (!data || !IsVarChar()) return;
  const uint16_t max = static_cast<uint16_t>(std::max<int16_t>(GetSQLLen(), 0));
  if (Value > max) Value = max;
  std::memcpy(data, &Value, 2);
}

void TIB_Column::FillPad() {
  uint8_t* data = Data();
  if (!data) return;
  if (IsVarChar()) {
    const uint16_t zero = 0;
    std::memcpy(data, &zero, 2);
    std::memset(data + 2, FPadChar, DataSize() - 2);
  } else {
    std::memset(data, FPadChar, DataSize());
  }
}

// ---- names ----------------------------------------------------------------------------------------

static int DialectOf(const TIB_Column& Column) {
  TIB_RowStatement* st = Column.GetRow() ? Column.GetRow()->GetStatement() : nullptr;
  return st ? st->GetSQLDialect() : 3;
}

std::string TIB_Column::GetSQLName() const {
  std::string name = FormatSQLName(DialectOf(*this), XSQLVARText(FPSQLVAR->sqlname, FPSQLVAR->sqlname_length));
  if (CompareText(name, "DB_KEY") == 0) name = "RDB$DB_KEY";
  return name;
}

std::string TIB_Column::GetRelName() const {
  return FormatSQLName(DialectOf(*this), XSQLVARText(FPSQLVAR->relname, FPSQLVAR->relname_length));
}

std::string TIB_Column::GetColumnName() const {
  const int dialect = DialectOf(*this);
  std::string name = FormatSQLName(dialect, XSQLVARText(FPSQLVAR->aliasname, FPSQLVAR->aliasname_length));
  if (name.empty() && dialect < 3) name = "COLUMN" + std::to_string(FFieldNo);
  return name;
}

std::string TIB_Column::GetFullName() const {
  const std::string rel = GetRelName();
  return rel.empty() ? GetColumnName() : rel + "." + GetColumnName();
}

std::string TIB_Column::GetBestName() const {
  return FRow && FRow->GetRelationCount() >= 2 ? GetFullName() : GetColumnName();
}

std::string TIB_Column::GetDomainName() {
  if (!FDomainNameKnown && FRow && FRow->GetRowType() == rtFields && !GetNoSourceField() &&
      CompareText(GetColumnName().substr(0, 4), "RDB$") != 0) {
    FDomainName = GetStatement()->GetFieldDomain(GetRelName(), GetSQLName());
    FDomainNameKnown = true;
  }
  return FDomainName;
}

bool TIB_Column::GetNoSourceField() const {
  if (!FRow || FRow->GetRowType() != rtFields) return false;
  const std::string sqlName = GetSQLName();
  return GetRelName().empty() || sqlName.empty() || sqlName == "DB_KEY" || sqlName == "RDB$DB_KEY";
}

bool TIB_Column::GetComputed() {
  if (FRow && FRow->GetRowType() == rtFields && HasAttribute("COMPUTED")) return true;
  if (GetNoSourceField()) return false;
  return GetStatement()->SchemaListContains(sclComputed, GetSQLName() + "," + GetRelName());
}

bool TIB_Column::GetIsDefaulted() {
  if (GetNoSourceField() || GetComputed()) return false;
  return GetStatement()->SchemaListContains(sclDefaulted, GetSQLName() + "," + GetRelName());
}

bool TIB_Column::GetIsIdentity() {
  if (!FRow || FRow->GetRowType() != rtFields || GetNoSourceField()) return false;
  // The engine's IDENTITY columns are NOT NULL whole numbers: no other column is asked about.
  const int type = GetSQLType() & ~1;
  if (GetIsNullable() || GetSQLScale() != 0 || (type != SQL_SHORT && type != SQL_LONG && type != SQL_INT64))
    return false;
  return GetStatement()->SchemaListContains(sclIdentity, GetSQLName() + "," + GetRelName());
}

bool TIB_Column::GetRequired() {
  // An IDENTITY column left empty gets its generator's value: the engine's NOT NULL asks nothing of the user.
  if (!GetIsNullable() && !GetNoSourceField() && !GetIsIdentity()) return !HasAttribute("NOTREQUIRED");
  return HasAttribute("REQUIRED");
}

bool TIB_Column::GetReadOnly() {
  if (FReadOnly || FSelectDerived) return true;
  bool result = false;
  GetStatement()->GetColumnReadOnly(*this, result);
  return result;
}

bool TIB_Column::GetPreventChange() {
  if (FPreventChange) return true;
  bool result = false;
  GetStatement()->GetColumnPreventChange(*this, result);
  return result;
}

// ---- null state -----------------------------------------------------------------------------------

void TIB_Column::SetNull(bool Value) {
  if (Value == GetIsNull()) return;
  BeforeModify();
  SetIsNull(Value);
  AfterModify();
}

void TIB_Column::SetIsNull(bool Value) {
  TakeOldValues();
  if (Value) {
    // A parameter described NOT NULL can only send a null once it is made nullable.
    if (FRow && FRow->GetRowType() == rtParams && !GetIsNullable()) {
      FPSQLVAR->sqltype |= 1;
      // Further occurrences of a shared parameter read the same indicator: they must send the null too.
      if (XSQLDA* da = FRow->GetPSQLDA(); da && FPSQLVAR->sqlind) {
        for (int i = 0; i < da->sqld; ++i) {
          if (da->sqlvar[i].sqlind == FPSQLVAR->sqlind) da->sqlvar[i].sqltype |= 1;
        }
      }
    }
    SetNullInd(-1);
    FillPad();
    return;
  }
  if (NullInd() == 0) return;
  SetNullInd(0);
  if (FIsBoolean) {
    const std::string text = GetAsBoolean() ? GetTrueText() : GetFalseText();
    if (GetAsString() != text) SetAsString(text);
  }
}

// ---- virtual defaults -----------------------------------------------------------------------------

int64_t TIB_Column::GetBlobSize() { return 0; }

bool TIB_Column::GetIsLoaded() { return true; }

bool TIB_Column::GetIsModified() {
  if (!FSlot || !FOldSlot) return false;
  TakeOldValues();
  // Values, not bytes: the data of a null value and the bytes past a VARCHAR's length are leftovers of
  // whatever the buffer held before.
  const bool isNull = IndAt(FSlot) == -1;
  if (isNull != (IndAt(FOldSlot) == -1)) return true;
  if (isNull) return false;
  const uint8_t* now = FSlot + 2;
  const uint8_t* old = FOldSlot + 2;
  if (!IsVarChar()) return std::memcmp(now, old, DataSize()) != 0;
  const size_t limit = FPSQLVAR->sqllen > 0 ? static_cast<size_t>(FPSQLVAR->sqllen) : 0;
  uint16_t nowLen, oldLen;
  std::memcpy(&nowLen, now, 2);
  std::memcpy(&oldLen, old, 2);
  const size_t n = std::min<size_t>(nowLen, limit), o = std::min<size_t>(oldLen, limit);
  return n != o || std::memcmp(now + 2, old + 2, n) != 0;
}

std::string TIB_Column::GetOldAsString() {
  if (OldNullInd() == -1) return std::string();
  // The column reads the old record buffer for the length of the read.
  TValueRestorer<bool> old(FReadingOld, true);
  return GetAsString();
}

Variant TIB_Column::GetOldAsVariant() {
  if (OldNullInd() == -1) return Variant::Null();
  TValueRestorer<bool> old(FReadingOld, true);
  return GetAsVariant();
}

std::string TIB_Column::GetXmlName() const { return LowerCase(GetColumnName()); }

std::string TIB_Column::GetAsXml() {
  const std::string name = GetXmlName();
  return "<" + name + ">" + sLineBreak + GetAsString() + sLineBreak + "</" + name + ">" + sLineBreak;
}

std::u16string TIB_Column::GetAsRawText() { return std::u16string(); }

TDateTime TIB_Column::GetAsDate() {
  const std::string text = GetAsString();
  if (Trim(text).empty()) return 0;
  return std::trunc(StrToDateTime(text));
}

TDateTime TIB_Column::GetAsDateTime() {
  const std::string text = GetAsString();
  if (Trim(text).empty()) return 0;
  return StrToDateTime(text);
}

std::string TIB_Column::GetAsTimestampText() {
  const std::string text = GetAsString();
  if (text.empty()) return text;
  TimestampTextToDateTime(text);
  return text;
}

int32_t TIB_Column::GetAsInteger() {
  const std::string text = Trim(GetAsString());
  return text.empty() ? 0 : StrToInt(text);
}

double TIB_Column::GetAsFloat() {
  const std::string text = Trim(GetAsString());
  return text.empty() ? 0 : static_cast<double>(StrToFloat(text));
}

int16_t TIB_Column::GetAsSmallint() {
  const std::string text = Trim(GetAsString());
  if (text.empty()) return 0;
  const int64_t value = StrToInt64(text);
  if (value < INT16_MIN || value > INT16_MAX) IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
  return static_cast<int16_t>(value);
}

double TIB_Column::GetAsDouble() { return GetAsFloat(); }

Currency TIB_Column::GetAsCurrency() {
  const std::string text = Trim(GetAsString());
  if (text.empty()) return Currency();
  const long double value = StrToFloat(text);
  // The column's refusal, not the currency type's own overflow.
  if (!(std::fabs(value) * 10000 < 9223372036854775807.0L)) IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
  return Currency(value);
}

int64_t TIB_Column::GetAsComp() {
  const std::string text = Trim(GetAsString());
  if (text.empty()) return 0;
  const long double value = std::nearbyint(StrToFloat(text));
  if (!(value >= -9223372036854775808.0L && value < 9223372036854775808.0L)) {
    IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
  }
  return static_cast<int64_t>(value);
}

long double TIB_Column::GetAsExtended() {
  const std::string text = Trim(GetAsString());
  return text.empty() ? 0 : StrToFloat(text);
}

Variant TIB_Column::GetAsVariant() {
  if (GetIsNull()) return Variant::Null();
  const bool scaled = GetSQLScale() != 0;
  switch (GetSQLType() & ~1) {
    case SQL_VARYING:
    case SQL_TEXT:
    case SQL_BLOB: return Variant(GetAsString());
    case SQL_DOUBLE: return Variant(GetAsDouble());
    case SQL_FLOAT: return Variant(static_cast<double>(GetAsFloat()));
    case SQL_LONG: return scaled ? Variant(GetAsExtended()) : Variant(GetAsInteger());
    case SQL_SHORT: return scaled ? Variant(GetAsExtended()) : Variant(GetAsSmallint());
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIME: return Variant::FromDate(GetAsDateTime());
    case SQL_TYPE_DATE: return Variant::FromDate(GetAsDate());
    case SQL_QUAD:
    case SQL_INT64: return scaled ? Variant(GetAsExtended()) : Variant::FromDecimal(GetAsInt64());
    default: IB_Raise<EIB_Error>(IBMsg::UnsupportedColumnType, {int64_t(GetSQLType())});
  }
}

void TIB_Column::SetAsRawText(const std::u16string&) {}

void TIB_Column::SetAsDate(TDateTime Value) { SetAsString(DateTimeToStr(std::trunc(Value))); }

void TIB_Column::SetAsDateTime(TDateTime Value) { SetAsString(DateTimeToStr(Value)); }

void TIB_Column::SetAsTimestampText(const std::string& Value) {
  TimestampTextToDateTime(Value);
  SetAsString(Value);
}

void TIB_Column::SetAsInteger(int32_t Value) { SetAsString(IntToStr(Value)); }

void TIB_Column::SetAsFloat(double Value) { SetAsString(FloatToStr(Value)); }

void TIB_Column::SetAsSmallint(int16_t Value) { SetAsString(IntToStr(Value)); }

void TIB_Column::SetAsDouble(double Value) { SetAsFloat(Value); }

void TIB_Column::SetAsCurrency(Currency Value) { SetAsString(FloatToStr(Value.ToExtended())); }

// The decimal text of the whole number: the same as its float text, without losing digits past 15.
void TIB_Column::SetAsComp(int64_t Value) { SetAsString(IntToStr(Value)); }

void TIB_Column::SetAsExtended(long double Value) { SetAsString(FloatToStr(Value)); }

void TIB_Column::SetAsVariant(const Variant& Value) {
  if (VarIsEmpty(Value) || VarIsNull(Value)) {
    if (!GetIsNull()) SetNull(true);
    return;
  }
  // Convert first and store through the typed setter, which clears the null flag itself: a value that
  // does not convert leaves the column as it was, null included.
  const bool wasNull = GetIsNull();
  const uint16_t vt = VarType(Value) & varTypeMask;
  if (vt == varString || vt == varOleStr) {
    const std::string text = Value.AsString();
    if (wasNull || GetAsString() != text) SetAsString(text);
    return;
  }
  const bool scaled = GetSQLScale() != 0;
  switch (GetSQLType() & ~1) {
    case SQL_VARYING:
    case SQL_TEXT:
    case SQL_BLOB: {
      const std::string text = VarToStr(Value);
      if (wasNull || GetAsString() != text) SetAsString(text);
      break;
    }
    case SQL_DOUBLE: {
      const double v = Value.AsDouble();
      if (wasNull || GetAsDouble() != v) SetAsDouble(v);
      break;
    }
    case SQL_FLOAT: {
      const double v = Value.AsDouble();
      if (wasNull || GetAsFloat() != v) SetAsFloat(v);
      break;
    }
    case SQL_LONG:
      if (scaled) {
        const long double v = Value.AsExtended();
        if (wasNull || GetAsExtended() != v) SetAsExtended(v);
      } else {
        const int32_t v = Value.AsInteger();
        if (wasNull || GetAsInteger() != v) SetAsInteger(v);
      }
      break;
    case SQL_SHORT:
      if (scaled) {
        const long double v = Value.AsExtended();
        if (wasNull || GetAsExtended() != v) SetAsExtended(v);
      } else {
        const int16_t v = Value.AsSmallint();
        if (wasNull || GetAsSmallint() != v) SetAsSmallint(v);
      }
      break;
    case SQL_TIMESTAMP: {
      const TDateTime v = Value.AsDate();
      if (wasNull || GetAsDateTime() != v) SetAsDateTime(v);
      break;
    }
    case SQL_TYPE_TIME: {
      const TDateTime v = Value.AsDate();
      const TDateTime t = v - std::trunc(v);
      if (wasNull || GetAsDateTime() != t) SetAsDateTime(t);
      break;
    }
    case SQL_TYPE_DATE: {
      const TDateTime d = std::trunc(Value.AsDate());
      if (wasNull || GetAsDate() != d) SetAsDate(d);
      break;
    }
    case SQL_QUAD:
    case SQL_INT64:
      if (scaled) {
        const long double v = Value.AsExtended();
        if (wasNull || GetAsExtended() != v) SetAsExtended(v);
      } else {
        int64_t v;
        if (vt == varDecimal || vt == varInt64) {
          v = Value.AsInt64();
        } else {
          const long double x = std::trunc(Value.AsExtended());
          if (!(x >= -9223372036854775808.0L && x < 9223372036854775808.0L))
            IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
          v = static_cast<int64_t>(x);
        }
        if (wasNull || GetAsInt64() != v) SetAsInt64(v);
      }
      break;
    default: IB_Raise<EIB_Error>(IBMsg::UnsupportedColumnType, {int64_t(GetSQLType())});
  }
}

bool TIB_Column::GetIsChanged() {
  if (!FSavedValue || !FSlot) return false;
  return std::memcmp(FSavedValue.get(), FSlot, DataSize() + 2) != 0;
}

void TIB_Column::Clear() { SetNull(true); }

void TIB_Column::SetFromBuffer(const void* Buffer, int Count) {
  if (Count <= 0 || !Buffer) {
    SetAsString(std::string());
    return;
  }
  SetAsString(std::string(static_cast<const char*>(Buffer), static_cast<size_t>(Count)));
}

void TIB_Column::Perform(int32_t Code) {
  if (Code == cnColumnReserved1 || Code == cnColumnReserved2) IB_Raise<Exception>(IBMsg::NotImplementedAtThisLevel);
}

bool TIB_Column::GetScaledValue(int64_t&, int&) { return false; }

// ---- further typed access -------------------------------------------------------------------------

std::string TIB_Column::GetTrueText() const {
  if (FTrueText.empty() && FFalseText.empty()) {
    if (FIsNumericKind) return "1";
    if (FIsTextKind) return "T";
    return std::string();
  }
  return FTrueText;
}

std::string TIB_Column::GetFalseText() const {
  if (FTrueText.empty() && FFalseText.empty()) {
    if (FIsNumericKind) return "0";
    if (FIsTextKind) return "F";
    return std::string();
  }
  return FFalseText;
}

bool TIB_Column::GetAsBoolean() {
  if (GetIsNull()) return false;
  return CompareText(Trim(GetAsString()), GetTrueText()) == 0;
}

void TIB_Column::SetAsBoolean(bool Value) { SetAsString(Value ? GetTrueText() : GetFalseText()); }

int64_t TIB_Column::GetAsInt64() {
  const std::string text = Trim(GetAsString());
  return text.empty() ? 0 : StrToInt64(text);
}

void TIB_Column::SetAsInt64(int64_t Value) { SetAsString(IntToStr(Value)); }

// ---- raw data -------------------------------------------------------------------------------------

std::string TIB_Column::GetColData() const {
  if (!FRow || (!FRow->GetIsKeyRow() && FRow->GetRowState() == rsNone) || GetIsNull()) return std::string();
  const uint8_t* data = Data();
  if (!data) return std::string();
  std::string bytes(reinterpret_cast<const char*>(data), DataSize());
  if (IsVarChar()) {
    // Never hand out a length beyond the declared size.
    const uint16_t len = GetVarLength();
    std::memcpy(bytes.data(), &len, 2);
  }
  return bytes;
}

void TIB_Column::SetColData(const std::string& Bytes) {
  TakeOldValues();
  if (Bytes.empty()) {
    SetNullInd(-1);
    return;
  }
  if (Bytes.size() != DataSize()) IB_Raise<EIB_ColumnError>(IBMsg::InvalidColData);
  uint8_t* data = Data();
  if (!data) return;
  SetNullInd(0);
  std::memcpy(data, Bytes.data(), Bytes.size());
  if (IsVarChar()) SetVarLength(GetVarLength());
}

void TIB_Column::Revert() {
  if (!GetIsModified()) return;
  const Variant old = GetOldAsVariant();
  if (VarIsEmpty(old) || VarIsNull(old)) {
    Clear();
  } else {
    SetAsVariant(old);
  }
}

void TIB_Column::ApplyTrimming(std::string& Text, int Kind) {
  switch (Kind) {
    case 1: {
      Text = Trim(Text);
      if (Text.size() >= 3) std::erase(Text, ' ');
      break;
    }
    case 2: Text = Trim(Text); break;
    case 3: Text = TrimLeft(Text); break;
    case 4: Text = TrimRight(Text); break;
    case 5: {
      Text = Trim(Text);
      std::string out;
      out.reserve(Text.size());
      for (char c : Text) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out.push_back(c);
      }
      Text = out;
      break;
    }
    default: break;
  }
}

// ---- change protocol ------------------------------------------------------------------------------

void TIB_Column::BeforeModify() {
  // The change writes the current record: the old one takes its copy first when it is still due.
  TakeOldValues();
  const size_t size = DataSize() + 2;
  if (!FSavedValue) FSavedValue.reset(new uint8_t[size]());
  if (FInModify) return;
  if (OnBeforeModify) IB_CallOut(FAlive, OnBeforeModify, this);
  // Only a calculated column (negative number) asks its statement whether it is being calculated.
  if (FFieldNo >= 0) {
    if (!FRow->GetChangesUnheard()) FRow->NotifyBeforeChange(this);
  } else if (TIB_RowStatement* st = GetStatement(); !(st && st->GetCalculatingFields())) {
    FRow->NotifyBeforeChange(this);
  }
  // The old value, for GetIsChanged.
  if (FSlot) std::memcpy(FSavedValue.get(), FSlot, size);
}

void TIB_Column::CheckWrite() {
  if (FFieldNo < 0 || !FRow || FRow->GetRowType() != rtFields) return;
  if (TIB_RowStatement* st = GetStatement()) st->CheckFieldWrite(*this);
}

void TIB_Column::AfterModify() {
  // A change nobody hears beyond this column's own events skips the row's notices (a parameter of a
  // statement without links or handlers for it).
  bool unheard;
  const TIB_AliveFlag alive = FAlive;
  if (!FInModify) {
    const TIB_AliveRestorer<bool> inModify(alive, FInModify, true);
    if (OnValidate) IB_CallOut(alive, OnValidate, this);
    unheard = FRow->GetChangesUnheard();
    if (!unheard) {
      if (TIB_RowStatement* st = GetStatement()) st->DoValidateField(*FRow, *this);
      IB_CheckAlive(alive);
    }
  } else {
    unheard = FRow->GetChangesUnheard();
  }
  if (unheard) {
    FRow->NoteUnheardChange();
  } else {
    FRow->NotifyColumnChanged(this);
  }
  // Changed against the value saved before the change: only asked when someone listens.
  if (OnAfterModify && GetIsChanged()) IB_CallOut(alive, OnAfterModify, this);
}

bool TIB_Column::BeginUnheardModify() {
  // Nothing of this column's runs between here and EndUnheardModify, so the row's answer cannot change
  // before AfterModify would ask it again.
  if (FInModify || FFieldNo < 0 || FIsBoolean || OnBeforeModify || OnValidate || OnAfterModify) return false;
  if (!FRow->GetChangesUnheard()) return false;
  TakeOldValues();  // as BeforeModify
  const size_t size = DataSize() + 2;
  if (!FSavedValue) FSavedValue.reset(new uint8_t[size]());
  if (FSlot) CopyBytes(FSavedValue.get(), FSlot, size);
  return true;
}

void TIB_Column::EndUnheardModify() { FRow->NoteUnheardChange(); }

// ---- attributes -----------------------------------------------------------------------------------

namespace {

bool FindAttribute(TIB_RowStatement& St, TIB_AttributeLevel Level, const std::string& Key, const std::string& Attr,
                   std::string& Value) {
  Value.clear();
  if (Key.empty()) return false;
  const std::string text = St.GetColumnAttributesValue(Level, Key);
  if (text.empty()) return false;
  int32_t namePos = 0, endPos = 0;
  ParseAttributeText(text, Attr, namePos, Value, endPos);
  return namePos != 0;
}

}  // namespace

bool TIB_Column::HasAttribute(const std::string& Name) {
  TIB_RowStatement* st = FRow ? FRow->GetStatement() : nullptr;
  if (!st) return false;
  std::string negation;
  if (CompareText(Name, "BOOLEAN") != 0 && !FIsBoolean) {
    if (CompareText(Name, "NOCASE") == 0 && st->GetDefaultNoCase()) negation = "YESCASE";
    if (CompareText(Name, "NOTRAILING") == 0 && st->GetDefaultNoTrailing()) negation = "YESTRAILING";
  }
  std::string value;
  // One level: the negation wins over the name; a level with neither leaves the question open.
  auto level = [&](TIB_AttributeLevel Level, const std::string& Key, bool& Answer) {
    if (!negation.empty() && FindAttribute(*st, Level, Key, negation, value)) {
      Answer = false;
      return true;
    }
    if (FindAttribute(*st, Level, Key, Name, value)) {
      Answer = true;
      return true;
    }
    return false;
  };
  bool answer = false;
  if (level(alStatement, GetBestName(), answer)) return answer;
  if (st->HasConnectionColumnAttributes()) {
    if (level(alConnection, GetFullName(), answer)) return answer;
    if (st->GetDomainNameEntries() && FRow->GetRowType() == rtFields) {
      const std::string domain = GetDomainName();
      if (!domain.empty() && level(alConnection, domain, answer)) return answer;
    }
  }
  return !negation.empty();
}

std::string TIB_Column::GetAttributeParam(const std::string& Name, bool& Found) {
  Found = false;
  TIB_RowStatement* st = FRow ? FRow->GetStatement() : nullptr;
  std::string value;
  if (!st) return value;
  if ((Found = FindAttribute(*st, alStatement, GetBestName(), Name, value))) return value;
  if (st->HasConnectionColumnAttributes()) {
    if ((Found = FindAttribute(*st, alConnection, GetFullName(), Name, value))) return value;
    if (st->GetDomainNameEntries() && FRow->GetRowType() == rtFields) {
      const std::string domain = GetDomainName();
      if (!domain.empty() && (Found = FindAttribute(*st, alConnection, domain, Name, value))) return value;
    }
  }
  return std::string();
}

void TIB_Column::InitDateTimeFormats() {
  bool found = false;
  FDateOnlyFormat.clear();
  FTimeOnlyFormat.clear();
  if (HasAttribute("NOTIME")) {
    const std::string param = GetAttributeParam("NOTIME", found);
    FDateOnlyFormat = !param.empty()            ? param
                      : !FDisplayFormat.empty() ? FDisplayFormat
                                                : FormatSettings.ShortDateFormat;
  }
  if (HasAttribute("NODATE")) {
    const std::string param = GetAttributeParam("NODATE", found);
    FTimeOnlyFormat = !param.empty()            ? param
                      : !FDisplayFormat.empty() ? FDisplayFormat
                                                : FormatSettings.ShortTimeFormat;
  }
}

// ---- assignment -----------------------------------------------------------------------------------

void TIB_Column::Assign(TObject* Source) {
  auto* src = dynamic_cast<TIB_Column*>(Source);
  if (!src) {
    IB_Raise<EIB_ColumnError>(IBMsg::CannotAssignTo, {IB_ClassName(Source)});
  }
  if (src->GetIsNull()) {
    if (!GetIsNull()) SetNull(true);
    return;
  }
  // The typed setters clear the null flag themselves: a value that does not convert leaves a null column
  // null instead of turning it into an empty value first.
  const bool wasNull = GetIsNull();
  if (FIsBoolean && src->GetIsBoolean()) {
    const bool v = src->GetAsBoolean();
    if (wasNull || GetAsBoolean() != v) SetAsBoolean(v);
  } else if (FIsDateTimeKind || GetNoTime() || GetNoDate()) {
    const TDateTime v = src->GetAsDateTime();
    if (wasNull || GetAsDateTime() != v) SetAsDateTime(v);
  } else if (FIsArrayKind || src->GetIsArrayKind()) {
    SetAsVariant(src->GetAsVariant());
  } else {
    const std::string v = src->GetAsString();
    if (wasNull || GetAsString() != v) SetAsString(v);
  }
}

void TIB_Column::AssignTo(TObject* Dest) {
  if (auto* col = dynamic_cast<TIB_Column*>(Dest)) {
    col->Assign(this);
    return;
  }
  if (auto* list = dynamic_cast<TStrings*>(Dest)) {
    list->SetText(GetAsString());
    return;
  }
  IB_Raise<EIB_ColumnError>(IBMsg::CannotAssignFrom, {IB_ClassName(Dest)});
}
