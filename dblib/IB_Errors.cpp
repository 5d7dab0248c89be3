#include "dblib/IB_Errors.h"

#include <cstddef>

namespace {

constexpr size_t kMaxMessageLength = 255;

// Length of the UTF-8 sequence that Lead starts, or 0 when Lead cannot start one.
size_t Utf8SequenceLength(unsigned char Lead) {
  if (Lead >= 0xC2 && Lead <= 0xDF) return 2;
  if (Lead >= 0xE0 && Lead <= 0xEF) return 3;
  if (Lead >= 0xF0 && Lead <= 0xF4) return 4;
  return 0;
}

bool IsContinuation(unsigned char C) { return (C & 0xC0) == 0x80; }

// S cut to at most kMaxMessageLength bytes. When the cut would fall inside a well-formed UTF-8
// sequence, the whole sequence goes, so the message stays valid UTF-8; bytes of a single-byte
// character set that only look like parts of a sequence are kept.
std::string CutMessage(const std::string& S) {
  if (S.size() <= kMaxMessageLength) return S;
  size_t cut = kMaxMessageLength;
  // Walk back over at most three continuation bytes to the byte that would lead the split sequence.
  size_t lead = cut;
  while (lead > 0 && cut - lead < 3 && IsContinuation(static_cast<unsigned char>(S[lead]))) --lead;
  if (lead < cut || IsContinuation(static_cast<unsigned char>(S[cut]))) {
    const size_t need = Utf8SequenceLength(static_cast<unsigned char>(S[lead]));
    if (need > 0 && lead + need > cut && lead + need <= S.size()) {
      bool wellFormed = true;
      for (size_t i = lead + 1; i < lead + need; ++i)
        wellFormed = wellFormed && IsContinuation(static_cast<unsigned char>(S[i]));
      if (wellFormed) cut = lead;
    }
  }
  return S.substr(0, cut);
}

std::unique_ptr<TStringList> CopyList(const TStrings& Source) {
  auto list = std::make_unique<TStringList>();
  list->Assign(Source);
  return list;
}

}  // namespace

EIB_ISCError::EIB_ISCError(TObject* ASender, const std::string& AMessage, int32_t AERRCODE,
                           const TStrings& AErrorMessage, const TStrings& AErrorCodes, int32_t ASQLCODE,
                           const TStrings& ASQLMessage, const TStrings& ASQL)
    : EIB_Error(CutMessage(AMessage)),
      Sender(ASender),
      ERRCODE(AERRCODE),
      SQLCODE(ASQLCODE),
      FErrorMessage(CopyList(AErrorMessage)),
      FErrorCodes(CopyList(AErrorCodes)),
      FSQLMessage(CopyList(ASQLMessage)),
      FSQL(CopyList(ASQL)) {}

EIB_ISCError::EIB_ISCError(const EIB_ISCError& Other)
    : EIB_Error(Other),
      Sender(Other.Sender),
      ERRCODE(Other.ERRCODE),
      SQLCODE(Other.SQLCODE),
      FErrorMessage(CopyList(*Other.FErrorMessage)),
      FErrorCodes(CopyList(*Other.FErrorCodes)),
      FSQLMessage(CopyList(*Other.FSQLMessage)),
      FSQL(CopyList(*Other.FSQL)) {}

EIB_ISCError::~EIB_ISCError() = default;
