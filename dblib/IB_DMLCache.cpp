#include "dblib/IB_DMLCache.h"

#include <algorithm>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Transaction.h"

// ---------------------------------------------------------------------------------------------------
// TIB_TimeoutProps

void TIB_TimeoutProps::Assign(const TIB_TimeoutProps& Source) {
  const bool commitFailed = FCommitFailed;
  *this = Source;
  FCommitFailed = commitFailed;
}

void TIB_TimeoutProps::ResetForStart() {
  FCommitFailed = false;
  FNextAttempt = FAttempt;
  FNextPrompt = FPromptUser;
}

// ---------------------------------------------------------------------------------------------------
// TIB_TransactionDMLCache

void TIB_TransactionDMLCache::DeliverTo(TIB_TransactionDatasetIntf* Dataset, const TIB_DMLCacheItem& Item) {
  if (!Dataset || Dataset->GetHasPartner()) return;
  const TIB_DMLCacheFlags flags = Dataset->GetDMLCacheFlags();
  if (flags == 0) return;
  TIB_DMLCacheFlag wanted = dcfReceiveEdit;
  switch (Item.GetDMLCacheItemType()) {
    case ditEdit: wanted = dcfReceiveEdit; break;
    case ditInsert: wanted = dcfReceiveInsert; break;
    case ditDelete: wanted = dcfReceiveDelete; break;
  }
  if (flags & IB_DMLCacheFlag(wanted)) Dataset->ProcessDMLCacheItem(Item);
}

namespace {

std::vector<TIB_Transaction*> TransactionsOf(TIB_Connection* Connection) {
  std::vector<TIB_Transaction*> result;
  for (int32_t i = 0; i < Connection->Get_TransactionCount(); ++i)
    if (auto* t = dynamic_cast<TIB_Transaction*>(Connection->GetTransaction(i))) result.push_back(t);
  return result;
}

}  // namespace

void TIB_TransactionDMLCache::DeliverToOthers(const TIB_DMLCacheItem& Item, const TIB_Transaction* Except) {
  TIB_Connection* connection = Item.GetConnection();
  if (!connection) return;
  // The connection's handler may destroy it (its call out ends with the silent abort); a receiver's may
  // destroy the connection or the receiving transaction: the silent abort then.
  const TIB_AliveFlag alive = connection->GetAlive();
  connection->DoReceiveDMLCache(Item);
  // Receivers may change the transactions and their datasets: walk snapshots, skipping what has left.
  const std::vector<TIB_Transaction*> transactions = TransactionsOf(connection);
  for (TIB_Transaction* t : transactions) {
    if (t == Except) continue;
    const std::vector<TIB_Transaction*> now = TransactionsOf(connection);
    if (std::find(now.begin(), now.end(), t) == now.end() || t->GetIsolation() != tiCommitted) continue;
    const TIB_AliveFlag receiver = t->GetAlive();
    std::vector<TIB_TransactionDatasetIntf*> datasets;
    for (int i = 0; i < t->Get_DatasetCount(); ++i) datasets.push_back(t->GetDataset(i));
    for (TIB_TransactionDatasetIntf* d : datasets) {
      if (!t->HasDataset(d) || !d->GetActive() || d->GetDatasetConnection() != connection) continue;
      DeliverTo(d, Item);
      IB_CheckAlive(alive);
      IB_CheckAlive(receiver);
    }
  }
}

void TIB_TransactionDMLCache::AddDMLCacheItem(TIB_Connection* AConnection, TIB_TransactionDatasetIntf* Originator,
                                              TIB_DMLCacheItemType ItemType, const Variant& KeyValues,
                                              const std::string& KeyFieldNames) {
  TIB_Connection* connection = Originator ? Originator->GetDatasetConnection() : nullptr;
  if (!connection) connection = AConnection;
  auto item = std::make_unique<TIB_DMLCacheItem>(connection, KeyFieldNames, KeyValues, ItemType);
  if (!Originator) {
    DeliverToOthers(*item, nullptr);
    return;
  }
  FItems.push_back(std::move(item));
  const TIB_DMLCacheItem& kept = *FItems.back();
  // A receiver's handler may destroy the transaction, and the item with it: the silent abort then.
  const TIB_AliveFlag alive = FTransaction->GetAlive();
  for (int i = 0; i < FTransaction->Get_DatasetCount(); ++i) {
    TIB_TransactionDatasetIntf* d = FTransaction->GetDataset(i);
    if (d == Originator || !d->GetActive()) continue;
    DeliverTo(d, kept);
    IB_CheckAlive(alive);
  }
}

void TIB_TransactionDMLCache::Flush(bool Deliver) {
  // The receivers' handlers may destroy the transaction and with it this cache: the silent abort then.
  const TIB_AliveFlag alive = FTransaction->GetAlive();
  while (!FItems.empty()) {
    // Taken out first: a receiver that announces changes of its own cannot disturb the walk.
    std::unique_ptr<TIB_DMLCacheItem> item = std::move(FItems.front());
    FItems.pop_front();
    if (Deliver && FTransaction->GetConnectionIndex(item->GetConnection()) >= 0) {
      DeliverToOthers(*item, FTransaction);
      IB_CheckAlive(alive);
    }
  }
}
