#include "dblib/data/IB_BlobStream.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Errors.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_Row.h"
#include "platform/Forms.h"

namespace {

// The node's bytes and capacity: the only two places that know how a node holds its buffer.
uint8_t* NodeBytes(TIB_BlobNode& Node) { return Node.BlobBuffer.get(); }
int32_t NodeCapacity(const TIB_BlobNode& Node) { return Node.BlobBufferSize; }

bool IsBlobOrArray(const XSQLVAR& Var) {
  const int type = Var.sqltype & ~1;
  return type == SQL_BLOB || type == SQL_ARRAY;
}

ISC_QUAD QuadAt(const uint8_t* P) {
  ISC_QUAD id{};
  if (P) std::memcpy(&id, P, sizeof id);
  return id;
}

// The place of Var's value in the old record buffer (the same offset as in the current one).
const uint8_t* OldDataOf(TIB_Row& Row, const XSQLVAR& Var) {
  const uint8_t* cur = Row.GetRecordBuffer();
  const uint8_t* old = Row.GetOldRecordBuffer();
  const auto* data = reinterpret_cast<const uint8_t*>(Var.sqldata);
  if (!cur || !old || !data || data < cur || data + sizeof(ISC_QUAD) > cur + Row.GetRecordLength()) return nullptr;
  return old + (data - cur);
}

// Whether the column's indicator (in the current record, or at the same place in the old one)
// says null: a null column's id bytes are left from whatever the record held before.
bool NullAt(TIB_Row& Row, const XSQLVAR& Var, bool Old) {
  if ((Var.sqltype & 1) == 0 || !Var.sqlind) return false;
  const auto* ind = reinterpret_cast<const uint8_t*>(Var.sqlind);
  if (Old) {
    const uint8_t* cur = Row.GetRecordBuffer();
    const uint8_t* old = Row.GetOldRecordBuffer();
    if (!cur || !old || ind < cur || ind + sizeof(ISC_SHORT) > cur + Row.GetRecordLength()) return false;
    ind = old + (ind - cur);
  }
  ISC_SHORT value = 0;
  std::memcpy(&value, ind, sizeof value);
  return value == -1;
}

// The row shows or showed the value Id: in a blob or array column of its current or old record that
// is not null.
bool RowHoldsId(TIB_Row& Row, const ISC_QUAD& Id) {
  XSQLDA* da = Row.GetPSQLDA();
  for (int i = 0; da && i < da->sqld; ++i) {
    const XSQLVAR& var = da->sqlvar[i];
    if (!IsBlobOrArray(var)) continue;
    const uint8_t* data = reinterpret_cast<const uint8_t*>(var.sqldata);
    if (!NullAt(Row, var, false) && SameQuad(QuadAt(data), Id)) return true;
    if (!NullAt(Row, var, true) && SameQuad(QuadAt(OldDataOf(Row, var)), Id)) return true;
  }
  return false;
}

// A row without a buffer node keeps in its own cache only the values its record shows: the cache of a
// statement that fetches row after row must not grow with the rows.
void DropValuesOfOtherRows(TIB_Row& Row) {
  if (Row.GetBufferNode()) return;
  TIB_BlobNodeList* link = &Row.GetBlobNodeList();
  while (*link) {
    TIB_BlobNode* cached = link->get();
    if (IsZeroQuad(cached->BlobID) || RowHoldsId(Row, cached->BlobID)) {
      link = &cached->Next;
      continue;
    }
    *link = std::move(cached->Next);  // frees the node, the rest of the list stays
  }
}

bool HasCache(const TIB_Row& Row) { return !Row.GetIsKeyRow() && !Row.GetNoBlobNodes(); }

}  // namespace

ISC_QUAD ReadBlobID(const TIB_Column& Column, bool Old) {
  const XSQLVAR& var = *Column.GetPSQLVAR();
  if (!Old) return QuadAt(reinterpret_cast<const uint8_t*>(var.sqldata));
  return Column.GetRow() ? QuadAt(OldDataOf(*Column.GetRow(), var)) : ISC_QUAD{};
}

TIB_BlobNode* TIB_BlobStream::CachedNode(TIB_Column& Column, const ISC_QUAD& Id) {
  TIB_Row& row = *Column.GetRow();
  // Values of records the row showed before go first: the server gives a freed id to a new value, so
  // an id kept from another record could name this record's value.
  DropValuesOfOtherRows(row);
  PIB_BlobNode prior = nullptr;
  if (TIB_BlobNode* found = FindBlobNode(row.GetBlobNodeList().get(), Id, Column.GetFieldNo(), prior)) return found;
  if (IsZeroQuad(Id)) return nullptr;
  auto node = std::make_unique<TIB_BlobNode>();
  node->BlobID = Id;
  node->FieldNo = Column.GetFieldNo();
  // A blob that cannot be read raises here: it never reads as an empty value.
  Column.GetStatement()->LoadBlobNode(Column, node.get());
  TIB_BlobNodeList& list = row.GetBlobNodeList();
  node->Next = std::move(list);
  list = std::move(node);
  return list.get();
}

TIB_BlobStream::TIB_BlobStream(TIB_Column& Column, uint8_t Mode)
    : FColumn(&Column), FRow(Column.GetRow()), FMode(Mode), FFieldNo(Column.GetFieldNo()) {
  TIB_BlobNode* own = FRow->GetBlobNode(FFieldNo);
  if (FMode == bsmWrite) {
    if (!own) IB_Raise<EIB_Error>(IBMsg::UnassignedBlobNode);
    // The change starts before anything is cleared: a refused change leaves the value as it was.
    FColumn->BeforeModify();
    ClearBlobNode(*own);
    own->FieldNo = FFieldNo;
    FNode = own;
    // Null the column's way: a parameter described NOT NULL becomes nullable, so an empty stream sends NULL.
    FColumn->SetIsNull(true);
    MarkWriteStarted();
    return;
  }
  if (FMode == bsmReadWrite && !own) IB_Raise<EIB_Error>(IBMsg::UnassignedBlobNode);
  if (Column.GetIsNull() || !HasCache(*FRow)) {
    // A read of a null value reads nothing; the column's node is left to a write that may be pending.
    if (FMode == bsmReadWrite) {
      ClearBlobNode(*own);
      own->FieldNo = FFieldNo;
      FNode = own;
    }
    return;
  }
  const ISC_QUAD id = ReadBlobID(Column);
  if (own &&
      ((own->BlobFlag & bnfModified) != 0 || (own->BlobSize > 0 && !IsZeroQuad(id) && SameQuad(own->BlobID, id)))) {
    FNode = own;
    return;
  }
  if (FMode == bsmRead) {
    FNode = CachedNode(Column, id);
    return;
  }
  own->BlobID = id;
  own->FieldNo = FFieldNo;
  if (!RestoreBlobNode(FRow->GetBlobNodeList().get(), *own)) {
    if (IsZeroQuad(id)) {
      ClearBlobNode(*own);
      own->FieldNo = FFieldNo;
    } else {
      try {
        Column.GetStatement()->LoadBlobNode(Column, own);
      } catch (...) {
        ClearBlobNode(*own);  // a part read is not the value
        throw;
      }
    }
  }
  FNode = own;
}

TIB_BlobStream::~TIB_BlobStream() {
  if (FWriteStarted && !FWriteEnded) RunReported([this] { EndWrite(); });
}

void TIB_BlobStream::EndWrite() {
  if (!FWriteStarted || FWriteEnded) return;
  FWriteEnded = true;
  FColumn->AfterModify();
}

void TIB_BlobStream::SetNullIndicator(int16_t Value) {
  if (int16_t* ind = FColumn->GetPSQLVAR()->sqlind) std::memcpy(ind, &Value, sizeof Value);
}

void TIB_BlobStream::MarkWriteStarted() {
  // The value is new: its old id no longer stands for it, neither in the row nor in the node.
  const ISC_QUAD zero{};
  if (char* data = FColumn->GetPSQLVAR()->sqldata) std::memcpy(data, &zero, sizeof zero);
  FNode->BlobID = zero;
  FNode->BlobFlag |= bnfModified;
  FWriteStarted = true;
}

void TIB_BlobStream::BeginWrite() {
  if (FWriteStarted) return;
  FColumn->BeforeModify();
  MarkWriteStarted();
}

int64_t TIB_BlobStream::Read(void* Buffer, int64_t Count) {
  if (!FNode || Count < 1) return 0;
  const int64_t n = std::min<int64_t>(Count, FNode->BlobSize - FPosition);
  if (n < 1) return 0;
  std::memcpy(Buffer, NodeBytes(*FNode) + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

void TIB_BlobStream::Grow(int64_t Needed) {
  const int32_t capacity = NodeCapacity(*FNode);
  if (Needed <= capacity) return;
  // Half as much again each time: a value written in small pieces is copied a bounded number of times.
  const int64_t grown = std::max<int64_t>(Needed, int64_t{capacity} + capacity / 2);
  ReserveBlobNode(*FNode, static_cast<int32_t>(std::min<int64_t>(grown, INT32_MAX)));
}

int64_t TIB_BlobStream::Write(const void* Buffer, int64_t Count) {
  if (FMode == bsmRead || !FNode || Count < 1) return 0;
  const int64_t end = FPosition + Count;
  if (end > INT32_MAX) return 0;  // a node holds at most 2 GiB; the caller's WriteBuffer raises
  BeginWrite();
  Grow(end);
  SetNullIndicator(0);
  uint8_t* bytes = NodeBytes(*FNode);
  if (FPosition > FNode->BlobSize)
    std::memset(bytes + FNode->BlobSize, 0, static_cast<size_t>(FPosition - FNode->BlobSize));
  std::memcpy(bytes + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  FNode->BlobSize = std::max<int32_t>(FNode->BlobSize, static_cast<int32_t>(end));
  return Count;
}

int64_t TIB_BlobStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  const int64_t size = FNode ? FNode->BlobSize : 0;
  int64_t pos = Origin == soBeginning ? Offset : Origin == soCurrent ? FPosition + Offset : size + Offset;
  if (FNode && pos > size) pos = size;
  FPosition = std::max<int64_t>(pos, 0);
  return FPosition;
}

void TIB_BlobStream::SetSize(int64_t NewSize) {
  if (FMode == bsmRead || !FNode || NewSize < 0 || NewSize > INT32_MAX) throw EWriteError("Stream write error");
  BeginWrite();
  Grow(NewSize);
  SetNullIndicator(0);
  if (NewSize > FNode->BlobSize) {
    std::memset(NodeBytes(*FNode) + FNode->BlobSize, 0, static_cast<size_t>(NewSize - FNode->BlobSize));
  }
  FNode->BlobSize = static_cast<int32_t>(NewSize);
}

int64_t TIB_BlobStream::GetSize() { return FNode ? FNode->BlobSize : 0; }

void TIB_BlobStream::Reserve(int64_t Bytes) {
  if (FMode == bsmRead || !FNode || Bytes <= NodeCapacity(*FNode)) return;
  ReserveBlobNode(*FNode, static_cast<int32_t>(std::min<int64_t>(Bytes, INT32_MAX)));
}
