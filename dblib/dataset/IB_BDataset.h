// The buffered dataset: a scrollable SELECT whose rows are kept in memory as packed row nodes.
//
// TIB_BDataset stores every row its cursor returns as a node of a TIB_NodeList: the row's key (the
// key row's bytes, or its fetch number when the query has no key) and its packed column values. On
// top of that buffer it gives random access by row number in both directions, a second "buffer"
// position for controls that walk the rows without moving the current one, bookmarks (the key as
// upper-case hex text), refreshes that keep rows with state (cached changes, selection) and find them
// again by key, and cached updates: posts stay in the buffer until ApplyUpdates writes them in one go
// (inside a savepoint of the dataset's own) and CommitUpdates or CancelUpdates settles them.
// TIB_Query is the buffered dataset the application uses.
//
// Ownership: the dataset owns its node list. The Fields row shows the current row, unpacked from its
// node at each move: read its values before moving on. A close leaves the last row's values readable
// until the next open. Node pointers are internal: rows are remembered by bookmark.
#pragma once

#include <memory>

#include "dblib/sql/IB_ParseQBE.h"
#include "dblib/dataset/IB_Dataset.h"
#include "dblib/dataset/IB_NodeList.h"

class TIB_BDataset;
class TIB_BindingCursor;
class TIB_Cursor;

// What a cached change is: a modification, an insert, a delete.
enum TIB_UpdateKind : uint8_t { ukModify, ukInsert, ukDelete };
// What to do with a cached change being applied: fail (raise), abort the apply silently, skip the row
// (it stays pending), retry the write, or count it as applied.
enum TIB_UpdateAction : uint8_t { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };
// When the buffered dataset reads a row again from the server around a write (without cached
// updates): before an edit begins, after an edit is posted, after an insert is posted. A set of them is
// bit n for value n.
enum TIB_BufferSynchroFlag : uint8_t { bsBeforeEdit, bsAfterEdit, bsAfterInsert };
using TIB_BufferSynchroFlags = uint8_t;
constexpr TIB_BufferSynchroFlags IB_BufferSynchroFlag(TIB_BufferSynchroFlag Flag) {
  return static_cast<TIB_BufferSynchroFlags>(1u << Flag);
}

// The values of GetUpdateStatus.
enum TIB_UpdateStatus : uint8_t { usUnmodified, usModified, usInserted, usDeleted };

// Filtering and selection events (IB_DatasetFilter.cpp).
using TIB_FilterRecordEvent = std::function<void(TIB_Row* ARow, bool& Accept)>;
using TIB_RowSelectedChangedEvent =
    std::function<void(TIB_BDataset* Sender, int32_t ARow, const std::string& ABookmark, bool IsSelected)>;

using TIB_UpdateRecordEvent =
    std::function<void(TIB_Dataset* DataSet, TIB_UpdateKind UpdateKind, TIB_UpdateAction& UpdateAction)>;
using TIB_UpdateErrorEvent = std::function<void(TIB_Dataset* DataSet, const EIB_Error& E, TIB_UpdateKind UpdateKind,
                                                TIB_UpdateAction& UpdateAction)>;

class TIB_BDataset : public TIB_Dataset {
public:
  explicit TIB_BDataset(TComponent* AOwner);
  ~TIB_BDataset() override;
  void BeforeDestruction() override;

  // ---- positions -----------------------------------------------------------------------------------
  bool GetEof() override;
  bool GetBof() override;
  // Visible rows are numbered from 1, deleted cached rows left out; 0 before the first row.
  int32_t GetRowNum() override;
  // Rows beyond those buffered are fetched first; beyond the last row the dataset is at Eof.
  void SetRowNum(int32_t Value) override;
  bool GetIsUnidirectional() override { return false; }
  int32_t GetBufferCount() override;
  bool GetAllRowsBuffered() override { return true; }
  bool GetBufferEof() override;
  int32_t GetBufferRowNum() override;
  void SetBufferRowNum(int32_t Value) override;
  bool GetBufferBof() override;
  bool GetBufferAtEnd() override;
  // The row under the buffer position: the Fields row when that is the current row.
  TIB_Row* GetBufferFields() override;

  // Refused (false) when the key relation's primary key is not among the selected columns: such a
  // query names its rows by fetch order, and a row inserted there could not be found again.
  bool GetCanInsert() override;
  // Only a row without key, fetched last and still under the open cursor: rows with a key are written
  // by key whatever SearchedEdits says.
  bool GetCursorOnCurrentRow() override;

  // ---- keys-only mode ------------------------------------------------------------------------------
  // With FetchWholeRows off the query first fetches only its rows' keys (the key links as its select
  // list) and reads each row by its key when it is first shown: opening and Last cost one key per row,
  // and rows show what the server holds when they are reached. A query without key links, with a
  // UNION or an aggregate, or with a record filter (OnFilterRecord) fetches whole rows anyway. Setting a new value unprepares the query.
  bool GetFetchWholeRows() const noexcept { return FFetchWholeRows; }
  void SetFetchWholeRows(bool Value);
  // True while the open cursor fetches keys only.
  bool GetKeysOnly() const noexcept { return FKeysOnly; }
  // The select list of the key columns ("SELECT " + the key columns, as the select list spells them),
  // built at preparation; empty without key links. Reading keys only, the first pass selects it.
  const std::string& GetKeySelectList() const noexcept { return FKeySelectList; }

  // ---- bookmarks -----------------------------------------------------------------------------------
  // The current row's key as hex text; empty before the first or after the last row.
  std::string GetBookmark() override;
  // Moves to the row of the bookmark (fetching until it is found); row 0 when there is none. An empty
  // text moves to row 0. EIB_DatasetError "Invalid Bookmark String" for text that is not exactly twice
  // the key length of hex digits.
  void SetBookmark(const std::string& Value) override;
  std::string GetBufferBookmark() override;
  // Buffer row 0 and false when the bookmark is empty or its row is not in the query.
  bool SetBufferBookmark(const std::string& Value) override;
  // Drops the buffered values of the bookmark's row so that it is read again.
  void InvalidateBookmark(const std::string& Value);

  // ---- positioning by key (IB_BDatasetLocate.cpp) ----------------------------------------------------
  // Both take the key the key row holds. LocateKey makes its row the current row: a row not buffered
  // yet that the server holds is fetched (the query restarted at its ordering value when the key holds
  // the ordering column), and the query read anew when fetching does not bring it. Row 0 and false when
  // there is no such row. A newer LocateKey made meanwhile (from a callback) wins: the older one
  // returns false without moving.
  bool LocateKey();
  // The buffer position on the key's row; a row the buffer does not hold is read by key into the
  // retained rows (buffer row -1). Buffer row 0 and false when there is no such row.
  bool LocateBufferKey();
  // The key last sought, as bookmark text.
  const std::string& GetLastKeyText() const noexcept { return FLastKeyText; }

  // ---- cached updates ------------------------------------------------------------------------------
  void SetCachedUpdates(bool Value);
  bool GetUpdatesPending() override;
  int32_t GetUpdateStatus() override;
  // Writes every pending change inside a savepoint; on any failure the savepoint is rolled back and
  // every change is pending again.
  void ApplyUpdates();
  // After the transaction committed: applied rows become plain rows, skipped ones pending again.
  void CommitUpdates();
  void CancelUpdates();
  // The default write of one cached change (what OnUpdateRecord may call).
  void SysUpdateRecord(TIB_UpdateKind UpdateKind);
  TIB_UpdateRecordEvent OnUpdateRecord;
  TIB_UpdateErrorEvent OnUpdateError;
  // A dataset that stands for this one in OnUpdateRecord and OnUpdateError (their DataSet argument),
  // for a query that works inside another component the application knows instead; nil: this one.
  // Cleared when the substitute is freed.
  TIB_Dataset* GetSubstitute() const noexcept { return FSubstitute; }
  void SetSubstitute(TIB_Dataset* Value);

  // What the server changed in a row (triggers, computed columns, other users) shows at once when the
  // row is read again around writes; a row that no longer matches leaves the buffer after an edit.
  TIB_BufferSynchroFlags GetBufferSynchroFlags() const noexcept { return FBufferSynchroFlags; }
  void SetBufferSynchroFlags(TIB_BufferSynchroFlags Value) { FBufferSynchroFlags = Value; }

  // ---- selection -----------------------------------------------------------------------------------
  bool GetRowSelected();
  void SetRowSelected(bool Value);
  void SelectAll(bool Value);

  // ---- filter, selection by row and incremental search (IB_DatasetFilter.cpp) --------------------------
  // The filter text is translated into the WHERE clause while Filtered; FilterPlan becomes the PLAN.
  const std::string& GetFilter() const noexcept { return FFilter; }
  void SetFilter(const std::string& Value);
  bool GetFiltered() const noexcept { return FFiltered; }
  void SetFiltered(bool Value);
  TIB_FilterOptions GetFilterOptions() const noexcept { return FFilterOptions; }
  void SetFilterOptions(TIB_FilterOptions Value);
  const std::string& GetFilterPlan() const noexcept { return FFilterPlan; }
  void SetFilterPlan(const std::string& Value);
  // An optional cursor for the application's own use of the filter, made on first use (owned, on the
  // dataset's connection and transaction; its SQL is the application's). It is closed with the dataset
  // and freed when the dataset's SQL is built again; when the filter text changes while filtering is
  // off its SQL is made invalid (OnInvalidateSQL), so that what it selects can follow the new filter.
  // Do not keep the pointer across a prepare of the dataset.
  TIB_Cursor* GetFilterCursor();
  // Runs for each fetched row while Filtered; a row refused is not buffered. Setting it refreshes.
  void SetOnFilterRecord(TIB_FilterRecordEvent Value);
  // The selected flag of visible row ARow; setting it to what it is raises "Invalid RowNum".
  bool GetRowSelected(int32_t ARow);
  void SetRowSelected(int32_t ARow, bool Value);
  // Value on node rows AFrom..ATo and, with OthersToo, the opposite on every other row.
  void SelectRange(int32_t AFrom, int32_t ATo, bool OthersToo, bool Value);
  TIB_RowSelectedChangedEvent OnRowSelectedChanged;
  // The same event under its other name (one handler: setting either sets both).
  TIB_RowSelectedChangedEvent& OnRowSelectedChange = OnRowSelectedChanged;
  TNotifyEvent OnMultiSelect;
  // Type-ahead on the ordering column: keys typed within IncSearchKeyInt ms of each other make one text;
  // a seek runs at most IncSearchSeekInt ms (0: unbounded).
  uint32_t GetIncSearchKeyInt() const noexcept { return FIncSearchKeyInt; }
  void SetIncSearchKeyInt(uint32_t Value) { FIncSearchKeyInt = Value; }
  uint32_t GetIncSearchSeekInt() const noexcept { return FIncSearchSeekInt; }
  void SetIncSearchSeekInt(uint32_t Value) { FIncSearchSeekInt = Value; }
  const std::string& GetIncSearchText() const noexcept { return FIncSearchText; }
  bool IncSearchKey(char Key, bool SearchNow, bool SeekNearest, bool Timed);
  bool IncSearchString(const std::string& Text, int32_t StartAtMatch, bool SeekNearest);
  void IncSearchClear();
  std::string GetOrderingColumnText();
  // Restarts the dataset at Text on the ordering column (the ordering link's POS condition).
  void SetOrderingSearchText(const std::string& Text);

  // Reads the current row again from the server; false when it is gone there (its node then leaves
  // the buffer and the next row is shown).
  bool RefreshRow();
  // Reads the current row's key columns' rows again by key, one row at a time.
  TIB_BindingCursor* GetFieldsCursor() const noexcept { return FFieldsCursor; }

  // The row buffer (for the data-aware controls and tests): do not keep its nodes across a refresh.
  TIB_NodeList& GetNodeList() noexcept { return *FNodeList; }

protected:
  // Notification -33: the KeySource's row changed; this dataset finds the row of its key (the current
  // row with KeySeeking, else the buffer row), row 0 when there is none.
  void Perform(int32_t Code) override;
  // Statement and dataset hooks.
  // A key named as a relation's DB_KEY (KeyLinks "REL.RDB$DB_KEY") is added to the select list when
  // the SELECT does not name it: "SELECT *" becomes "SELECT REL.*", then ", REL.RDB$DB_KEY".
  void SysBuildSelect() override;
  void DoPrepareSQL() override;
  // The ordering column's search text, kept by SetOrderingSearchText, goes back into its search value at
  // every execute (the direction may have changed since).
  void SysClearFieldBuffers() override;
  void SysBeforeOpen() override;
  bool SysNeedPlan() override;
  void SysBuildPlan() override;
  void SysAllocateRows() override;
  void SysUnprepare() override;
  void SysActivate() override;
  void SysOpenCursor() override;
  void SysNotifyDyn18() override;
  void SysNotifyDyn20() override;
  bool DoAfterFetchRow() override;
  void DoAfterFetchEof() override;
  void SysFirst() override;
  void SysLast() override;
  void SysFetchAll() override;
  int32_t SysMoveBy(int32_t n) override;
  int32_t DoGetRecordCount() override;
  int32_t SysRecordCount() override;
  // The pending cached inserts and deletes among the rows of the result: those in the buffer, and the
  // deletes whose nodes wait out of it for a row the server's SELECT still holds (asked of the server
  // once per count: Recount drops the answers kept for the count before).
  void CountPendingShown(int32_t& Inserted, int32_t& Deleted, bool Recount);
  void SysInvalidateRows() override;
  // Buffers the visible rows From..To (fetching on) and reads those whose values were dropped again by
  // key; rows gone at the server leave the buffer. What a grid asks for before it paints.
  void SysFetchRowRange(int32_t From, int32_t To) override;
  void SysCloseIfUnidirectional() override;
  void SysPost(bool CancelUnmodified, bool Retaining) override;
  void SysApplyUpdate(bool CancelUnmodified) override;
  void SysPostEdit() override;
  void SysPostInsert() override;
  void SysRevertRow() override;
  void DoCustomDelete() override;
  void SysLockRow() override;
  // A failed fetch ends the result: what was fetched before it stays, nothing more is fetched.
  void SysFetchFailed() override;
  bool SysIsBuffered() override { return true; }
  void SysApplyCachedUpdates() override { ApplyUpdates(); }
  void SysCommitCachedUpdates() override { CommitUpdates(); }
  void SysCancelCachedUpdates() override { CancelUpdates(); }
  void SysUndoApply() override;
  void SysAcceptApplied() override;
  // Received DML notices and the time-out attempts' fetch: IB_BDatasetNotices.cpp.
  void SysDMLCacheReceivedItem(const TIB_DMLCacheItem& Item) override;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void SysFetchForTicks(uint32_t Ticks) override;
  // A changed Fields* list is copied to the buffer position's cursor, whose row shows the same columns.
  void FieldsPropertyChanged(TIB_FieldsPropertyList List) override;

private:
  friend class TIB_BindingCursor;
  // Fetches until Rows visible rows are buffered or the cursor ends (Rows < 0: to the end).
  // ShowsFetched: the caller moves to a row right after and nothing can see the Fields row meanwhile,
  // so the current row's values are not put back at the end (see ShowsFetchedRow).
  void FetchUntil(int32_t Rows, bool ShowsFetched = false);
  // Whether a move that fetches can leave the fetched row in the Fields row until it shows the row it
  // moves to: no handler or link could see the Fields row in between, and putting the current row back
  // would call nothing (no calculated columns, change notices held or unheard).
  bool ShowsFetchedRow();
  // FetchUntil for such a move.
  void FetchToShow(int32_t Rows, const TIB_AliveFlag& Alive);
  // Fetches until the key is buffered or the cursor ends.
  TIB_Node* FetchUntilKey(const uint8_t* Key);
  // Unpacks the current row into the Fields row and the key row.
  void LoadCurrentRow();
  // The base class's row number and end flag follow the row cursor between fetches.
  void SyncPosition();
  void MoveToNode(const TIB_NodeList::TCursor& C);
  // SetRowNum once the rows up to Value are fetched.
  void SetRowNumShown(int32_t Value);
  // The current row's key bytes from the key row (canonical: VARCHAR tails and null data zeroed).
  void KeyFromKeyRow(std::vector<uint8_t>& Key);
  int32_t KeyLength();
  // Checks and converts a bookmark; EIB_DatasetError for bad text.
  std::vector<uint8_t> BookmarkKey(const std::string& Value);
  // Writes the Fields row into the current node: values, and the key (kept as the old key when
  // KeepOldKey and the key changed).
  void WriteBackNode(TIB_Node* Node, bool KeepOldKey);
  // After an applied insert: a key the write returned into the Fields row becomes the node's.
  void RekeyAfterInsert(TIB_Node* Node);
  // Moves off a row that left the view (deleted): to the next visible row, else the previous one.
  void MoveOffCurrent();
  // Takes the current row's node out of the buffer (when Remove) and shows the row after it, fetched on
  // when not buffered yet; at the end of the result the last visible row. The buffer position follows
  // when it was on the current row.
  void RemoveCurrentNode(bool Remove);
  // Tells the transaction when updates start or stop being pending.
  void SyncPendingNotice();
  void SyncToKeySource();
  bool LocateKeyBytes(const std::vector<uint8_t>& Key);
  bool LocateBufferKeyBytes(const std::vector<uint8_t>& Key);
  // Reads the row of Key into a retained node with the buffer position on it (false: no such row).
  bool SysLookupKeyForBufferFields(const uint8_t* Key);
  // The seek statement: the dataset's SELECT restricted to one key, read into the buffer row. Prepared
  // once per preparation of the dataset (again when its text changed), freed at unprepare.
  bool ReadBySeekStatement(TIB_Node* Node, const uint8_t* Key);
  void PrepareSeekStatement(const std::string& SQL);
  void FreeSeekStatement() noexcept;
  bool HasKeyColumns();
  TIB_Node* BufferedNode(const std::vector<uint8_t>& Key);
  // The ordering column's value as text when the key holds that column, else empty.
  std::string OrderingTextOfKey(const std::vector<uint8_t>& Key);
  // Restarts the query from its start when a search text on the ordering column restarted it elsewhere.
  void ClearOrderingSearchText();
  // Keys-only mode: prepares the key statement (false when the query cannot fetch keys only), and
  // stores the next key as a node without a record (false at the end).
  bool PrepareKeysCursor();
  bool FetchKey();
  // After a reopen: rows inserted under cached updates that belong under the master's current row (all
  // of them without a master) are shown again, after the fetched rows.
  void RestoreCachedInserts();
  void DropUpdatesForReprepare();
  // The layout of the rows the nodes were packed from (compared when the query is prepared again).
  std::string RowLayout();
  std::string FRowLayout;
  bool ApplyOne(TIB_Node* Node);
  // The apply inside its savepoint: writes every pending change; on a failure takes the writes back to
  // the savepoint (TakenBack tells whether that went through) and leaves every change pending.
  void ApplyWalk(bool& TakenBack);
  // Reads the posted row again (without cached updates) as BufferSynchroFlags say, and for the new ids
  // of the blobs written when Blobs.
  void SynchroAfterPost(TIB_BufferSynchroFlag Flag, bool Blobs);
  // After a post whose inserted row could not be read again by its key: the rows are read again; a
  // row the server holds under the key written but outside the query's conditions stays shown as
  // posted, at its place.
  void RereadRowsAfterInsert();
  bool FRereadAfterPost = false;
  // Whether the row being posted writes a blob or array column.
  bool BlobsWritten();
  // Moves the blobs and arrays typed into a cached change into the row's node, which holds them in
  // memory until the apply.
  void HoldBlobs();
  static void DropHeldBlob(TIB_BlobNodeList& List, int16_t FieldNo);
  // Puts the values held for Node into Row's cache, in place of those held for the row it showed.
  static void ShowHeldBlobs(const TIB_Node* Node, TIB_Row& Row);
  // The held values of Node become the Fields row's typed values, for the apply to write.
  void TakeHeldBlobs(const TIB_Node* Node);
  static void FreeHeldBlobs(TIB_Node* Node);
  // Set once a value was held: rows shown from then on get the held values of their nodes.
  bool FHeldBlobs = false;
  // The key link at Index as the keys-only select list writes it.
  std::string KeySelectItem(int Index);
  std::string SavepointName();

  std::unique_ptr<TIB_NodeList> FNodeList;
  // Owned as a component.
  TIB_BindingCursor* FFieldsCursor;
  TIB_BindingCursor* FBufferFieldsCursor;
  bool FCopyingFieldsList = false;
  std::string FKeySelectList;
  // Asks the server whether a key not buffered yet is in the result at all (before fetching on for it).
  TIB_BindingCursor* FSeekCursor;
  // The buffer row as last unpacked into BufferFieldsCursor's row.
  TIB_Node* FBufferLoaded = nullptr;
  // The node packed from the row the last fetch left in the Fields row, and the node whose values the
  // Fields row holds unchanged since (the next LoadCurrentRow of that node unpacks nothing).
  TIB_Node* FLastPacked = nullptr;
  TIB_Node* FFieldsHold = nullptr;
  // Set from such a fetch's end until a row is shown: the Fields row may hold a row that is not current.
  bool FFetchedUnshown = false;
  int32_t FReloadDepth = 0;
  // Set while the current row hands over to another one (the row shown is read even during a write).
  bool FLeavingRow = false;
  // Rows read from the cursor since it opened, and whether it reached its end.
  int32_t FFetchedRows = 0;
  bool FCursorDone = true;
  bool FInFetch = false;
  // Keys of rows inserted under cached updates when the query has no key columns.
  int32_t FInsertKey = 0;
  bool FApplying = false;
  TIB_Dataset* FSubstitute = nullptr;
  TIB_BufferSynchroFlags FBufferSynchroFlags = 0;
  bool FFetchWholeRows = true;
  bool FKeysInsertable = true;
  bool FKeysOnly = false;
  bool FKeysStarted = false;
  // The key statement of keys-only mode (owned as a component).
  TIB_Cursor* FKeysCursor;
  TIB_Transaction* FPendingNotified = nullptr;
  // The answers of CountPendingShown for the deleted nodes out of the buffer: their server keys and
  // whether the result holds them.
  std::vector<std::pair<std::vector<uint8_t>, bool>> FRetainedDeletesSeen;
  // Nodes marked by the last apply whose commit has not confirmed them yet.
  std::vector<TIB_Node*> FAppliedNodes;
  std::vector<uint8_t> FKeyScratch;
  // Where KeyFromKeyRow finds the key columns' indicators and values, worked out once per layout of the
  // key row (its layout stamp).
  struct TKeyPart {
    const uint8_t* Ind;
    size_t At;
    size_t Size;
    bool Varying;
  };
  std::vector<TKeyPart> FKeyPlan;
  uint64_t FKeyPlanStamp = 0;
  void PlanKey(TIB_Row& Key);

  // Filter, selection and incremental search.
  TIB_Cursor* FFilterCursor = nullptr;
  void FreeFilterCursor();
  bool FilterAccepts();
  void FilterChanged();
  TIB_Column* OrderingColumn();
  bool Seek(const std::string& Text, TIB_Column* Column, bool SeekNearest);
  // The character set the server orders Column by: its own set, read from the schema once per column,
  // when the connection transliterates it into another; else the set its values travel in.
  int32_t StoredCharSet(TIB_Column& Column);
  // The set OrderingSearchValue bounds the ordering column in: StoredCharSet for text, else -1.
  int32_t OrderingCharSet(TIB_Column& Column);
  std::string FStoredCharSetOf;
  int32_t FStoredCharSet = 0;
  std::string FFilter, FFilterPlan;
  bool FFiltered = false;
  TIB_FilterOptions FFilterOptions = 0;
  TIB_FilterRecordEvent FOnFilterRecord;
  uint32_t FIncSearchKeyInt = 3500, FIncSearchSeekInt = 180000;
  std::string FIncSearchText, FLastSearchText;
  uint64_t FLastKeyTicks = 0;
  std::string FLastKeyText;
  int32_t FLocateSerial = 0;
  // The key a search fetches for, and whether the record filter refused its row on the way.
  const std::vector<uint8_t>* FSoughtKey = nullptr;
  bool FSoughtRefused = false;
  // The ordering column's search text as last set, and the ordering link it was set for.
  std::string FOrderingSearchText, FOrderingSearchLink;
  // Set while OnFilterRecord runs.
  bool FFilteringRecord = false;
  // The seek statement's handle, text and merged input and output descriptions.
  isc_stmt_handle FSeekHandle = 0;
  std::string FSeekSQL;
  std::vector<std::byte> FSeekInDA, FSeekOutDA;
  bool FSeekNamed = false;
  int32_t FSearchNesting = 0, FSearchSerial = 0, FSeekPosition = 0, FFoundRow = 0, FMatchNumber = 0;
};

// The query the application uses: the buffered dataset.
class TIB_Query : public TIB_BDataset {
public:
  explicit TIB_Query(TComponent* AOwner) : TIB_BDataset(AOwner) {}
};
