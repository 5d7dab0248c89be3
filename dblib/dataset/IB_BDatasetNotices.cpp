// What a buffered dataset does when another dataset's change reaches it (a DML notice), and the
// time-limited fetch its transaction's time-out attempts ask for.
//
// A notice names a row by its key. An edited row has its buffered values dropped and is read again
// when shown; an inserted row is found by refreshing the keys; a deleted row leaves the buffer. Rows
// with cached changes of this dataset, and the row being edited here, are left as they are: the
// notice never costs the user a change.
#include <cstring>
#include <utility>

#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"
#include "platform/SysUtils.h"

void TIB_BDataset::SysFetchForTicks(uint32_t Ticks) {
  if (!FActive || FCursorDone || FEof) return;
  // As FetchUntil: the rows pass through the Fields row, and its links (a detail following it, a control
  // showing it) hear nothing of them; afterwards the current row is put back, and they hear once of it.
  // On an exception too that happens in the catch block, not in a destructor.
  TDatasetOperation op(this);
  const bool wasInFetch = std::exchange(FInFetch, true);
  const int32_t rowNum = std::exchange(FRowNum, FFetchedRows);
  FFields->BeginUpdate();
  op.AtEnd([this, wasInFetch, rowNum] {
    FInFetch = wasInFetch;
    FRowNum = rowNum;
    RunReported([this] { LoadCurrentRow(); });
    FFields->EndUpdateSilently();
    // The one notice (the row's own, sent straight), the last step: a link may destroy the dataset there.
    DoLinkEvent22(nullptr);
  });
  op.Run([&] {
    const uint64_t start = GetTickCount64();
    while (FActive && !FEof && !FAbort && GetTickCount64() - start < Ticks) FetchRow();
  });
  op.End();
}

void TIB_BDataset::SysDMLCacheReceivedItem(const TIB_DMLCacheItem& Item) {
  TIB_Row* key = GetKeyFields();
  if (!FActive || !key || key->GetColumnCount() == 0) return;
  std::string names;
  for (int i = 0; i < key->GetColumnCount(); ++i) names += (i ? ";" : "") + key->GetColumns(i)->GetColumnName();
  if (!SameText(names, Item.GetKeyFieldNames())) return;

  if (Item.GetDMLCacheItemType() == ditInsert) {
    if (GetIsModifying()) return;  // a refresh would post the row being edited
    AbortFetching();
    RefreshKeys();
    return;
  }
  // The item's key bytes, made in the key row, which then gets the current row's key back.
  const size_t length = key->GetRecordLength();
  const std::vector<uint8_t> saved(key->GetRecordBuffer(), key->GetRecordBuffer() + length);
  const auto state = key->GetRowState();
  {
    TScopeExit restore([&] {
      std::memcpy(key->GetRecordBuffer(), saved.data(), length);
      key->SetRowState(state);
    });
    key->SetValues(names, Item.GetKeyFieldValues());
    KeyFromKeyRow(FKeyScratch);
  }
  if (FKeyScratch.size() != static_cast<size_t>(FNodeList->GetKeyLength())) return;

  if (Item.GetDMLCacheItemType() == ditEdit) {
    InvalidateBookmark(BinaryToHexText(FKeyScratch.data(), FKeyScratch.size()));
    return;
  }
  TIB_Node* n = nullptr;
  int32_t row = 0, deletedBefore = 0;
  if (!FNodeList->FindKey(FKeyScratch.data(), false, n, row, deletedBefore)) return;
  if (n->Has(nfInserted | nfModified | nfDeleted)) return;
  if (n == FNodeList->GetRowCursor().Node) {
    if (GetIsModifying()) return;
    // The row after it becomes the current row (fetched when not buffered yet), else the last one.
    const int32_t current = GetRowNum();
    FNodeList->RemoveNode(n);
    FetchUntil(current);
    const int32_t visible = GetBufferCount();
    MoveToNode(FNodeList->LocateVisibleRow(current <= visible ? current : visible));
  } else {
    FNodeList->RemoveNode(n);
    FBufferLoaded = nullptr;
    SyncPosition();
  }
  ProcessLinkEvent(sleRowNumChanged, -1);
}
