// TIB_NodeList: packing a row's column values into a node and unpacking them again.
//
// A packed record holds, per column in description order, the 2-byte null indicator and, unless the
// column is nullable and null, its value: a VARCHAR as its length word and that many bytes, any other
// type as its declared length of bytes. Lengths are clamped to the declared length when packing, and
// NOT NULL columns are stored with indicator 0. Every read is checked against the record's length when unpacking: a record that does not fit the
// row's columns raises and nothing is read or written out of bounds.
#include <bit>
#include <cassert>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/data/IB_Row.h"
#include "dblib/dataset/IB_NodeList.h"

namespace {

bool IsVarying(const XSQLVAR& V) { return (V.sqltype & ~1) == SQL_VARYING; }
bool IsNullable(const XSQLVAR& V) { return (V.sqltype & 1) != 0; }

int16_t ReadInd(const XSQLVAR& V) {
  if (!V.sqlind) return 0;
  int16_t ind;
  std::memcpy(&ind, V.sqlind, 2);
  return ind;
}

uint16_t ReadWord(const void* P) {
  const auto* b = static_cast<const uint8_t*>(P);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

void WriteWord(void* P, uint16_t W) {
  auto* b = static_cast<uint8_t*>(P);
  b[0] = static_cast<uint8_t>(W & 0xFF);
  b[1] = static_cast<uint8_t>(W >> 8);
}

// As WriteWord, as one store where the machine's own byte order is the record's.
inline void PutWord(uint8_t* P, uint16_t W) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(P, &W, 2);
  } else {
    WriteWord(P, W);
  }
}

// The text length of a VARCHAR buffer, never more than its declared length.
uint16_t VarLength(const XSQLVAR& V) {
  const uint16_t len = V.sqldata ? ReadWord(V.sqldata) : 0;
  const auto cap = static_cast<uint16_t>(V.sqllen < 0 ? 0 : V.sqllen);
  return len > cap ? cap : len;
}

int32_t ColumnPacked(const XSQLVAR& V) {
  if (IsNullable(V) && ReadInd(V) == -1) return 2;
  if (IsVarying(V)) return 2 + 2 + VarLength(V);
  return 2 + (V.sqllen < 0 ? 0 : V.sqllen);
}

// A column value's bytes: the common fixed sizes (SMALLINT, INTEGER, DATE, BIGINT, DOUBLE, TIMESTAMP)
// are moved inline, where a call to memcpy would cost more than the copy.
inline void CopyValue(void* To, const void* From, size_t Size) {
  switch (Size) {
    case 2: std::memcpy(To, From, 2); break;
    case 4: std::memcpy(To, From, 4); break;
    case 8: std::memcpy(To, From, 8); break;
    default: std::memcpy(To, From, Size); break;
  }
}

[[noreturn]] void Corrupt() { IB_Raise<EIB_Error>(IBMsg::CorruptRowNode); }

// Packs the row's values from To on, in one pass: the end of the packed record, or nil when it would
// pass Limit (nothing is then written beyond Limit).
uint8_t* PackInto(const XSQLDA& Da, uint8_t* To, const uint8_t* Limit) {
  uint8_t* p = To;
  for (const XSQLVAR *v = Da.sqlvar, *e = Da.sqlvar + Da.sqld; v != e; ++v) {
    // A NOT NULL column is never null, whatever a cleared buffer left in its indicator (the server does
    // not write it).
    const bool nullable = IsNullable(*v);
    const int16_t ind = nullable ? ReadInd(*v) : int16_t{0};
    if (nullable && ind == -1) {
      if (Limit - p < 2) return nullptr;
      PutWord(p, static_cast<uint16_t>(ind));
      p += 2;
    } else if (IsVarying(*v)) {
      const uint16_t l = VarLength(*v);
      if (Limit - p < 4 + l) return nullptr;
      PutWord(p, static_cast<uint16_t>(ind));
      PutWord(p + 2, l);
      if (l > 0) std::memcpy(p + 4, v->sqldata + 2, l);
      p += 4 + l;
    } else {
      const size_t n = v->sqllen < 0 ? 0 : static_cast<size_t>(v->sqllen);
      if (static_cast<size_t>(Limit - p) < 2 + n) return nullptr;
      PutWord(p, static_cast<uint16_t>(ind));
      p += 2;
      if (n > 0) {
        if (v->sqldata) {
          CopyValue(p, v->sqldata, n);
        } else {
          std::memset(p, 0, n);
        }
        p += n;
      }
    }
  }
  return p;
}

}  // namespace

int32_t TIB_NodeList::PackedLength(const TIB_Row& Row) {
  const XSQLDA* da = Row.GetPSQLDA();
  if (!da) return 0;
  int32_t len = 0;
  for (int i = 0; i < da->sqld; ++i) len += ColumnPacked(da->sqlvar[i]);
  return len;
}

namespace {
enum : uint8_t { pkFixed, pkFixed4, pkFixed8, pkVarying };
}  // namespace

void TIB_NodeList::PlanPacking(const TIB_Row& Row) {
  const XSQLDA& da = *Row.GetPSQLDA();
  FPackStamp = 0;
  FPackPlan.clear();
  for (int i = 0; i < da.sqld; ++i) {
    const XSQLVAR& v = da.sqlvar[i];
    const auto length = static_cast<uint16_t>(v.sqllen < 0 ? 0 : v.sqllen);
    uint8_t kind = pkFixed;
    if (IsVarying(v)) {
      kind = pkVarying;
    } else if (v.sqldata && length == 4) {
      kind = pkFixed4;
    } else if (v.sqldata && length == 8) {
      kind = pkFixed8;
    }
    FPackPlan.push_back({IsNullable(v) ? reinterpret_cast<const uint8_t*>(v.sqlind) : nullptr,
                         reinterpret_cast<const uint8_t*>(v.sqldata), length, kind});
  }
  FPackStamp = Row.GetLayoutStamp();
}

inline bool TIB_NodeList::PackPlanned(TIB_Node* Node, const TIB_Row& Row) {
  // The record is packed straight into the free end of the store's current chunk, column by column
  // after the plan of the row's layout; false when it does not fit there.
  const uint64_t stamp = Row.GetLayoutStamp();
  if (stamp == 0) return false;
  if (stamp != FPackStamp) PlanPacking(Row);
  // The plan holds the places of a fields row's values: a parameter row may change a type after its
  // layout, and a plan of another row would read that row's buffers.
  assert(Row.GetRowType() == rtFields && !Row.GetIsKeyRow());
  assert(FPackPlan.size() == static_cast<size_t>(Row.GetPSQLDA()->sqld) &&
         (FPackPlan.empty() ||
          FPackPlan.front().Data == reinterpret_cast<const uint8_t*>(Row.GetPSQLDA()->sqlvar[0].sqldata)));
  uint8_t* const at = FChunks.back().get() + FChunkUsed;
  const uint8_t* const limit = FChunks.back().get() + FChunkSize;
  uint8_t* p = at;
  for (const TPackColumn& c : FPackPlan) {
    uint16_t ind = 0;
    if (c.Ind) {
      std::memcpy(&ind, c.Ind, 2);
      if (ind == 0xFFFF) {
        if (limit - p < 2) return false;
        PutWord(p, ind);
        p += 2;
        continue;
      }
    }
    switch (c.Kind) {
      case pkFixed4:
        if (limit - p < 2 + 4) return false;
        PutWord(p, ind);
        std::memcpy(p + 2, c.Data, 4);
        p += 2 + 4;
        break;
      case pkFixed8:
        if (limit - p < 2 + 8) return false;
        PutWord(p, ind);
        std::memcpy(p + 2, c.Data, 8);
        p += 2 + 8;
        break;
      case pkVarying: {
        uint16_t l = c.Data ? ReadWord(c.Data) : 0;
        if (l > c.Length) l = c.Length;
        if (limit - p < 4 + l) return false;
        PutWord(p, ind);
        PutWord(p + 2, l);
        if (l > 0) std::memcpy(p + 4, c.Data + 2, l);
        p += 4 + l;
        break;
      }
      default:
        if (limit - p < 2 + c.Length) return false;
        PutWord(p, ind);
        p += 2;
        if (c.Length > 0) {
          if (c.Data) {
            CopyValue(p, c.Data, c.Length);
          } else {
            std::memset(p, 0, c.Length);
          }
          p += c.Length;
        }
        break;
    }
  }
  const auto len = static_cast<size_t>(p - at);
  if (len > 0) {
    FChunkUsed += len;
    FStoreLive += len;
    FStoreTotal += len;
    Node->RecordData = at;
    Node->RecordLength = static_cast<int32_t>(len);
  }
  return true;
}

void TIB_NodeList::PackRow(TIB_Node* Node, const TIB_Row& Row) {
  if (!Node || Node->IsSentinel() || !Row.GetPSQLDA()) return;
  // A node without a record (a row fetched for the first time) is packed where the store's free space
  // starts; otherwise (or when the record does not fit there) the record is measured first.
  if (Node->RecordLength == 0 && !FChunks.empty() && PackPlanned(Node, Row)) return;
  PackMeasured(Node, Row);
}

void TIB_NodeList::PackMeasured(TIB_Node* Node, const TIB_Row& Row) {
  const XSQLDA* da = Row.GetPSQLDA();
  const int32_t len = PackedLength(Row);
  if (len != Node->RecordLength) {
    FreeRecord(Node);
    if (len > 0) Node->RecordData = StoreAlloc(len);
    Node->RecordLength = len;
  }
  if (len > 0) PackInto(*da, Node->RecordData, Node->RecordData + len);
}

void TIB_NodeList::UnpackRow(const TIB_Node* Node, TIB_Row& Row) const {
  const XSQLDA* da = Row.GetPSQLDA();
  if (!da) return;
  Row.TakeOldValues();
  if (!Node || !Node->RecordData || Node->RecordLength <= 0) {
    for (int i = 0; i < da->sqld; ++i) {
      const XSQLVAR& v = da->sqlvar[i];
      if (v.sqlind) WriteWord(v.sqlind, 0xFFFF);
      if (!v.sqldata || v.sqllen <= 0) continue;
      const auto n = static_cast<size_t>(v.sqllen);
      if (IsVarying(v)) {
        WriteWord(v.sqldata, 0);
        std::memset(v.sqldata + 2, ' ', n);
      } else {
        std::memset(v.sqldata, (v.sqltype & ~1) == SQL_TEXT ? ' ' : 0, n);
      }
    }
    return;
  }
  const uint8_t* rec = Node->RecordData;
  const auto end = static_cast<size_t>(Node->RecordLength);
  // First check that the record fits the columns, so a corrupt one changes nothing.
  size_t pos = 0;
  for (int i = 0; i < da->sqld; ++i) {
    const XSQLVAR& v = da->sqlvar[i];
    if (end - pos < 2) Corrupt();
    const auto ind = static_cast<int16_t>(ReadWord(rec + pos));
    pos += 2;
    if (IsNullable(v) && ind == -1) continue;
    size_t need;
    if (IsVarying(v)) {
      if (end - pos < 2) Corrupt();
      need = 2 + static_cast<size_t>(ReadWord(rec + pos));
    } else {
      need = v.sqllen < 0 ? 0 : static_cast<size_t>(v.sqllen);
    }
    if (end - pos < need) Corrupt();
    pos += need;
  }
  if (pos != end) Corrupt();
  pos = 0;
  for (int i = 0; i < da->sqld; ++i) {
    const XSQLVAR& v = da->sqlvar[i];
    const auto ind = IsNullable(v) ? static_cast<int16_t>(ReadWord(rec + pos)) : int16_t{0};
    pos += 2;
    if (v.sqlind) WriteWord(v.sqlind, static_cast<uint16_t>(ind));
    if (IsNullable(v) && ind == -1) continue;
    if (IsVarying(v)) {
      const uint16_t stored = ReadWord(rec + pos);
      const uint16_t cap = static_cast<uint16_t>(v.sqllen < 0 ? 0 : v.sqllen);
      const uint16_t l = stored > cap ? cap : stored;
      if (v.sqldata) {
        WriteWord(v.sqldata, l);
        if (l > 0) std::memcpy(v.sqldata + 2, rec + pos + 2, l);
      }
      pos += 2 + static_cast<size_t>(stored);
    } else if (v.sqllen > 0) {
      if (v.sqldata) CopyValue(v.sqldata, rec + pos, static_cast<size_t>(v.sqllen));
      pos += static_cast<size_t>(v.sqllen);
    }
  }
}
