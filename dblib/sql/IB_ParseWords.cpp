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

bool SelectsDistinct(std::string_view Select) {
  // Tokens outside literals and comments; for each open parenthesis whether a sub-select stands in it.
  std::vector<bool> subSelect;
  int32_t inSubSelect = 0;
  std::string last;  // the token before, a word upper-cased
  size_t i = 0;
  const size_t n = Select.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(Select[i]);
    std::string token;
    if (Select.compare(i, 2, "/*") == 0) {
      const size_t e = Select.find("*/", i + 2);
      i = e == std::string_view::npos ? n : e + 2;
      continue;
    }
    if (Select.compare(i, 2, "--") == 0 || Select.compare(i, 2, "//") == 0) {
      while (i < n && Select[i] != '\n' && Select[i] != '\r') ++i;
      continue;
    }
    if (c <= ' ') {
      ++i;
      continue;
    }
    if (c == '\'' || c == '"') {
      const size_t e = Select.find(static_cast<char>(c), i + 1);
      i = e == std::string_view::npos ? n : e + 1;
      token = "?";
    } else if (std::isalnum(c) || c == '_' || c == '$') {
      size_t j = i;
      while (j < n && (std::isalnum(static_cast<unsigned char>(Select[j])) || Select[j] == '_' || Select[j] == '$')) ++j;
      token = UpperCase(Select.substr(i, j - i));
      i = j;
    } else {
      token.assign(1, static_cast<char>(c));
      ++i;
    }
    if (token == "(") {
      subSelect.push_back(false);
    } else if (token == ")") {
      if (!subSelect.empty()) {
        if (subSelect.back()) --inSubSelect;
        subSelect.pop_back();
      }
    } else if (token == "SELECT" && last == "(" && !subSelect.empty() && !subSelect.back()) {
      subSelect.back() = true;
      ++inSubSelect;
    } else if (token == "DISTINCT" && inSubSelect == 0 && last != "IS" && last != "NOT") {
      // SELECT DISTINCT, or the DISTINCT of an aggregate's argument; not IS [NOT] DISTINCT FROM.
      return true;
    }
    last = std::move(token);
  }
  return false;
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

// A name as the engine keeps it: a quoted one without its quotes, any other upper-cased.
std::string EngineName(std::string_view Name) {
  if (Name.size() >= 2 && Name.front() == '"' && Name.back() == '"') {
    std::string bare;
    StripQuotes(Name, bare);
    return bare;
  }
  return UpperCase(Name);
}

// A relation's name as a statement writes it stands for the same relation as Relation.
bool NamesRelation(std::string_view Written, std::string_view Relation) {
  return EngineName(Written) == EngineName(Relation);
}

bool IsSourceLead(const std::string& W) { return SameText(W, "FROM") || SameText(W, "JOIN") || W == ","; }

// The index of the ")" that closes the "(" at Open, or W.size().
size_t ClosingParen(const std::vector<std::string>& W, size_t Open) {
  int depth = 0;
  for (size_t k = Open; k < W.size(); ++k) {
    if (W[k] == "(") ++depth;
    if (W[k] == ")" && --depth == 0) return k;
  }
  return W.size();
}

// The alias after a FROM item whose last word is at K - 1: the word at K (after an AS), when it is a name.
std::string AliasAt(const std::vector<std::string>& W, size_t K) {
  if (K < W.size() && SameText(W[K], "AS")) ++K;
  if (K >= W.size() || W[K] == "," || W[K] == "(" || W[K] == ")") return std::string();
  // The words of a join and of the clauses that may follow a FROM item.
  for (const char* w : {"LEFT", "RIGHT", "FULL", "INNER", "OUTER", "CROSS", "NATURAL", "JOIN", "ON", "USING",
                        "WHERE", "GROUP", "HAVING", "UNION", "PLAN", "ORDER", "ROWS", "OFFSET", "FETCH", "FOR",
                        "WITH"}) {
    if (SameText(W[K], w)) return std::string();
  }
  return W[K];
}

}  // namespace

bool IsPlainColumnReference(std::string_view Item) {
  std::string_view t = Item;
  while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
  while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ') t.remove_suffix(1);
  size_t i = 0, parts = 0;
  const size_t n = t.size();
  while (i < n) {
    if (t[i] == '"') {
      // A quoted name, inner quotes doubled.
      size_t j = i + 1;
      for (;;) {
        if (j >= n) return false;
        if (t[j] == '"') {
          if (j + 1 < n && t[j + 1] == '"') {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      if (j == i + 1) return false;
      i = j + 1;
    } else {
      const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
      if (!isLetter(t[i])) return false;
      while (i < n && (isLetter(t[i]) || (t[i] >= '0' && t[i] <= '9') || t[i] == '_' || t[i] == '$')) ++i;
    }
    ++parts;
    if (i == n) break;
    if (t[i] != '.' || parts == 2) return false;
    ++i;
    if (i == n) return false;
  }
  return parts > 0;
}

std::string FromClauseQualifier(std::string_view SQL, std::string_view Relation) {
  const std::vector<std::string> w = FromClauseWords(GetSQLFrom(SQL));
  struct TItem {
    std::string Name;  // as written; empty for a derived table
    std::string Alias;
    bool Holds = false;  // a derived table that reads Relation
  };
  std::vector<TItem> items;
  bool lead = false;
  for (size_t k = 0; k < w.size(); ++k) {
    if (IsSourceLead(w[k])) {
      lead = true;
      continue;
    }
    if (!lead) {
      // Conditions of a join and a procedure's arguments: parenthesised parts are passed over whole.
      if (w[k] == "(") k = ClosingParen(w, k);
      continue;
    }
    lead = false;
    TItem item;
    size_t next = k + 1;
    if (w[k] == "(") {
      const size_t close = ClosingParen(w, k);
      for (size_t j = k + 1; j + 1 < close; ++j) {
        if (IsSourceLead(w[j]) && NamesRelation(w[j + 1], Relation)) item.Holds = true;
      }
      next = close + 1;
    } else {
      item.Name = w[k];
      // A selectable procedure's arguments.
      if (next < w.size() && w[next] == "(") next = ClosingParen(w, next) + 1;
    }
    item.Alias = AliasAt(w, next);
    k = next - 1;
    items.push_back(std::move(item));
  }
  for (const TItem& i : items) {
    if (!i.Name.empty() && NamesRelation(i.Name, Relation)) return i.Alias.empty() ? i.Name : i.Alias;
  }
  for (const TItem& i : items) {
    if (i.Holds && !i.Alias.empty()) return i.Alias;
  }
  // One item (a WITH query's name, a view over the relation): the columns are its columns.
  if (items.size() == 1) return items[0].Alias.empty() ? items[0].Name : items[0].Alias;
  return std::string();
}

bool RelationNamedOutsideSelectList(std::string_view SQL, std::string_view Relation) {
  // The statement without its select list: its FROM clause with the derived tables in it, its WITH list
  // and its conditions' sub-selects.
  std::string s(SQL);
  SetSQLSelect(s, "SELECT 1");
  const std::vector<std::string> w = FromClauseWords(s);
  for (size_t k = 1; k < w.size(); ++k) {
    if (IsSourceLead(w[k - 1]) && NamesRelation(w[k], Relation)) return true;
  }
  return false;
}

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
