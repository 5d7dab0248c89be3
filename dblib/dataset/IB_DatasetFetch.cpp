// TIB_Dataset: opening and closing the cursor, its name at the server, fetching rows (limits, callbacks,
// the message pump between rows, aborting) and moving forward.
#include <cassert>
#include <cstring>
#include <utility>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_DataLink.h"
#include "dblib/dataset/IB_DataSource.h"
#include "dblib/dataset/IB_Dataset.h"
#include "dblib/dataset/IB_UpdateSQL.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/Locale.h"
#include "platform/ScopeGuards.h"

namespace {

// The longest cursor name the server accepts in WHERE CURRENT OF.
constexpr size_t kMaxCursorName = 31;

// Each thread's sessions number their cursors; the number makes names given in the same millisecond differ.
thread_local uint32_t CursorCounter = 0;

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// One operation's brackets

void TIB_Dataset::TDatasetOperation::Busy(bool Yield) {
  FD->BeginBusy(Yield);
  FOpen |= kBusy;
}

void TIB_Dataset::TDatasetOperation::Defer() {
  FD->BeginDeferEvents();
  FOpen |= kDefer;
}

void TIB_Dataset::TDatasetOperation::Fetching() {
  FD->BeginFetching();
  FOpen |= kFetching;
}

void TIB_Dataset::TDatasetOperation::CloseQuietly(bool InCatch) noexcept {
  if (!FAlive.Get()) {
    FOpen = 0;
    return;
  }
  const uint8_t open = std::exchange(FOpen, 0);
  if (open & kEndStep) {
    RunReported([this] { FEndRun(FEndStep); });
    if (!FAlive.Get()) return;
  }
  if (open & kFetching) {
    if (InCatch) {
      RunReported([this] { FD->EndFetching(); });
      if (!FAlive.Get()) return;
    } else {
      FD->EndFetchingQuietly();
    }
  }
  if (open & kDefer) FD->EndDeferEventsQuietly();
  if (open & kBusy) FD->EndBusyQuietly();
}

void TIB_Dataset::TDatasetOperation::EndAfterFailure() noexcept { CloseQuietly(true); }

void TIB_Dataset::TDatasetOperation::Gone() {
  FOpen = 0;
  throw EAbort();
}

void TIB_Dataset::TDatasetOperation::CloseAfterFailure() {
  // Inside the handler the step's own exception is caught: one still uncaught is leaving through this
  // operation, and goes on while the step's is reported. (An operation ended from a destructor during
  // unwinding reports too.) Otherwise the step's error reaches the caller once the rest is closed,
  // quietly: the failure is the news.
  const std::exception_ptr failure = std::current_exception();
  CloseQuietly(true);
  if (std::uncaught_exceptions() > 0) {
    ReportException(failure);
    return;
  }
  std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------------------------------------
// Open and close

void TIB_Dataset::Open() {
  if (FActive) return;
  TDatasetOperation op(this);
  op.Busy(false);
  op.Defer();
  SysOpen();
  // A lookup list (one with a KeySource) does not move to a row of its own: that would write its key
  // into the row it serves.
  if (FActive && FAutoFetchFirst && GetBof() && !FKeySource) SysMoveBy(1);
  op.End();
}

void TIB_Dataset::SetActive(bool Value) {
  if (Value) {
    Open();
  } else {
    Close();
  }
}

void TIB_Dataset::Close() {
  if (!GetIsActiveOrBuffered()) return;
  TDatasetOperation op(this);
  op.Busy(false);
  if (FFetching && !GetAbortRequested() && FRefreshDepth == 0)
    IB_Raise<EIB_DatasetError>(IBMsg::DatasetIsCurrentlyFetching);
  SysClose();
  op.End();
}

void TIB_Dataset::Execute() {
  if (FActive && GetIsSelectSQL()) IB_Raise<EIB_StatementError>(IBMsg::StatementHasAlreadyBeenOpened);
  TDatasetOperation op(this);
  op.Busy(false);
  SysClose();
  SysExecute();
  op.End();
}

bool TIB_Dataset::SysOpen() {
  const bool remembered = FReturnToSearch;
  if (!FActive && !FOpening) {
    const TIB_AliveRestorer<bool> opening(FAlive, FOpening, true);
    if (HasState(csLoading) || HasState(csReading)) {
      FPendingActive = true;
      return false;
    }
    SysCheckTransaction(false);
    TDatasetOperation op(this);
    op.Defer();
    FReturnToSearch = FState == dssSearch || (FRefreshDepth > 0 && remembered);
    SysExecute();
    op.End();
  }
  return FActive;
}

void TIB_Dataset::SysExecute() {
  if (FActive) IB_Raise<EIB_Error>(IBMsg::DatasetIsCurrentlyOpen);
  // Opened from search mode: a master that is searched with posts its search (and opens) first, and
  // this dataset's criteria become conditions.
  if (FState == dssSearch && FSearchPostCount == 0) {
    TIB_Dataset* m = GetMasterDataset();
    if (FMasterSearch && m && m->FState == dssSearch && (FMasterSearchFlags & (1u << msfOpenMasterOnOpen))) {
      m->SysPostSearch(true);
    }
    if (FState == dssSearch) SysPostSearch(false);
  }
  if (FMasterSource) {
    PrepareCore();
    ApplyMasterParams();
  }
  TIB_Statement::SysExecute();
}

void TIB_Dataset::SysClearFieldBuffers() {
  // The statement also clears the buffers when it prepares: only an execute opens.
  if (!FPreparing && GetIsSelectSQL()) SysBeforeOpen();
  TIB_Statement::SysClearFieldBuffers();
}

void TIB_Dataset::SysBeforeOpen() {
  if (FRefreshDepth == 0) Perform(dnBeforeOpen);
  // A row being inserted or edited is written first; one that cannot be written stops the open.
  if (GetIsModifying()) CheckBrowseMode();
}

void TIB_Dataset::SysOpenCursor() {
  if (FCloseFailed) [[unlikely]] {
    FCloseFailed = false;
    if (FStmtHandle != 0 && FStmtHandle != static_cast<isc_stmt_handle>(-1))
      TIB_SessionBase::CallScratch(Session().Cursor.isc_dsql_free_statement, &FStmtHandle,
                                   static_cast<unsigned short>(DSQL_close));
  }
  API_Execute();
  API_OpenCursor();
}

void TIB_Dataset::SysActivate() {
  // Every activation is a new cursor: counts from another query are stale, an abort meant the old one,
  // and a fetch loop still running over the old cursor sees the generation change and stops.
  FParamsChanged = false;
  FRecordCountValid = false;
  ++FCursorGen;
  FAbort = false;
  TIB_Statement::SysActivate();
  const bool select = GetIsSelectSQL();
  if (select && FAutoFetchAll) {
    if (GetIsUnidirectional()) {
      SysLast();
    } else {
      FetchLoop(0);
    }
  }
  if (select) SysNotifyDyn18();
}

void TIB_Dataset::DoActiveChange() {
  FRowNum = 0;
  FEof = false;
  // A procedure's output row holds its values; a cursor's row holds nothing until the first fetch.
  if (!FFieldsRowResetOnActivate) {
    FFields->SetRowState(rsNone);
    if (TIB_Row* f = GetFields(); f != FFields.get()) f->SetRowState(rsNone);
  }
  SysUpdateState();
  if (FRefreshDepth == 0) TIB_Statement::DoActiveChange();
}

void TIB_Dataset::SysNotifyDyn18() {
  if (FRefreshDepth == 0) Perform(dnAfterOpen);
}

void TIB_Dataset::SysNotifyDyn20() {
  if (FRefreshDepth == 0) Perform(dnAfterClose);
}

void TIB_Dataset::SysClose() {
  if (FClosing) return;
  const TIB_AliveRestorer<bool> closing(FAlive, FClosing, true);
  const bool wasActive = GetIsActiveOrBuffered();
  if (wasActive && FRefreshDepth == 0) Perform(dnBeforeClose);
  TIB_Transaction* t = GetIB_Transaction();
  if (wasActive) {
    const TIB_TransactionState ts = t ? t->GetTransactionState() : tsInactive;
    if (ts == tsRollbackRetaining || ts == tsRollingBack) {
      // Only what is there to cancel: Cancel refuses a row in browse state, and the close would stop.
      if (GetIsModifying() || FState == dssSearch) Cancel();
    } else if (GetIsModifying()) {
      CheckBrowseMode();
    } else {
      // The row is left: a detail posts its change under it.
      NoticeRowLeave();
    }
    if (!FOpening && !FKeepSavedPosition) {
      // Past the last row (a buffered dataset that fetched every row is not at Eof on its last row).
      FSavedEof = GetEof();
      FSavedRowNum = FRowNum;
      FSavedBookmark = GetBookmark();
    }
  }
  // A cursor the server fails to close (a lost connection) is gone for this dataset all the same: the
  // close completes, then the failure is reported.
  std::exception_ptr failure;
  if (FCursorOpen) {
    const TIB_AliveFlag alive = FAlive;
    try {
      API_CloseCursor();
      if (t) t->CheckOAT();
    } catch (...) {
      if (!alive.Get()) throw;
      failure = std::current_exception();
    }
  }
  TIB_Statement::SysClose();
  if (wasActive) SysNotifyDyn20();
  if (failure) std::rethrow_exception(failure);
}

void TIB_Dataset::SysUnprepare() {
  // The update statements read the rows about to go.
  if (FUpdateSQL) FUpdateSQL->DeallocateAll();
  TIB_Statement::SysUnprepare();
  FCursorNamed = false;
  FRecordCountValid = false;
  if (!HasState(csDestroying)) ForgetLinkCriteria();
}

void TIB_Dataset::DoPreparedChanged() {
  SysUpdateState();
  TIB_Statement::DoPreparedChanged();
}

void TIB_Dataset::SysAllocateRows() {
  // The rows are laid out again: statements bound to the old buffers are built again at their next use.
  if (FUpdateSQL) FUpdateSQL->UnprepareAll();
  FKeyCopyValid = false;
  TIB_Statement::SysAllocateRows();
  MarkSelectDerivedColumns();
  FNotNullInds.clear();
  for (int i = 0; i < FFields->GetColumnCount(); ++i) {
    XSQLVAR* v = FFields->GetColumns(i)->GetPSQLVAR();
    if (!(v->sqltype & 1) && v->sqlind) FNotNullInds.push_back(v->sqlind);
  }
  if (!FRowsShared) {
    const bool keyed = FPrepared && GetIsSelectSQL() && FFields->GetColumnCount() > 0 && !GetIsBindingCursor();
    FKeyFields->AllocateXSQLDA(keyed ? std::max(1, FKeyLinks.Count()) : 0);
  }
  FRecordCountValid = false;
}

void TIB_Dataset::SysParamsChanged(TIB_Column* Column) {
  FParamsChanged = true;
  FRecordCountValid = false;
  TIB_Statement::SysParamsChanged(Column);
  if (!FRefreshOnParamChange && FMasterUpdateCount == 0) return;
  // Runs the query again with the new values, but never posts or drops a row being edited.
  if (FActive && FPostCount == 0 && !GetIsModifying() && !FOpening && FRefreshDepth == 0) {
    AbortFetching();
    RefreshKeys();
  }
}

bool TIB_Dataset::GetIsActiveOrBuffered() { return FActive || (FPrepared && GetBufferCount() >= 1); }

void TIB_Dataset::CheckActive() {
  if (!GetIsActiveOrBuffered()) IB_Raise<EIB_DatasetError>(IBMsg::DatasetIsInactive);
}

void TIB_Dataset::CheckPrepared() {
  if (!FPrepared) IB_Raise<EIB_DatasetError>(IBMsg::StatementHasNotBeenPrepared);
}

void TIB_Dataset::CheckBrowseMode() {
  if (!(FState == dssInsert && GetIsUnidirectional())) CheckActive();
  if (FState == dssSearch || FState == dssEdit || FState == dssInsert) ProcessLinkEvent(sleUpdateData);
  ProcessLinkEvent(sleRefreshState);
  if (GetIsModifying()) SysPost(true, false);
}

void TIB_Dataset::NoticeRowLeave() {
  if (!FRowLeaveNoticed && HasStatementLinks()) ProcessLinkEvent(sleRefreshState);
}

// ---------------------------------------------------------------------------------------------------------
// The cursor at the server

void TIB_Dataset::DoAfterPrepare() {
  // A new server statement: its cursor has no name yet. The dataset keeps the name it was given at its
  // first prepare; the server refuses a second, different name for one prepared statement.
  FCursorNamed = false;
  if (FCursorName.empty()) {
    uint32_t n = ++CursorCounter;
    if (n == 0) n = CursorCounter = 1;
    uint16_t h = 0, m = 0, s = 0, ms = 0;
    DecodeTime(Now(), h, m, s, ms);
    std::string name = "C" + IntToHex(reinterpret_cast<uintptr_t>(this), 1) + std::to_string(ms) + std::to_string(s) +
                       std::to_string(m) + IntToHex(n, 1);
    // The server takes longer names but then refuses them in WHERE CURRENT OF: keep the distinct tail.
    if (name.size() > kMaxCursorName) name = "C" + name.substr(name.size() - (kMaxCursorName - 1));
    FCursorName = name;
  }
  TIB_Statement::DoAfterPrepare();
  if (FRefreshDepth == 0) {
    // A new prepare starts with no search values.
    for (int i = 0; i < FSearchingLinks.Count(); ++i) {
      TIB_Column* p = nullptr;
      if (FParams->FindByName(Trim(FSearchingLinks.GetValueFromIndex(i)), p)) p->Clear();
    }
    Perform(dnOrderingChanged);
  }
}

void TIB_Dataset::API_OpenCursor() {
  if (FCursorOpen) IB_Raise<EIB_DatasetError>(IBMsg::CursorIsAlreadyOpen);
  TIB_Session& s = Session();
  if (!FCursorNamed) {
    const ISC_STATUS status =
        s.Call(s.Cursor.isc_dsql_set_cursor_name, &FStmtHandle, FCursorName.c_str(), static_cast<unsigned short>(0));
    if (status != 0) {
      // The execute opened the cursor: close it before the error goes out.
      TIB_SessionBase::CallScratch(s.Cursor.isc_dsql_free_statement, &FStmtHandle,
                                   static_cast<unsigned short>(DSQL_close));
      FEof = true;
      s.HandleISCError(this);
      return;
    }
    FCursorNamed = true;
  }
  FCursorOpen = true;
  FFetchDialect = static_cast<unsigned short>(GetSQLDialect());
  if (TIB_Transaction* t = GetIB_Transaction()) FCursorEndCount = t->GetEndCount();
  if (TIB_Transaction* t = RegisteredTransaction()) t->AdjustOpenCursorCount(1);
}

bool TIB_Dataset::GetCursorEndedByTransaction() {
  if (!FCursorOpen) return false;
  TIB_Transaction* t = GetIB_Transaction();
  return t && t->GetEndCount() != FCursorEndCount;
}

void TIB_Dataset::API_CloseCursor() {
  if (!FCursorOpen) return;
  FCursorOpen = false;
  if (TIB_Transaction* t = RegisteredTransaction()) t->AdjustOpenCursorCount(-1);
  if (FStmtHandle == 0 || FStmtHandle == static_cast<isc_stmt_handle>(-1)) return;
  TIB_Session& s = Session();
  const ISC_STATUS status =
      s.Call(s.Cursor.isc_dsql_free_statement, &FStmtHandle, static_cast<unsigned short>(DSQL_close));
  // "Attempt to reclose a closed cursor": the server closed it already (a hard commit closes them all).
  if (status != 0 && !IB_StatusHasCode(s.GetStatusVector(), isc_dsql_cursor_close_err)) {
    // The cursor is closed here all the same; the server may not know it yet.
    FCloseFailed = true;
    s.HandleISCError(this);
  }
}

// ---------------------------------------------------------------------------------------------------------
// Fetching

void TIB_Dataset::FetchRow() {
  // Next's short road: nobody hears the row's reset notice, and only the next fetch writes the row.
  const bool quiet = std::exchange(FQuietFetch, false);
  // The fetched row takes the place of the one shown: its old record's copy may wait (see
  // TIB_Row::ResetDeferringOldCopy).
  // Any other fetch (one fetched ahead, or run by a handler meanwhile) takes a copy still due first.
  const bool deferOld = std::exchange(FFetchReplacesRow, false) || quiet;
  if (!deferOld) FFields->TakeOldValues();
  for (;;) {
    if (FAbort) return;
    const XSQLDA* da = FFields->GetPSQLDA();
    ISC_STATUS status = kEndOfCursor;
    // The time limit counts from the start of the fetch that is running: outside one there is no limit
    // (a start left from an earlier fetch must not end this one).
    const bool limited = (FMaxRows > 0 && FRowNum >= FMaxRows) ||
                         (FMaxTicks > 0 && FFetchingDepth > 0 && GetTickCount64() - FFetchStart >= FMaxTicks);
    if (!limited && FCursorOpen && da && da->sqld > 0) {
      TIB_Session& s = Session();
      status = s.Call(s.Cursor.isc_dsql_fetch, &FStmtHandle, FFetchDialect, da);
      if (status != 0 && status != kEndOfCursor) [[unlikely]] {
        FetchFailed();
        return;
      }
    }
    if (status == kEndOfCursor) [[unlikely]] {
      FetchEnded();
      return;
    }
    ++FRowNum;
    // The client writes no indicator for a NOT NULL column: one left at null by a cleared row (the end
    // of an earlier cursor, a cancelled insert) would make every row fetched from then on null there.
    // Indicators may sit at odd offsets of the row: written bytewise.
    static constexpr ISC_SHORT kNotNull = 0;
    for (ISC_SHORT* ind : FNotNullInds) std::memcpy(ind, &kNotNull, sizeof kNotNull);
    // A row with nothing to clear, prune or calculate: its copy marked due, then the notice unless quiet.
    if (deferOld && FFields->ResetDeferringOldCopy()) {
      if (!quiet) FFields->NotifyDataChange(nullptr);
    } else {
      FFields->ResetRow(false, true, true, quiet);
    }
    if (FKeyCopyValid && !FRowsShared && FKeyCopy.size() == 1) {
      // FillKeyRow for a key of one column (or the row number), without the call.
      if (FKeyFields->GetRowState() != rsUnmodified) FKeyFields->SetRowState(rsUnmodified);
      const auto& [from, key] = FKeyCopy[0];
      CopyKeyValue(from ? from->GetPSQLVAR() : nullptr, *key->GetPSQLVAR(), FRowNum);
    } else {
      FillKeyRow();
    }
    // (The short road is taken by a class that keeps this step as it is here.)
    if (FAbort || (quiet ? TIB_Dataset::DoAfterFetchRow() : DoAfterFetchRow())) {
      if (FFetching) DoCallback();
      return;
    }
    // A row the dataset refused: it does not count.
    --FRowNum;
    if (FFetching) DoCallback();
  }
}

void TIB_Dataset::FetchFailed() {
  TIB_Session& s = Session();
  FEof = true;
  FCursorOpen = false;
  if (TIB_Transaction* t = RegisteredTransaction()) t->AdjustOpenCursorCount(-1);
  FCloseFailed = TIB_SessionBase::CallScratch(s.Cursor.isc_dsql_free_statement, &FStmtHandle,
                                              static_cast<unsigned short>(DSQL_close)) != 0;
  // The row the fetch was writing is no row of the result: the fields row holds none once the error
  // is built (notices of the cleared row must not run client calls before that). The error is the
  // news: a notice's failure is reported.
  const TIB_AliveFlag alive = FAlive;
  std::exception_ptr error;
  try {
    s.HandleISCError(this);
  } catch (...) {
    error = std::current_exception();
  }
  if (alive.Get()) RunReported([this] {
      ShowNoRow();
      SysFetchFailed();
    });
  if (error) std::rethrow_exception(error);
}

void TIB_Dataset::ShowNoRow() {
  FFields->ClearRow(rsNone);
  if (FKeyFields->GetColumnCount() > 0) FKeyFields->SetRowState(rsNone);
}

void TIB_Dataset::FetchEnded() {
  FEof = true;
  API_CloseCursor();
  if (TIB_Transaction* t = GetIB_Transaction()) t->CheckOAT();
  FFields->ClearRow(rsNone);
  if (FKeyFields->GetColumnCount() > 0) FKeyFields->SetRowState(rsNone);
  DoAfterFetchEof();
  if (FFetching) DoCallback();
}

bool TIB_Dataset::DoAfterFetchRow() {
  FireEvent(AfterFetchRow);
  // The notice reaches statement links only: without any it goes nowhere.
  if (FDeferCount > 0 && Get_StatementLinkCount() > 0 && GetIsUnidirectional()) TIB_Statement::DoLinkEvent22(nullptr);
  return true;
}

void TIB_Dataset::DoAfterFetchEof() { FireEvent(AfterFetchEof); }

int32_t TIB_Dataset::FetchRows(int32_t n) {
  if (n < 0) IB_Raise<EIB_StatementError>(IBMsg::CursorIsUnidirectional);
  if (n == 0) {
    FFields->NotifyDataChange(nullptr);
    return 0;
  }
  if (!FActive && !SysOpen()) return 0;
  if (FEof) return 0;
  if (n == 1) {
    FetchRow();
    return 1;
  }
  const TIB_AliveRestorer<int32_t> multi(FAlive, FMultiRowCount, FMultiRowCount + 1);
  TDatasetOperation op(this);
  op.Fetching();
  op.Defer();
  const uint32_t gen = FCursorGen;
  int32_t count = 0;
  op.Run([&] {
    while (count < n && FActive && !FEof && !FAbort && FCursorGen == gen) {
      FetchRow();
      ++count;
    }
  });
  op.End();
  return count;
}

bool TIB_Dataset::FetchLoop(uint32_t Limit) {
  if (!GetCanScroll() && GetIsUnidirectional()) return false;
  if (GetIsUnidirectional() && GetIsModifying()) CheckBrowseMode();
  const uint32_t gen = FCursorGen;
  if (Limit > 0) {
    const uint64_t start = GetTickCount64();
    while (FActive && !FEof && !FAbort && FCursorGen == gen) {
      if (GetTickCount64() - start >= Limit) break;
      FetchRow();
    }
    return FAbort;
  }
  TDatasetOperation op(this);
  op.Fetching();
  op.Run([&] {
    while (FActive && !FEof && !FAbort && FCursorGen == gen) FetchRow();
  });
  // Closed under the loop (not overtaken by a reopen): the fetch counts as aborted.
  if (!FEof && !FAbort && FCursorGen == gen) FAbort = true;
  const bool aborted = FAbort;  // the end of the fetch clears the flag
  op.End();
  return aborted;
}

void TIB_Dataset::BeginFetching() {
  if (FFetchingDepth == 0) FFetchStart = GetTickCount64();
  ++FFetchingDepth;
  if (FFetching) return;
  FFetching = true;
  FAbort = false;
  FLastCallback = FFetchStart;
  const bool callbacks = FCallbackInc >= 0 && FCallbackFreeze == 0;
  BeginBusy(callbacks);
  FFetchBusy = true;
  if (!callbacks) return;
  const TIB_AliveFlag alive = FAlive;
  try {
    DoCallbackEvent(cbsStart);
  } catch (...) {
    // The bracket ends in full (its busy end, its end callback); its own failure is reported.
    if (alive.Get()) RunReported([this] { EndFetching(); });
    throw;
  }
}

void TIB_Dataset::EndFetching() {
  if (FFetchingDepth > 0) --FFetchingDepth;
  if (FFetchingDepth > 0 || !FFetching) return;
  FFetching = false;
  const bool aborted = std::exchange(FAbort, false);
  const bool busy = std::exchange(FFetchBusy, false);
  const bool callbacks = FCallbackInc >= 0 && FCallbackFreeze == 0;
  if (!busy && !callbacks && !aborted) return;
  const TIB_AliveFlag alive = FAlive;
  std::exception_ptr failure;
  const auto step = [&](auto&& Body) {
    if (!alive.Get()) return;
    try {
      Body();
    } catch (...) {
      if (!failure) {
        failure = std::current_exception();
      } else {
        ReportException(std::current_exception());
      }
    }
  };
  if (busy) step([this] { EndBusy(); });
  if (callbacks) step([this, aborted] { DoCallbackEvent(cbsEnd, aborted); });
  if (aborted) step([this] { StateChanged(); });
  if (failure) std::rethrow_exception(failure);
}

void TIB_Dataset::EndFetchingQuietly() noexcept {
  if (FFetchingDepth > 0) --FFetchingDepth;
  if (FFetchingDepth > 0 || !FFetching) return;
  FFetching = false;
  FAbort = false;
  if (FFetchBusy) {
    FFetchBusy = false;
    EndBusyQuietly();
  }
}

void TIB_Dataset::AbortFetching() noexcept {
  if (!FFetching) return;
  FAbort = true;
  // From an OnCallback handler (or code it runs): its Abort shows it at once.
  if (FCallbackAbort) *FCallbackAbort = true;
}

void TIB_Dataset::DoCallback() {
  if (!FFetching || FCallbackInc < 0 || FCallbackFreeze > 0) return;
  if (FCallbackInc == 0) {
    ProcessCallbackMessages();
    return;
  }
  if (FRowNum % FCallbackInc != 0) return;
  const uint64_t now = GetTickCount64();
  if (now - FFetchStart > FCallbackInitInt && now - FLastCallback >= FCallbackRefreshInt) {
    FLastCallback = now;
    DoCallbackEvent(cbsProgress);
  }
  ProcessCallbackMessages();
}

void TIB_Dataset::ProcessCallbackMessages() {
  if (FAbort || FCallbackFreeze > 0 || !Application) return;
  const TIB_AliveFlag alive = FAlive;
  Application->ProcessMessages();
  CheckAlive(alive);
}

void TIB_Dataset::DoCallbackEvent(TIB_CallbackStatus Status, bool Aborted) {
  if (!OnCallback || !CanFireEvents()) {
    DefaultCallback(Status);
    return;
  }
  // The handler and its Abort answer live outside the dataset: the handler may destroy it and still set
  // Abort. Abort starts as the dataset's abort flag; while the handler runs it counts as that flag (Abort
  // set, Close is allowed there; AbortFetching shows in it), and what the handler made of it becomes the
  // flag while the fetch runs. (Once the fetch has ended there is nothing to abort.)
  const TIB_CallbackEvent handler = OnCallback;
  const TIB_AliveFlag alive = FAlive;
  const bool before = FFetching ? FAbort : Aborted;
  bool abort = before;
  {
    const TIB_AliveRestorer<bool*> answer(FAlive, FCallbackAbort, &abort);
    handler(this, Status, FRowNum, abort);
  }
  CheckAlive(alive);
  if (abort != before && FFetching) FAbort = abort;
}

void TIB_Dataset::DefaultCallback(TIB_CallbackStatus Status) {
  if (Status == cbsProgress) {
    TCancelQueryInfo info;
    info.Caption = FCallbackCaption.empty() && Application ? Application->GetTitle() : FCallbackCaption;
    info.RowNum = FRowNum;
    info.AbortFetching = [this, alive = FAlive] {
      if (alive.Get()) AbortFetching();
    };
    const TIB_AliveFlag alive = FAlive;
    FCancelDialogShown = true;
    Dialogs().CancelQueryShow(info);
    CheckAlive(alive);
  } else if (Status == cbsEnd && FCancelDialogShown) {
    FCancelDialogShown = false;
    Dialogs().CancelQueryHide();
  }
}

// ---------------------------------------------------------------------------------------------------------
// Scrolling

bool TIB_Dataset::SysGetCanScroll() {
  if (!FActive && GetBufferCount() == 0 && FState != dssSearch) return false;
  if (!FKeySource || FKeySyncCount > 0) return true;
  // A lookup moves only when its move may be written into the key source's row.
  auto* source = dynamic_cast<TIB_DataSource*>(FKeySource);
  if (!source) return true;
  return source->GetState() == dssSearch || source->GetCanModify();
}

bool TIB_Dataset::GetCanScroll() {
  if (FRefreshDepth > 0) return true;
  bool can = SysGetCanScroll();
  if (can && OnGetCanScroll && CanFireEvents()) CallOutWatching(OnGetCanScroll, this, can);
  return can;
}

void TIB_Dataset::DoBeforeScroll() { FireEvent(BeforeScroll); }
void TIB_Dataset::DoAfterScroll() { FireEvent(AfterScroll); }

void TIB_Dataset::SysBeginScroll() {
  if (!FPrepared) return;
  // The links hear first that the row is left: a detail posts its change under the row it was made under.
  // (A row being changed is posted below, which tells them.)
  if (HasStatementLinks() && !FRowLeaveNoticed && !GetIsModifying()) [[unlikely]]
    NoticeRowLeave();
  DoBeforeScroll();
  // An open dataset scrolls unless a handler says otherwise.
  if (FActive && (OnGetCanScroll || !SysGetCanScroll()) && !GetCanScroll()) {
    IB_Raise<EIB_DatasetError>(IBMsg::DatasetCannotScroll);
  }
  if (GetIsModifying()) {
    if (FActive) {
      CheckBrowseMode();
    } else {
      SysPost(true, false);
    }
  }
  // An open lookup's move changes its key source's row: the key source may refuse it, which ends the
  // move without a message. (A closed lookup being opened is not asked: the link refuses it always.)
  if (FActive && FKeySyncCount == 0 && FRefreshDepth == 0 && !HasState(csDestroying) && FKeyDataLink &&
      FKeyDataLink->GetPrepared() && !FKeyDataLink->Perform(dlnModify)) {
    throw EAbort();
  }
}

void TIB_Dataset::SysEndScroll() {
  // A row lock lasts until the next scroll ends (the transaction's count of locked rows goes with it).
  if (FRowLockHeld) [[unlikely]]
    ReleaseRowLock();
  // A scrollable dataset holds its scroll's end back while events are deferred or it refreshes.
  if ((FDeferCount > 0 || FRefreshDepth > 0) && !GetIsUnidirectional()) {
    if (FDeferCount > 0) FAfterScrollPending = true;
    return;
  }
  if (!ScrollEndHasWork()) return;
  if (GetKeyDataLink()) SyncKeySourceCriteria();
  const bool hasRecord = FFields->GetRowState() != rsNone;
  if (hasRecord != FLastHadRecord && !FFetching) {
    StateChanged();
    FLastHadRecord = hasRecord;
    if (GetIsUnidirectional()) {
      ProcessLinkEvent(sleScrolled);
      ProcessLinkEvent(sleDataChange);
    }
  }
  if (FKeySource) SyncKeySource();
  DoAfterScroll();
}

int32_t TIB_Dataset::SysMoveBy(int32_t n) {
  SysBeginScroll();
  int32_t r;
  if (n == 1 && FActive && !FEof) {
    // One row on: FetchRows would fetch it straight.
    FetchRow();
    r = 1;
  } else {
    r = FetchRows(n);
  }
  if (r >= 1) SysEndScroll();
  return r;
}

void TIB_Dataset::SysFirst() {
  SysBeginScroll();
  if (FActive) TIB_Dataset::SysClose();
  SysOpen();
  if (FRowNum == 0 && !FEof) FetchRow();
  SysEndScroll();
}

void TIB_Dataset::SysLast() {
  SysBeginScroll();
  SysOpen();
  FetchLoop(0);
  SysEndScroll();
}

void TIB_Dataset::SysInvalidateRows() {
  if (FRefreshDepth > 0) return;
  if (!GetIsModifying()) SysMoveBy(0);
  ProcessLinkEvent(sleRowNumChanged, -1);
}

void TIB_Dataset::SysRowNumChanged(int32_t n) {
  if (n == FRowNum && !GetIsModifying()) SysMoveBy(0);
  ProcessLinkEvent(sleRowNumChanged, n);
}

// ---------------------------------------------------------------------------------------------------------
// Navigation

int32_t TIB_Dataset::MoveBy(int32_t n) {
  TDatasetOperation step(this);
  step.Busy(false);
  step.Defer();
  // An open dataset in browse state with no statement links gives the browse check nothing to post,
  // update or tell anyone: it is skipped.
  if (!FPrepared) {
    SetPrepared(true);
  } else if (!(FActive && FState == dssBrowse && !HasStatementLinks())) {
    // A post may shift the rows: the move still counts from the row that was current before it.
    const int32_t before = FRowNum;
    CheckBrowseMode();
    n = ClampedSum(n, static_cast<int64_t>(before) - FRowNum);
    // The browse check told the links that the row is left: the scroll does not tell them again.
    int32_t moved;
    {
      const TIB_AliveRestorer<bool> noticed(FAlive, FRowLeaveNoticed, true);
      const int32_t start = FRowNum;
      SysMoveBy(n);
      moved = FRowNum - start;
    }
    return step.Ended(moved);
  }
  // The rows actually moved: the fetch that finds the end of the cursor moves nowhere.
  const int32_t start = FRowNum;
  SysMoveBy(n);
  const int32_t moved = FRowNum - start;
  step.End();
  return moved;
}

void TIB_Dataset::First() {
  TDatasetOperation op(this);
  op.Busy(false);
  op.Defer();
  if (!FActive) {
    SetPrepared(true);
    SysFirst();
    return op.End();
  }
  CheckBrowseMode();
  {
    const TIB_AliveRestorer<bool> noticed(FAlive, FRowLeaveNoticed, true);
    SysFirst();
  }
  op.End();
}

void TIB_Dataset::Next() {
  if (CanStepQuickly()) {
    StepQuickly();
    return;
  }
  if (GetEof()) IB_Raise<EIB_DatasetError>(IBMsg::AtEndOfDataset);
  MoveBy(1);
}

bool TIB_Dataset::CanStepQuickly() {
  // Whether the dataset's class changes none of the steps below is settled once: its type does not change.
  if (FQuickStepClass != 1) [[unlikely]] {
    if (FQuickStepClass == 0) return false;
    FQuickStepClass = GetStepsQuickly() ? 1 : 0;
    if (FQuickStepClass == 0) return false;
  }
  // What the scroll's start could refuse or tell, and what the browse check could post. (A forward-only
  // cursor neither defers nor holds back its scroll's end while events are deferred or it refreshes.)
  return FActive && !FEof && FPrepared && FState == dssBrowse && !FKeySource &&
         !FKeyDataLink && !HasStatementLinks() && !BeforeScroll && !OnGetCanScroll;
}

void TIB_Dataset::StepQuickly() {
  // MoveBy(1) of a forward-only cursor nobody watches: the browse check has nothing to post, the scroll
  // may start (no handler, no key source), and the scroll's end runs only when it has something to do:
  // the row coming or going, a row lock to release, a handler, a key link. The brackets are those of
  // any move.
  TDatasetOperation step(this);
  step.Busy(false);
  step.Defer();
  FQuietFetch = true;
  FetchRow();  // (a handler that destroys the dataset ends it with the silent abort)
  assert(FQuickStepClass == 1);
  if (ScrollEndHasWork()) SysEndScroll();
  step.End();
}

void TIB_Dataset::Prior() {
  if (GetBof()) IB_Raise<EIB_DatasetError>(IBMsg::AtBeginningOfDataset);
  MoveBy(-1);
}

void TIB_Dataset::Last() {
  if (FEof && GetIsUnidirectional()) IB_Raise<EIB_DatasetError>(IBMsg::AtEndOfDataset_65171);
  TDatasetOperation op(this);
  op.Busy(false);
  op.Defer();
  if (!FActive) {
    SetPrepared(true);
    SysLast();
    return op.End();
  }
  CheckBrowseMode();
  {
    const TIB_AliveRestorer<bool> noticed(FAlive, FRowLeaveNoticed, true);
    SysLast();
  }
  op.End();
}

void TIB_Dataset::FetchNext() {
  if (!FActive && !SysOpen()) return;
  if (FEof) IB_Raise<EIB_DatasetError>(IBMsg::AtEndOfDataset);
  TDatasetOperation op(this);
  op.Busy(false);
  SysBeginScroll();
  FetchRow();
  SysEndScroll();
  op.End();
}

void TIB_Dataset::FetchAll() {
  TDatasetOperation op(this);
  op.Busy(true);
  SysOpen();
  SysFetchAll();
  op.End();
}
