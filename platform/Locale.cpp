#include "platform/Locale.h"

#include <locale.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

TFormatSettings FormatSettings;

// ---------------------------------------------------------------------------------------------
// Currency

namespace {

[[noreturn]] void CurrencyOverflow() { throw EOverflow("Currency overflow"); }

int64_t CheckedRound(long double V) {
  // Checked after rounding: a value just below 2^63 can round up to it, which no int64 holds.
  long double r = nearbyintl(V);
  if (!(r >= -9223372036854775808.0L && r < 9223372036854775808.0L)) CurrencyOverflow();
  return static_cast<int64_t>(r);
}

}  // namespace

Currency::Currency(int64_t Units) {
  if (__builtin_mul_overflow(Units, Scale, &FValue)) CurrencyOverflow();
}

Currency::Currency(long double Value) {
  FValue = CheckedRound(Value * Scale);  // a NaN fails its range check
}

Currency Currency::operator-() const {
  if (FValue == INT64_MIN) CurrencyOverflow();
  return FromRaw(-FValue);
}

Currency& Currency::operator+=(Currency B) {
  if (__builtin_add_overflow(FValue, B.FValue, &FValue)) CurrencyOverflow();
  return *this;
}

Currency& Currency::operator-=(Currency B) {
  if (__builtin_sub_overflow(FValue, B.FValue, &FValue)) CurrencyOverflow();
  return *this;
}

Currency& Currency::operator*=(Currency B) {
  __int128 p = static_cast<__int128>(FValue) * B.FValue;
  // Round half away from zero to ten-thousandths.
  __int128 q = p / Scale, r = p % Scale;
  if (r * 2 >= Scale)
    ++q;
  else if (r * 2 <= -Scale)
    --q;
  if (q > INT64_MAX || q < INT64_MIN) CurrencyOverflow();
  FValue = static_cast<int64_t>(q);
  return *this;
}

Currency& Currency::operator/=(Currency B) {
  if (B.FValue == 0) throw EOverflow("Division by zero");
  __int128 n = static_cast<__int128>(FValue) * Scale;
  __int128 q = n / B.FValue, r = n % B.FValue;
  __int128 absr = r < 0 ? -r : r, absd = B.FValue < 0 ? -static_cast<__int128>(B.FValue) : B.FValue;
  if (absr * 2 >= absd) q += ((n < 0) != (B.FValue < 0)) ? -1 : 1;
  if (q > INT64_MAX || q < INT64_MIN) CurrencyOverflow();
  FValue = static_cast<int64_t>(q);
  return *this;
}

// ---------------------------------------------------------------------------------------------
// Integer and float parsing

namespace {

[[noreturn]] void RaiseConvert(const char* Fmt, std::string_view S) {
  throw EConvertError(Format(Fmt, {std::string(S)}));
}

constexpr const char* SInvalidInteger = "'%s' is not a valid integer value";
constexpr const char* SInvalidFloat = "'%s' is not a valid floating point value";
constexpr const char* SInvalidDate = "'%s' is not a valid date";
constexpr const char* SInvalidTime = "'%s' is not a valid time";
constexpr const char* SInvalidDateTime = "'%s' is not a valid date and time";
constexpr const char* SDateEncodeError = "Invalid argument to date encode";
constexpr const char* STimeEncodeError = "Invalid argument to time encode";

// Classic integer scan: leading blanks, optional sign, decimal digits or a '$'/"0x" hexadecimal
// number; nothing may follow. Min/Max bound the signed result.
bool ScanInteger(std::string_view S, int64_t Min, int64_t Max, int64_t& Out) {
  size_t i = 0;
  while (i < S.size() && S[i] == ' ') ++i;
  bool neg = false;
  if (i < S.size() && (S[i] == '+' || S[i] == '-')) neg = S[i++] == '-';
  bool hex = false;
  if (i < S.size() && S[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < S.size() && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= S.size()) return false;
  unsigned __int128 v = 0;
  for (; i < S.size(); ++i) {
    int d;
    char c = S[i];
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + d;
    if (v > (static_cast<unsigned __int128>(1) << 64)) return false;
  }
  __int128 sv;
  if (hex && !neg && Max == INT64_MAX && v <= UINT64_MAX) {
    // A 64-bit hexadecimal literal may set the sign bit, as in the classic scanner.
    sv = static_cast<int64_t>(static_cast<uint64_t>(v));
  } else if (hex && !neg && Max == INT32_MAX && v <= UINT32_MAX) {
    sv = static_cast<int32_t>(static_cast<uint32_t>(v));
  } else {
    sv = neg ? -static_cast<__int128>(v) : static_cast<__int128>(v);
  }
  if (sv < Min || sv > Max) return false;
  Out = static_cast<int64_t>(sv);
  return true;
}

// Parses a float in the locale's notation: [blanks][sign]digits[sep digits][e[sign]digits][blanks].
bool ScanFloat(std::string_view S, long double& Out) {
  size_t i = 0, n = S.size();
  while (i < n && static_cast<unsigned char>(S[i]) <= ' ') ++i;
  while (n > i && static_cast<unsigned char>(S[n - 1]) <= ' ') --n;
  std::string c;  // C-locale text for strtold
  if (i < n && (S[i] == '+' || S[i] == '-')) c += S[i++];
  size_t digits = 0;
  while (i < n && std::isdigit(static_cast<unsigned char>(S[i]))) c += S[i++], ++digits;
  if (i < n && S[i] == FormatSettings.DecimalSeparator) {
    c += '.';
    ++i;
    while (i < n && std::isdigit(static_cast<unsigned char>(S[i]))) c += S[i++], ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (S[i] == 'e' || S[i] == 'E')) {
    c += 'e';
    ++i;
    if (i < n && (S[i] == '+' || S[i] == '-')) c += S[i++];
    size_t ed = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(S[i]))) c += S[i++], ++ed;
    if (ed == 0) return false;
  }
  if (i != n) return false;
  static locale_t cloc = newlocale(LC_NUMERIC_MASK, "C", nullptr);
  char* end = nullptr;
  long double v = strtold_l(c.c_str(), &end, cloc);
  if (end != c.c_str() + c.size() || std::isinf(v)) return false;
  Out = v;
  return true;
}

}  // namespace

bool TryStrToInt(std::string_view S, int32_t& Value) {
  int64_t v;
  if (!ScanInteger(S, INT32_MIN, INT32_MAX, v)) return false;
  Value = static_cast<int32_t>(v);
  return true;
}

bool TryStrToInt64(std::string_view S, int64_t& Value) { return ScanInteger(S, INT64_MIN, INT64_MAX, Value); }

int32_t StrToInt(std::string_view S) {
  int32_t v;
  if (!TryStrToInt(S, v)) RaiseConvert(SInvalidInteger, S);
  return v;
}

int64_t StrToInt64(std::string_view S) {
  int64_t v;
  if (!TryStrToInt64(S, v)) RaiseConvert(SInvalidInteger, S);
  return v;
}

int32_t StrToIntDef(std::string_view S, int32_t Default) {
  int32_t v;
  return TryStrToInt(S, v) ? v : Default;
}

int64_t StrToInt64Def(std::string_view S, int64_t Default) {
  int64_t v;
  return TryStrToInt64(S, v) ? v : Default;
}

bool TryStrToFloat(std::string_view S, long double& Value) { return ScanFloat(S, Value); }

bool TryStrToFloat(std::string_view S, double& Value) {
  long double v;
  if (!ScanFloat(S, v) || std::fabs(v) > static_cast<long double>(1.7976931348623157e308)) return false;
  Value = static_cast<double>(v);
  return true;
}

long double StrToFloat(std::string_view S) {
  long double v;
  if (!ScanFloat(S, v)) RaiseConvert(SInvalidFloat, S);
  return v;
}

long double StrToFloatDef(std::string_view S, long double Default) {
  long double v;
  return ScanFloat(S, v) ? v : Default;
}

bool TryStrToCurr(std::string_view S, Currency& Value) {
  long double v;
  if (!ScanFloat(S, v)) return false;
  try {
    Value = Currency(v);  // the range check of the type itself: down to its most negative amount
  } catch (const EOverflow&) {
    return false;
  }
  return true;
}

Currency StrToCurr(std::string_view S) {
  Currency v;
  if (!TryStrToCurr(S, v)) RaiseConvert(SInvalidFloat, S);
  return v;
}

// ---------------------------------------------------------------------------------------------
// Decimal digits of a value and rounding

namespace {

// A value as decimal digits: Value = 0.Digits * 10^Exponent. Digits carry no trailing zeros;
// an empty Digits is zero. Special is "NAN", "INF" or "-INF" for values that are not numbers.
struct TDecimal {
  bool Negative = false;
  std::string Digits;
  int Exponent = 0;
  std::string Special;
};

void StripTrailingZeros(TDecimal& D) {
  while (!D.Digits.empty() && D.Digits.back() == '0') D.Digits.pop_back();
  if (D.Digits.empty()) D.Exponent = 0;
}

// The classic conversion keeps 18 significant digits of an extended value before any rounding.
TDecimal FloatDigits(long double V) {
  TDecimal d;
  if (std::isnan(V)) {
    d.Special = "NAN";
    return d;
  }
  if (std::isinf(V)) {
    d.Special = V < 0 ? "-INF" : "INF";
    return d;
  }
  d.Negative = std::signbit(V);
  if (V == 0) {
    d.Negative = false;
    return d;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17Le", std::fabs(V));
  // buf: "d.ddddddddddddddddde[+-]xx"
  std::string s(buf);
  size_t e = s.find('e');
  d.Digits = s.substr(0, 1) + s.substr(2, e - 2);
  d.Exponent = std::atoi(s.c_str() + e + 1) + 1;
  StripTrailingZeros(d);
  return d;
}

// The digits of Raw / 10^Scale, all of them.
TDecimal ScaledDigits(int64_t Raw, int Scale) {
  TDecimal d;
  d.Negative = Raw < 0;
  uint64_t a = Raw < 0 ? 0 - static_cast<uint64_t>(Raw) : static_cast<uint64_t>(Raw);
  if (a == 0) {
    d.Negative = false;
    return d;
  }
  d.Digits = std::to_string(a);
  d.Exponent = static_cast<int>(d.Digits.size()) - Scale;
  StripTrailingZeros(d);
  return d;
}

TDecimal CurrencyDigits(Currency C) { return ScaledDigits(C.Raw(), 4); }

// Keeps at most Precision significant digits and at most Decimals digits after the point,
// rounding half away from zero. A result of zero keeps the sign so callers can pick sections.
void RoundDecimal(TDecimal& D, int Precision, int Decimals) {
  if (D.Digits.empty() || !D.Special.empty()) return;
  long keep = std::min<long>(Precision, static_cast<long>(D.Exponent) + Decimals);
  if (keep >= static_cast<long>(D.Digits.size())) return;
  if (keep < 0) {
    D.Digits.clear();
    D.Exponent = 0;
    return;
  }
  bool up = D.Digits[keep] >= '5';
  D.Digits.resize(keep);
  if (up) {
    long i = keep - 1;
    while (i >= 0 && D.Digits[i] == '9') D.Digits[i--] = '0';
    if (i >= 0)
      ++D.Digits[i];
    else {
      D.Digits.insert(D.Digits.begin(), '1');
      ++D.Exponent;
    }
  }
  StripTrailingZeros(D);
}

std::string Digit(const TDecimal& D, long Index) {
  return Index >= 0 && Index < static_cast<long>(D.Digits.size()) ? std::string(1, D.Digits[Index]) : "0";
}

// Integer part with optional grouping, then Decimals fraction digits.
std::string FixedText(const TDecimal& D, int Decimals, bool Thousands) {
  std::string r;
  int intDigits = std::max(D.Exponent, 1);
  for (int i = 0; i < intDigits; ++i) {
    r += D.Exponent > 0 ? Digit(D, i) : "0";
    int rest = intDigits - 1 - i;
    if (Thousands && rest > 0 && rest % 3 == 0 && FormatSettings.ThousandSeparator != 0)
      r += FormatSettings.ThousandSeparator;
  }
  if (Decimals > 0) {
    r += FormatSettings.DecimalSeparator;
    for (int i = 0; i < Decimals; ++i) r += Digit(D, D.Exponent + i);
  }
  return r;
}

std::string ExponentText(int Exp, int MinDigits, bool PlusSign) {
  std::string r = Exp < 0 ? "-" : (PlusSign ? "+" : "");
  std::string digits = std::to_string(Exp < 0 ? -Exp : Exp);
  if (static_cast<int>(digits.size()) < MinDigits) digits.insert(0, MinDigits - digits.size(), '0');
  return r + digits;
}

std::string WithCurrency(const std::string& Number, bool Negative) {
  const std::string& c = FormatSettings.CurrencyString;
  if (!Negative) {
    switch (FormatSettings.CurrencyFormat) {
      case 1: return Number + c;
      case 2: return c + " " + Number;
      case 3: return Number + " " + c;
      default: return c + Number;
    }
  }
  switch (FormatSettings.NegCurrFormat) {
    case 1: return "-" + c + Number;
    case 2: return c + "-" + Number;
    case 3: return c + Number + "-";
    case 4: return "(" + Number + c + ")";
    case 5: return "-" + Number + c;
    case 6: return Number + "-" + c;
    case 7: return Number + c + "-";
    case 8: return "-" + Number + " " + c;
    case 9: return "-" + c + " " + Number;
    case 10: return Number + " " + c + "-";
    case 11: return c + " " + Number + "-";
    case 12: return c + " -" + Number;
    case 13: return Number + "- " + c;
    case 14: return "(" + c + " " + Number + ")";
    case 15: return "(" + Number + " " + c + ")";
    default: return "(" + c + Number + ")";
  }
}

// The classic FloatToText over decimal digits. MaxPrecision is 18 for floats, 19 for currency.
std::string DecimalToText(TDecimal D, TFloatFormat Fmt, int Precision, int Digits, int MaxPrecision) {
  if (!D.Special.empty()) return D.Special;
  if (Precision < 1) Precision = 1;  // precision 0 of currency texts means "all digits"
  if (Precision > MaxPrecision) Precision = MaxPrecision;
  if (Digits < 0) Digits = 0;
  if (Digits > 18) Digits = 18;
  auto sign = [&](const TDecimal& R) { return R.Negative && !R.Digits.empty() ? "-" : ""; };
  auto general = [&](TDecimal R, int MinExpDigits) {
    RoundDecimal(R, Precision, 9999);
    if (R.Digits.empty()) return std::string("0");
    std::string s = sign(R);
    if (R.Exponent > Precision || R.Exponent < -3) {
      s += R.Digits.substr(0, 1);
      if (R.Digits.size() > 1) s += FormatSettings.DecimalSeparator + R.Digits.substr(1);
      s += "E" + ExponentText(R.Exponent - 1, MinExpDigits, false);
      return s;
    }
    int decimals = std::max(0, static_cast<int>(R.Digits.size()) - R.Exponent);
    return s + FixedText(R, decimals, false);
  };
  switch (Fmt) {
    case ffGeneral: return general(D, Digits > 4 ? 4 : Digits);
    case ffExponent: {
      RoundDecimal(D, Precision, 9999);
      std::string s = sign(D);
      int exp = D.Digits.empty() ? 0 : D.Exponent - 1;
      s += Digit(D, 0);
      s += FormatSettings.DecimalSeparator;
      for (int i = 1; i < Precision; ++i) s += Digit(D, i);
      return s + "E" + ExponentText(exp, Digits > 4 ? 4 : Digits, true);
    }
    case ffFixed:
    case ffNumber:
    case ffCurrency: {
      if (D.Exponent > Precision) return general(D, 0);
      RoundDecimal(D, Precision, Digits);
      std::string num = FixedText(D, Digits, Fmt != ffFixed);
      if (Fmt == ffCurrency) return WithCurrency(num, D.Negative && !D.Digits.empty());
      return sign(D) + num;
    }
  }
  return {};
}

// --- FormatFloat ---

struct TSection {
  std::string_view Text;
  int IntPlaces = 0, FirstIntZero = -1;  // digit places before the point, index of the first '0'
  int DecPlaces = 0, LastDecZero = -1;   // digit places after the point, index of the last '0'
  bool HasPoint = false, Thousands = false, Scientific = false;
};

// Splits the format into up to three sections at ';' outside quotes.
int SplitSections(std::string_view F, std::string_view Out[3]) {
  int n = 0;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i <= F.size(); ++i) {
    if (i < F.size() && quote) {
      if (F[i] == quote) quote = 0;
      continue;
    }
    if (i < F.size() && (F[i] == '"' || F[i] == '\'')) {
      quote = F[i];
      continue;
    }
    if (i == F.size() || F[i] == ';') {
      if (n < 3) Out[n++] = F.substr(start, i - start);
      if (n == 3) break;
      start = i + 1;
    }
  }
  return n;
}

TSection AnalyseSection(std::string_view T) {
  TSection s;
  s.Text = T;
  char quote = 0;
  for (size_t i = 0; i < T.size(); ++i) {
    char c = T[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'')
      quote = c;
    else if ((c == 'E' || c == 'e') && i + 1 < T.size() && (T[i + 1] == '+' || T[i + 1] == '-')) {
      s.Scientific = true;
      break;  // what follows is the exponent's own digits and literals
    } else if (c == '.')
      s.HasPoint = true;
    else if (c == ',')
      s.Thousands = true;
    else if (c == '0' || c == '#') {
      if (s.HasPoint) {
        if (c == '0') s.LastDecZero = s.DecPlaces;
        ++s.DecPlaces;
      } else {
        if (c == '0' && s.FirstIntZero < 0) s.FirstIntZero = s.IntPlaces;
        ++s.IntPlaces;
      }
    }
  }
  return s;
}

std::string ApplySection(const TSection& S, const TDecimal& R, int ExpValue) {
  // Integer digits to show, padded to the places from the first '0' on.
  std::string intDigits;
  if (S.Scientific) {
    for (int i = 0; i < S.IntPlaces; ++i) intDigits += Digit(R, i);
  } else {
    for (int i = 0; i < R.Exponent; ++i) intDigits += Digit(R, i);
  }
  if (!S.Scientific) {
    int minDigits = S.FirstIntZero >= 0 ? S.IntPlaces - S.FirstIntZero : 0;
    if (static_cast<int>(intDigits.size()) < minDigits) intDigits.insert(0, minDigits - intDigits.size(), '0');
  }
  int intStart = S.Scientific ? S.IntPlaces : R.Exponent;  // index of the first fraction digit
  std::string frac;
  for (int i = 0; i < S.DecPlaces; ++i) frac += Digit(R, intStart + i);
  int fracLen = S.DecPlaces;
  while (fracLen > S.LastDecZero + 1 && frac[fracLen - 1] == '0') --fracLen;
  frac.resize(fracLen);

  std::string out;
  const int L = static_cast<int>(intDigits.size());
  auto putInt = [&](int From, int To) {  // digits [From, To) of intDigits with grouping
    for (int i = From; i < To; ++i) {
      out += intDigits[i];
      int rest = L - 1 - i;
      if (S.Thousands && rest > 0 && rest % 3 == 0 && FormatSettings.ThousandSeparator != 0)
        out += FormatSettings.ThousandSeparator;
    }
  };
  int intPlace = 0, decPlace = 0;
  bool afterPoint = false, intDone = false;
  auto flushInt = [&]() {  // a format without integer places still shows the integer digits
    if (!intDone) {
      putInt(0, L);
      intDone = true;
    }
  };
  const std::string_view T = S.Text;
  char quote = 0;
  for (size_t i = 0; i < T.size(); ++i) {
    char c = T[i];
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        out += c;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      continue;
    }
    if (S.Scientific && (c == 'E' || c == 'e') && i + 1 < T.size() && (T[i + 1] == '+' || T[i + 1] == '-')) {
      if (S.IntPlaces == 0) flushInt();
      bool plus = T[i + 1] == '+';
      size_t j = i + 2;
      int expDigits = 0;
      while (j < T.size() && T[j] == '0') ++expDigits, ++j;
      out += c;
      out += ExponentText(ExpValue, expDigits, plus);
      i = j - 1;
      // The rest of the section is literal text.
      for (size_t k = j; k < T.size(); ++k) {
        char lc = T[k];
        if (lc == '"' || lc == '\'') {
          size_t e = T.find(lc, k + 1);
          if (e == std::string_view::npos) e = T.size();
          out.append(T.substr(k + 1, e - k - 1));
          k = e;
        } else {
          out += lc;
        }
      }
      break;
    }
    if (c == '0' || c == '#') {
      if (!afterPoint) {
        // Place intPlace of IntPlaces: shows the digit with (IntPlaces-1-intPlace) digits to its right;
        // the first place also shows every digit beyond the places.
        int right = S.IntPlaces - 1 - intPlace;
        if (intPlace == 0) {
          putInt(0, std::max(0, L - right));
          intDone = true;
        } else if (L > right) {
          putInt(L - 1 - right, L - right);
        }
        ++intPlace;
      } else {
        if (decPlace < fracLen) out += frac[decPlace];
        ++decPlace;
      }
      continue;
    }
    if (c == '.') {
      if (!afterPoint) {
        flushInt();
        afterPoint = true;
        if (fracLen > 0) out += FormatSettings.DecimalSeparator;
      }
      continue;
    }
    if (c == ',') continue;
    out += c;
  }
  flushInt();
  return out;
}

std::string FormatDecimal(std::string_view Fmt, const TDecimal& Value, int MaxPrecision) {
  if (!Value.Special.empty()) return Value.Special;
  std::string_view sections[3];
  int n = SplitSections(Fmt, sections);
  if (Fmt.empty() || n == 0) return DecimalToText(Value, ffGeneral, 15, 0, MaxPrecision);
  auto pick = [&](int i) -> std::string_view { return i < n && !sections[i].empty() ? sections[i] : sections[0]; };
  bool negSection = n >= 2 && !sections[1].empty();
  TSection s = AnalyseSection(Value.Negative ? pick(1) : pick(0));
  // Classic limit: numbers with more whole digits than the value type holds (18 for floats) are not
  // shown in a picture without an exponent.
  if (!s.Scientific && Value.Exponent > MaxPrecision) return DecimalToText(Value, ffGeneral, 15, 0, MaxPrecision);
  TDecimal r = Value;
  int expValue = 0;
  if (s.Scientific) {
    RoundDecimal(r, std::max(1, std::min(MaxPrecision, s.IntPlaces + s.DecPlaces)), 9999);
    if (!r.Digits.empty()) expValue = r.Exponent - s.IntPlaces;
  } else {
    RoundDecimal(r, MaxPrecision, s.DecPlaces);
  }
  if (r.Digits.empty()) {
    // Rounded to zero: the zero section when there is one, else the positive one, unsigned.
    if (n >= 3 && !sections[2].empty()) return ApplySection(AnalyseSection(sections[2]), TDecimal{}, 0);
    TSection p = AnalyseSection(sections[0]);
    TDecimal z;
    return ApplySection(p, z, 0);
  }
  std::string out = ApplySection(s, r, expValue);
  if (r.Negative && !negSection) out.insert(0, "-");
  return out;
}

}  // namespace

std::string FloatToStr(long double Value) { return DecimalToText(FloatDigits(Value), ffGeneral, 15, 0, 18); }

std::string FloatToStrF(long double Value, TFloatFormat Format, int Precision, int Digits) {
  return DecimalToText(FloatDigits(Value), Format, Precision, Digits, 18);
}

std::string FormatFloat(std::string_view Format, long double Value) {
  return FormatDecimal(Format, FloatDigits(Value), 18);
}

std::string CurrToStr(Currency Value) { return DecimalToText(CurrencyDigits(Value), ffGeneral, 19, 0, 19); }

std::string CurrToStrF(Currency Value, TFloatFormat Format, int Digits) {
  return DecimalToText(CurrencyDigits(Value), Format, 19, Digits, 19);
}

std::string FormatCurr(std::string_view Format, Currency Value) {
  return FormatDecimal(Format, CurrencyDigits(Value), 19);
}

std::string FormatScaled(std::string_view Format, int64_t Value, int Scale) {
  return FormatDecimal(Format, ScaledDigits(Value, Scale), 19);
}

std::string ScaledToStrF(int64_t Value, int Scale, TFloatFormat Format, int Digits) {
  return DecimalToText(ScaledDigits(Value, Scale), Format, 19, Digits, 19);
}

// ---------------------------------------------------------------------------------------------
// Calendar

namespace {

constexpr int64_t kDateDelta = 693594;  // days from 0001-01-01 (day 1) to 1899-12-30
constexpr uint16_t kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                        {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
constexpr double kMinDateTime = -693593.0;         // 0001-01-01
constexpr double kMaxDateTime = 2958465.99999999;  // 9999-12-31 23:59:59.999

// A date-time split into a day number (whole days from 1899-12-30, counted as the calendar goes)
// and the milliseconds of the day, with rounding carried into the day.
bool SplitDateTime(TDateTime DT, int64_t& Day, int64_t& MSec) {
  if (!std::isfinite(DT) || DT < kMinDateTime - 1 || DT > kMaxDateTime + 1) return false;
  double whole = std::trunc(DT);
  Day = static_cast<int64_t>(whole);
  MSec = std::llround(std::fabs(DT - whole) * MSecsPerDay);
  if (MSec >= 86400000) {
    MSec -= 86400000;
    ++Day;
  }
  return true;
}

void DayToDate(int64_t Day, uint16_t& Y, uint16_t& M, uint16_t& D) {
  int64_t t = Day + kDateDelta;  // days since 0001-01-01 is t-1... classic algorithm with t >= 1
  if (t <= 0) {
    Y = M = D = 0;
    return;
  }
  --t;
  int64_t y = 1;
  while (t >= 146097) t -= 146097, y += 400;
  int64_t i = t / 36524;
  int64_t d = t % 36524;
  if (i == 4) {
    --i;
    d += 36524;
  }
  y += i * 100;
  i = d / 1461;
  d %= 1461;
  y += i * 4;
  i = d / 365;
  d %= 365;
  if (i == 4) {
    --i;
    d += 365;
  }
  y += i;
  int leap = IsLeapYear(static_cast<uint16_t>(y)) ? 1 : 0;
  int m = 0;
  while (d >= kMonthDays[leap][m]) d -= kMonthDays[leap][m++];
  Y = static_cast<uint16_t>(y);
  M = static_cast<uint16_t>(m + 1);
  D = static_cast<uint16_t>(d + 1);
}

}  // namespace

bool IsLeapYear(uint16_t Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

uint16_t DaysInAMonth(uint16_t Year, uint16_t Month) {
  if (Month < 1 || Month > 12) return 0;
  return kMonthDays[IsLeapYear(Year) ? 1 : 0][Month - 1];
}

bool TryEncodeDate(uint16_t Year, uint16_t Month, uint16_t Day, TDateTime& Date) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInAMonth(Year, Month)) return false;
  int64_t d = Day;
  for (int m = 1; m < Month; ++m) d += DaysInAMonth(Year, m);
  int64_t i = Year - 1;
  Date = static_cast<double>(i * 365 + i / 4 - i / 100 + i / 400 + d - kDateDelta);
  return true;
}

TDateTime EncodeDate(uint16_t Year, uint16_t Month, uint16_t Day) {
  TDateTime d;
  if (!TryEncodeDate(Year, Month, Day, d)) throw EConvertError(SDateEncodeError);
  return d;
}

void DecodeDate(TDateTime Date, uint16_t& Year, uint16_t& Month, uint16_t& Day) {
  int64_t day, ms;
  if (!SplitDateTime(Date, day, ms)) {
    Year = Month = Day = 0;
    return;
  }
  DayToDate(day, Year, Month, Day);
}

bool TryEncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec, TDateTime& Time) {
  if (Hour >= 24 || Min >= 60 || Sec >= 60 || MSec >= 1000) return false;
  Time = (Hour * 3600000.0 + Min * 60000.0 + Sec * 1000.0 + MSec) / MSecsPerDay;
  return true;
}

TDateTime EncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec) {
  TDateTime t;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, t)) throw EConvertError(STimeEncodeError);
  return t;
}

void DecodeTime(TDateTime Time, uint16_t& Hour, uint16_t& Min, uint16_t& Sec, uint16_t& MSec) {
  int64_t day, ms;
  if (!SplitDateTime(Time, day, ms)) ms = 0;
  Hour = static_cast<uint16_t>(ms / 3600000);
  Min = static_cast<uint16_t>(ms / 60000 % 60);
  Sec = static_cast<uint16_t>(ms / 1000 % 60);
  MSec = static_cast<uint16_t>(ms % 1000);
}

int DayOfWeek(TDateTime Date) {
  int64_t day, ms;
  if (!SplitDateTime(Date, day, ms)) return 0;
  // Day 0 (1899-12-30) was a Saturday.
  return static_cast<int>(((day + kDateDelta) % 7 + 7) % 7) + 1;
}

TDateTime ComposeDateTime(TDateTime Date, TDateTime Time) {
  double d = std::trunc(Date), t = std::fabs(Time - std::trunc(Time));
  return d < 0 ? d - t : d + t;
}

// ---------------------------------------------------------------------------------------------
// Date and time texts

namespace {

std::string Pad(int64_t V, int Width) {
  std::string s = std::to_string(V);
  if (static_cast<int>(s.size()) < Width) s.insert(0, Width - s.size(), '0');
  return s;
}

bool StartsWithCI(std::string_view S, size_t Pos, std::string_view P) {
  return S.size() - Pos >= P.size() && SameText(S.substr(Pos, P.size()), P);
}

void AppendDateTime(std::string& Out, std::string_view F, TDateTime DT, int Depth);

// Whether an AM/PM specifier follows in the format, which makes hours 12-hour.
bool AmPmFollows(std::string_view F, size_t Pos) {
  char quote = 0;
  for (size_t i = Pos; i < F.size(); ++i) {
    if (quote) {
      if (F[i] == quote) quote = 0;
      continue;
    }
    if (F[i] == '"' || F[i] == '\'')
      quote = F[i];
    else if (StartsWithCI(F, i, "am/pm") || StartsWithCI(F, i, "a/p") || StartsWithCI(F, i, "ampm"))
      return true;
  }
  return false;
}

void AppendDateTime(std::string& Out, std::string_view F, TDateTime DT, int Depth) {
  if (Depth > 2) return;  // formats that name each other cannot loop
  const TFormatSettings& fs = FormatSettings;
  int64_t day = 0, ms = 0;
  uint16_t y = 0, mo = 0, d = 0;
  if (SplitDateTime(DT, day, ms)) DayToDate(day, y, mo, d);
  int h = static_cast<int>(ms / 3600000), n = static_cast<int>(ms / 60000 % 60);
  int s = static_cast<int>(ms / 1000 % 60), z = static_cast<int>(ms % 1000);
  bool lastWasHour = false;
  size_t i = 0;
  while (i < F.size()) {
    char c = F[i];
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto run = [&]() {  // length of the run of this letter, case-insensitive
      size_t j = i;
      while (j < F.size() && std::toupper(static_cast<unsigned char>(F[j])) == u) ++j;
      size_t len = j - i;
      i = j;
      return len;
    };
    bool hourNow = false;
    if (c == '"' || c == '\'') {
      size_t e = F.find(c, i + 1);
      if (e == std::string_view::npos) e = F.size();
      Out.append(F.substr(i + 1, e - i - 1));
      i = e + 1;
    } else if (u == 'A' && (StartsWithCI(F, i, "am/pm") || StartsWithCI(F, i, "a/p") || StartsWithCI(F, i, "ampm"))) {
      bool pm = h >= 12;
      if (StartsWithCI(F, i, "am/pm")) {
        std::string_view part = pm ? F.substr(i + 3, 2) : F.substr(i, 2);
        Out.append(part);
        i += 5;
      } else if (StartsWithCI(F, i, "a/p")) {
        Out += pm ? F[i + 2] : F[i];
        i += 3;
      } else {
        Out += pm ? fs.TimePMString : fs.TimeAMString;
        i += 4;
      }
    } else if (u == 'C') {
      run();
      AppendDateTime(Out, fs.ShortDateFormat, DT, Depth + 1);
      if (ms != 0) {
        Out += ' ';
        AppendDateTime(Out, fs.LongTimeFormat, DT, Depth + 1);
      }
    } else if (u == 'D') {
      size_t len = run();
      int dow = DayOfWeek(DT);
      switch (len) {
        case 1: Out += std::to_string(d); break;
        case 2: Out += Pad(d, 2); break;
        case 3: Out += dow ? fs.ShortDayNames[dow - 1] : ""; break;
        case 4: Out += dow ? fs.LongDayNames[dow - 1] : ""; break;
        case 5: AppendDateTime(Out, fs.ShortDateFormat, DT, Depth + 1); break;
        default: AppendDateTime(Out, fs.LongDateFormat, DT, Depth + 1); break;
      }
    } else if (u == 'Y') {
      size_t len = run();
      Out += len <= 2 ? Pad(y % 100, 2) : Pad(y, 4);
    } else if (u == 'M') {
      size_t len = run();
      if (lastWasHour && len <= 2) {
        Out += len == 1 ? std::to_string(n) : Pad(n, 2);
      } else {
        switch (len) {
          case 1: Out += std::to_string(mo); break;
          case 2: Out += Pad(mo, 2); break;
          case 3: Out += mo ? fs.ShortMonthNames[mo - 1] : ""; break;
          default: Out += mo ? fs.LongMonthNames[mo - 1] : ""; break;
        }
      }
    } else if (u == 'H') {
      size_t len = run();
      int hh = h;
      if (AmPmFollows(F, i)) {
        hh = h % 12;
        if (hh == 0) hh = 12;
      }
      Out += len == 1 ? std::to_string(hh) : Pad(hh, 2);
      hourNow = true;
    } else if (u == 'N') {
      size_t len = run();
      Out += len == 1 ? std::to_string(n) : Pad(n, 2);
    } else if (u == 'S') {
      size_t len = run();
      Out += len == 1 ? std::to_string(s) : Pad(s, 2);
    } else if (u == 'Z') {
      size_t len = run();
      Out += len == 1 ? std::to_string(z) : Pad(z, 3);
    } else if (u == 'T') {
      size_t len = run();
      AppendDateTime(Out, len == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, DT, Depth + 1);
    } else if (c == '/') {
      if (fs.DateSeparator) Out += fs.DateSeparator;
      ++i;
    } else if (c == ':') {
      if (fs.TimeSeparator) Out += fs.TimeSeparator;
      ++i;
    } else {
      Out += c;
      ++i;
    }
    // 'm' right after an hour (blanks and separators between do not count as letters) means minutes.
    if (hourNow)
      lastWasHour = true;
    else if (std::isalpha(static_cast<unsigned char>(u)) && u != 'M')
      lastWasHour = false;
    else if (u == 'M')
      lastWasHour = false;
  }
}

// --- parsing ---

struct TScanner {
  std::string_view S;
  size_t Pos = 0;
  void SkipBlanks() {
    while (Pos < S.size() && S[Pos] == ' ') ++Pos;
  }
  bool Char(char C) {
    SkipBlanks();
    if (Pos < S.size() && S[Pos] == C && C != 0) {
      ++Pos;
      return true;
    }
    return false;
  }
  // Unsigned number of at most 4 digits (as the classic scanner), Digits gives how many were read.
  bool Number(int& V, int& Digits) {
    SkipBlanks();
    size_t start = Pos;
    int64_t v = 0;
    while (Pos < S.size() && std::isdigit(static_cast<unsigned char>(S[Pos])) && Pos - start < 4)
      v = v * 10 + (S[Pos++] - '0');
    Digits = static_cast<int>(Pos - start);
    if (Digits == 0 || (Pos < S.size() && std::isdigit(static_cast<unsigned char>(S[Pos])))) {
      Pos = start;
      return false;
    }
    V = static_cast<int>(v);
    return true;
  }
  // An English or locale month name (short or long) in place of a month number.
  bool MonthName(int& V) {
    SkipBlanks();
    size_t j = Pos;
    while (j < S.size() && std::isalpha(static_cast<unsigned char>(S[j]))) ++j;
    std::string_view w = S.substr(Pos, j - Pos);
    if (w.empty()) return false;
    for (int m = 0; m < 12; ++m)
      if (SameText(w, FormatSettings.ShortMonthNames[m]) || SameText(w, FormatSettings.LongMonthNames[m])) {
        V = m + 1;
        Pos = j;
        return true;
      }
    return false;
  }
  bool AtEnd() {
    SkipBlanks();
    return Pos >= S.size();
  }
};

int CurrentYear() {
  uint16_t y, m, d;
  DecodeDate(Date(), y, m, d);
  return y;
}

bool ScanDate(TScanner& Sc, TDateTime& Out) {
  // Field order from the first of d, m, y in the short date format.
  enum { MDY, DMY, YMD } order = MDY;
  for (char c : FormatSettings.ShortDateFormat) {
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (u == 'D') {
      order = DMY;
      break;
    }
    if (u == 'M') {
      order = MDY;
      break;
    }
    if (u == 'Y') {
      order = YMD;
      break;
    }
  }
  const char sep = FormatSettings.DateSeparator;
  int v[3] = {0, 0, 0}, digits[3] = {0, 0, 0};
  // A month name may stand in either of the day and month places ("5/Mar/2024", "Mar/5/2024"); the
  // other place is then the day.
  int nameField = -1;
  int count = 0;
  for (int f = 0; f < 3; ++f) {
    if (f > 0 && !Sc.Char(sep)) break;
    bool ok = Sc.Number(v[f], digits[f]);
    if (!ok && nameField < 0 && (order == YMD ? f >= 1 : f <= 1) && Sc.MonthName(v[f])) {
      ok = true;
      nameField = f;
      digits[f] = 2;
    }
    if (!ok) return false;
    count = f + 1;
  }
  if (count < 2) return false;
  int y, m, d;
  bool yearGiven = true;
  if (count == 2) {
    yearGiven = false;
    y = CurrentYear();
    if (order == DMY)
      d = v[0], m = v[1];
    else
      m = v[0], d = v[1];  // MDY and YMD take month then day
  } else {
    switch (order) {
      case MDY: m = v[0], d = v[1], y = v[2]; break;
      case DMY: d = v[0], m = v[1], y = v[2]; break;
      default: y = v[0], m = v[1], d = v[2]; break;
    }
  }
  if (yearGiven && digits[order == YMD ? 0 : 2] <= 2) {
    int cur = CurrentYear();
    int window = FormatSettings.TwoDigitYearCenturyWindow;
    if (window > 0) {
      int base = cur - window;
      y += base / 100 * 100;
      if (y < base) y += 100;
    } else {
      y += cur / 100 * 100;
    }
  }
  if (nameField >= 0) {
    int first = order == YMD ? 1 : 0;
    m = v[nameField];
    d = v[nameField == first ? first + 1 : first];
    if (count == 2 && order == YMD) d = v[nameField == 0 ? 1 : 0];
  }
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  return TryEncodeDate(static_cast<uint16_t>(y), static_cast<uint16_t>(m), static_cast<uint16_t>(d), Out);
}

bool ScanAmPm(TScanner& Sc, int& Which) {  // Which: 0 am, 1 pm
  Sc.SkipBlanks();
  const std::string* names[4] = {&FormatSettings.TimeAMString, &FormatSettings.TimePMString, nullptr, nullptr};
  static const std::string am = "AM", pm = "PM";
  names[2] = &am;
  names[3] = &pm;
  for (int k = 0; k < 4; ++k) {
    const std::string& w = *names[k];
    if (!w.empty() && StartsWithCI(Sc.S, Sc.Pos, w)) {
      Sc.Pos += w.size();
      Which = k % 2;
      return true;
    }
  }
  return false;
}

bool ScanTime(TScanner& Sc, TDateTime& Out) {
  int amPm = -1;
  int h, n = 0, s = 0, ms = 0, dg;
  if (!Sc.Number(h, dg)) return false;
  if (Sc.Char(FormatSettings.TimeSeparator)) {
    if (!Sc.Number(n, dg)) return false;
    if (Sc.Char(FormatSettings.TimeSeparator)) {
      if (!Sc.Number(s, dg)) return false;
      if (Sc.Char(FormatSettings.DecimalSeparator)) {
        if (!Sc.Number(ms, dg)) return false;
        // The fraction is read as milliseconds by its digits: ".5" is 500 ms.
        for (; dg < 3; ++dg) ms *= 10;
      }
    }
  }
  ScanAmPm(Sc, amPm);
  if (amPm >= 0) {
    if (h == 0 || h > 12) return false;
    if (h == 12) h = 0;
    if (amPm == 1) h += 12;
  }
  if (h > 23 || n > 59 || s > 59 || ms > 999) return false;
  return TryEncodeTime(static_cast<uint16_t>(h), static_cast<uint16_t>(n), static_cast<uint16_t>(s),
                       static_cast<uint16_t>(ms), Out);
}

}  // namespace

std::string FormatDateTime(std::string_view Format, TDateTime DateTime) {
  std::string out;
  AppendDateTime(out, Format.empty() ? std::string_view("c") : Format, DateTime, 0);
  return out;
}

std::string DateToStr(TDateTime Date) { return FormatDateTime(FormatSettings.ShortDateFormat, Date); }
std::string TimeToStr(TDateTime Time) { return FormatDateTime(FormatSettings.LongTimeFormat, Time); }
std::string DateTimeToStr(TDateTime DateTime) { return FormatDateTime("c", DateTime); }

bool TryStrToDate(std::string_view S, TDateTime& Value) {
  TScanner sc{S};
  TDateTime d;
  if (!ScanDate(sc, d) || !sc.AtEnd()) return false;
  Value = d;
  return true;
}

bool TryStrToTime(std::string_view S, TDateTime& Value) {
  TScanner sc{S};
  TDateTime t;
  if (!ScanTime(sc, t) || !sc.AtEnd()) return false;
  Value = t;
  return true;
}

bool TryStrToDateTime(std::string_view S, TDateTime& Value) {
  TScanner sc{S};
  TDateTime d, t = 0;
  if (ScanDate(sc, d)) {
    if (sc.AtEnd() || (ScanTime(sc, t) && sc.AtEnd())) {
      Value = ComposeDateTime(d, t);
      return true;
    }
  }
  return TryStrToTime(S, Value);
}

TDateTime StrToDate(std::string_view S) {
  TDateTime v;
  if (!TryStrToDate(S, v)) RaiseConvert(SInvalidDate, S);
  return v;
}

TDateTime StrToTime(std::string_view S) {
  TDateTime v;
  if (!TryStrToTime(S, v)) RaiseConvert(SInvalidTime, S);
  return v;
}

TDateTime StrToDateTime(std::string_view S) {
  TDateTime v;
  if (!TryStrToDateTime(S, v)) RaiseConvert(SInvalidDateTime, S);
  return v;
}

// ---------------------------------------------------------------------------------------------
// Current date and time

TDateTime Date() { return std::trunc(Now()); }

TDateTime Time() {
  TDateTime n = Now();
  return n - std::trunc(n);
}
