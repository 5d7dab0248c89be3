#include "dblib/uRounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "platform/SysUtils.h"

namespace {

constexpr long double kInf = std::numeric_limits<long double>::infinity();
constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();

std::string MessageOf(const std::function<void()>& Call) {
  try {
    Call();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "(no exception)";
}

struct Case {
  int Precision;
  long double Value;
  double Expected;
};

TEST(RoundToPrecision, RoundsHalfAwayFromZeroFromScaledFractionsOfPoint499) {
  // Most of these are stored just below the half step, where double arithmetic rounds down.
  const Case cases[] = {{2, 2.675, 2.68},
                        {2, 1.005, 1.01},
                        {2, 0.285, 0.29},
                        {1, 0.35, 0.4},
                        {3, 1.0005, 1.001},
                        {2, -2.675, -2.68},
                        {0, 0.5, 1},
                        {0, -2.5, -3},
                        {3, 0.4995, 0.5},
                        {0, 0.4992, 1},
                        {0, 0.4985, 0},
                        {0, -0.4992, -1},
                        {2, 2.674, 2.67},
                        {2, 12.344995, 12.35},
                        {2, 12.3448, 12.34},
                        {2, 0.004, 0},
                        {12, 0.1234567890125, 0.123456789013},
                        {0, 4503599627370495.5, 4503599627370496.0},
                        {2, 9007199254740991.0, 9007199254740991.0},
                        {2, 1e300, 1e300},
                        {12, std::numeric_limits<double>::denorm_min(), 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Precision << " " << static_cast<double>(c.Value));
    EXPECT_EQ(static_cast<double>(RoundToPrecision(c.Precision, c.Value)), c.Expected);
  }
  // The result is the extended value nearest to the decimal.
  EXPECT_EQ(RoundToPrecision(2, 2.675), 268.0L / 100);
}

TEST(TruncToPrecision, CutsTowardZeroButCountsValuesJustBelowAStepAsThatStep) {
  const Case cases[] = {{2, 2.679, 2.67},   {2, -2.679, -2.67},
                        {0, -1.5, -1},      {2, 2.6798, 2.67},
                        {2, 2.67999, 2.68}, {2, -2.67999, -2.68},
                        {2, 0.29, 0.29},    {2, 4.35, 4.35},
                        {0, 8.9999999, 9},  {12, 0.1234567890125, 0.123456789012}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Precision << " " << static_cast<double>(c.Value));
    EXPECT_EQ(static_cast<double>(TruncToPrecision(c.Precision, c.Value)), c.Expected);
  }
}

TEST(Rounding, ZeroNanInfinitiesAndHugeValuesComeBackAsTheyAre) {
  const long double huge = std::numeric_limits<long double>::max();
  for (auto* fn : {&RoundToPrecision, &TruncToPrecision}) {
    EXPECT_TRUE(std::signbit(fn(2, -0.0L)));
    EXPECT_TRUE(std::isnan(fn(2, kNaN)));
    EXPECT_EQ(fn(2, -kInf), -kInf);
    EXPECT_EQ(fn(12, huge), huge);  // scaling would overflow
  }
}

TEST(RoundToScaledInt, GivesTheRoundedScaledValueAndRaisesOutsideTheIntegerRange) {
  const std::pair<Case, int32_t> cases[] = {{{2, 12.345, 0}, 1235},
                                            {{2, -12.345, 0}, -1235},
                                            {{2, 1.005, 0}, 101},
                                            {{9, 2.147483647, 0}, 2147483647},
                                            {{0, -2147483648.0, 0}, INT32_MIN},
                                            {{12, 0.0012345678905, 0}, 1234567891}};
  for (const auto& [c, expected] : cases) EXPECT_EQ(RoundToScaledInt(c.Precision, c.Value), expected);
  for (long double bad : {2147483647.5L, -2147483648.5L, 1e300L, 9007199254740993.0L, kNaN, kInf, -kInf}) {
    EXPECT_EQ(MessageOf([&] { RoundToScaledInt(0, bad); }), "Scaled value out of Integer range");
  }
}

TEST(ScaledIntToFloat, DividesByThePowerOfTen) {
  EXPECT_EQ(ScaledIntToFloat(-1235, 2), -12.35L);
  EXPECT_EQ(ScaledIntToFloat(2147483647, 12), 2147483647.0L / 1e12L);
}

TEST(Precision, FromZeroToTwelveRoundsAHalfStepAwayAndOthersAreRefused) {
  for (int p = 0; p <= 12; ++p) {
    const long double step = 1.0L / std::pow(10.0L, p);
    const double value = static_cast<double>(3.5L * step);
    EXPECT_EQ(RoundToScaledInt(p, value), 4) << p;
    EXPECT_EQ(RoundToScaledInt(p, -value), -4) << p;
  }
  const std::function<void(int)> calls[] = {
      [](int p) { RoundToPrecision(p, 0.0L); }, [](int p) { TruncToPrecision(p, 1.5); },
      [](int p) { RoundToScaledInt(p, 1.5); }, [](int p) { ScaledIntToFloat(15, p); }};
  for (const auto& call : calls) {
    EXPECT_EQ(MessageOf([&] { call(13); }), "Rounding precision too large");
    EXPECT_EQ(MessageOf([&] { call(-1); }), "Rounding precision negative");
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
  const uint16_t saved = ControlWord();
  // Double precision and rounding toward plus infinity, as a foreign library might leave them.
  const uint16_t foreign = static_cast<uint16_t>((saved & ~0x0F00u) | 0x0200u | 0x0800u);
  SetControlWord(foreign);
  const long double rounded = RoundToPrecision(2, 2.675);
  const int32_t scaled = RoundToScaledInt(2, -2.675);
  bool refused = false;
  try {
    RoundToPrecision(13, 1.0);
  } catch (const Exception&) {
    refused = true;
  }
  const uint16_t after = ControlWord();
  SetControlWord(saved);
  EXPECT_EQ(after, foreign);
  EXPECT_TRUE(refused);
  EXPECT_EQ(rounded, 268.0L / 100);
  EXPECT_EQ(scaled, -268);
}
#endif

TEST(IsWholeNumber, OnlyWholeValuesBelowTwoTo53) {
  for (double v : {0.0, -0.0, 3.0, 9007199254740991.0, -9007199254740991.0}) EXPECT_TRUE(IsWholeNumber(v)) << v;
  for (double v : {0.5, 4503599627370495.5, 9007199254740992.0, -9007199254740992.0, 1e300,
                   std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(IsWholeNumber(v)) << v;
  }
}

}  // namespace
