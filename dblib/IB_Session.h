// Sessions and the component base.
//
// A TIB_Session is the per-thread home of the library's components: it holds the client-library
// binding (TIB_SessionBase), nine registries of live components, the objects that have the user's
// focus, the busy state with its screen cursor, the row-state colours of data-aware controls and
// the timer that drives transaction time-outs. TIB_Component is the base of every library
// component: it finds and binds its session, brackets its work with BeginBusy/EndBusy and carries
// its own OnError event.
//
// How the later component classes plug in
// ---------------------------------------
// * Registries. A class that keeps a registry (connections, transactions, links, statements,
//   datasets, data sources, data links) overrides SetSession: before calling the inherited step it
//   leaves its registry with LeaveSessionRegistry(), after it joins with JoinSessionRegistry();
//   both do nothing for internal components. Because the base constructor binds an owner-found
//   session before the derived part exists, such a class also joins its registry at the end of its
//   own constructor when GetBoundSession() is not null. As a safety net, a component that leaves a
//   session is also taken out of every registry and out of the session's focus and
//   DefaultConnection by the base (without events); the overrides still do their own steps first,
//   so that the lose-focus events fire.
// * Focus. The session's focus setters reach the focused objects and their links only through the
//   virtual focus hooks of TIB_Component (GetAnnounceFocus, DoGainFocus, DoLoseFocus,
//   GetReceiveFocus, DoReceiveFocus, GetFocusPeer); connections, transactions, datasets, data
//   sources and their links override the ones that concern them. The typed accessors
//   (GetFocusedConnection() and friends) are templates that resolve the class at the caller, so
//   this unit needs only forward declarations.
// * Timer. Each session timer tick calls TimeoutCheck(Terminate) of every registered transaction.
//
// Threads: a session belongs to the thread that made it, and only that thread may use its
// components: a component whose busy bracket opens on another thread raises EIB_Error (one session
// per thread). A session records its thread's end; from then on its components may be used and freed
// on any thread (one at a time: the application hands them over, say after joining the thread), and
// a default session is freed when its last component leaves, on whichever thread that happens. While
// its thread still runs, a component bound to its default session cannot leave it from another thread
// (SetSession raises EIB_Error; a destruction there reports the error to the application and leaves
// the session to its own thread). When a thread ends, its default session is freed if no component
// holds it; on the main thread the library's own module (started on the first CurrentSession there)
// ends first.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "dblib/IB_Alive.h"
#include "dblib/IB_Errors.h"
#include "dblib/IB_SessionBase.h"
#include "platform/Classes.h"
#include "platform/Forms.h"

class TIB_Session;
class TIB_Component;
class TIB_Connection;
class TIB_ConnectionLink;
class TIB_Transaction;
class TIB_TransactionLink;
class TIB_Statement;
class TIB_Dataset;
class TIB_DataSource;
class TIB_DataLink;
struct TIB_ThreadLife;

// The nine registries of a session, in their order.
enum TIB_SessionRegistry {
  srComponents,
  srConnections,
  srConnectionLinks,
  srTransactions,
  srTransactionLinks,
  srStatements,
  srDatasets,
  srDataSources,
  srDataLinks,
};
inline constexpr int IB_SessionRegistryCount = 9;

// The four kinds of object that can hold a session's focus.
enum TIB_FocusRole { frConnection, frTransaction, frDataset, frDataSource };

using TIB_GetDataLinkColorEvent = std::function<void(TIB_Session* Sender, TIB_DataLink* DataLink, TColor& StateColor)>;

// The calling thread's session: its explicit session when one is set, else its default session,
// which is made on first use (AutoCreated, named "DefaultSession", without owner).
TIB_Session* CurrentSession();
// Frees Session (when not null) and sets it to nil; when it is the calling thread's default session
// the thread's slot is cleared first. The default session of another thread that still runs is
// refused with EIB_Error, since that thread's slot would be left pointing at a freed session.
void FreeDefaultSession(TIB_Session*& Session);
// The session a thread chose for itself, consulted by CurrentSession before the default session.
// The library never sets it; it is cleared when that session is destroyed on this thread.
TIB_Session* GetExplicitSession();
void SetExplicitSession(TIB_Session* Session);

// A thread's session of library components. Used by its own thread only, except for the
// reference count. Owns its registries (the lists, not the components).
class TIB_Session : public TIB_SessionBase {
public:
  explicit TIB_Session(TComponent* AOwner);
  ~TIB_Session() override;

  void BeforeDestruction() override;

  bool GetAutoCreated() const noexcept { return FAutoCreated; }
  // True on the thread that made the session.
  bool OnOwnThread() const noexcept { return std::this_thread::get_id() == FThreadId; }
  // True once the thread that made the session has ended.
  bool ThreadEnded() const noexcept;
  int32_t GetRefCount() const noexcept { return FRefCount.load(); }

  // Registries (registry order; internal components are in none).
  const std::vector<TIB_Component*>& GetRegistry(TIB_SessionRegistry Registry) const { return FRegistries[Registry]; }
  bool InRegistry(TIB_SessionRegistry Registry, const TIB_Component* AComponent) const;

  // The first registered connection whose DatabaseName equals Name ignoring case, else nil.
  template <class T = TIB_Connection>
  T* GetConnectionByDatabaseName(std::string_view Name) const {
    for (TIB_Component* c : GetRegistry(srConnections)) {
      T* conn = static_cast<T*>(c);
      if (SameText(conn->GetDatabaseName(), Name)) return conn;
    }
    return nullptr;
  }

  template <class T = TIB_Connection>
  T* GetDefaultConnection() const {
    return static_cast<T*>(FDefaultConnection);
  }
  template <class T = TIB_Connection>
  void SetDefaultConnection(std::type_identity_t<T>* Value) {
    FDefaultConnection = Value;
  }

  // Focus. The typed accessors forward to the role-based ones.
  TIB_Component* GetFocused(TIB_FocusRole Role) const noexcept { return FFocused[Role]; }
  void SetFocused(TIB_FocusRole Role, TIB_Component* Value);
  template <class T = TIB_Connection>
  T* GetFocusedConnection() const {
    return static_cast<T*>(FFocused[frConnection]);
  }
  template <class T = TIB_Connection>
  void SetFocusedConnection(std::type_identity_t<T>* Value) {
    SetFocused(frConnection, Value);
  }
  template <class T = TIB_Transaction>
  T* GetFocusedTransaction() const {
    return static_cast<T*>(FFocused[frTransaction]);
  }
  template <class T = TIB_Transaction>
  void SetFocusedTransaction(std::type_identity_t<T>* Value) {
    SetFocused(frTransaction, Value);
  }
  template <class T = TIB_Dataset>
  T* GetFocusedDataset() const {
    return static_cast<T*>(FFocused[frDataset]);
  }
  template <class T = TIB_Dataset>
  void SetFocusedDataset(std::type_identity_t<T>* Value) {
    SetFocused(frDataset, Value);
  }
  template <class T = TIB_DataSource>
  T* GetFocusedDataSource() const {
    return static_cast<T*>(FFocused[frDataSource]);
  }
  template <class T = TIB_DataSource>
  void SetFocusedDataSource(std::type_identity_t<T>* Value) {
    SetFocused(frDataSource, Value);
  }

  bool GetStoreActive() const noexcept { return FStoreActive; }
  void SetStoreActive(bool Value) { FStoreActive = Value; }
  bool GetAllowDefaultConnection() const noexcept { return FAllowDefaultConnection; }
  void SetAllowDefaultConnection(bool Value) { FAllowDefaultConnection = Value; }
  bool GetAllowDefaultTransaction() const noexcept { return FAllowDefaultTransaction; }
  void SetAllowDefaultTransaction(bool Value) { FAllowDefaultTransaction = Value; }

  // Busy brackets. Only the outermost bracket fires OnBeginBusy/OnEndBusy and changes the cursor.
  // Brackets with no handler to fire are handled here; the rest by BeginBusyFully/EndBusyFully.
  void BeginBusy(bool Yield) {
    const int32_t yieldLevel = Yield && FYieldLevel == -1 ? FBusyLevel : FYieldLevel;
    if (FBusyLevel == 0) {
      if (OnBeginBusy || (Yield && OnBeginYield)) return BeginBusyFully(Yield);
      if (FUseCursor) {
        const TCursor current = Screen.GetCursor();
        FSavedCursor = (current == FBusyCursor || current == FYieldCursor) ? crDefault : current;
        const TCursor busy = Yield ? FYieldCursor : FBusyCursor;
        if (FBusyCursorDisabled == 0 && current != busy) Screen.SetCursor(busy);
      } else {
        FSavedCursor = -1;
      }
    } else if (FBusyLevel == yieldLevel && (OnBeginYield || FSavedCursor != -1)) {
      return BeginBusyFully(Yield);
    }
    FYieldLevel = yieldLevel;
    ++FBusyLevel;
  }
  void EndBusy() {
    const int32_t level = FBusyLevel - 1;
    const bool endsYield = FYieldLevel == level;
    if (level < 0 || (endsYield && (OnEndYield || (level > 0 && FSavedCursor != -1))) || (level == 0 && OnEndBusy))
      return EndBusyFully();
    if (endsYield) FYieldLevel = -1;
    FBusyLevel = level;
    if (level == 0 && FSavedCursor != -1 && FSavedCursor != Screen.GetCursor()) Screen.SetCursor(FSavedCursor);
  }
  // Ends a busy bracket without firing OnEndYield/OnEndBusy (a scope left by an exception): the levels
  // go back and the cursor comes back.
  void EndBusyQuietly() noexcept;
  bool IsBusy() const noexcept { return FBusyLevel > 0 || FInTimer; }
  int32_t GetBusyLevel() const noexcept { return FBusyLevel; }
  int32_t GetYieldLevel() const noexcept { return FYieldLevel; }
  void DisableBusyCursor() { ++FBusyCursorDisabled; }
  void EnableBusyCursor() {
    if (FBusyCursorDisabled > 0) --FBusyCursorDisabled;
  }
  int32_t GetBusyCursorDisabled() const noexcept { return FBusyCursorDisabled; }
  bool GetUseCursor() const noexcept { return FUseCursor; }
  void SetUseCursor(bool Value) { FUseCursor = Value; }
  TCursor GetBusyCursor() const noexcept { return FBusyCursor; }
  void SetBusyCursor(TCursor Value) { FBusyCursor = Value; }
  TCursor GetYieldCursor() const noexcept { return FYieldCursor; }
  void SetYieldCursor(TCursor Value) { FYieldCursor = Value; }

  // Row-state colours for data-aware controls.
  TColor GetEditingColor() const noexcept { return FEditingColor; }
  void SetEditingColor(TColor Value) { FEditingColor = Value; }
  TColor GetInsertingColor() const noexcept { return FInsertingColor; }
  void SetInsertingColor(TColor Value) { FInsertingColor = Value; }
  TColor GetDeletingColor() const noexcept { return FDeletingColor; }
  void SetDeletingColor(TColor Value) { FDeletingColor = Value; }
  TColor GetSearchingColor() const noexcept { return FSearchingColor; }
  void SetSearchingColor(TColor Value) { FSearchingColor = Value; }
  TColor GetReadOnlyColor() const noexcept { return FReadOnlyColor; }
  void SetReadOnlyColor(TColor Value) { FReadOnlyColor = Value; }
  TColor GetSelectedColor() const noexcept { return FSelectedColor; }
  void SetSelectedColor(TColor Value) { FSelectedColor = Value; }
  TColor GetInvalidColor() const noexcept { return FInvalidColor; }
  void SetInvalidColor(TColor Value) { FInvalidColor = Value; }
  TColor GetPreparedColor() const noexcept { return FPreparedColor; }
  void SetPreparedColor(TColor Value) { FPreparedColor = Value; }
  TColor GetBrowsingColor() const noexcept { return FBrowsingColor; }
  void SetBrowsingColor(TColor Value) { FBrowsingColor = Value; }
  void DoGetDataLinkColor(TIB_DataLink* DataLink, TColor& Color);

  // The session timer (0 = none). A change made while a tick runs takes effect when it ends.
  uint32_t GetTimerInterval() const noexcept { return FTimerInterval; }
  void SetTimerInterval(uint32_t Value);
  bool GetInTimer() const noexcept { return FInTimer; }

  TNotifyEvent OnBeginBusy;
  TNotifyEvent OnEndBusy;
  TNotifyEvent OnBeginYield;
  TNotifyEvent OnEndYield;
  TIB_GetDataLinkColorEvent OnGetDataLinkColor;
  TNotifyEvent OnSessionTimer;

protected:
  // The failing component's handlers first (its OnError), then, while RaiseException still holds,
  // the session's own.
  void DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes, int32_t SQLCODE,
                     TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) override;

private:
  friend class TIB_Component;
  friend TIB_Session* CurrentSession();

  bool CanFireEvents() const noexcept { return !HasState(csDestroying) && !HasState(csLoading); }
  void Fire(const TNotifyEvent& Event);
  void BeginBusyFully(bool Yield);
  void EndBusyFully();
  void Join(TIB_SessionRegistry Registry, TIB_Component* AComponent);
  void Leave(TIB_SessionRegistry Registry, TIB_Component* AComponent);
  void Forget(TIB_Component* AComponent);
  void SetFocusedHolder(TIB_FocusRole Role, TIB_SessionRegistry Links, TIB_Component* Value);
  void Tick();
  void ApplyTimer(uint32_t Value);

  bool FAutoCreated = false;
  TIB_Component* FDefaultConnection = nullptr;
  TIB_Component* FFocused[4] = {nullptr, nullptr, nullptr, nullptr};
  bool FStoreActive = false;
  int32_t FBusyLevel = 0;
  int32_t FYieldLevel = -1;
  int32_t FBusyCursorDisabled = 0;
  bool FUseCursor = false;
  TCursor FBusyCursor = crSQLWait;
  TCursor FYieldCursor = crAppStart;
  TCursor FSavedCursor = -1;
  TColor FEditingColor;
  TColor FInsertingColor;
  TColor FDeletingColor;
  TColor FSearchingColor;
  TColor FReadOnlyColor;
  TColor FSelectedColor;
  TColor FInvalidColor;
  TColor FPreparedColor;
  TColor FBrowsingColor;
  bool FAllowDefaultConnection = true;
  bool FAllowDefaultTransaction = true;
  std::atomic<int32_t> FRefCount{0};
  bool FInTimer = false;
  uint32_t FTimerInterval = 0;   // what the caller set
  uint32_t FActiveInterval = 0;  // what the platform's timer runs with
  TApplication* FTimerApplication = nullptr;
  std::vector<TIB_Component*> FRegistries[IB_SessionRegistryCount];
  std::thread::id FThreadId;
  std::shared_ptr<TIB_ThreadLife> FThreadLife;  // shared with the making thread, which marks its end
};

// Base of every library component: session binding, busy bracket and its own error event.
// A component is internal when it has no owner, or its owner is an internal library component;
// internal components stay out of the session's registries and busy cursor.
class TIB_Component : public TComponent {
public:
  explicit TIB_Component(TComponent* AOwner);
  ~TIB_Component() override;

  void BeforeDestruction() override;

  virtual void SetOnError(TIB_ErrorEvent Value) { OnError = std::move(Value); }
  // The bound session; an unbound component searches its owners and else takes CurrentSession.
  virtual TIB_Session* GetSession();
  // Binds the component to ASession (nil unbinds), moving its open brackets along.
  virtual void SetSession(TIB_Session* ASession);
  // Fires OnError with its arguments when assigned.
  virtual void DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes,
                             int32_t SQLCODE, TStrings& SQLMessage, TStrings& SQL, bool& RaiseException);

  // Every public operation that may take time or call the server runs inside a bracket. A bracket
  // opened on another thread than the session's (while that thread runs) raises EIB_Error instead.
  void BeginBusy(bool Yield) {
    if (FSession && FSession->OnOwnThread()) {
      if (!FInternal) FSession->BeginBusy(Yield);
      ++FBusyDepth;
      return;
    }
    BeginBusyChecked(Yield);
  }
  void EndBusy() {
    // A component with no open bracket must not end one that another component opened.
    if (FBusyDepth <= 0) return;
    --FBusyDepth;
    if (FSession && !FInternal) FSession->EndBusy();
  }
  // EndBusy without the session's end events (a scope left by an exception).
  void EndBusyQuietly() noexcept {
    if (FBusyDepth <= 0) return;
    --FBusyDepth;
    if (FSession && !FInternal) FSession->EndBusyQuietly();
  }
  int32_t GetBusyDepth() const noexcept { return FBusyDepth; }
  bool IsInternal() const noexcept { return FInternal; }

  std::string GetVersion() const { return "3.6.Ca"; }
  void SetVersion(const std::string&) {}

  // Focus hooks (see the top of this file). A holder of focus: a connection, transaction or data
  // source. A link following the focus: a connection link, transaction link or data link, given
  // the newly focused object (or nil). GetFocusPeer: a dataset names its connection and
  // transaction, a data source its dataset.
  virtual bool GetAnnounceFocus() const { return false; }
  virtual void DoGainFocus() {}
  virtual void DoLoseFocus() {}
  virtual bool GetReceiveFocus() const { return false; }
  virtual void DoReceiveFocus(TIB_Component* /*AFocused*/) {}
  virtual TIB_Component* GetFocusPeer(TIB_FocusRole /*Role*/) const { return nullptr; }
  // A transaction's time-out check, run by each session timer tick until Terminate is set.
  virtual void TimeoutCheck(bool& /*Terminate*/) {}

  TIB_ErrorEvent OnError;

  // The component's liveness token (GetAlive, IsAlive and FAlive, from TComponent) is cleared when it is
  // deleted (see IB_Alive.h and the destructor).

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Calls an application's handler through IB_CallOut, watching this component: the silent abort
  // when the handler destroyed it.
  template <class H, class... A>
  decltype(auto) CallOut(const H& Handler, A&&... Args) {
    return IB_CallOut(FAlive, Handler, std::forward<A>(Args)...);
  }

  // Binds an owner-found session (or, with CreateDefault, CurrentSession) when unbound; true when
  // the component has a session afterwards.
  bool FindSession(bool CreateDefault);
  TIB_Session* GetBoundSession() const noexcept { return FSession; }
  // Join or leave a registry of the bound session; nothing for internal or unbound components.
  void JoinSessionRegistry(TIB_SessionRegistry Registry);
  void LeaveSessionRegistry(TIB_SessionRegistry Registry);

private:
  friend class TIB_Session;
  TIB_Session* SessionFrom(TComponent* O);
  // BeginBusy for an unbound component or one used off its session's thread.
  void BeginBusyChecked(bool Yield);
  // Drops the binding to Old without events; frees a default session left by its last component
  // only when AllowFree.
  void UnbindFrom(TIB_Session* Old, bool AllowFree) noexcept;

  int32_t FBusyDepth = 0;
  bool FSearching = false;
  bool FInternal = false;
  TIB_Session* FSession = nullptr;
};

// Opens a busy bracket of a component; End() closes it on the normal path (the session's OnEndBusy
// may raise: its error reaches the caller). Left by an exception, the bracket closes quietly.
// A dataset, which code it calls may destroy, uses its operation object instead.
class TIB_BusyBracket {
public:
  explicit TIB_BusyBracket(TIB_Component* AComponent, bool Yield = false)
      : FComponent(AComponent), FAlive(AComponent->GetAlive()) {
    FComponent->BeginBusy(Yield);
  }
  ~TIB_BusyBracket() {
    if (FComponent && FAlive.Get()) FComponent->EndBusyQuietly();
  }
  TIB_BusyBracket(const TIB_BusyBracket&) = delete;
  TIB_BusyBracket& operator=(const TIB_BusyBracket&) = delete;
  // A component that code it called destroyed ends the bracket with the silent abort.
  void End() {
    if (TIB_Component* c = std::exchange(FComponent, nullptr)) {
      IB_CheckAlive(FAlive);
      c->EndBusy();
    }
  }
  // End(), then Result: for `return busy.Ended(value);`.
  template <class T>
  T Ended(T Result) {
    End();
    return Result;
  }

private:
  TIB_Component* FComponent;
  TIB_AliveFlag FAlive;
};
