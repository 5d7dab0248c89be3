#include "dblib/IB_BlobNode.h"

#include <cstring>
#include <new>
#include <utility>

TIB_BlobNode::~TIB_BlobNode() {
  // The rest of a list goes node by node: letting each node free the next would recurse once per node.
  std::unique_ptr<TIB_BlobNode> next = std::move(Next);
  while (next) next = std::move(next->Next);
}

void ClearBlobNode(TIB_BlobNode& Node) {
  Node.BlobID = ISC_QUAD{};
  Node.BlobSize = 0;
  Node.BlobFlag = 0;
  Node.FieldNo = 0;
}

void ResetBlobNode(TIB_BlobNode& Node) {
  ClearBlobNode(Node);
  Node.BlobBuffer.reset();
  Node.BlobBufferSize = 0;
}

void FreeBlobNodeList(TIB_BlobNodeList& List) { List.reset(); }

PIB_BlobNode FindBlobNode(PIB_BlobNode List, const ISC_QUAD& Id, int16_t FieldNo, PIB_BlobNode& Prior) {
  Prior = nullptr;
  if (!IsZeroQuad(Id)) {
    for (PIB_BlobNode prior = nullptr, n = List; n; prior = n, n = n->Next.get()) {
      if (SameQuad(n->BlobID, Id)) {
        Prior = prior;
        return n;
      }
    }
    return nullptr;  // another value of the same field is never this one
  }
  for (PIB_BlobNode prior = nullptr, n = List; n; prior = n, n = n->Next.get()) {
    if (n->FieldNo == FieldNo) {
      Prior = prior;
      return n;
    }
  }
  return nullptr;
}

PIB_BlobNode AddBlobNode(TIB_BlobNodeList& List, TIB_BlobNode& Node, bool Move) {
  PIB_BlobNode prior = nullptr;
  PIB_BlobNode target = FindBlobNode(List.get(), Node.BlobID, Node.FieldNo, prior);
  if (!target) {
    auto fresh = std::make_unique<TIB_BlobNode>();
    fresh->Next = std::move(List);
    List = std::move(fresh);
    target = List.get();
  }
  if (target != &Node) CopyBlobNode(Node, *target, Move);
  return target;
}

bool RestoreBlobNode(PIB_BlobNode List, TIB_BlobNode& Node) {
  PIB_BlobNode prior = nullptr;
  PIB_BlobNode found = FindBlobNode(List, Node.BlobID, Node.FieldNo, prior);
  if (!found) return false;
  if (found != &Node) CopyBlobNode(*found, Node, false);
  return true;
}

void CopyBlobNode(TIB_BlobNode& Source, TIB_BlobNode& Dest, bool Move) {
  if (&Source == &Dest) return;
  if (Move) {
    ResetBlobNode(Dest);
    Dest.BlobBuffer = std::move(Source.BlobBuffer);
    Dest.BlobBufferSize = std::exchange(Source.BlobBufferSize, 0);
  } else {
    // Allocate before releasing anything, so a failed allocation leaves Dest as it was.
    std::unique_ptr<uint8_t[]> copy;
    if (Source.BlobSize > 0) {
      copy = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(Source.BlobSize));
      std::memcpy(copy.get(), Source.BlobBuffer.get(), static_cast<size_t>(Source.BlobSize));
    }
    ResetBlobNode(Dest);
    Dest.BlobBufferSize = copy ? Source.BlobSize : 0;
    Dest.BlobBuffer = std::move(copy);
  }
  Dest.BlobID = Source.BlobID;
  Dest.FieldNo = Source.FieldNo;
  Dest.BlobSize = Source.BlobSize;
  Dest.BlobFlag = Source.BlobFlag;
  if (Move) ClearBlobNode(Source);
}

void ReserveBlobNode(TIB_BlobNode& Node, int32_t Capacity) {
  if (Capacity <= Node.BlobBufferSize) return;
  auto grown = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(Capacity));
  if (Node.BlobBufferSize > 0)
    std::memcpy(grown.get(), Node.BlobBuffer.get(), static_cast<size_t>(Node.BlobBufferSize));
  Node.BlobBuffer = std::move(grown);
  Node.BlobBufferSize = Capacity;
}

void ShrinkBlobNode(TIB_BlobNode& Node) {
  // Shrinking copies the data: giving back an eighth of the buffer or less is not worth a second copy
  // of a large value (a read reserves one segment more than the blob's length).
  if (Node.BlobBufferSize - Node.BlobSize <= Node.BlobBufferSize / 8) return;
  if (Node.BlobSize <= 0) {
    Node.BlobBuffer.reset();
    Node.BlobBufferSize = 0;
    return;
  }
  std::unique_ptr<uint8_t[]> shrunk(new (std::nothrow) uint8_t[static_cast<size_t>(Node.BlobSize)]);
  if (!shrunk) return;  // keeping the larger buffer is harmless
  std::memcpy(shrunk.get(), Node.BlobBuffer.get(), static_cast<size_t>(Node.BlobSize));
  Node.BlobBuffer = std::move(shrunk);
  Node.BlobBufferSize = Node.BlobSize;
}
