// TIB_BDataset: keeping the buffer in step with edits, inserts and deletes, and cached updates (held
// in the buffer, applied inside a savepoint, then accepted after the commit or cancelled).
#include <algorithm>
#include <cstring>
#include <functional>

#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_BindingCursor.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

// ---------------------------------------------------------------------------------------------------------
// The buffer follows the dataset's writes

void TIB_BDataset::WriteBackNode(TIB_Node* Node, bool KeepOldKey) {
  if (!Node || Node->IsSentinel()) return;
  FNodeList->PackRow(Node, *FFields);
  TIB_Row* key = GetKeyFields();
  if (!key || key->GetColumnCount() == 0) {
    if (Node->Has(nfInserted) || FState == dssInsert) {
      // Without key columns an inserted row is keyed by a number no fetched row has.
      const int32_t k = --FInsertKey;
      std::vector<uint8_t> bytes(static_cast<size_t>(FNodeList->GetKeyLength()), 0);
      std::memcpy(bytes.data(), &k, std::min(bytes.size(), sizeof k));
      FNodeList->SetNodeKey(Node, bytes.data());
    }
    return;
  }
  FillKeyRow();
  KeyFromKeyRow(FKeyScratch);
  if (std::memcmp(FKeyScratch.data(), Node->KeyData(), FKeyScratch.size()) == 0) return;
  if (KeepOldKey && !Node->Has(nfInserted)) FNodeList->KeepOldKey(Node);
  FNodeList->SetNodeKey(Node, FKeyScratch.data());
}

void TIB_BDataset::SysCloseIfUnidirectional() {
  // An insert begins: the new row gets its node at the current row, or after the last row when appended.
  if (!FPrepared) return;
  if (GetAppending())
    FNodeList->SetRowPosition(FNodeList->GetTail(), FNodeList->GetCount() + 1, FNodeList->HiddenCount());
  FNodeList->InsertAtRow();
  SyncPosition();
}

void TIB_BDataset::SysPost(bool CancelUnmodified, bool Retaining) {
  if (Retaining && FCachedUpdates && GetIsModifying()) {
    IB_Raise<EIB_DatasetError>(IBMsg::CannotUsePostRetainingWithCachedUpdates);
  }
  // The rows are read again only once the post is over and the dataset browses.
  TIB_AliveExit dropReread(FAlive, [this] { FRereadAfterPost = false; });
  TIB_Dataset::SysPost(CancelUnmodified, Retaining);
  if (FRereadAfterPost && FState == dssBrowse) {
    FRereadAfterPost = false;
    RereadRowsAfterInsert();
  }
}

void TIB_BDataset::RereadRowsAfterInsert() {
  TIB_Node* n = FNodeList->GetRowCursor().Node;
  TIB_Row* key = GetKeyFields();
  bool serverKeyed = n->IsSentinel() || !key || key->GetColumnCount() == 0;
  for (int i = 0; !serverKeyed && i < key->GetColumnCount(); ++i) serverKeyed = key->GetColumns(i)->GetIsNull();
  if (serverKeyed) {
    // The server chose the row's key (a DB_KEY, a key a trigger filled): read again, the rows show it
    // under that key; the posted copy could neither be found nor written again.
    Refresh();
    return;
  }
  // The server holds the row under the key written, outside the query's conditions: the other rows are
  // read again, and the posted row stays shown as posted at its place rather than vanishing from view.
  const std::vector<uint8_t> keyBytes(n->KeyData(), n->KeyData() + FNodeList->GetKeyLength());
  const std::vector<uint8_t> record(n->RecordData, n->RecordData + std::max(n->RecordLength, 0));
  const int32_t row = GetRowNum();
  Refresh();
  if (!FActive || BufferedNode(keyBytes)) return;
  FetchUntil(row);
  TIB_NodeList::TCursor at =
      row <= GetBufferCount()
          ? FNodeList->LocateVisibleRow(row)
          : TIB_NodeList::TCursor{FNodeList->GetTail(), FNodeList->GetCount() + 1, FNodeList->HiddenCount()};
  FNodeList->SetRowPosition(at.Node, at.Row, at.DeletedBefore);
  TIB_Node* back = FNodeList->InsertAtRow();
  FNodeList->SetNodeKey(back, keyBytes.data());
  FNodeList->SetRecord(back, record.data(), static_cast<int32_t>(record.size()));
  TIB_AliveRestorer<bool> leaving(FAlive, FLeavingRow, true);
  MoveToNode(FNodeList->GetRowCursor());
}

bool TIB_BDataset::BlobsWritten() {
  for (const auto* list : {&FFields->GetBlobColumns(), &FFields->GetArrayColumns()}) {
    for (TIB_Column* c : *list) {
      if (ColumnValueChanged(*c)) return true;
    }
  }
  return false;
}

void TIB_BDataset::SysPostEdit() {
  const bool blobs = BlobsWritten();
  TIB_Dataset::SysPostEdit();
  WriteBackNode(FNodeList->GetRowCursor().Node, false);
  SynchroAfterPost(bsAfterEdit, blobs);
}

void TIB_BDataset::SysPostInsert() {
  const bool blobs = BlobsWritten();
  TIB_Dataset::SysPostInsert();
  WriteBackNode(FNodeList->GetRowCursor().Node, false);
  SynchroAfterPost(bsAfterInsert, blobs);
}

void TIB_BDataset::SynchroAfterPost(TIB_BufferSynchroFlag Flag, bool Blobs) {
  if (FCachedUpdates || FApplying) return;
  TIB_Node* n = FNodeList->GetRowCursor().Node;
  if (n->IsSentinel() || FFieldsCursor->BuildSQL().empty()) return;
  if (!(FBufferSynchroFlags & IB_BufferSynchroFlag(Flag))) {
    // A blob or array written gets a new id at the server; the id the row was posted with was a
    // temporary one, which reads as nothing afterwards and would empty the value at the next write.
    // The row is read again for its ids (it stays as posted when it no longer matches the query).
    if (Blobs && FFieldsCursor->FetchNode(n, true, false)) LoadCurrentRow();
    return;
  }
  // Read by the key just written (the node already carries it). An edited row that no longer matches
  // the query leaves the buffer; an inserted one that cannot be read so has the rows read again once
  // the post is over (RereadRowsAfterInsert).
  if (Flag == bsAfterEdit) {
    RefreshRow();
  } else if (FFieldsCursor->FetchNode(n, true, false)) {
    LoadCurrentRow();
  } else {
    FRereadAfterPost = true;
  }
}

void TIB_BDataset::SysLockRow() {
  if (!FCachedUpdates && ((FBufferSynchroFlags & IB_BufferSynchroFlag(bsBeforeEdit)) || !FSearchedEdits) &&
      !FNodeList->GetRowCursor().Node->IsSentinel() && !FFieldsCursor->BuildSQL().empty()) {
    // The edit starts from the row as the server has it now; a row gone there cannot be edited.
    if (!RefreshRow()) IB_Raise<EIB_DatasetError>(IBMsg::RecordKeyWasLostFailedTo);
  }
  TIB_Dataset::SysLockRow();
}

void TIB_BDataset::SysRevertRow() {
  // A cancelled insert: its node goes and the row after it is shown.
  TIB_Node* n = FNodeList->GetRowCursor().Node;
  RemoveCurrentNode(!n->IsSentinel() && n->RecordLength == 0 && !n->Has(nfInserted | nfModified | nfDeleted));
}

void TIB_BDataset::DoCustomDelete() {
  TIB_Dataset::DoCustomDelete();
  if (FCachedUpdates || FApplying) return;
  RemoveCurrentNode(true);
}

void TIB_BDataset::MoveOffCurrent() { RemoveCurrentNode(false); }

void TIB_BDataset::RemoveCurrentNode(bool Remove) {
  // The row after the one that leaves the view takes its place (fetched when not buffered yet); only at
  // the end of the result the row before it.
  const TIB_NodeList::TCursor c = FNodeList->GetRowCursor();
  if (c.Node->IsSentinel()) {
    LoadCurrentRow();
    SyncPosition();
    return;
  }
  const bool bufferFollows = FNodeList->GetBufferCursor().Node == c.Node;
  const int32_t next = c.Row - c.DeletedBefore + (c.Node->Has(nfDeleted) ? 1 : 0);
  if (Remove) FNodeList->RemoveNode(c.Node);
  FetchUntil(next);
  const int32_t visible = GetBufferCount();
  TIB_NodeList::TCursor to;
  if (next <= visible) {
    to = FNodeList->LocateVisibleRow(next);
  } else if (visible > 0) {
    to = FNodeList->LocateVisibleRow(visible);
  } else {
    to = {FNodeList->GetTail(), FNodeList->GetCount() + 1, FNodeList->HiddenCount()};
  }
  if (bufferFollows) FNodeList->SetBufferPosition(to.Node, to.Row, to.DeletedBefore);
  TIB_AliveRestorer<bool> leaving(FAlive, FLeavingRow, true);
  MoveToNode(to);
}

// ---------------------------------------------------------------------------------------------------------
// Cached updates

void TIB_BDataset::SetCachedUpdates(bool Value) {
  if (Value == FCachedUpdates) return;
  if (!Value) CancelUpdates();
  FCachedUpdates = Value;
}

bool TIB_BDataset::GetUpdatesPending() {
  return FNodeList->GetModifiedCount() > 0 || FNodeList->GetInsertedCount() > 0 || FNodeList->GetDeletedCount() > 0;
}

int32_t TIB_BDataset::GetUpdateStatus() {
  const TIB_Node* n = FNodeList->GetRowCursor().Node;
  if (n->IsSentinel()) return usUnmodified;
  if (n->Has(nfDeleted)) return usDeleted;
  if (n->Has(nfInserted)) return usInserted;
  if (n->Has(nfModified)) return usModified;
  return usUnmodified;
}

void TIB_BDataset::SysNotifyDyn18() {
  RestoreCachedInserts();
  TIB_Dataset::SysNotifyDyn18();
}

void TIB_BDataset::RestoreCachedInserts() {
  if (FNodeList->GetInsertedCount() == 0 || FNodeList->GetRetainedCount() == 0) return;
  std::vector<TIB_Node*> inserted;
  for (TIB_Node* n = FNodeList->GetRetained(); n; n = n->Next) {
    if (n->Has(nfInserted) && n->RecordLength > 0) inserted.push_back(n);
  }
  if (inserted.empty()) return;
  // The retained list holds the newest first: put them back in the order they were shown.
  std::reverse(inserted.begin(), inserted.end());
  TIB_Dataset* m = GetMasterDataset();
  TIB_Row* mf = m && m->GetPrepared() && FMasterLinks.Count() > 0 ? m->GetFields() : nullptr;
  auto underMaster = [&](TIB_Node* n) {
    if (!mf) return true;
    FNodeList->UnpackRow(n, *FFields);
    for (int i = 0; i < FMasterLinks.Count(); ++i) {
      TIB_Column *d = nullptr, *c = nullptr;
      const std::string master = Trim(FMasterLinks.GetValueFromIndex(i));
      const int dot = CharPosOutsideQuotes('.', master, 1);
      if (!FindLinkedColumn(FMasterLinks.GetName(i), d) ||
          !(mf->FindByName(master, c) || (dot > 0 && mf->FindByName(master.substr(static_cast<size_t>(dot)), c)))) {
        continue;
      }
      if (d->GetIsNull() != c->GetIsNull() || (!d->GetIsNull() && d->GetAsString() != c->GetAsString())) return false;
    }
    return true;
  };
  const TIB_Node* row = FNodeList->GetRowCursor().Node;
  const TIB_Node* buffer = FNodeList->GetBufferCursor().Node;
  std::vector<TIB_Node*> restore;
  for (TIB_Node* n : inserted) {
    if (underMaster(n)) restore.push_back(n);
  }
  const bool restored = !restore.empty();
  // They go after the last fetched row, where they were appended: the rest of the result comes first
  // (only when there are such rows, a detail's handful as a rule).
  if (restored) FetchUntil(-1);
  for (TIB_Node* n : restore) FNodeList->RestoreRetained(n);
  if (!restored) {
    if (mf) LoadCurrentRow();
    return;
  }
  // The cursors keep their nodes; a dataset that had no row shows the first one.
  int32_t r = 0, db = 0;
  if (!buffer->IsSentinel()) {
    FNodeList->IndexOfNode(const_cast<TIB_Node*>(buffer), r, db);
    FNodeList->SetBufferPosition(const_cast<TIB_Node*>(buffer), r, db);
  }
  if (row->IsSentinel()) {
    MoveToNode(FNodeList->IsEmpty() ? TIB_NodeList::TCursor{FNodeList->GetHead(), 0, 0}
                                    : FNodeList->LocateVisibleRow(1));
  } else {
    LoadCurrentRow();
    SyncPosition();
  }
}

void TIB_BDataset::SyncPendingNotice() {
  TIB_Transaction* now = GetUpdatesPending() ? GetIB_Transaction() : nullptr;
  if (now == FPendingNotified) return;
  if (FPendingNotified) FPendingNotified->AdjustUpdatesPendingCount(-1);
  FPendingNotified = nullptr;
  if (now) {
    now->AdjustUpdatesPendingCount(1);
    FPendingNotified = now;
  }
}

void TIB_BDataset::DropUpdatesForReprepare() {
  // A new description makes the buffered changes meaningless: they are dropped and no longer counted.
  if (FNodeList->GetUpdateListCount() == 0 && !FPendingNotified) return;
  FAppliedNodes.clear();
  FNodeList->ClearAll();
  SyncPendingNotice();
}

void TIB_BDataset::HoldBlobs() {
  // A blob or array typed into a cached change stays in memory with the row's node until the apply
  // writes it in the applying transaction: an id given by the server now would die with this
  // transaction, and a cached change outlives it. The row's column holds a zero id, not null, while its
  // value is held (no value read from the server has a zero id).
  TIB_Node* n = FNodeList->GetRowCursor().Node;
  XSQLDA* da = FFields->GetPSQLDA();
  if (n->IsSentinel() || !da || (FFields->GetBlobCount() == 0 && FFields->GetArrayCount() == 0)) return;
  for (int i = 0; i < da->sqln; ++i) {
    TIB_BlobNode* own = FFields->GetBlobNode(i);
    if (!own || (own->BlobFlag & bnfModified) == 0) continue;
    const XSQLVAR& var = da->sqlvar[i];
    int16_t ind = 0;
    if (var.sqlind) std::memcpy(&ind, var.sqlind, sizeof ind);
    ISC_QUAD id{};
    if (var.sqldata) std::memcpy(&id, var.sqldata, sizeof id);
    TIB_BlobNodeList& held = FNodeList->ExtraOf(n).BlobNodes;
    DropHeldBlob(held, static_cast<int16_t>(i));
    if (ind != -1 && IsZeroQuad(id)) {
      auto entry = std::make_unique<TIB_BlobNode>();
      CopyBlobNode(*own, *entry, true);
      entry->BlobID = ISC_QUAD{};
      entry->FieldNo = static_cast<int16_t>(i);
      entry->BlobFlag = 0;
      entry->Next = std::move(held);
      held = std::move(entry);
      FHeldBlobs = true;
    }
    ClearBlobNode(*own);
  }
  ShowHeldBlobs(n, *FFields);
}

void TIB_BDataset::DropHeldBlob(TIB_BlobNodeList& List, int16_t FieldNo) {
  for (TIB_BlobNodeList* link = &List; *link;) {
    if ((*link)->FieldNo == FieldNo && IsZeroQuad((*link)->BlobID)) {
      *link = std::move((*link)->Next);  // frees the entry
    } else {
      link = &(*link)->Next;
    }
  }
}

void TIB_BDataset::ShowHeldBlobs(const TIB_Node* Node, TIB_Row& Row) {
  // The row's cache keeps entries under a zero id only for the values held for the row it shows: the
  // entries of the row it showed before go, those of Node come in.
  TIB_BlobNodeList& list = Row.GetBlobNodeList();
  for (TIB_BlobNodeList* link = &list; *link;) {
    if (IsZeroQuad((*link)->BlobID)) {
      *link = std::move((*link)->Next);
    } else {
      link = &(*link)->Next;
    }
  }
  if (Node->IsSentinel() || !Node->HasBlobNodes()) return;
  for (const TIB_BlobNode* held = Node->Extra->BlobNodes.get(); held; held = held->Next.get()) {
    if (!IsZeroQuad(held->BlobID) || !Row.GetBlobNode(held->FieldNo)) continue;
    auto copy = std::make_unique<TIB_BlobNode>();
    CopyBlobNode(const_cast<TIB_BlobNode&>(*held), *copy, false);
    copy->Next = std::move(list);
    list = std::move(copy);
  }
}

void TIB_BDataset::TakeHeldBlobs(const TIB_Node* Node) {
  // The apply writes the held values as the row's own typed values (the post writes those first). No
  // value typed for a row applied before (one a handler skipped) is left for this one.
  XSQLDA* da = FFields->GetPSQLDA();
  if (!FHeldBlobs || !da) return;
  for (int i = 0; i < da->sqln; ++i) {
    if (TIB_BlobNode* own = FFields->GetBlobNode(i); own && (own->BlobFlag & bnfModified) != 0) ClearBlobNode(*own);
  }
  if (!Node->HasBlobNodes()) return;
  for (const TIB_BlobNode* held = Node->Extra->BlobNodes.get(); held; held = held->Next.get()) {
    TIB_BlobNode* own = FFields->GetBlobNode(held->FieldNo);
    if (!own || !IsZeroQuad(held->BlobID)) continue;
    const XSQLVAR& var = da->sqlvar[held->FieldNo];
    int16_t ind = 0;
    if (var.sqlind) std::memcpy(&ind, var.sqlind, sizeof ind);
    ISC_QUAD id{};
    if (var.sqldata) std::memcpy(&id, var.sqldata, sizeof id);
    if (ind == -1 || !IsZeroQuad(id)) continue;
    CopyBlobNode(const_cast<TIB_BlobNode&>(*held), *own, false);
    own->BlobFlag |= bnfModified;
  }
}

void TIB_BDataset::FreeHeldBlobs(TIB_Node* Node) {
  if (Node->HasBlobNodes()) FreeBlobNodeList(Node->Extra->BlobNodes);
}

void TIB_BDataset::SysApplyUpdate(bool CancelUnmodified) {
  if (FState == dssEdit || FState == dssInsert) {
    // A row whose ordering value changed may now stand out of the query's order (until it is fetched
    // again in order).
    TIB_Node* n = FNodeList->GetRowCursor().Node;
    TIB_Column* ordering = n->IsSentinel() ? nullptr : OrderingColumn();
    if (ordering && ordering->GetIsModified()) n->Flags |= nfOutOfOrder;
  }
  if (!FCachedUpdates || FApplying) {
    TIB_Dataset::SysApplyUpdate(CancelUnmodified);
    return;
  }
  TIB_Node* n = FNodeList->GetRowCursor().Node;
  if (n->IsSentinel()) return;
  switch (FState) {
    case dssEdit:
      FNodeList->MarkChanged(n, nfModified);
      HoldBlobs();
      WriteBackNode(n, true);
      FFields->ResetRow(false, false, false);
      break;
    case dssInsert:
      FNodeList->MarkChanged(n, nfInserted);
      HoldBlobs();
      WriteBackNode(n, false);
      FFields->ResetRow(false, false, false);
      break;
    case dssDelete:
      if (!ConfirmDelete()) throw EAbort();
      if (n->Has(nfInserted)) {
        RemoveCurrentNode(true);
      } else {
        FNodeList->MarkDeleted(n, true);
        MoveOffCurrent();
      }
      break;
    default: break;
  }
  SyncPendingNotice();
}

void TIB_BDataset::SetSubstitute(TIB_Dataset* Value) {
  if (Value == this) Value = nullptr;
  if (Value == FSubstitute) return;
  if (FSubstitute) RemoveFreeNotification(FSubstitute);
  FSubstitute = Value;
  if (FSubstitute) FreeNotification(FSubstitute);
}

void TIB_BDataset::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_Dataset::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FSubstitute) FSubstitute = nullptr;
}

void TIB_BDataset::SysUpdateRecord(TIB_UpdateKind UpdateKind) {
  switch (UpdateKind) {
    case ukModify: TIB_Dataset::SysPostEdit(); break;
    case ukInsert: TIB_Dataset::SysPostInsert(); break;
    case ukDelete: TIB_Dataset::DoCustomDelete(); break;
  }
}

std::string TIB_BDataset::SavepointName() {
  std::string name = "S" + GetCursorName();
  if (name.size() > 31) name = "S" + name.substr(name.size() - 30);
  return name;
}

void TIB_BDataset::RekeyAfterInsert(TIB_Node* Node) {
  TIB_Row* key = GetKeyFields();
  if (!key || key->GetColumnCount() == 0) return;
  FillKeyRow();
  KeyFromKeyRow(FKeyScratch);
  // The insert returned the key the engine gave (INSERT ... RETURNING): the row is known by it now.
  if (std::memcmp(FKeyScratch.data(), Node->KeyData(), FKeyScratch.size()) != 0) WriteBackNode(Node, false);
}

bool TIB_BDataset::ApplyOne(TIB_Node* Node) {
  const TIB_UpdateKind kind = Node->Has(nfDeleted) ? ukDelete : Node->Has(nfInserted) ? ukInsert : ukModify;
  TIB_AliveRestorer<TIB_DatasetState> state(FAlive, FState,
                                            kind == ukModify   ? dssEdit
                                            : kind == ukInsert ? dssInsert
                                                               : dssDelete);
  // The row as the server knows it: the values before an edit as the old values, the node's values as
  // the new ones, and the key the server still has. A row edited and then deleted is deleted as the
  // server has it: its old record is both.
  const bool hasOld = kind != ukInsert && Node->OldRecordData() && Node->OldRecordLength() != 0;
  if (hasOld) {
    TIB_Node old{};
    old.RecordData = Node->OldRecordData();
    old.RecordLength = std::abs(Node->OldRecordLength());
    FNodeList->UnpackRow(&old, *FFields);
  } else {
    FNodeList->UnpackRow(Node, *FFields);
  }
  FFields->ResetRow(false, false, false);
  if (kind != ukDelete || !hasOld) FNodeList->UnpackRow(Node, *FFields);
  if (kind != ukDelete) TakeHeldBlobs(Node);
  if (TIB_Row* key = GetKeyFields();
      key && key->GetColumnCount() > 0 && key->GetRecordLength() == static_cast<size_t>(FNodeList->GetKeyLength())) {
    std::memcpy(key->GetRecordBuffer(), Node->ServerKey(), key->GetRecordLength());
    key->SetRowState(rsUnmodified);
  }
  for (;;) {
    TIB_UpdateAction action = uaFail;
    try {
      if (OnUpdateRecord && CanFireEvents()) {
        CallOutWatching(OnUpdateRecord, FSubstitute ? FSubstitute : this, kind, action);
      } else {
        SysUpdateRecord(kind);
        action = uaApplied;
        if (kind == ukInsert) RekeyAfterInsert(Node);
      }
    } catch (const EIB_Error& e) {
      // The engine's errors and the library's own reach the handler alike; unhandled they go on.
      action = uaFail;
      if (OnUpdateError && CanFireEvents()) {
        CallOutWatching(OnUpdateError, FSubstitute ? FSubstitute : this, e, kind, action);
      }
      if (action == uaFail) throw;
      if (action == uaAbort) throw EAbort();
      if (action == uaRetry) continue;
    }
    if (action == uaRetry) continue;
    if (action == uaAbort) throw EAbort();
    if (action == uaApplied) {
      // The row is now one of the server's (or gone from it) in this transaction: the server's count
      // kept for the query follows, while the change stops counting as pending.
      if (FRecordCountValid && kind != ukModify) FRecordCount += kind == ukInsert ? 1 : -1;
      FNodeList->MarkApplied(Node, nfApplied);
      if (Node->Extra) Node->Extra->OldKeyData.reset();
      return true;
    }
    if (action == uaSkip) FNodeList->MarkApplied(Node, nfApplyFailed);
    return action == uaSkip;
  }
}

void TIB_BDataset::ApplyUpdates() {
  if (!FCachedUpdates) return;
  // From a handler of the apply (the row being written is in an editing state then): refused.
  if (FApplying) IB_Raise<EIB_DatasetError>(IBMsg::CannotWhileApplyingUpdates, {"ApplyUpdates"});
  if (GetIsModifying()) Post();
  if (!GetUpdatesPending() || FApplying) return;
  TIB_Transaction* t = GetIB_Transaction();
  // Started explicitly, unless the application (or the transaction's own apply) did so already: a second
  // explicit start raises.
  if (t && !t->GetStarted() && !t->GetExplicitStart()) t->StartTransaction();
  t = GetIB_Transaction();
  // The writes of the apply are one unit within its savepoint: a transaction started without an explicit
  // start and committing each change by itself (AutoCommit) keeps them until all went through, and then
  // saves them at once.
  const TIB_AliveFlag transactionAlive = t ? t->GetAlive() : TIB_AliveFlag();
  if (t) t->HoldAutoCommit();
  bool takenBack = false;
  try {
    ApplyWalk(takenBack);
  } catch (...) {
    if (t && transactionAlive.Get()) t->ReleaseAutoCommit(false, takenBack);
    throw;
  }
  // The save tells the dataset that its applied changes are committed (the walk has ended by now).
  if (t && transactionAlive.Get()) t->ReleaseAutoCommit(true);
}

void TIB_BDataset::ApplyWalk(bool& TakenBack) {
  TIB_AliveRestorer<bool> applying(FAlive, FApplying, true);
  const TIB_AliveFlag alive = FAlive;
  const std::string savepoint = SavepointName();
  SysExecuteImmediate("SAVEPOINT " + savepoint, nullptr, nullptr);
  // Should a handler destroy the dataset, the transaction takes the apply back on its own.
  TIB_Connection* connection = GetIB_Connection();
  TIB_Transaction* t = GetIB_Transaction();
  const TIB_AliveFlag connectionAlive = connection ? connection->GetAlive() : TIB_AliveFlag();
  const TIB_AliveFlag transactionAlive = t ? t->GetAlive() : TIB_AliveFlag();
  std::vector<TIB_Node*> nodes;
  for (TIB_Node* n = FNodeList->GetUpdateListFirst(); n; n = n->Extra->UpdNext) {
    if (!n->Has(nfApplied | nfApplyFailed)) nodes.push_back(n);
  }
  const TIB_NodeList::TCursor where = FNodeList->GetRowCursor();
  std::vector<TIB_Node*> marked;
  // Takes the apply's work at the server back to its savepoint; true when that went through.
  auto takeBack = [&](const std::function<void()>& Rollback) {
    try {
      Rollback();
      TakenBack = true;
    } catch (...) {
      ReportException(std::current_exception());
    }
  };
  try {
    for (TIB_Node* n : nodes) {
      const bool wasMarked = ApplyOne(n);
      if (wasMarked) marked.push_back(n);
    }
  } catch (...) {
    // A handler that destroyed the dataset ends the apply: nothing of the dataset is touched, and
    // nothing of the apply stays at the server. One that destroyed the transaction took the apply's work
    // and the rows' buffer with it: nothing is left to put back.
    if (!alive.Get()) {
      if (t && transactionAlive.Get() && connection && connectionAlive.Get())
        takeBack([&] { t->RollbackToSavepoint(connection, savepoint); });
      throw;
    }
    if (t && !transactionAlive.Get()) throw;
    // Nothing of this apply stays at the server, and every change is pending again.
    takeBack([&] { SysExecuteImmediate("ROLLBACK TO SAVEPOINT " + savepoint, nullptr, nullptr); });
    for (TIB_Node* n : marked) FNodeList->ClearApplyMark(n);
    FRecordCountValid = false;
    FNodeList->SetRowPosition(where.Node, where.Row, where.DeletedBefore);
    RunReported([&] { LoadCurrentRow(); });
    SyncPosition();
    SyncPendingNotice();
    throw;
  }
  FAppliedNodes.insert(FAppliedNodes.end(), marked.begin(), marked.end());
  FNodeList->SetRowPosition(where.Node, where.Row, where.DeletedBefore);
  LoadCurrentRow();
  SyncPosition();
  SyncPendingNotice();
}

void TIB_BDataset::SysUndoApply() {
  // The commit after the apply failed: the changes count as pending again and are applied next time.
  // (An apply still running, whose handler's call failed, settles its own changes.)
  if (FApplying) return;
  TIB_Transaction* t = GetIB_Transaction();
  if (t && t->GetStarted() && !FAppliedNodes.empty()) {
    RunReported([&] { SysExecuteImmediate("ROLLBACK TO SAVEPOINT " + SavepointName(), nullptr, nullptr); });
  }
  for (TIB_Node* n : FAppliedNodes) FNodeList->ClearApplyMark(n);
  if (!FAppliedNodes.empty()) FRecordCountValid = false;
  FAppliedNodes.clear();
  SyncPendingNotice();
}

void TIB_BDataset::SysAcceptApplied() {
  // A commit retaining inside the apply (from a handler it runs) leaves the walk its nodes: the next
  // end of the transaction settles them.
  if (FApplying) return;
  bool marked = false;
  for (const TIB_Node* n = FNodeList->GetUpdateListFirst(); n && !marked; n = n->Extra->UpdNext) {
    marked = n->Has(nfApplied | nfApplyFailed);
  }
  // Left marked, an applied row would take no further change: an edit of it would be lost.
  if (marked) CommitUpdates();
}

void TIB_BDataset::CommitUpdates() {
  // From a handler of the apply: the apply walks nodes this would remove.
  if (FApplying) IB_Raise<EIB_DatasetError>(IBMsg::CannotWhileApplyingUpdates, {"CommitUpdates"});
  FAppliedNodes.clear();
  // A blob or array applied was written under a temporary id, which is invalid once committed: such
  // rows are read again by key for the ids the server gave them.
  const bool rereadIds = !FFields->GetBlobColumns().empty() || !FFields->GetArrayColumns().empty();
  std::vector<TIB_Node*> removed;
  for (TIB_Node* n = FNodeList->GetUpdateListFirst(); n;) {
    TIB_Node* next = n->Extra->UpdNext;
    if (n->Has(nfApplied)) {
      if (n->Has(nfDeleted)) {
        removed.push_back(n);
      } else {
        FNodeList->AcceptNode(n);
        FreeHeldBlobs(n);
        if (rereadIds) FNodeList->InvalidateNode(n);
      }
    } else if (n->Has(nfApplyFailed)) {
      FNodeList->ClearApplyMark(n);
    }
    n = next;
  }
  FNodeList->RemoveNodes(removed);
  FBufferLoaded = nullptr;
  LoadCurrentRow();
  SyncPosition();
  SyncPendingNotice();
}

void TIB_BDataset::CancelUpdates() {
  if (!FCachedUpdates) return;
  // From a handler of the apply: the apply walks the list of changes, and its cursor stands on one.
  if (FApplying) IB_Raise<EIB_DatasetError>(IBMsg::CannotWhileApplyingUpdates, {"CancelUpdates"});
  if (GetIsModifying()) Cancel();
  if (FNodeList->GetUpdateListCount() == 0) return;
  std::vector<TIB_Node*> removed;
  for (TIB_Node* n = FNodeList->GetUpdateListFirst(); n;) {
    TIB_Node* next = n->Extra->UpdNext;
    if (!n->Has(nfApplied | nfApplyFailed)) {
      if (n->Has(nfInserted)) {
        removed.push_back(n);
      } else {
        FNodeList->RevertNode(n, false);
        // A row edited and then deleted comes back edited: cancelling takes the edit back too.
        if (n->Has(nfModified)) FNodeList->RevertNode(n, false);
        FreeHeldBlobs(n);
      }
    }
    n = next;
  }
  // A current row that goes (a cached insert) hands over to the row after it.
  TIB_Node* current = FNodeList->GetRowCursor().Node;
  const bool currentGoes = std::find(removed.begin(), removed.end(), current) != removed.end();
  if (currentGoes) std::erase(removed, current);
  FNodeList->RemoveNodes(removed);
  if (currentGoes) {
    RemoveCurrentNode(true);
  } else {
    LoadCurrentRow();
    SyncPosition();
  }
  SyncPendingNotice();
}
