// The transaction's settings, registrations, state machine, link events and focus. Starting is in
// IB_TransactionStart.cpp, ending in IB_TransactionEnd.cpp.
#include "dblib/IB_Transaction.h"

#include <algorithm>

#include "dblib/IB_Constants.h"
#include "platform/Forms.h"

namespace {

template <class T>
bool Contains(const std::vector<T*>& List, const T* Item) {
  return std::find(List.begin(), List.end(), Item) != List.end();
}

template <class T>
void EraseItem(std::vector<T*>& List, const T* Item) {
  auto it = std::find(List.begin(), List.end(), Item);
  if (it != List.end()) List.erase(it);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Construction and destruction

TIB_Transaction::TIB_Transaction(TComponent* AOwner) : TIB_Component(AOwner) {
  const TDateTime now = Now();
  FActivityStart = now;
  FStartTime = now;
  FEndTime = now;
  // The base constructor may already have bound an owner-found session, before this class existed.
  if (GetBoundSession()) JoinSessionRegistry(srTransactions);
}

TIB_Transaction::~TIB_Transaction() = default;

void TIB_Transaction::BeforeDestruction() {
  if (GetStarted() || FExplicitStart || GetTransactionIsActive()) {
    RunReported([&] { Close(); });
    // A close that failed (a refused commit under AutoCommit, say) must not leave the server
    // transaction behind the freed component: it is rolled back without further ado.
    AbandonServerTransaction();
  }
  // Links let go of the transaction; each of them unregisters itself.
  const std::vector<TIB_TransactionLinkIntf*> links = FLinks;
  const TIB_AliveFlag alive = FAlive;
  for (TIB_TransactionLinkIntf* link : links) {
    if (!Contains(FLinks, link)) continue;
    RunReported([&] { link->TransactionDestroying(this); });
    EraseItem(FLinks, link);
  }
  while (!FConnections.empty()) RunReported([&] { RemoveConnection(GetConnection(Get_ConnectionCount() - 1)); });
  FDatasets.clear();
  FStatements.clear();
  TIB_Component::BeforeDestruction();
}

void TIB_Transaction::AbandonServerTransaction() noexcept {
  if (!GetStarted()) return;
  RunReported([&] {
    if (TIB_Session* session = GetBoundSession())
      TIB_SessionBase::CallScratch(session->Entries.isc_rollback_transaction, &FHandle);
  });
  FHandle = 0;
  AfterServerEnd();
  // The work is gone with the server transaction: so are its notices and its explicit start.
  FDMLCache.Flush(false);
  FExplicitStart = false;
  if (HasState(csDestroying) || IsDestroying()) return;
  FState = tsRollingBack;
  RunReported([&] { RecomputeState(); });
  if (FState >= tsSavePoint) FState = tsInactive;
}

void TIB_Transaction::SetSession(TIB_Session* ASession) {
  TIB_Session* old = GetBoundSession();
  if (ASession == old) return;
  if (old && !IsInternal()) {
    if (old->GetFocusedTransaction() == this) old->SetFocusedTransaction(nullptr);
    LeaveSessionRegistry(srTransactions);
  }
  TIB_Component::SetSession(ASession);
  JoinSessionRegistry(srTransactions);
}

void TIB_Transaction::Loaded() {
  TIB_Component::Loaded();
  // A start asked for while the component was read from its stored form happens now.
  if (FState == tsStartRequested && !GetStarted()) {
    FState = tsInactive;
    RunReported([&] {
      TIB_BusyBracket busy(this);
      SysStart();
      busy.End();
    });
  }
}

// ---------------------------------------------------------------------------------------------------
// Settings

void TIB_Transaction::SetReadOnly(bool Value) {
  if (Value == FReadOnly) return;
  CheckOptionChange(IBMsg::CannotChangeReadOnlyWhenStarted);
  FReadOnly = Value;
}

void TIB_Transaction::SetIsolation(TIB_Isolation Value) {
  if (Value == FIsolation) return;
  CheckOptionChange(IBMsg::CannotChangeIsolationWhenStarted);
  FIsolation = Value;
}

void TIB_Transaction::SetRecVersion(bool Value) {
  if (Value == FRecVersion) return;
  CheckOptionChange(IBMsg::CannotChangeRecVersionWhenStarted);
  FRecVersion = Value;
}

void TIB_Transaction::SetLockWait(bool Value) {
  if (Value == FLockWait) return;
  CheckOptionChange(IBMsg::CannotChangeLockWaitWhenStarted);
  FLockWait = Value;
}

void TIB_Transaction::SetAutoCommit(bool Value) {
  if (Value == FAutoCommit) return;
  FAutoCommit = Value;
  // Turning it on makes an active transaction save its work at once.
  SetTransactionState(FState);
}

void TIB_Transaction::SetServerAutoCommit(bool Value) {
  if (Value == FServerAutoCommit) return;
  if (GetStarted() && Value) Commit();
  Close();
  FServerAutoCommit = Value;
}

void TIB_Transaction::SetAnnounceFocus(bool Value) {
  FAnnounceFocus = Value;
  if (Value) {
    if (TIB_Session* session = GetSession()) session->SetFocusedTransaction(this);
  }
}

// ---------------------------------------------------------------------------------------------------
// Registrations

TIB_Connection* TIB_Transaction::GetConnection(int Index) const {
  if (Index < 0 || Index >= Get_ConnectionCount()) return nullptr;
  return FConnections[static_cast<size_t>(Index)];
}

int TIB_Transaction::GetConnectionIndex(const TIB_Connection* AConnection) const {
  for (int i = 0; i < Get_ConnectionCount(); ++i)
    if (GetConnection(i) == AConnection) return i;
  return -1;
}

void TIB_Transaction::SetConnectionAt(int Index, TIB_Connection* Value) {
  if (Value && GetConnectionIndex(Value) >= 0) return;
  if (TIB_Connection* old = GetConnection(Index)) RemoveConnection(old);
  if (Value) AddConnection(Value);
}

void TIB_Transaction::AddStatement(TIB_Statement* AStatement) {
  if (AStatement && !Contains(FStatements, AStatement)) FStatements.push_back(AStatement);
}

void TIB_Transaction::RemoveStatement(TIB_Statement* AStatement) { EraseItem(FStatements, AStatement); }

TIB_Statement* TIB_Transaction::GetStatement(int Index) const {
  if (Index < 0 || Index >= Get_StatementCount()) return nullptr;
  return FStatements[static_cast<size_t>(Index)];
}

void TIB_Transaction::AddDataset(TIB_TransactionDatasetIntf* ADataset) {
  if (ADataset && !Contains(FDatasets, ADataset)) FDatasets.push_back(ADataset);
}

void TIB_Transaction::RemoveDataset(TIB_TransactionDatasetIntf* ADataset) { EraseItem(FDatasets, ADataset); }

TIB_TransactionDatasetIntf* TIB_Transaction::GetDataset(int Index) const {
  if (Index < 0 || Index >= Get_DatasetCount()) return nullptr;
  return FDatasets[static_cast<size_t>(Index)];
}

bool TIB_Transaction::HasDataset(const TIB_TransactionDatasetIntf* ADataset) const {
  return Contains(FDatasets, ADataset);
}

void TIB_Transaction::AddTransactionLink(TIB_TransactionLinkIntf* ALink) {
  if (ALink && !Contains(FLinks, ALink)) FLinks.push_back(ALink);
}

void TIB_Transaction::RemoveTransactionLink(TIB_TransactionLinkIntf* ALink) { EraseItem(FLinks, ALink); }

TIB_TransactionLinkIntf* TIB_Transaction::GetTransactionLink(int Index) const {
  if (Index < 0 || Index >= Get_TransactionLinkCount()) return nullptr;
  return FLinks[static_cast<size_t>(Index)];
}

void TIB_Transaction::ProcessLinkEvent(uint8_t AEvent) {
  // Handlers may add or remove links: walk a snapshot and skip the ones that have left.
  const std::vector<TIB_TransactionLinkIntf*> links = FLinks;
  const TIB_AliveFlag alive = FAlive;
  for (TIB_TransactionLinkIntf* link : links)
    if (Contains(FLinks, link)) {
      link->ProcessEvent(AEvent);
      // A link's handler may destroy the transaction.
      IB_CheckAlive(alive);
    }
}

void TIB_Transaction::Fire(const TIB_TransactionEvent& Event) {
  if (Event && CanFireEvents()) CallOut(Event, this);
}

// ---------------------------------------------------------------------------------------------------
// State

bool TIB_Transaction::GetTransactionIsActive() const noexcept {
  return FPostPendingCount > 0 || FUpdatesPendingCount > 0 || FState == tsPending || FState == tsActive ||
         (FState >= tsSavePoint && FState <= tsRollingBack);
}

TDateTime TIB_Transaction::GetElapsed() const {
  // Counted on the monotonic tick: a wall clock set back or forward neither ends the transaction early
  // nor keeps it running for ever.
  constexpr double msPerDay = 86400000.0;
  return GetStarted() ? static_cast<double>(GetTickCount64() - FStartTick) / msPerDay : 0.0;
}

void TIB_Transaction::SetTransactionState(TIB_TransactionState Value) {
  if (GetAutoCommit() && !FExplicitStart && Value == tsActive && (FServerAutoCommit || FAutoCommitHolds == 0)) {
    // The change is saved at once, so the transaction never holds work of its own; with the server's
    // auto-commit the server has done that already. (A hold keeps the change until its end.)
    if (!FServerAutoCommit) SavePoint();
    return;
  }
  if (Value == FState) return;
  if (FState == tsInactive) {
    FActivationCount = 0;
    FActivityStart = Now();
  }
  FState = Value;
  ProcessLinkEvent(tleStateChanged);
}

// After an operation, an "in progress" state goes back to rest: 5, 6 and 9 to 2 while the transaction
// is still started (else 0), 1, 7 and 10 to 0. Then pending dataset work turns 0 or 2 into 3, and a
// started transaction at 0 reads 2. The OAT check passes AfterOperation false, which turns 0 into 2
// as well, so that a quiet server commit looks like no change to controls.
void TIB_Transaction::RecomputeState(bool AfterOperation) {
  TIB_TransactionState s = FState;
  switch (s) {
    case tsSavePoint:
    case tsCommitRetaining:
    case tsRollbackRetaining: s = GetStarted() ? tsStarted : tsInactive; break;
    case tsStartRequested:
    case tsCommitting:
    case tsRollingBack: s = tsInactive; break;
    default: break;
  }
  if (FPostPendingCount > 0 || FUpdatesPendingCount > 0) {
    if (s == tsInactive || s == tsStarted) s = tsPending;
  } else if (s == tsInactive && GetStarted()) {
    s = tsStarted;
  }
  if (!AfterOperation && s == tsInactive) s = tsStarted;
  SetTransactionState(s);
}

void TIB_Transaction::RestoreStateAfterFailure(TIB_TransactionState Prior) noexcept {
  RunReported([&] {
    // A transaction that held changes and is still started still holds them: it stays active, so
    // that a following commit or rollback deals with them. Everything else is recomputed.
    if (Prior == tsActive && GetStarted()) {
      if (FState != tsActive) {
        FState = tsActive;
        ProcessLinkEvent(tleStateChanged);
      }
    } else {
      RecomputeState();
    }
  });
  // Whatever a handler did, no "in progress" state survives.
  if (FState == tsStartRequested || FState >= tsSavePoint) FState = GetStarted() ? tsStarted : tsInactive;
}

void TIB_Transaction::Activate() {
  switch (FState) {
    case tsInactive:
    case tsStarted:
    case tsPending: SetTransactionState(tsActive); break;
    case tsStartRequested: IB_Raise<EIB_TransactionError>(IBMsg::InvalidTransactionStateCannotActivate);
    default: break;
  }
  ++FActivationCount;
  FTimeoutProps.SetCommitFailed(false);
}

void TIB_Transaction::ReleaseAutoCommit(bool Save, bool TakenBack) {
  if (FAutoCommitHolds > 0) --FAutoCommitHolds;
  if (FAutoCommitHolds > 0 || FState != tsActive || !GetAutoCommit() || FServerAutoCommit || FExplicitStart) return;
  if (Save) {
    SavePoint();
  } else if (TakenBack) {
    // Nothing of the held work is left: the transaction holds what it held before, pending dataset work.
    RunReported([&] { SetTransactionState(FPostPendingCount > 0 || FUpdatesPendingCount > 0 ? tsPending : tsStarted); });
  }
}

void TIB_Transaction::UpdatePendingState() {
  const bool pending = FPostPendingCount > 0 || FUpdatesPendingCount > 0;
  if (pending && (FState == tsInactive || FState == tsStarted)) {
    SetTransactionState(tsPending);
  } else if (!pending && FState == tsPending) {
    SetTransactionState(tsStarted);
  }
}

void TIB_Transaction::AdjustPostPendingCount(int32_t Delta) {
  FPostPendingCount = std::max(0, FPostPendingCount + Delta);
  UpdatePendingState();
  if (FPostPendingWatchers > 0) ProcessLinkEvent(tlePostPendingChanged);
}

void TIB_Transaction::AdjustUpdatesPendingCount(int32_t Delta) {
  FUpdatesPendingCount = std::max(0, FUpdatesPendingCount + Delta);
  UpdatePendingState();
  if (FUpdatesPendingWatchers > 0) ProcessLinkEvent(tleUpdatesPendingChanged);
}

void TIB_Transaction::AdjustOpenCursorCount(int32_t Delta) { FOpenCursorCount = std::max(0, FOpenCursorCount + Delta); }

void TIB_Transaction::AdjustLockedRowCount(int32_t Delta) { FLockedRowCount = std::max(0, FLockedRowCount + Delta); }

void TIB_Transaction::DecPostPendingWatchers() {
  if (FPostPendingWatchers > 0) --FPostPendingWatchers;
}

void TIB_Transaction::DecUpdatesPendingWatchers() {
  if (FUpdatesPendingWatchers > 0) --FUpdatesPendingWatchers;
}

void TIB_Transaction::AddDMLCacheItem(TIB_TransactionDatasetIntf* Originator, const std::string& KeyFieldNames,
                                      const Variant& KeyValues, TIB_DMLCacheItemType ItemType) {
  // The originator's connection, else this transaction's: a notice without one would reach nobody.
  TIB_Connection* connection = Originator ? Originator->GetDatasetConnection() : nullptr;
  if (!connection) connection = GetConnection(0);
  FDMLCache.AddDMLCacheItem(connection, Originator, ItemType, KeyValues, KeyFieldNames);
}

// ---------------------------------------------------------------------------------------------------
// Explicit start and the Started property

void TIB_Transaction::StartTransaction() {
  if (FExplicitStart) IB_Raise<EIB_TransactionError>(IBMsg::TransactionHasAlreadyBeenStarted);
  if (FServerAutoCommit) IB_Raise<EIB_TransactionError>(IBMsg::ExplicitTransNotAllowedWithServerAutoCommit);
  FExplicitStart = true;
  ProcessLinkEvent(tleStateChanged);
}

void TIB_Transaction::SetStarted(bool Value) {
  if (Value) {
    if (GetStarted()) return;
    TIB_BusyBracket busy(this);
    SysStart();
    busy.End();
  } else {
    Close();
  }
}

// ---------------------------------------------------------------------------------------------------
// Focus

void TIB_Transaction::DoGainFocus() {
  if (OnGainFocus && CanFireEvents()) CallOut(OnGainFocus, this);
}

void TIB_Transaction::DoLoseFocus() {
  if (OnLoseFocus && CanFireEvents()) CallOut(OnLoseFocus, this);
}

// ---------------------------------------------------------------------------------------------------
// The default and internal classes

TIB_TransactionDefault::TIB_TransactionDefault(TComponent* AOwner) : TIB_Transaction(AOwner) {
  SetAutoCommit(true);
  SetIsolation(tiCommitted);
}

TIB_TransactionInternal::TIB_TransactionInternal(TComponent* AOwner) : TIB_TransactionDefault(AOwner) {
  SetReadOnly(true);
}
