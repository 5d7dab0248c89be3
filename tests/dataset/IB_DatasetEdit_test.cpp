#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_UpdateSQL.h"
#include "platform/ScopeGuards.h"

namespace {

// A cursor whose cached-updates flag a test may set (the buffered dataset owns the setter).
struct CachedCursor : TIB_Cursor {
  using TIB_Cursor::TIB_Cursor;
  void SetCached(bool V) { FCachedUpdates = V; }
};

// A data source as a detail dataset sees its master.
struct MasterSource : TIB_DatasetLinkSource {
  TIB_Dataset* D;
  explicit MasterSource(TIB_Dataset* AD) : D(AD) {}
  TIB_Dataset* GetLinkDataset() override { return D; }
};

class DatasetEditTest : public datasettest::DatasetDbTest {
protected:
  // The rows of SQL as the second connection sees them after this one committed: "v1,v2;v1,v2;...".
  std::string Read(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    return ReadSecond(SQL, ",");
  }
  CachedCursor* Live(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    auto* c = new CachedCursor(Owner);
    c->SetIB_Connection(Conn);
    c->SetIB_Transaction(Tr);
    c->GetSQL().SetText(SQL);
    c->SetRequestLive(true);
    c->GetKeyLinks().SetText("ID");
    return c;
  }
};

// Every way of writing a change reaches the table: positioned or searched, prepared or one-off.
TEST_F(DatasetEditTest, EditsInsertsAndDeletesReachTheTableByEveryPath) {
  struct {
    bool Searched, Prepared;
  } cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << "searched " << k.Searched << " prepared " << k.Prepared);
    Exec("DELETE FROM T");
    Tr->Commit();
    Fill(3);
    CachedCursor* c = Live();
    c->SetSearchedEdits(k.Searched);
    c->SetSearchedDeletes(k.Searched);
    c->SetPreparedEdits(k.Prepared);
    c->SetDMLCacheFlags(IB_DMLCacheFlag(dcfAnnounceEdit) | IB_DMLCacheFlag(dcfAnnounceInsert) |
                        IB_DMLCacheFlag(dcfAnnounceDelete));
    std::vector<TIB_DMLCacheItemType> announced;
    c->OnDMLCacheAnnounceItem = [&](TIB_Dataset*, TIB_DMLCacheItemType T) { announced.push_back(T); };
    c->Open();
    c->Next();  // row 2
    c->Edit();
    c->FieldByName("NAME")->SetAsString("O'Brien");
    c->Post();
    EXPECT_EQ(dssBrowse, c->GetState());
    Tr->Commit();
    EXPECT_EQ("1,n1;2,O'Brien;3,n3", Read());
    c->Open();
    c->Delete();
    Tr->Commit();
    EXPECT_EQ("2,O'Brien;3,n3", Read());
    c->Insert();
    c->FieldByName("ID")->SetAsInteger(9);
    c->FieldByName("NAME")->SetAsString("new");
    c->Post();
    EXPECT_EQ(dssPrepared, c->GetState());  // a cursor that inserts is closed
    Tr->Commit();
    EXPECT_EQ("2,O'Brien;3,n3;9,new", Read());
    EXPECT_EQ((std::vector<TIB_DMLCacheItemType>{ditEdit, ditDelete, ditInsert}), announced);
    // The values went as parameters, never into the text.
    EXPECT_EQ(std::string::npos, c->GetUpdateSQL()->GetLastOneOffSQL().find("Brien"));
    delete c;
  }
}

TEST_F(DatasetEditTest, ARefusedChangeNamesWhatWasRefused) {
  Fill(1);
  TIB_Cursor* plain = NewCursor();
  plain->Open();
  EXPECT_THROW(
      {
        try {
          plain->Edit();
        } catch (const EIB_DatasetError& e) {
          EXPECT_STREQ("Cannot Edit current Row", e.what());
          throw;
        }
      },
      EIB_DatasetError);
  EXPECT_THROW(plain->Post(), EIB_DatasetError);
  EXPECT_THROW(plain->Cancel(), EIB_DatasetError);
  // A control's change of a browsing row asks for the edit and is refused the same way.
  EXPECT_THROW(plain->FieldByName("NAME")->SetAsString("x"), EIB_DatasetError);
  CachedCursor* c = Live("SELECT ID, NAME, ID + 1 AS NEXT_ID FROM T");
  c->SetPreventDeleting(true);
  c->Open();
  EXPECT_THROW(c->Delete(), EIB_DatasetError);
  try {
    c->FieldByName("NEXT_ID")->SetAsInteger(5);
    FAIL() << "changed a column of no relation";
  } catch (const EIB_DatasetError& e) {
    EXPECT_STREQ("NEXT_ID is readonly", e.what());
  }
  c->OnGetCanModify = [](TIB_Dataset*, TIB_DatasetCanModify A, bool& Can) { Can = A != cmEdit; };
  EXPECT_THROW(c->Edit(), EIB_DatasetError);
  EXPECT_EQ(dssBrowse, c->GetState());
}

TEST_F(DatasetEditTest, EditWhileEditingKeepsThePendingChangeAndUnchangedValuesAreNotModified) {
  Fill(2);
  Exec("UPDATE T SET GRP = NULL WHERE ID = 2");
  Tr->Commit();
  CachedCursor* c = Live("SELECT ID, NAME, GRP FROM T ORDER BY ID");
  int posts = 0, cancels = 0;
  c->AfterPost = [&](TIB_Dataset*) { ++posts; };
  c->AfterCancel = [&](TIB_Dataset*) { ++cancels; };
  c->Open();
  c->Edit();
  c->FieldByName("NAME")->SetAsString("n1");  // the same text: no change
  EXPECT_FALSE(c->GetModified());
  c->FieldByName("NAME")->SetAsString("abcdefgh");
  c->FieldByName("NAME")->SetAsString("n1");  // back: the bytes past its length differ, the value does not
  EXPECT_FALSE(c->GetModified());
  c->FieldByName("NAME")->SetAsString("changed");
  c->Edit();
  EXPECT_EQ(0, posts);
  EXPECT_TRUE(c->GetModified());
  c->FieldByName("NAME")->SetAsString("n1");
  c->Next();  // a move posts with cancel-if-unchanged: nothing changed, so it cancels
  EXPECT_EQ(0, posts);
  EXPECT_EQ(1, cancels);
  // A null column stays unchanged whatever data lies behind its null indicator (row 2's GRP is null).
  c->Edit();
  c->FieldByName("GRP")->SetAsInteger(99);
  EXPECT_TRUE(c->GetModified());
  c->FieldByName("GRP")->Clear();
  EXPECT_FALSE(c->GetModified());
}

TEST_F(DatasetEditTest, ErrorEventsRetryAbortOrFail) {
  Fill(1);
  struct {
    TIB_DataAction Action;
    bool Throws, Aborts;
    TIB_DatasetState After;
  } cases[] = {{daFail, true, false, dssEdit}, {daAbort, false, true, dssEdit}, {daRetry, false, false, dssBrowse}};
  for (const auto& k : cases) {
    CachedCursor* c = Live();
    int calls = 0;
    c->OnPostError = [&](TIB_Dataset*, const EIB_Error&, TIB_DataAction& A) { A = ++calls == 1 ? k.Action : daFail; };
    int writes = 0;
    c->OnCustomEdit = [&](TIB_Dataset*) {
      if (++writes == 1) throw EIB_DatasetError("first write fails");
    };
    c->Open();
    c->Edit();
    c->FieldByName("NAME")->SetAsString("x");
    if (k.Throws) {
      EXPECT_THROW(c->Post(), EIB_DatasetError);
    } else if (k.Aborts) {
      EXPECT_THROW(c->Post(), EAbort);
    } else {
      c->Post();
    }
    EXPECT_EQ(k.After, c->GetState());
    if (c->GetIsModifying()) c->Cancel();
    delete c;
  }
}

TEST_F(DatasetEditTest, RequiredColumnsAndDeleteConfirmationStopThePost) {
  Exec("CREATE TABLE R (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10) NOT NULL)");
  Tr->Commit();
  CachedCursor* c = Live("SELECT ID, NAME FROM R");
  c->Insert();
  c->FieldByName("ID")->SetAsInteger(1);
  try {
    c->Post();
    FAIL() << "posted without NAME";
  } catch (const EIB_DatasetError& e) {
    EXPECT_STREQ("NAME is a required field", e.what());
  }
  EXPECT_EQ(dssInsert, c->GetState());
  c->FieldByName("NAME")->SetAsString("a");
  c->Post();
  c->Open();
  c->SetAutoPostDelete(false);
  c->OnConfirmDelete = [](TComponent*, bool& Ok) { Ok = false; };
  c->Delete();
  EXPECT_THROW(c->Post(), EAbort);
  EXPECT_EQ(dssDelete, c->GetState());
  c->Cancel();
  Tr->Commit();
  EXPECT_EQ("1,a", Read("SELECT ID, NAME FROM R"));
}

TEST_F(DatasetEditTest, AChangeTouchingSeveralRowsIsUndoneAndRaised) {
  Exec("CREATE TABLE D (GRP INTEGER, NAME VARCHAR(10))");
  Tr->Commit();
  Exec("INSERT INTO D VALUES (1, 'a')");
  Exec("INSERT INTO D VALUES (1, 'b')");
  Tr->Commit();
  struct {
    bool Prepared;
    bool Delete;
    const char* Message;
  } cases[] = {{true, false, "Multiple records updated"},
               {false, false, "Multiple records updated"},
               {true, true, "Multiple records deleted"}};
  for (const auto& k : cases) {
    CachedCursor* c = Live("SELECT GRP, NAME FROM D ORDER BY NAME");
    c->GetKeyLinks().SetText("GRP");
    c->SetSearchedEdits(true);
    c->SetSearchedDeletes(true);
    c->SetPreparedEdits(k.Prepared);
    c->Open();
    try {
      if (k.Delete) {
        c->Delete();
      } else {
        c->Edit();
        c->FieldByName("NAME")->SetAsString("z");
        c->Post();
      }
      ADD_FAILURE() << "no error";
    } catch (const EIB_DatasetError& e) {
      EXPECT_STREQ(k.Message, e.what());
    }
    // A failed edit keeps the typed values for another try; a failed delete is over.
    if (k.Delete) {
      EXPECT_EQ(c->GetState(), dssBrowse);
    } else {
      c->Cancel();
    }
    Tr->Commit();
    EXPECT_EQ("1,a;1,b", Read("SELECT GRP, NAME FROM D ORDER BY NAME"));
    delete c;
  }
}

TEST_F(DatasetEditTest, CachedUpdatesLocateTheRowByItsPlainColumnsAndReportALostUpdate) {
  Exec("CREATE TABLE B (ID INTEGER NOT NULL, NAME VARCHAR(10), TWICE COMPUTED BY (ID * 2))");
  Tr->Commit();
  Exec("INSERT INTO B (ID, NAME) VALUES (1, NULL)");
  Exec("INSERT INTO B (ID, NAME) VALUES (2, 'b')");
  Tr->Commit();
  CachedCursor* c = Live("SELECT ID, NAME, TWICE FROM B ORDER BY ID");
  c->SetSearchedEdits(true);
  c->SetCached(true);
  c->Open();
  c->Edit();
  c->FieldByName("NAME")->SetAsString("a");
  c->Post();
  const std::string sql = c->GetUpdateSQL()->GetLastOneOffSQL();
  EXPECT_NE(std::string::npos, sql.find("B.NAME IS NULL"));
  EXPECT_EQ(std::string::npos, sql.find("TWICE"));
  Tr->Commit();
  EXPECT_EQ("1,a;2,b", Read("SELECT ID, NAME FROM B ORDER BY ID"));
  // The row goes away behind the dataset's back: the update finds nothing and says so.
  c->Open();
  c->Next();
  Exec("DELETE FROM B WHERE ID = 2");
  c->Edit();
  c->FieldByName("NAME")->SetAsString("lost");
  try {
    c->Post();
    FAIL() << "a lost update passed";
  } catch (const EIB_DatasetError& e) {
    EXPECT_STREQ("Record was not located to update", e.what());
  }
}

TEST_F(DatasetEditTest, NewRowsTakeGeneratorAndServerDefaultValues) {
  Exec("CREATE GENERATOR G");
  Exec(
      "CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, I INTEGER DEFAULT NULL, J INTEGER DEFAULT 5, "
      "S VARCHAR(20) DEFAULT 'it''s', K SMALLINT DEFAULT 70000, U VARCHAR(31) DEFAULT CURRENT_USER, "
      "DT DATE DEFAULT 'TODAY', E INTEGER DEFAULT CURRENT_CONNECTION)");
  Tr->Commit();
  CachedCursor* c = Live("SELECT ID, I, J, S, K, U, DT, E FROM N");
  c->GetGeneratorLinks().SetText("ID=G");
  c->SetGetServerDefaults(true);
  for (int round = 1; round <= 2; ++round) {
    c->Insert();
    EXPECT_EQ(round, c->FieldByName("ID")->GetAsInteger());
    EXPECT_TRUE(c->FieldByName("I")->GetIsNull());
    EXPECT_EQ("5", c->FieldByName("J")->GetAsString());
    EXPECT_EQ("it's", c->FieldByName("S")->GetAsString());
    EXPECT_TRUE(c->FieldByName("K")->GetIsNull());
    EXPECT_TRUE(c->FieldByName("U")->GetIsNull());
    EXPECT_TRUE(c->FieldByName("E")->GetIsNull());  // an expression, not 0
    EXPECT_EQ(static_cast<int>(Date()), static_cast<int>(c->FieldByName("DT")->GetAsDate()));
    c->Post();
  }
  EXPECT_EQ(3, c->GetDefaultValues().Count());  // updated in place, not grown per insert
  Tr->Commit();
  EXPECT_EQ("1,null,5,it's;2,null,5,it's", Read("SELECT ID, I, J, S FROM N ORDER BY ID"));
}

// A prepare that fails for the schema cache's default lookups only.
ISC_STATUS gDefaultLookupFailure = 0;
ISC_STATUS FailDefaultLookups(ISC_STATUS* Status, isc_tr_handle* Tr, isc_stmt_handle* Stmt, unsigned short Length,
                              const ISC_SCHAR* SQL, unsigned short Dialect, XSQLDA* DA) {
  const std::string text = SQL ? SQL : "";
  if (text.find("RDB$DEFAULT_SOURCE AS VARCHAR") != std::string::npos) {
    Status[0] = isc_arg_gds;
    Status[1] = gDefaultLookupFailure;
    Status[2] = isc_arg_end;
    return gDefaultLookupFailure;
  }
  return CurrentSession()->Untraced.isc_dsql_prepare(Status, Tr, Stmt, Length, SQL, Dialect, DA);
}

TEST_F(DatasetEditTest, AServerDefaultLookupsEngineErrorIsTheSchemaCachesOwn) {
  Exec("CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, J INTEGER DEFAULT 5)");
  Tr->Commit();
  CachedCursor* c = Live("SELECT ID, J FROM N");
  c->SetGetServerDefaults(true);
  c->Open();
  c->Insert();  // the schema lists are read; the lookups' statements are made anew below
  EXPECT_EQ(5, c->FieldByName("J")->GetAsInteger());
  c->Cancel();
  Conn->GetSchemaCache()->FreeCursors();
  TIB_Session& s = *Conn->GetSession();
  TValueRestorer failing(s.Entries.isc_dsql_prepare, decltype(s.Entries.isc_dsql_prepare){&FailDefaultLookups});
  // A lost network finds nothing new: the insert goes on.
  gDefaultLookupFailure = isc_network_error;
  EXPECT_NO_THROW(c->Insert());
  c->Cancel();
  // Any other failure is the cache's internal error, not the engine's.
  gDefaultLookupFailure = isc_dsql_error;
  EXPECT_EQ("Internal SchemaCache ERRCODE: 335544569", testsupport::MessageOf<EIB_Error>([&] { c->Insert(); }));
}

TEST_F(DatasetEditTest, CustomStatementsBindNewOldAndKeyValues) {
  Fill(2);
  CachedCursor* c = Live();
  c->GetEditSQL().SetText("UPDATE T SET NAME = :NAME || '/' || :OLD_NAME WHERE ID = :OLD_ID");
  c->Open();
  // Only the columns the custom statement sets may change.
  EXPECT_TRUE(c->FieldByName("ID")->GetReadOnly());
  EXPECT_FALSE(c->FieldByName("NAME")->GetReadOnly());
  c->Edit();
  c->FieldByName("NAME")->SetAsString("x");
  c->Post();
  Tr->Commit();
  EXPECT_EQ("1,x/n1;2,n2", Read());
  c->GetEditSQL().SetText("UPDATE T SET NAME = :NOSUCH WHERE ID = :OLD_ID");
  c->Open();
  c->Edit();
  try {
    c->FieldByName("NAME")->SetAsString("y");
    c->Post();
    FAIL() << "a bad reference passed";
  } catch (const EIB_DatasetError& e) {
    EXPECT_STREQ("Invalid custom DML column reference: NOSUCH", e.what());
  }
}

// Over a join the custom edit statement's parameters name the key relation's columns: exactly the
// columns of that relation it sets may change, whichever name the select gives them, and a change
// made as a control makes it (the dataset goes into edit) reaches the table.
TEST_F(DatasetEditTest, ACustomEditStatementOverAJoinSetsTheKeyRelationsColumnsItNames) {
  Exec("CREATE TABLE AIRPORT (CODE CHAR(3) NOT NULL PRIMARY KEY, CITY VARCHAR(20), NOTE VARCHAR(20))");
  Exec("CREATE TABLE FLIGHT (ID INTEGER NOT NULL PRIMARY KEY, SEATS INTEGER, NOTE VARCHAR(20), ORIGIN CHAR(3))");
  Tr->Commit();
  Exec("INSERT INTO AIRPORT VALUES ('FRA', 'Frankfurt', 'hub')");
  Exec("INSERT INTO FLIGHT VALUES (1, 180, 'n1', 'FRA')");
  Exec("INSERT INTO FLIGHT VALUES (2, 120, 'n2', 'FRA')");
  Tr->Commit();
  struct {
    const char* Name;
    const char* SQL;
    std::vector<const char*> ReadOnly;
    const char* Note;  // the flight's NOTE column
  } const cases[] = {
      {"join",
       "SELECT F.ID, F.SEATS, F.NOTE, A.CITY, A.NOTE AS HUB_NOTE FROM FLIGHT F "
       "JOIN AIRPORT A ON A.CODE = F.ORIGIN ORDER BY F.ID",
       {"ID", "CITY", "HUB_NOTE"},
       "NOTE"},
      {"join, the airport's NOTE first",
       "SELECT A.NOTE, A.CITY, F.ID, F.SEATS, F.NOTE FROM FLIGHT F "
       "JOIN AIRPORT A ON A.CODE = F.ORIGIN ORDER BY F.ID",
       {"ID", "CITY", "AIRPORT.NOTE"},
       "FLIGHT.NOTE"},
      {"one table", "SELECT ID, SEATS, NOTE FROM FLIGHT ORDER BY ID", {"ID"}, "NOTE"},
  };
  int seats = 200;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Name);
    TIB_Query* q = NewQuery(k.SQL);
    q->SetKeyRelation("FLIGHT");
    q->GetKeyLinks().SetText("ID");
    q->GetEditSQL().SetText("UPDATE FLIGHT SET SEATS = :SEATS, NOTE = :NOTE WHERE ID = :OLD_ID");
    q->Open();
    for (const char* name : k.ReadOnly) EXPECT_TRUE(q->FieldByName(name)->GetReadOnly()) << name;
    EXPECT_FALSE(q->FieldByName("SEATS")->GetReadOnly());
    EXPECT_FALSE(q->FieldByName(k.Note)->GetReadOnly());
    ++seats;
    q->FieldByName("SEATS")->SetAsInteger(seats);
    EXPECT_EQ(dssEdit, q->GetState());
    q->FieldByName(k.Note)->SetAsString("note " + std::to_string(seats));
    q->Post();
    try {
      q->FieldByName(k.ReadOnly.back())->SetAsString("9");
      FAIL() << "a column the edit statement does not set changed";
    } catch (const EIB_DatasetError& e) {
      const std::string column = q->FieldByName(k.ReadOnly.back())->GetFullName();
      EXPECT_EQ(column + " is readonly", e.what());
    }
    EXPECT_EQ(dssBrowse, q->GetState());
    Tr->Commit();
    EXPECT_EQ("1," + std::to_string(seats) + ",note " + std::to_string(seats) + ";2,120,n2",
              Read("SELECT ID, SEATS, NOTE FROM FLIGHT ORDER BY ID"));
    EXPECT_EQ("FRA,Frankfurt,hub", Read("SELECT CODE, CITY, NOTE FROM AIRPORT"));
    delete q;
  }
}

TEST_F(DatasetEditTest, ADetailTakesItsMastersValuesByTheQualifiedColumnFirst) {
  Exec("CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10))");
  Exec("CREATE TABLE O (ID INTEGER NOT NULL PRIMARY KEY, CUST_ID INTEGER)");
  Tr->Commit();
  Exec("INSERT INTO C VALUES (7, 'c7')");
  Exec("INSERT INTO O VALUES (1, 7)");
  Exec("INSERT INTO O VALUES (2, 7)");
  Tr->Commit();
  // The master row shows O.ID (1) before C.ID (7): the link names C.ID.
  TIB_Cursor* master = NewCursor("SELECT O.ID, C.ID, C.NAME FROM O JOIN C ON C.ID = O.CUST_ID WHERE O.ID = 1");
  master->Open();
  MasterSource src(master);
  CachedCursor* detail = Live("SELECT ID, CUST_ID FROM O ORDER BY ID");
  detail->GetMasterLinks().SetText("CUST_ID=C.ID");
  detail->SetMasterSource(&src);
  detail->Open();
  EXPECT_NE(std::string::npos, detail->GetServerSQL().find("CUST_ID=?"));
  EXPECT_EQ(2, Walk(detail));
  detail->Insert();
  EXPECT_EQ(7, detail->FieldByName("CUST_ID")->GetAsInteger());
  detail->Cancel();
  MasterSource back(detail);
  EXPECT_THROW(master->SetMasterSource(&back), EIB_DatasetError);
}

TEST_F(DatasetEditTest, PostingADetailUnderAMasterInInsertWritesTheMasterFirst) {
  Exec("CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10))");
  Exec("CREATE TABLE O (ID INTEGER NOT NULL PRIMARY KEY, CUST_ID INTEGER NOT NULL)");
  Tr->Commit();
  CachedCursor* master = Live("SELECT ID, NAME FROM C");
  master->SetSearchedEdits(true);
  master->SetSearchedDeletes(true);
  master->SetPreparedEdits(true);
  MasterSource src(master);
  CachedCursor* detail = Live("SELECT ID, CUST_ID FROM O");
  detail->GetMasterLinks().SetText("CUST_ID=C.ID");
  detail->SetMasterSource(&src);
  master->Insert();
  master->FieldByName("ID")->SetAsInteger(8);
  master->FieldByName("NAME")->SetAsString("eight");
  detail->Insert();
  detail->FieldByName("ID")->SetAsInteger(3);
  detail->Post();
  EXPECT_EQ(dssInsert, master->GetState());
  master->Post();
  Tr->Commit();
  EXPECT_EQ("8,eight", Read("SELECT ID, NAME FROM C"));
  EXPECT_EQ("3,8", Read("SELECT ID, CUST_ID FROM O"));
}

TEST_F(DatasetEditTest, ARetainedInsertIsWrittenThenEditedOrDeletedByItsKey) {
  struct {
    bool Cancel;
    const char* Table;
  } cases[] = {{false, "5,second"}, {true, ""}};
  for (const auto& k : cases) {
    Exec("DELETE FROM T");
    Tr->Commit();
    CachedCursor* c = Live();
    c->SetSearchedEdits(true);
    c->SetSearchedDeletes(true);
    c->SetPreparedEdits(true);
    c->Insert();
    c->FieldByName("ID")->SetAsInteger(5);
    c->FieldByName("NAME")->SetAsString("first");
    c->PostRetaining();
    EXPECT_EQ(dssInsert, c->GetState());
    EXPECT_TRUE(c->GetModified());
    c->FieldByName("NAME")->SetAsString("second");
    if (k.Cancel) {
      c->Cancel();
    } else {
      c->Post();
    }
    Tr->Commit();
    EXPECT_EQ(k.Table, Read());
    delete c;
  }
}

TEST_F(DatasetEditTest, APessimisticEditLocksTheRowOrSaysWhoHasIt) {
  Fill(2);
  Read();  // the second connection is attached
  auto* other = new TIB_DSQL(Owner);
  other->SetIB_Connection(Conn2);
  other->SetIB_Transaction(Tr2);
  other->GetSQL().SetText("UPDATE T SET NAME = 'theirs' WHERE ID = 1");
  other->Execute();  // uncommitted: the row is theirs
  CachedCursor* c = Live();
  c->SetPessimisticLocking(true);
  c->Open();
  try {
    c->Edit();
    FAIL() << "edited a row another transaction holds";
  } catch (const EIB_DatasetError& e) {
    EXPECT_STREQ("Record is locked by another user", e.what());
  }
  EXPECT_EQ(dssBrowse, c->GetState());
  c->Next();
  c->Edit();  // row 2 is free
  EXPECT_EQ(dssEdit, c->GetState());
  c->Cancel();
  Tr2->Rollback();
  c->Close();
  Tr->Commit();
  Tr->SetLockWait(true);
  c->Open();
  EXPECT_THROW(c->Edit(), EIB_DatasetError);
}

TEST_F(DatasetEditTest, ALookupListWritesTheChosenKeyIntoItsKeySource) {
  Fill(3);
  Exec("CREATE TABLE L (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10))");
  Tr->Commit();
  Exec("INSERT INTO L VALUES (10, 'ten')");
  Exec("INSERT INTO L VALUES (20, 'twenty')");
  Tr->Commit();
  CachedCursor* target = Live("SELECT ID, NAME, GRP FROM T ORDER BY ID");
  target->Open();
  MasterSource src(target);
  TIB_Cursor* lookup = NewCursor("SELECT ID, NAME FROM L ORDER BY ID");
  lookup->GetKeyLinks().SetText("ID=GRP");
  lookup->SetKeySource(&src);
  lookup->Open();
  EXPECT_EQ(dssBrowse, target->GetState());  // opening the list chooses no row
  lookup->Next();
  lookup->Next();
  EXPECT_EQ(dssEdit, target->GetState());
  EXPECT_EQ(20, target->FieldByName("GRP")->GetAsInteger());
  target->Post();
  Tr->Commit();
  EXPECT_EQ("1,20;2,2;3,0", Read("SELECT ID, GRP FROM T ORDER BY ID"));
  MasterSource back(lookup);
  EXPECT_THROW(target->SetKeySource(&back), EIB_DatasetError);
}

TEST_F(DatasetEditTest, ARowWithoutPrimaryKeyIsEditedByItsDbKey) {
  Exec("CREATE TABLE NOPK (A INTEGER, B VARCHAR(5))");
  Tr->Commit();
  Exec("INSERT INTO NOPK VALUES (1, 'x')");
  Exec("INSERT INTO NOPK VALUES (1, 'y')");
  Tr->Commit();
  CachedCursor* c = Live("SELECT RDB$DB_KEY, A, B FROM NOPK ORDER BY B");
  c->GetKeyLinks().Clear();
  c->SetKeyLinksAutoDefine(true);
  c->SetSearchedEdits(true);
  c->SetPreparedEdits(true);
  c->Open();
  c->Edit();
  c->FieldByName("A")->SetAsInteger(2);
  c->Post();
  Tr->Commit();
  EXPECT_EQ("2,x;1,y", Read("SELECT A, B FROM NOPK ORDER BY B"));
}

}  // namespace

// The update statements take the dataset's column properties: the columns a custom insert returns show
// as the dataset's Fields lists and column attributes say. A change of any Fields list builds the
// statements again, and the next write still reaches the table.
TEST_F(DatasetEditTest, UpdateStatementsShareTheDatasetsColumnProperties) {
  Fill(3);
  CachedCursor* c = Live();
  c->GetInsertSQL().SetText("INSERT INTO T (ID, NAME) VALUES (:ID, :NAME) RETURNING NAME");
  c->GetFieldsDisplayLabel().Add("T.NAME=Full name");
  c->GetColumnAttributes().Add("T.NAME=NOCASE");
  c->Open();
  TIB_Statement* s = c->GetUpdateSQL()->GetInsertStatement();
  ASSERT_TRUE(s->GetPrepared());
  TIB_Column* returned = s->GetFields()->ColumnByName("NAME");
  EXPECT_EQ(returned->GetDisplayLabel(), "Full name");
  EXPECT_TRUE(s->HasColumnAttribute(*returned, "NOCASE"));
  const char* values[IB_FieldsPropertyListCount] = {"T.NAME=C",      "T.NAME=UPPER", "T.ID=0000", "T.NAME=Name",
                                                    "T.NAME=Name",   "T.NAME=12",    "T.NAME=>L", "T.NAME=0",
                                                    "T.ID=NOSEARCH", "T.NAME=N",     "T.NAME=T"};
  for (int l = 0; l < IB_FieldsPropertyListCount; ++l) {
    SCOPED_TRACE(l);
    TIB_Statement* before = c->GetUpdateSQL()->GetInsertStatement();
    ASSERT_TRUE(before->GetPrepared());
    c->GetFieldsList(static_cast<TIB_FieldsPropertyList>(l)).Add(values[l]);
    EXPECT_FALSE(before->GetPrepared());
  }
  c->Insert();
  c->FieldByName("ID")->SetAsInteger(9);
  c->FieldByName("NAME")->SetAsString("new");  // upper case, as FieldsCharCase now says
  c->Post();
  Tr->Commit();
  EXPECT_EQ("1,n1;2,n2;3,n3;9,NEW", Read());
  delete c;
}

namespace {

// A column given back the value it had (or reverted) counts as unchanged, whatever a longer text fetched
// before left in the bytes past a VARCHAR's length or in the data of a null value.
TEST_F(DatasetEditTest, AColumnGivenItsOwnValueBackIsNotModified) {
  Exec("INSERT INTO T (ID, NAME) VALUES (1, 'abcdefgh')");
  Exec("INSERT INTO T (ID, NAME) VALUES (2, 'abc')");
  Exec("INSERT INTO T (ID, NAME) VALUES (3, NULL)");
  CachedCursor* c = Live();
  c->Open();
  c->Next();  // the second row: 'abc' over the first row's longer text
  c->Edit();
  TIB_Column* name = c->FieldByName("NAME");
  name->SetAsString("abc");
  EXPECT_FALSE(name->GetIsModified());
  name->SetAsString("abd");
  EXPECT_TRUE(name->GetIsModified());
  name->Revert();
  EXPECT_FALSE(name->GetIsModified());
  EXPECT_EQ(name->GetAsString(), "abc");
  c->Cancel();
  c->Next();  // the third row: NULL
  c->Edit();
  name->SetAsString("x");
  EXPECT_TRUE(name->GetIsModified());
  name->SetIsNull(true);
  EXPECT_FALSE(name->GetIsModified());
  c->Cancel();
}

}  // namespace
