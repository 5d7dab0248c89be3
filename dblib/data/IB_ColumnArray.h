// TIB_ColumnArray: a column of an array type. The row buffer holds the array's id; the slice (all
// elements, the last dimension varying fastest, as the server stores them) lives in a blob node like a
// blob's bytes. The value is read and written as a variant array with the column's bounds.
//
// The element type and bounds come from the server when the column is created: from the column's own
// relation and field names, else, for a parameter, from the column the server described it as, else
// from a described output column of the same name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dblib/data/IB_BlobStream.h"
#include "dblib/data/IB_Column.h"

class TIB_ColumnArray : public TIB_Column {
public:
  TIB_ColumnArray(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR);

  const ISC_ARRAY_DESC& GetArrayDesc() const noexcept { return FArrayDesc; }
  TIB_BlobNode* GetBlobNode() const;
  std::unique_ptr<TIB_BlobStream> CreateBlobStream(uint8_t Mode);
  // Elements of the whole array, and bytes of one element in the slice.
  int32_t ElementCount() const;
  int32_t ElementSize() const;

  bool GetIsModified() override;
  std::string GetOldAsString() override;
  Variant GetOldAsVariant() override;
  // "(array)" when null, else "(ARRAY)".
  std::string GetAsString() override;
  // EIB_ColumnError "Unable to assign to array AsString".
  void SetAsString(const std::string& Value) override;
  Variant GetAsVariant() override;
  // A variant array with as many dimensions and elements per dimension as the column (its bounds may
  // differ). Every element must convert: nothing is stored otherwise.
  void SetAsVariant(const Variant& Value) override;
  std::string GetSQLTypeSource() override;
  void SetIsNull(bool Value) override;
  void Clear() override;

  void GetBlobID(ISC_QUAD& Id) const { Id = ReadBlobID(*this); }
  void GetOldBlobID(ISC_QUAD& Id) const { Id = ReadBlobID(*this, true); }

private:
  Variant DecodeSlice(const uint8_t* Data, size_t Size) const;
  std::vector<uint8_t> EncodeSlice(const Variant& Value) const;

  ISC_ARRAY_DESC FArrayDesc{};
};
