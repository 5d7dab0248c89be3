#include "dblib/IB_Session.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <mutex>

#include "dblib/IB_Constants.h"
#include "platform/ScopeGuards.h"

// Whether a thread has ended: shared by the thread's slots and every session the thread made.
struct TIB_ThreadLife {
  std::atomic<bool> Ended{false};
};

namespace {

// ---------------------------------------------------------------------------------------------
// Platform seams: the screen cursor, the application, the per-thread timer service.

// The id of the session's one timer.
constexpr uintptr_t SessionTimerId = 1;

TCursor GetScreenCursor() { return Screen.GetCursor(); }
void SetScreenCursor(TCursor Value) { Screen.SetCursor(Value); }

bool ApplicationGoneOrTerminating() { return !Application || Application->GetTerminated(); }

// ---------------------------------------------------------------------------------------------
// Per-thread slots and module start/end.

// Linux gives the main thread the process id as its thread id.
thread_local signed char tlsIsMain = -1;
bool IsMainThread() {
  if (tlsIsMain < 0) tlsIsMain = static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid() ? 1 : 0;
  return tlsIsMain == 1;
}

TIB_Component* gModuleComponent = nullptr;  // these three are used on the main thread only
bool gModuleStarted = false;
bool gModuleEnded = false;

void ModuleEnd() noexcept;

// Orders a thread's end against the last component of its default session leaving on another
// thread, so that exactly one of them frees the session.
std::mutex gThreadEndMutex;

// The thread's two session slots and the record of its end. When the thread ends, a default session
// that nothing holds any more is freed; one still held is freed by its last component, wherever that
// leaves. On the main thread the library's own module ends first.
struct TThreadSlots {
  TIB_Session* Explicit = nullptr;
  TIB_Session* Default = nullptr;
  std::shared_ptr<TIB_ThreadLife> Life = std::make_shared<TIB_ThreadLife>();
  ~TThreadSlots();
};

thread_local TThreadSlots tlsSlots;
thread_local bool tlsSlotsGone = false;  // trivially destructible: readable at any time

// The calling thread's slots, or nil once they are gone (during the thread's last teardown).
TThreadSlots* Slots() {
  if (tlsSlotsGone) return nullptr;
  thread_local bool made = false;
  if (!made) {
    made = true;
    // Thread-local objects go in the reverse order of their making. The application's per-thread
    // timer queue is made first so that it is still there when these slots free the thread's
    // default session (which kills its timer).
    if (Application) (void)Application->TimerCount();
  }
  return &tlsSlots;
}

TThreadSlots::~TThreadSlots() {
  if (IsMainThread()) ModuleEnd();
  TIB_Session* unheld = nullptr;
  {
    std::lock_guard<std::mutex> lock(gThreadEndMutex);
    Life->Ended = true;
    if (Default && Default->GetRefCount() == 0) unheld = Default;
  }
  Explicit = nullptr;
  Default = nullptr;
  delete unheld;
  tlsSlotsGone = true;
}

// The record of the calling thread's end; during the thread's last teardown, one that says it ended.
std::shared_ptr<TIB_ThreadLife> ThisThreadLife() {
  if (TThreadSlots* slots = Slots()) return slots->Life;
  auto ended = std::make_shared<TIB_ThreadLife>();
  ended->Ended = true;
  return ended;
}

// The library's own initialisation, on first use on the main thread: an internal component bound to
// the main thread's default session, which shows the busy cursor and runs the time-out timer.
void ModuleStart() {
  if (gModuleStarted || gModuleEnded || !IsMainThread()) return;
  gModuleStarted = true;
  TScopeExit failed([] { gModuleStarted = false; });
  std::unique_ptr<TIB_Component> c(new TIB_Component(nullptr));
  TIB_Session* s = c->GetSession();
  s->SetUseCursor(true);
  s->SetTimerInterval(5000);
  gModuleComponent = c.release();
  failed.Release();
}

void ModuleEnd() noexcept {
  if (!gModuleStarted || gModuleEnded) return;
  gModuleEnded = true;
  TIB_Component* c = gModuleComponent;
  gModuleComponent = nullptr;
  delete c;  // frees the default session when nothing else holds it
}

// Calls F for each entry of Snapshot that is still in Live; entries that left meanwhile are skipped.
template <class F>
void ForEachStill(const std::vector<TIB_Component*>& Snapshot, const std::vector<TIB_Component*>& Live, F&& Fn) {
  for (TIB_Component* c : Snapshot)
    if (std::find(Live.begin(), Live.end(), c) != Live.end()) Fn(c);
}

}  // namespace

TIB_Session* CurrentSession() {
  if (IsMainThread() && !gModuleStarted) ModuleStart();
  TThreadSlots* slots = Slots();
  if (slots && slots->Explicit) return slots->Explicit;
  if (slots && slots->Default) return slots->Default;
  auto* s = new TIB_Session(nullptr);
  s->FAutoCreated = true;
  s->SetName("DefaultSession");
  // Made during the thread's very last teardown: nobody would free it, so it is not kept.
  if (slots) slots->Default = s;
  return s;
}

void FreeDefaultSession(TIB_Session*& Session) {
  if (!Session) return;
  TThreadSlots* slots = Slots();
  if (Session->GetAutoCreated() && !Session->OnOwnThread() && !Session->ThreadEnded())
    IB_Raise<EIB_Error>(IBMsg::ForeignDefaultSession);
  TIB_Session* s = Session;
  if (slots && slots->Default == s) slots->Default = nullptr;
  Session = nullptr;
  delete s;
}

TIB_Session* GetExplicitSession() {
  TThreadSlots* slots = Slots();
  return slots ? slots->Explicit : nullptr;
}

void SetExplicitSession(TIB_Session* Session) {
  if (TThreadSlots* slots = Slots()) slots->Explicit = Session;
}

// ---------------------------------------------------------------------------------------------
// TIB_Session

TIB_Session::TIB_Session(TComponent* AOwner)
    : TIB_SessionBase(AOwner),
      FEditingColor(clYellow),
      FInsertingColor(clLime),
      FDeletingColor(clRed),
      FSearchingColor(clAqua),
      FReadOnlyColor(clSilver),
      FSelectedColor(clBlue),
      FInvalidColor(clNone),
      FPreparedColor(clGrayText),
      FBrowsingColor(clWindow),
      FThreadId(std::this_thread::get_id()),
      FThreadLife(ThisThreadLife()) {}

TIB_Session::~TIB_Session() = default;

bool TIB_Session::ThreadEnded() const noexcept { return FThreadLife->Ended; }

void TIB_Session::BeforeDestruction() {
  // Stopped at once, even inside a tick: no timer may call a freed session.
  FAlive.Clear();
  FTimerInterval = 0;
  RunReported([this] { ApplyTimer(0); });
  // Components leave first to last; each one's SetSession takes it out of its registries.
  std::vector<TIB_Component*> snapshot = FRegistries[srComponents];
  for (TIB_Component* c : snapshot) {
    if (!InRegistry(srComponents, c)) continue;
    RunReported([c] { c->SetSession(nullptr); });
    // A component whose override failed must still not keep a dangling session.
    if (c->FSession == this) c->UnbindFrom(this, false);
  }
  for (auto& r : FRegistries) std::vector<TIB_Component*>().swap(r);
  FDefaultConnection = nullptr;
  for (auto& f : FFocused) f = nullptr;
  // The thread's slots must not keep a freed session.
  if (TThreadSlots* slots = Slots()) {
    if (slots->Explicit == this) slots->Explicit = nullptr;
    if (slots->Default == this) slots->Default = nullptr;
  }
  // Internal components bound to this session hear of its end through their free notice.
  TIB_SessionBase::BeforeDestruction();
}

void TIB_Session::DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes,
                                int32_t SQLCODE, TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) {
  auto* c = dynamic_cast<TIB_Component*>(Sender);
  if (c) c->DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
  if (!RaiseException || !OnError || HasState(csLoading) || HasState(csDestroying)) return;
  // The session's handler may destroy the component whose error it reports, or the session: the silent
  // abort then.
  if (c)
    IB_CallOut({FAlive, c->GetAlive()}, OnError, Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL,
               RaiseException);
  else
    IB_CallOut(FAlive, OnError, Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
}

bool TIB_Session::InRegistry(TIB_SessionRegistry Registry, const TIB_Component* AComponent) const {
  const auto& r = FRegistries[Registry];
  return std::find(r.begin(), r.end(), AComponent) != r.end();
}

void TIB_Session::Join(TIB_SessionRegistry Registry, TIB_Component* AComponent) {
  if (!InRegistry(Registry, AComponent)) FRegistries[Registry].push_back(AComponent);
}

void TIB_Session::Leave(TIB_SessionRegistry Registry, TIB_Component* AComponent) {
  auto& r = FRegistries[Registry];
  r.erase(std::remove(r.begin(), r.end(), AComponent), r.end());
  // The data-link registry is given back when its last link leaves.
  if (Registry == srDataLinks && r.empty()) std::vector<TIB_Component*>().swap(r);
}

void TIB_Session::Forget(TIB_Component* AComponent) {
  if (FDefaultConnection == AComponent) FDefaultConnection = nullptr;
  for (auto& f : FFocused)
    if (f == AComponent) f = nullptr;
}

void TIB_Session::Fire(const TNotifyEvent& Event) {
  if (Event && CanFireEvents()) IB_CallOut(FAlive, Event, this);
}

// ---------------------------------------------------------------------------------------------
// Focus

void TIB_Session::SetFocused(TIB_FocusRole Role, TIB_Component* Value) {
  switch (Role) {
    case frConnection: SetFocusedHolder(frConnection, srConnectionLinks, Value); break;
    case frTransaction: SetFocusedHolder(frTransaction, srTransactionLinks, Value); break;
    case frDataset:
      if ((Value && Value->IsInternal()) || Value == FFocused[frDataset]) return;
      FFocused[frDataset] = Value;
      SetFocused(frConnection, Value ? Value->GetFocusPeer(frConnection) : nullptr);
      SetFocused(frTransaction, Value ? Value->GetFocusPeer(frTransaction) : nullptr);
      break;
    case frDataSource: SetFocusedHolder(frDataSource, srDataLinks, Value); break;
  }
}

void TIB_Session::SetFocusedHolder(TIB_FocusRole Role, TIB_SessionRegistry Links, TIB_Component* Value) {
  if ((Value && Value->IsInternal()) || Value == FFocused[Role]) return;
  // The handlers may destroy the session or the component taking the focus: the silent abort then.
  const TIB_AliveFlag alive = FAlive, focused = Value ? Value->GetAlive() : FAlive;
  const auto watch = [&] {
    IB_CheckAlive(alive);
    IB_CheckAlive(focused);
  };
  if (TIB_Component* old = FFocused[Role]) {
    old->DoLoseFocus();
    watch();
  }
  FFocused[Role] = Value;
  if (Role == frDataSource) {
    SetFocused(frDataset, Value ? Value->GetFocusPeer(frDataset) : nullptr);
    watch();
  }
  if (!Value || Value->GetAnnounceFocus()) {
    std::vector<TIB_Component*> snapshot = FRegistries[Links];
    // Links that a handler frees meanwhile are skipped.
    ForEachStill(snapshot, FRegistries[Links], [&](TIB_Component* link) {
      if (!link->GetReceiveFocus()) return;
      link->DoReceiveFocus(Value);
      watch();
    });
  }
  // Unless a handler has moved the focus on meanwhile.
  if (Value && FFocused[Role] == Value) Value->DoGainFocus();
}

// ---------------------------------------------------------------------------------------------
// Busy brackets

void TIB_Session::BeginBusyFully(bool Yield) {
  const int32_t oldYieldLevel = FYieldLevel;
  if (Yield && FYieldLevel == -1) FYieldLevel = FBusyLevel;
  // A handler that raises leaves no bracket open.
  TScopeExit undo([&] { FYieldLevel = oldYieldLevel; });
  if (FBusyLevel == 0) {
    Fire(OnBeginBusy);
    if (Yield) Fire(OnBeginYield);
    if (FUseCursor) {
      int current = GetScreenCursor();
      FSavedCursor = (current == FBusyCursor || current == FYieldCursor) ? crDefault : current;
      if (FBusyCursorDisabled == 0) SetScreenCursor(Yield ? FYieldCursor : FBusyCursor);
    } else {
      FSavedCursor = -1;
    }
  } else if (FBusyLevel == FYieldLevel) {
    Fire(OnBeginYield);
    if (FSavedCursor != -1 && FBusyCursorDisabled == 0) SetScreenCursor(FYieldCursor);
  }
  undo.Release();
  ++FBusyLevel;
}

void TIB_Session::EndBusyFully() {
  // An end without a matching begin changes nothing (and fires nothing).
  if (FBusyLevel <= 0) return;
  --FBusyLevel;
  {
    // At the outermost end the cursor comes back, even when a handler of the yield's end raised.
    TScopeExit restoreCursor([this] {
      if (FBusyLevel == 0 && FSavedCursor != -1 && FSavedCursor != GetScreenCursor()) SetScreenCursor(FSavedCursor);
    });
    if (FYieldLevel == FBusyLevel) {
      FYieldLevel = -1;
      if (FSavedCursor != -1 && FBusyLevel >= 1 && FBusyCursorDisabled == 0) SetScreenCursor(FBusyCursor);
      Fire(OnEndYield);
    }
  }
  if (FBusyLevel == 0) Fire(OnEndBusy);
}

void TIB_Session::EndBusyQuietly() noexcept {
  if (FBusyLevel <= 0) return;
  --FBusyLevel;
  if (FYieldLevel == FBusyLevel) {
    FYieldLevel = -1;
    if (FSavedCursor != -1 && FBusyLevel >= 1 && FBusyCursorDisabled == 0) SetScreenCursor(FBusyCursor);
  }
  if (FBusyLevel == 0 && FSavedCursor != -1 && FSavedCursor != GetScreenCursor()) SetScreenCursor(FSavedCursor);
}

void TIB_Session::DoGetDataLinkColor(TIB_DataLink* DataLink, TColor& Color) {
  if (OnGetDataLinkColor) IB_CallOut(FAlive, OnGetDataLinkColor, this, DataLink, Color);
}

// ---------------------------------------------------------------------------------------------
// Timer

void TIB_Session::SetTimerInterval(uint32_t Value) {
  FTimerInterval = Value;
  // The platform's timer is replaced only between ticks; the tick applies the last value at its end.
  if (!FInTimer) ApplyTimer(Value);
}

void TIB_Session::ApplyTimer(uint32_t Value) {
  if (Value == FActiveInterval) return;
  if (FActiveInterval != 0) {
    FActiveInterval = 0;
    // Through the application that started it, even when the global one is gone meanwhile.
    if (FTimerApplication) FTimerApplication->KillTimer(this, SessionTimerId);
    FTimerApplication = nullptr;
  }
  if (Value != 0) {
    TApplication* app = Application;
    if (!app || !app->SetTimer(this, SessionTimerId, Value, [this] { Tick(); })) {
      FTimerInterval = 0;
      throw EOutOfResources(SNoTimers);
    }
    FTimerApplication = app;
    FActiveInterval = Value;
  }
}

void TIB_Session::Tick() {
  if (FInTimer) return;
  if (ApplicationGoneOrTerminating()) FTimerInterval = 0;
  bool Terminate = false;
  if (!IsBusy()) {
    // A check or the event may free this session (say, the last component of a default session goes):
    // the tick then stops touching it.
    const TIB_AliveFlag alive = FAlive;
    FInTimer = true;
    RunReported([&] {
      std::vector<TIB_Component*> snapshot = FRegistries[srTransactions];
      for (TIB_Component* t : snapshot) {
        if (Terminate || !alive.Get()) break;
        if (!InRegistry(srTransactions, t)) continue;
        // A transaction whose check fails (a forced close that cannot commit, say) is reported and
        // the others are still checked: one failure must not keep every later transaction open.
        RunReported([&] { t->TimeoutCheck(Terminate); });
      }
      if (alive.Get() && !Terminate) Fire(OnSessionTimer);
    });
    if (!alive.Get()) return;
    FInTimer = false;
  }
  if (FTimerInterval != FActiveInterval) RunReported([this] { ApplyTimer(FTimerInterval); });
}

// ---------------------------------------------------------------------------------------------
// TIB_Component

TIB_Component::TIB_Component(TComponent* AOwner) : TComponent(AOwner) {
  auto* libOwner = dynamic_cast<TIB_Component*>(AOwner);
  FInternal = !AOwner || (libOwner && libOwner->FInternal);
  FindSession(false);
}

// The token dies once the teardown (BeforeDestruction) is done at the latest: the teardown of most
// components works on a whole object through the same paths as any operation (a transaction's close),
// and every frame further up the stack resumes only after it. A dataset and a data link clear it as
// their teardown starts (it posts nothing and calls nobody).
TIB_Component::~TIB_Component() { FAlive.Clear(); }

void TIB_Component::BeforeDestruction() {
  RunReported([this] { SetSession(nullptr); });
  // Left on another thread than its default session's: reported above; the component still goes,
  // but the session stays for its own thread to reuse or free.
  if (FSession) UnbindFrom(FSession, false);
  TComponent::BeforeDestruction();
}

TIB_Session* TIB_Component::GetSession() {
  if (!FSession) FindSession(true);
  return FSession;
}

TIB_Session* TIB_Component::SessionFrom(TComponent* O) {
  if (auto* s = dynamic_cast<TIB_Session*>(O)) return s->IsDestroying() ? nullptr : s;
  if (auto* c = dynamic_cast<TIB_Component*>(O); c && c != this) return c->GetSession();
  return nullptr;
}

bool TIB_Component::FindSession(bool CreateDefault) {
  if (FSession || FSearching) return FSession != nullptr;
  TValueRestorer<bool> searching(FSearching, true);
  {
    TIB_Session* found = nullptr;
    TComponent* from = this;
    for (TComponent* o = GetOwner(); o && !found; from = o, o = o->GetOwner()) {
      found = SessionFrom(o);
      for (int i = 0; !found && i < o->GetComponentCount(); ++i) {
        TComponent* c = o->GetComponent(i);
        if (c != from) found = SessionFrom(c);
      }
    }
    if (found)
      SetSession(found);
    else if (CreateDefault)
      SetSession(CurrentSession());
  }
  return FSession != nullptr;
}

void TIB_Component::SetSession(TIB_Session* ASession) {
  if (ASession == FSession) return;
  TIB_Session* old = FSession;
  if (ASession && ASession->IsDestroying()) IB_Raise<EIB_Error>(IBMsg::SessionDestroying);
  // Leaving the default session of a thread that still runs would race with that thread and could free
  // the session while its thread's slot still names it.
  if (old && !old->IsDestroying() && old->GetAutoCreated() && !old->OnOwnThread() && !old->ThreadEnded())
    IB_Raise<EIB_Error>(IBMsg::ForeignDefaultSession);
  const int32_t depth = FBusyDepth;
  std::exception_ptr failure;  // the first handler failure; the move completes regardless
  auto keepFirstFailure = [&failure](auto&& Step) {
    try {
      Step();
      return true;
    } catch (...) {
      if (!failure) failure = std::current_exception();
      return false;
    }
  };
  if (old) {
    while (FBusyDepth > 0) keepFirstFailure([this] { EndBusy(); });
    UnbindFrom(old, true);
  }
  if (ASession) {
    FSession = ASession;
    ASession->FRefCount.fetch_add(1);
    if (!FInternal) ASession->Join(srComponents, this);
    // Every session, default or not, gives notice of its end, so no component keeps a dangling one.
    ASession->FreeNotification(this);
    while (FBusyDepth < depth && keepFirstFailure([this] { BeginBusy(true); })) {
    }
  }
  if (failure) std::rethrow_exception(failure);
}

void TIB_Component::UnbindFrom(TIB_Session* Old, bool AllowFree) noexcept {
  FSession = nullptr;
  FBusyDepth = 0;
  // The classes that keep registries leave theirs in their SetSession; this is the safety net that
  // keeps any registry or focus reference from outliving the binding.
  for (int r = 0; r < IB_SessionRegistryCount; ++r) Old->Leave(static_cast<TIB_SessionRegistry>(r), this);
  Old->Forget(this);
  Old->RemoveFreeNotification(this);
  // The last component of a default session frees it, unless the session is already on its way out.
  const bool defaultSession = Old->GetAutoCreated() && !Old->IsDestroying();
  if (Old->OnOwnThread()) {
    if (Old->FRefCount.fetch_sub(1) == 1 && AllowFree && defaultSession)
      RunReported([Old] {
        TIB_Session* s = Old;
        FreeDefaultSession(s);
      });
    return;
  }
  // On another thread: the session's thread may be ending right now; the lock decides which of the two
  // frees a session that nothing holds. While its thread runs, that thread frees it when it ends; once
  // it has ended nobody else will, whatever the caller allowed.
  bool freeHere = false;
  {
    std::lock_guard<std::mutex> lock(gThreadEndMutex);
    freeHere = Old->FRefCount.fetch_sub(1) == 1 && defaultSession && Old->ThreadEnded();
  }
  if (freeHere) RunReported([Old] { delete Old; });
}

void TIB_Component::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent && AComponent == FSession) {
    RunReported([this] { SetSession(nullptr); });
    if (FSession == AComponent) UnbindFrom(FSession, false);
  }
  TComponent::Notification(AComponent, Operation);
}

void TIB_Component::DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes,
                                  int32_t SQLCODE, TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) {
  if (OnError) CallOut(OnError, Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
}

void TIB_Component::BeginBusyChecked(bool Yield) {
  if (!FSession && !GetSession()) IB_Raise<EIB_Error>(IBMsg::SessionIsUndefined);
  // A session is unguarded: used from a second thread at once it would corrupt silently.
  if (!FSession->OnOwnThread() && !FSession->ThreadEnded()) IB_Raise<EIB_Error>(IBMsg::SessionOfAnotherThread);
  if (!FInternal) FSession->BeginBusy(Yield);
  ++FBusyDepth;
}

void TIB_Component::JoinSessionRegistry(TIB_SessionRegistry Registry) {
  if (FSession && !FInternal) FSession->Join(Registry, this);
}

void TIB_Component::LeaveSessionRegistry(TIB_SessionRegistry Registry) {
  if (FSession && !FInternal) FSession->Leave(Registry, this);
}


