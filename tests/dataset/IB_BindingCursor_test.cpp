#include "dblib/dataset/IB_BindingCursor.h"

#include <gtest/gtest.h>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

using datasettest::DatasetDbTest;
using testsupport::MessageOf;

class BindingCursorTest : public DatasetDbTest {
protected:
  TIB_Query* Open(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText(SQL);
    q->Open();
    return q;
  }
  static std::string Name(TIB_Dataset* D) { return D->GetFields()->ColumnByName("NAME")->GetAsString(); }
  static int32_t Id(TIB_Dataset* D) { return D->GetFields()->ColumnByName("ID")->GetAsInteger(); }
};

// A row whose bookmark is invalidated is read again by its key: changed values show, and a row gone at
// the server leaves the buffer with the next row shown. Rows not invalidated cost no server read.
TEST_F(BindingCursorTest, InvalidatedRowsAreReadAgainByKey) {
  Fill(6);
  TIB_Query* q = Open("SELECT ID, NAME FROM T WHERE ID > :MIN ORDER BY ID");
  q->Close();
  q->GetParams()->ColumnByName("MIN")->SetAsInteger(1);
  q->Open();
  q->Last();
  q->SetRowNum(2);  // ID 3
  const std::string three = q->GetBookmark();
  q->SetRowNum(3);
  const std::string four = q->GetBookmark();
  Exec("UPDATE T SET NAME = 'new' WHERE ID IN (3, 5)");
  Exec("DELETE FROM T WHERE ID = 4");
  q->SetRowNum(2);
  q->InvalidateBookmark(three);
  EXPECT_EQ(Name(q), "new");
  q->SetRowNum(4);  // ID 5: still the buffered values
  EXPECT_EQ(Name(q), "n5");
  q->InvalidateBookmark(four);
  q->SetRowNum(3);
  EXPECT_EQ(Id(q), 5);
  EXPECT_EQ(q->GetBufferCount(), 4);
  EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { q->InvalidateBookmark(four.substr(2)); }), "Invalid Bookmark String");
  EXPECT_NE(q->GetCursorName(), q->GetFieldsCursor()->GetCursorName());
}

TEST_F(BindingCursorTest, AKeyThatFindsTwoRowsRaisesWithTheStatement) {
  Fill(6);
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT GRP, NAME FROM T ORDER BY ID");
  TIB_StringList links;
  links.SetText("T.GRP");
  q->SetKeyLinks(links);
  q->Open();
  ASSERT_EQ(Name(q), "n1");
  const std::string message = MessageOf<EIB_DatasetError>([&] { q->RefreshRow(); });
  EXPECT_EQ(message.rfind("Multiple rows in singleton fetch\r\n\r\nSELECT * FROM (", 0), 0u) << message;
  EXPECT_EQ(Name(q), "n1");
  Exec("DELETE FROM T WHERE GRP = 1");
  EXPECT_FALSE(q->RefreshRow());
  EXPECT_EQ(Name(q), "n2");
}

// What a grid does before it paints: the visible rows are buffered, those whose values were dropped
// are read again, and rows gone at the server leave.
TEST_F(BindingCursorTest, ARowRangeIsLoadedForPainting) {
  Fill(30);
  struct Grid : TIB_Query {
    using TIB_Query::SysFetchRowRange;
    using TIB_Query::TIB_Query;
  };
  auto* q = new Grid(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
  q->Open();
  q->SysFetchRowRange(20, 11);
  EXPECT_EQ(q->GetBufferCount(), 20);
  Exec("UPDATE T SET NAME = 'new' WHERE ID = 12");
  Exec("DELETE FROM T WHERE ID = 13");
  q->RefreshRows();  // every row's values dropped
  q->SysFetchRowRange(11, 20);
  EXPECT_EQ(q->GetBufferCount(), 19);
  EXPECT_GT(q->GetNodeList().LocateVisibleRow(19).Node->RecordLength, 0);
  EXPECT_EQ(q->GetNodeList().LocateVisibleRow(5).Node->RecordLength, 0);  // outside the range: not read
  q->SetBufferRowNum(12);
  EXPECT_EQ(q->BufferFieldByName("NAME")->GetAsString(), "new");
  q->SetBufferRowNum(13);
  EXPECT_EQ(q->BufferFieldByName("ID")->GetAsInteger(), 14);
}

}  // namespace
