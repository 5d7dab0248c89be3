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

// The dataset's SELECT without a trailing FOR UPDATE / WITH LOCK, which a derived table cannot hold.
std::string InnerSelect(std::string SQL) {
  for (const char* tail : {"WITH LOCK", "FOR UPDATE"}) {
    const std::string u = Upper(SQL);
    const size_t at = u.rfind(tail);
    if (at != std::string::npos && u.find_first_not_of(" \t\r\n;", at + std::strlen(tail)) == std::string::npos) {
      SQL.resize(at);
    }
  }
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

std::string TIB_BindingCursor::BuildSQL() {
  FKeyParts.clear();
  TIB_Row* key = FBDataset->GetKeyFields();
  TIB_Row* fields = FBDataset->GetFields();
  if (!key || key->GetColumnCount() == 0 || FBDataset->GetKeyLinks().Count() == 0) return {};
  // The engine refuses an unnamed DB_KEY column in a derived table: a key of DB_KEYs is put into the
  // dataset's own WHERE clause instead, by the key links' names.
  bool dbKey = false;
  for (int i = 0; i < key->GetColumnCount(); ++i) {
    const std::string name = key->GetColumns(i)->GetSQLName();
    dbKey = dbKey || SameText(name, "DB_KEY") || SameText(name, "RDB$DB_KEY");
  }
  std::string linked;
  std::string where;
  const uint8_t* base = key->GetRecordBuffer();
  TIB_StringProperty& links = FBDataset->GetKeyLinks();
  // The derived table names its columns itself (C1, C2, ...): the select list may hold expressions
  // without a name and the same name twice (a self-join), which a derived table cannot take as they are.
  const XSQLDA* described = fields->GetPSQLDA();
  const int width = described ? described->sqld : 0;
  if (width <= 0) return {};
  for (int i = 0; i < key->GetColumnCount(); ++i) {
    TIB_Column* k = key->GetColumns(i);
    // The key column as the select list shows it: same relation and column name.
    int at = -1;
    for (int j = 0; j < fields->GetColumnCount() && at < 0; ++j) {
      TIB_Column* f = fields->GetColumns(j);
      if (SameText(f->GetSQLName(), k->GetSQLName()) && SameText(f->GetRelName(), k->GetRelName())) {
        at = f->GetFieldNo();
      }
    }
    if (at < 0 || at >= width) return {};
    const XSQLVAR& v = *k->GetPSQLVAR();
    FKeyParts.push_back({static_cast<size_t>(reinterpret_cast<const uint8_t*>(v.sqlind) - base), k->DataSize()});
    where += (where.empty() ? "" : " AND ") + std::string("C") + std::to_string(at + 1) + " = ?";
    if (i < links.Count()) {
      linked +=
          (linked.empty() ? "" : " AND ") + Trim(links.GetName(i).empty() ? links.Get(i) : links.GetName(i)) + " = ?";
    }
  }
  if (dbKey) {
    if (links.Count() != key->GetColumnCount()) return {};
    std::string sql = InnerSelect(FBDataset->GetServerSQL());
    const std::string own = Trim(GetSQLWhere(sql));
    SetSQLWhere(sql, own.size() > 5 ? "WHERE (" + Trim(own.substr(5)) + ")\r\n  AND " + linked : "WHERE " + linked);
    return sql;
  }
  return "SELECT * FROM (\r\n" + InnerSelect(FBDataset->GetServerSQL()) + "\r\n) BIND_ROW " + ColumnList(width) +
         "\r\nWHERE " + where;
}

void TIB_BindingCursor::PrepareOwn() {
  const std::string sql = BuildSQL();
  if (sql.empty()) IB_Raise<EIB_DatasetError>(IBMsg::CannotOpenCursorWithoutKeyData);
  PrepareText(sql);
}

void TIB_BindingCursor::PrepareDescription() {
  std::string sql = BuildSQL();
  if (sql.empty()) {
    const XSQLDA* described = FBDataset->GetFields()->GetPSQLDA();
    sql = "SELECT * FROM (\r\n" + InnerSelect(FBDataset->GetServerSQL()) + "\r\n) BIND_ROW " +
          ColumnList(described ? described->sqld : 0);
  }
  PrepareText(sql);
}

void TIB_BindingCursor::PrepareText(const std::string& sql) {
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
  if (GetPrepared() && sql == FSourceSQL) return;
  if (GetActive()) Close();
  GetSQL().SetText(sql);
  Prepare();
  FSourceSQL = sql;
}

void TIB_BindingCursor::BindParams(const uint8_t* key) {
  XSQLDA* to = GetParams()->GetPSQLDA();
  const XSQLDA* from = FBDataset->GetParams()->GetPSQLDA();
  const int own = from ? from->sqld : 0;
  if (!to || to->sqld != own + static_cast<int>(FKeyParts.size()))
    throw Exception(IB_LoadStr(IBMsg::ProblemInBindingCursor));
  // The dataset's parameters, as raw values (the same descriptions: the same text before the key).
  for (int i = 0; i < own; ++i) {
    const XSQLVAR& s = from->sqlvar[i];
    XSQLVAR& d = to->sqlvar[i];
    if (s.sqlind && d.sqlind) std::memcpy(d.sqlind, s.sqlind, 2);
    const size_t extra = (s.sqltype & ~1) == SQL_VARYING ? 2 : 0;
    if (s.sqldata && d.sqldata && s.sqllen == d.sqllen) std::memcpy(d.sqldata, s.sqldata, s.sqllen + extra);
  }
  // The key values, laid out in the key bytes as in the key row's buffer.
  const auto keyLength = static_cast<size_t>(FBDataset->GetNodeList().GetKeyLength());
  for (size_t i = 0; i < FKeyParts.size(); ++i) {
    const TKeyPart& p = FKeyParts[i];
    XSQLVAR& d = to->sqlvar[own + static_cast<int>(i)];
    if (p.Offset + 2 + p.Size > keyLength || !d.sqldata) throw Exception(IB_LoadStr(IBMsg::ProblemInBindingCursor));
    if (d.sqlind) std::memcpy(d.sqlind, key + p.Offset, 2);
    const uint8_t* value = key + p.Offset + 2;
    if ((d.sqltype & ~1) == SQL_VARYING) {
      uint16_t l;
      std::memcpy(&l, value, 2);
      l = std::min<uint16_t>(l, static_cast<uint16_t>(std::max<int>(d.sqllen, 0)));
      std::memcpy(d.sqldata, &l, 2);
      std::memcpy(d.sqldata + 2, value + 2, l);
    } else {
      std::memcpy(d.sqldata, value, std::min<size_t>(p.Size, static_cast<size_t>(std::max<int>(d.sqllen, 0))));
    }
  }
  GetParams()->SetRowState(rsUnmodified);
}

bool TIB_BindingCursor::FetchNode(TIB_Node* Node, bool Force, bool Raise, TIB_Row* Into) {
  TIB_Row& fields = Into ? *Into : *FBDataset->GetFields();
  TIB_NodeList& list = FBDataset->GetNodeList();
  if (!Node || Node->IsSentinel()) {
    if (Raise) IB_Raise<EIB_DatasetError>(IBMsg::CannotOpenCursorWithoutKeyData);
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
  PrepareOwn();
  if (GetActive()) Close();
  BindParams(Node->ServerKey());
  Open();
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
    throw EIB_DatasetError(IB_LoadStr(IBMsg::MultipleRowsInSingletonFetch) + "\r\n\r\n" + FSourceSQL);
  }
  list.UnpackRow(Node, fields);
  return true;
}

bool TIB_BindingCursor::SeekKey(const uint8_t* Key) {
  if (BuildSQL().empty()) return true;
  PrepareOwn();
  if (GetActive()) Close();
  BindParams(Key);
  Open();
  const bool found = !GetEof() && GetFields()->GetRowState() != rsNone;
  Close();
  return found;
}

void TIB_BindingCursor::SysDescribeFields(TIB_Row& Row) {
  TIB_Cursor::SysDescribeFields(Row);
  if (Row.GetRowType() == rtParams) return;
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
