// Brackets that end with code able to fail (deferred events that read a detail again, busy ends that
// call the application): they end on the normal path and their error reaches the caller; a failure
// anywhere never ends the process, and the work already done stays done.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "DatasetTestSupport.h"
#include "dblib/IB_Constants.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_DataSource.h"

namespace {

using datasettest::DatasetDbTest;

class DatasetBracketTest : public DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE TABLE ORD (OID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
    Exec("CREATE TABLE LIN (LID INTEGER NOT NULL PRIMARY KEY, OID INTEGER, PID INTEGER, QTY INTEGER)");
    Tr->Commit();
    Exec("INSERT INTO ORD VALUES (1, 'first')");
    Exec("INSERT INTO ORD VALUES (2, 'second')");
    Exec("INSERT INTO LIN VALUES (11, 1, 7, 5)");
    Exec("INSERT INTO LIN VALUES (12, 1, 8, 4)");
    Exec("INSERT INTO LIN VALUES (21, 2, 7, 2)");
    Tr->Commit();
    Tr->SetIsolation(tiCommitted);  // the other attachment's commits are seen at once
    source = new TIB_DataSource(Owner);
    master = NewQuery("SELECT OID, NAME FROM ORD ORDER BY OID");
    master->SetRequestLive(true);
    source->SetDataset(master);
    detail = NewQuery("SELECT LID, OID, PID, QTY, 100 / QTY AS PER_UNIT FROM LIN ORDER BY LID");
    detail->GetMasterLinks().SetText("OID=ORD.OID");
    detail->SetMasterSource(source);
    master->Open();
    detail->Open();
  }
  // Runs SQL through the second attachment and commits it.
  void ExecSecond(const std::string& SQL) {
    ReadSecond("SELECT 1 FROM RDB$DATABASE", ",");
    auto* other = new TIB_DSQL(Owner);
    other->SetIB_Connection(Conn2);
    other->SetIB_Transaction(Tr2);
    other->GetSQL().SetText(SQL);
    other->Execute();
    Tr2->Commit();
    delete other;
  }
  // The detail after a failed read: no row, at its end, no cursor left open.
  void ExpectDetailShowsNoRow() {
    EXPECT_TRUE(detail->GetEof());
    EXPECT_EQ(rsNone, detail->GetFields()->GetRowState());
    EXPECT_TRUE(detail->FieldByName("LID")->GetIsNull());
    EXPECT_FALSE(detail->GetCursorIsOpen());
  }
  TIB_DataSource* source = nullptr;
  TIB_Query* master = nullptr;
  TIB_Query* detail = nullptr;
};

// The engine's error in the detail's read after the master's post reaches the caller of Post; the
// master's row is written and the dataset in browse.
TEST_F(DatasetBracketTest, ADetailReadFailingAfterTheMastersPostReachesTheCaller) {
  ASSERT_EQ(11, detail->FieldByName("LID")->GetAsInteger());
  ExecSecond("UPDATE LIN SET QTY = 0 WHERE LID = 11");
  master->Edit();
  master->FieldByName("NAME")->SetAsString("changed");
  const std::string message = testsupport::MessageOf<EIB_ISCError>([&] { master->Post(); });
  EXPECT_NE(std::string::npos, message.find("divide by zero")) << message;
  EXPECT_EQ(dssBrowse, master->GetState());
  EXPECT_EQ("changed", master->FieldByName("NAME")->GetAsString());
  ExpectDetailShowsNoRow();
  EXPECT_EQ(0, master->GetSession()->GetBusyLevel());
  // The detail reads again once its rows can be read and the master moves.
  ExecSecond("UPDATE LIN SET QTY = 1 WHERE LID = 11");
  master->Last();
  master->First();
  EXPECT_EQ(11, detail->FieldByName("LID")->GetAsInteger());
  EXPECT_EQ(100, detail->FieldByName("PER_UNIT")->GetAsInteger());
  Tr->Commit();
  EXPECT_EQ("1,changed;2,second", ReadSecond("SELECT OID, NAME FROM ORD ORDER BY OID", ","));
}

// A client call of the detail's read that fails while the master posts an edit or inserts a row
// (a connection lost in between): the master's write stands, the error reaches the caller, the
// detail shows no row and holds no open cursor.
struct FailingDetailCall {
  enum TCall { cExecute, cFetch, cFree };
  // The session's two tables: the general one (a statement's execution) and the fetch path's one.
  static inline TIB_CursorEntries Real{};
  static inline TIB_CursorEntries RealGeneral{};
  static inline TCall Which = cExecute;
  static inline bool Armed = false;
  static inline bool ServerCloses = true;  // false: the request never reached the server
  static bool Hits(TCall Call) { return Armed && Which == Call; }
  static ISC_STATUS Fail(ISC_STATUS* S) {
    Armed = false;
    S[0] = isc_arg_gds;
    S[1] = isc_network_error;
    S[2] = isc_arg_end;
    return isc_network_error;
  }
  template <TIB_CursorEntries* Table>
  static ISC_STATUS Execute(ISC_STATUS* S, isc_tr_handle* T, isc_stmt_handle* H, unsigned short D, const XSQLDA* X) {
    return Hits(cExecute) ? Fail(S) : Table->isc_dsql_execute(S, T, H, D, X);
  }
  template <TIB_CursorEntries* Table>
  static ISC_STATUS Fetch(ISC_STATUS* S, isc_stmt_handle* H, unsigned short D, const XSQLDA* X) {
    return Hits(cFetch) ? Fail(S) : Table->isc_dsql_fetch(S, H, D, X);
  }
  template <TIB_CursorEntries* Table>
  static ISC_STATUS Free(ISC_STATUS* S, isc_stmt_handle* H, unsigned short O) {
    if (!Hits(cFree) || O != DSQL_close) return Table->isc_dsql_free_statement(S, H, O);
    if (ServerCloses) Table->isc_dsql_free_statement(S, H, O);  // the server closes it; the answer is lost
    return Fail(S);
  }
  static void Install(TIB_Session* S) {
    Real = S->Cursor;
    S->Cursor.isc_dsql_execute = &Execute<&Real>;
    S->Cursor.isc_dsql_fetch = &Fetch<&Real>;
    S->Cursor.isc_dsql_free_statement = &Free<&Real>;
    RealGeneral.isc_dsql_execute = std::exchange(S->Entries.isc_dsql_execute, &Execute<&RealGeneral>);
    RealGeneral.isc_dsql_fetch = std::exchange(S->Entries.isc_dsql_fetch, &Fetch<&RealGeneral>);
    RealGeneral.isc_dsql_free_statement = std::exchange(S->Entries.isc_dsql_free_statement, &Free<&RealGeneral>);
  }
  static void Remove(TIB_Session* S) {
    S->Cursor = Real;
    S->Entries.isc_dsql_execute = RealGeneral.isc_dsql_execute;
    S->Entries.isc_dsql_fetch = RealGeneral.isc_dsql_fetch;
    S->Entries.isc_dsql_free_statement = RealGeneral.isc_dsql_free_statement;
  }
};

TEST_F(DatasetBracketTest, ADetailClientCallFailingUnderAMasterPostOrInsertReachesTheCaller) {
  using F = FailingDetailCall;
  TIB_Session* s = detail->GetSession();
  F::Install(s);
  struct Case {
    const char* Name;
    F::TCall Call;
    bool Insert;
  } cases[] = {
      {"fetch at a post", F::cFetch, false},
      {"execute at a post", F::cExecute, false},
      {"close at a post", F::cFree, false},
      {"close at an insert", F::cFree, true},
  };
  int32_t oid = 10;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    master->First();
    if (!detail->GetActive()) detail->Open();  // the commit before left it buffered
    ASSERT_TRUE(detail->GetCursorIsOpen());
    ASSERT_EQ(11, detail->FieldByName("LID")->GetAsInteger());
    F::Which = k.Call;
    // The master's own write passes; the detail's call right after it, or at the insert, fails.
    master->AfterPost = [&](TIB_Dataset*) { F::Armed = !k.Insert; };
    F::Armed = k.Insert;
    int failures = 0;
    auto attempt = [&](const std::function<void()>& Step) {
      try {
        Step();
      } catch (const EIB_ISCError& e) {
        ++failures;
        EXPECT_NE(std::string::npos, std::string(e.what()).find("Unable to complete network request")) << e.what();
      }
    };
    attempt([&] {
      if (k.Insert) {
        master->Insert();
      } else {
        master->Edit();
      }
    });
    ASSERT_EQ(k.Insert ? dssInsert : dssEdit, master->GetState());
    if (k.Insert) master->FieldByName("OID")->SetAsInteger(++oid);
    master->FieldByName("NAME")->SetAsString(k.Name);
    attempt([&] { master->Post(); });
    F::Armed = false;
    master->AfterPost = nullptr;
    EXPECT_EQ(1, failures);
    EXPECT_EQ(dssBrowse, master->GetState());
    EXPECT_EQ(k.Name, master->FieldByName("NAME")->GetAsString());
    ExpectDetailShowsNoRow();
    EXPECT_EQ(0, s->GetBusyLevel());
    // The detail reads again: it follows the next move (a failed fetch leaves it open at its end) or
    // opens again (a failed close or execute left it closed).
    if (!detail->GetActive()) detail->Open();
    master->Last();
    // (A row inserted into the buffer stays where it was typed: order 1 is looked for.)
    for (master->First(); master->FieldByName("OID")->GetAsInteger() != 1; master->Next()) {
    }
    EXPECT_EQ(11, detail->FieldByName("LID")->GetAsInteger());
    Tr->Commit();
    const std::string row = std::to_string(k.Insert ? oid : 1) + "," + k.Name;
    const std::string read = ReadSecond("SELECT OID, NAME FROM ORD ORDER BY OID", ",");
    EXPECT_NE(std::string::npos, read.find(row)) << read;
  }
  F::Remove(s);
}

// A detail whose cursor close fails as its master starts an insert has its cursor closed and freed
// all the same: cancelling the insert reads the detail again, the error reached the caller once.
TEST_F(DatasetBracketTest, AFailedDetailCloseAtAMasterInsertLeavesTheCursorClosed) {
  using F = FailingDetailCall;
  TIB_Session* s = detail->GetSession();
  F::Install(s);
  F::Which = F::cFree;
  F::Armed = true;
  F::ServerCloses = false;
  const std::string message = testsupport::MessageOf<EIB_ISCError>([&] { master->Insert(); });
  EXPECT_NE(std::string::npos, message.find("Unable to complete network request")) << message;
  EXPECT_FALSE(F::Armed);
  F::ServerCloses = true;
  F::Remove(s);
  EXPECT_FALSE(detail->GetCursorIsOpen());
  EXPECT_EQ(0, Tr->GetOpenCursorCount() - (master->GetCursorIsOpen() ? 1 : 0));
  ASSERT_EQ(dssInsert, master->GetState());
  master->Cancel();
  if (!detail->GetActive()) detail->Open();
  EXPECT_EQ(dssBrowse, master->GetState());
  EXPECT_EQ(1, master->FieldByName("OID")->GetAsInteger());
  EXPECT_EQ(11, detail->FieldByName("LID")->GetAsInteger());
  detail->Next();
  EXPECT_EQ(12, detail->FieldByName("LID")->GetAsInteger());
}

// The session's busy end calls the application: a handler that raises there reaches the caller of the
// operation that ended; an operation left by an exception ends its busy bracket without calling it.
TEST_F(DatasetBracketTest, ABusyEndHandlerRunsOnlyOnTheNormalPathAndItsErrorReachesTheCaller) {
  TIB_Session* s = master->GetSession();
  int ends = 0;
  s->OnEndBusy = [&](TObject*) {
    ++ends;
    throw EIB_Error("end refused");
  };
  EXPECT_EQ("end refused", testsupport::MessageOf<EIB_Error>([&] { master->Last(); }));
  EXPECT_EQ(1, ends);
  EXPECT_EQ(0, s->GetBusyLevel());
  EXPECT_EQ(2, master->FieldByName("OID")->GetAsInteger());
  master->BeforeEdit = [](TIB_Dataset*) { throw EIB_Error("edit refused"); };
  EXPECT_EQ("edit refused", testsupport::MessageOf<EIB_Error>([&] { master->Edit(); }));
  EXPECT_EQ(1, ends);
  EXPECT_EQ(0, s->GetBusyLevel());
  EXPECT_EQ(dssBrowse, master->GetState());
  master->BeforeEdit = nullptr;
  s->OnEndBusy = nullptr;
  master->Edit();
  EXPECT_EQ(dssEdit, master->GetState());
  master->Cancel();
}

}  // namespace
