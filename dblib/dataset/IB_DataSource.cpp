#include "dblib/dataset/IB_DataSource.h"

#include <algorithm>
#include <set>

#include "dblib/IB_Constants.h"
#include "dblib/data/IB_Row.h"
#include "dblib/dataset/IB_DataLink.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

// Calls Fn for each link of a snapshot of List that is still registered when its turn comes. A link's
// handler may destroy the data source (Alive is its token) and with it the list: the walk then ends
// with the silent abort. A link destroyed alone by a handler (a control's link going with its form)
// ends with the silent abort too: the notice that reached it ends there and the walk goes on with the
// next link. A link that went with the component owning it (a detail's or lookup's link, with the
// dataset a handler destroyed) ends the walk with the silent abort, as that dataset's entry points do.
template <class F>
void ForEachRegistered(const TIB_AliveFlag& Alive, const std::vector<TIB_DataLink*>& Snapshot,
                       const std::vector<TIB_DataLink*>& List, F&& Fn) {
  const TIB_AliveFlag alive = Alive;
  for (TIB_DataLink* l : Snapshot) {
    if (std::find(List.begin(), List.end(), l) == List.end()) continue;
    const TIB_AliveFlag link = l->GetAlive();
    const auto* owner = dynamic_cast<const TIB_Component*>(l->GetOwner());
    const TIB_AliveFlag owning = owner ? owner->GetAlive() : alive;
    try {
      Fn(l);
    } catch (const EAbort&) {
      if (link.Get() || !owning.Get()) throw;
    }
    IB_CheckAlive(alive);
  }
}

}  // namespace

TIB_DataSource::TIB_DataSource(TComponent* AOwner) : TIB_StatementLink(AOwner) {
  if (GetBoundSession()) JoinSessionRegistry(srDataSources);
}

TIB_DataSource::~TIB_DataSource() = default;

void TIB_DataSource::BeforeDestruction() {
  // Datasets that name this source as their KeySource or MasterSource let go of it first.
  const std::vector<TIB_DataLink*> links = FDataLinks;
  for (TIB_DataLink* l : links) {
    if (!HasDataLink(l)) continue;
    if (auto* k = dynamic_cast<TIB_KeyDataLink*>(l); k && k->GetOwningDataset()->GetKeySource() == this) {
      RunReported([&] { k->GetOwningDataset()->SetKeySource(nullptr); });
    } else if (auto* m = dynamic_cast<TIB_MasterDataLink*>(l); m && m->GetOwningDataset()->GetMasterSource() == this) {
      RunReported([&] { m->GetOwningDataset()->SetMasterSource(nullptr); });
    }
  }
  RunReported([&] { SetDataset(nullptr); });
  // Each link takes itself out of the list; one that refuses is dropped all the same.
  while (!FDataLinks.empty()) {
    TIB_DataLink* l = FDataLinks.front();
    RunReported([&] { l->SetDataSource(nullptr); });
    if (!FDataLinks.empty() && FDataLinks.front() == l) l->DropDataSource();
  }
  if (TIB_Session* s = GetBoundSession()) {
    if (s->GetFocused(frDataSource) == this) s->SetFocused(frDataSource, nullptr);
  }
  LeaveSessionRegistry(srDataSources);
  TIB_StatementLink::BeforeDestruction();
}

void TIB_DataSource::SetSession(TIB_Session* ASession) {
  if (ASession == GetBoundSession()) return;
  if (TIB_Session* s = GetBoundSession()) {
    if (s->GetFocused(frDataSource) == this) s->SetFocused(frDataSource, nullptr);
  }
  LeaveSessionRegistry(srDataSources);
  TIB_StatementLink::SetSession(ASession);
  JoinSessionRegistry(srDataSources);
}

// ---------------------------------------------------------------------------------------------------------
// The dataset

TIB_Dataset* TIB_DataSource::GetDataset() const { return static_cast<TIB_Dataset*>(GetStatement()); }

bool TIB_DataSource::LeadsBackHere(TIB_Dataset* Value) const {
  std::set<const TIB_Dataset*> visited;
  for (TIB_Dataset* d = Value; d && visited.insert(d).second;) {
    TIB_DatasetLinkSource* master = d->GetMasterSource();
    if (master == this) return true;
    d = master ? master->GetLinkDataset() : nullptr;
  }
  return false;
}

void TIB_DataSource::SetDataset(TIB_Dataset* Value) { SetStatement(Value); }

void TIB_DataSource::SetStatement(TIB_Statement* AStatement) {
  auto* dataset = dynamic_cast<TIB_Dataset*>(AStatement);
  if (AStatement && !dataset) IB_Raise<EIB_DatasetError>(IBMsg::InvalidClassType);
  // Checked here too: a statement set directly must not close a master-detail circle either.
  if (LeadsBackHere(dataset)) IB_Raise<EIB_DatasetError>(IBMsg::CircularReferenceNotAllowed);
  if (AStatement == GetStatement()) return;
  if (TIB_Dataset* old = GetDataset()) old->DetachDataSource(this);
  TIB_StatementLink::SetStatement(AStatement);
  // A handler of the move may have moved the source on: follow where it is now.
  if (TIB_Dataset* now = GetDataset()) now->AttachDataSource(this);
}

void TIB_DataSource::DatasetStateChanged(TIB_Dataset* ADataset) {
  if (ADataset == GetDataset()) NotifyDataLinks();
}

void TIB_DataSource::DatasetDestroying(TIB_Dataset* ADataset) {
  if (ADataset == GetDataset()) SetDataset(nullptr);
  ADataset->DetachDataSource(this);
}

// ---------------------------------------------------------------------------------------------------------
// Events

void TIB_DataSource::Fire(const TIB_DataSourceEvent& Event) {
  if (Event && CanFire()) CallOut(Event, this, GetDataset());
}

void TIB_DataSource::FireColumn(const TIB_ColLinkEvent& Event, intptr_t AArg) {
  if (Event && CanFire()) CallOut(Event, this, GetStatement(), reinterpret_cast<TIB_Column*>(AArg));
}

void TIB_DataSource::DoPrepareSQL() {
  TIB_StatementLink::DoPrepareSQL();
  const std::vector<TIB_DataLink*> snapshot = FDataLinks;
  ForEachRegistered(FAlive, snapshot, FDataLinks, [](TIB_DataLink* l) { l->SysPrepareSQL(); });
}

void TIB_DataSource::ProcessEvent(int32_t AEvent, intptr_t AArg) {
  TIB_StatementLink::ProcessEvent(AEvent, AArg);
  if (CanFire()) {
    switch (AEvent) {
      case sleBeforeLeave: Fire(BeforeAssignment); break;
      case sleAfterJoin:
        Fire(AfterAssignment);
        NotifyDataLinks();
        ProcessEvent(sleDataChange, 0);
        break;
      case sleDataChange:
        if (FUpdateCount == 0) {
          FireColumn(OnDataChange, AArg);
        } else {
          FDataPending = true;
        }
        break;
      case sleUpdateData:
        if (FUpdateCount == 0) FireColumn(OnUpdateData, AArg);
        break;
      default: break;
    }
  }
  // While disabled only the assignment pair and the column release and re-bind reach the links.
  if (FUpdateCount > 0 && AEvent != sleBeforeLeave && AEvent != sleAfterJoin && AEvent != sleColumnsReleased &&
      AEvent != sleColumnsRebind) {
    return;
  }
  const std::vector<TIB_DataLink*> snapshot = FDataLinks;
  ForEachRegistered(FAlive, snapshot, FDataLinks, [&](TIB_DataLink* l) { l->ProcessEvent(AEvent, AArg); });
}

void TIB_DataSource::NotifyDataLinks() {
  if (FUpdateCount > 0) {
    FStatePending = true;
    return;
  }
  Fire(OnStateChanged);
  const std::vector<TIB_DataLink*> snapshot = FDataLinks;
  ForEachRegistered(FAlive, snapshot, FDataLinks, [](TIB_DataLink* l) { l->StateChanged(); });
  // Links that joined during the walk are told once too.
  std::vector<TIB_DataLink*> joined;
  for (TIB_DataLink* l : FDataLinks) {
    if (std::find(snapshot.begin(), snapshot.end(), l) == snapshot.end()) joined.push_back(l);
  }
  ForEachRegistered(FAlive, joined, FDataLinks, [](TIB_DataLink* l) { l->StateChanged(); });
}

void TIB_DataSource::SetEnabled(bool Value) {
  if (Value == GetEnabled()) return;
  if (!Value) {
    FStatePending = false;
    FDataPending = false;
    ++FUpdateCount;
    return;
  }
  --FUpdateCount;
  const bool statePending = std::exchange(FStatePending, false);
  const bool dataPending = std::exchange(FDataPending, false);
  if (statePending) NotifyDataLinks();
  if (statePending || dataPending) FireColumn(OnDataChange, 0);
}

// ---------------------------------------------------------------------------------------------------------
// Links

void TIB_DataSource::AddDataLink(TIB_DataLink* ALink) {
  if (ALink && !HasDataLink(ALink)) FDataLinks.push_back(ALink);
}

void TIB_DataSource::RemoveDataLink(TIB_DataLink* ALink) {
  FDataLinks.erase(std::remove(FDataLinks.begin(), FDataLinks.end(), ALink), FDataLinks.end());
}

bool TIB_DataSource::HasDataLink(const TIB_DataLink* ALink) const {
  return std::find(FDataLinks.begin(), FDataLinks.end(), ALink) != FDataLinks.end();
}

TIB_DataLink* TIB_DataSource::GetDataLink(int32_t Index) const {
  if (Index < 0 || Index >= Get_DataLinkCount()) return nullptr;
  return FDataLinks[static_cast<size_t>(Index)];
}

void TIB_DataSource::MoveDataLinkToFront(TIB_DataLink* ALink) {
  auto it = std::find(FDataLinks.begin(), FDataLinks.end(), ALink);
  if (it != FDataLinks.end()) std::rotate(FDataLinks.begin(), it, it + 1);
}

// ---------------------------------------------------------------------------------------------------------
// Queries

TIB_DatasetState TIB_DataSource::GetState() const {
  TIB_Dataset* d = GetDataset();
  return d ? d->GetState() : dssInactive;
}

uint8_t TIB_DataSource::GetRowState() const {
  TIB_Dataset* d = GetDataset();
  return d && d->GetFields() ? static_cast<uint8_t>(d->GetFields()->GetRowState()) : 0;
}

bool TIB_DataSource::GetEof() const {
  TIB_Dataset* d = GetDataset();
  return !d || d->GetEof();
}

bool TIB_DataSource::GetBof() const {
  TIB_Dataset* d = GetDataset();
  return !d || d->GetBof();
}

bool TIB_DataSource::GetReadOnly() const {
  TIB_Dataset* d = GetDataset();
  if (!d) return true;
  return d->GetState() != dssSearch && d->GetReadOnly();
}

bool TIB_DataSource::GetModifying() const { return GetPrepared() && GetDataset()->GetIsModifying(); }

bool TIB_DataSource::GetCanModify() {
  if (!GetPrepared()) return false;
  if (Perform(dsnModifying)) return true;
  if (!GetDataset()->GetCanModify()) return false;
  return GetRowState() != 0 ? FAutoEdit : FAutoInsert;
}

// ---------------------------------------------------------------------------------------------------------
// Requests

bool TIB_DataSource::Perform(int32_t Code) {
  TIB_Dataset* d = GetDataset();
  switch (Code) {
    case dsnEditRequest:
      if (d && d->GetState() != dssEdit && GetPrepared() && FAutoEdit) d->Edit();
      return d && d->GetState() == dssEdit;
    case dsnInsertRequest:
      if (d && d->GetState() != dssInsert && GetPrepared() && FAutoInsert &&
          !(GetRowState() != 0 && d->GetIsUnidirectional())) {
        d->Insert();
      }
      return d && d->GetState() == dssInsert;
    case dsnModifyRequest:
      if (!Perform(dsnModifying) && d) {
        if (!Perform(dsnEditRequest) && GetRowState() == 0) Perform(dsnInsertRequest);
      }
      return Perform(dsnModifying);
    case dsnModifying: {
      const TIB_DatasetState s = GetState();
      return s == dssSearch || s == dssEdit || s == dssInsert;
    }
    case dsnRefresh: ProcessEvent(sleDataChange, 0); return true;
    case dsnFocusRequest:
      if (FAllowFocus) {
        if (TIB_Session* s = GetSession()) s->SetFocused(frDataSource, this);
      }
      return FAllowFocus;
    default: return false;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Focus

void TIB_DataSource::SetAnnounceFocus(bool Value) {
  FAnnounceFocus = Value;
  if (Value) FAllowFocus = true;
}

void TIB_DataSource::SetAllowFocus(bool Value) {
  FAllowFocus = Value;
  if (!Value) FAnnounceFocus = false;
}

void TIB_DataSource::DoGainFocus() { Fire(OnGainFocus); }

void TIB_DataSource::DoLoseFocus() { Fire(OnLoseFocus); }

TIB_Component* TIB_DataSource::GetFocusPeer(TIB_FocusRole Role) const {
  return Role == frDataset ? GetDataset() : nullptr;
}
