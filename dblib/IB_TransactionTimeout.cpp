// The time-out checks of a transaction, run by its session's timer: the check on the oldest active
// transaction (OAT), the fetch-and-commit attempts, the user's prompt and the forced close.
//
// A read-committed transaction that stays started holds back the server's garbage collection. Each
// timer tick looks at how long the transaction has been started (on the monotonic tick, see
// GetElapsed) and, in units of 1/88400 of a day, compares that with the settings in TimeoutProps.
// None of these checks ends work the application has not ended itself: a transaction holding changes
// (pending edits, cached updates, data changed by a statement) is only ever prompted for or closed
// the way Close closes it.
#include <algorithm>

#include "dblib/IB_Transaction.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

// True once Elapsed (in days) has passed Units time-out units.
bool Past(TDateTime Elapsed, uint64_t Units) { return Elapsed > static_cast<double>(Units) / IB_TimeoutUnitsPerDay; }

}  // namespace

bool TIB_Transaction::MayEndQuietly() const noexcept {
  return GetStarted() && FIsolation == tiCommitted && FLockedRowCount == 0 &&
         (FState == tsInactive || FState == tsStarted || FState == tsPending);
}

bool TIB_Transaction::SessionIdle() const noexcept {
  const TIB_Session* session = GetBoundSession();
  return !session || session->GetBusyLevel() == 0;
}

void TIB_Transaction::CheckOAT() {
  if (!MayEndQuietly() || FOpenCursorCount > 0) return;
  if (!Past(GetElapsed(), FTimeoutProps.GetAllowCheckOAT())) return;
  if (FTimeoutProps.GetCommitFailed()) return;
  // Pending client-side edits are left alone: they are posted later in a new transaction.
  if (!ServerCommit(false)) return;
  RecomputeState(false);
  ProcessLinkEvent(tleAfterEnd);
  Fire(AfterEnd);
  ProcessLinkEvent(tleStateChanged);
}

void TIB_Transaction::TimeoutCheck(bool& Terminate) {
  // A prompt that runs the application's messages must not start the checks of this transaction again.
  if (FInTimeoutCheck) return;
  TIB_AliveRestorer<bool> inCheck(FAlive, FInTimeoutCheck, true);
  if (OnSessionTimer && CanFireEvents()) CallOut(OnSessionTimer, this, Terminate);
  if (Terminate || !GetStarted() || !Past(GetElapsed(), FTimeoutProps.GetAllowCheckOAT())) return;
  TIB_TimeoutProps& p = FTimeoutProps;
  CheckOAT();
  if (GetStarted() && p.GetAttempt() != 0 && Past(GetElapsed(), p.GetNextAttempt())) {
    p.SetNextAttempt(p.GetNextAttempt() + p.GetAttemptRetry());
    AttemptCommit();
    CheckOAT();
  }
  if (GetStarted() && p.GetPromptUser() != 0 && Past(GetElapsed(), p.GetNextPrompt())) {
    p.SetNextPrompt(p.GetNextPrompt() + p.GetPromptUserRetry());
    PromptUserTimeout();
    CheckOAT();
  }
  if (GetStarted() && p.GetForceClosed() != 0 && Past(GetElapsed(), p.GetForceClosed())) Close();
}

void TIB_Transaction::AttemptCommit() {
  if (!MayEndQuietly() || FOpenCursorCount == 0 || !SessionIdle()) return;
  const TIB_TimeoutProps& p = FTimeoutProps;
  const uint32_t ticks = p.GetAttemptTicks();
  // A dataset's handlers may destroy any dataset or this transaction.
  const std::vector<TDatasetEntry> datasets = Entries(FDatasets);
  const TIB_AliveFlag alive = FAlive;
  auto fetchable = [&](const TDatasetEntry& e) { return Present(e) && e.D->GetCursorIsOpen(); };
  for (const TDatasetEntry& e : datasets) {
    if (!fetchable(e)) continue;
    TIB_TransactionDatasetIntf* d = e.D;
    // Rows of a forward-only cursor are gone once read: fetching them would lose them.
    if (d->GetUnidirectional()) return;
    const TIB_CommitAction action = d->GetCommitAction();
    if (action != caClose && action != caFetchAll) continue;
    // Fetched to its end, the dataset keeps its rows and the server transaction can end under it.
    if (d->GetBufferedRowCount() < p.GetAttemptMaxRows() || action == caFetchAll) d->FetchForTicks(ticks);
    IB_CheckAlive(alive);
    CheckOAT();
    return;
  }
  const int count = static_cast<int>(datasets.size());
  int slices = std::min(2 * count, 6);
  if (GetTransactionIsActive() && 2 * count >= 5) slices = 4;
  const uint64_t budget = static_cast<uint64_t>(ticks) * static_cast<uint64_t>(slices);
  const uint64_t start = GetTickCount64();
  for (const TDatasetEntry& e : datasets) {
    if (GetTickCount64() - start >= budget) break;
    if (fetchable(e) && e.D->GetBufferedRowCount() < p.GetAttemptMaxRows()) e.D->FetchForTicks(3 * ticks);
    IB_CheckAlive(alive);
  }
  // The datasets follow their CommitAction through the commit; changes of the application stay put.
  if (GetTransactionIsActive()) return;
  CheckOAT();
  if (GetStarted()) Commit();
}

void TIB_Transaction::PromptUserTimeout() {
  if (OnTimeoutPromptUser) {
    if (CanFireEvents()) CallOut(OnTimeoutPromptUser, this);
    return;
  }
  if (!SessionIdle() || !GetTransactionIsActive()) return;
  MessageBeep(0);
  // Asked by a timer, perhaps of nobody: a box closed without an answer keeps the changes as they are.
  ConfirmClose(mbCancel);
}
