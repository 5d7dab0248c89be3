// What the fields row shows once its dataset has closed.
#include <gtest/gtest.h>

#include "DatasetTestSupport.h"

namespace {

using datasettest::DatasetDbTest;

class ClosedFieldsTest : public DatasetDbTest {};

TEST_F(ClosedFieldsTest, AClosedDatasetsFieldsKeepTheRowItStoodOnUntilTheNextOpen) {
  Fill(4);
  TIB_Cursor* cur = NewCursor();
  cur->First();
  cur->Next();
  cur->Close();
  EXPECT_FALSE(cur->GetActive());
  EXPECT_EQ(2, cur->FieldByName("ID")->GetAsInteger());
  EXPECT_EQ("n2", cur->FieldByName("NAME")->GetAsString());

  TIB_Query* qry = NewQuery();
  qry->Open();
  qry->Last();
  qry->Close();
  EXPECT_EQ(4, qry->FieldByName("ID")->GetAsInteger());
  EXPECT_EQ("n4", qry->FieldByName("NAME")->GetAsString());
  // Walked past its last row, a cursor has no current row to keep.
  cur->First();
  EXPECT_EQ(4, Walk(cur));
  cur->Close();
  EXPECT_TRUE(cur->FieldByName("ID")->GetIsNull());
  // The next open shows its own first row.
  qry->Open();
  EXPECT_EQ(1, qry->FieldByName("ID")->GetAsInteger());
}

}  // namespace
