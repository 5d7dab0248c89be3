#include "dblib/data/IB_RowNames.h"

#include <algorithm>
#include <cstring>

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

bool NameTaken(const std::vector<std::string>& Names, size_t Except, const std::string& Name) {
  for (size_t i = 0; i < Names.size(); ++i) {
    if (i != Except && CompareText(Names[i], Name) == 0) return true;
  }
  return false;
}

}  // namespace

void MakeNamesUnique(std::vector<std::string>& Names, const std::vector<std::string>& Bases, size_t Limit) {
  for (size_t i = 0; i < Names.size(); ++i) {
    int k = 0;
    for (size_t j = i + 1; j < Names.size(); ++j) {
      if (CompareText(Names[j], Names[i]) != 0) continue;
      // Keep counting until the name is free, so that a renamed column never meets another name.
      std::string name;
      do {
        name = Candidate(Bases[j], ++k, Limit);
      } while (NameTaken(Names, j, name));
      Names[j] = name;
    }
  }
}
