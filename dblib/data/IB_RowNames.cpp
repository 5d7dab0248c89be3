#include "dblib/data/IB_RowNames.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "dblib/IB_Parse.h"
#include "platform/SysUtils.h"

std::string XSQLVARText(const char* Field, short Length) {
  if (Length <= 0) return std::string();
  const size_t len = std::min<size_t>(static_cast<size_t>(Length), 32);
  return std::string(Field, len);
}

void SetXSQLVARText(char (&Field)[32], short& Length, const std::string& Text) {
  const size_t len = std::min<size_t>(Text.size(), sizeof(Field));
  std::memset(Field, 0, sizeof(Field));
  std::memcpy(Field, Text.data(), len);
  Length = static_cast<short>(len);
}

std::string FormatSQLName(int Dialect, const std::string& Name) {
  if (Name.empty()) return Name;
  std::string result;
  MakeSQLIdentExact(Dialect, Name, result);
  return result;
}

namespace {

std::string Candidate(const std::string& Base, int K, size_t Limit) {
  const std::string suffix = "_" + std::to_string(K);
  std::string name = Base + suffix;
  if (name.size() > Limit) name = Base.substr(0, Limit > suffix.size() ? Limit - suffix.size() : 0) + suffix;
  return name;
}

inline char AsciiUpper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 32) : C; }

constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

// FNV-1a over the bytes of S, upper-cased when Fold is set.
inline uint64_t HashBytes(uint64_t H, std::string_view S, bool Fold) {
  for (char c : S) {
    H ^= static_cast<unsigned char>(Fold ? AsciiUpper(c) : c);
    H *= kFnvPrime;
  }
  return H;
}

// The hash of a key (A, B); a one-part key has an empty B.
inline uint64_t HashKey(std::string_view A, std::string_view B, bool Fold) {
  uint64_t h = HashBytes(kFnvOffset, A, Fold);
  h = (h ^ 0x100) * kFnvPrime;  // keeps ("AB", "") apart from ("A", "B")
  return HashBytes(h, B, Fold);
}

// Stored (already folded when the index folds) against a query folded when Fold is set.
inline bool SameKeyPart(const std::string& Stored, std::string_view Query, bool Fold) {
  if (Stored.size() != Query.size()) return false;
  if (!Fold) return Stored == Query;
  for (size_t i = 0; i < Query.size(); ++i) {
    if (Stored[i] != AsciiUpper(Query[i])) return false;
  }
  return true;
}

}  // namespace

void MakeNamesUnique(std::vector<std::string>& Names, const std::vector<std::string>& Bases, size_t Limit) {
  // Positions by name (compared case-insensitively), each list in ascending order. Walking the names in
  // order, every later holder of a name is renamed; a new name is always free, so no earlier position
  // ever shares a name again.
  std::unordered_map<std::string, std::vector<size_t>> holders;
  holders.reserve(Names.size());
  for (size_t i = 0; i < Names.size(); ++i) holders[UpperCase(Names[i])].push_back(i);
  auto taken = [&](const std::string& Key, size_t Except) {
    auto it = holders.find(Key);
    if (it == holders.end()) return false;
    for (size_t p : it->second) {
      if (p != Except) return true;
    }
    return false;
  };
  for (size_t i = 0; i < Names.size(); ++i) {
    const std::string key = UpperCase(Names[i]);
    std::vector<size_t>& same = holders[key];
    if (same.size() < 2) continue;
    const std::vector<size_t> later(same.begin(), same.end());
    int k = 0;
    for (size_t j : later) {
      if (j <= i) continue;
      std::string name, nameKey;
      do {
        name = Candidate(Bases[j], ++k, Limit);
        nameKey = UpperCase(name);
      } while (taken(nameKey, j));
      Names[j] = name;
      std::vector<size_t>& old = holders[key];
      old.erase(std::find(old.begin(), old.end(), j));
      std::vector<size_t>& now = holders[nameKey];
      now.insert(std::upper_bound(now.begin(), now.end(), j), j);
    }
  }
}

// ---- name index -----------------------------------------------------------------------------------

void TIB_NameIndex::Reset(size_t Count, bool CaseInsensitive) {
  FCaseInsensitive = CaseInsensitive;
  FEntries.clear();
  FEntries.reserve(Count);
  size_t slots = 8;
  while (slots < 2 * Count) slots *= 2;
  FSlots.assign(slots, 0);
}

std::string TIB_NameIndex::Key(std::string_view Name) const {
  return FCaseInsensitive ? UpperCase(Name) : std::string(Name);
}

int32_t TIB_NameIndex::Probe(uint64_t Hash, std::string_view A, std::string_view B) const {
  if (FSlots.empty()) return -1;
  const size_t mask = FSlots.size() - 1;
  for (size_t s = Hash & mask;; s = (s + 1) & mask) {
    const uint32_t slot = FSlots[s];
    if (slot == 0) return -1;
    const TEntry& e = FEntries[slot - 1];
    if (e.Hash == Hash && SameKeyPart(e.A, A, FCaseInsensitive) && SameKeyPart(e.B, B, FCaseInsensitive)) {
      return e.Position;
    }
  }
}

void TIB_NameIndex::Add(std::string_view A, std::string_view B, int32_t Position) {
  const uint64_t hash = HashKey(A, B, FCaseInsensitive);
  if (Probe(hash, A, B) >= 0) return;  // the first position keeps the key
  if (2 * (FEntries.size() + 1) > FSlots.size()) {
    // More positions than announced: grow and place the entries again.
    const std::vector<TEntry> entries = std::move(FEntries);
    Reset(entries.size() + 1, FCaseInsensitive);
    for (const TEntry& e : entries) Add(e.A, e.B, e.Position);
  }
  FEntries.push_back(TEntry{Key(A), Key(B), hash, Position});
  const size_t mask = FSlots.size() - 1;
  size_t s = hash & mask;
  while (FSlots[s] != 0) s = (s + 1) & mask;
  FSlots[s] = static_cast<uint32_t>(FEntries.size());
}

int32_t TIB_NameIndex::Find(std::string_view A, std::string_view B) const {
  return Probe(HashKey(A, B, FCaseInsensitive), A, B);
}

int32_t TIB_NameIndex::FindUpper(std::string_view Name) const {
  // Name in upper case, without building it: folded when hashed and when compared. Under exact
  // comparison a stored name equals it only when it is in upper case itself.
  if (FSlots.empty()) return -1;
  const uint64_t hash = HashKey(Name, {}, true);
  const size_t mask = FSlots.size() - 1;
  for (size_t s = hash & mask;; s = (s + 1) & mask) {
    const uint32_t slot = FSlots[s];
    if (slot == 0) return -1;
    const TEntry& e = FEntries[slot - 1];
    if (e.Hash == hash && e.B.empty() && SameKeyPart(e.A, Name, true)) return e.Position;
  }
}
