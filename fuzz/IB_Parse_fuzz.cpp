// Fuzz target of the SQL text toolkit: the scanner and clause search, clause getters and setters,
// parameter scanning, statement builders, the list escapes (which must round-trip every input), and the
// words of a statement (command words, FROM-clause words, control characters as blanks).
//
// The first byte of an input picks one routine family and, for the clause setters, the clause; the
// rest is the text. One family per input keeps each run short (a handful of whole-text searches rather
// than all of them), so the fuzzer tries far more inputs in its time.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dblib/sql/IB_Parse.h"
#include "platform/SysUtils.h"

namespace {

void Check(bool Condition) {
  if (!Condition) __builtin_trap();
}

using TGetter = std::string (*)(std::string_view);
using TSetter = void (*)(std::string&, std::string_view);
constexpr TGetter kGetters[] = {GetSQLSelect, GetSQLFrom, GetSQLWhere, GetSQLGroup,    GetSQLHaving,
                                GetSQLUnion,  GetSQLPlan, GetSQLOrder, GetSQLForUpdate};
constexpr TSetter kSetters[] = {SetSQLSelect, SetSQLFrom, SetSQLWhere, SetSQLGroup,    SetSQLHaving,
                                SetSQLUnion,  SetSQLPlan, SetSQLOrder, SetSQLForUpdate};
constexpr int kClauseCount = sizeof kGetters / sizeof kGetters[0];

void Getters(const std::string& SQL) {
  for (TGetter get : kGetters) (void)get(SQL);
}

// One clause: replaced, then removed; a removed clause reads back empty.
void Setter(int Clause, const std::string& SQL, const std::string& NewClause) {
  std::string t = SQL;
  kSetters[Clause](t, NewClause);
  kSetters[Clause](t, "");
}

void Search(const std::string& SQL, const std::string& Clause) {
  int32_t start = static_cast<int32_t>(Clause.size() % (SQL.size() + 2));
  int32_t end = static_cast<int32_t>(SQL.size() % (Clause.size() + 3));
  std::string matched;
  FindSQLClause(SQL, Clause.substr(0, 8), Clause.size() % 2 == 0, {"(", "'X'", ";", "FROM"}, start, end, matched,
                Clause.size() % 3 == 0, Clause.size() % 5 == 0);
  std::string t = SQL;
  ReplaceSQLRange(t, Clause, static_cast<int32_t>(Clause.size()) - 3, static_cast<int32_t>(SQL.size()) - 2);
}

void Params(const std::string& SQL) {
  TStringList names, items;
  std::string server;
  int32_t kept = 0;
  int32_t selectCount = ParseSQLParams(SQL, &names, &items, nullptr, server, ':', false, kept);
  Check(selectCount >= 0 && selectCount <= names.Count() && kept == 0);
  // Each select item splits into an expression and an alias, both present, or not at all.
  for (int i = 0; i < items.Count(); ++i) {
    std::string item, expression, alias;
    UnescapeListText(items[i], item);
    if (SplitSelectItem(item, expression, alias)) Check(!expression.empty() && !alias.empty());
  }
  {
    std::string expression, alias;
    if (SplitSelectItem(SQL, expression, alias)) Check(!expression.empty() && !alias.empty());
  }
  ParseSQLParams(SQL, &names, &items, nullptr, server, '?', true, kept);
  Check(kept >= 0 && static_cast<size_t>(kept) <= SQL.size());
  ConvertParamsToMarkers(SQL, server);
  GetForUpdateColumns(SQL, names);
}

void Builders(const std::string& SQL, const std::string& Other) {
  std::string r;
  MakeRecordCountSQL(SQL, r);
  // The count names the markers it keeps in the order of the text, each once, and sends the same text.
  std::vector<int32_t> marks;
  std::string counted;
  MakeRecordCountSQL(SQL, counted, &marks);
  Check(counted == r);
  for (size_t i = 0; i < marks.size(); ++i) Check(marks[i] >= 0 && (i == 0 || marks[i] > marks[i - 1]));
  TStringList keys;
  keys.Add("ID");
  keys.Add(Other);
  int32_t selectParams = 0;
  MakeKeyLookupSQL(SQL, Other, keys, selectParams, r);
  std::string w = SQL;
  AppendWhereCondition(w, Other);
  w = SQL;
  PrependWhereCondition(w, Other);
  ExpandSQLMacros(SQL, '<', '>', r, [&](const std::string& Name) { return Name + Other; });
}

void Words(const std::string& SQL) {
  std::string r;
  IsProcedureOrTriggerDDL(SQL);
  // Whatever the name, it comes out as one word: a plain name or one whole quoted name, spelled the same
  // when it goes through again; below dialect 3 no quote it holds is left unpaired.
  for (auto* make : {&MakeSQLIdent, &MakeSQLIdentExact}) {
    make(3, SQL, r);
    std::string again;
    make(3, r, again);
    Check(again == r);
    Check(IsQuotedIdent(r) || r.find_first_of("\"' ()+,;-/*=<>|.\t\r\n") == std::string::npos);
    make(1, SQL, r);
    Check(IsQuotedIdent(r) || r.find('"') == std::string::npos);
  }
  RemoveParenthesesAndLiterals(SQL, 1, r);
  if (SQL.size() >= 8) {
    ISC_TIMESTAMP ts;
    std::memcpy(&ts, SQL.data(), sizeof ts);
    ts.timestamp_time %= 864000000u;
    if (ts.timestamp_date >= -678575 && ts.timestamp_date <= 2973483) {  // years 1..9999
      const ISC_TIMESTAMP back = DateTimeToIscTimestamp(IscTimestampToDateTime(ts));
      Check(back.timestamp_date == ts.timestamp_date && back.timestamp_time == ts.timestamp_time / 10 * 10);
    }
  }
  XSQLVAR var{};
  try {
    XSQLVARFromDefString(SQL, 3, var);
    Check(var.aliasname_length <= 31 && var.relname_length <= 31 && var.sqlname_length <= 31);
  } catch (const Exception& e) {
    // A text that is no column definition is refused with its own message, nothing else.
    Check(std::strncmp(e.what(), "Invalid XSQLVAR Def string: ", 28) == 0);
  }
}

// The words of a statement: the command-text words, the FROM clause's words, the relation a qualifier
// stands for and the qualifier a relation's columns take, the relations it reads, whether it folds rows by
// a DISTINCT, plain column references, its lock clause, and the blanking of control characters.
void StatementWords(const std::string& SQL, const std::string& Qualifier) {
  const std::string blank = BlankControlChars(SQL);
  Check(blank.size() == SQL.size());
  for (size_t i = 0; i < SQL.size(); ++i) {
    Check(static_cast<unsigned char>(SQL[i]) < ' ' ? blank[i] == ' ' : blank[i] == SQL[i]);
  }
  const size_t max = Qualifier.size() % 9;
  const std::vector<std::string> words = SQLWords(SQL, max);
  Check(words.size() <= max);
  for (const std::string& w : words) Check(!w.empty() && w == UpperCase(w));
  const std::string from = GetSQLFrom(SQL);
  const std::vector<std::string> fromWords = FromClauseWords(from);
  size_t letters = 0;
  for (const std::string& w : fromWords) {
    Check(!w.empty());
    letters += w.size();
  }
  Check(letters <= from.size());
  const std::string relation = QualifiedRelation(SQL, Qualifier);
  if (!relation.empty()) {
    bool found = false;
    for (const std::string& w : fromWords) found = found || w == relation;
    Check(found);
  }
  // The qualifier of a relation's columns is a name or an alias the FROM clause writes.
  const std::string qualifier = FromClauseQualifier(SQL, Qualifier);
  if (!qualifier.empty()) {
    bool found = false;
    for (const std::string& w : fromWords) found = found || w == qualifier;
    Check(found);
  }
  RelationNamedOutsideSelectList(SQL, Qualifier);
  SelectsDistinct(SQL);
  // A plain column reference holds no blank, parenthesis or operator outside its quotes.
  if (IsPlainColumnReference(Qualifier)) {
    const std::string t = Trim(Qualifier);
    bool quoted = false;
    for (char c : t) {
      if (c == '"') quoted = !quoted;
      if (!quoted) Check(c == '"' || c == '.' || c == '_' || c == '$' || std::isalnum(static_cast<unsigned char>(c)));
    }
  }
  // The lock clause taken out of a statement: what stood before it stays.
  if (HasSQLLock(SQL)) {
    std::string s = SQL;
    RemoveSQLLock(s);
    Check(s.size() < SQL.size() + 4);
  }
}

void Escapes(const std::string& Data, const std::string& Name) {
  std::string escaped, back;
  EscapeListText(Data, escaped);
  UnescapeListText(escaped, back);
  Check(back == Data);
  // The escaped text carries no separator of its own, so it reads back whole as an attribute value.
  std::string value;
  int32_t namePos = 0, endPos = 0;
  ParseAttributeText("A;V=" + escaped + ";B", "V", namePos, value, endPos);
  Check(namePos == 3 && value == Data);
  ParseAttributeText(Data, Name, namePos, value, endPos);
  Check(endPos >= 0 && static_cast<size_t>(endPos) <= Data.size() + 1);
  UnescapeListText(Data, back);
  TStringList items;
  SplitListText(Data, items);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const uint8_t family = Data[0];
  const std::string all(reinterpret_cast<const char*>(Data + 1), Size - 1);
  // A 0x01 byte splits the text into a statement and a second text (a clause, a condition, a name).
  const size_t cut = all.find('\x01');
  const std::string sql = all.substr(0, cut);
  const std::string other = cut == std::string::npos ? std::string() : all.substr(cut + 1);
  // Families 0-5, then one per clause setter, then the statement words.
  constexpr int kOtherFamilies = 6;
  constexpr int kStatementWords = kOtherFamilies + kClauseCount;
  const int pick = family % (kStatementWords + 1);
  if (pick == kStatementWords) {
    StatementWords(sql, other);
    return 0;
  }
  switch (pick) {
    case 0: Getters(sql); break;
    case 1: Search(sql, other); break;
    case 2: Params(sql); break;
    case 3: Builders(sql, other); break;
    case 4: Words(sql); break;
    case 5: Escapes(all, other); break;
    default: Setter(pick - kOtherFamilies, sql, other); break;
  }
  return 0;
}
