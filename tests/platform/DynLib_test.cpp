#include "platform/DynLib.h"

#include <gtest/gtest.h>

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

}  // namespace
