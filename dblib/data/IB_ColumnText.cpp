// The text column classes.
#include "dblib/data/IB_ColumnText.h"

#include <algorithm>
#include <cstring>

#include "dblib/IB_CharSets.h"
#include "dblib/IB_Constants.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Row.h"

namespace {

// How many bytes of Text fit a column of MaxBytes bytes in its character set: the first characters that
// fit the column's length in characters, never more bytes than it holds, never a split character.
size_t CutLength(const std::string& Text, size_t MaxBytes, int16_t SubType) {
  const size_t maxLength = CharSetMaxLength(SubType, MaxBytes);
  if (Text.size() <= maxLength) return Text.size();
  size_t n = std::min(CharSetPrefixBytes(SubType, Text, maxLength), MaxBytes);
  if (((SubType & 0xFF) == 3 || (SubType & 0xFF) == 4) && n < Text.size()) {
    while (n > 0 && (static_cast<unsigned char>(Text[n]) & 0xC0) == 0x80) --n;
  }
  return n;
}

}  // namespace

TIB_ColumnText::TIB_ColumnText(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR)
    : TIB_Column(ARow, AFieldNo, APSQLVAR) {
  FIsTextKind = true;
  if (!ARow || ARow->GetRowType() != rtParams) FTrimming = 4;
  FPadChar = HasAttribute("BINARY") ? 0 : ' ';
  if (HasAttribute("NOCASE")) {
    bool found = false;
    FUpperExpression = GetAttributeParam("NOCASE", found);
    if (FUpperExpression.empty()) FUpperExpression = "UPPER( " + GetFullName() + " )";
  }
}

std::string TIB_ColumnText::GetTextValue() {
  const uint8_t* data = Data();
  if (!data) return std::string();
  int16_t ind;
  std::memcpy(&ind, data - 2, 2);
  if (ind == -1) return std::string();
  const XSQLVAR& var = *GetPSQLVAR();
  const char* start = reinterpret_cast<const char*>(data);
  size_t max = var.sqllen > 0 ? static_cast<size_t>(var.sqllen) : 0;
  if ((var.sqltype & ~1) == SQL_VARYING) {
    uint16_t len;
    std::memcpy(&len, data, 2);
    start += 2;
    if (len < max) max = len;
  }
  size_t end = max;
  if (const void* zero = std::memchr(start, 0, max)) end = static_cast<size_t>(static_cast<const char*>(zero) - start);
  // Cutting blanks at the ends (trimming kinds 2 to 4) happens on the buffer, so the text is made once;
  // the case change touches only ASCII letters, which trimming never cuts, so the order does not matter.
  const uint8_t trimming = FTrimming == 0 || GetRow()->GetIsKeyRow() ? 0 : FTrimming;
  size_t begin = 0;
  if (trimming == 2 || trimming == 3) {
    while (begin < end && static_cast<unsigned char>(start[begin]) <= ' ') ++begin;
  }
  if (trimming == 2 || trimming == 4) {
    while (end > begin && static_cast<unsigned char>(start[end - 1]) <= ' ') --end;
  }
  const uint8_t charCase = GetCharCase();
  if (charCase != 1 && charCase != 2 && trimming != 1 && trimming != 5) [[likely]]
    return std::string(start + begin, end - begin);
  std::string text(start + begin, end - begin);
  if (charCase == 1) {
    text = UpperCase(text);
  } else if (charCase == 2) {
    text = LowerCase(text);
  }
  if (trimming == 1 || trimming == 5) ApplyTrimming(text, trimming);
  return text;
}

void TIB_ColumnText::SetTextValue(const std::string& Text) {
  // A copy only when case or trimming may change the text.
  const bool trims = !GetRow()->GetIsKeyRow() && GetTrimming() != 0;
  std::string changed;
  if (GetCharCase() == 1 || GetCharCase() == 2 || trims) {
    changed = GetCharCase() == 1 ? UpperCase(Text) : GetCharCase() == 2 ? LowerCase(Text) : Text;
    if (trims) ApplyTrimming(changed, GetTrimming());
  }
  const std::string& text = GetCharCase() == 1 || GetCharCase() == 2 || trims ? changed : Text;
  const size_t maxBytes = static_cast<size_t>(std::max<int16_t>(GetSQLLen(), 0));
  // A parameter cut short would select other rows than the text names: it refuses a longer text. (A text
  // no longer in bytes than the limit in characters fits without counting.)
  if (text.size() > CharSetMaxLength(GetSQLSubType(), maxBytes) && GetRow() && GetRow()->GetRowType() == rtParams &&
      !GetRow()->GetIsKeyRow()) {
    const size_t length = CharSetTextLength(GetSQLSubType(), text);
    const size_t maxLength = CharSetMaxLength(GetSQLSubType(), maxBytes);
    if (length > maxLength || text.size() > maxBytes)
      IB_Raise<EIB_ColumnError>(IBMsg::TextLongerThanParam,
                                {static_cast<int64_t>(length), GetColumnName(), static_cast<int64_t>(maxLength)});
  }
  ModifyValue([&] {
    if (text.empty() && GetBlankIsNull()) {
      SetIsNull(true);
      return;
    }
    if (NullInd() != 0) SetIsNull(false);
    const size_t n = CutLength(text, maxBytes, GetSQLSubType());
    // The text, then PadChar up to the end of the value (what FillPad and the copy leave).
    if (uint8_t* data = Data()) {
      const size_t size = DataSize();
      if (IsVarChar()) {
        std::memcpy(data + 2, text.data(), n);
        // n is within sqllen: the length word takes it as it is.
        const auto length = static_cast<uint16_t>(n);
        std::memcpy(data, &length, 2);
        std::memset(data + 2 + n, GetPadChar(), size - 2 - n);
      } else {
        std::memcpy(data, text.data(), n);
        std::memset(data + n, GetPadChar(), size - n);
      }
    }
  });
}

std::string TIB_ColumnText::GetAsString() {
  std::string text = GetTextValue();
  DoGetText(text);
  return text;
}

void TIB_ColumnText::SetAsString(const std::string& Value) {
  if (!OnSetText) {
    SetTextValue(Value);
    return;
  }
  std::string text = Value;
  DoSetText(text);
  SetTextValue(text);
}

std::u16string TIB_ColumnText::GetAsRawText() {
  if (GetIsNull()) return std::u16string();
  const uint8_t* data = Data();
  if (!data) return std::u16string();
  size_t bytes;
  if (IsVarChar()) {
    bytes = GetVarLength();
    data += 2;
  } else {
    bytes = DataSize();
  }
  std::u16string text(bytes / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  return text;
}

void TIB_ColumnText::SetAsRawText(const std::u16string& Value) {
  BeforeModify();
  if (NullInd() != 0) SetIsNull(false);
  FillPad();
  if (uint8_t* data = Data()) {
    if (IsVarChar()) {
      const size_t bytes = std::min(2 * Value.size(), DataSize() - 2);
      std::memcpy(data + 2, Value.data(), bytes);
      SetVarLength(static_cast<uint16_t>(bytes));
    } else {
      std::memcpy(data, Value.data(), std::min(2 * Value.size(), DataSize()));
    }
  }
  AfterModify();
}

// ---- TIB_ColumnDB_KEY -----------------------------------------------------------------------------

std::string TIB_ColumnDB_KEY::GetAsString() {
  std::string text;
  if (!GetIsNull() && Data()) text = BinaryToHexText(Data(), DataSize());
  DoGetText(text);
  return text;
}

void TIB_ColumnDB_KEY::SetAsString(const std::string& Value) {
  std::string text = Value;
  DoSetText(text);
  if (text.empty()) {
    BeforeModify();
    SetIsNull(true);
    AfterModify();
    return;
  }
  // Converted before the change starts: a text that is no key leaves the column as it was.
  std::string bytes(DataSize(), '\0');
  // The conversion reads as many digits as the key has bytes; a longer text would be cut silently.
  if (text.size() > 2 * bytes.size()) IB_Raise<Exception>(IBMsg::InvalidHexText);
  HexTextToBinary(text, bytes.data(), bytes.size());
  BeforeModify();
  SetIsNull(false);
  if (uint8_t* data = Data()) std::memcpy(data, bytes.data(), bytes.size());
  AfterModify();
}

int TIB_ColumnDB_KEY::GetDefaultWidth() {
  const int label = static_cast<int>(Trim(GetDisplayLabel()).size());
  const int width = std::max(2 * std::max<int>(GetSQLLen(), 0), label) * 8;
  return std::clamp(width, 70, 200);
}
