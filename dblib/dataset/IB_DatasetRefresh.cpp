// TIB_Dataset: refreshing (reopening at the same place where the dataset can find it again) and the
// record count (a count statement built from the query, cached until the cursor is reopened).
#include <algorithm>
#include <cstddef>
#include <vector>

#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Transaction.h"
#include "dblib/dataset/IB_Dataset.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

// ---------------------------------------------------------------------------------------------------------
// Refresh

bool TIB_Dataset::RefreshAll() {
  if (FActive) {
    TDatasetOperation op(this);
    op.Busy(true);
    return op.Ended(SysRefresh(true, true));
  }
  return RefreshRows();
}

bool TIB_Dataset::RefreshKeys() { return FActive && SysRefresh(false, true); }

bool TIB_Dataset::RefreshRows() { return GetIsActiveOrBuffered() && SysRefresh(true, false); }

bool TIB_Dataset::SysRefresh(bool KeepRows, bool Reopen) {
  if (KeepRows && !Reopen) {
    SysInvalidateRows();
    return true;
  }
  if (!GetIsActiveOrBuffered()) return false;
  if (TIB_Transaction* t = GetIB_Transaction()) {
    const TIB_TransactionState ts = t->GetTransactionState();
    // The transaction ends: a dataset that does not keep its rows, or any inside the transaction's
    // Close, closes instead.
    if ((ts == tsCommitting || ts == tsRollingBack) && (FCommitAction == caClose || t->GetClosing())) {
      AbortFetching();
      Close();
      return false;
    }
  }
  if (FRefreshDepth == 0) {
    FRefreshSeq = 0;
    FPositionChanged = false;
  }
  ++FRefreshDepth;
  ++FRefreshSeq;
  BeginDeferEvents();
  const TIB_AliveFlag alive = FAlive;
  // Left by an exception: the depth and the deferral go back, and nothing is sent.
  TIB_AliveExit end(alive, [this] {
    --FRefreshDepth;
    EndDeferEventsQuietly();
  });
  const bool outermost = FRefreshDepth == 1;
  // The links hear once that the row is left: from the scroll's start, else from the close.
  const bool noticed = FRowLeaveNoticed;
  TIB_AliveExit restoreNoticed(alive, [this, noticed] { FRowLeaveNoticed = noticed; });
  if (FFetching) {
    AbortFetching();
  } else {
    SysBeginScroll();
    FRowLeaveNoticed = true;
  }
  TIB_Dataset::SysClose();
  FRowLeaveNoticed = true;
  if (outermost) {
    FRefreshEof = FSavedEof;
    FRefreshRowNum = FSavedRowNum;
    FRefreshBookmark = FSavedBookmark;
    FPositionFound = false;
  }
  if (KeepRows) SysInvalidateRows();
  // No refresh ran inside this one meanwhile.
  auto unchanged = [this] { return FRefreshDepth == FRefreshSeq; };
  const bool scrollable = !GetIsUnidirectional();
  if (FParamsChanged || FMasterUpdateCount > 0) {
    Open();
    if (unchanged()) FPositionFound = FActive && !GetEof() && !GetBof();
    FPositionChanged = false;
  } else if (scrollable && !FRefreshBookmark.empty() &&
             ((FKeySource && FKeySeeking) || FRefreshAction == raKeepDataPos)) {
    SysOpen();
    if (unchanged()) SetBookmark(FRefreshBookmark);
    if (unchanged()) FPositionFound = GetBookmark() == FRefreshBookmark && !GetEof() && !GetBof();
    if (!FPositionFound && !FRefreshEof) SysFirst();
    if (unchanged() && GetBookmark() != FRefreshBookmark) FPositionChanged = true;
  } else if (!FKeySource && FRefreshAction == raKeepRowNum) {
    SysOpen();
    if (unchanged()) SetRowNum(FRefreshRowNum);
    if (unchanged() && scrollable && GetEof() && !FRefreshEof) SysLast();
    FPositionFound = FRowNum == FRefreshRowNum && !GetEof() && !GetBof();
    FPositionChanged = GetBookmark() != FRefreshBookmark;
  } else {
    Open();
    if (unchanged()) FPositionFound = FActive && !GetEof() && !GetBof();
  }
  const bool found = FPositionFound;
  // The handlers the deferred events call move on their own.
  FRowLeaveNoticed = noticed;
  end.Release();
  --FRefreshDepth;
  // The held-back notices' handlers may delete the dataset.
  if (EndDeferEvents()) CheckAlive(alive);
  if (FRefreshDepth == 0 && !FFetching && FPositionChanged) SysEndScroll();
  // A move of the KeySource that came while the cursor was closed by the transaction's end.
  if (FRefreshDepth == 0 && FKeySyncDeferred && FActive) Perform(dnKeySourceSync);
  return found;
}

// ---------------------------------------------------------------------------------------------------------
// Record count

int32_t TIB_Dataset::GetRecordCount() {
  TDatasetOperation op(this);
  op.Busy(false);
  return op.Ended(SysRecordCount());
}

int32_t TIB_Dataset::SysRecordCount() {
  if (!FActive) PrepareCore();
  if (!FPrepared) return -1;
  if (FState == dssSearch) {
    // A detail searched with its master counts the master's rows; otherwise the criteria as they are
    // now are counted, never a count cached for earlier ones.
    TIB_Dataset* m = GetMasterDataset();
    if (FMasterSearch && m && m->FState == dssSearch) return m->SysRecordCount();
    FRecordCountValid = false;
  }
  if (!FRecordCountValid) {
    FRecordCount = DoGetRecordCount();
    // Under read committed another transaction's commit changes the count at any time.
    TIB_Transaction* t = GetIB_Transaction();
    FRecordCountValid = !(t && t->GetIsolation() == tiCommitted);
  }
  return FRecordCount;
}

int32_t TIB_Dataset::DoGetRecordCount() {
  if (!FPrepared) return -1;
  SysCheckTransaction(true);
  DoBeforeExecute();
  // The criteria become conditions of the counted query, without opening it.
  if (FState == dssSearch) SysPostSearch(false);
  if (OnGetRecordCount && CanFireEvents()) {
    int32_t count = 0;
    CallOutWatching(OnGetRecordCount, this, count);
    return count;
  }
  std::string sql;
  std::vector<int32_t> marks;
  MakeRecordCountSQL(FPreparedSQL, sql, &marks);
  std::vector<std::byte> buffer(XSQLDA_LENGTH(1));
  auto* out = reinterpret_cast<XSQLDA*>(buffer.data());
  out->version = SQLDA_VERSION1;
  out->sqln = 1;
  out->sqld = 1;
  int32_t count = 0;
  short ind = 0;
  XSQLVAR& v = out->sqlvar[0];
  v.sqltype = SQL_LONG;
  v.sqlscale = 0;
  v.sqllen = sizeof count;
  v.sqldata = reinterpret_cast<char*>(&count);
  v.sqlind = &ind;
  XSQLDA* in = FParamsDescribed > 0 ? FParams->GetPSQLDA() : nullptr;
  if (in) FParams->PostBlobNodes();
  // The count binds the values of the markers it kept, in their order (those of the clauses it left out,
  // an ORDER BY, have no place in it).
  std::vector<std::byte> kept;
  if (in) {
    bool same = static_cast<int32_t>(marks.size()) == in->sqld;
    for (size_t i = 0; same && i < marks.size(); ++i) same = marks[i] == static_cast<int32_t>(i);
    const bool known = std::all_of(marks.begin(), marks.end(), [&](int32_t m) { return m >= 0 && m < in->sqld; });
    if (!same && known) {
      if (marks.empty()) {
        in = nullptr;
      } else {
        kept.resize(XSQLDA_LENGTH(marks.size()));
        auto* da = reinterpret_cast<XSQLDA*>(kept.data());
        da->version = SQLDA_VERSION1;
        da->sqln = da->sqld = static_cast<ISC_SHORT>(marks.size());
        for (size_t i = 0; i < marks.size(); ++i) da->sqlvar[i] = in->sqlvar[marks[i]];
        in = da;
      }
    }
  }
  SysExecuteImmediate(sql, in, out);
  return ind == 0 ? count : 0;
}
