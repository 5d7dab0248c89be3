#include "dblib/IB_BlobNode.h"

#include <cstdlib>
#include <cstring>
#include <new>

void ClearBlobNode(TIB_BlobNode& Node) {
  Node.BlobID = ISC_QUAD{};
  Node.BlobSize = 0;
  Node.BlobFlag = 0;
  Node.FieldNo = 0;
}

void ResetBlobNode(TIB_BlobNode& Node) {
  ClearBlobNode(Node);
  std::free(Node.BlobBuffer);
  Node.BlobBuffer = nullptr;
  Node.BlobBufferSize = 0;
}

void FreeBlobNodeList(PIB_BlobNode& List) {
  PIB_BlobNode node = List;
  List = nullptr;
  while (node) {
    PIB_BlobNode next = node->Next;
    std::free(node->BlobBuffer);
    delete node;
    node = next;
  }
}

PIB_BlobNode FindBlobNode(PIB_BlobNode List, const ISC_QUAD& Id, int16_t FieldNo, PIB_BlobNode& Prior) {
  Prior = nullptr;
  if (!IsZeroQuad(Id)) {
    for (PIB_BlobNode prior = nullptr, n = List; n; prior = n, n = n->Next) {
      if (SameQuad(n->BlobID, Id)) {
        Prior = prior;
        return n;
      }
    }
    return nullptr;  // another value of the same field is never this one
  }
  for (PIB_BlobNode prior = nullptr, n = List; n; prior = n, n = n->Next) {
    if (n->FieldNo == FieldNo) {
      Prior = prior;
      return n;
    }
  }
  return nullptr;
}

PIB_BlobNode AddBlobNode(PIB_BlobNode& List, TIB_BlobNode& Node, bool Move) {
  PIB_BlobNode prior = nullptr;
  PIB_BlobNode target = FindBlobNode(List, Node.BlobID, Node.FieldNo, prior);
  if (!target) {
    target = new TIB_BlobNode();
    target->Next = List;
    List = target;
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
    Dest.BlobBuffer = Source.BlobBuffer;
    Dest.BlobBufferSize = Source.BlobBufferSize;
    Source.BlobBuffer = nullptr;
    Source.BlobBufferSize = 0;
  } else {
    // Allocate before releasing anything, so a failed allocation leaves Dest as it was.
    uint8_t* copy = nullptr;
    if (Source.BlobSize > 0) {
      copy = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(Source.BlobSize)));
      if (!copy) throw std::bad_alloc();
      std::memcpy(copy, Source.BlobBuffer, static_cast<size_t>(Source.BlobSize));
    }
    ResetBlobNode(Dest);
    Dest.BlobBuffer = copy;
    Dest.BlobBufferSize = copy ? Source.BlobSize : 0;
  }
  Dest.BlobID = Source.BlobID;
  Dest.FieldNo = Source.FieldNo;
  Dest.BlobSize = Source.BlobSize;
  Dest.BlobFlag = Source.BlobFlag;
  if (Move) ClearBlobNode(Source);
}

void ReserveBlobNode(TIB_BlobNode& Node, int32_t Capacity) {
  if (Capacity <= Node.BlobBufferSize) return;
  void* grown = std::realloc(Node.BlobBuffer, static_cast<size_t>(Capacity));
  if (!grown) throw std::bad_alloc();
  Node.BlobBuffer = static_cast<uint8_t*>(grown);
  Node.BlobBufferSize = Capacity;
}

void ShrinkBlobNode(TIB_BlobNode& Node) {
  if (Node.BlobBufferSize <= Node.BlobSize) return;
  if (Node.BlobSize <= 0) {
    std::free(Node.BlobBuffer);
    Node.BlobBuffer = nullptr;
    Node.BlobBufferSize = 0;
    return;
  }
  void* shrunk = std::realloc(Node.BlobBuffer, static_cast<size_t>(Node.BlobSize));
  if (!shrunk) return;  // keeping the larger buffer is harmless
  Node.BlobBuffer = static_cast<uint8_t*>(shrunk);
  Node.BlobBufferSize = Node.BlobSize;
}
