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
  EXPECT_EQ(q->GetState(), dssBrowse);
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

// A delete the server refuses (a foreign key, a trigger) leaves the row where it was, shown, in browse
// state, with the server's error raised to the caller; the next commit does not try it again, and the
// next delete works. Rows with a key and rows written by position alike; posted at once or by Post.
TEST_F(BDatasetEditsTest, ARefusedDeleteLeavesTheRowShownAndIsNotRepeated) {
  Fill(6);
  Exec("CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, TID INTEGER REFERENCES T (ID))");
  Exec("CREATE TABLE P (ID INTEGER, NAME VARCHAR(20))");
  Exec("CREATE EXCEPTION KEEP_ROW 'row 5 stays'");
  Tr->Commit();
  Exec("CREATE TRIGGER P_BD FOR P BEFORE DELETE AS BEGIN IF (OLD.ID = 5) THEN EXCEPTION KEEP_ROW; END");
  Exec("INSERT INTO C VALUES (1, 3)");
  Exec("INSERT INTO P SELECT ID, NAME FROM T");
  Tr->Commit();
  struct Case {
    const char* Table;
    const char* SQL;
    int Refused, Next;  // row numbers: the refused row, then one that may go
    bool AutoPost;
    const char* Error;
    const char* After;
  };
  const Case cases[] = {
      {"T", "SELECT ID, NAME FROM T ORDER BY ID", 3, 2, true, "FOREIGN KEY", "1;3;4;5;6"},
      {"T", "SELECT ID, NAME FROM T ORDER BY ID", 2, 3, false, "FOREIGN KEY", "1;3;5;6"},
      // Without a key the row is deleted by position: the row fetched last.
      {"P", "SELECT ID, NAME FROM P ORDER BY ID", 5, 6, true, "row 5 stays", "1;2;3;4;5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.SQL + std::string(c.AutoPost ? " posted at once" : " posted by Post"));
    TIB_Query* q = NewQuery(c.SQL);
    q->SetRequestLive(true);
    if (std::string(c.Table) == "P") q->SetSearchedDeletes(false);
    q->SetAutoPostDelete(c.AutoPost);
    q->Open();
    q->SetRowNum(c.Refused);
    const std::string id = Text(q, "ID");
    const int32_t count = q->GetRecordCount();
    std::string message;
    try {
      q->Delete();
      if (!c.AutoPost) q->Post();
    } catch (const EIB_Error& e) {
      message = e.what();
    }
    EXPECT_NE(message.find(c.Error), std::string::npos) << message;
    EXPECT_EQ(q->GetState(), dssBrowse);
    EXPECT_EQ(q->GetRowNum(), c.Refused);
    EXPECT_EQ(Text(q, "ID"), id);
    EXPECT_EQ(q->GetRecordCount(), count);
    EXPECT_NO_THROW(Tr->Commit());
    // The row is read again after the commit closed the query: it is still there, and a delete works.
    q->Open();
    q->SetRowNum(c.Next);
    q->Delete();
    if (!c.AutoPost) q->Post();
    EXPECT_EQ(q->GetState(), dssBrowse);
    Tr->Commit();
    EXPECT_EQ(Read(std::string("SELECT ID FROM ") + c.Table + " ORDER BY ID"), c.After);
    delete q;
  }
}

// With bsAfterInsert a posted insert that cannot be read again by its key makes the query read its rows
// again: a row the server keyed itself (by DB_KEY) then shows under its real key, with the server's
// values, and can be edited; a row outside the query's conditions stays shown as posted at its place,
// so that a row just typed does not vanish. Either way the other rows show what the server holds now.
TEST_F(BDatasetEditsTest, AnInsertThatCannotBeReadAgainReadsTheRowsAgain) {
  Fill(5);
  Exec("CREATE TABLE P (ID INTEGER, NAME VARCHAR(20))");
  Tr->Commit();
  Exec("CREATE TRIGGER P_BI FOR P BEFORE INSERT AS BEGIN NEW.NAME = UPPER(NEW.NAME); END");
  Exec("INSERT INTO P SELECT ID, NAME FROM T");
  Tr->Commit();
  struct Case {
    const char* Table;
    const char* SQL;
    int32_t NewId;
    const char* Name;
    const char* ShownName;  // the new row's name as shown after the post
  };
  const Case cases[] = {
      {"P", "SELECT ID, NAME, RDB$DB_KEY FROM P ORDER BY ID", 50, "new", "NEW"},
      {"T", "SELECT ID, NAME FROM T WHERE NAME STARTING 'n' ORDER BY ID", 60, "other", "other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.SQL);
    TIB_Query* q = NewQuery(c.SQL);
    q->SetRequestLive(true);
    q->SetBufferSynchroFlags(IB_BufferSynchroFlag(bsAfterInsert));
    q->Open();
    q->SetRowNum(1);
    Exec(std::string("UPDATE ") + c.Table + " SET NAME = 'nchanged' WHERE ID = 1");
    q->Append();
    q->FieldByName("ID")->SetAsInteger(c.NewId);
    q->FieldByName("NAME")->SetAsString(c.Name);
    q->Post();
    EXPECT_EQ(q->GetState(), dssBrowse);
    EXPECT_EQ(q->GetRowNum(), 6);
    EXPECT_EQ(Text(q, "ID"), std::to_string(c.NewId));
    EXPECT_EQ(Text(q, "NAME"), c.ShownName);
    EXPECT_EQ(q->GetRecordCount(), 6);
    q->Edit();
    q->FieldByName("NAME")->SetAsString("newer");
    q->Post();
    q->SetRowNum(1);
    EXPECT_EQ(Text(q, "NAME"), "nchanged");
    q->SetRowNum(2);
    q->SetRowNum(6);
    EXPECT_EQ(Text(q, "ID"), std::to_string(c.NewId));
    Tr->Commit();
    EXPECT_EQ(Read(std::string("SELECT ID, NAME FROM ") + c.Table + " WHERE ID IN (1, " + std::to_string(c.NewId) +
                   ") ORDER BY ID"),
              "1,nchanged;" + std::to_string(c.NewId) + ",newer");
    delete q;
  }
}

// The update events name the substitute as their dataset when the query has one (the component the
// application knows), else the query; a substitute that is freed no longer stands in.
TEST_F(BDatasetEditsTest, TheUpdateEventsNameTheSubstituteWhenOneIsSet) {
  Fill(3);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  q->SetRequestLive(true);
  q->SetCachedUpdates(true);
  TIB_Query* outer = NewQuery("SELECT ID, NAME FROM T");
  std::vector<TIB_Dataset*> records, errors;
  q->OnUpdateRecord = [&](TIB_Dataset* DataSet, TIB_UpdateKind Kind, TIB_UpdateAction& Action) {
    records.push_back(DataSet);
    q->SysUpdateRecord(Kind);
    Action = uaApplied;
  };
  q->OnUpdateError = [&](TIB_Dataset* DataSet, const EIB_Error&, TIB_UpdateKind, TIB_UpdateAction& Action) {
    errors.push_back(DataSet);
    Action = uaSkip;
  };
  q->Open();
  struct Case {
    TIB_Query* Substitute;
    int32_t Id;  // inserted; 1 is a key already there
    TIB_Dataset* Named;
  };
  for (const Case& c : {Case{nullptr, 10, q}, Case{outer, 11, outer}, Case{outer, 1, outer}}) {
    SCOPED_TRACE(c.Id);
    q->SetSubstitute(c.Substitute);
    records.clear();
    errors.clear();
    q->Append();
    q->FieldByName("ID")->SetAsInteger(c.Id);
    q->FieldByName("NAME")->SetAsString("new");
    q->Post();
    q->ApplyUpdates();
    EXPECT_EQ(records, std::vector<TIB_Dataset*>{c.Named});
    EXPECT_EQ(errors, c.Id == 1 ? std::vector<TIB_Dataset*>{c.Named} : std::vector<TIB_Dataset*>{});
    Tr->CommitRetaining();
    q->CommitUpdates();
    if (c.Id == 1) q->CancelUpdates();
  }
  delete outer;
  EXPECT_EQ(q->GetSubstitute(), nullptr);
  q->Edit();
  q->FieldByName("NAME")->SetAsString("edited");
  q->Post();
  records.clear();
  q->ApplyUpdates();
  EXPECT_EQ(records, std::vector<TIB_Dataset*>{q});
  Tr->Commit();
  EXPECT_EQ(Read("SELECT ID, NAME FROM T WHERE ID >= 10 OR NAME = 'edited' ORDER BY ID"), "10,new;11,edited");
  delete q;
}

// A row whose data is dropped while it is edited (the rows read again, or its bookmark invalidated)
// keeps the edit: the typed values, a blob among them, are posted, and under cached updates applied.
TEST_F(BDatasetEditsTest, ARowInvalidatedWhileEditedKeepsTheEdit) {
  Exec("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), TXT BLOB SUB_TYPE 1)");
  Tr->Commit();
  for (int i = 1; i <= 4; ++i) Exec("INSERT INTO B VALUES (" + std::to_string(i) + ", 'n', 'text')");
  Tr->Commit();
  int id = 0;
  for (const bool cached : {false, true}) {
    for (const bool all : {false, true}) {
      SCOPED_TRACE(std::string(cached ? "cached " : "") + (all ? "RefreshRows" : "InvalidateBookmark"));
      ++id;
      TIB_Query* q = NewQuery("SELECT ID, NAME, TXT FROM B ORDER BY ID");
      q->SetRequestLive(true);
      q->SetCachedUpdates(cached);
      q->Open();
      q->SetRowNum(id);
      q->Edit();
      q->FieldByName("NAME")->SetAsString("x" + std::to_string(id));
      if (all) {
        q->RefreshRows();
      } else {
        q->InvalidateBookmark(q->GetBookmark());
      }
      q->FieldByName("TXT")->SetAsString("typed " + std::to_string(id));
      q->Post();
      EXPECT_EQ(Text(q, "NAME") + "," + Text(q, "TXT"), "x" + std::to_string(id) + ",typed " + std::to_string(id));
      if (cached) {
        Tr->ApplyUpdates();
      } else {
        Tr->Commit();
      }
      delete q;
    }
  }
  EXPECT_EQ(Read("SELECT ID, NAME, TXT FROM B ORDER BY ID"),
            "1,x1,typed 1;2,x2,typed 2;3,x3,typed 3;4,x4,typed 4");
}

// A blob value read for a row is never shown for another one: after a row with blobs is deleted and
// the deletion committed, the server gives the freed ids to new values; neither a row whose null column
// still carries an old id in its buffer (B) nor rows that read no blob at all (N, every value null)
// keep the deleted row's value alive under that id.
TEST_F(BDatasetEditsTest, AFreedBlobIdNeverShowsTheDeletedRowsValue) {
  for (const char* table : {"B", "N"}) {
    SCOPED_TRACE(table);
    const std::string t = table;
    Exec("CREATE TABLE " + t + " (ID INTEGER NOT NULL PRIMARY KEY, TXT BLOB SUB_TYPE 1, BIN BLOB SUB_TYPE 0)");
    Tr->Commit();
    for (int i = 2; i <= 10; i += 2) {
      const std::string bin = t == "B" ? "'bin" + std::to_string(i) + "'" : "NULL";
      Exec("INSERT INTO " + t + " VALUES (" + std::to_string(i) + ", NULL, " + bin + ")");
    }
    Tr->Commit();
    TIB_Query* q = NewQuery("SELECT ID, TXT, BIN FROM " + t + " ORDER BY ID");
    q->SetRequestLive(true);
    q->SetCommitAction(caRefresh);
    q->Open();
    std::string shown, expected;
    const std::string six = t == "B" ? "6,null,bin6;" : "6,null,null;";
    for (int round = 0; round < 4; ++round) {
      const std::string r = std::to_string(round);
      q->SetRowNum(3);
      q->Insert();
      q->FieldByName("ID")->SetAsInteger(100 + round);
      q->FieldByName("TXT")->SetAsString("deleted text " + r);
      q->FieldByName("BIN")->SetAsString("deleted bin " + r);
      q->Post();
      ASSERT_EQ(Text(q, "TXT"), "deleted text " + r);
      ASSERT_EQ(Text(q, "BIN"), "deleted bin " + r);
      q->Delete();
      shown += Text(q, "ID") + "," + Text(q, "TXT") + "," + Text(q, "BIN") + ";";
      Tr->Commit();
      q->Refresh();
      q->Append();
      q->FieldByName("ID")->SetAsInteger(200 + round);
      q->FieldByName("BIN")->SetAsString("new bin " + r);
      q->Post();
      shown += Text(q, "ID") + "," + Text(q, "TXT") + "," + Text(q, "BIN") + ";";
      q->SetRowNum(3);
      shown += Text(q, "ID") + "," + Text(q, "TXT") + "," + Text(q, "BIN") + ";";
      expected += six + std::to_string(200 + round) + ",null,new bin " + r + ";" + six;
    }
    EXPECT_EQ(shown, expected);
    Tr->Commit();
    EXPECT_EQ(Read("SELECT ID, TXT, BIN FROM " + t + " WHERE ID > 100 ORDER BY ID"),
              "200,null,new bin 0;201,null,new bin 1;202,null,new bin 2;203,null,new bin 3");
    delete q;
  }
}

// Blobs applied from cached updates are read again afterwards: the temporary ids they were written
// under are invalid once committed, so the rows (kept in keys-only mode) show the server's values.
TEST_F(BDatasetEditsTest, AppliedCachedBlobsShowAfterTheCommit) {
  Exec("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, BIN BLOB SUB_TYPE 0)");
  Tr->Commit();
  for (int i = 1; i <= 4; ++i) Exec("INSERT INTO B VALUES (" + std::to_string(i) + ", 'bin')");
  Tr->Commit();
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole);
    TIB_Query* q = NewQuery("SELECT ID, BIN FROM B ORDER BY ID");
    q->SetRequestLive(true);
    q->SetCommitAction(caRefresh);
    q->SetFetchWholeRows(whole);
    q->SetCachedUpdates(true);
    q->Open();
    const std::string tag = whole ? "w" : "k";
    q->SetRowNum(2);
    q->Edit();
    q->FieldByName("BIN")->SetAsString("edited " + tag);
    q->Post();
    q->Append();
    q->FieldByName("ID")->SetAsInteger(whole ? 10 : 11);
    q->FieldByName("BIN")->SetAsString("inserted " + tag);
    q->Post();
    q->First();
    Tr->ApplyUpdates();
    std::string painted;
    for (int i = 1; i <= (whole ? 5 : 6); ++i) {
      q->SetBufferRowNum(i);
      TIB_Row* b = q->GetBufferFields();
      painted += b->ColumnByName("ID")->GetAsString() + "," + b->ColumnByName("BIN")->GetAsString() + ";";
    }
    EXPECT_EQ(painted, whole ? "1,bin;2,edited w;3,bin;4,bin;10,inserted w;"
                             : "1,bin;2,edited k;3,bin;4,bin;10,inserted w;11,inserted k;");
    q->SetRowNum(2);
    EXPECT_EQ(Text(q, "BIN"), "edited " + tag);
    delete q;
  }
  EXPECT_EQ(Read("SELECT ID, BIN FROM B ORDER BY ID"), "1,bin;2,edited k;3,bin;4,bin;10,inserted w;11,inserted k");
}

// A grid row that showed a value keeps no copy of it for the next row it shows, even when that row's
// value has the same id: the server gives the id of a replaced value to a new one.
TEST_F(BDatasetEditsTest, APaintedRowNeverShowsAReplacedValueUnderItsOldId) {
  Exec("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, TXT BLOB SUB_TYPE 1)");
  Tr->Commit();
  Exec("INSERT INTO B VALUES (1, 'first')");
  Tr->Commit();
  TIB_Query* q = NewQuery("SELECT ID, TXT FROM B ORDER BY ID");
  q->SetRequestLive(true);
  q->SetCommitAction(caRefresh);
  q->Open();
  std::string shown, expected;
  for (int round = 0; round < 4; ++round) {
    const std::string r = std::to_string(round);
    q->SetRowNum(2);  // the end: row 1 is painted through the buffer row
    q->SetBufferRowNum(1);
    shown += q->GetBufferFields()->ColumnByName("TXT")->GetAsString() + ";";
    q->SetRowNum(1);
    q->Edit();
    q->FieldByName("TXT")->SetAsString("replaced " + r);
    q->Post();
    Tr->Commit();
    q->Append();
    q->FieldByName("ID")->SetAsInteger(100 + round);
    q->FieldByName("TXT")->SetAsString("new " + r);
    q->Post();
    Tr->Commit();
    q->SetRowNum(1);
    q->SetBufferRowNum(q->GetBufferCount());
    shown += q->GetBufferFields()->ColumnByName("ID")->GetAsString() + "," +
             q->GetBufferFields()->ColumnByName("TXT")->GetAsString() + ";";
    expected += (round == 0 ? "first" : "replaced " + std::to_string(round - 1)) + ";" + std::to_string(100 + round) +
                ",new " + r + ";";
  }
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(Read("SELECT ID, TXT FROM B WHERE ID >= 100 ORDER BY ID"), "100,new 0;101,new 1;102,new 2;103,new 3");
  delete q;
}
