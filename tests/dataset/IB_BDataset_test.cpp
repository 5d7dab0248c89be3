#include "dblib/dataset/IB_BDataset.h"

#include <gtest/gtest.h>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_DataSource.h"
#include "platform/Forms.h"

namespace {

using datasettest::DatasetDbTest;
using testsupport::MessageOf;

class BDatasetTest : public DatasetDbTest {
protected:
  static int32_t Id(TIB_Dataset* D) { return D->GetFields()->ColumnByName("ID")->GetAsInteger(); }
  int32_t Count(const std::string& Where) {
    TIB_Cursor* c = NewCursor("SELECT COUNT(*) FROM T WHERE " + Where);
    c->First();
    const int32_t n = c->GetFields()->GetColumns(0)->GetAsInteger();
    delete c;
    return n;
  }
};

// Row numbers, moves in both directions and the ends, whether the rows are keyed by the table's key or
// by their fetch order.
TEST_F(BDatasetTest, ScrollsInBothDirectionsByRowNumber) {
  Fill(50);
  for (const char* sql : {"SELECT ID, NAME FROM T ORDER BY ID",
                          "SELECT ID, NAME FROM T UNION ALL SELECT 0, '' FROM "
                          "RDB$DATABASE WHERE 1 = 0 ORDER BY 1"}) {
    SCOPED_TRACE(sql);
    TIB_Query* q = NewQuery(sql);
    q->Open();
    EXPECT_EQ(q->GetRowNum(), 1);
    EXPECT_EQ(q->GetBufferCount(), 1);
    q->SetRowNum(30);
    EXPECT_EQ(Id(q), 30);
    EXPECT_EQ(q->MoveBy(-10), -10);
    EXPECT_EQ(Id(q), 20);
    q->Prior();
    EXPECT_EQ(Id(q), 19);
    q->Last();
    EXPECT_EQ(Id(q), 50);
    EXPECT_FALSE(q->GetEof());
    q->Next();
    EXPECT_TRUE(q->GetEof());
    EXPECT_EQ(q->MoveBy(-2), -2);
    EXPECT_EQ(Id(q), 49);
    q->SetRowNum(0);
    EXPECT_TRUE(q->GetBof());
    EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { q->Prior(); }), "At beginning of Dataset");
    q->SetRowNum(1000);  // beyond the last row: at the end
    EXPECT_TRUE(q->GetEof());
    EXPECT_EQ(q->GetRecordCount(), 50);
    delete q;
  }
}

TEST_F(BDatasetTest, BookmarksFindRowsAgainAndAreCheckedStrictly) {
  Fill(40);
  TIB_Query* q = NewQuery();
  q->Open();
  q->SetRowNum(7);
  const std::string mark = q->GetBookmark();
  EXPECT_EQ(mark.size(), 2u * q->GetNodeList().GetKeyLength());
  q->SetRowNum(1);
  q->SetBookmark(mark);
  EXPECT_EQ(Id(q), 7);
  // A bookmark of a row not fetched yet is found by fetching on.
  TIB_Query* all = NewQuery();
  all->Last();
  all->SetRowNum(35);
  const std::string far = all->GetBookmark();
  q->SetBookmark(far);
  EXPECT_EQ(Id(q), 35);
  q->SetBookmark("");
  EXPECT_TRUE(q->GetBof());
  // Keys are canonical: a bookmark taken while a VARCHAR key is edited shorter equals the bookmark of the
  // row fetched with that key.
  Exec("UPDATE T SET NAME = 'a long name' WHERE ID = 2");
  TStringList links;
  links.SetText("T.NAME");
  std::string marks[2];
  for (int i = 0; i < 2; ++i) {
    TIB_Query* k = NewQuery();
    k->SetKeyLinks(links);
    k->SetRequestLive(true);
    k->Open();
    k->SetRowNum(2);
    if (i == 0) {
      k->Edit();
      k->GetFields()->ColumnByName("NAME")->SetAsString("x");
      marks[0] = k->GetBookmark();
      k->Post();
    } else {
      marks[1] = k->GetBookmark();
    }
    delete k;
  }
  EXPECT_EQ(marks[0], marks[1]);
  const std::string bad[] = {mark.substr(1), mark + "00", std::string(mark.size(), 'G'), "0x" + mark.substr(2)};
  for (const std::string& b : bad) {
    SCOPED_TRACE(b);
    EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { q->SetBookmark(b); }), "Invalid Bookmark String");
  }
}

// The buffer position walks rows without moving the current one and shows their values.
TEST_F(BDatasetTest, TheBufferPositionShowsOtherRowsWithoutMovingTheCurrentOne) {
  Fill(20);
  TIB_Query* q = NewQuery();
  q->Open();
  q->SetRowNum(2);
  q->SetBufferRowNum(15);  // fetched on demand
  EXPECT_EQ(q->GetBufferRowNum(), 15);
  EXPECT_EQ(q->BufferFieldByName("ID")->GetAsInteger(), 15);
  EXPECT_EQ(Id(q), 2);
  const std::string mark = q->GetBufferBookmark();
  q->SetBufferRowNum(2);
  EXPECT_EQ(q->GetBufferFields(), q->GetFields());
  q->SetBufferBookmark(mark);
  EXPECT_EQ(q->BufferFieldByName("NAME")->GetAsString(), "n15");
  q->SetBufferRowNum(0);
  EXPECT_TRUE(q->GetBufferBof());
  EXPECT_TRUE(q->BufferFieldByName("ID")->GetIsNull());
}

// Setting the buffer bookmark answers whether its row was found: a row of the query (buffered or not
// yet fetched) is; a row outside the query, or an empty bookmark, leaves the buffer position at row 0.
TEST_F(BDatasetTest, SettingTheBufferBookmarkAnswersWhetherTheRowWasFound) {
  Fill(20);
  TIB_Query* all = NewQuery();
  all->Open();
  auto markOf = [&](int32_t Row) {
    all->SetRowNum(Row);
    return all->GetBookmark();
  };
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T WHERE ID <= 10 ORDER BY ID");
  q->Open();
  q->SetRowNum(2);
  struct Case {
    std::string Mark;
    bool Found;
    int32_t BufferRow;
  };
  const Case cases[] = {{markOf(3), true, 3}, {markOf(9), true, 9}, {markOf(15), false, 0}, {"", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Mark);
    q->SetBufferRowNum(1);
    EXPECT_EQ(q->SetBufferBookmark(c.Mark), c.Found);
    EXPECT_EQ(q->GetBufferRowNum(), c.BufferRow);
    EXPECT_EQ(Id(q), 2);
  }
}

// A posted row whose ordering column changed is flagged as standing out of the query's order (with or
// without cached updates); a change of another column is not, and a refresh that fetches the row again
// in order clears the flag.
TEST_F(BDatasetTest, APostThatChangesTheOrderingColumnFlagsTheRowOutOfOrder) {
  Fill(6);
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached);
    TIB_Query* q = NewQuery("SELECT ID, NAME, GRP FROM T");
    q->SetRequestLive(true);
    q->SetCachedUpdates(cached);
    q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
    q->GetOrderingLinks().SetText("NAME=ITEM=1");
    q->SetOrderingItemNo(1);
    q->Open();
    auto outOfOrder = [&] { return (q->GetNodeList().GetRowCursor().Node->GetFlags() & nfOutOfOrder) != 0; };
    q->SetRowNum(2);
    q->Edit();
    q->FieldByName("GRP")->SetAsInteger(9);
    q->Post();
    EXPECT_FALSE(outOfOrder());
    q->Edit();
    q->FieldByName("NAME")->SetAsString("a");
    q->Post();
    EXPECT_TRUE(outOfOrder());
    q->Append();
    q->FieldByName("ID")->SetAsInteger(40);
    q->FieldByName("NAME")->SetAsString("m");
    q->Post();
    EXPECT_TRUE(outOfOrder());
    if (cached) {
      q->ApplyUpdates();
      Tr->Commit();
      q->CommitUpdates();
      q->Open();
    } else {
      q->Refresh();
    }
    q->SetRowNum(1);
    EXPECT_EQ(q->FieldByName("NAME")->GetAsString(), "a");
    EXPECT_FALSE(outOfOrder());
    delete q;
    Tr->Rollback();
  }
}

// A refresh keeps the current row number and the rows with state (a selection here): the same rows come
// back flagged.
TEST_F(BDatasetTest, RefreshKeepsTheRowAndTheRowsWithState) {
  Fill(20);
  TIB_Query* q = NewQuery();
  q->Open();
  q->SetRowNum(5);
  q->SetRowSelected(true);
  q->SetRowNum(12);
  Exec("UPDATE T SET NAME = 'changed' WHERE ID = 12");
  q->Refresh();
  EXPECT_EQ(q->GetRowNum(), 12);
  EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetAsString(), "changed");
  q->SetRowNum(5);
  EXPECT_TRUE(q->GetRowSelected());
  q->SetRowNum(6);
  EXPECT_FALSE(q->GetRowSelected());
}

// What a commit does to an open query, by its CommitAction.
TEST_F(BDatasetTest, ACommitLeavesTheQueryAsItsCommitActionSays) {
  Fill(30);
  struct Case {
    TIB_CommitAction Action;
    bool Active;
    int32_t RowNum;
    int32_t Buffered;
  } cases[] = {{caClose, false, 0, 0},
               {caFetchAll, true, 3, 30},
               {caRefreshKeys, true, 3, 3},
               {caRefresh, true, 3, 3},
               {caInvalidateCursor, true, 3, 3}};
  for (const Case& k : cases) {
    SCOPED_TRACE(static_cast<int>(k.Action));
    TIB_Query* q = NewQuery();
    q->SetCommitAction(k.Action);
    q->Open();
    q->SetRowNum(3);
    Tr->Commit();
    EXPECT_EQ(q->GetActive(), k.Active);
    EXPECT_EQ(q->GetRowNum(), k.RowNum);
    EXPECT_EQ(q->GetBufferCount(), k.Buffered);
    if (k.Active) {
      q->Last();
      EXPECT_EQ(Id(q), 30);
    }
    delete q;
  }
}

// Cached deletes hide rows at once, cancelling brings them back at their place; applying writes them
// and the commit settles them.
TEST_F(BDatasetTest, CachedDeletesCancelAndApply) {
  Fill(10);
  TIB_Query* q = NewQuery();
  q->SetCachedUpdates(true);
  q->SetRequestLive(true);
  q->SetCommitAction(caRefresh);
  q->Open();
  q->Last();
  for (int32_t row : {2, 4, 4}) {  // rows 2, 5 and 6 of the table
    q->SetRowNum(row);
    q->Delete();
  }
  EXPECT_EQ(q->GetBufferCount(), 7);
  EXPECT_TRUE(q->GetUpdatesPending());
  q->SetRowNum(2);
  EXPECT_EQ(Id(q), 3);
  q->CancelUpdates();
  EXPECT_FALSE(q->GetUpdatesPending());
  EXPECT_EQ(q->GetBufferCount(), 10);
  q->SetRowNum(5);
  EXPECT_EQ(Id(q), 5);
  q->Delete();
  q->Delete();
  Tr->ApplyUpdates();
  EXPECT_FALSE(q->GetUpdatesPending());
  EXPECT_EQ(Count("1 = 1"), 8);
  EXPECT_EQ(q->GetRowNum(), 5);  // refreshed after the commit, at the same row
  q->Last();
  EXPECT_EQ(q->GetRowNum(), 8);
}

// An engine error while applying reaches OnUpdateError; unhandled it is raised, the savepoint is rolled
// back and every change stays pending.
TEST_F(BDatasetTest, AFailedApplyLosesNoChange) {
  Fill(5);
  Exec("CREATE EXCEPTION NO_DELETE 'not this row'");
  Exec("CREATE TRIGGER T_BD FOR T BEFORE DELETE AS BEGIN IF (OLD.ID = 4) THEN EXCEPTION NO_DELETE; END");
  Tr->Commit();
  struct Case {
    bool Handle;
    TIB_UpdateAction Answer;
    const char* Message;
  } cases[] = {{false, uaFail, "not this row"}, {true, uaFail, "not this row"}, {true, uaSkip, ""}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Message);
    TIB_Query* q = NewQuery();
    q->SetCachedUpdates(true);
    q->SetRequestLive(true);
    int errors = 0;
    if (k.Handle) {
      q->OnUpdateError = [&](TIB_Dataset*, const EIB_Error&, TIB_UpdateKind Kind, TIB_UpdateAction& Action) {
        ++errors;
        EXPECT_EQ(Kind, ukDelete);
        Action = k.Answer;
      };
    }
    q->Open();
    for (int i = 0; i < 3; ++i) {
      q->SetRowNum(2);
      q->Delete();  // ids 2, 3, 4
    }
    std::string message;
    try {
      Tr->ApplyUpdates();
    } catch (const Exception& e) {
      message = e.what();
    }
    EXPECT_NE(message.find(k.Message), std::string::npos) << message;
    EXPECT_EQ(errors, k.Handle ? 1 : 0);
    if (k.Answer == uaSkip) {
      EXPECT_EQ(Count("1 = 1"), 3);  // 2 and 3 went, 4 is pending again
      EXPECT_EQ(q->GetNodeList().GetDeletedCount(), 1);
    } else {
      EXPECT_EQ(Count("1 = 1"), 5);
      EXPECT_EQ(q->GetNodeList().GetDeletedCount(), 3);
      EXPECT_TRUE(q->GetUpdatesPending());
    }
    if (Tr->GetStarted()) Tr->Rollback();
    delete q;
  }
}

// Edits, inserts and deletes stay in the buffer with their status until applied; the server then holds
// exactly them.
TEST_F(BDatasetTest, CachedEditsInsertsAndDeletesAreAppliedAsTheyShow) {
  Fill(4);
  TIB_Query* q = NewQuery();
  q->SetCachedUpdates(true);
  q->SetRequestLive(true);
  q->Open();
  q->SetRowNum(2);
  q->Edit();
  q->GetFields()->ColumnByName("NAME")->SetAsString("edited");
  q->Post();
  EXPECT_EQ(q->GetUpdateStatus(), usModified);
  q->SetRowNum(3);
  q->Delete();
  q->Insert();
  q->GetFields()->ColumnByName("ID")->SetAsInteger(100);
  q->GetFields()->ColumnByName("NAME")->SetAsString("new");
  q->Post();
  EXPECT_EQ(q->GetUpdateStatus(), usInserted);
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 1);
  EXPECT_EQ(Count("NAME = 'edited' OR ID IN (3, 100)"), 1);  // only the fetched row 3
  Tr->ApplyUpdates();
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 0);
  EXPECT_EQ(Count("ID = 2 AND NAME = 'edited'"), 1);
  EXPECT_EQ(Count("ID = 3"), 0);
  EXPECT_EQ(Count("ID = 100 AND NAME = 'new'"), 1);
}

// Counts the commits that reach the client library and fails them while Fail is set.
struct FailingCommit {
  static inline bool Fail = false;
  static inline decltype(TIB_EntryTable::isc_commit_transaction) Real = nullptr;
  static ISC_STATUS Run(ISC_STATUS* S, isc_tr_handle* H) {
    if (!Fail) return Real(S, H);
    S[0] = isc_arg_gds;
    S[1] = isc_lock_conflict;
    S[2] = isc_arg_end;
    return S[1];
  }
  TIB_Session* Session;
  explicit FailingCommit(TIB_Session* S) : Session(S) {
    Real = S->Entries.isc_commit_transaction;
    S->Entries.isc_commit_transaction = &Run;
  }
  ~FailingCommit() { Session->Entries.isc_commit_transaction = Real; }
};

// A commit that fails after the apply leaves every change pending (and nothing of it at the server),
// so that the next apply writes it; a re-prepare drops pending changes without leaving the
// transaction counting them.
TEST_F(BDatasetTest, PendingChangesSurviveAFailedCommitAndLeaveTheCountRightOnReprepare) {
  Fill(5);
  TIB_Query* q = NewQuery();
  q->SetCachedUpdates(true);
  q->SetRequestLive(true);
  q->Open();
  for (int i = 0; i < 2; ++i) q->Delete();
  FailingCommit failing(q->GetSession());
  FailingCommit::Fail = true;
  EXPECT_THROW(Tr->ApplyUpdates(), EIB_ISCError);
  FailingCommit::Fail = false;
  EXPECT_TRUE(q->GetUpdatesPending());
  EXPECT_EQ(q->GetNodeList().GetDeletedCount(), 2);
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 1);
  EXPECT_EQ(Count("1 = 1"), 5);
  q->ApplyUpdates();  // applied by hand, then rolled back: pending again
  EXPECT_FALSE(q->GetUpdatesPending());
  Tr->Rollback();
  EXPECT_EQ(q->GetNodeList().GetDeletedCount(), 2);
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 1);
  q->Last();
  EXPECT_EQ(q->GetBufferCount(), 3);  // the deletes are still pending after the reopen
  Tr->ApplyUpdates();
  EXPECT_EQ(Count("1 = 1"), 3);
  TIB_Query* r = NewQuery();
  r->SetCachedUpdates(true);
  r->SetRequestLive(true);
  r->Open();
  r->Delete();
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 1);
  r->Unprepare();
  EXPECT_FALSE(r->GetUpdatesPending());
  EXPECT_EQ(Tr->GetUpdatesPendingCount(), 0);
}

// Append puts the new row after the last one, whatever the current row, with or without cached updates.
// A query that does not select the table's primary key refuses new rows: it could not find them again.
TEST_F(BDatasetTest, AppendAddsTheRowAfterTheLastOne) {
  Fill(10);
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached);
    TIB_Query* q = NewQuery();
    q->SetCachedUpdates(cached);
    q->SetRequestLive(true);
    q->Open();
    q->SetRowNum(3);
    q->Append();
    q->GetFields()->ColumnByName("ID")->SetAsInteger(cached ? 101 : 100);
    q->Post();
    EXPECT_EQ(q->GetRowNum(), 11);
    q->SetRowNum(3);
    EXPECT_EQ(Id(q), 3);
    q->Last();
    EXPECT_EQ(Id(q), cached ? 101 : 100);
    delete q;
    Tr->Rollback();
  }
  TIB_Query* names = NewQuery("SELECT NAME, GRP FROM T");
  names->SetRequestLive(true);
  names->Open();
  EXPECT_FALSE(names->GetCanInsert());
  EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { names->Append(); }), "Cannot Insert a new Row");
}

// Rows are read again around writes as BufferSynchroFlags asks: the server's trigger values show after
// a post, another change shows when an edit begins; a row gone or no longer matching leaves the buffer.
TEST_F(BDatasetTest, BufferSynchroFlagsReadTheRowAgainAroundWrites) {
  Fill(5);
  Exec("CREATE TRIGGER T_BIU FOR T BEFORE INSERT OR UPDATE AS BEGIN NEW.GRP = 100 + NEW.ID; END");
  Tr->Commit();
  const std::string sql = "SELECT ID, NAME, GRP FROM T WHERE NAME STARTING 'n' ORDER BY ID";
  auto grp = [](TIB_Dataset* D) { return D->GetFields()->ColumnByName("GRP")->GetAsInteger(); };
  for (bool on : {false, true}) {
    SCOPED_TRACE(on);
    TIB_Query* q = NewQuery(sql);
    q->SetRequestLive(true);
    if (on)
      q->SetBufferSynchroFlags(IB_BufferSynchroFlag(bsBeforeEdit) | IB_BufferSynchroFlag(bsAfterEdit) |
                               IB_BufferSynchroFlag(bsAfterInsert));
    q->Open();
    Exec("UPDATE T SET NAME = 'nn' WHERE ID = 1");
    q->Edit();
    EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetAsString(), on ? "nn" : "n1");
    q->GetFields()->ColumnByName("GRP")->SetAsInteger(7);
    q->Post();
    EXPECT_EQ(grp(q), on ? 101 : 7);
    for (const char* name : {"new", "other"}) {  // the second does not match the query: it stays as posted
      q->Append();
      q->GetFields()->ColumnByName("ID")->SetAsInteger(name[0] == 'n' ? 50 : 60);
      q->GetFields()->ColumnByName("NAME")->SetAsString(name);
      q->Post();
      EXPECT_EQ(Id(q), name[0] == 'n' ? 50 : 60);
      EXPECT_EQ(grp(q), on && name[0] == 'n' ? 150 : 0);
    }
    q->SetRowNum(2);
    q->Edit();
    q->GetFields()->ColumnByName("NAME")->SetAsString("gone");
    q->Post();
    EXPECT_EQ(Id(q), on ? 3 : 2);  // no longer matching: the next row takes its place
    Exec("DELETE FROM T WHERE ID = 4");
    q->SetRowNum(on ? 3 : 4);
    EXPECT_EQ(Id(q), 4);
    if (on) {
      EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { q->Edit(); }), "Record key was lost\n\rFailed to open cursor");
      EXPECT_EQ(q->GetState(), dssBrowse);
    }
    delete q;
    Tr->Rollback();
  }
}

// Rows inserted under cached updates show again after a reopen: under their master row only, after
// the fetched rows; without a master after any refresh. Applying then writes each once.
TEST_F(BDatasetTest, CachedInsertsComeBackUnderTheirMasterAfterAReopen) {
  Fill(6);
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* master = NewQuery("SELECT ID, GRP FROM T WHERE ID <= 2 ORDER BY ID");  // groups 1, 2
  source->SetDataset(master);
  master->Open();
  TIB_Query* detail = NewQuery("SELECT ID, NAME, GRP FROM T ORDER BY ID");
  detail->GetMasterLinks().SetText("GRP=T.GRP");
  detail->SetMasterSource(source);
  detail->SetCachedUpdates(true);
  detail->SetRequestLive(true);
  detail->Open();
  auto ids = [](TIB_Query* D) {
    std::vector<int32_t> r;
    for (D->First(); !D->GetEof(); D->Next()) r.push_back(Id(D));
    return r;
  };
  detail->Append();
  detail->GetFields()->ColumnByName("ID")->SetAsInteger(100);
  detail->Post();
  EXPECT_EQ(ids(detail), (std::vector<int32_t>{1, 4, 100}));
  master->Next();
  EXPECT_EQ(ids(detail), (std::vector<int32_t>{2, 5}));
  master->Prior();
  EXPECT_EQ(ids(detail), (std::vector<int32_t>{1, 4, 100}));
  EXPECT_EQ(detail->GetRecordCount(), 3);
  TIB_Query* plain = NewQuery();
  plain->SetCachedUpdates(true);
  plain->SetRequestLive(true);
  plain->Open();
  plain->Insert();
  plain->GetFields()->ColumnByName("ID")->SetAsInteger(200);
  plain->Post();
  plain->Refresh();
  EXPECT_EQ(ids(plain).back(), 200);
  Tr->ApplyUpdates();
  EXPECT_EQ(Count("ID IN (100, 200)"), 2);
}

// Rows fetched after the current row was cleared (moved before the first row) keep their NOT NULL key
// values: the client writes no indicator for such a column.
TEST_F(BDatasetTest, RowsFetchedAfterTheRowWasClearedKeepTheirKeys) {
  Fill(30);
  TIB_Query* ref = NewQuery();
  ref->Open();
  ref->SetRowNum(20);
  TIB_Query* q = NewQuery();
  q->Open();
  q->SetRowNum(0);
  q->SetRowNum(20);
  EXPECT_EQ(Id(q), 20);
  EXPECT_EQ(q->GetBookmark(), ref->GetBookmark());
  q->SetRowNum(5);
  q->SetBookmark(ref->GetBookmark());
  EXPECT_EQ(q->GetRowNum(), 20);
}

// A table without a primary key is keyed by its DB_KEY when KeyLinks names it: the select list gets the
// DB_KEY, and rows are edited, found by bookmark and read again by it.
TEST_F(BDatasetTest, ADBKeyNamedAsTheKeyIsAddedToTheSelectList) {
  Exec("CREATE TABLE NOPK (A INTEGER, B VARCHAR(10))");
  Tr->Commit();
  Exec("INSERT INTO NOPK VALUES (1, 'one')");
  Exec("INSERT INTO NOPK VALUES (2, 'two')");
  TStringList links;
  links.SetText("NOPK.RDB$DB_KEY");
  for (const char* sql : {"SELECT * FROM NOPK ORDER BY A", "SELECT   A,\r\n B FROM NOPK WHERE A > 0 ORDER BY A"}) {
    SCOPED_TRACE(sql);
    TIB_Query* q = NewQuery(sql);
    q->SetKeyLinks(links);
    q->SetRequestLive(true);
    q->Open();
    EXPECT_NE(q->GetServerSQL().find(std::string(sql[7] == '*' ? "SELECT NOPK.*" : "SELECT A, B") +
                                     "\r\n     , NOPK.RDB$DB_KEY"),
              std::string::npos)
        << q->GetServerSQL();
    q->SetRowNum(2);
    const std::string mark = q->GetBookmark();
    q->Edit();
    q->GetFields()->ColumnByName("B")->SetAsString(sql[7] == '*' ? "x" : "y");
    q->Post();
    q->SetRowNum(1);
    q->SetBookmark(mark);
    EXPECT_EQ(q->GetFields()->ColumnByName("A")->GetAsInteger(), 2);
    q->InvalidateBookmark(mark);
    EXPECT_EQ(q->GetFields()->ColumnByName("B")->GetAsString(), sql[7] == '*' ? "x" : "y");
    delete q;
  }
  TIB_Cursor* c = NewCursor("SELECT B FROM NOPK WHERE A = 2");
  c->First();
  EXPECT_EQ(c->GetFields()->GetColumns(0)->GetAsString(), "y");
}

// A lookup query joined to its KeySource, or opened with one, finds the row whose key the source's row
// names: as its current row with KeySeeking, as its buffer row without; no such row, or a null key,
// means row 0.
TEST_F(BDatasetTest, ALookupQueryFindsTheRowItsKeySourceNames) {
  Fill(6);
  Exec("UPDATE T SET GRP = NULL WHERE ID = 4");
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* s = NewQuery("SELECT ID, GRP FROM T ORDER BY ID");  // GRP 1 2 0 null 2 0
  source->SetDataset(s);
  s->Open();
  for (bool seeking : {true, false}) {
    SCOPED_TRACE(seeking);
    TIB_Query* l = NewQuery();
    TStringList links;
    links.SetText("T.ID=GRP");
    l->SetKeyLinks(links);
    l->SetKeySeeking(seeking);
    l->Open();
    const int32_t expected[] = {1, 2, 0, 0, 2};
    for (int32_t row = 1; row <= 5; ++row) {
      s->SetRowNum(row);
      l->SetKeySource(source);
      EXPECT_EQ(seeking ? l->GetRowNum() : l->GetBufferRowNum(), expected[row - 1]) << row;
      if (!seeking) {
        EXPECT_EQ(l->GetRowNum(), 1);
      }
      l->SetKeySource(nullptr);
    }
    // Opened with the KeySource set, it starts there.
    l->Close();
    s->SetRowNum(2);
    l->SetKeySource(source);
    l->Open();
    EXPECT_EQ(seeking ? l->GetRowNum() : l->GetBufferRowNum(), 2);
  }
}

// A lookup query follows its KeySource on each of the source's moves, not only when it is linked: with
// KeySeeking its current row, without it its buffer position; a source row without a key value leaves
// it before the first row.
TEST_F(BDatasetTest, ALookupQueryFollowsEachMoveOfItsKeySource) {
  Fill(6);
  Exec("UPDATE T SET GRP = NULL WHERE ID = 4");
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* s = NewQuery("SELECT ID, GRP FROM T ORDER BY ID");  // GRP 1 2 0 null 2 0
  s->SetRequestLive(true);
  source->SetDataset(s);
  s->Open();
  for (bool seeking : {true, false}) {
    SCOPED_TRACE(seeking);
    TIB_Query* l = NewQuery();
    TStringList links;
    links.SetText("T.ID=GRP");
    l->SetKeyLinks(links);
    l->SetKeySeeking(seeking);
    l->Open();
    s->First();
    l->SetKeySource(source);
    auto at = [&] { return seeking ? l->GetRowNum() : l->GetBufferRowNum(); };
    EXPECT_EQ(at(), 1);
    const int32_t expected[] = {1, 2, 0, 0, 2, 0};
    for (int32_t row = 2; row <= 6; ++row) {
      s->Next();
      EXPECT_EQ(at(), expected[row - 1]) << row;
    }
    s->SetRowNum(2);
    EXPECT_EQ(at(), 2);
    s->SetRowNum(1);
    EXPECT_EQ(at(), 1);
    EXPECT_EQ(s->GetRowNum(), 1);
    EXPECT_EQ(s->GetState(), dssBrowse);
    // The key column typed in the source's row: the lookup follows the value, and back on cancel.
    s->Edit();
    s->GetFields()->ColumnByName("GRP")->SetAsInteger(5);
    EXPECT_EQ(at(), 5);
    s->Cancel();
    EXPECT_EQ(at(), 1);
    EXPECT_EQ(s->GetFields()->ColumnByName("GRP")->GetAsInteger(), 1);
    l->SetKeySource(nullptr);
    delete l;
  }
}

// With FetchWholeRows off the query fetches keys first and reads each row by key when it is shown:
// rows changed at the server after the open show their new values, only rows shown hold values, and
// editing, bookmarks and the count work as with whole rows. A UNION fetches whole rows anyway.
TEST_F(BDatasetTest, KeysOnlyModeReadsRowsByKeyWhenShown) {
  Fill(50);
  TIB_Query* u = NewQuery("SELECT ID, NAME FROM T UNION ALL SELECT 0, '' FROM RDB$DATABASE ORDER BY 1");
  u->SetFetchWholeRows(false);
  u->Open();
  EXPECT_FALSE(u->GetKeysOnly());
  TIB_Query* f = NewQuery();  // a record filter sees whole rows
  f->SetFetchWholeRows(false);
  f->SetOnFilterRecord([](TIB_Row* Row, bool& Accept) { Accept = Row->ColumnByName("ID")->GetAsInteger() % 2 == 0; });
  f->SetFiltered(true);
  f->Open();
  EXPECT_FALSE(f->GetKeysOnly());
  EXPECT_EQ(Id(f), 2);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T WHERE ID > :MIN ORDER BY ID");
  q->SetFetchWholeRows(false);
  q->SetRequestLive(true);
  q->Prepare();
  q->GetParams()->ColumnByName("MIN")->SetAsInteger(10);
  q->Open();
  EXPECT_TRUE(q->GetKeysOnly());
  EXPECT_EQ(Id(q), 11);
  Exec("UPDATE T SET NAME = 'later' WHERE ID = 30");
  q->Last();
  EXPECT_EQ(q->GetRecordCount(), 40);
  EXPECT_EQ(Id(q), 50);
  EXPECT_LT(q->GetNodeList().GetRecordBytes(), 40u * 8);  // the rows shown so far only
  q->SetRowNum(20);
  EXPECT_EQ(Id(q), 30);
  EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetAsString(), "later");
  const std::string mark = q->GetBookmark();
  q->Edit();
  q->GetFields()->ColumnByName("NAME")->SetAsString("edited");
  q->Post();
  q->First();
  q->SetBookmark(mark);
  EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetAsString(), "edited");
  EXPECT_EQ(Count("NAME = 'edited'"), 1);
  q->Refresh();
  EXPECT_EQ(Id(q), 30);
}

}  // namespace

// A grid painting the master's rows (fetching rows the master has not buffered yet) is no move of the
// master: its detail keeps its row and the edit under way, which then posts to that row. The same for
// FetchAll on the master.
TEST_F(BDatasetTest, FetchingAheadInTheMasterLeavesTheDetailAlone) {
  Fill(12);
  Exec("CREATE TABLE M (ID INTEGER NOT NULL PRIMARY KEY)");
  Tr->Commit();
  for (int g = 0; g <= 2; ++g) Exec("INSERT INTO M VALUES (" + std::to_string(g) + ")");
  Tr->Commit();
  for (const bool all : {false, true}) {
    SCOPED_TRACE(all);
    auto* source = new TIB_DataSource(Owner);
    TIB_Query* master = NewQuery("SELECT ID FROM M ORDER BY ID");
    source->SetDataset(master);
    master->Open();
    TIB_Query* detail = NewQuery("SELECT ID, NAME, GRP FROM T ORDER BY ID");
    detail->GetMasterLinks().SetText("GRP=M.ID");
    detail->SetMasterSource(source);
    detail->SetRequestLive(true);
    detail->Open();
    detail->SetRowNum(3);  // ID 9 of group 0
    detail->Edit();
    detail->FieldByName("NAME")->SetAsString(all ? "all" : "painted");
    if (all) {
      master->FetchAll();
    } else {
      for (int i = 1; i <= 3; ++i) master->SetBufferRowNum(i);
    }
    EXPECT_EQ(detail->GetState(), dssEdit);
    EXPECT_EQ(detail->GetRowNum(), 3);
    EXPECT_EQ(master->GetRowNum(), 1);
    detail->Post();
    EXPECT_EQ(detail->FieldByName("ID")->GetAsInteger(), 9);
    Tr->Commit();
    delete detail;
    delete master;
    delete source;
  }
  EXPECT_EQ(ReadSecond("SELECT ID, NAME FROM T WHERE GRP = 0 ORDER BY ID", ","), "3,n3;6,n6;9,all;12,n12");
}

// A lookup leaves its row (KeySeeking) or its buffer row (without) when its KeySource moves off the
// rows, before the first or after the last: no source row names no key; back on a row it follows again.
TEST_F(BDatasetTest, ALookupLeavesItsRowWhenItsKeySourceHasNone) {
  Fill(6);
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* s = NewQuery("SELECT ID, GRP FROM T ORDER BY ID");
  source->SetDataset(s);
  s->Open();
  for (bool seeking : {true, false}) {
    SCOPED_TRACE(seeking);
    TIB_Query* l = NewQuery();
    TStringList links;
    links.SetText("T.ID=GRP");
    l->SetKeyLinks(links);
    l->SetKeySeeking(seeking);
    l->SetKeySource(source);
    l->Open();
    s->SetRowNum(1);
    auto at = [&] { return seeking ? l->GetRowNum() : l->GetBufferRowNum(); };
    EXPECT_EQ(at(), 1);
    s->Prior();
    EXPECT_TRUE(s->GetBof());
    EXPECT_TRUE(s->GetFields()->ColumnByName("GRP")->GetIsNull());
    EXPECT_EQ(at(), 0);
    s->Next();
    EXPECT_EQ(at(), 1);
    s->Last();
    s->Next();
    EXPECT_TRUE(s->GetEof());
    EXPECT_EQ(at(), 0);
    l->SetKeySource(nullptr);
    delete l;
  }
}
