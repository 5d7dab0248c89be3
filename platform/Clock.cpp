#include "platform/Clock.h"

#include <atomic>
#include <ctime>

namespace {

std::atomic<TTickSource> gTickSource{nullptr};
std::atomic<TNowSource> gNowSource{nullptr};

// 1970-01-01 counted from 1899-12-30.
constexpr double kUnixEpochDays = 25569.0;

uint64_t SystemTick() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

TDateTime SystemNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  time_t secs = ts.tv_sec;
  localtime_r(&secs, &local);
  const double seconds = static_cast<double>(ts.tv_sec + local.tm_gmtoff) + ts.tv_nsec / 1e9;
  return kUnixEpochDays + seconds / 86400.0;
}

}  // namespace

uint64_t GetTickCount64() {
  TTickSource s = gTickSource.load(std::memory_order_acquire);
  return s ? s() : SystemTick();
}

TDateTime Now() {
  TNowSource s = gNowSource.load(std::memory_order_acquire);
  return s ? s() : SystemNow();
}

void SetTickSource(TTickSource Source) { gTickSource.store(Source, std::memory_order_release); }
void SetNowSource(TNowSource Source) { gNowSource.store(Source, std::memory_order_release); }
