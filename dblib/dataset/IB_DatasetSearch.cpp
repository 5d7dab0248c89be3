// TIB_Dataset: search mode (criteria typed into the controls become conditions of the query), the
// search actions that run down master-detail chains, master parameters from the master's row, and the
// pessimistic row lock taken before an edit.
#include <algorithm>
#include <memory>

#include "dblib/IB_Constants.h"
#include "dblib/IB_DSQL.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_DataLink.h"
#include "dblib/dataset/IB_DataSource.h"
#include "dblib/dataset/IB_Dataset.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"
#include "platform/SysUtils.h"

// ---------------------------------------------------------------------------------------------------------
// Data sources and master datasets

void TIB_Dataset::MoveDataSourceToFront(TIB_DatasetSourceIntf* ASource) {
  auto it = std::find(FDataSources.begin(), FDataSources.end(), ASource);
  if (it != FDataSources.end()) std::rotate(FDataSources.begin(), it, it + 1);
}

void TIB_Dataset::LinkKeySource() {
  auto* source = dynamic_cast<TIB_DataSource*>(FKeySource);
  if (!source && !FKeyDataLink) return;
  if (!FKeyDataLink) FKeyDataLink = new TIB_KeyDataLink(this, this);
  FKeyDataLink->SetDataSource(source);
}

void TIB_Dataset::LinkMasterSource() {
  auto* source = dynamic_cast<TIB_DataSource*>(FMasterSource);
  if (!source && !FMasterDataLink) return;
  if (!FMasterDataLink) FMasterDataLink = new TIB_MasterDataLink(this, this);
  FMasterDataLink->SetDataSource(source);
}

void TIB_Dataset::FollowMasterRow() {
  if (!FPrepared || FState == dssSearch || HasState(csDestroying)) return;
  if (GetIsModifying()) CheckBrowseMode();
  // The execute copies the master's values into the master parameters.
  if (FActive) {
    const TIB_AliveFlag alive = FAlive;
    try {
      SysClose();
      Open();
    } catch (...) {
      // The rows of the former master row are gone whatever failed (a lost connection at the close or
      // the execute): the detail shows no row, and the error reaches the caller.
      if (alive.Get()) RunReported([this] { ShowNoRow(); });
      throw;
    }
  } else {
    ApplyMasterParams();
  }
}

void TIB_Dataset::SyncKeySourceCriteria() {
  // A lookup whose key source searches hands its row over as the key source's criteria.
  if (TIB_KeyDataLink* k = TIB_KeyDataLink::ForDataset(this)) {
    if (TIB_Dataset* source = k->GetDataset(); source && source->IsSearchChain()) k->SyncCriteria();
  }
}

// ---------------------------------------------------------------------------------------------------------
// Search mode

void TIB_Dataset::EnterSearchMode() {
  if (FPreventSearching) IB_Raise<EIB_DatasetError>(IBMsg::SearchingIsNotAllowed);
  TDatasetOperation op(this);
  op.Busy(false);
  if (FFetching) AbortFetching();
  SysEnterSearch();
  op.End();
}

void TIB_Dataset::SysEnterSearch() {
  if (FState == dssSearch) return;
  SysCheckTransaction(false);
  {
    TDatasetOperation defer(this);
    defer.Defer();
    SysClose();
    PrepareCore();
    Perform(dnBeforeSearch);
    SetState(dssSearch);
    TIB_Dataset* m = GetMasterDataset();
    if (FMasterSearch && m && m->GetState() != dssSearch && (FMasterSearchFlags & (1u << msfSearchMasterOnSearch))) {
      m->SysEnterSearch();
    }
    CascadeSearch(6);
    defer.End();
  }
  Perform(dnAfterSearch);
}

void TIB_Dataset::PostSearch(bool Open) {
  if (FState != dssSearch) return;
  TDatasetOperation op(this);
  op.Busy(false);
  SysPostSearch(Open);
  op.End();
}

void TIB_Dataset::SysPostSearch(bool Open) {
  if (FSearchPostCount > 0) return;
  TIB_AliveCount<int32_t> posting(FAlive, FSearchPostCount);
  ProcessLinkEvent(sleUpdateData);
  const std::string before = GetSQLWhere(FServerSQL);
  bool remembered = false;
  // The criteria that changed the WHERE clause are remembered as the last executed search, and so are
  // the criteria the query is opened with (a count may have put them into the WHERE clause before).
  auto rememberExecuted = [&](bool Executing) {
    if (!remembered && FPrepared && GetIsSelectSQL() && (Executing || GetSQLWhere(FServerSQL) != before)) {
      remembered = true;
      ProcessLinkEvent(sleSearchAction, saSaveLast);
    }
  };
  TIB_Transaction* t = GetIB_Transaction();
  if (t && t->GetStarted()) PrepareCore();
  // (An open being set up runs the criteria.)
  rememberExecuted(FOpening);
  if (!Open) return;
  // An insert or an open being set up takes the criteria as conditions and goes on from there.
  if (FOpening || FInserting) {
    SetState(dssPrepared);
  } else {
    TDatasetOperation defer(this);
    defer.Defer();
    // The criteria are final: the query is prepared with them and opened.
    PrepareCore();
    rememberExecuted(true);
    TIB_Dataset::Open();
    if (!GetIsUnidirectional()) SysFetchRowRange(1, 1);
    if (!GetMasterDataset() && GetBufferAtEnd() && GetBufferCount() == 0) {
      SysClose();
      SetState(dssSearch);
      IB_Raise<EIB_DatasetError>(IBMsg::NoRecordsFound);
    }
    defer.End();
  }
  CascadeSearch(6);
}

void TIB_Dataset::CancelSearch() {
  if (FState != dssSearch) return;
  ClearSearch();
  TIB_Transaction* t = GetIB_Transaction();
  if (t && t->GetStarted()) {
    InvalidateSQL();
    PrepareCore();
  }
  // The search is given up: the dataset does not come back to it.
  FReturnToSearch = false;
  SetState(dssPrepared);
}

void TIB_Dataset::SaveSearch() {
  ProcessLinkEvent(sleSearchAction, saSave);
  CascadeSearch(0);
}

void TIB_Dataset::ClearSearch() {
  FSearchText.clear();
  ProcessLinkEvent(sleSearchAction, saClear);
  CascadeSearch(1);
}

void TIB_Dataset::RecallSearch() {
  ProcessLinkEvent(sleSearchAction, saRecall);
  CascadeSearch(2);
}

void TIB_Dataset::RecallLastSearch() {
  ProcessLinkEvent(sleSearchAction, saRecallLast);
  CascadeSearch(3);
}

void TIB_Dataset::WriteSearchToList(TStrings* List) {
  if (!List) return;
  auto update = MakeBracket(*List, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  TIB_Dataset* m = GetMasterDataset();
  if (!m || !m->GetSearchTransferList()) List->Clear();
  TValueRestorer<TStrings*> transfer(FSearchTransfer, List);
  ProcessLinkEvent(sleSearchAction, saWriteToList);
  CascadeSearch(4);
  update.End();
}

void TIB_Dataset::ReadSearchFromList(TStrings* List) {
  if (!List) return;
  TValueRestorer<TStrings*> transfer(FSearchTransfer, List);
  ProcessLinkEvent(sleSearchAction, saReadFromList);
  CascadeSearch(5);
}

bool TIB_Dataset::IsSearchChain() {
  // Every dataset of the chain is visited once: a cycle that slipped in elsewhere ends the walk.
  std::vector<TIB_Dataset*> visited;
  for (TIB_Dataset* d = this; d; d = d->GetMasterDataset()) {
    if (std::find(visited.begin(), visited.end(), d) != visited.end()) return false;
    visited.push_back(d);
    if (d->FState != dssSearch || d->FSearchPostCount > 0) return false;
    if (!d->FMasterSearch) return true;
  }
  return true;
}

void TIB_Dataset::CascadeSearch(int32_t Action) {
  // The details are the datasets whose master link hangs on one of this dataset's data sources.
  std::vector<TIB_Dataset*> details;
  for (TIB_DatasetSourceIntf* i : FDataSources) {
    auto* s = dynamic_cast<TIB_DataSource*>(i);
    for (int32_t k = 0; s && k < s->Get_DataLinkCount(); ++k) {
      if (auto* l = dynamic_cast<TIB_MasterDataLink*>(s->GetDataLink(k))) details.push_back(l->GetOwningDataset());
    }
  }
  for (TIB_Dataset* d : details) {
    // A detail that a handler moved elsewhere meanwhile no longer follows this dataset.
    if (d->GetMasterDataset() != this) continue;
    if (!d->FMasterSearch) continue;
    switch (Action) {
      case 0: d->SaveSearch(); break;
      case 1: d->ClearSearch(); break;
      case 2: d->RecallSearch(); break;
      case 3: d->RecallLastSearch(); break;
      case 4: d->WriteSearchToList(FSearchTransfer); break;
      case 5: d->ReadSearchFromList(FSearchTransfer); break;
      case 6: d->FollowMasterSearch(); break;
      default: break;
    }
  }
}

void TIB_Dataset::FollowMasterSearch() {
  TIB_Dataset* m = GetMasterDataset();
  if (FMasterSearch && m && m->GetState() == dssSearch) {
    if (FState != dssSearch) {
      FWasActiveBeforeMasterSearch = FActive;
      if (!FPreventSearching) SysEnterSearch();
    }
    return;
  }
  if (FState == dssSearch) SysPostSearch(true);
  if (FWasActiveBeforeMasterSearch && m && m->GetActive() && !m->GetEof() && !m->GetBof()) {
    Open();
    FWasActiveBeforeMasterSearch = false;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Row locks

void TIB_Dataset::ForgetLinkCriteria() {
  const std::vector<TIB_DatasetSourceIntf*> sources = FDataSources;
  for (TIB_DatasetSourceIntf* i : sources) {
    auto* s = dynamic_cast<TIB_DataSource*>(i);
    if (!s || std::find(FDataSources.begin(), FDataSources.end(), i) == FDataSources.end()) continue;
    for (int32_t k = 0; k < s->Get_DataLinkCount(); ++k) s->GetDataLink(k)->ForgetCriteria();
  }
}

void TIB_Dataset::ReleaseRowLock() noexcept {
  if (!FRowLockHeld) return;
  FRowLockHeld = false;
  TIB_Transaction* t = std::exchange(FRowLockTransaction, nullptr);
  if (t && t == GetIB_Transaction()) {
    t->AdjustLockedRowCount(-1);
    RunReported([t] { t->CheckOAT(); });
  }
}

void TIB_Dataset::SysTransactionNotice(uint8_t AEvent) {
  if (AEvent == tleAfterCommitRetaining || AEvent == tleAfterRollbackRetaining || AEvent == tleAfterEnd) {
    ReleaseRowLock();
  }
}
