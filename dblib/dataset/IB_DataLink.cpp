#include "dblib/dataset/IB_DataLink.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dblib/sql/IB_Parse.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_Row.h"
#include "platform/Forms.h"
#include "platform/Locale.h"
#include "platform/ScopeGuards.h"
#include "platform/SysUtils.h"

// ---------------------------------------------------------------------------------------------------------
// TIB_DataLink

TIB_DataLink::TIB_DataLink(TComponent* AOwner) : TIB_Component(AOwner) {
  if (GetBoundSession()) JoinSessionRegistry(srDataLinks);
}

TIB_DataLink::~TIB_DataLink() = default;

void TIB_DataLink::BeforeDestruction() {
  // As a dataset's: the link's frames further up the stack leave at once.
  FAlive.Clear();
  EndBusy();
  RunReported([&] { SetDataSource(nullptr); });
  DropDataSource();
  LeaveSessionRegistry(srDataLinks);
  TIB_Component::BeforeDestruction();
}

void TIB_DataLink::Loaded() {
  TIB_Component::Loaded();
  if (FReceiveFocus) {
    if (TIB_Session* s = GetBoundSession()) DoReceiveFocus(s->GetFocused(frDataSource));
  }
}

void TIB_DataLink::SetSession(TIB_Session* ASession) {
  if (ASession == GetBoundSession()) return;
  EndBusy();
  LeaveSessionRegistry(srDataLinks);
  TIB_Component::SetSession(ASession);
  JoinSessionRegistry(srDataLinks);
  if (ASession && !ASession->HasState(csLoading)) DoReceiveFocus(ASession->GetFocused(frDataSource));
}

void TIB_DataLink::SetDataSource(TIB_DataSource* Value) {
  if (Value == FDataSource) return;
  ProcessEvent(sleBeforeLeave, reinterpret_cast<intptr_t>(Value));
  TIB_DataSource* old = FDataSource;
  if (old) {
    old->RemoveDataLink(this);
    old->RemoveFreeNotification(this);
  }
  FDataSource = Value;
  if (Value) {
    Value->AddDataLink(this);
    Value->FreeNotification(this);
  }
  ProcessEvent(sleAfterJoin, reinterpret_cast<intptr_t>(old));
}

void TIB_DataLink::DropDataSource() noexcept {
  if (!FDataSource) return;
  FDataSource->RemoveDataLink(this);
  FDataSource->RemoveFreeNotification(this);
  FDataSource = nullptr;
}

void TIB_DataLink::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_Component::Notification(AComponent, Operation);
  if (Operation == opRemove && FDataSource && AComponent == static_cast<TComponent*>(FDataSource)) DropDataSource();
}

// A handler that destroys the link ends what the link was doing with the silent abort; the walk of its
// data source that brought the notice ends that notice there and goes on with the next link.
void TIB_DataLink::Fire(const TIB_DataLinkEvent& Event) {
  if (Event && CanFire()) CallOut(Event, this, FDataSource);
}

void TIB_DataLink::FireField(const TIB_DataLinkFieldEvent& Event, TIB_Column* Field) {
  if (Event && CanFire()) CallOut(Event, this, FDataSource, Field);
}

// ---------------------------------------------------------------------------------------------------------
// Dispatcher and requests

void TIB_DataLink::ProcessEvent(int32_t AEvent, intptr_t AArg) {
  const TIB_AliveFlag alive = FAlive;
  switch (AEvent) {
    case sleBeforeLeave: DoBeforeAssignment(); break;
    case sleAfterJoin: DoAfterAssignment(); break;
    case sleBeforeExecute: Fire(BeforeExecute); break;
    case sleAfterExecute: Fire(AfterExecute); break;
    case slePreparedChanged: DoPreparedChanged(); break;
    case sleActiveChange:
      SysActiveChanged();
      Fire(OnActiveChange);
      break;
    case sleBeforeRowChange: SysBeforeRowChange(); break;
    case sleLayoutChanged: DoLayoutChanged(); break;
    case sleDataChange: DataChange(reinterpret_cast<TIB_Column*>(AArg)); break;
    case sleUpdateData: UpdateData(reinterpret_cast<TIB_Column*>(AArg)); break;
    case sleColumnsRebind: SysRebindField(); break;
    case sleFocusColumn: Perform(dlnFocusControl, AArg); break;
    case sleOrderingChanged: Fire(OnOrderingChanged); break;
    case sleOrderingLinkChanged: Fire(OnOrderingLinkChanged); break;
    case sleSearchingLinkChanged: Fire(OnSearchingLinkChanged); break;
    case sleSearchAction: SearchAction(static_cast<int32_t>(AArg)); break;
    default: break;
  }
  IB_CheckAlive(alive);
  if (FAllEvents) SysAfterEvent(AEvent, AArg);
}

bool TIB_DataLink::Perform(int32_t Code, intptr_t /*AArg*/) {
  switch (Code) {
    case dlnAppendRequest: {
      if (!FDataSource || !FDataSource->GetPrepared()) return false;
      TIB_Dataset* d = GetDataset();
      if (d->GetCanInsert()) {
        if (d->GetIsModifying()) d->Post();
        // A closed dataset's new row needs no move: there is no row to leave.
        if (!d->GetIsUnidirectional() && d->GetIsActiveOrBuffered()) d->SetRowNum(d->GetBufferCount() + 1);
      }
      return FDataSource->Perform(dsnInsertRequest);
    }
    case dlnFocusControl: return false;
    case dlnInsertRequest: return FDataSource && FDataSource->Perform(dsnInsertRequest);
    case dlnModify: return Modify();
    case dlnDataChange: {
      if (!FDataSource) return false;
      const TIB_AliveFlag alive = FAlive;
      DataChange(nullptr);
      IB_CheckAlive(alive);
      return FDataSource != nullptr;
    }
    case dlnFocusRequest: return FDataSource && FDataSource->Perform(dsnFocusRequest);
    case dlnUpdateData: {
      if (!FDataSource) return false;
      const TIB_AliveFlag alive = FAlive;
      UpdateData(nullptr);
      IB_CheckAlive(alive);
      return FDataSource != nullptr;
    }
    case dlnUpdateDataAll: return Perform(dlnUpdateData);
    default: return false;
  }
}

bool TIB_DataLink::Edit() { return FDataSource && FDataSource->Perform(dsnEditRequest); }

bool TIB_DataLink::Modify() {
  if (!FDataSource) return false;
  const TIB_AliveFlag alive = FAlive;
  TIB_AliveCount<int32_t> level(alive, FModifyLevel);
  if (GetStatePrevented()) return false;
  FDataSource->Perform(dsnModifyRequest);
  IB_CheckAlive(alive);
  const TIB_DatasetState s = GetDataState();
  return s == dssSearch || s == dssEdit || s == dssInsert;
}

// ---------------------------------------------------------------------------------------------------------
// Queries

TIB_Dataset* TIB_DataLink::GetDataset() const { return FDataSource ? FDataSource->GetDataset() : nullptr; }
bool TIB_DataLink::GetPrepared() const { return FDataSource && FDataSource->GetPrepared(); }
bool TIB_DataLink::GetActive() const { return FDataSource && FDataSource->GetActive(); }
TIB_DatasetState TIB_DataLink::GetDataState() const { return FDataSource ? FDataSource->GetState() : dssInactive; }
uint8_t TIB_DataLink::GetRowState() const { return FDataSource ? FDataSource->GetRowState() : 0; }
bool TIB_DataLink::GetModifying() const { return FDataSource && FDataSource->GetModifying(); }
bool TIB_DataLink::GetBof() const { return !GetDataset() || GetDataset()->GetBof(); }
bool TIB_DataLink::GetEof() const { return !GetDataset() || GetDataset()->GetEof(); }
bool TIB_DataLink::GetDatasetAtEnd() const { return GetDataset() && GetDataset()->GetBufferEof(); }
int32_t TIB_DataLink::GetRowNum() const { return GetDataset() ? GetDataset()->GetRowNum() : 0; }
int32_t TIB_DataLink::GetBufferRowNum() const { return GetDataset() ? GetDataset()->GetBufferRowNum() : 0; }
int32_t TIB_DataLink::GetBufferCount() const { return GetDataset() ? GetDataset()->GetBufferCount() : 0; }

void TIB_DataLink::SetBufferRowNum(int32_t Value) {
  if (TIB_Dataset* d = GetDataset()) d->SetBufferRowNum(Value);
}

bool TIB_DataLink::GetDisabled() const {
  TIB_Dataset* d = GetDataset();
  return d && !d->GetIsUnidirectional() && FDataSource->GetUpdateCount() > 0;
}

bool TIB_DataLink::GetEditing() {
  return FEditable && !GetStatePrevented() && FDataSource && FDataSource->Perform(dsnModifying);
}

bool TIB_DataLink::GetStatePrevented() {
  const TIB_DatasetState s = GetDataState();
  if (GetDataset() && s != dssSearch && FDataSource->GetReadOnly()) return true;
  switch (s) {
    case dssSearch: return GetPreventSearching();
    case dssEdit: return GetPreventEditing();
    case dssInsert: return GetPreventInserting();
    default: return false;
  }
}

bool TIB_DataLink::GetPreventDeleting() { return !GetDataset() || GetDataset()->GetPreventDeleting(); }
bool TIB_DataLink::GetPreventEditing() { return !GetDataset() || GetDataset()->GetPreventEditing(); }
bool TIB_DataLink::GetPreventInserting() { return !GetDataset() || GetDataset()->GetPreventInserting(); }
bool TIB_DataLink::GetPreventSearching() { return !GetDataset() || GetDataset()->GetPreventSearching(); }

bool TIB_DataLink::GetCanModify() {
  if (GetStatePrevented() || !GetDataset()) return false;
  const TIB_DatasetState s = GetDataState();
  const bool hasRow = GetRowState() != 0;
  if (!FDataSource->GetCanModify()) return false;
  if (!((FDataSource->GetAutoEdit() && hasRow) || (FDataSource->GetAutoInsert() && GetPrepared()) || s == dssSearch ||
        s == dssEdit || s == dssInsert)) {
    return false;
  }
  if (s == dssSearch) return !GetPreventSearching();
  if (hasRow && s != dssInsert) return !GetPreventEditing();
  return !GetPreventInserting();
}

// ---------------------------------------------------------------------------------------------------------
// Colours

TColor TIB_DataLink::GetEditingColor() { return GetSession()->GetEditingColor(); }

TColor TIB_DataLink::GetInsertingColor() {
  return GetStatePrevented() ? GetSession()->GetReadOnlyColor() : GetSession()->GetInsertingColor();
}

TColor TIB_DataLink::GetDeletingColor() { return GetSession()->GetDeletingColor(); }

TColor TIB_DataLink::GetSearchingColor() {
  return GetStatePrevented() ? GetSession()->GetReadOnlyColor() : GetSession()->GetSearchingColor();
}

TColor TIB_DataLink::GetInvalidColor() { return GetSession()->GetInvalidColor(); }

TColor TIB_DataLink::GetStateColor() {
  TIB_Session* s = GetSession();
  TColor color;
  if (FSearchAlways) {
    color = GetSearchingColor();
  } else {
    switch (GetDataState()) {
      case dssPrepared:
      case dssBrowse:
        if (GetStatePrevented()) {
          color = s->GetReadOnlyColor();
        } else {
          color = GetRowState() != 0 ? s->GetBrowsingColor() : s->GetPreparedColor();
        }
        break;
      case dssSearch: color = GetSearchingColor(); break;
      case dssEdit: color = GetStatePrevented() ? s->GetReadOnlyColor() : GetEditingColor(); break;
      case dssInsert: color = GetInsertingColor(); break;
      case dssDelete: color = GetDeletingColor(); break;
      default: color = GetInvalidColor(); break;
    }
  }
  if (s->OnGetDataLinkColor) s->OnGetDataLinkColor(s, this, color);
  return color;
}

bool TIB_DataLink::GetUseColorScheme() const {
  TIB_Dataset* d = GetDataset();
  if (FIgnoreColorScheme || !d || !d->GetColorScheme()) return false;
  if (d->GetIsUnidirectional()) return true;
  if (d->GetDeferEventsCount() > 0 && !d->GetPostingSearch()) return false;
  return FDataSource->GetUpdateCount() == 0;
}

// ---------------------------------------------------------------------------------------------------------
// Settings and focus

void TIB_DataLink::SetReceiveFocus(bool Value) {
  FReceiveFocus = Value;
  if (TIB_Session* s = GetBoundSession()) DoReceiveFocus(s->GetFocused(frDataSource));
}

void TIB_DataLink::DoReceiveFocus(TIB_Component* AFocused) {
  if (!FReceiveFocus) return;
  auto* source = dynamic_cast<TIB_DataSource*>(AFocused);
  if (OnReceiveFocus) {
    IB_CallOut(FAlive, OnReceiveFocus, this, source);
  } else {
    SetDataSource(source);
  }
}

void TIB_DataLink::SetIgnoreColorScheme(bool Value) {
  FIgnoreColorScheme = Value;
  StateChanged();
}

void TIB_DataLink::SetSearchAlways(bool Value) {
  FSearchAlways = Value;
  if (GetDataState() != dssSearch) {
    StateChanged();
    DataChange(nullptr);
  }
}

void TIB_DataLink::BeginBusy() {
  if (FBusyHold) return;
  TIB_Session* s = GetSession();
  s->DisableBusyCursor();
  TScopeExit undo([s] { s->EnableBusyCursor(); });
  s->BeginBusy(true);
  undo.Release();
  FBusyHold = true;
}

void TIB_DataLink::EndBusy() {
  if (!FBusyHold) return;
  FBusyHold = false;
  if (TIB_Session* s = GetBoundSession()) {
    s->EndBusy();
    s->EnableBusyCursor();
  }
}

// ---------------------------------------------------------------------------------------------------------
// Consumer notices

void TIB_DataLink::DoEditingChanged() {
  SysEditingChanged();
  Fire(OnEditingChanged);
}

void TIB_DataLink::StateChanged() {
  const TIB_DatasetState s = GetDataState();
  const bool editable = (GetModifying() || s == dssSearch) && !GetStatePrevented();
  if (editable != FEditable) {
    FEditable = editable;
    const TIB_AliveFlag alive = FAlive;
    DoEditingChanged();
    IB_CheckAlive(alive);
  }
  Fire(OnStateChanged);
}

void TIB_DataLink::DataChange(TIB_Column* Field) {
  if (FUpdatingData || FModifyLevel > 0 || GetDisabled()) return;
  TIB_AliveCount<int32_t> level(FAlive, FModifyLevel);
  FireField(OnDataChange, Field);
}

void TIB_DataLink::UpdateData(TIB_Column* Field) {
  if (FUpdatingData) return;
  TIB_AliveRestorer<bool> updating(FAlive, FUpdatingData, true);
  FireField(OnUpdateData, Field);
}

void TIB_DataLink::Refresh() {
  const TIB_AliveFlag alive = FAlive;
  StateChanged();
  IB_CheckAlive(alive);
  DataChange(nullptr);
}

void TIB_DataLink::DoPreparedChanged() {
  Fire(OnPreparedChanged);
  if (!GetPrepared()) EndBusy();
}

void TIB_DataLink::DoBeforeAssignment() { Fire(BeforeAssignment); }

void TIB_DataLink::DoAfterAssignment() {
  SysActiveChanged();
  SysAfterAssignment();
  Fire(AfterAssignment);
  if (!GetPrepared()) EndBusy();
}

void TIB_DataLink::SysPrepareSQL() {
  DoPrepareSQL();
  if (TIB_Dataset* d = GetDataset(); d && !FSearchWhere.empty()) d->GetSearchConditions().Add(FSearchWhere);
}

// ---------------------------------------------------------------------------------------------------------
// Search criteria

void TIB_DataLink::InvalidateDatasetSQL() {
  if (TIB_Dataset* d = GetDataset()) d->Perform(dnInvalidateSQL);
}

bool TIB_DataLink::StoreCriteria(std::string& Text, const std::string& Value) {
  Text = Value;
  if (FCriteriaLevel > 0) {
    FCriteriaPending = true;
    return false;
  }
  FCriteriaPending = false;
  return true;
}

void TIB_DataLink::SetSearchBuffer(const std::string& Value) {
  if (Value == GetSearchBuffer()) return;
  if (!StoreCriteria(FSearchBuffer, Value)) return;
  InvalidateDatasetSQL();
  if (GetDataState() == dssSearch) DataChange(GetField());
}

void TIB_DataLink::SetSearchDisplay(const std::string& Value) {
  if (Value == FSearchDisplay) return;
  if (StoreCriteria(FSearchDisplay, Value) && GetDataState() == dssSearch) DataChange(GetField());
}

void TIB_DataLink::SetSearchWhere(const std::string& Value) {
  if (Value == FSearchWhere) return;
  if (StoreCriteria(FSearchWhere, Value)) InvalidateDatasetSQL();
}

void TIB_DataLink::SetSearchData(const std::string& Value) {
  if (Value != FSearchData) StoreCriteria(FSearchData, Value);
}

std::string TIB_DataLink::GetSearchDisplayText() { return FSearchDisplay.empty() ? GetSearchBuffer() : FSearchDisplay; }

void TIB_DataLink::ApplyCriteria(TIB_Column* Field) {
  if (!FCriteriaPending) return;
  FCriteriaPending = false;
  InvalidateDatasetSQL();
  if (GetDataState() == dssSearch) DataChange(Field);
}

void TIB_DataLink::ClearCriteria() {
  // (A key link's criteria move the dataset it serves, whose handlers may destroy the link.)
  const TIB_AliveFlag alive = FAlive;
  {
    TIB_AliveCount<int32_t> level(alive, FCriteriaLevel);
    SetSearchBuffer(std::string());
    SetSearchDisplay(std::string());
    SetSearchWhere(std::string());
    SetSearchData(std::string());
  }
  IB_CheckAlive(alive);
  ApplyCriteria(GetField());
}

void TIB_DataLink::ForgetCriteria() {
  const TIB_AliveFlag alive = FAlive;
  ClearCriteria();
  IB_CheckAlive(alive);
  FSavedBuffer.clear();
  FSavedDisplay.clear();
  FSavedWhere.clear();
  FSavedData.clear();
}

void TIB_DataLink::SaveCriteria() {
  FSavedBuffer = GetSearchBuffer();
  FSavedDisplay = GetSearchDisplayText();
  FSavedWhere = FSearchWhere;
  FSavedData = FSearchData;
}

void TIB_DataLink::RecallCriteria() {
  const TIB_AliveFlag alive = FAlive;
  {
    TIB_AliveCount<int32_t> level(alive, FCriteriaLevel);
    SetSearchBuffer(FSavedBuffer);
    SetSearchDisplay(FSavedDisplay);
    SetSearchWhere(FSavedWhere);
    SetSearchData(FSavedData);
  }
  IB_CheckAlive(alive);
  ApplyCriteria(nullptr);
}

void TIB_DataLink::SaveLastCriteria() {
  FLastBuffer = GetSearchBuffer();
  FLastDisplay = GetSearchDisplayText();
  FLastWhere = FSearchWhere;
  FLastData = FSearchData;
}

void TIB_DataLink::RecallLastCriteria() {
  const TIB_AliveFlag alive = FAlive;
  {
    TIB_AliveCount<int32_t> level(alive, FCriteriaLevel);
    SetSearchBuffer(FLastBuffer);
    SetSearchDisplay(FLastDisplay);
    SetSearchWhere(FLastWhere);
    SetSearchData(FLastData);
  }
  IB_CheckAlive(alive);
  ApplyCriteria(nullptr);
}

void TIB_DataLink::WriteCriteria() {
  const std::string name = GetLinkName();
  TIB_Dataset* d = GetDataset();
  TStrings* list = d ? d->GetSearchTransferList() : nullptr;
  if (name.empty() || !list) return;
  // Plain values by name: the application reads and writes the same list (only the first '=' of an
  // item splits it, so a value may hold '=' of its own).
  const std::string buffer = GetSearchBuffer();
  if (!buffer.empty()) list->SetValue(name, buffer);
  if (!FSearchWhere.empty()) list->SetValue(name + ".Where", FSearchWhere);
  if (!FSearchData.empty()) list->SetValue(name + ".Data", FSearchData);
  if (!FSearchDisplay.empty()) list->SetValue(name + ".Display", FSearchDisplay);
}

void TIB_DataLink::ReadCriteria() {
  const std::string name = GetLinkName();
  TIB_Dataset* d = GetDataset();
  TStrings* list = d ? d->GetSearchTransferList() : nullptr;
  if (name.empty() || !list) return;
  const TIB_AliveFlag alive = FAlive;
  {
    TIB_AliveCount<int32_t> level(alive, FCriteriaLevel);
    SetSearchBuffer(list->GetValue(name));
    SetSearchDisplay(list->GetValue(name + ".Display"));
    SetSearchWhere(list->GetValue(name + ".Where"));
    SetSearchData(list->GetValue(name + ".Data"));
  }
  IB_CheckAlive(alive);
  ApplyCriteria(nullptr);
}

void TIB_DataLink::SearchAction(int32_t Action) {
  if (GetDataState() == dssSearch) UpdateData(nullptr);
  switch (Action) {
    case saClear: ClearCriteria(); break;
    case saSave: SaveCriteria(); break;
    case saRecall: RecallCriteria(); break;
    case saSaveLast: SaveLastCriteria(); break;
    case saRecallLast: RecallLastCriteria(); break;
    case saWriteToList: WriteCriteria(); break;
    case saReadFromList: ReadCriteria(); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------------------
// TIB_ControlDataLink

TIB_ControlDataLink::TIB_ControlDataLink(TComponent* AOwner) : TIB_DataLink(AOwner), FControl(AOwner) {}

void TIB_ControlDataLink::SetFlag(bool& Flag, bool Value) {
  if (Flag == Value) return;
  Flag = Value;
  StateChanged();
}

void TIB_ControlDataLink::SetReadOnly(bool Value) { SetFlag(FReadOnly, Value); }
void TIB_ControlDataLink::SetPreventDeleting(bool Value) { SetFlag(FPreventDeleting, Value); }
void TIB_ControlDataLink::SetPreventEditing(bool Value) { SetFlag(FPreventEditing, Value); }
void TIB_ControlDataLink::SetPreventInserting(bool Value) { SetFlag(FPreventInserting, Value); }
void TIB_ControlDataLink::SetPreventSearching(bool Value) { SetFlag(FPreventSearching, Value); }

void TIB_ControlDataLink::SetModified(bool Value) {
  if (FModified == Value) return;
  FModified = Value;
  if (Value && GetDataState() == dssSearch) InvalidateDatasetSQL();
}

bool TIB_ControlDataLink::GetStatePrevented() {
  if (FReadOnly || TIB_DataLink::GetStatePrevented() || (GetControlEnabled && !GetControlEnabled())) return true;
  const TIB_DatasetState s = GetDataState();
  if (GetSearchAlways() || s == dssSearch) return FPreventSearching;
  if (s == dssBrowse) return GetRowState() != 0 ? FPreventEditing : FPreventInserting;
  return false;
}

bool TIB_ControlDataLink::GetPreventDeleting() { return FPreventDeleting || TIB_DataLink::GetPreventDeleting(); }
bool TIB_ControlDataLink::GetPreventEditing() { return FPreventEditing || TIB_DataLink::GetPreventEditing(); }
bool TIB_ControlDataLink::GetPreventInserting() { return TIB_DataLink::GetPreventInserting() || FPreventInserting; }
bool TIB_ControlDataLink::GetPreventSearching() { return TIB_DataLink::GetPreventSearching() || FPreventSearching; }

std::string TIB_ControlDataLink::GetLinkName() {
  if (!FControl) return std::string();
  if (TComponent* o = FControl->GetOwner()) return "CTL." + o->GetName() + "." + FControl->GetName();
  return "CTL." + FControl->GetName();
}

std::string TIB_ControlDataLink::GetSearchBuffer() {
  if (GetDataState() == dssSearch && FModified && !FUpdatingData) TIB_DataLink::UpdateData(nullptr);
  return TIB_DataLink::GetSearchBuffer();
}

void TIB_ControlDataLink::DataChange(TIB_Column* Field) {
  const TIB_AliveFlag alive = FAlive;
  TIB_DataLink::DataChange(Field);
  IB_CheckAlive(alive);
  FModified = false;
}

void TIB_ControlDataLink::UpdateData(TIB_Column* Field) {
  if (!FModified) return;
  const TIB_AliveFlag alive = FAlive;
  TIB_DataLink::UpdateData(Field);
  IB_CheckAlive(alive);
  FModified = false;
}

void TIB_ControlDataLink::Refresh() {
  const TIB_AliveFlag alive = FAlive;
  TIB_DataLink::Refresh();
  IB_CheckAlive(alive);
  if (OnRepaint) CallOut(OnRepaint);
}

TColor TIB_ControlDataLink::GetInvalidColor() {
  if (FControl && FControl->HasState(csDesigning)) return clWindow;
  return TIB_DataLink::GetInvalidColor();
}

namespace {

// The stored integer and its decimal places of an exact numeric column (SMALLINT, INTEGER, BIGINT,
// NUMERIC, DECIMAL); false for floating-point storage.
bool ReadScaled(TIB_Column& C, int64_t& Value, int& Scale) {
  const XSQLVAR* v = C.GetPSQLVAR();
  if (!v || !v->sqldata || v->sqlscale > 0) return false;
  switch (v->sqltype & ~1) {
    case SQL_SHORT: {
      int16_t x;
      std::memcpy(&x, v->sqldata, sizeof x);
      Value = x;
      break;
    }
    case SQL_LONG: {
      int32_t x;
      std::memcpy(&x, v->sqldata, sizeof x);
      Value = x;
      break;
    }
    case SQL_INT64: std::memcpy(&Value, v->sqldata, sizeof Value); break;
    default: return false;
  }
  Scale = -v->sqlscale;
  return true;
}

// Locale-independent SQL literal of a column's value: NULL, a number with '.', a timestamp in ISO form,
// or quoted text with its quotes doubled.
std::string SQLLiteral(TIB_Column& C) {
  if (C.GetIsNull()) return "NULL";
  int64_t scaled = 0;
  int scale = 0;
  if (C.GetIsNumericKind() && ReadScaled(C, scaled, scale)) {
    const bool negative = scaled < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    std::string digits = std::to_string(magnitude);
    if (scale > 0) {
      if (digits.size() <= static_cast<size_t>(scale))
        digits.insert(0, static_cast<size_t>(scale) + 1 - digits.size(), '0');
      digits.insert(digits.size() - static_cast<size_t>(scale), 1, '.');
    }
    return negative ? "-" + digits : digits;
  }
  if (C.GetIsNumericKind()) {
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, C.GetAsDouble());
    std::string text(buf, r.ptr);
    // The engine reads an exponent only behind a mantissa with a decimal point.
    const size_t e = text.find('e');
    if (e != std::string::npos && text.find('.') == std::string::npos) text.insert(e, ".0");
    return text;
  }
  if (C.GetIsDateTimeKind()) {
    const TDateTime v = C.GetAsDateTime();
    uint16_t y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
    DecodeDate(v, y, m, d);
    DecodeTime(v, h, n, s, ms);
    char buf[64];
    std::snprintf(buf, sizeof buf, "'%04u-%02u-%02u %02u:%02u:%02u.%03u'", y, m, d, h, n, s, ms);
    return buf;
  }
  return QuotedStr(C.GetAsString());
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// TIB_KeyDataLink

TIB_KeyDataLink::TIB_KeyDataLink(TComponent* AOwner, TIB_Dataset* ADataset)
    : TIB_DataLink(AOwner), FOwningDataset(ADataset) {}

TIB_KeyDataLink* TIB_KeyDataLink::ForDataset(const TIB_Dataset* ADataset) {
  return ADataset ? ADataset->GetKeyDataLink() : nullptr;
}

std::string TIB_KeyDataLink::GetLinkName() {
  if (!FOwningDataset) return std::string();
  if (TComponent* o = FOwningDataset->GetOwner()) return "KLNK." + o->GetName() + "." + FOwningDataset->GetName();
  return "KLNK." + FOwningDataset->GetName();
}

void TIB_KeyDataLink::OwnerStateChanged() {
  if (FStateNesting >= 2) return;
  TIB_AliveCount<int32_t> nesting(FAlive, FStateNesting);
  FOwningDataset->StateChanged();
}

void TIB_KeyDataLink::DoBeforeAssignment() {
  TIB_DataLink::DoBeforeAssignment();
  {
    TCountGuard<int32_t> sync(FSyncCount);
    TCountGuard<int32_t> level(FCriteriaLevel);
    SetSearchBuffer(std::string());
    SetSearchDisplay(std::string());
    SetSearchWhere(std::string());
    SetSearchData(std::string());
  }
  if (FCriteriaPending) {
    FCriteriaPending = false;
    InvalidateDatasetSQL();
  }
}

void TIB_KeyDataLink::DoAfterAssignment() {
  TIB_DataLink::DoAfterAssignment();
  if (FOwningDataset->HasState(csDestroying)) return;
  OwnerStateChanged();
  FOwningDataset->Perform(dnKeySourceSync);
}

void TIB_KeyDataLink::DoPreparedChanged() {
  TIB_DataLink::DoPreparedChanged();
  if (!GetPrepared()) ClearCriteria();
}

void TIB_KeyDataLink::SysBeforeRowChange() {
  if (FOwningDataset->GetActive()) FOwningDataset->CheckBrowseMode();
}

void TIB_KeyDataLink::MoveOwnerToSearchData() {
  // Only a dataset that can seek moves, and only to a row the criteria name.
  if (FSearchData.empty() || FOwningDataset->GetIsUnidirectional()) return;
  if (FOwningDataset->GetBookmark() != FSearchData) FOwningDataset->SetBookmark(FSearchData);
}

void TIB_KeyDataLink::StateChanged() {
  const TIB_AliveFlag alive = FAlive;
  TIB_DataLink::StateChanged();
  IB_CheckAlive(alive);
  if (FOwningDataset->HasState(csDestroying) || !FOwningDataset->GetPrepared()) return;
  OwnerStateChanged();
  IB_CheckAlive(alive);
  if (GetDataState() != dssSearch) return;
  TIB_AliveCount<int32_t> level(alive, FCriteriaLevel);
  if (!FOwningDataset->GetActive()) {
    if (FSearchData.empty()) return;
    FOwningDataset->Open();
  }
  MoveOwnerToSearchData();
}

void TIB_KeyDataLink::DataChange(TIB_Column* Field) {
  const TIB_AliveFlag alive = FAlive;
  {
    TIB_AliveCount<int32_t> level(alive, FModifyLevel);
    FireField(OnDataChange, Field);
  }
  IB_CheckAlive(alive);
  // The KeySource moved (a change of its whole row) or one of its key columns changed: the owning
  // dataset follows it (it does not while it writes its own key into the KeySource).
  if (FOwningDataset->HasState(csDestroying) || !FOwningDataset->GetActive() || GetDataState() == dssSearch) return;
  if (Field) {
    TIB_StringProperty& links = FOwningDataset->GetKeyLinks();
    bool key = false;
    for (int i = 0; i < links.Count() && !key; ++i) {
      const std::string name = Trim(links.GetName(i).empty() ? links.Get(i) : links.GetValueFromIndex(i));
      TIB_Row* row = Field->GetRow();
      TIB_Column* c = nullptr;
      key = row && row->FindByName(name, c) && c == Field;
    }
    if (!key) return;
  }
  FOwningDataset->Perform(dnKeySourceSync);
}

void TIB_KeyDataLink::SetSearchData(const std::string& Value) {
  TIB_DataLink::SetSearchData(Value);
  if (!FOwningDataset->GetActive() || FGuard || FSyncCount != 0) return;
  TIB_AliveCount<int32_t> level(FAlive, FCriteriaLevel);
  if (FOwningDataset->GetBookmark() == FSearchData) return;
  if (GetDataState() == dssSearch) {
    MoveOwnerToSearchData();
  } else if (GetPrepared()) {
    InvalidateDatasetSQL();
  }
}

void TIB_KeyDataLink::SyncCriteria() {
  if (FCriteriaLevel > 0 || FGuard) return;
  const TIB_AliveFlag alive = FAlive;
  TIB_AliveRestorer<bool> guard(alive, FGuard, true);
  if (FOwningDataset->GetActive()) {
    SetSearchData(FOwningDataset->GetBookmark());
    IB_CheckAlive(alive);
    SetSearchWhere(BuildKeyWhere());
  } else {
    ClearCriteria();
  }
}

std::string TIB_KeyDataLink::BuildKeyWhere() {
  TIB_Row* fields = FOwningDataset->GetFields();
  if (!fields || fields->GetRowState() == rsNone) return std::string();
  TIB_Dataset* k = GetDataset();
  const int32_t dialect = k ? k->GetSQLDialect() : 3;
  TIB_StringList& links = FOwningDataset->GetKeyLinks();
  std::string where;
  for (int i = 0; i < links.Count(); ++i) {
    const std::string own = links.GetLinkName(i);
    std::string other = links.GetLinkValue(i);
    if (other.empty()) other = own;
    TIB_Column* c = fields->ColumnByName(own);
    std::string ident;
    MakeSQLIdent(dialect, other, ident);
    where += where.empty() ? "(" : " AND ";
    where += c->GetIsNull() ? ident + " IS NULL" : ident + " = " + SQLLiteral(*c);
  }
  if (!where.empty()) where += ")";
  return where;
}

bool TIB_KeyDataLink::Modify() {
  if (!FOwningDataset->GetActive() || GetStatePrevented() || !GetDataset()) return false;
  TIB_StringList& links = FOwningDataset->GetKeyLinks();
  // A searching key source takes the key as criteria: its columns are not written.
  for (int i = 0; GetDataState() != dssSearch && i < links.Count(); ++i) {
    std::string other = links.GetLinkValue(i);
    if (other.empty()) other = links.GetLinkName(i);
    TIB_Column* c = GetDataset()->FindField(other);
    if (!c || c->GetReadOnly()) return false;
  }
  return TIB_DataLink::Modify();
}

// ---------------------------------------------------------------------------------------------------------
// TIB_MasterDataLink

TIB_MasterDataLink::TIB_MasterDataLink(TComponent* AOwner, TIB_Dataset* ADataset)
    : TIB_DataLink(AOwner), FOwningDataset(ADataset) {}

TIB_MasterDataLink* TIB_MasterDataLink::ForDataset(const TIB_Dataset* ADataset) {
  return ADataset ? ADataset->GetMasterDataLink() : nullptr;
}

TIB_DataSource* TIB_MasterDataLink::MasterSourceOf(const TIB_Dataset* ADataset) {
  return ADataset ? dynamic_cast<TIB_DataSource*>(ADataset->GetMasterSource()) : nullptr;
}

void TIB_MasterDataLink::DoAfterAssignment() {
  if (TIB_DataSource* s = GetDataSource()) {
    s->MoveDataLinkToFront(this);
    if (TIB_Dataset* m = s->GetDataset()) m->MoveDataSourceToFront(s);
  }
  if (!FOwningDataset->HasState(csDestroying)) FOwningDataset->ApplyMasterParams();
  TIB_DataLink::DoAfterAssignment();
}

void TIB_MasterDataLink::StateChanged() {
  const TIB_AliveFlag alive = FAlive;
  TIB_DataLink::StateChanged();
  IB_CheckAlive(alive);
  if (FNesting >= 2 || FOwningDataset->HasState(csDestroying)) return;
  TIB_AliveCount<int32_t> nesting(FAlive, FNesting);
  FOwningDataset->StateChanged();
}

void TIB_MasterDataLink::SysBeforeRowChange() {
  if (!FOwningDataset->GetActive() || FNesting >= 2) return;
  TIB_AliveCount<int32_t> nesting(FAlive, FNesting);
  FOwningDataset->CheckBrowseMode();
}

void TIB_MasterDataLink::DataChange(TIB_Column* Field) {
  const TIB_AliveFlag alive = FAlive;
  TIB_DataLink::DataChange(Field);
  // A change of a single column is an edit of the master's row, not a move to another one.
  IB_CheckAlive(alive);
  if (Field || FNesting >= 2 || GetDataState() == dssSearch || FOwningDataset->HasState(csDestroying)) return;
  TIB_AliveCount<int32_t> nesting(FAlive, FNesting);
  FOwningDataset->FollowMasterRow();
}

void TIB_MasterDataLink::SysPrepareSQL() {
  TIB_Dataset* d = FOwningDataset;
  TIB_Dataset* m = GetDataset();
  if (!m || d->HasState(csDestroying) || !d->GetMasterSearch() || d->GetState() != dssSearch) return;
  // The detail's criteria as they stand now: its base WHERE holds them.
  if (!d->PrepareCore() || d->GetSearchConditions().Count() == 0) return;
  std::string where;
  for (TStrings* lines : {static_cast<TStrings*>(&d->GetMasterLinks()), static_cast<TStrings*>(&d->GetJoinLinks())}) {
    for (int i = 0; i < lines->Count(); ++i) {
      where += where.empty() ? "WHERE " : "\r\n  AND ";
      where += (*lines)[i];
    }
  }
  if (where.empty()) return;
  if (!d->GetBaseWhere().empty()) AppendWhereCondition(where, d->GetBaseWhere());
  m->GetAddedConditions().Add("EXISTS ( \r\n\r\nSELECT * " + Trim(GetSQLFrom(d->GetSQL().GetText())) + "\r\n" +
                              Trim(where) + ")\r\n\r\n");
  // The detail's parameters that its criteria name become the master's, with the detail's values.
  const std::string base = UpperCase(d->GetBaseWhere());
  TIB_Row* params = d->GetParams();
  for (int i = 0; params && i < params->GetColumnCount(); ++i) {
    TIB_Column* p = params->GetColumns(i);
    const std::string name = p->GetBestName();
    if (name.empty() || p->GetIsNull() || p->GetIsBlobKind() || p->GetIsArrayKind()) continue;
    const std::string upper = UpperCase(name);
    if (base.find(":" + upper) == std::string::npos && base.find("?" + upper) == std::string::npos) continue;
    if (m->GetBuildParams().IndexOfName(name) >= 0) continue;
    m->GetBuildParams().Add(name + "=" + p->GetAsString());
  }
}
