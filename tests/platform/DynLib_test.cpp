#include "platform/DynLib.h"

#include <gtest/gtest.h>

#include "platform/FpuGuard.h"

namespace {

TEST(DynLib, LoadsALibraryAndFindsItsSymbols) {
  TDynLib lib;
  ASSERT_TRUE(lib.Load("libm.so.6")) << lib.LastError();
  EXPECT_NE(lib.Symbol("cos"), nullptr);
  EXPECT_EQ(lib.Symbol("no_such_symbol_here"), nullptr);
  lib.Unload();
  EXPECT_FALSE(lib.Loaded());
  EXPECT_EQ(lib.Symbol("cos"), nullptr);
}

TEST(DynLib, AMissingLibraryIsReportedNotThrown) {
  TDynLib lib;
  EXPECT_FALSE(lib.Load("libno-such-library.so.1"));
  EXPECT_FALSE(lib.Loaded());
  EXPECT_NE(lib.LastError().find("libno-such-library"), std::string::npos);
}

#if defined(__x86_64__) || defined(__i386__)
TEST(FpuGuard, RestoresTheControlWordAndMxcsr) {
  uint16_t cw0 = 0, cw1 = 0;
  uint32_t mx0 = 0, mx1 = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw0));
  __asm__ __volatile__("stmxcsr %0" : "=m"(mx0));
  {
    TFpuGuard guard;
    // What a foreign library might do: mask differently and round toward zero.
    uint16_t cw = static_cast<uint16_t>(cw0 ^ 0x0C00);
    uint32_t mx = mx0 ^ 0x6000;
    __asm__ __volatile__("fldcw %0" : : "m"(cw));
    __asm__ __volatile__("ldmxcsr %0" : : "m"(mx));
  }
  __asm__ __volatile__("fnstcw %0" : "=m"(cw1));
  __asm__ __volatile__("stmxcsr %0" : "=m"(mx1));
  EXPECT_EQ(cw1, cw0);
  EXPECT_EQ(mx1 & ~0x3Fu, mx0 & ~0x3Fu);  // control bits; the low six are sticky status flags
}
#endif

}  // namespace
