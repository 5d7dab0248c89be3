#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(Clock, NowCountsDaysSince18991230InLocalTime) {
  const time_t t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  const TDateTime now = Now();
  const double days = static_cast<double>(t + local.tm_gmtoff) / 86400.0 + 25569.0;
  EXPECT_NEAR(now, days, 5.0 / 86400.0);
}

}  // namespace
