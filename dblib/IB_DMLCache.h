// What a transaction owns besides its handle: the time-out settings that govern how long a started
// transaction may run, and the cache of DML notices (rows inserted, edited or deleted through its
// datasets) that it hands to the datasets of other transactions once its changes become visible.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "dblib/IB_TransactionIntf.h"
#include "platform/Variants.h"

// Time-out settings of one transaction. Times are in units of 1/88400 of a day (IB_TimeoutUnitsPerDay):
// a value is divided by that before it is compared with the transaction's elapsed time in days.
class TIB_TimeoutProps {
public:
  // Copies every setting and both next times, but not the commit-failed flag.
  void Assign(const TIB_TimeoutProps& Source);

  uint16_t GetAllowCheckOAT() const noexcept { return FAllowCheckOAT; }
  void SetAllowCheckOAT(uint16_t Value) { FAllowCheckOAT = Value; }
  uint16_t GetAttempt() const noexcept { return FAttempt; }
  void SetAttempt(uint16_t Value) { FAttempt = Value; }
  int32_t GetAttemptMaxRows() const noexcept { return FAttemptMaxRows; }
  void SetAttemptMaxRows(int32_t Value) { FAttemptMaxRows = Value; }
  uint16_t GetAttemptTicks() const noexcept { return FAttemptTicks; }
  void SetAttemptTicks(uint16_t Value) { FAttemptTicks = Value; }
  uint16_t GetAttemptRetry() const noexcept { return FAttemptRetry; }
  void SetAttemptRetry(uint16_t Value) { FAttemptRetry = Value; }
  uint32_t GetPromptUser() const noexcept { return FPromptUser; }
  void SetPromptUser(uint32_t Value) { FPromptUser = Value; }
  uint16_t GetPromptUserDuration() const noexcept { return FPromptUserDuration; }
  void SetPromptUserDuration(uint16_t Value) { FPromptUserDuration = Value; }
  uint16_t GetPromptUserRetry() const noexcept { return FPromptUserRetry; }
  void SetPromptUserRetry(uint16_t Value) { FPromptUserRetry = Value; }
  uint32_t GetForceClosed() const noexcept { return FForceClosed; }
  void SetForceClosed(uint32_t Value) { FForceClosed = Value; }

  // Kept by the transaction: the next time an attempt or a prompt is due, and whether the last server
  // commit failed. The next times only grow (by the retry values) while the transaction runs: they are
  // kept wide so that they never wrap round to a time long past.
  uint64_t GetNextAttempt() const noexcept { return FNextAttempt; }
  void SetNextAttempt(uint64_t Value) { FNextAttempt = Value; }
  uint64_t GetNextPrompt() const noexcept { return FNextPrompt; }
  void SetNextPrompt(uint64_t Value) { FNextPrompt = Value; }
  bool GetCommitFailed() const noexcept { return FCommitFailed; }
  void SetCommitFailed(bool Value) { FCommitFailed = Value; }
  // At each start: the next-attempt time becomes Attempt, the next-prompt time PromptUser, and the
  // commit-failed flag is cleared.
  void ResetForStart();

private:
  uint16_t FAllowCheckOAT = 30;
  uint16_t FAttempt = 300;
  int32_t FAttemptMaxRows = 15000;
  uint16_t FAttemptTicks = 500;
  uint16_t FAttemptRetry = 5;
  uint64_t FNextAttempt = 300;
  uint32_t FPromptUser = 0;
  uint16_t FPromptUserDuration = 15;
  uint16_t FPromptUserRetry = 60;
  uint64_t FNextPrompt = 0;
  uint32_t FForceClosed = 0;
  bool FCommitFailed = false;
};

// The time unit of the time-out settings, per day.
inline constexpr double IB_TimeoutUnitsPerDay = 88400.0;

enum TIB_DMLCacheItemType : uint8_t { ditEdit, ditInsert, ditDelete };

// One announced change: where it was made, the key that names the row, and what happened to it.
class TIB_DMLCacheItem {
public:
  TIB_DMLCacheItem(TIB_Connection* AConnection, std::string AKeyFieldNames, Variant AKeyFieldValues,
                   TIB_DMLCacheItemType ADMLCacheItemType)
      : FConnection(AConnection),
        FKeyFieldNames(std::move(AKeyFieldNames)),
        FKeyFieldValues(std::move(AKeyFieldValues)),
        FDMLCacheItemType(ADMLCacheItemType) {}

  TIB_Connection* GetConnection() const noexcept { return FConnection; }
  const std::string& GetKeyFieldNames() const noexcept { return FKeyFieldNames; }
  // A single value, or an array of values for a compound key.
  const Variant& GetKeyFieldValues() const noexcept { return FKeyFieldValues; }
  TIB_DMLCacheItemType GetDMLCacheItemType() const noexcept { return FDMLCacheItemType; }

private:
  TIB_Connection* FConnection;
  std::string FKeyFieldNames;
  Variant FKeyFieldValues;
  TIB_DMLCacheItemType FDMLCacheItemType;
};

// The DML notices of one transaction, kept until its changes become visible to others (delivered) or
// are undone (discarded). Owned by its transaction.
class TIB_TransactionDMLCache {
public:
  explicit TIB_TransactionDMLCache(TIB_Transaction* ATransaction) : FTransaction(ATransaction) {}
  TIB_TransactionDMLCache(const TIB_TransactionDMLCache&) = delete;
  TIB_TransactionDMLCache& operator=(const TIB_TransactionDMLCache&) = delete;

  TIB_Transaction* GetTransaction() const noexcept { return FTransaction; }
  int GetCount() const noexcept { return static_cast<int>(FItems.size()); }
  const TIB_DMLCacheItem& GetItem(int Index) const { return *FItems.at(static_cast<size_t>(Index)); }

  // Announces a change. The item takes the originating dataset's connection (AConnection when there is
  // no originator or it has none). With an originator the item stays in the cache and is offered at
  // once to the other active datasets of this transaction. Without one it is delivered at once on its
  // connection (OnReceiveDMLCache, then every active dataset there whose transaction is read-committed)
  // and not kept.
  void AddDMLCacheItem(TIB_Connection* AConnection, TIB_TransactionDatasetIntf* Originator,
                       TIB_DMLCacheItemType ItemType, const Variant& KeyValues, const std::string& KeyFieldNames);
  // Empties the cache. With Deliver, each item made on one of the transaction's connections is
  // delivered there: the connection's OnReceiveDMLCache, then the active datasets on that connection
  // that belong to other read-committed transactions.
  void Flush(bool Deliver);
  // Offers Item to one dataset: only when it wants notices of that kind.
  static void DeliverTo(TIB_TransactionDatasetIntf* Dataset, const TIB_DMLCacheItem& Item);

private:
  // Offers Item to the active datasets on its connection, of read-committed transactions other than
  // Except (when not null).
  void DeliverToOthers(const TIB_DMLCacheItem& Item, const TIB_Transaction* Except);

  TIB_Transaction* FTransaction;
  std::deque<std::unique_ptr<TIB_DMLCacheItem>> FItems;
};
