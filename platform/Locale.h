// Locale settings and the classic text conversions of numbers, currency values and dates: the
// stand-in for the platform's locale support. One process-wide FormatSettings object drives every
// conversion here; SQL text written by the library never goes through these functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/SysUtils.h"

// Raised when an arithmetic result does not fit its type (currency overflow).
class EOverflow : public Exception {
public:
  using Exception::Exception;
};

// The locale's separators, formats and names. Defaults are the US English settings.
struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char ListSeparator = ',';
  std::string ShortDateFormat = "m/d/yyyy";
  std::string LongDateFormat = "dddd, mmmm d, yyyy";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  std::string CurrencyString = "$";
  uint8_t CurrencyFormat = 0;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
  uint8_t NegCurrFormat = 0;   // 0 "($1)" ... 15 "(1 $)", the classic sixteen layouts
  uint8_t CurrencyDecimals = 2;
  // Two-digit years are taken within this many years before the current year (0: current century).
  int TwoDigitYearCenturyWindow = 50;
  std::string ShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::string LongMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};
  std::string ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::string LongDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
};

// The settings every conversion uses. Not synchronised: set it before threads start converting.
extern TFormatSettings FormatSettings;

// A fixed-point amount: a 64-bit count of ten-thousandths.
class Currency {
public:
  static constexpr int64_t Scale = 10000;

  constexpr Currency() = default;
  // From a whole number of units; EOverflow when it does not fit.
  Currency(int64_t Units);
  Currency(int Units) : Currency(static_cast<int64_t>(Units)) {}
  // From a floating value, rounded to the nearest ten-thousandth (ties to even, like the FPU);
  // EOverflow when out of range or not a number.
  explicit Currency(long double Value);
  explicit Currency(double Value) : Currency(static_cast<long double>(Value)) {}

  static constexpr Currency FromRaw(int64_t TenThousandths) {
    Currency c;
    c.FValue = TenThousandths;
    return c;
  }
  constexpr int64_t Raw() const { return FValue; }
  long double ToExtended() const { return static_cast<long double>(FValue) / Scale; }
  double ToDouble() const { return static_cast<double>(ToExtended()); }

  Currency operator-() const;
  Currency& operator+=(Currency B);
  Currency& operator-=(Currency B);
  Currency& operator*=(Currency B);
  Currency& operator/=(Currency B);
  friend Currency operator+(Currency A, Currency B) { return A += B; }
  friend Currency operator-(Currency A, Currency B) { return A -= B; }
  friend Currency operator*(Currency A, Currency B) { return A *= B; }
  friend Currency operator/(Currency A, Currency B) { return A /= B; }
  friend constexpr auto operator<=>(Currency A, Currency B) = default;

private:
  int64_t FValue = 0;
};

// TDateTime (platform/Clock.h): days since 1899-12-30 with the time of day as the fraction.
// Negative values count the time part backwards: -1.25 is 1899-12-29 06:00.

inline constexpr double HoursPerDay = 24;
inline constexpr double MinsPerDay = 24 * 60;
inline constexpr double SecsPerDay = 24 * 60 * 60;
inline constexpr double MSecsPerDay = 24 * 60 * 60 * 1000.0;

// Integer conversions: leading blanks, a sign and a '$' or "0x" hexadecimal prefix are accepted.
int32_t StrToInt(std::string_view S);
int64_t StrToInt64(std::string_view S);
int32_t StrToIntDef(std::string_view S, int32_t Default);
int64_t StrToInt64Def(std::string_view S, int64_t Default);
bool TryStrToInt(std::string_view S, int32_t& Value);
bool TryStrToInt64(std::string_view S, int64_t& Value);

// Float conversions through the locale's decimal separator; blanks at both ends are allowed,
// thousand separators are not.
long double StrToFloat(std::string_view S);
long double StrToFloatDef(std::string_view S, long double Default);
bool TryStrToFloat(std::string_view S, long double& Value);
bool TryStrToFloat(std::string_view S, double& Value);
Currency StrToCurr(std::string_view S);
bool TryStrToCurr(std::string_view S, Currency& Value);

enum TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// 15 significant digits; exponent form such as "1E20" when the value needs it.
std::string FloatToStr(long double Value);
std::string FloatToStrF(long double Value, TFloatFormat Format, int Precision, int Digits);
// Picture formats: '0' and '#' digit places, '.', ',' grouping, "E+"/"E-" exponents, quoted text,
// and up to three ';' sections (positive, negative, zero).
std::string FormatFloat(std::string_view Format, long double Value);
std::string CurrToStr(Currency Value);
std::string CurrToStrF(Currency Value, TFloatFormat Format, int Digits);
std::string FormatCurr(std::string_view Format, Currency Value);
// A 64-bit integer that stands for Value / 10^Scale (Scale 0..18), as FormatFloat and FloatToStrF
// would show that number, with all of its digits: nothing goes through floating point.
std::string FormatScaled(std::string_view Format, int64_t Value, int Scale);
std::string ScaledToStrF(int64_t Value, int Scale, TFloatFormat Format, int Digits);

// Calendar.
bool IsLeapYear(uint16_t Year);
uint16_t DaysInAMonth(uint16_t Year, uint16_t Month);
TDateTime EncodeDate(uint16_t Year, uint16_t Month, uint16_t Day);  // EConvertError when invalid
bool TryEncodeDate(uint16_t Year, uint16_t Month, uint16_t Day, TDateTime& Date);
void DecodeDate(TDateTime Date, uint16_t& Year, uint16_t& Month, uint16_t& Day);
TDateTime EncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec);  // EConvertError when invalid
bool TryEncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec, TDateTime& Time);
void DecodeTime(TDateTime Time, uint16_t& Hour, uint16_t& Min, uint16_t& Sec, uint16_t& MSec);
// 1 Sunday .. 7 Saturday.
int DayOfWeek(TDateTime Date);
// A date plus a time of day, following the rule for negative values.
TDateTime ComposeDateTime(TDateTime Date, TDateTime Time);

// Date and time texts in the locale's formats.
std::string DateToStr(TDateTime Date);
std::string TimeToStr(TDateTime Time);
std::string DateTimeToStr(TDateTime DateTime);
std::string FormatDateTime(std::string_view Format, TDateTime DateTime);
TDateTime StrToDate(std::string_view S);
TDateTime StrToTime(std::string_view S);
TDateTime StrToDateTime(std::string_view S);
bool TryStrToDate(std::string_view S, TDateTime& Value);
bool TryStrToTime(std::string_view S, TDateTime& Value);
bool TryStrToDateTime(std::string_view S, TDateTime& Value);

// Today and the time of day, from the clock module's Now().
TDateTime Date();
TDateTime Time();
