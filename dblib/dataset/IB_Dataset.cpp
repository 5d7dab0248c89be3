// TIB_Dataset: construction and teardown, row state and the deferred notices, the numbered
// notifications, the data-source list, the buffer view of a cursor and what its transaction asks.
// Opening and fetching are in IB_DatasetFetch.cpp, refresh and record count in IB_DatasetRefresh.cpp.
#include "dblib/dataset/IB_Dataset.h"

#include <algorithm>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_UpdateSQL.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

// ---------------------------------------------------------------------------------------------------------
// What the transaction sees

class TIB_Dataset::TTransactionSite : public TIB_TransactionDatasetIntf {
public:
  explicit TTransactionSite(TIB_Dataset& D) : FD(D) {}
  std::string GetDatasetName() const override { return FD.GetName(); }
  TIB_AliveFlag GetDatasetAlive() const override { return FD.GetAlive(); }
  TIB_Connection* GetDatasetConnection() const override { return FD.GetIB_Connection(); }
  bool GetActive() const override { return FD.FActive; }
  bool GetIsModifying() const override { return FD.GetIsModifying(); }
  bool GetCachedUpdates() const override { return FD.FCachedUpdates; }
  bool GetUpdatesPending() const override { return FD.GetUpdatesPending(); }
  bool GetBuffered() const override { return FD.SysIsBuffered(); }
  bool GetUnidirectional() const override { return FD.GetIsUnidirectional(); }
  bool GetCursorIsOpen() const override { return FD.FCursorOpen; }
  TIB_CommitAction GetCommitAction() const override { return FD.FCommitAction; }
  bool GetHoldsRowLock() const override { return FD.FRowLockHeld; }
  // The transaction released the lock with a savepoint and lowered its count itself.
  void ClearRowLock() override {
    FD.FRowLockHeld = false;
    FD.FRowLockTransaction = nullptr;
  }
  bool GetHasPartner() const override { return false; }
  TIB_DMLCacheFlags GetDMLCacheFlags() const override { return FD.FDMLCacheFlags; }
  void Post() override {
    if (FD.GetIsModifying()) FD.Post();
  }
  void Cancel() override {
    if (FD.GetIsModifying()) FD.Cancel();
  }
  void Close() override { FD.Close(); }
  void FetchAll() override { FD.FetchAll(); }
  void RefreshKeys() override { FD.RefreshKeys(); }
  void Refresh() override { FD.Refresh(); }
  void ApplyUpdates() override { FD.SysApplyCachedUpdates(); }
  void CommitUpdates() override { FD.SysCommitCachedUpdates(); }
  void CancelUpdates() override { FD.SysCancelCachedUpdates(); }
  void UndoApply() override { FD.SysUndoApply(); }
  void AcceptApplied() override { FD.SysAcceptApplied(); }
  void ProcessDMLCacheItem(const TIB_DMLCacheItem& Item) override { FD.ProcessDMLCacheItem(Item); }
  int32_t GetBufferedRowCount() const override { return FD.GetBufferCount(); }
  void FetchForTicks(uint32_t Ticks) override {
    if (Ticks == 0 || !FD.FActive) return;  // a limit of 0 would fetch without one
    TDatasetOperation op(&FD);
    op.Busy(false);
    FD.SysFetchForTicks(Ticks);
    op.End();
  }

private:
  TIB_Dataset& FD;
};

// What the connection sees: an Active setting may wait for the attach that ends its loading.
class TIB_Dataset::TConnectionSite : public TIB_ConnectionDatasetSite {
public:
  explicit TConnectionSite(TIB_Dataset& D) : FD(D) {}
  void ApplyDeferredActive() override { FD.ApplyPendingActive(); }

private:
  TIB_Dataset& FD;
};

// ---------------------------------------------------------------------------------------------------------
// Construction and teardown

TIB_Dataset::TIB_Dataset(TComponent* AOwner)
    : TIB_Statement(AOwner),
      FTransactionSite(std::make_unique<TTransactionSite>(*this)),
      FConnectionSite(std::make_unique<TConnectionSite>(*this)) {
  FMasterSearchFlags =
      static_cast<TIB_MasterSearchFlags>((1u << msfOpenMasterOnOpen) | (1u << msfSearchAppliesToMasterOnly));
  FParamChar = ':';
  FUpdateSQL = new TIB_UpdateSQL(this);
  for (TIB_StringProperty* l : {&FKeyLinks, &FKeyDescLinks, &FJoinLinks, &FMasterLinks, &FMasterParamLinks,
                                &FOrderingItems, &FOrderingLinks, &FSearchingLinks}) {
    l->OnChange = [this, l](TObject*) { ListChanged(*l); };
  }
  if (GetBoundSession()) JoinSessionRegistry(srDatasets);
}

TIB_Dataset::~TIB_Dataset() = default;

TIB_TransactionDatasetIntf* TIB_Dataset::GetTransactionSite() const { return FTransactionSite.get(); }

void TIB_Dataset::BeforeDestruction() {
  // The token dies first: the teardown's close posts nothing and stops at its first call out, and any
  // fetch loop further up the stack leaves without touching the dataset.
  FAlive.Clear();
  IncludeState(csDestroying);
  FAbort = true;
  // Destroyed from inside its own open or close: that frame will not finish, so this close must run.
  FOpening = false;
  FClosing = false;
  DropCancelledRow();
  ReleaseRowLock();
  RunReported([&] { SysClose(); });
  RunReported([&] { SysUnprepare(); });
  RunReported([&] { FUpdateSQL->DeallocateAll(); });
  // Freed while the dataset is whole: its later unprepare steps must not reach it.
  delete FUpdateSQL;
  FUpdateSQL = nullptr;
  FKeySource = nullptr;
  FMasterSource = nullptr;
  for (TIB_StringProperty* l : {&FKeyLinks, &FKeyDescLinks, &FJoinLinks, &FMasterLinks, &FMasterParamLinks,
                                &FOrderingItems, &FOrderingLinks, &FSearchingLinks}) {
    l->OnChange = nullptr;
  }
  if (FCancelDialogShown) {
    FCancelDialogShown = false;
    RunReported([] { Dialogs().CancelQueryHide(); });
  }
  const std::vector<TIB_DatasetSourceIntf*> sources = FDataSources;
  for (TIB_DatasetSourceIntf* s : sources) {
    if (std::find(FDataSources.begin(), FDataSources.end(), s) == FDataSources.end()) continue;
    RunReported([&] { s->DatasetDestroying(this); });
  }
  FDataSources.clear();
  UnregisterFromTransaction();
  LeaveSessionRegistry(srDatasets);
  TIB_Statement::BeforeDestruction();
}

void TIB_Dataset::Loaded() {
  TIB_Statement::Loaded();
  SysUpdateState();
  // A connection that attaches at the end of its own loading applies the setting then.
  TIB_Connection* c = GetIB_Connection();
  if (!c || c->GetConnected()) ApplyPendingActive();
}

void TIB_Dataset::ApplyPendingActive() {
  if (!FPendingActive) return;
  FPendingActive = false;
  if (!FActive) RunReported([&] { SetActive(true); });
}

void TIB_Dataset::SetSession(TIB_Session* ASession) {
  if (ASession == GetBoundSession()) return;
  LeaveSessionRegistry(srDatasets);
  TIB_Statement::SetSession(ASession);
  JoinSessionRegistry(srDatasets);
}

void TIB_Dataset::DropCancelledRow() {
  if (FCancelling && GetIsModifying()) RunReported([&] { SetState(dssBrowse); });
}

void TIB_Dataset::FireAssignedEvent(const TIB_DatasetEvent& Event) {
  if (!CanFireEvents()) return;
  CallOutWatching(Event, this);
}

// ---------------------------------------------------------------------------------------------------------
// Connection and transaction

void TIB_Dataset::SetIB_Connection(TIB_Connection* Value) {
  TIB_Connection* old = GetIB_Connection();
  if (Value == old) return;
  if (old) old->UnregisterDataset(FConnectionSite.get());
  TIB_Statement::SetIB_Connection(Value);
  if (TIB_Connection* now = GetIB_Connection()) now->RegisterDataset(FConnectionSite.get());
}

void TIB_Dataset::SetIB_Transaction(TIB_Transaction* Value) {
  // Leave the old transaction first: the statement may free it (its internal transaction) on the way.
  if (Value != FRegisteredTransaction) UnregisterFromTransaction();
  TIB_Statement::SetIB_Transaction(Value);
  TIB_Transaction* now = GetIB_Transaction();
  if (now && now != FRegisteredTransaction) {
    UnregisterFromTransaction();
    FRegisteredTransaction = now;
    now->AddDataset(FTransactionSite.get());
    if (FCursorOpen) now->AdjustOpenCursorCount(1);
  }
}

TIB_Transaction* TIB_Dataset::RegisteredTransaction() noexcept {
  if (FRegisteredTransaction && GetIB_Transaction() != FRegisteredTransaction) FRegisteredTransaction = nullptr;
  return FRegisteredTransaction;
}

void TIB_Dataset::UnregisterFromTransaction() noexcept {
  TIB_Transaction* t = FRegisteredTransaction;
  FRegisteredTransaction = nullptr;
  // A transaction the statement no longer follows has gone (destroyed, or freed as its internal one) and
  // took its list of datasets with it.
  if (t && GetIB_Transaction() == t) {
    if (FCursorOpen) t->AdjustOpenCursorCount(-1);
    t->RemoveDataset(FTransactionSite.get());
  }
}

bool TIB_Dataset::GetReadOnly() {
  if (FReadOnly) return true;
  if (HasState(csDesigning)) return false;
  TIB_Transaction* t = GetIB_Transaction();
  return !t || t->GetReadOnly();
}

void TIB_Dataset::SetRequestLive(bool Value) {
  if (Value == FRequestLive) return;
  if (FActive && !HasState(csLoading)) IB_Raise<EIB_DatasetError>(IBMsg::CannotChangeRequestLiveWhileActive);
  FRequestLive = Value;
  if (Value) {
    // "FOR UPDATE" is added at the next prepare.
    if (Trim(GetSQLForUpdate(FSQL->GetText())).empty() && !(FSearchedEdits && FSearchedDeletes)) InvalidateSQL();
  } else if (const std::string clause = Trim(GetSQLForUpdate(FSQL->GetText())); !clause.empty()) {
    // The rows that the SQL asks to lock (WITH LOCK) stay locked.
    SetSQLClause(9, HasSQLLock(clause) ? "WITH LOCK" : "");
  } else {
    InvalidateSQL();
  }
}

// ---------------------------------------------------------------------------------------------------------
// State

void TIB_Dataset::SysUpdateState() {
  TIB_Transaction* t = GetIB_Transaction();
  if (FActive) {
    SetState(dssBrowse);
  } else if (FPrepared) {
    // A dataset that was searching before a close, or whose insert began in search mode, searches again.
    if (FReturnToSearch && !FInserting && !FPreventSearching && !(t && t->GetClosing())) {
      FReturnToSearch = false;
      SetState(dssSearch);
    } else {
      SetState(dssPrepared);
    }
  } else {
    SetState(dssInactive);
  }
  // A row lock outliving the edit is given up with a quiet commit retaining once nothing is pending.
  if (FRowLockHeld && t && t == FRowLockTransaction && !GetIsModifying() && t->GetTransactionState() == tsStarted &&
      t->GetPostPendingCount() == 0) {
    t->SavePoint();
  }
}

void TIB_Dataset::SetState(TIB_DatasetState Value) {
  if (Value == FState) return;
  const TIB_DatasetState old = FState;
  TIB_Transaction* t = GetIB_Transaction();
  if (old >= dssEdit && t) t->AdjustPostPendingCount(-1);
  FState = Value;
  // The sources' handlers may destroy the dataset or its transaction: a handler's error is reported,
  // their death ends the change with the silent abort.
  const TIB_AliveFlag alive = FAlive;
  const TIB_AliveFlag transactionAlive = t ? t->GetAlive() : FAlive;
  RunReported([&] { StateChanged(); });
  IB_CheckAlive(alive);
  if (Value >= dssEdit && t && transactionAlive.Get()) t->AdjustPostPendingCount(1);
  if (old == dssSearch || Value == dssSearch || (HasState(csDesigning) && Value < dssSearch)) {
    ProcessLinkEvent(sleDataChange);
  }
}

void TIB_Dataset::StateChanged() {
  if (HasState(csDestroying)) return;
  if (!GetIsUnidirectional() && FDeferCount > 0) {
    FStateChangePending = true;
    return;
  }
  FStateChangePending = false;
  if (FState == dssPrepared) FLastHadRecord = false;
  // The passing prepared state of an insert being set up is not shown.
  if (FState == dssPrepared && FInserting) return;
  const std::vector<TIB_DatasetSourceIntf*> sources = FDataSources;
  const TIB_AliveFlag alive = FAlive;
  for (TIB_DatasetSourceIntf* s : sources) {
    if (std::find(FDataSources.begin(), FDataSources.end(), s) == FDataSources.end()) continue;
    s->DatasetStateChanged(this);
    IB_CheckAlive(alive);
  }
}

void TIB_Dataset::SendDeferredEvents() {
  // Each notice's handlers may delete the dataset: StateChanged and the walk of the links then end
  // with the silent abort, and the rest is not sent.
  if (FStateChangePending) {
    // The data-change notice below is the one held back: none stays pending for a later bracket.
    FDataChangePending = false;
    StateChanged();
    ProcessLinkEvent(sleDataChange);
  } else if (FDataChangePending) {
    FDataChangePending = false;
    ProcessLinkEvent(sleDataChange);
  }
  if (FAfterScrollPending) {
    FAfterScrollPending = false;
    SysEndScroll();
  }
}

void TIB_Dataset::DoLinkEvent22(TIB_Column* Column) {
  if (HasState(csDestroying)) return;
  if (GetKeyDataLink()) SyncKeySourceCriteria();
  if (FDeferCount > 0 && !GetIsUnidirectional()) {
    FDataChangePending = true;
    return;
  }
  // Without statement links the notice goes nowhere.
  if (Get_StatementLinkCount() > 0) TIB_Statement::DoLinkEvent22(Column);
}

// ---------------------------------------------------------------------------------------------------------
// Notifications

void TIB_Dataset::Perform(int32_t Code) {
  switch (Code) {
    case dnInvalidateSQL:
      InvalidateSQL();
      // A detail that searches with its master changes the master's EXISTS condition too.
      if (TIB_Dataset* m = GetMasterDataset(); FMasterSearch && m && m->FState == dssSearch) m->Perform(Code);
      break;
    case dnBeforeOpen: FireEvent(BeforeOpen); break;
    case dnAfterOpen: FireEvent(AfterOpen); break;
    case dnBeforeClose: FireEvent(BeforeClose); break;
    case dnAfterClose: FireEvent(AfterClose); break;
    case dnBeforeSearch: FireEvent(BeforeSearch); break;
    case dnAfterSearch: FireEvent(AfterSearch); break;
    case dnBeforeEdit: FireEvent(BeforeEdit); break;
    case dnAfterEdit: FireEvent(AfterEdit); break;
    case dnBeforeInsert: FireEvent(BeforeInsert); break;
    case dnAfterInsert: FireEvent(AfterInsert); break;
    case dnAfterDelete: FireEvent(AfterDelete); break;
    case dnBeforeDelete: FireEvent(BeforeDelete); break;
    case dnBeforePost: FireEvent(BeforePost); break;
    case dnAfterPost:
      // The dataset's own post changed what the count statement would find.
      FRecordCountValid = false;
      FireEvent(AfterPost);
      break;
    case dnBeforeCancel: FireEvent(BeforeCancel); break;
    case dnAfterCancel: FireEvent(AfterCancel); break;
    case dnKeySourceSync: break;
    case dnNewRecord:
      ApplyGeneratorsAndServerDefaults();
      ApplyDefaultValues();
      FireEvent(OnNewRecord);
      break;
    case dnOrderingChanged: FireEvent(OnOrderingChanged); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Data sources

void TIB_Dataset::AttachDataSource(TIB_DatasetSourceIntf* ASource) {
  if (ASource && std::find(FDataSources.begin(), FDataSources.end(), ASource) == FDataSources.end()) {
    FDataSources.push_back(ASource);
  }
}

void TIB_Dataset::DetachDataSource(TIB_DatasetSourceIntf* ASource) {
  FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), ASource), FDataSources.end());
}

TIB_DatasetSourceIntf* TIB_Dataset::GetDataSource(int32_t Index) const {
  if (Index < 0 || Index >= Get_DataSourceCount()) return nullptr;
  return FDataSources[static_cast<size_t>(Index)];
}

// ---------------------------------------------------------------------------------------------------------
// Buffer view of a cursor

int32_t TIB_Dataset::GetBufferCount() { return FFields->GetRowState() != rsNone ? 1 : 0; }

bool TIB_Dataset::GetBufferEof() { return FEof || FPreparing; }

bool TIB_Dataset::GetBufferAtEnd() {
  if (FEof) return true;
  if (FActive) return false;
  const int32_t count = GetBufferCount();
  return count == 0 || GetBufferRowNum() > count;
}

std::string TIB_Dataset::GetBookmark() {
  TIB_Row* key = GetKeyFieldsRow();
  if (!key || key->GetRowState() == rsNone) return std::string();
  return key->GetRowData();
}

void TIB_Dataset::SetBookmark(const std::string&) { IB_Raise<Exception>(IBMsg::NotImplemented); }
bool TIB_Dataset::SetBufferBookmark(const std::string&) { IB_Raise<Exception>(IBMsg::NotImplemented); }
void TIB_Dataset::SysFetchRowRange(int32_t, int32_t) { IB_Raise<EIB_DatasetError>(IBMsg::NotImplemented); }

void TIB_Dataset::SetRowNum(int32_t) { IB_Raise<EIB_DatasetError>(IBMsg::RowNumIsNotImplementedYet); }

TIB_Row* TIB_Dataset::GetKeyFieldsRow() {
  TIB_Row* key = TIB_Statement::GetKeyFields();
  return key && key->GetColumnCount() > 0 ? key : GetFields();
}

TIB_Column* TIB_Dataset::FindKeyField(const std::string& Name) {
  TIB_Column* c = nullptr;
  GetKeyFieldsRow()->FindByName(Name, c);
  return c;
}

TIB_Column* TIB_Dataset::BufferFieldByName(const std::string& Name) { return GetBufferFields()->ColumnByName(Name); }

TIB_Column* TIB_Dataset::FindBufferField(const std::string& Name) {
  TIB_Column* c = nullptr;
  GetBufferFields()->FindByName(Name, c);
  return c;
}

// ---------------------------------------------------------------------------------------------------------
// Editing helpers of the cursor

void TIB_Dataset::SysCloseIfUnidirectional() {
  if (GetIsUnidirectional()) TIB_Dataset::SysClose();
}

void TIB_Dataset::ProcessDMLCacheItem(const TIB_DMLCacheItem& Item) {
  if (OnDMLCacheReceivedItem && CanFireEvents()) {
    CallOutWatching(OnDMLCacheReceivedItem, this, Item);
  } else {
    SysDMLCacheReceivedItem(Item);
  }
}
