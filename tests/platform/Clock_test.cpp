#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

uint64_t FixedTick() { return 123456; }
TDateTime FixedNow() { return 45000.5; }

TEST(Clock, NowCountsDaysSince18991230InLocalTime) {
  const time_t t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  const TDateTime now = Now();
  const double days = static_cast<double>(t + local.tm_gmtoff) / 86400.0 + 25569.0;
  EXPECT_NEAR(now, days, 5.0 / 86400.0);
}

TEST(Clock, SourcesCanBeReplacedAndRestored) {
  SetTickSource(&FixedTick);
  SetNowSource(&FixedNow);
  EXPECT_EQ(GetTickCount64(), 123456u);
  EXPECT_EQ(Now(), 45000.5);
  SetTickSource(nullptr);
  SetNowSource(nullptr);
  EXPECT_NE(Now(), 45000.5);
}

}  // namespace
