// The buffered dataset never loses, hides or misplaces a row: deletes, cancels, refreshes and cached
// updates leave the dataset on a visible row with its values, and what is written reaches the right row
// (read back through a second attachment).
#include <gtest/gtest.h>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

using datasettest::DatasetDbTest;
using testsupport::MessageOf;

class BDatasetRowsTest : public DatasetDbTest {
protected:
  static int32_t Id(TIB_Dataset* D) { return D->GetFields()->ColumnByName("ID")->GetAsInteger(); }
  static std::string Name(TIB_Dataset* D) {
    TIB_Column* c = D->GetFields()->ColumnByName("NAME");
    return c->GetIsNull() ? "null" : c->GetAsString();
  }
  // The rows as a second attachment sees them (committed data): "id:name;id:name;...".
  std::string Read(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    return ReadSecond(SQL, ":");
  }
};

// A row edited and then deleted under cached updates is deleted by the values the server holds.
TEST_F(BDatasetRowsTest, ACachedDeleteOfAnEditedRowUsesTheRowAsTheServerHasIt) {
  Fill(3);
  for (const char* links : {"", "T.NAME"}) {
    SCOPED_TRACE(links);
    TIB_Query* q = NewQuery();
    if (*links) {
      TStringList l;
      l.SetText(links);
      q->SetKeyLinks(l);
    }
    q->SetCachedUpdates(true);
    q->SetRequestLive(true);
    q->Open();
    q->SetRowNum(2);
    q->Edit();
    q->GetFields()->ColumnByName("NAME")->SetAsString("X");
    q->Post();
    q->Delete();
    EXPECT_EQ(q->GetBufferCount(), 2);
    Tr->ApplyUpdates();
    EXPECT_FALSE(q->GetUpdatesPending());
    EXPECT_EQ(Read(), *links ? "1:n1;3:n3" : "1:n1;3:n3");
    delete q;
    Exec("INSERT INTO T VALUES (2, 'n2', 2)");
    Tr->Commit();
  }
  // Cancelled, the row is back as the server has it, with nothing pending.
  TIB_Query* q = NewQuery();
  q->SetCachedUpdates(true);
  q->SetRequestLive(true);
  q->Open();
  q->SetRowNum(2);
  q->Edit();
  q->GetFields()->ColumnByName("NAME")->SetAsString("X");
  q->Post();
  q->Delete();
  q->CancelUpdates();
  EXPECT_FALSE(q->GetUpdatesPending());
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 0);
  q->SetRowNum(2);
  EXPECT_EQ(Name(q), "n2");
  EXPECT_EQ(q->GetUpdateStatus(), usUnmodified);
  delete q;
}

// A row inserted under cached updates and deleted again goes entirely: the dataset shows the row after
// it (or the one before it at the end), never a hidden row.
TEST_F(BDatasetRowsTest, DeletingACachedInsertShowsTheNextVisibleRow) {
  Fill(3);
  struct Case {
    int32_t At;         // row the insert is made at (0: appended)
    bool DeleteLast;    // the last row was deleted (cached) before
    int32_t Row, Id;    // where the dataset is after the delete
  } cases[] = {{2, false, 2, 2}, {0, false, 3, 3}, {0, true, 2, 2}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.At << " " << k.DeleteLast);
    TIB_Query* q = NewQuery();
    q->SetCachedUpdates(true);
    q->SetRequestLive(true);
    q->Open();
    if (k.At) {
      q->SetRowNum(k.At);
      q->Insert();
    } else {
      q->Last();
      if (k.DeleteLast) q->Delete();
      q->Append();
    }
    q->GetFields()->ColumnByName("ID")->SetAsInteger(10);
    q->Post();
    q->Delete();
    EXPECT_EQ(q->GetRowNum(), k.Row);
    EXPECT_FALSE(q->GetBof());
    EXPECT_FALSE(q->GetEof());
    EXPECT_EQ(Id(q), k.Id);
    EXPECT_EQ(q->GetUpdatesPending(), k.DeleteLast);
    Tr->ApplyUpdates();
    EXPECT_EQ(Read(), k.DeleteLast ? "1:n1;2:n2" : "1:n1;2:n2;3:n3");
    delete q;
  }
}

// Removing the current row (a delete, a cancelled insert, a cancelled cached insert) shows the row after
// it, fetched when it is not buffered yet; only at the end of the result the row before it.
TEST_F(BDatasetRowsTest, RemovingTheCurrentRowShowsTheNextRowOfTheResult) {
  Fill(5);
  TIB_Query* q = NewQuery();
  q->SetRequestLive(true);
  q->Open();
  q->Delete();  // only row 1 buffered
  EXPECT_EQ(q->GetRowNum(), 1);
  EXPECT_FALSE(q->GetBof());
  EXPECT_EQ(Name(q), "n2");
  q->Next();
  EXPECT_EQ(Id(q), 3);
  q->Last();
  q->Delete();
  EXPECT_EQ(q->GetRowNum(), 3);
  EXPECT_EQ(Id(q), 4);
  EXPECT_FALSE(q->GetEof());
  Tr->Commit();
  EXPECT_EQ(Read(), "2:n2;3:n3;4:n4");
  delete q;
  // A cancelled insert, and a cancelled cached insert, before a row not fetched yet.
  for (int cached = 0; cached < 2; ++cached) {
    SCOPED_TRACE(cached);
    q = NewQuery();
    q->SetCachedUpdates(cached);
    q->SetRequestLive(true);
    q->Open();
    q->Insert();
    q->GetFields()->ColumnByName("ID")->SetAsInteger(10);
    if (cached) {
      q->Post();
      q->CancelUpdates();
    } else {
      q->Cancel();
    }
    EXPECT_EQ(q->GetRowNum(), 1);
    EXPECT_FALSE(q->GetBof());
    EXPECT_EQ(Id(q), 2);
    q->Next();
    EXPECT_EQ(Id(q), 3);
    delete q;
  }
}

// After the rows' values were dropped (RefreshRows) or in keys-only mode, the row shown after a delete
// is read by its key: never a row of nulls.
TEST_F(BDatasetRowsTest, TheRowShownAfterADeleteIsReadWhenItsValuesWereDropped) {
  Fill(5);
  for (bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    TIB_Query* q = NewQuery();
    q->SetFetchWholeRows(whole);
    q->SetRequestLive(true);
    q->Open();
    if (whole) {
      q->Last();
      q->RefreshRows();
    }
    q->Delete();
    EXPECT_FALSE(q->GetFields()->ColumnByName("ID")->GetIsNull());
    EXPECT_EQ(Name(q), whole ? "n4" : "n2");
    delete q;
  }
  Tr->Commit();
  EXPECT_EQ(Read(), "2:n2;3:n3;4:n4");
}

// An insert cancelled next to a row deleted under cached updates leaves the dataset on a visible row.
TEST_F(BDatasetRowsTest, ACancelledInsertNextToACachedDeleteShowsAVisibleRow) {
  Fill(4);
  TIB_Query* q = NewQuery();
  q->SetCachedUpdates(true);
  q->SetRequestLive(true);
  q->Open();
  q->SetRowNum(2);
  q->Delete();  // ID 2; row 2 is ID 3 now
  q->Insert();  // before ID 3, after the deleted ID 2
  q->Cancel();
  EXPECT_EQ(q->GetRowNum(), 2);
  EXPECT_EQ(Id(q), 3);
  q->Last();
  q->Delete();  // ID 4, the last row: row 2 (ID 3) is current
  q->Append();  // after the deleted ID 4
  q->Cancel();
  EXPECT_EQ(q->GetRowNum(), 2);
  EXPECT_FALSE(q->GetEof());
  EXPECT_EQ(Id(q), 3);
  EXPECT_EQ(q->GetUpdateStatus(), usUnmodified);
  Tr->ApplyUpdates();
  EXPECT_EQ(Read(), "1:n1;3:n3");
  delete q;
}

// FetchAll keeps the current row and its values.
TEST_F(BDatasetRowsTest, FetchAllKeepsTheCurrentRow) {
  Fill(30);
  TIB_Query* q = NewQuery();
  q->Open();
  q->SetRowNum(3);
  q->FetchAll();
  EXPECT_EQ(q->GetRowNum(), 3);
  EXPECT_EQ(Name(q), "n3");
  EXPECT_EQ(q->GetBufferCount(), 30);
  delete q;
}

// The buffer position on a row gone at the server drops that row and shows the next one.
TEST_F(BDatasetRowsTest, TheBufferPositionPassesOverRowsGoneAtTheServer) {
  Fill(6);
  TIB_Query* q = NewQuery();
  q->SetFetchWholeRows(false);
  q->Open();
  q->Last();
  Exec("DELETE FROM T WHERE ID IN (3, 4)");
  q->SetBufferRowNum(3);
  EXPECT_EQ(q->GetBufferFields()->ColumnByName("ID")->GetAsInteger(), 5);
  EXPECT_EQ(q->GetBufferRowNum(), 3);
  EXPECT_EQ(q->GetBufferCount(), 4);
  EXPECT_EQ(q->GetRowNum(), 4);  // the current row, ID 6, counts the rows that went
  EXPECT_EQ(Id(q), 6);
  q->SetBufferRowNum(4);
  EXPECT_EQ(q->GetBufferFields()->ColumnByName("ID")->GetAsInteger(), 6);
  delete q;
}

// Pending cached changes survive a refresh that prepares the query again (a filter change).
TEST_F(BDatasetRowsTest, PendingCachedChangesSurviveAFilterChange) {
  Fill(5);
  TIB_Query* q = NewQuery();
  q->SetCachedUpdates(true);
  q->SetRequestLive(true);
  q->Open();
  q->SetRowNum(2);
  q->Edit();
  q->GetFields()->ColumnByName("NAME")->SetAsString("edited");
  q->Post();
  q->SetFilter("ID < 5");
  q->SetFiltered(true);
  EXPECT_TRUE(q->GetUpdatesPending());
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 1);
  q->Last();
  EXPECT_EQ(q->GetRowNum(), 4);
  q->SetRowNum(2);
  EXPECT_EQ(Name(q), "edited");
  EXPECT_EQ(q->GetUpdateStatus(), usModified);
  Tr->ApplyUpdates();
  EXPECT_EQ(Read(), "1:n1;2:edited;3:n3;4:n4;5:n5");
  delete q;
}

// A refresh after the rows were fetched to the end finds the row again, or the last one.
TEST_F(BDatasetRowsTest, ARefreshAfterTheLastRowStaysOnARow) {
  Fill(100);
  for (TIB_RefreshAction action : {raKeepRowNum, raKeepDataPos}) {
    SCOPED_TRACE(action);
    TIB_Query* q = NewQuery();
    q->SetRefreshAction(action);
    q->Open();
    q->Last();
    q->SetFilter("ID <> 50");
    q->SetFiltered(true);
    EXPECT_FALSE(q->GetEof());
    EXPECT_FALSE(q->GetBof());
    EXPECT_EQ(q->GetRowNum(), 99);
    EXPECT_EQ(Id(q), 100);
    delete q;
  }
}

// A refresh after a cached insert keeps the row (or its number, by the refresh action); the insert stays
// pending, after the fetched rows.
TEST_F(BDatasetRowsTest, ARefreshAfterACachedInsertKeepsThePosition) {
  Fill(200);
  for (TIB_RefreshAction action : {raKeepDataPos, raKeepRowNum}) {
    SCOPED_TRACE(static_cast<int>(action));
    TIB_Query* q = NewQuery();
    q->SetRefreshAction(action);
    q->SetCachedUpdates(true);
    q->SetRequestLive(true);
    q->Open();
    q->Insert();  // at row 1
    q->GetFields()->ColumnByName("ID")->SetAsInteger(1000 + action);
    q->Post();
    q->SetRowNum(14);
    EXPECT_EQ(Id(q), 13);
    q->Refresh();
    EXPECT_EQ(q->GetRowNum(), action == raKeepRowNum ? 14 : 13);
    EXPECT_EQ(Id(q), action == raKeepRowNum ? 14 : 13);
    q->SetRowNum(201);
    EXPECT_EQ(Id(q), 1000 + action);
    EXPECT_EQ(q->GetUpdateStatus(), usInserted);
    Tr->ApplyUpdates();
    EXPECT_EQ(Read("SELECT ID FROM T WHERE ID > 200"), std::to_string(1000 + action));
    delete q;
    Exec("DELETE FROM T WHERE ID > 200");
    Tr->Commit();
  }
}

// Keys-only mode goes on fetching after a retaining rollback.
TEST_F(BDatasetRowsTest, KeysOnlyModeFetchesOnAfterARetainingRollback) {
  Fill(10);
  TIB_Query* q = NewQuery();
  q->SetFetchWholeRows(false);
  q->SetRequestLive(true);
  q->Open();
  q->Next();
  Tr->RollbackRetaining();
  EXPECT_TRUE(q->GetActive());
  q->Next();
  EXPECT_EQ(Id(q), 3);
  // Rows deleted meanwhile do not make it skip a row.
  Tr->RollbackRetaining();
  q->SetRowNum(1);
  q->Delete();
  EXPECT_EQ(Id(q), 2);
  q->Next();
  q->Next();
  EXPECT_EQ(Id(q), 4);
  q->Last();
  EXPECT_EQ(Id(q), 10);
  EXPECT_EQ(q->GetRowNum(), 9);
  EXPECT_EQ(q->GetBufferCount(), 9);
  Tr->Commit();
  EXPECT_EQ(Read("SELECT COUNT(*), MIN(ID) FROM T"), "9:2");
  delete q;
}

// Deleting every row leaves an empty dataset at both ends, whether the deletes are written at once or
// cached (the deleted rows stay in the buffer, hidden), and whether the result is empty from the start.
TEST_F(BDatasetRowsTest, DeletingEveryRowLeavesTheDatasetAtBothEnds) {
  struct Case {
    bool Cached;
    int Rows;
  };
  for (const Case k : {Case{false, 3}, Case{true, 3}, Case{false, 0}, Case{true, 0}}) {
    SCOPED_TRACE(std::string(k.Cached ? "cached" : "written") + " rows " + std::to_string(k.Rows));
    Exec("DELETE FROM T");
    if (k.Rows) Fill(k.Rows);
    Tr->Commit();
    TIB_Query* q = NewQuery();
    q->SetCachedUpdates(k.Cached);
    q->SetRequestLive(true);
    q->Open();
    q->SetRowNum(2);
    for (int i = 0; i < k.Rows; ++i) q->Delete();
    EXPECT_TRUE(q->GetBof());
    EXPECT_TRUE(q->GetEof());
    EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { q->Next(); }), "At end of Dataset");
    // Put at the start, the empty dataset is still at its end too.
    q->SetRowNum(0);
    EXPECT_TRUE(q->GetBof());
    EXPECT_TRUE(q->GetEof());
    EXPECT_EQ(q->GetRowNum(), 0);
    EXPECT_EQ(q->GetUpdatesPending(), k.Cached && k.Rows > 0);
    if (k.Cached) Tr->ApplyUpdates();
    if (Tr->GetStarted()) Tr->Commit();
    EXPECT_EQ(Read(), "");
    delete q;
  }
}

}  // namespace
