// The scanner, the clause search and the clause locators, getters and setters, statement kinds,
// statement builders and database commands.
#include "dblib/sql/IB_Parse.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "dblib/sql/IB_ParseInternal.h"
#include "platform/SysUtils.h"

namespace ib_parse {

bool IsParamNameChar(char Ch) {
  unsigned char u = static_cast<unsigned char>(Ch);
  return (Ch >= 'A' && Ch <= 'Z') || (Ch >= 'a' && Ch <= 'z') || (Ch >= '0' && Ch <= '9') || Ch == '_' || Ch == '$' ||
         Ch == '.' || u >= 128;
}

std::string NextWord(std::string_view S, size_t& P) {
  const size_t n = S.size();
  for (;;) {
    while (P < n && static_cast<unsigned char>(S[P]) <= ' ') ++P;
    if (P + 1 < n && S[P] == '/' && S[P + 1] == '*') {
      size_t e = S.find("*/", P + 2);
      P = e == std::string_view::npos ? n : e + 2;
    } else if (P + 1 < n && ((S[P] == '/' && S[P + 1] == '/') || (S[P] == '-' && S[P + 1] == '-'))) {
      while (P < n && S[P] != '\n' && S[P] != '\r') ++P;
    } else {
      break;
    }
  }
  size_t start = P;
  while (P < n && (std::isalnum(static_cast<unsigned char>(S[P])) || S[P] == '_' || S[P] == '$')) ++P;
  return UpperCase(S.substr(start, P - start));
}

}  // namespace ib_parse

using ib_parse::NextWord;

namespace {

constexpr const char* CRLF = "\r\n";

inline char Up(char Ch) { return (Ch >= 'a' && Ch <= 'z') ? static_cast<char>(Ch - 32) : Ch; }

// W at Pos (case-insensitive, wholly within Limit); with NeedTrailing the character after it, when within
// Limit, must be a word delimiter.
bool MatchAt(std::string_view S, int32_t Pos, std::string_view W, int32_t Limit, bool NeedTrailing) {
  const int32_t m = static_cast<int32_t>(W.size());
  if (m == 0 || Pos + m - 1 > Limit) return false;
  for (int32_t k = 0; k < m; ++k) {
    if (Up(S[Pos - 1 + k]) != Up(W[k])) return false;
  }
  if (NeedTrailing && Pos + m <= Limit && !IsSQLWordDelimiter(S[Pos - 1 + m])) return false;
  return true;
}

// The row limits (ROWS n [TO m], OFFSET n ROWS, FETCH FIRST n ROWS ONLY) follow the ORDER BY and end
// every clause before them. WITH LOCK, with or without a FOR UPDATE before it, ends the statement: a WITH
// ends a clause only as the WITH of WITH LOCK (not the one of STARTING WITH).
const std::vector<std::string> kSelectTerms{"FROM", "WHERE", "GROUP", "HAVING", "UNION", "PLAN", "ORDER", "FOR", ";"};
const std::vector<std::string> kFromTerms{"WHERE", "GROUP", "HAVING", "UNION", "PLAN", "ORDER",
                                          "ROWS",  "OFFSET", "FETCH", "FOR",   "WITH", ";"};
const std::vector<std::string> kWhereTerms{"ORDER", "GROUP", "HAVING", "UNION", "PLAN", "ROWS",
                                           "OFFSET", "FETCH", "FOR",   "WITH",  ";"};
const std::vector<std::string> kGroupTerms{"HAVING", "UNION", "PLAN", "ORDER", "ROWS",
                                           "OFFSET", "FETCH", "FOR",  "WITH",  ";"};
const std::vector<std::string> kHavingTerms{"UNION", "PLAN", "ORDER", "ROWS", "OFFSET", "FETCH", "FOR", "WITH", ";"};
const std::vector<std::string> kUnionTerms{"PLAN", "ORDER", "ROWS", "OFFSET", "FETCH", "FOR", "WITH", ";"};
const std::vector<std::string> kPlanTerms{"ORDER", "ROWS", "OFFSET", "FETCH", "FOR", "WITH", ";"};
const std::vector<std::string> kOrderTerms{"ROWS", "OFFSET", "FETCH", "FOR", "WITH", ";"};
const std::vector<std::string> kLimitTerms{"FOR", "WITH", ";"};
const std::vector<std::string> kForTerms{";"};
const std::vector<std::string> kLockTerms{";"};

bool IsWordChar(char Ch) {
  return (Ch >= 'A' && Ch <= 'Z') || (Ch >= 'a' && Ch <= 'z') || (Ch >= '0' && Ch <= '9') || Ch == '_' || Ch == '$';
}

// The positions (1-based) of the FORs that belong to NEXT VALUE FOR expressions, in order: the three
// words outside strings and comments, at any depth of parentheses, with blanks or comments between them
// as the word reader takes them.
std::vector<int32_t> NextValueForPositions(std::string_view SQL) {
  // A parenthesis among the terms stops the scanner counting them; the stops at '(' are passed over.
  static const std::vector<std::string> kNext{"NEXT", "("};
  std::vector<int32_t> r;
  std::string matched;
  for (int32_t from = 1;;) {
    int32_t s = from, e = 0;
    if (!FindSQLClause(SQL, "", false, kNext, s, e, matched, true, false)) return r;
    from = e + 1;
    if (matched != "NEXT" || (e > 1 && IsWordChar(SQL[static_cast<size_t>(e - 2)]))) continue;
    size_t p = static_cast<size_t>(e - 1);
    if (NextWord(SQL, p) == "NEXT" && NextWord(SQL, p) == "VALUE" && NextWord(SQL, p) == "FOR") {
      r.push_back(static_cast<int32_t>(p) - 2);
      from = static_cast<int32_t>(p) + 1;
    }
  }
}

// The FOR at Pos (1-based) belongs to a NEXT VALUE FOR expression, not to a FOR UPDATE clause. Positions
// holds NextValueForPositions(SQL) once made.
bool IsNextValueFor(std::string_view SQL, int32_t Pos, std::optional<std::vector<int32_t>>& Positions) {
  if (!Positions) Positions = NextValueForPositions(SQL);
  return std::binary_search(Positions->begin(), Positions->end(), Pos);
}

// The word that ends right before Pos (1-based), across blanks and block comments; empty when something
// else stands there.
std::string_view PrecedingWord(std::string_view SQL, int32_t Pos) {
  size_t b = static_cast<size_t>(std::max(Pos - 1, 0));
  for (;;) {
    while (b > 0 && static_cast<unsigned char>(SQL[b - 1]) <= ' ') --b;
    if (b < 2 || SQL[b - 1] != '/' || SQL[b - 2] != '*') break;
    const size_t open = b >= 3 ? SQL.rfind("/*", b - 3) : std::string_view::npos;
    if (open == std::string_view::npos) break;
    b = open;
  }
  size_t w = b;
  while (w > 0 && IsWordChar(SQL[w - 1])) --w;
  return SQL.substr(w, b - w);
}

// The WITH at Pos (1-based) begins the lock clause WITH LOCK: the two words, with nothing behind them but
// blanks, comments and ';' (the clause ends a SELECT), and no STARTING right before the WITH.
bool IsLockClauseAt(std::string_view SQL, int32_t Pos) {
  size_t p = static_cast<size_t>(Pos - 1);
  if (NextWord(SQL, p) != "WITH" || NextWord(SQL, p) != "LOCK") return false;
  for (;;) {
    if (!NextWord(SQL, p).empty()) return false;
    if (p >= SQL.size()) break;
    if (SQL[p] != ';') return false;
    ++p;
  }
  return !SameText(PrecedingWord(SQL, Pos), "STARTING");
}

// The FROM at Pos (1-based) is the one of IS [NOT] DISTINCT FROM, a comparison, not a FROM clause.
bool IsDistinctFromAt(std::string_view SQL, int32_t Pos) { return SameText(PrecedingWord(SQL, Pos), "DISTINCT"); }

void Locate(std::string_view SQL, std::string_view Keyword, const std::vector<std::string>& Terms, int32_t& StartPos,
            int32_t& EndPos, bool MustBeFirst) {
  StartPos = 0;
  EndPos = 0;
  std::string matched;
  std::optional<std::vector<int32_t>> nextValueFors;
  int32_t from = 0;
  for (;;) {
    StartPos = from;
    EndPos = 0;
    FindSQLClause(SQL, Keyword, MustBeFirst, Terms, StartPos, EndPos, matched, false, false);
    if (StartPos == 0) {
      EndPos = 0;
      return;
    }
    // A NEXT VALUE FOR is an expression: the search goes on behind its FOR; likewise behind a WITH that
    // begins no lock clause and behind the FROM of IS [NOT] DISTINCT FROM.
    if (Keyword == "FOR" && IsNextValueFor(SQL, StartPos, nextValueFors)) {
      from = StartPos + 3;
      continue;
    }
    if ((Keyword == "WITH" && !IsLockClauseAt(SQL, StartPos)) || (Keyword == "FROM" && IsDistinctFromAt(SQL, StartPos))) {
      from = StartPos + 4;
      continue;
    }
    break;
  }
  for (;;) {
    int32_t skip = 0;
    if (matched == "FOR" && IsNextValueFor(SQL, EndPos, nextValueFors)) {
      skip = 3;
    } else if ((matched == "WITH" && !IsLockClauseAt(SQL, EndPos)) || (matched == "FROM" && IsDistinctFromAt(SQL, EndPos))) {
      skip = 4;
    } else {
      break;
    }
    int32_t s = EndPos + skip, e = 0;
    FindSQLClause(SQL, "", false, Terms, s, e, matched, false, false);
    EndPos = e;
  }
}

// The lock clause WITH LOCK that stands alone (without a FOR UPDATE before it, whose clause holds it).
void LocateLock(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "WITH", kLockTerms, StartPos, EndPos, false);
}

// A clause of the first SELECT is never taken from the part behind UNION.
void DiscardInsideUnion(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  if (StartPos == 0) return;
  int32_t us, ue;
  LocateSQLUnion(SQL, us, ue);
  if (us > 0 && StartPos > us && EndPos <= ue) StartPos = EndPos = 0;
}

enum TClause { clSelect, clFrom, clWhere, clGroup, clHaving, clUnion, clPlan, clOrder, clFor };

void LocateClause(TClause C, std::string_view SQL, int32_t& S, int32_t& E) {
  switch (C) {
    case clSelect: LocateSQLSelect(SQL, S, E, false); break;
    case clFrom: LocateSQLFrom(SQL, S, E); break;
    case clWhere: LocateSQLWhere(SQL, S, E); break;
    case clGroup: LocateSQLGroup(SQL, S, E); break;
    case clHaving: LocateSQLHaving(SQL, S, E); break;
    case clUnion: LocateSQLUnion(SQL, S, E); break;
    case clPlan: LocateSQLPlan(SQL, S, E); break;
    case clOrder: LocateSQLOrder(SQL, S, E); break;
    case clFor: LocateSQLForUpdate(SQL, S, E); break;
  }
}

std::string GetClause(TClause C, std::string_view SQL) {
  int32_t s, e;
  LocateClause(C, SQL, s, e);
  if (s == 0) return std::string();
  return Trim(SQL.substr(static_cast<size_t>(s - 1), static_cast<size_t>(e - s)));
}

void SetClause(TClause C, std::string& SQL, std::string_view NewClause) {
  int32_t s, e;
  LocateClause(C, SQL, s, e);
  if (s > 0) {
    ReplaceSQLRange(SQL, NewClause, s, e);
    return;
  }
  if (Trim(NewClause).empty()) return;  // nothing to remove
  if (C == clFor) {
    // A FOR UPDATE goes before a WITH LOCK.
    LocateLock(SQL, s, e);
    if (s > 0) {
      ReplaceSQLRange(SQL, NewClause, s, s);
      return;
    }
    SQL += CRLF;
    SQL += NewClause;
    return;
  }
  if (C == clSelect) {
    LocateSQLFrom(SQL, s, e);
    ReplaceSQLRange(SQL, NewClause, 0, s > 0 ? s : 1);
    return;
  }
  for (int k = static_cast<int>(C) - 1; k >= 0; --k) {
    LocateClause(static_cast<TClause>(k), SQL, s, e);
    if (s > 0) {
      ReplaceSQLRange(SQL, NewClause, e, e);
      return;
    }
  }
  ReplaceSQLRange(SQL, NewClause, 0, 1);
}

bool ContainsLineCommentOrOr(std::string_view A, std::string_view B) {
  for (std::string_view s : {A, B}) {
    if (s.find("//") != std::string_view::npos || s.find("--") != std::string_view::npos) return true;
    if (UpperCase(s).find("OR") != std::string::npos) return true;
  }
  return false;
}

// The statement limits its rows (ROWS, OFFSET, FETCH) behind its last clause.
bool HasRowLimit(std::string_view SQL) {
  for (const char* w : {"ROWS", "OFFSET", "FETCH"}) {
    int32_t s, e;
    Locate(SQL, w, kLimitTerms, s, e, false);
    if (s > 0) return true;
  }
  return false;
}

// The first word of the select list, after the SELECT at StartPos.
std::string FirstSelectWord(std::string_view SQL) {
  int32_t s, e;
  LocateSQLSelect(SQL, s, e, false);
  if (s == 0) return std::string();
  size_t p = static_cast<size_t>(s - 1 + 6);
  return NextWord(SQL.substr(0, static_cast<size_t>(e - 1)), p);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Scanner

bool IsSQLWordDelimiter(char Ch) { return static_cast<unsigned char>(Ch) < 33 || Ch == '(' || Ch == ')' || Ch == ';'; }

bool IsNameDelimiter(char Ch) {
  if (static_cast<unsigned char>(Ch) < 33) return true;
  switch (Ch) {
    case '!':
    case '(':
    case ')':
    case '*':
    case ',':
    case '/':
    case ':':
    case ';':
    case '<':
    case '=':
    case '>':
    case '?': return true;
    default: return false;
  }
}

void ScanSQLChar(std::string_view S, int32_t& Pos, bool& InSingle, int32_t& Skip, int32_t& BracketDepth,
                 int32_t& ParenDepth, bool& InBlockComment, bool& InLineComment, bool& InDouble) {
  Skip = 0;
  const int32_t n = static_cast<int32_t>(S.size());
  if (Pos < 1 || Pos > n) return;
  const char c = S[Pos - 1];
  const char next = Pos < n ? S[Pos] : '\0';
  if (InLineComment) {
    if (c == '\n' || c == '\r') InLineComment = false;
    return;
  }
  if (InBlockComment) {
    if (c == '*' && next == '/') {
      InBlockComment = false;
      Skip = 1;
    }
    return;
  }
  if (InSingle) {
    if (c == '\'') InSingle = false;
    return;
  }
  if (InDouble) {
    if (c == '"') InDouble = false;
    return;
  }
  switch (c) {
    case '\'': InSingle = true; break;
    case '"': InDouble = true; break;
    case '/':
      if (next == '/') {
        InLineComment = true;
        Skip = 1;
      } else if (next == '*') {
        InBlockComment = true;
        Skip = 1;
      }
      break;
    case '-':
      if (next == '-') {
        InLineComment = true;
        Skip = 1;
      }
      break;
    case '(':
      if (ParenDepth >= 0) ++ParenDepth;
      break;
    case ')':
      if (ParenDepth >= 0) --ParenDepth;
      break;
    case '[':
      if (BracketDepth >= 0) ++BracketDepth;
      break;
    case ']':
      if (BracketDepth >= 0) --BracketDepth;
      break;
    default: break;
  }
}

bool FindSQLClause(std::string_view SQL, std::string_view Keyword, bool MustBeFirst,
                   const std::vector<std::string>& Terminators, int32_t& StartPos, int32_t& EndPos,
                   std::string& Matched, bool AnyPosition, bool NextWordOnly) {
  Matched.clear();
  if (SQL.empty()) return false;
  const int32_t n = static_cast<int32_t>(SQL.size());
  const int32_t limit = (EndPos <= 0 || EndPos > n) ? n : EndPos;
  int32_t pos = StartPos <= 0 ? 1 : StartPos;
  StartPos = 0;

  bool freezeParen = false, freezeBracket = false, quotedTerms = false;
  std::vector<bool> needTrailing;
  needTrailing.reserve(Terminators.size());
  for (const std::string& t : Terminators) {
    if (t == "(" || t == ")") freezeParen = true;
    if (t == "[" || t == "]") freezeBracket = true;
    if (IsQuoted(t, ' ')) quotedTerms = true;
    needTrailing.push_back(!(AnyPosition || (t.size() == 1 && IsSQLWordDelimiter(t[0]))));
  }

  bool inSingle = false, inDouble = false, inBlock = false, inLine = false, afterComment = false;
  int32_t skip = 0, bracket = freezeBracket ? -1 : 0, paren = freezeParen ? -1 : 0;
  bool found = Keyword.empty();
  if (found) StartPos = pos;

  while (pos <= limit) {
    const bool wasComment = inBlock || inLine;
    ScanSQLChar(SQL, pos, inSingle, skip, bracket, paren, inBlock, inLine, inDouble);
    const char c = SQL[pos - 1];
    const bool candidate = !wasComment && !inBlock && !inLine && paren <= 0 &&
                           (!(inSingle || inDouble) || (found && quotedTerms)) &&
                           (pos == 1 || (AnyPosition && found) || IsSQLWordDelimiter(c) ||
                            IsSQLWordDelimiter(SQL[pos - 2]) || afterComment);
    afterComment = wasComment && !inBlock && !inLine;
    if (candidate) {
      if (found) {
        for (size_t k = 0; k < Terminators.size(); ++k) {
          if (MatchAt(SQL, pos, Terminators[k], limit, needTrailing[k])) {
            EndPos = pos;
            Matched = Terminators[k];
            return true;
          }
        }
        if (NextWordOnly && !IsSQLWordDelimiter(c)) {
          found = false;
          StartPos = 0;
        }
      }
      if (!found) {
        if (MatchAt(SQL, pos, Keyword, limit, true)) {
          StartPos = pos;
          found = true;
          pos += static_cast<int32_t>(Keyword.size());
          continue;
        }
        if (MustBeFirst && !IsSQLWordDelimiter(c)) {
          EndPos = limit + 1;
          return false;
        }
      }
    }
    pos += 1 + skip;
  }
  EndPos = limit + 1;
  return false;
}

// ---------------------------------------------------------------------------------------------------------
// Locators, getters and setters

void LocateSQLSelect(std::string_view SQL, int32_t& StartPos, int32_t& EndPos, bool MustBeFirst) {
  // The queries of a leading WITH list stand in parentheses: the statement's own SELECT is the first one
  // outside them.
  size_t p = 0;
  if (MustBeFirst && NextWord(SQL, p) == "WITH") MustBeFirst = false;
  Locate(SQL, "SELECT", kSelectTerms, StartPos, EndPos, MustBeFirst);
  // The SELECT of a stored procedure's or trigger's body is not the statement's.
  if (StartPos >= 2 && IsProcedureOrTriggerDDL(SQL.substr(0, static_cast<size_t>(StartPos - 1)))) {
    StartPos = EndPos = 0;
  }
}

void LocateSQLFrom(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "FROM", kFromTerms, StartPos, EndPos, false);
  DiscardInsideUnion(SQL, StartPos, EndPos);
}

void LocateSQLWhere(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "WHERE", kWhereTerms, StartPos, EndPos, false);
  DiscardInsideUnion(SQL, StartPos, EndPos);
}

void LocateSQLGroup(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "GROUP", kGroupTerms, StartPos, EndPos, false);
  DiscardInsideUnion(SQL, StartPos, EndPos);
}

void LocateSQLHaving(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "HAVING", kHavingTerms, StartPos, EndPos, false);
  DiscardInsideUnion(SQL, StartPos, EndPos);
}

void LocateSQLUnion(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "UNION", kUnionTerms, StartPos, EndPos, false);
}

void LocateSQLPlan(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "PLAN", kPlanTerms, StartPos, EndPos, false);
}

void LocateSQLOrder(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "ORDER", kOrderTerms, StartPos, EndPos, false);
}

void LocateSQLForUpdate(std::string_view SQL, int32_t& StartPos, int32_t& EndPos) {
  Locate(SQL, "FOR", kForTerms, StartPos, EndPos, false);
}

std::string GetSQLSelect(std::string_view SQL) {
  int32_t s, e;
  LocateSQLSelect(SQL, s, e, true);
  // SELECT must be the first word, so an INSERT ... SELECT or a GRANT SELECT never gets here.
  if (s == 0) return std::string();
  return Trim(SQL.substr(static_cast<size_t>(s - 1), static_cast<size_t>(e - s)));
}

bool HasSQLLock(std::string_view SQL) {
  int32_t s, e;
  LocateLock(SQL, s, e);
  return s > 0;
}

void RemoveSQLLock(std::string& SQL) {
  int32_t s, e;
  LocateLock(SQL, s, e);
  if (s > 0) ReplaceSQLRange(SQL, "", s, e);
}

std::string GetSQLFrom(std::string_view SQL) { return GetClause(clFrom, SQL); }
std::string GetSQLWhere(std::string_view SQL) { return GetClause(clWhere, SQL); }
std::string GetSQLGroup(std::string_view SQL) { return GetClause(clGroup, SQL); }
std::string GetSQLHaving(std::string_view SQL) { return GetClause(clHaving, SQL); }
std::string GetSQLUnion(std::string_view SQL) { return GetClause(clUnion, SQL); }
std::string GetSQLPlan(std::string_view SQL) { return GetClause(clPlan, SQL); }
std::string GetSQLOrder(std::string_view SQL) { return GetClause(clOrder, SQL); }
std::string GetSQLForUpdate(std::string_view SQL) { return GetClause(clFor, SQL); }

void SetSQLSelect(std::string& SQL, std::string_view NewClause) { SetClause(clSelect, SQL, NewClause); }
void SetSQLFrom(std::string& SQL, std::string_view NewClause) { SetClause(clFrom, SQL, NewClause); }
void SetSQLWhere(std::string& SQL, std::string_view NewClause) { SetClause(clWhere, SQL, NewClause); }
void SetSQLGroup(std::string& SQL, std::string_view NewClause) { SetClause(clGroup, SQL, NewClause); }
void SetSQLHaving(std::string& SQL, std::string_view NewClause) { SetClause(clHaving, SQL, NewClause); }
void SetSQLUnion(std::string& SQL, std::string_view NewClause) { SetClause(clUnion, SQL, NewClause); }
void SetSQLPlan(std::string& SQL, std::string_view NewClause) { SetClause(clPlan, SQL, NewClause); }
void SetSQLOrder(std::string& SQL, std::string_view NewClause) { SetClause(clOrder, SQL, NewClause); }
void SetSQLForUpdate(std::string& SQL, std::string_view NewClause) { SetClause(clFor, SQL, NewClause); }

void ReplaceSQLRange(std::string& SQL, std::string_view NewText, int32_t StartPos, int32_t EndPos) {
  const int32_t n = static_cast<int32_t>(SQL.size());
  std::string result;
  if (StartPos != 0) {
    result = Trim(std::string_view(SQL).substr(0, static_cast<size_t>(std::clamp(StartPos - 1, 0, n))));
    result += CRLF;
  }
  result += Trim(NewText);
  result += CRLF;
  if (EndPos != 0) result += Trim(std::string_view(SQL).substr(static_cast<size_t>(std::clamp(EndPos - 1, 0, n))));
  SQL = std::move(result);
}

// ---------------------------------------------------------------------------------------------------------
// Statement kinds

bool IsProcedureOrTriggerDDL(std::string_view S) {
  size_t p = 0;
  std::string w = NextWord(S, p);
  std::string obj;
  if (w == "EXECUTE") return NextWord(S, p) == "BLOCK";
  if (w == "CREATE") {
    obj = NextWord(S, p);
    if (obj == "OR") {
      if (NextWord(S, p) != "ALTER") return false;
      obj = NextWord(S, p);
    }
  } else if (w == "ALTER" || w == "RECREATE") {
    obj = NextWord(S, p);
  } else {
    return false;
  }
  return obj == "PROCEDURE" || obj == "TRIGGER" || obj == "FUNCTION" || obj == "PACKAGE";
}

bool IsInsertInto(std::string_view S) {
  size_t p = 0;
  return NextWord(S, p) == "INSERT" && NextWord(S, p) == "INTO";
}

bool IsGrantOrRevokeSelect(std::string_view S) {
  size_t p = 0;
  std::string w = NextWord(S, p);
  if (w != "REVOKE" && w != "GRANT") return false;
  return UpperCase(S.substr(p)).find("SELECT") != std::string::npos;
}

// ---------------------------------------------------------------------------------------------------------
// Statement builders

namespace {

// Calls Marker(Pos) for each parameter marker '?' of SQL (1-based, outside strings, quoted names,
// comments and brackets) and Comment(Pos, Width) for each block comment opener (Width characters); the
// scan goes on behind what Comment returns, and when that is more than Width, Comment took the whole
// comment.
template <class M, class C>
void ScanMarkers(std::string_view SQL, M&& Marker, C&& Comment) {
  bool inSingle = false, inDouble = false, inBlock = false, inLine = false;
  int32_t skip = 0, bracket = 0, paren = 0;
  const int32_t n = static_cast<int32_t>(SQL.size());
  for (int32_t pos = 1; pos <= n;) {
    const bool wasBlock = inBlock, wasLine = inLine;
    ScanSQLChar(SQL, pos, inSingle, skip, bracket, paren, inBlock, inLine, inDouble);
    const int32_t width = 1 + skip;
    if (!wasBlock && inBlock) {
      const int32_t taken = Comment(pos, width);
      if (taken > width) inBlock = false;
      pos += taken;
      continue;
    }
    if (!wasBlock && !inBlock && !wasLine && !inLine && !inSingle && !inDouble && bracket <= 0 && SQL[pos - 1] == '?') {
      Marker(pos);
    }
    pos += width;
  }
}

// The tag MakeRecordCountSQL puts in front of each marker to tell them apart: a block comment the clause
// routines pass over as they pass over any comment. In front, not behind: a comment ends a word, and a
// word that follows the marker must stay as the clause routines read it without the tag (a '?' does not
// end one), while the marker itself starts no clause either way. Behind a '/' the tag starts with a blank
// (kSpacedTag), or the two would read as a line comment.
constexpr std::string_view kMarkerTag = "/*#";
constexpr std::string_view kSpacedTag = " /*~";

std::string TagMarkers(std::string_view SQL) {
  std::string out;
  out.reserve(SQL.size() + 16);
  int32_t number = 0;
  size_t copied = 0;
  ScanMarkers(
      SQL,
      [&](int32_t Pos) {
        const size_t at = static_cast<size_t>(Pos - 1);
        out.append(SQL.substr(copied, at - copied));
        copied = at;
        out += at > 0 && SQL[at - 1] == '/' ? kSpacedTag : kMarkerTag;
        out += IntToStr(number++);
        out += "#*/";
      },
      [](int32_t, int32_t Width) { return Width; });
  out.append(SQL.substr(copied));
  return out;
}

// Takes the tags out of SQL again and lists the numbers of the markers it holds, in order.
void UntagMarkers(std::string& SQL, std::vector<int32_t>& Kept) {
  std::string out;
  out.reserve(SQL.size());
  size_t copied = 0;
  ScanMarkers(
      SQL, [](int32_t) {},
      [&](int32_t Pos, int32_t Width) -> int32_t {
        const size_t at = static_cast<size_t>(Pos - 1);
        // The spaced tag's comment starts behind its blank, which goes with it.
        const bool spaced = at >= 2 && SQL[at - 1] == ' ' && SQL[at - 2] == '/' && at - 1 >= copied &&
                            SQL.compare(at - 1, kSpacedTag.size(), kSpacedTag) == 0;
        if (!spaced && SQL.compare(at, kMarkerTag.size(), kMarkerTag) != 0) return Width;
        size_t end = at + kMarkerTag.size();
        int32_t number = 0;
        while (end < SQL.size() && SQL[end] >= '0' && SQL[end] <= '9') number = number * 10 + (SQL[end++] - '0');
        if (SQL.compare(end, 3, "#*/") != 0 || end + 3 >= SQL.size() || SQL[end + 3] != '?') return Width;
        out.append(SQL, copied, at - (spaced ? 1 : 0) - copied);
        copied = end + 3;
        Kept.push_back(number);
        return static_cast<int32_t>(copied - at);
      });
  out.append(SQL, copied, std::string::npos);
  SQL = std::move(out);
}

}  // namespace

void MakeRecordCountSQL(std::string_view SQL, std::string& Result, std::vector<int32_t>* KeptMarkers) {
  if (KeptMarkers) {
    KeptMarkers->clear();
    MakeRecordCountSQL(TagMarkers(SQL), Result, nullptr);
    UntagMarkers(Result, *KeptMarkers);
    return;
  }
  std::string s(SQL);
  const std::string first = FirstSelectWord(s);
  // Rows folded by DISTINCT, GROUP BY, HAVING or UNION (or cut by FIRST / SKIP or a row limit) are counted
  // through a derived table, so the count is what the statement returns.
  // Parameters in the SELECT list stay with their list, or the count statement would take fewer.
  std::string server;
  int32_t kept = 0;
  const bool selectParams = ParseSQLParams(s, nullptr, nullptr, nullptr, server, ':', false, kept) > 0;
  const bool derived = first == "DISTINCT" || first == "FIRST" || first == "SKIP" || !GetSQLGroup(s).empty() ||
                       !GetSQLHaving(s).empty() || !GetSQLUnion(s).empty() || selectParams || HasRowLimit(s);
  SetSQLPlan(s, "");
  SetSQLOrder(s, "");
  SetSQLForUpdate(s, "");
  // The engine refuses locks with aggregates; counting locks no row.
  RemoveSQLLock(s);
  if (!derived) {
    SetSQLSelect(s, "SELECT COUNT( * )");
    Result = Trim(s);
    return;
  }
  std::string inner = Trim(s);
  // The engine wants every column of a derived table named, and named once: name them by position,
  // unless a '*' item leaves the number of columns to the engine.
  TStringList items;
  ParseSQLParams(inner, nullptr, &items, nullptr, server, '\0', false, kept);
  std::string columns;
  if (items.IndexOf("<*>") < 0 && items.Count() > 0) {
    columns = " (";
    for (int i = 0; i < items.Count(); ++i) columns += (i ? ", C" : "C") + IntToStr(i + 1);
    columns += ")";
  }
  Result = std::string("SELECT COUNT( * ) FROM (") + CRLF + inner + CRLF + ")" +
           (columns.empty() ? "" : " COUNTED_ROWS" + columns);
}

int32_t MakeKeyLookupSQL(std::string_view SQL, std::string_view NewSelect, const TStrings& KeyFields,
                         int32_t& SelectParamCount, std::string& Result) {
  std::string server;
  int32_t kept = 0;
  SelectParamCount = ParseSQLParams(SQL, nullptr, nullptr, nullptr, server, ':', false, kept);

  std::string s(SQL);
  SetSQLSelect(s, NewSelect);
  SetSQLPlan(s, "");
  SetSQLOrder(s, "");
  SetSQLForUpdate(s, "");
  RemoveSQLLock(s);
  std::string cond;
  for (int i = 0; i < KeyFields.Count(); ++i) {
    std::string item = KeyFields.Get(i);
    size_t eq = item.find('=');
    std::string name = Trim(eq == std::string::npos ? item : item.substr(0, eq));
    if (!cond.empty()) cond += std::string(CRLF) + "  AND ";
    cond += name + "=?";
  }
  std::string where = GetSQLWhere(s);
  PrependWhereCondition(where, cond);
  SetSQLWhere(s, where);
  Result = s;

  TStringList names;
  ParseSQLParams(GetSQLFrom(s), &names, nullptr, nullptr, server, ':', false, kept);
  return names.Count();
}

void AppendWhereCondition(std::string& Where, std::string_view Condition) {
  const std::string w = Trim(Where), c = Trim(Condition);
  if (c.empty()) return;
  if (w.empty()) {
    Where = "WHERE " + c;
    return;
  }
  const std::string old = Trim(std::string_view(w).substr(std::min<size_t>(5, w.size())));
  if (!ContainsLineCommentOrOr(old, c)) {
    Where = w + CRLF + "  AND " + c;
  } else {
    Where = std::string(" WHERE (") + CRLF + "      " + old + CRLF + "      )" + CRLF + "  AND " + c;
  }
}

void PrependWhereCondition(std::string& Where, std::string_view Condition) {
  const std::string w = Trim(Where), c = Trim(Condition);
  if (c.empty()) return;
  if (w.empty()) {
    Where = "WHERE " + c;
    return;
  }
  const std::string old = Trim(std::string_view(w).substr(std::min<size_t>(5, w.size())));
  if (!ContainsLineCommentOrOr(old, c)) {
    Where = "WHERE " + c + CRLF + "  AND " + old;
  } else {
    // A condition that may end in a line comment gets its closing parenthesis on a line of its own.
    const bool lineComment = c.find("//") != std::string::npos || c.find("--") != std::string::npos;
    Where = "WHERE ( " + c + (lineComment ? std::string(CRLF) : std::string()) + " ) " + CRLF + "  AND " + " ( " + old +
            CRLF + ")";
  }
}

// ---------------------------------------------------------------------------------------------------------
// Database commands

bool FindCommandClause(std::string_view SQL, std::string_view Keyword, const std::vector<std::string>& Verbs,
                       std::string& Verb, std::string& Value) {
  Verb.clear();
  Value.clear();
  size_t p = 0;
  const std::string first = NextWord(SQL, p);
  size_t afterObject = 0;
  for (const std::string& v : Verbs) {
    if (!SameText(first, v)) continue;
    size_t q = p;
    std::string obj = NextWord(SQL, q);
    if (obj == "DATABASE" || obj == "SCHEMA") {
      Verb = v;
      afterObject = q;
      break;
    }
  }
  if (Verb.empty()) return false;
  size_t from = afterObject;
  if (!SameText(Keyword, "DATABASE")) {
    int32_t s = static_cast<int32_t>(p) + 1, e = 0;
    std::string matched;
    FindSQLClause(SQL, Keyword, false, {}, s, e, matched, false, false);
    if (s == 0) return true;
    from = static_cast<size_t>(s - 1) + Keyword.size();
  }
  // The value is the literal that follows right after the word, never one further on.
  while (from < SQL.size() && static_cast<unsigned char>(SQL[from]) <= ' ') ++from;
  if (from < SQL.size() && (SQL[from] == '\'' || SQL[from] == '"')) {
    ExtractQuotedText(SQL, static_cast<int32_t>(from) + 1, 0, Value);
  }
  return true;
}

bool ApplyDatabaseCommand(TIB_DatabaseCommandTarget& Connection, std::string_view SQL, std::string& Verb) {
  static const std::vector<std::string> verbs{"CREATE", "CONNECT", "DISCONNECT", "DROP"};
  std::string database;
  if (!FindCommandClause(SQL, "DATABASE", verbs, Verb, database)) return false;
  if (Verb == "DISCONNECT") return true;
  const bool drop = Verb == "DROP";
  if (drop && Connection.GetConnected()) return true;
  if (!database.empty()) Connection.SetDatabaseName(database);
  static const std::pair<const char*, int32_t> items[] = {{"USER", 1}, {"PASSWORD", 2}, {"ROLE", 4}};
  for (const auto& [keyword, index] : items) {
    std::string verb, value;
    FindCommandClause(SQL, keyword, verbs, verb, value);
    if (!value.empty() || !drop) Connection.SetIndexedParam(index, value);
  }
  return true;
}
