#include "dblib/data/IB_ColumnArray.h"

#include <cmath>
#include <cstring>
#include <functional>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Utils.h"
#include "dblib/IB_Errors.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/data/IB_Row.h"
#include "platform/Locale.h"

namespace {

[[noreturn]] void Unsupported() { IB_Raise<Exception>(IBMsg::UnsupportedArrayVariantConversion); }

bool IsTextType(int T) { return T == blr_text || T == blr_text2 || T == blr_cstring || T == blr_cstring2; }
bool IsVaryingType(int T) { return T == blr_varying || T == blr_varying2; }
bool IsIntegerType(int T) { return T == blr_short || T == blr_long || T == blr_int64; }

// Calls Visit once per element with the element's position in each dimension of Desc, in the order of
// the slice: the last dimension varies fastest.
void ForEachElement(const ISC_ARRAY_DESC& Desc, const std::function<void(const std::vector<int>&)>& Visit) {
  const int dims = Desc.array_desc_dimensions;
  if (dims < 1) return;
  std::vector<int> at(static_cast<size_t>(dims));
  for (int d = 0; d < dims; ++d) {
    if (Desc.array_desc_bounds[d].array_bound_upper < Desc.array_desc_bounds[d].array_bound_lower) return;
    at[d] = Desc.array_desc_bounds[d].array_bound_lower;
  }
  for (;;) {
    Visit(at);
    int d = dims - 1;
    while (d >= 0 && at[d] == Desc.array_desc_bounds[d].array_bound_upper) {
      at[d] = Desc.array_desc_bounds[d].array_bound_lower;
      --d;
    }
    if (d < 0) return;
    ++at[d];
  }
}

long double Power10(int N) { return std::pow(10.0L, N); }

// An element's text for a number: an empty (or Empty/Null) value counts as 0.
std::string NumberText(const Variant& V) { return Trim(VarToStr(V)); }

long double NumberOf(const Variant& V) {
  const uint16_t vt = VarType(V) & varTypeMask;
  if (vt == varString || vt == varOleStr || vt == varEmpty || vt == varNull) {
    const std::string text = NumberText(V);
    return text.empty() ? 0 : StrToFloat(text);
  }
  return V.AsExtended();
}

int64_t WholeNumberOf(const Variant& V, int Scale, int64_t Min, int64_t Max) {
  int64_t value;
  const uint16_t vt = VarType(V) & varTypeMask;
  if (Scale == 0 && (vt == varString || vt == varOleStr || vt == varEmpty || vt == varNull)) {
    const std::string text = NumberText(V);
    value = text.empty() ? 0 : StrToInt64(text);
  } else if (Scale == 0 && vt != varSingle && vt != varDouble && vt != varCurrency && vt != varDate) {
    value = V.AsInt64();
  } else {
    const long double scaled = std::nearbyint(NumberOf(V) * Power10(-Scale));
    if (!(scaled >= static_cast<long double>(Min) && scaled <= static_cast<long double>(Max)))
      IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
    value = static_cast<int64_t>(scaled);
  }
  if (value < Min || value > Max) IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
  return value;
}

template <typename T>
void Store(uint8_t* P, T V) {
  std::memcpy(P, &V, sizeof V);
}

// The ISC date of 1899-12-30, day 0 of a TDateTime.
ISC_DATE DayZero() { return DateTimeToIscTimestamp(0).timestamp_date; }

}  // namespace

TIB_ColumnArray::TIB_ColumnArray(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR)
    : TIB_Column(ARow, AFieldNo, APSQLVAR) {
  FIsArrayKind = true;
  FPadChar = HasAttribute("BINARY") ? 0 : ' ';
  // Without bounds the descriptor stays empty; reading or writing the value then fails clearly.
  if (TIB_RowStatement* st = GetStatement()) st->LookupArrayBounds(*this, FArrayDesc);
}

TIB_BlobNode* TIB_ColumnArray::GetBlobNode() const { return GetRow()->GetBlobNode(GetFieldNo()); }

std::unique_ptr<TIB_BlobStream> TIB_ColumnArray::CreateBlobStream(uint8_t Mode) {
  return std::make_unique<TIB_BlobStream>(*this, Mode);
}

int32_t TIB_ColumnArray::ElementCount() const {
  if (FArrayDesc.array_desc_dimensions < 1) return 0;
  int64_t count = 1;
  for (int d = 0; d < FArrayDesc.array_desc_dimensions && d < 16; ++d) {
    count *= std::max(
        0, FArrayDesc.array_desc_bounds[d].array_bound_upper - FArrayDesc.array_desc_bounds[d].array_bound_lower + 1);
  }
  return static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
}

int32_t TIB_ColumnArray::ElementSize() const {
  return FArrayDesc.array_desc_length + (IsVaryingType(FArrayDesc.array_desc_dtype) ? 2 : 0);
}

bool TIB_ColumnArray::GetIsModified() {
  const TIB_BlobNode* own = GetBlobNode();
  return TIB_Column::GetIsModified() || (own && (own->BlobFlag & bnfModified) != 0);
}

std::string TIB_ColumnArray::GetOldAsString() { return GetOldIsNull() ? "(array)" : "(ARRAY)"; }

std::string TIB_ColumnArray::GetAsString() { return GetIsNull() ? "(array)" : "(ARRAY)"; }

void TIB_ColumnArray::SetAsString(const std::string&) { IB_Raise<EIB_ColumnError>(IBMsg::UnableToAssignToArrayAsString); }

Variant TIB_ColumnArray::GetAsVariant() {
  if (GetIsNull()) return Variant::Null();
  TIB_BlobStream stream(*this, bsmRead);
  std::vector<uint8_t> slice(static_cast<size_t>(stream.GetSize()));
  stream.ReadBuffer(slice.data(), static_cast<int64_t>(slice.size()));
  return DecodeSlice(slice.data(), slice.size());
}

Variant TIB_ColumnArray::GetOldAsVariant() {
  if (GetOldIsNull()) return Variant::Null();
  if (!GetIsModified()) return GetAsVariant();
  const TIB_BlobNode* node = TIB_BlobStream::CachedNode(*this, ReadBlobID(*this, true));
  return node ? DecodeSlice(node->BlobBuffer.get(), static_cast<size_t>(node->BlobSize)) : DecodeSlice(nullptr, 0);
}

Variant TIB_ColumnArray::DecodeSlice(const uint8_t* Data, size_t Size) const {
  const int dims = FArrayDesc.array_desc_dimensions;
  const int type = FArrayDesc.array_desc_dtype;
  const int scale = FArrayDesc.array_desc_scale;
  const size_t element = static_cast<size_t>(ElementSize());
  if (dims < 1) IB_Raise<EIB_ColumnError>(IBMsg::ArrayBoundsUnknown, {GetColumnName()});
  if (Size < static_cast<size_t>(ElementCount()) * element) {
    IB_Raise<EIB_ColumnError>(IBMsg::ArrayValueShorterThanBounds, {GetColumnName()});
  }
  uint16_t vt = varVariant;
  if (IsIntegerType(type) && scale != 0) {
    vt = varDouble;
  } else if (type == blr_short) {
    vt = varSmallint;
  } else if (type == blr_long) {
    vt = varInteger;
  } else if (type == blr_float) {
    vt = varSingle;
  } else if (type == blr_double || type == blr_d_float) {
    vt = varDouble;
  }
  std::vector<int> bounds;
  for (int d = 0; d < dims; ++d) {
    bounds.push_back(FArrayDesc.array_desc_bounds[d].array_bound_lower);
    bounds.push_back(FArrayDesc.array_desc_bounds[d].array_bound_upper);
  }
  Variant result = VarArrayCreate(bounds, vt);
  const uint8_t* p = Data;
  ForEachElement(FArrayDesc, [&](const std::vector<int>& At) {
    Variant v;
    switch (type) {
      case blr_short:
        v = scale ? Variant(static_cast<double>(ReadAs<int16_t>(p) / Power10(-scale))) : Variant(ReadAs<int16_t>(p));
        break;
      case blr_long:
        v = scale ? Variant(static_cast<double>(ReadAs<int32_t>(p) / Power10(-scale))) : Variant(ReadAs<int32_t>(p));
        break;
      case blr_int64:
        v = scale ? Variant(static_cast<double>(ReadAs<int64_t>(p) / Power10(-scale))) : Variant(ReadAs<int64_t>(p));
        break;
      case blr_float: v = Variant(static_cast<double>(ReadAs<float>(p))); break;
      case blr_double:
      case blr_d_float: v = Variant(ReadAs<double>(p)); break;
      case blr_timestamp: v = Variant::FromDate(IscTimestampToDateTime(ReadAs<ISC_TIMESTAMP>(p))); break;
      case blr_sql_date: v = Variant::FromDate(IscTimestampToDateTime({ReadAs<ISC_DATE>(p), 0})); break;
      case blr_sql_time: v = Variant::FromDate(IscTimestampToDateTime({DayZero(), ReadAs<ISC_TIME>(p)})); break;
      case blr_varying:
      case blr_varying2: {
        const size_t length = std::min<size_t>(ReadAs<uint16_t>(p), element - 2);
        v = Variant(std::string(reinterpret_cast<const char*>(p) + 2, length));
        break;
      }
      default:
        if (!IsTextType(type)) Unsupported();
        v = Variant(std::string(reinterpret_cast<const char*>(p), element));
    }
    result.PutElement(At, v);
    p += element;
  });
  return result;
}

std::vector<uint8_t> TIB_ColumnArray::EncodeSlice(const Variant& Value) const {
  const int dims = FArrayDesc.array_desc_dimensions;
  if (VarArrayDimCount(Value) != dims) IB_Raise<Exception>(IBMsg::DimensionsAreDifferent);
  std::vector<int> shift(static_cast<size_t>(dims));
  for (int d = 0; d < dims; ++d) {
    const auto& b = FArrayDesc.array_desc_bounds[d];
    if (VarArrayHighBound(Value, d + 1) - VarArrayLowBound(Value, d + 1) != b.array_bound_upper - b.array_bound_lower)
      IB_Raise<Exception>(IBMsg::DimensionHasDifferentNumberOfElements);
    shift[d] = VarArrayLowBound(Value, d + 1) - b.array_bound_lower;
  }
  const int type = FArrayDesc.array_desc_dtype;
  const int scale = FArrayDesc.array_desc_scale;
  const size_t length = FArrayDesc.array_desc_length;
  const size_t element = static_cast<size_t>(ElementSize());
  std::vector<uint8_t> slice(static_cast<size_t>(ElementCount()) * element, 0);
  uint8_t* p = slice.data();
  std::vector<int> index(static_cast<size_t>(dims));
  ForEachElement(FArrayDesc, [&](const std::vector<int>& At) {
    for (int d = 0; d < dims; ++d) index[d] = At[d] + shift[d];
    const Variant v = Value.GetElement(index);
    const bool none = VarIsEmpty(v) || VarIsNull(v);
    switch (type) {
      case blr_short: Store(p, static_cast<int16_t>(WholeNumberOf(v, scale, INT16_MIN, INT16_MAX))); break;
      case blr_long: Store(p, static_cast<int32_t>(WholeNumberOf(v, scale, INT32_MIN, INT32_MAX))); break;
      case blr_int64: Store(p, WholeNumberOf(v, scale, INT64_MIN, INT64_MAX)); break;
      case blr_float: {
        const long double x = NumberOf(v);
        if (std::isfinite(x) && std::fabs(x) > 3.402823466e38L) IB_Raise<EIB_ColumnError>(IBMsg::ValueOutOfRange);
        Store(p, static_cast<float>(x));
        break;
      }
      case blr_double:
      case blr_d_float: Store(p, static_cast<double>(NumberOf(v))); break;
      case blr_timestamp: Store(p, DateTimeToIscTimestamp(none ? 0 : v.AsDate())); break;
      case blr_sql_date: Store(p, DateTimeToIscTimestamp(std::trunc(none ? 0 : v.AsDate())).timestamp_date); break;
      case blr_sql_time: {
        const double t = none ? 0 : v.AsDate();
        Store(p, DateTimeToIscTimestamp(std::fabs(t - std::trunc(t))).timestamp_time);
        break;
      }
      case blr_varying:
      case blr_varying2: {
        const std::string text = VarToStr(v).substr(0, length);
        Store(p, static_cast<uint16_t>(text.size()));
        std::memcpy(p + 2, text.data(), text.size());
        break;
      }
      default: {
        if (!IsTextType(type)) Unsupported();
        const std::string text = VarToStr(v).substr(0, length);
        std::memset(p, GetPadChar(), length);
        std::memcpy(p, text.data(), text.size());
      }
    }
    p += element;
  });
  return slice;
}

void TIB_ColumnArray::SetAsVariant(const Variant& Value) {
  if (!VarIsArray(Value)) {
    if (!VarIsEmpty(Value) && !VarIsNull(Value)) IB_Raise<Exception>(IBMsg::VariantMustBeOfAnArrayType);
    Clear();
    return;
  }
  // Every element is converted before the value changes: one that does not convert leaves it as it was.
  const std::vector<uint8_t> slice = EncodeSlice(Value);
  TIB_BlobStream stream(*this, bsmWrite);
  stream.WriteBuffer(slice.data(), static_cast<int64_t>(slice.size()));
  stream.EndWrite();
}

std::string TIB_ColumnArray::GetSQLTypeSource() {
  const std::string length = std::to_string(FArrayDesc.array_desc_length);
  std::string text;
  switch (FArrayDesc.array_desc_dtype) {
    case blr_short: text = "SMALLINT"; break;
    case blr_long: text = "INTEGER"; break;
    case blr_float: text = "FLOAT"; break;
    case blr_d_float:
    case blr_double: text = "DOUBLE PRECISION"; break;
    case blr_text:
    case blr_text2:
    case blr_cstring:
    case blr_cstring2: text = "CHAR( " + length + " )"; break;
    case blr_timestamp: text = "DATE"; break;
    case blr_varying:
    case blr_varying2: text = "VARCHAR( " + length + " )"; break;
    default: text = TIB_Column::GetSQLTypeSource();
  }
  text += "[ ";
  for (int d = 0; d < FArrayDesc.array_desc_dimensions && d < 16; ++d) {
    if (d > 0) text += ", ";
    // A dimension that does not start at 1 names its lower bound too: "[ 10 ]" would mean 1:10.
    const auto& b = FArrayDesc.array_desc_bounds[d];
    if (b.array_bound_lower != 1) text += std::to_string(b.array_bound_lower) + ":";
    text += std::to_string(b.array_bound_upper);
  }
  return text + " ]";
}

void TIB_ColumnArray::SetIsNull(bool Value) {
  if (Value) {
    if (TIB_BlobNode* own = GetBlobNode()) own->BlobFlag &= static_cast<uint8_t>(~bnfModified);
  }
  TIB_Column::SetIsNull(Value);
}

void TIB_ColumnArray::Clear() { TIB_BlobStream(*this, bsmWrite).EndWrite(); }
