// The character sets of the server's text values, as the client needs them: how long a text is in a
// column's characters, where it may be cut without splitting a character, upper case as the engine's
// UPPER() gives it, and the conversion of a text from one set into another.
//
// A text column's sqlsubtype holds the character set id in its low byte: the set the value's bytes
// travel in (the connection's character set, or the column's own set under NONE).
//
// Upper case and the maps of the single-byte sets come from ICU, the library the engine itself folds
// case with (its packages install it). It is loaded at run time, the newest libicuuc.so.NN found, and
// its symbols taken by their versioned names; nothing links against it. Without ICU only ASCII letters
// and the Latin-1 letters of ISO8859_1, WIN1252 and UTF8 are folded, and conversions between sets fail.
// The routines keep no state of their own beyond the tables made once per character set; they are safe
// to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The most bytes one character of the set takes (4 for UTF8, 3 for UNICODE_FSS, 2 for most Asian sets).
int32_t CharSetBytesPerChar(int32_t CharSetId);

// The length limit of a text column of SQLLen bytes, in the units CharSetTextLength counts: characters
// for UTF8 and UNICODE_FSS (SQLLen divided by the bytes per character), bytes for the other sets.
inline size_t CharSetMaxLength(int32_t CharSetId, size_t SQLLen) {
  CharSetId &= 0xFF;
  return CharSetId == 4 ? SQLLen / 4 : CharSetId == 3 ? SQLLen / 3 : SQLLen;
}
// The length of Text in those units (the characters of a UTF-8 text are its bytes that start one).
size_t CharSetTextLength(int32_t CharSetId, std::string_view Text);
// The bytes of Text's first MaxLength units (all of Text when it is shorter): never splits a character.
size_t CharSetPrefixBytes(int32_t CharSetId, std::string_view Text, size_t MaxLength);

// True when Text is well-formed in the set: every character of a UTF8 or UNICODE_FSS text a whole UTF-8
// sequence (no cut character, stray byte, overlong form or surrogate). Texts of the other sets are not
// checked (true).
bool CharSetTextWellFormed(int32_t CharSetId, std::string_view Text);

// Text upper-cased as the engine's UPPER() does in that character set: each character mapped to its
// capital (Unicode's simple case mapping) where the set has that capital; OCTETS is left as it is, NONE
// and ASCII fold ASCII letters only. Bytes that are no character of the set stay as they are.
std::string CharSetUpperCase(int32_t CharSetId, std::string_view Text);

// Converts Text from one character set into another; false when a character has no counterpart in the
// target set, the text is malformed, or a set is not known (NONE and OCTETS convert to nothing else).
bool CharSetConvert(int32_t FromCharSetId, int32_t ToCharSetId, std::string_view Text, std::string& Out);

// The character of CharSetId, in its encoding, that sorts highest in OrderCharSetId's binary order (code
// points for UTF8 and UNICODE_FSS, bytes for the single-byte sets), of those both sets hold; empty when a
// set is not known (the other multi-byte sets; a single-byte set without ICU, unless both are the same).
std::string CharSetHighestChar(int32_t CharSetId, int32_t OrderCharSetId);

// True when ICU was found: the full case folding and the conversions are there.
bool CharSetFoldingAvailable();
