// Ending a transaction: commit, rollback, their retaining forms, savepoints, close, the dataset
// passes around each end, cached updates and the OAT check.
#include <algorithm>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Transaction.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

// True when the server answered that it does not know the transaction (it ended without this
// component: by a COMMIT or ROLLBACK statement text, say).
bool ServerForgotTransaction(const ISC_STATUS* Status) {
  return Status[0] == isc_arg_gds && Status[1] == isc_bad_trans_handle;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Datasets

std::vector<TIB_Transaction::TDatasetEntry> TIB_Transaction::Entries(
    const std::vector<TIB_TransactionDatasetIntf*>& Datasets) {
  std::vector<TDatasetEntry> result;
  result.reserve(Datasets.size());
  for (TIB_TransactionDatasetIntf* d : Datasets) result.push_back({d, d->GetDatasetAlive()});
  return result;
}

// The loops over the datasets take each one's token first: a handler may destroy any dataset, or the
// transaction itself (the loop then ends with the silent abort).

void TIB_Transaction::PostDatasets(bool SkipCachedUpdates) {
  auto takesPart = [&](TIB_TransactionDatasetIntf* d) {
    return HasDataset(d) && d->GetIsModifying() && !(SkipCachedUpdates && d->GetCachedUpdates());
  };
  const TIB_AliveFlag alive = FAlive;
  for (const TDatasetEntry& e : Entries(FDatasets)) {
    if (Present(e) && takesPart(e.D)) e.D->Post();
    IB_CheckAlive(alive);
  }
  if (std::any_of(FDatasets.begin(), FDatasets.end(), takesPart))
    IB_Raise<EIB_TransactionError>(IBMsg::FailedToPostAllDatasets);
}

void TIB_Transaction::CancelDatasets(bool SkipCachedUpdates) {
  auto takesPart = [&](TIB_TransactionDatasetIntf* d) {
    return HasDataset(d) && d->GetIsModifying() && !(SkipCachedUpdates && d->GetCachedUpdates());
  };
  // A rollback undoes the server's side of every change whatever a dataset's cancel did: one dataset's
  // failure is reported and never stops the rollback.
  const bool rollingBack = FState == tsRollingBack || FState == tsRollbackRetaining;
  const TIB_AliveFlag alive = FAlive;
  for (const TDatasetEntry& e : Entries(FDatasets)) {
    TIB_TransactionDatasetIntf* d = e.D;
    if (!Present(e) || !takesPart(d)) continue;
    if (rollingBack) {
      RunReported([&] { d->Cancel(); });
    } else {
      d->Cancel();
    }
    IB_CheckAlive(alive);
  }
  if (!rollingBack && std::any_of(FDatasets.begin(), FDatasets.end(), takesPart))
    IB_Raise<EIB_TransactionError>(IBMsg::FailedToCancelAllDatasets);
}

void TIB_Transaction::DatasetPass(bool Before, bool Committing) {
  const TIB_AliveFlag alive = FAlive;
  for (const TDatasetEntry& e : Entries(FDatasets)) {
    IB_CheckAlive(alive);
    if (!Present(e)) continue;
    TIB_TransactionDatasetIntf* d = e.D;
    // One dataset's failure is reported and the others still follow the transaction. A dataset a
    // handler destroyed ends its own step with the silent abort.
    RunReported([&] {
      // Applied cached updates that are rolled back count as pending again; committed, they are rows.
      if (Before && !Committing) d->UndoApply();
      if (!Before && Committing) d->AcceptApplied();
      if (Before && d->GetIsModifying() && !d->GetCachedUpdates()) {
        if (Committing)
          d->Post();
        else
          d->Cancel();
      }
      if (FClosing || d->GetUnidirectional()) {
        if (Before) d->Close();
        return;
      }
      switch (d->GetCommitAction()) {
        case caClose:
          if (Before && d->GetActive()) d->Close();
          break;
        case caInvalidateCursor:
          if (d->GetCursorIsOpen()) {
            if (Before) {
              if (d->GetCachedUpdates() && d->GetUpdatesPending()) d->FetchAll();
            } else {
              d->RefreshKeys();
            }
          }
          break;
        case caFetchAll:
          if (Before && d->GetActive()) d->FetchAll();
          break;
        case caRefreshKeys:
          if (!Before && d->GetActive()) d->RefreshKeys();
          break;
        case caRefresh:
          if (!Before && d->GetActive()) d->Refresh();
          break;
      }
    });
  }
  IB_CheckAlive(alive);
}

void TIB_Transaction::PostAll() {
  if (IsIdle()) return;
  TIB_BusyBracket busy(this);
  PostDatasets(false);
  busy.End();
}

void TIB_Transaction::CancelAll() {
  if (IsIdle()) return;
  TIB_BusyBracket busy(this);
  CancelDatasets(false);
  busy.End();
}

std::vector<TIB_TransactionDatasetIntf*> TIB_Transaction::BufferedDatasets(
    const std::vector<TIB_TransactionDatasetIntf*>& Given) {
  std::vector<TIB_TransactionDatasetIntf*> result;
  if (Given.empty()) {
    for (TIB_TransactionDatasetIntf* d : FDatasets)
      if (d->GetBuffered()) result.push_back(d);
    return result;
  }
  for (TIB_TransactionDatasetIntf* d : Given) {
    if (!d) continue;
    if (!HasDataset(d))
      IB_Raise<EIB_TransactionError>(IBMsg::CannotUpdateIsNotOwnedBy, {d->GetDatasetName(), GetName()});
    result.push_back(d);
  }
  return result;
}

void TIB_Transaction::ApplyUpdates(const std::vector<TIB_TransactionDatasetIntf*>& Datasets) {
  if (FState == tsActive) IB_Raise<EIB_TransactionError>(IBMsg::TransactionHasPendingChanges);
  TIB_BusyBracket busy(this);
  // Every dataset is checked before anything is sent.
  const std::vector<TDatasetEntry> datasets = Entries(BufferedDatasets(Datasets));
  const TIB_AliveFlag alive = FAlive;
  // A transaction the application started itself stays its own: starting again would raise.
  const bool ownStart = !FExplicitStart;
  if (ownStart) StartTransaction();
  try {
    for (const TDatasetEntry& e : datasets) {
      if (Present(e)) e.D->ApplyUpdates();
      IB_CheckAlive(alive);
    }
    Commit();
  } catch (...) {
    if (!alive.Get()) throw;
    // Nothing was committed: every dataset takes its changes back as pending, and the transaction is no
    // more explicitly started than the apply found it.
    for (const TDatasetEntry& e : datasets) {
      if (Present(e)) RunReported([&] { e.D->UndoApply(); });
      if (!alive.Get()) throw;
    }
    if (ownStart && FExplicitStart) {
      FExplicitStart = false;
      RunReported([&] { ProcessLinkEvent(tleStateChanged); });
    }
    throw;
  }
  for (const TDatasetEntry& e : datasets) {
    if (Present(e)) e.D->CommitUpdates();
    IB_CheckAlive(alive);
  }
  busy.End();
}

void TIB_Transaction::CancelUpdates(const std::vector<TIB_TransactionDatasetIntf*>& Datasets) {
  TIB_BusyBracket busy(this);
  const TIB_AliveFlag alive = FAlive;
  for (const TDatasetEntry& e : Entries(BufferedDatasets(Datasets))) {
    if (Present(e)) e.D->CancelUpdates();
    IB_CheckAlive(alive);
  }
  busy.End();
}

void TIB_Transaction::RollbackToSavepoint(TIB_Connection* AConnection, const std::string& Name) {
  if (!GetStarted() || !AConnection || !AConnection->GetConnected()) return;
  TIB_Session* s = GetSession();
  const std::string sql = "ROLLBACK TO SAVEPOINT " + Name;
  s->CallChecked(this, s->Entries.isc_dsql_exec_immed2, AConnection->GetdbHandle(), &FHandle,
                 static_cast<unsigned short>(sql.size()), sql.c_str(), AConnection->GetSQLDialect(),
                 static_cast<const XSQLDA*>(nullptr), static_cast<const XSQLDA*>(nullptr));
}

// ---------------------------------------------------------------------------------------------------
// Server calls

bool TIB_Transaction::ServerCommit(bool Retaining) {
  TIB_Session* session = GetSession();
  auto entry = Retaining ? session->Entries.isc_commit_retaining : session->Entries.isc_commit_transaction;
  ISC_STATUS result = session->Call(entry, &FHandle);
  if (result != 0 && !IB_StatusShowsConnectionLost(session->GetStatusVector()) &&
      !ServerForgotTransaction(session->GetStatusVector())) {
    // A commit can fail on what a DDL statement left behind in the connections (cached statement
    // handles on changed metadata): they are cleared and the commit is tried once more.
    ConnectionsAfterFailedCommit();
    if (GetStarted()) result = session->Call(entry, &FHandle);
  }
  if (result != 0) {
    if (IB_StatusShowsConnectionLost(session->GetStatusVector())) {
      HandleLostConnection();
    } else if (ServerForgotTransaction(session->GetStatusVector())) {
      // Nothing is left to commit, to retry or to roll back: the handle goes with the work and its
      // notices, and the error is raised.
      FHandle = 0;
      AfterServerEnd();
      FDMLCache.Flush(false);
    }
    FTimeoutProps.SetCommitFailed(true);
    session->HandleISCError(this);
    return false;  // a handler suppressed the error: nothing was committed
  }
  for (TIB_Connection* c : std::vector<TIB_Connection*>(FConnections))
    if (TIB_ConnectionSchemaCache* cache = c->GetSchemaCache()) cache->TransactionEnded(this);
  if (!Retaining) AfterServerEnd();
  return true;
}

void TIB_Transaction::ServerRollback() {
  if (!FConnectionLost && !AnyConnectionLost()) {
    TIB_Session* session = GetSession();
    const ISC_STATUS result = session->Call(session->Entries.isc_rollback_transaction, &FHandle);
    // A transaction the server no longer knows has nothing left to undo.
    if (result != 0 && !ServerForgotTransaction(session->GetStatusVector())) {
      if (!IB_StatusShowsConnectionLost(session->GetStatusVector())) {
        // The server still holds the transaction: say so and keep the handle for another try.
        session->HandleISCError(this);
        if (GetStarted()) return;  // a handler chose to suppress the error
      } else {
        HandleLostConnection();
      }
    }
  }
  // Gone at the server, or with the connection.
  FHandle = 0;
  for (TIB_Connection* c : std::vector<TIB_Connection*>(FConnections))
    if (TIB_ConnectionSchemaCache* cache = c->GetSchemaCache()) cache->TransactionEnded(this);
  AfterServerEnd();
}

// ---------------------------------------------------------------------------------------------------
// Commit and rollback

void TIB_Transaction::Commit() {
  if (IsIdle()) {
    ProcessLinkEvent(tleStateChanged);
    return;
  }
  if (FState == tsCommitting || FState == tsRollingBack) return;
  TIB_BusyBracket busy(this);
  CommitEnd();
  busy.End();
}

void TIB_Transaction::CommitEnd() {
  const TIB_TransactionState prior = FState;
  FState = tsCommitting;
  Guarded(prior, [&] {
    Fire(BeforeEnd);
    ProcessLinkEvent(tleBeforeEnd);
    Fire(BeforeCommit);
    ProcessLinkEvent(tleBeforeCommit);
    PostDatasets(true);
    DatasetPass(true, true);
    if (GetStarted() && !ServerCommit(false)) {
      // Refused, with the error suppressed by a handler: the work is still there, and still pending.
      RestoreStateAfterFailure(prior);
      return;
    }
    FDMLCache.Flush(true);
    DatasetPass(false, true);
    ProcessLinkEvent(tleAfterCommit);
    RecomputeState();
    FExplicitStart = false;
    Fire(AfterCommit);
    ProcessLinkEvent(tleAfterEnd);
    Fire(AfterEnd);
    ProcessLinkEvent(tleStateChanged);
  });
}

void TIB_Transaction::Rollback() {
  if (IsIdle()) {
    ProcessLinkEvent(tleStateChanged);
    return;
  }
  if (FState == tsCommitting || FState == tsRollingBack) return;
  TIB_BusyBracket busy(this);
  RollbackEnd();
  busy.End();
}

void TIB_Transaction::RollbackEnd() {
  const TIB_TransactionState prior = FState;
  FState = tsRollingBack;
  Guarded(prior, [&] {
    Fire(BeforeEnd);
    ProcessLinkEvent(tleBeforeEnd);
    Fire(BeforeRollback);
    ProcessLinkEvent(tleBeforeRollback);
    CancelDatasets(true);
    DatasetPass(true, false);
    if (GetStarted()) ServerRollback();
    FDMLCache.Flush(false);
    DatasetPass(false, false);
    ProcessLinkEvent(tleAfterRollback);
    RecomputeState();
    FExplicitStart = false;
    Fire(AfterRollback);
    ProcessLinkEvent(tleAfterEnd);
    Fire(AfterEnd);
    ProcessLinkEvent(tleStateChanged);
  });
}

// ---------------------------------------------------------------------------------------------------
// Retaining forms

void TIB_Transaction::CommitRetaining() {
  if (IsIdle()) {
    ProcessLinkEvent(tleStateChanged);
    return;
  }
  TIB_BusyBracket busy(this);
  CommitRetainingCore(false);
  busy.End();
}

void TIB_Transaction::SavePoint() {
  if (!GetStarted()) {
    ProcessLinkEvent(tleStateChanged);
    return;
  }
  TIB_BusyBracket busy(this);
  CommitRetainingCore(true);
  busy.End();
}

void TIB_Transaction::CommitRetainingCore(bool IsSavePoint) {
  const TIB_TransactionState prior = FState;
  FState = IsSavePoint ? tsSavePoint : tsCommitRetaining;
  Guarded(prior, [&] {
    if (!IsSavePoint) {
      Fire(BeforeCommitRetaining);
      ProcessLinkEvent(tleBeforeCommitRetaining);
      PostDatasets(true);
    }
    bool ended = false;
    if ((FState == tsSavePoint || FState == tsCommitRetaining) && GetStarted()) {
      // A read-committed transaction without open cursors that has run long enough is ended instead
      // of retained, so that it stops holding back the oldest active transaction.
      const bool fullCommit = FIsolation == tiCommitted && FOpenCursorCount == 0 && !(IsSavePoint && FExplicitStart) &&
                              GetElapsed() > FTimeoutProps.GetAllowCheckOAT() / IB_TimeoutUnitsPerDay;
      if (!ServerCommit(!fullCommit)) {
        RestoreStateAfterFailure(prior);
        return;
      }
      ended = !GetStarted();
      for (TIB_TransactionDatasetIntf* d : std::vector<TIB_TransactionDatasetIntf*>(FDatasets)) {
        if (HasDataset(d)) RunReported([&] { d->AcceptApplied(); });
      }
      if (IsSavePoint) {
        for (TIB_TransactionDatasetIntf* d : std::vector<TIB_TransactionDatasetIntf*>(FDatasets)) {
          if (HasDataset(d) && d->GetHoldsRowLock()) {
            d->ClearRowLock();
            AdjustLockedRowCount(-1);
          }
        }
      }
      FDMLCache.Flush(true);
    }
    if (!IsSavePoint) ProcessLinkEvent(tleAfterCommitRetaining);
    RecomputeState();
    if (!IsSavePoint) {
      FExplicitStart = false;
      Fire(AfterCommitRetaining);
    }
    if (ended) {
      ProcessLinkEvent(tleAfterEnd);
      Fire(AfterEnd);
    }
    ProcessLinkEvent(tleStateChanged);
  });
}

void TIB_Transaction::RollbackRetaining() {
  if (IsIdle()) {
    ProcessLinkEvent(tleStateChanged);
    return;
  }
  TIB_BusyBracket busy(this);
  RollbackRetainingCore();
  busy.End();
}

void TIB_Transaction::RollbackRetainingCore() {
  const TIB_TransactionState prior = FState;
  FState = tsRollbackRetaining;
  Guarded(prior, [&] {
    Fire(BeforeRollbackRetaining);
    ProcessLinkEvent(tleBeforeRollbackRetaining);
    CancelDatasets(true);
    if (FState == tsRollbackRetaining) {
      if (GetStarted()) {
        // Applied cached updates that are rolled back count as pending again.
        for (TIB_TransactionDatasetIntf* d : std::vector<TIB_TransactionDatasetIntf*>(FDatasets)) {
          if (HasDataset(d)) RunReported([&] { d->UndoApply(); });
        }
        ServerRollback();
        StartCore();
        for (TIB_TransactionDatasetIntf* d : std::vector<TIB_TransactionDatasetIntf*>(FDatasets)) {
          if (!HasDataset(d)) continue;
          RunReported([&] {
            if (d->GetUnidirectional())
              d->Close();
            else if (d->GetActive())
              d->Refresh();
          });
        }
      }
      // The changes were undone: nobody is told about them.
      FDMLCache.Flush(false);
    }
    ProcessLinkEvent(tleAfterRollbackRetaining);
    RecomputeState();
    FExplicitStart = false;
    Fire(AfterRollbackRetaining);
    CheckOAT();
    ProcessLinkEvent(tleStateChanged);
  });
}

// ---------------------------------------------------------------------------------------------------
// Close

void TIB_Transaction::Close() {
  if (IsIdle() || FClosing) return;
  TIB_BusyBracket busy(this);
  TIB_AliveRestorer<bool> closing(FAlive, FClosing, true);
  if (GetAutoCommit() && !FConnectionLost)
    Commit();
  else
    Rollback();
  FExplicitStart = false;
  busy.End();
}

TModalResult TIB_Transaction::ConfirmClose(TMsgDlgBtn DefaultButton) {
  if (GetTransactionIsActive()) {
    std::string text = IB_LoadStr(IBMsg::SaveChanges);
    if (FConfirmClosePrompt.Count() > 0) {
      text = FConfirmClosePrompt.GetText();
      if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
    }
    const TModalResult answer = MessageDlg(text, mtConfirmation, {mbYes, mbNo, mbCancel}, 0, DefaultButton);
    if (answer == mrCancel) return mrCancel;
    const bool cachedUpdates = FUpdatesPendingCount > 0;
    if (answer == mrYes) {
      if (cachedUpdates)
        ApplyUpdates();
      else
        CommitRetaining();
    } else if (answer == mrNo) {
      if (cachedUpdates)
        CancelUpdates();
      else
        RollbackRetaining();
    }
  } else if (FExplicitStart) {
    CommitRetaining();
  }
  return mrOk;
}
