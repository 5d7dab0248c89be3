// TIB_BDataset: construction, storing fetched rows as nodes, row numbers and scrolling, the buffer
// position, bookmarks and the record count. Editing and cached updates are in IB_BDatasetUpdates.cpp.
#include "dblib/dataset/IB_BDataset.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Transaction.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_BindingCursor.h"
#include "dblib/dataset/IB_Cursor.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

TIB_BDataset::TIB_BDataset(TComponent* AOwner)
    : TIB_Dataset(AOwner),
      FNodeList(std::make_unique<TIB_NodeList>()),
      FFieldsCursor(new TIB_BindingCursor(this)),
      FBufferFieldsCursor(new TIB_BindingCursor(this)),
      FSeekCursor(new TIB_BindingCursor(this)),
      FKeysCursor(new TIB_Cursor(this)) {
  FRefreshAction = raKeepRowNum;
  FRefreshOnParamChange = true;
  FKeyLinksAutoDefine = true;
  FSearchedEdits = true;
  FSearchedDeletes = true;
  FPreparedEdits = true;
}

TIB_BDataset::~TIB_BDataset() = default;

void TIB_BDataset::BeforeDestruction() {
  // Destroyed from a handler of an apply, whose state stands for the change being applied (the row
  // itself was posted before the apply), or of a cancel: nothing is posted on the way out.
  if (FApplying) FState = dssBrowse;
  DropCancelledRow();
  // Pending cached changes go with the dataset: the transaction stops counting them.
  RunReported([&] { TIB_Dataset::SysClose(); });
  FFilterCursor = nullptr;  // owned: it goes with the dataset's components
  FNodeList->ClearAll();
  RunReported([&] { SyncPendingNotice(); });
  TIB_Dataset::BeforeDestruction();
}

// ---------------------------------------------------------------------------------------------------------
// Keys

int32_t TIB_BDataset::KeyLength() {
  TIB_Row* key = GetKeyFields();
  if (key && key->GetColumnCount() > 0) return static_cast<int32_t>(key->GetRecordLength());
  return static_cast<int32_t>(sizeof(int32_t));
}

void TIB_BDataset::PlanKey(TIB_Row& Key) {
  FKeyPlanStamp = 0;
  FKeyPlan.clear();
  const size_t len = Key.GetRecordLength();
  const uint8_t* base = Key.GetRecordBuffer();
  for (int i = 0; i < Key.GetColumnCount(); ++i) {
    const TIB_Column* c = Key.GetColumns(i);
    const XSQLVAR& v = *c->GetPSQLVAR();
    if (!v.sqldata || !v.sqlind) continue;
    const auto data = static_cast<size_t>(reinterpret_cast<const uint8_t*>(v.sqldata) - base);
    const size_t size = c->DataSize();
    if (data > len || size > len - data) continue;
    FKeyPlan.push_back({reinterpret_cast<const uint8_t*>(v.sqlind), data, size, (v.sqltype & ~1) == SQL_VARYING});
  }
  FKeyPlanStamp = Key.GetLayoutStamp();
}

void TIB_BDataset::KeyFromKeyRow(std::vector<uint8_t>& Key) {
  TIB_Row* key = GetKeyFields();
  const int columns = key ? key->GetColumnCount() : 0;
  if (columns == 0) {
    Key.assign(sizeof FFetchedRows, 0);
    std::memcpy(Key.data(), &FFetchedRows, sizeof FFetchedRows);
    return;
  }
  const size_t len = key->GetRecordLength();
  if (Key.size() != len) Key.resize(len);
  TIB_NodeList::CopyKeyBytes(Key.data(), key->GetRecordBuffer(), len);
  if (key->GetLayoutStamp() == 0 || key->GetLayoutStamp() != FKeyPlanStamp) PlanKey(*key);
  // Equal keys must be equal bytes: what lies beyond a VARCHAR's text and under a null is zeroed.
  for (const TKeyPart& k : FKeyPlan) {
    int16_t ind;
    std::memcpy(&ind, k.Ind, sizeof ind);
    if (ind == -1) {
      std::memset(Key.data() + k.At, 0, k.Size);
    } else if (k.Varying && k.Size >= 2) {
      uint16_t l;
      std::memcpy(&l, Key.data() + k.At, 2);
      if (l > k.Size - 2) {
        l = static_cast<uint16_t>(k.Size - 2);
        std::memcpy(Key.data() + k.At, &l, 2);
      }
      std::memset(Key.data() + k.At + 2 + l, 0, k.Size - 2 - l);
    }
  }
}

std::vector<uint8_t> TIB_BDataset::BookmarkKey(const std::string& Value) {
  const auto len = static_cast<size_t>(FNodeList->GetKeyLength());
  if (len == 0 || Value.size() != 2 * len) IB_Raise<EIB_DatasetError>(IBMsg::InvalidBookmarkString);
  std::vector<uint8_t> key(len);
  try {
    HexTextToBinary(Value, key.data(), len);
  } catch (const Exception&) {
    IB_Raise<EIB_DatasetError>(IBMsg::InvalidBookmarkString);
  }
  return key;
}

// ---------------------------------------------------------------------------------------------------------
// Preparing, opening and closing

void TIB_BDataset::SysBuildSelect() {
  TIB_Dataset::SysBuildSelect();
  if (FKeyLinks.Count() != 1) return;
  const std::string link = Trim(FKeyLinks.GetName(0).empty() ? FKeyLinks.Get(0) : FKeyLinks.GetName(0));
  const int32_t dot = CharPosOutsideQuotes('.', link, 1);
  if (dot <= 1 || !SameText(Trim(link.substr(static_cast<size_t>(dot))), "RDB$DB_KEY")) return;
  const std::string rel = Trim(link.substr(0, static_cast<size_t>(dot - 1)));
  std::string sql = FSQL->GetText();
  std::string select = Trim(GetSQLSelect(sql));
  if (select.empty() || UpperCase(select).find("DB_KEY") != std::string::npos) return;
  for (char& c : select) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  for (size_t at; (at = select.find("  ")) != std::string::npos;) select.erase(at, 1);
  if (SameText(select, "SELECT *")) select = "SELECT " + rel + ".*";
  SetSQLSelect(sql, select + "\r\n     , " + rel + ".RDB$DB_KEY");
  FSQL->SetText(sql);
}

std::string TIB_BDataset::RowLayout() {
  // What the packed records and the keys depend on: the key relation and length, and every column's
  // relation, name, type, scale and length.
  std::string layout = GetKeyRelation() + "|" + std::to_string(KeyLength());
  for (TIB_Row* row : {FFields.get(), GetKeyFields()}) {
    if (!row) continue;
    layout += "|" + std::to_string(row->GetColumnCount());
    for (int i = 0; i < row->GetColumnCount(); ++i) {
      TIB_Column* c = row->GetColumns(i);
      const XSQLVAR& v = *c->GetPSQLVAR();
      layout += "|" + c->GetRelName() + "." + c->GetSQLName() + "/" + c->GetColumnName() + ":" +
                std::to_string(v.sqltype) + "," + std::to_string(v.sqlscale) + "," + std::to_string(v.sqllen) + "," +
                std::to_string(v.sqlsubtype);
    }
  }
  return layout;
}

void TIB_BDataset::SysAllocateRows() {
  TIB_Dataset::SysAllocateRows();
  std::string layout = RowLayout();
  // A query prepared again with rows of the same layout (a new filter, ordering or condition) keeps its
  // pending cached changes: they are found again by key when the rows come back.
  const bool keep = FNodeList->GetUpdateListCount() > 0 && layout == FRowLayout;
  FRowLayout = std::move(layout);
  if (keep) {
    FNodeList->Clear(true, true);
    FBufferLoaded = nullptr;
  } else {
    DropUpdatesForReprepare();
    FNodeList->SetKeyLength(KeyLength());
  }
  FKeySelectList.clear();
  if (FPrepared && !GetIsBindingCursor()) {
    for (int i = 0; i < FKeyLinks.Count(); ++i) FKeySelectList += (i ? ", " : "SELECT ") + KeySelectItem(i);
  }
  FKeysInsertable = true;
  const std::string rel = GetKeyRelation();
  if (FKeyLinks.Count() == 0 && !rel.empty() && !GetIsBindingCursor()) {
    if (TIB_ConnectionSchemaCache* cache = GetIB_Connection() ? GetIB_Connection()->GetSchemaCache() : nullptr) {
      std::string bare;
      StripQuotes(rel, bare);
      TIB_StringList keys;
      cache->GetTableKeys(rel[0] == '"' ? bare : rel, keys);
      FKeysInsertable = keys.Count() == 0;
    }
  }
}

void TIB_BDataset::SysUnprepare() {
  FBufferLoaded = nullptr;
  RunReported([&] { FFieldsCursor->Unprepare(); });
  RunReported([&] { FBufferFieldsCursor->Unprepare(); });
  RunReported([&] { FSeekCursor->Unprepare(); });
  FreeSeekStatement();
  RunReported([&] { FKeysCursor->Unprepare(); });
  if (FFilterCursor) RunReported([&] { FFilterCursor->Unprepare(); });
  FKeysOnly = false;
  FRowLayout.clear();
  FKeySelectList.clear();
  TIB_Dataset::SysUnprepare();
  DropUpdatesForReprepare();
  FNodeList->ClearAll();
}

void TIB_BDataset::SysBeforeOpen() {
  const bool modifying = GetIsModifying();
  TIB_Dataset::SysBeforeOpen();
  if (!modifying || FActive) return;
  // A row typed into the closed query was posted: the open reads it in the SELECT's order with the
  // others, so its node does not stand before them. (A cached insert stays, as after a close.)
  FNodeList->Clear(FNodeList->GetUpdateListCount() > 0 || GetRefreshing(), true);
  FBufferLoaded = nullptr;
}

void TIB_BDataset::SysActivate() {
  FFetchedRows = 0;
  FCursorDone = false;
  FNodeList->SetBufferCursor(0);
  {
    // AutoFetchAll fetches here (its callbacks may destroy the dataset).
    TDatasetOperation activation(this);
    const bool wasInFetch = std::exchange(FInFetch, true);
    activation.AtEnd([this, wasInFetch] { FInFetch = wasInFetch; });
    TIB_Dataset::SysActivate();
    activation.End();
  }
  SyncPosition();
  // A lookup query opened with its KeySource set starts on the row the source names.
  if (GetKeyDataset() && !GetRefreshing()) Perform(dnKeySourceSync);
}

void TIB_BDataset::SysNotifyDyn20() {
  if (FKeysCursor->GetActive()) RunReported([&] { FKeysCursor->Close(); });
  if (FFilterCursor && FFilterCursor->GetActive()) RunReported([&] { FFilterCursor->Close(); });
  FKeysStarted = false;
  // Rows with state (cached changes, selection) stay for the next open to find again.
  const bool keep = FNodeList->GetUpdateListCount() > 0 || GetRefreshing();
  FNodeList->Clear(keep, true);
  FBufferLoaded = nullptr;
  FCursorDone = true;
  FFetchedRows = 0;
  FRowNum = 0;
  TIB_Dataset::SysNotifyDyn20();
}

bool TIB_BDataset::DoAfterFetchRow() {
  // The base class counted the row into FRowNum; outside a fetch of this class that is the current row.
  if (!FInFetch) --FRowNum;
  ++FFetchedRows;
  KeyFromKeyRow(FKeyScratch);
  FLastPacked = nullptr;
  TIB_Node* n = FNodeList->AddKey(FKeyScratch.data());
  if (!n) return true;  // a row inserted here already stands for it
  if (!n->Has(nfModified)) {
    FNodeList->PackRow(n, *FFields);
    FLastPacked = n;
  }
  if (n->Has(nfDeleted)) {
    // A row deleted under cached updates stays hidden.
    if (!FInFetch) ++FRowNum;
    return false;
  }
  const bool accept = FilterAccepts() && TIB_Dataset::DoAfterFetchRow();
  if (!accept) {
    FLastPacked = nullptr;
    FNodeList->RemoveNode(n);
    if (!FInFetch) ++FRowNum;
  }
  return accept;
}

void TIB_BDataset::DoAfterFetchEof() {
  FLastPacked = nullptr;
  // Keys-only mode: the query's own statement is not open, so each fetch lands here; the key statement
  // gives the next row.
  if (FKeysOnly && !FCursorDone && !FAbort && (FMaxRows <= 0 || FFetchedRows < FMaxRows) && FetchKey()) {
    FEof = false;
    return;
  }
  if (FKeysCursor->GetActive()) FKeysCursor->Close();
  FCursorDone = true;
  FNodeList->ClearPendingInserts();
  TIB_Dataset::DoAfterFetchEof();
}

void TIB_BDataset::SysFetchFailed() {
  FCursorDone = true;
  if (FKeysCursor->GetActive()) RunReported([this] { FKeysCursor->Close(); });
}

bool TIB_BDataset::GetCanInsert() { return TIB_Dataset::GetCanInsert() && FKeysInsertable; }

bool TIB_BDataset::GetCursorOnCurrentRow() {
  const TIB_Node* n = FNodeList->GetRowCursor().Node;
  if (!FActive || FKeysOnly || FCursorDone || FEof || n->IsSentinel() || n->Has(nfInserted)) return false;
  if (FKeyLinks.Count() > 0) return false;
  TIB_Row* key = GetKeyFields();
  // Without key links a row is keyed by its fetch number: the cursor stands on the row fetched last.
  size_t at = 0;
  if (key && key->GetColumnCount() == 1) {
    at = static_cast<size_t>(reinterpret_cast<const uint8_t*>(key->GetColumns(0)->GetPSQLVAR()->sqldata) -
                             key->GetRecordBuffer());
  }
  if (static_cast<size_t>(FNodeList->GetKeyLength()) < at + sizeof FFetchedRows) return false;
  int32_t fetched;
  std::memcpy(&fetched, n->KeyData() + at, sizeof fetched);
  return fetched == FFetchedRows;
}

void TIB_BDataset::SetFetchWholeRows(bool Value) {
  if (Value == FFetchWholeRows) return;
  if (FPrepared) Unprepare();
  FFetchWholeRows = Value;
}

void TIB_BDataset::SysOpenCursor() {
  FKeysOnly = false;
  FKeysStarted = false;
  // A record filter looks at whole rows as they are fetched: with one the rows are fetched whole.
  if (!FFetchWholeRows && !(FFiltered && FOnFilterRecord) && PrepareKeysCursor()) {
    FKeysOnly = true;
    return;
  }
  TIB_Dataset::SysOpenCursor();
}

bool TIB_BDataset::PrepareKeysCursor() {
  TIB_Row* key = GetKeyFields();
  if (FKeyLinks.Count() == 0 || !key || key->GetColumnCount() != FKeyLinks.Count() || FKeySelectList.empty() ||
      FFieldsCursor->BuildSQL().empty()) {
    return false;
  }
  // A key column that is an expression (ID + 0 AS K) is known by its alias, which a SELECT of the key
  // columns cannot name: such rows are fetched whole.
  for (int i = 0; i < key->GetColumnCount(); ++i) {
    if (key->GetColumns(i)->GetRelName().empty()) return false;
  }
  std::string sql = GetServerSQL();
  if (!GetSQLUnion(sql).empty() || SQLIsAggregate()) return false;
  SetSQLSelect(sql, FKeySelectList);
  if (FKeysCursor->GetActive()) FKeysCursor->Close();
  FKeysCursor->SetIB_Connection(GetIB_Connection());
  FKeysCursor->SetIB_Transaction(GetIB_Transaction());
  if (FKeysCursor->GetSQL().GetText() != sql || !FKeysCursor->GetPrepared()) {
    FKeysCursor->GetSQL().SetText(sql);
    FKeysCursor->Prepare();
  }
  TIB_Row* params = FKeysCursor->GetParams();
  if (params->GetColumnCount() != FParams->GetColumnCount()) return false;
  for (int i = 0; i < params->GetColumnCount(); ++i) params->GetColumns(i)->Assign(FParams->GetColumns(i));
  return true;
}

std::string TIB_BDataset::KeySelectItem(int Index) {
  const std::string link = Trim(FKeyLinks.GetName(Index).empty() ? FKeyLinks.Get(Index) : FKeyLinks.GetName(Index));
  // The key link names the relation ("T.ID"); where the FROM gives the relation an alias ("T A") only the
  // select list's own spelling ("A.ID") is valid: a plain column item of the select list is taken as it is.
  TIB_Column* c = nullptr;
  const TIB_StringList& items = GetSelectColumnList();
  const XSQLDA* da = FFields->GetPSQLDA();
  if (!FFields->FindByName(link, c) || !da || items.Count() != da->sqld || c->GetFieldNo() < 0 ||
      c->GetFieldNo() >= items.Count()) {
    return link;
  }
  for (int i = 0; i < items.Count(); ++i) {
    if (items.Get(i) == "<*>") return link;
  }
  std::string item = items.Get(c->GetFieldNo());
  const size_t eq = item.find('=');
  if (eq != std::string::npos) item = item.substr(eq + 1);  // "ALIAS=expression"
  item = Trim(item);
  const bool plain = !item.empty() && std::all_of(item.begin(), item.end(), [](char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '$' || ch == '.' || ch == '"';
  });
  return plain ? item : link;
}

bool TIB_BDataset::FetchKey() {
  // The key statement closed behind the dataset (its transaction ended retaining and closed its cursors)
  // is opened again, and the keys the buffer holds already are passed over.
  const bool resume = FKeysStarted && !FKeysCursor->GetActive();
  if (resume) {
    FKeysCursor->First();
  } else if (FKeysStarted) {
    FKeysCursor->Next();
  } else {
    FKeysStarted = true;
    FKeysCursor->First();
  }
  TIB_Row* key = GetKeyFields();
  for (;;) {
    TIB_Row* from = FKeysCursor->GetFields();
    if (FKeysCursor->GetEof() || from->GetRowState() == rsNone) return false;
    for (int i = 0; i < key->GetColumnCount(); ++i) key->GetColumns(i)->Assign(from->GetColumns(i));
    KeyFromKeyRow(FKeyScratch);
    TIB_Node* n = nullptr;
    int32_t row = 0, db = 0;
    if (!resume || !FNodeList->FindKey(FKeyScratch.data(), false, n, row, db)) break;
    FKeysCursor->Next();
  }
  ++FFetchedRows;
  // The row's values are read by key when it is shown (a retained node keeps its own).
  FNodeList->AddKey(FKeyScratch.data());
  return true;
}

bool TIB_BDataset::ShowsFetchedRow() {
  return !GetIsModifying() && !BeforeScroll && !OnGetCanScroll && !AfterFetchRow && !(FFiltered && FOnFilterRecord) &&
         !GetKeyDataLink() &&
         FFields->GetCalculatedColumns().empty() && (GetDeferEventsCount() > 0 || !HasStatementLinks());
}

void TIB_BDataset::FetchUntil(int32_t Rows, bool ShowsFetched) {
  if (!FActive || FCursorDone || FEof) return;
  if (ShowsFetched && !GetIsModifying()) {
    FetchToShow(Rows, TIB_AliveFlag(FAlive));
    return;
  }
  // The fetch counts rows from the buffered ones and fills the Fields row: at its end (while the
  // dataset lives) the row number is put back and the current node unpacked again, or, while the row
  // is edited or inserted, the row is given back the values typed so far.
  // (The typed values are declared before the operation, which uses them when it ends; the step that
  // puts things back holds only a reference to them, so that it needs no allocation of its own.)
  struct TResume {
    std::vector<uint8_t> Typed;
    std::vector<std::pair<int, TIB_BlobNode>> TypedBlobs;
    uint8_t TypedState = 0;
    bool WasInFetch = false;
    int32_t RowNum = 0;
  } resume;
  std::vector<uint8_t>& typed = resume.Typed;
  resume.TypedState = FFields->GetRowState();
  if (GetIsModifying() && FFields->GetRecordBuffer()) {
    const size_t len = FFields->GetRecordLength();
    typed.assign(FFields->GetRecordBuffer(), FFields->GetRecordBuffer() + len);
    if (FFields->GetOldRecordBuffer())
      typed.insert(typed.end(), FFields->GetOldRecordBuffer(), FFields->GetOldRecordBuffer() + len);
    // Blob and array values typed so far live in the row's nodes, which the fetch resets.
    for (const auto* list : {&FFields->GetBlobColumns(), &FFields->GetArrayColumns()}) {
      for (TIB_Column* c : *list) {
        if (TIB_BlobNode* b = FFields->GetBlobNode(c->GetFieldNo()); b && c->GetIsModified()) {
          resume.TypedBlobs.emplace_back(c->GetFieldNo(), TIB_BlobNode{});
          CopyBlobNode(*b, resume.TypedBlobs.back().second, false);
        }
      }
    }
  }
  TDatasetOperation op(this);
  resume.WasInFetch = std::exchange(FInFetch, true);
  resume.RowNum = std::exchange(FRowNum, FFetchedRows);
  // The rows passing through the Fields row are no change of the current row: its data sources (a
  // detail following it, a control showing it) hear nothing of them, nor of the current row put back.
  FFields->BeginUpdate();
  op.AtEnd([this, &resume] {
    FInFetch = resume.WasInFetch;
    FRowNum = resume.RowNum;
    TScopeExit silent([this] { FFields->EndUpdateSilently(); });
    const std::vector<uint8_t>& typed = resume.Typed;
    const uint8_t typedState = resume.TypedState;
    auto& typedBlobs = resume.TypedBlobs;
    RunReported([&] {
      if (typed.empty()) {
        LoadCurrentRow();
        return;
      }
      const size_t len = FFields->GetRecordLength();
      if (typed.size() < len) return;
      std::memcpy(FFields->GetRecordBuffer(), typed.data(), len);
      if (FFields->GetOldRecordBuffer() && typed.size() >= 2 * len)
        std::memcpy(FFields->GetOldRecordBuffer(), typed.data() + len, len);
      for (auto& [at, blob] : typedBlobs) {
        if (TIB_BlobNode* b = FFields->GetBlobNode(at)) CopyBlobNode(blob, *b, true);
      }
      FFields->SetRowState(typedState);
      // The key row names the edited row again (the fetch filled it with the fetched rows' keys).
      TIB_Node* n = FNodeList->GetRowCursor().Node;
      TIB_Row* key = GetKeyFields();
      if (!n->IsSentinel() && key && key->GetColumnCount() > 0 &&
          key->GetRecordLength() == static_cast<size_t>(FNodeList->GetKeyLength())) {
        std::memcpy(key->GetRecordBuffer(), n->ServerKey(), key->GetRecordLength());
        key->SetRowState(rsUnmodified);
      }
    });
  });
  const int32_t want = Rows < 0 ? INT32_MAX : Rows;
  // (A failed fetch puts the current row back in the catch block, not in a destructor.)
  op.Run([&] {
    if (want - GetBufferCount() > 1) {
      TDatasetOperation loop(this);
      loop.Fetching();
      loop.Run([&] {
        while (FActive && !FEof && !FAbort && GetBufferCount() < want) FetchRow();
      });
      loop.End();
    } else {
      while (FActive && !FEof && GetBufferCount() < want) FetchRow();
    }
  });
  op.End();
}

void TIB_BDataset::FetchToShow(int32_t Rows, const TIB_AliveFlag& Alive) {
  // As FetchUntil, but the Fields row keeps the row fetched last for the move that shows a row next;
  // only a failed fetch puts the current row back. (Alive: the flag of the operation that called it.)
  // This runs once for every row a walk shows, so it ends its bracket in a catch block instead of an
  // operation of its own (which would cost a tenth of the row): the same steps, checked the same way.
  const bool wasInFetch = std::exchange(FInFetch, true);
  const int32_t rowNum = std::exchange(FRowNum, FFetchedRows);
  FLastPacked = nullptr;
  try {
    const int32_t want = Rows < 0 ? INT32_MAX : Rows;
    // Each row fetched takes the place of the one the Fields row held.
    const auto fetchReplacing = [this] {
      FFetchReplacesRow = true;
      FetchRow();
    };
    if (want - TIB_BDataset::GetBufferCount() > 1) {
      TDatasetOperation loop(this);
      loop.Fetching();
      loop.Run([&] {
        while (FActive && !FEof && !FAbort && TIB_BDataset::GetBufferCount() < want) fetchReplacing();
      });
      loop.End();
    } else {
      while (FActive && !FEof && TIB_BDataset::GetBufferCount() < want) fetchReplacing();
    }
  } catch (...) {
    if (Alive.Get()) {
      FInFetch = wasInFetch;
      FRowNum = rowNum;
      RunReported([&] { LoadCurrentRow(); });
    }
    throw;
  }
  if (!Alive.Get()) throw EAbort();
  FInFetch = wasInFetch;
  FRowNum = rowNum;
  FFieldsHold = FLastPacked;
  FFetchedUnshown = true;
}

TIB_Node* TIB_BDataset::FetchUntilKey(const uint8_t* Key) {
  TIB_Node* n = nullptr;
  int32_t row = 0, db = 0;
  if (FNodeList->FindKey(Key, false, n, row, db)) return n;
  // A key the result does not hold is not looked for by fetching every row.
  if (FActive && !FCursorDone && !FEof && !FSeekCursor->SeekKey(Key)) return nullptr;
  while (FActive && !FCursorDone && !FEof && !FAbort) {
    FetchUntil(GetBufferCount() + 256);
    if (FNodeList->FindKey(Key, false, n, row, db)) return n;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Positions

void TIB_BDataset::SyncPosition() {
  // Anything that moved the current row may have changed the buffer row's values too.
  FBufferLoaded = nullptr;
  FRowNum = GetRowNum();
  FEof = FCursorDone;
}

// Without a visible row (every row left is a cached delete, hidden) the start and the end are one place,
// as they are in an empty buffer: the dataset is then at both ends wherever the row cursor stands.
bool TIB_BDataset::GetEof() {
  return (FCursorDone || !FActive) &&
         (FNodeList->RowAtEnd() || (FNodeList->RowAtStart() && TIB_BDataset::GetBufferCount() == 0));
}
bool TIB_BDataset::GetBof() {
  return FNodeList->RowAtStart() || (FNodeList->RowAtEnd() && TIB_BDataset::GetBufferCount() == 0);
}

int32_t TIB_BDataset::GetRowNum() {
  const TIB_NodeList::TCursor& c = FNodeList->GetRowCursor();
  if (c.Row < 0 || c.Node->Has(nfDeleted)) return 0;
  return c.Row - c.DeletedBefore;
}

int32_t TIB_BDataset::GetBufferCount() { return FNodeList->GetCount() - FNodeList->HiddenCount(); }

void TIB_BDataset::LoadCurrentRow() {
  TIB_Row* key = GetKeyFields();
  TIB_Node* held = std::exchange(FFieldsHold, nullptr);
  FFetchedUnshown = false;
  for (;;) {
    TIB_Node* n = FNodeList->GetRowCursor().Node;
    if (n->IsSentinel() || n->Has(nfDeleted)) {
      FFields->ClearRow(rsNone);
      if (key && key->GetColumnCount() > 0) key->SetRowState(rsNone);
      return;
    }
    // A row whose values were dropped (invalidated) is read again by its key; gone at the server, it
    // leaves the buffer and the next row is shown. (A row taking the place of one that left the view
    // is never the row being edited.)
    if (n->RecordLength == 0 && !n->Has(nfInserted) && (!GetIsModifying() || FLeavingRow) &&
        FReloadDepth == 0 && !FFieldsCursor->BuildSQL().empty()) {
      TIB_AliveCount<int32_t> reloading(FAlive, FReloadDepth);
      held = nullptr;
      if (!FFieldsCursor->FetchNode(n, true, false)) {
        const TIB_NodeList::TCursor& c = FNodeList->GetRowCursor();
        const int32_t next = c.Row - c.DeletedBefore;
        FNodeList->RemoveNode(n);
        FetchUntil(next);
        const int32_t visible = GetBufferCount();
        const TIB_NodeList::TCursor to = next <= visible ? FNodeList->LocateVisibleRow(next)
                                         : visible > 0   ? FNodeList->LocateVisibleRow(visible)
                                                         : TIB_NodeList::TCursor{FNodeList->GetTail(),
                                                                                 FNodeList->GetCount() + 1,
                                                                                 FNodeList->HiddenCount()};
        FNodeList->SetRowPosition(to.Node, to.Row, to.DeletedBefore);
        continue;
      }
    }
    // The row just fetched is still in the Fields row as it was packed: nothing to unpack.
    // (Nor is it reset again, nor the key row filled: its fetch did both, and nothing has touched them
    // since.)
    if (n == held && !FRowsShared) return;
    if (n != held) {
      FNodeList->UnpackRow(n, *FFields);
      if (FHeldBlobs) ShowHeldBlobs(n, *FFields);
      FFields->ResetRow(false, true, true);
    }
    if (key && key->GetColumnCount() > 0 && key->GetRecordLength() == static_cast<size_t>(FNodeList->GetKeyLength())) {
      std::memcpy(key->GetRecordBuffer(), n->ServerKey(), key->GetRecordLength());
      key->SetRowState(rsUnmodified);
    }
    return;
  }
}

bool TIB_BDataset::RefreshRow() {
  TIB_Node* n = FNodeList->GetRowCursor().Node;
  if (n->IsSentinel()) return false;
  const int32_t row = GetRowNum();
  bool found = false;
  const TIB_AliveFlag alive = FAlive;
  try {
    found = FFieldsCursor->FetchNode(n, true, true);
  } catch (...) {
    // The row keeps the values it had.
    if (alive.Get()) RunReported([&] { LoadCurrentRow(); });
    throw;
  }
  if (!found) {
    // Gone at the server: the row after it takes its place (fetched when not buffered yet).
    FNodeList->RemoveNode(n);
    FetchUntil(row);
    const int32_t visible = GetBufferCount();
    MoveToNode(row <= visible ? FNodeList->LocateVisibleRow(row) : FNodeList->LocateVisibleRow(visible));
    ProcessLinkEvent(sleRowNumChanged, -1);
    return false;
  }
  LoadCurrentRow();
  SyncPosition();
  return true;
}

void TIB_BDataset::MoveToNode(const TIB_NodeList::TCursor& C) {
  FNodeList->SetRowPosition(C.Node, C.Row, C.DeletedBefore);
  LoadCurrentRow();
  SyncPosition();
}

void TIB_BDataset::SetRowNum(int32_t Value) {
  if (!FPrepared) SetPrepared(true);
  // Closed with no rows kept (a commit closed it): there is no row to move to.
  if (!FActive && TIB_BDataset::GetBufferCount() < 1) [[unlikely]]
    IB_Raise<EIB_DatasetError>(IBMsg::DatasetIsInactive);
  if (Value > TIB_BDataset::GetBufferCount()) {
    if (ShowsFetchedRow()) {
      // The fetched row stays in the Fields row until the move shows a row; nothing is expected to fail
      // before that, but should anything, the current row is shown again.
      const TIB_AliveFlag alive(FAlive);
      try {
        // (As FetchUntil(Value, true), whose other checks ShowsFetchedRow has made.)
        if (FActive && !FCursorDone && !FEof) FetchToShow(Value, alive);
        SetRowNumShown(Value);
      } catch (...) {
        if (alive.Get() && std::exchange(FFetchedUnshown, false)) RunReported([&] { LoadCurrentRow(); });
        throw;
      }
      return;
    }
    FetchUntil(Value);
  }
  SetRowNumShown(Value);
}

void TIB_BDataset::SetRowNumShown(int32_t Value) {
  const int32_t visible = TIB_BDataset::GetBufferCount();
  if (Value > visible) Value = visible + 1;
  if (Value < 0) Value = 0;
  const bool moves = Value != TIB_BDataset::GetRowNum() || FNodeList->GetRowCursor().Node->Has(nfDeleted);
  if (moves) SysBeginScroll();
  TIB_NodeList::TCursor c;
  if (Value == 0) {
    c = {FNodeList->GetHead(), 0, 0};
  } else if (Value > visible) {
    c = {FNodeList->GetTail(), FNodeList->GetCount() + 1, FNodeList->HiddenCount()};
  } else if (const TIB_NodeList::TCursor& at = FNodeList->GetRowCursor();
             Value == at.Row + 1 && at.DeletedBefore == 0 && FNodeList->HiddenCount() == 0 && at.Row >= 0 &&
             !at.Node->Next->IsSentinel()) {
    // The next row (a walk with Next): the node after the current one.
    c = {at.Node->Next, Value, 0};
  } else {
    c = FNodeList->LocateVisibleRow(Value);
  }
  MoveToNode(c);
  if (moves) SysEndScroll();
}

int32_t TIB_BDataset::SysMoveBy(int32_t n) {
  const int32_t before = TIB_BDataset::GetRowNum();
  const bool atEnd = FNodeList->RowAtEnd() && !FNodeList->IsEmpty();
  const int32_t from = atEnd ? TIB_BDataset::GetBufferCount() + 1 : before;
  SetRowNum(ClampedSum(from, n));
  return TIB_BDataset::GetRowNum() - before;
}

void TIB_BDataset::SysFirst() {
  if (!FActive) SysOpen();
  SetRowNum(1);
}

void TIB_BDataset::SysFetchAll() {
  // The rows are fetched into their nodes; the current row keeps its values.
  if (FActive) FetchUntil(-1);
}

void TIB_BDataset::SysLast() {
  if (!FActive) SysOpen();
  const int32_t row = GetRowNum();
  FetchUntil(-1);
  if (GetRowNum() == row) SetRowNum(GetBufferCount());
}

bool TIB_BDataset::GetBufferEof() { return !FActive || FCursorDone; }

int32_t TIB_BDataset::GetBufferRowNum() {
  const TIB_NodeList::TCursor& c = FNodeList->GetBufferCursor();
  if (c.Row < 0 || c.Node->Has(nfDeleted)) return 0;
  return c.Row - c.DeletedBefore;
}

void TIB_BDataset::SetBufferRowNum(int32_t Value) {
  bool removed = false;
  for (;;) {
    FBufferLoaded = nullptr;
    if (Value > GetBufferCount()) FetchUntil(Value);
    const int32_t visible = GetBufferCount();
    TIB_NodeList::TCursor c;
    if (Value <= 0) {
      c = {FNodeList->GetHead(), 0, 0};
    } else if (Value > visible) {
      c = {FNodeList->GetTail(), FNodeList->GetCount() + 1, FNodeList->HiddenCount()};
    } else {
      c = FNodeList->LocateVisibleRow(Value);
    }
    FNodeList->SetBufferPosition(c.Node, c.Row, c.DeletedBefore);
    // A row whose values are not loaded is read by its key; gone at the server, it leaves the buffer
    // and the row after it takes its place.
    TIB_Node* b = c.Node;
    if (b->IsSentinel() || b->Has(nfDeleted | nfInserted) || b->RecordLength != 0 ||
        b == FNodeList->GetRowCursor().Node || FBufferFieldsCursor->BuildSQL().empty()) {
      break;
    }
    FBufferFieldsCursor->PrepareDescription();
    if (FBufferFieldsCursor->FetchNode(b, true, false, FBufferFieldsCursor->GetFields())) break;
    FNodeList->RemoveNode(b);
    removed = true;
  }
  if (removed) {
    // The current row's number may have changed.
    SyncPosition();
    ProcessLinkEvent(sleRowNumChanged, -1);
  }
}

void TIB_BDataset::FieldsPropertyChanged(TIB_FieldsPropertyList List) {
  TIB_Dataset::FieldsPropertyChanged(List);
  if (FCopyingFieldsList) return;
  TValueRestorer<bool> copying(FCopyingFieldsList, true);
  TIB_StringProperty& to = FBufferFieldsCursor->GetFieldsList(List);
  if (to.GetText() != GetFieldsList(List).GetText()) to.Assign(GetFieldsList(List));
}

TIB_Row* TIB_BDataset::GetBufferFields() {
  TIB_Node* b = FNodeList->GetBufferCursor().Node;
  if (!FPrepared || b == FNodeList->GetRowCursor().Node) return GetFields();
  FBufferFieldsCursor->PrepareDescription();
  TIB_Row* row = FBufferFieldsCursor->GetFields();
  if (b->IsSentinel() || b->Has(nfDeleted)) {
    row->ClearRow(rsNone);
    FBufferLoaded = nullptr;
  } else if (b != FBufferLoaded || b->RecordLength == 0) {
    // A row whose values were dropped is read again by its key.
    if (b->RecordLength == 0 && !b->Has(nfInserted) && !FBufferFieldsCursor->BuildSQL().empty()) {
      FBufferFieldsCursor->FetchNode(b, true, false, row);
    }
    FNodeList->UnpackRow(b, *row);
    if (FHeldBlobs) ShowHeldBlobs(b, *row);
    row->ResetRow(false, true, true);
    FBufferLoaded = b;
  }
  return row;
}

bool TIB_BDataset::GetBufferBof() { return FNodeList->BufferAtStart(); }
bool TIB_BDataset::GetBufferAtEnd() { return FNodeList->BufferAtEnd() && GetBufferEof(); }

// ---------------------------------------------------------------------------------------------------------
// Bookmarks

std::string TIB_BDataset::GetBookmark() {
  const TIB_Node* n = FNodeList->GetRowCursor().Node;
  if (!FPrepared || FNodeList->IsEmpty() || n->IsSentinel() || FNodeList->GetKeyLength() == 0) return {};
  if (GetIsModifying() && FState == dssEdit) {
    // The key as edited so far; the key row itself keeps the key the server knows the row by.
    TIB_Row* key = GetKeyFields();
    std::vector<uint8_t> saved;
    if (key && key->GetColumnCount() > 0)
      saved.assign(key->GetRecordBuffer(), key->GetRecordBuffer() + key->GetRecordLength());
    FillKeyRow();
    KeyFromKeyRow(FKeyScratch);
    if (!saved.empty()) std::memcpy(key->GetRecordBuffer(), saved.data(), saved.size());
    return BinaryToHexText(FKeyScratch.data(), FKeyScratch.size());
  }
  return BinaryToHexText(n->KeyData(), static_cast<size_t>(FNodeList->GetKeyLength()));
}

void TIB_BDataset::SetBookmark(const std::string& Value) {
  if (HasState(csDestroying)) return;
  CheckBrowseMode();
  if (Value == GetBookmark()) return;
  // The browse check told the links that the row is left: the move does not tell them again.
  const TIB_AliveRestorer<bool> noticed(FAlive, FRowLeaveNoticed, true);
  if (Value.empty()) {
    ClearOrderingSearchText();
    SetRowNum(0);
    return;
  }
  LocateKeyBytes(BookmarkKey(Value));
}

std::string TIB_BDataset::GetBufferBookmark() {
  const TIB_NodeList::TCursor& c = FNodeList->GetBufferCursor();
  if (c.Node == FNodeList->GetRowCursor().Node) return GetBookmark();
  if (c.Node->IsSentinel() || FNodeList->GetKeyLength() == 0) return {};
  return BinaryToHexText(c.Node->KeyData(), static_cast<size_t>(FNodeList->GetKeyLength()));
}

bool TIB_BDataset::SetBufferBookmark(const std::string& Value) {
  FBufferLoaded = nullptr;
  if (Value.empty()) {
    FNodeList->SetBufferCursor(0);
    return false;
  }
  return LocateBufferKeyBytes(BookmarkKey(Value));
}

void TIB_BDataset::InvalidateBookmark(const std::string& Value) {
  const std::vector<uint8_t> key = BookmarkKey(Value);
  // The row being edited keeps its data: the edit (and a cached change) starts from it.
  const int32_t row = FNodeList->InvalidateKey(key.data(), GetIsModifying() ? FNodeList->GetRowCursor().Node : nullptr);
  if (row > 0 && row == FNodeList->GetRowCursor().Row && !GetIsModifying()) LoadCurrentRow();
  if (row > 0) ProcessLinkEvent(sleRowNumChanged, row);
}

// ---------------------------------------------------------------------------------------------------------
// Following the KeySource

void TIB_BDataset::Perform(int32_t Code) {
  if (Code == dnKeySourceSync) {
    SyncToKeySource();
    return;
  }
  TIB_Dataset::Perform(Code);
}

void TIB_BDataset::SyncToKeySource() {
  FKeySyncDeferred = false;
  // While this dataset writes its key into the KeySource (or follows it already) it does not follow.
  if (FKeySyncCount > 0 || HasState(csDestroying) || !FPrepared || !FActive || GetIsModifying()) return;
  // The transaction's end closed the cursor, and the refreshes after the end moved the KeySource before
  // this dataset's own refresh: nothing can be read from the cursor. That refresh follows the KeySource.
  if (GetCursorEndedByTransaction()) {
    const TIB_Transaction* t = GetIB_Transaction();
    const TIB_TransactionState ts = t->GetTransactionState();
    if (ts == tsCommitting || ts == tsRollingBack) {
      FKeySyncDeferred = true;
      return;
    }
  }
  TIB_AliveCount<int32_t> syncing(FAlive, FKeySyncCount);
  TIB_Dataset* k = GetKeyDataset();
  TIB_Row* from = k && k->GetPrepared() && k->GetState() != dssSearch ? k->GetFields() : nullptr;
  TIB_Row* key = GetKeyFields();
  auto none = [&] {
    if (FKeySeeking) {
      SetRowNum(0);
    } else {
      SetBufferRowNum(0);
    }
  };
  if (!from || from->GetRowState() == rsNone || !key || key->GetColumnCount() == 0 ||
      key->GetColumnCount() != FKeyLinks.Count()) {
    // A source without a row (before its first, after its last) names no key either.
    none();
    return;
  }
  // The key row is filled from the KeySource's columns; it holds the current row's key again after.
  const std::vector<uint8_t> saved(key->GetRecordBuffer(), key->GetRecordBuffer() + key->GetRecordLength());
  bool usable = true;
  for (int i = 0; i < FKeyLinks.Count() && usable; ++i) {
    const std::string name = Trim(FKeyLinks.GetName(i).empty() ? FKeyLinks.Get(i) : FKeyLinks.GetValueFromIndex(i));
    TIB_Column* c = nullptr;
    usable = from->FindByName(name, c) && !c->GetIsNull();
    if (usable) key->GetColumns(i)->Assign(c);
  }
  if (usable) KeyFromKeyRow(FKeyScratch);
  std::memcpy(key->GetRecordBuffer(), saved.data(), saved.size());
  if (!usable) {
    if (FKeySeeking) ClearOrderingSearchText();
    none();
    return;
  }
  const std::vector<uint8_t> sought = FKeyScratch;
  if (FKeySeeking) {
    LocateKeyBytes(sought);
  } else {
    LocateBufferKeyBytes(sought);
  }
}

// ---------------------------------------------------------------------------------------------------------
// Refresh and record count

void TIB_BDataset::SysInvalidateRows() {
  // The row being edited keeps its data: the edit (and a cached change) starts from it.
  FNodeList->InvalidateAll(GetIsModifying() ? FNodeList->GetRowCursor().Node : nullptr);
  TIB_Dataset::SysInvalidateRows();
}

void TIB_BDataset::SysFetchRowRange(int32_t From, int32_t To) {
  if (!FPrepared) return;
  if (From > To) std::swap(From, To);
  From = std::max(From, 1);
  FetchUntil(To);
  To = std::min(To, GetBufferCount());
  if (From > To || FBufferFieldsCursor->BuildSQL().empty()) return;
  TIB_Row* row = FBufferFieldsCursor->GetFields();
  TIB_Node* n = FNodeList->LocateVisibleRow(From).Node;
  TIB_Node* current = FNodeList->GetRowCursor().Node;
  bool removed = false;
  for (int32_t v = From; v <= To && !n->IsSentinel();) {
    TIB_Node* next = n->Next;
    if (!n->Has(nfDeleted)) {
      if (n->RecordLength == 0 && !n->Has(nfInserted) && !(n == current && GetIsModifying())) {
        FBufferFieldsCursor->PrepareDescription();
        if (!FBufferFieldsCursor->FetchNode(n, true, false, row)) {
          FNodeList->RemoveNode(n);
          removed = true;
        }
      }
      ++v;
    }
    n = next;
  }
  FBufferLoaded = nullptr;
  if (removed) {
    LoadCurrentRow();
    SyncPosition();
    ProcessLinkEvent(sleRowNumChanged, -1);
  }
}

void TIB_BDataset::CountPendingShown(int32_t& Inserted, int32_t& Deleted, bool Recount) {
  FNodeList->CountPendingInView(Inserted, Deleted);
  if (Recount) FRetainedDeletesSeen.clear();
  const std::vector<const TIB_Node*> waiting = FNodeList->RetainedPendingDeletes();
  // Every row of the result fetched: a node out of the buffer is a row out of view (another master's).
  if (waiting.empty() || (FActive && FCursorDone)) return;
  const size_t length = static_cast<size_t>(FNodeList->GetKeyLength());
  for (const TIB_Node* n : waiting) {
    const std::vector<uint8_t> key(n->ServerKey(), n->ServerKey() + length);
    auto seen = std::find_if(FRetainedDeletesSeen.begin(), FRetainedDeletesSeen.end(),
                             [&key](const auto& S) { return S.first == key; });
    if (seen == FRetainedDeletesSeen.end()) {
      // A refresh, a filter or the transaction's end trimmed the buffer and the cursor has not brought
      // the row back yet: the server's count still holds it when the SELECT returns its key.
      FRetainedDeletesSeen.emplace_back(key, FSeekCursor->SeekKey(key.data()));
      seen = std::prev(FRetainedDeletesSeen.end());
    }
    if (seen->second) ++Deleted;
  }
}

int32_t TIB_BDataset::DoGetRecordCount() {
  // The count of the rows at the server: SysRecordCount adds the cached changes in view to it. A count
  // of the rows as shown (the buffer's, the application's) has them taken out first.
  int32_t inserted = 0, deleted = 0;
  CountPendingShown(inserted, deleted, true);
  const int32_t correction = deleted - inserted;
  if (FActive && FCursorDone) return GetBufferCount() + correction;
  const bool application = OnGetRecordCount && CanFireEvents();
  const int32_t count = TIB_Dataset::DoGetRecordCount();
  return application ? count + correction : count;
}

int32_t TIB_BDataset::SysRecordCount() {
  const int32_t count = TIB_Dataset::SysRecordCount();
  if (!FPrepared) return count;
  int32_t inserted = 0, deleted = 0;
  CountPendingShown(inserted, deleted, false);
  return std::max(count + inserted - deleted, GetBufferCount());
}

// ---------------------------------------------------------------------------------------------------------
// Selection

bool TIB_BDataset::GetRowSelected() {
  const TIB_Node* n = FNodeList->GetRowCursor().Node;
  return !n->IsSentinel() && n->Has(nfSelected);
}

void TIB_BDataset::SetRowSelected(bool Value) {
  TIB_Node* n = FNodeList->GetRowCursor().Node;
  if (n->IsSentinel()) return;
  n->Flags = Value ? (n->Flags | nfSelected) : (n->Flags & static_cast<uint16_t>(~nfSelected));
}
