#include "platform/Variants.h"

#include <cmath>
#include <limits>

struct Variant::TArray {
  uint16_t ElementType = varVariant;
  std::vector<int> Low, Count;  // per dimension
  std::vector<Variant> Elements;
};

namespace {

constexpr const char* SVarOverflow = "Variant overflow";
constexpr const char* SVarArrayBounds = "Variant or safe array index out of bounds";
constexpr const char* SVarArrayCreate = "Error creating variant or safe array";
constexpr const char* SVarNotArray = "Variant is not an array";
constexpr const char* SVarTypeCast = "Could not convert variant of type (%s) into type (%s)";
constexpr const char* SVarInvalidOp = "Invalid variant operation";

bool IsIntegerKind(uint16_t T) { return T == varSmallint || T == varInteger || T == varInt64 || T == varDecimal; }
bool IsFloatKind(uint16_t T) { return T == varSingle || T == varDouble; }
bool IsNumericKind(uint16_t T) { return IsIntegerKind(T) || IsFloatKind(T) || T == varCurrency; }

// The classic variant rounding: to nearest, ties to even.
int64_t RoundChecked(long double V, int64_t Min, int64_t Max) {
  if (!(V > static_cast<long double>(Min) - 0.5L && V < static_cast<long double>(Max) + 0.5L))
    throw EVariantError(SVarOverflow);
  long double r = std::nearbyint(V);
  if (r < Min || r > Max) throw EVariantError(SVarOverflow);
  return static_cast<int64_t>(r);
}

int64_t CheckRange(int64_t V, int64_t Min, int64_t Max) {
  if (V < Min || V > Max) throw EVariantError(SVarOverflow);
  return V;
}

uint16_t NormaliseType(uint16_t T) { return T == varOleStr ? varString : T; }

}  // namespace

std::string VarTypeAsText(uint16_t Type) {
  std::string base;
  switch (Type & varTypeMask) {
    case varEmpty: base = "Empty"; break;
    case varNull: base = "Null"; break;
    case varSmallint: base = "Smallint"; break;
    case varInteger: base = "Integer"; break;
    case varSingle: base = "Single"; break;
    case varDouble: base = "Double"; break;
    case varCurrency: base = "Currency"; break;
    case varDate: base = "Date"; break;
    case varOleStr: base = "OleStr"; break;
    case varBoolean: base = "Boolean"; break;
    case varVariant: base = "Variant"; break;
    case varDecimal: base = "Decimal"; break;
    case varInt64: base = "Int64"; break;
    case varString: base = "String"; break;
    default: base = "$" + IntToHex(Type & varTypeMask, 4); break;
  }
  return (Type & varArray) ? "Array " + base : base;
}

// ---------------------------------------------------------------------------------------------
// Construction and copying

Variant::Variant() {}
Variant::Variant(int16_t V) : FType(varSmallint) { FInt = V; }
Variant::Variant(int32_t V) : FType(varInteger) { FInt = V; }
Variant::Variant(int64_t V) : FType(varInt64) { FInt = V; }
Variant::Variant(float V) : FType(varSingle) { FDouble = V; }
Variant::Variant(double V) : FType(varDouble) { FDouble = V; }
Variant::Variant(Currency V) : FType(varCurrency) { FInt = V.Raw(); }
Variant::Variant(bool V) : FType(varBoolean) { FBool = V; }
Variant::Variant(std::string V) : FType(varString), FString(std::move(V)) {}

Variant Variant::Null() {
  Variant v;
  v.FType = varNull;
  return v;
}

Variant Variant::FromDate(TDateTime V) {
  Variant v(V);
  v.FType = varDate;
  return v;
}

Variant Variant::FromDecimal(int64_t V) {
  Variant v(V);
  v.FType = varDecimal;
  return v;
}

Variant::Variant(const Variant& Other) : FType(Other.FType), FString(Other.FString) {
  FInt = Other.FInt;  // the widest member carries every scalar's bits
  if (Other.FArray) FArray = std::make_unique<TArray>(*Other.FArray);
}

Variant::Variant(Variant&& Other) noexcept
    : FType(Other.FType), FString(std::move(Other.FString)), FArray(std::move(Other.FArray)) {
  FInt = Other.FInt;
  Other.FType = varEmpty;
  Other.FInt = 0;
}

Variant& Variant::operator=(const Variant& Other) {
  if (this != &Other) {
    Variant copy(Other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& Other) noexcept {
  if (this != &Other) {
    FType = Other.FType;
    FInt = Other.FInt;
    FString = std::move(Other.FString);
    FArray = std::move(Other.FArray);
    Other.FType = varEmpty;
    Other.FInt = 0;
  }
  return *this;
}

Variant::~Variant() = default;

uint16_t Variant::VarType() const { return FArray ? static_cast<uint16_t>(varArray | FArray->ElementType) : FType; }

void Variant::CastError(uint16_t To) const {
  throw EVariantTypeCastError(Format(SVarTypeCast, {VarTypeAsText(VarType()), VarTypeAsText(To)}));
}

// ---------------------------------------------------------------------------------------------
// Conversions

int64_t Variant::AsInt64() const {
  if (FArray) CastError(varInt64);
  switch (FType) {
    case varEmpty: return 0;
    case varSmallint:
    case varInteger:
    case varInt64:
    case varDecimal: return FInt;
    case varSingle:
    case varDouble:
    case varDate: return RoundChecked(FDouble, INT64_MIN, INT64_MAX);
    case varCurrency: {
      // Ten-thousandths to units, ties to even.
      int64_t q = FInt / 10000, r = FInt % 10000;
      if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
      else if (r < -5000 || (r == -5000 && (q & 1)))
        --q;
      return q;
    }
    case varBoolean: return FBool ? -1 : 0;
    case varString: {
      int64_t i;
      if (TryStrToInt64(FString, i)) return i;
      long double f;
      if (TryStrToFloat(FString, f)) return RoundChecked(f, INT64_MIN, INT64_MAX);
      if (SameText(Trim(FString), "True")) return -1;
      if (SameText(Trim(FString), "False")) return 0;
      break;
    }
  }
  CastError(varInt64);
}

int32_t Variant::AsInteger() const {
  if (FArray || FType == varNull) CastError(varInteger);
  if (FType == varString || FType == varBoolean || FType == varEmpty || IsIntegerKind(FType) || FType == varCurrency) {
    int64_t v;
    try {
      v = AsInt64();
    } catch (const EVariantTypeCastError&) {
      CastError(varInteger);  // name the type the caller asked for
    }
    return static_cast<int32_t>(CheckRange(v, INT32_MIN, INT32_MAX));
  }
  return static_cast<int32_t>(RoundChecked(AsExtended(), INT32_MIN, INT32_MAX));
}

int16_t Variant::AsSmallint() const {
  if (FArray || FType == varNull) CastError(varSmallint);
  int32_t v;
  try {
    v = AsInteger();
  } catch (const EVariantTypeCastError&) {
    CastError(varSmallint);
  }
  return static_cast<int16_t>(CheckRange(v, INT16_MIN, INT16_MAX));
}

long double Variant::AsExtended() const {
  if (FArray) CastError(varDouble);
  switch (FType) {
    case varEmpty: return 0;
    case varSmallint:
    case varInteger:
    case varInt64:
    case varDecimal: return static_cast<long double>(FInt);
    case varSingle:
    case varDouble:
    case varDate: return FDouble;
    case varCurrency: return Currency::FromRaw(FInt).ToExtended();
    case varBoolean: return FBool ? -1 : 0;
    case varString: {
      long double f;
      if (TryStrToFloat(FString, f)) return f;
      if (SameText(Trim(FString), "True")) return -1;
      if (SameText(Trim(FString), "False")) return 0;
      break;
    }
  }
  CastError(varDouble);
}

double Variant::AsDouble() const {
  long double v = AsExtended();  // its cast errors name Double already
  if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<double>::max()) throw EVariantError(SVarOverflow);
  return static_cast<double>(v);
}

Currency Variant::AsCurrency() const {
  if (FArray) CastError(varCurrency);
  switch (FType) {
    case varCurrency: return Currency::FromRaw(FInt);
    case varEmpty: return Currency();
    case varString: {
      Currency c;
      if (TryStrToCurr(FString, c)) return c;
      CastError(varCurrency);
    }
    case varNull: CastError(varCurrency);
    default: break;
  }
  try {
    if (IsIntegerKind(FType)) return Currency(FInt);
    return Currency(AsExtended());
  } catch (const EOverflow&) {
    throw EVariantError(SVarOverflow);
  }
}

TDateTime Variant::AsDate() const {
  if (FArray) CastError(varDate);
  switch (FType) {
    case varDate: return FDouble;
    case varString: {
      TDateTime d;
      if (TryStrToDateTime(FString, d)) return d;
      CastError(varDate);
    }
    case varNull: CastError(varDate);
    default: return static_cast<TDateTime>(AsDouble());
  }
}

bool Variant::AsBoolean() const {
  if (FArray) CastError(varBoolean);
  switch (FType) {
    case varEmpty: return false;
    case varBoolean: return FBool;
    case varSmallint:
    case varInteger:
    case varInt64:
    case varDecimal:
    case varCurrency: return FInt != 0;
    case varSingle:
    case varDouble:
    case varDate: return FDouble != 0;
    case varString: {
      std::string t = Trim(FString);
      if (SameText(t, "True")) return true;
      if (SameText(t, "False")) return false;
      long double f;
      if (TryStrToFloat(t, f)) return f != 0;
      break;
    }
  }
  CastError(varBoolean);
}

std::string Variant::AsString() const {
  if (FArray) CastError(varString);
  switch (FType) {
    case varEmpty: return "";
    case varSmallint:
    case varInteger:
    case varInt64:
    case varDecimal: return IntToStr(FInt);
    case varSingle: return FloatToStr(static_cast<float>(FDouble));
    case varDouble: return FloatToStr(FDouble);
    case varCurrency: return CurrToStr(Currency::FromRaw(FInt));
    case varDate: return DateTimeToStr(FDouble);
    case varBoolean: return FBool ? "True" : "False";
    case varString: return FString;
  }
  CastError(varString);
}

Variant Variant::AsType(uint16_t Type) const {
  Type = NormaliseType(Type);
  if (Type == VarType() && !FArray) return *this;
  switch (Type) {
    case varEmpty: return Variant();
    case varNull: return Null();
    case varSmallint: return Variant(AsSmallint());
    case varInteger: return Variant(AsInteger());
    case varInt64: return Variant(AsInt64());
    case varDecimal: return FromDecimal(AsInt64());
    case varSingle: {
      double d = AsDouble();
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) throw EVariantError(SVarOverflow);
      return Variant(static_cast<float>(d));
    }
    case varDouble: return Variant(AsDouble());
    case varCurrency: return Variant(AsCurrency());
    case varDate: return FromDate(AsDate());
    case varBoolean: return Variant(AsBoolean());
    case varString: return Variant(AsString());
    case varVariant: return *this;
  }
  CastError(Type);
}

std::string VarToStr(const Variant& V) { return V.IsNull() ? std::string() : V.AsString(); }

// ---------------------------------------------------------------------------------------------
// Arrays

Variant VarArrayCreate(const std::vector<int>& Bounds, uint16_t ElementType) {
  ElementType = NormaliseType(ElementType);
  bool typeOk = ElementType == varVariant || ElementType == varString || ElementType == varBoolean ||
                ElementType == varDate || IsNumericKind(ElementType);
  if (!typeOk || Bounds.empty() || Bounds.size() % 2 != 0 || Bounds.size() > 2 * kMaxVarArrayDims)
    throw EVariantError(SVarArrayCreate);
  auto a = std::make_unique<Variant::TArray>();
  a->ElementType = ElementType;
  size_t total = 1;
  for (size_t i = 0; i < Bounds.size(); i += 2) {
    int64_t count = static_cast<int64_t>(Bounds[i + 1]) - Bounds[i] + 1;
    if (count < 0) throw EVariantError(SVarArrayCreate);
    // Guard the element count against overflow and absurd sizes.
    if (count > 0 && total > (size_t{1} << 28) / static_cast<size_t>(count)) throw EVariantError(SVarArrayCreate);
    total *= static_cast<size_t>(count);
    a->Low.push_back(Bounds[i]);
    a->Count.push_back(static_cast<int>(count));
  }
  Variant init;
  if (ElementType != varVariant) init = Variant(0).AsType(ElementType);
  a->Elements.assign(total, init);
  Variant v;
  v.FArray = std::move(a);
  return v;
}

Variant VarArrayOf(const std::vector<Variant>& Values) {
  Variant v = VarArrayCreate({0, static_cast<int>(Values.size()) - 1}, varVariant);
  for (size_t i = 0; i < Values.size(); ++i) v.PutElement({static_cast<int>(i)}, Values[i]);
  return v;
}

int Variant::DimCount() const { return FArray ? static_cast<int>(FArray->Low.size()) : 0; }

int Variant::LowBound(int Dim) const {
  if (!FArray) throw EVariantError(SVarNotArray);
  if (Dim < 1 || Dim > DimCount()) throw EVariantError(SVarArrayBounds);
  return FArray->Low[Dim - 1];
}

int Variant::HighBound(int Dim) const {
  if (!FArray) throw EVariantError(SVarNotArray);
  if (Dim < 1 || Dim > DimCount()) throw EVariantError(SVarArrayBounds);
  // Widened: an array whose high bound is the largest int must not overflow on the way.
  return static_cast<int>(static_cast<int64_t>(FArray->Low[Dim - 1]) + FArray->Count[Dim - 1] - 1);
}

size_t Variant::ElementIndex(const std::vector<int>& Indices) const {
  if (!FArray) throw EVariantError(SVarNotArray);
  if (Indices.size() != FArray->Low.size()) throw EVariantError(SVarArrayBounds);
  // The first dimension varies fastest, as in the classic safe array layout.
  size_t index = 0, stride = 1;
  for (size_t d = 0; d < Indices.size(); ++d) {
    int64_t off = static_cast<int64_t>(Indices[d]) - FArray->Low[d];
    if (off < 0 || off >= FArray->Count[d]) throw EVariantError(SVarArrayBounds);
    index += static_cast<size_t>(off) * stride;
    stride *= static_cast<size_t>(FArray->Count[d]);
  }
  return index;
}

Variant Variant::GetElement(const std::vector<int>& Indices) const {
  size_t i = ElementIndex(Indices);  // raises for a value that is not an array
  return FArray->Elements[i];
}

void Variant::PutElement(const std::vector<int>& Indices, const Variant& Value) {
  size_t i = ElementIndex(Indices);
  FArray->Elements[i] = FArray->ElementType == varVariant ? Value : Value.AsType(FArray->ElementType);
}

// ---------------------------------------------------------------------------------------------
// Comparison

namespace {

template <class T>
TVariantRelationship Rel(const T& A, const T& B) {
  return A < B ? vrLessThan : (B < A ? vrGreaterThan : vrEqual);
}

// The kind two scalars are compared as, by the classic promotion rules.
TVariantRelationship CompareScalars(const Variant& A, const Variant& B) {
  uint16_t ta = A.VarType(), tb = B.VarType();
  if (ta == varNull || tb == varNull) {
    if (ta == tb) return vrEqual;
    return ta == varNull ? vrLessThan : vrGreaterThan;
  }
  if (ta == varEmpty && tb == varEmpty) return vrEqual;
  if (ta == varString && tb == varString) {
    int c = CompareStr(A.AsString(), B.AsString());
    return c < 0 ? vrLessThan : (c > 0 ? vrGreaterThan : vrEqual);
  }
  // Empty takes the other side's kind: "" against text, zero against numbers.
  if (ta == varEmpty) return CompareScalars(Variant(tb == varString ? Variant("") : Variant(0)).AsType(tb), B);
  if (tb == varEmpty) return CompareScalars(A, Variant(ta == varString ? Variant("") : Variant(0)).AsType(ta));
  if (ta == varBoolean || tb == varBoolean) {
    if (ta == varBoolean && tb == varBoolean) return Rel(A.AsBoolean(), B.AsBoolean());
    // A boolean against text compares as booleans; against a number as -1/0.
    if (ta == varString || tb == varString) return Rel(A.AsBoolean(), B.AsBoolean());
    return Rel(A.AsExtended(), B.AsExtended());
  }
  if (ta == varDate || tb == varDate) return Rel(A.AsDate(), B.AsDate());
  if (ta == varCurrency || tb == varCurrency) {
    bool exact = (ta == varCurrency || IsIntegerKind(ta)) && (tb == varCurrency || IsIntegerKind(tb));
    if (exact) {
      try {
        return Rel(A.AsCurrency(), B.AsCurrency());
      } catch (const EVariantError&) {  // an integer beyond the currency range
      }
    }
    return Rel(A.AsExtended(), B.AsExtended());
  }
  if (IsIntegerKind(ta) && IsIntegerKind(tb)) return Rel(A.AsInt64(), B.AsInt64());
  if (IsIntegerKind(ta) && tb == varString) {
    int64_t i;
    if (TryStrToInt64(B.AsString(), i)) return Rel(A.AsInt64(), i);
  }
  if (IsIntegerKind(tb) && ta == varString) {
    int64_t i;
    if (TryStrToInt64(A.AsString(), i)) return Rel(i, B.AsInt64());
  }
  long double x = A.AsExtended(), y = B.AsExtended();
  if (std::isnan(x) || std::isnan(y)) return vrNotEqual;
  return Rel(x, y);
}

}  // namespace

TVariantRelationship VarCompareValue(const Variant& A, const Variant& B) {
  if (A.IsArray() || B.IsArray()) throw EVariantError(SVarInvalidOp);
  return CompareScalars(A, B);
}

bool operator==(const Variant& A, const Variant& B) {
  if (A.IsArray() || B.IsArray()) {
    if (!A.IsArray() || !B.IsArray() || A.DimCount() != B.DimCount()) return false;
    std::vector<int> idx;
    bool empty = false;
    for (int d = 1; d <= A.DimCount(); ++d) {
      if (A.LowBound(d) != B.LowBound(d) || A.HighBound(d) != B.HighBound(d)) return false;
      if (A.HighBound(d) < A.LowBound(d)) empty = true;
      idx.push_back(A.LowBound(d));
    }
    if (empty) return true;  // equal bounds and no elements
    // Walk every position, first dimension fastest.
    for (;;) {
      if (!(A.GetElement(idx) == B.GetElement(idx))) return false;
      int d = 0;
      while (d < A.DimCount() && idx[d] == A.HighBound(d + 1)) {
        idx[d] = A.LowBound(d + 1);
        ++d;
      }
      if (d == A.DimCount()) return true;
      ++idx[d];
    }
  }
  try {
    return CompareScalars(A, B) == vrEqual;
  } catch (const EVariantError&) {
    return false;  // values with no common kind are simply different
  }
}
