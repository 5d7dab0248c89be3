// Positioning a buffered query by key: rows not fetched yet, rows only the server holds, newer searches.
#include <gtest/gtest.h>

#include <algorithm>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

using datasettest::DatasetDbTest;

class BDatasetLocateTest : public DatasetDbTest {
protected:
  static int32_t Id(TIB_Row* R) { return R->ColumnByName("ID")->GetAsInteger(); }
  static void SetKey(TIB_Query* Q, int32_t Id) { Q->GetKeyFields()->ColumnByName("ID")->SetAsInteger(Id); }
};

// LocateKey: buffered rows, rows further on, rows only the server holds, rows the result does not hold.
TEST_F(BDatasetLocateTest, LocateKeyMakesTheKeysRowCurrentOrGoesToRowZero) {
  Fill(3000);
  struct TCase {
    const char* Name;
    int32_t Id;
    bool Inserted;  // inserted after the query fetched every row
    bool Found;
    int32_t RowNum;
  };
  const TCase cases[] = {
      {"buffered", 3, false, true, 3},
      {"fetched on for", 2500, false, true, 2500},
      {"outside the result", 9000, false, false, 0},
      {"only at the server", 7000, true, true, 3001},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TIB_Query* q = NewQuery("SELECT ID, NAME FROM T WHERE ID <= 5000 OR ID = 7000 ORDER BY ID");
    q->Open();
    if (c.Inserted) {
      q->Last();
      Exec("INSERT INTO T VALUES (7000, 'late', 0)");
    } else {
      q->SetRowNum(5);
    }
    const int32_t buffered = q->GetBufferCount();
    SetKey(q, c.Id);
    EXPECT_EQ(q->LocateKey(), c.Found);
    EXPECT_EQ(q->GetRowNum(), c.RowNum);
    if (c.Found) {
      EXPECT_EQ(Id(q->GetFields()), c.Id);
    } else {
      // A key the server does not hold is not looked for by fetching.
      EXPECT_EQ(q->GetBufferCount(), buffered);
    }
    delete q;
    if (c.Inserted) Exec("DELETE FROM T WHERE ID = 7000");
  }
}

// A search the user aborts from the fetch callback stops there: the query is not read anew for it.
TEST_F(BDatasetLocateTest, AnAbortedSearchStopsAtRowZero) {
  Fill(3000);
  datasettest::TestClock clock(1, 1);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  q->SetCallbackInc(1);
  q->SetCallbackInitInt(0);
  q->SetCallbackRefreshInt(0);
  int progress = 0;
  q->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool& Abort) {
    if (S == cbsProgress && ++progress >= 3) Abort = true;
  };
  q->Open();
  SetKey(q, 2500);
  EXPECT_FALSE(q->LocateKey());
  EXPECT_EQ(q->GetRowNum(), 0);
  EXPECT_LT(q->GetBufferCount(), 100);
  delete q;
}

// A row that reaches the buffer while the search fetches, other than as the row it fetches (here read
// by a callback that looks the same key up), is found by the next look through the buffer: the search
// stops within the next 2,000 rows instead of reading the whole result.
TEST_F(BDatasetLocateTest, ASearchLooksThroughTheBufferAgainEvery2000Rows) {
  Fill(9000);
  datasettest::TestClock clock(1, 1);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  q->SetCallbackInc(1);
  q->SetCallbackInitInt(0);
  q->SetCallbackRefreshInt(0);
  int progress = 0;
  bool readAside = false;
  q->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus S, int32_t, bool&) {
    if (S != cbsProgress || ++progress != 5) return;
    SetKey(q, 2600);
    readAside = q->LocateBufferKey();
    SetKey(q, 2600);
  };
  q->Open();
  SetKey(q, 2600);
  EXPECT_TRUE(q->LocateKey());
  EXPECT_TRUE(readAside);
  EXPECT_EQ(Id(q->GetFields()), 2600);
  EXPECT_EQ(q->GetRowNum(), 2600);
  EXPECT_LE(q->GetBufferCount(), 2600 + 256 + 2000);
  delete q;
}

// A key whose row the record filter refuses is not found: the search stops at that row (the query is
// not read anew for it) and goes to row 0.
TEST_F(BDatasetLocateTest, AKeyTheRecordFilterRefusesIsNotFound) {
  Fill(3000);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  int refusals = 0;
  q->SetOnFilterRecord([&](TIB_Row* R, bool& Accept) {
    Accept = R->ColumnByName("ID")->GetAsInteger() != 2500;
    if (!Accept) ++refusals;
  });
  q->SetFiltered(true);
  q->Open();
  q->SetRowNum(3);
  SetKey(q, 2500);
  EXPECT_FALSE(q->LocateKey());
  EXPECT_EQ(q->GetRowNum(), 0);
  EXPECT_EQ(refusals, 1);
  // Rows up to the refused one and the next one: the result was not read again.
  EXPECT_LE(q->GetBufferCount(), 2500);
  // The rows around it are found as usual.
  SetKey(q, 2501);
  EXPECT_TRUE(q->LocateKey());
  EXPECT_EQ(Id(q->GetFields()), 2501);
  EXPECT_EQ(q->GetRowNum(), 2500);
  delete q;
}

// With a search position on the ordering column a key holding that column restarts the query at the row
// instead of fetching every row before it; an empty bookmark starts it from the first row again.
TEST_F(BDatasetLocateTest, AKeyOnTheOrderingColumnRestartsTheQueryAtItsRow) {
  Fill(3000);
  for (int32_t item : {1, -1}) {
    SCOPED_TRACE(item);
    TIB_Query* q = NewQuery("SELECT ID, NAME FROM T");
    q->GetOrderingItems().SetText("By id=ID;ID DESC");
    q->GetOrderingLinks().SetText("ID=ITEM=1;POS");
    q->SetOrderingItemNo(item);
    q->Open();
    q->SetOrderingSearchText("");
    SetKey(q, 2900);
    EXPECT_TRUE(q->LocateKey());
    EXPECT_EQ(Id(q->GetFields()), 2900);
    EXPECT_EQ(q->GetRowNum(), 1);
    EXPECT_LE(q->GetBufferCount(), 2);
    q->SetBookmark("");
    q->First();
    EXPECT_EQ(Id(q->GetFields()), item > 0 ? 1 : 3000);
    delete q;
  }
}

// LocateBufferKey: the buffer position moves, the current row stays; a key found only by reading the row
// by key sits among the retained rows until fetching reaches it, then is not buffered twice.
TEST_F(BDatasetLocateTest, LocateBufferKeyReadsRowsTheBufferLacksIntoTheRetainedRows) {
  Fill(300);
  struct TCase {
    bool WholeRows;
    int32_t Id;
    bool Found;
    int32_t NodeRow;  // the buffer cursor's node row: -1 for a retained row
  };
  const TCase cases[] = {
      {true, 2, true, 2}, {true, 250, true, 250}, {true, 999, false, 0}, {false, 250, true, -1}, {false, 999, false, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Id) + (c.WholeRows ? " whole rows" : " keys only"));
    TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
    q->SetFetchWholeRows(c.WholeRows);
    q->Open();
    q->SetRowNum(3);
    SetKey(q, c.Id);
    EXPECT_EQ(q->LocateBufferKey(), c.Found);
    EXPECT_EQ(q->GetNodeList().GetBufferCursor().Row, c.NodeRow);
    EXPECT_EQ(q->GetRowNum(), 3);
    EXPECT_EQ(Id(q->GetFields()), 3);
    if (c.Found) {
      EXPECT_EQ(q->GetBufferFields()->ColumnByName("NAME")->GetAsString(), "n" + std::to_string(c.Id));
      EXPECT_EQ(q->GetBufferBookmark(), q->GetLastKeyText());
    }
    q->Last();
    EXPECT_EQ(q->GetBufferCount(), 300);
    EXPECT_EQ(q->GetRowNum(), 300);
    delete q;
  }
}

// The seek statement that reads a key the buffer lacks fails only the prepare or execute it was given:
// fakes of the client's entries report an engine error for it alone.
struct SeekStatementFailure {
  static inline ISC_STATUS Code = 0;
  static inline bool FailPrepare = false, FailExecute = false;
  static ISC_STATUS Fail(ISC_STATUS* S) {
    S[0] = isc_arg_gds;
    S[1] = Code;
    S[2] = isc_arg_end;
    return Code;
  }
  // The seek statement is the one prepared without an output description.
  static ISC_STATUS Prepare(ISC_STATUS* S, isc_tr_handle* T, isc_stmt_handle* H, unsigned short L, const ISC_SCHAR* Q,
                            unsigned short D, XSQLDA* Out) {
    if (FailPrepare && !Out) return Fail(S);
    return CurrentSession()->Untraced.isc_dsql_prepare(S, T, H, L, Q, D, Out);
  }
  static ISC_STATUS Execute(ISC_STATUS* S, isc_tr_handle* T, isc_stmt_handle* H, unsigned short D, const XSQLDA* In) {
    if (FailExecute) return Fail(S);
    return CurrentSession()->Untraced.isc_dsql_execute(S, T, H, D, In);
  }
};

// A key the keys-only buffer lacks is read by the seek statement: prepared once per preparation of the
// query (the monitor reports it under its own name), prepared anew after an unprepare, and a failed
// prepare or execute raises the engine's error and leaves no row behind.
TEST_F(BDatasetLocateTest, TheSeekStatementReadsKeysTheBufferLacks) {
  Fill(300);
  TIB_Session& s = *Conn->GetSession();
  std::vector<std::string> trace;
  s.SetMonitorOutputHook([&](const std::string& Text) { trace.push_back(Text); });
  auto seekPrepares = [&] {
    return std::count_if(trace.begin(), trace.end(), [](const std::string& T) {
      return T.rfind("//>>> STATEMENT PREPARED <<<//\r\nTIB_BDataset.SysLookupKeyForBufferFields.GetSeekCursor()\r\n",
                     0) == 0;
    });
  };
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  q->SetFetchWholeRows(false);
  q->Open();
  for (int32_t id : {250, 260, 999, 270}) {
    SetKey(q, id);
    EXPECT_EQ(q->LocateBufferKey(), id != 999);
    if (id != 999) {
      EXPECT_EQ(q->GetBufferFields()->ColumnByName("NAME")->GetAsString(), "n" + std::to_string(id));
    }
  }
  EXPECT_EQ(seekPrepares(), 1);
  q->Close();
  q->Unprepare();
  q->Open();
  SetKey(q, 280);
  EXPECT_TRUE(q->LocateBufferKey());
  EXPECT_EQ(seekPrepares(), 2);
  s.SetMonitorOutputHook(nullptr);
  TValueRestorer prepare(s.Entries.isc_dsql_prepare, decltype(s.Entries.isc_dsql_prepare){&SeekStatementFailure::Prepare});
  TValueRestorer execute(s.Cursor.isc_dsql_execute, decltype(s.Cursor.isc_dsql_execute){&SeekStatementFailure::Execute});
  SeekStatementFailure::Code = isc_lock_conflict;
  for (bool atPrepare : {false, true}) {
    SCOPED_TRACE(atPrepare ? "prepare" : "execute");
    if (atPrepare) {
      q->Close();
      q->Unprepare();
      q->Open();
    }
    SeekStatementFailure::FailPrepare = atPrepare;
    SeekStatementFailure::FailExecute = !atPrepare;
    SetKey(q, 290);
    const std::string message = testsupport::MessageOf<EIB_ISCError>([&] { q->LocateBufferKey(); });
    SeekStatementFailure::FailPrepare = SeekStatementFailure::FailExecute = false;
    EXPECT_NE(message.find("lock conflict on no wait transaction"), std::string::npos) << message;
    EXPECT_EQ(q->GetNodeList().GetBufferCursor().Row, 0);
    // Nothing of the failed lookup stays: the same key is read afterwards, and fetching does not find it
    // twice.
    SetKey(q, 290);
    EXPECT_TRUE(q->LocateBufferKey());
    EXPECT_EQ(q->GetBufferFields()->ColumnByName("NAME")->GetAsString(), "n290");
    q->Last();
    EXPECT_EQ(q->GetBufferCount(), 300);
  }
  delete q;
}

// A bookmark set from a callback while another one is being sought wins; the older search gives up
// without moving.
TEST_F(BDatasetLocateTest, ANewerSearchOvertakesAnOlderOne) {
  Fill(50);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  TIB_Query* marks = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  marks->Open();
  marks->SetRowNum(40);
  const std::string older = marks->GetBookmark();
  marks->SetRowNum(7);
  const std::string newer = marks->GetBookmark();
  q->SetCallbackInc(0);
  q->Open();
  int runs = 0;
  Application->Post([&] {
    ++runs;
    q->SetBookmark(newer);
  });
  q->SetBookmark(older);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Id(q->GetFields()), 7);
  EXPECT_EQ(q->GetLastKeyText(), newer);
  // Without a newer call the same search arrives.
  q->SetBookmark(older);
  EXPECT_EQ(Id(q->GetFields()), 40);
  // A callback that destroys the dataset ends the search without touching it again.
  Application->Post([&] { FreeAndNil(q); });
  EXPECT_THROW(q->SetBookmark(newer), EAbort);
  EXPECT_EQ(q, nullptr);
  delete marks;
}

}  // namespace
