// The date and time column classes: TIMESTAMP, TIME and DATE in the server's binary forms, with the
// date-only (NOTIME) and time-only (NODATE) display formats and the date words of the text input
// ("NOW", "TODAY", "TOMORROW", "YESTERDAY", "LASTWEEK", "NEXTWEEK", "NULL").
#pragma once

#include <cstdint>
#include <string>

#include "dblib/data/IB_Column.h"

class TIB_ColumnDateTime : public TIB_Column {
public:
  TIB_ColumnDateTime(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR);

  std::string GetAsString() override;
  TDateTime GetAsDate() override;
  TDateTime GetAsDateTime() override;
  std::string GetAsTimestampText() override;
  void SetAsString(const std::string& Value) override;
  void SetAsDate(TDateTime Value) override;
  void SetAsDateTime(TDateTime Value) override;
  void SetAsTimestampText(const std::string& Value) override;

protected:
  // The stored value (0 for null) and the one writer every store goes through. The bytes are built
  // first, so a value the storage cannot take leaves the column as it was.
  TDateTime ReadValue();
  void WriteValue(TDateTime Value);
};

// TIMESTAMP (dialect 1 DATE): day number and time of day in 1/10000 s.
class TIB_ColumnTimeStamp : public TIB_ColumnDateTime {
public:
  using TIB_ColumnDateTime::TIB_ColumnDateTime;
};

// TIME: time of day in 1/10000 s.
class TIB_ColumnTime : public TIB_ColumnDateTime {
public:
  using TIB_ColumnDateTime::TIB_ColumnDateTime;
};

// DATE (dialect 3): day number.
class TIB_ColumnDate : public TIB_ColumnDateTime {
public:
  using TIB_ColumnDateTime::TIB_ColumnDateTime;
};
