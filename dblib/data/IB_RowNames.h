// Name helpers shared by rows and columns: the fixed-size name fields of an XSQLVAR, identifiers
// spelled for a dialect, unique column names within a row, and the hash index a row finds its
// columns' names through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dblib/IB_Header.h"

// The text of an XSQLVAR name field; a length outside 0..32 is taken as far as it is valid.
std::string XSQLVARText(const char* Field, short Length);
// Stores Text (cut to 32 bytes) into an XSQLVAR name field and its length.
void SetXSQLVARText(char (&Field)[32], short& Length, const std::string& Text);
// Name spelled for Dialect as MakeSQLIdentExact does; an empty name stays empty.
std::string FormatSQLName(int Dialect, const std::string& Name);
// Makes Names unique (case-insensitively): each later duplicate becomes its base, "_" and a number,
// counting on until the result is free; a result longer than Limit keeps as much of the base as fits.
void MakeNamesUnique(std::vector<std::string>& Names, const std::vector<std::string>& Bases, size_t Limit);

// Positions found by one name or by a pair of names (relation and column). Names compare as a row
// compares them: exactly from SQL dialect 3, ASCII case-insensitively below it. Where several positions
// share a key, the first one added is found.
class TIB_NameIndex {
public:
  // Empties the index and sets how it compares; Count is the number of positions to come.
  void Reset(size_t Count, bool CaseInsensitive);
  void Add(std::string_view A, std::string_view B, int32_t Position);
  // The position of (A, B); -1 when there is none.
  int32_t Find(std::string_view A, std::string_view B = {}) const;
  // The position of the one-part name that is Name in upper case; -1 when there is none.
  int32_t FindUpper(std::string_view Name) const;

private:
  struct TEntry {
    std::string A, B;
    uint64_t Hash;
    int32_t Position;
  };
  int32_t Probe(uint64_t Hash, std::string_view A, std::string_view B) const;
  std::string Key(std::string_view Name) const;

  bool FCaseInsensitive = false;
  std::vector<TEntry> FEntries;
  // Open addressing over FEntries: entry index + 1, 0 for a free slot.
  std::vector<uint32_t> FSlots;
};
