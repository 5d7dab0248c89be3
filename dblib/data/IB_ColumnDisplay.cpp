// TIB_Column: labels, widths, type texts, display text, column order and edit masks.
#include <algorithm>
#include <cctype>
#include <cmath>

#include "dblib/sql/IB_Parse.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_MaskEnh.h"
#include "dblib/data/IB_Row.h"

namespace {

int DialectOf(const TIB_Column& Column) {
  TIB_RowStatement* st = Column.GetRow() ? Column.GetRow()->GetStatement() : nullptr;
  return st ? st->GetSQLDialect() : 3;
}

bool StartsWithMaskTag(const std::string& Mask) { return Mask.size() >= 2 && Mask.compare(0, 2, "::") == 0; }

// Replaces every Tag (matched case-insensitively) by Ch.
std::string ReplaceTag(const std::string& Text, const char* Tag, char Ch) {
  std::string out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size();) {
    if (i + 1 < Text.size() && Text[i] == Tag[0] && std::tolower(static_cast<unsigned char>(Text[i + 1])) == Tag[1]) {
      out.push_back(Ch);
      i += 2;
    } else {
      out.push_back(Text[i++]);
    }
  }
  return out;
}

}  // namespace

std::string TIB_Column::GetDisplayLabel() const {
  if (FDisplayLabel == "-") return std::string();
  if (FDisplayLabel == "/-") return "-";
  if (!FDisplayLabel.empty()) return FDisplayLabel;
  std::string name = GetColumnName();
  if (DialectOf(*this) >= 3) {
    std::string stripped;
    StripQuotes(name, stripped);
    return stripped;
  }
  std::replace(name.begin(), name.end(), '_', ' ');
  return name;
}

std::string TIB_Column::GetGridLabel() const {
  if (FGridLabel == "-") return std::string();
  if (FGridLabel == "/-") return "-";
  return FGridLabel.empty() ? GetDisplayLabel() : FGridLabel;
}

int TIB_Column::GetDefaultWidth() {
  const int labelLength = static_cast<int>(Trim(GetDisplayLabel()).size());
  int width;
  switch (GetSQLType() & ~1) {
    case SQL_TIMESTAMP:
    case SQL_QUAD:
    case SQL_INT64: width = 16; break;
    default: width = GetSQLLen();
  }
  const int pixels = std::max(width, labelLength) * 8;
  return std::clamp(pixels, 70, 200);
}

int TIB_Column::GetDisplayWidth() { return FDisplayWidthSetting >= 0 ? FDisplayWidthSetting : GetDefaultWidth(); }

void TIB_Column::SetDisplayWidth(int Value) {
  if (Value == GetDisplayWidth()) return;
  TIB_RowStatement* st = GetStatement();
  if (Value == GetDefaultWidth()) {
    FDisplayWidthSetting = -1;
    if (st) st->SetFieldsListValue(flDisplayWidth, GetBestName(), std::string());
  } else {
    FDisplayWidthSetting = Value;
    if (st) st->SetFieldsListValue(flDisplayWidth, GetBestName(), IntToStr(Value));
  }
}

std::string TIB_Column::GetSQLTypeSource() {
  const int type = GetSQLType() & ~1;
  std::string result;
  if (GetSQLScale() != 0) {
    const std::string d = std::to_string(-GetSQLScale());
    switch (type) {
      case SQL_SHORT: result = "DECIMAL ( 4, " + d + " )"; break;
      case SQL_LONG: result = "DECIMAL ( 9, " + d + " )"; break;
      case SQL_FLOAT: result = "NUMERIC ( 9, " + d + " )"; break;
      case SQL_DOUBLE: result = "NUMERIC ( 15, " + d + " )"; break;
      case SQL_QUAD:
      case SQL_INT64: result = "DECIMAL ( 18, " + d + " )"; break;
      default: break;
    }
  } else {
    const std::string len = std::to_string(GetSQLLen());
    switch (type) {
      case SQL_VARYING: result = "VARCHAR( " + len + " )"; break;
      case SQL_TEXT: result = "CHAR( " + len + " )"; break;
      case SQL_DOUBLE: result = "DOUBLE PRECISION"; break;
      case SQL_FLOAT: result = "FLOAT"; break;
      case SQL_LONG: result = "INTEGER"; break;
      case SQL_SHORT: result = "SMALLINT"; break;
      case SQL_TIMESTAMP: result = DialectOf(*this) < 3 ? "DATE" : "TIMESTAMP"; break;
      case SQL_BLOB: result = "BLOB( 65535, " + std::to_string(GetSQLSubType()) + " )"; break;
      case SQL_QUAD:
      case SQL_INT64: result = "DECIMAL ( 18, 0 )"; break;
      case SQL_TYPE_TIME: result = "TIME"; break;
      case SQL_TYPE_DATE: result = "DATE"; break;
      default: break;
    }
  }
  if (FFieldNo < 0) result += " /* CLIENT CALCULATED */";
  return result;
}

std::string TIB_Column::GetDisplayText() {
  if (GetIsNull()) return std::string();
  int64_t scaled = 0;
  int scale = 0;
  if (!FDisplayFormat.empty()) {
    if (FIsNumericKind) {
      return GetScaledValue(scaled, scale) ? FormatScaled(FDisplayFormat, scaled, scale)
                                           : FormatFloat(FDisplayFormat, GetAsExtended());
    }
    if (FIsDateTimeKind) return FormatDateTime(FDisplayFormat, GetAsDateTime());
    return FormatMaskedText(GetAsString());
  }
  if (GetMaskActive()) return FormatMaskedText(GetAsString());
  if (FCurrencyDisplay) {
    // As many decimals as the column has; an unscaled column takes the locale's currency decimals.
    const int digits = GetSQLScale() < 0 ? -GetSQLScale() : FormatSettings.CurrencyDecimals;
    return GetScaledValue(scaled, scale) ? ScaledToStrF(scaled, scale, ffCurrency, digits)
                                         : FloatToStrF(GetAsExtended(), ffCurrency, 18, digits);
  }
  return GetAsString();
}

int TIB_Column::GetIndex() const { return FRow ? FRow->IndexOfColumn(this) : -1; }

void TIB_Column::SetIndex(int Value) {
  if (!FRow) return;
  const int count = FRow->GetColumnCount();
  if (count == 0) return;
  Value = std::clamp(Value, 0, count - 1);
  const int current = GetIndex();
  if (current < 0 || current == Value) return;
  FRow->MoveColumn(current, Value);
  if (FRow->GetRowType() == rtFields) {
    if (TIB_RowStatement* st = GetStatement()) st->ColumnOrderChanged(*FRow);
  }
}

int TIB_Column::GetOrderingItemNo() {
  if (FOrderingItemNo < -1) {
    int32_t result = -1;
    TIB_RowStatement* st = GetStatement();
    std::string entry;
    if (st && st->FindOrderingLink(GetBestName(), entry)) {
      int32_t namePos = 0, endPos = 0;
      std::string item;
      ParseAttributeText(entry, "ITEM", namePos, item, endPos);
      int32_t n = 0;
      if (TryStrToInt(Trim(namePos != 0 ? item : entry), n)) result = n < 0 ? -n : n;
    }
    FOrderingItemNo = result;
  }
  return FOrderingItemNo;
}

bool TIB_Column::IsValidChar(char Ch) const {
  const bool digit = Ch >= '0' && Ch <= '9';
  const bool sign = Ch == '+' || Ch == '-';
  const bool letter = std::isalpha(static_cast<unsigned char>(Ch)) != 0;
  const int type = GetSQLType() & ~1;
  const bool integerType = type == SQL_LONG || type == SQL_SHORT || type == SQL_QUAD || type == SQL_INT64;
  if (GetSQLScale() != 0 && (integerType || type == SQL_DOUBLE || type == SQL_FLOAT)) {
    return sign || digit || Ch == FormatSettings.DecimalSeparator;
  }
  switch (type) {
    case SQL_DOUBLE:
    case SQL_FLOAT: {
      const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(Ch)));
      return Ch == ' ' || sign || digit || up == 'E' || up == 'I' || up == 'N' || up == 'T' ||
             Ch == FormatSettings.DecimalSeparator;
    }
    case SQL_LONG:
    case SQL_SHORT:
    case SQL_QUAD:
    case SQL_INT64: return sign || digit;
    case SQL_TYPE_TIME: return Ch == ' ' || digit || letter || Ch == FormatSettings.TimeSeparator;
    case SQL_TYPE_DATE: return Ch == ' ' || digit || letter || Ch == FormatSettings.DateSeparator;
    case SQL_TIMESTAMP:
      return Ch == ' ' || digit || letter || Ch == FormatSettings.DateSeparator || Ch == FormatSettings.TimeSeparator;
    default: return true;
  }
}

void TIB_Column::FocusColumn() {
  if (TIB_RowStatement* st = GetStatement()) st->FocusColumn(*this);
}

// ---- edit masks -----------------------------------------------------------------------------------

void TIB_Column::SetEditMask(const std::string& Value) {
  if (Value != FEditMask) {
    FEditMask = Value;
    if (TIB_RowStatement* st = GetStatement()) st->SetFieldsListValue(flEditMask, GetBestName(), Value);
  }
  if (Value.size() > 6 && StartsWithMaskTag(Value)) {
    if (!FMaskEnh) FMaskEnh = std::make_unique<TMaskEnh>();
    FMaskEnh->SetMaskText(Value);
  } else {
    FMaskEnh.reset();
  }
}

std::string TIB_Column::GetEditMask() {
  if (!FMaskEnh && FEditMask.size() >= 6 && StartsWithMaskTag(FEditMask)) SetEditMask(FEditMask);
  std::string mask = ReplaceTag(FEditMask, "%d", FormatSettings.DateSeparator);
  mask = ReplaceTag(mask, "%t", FormatSettings.TimeSeparator);
  if (mask.empty() && FIsDateTimeKind) {
    const char ds = FormatSettings.DateSeparator;
    const char ts = FormatSettings.TimeSeparator;
    if (GetNoTime()) return std::string("!99") + ds + "99" + ds + "9999;1; ";
    if (GetNoDate()) return std::string("!99") + ts + "99" + ts + "99;1; ";
  }
  return mask;
}

bool TIB_Column::GetMaskActive() {
  if (!FMaskEnh) return !GetEditMask().empty();
  return FMaskEnh->GetMaskKind() != 0 && FMaskEnh->GetPositionCount() > 0;
}

std::string TIB_Column::GetEmptyMaskText() {
  if (FMaskEnh) {
    FMaskEnh->Clear();
    return FMaskEnh->GetText();
  }
  return FormatMaskText(GetEditMask(), "");
}

std::string TIB_Column::FormatMaskedText(const std::string& Value) {
  if (FMaskEnh) {
    if (!GetMaskActive()) return Value;
    FMaskEnh->SetText(Value);
    std::string text;
    FMaskEnh->BuildText(true, true, text, false);
    return text;
  }
  if (FDisplayFormat.empty()) {
    const std::string mask = GetEditMask();
    return mask.empty() ? Value : FormatMaskText(mask, Value);
  }
  return FormatMaskText(FDisplayFormat, Value);
}
