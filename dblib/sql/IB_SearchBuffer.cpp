// Query by example on the library's objects.
#include "dblib/sql/IB_SearchBuffer.h"

#include <atomic>

#include "dblib/IB_Connection.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Statement.h"
#include "dblib/data/IB_Column.h"

namespace {

std::string AttributeParam(TIB_Column& C, const char* Name, bool& Found) {
  Found = C.HasAttribute(Name);
  return Found ? C.GetAttributeParam(Name, Found) : std::string();
}

// The item of the statement's SELECT list at the column's position, without its alias; empty when it
// cannot be told (the list has a "*" before the column).
std::string SelectItemOf(TIB_Column& C) {
  auto* st = dynamic_cast<TIB_Statement*>(C.GetStatement());
  if (!st) return {};
  TStringList items;
  std::string server;
  int32_t kept = 0;
  ParseSQLParams(st->GetSQL().GetText(), nullptr, &items, nullptr, server, '\0', false, kept);
  const int index = C.GetFieldNo();
  if (index < 0 || index >= items.Count()) return {};
  for (int i = 0; i <= index; ++i)
    if (items[i] == "<*>") return {};
  std::string item, expression, alias;
  UnescapeListText(items[index], item);
  return SplitSelectItem(item, expression, alias) ? expression : Trim(item);
}

}  // namespace

TIB_QBEColumn QBEColumnOf(TIB_Column& Column) {
  TIB_QBEColumn r;
  r.SQLType = Column.GetSQLType();
  r.IsText = Column.GetIsTextKind();
  r.IsNumeric = Column.GetIsNumericKind();
  r.IsDateTime = Column.GetIsDateTimeKind();
  r.Position = Column.GetFieldNo();
  r.SQLName = Column.GetSQLName();
  r.FullName = Column.GetFullName();
  r.BestName = Column.GetBestName();
  const std::string relation = Column.GetRelName();
  if (relation.empty()) {
    // An expression: the engine names it (its alias, or MULTIPLY, ADD, ...) but gives it no relation,
    // and a WHERE clause can only repeat it.
    r.SelectItem = SelectItemOf(Column);
    if (!r.SelectItem.empty()) r.SQLName.clear();
  } else {
    // The WHERE clause names the column as the select list writes it; a column that a "*" stands for is
    // qualified as the FROM clause names its relation (its alias, the derived table or WITH query that
    // reads it), for the relation's own name is unknown there.
    const std::string item = SelectItemOf(Column);
    std::string reference = item;
    if (reference.empty()) {
      auto* st = dynamic_cast<TIB_Statement*>(Column.GetStatement());
      const std::string qualifier = st ? FromClauseQualifier(st->GetSQL().GetText(), relation) : std::string();
      if (!qualifier.empty()) reference = qualifier + "." + Column.GetColumnName();
    }
    if (Column.GetColumnName() != r.SQLName) {
      r.Source = reference.empty() ? relation + "." + r.SQLName : reference;
    } else if (!reference.empty()) {
      // The select list's own spelling tells the columns of a self-join apart, where the bare name does not.
      if (!item.empty() || r.BestName == r.FullName) r.BestName = reference;
      r.FullName = reference;
    }
  }
  r.NoCase = Column.GetUpperExpression();
  if (const int16_t t = static_cast<int16_t>(r.SQLType & ~1); t == SQL_TEXT || t == SQL_VARYING)
    r.CharSetId = Column.GetSQLSubType() & 0xFF;
  // The NOCASE expression without a parameter of its own is UPPER of the column as a WHERE clause names it.
  const std::string& reference = !r.Source.empty() ? r.Source : r.SQLName.empty() ? r.SelectItem : r.FullName;
  bool noCaseParam = false;
  if (!r.NoCase.empty() && !reference.empty() && AttributeParam(Column, "NOCASE", noCaseParam).empty())
    r.NoCase = "UPPER( " + reference + " )";
  bool found = false;
  r.NoTrailing = Column.HasAttribute("NOTRAILING");
  r.YesLike = Column.HasAttribute("YESLIKE");
  r.NoSoundex = Column.HasAttribute("NOSOUNDEX");
  r.SoundexColumn = AttributeParam(Column, "SOUNDEX", found);
  for (const char* a : {"NOROUNDERR", "CURR", "COMP"})
    if (Column.HasAttribute(a)) {
      r.RoundAttr = a;
      break;
    }
  return r;
}

void SearchBufferToSQL(TIB_Column* Column, const std::string& SearchText, TStrings* WhereLines, TStrings* Macros,
                       TStrings* ParamValues) {
  if (!Column || !ParamValues || !WhereLines || SearchText.empty()) return;
  static std::atomic<int32_t> serial{0};
  auto* st = dynamic_cast<TIB_Statement*>(Column->GetStatement());
  TIB_Connection* conn = st ? st->GetIB_Connection() : nullptr;
  std::string text = SearchText;
  // The connection's hooks may destroy the column (its statement, or the statement's description, with
  // the statement's transaction or connection): the silent abort then (the connection's own death raises
  // it in its call out).
  const TIB_AliveFlag column = Column->GetAlive();
  if (conn) {
    bool defaultHandling = true;
    conn->DoProcessSearchBuffer(Column, text, WhereLines, ParamValues, Macros, defaultHandling);
    IB_CheckAlive(column);
    if (!defaultHandling) return;
  }
  TIB_QBEContext ctx;
  ctx.Serial = ++serial;
  if (st) {
    ctx.Dialect = st->GetSQLDialect();
    ctx.OnParamAttribute = [st](const std::string& Name, const std::string& Attribute) {
      TStrings& attrs = st->GetColumnAttributes();
      if (attrs.IndexOfName(Name) < 0) attrs.Add(Name + "=" + Attribute);
    };
  }
  if (conn) {
    ctx.EscapeChar = conn->EscapeCharacter;
    ctx.SoundExParse = [conn, &column](const std::string& S) {
      std::string r;
      conn->DoSoundExParse(S, r);
      IB_CheckAlive(column);
      return r;
    };
    ctx.SoundExMaxParse = [conn, &column](const std::string& S) {
      std::string r;
      conn->DoSoundExMaxParse(S, r);
      IB_CheckAlive(column);
      return r;
    };
  }
  SearchBufferToSQL(QBEColumnOf(*Column), text, *WhereLines, *ParamValues, ctx);
}
