// What a transaction asks of the objects that live in it: the datasets it posts, cancels, closes and
// refreshes when it ends, and the links it tells about each step. Datasets and transaction links
// implement these interfaces; the transaction holds them by pointer and never owns them.
#pragma once

#include <cstdint>
#include <string>

#include "dblib/IB_Alive.h"

class TIB_Connection;
class TIB_Transaction;
class TIB_DMLCacheItem;

// What a dataset does with itself when its transaction ends.
enum TIB_CommitAction { caClose, caInvalidateCursor, caFetchAll, caRefreshKeys, caRefresh };

// Which DML notices a dataset announces and which it wants to receive (bits 0 to 5).
enum TIB_DMLCacheFlag : uint8_t {
  dcfAnnounceEdit,
  dcfAnnounceInsert,
  dcfAnnounceDelete,
  dcfReceiveEdit,
  dcfReceiveInsert,
  dcfReceiveDelete,
};
// A set of TIB_DMLCacheFlag values, bit n for value n.
using TIB_DMLCacheFlags = uint8_t;
constexpr TIB_DMLCacheFlags IB_DMLCacheFlag(TIB_DMLCacheFlag Flag) {
  return static_cast<TIB_DMLCacheFlags>(1u << Flag);
}

// A dataset as its transaction sees it. A dataset registers with TIB_Transaction::AddDataset and must
// unregister (RemoveDataset) before it goes away.
class TIB_TransactionDatasetIntf {
public:
  virtual ~TIB_TransactionDatasetIntf() = default;

  // The component name, for messages.
  virtual std::string GetDatasetName() const = 0;
  // The dataset's liveness token: a loop of the transaction asks it after each call out (a handler may
  // destroy any dataset). A dataset that is never destroyed under a loop may keep the default.
  virtual TIB_AliveFlag GetDatasetAlive() const { return TIB_AliveFlag(); }
  virtual TIB_Connection* GetDatasetConnection() const = 0;
  virtual bool GetActive() const = 0;
  // In the edit, insert or delete state.
  virtual bool GetIsModifying() const = 0;
  virtual bool GetCachedUpdates() const = 0;
  // A buffered dataset with cached updates not yet applied.
  virtual bool GetUpdatesPending() const = 0;
  // A buffered dataset (the only kind that keeps cached updates).
  virtual bool GetBuffered() const = 0;
  // A forward-only cursor.
  virtual bool GetUnidirectional() const = 0;
  // Its server cursor is open.
  virtual bool GetCursorIsOpen() const = 0;
  virtual TIB_CommitAction GetCommitAction() const = 0;
  // Holds a pessimistic row lock; ClearRowLock drops the flag once a savepoint released the lock.
  virtual bool GetHoldsRowLock() const = 0;
  virtual void ClearRowLock() = 0;
  // Linked to a partner dataset (partners receive no DML notices of their own).
  virtual bool GetHasPartner() const = 0;
  virtual TIB_DMLCacheFlags GetDMLCacheFlags() const = 0;

  virtual void Post() = 0;
  virtual void Cancel() = 0;
  virtual void Close() = 0;
  virtual void FetchAll() = 0;
  // Reopens the cursor keeping the buffered rows and the position.
  virtual void RefreshKeys() = 0;
  virtual void Refresh() = 0;
  // Cached updates: send them to the server, mark them committed, or throw them away.
  virtual void ApplyUpdates() = 0;
  virtual void CommitUpdates() = 0;
  virtual void CancelUpdates() = 0;
  // The commit that followed ApplyUpdates failed: the applied changes count as pending again.
  virtual void UndoApply() {}
  // The transaction committed (or committed retaining) what the dataset's own ApplyUpdates sent: the
  // applied changes become plain rows (as CommitUpdates makes them). Nothing when none was applied.
  virtual void AcceptApplied() {}
  // A DML notice that matched one of the receive flags.
  virtual void ProcessDMLCacheItem(const TIB_DMLCacheItem& Item) = 0;

  // What the time-out attempts ask: the number of rows the dataset holds in its buffer, and a fetch
  // of further rows that stops after Ticks milliseconds (or at the end of the cursor).
  virtual int32_t GetBufferedRowCount() const = 0;
  virtual void FetchForTicks(uint32_t Ticks) = 0;
};

// A follower of a transaction (a transaction link). It registers with
// TIB_Transaction::AddTransactionLink and unregisters before it goes away.
class TIB_TransactionLinkIntf {
public:
  virtual ~TIB_TransactionLinkIntf() = default;
  // One of the transaction's event codes (2 to 16).
  virtual void ProcessEvent(uint8_t AEvent) = 0;
  // The transaction is being destroyed: the link lets go of it (its transaction becomes nil).
  virtual void TransactionDestroying(TIB_Transaction* ATransaction) = 0;
};
