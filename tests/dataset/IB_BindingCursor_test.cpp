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
  for (int again : {0, 1}) {  // the second read finds the key columns as well as the first
    SCOPED_TRACE(again);
    q->InvalidateBookmark(three);
    EXPECT_EQ(Name(q), "new");
    EXPECT_EQ(Id(q), 3);
  }
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
  EXPECT_EQ(message.rfind("Multiple rows in singleton fetch\r\n\r\nSELECT GRP, NAME FROM T", 0), 0u) << message;
  EXPECT_NE(message.find("WHERE GRP=?BIND_0"), std::string::npos) << message;
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

// A bookmark of a key the result does not hold is answered by the server: the query does not fetch
// every row looking for it; a key it holds is fetched up to as before.
TEST_F(BindingCursorTest, ABookmarkOutsideTheResultIsNotSoughtByFetchingEveryRow) {
  Fill(300);
  TIB_Query* all = Open();
  std::string marks[2];
  for (int i : {0, 1}) {
    all->SetRowNum(i ? 150 : 250);
    marks[i] = all->GetBookmark();
  }
  TIB_Query* q = Open("SELECT ID, NAME FROM T WHERE ID <= 200 ORDER BY ID");
  q->SetBookmark(marks[0]);
  EXPECT_EQ(q->GetRowNum(), 0);
  q->SetBufferBookmark(marks[0]);
  EXPECT_EQ(q->GetBufferRowNum(), 0);
  EXPECT_EQ(q->GetBufferCount(), 1);
  q->SetBookmark(marks[1]);
  EXPECT_EQ(Id(q), 150);
  EXPECT_EQ(q->GetBookmark(), marks[1]);
}

// A row is read again through the query's own SELECT with the key condition in front of its WHERE
// ("<key column>=?BIND_<n>", the key columns as the FROM clause knows them); where a condition on the key
// cannot select the row (UNION, aggregates, a relation known only by an alias of a SELECT *), a derived
// table over the SELECT is restricted instead. Either way the row read is the one of that key.
TEST_F(BindingCursorTest, RowsAreReadAgainThroughTheQuerysOwnSelectWhereItCanSelectThem) {
  Fill(9);
  struct Case {
    const char* SQL;
    const char* Links;
    const char* Condition;  // in the cursor's text; empty: the derived table
    int Row;                // the row refetched
    int Id;                 // its ID
    const char* Column;     // changed at the server (not a key column)
  };
  const Case cases[] = {
      {"SELECT ID, NAME FROM T ORDER BY ID", "", "WHERE ID=?BIND_0", 3, 3, "NAME"},
      {"SELECT A.ID, A.NAME FROM T A ORDER BY A.ID", "T.ID", "WHERE A.ID=?BIND_0", 3, 3, "NAME"},
      {"SELECT ID, NAME FROM T WHERE ID = 2 OR ID = 7 ORDER BY ID", "", "( ID=?BIND_0 )", 2, 7, "NAME"},
      {"SELECT GRP, ID, NAME FROM T ORDER BY ID", "T.GRP\nT.ID", "AND ID=?BIND_1", 5, 5, "NAME"},
      {"SELECT NAME, ID, GRP FROM T ORDER BY ID", "T.NAME", "WHERE NAME=?BIND_0", 4, 4, "GRP"},
      {"SELECT * FROM T A ORDER BY A.ID", "T.ID", "", 3, 3, "NAME"},
      {"SELECT ID, NAME FROM T WHERE ID < 5 UNION SELECT ID, NAME FROM T WHERE ID > 6 ORDER BY 1", "ID", "", 5, 7,
       "NAME"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.SQL);
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText(c.SQL);
    if (*c.Links) {
      TIB_StringList links;
      links.SetText(c.Links);
      q->SetKeyLinks(links);
    }
    q->Open();
    q->SetRowNum(c.Row);
    ASSERT_EQ(Id(q), c.Id);
    const std::string name = c.Column;
    const std::string id = std::to_string(c.Id);
    Exec("UPDATE T SET " + name + (name == "NAME" ? " = 'again'" : " = 42") + " WHERE ID = " + id);
    EXPECT_TRUE(q->RefreshRow());
    EXPECT_EQ(q->GetFields()->ColumnByName(name)->GetAsString(), name == "NAME" ? "again" : "42");
    EXPECT_EQ(Id(q), c.Id);
    const std::string text = q->GetFieldsCursor()->GetSourceSQL();
    if (*c.Condition) {
      EXPECT_NE(text.find(c.Condition), std::string::npos) << text;
      EXPECT_EQ(text.find("BIND_ROW"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find(") BIND_ROW"), std::string::npos) << text;
      EXPECT_NE(text.find("=?BIND_0"), std::string::npos) << text;
    }
    Exec("UPDATE T SET NAME = 'n" + id + "', GRP = MOD(ID, 3) WHERE ID = " + id);
    delete q;
  }
}

// The query's parameters reach the row read by key as they are at the time of the read: a row the
// query's new parameter value leaves out is not found again.
TEST_F(BindingCursorTest, RowsAreReadAgainWithTheQuerysCurrentParameters) {
  Fill(9);
  TIB_Query* q = Open("SELECT ID, NAME FROM T WHERE ID > :MIN AND NAME <> :SKIP ORDER BY ID");
  q->Close();
  q->GetParams()->ColumnByName("MIN")->SetAsInteger(2);
  q->GetParams()->ColumnByName("SKIP")->SetAsString("n4");
  q->Open();
  q->SetRowNum(3);
  ASSERT_EQ(Id(q), 6);
  const std::string six = q->GetBookmark();
  Exec("UPDATE T SET NAME = 'six' WHERE ID = 6");
  EXPECT_TRUE(q->RefreshRow());
  EXPECT_EQ(Name(q), "six");
  // A new value refreshes the query; the row read by key then follows that value, not the first one.
  q->GetParams()->ColumnByName("SKIP")->SetAsString("x");
  ASSERT_EQ(q->GetRecordCount(), 7);
  q->SetBookmark(six);
  ASSERT_EQ(Id(q), 6);
  Exec("UPDATE T SET NAME = 'n4' WHERE ID = 6");
  EXPECT_TRUE(q->RefreshRow());
  EXPECT_EQ(Name(q), "n4");
  q->GetParams()->ColumnByName("SKIP")->SetAsString("n5");
  q->SetBookmark(six);
  ASSERT_EQ(Id(q), 6);
  Exec("UPDATE T SET NAME = 'n5' WHERE ID = 6");
  EXPECT_FALSE(q->RefreshRow());
  EXPECT_NE(Id(q), 6);
}

// Calculated columns are computed by the query's OnCalculateField for the row under the buffer position
// and for a row read again by key, each from that row's own values.
TEST_F(BindingCursorTest, CalculatedColumnsAreComputedByTheQueryForEveryRow) {
  Fill(9);
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
  TIB_StringList calculated;
  calculated.Add("TWICE INTEGER");
  q->SetCalculatedFields(calculated);
  std::vector<TIB_Statement*> senders;
  q->OnCalculateField = [&](TIB_Statement* Sender, TIB_Row* Row, TIB_Column* Column) {
    senders.push_back(Sender);
    Column->SetAsInteger(Row->ColumnByName("ID")->GetAsInteger() * 2);
  };
  q->Open();
  q->SetRowNum(2);
  EXPECT_EQ(q->GetFields()->ColumnByName("TWICE")->GetAsInteger(), 4);
  q->SetBufferRowNum(7);
  EXPECT_EQ(q->BufferFieldByName("TWICE")->GetAsInteger(), 14);
  EXPECT_EQ(q->BufferFieldByName("ID")->GetAsInteger(), 7);
  EXPECT_EQ(q->GetFields()->ColumnByName("TWICE")->GetAsInteger(), 4);
  Exec("UPDATE T SET NAME = 'new' WHERE ID = 7");
  q->InvalidateBookmark(q->GetBufferBookmark());
  q->SetBufferRowNum(3);
  q->SetBufferRowNum(7);
  EXPECT_EQ(q->BufferFieldByName("NAME")->GetAsString(), "new");
  EXPECT_EQ(q->BufferFieldByName("TWICE")->GetAsInteger(), 14);
  EXPECT_TRUE(q->RefreshRow());
  EXPECT_EQ(q->GetFields()->ColumnByName("TWICE")->GetAsInteger(), 4);
  ASSERT_FALSE(senders.empty());
  for (TIB_Statement* s : senders) EXPECT_EQ(s, q);
}

// Asked for no row (nil or a list end), a binding cursor refuses when told to raise, and otherwise leaves
// its row empty rather than showing the row it read before.
TEST_F(BindingCursorTest, NoNodeLeavesTheRowEmptyOrRaises) {
  Fill(5);
  TIB_Query* q = Open();
  q->SetRowNum(3);
  ASSERT_TRUE(q->RefreshRow());
  TIB_BindingCursor* c = q->GetFieldsCursor();
  TIB_Row* row = c->GetFields();
  ASSERT_TRUE(c->FetchNode(q->GetNodeList().LocateVisibleRow(3).Node, true, false, row));
  ASSERT_EQ(row->ColumnByName("ID")->GetAsInteger(), 3);
  TIB_Node* head = q->GetNodeList().LocateVisibleRow(0).Node;
  ASSERT_TRUE(head->IsSentinel());
  for (TIB_Node* n : {static_cast<TIB_Node*>(nullptr), head}) {
    EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { c->FetchNode(n, false, true, row); }),
              "Cannot open cursor without key data");
    EXPECT_EQ(row->ColumnByName("ID")->GetAsInteger(), 3);
    EXPECT_FALSE(c->FetchNode(n, true, false, row));
    EXPECT_TRUE(row->ColumnByName("ID")->GetIsNull());
    EXPECT_TRUE(row->ColumnByName("NAME")->GetIsNull());
    ASSERT_TRUE(c->FetchNode(q->GetNodeList().LocateVisibleRow(3).Node, true, false, row));
    EXPECT_EQ(row->ColumnByName("ID")->GetAsInteger(), 3);
  }
  EXPECT_EQ(Id(q), 3);
}

}  // namespace
