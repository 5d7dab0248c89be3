// Transactions: the library's unit of work over one to three connections.
//
// A TIB_Transaction builds the transaction parameter block from its settings, starts the server
// transaction on demand (one TEB per connection), and ends it by commit, rollback or their retaining
// forms. Every end first posts or cancels the pending edits of its datasets and then closes, refreshes
// or re-fetches each dataset by its CommitAction. A small state machine tells controls and the
// time-out logic whether the transaction holds changes, and every step is broadcast to the
// transaction's links as a numbered event.
//
// Lifetime: the transaction does not own its connections, datasets, statements or links; each of
// them registers and must unregister before it goes away. It owns its DML cache, its time-out
// settings and one connection link per connection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DMLCache.h"
#include "dblib/IB_Session.h"
#include "dblib/IB_StringList.h"
#include "dblib/IB_TransactionIntf.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"

class TIB_Statement;

enum TIB_Isolation { tiConcurrency, tiConsistency, tiCommitted };

// The state byte of a transaction.
enum TIB_TransactionState : uint8_t {
  tsInactive = 0,           // nothing pending
  tsStartRequested = 1,     // while loading, or just before the server start
  tsStarted = 2,            // started, nothing pending
  tsPending = 3,            // datasets hold unposted edits or unapplied cached updates
  tsActive = 4,             // a statement changed data in this transaction
  tsSavePoint = 5,          // a savepoint (quiet commit retaining) is running
  tsCommitRetaining = 6,    // in progress
  tsCommitting = 7,         // in progress
  tsRollbackRetaining = 9,  // in progress
  tsRollingBack = 10,       // in progress
};

// The event codes a transaction sends to its links. (0 and 1 are a link's own notices when it moves
// from one transaction to another.)
enum TIB_TransactionLinkEvent : uint8_t {
  tleBeforeStart = 2,
  tleAfterStart = 3,
  tleBeforeCommit = 4,
  tleAfterCommit = 5,
  tleBeforeCommitRetaining = 6,
  tleAfterCommitRetaining = 7,
  tleBeforeRollback = 8,
  tleAfterRollback = 9,
  tleBeforeRollbackRetaining = 10,
  tleAfterRollbackRetaining = 11,
  tleBeforeEnd = 12,
  tleAfterEnd = 13,
  tlePostPendingChanged = 14,
  tleUpdatesPendingChanged = 15,
  tleStateChanged = 16,
};

// The size of the buffer a TPB is built in (OnCustomizeTPB may grow its copy).
inline constexpr int32_t IB_TPBBufferSize = 1024;
// The client's transaction existence block: one per connection for isc_start_multiple. This is the
// client's 64-bit layout (8-byte pointers, the length padded to 8), not the 12 bytes of 32-bit clients.
struct TIB_TEB {
  isc_db_handle* DBHandle;
  int32_t TPBLength;
  const char* TPB;
};
static_assert(sizeof(TIB_TEB) == 24, "the client expects 24-byte TEBs on 64-bit platforms");

using TIB_TransactionEvent = std::function<void(TIB_Transaction* Sender)>;
// Lets the application extend the TPB of one connection (AConnection nil: the common TPB of a
// transaction over several connections). Buffer holds the TPB in its first BufInd bytes; a handler
// may write beyond them (growing Buffer as needed) and must raise BufInd by what it added.
using TIB_CustomizeTPBEvent = std::function<void(TIB_Transaction* Sender, TIB_Connection* AConnection, int32_t& BufInd,
                                                 std::vector<char>& Buffer)>;
using TIB_TransactionCanPauseEvent = std::function<void(TIB_Transaction* Sender, bool& AllowPause)>;
using TIB_SessionTimerEvent = std::function<void(TIB_Component* AIB_Component, bool& Terminate)>;

class TIB_Transaction : public TIB_Component,
                        public TIB_ConnectionTransactionSite,
                        public TIB_ConnectionNoticeReceiver {
public:
  explicit TIB_Transaction(TComponent* AOwner);
  ~TIB_Transaction() override;
  // Closes when started, explicit or active (a failure is reported, never raised), lets go of every
  // link and removes every connection.
  void BeforeDestruction() override;
  void SetSession(TIB_Session* ASession) override;

  // --- the server transaction
  isc_tr_handle GetTrHandle() const noexcept { return FHandle; }
  // The handle for client calls made on this transaction's behalf.
  isc_tr_handle* GetPtrHandle() noexcept { return &FHandle; }
  bool GetStarted() const noexcept { return FHandle != 0; }
  // True starts on demand; false closes.
  void SetStarted(bool Value);
  // Starts the server transaction when it is not started yet (statements call this before they need
  // it). Returns Started.
  bool SysStart();

  // --- operations
  // Marks an explicit start; the server transaction starts on demand.
  void StartTransaction();
  void Commit();
  void CommitRetaining();
  void Rollback();
  void RollbackRetaining();
  // A quiet commit retaining (no Before/After events, no dataset posting).
  void SavePoint();
  // Takes the work on AConnection back to the savepoint Name (a cached-updates apply whose dataset a
  // handler destroyed: nothing of that apply may stay to be committed).
  void RollbackToSavepoint(TIB_Connection* AConnection, const std::string& Name);
  // Ends the transaction: commits with AutoCommit (unless the connection was lost), else rolls back.
  void Close();
  // Asks the user (Yes/No/Cancel) whether to keep the changes, and keeps or undoes them. Returns
  // mrCancel when the user cancelled, else mrOk.
  TModalResult CloseWithConfirm() { return ConfirmClose(mbYes); }
  void PostAll();
  void CancelAll();
  // Applies and commits the cached updates of the given buffered datasets (empty: all of this
  // transaction's buffered datasets).
  void ApplyUpdates(const std::vector<TIB_TransactionDatasetIntf*>& Datasets = {});
  void CancelUpdates(const std::vector<TIB_TransactionDatasetIntf*>& Datasets = {});
  // Called by a statement after it changed data.
  void Activate();
  // Holds the auto-commit off: work that must stay one unit with a savepoint of its own (a cached-updates
  // apply, a change undone alone when it touched several rows) would lose that savepoint to the commit
  // retaining of each statement. While held, a change leaves the transaction active; holds nest.
  void HoldAutoCommit() noexcept { ++FAutoCommitHolds; }
  // Ends a hold. With Save, the end of the last hold saves the work it held as the auto-commit would have
  // (a quiet commit retaining). Without it, the caller took that work back to its savepoint when TakenBack,
  // and the transaction is at rest again; else (the work could not be taken back) it stays active, for
  // the application's commit or rollback. Without Save nothing is raised.
  void ReleaseAutoCommit(bool Save, bool TakenBack = false);
  bool GetAutoCommitHeld() const noexcept { return FAutoCommitHolds > 0; }
  // Commits an idle read-committed transaction that has run longer than the time-out settings allow,
  // so that it stops holding back the server's oldest active transaction.
  void CheckOAT();
  // The session timer's check (see IB_TransactionTimeout.cpp): OnSessionTimer, then, past
  // AllowCheckOAT, the OAT check, a fetch-and-commit attempt, the user's prompt and the forced close,
  // each when its time has come. A check already running on this transaction is not entered again.
  void TimeoutCheck(bool& Terminate) override;

  // --- what datasets report
  void AdjustPostPendingCount(int32_t Delta);
  void AdjustUpdatesPendingCount(int32_t Delta);
  void AdjustOpenCursorCount(int32_t Delta);
  void AdjustLockedRowCount(int32_t Delta);
  void IncPostPendingWatchers() { ++FPostPendingWatchers; }
  void DecPostPendingWatchers();
  void IncUpdatesPendingWatchers() { ++FUpdatesPendingWatchers; }
  void DecUpdatesPendingWatchers();
  // Announces a change made through Originator (which may be nil) on the originator's connection, else
  // on this transaction's first connection.
  void AddDMLCacheItem(TIB_TransactionDatasetIntf* Originator, const std::string& KeyFieldNames,
                       const Variant& KeyValues, TIB_DMLCacheItemType ItemType);

  // --- state
  TIB_TransactionState GetTransactionState() const noexcept { return FState; }
  // Holds changes: pending edits or cached updates, data changed, or an end in progress.
  bool GetTransactionIsActive() const noexcept;
  bool GetExplicitStart() const noexcept { return FExplicitStart; }
  // True while Close ends the transaction (its datasets close whatever their CommitAction).
  bool GetClosing() const noexcept { return FClosing; }
  bool GetConnectionLost() const noexcept { return FConnectionLost; }
  int32_t GetPostPendingCount() const noexcept { return FPostPendingCount; }
  int32_t GetUpdatesPendingCount() const noexcept { return FUpdatesPendingCount; }
  int32_t GetOpenCursorCount() const noexcept { return FOpenCursorCount; }
  int32_t GetLockedRowCount() const noexcept { return FLockedRowCount; }
  int32_t GetActivationCount() const noexcept { return FActivationCount; }
  TDateTime GetActivityStart() const noexcept { return FActivityStart; }
  TDateTime GetStartTime() const noexcept { return FStartTime; }
  TDateTime GetEndTime() const noexcept { return FEndTime; }
  // How often the server transaction has ended (a hard commit or a rollback; each closed every cursor
  // opened in it).
  uint32_t GetEndCount() const noexcept { return FEndCount; }
  // Days since the server start while started; 0 otherwise.
  TDateTime GetElapsed() const;

  // --- connections (one to three)
  TIB_Connection* GetIB_Connection() const { return GetConnection(0); }
  void SetIB_Connection(TIB_Connection* Value) { SetConnectionAt(0, Value); }
  TIB_Connection* GetIB_Connection1() const { return GetConnection(1); }
  void SetIB_Connection1(TIB_Connection* Value) { SetConnectionAt(1, Value); }
  TIB_Connection* GetIB_Connection2() const { return GetConnection(2); }
  void SetIB_Connection2(TIB_Connection* Value) { SetConnectionAt(2, Value); }
  // Connection Index, nil outside the list.
  TIB_Connection* GetConnection(int Index) const;
  int GetConnectionIndex(const TIB_Connection* AConnection) const;
  void AddConnection(TIB_Connection* AConnection);
  void RemoveConnection(TIB_Connection* AConnection) override;
  int Get_ConnectionCount() const noexcept { return static_cast<int>(FConnections.size()); }
  // What the connections tell their transactions: the connection is about to detach (closes the
  // transaction), or it found its server connection broken.
  void CloseForConnection() override;
  void ConnectionWasLost(TIB_Connection* AConnection) override;
  bool GetServerStarted() const override { return GetStarted(); }
  void ProcessConnectionEvent(TIB_ConnectionLink* Link, int32_t AEvent) override;

  // --- registrations
  void AddStatement(TIB_Statement* AStatement);
  void RemoveStatement(TIB_Statement* AStatement);
  int Get_StatementCount() const noexcept { return static_cast<int>(FStatements.size()); }
  TIB_Statement* GetStatement(int Index) const;
  void AddDataset(TIB_TransactionDatasetIntf* ADataset);
  void RemoveDataset(TIB_TransactionDatasetIntf* ADataset);
  int Get_DatasetCount() const noexcept { return static_cast<int>(FDatasets.size()); }
  TIB_TransactionDatasetIntf* GetDataset(int Index) const;
  bool HasDataset(const TIB_TransactionDatasetIntf* ADataset) const;
  void AddTransactionLink(TIB_TransactionLinkIntf* ALink);
  void RemoveTransactionLink(TIB_TransactionLinkIntf* ALink);
  int Get_TransactionLinkCount() const noexcept { return static_cast<int>(FLinks.size()); }
  TIB_TransactionLinkIntf* GetTransactionLink(int Index) const;

  // --- settings
  bool GetAutoCommit() const noexcept { return FAutoCommit || FServerAutoCommit; }
  void SetAutoCommit(bool Value);
  bool GetServerAutoCommit() const noexcept { return FServerAutoCommit; }
  void SetServerAutoCommit(bool Value);
  bool GetReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool Value);
  TIB_Isolation GetIsolation() const noexcept { return FIsolation; }
  void SetIsolation(TIB_Isolation Value);
  bool GetRecVersion() const noexcept { return FRecVersion; }
  void SetRecVersion(bool Value);
  bool GetLockWait() const noexcept { return FLockWait; }
  void SetLockWait(bool Value);
  TStrings& GetConfirmCancelPrompt() { return FConfirmCancelPrompt; }
  void SetConfirmCancelPrompt(const TStrings& Value) { FConfirmCancelPrompt.Assign(Value); }
  TStrings& GetConfirmClosePrompt() { return FConfirmClosePrompt; }
  void SetConfirmClosePrompt(const TStrings& Value) { FConfirmClosePrompt.Assign(Value); }
  bool GetAnnounceFocus() const override { return FAnnounceFocus; }
  void SetAnnounceFocus(bool Value);
  TIB_TimeoutProps& GetTimeoutProps() noexcept { return FTimeoutProps; }
  void SetTimeoutProps(const TIB_TimeoutProps& Value) { FTimeoutProps.Assign(Value); }
  TIB_TransactionDMLCache& GetDMLCache() noexcept { return FDMLCache; }

  // --- focus (the session calls these when its focused transaction changes)
  void DoGainFocus() override;
  void DoLoseFocus() override;

  // --- events
  TIB_TransactionEvent BeforeStart, AfterStart;
  TIB_TransactionEvent BeforeCommit, AfterCommit;
  TIB_TransactionEvent BeforeCommitRetaining, AfterCommitRetaining;
  TIB_TransactionEvent BeforeRollbackRetaining, AfterRollbackRetaining;
  TIB_TransactionEvent BeforeRollback, AfterRollback;
  TIB_TransactionEvent BeforeEnd, AfterEnd;
  TIB_TransactionEvent OnGainFocus, OnLoseFocus;
  // Offered for the pause facility and the time-out prompt; the library itself never pauses.
  TIB_TransactionEvent OnPauseChanged;
  TIB_TransactionEvent OnTimeoutPromptUser;
  TIB_CustomizeTPBEvent OnCustomizeTPB;
  TIB_TransactionCanPauseEvent OnGetCanPause;
  TIB_SessionTimerEvent OnSessionTimer;

protected:
  void Loaded() override;

  // The state setter: with AutoCommit (and no explicit start) a change that would make the
  // transaction active is saved at once instead; otherwise the state is stored and announced.
  void SetTransactionState(TIB_TransactionState Value);
  // Takes the state back to rest after an operation (see the class comment of the source).
  void RecomputeState(bool AfterOperation = true);
  // After a failed operation: an active transaction that is still started stays active, anything
  // else is recomputed; never raises.
  void RestoreStateAfterFailure(TIB_TransactionState Prior) noexcept;
  // Moves between 0/2 and 3 as datasets start or stop holding pending work.
  void UpdatePendingState();
  // Sends AEvent to every link, in list order, over a snapshot of the list.
  void ProcessLinkEvent(uint8_t AEvent);
  // Tries to free a read-committed transaction held open by its cursors: fetches their remaining rows
  // for a while and commits when nothing of the application's is at stake.
  void AttemptCommit();
  // OnTimeoutPromptUser, else (with changes held and the session idle) a beep and the close
  // confirmation, whose unanswered default keeps the changes pending.
  void PromptUserTimeout();

private:
  bool IsIdle() const noexcept { return !GetStarted() && !FExplicitStart && !GetTransactionIsActive(); }
  TModalResult ConfirmClose(TMsgDlgBtn DefaultButton);
  // Whether the server transaction may be ended behind the application's back: started,
  // read-committed, no locked row and no change held or in progress.
  bool MayEndQuietly() const noexcept;
  // No operation of the session is running (a timer tick itself does not count).
  bool SessionIdle() const noexcept;
  bool CanFireEvents() const noexcept { return !HasState(csDestroying) && !IsDestroying(); }
  void Fire(const TIB_TransactionEvent& Event);
  template <class Msg>
  void CheckOptionChange(Msg MessageId) {
    CheckOAT();
    if (GetStarted()) IB_Raise<EIB_TransactionError>(MessageId);
  }
  void SetConnectionAt(int Index, TIB_Connection* Value);

  // Start.
  // State 1, BeforeStart, link event 2, and the check that every connection can take a start. False
  // (with the state recomputed) when one cannot.
  bool BeforeStartStep();
  void StartCore();
  std::vector<char> BuildTPB(bool ReadOnlyDatabase) const;
  void FireCustomizeTPB(TIB_Connection* AConnection, std::vector<char>& Buffer, int32_t& Length);
  void AfterServerStart();

  // Ends.
  void CommitEnd();
  void RollbackEnd();
  void CommitRetainingCore(bool IsSavePoint);
  void RollbackRetainingCore();
  // isc_commit_transaction / isc_commit_retaining with the one-time retry; raises what remains.
  // False when it failed and a handler suppressed the error.
  bool ServerCommit(bool Retaining);
  // isc_rollback_transaction unless the connection is lost. A lost connection, or a server that no
  // longer knows the transaction, clears the handle quietly; any other refusal is raised and the
  // handle kept.
  void ServerRollback();
  void AfterServerEnd();
  // Lets go of a server transaction that could not be ended the ordinary way (its connection
  // detached, or the component goes): a quiet rollback, the handle cleared, the state at rest.
  void AbandonServerTransaction() noexcept;
  void HandleLostConnection();
  // After a refused commit: each connection drops what DDL left behind (cached statement handles).
  void ConnectionsAfterFailedCommit();
  bool AnyConnectionLost() const;
  // Posts (or cancels) every dataset with a pending change; with SkipCachedUpdates those in
  // cached-updates mode are left alone. Raises the message when some stay pending.
  void PostDatasets(bool SkipCachedUpdates);
  void CancelDatasets(bool SkipCachedUpdates);
  // The pass over the datasets before or after the server end.
  void DatasetPass(bool Before, bool Committing);
  // Runs Body; an exception from it restores the state from Prior (the state before the operation)
  // and passes on, so that no "in progress" state survives a failure.
  // A handler that destroys the transaction ends the operation with the silent abort, touching nothing.
  template <class F>
  void Guarded(TIB_TransactionState Prior, F&& Body) {
    const TIB_AliveFlag alive = FAlive;
    try {
      Body();
    } catch (...) {
      if (alive.Get()) RestoreStateAfterFailure(Prior);
      throw;
    }
    IB_CheckAlive(alive);
  }
  // A dataset of a loop, with its token taken before the loop's first call out.
  struct TDatasetEntry {
    TIB_TransactionDatasetIntf* D;
    TIB_AliveFlag Alive;
  };
  static std::vector<TDatasetEntry> Entries(const std::vector<TIB_TransactionDatasetIntf*>& Datasets);
  // The entry's dataset lives and still belongs to this transaction.
  bool Present(const TDatasetEntry& E) const { return E.Alive.Get() && HasDataset(E.D); }
  std::vector<TIB_TransactionDatasetIntf*> BufferedDatasets(const std::vector<TIB_TransactionDatasetIntf*>& Given);

  isc_tr_handle FHandle = 0;
  std::vector<TIB_Connection*> FConnections;
  std::vector<TIB_ConnectionTransactionLink*> FConnectionLinks;  // owned; link i follows connection i
  std::vector<TIB_Statement*> FStatements;
  std::vector<TIB_TransactionDatasetIntf*> FDatasets;
  std::vector<TIB_TransactionLinkIntf*> FLinks;
  TIB_TransactionState FState = tsInactive;
  bool FReadOnly = false;
  TIB_Isolation FIsolation = tiConcurrency;
  bool FRecVersion = true;
  bool FLockWait = false;
  bool FAutoCommit = false;
  bool FServerAutoCommit = false;
  bool FAnnounceFocus = false;
  int32_t FPostPendingCount = 0;
  int32_t FUpdatesPendingCount = 0;
  TIB_StringList FConfirmCancelPrompt;
  TIB_StringList FConfirmClosePrompt;
  TIB_TransactionDMLCache FDMLCache{this};
  int32_t FPostPendingWatchers = 0;
  int32_t FUpdatesPendingWatchers = 0;
  int32_t FActivationCount = 0;
  TDateTime FActivityStart;
  TDateTime FStartTime;
  uint64_t FStartTick = 0;  // the monotonic tick of the server start
  bool FInTimeoutCheck = false;
  TDateTime FEndTime;
  uint32_t FEndCount = 0;
  int32_t FOpenCursorCount = 0;
  int32_t FLockedRowCount = 0;
  bool FExplicitStart = false;
  bool FClosing = false;
  int32_t FAutoCommitHolds = 0;
  TIB_TimeoutProps FTimeoutProps;
  bool FConnectionLost = false;
};

// The class of a connection's default transaction and of a statement's internal transaction:
// AutoCommit on, read-committed.
class TIB_TransactionDefault : public TIB_Transaction {
public:
  explicit TIB_TransactionDefault(TComponent* AOwner);
};

// A read-only default transaction, used for reading schema information.
class TIB_TransactionInternal : public TIB_TransactionDefault {
public:
  explicit TIB_TransactionInternal(TComponent* AOwner);
};
