#include "dblib/IB_Utils.h"

#include <cxxabi.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <typeinfo>

#include "dblib/IB_Constants.h"
#include "platform/Registry.h"
#include "platform/SysUtils.h"

bool BuffersEqual(const void* P1, const void* P2, size_t Count) {
  if (Count == 0) return false;
  return std::memcmp(P1, P2, Count) == 0;
}

// ---- timestamp text -------------------------------------------------------------------------------

std::string DateTimeToTimestampText(TDateTime Value) {
  if (Value > 0) {
    uint16_t y, m, d, h, n, s, z;
    DecodeDate(Value, y, m, d);
    DecodeTime(Value, h, n, s, z);
    return Format("%.4u/%.2u/%.2u %.2u:%.2u:%.2u.%.3u0",
                  {int64_t{y}, int64_t{m}, int64_t{d}, int64_t{h}, int64_t{n}, int64_t{s}, int64_t{z}});
  }
  // Quoted separators: the layout must not follow the locale's date and time separators.
  if (std::isnan(Value)) Value = 0;
  return FormatDateTime("yyyy\"/\"mm\"/\"dd hh\":\"nn\":\"ss", Value) + ".0000";
}

namespace {

// The digits at Pos as a number; -1 when the text is too short there or holds another character.
int32_t FieldAt(std::string_view Text, size_t Pos, size_t Len) {
  if (Pos + Len > Text.size()) return -1;
  int32_t v = 0;
  for (char c : Text.substr(Pos, Len)) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

TDateTime TimestampTextToDateTime(std::string_view Text) {
  if (Text == "12/30/1899 00:00") return 0;
  const int32_t y = FieldAt(Text, 0, 4), m = FieldAt(Text, 5, 2), d = FieldAt(Text, 8, 2);
  const int32_t h = FieldAt(Text, 11, 2), n = FieldAt(Text, 14, 2), s = FieldAt(Text, 17, 2);
  std::string frac = Text.size() > 20 ? Trim(Text.substr(20, 4)) : std::string();
  frac = (frac + "0000").substr(0, 3);
  const int32_t z = FieldAt(frac, 0, 3);
  TDateTime date = 0, time = 0;
  if (y >= 0 && m >= 0 && d >= 0 && h >= 0 && n >= 0 && s >= 0 && z >= 0 &&
      TryEncodeDate(static_cast<uint16_t>(y), static_cast<uint16_t>(m), static_cast<uint16_t>(d), date) &&
      TryEncodeTime(static_cast<uint16_t>(h), static_cast<uint16_t>(n), static_cast<uint16_t>(s),
                    static_cast<uint16_t>(z), time)) {
    // Before day zero the time of day counts backwards.
    return date >= 0 ? date + time : date - time;
  }
  // Not in the fixed layout: the locale's reading.
  return StrToDateTime(Text);
}

// ---- wildcards -------------------------------------------------------------------------------------

namespace {

// Matches the set that starts at P[I] ('[') against C; I moves past the closing ']'.
int MatchSet(const std::string& P, size_t& I, char C) {
  ++I;
  bool negate = false;
  if (I < P.size() && (P[I] == '!' || P[I] == '^')) {
    negate = true;
    ++I;
  }
  if (I >= P.size() || P[I] == ']') return wcMalformedPattern;
  bool found = false;
  while (I < P.size() && P[I] != ']') {
    char lo = P[I];
    if (I + 1 < P.size() && P[I + 1] == '-') {
      if (I + 2 >= P.size() || P[I + 2] == ']') return wcMalformedPattern;
      char hi = P[I + 2];
      unsigned char a = static_cast<unsigned char>(lo), b = static_cast<unsigned char>(hi);
      if (a > b) std::swap(a, b);
      unsigned char u = static_cast<unsigned char>(C);
      if (u >= a && u <= b) found = true;
      I += 3;
    } else {
      if (lo == C) found = true;
      ++I;
    }
  }
  if (I >= P.size()) return wcMalformedPattern;
  ++I;  // past ']'
  return found != negate ? wcMatch : wcSetMismatch;
}

int CompareFrom(const std::string& P, size_t I, const std::string& T, size_t J) {
  for (;;) {
    if (I >= P.size()) return J >= T.size() ? wcMatch : wcPatternEnded;
    char c = P[I];
    if (c == '*') {
      ++I;
      while (I < P.size() && (P[I] == '*' || P[I] == '?')) {
        if (P[I] == '?') {
          if (J >= T.size()) return wcTextEnded;
          ++J;
        }
        ++I;
      }
      if (I >= P.size()) return wcMatch;  // a trailing "*" takes whatever is left, even nothing
      if (J >= T.size()) return wcTextEnded;
      char next = P[I];
      size_t k = J;
      while (k < T.size() && next != '[' && T[k] != next) ++k;
      if (k >= T.size()) return wcTextEnded;
      return CompareFrom(P, I, T, k);
    }
    if (J >= T.size()) return wcTextEnded;
    if (c == '?') {
      ++I;
      ++J;
    } else if (c == '[') {
      int r = MatchSet(P, I, T[J]);
      if (r != wcMatch) return r;
      ++J;
    } else {
      if (c != T[J]) return wcCharMismatch;
      ++I;
      ++J;
    }
  }
}

}  // namespace

int WildcardCompare(std::string_view Pattern, std::string_view Text) {
  return CompareFrom(UpperCase(Pattern), 0, UpperCase(Text), 0);
}

bool WildcardMatch(std::string_view Pattern, std::string_view Text) {
  return WildcardCompare(Pattern, Text) == wcMatch;
}

// ---- soundex ---------------------------------------------------------------------------------------

namespace {

uint32_t LetterCode(unsigned char C) {
  switch (C | 0x20) {
    case 'b':
    case 'f':
    case 'p':
    case 'v': return 1;
    case 'c':
    case 'g':
    case 'j':
    case 'k':
    case 'q':
    case 's':
    case 'x':
    case 'z': return 2;
    case 'd':
    case 't': return 3;
    case 'l': return 4;
    case 'm':
    case 'n': return 5;
    case 'r': return 6;
    default: return 0;
  }
}

uint32_t Soundex(std::string_view Text, bool Max) {
  if (Text.empty()) return 0;
  unsigned char first = static_cast<unsigned char>(Text[0]);
  if (first >= 'a' && first <= 'z') first = static_cast<unsigned char>(first - 'a' + 'A');
  uint32_t code = uint32_t{first} << 24;
  uint32_t prev = 0;
  int shift = 21;
  for (size_t i = 1; i < Text.size() && shift >= 0; ++i) {
    unsigned char c = static_cast<unsigned char>(Text[i]);
    // Letter codes are case-blind; bytes outside the alphabet code 0.
    uint32_t lc = ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) ? LetterCode(c) : 0;
    if (lc != prev) {
      code |= lc << shift;
      shift -= 3;
    }
    prev = lc;
  }
  if (Max)
    for (; shift >= 0; shift -= 3) code |= 7u << shift;
  return code;
}

}  // namespace

uint32_t SoundexCode(std::string_view Text) { return Soundex(Text, false); }
uint32_t SoundexMaxCode(std::string_view Text) { return Soundex(Text, true); }

// ---- hexadecimal text ------------------------------------------------------------------------------

std::string BinaryToHexText(const void* Buffer, size_t Count) {
  static const char kDigits[] = "0123456789ABCDEF";
  const unsigned char* p = static_cast<const unsigned char*>(Buffer);
  std::string out(Count * 2, '0');
  for (size_t i = 0; i < Count; ++i) {
    out[2 * i] = kDigits[p[i] >> 4];
    out[2 * i + 1] = kDigits[p[i] & 15];
  }
  return out;
}

namespace {

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

}  // namespace

void HexTextToBinary(std::string_view Text, void* Buffer, size_t Count) {
  if (Text.size() / 2 < Count) IB_Raise<Exception>(IBMsg::InvalidHexText);
  // Decode fully before writing, so a bad digit leaves the buffer untouched.
  std::string bytes(Count, '\0');
  for (size_t i = 0; i < Count; ++i) {
    int hi = HexDigit(Text[2 * i]), lo = HexDigit(Text[2 * i + 1]);
    if (hi < 0 || lo < 0) IB_Raise<Exception>(IBMsg::InvalidHexText);
    bytes[i] = static_cast<char>(hi << 4 | lo);
  }
  if (Count) std::memcpy(Buffer, bytes.data(), Count);
}

// ---- environment -----------------------------------------------------------------------------------

std::string GetEnvVar(const std::string& Name) {
  const char* v = std::getenv(Name.c_str());
  return v ? std::string(v) : std::string();
}

// ---- 3-D cell edges --------------------------------------------------------------------------------

void Draw3DCellLines(TCanvas& Canvas, const TRect& Rect, int32_t Sides) {
  Canvas.SetPenStyle(psSolid);
  Canvas.SetPenWidth(1);
  Canvas.SetPenColor(clBtnShadow);
  if (Sides & dclVertical) {
    Canvas.MoveTo(Rect.Right, Rect.Bottom);
    Canvas.LineTo(Rect.Right, Rect.Top);
  }
  if (Sides & dclHorizontal) {
    Canvas.MoveTo(Rect.Left, Rect.Bottom);
    Canvas.LineTo(Rect.Right + 1, Rect.Bottom);
  }
  Canvas.SetPenColor(clBtnHighlight);
  if (Sides & dclVertical) {
    Canvas.MoveTo(Rect.Left, Rect.Top);
    Canvas.LineTo(Rect.Left, Rect.Bottom);
  }
  if (Sides & dclHorizontal) {
    Canvas.MoveTo(Rect.Left, Rect.Top);
    Canvas.LineTo(Rect.Right + 1, Rect.Top);
  }
}

// ---- password scrambling ---------------------------------------------------------------------------

const std::string IB_ScrambleMarker = ".QiVrOx.07.";

namespace {

constexpr const char* kSecurity = "Security";

std::string EncodeKey(const std::string& Key) { return BinaryToHexText(Key.data(), Key.size()); }

// Keys are kept as hexadecimal text so that every byte survives the settings file; a value that
// is not hexadecimal is taken as it stands.
std::string DecodeKey(const std::string& Stored) {
  if (Stored.size() % 2 != 0) return Stored;
  std::string key(Stored.size() / 2, '\0');
  try {
    HexTextToBinary(Stored, key.data(), key.size());
  } catch (const Exception&) {
    return Stored;
  }
  return key;
}

std::string Combine(const std::string& Text, const std::string& Key) {
  std::string out(Text);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ Key[i % Key.size()]);
  return out;
}

}  // namespace

std::string MakeRandomKey() {
  std::random_device rd;
  std::uniform_int_distribution<int> dist(1, 254);
  std::string key(16, '\0');
  for (char& c : key) c = static_cast<char>(dist(rd));
  return key;
}

std::string GetScrambleKey(const std::string& Path) {
  TRegIniFile reg(Path);
  int32_t level = reg.ReadInteger(kSecurity, "Level", -1);
  if (level < 0) {
    level = 2;
    reg.WriteInteger(kSecurity, "Level", level);
    reg.WriteString(kSecurity, "JumbleKey", EncodeKey(MakeRandomKey()));
  }
  if (level == 0) return std::string();
  if (level == 1) return IB_ScrambleMarker;
  std::string key = DecodeKey(reg.ReadString(kSecurity, "JumbleKey", ""));
  if (key.empty()) {
    key = MakeRandomKey();
    reg.WriteString(kSecurity, "JumbleKey", EncodeKey(key));
  }
  return key;
}

std::string ScramblePassword(const std::string& Text, const std::string& Key) {
  if (Key.empty() || Text.starts_with(IB_ScrambleMarker)) return Text;
  std::string mixed = Combine(Text, Key);
  return IB_ScrambleMarker + BinaryToHexText(mixed.data(), mixed.size());
}

std::string UnscramblePassword(const std::string& Text, const std::string& Key) {
  if (Key.empty() || !Text.starts_with(IB_ScrambleMarker)) return Text;
  std::string_view hex = std::string_view(Text).substr(IB_ScrambleMarker.size());
  if (hex.size() % 2 != 0) IB_Raise<Exception>(IBMsg::InvalidHexText);
  std::string bytes(hex.size() / 2, '\0');
  HexTextToBinary(hex, bytes.data(), bytes.size());
  return Combine(bytes, Key);
}

std::string IB_ClassName(const TObject* Obj) {
  if (!Obj) return "nil";
  const char* mangled = typeid(*Obj).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  const std::string full = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  // The name after the last "::" outside template arguments (and outside the parentheses of
  // "(anonymous namespace)").
  size_t start = 0;
  int depth = 0;
  for (size_t i = 0; i < full.size(); ++i) {
    const char c = full[i];
    if (c == '<' || c == '(') ++depth;
    if ((c == '>' || c == ')') && depth > 0) --depth;
    if (depth == 0 && c == ':' && i + 1 < full.size() && full[i + 1] == ':') {
      start = i + 2;
      ++i;
    }
  }
  return full.substr(start);
}

namespace {

bool IsSQLWordChar(char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '_' || C == '$' ||
         static_cast<unsigned char>(C) >= 0x80;
}

// The position after a comment that starts at I (I itself when none starts there).
size_t SkipComment(std::string_view S, size_t I) {
  if (S.compare(I, 2, "--") == 0) {
    const size_t end = S.find_first_of("\r\n", I);
    return end == std::string_view::npos ? S.size() : end;
  }
  if (S.compare(I, 2, "/*") == 0) {
    const size_t end = S.find("*/", I + 2);
    return end == std::string_view::npos ? S.size() : end + 2;
  }
  return I;
}

// The position after the quoted text (a literal or a quoted name) that starts at I with Quote; a doubled
// quote stays inside. An unclosed one runs to the end.
size_t SkipQuoted(std::string_view S, size_t I, char Quote) {
  for (size_t j = I + 1; j < S.size(); ++j) {
    if (S[j] != Quote) continue;
    if (j + 1 < S.size() && S[j + 1] == Quote) {
      ++j;
      continue;
    }
    return j + 1;
  }
  return S.size();
}

// The position after a string literal that starts at I ('...', or the engine's Q'{...}' form); I when
// none starts there.
size_t SkipLiteral(std::string_view S, size_t I) {
  if (I < S.size() && S[I] == '\'') return SkipQuoted(S, I, '\'');
  if (I + 2 < S.size() && (S[I] == 'q' || S[I] == 'Q') && S[I + 1] == '\'') {
    const char open = S[I + 2];
    const char close = open == '(' ? ')' : open == '{' ? '}' : open == '[' ? ']' : open == '<' ? '>' : open;
    for (size_t j = I + 3; j + 1 < S.size(); ++j)
      if (S[j] == close && S[j + 1] == '\'') return j + 2;
    return S.size();
  }
  return I;
}

bool HasPasswordWord(std::string_view S) {
  static constexpr std::string_view kWord = "PASSWORD";
  for (size_t i = 0; i + kWord.size() <= S.size(); ++i) {
    size_t k = 0;
    while (k < kWord.size() && (S[i + k] & ~0x20) == kWord[k]) ++k;
    if (k == kWord.size()) return true;
  }
  return false;
}

}  // namespace

std::string MaskSQLPasswords(std::string_view SQL) {
  if (!HasPasswordWord(SQL)) return std::string(SQL);
  std::string out;
  out.reserve(SQL.size());
  size_t i = 0;
  while (i < SQL.size()) {
    const char c = SQL[i];
    size_t next = SkipComment(SQL, i);
    if (next == i && (c == '\'' || c == '"')) {
      next = SkipQuoted(SQL, i, c);
      // A literal that holds a statement of its own (EXECUTE STATEMENT 'CREATE USER U PASSWORD ''x'''):
      // its text is masked as well, and quoted again.
      const bool closed = next - i >= 2 && SQL[next - 1] == c;
      const std::string_view inner = SQL.substr(i + 1, next - i - 1 - (closed ? 1 : 0));
      if (c == '\'' && HasPasswordWord(inner)) {
        std::string text;
        for (size_t k = 0; k < inner.size(); ++k) {
          text += inner[k];
          if (inner[k] == '\'' && k + 1 < inner.size() && inner[k + 1] == '\'') ++k;
        }
        const std::string masked = MaskSQLPasswords(text);
        if (masked != text) {
          out += '\'';
          for (char m : masked) out.append(m == '\'' ? 2 : 1, m);
          if (closed) out += '\'';
          i = next;
          continue;
        }
      }
    }
    if (next == i && IsSQLWordChar(c)) {
      while (next < SQL.size() && IsSQLWordChar(SQL[next])) ++next;
      const std::string_view word = SQL.substr(i, next - i);
      out.append(word);
      i = next;
      if (!SameText(word, "PASSWORD")) {
        // Q'...': the rest of the engine's quoted literal goes along whole.
        if (word.size() == 1 && (word[0] & ~0x20) == 'Q' && i < SQL.size() && SQL[i] == '\'') {
          const size_t end = SkipLiteral(SQL, i - 1);
          out.append(SQL.substr(i, end - i));
          i = end;
        }
        continue;
      }
      // Blanks and comments, then the literal.
      size_t at = i;
      while (at < SQL.size()) {
        if (static_cast<unsigned char>(SQL[at]) <= ' ') {
          ++at;
          continue;
        }
        const size_t after = SkipComment(SQL, at);
        if (after == at) break;
        at = after;
      }
      const size_t end = SkipLiteral(SQL, at);
      if (end == at) continue;
      out.append(SQL.substr(i, at - i));
      out += "'*****'";
      i = end;
      continue;
    }
    if (next == i) next = i + 1;
    out.append(SQL.substr(i, next - i));
    i = next;
  }
  return out;
}
