// The library's small free-standing routines: byte compare, the fixed timestamp text, wildcard
// matching, packed soundex codes, hexadecimal text, environment variables, 3-D cell edges for grids,
// and the reversible scrambling of passwords kept in stored components and the settings store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/Graphics.h"
#include "platform/Locale.h"

class TObject;

// The value of type T stored at P, which need not be aligned for T; a zero T when P is null.
template <typename T>
T ReadAs(const void* P) {
  T value{};
  if (P) std::memcpy(&value, P, sizeof(T));
  return value;
}

// True when the Count bytes at P1 and P2 are equal; false for Count 0.
bool BuffersEqual(const void* P1, const void* P2, size_t Count);

// The library's fixed, locale-independent text of a timestamp: "yyyy/mm/dd hh:nn:ss.zzz0".
std::string DateTimeToTimestampText(TDateTime Value);
// Reads a text made by DateTimeToTimestampText; other texts go through the locale's StrToDateTime
// (which raises EConvertError when it cannot read them).
TDateTime TimestampTextToDateTime(std::string_view Text);

// Result codes of WildcardCompare.
enum : int {
  wcMatch = 1,            // the pattern matches the whole text
  wcPatternEnded = 2,     // the pattern ended with text left over
  wcTextEnded = 3,        // the text ended before the pattern
  wcSetMismatch = 4,      // a [set] did not match its character
  wcCharMismatch = 5,     // a character did not match
  wcMalformedPattern = 6  // an empty or unclosed [set], or a range without its upper bound
};
// Matches Text against Pattern ignoring case: "*" any run, "?" one character, "[abc]", "[a-c]"
// one character of the set, "[!...]" or "[^...]" one character outside it. A "*" followed by a
// literal tries only the first place in the text where that literal occurs.
int WildcardCompare(std::string_view Pattern, std::string_view Text);
bool WildcardMatch(std::string_view Pattern, std::string_view Text);

// A soundex code packed in 32 bits: the first letter in bits 24-31 and up to eight 3-bit letter
// codes below it, from bits 21-23 down. 0 for an empty text.
uint32_t SoundexCode(std::string_view Text);
// SoundexCode with the free positions at 7: [SoundexCode(P), SoundexMaxCode(P)] holds every
// text that begins with P.
uint32_t SoundexMaxCode(std::string_view Text);

// 2 x Count upper-case hexadecimal digits, high nibble first.
std::string BinaryToHexText(const void* Buffer, size_t Count);
// Fills Count bytes from the first 2 x Count hexadecimal digits of Text (either case). Raises
// Exception "Invalid text in HexTextToBinary" when Text is too short or holds other characters.
void HexTextToBinary(std::string_view Text, void* Buffer, size_t Count);

// The class name of Obj as the library's messages show it: the class's own name, without the namespaces
// or enclosing classes that hold it ("TIB_UpdateStatement", never "(anonymous namespace)::..."); "nil"
// for none.
std::string IB_ClassName(const TObject* Obj);

// SQL text as traces and error texts may show it: the literal after each word PASSWORD (outside
// comments, literals and quoted names; blanks and comments between them) is shown as '*****' (CREATE
// DATABASE ... PASSWORD '...', CREATE/ALTER USER ... PASSWORD '...', CONNECT ... PASSWORD '...', ON
// EXTERNAL ... PASSWORD '...'). Text without such a literal comes back unchanged.
std::string MaskSQLPasswords(std::string_view SQL);

// The value of the environment variable Name; empty when it is not set.
std::string GetEnvVar(const std::string& Name);

// Bits of the Sides argument of Draw3DCellLines.
inline constexpr int32_t dclVertical = 1;    // the left and right edges
inline constexpr int32_t dclHorizontal = 2;  // the top and bottom edges
// Draws raised cell edges around Rect: the shadow on the right and bottom, the highlight on the
// left and top, for the sides that Sides selects.
void Draw3DCellLines(TCanvas& Canvas, const TRect& Rect, int32_t Sides);

// The marker that begins a scrambled password; also the key of scrambling level 1.
extern const std::string IB_ScrambleMarker;
// The key for scrambling passwords, from section "Security" of settings key Path: level 0 no
// scrambling (empty key), 1 the fixed key, 2 and above the key "JumbleKey" (kept as hexadecimal
// text). A key without a level gets level 2 and a new random key.
std::string GetScrambleKey(const std::string& Path);
// 16 random bytes, each 1-254, from the system's random source.
std::string MakeRandomKey();
// Text combined with the repeating Key, as the marker followed by hexadecimal text. Text that is
// already scrambled, and any text with an empty Key, comes back unchanged.
std::string ScramblePassword(const std::string& Text, const std::string& Key);
// The inverse of ScramblePassword. Text without the marker, and any text with an empty Key, comes
// back unchanged; a marker followed by malformed hexadecimal text raises Exception.
std::string UnscramblePassword(const std::string& Text, const std::string& Key);
