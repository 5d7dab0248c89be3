// The numeric column classes: scaled NUMERIC/DECIMAL values, single and double floats, 16-, 32- and
// 64-bit integers (the 64-bit ones in both byte orders the client uses), and the whole-number doubles of
// the CURR and COMP attributes. Each stores its value in the server's binary form in the row buffer.
#pragma once

#include <cstdint>
#include <string>

#include "dblib/data/IB_Column.h"

// The base of the numeric classes: the blank rule and the store that every numeric setter ends in.
class TIB_ColumnNumBase : public TIB_Column {
public:
  TIB_ColumnNumBase(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR);

protected:
  // True when an empty text makes this column null rather than 0.
  bool BlankMakesNull() const;
  // The text after OnSetText; Blank is set when it is empty (after trimming with TrimFirst).
  std::string TakeSetText(const std::string& Value, bool TrimFirst, bool& Blank);
  // The blank rule of a text store: when the text (after OnSetText) is blank, the column becomes null
  // when BlankMakesNull, else StoreZero runs, and the result is true. Otherwise Text receives the text.
  template <class F>
  bool StoreBlankText(const std::string& Value, bool TrimFirst, std::string& Text, F StoreZero) {
    CheckWrite();
    bool blank = false;
    Text = TakeSetText(Value, TrimFirst, blank);
    if (!blank) return false;
    if (BlankMakesNull())
      Clear();
    else
      StoreZero();
    return true;
  }
  // The text out: empty for null, then OnGetText.
  std::string FinishGetText(std::string Text);
};

// NUMERIC and DECIMAL columns with a scale, over SMALLINT, INTEGER, BIGINT, ISC_QUAD, FLOAT or DOUBLE.
class TIB_ColumnNumeric : public TIB_ColumnNumBase {
public:
  TIB_ColumnNumeric(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR, bool ANoRoundErr = false);

  const std::string& GetNumericFormat() const noexcept { return FNumericFormat; }
  bool GetNoRoundErr() const noexcept { return FNoRoundErr; }
  // Number of decimal places (-sqlscale).
  int GetScale() const noexcept { return -GetSQLScale(); }

  std::string GetAsString() override;
  int32_t GetAsInteger() override;
  Currency GetAsCurrency() override;
  long double GetAsExtended() override;
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override;
  void SetAsCurrency(Currency Value) override;
  void SetAsExtended(long double Value) override;
  // A BIGINT's old value goes back as it was stored: the variant of the base's revert holds 53 bits.
  void Revert() override;

protected:
  bool GetScaledValue(int64_t& Value, int& Scale) override;

private:
  // Stores the scaled integer of a BIGINT or ISC_QUAD column.
  void StoreScaled(int64_t Value);

  std::string FNumericFormat;
  bool FNoRoundErr;
};

// FLOAT: a 4-byte IEEE single.
class TIB_ColumnFloat : public TIB_ColumnNumBase {
public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  std::string GetAsString() override;
  double GetAsFloat() override;
  void SetAsString(const std::string& Value) override;
  void SetAsFloat(double Value) override;
};

// DOUBLE PRECISION: an 8-byte IEEE double.
class TIB_ColumnDouble : public TIB_ColumnNumBase {
public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  std::string GetAsString() override;
  double GetAsDouble() override;
  void SetAsString(const std::string& Value) override;
  void SetAsDouble(double Value) override;
};

// SMALLINT: 16-bit signed.
class TIB_ColumnSmallInt : public TIB_ColumnNumBase {
public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  std::string GetAsString() override;
  int16_t GetAsSmallint() override;
  void SetAsString(const std::string& Value) override;
  void SetAsSmallint(int16_t Value) override;

protected:
  bool GetScaledValue(int64_t& Value, int& Scale) override;
};

// INTEGER: 32-bit signed.
class TIB_ColumnInteger : public TIB_ColumnNumBase {
public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  std::string GetAsString() override;
  int32_t GetAsInteger() override;
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override;

protected:
  bool GetScaledValue(int64_t& Value, int& Scale) override;
};

// BIGINT: 64-bit signed, low half first.
class TIB_ColumnInt64 : public TIB_ColumnNumBase {
public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  std::string GetAsString() override;
  // The value as 32 bits; "Value out of range" when it does not fit.
  int32_t GetAsInteger() override;
  void SetAsString(const std::string& Value) override;
  void SetAsInteger(int32_t Value) override;

protected:
  bool GetScaledValue(int64_t& Value, int& Scale) override;
  virtual int64_t ReadInt64();
  virtual void WriteInt64(int64_t Value, uint8_t* Bytes);
};

// The 64-bit integer of dialect-1 ISC_QUAD columns: the high 32 bits first, then the low 32 bits.
class TIB_ColumnQuad : public TIB_ColumnInt64 {
public:
  using TIB_ColumnInt64::TIB_ColumnInt64;

protected:
  int64_t ReadInt64() override;
  void WriteInt64(int64_t Value, uint8_t* Bytes) override;
};

// A DOUBLE column with the CURR attribute: the amount times 10000 as a whole number.
class TIB_ColumnCurr : public TIB_ColumnNumBase {
public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  std::string GetAsString() override;
  Currency GetAsCurrency() override;
  Variant GetAsVariant() override;
  void SetAsString(const std::string& Value) override;
  void SetAsCurrency(Currency Value) override;
  void SetAsVariant(const Variant& Value) override;
};

// A DOUBLE column with the COMP attribute: a whole number.
class TIB_ColumnComp : public TIB_ColumnNumBase {
public:
  using TIB_ColumnNumBase::TIB_ColumnNumBase;
  std::string GetAsString() override;
  int64_t GetAsComp() override;
  Variant GetAsVariant() override;
  void SetAsString(const std::string& Value) override;
  void SetAsComp(int64_t Value) override;
  void SetAsVariant(const Variant& Value) override;

private:
  void StoreWhole(long double Value);
};
