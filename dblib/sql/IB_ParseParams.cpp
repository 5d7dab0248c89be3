// Parameter scanning, markers, FOR UPDATE columns and macros.
#include <cctype>
#include <vector>

#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/sql/IB_ParseInternal.h"
#include "platform/ScopeGuards.h"
#include "platform/SysUtils.h"

namespace {

// Collects the items of a SELECT list as the parameter scanner walks over it.
class TSelectItemCollector {
public:
  explicit TSelectItemCollector(TStrings* Items) : FItems(Items) {}

  void AddChar(char Ch, bool TopLevel) {
    if (FPendingBlank && !FItem.empty() && !IsNameDelimiter(FItem.back())) FItem += ' ';
    FPendingBlank = false;
    FItem += Ch;
    if (Ch == '*' && TopLevel) FStar = true;
  }
  // A dropped comment separates words like a blank.
  void CommentSkipped() { FPendingBlank = true; }

  void Finish() {
    std::string t = Trim(FItem);
    FItem.clear();
    FPendingBlank = false;
    if (FFirst) {
      FFirst = false;
      StripLeadingWords(t);
    }
    const bool star = FStar;
    FStar = false;
    if (t.empty()) return;
    // "<*>" marks an item that stands for all columns: "*" or "relation.*" (not a product "A*B").
    if (star && (t == "*" || (t.size() >= 2 && t.compare(t.size() - 2, 2, ".*") == 0))) FItems->Add("<*>");
    std::string escaped;
    EscapeListText(t, escaped);
    FItems->Add(escaped);
  }

private:
  // The words before the first column: FIRST n and SKIP n (Firebird's row limits) and DISTINCT or ALL.
  static void StripLeadingWords(std::string& T) {
    auto word = [&](const char* W) {
      const size_t m = std::char_traits<char>::length(W);
      return T.size() > m && SameText(std::string_view(T).substr(0, m), W) && !ib_parse::IsParamNameChar(T[m]);
    };
    for (const char* limit : {"FIRST", "SKIP"}) {
      if (!word(limit)) continue;
      // The argument: a parenthesised expression or one token; a column merely named FIRST stays.
      std::string rest = TrimLeft(std::string_view(T).substr(std::char_traits<char>::length(limit)));
      size_t p = 0;
      if (!rest.empty() && rest[0] == '(') {
        int depth = 0;
        do {
          if (rest[p] == '(') ++depth;
          if (rest[p] == ')') --depth;
          ++p;
        } while (p < rest.size() && depth > 0);
      } else {
        while (p < rest.size() && static_cast<unsigned char>(rest[p]) > ' ') ++p;
      }
      std::string after = TrimLeft(std::string_view(rest).substr(p));
      if (p > 0 && !after.empty()) T = after;
    }
    for (const char* w : {"DISTINCT", "ALL"}) {
      if (word(w) || SameText(T, w)) {
        T = TrimLeft(std::string_view(T).substr(std::char_traits<char>::length(w)));
        break;
      }
    }
  }

  TStrings* FItems;
  std::string FItem;
  bool FFirst = true, FPendingBlank = false, FStar = false;
};

bool IsSelectNameChar(char C) {
  const auto u = static_cast<unsigned char>(C);
  return std::isalnum(u) || C == '_' || C == '$' || u >= 128;
}

}  // namespace

bool SplitSelectItem(std::string Item, std::string& Expression, std::string& Alias) {
  Item = Trim(BlankControlChars(std::move(Item)));
  // Top-level blanks: outside parentheses and quotes.
  size_t lastBlank = std::string::npos, asAt = std::string::npos;
  int depth = 0;
  char quote = 0;
  for (size_t i = 0; i < Item.size(); ++i) {
    const char c = Item[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"') quote = c;
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (depth != 0 || c != ' ') continue;
    lastBlank = i;
    if (i + 3 < Item.size() && SameText(std::string_view(Item).substr(i + 1, 2), "AS") && Item[i + 3] == ' ') {
      asAt = i;
    }
  }
  if (asAt != std::string::npos) {
    Expression = Trim(std::string_view(Item).substr(0, asAt));
    Alias = Trim(std::string_view(Item).substr(asAt + 3));
    return !Expression.empty() && !Alias.empty();
  }
  if (lastBlank == std::string::npos) return false;
  Expression = Trim(std::string_view(Item).substr(0, lastBlank));
  Alias = Trim(std::string_view(Item).substr(lastBlank + 1));
  if (Expression.empty() || Alias.empty()) return false;
  // The alias is a name: a quoted one, or a word that is no reserved word (END of a CASE, a collation).
  const bool quoted = Alias.size() >= 2 && Alias.front() == '"' && Alias.back() == '"';
  if (!quoted) {
    for (char c : Alias) {
      if (!IsSelectNameChar(c)) return false;
    }
    if (std::isdigit(static_cast<unsigned char>(Alias[0])) || IsReservedWord(Alias)) return false;
  }
  // What stands before must end an expression: a name, a literal or a closing parenthesis.
  const char last = Expression.back();
  if (!IsSelectNameChar(last) && last != ')' && last != '\'' && last != '"') return false;
  size_t w = Expression.size();
  while (w > 0 && IsSelectNameChar(Expression[w - 1])) --w;
  const std::string lastWord = Expression.substr(w);
  return lastWord.empty() || !IsReservedWord(lastWord) || SameText(lastWord, "NULL");
}

int32_t ParseSQLParams(std::string_view SQL, TStrings* ParamNames, TStrings* SelectItems, TStrings* /*Analysis*/,
                       std::string& ServerSQL, char MarkerChar, bool KeepComments, int32_t& KeptCommentChars) {
  KeptCommentChars = 0;
  if (ParamNames) ParamNames->Clear();
  if (SelectItems) SelectItems->Clear();

  int32_t selStart, selEnd;
  LocateSQLSelect(SQL, selStart, selEnd, false);
  const int32_t selectEnd = selStart > 0 ? selEnd : 0;
  const int32_t listStart = selStart > 0 ? selStart + 6 : 0;
  const bool collectItems = SelectItems != nullptr && selStart > 0;
  TSelectItemCollector items(SelectItems);
  bool itemsDone = !collectItems;
  int32_t listDepth = 0;

  std::string out;
  out.reserve(SQL.size() + SQL.size() / 8 + 16);
  // Firebird describes the markers in the order they stand in the text (a select list's, a WITH list's,
  // a derived table's alike): the names follow that order.
  std::vector<std::string> names;
  int32_t selectParams = 0;
  int32_t number = 0;
  bool collecting = false;
  std::string name;
  int32_t namePos = 0;

  auto finishName = [&] {
    if (name.empty()) name = "PRM_" + IntToStr(number);
    out += " /* ";
    out += name;
    out += " */ ";
    if (namePos > selStart && namePos <= selectEnd) ++selectParams;
    names.push_back(std::move(name));
    name.clear();
    ++number;
    collecting = false;
  };

  bool inSingle = false, inDouble = false, inBlock = false, inLine = false;
  int32_t skip = 0, bracket = 0, paren = 0;
  int32_t blockStart = 0;
  const int32_t n = static_cast<int32_t>(SQL.size());
  int32_t pos = 1;
  while (pos <= n) {
    if (!itemsDone && pos >= selectEnd) {
      items.Finish();
      itemsDone = true;
    }
    if (pos == listStart) listDepth = paren;
    const bool wasBlock = inBlock, wasLine = inLine;
    ScanSQLChar(SQL, pos, inSingle, skip, bracket, paren, inBlock, inLine, inDouble);
    const bool blockMove = !wasLine && !inLine && (wasBlock || inBlock);
    const bool lineMove = !wasBlock && !inBlock && (wasLine || inLine);
    if ((wasBlock || inBlock || wasLine || inLine) && !blockMove && !lineMove) {
      IB_Raise<Exception>(IBMsg::InvalidParserState);
    }
    const int32_t width = 1 + skip;
    const bool inList = !itemsDone && pos >= listStart;

    if (wasBlock || inBlock || inLine) {
      // Comment characters: opener, body and closer.
      if (!wasBlock && inBlock) blockStart = pos;
      if (collecting) finishName();
      if (wasBlock || inBlock) {
        if (KeepComments) {
          out.append(SQL.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(width)));
          KeptCommentChars += width;
        } else if (wasBlock && !inBlock && !out.empty() && static_cast<unsigned char>(out.back()) > ' ') {
          out += ' ';  // keeps the words around a dropped comment apart
        }
      }
      if (inList) items.CommentSkipped();
      pos += width;
      continue;
    }

    const char c = SQL[pos - 1];
    const bool topLevel = !inSingle && !inDouble && paren == listDepth;
    if (collecting) {
      if (c == '"' || inDouble || ib_parse::IsParamNameChar(c)) {
        name += c;
        if (inList) items.AddChar(c, false);
        pos += width;
        continue;
      }
      finishName();
    }
    if (!inSingle && !inDouble && bracket <= 0 && (c == '?' || (MarkerChar != '\0' && c == MarkerChar))) {
      out += '?';
      collecting = true;
      namePos = pos;
    } else {
      out += c;
    }
    if (inList) {
      if (c == ',' && topLevel) {
        items.Finish();
      } else {
        items.AddChar(c, topLevel);
      }
    }
    pos += width;
  }
  if (collecting) finishName();
  if (!itemsDone) items.Finish();
  // A block comment the text never closes is sent as written: dropping it would hand the server a
  // shorter statement (DELETE FROM T /* WHERE ...) where the engine refuses the text as it stands.
  if (inBlock && !KeepComments) out.append(SQL.substr(static_cast<size_t>(blockStart - 1)));

  if (ParamNames) {
    auto update = MakeBracket(*ParamNames, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
    for (const std::string& p : names) ParamNames->Add(p);
    update.End();
  }
  ServerSQL = std::move(out);
  return selectParams;
}

int32_t ConvertParamsToMarkers(std::string_view SQL, std::string& ServerSQL) {
  int32_t kept = 0;
  return ParseSQLParams(SQL, nullptr, nullptr, nullptr, ServerSQL, '\0', false, kept);
}

void GetForUpdateColumns(std::string_view SQL, TStrings& Columns) {
  auto update = MakeBracket(Columns, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  {
    Columns.Clear();
    std::string server;
    ConvertParamsToMarkers(SQL, server);
    const std::string clause = GetSQLForUpdate(server);
    size_t p = 0;
    if (ib_parse::NextWord(clause, p) == "FOR" && ib_parse::NextWord(clause, p) == "UPDATE" &&
        ib_parse::NextWord(clause, p) == "OF") {
      // The column list runs to the end of the clause or to WITH LOCK; blanks outside double quotes go.
      std::string list;
      bool quoted = false;
      for (size_t i = p; i < clause.size(); ++i) {
        const char c = clause[i];
        if (c == '"') quoted = !quoted;
        if (!quoted && (i == p || !ib_parse::IsParamNameChar(clause[i - 1])) && i + 4 <= clause.size() &&
            SameText(std::string_view(clause).substr(i, 4), "WITH") &&
            (i + 4 == clause.size() || !ib_parse::IsParamNameChar(clause[i + 4]))) {
          break;
        }
        if (!quoted && static_cast<unsigned char>(c) <= ' ') continue;
        list += c;
      }
      Columns.SetCommaText(list);
    }
  }
  update.End();
}

void ExpandSQLMacros(std::string_view Text, char BeginChar, char EndChar, std::string& Result,
                     const TIB_MacroHandler& Handler) {
  Result.clear();
  if (!Handler) return;
  auto isNameChar = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
  };
  std::string r;
  r.reserve(Text.size());
  const size_t n = Text.size();
  size_t i = 0;
  while (i < n) {
    if (Text[i] == BeginChar && i + 1 < n && Text[i + 1] == BeginChar) {
      size_t j = i + 2;
      while (j < n && isNameChar(Text[j])) ++j;
      if (j > i + 2 && j + 1 < n && Text[j] == EndChar && Text[j + 1] == EndChar) {
        r += Handler(std::string(Text.substr(i + 2, j - i - 2)));
        i = j + 2;
      } else {
        r.append(Text.substr(i, j - i));
        i = j;
      }
      continue;
    }
    r += Text[i++];
  }
  Result = std::move(r);
}
