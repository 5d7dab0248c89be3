// Query by example and filter translation.
#include "dblib/sql/IB_ParseQBE.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "dblib/IB_CharSets.h"
#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "platform/Locale.h"
#include "platform/SysUtils.h"

namespace {

constexpr int16_t kText = 448, kChar = 452, kDouble = 480, kTimestamp = 510, kBlob = 520, kTime = 560, kDate = 570;

bool IsDigit(char C) { return C >= '0' && C <= '9'; }
bool IsLetter(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }
bool IsComparisonChar(char C) { return C == '!' || C == '<' || C == '>' || C == '='; }
bool IsIdentChar(char C) {
  return IsLetter(C) || IsDigit(C) || C == '_' || C == '$' || static_cast<unsigned char>(C) >= 128;
}

bool StartsWithText(std::string_view S, std::string_view Prefix) {
  return S.size() >= Prefix.size() && CompareText(S.substr(0, Prefix.size()), Prefix) == 0;
}

// The content of a well-formed literal (quotes removed, inner quotes undoubled).
std::string LiteralContent(std::string_view S) {
  const std::string t = Trim(S);
  std::string r;
  UndoubleChar(std::string_view(t).substr(1, t.size() - 2), t[0], r);
  return r;
}

std::string Quote(std::string_view Content) {
  std::string r;
  DoubleChar(Content, '\'', r);
  return "'" + r + "'";
}

// The text of a typed value: the content of a literal of either kind, else the text itself.
std::string ValueContent(std::string_view V) {
  if (IsSQLLiteral(V, '\'') || IsSQLLiteral(V, '"')) return LiteralContent(V);
  return Trim(V);
}

std::string DecimalNormalised(std::string S) {
  const char sep = FormatSettings.DecimalSeparator;
  if (sep != '.')
    for (char& c : S)
      if (c == sep) c = '.';
  return S;
}

// How a WHERE clause names the column: a renamed column by its source, an expression by its SELECT item,
// any other by its full name.
const std::string& ColumnReference(const TIB_QBEColumn& C) {
  if (!C.Source.empty()) return C.Source;
  if (C.SQLName.empty() && !C.SelectItem.empty()) return C.SelectItem;
  return C.FullName;
}

std::string ColumnLabel(const TIB_QBEColumn& C) {
  return !C.BestName.empty() ? C.BestName : !C.FullName.empty() ? C.FullName : C.SelectItem;
}

// A number for a numeric column, as SQL text; anything else is refused.
std::string NumberText(const TIB_QBEColumn& C, std::string_view V) {
  const std::string n = DecimalNormalised(ValueContent(V));
  if (!IsSQLNumber(n)) IB_Raise<EIB_Error>(IBMsg::InvalidNumberForColumn, {ColumnLabel(C), std::string(V)});
  return n;
}

// ---- dates --------------------------------------------------------------------------------------------

// Matches the start of S against Pattern: 'd' a digit, 'a' a letter, '*' anything after, other
// characters themselves.
bool MatchShape(std::string_view S, std::string_view Pattern) {
  size_t i = 0;
  for (char p : Pattern) {
    if (p == '*') return true;
    if (i >= S.size()) return false;
    const char c = S[i++];
    if ((p == 'd' && !IsDigit(c)) || (p == 'a' && !IsLetter(c)) || (p != 'd' && p != 'a' && p != c)) return false;
  }
  return i == S.size();
}

size_t DatePartLength(std::string_view V) {
  struct Shape {
    const char* Pattern;
    size_t Length;
  };
  static constexpr Shape kShapes[] = {{"ddDaaaDdddd*", 11}, {"ddDddDdddd*", 10}, {"dDaaaDdddd*", 10}, {"ddDdDdddd*", 9},
                                      {"ddDaaaDdd*", 9},    {"dDddDdddd*", 9},   {"dDaaaDdd*", 8},    {"ddDddDdd*", 8},
                                      {"dDdDdddd*", 8},     {"ddDdDdd*", 7},     {"dDddDdd*", 7},     {"dDdDdd*", 6}};
  const char d = FormatSettings.DateSeparator;
  for (const Shape& s : kShapes) {
    std::string p = s.Pattern;
    for (char& c : p)
      if (c == 'D') c = d;
    if (MatchShape(V, p)) return s.Length;
  }
  return 0;
}

bool HasTimePart(std::string_view V) {
  const std::string rest = Trim(V.substr(std::min(DatePartLength(V), V.size())));
  const char t = FormatSettings.TimeSeparator;
  for (std::string p : {"ddTdd*", "dTdd*", "ddTd*", "dTd*"}) {
    for (char& c : p)
      if (c == 'T') c = t;
    if (MatchShape(rest, p)) return true;
  }
  return false;
}

// A date literal the server reads whatever the locale: 'mm/dd/yyyy' with ' hh:nn:ss' when the value has a
// time of day and the column keeps one (a DATE column refuses a time part).
std::string DateLiteral(std::string_view V, int OffsetDays, bool DateOnly) {
  const TDateTime dt = StrToDateTime(ValueContent(V)) + OffsetDays;
  uint16_t y, m, d, hh = 0, nn = 0, ss = 0, ms = 0;
  DecodeDate(dt, y, m, d);
  char buf[40];
  int n = std::snprintf(buf, sizeof buf, "'%02u/%02u/%04u", unsigned{m}, unsigned{d}, unsigned{y});
  const double frac = std::fabs(dt - std::trunc(dt));
  if (!DateOnly && frac != 0) {
    DecodeTime(frac, hh, nn, ss, ms);
    n += std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), " %02u:%02u:%02u", unsigned{hh}, unsigned{nn},
                       unsigned{ss});
  }
  return std::string(buf, static_cast<size_t>(n)) + "'";
}

// ---- wildcards ----------------------------------------------------------------------------------------

std::string ConvertWildcards(std::string_view S, char E) {
  std::string r;
  for (size_t i = 0; i < S.size(); ++i) {
    const char c = S[i];
    if (c == E && i + 1 < S.size()) {
      const char n = S[++i];
      if (n == '%' || n == '_' || n == E) r += c;
      r += n;
    } else if (c == '*') {
      r += '%';
    } else if (c == '?') {
      r += '_';
    } else {
      r += c;
    }
  }
  return r;
}

bool HasWildcard(std::string_view S, char E) {
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == E)
      ++i;
    else if (S[i] == '%' || S[i] == '_')
      return true;
  }
  return false;
}

std::string RemoveEscapes(std::string_view S, char E) {
  std::string r;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == E && i + 1 < S.size()) ++i;
    r += S[i];
  }
  return r;
}

// A LIKE pattern: the quoted text, and an ESCAPE clause when the escape character occurs in it.
std::string LikePattern(std::string_view Converted, char E) {
  std::string r = Quote(Converted);
  if (Converted.find(E) != std::string_view::npos) r += " ESCAPE " + Quote(std::string(1, E));
  return r;
}

// ---- operators ----------------------------------------------------------------------------------------

// "IS [NOT] NULL" at the very start of Text, as whole words; Length receives the characters it takes.
bool MatchIsNull(std::string_view Text, bool& Not, size_t& Length) {
  size_t p = 0;
  auto word = [&](std::string_view W) {
    size_t q = p;
    while (q < Text.size() && static_cast<unsigned char>(Text[q]) <= 32) ++q;
    if (!StartsWithText(Text.substr(q), W)) return false;
    q += W.size();
    if (q < Text.size() && !IsNameDelimiter(Text[q])) return false;
    p = q;
    return true;
  };
  if (!StartsWithText(Text, "IS") || !word("IS")) return false;
  Not = word("NOT");
  if (!word("NULL")) return false;
  Length = p;
  return true;
}

// Takes a leading comparison operator (up to two of '!', '<', '>', '=') or "IS [NOT] NULL" off Text.
bool SplitOperator(std::string& Text, std::string& Op) {
  size_t first = std::string::npos;
  for (size_t i = 0; i < std::min<size_t>(3, Text.size()); ++i)
    if (IsComparisonChar(Text[i])) {
      first = i;
      break;
    }
  if (first != std::string::npos && Trim(std::string_view(Text).substr(0, first)).empty()) {
    Op.assign(1, Text[first]);
    size_t next = first + 1;
    if (next < Text.size() && IsComparisonChar(Text[next])) {
      if (Text[next] != Op[0]) Op += Text[next];
      ++next;
    }
    Text = Trim(std::string_view(Text).substr(next));
    return true;
  }
  bool isNot = false;
  size_t length = 0;
  if (MatchIsNull(Text, isNot, length)) {
    Op = isNot ? "IS NOT NULL" : "IS NULL";
    Text = Trim(std::string_view(Text).substr(length));
    return true;
  }
  return false;
}

// ---- search text --------------------------------------------------------------------------------------

class TSearchTranslator {
public:
  TSearchTranslator(const TIB_QBEColumn& C, TStrings& Lines, TStrings& Params, const TIB_QBEContext& Ctx)
      : FCol(C), FLines(Lines), FParams(Params), FCtx(Ctx), FType(static_cast<int16_t>(C.SQLType & ~1)) {}

  void Run(std::string_view SearchText);

private:
  const TIB_QBEColumn& FCol;
  TStrings& FLines;
  TStrings& FParams;
  const TIB_QBEContext& FCtx;
  int16_t FType;
  std::string FRef;
  int FParamIndex = 0;

  bool IsDateColumn() const { return FType == kDate || FType == kTimestamp; }
  bool Rebuilds() const { return IsDateColumn() || FCol.IsNumeric; }
  bool UsesParams() const { return FType == kDouble && !FCol.RoundAttr.empty(); }
  void Add(const std::string& Line) { FLines.Add(Line); }

  // One value of an IN list or a BETWEEN, by column type.
  std::string Item(std::string_view V) {
    const std::string v = Trim(V);
    if (IsDateColumn()) return DateLiteral(v, 0, FType == kDate);
    if (UsesParams()) return NewParam(v);
    if (FCol.IsNumeric) return NumberText(FCol, v);
    return Quote(ValueContent(v));
  }
  std::string NewParam(const std::string& Value) {
    const std::string name = "QBE_" + IntToStr(FParamIndex++) + IntToStr(FCol.Position) + "_" + IntToStr(FCtx.Serial);
    FParams.Add(name + "=" + Value);
    if (FCtx.OnParamAttribute) FCtx.OnParamAttribute(name, FCol.RoundAttr);
    return "?" + name;
  }
  void InList(std::string_view Keyword, std::string_view Rest);
  void Between(std::string_view Keyword, std::string_view Rest);
  void General(std::string Text);
  void TextValue(std::string Op, const std::string& V);
  void DateValue(const std::string& Op, std::string V);
};

void TSearchTranslator::Run(std::string_view SearchText) {
  bool upper = false;
  if (!FCol.SQLName.empty()) {
    if (FCol.IsText && !FCol.NoCase.empty()) {
      FRef = FCol.NoCase;
      upper = true;
    } else if (!FCol.Source.empty()) {
      FRef = FCol.Source;
    } else {
      FRef = FCol.IsText ? FCol.FullName : FCol.BestName;
    }
  } else {
    FRef = FCol.SelectItem;
  }
  std::string text = Trim(SearchText);
  if (upper) text = CharSetUpperCase(FCol.CharSetId, text);
  if (text.empty()) return;

  bool isNot = false;
  size_t length = 0;
  if (MatchIsNull(text, isNot, length) && length == text.size()) return Add(FRef + " " + text);

  // Operator words, longest first; the value after them is rebuilt, never pasted.
  static constexpr std::string_view kWords[] = {"not containing ", "not starting ", "not between ", "not like ",
                                                "containing ",     "starting ",     "between ",     "like "};
  for (std::string_view w : kWords) {
    if (!StartsWithText(text, w)) continue;
    const std::string keyword = Trim(std::string_view(text).substr(0, w.size()));
    std::string rest = Trim(std::string_view(text).substr(w.size()));
    if (w.find("between") != std::string_view::npos) return Between(keyword, rest);
    if (w.find("like") != std::string_view::npos)
      return Add(FRef + " " + keyword + " " +
                 LikePattern(ConvertWildcards(ValueContent(rest), FCtx.EscapeChar), FCtx.EscapeChar));
    if (w.find("starting") != std::string_view::npos && StartsWithText(rest, "with ")) rest = Trim(rest.substr(5));
    return Add(FRef + " " + keyword + " " + Quote(ValueContent(rest)));
  }
  for (std::string_view w : {std::string_view("not in"), std::string_view("in")}) {
    if (!StartsWithText(text, w)) continue;
    const std::string rest = Trim(std::string_view(text).substr(w.size()));
    if (!rest.empty() && rest[0] == '(') return InList(std::string_view(text).substr(0, w.size()), rest.substr(1));
  }
  General(text);
}

void TSearchTranslator::InList(std::string_view Keyword, std::string_view Rest) {
  std::string list = Trim(Rest);
  if (Rebuilds()) list = UpperCase(list);
  if (list.empty() || list.back() != ')') IB_Raise<Exception>(IBMsg::InvalidSearchBufferIn);
  list.pop_back();
  std::vector<std::string> items;
  if (Rebuilds()) {
    const std::string sep = FCol.IsNumeric && FormatSettings.DecimalSeparator == ',' ? ", " : ",";
    for (size_t p = 0;;) {
      const size_t q = list.find(sep, p);
      items.push_back(Item(list.substr(p, q == std::string::npos ? std::string::npos : q - p)));
      if (q == std::string::npos) break;
      p = q + sep.size();
    }
  } else {
    // Items separated by commas outside quotes.
    size_t start = 0;
    char quote = 0;
    for (size_t i = 0; i <= list.size(); ++i) {
      if (i < list.size() && quote) {
        if (list[i] == quote) quote = 0;
      } else if (i < list.size() && (list[i] == '\'' || list[i] == '"')) {
        quote = list[i];
      } else if (i == list.size() || list[i] == ',') {
        items.push_back(Item(std::string_view(list).substr(start, i - start)));
        start = i + 1;
      }
    }
  }
  std::string joined;
  for (const std::string& s : items) joined += (joined.empty() ? "" : ", ") + s;
  Add(FRef + " " + UpperCase(Keyword) + "( " + joined + " )");
}

void TSearchTranslator::Between(std::string_view Keyword, std::string_view Rest) {
  const std::string rest = std::string(Rest);
  const std::string upper = UpperCase(rest);
  // " AND " outside quotes, so that a quoted value may hold one.
  size_t at = std::string::npos;
  char quote = 0;
  for (size_t i = 0; i < upper.size() && at == std::string::npos; ++i) {
    if (quote) {
      if (upper[i] == quote) quote = 0;
    } else if (upper[i] == '\'' || upper[i] == '"') {
      quote = upper[i];
    } else if (upper.compare(i, 5, " AND ") == 0) {
      at = i;
    }
  }
  if (at == std::string::npos) IB_Raise<EIB_Error>(IBMsg::BetweenSyntaxError);
  const std::string& src = Rebuilds() ? upper : rest;
  Add(FRef + " " + UpperCase(Keyword) + " " + Item(src.substr(0, at)) + " AND " + Item(src.substr(at + 5)));
}

void TSearchTranslator::General(std::string Text) {
  std::string op;
  std::string v = Text;
  // IS [NOT] NULL stands alone (Run took that); followed by more it is no operator but part of the value.
  if (SplitOperator(v, op) && op.starts_with("IS")) {
    op.clear();
    v = Text;
  }
  switch (FType) {
    case kText:
    case kChar: return TextValue(op, v);
    case kDouble:
      if (op.empty()) op = "=";
      return Add(FRef + " " + op + " " + (UsesParams() ? NewParam(v) : NumberText(FCol, v)));
    case kTimestamp:
    case kDate: return DateValue(op.empty() ? "=" : op, v);
    case kBlob:
      if (op.empty()) op = "=";
      if (FCol.IsText && op == "=") return Add(FRef + " CONTAINING " + Quote(ValueContent(v)));
      return Add(FRef + " " + op + " " + Quote(ValueContent(v)));
    case kTime: return Add(FRef + " " + (op.empty() ? "=" : op) + " " + Quote(ValueContent(v)));
    default:
      if (op.empty()) op = "=";
      return Add(FRef + " " + op + " " + (FCol.IsNumeric ? NumberText(FCol, v) : Quote(ValueContent(v))));
  }
}

void TSearchTranslator::TextValue(std::string Op, const std::string& V) {
  const char e = FCtx.EscapeChar;
  const std::string converted = ConvertWildcards(ValueContent(V), e);
  if (HasWildcard(converted, e)) {
    const std::string u = UpperCase(Op);
    Op = (u == "!=" || u == "<>" || u == "NOT" || u == "NOT LIKE") ? "NOT LIKE" : "LIKE";
    return Add(FRef + " " + Op + " " + LikePattern(converted, e));
  }
  const std::string plain = RemoveEscapes(converted, e);
  std::string value = Quote(plain);
  if (Op == "=" && FCol.NoTrailing) Op = "STARTING";
  if (Op.empty()) {
    if (!FCol.SoundexColumn.empty() && !FCol.NoSoundex) {
      auto code = [&](bool Max) {
        const auto& hook = Max && FCtx.SoundExMaxParse ? FCtx.SoundExMaxParse : FCtx.SoundExParse;
        return hook ? hook(plain) : std::string();
      };
      const std::string lo = code(false);
      if (!lo.empty()) {
        auto sqlValue = [](const std::string& S) { return IsSQLNumber(S) ? S : Quote(S); };
        std::string s;
        MakeSQLIdent(FCtx.Dialect, FCol.SoundexColumn, s);
        if (FCol.NoTrailing) return Add(s + " >= " + sqlValue(lo) + " AND " + s + " <= " + sqlValue(code(true)));
        return Add(s + " = " + sqlValue(lo));
      }
    }
    if (FCol.NoTrailing) {
      Op = "STARTING";
    } else if (FCol.YesLike) {
      const bool mixed = std::any_of(plain.begin(), plain.end(), [](char c) { return c >= 'a' && c <= 'z'; }) &&
                         std::any_of(plain.begin(), plain.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
      if (mixed) {
        Op = "LIKE";
        value = LikePattern("%" + converted + "%", e);
      } else {
        Op = "CONTAINING";
      }
    } else {
      Op = "=";
    }
  }
  Add(FRef + " " + Op + " " + value);
}

void TSearchTranslator::DateValue(const std::string& Op, std::string V) {
  V = ValueContent(V);
  if (FType == kTimestamp && !HasTimePart(V)) {
    if (StartsWithText(V, "TOD"))
      V = DateToStr(Date());
    else if (StartsWithText(V, "YES"))
      V = DateToStr(Date() - 1);
    if (Op == ">=") return Add(FRef + " >= " + DateLiteral(V, 0, true));
    if (Op == "<=") return Add(FRef + " < " + DateLiteral(V, 1, true));
    if (Op == ">") return Add(FRef + " >= " + DateLiteral(V, 1, true));
    if (Op == "=") {
      const std::string lo = DateLiteral(V, 0, true), hi = DateLiteral(V, 1, true);
      Add(FRef + " >= " + lo);
      return Add(FRef + " <  " + hi);
    }
    if (Op == "<>" || Op == "!=") {
      const std::string lo = DateLiteral(V, 0, true), hi = DateLiteral(V, 1, true);
      Add("(");
      Add(FRef + " < " + lo);
      Add("OR");
      Add(FRef + " >= " + hi);
      return Add(")");
    }
  }
  Add(FRef + " " + Op + " " + DateLiteral(V, 0, FType == kDate));
}

// ---- filter text --------------------------------------------------------------------------------------

[[noreturn]] void FilterError(const std::string& Detail = "") {
  if (Detail.empty()) IB_Raise<EIB_Error>(IBMsg::InvalidFilterSyntax);
  IB_Raise<EIB_Error>(IBMsg::InvalidFilterSyntaxAt, {Detail});
}

// A name a filter may write: identifiers (plain or double-quoted), joined by '.'.
bool IsFilterName(std::string_view S) {
  if (S.empty()) return false;
  size_t i = 0;
  while (true) {
    if (i < S.size() && S[i] == '"') {
      size_t j = i + 1;
      while (j < S.size() && (S[j] != '"' || (j + 1 < S.size() && S[j + 1] == '"'))) j += S[j] == '"' ? 2 : 1;
      if (j >= S.size() || j == i + 1) return false;
      i = j + 1;
    } else {
      const size_t start = i;
      while (i < S.size() && IsIdentChar(S[i])) ++i;
      if (i == start) return false;
    }
    if (i == S.size()) return true;
    if (S[i++] != '.') return false;
  }
}

bool IsPlainWord(std::string_view S) {
  return !S.empty() && IsLetter(S[0]) && std::all_of(S.begin(), S.end(), IsIdentChar);
}

class TFilterTranslator {
public:
  TFilterTranslator(TIB_FilterOptions Options, const TIB_QBEFindColumn& Find, TStrings& Lines)
      : FOptions(Options), FFind(Find), FLines(Lines) {}

  void Run(std::string_view Filter);

private:
  TIB_FilterOptions FOptions;
  const TIB_QBEFindColumn& FFind;
  TStrings& FLines;
  std::string FRest;

  std::string NextToken(bool KeepDelimiter = true);
  std::string PeekWord() const;
  void LeadingParens();
  bool LeadingAndOr();
  void Condition();
  std::string Convert(std::string_view Value, const TIB_QBEColumn* Col, std::string& Op, std::string& ColName,
                      bool& Upper);
};

// A token at the start of FRest; quotes of either kind are honoured. Outside quotes a token ends before a
// blank and after any other name delimiter; without KeepDelimiter a delimiter that ends a longer token is
// left for the next one.
std::string TFilterTranslator::NextToken(bool KeepDelimiter) {
  size_t i = 0;
  while (i < FRest.size()) {
    const char c = FRest[i];
    if (c == '\'' || c == '"') {
      const size_t close = FRest.find(c, i + 1);
      if (close == std::string::npos) FilterError();
      i = close + 1;
      continue;
    }
    if (static_cast<unsigned char>(c) <= 32) break;
    ++i;
    if (IsNameDelimiter(c)) {
      if (!KeepDelimiter && i > 1) --i;
      break;
    }
  }
  std::string token = FRest.substr(0, i);
  FRest = TrimLeft(std::string_view(FRest).substr(i));
  return token;
}

std::string TFilterTranslator::PeekWord() const {
  size_t i = 0;
  while (i < FRest.size() && !IsNameDelimiter(FRest[i]) && FRest[i] != '\'' && FRest[i] != '"') ++i;
  return UpperCase(std::string_view(FRest).substr(0, i));
}

void TFilterTranslator::LeadingParens() {
  while (!FRest.empty() && (FRest[0] == '(' || FRest[0] == ')')) {
    FLines.Add(std::string(1, FRest[0]));
    FRest = TrimLeft(std::string_view(FRest).substr(1));
  }
}

bool TFilterTranslator::LeadingAndOr() {
  const std::string w = PeekWord();
  if (w != "AND" && w != "OR") return false;
  FLines.Add(w);
  FRest = TrimLeft(std::string_view(FRest).substr(w.size()));
  return true;
}

void TFilterTranslator::Run(std::string_view Filter) {
  FRest = Trim(Filter);
  if (FRest.empty()) return;
  // Parentheses must balance outside quotes, or the filter could close the bracket it is put in.
  int depth = 0;
  for (size_t i = 0; i < FRest.size(); ++i) {
    const char c = FRest[i];
    if (c == '\'' || c == '"') {
      const size_t close = FRest.find(c, i + 1);
      if (close == std::string::npos) FilterError();
      i = close;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth < 0) {
      FilterError(")");
    }
  }
  if (depth != 0) FilterError("(");

  FLines.Add("(");
  bool wantCondition = true;
  while (!FRest.empty()) {
    const std::string before = FRest;
    LeadingParens();
    if (!FRest.empty() && PeekWord() != "AND" && PeekWord() != "OR") {
      if (!wantCondition) IB_Raise<Exception>(IBMsg::InvalidFilterSyntaxRest, {FRest});
      Condition();
      wantCondition = false;
    }
    LeadingParens();
    if (LeadingAndOr()) {
      if (wantCondition) IB_Raise<Exception>(IBMsg::InvalidFilterSyntaxRest, {before});
      wantCondition = true;
    }
    if (FRest == before) IB_Raise<Exception>(IBMsg::InvalidFilterSyntaxRest, {FRest});
  }
  if (wantCondition) IB_Raise<Exception>(IBMsg::InvalidFilterSyntaxRest, {std::string(Filter)});
  FLines.Add(")");
}

void TFilterTranslator::Condition() {
  std::string colName;
  {
    const std::string token = NextToken(false);
    bool inDouble = false;
    for (char c : token) {
      if (c == '"') inDouble = !inDouble;
      if (inDouble || (c != '[' && c != ']')) colName += c;
    }
  }
  if (!IsFilterName(colName)) FilterError(colName);
  std::string lookup;
  StripQuotes(colName, lookup);
  const TIB_QBEColumn* col = FFind ? FFind(lookup) : nullptr;
  // A WHERE clause cannot name an alias: a renamed column is named by its source, an expression repeated.
  if (col && (!col->Source.empty() || (col->SQLName.empty() && !col->SelectItem.empty())))
    colName = ColumnReference(*col);

  std::string op;
  bool negate = false;
  {
    // The comparison characters as written must be one comparison: ">>" is no ">" (only "==" reads
    // as "=").
    const std::string rest = TrimLeft(FRest);
    size_t n = 0;
    while (n < rest.size() && IsComparisonChar(rest[n])) ++n;
    const std::string written = rest.substr(0, n);
    if (n > 2 || (n == 2 && written[0] == written[1] && written != "==")) FilterError(written);
  }
  if (!SplitOperator(FRest, op)) {
    op = NextToken(false);
    if (CompareText(op, "NOT") == 0) {
      negate = true;
      op = NextToken(false);
    }
    op = UpperCase(op);
  }
  static constexpr std::string_view kComparisons[] = {"=", "<", ">", "<=", ">=", "<>", "!=", "!<", "!>"};
  static constexpr std::string_view kWords[] = {"LIKE", "STARTING", "CONTAINING", "BETWEEN", "IN"};
  const bool comparison = std::find(std::begin(kComparisons), std::end(kComparisons), op) != std::end(kComparisons);
  const bool word = std::find(std::begin(kWords), std::end(kWords), op) != std::end(kWords);
  const bool isNull = op.starts_with("IS ");
  if (!word && !((comparison || isNull) && !negate)) FilterError(op);

  bool upper = false;
  std::string valuePart;
  if (!isNull) {
    std::string value = NextToken();
    if (op == "BETWEEN") {
      valuePart = Convert(value, col, op, colName, upper);
      if (CompareText(NextToken(false), "AND") != 0) IB_Raise<EIB_Error>(IBMsg::InvalidFilterSyntaxBetween);
      valuePart += " AND " + Convert(NextToken(), col, op, colName, upper);
    } else if (op == "IN") {
      if (value != "(") IB_Raise<EIB_Error>(IBMsg::InvalidFilterSyntaxIn);
      std::string items;
      for (bool closed = false; !closed;) {
        std::string item = NextToken();
        if (item.empty()) IB_Raise<EIB_Error>(IBMsg::InvalidFilterSyntaxIn);
        if (item == ",") continue;
        if (item == ")") break;
        if (item.back() == ',' || item.back() == ')') {
          closed = item.back() == ')';
          item.pop_back();
        }
        items += (items.empty() ? "" : ", ") + Convert(item, col, op, colName, upper);
      }
      valuePart = "( " + items + " )";
    } else {
      if (op == "STARTING" && CompareText(value, "WITH") == 0) value = NextToken();
      valuePart = Convert(value, col, op, colName, upper);
      if (op == "LIKE" && PeekWord() == "ESCAPE") {
        NextToken(false);
        std::string esc = NextToken();
        std::string close;
        if (esc.size() > 1 && esc.back() == ')') {
          close = ")";
          esc.pop_back();
        }
        if (!IsSQLLiteral(esc, '\'') && !IsSQLLiteral(esc, '"')) FilterError("ESCAPE");
        const std::string content = LiteralContent(esc);
        if (content.size() != 1) FilterError("ESCAPE");
        valuePart += " ESCAPE " + Quote(content) + close;
      }
    }
  }
  if (negate) op = "NOT " + op;
  FLines.Add(Trim(colName + " " + op + " " + valuePart));
}

// One value of a filter, by the column it is compared with. A closing parenthesis that touches the value
// stays with it.
std::string TFilterTranslator::Convert(std::string_view Value, const TIB_QBEColumn* Col, std::string& Op,
                                       std::string& ColName, bool& Upper) {
  std::string v(Value), close;
  if (v.size() > 1 && v.back() == ')') {
    close = ")";
    v.pop_back();
  }
  // An opening parenthesis ends a token only outside quotes: as part of a value it would leave the
  // filter's parentheses unbalanced once the value is quoted.
  if (v.empty() || v.back() == '(' || v == ")") FilterError(v);
  const bool literal = IsSQLLiteral(v, '\'') || IsSQLLiteral(v, '"');
  const char sep = FormatSettings.DateSeparator;
  const int16_t type = Col ? static_cast<int16_t>(Col->SQLType & ~1) : 0;
  std::string r;
  if (!Col) {
    r = literal ? Quote(LiteralContent(v)) : IsSQLNumber(v) || IsPlainWord(v) ? v : Quote(v);
  } else if (Col->IsText) {
    std::string content = ValueContent(v);
    if (!(FOptions & (1 << fopNoPartialCompare)) && Op == "=" && !content.empty() && content.back() == '*') {
      content.pop_back();
      Op = "STARTING";
    }
    r = Quote(content);
    if (FOptions & (1 << fopCaseInsensitive)) {
      if (!Upper) ColName = !Col->NoCase.empty() ? Col->NoCase : "UPPER( " + ColumnReference(*Col) + " )";
      Upper = true;
      r = "UPPER( " + r + " )";
    }
  } else if (Col->IsDateTime && type != kTime && ValueContent(v).find(sep) != std::string::npos) {
    r = DateLiteral(v, 0, type == kDate);
  } else if (Col->IsNumeric) {
    r = NumberText(*Col, v);
  } else {
    r = literal ? Quote(LiteralContent(v)) : IsSQLNumber(v) ? v : Quote(v);
  }
  return r + close;
}

}  // namespace

bool IsSQLLiteral(std::string_view S, char Quote) {
  const std::string t = Trim(S);
  if (t.size() < 2 || t.front() != Quote || t.back() != Quote) return false;
  for (size_t i = 1; i + 1 < t.size(); ++i)
    if (t[i] == Quote && (i + 2 >= t.size() || t[++i] != Quote)) return false;
  return true;
}

bool IsSQLNumber(std::string_view S) {
  size_t i = 0;
  if (i < S.size() && (S[i] == '+' || S[i] == '-')) ++i;
  size_t digits = 0;
  while (i < S.size() && IsDigit(S[i])) ++i, ++digits;
  if (i < S.size() && S[i] == '.') {
    ++i;
    while (i < S.size() && IsDigit(S[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < S.size() && (S[i] == 'e' || S[i] == 'E')) {
    ++i;
    if (i < S.size() && (S[i] == '+' || S[i] == '-')) ++i;
    const size_t start = i;
    while (i < S.size() && IsDigit(S[i])) ++i;
    if (i == start) return false;
  }
  return i == S.size();
}

void SearchBufferToSQL(const TIB_QBEColumn& Column, std::string_view SearchText, TStrings& WhereLines,
                       TStrings& ParamValues, const TIB_QBEContext& Context) {
  if (SearchText.empty()) return;
  TSearchTranslator(Column, WhereLines, ParamValues, Context).Run(SearchText);
}

void FilterToSQL(std::string_view Filter, TIB_FilterOptions Options, const TIB_QBEFindColumn& FindColumn,
                 TStrings& WhereLines) {
  TFilterTranslator(Options, FindColumn, WhereLines).Run(Filter);
}
