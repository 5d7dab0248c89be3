// Blob and array transfer between the server and blob nodes.
#include <algorithm>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_SessionBase.h"

namespace {

constexpr int32_t kMaxSegment = 65535;  // segment lengths are 16-bit
constexpr int32_t kDefaultSegment = 1024;

int32_t VaxInteger(const unsigned char* P, size_t Length) {
  uint32_t v = 0;
  for (size_t i = 0; i < Length && i < 4; ++i) v |= static_cast<uint32_t>(P[i]) << (8 * i);
  return static_cast<int32_t>(v);
}

bool IsBlobType(const XSQLVAR& V) { return (V.sqltype & ~1) == SQL_BLOB; }
bool IsArrayType(const XSQLVAR& V) { return (V.sqltype & ~1) == SQL_ARRAY; }
bool IsBlrText(const XSQLVAR& V) { return V.sqlsubtype == isc_blob_blr; }

// Closes the blob when it goes out of scope without having been closed on the normal path (a failed
// transfer or an exception from a callback). Uses a scratch status vector: the failure that ended the
// transfer stays the one reported.
class TBlobCleanup {
public:
  TBlobCleanup(decltype(TIB_EntryTable::isc_close_blob) Close, isc_blob_handle* Handle)
      : FClose(Close), FHandle(Handle) {}
  ~TBlobCleanup() {
    if (*FHandle != 0 && FClose) {
      TFpuGuard guard;
      ISC_STATUS_ARRAY scratch{};
      FClose(scratch, FHandle);
      *FHandle = 0;
    }
  }
  TBlobCleanup(const TBlobCleanup&) = delete;
  TBlobCleanup& operator=(const TBlobCleanup&) = delete;

private:
  decltype(TIB_EntryTable::isc_close_blob) FClose;
  isc_blob_handle* FHandle;
};

}  // namespace

int32_t ArraySliceSize(const ISC_ARRAY_DESC& ArrayDesc) {
  const int dims = ArrayDesc.array_desc_dimensions;
  if (dims < 1 || dims > 16) IB_Raise<EIB_Error>(IBMsg::InvalidArrayDimensions, {int64_t{dims}});
  int64_t elements = 1;
  for (int i = 0; i < dims; ++i) {
    const int64_t extent = int64_t{ArrayDesc.array_desc_bounds[i].array_bound_upper} -
                           ArrayDesc.array_desc_bounds[i].array_bound_lower + 1;
    if (extent <= 0) return 0;
    elements *= extent;
    if (elements > INT32_MAX) IB_Raise<EIB_Error>(IBMsg::ArraySliceTooLarge);
  }
  int64_t element = ArrayDesc.array_desc_length;
  if (ArrayDesc.array_desc_dtype == blr_varying || ArrayDesc.array_desc_dtype == blr_varying2) element += 2;
  const int64_t size = elements * element;
  if (size > INT32_MAX) IB_Raise<EIB_Error>(IBMsg::ArraySliceTooLarge);
  return static_cast<int32_t>(size);
}

ISC_STATUS TIB_SessionBase::SetFailure(ISC_STATUS Code) {
  FStatus[0] = isc_arg_gds;
  FStatus[1] = Code;
  FStatus[2] = isc_arg_end;
  FERRCODE = static_cast<int32_t>(Code);
  return Code;
}

ISC_STATUS TIB_SessionBase::GetBlobInfo(int32_t& MaxSegment, int32_t& TotalLength, const XSQLVAR* AVAR,
                                        isc_blob_handle* BlobHandle, int32_t& NumSegments) {
  MaxSegment = 0;
  TotalLength = 0;
  NumSegments = 0;
  const char items[] = {isc_info_blob_max_segment, isc_info_blob_total_length, isc_info_blob_num_segments,
                        isc_info_end};
  unsigned char reply[32] = {};
  const ISC_STATUS status = Call(Entries.isc_blob_info, BlobHandle, static_cast<short>(sizeof items), items,
                                 static_cast<short>(sizeof reply), reinterpret_cast<char*>(reply));
  if (status != 0) return status;
  size_t pos = 0;
  while (pos + 3 <= sizeof reply) {
    const unsigned char code = reply[pos];
    if (code != isc_info_blob_num_segments && code != isc_info_blob_max_segment && code != isc_info_blob_total_length)
      break;
    const size_t length = static_cast<size_t>(reply[pos + 1]) | (static_cast<size_t>(reply[pos + 2]) << 8);
    pos += 3;
    if (pos + length > sizeof reply) break;
    const int32_t value = VaxInteger(reply + pos, length);
    pos += length;
    if (code == isc_info_blob_num_segments)
      NumSegments = value;
    else if (code == isc_info_blob_max_segment)
      MaxSegment = value;
    else
      TotalLength = value;
  }
  if (AVAR && IsBlrText(*AVAR) && TotalLength > 0) {
    // Room for the CR LF that reading puts after each segment (in 64 bits: the server's counts are
    // not to overflow here; a read that meets more data than fits fails as it goes).
    auto capped = [](int64_t V) { return static_cast<int32_t>(std::min<int64_t>(V, INT32_MAX)); };
    TotalLength = capped(int64_t{TotalLength} + 2 * int64_t{std::max(NumSegments, 0)});
    MaxSegment = capped(int64_t{MaxSegment} + 2);
  }
  return 0;
}

int32_t TIB_SessionBase::LookupSegmentSize(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const XSQLVAR* AVAR) {
  if (!Entries.isc_blob_lookup_desc) return kDefaultSegment;
  const std::string relation(AVAR->relname, static_cast<size_t>(std::clamp<int>(AVAR->relname_length, 0, 32)));
  const std::string field(AVAR->sqlname, static_cast<size_t>(std::clamp<int>(AVAR->sqlname_length, 0, 32)));
  ISC_BLOB_DESC desc{};
  ISC_UCHAR global[256] = {};
  const ISC_STATUS status = CallScratch(Entries.isc_blob_lookup_desc, DBHandle, TRHandle,
                                        reinterpret_cast<const ISC_UCHAR*>(relation.c_str()),
                                        reinterpret_cast<const ISC_UCHAR*>(field.c_str()), &desc, global);
  if (status != 0 || desc.blob_desc_segment_size <= 0) return kDefaultSegment;
  return desc.blob_desc_segment_size;
}

ISC_STATUS TIB_SessionBase::LoadBlobNodeData(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                             const TIB_BlobCallbackEvent& Callback, TIB_BlobNode* Node,
                                             const ISC_ARRAY_DESC* ArrayDesc, XSQLVAR* AVAR) {
  if (!Node) IB_Raise<EIB_Error>(IBMsg::UnassignedBlobNode);
  if (!AVAR) return 0;
  if (IsBlobType(*AVAR)) return ReadBlob(DBHandle, TRHandle, Callback, *Node, AVAR);
  if (!IsArrayType(*AVAR)) return 0;
  if (!ArrayDesc) IB_Raise<EIB_Error>(IBMsg::MissingArrayDescriptor);
  const int32_t size = ArraySliceSize(*ArrayDesc);
  ReserveBlobNode(*Node, size);
  ISC_LONG length = size;
  const ISC_STATUS status =
      Call(Entries.isc_array_get_slice, DBHandle, TRHandle, &Node->BlobID, ArrayDesc, Node->BlobBuffer.get(), &length);
  Node->BlobSize = status == 0 ? size : 0;
  return status;
}

ISC_STATUS TIB_SessionBase::StoreBlobNodeData(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                              const TIB_BlobCallbackEvent& Callback, TIB_BlobNode* Node,
                                              const ISC_ARRAY_DESC* ArrayDesc, XSQLVAR* AVAR) {
  if (!Node) IB_Raise<EIB_Error>(IBMsg::UnassignedBlobNode);
  if (!AVAR) return 0;
  if (IsBlobType(*AVAR)) return WriteBlob(DBHandle, TRHandle, Callback, *Node, AVAR);
  if (!IsArrayType(*AVAR)) return 0;
  if (Node->BlobSize <= 0) {
    // An empty array is stored as NULL.
    if (AVAR->sqldata && AVAR->sqllen > 0) std::memset(AVAR->sqldata, 0, static_cast<size_t>(AVAR->sqllen));
    if (AVAR->sqlind) {
      const ISC_SHORT isNull = -1;
      std::memcpy(AVAR->sqlind, &isNull, sizeof isNull);  // indicators may sit at odd offsets
    }
    return 0;
  }
  if (!ArrayDesc) IB_Raise<EIB_Error>(IBMsg::MissingArrayDescriptor);
  ISC_LONG length = Node->BlobSize;
  return Call(Entries.isc_array_put_slice, DBHandle, TRHandle, &Node->BlobID, ArrayDesc, Node->BlobBuffer.get(), &length);
}

ISC_STATUS TIB_SessionBase::ReadBlob(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                     const TIB_BlobCallbackEvent& Callback, TIB_BlobNode& Node, XSQLVAR* AVAR) {
  const bool blrText = IsBlrText(*AVAR);
  // Opened through the server's filter from sub-type 2 to text.
  static const char kBlrToText[] = {isc_bpb_version1, isc_bpb_target_type, 1, isc_blob_text, isc_bpb_source_type, 1,
                                    isc_blob_blr};
  isc_blob_handle blob = 0;
  ISC_STATUS status = Call(Entries.isc_open_blob2, DBHandle, TRHandle, &blob, &Node.BlobID,
                           static_cast<ISC_USHORT>(blrText ? sizeof kBlrToText : 0),
                           reinterpret_cast<const ISC_UCHAR*>(blrText ? kBlrToText : nullptr));
  if (status != 0) return status;
  TBlobCleanup cleanup(Entries.isc_close_blob, &blob);

  int32_t maxSegment = 0, total = 0, segments = 0;
  status = GetBlobInfo(maxSegment, total, AVAR, &blob, segments);
  if (status != 0) return status;  // the cleanup closes the blob without touching ERRCODE
  // A length past 2 GiB reads as negative: such a blob cannot be held by a node, which is a failure,
  // not an empty value.
  if (total < 0) return SetFailure(isc_blobtoobig);
  // The size is set once the data is in: a callback that throws half-way leaves no size claiming
  // bytes the buffer does not hold.
  Node.BlobSize = 0;

  if (total > 0) {
    int32_t segment = maxSegment;
    if (Callback) {
      int32_t wanted = segment;
      Callback(AVAR, bcsReadStart, total, wanted);
      if (wanted <= 0) wanted = LookupSegmentSize(DBHandle, TRHandle, AVAR);
      if (wanted > 0 && wanted < segment) segment = wanted;
    }
    segment = std::clamp(segment, 1, kMaxSegment);
    // One allocation up front; it only grows inside the loop when the server reported less than it sends.
    ReserveBlobNode(Node, total > INT32_MAX - segment ? INT32_MAX : total + segment);
    int32_t placed = 0;
    for (;;) {
      if (placed >= Node.BlobBufferSize) {
        if (Node.BlobBufferSize > INT32_MAX / 2) {
          status = SetFailure(isc_virmemexh);
          break;
        }
        ReserveBlobNode(Node, Node.BlobBufferSize * 2);
      }
      const auto request = static_cast<unsigned short>(std::min(segment, Node.BlobBufferSize - placed));
      unsigned short got = 0;
      status =
          Call(Entries.isc_get_segment, &blob, &got, request, reinterpret_cast<ISC_SCHAR*>(Node.BlobBuffer.get() + placed));
      if (status != 0 && status != isc_segment && status != isc_segstr_eof) break;  // a failed read
      placed += got;
      if (blrText && (status == 0 || (status == isc_segstr_eof && got > 0))) {
        if (Node.BlobBufferSize - placed < 2) ReserveBlobNode(Node, placed + std::max(segment, 2));
        Node.BlobBuffer[placed++] = '\r';
        Node.BlobBuffer[placed++] = '\n';
      }
      if (Callback && !(status == isc_segstr_eof && got == 0)) {
        int32_t unused = segment;
        Callback(AVAR, bcsReadStep, placed, unused);
      }
      if (status == isc_segstr_eof) {
        status = 0;
        break;
      }
    }
    if (status != 0) {
      Node.BlobSize = placed;
      ShrinkBlobNode(Node);
      return status;
    }
    if (Callback) {
      int32_t unused = segment;
      Callback(AVAR, bcsReadEnd, placed, unused);
    }
    Node.BlobSize = placed;
    ShrinkBlobNode(Node);
  }
  status = Call(Entries.isc_close_blob, &blob);
  if (status == 0) blob = 0;
  return status;
}

ISC_STATUS TIB_SessionBase::WriteBlob(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                      const TIB_BlobCallbackEvent& Callback, TIB_BlobNode& Node, XSQLVAR* AVAR) {
  isc_blob_handle blob = 0;
  ISC_STATUS status = Call(Entries.isc_create_blob2, DBHandle, TRHandle, &blob, &Node.BlobID, static_cast<short>(0),
                           static_cast<const ISC_SCHAR*>(nullptr));
  if (status != 0) return status;
  // A blob that failed half-way is cancelled, not closed: closing would store the part written.
  TBlobCleanup cleanup(Entries.isc_cancel_blob, &blob);

  const int32_t size = std::max(Node.BlobSize, 0);
  int32_t segment = std::min(size, kMaxSegment);
  if (Callback) {
    int32_t wanted = segment;
    Callback(AVAR, bcsWriteStart, size, wanted);
    if (wanted > 0) segment = std::min(wanted, kMaxSegment);
  }
  int32_t written = 0;
  if (size > 0 && segment > 0) {
    while (size - written >= segment) {
      status = Call(Entries.isc_put_segment, &blob, static_cast<unsigned short>(segment),
                    reinterpret_cast<const ISC_SCHAR*>(Node.BlobBuffer.get() + written));
      if (status != 0) break;
      written += segment;
      if (Callback) {
        int32_t unused = segment;
        Callback(AVAR, bcsWriteStep, written, unused);
      }
    }
    if (status == 0 && written < size) {
      status = Call(Entries.isc_put_segment, &blob, static_cast<unsigned short>(size - written),
                    reinterpret_cast<const ISC_SCHAR*>(Node.BlobBuffer.get() + written));
      if (status == 0) {
        written = size;
        if (Callback) {
          int32_t unused = segment;
          Callback(AVAR, bcsWriteStep, size, unused);
        }
      }
    }
  }
  if (Callback) {
    int32_t unused = segment;
    Callback(AVAR, bcsWriteEnd, size, unused);
  }
  if (status != 0) return status;  // the cleanup cancels the blob
  status = Call(Entries.isc_close_blob, &blob);
  if (status == 0) blob = 0;
  return status;
}
