#include "dblib/IB_Constants.h"

#include <gtest/gtest.h>

#include "dblib/IB_Errors.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

TEST(MessageTable, Holds158TextsFrom65040To65199WithoutThePlatformsTwo) {
  int count = 0;
  for (int id = 65000; id < 65300; ++id)
    if (!IB_LoadStr(id).empty()) ++count;
  EXPECT_EQ(count, 158);
  EXPECT_TRUE(IB_LoadStr(65184).empty());
  EXPECT_TRUE(IB_LoadStr(65185).empty());
  EXPECT_TRUE(IB_LoadStr(65039).empty());
  EXPECT_TRUE(IB_LoadStr(65200).empty());
}

TEST(MessageTable, TextsAreVerbatim) {
  EXPECT_EQ(IB_LoadStr(65040), "Recall Last Search Criteria");
  EXPECT_EQ(IB_LoadStr(65073), "Records counted: %d");
  EXPECT_EQ(IB_LoadStr(65103), "&Help");
  EXPECT_EQ(IB_LoadStr(65127), "53bit integer overflow");
  EXPECT_EQ(IB_LoadStr(65135), "InterBase Client GDS32.DLL is not installed");
  EXPECT_EQ(IB_LoadStr(65169), "Cannot update, %s is not owned by %s");
  EXPECT_EQ(IB_LoadStr(65182), "Record key was lost\n\rFailed to open cursor");
  EXPECT_EQ(IB_LoadStr(65183), "Cannot Prepare a blank statement");
  EXPECT_EQ(IB_LoadStr(65186), "Connection has already been established");
  EXPECT_EQ(IB_LoadStr(65199), "Failed to post all datasets");
}

TEST(MessageTable, RaisingFillsPlaceholdersSafely) {
  EXPECT_EQ(MessageOf<EIB_StatementError>([&] { IB_Raise<EIB_StatementError>(65178, {std::string("%s%n%d")}); }),
            "FieldName: %s%n%d not found");
  EXPECT_EQ(MessageOf<EIB_Error>([&] { IB_Raise<EIB_Error>(65176, {int64_t{999}}); }), "Unsupported Column type: 999");
}

}  // namespace
