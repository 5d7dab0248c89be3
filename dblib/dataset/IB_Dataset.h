// The dataset: a SELECT statement that opens a server cursor and fetches its rows one at a time.
//
// TIB_Dataset is a TIB_Statement whose fields row holds the current row of an open cursor. It opens
// the cursor (naming it at the server), fetches rows with row and time limits and progress callbacks,
// moves forward, refreshes, closes, counts the rows of its query with a cached count statement, keeps a
// row state (inactive, prepared, browse ...) and tells the data sources attached to it when that state
// changes. At each prepare it rewrites its SELECT from its key, master, join, search and ordering links
// and keeps a key row that names each fetched row (IB_DatasetSQL.cpp). It edits, inserts and deletes
// the current row through its update SQL (IB_UpdateSQL.h) or the custom events (IB_DatasetEdit.cpp).
// Search mode and buffered rows are built on top of it by the classes derived from it.
//
// Ownership: a dataset owns what the statement owns plus its link and clause lists and its update SQL.
// It does not own its KeySource or MasterSource. It does not own the
// data sources attached to it; each one detaches before it goes, and the dataset tells the rest when
// it goes itself. The fields row shows one row at a time: its values change with every fetch, so read
// them before moving on. A close leaves the current row's values readable until the next open (after
// the last fetch there is no current row).
//
// A dataset may be destroyed from inside its own callback or from a task the message pump runs during
// a fetch: the fetch then ends with the silent abort (EAbort) and touches nothing of the dataset.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dblib/IB_Constants.h"
#include "dblib/IB_DMLCache.h"
#include "dblib/IB_Statement.h"
#include "dblib/IB_TransactionIntf.h"

class TIB_Dataset;
class TIB_UpdateSQL;
class TIB_KeyDataLink;
class TIB_MasterDataLink;

// A + B held to the range of int32_t (row numbers and moves never wrap).
constexpr int32_t ClampedSum(int64_t A, int64_t B) noexcept {
  const int64_t sum = A + B;
  return static_cast<int32_t>(sum < INT32_MIN ? INT32_MIN : sum > INT32_MAX ? INT32_MAX : sum);
}

// The row state of a dataset; 4 to 6 are the modifying states.
enum TIB_DatasetState : uint8_t { dssInactive, dssPrepared, dssSearch, dssBrowse, dssEdit, dssInsert, dssDelete };
// Where a refresh puts the dataset: at its first row, at the same row number, or at the same row.
enum TIB_RefreshAction : uint8_t { raOpen, raKeepRowNum, raKeepDataPos };
// What a fetch callback reports: the fetch started, is progressing, or ended.
enum TIB_CallbackStatus : uint8_t { cbsStart = 0, cbsProgress = 1, cbsEnd = 2 };
enum TIB_DatasetCanModify : uint8_t { cmDelete, cmEdit, cmInsert };
enum TIB_DataAction : uint8_t { daFail, daAbort, daRetry };
enum TIB_MasterSearchFlag : uint8_t { msfOpenMasterOnOpen, msfSearchMasterOnSearch, msfSearchAppliesToMasterOnly };
// A set of TIB_MasterSearchFlag values, bit n for value n.
using TIB_MasterSearchFlags = uint8_t;

// The numbered notifications a dataset takes (Perform).
enum : int32_t {
  dnInvalidateSQL = -16,
  dnBeforeOpen = -17,
  dnAfterOpen = -18,
  dnBeforeClose = -19,
  dnAfterClose = -20,
  dnBeforeSearch = -21,
  dnAfterSearch = -22,
  dnBeforeEdit = -23,
  dnAfterEdit = -24,
  dnBeforeInsert = -25,
  dnAfterInsert = -26,
  dnAfterDelete = -27,
  dnBeforeDelete = -28,
  dnBeforePost = -29,
  dnAfterPost = -30,
  dnBeforeCancel = -31,
  dnAfterCancel = -32,
  dnKeySourceSync = -33,
  dnNewRecord = -34,
  dnOrderingChanged = -35,
};

// Statement-link codes a dataset sends besides the statement's own.
enum : int32_t { sleRefreshState = 14, sleScrolled = 18, sleRowNumChanged = 25 };

using TIB_DatasetEvent = std::function<void(TIB_Dataset* IB_Dataset)>;
// Abort set true stops the fetch after the current row.
using TIB_CallbackEvent =
    std::function<void(TIB_Dataset* IB_Dataset, TIB_CallbackStatus Status, int32_t CursorRowNum, bool& Abort)>;
using TIB_ConfirmationEvent = std::function<void(TComponent* Sender, bool& Confirmed)>;
using TIB_GetCanModifyEvent = std::function<void(TIB_Dataset* Sender, TIB_DatasetCanModify Action, bool& CanModify)>;
using TIB_GetCanScrollEvent = std::function<void(TIB_Dataset* Sender, bool& CanScroll)>;
using TIB_CustomRecordCount = std::function<void(TIB_Dataset* Sender, int32_t& RecordCount)>;
using TIB_DataSetErrorEvent = std::function<void(TIB_Dataset* DataSet, const EIB_Error& E, TIB_DataAction& Action)>;
using TIB_AnnounceDMLCacheItemEvent =
    std::function<void(TIB_Dataset* ADataset, TIB_DMLCacheItemType ADMLCacheItemType)>;
using TIB_ReceiveDMLCacheItemEvent = std::function<void(TIB_Dataset* ADataset, const TIB_DMLCacheItem& Item)>;

// What a dataset asks of an object attached to it as a data source. The data source registers with
// AttachDataSource and detaches (DetachDataSource) before it goes.
class TIB_DatasetSourceIntf {
public:
  virtual ~TIB_DatasetSourceIntf() = default;
  // The dataset's row state changed (or it gained or lost its row).
  virtual void DatasetStateChanged(TIB_Dataset* ADataset) = 0;
  // The dataset is being destroyed: the data source lets go of it.
  virtual void DatasetDestroying(TIB_Dataset* ADataset) = 0;
};

// What a dataset asks of the data source named as its KeySource or MasterSource. The data source
// implements it and clears itself from the dataset (SetKeySource / SetMasterSource with nil) before it
// goes; the dataset does not own it.
class TIB_DatasetLinkSource {
public:
  virtual ~TIB_DatasetLinkSource() = default;
  // The dataset the data source shows, or nil.
  virtual TIB_Dataset* GetLinkDataset() = 0;
};

// A custom write of the current row in place of the update SQL's statement.
using TIB_CustomDMLEvent = std::function<void(TIB_Dataset* IB_Dataset)>;

class TIB_Dataset : public TIB_Statement {
public:
  explicit TIB_Dataset(TComponent* AOwner);
  ~TIB_Dataset() override;
  // Aborts a running fetch, closes, detaches the data sources, then the statement's teardown.
  void BeforeDestruction() override;
  void Loaded() override;
  void SetSession(TIB_Session* ASession) override;

  // ---- opening and closing -------------------------------------------------------------------------
  void Open();
  void Close();
  void SetActive(bool Value) override;
  bool GetActive() override { return FActive; }
  // EIB_StatementError "Statement has already been opened" on an open SELECT; else the statement's.
  void Execute() override;
  TIB_DatasetState GetState() const noexcept { return FState; }
  bool GetIsActiveOrBuffered();
  void CheckActive();
  void CheckPrepared();
  void CheckBrowseMode();

  // ---- navigation ----------------------------------------------------------------------------------
  // First always runs the query again and fetches the first row.
  void First();
  void Next();
  void Prior();
  void Last();
  // Rows actually moved; n < 0 raises "IB_CURSOR is unidirectional".
  int32_t MoveBy(int32_t n);
  void FetchNext();
  void FetchAll();
  virtual bool GetEof() { return FEof; }
  virtual bool GetBof() { return FRowNum == 0; }
  virtual int32_t GetRowNum() { return FRowNum; }
  virtual void SetRowNum(int32_t Value);
  virtual bool GetIsUnidirectional() { return true; }
  bool GetCanScroll();
  // Sets the abort flag while a fetch runs: it stops after the row being fetched. Never raises.
  void AbortFetching() noexcept;
  bool GetFetching() const noexcept { return FFetching; }
  bool GetRefreshing() const noexcept { return FRefreshDepth > 0; }
  void BeginCallbackFreeze() { ++FCallbackFreeze; }
  void EndCallbackFreeze() {
    if (FCallbackFreeze > 0) --FCallbackFreeze;
  }
  void BeginDeferEvents() { ++FDeferCount; }
  // True when it sent the notices held back (their handlers may have destroyed the dataset).
  bool EndDeferEvents() {
    if (FDeferCount > 0) --FDeferCount;
    if (FDeferCount == 0 && (FStateChangePending || FDataChangePending || FAfterScrollPending)) [[unlikely]] {
      SendDeferredEvents();
      return true;
    }
    return false;
  }
  // Ends a deferral without sending what it held back (a scope left by an exception): the events stay
  // pending for the next end.
  void EndDeferEventsQuietly() noexcept {
    if (FDeferCount > 0) --FDeferCount;
  }

  // ---- refresh and record count ----------------------------------------------------------------------
  // True when the former position was found again.
  bool Refresh() { return RefreshAll(); }
  bool RefreshAll();
  bool RefreshKeys();
  bool RefreshRows();
  int32_t GetRecordCount();

  // ---- buffer view (the buffered dataset answers from its rows) -------------------------------------
  virtual bool GetUpdatesPending() { return false; }
  virtual int32_t GetUpdateStatus() { return 0; }
  // Whether the open server cursor stands on the current row, so that a write WHERE CURRENT OF it
  // reaches that row (a buffered dataset's cursor stands on the row fetched last). A row being inserted,
  // also one a retaining post already wrote, is never the cursor's.
  virtual bool GetCursorOnCurrentRow() { return FState != dssInsert; }
  virtual bool HasCustomDML(int Kind);
  virtual int32_t GetBufferCount();
  virtual bool GetAllRowsBuffered() { return true; }
  virtual bool GetBufferEof();
  virtual int32_t GetBufferRowNum() { return GetBufferCount(); }
  virtual void SetBufferRowNum(int32_t) {}
  virtual bool GetBufferBof() { return FRowNum == 0; }
  virtual bool GetBufferAtEnd();
  virtual TIB_Row* GetBufferFields() { return GetFields(); }
  virtual std::string GetBookmark();
  virtual void SetBookmark(const std::string& Value);
  virtual std::string GetBufferBookmark() { return std::string(); }
  // Moves the buffer position to the bookmark's row; whether the row was found.
  virtual bool SetBufferBookmark(const std::string& Value);
  virtual bool GetCanEdit();
  virtual bool GetCanInsert();
  virtual bool GetCanDelete();
  virtual bool GetReadOnly();
  // The key row when its description has a column, else the fields row.
  virtual TIB_Row* GetKeyFieldsRow();
  TIB_Column* FindKeyField(const std::string& Name);
  TIB_Column* BufferFieldByName(const std::string& Name);
  TIB_Column* FindBufferField(const std::string& Name);

  // ---- data sources ----------------------------------------------------------------------------------
  void AttachDataSource(TIB_DatasetSourceIntf* ASource);
  void DetachDataSource(TIB_DatasetSourceIntf* ASource);
  int32_t Get_DataSourceCount() const noexcept { return static_cast<int32_t>(FDataSources.size()); }
  // Nil outside 0..count-1.
  TIB_DatasetSourceIntf* GetDataSource(int32_t Index) const;

  // ---- notifications ---------------------------------------------------------------------------------
  // Takes a numbered notification (dnInvalidateSQL ... dnOrderingChanged).
  virtual void Perform(int32_t Code);
  void StateChanged();

  // ---- cursor ----------------------------------------------------------------------------------------
  // The name the cursor has at the server (at most 31 characters; given at the first prepare).
  const std::string& GetCursorName() const noexcept { return FCursorName; }
  bool GetCursorIsOpen() const noexcept { return FCursorOpen; }
  // The cursor is open here, but the transaction it was opened in has ended since (a hard commit or a
  // rollback): the server closed it, and the end's refresh of this dataset has not yet read it anew.
  bool GetCursorEndedByTransaction();

  // ---- properties --------------------------------------------------------------------------------------
  bool GetAutoFetchFirst() const noexcept { return FAutoFetchFirst; }
  void SetAutoFetchFirst(bool Value) { FAutoFetchFirst = Value; }
  bool GetAutoFetchAll() const noexcept { return FAutoFetchAll; }
  void SetAutoFetchAll(bool Value) { FAutoFetchAll = Value; }
  bool GetAutoPostDelete() const noexcept { return FAutoPostDelete; }
  // Turned on in dssDelete, the waiting delete is posted at once.
  void SetAutoPostDelete(bool Value);
  int32_t GetCallbackInc() const noexcept { return FCallbackInc; }
  void SetCallbackInc(int32_t Value) { FCallbackInc = Value; }
  uint32_t GetCallbackInitInt() const noexcept { return FCallbackInitInt; }
  void SetCallbackInitInt(uint32_t Value) { FCallbackInitInt = Value; }
  uint32_t GetCallbackRefreshInt() const noexcept { return FCallbackRefreshInt; }
  void SetCallbackRefreshInt(uint32_t Value) { FCallbackRefreshInt = Value; }
  const std::string& GetCallbackCaption() const noexcept { return FCallbackCaption; }
  void SetCallbackCaption(const std::string& Value) { FCallbackCaption = Value; }
  bool GetCheckRequired() const noexcept { return FCheckRequired; }
  void SetCheckRequired(bool Value) { FCheckRequired = Value; }
  bool GetColorScheme() const noexcept { return FColorScheme; }
  void SetColorScheme(bool Value) { FColorScheme = Value; }
  bool GetGetServerDefaults() const noexcept { return FGetServerDefaults; }
  void SetGetServerDefaults(bool Value) { FGetServerDefaults = Value; }
  bool GetKeyLinksAutoDefine() const noexcept { return FKeyLinksAutoDefine; }
  void SetKeyLinksAutoDefine(bool Value) { FKeyLinksAutoDefine = Value; }
  bool GetKeySeeking() const noexcept { return FKeySeeking; }
  // Turned on with a KeySource: the dataset seeks its key source's row at once.
  void SetKeySeeking(bool Value);
  bool GetMasterSearch() const noexcept { return FMasterSearch; }
  void SetMasterSearch(bool Value) { FMasterSearch = Value; }
  TIB_MasterSearchFlags GetMasterSearchFlags() const noexcept { return FMasterSearchFlags; }
  void SetMasterSearchFlags(TIB_MasterSearchFlags Value) { FMasterSearchFlags = Value; }
  int32_t GetMaxRows() const noexcept { return FMaxRows; }
  void SetMaxRows(int32_t Value) { FMaxRows = Value; }
  uint32_t GetMaxTicks() const noexcept { return FMaxTicks; }
  void SetMaxTicks(uint32_t Value) { FMaxTicks = Value; }
  int32_t GetOrderingItemNo() const noexcept { return FOrderingItemNo; }
  bool GetPessimisticLocking() const noexcept { return FPessimisticLocking; }
  void SetPessimisticLocking(bool Value) { FPessimisticLocking = Value; }
  bool GetPreparedEdits() const noexcept { return FPreparedEdits; }
  void SetPreparedEdits(bool Value);
  bool GetSearchedEdits() const noexcept { return FSearchedEdits; }
  void SetSearchedEdits(bool Value);
  bool GetSearchedDeletes() const noexcept { return FSearchedDeletes; }
  void SetSearchedDeletes(bool Value);
  bool GetPreventEditing() const noexcept { return FPreventEditing; }
  void SetPreventEditing(bool Value) { FPreventEditing = Value; }
  bool GetPreventInserting() const noexcept { return FPreventInserting; }
  void SetPreventInserting(bool Value) { FPreventInserting = Value; }
  bool GetPreventDeleting() const noexcept { return FPreventDeleting; }
  void SetPreventDeleting(bool Value) { FPreventDeleting = Value; }
  bool GetPreventSearching() const noexcept { return FPreventSearching; }
  void SetPreventSearching(bool Value) { FPreventSearching = Value; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  TIB_RefreshAction GetRefreshAction() const noexcept { return FRefreshAction; }
  void SetRefreshAction(TIB_RefreshAction Value) { FRefreshAction = Value; }
  bool GetRefreshOnParamChange() const noexcept { return FRefreshOnParamChange; }
  void SetRefreshOnParamChange(bool Value) { FRefreshOnParamChange = Value; }
  bool GetRequestLive() const noexcept { return FRequestLive; }
  void SetRequestLive(bool Value);
  // ReadOnly, CachedUpdates, or both PreventEditing and PreventDeleting: no FOR UPDATE is asked for.
  TIB_CommitAction GetCommitAction() const noexcept { return FCommitAction; }
  void SetCommitAction(TIB_CommitAction Value) { FCommitAction = Value; }
  bool GetCachedUpdates() const noexcept { return FCachedUpdates; }
  TIB_DMLCacheFlags GetDMLCacheFlags() const noexcept { return FDMLCacheFlags; }
  void SetDMLCacheFlags(TIB_DMLCacheFlags Value) { FDMLCacheFlags = Value; }

  // The lists of the SQL-building, key, master, ordering and new-row settings.
  TIB_StringProperty& GetKeyLinks() noexcept { return FKeyLinks; }
  TIB_StringProperty& GetKeyDescLinks() noexcept { return FKeyDescLinks; }
  TIB_StringProperty& GetMasterLinks() noexcept { return FMasterLinks; }
  TIB_StringProperty& GetMasterParamLinks() noexcept { return FMasterParamLinks; }
  TIB_StringProperty& GetOrderingItems() noexcept { return FOrderingItems; }
  TIB_StringProperty& GetOrderingLinks() noexcept { return FOrderingLinks; }
  TIB_StringProperty& GetSearchingLinks() noexcept { return FSearchingLinks; }
  TIB_StringProperty& GetGeneratorLinks() noexcept { return FGeneratorLinks; }
  TIB_StringProperty& GetDefaultValues() noexcept { return FDefaultValues; }
  TIB_StringList& GetConfirmDeletePrompt() noexcept { return FConfirmDeletePrompt; }
  // The custom update statements (edit, insert, delete, lock).
  TIB_StringList& GetEditSQL() noexcept { return FEditSQL; }
  TIB_StringList& GetInsertSQL() noexcept { return FInsertSQL; }
  TIB_StringList& GetDeleteSQL() noexcept { return FDeleteSQL; }
  TIB_StringList& GetLockSQL() noexcept { return FLockSQL; }
  // The writer of the dataset's changes (owned by the dataset).
  TIB_UpdateSQL* GetUpdateSQL() const noexcept { return FUpdateSQL; }
  // List setters: KeyLinks loses its blank lines; the master, ordering, searching and generator lists
  // take the given text trimmed.
  void SetKeyLinks(const TStrings& Value);
  void SetKeyDescLinks(const TStrings& Value) { FKeyDescLinks.Assign(Value); }
  void SetJoinLinks(const TStrings& Value) { FJoinLinks.Assign(Value); }
  void SetMasterLinks(const TStrings& Value) { FMasterLinks.SetText(Trim(Value.GetText())); }
  void SetMasterParamLinks(const TStrings& Value) { FMasterParamLinks.SetText(Trim(Value.GetText())); }
  void SetOrderingItems(const TStrings& Value) { FOrderingItems.SetText(Trim(Value.GetText())); }
  void SetOrderingLinks(const TStrings& Value) { FOrderingLinks.SetText(Trim(Value.GetText())); }
  void SetSearchingLinks(const TStrings& Value) { FSearchingLinks.SetText(Trim(Value.GetText())); }
  void SetGeneratorLinks(const TStrings& Value) { FGeneratorLinks.SetText(Trim(Value.GetText())); }

  // ---- SQL building ------------------------------------------------------------------------------------
  // KeyRelation, the only relation of the fields row, or the table of a one-table FROM clause.
  std::string GetKeyRelation() override;
  // KeyRelation as set (empty when not set).
  const std::string& GetOwnKeyRelation() const noexcept { return FKeyRelation; }
  // Clause N of the SQL: 1 SELECT, 2 FROM, 3 WHERE, 4 GROUP, 5 HAVING, 6 UNION, 7 PLAN, 8 ORDER, 9 FOR.
  // The list is refilled from the SQL text at each call.
  TIB_StringList& GetSQLClause(int N);
  void SetSQLClause(int N, const std::string& Text);
  // 0 none; n > 0 OrderingItems entry n ascending, n < 0 entry -n descending.
  void SetOrderingItemNo(int32_t Value);
  const std::string& GetOrderingLink() const noexcept { return FOrderingLink; }
  void SetOrderingLink(const std::string& Column);
  const std::string& GetSearchingLink() const noexcept { return FSearchingLink; }
  void SetSearchingLink(const std::string& Column);
  // "ORDER BY ..." of ordering number N (0: the ORDER clause); empty when there is none.
  std::string GetOrderingSQL(int32_t N);
  void GetOrderingItemNames(TStrings& Names);
  // The final ordering of the last prepare, COLUMN=ASC or COLUMN=DESC per ORDER BY item.
  const TIB_StringList& GetOrderingWorkList() const noexcept { return FOrderWork; }
  // Conditions added at each prepare: in front of the WHERE, the search criteria, and behind them.
  TIB_StringList& GetFrontConditions() noexcept { return FFrontConditions; }
  TIB_StringList& GetSearchConditions() noexcept { return FSearchConditions; }
  TIB_StringList& GetAddedConditions() noexcept { return FAddedConditions; }
  // A free condition text applied as a search criterion at each prepare.
  const std::string& GetSearchText() const noexcept { return FSearchText; }
  void SetSearchText(const std::string& Value);
  // The WHERE text before the search and ordering conditions, without "WHERE ".
  const std::string& GetBaseWhere() const noexcept { return FBaseWhere; }
  bool GetKeyLinksAutoDefined() const noexcept { return FKeyLinksAutoDefined; }
  bool GetDBKeyUsed() const noexcept { return FDBKeyUsed; }
  // The parameter the master link Index fills: MLNK_<column>_<Index>.
  std::string MasterParamName(int Index);
  // Adds the condition lines of List ("(", ")", "AND", "OR" lines group them) to the WHERE text Where.
  void AddConditionsToWhere(const TStrings& List, std::string& Where, bool InFront);

  // ---- key and master sources ----------------------------------------------------------------------
  TIB_DatasetLinkSource* GetKeySource() const noexcept { return FKeySource; }
  // "Circular reference not allowed" when the source leads back to this dataset.
  void SetKeySource(TIB_DatasetLinkSource* Value);
  TIB_DatasetLinkSource* GetMasterSource() const noexcept { return FMasterSource; }
  void SetMasterSource(TIB_DatasetLinkSource* Value);
  TIB_Dataset* GetKeyDataset() const;
  TIB_Dataset* GetMasterDataset() const;
  // Writes the key (and, while the key source's dataset is modifying, the description columns) of
  // this dataset's row into the key source's dataset.
  void SyncKeySource();
  // Fills the master-link parameters from the master's row (before each execute with a master).
  void ApplyMasterParams();
  // Copies the master's values into the detail columns of a row being edited or inserted.
  void ApplyMasterLinksToRow();
  // The fields-row column a link of this dataset names as its own (a MasterLinks entry's name): by the
  // name as written, or by a qualifier the FROM clause gives its relation (FLIGHT F: F.ORIGIN).
  bool FindLinkedColumn(const std::string& Name, TIB_Column*& Column);
  // ---- events ----------------------------------------------------------------------------------------
  TIB_DatasetEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeSearch, AfterSearch, BeforeEdit, AfterEdit,
      BeforeInsert, AfterInsert, BeforeDelete, AfterDelete, BeforePost, AfterPost, BeforeCancel, AfterCancel,
      BeforeScroll, AfterScroll, OnNewRecord, OnOrderingChanged, AfterFetchRow, AfterFetchEof;
  TIB_CallbackEvent OnCallback;
  TIB_ConfirmationEvent OnConfirmDelete;
  TIB_GetCanModifyEvent OnGetCanModify;
  TIB_GetCanScrollEvent OnGetCanScroll;
  TIB_CustomRecordCount OnGetRecordCount;
  TIB_DataSetErrorEvent OnEditError, OnPostError, OnDeleteError;
  TIB_AnnounceDMLCacheItemEvent OnDMLCacheAnnounceItem;
  TIB_ReceiveDMLCacheItemEvent OnDMLCacheReceivedItem;

  // ---- editing -------------------------------------------------------------------------------------------
  bool GetIsModifying() const noexcept { return FState >= dssEdit; }
  // Edit inserts instead when the row holds no record and inserting is allowed.
  void Edit();
  void Insert();
  void Append();
  // True while Append sets up its new row (a buffered dataset then puts it after the last row).
  bool GetAppending() const noexcept { return FAppending; }
  void Delete();
  void Post();
  // Writes the row and stays in dssEdit/dssInsert.
  void PostRetaining();
  void Cancel();
  // The row differs from the record as fetched (values compared, not buffer bytes), or was written by
  // a retaining post.
  bool GetModified();
  bool GetCanModify();
  // The value of Column differs from its old value: null states, a VARCHAR's text, other types' bytes.
  static bool ColumnValueChanged(TIB_Column& Column);
  // Announces the change just written (OnDMLCacheAnnounceItem, else the transaction's DML cache).
  void AnnounceDMLCacheItem(TIB_DMLCacheItemType ItemType);
  void GetColumnReadOnly(TIB_Column& Column, bool& ReadOnly) override;
  // Whether Column comes from the key relation (the relation the update statements write).
  bool IsKeyRelationColumn(const TIB_Column& Column);
  // Whether the SQL text starts with a WITH list (its rows come through no updatable cursor).
  bool GetSQLStartsWithWith();
  void GetColumnPreventChange(TIB_Column& Column, bool& Prevent) override;
  void SysDescribeFields(TIB_Row& Row) override;
  TIB_CustomDMLEvent OnCustomEdit, OnCustomInsert, OnCustomDelete, OnCustomLockRow;
  // A DML notice of another dataset that matched the receive flags.
  virtual void ProcessDMLCacheItem(const TIB_DMLCacheItem& Item);

  // ---- data sources, links, search mode and row locks (IB_DatasetSearch.cpp) ----------------------------
  // Puts a data source first in the list (a detail's master link hears every event first).
  void MoveDataSourceToFront(TIB_DatasetSourceIntf* ASource);
  int32_t GetDeferEventsCount() const noexcept { return FDeferCount; }
  // A search is being posted (its criteria become conditions and the query opens).
  bool GetPostingSearch() const noexcept { return FSearchPostCount > 0; }
  // Raises "Searching is not allowed" with PreventSearching; else closes, prepares and enters dssSearch.
  void EnterSearchMode();
  // Posts the search: the criteria become conditions and, with Open, the query opens.
  void PostSearch(bool Open = true);
  void CancelSearch();
  void SaveSearch();
  void ClearSearch();
  void RecallSearch();
  void RecallLastSearch();
  // The links' criteria as NAME=VALUE items of List, and back.
  void WriteSearchToList(TStrings* List);
  void ReadSearchFromList(TStrings* List);
  // The list criteria are written to or read from while WriteSearchToList or ReadSearchFromList runs.
  TStrings* GetSearchTransferList() const noexcept { return FSearchTransfer; }
  // This dataset, and every master up its chain that it searches with, is in search mode.
  bool IsSearchChain();
  // The search actions 0-6 on every detail with MasterSearch whose master source shows this dataset:
  // 0 save, 1 clear, 2 recall, 3 recall last, 4 write to and 5 read from the transfer list, 6 follow.
  void CascadeSearch(int32_t Action);
  void FollowMasterSearch();
  // The master moved to another row: an open detail runs again with the new master values.
  void FollowMasterRow();
  // The data links that carry KeySource and MasterSource (owned by the dataset; nil until a source is set).
  TIB_KeyDataLink* GetKeyDataLink() const noexcept { return FKeyDataLink; }
  TIB_MasterDataLink* GetMasterDataLink() const noexcept { return FMasterDataLink; }
  bool GetRowLockHeld() const noexcept { return FRowLockHeld; }
  // Drops a held row lock (the transaction's lock count falls only when a lock was taken).
  void ReleaseRowLock() noexcept;

  // ---- the statement's steps ---------------------------------------------------------------------------
  void SetIB_Transaction(TIB_Transaction* Value) override;
  void SetIB_Connection(TIB_Connection* Value) override;
  bool GetCalculatingFields() override { return FFields->GetCalculating(); }
  // In search mode the fields row holds no criteria: an application's write into it is refused.
  void CheckFieldWrite(TIB_Column& Column) override;
  void SysClose() override;
  void SysUnprepare() override;

protected:
  // Statement hooks.
  // In search mode the controls write their criteria back first.
  void SysPrepare() override;
  void DoAfterPrepare() override;
  void DoPreparedChanged() override;
  void SysExecute() override;
  void SysClearFieldBuffers() override;
  void SysOpenCursor() override;
  void SysActivate() override;
  void DoActiveChange() override;
  void SysAllocateRows() override;
  void SysParamsChanged(TIB_Column* Column) override;
  void DoLinkEvent22(TIB_Column* Column) override;
  void SysCheckCanModify(TIB_Column* Column) override;

  // SQL building.
  void SysBuildForUpdate() override;
  void SysSubstituteMacros() override;
  void DoPrepareSQL() override;
  bool SysNeedPlan() override;
  void SysBuildPlan() override;
  void SysBuildSelect() override;
  void SysResetDescription() override;
  void DoAfterUnprepare() override;
  void SysHook31(bool& Unprepare) override;
  // The OrderingLinks entry of a column (what its ordering position is read from).
  bool FindOrderingLink(const std::string& Name, std::string& Value) override;
  void FieldsPropertyChanged(TIB_FieldsPropertyList List) override;
  // A binding cursor of a buffered dataset: its master conditions use "BIND_" parameters and it has no
  // key row or key links of its own.
  virtual bool GetIsBindingCursor() { return false; }
  // A binding cursor's key column Index may be null (its condition then matches a null too).
  virtual bool GetBindingKeyNullable(int /*Index*/) { return false; }
  // Auto-defines KeyLinks while the SQL is built; returns KeyLinks.
  TIB_StringProperty& DefineKeyLinks();
  // Copies the key values of the current fields-row record into the key row.
  void FillKeyRow();
  void BuildKeyCopy();
  // One key value into the key row's variable To: the fields row's value in From, or the row number
  // (From null) where the key is the row number. The common sizes are copied in place.
  static void CopyKeyValue(const XSQLVAR* From, const XSQLVAR& To, int32_t RowNum) noexcept {
    if (!From) {
      const ISC_SHORT notNull = 0;
      std::memcpy(To.sqlind, &notNull, sizeof notNull);
      std::memcpy(To.sqldata, &RowNum, sizeof RowNum);
      return;
    }
    std::memcpy(To.sqlind, From->sqlind, sizeof(ISC_SHORT));
    switch (From->sqltype & ~1) {
      case SQL_LONG: std::memcpy(To.sqldata, From->sqldata, 4); break;
      case SQL_INT64: std::memcpy(To.sqldata, From->sqldata, 8); break;
      default:
        std::memcpy(To.sqldata, From->sqldata,
                    static_cast<size_t>(From->sqllen) + ((From->sqltype & ~1) == SQL_VARYING ? 2 : 0));
    }
  }
  bool KeyColumnsFromKeyRelation();
  // Gives the columns of a query over a WITH list that name columns of the key relation that relation.
  void AdoptKeyRelationColumns(TIB_Row& Row);
  // Marks the columns whose select item is an expression or a sub-select (the engine names a relation's
  // column for some): read-only, never written by the generated statements.
  void MarkSelectDerivedColumns();
  // Refuses a master or key source whose chains of master and key sources lead back to this dataset.
  void CheckLinkSourceCycle(TIB_DatasetLinkSource* Value);
  // The NOCASE expression the attribute lists give a column named Column (before the fields row is
  // described); empty when none. NoCase, when given, tells whether the column has the attribute at all.
  std::string NoCaseExpressionByName(const std::string& Column, bool* NoCase = nullptr);
  void DeriveOrderingLink();
  void DeriveSearchingLink();
  void ListChanged(TIB_StringProperty& List);

  // Editing.
  virtual void SysEdit();
  virtual void SysInsert();
  virtual void SysDelete();
  virtual void SysApplyUpdate(bool CancelUnmodified);
  virtual void SysPostEdit();
  virtual void SysPostInsert();
  virtual void SysRevertRow();
  virtual void SysBeforeWriteBack(bool) {}
  virtual void DoCustomEdit();
  virtual void DoCustomInsert();
  // Writes the Fields row's typed blob values, then the row itself through Write; a refused write keeps the
  // blob values for the next one. The written row becomes the row's old values and names its key.
  void WriteRowWithBlobs(void (TIB_Dataset::*Write)());
  virtual void DoCustomDelete();
  virtual void SysExecEdit();
  virtual void SysExecInsert();
  virtual void SysExecDelete();
  virtual bool SysExecLockRow();
  virtual void SysLockRow();
  virtual void SysDMLCacheReceivedItem(const TIB_DMLCacheItem&) {}
  // The buffered dataset's answers to its transaction: whether it buffers rows, and its cached-update
  // walks (apply, accept after the commit, cancel, and undo an apply whose commit failed).
  virtual bool SysIsBuffered() { return false; }
  // Fetches on for at most Ticks milliseconds (a transaction's time-out attempt).
  virtual void SysFetchForTicks(uint32_t Ticks) { FetchLoop(Ticks); }
  // Fetches every row that is left (FetchAll on the open dataset).
  virtual void SysFetchAll() { FetchLoop(0); }
  virtual void SysApplyCachedUpdates() {}
  virtual void SysCommitCachedUpdates() {}
  virtual void SysCancelCachedUpdates() {}
  virtual void SysUndoApply() {}
  virtual void SysAcceptApplied() {}
  void CheckRequiredFields();
  bool ConfirmDelete();
  // Runs Step; an EIB_Error goes to Event, whose answer fails (re-raise), aborts or retries.
  void RunWithErrorEvent(const TIB_DataSetErrorEvent& Event, const std::function<void()>& Step);
  void ApplyGeneratorsAndServerDefaults();
  // Gives each empty IDENTITY column of the row the next value of its generator, as a GeneratorLinks
  // entry would, unless GeneratorLinks (the dataset's or the connection's) name the column or the
  // column is not written by the insert (read-only).
  void ApplyIdentityGenerators();
  void ApplyDefaultValues();
  // The server default of Column as a text the column takes; false when it gives none.
  bool ServerDefaultText(TIB_Column& Column, std::string& Text);
  // 7: every detail posts; 8: every detail in dssInsert cancels.
  void CascadeToDetails(int Action);
  // Refuses a change and tells the data sources the true state first.
  [[noreturn]] void Refuse(TIB_Msg<EIB_DatasetError> Id);
  // How the dataset's transaction sees it.
  TIB_TransactionDatasetIntf* GetTransactionSite() const;

  // Search mode and row locks.
  // After a commit or rollback retaining and at the transaction's end the row lock is gone.
  void SysTransactionNotice(uint8_t AEvent) override;
  virtual void SysEnterSearch();
  virtual void SysPostSearch(bool Open);
  // With a key source in search mode, the current row becomes its criteria.
  void SyncKeySourceCriteria();
  // Unpreparing: the links drop their criteria and their saved criteria.
  void ForgetLinkCriteria();
  // The owned key or master data link follows the source just set.
  void LinkKeySource();
  void LinkMasterSource();
  TStrings* FSearchTransfer = nullptr;
  int32_t FSearchPostCount = 0;
  bool FWasActiveBeforeMasterSearch = false;
  TIB_Transaction* FRowLockTransaction = nullptr;
  TIB_KeyDataLink* FKeyDataLink = nullptr;
  TIB_MasterDataLink* FMasterDataLink = nullptr;

  // Open and close.
  bool SysOpen();
  virtual void SysBeforeOpen();
  virtual void SysNotifyDyn18();
  virtual void SysNotifyDyn20();
  virtual void SysUpdateState();
  void SetState(TIB_DatasetState Value);
  virtual void SysPost(bool CancelUnmodified, bool Retaining);
  virtual void SysCancel();
  virtual void SysCloseIfUnidirectional();

  // Fetching.
  virtual void SysFirst();
  virtual void SysLast();
  virtual int32_t SysMoveBy(int32_t n);
  virtual void SysBeginScroll();
  virtual void SysEndScroll();
  // Link event 14 (the current row is about to be left: a detail or lookup posts its change under it),
  // unless this move has sent it already.
  void NoticeRowLeave();
  virtual bool SysGetCanScroll();
  virtual bool DoAfterFetchRow();
  virtual void DoAfterFetchEof();
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();
  virtual void DoCallback();
  virtual void SysInvalidateRows();
  virtual void SysRowNumChanged(int32_t n);
  virtual void SysFetchRowRange(int32_t From, int32_t To);
  void FetchRow();
  // Next's short road: a forward-only cursor of a class that keeps every scroll step as this class has
  // it, open in browse state with no link, handler, lock or key source that a scroll would tell.
  bool CanStepQuickly();
  void StepQuickly();
  // Whether a scroll's end (past the case where it is held back) has anything to do: the row coming or
  // going, a row lock to release, a key link or key source to sync, an AfterScroll handler, or a class
  // that may change the steps. SysEndScroll stops when there is nothing; StepQuickly then leaves it out.
  bool ScrollEndHasWork() const noexcept {
    return FQuickStepClass != 1 || (FFields->GetRowState() != rsNone) != FLastHadRecord || FRowLockHeld || FKeySource ||
           FKeyDataLink || AfterScroll;
  }
  // Whether this object's class keeps the scroll and fetch steps as they are here (see CanStepQuickly).
  virtual bool GetStepsQuickly() const { return false; }
  // The notices held back while events were deferred, sent once the last bracket ends.
  void SendDeferredEvents();
  // The rarely taken ends of a fetch, out of line: a failed fetch (raises) and the end of the cursor.
  [[gnu::cold, gnu::noinline]] void FetchFailed();
  // A fetch failed: the cursor is closed and the fields row cleared (the buffered dataset ends its result).
  virtual void SysFetchFailed() {}
  [[gnu::cold, gnu::noinline]] void FetchEnded();
  int32_t FetchRows(int32_t n);
  // Fetches until Eof; Limit > 0 ends after that many milliseconds. True when the fetch was aborted (the
  // end of the fetching bracket clears the abort flag, so a caller cannot read it afterwards).
  bool FetchLoop(uint32_t Limit);
  void BeginFetching();
  // Ends the fetching bracket. The bracket is closed and the abort flag taken before anything is called
  // (a call out that raises leaves no stale abort behind to stop the next fetch at once); then the busy
  // end, the end callback and, after an abort, the state notice run, each also when one before failed.
  // The first failure goes on, the later ones are reported.
  void EndFetching();
  // Ends a fetch bracket without callbacks or notices (an operation's destructor).
  void EndFetchingQuietly() noexcept;
  // Clears the fields row (and the key row): the dataset shows no row.
  void ShowNoRow();
  // Aborted: the Abort answer offered to a handler once no fetch runs (the end callback).
  void DoCallbackEvent(TIB_CallbackStatus Status, bool Aborted = false);
  // The abort flag, or the Abort answer of an OnCallback handler still running.
  bool GetAbortRequested() const noexcept { return FAbort || (FCallbackAbort && *FCallbackAbort); }
  void DefaultCallback(TIB_CallbackStatus Status);
  void ProcessCallbackMessages();
  void API_OpenCursor();
  void API_CloseCursor();

  // Refresh and count.
  virtual bool SysRefresh(bool KeepRows, bool Reopen);
  virtual int32_t SysRecordCount();
  virtual int32_t DoGetRecordCount();

  // Most events are unassigned: the test stays inline, the firing out of line.
  void FireEvent(const TIB_DatasetEvent& Event) {
    if (Event) [[unlikely]]
      FireAssignedEvent(Event);
  }
  void FireAssignedEvent(const TIB_DatasetEvent& Event);

  // Ends with the silent abort when the dataset was destroyed by code it called (Alive is its token).
  static void CheckAlive(const TIB_AliveFlag& Alive) { IB_CheckAlive(Alive); }
  // Destroyed from a handler of its own cancel: the row being cancelled is not posted by the close on
  // the way out.
  void DropCancelledRow();

  // One operation of the dataset (a navigation step, a fetch loop, a key search, a refresh): it opens
  // the brackets it is asked for, and End() closes them in reverse order, only while the dataset lives
  // (code it called may destroy it). The closing steps send deferred notices, call back and may read a
  // detail, so they run on the normal path only: End's error (a notice's handler, a detail's failed
  // read) reaches the caller after every bracket is closed. An operation left by an exception closes
  // its brackets quietly in its destructor: counters and flags go back, nothing is sent. A fetch's end
  // is owed to the application on that road too (the cancel dialog hidden, the end callback): an
  // operation that fetches runs its loop through Run, whose catch block ends it in full. One per
  // operation, never per row.
  class TDatasetOperation {
  public:
    explicit TDatasetOperation(TIB_Dataset* D) : FD(D), FAlive(D->FAlive) {}
    ~TDatasetOperation() {
      if (FOpen != 0) [[unlikely]] {
        // Only an exception leaves an operation without End(): a normal return that skipped it would
        // drop the brackets' notices.
        assert(std::uncaught_exceptions() > FUncaught && "an operation left without End()");
        CloseQuietly(false);
      }
    }
    // Closes the brackets on the normal path. Inline: a navigation step of every row ends here.
    inline void End();
    // End(), then Result: for `return op.Ended(value);` where value is taken before the brackets close.
    template <class T>
    T Ended(T Result) {
      End();
      return Result;
    }
    TDatasetOperation(const TDatasetOperation&) = delete;
    TDatasetOperation& operator=(const TDatasetOperation&) = delete;
    // BeginBusy now, EndBusy at the end.
    void Busy(bool Yield);
    // BeginDeferEvents now, EndDeferEvents at the end.
    void Defer();
    // BeginFetching now, EndFetching at the end.
    void Fetching();
    // Runs Step at the end, before the brackets close, while the dataset lives (once per operation).
    // (The step is a small lambda of a few trivially copyable captures, kept in the operation itself:
    // an operation without one pays nothing for it.)
    template <class F>
    void AtEnd(F Step) {
      static_assert(sizeof(F) <= sizeof(FEndStep) && alignof(F) <= alignof(std::max_align_t) &&
                        std::is_trivially_copyable_v<F> && std::is_trivially_destructible_v<F>,
                    "a closing step holds a few trivially copyable captures");
      ::new (static_cast<void*>(FEndStep)) F(Step);
      FEndRun = [](const void* P) { (*static_cast<const F*>(P))(); };
      FOpen |= kEndStep;
    }
    // Drops the closing step: the operation's code has done it itself.
    void AtEnd(std::nullptr_t) { FOpen &= ~kEndStep; }
    // Runs Body, the operation's work. An exception leaving it closes the brackets before it goes on,
    // here and not in the destructor, so that the fetching bracket ends in full (its end callback hides
    // the cancel dialog, its busy end runs); a failure of those ends is reported.
    template <class F>
    void Run(F&& Body) {
      try {
        Body();
      } catch (...) {
        EndAfterFailure();
        throw;
      }
    }
    bool Alive() const noexcept { return FAlive.Get(); }
    // The silent abort when the dataset is gone.
    void Check() const { CheckAlive(FAlive); }

  private:
    // A closing step failed (its exception is the current one): closes the rest quietly, then raises
    // or reports.
    [[gnu::cold]] void CloseAfterFailure();
    // The exception path: the restoring step, then the brackets without their notices. Outside a
    // destructor (InCatch) the fetching bracket ends in full, its failure reported.
    [[gnu::cold]] void CloseQuietly(bool InCatch) noexcept;
    // Run's catch block: CloseQuietly(true).
    [[gnu::cold]] void EndAfterFailure() noexcept;
    // The dataset died: nothing more is closed, and the operation ends with the silent abort.
    [[noreturn, gnu::cold]] void Gone();
    TIB_Dataset* FD;
    TIB_AliveFlag FAlive;
    // The brackets still open, one bit each: the whole test of a destructor on the normal path.
    enum : uint8_t { kEndStep = 1, kFetching = 2, kDefer = 4, kBusy = 8 };
    uint8_t FOpen = 0;
    // The closing step, valid while kEndStep is set.
    void (*FEndRun)(const void*);
    alignas(std::max_align_t) unsigned char FEndStep[32];
#ifndef NDEBUG
    int FUncaught = std::uncaught_exceptions();
#endif
  };

  // State.
  TIB_DatasetState FState = dssInactive;
  TIB_DatasetState FOldState = dssInactive;
  bool FLastHadRecord = false;
  bool FAppending = false;
  bool FEof = false;
  int32_t FRowNum = 0;
  bool FCursorOpen = false;
  // A close of the cursor failed (a lost answer): the server may still hold it open, so the next
  // open closes it first, whatever that answers.
  bool FCloseFailed = false;
  // The transaction's end count when the cursor was opened.
  uint32_t FCursorEndCount = 0;
  // The SQL dialect the open cursor was executed with.
  unsigned short FFetchDialect = 3;
  std::string FCursorName;
  // The name was given to the server since the last prepare.
  bool FCursorNamed = false;
  bool FOpening = false;
  // Set Active while loading: opened once loading ends.
  bool FPendingActive = false;
  bool FClosing = false;
  // Set while a move runs whose links have heard that the current row is about to be left.
  bool FRowLeaveNoticed = false;
  bool FReturnToSearch = false;
  int32_t FDeferCount = 0;
  bool FStateChangePending = false;
  bool FDataChangePending = false;
  bool FAfterScrollPending = false;
  int32_t FCallbackFreeze = 0;
  int32_t FRefreshDepth = 0;
  int32_t FRefreshSeq = 0;
  int32_t FFetchingDepth = 0;
  int32_t FMultiRowCount = 0;
  bool FFetching = false;
  // The fetch holds a busy bracket of its own.
  bool FFetchBusy = false;
  bool FAbort = false;
  // The Abort argument of the OnCallback handler running (a variable of the call: the handler may destroy
  // the dataset and still set it), read as the abort flag meanwhile.
  bool* FCallbackAbort = nullptr;
  // GetStepsQuickly's answer once asked (-1: not yet).
  int8_t FQuickStepClass = -1;
  // The next FetchRow leaves out the fields row's reset notice (set by StepQuickly, taken by FetchRow).
  bool FQuietFetch = false;
  // The next FetchRow's row takes the place of the row shown (set by the buffered fetch that shows it,
  // taken by FetchRow).
  bool FFetchReplacesRow = false;
  uint64_t FFetchStart = 0;
  uint64_t FLastCallback = 0;
  // Counts the cursors opened: a fetch loop that sees it change was overtaken by a reopen.
  uint32_t FCursorGen = 0;
  bool FParamsChanged = false;
  // Refresh registers: saved at each close, and the outermost refresh's copy.
  bool FSavedEof = false;
  int32_t FSavedRowNum = 0;
  std::string FSavedBookmark;
  bool FRefreshEof = false;
  int32_t FRefreshRowNum = 0;
  std::string FRefreshBookmark;
  bool FPositionFound = false;
  bool FPositionChanged = false;
  bool FKeepSavedPosition = false;
  int32_t FRecordCount = 0;
  bool FRecordCountValid = false;
  std::vector<TIB_DatasetSourceIntf*> FDataSources;
  bool FCancelDialogShown = false;

  // Properties.
  bool FAutoFetchFirst = true;
  bool FAutoFetchAll = false;
  bool FAutoPostDelete = true;
  int32_t FCallbackInc = 5;
  uint32_t FCallbackInitInt = 3000;
  uint32_t FCallbackRefreshInt = 250;
  std::string FCallbackCaption;
  bool FCheckRequired = true;
  bool FColorScheme = false;
  bool FGetServerDefaults = false;
  bool FKeyLinksAutoDefine = false;
  bool FKeySeeking = true;
  bool FMasterSearch = false;
  TIB_MasterSearchFlags FMasterSearchFlags = 0;
  int32_t FMaxRows = 0;
  uint32_t FMaxTicks = 0;
  int32_t FOrderingItemNo = 0;
  bool FPessimisticLocking = false;
  bool FPreparedEdits = false;
  bool FSearchedEdits = false;
  bool FSearchedDeletes = false;
  bool FPreventEditing = false;
  bool FPreventInserting = false;
  bool FPreventDeleting = false;
  bool FPreventSearching = false;
  bool FReadOnly = false;
  TIB_RefreshAction FRefreshAction = raOpen;
  bool FRefreshOnParamChange = false;
  bool FRequestLive = false;
  TIB_CommitAction FCommitAction = caClose;
  bool FCachedUpdates = false;
  TIB_DMLCacheFlags FDMLCacheFlags = 0;
  TIB_StringProperty FKeyLinks, FKeyDescLinks, FMasterLinks, FMasterParamLinks, FOrderingItems, FOrderingLinks,
      FSearchingLinks, FGeneratorLinks, FDefaultValues;
  TIB_StringList FConfirmDeletePrompt;
  TIB_StringList FEditSQL, FInsertSQL, FDeleteSQL, FLockSQL;

  // SQL building.
  TIB_UpdateSQL* FUpdateSQL = nullptr;
  TIB_StringList FClauses[9];
  TIB_StringList FFrontConditions, FSearchConditions, FAddedConditions, FOrderWork;
  std::string FBaseWhere;
  std::string FSearchText;
  std::string FOrderingLink;
  std::string FSearchingLink;
  std::string FSearchParamName;
  int32_t FOrderingChangeCount = 0;
  int32_t FOrderingLinkCount = 0;
  int32_t FSearchingLinkCount = 0;
  bool FWhereChanged = false;
  bool FOrderChanged = false;
  int FClauseWriting = 0;
  int FAddedConditionsBuilt = 0;  // added-condition lines the first pass of a prepare wrote
  bool FKeyLinksAutoDefined = false;
  bool FDBKeyUsed = false;
  bool FDefiningKeyLinks = false;
  bool FRebuildingSQL = false;
  // Fields-row column and key-row column of each key link, built at the first fetch after a layout.
  std::vector<std::pair<TIB_Column*, TIB_Column*>> FKeyCopy;
  bool FKeyCopyValid = false;
  // The null indicators of the fields row's NOT NULL columns: the client writes none for them, so a
  // fetch sets them.
  std::vector<ISC_SHORT*> FNotNullInds;
  TIB_DatasetLinkSource* FKeySource = nullptr;
  TIB_DatasetLinkSource* FMasterSource = nullptr;
  int32_t FKeySyncCount = 0;
  // A move of the KeySource came while the cursor was closed by its transaction's end: the dataset
  // follows it once the end's refresh has read it anew.
  bool FKeySyncDeferred = false;
  int32_t FMasterUpdateCount = 0;

  // Editing.
  int32_t FPostCount = 0;
  int32_t FRetainingCount = 0;
  bool FRetainedInsert = false;
  bool FRetainedEdit = false;  // the edit was written by a retaining post
  bool FInserting = false;
  bool FCancelling = false;
  bool FRowLockHeld = false;

private:
  // How the dataset's transaction sees it.
  class TTransactionSite;
  class TConnectionSite;
  std::unique_ptr<TTransactionSite> FTransactionSite;
  std::unique_ptr<TConnectionSite> FConnectionSite;
  // Opens when Active was set while loading (at the end of loading, or once the connection attached).
  void ApplyPendingActive();
  // The transaction the dataset is registered with (and counts its open cursor in).
  TIB_Transaction* FRegisteredTransaction = nullptr;
  void UnregisterFromTransaction() noexcept;
  // FRegisteredTransaction while the statement still follows it, else nil.
  TIB_Transaction* RegisteredTransaction() noexcept;
};

inline void TIB_Dataset::TDatasetOperation::End() {
  // Each closing step runs while the dataset lives (code it called may have destroyed it); a step's
  // bit is cleared before it runs, so after a failure the rest still close. An operation whose dataset
  // died never returns normally: its caller would go on with the freed dataset.
  uint8_t open = FOpen;
  if (!FAlive.Get()) [[unlikely]]
    Gone();
  try {
    if (open & kEndStep) [[unlikely]] {
      FOpen = open &= ~kEndStep;
      FEndRun(FEndStep);
      if (!FAlive.Get()) Gone();
    }
    if (open & kFetching) [[unlikely]] {
      FOpen = open &= ~kFetching;
      FD->EndFetching();
      if (!FAlive.Get()) Gone();
    }
    if (open & kDefer) {
      FOpen = open &= ~kDefer;
      // Only the held-back notices' handlers can destroy the dataset here.
      if (FD->EndDeferEvents() && !FAlive.Get()) [[unlikely]]
        Gone();
    }
    if (open & kBusy) {
      FOpen = 0;
      FD->EndBusy();
    }
  } catch (...) {
    CloseAfterFailure();
  }
}
