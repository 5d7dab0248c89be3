#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "DatasetTestSupport.h"
#include "LinkTestSupport.h"
#include "dblib/IB_Constants.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"

namespace {

using datasettest::DatasetDbTest;
using datasettest::TestClock;
using testsupport::MessageOf;

// Counts the fetch calls that reach the client library.
struct FetchCounter {
  static inline int Calls = 0;
  static inline decltype(TIB_CursorEntries::isc_dsql_fetch) Real = nullptr;
  static ISC_STATUS Fetch(ISC_STATUS* S, isc_stmt_handle* H, unsigned short D, const XSQLDA* DA) {
    ++Calls;
    return Real(S, H, D, DA);
  }
  TIB_Session* Session;
  explicit FetchCounter(TIB_Session* S) : Session(S) {
    Calls = 0;
    Real = S->Cursor.isc_dsql_fetch;
    S->Cursor.isc_dsql_fetch = &Fetch;
  }
  ~FetchCounter() { Session->Cursor.isc_dsql_fetch = Real; }
};

using FetchTest = DatasetDbTest;

TEST_F(FetchTest, OpenFetchesTheFirstRowAndNextWalksToTheEnd) {
  for (int rows : {0, 3}) {
    SCOPED_TRACE(rows);
    Exec("DELETE FROM T");
    if (rows) Fill(rows);
    TIB_Cursor* c = NewCursor();
    std::vector<std::string> log;
    c->AfterOpen = [&](TIB_Dataset*) { log.push_back("open"); };
    c->BeforeScroll = [&](TIB_Dataset*) { log.push_back("scroll"); };
    c->AfterFetchEof = [&](TIB_Dataset*) { log.push_back("eof"); };
    c->Open();
    EXPECT_EQ(rows ? 1 : 0, c->GetRowNum());
    EXPECT_EQ(rows == 0, c->GetEof());
    EXPECT_EQ(dssBrowse, c->GetState());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("open", log[0]);
    EXPECT_EQ("scroll", log[1]);
    int seen = 0;
    while (!c->GetEof()) {
      EXPECT_EQ(++seen, c->FieldByName("ID")->GetAsInteger());
      c->Next();
    }
    EXPECT_EQ(rows, seen);
    EXPECT_EQ(1, std::count(log.begin(), log.end(), "eof"));
    EXPECT_EQ(rsNone, c->GetFields()->GetRowState());
    EXPECT_FALSE(c->GetCursorIsOpen());
    EXPECT_EQ(0, Tr->GetOpenCursorCount());
    EXPECT_EQ("At end of Dataset", MessageOf<EIB_DatasetError>([&] { c->Next(); }));
    EXPECT_TRUE(c->GetActive());
    c->Close();
    EXPECT_EQ(dssPrepared, c->GetState());
    delete c;
  }
}

// Steps taken with nothing attached skip the notices; what is attached between two steps hears the next.
TEST_F(FetchTest, HandlersLinksAndKeyRowsAttachedBetweenStepsSeeTheNextStep) {
  Fill(4);
  TIB_Cursor* c = NewCursor();
  c->Open();
  c->Next();
  std::vector<std::string> log;
  c->BeforeScroll = [&](TIB_Dataset*) { log.push_back("before"); };
  c->AfterScroll = [&](TIB_Dataset*) { log.push_back("after"); };
  auto* source = new TIB_DataSource(Owner);
  source->SetDataset(c);
  auto* link = new linktest::LogLink(Owner, log, "L", {sleRefreshState, sleDataChange});
  link->SetDataSource(source);
  c->Next();
  EXPECT_EQ((std::vector<std::string>{"L:14", "before", "L:22", "L:22", "after"}), log);
  EXPECT_EQ(3, c->GetKeyFields()->GetColumns(0)->GetAsInteger());
  log.clear();
  c->BeforeScroll = nullptr;
  c->AfterScroll = nullptr;
  link->SetDataSource(nullptr);
  c->Next();
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(4, c->FieldByName("ID")->GetAsInteger());
  EXPECT_EQ(4, c->GetKeyFields()->GetColumns(0)->GetAsInteger());
}

// A step with nothing attached still runs inside the busy bracket, and a class derived from the cursor
// has its own scroll steps run on every Next.
TEST_F(FetchTest, EveryStepIsBusyAndADerivedCursorKeepsItsScrollSteps) {
  Fill(3);
  struct Counting : TIB_Cursor {
    using TIB_Cursor::TIB_Cursor;
    std::vector<std::string> Log;
    void SysBeginScroll() override {
      Log.push_back("begin");
      TIB_Cursor::SysBeginScroll();
    }
    void SysEndScroll() override {
      Log.push_back("end");
      TIB_Cursor::SysEndScroll();
    }
  };
  auto* derived = new Counting(Owner);
  derived->SetIB_Connection(Conn);
  derived->SetIB_Transaction(Tr);
  derived->GetSQL().SetText("SELECT ID, NAME FROM T ORDER BY ID");
  TIB_Cursor* plain = NewCursor();
  for (TIB_Cursor* c : {plain, static_cast<TIB_Cursor*>(derived)}) {
    SCOPED_TRACE(c == plain ? "cursor" : "derived");
    std::vector<bool> busy;
    c->AfterFetchRow = [&](TIB_Dataset* D) { busy.push_back(D->GetSession()->IsBusy()); };
    c->Open();
    derived->Log.clear();
    c->Next();
    c->Next();
    EXPECT_EQ(3, c->FieldByName("ID")->GetAsInteger());
    c->Next();
    EXPECT_TRUE(c->GetEof());
    EXPECT_EQ((std::vector<bool>{true, true, true}), busy);
    EXPECT_FALSE(c->GetSession()->IsBusy());
  }
  EXPECT_EQ((std::vector<std::string>{"begin", "end", "begin", "end", "begin", "end"}), derived->Log);
}

TEST_F(FetchTest, FirstRunsTheQueryAgainWithTheCurrentParameters) {
  Fill(5);
  TIB_Cursor* c = NewCursor("SELECT ID FROM T WHERE ID > :MIN ORDER BY ID");
  c->Prepare();
  c->ParamByName("MIN")->SetAsInteger(1);
  c->Open();
  c->Next();
  EXPECT_EQ(3, c->FieldByName("ID")->GetAsInteger());
  c->ParamByName("MIN")->SetAsInteger(3);
  c->First();
  EXPECT_EQ(1, c->GetRowNum());
  EXPECT_EQ(4, c->FieldByName("ID")->GetAsInteger());
  EXPECT_EQ(1, Tr->GetOpenCursorCount());
}

TEST_F(FetchTest, MoveByLastAndFetchAllCountRows) {
  Fill(10);
  TIB_Cursor* c = NewCursor();
  c->Open();
  EXPECT_EQ(3, c->MoveBy(3));
  EXPECT_EQ(4, c->GetRowNum());
  EXPECT_EQ(0, c->MoveBy(0));
  EXPECT_EQ("IB_CURSOR is unidirectional", MessageOf<EIB_StatementError>([&] { c->MoveBy(-1); }));
  EXPECT_EQ(6, c->MoveBy(20));
  EXPECT_TRUE(c->GetEof());
  EXPECT_EQ("At end of dataset", MessageOf<EIB_DatasetError>([&] { c->Last(); }));
  c->Close();
  c->Last();
  EXPECT_EQ(10, c->GetRowNum());
  c->Close();
  c->FetchAll();
  EXPECT_TRUE(c->GetEof());
  EXPECT_EQ(10, c->GetRowNum());
  c->Close();
  c->SetAutoFetchAll(true);
  c->Open();
  EXPECT_TRUE(c->GetEof());
  EXPECT_EQ(10, c->GetRowNum());
}

// A cleared row leaves its NOT NULL columns' indicators at null; the client writes none for them, so
// the rows fetched after it must still read their values.
TEST_F(FetchTest, RowsFetchedAfterAClearedRowKeepTheirNotNullValues) {
  Fill(3);
  TIB_Cursor* c = NewCursor();
  c->Open();
  c->GetFields()->ClearRow(rsNone);
  std::vector<int> ids;
  for (c->Next(); !c->GetEof(); c->Next()) {
    ASSERT_FALSE(c->FieldByName("ID")->GetIsNull());
    ids.push_back(c->FieldByName("ID")->GetAsInteger());
  }
  EXPECT_EQ((std::vector<int>{2, 3}), ids);
}

TEST_F(FetchTest, WrongMovesAreRefused) {
  Fill(2);
  TIB_Cursor* c = NewCursor();
  c->Prepare();
  EXPECT_EQ("Dataset is inactive", MessageOf<EIB_DatasetError>([&] { c->Next(); }));
  c->Open();
  int scrolls = 0;
  c->BeforeScroll = [&](TIB_Dataset*) { ++scrolls; };
  c->Next();
  EXPECT_EQ("IB_CURSOR is unidirectional", MessageOf<EIB_StatementError>([&] { c->Prior(); }));
  EXPECT_EQ(2, scrolls);
  EXPECT_EQ("Statement has already been opened", MessageOf<EIB_StatementError>([&] { c->Execute(); }));
  EXPECT_EQ("RowNum is not implemented yet", MessageOf<EIB_DatasetError>([&] { c->SetRowNum(1); }));
  c->Close();
  EXPECT_EQ("At beginning of Dataset", MessageOf<EIB_DatasetError>([&] { c->Prior(); }));
}

TEST_F(FetchTest, AFetchErrorLeavesTheDatasetActiveAtEofWithItsCursorClosed) {
  Fill(3);
  TIB_Cursor* c = NewCursor("SELECT 6 / (2 - ID) FROM T ORDER BY ID");
  c->Open();
  EXPECT_THROW(c->Next(), EIB_ISCError);
  EXPECT_TRUE(c->GetActive());
  EXPECT_TRUE(c->GetEof());
  EXPECT_FALSE(c->GetCursorIsOpen());
  EXPECT_EQ(0, Tr->GetOpenCursorCount());
  c->Close();
  c->Open();
  EXPECT_EQ(1, c->GetRowNum());
}

TEST_F(FetchTest, MaxRowsEndsTheCursorWithoutAServerCall) {
  Fill(25);
  TIB_Cursor* c = NewCursor();
  c->SetMaxRows(10);
  FetchCounter counter(c->GetSession());
  c->Open();
  EXPECT_EQ(10, Walk(c));
  EXPECT_EQ(10, FetchCounter::Calls);
  EXPECT_EQ(0, Tr->GetOpenCursorCount());
}

TEST_F(FetchTest, MaxTicksCountsFromTheStartOfTheRunningFetchOnly) {
  Fill(25);
  struct Case {
    uint64_t Start, Step;
    uint32_t MaxTicks;
    int Rows;  // rows FetchAll reaches
  } cases[] = {
      {0, 0, 100, 25},                   // the clock stands still
      {0, 30, 100, 3},                   // the limit ends the fetch
      {(1ull << 32) - 10, 1, 1000, 25},  // across the 32-bit boundary
      {UINT64_MAX - 5, 1, 1000, 25},     // across the end of the tick range
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Start);
    TestClock clock(k.Start, k.Step);
    TIB_Cursor* c = NewCursor();
    c->SetMaxTicks(k.MaxTicks);
    c->SetCallbackInc(-1);
    c->SetAutoFetchFirst(false);
    c->FetchAll();
    EXPECT_EQ(k.Rows, c->GetRowNum());
    EXPECT_TRUE(c->GetEof());
    delete c;
  }
  // A start tick left by an earlier fetch does not end a later single move.
  TestClock clock(0, 0);
  TIB_Cursor* c = NewCursor();
  c->SetMaxTicks(100);
  c->Open();
  EXPECT_EQ(3, c->MoveBy(3));
  TestClock::Now += 10000;
  c->Next();
  EXPECT_EQ(5, c->GetRowNum());
  EXPECT_FALSE(c->GetEof());
}

TEST_F(FetchTest, CallbacksFollowCallbackInc) {
  Fill(12);
  struct Case {
    int32_t Inc;
    std::vector<int> Statuses;  // status * 100 + row number
    bool PumpRan;               // a task posted before the fetch ran during it
  } cases[] = {
      {-1, {}, false},
      {0, {0, 200 + 12}, true},
      {5, {0, 105, 110, 200 + 12}, true},
  };
  TestClock clock(1, 1);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Inc);
    TIB_Cursor* c = NewCursor();
    c->SetCallbackInc(k.Inc);
    c->SetCallbackInitInt(0);
    c->SetCallbackRefreshInt(0);
    std::vector<int> statuses;
    c->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t Row, bool&) { statuses.push_back(S * 100 + Row); };
    bool ran = false, ranDuringFetch = false;
    Application->Post([&] { ran = true; });
    c->AfterFetchEof = [&](TIB_Dataset*) { ranDuringFetch = ran; };
    c->FetchAll();
    EXPECT_EQ(k.Statuses, statuses);
    EXPECT_EQ(k.PumpRan, ranDuringFetch);
    Application->ProcessMessages();
    delete c;
  }
}

// Records what the cancel-query window is asked to do.
struct RecordingDialogs : TDialogs {
  std::vector<std::string> Log;
  std::function<void()> Abort;
  void CancelQueryShow(const TCancelQueryInfo& Info) override {
    Log.push_back(Info.Caption + " " + std::to_string(Info.RowNum));
    Abort = Info.AbortFetching;
  }
  void CancelQueryHide() override { Log.push_back("hide"); }
};

TEST_F(FetchTest, TheCancelDialogShowsOnlyForLongFetchesAndCanAbortThem) {
  Fill(12);
  RecordingDialogs dialogs;
  TDialogs* previous = SetDialogs(&dialogs);
  TestClock clock(1000, 0);
  TIB_Cursor* c = NewCursor();
  c->SetCallbackInc(5);
  c->FetchAll();  // shorter than CallbackInitInt
  EXPECT_TRUE(dialogs.Log.empty());
  c->Close();
  c->SetCallbackInitInt(0);
  c->SetCallbackRefreshInt(0);
  c->SetCallbackCaption("Loading");
  TestClock::Step = 1;
  c->FetchAll();
  EXPECT_EQ((std::vector<std::string>{"Loading 5", "Loading 10", "hide"}), dialogs.Log);
  // The window's abort button ends the fetch after the current row.
  c->Close();
  dialogs.Log.clear();
  c->AfterFetchRow = [&](TIB_Dataset* D) {
    if (D->GetRowNum() == 5 && dialogs.Abort) dialogs.Abort();
  };
  c->FetchAll();
  EXPECT_EQ(5, c->GetRowNum());
  EXPECT_FALSE(c->GetEof());
  EXPECT_FALSE(c->GetFetching());
  SetDialogs(previous);
}

TEST_F(FetchTest, AbortInTheCallbackStopsTheFetchAndAllowsClose) {
  Fill(20);
  TestClock clock(1, 1);
  TIB_Cursor* c = NewCursor();
  c->SetCallbackInc(1);
  c->SetCallbackInitInt(0);
  c->SetCallbackRefreshInt(0);
  std::string closeDuringFetch;
  c->OnCallback = [&](TIB_Dataset* D, TIB_CallbackStatus S, int32_t Row, bool& Abort) {
    if (S != cbsProgress || Row != 7) return;
    closeDuringFetch = MessageOf<EIB_DatasetError>([&] { D->Close(); });
    Abort = true;
  };
  c->FetchAll();
  EXPECT_EQ("Dataset is currently fetching", closeDuringFetch);
  EXPECT_EQ(7, c->GetRowNum());
  EXPECT_FALSE(c->GetEof());
  EXPECT_FALSE(c->GetFetching());
  c->Close();
  EXPECT_EQ(0, Tr->GetOpenCursorCount());
}

TEST_F(FetchTest, DestroyingTheDatasetFromItsOwnHandlersEndsTheOperationQuietly) {
  Fill(20);
  TestClock clock(1, 1);
  TIB_Cursor* victim = nullptr;
  auto destroy = [&] { FreeAndNil(victim); };
  struct Case {
    const char* Where;
    std::function<void(TIB_Cursor*)> Arm;
    std::function<void(TIB_Cursor*)> Run;
  } cases[] = {
      {"the fetch callback",
       [&](TIB_Cursor* c) {
         c->SetCallbackInc(1);
         c->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool&) {
           if (S == cbsProgress) destroy();
         };
       },
       [](TIB_Cursor* c) { c->FetchAll(); }},
      {"the message pump",
       [&](TIB_Cursor* c) {
         c->AfterFetchRow = [&](TIB_Dataset* D) {
           if (D->GetRowNum() == 4) Application->Post(destroy);
         };
       },
       [](TIB_Cursor* c) { c->FetchAll(); }},
      {"a row of a multi-row move",
       [&](TIB_Cursor* c) {
         c->AfterFetchRow = [&](TIB_Dataset* D) {
           if (D->GetRowNum() == 3) destroy();
         };
       },
       [](TIB_Cursor* c) { c->MoveBy(5); }},
      {"a row of a one-row step with nothing else attached",
       [&](TIB_Cursor* c) {
         c->Open();
         c->AfterFetchRow = [&](TIB_Dataset* D) {
           if (D->GetRowNum() == 3) destroy();
         };
       },
       [](TIB_Cursor* c) {
         for (;;) c->Next();
       }},
      {"a row of a one-row step with scroll handlers",
       [&](TIB_Cursor* c) {
         c->Open();
         c->AfterScroll = [](TIB_Dataset*) {};
         c->AfterFetchRow = [&](TIB_Dataset* D) {
           if (D->GetRowNum() == 3) destroy();
         };
       },
       [](TIB_Cursor* c) {
         for (;;) c->Next();
       }},
      {"AfterOpen", [&](TIB_Cursor* c) { c->AfterOpen = [&](TIB_Dataset*) { destroy(); }; },
       [](TIB_Cursor* c) { c->Open(); }},
      {"BeforeClose",
       [&](TIB_Cursor* c) {
         c->Open();
         c->BeforeClose = [&](TIB_Dataset*) { destroy(); };
       },
       [](TIB_Cursor* c) { c->Close(); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Where);
    TIB_Cursor* c = victim = NewCursor();
    c->SetCallbackInc(0);
    c->SetCallbackInitInt(0);
    c->SetCallbackRefreshInt(0);
    k.Arm(c);
    EXPECT_THROW(k.Run(c), EAbort);
    EXPECT_EQ(nullptr, victim);
    EXPECT_EQ(0, Tr->GetOpenCursorCount());
  }
  // The handles went back to the connection with their cursors closed: they serve new cursors.
  TIB_Cursor* c = NewCursor();
  c->Open();
  EXPECT_EQ(20, Walk(c));
}

TEST_F(FetchTest, CursorNamesServeWhereCurrentOfAcrossReopens) {
  Fill(3);
  TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T ORDER BY ID FOR UPDATE");
  TIB_Cursor* other = NewCursor();
  other->Open();
  c->Open();
  EXPECT_LE(c->GetCursorName().size(), 31u);
  EXPECT_NE(c->GetCursorName(), other->GetCursorName());
  for (int round = 0; round < 2; ++round) {
    Exec("UPDATE T SET NAME = 'cur" + std::to_string(round) + "' WHERE CURRENT OF " + c->GetCursorName());
    c->Close();
    c->Open();  // the same prepared statement takes its name again
  }
  EXPECT_EQ("cur1", c->FieldByName("NAME")->GetAsString());
  // A new text is prepared again (on the handle the connection hands back): the name holds there too,
  // and another dataset that takes over the freed handle names its own cursor.
  const std::string name = c->GetCursorName();
  c->GetSQL().SetText("SELECT ID, NAME FROM T WHERE ID > 1 ORDER BY ID FOR UPDATE");
  c->Open();
  EXPECT_EQ(name, c->GetCursorName());
  Exec("UPDATE T SET NAME = 'again' WHERE CURRENT OF " + name);
  delete c;
  TIB_Cursor* next = NewCursor("SELECT ID, NAME FROM T WHERE ID = 3 FOR UPDATE");
  next->Open();
  Exec("UPDATE T SET NAME = 'next' WHERE CURRENT OF " + next->GetCursorName());
  next->Close();
  next->Open();
  EXPECT_EQ("next", next->FieldByName("NAME")->GetAsString());
}

TEST_F(FetchTest, ACursorTheServerClosedClosesWithoutError) {
  Fill(3);
  TIB_Cursor* c = NewCursor();
  c->Open();
  TIB_Session* s = c->GetSession();
  // A hard commit behind the component's back: the server closes every cursor of the transaction.
  ASSERT_EQ(0, s->Call(s->Entries.isc_commit_transaction, Tr->GetPtrHandle()));
  c->Close();
  EXPECT_FALSE(c->GetActive());
  EXPECT_FALSE(c->GetCursorIsOpen());
  EXPECT_EQ(0, Tr->GetOpenCursorCount());
}

}  // namespace
