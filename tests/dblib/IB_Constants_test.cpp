#include "dblib/IB_Constants.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

TEST(MessageTable, TextsAreVerbatim) {
  const std::pair<int, const char*> cases[] = {
      {65040, "Recall Last Search Criteria"},
      {65073, "Records counted: %d"},
      {65103, "&Help"},
      {65127, "53bit integer overflow"},
      {65135, "InterBase Client GDS32.DLL is not installed"},
      {65169, "Cannot update, %s is not owned by %s"},
      {65182, "Record key was lost\n\rFailed to open cursor"},
      {65183, "Cannot Prepare a blank statement"},
      {65186, "Connection has already been established"},
      {65199, "Failed to post all datasets"},
      {IBMsg::TextContainsNul, "%s contains a NUL character"},
      // Ids outside the table, and the two texts the platform layer owns, have no text here.
      {65039, ""},
      {65184, ""},
      {65200, ""},
  };
  for (const auto& [id, text] : cases) EXPECT_EQ(IB_LoadStr(id), text) << id;
}

TEST(MessageTable, RaisingFillsPlaceholdersSafely) {
  EXPECT_EQ(MessageOf<EIB_StatementError>(
                [&] { IB_Raise<EIB_StatementError>(IBMsg::FieldNameNotFound, {std::string("%s%n%d")}); }),
            "FieldName: %s%n%d not found");
  EXPECT_EQ(MessageOf<EIB_Error>([&] { IB_Raise<EIB_Error>(IBMsg::UnsupportedColumnType, {int64_t{999}}); }),
            "Unsupported Column type: 999");
}

}  // namespace
