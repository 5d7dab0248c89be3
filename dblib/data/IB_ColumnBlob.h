// The blob column classes: TIB_ColumnBlob and its kinds by blob sub-type (TIB_ColumnMemo for text,
// TIB_ColumnBLR for BLR, TIB_ColumnBinary for the rest).
//
// The row buffer holds only the value's id; every read and write goes through a TIB_BlobStream over the
// blob-node cache or the column's own node (see IB_BlobStream.h). A value set on a column is written to
// the server when its statement executes. The value can be taken from and given to text, bytes, streams,
// files, string lists and graphics; sub-types 22 and 24 keep a graphic behind an 8-byte header.
#pragma once

#include <memory>
#include <string>

#include "dblib/data/IB_BlobStream.h"
#include "dblib/data/IB_Column.h"

class TGraphic;

class TIB_ColumnBlob : public TIB_Column {
public:
  TIB_ColumnBlob(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR);

  // The row's node of this column (nullptr for a row without blob nodes).
  TIB_BlobNode* GetBlobNode() const;
  // A stream over the value (modes bsmRead, bsmWrite, bsmReadWrite).
  std::unique_ptr<TIB_BlobStream> CreateBlobStream(uint8_t Mode);

  // The size of a loaded value, else the length the server reports without reading it.
  int64_t GetBlobSize() override;
  bool GetIsLoaded() override;
  bool GetIsModified() override;
  std::string GetOldAsString() override;
  Variant GetOldAsVariant() override;
  std::string GetAsString() override;
  // Empty text: null with BLANKISNULL, else an empty value that is not null.
  void SetAsString(const std::string& Value) override;
  std::string GetDisplayText() override;
  bool GetIsChanged() override { return true; }
  void SetIsNull(bool Value) override;
  void Clear() override;
  void Assign(TObject* Source) override;
  void AssignTo(TObject* Dest) override;
  void SetFromBuffer(const void* Buffer, int Count) override;

  void LoadFromStream(TStream& Stream);
  void SaveToStream(TStream& Stream);
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);
  // A nil Graphic empties the value.
  void LoadFromGraphic(TGraphic* Graphic);
  // EIB_ColumnError "Unable to save to Graphic" for a nil Graphic.
  void SaveToGraphic(TGraphic* Graphic);

  void GetBlobID(ISC_QUAD& Id) const { Id = ReadBlobID(*this); }
  void GetOldBlobID(ISC_QUAD& Id) const { Id = ReadBlobID(*this, true); }

private:
  std::string ReadAll(TIB_BlobStream& Stream);
};

// Blob sub-type 1: text.
class TIB_ColumnMemo : public TIB_ColumnBlob {
public:
  TIB_ColumnMemo(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR);
};

// Blob sub-type 2: BLR, read as text through the server's filter.
class TIB_ColumnBLR : public TIB_ColumnBlob {
public:
  TIB_ColumnBLR(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR);
};

// Every other blob sub-type.
class TIB_ColumnBinary : public TIB_ColumnBlob {
public:
  using TIB_ColumnBlob::TIB_ColumnBlob;
};
