// The numeric column classes.
#include "dblib/data/IB_ColumnNumeric.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Utils.h"
#include "dblib/IB_Errors.h"
#include "dblib/data/IB_Row.h"
#include "dblib/uRounding.h"

namespace {

constexpr long double kTwo63 = 9223372036854775808.0L;

// 10^N exactly: every power up to 10^27 fits the 64-bit mantissa of an extended value.
long double Pow10(int N) {
  long double r = 1;
  for (int i = 0; i < N; ++i) r *= 10;
  return r;
}

// 10^N for N from 0 to 18 (every scale an integer column has); 1 below, 10^18 above.
int64_t IntPow10(int N) {
  static constexpr int64_t kPowers[] = {1LL, 10LL, 100LL, 1000LL, 10000LL, 100000LL, 1000000LL, 10000000LL,
                                        100000000LL, 1000000000LL, 10000000000LL, 100000000000LL,
                                        1000000000000LL, 10000000000000LL, 100000000000000LL,
                                        1000000000000000LL, 10000000000000000LL, 100000000000000000LL,
                                        1000000000000000000LL};
  return kPowers[std::clamp(N, 0, 18)];
}

// Rounded to the nearest integer, ties to even (the FPU's default mode).
long double RoundEven(long double Value) { return std::nearbyintl(Value); }

[[noreturn]] void RaiseOutOfRange() { IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange); }

// A whole extended value as a 64-bit integer; out of range (or not a number) raises.
int64_t ToInt64Checked(long double Whole) {
  if (!(Whole >= -kTwo63 && Whole < kTwo63)) RaiseOutOfRange();
  return static_cast<int64_t>(Whole);
}

int32_t ToInt32Checked(long double Whole) {
  if (!(Whole >= -2147483648.0L && Whole <= 2147483647.0L)) RaiseOutOfRange();
  return static_cast<int32_t>(Whole);
}

// A double for storage; a finite value beyond the double range raises instead of becoming infinite.
double ToDoubleChecked(long double Value) {
  if (std::isfinite(Value) && std::fabs(Value) > static_cast<long double>(DBL_MAX)) {
    RaiseOutOfRange();
  }
  return static_cast<double>(Value);
}

float ToSingleChecked(long double Value) {
  if (std::isfinite(Value) && std::fabs(Value) > static_cast<long double>(FLT_MAX)) {
    RaiseOutOfRange();
  }
  return static_cast<float>(Value);
}

// The whole-number doubles of CURR, COMP and NOROUNDERR columns must stay exact.
void Check53Bit(double Value) {
  if (!IsWholeNumber(Value)) IB_Raise<EIB_ColumnError>(IBMsg::Integer53bitOverflow);
}

// Value / 10^N rounded to the nearest integer, ties to even, in exact integer arithmetic.
int64_t DivRoundEven(int64_t Value, int64_t Divisor) {
  int64_t q = Value / Divisor;
  const int64_t r = Value % Divisor;
  const int64_t twice = 2 * (r < 0 ? -r : r);
  if (twice > Divisor || (twice == Divisor && (q & 1) != 0)) q += Value < 0 ? -1 : 1;
  return q;
}

// The scaled SMALLINT of Value; beyond the 32-bit range is beyond the 16-bit range too.
int16_t RoundToScaledSmallint(int Precision, long double Value) {
  int32_t n;
  try {
    n = RoundToScaledInt(Precision, Value);
  } catch (const Exception&) {
    // A bad precision is the caller's error; a scaled value beyond 32 bits is beyond 16 bits too.
    if (Precision > MaxRoundingPrecision || Precision < 0) throw;
    IB_Raise<EIB_ColumnError>(IBMsg::SmallintOverflow);
  }
  if (n < INT16_MIN || n > INT16_MAX) IB_Raise<EIB_ColumnError>(IBMsg::SmallintOverflow);
  return static_cast<int16_t>(n);
}

int64_t QuadToInt64(const ISC_QUAD& Q) {
  return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(Q.gds_quad_high)) << 32) | Q.gds_quad_low);
}

ISC_QUAD Int64ToQuad(int64_t Value) {
  ISC_QUAD q;
  q.gds_quad_high = static_cast<ISC_LONG>(static_cast<uint64_t>(Value) >> 32);
  q.gds_quad_low = static_cast<ISC_ULONG>(static_cast<uint64_t>(Value) & 0xFFFFFFFFu);
  return q;
}

// Text that StrToFloat accepts ([blanks][sign]digits[separator digits][e[sign]digits][blanks]) as
// Value * 10^Scale, in exact decimal arithmetic: digits past Scale places round to the nearest, ties to
// even. A result beyond 64 bits raises "Value out of range".
int64_t ParseScaled(const std::string& Text, int Scale) {
  size_t i = 0, n = Text.size();
  while (i < n && static_cast<unsigned char>(Text[i]) <= ' ') ++i;
  while (n > i && static_cast<unsigned char>(Text[n - 1]) <= ' ') --n;
  bool negative = false;
  if (i < n && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
  std::string digits;
  long shift = Scale;
  for (bool fraction = false; i < n; ++i) {
    const char c = Text[i];
    if (c >= '0' && c <= '9') {
      if (!(digits.empty() && c == '0')) digits += c;  // leading zeros carry nothing
      if (fraction) --shift;
    } else if (!fraction && c == FormatSettings.DecimalSeparator) {
      fraction = true;
    } else {
      break;
    }
  }
  if (i < n && (Text[i] == 'e' || Text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < n && (Text[i] == '+' || Text[i] == '-')) expNegative = Text[i++] == '-';
    long exponent = 0;
    for (; i < n && Text[i] >= '0' && Text[i] <= '9'; ++i)
      exponent = std::min(exponent * 10 + (Text[i] - '0'), 100000L);
    shift += expNegative ? -exponent : exponent;
  }
  if (digits.empty()) return 0;
  // The whole part: the digits that stay left of the point after the shift, then zeros for the rest.
  const long whole = static_cast<long>(digits.size()) + shift;
  if (whole > 19) RaiseOutOfRange();
  unsigned __int128 value = 0;
  for (long k = 0; k < whole; ++k) value = value * 10 + (k < static_cast<long>(digits.size()) ? digits[k] - '0' : 0);
  if (whole >= 0 && whole < static_cast<long>(digits.size())) {
    // Round on what is cut off: above half up, below half down, exactly half to the even neighbour.
    const char first = digits[static_cast<size_t>(whole)];
    const bool restZero = digits.find_first_not_of('0', static_cast<size_t>(whole) + 1) == std::string::npos;
    if (first > '5' || (first == '5' && (!restZero || (value & 1) != 0))) ++value;
  }
  const unsigned __int128 limit = static_cast<unsigned __int128>(INT64_MAX) + (negative ? 1 : 0);
  if (value > limit) RaiseOutOfRange();
  return negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(value)) : static_cast<int64_t>(value);
}

}  // namespace

// ---- TIB_ColumnNumBase ----------------------------------------------------------------------------

TIB_ColumnNumBase::TIB_ColumnNumBase(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR)
    : TIB_Column(ARow, AFieldNo, APSQLVAR) {
  FIsNumericKind = true;
}

bool TIB_ColumnNumBase::BlankMakesNull() const {
  if (GetIsNullable()) return true;
  return GetRow() && GetRow()->GetRowType() == rtFields && GetBlankIsNull();
}

std::string TIB_ColumnNumBase::TakeSetText(const std::string& Value, bool TrimFirst, bool& Blank) {
  std::string text = Value;
  DoSetText(text);
  if (TrimFirst) text = Trim(text);
  Blank = text.empty();
  return text;
}

std::string TIB_ColumnNumBase::FinishGetText(std::string Text) {
  DoGetText(Text);
  return Text;
}

// ---- TIB_ColumnNumeric ----------------------------------------------------------------------------

TIB_ColumnNumeric::TIB_ColumnNumeric(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR, bool ANoRoundErr)
    : TIB_ColumnNumBase(ARow, AFieldNo, APSQLVAR), FNoRoundErr(ANoRoundErr) {
  const int d = GetScale();
  FNumericFormat = std::string(static_cast<size_t>(std::max(0, 17 - d)), '#') + "0." +
                   std::string(static_cast<size_t>(std::max(0, d)), '0');
  FCurrencyDisplay = HasAttribute("CURRENCY");
}

long double TIB_ColumnNumeric::GetAsExtended() {
  if (GetIsNull()) return 0;
  const int d = GetScale();
  const uint8_t* data = Data();
  switch (GetSQLType() & ~1) {
    case SQL_LONG: return ScaledIntToFloat(ReadAs<int32_t>(data), d);
    case SQL_SHORT: return ScaledIntToFloat(ReadAs<int16_t>(data), d);
    case SQL_DOUBLE:
    case SQL_FLOAT: {
      const long double stored =
          (GetSQLType() & ~1) == SQL_DOUBLE ? ReadAs<double>(data) : static_cast<long double>(ReadAs<float>(data));
      if (FNoRoundErr) return TruncToPrecision(0, stored) / Pow10(d);
      return TruncToPrecision(d, stored);
    }
    case SQL_QUAD: return static_cast<long double>(QuadToInt64(ReadAs<ISC_QUAD>(data))) / Pow10(d);
    case SQL_INT64: return static_cast<long double>(ReadAs<int64_t>(data)) / Pow10(d);
    default: IB_Raise<EIB_Error>(IBMsg::UnsupportedColumnType, {int64_t(GetSQLType())});
  }
}

bool TIB_ColumnNumeric::GetScaledValue(int64_t& Value, int& Scale) {
  if (GetIsNull() || GetScale() < 0 || GetScale() > 18) return false;
  const uint8_t* data = Data();
  switch (GetSQLType() & ~1) {
    case SQL_SHORT: Value = ReadAs<int16_t>(data); break;
    case SQL_LONG: Value = ReadAs<int32_t>(data); break;
    case SQL_INT64: Value = ReadAs<int64_t>(data); break;
    case SQL_QUAD: Value = QuadToInt64(ReadAs<ISC_QUAD>(data)); break;
    default: return false;
  }
  Scale = GetScale();
  return true;
}

void TIB_ColumnNumeric::StoreScaled(int64_t Value) {
  if ((GetSQLType() & ~1) == SQL_QUAD) {
    const ISC_QUAD q = Int64ToQuad(Value);
    StoreBytes(&q, sizeof q);
  } else {
    StoreBytes(&Value, sizeof Value);
  }
}

void TIB_ColumnNumeric::Revert() {
  const int type = GetSQLType() & ~1;
  if ((type != SQL_INT64 && type != SQL_QUAD) || !GetIsModified() || GetOldIsNull()) {
    TIB_Column::Revert();
    return;
  }
  const uint8_t* old = OldData();
  StoreScaled(type == SQL_INT64 ? ReadAs<int64_t>(old) : QuadToInt64(ReadAs<ISC_QUAD>(old)));
}

std::string TIB_ColumnNumeric::GetAsString() {
  if (GetIsNull()) return FinishGetText(std::string());
  // Integer storage is shown from its digits: a double cannot hold the 19 digits of a BIGINT.
  int64_t value;
  int scale;
  if (GetScaledValue(value, scale)) return FinishGetText(FormatScaled(FNumericFormat, value, scale));
  return FinishGetText(FormatFloat(FNumericFormat, GetAsExtended()));
}

int32_t TIB_ColumnNumeric::GetAsInteger() { return ToInt32Checked(std::trunc(GetAsExtended())); }

Currency TIB_ColumnNumeric::GetAsCurrency() {
  const int d = GetScale();
  if (d > 4) return Currency::FromRaw(ToInt64Checked(RoundEven(GetAsExtended() * 10000)));
  if (GetIsNull()) return Currency();
  const uint8_t* data = Data();
  switch (GetSQLType() & ~1) {
    case SQL_DOUBLE:
    case SQL_FLOAT: {
      const long double stored =
          (GetSQLType() & ~1) == SQL_DOUBLE ? ReadAs<double>(data) : static_cast<long double>(ReadAs<float>(data));
      long double c = RoundEven(stored * 10000);
      if (FNoRoundErr) {
        c = RoundEven(TruncToPrecision(0, c / 10000) * 10000);
        for (int i = 0; i < d; ++i) c = RoundEven(c / 10);
      } else {
        c = RoundEven(TruncToPrecision(d, c / 10000) * 10000);
      }
      return Currency::FromRaw(ToInt64Checked(c));
    }
    case SQL_LONG:
      return Currency::FromRaw(ToInt64Checked(RoundEven(ScaledIntToFloat(ReadAs<int32_t>(data), d) * 10000)));
    case SQL_SHORT:
      return Currency::FromRaw(ToInt64Checked(RoundEven(ScaledIntToFloat(ReadAs<int16_t>(data), d) * 10000)));
    case SQL_QUAD:
    case SQL_INT64: {
      const int64_t v = (GetSQLType() & ~1) == SQL_INT64 ? ReadAs<int64_t>(data) : QuadToInt64(ReadAs<ISC_QUAD>(data));
      // v * 10000 / 10^d: exact, as d is at most 4 here.
      int64_t raw;
      if (__builtin_mul_overflow(v, IntPow10(4 - d), &raw)) RaiseOutOfRange();
      return Currency::FromRaw(raw);
    }
    default: IB_Raise<EIB_Error>(IBMsg::UnsupportedColumnType, {int64_t(GetSQLType())});
  }
}

void TIB_ColumnNumeric::SetAsExtended(long double Value) {
  const int d = GetScale();
  switch (GetSQLType() & ~1) {
    case SQL_LONG: {
      const int32_t n = RoundToScaledInt(d, Value);
      StoreBytes(&n, sizeof n);
      break;
    }
    case SQL_SHORT: {
      const int16_t s = RoundToScaledSmallint(d, Value);
      StoreBytes(&s, sizeof s);
      break;
    }
    case SQL_FLOAT:
    case SQL_DOUBLE: {
      const long double x = FNoRoundErr ? RoundToPrecision(0, Value * Pow10(d)) : RoundToPrecision(d, Value);
      if ((GetSQLType() & ~1) == SQL_FLOAT) {
        const float f = ToSingleChecked(x);
        StoreBytes(&f, sizeof f);
      } else {
        const double v = ToDoubleChecked(x);
        if (FNoRoundErr) Check53Bit(v);
        StoreBytes(&v, sizeof v);
      }
      break;
    }
    case SQL_QUAD: StoreScaled(ToInt64Checked(RoundEven(Value * Pow10(d)))); break;
    case SQL_INT64: {
      long double x = Value * Pow10(d);
      if (x != std::trunc(x)) x = RoundEven(x);
      StoreScaled(ToInt64Checked(x));
      break;
    }
    default: IB_Raise<EIB_Error>(IBMsg::UnsupportedColumnType, {int64_t(GetSQLType())});
  }
}

void TIB_ColumnNumeric::SetAsString(const std::string& Value) {
  std::string text;
  if (StoreBlankText(Value, false, text, [&] { SetAsExtended(0); })) return;
  const long double approximate = StrToFloat(text);  // the platform's check of the text, and its error
  const int type = GetSQLType() & ~1;
  if (type == SQL_INT64 || type == SQL_QUAD) {
    // The text goes to the scaled integer digit by digit: every BIGINT value has a text that stores it.
    StoreScaled(ParseScaled(text, GetScale()));
  } else {
    SetAsExtended(approximate);
  }
}

void TIB_ColumnNumeric::SetAsInteger(int32_t Value) { SetAsExtended(Value); }

void TIB_ColumnNumeric::SetAsCurrency(Currency Value) {
  const int d = GetScale();
  if (d >= 5) {
    SetAsExtended(Value.ToExtended());
    return;
  }
  const int64_t c = Value.Raw();
  const long double units = static_cast<long double>(c) / 10000;
  switch (GetSQLType() & ~1) {
    case SQL_SHORT: {
      const int16_t s = RoundToScaledSmallint(d, units);
      StoreBytes(&s, sizeof s);
      break;
    }
    case SQL_LONG: {
      const int32_t n = RoundToScaledInt(d, units);
      StoreBytes(&n, sizeof n);
      break;
    }
    case SQL_QUAD:
    case SQL_INT64: {
      // c * 10^d / 10000, rounded, computed without the intermediate product.
      StoreScaled(DivRoundEven(c, IntPow10(4 - d)));
      break;
    }
    case SQL_FLOAT:
    case SQL_DOUBLE: {
      long double scaled = c;
      int p = d;
      if (FNoRoundErr) {
        scaled *= Pow10(d);
        p = 0;
      }
      const long double x = RoundEven(RoundToPrecision(p, scaled / 10000) * 10000) / 10000;
      if ((GetSQLType() & ~1) == SQL_FLOAT) {
        const float f = ToSingleChecked(x);
        StoreBytes(&f, sizeof f);
      } else {
        const double v = ToDoubleChecked(x);
        if (FNoRoundErr) Check53Bit(v);
        StoreBytes(&v, sizeof v);
      }
      break;
    }
    default: IB_Raise<EIB_Error>(IBMsg::UnsupportedColumnType, {int64_t(GetSQLType())});
  }
}

// ---- TIB_ColumnFloat ------------------------------------------------------------------------------

std::string TIB_ColumnFloat::GetAsString() {
  return FinishGetText(GetIsNull() ? std::string() : FloatToStr(ReadAs<float>(Data())));
}

double TIB_ColumnFloat::GetAsFloat() { return GetIsNull() ? 0 : ReadAs<float>(Data()); }

void TIB_ColumnFloat::SetAsString(const std::string& Value) {
  std::string text;
  if (StoreBlankText(Value, false, text, [&] { SetAsFloat(0); })) return;
  const float f = ToSingleChecked(StrToFloat(text));
  StoreBytes(&f, sizeof f);
}

void TIB_ColumnFloat::SetAsFloat(double Value) {
  const float f = ToSingleChecked(Value);
  StoreBytes(&f, sizeof f);
}

// ---- TIB_ColumnDouble -----------------------------------------------------------------------------

std::string TIB_ColumnDouble::GetAsString() {
  return FinishGetText(GetIsNull() ? std::string() : FloatToStr(ReadAs<double>(Data())));
}

double TIB_ColumnDouble::GetAsDouble() { return GetIsNull() ? 0 : ReadAs<double>(Data()); }

void TIB_ColumnDouble::SetAsString(const std::string& Value) {
  std::string text;
  if (StoreBlankText(Value, false, text, [&] { SetAsDouble(0); })) return;
  const double v = ToDoubleChecked(StrToFloat(text));
  StoreBytes(&v, sizeof v);
}

void TIB_ColumnDouble::SetAsDouble(double Value) { StoreBytes(&Value, sizeof Value); }

// ---- TIB_ColumnSmallInt ---------------------------------------------------------------------------

std::string TIB_ColumnSmallInt::GetAsString() {
  return FinishGetText(GetIsNull() ? std::string() : IntToStr(ReadAs<int16_t>(Data())));
}

int16_t TIB_ColumnSmallInt::GetAsSmallint() { return GetIsNull() ? 0 : ReadAs<int16_t>(Data()); }

bool TIB_ColumnSmallInt::GetScaledValue(int64_t& Value, int& Scale) {
  Value = GetAsSmallint();
  Scale = 0;
  return !GetIsNull();
}

void TIB_ColumnSmallInt::SetAsString(const std::string& Value) {
  std::string text;
  if (StoreBlankText(Value, false, text, [&] { SetAsSmallint(0); })) return;
  const int64_t v = StrToInt64(Trim(text));
  if (v < INT16_MIN || v > INT16_MAX) IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
  SetAsSmallint(static_cast<int16_t>(v));
}

void TIB_ColumnSmallInt::SetAsSmallint(int16_t Value) { StoreBytes(&Value, sizeof Value); }

// ---- TIB_ColumnInteger ----------------------------------------------------------------------------

std::string TIB_ColumnInteger::GetAsString() {
  return FinishGetText(GetIsNull() ? std::string() : IntToStr(ReadAs<int32_t>(Data())));
}

int32_t TIB_ColumnInteger::GetAsInteger() { return GetIsNull() ? 0 : ReadAs<int32_t>(Data()); }

bool TIB_ColumnInteger::GetScaledValue(int64_t& Value, int& Scale) {
  Value = GetAsInteger();
  Scale = 0;
  return !GetIsNull();
}

void TIB_ColumnInteger::SetAsString(const std::string& Value) {
  std::string text;
  if (StoreBlankText(Value, true, text, [&] { SetAsInteger(0); })) return;
  SetAsInteger(StrToInt(text));
}

void TIB_ColumnInteger::SetAsInteger(int32_t Value) { StoreBytes(&Value, sizeof Value); }

// ---- TIB_ColumnInt64 and TIB_ColumnQuad -----------------------------------------------------------

int64_t TIB_ColumnInt64::ReadInt64() { return GetIsNull() ? 0 : ReadAs<int64_t>(Data()); }

void TIB_ColumnInt64::WriteInt64(int64_t Value, uint8_t* Bytes) { std::memcpy(Bytes, &Value, 8); }

bool TIB_ColumnInt64::GetScaledValue(int64_t& Value, int& Scale) {
  Value = ReadInt64();
  Scale = 0;
  return !GetIsNull();
}

std::string TIB_ColumnInt64::GetAsString() {
  return FinishGetText(GetIsNull() ? std::string() : IntToStr(ReadInt64()));
}

int32_t TIB_ColumnInt64::GetAsInteger() {
  // A value that does not fit 32 bits raises rather than reading as its low half (2^32 + 5 is not 5).
  const int64_t v = ReadInt64();
  if (v < INT32_MIN || v > INT32_MAX) IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
  return static_cast<int32_t>(v);
}

void TIB_ColumnInt64::SetAsString(const std::string& Value) {
  std::string text;
  if (StoreBlankText(Value, true, text, [&] { SetAsInteger(0); })) return;
  const int64_t v = StrToInt64(text);
  uint8_t bytes[8];
  WriteInt64(v, bytes);
  StoreBytes(bytes, sizeof bytes);
}

void TIB_ColumnInt64::SetAsInteger(int32_t Value) {
  uint8_t bytes[8];
  WriteInt64(Value, bytes);
  StoreBytes(bytes, sizeof bytes);
}

int64_t TIB_ColumnQuad::ReadInt64() { return GetIsNull() ? 0 : QuadToInt64(ReadAs<ISC_QUAD>(Data())); }

void TIB_ColumnQuad::WriteInt64(int64_t Value, uint8_t* Bytes) {
  const ISC_QUAD q = Int64ToQuad(Value);
  std::memcpy(Bytes, &q, 8);
}

// ---- TIB_ColumnCurr -------------------------------------------------------------------------------

Currency TIB_ColumnCurr::GetAsCurrency() {
  if (GetIsNull()) return Currency();
  return Currency::FromRaw(ToInt64Checked(TruncToPrecision(0, ReadAs<double>(Data()))));
}

std::string TIB_ColumnCurr::GetAsString() {
  return FinishGetText(GetIsNull() ? std::string() : CurrToStr(GetAsCurrency()));
}

Variant TIB_ColumnCurr::GetAsVariant() { return GetIsNull() ? Variant::Null() : Variant(GetAsCurrency()); }

void TIB_ColumnCurr::SetAsCurrency(Currency Value) {
  const double v = static_cast<double>(Value.Raw());
  Check53Bit(v);
  StoreBytes(&v, sizeof v);
}

void TIB_ColumnCurr::SetAsString(const std::string& Value) {
  std::string text;
  if (StoreBlankText(Value, false, text, [&] { SetAsCurrency(Currency()); })) return;
  SetAsCurrency(StrToCurr(text));
}

void TIB_ColumnCurr::SetAsVariant(const Variant& Value) {
  if (VarIsEmpty(Value) || VarIsNull(Value)) {
    if (!GetIsNull()) SetNull(true);
    return;
  }
  // Converted first: a value that is no amount leaves the column as it was.
  const Currency c = Value.AsCurrency();
  if (GetIsNull() || !(GetAsVariant() == Value)) SetAsCurrency(c);
}

// ---- TIB_ColumnComp -------------------------------------------------------------------------------

int64_t TIB_ColumnComp::GetAsComp() {
  if (GetIsNull()) return 0;
  return ToInt64Checked(RoundEven(TruncToPrecision(0, ReadAs<double>(Data()))));
}

std::string TIB_ColumnComp::GetAsString() {
  return FinishGetText(GetIsNull() ? std::string() : FloatToStr(ReadAs<double>(Data())));
}

Variant TIB_ColumnComp::GetAsVariant() { return GetIsNull() ? Variant::Null() : Variant(ReadAs<double>(Data())); }

void TIB_ColumnComp::StoreWhole(long double Value) {
  const double v = ToDoubleChecked(RoundEven(Value));
  Check53Bit(v);
  StoreBytes(&v, sizeof v);
}

void TIB_ColumnComp::SetAsString(const std::string& Value) {
  std::string text;
  if (StoreBlankText(Value, false, text, [&] { StoreWhole(0); })) return;
  StoreWhole(StrToFloat(text));
}

void TIB_ColumnComp::SetAsComp(int64_t Value) { StoreWhole(static_cast<long double>(Value)); }

void TIB_ColumnComp::SetAsVariant(const Variant& Value) {
  if (VarIsEmpty(Value) || VarIsNull(Value)) {
    if (!GetIsNull()) SetNull(true);
    return;
  }
  const long double x = Value.AsExtended();
  if (GetIsNull() || !(GetAsVariant() == Value)) StoreWhole(x);
}
