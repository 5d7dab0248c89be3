#include "dblib/data/IB_ColumnBlob.h"

#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Errors.h"
#include "dblib/data/IB_Row.h"
#include "platform/Graphics.h"

namespace {

// Sub-types whose graphics carry an 8-byte header: 16-bit 1, 16-bit 256, 32-bit length, low byte first.
bool HasGraphicHeader(int16_t SubType) { return SubType == 22 || SubType == 24; }

void WriteGraphicHeader(TStream& Stream, uint32_t Length) {
  const uint8_t header[8] = {1,
                             0,
                             0,
                             1,
                             static_cast<uint8_t>(Length),
                             static_cast<uint8_t>(Length >> 8),
                             static_cast<uint8_t>(Length >> 16),
                             static_cast<uint8_t>(Length >> 24)};
  Stream.WriteBuffer(header, sizeof header);
}

bool IsGraphicHeader(const uint8_t (&H)[8], int64_t Size) {
  const uint32_t length = H[4] | (H[5] << 8) | (H[6] << 16) | (static_cast<uint32_t>(H[7]) << 24);
  return H[0] == 1 && H[1] == 0 && H[2] == 0 && H[3] == 1 && int64_t{length} == Size - 8;
}

}  // namespace

TIB_ColumnBlob::TIB_ColumnBlob(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR)
    : TIB_Column(ARow, AFieldNo, APSQLVAR) {
  FIsBlobKind = true;
}

TIB_ColumnMemo::TIB_ColumnMemo(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR)
    : TIB_ColumnBlob(ARow, AFieldNo, APSQLVAR) {
  FIsTextKind = true;
}

TIB_ColumnBLR::TIB_ColumnBLR(TIB_Row* ARow, int16_t AFieldNo, XSQLVAR* APSQLVAR)
    : TIB_ColumnBlob(ARow, AFieldNo, APSQLVAR) {
  FIsTextKind = true;
}

TIB_BlobNode* TIB_ColumnBlob::GetBlobNode() const { return GetRow()->GetBlobNode(GetFieldNo()); }

std::unique_ptr<TIB_BlobStream> TIB_ColumnBlob::CreateBlobStream(uint8_t Mode) {
  return std::make_unique<TIB_BlobStream>(*this, Mode);
}

std::string TIB_ColumnBlob::ReadAll(TIB_BlobStream& Stream) {
  std::string bytes(static_cast<size_t>(Stream.GetSize()), '\0');
  Stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

int64_t TIB_ColumnBlob::GetBlobSize() {
  if (GetIsNull()) return 0;
  if (GetIsLoaded()) return TIB_BlobStream(*this, bsmRead).GetSize();
  return GetStatement()->GetBlobLength(*this, ReadBlobID(*this));
}

bool TIB_ColumnBlob::GetIsLoaded() {
  if (GetIsNull() || GetIsModified()) return true;
  const ISC_QUAD id = ReadBlobID(*this);
  const TIB_BlobNode* own = GetBlobNode();
  if (own && own->BlobSize > 0 && SameQuad(own->BlobID, id)) return true;
  PIB_BlobNode prior = nullptr;
  return FindBlobNode(GetRow()->GetBlobNodeList().get(), id, GetFieldNo(), prior) != nullptr;
}

bool TIB_ColumnBlob::GetIsModified() {
  const TIB_BlobNode* own = GetBlobNode();
  return TIB_Column::GetIsModified() || (own && (own->BlobFlag & bnfModified) != 0);
}

std::string TIB_ColumnBlob::GetOldAsString() {
  if (!GetIsModified()) return GetAsString();
  if (GetOldIsNull()) return std::string();
  const TIB_BlobNode* node = TIB_BlobStream::CachedNode(*this, ReadBlobID(*this, true));
  return node && node->BlobSize > 0 ? std::string(reinterpret_cast<const char*>(node->BlobBuffer.get()), node->BlobSize)
                                    : std::string();
}

Variant TIB_ColumnBlob::GetOldAsVariant() {
  if (GetOldIsNull()) return Variant::Null();
  return Variant(GetOldAsString());
}

std::string TIB_ColumnBlob::GetAsString() {
  std::string text;
  if (!GetIsNull()) {
    TIB_BlobStream stream(*this, bsmRead);
    text = ReadAll(stream);
  }
  DoGetText(text);
  return text;
}

void TIB_ColumnBlob::SetAsString(const std::string& Value) {
  std::string text = Value;
  DoSetText(text);
  TIB_BlobStream stream(*this, bsmWrite);
  if (!text.empty()) {
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  } else if (!GetBlankIsNull()) {
    SetIsNull(false);
  }
  stream.EndWrite();
}

std::string TIB_ColumnBlob::GetDisplayText() {
  if (GetIsNull()) return std::string();
  if (GetIsTextKind() && GetIsLoaded()) return TIB_Column::GetDisplayText();
  return "( " + GetDisplayLabel() + " )";
}

void TIB_ColumnBlob::SetIsNull(bool Value) {
  if (Value) {
    if (TIB_BlobNode* own = GetBlobNode()) own->BlobFlag &= static_cast<uint8_t>(~bnfModified);
  }
  TIB_Column::SetIsNull(Value);
}

void TIB_ColumnBlob::Clear() { TIB_BlobStream(*this, bsmWrite).EndWrite(); }

void TIB_ColumnBlob::Assign(TObject* Source) {
  if (!Source) {
    Clear();
  } else if (auto* blob = dynamic_cast<TIB_ColumnBlob*>(Source)) {
    if (blob == this) return;
    if (blob->GetIsNull()) {
      Clear();
      return;
    }
    TIB_BlobStream stream(*this, bsmWrite);
    if (!GetBlankIsNull()) SetIsNull(false);
    blob->SaveToStream(stream);
    stream.EndWrite();
  } else if (auto* list = dynamic_cast<TStrings*>(Source)) {
    TIB_BlobStream stream(*this, bsmWrite);
    const std::string text = list->GetText();
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    stream.EndWrite();
  } else if (auto* from = dynamic_cast<TStream*>(Source)) {
    LoadFromStream(*from);
  } else if (auto* picture = dynamic_cast<TPicture*>(Source)) {
    LoadFromGraphic(picture->GetGraphic());
  } else if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
    LoadFromGraphic(graphic);
  } else {
    TIB_Column::Assign(Source);
  }
}

void TIB_ColumnBlob::AssignTo(TObject* Dest) {
  if (auto* blob = dynamic_cast<TIB_ColumnBlob*>(Dest)) {
    if (blob == this) return;
    TIB_BlobStream stream(*this, bsmRead);
    blob->LoadFromStream(stream);
  } else if (auto* list = dynamic_cast<TStrings*>(Dest)) {
    list->SetText(GetAsString());
  } else if (auto* to = dynamic_cast<TStream*>(Dest)) {
    SaveToStream(*to);
  } else if (auto* picture = dynamic_cast<TPicture*>(Dest)) {
    SaveToGraphic(picture->GetGraphic() ? picture->GetGraphic() : picture->GetBitmap());
  } else if (auto* graphic = dynamic_cast<TGraphic*>(Dest)) {
    SaveToGraphic(graphic);
  } else {
    TIB_Column::AssignTo(Dest);
  }
}

void TIB_ColumnBlob::SetFromBuffer(const void* Buffer, int Count) {
  TIB_BlobStream stream(*this, bsmWrite);
  if (Buffer && Count > 0) stream.WriteBuffer(Buffer, Count);
  stream.EndWrite();
}

void TIB_ColumnBlob::LoadFromStream(TStream& Stream) {
  TIB_BlobStream stream(*this, bsmWrite);
  stream.Reserve(Stream.GetSize());
  stream.CopyFrom(Stream, 0);
  stream.EndWrite();
}

void TIB_ColumnBlob::SaveToStream(TStream& Stream) {
  TIB_BlobStream stream(*this, bsmRead);
  if (stream.GetSize() > 0) Stream.CopyFrom(stream, 0);
}

void TIB_ColumnBlob::LoadFromFile(const std::string& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TIB_ColumnBlob::SaveToFile(const std::string& FileName) {
  // The value is read before the file is made: a value that cannot be read leaves the file alone.
  TIB_BlobStream stream(*this, bsmRead);
  TFileStream file(FileName, fmCreate);
  if (stream.GetSize() > 0) file.CopyFrom(stream, 0);
}

void TIB_ColumnBlob::LoadFromGraphic(TGraphic* Graphic) {
  TIB_BlobStream stream(*this, bsmWrite);
  if (Graphic) {
    if (HasGraphicHeader(GetSQLSubType())) {
      WriteGraphicHeader(stream, 0);
      Graphic->SaveToStream(stream);
      const int64_t size = stream.GetSize();
      stream.Seek(0, soBeginning);
      WriteGraphicHeader(stream, static_cast<uint32_t>(size - 8));
    } else {
      Graphic->SaveToStream(stream);
    }
  }
  stream.EndWrite();
}

void TIB_ColumnBlob::SaveToGraphic(TGraphic* Graphic) {
  if (!Graphic) IB_Raise<EIB_ColumnError>(IBMsg::UnableToSaveToGraphic);
  TIB_BlobStream stream(*this, bsmRead);
  const int64_t size = stream.GetSize();
  if (size >= 8) {
    uint8_t header[8];
    stream.ReadBuffer(header, sizeof header);
    if (!IsGraphicHeader(header, size)) stream.Seek(0, soBeginning);
  }
  Graphic->LoadFromStream(stream);
}
