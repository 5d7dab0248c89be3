// Where the dataset's modes meet: lookups and their key sources, search mode with inserts, closes and
// prepares, retained edits, row locks given up at the server, and what a prepare builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LinkTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/Locale.h"

namespace {

using datasettest::DatasetDbTest;
using testsupport::MessageOf;

class DatasetModesTest : public DatasetDbTest {
protected:
  // The second attachment (the one the shared reader uses), made on first use.
  void Connect2() {
    if (Conn2) return;
    Conn2 = new TIB_Connection(Owner);
    Conn2->SetDatabaseName(Conn->GetDatabaseName());
    Conn2->SetCharSet("ISO8859_1");
    Conn2->Connect();
    Tr2 = new TIB_Transaction(Owner);
    Tr2->SetIB_Connection(Conn2);
    Tr2->SetIsolation(tiCommitted);
  }
  // The rows of SQL as a second connection sees them: "v1,v2;v1,v2;...".
  std::string Read(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") { return ReadSecond(SQL, ","); }
  // Runs SQL through the second connection; the engine's message, or empty on success.
  std::string Exec2(const std::string& SQL) {
    Connect2();
    auto* q = new TIB_DSQL(Owner);
    q->SetIB_Connection(Conn2);
    q->SetIB_Transaction(Tr2);
    q->GetSQL().SetText(SQL);
    std::string failure;
    try {
      q->Execute();
      Tr2->Commit();
    } catch (const EIB_Error& e) {
      failure = e.what();
      Tr2->Rollback();
    }
    delete q;
    return failure;
  }
  TIB_Query* NewQuery(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText(SQL);
    return q;
  }
  template <class D>
  D* Live(D* Dataset) {
    Dataset->SetRequestLive(true);
    Dataset->GetKeyLinks().SetText("ID");
    return Dataset;
  }
  static std::vector<int> Ids(TIB_Dataset* D) {
    std::vector<int> ids;
    for (; !D->GetEof(); D->Next()) ids.push_back(D->FieldByName("ID")->GetAsInteger());
    return ids;
  }
};

// A lookup moves only where its key source may take the new key: a key source that edits takes it
// (written through the key source's post), one in search mode takes it as criteria, a read-only one
// refuses the move, and one whose key column is read-only ends the move without a message.
TEST_F(DatasetModesTest, ALookupScrollsOnlyWhereItsKeySourceMayTakeTheKey) {
  enum Setup { Editable, Searching, ReadOnly, KeyColumnReadOnly };
  struct {
    Setup How;
    const char* Refusal;  // nullptr: moves; "": ends silently
  } cases[] = {{Editable, nullptr}, {Searching, nullptr}, {ReadOnly, "Dataset cannot scroll"}, {KeyColumnReadOnly, ""}};
  Fill(4);
  Exec("UPDATE T SET GRP = 9");
  Tr->Commit();
  for (const auto& k : cases) {
    SCOPED_TRACE(static_cast<int>(k.How));
    auto* source = new TIB_DataSource(Owner);
    TIB_Query* s = Live(NewQuery("SELECT ID, GRP FROM T ORDER BY ID"));
    source->SetDataset(s);
    if (k.How == ReadOnly) s->SetReadOnly(true);
    if (k.How == KeyColumnReadOnly) s->GetFieldsReadOnly().SetText("GRP=T");
    s->Open();
    TIB_Query* l = NewQuery();
    l->GetKeyLinks().SetText("ID=GRP");
    l->SetKeySeeking(false);
    l->SetKeySource(source);
    l->Open();
    if (k.How == Searching) s->EnterSearchMode();
    const int32_t before = l->GetRowNum();
    if (!k.Refusal) {
      l->Next();
      EXPECT_EQ(before + 1, l->GetRowNum());
    } else if (*k.Refusal) {
      EXPECT_EQ(k.Refusal, MessageOf<EIB_DatasetError>([&] { l->Next(); }));
      EXPECT_EQ(before, l->GetRowNum());
    } else {
      EXPECT_THROW(l->Next(), EAbort);
      EXPECT_EQ(before, l->GetRowNum());
      EXPECT_EQ(dssBrowse, s->GetState());
    }
    if (k.How == Editable) {
      EXPECT_EQ(dssEdit, s->GetState());
      EXPECT_EQ(l->FieldByName("ID")->GetAsInteger(), s->FieldByName("GRP")->GetAsInteger());
      s->Post();
      Tr->Commit();
      EXPECT_EQ("1," + std::to_string(l->FieldByName("ID")->GetAsInteger()),
                Read("SELECT ID, GRP FROM T WHERE ID = 1"));
    }
    delete l;
    delete s;
    delete source;
  }
}

// Turning KeySeeking on moves the lookup to the row its key source names at once.
TEST_F(DatasetModesTest, TurningKeySeekingOnSeeksTheKeySourcesRow) {
  Fill(6);
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* s = NewQuery("SELECT ID, GRP FROM T ORDER BY ID");  // GRP 1 2 0 1 2 0
  source->SetDataset(s);
  s->Open();
  TIB_Query* l = NewQuery();
  l->GetKeyLinks().SetText("T.ID=GRP");
  l->SetKeySeeking(false);
  l->SetKeySource(source);
  l->Open();
  s->SetRowNum(2);
  EXPECT_NE(2, l->GetRowNum());
  l->SetKeySeeking(true);
  EXPECT_EQ(2, l->GetRowNum());
}

// An edit written by PostRetaining is still a change: GetModified stays true until the final post, and
// a move then posts it rather than cancelling it.
TEST_F(DatasetModesTest, AnEditKeptByPostRetainingCountsAsModified) {
  Fill(2);
  TIB_Cursor* c = Live(NewCursor());
  c->Open();
  std::vector<std::string> seen;
  c->AfterPost = [&](TIB_Dataset*) { seen.push_back("post"); };
  c->AfterCancel = [&](TIB_Dataset*) { seen.push_back("cancel"); };
  c->Edit();
  c->FieldByName("NAME")->SetAsString("kept");
  c->PostRetaining();
  EXPECT_EQ(dssEdit, c->GetState());
  EXPECT_TRUE(c->GetModified());
  c->Next();  // posts the pending change
  EXPECT_EQ((std::vector<std::string>{"post", "post"}), seen);
  EXPECT_EQ(dssBrowse, c->GetState());
  EXPECT_FALSE(c->GetModified());
  Tr->Commit();
  EXPECT_EQ("1,kept;2,n2", Read());
}

// DOUBLE PRECISION and FLOAT server defaults are taken only when the column's precision keeps them.
TEST_F(DatasetModesTest, FloatingServerDefaultsAreTakenOnlyWhereThePrecisionKeepsThem) {
  Exec(
      "CREATE TABLE N (ID INTEGER NOT NULL PRIMARY KEY, D1 DOUBLE PRECISION DEFAULT 1.5, "
      "D2 DOUBLE PRECISION DEFAULT 0.12345678901234567, F1 FLOAT DEFAULT 2.5, F2 FLOAT DEFAULT 3.14159265)");
  Tr->Commit();
  TIB_Cursor* c = Live(NewCursor("SELECT ID, D1, D2, F1, F2 FROM N"));
  c->SetGetServerDefaults(true);
  c->Insert();
  EXPECT_EQ(1.5, c->FieldByName("D1")->GetAsDouble());
  EXPECT_TRUE(c->FieldByName("D2")->GetIsNull());
  EXPECT_EQ(2.5, c->FieldByName("F1")->GetAsDouble());
  EXPECT_TRUE(c->FieldByName("F2")->GetIsNull());
  c->FieldByName("ID")->SetAsInteger(1);
  c->Post();
  Tr->Commit();
  EXPECT_EQ("1,1.5,null,2.5,null", Read("SELECT ID, D1, D2, F1, F2 FROM N"));
}

// A clause written through SetSQLClause keeps the dataset prepared; the next open runs the new text.
TEST_F(DatasetModesTest, AClauseWrittenBySetSQLClauseKeepsTheDatasetPrepared) {
  Fill(4);
  TIB_Cursor* c = NewCursor();
  c->Prepare();
  c->SetSQLClause(3, "WHERE ID > 2");
  EXPECT_TRUE(c->GetPrepared());
  c->Open();
  EXPECT_EQ((std::vector<int>{3, 4}), Ids(c));
}

// A detail in search mode shows its criteria again (data change) when its master values are applied.
TEST_F(DatasetModesTest, ASearchingDetailHearsItsMasterParametersApplied) {
  Fill(3);
  auto* ms = new TIB_DataSource(Owner);
  TIB_Cursor* master = NewCursor("SELECT ID, GRP FROM T ORDER BY ID");
  ms->SetDataset(master);
  TIB_Cursor* detail = NewCursor("SELECT ID FROM T ORDER BY ID");
  detail->GetMasterLinks().SetText("GRP=T.GRP");
  detail->SetMasterSource(ms);
  auto* ds = new TIB_DataSource(Owner);
  ds->SetDataset(detail);
  std::vector<std::string> log;
  auto* link = new linktest::LogLink(Owner, log, "d", {22});
  link->SetDataSource(ds);
  master->Open();
  detail->EnterSearchMode();
  log.clear();
  detail->ApplyMasterParams();
  EXPECT_EQ((std::vector<std::string>{"d:22"}), log);
}

// The plan pass writes only the plan's own conditions: a detail's EXISTS condition appears once.
TEST_F(DatasetModesTest, ThePlanPassDoesNotRepeatTheAddedConditions) {
  Fill(6);
  Exec("CREATE TABLE G (GRP INTEGER NOT NULL PRIMARY KEY)");
  Tr->Commit();
  Exec("INSERT INTO G SELECT DISTINCT GRP FROM T");
  Tr->Commit();
  auto* ms = new TIB_DataSource(Owner);
  TIB_Cursor* master = NewCursor("SELECT GRP FROM G");
  ms->SetDataset(master);
  master->GetOrderingItems().SetText("By group=GRP;GRP DESC");
  master->GetOrderingLinks().SetText("GRP=ITEM=1;PLANASC=SORT (G NATURAL)");
  master->SetOrderingItemNo(1);
  TIB_Cursor* detail = NewCursor("SELECT ID FROM T ORDER BY ID");
  detail->GetMasterLinks().SetText("GRP=G.GRP");
  detail->SetMasterSource(ms);
  detail->SetMasterSearch(true);
  auto* ds = new TIB_DataSource(Owner);
  ds->SetDataset(detail);
  auto* criteria = new TIB_DataLink(Owner);
  criteria->SetDataSource(ds);
  master->EnterSearchMode();
  criteria->SetSearchWhere("ID = 5");
  master->Post();
  const std::string sql = master->GetServerSQL();
  size_t exists = 0;
  for (size_t at = sql.find("EXISTS"); at != std::string::npos; at = sql.find("EXISTS", at + 1)) ++exists;
  EXPECT_EQ(1u, exists) << sql;
  EXPECT_NE(std::string::npos, sql.find("PLAN SORT (G NATURAL)")) << sql;
  EXPECT_EQ(2, master->FieldByName("GRP")->GetAsInteger());
}

// Each column knows the ordering item it stands for, read again when OrderingLinks change.
TEST_F(DatasetModesTest, ColumnsCarryTheirOrderingItem) {
  TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T");
  c->GetOrderingItems().SetText("By id=ID\r\nBy name=NAME");
  c->GetOrderingLinks().SetText("NAME=ITEM=2;POS");
  c->Prepare();
  EXPECT_EQ(2, c->FieldByName("NAME")->GetOrderingItemNo());
  EXPECT_EQ(-1, c->FieldByName("ID")->GetOrderingItemNo());
  c->GetOrderingLinks().SetText("ID=1");
  EXPECT_EQ(1, c->FieldByName("ID")->GetOrderingItemNo());
  EXPECT_EQ(-1, c->FieldByName("NAME")->GetOrderingItemNo());
}

// Insert from search mode inserts (the criteria are not run); its cancel or post returns to search mode.
TEST_F(DatasetModesTest, AnInsertFromSearchModeInsertsAndReturnsToSearching) {
  Fill(3);
  auto* source = new TIB_DataSource(Owner);
  TIB_Cursor* c = Live(NewCursor());
  source->SetDataset(c);
  auto* criteria = new TIB_DataLink(Owner);
  criteria->SetDataSource(source);
  c->EnterSearchMode();
  criteria->SetSearchWhere("ID > 100");  // finds nothing
  c->Insert();
  EXPECT_EQ(dssInsert, c->GetState());
  c->Cancel();
  EXPECT_EQ(dssSearch, c->GetState());
  c->Insert();
  c->FieldByName("ID")->SetAsInteger(10);
  c->FieldByName("NAME")->SetAsString("new");
  c->Post();
  EXPECT_EQ(dssSearch, c->GetState());
  Tr->Commit();
  EXPECT_EQ("1,n1;2,n2;3,n3;10,new", Read());
}

// A dataset opened from its search closes back into search mode (its criteria kept) unless searching is
// prevented or its transaction's Close closed it; one opened plainly closes to prepared.
TEST_F(DatasetModesTest, ADatasetOpenedFromASearchClosesBackIntoSearchMode) {
  Fill(3);
  struct {
    bool Searched, Prevent, ByTransaction;
    TIB_DatasetState After;
  } cases[] = {{true, false, false, dssSearch},
               {true, true, false, dssPrepared},
               {true, false, true, dssPrepared},
               {false, false, false, dssPrepared}};
  for (const auto& k : cases) {
    SCOPED_TRACE(std::to_string(k.Searched) + std::to_string(k.Prevent) + std::to_string(k.ByTransaction));
    auto* source = new TIB_DataSource(Owner);
    TIB_Cursor* c = NewCursor();
    source->SetDataset(c);
    auto* criteria = new TIB_DataLink(Owner);
    criteria->SetDataSource(source);
    if (k.Searched) {
      c->EnterSearchMode();
      criteria->SetSearchWhere("ID > 1");
      c->Post();
    } else {
      c->Open();
    }
    EXPECT_EQ(dssBrowse, c->GetState());
    c->SetPreventSearching(k.Prevent);
    if (k.ByTransaction) {
      Tr->Close();
    } else {
      c->Close();
    }
    EXPECT_EQ(k.After, c->GetState());
    if (k.After == dssSearch) {
      EXPECT_EQ("ID > 1", criteria->GetSearchWhere());
      c->Open();
      EXPECT_EQ((std::vector<int>{2, 3}), Ids(c));
    }
    delete criteria;
    delete c;
    delete source;
  }
}

// A prepare in search mode asks the controls to write their criteria first.
TEST_F(DatasetModesTest, APrepareInSearchModeTakesTheControlsCriteriaFirst) {
  Fill(6);
  auto* source = new TIB_DataSource(Owner);
  TIB_Cursor* c = NewCursor();
  source->SetDataset(c);
  auto* control = new TIB_DataLink(Owner);
  control->SetDataSource(source);
  c->EnterSearchMode();
  control->OnUpdateData = [&](TIB_DataLink* L, TIB_DataSource*, TIB_Column*) { L->SetSearchWhere("ID > 4"); };
  c->InvalidateSQL();
  c->Prepare();
  EXPECT_NE(std::string::npos, c->GetServerSQL().find("ID > 4")) << c->GetServerSQL();
}

// A row lock that changed nothing is given up at the server when the edit ends, unless other changes
// of the transaction are pending (they are never committed by it).
TEST_F(DatasetModesTest, ARowLockEndsAtTheServerWithItsEdit) {
  struct {
    bool OtherChange;
    bool RowFree;
  } cases[] = {{false, true}, {true, false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.OtherChange);
    Exec("DELETE FROM T");
    Tr->Commit();
    Fill(2);
    TIB_Cursor* c = Live(NewCursor());
    c->SetPessimisticLocking(true);
    c->Open();
    if (k.OtherChange) Exec("UPDATE T SET NAME = 'pending' WHERE ID = 2");
    c->Edit();
    EXPECT_TRUE(c->GetRowLockHeld());
    c->Cancel();
    EXPECT_FALSE(c->GetRowLockHeld());
    EXPECT_EQ(0, Tr->GetLockedRowCount());
    const std::string failure = Exec2("UPDATE T SET NAME = 'theirs' WHERE ID = 1");
    if (k.RowFree) {
      EXPECT_EQ("", failure);
      EXPECT_EQ("1,theirs;2,n2", Read());
    } else {
      EXPECT_NE("", failure);
      EXPECT_EQ("1,n1;2,n2", Read());  // the pending change was not committed
    }
    Tr->Rollback();
    delete c;
  }
}

// The prepared state an insert passes through while it is set up is not shown to the data sources.
TEST_F(DatasetModesTest, AnInsertBeingSetUpShowsNoPreparedState) {
  Fill(2);
  auto* source = new TIB_DataSource(Owner);
  TIB_Cursor* c = Live(NewCursor());
  source->SetDataset(c);
  std::vector<std::string> log;
  auto* link = new linktest::LogLink(Owner, log, "c", {});
  std::vector<TIB_DatasetState> states;
  link->OnState = [&] { states.push_back(c->GetState()); };
  link->SetDataSource(source);
  c->Open();
  states.clear();
  c->Insert();
  EXPECT_EQ((std::vector<TIB_DatasetState>{dssInsert}), states);
  c->Cancel();
}

// The refresh asks for the row number only without a KeySource (a lookup is placed by its key source).
TEST_F(DatasetModesTest, ARefreshKeepsTheRowNumberOnlyWithoutAKeySource) {
  Fill(3);
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* s = NewQuery();
  source->SetDataset(s);
  s->Open();
  for (bool keyed : {false, true}) {
    SCOPED_TRACE(keyed);
    TIB_Cursor* c = NewCursor();
    c->SetRefreshAction(raKeepRowNum);
    if (keyed) {
      c->GetKeyLinks().SetText("ID");
      c->SetKeySource(source);
    }
    c->Open();
    if (keyed) {
      EXPECT_NO_THROW(c->Refresh());
      EXPECT_TRUE(c->GetActive());
    } else {
      EXPECT_EQ("RowNum is not implemented yet", MessageOf<EIB_DatasetError>([&] { c->Refresh(); }));
    }
    delete c;
  }
}

// A seeking lookup is refreshed back onto its own row, also where its key source does not name it.
TEST_F(DatasetModesTest, ARefreshOfASeekingLookupKeepsItsRow) {
  Fill(4);
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* s = NewQuery("SELECT ID, GRP FROM T ORDER BY ID");
  source->SetDataset(s);
  s->Open();
  TIB_Query* l = NewQuery();
  l->GetKeyLinks().SetText("T.ID=GRP");
  l->SetKeySource(source);
  l->Open();
  s->EnterSearchMode();  // the lookup's moves become criteria, not key values
  l->SetRowNum(3);
  EXPECT_TRUE(l->Refresh());
  EXPECT_EQ(3, l->GetRowNum());
  EXPECT_EQ(3, l->FieldByName("ID")->GetAsInteger());
}

// A refresh while the transaction ends keeps a dataset whose CommitAction keeps its rows, except inside
// the transaction's Close, where it closes.
TEST_F(DatasetModesTest, ARefreshInsideTheTransactionsCloseCloses) {
  Fill(3);
  for (bool closing : {false, true}) {
    SCOPED_TRACE(closing);
    TIB_Query* q = NewQuery();
    q->SetCommitAction(caRefresh);
    q->Open();
    bool found = false, active = false;
    Tr->BeforeEnd = [&](TIB_Transaction*) {
      found = q->Refresh();
      active = q->GetActive();
    };
    if (closing) {
      Tr->Close();
    } else {
      Tr->Commit();
    }
    Tr->BeforeEnd = nullptr;
    EXPECT_EQ(!closing, found);
    EXPECT_EQ(!closing, active);
    delete q;
  }
}

// A master searched through its detail's criteria receives the values of the detail's parameters that
// those criteria use.
TEST_F(DatasetModesTest, AMasterSearchCarriesTheDetailsParameters) {
  Fill(6);
  Exec("CREATE TABLE G (GRP INTEGER NOT NULL PRIMARY KEY)");
  Tr->Commit();
  Exec("INSERT INTO G SELECT DISTINCT GRP FROM T");
  Tr->Commit();
  auto* ms = new TIB_DataSource(Owner);
  TIB_Cursor* master = NewCursor("SELECT GRP FROM G ORDER BY GRP");
  ms->SetDataset(master);
  TIB_Cursor* detail = NewCursor("SELECT ID FROM T WHERE NAME <> :SKIP ORDER BY ID");
  detail->GetMasterLinks().SetText("GRP=G.GRP");
  detail->SetMasterSource(ms);
  detail->SetMasterSearch(true);
  auto* ds = new TIB_DataSource(Owner);
  ds->SetDataset(detail);
  auto* criteria = new TIB_DataLink(Owner);
  criteria->SetDataSource(ds);
  detail->Prepare();
  detail->ParamByName("SKIP")->SetAsString("n5");
  master->EnterSearchMode();
  criteria->SetSearchWhere("ID > 3");  // rows 4 (group 1), 5 (group 2, skipped), 6 (group 0)
  master->Post();
  EXPECT_EQ((std::vector<int>{0, 1}), [&] {
    std::vector<int> g;
    for (; !master->GetEof(); master->Next()) g.push_back(master->FieldByName("GRP")->GetAsInteger());
    return g;
  }());
}

}  // namespace
