#include "dblib/uRounding.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>

#include "platform/SysUtils.h"

namespace {

double R(int Precision, long double Value) { return static_cast<double>(RoundToPrecision(Precision, Value)); }
double T(int Precision, long double Value) { return static_cast<double>(TruncToPrecision(Precision, Value)); }

std::string MessageOf(void (*Call)()) {
  try {
    Call();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "(no exception)";
}

TEST(RoundToPrecision, RoundsHalfAwayFromZeroWhereBinaryValuesFallShort) {
  // Each of these is stored just below the half step, so double arithmetic rounds it down.
  EXPECT_EQ(R(2, 2.675), 2.68);
  EXPECT_EQ(R(2, 1.005), 1.01);
  EXPECT_EQ(R(2, 0.285), 0.29);
  EXPECT_EQ(R(2, 1.115), 1.12);
  EXPECT_EQ(R(1, 0.35), 0.4);
  EXPECT_EQ(R(3, 1.0005), 1.001);
  EXPECT_EQ(R(2, -2.675), -2.68);
  EXPECT_EQ(R(2, -1.005), -1.01);
  EXPECT_EQ(R(2, -0.285), -0.29);
  EXPECT_EQ(R(0, 0.5), 1.0);
  EXPECT_EQ(R(0, -0.5), -1.0);
  EXPECT_EQ(R(0, 2.5), 3.0);
  EXPECT_EQ(R(0, -2.5), -3.0);
}

TEST(RoundToPrecision, RoundsScaledFractionsFromPoint499Away) {
  EXPECT_EQ(R(3, 0.4995), 0.5);
  EXPECT_EQ(R(0, 0.4992), 1.0);
  EXPECT_EQ(R(0, 0.4985), 0.0);
  EXPECT_EQ(R(0, -0.4992), -1.0);
  EXPECT_EQ(R(2, 2.674), 2.67);
  EXPECT_EQ(R(2, -2.674), -2.67);
  EXPECT_EQ(R(2, 12.344995), 12.35);
  EXPECT_EQ(R(2, 12.3449), 12.34);
  EXPECT_EQ(R(2, 12.3448), 12.34);
}

TEST(RoundToPrecision, ResultIsTheNearestExtendedToTheDecimal) {
  EXPECT_EQ(RoundToPrecision(2, 2.675), 268.0L / 100);
  EXPECT_EQ(RoundToPrecision(4, 1.23456), 12346.0L / 10000);
}

TEST(RoundToPrecision, KeepsZeroNanAndInfinitiesUnchanged) {
  EXPECT_EQ(RoundToPrecision(2, 0.0L), 0.0L);
  EXPECT_TRUE(std::signbit(RoundToPrecision(2, -0.0L)));
  EXPECT_TRUE(std::isnan(RoundToPrecision(2, std::numeric_limits<long double>::quiet_NaN())));
  EXPECT_EQ(RoundToPrecision(2, std::numeric_limits<long double>::infinity()),
            std::numeric_limits<long double>::infinity());
  EXPECT_EQ(RoundToPrecision(2, -std::numeric_limits<long double>::infinity()),
            -std::numeric_limits<long double>::infinity());
}

TEST(RoundToPrecision, LeavesLargeWholeValuesAlone) {
  const double Big = 9007199254740991.0;  // 2^53 - 1
  EXPECT_EQ(R(2, Big), Big);
  EXPECT_EQ(R(12, Big), Big);
  EXPECT_EQ(R(0, -Big), -Big);
  EXPECT_EQ(R(0, 4503599627370495.5), 4503599627370496.0);
  EXPECT_EQ(R(2, 1e300), 1e300);
  EXPECT_EQ(R(12, -std::numeric_limits<double>::max()), -std::numeric_limits<double>::max());
  // Scaling the largest extended values would overflow: they come back as they are.
  const long double Huge = std::numeric_limits<long double>::max();
  EXPECT_EQ(RoundToPrecision(12, Huge), Huge);
  EXPECT_EQ(TruncToPrecision(12, -Huge), -Huge);
}

TEST(RoundToPrecision, HandlesTinyValues) {
  EXPECT_EQ(R(2, 0.004), 0.0);
  EXPECT_EQ(R(2, 0.004995), 0.01);
  EXPECT_EQ(R(12, std::numeric_limits<double>::denorm_min()), 0.0);
  EXPECT_EQ(R(12, -std::numeric_limits<double>::denorm_min()), 0.0);
}

TEST(TruncToPrecision, CutsTowardZero) {
  EXPECT_EQ(T(2, 2.679), 2.67);
  EXPECT_EQ(T(2, -2.679), -2.67);
  EXPECT_EQ(T(0, 1.998), 1.0);
  EXPECT_EQ(T(0, -1.5), -1.0);
  EXPECT_EQ(T(2, 2.6798), 2.67);
}

TEST(TruncToPrecision, CountsValuesJustBelowAStepAsThatStep) {
  EXPECT_EQ(T(2, 2.67999), 2.68);
  EXPECT_EQ(T(2, -2.67999), -2.68);
  // Stored just below the decimal: a naive cut loses a cent.
  EXPECT_EQ(T(2, 0.29), 0.29);
  EXPECT_EQ(T(2, 1.15), 1.15);
  EXPECT_EQ(T(2, 4.35), 4.35);
  EXPECT_EQ(T(2, -0.29), -0.29);
  EXPECT_EQ(T(0, 8.9999999), 9.0);
}

TEST(TruncToPrecision, KeepsZeroNanAndInfinitiesUnchanged) {
  EXPECT_EQ(TruncToPrecision(4, 0.0L), 0.0L);
  EXPECT_TRUE(std::isnan(TruncToPrecision(4, std::numeric_limits<long double>::quiet_NaN())));
  EXPECT_EQ(TruncToPrecision(4, std::numeric_limits<long double>::infinity()),
            std::numeric_limits<long double>::infinity());
}

TEST(RoundToScaledInt, ReturnsTheRoundedScaledValue) {
  EXPECT_EQ(RoundToScaledInt(2, 12.345), 1235);
  EXPECT_EQ(RoundToScaledInt(2, -12.345), -1235);
  EXPECT_EQ(RoundToScaledInt(2, 1.005), 101);
  EXPECT_EQ(RoundToScaledInt(0, 0.5), 1);
  EXPECT_EQ(RoundToScaledInt(4, 0.0), 0);
  EXPECT_EQ(RoundToScaledInt(9, 2.147483647), 2147483647);
  EXPECT_EQ(RoundToScaledInt(0, -2147483648.0), -2147483647 - 1);
  EXPECT_EQ(RoundToScaledInt(0, 2147483646.6), 2147483647);
}

TEST(RoundToScaledInt, RaisesOutsideTheIntegerRangeInsteadOfWrapping) {
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(0, 2147483647.5); }), "Scaled value out of Integer range");
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(2, 21474836.48); }), "Scaled value out of Integer range");
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(0, -2147483648.5); }), "Scaled value out of Integer range");
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(12, 1e300); }), "Scaled value out of Integer range");
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(0, 9007199254740993.0); }), "Scaled value out of Integer range");
}

TEST(RoundToScaledInt, RaisesForNanAndInfinities) {
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(2, std::numeric_limits<long double>::quiet_NaN()); }),
            "Scaled value out of Integer range");
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(2, std::numeric_limits<long double>::infinity()); }),
            "Scaled value out of Integer range");
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(2, -std::numeric_limits<long double>::infinity()); }),
            "Scaled value out of Integer range");
}

TEST(ScaledIntToFloat, DividesByThePowerOfTen) {
  EXPECT_EQ(ScaledIntToFloat(1235, 2), 12.35L);
  EXPECT_EQ(ScaledIntToFloat(-1235, 2), -12.35L);
  EXPECT_EQ(ScaledIntToFloat(5, 0), 5.0L);
  EXPECT_EQ(ScaledIntToFloat(2147483647, 12), 2147483647.0L / 1e12L);
  EXPECT_EQ(static_cast<double>(ScaledIntToFloat(-2147483647 - 1, 4)), -214748.3648);
}

TEST(Precision, TwelveIsTheLargest) {
  EXPECT_EQ(R(12, 0.1234567890125), 0.123456789013);
  EXPECT_EQ(T(12, 0.1234567890125), 0.123456789012);
  EXPECT_EQ(RoundToScaledInt(12, 0.0012345678905), 1234567891);
  EXPECT_EQ(ScaledIntToFloat(1, 12), 1.0L / 1e12L);
  for (int Precision = 13; Precision <= 18; ++Precision) {
    SCOPED_TRACE(Precision);
    auto Expect = [](auto Call) {
      try {
        Call();
        ADD_FAILURE() << "no exception";
      } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Rounding precision too large");
      }
    };
    Expect([&] { RoundToPrecision(Precision, 1.5); });
    Expect([&] { TruncToPrecision(Precision, 1.5); });
    Expect([&] { RoundToScaledInt(Precision, 1.5); });
    Expect([&] { ScaledIntToFloat(15, Precision); });
    // The precision is checked before the value is looked at.
    Expect([&] { RoundToPrecision(Precision, 0.0L); });
  }
}

TEST(Precision, NegativeIsRejected) {
  EXPECT_EQ(MessageOf([] { RoundToPrecision(-1, 1.5); }), "Rounding precision negative");
  EXPECT_EQ(MessageOf([] { TruncToPrecision(-1, 1.5); }), "Rounding precision negative");
  EXPECT_EQ(MessageOf([] { RoundToScaledInt(-3, 1.5); }), "Rounding precision negative");
  EXPECT_EQ(MessageOf([] { ScaledIntToFloat(1, -1); }), "Rounding precision negative");
}

TEST(Precision, EveryPrecisionRoundsAHalfStepAway) {
  for (int Precision = 0; Precision <= 12; ++Precision) {
    SCOPED_TRACE(Precision);
    const long double Step = 1.0L / std::pow(10.0L, Precision);
    const double Value = static_cast<double>(3 * Step + Step / 2);  // 3.5 steps
    EXPECT_EQ(RoundToScaledInt(Precision, Value), 4);
    EXPECT_EQ(RoundToScaledInt(Precision, -Value), -4);
    EXPECT_EQ(static_cast<double>(TruncToPrecision(Precision, Value) * std::pow(10.0L, Precision)), 3.0);
  }
}

#if defined(__x86_64__) || defined(__i386__)
uint16_t ControlWord() {
  uint16_t Cw;
  asm volatile("fnstcw %0" : "=m"(Cw));
  return Cw;
}
void SetControlWord(uint16_t Cw) { asm volatile("fldcw %0" : : "m"(Cw)); }

TEST(ControlWord, ResultsDoNotDependOnTheCallersControlWordWhichIsKept) {
  const uint16_t Saved = ControlWord();
  // Double precision and rounding toward plus infinity, as a foreign library might leave them.
  const uint16_t Foreign = static_cast<uint16_t>((Saved & ~0x0F00u) | 0x0200u | 0x0800u);
  SetControlWord(Foreign);
  const long double Rounded = RoundToPrecision(2, 2.675);
  const long double Cut = TruncToPrecision(2, 0.29);
  const int32_t Scaled = RoundToScaledInt(2, -2.675);
  const long double Back = ScaledIntToFloat(1235, 2);
  const uint16_t After = ControlWord();
  SetControlWord(Saved);
  EXPECT_EQ(After, Foreign);
  EXPECT_EQ(Rounded, 268.0L / 100);
  EXPECT_EQ(Cut, 29.0L / 100);
  EXPECT_EQ(Scaled, -268);
  EXPECT_EQ(Back, 12.35L);
}

TEST(ControlWord, IsRestoredWhenAPrecisionIsRefused) {
  const uint16_t Saved = ControlWord();
  EXPECT_THROW(RoundToPrecision(13, 1.0), Exception);
  EXPECT_THROW(RoundToScaledInt(0, 1e20), Exception);
  EXPECT_EQ(ControlWord(), Saved);
}
#endif

TEST(IsWholeNumber, AcceptsWholeValuesBelowTwoTo53) {
  EXPECT_TRUE(IsWholeNumber(0.0));
  EXPECT_TRUE(IsWholeNumber(-0.0));
  EXPECT_TRUE(IsWholeNumber(1.0));
  EXPECT_TRUE(IsWholeNumber(3.0));
  EXPECT_TRUE(IsWholeNumber(-3.0));
  EXPECT_TRUE(IsWholeNumber(9007199254740991.0));
  EXPECT_TRUE(IsWholeNumber(-9007199254740991.0));
  EXPECT_TRUE(IsWholeNumber(4503599627370496.0));
}

TEST(IsWholeNumber, RejectsFractionsSmallMagnitudesAndTwoTo53AndMore) {
  EXPECT_FALSE(IsWholeNumber(0.5));
  EXPECT_FALSE(IsWholeNumber(-0.5));
  EXPECT_FALSE(IsWholeNumber(1.5));
  EXPECT_FALSE(IsWholeNumber(4503599627370495.5));
  EXPECT_FALSE(IsWholeNumber(9007199254740992.0));
  EXPECT_FALSE(IsWholeNumber(-9007199254740992.0));
  EXPECT_FALSE(IsWholeNumber(1e300));
  EXPECT_FALSE(IsWholeNumber(std::numeric_limits<double>::denorm_min()));
  EXPECT_FALSE(IsWholeNumber(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(IsWholeNumber(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(IsWholeNumber(-std::numeric_limits<double>::infinity()));
}

}  // namespace
