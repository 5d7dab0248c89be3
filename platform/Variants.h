// Variant: a value of one of the classic dynamic kinds (empty, null, integers, floats, currency,
// dates, booleans, text) or an array of such values with per-dimension bounds. Conversions
// between kinds follow the classic rules, text going through the locale settings.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Locale.h"
#include "platform/SysUtils.h"

// Type codes, as the classic VarType reports them.
inline constexpr uint16_t varEmpty = 0x0000;
inline constexpr uint16_t varNull = 0x0001;
inline constexpr uint16_t varSmallint = 0x0002;
inline constexpr uint16_t varInteger = 0x0003;
inline constexpr uint16_t varSingle = 0x0004;
inline constexpr uint16_t varDouble = 0x0005;
inline constexpr uint16_t varCurrency = 0x0006;
inline constexpr uint16_t varDate = 0x0007;
inline constexpr uint16_t varOleStr = 0x0008;  // accepted where a type is asked for; held as varString
inline constexpr uint16_t varBoolean = 0x000B;
inline constexpr uint16_t varVariant = 0x000C;
// A 64-bit integer carried under the decimal type code, as the library's columns hand out
// unscaled 64-bit values; it converts like varInt64.
inline constexpr uint16_t varDecimal = 0x000E;
inline constexpr uint16_t varInt64 = 0x0014;
inline constexpr uint16_t varString = 0x0100;
inline constexpr uint16_t varTypeMask = 0x0FFF;
inline constexpr uint16_t varArray = 0x2000;

inline constexpr int kMaxVarArrayDims = 16;

class EVariantError : public Exception {
public:
  using Exception::Exception;
};

// A value that cannot be converted to the kind asked for.
class EVariantTypeCastError : public EVariantError {
public:
  using EVariantError::EVariantError;
};

enum TVariantRelationship { vrEqual, vrLessThan, vrGreaterThan, vrNotEqual };

class Variant {
public:
  Variant();  // Empty
  Variant(int16_t V);
  Variant(int32_t V);
  Variant(int64_t V);
  Variant(long long V) : Variant(static_cast<int64_t>(V)) {}
  Variant(float V);
  Variant(double V);
  Variant(long double V) : Variant(static_cast<double>(V)) {}
  Variant(Currency V);
  Variant(bool V);
  Variant(std::string V);
  Variant(std::string_view V) : Variant(std::string(V)) {}
  Variant(const char* V) : Variant(std::string(V)) {}

  static Variant Null();
  static Variant FromDate(TDateTime V);
  static Variant FromDecimal(int64_t V);  // type code varDecimal

  Variant(const Variant& Other);
  Variant(Variant&& Other) noexcept;
  Variant& operator=(const Variant& Other);
  Variant& operator=(Variant&& Other) noexcept;
  ~Variant();

  // The type code; arrays report varArray | their element type.
  uint16_t VarType() const;
  bool IsEmpty() const { return FType == varEmpty; }
  bool IsNull() const { return FType == varNull; }
  bool IsArray() const { return FArray != nullptr; }

  // Conversions with the classic rules; EVariantTypeCastError when the value has no such form,
  // EVariantError "Variant overflow" when it does not fit.
  int16_t AsSmallint() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  long double AsExtended() const;
  Currency AsCurrency() const;
  TDateTime AsDate() const;
  bool AsBoolean() const;
  std::string AsString() const;
  // This value converted to the kind of the type code (varEmpty, varNull and the scalar codes).
  Variant AsType(uint16_t Type) const;

  // Arrays. Dimensions are numbered from 1; indices give one position per dimension.
  int DimCount() const;
  int LowBound(int Dim) const;
  int HighBound(int Dim) const;
  Variant GetElement(const std::vector<int>& Indices) const;
  Variant GetElement(std::initializer_list<int> Indices) const { return GetElement(std::vector<int>(Indices)); }
  // Stores Value converted to the array's element type (kept as it is in arrays of variants).
  void PutElement(const std::vector<int>& Indices, const Variant& Value);
  void PutElement(std::initializer_list<int> Indices, const Variant& Value) {
    PutElement(std::vector<int>(Indices), Value);
  }

  friend Variant VarArrayCreate(const std::vector<int>& Bounds, uint16_t ElementType);

private:
  struct TArray;
  size_t ElementIndex(const std::vector<int>& Indices) const;
  [[noreturn]] void CastError(uint16_t To) const;

  uint16_t FType = varEmpty;
  union {
    int64_t FInt = 0;
    double FDouble;
    bool FBool;
  };
  std::string FString;
  std::unique_ptr<TArray> FArray;
};

// Equality is value comparison with the classic rules (Null equals Null only; text against
// numbers compares as numbers). Arrays are equal when their bounds and elements are.
bool operator==(const Variant& A, const Variant& B);
// Classic ordering: Null before everything, then by value; arrays cannot be ordered.
TVariantRelationship VarCompareValue(const Variant& A, const Variant& B);

inline uint16_t VarType(const Variant& V) { return V.VarType(); }
inline bool VarIsEmpty(const Variant& V) { return V.IsEmpty(); }
inline bool VarIsNull(const Variant& V) { return V.IsNull(); }
inline bool VarIsArray(const Variant& V) { return V.IsArray(); }
// Text of a value; Null and Empty give "".
std::string VarToStr(const Variant& V);
inline Variant VarAsType(const Variant& V, uint16_t Type) { return V.AsType(Type); }
// The readable name of a type code ("Integer", "String", "Array Variant"...).
std::string VarTypeAsText(uint16_t Type);

// An array with the given bounds (low, high pairs, one pair per dimension, at most 16) whose
// elements have ElementType: numbers start at 0, text empty, variants Empty.
Variant VarArrayCreate(const std::vector<int>& Bounds, uint16_t ElementType);
inline Variant VarArrayCreate(std::initializer_list<int> Bounds, uint16_t ElementType) {
  return VarArrayCreate(std::vector<int>(Bounds), ElementType);
}
// A one-dimensional array of variants, bounds 0..n-1.
Variant VarArrayOf(const std::vector<Variant>& Values);
inline int VarArrayDimCount(const Variant& V) { return V.DimCount(); }
inline int VarArrayLowBound(const Variant& V, int Dim) { return V.LowBound(Dim); }
inline int VarArrayHighBound(const Variant& V, int Dim) { return V.HighBound(Dim); }
