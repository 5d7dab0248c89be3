// TIB_Row: the blob and array nodes of a row, written and reset around an execute, and the row's
// exchange with the buffer node it shows.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dblib/IB_Constants.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_Row.h"

namespace {

ISC_QUAD ReadQuad(const XSQLVAR& Var) {
  ISC_QUAD id{};
  if (Var.sqldata) std::memcpy(&id, Var.sqldata, sizeof(id));
  return id;
}

void WriteQuad(XSQLVAR& Var, const ISC_QUAD& Id) {
  if (Var.sqldata) std::memcpy(Var.sqldata, &Id, sizeof(Id));
}

int16_t ReadVarInd(const XSQLVAR& Var) {
  int16_t ind = -1;
  if (Var.sqlind) std::memcpy(&ind, Var.sqlind, sizeof(ind));
  return ind;
}

bool IsModified(const TIB_BlobNode& Node) { return (Node.BlobFlag & bnfModified) != 0; }

}  // namespace

void TIB_Row::AllocateBlobNodes(int Total) {
  int count = 0;
  FBlobIndex.assign(static_cast<size_t>(Total), -1);
  for (int i = 0; i < Total; ++i) {
    const int type = FPSQLDA->sqlvar[i].sqltype & ~1;
    if (type == SQL_BLOB) ++FBlobCount;
    if (type == SQL_ARRAY) ++FArrayCount;
    if (type == SQL_BLOB || type == SQL_ARRAY) FBlobIndex[static_cast<size_t>(i)] = count++;
  }
  FBlobNodes.clear();
  FBlobNodes.resize(static_cast<size_t>(count));
}

TIB_BlobNodeList& TIB_Row::GetBlobNodeList() { return FBufferNode ? FBufferNode->BlobNodes() : FBlobNodeList; }

TIB_BlobNode* TIB_Row::GetBlobNode(int VarIndex) {
  if (!FPSQLDA || VarIndex < 0 || VarIndex >= FPSQLDA->sqln || static_cast<size_t>(VarIndex) >= FBlobIndex.size()) {
    return nullptr;
  }
  const int32_t index = FBlobIndex[static_cast<size_t>(VarIndex)];
  return index < 0 ? nullptr : &FBlobNodes[static_cast<size_t>(index)];
}

void TIB_Row::PostBlobNodes() {
  FNewBlobCount = 0;
  // Nodes exist only for blob and array columns: without any there is nothing to post.
  if (FIsKeyRow || FNoBlobNodes || !FPSQLDA || FBlobNodes.empty()) return;
  for (int i = 0; i < FPSQLDA->sqln; ++i) {
    TIB_BlobNode* node = GetBlobNode(i);
    if (!node || !IsModified(*node)) continue;
    XSQLVAR& var = FPSQLDA->sqlvar[i];
    TIB_Column* col = FVarColumns[static_cast<size_t>(i)];
    if (col && IsZeroQuad(ReadQuad(var)) && ReadVarInd(var) != -1) {
      FStatement->StoreBlobNode(*col, *node);
      WriteQuad(var, node->BlobID);
    }
  }
  for (int i = 0; i < FPSQLDA->sqln; ++i) {
    TIB_BlobNode* node = GetBlobNode(i);
    if (!node || !IsModified(*node)) continue;
    const ISC_QUAD id = ReadQuad(FPSQLDA->sqlvar[i]);
    if (id.gds_quad_high == 0 && id.gds_quad_low != 0) ++FNewBlobCount;
  }
}

void TIB_Row::ForgetPostedBlobNodes() {
  if (FIsKeyRow || FNoBlobNodes || !FPSQLDA || FBlobNodes.empty()) return;
  // A changed value gets its id only from PostBlobNodes: such an id names a temporary blob that the
  // failed statement may have taken with it. The bytes stay in the node for the next post to write.
  for (int i = 0; i < FPSQLDA->sqln; ++i) {
    TIB_BlobNode* node = GetBlobNode(i);
    if (!node || !IsModified(*node) || IsZeroQuad(node->BlobID)) continue;
    XSQLVAR& var = FPSQLDA->sqlvar[i];
    if (SameQuad(ReadQuad(var), node->BlobID)) WriteQuad(var, ISC_QUAD{});
    node->BlobID = ISC_QUAD{};
  }
  FNewBlobCount = 0;
}

void TIB_Row::ResetBlobNodes(bool AKeepCached) {
  if (!FPSQLDA) return;
  const bool keep = AKeepCached && FRowType == rtFields;
  // Without blob or array columns no column has a node to reset (the cached list below still gets pruned).
  const int vars = FBlobNodes.empty() ? 0 : FPSQLDA->sqln;
  for (int i = 0; i < vars; ++i) {
    TIB_BlobNode* node = GetBlobNode(i);
    if (!node || !IsModified(*node)) continue;
    XSQLVAR& var = FPSQLDA->sqlvar[i];
    if (!keep) {
      WriteQuad(var, ISC_QUAD{});
      node->BlobID = ISC_QUAD{};
      continue;
    }
    node->BlobFlag &= static_cast<uint8_t>(~bnfModified);
    const ISC_QUAD id = ReadQuad(var);
    if (!IsZeroQuad(id) && ReadVarInd(var) != -1) {
      node->BlobID = id;
      node->FieldNo = static_cast<int16_t>(i);
      AddBlobNode(GetBlobNodeList(), *node, true);
    }
  }
  if (!keep) return;
  // Drop cached values whose id no row column holds any more; unsaved entries (zero id) stay.
  TIB_BlobNodeList* link = &GetBlobNodeList();
  while (*link) {
    TIB_BlobNode* cached = link->get();
    bool used = IsZeroQuad(cached->BlobID);
    for (int i = 0; !used && i < FPSQLDA->sqln; ++i) {
      const int type = FPSQLDA->sqlvar[i].sqltype & ~1;
      if ((type == SQL_BLOB || type == SQL_ARRAY) && SameQuad(ReadQuad(FPSQLDA->sqlvar[i]), cached->BlobID))
        used = true;
    }
    if (used) {
      link = &cached->Next;
    } else {
      *link = std::move(cached->Next);  // frees the entry
    }
  }
}

bool TIB_Row::IsUnsavedCacheEntry(const TIB_BlobNode& Node) {
  // Unsaved values wait in the cache under a zero id and the field number of their column.
  return IsZeroQuad(Node.BlobID) && GetBlobNode(Node.FieldNo) != nullptr;
}

void TIB_Row::UnlinkCacheEntries(const std::function<bool(const TIB_BlobNode&)>& Which) {
  if (!FBufferNode) return;
  TIB_BlobNodeList* link = &FBufferNode->BlobNodes();
  while (*link) {
    TIB_BlobNode* cached = link->get();
    if (!Which(*cached)) {
      link = &cached->Next;
      continue;
    }
    *link = std::move(cached->Next);  // frees the entry
  }
}

void TIB_Row::LoadCachedBlobNodes() {
  if (FRowType != rtFields || !FBufferNode || FIsKeyRow || FNoBlobNodes) return;
  std::vector<TIB_BlobNode*> moved;
  for (TIB_BlobNode* cached = FBufferNode->BlobNodes().get(); cached; cached = cached->Next.get()) {
    if (!IsUnsavedCacheEntry(*cached)) continue;
    TIB_BlobNode* own = GetBlobNode(cached->FieldNo);
    CopyBlobNode(*cached, *own, true);
    moved.push_back(cached);
  }
  // The entries moved out are now empty: unlink them.
  UnlinkCacheEntries(
      [&moved](const TIB_BlobNode& Node) { return std::find(moved.begin(), moved.end(), &Node) != moved.end(); });
}

void TIB_Row::SaveToNode() {
  if (!FBufferNode) return;
  FBufferNode->PackRow(*this);
  if (FRowType != rtFields || FIsKeyRow || FNoBlobNodes || !FPSQLDA) return;
  for (int i = 0; i < FPSQLDA->sqln; ++i) {
    TIB_BlobNode* node = GetBlobNode(i);
    if (!node || !IsModified(*node)) continue;
    const bool notNull = (FPSQLDA->sqlvar[i].sqltype & 1) == 0;
    if (node->BlobSize > 0 || notNull) {
      node->BlobID = ISC_QUAD{};
      node->FieldNo = static_cast<int16_t>(i);
      AddBlobNode(GetBlobNodeList(), *node, true);
    }
  }
}

void TIB_Row::CancelBlobNodes() {
  if (FIsKeyRow || FNoBlobNodes) return;
  for (auto& node : FBlobNodes) {
    if (IsModified(node)) ClearBlobNode(node);
  }
  if (FRowType == rtFields && FBufferNode) {
    UnlinkCacheEntries([this](const TIB_BlobNode& Node) { return IsUnsavedCacheEntry(Node); });
  }
}

void TIB_Row::ClearBlobNodes(bool AFreeCache) {
  for (auto& node : FBlobNodes) {
    if (FRowType == rtParams) {
      node.BlobID = ISC_QUAD{};
    } else {
      ClearBlobNode(node);
    }
  }
  if (AFreeCache) FreeBlobNodeList(GetBlobNodeList());
}

// A row that shows another record keeps no cached value of the records it showed before: the server
// gives a freed id (of a deleted row, or of a value replaced) to a new value, and a value kept under
// that id would show for a row it never belonged to, even one whose column now names the same id.
// Unsaved entries (zero id) stay.
void TIB_Row::DropCachedValuesOfOtherRecords(bool All) {
  if (FBufferNode || FIsKeyRow || FNoBlobNodes || !FPSQLDA) return;
  TIB_BlobNodeList* link = &FBlobNodeList;
  while (*link) {
    TIB_BlobNode* cached = link->get();
    bool used = IsZeroQuad(cached->BlobID);
    if (All && !used) {
      *link = std::move(cached->Next);  // frees the entry
      continue;
    }
    for (int i = 0; !used && i < FPSQLDA->sqld; ++i) {
      const XSQLVAR& var = FPSQLDA->sqlvar[i];
      const int type = var.sqltype & ~1;
      const bool null = var.sqlind && ReadVarInd(var) == -1;  // its id bytes are left from another record
      if ((type == SQL_BLOB || type == SQL_ARRAY) && !null && SameQuad(ReadQuad(var), cached->BlobID)) used = true;
    }
    if (used) {
      link = &cached->Next;
    } else {
      *link = std::move(cached->Next);  // frees the entry
    }
  }
}

void TIB_Row::LoadFromNode(bool ANotify, bool ALoadBlobs) {
  if (!FBufferNode || !FBufferNode->HasRecordData()) IB_Raise<Exception>(IBMsg::NoRecordDataToLoad);
  const bool hasOld = FBufferNode->HasOldRecordData();
  // Both records are written whole below: a copy still due is not needed.
  FOldPending = false;
  if (hasOld) {
    FBufferNode->UnpackRow(*this, true);
    if (FRecordLength > 0) std::memcpy(FOldRecordBuffer.get(), FRecordBuffer.get(), FRecordLength);
  }
  FBufferNode->UnpackRow(*this, false);
  if (!hasOld && FRecordLength > 0) std::memcpy(FOldRecordBuffer.get(), FRecordBuffer.get(), FRecordLength);
  if (FRecordLength > 0) {
    NormalizeVarLengths(FRecordBuffer.get());
    NormalizeVarLengths(FOldRecordBuffer.get());
  }
  if (ALoadBlobs) LoadCachedBlobNodes();
  if (ANotify) {
    FRowChanged = true;
    if (FRowState != rsUnmodified) SetRowState(rsUnmodified);
    NotifyDataChange(nullptr);
  }
}
