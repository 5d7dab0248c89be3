#include "dblib/IB_Session.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "dblib/IB_Constants.h"

namespace {

const char* const SForeignDefaultSession = "The default session of another thread cannot be released here";
const char* const SSessionDestroying = "Cannot join a session that is being destroyed";

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

// The thread's two session slots. When the thread ends, a default session that nothing holds any
// more is freed; on the main thread the library's own module ends first.
struct TThreadSlots {
  TIB_Session* Explicit = nullptr;
  TIB_Session* Default = nullptr;
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
  if (Default && Default->GetRefCount() == 0) {
    TIB_Session* s = Default;
    Default = nullptr;
    delete s;
  }
  Explicit = nullptr;
  Default = nullptr;
  tlsSlotsGone = true;
}

// The library's own initialisation, on first use on the main thread: an internal component bound to
// the main thread's default session, which shows the busy cursor and runs the time-out timer.
void ModuleStart() {
  if (gModuleStarted || gModuleEnded || !IsMainThread()) return;
  gModuleStarted = true;
  auto* c = new TIB_Component(nullptr);
  try {
    TIB_Session* s = c->GetSession();
    s->SetUseCursor(true);
    s->SetTimerInterval(5000);
  } catch (...) {
    delete c;
    gModuleStarted = false;
    throw;
  }
  gModuleComponent = c;
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
  if (Session->GetAutoCreated() && !Session->OnOwnThread()) throw EIB_Error(SForeignDefaultSession);
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
      FThreadId(std::this_thread::get_id()) {}

TIB_Session::~TIB_Session() = default;

void TIB_Session::BeforeDestruction() {
  // Stopped at once, even inside a tick: no timer may call a freed session.
  if (FTickAlive) *FTickAlive = false;
  FTimerInterval = 0;
  try {
    ApplyTimer(0);
  } catch (...) {
    ReportException(std::current_exception());
  }
  // Components leave first to last; each one's SetSession takes it out of its registries.
  std::vector<TIB_Component*> snapshot = FRegistries[srComponents];
  for (TIB_Component* c : snapshot) {
    if (!InRegistry(srComponents, c)) continue;
    try {
      c->SetSession(nullptr);
    } catch (...) {
      ReportException(std::current_exception());
    }
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
  if (auto* c = dynamic_cast<TIB_Component*>(Sender))
    c->DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
  if (RaiseException)
    TIB_SessionBase::DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
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
  if (Event && CanFireEvents()) Event(this);
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
  if (TIB_Component* old = FFocused[Role]) old->DoLoseFocus();
  FFocused[Role] = Value;
  if (Role == frDataSource) SetFocused(frDataset, Value ? Value->GetFocusPeer(frDataset) : nullptr);
  if (!Value || Value->GetAnnounceFocus()) {
    std::vector<TIB_Component*> snapshot = FRegistries[Links];
    // Links that a handler frees meanwhile are skipped.
    ForEachStill(snapshot, FRegistries[Links], [&](TIB_Component* link) {
      if (link->GetReceiveFocus()) link->DoReceiveFocus(Value);
    });
  }
  // Unless a handler has moved the focus on meanwhile.
  if (Value && FFocused[Role] == Value) Value->DoGainFocus();
}

// ---------------------------------------------------------------------------------------------
// Busy brackets

void TIB_Session::BeginBusy(bool Yield) {
  const int32_t oldYieldLevel = FYieldLevel;
  if (Yield && FYieldLevel == -1) FYieldLevel = FBusyLevel;
  try {
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
  } catch (...) {
    // A handler that raised leaves no bracket open.
    FYieldLevel = oldYieldLevel;
    throw;
  }
  ++FBusyLevel;
}

void TIB_Session::EndBusy() {
  // An end without a matching begin changes nothing (and fires nothing).
  if (FBusyLevel <= 0) return;
  --FBusyLevel;
  std::exception_ptr failure;
  if (FYieldLevel == FBusyLevel) {
    FYieldLevel = -1;
    if (FSavedCursor != -1 && FBusyLevel >= 1 && FBusyCursorDisabled == 0) SetScreenCursor(FBusyCursor);
    try {
      Fire(OnEndYield);
    } catch (...) {
      failure = std::current_exception();
    }
  }
  if (FBusyLevel == 0) {
    // The cursor comes back even when a handler of the yield's end raised.
    if (FSavedCursor != -1 && FSavedCursor != GetScreenCursor()) SetScreenCursor(FSavedCursor);
    if (!failure) Fire(OnEndBusy);
  }
  if (failure) std::rethrow_exception(failure);
}

void TIB_Session::DoGetDataLinkColor(TIB_DataLink* DataLink, TColor& Color) {
  if (OnGetDataLinkColor) OnGetDataLinkColor(this, DataLink, Color);
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
    bool alive = true;
    FTickAlive = &alive;
    FInTimer = true;
    try {
      std::vector<TIB_Component*> snapshot = FRegistries[srTransactions];
      for (TIB_Component* t : snapshot) {
        if (Terminate || !alive) break;
        if (!InRegistry(srTransactions, t)) continue;
        t->TimeoutCheck(Terminate);
      }
      if (alive && !Terminate) {
        const TNotifyEvent event = OnSessionTimer;  // outlives the session should the handler free it
        Fire(event);
      }
    } catch (...) {
      ReportException(std::current_exception());
    }
    if (!alive) return;
    FTickAlive = nullptr;
    FInTimer = false;
  }
  if (FTimerInterval != FActiveInterval) {
    try {
      ApplyTimer(FTimerInterval);
    } catch (...) {
      ReportException(std::current_exception());
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TIB_Component

TIB_Component::TIB_Component(TComponent* AOwner) : TComponent(AOwner) {
  auto* libOwner = dynamic_cast<TIB_Component*>(AOwner);
  FInternal = !AOwner || (libOwner && libOwner->FInternal);
  FindSession(false);
}

TIB_Component::~TIB_Component() = default;

void TIB_Component::BeforeDestruction() {
  try {
    SetSession(nullptr);
  } catch (...) {
    ReportException(std::current_exception());
  }
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
  FSearching = true;
  try {
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
  } catch (...) {
    FSearching = false;
    throw;
  }
  FSearching = false;
  return FSession != nullptr;
}

void TIB_Component::SetSession(TIB_Session* ASession) {
  if (ASession == FSession) return;
  TIB_Session* old = FSession;
  if (ASession && ASession->IsDestroying()) throw EIB_Error(SSessionDestroying);
  // Leaving another thread's default session would race with that thread and could free the session
  // while its thread's slot still names it.
  if (old && !old->IsDestroying() && old->GetAutoCreated() && !old->OnOwnThread())
    throw EIB_Error(SForeignDefaultSession);
  const int32_t depth = FBusyDepth;
  std::exception_ptr failure;  // the first handler failure; the move completes regardless
  if (old) {
    while (FBusyDepth > 0) {
      try {
        EndBusy();
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    UnbindFrom(old, true);
  }
  if (ASession) {
    FSession = ASession;
    ASession->FRefCount.fetch_add(1);
    if (!FInternal) ASession->Join(srComponents, this);
    // Every session, default or not, gives notice of its end, so no component keeps a dangling one.
    ASession->FreeNotification(this);
    while (FBusyDepth < depth) {
      try {
        BeginBusy(true);
      } catch (...) {
        if (!failure) failure = std::current_exception();
        break;
      }
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
  if (Old->FRefCount.fetch_sub(1) == 1 && AllowFree && Old->GetAutoCreated() && !Old->IsDestroying() &&
      Old->OnOwnThread()) {
    try {
      TIB_Session* s = Old;
      FreeDefaultSession(s);
    } catch (...) {
      ReportException(std::current_exception());
    }
  }
}

void TIB_Component::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent && AComponent == FSession) {
    try {
      SetSession(nullptr);
    } catch (...) {
      ReportException(std::current_exception());
    }
    if (FSession == AComponent) UnbindFrom(FSession, false);
  }
  TComponent::Notification(AComponent, Operation);
}

void TIB_Component::DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes,
                                  int32_t SQLCODE, TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) {
  if (OnError) OnError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
}

void TIB_Component::BeginBusy(bool Yield) {
  if (!FSession && !GetSession()) IB_Raise<EIB_Error>(65117);
  if (!FInternal) FSession->BeginBusy(Yield);
  ++FBusyDepth;
}

void TIB_Component::EndBusy() {
  // A component with no open bracket must not end one that another component opened.
  if (FBusyDepth <= 0) return;
  --FBusyDepth;
  if (FSession && !FInternal) FSession->EndBusy();
}

void TIB_Component::JoinSessionRegistry(TIB_SessionRegistry Registry) {
  if (FSession && !FInternal) FSession->Join(Registry, this);
}

void TIB_Component::LeaveSessionRegistry(TIB_SessionRegistry Registry) {
  if (FSession && !FInternal) FSession->Leave(Registry, this);
}

TIB_BusyBracket::~TIB_BusyBracket() noexcept {
  try {
    FComponent->EndBusy();
  } catch (...) {
    ReportException(std::current_exception());
  }
}
