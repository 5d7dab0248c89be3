// The text column classes: CHAR (padded to its length), VARCHAR (a length word before the text) and
// the raw bytes of a DB_KEY.
#pragma once

#include <cstdint>
#include <string>

#include "dblib/data/IB_Column.h"

// CHAR: sqllen bytes padded with blanks (with zero bytes under the BINARY attribute). Result columns
// lose their trailing blanks when read; parameters keep them.
class TIB_ColumnText : public TIB_Column {
public:
  TIB_ColumnText(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR);

  std::string GetAsString() override;
  std::u16string GetAsRawText() override;
  void SetAsString(const std::string& Value) override;
  void SetAsRawText(const std::u16string& Value) override;

  virtual std::string GetTextValue();
  virtual void SetTextValue(const std::string& Text);
};

// VARCHAR: a 16-bit length (low byte first), then up to sqllen bytes.
class TIB_ColumnVarText : public TIB_ColumnText {
public:
  using TIB_ColumnText::TIB_ColumnText;
};

// The DB_KEY of a row: sqllen raw bytes, shown as upper-case hexadecimal text.
class TIB_ColumnDB_KEY : public TIB_Column {
public:
  using TIB_Column::TIB_Column;

  std::string GetAsString() override;
  void SetAsString(const std::string& Value) override;
  int GetDefaultWidth() override;
};
