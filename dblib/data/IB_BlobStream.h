// TIB_BlobStream: a stream over the value of one blob or array column.
//
// A blob or array column holds only the value's 8-byte id in the row buffer; the bytes live in a blob
// node: the column's own node in the row while the value is being changed, or a node of the blob-node
// cache in use (the row's own, or the one of the buffer node the row shows) once read from the server.
// A read stream loads the value into the cache on first use, so a value is fetched once per id; a write
// stream fills the column's own node, which the row writes to the server when the statement executes.
//
// Lifetime: a stream points at its column, its row and a node of the row. Free it before the row moves
// to another value, is reset or is described again (prepare, unprepare), and before the column goes.
// A write stream is one change of the column: BeforeModify runs on the first write (at once for a
// stream that replaces the value), AfterModify when the stream ends (EndWrite, else its destructor).
#pragma once

#include <cstdint>

#include "dblib/IB_BlobNode.h"
#include "platform/Streams.h"

class TIB_Column;
class TIB_Row;

// Stream modes.
inline constexpr uint8_t bsmRead = 0;
inline constexpr uint8_t bsmWrite = 1;      // replaces the value: it starts empty and null
inline constexpr uint8_t bsmReadWrite = 2;  // reads the value and modifies it in place

class TIB_BlobStream : public TStream {
public:
  TIB_BlobStream(TIB_Column& Column, uint8_t Mode);
  // Ends a write that EndWrite did not end; what AfterModify raises there is reported, not raised.
  ~TIB_BlobStream() override;
  TIB_BlobStream(const TIB_BlobStream&) = delete;
  TIB_BlobStream& operator=(const TIB_BlobStream&) = delete;

  int64_t Read(void* Buffer, int64_t Count) override;
  // Nothing in read mode (0 is returned). A write at a position past the end fills the gap with zeros.
  int64_t Write(const void* Buffer, int64_t Count) override;
  // The result is cut to the value's size (and never below 0).
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // Cuts or extends (with zeros) the value; EWriteError in read mode.
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;

  // Makes room for Bytes bytes of value, so that writing them allocates no more.
  void Reserve(int64_t Bytes);
  // Ends the change this stream made (the column's AfterModify); nothing when it wrote nothing.
  void EndWrite();

  TIB_Column* GetColumn() const noexcept { return FColumn; }
  uint8_t GetMode() const noexcept { return FMode; }
  // The node read or written; nullptr for a null value read.
  TIB_BlobNode* GetNode() const noexcept { return FNode; }
  bool GetWriteStarted() const noexcept { return FWriteStarted; }

  // The node of the cache in use that holds the value Id of Column, read from the server and put at
  // the head of the cache when it is not there; nullptr for a zero Id that the cache does not hold.
  static TIB_BlobNode* CachedNode(TIB_Column& Column, const ISC_QUAD& Id);

private:
  void BeginWrite();
  void MarkWriteStarted();
  void SetNullIndicator(int16_t Value);
  void Grow(int64_t Needed);

  TIB_Column* FColumn;
  TIB_Row* FRow;
  uint8_t FMode;
  int16_t FFieldNo;
  TIB_BlobNode* FNode = nullptr;
  int64_t FPosition = 0;
  bool FWriteStarted = false;
  bool FWriteEnded = false;
};

// The 8-byte id in the current (Old: the old) record buffer of a blob or array column.
ISC_QUAD ReadBlobID(const TIB_Column& Column, bool Old = false);
