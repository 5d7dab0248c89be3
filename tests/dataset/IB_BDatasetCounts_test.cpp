// The record count of a buffered query with cached changes: the count equals the rows the query shows,
// and the count of the same SQL run directly once the changes are written; and what the end of the
// transaction makes of the changes a query applied itself.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_DataSource.h"

namespace {

class BDatasetCountsTest : public datasettest::DatasetDbTest {
protected:
  TIB_Query* CachedQuery(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID", bool WholeRows = true) {
    TIB_Query* q = NewQuery(SQL);
    q->SetFetchWholeRows(WholeRows);
    q->SetCachedUpdates(true);
    q->SetRequestLive(true);
    q->GetKeyLinks().SetText("ID");
    q->Open();
    return q;
  }
  // The count of SQL run directly in the dataset's transaction.
  int32_t Direct(const std::string& SQL = "SELECT COUNT(*) FROM T") {
    auto* c = NewCursor(SQL);
    c->Open();
    const int32_t n = c->GetFields()->GetColumns(0)->GetAsInteger();
    delete c;
    return n;
  }
  // The rows the query shows, walked from the first.
  static int Shown(TIB_Query* Q) {
    Q->First();
    return Walk(Q);
  }
};

// A row deleted under cached updates is not counted whatever took its node out of the buffer before
// the cursor brought the row back: a refresh, a filter switched on and off, or the end of the
// transaction; asked before the rows are fetched again and after.
TEST_F(BDatasetCountsTest, APendingCachedDeleteIsNotCounted) {
  Fill(200);
  struct Case {
    const char* Name;
    int32_t Row;  // the row deleted (0: the last)
    std::function<void(TIB_Query*)> Then;
  };
  const Case cases[] = {
      {"refresh", 0, [](TIB_Query* q) { q->Refresh(); }},
      {"refresh of the first", 1, [](TIB_Query* q) { q->Refresh(); }},
      {"filter", 0,
       [](TIB_Query* q) {
         q->SetFilter("ID > 0");
         q->SetFiltered(true);
         q->SetFiltered(false);
       }},
      {"commit", 1, [this](TIB_Query*) { Tr->Commit(); }},
      {"commit of the last", 0, [this](TIB_Query*) { Tr->Commit(); }},
      {"rollback", 1, [this](TIB_Query*) { Tr->Rollback(); }},
      {"rollback retaining", 1, [this](TIB_Query*) { Tr->RollbackRetaining(); }},
      {"rollback retaining of the last", 0, [this](TIB_Query*) { Tr->RollbackRetaining(); }},
  };
  for (const bool whole : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (whole ? "" : ", keys only"));
      TIB_Query* q = CachedQuery("SELECT ID, NAME FROM T ORDER BY ID", whole);
      c.Row == 0 ? q->Last() : q->SetRowNum(c.Row);
      q->Delete();
      q->Prior();
      EXPECT_EQ(q->GetRecordCount(), 199);
      c.Then(q);
      EXPECT_EQ(q->GetRecordCount(), 199);  // closed by the transaction's end, or not all fetched again
      if (!q->GetActive()) q->Open();
      EXPECT_EQ(q->GetRecordCount(), 199);
      EXPECT_EQ(Shown(q), 199);
      EXPECT_EQ(q->GetRecordCount(), 199);
      EXPECT_TRUE(q->GetUpdatesPending());
      Tr->ApplyUpdates();
      EXPECT_EQ(ReadSecond("SELECT COUNT(*) FROM T", ","), "199");
      EXPECT_EQ(q->GetRecordCount(), Direct());
      delete q;
      Exec("DELETE FROM T");
      Tr->Commit();
      Fill(200);
    }
  }
}

// A detail's row deleted under cached updates waits under its master row: under another master row the
// count is that row's lines, under its own the lines less the deleted one.
TEST_F(BDatasetCountsTest, ACachedDeleteUnderAnotherMasterIsNotCountedThere) {
  Exec("CREATE TABLE ORD (OID INTEGER NOT NULL PRIMARY KEY)");
  Exec("CREATE TABLE LIN (LID INTEGER NOT NULL PRIMARY KEY, OID INTEGER)");
  Tr->Commit();
  Exec(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 300) DO BEGIN "
      "INSERT INTO LIN VALUES (:I, 1 + MOD(:I, 2)); I = I + 1; END END");
  Exec("INSERT INTO ORD VALUES (1)");
  Exec("INSERT INTO ORD VALUES (2)");
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
  detail->SetRowNum(2);
  detail->Delete();
  std::string counts;
  for (int i = 0; i < 3; ++i) {
    counts += std::to_string(master->FieldByName("OID")->GetAsInteger()) + ":" +
              std::to_string(detail->GetRecordCount()) + " ";
    i == 0 ? master->Next() : master->First();
  }
  EXPECT_EQ(counts, "1:149 2:150 1:149 ");
  EXPECT_EQ(Shown(detail), 149);
  Tr->ApplyUpdates();
  EXPECT_EQ(ReadSecond("SELECT COUNT(*) FROM LIN WHERE OID = 1", ","), "149");
}

// An insert applied by the query's own ApplyUpdates is a row of the server's count until the commit:
// it is counted once, whether the count was asked before the apply or not, and before every row is
// fetched or after.
TEST_F(BDatasetCountsTest, AnAppliedInsertIsCountedOnce) {
  Fill(30);
  for (const bool askedBefore : {false, true}) {
    for (const int32_t row : {1, 30}) {
      SCOPED_TRACE(std::to_string(row) + (askedBefore ? " asked before" : ""));
      TIB_Query* q = CachedQuery();
      q->SetRowNum(row);
      if (askedBefore) {
        EXPECT_EQ(q->GetRecordCount(), 30);
      }
      q->Insert();
      q->FieldByName("ID")->SetAsInteger(100);
      q->FieldByName("NAME")->SetAsString("new");
      q->Post();
      EXPECT_EQ(q->GetRecordCount(), 31);
      q->ApplyUpdates();
      EXPECT_EQ(q->GetRecordCount(), 31);
      EXPECT_EQ(Direct(), 31);
      EXPECT_EQ(Shown(q), 31);
      Tr->Commit();
      EXPECT_EQ(ReadSecond("SELECT COUNT(*) FROM T", ","), "31");
      if (!q->GetActive()) q->Open();
      EXPECT_EQ(q->GetRecordCount(), 31);
      delete q;
      Exec("DELETE FROM T WHERE ID = 100");
      Tr->Commit();
    }
  }
}

// A delete applied by the query's own ApplyUpdates leaves the count the server's, once; an apply
// that fails counts every change as pending again.
TEST_F(BDatasetCountsTest, AnAppliedDeleteAndAFailedApplyKeepTheCount) {
  Fill(30);
  Exec("CREATE TABLE R (TID INTEGER REFERENCES T (ID))");
  Tr->Commit();
  Exec("INSERT INTO R VALUES (5)");
  Tr->Commit();
  TIB_Query* q = CachedQuery();
  q->SetRowNum(2);
  EXPECT_EQ(q->GetRecordCount(), 30);
  q->Delete();
  EXPECT_EQ(q->GetRecordCount(), 29);
  q->ApplyUpdates();
  EXPECT_EQ(q->GetRecordCount(), 29);
  EXPECT_EQ(Direct(), 29);
  // Row 5 is referenced: its delete fails and the insert applied before it is taken back.
  q->Insert();
  q->FieldByName("ID")->SetAsInteger(100);
  q->Post();
  for (q->First(); q->FieldByName("ID")->GetAsInteger() != 5;) q->Next();
  q->Delete();
  EXPECT_EQ(q->GetRecordCount(), 29);
  EXPECT_THROW(q->ApplyUpdates(), EIB_Error);
  EXPECT_EQ(Direct(), 29);
  EXPECT_EQ(q->GetRecordCount(), 29);
  EXPECT_EQ(Shown(q), 29);
  delete q;
}

// Changes a query applied itself are confirmed by the commit that follows (its retaining form too):
// they stop being pending, and a later change of the same rows is cached and written in turn. A rollback
// (its retaining form too) undoes them at the server: they are pending again, and written by the next
// apply.
TEST_F(BDatasetCountsTest, TheTransactionsEndSettlesWhatTheQueryApplied) {
  struct Case {
    const char* Name;
    bool Commits;
    std::function<void()> End;
  };
  const Case cases[] = {
      {"commit", true, [this] { Tr->Commit(); }},
      {"commit retaining", true, [this] { Tr->CommitRetaining(); }},
      {"rollback", false, [this] { Tr->Rollback(); }},
      {"rollback retaining", false, [this] { Tr->RollbackRetaining(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Exec("DELETE FROM T");
    Tr->Commit();
    Fill(3);
    TIB_Query* q = NewQuery();
    q->SetCachedUpdates(true);
    q->SetRequestLive(true);
    q->SetCommitAction(caRefresh);
    q->Open();
    q->SetRowNum(1);
    q->Edit();
    q->FieldByName("NAME")->SetAsString("edited");
    q->Post();
    q->SetRowNum(2);
    q->Delete();
    q->Insert();
    q->FieldByName("ID")->SetAsInteger(5);
    q->FieldByName("NAME")->SetAsString("new");
    q->Post();
    q->ApplyUpdates();
    EXPECT_FALSE(q->GetUpdatesPending());
    c.End();
    EXPECT_EQ(q->GetUpdatesPending(), !c.Commits);
    EXPECT_EQ(ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","),
              c.Commits ? "1,edited;3,n3;5,new" : "1,n1;2,n2;3,n3");
    if (!c.Commits) {
      EXPECT_EQ(q->GetRecordCount(), 3);
      q->ApplyUpdates();
      Tr->Commit();
      EXPECT_FALSE(q->GetUpdatesPending());
      EXPECT_EQ(ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","), "1,edited;3,n3;5,new");
    }
    // The rows written are plain rows now: a new change of each is cached and written.
    ASSERT_TRUE(q->GetActive());
    EXPECT_EQ(q->GetRecordCount(), 3);
    for (q->First(); !q->GetEof(); q->Next()) {
      q->Edit();
      q->FieldByName("NAME")->SetAsString("again" + q->FieldByName("ID")->GetAsString());
      q->Post();
    }
    EXPECT_TRUE(q->GetUpdatesPending());
    Tr->ApplyUpdates();
    EXPECT_EQ(ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","), "1,again1;3,again3;5,again5");
    delete q;
  }
}

}  // namespace

// ---- parameters of the clauses the count leaves out ---------------------------------------------------

// The count statement leaves the ORDER BY out, and with it the markers that stand there: it binds the
// values of the markers it keeps, in their order, so that it counts what the query shows, also when a
// dropped marker stands between two kept ones.
TEST_F(BDatasetCountsTest, TheCountBindsTheMarkersItKeeps) {
  Fill(30);
  struct Case {
    const char* SQL;
    std::vector<int> Values;  // in the order of the markers: a marker bound to another's value counts other rows
    const char* Direct;
    int32_t Expected;
  };
  const Case cases[] = {
      {"SELECT ID, NAME FROM T WHERE GRP = :D ORDER BY IIF(:X = 1, NAME, ID)", {2, 1},
       "SELECT COUNT(*) FROM T WHERE GRP = 2", 10},
      {"SELECT ID, NAME FROM T WHERE GRP = :D ORDER BY IIF(:X = 1, NAME, ID) ROWS :N", {2, 1, 4},
       "SELECT COUNT(*) FROM (SELECT ID FROM T WHERE GRP = 2 ROWS 4)", 4},
      {"SELECT ID, NAME FROM T WHERE GRP = :D\r\nORDER BY (SELECT COUNT(*) FROM T X WHERE X.ID < :X)\r\n"
       "OFFSET :N ROWS",
       {2, 1, 4}, "SELECT COUNT(*) FROM (SELECT ID FROM T WHERE GRP = 2 OFFSET 4 ROWS)", 6},
      {"SELECT ID, NAME FROM T WHERE GRP = ? AND ID > :X ORDER BY IIF(? = 1, NAME, ID)", {2, 1, 1},
       "SELECT COUNT(*) FROM T WHERE GRP = 2 AND ID > 1", 10},
      {"SELECT ID, NAME FROM T WHERE GRP = :D ORDER BY IIF(:D = 1, NAME, ID) /* ? */ ROWS :N", {2, 4},
       "SELECT COUNT(*) FROM (SELECT ID FROM T WHERE GRP = 2 ROWS 4)", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.SQL);
    TIB_Query* q = NewQuery(c.SQL);
    q->Prepare();
    TIB_Row* p = q->GetParams();
    ASSERT_EQ(p->GetColumnCount(), static_cast<int>(c.Values.size()));
    for (int i = 0; i < p->GetColumnCount(); ++i) p->GetColumns(i)->SetAsInteger(c.Values[static_cast<size_t>(i)]);
    EXPECT_EQ(Direct(c.Direct), c.Expected);
    EXPECT_EQ(q->GetRecordCount(), c.Expected);
    q->Open();
    q->Last();
    EXPECT_EQ(q->GetRecordCount(), c.Expected);
    EXPECT_EQ(q->GetRowNum(), c.Expected);
    delete q;
  }
}
