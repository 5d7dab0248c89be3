// The dataset base under pressure: pending rows across opens and refreshes, lookups that must not
// change the row they serve, SQL built from lists on the first prepare, hostile SQL and numbers,
// failing fetches and closes, and datasets destroyed in the middle of their own fetch loops.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/IB_Constants.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_DataSource.h"
#include "platform/Forms.h"

namespace {

using datasettest::DatasetDbTest;
using datasettest::TestClock;
using testsupport::MessageOf;

class DatasetGuardTest : public DatasetDbTest {
protected:
  // The rows of SQL as a second attachment sees them: "v1,v2;v1,v2;...".
  std::string Read(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") { return ReadSecond(SQL, ","); }
  TIB_Cursor* LiveCursor(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    TIB_Cursor* c = NewCursor(SQL);
    c->SetRequestLive(true);
    c->SetSearchedEdits(true);
    c->SetSearchedDeletes(true);
    c->GetKeyLinks().SetText("ID");
    return c;
  }
  static std::string Names(TIB_Dataset* D) {
    std::string out;
    for (; !D->GetEof(); D->Next()) out += D->FieldByName("NAME")->GetAsString() + " ";
    return out;
  }
};

// A row being inserted or edited is written before the dataset opens or refreshes, and a row that
// cannot be written stops the open.
TEST_F(DatasetGuardTest, OpenAndRefreshPostAPendingRowFirst) {
  Fill(3);
  TIB_Cursor* c = LiveCursor();
  c->Open();
  c->Insert();  // a forward-only cursor closes for the insert
  ASSERT_EQ(dssInsert, c->GetState());
  c->FieldByName("ID")->SetAsInteger(10);
  c->FieldByName("NAME")->SetAsString("inserted");
  c->Open();
  EXPECT_TRUE(c->GetActive());
  EXPECT_EQ(dssBrowse, c->GetState());
  Tr->Commit();
  EXPECT_EQ("1,n1;2,n2;3,n3;10,inserted", Read());

  // A row that cannot be written: the open is refused and the row stays pending.
  c->Insert();
  c->FieldByName("NAME")->SetAsString("no id");
  EXPECT_EQ("ID is a required field", MessageOf<EIB_DatasetError>([&] { c->Open(); }));
  EXPECT_EQ(dssInsert, c->GetState());
  c->Cancel();

  TIB_Query* q = NewQuery();
  q->SetRequestLive(true);
  q->Open();
  q->SetRowNum(2);
  q->Edit();
  q->FieldByName("NAME")->SetAsString("edited");
  q->Refresh();
  EXPECT_EQ(dssBrowse, q->GetState());
  EXPECT_EQ("edited", q->FieldByName("NAME")->GetAsString());
  Tr->Commit();
  EXPECT_EQ("1,n1;2,edited;3,n3;10,inserted", Read());
}

// Opening a lookup list never writes into the row it serves, whether the row names a key of the list
// or none; moving in the list afterwards does.
TEST_F(DatasetGuardTest, OpeningALookupLeavesItsKeySourceRowAlone) {
  Fill(6);
  Exec("UPDATE T SET GRP = NULL WHERE ID = 4");
  Tr->Commit();
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* s = NewQuery("SELECT ID, NAME, GRP FROM T ORDER BY ID");
  s->SetRequestLive(true);
  source->SetDataset(s);
  s->Open();
  TStringList links;
  links.SetText("T.ID=GRP");
  for (int kind = 0; kind < 2; ++kind) {
    SCOPED_TRACE(kind == 0 ? "buffered lookup" : "cursor lookup");
    for (int32_t row : {4, 2}) {
      SCOPED_TRACE(row);
      s->SetRowNum(row);
      const std::string grp = s->FieldByName("GRP")->GetIsNull() ? "null" : s->FieldByName("GRP")->GetAsString();
      TIB_Dataset* l = kind == 0 ? static_cast<TIB_Dataset*>(NewQuery()) : NewCursor();
      l->SetKeyLinks(links);
      l->SetKeySource(source);
      l->Open();
      EXPECT_EQ(dssBrowse, s->GetState());
      EXPECT_EQ(grp, s->FieldByName("GRP")->GetIsNull() ? "null" : s->FieldByName("GRP")->GetAsString());
      delete l;
    }
  }
  s->SetRowNum(1);
  Tr->Commit();
  EXPECT_EQ("1,1;2,2;3,0;4,null;5,2;6,0", Read("SELECT ID, GRP FROM T ORDER BY ID"));
}

// A parameter change while a row is edited neither posts nor drops the edit; in browse state it runs
// the query again with the new value.
TEST_F(DatasetGuardTest, AParameterChangeWhileEditingKeepsTheEditPending) {
  Fill(6);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T WHERE GRP = :G ORDER BY ID");
  q->SetRequestLive(true);
  q->Prepare();
  q->ParamByName("G")->SetAsInteger(1);
  q->Open();
  ASSERT_EQ(1, q->FieldByName("ID")->GetAsInteger());
  q->Edit();
  q->FieldByName("NAME")->SetAsString("typed");
  q->ParamByName("G")->SetAsInteger(2);
  EXPECT_EQ(dssEdit, q->GetState());
  EXPECT_EQ("typed", q->FieldByName("NAME")->GetAsString());
  EXPECT_EQ("n1", Scalar("SELECT NAME FROM T WHERE ID = 1"));  // nothing written yet
  q->Post();
  Tr->CommitRetaining();
  EXPECT_EQ("typed", Read("SELECT NAME FROM T WHERE ID = 1"));
  q->ParamByName("G")->SetAsInteger(0);
  EXPECT_EQ(3, q->FieldByName("ID")->GetAsInteger());
  q->ParamByName("G")->SetAsInteger(2);
  EXPECT_EQ(2, q->FieldByName("ID")->GetAsInteger());
}

// An ordering item of a NOCASE column orders by its expression from the first prepare on.
TEST_F(DatasetGuardTest, NoCaseOrderingHoldsOnTheFirstPrepare) {
  Exec("CREATE TABLE N (NAME VARCHAR(10))");
  Tr->Commit();
  for (const char* n : {"C", "E", "a", "b", "d"}) Exec(std::string("INSERT INTO N VALUES ('") + n + "')");
  Tr->Commit();
  struct {
    int32_t Item;
    const char* Rows;
  } cases[] = {{1, "a b C d E "}, {-1, "E d C b a "}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Item);
    for (bool query : {false, true}) {
      TIB_Dataset* d = query ? static_cast<TIB_Dataset*>(NewQuery("SELECT NAME FROM N")) : NewCursor("SELECT NAME FROM N");
      d->GetColumnAttributes().SetText("NAME=NOCASE=UPPER(NAME)");
      d->GetOrderingItems().SetText("By name=NAME;NAME DESC");
      d->SetOrderingItemNo(k.Item);
      d->Open();
      EXPECT_EQ(k.Rows, Names(d));
      EXPECT_NE(std::string::npos, d->GetServerSQL().find("UPPER(NAME)")) << d->GetServerSQL();
      delete d;
    }
  }
}

// Master links add their conditions also without a master source: the parameters stand for the master.
TEST_F(DatasetGuardTest, MasterLinksWithoutAMasterSourceStillCondition) {
  Fill(6);
  TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T WHERE ID > 1 ORDER BY ID");
  c->GetMasterLinks().SetText("GRP=X.GRP");
  c->Prepare();
  const std::string& sent = c->GetServerSQL();
  const size_t condition = sent.find("WHERE GRP=?");
  EXPECT_NE(std::string::npos, condition) << sent;
  EXPECT_LT(condition, sent.find("AND ID > 1")) << sent;
  c->Open();
  EXPECT_TRUE(c->GetEof());
  c->Close();
  c->ParamByName("MLNK_GRP_0")->SetAsInteger(2);
  c->Open();
  std::string ids;
  for (; !c->GetEof(); c->Next()) ids += c->FieldByName("ID")->GetAsString() + " ";
  EXPECT_EQ("2 5 ", ids);
}

// A buffered query without SQL refuses to prepare with its own message.
TEST_F(DatasetGuardTest, ABufferedQueryWithoutSQLCannotPrepare) {
  TIB_Query* q = NewQuery("");
  EXPECT_EQ("Cannot Prepare a blank statement", MessageOf<EIB_StatementError>([&] { q->Open(); }));
  EXPECT_FALSE(q->GetPrepared());
  q->GetSQL().SetText("   ");
  EXPECT_EQ("Cannot Prepare a blank statement", MessageOf<EIB_StatementError>([&] { q->Prepare(); }));
}

// NOT NULL columns whose indicators sit at odd offsets of the row are read like any other.
TEST_F(DatasetGuardTest, RowsWithOddIndicatorOffsetsAreRead) {
  Exec("CREATE TABLE C (A VARCHAR(15) NOT NULL, B VARCHAR(10) NOT NULL)");
  Tr->Commit();
  Exec("INSERT INTO C VALUES ('first', 'one')");
  Exec("INSERT INTO C VALUES ('second', 'two')");
  Tr->Commit();
  TIB_Cursor* c = NewCursor("SELECT A, B FROM C ORDER BY A");
  c->First();
  EXPECT_EQ("first", c->FieldByName("A")->GetAsString());
  EXPECT_EQ("one", c->FieldByName("B")->GetAsString());
  c->Next();
  EXPECT_EQ("two", c->FieldByName("B")->GetAsString());
  TIB_Query* q = NewQuery("SELECT A, B FROM C ORDER BY A");
  q->Open();
  q->Last();
  EXPECT_EQ("second", q->FieldByName("A")->GetAsString());
  q->First();
  EXPECT_EQ("one", q->FieldByName("B")->GetAsString());
}

// A detail whose fetch fails as its master moves shows no made-up row: the error reaches the caller of
// the move and the detail holds no row.
TEST_F(DatasetGuardTest, ADetailFetchFailingUnderAMasterMoveShowsNoRow) {
  Fill(3);  // GRP 1 2 0
  auto* source = new TIB_DataSource(Owner);
  TIB_Query* master = NewQuery("SELECT ID FROM T ORDER BY ID");
  source->SetDataset(master);
  master->Open();
  for (bool buffered : {true, false}) {
    SCOPED_TRACE(buffered);
    master->First();
    TIB_Dataset* detail = buffered ? static_cast<TIB_Dataset*>(NewQuery("SELECT ID, 10 / GRP AS Q FROM T"))
                                   : NewCursor("SELECT ID, 10 / GRP AS Q FROM T");
    detail->GetMasterLinks().SetText("ID=T.ID");
    detail->SetMasterSource(source);
    detail->Open();
    EXPECT_EQ(10, detail->FieldByName("Q")->GetAsInteger());
    master->Next();
    EXPECT_EQ(5, detail->FieldByName("Q")->GetAsInteger());
    EXPECT_THROW(master->Next(), EIB_ISCError);
    EXPECT_EQ(3, master->FieldByName("ID")->GetAsInteger());
    EXPECT_TRUE(detail->GetEof());
    EXPECT_EQ(rsNone, detail->GetFields()->GetRowState());
    EXPECT_TRUE(detail->FieldByName("ID")->GetIsNull());
    delete detail;
  }
}

// The server closes the cursor but the answer is lost with the connection.
struct FailingCursorClose {
  static inline decltype(TIB_CursorEntries::isc_dsql_free_statement) Real = nullptr;
  static ISC_STATUS Free(ISC_STATUS* S, isc_stmt_handle* H, unsigned short O) {
    Real(S, H, O);
    S[0] = isc_arg_gds;
    S[1] = isc_network_error;
    S[2] = isc_arg_end;
    return isc_network_error;
  }
};

// A close whose cursor close fails at the server still closes, then reports the failure.
TEST_F(DatasetGuardTest, ACloseThatFailsAtTheServerStillCloses) {
  Fill(3);
  for (bool buffered : {false, true}) {
    SCOPED_TRACE(buffered);
    TIB_Dataset* d = buffered ? static_cast<TIB_Dataset*>(NewQuery()) : NewCursor();
    d->Open();
    ASSERT_TRUE(d->GetCursorIsOpen());
    TIB_Session* s = d->GetSession();
    FailingCursorClose::Real = s->Cursor.isc_dsql_free_statement;
    s->Cursor.isc_dsql_free_statement = &FailingCursorClose::Free;
    EXPECT_THROW(d->Close(), EIB_ISCError);
    s->Cursor.isc_dsql_free_statement = FailingCursorClose::Real;
    EXPECT_FALSE(d->GetActive());
    EXPECT_FALSE(d->GetCursorIsOpen());
    EXPECT_EQ(dssPrepared, d->GetState());
    d->Open();
    EXPECT_EQ(1, d->FieldByName("ID")->GetAsInteger());
    d->Close();
    delete d;
  }
}

// Moves and ordering numbers at the ends of the integer range neither overflow nor pick an item.
TEST_F(DatasetGuardTest, ExtremeMovesAndOrderingNumbersAreClamped) {
  Fill(20);
  for (bool buffered : {false, true}) {
    SCOPED_TRACE(buffered);
    TIB_Dataset* d = buffered ? static_cast<TIB_Dataset*>(NewQuery()) : NewCursor();
    d->Open();
    d->MoveBy(4);
    ASSERT_EQ(5, d->GetRowNum());
    const int32_t moved = d->MoveBy(INT_MAX);
    EXPECT_TRUE(d->GetEof());
    EXPECT_EQ(buffered ? 16 : 15, moved);
    if (buffered) {
      EXPECT_EQ(-21, d->MoveBy(INT_MIN));  // from past the last row to before the first
      EXPECT_TRUE(d->GetBof());
      d->MoveBy(3);
      EXPECT_EQ(18, d->MoveBy(INT_MAX));
      EXPECT_EQ(-21, d->MoveBy(-INT_MAX));
    }
    d->Close();
    d->GetOrderingItems().SetText("By name=NAME;NAME DESC");
    for (int32_t n : {INT_MIN, INT_MAX, -2, 2}) {
      SCOPED_TRACE(n);
      d->SetOrderingItemNo(n);
      EXPECT_EQ("", d->GetOrderingSQL(n));
      d->Open();
      EXPECT_EQ(1, d->FieldByName("ID")->GetAsInteger());
      d->Close();
    }
    d->SetOrderingItemNo(-1);
    d->Open();
    EXPECT_EQ(9, d->FieldByName("ID")->GetAsInteger());  // "n9" sorts last
    delete d;
  }
}

// SQL with a NUL byte is refused before anything is built or sent.
TEST_F(DatasetGuardTest, DatasetSQLWithANulByteIsRefused) {
  Fill(3);
  const std::string sql("SELECT ID FROM T ORDER BY ID\0; DELETE FROM T", 44);
  for (bool buffered : {false, true}) {
    SCOPED_TRACE(buffered);
    TIB_Dataset* d = buffered ? static_cast<TIB_Dataset*>(NewQuery(sql)) : NewCursor(sql);
    const std::string message = MessageOf<EIB_StatementError>([&] { d->Open(); });
    EXPECT_EQ(0u, message.find("SQL text contains a NUL byte at position 29")) << message;
    EXPECT_FALSE(d->GetPrepared());
    EXPECT_FALSE(d->GetActive());
    delete d;
  }
  Tr->Commit();
  EXPECT_EQ("1;2;3", Read("SELECT ID FROM T ORDER BY ID"));
}

// A buffered query destroyed by code its own fetch runs (its callback, a task of the message pump)
// ends the operation with the silent abort and touches nothing of it afterwards.
TEST_F(DatasetGuardTest, DestroyingAQueryInsideItsFetchEndsTheOperationQuietly) {
  Fill(100);
  TestClock clock(1, 1);
  TIB_Query* victim = nullptr;
  auto destroy = [&] { FreeAndNil(victim); };
  struct Case {
    const char* Where;
    std::function<void(TIB_Query*)> Arm;
    std::function<void(TIB_Query*)> Run;
  } cases[] = {
      {"the callback during Last",
       [&](TIB_Query* q) {
         q->SetCallbackInc(1);
         q->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool&) {
           if (S == cbsProgress) destroy();
         };
       },
       [](TIB_Query* q) {
         q->Open();
         q->Last();
       }},
      {"the message pump during SetRowNum",
       [&](TIB_Query* q) {
         q->AfterFetchRow = [&](TIB_Dataset*) {
           if (victim && victim->GetBufferCount() == 20) Application->Post(destroy);
         };
       },
       [](TIB_Query* q) {
         q->Open();
         q->SetRowNum(40);
       }},
      {"the callback during FetchAll",
       [&](TIB_Query* q) {
         q->SetCallbackInc(1);
         q->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool&) {
           if (S == cbsProgress) destroy();
         };
       },
       [](TIB_Query* q) {
         q->Open();
         q->FetchAll();
       }},
      {"the callback during a refresh that finds its row number again",
       [&](TIB_Query* q) { q->SetCallbackInc(1); },
       [&](TIB_Query* q) {
         q->Open();
         q->SetRowNum(30);
         q->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool&) {
           if (S == cbsProgress) destroy();
         };
         q->Refresh();
       }},
      {"the callback of AutoFetchAll",
       [&](TIB_Query* q) {
         q->SetAutoFetchAll(true);
         q->SetCallbackInc(1);
         q->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool&) {
           if (S == cbsProgress) destroy();
         };
       },
       [](TIB_Query* q) { q->Open(); }},
      {"the message pump during an incremental search",
       [&](TIB_Query* q) {
         q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
         q->GetOrderingLinks().SetText("NAME=ITEM=1");
         q->SetOrderingItemNo(1);
         q->AfterFetchRow = [&](TIB_Dataset*) {
           if (victim && victim->GetBufferCount() == 30) Application->Post(destroy);
         };
       },
       [](TIB_Query* q) {
         q->Open();
         q->IncSearchString("n99", 1, false);
       }},
      {"the message pump during a bookmark search",
       [&](TIB_Query* q) {
         q->AfterFetchRow = [&](TIB_Dataset*) {
           if (victim && victim->GetBufferCount() == 30) Application->Post(destroy);
         };
       },
       [](TIB_Query* q) {
         q->Open();
         TIB_Query* other = new TIB_Query(nullptr);
         other->SetIB_Connection(q->GetIB_Connection());
         other->SetIB_Transaction(q->GetIB_Transaction());
         other->GetSQL().SetText(q->GetSQL().GetText());
         other->Open();
         other->SetRowNum(90);
         const std::string mark = other->GetBookmark();
         delete other;
         q->SetBookmark(mark);
       }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Where);
    TIB_Query* q = victim = NewQuery();
    q->SetCallbackInc(0);
    q->SetCallbackInitInt(0);
    q->SetCallbackRefreshInt(0);
    k.Arm(q);
    EXPECT_THROW(k.Run(q), EAbort);
    EXPECT_EQ(nullptr, victim);
    EXPECT_EQ(0, Tr->GetOpenCursorCount());
  }
  TIB_Query* q = NewQuery();
  q->Open();
  q->Last();
  EXPECT_EQ(100, q->GetRowNum());
}

// Every entry point that runs application code checks that the dataset lives after each call out: a
// handler that destroys it ends the operation with the silent abort, and nothing of the dataset is
// touched afterwards (AddressSanitizer watches), nor is its session left busy.
TEST_F(DatasetGuardTest, DestroyingADatasetFromAnyOfItsHandlersEndsTheEntryPointQuietly) {
  Fill(60);
  TestClock clock(1, 1);
  TIB_Query* victim = nullptr;
  auto destroy = [&](TIB_Dataset*) { FreeAndNil(victim); };
  using Arm = std::function<void(TIB_Query*)>;
  using Run = std::function<void(TIB_Query*)>;
  const auto open = [](TIB_Query* q) { q->Open(); };
  const auto edit = [](TIB_Query* q) {
    q->Open();
    q->Edit();
    q->FieldByName("NAME")->SetAsString("edited");
  };
  const auto search = [](TIB_Query* q) {
    q->Open();
    q->EnterSearchMode();
  };
  // The transaction's attempt to commit fetches the query to its end, for a limited time.
  const auto attempt = [&](TIB_Query* q) {
    Tr->SetIsolation(tiCommitted);
    TIB_TimeoutProps& p = Tr->GetTimeoutProps();
    p.SetAllowCheckOAT(1);
    p.SetAttempt(1);
    p.SetAttemptTicks(1000);
    p.SetAttemptMaxRows(100);
    q->SetCommitAction(caFetchAll);
    q->Open();
  };
  // The row after the current one lost its values (another attachment changed it) and is gone at the
  // server: showing it reads it again by its key, finds nothing and fetches the row taking its place.
  int32_t reloaded = 0;
  const auto dropped = [&](TIB_Query* q) {
    q->Open();
    q->SetRowNum(10);
    reloaded = q->GetBufferCount();
    q->SetRowNum(reloaded);
    const std::string mark = q->GetBookmark();
    Exec("DELETE FROM T WHERE ID = " + q->FieldByName("ID")->GetAsString());
    q->SetRowNum(reloaded - 1);
    q->InvalidateBookmark(mark);
  };
  const auto cached = [&](TIB_Query* q) {
    q->SetCachedUpdates(true);
    edit(q);
    q->Post();
  };
  // The query looks up the row its key source (another query) is on, by ID.
  TIB_Query* keySource = nullptr;
  TIB_DataSource* source = nullptr;
  const auto lookup = [&](TIB_Query* q) {
    keySource = NewQuery();
    keySource->SetRequestLive(true);
    source = new TIB_DataSource(Owner);
    source->SetDataset(keySource);
    keySource->Open();
    q->GetKeyLinks().SetText("T.ID=ID");
    q->SetKeySource(source);
    q->Open();
  };
  // The query is the detail of another query, whose row it follows.
  TIB_Query* master = nullptr;
  const auto detail = [&](TIB_Query* q) {
    master = NewQuery("SELECT ID FROM T ORDER BY ID");
    auto* source = new TIB_DataSource(Owner);
    source->SetDataset(master);
    master->Open();
    q->GetMasterLinks().SetText("ID=T.ID");
    q->SetMasterSource(source);
    q->Open();
  };
  const auto moveMaster = [&](TIB_Query*) {
    const std::unique_ptr<TIB_Query> gone(master);  // goes with the case
    master->Next();
  };
  struct Case {
    const char* Entry;
    const char* Handler;
    Run Before;
    Arm Set;
    Run Entry_;
    bool Writes = false;  // the entry point (or the case's setup) writes before the handler runs
  } cases[] = {
      {"Append", "OnCallback",
       open, [&](TIB_Query* q) {
         q->SetCallbackInc(1);
         q->OnCallback = [&](TIB_Dataset* d, TIB_CallbackStatus S, int32_t, bool&) {
           if (S == cbsProgress) destroy(d);
         };
       },
       [](TIB_Query* q) { q->Append(); }},
      {"Append", "BeforeInsert", open, [&](TIB_Query* q) { q->BeforeInsert = destroy; }, [](TIB_Query* q) { q->Append(); }},
      {"Append", "OnNewRecord", open, [&](TIB_Query* q) { q->OnNewRecord = destroy; }, [](TIB_Query* q) { q->Append(); }},
      {"Append", "AfterInsert", open, [&](TIB_Query* q) { q->AfterInsert = destroy; }, [](TIB_Query* q) { q->Append(); }},
      {"Insert", "BeforeInsert", open, [&](TIB_Query* q) { q->BeforeInsert = destroy; }, [](TIB_Query* q) { q->Insert(); }},
      {"Insert", "OnNewRecord", open, [&](TIB_Query* q) { q->OnNewRecord = destroy; }, [](TIB_Query* q) { q->Insert(); }},
      {"Insert", "AfterInsert", open, [&](TIB_Query* q) { q->AfterInsert = destroy; }, [](TIB_Query* q) { q->Insert(); }},
      {"Edit", "BeforeEdit", open, [&](TIB_Query* q) { q->BeforeEdit = destroy; }, [](TIB_Query* q) { q->Edit(); }},
      {"Edit", "AfterEdit", open, [&](TIB_Query* q) { q->AfterEdit = destroy; }, [](TIB_Query* q) { q->Edit(); }},
      {"Delete", "BeforeDelete", open, [&](TIB_Query* q) { q->BeforeDelete = destroy; }, [](TIB_Query* q) { q->Delete(); }},
      {"Delete", "AfterDelete", open, [&](TIB_Query* q) { q->AfterDelete = destroy; }, [](TIB_Query* q) { q->Delete(); },
       true},
      {"Post", "BeforePost", edit, [&](TIB_Query* q) { q->BeforePost = destroy; }, [](TIB_Query* q) { q->Post(); }},
      {"Post", "AfterPost", edit, [&](TIB_Query* q) { q->AfterPost = destroy; }, [](TIB_Query* q) { q->Post(); }, true},
      {"PostRetaining", "AfterPost", edit, [&](TIB_Query* q) { q->AfterPost = destroy; },
       [](TIB_Query* q) { q->PostRetaining(); }, true},
      {"Cancel", "BeforeCancel", edit, [&](TIB_Query* q) { q->BeforeCancel = destroy; }, [](TIB_Query* q) { q->Cancel(); }},
      {"Cancel", "AfterCancel", edit, [&](TIB_Query* q) { q->AfterCancel = destroy; }, [](TIB_Query* q) { q->Cancel(); }},
      {"GetRecordCount", "OnGetRecordCount", open,
       [&](TIB_Query* q) { q->OnGetRecordCount = [&](TIB_Dataset* d, int32_t&) { destroy(d); }; },
       [](TIB_Query* q) { q->GetRecordCount(); }},
      {"EnterSearchMode", "BeforeSearch", open, [&](TIB_Query* q) { q->BeforeSearch = destroy; },
       [](TIB_Query* q) { q->EnterSearchMode(); }},
      {"EnterSearchMode", "AfterSearch", open, [&](TIB_Query* q) { q->AfterSearch = destroy; },
       [](TIB_Query* q) { q->EnterSearchMode(); }},
      {"PostSearch", "BeforeOpen", search, [&](TIB_Query* q) { q->BeforeOpen = destroy; },
       [](TIB_Query* q) { q->PostSearch(true); }},
      {"PostSearch", "AfterOpen", search, [&](TIB_Query* q) { q->AfterOpen = destroy; },
       [](TIB_Query* q) { q->PostSearch(true); }},
      {"PostSearch", "OnCallback",
       search, [&](TIB_Query* q) {
         q->SetAutoFetchAll(true);
         q->SetCallbackInc(1);
         q->OnCallback = [&](TIB_Dataset* d, TIB_CallbackStatus S, int32_t, bool&) {
           if (S == cbsProgress) destroy(d);
         };
       },
       [](TIB_Query* q) { q->PostSearch(true); }},
      {"SetRowNum (rows fetched to show)", "OnCallback", open,
       [&](TIB_Query* q) {
         q->SetCallbackInc(1);
         q->OnCallback = [&](TIB_Dataset* d, TIB_CallbackStatus S, int32_t, bool&) {
           if (S == cbsProgress) destroy(d);
         };
       },
       [](TIB_Query* q) { q->SetRowNum(40); }},
      {"FetchForTicks (the transaction's attempt to commit)", "AfterFetchRow", attempt,
       [&](TIB_Query* q) { q->AfterFetchRow = destroy; },
       [&](TIB_Query*) {
         TestClock::Now += 10'000'000;
         bool terminate = false;
         Tr->TimeoutCheck(terminate);
       }},
      {"SetRowNum (a dropped row read again by its key)", "AfterFetchRow", dropped,
       [&](TIB_Query* q) { q->AfterFetchRow = destroy; }, [&](TIB_Query* q) { q->SetRowNum(reloaded); }, true},
      {"Delete (leaving the row for a dropped one)", "AfterFetchRow", dropped,
       [&](TIB_Query* q) { q->AfterFetchRow = destroy; }, [](TIB_Query* q) { q->Delete(); }, true},
      {"ApplyUpdates", "OnUpdateRecord", cached,
       [&](TIB_Query* q) {
         q->OnUpdateRecord = [&](TIB_Dataset* d, TIB_UpdateKind, TIB_UpdateAction&) { destroy(d); };
       },
       [](TIB_Query* q) { q->ApplyUpdates(); }},
      {"ApplyUpdates", "OnUpdateError", cached,
       [&](TIB_Query* q) {
         Exec("DELETE FROM T WHERE ID = 1");
         q->OnUpdateError = [&](TIB_Dataset* d, const EIB_Error&, TIB_UpdateKind, TIB_UpdateAction&) { destroy(d); };
       },
       [](TIB_Query* q) { q->ApplyUpdates(); }, true},
      {"the key source's SetRowNum (following it)", "AfterFetchRow", lookup,
       [&](TIB_Query* q) { q->AfterFetchRow = destroy; },
       [&](TIB_Query*) {
         const std::unique_ptr<TIB_Query> source(keySource);  // goes with the case
         source->SetRowNum(50);
       }},
      {"SetRowNum (writing the key into the key source's row)", "the key source's OnDataChange", lookup,
       [&](TIB_Query*) {
         source->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) {
           if (victim) destroy(victim);
         };
       },
       [&](TIB_Query* q) {
         try {
           q->SetRowNum(5);
         } catch (...) {
           keySource->Cancel();  // the key written into its row
           delete keySource;
           throw;
         }
       }},
      {"Next", "OnCalculateField",
       [&](TIB_Query* q) {
         TIB_StringList calculated;
         calculated.Add("TWICE INTEGER");
         q->SetCalculatedFields(calculated);
         q->Open();
       },
       [&](TIB_Query* q) {
         q->OnCalculateField = [&](TIB_Statement*, TIB_Row*, TIB_Column*) {
           if (victim) destroy(victim);
         };
       },
       [](TIB_Query* q) { q->Next(); }},
      {"the master's Next (following it)", "AfterFetchRow", detail,
       [&](TIB_Query* q) { q->AfterFetchRow = destroy; }, moveMaster},
      {"the master's Next (following it)", "AfterScroll", detail, [&](TIB_Query* q) { q->AfterScroll = destroy; },
       moveMaster},
      {"the master's Next (posting the detail's edit first)", "BeforePost",
       [&](TIB_Query* q) {
         detail(q);
         edit(q);
       },
       [&](TIB_Query* q) { q->BeforePost = destroy; }, moveMaster},
  };
  TIB_Session* session = nullptr;
  const std::string table = Read();
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.Entry) + " / " + k.Handler);
    TIB_Query* q = victim = NewQuery();
    q->SetRequestLive(true);
    q->SetCallbackInc(-1);
    q->SetCallbackInitInt(0);
    q->SetCallbackRefreshInt(0);
    k.Before(q);
    session = q->GetSession();
    k.Set(q);
    EXPECT_THROW(k.Entry_(q), EAbort);
    EXPECT_EQ(nullptr, victim);
    if (victim) delete victim;
    EXPECT_EQ(0, session->GetBusyLevel());
    EXPECT_EQ(0, Tr->GetOpenCursorCount());
    if (k.Writes) {
      Tr->Rollback();
    } else {
      // Nothing the entry point was about to write is written: the table is as it was.
      Tr->Commit();
      EXPECT_EQ(table, Read());
    }
    Tr->GetTimeoutProps().SetAttempt(0);
    Tr->SetIsolation(tiConcurrency);
  }
  EXPECT_EQ("1,n1;2,n2;3,n3", Read("SELECT ID, NAME FROM T WHERE ID <= 3 ORDER BY ID"));
  EXPECT_EQ(60, std::stoi(Read("SELECT COUNT(*) FROM T")));
}

// A master deleted by its detail's handler while its own move tells the detail ends the move with the
// silent abort; so does a key source deleted by its lookup's handler, and a master whose insert posts a
// detail whose handler deletes it.
TEST_F(DatasetGuardTest, AMasterOrKeySourceDeletedByItsFollowerEndsItsOwnMoveWithTheSilentAbort) {
  Fill(6);
  const std::string table = Read();
  auto masterAndDetail = [&](TIB_Query*& M, TIB_Query*& D) {
    M = NewQuery("SELECT ID FROM T WHERE ID <= 2 ORDER BY ID");
    M->SetRequestLive(true);
    auto* source = new TIB_DataSource(Owner);
    source->SetDataset(M);
    M->Open();
    D = NewQuery("SELECT ID, NAME, GRP FROM T ORDER BY ID");
    D->SetRequestLive(true);
    D->GetMasterLinks().SetText("GRP=ID");
    D->SetMasterSource(source);
    D->Open();
  };
  TIB_Query* m = nullptr;
  TIB_Query* d = nullptr;
  int touched = 0;
  // The detail's AfterOpen (its refresh for the master's next row) deletes the master.
  masterAndDetail(m, d);
  d->AfterOpen = [&](TIB_Dataset*) {
    FreeAndNil(m);
    ++touched;
  };
  EXPECT_THROW(m->Next(), EAbort);
  EXPECT_EQ(nullptr, m);
  EXPECT_EQ(1, touched);
  EXPECT_EQ(0, d->GetSession()->GetBusyLevel());
  delete d;

  // The master's SetRowNum, the detail's AfterScroll.
  masterAndDetail(m, d);
  d->AfterScroll = [&](TIB_Dataset*) { FreeAndNil(m); };
  EXPECT_THROW(m->SetRowNum(2), EAbort);
  EXPECT_EQ(nullptr, m);
  delete d;

  // The master's Insert posts the detail's edit first; the detail's BeforePost deletes the master.
  masterAndDetail(m, d);
  d->Edit();
  d->FieldByName("NAME")->SetAsString("posted");
  d->BeforePost = [&](TIB_Dataset*) { FreeAndNil(m); };
  EXPECT_THROW(m->Insert(), EAbort);
  EXPECT_EQ(nullptr, m);
  delete d;

  // A lookup's handler deletes its key source while the key source moves.
  TIB_Query* keySource = NewQuery();
  keySource->SetRequestLive(true);
  auto* source = new TIB_DataSource(Owner);
  source->SetDataset(keySource);
  keySource->Open();
  TIB_Query* lookup = NewQuery();
  lookup->GetKeyLinks().SetText("T.ID=ID");
  lookup->SetKeySource(source);
  lookup->Open();
  lookup->AfterScroll = [&](TIB_Dataset*) { FreeAndNil(keySource); };
  EXPECT_THROW(keySource->Next(), EAbort);
  EXPECT_EQ(nullptr, keySource);
  EXPECT_EQ(0, lookup->GetSession()->GetBusyLevel());
  delete lookup;
  Tr->Rollback();
  EXPECT_EQ(table, Read());
}

// An entry point whose dataset a handler deleted never returns normally, not even when the handler ran
// from a notice held back until the operation's end (a data source hears the new state there).
TEST_F(DatasetGuardTest, AnEntryPointWhoseDatasetDiedInAHeldBackNoticeEndsWithTheSilentAbort) {
  Fill(6);
  struct Case {
    const char* Entry;
    std::function<void(TIB_Query*)> Before;
    std::function<void(TIB_Query*)> Run;
  } cases[] = {
      {"Open", [](TIB_Query*) {}, [](TIB_Query* q) { q->Open(); }},
      {"Close", [](TIB_Query* q) { q->Open(); }, [](TIB_Query* q) { q->Close(); }},
      {"Refresh", [](TIB_Query* q) { q->Open(); }, [](TIB_Query* q) { q->Refresh(); }},
      {"Edit", [](TIB_Query* q) { q->Open(); }, [](TIB_Query* q) { q->Edit(); }},
      {"Next", [](TIB_Query* q) { q->Open(); }, [](TIB_Query* q) { q->Next(); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Entry);
    TIB_Query* q = NewQuery();
    q->SetRequestLive(true);
    auto* source = new TIB_DataSource(Owner);
    source->SetDataset(q);
    k.Before(q);
    int heard = 0;
    source->OnStateChanged = [&](TIB_DataSource*, TIB_Dataset*) {
      ++heard;
      FreeAndNil(q);
    };
    source->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) {
      ++heard;
      FreeAndNil(q);
    };
    EXPECT_THROW(k.Run(q), EAbort);
    EXPECT_EQ(nullptr, q);
    EXPECT_GE(heard, 1);
    EXPECT_EQ(0, Conn->GetSession()->GetBusyLevel());
    delete source;
  }
}

// The transaction's cached-update loops take each dataset's token: a dataset deleted by a handler (its
// own, the transaction's, or another dataset's) is skipped, and what is written is exactly what was
// applied before the commit.
TEST_F(DatasetGuardTest, TheTransactionsCachedUpdateLoopsSkipADatasetAHandlerDeleted) {
  Fill(6);
  const std::string table = Read();
  auto cachedEdit = [&](int32_t Row, const std::string& Name) {
    TIB_Query* q = NewQuery();
    q->SetRequestLive(true);
    q->SetCachedUpdates(true);
    q->Open();
    q->SetRowNum(Row);
    q->Edit();
    q->FieldByName("NAME")->SetAsString(Name);
    q->Post();
    return q;
  };
  // The dataset's own OnUpdateRecord deletes it: nothing is written.
  TIB_Query* q = cachedEdit(1, "one");
  q->OnUpdateRecord = [&](TIB_Dataset*, TIB_UpdateKind, TIB_UpdateAction&) { FreeAndNil(q); };
  EXPECT_THROW(Tr->ApplyUpdates(), EAbort);
  EXPECT_EQ(nullptr, q);
  Tr->Commit();
  EXPECT_EQ(table, Read());

  // One dataset's handler deletes another that waits for its turn: the first is applied and committed.
  TIB_Query* first = cachedEdit(1, "first");
  TIB_Query* second = cachedEdit(2, "second");
  first->OnUpdateRecord = [&](TIB_Dataset* d, TIB_UpdateKind Kind, TIB_UpdateAction& Action) {
    FreeAndNil(second);
    static_cast<TIB_BDataset*>(d)->SysUpdateRecord(Kind);
    Action = uaApplied;
  };
  Tr->ApplyUpdates();
  EXPECT_EQ(nullptr, second);
  EXPECT_EQ("1,first;2,n2;3,n3", Read("SELECT ID, NAME FROM T WHERE ID <= 3 ORDER BY ID"));
  EXPECT_FALSE(first->GetUpdatesPending());
  delete first;
  Exec("UPDATE T SET NAME = 'n1' WHERE ID = 1");
  Tr->Commit();

  // The transaction's AfterCommit deletes the dataset whose updates it is about to mark committed.
  q = cachedEdit(3, "three");
  Tr->AfterCommit = [&](TIB_Transaction*) { FreeAndNil(q); };
  Tr->ApplyUpdates();
  Tr->AfterCommit = nullptr;
  EXPECT_EQ(nullptr, q);
  EXPECT_EQ("1,n1;2,n2;3,three", Read("SELECT ID, NAME FROM T WHERE ID <= 3 ORDER BY ID"));
  Exec("UPDATE T SET NAME = 'n3' WHERE ID = 3");
  Tr->Commit();

  // CancelUpdates: the first dataset's cancel (its state notice) deletes the second.
  first = cachedEdit(1, "first");
  second = cachedEdit(2, "second");
  auto* source = new TIB_DataSource(Owner);
  source->SetDataset(first);
  source->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) { FreeAndNil(second); };
  Tr->CancelUpdates();
  EXPECT_EQ(nullptr, second);
  EXPECT_FALSE(first->GetUpdatesPending());
  delete source;
  delete first;
  Tr->Commit();
  EXPECT_EQ(table, Read());
}

// A transaction deleted from its own AfterCommit, or from a dataset's AfterClose during the commit's
// pass over its datasets, ends the commit with the silent abort; what was committed stays, what was not
// is rolled back with the transaction.
TEST_F(DatasetGuardTest, ATransactionDeletedDuringItsCommitEndsTheCommitWithTheSilentAbort) {
  Fill(3);
  auto* t = new TIB_Transaction(Owner);
  t->SetIB_Connection(Conn);
  auto update = [&](const std::string& SQL) {
    TIB_DSQL* s = NewDSQL(SQL);
    s->SetIB_Transaction(t);
    s->Execute();
    delete s;
  };
  update("UPDATE T SET NAME = 'committed' WHERE ID = 1");
  int touched = 0;
  t->AfterCommit = [&](TIB_Transaction*) {
    FreeAndNil(t);
    ++touched;
  };
  EXPECT_THROW(t->Commit(), EAbort);
  EXPECT_EQ(nullptr, t);
  EXPECT_EQ(1, touched);
  EXPECT_EQ("1,committed;2,n2;3,n3", Read());

  // The commit closes a dataset first (its CommitAction), whose AfterClose deletes the transaction.
  t = new TIB_Transaction(Owner);
  t->SetIB_Connection(Conn);
  update("UPDATE T SET NAME = 'lost' WHERE ID = 2");
  TIB_Query* q = NewQuery();
  q->SetIB_Transaction(t);
  q->SetCommitAction(caClose);
  q->Open();
  q->AfterClose = [&](TIB_Dataset*) { FreeAndNil(t); };
  EXPECT_THROW(t->Commit(), EAbort);
  EXPECT_EQ(nullptr, t);
  EXPECT_FALSE(q->GetActive());
  EXPECT_EQ(0, Conn->GetSession()->GetBusyLevel());
  delete q;
  EXPECT_EQ("1,committed;2,n2;3,n3", Read());
}

// An apply whose dataset a handler deletes leaves nothing of itself at the server: the rows written
// before the delete are taken back to the apply's savepoint, and a later commit writes none of them.
TEST_F(DatasetGuardTest, AnApplyThatLosesItsDatasetRollsBackToItsSavepoint) {
  Fill(6);
  const std::string table = Read();
  for (bool throughTransaction : {false, true}) {
    SCOPED_TRACE(throughTransaction ? "the transaction's apply" : "the dataset's apply");
    TIB_Query* q = NewQuery();
    q->SetRequestLive(true);
    q->SetCachedUpdates(true);
    q->Open();
    for (int32_t row = 1; row <= 3; ++row) {
      q->SetRowNum(row);
      q->Edit();
      q->FieldByName("NAME")->SetAsString("cached" + std::to_string(row));
      q->Post();
    }
    int written = 0;
    q->OnUpdateRecord = [&](TIB_Dataset* d, TIB_UpdateKind Kind, TIB_UpdateAction& Action) {
      if (written == 2) {
        FreeAndNil(q);
        return;
      }
      static_cast<TIB_BDataset*>(d)->SysUpdateRecord(Kind);
      Action = uaApplied;
      ++written;
    };
    if (throughTransaction) {
      EXPECT_THROW(Tr->ApplyUpdates(), EAbort);
    } else {
      EXPECT_THROW(q->ApplyUpdates(), EAbort);
    }
    EXPECT_EQ(nullptr, q);
    EXPECT_EQ(2, written);
    Tr->Commit();
    EXPECT_EQ(table, Read());
  }
}

}  // namespace

namespace {

// A column's text handlers may destroy the dataset they read or write for: the getter or setter ends
// with the silent abort, nothing of the freed column is touched, and nothing is written.
TEST_F(DatasetGuardTest, AColumnsTextHandlerThatDestroysItsDatasetEndsWithTheSilentAbort) {
  Fill(3);
  for (const char* column : {"NAME", "ID"}) {
    TIB_Query* q = NewQuery();
    q->SetRequestLive(true);
    q->Open();
    q->Edit();
    std::string seen;
    q->FieldByName(column)->OnSetText = [&seen, &q](TIB_Column*, std::string& Text) {
      delete q;
      q = nullptr;
      seen = Text;  // the handler's own captures stay usable
      Text = "7";
    };
    EXPECT_THROW(q->FieldByName(column)->SetAsString("9"), EAbort) << column;
    EXPECT_EQ(nullptr, q);
    EXPECT_EQ("9", seen);
  }
  for (const char* column : {"NAME", "ID"}) {
    TIB_Query* q = NewQuery();
    q->Open();
    int calls = 0;
    q->FieldByName(column)->OnGetText = [&calls, &q](TIB_Column*, std::string& Text) {
      delete q;
      q = nullptr;
      Text += "!";
      ++calls;
    };
    EXPECT_THROW(q->FieldByName(column)->GetAsString(), EAbort) << column;
    EXPECT_EQ(1, calls);
  }
  Tr->Commit();
  EXPECT_EQ("1,n1;2,n2;3,n3", Read());
}

}  // namespace
