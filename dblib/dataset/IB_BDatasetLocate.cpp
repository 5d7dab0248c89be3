// Positioning by key: bookmarks and KeySource links that name a row the buffer may not hold yet.
#include <cstring>
#include <utility>

#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_BindingCursor.h"
#include "dblib/dataset/IB_DatasetFilter.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {
// A row sought by fetching is looked for in the whole buffer again after this many rows (a row may have
// reached the buffer other than by this fetch).
constexpr int32_t kLocateResearchRows = 2000;
}  // namespace

bool TIB_BDataset::LocateKey() {
  if (!FPrepared || FNodeList->GetKeyLength() == 0) return false;
  KeyFromKeyRow(FKeyScratch);
  const std::vector<uint8_t> key = FKeyScratch;
  return LocateKeyBytes(key);
}

bool TIB_BDataset::LocateBufferKey() {
  if (!FPrepared || FNodeList->GetKeyLength() == 0) return false;
  KeyFromKeyRow(FKeyScratch);
  const std::vector<uint8_t> key = FKeyScratch;
  return LocateBufferKeyBytes(key);
}

bool TIB_BDataset::HasKeyColumns() {
  TIB_Row* key = GetKeyFields();
  return key && key->GetColumnCount() > 0;
}

TIB_Node* TIB_BDataset::BufferedNode(const std::vector<uint8_t>& Key) {
  TIB_Node* n = nullptr;
  int32_t row = 0, db = 0;
  return FNodeList->FindKey(Key.data(), false, n, row, db) ? n : nullptr;
}

std::string TIB_BDataset::OrderingTextOfKey(const std::vector<uint8_t>& Key) {
  TIB_Row* key = GetKeyFields();
  TIB_Column* c = nullptr;
  if (!OrderingColumn() || !HasKeyColumns() || !key->FindByName(GetOrderingLink(), c)) return {};
  uint8_t* buffer = key->GetRecordBuffer();
  const std::vector<uint8_t> saved(buffer, buffer + key->GetRecordLength());
  TScopeExit restore([&] { std::memcpy(buffer, saved.data(), saved.size()); });
  std::memcpy(buffer, Key.data(), std::min(Key.size(), saved.size()));
  return c->GetIsNull() ? std::string() : c->GetAsString();
}

void TIB_BDataset::ClearOrderingSearchText() {
  TIB_Column* c = OrderingColumn();
  if (!c || !GetParams()) return;
  std::string bare;
  StripQuotes(GetOrderingLink(), bare);
  TIB_Column* param = nullptr;
  bool drop = false;
  // Only a search text set before restarts the query (from the start again).
  if (!GetParams()->FindByName("OLNK_" + bare, param) || param->GetIsNull()) return;
  const std::string empty = OrderingSearchValue(*c, "", GetOrderingItemNo() < 0, drop);
  if (!drop && param->GetAsString() == empty) return;
  SetOrderingSearchText("");
}

bool TIB_BDataset::LocateKeyBytes(const std::vector<uint8_t>& Key) {
  FLastKeyText = BinaryToHexText(Key.data(), Key.size());
  if (!FPrepared || FNodeList->GetKeyLength() == 0) return false;
  int32_t serial = ++FLocateSerial;
  // A callback may destroy the dataset: the brackets end only while it lives (the callback step
  // raises EAbort then).
  const TIB_AliveFlag alive = FAlive;
  auto whileAlive = [alive](auto End) {
    return [alive, End] {
      if (alive.Get()) RunReported(End);
    };
  };
  // A call made meanwhile (from a callback or a message the fetch served) wins; this one gives up.
  auto overtaken = [&] { return serial != FLocateSerial; };
  auto moveTo = [&](TIB_Node* N) {
    if (!N || N->Has(nfDeleted)) return false;
    TIB_NodeList::TCursor c{N, 0, 0};
    FNodeList->IndexOfNode(N, c.Row, c.DeletedBefore);
    if (N != FNodeList->GetRowCursor().Node) {
      SysBeginScroll();
      MoveToNode(c);
      SysEndScroll();
    }
    return true;
  };
  BeginDeferEvents();
  TScopeExit deferred(whileAlive([this] { EndDeferEvents(); }));
  {
    // The callback step: what waits in the message queue runs (a newer search among it).
    BeginFetching();
    TScopeExit fetching(whileAlive([this] { EndFetching(); }));
    DoCallback();
  }
  if (overtaken()) return false;
  // A buffered row (a cached change included: it is the row as this dataset shows it).
  if (TIB_Node* n = BufferedNode(Key)) {
    if (moveTo(n)) return true;
    SetRowNum(0);
    return false;
  }
  if (!FSeekCursor->SeekKey(Key.data())) {
    SetRowNum(0);
    return false;
  }
  // The result holds the row: started at the row's ordering value, it comes among the first ones.
  if (const std::string text = OrderingTextOfKey(Key); !text.empty()) SetOrderingSearchText(text);
  TIB_Node* found = BufferedNode(Key);
  bool aborted = false, refused = false;
  if (!found && FActive && !FCursorDone && !FEof) {
    BeginFetching();
    TScopeExit fetching(whileAlive([this] { EndFetching(); }));
    const bool wasInFetch = std::exchange(FInFetch, true);
    const int32_t rowNum = std::exchange(FRowNum, FFetchedRows);
    // The fetch fills the Fields row: it is unpacked from the current node again afterwards.
    TScopeExit reload(whileAlive([this, wasInFetch, rowNum] {
      FInFetch = wasInFetch;
      FRowNum = rowNum;
      LoadCurrentRow();
    }));
    int32_t sinceSearch = 0;
    while (!found && FActive && !FCursorDone && !FEof && !FAbort && !overtaken()) {
      const int32_t before = FFetchedRows;
      FetchRow();
      if (FFetchedRows == before) break;
      const bool fetched = FKeyScratch == Key;
      if (fetched || ++sinceSearch >= kLocateResearchRows) {
        sinceSearch = 0;
        found = BufferedNode(Key);
      }
      // Fetched but not kept (a record filter refused it): reading the query anew would not keep it either.
      if (fetched && !found) refused = true;
      if (refused) break;
    }
    aborted = FAbort;
  }
  if (overtaken()) return false;
  if (!found) found = BufferedNode(Key);
  if (!found && !aborted && !refused) {
    // The server holds the row but the result as fetched does not: it is read anew.
    if (GetRefreshing()) {
      Close();
      Open();
    } else {
      Refresh();
    }
    // The refresh's own repositioning is not a newer call.
    serial = FLocateSerial;
    found = FetchUntilKey(Key.data());
    if (overtaken()) return false;
  }
  if (moveTo(found)) return true;
  SetRowNum(0);
  return false;
}

bool TIB_BDataset::LocateBufferKeyBytes(const std::vector<uint8_t>& Key) {
  FLastKeyText = BinaryToHexText(Key.data(), Key.size());
  FBufferLoaded = nullptr;
  if (!FPrepared || FNodeList->GetKeyLength() == 0) {
    FNodeList->SetBufferCursor(0);
    return false;
  }
  TIB_Node* n = nullptr;
  int32_t row = 0, db = 0;
  bool found = FNodeList->FindKey(Key.data(), true, n, row, db);
  if (!found && !FKeysOnly && HasKeyColumns()) {
    n = FetchUntilKey(Key.data());
    found = n != nullptr;
  }
  FBufferLoaded = nullptr;
  if (found) {
    if (n->Has(nfDeleted)) {
      FNodeList->SetBufferCursor(0);
      return false;
    }
    FNodeList->SeekKey(Key.data());
    return true;
  }
  FNodeList->SetBufferCursor(0);
  return SysLookupKeyForBufferFields(Key.data());
}

bool TIB_BDataset::SysLookupKeyForBufferFields(const uint8_t* Key) {
  if (!HasKeyColumns() || FNodeList->GetBufferCursor().Row != 0) return false;
  FBufferFieldsCursor->PrepareDescription();
  TIB_Node* n = FNodeList->AddRetainedKey(Key);
  bool exists = false;
  try {
    // Read into the buffer row: the current row's values stay as they are.
    exists = FBufferFieldsCursor->FetchNode(n, true, false, FBufferFieldsCursor->GetFields());
  } catch (...) {
    FNodeList->RemoveNode(n);
    throw;
  }
  if (!exists) {
    FNodeList->RemoveNode(n);
    return false;
  }
  FBufferLoaded = nullptr;
  FNodeList->SeekKey(Key);
  return true;
}
