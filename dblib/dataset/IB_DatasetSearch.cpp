// TIB_Dataset: search mode (criteria typed into the controls become conditions of the query), the
// search actions that run down master-detail chains, master parameters from the master's row, and the
// pessimistic row lock taken before an edit.
#include <algorithm>
#include <memory>

#include "dblib/IB_Constants.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Parse.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_DataLink.h"
#include "dblib/dataset/IB_DataSource.h"
#include "dblib/dataset/IB_Dataset.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"
#include "platform/SysUtils.h"

namespace {

// Firebird's answers to a write on a row another transaction holds: deadlock, lock conflict on a
// no-wait transaction, update conflict with a concurrent update.
bool IsLockConflict(const EIB_ISCError& E) {
  constexpr int32_t codes[] = {335544336, 335544345, 335544451};
  if (std::find(std::begin(codes), std::end(codes), E.ERRCODE) != std::end(codes)) return true;
  const TStringList& list = E.ErrorCodes();
  for (int i = 0; i < list.Count(); ++i) {
    const std::string item = Trim(list[i]);
    for (int32_t c : codes) {
      if (item == std::to_string(c)) return true;
    }
  }
  return false;
}

bool IsSelectText(const std::string& SQL) {
  const std::string t = UpperCase(TrimLeft(SQL));
  return t.rfind("SELECT", 0) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Data sources and master datasets

void TIB_Dataset::MoveDataSourceToFront(TIB_DatasetSourceIntf* ASource) {
  auto it = std::find(FDataSources.begin(), FDataSources.end(), ASource);
  if (it != FDataSources.end()) std::rotate(FDataSources.begin(), it, it + 1);
}

TIB_Dataset* TIB_Dataset::GetMasterDataset() const {
  TIB_DataSource* s = TIB_MasterDataLink::MasterSourceOf(this);
  return s ? s->GetDataset() : nullptr;
}

void TIB_Dataset::ApplyMasterParamLinks() {
  TIB_Dataset* m = GetMasterDataset();
  if (!FPrepared || !m || !m->GetPrepared() || FMasterParamLinks.Count() == 0) return;
  FParams->BeginUpdate();
  {
    // A failed copy closes the bracket without the change notices of a half-copied set.
    TScopeExit closeOnFailure([this]() noexcept { FParams->EndUpdateSilently(); });
    for (int i = 0; i < FMasterParamLinks.Count(); ++i) {
      TIB_Column* p = FindParam(FMasterParamLinks.GetLinkName(i));
      TIB_Column* c = m->FindField(FMasterParamLinks.GetLinkValue(i));
      if (!p || !c) continue;
      if (c->GetIsNull() || m->GetFields()->GetRowState() == rsNone) {
        p->Clear();
      } else {
        p->Assign(c);
      }
    }
    closeOnFailure.Release();
  }
  FParams->EndUpdate(true);
  if (FState == dssSearch) ProcessLinkEvent(sleDataChange);
}

void TIB_Dataset::FollowMasterRow() {
  if (!FPrepared || FState == dssSearch) return;
  if (GetIsModifying()) CheckBrowseMode();
  ApplyMasterParamLinks();
  if (FActive) {
    SysClose();
    Open();
  }
}

void TIB_Dataset::SyncKeySourceCriteria() {
  // A lookup whose key source searches hands its row over as the key source's criteria.
  if (TIB_KeyDataLink* k = TIB_KeyDataLink::ForDataset(this)) {
    if (TIB_Dataset* source = k->GetDataset(); source && source->IsSearchChain()) k->SyncCriteria();
  }
}

// ---------------------------------------------------------------------------------------------------------
// Search conditions

void TIB_Dataset::SetSearchText(const std::string& Value) {
  if (Value == FSearchText) return;
  FSearchText = Value;
  InvalidateSQL();
}

void TIB_Dataset::AddSearchCondition(const std::string& Condition) {
  if (!Trim(Condition).empty()) FSearchConditions.Add(Condition);
}

void TIB_Dataset::DoPrepareSQL() {
  FSearchConditions.Clear();
  TIB_Statement::DoPrepareSQL();
  std::string text = FSQL->GetText();
  if (!IsSelectText(text)) return;
  if (!FSearchText.empty()) {
    std::string condition = FSearchText;
    for (char& ch : condition) {
      if (static_cast<unsigned char>(ch) < 32) ch = ' ';
    }
    FSearchConditions.Add("( " + condition + " )");
  }
  if (FSearchConditions.Count() == 0) return;
  std::string where = GetSQLWhere(text);
  for (int i = 0; i < FSearchConditions.Count(); ++i) AppendWhereCondition(where, FSearchConditions[i]);
  SetSQLWhere(text, where);
  FSQL->SetText(text);
}

// ---------------------------------------------------------------------------------------------------------
// Search mode

void TIB_Dataset::EnterSearchMode() {
  if (FPreventSearching) IB_Raise<EIB_DatasetError>(IBMsg::SearchingIsNotAllowed);
  TIB_BusyBracket busy(this);
  if (FFetching) AbortFetching();
  SysEnterSearch();
}

void TIB_Dataset::SysEnterSearch() {
  if (FState == dssSearch) return;
  SysCheckTransaction(false);
  {
    auto defer = MakeBracket(*this, &TIB_Dataset::BeginDeferEvents, &TIB_Dataset::EndDeferEvents);
    SysClose();
    PrepareCore();
    Perform(dnBeforeSearch);
    SetState(dssSearch);
    TIB_Dataset* m = GetMasterDataset();
    if (FMasterSearch && m && m->GetState() != dssSearch && (FMasterSearchFlags & (1u << msfSearchMasterOnSearch))) {
      m->SysEnterSearch();
    }
    CascadeToDetails(6);
  }
  Perform(dnAfterSearch);
}

void TIB_Dataset::PostSearch(bool Open) {
  if (FState != dssSearch) return;
  TIB_BusyBracket busy(this);
  SysPostSearch(Open);
}

void TIB_Dataset::SysPostSearch(bool Open) {
  if (FSearchPostCount > 0) return;
  TCountGuard<int32_t> posting(FSearchPostCount);
  ProcessLinkEvent(sleUpdateData);
  const std::string before = GetSQLWhere(FServerSQL);
  TIB_Transaction* t = GetIB_Transaction();
  if (t && t->GetStarted()) PrepareCore();
  if (GetIsSelectSQL() && GetSQLWhere(FServerSQL) != before) ProcessLinkEvent(sleSearchAction, 3);
  if (!Open) return;
  if (FOpening) {
    SetState(dssPrepared);
  } else {
    auto defer = MakeBracket(*this, &TIB_Dataset::BeginDeferEvents, &TIB_Dataset::EndDeferEvents);
    // The criteria are final: the query is prepared with them and opened.
    PrepareCore();
    TIB_Dataset::Open();
    if (!GetIsUnidirectional()) SysFetchRowRange(1, 1);
    if (!GetMasterDataset() && GetBufferAtEnd() && GetBufferCount() == 0) {
      SysClose();
      SetState(dssSearch);
      IB_Raise<EIB_DatasetError>(IBMsg::NoRecordsFound);
    }
  }
  CascadeToDetails(6);
}

void TIB_Dataset::CancelSearch() {
  if (FState != dssSearch) return;
  ClearSearch();
  TIB_Transaction* t = GetIB_Transaction();
  if (t && t->GetStarted()) PrepareCore();
  SetState(dssPrepared);
}

void TIB_Dataset::SaveSearch() {
  ProcessLinkEvent(sleSearchAction, 1);
  CascadeToDetails(0);
}

void TIB_Dataset::ClearSearch() {
  FSearchText.clear();
  ProcessLinkEvent(sleSearchAction, 0);
  CascadeToDetails(1);
}

void TIB_Dataset::RecallSearch() {
  ProcessLinkEvent(sleSearchAction, 2);
  CascadeToDetails(2);
}

void TIB_Dataset::RecallLastSearch() {
  ProcessLinkEvent(sleSearchAction, 4);
  CascadeToDetails(3);
}

void TIB_Dataset::WriteSearchToList(TStrings* List) {
  if (!List) return;
  auto update = MakeBracket(*List, &TStrings::BeginUpdate, &TStrings::EndUpdate);
  TIB_Dataset* m = GetMasterDataset();
  if (!m || !m->GetSearchTransferList()) List->Clear();
  TValueRestorer<TStrings*> transfer(FSearchTransfer, List);
  ProcessLinkEvent(sleSearchAction, 5);
  CascadeToDetails(4);
}

void TIB_Dataset::ReadSearchFromList(TStrings* List) {
  if (!List) return;
  TValueRestorer<TStrings*> transfer(FSearchTransfer, List);
  ProcessLinkEvent(sleSearchAction, 6);
  CascadeToDetails(5);
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

void TIB_Dataset::CascadeToDetails(int32_t Action) {
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
    if (Action <= 6 && !d->FMasterSearch) continue;
    switch (Action) {
      case 0: d->SaveSearch(); break;
      case 1: d->ClearSearch(); break;
      case 2: d->RecallSearch(); break;
      case 3: d->RecallLastSearch(); break;
      case 4: d->WriteSearchToList(FSearchTransfer); break;
      case 5: d->ReadSearchFromList(FSearchTransfer); break;
      case 6: d->FollowMasterSearch(); break;
      case 7: d->SysPost(false, false); break;
      case 8:
        if (d->FState == dssInsert) d->SysCancel();
        break;
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
// Edit and insert on request

void TIB_Dataset::Edit() {
  PrepareCore();
  if (FFields->GetRowState() == rsNone && GetCanInsert()) {
    Insert();
  } else if (GetCanEdit()) {
    SysEdit();
  } else {
    IB_Raise<EIB_DatasetError>(IBMsg::CannotEditCurrentRow);
  }
}

void TIB_Dataset::Insert() {
  PrepareCore();
  if (!GetCanInsert()) IB_Raise<EIB_DatasetError>(IBMsg::CannotInsertANewRow);
  SysInsert();
}

void TIB_Dataset::SysEdit() {
  if (!GetCanEdit()) return;
  Perform(dnBeforeEdit);
  SysPost(false, false);
  for (;;) {
    try {
      SysLockRow();
      break;
    } catch (const EIB_Error& e) {
      TIB_DataAction action = daFail;
      if (OnEditError && CanFireEvents()) OnEditError(this, e, action);
      if (action == daRetry) continue;
      if (action == daAbort) throw EAbort();
      throw;
    }
  }
  SetState(dssEdit);
  Perform(dnAfterEdit);
}

void TIB_Dataset::SysInsert() {
  if (!GetCanInsert()) return;
  Perform(dnBeforeInsert);
  SysPost(false, false);
  CascadeToDetails(7);
  SetState(dssInsert);
  Perform(dnAfterInsert);
}

// ---------------------------------------------------------------------------------------------------------
// Row locks

void TIB_Dataset::SysLockRow() {
  if (!FPessimisticLocking || FCachedUpdates) return;
  TIB_Transaction* t = GetIB_Transaction();
  if (t && (t->GetLockWait() || t->GetServerAutoCommit())) {
    IB_Raise<EIB_DatasetError>(IBMsg::CannotUsePessimisticLockingWithLockWait);
  }
  if (FRowLockHeld) return;
  bool locked = false;
  try {
    locked = SysExecLockRow();
  } catch (const EIB_ISCError& e) {
    if (!IsLockConflict(e)) throw;
  }
  if (!locked) IB_Raise<EIB_DatasetError>(IBMsg::RecordIsLockedByAnotherUser);
  FRowLockHeld = true;
  FRowLockTransaction = t;
  if (t) t->AdjustLockedRowCount(1);
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

bool TIB_Dataset::SysExecLockRow() {
  if (OnCustomLockRow) {
    OnCustomLockRow(this);
    return true;
  }
  TIB_Row* fields = GetFields();
  const int32_t dialect = GetSQLDialect();
  std::string sql;
  const bool custom = FLockSQL.Count() > 0;
  if (custom) {
    sql = FLockSQL.GetText();
  } else {
    const std::string relation = GetKeyRelation();
    TIB_Column* target = nullptr;
    for (int i = 0; !target && i < fields->GetColumnCount(); ++i) {
      TIB_Column* c = fields->GetColumns(i);
      if (SameText(c->GetRelName(), relation) && !c->GetSQLName().empty() && !c->GetComputed() && !c->GetIsBlobKind() &&
          !c->GetIsArrayKind()) {
        target = c;
      }
    }
    if (relation.empty() || !target || FKeyLinks.Count() == 0) {
      IB_Raise<EIB_DatasetError>(IBMsg::UnableToInitializeDefault, {"LockSQL"});
    }
    std::string rel, col;
    MakeSQLIdent(dialect, relation, rel);
    MakeSQLIdent(dialect, target->GetSQLName(), col);
    sql = "UPDATE " + rel + " SET " + col + " = " + col + "\r\nWHERE ";
    for (int i = 0; i < FKeyLinks.Count(); ++i) {
      std::string key;
      MakeSQLIdent(dialect, FKeyLinks.GetLinkFieldName(i), key);
      if (i > 0) sql += "\r\n  AND ";
      sql += key + " = :LOCK_KEY_" + std::to_string(i);
    }
  }
  auto stmt = std::make_unique<TIB_DSQL>(nullptr);
  stmt->SetSession(GetSession());
  stmt->SetIB_Connection(GetIB_Connection());
  stmt->SetIB_Transaction(GetIB_Transaction());
  stmt->GetSQL().SetText(sql);
  stmt->Prepare();
  for (int i = 0; i < stmt->GetParamCount(); ++i) {
    TIB_Column* p = stmt->GetParams()->GetColumns(i);
    TIB_Column* source = nullptr;
    if (custom) {
      std::string name = p->GetColumnName();
      if (name.rfind("OLD_", 0) == 0) name.erase(0, 4);
      fields->FindByName(name, source);
    } else {
      fields->FindByName(FKeyLinks.GetLinkName(i), source);
    }
    if (!source) IB_Raise<EIB_DatasetError>(IBMsg::UnableToInitializeDefault, {"LockSQL"});
    p->Assign(source);
  }
  stmt->Execute();
  if (stmt->GetStatementType() == stUpdate) return stmt->GetRowsAffected() == 1;
  return true;
}
