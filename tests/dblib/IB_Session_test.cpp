#include "dblib/IB_Session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

using TLog = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Platform helpers

int Cursor() { return Screen.GetCursor(); }
void SetCursor(int Value) { Screen.SetCursor(static_cast<TCursor>(Value)); }

// Collects what reaches the application's exception sink while it lives.
class TExceptionSink {
public:
  TExceptionSink() {
    Application->OnException = [this](const std::exception& E) { Messages.push_back(E.what()); };
  }
  ~TExceptionSink() { Application->OnException = nullptr; }
  std::vector<std::string> Messages;
};

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

// ---------------------------------------------------------------------------------------------
// Test components

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

// A component that logs its session changes and joins one registry, as the later classes do.
class TRegistered : public TIB_Component {
public:
  TRegistered(TComponent* AOwner, std::string AName, TIB_SessionRegistry ARegistry, TLog* ALog = nullptr)
      : TIB_Component(AOwner), FRegistry(ARegistry), FLog(ALog) {
    SetName(AName);
    JoinSessionRegistry(FRegistry);
  }
  void SetSession(TIB_Session* ASession) override {
    if (ASession == GetBoundSession()) return;
    if (FLog) FLog->push_back(GetName() + (ASession ? " joins" : " leaves"));
    if (OnLeave && !ASession) OnLeave();
    LeaveSessionRegistry(FRegistry);
    TIB_Component::SetSession(ASession);
    JoinSessionRegistry(FRegistry);
  }
  std::function<void()> OnLeave;

private:
  TIB_SessionRegistry FRegistry;
  TLog* FLog;
};

// Plays a connection, transaction or data source in the focus protocol.
class TFocusHolder : public TRegistered {
public:
  TFocusHolder(TComponent* AOwner, std::string AName, TIB_SessionRegistry ARegistry, TLog& ALog)
      : TRegistered(AOwner, AName, ARegistry), FLog2(ALog) {}
  bool AnnounceFocus = true;
  TIB_Component* Peers[4] = {nullptr, nullptr, nullptr, nullptr};
  std::string DatabaseName;
  bool Terminates = false;
  bool Throws = false;
  std::function<void()> OnCheck;

  bool GetAnnounceFocus() const override { return AnnounceFocus; }
  void DoGainFocus() override { FLog2.push_back(GetName() + " gains"); }
  void DoLoseFocus() override { FLog2.push_back(GetName() + " loses"); }
  TIB_Component* GetFocusPeer(TIB_FocusRole Role) const override { return Peers[Role]; }
  const std::string& GetDatabaseName() const { return DatabaseName; }
  void TimeoutCheck(bool& Terminate) override {
    FLog2.push_back(GetName() + " checks");
    if (OnCheck) OnCheck();
    if (Throws) throw EIB_Error("check failed");
    if (Terminates) Terminate = true;
  }

private:
  TLog& FLog2;
};

// Plays a link that follows the focus.
class TFocusLink : public TRegistered {
public:
  TFocusLink(TComponent* AOwner, std::string AName, TIB_SessionRegistry ARegistry, TLog& ALog)
      : TRegistered(AOwner, AName, ARegistry), FLog2(ALog) {}
  bool ReceiveFocus = true;
  bool GetReceiveFocus() const override { return ReceiveFocus; }
  void DoReceiveFocus(TIB_Component* AFocused) override {
    FLog2.push_back(GetName() + " receives " + (AFocused ? AFocused->GetName() : "nil"));
  }

private:
  TLog& FLog2;
};

// A form that holds the components placed on it.
TComponent* NewForm() { return new TComponent(nullptr); }

void LogBusyEvents(TIB_Session* S, TLog& Log) {
  S->OnBeginBusy = [&Log](TObject*) { Log.push_back("begin busy " + std::to_string(Cursor())); };
  S->OnEndBusy = [&Log](TObject*) { Log.push_back("end busy " + std::to_string(Cursor())); };
  S->OnBeginYield = [&Log](TObject*) { Log.push_back("begin yield " + std::to_string(Cursor())); };
  S->OnEndYield = [&Log](TObject*) { Log.push_back("end yield " + std::to_string(Cursor())); };
}

// Runs Fn on a thread of its own (not the main thread, whose default session the library keeps).
template <class F>
void OnWorker(F&& Fn) {
  std::thread t(std::forward<F>(Fn));
  t.join();
}

// ---------------------------------------------------------------------------------------------
// Default and explicit sessions

TEST(SessionDefault, EachThreadGetsItsOwnDefaultSession) {
  TIB_Session* first = nullptr;
  TIB_Session* second = nullptr;
  std::promise<void> bothBound;
  std::shared_future<void> ready = bothBound.get_future().share();
  std::promise<void> oneBound;
  // The threads overlap, so two live sessions can be compared.
  std::thread a([&] {
    auto* c = new TIB_Component(nullptr);
    first = c->GetSession();
    EXPECT_TRUE(first->GetAutoCreated());
    EXPECT_EQ(first->GetName(), "DefaultSession");
    EXPECT_EQ(first, CurrentSession());
    oneBound.set_value();
    ready.wait();
    delete c;
  });
  oneBound.get_future().wait();
  std::thread b([&] {
    auto* c = new TIB_Component(nullptr);
    second = c->GetSession();
    EXPECT_EQ(second, CurrentSession());
    bothBound.set_value();
    delete c;
  });
  b.join();
  a.join();
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_NE(first, second);
}

TEST(SessionDefault, FreedWithItsLastComponentAndMadeAgain) {
  OnWorker([] {
    auto* a = new TIB_Component(nullptr);
    auto* b = new TIB_Component(nullptr);
    TIB_Session* s = a->GetSession();
    EXPECT_EQ(b->GetSession(), s);
    EXPECT_EQ(s->GetRefCount(), 2);
    TWatcher w(s);
    delete a;
    EXPECT_FALSE(w.Freed());
    EXPECT_EQ(s->GetRefCount(), 1);
    delete b;
    EXPECT_TRUE(w.Freed());
    TIB_Session* again = CurrentSession();
    TWatcher w2(again);
    EXPECT_TRUE(again->GetAutoCreated());
    auto* c = new TIB_Component(nullptr);
    EXPECT_EQ(c->GetSession(), again);
    delete c;
    EXPECT_TRUE(w2.Freed());
  });
}

TEST(SessionDefault, UnheldDefaultSessionGoesWithItsThread) {
  TComponent* watcher = nullptr;
  std::thread t([&] { watcher = new TWatcher(CurrentSession()); });
  t.join();
  EXPECT_TRUE(static_cast<TWatcher*>(watcher)->Freed());
  delete watcher;
}

TEST(SessionDefault, ExplicitSessionIsConsultedFirstAndForgottenWhenFreed) {
  OnWorker([] {
    auto* mine = new TIB_Session(nullptr);
    SetExplicitSession(mine);
    EXPECT_EQ(CurrentSession(), mine);
    auto* c = new TIB_Component(nullptr);
    EXPECT_EQ(c->GetSession(), mine);
    EXPECT_FALSE(mine->GetAutoCreated());
    delete mine;
    // The component heard of the session's end; the slot does not keep the freed session.
    EXPECT_EQ(GetExplicitSession(), nullptr);
    TIB_Session* def = c->GetSession();
    EXPECT_TRUE(def->GetAutoCreated());
    delete c;
  });
}

TEST(SessionDefault, FreeingTheDefaultSessionUnbindsItsComponentsOnce) {
  OnWorker([] {
    auto* form = NewForm();
    auto* owned = new TRegistered(form, "owned", srConnections);
    auto* internal = new TIB_Component(nullptr);
    TIB_Session* s = internal->GetSession();
    owned->SetSession(s);
    internal->BeginBusy(false);
    EXPECT_EQ(s->GetRefCount(), 2);
    // Both components leave while the session is destroyed; neither frees it a second time.
    FreeDefaultSession(s);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(owned->GetBusyDepth(), 0);
    EXPECT_EQ(internal->GetBusyDepth(), 0);
    EXPECT_NE(internal->GetSession(), nullptr);
    delete internal;
    delete form;
  });
}

TEST(SessionDefault, ReleasingAnotherThreadsDefaultSessionIsAnError) {
  std::promise<TIB_Component*> made;
  std::promise<void> tried;
  TExceptionSink sink;
  std::thread owner([&] {
    auto* c = new TIB_Component(nullptr);
    TIB_Session* s = c->GetSession();
    TWatcher w(s);
    made.set_value(c);
    tried.get_future().wait();
    // The session is still this thread's default session, alive and unbound from the component.
    EXPECT_FALSE(w.Freed());
    EXPECT_EQ(CurrentSession(), s);
    EXPECT_EQ(s->GetRefCount(), 0);
  });
  TIB_Component* c = made.get_future().get();
  TIB_Session* s = c->GetSession();
  EXPECT_EQ(MessageOf<EIB_Error>([&] { c->SetSession(nullptr); }),
            "The default session of another thread cannot be released here");
  EXPECT_EQ(c->GetSession(), s);
  EXPECT_THROW(FreeDefaultSession(s), EIB_Error);
  EXPECT_NE(s, nullptr);
  // Deleting it here cannot be refused: the error goes to the application and the session survives.
  delete c;
  ASSERT_EQ(sink.Messages.size(), 1u);
  EXPECT_EQ(sink.Messages[0], "The default session of another thread cannot be released here");
  tried.set_value();
  owner.join();
}

// ---------------------------------------------------------------------------------------------
// Finding the session

TEST(SessionFinding, ComponentOnAFormTakesTheFormsSession) {
  auto* form = NewForm();
  auto* session = new TIB_Session(form);
  auto* c = new TRegistered(form, "c", srStatements);
  EXPECT_FALSE(c->IsInternal());
  // Found by the constructor, before any use.
  EXPECT_EQ(c->GetSession(), session);
  EXPECT_TRUE(session->InRegistry(srComponents, c));
  EXPECT_TRUE(session->InRegistry(srStatements, c));
  EXPECT_EQ(session->GetRefCount(), 1);
  c->SetVersion("9.9");
  EXPECT_EQ(c->GetVersion(), "3.6.Ca");
  delete form;
}

TEST(SessionFinding, SessionOfAnOuterOwnerOrOfALibraryComponentIsFound) {
  auto* form = NewForm();
  auto* session = new TIB_Session(form);
  auto* frame = new TComponent(form);
  auto* inner = new TIB_Component(frame);
  EXPECT_EQ(inner->GetSession(), session);
  // A library component owned by another one that is not internal takes its owner's session.
  auto* child = new TIB_Component(inner);
  EXPECT_FALSE(child->IsInternal());
  EXPECT_EQ(child->GetSession(), session);
  delete form;
}

TEST(SessionFinding, ComponentWithoutOwnerIsInternalAndOutOfTheRegistries) {
  OnWorker([] {
    auto* c = new TIB_Component(nullptr);
    EXPECT_TRUE(c->IsInternal());
    auto* child = new TRegistered(c, "child", srConnections);
    EXPECT_TRUE(child->IsInternal());
    TIB_Session* s = child->GetSession();
    EXPECT_EQ(c->GetSession(), s);
    EXPECT_EQ(s->GetRefCount(), 2);
    for (int r = 0; r < IB_SessionRegistryCount; ++r)
      EXPECT_TRUE(s->GetRegistry(static_cast<TIB_SessionRegistry>(r)).empty());
    // Internal components leave the busy state alone.
    child->BeginBusy(false);
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
    form = NewForm();
    session = new TIB_Session(form);
    comp = new TIB_Component(form);
    LogBusyEvents(session, log);
  }
  void TearDown() override {
    delete form;
    SetCursor(FSavedCursor);
  }
  TComponent* form = nullptr;
  TIB_Session* session = nullptr;
  TIB_Component* comp = nullptr;
  TLog log;

private:
  int FSavedCursor = 0;
};

TEST_F(SessionBusy, NestedYieldShowsYieldCursorAndRestoresOnTheWayOut) {
  session->SetUseCursor(true);
  comp->BeginBusy(false);
  comp->BeginBusy(false);  // inner brackets cost nothing visible
  comp->BeginBusy(true);
  EXPECT_EQ(Cursor(), crAppStart);
  EXPECT_EQ(session->GetYieldLevel(), 2);
  comp->EndBusy();
  EXPECT_EQ(Cursor(), crSQLWait);
  comp->EndBusy();
  comp->EndBusy();
  EXPECT_EQ(Cursor(), 7);
  EXPECT_EQ(session->GetBusyLevel(), 0);
  EXPECT_EQ(comp->GetBusyDepth(), 0);
  EXPECT_EQ(log, (TLog{"begin busy 7", "begin yield -17", "end yield -17", "end busy 7"}));
}

TEST_F(SessionBusy, ABusyCursorAlreadyShownIsRestoredAsTheDefaultCursor) {
  session->SetUseCursor(true);
  SetCursor(crSQLWait);
  comp->BeginBusy(false);
  comp->EndBusy();
  EXPECT_EQ(Cursor(), crDefault);
}

TEST_F(SessionBusy, WithoutUseCursorEventsFireAndTheCursorStays) {
  comp->BeginBusy(false);
  comp->BeginBusy(true);
  EXPECT_EQ(Cursor(), 7);
  comp->EndBusy();
  comp->EndBusy();
  EXPECT_EQ(Cursor(), 7);
  EXPECT_EQ(log, (TLog{"begin busy 7", "begin yield 7", "end yield 7", "end busy 7"}));
}

TEST_F(SessionBusy, DisabledBusyCursorLeavesTheScreenAlone) {
  session->SetUseCursor(true);
  session->DisableBusyCursor();
  comp->BeginBusy(true);
  EXPECT_EQ(Cursor(), 7);
  comp->EndBusy();
  session->EnableBusyCursor();
  session->EnableBusyCursor();  // unbalanced: stays at 0
  EXPECT_EQ(session->GetBusyCursorDisabled(), 0);
  comp->BeginBusy(false);
  EXPECT_EQ(Cursor(), crSQLWait);
  comp->EndBusy();
}

TEST_F(SessionBusy, LevelsNeverGoBelowZero) {
  session->EndBusy();
  comp->EndBusy();
  EXPECT_EQ(session->GetBusyLevel(), 0);
  EXPECT_EQ(comp->GetBusyDepth(), 0);
  EXPECT_TRUE(log.empty());
  // A component without a bracket of its own does not end another one's.
  auto* other = new TIB_Component(form);
  comp->BeginBusy(false);
  other->EndBusy();
  EXPECT_EQ(session->GetBusyLevel(), 1);
  comp->EndBusy();
  EXPECT_EQ(session->GetBusyLevel(), 0);
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
  session->SetUseCursor(true);
  comp->BeginBusy(false);
  comp->BeginBusy(false);
  auto* other = new TIB_Session(nullptr);
  TLog otherLog;
  LogBusyEvents(other, otherLog);
  comp->SetSession(other);
  EXPECT_EQ(session->GetBusyLevel(), 0);
  EXPECT_EQ(log, (TLog{"begin busy 7", "end busy 7"}));
  EXPECT_EQ(comp->GetBusyDepth(), 2);
  EXPECT_EQ(other->GetBusyLevel(), 2);
  EXPECT_EQ(other->GetYieldLevel(), 0);
  EXPECT_EQ(otherLog, (TLog{"begin busy 7", "begin yield 7"}));
  EXPECT_FALSE(session->InRegistry(srComponents, comp));
  EXPECT_TRUE(other->InRegistry(srComponents, comp));
  comp->EndBusy();
  comp->EndBusy();
  EXPECT_EQ(other->GetBusyLevel(), 0);
  delete other;
  EXPECT_EQ(comp->GetBusyDepth(), 0);
}

TEST(SessionBusyUnbound, BeginBusyBindsTheDefaultSession) {
  OnWorker([] {
    auto* c = new TIB_Component(nullptr);
    c->BeginBusy(false);
    EXPECT_NE(c->GetSession(), nullptr);
    EXPECT_EQ(c->GetBusyDepth(), 1);
    {
      TIB_BusyBracket bracket(c, true);
      EXPECT_EQ(c->GetBusyDepth(), 2);
    }
    EXPECT_EQ(c->GetBusyDepth(), 1);
    c->EndBusy();
    delete c;
  });
}

// ---------------------------------------------------------------------------------------------
// Focus

class SessionFocus : public ::testing::Test {
protected:
  void SetUp() override {
    form = NewForm();
    session = new TIB_Session(form);
  }
  void TearDown() override { delete form; }
  TComponent* form = nullptr;
  TIB_Session* session = nullptr;
  TLog log;
};

TEST_F(SessionFocus, ConnectionFocusIsAnnouncedToReceivingLinksInOrder) {
  auto* c1 = new TFocusHolder(form, "c1", srConnections, log);
  auto* c2 = new TFocusHolder(form, "c2", srConnections, log);
  auto* l1 = new TFocusLink(form, "l1", srConnectionLinks, log);
  auto* l2 = new TFocusLink(form, "l2", srConnectionLinks, log);
  new TFocusLink(form, "deaf", srConnectionLinks, log);
  static_cast<TFocusLink*>(form->FindComponent("deaf"))->ReceiveFocus = false;
  (void)l1;
  (void)l2;
  session->SetFocusedConnection<TFocusHolder>(c1);
  session->SetFocusedConnection<TFocusHolder>(c1);  // unchanged: nothing
  session->SetFocusedConnection<TFocusHolder>(c2);
  EXPECT_EQ(session->GetFocusedConnection<TFocusHolder>(), c2);
  EXPECT_EQ(log, (TLog{"l1 receives c1", "l2 receives c1", "c1 gains", "c1 loses", "l1 receives c2", "l2 receives c2",
                       "c2 gains"}));
  log.clear();
  c1->AnnounceFocus = false;
  session->SetFocusedConnection<TFocusHolder>(c1);
  EXPECT_EQ(log, (TLog{"c2 loses", "c1 gains"}));
  log.clear();
  session->SetFocusedConnection<TFocusHolder>(nullptr);
  EXPECT_EQ(log, (TLog{"c1 loses", "l1 receives nil", "l2 receives nil"}));
}

TEST_F(SessionFocus, InternalObjectsNeverTakeTheFocus) {
  auto* internal = new TFocusHolder(nullptr, "internal", srTransactions, log);
  auto* t = new TFocusHolder(form, "t", srTransactions, log);
  session->SetFocusedTransaction<TFocusHolder>(t);
  session->SetFocusedTransaction<TFocusHolder>(internal);
  EXPECT_EQ(session->GetFocusedTransaction<TFocusHolder>(), t);
  EXPECT_EQ(log, (TLog{"t gains"}));
  delete internal;
}

TEST_F(SessionFocus, DataSourceBringsItsDatasetConnectionAndTransaction) {
  auto* conn = new TFocusHolder(form, "conn", srConnections, log);
  auto* tr = new TFocusHolder(form, "tr", srTransactions, log);
  auto* ds = new TFocusHolder(form, "ds", srDatasets, log);
  ds->Peers[frConnection] = conn;
  ds->Peers[frTransaction] = tr;
  auto* src = new TFocusHolder(form, "src", srDataSources, log);
  src->Peers[frDataset] = ds;
  new TFocusLink(form, "dl", srDataLinks, log);
  session->SetFocusedDataSource<TFocusHolder>(src);
  EXPECT_EQ(session->GetFocusedDataset<TFocusHolder>(), ds);
  EXPECT_EQ(session->GetFocusedConnection<TFocusHolder>(), conn);
  EXPECT_EQ(session->GetFocusedTransaction<TFocusHolder>(), tr);
  EXPECT_EQ(log, (TLog{"conn gains", "tr gains", "dl receives src", "src gains"}));
  log.clear();
  session->SetFocusedDataSource<TFocusHolder>(nullptr);
  EXPECT_EQ(session->GetFocusedDataset<TFocusHolder>(), nullptr);
  EXPECT_EQ(session->GetFocusedConnection<TFocusHolder>(), nullptr);
  EXPECT_EQ(log, (TLog{"src loses", "conn loses", "tr loses", "dl receives nil"}));
}

TEST_F(SessionFocus, ALeavingComponentLeavesNoFocusOrDefaultBehind) {
  auto* conn = new TFocusHolder(form, "conn", srConnections, log);
  conn->DatabaseName = "/data/Flights.FDB";
  session->SetDefaultConnection<TFocusHolder>(conn);
  session->SetFocusedConnection<TFocusHolder>(conn);
  EXPECT_EQ(session->GetConnectionByDatabaseName<TFocusHolder>("/DATA/flights.fdb"), conn);
  EXPECT_EQ(session->GetConnectionByDatabaseName<TFocusHolder>("/data/other.fdb"), nullptr);
  delete conn;
  EXPECT_EQ(session->GetFocusedConnection<TFocusHolder>(), nullptr);
  EXPECT_EQ(session->GetDefaultConnection<TFocusHolder>(), nullptr);
  EXPECT_TRUE(session->GetRegistry(srConnections).empty());
}

// ---------------------------------------------------------------------------------------------
// Timer

class SessionTimer : public ::testing::Test {
protected:
  void SetUp() override {
    clock = std::make_unique<TManualClock>();
    form = NewForm();
    session = new TIB_Session(form);
    t1 = new TFocusHolder(form, "t1", srTransactions, log);
    t2 = new TFocusHolder(form, "t2", srTransactions, log);
    session->OnSessionTimer = [this](TObject*) { log.push_back("timer"); };
    session->SetTimerInterval(1000);
  }
  void TearDown() override {
    delete form;
    clock.reset();
  }
  void Tick() { clock->Advance(1000); }
  std::unique_ptr<TManualClock> clock;
  TComponent* form = nullptr;
  TIB_Session* session = nullptr;
  TFocusHolder* t1 = nullptr;
  TFocusHolder* t2 = nullptr;
  TLog log;
};

TEST_F(SessionTimer, TickChecksEveryTransactionThenFiresTheEvent) {
  clock->Advance(999);
  EXPECT_TRUE(log.empty());
  clock->Advance(1);
  EXPECT_EQ(log, (TLog{"t1 checks", "t2 checks", "timer"}));
  EXPECT_FALSE(session->GetInTimer());
}

TEST_F(SessionTimer, BusySessionSkipsTheTick) {
  auto* c = new TIB_Component(form);
  c->BeginBusy(false);
  Tick();
  EXPECT_TRUE(log.empty());
  c->EndBusy();
  Tick();
  EXPECT_EQ(log.size(), 3u);
}

TEST_F(SessionTimer, TerminateEndsTheTickWithoutTheEvent) {
  t1->Terminates = true;
  Tick();
  EXPECT_EQ(log, (TLog{"t1 checks"}));
}

TEST_F(SessionTimer, ExceptionGoesToTheApplicationOnce) {
  TExceptionSink sink;
  t1->Throws = true;
  Tick();
  EXPECT_EQ(log, (TLog{"t1 checks"}));
  EXPECT_EQ(sink.Messages, (std::vector<std::string>{"check failed"}));
  EXPECT_FALSE(session->GetInTimer());
  EXPECT_FALSE(session->IsBusy());
  // The timer keeps running.
  t1->Throws = false;
  log.clear();
  Tick();
  EXPECT_EQ(log.size(), 3u);
}

TEST_F(SessionTimer, EndBusyInsideATickKeepsTheLevelAtZero) {
  session->OnSessionTimer = [this](TObject*) { session->EndBusy(); };
  Tick();
  EXPECT_EQ(session->GetBusyLevel(), 0);
  auto* c = new TIB_Component(form);
  c->BeginBusy(false);
  EXPECT_EQ(session->GetBusyLevel(), 1);
  c->EndBusy();
}

TEST_F(SessionTimer, IntervalChangedInsideATickTakesEffectAfterIt) {
  session->OnSessionTimer = [this](TObject*) {
    session->SetTimerInterval(3000);
    EXPECT_EQ(session->GetTimerInterval(), 3000u);
  };
  Tick();
  session->OnSessionTimer = nullptr;
  log.clear();
  clock->Advance(2999);
  EXPECT_TRUE(log.empty());
  clock->Advance(1);
  EXPECT_EQ(log, (TLog{"t1 checks", "t2 checks"}));
  log.clear();
  session->OnSessionTimer = [this](TObject*) { session->SetTimerInterval(0); };
  clock->Advance(3000);
  EXPECT_EQ(session->GetTimerInterval(), 0u);
  log.clear();
  clock->Advance(100000);
  EXPECT_TRUE(log.empty());
}

TEST_F(SessionTimer, TransactionsLeavingDuringATickAreSkipped) {
  auto* t3 = new TFocusHolder(form, "t3", srTransactions, log);
  session->OnSessionTimer = nullptr;
  // t1's check frees t2: the walk goes over a snapshot and skips it.
  t1->OnCheck = [this] {
    delete t2;
    t2 = nullptr;
  };
  Tick();
  EXPECT_EQ(log, (TLog{"t1 checks", "t3 checks"}));
  (void)t3;
}

TEST_F(SessionTimer, ApplicationGoneStopsTheTimerAfterTheTick) {
  TApplication* app = Application;
  Application = nullptr;
  clock->Advance(1000, app);
  Application = app;
  EXPECT_EQ(log, (TLog{"t1 checks", "t2 checks", "timer"}));
  EXPECT_EQ(session->GetTimerInterval(), 0u);
  log.clear();
  clock->Advance(5000);
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

TEST_F(SessionTimer, FreedSessionLeavesNoTimer) {
  int before = Application->TimerCount();
  delete session;
  EXPECT_EQ(Application->TimerCount(), before - 1);
  clock->Advance(5000);
  EXPECT_TRUE(log.empty());
}

TEST_F(SessionTimer, ASessionFreedByItsOwnTickIsLeftAlone) {
  // A time-out check that frees the session ends the tick there: the rest of the walk, the event and
  // the tick's own bookkeeping would all reach a freed session.
  t1->OnCheck = [this] {
    TIB_Session* s = session;
    session = nullptr;
    delete s;
  };
  Tick();
  EXPECT_EQ(log, (TLog{"t1 checks"}));
  log.clear();
  t1->OnCheck = nullptr;
  clock->Advance(5000);
  EXPECT_TRUE(log.empty());

  // The same from the timer event.
  auto* other = new TIB_Session(form);
  other->OnSessionTimer = [other](TObject*) { delete other; };
  other->SetTimerInterval(1000);
  const int timers = Application->TimerCount();
  Tick();
  EXPECT_EQ(Application->TimerCount(), timers - 1);
}

// ---------------------------------------------------------------------------------------------
// Session destruction, errors, version, colours

TEST(SessionLifetime, DestroyedSessionMakesItsComponentsLeaveFirstToLast) {
  TLog log;
  auto* form = NewForm();
  auto* session = new TIB_Session(nullptr);
  auto* a = new TRegistered(form, "a", srConnections, &log);
  auto* b = new TRegistered(form, "b", srTransactions, &log);
  auto* c = new TRegistered(form, "c", srStatements, &log);
  a->SetSession(session);
  b->SetSession(session);
  c->SetSession(session);
  // a's leaving frees c on the way: the walk skips it.
  a->OnLeave = [&] {
    if (c) {
      TRegistered* victim = c;
      c = nullptr;
      delete victim;
    }
  };
  log.clear();
  delete session;
  EXPECT_EQ(log, (TLog{"a leaves", "c leaves", "b leaves"}));
  a->OnLeave = nullptr;
  delete form;
}

TEST(SessionLifetime, ComponentCannotJoinASessionBeingDestroyed) {
  auto* form = NewForm();
  auto* c = new TIB_Component(form);
  auto* session = new TIB_Session(nullptr);
  auto* holder = new TRegistered(form, "h", srStatements);
  holder->SetSession(session);
  bool refused = false;
  holder->OnLeave = [&] {
    try {
      c->SetSession(session);
    } catch (const EIB_Error&) {
      refused = true;
    }
  };
  delete session;
  EXPECT_TRUE(refused);
  holder->OnLeave = nullptr;
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
    log.push_back(std::string("component ") + (Sender == c ? "c" : "?"));
    if (suppress) RaiseException = false;
  };
  session->OnError = [&](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool&) {
    log.push_back("session");
  };
  isc_db_handle bad = 12345;
  // A real failing client call: detaching a handle that was never attached.
  EXPECT_NO_THROW(session->CallChecked(c, session->Entries.isc_detach_database, &bad));
  EXPECT_EQ(log, (TLog{"component c"}));
  log.clear();
  suppress = false;
  bad = 12345;
  EXPECT_THROW(session->CallChecked(c, session->Entries.isc_detach_database, &bad), EIB_ISCError);
  EXPECT_EQ(log, (TLog{"component c", "session"}));
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

TEST(SessionModuleDeathTest, StartsOnFirstUseOnTheMainThreadAndEndsCleanlyAtExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Nothing loaded the client library before main.
        if (ClientLibraryMapped()) std::_Exit(3);
        TIB_Session* s = CurrentSession();
        if (!ClientLibraryMapped()) std::_Exit(4);
        if (!s->GetAutoCreated() || !s->GetUseCursor() || s->GetTimerInterval() != 5000) std::_Exit(5);
        // Held by the library's own internal component, not by a registry.
        if (s->GetRefCount() != 1 || !s->GetRegistry(srComponents).empty()) std::_Exit(6);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(SessionModuleDeathTest, WorkerThreadsDoNotStartTheModule) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        int code = 0;
        std::thread t([&] {
          TIB_Session* s = CurrentSession();
          if (s->GetUseCursor() || s->GetTimerInterval() != 0 || s->GetRefCount() != 0) code = 7;
        });
        t.join();
        if (code) std::_Exit(code);
        TIB_Session* m = CurrentSession();
        if (m->GetTimerInterval() != 5000) std::_Exit(8);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
