#include "dblib/data/IB_RowNames.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "dblib/sql/IB_Parse.h"
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

// The first 8 bytes of S as a word of TIB_NameIndex::FindShort.
uint64_t HeadWord(std::string_view S) {
  uint64_t w = 0;
  for (size_t i = 0; i < S.size() && i < 8; ++i)
    w |= static_cast<uint64_t>(static_cast<unsigned char>(S[i])) << (8 * i);
  return w;
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

uint64_t TIB_NameIndex::Hash(std::string_view A, std::string_view B) const {
  auto one = [](std::string_view S) {
    if (!S.empty() && S.size() <= kShortKey) {
      return ShortHash(HeadWord(S), S.size() > 8 ? HeadWord(S.substr(8)) : 0, static_cast<uint32_t>(S.size()));
    }
    uint64_t h = S.size();
    for (size_t i = 0; i < S.size(); i += 8) h = Mix(h ^ HeadWord(S.substr(i)));
    return h;
  };
  return FPairs ? Mix(one(A)) ^ one(B) : one(A);
}

void TIB_NameIndex::Reset(size_t Count, bool CaseInsensitive, bool Pairs) {
  FCaseInsensitive = CaseInsensitive;
  FPairs = Pairs;
  FKeys.clear();
  FKeys.reserve(Count);
  size_t slots = 8;
  FShift = 61;
  while (slots < 2 * Count) {
    slots *= 2;
    --FShift;
  }
  FSlots.assign(slots, TSlot{});
  FMask = slots - 1;
}

int32_t TIB_NameIndex::Probe(uint64_t Hash, std::string_view A, std::string_view B) const {
  for (size_t s = Hash >> FShift;; s = (s + 1) & FMask) {
    const TSlot& slot = FSlots[s];
    if (slot.Entry == 0) return -1;
    const TKey& key = FKeys[slot.Entry - 1];
    if (slot.Hash == Hash && key.A == A && key.B == B) return slot.Position;
  }
}

void TIB_NameIndex::Add(std::string_view A, std::string_view B, int32_t Position) {
  auto kept = [this](std::string_view Part) { return FCaseInsensitive ? UpperCase(Part) : std::string(Part); };
  TKey key{kept(A), FPairs ? kept(B) : std::string(), Position};
  const uint64_t hash = Hash(key.A, key.B);
  if (Probe(hash, key.A, key.B) >= 0) return;  // the first position keeps the key
  if (2 * (FKeys.size() + 1) > FSlots.size()) {
    // More positions than announced: a larger table, the keys placed again.
    const std::vector<TKey> keys = std::move(FKeys);
    Reset(keys.size() + 1, FCaseInsensitive, FPairs);
    for (const TKey& k : keys) Add(k.A, k.B, k.Position);
  }
  TSlot slot;
  slot.Hash = hash;
  slot.Word0 = HeadWord(key.A);
  slot.Word1 = key.A.size() > 8 ? HeadWord(std::string_view(key.A).substr(8)) : 0;
  slot.Length = static_cast<uint32_t>(key.A.size());
  slot.Position = Position;
  FKeys.push_back(std::move(key));
  slot.Entry = static_cast<uint32_t>(FKeys.size());
  size_t s = hash >> FShift;
  while (FSlots[s].Entry != 0) s = (s + 1) & FMask;
  FSlots[s] = slot;
}

int32_t TIB_NameIndex::Find(std::string_view A, std::string_view B) const {
  if (!FCaseInsensitive) return Probe(Hash(A, FPairs ? B : std::string_view()), A, FPairs ? B : std::string_view());
  const std::string a = UpperCase(A);
  const std::string b = FPairs ? UpperCase(B) : std::string();
  return Probe(Hash(a, b), a, b);
}
