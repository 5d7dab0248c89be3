// The date and time column classes.
#include "dblib/data/IB_ColumnDateTime.h"

#include <cctype>
#include <cmath>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Row.h"
#include "platform/Clock.h"

namespace {

// Day number of 1899-12-30 in the server's calendar.
constexpr int32_t kDayOffset = 15018;
// The span a TDateTime can name (years 1 to 9999).
constexpr double kMinDateTime = -693594.0;
constexpr double kMaxDateTime = 2958466.0;

void CheckDateTime(TDateTime Value) {
  if (!std::isfinite(Value) || Value < kMinDateTime || Value > kMaxDateTime) {
    IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
  }
}

// Letters, digits and '_', not starting with a digit.
bool IsIdentifier(const std::string& Text) {
  if (Text.empty() || std::isdigit(static_cast<unsigned char>(Text[0]))) return false;
  for (char c : Text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

bool StartsWith(const std::string& Text, const char* Prefix) { return Text.rfind(Prefix, 0) == 0; }

}  // namespace

TIB_ColumnDateTime::TIB_ColumnDateTime(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR)
    : TIB_Column(ARow, AFieldNo, APSQLVAR) {
  FIsDateTimeKind = true;
}

TDateTime TIB_ColumnDateTime::ReadValue() {
  if (GetIsNull()) return 0;
  const uint8_t* data = Data();
  if (!data) return 0;
  switch (GetSQLType() & ~1) {
    case SQL_TYPE_TIME: {
      uint32_t v;
      std::memcpy(&v, data, 4);
      const double ms = static_cast<double>(v / 36000000) * 3600000 + static_cast<double>(v / 600000 % 60) * 60000 +
                        static_cast<double>(v / 10000 % 60) * 1000 + static_cast<double>(v % 10000 / 10);
      return ms / MSecsPerDay;
    }
    case SQL_TYPE_DATE: {
      int32_t v;
      std::memcpy(&v, data, 4);
      return static_cast<double>(static_cast<int64_t>(v) - kDayOffset);
    }
    default: {
      ISC_TIMESTAMP ts;
      std::memcpy(&ts, data, sizeof ts);
      return IscTimestampToDateTime(ts);
    }
  }
}

void TIB_ColumnDateTime::WriteValue(TDateTime Value) {
  CheckDateTime(Value);
  uint8_t bytes[sizeof(ISC_TIMESTAMP)];
  size_t count;
  switch (GetSQLType() & ~1) {
    case SQL_TYPE_TIME: {
      uint16_t h, m, s, ms;
      DecodeTime(Value, h, m, s, ms);
      const uint32_t v = h * 36000000u + m * 600000u + s * 10000u + ms * 10u;
      std::memcpy(bytes, &v, 4);
      count = 4;
      break;
    }
    case SQL_TYPE_DATE: {
      const int32_t v = static_cast<int32_t>(std::trunc(Value)) + kDayOffset;
      std::memcpy(bytes, &v, 4);
      count = 4;
      break;
    }
    default: {
      const ISC_TIMESTAMP ts = DateTimeToIscTimestamp(GetNoTime() ? std::trunc(Value) : Value);
      std::memcpy(bytes, &ts, sizeof ts);
      count = sizeof ts;
      break;
    }
  }
  StoreBytes(bytes, count);
}

std::string TIB_ColumnDateTime::GetAsString() {
  std::string text;
  if (!GetIsNull()) {
    const TDateTime v = ReadValue();
    const int type = GetSQLType() & ~1;
    if (type == SQL_TYPE_DATE) {
      text = DateToStr(v);
    } else if (GetNoTime()) {
      text = FormatDateTime(GetDateOnlyFormat(), v);
    } else if (type == SQL_TYPE_TIME) {
      text = TimeToStr(v);
    } else if (GetNoDate()) {
      text = FormatDateTime(GetTimeOnlyFormat(), v);
    } else {
      text = DateTimeToStr(v);
    }
  }
  DoGetText(text);
  return text;
}

TDateTime TIB_ColumnDateTime::GetAsDate() { return std::trunc(ReadValue()); }

TDateTime TIB_ColumnDateTime::GetAsDateTime() { return ReadValue(); }

std::string TIB_ColumnDateTime::GetAsTimestampText() {
  return GetIsNull() ? std::string() : DateTimeToTimestampText(ReadValue());
}

void TIB_ColumnDateTime::SetAsDate(TDateTime Value) {
  CheckDateTime(Value);
  WriteValue(std::trunc(Value));
}

void TIB_ColumnDateTime::SetAsDateTime(TDateTime Value) { WriteValue(Value); }

void TIB_ColumnDateTime::SetAsTimestampText(const std::string& Value) { WriteValue(TimestampTextToDateTime(Value)); }

void TIB_ColumnDateTime::SetAsString(const std::string& Value) {
  CheckWrite();
  std::string text = Value;
  DoSetText(text);
  if (text.empty()) {
    Clear();
    return;
  }
  if (GetMaskActive() && text == GetEmptyMaskText()) {
    Clear();
    return;
  }
  if ((GetSQLType() & ~1) == SQL_TYPE_TIME) {
    WriteValue(StrToTime(text));
    return;
  }
  if (GetNoDate()) {
    // Only the time is entered: it keeps the day of the old value (day 0 when there was none).
    const TDateTime time = StrToTime(text);
    const Variant old = GetOldAsVariant();
    const TDateTime day = VarIsNull(old) || VarIsEmpty(old) ? 0 : std::trunc(old.AsDate());
    WriteValue(ComposeDateTime(day, time));
    return;
  }
  if (!IsIdentifier(text)) {
    WriteValue(StrToDateTime(text));
    return;
  }
  const std::string word = UpperCase(text);
  const TDateTime today = std::trunc(Now());
  if (StartsWith(word, "NOW")) {
    WriteValue(Now());
  } else if (StartsWith(word, "TOD")) {
    WriteValue(today);
  } else if (StartsWith(word, "TOM")) {
    WriteValue(today + 1);
  } else if (StartsWith(word, "YES")) {
    WriteValue(today - 1);
  } else if (StartsWith(word, "LASTW")) {
    WriteValue(today - 7);
  } else if (StartsWith(word, "NEXTW")) {
    WriteValue(today + 7);
  } else if (StartsWith(word, "NULL")) {
    Clear();
  } else {
    WriteValue(StrToDateTime(text));
  }
}
