#include <gtest/gtest.h>

#include "DatasetTestSupport.h"
#include "platform/Forms.h"

namespace {

using datasettest::DatasetDbTest;
using testsupport::MessageOf;

// Counts the immediate executions (the count statements) that reach the client library.
struct ImmediateCounter {
  static inline int Calls = 0;
  static inline decltype(TIB_EntryTable::isc_dsql_exec_immed2) Real = nullptr;
  static ISC_STATUS Run(ISC_STATUS* S, isc_db_handle* D, isc_tr_handle* T, unsigned short L, const ISC_SCHAR* SQL,
                        unsigned short Dialect, const XSQLDA* In, const XSQLDA* Out) {
    ++Calls;
    return Real(S, D, T, L, SQL, Dialect, In, Out);
  }
  TIB_Session* Session;
  explicit ImmediateCounter(TIB_Session* S) : Session(S) {
    Calls = 0;
    Real = S->Entries.isc_dsql_exec_immed2;
    S->Entries.isc_dsql_exec_immed2 = &Run;
  }
  ~ImmediateCounter() { Session->Entries.isc_dsql_exec_immed2 = Real; }
};

using RefreshTest = DatasetDbTest;

TEST_F(RefreshTest, RecordCountCountsWhatTheQueryReturns) {
  Fill(10);
  struct Case {
    const char* SQL;
    int Expected;
  } cases[] = {
      {"SELECT ID FROM T ORDER BY ID", 10},
      {"SELECT ID FROM T WHERE ID > :MIN", 7},
      {"SELECT GRP, COUNT(*) FROM T GROUP BY GRP", 3},
      {"SELECT ID FROM T WHERE ID < 3 UNION ALL SELECT ID FROM T WHERE ID > 8", 4},
      {"SELECT DISTINCT GRP FROM T", 3},
      {"SELECT FIRST 4 SKIP 2 ID FROM T ORDER BY ID", 4},
      {"SELECT ID, CAST(:MIN AS INTEGER) AS M FROM T WHERE ID > :MIN", 7},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.SQL);
    TIB_Cursor* c = NewCursor(k.SQL);
    c->Prepare();
    if (TIB_Column* p = c->FindParam("MIN")) p->SetAsInteger(3);
    EXPECT_EQ(k.Expected, c->GetRecordCount());
    delete c;
  }
}

TEST_F(RefreshTest, TheCountIsCachedUntilReopenUnlessReadCommitted) {
  Fill(5);
  for (TIB_Isolation iso : {tiConcurrency, tiCommitted}) {
    SCOPED_TRACE(iso);
    Tr->SetIsolation(iso);
    TIB_Cursor* c = NewCursor();  // an unprepared dataset prepares to count
    ImmediateCounter counter(c->GetSession());
    EXPECT_EQ(5, c->GetRecordCount());
    EXPECT_EQ(5, c->GetRecordCount());
    EXPECT_EQ(iso == tiCommitted ? 2 : 1, ImmediateCounter::Calls);
    c->Open();
    Exec("INSERT INTO T (ID) VALUES (100)");
    c->Close();
    c->Open();
    EXPECT_EQ(6, c->GetRecordCount());
    Exec("INSERT INTO T (ID) VALUES (101)");
    c->Perform(dnAfterPost);  // what the dataset's own post announces
    EXPECT_EQ(7, c->GetRecordCount());
    Exec("DELETE FROM T WHERE ID >= 100");
    Tr->Commit();
    delete c;
  }
  TIB_Cursor* c = NewCursor();
  c->OnGetRecordCount = [](TIB_Dataset*, int32_t& Count) { Count = 42; };
  EXPECT_EQ(42, c->GetRecordCount());
  TIB_Cursor* blank = NewCursor(" ");
  EXPECT_THROW(blank->GetRecordCount(), EIB_StatementError);
}

TEST_F(RefreshTest, RefreshReopensAtTheFirstRowOrRefusesToKeepTheRowNumber) {
  Fill(5);
  TIB_Cursor* c = NewCursor();
  int opens = 0;
  c->AfterOpen = [&](TIB_Dataset*) { ++opens; };
  c->Open();
  c->MoveBy(2);
  EXPECT_TRUE(c->Refresh());
  EXPECT_EQ(1, c->GetRowNum());
  EXPECT_EQ(1, opens);  // a refresh is no new open for the events
  EXPECT_FALSE(c->GetRefreshing());
  c->SetRefreshAction(raKeepRowNum);
  EXPECT_EQ("RowNum is not implemented yet", MessageOf<EIB_DatasetError>([&] { c->Refresh(); }));
  EXPECT_FALSE(c->GetRefreshing());
  c->Close();
  EXPECT_FALSE(c->Refresh());
}

TEST_F(RefreshTest, ARefreshDuringAFetchLeavesTheNewCursorAtItsFirstRow) {
  Fill(20);
  TIB_Cursor* c = NewCursor();
  c->SetCallbackInc(0);
  c->AfterFetchRow = [&](TIB_Dataset* D) {
    if (D->GetRowNum() == 6 && !D->GetRefreshing()) Application->Post([D] { D->Refresh(); });
  };
  c->FetchAll();
  EXPECT_TRUE(c->GetActive());
  EXPECT_FALSE(c->GetEof());
  EXPECT_EQ(1, c->GetRowNum());
  EXPECT_EQ(1, c->FieldByName("ID")->GetAsInteger());
  EXPECT_EQ(19, Walk(c) - 1);
}

}  // namespace
