// TIB_Dataset: rewriting the SELECT at each prepare (join, master, search and ordering conditions, the
// ORDER BY, the FOR clause, the PLAN), the key relation, the key links and the key row, the ordering
// and searching links, and the key and master sources.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_RowNames.h"
#include "dblib/dataset/IB_Dataset.h"
#include "dblib/dataset/IB_UpdateSQL.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

const char* const kOrderSeparator = "\r\n       , ";

// Splits S at the commas outside quotes and parentheses.
std::vector<std::string> SplitTopLevel(const std::string& S) {
  std::vector<std::string> items;
  std::string cur;
  int depth = 0;
  char quote = 0;
  for (char c : S) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == ',' && depth == 0) {
      items.push_back(Trim(cur));
      cur.clear();
      continue;
    }
    cur += c;
  }
  if (!Trim(cur).empty() || !items.empty()) items.push_back(Trim(cur));
  return items;
}

// Cuts a trailing direction off an ORDER BY item. Direction receives "ASC" or "DESC" (empty when the
// item has none); Nulls receives a trailing NULLS FIRST / NULLS LAST, which Firebird wants after it.
void SplitOrderItem(std::string& Item, std::string& Direction, std::string& Nulls) {
  Direction.clear();
  Nulls.clear();
  auto endsWith = [&](const char* Word) {
    const size_t n = std::strlen(Word);
    if (Item.size() <= n) return false;
    const char before = Item[Item.size() - n - 1];
    return (before == ' ' || before == ')') && SameText(std::string_view(Item).substr(Item.size() - n), Word);
  };
  auto cut = [&](size_t n) { Item = Trim(std::string_view(Item).substr(0, Item.size() - n)); };
  for (const char* w : {"NULLS FIRST", "NULLS LAST"}) {
    if (endsWith(w)) {
      Nulls = w;
      cut(std::strlen(w));
      break;
    }
  }
  static const struct {
    const char* Word;
    const char* Dir;
  } dirs[] = {{"DESCENDING", "DESC"}, {"ASCENDING", "ASC"}, {"DESC", "DESC"}, {"ASC", "ASC"}};
  for (const auto& d : dirs) {
    if (endsWith(d.Word)) {
      Direction = d.Dir;
      cut(std::strlen(d.Word));
      break;
    }
  }
}

// The value of the NOCASE attribute an attribute text gives (empty when none, or YESCASE overrides it);
// NoCase, when given, tells whether the attribute stands there.
std::string NoCaseValueOf(const std::string& Text, bool* NoCase = nullptr) {
  if (NoCase) *NoCase = false;
  if (Text.empty()) return std::string();
  int32_t pos = 0, end = 0;
  std::string value;
  ParseAttributeText(Text, "YESCASE", pos, value, end);
  if (pos != 0) return std::string();
  ParseAttributeText(Text, "NOCASE", pos, value, end);
  if (NoCase) *NoCase = pos != 0;
  return pos != 0 ? Trim(value) : std::string();
}

// A SELECT statement, also behind leading comments and a WITH list.
bool IsSelectText(const std::string& SQL) { return !GetSQLSelect(SQL).empty(); }

// RelationNamedOutsideSelectList, asked again and again for the same text: the last answer is kept.
bool ReadsFrom(const std::string& SQL, const std::string& Relation) {
  thread_local std::string lastSQL, lastRelation;
  thread_local bool lastAnswer = false;
  if (SQL != lastSQL || Relation != lastRelation) {
    lastAnswer = RelationNamedOutsideSelectList(SQL, Relation);
    lastSQL = SQL;
    lastRelation = Relation;
  }
  return lastAnswer;
}

// Takes the FOR UPDATE out of SQL; the rows that the SQL asks to lock (WITH LOCK) stay locked.
void ClearForUpdateKeepingLock(std::string& SQL) {
  SetSQLForUpdate(SQL, HasSQLLock(GetSQLForUpdate(SQL)) ? "WITH LOCK" : "");
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Clauses

TIB_StringList& TIB_Dataset::GetSQLClause(int N) {
  if (N < 1 || N > 9) IB_Raise<EIB_DatasetError>(IBMsg::InvalidSQLClauseNumber, {N});
  TIB_StringList& list = FClauses[N - 1];
  const std::string sql = FSQL->GetText();
  static std::string (*const getters[9])(std::string_view) = {GetSQLSelect, GetSQLFrom,   GetSQLWhere,
                                                              GetSQLGroup,  GetSQLHaving, GetSQLUnion,
                                                              GetSQLPlan,   GetSQLOrder,  GetSQLForUpdate};
  const TNotifyEvent saved = list.OnChange;
  list.OnChange = nullptr;
  list.SetText(getters[N - 1](sql));
  list.OnChange = saved;
  return list;
}

void TIB_Dataset::SetSQLClause(int N, const std::string& Text) {
  if (N < 1 || N > 9) IB_Raise<EIB_DatasetError>(IBMsg::InvalidSQLClauseNumber, {N});
  static void (*const setters[9])(std::string&, std::string_view) = {SetSQLSelect, SetSQLFrom,   SetSQLWhere,
                                                                     SetSQLGroup,  SetSQLHaving, SetSQLUnion,
                                                                     SetSQLPlan,   SetSQLOrder,  SetSQLForUpdate};
  std::string sql = FSQL->GetText();
  setters[N - 1](sql, Text);
  TValueRestorer<int> writing(FClauseWriting, N);
  FSQL->SetText(sql);
}

// ---------------------------------------------------------------------------------------------------------
// Key relation and key links

std::string TIB_Dataset::GetKeyRelation() {
  std::string r = TIB_Statement::GetKeyRelation();
  // The columns' one relation is the key relation when the statement reads from it, not when only a
  // scalar sub-select of the select list does.
  if (!r.empty() && (!FKeyRelation.empty() || ReadsFrom(FSQL->GetText(), r))) return r;
  std::string from = Trim(GetSQLFrom(FSQL->GetText()));
  if (from.size() < 5) return std::string();
  std::string text;
  ConvertParamsToMarkers(Trim(std::string_view(from).substr(5)), text);
  text = Trim(BlankControlChars(text));
  const std::string upper = UpperCase(text);
  if (StrPosOutsideQuotes(" JOIN ", upper, 1) > 0 || CharPosOutsideQuotes(',', upper, 1) > 0) return std::string();
  // The table without its alias; a quoted name keeps its exact spelling.
  size_t end = 0;
  if (!text.empty() && text[0] == '"') {
    end = text.find('"', 1);
    end = end == std::string::npos ? text.size() : end + 1;
  } else {
    end = text.find(' ');
    if (end == std::string::npos) end = text.size();
  }
  r = text.substr(0, end);
  if (r.empty() || r[0] != '"' || GetSQLDialect() < 3) r = UpperCase(r);
  return r;
}

void TIB_Dataset::SetKeyLinks(const TStrings& Value) {
  TIB_StringList copy;
  copy.Assign(Value);
  for (int i = copy.Count() - 1; i >= 0; --i) {
    if (Trim(copy.Get(i)).empty()) copy.Delete(i);
  }
  FKeyLinks.Assign(copy);
}

TIB_StringProperty& TIB_Dataset::DefineKeyLinks() {
  if (!FPreparing || !FKeyLinksAutoDefine || FDefiningKeyLinks || FKeyLinks.Count() > 0 || GetIsBindingCursor()) {
    return FKeyLinks;
  }
  TValueRestorer<bool> guard(FDefiningKeyLinks, true);
  const std::string sql = FSQL->GetText();
  // Rows folded by SELECT DISTINCT or an aggregate are no relation's rows (IS DISTINCT FROM folds none).
  if (SelectsDistinct(GetSQLSelect(sql)) || SQLIsAggregate() || SQLIsSelectProc() ||
      !Trim(GetSQLUnion(sql)).empty()) {
    return FKeyLinks;
  }
  const std::string rel = GetKeyRelation();
  if (rel.empty()) return FKeyLinks;
  TIB_StringList keys;
  TIB_ConnectionSchemaCache* cache = GetIB_Connection() ? GetIB_Connection()->GetSchemaCache() : nullptr;
  std::string bare;
  StripQuotes(rel, bare);
  if (cache) cache->GetTableKeys(rel[0] == '"' ? bare : rel, keys);
  // The SELECT list as words: the key columns must be among them (unless it selects "*").
  std::string list;
  ConvertParamsToMarkers(GetSQLSelect(sql), list);
  std::string plain;
  RemoveParenthesesAndLiterals(list, GetSQLDialect(), plain);
  plain = UpperCase(plain);
  auto selects = [&](const std::string& Column) {
    std::string col = UpperCase(Column);
    // Whole identifiers only: a column named ID is not found inside ID2 or GRID.
    size_t pos = 0;
    while ((pos = plain.find(col, pos)) != std::string::npos) {
      const auto isIdent = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; };
      const bool startOk = pos == 0 || (!isIdent(plain[pos - 1]) && plain[pos - 1] != '"');
      const size_t e = pos + col.size();
      const bool endOk = e >= plain.size() || (!isIdent(plain[e]) && plain[e] != '"');
      if (startOk && endOk) return true;
      pos = e;
    }
    return false;
  };
  const bool star = plain.find('*') != std::string::npos;
  TIB_StringList links;
  for (int i = 0; i < keys.Count(); ++i) {
    const std::string item = keys.Get(i);
    const size_t dot = item.find('.');
    const std::string column = dot == std::string::npos ? item : item.substr(dot + 1);
    if (!star && !selects(column)) {
      links.Clear();
      break;
    }
    links.Add(rel + "." + FormatSQLName(GetSQLDialect(), column));
  }
  FDBKeyUsed = false;
  if (links.Count() == 0) {
    // Rows of a relation without a usable primary key are named by their DB_KEY, when it is selected.
    if (!star && (selects("RDB$DB_KEY") || selects("DB_KEY"))) {
      links.Add(rel + ".RDB$DB_KEY");
      FDBKeyUsed = true;
    }
  }
  {
    const TNotifyEvent saved = FKeyLinks.OnChange;
    FKeyLinks.OnChange = nullptr;
    FKeyLinks.Assign(links);
    FKeyLinks.OnChange = saved;
  }
  FKeyLinksAutoDefined = FKeyLinks.Count() > 0;
  return FKeyLinks;
}

void TIB_Dataset::SysDescribeFields(TIB_Row& Row) {
  if (Row.GetRowType() != rtKey) {
    TIB_Statement::SysDescribeFields(Row);
    if (Row.GetRowType() == rtFields) AdoptKeyRelationColumns(Row);
    return;
  }
  XSQLDA* da = Row.GetPSQLDA();
  if (!da) return;
  if (FKeyLinks.Count() > 0) {
    for (int i = 0; i < da->sqld && i < FKeyLinks.Count(); ++i) {
      const std::string name = Trim(FKeyLinks.GetName(i).empty() ? FKeyLinks.Get(i) : FKeyLinks.GetName(i));
      TIB_Column* c = nullptr;
      if (!FFields->FindByName(name, c)) IB_Raise<EIB_Error>(IBMsg::InvalidKeyLinksEntry, {FKeyLinks.Get(i)});
      XSQLVAR& var = da->sqlvar[i];
      var = *c->GetPSQLVAR();
      var.sqldata = nullptr;
      var.sqlind = nullptr;
      if (XSQLVARText(var.sqlname, var.sqlname_length) == "DB_KEY")
        SetXSQLVARText(var.sqlname, var.sqlname_length, "RDB$DB_KEY");
    }
    return;
  }
  if (da->sqld != 1) IB_Raise<EIB_Error>(IBMsg::InvalidKeyLinksEntry, {"<BLANK>"});
  XSQLVAR& var = da->sqlvar[0];
  var = XSQLVAR{};
  var.sqltype = SQL_LONG;
  var.sqllen = 4;
  var.sqlname_length = var.relname_length = var.ownname_length = -1;
  SetXSQLVARText(var.aliasname, var.aliasname_length, "KEYROWNUM");
}

void TIB_Dataset::AdoptKeyRelationColumns(TIB_Row& Row) {
  // The columns of a query over a WITH list (a recursive one above all) come without their relation.
  // With a key relation given, a column named like one of its columns stands for it, so that the key
  // links find it and edits write it.
  XSQLDA* da = Row.GetPSQLDA();
  if (!da || FKeyRelation.empty() || !GetSQLStartsWithWith()) return;
  TIB_ConnectionSchemaCache* cache = GetIB_Connection() ? GetIB_Connection()->GetSchemaCache() : nullptr;
  if (!cache) return;
  std::string rel;
  StripQuotes(Trim(FKeyRelation), rel);
  if (!IsQuoted(Trim(FKeyRelation), '"')) rel = UpperCase(rel);
  TIB_StringList columns;
  cache->GetTableFields(rel, columns);
  for (int i = 0; i < da->sqld; ++i) {
    XSQLVAR& var = da->sqlvar[i];
    if (var.relname_length > 0 || var.sqlname_length > 0) continue;
    const std::string name = XSQLVARText(var.aliasname, var.aliasname_length);
    if (name.empty() || columns.IndexOf(name) < 0) continue;
    SetXSQLVARText(var.relname, var.relname_length, rel);
    SetXSQLVARText(var.sqlname, var.sqlname_length, name);
  }
}

void TIB_Dataset::MarkSelectDerivedColumns() {
  if (FRowsShared) return;
  const TIB_StringList& items = GetSelectColumnList();
  // Items after a "*" the statement could not spell out are not known by position.
  const bool known = items.IndexOf("<*>") < 0;
  for (int k = 0; k < FFields->GetColumnCount(); ++k) {
    TIB_Column* c = FFields->GetColumns(k);
    const int i = c->GetFieldNo();
    bool derived = false;
    if (known && i >= 0 && i < items.Count() && c->GetPSQLVAR()->relname_length > 0) {
      // "ALIAS=expression" (escaped) for an item with an alias, else the item itself; a plain name reads
      // the same escaped.
      const std::string entry = items.Get(i);
      if (!IsPlainColumnReference(entry)) {
        size_t eq = 0;
        while ((eq = entry.find('=', eq)) != std::string::npos && eq > 0 && entry[eq - 1] == '\\') ++eq;
        std::string text, expression, alias;
        UnescapeListText(eq == std::string::npos ? entry : entry.substr(eq + 1), text);
        if (eq != std::string::npos || !SplitSelectItem(text, expression, alias)) expression = text;
        derived = !IsPlainColumnReference(expression);
      }
    }
    c->SetSelectDerived(derived);
  }
}

// Which fields feed which key columns, worked out once per layout; a null source is the row number of a
// dataset without key links.
void TIB_Dataset::BuildKeyCopy() {
  TIB_Row* key = FKeyFields.get();
  FKeyCopy.clear();
  if (FKeyLinks.Count() == 0) {
    FKeyCopy.emplace_back(nullptr, key->GetColumns(0));
  } else {
    for (int i = 0; i < key->GetColumnCount() && i < FKeyLinks.Count(); ++i) {
      const std::string name = Trim(FKeyLinks.GetName(i).empty() ? FKeyLinks.Get(i) : FKeyLinks.GetName(i));
      TIB_Column* f = nullptr;
      if (FFields->FindByName(name, f)) FKeyCopy.emplace_back(f, key->GetColumns(i));
    }
  }
  FKeyCopyValid = true;
}

void TIB_Dataset::FillKeyRow() {
  TIB_Row* key = FKeyFields.get();
  if (!key || FRowsShared || key->GetColumnCount() == 0) return;
  if (key->GetRowState() != rsUnmodified) key->SetRowState(rsUnmodified);
  if (!FKeyCopyValid) BuildKeyCopy();
  for (const auto& [f, k] : FKeyCopy) CopyKeyValue(f ? f->GetPSQLVAR() : nullptr, *k->GetPSQLVAR(), FRowNum);
}

bool TIB_Dataset::KeyColumnsFromKeyRelation() {
  const std::string rel = GetKeyRelation();
  TIB_Row* keys = GetKeyFieldsRow();
  if (rel.empty() || keys->GetColumnCount() == 0) return false;
  const std::string first = keys->GetColumns(0)->GetRelName();
  for (int i = 0; i < keys->GetColumnCount(); ++i) {
    const std::string r = keys->GetColumns(i)->GetRelName();
    if (r.empty() || !SameText(r, first)) return false;
  }
  std::string a, b;
  StripQuotes(first, a);
  StripQuotes(rel, b);
  return SameText(a, b);
}

// ---------------------------------------------------------------------------------------------------------
// The prepare's building hooks

void TIB_Dataset::SysBuildForUpdate() {
  // The rewriting below would blank a NUL byte and send what follows it: refused before anything is built.
  CheckSQLTextSendable(FSQL->GetText());
  TIB_Statement::SysBuildForUpdate();
  if (FBuildingPlan) return;
  FAddedConditions.Clear();
  FSearchConditions.Clear();
  FWhereChanged = false;
  FOrderChanged = false;
  std::string sql = FSQL->GetText();
  const bool forClause = !Trim(GetSQLForUpdate(sql)).empty();
  if (GetReadOnly() || FCachedUpdates || (FPreventEditing && FPreventDeleting)) {
    if (forClause) {
      ClearForUpdateKeepingLock(sql);
      FSQL->SetText(sql);
    }
    return;
  }
  if (FRequestLive && !(FSearchedEdits && FSearchedDeletes) && !forClause && IsSelectText(sql)) {
    SetSQLForUpdate(sql, "FOR UPDATE");
    FSQL->SetText(sql);
  }
}

void TIB_Dataset::SysSubstituteMacros() {
  TIB_Statement::SysSubstituteMacros();
  auto expand = [this](const std::string& Text) {
    std::string result;
    ExpandSQLMacros(Text, FMacroBegin, FMacroEnd, result, [this](const std::string& Name) {
      std::string text;
      if (OnMacroSubstitute) CallOutWatching(OnMacroSubstitute, this, Name, text);
      return text;
    });
    return result;
  };
  if (!FKeyRelation.empty()) FKeyRelation = expand(FKeyRelation);
  for (TIB_StringProperty* l : {&FKeyLinks, &FKeyDescLinks, &FJoinLinks, &FMasterLinks, &FMasterParamLinks,
                                &FOrderingItems, &FOrderingLinks, &FSearchingLinks}) {
    const std::string text = l->GetText();
    const std::string expanded = expand(text);
    if (expanded != text) {
      const TNotifyEvent saved = l->OnChange;
      l->OnChange = nullptr;
      l->SetText(expanded);
      l->OnChange = saved;
    }
  }
}

bool TIB_Dataset::FindOrderingLink(const std::string& Name, std::string& Value) {
  Value.clear();
  const int i = FOrderingLinks.IndexOfLinkName(Name);
  if (i < 0) return false;
  Value = FOrderingLinks.GetValueFromIndex(i);
  return true;
}

void TIB_Dataset::SysPrepare() {
  if (FState == dssSearch && !FPreparing) ProcessLinkEvent(sleUpdateData);
  TIB_Statement::SysPrepare();
}

void TIB_Dataset::DoPrepareSQL() {
  TIB_Statement::DoPrepareSQL();
  const std::string& text = FSQL->GetText();
  if (SysIsBuffered() && Trim(text).empty()) IB_Raise<EIB_StatementError>(IBMsg::CannotPrepareABlankStatement);
  CheckSQLTextSendable(text);
  if (!FSearchText.empty() && IsSelectText(FSQL->GetText())) FSearchConditions.Add("( " + BlankControlChars(FSearchText) + " )");
}

bool TIB_Dataset::SysNeedPlan() {
  if (TIB_Statement::SysNeedPlan()) return true;
  if (FOrderingItemNo == 0 || FOrderingLink.empty()) return false;
  const int i = FOrderingLinks.IndexOfLinkName(FOrderingLink);
  if (i < 0) return false;
  std::string value;
  FOrderingLinks.GetLinkAttributeAt(i, "POS", value);
  bool pos = false;
  std::string unused;
  FOrderingLinks.FindLinkAttribute(FOrderingLink, "POS", unused, pos);
  FOrderingLinks.GetLinkAttributeAt(i, FOrderingItemNo > 0 ? "PLANASC" : "PLANDESC", value);
  return pos || !Trim(value).empty();
}

void TIB_Dataset::SysBuildPlan() {
  if (FOrderingItemNo == 0 || FOrderingLink.empty()) return;
  const int i = FOrderingLinks.IndexOfLinkName(FOrderingLink);
  if (i < 0) return;
  const bool asc = FOrderingItemNo > 0;
  bool pos = false;
  std::string unused;
  FOrderingLinks.FindLinkAttribute(FOrderingLink, "POS", unused, pos);
  if (pos) {
    std::string expr = FOrderingLink;
    TIB_Column* c = nullptr;
    if (FFields->FindByName(FOrderingLink, c)) {
      if (HasColumnAttribute(*c, "NOCASE")) {
        const std::string v = Trim(GetColumnAttributeValue(*c, "NOCASE"));
        expr = v.empty() ? "UPPER( " + FOrderingLink + " )" : v;
      }
    } else {
      // The fields row is described after the SQL is built: on the first prepare the attribute lists
      // are asked by the column's name.
      bool noCase = false;
      const std::string v = NoCaseExpressionByName(FOrderingLink, &noCase);
      if (noCase) expr = v.empty() ? "UPPER( " + FOrderingLink + " )" : v;
    }
    std::string bare;
    StripQuotes(FOrderingLink, bare);
    FAddedConditions.Add(expr + (asc ? " /*<*/ >= ?" : " /*>*/ <= ?") + "OLNK_" + bare);
  }
  std::string plan;
  FOrderingLinks.GetLinkAttributeAt(i, asc ? "PLANASC" : "PLANDESC", plan);
  plan = Trim(plan);
  if (!plan.empty()) {
    std::string sql = FSQL->GetText();
    SetSQLPlan(sql, "PLAN " + plan);
    FSQL->SetText(sql);
  }
}

void TIB_Dataset::AddConditionsToWhere(const TStrings& List, std::string& Where, bool InFront) {
  int depth = 0;
  std::string item;
  std::string connector = " AND ";
  bool pending = false;
  for (int i = 0; i < List.Count(); ++i) {
    const std::string line = Trim(List.Get(i));
    if (line.empty()) continue;
    if (line == "(") {
      if (pending) item += connector;
      connector = " AND ";
      ++depth;
      item += "(";
      pending = false;
    } else if (line == ")") {
      --depth;
      if (depth < 0) IB_Raise<EIB_Error>(IBMsg::InvalidSyntaxExtraOrMissingParenthesis);
      item += ")";
      pending = true;
    } else if (depth > 0 && (SameText(line, "AND") || SameText(line, "OR"))) {
      connector = SameText(line, "AND") ? " AND " : " OR ";
    } else {
      if (pending) item += connector;
      connector = " AND ";
      item += line;
      pending = true;
    }
    if (depth == 0 && !item.empty()) {
      if (InFront) {
        PrependWhereCondition(Where, item);
      } else {
        AppendWhereCondition(Where, item);
      }
      item.clear();
      pending = false;
    }
  }
  if (depth != 0) IB_Raise<EIB_Error>(IBMsg::InvalidSyntaxExtraOrMissingParenthesis);
}

std::string TIB_Dataset::MasterParamName(int Index) {
  std::string name = Trim(FMasterLinks.GetName(Index));
  const int dot = CharPosOutsideQuotes('.', name, 1);
  if (dot > 0) name = name.substr(static_cast<size_t>(dot));
  if (IsQuoted(name, '"')) {
    std::string bare;
    StripQuotes(name, bare);
    name = bare;
  } else {
    name = UpperCase(name);
  }
  name = "MLNK_" + name.substr(0, 30) + "_" + std::to_string(Index);
  return FormatSQLName(GetSQLDialect(), name);
}

void TIB_Dataset::SysBuildSelect() {
  TIB_Statement::SysBuildSelect();
  std::string sql = FSQL->GetText();
  if (!IsSelectText(sql)) return;
  std::string where = Trim(GetSQLWhere(sql));
  const std::string original = where;
  TIB_Dataset* master = GetMasterDataset();
  const bool masterOnly = FMasterSearch && master && master->FState == dssSearch &&
                          (FMasterSearchFlags & (1u << msfSearchAppliesToMasterOnly)) != 0;
  std::string base;
  if (!FBuildingPlan) {
    base = where;
    if (FJoinLinks.Count() > 0) AddConditionsToWhere(FJoinLinks, where, true);
  }
  auto addList = [&](const TStrings& List, bool InFront) {
    if (List.Count() == 0) return;
    if (FBuildingPlan) {
      // The first pass wrote the front, search and added conditions already: only the lines the plan
      // added since are new.
      if (&List == &FAddedConditions && List.Count() > FAddedConditionsBuilt) {
        TStringList added;
        for (int i = FAddedConditionsBuilt; i < List.Count(); ++i) added.Add(List.Get(i));
        AddConditionsToWhere(added, where, InFront);
      }
      return;
    }
    if (!masterOnly) AddConditionsToWhere(List, where, InFront);
    AddConditionsToWhere(List, base, InFront);
    FWhereChanged = true;
  };
  addList(FFrontConditions, true);
  // The master conditions stand also without a master source: their parameters are the master's values.
  if (!FBuildingPlan) {
    for (int i = FMasterLinks.Count() - 1; i >= 0; --i) {
      const std::string column = Trim(FMasterLinks.GetName(i));
      if (!GetIsBindingCursor()) {
        PrependWhereCondition(where, column + "=?" + MasterParamName(i));
      } else if (GetBindingKeyNullable(i)) {
        // A key part that may be null finds its row all the same.
        PrependWhereCondition(where, column + " IS NOT DISTINCT FROM ?BIND_" + std::to_string(i));
      } else {
        PrependWhereCondition(where, column + "=?BIND_" + std::to_string(i));
      }
    }
  }
  addList(FSearchConditions, false);
  addList(FAddedConditions, false);
  if (!FBuildingPlan) FAddedConditionsBuilt = FAddedConditions.Count();
  if (FBuildingPlan) {
    if (Trim(where) != Trim(GetSQLWhere(sql))) SetSQLWhere(sql, where);
  } else {
    SetSQLWhere(sql, where);
    if (FWhereChanged) {
      FBaseWhere = Trim(base.size() >= 6 ? base.substr(6) : std::string());
    } else {
      FBaseWhere = Trim(original.size() >= 6 ? original.substr(6) : std::string());
    }
    // The ORDER BY, from the ordering number or the clause as written.
    std::string text = FOrderingItemNo == 0 ? GetSQLOrder(sql) : GetOrderingSQL(FOrderingItemNo);
    // Comments go whole before the line breaks become blanks, or a line comment would run on into the
    // items after it.
    ConvertParamsToMarkers(std::string(text), text);
    text = Trim(BlankControlChars(text));
    if (text.size() >= 5 && SameText(text.substr(0, 5), "ORDER")) text = Trim(text.substr(5));
    if (text.size() >= 2 && SameText(text.substr(0, 2), "BY")) text = Trim(text.substr(2));
    while (!text.empty() && text.back() == ';') text = Trim(text.substr(0, text.size() - 1));
    FOrderWork.Clear();
    std::string order;
    if (!text.empty()) {
      for (std::string item : SplitTopLevel(text)) {
        if (item.empty()) continue;
        std::string dir, nulls;
        SplitOrderItem(item, dir, nulls);
        std::string column;
        ConvertParamsToMarkers(item, column);
        column = Trim(column);
        std::string expr = column;
        TIB_Column* c = nullptr;
        if (FFields->FindByName(column, c)) {
          if (HasColumnAttribute(*c, "NOCASE")) {
            const std::string v = Trim(GetColumnAttributeValue(*c, "NOCASE"));
            if (!v.empty()) expr = v;
          }
        } else {
          // The fields row is described after the SQL is built: on the first prepare the attribute
          // lists are asked by the column's name.
          const std::string v = NoCaseExpressionByName(column);
          if (!v.empty()) expr = v;
        }
        if (dir.empty()) dir = "ASC";
        order +=
            (order.empty() ? "ORDER BY " : kOrderSeparator) + expr + " " + dir + (nulls.empty() ? "" : " " + nulls);
        FOrderWork.Add(column + "=" + dir);
      }
    }
    if (Trim(order) != Trim(GetSQLOrder(sql))) FOrderChanged = true;
    SetSQLOrder(sql, order);
    const bool editsSearched = FSearchedEdits || FEditSQL.Count() > 0;
    const bool deletesSearched = FSearchedDeletes || FDeleteSQL.Count() > 0;
    if (editsSearched && deletesSearched) ClearForUpdateKeepingLock(sql);
  }
  if (sql != FSQL->GetText()) FSQL->SetText(sql);
  // The key links are settled while the SQL is built (the fields row is described after it).
  DefineKeyLinks();
}

std::string TIB_Dataset::NoCaseExpressionByName(const std::string& Column, bool* NoCase) {
  const int dot = CharPosOutsideQuotes('.', Column, 1);
  const std::string bare = dot > 0 ? Column.substr(static_cast<size_t>(dot)) : Column;
  std::string unquoted;
  StripQuotes(bare, unquoted);
  const std::string name = IsQuoted(bare, '"') ? unquoted : UpperCase(bare);
  std::string rel = dot > 0 ? Column.substr(0, static_cast<size_t>(dot - 1)) : GetKeyRelation();
  std::string relBare;
  StripQuotes(rel, relBare);
  rel = IsQuoted(rel, '"') ? relBare : UpperCase(rel);
  const std::string full = rel.empty() ? name : rel + "." + name;
  for (const std::string& key : {Column, name, full}) {
    const std::string text = GetColumnAttributesValue(alStatement, key);
    if (!text.empty()) return NoCaseValueOf(text, NoCase);
  }
  if (NoCase) *NoCase = false;
  return HasConnectionColumnAttributes() ? NoCaseValueOf(GetColumnAttributesValue(alConnection, full), NoCase)
                                         : std::string();
}

void TIB_Dataset::SysResetDescription() {
  TIB_Statement::SysResetDescription();
  FKeyCopyValid = false;
  FFrontConditions.Clear();
  FSearchConditions.Clear();
  FAddedConditions.Clear();
  if (!FRowsShared) FKeyFields->AllocateXSQLDA(0);
}

void TIB_Dataset::DoAfterUnprepare() {
  if (FKeyLinksAutoDefined) {
    const TNotifyEvent saved = FKeyLinks.OnChange;
    FKeyLinks.OnChange = nullptr;
    FKeyLinks.Clear();
    FKeyLinks.OnChange = saved;
    FKeyLinksAutoDefined = false;
    FDBKeyUsed = false;
  }
  FOrderWork.Clear();
  TIB_Statement::DoAfterUnprepare();
}

void TIB_Dataset::SysHook31(bool& Unprepare) {
  TIB_Statement::SysHook31(Unprepare);
  // A clause written through SetSQLClause keeps the dataset prepared: the SQL is only invalidated.
  if (FClauseWriting != 0) Unprepare = false;
  // A FOR clause written into the SQL asks for a live result set.
  if (!FRebuildingSQL && !Trim(GetSQLForUpdate(FSQL->GetText())).empty()) FRequestLive = true;
}

void TIB_Dataset::FieldsPropertyChanged(TIB_FieldsPropertyList List) {
  TIB_Statement::FieldsPropertyChanged(List);
  // The update statements share these lists: built again at their next use.
  if (FUpdateSQL) FUpdateSQL->UnprepareAll();
  if (List == fplReadOnly) RunReported([&] { StateChanged(); });
}

// ---------------------------------------------------------------------------------------------------------
// Ordering and searching

std::string TIB_Dataset::GetOrderingSQL(int32_t N) {
  if (N == 0) return GetSQLOrder(FSQL->GetText());
  // INT32_MIN has no negation in 32 bits: every item number is taken in 64.
  const int64_t index = std::abs(static_cast<int64_t>(N)) - 1;
  if (index >= FOrderingItems.Count()) return std::string();
  const std::string value = FOrderingItems.GetValueFromIndex(static_cast<int>(index));
  const int semi = CharPosOutsideQuotes(';', value, 1);
  std::string text;
  if (semi > 0) {
    text = N > 0 ? value.substr(0, static_cast<size_t>(semi - 1)) : value.substr(static_cast<size_t>(semi));
  } else if (N > 0) {
    text = value;
  }
  text = Trim(text);
  return text.empty() ? std::string() : "ORDER BY " + text;
}

void TIB_Dataset::GetOrderingItemNames(TStrings& Names) {
  Names.Clear();
  for (int i = 0; i < FOrderingItems.Count(); ++i) Names.Add(FOrderingItems.GetName(i));
}

void TIB_Dataset::SetOrderingItemNo(int32_t Value) {
  if (Value == FOrderingItemNo) return;
  FOrderingItemNo = Value;
  ++FOrderingChangeCount;
  // Left by an exception only the count goes back; the change's notice goes out on the normal path.
  TScopeExit done([this] { --FOrderingChangeCount; });
  if (!FRebuildingSQL) Perform(dnInvalidateSQL);
  ProcessLinkEvent(28);
  if (FOrderingLinkCount == 0) DeriveOrderingLink();
  if (FActive && FOrderingLinkCount == 0 && FSearchingLinkCount == 0) RefreshKeys();
  done.Release();
  if (--FOrderingChangeCount == 0) Perform(dnOrderingChanged);
}

void TIB_Dataset::DeriveOrderingLink() {
  const int64_t n = std::abs(static_cast<int64_t>(FOrderingItemNo));
  std::string link;
  if (n != 0) {
    for (int i = 0; i < FOrderingLinks.Count(); ++i) {
      std::string item;
      FOrderingLinks.GetLinkAttributeAt(i, "ITEM", item);
      if (Trim(item).empty()) item = FOrderingLinks.GetLinkValue(i);
      if (StrToIntDef(Trim(item), 0) == n) {
        link = Trim(FOrderingLinks.GetLinkName(i));
        break;
      }
    }
  }
  SetOrderingLink(link);
}

void TIB_Dataset::SetOrderingLink(const std::string& Column) {
  if (Column == FOrderingLink || FOrderingLinkCount > 0) return;
  TCountGuard guard(FOrderingLinkCount);
  int32_t n = 0;
  const int i = Column.empty() ? -1 : FOrderingLinks.IndexOfLinkName(Column);
  if (i >= 0) {
    std::string item;
    FOrderingLinks.GetLinkAttributeAt(i, "ITEM", item);
    if (Trim(item).empty()) item = FOrderingLinks.GetLinkValue(i);
    n = StrToIntDef(Trim(item), 0);
  }
  const std::string old = FOrderingLink;
  FOrderingLink = i >= 0 ? Column : std::string();
  const int64_t current = std::abs(static_cast<int64_t>(FOrderingItemNo));
  if (n != current && FOrderingChangeCount == 0) SetOrderingItemNo(n);
  if (old != FOrderingLink) ProcessLinkEvent(29);
  DeriveSearchingLink();
  if (FActive && !FPreparing && FOrderingChangeCount == 0 && FSearchingLinkCount == 0 && old != FOrderingLink) {
    RefreshKeys();
  }
}

void TIB_Dataset::DeriveSearchingLink() {
  std::string link;
  for (int i = 0; i < FSearchingLinks.Count() && !FOrderingLink.empty(); ++i) {
    if (SameText(Trim(FSearchingLinks.GetLinkName(i)), FOrderingLink)) link = Trim(FSearchingLinks.GetLinkName(i));
  }
  SetSearchingLink(link);
}

void TIB_Dataset::SetSearchingLink(const std::string& Column) {
  if (Column == FSearchingLink || FSearchingLinkCount > 0) return;
  TCountGuard guard(FSearchingLinkCount);
  const int i = Column.empty() ? -1 : FSearchingLinks.IndexOfLinkName(Column);
  const std::string param = i >= 0 ? Trim(FSearchingLinks.GetLinkValue(i)) : std::string();
  const std::string old = FSearchingLink;
  FSearchingLink = param.empty() ? std::string() : Column;
  FSearchParamName = param;
  if (!FSearchingLink.empty() && FOrderingLinkCount == 0) SetOrderingLink(FSearchingLink);
  if (old != FSearchingLink) ProcessLinkEvent(30);
  if (FActive && !FPreparing && FOrderingChangeCount == 0 && FOrderingLinkCount == 0 && old != FSearchingLink) {
    RefreshKeys();
  }
}

void TIB_Dataset::SetSearchText(const std::string& Value) {
  if (Value == FSearchText) return;
  FSearchText = Value;
  InvalidateSQL();
}

void TIB_Dataset::ListChanged(TIB_StringProperty& List) {
  // The key row is filled from the links as they are now.
  if (&List == &FKeyLinks) FKeyCopyValid = false;
  if (&List == &FOrderingItems) {
    const int32_t n = FOrderingItemNo;
    if (n != 0) {
      SetOrderingItemNo(0);
      SetOrderingItemNo(n);
    }
    return;
  }
  if (&List == &FOrderingLinks) {
    // Every column reads its ordering position again.
    for (int i = 0; i < FFields->GetColumnCount(); ++i) FFields->GetColumns(i)->ResetOrderingItemNo();
    if (FOrderingItemNo != 0) {
      const std::string keep = FOrderingLink;
      FOrderingLink.clear();
      DeriveOrderingLink();
      if (FOrderingLink.empty() && !keep.empty()) ProcessLinkEvent(29);
    }
    return;
  }
  if (&List == &FSearchingLinks) {
    const std::string keep = FSearchingLink;
    FSearchingLink.clear();
    DeriveSearchingLink();
    if (FSearchingLink.empty() && !keep.empty()) ProcessLinkEvent(30);
    return;
  }
  // Key, master and join lists shape the SQL: it is built again at the next prepare.
  if (FPrepared && !FPreparing && !FRebuildingSQL) {
    if (&List == &FKeyLinks && FDefiningKeyLinks) return;
    InvalidateSQL();
  }
}

// ---------------------------------------------------------------------------------------------------------
// Key and master sources

namespace {

// The dataset behind a source, or nil.
TIB_Dataset* DatasetOf(TIB_DatasetLinkSource* S) { return S ? S->GetLinkDataset() : nullptr; }

// The master column of a MasterLinks value: its full qualified name first, then the bare name after
// the first '.' (a bare name alone may stand for another relation's column of a joined master).
bool FindMasterColumn(TIB_Row* Master, const std::string& Value, TIB_Column*& Column) {
  const std::string v = Trim(Value);
  if (Master->FindByName(v, Column)) return true;
  const int dot = CharPosOutsideQuotes('.', v, 1);
  return dot > 0 && Master->FindByName(v.substr(static_cast<size_t>(dot)), Column);
}

// One part of a column reference as the engine knows it: a quoted one as written, others upper case.
std::string ReferencePart(std::string_view Part) {
  const std::string p = Trim(Part);
  if (!IsQuoted(p, '"')) return UpperCase(p);
  std::string bare;
  StripQuotes(p, bare);
  return bare;
}

// Whether two qualified column references ("G.ORIGIN", "g.origin") name the same column.
bool SameQualifiedReference(const std::string& A, const std::string& B) {
  const int a = CharPosOutsideQuotes('.', A, 1), b = CharPosOutsideQuotes('.', B, 1);
  if (a <= 1 || b <= 1) return false;
  return ReferencePart(std::string_view(A).substr(0, static_cast<size_t>(a - 1))) ==
             ReferencePart(std::string_view(B).substr(0, static_cast<size_t>(b - 1))) &&
         ReferencePart(std::string_view(A).substr(static_cast<size_t>(a))) ==
             ReferencePart(std::string_view(B).substr(static_cast<size_t>(b)));
}

}  // namespace

TIB_Dataset* TIB_Dataset::GetKeyDataset() const { return DatasetOf(FKeySource); }
TIB_Dataset* TIB_Dataset::GetMasterDataset() const { return DatasetOf(FMasterSource); }

void TIB_Dataset::CheckLinkSourceCycle(TIB_DatasetLinkSource* Value) {
  // Master and key sources both make a dataset follow another: a chain of either kind, or of both mixed,
  // must not lead back here. Each dataset is walked once, so a cycle elsewhere ends the walk.
  std::vector<const TIB_Dataset*> visited;
  std::vector<TIB_Dataset*> pending{DatasetOf(Value)};
  while (!pending.empty()) {
    TIB_Dataset* d = pending.back();
    pending.pop_back();
    if (!d || std::find(visited.begin(), visited.end(), d) != visited.end()) continue;
    if (d == this) IB_Raise<EIB_DatasetError>(IBMsg::CircularReferenceNotAllowed);
    visited.push_back(d);
    pending.push_back(d->GetMasterDataset());
    pending.push_back(d->GetKeyDataset());
  }
}

void TIB_Dataset::SetKeySource(TIB_DatasetLinkSource* Value) {
  if (Value == FKeySource) return;
  CheckLinkSourceCycle(Value);
  FKeySource = Value;
  LinkKeySource();
  if (FKeySource && FKeySeeking && FPrepared) Perform(dnKeySourceSync);
}

void TIB_Dataset::SetKeySeeking(bool Value) {
  const bool turnedOn = Value && !FKeySeeking;
  FKeySeeking = Value;
  if (turnedOn && FKeySource && FPrepared) Perform(dnKeySourceSync);
}

void TIB_Dataset::SetMasterSource(TIB_DatasetLinkSource* Value) {
  if (Value == FMasterSource) return;
  CheckLinkSourceCycle(Value);
  const bool had = FMasterSource != nullptr;
  FMasterSource = Value;
  LinkMasterSource();
  // The master conditions come and go with the master.
  if ((had || Value) && FMasterLinks.Count() > 0) InvalidateSQL();
}

void TIB_Dataset::SyncKeySource() {
  if (HasState(csDestroying) || HasState(csDesigning) || !FPrepared || FRefreshDepth > 0) return;
  TIB_Dataset* k = GetKeyDataset();
  if (!k || !k->GetPrepared()) return;
  if (k->FState == dssSearch) {
    k->Perform(dnInvalidateSQL);
    return;
  }
  if (FKeySyncCount > 0) return;
  // The key source's row tells its links of the change: a handler may destroy this dataset.
  const TIB_AliveFlag alive = FAlive;
  TIB_AliveCount<int32_t> syncing(alive, FKeySyncCount);
  TIB_Row* target = k->GetFields();
  // A key column the master fills (whatever form its MasterLinks entry names it by) is the master's.
  auto masterLinked = [&](const TIB_Column* Column) {
    for (int i = 0; i < FMasterLinks.Count(); ++i) {
      TIB_Column* c = nullptr;
      if (FindLinkedColumn(FMasterLinks.GetName(i), c) && c == Column) return true;
    }
    return false;
  };
  auto copy = [&](const TStrings& Links) {
    target->BeginUpdate();
    TScopeExit end([&] { target->EndUpdateSilently(); });
    for (int i = 0; i < Links.Count(); ++i) {
      const std::string name = Trim(Links.GetName(i).empty() ? Links.Get(i) : Links.GetName(i));
      const std::string dest = Trim(Links.GetName(i).empty() ? name : Links.GetValueFromIndex(i));
      if (&Links == &FKeyLinks && FMasterLinks.IndexOfName(name) >= 0) continue;
      TIB_Column *from = nullptr, *to = nullptr;
      if (!FFields->FindByName(name, from) || !target->FindByName(dest, to)) continue;
      if (&Links == &FKeyLinks && masterLinked(from)) continue;
      to->Assign(from);
    }
    end.Release();
    target->EndUpdate(true);
  };
  copy(FKeyLinks);
  CheckAlive(alive);
  if (k->GetIsModifying()) {
    copy(FKeyDescLinks);
    CheckAlive(alive);
  }
}

void TIB_Dataset::ApplyMasterParams() {
  TIB_Dataset* m = GetMasterDataset();
  if (!FPrepared || !m || !m->GetPrepared()) return;
  TCountGuard updating(FMasterUpdateCount);
  TIB_Row* params = FParams.get();
  params->BeginUpdate();
  TScopeExit end([&] { params->EndUpdateSilently(); });
  TIB_Row* mf = m->GetFields();
  for (int i = 0; i < FMasterLinks.Count(); ++i) {
    TIB_Column *p = nullptr, *c = nullptr;
    if (!params->FindByName(MasterParamName(i), p) || !FindMasterColumn(mf, FMasterLinks.GetValueFromIndex(i), c)) {
      continue;
    }
    if (c->GetIsNull() || mf->GetRowState() == rsNone) {
      p->Clear();
    } else {
      p->Assign(c);
    }
  }
  for (int i = 0; i < FMasterParamLinks.Count(); ++i) {
    TIB_Column *p = nullptr, *c = nullptr;
    if (!params->FindByName(Trim(FMasterParamLinks.GetName(i)), p)) continue;
    if (!mf->FindByName(Trim(FMasterParamLinks.GetValueFromIndex(i)), c)) continue;
    p->Assign(c);
  }
  // A searching detail shows its criteria again under the master's new values.
  if (FState == dssSearch) ProcessLinkEvent(sleDataChange);
  end.Release();
  params->EndUpdate(true);
}

bool TIB_Dataset::FindLinkedColumn(const std::string& Name, TIB_Column*& Column) {
  const std::string name = Trim(Name);
  const int dot = CharPosOutsideQuotes('.', name, 1);
  // A qualified name is first the select item that names it: in a self-join (FLIGHT F JOIN FLIGHT G)
  // G.ORIGIN is G's own column, whichever of the relation's ORIGIN columns stands first.
  if (dot > 1) {
    const TIB_StringList& items = GetSelectColumnList();
    int found = -1;
    if (items.IndexOf("<*>") < 0) {
      for (int i = 0; i < items.Count() && found < 0; ++i) {
        const std::string& entry = items.Get(i);
        size_t eq = 0;
        while ((eq = entry.find('=', eq)) != std::string::npos && eq > 0 && entry[eq - 1] == '\\') ++eq;
        std::string text, expression, alias;
        UnescapeListText(eq == std::string::npos ? entry : entry.substr(eq + 1), text);
        if (eq != std::string::npos || !SplitSelectItem(text, expression, alias)) expression = text;
        if (SameQualifiedReference(Trim(expression), name)) found = i;
      }
    }
    for (int k = 0; found >= 0 && k < FFields->GetColumnCount(); ++k) {
      if (FFields->GetColumns(k)->GetFieldNo() == found) {
        Column = FFields->GetColumns(k);
        return true;
      }
    }
  }
  if (FFields->FindByName(name, Column)) return true;
  if (dot <= 1) return false;
  // The columns know their relation by its name only: an alias stands for the relation it names.
  const std::string relation = QualifiedRelation(FSQL->GetText(), Trim(name.substr(0, static_cast<size_t>(dot - 1))));
  return !relation.empty() && FFields->FindByName(relation + "." + name.substr(static_cast<size_t>(dot)), Column);
}

void TIB_Dataset::ApplyMasterLinksToRow() {
  TIB_Dataset* m = GetMasterDataset();
  if (!FPrepared || !m || !m->GetPrepared()) return;
  if (FState == dssInsert && m->FState == dssInsert && FPostCount > 0 && !m->GetCachedUpdates()) {
    m->PostRetaining();
  }
  TIB_Row* mf = m->GetFields();
  auto copy = [&](const TStrings& Links, bool Qualified) {
    for (int i = 0; i < Links.Count(); ++i) {
      TIB_Column *d = nullptr, *c = nullptr;
      if (!FindLinkedColumn(Links.GetName(i), d)) continue;
      if (Qualified ? !FindMasterColumn(mf, Links.GetValueFromIndex(i), c)
                    : !mf->FindByName(Trim(Links.GetValueFromIndex(i)), c)) {
        continue;
      }
      if (FState != dssInsert && ColumnValueChanged(*d)) continue;
      d->Assign(c);
    }
  };
  copy(FMasterLinks, true);
  copy(FMasterParamLinks, false);
}

bool TIB_Dataset::GetSQLStartsWithWith() { return SQLWords(FSQL->GetText(), 1) == std::vector<std::string>{"WITH"}; }
