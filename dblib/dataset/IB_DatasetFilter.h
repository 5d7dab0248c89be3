// Filtering, row selection and incremental search of the buffered dataset: the comparisons the client
// makes on buffered values, which must agree with the order the server gives the same values.
//
// The routines here keep no state; they read the bytes of a text column in the column's own character
// set (a text column's sqlsubtype holds the character set id in its low byte).
#pragma once

#include <cstdint>
#include <string_view>

// True for the character sets of one byte per character (0xFF is then an ordinary character, the
// highest one); false for UNICODE_FSS, UTF8 and the multi-byte Asian sets.
bool IsSingleByteCharSet(int32_t CharSetId);

// Compares two text values the way the server's default collation orders them, byte by byte. NONE,
// OCTETS, UNICODE_FSS and UTF8 pad the shorter value (with NUL for OCTETS, else with blanks), so "a" and
// "a " are equal and "a" sorts after "a" + #1; the named collations of the other sets drop trailing
// blanks and count a shorter value as lower. With CaseInsensitive the values are compared as the engine's
// UPPER() gives them in that set (CharSetUpperCase). Result < 0, 0 or > 0.
int32_t CompareTextAsServer(int32_t CharSetId, std::string_view A, std::string_view B, bool CaseInsensitive);

// Link events of filtering and searching: a row's selection changed (argument: the row, -1 for many), and
// an incremental search found a partial match or the row it is on (argument: the match or row number).
enum : int32_t { sleIncSearchMatch = 26, sleRowSelectedChanged = 33 };

class TIB_Column;

// The value SetOrderingSearchText gives the ordering column's search value for Text, cut to the column's
// length in characters. Descending order: a text is padded to that length with its character set's
// highest character (0xFF for single-byte
// sets, U+10FFFF for UTF8, U+FFFF for UNICODE_FSS; no padding for the other multi-byte sets). Where the
// column's own set (ColumnCharSet, when known) is another than the one its values travel in, the pad is
// the character that sorts highest in the column's set; and where the server would compare the two in an
// order the column is not sorted in (a Unicode column through a single-byte connection, two single-byte
// sets), the value is the empty text's, which bounds no row away. An empty
// text becomes the lowest value of the column's type (ascending) or the highest (descending) for SMALLINT,
// INTEGER, BIGINT, NUMERIC, FLOAT, DOUBLE, DATE, TIME and TIMESTAMP; for another type Drop is set and the
// condition must not be used. Ascending text is not padded.
// Dates and times are written "yyyy-mm-dd hh:nn:ss.zzzz" and numbers with '.', whatever the locale.
std::string OrderingSearchValue(TIB_Column& Column, const std::string& Text, bool Descending, bool& Drop,
                                int32_t ColumnCharSet = -1);
// Gives Param (a parameter of the column's type) a value of OrderingSearchValue.
void AssignOrderingSearchValue(TIB_Column& Param, const std::string& Value);
