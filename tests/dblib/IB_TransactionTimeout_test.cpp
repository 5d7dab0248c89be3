// The session timer's checks of a transaction, driven by hand: the monotonic clock is a variable the
// test moves on, and each move lets the session's timer run once.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TransactionTestSupport.h"
#include "dblib/IB_DSQL.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/Forms.h"
#include "support/TestDatabase.h"
#include "support/TestSupport.h"

namespace {

uint64_t gTick = 1'000'000;
uint64_t ReadTick() { return gTick; }
TDateTime gWall = 45000.0;
TDateTime ReadWall() { return gWall; }

class TRecordingLink : public TIB_TransactionLinkIntf {
public:
  explicit TRecordingLink(TLog& Log) : FLog(Log) {}
  void ProcessEvent(uint8_t AEvent) override { FLog.push_back("link" + std::to_string(AEvent)); }
  void TransactionDestroying(TIB_Transaction* T) override { T->RemoveTransactionLink(this); }

private:
  TLog& FLog;
};

class TransactionTimeoutTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetTickSource(&ReadTick);
    Session->SetTimerInterval(1000);
    Conn->SetDatabaseName(Dir.File("timeouts.fdb"));
    Conn->SetCharSet("ISO8859_1");
    Conn->CreateDatabase();
    Tr = NewTransaction(tiCommitted);
    Exec("CREATE TABLE T (ID INTEGER)", false);
    Tr->Commit();
  }
  void TearDown() override {
    for (auto& d : Datasets)
      if (d->Transaction) d->Transaction->RemoveDataset(d.get());
    delete Form;
    SetTickSource(nullptr);
    SetNowSource(nullptr);
  }
  TIB_Transaction* NewTransaction(TIB_Isolation Isolation) {
    auto* t = new TIB_Transaction(Form);
    t->SetIB_Connection(Conn);
    t->SetIsolation(Isolation);
    return t;
  }
  // Runs SQL through a statement of Tr, as the application would.
  void Exec(const std::string& SQL, bool Immediate = true) {
    auto* q = new TIB_DSQL(Form);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    if (Immediate) {
      q->ExecuteImmediate(SQL);
    } else {
      q->GetSQL().SetText(SQL);
      q->Execute();
    }
    delete q;
  }
  // Rows of T committed so far, as another attachment sees them.
  int64_t Committed() {
    testsupport::TestDatabase raw(*RawSession, Conn->GetDatabaseName());
    return std::stoll(raw.QueryRow("SELECT COUNT(*) FROM T").at(0).Text);
  }
  // Moves the monotonic clock on by Units time-out units (and a millisecond) and lets the timer run.
  static void After(double Units) {
    gTick += static_cast<uint64_t>(Units * 86'400'000.0 / IB_TimeoutUnitsPerDay) + 1;
    Application->RunDueTimers();
  }
  TFakeDataset& AddFake(const std::string& Name, TIB_CommitAction Action, bool CursorOpen = true) {
    Datasets.push_back(std::make_unique<TFakeDataset>(Name, Log));
    TFakeDataset& d = *Datasets.back();
    d.Transaction = Tr;
    d.Connection = Conn;
    d.CommitAction = Action;
    d.Buffered = true;
    Tr->AddDataset(&d);
    if (CursorOpen) {
      d.CursorOpen = true;
      Tr->AdjustOpenCursorCount(1);
    }
    return d;
  }

  testsupport::SessionPtr RawSession = testsupport::NewSession();
  testsupport::TempDir Dir;
  TComponent* Form = new TComponent(nullptr);
  TIB_Session* Session = new TIB_Session(Form);
  TIB_Connection* Conn = new TIB_Connection(Form);
  TIB_Transaction* Tr = nullptr;
  std::vector<std::unique_ptr<TFakeDataset>> Datasets;
  TLog Log;
};

// With the defaults an idle read-committed transaction ends on the first tick after 30 units (about
// 29.3 s); a snapshot, or one whose statement changed data, is never ended behind the application.
TEST_F(TransactionTimeoutTest, OnlyIdleReadCommittedTransactionsEndPastAllowCheckOAT) {
  const struct {
    TIB_Isolation Isolation;
    bool Changed;
    bool Ends;
  } cases[] = {{tiCommitted, false, true}, {tiConcurrency, false, false}, {tiCommitted, true, false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << "isolation " << k.Isolation << " changed " << k.Changed);
    Tr->SetIsolation(k.Isolation);
    TRecordingLink link(Log);
    Tr->AfterEnd = [this](TIB_Transaction*) { Log.push_back("AfterEnd"); };
    if (k.Changed)
      Exec("INSERT INTO T VALUES (1)");
    else
      ASSERT_TRUE(Tr->SysStart());
    Tr->AddTransactionLink(&link);
    Log.clear();
    for (uint64_t ms : {29'000, 1'000}) {  // 29.67, then 30.69 units
      EXPECT_TRUE(Tr->GetStarted());
      gTick += ms;
      Application->RunDueTimers();
    }
    EXPECT_EQ(Tr->GetStarted(), !k.Ends);
    EXPECT_EQ(Log, (k.Ends ? TLog{"link13", "AfterEnd", "link16"} : TLog{}));
    // Far later still nothing the application changed has been committed for it.
    After(100000);
    EXPECT_EQ(Committed(), 0);
    EXPECT_EQ(Tr->GetTransactionState(), k.Changed ? tsActive : tsStarted);
    Tr->RemoveTransactionLink(&link);
    Tr->AfterEnd = nullptr;
    Tr->Rollback();
  }
}

TEST_F(TransactionTimeoutTest, WallClockStepsNeitherEndATransactionNorKeepItRunning) {
  SetNowSource(&ReadWall);
  ASSERT_TRUE(Tr->SysStart());
  gWall += 2.0;  // the clock set two days ahead
  After(2);
  EXPECT_TRUE(Tr->GetStarted());
  gWall -= 30.0;  // and a month back
  After(30);
  EXPECT_FALSE(Tr->GetStarted());
}

// An attempt fetches the first closing or fetch-all dataset and lets the OAT check end the transaction
// under it; otherwise it fetches the others within its budget and commits, unless changes are held.
TEST_F(TransactionTimeoutTest, AttemptsFetchOpenCursorsAndCommitOnlyWhenNothingIsHeld) {
  struct TSpec {
    std::string Name;
    TIB_CommitAction Action;
    bool Unidirectional = false;
    int32_t Rows = 0;
    bool ReachesEnd = false;
    uint64_t Takes = 0;  // milliseconds each fetch takes
    bool Editing = false;
  };
  const struct {
    std::vector<TSpec> Datasets;
    TLog Expected;
    bool Ends;
  } cases[] = {
      {{{"U", caClose, true}, {"A", caClose}}, {}, false},
      {{{"A", caClose, false, 0, true}}, {"A.Fetch100"}, true},
      {{{"A", caClose, false, 10, true}}, {}, false},
      {{{"A", caFetchAll, false, 10, true}}, {"A.Fetch100"}, true},
      {{{"A", caRefresh}, {"B", caRefreshKeys, false, 10}}, {"A.Fetch300", "A.Refresh", "B.RefreshKeys"}, true},
      {{{"A", caRefresh, false, 0, false, 300}, {"B", caRefresh, false, 0, false, 300}, {"C", caRefresh}},
       {"A.Fetch300", "B.Fetch300", "A.Refresh", "B.Refresh", "C.Refresh"},
       true},
      {{{"A", caRefresh, false, 0, false, 0, true}}, {"A.Fetch300"}, false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << "first " << k.Datasets[0].Name << " of " << k.Datasets.size());
    TIB_TimeoutProps& p = Tr->GetTimeoutProps();
    p.SetAllowCheckOAT(1);
    p.SetAttempt(2);
    p.SetAttemptTicks(100);
    p.SetAttemptMaxRows(10);
    ASSERT_TRUE(Tr->SysStart());
    for (const TSpec& s : k.Datasets) {
      TFakeDataset& d = AddFake(s.Name, s.Action);
      d.Unidirectional = s.Unidirectional;
      d.Rows = s.Rows;
      d.FetchReachesEnd = s.ReachesEnd;
      d.OnFetch = [t = s.Takes](uint32_t) { gTick += t; };
      if (s.Editing) d.BeginEdit();
    }
    Log.clear();
    After(3);
    EXPECT_EQ(Log, k.Expected);
    EXPECT_EQ(Tr->GetStarted(), !k.Ends);
    Tr->Rollback();
    for (auto& d : Datasets) Tr->RemoveDataset(d.get());
    Datasets.clear();
    Tr->AdjustOpenCursorCount(-100);
  }
}

// The next attempt and the next prompt move on by their retry values; a prompt due beyond 16 bits of
// units comes when it is due, not at the wrapped-round time.
TEST_F(TransactionTimeoutTest, AttemptsAndPromptsComeBackAfterTheirRetry) {
  TIB_TimeoutProps& p = Tr->GetTimeoutProps();
  p.SetAllowCheckOAT(1);
  p.SetAttempt(5);
  p.SetAttemptRetry(5);
  p.SetAttemptTicks(10);
  p.SetPromptUser(70000);
  p.SetPromptUserRetry(60);
  int prompts = 0;
  Tr->OnTimeoutPromptUser = [&](TIB_Transaction*) { ++prompts; };
  ASSERT_TRUE(Tr->SysStart());
  AddFake("A", caRefresh).BeginEdit();
  const struct {
    double Units;
    size_t Attempts;
    int Prompts;
  } steps[] = {{4, 0, 0}, {2, 1, 0}, {3, 1, 0}, {2, 2, 0}, {5000, 3, 0}, {65000, 4, 1}, {30, 5, 1}, {31, 6, 2}};
  for (const auto& s : steps) {
    After(s.Units);
    EXPECT_EQ(Log.size(), s.Attempts) << "after " << s.Units;
    EXPECT_EQ(prompts, s.Prompts) << "after " << s.Units;
  }
  EXPECT_TRUE(Tr->GetStarted());
}

// The prompt asks only about held changes; the answer keeps or undoes them, and a box that nobody
// answers (the headless dialogs) leaves them pending.
TEST_F(TransactionTimeoutTest, ThePromptFollowsTheAnswerAndNobodysAnswerKeepsTheChanges) {
  const struct {
    TModalResult Answer;
    int64_t Committed;
    bool StillActive;
  } cases[] = {{mrYes, 1, false}, {mrNo, 0, false}, {mrCancel, 0, true}, {mrNone, 0, true}};
  for (const auto& k : cases) {
    SCOPED_TRACE(testing::Message() << "answer " << k.Answer);
    Exec("DELETE FROM T");
    Tr->Commit();
    Tr->SetIsolation(tiConcurrency);
    Tr->GetTimeoutProps().SetAllowCheckOAT(0);
    Tr->GetTimeoutProps().SetPromptUser(2);
    Tr->GetTimeoutProps().SetPromptUserRetry(1);
    TAnsweringDialogs dialogs(k.Answer);
    ASSERT_TRUE(Tr->SysStart());
    After(3);
    EXPECT_EQ(dialogs.Asked.size(), 0u);  // nothing held: nothing to ask
    Exec("INSERT INTO T VALUES (1)");
    const int64_t beeps = BeepCount();
    After(3);
    EXPECT_EQ(dialogs.Asked.size(), 1u);
    EXPECT_EQ(BeepCount(), beeps + 1);
    EXPECT_EQ(Committed(), k.Committed);
    EXPECT_EQ(Tr->GetTransactionIsActive(), k.StillActive);
    Tr->Rollback();
  }
}

TEST_F(TransactionTimeoutTest, APromptThatRunsTheApplicationsMessagesStartsNoSecondCheck) {
  Tr->GetTimeoutProps().SetAllowCheckOAT(0);
  Tr->GetTimeoutProps().SetPromptUser(1);
  Tr->SetIsolation(tiConcurrency);
  int checks = 0;
  Tr->OnSessionTimer = [&](TIB_Component*, bool&) { ++checks; };
  TAnsweringDialogs dialogs(mrCancel);
  dialogs.Inside = [this] {
    gTick += 10'000;
    Application->ProcessMessages();
    bool terminate = false;
    Tr->TimeoutCheck(terminate);
  };
  Exec("INSERT INTO T VALUES (1)");
  After(2);
  EXPECT_EQ(dialogs.Asked.size(), 1u);
  EXPECT_EQ(checks, 1);
  After(2);  // the next tick runs as usual
  EXPECT_EQ(checks, 2);
  Tr->Rollback();
}

// ForceClosed closes as Close does: committing under AutoCommit, else rolling back; either way every
// dataset is closed and its buffered rows go.
TEST_F(TransactionTimeoutTest, ForceClosedEndsTheTransactionAsCloseDoes) {
  const struct {
    bool AutoCommit;
    TIB_Isolation Isolation;
    TLog Expected;
  } cases[] = {{false, tiConcurrency, {"A.Cancel", "A.Close"}}, {true, tiCommitted, {"A.Post", "A.Close"}}};
  for (const auto& k : cases) {
    Tr->SetIsolation(k.Isolation);
    Tr->SetAutoCommit(k.AutoCommit);
    Tr->GetTimeoutProps().SetAllowCheckOAT(1);
    Tr->GetTimeoutProps().SetAttempt(0);
    Tr->GetTimeoutProps().SetForceClosed(10);
    ASSERT_TRUE(Tr->SysStart());
    TFakeDataset& d = AddFake("A", caRefresh);
    d.BeginEdit();
    Log.clear();
    After(9);
    EXPECT_TRUE(Tr->GetStarted());
    After(2);
    EXPECT_FALSE(Tr->GetStarted());
    EXPECT_EQ(Log, k.Expected);
    Tr->RemoveDataset(&d);
    Datasets.clear();
    Tr->AdjustOpenCursorCount(-100);
  }
}

// A query fetched to its end by an attempt keeps its rows (and its current row) while the server
// transaction ends under it; a forced close closes it.
TEST_F(TransactionTimeoutTest, AnAttemptLetsAQueryKeepItsRowsAndAForcedCloseClosesIt) {
  Exec(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 300) DO BEGIN INSERT INTO T VALUES (:I); "
      "I = I + 1; END END",
      false);
  Tr->Commit();
  TIB_TimeoutProps& p = Tr->GetTimeoutProps();
  p.SetAllowCheckOAT(1);
  p.SetAttempt(2);
  p.SetForceClosed(10);
  auto* q = new TIB_Query(Form);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT ID FROM T ORDER BY ID");
  q->GetKeyLinks().SetText("ID");
  q->Open();
  q->SetRowNum(2);
  ASSERT_LT(q->GetBufferCount(), 300);
  After(3);
  EXPECT_FALSE(Tr->GetStarted());
  EXPECT_TRUE(q->GetActive());
  EXPECT_EQ(q->GetBufferCount(), 300);
  EXPECT_EQ(q->FieldByName("ID")->GetAsInteger(), 2);
  p.SetAttempt(0);
  q->Refresh();
  ASSERT_TRUE(Tr->GetStarted());
  After(9);
  EXPECT_TRUE(q->GetActive());
  After(2);
  EXPECT_FALSE(Tr->GetStarted());
  EXPECT_FALSE(q->GetActive());
}

TEST_F(TransactionTimeoutTest, ATransactionWhoseCheckFailsLeavesTheOthersChecked) {
  Tr->SetAutoCommit(true);
  Tr->GetTimeoutProps().SetAllowCheckOAT(1);
  Tr->GetTimeoutProps().SetForceClosed(1);
  ASSERT_TRUE(Tr->SysStart());
  TFakeDataset& d = AddFake("A", caClose);
  d.PostFails = true;
  d.BeginEdit();
  TIB_Transaction* idle = NewTransaction(tiCommitted);
  idle->GetTimeoutProps().SetAllowCheckOAT(1);
  ASSERT_TRUE(idle->SysStart());
  testsupport::ExceptionSink sink;
  After(2);
  EXPECT_EQ(sink.Messages, (std::vector<std::string>{"post refused"}));
  EXPECT_TRUE(Tr->GetStarted());
  EXPECT_FALSE(idle->GetStarted());
  d.PostFails = false;
  Tr->Rollback();
}

}  // namespace
