// Writes through a buffered query land on the row that was edited, blobs follow their rows, and the
// rows read again by key come from the query's own transaction and select list.
#include <gtest/gtest.h>

#include <string>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_BindingCursor.h"

namespace {

class BDatasetEditsTest : public datasettest::DatasetDbTest {
protected:
  // The rows of SQL as a second attachment sees them: "v1,v2;v1,v2;...".
  std::string Read(const std::string& SQL) {
    return ReadSecond(SQL, ",");
  }
  static std::string Text(TIB_Dataset* D, const std::string& Name) {
    TIB_Column* c = D->GetFields()->ColumnByName(Name);
    return c->GetIsNull() ? "null" : c->GetAsString();
  }
};

// With positioned edits and deletes the write goes to the row being edited, not to the row the query's
// cursor fetched last: a row with a key (primary key or DB_KEY) is written by key, and a row without one
// only while the cursor stands on it (a wrong row would change silently).
TEST_F(BDatasetEditsTest, PositionedWritesReachTheEditedRow) {
  Exec("CREATE TABLE P (ID INTEGER, NAME VARCHAR(20))");
  Tr->Commit();
  Fill(12);
  Exec("INSERT INTO P SELECT ID, NAME FROM T");
  Tr->Commit();
  struct Case {
    const char* Table;
    const char* SQL;
  };
  const Case cases[] = {{"T", "SELECT ID, NAME FROM T ORDER BY ID"},
                        {"P", "SELECT ID, NAME, RDB$DB_KEY FROM P ORDER BY ID"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.SQL);
    TIB_Query* q = NewQuery(c.SQL);
    q->SetRequestLive(true);
    q->SetSearchedEdits(false);
    q->SetSearchedDeletes(false);
    q->Open();
    q->SetRowNum(10);
    q->SetRowNum(2);
    q->Edit();
    q->FieldByName("NAME")->SetAsString("two");
    q->Post();
    EXPECT_EQ(Text(q, "NAME"), "two");
    q->SetRowNum(11);
    q->SetRowNum(3);
    ASSERT_EQ(Text(q, "ID"), "3");
    q->Delete();
    EXPECT_EQ(Text(q, "ID"), "4");
    // Edited after a delete and a scroll back.
    q->SetRowNum(1);
    q->Edit();
    q->FieldByName("NAME")->SetAsString("one");
    q->Post();
    Tr->Commit();
    EXPECT_EQ(Read(std::string("SELECT ID, NAME FROM ") + c.Table + " WHERE ID IN (1, 2, 3, 10, 11) ORDER BY ID"),
              "1,one;2,two;10,n10;11,n11");
    EXPECT_EQ(Read(std::string("SELECT COUNT(*) FROM ") + c.Table), "11");
    delete q;
  }
  // Cached changes are applied long after the cursor left their rows: by key as well.
  {
    TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
    q->SetRequestLive(true);
    q->SetSearchedEdits(false);
    q->SetSearchedDeletes(false);
    q->SetCachedUpdates(true);
    q->Open();
    q->SetRowNum(5);  // ID 6
    q->Edit();
    q->FieldByName("NAME")->SetAsString("six");
    q->Post();
    q->SetRowNum(6);  // ID 7
    q->Delete();
    q->Last();
    q->ApplyUpdates();
    Tr->Commit();
    q->CommitUpdates();
    EXPECT_EQ(Read("SELECT ID, NAME FROM T WHERE ID BETWEEN 5 AND 8 ORDER BY ID"), "5,n5;6,six;8,n8");
    delete q;
  }
  // No key: only the row under the cursor can be written.
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM P ORDER BY ID");
  q->SetRequestLive(true);
  q->SetSearchedEdits(false);
  q->SetSearchedDeletes(false);
  q->Open();
  q->SetRowNum(10);
  q->SetRowNum(4);
  q->Edit();
  q->FieldByName("NAME")->SetAsString("four");
  EXPECT_EQ(testsupport::MessageOf<EIB_DatasetError>([&] { q->Post(); }), "Record key was lost\n\rFailed to open cursor");
  q->Cancel();
  EXPECT_EQ(testsupport::MessageOf<EIB_DatasetError>([&] { q->Delete(); }), "Record key was lost\n\rFailed to open cursor");
  q->Cancel();
  Tr->Commit();
  EXPECT_EQ(Read("SELECT ID, NAME FROM P WHERE ID IN (4, 10) ORDER BY ID"), "4,n4;10,n10");
}

// A row without a key is written by position while the cursor stands on it: the row fetched last.
TEST_F(BDatasetEditsTest, TheRowFetchedLastIsWrittenByPosition) {
  Exec("CREATE TABLE P (ID INTEGER, NAME VARCHAR(20))");
  Tr->Commit();
  Exec("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 12) DO BEGIN "
       "INSERT INTO P VALUES (:I, 'n' || :I); I = I + 1; END END");
  Tr->Commit();
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM P ORDER BY ID");
  q->SetRequestLive(true);
  q->SetSearchedEdits(false);
  q->SetSearchedDeletes(false);
  q->Open();
  q->SetRowNum(10);
  ASSERT_EQ(Text(q, "ID"), "10");
  q->Edit();
  q->FieldByName("NAME")->SetAsString("ten");
  q->Post();
  q->SetRowNum(11);
  q->Delete();
  Tr->Commit();
  EXPECT_EQ(Read("SELECT ID, NAME FROM P WHERE ID BETWEEN 9 AND 12 ORDER BY ID"), "9,n9;10,ten;12,n12");
}

// A blob typed into an inserted or edited row stays with that row through scrolls and later edits of
// other columns, and reaches the server.
TEST_F(BDatasetEditsTest, BlobsFollowTheirRows) {
  Exec("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), BIN BLOB SUB_TYPE 0)");
  Tr->Commit();
  Exec("INSERT INTO B VALUES (1, 'a', 'one')");
  Exec("INSERT INTO B VALUES (2, 'b', 'two')");
  Exec("INSERT INTO B VALUES (3, 'c', 'three')");
  Tr->Commit();
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    TIB_Query* q = NewQuery("SELECT ID, NAME, BIN FROM B ORDER BY ID");
    q->SetRequestLive(true);
    q->SetFetchWholeRows(whole);
    q->Open();
    const int id = whole ? 70 : 71;
    q->SetRowNum(2);
    q->Insert();
    q->FieldByName("ID")->SetAsInteger(id);
    q->FieldByName("BIN")->SetAsString("hello");
    q->Post();
    q->Next();
    q->Prior();
    ASSERT_EQ(Text(q, "ID"), std::to_string(id));
    EXPECT_EQ(Text(q, "BIN"), "hello");
    q->Edit();
    q->FieldByName("NAME")->SetAsString("x");
    q->Post();
    EXPECT_EQ(Text(q, "BIN"), "hello");
    // A fetched row's blob edited, then the row left and come back to.
    q->First();
    q->Edit();
    q->FieldByName("BIN")->SetAsString(whole ? "edited" : "edited2");
    q->Post();
    q->Next();
    EXPECT_EQ(Text(q, "BIN"), Text(q, "ID") == "2" ? "two" : "hello");  // the row after it (an inserted one)
    q->Last();
    q->First();
    EXPECT_EQ(Text(q, "BIN"), whole ? "edited" : "edited2");
    q->Edit();
    q->FieldByName("NAME")->SetAsString(whole ? "A" : "AA");
    q->Post();
    EXPECT_EQ(Text(q, "BIN"), whole ? "edited" : "edited2");
    q->Next();
    EXPECT_EQ(Text(q, "BIN"), Text(q, "ID") == "2" ? "two" : "hello");  // the row after it (an inserted one)
    Tr->Commit();
    delete q;
  }
  EXPECT_EQ(Read("SELECT ID, NAME, OCTET_LENGTH(BIN), CAST(BIN AS VARCHAR(20)) FROM B ORDER BY ID"),
            "1,AA,7,edited2;2,b,3,two;3,c,5,three;70,x,5,hello;71,x,5,hello");
}

// Under cached updates a blob typed into a row stays with it until the changes are applied, and is applied.
TEST_F(BDatasetEditsTest, CachedBlobsFollowTheirRowsUntilApplied) {
  Exec("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), BIN BLOB SUB_TYPE 0)");
  Tr->Commit();
  Exec("INSERT INTO B VALUES (1, 'a', 'one')");
  Exec("INSERT INTO B VALUES (2, 'b', 'two')");
  Tr->Commit();
  TIB_Query* q = NewQuery("SELECT ID, NAME, BIN FROM B ORDER BY ID");
  q->SetRequestLive(true);
  q->SetCachedUpdates(true);
  q->Open();
  q->Last();
  q->Insert();
  q->FieldByName("ID")->SetAsInteger(70);
  q->FieldByName("BIN")->SetAsString("hello");
  q->Post();
  q->First();
  q->Edit();
  q->FieldByName("BIN")->SetAsString("edited");
  q->Post();
  q->Next();  // the inserted row, before the last one
  ASSERT_EQ(Text(q, "ID"), "70");
  EXPECT_EQ(Text(q, "BIN"), "hello");
  q->Edit();
  q->FieldByName("NAME")->SetAsString("x");
  q->Post();
  q->Last();
  EXPECT_EQ(Text(q, "BIN"), "two");
  q->Prior();
  EXPECT_EQ(Text(q, "BIN"), "hello");
  q->First();
  EXPECT_EQ(Text(q, "BIN"), "edited");
  q->ApplyUpdates();
  Tr->Commit();
  q->CommitUpdates();
  EXPECT_EQ(Read("SELECT ID, NAME, OCTET_LENGTH(BIN), CAST(BIN AS VARCHAR(20)) FROM B ORDER BY ID"),
            "1,a,6,edited;2,b,3,two;70,x,5,hello");
  // After the commit the rows still show their blobs, and a later edit keeps them.
  q->First();
  EXPECT_EQ(Text(q, "BIN"), "edited");
  q->Last();  // read again in the query's order
  ASSERT_EQ(Text(q, "ID"), "70");
  EXPECT_EQ(Text(q, "BIN"), "hello");
  q->SetCachedUpdates(false);
  q->Edit();
  q->FieldByName("NAME")->SetAsString("y");
  q->Post();
  Tr->Commit();
  EXPECT_EQ(Read("SELECT ID, NAME, OCTET_LENGTH(BIN) FROM B WHERE ID = 70"), "70,y,5");
}

// A grid painting other rows while one is edited or inserted leaves the typed values alone.
TEST_F(BDatasetEditsTest, PaintingOtherRowsKeepsTheTypedValues) {
  Fill(10);
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
    q->SetRequestLive(true);
    q->SetFetchWholeRows(whole);
    q->Open();
    auto paint = [&] {
      for (int r = 2; r <= 8; ++r) {
        q->SetBufferRowNum(r);
        EXPECT_EQ(q->BufferFieldByName("ID")->GetIsNull(), false);
      }
    };
    q->SetRowNum(5);
    q->Edit();
    q->FieldByName("NAME")->SetAsString(whole ? "typed" : "typed2");
    paint();
    EXPECT_EQ(Text(q, "NAME"), whole ? "typed" : "typed2");
    q->Post();
    q->Insert();
    q->FieldByName("ID")->SetAsInteger(whole ? 70 : 71);
    q->FieldByName("NAME")->SetAsString("new");
    paint();
    q->Post();
    Tr->Commit();
    delete q;
  }
  EXPECT_EQ(Read("SELECT ID, NAME FROM T WHERE ID IN (5, 70, 71) ORDER BY ID"), "5,typed2;70,new;71,new");
}

// The same for a blob typed into the edited row.
TEST_F(BDatasetEditsTest, PaintingOtherRowsKeepsATypedBlob) {
  Exec("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, BIN BLOB SUB_TYPE 0)");
  Tr->Commit();
  Exec("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 10) DO BEGIN "
       "INSERT INTO B VALUES (:I, 'b' || :I); I = I + 1; END END");
  Tr->Commit();
  TIB_Query* q = NewQuery("SELECT ID, BIN FROM B ORDER BY ID");
  q->SetRequestLive(true);
  q->Open();
  q->SetRowNum(3);
  q->Edit();
  q->FieldByName("BIN")->SetAsString("typed");
  for (int r = 2; r <= 8; ++r) {
    q->SetBufferRowNum(r);
    EXPECT_EQ(q->BufferFieldByName("BIN")->GetAsString(), r == 3 ? "typed" : "b" + std::to_string(r));
  }
  EXPECT_EQ(Text(q, "BIN"), "typed");
  q->Post();
  Tr->Commit();
  EXPECT_EQ(Read("SELECT ID, CAST(BIN AS VARCHAR(10)) FROM B WHERE ID BETWEEN 2 AND 4 ORDER BY ID"),
            "2,b2;3,typed;4,b4");
}

// Rows read again by key are read in the query's transaction, also after it was given another one on the
// same connection.
TEST_F(BDatasetEditsTest, RowsAreReadAgainInTheQuerysTransaction) {
  Fill(5);
  auto* other = new TIB_Transaction(Owner);
  other->SetIB_Connection(Conn);
  other->SetIsolation(tiConcurrency);
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
    q->SetFetchWholeRows(whole);
    q->Open();
    q->SetRowNum(2);
    EXPECT_EQ(Text(q, "NAME"), "n2");
    q->SetIB_Transaction(other);
    q->Open();
    q->SetRowNum(2);
    auto* w = new TIB_DSQL(Owner);
    w->SetIB_Connection(Conn);
    w->SetIB_Transaction(other);
    w->GetSQL().SetText("UPDATE T SET NAME = 'seen' WHERE ID = 2");
    w->Execute();
    delete w;
    EXPECT_TRUE(q->RefreshRow());
    EXPECT_EQ(Text(q, "NAME"), "seen");
    other->Rollback();
    delete q;
  }
}

// Select lists the derived-table form cannot hold: an unnamed expression and repeated column names.
TEST_F(BDatasetEditsTest, RowsOfExpressionsAndSelfJoinsAreReadAgainByKey) {
  Fill(30);
  struct Case {
    const char* SQL;
    const char* Links;
    bool Whole;
  };
  const Case cases[] = {
      {"SELECT ID, NAME, ID + 1 FROM T ORDER BY ID", "", true},
      {"SELECT ID, NAME, ID + 1 FROM T ORDER BY ID", "", false},
      {"SELECT A.ID, A.NAME, B.ID, B.NAME FROM T A JOIN T B ON B.ID = 31 - A.ID ORDER BY A.ID", "T.ID", true},
      {"SELECT A.ID, A.NAME, B.ID, B.NAME FROM T A JOIN T B ON B.ID = 31 - A.ID ORDER BY A.ID", "T.ID", false},
  };
  for (const Case& c : cases) {
    {
      const bool whole = c.Whole;
      SCOPED_TRACE(std::string(c.SQL) + (whole ? " whole" : " keys"));
      TIB_Query* q = NewQuery(c.SQL);
      if (*c.Links) {
        TIB_StringList links;
        links.SetText(c.Links);
        q->SetKeyLinks(links);
      }
      q->SetFetchWholeRows(whole);
      q->Open();
      EXPECT_EQ(q->GetKeysOnly(), !whole);
      q->SetRowNum(20);
      EXPECT_EQ(q->GetFields()->GetColumns(0)->GetAsInteger(), 20);
      EXPECT_EQ(q->GetFields()->GetColumns(2)->GetAsInteger(), *c.Links ? 11 : 21);
      Exec("UPDATE T SET NAME = 'upd' WHERE ID = 20");
      EXPECT_TRUE(q->RefreshRow());
      EXPECT_EQ(q->GetFields()->GetColumns(1)->GetAsString(), "upd");
      Exec("UPDATE T SET NAME = 'inv' WHERE ID = 20");
      q->InvalidateBookmark(q->GetBookmark());
      EXPECT_EQ(q->GetFields()->GetColumns(1)->GetAsString(), "inv");
      q->SetBufferRowNum(25);
      EXPECT_EQ(q->GetBufferFields()->GetColumns(0)->GetAsInteger(), 25);
      q->Refresh();
      EXPECT_EQ(q->GetFields()->GetColumns(0)->GetAsInteger(), 20);
      q->Last();
      EXPECT_EQ(q->GetRowNum(), 30);
      q->SetRowNum(3);
      EXPECT_EQ(q->GetFields()->GetColumns(0)->GetAsInteger(), 3);
      Exec("UPDATE T SET NAME = 'n20' WHERE ID = 20");
      delete q;
    }
  }
}

}  // namespace
