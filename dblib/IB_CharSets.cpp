// Character sets of text values; case folding and maps through ICU loaded at run time.
#include "dblib/IB_CharSets.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/DynLib.h"

namespace {

constexpr int32_t kNone = 0, kOctets = 1, kAscii = 2, kUnicodeFss = 3, kUTF8 = 4, kISO8859_1 = 21, kWin1252 = 53;

bool IsUtf8Encoded(int32_t Id) { return Id == kUTF8 || Id == kUnicodeFss; }

// ---- ICU ----------------------------------------------------------------------------------------------

// The few entries of ICU's common library the folding needs. ICU renames its C functions per version
// (u_toupper_72): the names are made from the version of the library found.
struct TIcu {
  using UToUpper = int32_t (*)(int32_t);
  using UcnvOpen = void* (*)(const char*, int*);
  using UcnvClose = void (*)(void*);
  using UcnvToUChars = int32_t (*)(void*, char16_t*, int32_t, const char*, int32_t, int*);
  TDynLib Lib;
  UToUpper ToUpper = nullptr;
  UcnvOpen Open = nullptr;
  UcnvClose Close = nullptr;
  UcnvToUChars ToUChars = nullptr;

  TIcu() {
    // The engine loads the newest libicuuc it finds; so does this, and the process then holds one ICU.
    for (int version = 99; version >= 44 && !ToUpper; --version) {
      if (!Lib.Load("libicuuc.so." + std::to_string(version))) continue;
      const std::string suffix = "_" + std::to_string(version);
      for (const std::string& s : {suffix, std::string()}) {
        ToUpper = reinterpret_cast<UToUpper>(Lib.Symbol(("u_toupper" + s).c_str()));
        Open = reinterpret_cast<UcnvOpen>(Lib.Symbol(("ucnv_open" + s).c_str()));
        Close = reinterpret_cast<UcnvClose>(Lib.Symbol(("ucnv_close" + s).c_str()));
        ToUChars = reinterpret_cast<UcnvToUChars>(Lib.Symbol(("ucnv_toUChars" + s).c_str()));
        if (ToUpper && Open && Close && ToUChars) break;
        ToUpper = nullptr;
      }
      if (!ToUpper) Lib.Unload();
    }
  }
  bool Available() const { return ToUpper != nullptr; }
};

TIcu& Icu() {
  static TIcu icu;
  return icu;
}

// The capital of a code point; without ICU the ASCII and Latin-1 letters only.
char32_t UpperOf(char32_t C) {
  if (C < 0x80) return C >= 'a' && C <= 'z' ? C - 32 : C;
  TIcu& icu = Icu();
  if (icu.Available()) return static_cast<char32_t>(icu.ToUpper(static_cast<int32_t>(C)));
  return C >= 0xE0 && C <= 0xFE && C != 0xF7 ? C - 0x20 : C;
}

// ICU's name of a single-byte set; nullptr for the sets it has no converter for.
const char* IcuConverterName(int32_t Id) {
  switch (Id) {
    case 9: return "cp737";
    case 10: return "cp437";
    case 11: return "cp850";
    case 12: return "cp865";
    case 13: return "cp860";
    case 14: return "cp863";
    case 15: return "cp775";
    case 16: return "cp858";
    case 17: return "cp862";
    case 18: return "cp864";
    case 21: return "ISO-8859-1";
    case 22: return "ISO-8859-2";
    case 23: return "ISO-8859-3";
    case 34: return "ISO-8859-4";
    case 35: return "ISO-8859-5";
    case 36: return "ISO-8859-6";
    case 37: return "ISO-8859-7";
    case 38: return "ISO-8859-8";
    case 39: return "ISO-8859-9";
    case 40: return "ISO-8859-13";
    case 45: return "cp852";
    case 46: return "cp857";
    case 47: return "cp861";
    case 48: return "cp866";
    case 49: return "cp869";
    case 51: return "windows-1250";
    case 52: return "windows-1251";
    case 53: return "windows-1252";
    case 54: return "windows-1253";
    case 55: return "windows-1254";
    case 58: return "windows-1255";
    case 59: return "windows-1256";
    case 60: return "windows-1257";
    case 63: return "KOI8-R";
    case 64: return "KOI8-U";
    case 65: return "windows-1258";
    case 66: return "TIS-620";
    default: return nullptr;
  }
}

constexpr char32_t kNoChar = 0xFFFFFFFF;

// A single-byte set: its bytes as code points, the way back, and each byte's capital.
struct TByteSet {
  std::array<char32_t, 256> ToUnicode{};
  std::unordered_map<char32_t, uint8_t> FromUnicode;
  std::array<uint8_t, 256> Upper{};
  bool Mapped = false;  // ToUnicode and FromUnicode hold the set (ICU had a converter for it)
};

std::unique_ptr<TByteSet> MakeByteSet(int32_t Id) {
  auto set = std::make_unique<TByteSet>();
  for (int b = 0; b < 256; ++b) {
    set->ToUnicode[static_cast<size_t>(b)] = kNoChar;
    set->Upper[static_cast<size_t>(b)] = static_cast<uint8_t>(b);
  }
  TIcu& icu = Icu();
  const char* name = IcuConverterName(Id);
  if (icu.Available() && name) {
    int status = 0;
    void* conv = icu.Open(name, &status);
    if (conv && status <= 0) {
      set->Mapped = true;
      for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        char16_t u[4];
        int err = 0;
        const int32_t n = icu.ToUChars(conv, u, 4, &byte, 1, &err);
        // One UTF-16 unit, and not the replacement ICU gives a byte the set leaves undefined.
        if (err > 0 || n != 1 || u[0] == 0xFFFD || (u[0] == 0x1A && b != 0x1A)) continue;
        set->ToUnicode[static_cast<size_t>(b)] = u[0];
        set->FromUnicode.emplace(u[0], static_cast<uint8_t>(b));
      }
    }
    if (conv) icu.Close(conv);
  }
  if (set->Mapped) {
    for (int b = 0; b < 256; ++b) {
      const char32_t c = set->ToUnicode[static_cast<size_t>(b)];
      if (c == kNoChar) continue;
      const auto up = set->FromUnicode.find(UpperOf(c));
      if (up != set->FromUnicode.end()) set->Upper[static_cast<size_t>(b)] = up->second;
    }
    return set;
  }
  // Without a map: ASCII letters, and the Latin-1 letters of the sets that hold them there.
  for (int b = 'a'; b <= 'z'; ++b) set->Upper[static_cast<size_t>(b)] = static_cast<uint8_t>(b - 32);
  if (Id == kISO8859_1 || Id == kWin1252) {
    for (int b = 0xE0; b <= 0xFE; ++b)
      if (b != 0xF7) set->Upper[static_cast<size_t>(b)] = static_cast<uint8_t>(b - 0x20);
  }
  return set;
}

// The table of a single-byte set, made on first use and kept for the life of the process.
const TByteSet& ByteSet(int32_t Id) {
  static std::array<std::atomic<TByteSet*>, 256> sets{};
  static std::mutex making;
  const auto i = static_cast<size_t>(Id & 0xFF);
  if (TByteSet* s = sets[i].load(std::memory_order_acquire)) return *s;
  std::lock_guard<std::mutex> lock(making);
  if (TByteSet* s = sets[i].load(std::memory_order_relaxed)) return *s;
  TByteSet* made = MakeByteSet(static_cast<int32_t>(i)).release();
  sets[i].store(made, std::memory_order_release);
  return *made;
}

// Reads one UTF-8 character at I (moving I past it); kNoChar for a malformed sequence (I moves one byte).
char32_t NextUtf8(std::string_view S, size_t& I) {
  const auto b0 = static_cast<unsigned char>(S[I]);
  if (b0 < 0x80) {
    ++I;
    return b0;
  }
  const size_t n = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
  if (n == 0 || I + n > S.size()) {
    ++I;
    return kNoChar;
  }
  char32_t c = n == 2 ? b0 & 0x1F : n == 3 ? b0 & 0x0F : b0 & 0x07;
  for (size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(S[I + k]);
    if ((b & 0xC0) != 0x80) {
      ++I;
      return kNoChar;
    }
    c = (c << 6) | (b & 0x3F);
  }
  // Overlong forms and surrogates are malformed.
  if ((n == 3 && c < 0x800) || (n == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c <= 0xDFFF)) {
    ++I;
    return kNoChar;
  }
  I += n;
  return c;
}

void AppendUtf8(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (C >> 18));
    Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

}  // namespace

int32_t CharSetBytesPerChar(int32_t CharSetId) {
  switch (CharSetId & 0xFF) {
    case kUnicodeFss: return 3;
    case kUTF8: return 4;
    case 5:   // SJIS_0208
    case 6:   // EUCJ_0208
    case 44:  // KSC_5601
    case 56:  // BIG_5
    case 57:  // GB_2312
    case 67:  // GBK
    case 68:  // CP943C
      return 2;
    case 69: return 4;  // GB18030
    default: return 1;
  }
}

size_t CharSetTextLength(int32_t CharSetId, std::string_view Text) {
  if (!IsUtf8Encoded(CharSetId & 0xFF)) return Text.size();
  size_t n = 0;
  for (const char c : Text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

size_t CharSetPrefixBytes(int32_t CharSetId, std::string_view Text, size_t MaxLength) {
  if (!IsUtf8Encoded(CharSetId & 0xFF)) return std::min(Text.size(), MaxLength);
  size_t chars = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    if ((static_cast<unsigned char>(Text[i]) & 0xC0) != 0x80 && chars++ == MaxLength) return i;
  }
  return Text.size();
}

bool CharSetTextWellFormed(int32_t CharSetId, std::string_view Text) {
  if (!IsUtf8Encoded(CharSetId & 0xFF)) return true;
  for (size_t i = 0; i < Text.size();)
    if (NextUtf8(Text, i) == kNoChar) return false;
  return true;
}

std::string CharSetUpperCase(int32_t CharSetId, std::string_view Text) {
  CharSetId &= 0xFF;
  std::string r;
  if (CharSetId == kOctets) return std::string(Text);
  if (CharSetId == kNone || CharSetId == kAscii) {
    r.assign(Text);
    for (char& c : r)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return r;
  }
  if (IsUtf8Encoded(CharSetId)) {
    r.reserve(Text.size());
    for (size_t i = 0; i < Text.size();) {
      const size_t at = i;
      const char32_t c = NextUtf8(Text, i);
      if (c == kNoChar) {
        r.append(Text.substr(at, i - at));
      } else {
        AppendUtf8(r, UpperOf(c));
      }
    }
    return r;
  }
  if (CharSetBytesPerChar(CharSetId) > 1) {
    // The Asian multi-byte sets: ASCII letters only (a trail byte may look like one, so none is touched
    // after a byte that starts a two-byte character; in SJIS only 0x81-0x9F and 0xE0-0xFC start one, the
    // other high bytes are one-byte characters, half-width katakana).
    const bool sjis = CharSetId == 5 || CharSetId == 68;
    r.assign(Text);
    for (size_t i = 0; i < r.size(); ++i) {
      const auto b = static_cast<unsigned char>(r[i]);
      if (b >= 0x80) {
        if (!sjis || (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ++i;
      } else if (r[i] >= 'a' && r[i] <= 'z') {
        r[i] = static_cast<char>(r[i] - 32);
      }
    }
    return r;
  }
  const TByteSet& set = ByteSet(CharSetId);
  r.resize(Text.size());
  for (size_t i = 0; i < Text.size(); ++i) r[i] = static_cast<char>(set.Upper[static_cast<unsigned char>(Text[i])]);
  return r;
}

bool CharSetConvert(int32_t FromCharSetId, int32_t ToCharSetId, std::string_view Text, std::string& Out) {
  FromCharSetId &= 0xFF;
  ToCharSetId &= 0xFF;
  Out.clear();
  if (FromCharSetId == ToCharSetId) {
    Out.assign(Text);
    return true;
  }
  auto known = [](int32_t Id) { return IsUtf8Encoded(Id) || (CharSetBytesPerChar(Id) == 1 && ByteSet(Id).Mapped); };
  if (!known(FromCharSetId) || !known(ToCharSetId)) return false;
  const TByteSet* to = IsUtf8Encoded(ToCharSetId) ? nullptr : &ByteSet(ToCharSetId);
  const TByteSet* from = IsUtf8Encoded(FromCharSetId) ? nullptr : &ByteSet(FromCharSetId);
  Out.reserve(Text.size());
  for (size_t i = 0; i < Text.size();) {
    char32_t c;
    if (from) {
      c = from->ToUnicode[static_cast<unsigned char>(Text[i++])];
    } else {
      c = NextUtf8(Text, i);
    }
    if (c == kNoChar) return false;
    if (!to) {
      // UNICODE_FSS holds the characters of the Basic Multilingual Plane only.
      if (ToCharSetId == kUnicodeFss && c > 0xFFFF) return false;
      AppendUtf8(Out, c);
      continue;
    }
    const auto b = to->FromUnicode.find(c);
    if (b == to->FromUnicode.end()) return false;
    Out += static_cast<char>(b->second);
  }
  return true;
}

std::string CharSetHighestChar(int32_t CharSetId, int32_t OrderCharSetId) {
  CharSetId &= 0xFF;
  OrderCharSetId &= 0xFF;
  const bool single = CharSetBytesPerChar(CharSetId) == 1, orderSingle = CharSetBytesPerChar(OrderCharSetId) == 1;
  std::string r;
  if (CharSetId == OrderCharSetId) {
    if (single) return "\xFF";
    if (IsUtf8Encoded(CharSetId)) AppendUtf8(r, CharSetId == kUTF8 ? 0x10FFFF : 0xFFFF);
    return r;
  }
  if (IsUtf8Encoded(CharSetId) && IsUtf8Encoded(OrderCharSetId)) {
    // UNICODE_FSS holds the Basic Multilingual Plane.
    AppendUtf8(r, 0xFFFF);
    return r;
  }
  const TByteSet* set = single ? &ByteSet(CharSetId) : nullptr;
  const TByteSet* order = orderSingle ? &ByteSet(OrderCharSetId) : nullptr;
  if ((set && !set->Mapped) || (order && !order->Mapped) || (!set && !IsUtf8Encoded(CharSetId)) ||
      (!order && !IsUtf8Encoded(OrderCharSetId)))
    return r;
  if (order) {
    // The highest byte of the order's set whose character CharSetId holds.
    for (int b = 255; b >= 0; --b) {
      const char32_t c = order->ToUnicode[static_cast<size_t>(b)];
      if (c == kNoChar) continue;
      if (!set) {
        AppendUtf8(r, c);
        return r;
      }
      const auto to = set->FromUnicode.find(c);
      if (to != set->FromUnicode.end()) return std::string(1, static_cast<char>(to->second));
    }
    return r;
  }
  // Ordered by code points: the set's character with the highest one.
  int best = -1;
  for (int b = 0; b < 256; ++b) {
    const char32_t c = set->ToUnicode[static_cast<size_t>(b)];
    if (c != kNoChar && (best < 0 || c > set->ToUnicode[static_cast<size_t>(best)])) best = b;
  }
  if (best >= 0) r.assign(1, static_cast<char>(best));
  return r;
}

bool CharSetFoldingAvailable() { return Icu().Available(); }
