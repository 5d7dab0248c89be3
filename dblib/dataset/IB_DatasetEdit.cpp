// TIB_Dataset: the modifying states (edit, insert, delete), whether a change is allowed, new-row values
// (generators, server defaults, DefaultValues), required columns, posting and cancelling through the
// update SQL or the custom events, the error events, the row lock and the DML cache announcements.
#include <cstdlib>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_Dataset.h"
#include "dblib/dataset/IB_UpdateSQL.h"
#include "dblib/schema/IB_Schema.h"
#include "platform/Dialogs.h"
#include "platform/Forms.h"
#include "platform/Locale.h"
#include "platform/ScopeGuards.h"

namespace {

// The value bytes of Column in its row's current or old record.
const uint8_t* ValueBytes(TIB_Column& Column, bool Old, const uint8_t*& Ind) {
  const XSQLVAR& v = *Column.GetPSQLVAR();
  TIB_Row* row = Column.GetRow();
  const uint8_t* base = row->GetRecordBuffer();
  const uint8_t* from = Old ? row->GetOldRecordBuffer() : base;
  Ind = from + (reinterpret_cast<const uint8_t*>(v.sqlind) - base);
  return from + (reinterpret_cast<const uint8_t*>(v.sqldata) - base);
}

bool IsIntegerText(const std::string& S, int64_t& Value) {
  if (S.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(S.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  Value = v;
  return true;
}

bool IsNumberText(const std::string& S) {
  if (S.empty()) return false;
  char* end = nullptr;
  std::strtod(S.c_str(), &end);
  return *end == '\0';
}

// Text between outer quotes (' or "), with doubled inner quotes made single; false when unquoted.
bool UnquoteDefault(const std::string& S, std::string& Text) {
  if (S.size() < 2 || (S[0] != '\'' && S[0] != '"') || S.back() != S[0]) return false;
  UndoubleChar(S.substr(1, S.size() - 2), S[0], Text);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Whether a change is allowed

void TIB_Dataset::Refuse(TIB_Msg<EIB_DatasetError> Id) {
  RunReported([this] { StateChanged(); });
  IB_Raise<EIB_DatasetError>(Id);
}

bool TIB_Dataset::GetCanEdit() {
  if (!FPrepared || GetReadOnly() || FPreventEditing || !GetIsSelectSQL()) return false;
  if (FFields->GetRowState() == rsNone || FState == dssInsert) return false;
  bool can = true;
  if (!HasCustomDML(0)) can = FRequestLive && (!FSearchedEdits || KeyColumnsFromKeyRelation());
  if (can && OnGetCanModify && CanFireEvents()) CallOutWatching(OnGetCanModify, this, cmEdit, can);
  return can;
}

bool TIB_Dataset::GetCanInsert() {
  if (!FPrepared || GetReadOnly() || FPreventInserting || !GetIsSelectSQL()) return false;
  if (FMasterSource) {
    TIB_Dataset* m = GetMasterDataset();
    if (!m || m->GetFields()->GetRowState() == rsNone || m->FState == dssDelete) return false;
  }
  bool can = HasCustomDML(1) || !GetKeyRelation().empty();
  if (can && OnGetCanModify && CanFireEvents()) CallOutWatching(OnGetCanModify, this, cmInsert, can);
  return can;
}

bool TIB_Dataset::GetCanDelete() {
  if (!FPrepared || GetReadOnly() || FPreventDeleting || !GetIsSelectSQL()) return false;
  if (FState == dssInsert || FFields->GetRowState() == rsNone) return false;
  bool can = true;
  if (!HasCustomDML(2)) {
    can = FRequestLive && !GetKeyRelation().empty() && (!FSearchedDeletes || KeyColumnsFromKeyRelation());
  }
  if (can && OnGetCanModify && CanFireEvents()) CallOutWatching(OnGetCanModify, this, cmDelete, can);
  return can;
}

bool TIB_Dataset::HasCustomDML(int Kind) {
  switch (Kind) {
    case 0: return OnCustomEdit || FEditSQL.Count() > 0;
    case 1: return OnCustomInsert || FInsertSQL.Count() > 0;
    case 2: return OnCustomDelete || FDeleteSQL.Count() > 0;
    default: return false;
  }
}

bool TIB_Dataset::GetCanModify() {
  if (!FPrepared || GetReadOnly() || (FPreventEditing && FPreventInserting && FPreventDeleting)) return false;
  if (GetIsModifying()) return true;
  return FFields->GetRowState() != rsNone ? GetCanEdit() : GetCanInsert();
}

bool TIB_Dataset::ColumnValueChanged(TIB_Column& Column) {
  // A blob or array counts as changed when typed into, and when it holds another id than the one
  // fetched (written under a cached change).
  if ((Column.GetIsBlobKind() || Column.GetIsArrayKind()) && Column.GetIsModified()) return true;
  TIB_Row* row = Column.GetRow();
  if (!row || !row->GetRecordBuffer() || !row->GetOldRecordBuffer() || !Column.GetPSQLVAR()->sqldata) return false;
  const uint8_t *ind = nullptr, *oldInd = nullptr;
  const uint8_t* cur = ValueBytes(Column, false, ind);
  const uint8_t* old = ValueBytes(Column, true, oldInd);
  int16_t a = 0, b = 0;
  std::memcpy(&a, ind, 2);
  std::memcpy(&b, oldInd, 2);
  if ((a == -1) != (b == -1)) return true;
  if (a == -1) return false;  // both null: the data behind does not count
  const XSQLVAR& v = *Column.GetPSQLVAR();
  if ((v.sqltype & ~1) == SQL_VARYING) {
    uint16_t la = 0, lb = 0;
    std::memcpy(&la, cur, 2);
    std::memcpy(&lb, old, 2);
    return la != lb || std::memcmp(cur + 2, old + 2, la) != 0;
  }
  return std::memcmp(cur, old, static_cast<size_t>(v.sqllen)) != 0;
}

bool TIB_Dataset::GetModified() {
  if (FFields->GetRowState() == rsNone) return false;
  // A row written by a retaining post is still a change of this edit or insert.
  if ((FRetainedInsert && FState == dssInsert) || (FRetainedEdit && FState == dssEdit)) return true;
  for (int i = 0; i < FFields->GetColumnCount(); ++i) {
    if (ColumnValueChanged(*FFields->GetColumns(i))) return true;
  }
  return false;
}

void TIB_Dataset::GetColumnReadOnly(TIB_Column& Column, bool& ReadOnly) {
  if (ReadOnly) return;
  const bool hasRecord = FFields->GetRowState() != rsNone;
  TIB_UpdateSQLKind kind;
  if (FState == dssEdit || (FState == dssBrowse && hasRecord)) {
    kind = uskEdit;
  } else if (FState == dssPrepared || FState == dssInsert || (FState == dssBrowse && !hasRecord)) {
    kind = uskInsert;
  } else {
    ReadOnly = true;
    return;
  }
  TIB_StringList& custom = kind == uskEdit ? FEditSQL : FInsertSQL;
  if (custom.Count() == 0 || !FUpdateSQL) {
    TIB_Statement::GetColumnReadOnly(Column, ReadOnly);
    return;
  }
  TIB_Statement* s = kind == uskEdit ? FUpdateSQL->GetEditStatement() : FUpdateSQL->GetInsertStatement();
  TIB_Column* p = nullptr;
  if (!s || !s->GetPrepared()) {
    ReadOnly = true;
    return;
  }
  TIB_Row* params = s->GetParams();
  if (params->FindByName(Column.GetBestName(), p)) {
    ReadOnly = false;
    return;
  }
  // Over a join the best name carries the relation (FLIGHT.SEATS) while the statement names its
  // parameters plainly (SET SEATS = :SEATS): a column of the relation the statement writes, the key
  // relation, is set by the parameter of its own name.
  ReadOnly =
      !(!Column.GetRelName().empty() && IsKeyRelationColumn(Column) && params->FindByName(Column.GetColumnName(), p));
}

bool TIB_Dataset::IsKeyRelationColumn(const TIB_Column& Column) {
  const std::string rel = GetKeyRelation();
  if (!IsQuoted(rel, '"')) return CompareText(Column.GetRelName(), rel) == 0;
  std::string exact;
  StripQuotes(rel, exact);
  return Column.GetRelName() == exact;
}

void TIB_Dataset::GetColumnPreventChange(TIB_Column& Column, bool& Prevent) {
  if (Prevent) return;
  const bool hasRecord = FFields->GetRowState() != rsNone;
  switch (FState) {
    case dssPrepared:
    case dssBrowse: Prevent = hasRecord ? Column.GetPreventEditing() : Column.GetPreventInserting(); break;
    case dssSearch: Prevent = Column.GetPreventSearching(); break;
    case dssEdit: Prevent = Column.GetPreventEditing(); break;
    case dssInsert: Prevent = Column.GetPreventInserting(); break;
    default: Prevent = true; break;
  }
  if (!Prevent && FState != dssSearch) Prevent = Column.GetReadOnly();
}

void TIB_Dataset::CheckFieldWrite(TIB_Column& Column) {
  // (The dataset clears the row itself when it enters search mode: those writes do not come here.)
  if (FState == dssSearch && Column.GetFieldNo() >= 0)
    IB_Raise<EIB_DatasetError>(IBMsg::CannotWriteInSearchMode, {Column.GetFullName()});
}

void TIB_Dataset::SysCheckCanModify(TIB_Column* Column) {
  // Calculated columns are written by the dataset itself, whatever its state.
  if (Column && Column->GetFieldNo() < 0) return;
  switch (FState) {
    case dssSearch:
      if (Column) CheckFieldWrite(*Column);
      break;
    case dssInactive: IB_Raise<EIB_DatasetError>(IBMsg::DatasetIsInactive);
    case dssPrepared:
    case dssBrowse:
      if (GetReadOnly()) IB_Raise<EIB_DatasetError>(IBMsg::DatasetIsReadonly);
      if (Column && Column->GetReadOnly()) {
        if (Column->GetComputed()) return;
        IB_Raise<EIB_DatasetError>(IBMsg::IsReadonly, {Column->GetFullName()});
      }
      if (FFields->GetRowState() != rsNone) {
        Edit();
      } else {
        Insert();
      }
      break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Entering the modifying states

void TIB_Dataset::Edit() {
  if (FState == dssEdit) return;  // already editing: the pending change stays pending
  TDatasetOperation op(this);
  op.Busy(false);
  if (!FPrepared) PrepareCore();
  if (FFields->GetRowState() == rsNone && GetCanInsert()) {
    SysInsert();
    return op.End();
  }
  if (!GetCanEdit()) Refuse(IBMsg::CannotEditCurrentRow);
  SysEdit();
  op.End();
}

void TIB_Dataset::Insert() {
  TDatasetOperation op(this);
  op.Busy(false);
  if (!FPrepared) PrepareCore();
  if (!GetCanInsert()) Refuse(IBMsg::CannotInsertANewRow);
  SysInsert();
  op.End();
}

void TIB_Dataset::Append() {
  TDatasetOperation op(this);
  op.Busy(false);
  TIB_AliveRestorer<bool> appending(FAlive, FAppending, true);
  if (!FPrepared) PrepareCore();
  if (!GetCanInsert()) Refuse(IBMsg::CannotInsertANewRow);
  if (!GetIsUnidirectional()) {
    // No insert when the user aborted that fetch.
    const bool aborted = FActive && FetchLoop(0);
    op.Check();
    if (aborted) return op.End();
    SetBufferRowNum(GetBufferCount() + 1);
  }
  SysInsert();
  op.End();
}

void TIB_Dataset::Delete() {
  TDatasetOperation op(this);
  op.Busy(false);
  if (!GetCanDelete()) Refuse(IBMsg::CannotDeleteCurrentRow);
  SysDelete();
  op.End();
}

void TIB_Dataset::SysEdit() {
  Perform(dnBeforeEdit);
  SysPost(false, false);
  RunWithErrorEvent(OnEditError, [this] { SysLockRow(); });
  SetState(dssEdit);
  ApplyMasterLinksToRow();
  Perform(dnAfterEdit);
}

void TIB_Dataset::SysInsert() {
  if (FInserting) return;
  Perform(dnBeforeInsert);
  TIB_AliveRestorer<bool> inserting(FAlive, FInserting, true);
  FReturnToSearch = FState == dssSearch || (FActive && FReturnToSearch);
  SysPost(false, false);
  CascadeToDetails(7);
  FFields->BeginUpdate();
  bool ended = false;
  const TIB_AliveFlag alive = FAlive;
  TIB_AliveExit endUpdate(alive, [&] {
    if (!ended) FFields->EndUpdateSilently();
  });
  SysCloseIfUnidirectional();
  FFields->ClearRow(rsUnmodified);
  SetState(dssInsert);
  try {
    Perform(dnNewRecord);
    ApplyMasterLinksToRow();
    FFields->ResetRow(false, false, true);
  } catch (...) {
    // A failed set-up leaves no half-made row behind.
    if (alive.Get()) RunReported([this] {
        FFields->ClearRow(rsNone);
        SysUpdateState();
      });
    throw;
  }
  ended = true;
  FFields->EndUpdate(true);
  Perform(dnAfterInsert);
}

void TIB_Dataset::SysDelete() {
  Perform(dnBeforeDelete);
  if (FState == dssEdit) SysCancel();
  SysCancel();
  CascadeToDetails(8);
  SetState(dssDelete);
  if (FAutoPostDelete) {
    Post();
    Perform(dnAfterDelete);
  } else {
    Perform(dnAfterDelete);
  }
}

void TIB_Dataset::SetAutoPostDelete(bool Value) {
  FAutoPostDelete = Value;
  if (Value && FState == dssDelete) Post();
}

// ---------------------------------------------------------------------------------------------------------
// Posting and cancelling

void TIB_Dataset::Post() {
  if (!GetIsModifying() && FState != dssSearch) Refuse(IBMsg::CannotPostCurrentRow);
  TDatasetOperation op(this);
  op.Busy(false);
  SysPost(false, false);
  op.End();
}

void TIB_Dataset::PostRetaining() {
  if (!GetIsModifying() && FState != dssSearch) Refuse(IBMsg::CannotPostCurrentRow);
  TDatasetOperation op(this);
  op.Busy(false);
  SysPost(false, true);
  op.End();
}

void TIB_Dataset::Cancel() {
  if (!GetIsModifying() && FState != dssSearch) Refuse(IBMsg::CannotCancelCurrentRow);
  TDatasetOperation op(this);
  op.Busy(false);
  SysCancel();
  op.End();
}

void TIB_Dataset::SysPost(bool CancelUnmodified, bool Retaining) {
  if (FState == dssSearch) {
    SysPostSearch(true);
    return;
  }
  if (!GetIsModifying()) return;
  if (FPostCount > 0 && !(Retaining && FRetainingCount == 0)) return;
  TIB_AliveCount posting(FAlive, FPostCount);
  int32_t dummy = 0;
  TIB_AliveCount retaining(FAlive, Retaining ? FRetainingCount : dummy);
  const bool writesRow = FState == dssEdit || FState == dssInsert;
  if (writesRow) ProcessLinkEvent(sleUpdateData);
  // The deferred notices (a detail reads its rows again) go out once the row is written: a failure
  // there reaches the caller with the post done.
  TDatasetOperation op(this);
  op.Defer();
  if (writesRow) ApplyMasterLinksToRow();
  if (CancelUnmodified && !Retaining && writesRow && !GetModified()) {
    SysCancel();
    return op.End();
  }
  Perform(dnBeforePost);
  // A new row's IDENTITY key left empty is the engine's to give: it is taken from its generator now, so
  // that the row is written and shown with it.
  if (FState == dssInsert && !FRetainedInsert) ApplyIdentityGenerators();
  if (writesRow && FCheckRequired) CheckRequiredFields();
  if (!Retaining) ProcessLinkEvent(sleRefreshState);
  FOldState = FState;
  SysApplyUpdate(CancelUnmodified && !Retaining);
  if (!Retaining) {
    // The state update gives a lock that changed nothing up at the server first.
    SysUpdateState();
    ReleaseRowLock();
    SyncKeySource();
  }
  FRetainedInsert = Retaining && (FState == dssInsert || FRetainedInsert);
  FRetainedEdit = Retaining && FState == dssEdit;
  Perform(dnAfterPost);
  SysCalculateFields();
  op.End();
}

void TIB_Dataset::SysApplyUpdate(bool) {
  switch (FState) {
    case dssEdit: RunWithErrorEvent(OnPostError, [this] { SysPostEdit(); }); break;
    case dssInsert:
      RunWithErrorEvent(OnPostError, [this] {
        if (FRetainedInsert) {
          SysPostEdit();
        } else {
          SysPostInsert();
        }
      });
      break;
    case dssDelete: {
      if (!ConfirmDelete()) throw EAbort();
      CascadeToDetails(8);
      const TIB_AliveFlag alive = FAlive;
      try {
        RunWithErrorEvent(OnDeleteError, [this] {
          FFields->RevertRow();
          DoCustomDelete();
          if (GetIsUnidirectional()) FFields->ClearRow(rsNone);
        });
      } catch (...) {
        // A delete that did not happen (refused by the server, or aborted by its error event) leaves
        // the row as it was, in browse: a dataset left in delete would try it again at the next post
        // or commit. Unlike an edit, there are no typed values to keep for a second attempt.
        if (alive.Get()) RunReported([this] {
          FFields->RevertRow();
          ReleaseRowLock();
          SysUpdateState();
        });
        throw;
      }
      break;
    }
    default: break;
  }
}

void TIB_Dataset::RunWithErrorEvent(const TIB_DataSetErrorEvent& Event, const std::function<void()>& Step) {
  for (;;) {
    try {
      Step();
      return;
    } catch (const EIB_Error& e) {
      TIB_DataAction action = daFail;
      if (Event && CanFireEvents()) CallOutWatching(Event, this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) throw EAbort();
    }
  }
}

void TIB_Dataset::WriteRowWithBlobs(void (TIB_Dataset::*Write)()) {
  FFields->PostBlobNodes();
  const TIB_AliveFlag alive = FAlive;
  try {
    SysBeforeWriteBack(false);
    (this->*Write)();
  } catch (...) {
    // A refused post keeps the typed blob values for the next one.
    if (alive.Get()) FFields->ForgetPostedBlobNodes();
    throw;
  }
  FFields->ResetBlobNodes(false);
  FFields->ResetRow(false, false, false);
  FillKeyRow();
}

void TIB_Dataset::SysPostEdit() {
  WriteRowWithBlobs(&TIB_Dataset::DoCustomEdit);
  // The last write of a retained insert ends the insert: a cursor's row then goes as after any insert.
  if (FState == dssInsert && FRetainingCount == 0 && GetIsUnidirectional()) FFields->ClearRow(rsNone);
}

void TIB_Dataset::SysPostInsert() {
  // The written row is now named by its key: a retained insert is later edited or deleted by it.
  WriteRowWithBlobs(&TIB_Dataset::DoCustomInsert);
  // A row written by a retaining post stays in the row, still being inserted.
  if (GetIsUnidirectional() && FRetainingCount == 0) FFields->ClearRow(rsNone);
}

void TIB_Dataset::SysRevertRow() {
  FFields->RevertRow();
  if (GetIsUnidirectional()) FFields->ClearRow(rsNone);
}

void TIB_Dataset::DoCustomEdit() {
  if (!(FState == dssEdit || (FState == dssInsert && (FRetainingCount > 0 || FRetainedInsert)))) return;
  if (OnCustomEdit && CanFireEvents()) {
    CallOutWatching(OnCustomEdit, this);
  } else {
    SysExecEdit();
  }
}

void TIB_Dataset::DoCustomInsert() {
  if (FState != dssInsert) return;
  if (OnCustomInsert && CanFireEvents()) {
    CallOutWatching(OnCustomInsert, this);
  } else {
    SysExecInsert();
  }
}

void TIB_Dataset::DoCustomDelete() {
  if (!(FState == dssDelete || (FState == dssInsert && FRetainedInsert))) return;
  if (OnCustomDelete && CanFireEvents()) {
    CallOutWatching(OnCustomDelete, this);
  } else {
    SysExecDelete();
  }
}

void TIB_Dataset::SysExecEdit() { FUpdateSQL->ExecEdit(); }
void TIB_Dataset::SysExecInsert() { FUpdateSQL->ExecInsert(); }
void TIB_Dataset::SysExecDelete() { FUpdateSQL->ExecDelete(); }

bool TIB_Dataset::SysExecLockRow() {
  if (OnCustomLockRow && CanFireEvents()) {
    CallOutWatching(OnCustomLockRow, this);
    return true;
  }
  return FUpdateSQL->ExecLockRow();
}

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
    // Another transaction's change of the row answers with a lock conflict.
    if (e.ERRCODE != isc_lock_conflict && e.ERRCODE != isc_deadlock && e.ERRCODE != isc_update_conflict) throw;
  }
  if (!locked) IB_Raise<EIB_DatasetError>(IBMsg::RecordIsLockedByAnotherUser);
  FRowLockHeld = true;
  FRowLockTransaction = t;
  if (t) t->AdjustLockedRowCount(1);
}

void TIB_Dataset::SysCancel() {
  if (FState == dssSearch) {
    CancelSearch();
    return;
  }
  if (!GetIsModifying() || FCancelling) return;
  TIB_AliveRestorer<bool> cancelling(FAlive, FCancelling, true);
  Perform(dnBeforeCancel);
  FOldState = FState;
  switch (FState) {
    case dssEdit:
    case dssDelete: FFields->RevertRow(); break;
    case dssInsert:
      CascadeToDetails(8);
      if (FRetainedInsert) {
        // The row a retaining post wrote is deleted again, unless the transaction is rolling back, which
        // undoes it: a cancel inside a rollback sends nothing that could stop the rollback.
        const TIB_Transaction* t = GetIB_Transaction();
        const TIB_TransactionState ts = t ? t->GetTransactionState() : tsInactive;
        if (ts != tsRollingBack && ts != tsRollbackRetaining) DoCustomDelete();
        SysRevertRow();
      } else {
        SysRevertRow();
      }
      break;
    default: break;
  }
  SysUpdateState();
  ReleaseRowLock();
  FRetainedInsert = false;
  FRetainedEdit = false;
  Perform(dnAfterCancel);
}

void TIB_Dataset::CheckRequiredFields() {
  for (int i = 0; i < FFields->GetColumnCount(); ++i) {
    TIB_Column* c = FFields->GetColumns(i);
    if (!c->GetIsNull() || c->GetReadOnly() || c->GetComputed() || !c->GetRequired()) continue;
    ProcessLinkEvent(sleFocusColumn, reinterpret_cast<intptr_t>(c));
    IB_Raise<EIB_DatasetError>(IBMsg::IsARequiredField, {c->GetDisplayLabel()});
  }
}

bool TIB_Dataset::ConfirmDelete() {
  bool confirmed = true;
  if (OnConfirmDelete && CanFireEvents()) {
    CallOutWatching(OnConfirmDelete, this, confirmed);
  } else if (FConfirmDeletePrompt.Count() > 0) {
    // The dialog runs the message loop: a task it runs may destroy the dataset.
    const auto ask = [](const std::string& Prompt) {
      return Dialogs().MessageDlg(Prompt, mtWarning, {mbOK, mbCancel}, 0, mbOK) == mrOk;
    };
    confirmed = CallOutWatching(ask, FConfirmDeletePrompt.GetText());
  }
  return confirmed;
}

void TIB_Dataset::CascadeToDetails(int Action) {
  TIB_Session* s = GetSession();
  if (!s) return;
  const std::vector<TIB_Component*> all = s->GetRegistry(srDatasets);
  // A detail's handlers may delete this master: the cascade then ends with the silent abort.
  const TIB_AliveFlag alive = FAlive;
  for (TIB_Component* c : all) {
    auto* d = dynamic_cast<TIB_Dataset*>(c);
    if (!d || d == this || d->GetMasterDataset() != this) continue;
    const auto& now = s->GetRegistry(srDatasets);
    if (std::find(now.begin(), now.end(), c) == now.end()) continue;
    if (Action == 7) d->SysPost(false, false);
    if (Action == 8 && d->FState == dssInsert) d->SysCancel();
    IB_CheckAlive(alive);
  }
}

// ---------------------------------------------------------------------------------------------------------
// New-row values

namespace {

// The next value of Generator into Column.
void Generate(TIB_Connection* Connection, TIB_Transaction* Transaction, TIB_Column& Column,
              const std::string& Generator) {
  int64_t value = 0;
  std::exception_ptr failure;
  if (!GetGeneratorValue(Connection, Transaction, Generator, 1, value, &failure)) {
    if (failure) std::rethrow_exception(failure);
    IB_Raise<EIB_StatementError>(IBMsg::UnableToGetGeneratorValue);
  }
  Column.SetAsInt64(value);
}

}  // namespace

void TIB_Dataset::ApplyIdentityGenerators() {
  TIB_Connection* conn = GetIB_Connection();
  TIB_ConnectionSchemaCache* cache = conn && conn->GetConnected() ? conn->GetSchemaCache() : nullptr;
  if (!cache) return;
  for (int i = 0; i < FFields->GetColumnCount(); ++i) {
    TIB_Column* c = FFields->GetColumns(i);
    if (!c->GetIsNull() || !c->GetIsIdentity()) continue;
    std::string rel, field;
    StripQuotes(c->GetRelName(), rel);
    StripQuotes(c->GetSQLName(), field);
    const std::string generator = cache->GetIdentityGenerator(rel, field);
    if (generator.empty() || c->GetReadOnly()) continue;
    // GeneratorLinks come first: an entry naming the column leaves it to them.
    bool linked = conn->GetGeneratorLinks().IndexOfName(c->GetRelName() + "." + c->GetSQLName()) >= 0;
    for (int k = 0; k < FGeneratorLinks.Count() && !linked; ++k) {
      TIB_Column* named = nullptr;
      linked = FFields->FindByName(Trim(FGeneratorLinks.GetName(k)), named) && named == c;
    }
    if (!linked) Generate(conn, GetIB_Transaction(), *c, generator);
  }
}

void TIB_Dataset::ApplyGeneratorsAndServerDefaults() {
  TIB_Connection* conn = GetIB_Connection();
  auto generate = [&](TIB_Column& Column, const std::string& Generator) {
    Generate(conn, GetIB_Transaction(), Column, Generator);
  };
  for (int i = 0; i < FGeneratorLinks.Count(); ++i) {
    TIB_Column* c = nullptr;
    const std::string gen = Trim(FGeneratorLinks.GetValueFromIndex(i));
    if (gen.empty() || !FFields->FindByName(Trim(FGeneratorLinks.GetName(i)), c) || !c->GetIsNull()) continue;
    generate(*c, gen);
  }
  if (conn && conn->GetGeneratorLinks().Count() > 0) {
    for (int i = 0; i < FFields->GetColumnCount(); ++i) {
      TIB_Column* c = FFields->GetColumns(i);
      if (!c->GetIsNull() || c->GetRelName().empty()) continue;
      const int k = conn->GetGeneratorLinks().IndexOfName(c->GetRelName() + "." + c->GetSQLName());
      if (k >= 0) generate(*c, Trim(conn->GetGeneratorLinks().GetValueFromIndex(k)));
    }
  }
  ApplyIdentityGenerators();
  if (!FGetServerDefaults) return;
  for (int i = 0; i < FFields->GetColumnCount(); ++i) {
    TIB_Column* c = FFields->GetColumns(i);
    std::string text;
    if (!c->GetIsNull() || c->GetRelName().empty() || !c->GetIsDefaulted() || !ServerDefaultText(*c, text)) continue;
    c->SetAsString(text);
    // One entry per column, kept up to date rather than added again at every insert.
    const std::string name = c->GetFullName();
    const int at = FDefaultValues.IndexOfName(name);
    const TNotifyEvent saved = FDefaultValues.OnChange;
    FDefaultValues.OnChange = nullptr;
    if (at >= 0) {
      FDefaultValues.Put(at, name + "=" + text);
    } else {
      FDefaultValues.Add(name + "=" + text);
    }
    FDefaultValues.OnChange = saved;
  }
}

bool TIB_Dataset::ServerDefaultText(TIB_Column& Column, std::string& Text) {
  TIB_ConnectionSchemaCache* cache = GetIB_Connection() ? GetIB_Connection()->GetSchemaCache() : nullptr;
  if (!cache) return false;
  std::string rel, field;
  StripQuotes(Column.GetRelName(), rel);
  StripQuotes(Column.GetSQLName(), field);
  std::string source = Trim(cache->GetDefaultSource(rel, field));
  if (source.size() >= 7 && SameText(source.substr(0, 7), "DEFAULT")) source = Trim(source.substr(7));
  if (source.empty()) return false;
  const int dialect = GetSQLDialect();
  const std::string upper = UpperCase(source);
  int64_t n = 0;
  switch (Column.GetSQLType() & ~1) {
    case SQL_VARYING:
    case SQL_TEXT: return UnquoteDefault(source, Text);
    case SQL_LONG:
      // NULL and expressions give no value.
      if (Column.GetSQLScale() != 0 || !IsIntegerText(source, n) || n < INT32_MIN || n > INT32_MAX) return false;
      Text = std::to_string(n);
      return true;
    case SQL_SHORT:
      if (Column.GetSQLScale() != 0 || !IsIntegerText(source, n) || n < INT16_MIN || n > INT16_MAX) return false;
      Text = std::to_string(n);
      return true;
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_D_FLOAT: {
      if (!IsNumberText(source)) return false;
      std::string local = source;
      for (char& ch : local) {
        if (ch == '.') ch = FormatSettings.DecimalSeparator;
      }
      // Taken only when the column's precision keeps the number as written.
      long double value = 0, back = 0;
      if (!TryStrToFloat(local, value)) return false;
      const char* format = (Column.GetSQLType() & ~1) == SQL_FLOAT ? "#.######E-0" : "#.##############E-0";
      if (!TryStrToFloat(FormatFloat(format, value), back) || back != value) return false;
      Text = FloatToStr(value);
      return true;
    }
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIME:
    case SQL_TYPE_DATE: {
      const int type = Column.GetSQLType() & ~1;
      if (type != SQL_TIMESTAMP && dialect < 3) return false;
      // Given as the words the date and time columns take (a quoted word or CURRENT_DATE would be
      // refused by the column and fail the insert).
      if (upper == "CURRENT_TIMESTAMP" || upper == "CURRENT_DATE" || upper == "CURRENT_TIME") {
        if (upper != "CURRENT_TIMESTAMP" && dialect < 3) return false;
        Text = upper == "CURRENT_DATE" ? "TODAY" : "NOW";
        return true;
      }
      std::string word;
      if (UnquoteDefault(source, word)) {
        word = UpperCase(Trim(word));
        if (word == "NOW" || word == "TODAY" || word == "YESTERDAY" || word == "TOMORROW") {
          Text = word;
          return true;
        }
      }
      return false;
    }
    case SQL_INT64: {
      if (dialect < 3 || source.size() > 20) return false;
      int dots = 0;
      for (size_t i = 0; i < source.size(); ++i) {
        const char ch = source[i];
        if (ch == '.') {
          ++dots;
        } else if (!(std::isdigit(static_cast<unsigned char>(ch)) || (i == 0 && ch == '-'))) {
          return false;
        }
      }
      if (dots > 1) return false;
      Text = source;
      return true;
    }
    default: Text = source; return true;
  }
}

void TIB_Dataset::ApplyDefaultValues() {
  for (int i = 0; i < FDefaultValues.Count(); ++i) {
    TIB_Column* c = nullptr;
    if (FFields->FindByName(Trim(FDefaultValues.GetName(i)), c) && c->GetIsNull()) {
      c->SetAsString(FDefaultValues.GetValueFromIndex(i));
    }
  }
  TIB_Connection* conn = GetIB_Connection();
  if (!conn || conn->GetDefaultValues().Count() == 0) return;
  TIB_StringList& defaults = conn->GetDefaultValues();
  for (int i = 0; i < FFields->GetColumnCount(); ++i) {
    TIB_Column* c = FFields->GetColumns(i);
    if (!c->GetIsNull()) continue;
    int k = defaults.IndexOfName(c->GetFullName());
    if (k < 0 && GetDomainNameEntries() && !c->GetDomainName().empty()) k = defaults.IndexOfName(c->GetDomainName());
    if (k >= 0) c->SetAsString(defaults.GetValueFromIndex(k));
  }
}

// ---------------------------------------------------------------------------------------------------------
// DML cache

void TIB_Dataset::AnnounceDMLCacheItem(TIB_DMLCacheItemType ItemType) {
  if (OnDMLCacheAnnounceItem && CanFireEvents()) {
    CallOutWatching(OnDMLCacheAnnounceItem, this, ItemType);
    return;
  }
  TIB_Transaction* t = GetIB_Transaction();
  TIB_Row* keys = GetKeyFieldsRow();
  if (!t || keys->GetColumnCount() == 0) return;
  std::string names;
  for (int i = 0; i < keys->GetColumnCount(); ++i) {
    if (i > 0) names += ";";
    names += keys->GetColumns(i)->GetColumnName();
  }
  Variant values;
  if (ItemType == ditInsert) {
    values = FFields->GetValues(names);
  } else if (keys != FFields.get()) {
    values = keys->GetValues(names);
  } else {
    values = FFields->GetOldValues(names);
  }
  t->AddDMLCacheItem(GetTransactionSite(), names, values, ItemType);
}

// ---------------------------------------------------------------------------------------------------------
// Settings kept by the update SQL

void TIB_Dataset::SetPreparedEdits(bool Value) {
  if (Value == FPreparedEdits) return;
  FPreparedEdits = Value;
  RunReported([this] { StateChanged(); });
}

void TIB_Dataset::SetSearchedEdits(bool Value) {
  if (Value == FSearchedEdits) return;
  FSearchedEdits = Value;
  if (FUpdateSQL) FUpdateSQL->SearchedEditsChanged();
  RunReported([this] { StateChanged(); });
}

void TIB_Dataset::SetSearchedDeletes(bool Value) {
  if (Value == FSearchedDeletes) return;
  FSearchedDeletes = Value;
  if (FUpdateSQL) FUpdateSQL->SearchedDeletesChanged();
  RunReported([this] { StateChanged(); });
}
