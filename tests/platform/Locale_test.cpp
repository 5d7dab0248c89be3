#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/Clock.h"

namespace {

// Every test starts from the default US settings and restores them afterwards.
class LocaleTest : public ::testing::Test {
protected:
  void SetUp() override { FormatSettings = TFormatSettings(); }
  void TearDown() override { FormatSettings = TFormatSettings(); }
};

std::string ConvertMessage(void (*F)()) {
  try {
    F();
  } catch (const EConvertError& e) {
    return e.Message();
  }
  return "<no error>";
}

TEST_F(LocaleTest, IntegerTextAcceptsSignsBlanksAndHex) {
  EXPECT_EQ(StrToInt("  -42"), -42);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x10"), 16);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToIntDef("x", 5), 5);
}

TEST_F(LocaleTest, IntegerTextFailuresUseTheClassicMessage) {
  EXPECT_EQ(ConvertMessage([] { StrToInt("12a"); }), "'12a' is not a valid integer value");
  EXPECT_EQ(ConvertMessage([] { StrToInt("2147483648"); }), "'2147483648' is not a valid integer value");
  EXPECT_EQ(ConvertMessage([] { StrToInt(""); }), "'' is not a valid integer value");
  EXPECT_EQ(ConvertMessage([] { StrToInt("5 "); }), "'5 ' is not a valid integer value");
  EXPECT_EQ(ConvertMessage([] { StrToInt64("99999999999999999999"); }),
            "'99999999999999999999' is not a valid integer value");
  // A caller's text is never taken as format text.
  EXPECT_EQ(ConvertMessage([] { StrToInt("%s%d"); }), "'%s%d' is not a valid integer value");
}

TEST_F(LocaleTest, FloatTextFollowsTheDecimalSeparator) {
  EXPECT_EQ(StrToFloat(" 1.5 "), 1.5L);
  EXPECT_EQ(StrToFloat("-2.5e3"), -2500.0L);
  EXPECT_EQ(StrToFloat(".5"), 0.5L);
  EXPECT_EQ(ConvertMessage([] { StrToFloat("1,5"); }), "'1,5' is not a valid floating point value");
  EXPECT_EQ(ConvertMessage([] { StrToFloat("1e"); }), "'1e' is not a valid floating point value");
  EXPECT_EQ(ConvertMessage([] { StrToFloat("1,000.5"); }), "'1,000.5' is not a valid floating point value");
  FormatSettings.DecimalSeparator = ',';
  EXPECT_EQ(StrToFloat("1,5"), 1.5L);
  EXPECT_THROW(StrToFloat("1.5"), EConvertError);
  long double v = 0;
  EXPECT_FALSE(TryStrToFloat("nan", v));
  EXPECT_FALSE(TryStrToFloat("1e999999", v));
}

TEST_F(LocaleTest, FloatToStrUsesFifteenDigitsAndExponentForm) {
  EXPECT_EQ(FloatToStr(1e20), "1E20");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
  EXPECT_EQ(FloatToStr(-1234.5678), "-1234.5678");
  EXPECT_EQ(FloatToStr(-0.0), "0");
  EXPECT_EQ(FloatToStr(0.00001), "1E-5");
  EXPECT_EQ(FloatToStr(123456789012345.0), "123456789012345");
  EXPECT_EQ(FloatToStr(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(NAN), "NAN");
  EXPECT_EQ(FloatToStr(-INFINITY), "-INF");
  FormatSettings.DecimalSeparator = ',';
  EXPECT_EQ(FloatToStr(2.25), "2,25");
}

TEST_F(LocaleTest, FloatToStrFFormats) {
  EXPECT_EQ(FloatToStrF(1234.5, ffFixed, 15, 2), "1234.50");
  EXPECT_EQ(FloatToStrF(1234.5, ffNumber, 15, 2), "1,234.50");
  EXPECT_EQ(FloatToStrF(-1234567.125, ffNumber, 15, 2), "-1,234,567.13");
  EXPECT_EQ(FloatToStrF(0.125, ffFixed, 15, 2), "0.13");  // half away from zero
  EXPECT_EQ(FloatToStrF(1e20, ffFixed, 15, 2), "1E20");
  EXPECT_EQ(FloatToStrF(1234.5, ffExponent, 4, 2), "1.235E+03");
  EXPECT_EQ(FloatToStrF(1234.5, ffCurrency, 15, 2), "$1,234.50");
  EXPECT_EQ(FloatToStrF(1.23456789, ffFixed, 3, 4), "1.2300");  // the precision asked is kept
  EXPECT_EQ(FloatToStrF(-0.987654, ffCurrency, 2, 3), "($0.990)");
  EXPECT_EQ(FloatToStrF(-1234.5, ffCurrency, 15, 2), "($1,234.50)");
  FormatSettings.NegCurrFormat = 1;
  EXPECT_EQ(FloatToStrF(-5, ffCurrency, 15, 0), "-$5");
  FormatSettings.CurrencyFormat = 3;
  FormatSettings.CurrencyString = "EUR";
  EXPECT_EQ(FloatToStrF(5, ffCurrency, 15, 1), "5.0 EUR");
}

TEST_F(LocaleTest, FormatFloatPictures) {
  EXPECT_EQ(FormatFloat("#,##0.00", 1234.5), "1,234.50");
  EXPECT_EQ(FormatFloat("#,##0.00", -1234567.891), "-1,234,567.89");
  EXPECT_EQ(FormatFloat("0.00", 0.125), "0.13");
  EXPECT_EQ(FormatFloat("0.0#", 1.256), "1.26");
  EXPECT_EQ(FormatFloat("#.##", 0.5), ".5");
  EXPECT_EQ(FormatFloat("000", 7), "007");
  EXPECT_EQ(FormatFloat("#", 1234.5), "1235");
  EXPECT_EQ(FormatFloat("0", -0.4), "0");
  EXPECT_EQ(FormatFloat("0.00E+00", 12345), "1.23E+04");
  EXPECT_EQ(FormatFloat("0.00E-00", 0.00012345), "1.23E-04");
  EXPECT_EQ(FormatFloat("#.##############E-0", 1234.5), "1.2345E3");
  EXPECT_EQ(FormatFloat("#.##############E-0", -0.00125), "-1.25E-3");
  EXPECT_EQ(FormatFloat("\"Total: \"0.0", 2), "Total: 2.0");
  EXPECT_EQ(FormatFloat("0.0;(0.0);'zero'", -2), "(2.0)");
  EXPECT_EQ(FormatFloat("0.0;(0.0);'zero'", 0.01), "zero");
  EXPECT_EQ(FormatFloat("0.0;;'zero'", -3), "-3.0");
  EXPECT_EQ(FormatFloat("", 0.1), "0.1");
  // The numeric column picture: 18 digit places.
  EXPECT_EQ(FormatFloat("###############0.00", -0.5), "-0.50");
  FormatSettings.DecimalSeparator = ',';
  FormatSettings.ThousandSeparator = '.';
  EXPECT_EQ(FormatFloat("#,##0.00", 1234.5), "1.234,50");
}

TEST_F(LocaleTest, CurrencyArithmeticIsExact) {
  Currency a = StrToCurr("0.1"), b = StrToCurr("0.2");
  EXPECT_EQ((a + b).Raw(), 3000);
  EXPECT_EQ(Currency(1.23456).Raw(), 12346);
  EXPECT_EQ((Currency(2) * StrToCurr("1.5")).Raw(), 30000);
  EXPECT_EQ((Currency(1) / Currency(3)).Raw(), 3333);
  EXPECT_EQ((Currency(-2) / Currency(3)).Raw(), -6667);
  EXPECT_THROW(Currency::FromRaw(INT64_MAX) + Currency::FromRaw(1), EOverflow);
  EXPECT_THROW(Currency(1e300), EOverflow);
  EXPECT_THROW(Currency(1) / Currency(), EOverflow);
}

TEST_F(LocaleTest, CurrencyTexts) {
  EXPECT_EQ(CurrToStr(StrToCurr("1.5")), "1.5");
  EXPECT_EQ(CurrToStr(StrToCurr("-0.0001")), "-0.0001");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(INT64_MAX)), "922337203685477.5807");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(INT64_MIN)), "-922337203685477.5808");
  EXPECT_EQ(CurrToStrF(StrToCurr("1234.565"), ffCurrency, 2), "$1,234.57");
  EXPECT_EQ(FormatCurr("#,##0.00", StrToCurr("1234.5")), "1,234.50");
  EXPECT_EQ(ConvertMessage([] { StrToCurr("1x"); }), "'1x' is not a valid floating point value");
  EXPECT_THROW(StrToCurr("1e20"), EConvertError);
}

TEST_F(LocaleTest, CurrencyRangeEdges) {
  // The whole range converts both ways, down to the most negative amount.
  EXPECT_EQ(StrToCurr(CurrToStr(Currency::FromRaw(INT64_MIN))).Raw(), INT64_MIN);
  EXPECT_EQ(StrToCurr(CurrToStr(Currency::FromRaw(INT64_MAX))).Raw(), INT64_MAX);
  EXPECT_EQ(Currency(-922337203685477.5808L).Raw(), INT64_MIN);
  // Just above the largest amount rounds past it: an overflow, never a wrapped negative amount.
  EXPECT_THROW(Currency(922337203685477.58075L), EOverflow);
  Currency c;
  EXPECT_FALSE(TryStrToCurr("922337203685477.5809", c));
  EXPECT_FALSE(TryStrToCurr("-922337203685477.5809", c));
}

TEST_F(LocaleTest, EncodeAndDecodeDates) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593);
  uint16_t y, m, d;
  DecodeDate(EncodeDate(9999, 12, 31), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 99991231);
  DecodeDate(-1.25, y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  TDateTime t;
  EXPECT_FALSE(TryEncodeDate(2000, 13, 1, t));
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 1, 1)), 2);  // a Monday
  EXPECT_EQ(DayOfWeek(-1), 6);                      // 1899-12-29, a Friday
}

TEST_F(LocaleTest, NegativeDatesCountTheTimeBackwards) {
  uint16_t h, n, s, ms;
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(h, 6);
  EXPECT_EQ(DateTimeToStr(-1.25), "12/29/1899 06:00:00");
  EXPECT_EQ(ComposeDateTime(-1, 0.25), -1.25);
  EXPECT_EQ(StrToDateTime("12/29/1899 06:00"), -1.25);
  EXPECT_EQ(DateToStr(EncodeDate(1850, 7, 4)), "7/4/1850");
}

TEST_F(LocaleTest, EncodeAndDecodeTimes) {
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  uint16_t h, n, s, ms;
  DecodeTime(EncodeTime(23, 59, 59, 999), h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 235959999);
  // A value a hair before midnight rounds to the next day's midnight, not to 24:00.
  TDateTime almost = 1 - 1e-10;
  EXPECT_EQ(DateTimeToStr(almost), "12/31/1899");
}

TEST_F(LocaleTest, DateTimeTextsAndFormatSpecifiers) {
  TDateTime dt = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 45);
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", dt), "2024/03/05 14:07:09.045");
  EXPECT_EQ(FormatDateTime("d-m-yy h:n:s z", dt), "5-3-24 14:7:9 45");
  EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", dt), "Tue Tuesday Mar March");
  EXPECT_EQ(FormatDateTime("hh:mm", dt), "14:07");  // m after h is minutes
  EXPECT_EQ(FormatDateTime("h:nn am/pm", dt), "2:07 pm");
  EXPECT_EQ(FormatDateTime("h:nn AM/PM", EncodeTime(0, 5, 0, 0)), "12:05 AM");
  EXPECT_EQ(FormatDateTime("h a/p", dt), "2 p");
  EXPECT_EQ(FormatDateTime("h ampm", dt), "2 PM");
  EXPECT_EQ(FormatDateTime("\"on\" dddd 'at' hh", dt), "on Tuesday at 14");
  EXPECT_EQ(FormatDateTime("ddddd t", dt), "3/5/2024 14:07");
  EXPECT_EQ(DateToStr(dt) + " " + TimeToStr(dt), "3/5/2024 14:07:09");
  EXPECT_EQ(DateTimeToStr(dt), "3/5/2024 14:07:09");
  EXPECT_EQ(DateTimeToStr(0), "12/30/1899");
  FormatSettings.DateSeparator = '.';
  FormatSettings.TimeSeparator = '-';
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", dt), "05.03.2024 14-07");
}

TEST_F(LocaleTest, ParsingDatesAndTimes) {
  EXPECT_EQ(StrToDate("3/5/2024"), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDate(" 12/30/1899 "), 0);
  EXPECT_EQ(StrToDate("5/Mar/2024"), EncodeDate(2024, 3, 5));  // a month name in the day or month place
  EXPECT_EQ(StrToDate("march/5/2024"), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToTime("14:07:09"), EncodeTime(14, 7, 9, 0));
  EXPECT_EQ(StrToTime("2:30 PM"), EncodeTime(14, 30, 0, 0));
  EXPECT_EQ(StrToTime("12:00 am"), 0);
  EXPECT_EQ(StrToTime("10:00:01.5"), EncodeTime(10, 0, 1, 500));
  EXPECT_EQ(StrToDateTime("3/5/2024 14:07"), EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 0, 0));
  EXPECT_EQ(StrToDateTime("14:07"), EncodeTime(14, 7, 0, 0));
  EXPECT_EQ(ConvertMessage([] { StrToDate("2/30/2024"); }), "'2/30/2024' is not a valid date");
  EXPECT_EQ(ConvertMessage([] { StrToDate("x"); }), "'x' is not a valid date");
  EXPECT_EQ(ConvertMessage([] { StrToTime("25:00"); }), "'25:00' is not a valid time");
  EXPECT_EQ(ConvertMessage([] { StrToDateTime("3/5/2024 x"); }), "'3/5/2024 x' is not a valid date and time");
  FormatSettings.ShortDateFormat = "dd.mm.yyyy";
  FormatSettings.DateSeparator = '.';
  EXPECT_EQ(StrToDate("05.03.2024"), EncodeDate(2024, 3, 5));
  FormatSettings.ShortDateFormat = "yyyy-mm-dd";
  FormatSettings.DateSeparator = '-';
  EXPECT_EQ(StrToDate("2024-03-05"), EncodeDate(2024, 3, 5));
}

TEST_F(LocaleTest, TwoDigitYearsUseTheCenturyWindow) {
  uint16_t cy, m, d;
  DecodeDate(Date(), cy, m, d);
  uint16_t y;
  DecodeDate(StrToDate("1/1/" + std::to_string((cy + 1) % 100)), y, m, d);
  EXPECT_EQ(y, cy + 1);
  DecodeDate(StrToDate("1/1/" + std::to_string((cy - 60) % 100)), y, m, d);
  EXPECT_EQ(y, cy + 40);
}

TEST_F(LocaleTest, RoundTripsThroughTheLocale) {
  FormatSettings.DecimalSeparator = ',';
  FormatSettings.DateSeparator = '-';
  FormatSettings.ShortDateFormat = "d/m/yyyy";
  TDateTime dt = EncodeDate(1961, 11, 30) + EncodeTime(8, 15, 30, 0);
  EXPECT_EQ(DateTimeToStr(dt), "30-11-1961 08:15:30");
  EXPECT_EQ(StrToDateTime(DateTimeToStr(dt)), dt);
  EXPECT_EQ(StrToFloat(FloatToStr(-12.75)), -12.75L);
}

TEST_F(LocaleTest, DateAndTimeFollowTheClock) {
  SetNowSource([] { return EncodeDate(2024, 3, 5) + EncodeTime(18, 0, 0, 0); });
  EXPECT_EQ(Date(), EncodeDate(2024, 3, 5));
  EXPECT_EQ(Time(), 0.75);
  EXPECT_EQ(DateTimeToStr(Now()), "3/5/2024 18:00:00");
  SetNowSource(nullptr);
  EXPECT_GT(Date(), EncodeDate(2020, 1, 1));
}

}  // namespace
