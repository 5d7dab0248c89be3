// The rows a buffered query shows and counts: buffer rows of queries whose keys the library finds by
// itself, the order of the rows after an open that posts a typed row, and the record count beside the
// rows buffered.
#include <gtest/gtest.h>

#include <string>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_DataSource.h"

namespace {

class BDatasetBufferRowsTest : public datasettest::DatasetDbTest {
protected:
  static std::string Row(TIB_Row* R) {
    std::string out;
    for (int i = 0; i < R->GetColumnCount(); ++i) {
      TIB_Column* c = R->GetColumns(i);
      out += (i ? " " : "") + (c->GetIsNull() ? std::string("null") : c->GetAsString());
    }
    return out;
  }
};

// A self-join without KeyLinks: its rows are keyed by their number, or, with the key relation named, by
// that relation's primary key, whose column name the select list holds twice. Either way the buffer
// rows read the rows the query fetched.
TEST_F(BDatasetBufferRowsTest, ASelfJoinWithoutKeyLinksReadsItsBufferRows) {
  Exec("CREATE TABLE S (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10), PARENT INTEGER)");
  Tr->Commit();
  for (int i = 1; i <= 5; ++i) {
    Exec("INSERT INTO S VALUES (" + std::to_string(i) + ", 'N0" + std::to_string(i) + "', " +
         std::to_string(i == 1 ? 1 : i - 1) + ")");
  }
  Tr->Commit();
  for (const char* keyRelation : {"", "S"}) {
    SCOPED_TRACE(keyRelation);
    TIB_Query* q = NewQuery("SELECT A.ID, A.NAME, B.ID, B.NAME FROM S A JOIN S B ON B.ID = A.PARENT ORDER BY A.ID");
    q->SetKeyRelation(keyRelation);
    q->Open();
    q->SetRowNum(3);
    EXPECT_EQ(Row(q->GetFields()), "3 N03 2 N02");
    q->SetBufferRowNum(2);
    EXPECT_EQ(Row(q->GetBufferFields()), "2 N02 1 N01");
    q->SetBufferRowNum(5);
    EXPECT_EQ(Row(q->GetBufferFields()), "5 N05 4 N04");
    q->SetRowNum(1);
    EXPECT_EQ(Row(q->GetFields()), "1 N01 1 N01");
    q->SetBufferRowNum(4);
    EXPECT_EQ(Row(q->GetBufferFields()), "4 N04 3 N03");
    delete q;
  }
}

// A row typed into a closed query is posted by the open: the rows then stand in the SELECT's order,
// the posted one among them, and the query is on row 1.
TEST_F(BDatasetBufferRowsTest, AnOpenThatPostsATypedRowShowsTheRowsInTheirOrder) {
  for (int id = 10; id <= 50; id += 10) Exec("INSERT INTO T (ID, NAME) VALUES (" + std::to_string(id) + ", 'x')");
  Tr->Commit();
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    const int id = whole ? 33 : 35;
    TIB_Query* q = NewQuery();
    q->SetRequestLive(true);
    q->SetFetchWholeRows(whole);
    q->Prepare();
    q->Insert();
    q->FieldByName("ID")->SetAsInteger(id);
    q->FieldByName("NAME")->SetAsString("typed");
    q->Open();
    EXPECT_EQ(q->GetState(), dssBrowse);
    EXPECT_EQ(q->GetRowNum(), 1);
    EXPECT_EQ(q->FieldByName("ID")->GetAsInteger(), 10);
    std::string walk;
    for (q->First(); !q->GetEof(); q->Next()) walk += q->FieldByName("ID")->GetAsString() + ",";
    EXPECT_EQ(walk, whole ? "10,20,30,33,40,50," : "10,20,30,33,35,40,50,");
    EXPECT_EQ(q->GetRecordCount(), whole ? 6 : 7);
    Tr->Commit();
    delete q;
  }
  EXPECT_EQ(ReadSecond("SELECT ID, NAME FROM T WHERE ID IN (33, 35) ORDER BY ID", ","), "33,typed;35,typed");
}

// A detail's rows inserted under cached updates wait under their master row: under another master row
// the record count is that row's lines, never below the rows shown (nor below zero).
TEST_F(BDatasetBufferRowsTest, CachedInsertsUnderAnotherMasterLeaveTheCountAtTheRowsShown) {
  Exec("CREATE TABLE ORD (OID INTEGER NOT NULL PRIMARY KEY)");
  Exec("CREATE TABLE LIN (LID INTEGER NOT NULL PRIMARY KEY, OID INTEGER)");
  Tr->Commit();
  for (const char* sql :
       {"INSERT INTO ORD VALUES (1)", "INSERT INTO ORD VALUES (2)", "INSERT INTO ORD VALUES (3)",
        "INSERT INTO LIN VALUES (11, 1)", "INSERT INTO LIN VALUES (12, 1)", "INSERT INTO LIN VALUES (31, 3)"}) {
    Exec(sql);
  }
  Tr->Commit();
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* master = NewQuery("SELECT OID FROM ORD ORDER BY OID");
  source->SetDataset(master);
  master->Open();
  TIB_Query* detail = NewQuery("SELECT LID, OID FROM LIN ORDER BY LID");
  detail->GetMasterLinks().SetText("OID=ORD.OID");
  detail->SetMasterSource(source);
  detail->SetCachedUpdates(true);
  detail->SetRequestLive(true);
  detail->Open();
  for (int lid : {13, 14, 15}) {
    detail->Append();
    detail->FieldByName("LID")->SetAsInteger(lid);
    detail->Post();
  }
  std::string counts;
  for (int i = 0; i < 4; ++i) {
    counts += std::to_string(master->FieldByName("OID")->GetAsInteger()) + ":" +
              std::to_string(detail->GetRecordCount()) + "/" + std::to_string(detail->GetBufferCount()) + " ";
    i < 2 ? master->Next() : master->First();
  }
  EXPECT_EQ(counts, "1:5/5 2:0/0 3:1/1 1:5/5 ");
  Tr->ApplyUpdates();
  EXPECT_EQ(ReadSecond("SELECT LID, OID FROM LIN ORDER BY LID", ":"), "11:1;12:1;13:1;14:1;15:1;31:3");
}

// The application's count (OnGetRecordCount) is the count of the rows as the dataset shows them: the
// rows inserted under cached updates are not added to it again, and it never falls below the rows
// buffered.
TEST_F(BDatasetBufferRowsTest, TheApplicationsCountGetsTheCachedChangesOnce) {
  Fill(1500);
  struct Case {
    int32_t Answer;
    bool Deleted;
  };
  const Case cases[] = {{2000, false}, {2000, true}, {3, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Answer) + (c.Deleted ? " deleted" : ""));
    TIB_Query* q = NewQuery();
    q->SetCachedUpdates(true);
    q->SetRequestLive(true);
    q->OnGetRecordCount = [&c](TIB_Dataset*, int32_t& Count) { Count = c.Answer; };
    q->Open();
    q->SetRowNum(5);
    q->Insert();
    q->FieldByName("ID")->SetAsInteger(5000);
    q->Post();
    if (c.Deleted) {
      q->SetRowNum(2);
      q->Delete();
    }
    ASSERT_LT(q->GetBufferCount(), 1500);  // not every row fetched
    EXPECT_EQ(q->GetRecordCount(), c.Answer < q->GetBufferCount() ? q->GetBufferCount() : c.Answer);
    delete q;
  }
}

}  // namespace
