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
  // Empties the index and sets how it compares and whether its keys are pairs; Count is the number of
  // positions to come.
  void Reset(size_t Count, bool CaseInsensitive, bool Pairs);
  // Adds Position under (A, B) (B is ignored unless the keys are pairs) unless the key is taken.
  void Add(std::string_view A, std::string_view B, int32_t Position);
  // The position of (A, B); -1 when there is none.
  int32_t Find(std::string_view A, std::string_view B = {}) const;

  // Keys of 1 to 16 bytes, as FindShort takes them: byte i of the key in bits 8i..8i+7 of word i / 8,
  // bytes past the end zero.
  static constexpr uint32_t kShortKey = 16;
  static uint64_t ShortHash(uint64_t Word0, uint64_t Word1, uint32_t Length) {
    return ((Word0 ^ Length) * 0x9E3779B97F4A7C15ull) ^ (Word1 * 0xBF58476D1CE4E5B9ull);
  }
  // The position of the one-part key of Length (1 to 16) bytes held in Word0 and Word1, given as the
  // index keeps keys (in upper case when it compares case-insensitively); -1 when there is none.
  int32_t FindShort(uint64_t Word0, uint64_t Word1, uint32_t Length) const {
    if (FPairs) return -1;
    for (size_t s = ShortHash(Word0, Word1, Length) >> FShift;; s = (s + 1) & FMask) {
      const TSlot& slot = FSlots[s];
      if (slot.Entry == 0) return -1;
      if (slot.Word0 == Word0 && slot.Word1 == Word1 && slot.Length == Length) return slot.Position;
    }
  }

private:
  static uint64_t Mix(uint64_t H) { return (H ^ (H >> 31)) * 0x94D049BB133111EBull; }
  uint64_t Hash(std::string_view A, std::string_view B) const;
  // One occupied or free (Entry 0) slot of the open-addressing table. In a one-part index, keys of up
  // to 16 bytes compare by their words (as FindShort takes them) and Length alone.
  struct TSlot {
    uint64_t Hash = 0;
    uint64_t Word0 = 0, Word1 = 0;
    uint32_t Length = 0;
    int32_t Position = 0;
    uint32_t Entry = 0;  // index into FKeys + 1
  };
  struct TKey {
    std::string A, B;
    int32_t Position;
  };
  // The position of the key (A, B), both as the index keeps keys, of hash Hash; -1 when absent.
  int32_t Probe(uint64_t Hash, std::string_view A, std::string_view B) const;

  bool FCaseInsensitive = false;
  bool FPairs = false;
  std::vector<TKey> FKeys;
  // A power of two of slots (never empty: a fresh index has 8 free ones); a hash picks its first slot by
  // its top bits (FShift), the following ones wrap with FMask.
  std::vector<TSlot> FSlots = std::vector<TSlot>(8);
  size_t FMask = 7;
  unsigned FShift = 61;
};
