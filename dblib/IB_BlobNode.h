// Blob and array values held in memory, and the singly linked lists that keep them per row.
#pragma once

#include <cstdint>
#include <memory>

#include "dblib/IB_Header.h"

// One blob or array value: its id at the server and, once read or before writing, its bytes. A node
// owns its data buffer and, in a list, the rest of the list after it (Next). Nodes move; they are
// never copied (CopyBlobNode copies a value between nodes on purpose).
struct TIB_BlobNode {
  TIB_BlobNode() = default;
  TIB_BlobNode(TIB_BlobNode&&) noexcept = default;
  TIB_BlobNode& operator=(TIB_BlobNode&&) noexcept = default;
  ~TIB_BlobNode();

  ISC_QUAD BlobID{};  // the blob or array id; zero when none
  std::unique_ptr<uint8_t[]> BlobBuffer;
  int32_t BlobBufferSize = 0;  // capacity of BlobBuffer
  int32_t BlobSize = 0;        // bytes of data in BlobBuffer
  uint8_t BlobFlag = 0;
  int16_t FieldNo = 0;
  std::unique_ptr<TIB_BlobNode> Next;
};
using PIB_BlobNode = TIB_BlobNode*;
// The head of a list of blob nodes; it owns the whole list.
using TIB_BlobNodeList = std::unique_ptr<TIB_BlobNode>;

inline bool IsZeroQuad(const ISC_QUAD& Q) { return Q.gds_quad_high == 0 && Q.gds_quad_low == 0; }
inline bool SameQuad(const ISC_QUAD& A, const ISC_QUAD& B) {
  return A.gds_quad_high == B.gds_quad_high && A.gds_quad_low == B.gds_quad_low;
}

// Id, size, flag and field number become 0; the buffer stays for reuse.
void ClearBlobNode(TIB_BlobNode& Node);
// ClearBlobNode, then frees the buffer.
void ResetBlobNode(TIB_BlobNode& Node);
// Frees every node of List with its buffer and leaves List empty.
void FreeBlobNodeList(TIB_BlobNodeList& List);
// With a non-zero Id the first node with that id; with a zero Id the first node with FieldNo; nullptr
// when none is found. Prior receives the node before the result (nullptr for the head).
PIB_BlobNode FindBlobNode(PIB_BlobNode List, const ISC_QUAD& Id, int16_t FieldNo, PIB_BlobNode& Prior);
// Stores a copy of Node in List: into the node found for Node's id and field number, else into a new
// node put at the head. With Move the data buffer changes hands instead of being copied. Returns the
// list's node.
PIB_BlobNode AddBlobNode(TIB_BlobNodeList& List, TIB_BlobNode& Node, bool Move);
// Copies the list's node for Node's id or field number (data included) into Node; false when none.
bool RestoreBlobNode(PIB_BlobNode List, TIB_BlobNode& Node);
// Resets Dest and copies id, field number, size and flag. With Move, Dest takes over Source's buffer
// and Source is cleared without a buffer; otherwise Dest gets its own copy of the data. Dest keeps its
// place in its list (its Next link is untouched).
void CopyBlobNode(TIB_BlobNode& Source, TIB_BlobNode& Dest, bool Move);

// Makes the buffer hold at least Capacity bytes, keeping its data. Throws std::bad_alloc when memory
// runs out.
void ReserveBlobNode(TIB_BlobNode& Node, int32_t Capacity);
// Shrinks the buffer to the data size when more than an eighth of it is unused.
void ShrinkBlobNode(TIB_BlobNode& Node);
