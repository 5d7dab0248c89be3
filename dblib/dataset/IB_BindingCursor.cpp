// TIB_BindingCursor: the single-row SELECT by key of a buffered dataset, and reading a node's row
// through it.
#include "dblib/dataset/IB_BindingCursor.h"

#include <algorithm>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_RowNames.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/Forms.h"

namespace {

std::string Upper(std::string S) {
  for (char& c : S) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return S;
}

// The dataset's SELECT without its FOR UPDATE and WITH LOCK, however spelled (a derived table cannot
// hold them, and a row read by key takes no lock), and without a closing ';'.
std::string InnerSelect(std::string SQL) {
  SetSQLForUpdate(SQL, "");
  RemoveSQLLock(SQL);
  SQL = TrimRight(SQL);
  while (!SQL.empty() && SQL.back() == ';') SQL = TrimRight(SQL.substr(0, SQL.size() - 1));
  return SQL;
}

// The derived table's own names for the Width columns of the dataset's select list: "(C1, C2, ...)".
std::string ColumnList(int Width) {
  std::string list;
  for (int i = 1; i <= Width; ++i) list += (i == 1 ? "(C" : ", C") + std::to_string(i);
  return list.empty() ? list : list + ")";
}

}  // namespace

TIB_BindingCursor::TIB_BindingCursor(TIB_BDataset* ADataset) : TIB_Cursor(ADataset), FBDataset(ADataset) {
  SetReadOnly(true);
}

namespace {

bool IsKeyword(const std::string& Word) {
  static const char* const words[] = {"JOIN",  "LEFT",  "RIGHT", "FULL",  "INNER", "OUTER", "CROSS", "NATURAL",
                                      "ON",    "WHERE", "GROUP", "ORDER", "PLAN",  "UNION", "ROWS",  "HAVING",
                                      "USING", "FOR",   "WITH"};
  for (const char* w : words) {
    if (SameText(Word, w)) return true;
  }
  return false;
}

// Whether a select list holds a window function ("... OVER (...)"): its values depend on the other rows
// of the result, which a condition on the key would take away.
bool HasWindow(const std::string& Select) {
  std::string plain;
  RemoveParenthesesAndLiterals(Select, 3, plain);
  plain = Upper(plain);
  for (size_t at = plain.find("OVER"); at != std::string::npos; at = plain.find("OVER", at + 4)) {
    const auto ident = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$'; };
    if ((at == 0 || !ident(plain[at - 1])) && (at + 4 >= plain.size() || !ident(plain[at + 4]))) return true;
  }
  return false;
}

// Whether the FROM clause gives the relation Rel an alias ("T A", "T AS A") or names it twice: a
// condition spelled "Rel.COLUMN" would then not be valid in its WHERE.
bool RelationAliased(const std::string& From, const std::string& Rel) {
  // The FROM clause's names in order; commas and parentheses only separate them here.
  std::vector<std::string> words;
  for (std::string& w : FromClauseWords(From)) {
    if (w != "," && w != "(" && w != ")") words.push_back(std::move(w));
  }
  int seen = 0;
  for (size_t i = 0; i < words.size(); ++i) {
    if (!SameText(words[i], Rel)) continue;
    ++seen;
    if (i + 1 < words.size() && !IsKeyword(words[i + 1])) return true;
  }
  return seen > 1;
}

}  // namespace

bool TIB_BindingCursor::GetBindingKeyNullable(int Index) {
  TIB_Row* key = FBDataset->GetKeyFields();
  return key && Index >= 0 && Index < key->GetColumnCount() && key->GetColumns(Index)->GetIsNullable();
}

std::string TIB_BindingCursor::BuildSQL() {
  TIB_Row* key = FBDataset->GetKeyFields();
  TIB_Row* fields = FBDataset->GetFields();
  const std::string& source = FBDataset->GetSourceSQL();
  const std::string keyText = FBDataset->GetKeyLinks().GetText();
  const XSQLDA* described = fields->GetPSQLDA();
  if (described == FPlanDescription && source == FPlanSource && keyText == FPlanKeyLinks) return FPlanSQL;
  FPlanDescription = described;
  FPlanSource = source;
  FPlanKeyLinks = keyText;
  FPlanSQL.clear();
  FPlanLinks.clear();
  TIB_StringProperty& links = FBDataset->GetKeyLinks();
  const int width = described ? described->sqld : 0;
  if (!key || key->GetColumnCount() == 0 || links.Count() != key->GetColumnCount() || width <= 0) return {};
  const std::string inner = InnerSelect(source);
  // The dataset's own SELECT restricted to the key ("<key column>=?BIND_0" in front of its WHERE) where a
  // condition on the key columns selects the row: not through a UNION (which it would cut in half) nor
  // an aggregate or DISTINCT (whose rows are no table's rows), and only with key columns that are table
  // columns spelled as the FROM clause knows them. Elsewhere a derived table over the SELECT names its
  // columns itself (C1, C2, ...) and is restricted by those names; the engine refuses an unnamed DB_KEY
  // in a derived table, so a DB_KEY key is always put into the SELECT's own WHERE.
  bool dbKey = false;
  bool own = Trim(GetSQLUnion(inner)).empty() && !FBDataset->SQLIsAggregate() && !HasWindow(GetSQLSelect(inner));
  const std::string from = GetSQLFrom(inner);
  const TIB_StringList& items = FBDataset->GetSelectColumnList();
  bool star = false;
  for (int i = 0; i < items.Count(); ++i) star = star || items.Get(i) == "<*>";
  std::string pairs;
  std::string where;
  for (int i = 0; i < key->GetColumnCount(); ++i) {
    TIB_Column* k = key->GetColumns(i);
    const std::string name = k->GetSQLName();
    dbKey = dbKey || SameText(name, "DB_KEY") || SameText(name, "RDB$DB_KEY");
    // The key column as the select list shows it: same relation and column name.
    int at = -1;
    for (int j = 0; j < fields->GetColumnCount() && at < 0; ++j) {
      TIB_Column* f = fields->GetColumns(j);
      if (SameText(f->GetSQLName(), name) && SameText(f->GetRelName(), k->GetRelName())) at = f->GetFieldNo();
    }
    if (at < 0 || at >= width) return {};
    const std::string link = Trim(links.GetName(i).empty() ? links.Get(i) : links.GetName(i));
    std::string column = FBDataset->KeySelectItem(i);
    if (k->GetRelName().empty()) own = false;
    if (column == link && (star || column.find('.') != std::string::npos)) {
      // Not a plain item of the select list: the link's own spelling must be valid in the WHERE.
      const int dot = CharPosOutsideQuotes('.', column, 1);
      if (dot > 0 && RelationAliased(from, column.substr(0, static_cast<size_t>(dot - 1)))) own = false;
    }
    pairs += column + "=" + column + "\r\n";
    // A key part that may be null finds its row all the same.
    where += (where.empty() ? "" : " AND ") + std::string("C") + std::to_string(at + 1) +
             (k->GetIsNullable() ? " IS NOT DISTINCT FROM ?BIND_" : " =?BIND_") + std::to_string(i);
  }
  if (own || dbKey) {
    FPlanSQL = inner;
    FPlanLinks = pairs;
  } else {
    FPlanSQL = "SELECT * FROM (\r\n" + inner + "\r\n) BIND_ROW " + ColumnList(width) + "\r\nWHERE " + where;
  }
  return FPlanSQL;
}

void TIB_BindingCursor::PrepareOwn() {
  const std::string sql = BuildSQL();
  if (sql.empty()) IB_Raise<EIB_DatasetError>(IBMsg::CannotOpenCursorWithoutKeyData);
  PrepareText(sql, FPlanLinks, true);
  if (!FDescribed) PrepareOnServer();
}

void TIB_BindingCursor::PrepareDescription() {
  std::string sql = BuildSQL();
  if (sql.empty()) {
    const XSQLDA* described = FBDataset->GetFields()->GetPSQLDA();
    sql = "SELECT * FROM (\r\n" + InnerSelect(FBDataset->GetSourceSQL()) + "\r\n) BIND_ROW " +
          ColumnList(described ? described->sqld : 0);
    PrepareText(sql, {}, false);
    return;
  }
  PrepareText(sql, FPlanLinks, false);
}

void TIB_BindingCursor::PrepareText(const std::string& sql, const std::string& Links, bool Own) {
  // Rows are read where the dataset reads them, also after it was given another transaction on the
  // same connection (the SQL text is the same then).
  if (GetIB_Connection() != FBDataset->GetIB_Connection()) {
    if (GetActive()) Close();
    SetIB_Connection(FBDataset->GetIB_Connection());
  }
  if (GetIB_Transaction() != FBDataset->GetIB_Transaction()) {
    if (GetActive()) Close();
    SetIB_Transaction(FBDataset->GetIB_Transaction());
  }
  // The dataset's calculated columns are columns of this cursor's row too (computed by the dataset).
  const bool calculated = GetCalculatedFieldsList().GetText() == FBDataset->GetCalculatedFieldsList().GetText();
  if (GetPrepared() && calculated && sql == FSourceSQL && Links == FSourceLinks) return;
  if (GetActive()) Close();
  if (GetPrepared()) Unprepare();
  if (!calculated) SetCalculatedFields(FBDataset->GetCalculatedFieldsList());
  if (this == FBDataset->FBufferFieldsCursor) {
    // The buffer position's row shows the dataset's columns with the dataset's column properties.
    for (int l = 0; l < IB_FieldsPropertyListCount; ++l) {
      const auto list = static_cast<TIB_FieldsPropertyList>(l);
      if (GetFieldsList(list).GetText() != FBDataset->GetFieldsList(list).GetText()) {
        GetFieldsList(list).Assign(FBDataset->GetFieldsList(list));
      }
    }
  }
  // Each key column paired with itself: the SQL building puts "<key column>=?BIND_<n>" in front of the
  // WHERE conditions.
  TIB_StringList pairs;
  pairs.SetText(Links);
  SetMasterLinks(pairs);
  GetSQL().SetText(sql);
  // Fetching whole rows, the description is the dataset's: no statement is prepared for it. Reading
  // keys only, rows are read from the server anyway.
  FOwnPrepared = Own || !FBDataset->GetFetchWholeRows() || !FBDataset->GetPrepared();
  Prepare();
  FSourceSQL = sql;
  FSourceLinks = Links;
  BindParams();
}

bool TIB_BindingCursor::SysAllocateHandle() {
  if (FOwnPrepared) return TIB_Cursor::SysAllocateHandle();
  if (!SysCheckConnection(true)) return false;
  TIB_Connection* c = GetIB_Connection();
  // A real handle goes back to the connection; the placeholder never reaches the client library or
  // the connection's handle cache.
  if (FStmtHandle != 0 && FStmtHandle != kBorrowedHandle) c->ReleaseStatementHandle(FStmtHandle);
  FStmtHandle = kBorrowedHandle;
  FSQLDialect = static_cast<int16_t>(c->GetSQLDialect());
  return true;
}

ISC_STATUS TIB_BindingCursor::API_Prepare(const std::string& Text, int32_t& InCount, int32_t& OutCount) {
  if (FOwnPrepared) {
    const ISC_STATUS status = TIB_Cursor::API_Prepare(Text, InCount, OutCount);
    FDescribed = status == 0;
    return status;
  }
  FDescribed = false;
  if (FStmtHandle != kBorrowedHandle && !SysAllocateHandle()) {
    IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
  }
  // No server: the parameters are those the SQL text names, the columns the dataset's.
  const XSQLDA* fields = FBDataset->GetFields()->GetPSQLDA();
  InCount = GetParamNames().Count();
  OutCount = fields ? fields->sqld : 0;
  return 0;
}

uint8_t TIB_BindingCursor::GetStatementType() {
  if (!FOwnPrepared && !FDescribed) return stSelect;
  return TIB_Cursor::GetStatementType();
}

void TIB_BindingCursor::DoAfterUnprepare() {
  TIB_Cursor::DoAfterUnprepare();
  FDescribed = false;
  FFirstBindParam = nullptr;
}

void TIB_BindingCursor::PrepareOnServer() {
  if (!GetPrepared() || FDescribed) return;
  SysCheckTransaction(true);
  TIB_Session& s = Session();
  if (FStmtHandle == kBorrowedHandle) FStmtHandle = 0;
  GetIB_Connection()->AcquireStatementHandle(FStmtHandle);
  if (FStmtHandle == 0 || FStmtHandle == kBorrowedHandle) IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
  const std::string& text = GetServerSQL();
  CheckSQLTextSendable(text);
  isc_tr_handle noTransaction = 0;
  isc_tr_handle* tr = GetTrHandlePtr();
  if (!tr) tr = &noTransaction;
  const auto dialect = static_cast<unsigned short>(GetSQLDialect());
  TIB_Row* params = GetParams();
  const int count = params->GetPSQLDA() ? params->GetPSQLDA()->sqld : 0;
  std::vector<std::byte> memory(sizeof(XSQLDA) + static_cast<size_t>(std::max(count, 1)) * sizeof(XSQLVAR));
  auto* in = reinterpret_cast<XSQLDA*>(memory.data());
  in->version = SQLDA_VERSION1;
  in->sqln = static_cast<ISC_SHORT>(std::max(count, 1));
  if (s.Call(s.Entries.isc_dsql_prepare, tr, &FStmtHandle, SQLTextLength(text), text.c_str(), dialect, nullptr) != 0) {
    s.HandleISCError(this);
    return;
  }
  if (s.GetMonitorHooked()) {
    std::string line = "//>>> STATEMENT PREPARED <<<//\r\nTIB_BindingCursor.PrepareOwn()\r\n";
    if (GetOwner() && !GetOwner()->GetName().empty()) line += GetOwner()->GetName() + ".";
    line += GetName() + " stHandle=" + std::to_string(FStmtHandle);
    s.MonitorOutput(line);
  }
  if (s.Call(s.Entries.isc_dsql_describe_bind, &FStmtHandle, dialect, in) != 0) {
    s.HandleISCError(this);
    return;
  }
  // The parameters were described from the dataset's: the server must see the same ones.
  if (in->sqld != count) IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
  for (int i = 0; i < count; ++i) {
    const XSQLVAR& server = in->sqlvar[i];
    const XSQLVAR& own = params->GetPSQLDA()->sqlvar[i];
    if (!SQLTypesCompatible(server.sqltype & ~1, own.sqltype & ~1)) {
      IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
    }
  }
  FDescribed = true;
}

void TIB_BindingCursor::DoCalculateField(TIB_Row& Row, TIB_Column& Column) {
  FBDataset->DoCalculateField(Row, Column);
}

void TIB_BindingCursor::SysDescribeFields(TIB_Row& Row) {
  if (!FOwnPrepared && Row.GetRowType() != rtKey) {
    DescribeBorrowed(Row);
    return;
  }
  TIB_Cursor::SysDescribeFields(Row);
  if (Row.GetRowType() == rtParams) {
    // The key parameters take the settings of the dataset's key-row columns, so that they are laid out
    // like the key row's buffer and a node's key bytes fill them as one block.
    XSQLDA* da = Row.GetPSQLDA();
    TIB_Row* key = FBDataset->GetKeyFields();
    if (!da || !key) return;
    for (int i = 0; i < da->sqld; ++i) {
      XSQLVAR& v = da->sqlvar[i];
      const std::string name(v.aliasname, static_cast<size_t>(std::max<int>(v.aliasname_length, 0)));
      if (name.rfind("BIND_", 0) != 0) continue;
      const int at = std::atoi(name.c_str() + 5);
      if (at < 0 || at >= key->GetColumnCount() || name != "BIND_" + std::to_string(at)) continue;
      const XSQLVAR& k = *key->GetColumns(at)->GetPSQLVAR();
      v.sqltype = static_cast<ISC_SHORT>(k.sqltype | 1);
      v.sqllen = k.sqllen;
      v.sqlscale = k.sqlscale;
      v.sqlsubtype = k.sqlsubtype;
    }
    return;
  }
  // The columns are the dataset's: they carry its names (not the derived table's), so that a row read
  // here is found by the same names as in the dataset's Fields.
  XSQLDA* dest = Row.GetPSQLDA();
  const XSQLDA* own = FBDataset->GetFields()->GetPSQLDA();
  if (!dest || !own || dest->sqld != own->sqld) return;
  for (int i = 0; i < dest->sqld; ++i) {
    XSQLVAR& d = dest->sqlvar[i];
    const XSQLVAR& s = own->sqlvar[i];
    std::memcpy(d.sqlname, s.sqlname, sizeof d.sqlname);
    d.sqlname_length = s.sqlname_length;
    std::memcpy(d.relname, s.relname, sizeof d.relname);
    d.relname_length = s.relname_length;
    std::memcpy(d.ownname, s.ownname, sizeof d.ownname);
    d.ownname_length = s.ownname_length;
    std::memcpy(d.aliasname, s.aliasname, sizeof d.aliasname);
    d.aliasname_length = s.aliasname_length;
  }
}

void TIB_BindingCursor::DescribeBorrowed(TIB_Row& Row) {
  XSQLDA* dest = Row.GetPSQLDA();
  if (!dest) return;
  auto copy = [](XSQLVAR& To, const XSQLVAR& From) {
    To = From;
    To.sqldata = nullptr;
    To.sqlind = nullptr;
  };
  if (Row.GetRowType() == rtParams) {
    // The dataset's parameters in their order, the key parameters as the key row's columns.
    Row.AssignParamNames();
    std::vector<std::string> names;
    for (int i = 0; i < dest->sqld; ++i) {
      const XSQLVAR& v = dest->sqlvar[i];
      names.emplace_back(v.aliasname, static_cast<size_t>(std::max<int>(v.aliasname_length, 0)));
    }
    const XSQLDA* from = FBDataset->GetParams()->GetPSQLDA();
    TIB_Row* key = FBDataset->GetKeyFields();
    int other = 0;
    for (int i = 0; i < dest->sqld; ++i) {
      const std::string& name = names[static_cast<size_t>(i)];
      const int at = name.rfind("BIND_", 0) == 0 ? std::atoi(name.c_str() + 5) : -1;
      if (at >= 0 && key && at < key->GetColumnCount() && name == "BIND_" + std::to_string(at)) {
        copy(dest->sqlvar[i], *key->GetColumns(at)->GetPSQLVAR());
        dest->sqlvar[i].sqltype = static_cast<ISC_SHORT>(dest->sqlvar[i].sqltype | 1);
      } else if (from && other < from->sqld) {
        copy(dest->sqlvar[i], from->sqlvar[other++]);
      } else {
        IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
      }
    }
    Row.AssignParamNames();
    return;
  }
  const XSQLDA* own = FBDataset->GetFields()->GetPSQLDA();
  if (!own || own->sqld < dest->sqld) IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
  for (int i = 0; i < dest->sqld; ++i) copy(dest->sqlvar[i], own->sqlvar[i]);
}

void TIB_BindingCursor::BindParams() {
  FFirstBindParam = nullptr;
  TIB_Row* params = GetParams();
  XSQLDA* to = params->GetPSQLDA();
  if (!GetPrepared() || !to) return;
  const XSQLDA* from = FBDataset->GetParams()->GetPSQLDA();
  TIB_Row* key = FBDataset->GetKeyFields();
  const int keys = key ? key->GetColumnCount() : 0;
  // The key run: "BIND_0" and those after it, laid out like the key row's buffer. Every other parameter
  // is one of the dataset's, in the dataset's order (the SELECT is the dataset's), and gets a copy of
  // its raw value.
  int run = -1;
  int other = 0;
  for (int i = 0; i < to->sqld; ++i) {
    XSQLVAR& d = to->sqlvar[i];
    const std::string name(d.aliasname, static_cast<size_t>(std::max<int>(d.aliasname_length, 0)));
    if (run < 0 && name == "BIND_0") run = 0;
    if (run >= 0 && run < keys && name == "BIND_" + std::to_string(run)) {
      const XSQLVAR& k = *key->GetColumns(run)->GetPSQLVAR();
      const auto offset = reinterpret_cast<const uint8_t*>(k.sqlind) - key->GetRecordBuffer();
      if (run == 0) FFirstBindParam = reinterpret_cast<uint8_t*>(d.sqlind);
      if (!FFirstBindParam || reinterpret_cast<uint8_t*>(d.sqlind) != FFirstBindParam + offset) {
        FFirstBindParam = nullptr;
        IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
      }
      ++run;
      continue;
    }
    if (!from || other >= from->sqld) IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
    const XSQLVAR& s = from->sqlvar[other++];
    const size_t extra = (s.sqltype & ~1) == SQL_VARYING ? 2 : 0;
    if (s.sqllen != d.sqllen || (s.sqltype & ~1) != (d.sqltype & ~1)) {
      IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
    }
    if (s.sqlind && d.sqlind) std::memcpy(d.sqlind, s.sqlind, 2);
    if (s.sqldata && d.sqldata && s.sqldata != d.sqldata) std::memcpy(d.sqldata, s.sqldata, s.sqllen + extra);
  }
  // Rows keyed by their number (no key links) have no key condition: the cursor only lends the
  // dataset's description to the rows read from the buffer, and never reads a row by key.
  if (run < 0 && BuildSQL().empty()) {
    params->SetRowState(rsUnmodified);
    return;
  }
  if (run != keys || static_cast<size_t>(FBDataset->GetNodeList().GetKeyLength()) != key->GetRecordLength() ||
      FFirstBindParam + key->GetRecordLength() > params->GetRecordBuffer() + params->GetRecordLength()) {
    FFirstBindParam = nullptr;
    IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
  }
  params->SetRowState(rsUnmodified);
}

bool TIB_BindingCursor::FetchNode(TIB_Node* Node, bool Force, bool Raise, TIB_Row* Into) {
  TIB_Row& fields = Into ? *Into : *FBDataset->GetFields();
  TIB_NodeList& list = FBDataset->GetNodeList();
  if (!Node || Node->IsSentinel()) {
    if (Raise) IB_Raise<EIB_DatasetError>(IBMsg::CannotOpenCursorWithoutKeyData);
    // No row: the row shows no values rather than those of the row it showed before.
    if (fields.GetPSQLDA() && fields.GetColumnCount() > 0) fields.ClearRow(rsNone);
    return false;
  }
  if (!Force && Node->RecordLength > 0 && Node->OldRecordLength() >= 0) {
    list.UnpackRow(Node, fields);
    return true;
  }
  if (BuildSQL().empty()) {
    if (Raise) IB_Raise<EIB_DatasetError>(IBMsg::CannotOpenCursorWithoutKeyData);
    if (Node->RecordLength > 0) list.UnpackRow(Node, fields);
    return Node->RecordLength > 0;
  }
  OpenForKey(Node->ServerKey());
  if (GetEof() || GetFields()->GetRowState() == rsNone) {
    Close();
    return false;
  }
  // Written into the node at once (the second fetch below overwrites the row); put back when the key
  // turns out to find more than one row.
  const std::vector<uint8_t> before(Node->RecordData, Node->RecordData + Node->RecordLength);
  list.PackRow(Node, *GetFields());
  Next();
  const bool single = GetEof();
  Close();
  if (!single) {
    list.SetRecord(Node, before.data(), static_cast<int32_t>(before.size()));
    throw EIB_DatasetError(IB_LoadStr(IBMsg::MultipleRowsInSingletonFetch) + "\r\n\r\n" + GetSourceSQL());
  }
  list.UnpackRow(Node, fields);
  return true;
}

void TIB_BindingCursor::OpenForKey(const uint8_t* Key) {
  PrepareOwn();
  if (GetActive()) Close();
  // The dataset's parameters as they are now, then the key bytes as one block.
  BindParams();
  if (!FFirstBindParam || !GetParams()->GetPSQLDA()) IB_Raise<Exception>(IBMsg::ProblemInBindingCursor);
  std::memcpy(FFirstBindParam, Key, static_cast<size_t>(FBDataset->GetNodeList().GetKeyLength()));
  Open();
}

bool TIB_BindingCursor::SeekKey(const uint8_t* Key) {
  if (BuildSQL().empty()) return true;
  OpenForKey(Key);
  const bool found = !GetEof() && GetFields()->GetRowState() != rsNone;
  Close();
  return found;
}
