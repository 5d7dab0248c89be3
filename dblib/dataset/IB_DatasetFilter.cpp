// Filtering, row selection and incremental search of the buffered dataset.
#include "dblib/dataset/IB_DatasetFilter.h"

#include <algorithm>

namespace {

constexpr int32_t kNone = 0, kOctets = 1, kUnicodeFss = 3, kUTF8 = 4, kISO8859_1 = 21, kWin1252 = 53;

// Reads one text as UPPER() gives it, byte by byte.
class TUpperReader {
public:
  TUpperReader(int32_t CharSetId, std::string_view S, bool Upper) : FSet(CharSetId), FS(S), FUpper(Upper) {}
  unsigned char At(size_t I) {
    const auto ch = static_cast<unsigned char>(FS[I]);
    if (!FUpper || FSet == kOctets) return ch;
    if (ch >= 'a' && ch <= 'z') return static_cast<unsigned char>(ch - 32);
    // Latin-1 small letters à..þ (not ÷) have their capitals 0x20 lower: one byte in ISO8859_1 and
    // WIN1252, the second byte after 0xC3 in UTF-8.
    const bool latin1 = FSet == kISO8859_1 || FSet == kWin1252 || (FSet == kUTF8 && I > 0 && FS[I - 1] == '\xC3');
    if (latin1 && ch >= 0xE0 - (FSet == kUTF8 ? 0x40 : 0) && ch <= 0xFE - (FSet == kUTF8 ? 0x40 : 0) &&
        ch != 0xF7 - (FSet == kUTF8 ? 0x40 : 0))
      return static_cast<unsigned char>(ch - 0x20);
    return ch;
  }

private:
  int32_t FSet;
  std::string_view FS;
  bool FUpper;
};

std::string_view TrimTrailingBlanks(std::string_view S) {
  while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
  return S;
}

}  // namespace

bool IsSingleByteCharSet(int32_t CharSetId) {
  switch (CharSetId & 0xFF) {
    case 3:   // UNICODE_FSS
    case 4:   // UTF8
    case 5:   // SJIS_0208
    case 6:   // EUCJ_0208
    case 44:  // KSC_5601
    case 56:  // BIG_5
    case 57:  // GB_2312
    case 67:  // GBK
    case 68:  // CP943C
    case 69:  // GB18030
      return false;
    default: return true;
  }
}

int32_t CompareTextAsServer(int32_t CharSetId, std::string_view A, std::string_view B, bool CaseInsensitive) {
  CharSetId &= 0xFF;
  // The binary collations pad the shorter value; the named ones of the single-byte sets drop trailing
  // blanks and then count a shorter value as lower.
  const bool padded = CharSetId == kNone || CharSetId == kOctets || CharSetId == kUnicodeFss || CharSetId == kUTF8;
  if (!padded) {
    A = TrimTrailingBlanks(A);
    B = TrimTrailingBlanks(B);
  }
  const unsigned char pad = CharSetId == kOctets ? 0 : ' ';
  TUpperReader ra(CharSetId, A, CaseInsensitive), rb(CharSetId, B, CaseInsensitive);
  const size_t n = std::max(A.size(), B.size());
  for (size_t i = 0; i < n; ++i) {
    if (!padded && (i >= A.size() || i >= B.size())) return i >= A.size() ? -1 : 1;
    const unsigned char a = i < A.size() ? ra.At(i) : pad;
    const unsigned char b = i < B.size() ? rb.At(i) : pad;
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}
