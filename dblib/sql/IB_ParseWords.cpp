// The words of a statement: control characters as blanks, the leading words of a command text, and the
// words of a FROM clause with the relation a qualifier stands for.
#include <cctype>

#include "dblib/sql/IB_Parse.h"
#include "platform/SysUtils.h"

std::string BlankControlChars(std::string S) {
  for (char& c : S) {
    if (static_cast<unsigned char>(c) < ' ') c = ' ';
  }
  return S;
}

std::vector<std::string> SQLWords(std::string_view S, size_t Max) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < S.size() && words.size() < Max) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    if (S.compare(i, 2, "/*") == 0) {
      const size_t e = S.find("*/", i + 2);
      i = e == std::string_view::npos ? S.size() : e + 2;
    } else if (S.compare(i, 2, "--") == 0) {
      const size_t e = S.find('\n', i);
      i = e == std::string_view::npos ? S.size() : e + 1;
    } else if (std::isalnum(c) || c == '_' || c == '$') {
      size_t j = i;
      while (j < S.size() && (std::isalnum(static_cast<unsigned char>(S[j])) || S[j] == '_' || S[j] == '$')) ++j;
      words.push_back(UpperCase(S.substr(i, j - i)));
      i = j;
    } else if (c == '\'' || c == '"') {
      const size_t e = S.find(static_cast<char>(c), i + 1);
      words.emplace_back("?");
      i = e == std::string_view::npos ? S.size() : e + 1;
    } else {
      ++i;
    }
  }
  return words;
}

std::vector<std::string> FromClauseWords(std::string_view From) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < From.size()) {
    const char c = From[i];
    if (static_cast<unsigned char>(c) <= ' ') {
      ++i;
    } else if (c == ',' || c == '(' || c == ')') {
      words.emplace_back(1, c);
      ++i;
    } else {
      size_t e = i;
      if (c == '"') {
        e = From.find('"', i + 1);
        e = e == std::string_view::npos ? From.size() : e + 1;
      } else {
        while (e < From.size() && static_cast<unsigned char>(From[e]) > ' ' && From[e] != ',' && From[e] != '(' &&
               From[e] != ')' && From[e] != '"')
          ++e;
      }
      words.emplace_back(From.substr(i, e - i));
      i = e;
    }
  }
  return words;
}

namespace {

bool SameName(std::string_view A, std::string_view B) {
  const bool quoted = (!A.empty() && A[0] == '"') || (!B.empty() && B[0] == '"');
  return quoted ? A == B : SameText(A, B);
}

}  // namespace

std::string QualifiedRelation(std::string_view SQL, std::string_view Qualifier) {
  const std::string from = GetSQLFrom(SQL);
  const std::vector<std::string> w = FromClauseWords(from);
  for (size_t k = 1; k < w.size(); ++k) {
    // A relation follows FROM, JOIN or a comma; its alias follows it (after AS or not).
    if (!SameText(w[k - 1], "FROM") && !SameText(w[k - 1], "JOIN") && w[k - 1] != ",") continue;
    const std::string& relation = w[k];
    if (relation == "(" || IsReservedWord(relation)) continue;
    if (SameName(relation, Qualifier)) return relation;
    size_t a = k + 1;
    if (a < w.size() && SameText(w[a], "AS")) ++a;
    if (a < w.size() && w[a] != "," && w[a] != "(" && !IsReservedWord(w[a]) && SameName(w[a], Qualifier))
      return relation;
  }
  return std::string();
}
