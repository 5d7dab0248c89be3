#include "dblib/IB_Session.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Transaction.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;
using TExceptionSink = testsupport::ExceptionSink;
using TLog = std::vector<std::string>;

int Cursor() { return Screen.GetCursor(); }
void SetCursor(int Value) { Screen.SetCursor(static_cast<TCursor>(Value)); }

// A hand-driven clock for the calling thread's timers.
class TManualClock {
public:
  TManualClock() {
    Application->SetTimerClock([this] { return FNow; });
  }
  ~TManualClock() { Application->SetTimerClock({}); }
  // Moves the clock on by Ms and runs the timers that are due then.
  void Advance(uint64_t Ms, TApplication* App = Application) {
    FNow += Ms;
    App->ProcessMessages();
  }

private:
  uint64_t FNow = 1000000;
};

// Tells when the component it watches is freed.
class TWatcher : public TComponent {
public:
  explicit TWatcher(TComponent* Watched) : TComponent(nullptr), FWatched(Watched) { Watched->FreeNotification(this); }
  bool Freed() const { return FFreed; }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == opRemove && AComponent == FWatched) FFreed = true;
    TComponent::Notification(AComponent, Operation);
  }

private:
  TComponent* FWatched;
  bool FFreed = false;
};

// Joins one registry as the later component classes do, and plays a focus holder (connection,
// transaction, dataset, data source: logs gain and loss, names its peers, runs time-out checks) or a
// link that follows the focus.
class TPlayer : public TIB_Component {
public:
  TPlayer(TComponent* AOwner, std::string AName, TIB_SessionRegistry ARegistry, TLog& ALog)
      : TIB_Component(AOwner), FRegistry(ARegistry), FLog(ALog) {
    SetName(AName);
    JoinSessionRegistry(FRegistry);
  }
  void SetSession(TIB_Session* ASession) override {
    if (ASession == GetBoundSession()) return;
    if (OnLeave && !ASession) OnLeave();
    LeaveSessionRegistry(FRegistry);
    TIB_Component::SetSession(ASession);
    JoinSessionRegistry(FRegistry);
  }
  bool AnnounceFocus = true;
  bool ReceiveFocus = true;
  bool Terminates = false;
  bool Throws = false;
  TIB_Component* Peers[4] = {nullptr, nullptr, nullptr, nullptr};
  std::string DatabaseName;
  std::function<void()> OnLeave, OnCheck;

  bool GetAnnounceFocus() const override { return AnnounceFocus; }
  void DoGainFocus() override { FLog.push_back(GetName() + " gains"); }
  void DoLoseFocus() override { FLog.push_back(GetName() + " loses"); }
  TIB_Component* GetFocusPeer(TIB_FocusRole Role) const override { return Peers[Role]; }
  bool GetReceiveFocus() const override { return ReceiveFocus; }
  void DoReceiveFocus(TIB_Component* AFocused) override {
    FLog.push_back(GetName() + " receives " + (AFocused ? AFocused->GetName() : "nil"));
  }
  const std::string& GetDatabaseName() const { return DatabaseName; }
  void TimeoutCheck(bool& Terminate) override {
    FLog.push_back(GetName() + " checks");
    if (OnCheck) OnCheck();
    if (Throws) throw EIB_Error("check failed");
    if (Terminates) Terminate = true;
  }

private:
  TIB_SessionRegistry FRegistry;
  TLog& FLog;
};

// A form that holds the components placed on it.
TComponent* NewForm() { return new TComponent(nullptr); }

void LogBusyEvents(TIB_Session* S, TLog& Log) {
  auto logged = [&Log](const char* What) {
    return [&Log, What](TObject*) { Log.push_back(What + std::string(" ") + std::to_string(Cursor())); };
  };
  S->OnBeginBusy = logged("begin busy");
  S->OnEndBusy = logged("end busy");
  S->OnBeginYield = logged("begin yield");
  S->OnEndYield = logged("end yield");
}

// Runs Fn on a thread of its own (not the main thread, whose default session the library keeps).
template <class F>
void OnWorker(F&& Fn) {
  std::thread(std::forward<F>(Fn)).join();
}

// ---------------------------------------------------------------------------------------------
// Default sessions and threads

TEST(SessionDefault, EachThreadGetsItsOwnDefaultSession) {
  TIB_Session* sessions[2] = {};
  std::latch bound(2);
  auto run = [&](int I) {
    auto* c = new TIB_Component(nullptr);
    sessions[I] = c->GetSession();
    EXPECT_TRUE(sessions[I]->GetAutoCreated() && sessions[I] == CurrentSession());
    bound.arrive_and_wait();  // both sessions live at once
    delete c;
  };
  std::thread a(run, 0), b(run, 1);
  a.join();
  b.join();
  EXPECT_NE(sessions[0], sessions[1]);
}

TEST(SessionDefault, FreedWithItsLastComponentOrItsThreadAndMadeAgain) {
  TWatcher* unheld = nullptr;
  OnWorker([&] {
    auto* a = new TIB_Component(nullptr);
    auto* b = new TIB_Component(nullptr);
    TIB_Session* s = a->GetSession();
    EXPECT_EQ(b->GetSession(), s);
    TWatcher w(s);
    delete a;
    EXPECT_FALSE(w.Freed());
    delete b;
    EXPECT_TRUE(w.Freed());
    TWatcher again(CurrentSession());
    auto* c = new TIB_Component(nullptr);
    EXPECT_TRUE(c->GetSession()->GetAutoCreated());
    delete c;
    EXPECT_TRUE(again.Freed());
    // One that nothing holds goes with its thread.
    unheld = new TWatcher(CurrentSession());
  });
  EXPECT_TRUE(unheld->Freed());
  delete unheld;
}

TEST(SessionDefault, HeldPastItsThreadItGoesWithItsLastComponentOnAnotherThread) {
  testsupport::TempDir dir;
  TExceptionSink sink;
  TIB_Connection* db = nullptr;
  TIB_Component* other = nullptr;
  TWatcher* watcher = nullptr;
  OnWorker([&] {
    db = new TIB_Connection(nullptr);
    db->SetDatabaseName(dir.File("thread.fdb"));
    db->CreateDatabase();
    other = new TIB_Component(nullptr);
    other->GetSession();
    watcher = new TWatcher(db->GetSession());
  });
  // Its thread has ended: the components are this thread's to use and free.
  EXPECT_TRUE(db->GetConnected());
  db->DropDatabase();
  delete db;
  EXPECT_FALSE(watcher->Freed());
  delete other;
  EXPECT_TRUE(watcher->Freed());
  EXPECT_EQ(sink.Messages, TLog{});
  delete watcher;
}

TEST(SessionDefault, AThreadEndingWhileAnotherFreesItsComponentLeavesNeitherLeakNorDoubleFree) {
  TExceptionSink sink;  // a free that comes before the thread's end is refused and reported: allowed here
  for (int i = 0; i < 50; ++i) {
    std::promise<TIB_Component*> made;
    std::thread t([&] {
      auto* c = new TIB_Component(nullptr);
      c->GetSession();
      made.set_value(c);
    });
    delete made.get_future().get();  // races with the thread's end
    t.join();
  }
}

TEST(SessionDefault, AnotherThreadsRunningDefaultSessionCannotBeReleasedHere) {
  std::promise<TIB_Component*> made;
  std::promise<void> tried;
  TExceptionSink sink;
  std::thread owner([&] {
    auto* c = new TIB_Component(nullptr);
    TIB_Session* s = c->GetSession();
    TWatcher w(s);
    made.set_value(c);
    tried.get_future().wait();
    // Still this thread's default session, alive, unbound from the component.
    EXPECT_FALSE(w.Freed());
    EXPECT_EQ(CurrentSession(), s);
    EXPECT_EQ(s->GetRefCount(), 0);
  });
  TIB_Component* c = made.get_future().get();
  TIB_Session* s = c->GetSession();
  const std::string refused = "The default session of another thread cannot be released here";
  EXPECT_EQ(MessageOf<EIB_Error>([&] { c->SetSession(nullptr); }), refused);
  EXPECT_THROW(FreeDefaultSession(s), EIB_Error);
  // Deleting it here cannot be refused: the error goes to the application and the session survives.
  delete c;
  EXPECT_EQ(sink.Messages, TLog{refused});
  tried.set_value();
  owner.join();
}

TEST(SessionDefault, ComponentsOfOneThreadsSessionRaiseOnAnotherBeforeTheirBracketOpens) {
  auto* form = NewForm();
  auto* session = new TIB_Session(form);
  auto* comp = new TIB_Component(form);
  auto* db = new TIB_Connection(form);
  const std::vector<std::function<void()>> uses = {[&] { comp->BeginBusy(true); }, [&] { db->Connect(); },
                                                   [&] { TIB_BusyBracket busy(comp); }};
  for (const auto& use : uses) {
    std::string message;
    OnWorker([&] { message = MessageOf<EIB_Error>(use); });
    EXPECT_EQ(message,
              "This component's session belongs to another thread: use one session per thread (make the thread's "
              "components on that thread, or give them a TIB_Session made there)");
    EXPECT_EQ(session->GetBusyLevel(), 0);
    EXPECT_EQ(comp->GetBusyDepth() + db->GetBusyDepth(), 0);
  }
  delete form;
}

TEST(SessionDefault, ExplicitSessionIsConsultedFirstAndForgottenWhenFreed) {
  OnWorker([] {
    auto* mine = new TIB_Session(nullptr);
    SetExplicitSession(mine);
    auto* c = new TIB_Component(nullptr);
    EXPECT_EQ(c->GetSession(), mine);
    delete mine;
    // The component heard of the session's end; the slot does not keep the freed session.
    EXPECT_EQ(GetExplicitSession(), nullptr);
    EXPECT_TRUE(c->GetSession()->GetAutoCreated());
    delete c;
  });
}

TEST(SessionDefault, FreeingTheDefaultSessionUnbindsItsComponentsOnce) {
  OnWorker([] {
    TLog log;
    auto* form = NewForm();
    auto* owned = new TPlayer(form, "owned", srConnections, log);
    auto* internal = new TIB_Component(nullptr);
    TIB_Session* s = internal->GetSession();
    owned->SetSession(s);
    internal->BeginBusy(false);
    // Both components leave while the session is destroyed; neither frees it a second time.
    FreeDefaultSession(s);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(owned->GetBusyDepth() + internal->GetBusyDepth(), 0);
    EXPECT_NE(internal->GetSession(), nullptr);
    delete internal;
    delete form;
  });
}

// ---------------------------------------------------------------------------------------------
// Finding the session

TEST(SessionFinding, ComponentsOnAFormOrInsideOneTakeTheFormsSession) {
  TLog log;
  auto* form = NewForm();
  auto* session = new TIB_Session(form);
  auto* c = new TPlayer(form, "c", srStatements, log);
  auto* frame = new TComponent(form);
  auto* inner = new TIB_Component(frame);
  auto* child = new TIB_Component(inner);  // owned by a library component that is not internal
  for (TIB_Component* x : {static_cast<TIB_Component*>(c), inner, child}) {
    EXPECT_FALSE(x->IsInternal());
    EXPECT_EQ(x->GetSession(), session);
  }
  EXPECT_TRUE(session->InRegistry(srStatements, c));
  EXPECT_EQ(session->GetRefCount(), 3);
  delete form;
}

TEST(SessionFinding, ComponentWithoutOwnerIsInternalOutOfTheRegistriesAndTheBusyState) {
  OnWorker([] {
    TLog log;
    auto* c = new TIB_Component(nullptr);
    auto* child = new TPlayer(c, "child", srConnections, log);
    EXPECT_TRUE(c->IsInternal() && child->IsInternal());
    // A bracket binds the default session.
    child->BeginBusy(false);
    TIB_Session* s = child->GetSession();
    EXPECT_EQ(c->GetSession(), s);
    EXPECT_EQ(s->GetRefCount(), 2);
    for (int r = 0; r < IB_SessionRegistryCount; ++r)
      EXPECT_TRUE(s->GetRegistry(static_cast<TIB_SessionRegistry>(r)).empty());
    EXPECT_EQ(child->GetBusyDepth(), 1);
    EXPECT_EQ(s->GetBusyLevel(), 0);
    child->EndBusy();
    delete c;
  });
}

// ---------------------------------------------------------------------------------------------
// Busy brackets

class SessionBusy : public ::testing::Test {
protected:
  void SetUp() override {
    FSavedCursor = Cursor();
    SetCursor(7);
    LogBusyEvents(session, log);
  }
  void TearDown() override {
    delete form;
    SetCursor(FSavedCursor);
  }
  TComponent* form = NewForm();
  TIB_Session* session = new TIB_Session(form);
  TIB_Component* comp = new TIB_Component(form);
  TLog log;

private:
  int FSavedCursor = 0;
};

TEST_F(SessionBusy, OnlyTheOutermostBracketsFireAndChangeTheCursor) {
  // Steps: 'b' a busy bracket opens, 'y' a yielding one, 'e' one ends, 'c' notes the screen cursor.
  const struct {
    bool UseCursor;
    bool Disabled;
    int Start;
    const char* Steps;
    TLog Expected;
    bool Handlers = true;
  } cases[] = {
      // Inner brackets cost nothing visible; a yield inside shows the yield cursor, then the busy one.
      {true,
       false,
       7,
       "bbyceceec",
       {"begin busy 7", "begin yield -17", "c -19", "end yield -17", "c -17", "end busy 7", "c 7"}},
      // A busy cursor already on the screen comes back as the default cursor.
      {true, false, crSQLWait, "bec", {"begin busy -17", "end busy 0", "c 0"}},
      // Without UseCursor, or with the busy cursor disabled, the events fire and the cursor stays.
      {false, false, 7, "byeec", {"begin busy 7", "begin yield 7", "end yield 7", "end busy 7", "c 7"}},
      {true, true, 7, "ycec", {"begin busy 7", "begin yield 7", "c 7", "end yield 7", "end busy 7", "c 7"}},
      // With no handler assigned the cursor changes just the same.
      {false, false, 7, "byceec", {"c 7", "c 7"}, false},
      {true, false, 7, "bbyceceec", {"c -19", "c -17", "c 7"}, false},
      {true, false, crSQLWait, "ycec", {"c -19", "c 0"}, false},
      {true, true, 7, "bcec", {"c 7", "c 7"}, false},
  };
  for (const auto& c : cases) {
    session->SetUseCursor(c.UseCursor);
    if (c.Disabled) session->DisableBusyCursor();
    SetCursor(c.Start);
    if (c.Handlers)
      LogBusyEvents(session, log);
    else
      session->OnBeginBusy = session->OnEndBusy = session->OnBeginYield = session->OnEndYield = nullptr;
    log.clear();
    for (const char* p = c.Steps; *p; ++p) {
      if (*p == 'c') log.push_back("c " + std::to_string(Cursor()));
      if (*p == 'e') comp->EndBusy();
      if (*p == 'b' || *p == 'y') comp->BeginBusy(*p == 'y');
    }
    EXPECT_EQ(log, c.Expected) << c.Steps;
    EXPECT_EQ(session->GetBusyLevel(), 0) << c.Steps;
    EXPECT_EQ(session->GetYieldLevel(), -1) << c.Steps;
    if (c.Disabled) session->EnableBusyCursor();
  }
  // An unbalanced enable keeps the count at 0: the cursor shows again.
  session->EnableBusyCursor();
  comp->BeginBusy(false);
  EXPECT_EQ(Cursor(), crSQLWait);
  comp->EndBusy();
}

TEST_F(SessionBusy, LevelsNeverGoBelowZeroAndAComponentEndsOnlyItsOwnBrackets) {
  session->EndBusy();
  comp->EndBusy();
  EXPECT_EQ(session->GetBusyLevel(), 0);
  EXPECT_EQ(comp->GetBusyDepth(), 0);
  EXPECT_TRUE(log.empty());
  auto* other = new TIB_Component(form);
  comp->BeginBusy(false);
  other->EndBusy();
  EXPECT_EQ(session->GetBusyLevel(), 1);
  comp->EndBusy();
}

TEST_F(SessionBusy, ARaisingHandlerLeavesNoBracketOpenAndTheCursorBack) {
  session->SetUseCursor(true);
  session->OnBeginYield = [](TObject*) { throw Exception("no"); };
  EXPECT_THROW(comp->BeginBusy(true), Exception);
  EXPECT_EQ(session->GetBusyLevel(), 0);
  EXPECT_EQ(session->GetYieldLevel(), -1);
  EXPECT_EQ(comp->GetBusyDepth(), 0);
  session->OnBeginYield = nullptr;
  session->OnEndYield = [](TObject*) { throw Exception("no"); };
  comp->BeginBusy(true);
  EXPECT_THROW(comp->EndBusy(), Exception);
  EXPECT_EQ(session->GetBusyLevel(), 0);
  EXPECT_EQ(Cursor(), 7);
}

TEST_F(SessionBusy, MovingAComponentMovesItsBracketsAsYieldingOnes) {
  comp->BeginBusy(false);
  comp->BeginBusy(false);
  auto* other = new TIB_Session(nullptr);
  TLog otherLog;
  LogBusyEvents(other, otherLog);
  comp->SetSession(other);
  EXPECT_EQ(log, (TLog{"begin busy 7", "end busy 7"}));
  EXPECT_EQ(otherLog, (TLog{"begin busy 7", "begin yield 7"}));
  EXPECT_EQ(other->GetBusyLevel(), 2);
  EXPECT_EQ(other->GetYieldLevel(), 0);
  EXPECT_FALSE(session->InRegistry(srComponents, comp));
  EXPECT_TRUE(other->InRegistry(srComponents, comp));
  comp->EndBusy();
  comp->EndBusy();
  EXPECT_EQ(other->GetBusyLevel(), 0);
  delete other;
  EXPECT_EQ(comp->GetBusyDepth(), 0);
}

// ---------------------------------------------------------------------------------------------
// Focus

class SessionFocus : public ::testing::Test {
protected:
  void TearDown() override { delete form; }
  TPlayer* Player(const char* Name, TIB_SessionRegistry Registry) { return new TPlayer(form, Name, Registry, log); }
  TComponent* form = NewForm();
  TIB_Session* session = new TIB_Session(form);
  TLog log;
};

TEST_F(SessionFocus, ConnectionFocusIsAnnouncedToReceivingLinksInOrder) {
  TPlayer* c1 = Player("c1", srConnections);
  TPlayer* c2 = Player("c2", srConnections);
  Player("l1", srConnectionLinks);
  Player("l2", srConnectionLinks);
  Player("deaf", srConnectionLinks)->ReceiveFocus = false;
  session->SetFocusedConnection<TPlayer>(c1);
  session->SetFocusedConnection<TPlayer>(c1);  // unchanged: nothing
  session->SetFocusedConnection<TPlayer>(c2);
  EXPECT_EQ(log, (TLog{"l1 receives c1", "l2 receives c1", "c1 gains", "c1 loses", "l1 receives c2", "l2 receives c2",
                       "c2 gains"}));
  log.clear();
  c1->AnnounceFocus = false;
  session->SetFocusedConnection<TPlayer>(c1);
  session->SetFocusedConnection<TPlayer>(nullptr);
  EXPECT_EQ(log, (TLog{"c2 loses", "c1 gains", "c1 loses", "l1 receives nil", "l2 receives nil"}));
}

TEST_F(SessionFocus, InternalObjectsNeverTakeTheFocus) {
  auto* internal = new TPlayer(nullptr, "internal", srTransactions, log);
  TPlayer* t = Player("t", srTransactions);
  session->SetFocusedTransaction<TPlayer>(t);
  session->SetFocusedTransaction<TPlayer>(internal);
  EXPECT_EQ(session->GetFocusedTransaction<TPlayer>(), t);
  EXPECT_EQ(log, (TLog{"t gains"}));
  delete internal;
}

TEST_F(SessionFocus, DataSourceBringsItsDatasetConnectionAndTransaction) {
  TPlayer* conn = Player("conn", srConnections);
  TPlayer* tr = Player("tr", srTransactions);
  TPlayer* ds = Player("ds", srDatasets);
  ds->Peers[frConnection] = conn;
  ds->Peers[frTransaction] = tr;
  TPlayer* src = Player("src", srDataSources);
  src->Peers[frDataset] = ds;
  Player("dl", srDataLinks);
  session->SetFocusedDataSource<TPlayer>(src);
  EXPECT_EQ(session->GetFocusedDataset<TPlayer>(), ds);
  EXPECT_EQ(session->GetFocusedConnection<TPlayer>(), conn);
  EXPECT_EQ(session->GetFocusedTransaction<TPlayer>(), tr);
  session->SetFocusedDataSource<TPlayer>(nullptr);
  EXPECT_EQ(session->GetFocusedDataset<TPlayer>(), nullptr);
  EXPECT_EQ(session->GetFocusedConnection<TPlayer>(), nullptr);
  EXPECT_EQ(log, (TLog{"conn gains", "tr gains", "dl receives src", "src gains", "src loses", "conn loses", "tr loses",
                       "dl receives nil"}));
}

TEST_F(SessionFocus, ALeavingComponentLeavesNoFocusOrDefaultBehind) {
  TPlayer* conn = Player("conn", srConnections);
  conn->DatabaseName = "/data/Flights.FDB";
  session->SetDefaultConnection<TPlayer>(conn);
  session->SetFocusedConnection<TPlayer>(conn);
  EXPECT_EQ(session->GetConnectionByDatabaseName<TPlayer>("/DATA/flights.fdb"), conn);
  EXPECT_EQ(session->GetConnectionByDatabaseName<TPlayer>("/data/other.fdb"), nullptr);
  delete conn;
  EXPECT_EQ(session->GetFocusedConnection<TPlayer>(), nullptr);
  EXPECT_EQ(session->GetDefaultConnection<TPlayer>(), nullptr);
  EXPECT_TRUE(session->GetRegistry(srConnections).empty());
}

TEST_F(SessionFocus, ConnectionsAndTransactionsMovingOnGiveUpFocusAndDefaultWithTheirEvents) {
  auto* c1 = new TIB_Connection(form);
  auto* c2 = new TIB_Connection(form);
  auto* tr = new TIB_Transaction(form);
  auto* link = new TIB_ConnectionLink(form);
  link->SetReceiveFocus(true);
  c1->SetAnnounceFocus(true);
  c1->OnLoseFocus = [&](TIB_Connection*) { log.push_back("c1 loses"); };
  tr->OnLoseFocus = [&](TIB_Transaction*) { log.push_back("tr loses"); };
  session->SetFocusedConnection(c1);
  session->SetFocusedTransaction(tr);
  EXPECT_EQ(link->GetIB_Connection(), c1);
  EXPECT_EQ(session->GetDefaultConnection(), c1);  // the first connection that joined
  auto* other = new TIB_Session(form);
  c1->SetSession(other);
  tr->SetSession(other);
  // Their own leaving steps, events and links included; the default is cleared, not passed on.
  EXPECT_EQ(log, (TLog{"c1 loses", "tr loses"}));
  EXPECT_EQ(link->GetIB_Connection(), nullptr);
  EXPECT_EQ(session->GetFocusedConnection(), nullptr);
  EXPECT_EQ(session->GetFocusedTransaction(), nullptr);
  EXPECT_EQ(session->GetDefaultConnection(), nullptr);
  // Joining: the first connection becomes the default, a later one does not replace it.
  EXPECT_EQ(other->GetDefaultConnection(), c1);
  c2->SetSession(other);
  EXPECT_EQ(other->GetDefaultConnection(), c1);
}

// ---------------------------------------------------------------------------------------------
// Timer

class SessionTimer : public ::testing::Test {
protected:
  void SetUp() override {
    session->OnSessionTimer = [this](TObject*) { log.push_back("timer"); };
    session->SetTimerInterval(1000);
  }
  void TearDown() override { delete form; }
  void Tick() { clock.Advance(1000); }
  TManualClock clock;
  TLog log;
  TComponent* form = NewForm();
  TIB_Session* session = new TIB_Session(form);
  TPlayer* t1 = new TPlayer(form, "t1", srTransactions, log);
  TPlayer* t2 = new TPlayer(form, "t2", srTransactions, log);
  const TLog everything{"t1 checks", "t2 checks", "timer"};
};

TEST_F(SessionTimer, TickChecksEveryTransactionThenFiresTheEventUnlessBusyOrTerminated) {
  clock.Advance(999);
  EXPECT_TRUE(log.empty());
  clock.Advance(1);
  EXPECT_EQ(log, everything);
  log.clear();
  auto* c = new TIB_Component(form);
  c->BeginBusy(false);
  Tick();
  EXPECT_TRUE(log.empty());
  c->EndBusy();
  t1->Terminates = true;
  Tick();
  EXPECT_EQ(log, TLog{"t1 checks"});
}

// A failing check is reported once; the other transactions are still checked.
TEST_F(SessionTimer, ExceptionGoesToTheApplicationOnceAndTheTimerRunsOn) {
  TExceptionSink sink;
  t1->Throws = true;
  Tick();
  EXPECT_EQ(log, everything);
  EXPECT_EQ(sink.Messages, TLog{"check failed"});
  EXPECT_FALSE(session->IsBusy());
  t1->Throws = false;
  log.clear();
  Tick();
  EXPECT_EQ(log, everything);
}

TEST_F(SessionTimer, EndBusyInsideATickKeepsTheLevelAtZero) {
  session->OnSessionTimer = [this](TObject*) { session->EndBusy(); };
  Tick();
  auto* c = new TIB_Component(form);
  c->BeginBusy(false);
  EXPECT_EQ(session->GetBusyLevel(), 1);
  c->EndBusy();
}

TEST_F(SessionTimer, IntervalChangedInsideATickTakesEffectAfterIt) {
  session->OnSessionTimer = [this](TObject*) { session->SetTimerInterval(3000); };
  Tick();
  session->OnSessionTimer = nullptr;
  log.clear();
  clock.Advance(2999);
  EXPECT_TRUE(log.empty());
  clock.Advance(1);
  EXPECT_EQ(log, (TLog{"t1 checks", "t2 checks"}));
  session->OnSessionTimer = [this](TObject*) { session->SetTimerInterval(0); };
  clock.Advance(3000);
  log.clear();
  clock.Advance(100000);
  EXPECT_TRUE(log.empty());
}

TEST_F(SessionTimer, TransactionsLeavingDuringATickAreSkipped) {
  new TPlayer(form, "t3", srTransactions, log);
  session->OnSessionTimer = nullptr;
  t1->OnCheck = [this] { delete t2; };
  Tick();
  EXPECT_EQ(log, (TLog{"t1 checks", "t3 checks"}));
}

TEST_F(SessionTimer, ApplicationGoneStopsTheTimerAfterTheTick) {
  TApplication* app = Application;
  Application = nullptr;
  clock.Advance(1000, app);
  Application = app;
  EXPECT_EQ(log, everything);
  EXPECT_EQ(session->GetTimerInterval(), 0u);
  log.clear();
  clock.Advance(5000);
  EXPECT_TRUE(log.empty());
}

TEST_F(SessionTimer, RefusedTimerLeavesTheIntervalAtZero) {
  session->SetTimerInterval(0);
  int before = Application->TimerCount();
  Application->SetMaxTimers(before);
  EXPECT_EQ(MessageOf<EOutOfResources>([&] { session->SetTimerInterval(500); }), "Not enough timers available");
  Application->SetMaxTimers(10000);
  EXPECT_EQ(session->GetTimerInterval(), 0u);
  EXPECT_EQ(Application->TimerCount(), before);
}

TEST_F(SessionTimer, ASessionFreedOutsideOrInsideItsOwnTickLeavesNoTimer) {
  const int timers = Application->TimerCount();
  // From a time-out check: the rest of the walk, the event and the tick's bookkeeping are skipped.
  t1->OnCheck = [this] { delete session; };
  Tick();
  EXPECT_EQ(log, TLog{"t1 checks"});
  EXPECT_EQ(Application->TimerCount(), timers - 1);
  // From the timer event, and from outside any tick.
  auto* other = new TIB_Session(form);
  other->OnSessionTimer = [other](TObject*) { delete other; };
  other->SetTimerInterval(1000);
  auto* third = new TIB_Session(form);
  third->SetTimerInterval(1000);
  Tick();
  delete third;
  EXPECT_EQ(Application->TimerCount(), timers - 1);
  log.clear();
  clock.Advance(5000);
  EXPECT_TRUE(log.empty());
}

// ---------------------------------------------------------------------------------------------
// Session destruction and errors

TEST(SessionLifetime, DestroyedSessionMakesItsComponentsLeaveFirstToLastAndRefusesNewOnes) {
  TLog log;
  auto* form = NewForm();
  auto* session = new TIB_Session(nullptr);
  auto* late = new TIB_Component(form);  // made before the form's components find the session
  TPlayer* players[3];
  for (int i = 0; i < 3; ++i) {
    players[i] = new TPlayer(form, std::string(1, char('a' + i)), srStatements, log);
    players[i]->SetSession(session);
    players[i]->OnLeave = [&log, p = players[i]] { log.push_back(p->GetName() + " leaves"); };
  }
  // a's leaving frees c on the way (the walk skips it) and tries to bind another component.
  players[0]->OnLeave = [&] {
    log.push_back("a leaves");
    delete players[2];
    EXPECT_THROW(late->SetSession(session), EIB_Error);
  };
  delete session;
  EXPECT_EQ(log, (TLog{"a leaves", "c leaves", "b leaves"}));
  players[0]->OnLeave = nullptr;
  delete form;
}

TEST(SessionErrors, FailingComponentHearsFirstAndCanKeepTheSessionQuiet) {
  auto* form = NewForm();
  auto* session = new TIB_Session(form);
  auto* c = new TIB_Component(form);
  TLog log;
  bool suppress = true;
  c->OnError = [&](TObject* Sender, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&,
                   bool& RaiseException) {
    log.push_back(Sender == c ? "component" : "?");
    if (suppress) RaiseException = false;
  };
  session->OnError = [&](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool&) {
    log.push_back("session");
  };
  // A real failing client call: detaching a handle that was never attached.
  isc_db_handle bad = 12345;
  EXPECT_NO_THROW(session->CallChecked(c, session->Entries.isc_detach_database, &bad));
  suppress = false;
  bad = 12345;
  EXPECT_THROW(session->CallChecked(c, session->Entries.isc_detach_database, &bad), EIB_ISCError);
  EXPECT_EQ(log, (TLog{"component", "component", "session"}));
  delete form;
}

// ---------------------------------------------------------------------------------------------
// Module start and end (each in a fresh process)

bool ClientLibraryMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("libfbclient") != std::string::npos) return true;
  return false;
}

TEST(SessionModuleDeathTest, StartsOnFirstUseOnTheMainThreadOnlyAndEndsCleanlyAtExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Nothing loaded the client library before main; a worker's default session starts nothing.
        if (ClientLibraryMapped()) std::_Exit(3);
        int code = 0;
        OnWorker([&] {
          TIB_Session* s = CurrentSession();
          if (s->GetUseCursor() || s->GetTimerInterval() != 0) code = 4;
        });
        if (code) std::_Exit(code);
        TIB_Session* s = CurrentSession();
        if (!s->GetUseCursor() || s->GetTimerInterval() != 5000) std::_Exit(5);
        // Held by the library's own internal component, not by a registry.
        if (s->GetRefCount() != 1 || !s->GetRegistry(srComponents).empty()) std::_Exit(6);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
