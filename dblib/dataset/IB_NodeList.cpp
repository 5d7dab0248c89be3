// TIB_NodeList: node memory, linking and counting, positions, keys, trims and cached-change flags.
// Packing and unpacking records are in IB_NodeListRecords.cpp.
#include "dblib/dataset/IB_NodeList.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Utils.h"

namespace {

// Where a node lies, kept in the flag bits above the public ones.
constexpr uint16_t nfInUpdate = 0x0800;
constexpr uint16_t nfPending = 0x1000;
constexpr uint16_t nfInRetained = 0x2000;
constexpr uint16_t nfInPool = 0x4000;
constexpr uint16_t nfRemoving = 0x8000;
constexpr uint16_t kChangeFlags = nfInserted | nfModified | nfDeleted;
constexpr uint16_t kMarks = nfApplied | nfApplyFailed;

constexpr size_t kNodesPerSlab = 4096;
constexpr size_t kChunkBytes = 256 * 1024;
// A key lookup walks this far from a known position before it builds the row index.
constexpr int32_t kShortWalk = 64;

int32_t LowBit(int32_t i) { return i & -i; }

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Hashing keys

size_t TIB_NodeList::TKeyMap::Hash(const uint8_t* K) const noexcept {
  uint64_t h = 1469598103934665603ull;
  for (int32_t i = 0; i < FKeyLength; ++i) h = (h ^ K[i]) * 1099511628211ull;
  return static_cast<size_t>(h ^ (h >> 29));
}

void TIB_NodeList::TKeyMap::Rehash(size_t Capacity) {
  std::vector<TIB_Node*> old;
  old.swap(FSlots);
  FSlots.assign(Capacity, nullptr);
  FUsed = FSize = 0;
  for (TIB_Node* n : old) {
    if (n && n != Tomb()) emplace(nullptr, n);
  }
}

void TIB_NodeList::TKeyMap::reserve(size_t Count) {
  size_t cap = 16;
  while (cap < Count * 2) cap *= 2;
  if (cap > FSlots.size()) Rehash(cap);
}

void TIB_NodeList::TKeyMap::emplace(const uint8_t*, TIB_Node* Node) {
  if ((FUsed + 1) * 10 > FSlots.size() * 7) {
    size_t cap = 16;
    while (cap < (FSize + 1) * 2) cap *= 2;
    Rehash(cap);
  }
  const size_t mask = FSlots.size() - 1;
  for (size_t i = Hash(KeyOf(Node)) & mask;; i = (i + 1) & mask) {
    if (!FSlots[i] || FSlots[i] == Tomb()) {
      if (!FSlots[i]) ++FUsed;
      FSlots[i] = Node;
      ++FSize;
      return;
    }
  }
}

void TIB_NodeList::TKeyMap::Erase(TIB_Node* Node) {
  if (FSize == 0) return;
  const size_t mask = FSlots.size() - 1;
  for (size_t i = Hash(KeyOf(Node)) & mask; FSlots[i]; i = (i + 1) & mask) {
    if (FSlots[i] == Node) {
      FSlots[i] = Tomb();
      --FSize;
      return;
    }
  }
}

TIB_Node* TIB_NodeList::TKeyMap::Find(const uint8_t* Key) const {
  if (FSize == 0 || FKeyLength <= 0) return nullptr;
  const size_t mask = FSlots.size() - 1;
  for (size_t i = Hash(Key) & mask; FSlots[i]; i = (i + 1) & mask) {
    TIB_Node* n = FSlots[i];
    if (n != Tomb() && std::memcmp(KeyOf(n), Key, static_cast<size_t>(FKeyLength)) == 0) return n;
  }
  return nullptr;
}

void TIB_NodeList::TKeyMap::clear() noexcept {
  FSlots.clear();
  FSlots.shrink_to_fit();
  FSize = FUsed = 0;
}

void TIB_NodeList::EnsureMainMap() {
  if (FMainMapValid) return;
  FMainMap = MakeKeyMap();
  FMainMap.reserve(static_cast<size_t>(FCount));
  for (TIB_Node* n = FHead->Next; n != FTail; n = n->Next) FMainMap.emplace(n->KeyData(), n);
  FMainMapValid = true;
}

// ---------------------------------------------------------------------------------------------------------
// Construction and memory

TIB_NodeList::TIB_NodeList() : FMainMap(MakeKeyMap()), FRetainedMap(MakeKeyMap()), FPendingMap(MakeKeyMap(true)) {
  FHead = NewSentinel();
  FTail = NewSentinel();
  Reset(true);
}

TIB_NodeList::~TIB_NodeList() {
  FreeAllBlocks();
  delete[] reinterpret_cast<std::byte*>(FHead);
  delete[] reinterpret_cast<std::byte*>(FTail);
}

size_t TIB_NodeList::NodeSize() const noexcept {
  const size_t need = offsetof(TIB_Node, KeyStart) + static_cast<size_t>(FKeyLength);
  const size_t size = std::max(sizeof(TIB_Node), need);
  return (size + alignof(TIB_Node) - 1) / alignof(TIB_Node) * alignof(TIB_Node);
}

TIB_Node* TIB_NodeList::NewSentinel() {
  auto* n = reinterpret_cast<TIB_Node*>(new std::byte[NodeSize()]());
  return n;
}

void TIB_NodeList::SetKeyLength(int32_t Value) {
  if (Value < 0) Value = 0;
  ClearAll();
  const int32_t keep = std::min(FKeyLength, Value);
  for (TIB_Node** s : {&FHead, &FTail}) {
    TIB_Node* old = *s;
    FKeyLength = Value;
    TIB_Node* n = NewSentinel();
    std::memcpy(n, old, offsetof(TIB_Node, KeyStart));
    std::memcpy(n->KeyData(), old->KeyData(), static_cast<size_t>(keep));
    delete[] reinterpret_cast<std::byte*>(old);
    *s = n;
  }
  FKeyLength = Value;
  FMainMap = MakeKeyMap();
  FRetainedMap = MakeKeyMap();
  FPendingMap = MakeKeyMap(true);
  FSlabSize = 0;
  Reset(true);
}

TIB_Node* TIB_NodeList::SlabNode() {
  const size_t size = NodeSize();
  if (FSlabs.empty() || FSlabUsed + size > FSlabSize) {
    FSlabSize = size * kNodesPerSlab;
    FSlabs.emplace_back(new std::byte[FSlabSize]);
    FSlabUsed = 0;
  }
  auto* n = reinterpret_cast<TIB_Node*>(FSlabs.back().get() + FSlabUsed);
  FSlabUsed += size;
  std::memset(n->KeyData(), 0, static_cast<size_t>(FKeyLength));
  return n;
}

TIB_Node* TIB_NodeList::TakeNode() {
  TIB_Node* n = FPool;
  if (n) {
    FPool = n->Next;
    --FPoolCount;
  } else {
    n = SlabNode();
  }
  n->Prior = n->Next = nullptr;
  n->RecordData = nullptr;
  n->Extra = nullptr;
  n->RecordLength = 0;
  n->Pos = -1;
  n->Flags = FSelectNew ? nfSelected : 0;
  return n;
}

void TIB_NodeList::ClearNodeData(TIB_Node* Node, bool AlsoBlobsAndFlags) {
  FreeRecord(Node);
  if (TIB_NodeExtra* x = Node->Extra) {
    x->OldRecordData.reset();
    x->OldRecordLength = 0;
    x->OldKeyData.reset();
    if (AlsoBlobsAndFlags) {
      FreeBlobNodeList(x->BlobNodes);
      delete x;
      Node->Extra = nullptr;
    }
  }
  if (AlsoBlobsAndFlags) Node->Flags = 0;
}

// The node's data, blobs and flags go; it joins the pool. It must be out of every list already.
void TIB_NodeList::ReleaseNode(TIB_Node* Node) {
  ClearNodeData(Node, true);
  Node->Flags = nfInPool;
  Node->Prior = nullptr;
  Node->Next = FPool;
  FPool = Node;
  ++FPoolCount;
}

void TIB_NodeList::FreeAllBlocks() {
  for (TIB_Node* list : {FHead ? FHead->Next : nullptr, FRetained}) {
    for (TIB_Node* n = list; n && n != FTail; n = n->Next) {
      delete n->Extra;
      n->Extra = nullptr;
    }
  }
  FSlabs.clear();
  FSlabUsed = FSlabSize = 0;
  FChunks.clear();
  FChunkUsed = FChunkSize = 0;
  FStoreLive = FStoreTotal = FStoreCapacity = 0;
  FPool = nullptr;
  FPoolCount = 0;
  FRetained = nullptr;
  FRetainedCount = 0;
}

TIB_NodeExtra& TIB_NodeList::ExtraOf(TIB_Node* Node) {
  if (!Node->Extra) Node->Extra = new TIB_NodeExtra;
  return *Node->Extra;
}

// ---------------------------------------------------------------------------------------------------------
// Record store: records are placed one after another in chunks; the space of freed records is won back
// by copying the live ones into fresh chunks once it outweighs them.

uint8_t* TIB_NodeList::StoreAlloc(int32_t Length) {
  const size_t len = static_cast<size_t>(Length);
  if (FChunks.empty() || FChunkUsed + len > FChunkSize) {
    const size_t wasted = FStoreTotal - FStoreLive;
    if (wasted > kChunkBytes * 4 && wasted > FStoreLive) CompactStore();
  }
  if (FChunks.empty() || FChunkUsed + len > FChunkSize) {
    FChunkSize = std::max(kChunkBytes, len);
    FChunks.emplace_back(new uint8_t[FChunkSize]);
    FStoreCapacity += FChunkSize;
    FChunkUsed = 0;
  }
  uint8_t* p = FChunks.back().get() + FChunkUsed;
  FChunkUsed += len;
  FStoreLive += len;
  FStoreTotal += len;
  return p;
}

void TIB_NodeList::CompactStore() {
  std::vector<std::unique_ptr<uint8_t[]>> old;
  old.swap(FChunks);
  FChunkUsed = FChunkSize = 0;
  FStoreLive = FStoreTotal = FStoreCapacity = 0;
  for (TIB_Node* list : {FHead->Next, FRetained}) {
    for (TIB_Node* n = list; n && n != FTail; n = n->Next) {
      if (n->RecordLength <= 0) continue;
      const uint8_t* from = n->RecordData;
      n->RecordData = StoreAlloc(n->RecordLength);
      std::memcpy(n->RecordData, from, static_cast<size_t>(n->RecordLength));
    }
  }
}

void TIB_NodeList::SetRecord(TIB_Node* Node, const uint8_t* Data, int32_t Length) {
  if (Length != Node->RecordLength) {
    FreeRecord(Node);
    if (Length > 0) Node->RecordData = StoreAlloc(Length);
    Node->RecordLength = Length;
  }
  if (Length > 0) std::memcpy(Node->RecordData, Data, static_cast<size_t>(Length));
}

void TIB_NodeList::FreeRecord(TIB_Node* Node) {
  if (Node->RecordLength > 0) StoreFree(Node->RecordLength);
  Node->RecordLength = 0;
  Node->RecordData = nullptr;
}

void TIB_NodeList::MoveRecordToOld(TIB_Node* Node) {
  TIB_NodeExtra& x = ExtraOf(Node);
  x.OldRecordData.reset();
  x.OldRecordLength = Node->RecordLength;
  if (Node->RecordLength > 0) {
    x.OldRecordData.reset(new uint8_t[static_cast<size_t>(Node->RecordLength)]);
    std::memcpy(x.OldRecordData.get(), Node->RecordData, static_cast<size_t>(Node->RecordLength));
  }
}

// ---------------------------------------------------------------------------------------------------------
// Linking and counting

void TIB_NodeList::Reset(bool Full) {
  FHead->Next = FTail;
  FHead->Prior = nullptr;
  FTail->Prior = FHead;
  FTail->Next = nullptr;
  FHead->Flags = FTail->Flags = nfHead | nfTail;
  FCount = 0;
  FRowCursor = {FHead, 0, 0};
  FBufferCursor = {FHead, 0, 0};
  ClearPendingInserts();
  FIndex.clear();
  FIndex.shrink_to_fit();
  FTree.clear();
  FTree.shrink_to_fit();
  FIndexValid = FTreeValid = false;
  FMainMap.clear();
  FMainMapValid = false;
  if (Full) {
    // Every node of the update list has been released or freed by now.
    FUpdateFirst = nullptr;
    FUpdateListCount = 0;
    FModifiedCount = FInsertedCount = FDeletedCount = FDeletedTotal = FRetainedDeleted = 0;
  }
}

void TIB_NodeList::LinkBefore(TIB_Node* Node, TIB_Node* Before) {
  Node->Prior = Before->Prior;
  Node->Next = Before;
  Before->Prior->Next = Node;
  Before->Prior = Node;
  CountUp();
}

void TIB_NodeList::Unlink(TIB_Node* Node) {
  Node->Prior->Next = Node->Next;
  Node->Next->Prior = Node->Prior;
  Node->Prior = Node->Next = nullptr;
}

void TIB_NodeList::CountUp() {
  if (++FCount == 1) {
    FHead->Flags = nfHead;
    FTail->Flags = nfTail;
  }
}

void TIB_NodeList::CountDown(int32_t n) {
  FCount -= n;
  if (FCount == 0) FHead->Flags = FTail->Flags = nfHead | nfTail;
}

TIB_Node* TIB_NodeList::Append() {
  TIB_Node* n = TakeNode();
  LinkBefore(n, FTail);
  IndexAppended(n);
  return n;
}

void TIB_NodeList::IndexAppended(TIB_Node* Node) {
  // A cursor at the end stays at the end, one row further down.
  for (TCursor* c : {&FRowCursor, &FBufferCursor}) {
    if (c->Node == FTail) {
      c->Row = FCount + 1;
      c->DeletedBefore = HiddenCount();
    }
  }
  if (FIndexValid || FMainMapValid) IndexAppendedToLookups(Node);
}

void TIB_NodeList::IndexAppendedToLookups(TIB_Node* Node) {
  if (FIndexValid) {
    Node->Pos = static_cast<int32_t>(FIndex.size());
    FIndex.push_back(Node);
    if (FTreeValid) {
      // The new last entry of the tree covers the rows below it that its low bit spans.
      const auto i = static_cast<int32_t>(FIndex.size());
      FTree.push_back(Node->Has(nfDeleted) ? 1 : 0);
      FTree.back() += DeletedUpTo(i - 1) - DeletedUpTo(i - LowBit(i));
    }
  }
  if (FMainMapValid) FMainMap.emplace(Node->KeyData(), Node);
}

TIB_Node* TIB_NodeList::InsertAtRow() {
  if (!FRowCursor.Node) IB_Raise<EIB_Error>(IBMsg::InvalidANode);
  TIB_Node* n;
  if (FRowCursor.Node == FTail || FCount == 0) {
    n = TakeNode();
    std::memset(n->KeyData(), 0, static_cast<size_t>(FKeyLength));
    LinkBefore(n, FTail);
    IndexAppended(n);
    FRowCursor = {n, FCount, HiddenCount()};
  } else {
    n = TakeNode();
    std::memset(n->KeyData(), 0, static_cast<size_t>(FKeyLength));
    if (FBufferCursor.Row >= std::max(FRowCursor.Row, 1)) ++FBufferCursor.Row;
    if (FRowCursor.Node == FHead) {
      LinkBefore(n, FHead->Next);
      FRowCursor = {n, 1, 0};
    } else {
      const bool wasDeleted = FRowCursor.Node->Has(nfDeleted);
      LinkBefore(n, FRowCursor.Node);
      if (wasDeleted) --FRowCursor.DeletedBefore;
      FRowCursor.Node = n;
    }
    InvalidateIndex();
    if (FMainMapValid) FMainMap.emplace(n->KeyData(), n);
  }
  n->Flags |= nfPending;
  FPendingMap.emplace(n->ServerKey(), n);
  return n;
}

void TIB_NodeList::TakeFromRetained(TIB_Node* Node) {
  MapErase(FRetainedMap, Node->KeyData(), Node);
  if (Node->Prior) {
    Node->Prior->Next = Node->Next;
  } else {
    FRetained = Node->Next;
  }
  if (Node->Next) Node->Next->Prior = Node->Prior;
  Node->Prior = Node->Next = nullptr;
  Node->Flags &= static_cast<uint16_t>(~nfInRetained);
  --FRetainedCount;
  if (Node->Has(nfDeleted)) LowerRetainedDeleted();
}

TIB_Node* TIB_NodeList::AddKey(const uint8_t* Key) {
  if (FPendingMap.empty() && FRetainedCount == 0) {
    // No node can stand for the key yet: a new one.
    TIB_Node* n = TakeNode();
    // (The key bytes run past the node's fields: addressed from the node's start.)
    CopyKeyBytes(reinterpret_cast<uint8_t*>(n) + offsetof(TIB_Node, KeyStart), Key, static_cast<size_t>(FKeyLength));
    LinkBefore(n, FTail);
    IndexAppended(n);
    return n;
  }
  return AddKeyFound(Key);
}

TIB_Node* TIB_NodeList::AddKeyFound(const uint8_t* Key) {
  if (MapFind(FPendingMap, Key)) return nullptr;
  TIB_Node* n = FRetainedCount > 0 ? MapFind(FRetainedMap, Key) : nullptr;
  bool wasBuffer = false;
  if (n) {
    wasBuffer = FBufferCursor.Node == n;
    TakeFromRetained(n);
    // Fetched again, the row stands where the query's order puts it.
    n->Flags &= static_cast<uint16_t>(~nfOutOfOrder);
  } else {
    n = TakeNode();
    std::memcpy(n->KeyData(), Key, static_cast<size_t>(FKeyLength));
  }
  LinkBefore(n, FTail);
  IndexAppended(n);
  if (wasBuffer && FBufferCursor.Row < 0) FBufferCursor = {FHead, 0, 0};
  return n;
}

TIB_Node* TIB_NodeList::AddRetainedKey(const uint8_t* Key) {
  if (TIB_Node* n = FRetainedCount > 0 ? MapFind(FRetainedMap, Key) : nullptr) return n;
  TIB_Node* n = TakeNode();
  std::memcpy(n->KeyData(), Key, static_cast<size_t>(FKeyLength));
  PushRetained(n);
  return n;
}

void TIB_NodeList::PushRetained(TIB_Node* n) {
  n->Flags |= nfInRetained;
  n->Prior = nullptr;
  n->Next = FRetained;
  if (FRetained) FRetained->Prior = n;
  FRetained = n;
  ++FRetainedCount;
  FRetainedMap.emplace(n->KeyData(), n);
}

void TIB_NodeList::RestoreRetained(TIB_Node* Node) {
  if (!Node || !Node->Has(nfInRetained)) return;
  const bool wasBuffer = FBufferCursor.Node == Node;
  TakeFromRetained(Node);
  LinkBefore(Node, FTail);
  IndexAppended(Node);
  Node->Flags |= nfOutOfOrder;
  if (wasBuffer && FBufferCursor.Row < 0) FBufferCursor = {FHead, 0, 0};
}

// ---------------------------------------------------------------------------------------------------------
// Removing

namespace {
void StepForward(TIB_NodeList::TCursor& C) {
  if (!C.Node->Next) return;
  C.Node = C.Node->Next;
  ++C.Row;
  if (C.Node->Has(nfDeleted)) ++C.DeletedBefore;
}
}  // namespace

void TIB_NodeList::UncountNode(TIB_Node* Node, bool InMain) {
  const bool marked = Node->Has(kMarks);
  if (Node->Has(kChangeFlags)) RemoveFromUpdateList(Node);
  if (Node->Has(nfModified) && !marked) --FModifiedCount;
  if (Node->Has(nfInserted) && !marked) --FInsertedCount;
  if (Node->Has(nfDeleted)) {
    if (!marked) --FDeletedCount;
    --FDeletedTotal;
    if (!InMain) LowerRetainedDeleted();
  }
  if (Node->Has(nfPending)) MapErase(FPendingMap, Node->ServerKey(), Node);
  if (InMain && FMainMapValid) MapErase(FMainMap, Node->KeyData(), Node);
}

void TIB_NodeList::RemoveNode(TIB_Node* Node) {
  if (!Node || Node->IsSentinel() || Node->Has(nfInPool)) return;
  const bool inMain = !Node->Has(nfInRetained);
  int32_t r = 0, db = 0;
  if (inMain) IndexOfNode(Node, r, db);
  const bool rowWasTail = FRowCursor.Node == FTail, bufWasTail = FBufferCursor.Node == FTail;
  TCursor* cursors[] = {&FRowCursor, &FBufferCursor};
  if (r > 0) {
    for (TCursor* c : cursors) {
      if (c->Row == r && c->Node == Node) StepForward(*c);
    }
  } else {
    for (TCursor* c : cursors) {
      if (c->Node == Node) *c = {FHead, 0, 0};
    }
  }
  UncountNode(Node, inMain);
  if (r > 0) {
    const bool deleted = Node->Has(nfDeleted);
    for (TCursor* c : cursors) {
      if (deleted && r < c->Row) --c->DeletedBefore;
      if (c->Row > r) --c->Row;
    }
  }
  if (inMain) {
    if (FIndexValid && Node->Pos == static_cast<int32_t>(FIndex.size()) - 1) {
      FIndex.pop_back();
      if (FTreeValid) FTree.pop_back();
    } else {
      InvalidateIndex();
    }
    Unlink(Node);
    CountDown(1);
  } else {
    const bool deleted = Node->Has(nfDeleted);
    // Already counted above: keep TakeFromRetained from lowering it again.
    Node->Flags &= static_cast<uint16_t>(~nfDeleted);
    TakeFromRetained(Node);
    if (deleted) Node->Flags |= nfDeleted;
  }
  ReleaseNode(Node);
  SettleCursorsAtTail(rowWasTail, bufWasTail);
}

void TIB_NodeList::SettleCursorsAtTail(bool RowWasTail, bool BufferWasTail) {
  // A cursor that was at the end stays there; one that came to the end because its row went takes the
  // last row, when there is one still.
  for (auto [c, wasTail] : {std::pair{&FRowCursor, RowWasTail}, std::pair{&FBufferCursor, BufferWasTail}}) {
    if (c->Node != FTail) continue;
    if (!wasTail && FCount > 0) {
      *c = {FTail->Prior, FCount, HiddenCount()};
    } else {
      *c = {FTail, FCount + 1, HiddenCount()};
    }
  }
}

void TIB_NodeList::RemoveNodes(const std::vector<TIB_Node*>& Nodes) {
  if (Nodes.empty()) return;
  std::vector<TIB_Node*> main;
  main.reserve(Nodes.size());
  for (TIB_Node* n : Nodes) {
    if (!n || n->IsSentinel() || n->Has(nfInPool) || n->Has(nfRemoving)) continue;
    if (n->Has(nfInRetained)) {
      RemoveNode(n);
    } else {
      n->Flags |= nfRemoving;
      main.push_back(n);
    }
  }
  if (main.empty()) return;
  const bool rowWasTail = FRowCursor.Node == FTail, bufWasTail = FBufferCursor.Node == FTail;
  // A cursor on a removed node goes to the next node that stays.
  for (TCursor* c : {&FRowCursor, &FBufferCursor}) {
    while (c->Node->Has(nfRemoving)) c->Node = c->Node->Next;
  }
  for (TIB_Node* n : main) {
    UncountNode(n, true);
    Unlink(n);
    ReleaseNode(n);
  }
  CountDown(static_cast<int32_t>(main.size()));
  InvalidateIndex();
  // One walk gives both cursors their rows again.
  int32_t row = 0, deleted = 0;
  for (TIB_Node* n = FHead;; n = n->Next) {
    if (n->Has(nfDeleted)) ++deleted;
    for (TCursor* c : {&FRowCursor, &FBufferCursor}) {
      if (c->Node == n && c->Row >= 0) *c = {n, row, deleted};
    }
    if (n == FTail) break;
    ++row;
  }
  SettleCursorsAtTail(rowWasTail, bufWasTail);
}

void TIB_NodeList::DeleteAtRow() {
  if (FCount == 0 || FRowCursor.Node->IsSentinel()) IB_Raise<Exception>(IBMsg::InvalidReferenceToDelete);
  RemoveNode(FRowCursor.Node);
}

void TIB_NodeList::DeleteAtBuffer() {
  if (FCount == 0 || FBufferCursor.Node->IsSentinel() || FBufferCursor.Row < 0) {
    IB_Raise<Exception>(IBMsg::InvalidReferenceToDelete);
  }
  RemoveNode(FBufferCursor.Node);
}

// ---------------------------------------------------------------------------------------------------------
// Positions

void TIB_NodeList::EnsureIndex() {
  if (FIndexValid) return;
  FIndex.clear();
  FIndex.reserve(static_cast<size_t>(FCount));
  int32_t pos = 0;
  for (TIB_Node* n = FHead->Next; n != FTail; n = n->Next) {
    n->Pos = pos++;
    FIndex.push_back(n);
  }
  FIndexValid = true;
  FTreeValid = false;
}

void TIB_NodeList::EnsureTree() {
  EnsureIndex();
  if (FTreeValid) return;
  // Built in linear time: each entry passes its sum on to the one above it.
  FTree.assign(FIndex.size(), 0);
  const auto n = static_cast<int32_t>(FTree.size());
  for (int32_t i = 1; i <= n; ++i) {
    FTree[static_cast<size_t>(i - 1)] += FIndex[static_cast<size_t>(i - 1)]->Has(nfDeleted) ? 1 : 0;
    const int32_t up = i + LowBit(i);
    if (up <= n) FTree[static_cast<size_t>(up - 1)] += FTree[static_cast<size_t>(i - 1)];
  }
  FTreeValid = true;
}

int32_t TIB_NodeList::DeletedUpTo(int32_t Row) const {
  int32_t sum = 0;
  for (int32_t i = std::min<int32_t>(Row, static_cast<int32_t>(FTree.size())); i > 0; i -= LowBit(i)) {
    sum += FTree[static_cast<size_t>(i - 1)];
  }
  return sum;
}

void TIB_NodeList::TreeAdd(int32_t Row, int32_t Delta) {
  if (!FTreeValid || Row <= 0) return;
  const auto n = static_cast<int32_t>(FTree.size());
  for (int32_t i = Row; i <= n; i += LowBit(i)) FTree[static_cast<size_t>(i - 1)] += Delta;
}

TIB_Node* TIB_NodeList::NodeAt(int32_t Row, int32_t& DeletedBefore) {
  DeletedBefore = 0;
  if (FCount == 0 || Row < 0 || Row > FCount + 1) return nullptr;
  if (Row == 0) return FHead;
  if (Row == FCount + 1) {
    DeletedBefore = HiddenCount();
    return FTail;
  }
  for (const TCursor* c : {&FRowCursor, &FBufferCursor}) {
    if (c->Row == Row && c->Node && !c->Node->IsSentinel()) {
      DeletedBefore = c->DeletedBefore;
      return c->Node;
    }
  }
  if (Row == FCount) {
    DeletedBefore = HiddenCount();
    return FTail->Prior;
  }
  // Near a known position a short walk does; elsewhere the index answers.
  TCursor from{FHead, 0, 0};
  int32_t best = Row;
  for (const TCursor* c : {&FRowCursor, &FBufferCursor}) {
    if (c->Row >= 0 && c->Node && c->Node != FTail && std::abs(Row - c->Row) < best) {
      best = std::abs(Row - c->Row);
      from = *c;
    }
  }
  if (FCount - Row < best) {
    best = FCount - Row;
    from = {FTail->Prior, FCount, HiddenCount()};
  }
  if (FIndexValid || best > kShortWalk) {
    if (HiddenCount() > 0) {
      EnsureTree();
    } else {
      EnsureIndex();
    }
    DeletedBefore = HiddenCount() > 0 ? DeletedUpTo(Row) : 0;
    return FIndex[static_cast<size_t>(Row - 1)];
  }
  TCursor c = from;
  while (c.Row < Row) StepForward(c);
  while (c.Row > Row) {
    if (c.Node->Has(nfDeleted)) --c.DeletedBefore;
    c.Node = c.Node->Prior;
    --c.Row;
  }
  DeletedBefore = c.DeletedBefore;
  return c.Node;
}

TIB_NodeList::TCursor TIB_NodeList::LocateRow(int32_t Row) {
  int32_t db = 0;
  if (TIB_Node* n = NodeAt(Row, db)) return {n, Row, db};
  if (Row > 0 && FCount > 0) return {FTail, FCount + 1, HiddenCount()};
  return {FHead, 0, 0};
}

TIB_NodeList::TCursor TIB_NodeList::LocateVisibleRow(int32_t VisibleRow) {
  if (VisibleRow <= 0 || FCount == 0) return {FHead, 0, 0};
  if (HiddenCount() == 0) return LocateRow(VisibleRow);
  if (VisibleRow > FCount - HiddenCount()) return {FTail, FCount + 1, HiddenCount()};
  EnsureTree();
  const auto n = static_cast<int32_t>(FTree.size());
  int32_t step = 1;
  while (step * 2 <= n) step *= 2;
  int32_t pos = 0, rem = VisibleRow;
  for (; step > 0; step /= 2) {
    const int32_t next = pos + step;
    if (next <= n) {
      const int32_t visible = LowBit(next) - FTree[static_cast<size_t>(next - 1)];
      if (visible < rem) {
        pos = next;
        rem -= visible;
      }
    }
  }
  const int32_t row = pos + 1;
  return {FIndex[static_cast<size_t>(row - 1)], row, row - VisibleRow};
}

void TIB_NodeList::SetRowCursor(int32_t Row) { FRowCursor = LocateRow(Row); }
void TIB_NodeList::SetBufferCursor(int32_t Row) { FBufferCursor = LocateRow(Row); }

void TIB_NodeList::SetBufferPosition(TIB_Node* Node, int32_t Row, int32_t DeletedBefore) {
  FBufferCursor = {Node, Row, DeletedBefore};
}

void TIB_NodeList::SetRowPosition(TIB_Node* Node, int32_t Row, int32_t DeletedBefore) {
  FRowCursor = {Node, Row, DeletedBefore};
}

void TIB_NodeList::MoveBy(TCursor& C, int32_t n) {
  if (C.Row < 0) C = {FHead, 0, 0};
  while (n > 0 && C.Node != FTail) {
    StepForward(C);
    if (!C.Node->Has(nfDeleted)) --n;
  }
  while (n < 0 && C.Node != FHead) {
    if (C.Node->Has(nfDeleted)) --C.DeletedBefore;
    C.Node = C.Node->Prior;
    --C.Row;
    if (!C.Node->Has(nfDeleted)) ++n;
  }
}

void TIB_NodeList::IndexOfNode(TIB_Node* Node, int32_t& Row, int32_t& DeletedBefore) {
  Row = DeletedBefore = 0;
  if (!Node) return;
  for (const TCursor* c : {&FRowCursor, &FBufferCursor}) {
    if (c->Node == Node) {
      Row = c->Row;
      DeletedBefore = c->DeletedBefore;
      return;
    }
  }
  if (Node == FHead || Node->Has(nfInRetained | nfInPool)) return;
  if (Node == FTail) {
    Row = FCount + 1;
    DeletedBefore = HiddenCount();
    return;
  }
  EnsureIndex();
  if (Node->Pos < 0 || Node->Pos >= static_cast<int32_t>(FIndex.size()) ||
      FIndex[static_cast<size_t>(Node->Pos)] != Node) {
    return;
  }
  Row = Node->Pos + 1;
  NodeAt(Row, DeletedBefore);
}

bool TIB_NodeList::FindKey(const uint8_t* Key, bool IncludeRetained, TIB_Node*& Node, int32_t& Row,
                           int32_t& DeletedBefore) {
  Node = nullptr;
  Row = DeletedBefore = 0;
  if (FKeyLength <= 0) return false;
  auto same = [&](const TIB_Node* n) { return std::memcmp(n->KeyData(), Key, static_cast<size_t>(FKeyLength)) == 0; };
  const TCursor& b = FBufferCursor;
  if (!b.Node->IsSentinel() && (b.Row > 0 || IncludeRetained) && same(b.Node)) {
    Node = b.Node;
    Row = b.Row;
    DeletedBefore = b.Row > 0 ? b.DeletedBefore : 0;
    return true;
  }
  if (!FRowCursor.Node->IsSentinel() && FRowCursor.Row > 0 && same(FRowCursor.Node)) {
    Node = FRowCursor.Node;
    Row = FRowCursor.Row;
    DeletedBefore = FRowCursor.DeletedBefore;
    return true;
  }
  if (FCount > 0) {
    EnsureMainMap();
    if (TIB_Node* n = MapFind(FMainMap, Key)) {
      Node = n;
      IndexOfNode(n, Row, DeletedBefore);
      return true;
    }
  }
  if (IncludeRetained) {
    if (TIB_Node* n = MapFind(FRetainedMap, Key)) {
      Node = n;
      Row = -1;
      return true;
    }
  }
  return false;
}

void TIB_NodeList::SeekKey(const uint8_t* Key) {
  TIB_Node* n = nullptr;
  int32_t row = 0, db = 0;
  if (FindKey(Key, true, n, row, db)) {
    FBufferCursor = {n, row, db};
  } else {
    FBufferCursor = {FHead, 0, 0};
  }
}

// ---------------------------------------------------------------------------------------------------------
// Clearing and invalidating

void TIB_NodeList::ClearPendingInserts() {
  FPendingMap.ForEach([](TIB_Node* n) { n->Flags &= static_cast<uint16_t>(~nfPending); });
  FPendingMap.clear();
}

void TIB_NodeList::Clear(bool Keep, bool DropRecords) {
  ClearPendingInserts();
  if (!Keep) {
    for (TIB_Node* list : {FHead->Next, FRetained}) {
      for (TIB_Node* n = list; n && n != FTail;) {
        TIB_Node* next = n->Next;
        ReleaseNode(n);
        n = next;
      }
    }
    FRetained = nullptr;
    FRetainedCount = 0;
    FRetainedMap.clear();
    FChunks.clear();
    FChunkUsed = FChunkSize = 0;
    FStoreLive = FStoreTotal = FStoreCapacity = 0;
    Reset(true);
    return;
  }
  for (TIB_Node* n = FHead->Next; n != FTail;) {
    TIB_Node* next = n->Next;
    if (n->GetFlags() == 0 && !n->HasBlobNodes() && (DropRecords || n->RecordLength == 0)) {
      ReleaseNode(n);
    } else {
      PushRetained(n);
    }
    n = next;
  }
  if (FDeletedTotal > 0) {
    FRetainedDeleted = 0;
    for (TIB_Node* n = FRetained; n; n = n->Next) {
      if (n->Has(nfDeleted)) ++FRetainedDeleted;
    }
  }
  Reset(false);
  if (FStoreLive * 2 < FStoreTotal) CompactStore();
}

void TIB_NodeList::ClearAll() {
  ClearPendingInserts();
  FreeAllBlocks();
  FRetainedMap.clear();
  Reset(true);
}

// A row with a pending cached change keeps its records: they are the change (the edited or inserted
// values, or the row a delete must find at the server).
void TIB_NodeList::InvalidateNode(TIB_Node* Node) {
  if (!Node || Node->IsSentinel() || Node->Has(kChangeFlags)) return;
  FreeRecord(Node);
  TIB_NodeExtra* x = Node->Extra;
  if (!x) return;
  x->OldRecordData.reset();
  x->OldRecordLength = 0;
  if (x->OldKeyData) {
    if (Node->Has(nfPending)) MapErase(FPendingMap, Node->ServerKey(), Node);
    x->OldKeyData.reset();
    if (Node->Has(nfPending)) FPendingMap.emplace(Node->ServerKey(), Node);
  }
}

int32_t TIB_NodeList::InvalidateKey(const uint8_t* Key, const TIB_Node* Keep) {
  std::memcpy(FHead->KeyData(), Key, static_cast<size_t>(FKeyLength));
  TIB_Node* n = nullptr;
  int32_t row = 0, db = 0;
  if (!FindKey(FHead->KeyData(), true, n, row, db)) return 0;
  if (n != Keep) InvalidateNode(n);
  return row;
}

void TIB_NodeList::InvalidateAll(const TIB_Node* Keep) {
  for (TIB_Node* list : {FRetained, FHead->Next}) {
    for (TIB_Node* n = list; n && n != FTail; n = n->Next) {
      if (n != Keep) InvalidateNode(n);
    }
  }
}

// ---------------------------------------------------------------------------------------------------------
// Keys of edited rows

void TIB_NodeList::KeepOldKey(TIB_Node* Node) {
  TIB_NodeExtra& x = ExtraOf(Node);
  if (x.OldKeyData) return;
  const bool pending = Node->Has(nfPending);
  if (pending) MapErase(FPendingMap, Node->ServerKey(), Node);
  x.OldKeyData.reset(new uint8_t[static_cast<size_t>(std::max(FKeyLength, 1))]);
  std::memcpy(x.OldKeyData.get(), Node->KeyData(), static_cast<size_t>(FKeyLength));
  if (pending) FPendingMap.emplace(Node->ServerKey(), Node);
}

void TIB_NodeList::SetNodeKey(TIB_Node* Node, const uint8_t* Key) {
  const bool pending = Node->Has(nfPending);
  const bool retained = Node->Has(nfInRetained);
  const bool main = !retained && !Node->IsSentinel() && FMainMapValid;
  if (pending) MapErase(FPendingMap, Node->ServerKey(), Node);
  if (retained) MapErase(FRetainedMap, Node->KeyData(), Node);
  if (main) MapErase(FMainMap, Node->KeyData(), Node);
  std::memmove(Node->KeyData(), Key, static_cast<size_t>(FKeyLength));
  if (Node->Extra && Node->Extra->OldKeyData &&
      BuffersEqual(Node->Extra->OldKeyData.get(), Key, static_cast<size_t>(FKeyLength))) {
    Node->Extra->OldKeyData.reset();
  }
  if (pending) FPendingMap.emplace(Node->ServerKey(), Node);
  if (retained) FRetainedMap.emplace(Node->KeyData(), Node);
  if (main) FMainMap.emplace(Node->KeyData(), Node);
}

// ---------------------------------------------------------------------------------------------------------
// Selection

void TIB_NodeList::SetAllSelected(bool Value) {
  for (TIB_Node* n = FHead->Next; n != FTail; n = n->Next) {
    n->Flags = Value ? (n->Flags | nfSelected) : (n->Flags & static_cast<uint16_t>(~nfSelected));
  }
  FSelectNew = Value;
}

void TIB_NodeList::SetRangeSelected(int32_t RowA, int32_t RowB, bool OthersToo, bool Select) {
  const int32_t lo = std::min(RowA, RowB), hi = std::max(RowA, RowB);
  int32_t row = 1;
  for (TIB_Node* n = FHead->Next; n != FTail; n = n->Next, ++row) {
    const bool inRange = row >= lo && row <= hi;
    if (!inRange && !OthersToo) continue;
    const bool on = inRange ? Select : !Select;
    n->Flags = on ? (n->Flags | nfSelected) : (n->Flags & static_cast<uint16_t>(~nfSelected));
  }
}

// ---------------------------------------------------------------------------------------------------------
// Cached changes

void TIB_NodeList::AddToUpdateList(TIB_Node* Node) {
  if (Node->Has(nfInUpdate)) return;
  TIB_NodeExtra& x = ExtraOf(Node);
  x.UpdPrior = nullptr;
  x.UpdNext = FUpdateFirst;
  if (FUpdateFirst) FUpdateFirst->Extra->UpdPrior = Node;
  FUpdateFirst = Node;
  Node->Flags |= nfInUpdate;
  ++FUpdateListCount;
}

bool TIB_NodeList::RemoveFromUpdateList(TIB_Node* Node) {
  // Every node flagged with a change holds an item: one without is a broken list.
  if (!Node->Has(nfInUpdate)) IB_Raise<Exception>(IBMsg::ThisShouldntHappen, {3});
  TIB_NodeExtra* x = Node->Extra;
  if (!x) IB_Raise<Exception>(IBMsg::ThisShouldntHappen, {1});
  if ((x->UpdPrior ? x->UpdPrior->Extra->UpdNext : FUpdateFirst) != Node ||
      (x->UpdNext && x->UpdNext->Extra->UpdPrior != Node)) {
    IB_Raise<Exception>(IBMsg::ThisShouldntHappen, {2});
  }
  if (x->UpdPrior) {
    x->UpdPrior->Extra->UpdNext = x->UpdNext;
  } else {
    FUpdateFirst = x->UpdNext;
  }
  if (x->UpdNext) x->UpdNext->Extra->UpdPrior = x->UpdPrior;
  x->UpdPrior = x->UpdNext = nullptr;
  Node->Flags &= static_cast<uint16_t>(~nfInUpdate);
  --FUpdateListCount;
  return true;
}

void TIB_NodeList::CountPendingInView(int32_t& Inserted, int32_t& Deleted) const {
  Inserted = Deleted = 0;
  for (const TIB_Node* n = FUpdateFirst; n; n = n->Extra->UpdNext) {
    if (n->Has(nfInRetained | kMarks)) continue;
    if (n->Has(nfInserted)) ++Inserted;
    if (n->Has(nfDeleted)) ++Deleted;
  }
}

std::vector<const TIB_Node*> TIB_NodeList::RetainedPendingDeletes() const {
  std::vector<const TIB_Node*> nodes;
  for (const TIB_Node* n = FUpdateFirst; n; n = n->Extra->UpdNext) {
    if (n->Has(nfInRetained) && n->Has(nfDeleted) && !n->Has(kMarks)) nodes.push_back(n);
  }
  return nodes;
}

void TIB_NodeList::MarkChanged(TIB_Node* Node, uint16_t Flag) {
  if (Node->Has(nfInserted | nfModified)) return;
  if (Flag == nfModified && !Node->OldRecordData()) MoveRecordToOld(Node);
  Node->Flags |= Flag;
  if (Flag == nfModified) {
    ++FModifiedCount;
  } else {
    ++FInsertedCount;
  }
  AddToUpdateList(Node);
}

void TIB_NodeList::MarkDeleted(TIB_Node* Node, bool Deleted) {
  if (Deleted == Node->Has(nfDeleted)) return;
  int32_t r = 0, db = 0;
  if (!Node->Has(nfInRetained)) IndexOfNode(Node, r, db);
  const int32_t delta = Deleted ? 1 : -1;
  const bool marked = Node->Has(kMarks);
  if (Deleted) {
    if (Node->Has(nfModified)) {
      Node->Flags &= static_cast<uint16_t>(~nfModified);
      if (!marked) --FModifiedCount;
    }
    Node->Flags &= static_cast<uint16_t>(~kMarks);
    Node->Flags |= nfDeleted;
    ++FDeletedCount;
    AddToUpdateList(Node);
  } else {
    Node->Flags &= static_cast<uint16_t>(~nfDeleted);
    if (!marked) --FDeletedCount;
  }
  FDeletedTotal += delta;
  if (Node->Has(nfInRetained)) FRetainedDeleted += delta;
  if (r > 0) {
    TreeAdd(r, delta);
    for (TCursor* c : {&FRowCursor, &FBufferCursor}) {
      if (c->Row >= r) c->DeletedBefore += delta;
    }
  }
}

void TIB_NodeList::MarkApplied(TIB_Node* Node, uint16_t Mark) {
  if (Node->Has(kMarks)) return;
  if (Node->Has(nfModified)) --FModifiedCount;
  if (Node->Has(nfInserted)) --FInsertedCount;
  if (Node->Has(nfDeleted)) --FDeletedCount;
  Node->Flags |= Mark;
}

void TIB_NodeList::ClearApplyMark(TIB_Node* Node) {
  if (!Node->Has(kMarks)) return;
  Node->Flags &= static_cast<uint16_t>(~kMarks);
  if (Node->Has(nfModified)) ++FModifiedCount;
  if (Node->Has(nfInserted)) ++FInsertedCount;
  if (Node->Has(nfDeleted)) ++FDeletedCount;
}

void TIB_NodeList::AcceptNode(TIB_Node* Node) {
  ClearApplyMark(Node);
  if (Node->Has(nfDeleted)) MarkDeleted(Node, false);
  if (Node->Has(nfModified)) --FModifiedCount;
  if (Node->Has(nfInserted)) --FInsertedCount;
  const bool changed = Node->Has(kChangeFlags);
  Node->Flags &= static_cast<uint16_t>(~(kChangeFlags | kMarks | nfOutOfOrder));
  if (changed) RemoveFromUpdateList(Node);
  if (TIB_NodeExtra* x = Node->Extra) {
    x->OldRecordData.reset();
    x->OldRecordLength = 0;
    if (x->OldKeyData) {
      if (Node->Has(nfPending)) MapErase(FPendingMap, Node->ServerKey(), Node);
      x->OldKeyData.reset();
      if (Node->Has(nfPending)) FPendingMap.emplace(Node->ServerKey(), Node);
    }
  }
}

bool TIB_NodeList::RevertNode(TIB_Node* Node, bool LeaveInUpdateList) {
  if (Node->Has(nfInserted)) IB_Raise<Exception>(IBMsg::UnsupportedHere);
  bool callerRemoves = false;
  auto dropItem = [&] {
    if (LeaveInUpdateList) {
      callerRemoves = Node->Has(nfInUpdate);
    } else {
      RemoveFromUpdateList(Node);
    }
  };
  if (Node->Has(nfModified)) {
    dropItem();
    Node->Flags &= static_cast<uint16_t>(~nfModified);
    if (!Node->Has(kMarks)) --FModifiedCount;
    TIB_NodeExtra* x = Node->Extra;
    if (x && x->OldRecordData) {
      const int32_t len = std::abs(x->OldRecordLength);
      std::unique_ptr<uint8_t[]> old = std::move(x->OldRecordData);
      x->OldRecordLength = 0;
      SetRecord(Node, old.get(), len);
    }
    // The row goes back to the key the server knows it by.
    if (x && x->OldKeyData) {
      std::unique_ptr<uint8_t[]> key(new uint8_t[static_cast<size_t>(std::max(FKeyLength, 1))]);
      std::memcpy(key.get(), x->OldKeyData.get(), static_cast<size_t>(FKeyLength));
      SetNodeKey(Node, key.get());
    }
  }
  if (Node->Has(nfDeleted)) {
    if (Node->OldRecordData()) {
      Node->Flags |= nfModified;
      if (!Node->Has(kMarks)) ++FModifiedCount;
    } else {
      dropItem();
    }
    MarkDeleted(Node, false);
  }
  Node->Flags &= static_cast<uint16_t>(~kMarks);
  return callerRemoves;
}
