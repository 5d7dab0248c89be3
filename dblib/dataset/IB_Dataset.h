// The dataset: a SELECT statement that opens a server cursor and fetches its rows one at a time.
//
// TIB_Dataset is a TIB_Statement whose fields row holds the current row of an open cursor. It opens
// the cursor (naming it at the server), fetches rows with row and time limits and progress callbacks,
// moves forward, refreshes, closes, counts the rows of its query with a cached count statement, keeps a
// row state (inactive, prepared, browse ...) and tells the data sources attached to it when that state
// changes. Editing, SQL rewriting, search mode and buffered rows are built on top of it by the classes
// derived from it; on this class they behave as a read-only, forward-only cursor.
//
// Ownership: a dataset owns what the statement owns plus its link and clause lists. It does not own the
// data sources attached to it; each one detaches before it goes, and the dataset tells the rest when
// it goes itself. The fields row shows one row at a time: its values change with every fetch and are
// gone after close, so read them before moving on.
//
// A dataset may be destroyed from inside its own callback or from a task the message pump runs during
// a fetch: the fetch then ends with the silent abort (EAbort) and touches nothing of the dataset.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dblib/IB_DMLCache.h"
#include "dblib/IB_Statement.h"
#include "dblib/IB_TransactionIntf.h"

class TIB_Dataset;

// A flag shared between an object and the frames of its running operations: the object clears it when
// it goes, and a frame whose callback destroyed the object sees that and leaves without touching it.
// Single-threaded, like the objects that use it (its count is not atomic).
class TIB_AliveFlag {
public:
  TIB_AliveFlag() : FBlock(new TBlock) {}
  TIB_AliveFlag(const TIB_AliveFlag& Other) noexcept : FBlock(Other.FBlock) { ++FBlock->Refs; }
  TIB_AliveFlag& operator=(const TIB_AliveFlag&) = delete;
  ~TIB_AliveFlag() {
    if (--FBlock->Refs == 0) delete FBlock;
  }
  bool Get() const noexcept { return FBlock->Alive; }
  void Clear() noexcept { FBlock->Alive = false; }

private:
  struct TBlock {
    int32_t Refs = 1;
    bool Alive = true;
  };
  TBlock* FBlock;
};

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
  void EndDeferEvents();

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
  virtual void SetBufferBookmark(const std::string& Value);
  virtual bool GetCanEdit() { return false; }
  virtual bool GetCanInsert() { return false; }
  virtual bool GetCanDelete() { return false; }
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

  // ---- properties --------------------------------------------------------------------------------------
  bool GetAutoFetchFirst() const noexcept { return FAutoFetchFirst; }
  void SetAutoFetchFirst(bool Value) { FAutoFetchFirst = Value; }
  bool GetAutoFetchAll() const noexcept { return FAutoFetchAll; }
  void SetAutoFetchAll(bool Value) { FAutoFetchAll = Value; }
  bool GetAutoPostDelete() const noexcept { return FAutoPostDelete; }
  void SetAutoPostDelete(bool Value) { FAutoPostDelete = Value; }
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
  void SetKeySeeking(bool Value) { FKeySeeking = Value; }
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
  void SetPreparedEdits(bool Value) { FPreparedEdits = Value; }
  bool GetSearchedEdits() const noexcept { return FSearchedEdits; }
  void SetSearchedEdits(bool Value) { FSearchedEdits = Value; }
  bool GetSearchedDeletes() const noexcept { return FSearchedDeletes; }
  void SetSearchedDeletes(bool Value) { FSearchedDeletes = Value; }
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

  // ---- editing (on this class a read-only cursor: nothing is ever pending) ------------------------------
  bool GetIsModifying() const noexcept { return FState >= dssEdit; }
  void Post();
  void Cancel();
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
  // A free search condition kept across prepares; cleared by ClearSearch.
  const std::string& GetSearchText() const noexcept { return FSearchText; }
  void SetSearchText(const std::string& Value);
  // Called by the data links while the dataset prepares: Condition joins the WHERE clause.
  void AddSearchCondition(const std::string& Condition);
  const TIB_StringList& GetSearchConditions() const noexcept { return FSearchConditions; }
  // This dataset, and every master up its chain that it searches with, is in search mode.
  bool IsSearchChain();
  // Runs a search action on every dataset whose master source shows this dataset (0-6 only on those
  // with MasterSearch; 7 post, 8 cancel an insert).
  void CascadeToDetails(int32_t Action);
  void FollowMasterSearch();
  // The dataset behind the master source (nil without one).
  TIB_Dataset* GetMasterDataset() const;
  // Parameters named in MasterParamLinks take the master's columns.
  void ApplyMasterParamLinks();
  // The master moved to another row: parameters follow it and an open detail runs again.
  void FollowMasterRow();
  // Edit and insert on request of a data source: nothing when the dataset cannot (see GetCanEdit).
  void Edit();
  void Insert();
  bool GetRowLockHeld() const noexcept { return FRowLockHeld; }
  // Takes the row lock for an edit (with PessimisticLocking and without CachedUpdates).
  virtual void SysLockRow();
  // Drops a held row lock (the transaction's lock count falls only when a lock was taken).
  void ReleaseRowLock() noexcept;
  using TIB_CustomLockRowEvent = std::function<void(TIB_Dataset* Sender)>;
  TIB_CustomLockRowEvent OnCustomLockRow;

  // ---- the statement's steps ---------------------------------------------------------------------------
  void SetIB_Transaction(TIB_Transaction* Value) override;
  void SetIB_Connection(TIB_Connection* Value) override;
  bool GetCalculatingFields() override { return false; }
  void SysClose() override;
  void SysUnprepare() override;

protected:
  // Statement hooks.
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

  // Search mode and row locks.
  void DoPrepareSQL() override;
  // After a commit or rollback retaining and at the transaction's end the row lock is gone.
  void SysTransactionNotice(uint8_t AEvent) override;
  virtual void SysEnterSearch();
  virtual void SysPostSearch(bool Open);
  virtual void SysEdit();
  virtual void SysInsert();
  // Locks the current row: OnCustomLockRow, else LockSQL or "UPDATE R SET C = C WHERE key"; true
  // when a row was locked.
  virtual bool SysExecLockRow();
  // With a key source in search mode, the current row becomes its criteria.
  void SyncKeySourceCriteria();
  TStrings* FSearchTransfer = nullptr;
  std::string FSearchText;
  TIB_StringList FSearchConditions;
  int32_t FSearchPostCount = 0;
  bool FWasActiveBeforeMasterSearch = false;
  bool FRowLockHeld = false;
  TIB_Transaction* FRowLockTransaction = nullptr;

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
  int32_t FetchRows(int32_t n);
  // Fetches until Eof; Limit > 0 ends after that many milliseconds.
  void FetchLoop(uint32_t Limit);
  void BeginFetching();
  void EndFetching();
  void DoCallbackEvent(TIB_CallbackStatus Status);
  void DefaultCallback(TIB_CallbackStatus Status);
  void ProcessCallbackMessages();
  void API_OpenCursor();
  void API_CloseCursor();

  // Refresh and count.
  virtual bool SysRefresh(bool KeepRows, bool Reopen);
  virtual int32_t SysRecordCount();
  virtual int32_t DoGetRecordCount();

  void FireEvent(const TIB_DatasetEvent& Event);

  // Ends with the silent abort when the dataset was destroyed by code it called (Alive is its token).
  static void CheckAlive(const TIB_AliveFlag& Alive);

  // State.
  TIB_DatasetState FState = dssInactive;
  TIB_DatasetState FOldState = dssInactive;
  bool FLastHadRecord = false;
  bool FEof = false;
  int32_t FRowNum = 0;
  bool FCursorOpen = false;
  // The SQL dialect the open cursor was executed with.
  unsigned short FFetchDialect = 3;
  std::string FCursorName;
  // The name was given to the server since the last prepare.
  bool FCursorNamed = false;
  bool FOpening = false;
  // Set Active while loading: opened once loading ends.
  bool FPendingActive = false;
  bool FClosing = false;
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
  TIB_AliveFlag FAlive;

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
