// TIB_UpdateSQL: building, binding and running a dataset's edit, insert, delete and lock statements.
#include "dblib/dataset/IB_UpdateSQL.h"

#include <algorithm>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_RowNames.h"
#include "dblib/dataset/IB_Dataset.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

const char* const kCRLF = "\r\n";
// The savepoint that lets a change touching several rows be undone alone.
const char* const kSavepoint = "IB_UPDATE_SQL";

// A statement of the update SQL: its engine errors also reach the dataset's error handling.
class TIB_UpdateStatement : public TIB_DSQL {
public:
  TIB_UpdateStatement(TComponent* AOwner, TIB_Dataset* ADataset) : TIB_DSQL(AOwner), FDataset(ADataset) {}
  void DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes, int32_t SQLCODE,
                     TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) override {
    // Their handlers may destroy the statement or the dataset: the silent abort then.
    const TIB_AliveFlag alive = FAlive, dataset = FDataset->GetAlive();
    TIB_DSQL::DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
    IB_CheckAlive(alive);
    IB_CheckAlive(dataset);
    if (RaiseException) {
      FDataset->DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
    }
  }
  // The statement's columns are the dataset's columns: they take the dataset's column attributes.
  std::string GetColumnAttributesValue(TIB_AttributeLevel Level, const std::string& Key) override {
    return FDataset->GetColumnAttributesValue(Level, Key);
  }
  bool HasConnectionColumnAttributes() override { return FDataset->HasConnectionColumnAttributes(); }
  // A row lock changes nothing: the transaction has nothing to commit for it, so that it can be given up
  // with a quiet commit retaining when the edit ends.
  bool LocksOnly = false;
  bool SysExecuteChangesData(uint8_t Type) override { return !LocksOnly && TIB_DSQL::SysExecuteChangesData(Type); }
  // And its Fields lists, taken before each build (a change of one of them unprepares the statements).
  void LinkToDataset() {
    for (int l = 0; l < IB_FieldsPropertyListCount; ++l) {
      const auto list = static_cast<TIB_FieldsPropertyList>(l);
      if (GetFieldsList(list).GetText() != FDataset->GetFieldsList(list).GetText()) {
        GetFieldsList(list).Assign(FDataset->GetFieldsList(list));
      }
    }
  }

private:
  TIB_Dataset* FDataset;
};

// The name of a parameter that reads the old value of Column: OLD_ before the name, inside the quotes
// of a quoted name.
std::string OldParamName(TIB_Column& Column) {
  const std::string name = Column.GetSQLName();
  if (name.size() >= 2 && name.front() == '"') return "\"OLD_" + name.substr(1);
  return "OLD_" + name;
}

// A term of a WHERE that compares a column of its relation.
std::string Qualified(TIB_Column& Column) {
  const std::string rel = Column.GetRelName();
  return rel.empty() ? Column.GetSQLName() : rel + "." + Column.GetSQLName();
}

}  // namespace

TIB_UpdateSQL::TIB_UpdateSQL(TIB_Dataset* ADataset) : TComponent(ADataset), FDataset(ADataset) {
  FLists[uskEdit] = &ADataset->GetEditSQL();
  FLists[uskInsert] = &ADataset->GetInsertSQL();
  FLists[uskDelete] = &ADataset->GetDeleteSQL();
  FLists[uskLock] = &ADataset->GetLockSQL();
  for (int k = 0; k < 4; ++k) {
    FLists[k]->OnChange = [this, k](TObject*) { ListChanged(static_cast<TIB_UpdateSQLKind>(k)); };
  }
}

TIB_UpdateSQL::~TIB_UpdateSQL() = default;

void TIB_UpdateSQL::BeforeDestruction() {
  for (TIB_StringList* list : FLists) list->OnChange = nullptr;
  for (TEntry& e : FEntries) {
    e.Bindings.clear();
    e.Bound = false;
    e.Statement = nullptr;  // owned: freed with this component
  }
  TComponent::BeforeDestruction();
}

void TIB_UpdateSQL::ListChanged(TIB_UpdateSQLKind Kind) { Release(FEntries[Kind], false); }

void TIB_UpdateSQL::SearchedEditsChanged() {
  Release(FEntries[uskEdit], false);
  Release(FEntries[uskLock], false);
}

void TIB_UpdateSQL::SearchedDeletesChanged() { Release(FEntries[uskDelete], false); }

void TIB_UpdateSQL::Release(TEntry& E, bool Deallocate) {
  E.Bindings.clear();
  E.Bound = false;
  if (!E.Statement) return;
  if (Deallocate) {
    E.Statement->SysDeallocate(true);
  } else {
    E.Statement->Unprepare();
  }
}

void TIB_UpdateSQL::UnprepareAll() {
  for (TEntry& e : FEntries) Release(e, false);
}

void TIB_UpdateSQL::DeallocateAll() {
  for (TEntry& e : FEntries) Release(e, true);
}

// ---------------------------------------------------------------------------------------------------------
// Building

TIB_Statement* TIB_UpdateSQL::NewStatement() {
  auto* s = new TIB_UpdateStatement(this, FDataset);
  s->SetIB_Connection(FDataset->GetIB_Connection());
  s->SetIB_Transaction(FDataset->GetIB_Transaction());
  s->SetParamCheck(true);
  return s;
}

TIB_Statement* TIB_UpdateSQL::NeedStatement(TIB_UpdateSQLKind Kind) {
  TEntry& e = FEntries[Kind];
  if (!e.Statement) e.Statement = NewStatement();
  if (!FDataset->GetPrepared()) return e.Statement;
  // The statement runs where the dataset runs, also after the dataset was given another transaction.
  if (e.Statement->GetIB_Connection() != FDataset->GetIB_Connection()) {
    Release(e, false);
    e.Statement->SetIB_Connection(FDataset->GetIB_Connection());
  }
  if (e.Statement->GetIB_Transaction() != FDataset->GetIB_Transaction()) {
    e.Statement->SetIB_Transaction(FDataset->GetIB_Transaction());
  }
  // A statement that re-prepared itself lost its bindings: built again.
  if (e.Bound && !(e.Statement->GetPrepared() && e.Statement->GetSQLIsValid())) Release(e, false);
  // Positioned or by key, as the row stands now.
  const bool searched = Kind != uskInsert && FLists[Kind]->Count() == 0 && UseSearched(Kind);
  if (e.Bound && e.Searched != searched) Release(e, false);
  if (!e.Bound) {
    static_cast<TIB_UpdateStatement*>(e.Statement)->LinkToDataset();
    e.Bindings.clear();
    e.Searched = searched;
    BuildStatement(Kind, e);
    e.Bound = true;
  }
  return e.Statement;
}

void TIB_UpdateSQL::CheckKeyRelation() {
  const std::string& own = FDataset->GetOwnKeyRelation();
  if (own.empty()) return;
  TIB_Row* fields = FDataset->GetFields();
  for (int i = 0; i < fields->GetRelationCount(); ++i) {
    if (SameText(fields->GetRelationName(i), own)) return;
  }
  // The relation may be spelled without the quotes the columns give it.
  std::string stripped;
  StripQuotes(own, stripped);
  for (int i = 0; i < fields->GetRelationCount(); ++i) {
    std::string rel;
    StripQuotes(fields->GetRelationName(i), rel);
    if (SameText(rel, stripped)) return;
  }
  IB_Raise<EIB_DatasetError>(IBMsg::InvalidKeyRelationValue);
}

bool TIB_UpdateSQL::UseSearched(TIB_UpdateSQLKind Kind) {
  const bool searched = Kind == uskDelete ? FDataset->GetSearchedDeletes() : FDataset->GetSearchedEdits();
  // The rows of a query over a WITH list come through no updatable cursor.
  const bool positioned = FDataset->GetCursorOnCurrentRow() &&
                          !FDataset->GetSQLStartsWithWith();
  if (searched || positioned) return searched;
  // WHERE CURRENT OF would write the row the cursor stands on, which is another one (or the cursor writes
  // no row at all): the row is found by its key, and without a key it is not written at all.
  if (FDataset->GetKeyLinks().Count() == 0 && !ByRowValues())
    IB_Raise<EIB_DatasetError>(IBMsg::RecordKeyWasLostFailedTo);
  return true;
}

bool TIB_UpdateSQL::ByRowValues() {
  return FDataset->GetCachedUpdates() || (FDataset->GetState() == dssInsert && FDataset->GetKeyLinks().Count() == 0);
}

bool TIB_UpdateSQL::IsUpdatable(TIB_Column& Column) {
  // An expression or a sub-select of the select list is no column to write, whatever column the engine
  // names for it.
  if (Column.GetFieldNo() < 0 || Column.GetOwnReadOnly() || Column.GetSelectDerived() || Column.GetComputed())
    return false;
  bool readOnly = false;
  FDataset->TIB_Statement::GetColumnReadOnly(Column, readOnly);
  return !readOnly;
}

std::string TIB_UpdateSQL::BuildWhere(bool Searched, std::vector<TBinding>& Trailing, bool& Custom) {
  Custom = false;
  const char p = FDataset->GetParamChar();
  if (!Searched) {
    if (FDataset->GetCursorName().empty()) IB_Raise<EIB_DatasetError>(IBMsg::UnableToInitializeDefault, {"CURRENT OF"});
    return "CURRENT OF " + FDataset->GetCursorName();
  }
  std::string where;
  auto add = [&](const std::string& Term) { where += (where.empty() ? "" : std::string(kCRLF) + "  AND ") + Term; };
  TIB_Row* fields = FDataset->GetFields();
  if (!FDataset->GetCachedUpdates()) {
    TIB_Row* keys = FDataset->GetKeyFieldsRow();
    const bool old = keys == fields;
    for (int i = 0; i < keys->GetColumnCount(); ++i) {
      TIB_Column& k = *keys->GetColumns(i);
      add(Qualified(k) + " = " + p + OldParamName(k));
      Trailing.push_back({&k, old});
    }
    return where;
  }
  // Under cached updates the row is located by every plain column of the key relation as fetched.
  Custom = true;
  const std::string r = FDataset->GetKeyRelation();
  for (int i = 0; i < fields->GetColumnCount(); ++i) {
    TIB_Column& c = *fields->GetColumns(i);
    if (c.GetIsBlobKind() || c.GetIsArrayKind() || c.GetFieldNo() < 0 || c.GetSelectDerived() || c.GetComputed())
      continue;
    if (!SameText(c.GetRelName(), r)) continue;
    add(Qualified(c) + " = " + p + OldParamName(c));
  }
  return where;
}

void TIB_UpdateSQL::BuildStatement(TIB_UpdateSQLKind Kind, TEntry& E) {
  TIB_Statement& s = *E.Statement;
  TIB_Row* fields = FDataset->GetFields();
  const char p = FDataset->GetParamChar();
  if (FLists[Kind]->Count() > 0) {
    s.GetSQL().SetText(FLists[Kind]->GetText());
    s.Prepare();
    BindCustom(s, E.Bindings);
    return;
  }
  CheckKeyRelation();
  const std::string r = FDataset->GetKeyRelation();
  std::vector<TIB_Column*> cols;
  for (int i = 0; i < fields->GetColumnCount(); ++i) {
    TIB_Column& c = *fields->GetColumns(i);
    if (!IsUpdatable(c) || !SameText(c.GetRelName(), r)) continue;
    // A column the select list shows twice (NAME, NAME AS N2) is written once, by its first item.
    const auto same = [&](TIB_Column* o) { return o->GetSQLName() == c.GetSQLName(); };
    if (std::none_of(cols.begin(), cols.end(), same)) cols.push_back(&c);
  }
  std::string sql;
  std::vector<TBinding> leading, trailing;
  bool custom = false;
  switch (Kind) {
    case uskEdit:
      if (cols.empty()) IB_Raise<EIB_DatasetError>(IBMsg::UnableToInitializeDefault, {"EditDSQL"});
      sql = "UPDATE " + r + kCRLF;
      for (size_t i = 0; i < cols.size(); ++i) {
        const std::string name = cols[i]->GetSQLName();
        sql += (i == 0 ? "  SET " : std::string(kCRLF) + "    , ") + name + " = " + p + name;
        leading.push_back({cols[i], false});
      }
      sql += std::string(kCRLF) + "WHERE " + BuildWhere(E.Searched, trailing, custom);
      break;
    case uskLock:
      if (cols.empty()) IB_Raise<EIB_DatasetError>(IBMsg::UnableToInitializeDefault, {"LockSQL"});
      sql = "UPDATE " + r + " SET " + cols[0]->GetSQLName() + " = " + cols[0]->GetSQLName();
      sql += std::string(kCRLF) + "WHERE " + BuildWhere(E.Searched, trailing, custom);
      break;
    case uskDelete:
      sql = "DELETE FROM " + r + " " + kCRLF + "WHERE " + BuildWhere(E.Searched, trailing, custom);
      break;
    case uskInsert: {
      if (cols.empty()) IB_Raise<EIB_DatasetError>(IBMsg::UnableToInitializeDefault, {"InsertDSQL"});
      std::string names, values;
      for (size_t i = 0; i < cols.size(); ++i) {
        const std::string lead = std::string(kCRLF) + (i == 0 ? "( " : ", ");
        names += lead + cols[i]->GetRelName() + "." + cols[i]->GetSQLName();
        values += lead + p + cols[i]->GetRelName() + "." + cols[i]->GetSQLName();
        leading.push_back({cols[i], false});
      }
      sql = "INSERT INTO " + r + names + ")" + kCRLF + "VALUES " + values + ")";
      break;
    }
  }
  s.GetSQL().SetText(sql);
  s.Prepare();
  if (custom) {
    BindCustom(s, E.Bindings);
    return;
  }
  E.Bindings = std::move(leading);
  E.Bindings.insert(E.Bindings.end(), trailing.begin(), trailing.end());
  XSQLDA* da = s.GetParams()->GetPSQLDA();
  if (!da || da->sqld != static_cast<ISC_SHORT>(E.Bindings.size())) {
    // The server saw another number of parameters than were written: bind by name instead.
    E.Bindings.clear();
    BindCustom(s, E.Bindings);
  }
}

void TIB_UpdateSQL::BindCustom(TIB_Statement& S, std::vector<TBinding>& Bindings) {
  Bindings.clear();
  XSQLDA* da = S.GetParams()->GetPSQLDA();
  if (!da) return;
  TIB_Row* fields = FDataset->GetFields();
  TIB_Row* keyRow = FDataset->GetKeyFields();
  const bool keysAreFields = FDataset->GetKeyFieldsRow() == fields;
  for (int i = 0; i < da->sqld; ++i) {
    std::string name = Trim(XSQLVARText(da->sqlvar[i].aliasname, da->sqlvar[i].aliasname_length));
    TIB_Column* c = nullptr;
    if (FindCustomColumn(*fields, name, c)) {
      Bindings.push_back({c, false});
      continue;
    }
    std::string old = name;
    if (S.GetSQLDialect() >= 3 && old.compare(0, 5, "\"OLD_") == 0) StripQuotes(name, old);
    if (CompareText(old.substr(0, 4), "OLD_") == 0) {
      std::string rest = old.substr(4);
      // A quoted name keeps its spelling.
      if (name.size() > 0 && name[0] == '"') rest = "\"" + rest + "\"";
      if (FindCustomColumn(*fields, rest, c)) {
        Bindings.push_back({c, true});
        continue;
      }
    }
    if (CompareText(name, "DB_KEY") == 0) name = "RDB$DB_KEY";
    if (keyRow && keyRow->FindByName(name, c)) {
      Bindings.push_back({c, keysAreFields});
      continue;
    }
    IB_Raise<EIB_DatasetError>(IBMsg::InvalidCustomDMLColumnReference, {name});
  }
}

bool TIB_UpdateSQL::FindCustomColumn(TIB_Row& Fields, const std::string& Name, TIB_Column*& Column) {
  if (Fields.GetRelationCount() >= 2 && Name.find('.') == std::string::npos) {
    const std::string rel = FDataset->GetKeyRelation();
    if (!rel.empty() && Fields.FindByName(rel + "." + Name, Column) && FDataset->IsKeyRelationColumn(*Column))
      return true;
  }
  return Fields.FindByName(Name, Column);
}

void TIB_UpdateSQL::ApplyBindings(TIB_Statement& S, const std::vector<TBinding>& Bindings) {
  XSQLDA* da = S.GetParams()->GetPSQLDA();
  if (!da) return;
  const int n = std::min<int>(da->sqld, static_cast<int>(Bindings.size()));
  for (int i = 0; i < n; ++i) {
    const TBinding& b = Bindings[static_cast<size_t>(i)];
    const XSQLVAR& src = *b.Column->GetPSQLVAR();
    TIB_Row* row = b.Column->GetRow();
    XSQLVAR& dst = da->sqlvar[i];
    // Null values are sent through the indicator, which every row keeps.
    dst.sqltype = static_cast<ISC_SHORT>(src.sqltype | 1);
    dst.sqlscale = src.sqlscale;
    dst.sqlsubtype = src.sqlsubtype;
    dst.sqllen = src.sqllen;
    uint8_t* base = row->GetRecordBuffer();
    uint8_t* from = b.Old ? row->GetOldRecordBuffer() : base;
    dst.sqldata = reinterpret_cast<ISC_SCHAR*>(from + (reinterpret_cast<uint8_t*>(src.sqldata) - base));
    dst.sqlind = reinterpret_cast<ISC_SHORT*>(from + (reinterpret_cast<uint8_t*>(src.sqlind) - base));
  }
}

// ---------------------------------------------------------------------------------------------------------
// Running

int32_t TIB_UpdateSQL::RunDML(TIB_Statement& S, const std::vector<TBinding>& Bindings, bool Guard) {
  S.SysCheckTransaction(true);
  ApplyBindings(S, Bindings);
  const uint8_t type = S.GetStatementType() & 0x7F;
  // A change that may touch several rows runs inside a savepoint, so that it can be undone alone.
  Guard = Guard && (type == stUpdate || type == stDelete);
  if (!Guard) {
    S.Execute();
    return S.GetRowsAffected();
  }
  // An auto-committing transaction would commit the change before it could be undone: it keeps it until
  // the savepoint is done with.
  TIB_Transaction* t = S.GetIB_Transaction();
  const TIB_AliveFlag transactionAlive = t ? t->GetAlive() : TIB_AliveFlag();
  if (t) t->HoldAutoCommit();
  int32_t rows = 0;
  try {
    S.ExecuteImmediate(std::string("SAVEPOINT ") + kSavepoint);
    // A failed change leaves the savepoint to the transaction's end (the next one of the name replaces it).
    S.Execute();
    rows = S.GetRowsAffected();
    if (rows > 1) S.ExecuteImmediate(std::string("ROLLBACK TO SAVEPOINT ") + kSavepoint);
    S.ExecuteImmediate(std::string("RELEASE SAVEPOINT ") + kSavepoint + " ONLY");
  } catch (...) {
    if (t && transactionAlive.Get()) t->ReleaseAutoCommit(false);
    throw;
  }
  if (t && transactionAlive.Get()) t->ReleaseAutoCommit(true);
  return rows;
}

bool TIB_UpdateSQL::MayTouchSeveral(TIB_UpdateSQLKind Kind) {
  if (FLists[Kind]->Count() > 0) return true;  // a custom statement may say anything
  if (!FEntries[Kind].Searched) return false;  // WHERE CURRENT OF names one row
  // Keys taken from the primary key or the DB_KEY name one row; KeyLinks of the application may not.
  return FDataset->GetCachedUpdates() || !FDataset->GetKeyLinksAutoDefined();
}

void TIB_UpdateSQL::RaiseCount(int32_t Rows, uint8_t Type, TIB_UpdateSQLKind Kind) {
  if (Rows == 0) {
    if (Kind == uskEdit && Type == stUpdate) IB_Raise<EIB_DatasetError>(IBMsg::RecordWasNotLocatedToUpdate);
    if (Kind == uskDelete && Type == stDelete) IB_Raise<EIB_DatasetError>(IBMsg::RecordWasNotLocatedToDelete);
    if (Kind == uskInsert && Type == stInsert) IB_Raise<EIB_DatasetError>(IBMsg::RecordWasNotInserted);
  }
  if (Rows > 1) {
    if (Kind == uskEdit) IB_Raise<EIB_DatasetError>(IBMsg::MultipleRecordsUpdated);
    if (Kind == uskDelete) IB_Raise<EIB_DatasetError>(IBMsg::MultipleRecordsDeleted);
  }
}

void TIB_UpdateSQL::Announce(int Kind) {
  const TIB_DMLCacheFlag flag = Kind == ditEdit     ? dcfAnnounceEdit
                                : Kind == ditInsert ? dcfAnnounceInsert
                                                    : dcfAnnounceDelete;
  if (FDataset->GetDMLCacheFlags() & IB_DMLCacheFlag(flag))
    FDataset->AnnounceDMLCacheItem(static_cast<TIB_DMLCacheItemType>(Kind));
  if (TIB_Transaction* t = FDataset->GetIB_Transaction()) {
    if (t->GetStarted()) t->Activate();
  }
}

void TIB_UpdateSQL::ExecEdit() {
  if (FLists[uskEdit]->Count() > 0 || (FDataset->GetPreparedEdits() && !ByRowValues())) {
    TIB_Statement* s = GetEditStatement();
    const TEntry& e = FEntries[uskEdit];
    const int32_t rows = RunDML(*s, e.Bindings, MayTouchSeveral(uskEdit));
    RaiseCount(rows, s->GetStatementType() & 0x7F, uskEdit);
  } else {
    OneOffEdit();
    if (FLastOneOffSQL.empty()) return;  // nothing was modified: nothing sent, nothing announced
  }
  Announce(ditEdit);
}

void TIB_UpdateSQL::ExecInsert() {
  TIB_Statement* s = GetInsertStatement();
  const int32_t rows = RunDML(*s, FEntries[uskInsert].Bindings, false);
  RaiseCount(rows, s->GetStatementType() & 0x7F, uskInsert);
  TakeReturnedValues(*s);
  Announce(ditInsert);
}

void TIB_UpdateSQL::TakeReturnedValues(TIB_Statement& S) {
  TIB_Row* out = S.GetFields();
  if (!out || out->GetColumnCount() == 0 || out->GetRowState() == rsNone) return;
  TIB_Row* fields = FDataset->GetFields();
  for (int i = 0; i < out->GetColumnCount(); ++i) {
    TIB_Column* from = out->GetColumns(i);
    TIB_Column* to = nullptr;
    // A blob's id is the statement's: the row keeps the value it wrote.
    if (from->GetIsBlobKind() || from->GetIsArrayKind() || !FindCustomColumn(*fields, from->GetBestName(), to) ||
        to->GetFieldNo() < 0 || to->GetIsBlobKind() || to->GetIsArrayKind()) {
      continue;
    }
    to->Assign(from);
  }
}

void TIB_UpdateSQL::ExecDelete() {
  if (FLists[uskDelete]->Count() > 0 || !ByRowValues()) {
    TIB_Statement* s = GetDeleteStatement();
    const int32_t rows = RunDML(*s, FEntries[uskDelete].Bindings, MayTouchSeveral(uskDelete));
    RaiseCount(rows, s->GetStatementType() & 0x7F, uskDelete);
  } else {
    // The row of a cached delete is found by its values as fetched, also with positioned deletes (the
    // cursor has long left it), and a retained insert without key by its values as written; only a row
    // without key cannot be found.
    if (!UseSearched(uskDelete)) IB_Raise<EIB_DatasetError>(IBMsg::NotReadyYet);
    OneOffDelete();
  }
  Announce(ditDelete);
}

bool TIB_UpdateSQL::ExecLockRow() {
  TIB_Statement* s = GetLockStatement();
  static_cast<TIB_UpdateStatement*>(s)->LocksOnly = true;
  const int32_t rows = RunDML(*s, FEntries[uskLock].Bindings, false);
  if (rows == 1) return true;
  return (s->GetStatementType() & 0x7F) != stUpdate;
}

// ---------------------------------------------------------------------------------------------------------
// Statements for a single change

void TIB_UpdateSQL::RunOneOff(const std::string& SQL, const std::vector<TBinding>& Bindings, TIB_UpdateSQLKind Kind) {
  FLastOneOffSQL = SQL;
  std::unique_ptr<TIB_Statement> s(NewStatement());
  static_cast<TIB_UpdateStatement*>(s.get())->LinkToDataset();
  s->GetSQL().SetText(SQL);
  s->Prepare();
  const int32_t rows = RunDML(*s, Bindings, true);
  RaiseCount(rows, s->GetStatementType() & 0x7F, Kind);
}

void TIB_UpdateSQL::OneOffEdit() {
  FLastOneOffSQL.clear();
  TIB_Row* fields = FDataset->GetFields();
  std::vector<TBinding> bindings;
  if (UseSearched(uskEdit)) {
    CheckKeyRelation();
    const std::string r = FDataset->GetKeyRelation();
    std::string sql = "UPDATE " + r + kCRLF;
    bool any = false;
    for (int i = 0; i < fields->GetColumnCount(); ++i) {
      TIB_Column& c = *fields->GetColumns(i);
      if (!SameText(c.GetRelName(), r) || !IsUpdatable(c) || !TIB_Dataset::ColumnValueChanged(c)) continue;
      sql += (any ? std::string(kCRLF) + "   , " : std::string(" SET ")) + c.GetSQLName() + " = ?";
      bindings.push_back({&c, false});
      any = true;
    }
    if (!any) {
      // A changed value that no relation's statement may write (the query names no key relation, as
      // over a join) is refused, never reported as written.
      for (int i = 0; i < fields->GetColumnCount(); ++i) {
        TIB_Column& c = *fields->GetColumns(i);
        if (IsUpdatable(c) && TIB_Dataset::ColumnValueChanged(c)) {
          IB_Raise<EIB_DatasetError>(IBMsg::UnableToInitializeDefault, {"EditDSQL"});
        }
      }
      return;
    }
    sql += std::string(kCRLF) + "WHERE ";
    std::string where;
    auto add = [&](const std::string& Term) { where += (where.empty() ? "" : std::string(kCRLF) + "  AND ") + Term; };
    if (ByRowValues()) {
      // The row as fetched (or written), by the plain columns of the key relation.
      for (int i = 0; i < fields->GetColumnCount(); ++i) {
        TIB_Column& c = *fields->GetColumns(i);
        if (c.GetIsBlobKind() || c.GetIsArrayKind() || c.GetFieldNo() < 0 || c.GetSelectDerived() || c.GetComputed())
      continue;
        if (!SameText(c.GetRelName(), r)) continue;
        if (c.GetOldIsNull()) {
          add(Qualified(c) + " IS NULL");
        } else {
          add(Qualified(c) + " = ?");
          bindings.push_back({&c, true});
        }
      }
    } else {
      TIB_Row* keys = FDataset->GetKeyFieldsRow();
      for (int i = 0; i < keys->GetColumnCount(); ++i) {
        TIB_Column& k = *keys->GetColumns(i);
        add(Qualified(k) + " = ?");
        bindings.push_back({&k, keys == fields});
      }
    }
    RunOneOff(sql + where, bindings, uskEdit);
    return;
  }
  // Positioned: one statement per relation of the row.
  for (int rel = 0; rel < fields->GetRelationCount(); ++rel) {
    const std::string r = fields->GetRelationName(rel);
    std::string sql = "UPDATE " + r + kCRLF;
    bindings.clear();
    for (int i = 0; i < fields->GetColumnCount(); ++i) {
      TIB_Column& c = *fields->GetColumns(i);
      if (!SameText(c.GetRelName(), r) || !IsUpdatable(c) || !TIB_Dataset::ColumnValueChanged(c)) continue;
      sql += (bindings.empty() ? std::string("  SET ") : std::string("    , ")) + c.GetSQLName() + " = ?";
      bindings.push_back({&c, false});
    }
    if (bindings.empty()) continue;
    if (FDataset->GetCursorName().empty()) IB_Raise<EIB_DatasetError>(IBMsg::UnableToInitializeDefault, {"CURRENT OF"});
    RunOneOff(sql + kCRLF + "WHERE CURRENT OF " + FDataset->GetCursorName(), bindings, uskEdit);
  }
}

void TIB_UpdateSQL::OneOffDelete() {
  CheckKeyRelation();
  TIB_Row* fields = FDataset->GetFields();
  std::vector<TBinding> bindings;
  std::string where;
  for (int i = 0; i < fields->GetColumnCount(); ++i) {
    TIB_Column& c = *fields->GetColumns(i);
    if (!SameText(c.GetRelName(), FDataset->GetKeyRelation()) || c.GetFieldNo() < 0 || c.GetComputed()) continue;
    // Blob and array values cannot be compared by the engine.
    if (c.GetIsBlobKind() || c.GetIsArrayKind()) continue;
    const std::string term = c.GetOldIsNull() ? Qualified(c) + " IS NULL" : Qualified(c) + " = ?";
    where += (where.empty() ? "" : std::string(kCRLF) + "  AND ") + term;
    if (!c.GetOldIsNull()) bindings.push_back({&c, true});
  }
  RunOneOff("DELETE FROM " + FDataset->GetKeyRelation() + kCRLF + kCRLF + "WHERE " + where, bindings, uskDelete);
}
