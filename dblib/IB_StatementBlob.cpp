// TIB_Statement: blob and array values of its columns: reading and writing them through the session,
// asking a blob's length, finding an array column's bounds, and streams over a column's value.
#include <algorithm>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Statement.h"
#include "dblib/data/IB_BlobStream.h"
#include "dblib/data/IB_ColumnArray.h"
#include "dblib/data/IB_RowNames.h"

namespace {

const ISC_ARRAY_DESC* ArrayDescOf(TIB_Column& Column) {
  auto* array = dynamic_cast<TIB_ColumnArray*>(&Column);
  return array ? &array->GetArrayDesc() : nullptr;
}

// Firebird 3's client stores the lengths of VARCHAR array elements but drops their text. Such a slice
// travels as NUL-terminated strings instead; in a node it keeps the layout of a 2-byte length before
// each element's bytes.
bool IsVaryingSlice(const ISC_ARRAY_DESC* Desc) {
  return Desc && (Desc->array_desc_dtype == blr_varying || Desc->array_desc_dtype == blr_varying2);
}

ISC_ARRAY_DESC CStringDesc(const ISC_ARRAY_DESC& Desc) {
  ISC_ARRAY_DESC d = Desc;
  d.array_desc_dtype = blr_cstring;
  d.array_desc_length = static_cast<unsigned short>(Desc.array_desc_length + 1);
  return d;
}

// Between the node's layout (From: length + bytes) and the travelling one (To: bytes + NUL).
void VaryingToCString(const TIB_BlobNode& From, TIB_BlobNode& To, size_t Length, size_t Count) {
  ReserveBlobNode(To, static_cast<int32_t>(Count * (Length + 1)));
  std::memset(To.BlobBuffer.get(), 0, Count * (Length + 1));
  for (size_t i = 0; i < Count; ++i) {
    const uint8_t* from = From.BlobBuffer.get() + i * (Length + 2);
    uint16_t n;
    std::memcpy(&n, from, 2);
    std::memcpy(To.BlobBuffer.get() + i * (Length + 1), from + 2, std::min<size_t>(n, Length));
  }
  To.BlobSize = static_cast<int32_t>(Count * (Length + 1));
}

void CStringToVarying(const TIB_BlobNode& From, TIB_BlobNode& To, size_t Length, size_t Count) {
  ReserveBlobNode(To, static_cast<int32_t>(Count * (Length + 2)));
  std::memset(To.BlobBuffer.get(), 0, Count * (Length + 2));
  for (size_t i = 0; i < Count && From.BlobSize > 0; ++i) {
    const char* from = reinterpret_cast<const char*>(From.BlobBuffer.get()) + i * (Length + 1);
    const auto n = static_cast<uint16_t>(strnlen(from, Length));
    uint8_t* to = To.BlobBuffer.get() + i * (Length + 2);
    std::memcpy(to, &n, 2);
    std::memcpy(to + 2, from, n);
  }
  To.BlobSize = static_cast<int32_t>(Count * (Length + 2));
}

// The relation and field names of a described variable.
bool SourceOf(const XSQLVAR& Var, std::string& Relation, std::string& Field) {
  Relation = XSQLVARText(Var.relname, Var.relname_length);
  Field = XSQLVARText(Var.sqlname, Var.sqlname_length);
  return !Relation.empty() && !Field.empty();
}

const XSQLDA* DescribedArea(const std::vector<std::byte>& Area) {
  return Area.size() >= XSQLDA_LENGTH(1) ? reinterpret_cast<const XSQLDA*>(Area.data()) : nullptr;
}

}  // namespace

void TIB_Statement::LoadBlobNode(TIB_Column& Column, TIB_BlobNode* Node) {
  if (!Node) IB_Raise<EIB_Error>(IBMsg::UnassignedBlobNode);
  SysCheckTransaction(true);
  TIB_Session& s = Session();
  const ISC_ARRAY_DESC* desc = ArrayDescOf(Column);
  ISC_STATUS status;
  if (IsVaryingSlice(desc) && (Column.GetSQLType() & ~1) == SQL_ARRAY) {
    const ISC_ARRAY_DESC travel = CStringDesc(*desc);
    TIB_BlobNode scratch;  // the travelling form
    scratch.BlobID = Node->BlobID;
    status =
        s.LoadBlobNodeData(GetDbHandlePtr(), GetTrHandlePtr(), OnBlobCallback, &scratch, &travel, Column.GetPSQLVAR());
    if (status == 0) {
      CStringToVarying(scratch, *Node, desc->array_desc_length,
                       static_cast<size_t>(ArraySliceSize(travel) / travel.array_desc_length));
    }
  } else {
    status = s.LoadBlobNodeData(GetDbHandlePtr(), GetTrHandlePtr(), OnBlobCallback, Node, desc, Column.GetPSQLVAR());
  }
  if (status != 0) s.HandleISCError(this);
}

void TIB_Statement::StoreBlobNode(TIB_Column& Column, TIB_BlobNode& Node) {
  SysCheckTransaction(true);
  TIB_Session& s = Session();
  const ISC_ARRAY_DESC* desc = ArrayDescOf(Column);
  ISC_STATUS status;
  if (IsVaryingSlice(desc) && (Column.GetSQLType() & ~1) == SQL_ARRAY && Node.BlobSize > 0) {
    const ISC_ARRAY_DESC travel = CStringDesc(*desc);
    TIB_BlobNode scratch;  // the travelling form
    VaryingToCString(Node, scratch, desc->array_desc_length,
                     static_cast<size_t>(Node.BlobSize) / (desc->array_desc_length + 2u));
    status =
        s.StoreBlobNodeData(GetDbHandlePtr(), GetTrHandlePtr(), OnBlobCallback, &scratch, &travel, Column.GetPSQLVAR());
    Node.BlobID = scratch.BlobID;
  } else {
    status = s.StoreBlobNodeData(GetDbHandlePtr(), GetTrHandlePtr(), OnBlobCallback, &Node, desc, Column.GetPSQLVAR());
  }
  if (status != 0) s.HandleISCError(this);
}

int64_t TIB_Statement::GetBlobLength(TIB_Column& Column, const ISC_QUAD& Id) {
  SysCheckTransaction(true);
  TIB_Session& s = Session();
  isc_blob_handle blob = 0;
  ISC_QUAD id = Id;
  // BLR is read as text through the server's filter: its length is the text's, asked the same way.
  static const ISC_UCHAR kBlrToText[] = {
      isc_bpb_version1, isc_bpb_target_type, 1, isc_blob_text, isc_bpb_source_type, 1, isc_blob_blr};
  const bool blr = Column.GetSQLSubType() == isc_blob_blr;
  // A blob that cannot be opened is an error, not a length of 0.
  if (s.CallChecked(this, s.Entries.isc_open_blob2, GetDbHandlePtr(), GetTrHandlePtr(), &blob, &id,
                    static_cast<ISC_USHORT>(blr ? sizeof kBlrToText : 0), blr ? kBlrToText : nullptr) != 0) {
    return 0;  // an error handler chose not to raise
  }
  int32_t maxSegment = 0, total = 0, segments = 0;
  const ISC_STATUS status = s.GetBlobInfo(maxSegment, total, Column.GetPSQLVAR(), &blob, segments);
  if (status != 0) {
    s.CallScratch(s.Entries.isc_close_blob, &blob);  // the failure reported stays the info call's
    s.HandleISCError(this);
    return 0;
  }
  s.CallChecked(this, s.Entries.isc_close_blob, &blob);
  return total;
}

bool TIB_Statement::LookupArrayBounds(TIB_Column& Column, ISC_ARRAY_DESC& Desc) {
  Desc = ISC_ARRAY_DESC{};
  const XSQLVAR& var = *Column.GetPSQLVAR();
  std::string relation, field;
  bool found = SourceOf(var, relation, field);
  TIB_Row* row = Column.GetRow();
  if (!found && row && row->GetRowType() == rtParams) {
    // A parameter is named after its marker; the server described the column it stands for.
    relation = XSQLVARText(var.relname, var.relname_length);
    field = XSQLVARText(var.aliasname, var.aliasname_length);
    found = !relation.empty() && !field.empty();
    const XSQLDA* in = DescribedArea(FInDA);
    if (!found && in && Column.GetFieldNo() >= 0 && Column.GetFieldNo() < in->sqld)
      found = SourceOf(in->sqlvar[Column.GetFieldNo()], relation, field);
    // Else an output column of the same name, as in "... WHERE A = :A".
    const XSQLDA* out = DescribedArea(FOutDA);
    const std::string name = XSQLVARText(var.aliasname, var.aliasname_length);
    for (int i = 0; !found && out && i < out->sqld; ++i) {
      const XSQLVAR& o = out->sqlvar[i];
      if ((o.sqltype & ~1) == SQL_ARRAY && CompareText(XSQLVARText(o.aliasname, o.aliasname_length), name) == 0)
        found = SourceOf(o, relation, field);
    }
  }
  if (!found || !SysCheckTransaction(false)) return false;
  TIB_Session& s = Session();
  // The status stays with the session for whoever asks; an unknown array is not an error here.
  if (s.Call(s.Entries.isc_array_lookup_bounds, GetDbHandlePtr(), GetTrHandlePtr(), relation.c_str(), field.c_str(),
             &Desc) == 0) {
    return true;
  }
  Desc = ISC_ARRAY_DESC{};
  return false;
}

std::unique_ptr<TIB_BlobStream> TIB_Statement::CreateBlobStream(TIB_Column* Column, uint8_t Mode) {
  if (!Column) IB_Raise<EIB_StatementError>(IBMsg::CreateBlobStreamNeedsAColumn);
  return std::make_unique<TIB_BlobStream>(*Column, Mode);
}
