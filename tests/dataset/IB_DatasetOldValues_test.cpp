// The old values of a fields row are the values it had when it was last fetched or reset: read after a
// run of fetches, after an edit starts, when a change is reverted, in cached updates' old records and
// in the OLD_ parameters of the statements that write a change.
#include <gtest/gtest.h>

#include <string>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

class DatasetOldValuesTest : public datasettest::DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    // Names of several lengths and a null one: a stale old record shows in length and null state.
    Exec("INSERT INTO T VALUES (1, 'first', 1)");
    Exec("INSERT INTO T VALUES (2, NULL, 2)");
    Exec("INSERT INTO T VALUES (3, 'third row', NULL)");
    Exec("INSERT INTO T VALUES (4, 'iv', 4)");
    Tr->Commit();
  }
  TIB_Cursor* Live(const std::string& SQL = "SELECT ID, NAME, GRP FROM T ORDER BY ID") {
    TIB_Cursor* c = NewCursor(SQL);
    c->SetRequestLive(true);
    c->GetKeyLinks().SetText("ID");
    return c;
  }
  TIB_Query* Query(const std::string& SQL = "SELECT ID, NAME, GRP FROM T ORDER BY ID") {
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->SetRequestLive(true);
    q->GetKeyLinks().SetText("ID");
    q->GetSQL().SetText(SQL);
    return q;
  }
  // Each column's old value ("null" for null) and whether it reads as modified.
  static std::string Old(TIB_Dataset* D) {
    std::string out;
    for (int i = 0; i < D->GetFields()->GetColumnCount(); ++i) {
      TIB_Column* c = D->GetFields()->GetColumns(i);
      out += (c->GetOldIsNull() ? std::string("null") : c->GetOldAsString()) + (c->GetIsModified() ? "*" : "") + ",";
    }
    return out;
  }
  static std::string Current(TIB_Dataset* D) {
    std::string out;
    for (int i = 0; i < D->GetFields()->GetColumnCount(); ++i) {
      TIB_Column* c = D->GetFields()->GetColumns(i);
      out += (c->GetIsNull() ? std::string("null") : c->GetAsString()) + ",";
    }
    return out;
  }
};

// After each fetch of a cursor the old values are that row's values: by column, as a list and as raw
// record, never those of an earlier row.
TEST_F(DatasetOldValuesTest, OldValuesReadAfterFetchesAreTheFetchedRowsValues) {
  const char* rows[] = {"1,first,1,", "2,null,2,", "3,third row,null,", "4,iv,4,"};
  for (bool readEachRow : {true, false}) {
    SCOPED_TRACE(readEachRow ? "read on each row" : "read on the last row only");
    TIB_Cursor* c = NewCursor("SELECT ID, NAME, GRP FROM T ORDER BY ID");
    c->Open();
    for (int i = 0; i < 4; ++i) {
      ASSERT_FALSE(c->GetEof());
      EXPECT_EQ(rows[i], Current(c));
      if (readEachRow || i == 3) {
        EXPECT_EQ(rows[i], Old(c));
        EXPECT_EQ(c->GetFields()->GetRowData(), c->GetFields()->GetOldRowData());
        const Variant old = c->GetFields()->GetOldValues("ID;NAME");
        EXPECT_EQ(i + 1, old.GetElement({0}).AsInteger());
      }
      if (i < 3) c->Next();
    }
    delete c;
  }
}

// An edit started after several fetches keeps the row's fetched values as old ones: the changed column
// reads modified against them, the others do not, and a column's Revert brings its fetched value back.
TEST_F(DatasetOldValuesTest, AnEditStartedAfterFetchesComparesWithTheFetchedRow) {
  TIB_Cursor* c = Live();
  c->Open();
  c->Next();
  c->Next();
  c->Edit();
  EXPECT_EQ("3,third row,null,", Old(c));
  c->FieldByName("NAME")->SetAsString("x");
  c->FieldByName("GRP")->SetAsInteger(7);
  EXPECT_EQ("3,third row*,null*,", Old(c));
  EXPECT_EQ("3,x,7,", Current(c));
  c->FieldByName("NAME")->Revert();
  EXPECT_EQ("3,third row,7,", Current(c));
  EXPECT_EQ("third row", c->FieldByName("NAME")->GetOldAsString());
  EXPECT_TRUE(c->FieldByName("GRP")->GetIsModified());
  c->Cancel();
  EXPECT_EQ("3,third row,null,", Current(c));
  EXPECT_EQ("3,third row,null,", Old(c));
  delete c;
}

// Reverting the whole row after several fetches brings back the row last fetched; a value set on the
// fields row without an edit (no old value read before) is reverted the same way.
TEST_F(DatasetOldValuesTest, RevertAfterSeveralFetchesBringsBackTheLastFetchedRow) {
  TIB_Cursor* c = Live();
  c->Open();
  c->Next();
  c->Next();
  c->Next();
  c->Edit();
  c->FieldByName("NAME")->SetAsString("changed");
  c->FieldByName("ID")->SetAsInteger(40);
  c->GetFields()->RevertRow();
  EXPECT_EQ("4,iv,4,", Current(c));
  EXPECT_EQ("4,iv,4,", Old(c));
  c->Cancel();
  delete c;
  // The raw record set while the old one is not yet read: the old record still holds the fetched row.
  TIB_Cursor* d = NewCursor("SELECT ID, NAME, GRP FROM T ORDER BY ID");
  d->Open();
  d->Next();
  const std::string fetched = d->GetFields()->GetRowData();
  TIB_Cursor* e = NewCursor("SELECT ID, NAME, GRP FROM T ORDER BY ID");
  e->Open();
  e->GetFields()->SetRowData(fetched);
  EXPECT_EQ("2,null,2,", Current(e));
  EXPECT_EQ("1*,first*,1*,", Old(e));
  e->GetFields()->RevertRow();
  EXPECT_EQ("1,first,1,", Current(e));
  delete e;
  delete d;
}

// The key of a row changed after several fetches is written by its old value: the generated statement's
// OLD_ parameter finds the row that was fetched last, as a second attachment reads back.
TEST_F(DatasetOldValuesTest, GeneratedUpdateFindsTheRowByTheOldValuesOfTheLastFetch) {
  for (bool searched : {false, true}) {
    SCOPED_TRACE(searched ? "searched" : "positioned");
    TIB_Cursor* c = Live();
    c->SetSearchedEdits(searched);
    c->Open();
    c->Next();
    c->Next();
    c->Edit();
    c->FieldByName("ID")->SetAsInteger(searched ? 300 : 30);
    c->FieldByName("NAME")->SetAsString(searched ? "moved again" : "moved");
    c->Post();
    Tr->Commit();
    delete c;
  }
  EXPECT_EQ("1,first,1;2,null,2;30,moved,null;300,moved again,4", ReadSecond("SELECT ID, NAME, GRP FROM T ORDER BY ID", ","));
}

// Cached updates keep each changed row's old record for the apply, while the fields row, reset by the
// post, shows the posted values as its old ones when walked back to; applying writes each change to the
// row it was made on.
TEST_F(DatasetOldValuesTest, CachedUpdatesKeepTheOldRecordOfEachChangedRow) {
  TIB_Query* q = Query();
  q->SetCachedUpdates(true);
  q->Open();
  q->Next();
  q->Edit();
  q->FieldByName("NAME")->SetAsString("two");
  q->FieldByName("ID")->SetAsInteger(20);
  q->Post();
  q->Next();
  q->Next();
  q->Edit();
  q->FieldByName("GRP")->SetAsInteger(44);
  q->Post();
  q->First();
  EXPECT_EQ("1,first,1,", Old(q));
  q->Next();
  EXPECT_EQ("20,two,2,", Current(q));
  EXPECT_EQ("20,two,2,", Old(q));
  q->Next();
  EXPECT_EQ("3,third row,null,", Old(q));
  q->Last();
  EXPECT_EQ("4,iv,44,", Old(q));
  q->ApplyUpdates();
  Tr->Commit();
  EXPECT_EQ("1,first,1;3,third row,null;4,iv,44;20,two,2", ReadSecond("SELECT ID, NAME, GRP FROM T ORDER BY ID", ","));
  delete q;
}

// A buffered walk's rows read as unmodified with their own values as old ones; an edit of a row reached
// by Next compares with that row, and its post writes by that row's key.
TEST_F(DatasetOldValuesTest, AWalkedRowsEditComparesWithThatRow) {
  TIB_Query* q = Query();
  q->Open();
  for (const char* row : {"1,first,1,", "2,null,2,", "3,third row,null,"}) {
    EXPECT_EQ(row, Old(q));
    if (std::string(row) != "3,third row,null,") q->Next();
  }
  q->Edit();
  q->FieldByName("ID")->SetAsInteger(33);
  EXPECT_EQ("3*,third row,null,", Old(q));
  q->Post();
  Tr->Commit();
  EXPECT_EQ("1;2;4;33", ReadSecond("SELECT ID FROM T ORDER BY ID", ","));
  delete q;
}

// Rows fetched ahead of the row a walk shows (FetchAll, a grid's rows) pass through the fields row: the
// shown row keeps its own values as old ones, a revert brings them back, and an edit writes that row.
TEST_F(DatasetOldValuesTest, RowsFetchedAheadOfAWalkedRowLeaveItsOldValues) {
  for (bool grid : {false, true}) {
    SCOPED_TRACE(grid ? "grid rows" : "FetchAll");
    TIB_Query* q = Query();
    q->Open();
    q->Next();
    EXPECT_EQ("2,null,2,", Old(q));
    if (grid) {
      q->SetBufferRowNum(4);  // fetches the rows up to the fourth into the buffer
      EXPECT_EQ("4", q->GetBufferFields()->GetColumns(0)->GetAsString());
    } else {
      q->FetchAll();
    }
    EXPECT_EQ(2, q->GetRowNum());
    EXPECT_EQ("2,null,2,", Current(q));
    EXPECT_EQ("2,null,2,", Old(q));
    q->Edit();
    q->FieldByName("NAME")->SetAsString(grid ? "grid" : "all");
    EXPECT_EQ("2,null*,2,", Old(q));
    q->GetFields()->RevertRow();
    EXPECT_EQ("2,null,2,", Current(q));
    q->FieldByName("NAME")->SetAsString(grid ? "grid" : "all");
    q->Post();
    Tr->Commit();
    EXPECT_EQ(grid ? "1,first;2,grid;3,third row;4,iv" : "1,first;2,all;3,third row;4,iv",
              ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","));
    delete q;
    Exec("UPDATE T SET NAME = NULL WHERE ID = 2");
    Tr->Commit();
  }
}

// A singleton statement's fields row, executed again for another row (and for none), shows each
// execution's values as its old ones.
TEST_F(DatasetOldValuesTest, ASingletonsRowRunAgainHasItsNewValuesAsOldOnes) {
  TIB_DSQL* q = NewDSQL("SELECT ID, NAME, GRP FROM T WHERE ID = :ID");
  for (int id : {1, 3, 2, 99, 4}) {
    SCOPED_TRACE(id);
    q->ParamByName("ID")->SetAsInteger(id);
    q->Execute();
    std::string now, old;
    for (int i = 0; i < q->GetFields()->GetColumnCount(); ++i) {
      TIB_Column* c = q->GetFields()->GetColumns(i);
      now += (c->GetIsNull() ? std::string("null") : c->GetAsString()) + ",";
      old += (c->GetOldIsNull() ? std::string("null") : c->GetOldAsString()) + (c->GetIsModified() ? "*" : "") + ",";
    }
    EXPECT_EQ(now, old);
    if (id == 99) {
      EXPECT_EQ("null,null,null,", now);
    }
  }
  delete q;
}

}  // namespace
