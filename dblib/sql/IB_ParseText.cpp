// Identifiers, quotes, list items, escaped list texts and attribute texts.
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "dblib/sql/IB_Parse.h"
#include "platform/ScopeGuards.h"
#include "platform/SysUtils.h"

namespace {

inline unsigned char U(char Ch) { return static_cast<unsigned char>(Ch); }
inline bool IsAsciiLetter(char Ch) { return (Ch >= 'A' && Ch <= 'Z') || (Ch >= 'a' && Ch <= 'z'); }
inline bool IsDigit(char Ch) { return Ch >= '0' && Ch <= '9'; }

// The reserved words, in their historical order (LENGTH appears twice). A hash set serves the lookups.
// clang-format off
constexpr const char* kReservedWords[] = {
    "ACTION", "ACTIVE", "ADD", "ADMIN", "AFTER", "ALL", "ALTER", "AND", "ANY", "AS", "ASC", "ASCENDING", "AT",
    "AUTO", "AUTODDL", "AVG", "BASE_NAME", "BASED", "BASENAME", "BEFORE", "BEGIN", "BETWEEN", "BLOB",
    "BLOBEDIT", "BUFFER", "BY", "CACHE", "CASCADE", "CAST", "CHAR", "CHAR_LENGTH", "CHARACTER",
    "CHARACTER_LENGTH", "CHECK", "CHECK_POINT_LEN", "CHECK_POINT_LENGTH", "CLOSE", "COLLATE", "COLLATION",
    "COLUMN", "COMMIT", "COMMITTED", "COMPILETIME", "COMPUTED", "CONDITIONAL", "CONNECT", "CONSTRAINT",
    "CONTAINING", "CONTINUE", "COUNT", "CREATE", "CSTRING", "CURRENT", "CURSOR", "DATABASE", "DATE", "DEBUG",
    "DEC", "DECIMAL", "DECLARE", "DEFAULT", "DELETE", "DESC", "DESCENDING", "DESCRIBE", "DESCRIPTOR",
    "DISCONNECT", "DISPLAY", "DISTINCT", "DO", "DOMAIN", "DOUBLE", "DROP", "ECHO", "EDIT", "ELSE", "END",
    "ENTRY_POINT", "ESCAPE", "EVENT", "EXCEPTION", "EXECUTE", "EXISTS", "EXIT", "EXTERN", "EXTERNAL",
    "EXTRACT", "FETCH", "FILE", "FILTER", "FLOAT", "FOR", "FOREIGN", "FOUND", "FREE_IT", "FROM", "FULL",
    "FUNCTION", "GDSCODE", "GEN_ID", "GENERATOR", "GLOBAL", "GOTO", "GRANT", "GROUP", "GROUP_COMMIT_",
    "GROUP_COMMIT_WAIT", "HAVING", "HELP", "IF", "IMMEDIATE", "IN", "INACTIVE", "INDEX", "INDICATOR", "INIT",
    "INNER", "INPUT", "INPUT_TYPE", "INSERT", "INT", "INTEGER", "INTO", "IS", "ISOLATION", "ISQL", "JOIN",
    "KEY", "LC_MESSAGES", "LC_TYPE", "LEFT", "LENGTH", "LENGTH", "LEV", "LEVEL", "LIKE", "LOG_BUF_SIZE",
    "LOG_BUFFER_SIZE", "LOGFILE", "LONG", "MANUAL", "MAX", "MAX_SEGMENT", "MAXIMUM", "MAXIMUM_SEGMENT",
    "MENT", "MERGE", "MESSAGE", "MIN", "MINIMUM", "MODULE_NAME", "NAMES", "NATIONAL", "NATURAL", "NCHAR",
    "NO", "NOAUTO", "NOT", "NULL", "NUM_LOG_BUFFERS", "NUM_LOG_BUFS", "NUMERIC", "OCTET_LENGTH", "OF", "ON",
    "ONLY", "OPEN", "OPTION", "OR", "ORDER", "OUTER", "OUTPUT", "OUTPUT_TYPE", "OVERFLOW", "PAGE",
    "PAGE_SIZE", "PAGES", "PARAMETER", "PASSWORD", "PLAN", "POSITION", "POST_EVENT", "PRECISION", "PREPARE",
    "PRIMARY", "PRIVILEGES", "PROCEDURE", "PROTECTED", "PUBLIC", "QUIT", "RAW_PARTITIONS", "READ", "REAL",
    "RECORD_VERSION", "REFERENCES", "RELEASE", "RESERV", "RESERVING", "RESTRICT", "RETAIN", "RETURN",
    "RETURNING_VALUES", "RETURNS", "REVOKE", "RIGHT", "ROLE", "ROLLBACK", "RUNTIME", "SCHEMA", "SEGMENT",
    "SELECT", "SET", "SHADOW", "SHARED", "SHELL", "SHOW", "SINGULAR", "SIZE", "SMALLINT", "SNAPSHOT", "SOME",
    "SORT", "SQL", "SQLCODE", "SQLERROR", "SQLWARNING", "STABILITY", "STARTING", "STARTS", "STATE", "STATIC",
    "STATISTICS", "SUB_TYPE", "SUM", "SUSPEND", "TABLE", "TERMINATOR", "THEN", "TO", "TRANSACTION",
    "TRANSLATE", "TRANSLATION", "TRIGGER", "TRIM", "UNCOMMITTED", "UNION", "UNIQUE", "UPDATE", "UPPER",
    "USER", "USING", "VALUE", "VALUES", "VARCHAR", "VARIABLE", "VARYING", "VERSION", "VIEW", "WAIT",
    "WAIT_TIME", "WHEN", "WHENEVER", "WHERE", "WHILE", "WITH", "WORK", "WRITE"};
// clang-format on
static_assert(sizeof(kReservedWords) / sizeof(kReservedWords[0]) == 267);

const std::unordered_set<std::string_view>& ReservedWordSet() {
  static const std::unordered_set<std::string_view> set(std::begin(kReservedWords), std::end(kReservedWords));
  return set;
}

bool IsSimpleIdent(std::string_view S, bool AllowLower) {
  if (S.empty() || !IsAsciiLetter(S[0])) return false;
  for (char c : S) {
    if (!AllowLower && c >= 'a' && c <= 'z') return false;
    if (!(IsAsciiLetter(c) || IsDigit(c) || c == '$' || c == '_')) return false;
  }
  return true;
}

// True when every character of S can stand in an unquoted name (letters, digits, '$', '_' and the bytes
// of other alphabets): nothing in it ends the name.
bool IsNameText(std::string_view S) {
  for (char c : S) {
    if (!(IsAsciiLetter(c) || IsDigit(c) || c == '$' || c == '_' || U(c) >= 0x80)) return false;
  }
  return true;
}

void MakeIdent(int32_t Dialect, std::string_view Name, std::string& Result, bool Exact) {
  std::string s = Trim(Name);
  if (s.empty()) {
    Result = Dialect >= 3 ? "\"\"" : "";
    return;
  }
  // Only one whole quoted name passes as it is: any other text that holds a double quote is quoted whole,
  // so that no name can end the quotes it is put in and carry SQL of its own.
  if (IsQuotedIdent(s)) {
    Result = Dialect < 3 ? UpperCase(s) : s;
    return;
  }
  if (Dialect < 3 && IsNameText(s)) {
    Result = UpperCase(s);
    return;
  }
  if (IsSimpleIdent(s, !Exact) && !IsReservedWord(s)) {
    Result = UpperCase(s);
    return;
  }
  std::string q;
  DoubleChar(s, '"', q);
  Result = "\"" + q + "\"";
}

// '#' with up to three digits; Pos is at the '#'. Returns false (nothing consumed) when the code would not
// fit a byte, so such text is kept as it stands.
bool ReadHashCode(std::string_view S, size_t& Pos, std::string& Out, bool& Any) {
  size_t p = Pos + 1;
  int code = 0, digits = 0;
  while (p < S.size() && digits < 3 && IsDigit(S[p])) {
    code = code * 10 + (S[p] - '0');
    ++p;
    ++digits;
  }
  if (code > 255) return false;
  Any = digits > 0;
  if (Any) Out += static_cast<char>(code);
  Pos = p;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Identifiers

bool IsReservedWord(std::string_view S) {
  if (S.empty() || S.size() > 32) return false;
  return ReservedWordSet().count(UpperCase(S)) != 0;
}

bool IsQuotedIdent(std::string_view S) {
  if (S.size() < 2 || S.front() != '"' || S.back() != '"') return false;
  for (size_t i = 1; i + 1 < S.size(); ++i) {
    if (S[i] != '"') continue;
    if (i + 2 >= S.size() || S[i + 1] != '"') return false;  // a lone quote ends the name early
    ++i;
  }
  return true;
}

void MakeSQLIdent(int32_t Dialect, std::string_view Name, std::string& Result) {
  MakeIdent(Dialect, Name, Result, false);
}

void MakeSQLIdentExact(int32_t Dialect, std::string_view Name, std::string& Result) {
  MakeIdent(Dialect, Name, Result, true);
}

// ---------------------------------------------------------------------------------------------------------
// Quotes

bool IsQuoted(std::string_view S, char QuoteChar) {
  std::string t = Trim(S);
  if (t.size() < 2) return false;
  auto enclosed = [&](char q) { return t.front() == q && t.back() == q; };
  if (QuoteChar == '\'' || QuoteChar == '"') return enclosed(QuoteChar);
  return enclosed('\'') || enclosed('"');
}

void QuoteText(std::string_view S, char QuoteChar, std::string& Result) {
  if (IsQuoted(S, QuoteChar)) {
    Result = std::string(S);
    return;
  }
  std::string d;
  DoubleChar(S, QuoteChar, d);
  Result = QuoteChar + d + QuoteChar;
}

void StripQuotes(std::string_view S, std::string& Result) {
  std::string t = Trim(S);
  if (t.size() >= 2 && (t.front() == '\'' || t.front() == '"') && t.back() == t.front()) {
    UndoubleChar(std::string_view(t).substr(1, t.size() - 2), t.front(), Result);
  } else {
    Result = std::string(S);
  }
}

void DoubleChar(std::string_view S, char Ch, std::string& Result) {
  std::string r;
  r.reserve(S.size() + 2);
  for (char c : S) {
    r += c;
    if (c == Ch) r += c;
  }
  Result = std::move(r);
}

void UndoubleChar(std::string_view S, char Ch, std::string& Result) {
  std::string r;
  r.reserve(S.size());
  for (size_t i = 0; i < S.size(); ++i) {
    r += S[i];
    if (S[i] == Ch && i + 1 < S.size() && S[i + 1] == Ch) ++i;
  }
  Result = std::move(r);
}

void RemoveParenthesesAndLiterals(std::string_view S, int32_t Dialect, std::string& Result) {
  std::string r;
  r.reserve(S.size());
  int depth = 0;
  char quote = 0;
  for (char c : S) {
    if (quote) {
      if (c == quote) quote = 0;  // a doubled quote closes and reopens: nothing is kept either way
      continue;
    }
    if (c == '\'' || (c == '"' && Dialect < 3)) {
      quote = c;
      continue;
    }
    if (c == '(') {
      if (depth == 0) r += c;
      ++depth;
      continue;
    }
    if (c == ')' && depth > 0) {
      --depth;
      if (depth == 0) r += c;
      continue;
    }
    if (depth == 0) r += c;
  }
  Result = std::move(r);
}

// ---------------------------------------------------------------------------------------------------------
// Quote-aware searches

int32_t CharPosOutsideQuotes(char Ch, std::string_view S, int32_t Start) {
  bool inside = false;
  for (int32_t i = Start < 1 ? 1 : Start; i <= static_cast<int32_t>(S.size()); ++i) {
    char c = S[i - 1];
    if (c == '"') {
      if (Ch == '"') return i;
      inside = !inside;
    } else if (!inside && c == Ch) {
      return i;
    }
  }
  return 0;
}

int32_t StrPosOutsideQuotes(std::string_view Sub, std::string_view S, int32_t Start) {
  if (Sub.empty()) return 0;
  if (Sub.size() == 1) return CharPosOutsideQuotes(Sub[0], S, Start);
  bool inside = false;
  const int32_t n = static_cast<int32_t>(S.size()), m = static_cast<int32_t>(Sub.size());
  for (int32_t i = Start < 1 ? 1 : Start; i <= n; ++i) {
    if (!inside && i + m - 1 <= n && S.compare(i - 1, m, Sub) == 0) return i;
    if (S[i - 1] == '"') inside = !inside;
  }
  return 0;
}

int32_t CharPosBackOutsideQuotes(char Ch, std::string_view S, int32_t Start, bool StopAtDelimiter) {
  const int32_t n = static_cast<int32_t>(S.size());
  bool inside = false;
  for (int32_t i = (Start <= 0 || Start > n) ? n : Start; i >= 1; --i) {
    char c = S[i - 1];
    if (c == '"') {
      inside = !inside;
      if (Ch == '"') return i;
      continue;
    }
    if (inside) continue;
    if (c == Ch) return i;
    if (StopAtDelimiter && IsNameDelimiter(c)) return 0;
  }
  return 0;
}

bool ExtractQuotedText(std::string_view S, int32_t FromPos, int32_t ToPos, std::string& Value) {
  Value.clear();
  const int32_t n = static_cast<int32_t>(S.size());
  int32_t last = (ToPos <= 0 || ToPos > n) ? n : ToPos;
  char quote = 0;
  for (int32_t i = FromPos < 1 ? 1 : FromPos; i <= last; ++i) {
    char c = S[i - 1];
    if (!quote) {
      if (c == '\'' || c == '"') quote = c;
      continue;
    }
    if (c == quote) {
      // A doubled quote is one quote character of the value.
      if (i < last && S[i] == quote) {
        Value += c;
        ++i;
        continue;
      }
      return true;
    }
    Value += c;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------------------
// List items and small text routines

std::string NextListItem(std::string_view S, int32_t& Pos) {
  const int32_t n = static_cast<int32_t>(S.size());
  if (Pos <= 0) Pos = 1;
  int32_t start = Pos;
  while (Pos <= n && S[Pos - 1] != ',' && S[Pos - 1] != ';' && S[Pos - 1] != '\n' && S[Pos - 1] != '\r') ++Pos;
  std::string item(
      S.substr(static_cast<size_t>(std::min(start, n + 1) - 1), static_cast<size_t>(std::max(0, Pos - start))));
  for (char sep : {',', ';', '\n', '\r', '\n', '\r'}) {
    if (Pos <= n && S[Pos - 1] == sep) ++Pos;
  }
  return item;
}

void SplitListText(std::string_view S, TStrings& Items) {
  auto update = MakeBracket(Items, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  Items.Clear();
  int32_t pos = 1;
  while (pos <= static_cast<int32_t>(S.size())) {
    std::string item = Trim(NextListItem(S, pos));
    if (item.empty()) break;
    Items.Add(item);
  }
  update.End();
}

void ReplaceChars(std::string& S, std::string_view Chars, char NewChar) {
  for (char& c : S) {
    if (Chars.find(c) != std::string_view::npos) c = NewChar;
  }
}

void ReplaceText(std::string& S, std::string_view Old, std::string_view New) {
  if (Old.empty() || New.find(Old) != std::string_view::npos) return;
  std::string r;
  size_t p = 0;
  for (;;) {
    size_t q = S.find(Old, p);
    if (q == std::string::npos) break;
    r.append(S, p, q - p);
    r.append(New);
    p = q + Old.size();
  }
  if (p == 0) return;
  r.append(S, p, std::string::npos);
  S = std::move(r);
}

void RepeatChar(char Ch, int32_t Count, std::string& Result) {
  Result.assign(Count > 0 ? static_cast<size_t>(Count) : 0, Ch);
}

void PadString(std::string_view S, char FillChar, int32_t Len, std::string& Result, bool Truncate) {
  std::string r(S);
  size_t len = Len > 0 ? static_cast<size_t>(Len) : 0;
  if (Truncate && r.size() > len) r.resize(len);
  if (r.size() < len) r.append(len - r.size(), FillChar);
  Result = std::move(r);
}

// ---------------------------------------------------------------------------------------------------------
// Escaped list text and attribute text

void EscapeListText(std::string_view S, std::string& Result) {
  std::string r;
  r.reserve(S.size() + 8);
  for (char c : S) {
    unsigned char u = U(c);
    if (u < 32) {
      if (u + 65 <= '[') {
        r += '\\';
        r += static_cast<char>(u + 65);
      } else {
        // 27..31 would land on characters that decode as themselves.
        r += '#';
        r += static_cast<char>('0' + u / 100);
        r += static_cast<char>('0' + u / 10 % 10);
        r += static_cast<char>('0' + u % 10);
      }
    } else if (c == '#' || c == ';' || c == '=' || c == '\\') {
      r += '\\';
      r += c;
    } else if (u >= 128) {
      r += '#';
      r += IntToStr(u);
    } else {
      r += c;
    }
  }
  Result = std::move(r);
}

void UnescapeListText(std::string_view S, std::string& Result) {
  std::string r;
  r.reserve(S.size());
  size_t i = 0;
  while (i < S.size()) {
    char c = S[i];
    if (c == '\\' && i + 1 < S.size()) {
      char e = S[i + 1];
      r += (e >= 'A' && e <= '[') ? static_cast<char>(e - 65) : e;
      i += 2;
    } else if (c == '#') {
      bool any = false;
      if (!ReadHashCode(S, i, r, any)) {
        r += c;
        ++i;
      }
    } else {
      r += c;
      ++i;
    }
  }
  Result = std::move(r);
}

void ParseAttributeText(std::string_view Text, std::string_view Name, int32_t& NamePos, std::string& Value,
                        int32_t& EndPos) {
  NamePos = 0;
  EndPos = 0;
  Value.clear();
  const size_t n = Text.size();
  if (Name.empty()) return;
  auto endsName = [](char c) { return c == ' ' || c == ';' || c == '='; };
  // Walk the items so that a name inside another attribute's value is never taken for an attribute.
  size_t i = 0;
  bool wordStart = true;
  while (i < n) {
    char c = Text[i];
    if (wordStart && c != ' ' && c != ';') {
      bool match = i + Name.size() <= n && SameText(Text.substr(i, Name.size()), Name) &&
                   (i + Name.size() == n || endsName(Text[i + Name.size()]));
      if (match) {
        NamePos = static_cast<int32_t>(i + 1);
        size_t p = i + Name.size();
        while (p < n && Text[p] == ' ') ++p;
        if (p < n && Text[p] == '=') {
          ++p;
          std::string v;
          while (p < n && Text[p] != ';') {
            char d = Text[p];
            if (d == '\\' && p + 1 < n) {
              char e = Text[p + 1];
              v += (e >= 'A' && e <= '[') ? static_cast<char>(e - 65) : e;
              p += 2;
            } else if (d == '#') {
              bool any = false;
              if (!ReadHashCode(Text, p, v, any)) {
                v += d;
                ++p;
              }
            } else {
              v += d;
              ++p;
            }
          }
          Value = std::move(v);
        }
        EndPos = static_cast<int32_t>(p + 1);
        return;
      }
      // Skip this word; a value behind '=' runs to the next unescaped ';'.
      while (i < n && Text[i] != ' ' && Text[i] != ';' && Text[i] != '=') ++i;
      size_t p = i;
      while (p < n && Text[p] == ' ') ++p;
      if (p < n && Text[p] == '=') {
        i = p;
        while (i < n && Text[i] != ';') i += (Text[i] == '\\' && i + 1 < n) ? 2 : 1;
      }
      wordStart = false;
      continue;
    }
    wordStart = c == ' ' || c == ';';
    ++i;
  }
}
