// Positioning by key: bookmarks and KeySource links that name a row the buffer may not hold yet.
#include <algorithm>
#include <cstring>
#include <utility>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Session.h"
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
  const std::string empty = OrderingSearchValue(*c, "", GetOrderingItemNo() < 0, drop, OrderingCharSet(*c));
  if (!drop && param->GetAsString() == empty) return;
  SetOrderingSearchText("");
}

bool TIB_BDataset::LocateKeyBytes(const std::vector<uint8_t>& Key) {
  FLastKeyText = BinaryToHexText(Key.data(), Key.size());
  if (!FPrepared || FNodeList->GetKeyLength() == 0) return false;
  int32_t serial = ++FLocateSerial;
  // A callback may destroy the dataset: the brackets of the search end only while it lives (the
  // callback step raises EAbort then).
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
  TDatasetOperation search(this);
  search.Defer();
  {
    // The callback step: what waits in the message queue runs (a newer search among it).
    TDatasetOperation step(this);
    step.Fetching();
    step.Run([this] { DoCallback(); });
    step.End();
  }
  if (overtaken()) return search.Ended(false);
  // A buffered row (a cached change included: it is the row as this dataset shows it).
  if (TIB_Node* n = BufferedNode(Key)) {
    if (moveTo(n)) return search.Ended(true);
    SetRowNum(0);
    return search.Ended(false);
  }
  if (!FSeekCursor->SeekKey(Key.data())) {
    SetRowNum(0);
    return search.Ended(false);
  }
  // The result holds the row: started at the row's ordering value, it comes among the first ones.
  if (const std::string text = OrderingTextOfKey(Key); !text.empty()) SetOrderingSearchText(text);
  TIB_Node* found = BufferedNode(Key);
  bool aborted = false, refused = false;
  if (!found && FActive && !FCursorDone && !FEof) {
    TDatasetOperation loop(this);
    loop.Fetching();
    const bool wasInFetch = std::exchange(FInFetch, true);
    const int32_t rowNum = std::exchange(FRowNum, FFetchedRows);
    // The fetch fills the Fields row: it is unpacked from the current node again afterwards.
    const std::vector<uint8_t>* soughtBefore = std::exchange(FSoughtKey, &Key);
    FSoughtRefused = false;
    loop.AtEnd([this, wasInFetch, rowNum, soughtBefore] {
      FSoughtKey = soughtBefore;
      FInFetch = wasInFetch;
      FRowNum = rowNum;
      RunReported([this] { LoadCurrentRow(); });
    });
    int32_t sinceSearch = 0;
    loop.Run([&] {
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
        if ((fetched && !found) || FSoughtRefused) refused = true;
        if (refused) break;
      }
    });
    aborted = FAbort;
    loop.End();
  }
  if (overtaken()) return search.Ended(false);
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
    if (overtaken()) return search.Ended(false);
  }
  if (moveTo(found)) return search.Ended(true);
  SetRowNum(0);
  return search.Ended(false);
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
  const TIB_AliveFlag alive = FAlive;
  try {
    // Read into the buffer row: the current row's values stay as they are. While a record filter runs
    // (the buffer row may be what it looks at) the binding cursor reads the row instead.
    if (FFilteringRecord || FBufferFieldsCursor->BuildSQL().empty()) {
      exists = FBufferFieldsCursor->FetchNode(n, true, false, FBufferFieldsCursor->GetFields());
    } else {
      exists = ReadBySeekStatement(n, Key);
    }
  } catch (...) {
    if (alive.Get()) FNodeList->RemoveNode(n);
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

namespace {

XSQLDA* SizedDA(std::vector<std::byte>& Area, int N) {
  N = std::max(N, 1);
  Area.assign(XSQLDA_LENGTH(N), std::byte{0});
  auto* da = reinterpret_cast<XSQLDA*>(Area.data());
  da->version = SQLDA_VERSION1;
  da->sqln = static_cast<ISC_SHORT>(N);
  return da;
}

}  // namespace

void TIB_BDataset::PrepareSeekStatement(const std::string& SQL) {
  if (FSeekHandle != 0 && SQL == FSeekSQL) return;
  FreeSeekStatement();
  TIB_Session& s = Session();
  if (s.Call(s.Entries.isc_dsql_allocate_statement, GetDbHandlePtr(), &FSeekHandle) != 0) {
    FSeekHandle = 0;
    s.HandleISCError(this);
  }
  const auto dialect = static_cast<unsigned short>(GetSQLDialect());
  if (s.Call(s.Entries.isc_dsql_prepare, GetTrHandlePtr(), &FSeekHandle, SQLTextLength(SQL), SQL.c_str(), dialect,
             static_cast<XSQLDA*>(nullptr)) != 0) {
    // The engine's error, with the handle given back first.
    const std::vector<ISC_STATUS> status(s.GetStatusVector(), s.GetStatusVector() + ISC_STATUS_LENGTH);
    FreeSeekStatement();
    std::copy(status.begin(), status.end(), s.GetStatusVector());
    s.HandleISCError(this);
  }
  if (s.GetMonitorHooked()) {
    std::string line = "//>>> STATEMENT PREPARED <<<//\r\nTIB_BDataset.SysLookupKeyForBufferFields.GetSeekCursor()\r\n";
    if (GetOwner() && !GetOwner()->GetName().empty()) line += GetOwner()->GetName() + ".";
    line += GetName() + " stHandle=" + std::to_string(FSeekHandle);
    s.MonitorOutput(line);
  }
  FSeekSQL = SQL;
}

void TIB_BDataset::FreeSeekStatement() noexcept {
  if (FSeekHandle != 0 && GetSession()) {
    TIB_Connection* c = GetIB_Connection();
    if (c && c->GetConnected()) {
      TIB_Session& s = Session();
      TIB_SessionBase::CallScratch(s.Entries.isc_dsql_free_statement, &FSeekHandle, static_cast<unsigned short>(DSQL_drop));
    }
  }
  FSeekHandle = 0;
  FSeekNamed = false;
  FSeekSQL.clear();
  FSeekInDA.clear();
  FSeekOutDA.clear();
}

bool TIB_BDataset::ReadBySeekStatement(TIB_Node* Node, const uint8_t* Key) {
  SysCheckTransaction(true);
  // The text the buffer row's binding cursor is prepared with: the SELECT restricted to one key.
  PrepareSeekStatement(FBufferFieldsCursor->GetServerSQL());
  TIB_Session& s = Session();
  const auto dialect = static_cast<unsigned short>(GetSQLDialect());
  // The descriptions, each column's copied whole: the dataset's parameters and the key row's columns in,
  // the buffer row's columns out (the values land where the buffer row keeps them). Made at each read:
  // the rows may have been laid out anew since.
  const XSQLDA* params = GetParams() ? GetParams()->GetPSQLDA() : nullptr;
  const XSQLDA* key = GetKeyFields()->GetPSQLDA();
  const int own = params ? params->sqld : 0;
  // In the order the statement's text names them: "BIND_n" is the key row's column n, every other
  // parameter the dataset's next one (the text is the binding cursor's, whose parameters say the order).
  const XSQLDA* order = FBufferFieldsCursor->GetParams() ? FBufferFieldsCursor->GetParams()->GetPSQLDA() : nullptr;
  const int total = order ? order->sqld : own + key->sqld;
  XSQLDA* in = SizedDA(FSeekInDA, total);
  int other = 0;
  for (int i = 0; i < total; ++i) {
    int at = -1;
    if (order) {
      const XSQLVAR& v = order->sqlvar[i];
      const std::string name(v.aliasname, static_cast<size_t>(std::max<int>(v.aliasname_length, 0)));
      if (name.rfind("BIND_", 0) == 0 && name.size() > 5) at = std::atoi(name.c_str() + 5);
    } else if (i >= own) {
      at = i - own;
    }
    if (at >= 0 && at < key->sqld) {
      in->sqlvar[i] = key->sqlvar[at];
    } else if (other < own) {
      in->sqlvar[i] = params->sqlvar[other++];
    } else {
      IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
    }
  }
  in->sqld = static_cast<ISC_SHORT>(total);
  const XSQLDA* fields = FBufferFieldsCursor->GetFields()->GetPSQLDA();
  XSQLDA* out = SizedDA(FSeekOutDA, fields ? fields->sqld : 0);
  for (int i = 0; fields && i < fields->sqld; ++i) out->sqlvar[i] = fields->sqlvar[i];
  out->sqld = static_cast<ISC_SHORT>(fields ? fields->sqld : 0);
  // The key travels in the key row's own buffer: its values are put back afterwards.
  TIB_Row* keyRow = GetKeyFields();
  uint8_t* buffer = keyRow->GetRecordBuffer();
  const std::vector<uint8_t> saved(buffer, buffer + keyRow->GetRecordLength());
  TScopeExit restore([&] { std::memcpy(buffer, saved.data(), saved.size()); });
  std::memcpy(buffer, Key, std::min(saved.size(), static_cast<size_t>(FNodeList->GetKeyLength())));
  if (s.Call(s.Cursor.isc_dsql_execute, GetTrHandlePtr(), &FSeekHandle, dialect, static_cast<const XSQLDA*>(in)) != 0)
    s.HandleISCError(this);
  if (!FSeekNamed) {
    // A name of its own: the dataset's and the binding cursors' are taken.
    std::string name = "K" + GetCursorName();
    if (name.size() > 31) name = "K" + name.substr(name.size() - 30);
    if (s.Call(s.Cursor.isc_dsql_set_cursor_name, &FSeekHandle, name.c_str(), static_cast<unsigned short>(0)) != 0) {
      TIB_SessionBase::CallScratch(s.Cursor.isc_dsql_free_statement, &FSeekHandle, static_cast<unsigned short>(DSQL_close));
      s.HandleISCError(this);
    }
    FSeekNamed = true;
  }
  // The fetch writes the row before it is reset: the old record keeps what it held.
  FBufferFieldsCursor->GetFields()->TakeOldValues();
  // The client writes no indicator for a NOT NULL column.
  for (int i = 0; i < out->sqld; ++i) {
    XSQLVAR& v = out->sqlvar[i];
    if ((v.sqltype & 1) == 0 && v.sqlind) *v.sqlind = 0;
  }
  const ISC_STATUS status = s.Call(s.Cursor.isc_dsql_fetch, &FSeekHandle, dialect, static_cast<const XSQLDA*>(out));
  if (status != 0 && status != kEndOfCursor) {
    const std::vector<ISC_STATUS> error(s.GetStatusVector(), s.GetStatusVector() + ISC_STATUS_LENGTH);
    TIB_SessionBase::CallScratch(s.Cursor.isc_dsql_free_statement, &FSeekHandle, static_cast<unsigned short>(DSQL_close));
    std::copy(error.begin(), error.end(), s.GetStatusVector());
    s.HandleISCError(this);
  }
  if (s.Call(s.Cursor.isc_dsql_free_statement, &FSeekHandle, static_cast<unsigned short>(DSQL_close)) != 0)
    s.HandleISCError(this);
  // End of data is no failure: the key's row is not in the result.
  if (status == kEndOfCursor) return false;
  TIB_Row* row = FBufferFieldsCursor->GetFields();
  row->ResetRow(false, true, true);
  FNodeList->PackRow(Node, *row);
  return true;
}
