#include "dblib/IB_Transaction.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TransactionTestSupport.h"
#include "dblib/IB_Connection.h"
#include "platform/Forms.h"
#include "support/TestDatabase.h"

namespace {

using testsupport::MessageOf;

// ---------------------------------------------------------------------------------------------------
// Test doubles: what links would do, recorded in a shared log (datasets: TransactionTestSupport.h).

class TRecordingLink : public TIB_TransactionLinkIntf {
public:
  explicit TRecordingLink(TLog& Log) : FLog(Log) {}
  void ProcessEvent(uint8_t AEvent) override { FLog.push_back("link" + std::to_string(AEvent)); }
  void TransactionDestroying(TIB_Transaction* ATransaction) override {
    FLog.push_back("destroying");
    ATransaction->RemoveTransactionLink(this);
  }

private:
  TLog& FLog;
};

void LogEvents(TIB_Transaction& T, TLog& Log) {
  auto ev = [&Log](const char* Name) { return [&Log, Name](TIB_Transaction*) { Log.push_back(Name); }; };
  T.BeforeStart = ev("BeforeStart");
  T.AfterStart = ev("AfterStart");
  T.BeforeCommit = ev("BeforeCommit");
  T.AfterCommit = ev("AfterCommit");
  T.BeforeCommitRetaining = ev("BeforeCommitRetaining");
  T.AfterCommitRetaining = ev("AfterCommitRetaining");
  T.BeforeRollback = ev("BeforeRollback");
  T.AfterRollback = ev("AfterRollback");
  T.BeforeRollbackRetaining = ev("BeforeRollbackRetaining");
  T.AfterRollbackRetaining = ev("AfterRollbackRetaining");
  T.BeforeEnd = ev("BeforeEnd");
  T.AfterEnd = ev("AfterEnd");
}

// ---------------------------------------------------------------------------------------------------
// Entry wrappers: count client calls and inject failures.

struct TCallCounts {
  int Start = 0, Commit = 0, CommitRetaining = 0, Rollback = 0;
};
TCallCounts gCalls;
TIB_EntryTable gReal;
int gStartFailures = 0;           // answers isc_conn_lost this many more times
ISC_STATUS gCommitFailure = 0;    // when not 0, every commit (retaining or not) answers it
ISC_STATUS gRollbackFailure = 0;  // when not 0, rollbacks answer it (without calling the server)

ISC_STATUS Fail(ISC_STATUS* Status, ISC_STATUS Code) {
  Status[0] = isc_arg_gds;
  Status[1] = Code;
  Status[2] = isc_arg_end;
  return Code;
}

ISC_STATUS CountingStart(ISC_STATUS* S, isc_tr_handle* H, short N, void* T) {
  ++gCalls.Start;
  if (gStartFailures > 0) {
    --gStartFailures;
    return Fail(S, isc_conn_lost);
  }
  return gReal.isc_start_multiple(S, H, N, T);
}
ISC_STATUS CountingCommit(ISC_STATUS* S, isc_tr_handle* H) {
  ++gCalls.Commit;
  if (gCommitFailure) return Fail(S, gCommitFailure);
  return gReal.isc_commit_transaction(S, H);
}
ISC_STATUS CountingCommitRetaining(ISC_STATUS* S, isc_tr_handle* H) {
  ++gCalls.CommitRetaining;
  if (gCommitFailure) return Fail(S, gCommitFailure);
  return gReal.isc_commit_retaining(S, H);
}
ISC_STATUS CountingRollback(ISC_STATUS* S, isc_tr_handle* H) {
  ++gCalls.Rollback;
  if (gRollbackFailure) return Fail(S, gRollbackFailure);
  return gReal.isc_rollback_transaction(S, H);
}

// A fake millisecond tick that moves on by a step each time it is read.
uint64_t gTick = 0;
uint64_t gTickStep = 0;
uint64_t SteppingTick() { return gTick += gTickStep; }

// ---------------------------------------------------------------------------------------------------
// The fixture: a form with its own session, database files made on demand, and the counting entries.

class TransactionTest : public ::testing::Test {
protected:
  void SetUp() override {
    FForm = new TComponent(nullptr);
    FSession = new TIB_Session(FForm);
    gReal = FSession->Untraced;
    gCalls = {};
    gStartFailures = 0;
    gCommitFailure = 0;
    gRollbackFailure = 0;
    FSession->Entries.isc_start_multiple = &CountingStart;
    FSession->Entries.isc_commit_transaction = &CountingCommit;
    FSession->Entries.isc_commit_retaining = &CountingCommitRetaining;
    FSession->Entries.isc_rollback_transaction = &CountingRollback;
  }
  void TearDown() override {
    gCommitFailure = 0;
    gRollbackFailure = 0;
    delete FForm;
    SetTickSource(nullptr);
  }

  // A new database file with table T1 (ID integer), and a connection to it (not yet attached).
  TIB_Connection* NewDatabase(const std::string& Name = "test.fdb") {
    const std::string path = FDir.File(Name);
    FSession->CreateDatabase(path, "", "", 4096, "ISO8859_1", 3);
    auto raw = RawAttachment(path);
    raw->Execute("CREATE TABLE T1 (ID INTEGER)");
    raw->Commit();
    auto* c = new TIB_Connection(FForm);
    c->SetDatabaseName(path);
    c->SetCharSet("ISO8859_1");
    FPaths.push_back(path);
    return c;
  }
  // A fresh attachment that looks at a database file from outside the components under test; what it did
  // not commit is rolled back when it goes.
  std::unique_ptr<testsupport::TestDatabase> RawAttachment(const std::string& Path) {
    return std::make_unique<testsupport::TestDatabase>(*FRawSession, Path);
  }
  int64_t QueryInt(const std::string& Path, const std::string& SQL) {
    return std::stoll(RawAttachment(Path)->QueryRow(SQL).at(0).Text);
  }
  int64_t CountRows(int Db) { return QueryInt(FPaths[Db], "SELECT COUNT(*) FROM T1"); }
  TIB_Transaction* NewTransaction(TIB_Connection* C = nullptr) {
    auto* t = new TIB_Transaction(FForm);
    t->SetName("Trans" + std::to_string(++FCount));
    if (C) t->SetIB_Connection(C);
    return t;
  }
  // Runs SQL in T (started on demand) on C, as a statement would, and marks the change.
  void Exec(TIB_Transaction* T, TIB_Connection* C, const std::string& SQL, bool Activate = true) {
    ASSERT_TRUE(T->SysStart());
    FSession->CallChecked(T, FSession->Entries.isc_dsql_execute_immediate, C->GetdbHandle(), T->GetPtrHandle(),
                          static_cast<unsigned short>(0), SQL.c_str(), static_cast<unsigned short>(3),
                          static_cast<const XSQLDA*>(nullptr));
    if (Activate) T->Activate();
  }
  // The TPB bytes of T's next start, seen through OnCustomizeTPB.
  std::vector<int> CaptureTPB(TIB_Transaction* T) {
    std::vector<int> bytes;
    T->OnCustomizeTPB = [&bytes](TIB_Transaction*, TIB_Connection*, int32_t& BufInd, std::vector<char>& Buffer) {
      bytes.assign(Buffer.begin(), Buffer.begin() + BufInd);
    };
    T->SysStart();
    T->OnCustomizeTPB = nullptr;
    return bytes;
  }

  testsupport::SessionPtr FRawSession = testsupport::NewSession();
  testsupport::TempDir FDir;
  TComponent* FForm = nullptr;
  TIB_Session* FSession = nullptr;
  std::vector<std::string> FPaths;
  int FCount = 0;
};

// ---------------------------------------------------------------------------------------------------
// The TPB and the TEBs

TEST_F(TransactionTest, TPBBytesForEachIsolationAndOptionStartForReal) {
  TIB_Connection* c = NewDatabase();
  struct TCase {
    TIB_Isolation Isolation;
    bool ReadOnly, RecVersion, LockWait, ServerAutoCommit;
    std::vector<int> Expected;
  };
  const std::vector<TCase> cases = {
      {tiConcurrency, false, true, false, false, {3, 9, 2, 7}},
      {tiConsistency, false, true, false, false, {3, 9, 1, 7}},
      {tiCommitted, false, true, true, false, {3, 9, 15, 17, 6}},
      {tiCommitted, false, false, false, false, {3, 9, 15, 18, 7}},
      {tiConcurrency, true, true, false, false, {3, 8, 2, 7}},
      {tiConcurrency, false, true, true, false, {3, 9, 2, 6}},
      {tiCommitted, false, true, false, true, {3, 9, 15, 17, 7, 16}},
  };
  for (const TCase& k : cases) {
    TIB_Transaction* t = NewTransaction(c);
    t->SetIsolation(k.Isolation);
    t->SetReadOnly(k.ReadOnly);
    t->SetRecVersion(k.RecVersion);
    t->SetLockWait(k.LockWait);
    t->SetServerAutoCommit(k.ServerAutoCommit);
    EXPECT_EQ(CaptureTPB(t), k.Expected);
    EXPECT_TRUE(t->GetStarted());
    EXPECT_EQ(t->GetTransactionState(), tsStarted);
    t->Rollback();
    EXPECT_FALSE(t->GetStarted());
    delete t;
  }
}

TEST_F(TransactionTest, CustomizeTPBGetsARoomyBufferAndItsAdditionsReachTheServer) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  t->SetLockWait(true);
  size_t seenSize = 0;
  t->OnCustomizeTPB = [&](TIB_Transaction*, TIB_Connection* AConnection, int32_t& BufInd, std::vector<char>& Buffer) {
    EXPECT_EQ(AConnection, c);
    seenSize = Buffer.size();
    // isc_tpb_lock_timeout with a 4-byte value of 7 seconds, growing the buffer past its room.
    Buffer.resize(static_cast<size_t>(IB_TPBBufferSize) * 2);
    const char item[] = {static_cast<char>(isc_tpb_lock_timeout), 4, 7, 0, 0, 0};
    std::copy(std::begin(item), std::end(item), Buffer.begin() + BufInd);
    BufInd += static_cast<int32_t>(sizeof item);
  };
  ASSERT_TRUE(t->SysStart());
  EXPECT_GE(seenSize, static_cast<size_t>(IB_TPBBufferSize));
  // Seen from a second attachment; the engine's own (system) attachments run transactions too.
  EXPECT_EQ(QueryInt(FPaths[0],
                     "SELECT T.MON$LOCK_TIMEOUT FROM MON$TRANSACTIONS T JOIN MON$ATTACHMENTS A "
                     "ON A.MON$ATTACHMENT_ID = T.MON$ATTACHMENT_ID "
                     "WHERE A.MON$SYSTEM_FLAG = 0 AND A.MON$ATTACHMENT_ID <> CURRENT_CONNECTION"),
            7);
  t->Rollback();
  // A length that runs past the buffer is refused instead of sending what lies beyond it.
  t->OnCustomizeTPB = [](TIB_Transaction*, TIB_Connection*, int32_t& BufInd, std::vector<char>& Buffer) {
    BufInd = static_cast<int32_t>(Buffer.size()) + 1;
  };
  EXPECT_NE(MessageOf<Exception>([&] { t->SysStart(); }).find("OnCustomizeTPB"), std::string::npos);
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(t->GetTransactionState(), tsInactive);
}

TEST_F(TransactionTest, OneTransactionOverTwoDatabasesRollsBackAndCommitsBoth) {
  TIB_Connection* c1 = NewDatabase("one.fdb");
  TIB_Connection* c2 = NewDatabase("two.fdb");
  TIB_Transaction* t = NewTransaction(c1);
  t->SetIB_Connection1(c2);
  EXPECT_EQ(t->Get_ConnectionCount(), 2);
  std::vector<TIB_Connection*> customized;
  t->OnCustomizeTPB = [&](TIB_Transaction*, TIB_Connection* AConnection, int32_t&, std::vector<char>&) {
    customized.push_back(AConnection);
  };
  Exec(t, c1, "INSERT INTO T1 VALUES (1)");
  Exec(t, c2, "INSERT INTO T1 VALUES (2)");
  EXPECT_EQ(customized, (std::vector<TIB_Connection*>{nullptr, c1, c2}));
  t->Rollback();
  EXPECT_EQ(CountRows(0), 0);
  EXPECT_EQ(CountRows(1), 0);

  Exec(t, c1, "INSERT INTO T1 VALUES (1)");
  Exec(t, c2, "INSERT INTO T1 VALUES (2)");
  t->Commit();
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(CountRows(0), 1);
  EXPECT_EQ(CountRows(1), 1);
}

TEST_F(TransactionTest, ReadOnlyDatabaseStartsReadOnly) {
  TIB_Connection* c = NewDatabase();
  const std::string command = "gfix -mode read_only '" + FPaths[0] + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  TIB_Transaction* t = NewTransaction(c);
  EXPECT_EQ(CaptureTPB(t), (std::vector<int>{3, 8, 2, 7}));
  EXPECT_TRUE(t->GetStarted());
  t->Commit();
}

// ---------------------------------------------------------------------------------------------------
// Settings and start errors

TEST_F(TransactionTest, OptionsCannotChangeWhileStarted) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  ASSERT_TRUE(t->SysStart());
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { t->SetReadOnly(true); }, "Cannot change ReadOnly when started"},
      {[&] { t->SetIsolation(tiCommitted); }, "Cannot change Isolation when started"},
      {[&] { t->SetRecVersion(false); }, "Cannot change RecVersion when started"},
      {[&] { t->SetLockWait(true); }, "Cannot change LockWait when started"},
  };
  for (const auto& [change, message] : cases) EXPECT_EQ(MessageOf<EIB_TransactionError>(change), message);
  EXPECT_FALSE(t->GetReadOnly());
  t->Commit();
  t->SetIsolation(tiCommitted);
}

TEST_F(TransactionTest, StartErrors) {
  TIB_Transaction* t = NewTransaction();
  FSession->SetAllowDefaultConnection(false);
  EXPECT_EQ(MessageOf<Exception>([&] { t->SysStart(); }), "Transaction has no connections");
  EXPECT_EQ(t->GetTransactionState(), tsInactive);

  t->StartTransaction();
  EXPECT_EQ(MessageOf<Exception>([&] { t->StartTransaction(); }), "Transaction has already been started");
  t->Rollback();
  EXPECT_FALSE(t->GetExplicitStart());

  TIB_Transaction* s = NewTransaction();
  s->SetServerAutoCommit(true);
  EXPECT_EQ(MessageOf<Exception>([&] { s->StartTransaction(); }), "Explicit trans. not allowed with ServerAutoCommit");

  // While the start is under way the transaction cannot be made active.
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* u = NewTransaction(c);
  std::string during;
  u->BeforeStart = [&](TIB_Transaction* T) { during = MessageOf<Exception>([&] { T->Activate(); }); };
  ASSERT_TRUE(u->SysStart());
  EXPECT_EQ(during, "Invalid transaction state. Cannot activate");
  u->Commit();
}

TEST_F(TransactionTest, StartRetriesWithPausesWithinItsTimeBound) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  gTick = 0;
  gTickStep = 100;
  SetTickSource(&SteppingTick);
  gStartFailures = 3;
  ASSERT_TRUE(t->SysStart());
  EXPECT_EQ(gCalls.Start, 4);
  t->Commit();

  // A server that keeps answering so is given up on after 2000 ms, with its error.
  gCalls = {};
  gTickStep = 500;
  gStartFailures = 1000;
  try {
    t->SysStart();
    FAIL() << "the start did not give up";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE, isc_conn_lost);
  }
  EXPECT_GE(gCalls.Start, 2);
  EXPECT_LE(gCalls.Start, 5);
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(t->GetTransactionState(), tsInactive);
}

// ---------------------------------------------------------------------------------------------------
// Ends

TEST_F(TransactionTest, IdleEndsMakeNoClientCall) {
  TIB_Transaction* t = NewTransaction(NewDatabase());
  TLog log;
  TRecordingLink link(log);
  t->AddTransactionLink(&link);
  t->Commit();
  t->Rollback();
  t->CommitRetaining();
  t->RollbackRetaining();
  t->Close();
  EXPECT_EQ(gCalls.Start + gCalls.Commit + gCalls.CommitRetaining + gCalls.Rollback, 0);
  EXPECT_EQ(log, (TLog{"link16", "link16", "link16", "link16"}));
  t->RemoveTransactionLink(&link);
}

TEST_F(TransactionTest, CommitWithPendingWorkRunsEventsAndLinkCodesInOrder) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  TLog log;
  TRecordingLink link(log);
  t->AddTransactionLink(&link);
  TFakeDataset ds("DS", log);
  ds.Transaction = t;
  ds.CommitAction = caRefresh;
  t->AddDataset(&ds);
  LogEvents(*t, log);

  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  ds.BeginEdit();
  EXPECT_EQ(t->GetTransactionState(), tsActive);
  EXPECT_TRUE(t->GetTransactionIsActive());
  log.clear();
  t->Commit();
  EXPECT_EQ(log, (TLog{"BeforeEnd", "link12", "BeforeCommit", "link4", "DS.Post", "DS.Refresh", "link5", "link16",
                       "AfterCommit", "link13", "AfterEnd", "link16"}));
  EXPECT_EQ(gCalls.Commit, 1);
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(t->GetTransactionState(), tsInactive);
  EXPECT_EQ(CountRows(0), 1);
  t->RemoveDataset(&ds);
  t->RemoveTransactionLink(&link);
}

TEST_F(TransactionTest, DatasetsFollowTheirCommitActionAndOneFailureDoesNotStopThePass) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  TLog log;
  TFakeDataset closing("Closing", log), refreshed("Refreshed", log), cursor("Cursor", log), fetched("Fetched", log);
  closing.CommitAction = caClose;
  refreshed.CommitAction = caRefresh;
  refreshed.RefreshFails = true;
  cursor.CommitAction = caRefresh;
  cursor.Unidirectional = true;
  fetched.CommitAction = caFetchAll;
  for (TFakeDataset* d : {&refreshed, &closing, &cursor, &fetched}) t->AddDataset(d);
  testsupport::ExceptionSink sink;
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  t->Commit();
  EXPECT_EQ(log, (TLog{"Closing.Close", "Cursor.Close", "Fetched.FetchAll", "Refreshed.Refresh"}));
  EXPECT_EQ(sink.Messages, (std::vector<std::string>{"refresh failed"}));
  for (TFakeDataset* d : {&refreshed, &closing, &cursor, &fetched}) t->RemoveDataset(d);
}

TEST_F(TransactionTest, ClosingClosesEveryDatasetBeforeTheEndWhateverItsCommitAction) {
  TIB_Connection* c = NewDatabase();
  for (bool autoCommit : {false, true}) {
    TIB_Transaction* t = NewTransaction(c);
    t->SetAutoCommit(autoCommit);
    TLog log;
    TFakeDataset refreshed("Refreshed", log), fetched("Fetched", log), editing("Editing", log);
    refreshed.CommitAction = caRefresh;
    fetched.CommitAction = caFetchAll;
    editing.CommitAction = caRefreshKeys;
    editing.Transaction = t;
    for (TFakeDataset* d : {&refreshed, &fetched, &editing}) t->AddDataset(d);
    t->StartTransaction();
    Exec(t, c, "INSERT INTO T1 VALUES (1)");
    editing.BeginEdit();
    t->Close();
    EXPECT_EQ(log, (TLog{autoCommit ? "Editing.Post" : "Editing.Cancel", "Refreshed.Close", "Fetched.Close",
                         "Editing.Close"}));
    EXPECT_FALSE(t->GetStarted());
    EXPECT_EQ(CountRows(0), autoCommit ? 1 : 0);
    for (TFakeDataset* d : {&refreshed, &fetched, &editing}) t->RemoveDataset(d);
  }
}

TEST_F(TransactionTest, FailedCommitLeavesNoEndInProgressAndRollbackStillWorks) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  // Another attachment uses the table, so the DROP cannot be committed.
  auto other = RawAttachment(FPaths[0]);
  other->Prepare("SELECT * FROM T1");
  Exec(t, c, "DROP TABLE T1");
  EXPECT_THROW(t->Commit(), EIB_ISCError);
  EXPECT_EQ(gCalls.Commit, 2);  // tried once more after the connection dropped its cached handles
  EXPECT_TRUE(t->GetStarted());
  EXPECT_EQ(t->GetTransactionState(), tsActive);
  EXPECT_TRUE(t->GetTimeoutProps().GetCommitFailed());
  t->Rollback();
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(t->GetTransactionState(), tsInactive);
}

TEST_F(TransactionTest, FailuresInTheRetainingFormsLeaveNoEndInProgress) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  gCommitFailure = isc_lock_conflict;
  EXPECT_THROW(t->CommitRetaining(), EIB_ISCError);
  EXPECT_EQ(t->GetTransactionState(), tsActive);
  gCommitFailure = 0;

  // A dataset that refuses to post stops the end before the server is asked.
  TLog log;
  TFakeDataset ds("DS", log);
  ds.Transaction = t;
  ds.PostFails = true;
  t->AddDataset(&ds);
  ds.BeginEdit();
  EXPECT_EQ(MessageOf<Exception>([&] { t->CommitRetaining(); }), "post refused");
  EXPECT_EQ(t->GetTransactionState(), tsActive);
  EXPECT_EQ(MessageOf<Exception>([&] { t->Commit(); }), "post refused");
  EXPECT_EQ(t->GetTransactionState(), tsActive);
  EXPECT_TRUE(t->GetStarted());

  // A rollback the server refuses for another reason is reported, and the handle kept for another try.
  gRollbackFailure = isc_lock_conflict;
  EXPECT_THROW(t->RollbackRetaining(), EIB_ISCError);
  EXPECT_TRUE(t->GetStarted());
  EXPECT_EQ(t->GetTransactionState(), tsActive);
  EXPECT_THROW(t->Rollback(), EIB_ISCError);
  EXPECT_TRUE(t->GetStarted());
  gRollbackFailure = 0;
  t->Rollback();
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(ds.Modifying, false);
  EXPECT_EQ(CountRows(0), 0);
  t->RemoveDataset(&ds);
}

TEST_F(TransactionTest, RollbackOverALostConnectionClearsTheHandleQuietly) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  ASSERT_TRUE(t->SysStart());
  isc_tr_handle real = t->GetTrHandle();
  gRollbackFailure = isc_net_read_err;
  t->Rollback();
  EXPECT_FALSE(t->GetStarted());
  EXPECT_TRUE(t->GetConnectionLost());
  EXPECT_TRUE(c->GetConnectionWasLost());
  gRollbackFailure = 0;
  // The server transaction and the attachment are still there: end them through the client so the test
  // leaves nothing behind.
  TIB_SessionBase::CallScratch(gReal.isc_rollback_transaction, &real);
  TIB_SessionBase::CallScratch(gReal.isc_detach_database, c->GetdbHandle());
}

TEST_F(TransactionTest, ATransactionTheServerNoLongerKnowsLetsGoOfItsHandle) {
  TIB_Connection* c = NewDatabase();
  for (bool committing : {false, true}) {
    TIB_Transaction* t = NewTransaction(c);
    Exec(t, c, "INSERT INTO T1 VALUES (1)");
    // Ended behind the component's back (as a ROLLBACK statement text does): its handle is stale.
    isc_tr_handle copy = t->GetTrHandle();
    TIB_SessionBase::CallScratch(gReal.isc_rollback_transaction, &copy);
    if (committing) {
      // The work is gone: the commit says so, once.
      EXPECT_NE(MessageOf<EIB_ISCError>([&] { t->Commit(); }).find("invalid transaction handle"), std::string::npos);
    } else {
      EXPECT_NO_THROW(t->Rollback());
    }
    EXPECT_FALSE(t->GetStarted());
    EXPECT_EQ(t->GetTransactionState(), tsInactive);
    EXPECT_NO_THROW(t->Close());
    Exec(t, c, "INSERT INTO T1 VALUES (2)");
    t->Commit();
  }
  EXPECT_EQ(CountRows(0), 2);
}

TEST_F(TransactionTest, EachConnectionCountsItsStartedTransactions) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* a = NewTransaction(c);
  TIB_Transaction* b = NewTransaction(c);
  EXPECT_EQ(c->GetStartedTransactionCount(), 0);
  ASSERT_TRUE(a->SysStart());
  ASSERT_TRUE(b->SysStart());
  EXPECT_EQ(c->GetStartedTransactionCount(), 2);
  a->Commit();
  EXPECT_EQ(c->GetStartedTransactionCount(), 1);
  b->CommitRetaining();
  EXPECT_EQ(c->GetStartedTransactionCount(), 1);
  b->Rollback();
  EXPECT_EQ(c->GetStartedTransactionCount(), 0);
}

TEST_F(TransactionTest, DMLNoticesReachTheConnectionAndOtherReadCommittedTransactionsWhenVisible) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  auto* other = new TIB_TransactionDefault(FForm);
  other->SetIB_Connection(c);
  TIB_Transaction* snapshot = NewTransaction(c);
  TLog log;
  TFakeDataset origin("Origin", log), receiver("Receiver", log), sleeper("Snapshot", log);
  origin.Connection = receiver.Connection = sleeper.Connection = c;
  receiver.Flags = sleeper.Flags = IB_DMLCacheFlag(dcfReceiveInsert);
  t->AddDataset(&origin);
  other->AddDataset(&receiver);
  snapshot->AddDataset(&sleeper);
  c->OnReceiveDMLCache = [&](TIB_Connection* Sender, const TIB_DMLCacheItem& Item) {
    EXPECT_EQ(Sender, c);
    log.push_back("Connection.DML" + std::to_string(Item.GetDMLCacheItemType()) + ":" + Item.GetKeyFieldNames());
  };

  // Without an originator the notice goes out at once, on the transaction's connection.
  t->AddDMLCacheItem(nullptr, "ID", Variant(int32_t{7}), ditInsert);
  EXPECT_EQ(log, (TLog{"Connection.DML1:ID", "Receiver.DML1:ID"}));
  EXPECT_EQ(t->GetDMLCache().GetCount(), 0);
  log.clear();

  // With one it waits until the commit made it visible: after the closing dataset pass. (Undone
  // changes reaching nobody: IB_DMLCache_test.cpp.)
  Exec(t, c, "INSERT INTO T1 VALUES (2)");
  t->AddDMLCacheItem(&origin, "ID", Variant(int32_t{2}), ditInsert);
  EXPECT_EQ(log, TLog{});
  t->Commit();
  EXPECT_EQ(log, (TLog{"Origin.Close", "Connection.DML1:ID", "Receiver.DML1:ID"}));
  t->RemoveDataset(&origin);
  other->RemoveDataset(&receiver);
  snapshot->RemoveDataset(&sleeper);
}

// ---------------------------------------------------------------------------------------------------
// AutoCommit

TEST_F(TransactionTest, AutoCommitSavesEachChangeAndEndsOldTransactions) {
  TIB_Connection* c = NewDatabase();
  SetTickSource(&SteppingTick);
  gTickStep = 0;
  auto* t = new TIB_TransactionDefault(FForm);
  t->SetIB_Connection(c);
  TLog log;
  LogEvents(*t, log);
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  EXPECT_EQ(t->GetTransactionState(), tsStarted);
  EXPECT_TRUE(t->GetStarted());
  EXPECT_EQ(gCalls.CommitRetaining, 1);
  EXPECT_EQ(CountRows(0), 1);

  // Past AllowCheckOAT the savepoint ends the transaction instead of retaining it.
  log.clear();
  gTick += 31ull * 86'400'000 / 88'400;
  Exec(t, c, "INSERT INTO T1 VALUES (2)");
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(gCalls.Commit, 1);
  EXPECT_EQ(log, (TLog{"AfterEnd"}));
  EXPECT_EQ(CountRows(0), 2);

  // An explicitly started transaction keeps its changes until it is told.
  t->StartTransaction();
  Exec(t, c, "INSERT INTO T1 VALUES (3)");
  EXPECT_EQ(t->GetTransactionState(), tsActive);
  t->Rollback();
  EXPECT_EQ(CountRows(0), 2);
}

TEST_F(TransactionTest, DestructionUnderAutoCommitNeverThrows) {
  TIB_Connection* c = NewDatabase();
  auto* t = new TIB_TransactionDefault(FForm);
  t->SetIB_Connection(c);
  t->SetAutoCommit(false);
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  t->SetAutoCommit(true);  // saves at once
  EXPECT_EQ(CountRows(0), 1);
  t->StartTransaction();
  Exec(t, c, "INSERT INTO T1 VALUES (2)");
  TLog log;
  TRecordingLink link(log);
  t->AddTransactionLink(&link);
  testsupport::ExceptionSink sink;
  gCommitFailure = isc_lock_conflict;
  EXPECT_NO_THROW(delete t);
  gCommitFailure = 0;
  EXPECT_EQ(sink.Messages.size(), 1u);
  EXPECT_EQ(log.back(), "destroying");
  EXPECT_EQ(CountRows(0), 1);
}

TEST_F(TransactionTest, AConnectionGoingFirstClosesAndLeavesTheTransaction) {
  TIB_Transaction* t = NewTransaction();
  TIB_Connection* c = NewDatabase();
  t->SetIB_Connection(c);
  EXPECT_EQ(c->Get_TransactionCount(), 1);
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  delete c;
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(t->Get_ConnectionCount(), 0);
  EXPECT_EQ(t->GetTransactionState(), tsInactive);
  EXPECT_EQ(CountRows(0), 0);
}

// ---------------------------------------------------------------------------------------------------
// Close with confirmation, post and cancel, cached updates

TEST_F(TransactionTest, CloseWithConfirmFollowsTheAnswer) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  {
    TAnsweringDialogs dialogs(mrCancel);
    Exec(t, c, "INSERT INTO T1 VALUES (1)");
    EXPECT_EQ(t->CloseWithConfirm(), mrCancel);
    EXPECT_EQ(dialogs.Asked, (std::vector<std::string>{"Save changes?"}));
    EXPECT_TRUE(dialogs.AllThree);
    EXPECT_EQ(t->GetTransactionState(), tsActive);
  }
  {
    TAnsweringDialogs dialogs(mrNo);
    EXPECT_EQ(t->CloseWithConfirm(), mrOk);
    EXPECT_TRUE(t->GetStarted());
    EXPECT_EQ(CountRows(0), 0);
  }
  {
    TAnsweringDialogs dialogs(mrYes);
    t->GetConfirmClosePrompt().SetText("Keep the new flight plan?");
    Exec(t, c, "INSERT INTO T1 VALUES (2)");
    EXPECT_EQ(t->CloseWithConfirm(), mrOk);
    EXPECT_EQ(dialogs.Asked, (std::vector<std::string>{"Keep the new flight plan?"}));
    EXPECT_EQ(t->GetTransactionState(), tsStarted);
    EXPECT_EQ(CountRows(0), 1);
  }
  t->Commit();
}

TEST_F(TransactionTest, PostAllAndCancelAllReportDatasetsLeftPending) {
  TIB_Transaction* t = NewTransaction();
  TLog log;
  TFakeDataset ds("DS", log);
  ds.Transaction = t;
  ds.PostIsIgnored = true;
  t->AddDataset(&ds);
  ds.BeginEdit();
  EXPECT_EQ(t->GetTransactionState(), tsPending);
  EXPECT_EQ(MessageOf<Exception>([&] { t->PostAll(); }), "Failed to post all datasets");
  t->CancelAll();
  EXPECT_FALSE(ds.Modifying);
  EXPECT_EQ(t->GetTransactionState(), tsStarted);
  t->RemoveDataset(&ds);
}

TEST_F(TransactionTest, ApplyUpdatesKeepsAnExplicitStartAndChecksOwnership) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  TLog log;
  TFakeDataset mine("Mine", log), stranger("Stranger", log);
  mine.Buffered = stranger.Buffered = true;
  mine.Active = false;
  t->AddDataset(&mine);
  EXPECT_EQ(MessageOf<Exception>([&] { t->ApplyUpdates({&stranger}); }),
            "Cannot update, Stranger is not owned by " + t->GetName());
  EXPECT_TRUE(log.empty());

  EXPECT_EQ(MessageOf<Exception>([&] { t->CancelUpdates({&stranger}); }),
            "Cannot update, Stranger is not owned by " + t->GetName());
  EXPECT_TRUE(log.empty());

  t->StartTransaction();
  t->ApplyUpdates();
  EXPECT_EQ(log, (TLog{"Mine.ApplyUpdates", "Mine.CommitUpdates"}));
  EXPECT_FALSE(t->GetExplicitStart());

  // Cancelling takes the given datasets, or every buffered one of the transaction.
  TFakeDataset plain("Plain", log);
  t->AddDataset(&plain);
  log.clear();
  t->CancelUpdates();
  t->CancelUpdates({&mine});
  EXPECT_EQ(log, (TLog{"Mine.CancelUpdates", "Mine.CancelUpdates"}));
  t->RemoveDataset(&plain);

  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  EXPECT_EQ(MessageOf<Exception>([&] { t->ApplyUpdates(); }), "Transaction has pending changes");
  t->Rollback();
  t->RemoveDataset(&mine);
}

// ---------------------------------------------------------------------------------------------------
// State machine

TEST_F(TransactionTest, PendingCountsMoveTheStateAndWatchersGetTheirCodes) {
  TIB_Transaction* t = NewTransaction();
  TLog log;
  TRecordingLink link(log);
  t->AddTransactionLink(&link);
  t->AdjustPostPendingCount(1);
  t->AdjustPostPendingCount(-1);
  EXPECT_EQ(log, (TLog{"link16", "link16"}));
  EXPECT_EQ(t->GetTransactionState(), tsStarted);
  log.clear();
  t->IncPostPendingWatchers();
  t->IncUpdatesPendingWatchers();
  t->AdjustUpdatesPendingCount(1);
  t->AdjustPostPendingCount(1);
  EXPECT_EQ(log, (TLog{"link16", "link15", "link14"}));
  EXPECT_EQ(t->GetTransactionState(), tsPending);
  EXPECT_TRUE(t->GetTransactionIsActive());
  t->RemoveTransactionLink(&link);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// A connection that detaches although something before it failed

namespace {

// True while the client library still knows the attachment handle H.
bool ClientKnowsAttachment(TIB_SessionBase* S, isc_db_handle H) {
  const char items[] = {isc_info_page_size, isc_info_end};
  char reply[32] = {};
  ISC_STATUS_ARRAY status{};
  S->Untraced.isc_database_info(status, &H, static_cast<short>(sizeof items), items, static_cast<short>(sizeof reply),
                                reply);
  return status[1] != isc_bad_db_handle;
}

}  // namespace

TEST_F(TransactionTest, AFailureBeforeDetachingStillReleasesTransactionsAndStatementHandles) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  isc_stmt_handle h = 0;
  c->AcquireStatementHandle(h);
  c->ReleaseStatementHandle(h);
  ASSERT_EQ(c->GetStatementHandleCacheCount(), 1);
  c->BeforeDisconnect = [](TIB_Connection*) { throw Exception("handler failed"); };
  EXPECT_EQ(MessageOf<Exception>([&] { c->Disconnect(); }), "handler failed");
  EXPECT_FALSE(c->GetConnected());
  // Nothing survives the attachment: no transaction handle, no cached statement handle.
  EXPECT_FALSE(t->GetStarted());
  EXPECT_EQ(t->GetTransactionState(), tsInactive);
  EXPECT_EQ(c->GetStatementHandleCacheCount(), 0);
  EXPECT_EQ(CountRows(0), 0);
  // Both work again after the next attach.
  c->BeforeDisconnect = nullptr;
  Exec(t, c, "INSERT INTO T1 VALUES (2)");
  t->Commit();
  EXPECT_EQ(CountRows(0), 1);
}

TEST_F(TransactionTest, ACommitRefusedWhileDetachingStillLetsGoOfTheServerTransaction) {
  TIB_Connection* c = NewDatabase();
  auto* t = new TIB_TransactionDefault(FForm);
  t->SetIB_Connection(c);
  t->StartTransaction();
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  testsupport::ExceptionSink sink;
  gCommitFailure = isc_lock_conflict;
  EXPECT_THROW(c->Disconnect(), EIB_ISCError);
  gCommitFailure = 0;
  EXPECT_FALSE(c->GetConnected());
  EXPECT_FALSE(t->GetStarted());
  EXPECT_NE(t->GetTransactionState(), tsActive);
  EXPECT_EQ(CountRows(0), 0);
  t->StartTransaction();
  Exec(t, c, "INSERT INTO T1 VALUES (2)");
  t->Commit();
  EXPECT_EQ(CountRows(0), 1);
}

TEST_F(TransactionTest, ALostConnectionFreesTheClientsHandles) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  const isc_db_handle db = *c->GetdbHandle();
  {
    auto killer = RawAttachment(FPaths[0]);
    killer->Execute("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION");
    killer->Commit();
  }
  c->CheckConnection();
  ASSERT_TRUE(c->GetConnectionWasLost());
  EXPECT_TRUE(t->GetConnectionLost());
  c->Disconnect();
  EXPECT_FALSE(t->GetStarted());
  EXPECT_FALSE(ClientKnowsAttachment(FSession, db));
}

TEST_F(TransactionTest, AStartOrCommitWhoseErrorAHandlerSuppressedChangesNothing) {
  TIB_Connection* c = NewDatabase();
  TIB_Transaction* t = NewTransaction(c);
  TLog log;
  LogEvents(*t, log);
  FSession->OnError = [](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool& Raise) {
    Raise = false;
  };
  gTickStep = 500;
  SetTickSource(&SteppingTick);
  gStartFailures = 1000;
  EXPECT_FALSE(t->SysStart());
  gStartFailures = 0;
  EXPECT_EQ(t->GetTransactionState(), tsInactive);
  EXPECT_EQ(log, (TLog{"BeforeStart"}));
  // A commit refused so keeps the work pending.
  Exec(t, c, "INSERT INTO T1 VALUES (1)");
  log.clear();
  gCommitFailure = isc_lock_conflict;
  t->Commit();
  t->CommitRetaining();
  gCommitFailure = 0;
  FSession->OnError = nullptr;
  EXPECT_TRUE(t->GetStarted());
  EXPECT_EQ(t->GetTransactionState(), tsActive);
  EXPECT_EQ(log, (TLog{"BeforeEnd", "BeforeCommit", "BeforeCommitRetaining"}));
  t->Commit();
  EXPECT_EQ(CountRows(0), 1);
}
