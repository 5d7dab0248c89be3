// TIB_SchemaCache: the lists, their files and the lookups.
#include "dblib/schema/IB_SchemaCache.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "dblib/IB_Constants.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Errors.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/schema/IB_Schema.h"
#include "dblib/schema/IB_SchemaCursor.h"
#include "platform/ScopeGuards.h"

namespace {

constexpr const char* kListNames[IB_SchemaListCount] = {
    "DomainNames",   "GeneratorNames",    "TableNames",     "ViewNames",   "ProcedureNames", "ConstraintNames",
    "TriggerNames",  "IndexDefs",         "IndexNames",     "PrimaryKeys", "ForeignKeys",    "Required",
    "Defaults",      "Computed",          "FieldDomains",   "TableKeys",   "TableFields",    "ProcedureParams",
    "RelationsByID", "DatabaseSchemaVer", "ClientSchemaVer"};

// The first line of every cache file; a file of another layout is not read.
constexpr const char* kFileTag = "ZDB schema cache 2";

// The stored name behind an identifier: quotes stripped.
std::string Bare(const std::string& Identifier) {
  std::string r;
  StripQuotes(Identifier, r);
  return r;
}

// The identifier of a name as the lists hold it: a stored name (quoted or exact) is written quoted
// only where it has to be, so "PAIR" and PAIR are one name and "Pair" another.
std::string Ident(int Dialect, const std::string& Name) {
  std::string r;
  MakeSQLIdentExact(Dialect, IsQuotedIdent(Trim(Name)) ? Bare(Name) : Trim(Name), r);
  return r;
}

// Compares list items as the engine tells names apart: letters outside double quotes case-insensitively
// (an unquoted name is stored in upper case), letters inside them exactly, so that the tables "Pair"
// and "pair" stay two names.
int CompareNames(std::string_view A, std::string_view B) {
  const auto upper = [](unsigned char C) { return C >= 'a' && C <= 'z' ? static_cast<unsigned char>(C - 32) : C; };
  bool quotedA = false, quotedB = false;
  const size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(A[i]), b = static_cast<unsigned char>(B[i]);
    const unsigned char ka = quotedA ? a : upper(a), kb = quotedB ? b : upper(b);
    if (a == '"') quotedA = !quotedA;
    if (b == '"') quotedB = !quotedB;
    if (ka != kb) return ka < kb ? -1 : 1;
  }
  return A.size() < B.size() ? -1 : A.size() > B.size() ? 1 : 0;
}

// The cache's lists: sorted by CompareNames, blank items kept.
template <class Base>
class TSchemaNameList : public Base {
protected:
  int CompareStrings(std::string_view A, std::string_view B) const override { return CompareNames(A, B); }
};

// The lines of a file's text; CR, LF and CR LF all end a line. Every line must be ended.
bool SplitLines(const std::string& Text, std::vector<std::string>& Lines) {
  size_t pos = 0;
  while (pos < Text.size()) {
    const size_t end = Text.find_first_of("\r\n", pos);
    if (end == std::string::npos) return false;
    Lines.emplace_back(Text, pos, end - pos);
    pos = end + 1;
    if (Text[end] == '\r' && pos < Text.size() && Text[pos] == '\n') ++pos;
  }
  return true;
}

bool ReadWholeFile(const std::string& Path, std::string& Text) {
  FILE* f = std::fopen(Path.c_str(), "rb");
  if (!f) return false;
  TScopeExit close([f] { std::fclose(f); });
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) Text.append(buf, n);
  return std::ferror(f) == 0;
}

// Writes Text to a new file beside Path and renames it into place, so that Path holds either its old
// content or all of the new one.
bool WriteFileAtomically(const std::string& Path, const std::string& Text) {
  std::string temp = Path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < Text.size();) {
    const ssize_t n = write(fd, Text.data() + done, Text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = close(fd) == 0 && ok;
  if (ok) ok = std::rename(temp.c_str(), Path.c_str()) == 0;
  if (!ok) std::remove(temp.c_str());
  return ok;
}

}  // namespace

TIB_SchemaCache::TIB_SchemaCache(TIB_Connection* AConnection) : FConnection(AConnection) {}

TIB_SchemaCache::~TIB_SchemaCache() {
  for (TIB_SchemaCursor*& c : FCursors) FreeAndNil(c);
  FreeAndNil(FTransaction);
}

const char* TIB_SchemaCache::GetListName(int N) { return N >= 0 && N < IB_SchemaListCount ? kListNames[N] : ""; }

bool TIB_SchemaCache::Connected() const { return FConnection && FConnection->GetConnected(); }

int TIB_SchemaCache::Dialect() const {
  const int d = FConnection ? FConnection->GetSQLDialect() : 3;
  return d >= 1 ? d : 1;
}

TIB_Transaction* TIB_SchemaCache::GetTransaction() {
  if (!FTransaction) {
    FTransaction = new TIB_TransactionInternal(nullptr);
    FTransaction->SetIB_Connection(FConnection);
  }
  return FTransaction;
}

// ---- lists ---------------------------------------------------------------------------------------------------

TIB_StringList* TIB_SchemaCache::GetSchemaList(int N) {
  if (N < 0 || N >= IB_SchemaListCount) return nullptr;
  std::unique_ptr<TIB_StringList>& list = FLists[N];
  if (!list) {
    if (N >= slFieldDomains && N <= slProcedureParams)
      list = std::make_unique<TSchemaNameList<TIB_StringList>>();
    else
      list = std::make_unique<TSchemaNameList<TIB_StringCache>>();
    list->SetSorted(true);
    list->SetDuplicates(dupIgnore);
  }
  const uint32_t bit = 1u << N;
  if (FLoaded & bit) return list.get();
  // Marked at once, so that a request for it while it is being filled does not start again.
  if (N == slRelationsByID) FLoaded |= bit;
  bool filled = false;
  TScopeExit unmark([&] {
    if (!filled) FLoaded &= ~bit;
  });
  auto update = MakeBracket(*list, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  list->Clear();
  if (!Connected()) {
    update.End();
    return list.get();
  }
  if (FSchemaCacheDir.empty() || FChangePending || !LoadListFromFile(N)) {
    RunListQuery(N, *list);
    if (!FSchemaCacheDir.empty() && !FChangePending) SaveListToFile(N);
  }
  // A list read while a schema change may be uncommitted is read again on its next use.
  if (!FChangePending) {
    FLoaded |= bit;
    filled = true;
  }
  update.End();
  return list.get();
}

void TIB_SchemaCache::RunListQuery(int N, TStrings& L) {
  TIB_Connection* c = FConnection;
  switch (N) {
    case slDomainNames: GetDomainNames(c, nullptr, false, &L); break;
    case slGeneratorNames: GetGeneratorNames(c, nullptr, false, &L); break;
    case slTableNames: GetRelationNames(c, nullptr, false, true, false, &L); break;
    case slViewNames: GetRelationNames(c, nullptr, false, false, true, &L); break;
    case slProcedureNames: GetProcedureNames(c, nullptr, &L); break;
    case slConstraintNames: GetConstraintNames(c, nullptr, false, "", &L); break;
    case slTriggerNames: GetTriggerNames(c, nullptr, false, "", &L); break;
    case slIndexDefs: GetIndexDefinitions(c, nullptr, false, &L); break;
    case slIndexNames: GetIndexNames(c, nullptr, false, "", &L); break;
    case slPrimaryKeys: GetPrimaryKeyFields(c, nullptr, "", &L); break;
    case slForeignKeys: GetForeignKeyFields(c, nullptr, "", &L); break;
    case slRequired: GetNotNullFields(c, nullptr, false, &L, ""); break;
    case slDefaults: GetDefaultedFields(c, nullptr, false, &L, ""); break;
    case slComputed: GetComputedFields(c, nullptr, false, &L, ""); break;
    case slFieldDomains: GetRelationFieldSources(c, nullptr, &L); break;
    case slTableKeys: GetPrimaryKeyFields(c, nullptr, IB_ByTable, &L); break;
    case slTableFields: GetRelationFields(c, nullptr, &L, IB_ByTable); break;
    case slRelationsByID: GetRelationIds(c, nullptr, true, &L); break;
    case slDatabaseSchemaVer: GetSchemaVersions(c, nullptr, &L); break;
    default: break;  // ProcedureParams stays empty; ClientSchemaVer comes only from its file
  }
}

void TIB_SchemaCache::SchemaChanged() {
  FChangePending = true;
  DeleteCacheFiles();
  ClearLoadedLists();
}

void TIB_SchemaCache::TransactionEnded(TIB_Component* Transaction) {
  if (!FChangePending || Transaction == FTransaction) return;
  FChangePending = false;
  DeleteCacheFiles();
  ClearLoadedLists();
}

void TIB_SchemaCache::ClearLoadedLists() {
  FLoaded = 0;
  FIdentity.clear();
  FIdentities.clear();
}

// ---- files -----------------------------------------------------------------------------------------------------

void TIB_SchemaCache::SetSchemaCacheDir(const std::string& Dir) {
  std::string d = Trim(Dir);
  while (!d.empty() && d.back() == '\\') d.pop_back();
  // The versions of the files written belong to the folder they were written to.
  if (d != FSchemaCacheDir) FLoaded &= ~(1u << slClientSchemaVer);
  FSchemaCacheDir = d;
}

std::string TIB_SchemaCache::GetCacheFileName(int N) const {
  if (FSchemaCacheDir.empty() || N < 0 || N >= IB_SchemaListCount) return std::string();
  std::string base = FConnection ? FConnection->GetPath() : std::string();
  const size_t sep = base.find_last_of("/\\:");
  if (sep != std::string::npos) base.erase(0, sep + 1);
  base = base.substr(0, base.find('.'));
  return FSchemaCacheDir + "/" + base + "/" + kListNames[N] + ".ZDB";
}

const std::string& TIB_SchemaCache::DatabaseIdentity() {
  if (!FIdentity.empty() || !Connected()) return FIdentity;
  static const char kItems[] = {isc_info_creation_date, isc_info_end};
  char reply[64] = {};
  TIB_Session* s = FConnection->GetSession();
  if (s->Call(s->Entries.isc_database_info, FConnection->GetdbHandle(), static_cast<short>(sizeof kItems), kItems,
              static_cast<short>(sizeof reply), reply) != 0 ||
      reply[0] != isc_info_creation_date) {
    return FIdentity;
  }
  const size_t len = static_cast<unsigned char>(reply[1]) | (static_cast<unsigned char>(reply[2]) << 8);
  static const char kHex[] = "0123456789ABCDEF";
  std::string stamp;
  for (size_t i = 0; i < len && 3 + i < sizeof reply; ++i) {
    const auto b = static_cast<unsigned char>(reply[3 + i]);
    stamp += kHex[b >> 4];
    stamp += kHex[b & 15];
  }
  FIdentity = FConnection->GetDatabaseName() + "|" + stamp;
  return FIdentity;
}

std::string TIB_SchemaCache::DatabaseVersion(int N) {
  std::string version;
  TIB_StringList* versions = GetSchemaList(slDatabaseSchemaVer);
  if (versions->Count() > 0) versions->FindValue(kListNames[N], version);
  return version;
}

bool TIB_SchemaCache::IsCacheFileCurrent(int N) {
  if (N == slProcedureParams || N == slRelationsByID || N == slDatabaseSchemaVer) return false;
  std::error_code ec;
  if (!std::filesystem::exists(GetCacheFileName(N), ec)) return false;
  if (N == slClientSchemaVer) return true;
  TIB_StringList* database = GetSchemaList(slDatabaseSchemaVer);
  if (database->Count() == 0) return true;
  std::string databaseVersion, clientVersion;
  if (!database->FindValue(kListNames[N], databaseVersion)) return false;
  if (!GetSchemaList(slClientSchemaVer)->FindValue(kListNames[N], clientVersion)) return false;
  return databaseVersion == clientVersion;
}

bool TIB_SchemaCache::LoadListFromFile(int N) {
  if (!IsCacheFileCurrent(N)) return false;
  const std::string& identity = DatabaseIdentity();
  if (identity.empty()) return false;
  std::string text;
  std::vector<std::string> lines;
  if (!ReadWholeFile(GetCacheFileName(N), text) || !SplitLines(text, lines) || lines.size() < 5) return false;
  const std::string version = N == slClientSchemaVer ? std::string() : DatabaseVersion(N);
  // Header, items, and a last line with the count of items: anything else is a file not to trust.
  const size_t items = lines.size() - 5;
  if (lines[0] != kFileTag || lines[1] != "DB=" + identity || lines[2] != std::string("LIST=") + kListNames[N] ||
      lines[3] != "VERSION=" + version || lines.back() != "END=" + std::to_string(items)) {
    return false;
  }
  TIB_StringList& list = *FLists[N];
  list.Clear();
  for (size_t i = 4; i < 4 + items; ++i) list.Add(lines[i]);
  return true;
}

void TIB_SchemaCache::SaveListToFile(int N) {
  if (N < 0 || N > slTableFields) return;
  const std::string& identity = DatabaseIdentity();
  if (identity.empty()) return;
  const std::string version = DatabaseVersion(N);
  auto write = [&](int List, const std::string& Version) {
    const std::string path = GetCacheFileName(List);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) return false;
    const TIB_StringList& list = *FLists[List];
    std::string text = std::string(kFileTag) + "\r\nDB=" + identity + "\r\nLIST=" + kListNames[List] +
                       "\r\nVERSION=" + Version + "\r\n";
    for (int i = 0; i < list.Count(); ++i) text += list.Get(i) + "\r\n";
    text += "END=" + std::to_string(list.Count()) + "\r\n";
    return WriteFileAtomically(path, text);
  };
  if (!write(N, version)) return;
  // The versions written so far are kept in list 20: load it before changing it.
  TIB_StringList* client = GetSchemaList(slClientSchemaVer);
  int index = 0;
  const std::string item = std::string(kListNames[N]) + "=" + version;
  if (client->FindName(kListNames[N], index))
    client->Put(index, item);
  else
    client->Add(item);
  write(slClientSchemaVer, std::string());
}

void TIB_SchemaCache::DeleteCacheFiles() {
  if (FSchemaCacheDir.empty()) return;
  for (int n = 0; n < IB_SchemaListCount; ++n) {
    std::error_code ec;
    std::filesystem::remove(GetCacheFileName(n), ec);
  }
}

// ---- lookups ---------------------------------------------------------------------------------------------------

bool TIB_SchemaCache::IsProcedure(const std::string& Name) {
  int index = 0;
  return GetSchemaList(slProcedureNames)->Find(Ident(Dialect(), Name), index);
}

bool TIB_SchemaCache::IsColumnListed(int N, const std::string& Relation, const std::string& Field) {
  TIB_StringList* list = GetSchemaList(N);
  int index = 0;
  return list && list->Find(Ident(Dialect(), Field) + "," + Ident(Dialect(), Relation), index);
}

namespace {

// Runs a lookup cursor's work. A server error of a cursor is not the caller's: the lookup finds nothing
// when Quiet or when the network is gone, else it is the cache's internal error.
template <class F>
void RunLookup(bool Quiet, F&& Body) {
  try {
    Body();
  } catch (const EIB_ISCError& e) {
    // A broken network connection: the lookup just finds nothing.
    if (Quiet || e.ERRCODE == isc_network_error) return;
    IB_Raise<EIB_Error>(IBMsg::InternalSchemaCacheError, {e.ERRCODE});
  }
}

}  // namespace

std::string TIB_SchemaCache::GetFieldSource(const std::string& Relation, const std::string& Field) {
  if (Trim(Relation).empty() || Trim(Field).empty()) return std::string();
  const std::string rel = Ident(Dialect(), Relation);
  const std::string key = rel + "." + Ident(Dialect(), Field);
  TIB_StringList* domains = GetSchemaList(slFieldDomains);
  std::string result;
  if (domains->FindValue(key, result)) return result;
  if (!FSchemaCacheDir.empty() || !Connected() || IsProcedure(rel)) return std::string();
  bool found = false;
  RunLookup(true, [&] {
    TIB_SchemaCursor* cursor = GetCursor(ckFieldSource);
    cursor->ParamByName("RDB$RELATION_NAME")->SetAsString(Bare(rel));
    cursor->ParamByName("RDB$FIELD_NAME")->SetAsString(Bare(Ident(Dialect(), Field)));
    cursor->First();
    if (!cursor->GetEof()) result = Ident(Dialect(), cursor->ColumnText(0));
    cursor->Close();
    found = true;
  });
  if (found) domains->Add(key + "=" + result);
  return result;
}

bool TIB_SchemaCache::RelationColumns(const std::string& Relation, int List, TCursorKind Cursor, std::string& Rel,
                                      TIB_StringList& Fields) {
  if (Trim(Relation).empty()) return false;
  Rel = Ident(Dialect(), Relation);
  TIB_StringList* cached = GetSchemaList(List);
  std::string value;
  if (cached->FindValue(Rel, value)) {
    Fields.SetCommaList(value);
    return true;
  }
  if (!FSchemaCacheDir.empty() || !Connected() || IsProcedure(Rel)) return false;
  bool found = false;
  RunLookup(false, [&] {
    TIB_SchemaCursor* cursor = GetCursor(Cursor);
    cursor->ParamByName("RDB$RELATION_NAME")->SetAsString(Bare(Rel));
    for (cursor->First(); !cursor->GetEof(); cursor->Next()) Fields.Add(Ident(Dialect(), cursor->ColumnText(0)));
    cursor->Close();
    found = true;
  });
  if (!found) return false;
  std::string list;
  for (int i = 0; i < Fields.Count(); ++i) list += (i ? "," : "") + Fields.Get(i);
  cached->Add(Rel + "=" + list);
  return true;
}

void TIB_SchemaCache::GetTableKeys(const std::string& Relation, TStrings& Target) {
  auto update = MakeBracket(Target, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  Target.Clear();
  std::string rel;
  TIB_StringList fields;
  if (RelationColumns(Relation, slTableKeys, ckPrimaryKey, rel, fields))
    for (int i = 0; i < fields.Count(); ++i) Target.Add(rel + "." + fields.Get(i));
  update.End();
}

void TIB_SchemaCache::GetTableFields(const std::string& Relation, TStrings& Target) {
  auto update = MakeBracket(Target, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  Target.Clear();
  std::string rel;
  TIB_StringList fields;
  if (RelationColumns(Relation, slTableFields, ckRelationFields, rel, fields)) Target.AddStrings(fields);
  update.End();
}

// ---- cursors ---------------------------------------------------------------------------------------------------

// The default sources are text blobs: read as VARCHAR they arrive with the row, with no blob calls.
TIB_SchemaCursor* TIB_SchemaCache::GetCursor(TCursorKind Kind) {
  static const std::vector<std::string> kLines[ckCount] = {
      {"SELECT RDB$FIELD_SOURCE", "FROM RDB$RELATION_FIELDS", "WHERE RDB$RELATION_NAME = ?RDB$RELATION_NAME",
       "  AND RDB$FIELD_NAME = ?RDB$FIELD_NAME"},
      {"SELECT S.RDB$FIELD_NAME", "FROM RDB$RELATION_CONSTRAINTS C", "   , RDB$INDICES I", "   , RDB$INDEX_SEGMENTS S",
       "WHERE C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'", "  AND C.RDB$RELATION_NAME = I.RDB$RELATION_NAME",
       "  AND C.RDB$INDEX_NAME = I.RDB$INDEX_NAME", "  AND I.RDB$INDEX_NAME = S.RDB$INDEX_NAME",
       "  AND I.RDB$RELATION_NAME = ?RDB$RELATION_NAME", "ORDER BY S.RDB$FIELD_POSITION"},
      {"SELECT RDB$FIELD_NAME", "FROM RDB$RELATION_FIELDS", "WHERE RDB$RELATION_NAME = ?RDB$RELATION_NAME",
       "ORDER BY RDB$FIELD_POSITION"},
      {"SELECT CAST(RDB$DEFAULT_SOURCE AS VARCHAR(8191))", "FROM RDB$RELATION_FIELDS",
       "WHERE RDB$DEFAULT_SOURCE IS NOT NULL", "  AND RDB$RELATION_NAME = ?RDB$RELATION_NAME",
       "  AND RDB$FIELD_NAME = ?RDB$FIELD_NAME"},
      {"SELECT CAST(F.RDB$DEFAULT_SOURCE AS VARCHAR(8191))", "FROM RDB$FIELDS F JOIN RDB$RELATION_FIELDS R",
       "ON F.RDB$FIELD_NAME = R.RDB$FIELD_SOURCE", "WHERE R.RDB$RELATION_NAME = ?RDB$RELATION_NAME",
       "  AND R.RDB$FIELD_NAME = ?RDB$FIELD_NAME", "  AND F.RDB$DEFAULT_SOURCE IS NOT NULL"}};
  TIB_SchemaCursor*& cursor = FCursors[Kind];
  if (!cursor) {
    cursor = new TIB_SchemaCursor(nullptr);
    cursor->SetIB_Connection(FConnection);
    cursor->SetIB_Transaction(GetTransaction());
    TIB_SQLStrings& sql = cursor->GetSQL();
    sql.BeginUpdate();
    for (const std::string& line : kLines[Kind]) sql.Add(line);
    sql.EndUpdate();
  }
  cursor->SetPrepared(true);
  return cursor;
}

TIB_SchemaCursor* TIB_SchemaCache::GetColumnDefaultCursor() { return GetCursor(ckColumnDefault); }

TIB_SchemaCursor* TIB_SchemaCache::GetDomainDefaultCursor() { return GetCursor(ckDomainDefault); }

std::string TIB_SchemaCache::GetDefaultSource(const std::string& Relation, const std::string& Field) {
  if (Relation.empty() || Field.empty() || !Connected()) return std::string();
  std::string source;
  RunLookup(false, [&] {
    for (TCursorKind kind : {ckColumnDefault, ckDomainDefault}) {
      TIB_SchemaCursor* cursor = GetCursor(kind);
      cursor->ParamByName("RDB$RELATION_NAME")->SetAsString(Relation);
      cursor->ParamByName("RDB$FIELD_NAME")->SetAsString(Field);
      cursor->First();
      source = cursor->GetEof() ? std::string() : cursor->ColumnText(0);
      cursor->Close();
      if (!Trim(source).empty()) break;
    }
  });
  return source;
}

std::string TIB_SchemaCache::GetIdentityGenerator(const std::string& Relation, const std::string& Field) {
  if (Relation.empty() || Field.empty() || !Connected()) return std::string();
  const std::string key = Relation + '\0' + Field;
  if (const auto known = FIdentities.find(key); known != FIdentities.end()) return known->second;
  // One singleton asked without a cursor: the answer comes with the execution, nothing to close. A server
  // older than IDENTITY columns knows no RDB$GENERATOR_NAME: its columns have none.
  std::string generator;
  RunLookup(true, [&] {
    std::unique_ptr<TIB_DSQL> statement(new TIB_DSQL(nullptr));
    statement->SetIB_Connection(FConnection);
    statement->SetIB_Transaction(GetTransaction());
    std::string relation, field;
    QuoteText(Relation, '\'', relation);
    QuoteText(Field, '\'', field);
    std::vector<char> da(XSQLDA_LENGTH(1), 0);
    auto* out = reinterpret_cast<XSQLDA*>(da.data());
    out->version = SQLDA_VERSION1;
    out->sqln = out->sqld = 1;
    char name[256] = {};
    short nullFlag = 0;
    XSQLVAR& v = out->sqlvar[0];
    v.sqltype = SQL_TEXT + 1;
    v.sqllen = static_cast<ISC_SHORT>(sizeof name);
    v.sqldata = name;
    v.sqlind = &nullFlag;
    statement->SysCheckTransaction(true);
    statement->ExecuteImmediate("SELECT RDB$GENERATOR_NAME\r\nFROM RDB$RELATION_FIELDS\r\nWHERE RDB$RELATION_NAME = " +
                                    relation + "\r\n  AND RDB$FIELD_NAME = " + field,
                                nullptr, out);
    if (nullFlag == 0) MakeSQLIdentExact(Dialect(), TrimRight(std::string(name, sizeof name)), generator);
  });
  // Unknown while a schema change may be uncommitted: asked again next time.
  if (!FChangePending) FIdentities[key] = generator;
  return generator;
}

void TIB_SchemaCache::FreeCursors() {
  for (TIB_SchemaCursor*& c : FCursors) FreeAndNil(c);
  if (FTransaction && FTransaction->GetStarted()) FTransaction->Rollback();
}
