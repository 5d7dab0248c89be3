// The schema cursor and the schema queries.
#include "dblib/schema/IB_Schema.h"

#include <memory>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/schema/IB_SchemaCursor.h"
#include "platform/Registry.h"
#include "platform/ScopeGuards.h"
#include "platform/Streams.h"

namespace {

// ---- the common run ----------------------------------------------------------------------------------------

using CursorPtr = std::unique_ptr<TIB_SchemaCursor>;

CursorPtr NewCursor(TIB_Connection* C, TIB_Transaction* T, const std::vector<std::string>& Lines,
                    bool ParamCheck = true) {
  CursorPtr cursor(new TIB_SchemaCursor(nullptr));
  cursor->SetIB_Connection(C);
  if (T) cursor->SetIB_Transaction(T);
  if (!ParamCheck) cursor->SetParamCheck(false);
  TIB_SQLStrings& sql = cursor->GetSQL();
  sql.BeginUpdate();
  for (const std::string& line : Lines) sql.Add(line);
  sql.EndUpdate();
  return cursor;
}

// Runs the query and calls OnRow for every row.
template <class F>
void ForEachRow(TIB_SchemaCursor& Cursor, F&& OnRow) {
  Cursor.Prepare();
  for (Cursor.First(); !Cursor.GetEof(); Cursor.Next()) OnRow();
  Cursor.Close();
}

std::string Ident(int Dialect, const std::string& Name) {
  std::string r;
  MakeSQLIdentExact(Dialect, TrimRight(Name), r);
  return r;
}

// A relation argument as a string literal: quotes stripped, upper-cased below dialect 3.
std::string RelationLiteral(int Dialect, const std::string& Relation) {
  std::string name = Trim(Relation);
  if (Dialect < 3) name = UpperCase(name);
  std::string bare, doubled;
  StripQuotes(name, bare);
  DoubleChar(bare, '\'', doubled);
  return "'" + doubled + "'";
}

int DialectOf(TIB_Connection* C) {
  const int d = C->GetSQLDialect();
  return d >= 1 ? d : 1;
}

// Fills List with one item per row: Item(cursor) gives its text.
template <class F>
void FillList(TIB_Connection* C, TIB_Transaction* T, TStrings* List, const std::vector<std::string>& Lines, F&& Item,
              bool ParamCheck = true) {
  if (!List) return;
  RunInUpdate(*List, [&] {
    List->Clear();
    if (!C) return;
    CursorPtr cursor = NewCursor(C, T, Lines, ParamCheck);
    ForEachRow(*cursor, [&] { List->Add(Item(*cursor)); });
  });
}

// Keeps a sorted list unsorted while it is filled, so that the rows keep their order within an item; it
// is sorted again at the end.
class TUnsorted {
public:
  explicit TUnsorted(TStrings& List) : FList(dynamic_cast<TStringList*>(&List)) {
    FWasSorted = FList && FList->GetSorted();
    if (FWasSorted) FList->SetSorted(false);
  }
  ~TUnsorted() {
    if (FWasSorted) FList->SetSorted(true);
  }
  TUnsorted(const TUnsorted&) = delete;
  TUnsorted& operator=(const TUnsorted&) = delete;

private:
  TStringList* FList;
  bool FWasSorted = false;
};

// Fills List with REL=F1,F2,... items: rows of one relation come together, in their order.
void FillGrouped(TIB_SchemaCursor& Cursor, TStrings& List, int FieldCol, int RelCol) {
  TUnsorted unsorted(List);
  const int dialect = Cursor.GetSQLDialect();
  std::string lastRel;
  bool any = false;
  ForEachRow(Cursor, [&] {
    const std::string rel = Ident(dialect, Cursor.ColumnText(RelCol));
    const std::string field = Ident(dialect, Cursor.ColumnText(FieldCol));
    if (any && rel == lastRel) {
      const int last = List.Count() - 1;
      List.Put(last, List.Get(last) + "," + field);
    } else {
      List.Add(rel + "=" + field);
      lastRel = rel;
      any = true;
    }
  });
}

const char* const kUserOnly = "WHERE ( RDB$SYSTEM_FLAG <> 1 OR RDB$SYSTEM_FLAG IS NULL )";

}  // namespace

// ---- the routines ----------------------------------------------------------------------------------------------

void GetSchemaVersions(TIB_Connection* C, TIB_Transaction* T, TStrings* List) {
  if (!List) return;
  RunInUpdate(*List, [&] {
    List->Clear();
    if (!C) return;
    // A database without the version table simply has no versions: look before reading it.
    CursorPtr probe =
        NewCursor(C, T, {"SELECT COUNT(*)", "FROM RDB$RELATIONS", "WHERE RDB$RELATION_NAME = 'ZDB$SCHEMA_VERSION'"});
    probe->Prepare();
    probe->First();
    const bool present = !probe->GetEof() && probe->ColumnText(0) != "0";
    probe->Close();
    if (!present) return;
    CursorPtr cursor =
        NewCursor(C, T, {"SELECT SCHEMA_ITEM || '=' || VERSION_NUMBER", "FROM ZDB$SCHEMA_VERSION", "ORDER BY 1"}, false);
    ForEachRow(*cursor, [&] { List->Add(cursor->ColumnText(0)); });
  });
}

void GetDomainNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List) {
  std::vector<std::string> lines{"SELECT RDB$FIELD_NAME", "FROM RDB$FIELDS"};
  if (!IncludeSystem) lines.emplace_back(kUserOnly);
  lines.emplace_back("ORDER BY 1");
  FillList(C, T, List, lines, [](TIB_SchemaCursor& R) { return Ident(R.GetSQLDialect(), R.ColumnText(0)); });
}

void GetRelationFieldSources(TIB_Connection* C, TIB_Transaction* T, TStrings* List) {
  FillList(C, T, List,
           {"SELECT RDB$RELATION_NAME, RDB$FIELD_NAME, RDB$FIELD_SOURCE", "FROM RDB$RELATION_FIELDS R", kUserOnly,
            "  AND NOT RDB$RELATION_NAME STARTING 'RDB$'", "  AND NOT RDB$FIELD_NAME STARTING 'RDB$'",
            "  AND NOT RDB$FIELD_SOURCE STARTING 'RDB$'", "ORDER BY 1, 2"},
           [](TIB_SchemaCursor& R) {
             const int d = R.GetSQLDialect();
             return Ident(d, R.ColumnText(0)) + "." + Ident(d, R.ColumnText(1)) + "=" + Ident(d, R.ColumnText(2));
           });
}

void GetGeneratorNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List) {
  std::vector<std::string> lines{"SELECT RDB$GENERATOR_NAME", "FROM RDB$GENERATORS"};
  if (!IncludeSystem) lines.emplace_back(kUserOnly);
  lines.emplace_back("ORDER BY 1");
  FillList(C, T, List, lines, [](TIB_SchemaCursor& R) { return Ident(R.GetSQLDialect(), R.ColumnText(0)); });
}

void GetRelationNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, bool IncludeTables, bool IncludeViews,
                      TStrings* List) {
  std::vector<std::string> lines{"SELECT R.RDB$RELATION_NAME", "FROM RDB$RELATIONS R"};
  if (!IncludeViews && !IncludeTables)
    lines.emplace_back("WHERE 0=1");
  else if (IncludeSystem)
    lines.emplace_back("WHERE 1=1");
  else
    lines.emplace_back("WHERE ( R.RDB$SYSTEM_FLAG <> 1 OR  R.RDB$SYSTEM_FLAG IS NULL )");
  if (IncludeViews && !IncludeTables) {
    lines.insert(lines.end(), {" AND EXISTS ( SELECT V.RDB$VIEW_CONTEXT", "              FROM RDB$VIEW_RELATIONS V",
                               "              WHERE R.RDB$RELATION_NAME=V.RDB$VIEW_NAME )"});
  } else if (IncludeTables && !IncludeViews) {
    lines.insert(lines.end(),
                 {" AND NOT EXISTS ( SELECT V.RDB$VIEW_CONTEXT", "                  FROM RDB$VIEW_RELATIONS V",
                  "                  WHERE R.RDB$RELATION_NAME=V.RDB$VIEW_NAME )"});
  }
  lines.emplace_back("ORDER BY 1");
  FillList(C, T, List, lines, [](TIB_SchemaCursor& R) { return Ident(R.GetSQLDialect(), R.ColumnText(0)); });
}

void GetRelationIds(TIB_Connection* C, TIB_Transaction* T, bool IncludeViews, TStrings* List) {
  std::vector<std::string> lines{"SELECT R.RDB$RELATION_ID || '=', R.RDB$RELATION_NAME", "FROM RDB$RELATIONS R"};
  if (!IncludeViews) {
    lines.insert(lines.end(),
                 {"WHERE NOT EXISTS ( SELECT V.RDB$VIEW_CONTEXT", "                   FROM RDB$VIEW_RELATIONS V",
                  "                   WHERE R.RDB$RELATION_NAME=V.RDB$VIEW_NAME )"});
  }
  lines.emplace_back("ORDER BY 1");
  FillList(
      C, T, List, lines,
      [](TIB_SchemaCursor& R) { return R.ColumnText(0) + Ident(R.GetSQLDialect(), R.ColumnText(1)); }, false);
}

void GetProcedureNames(TIB_Connection* C, TIB_Transaction* T, TStrings* List) {
  FillList(C, T, List, {"SELECT RDB$PROCEDURE_NAME", "FROM RDB$PROCEDURES", "ORDER BY RDB$PROCEDURE_NAME"},
           [](TIB_SchemaCursor& R) { return Ident(R.GetSQLDialect(), R.ColumnText(0)); });
}

void GetRelationFields(TIB_Connection* C, TIB_Transaction* T, TStrings* List, const std::string& Relation) {
  if (!List) return;
  RunInUpdate(*List, [&] {
    List->Clear();
    if (!C) return;
    const bool byTable = Relation == IB_ByTable;
    std::vector<std::string> lines{"SELECT R.RDB$RELATION_NAME, RDB$FIELD_NAME", "FROM RDB$RELATION_FIELDS R",
                                   "WHERE R.RDB$RELATION_NAME NOT STARTING WITH 'RDB$'",
                                   // The monitoring and security tables are system tables too.
                                   "  AND ( R.RDB$SYSTEM_FLAG <> 1 OR R.RDB$SYSTEM_FLAG IS NULL )"};
    if (!Relation.empty() && !byTable) {
      lines.push_back("  AND R.RDB$RELATION_NAME = " + RelationLiteral(DialectOf(C), Relation));
      lines.emplace_back("ORDER BY R.RDB$FIELD_POSITION");
    } else {
      lines.emplace_back("ORDER BY R.RDB$RELATION_NAME, R.RDB$FIELD_POSITION");
    }
    CursorPtr cursor = NewCursor(C, T, lines);
    if (byTable) {
      FillGrouped(*cursor, *List, 1, 0);
      return;
    }
    TUnsorted unsorted(*List);
    const int d = cursor->GetSQLDialect();
    ForEachRow(*cursor, [&] {
      const std::string field = Ident(d, cursor->ColumnText(1));
      List->Add(Relation.empty() ? Ident(d, cursor->ColumnText(0)) + "." + field : field);
    });
  });
}

namespace {

// The name lists filtered by relation: NAME, or NAME,RELATION (WithRelation) per row.
void FillFiltered(TIB_Connection* C, TIB_Transaction* T, TStrings* List, std::vector<std::string> Lines,
                  const std::string& Alias, bool IncludeSystem, const std::string& Relation, bool SystemFirst,
                  bool PairWithoutRelation) {
  if (C) {
    const std::string relLine = "  AND " + Alias + ".RDB$RELATION_NAME = " + RelationLiteral(DialectOf(C), Relation);
    const std::string sysLine = "  AND NOT " + Alias + ".RDB$RELATION_NAME STARTING WITH 'RDB$'";
    if (SystemFirst && !IncludeSystem) Lines.push_back(sysLine);
    if (!Relation.empty()) Lines.push_back(relLine);
    if (!SystemFirst && !IncludeSystem) Lines.push_back(sysLine);
  }
  Lines.emplace_back("ORDER BY 1");
  const bool pair = PairWithoutRelation && Relation.empty();
  FillList(C, T, List, Lines, [pair](TIB_SchemaCursor& R) {
    const int d = R.GetSQLDialect();
    const std::string name = Ident(d, R.ColumnText(0));
    return pair ? name + "," + Ident(d, R.ColumnText(1)) : name;
  });
}

}  // namespace

void GetConstraintNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, const std::string& Relation,
                        TStrings* List) {
  FillFiltered(C, T, List, {"SELECT RDB$CONSTRAINT_NAME", "FROM RDB$RELATION_CONSTRAINTS C", "WHERE 1=1"}, "C",
               IncludeSystem, Relation, false, false);
}

void GetTriggerNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, const std::string& Relation,
                     TStrings* List) {
  FillFiltered(C, T, List, {"SELECT RDB$TRIGGER_NAME", "FROM RDB$TRIGGERS T", "WHERE 1=1"}, "T", IncludeSystem,
               Relation, false, false);
}

void GetIndexNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, const std::string& Relation,
                   TStrings* List) {
  FillFiltered(C, T, List, {"SELECT I.RDB$INDEX_NAME", "     , I.RDB$RELATION_NAME", "FROM RDB$INDICES I", "WHERE 1=1"},
               "I", IncludeSystem, Relation, false, true);
}

void GetNotNullFields(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List,
                      const std::string& Relation) {
  FillFiltered(
      C, T, List,
      {"SELECT RDB$FIELD_NAME", "     , RDB$RELATION_NAME", "FROM RDB$RELATION_FIELDS F", "WHERE RDB$NULL_FLAG = 1"},
      "F", IncludeSystem, Relation, false, true);
}

void GetComputedFields(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List,
                       const std::string& Relation) {
  FillFiltered(C, T, List,
               {"SELECT R.RDB$FIELD_NAME", "     , R.RDB$RELATION_NAME", "FROM RDB$RELATION_FIELDS R, RDB$FIELDS F",
                "WHERE R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME", "  AND F.RDB$COMPUTED_SOURCE IS NOT NULL"},
               "R", IncludeSystem, Relation, false, true);
}

void GetDefaultedFields(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List,
                        const std::string& Relation) {
  FillFiltered(C, T, List,
               {"SELECT RDB$FIELD_NAME", "     , RDB$RELATION_NAME", "FROM RDB$RELATION_FIELDS F",
                "WHERE ( RDB$DEFAULT_SOURCE IS NOT NULL", "   OR EXISTS ( SELECT * ",
                "               FROM RDB$FIELDS D", "               WHERE D.RDB$DEFAULT_SOURCE IS NOT NULL",
                "               AND D.RDB$FIELD_NAME = F.RDB$FIELD_SOURCE ))"},
               "F", IncludeSystem, Relation, true, true);
}

void GetPrimaryKeyFields(TIB_Connection* C, TIB_Transaction* T, const std::string& Relation, TStrings* List) {
  if (!List) return;
  RunInUpdate(*List, [&] {
    List->Clear();
    if (!C) return;
    const bool byTable = Relation == IB_ByTable;
    std::vector<std::string> lines{"SELECT S.RDB$FIELD_NAME",
                                   "     , I.RDB$RELATION_NAME",
                                   "FROM RDB$RELATION_CONSTRAINTS C",
                                   "   , RDB$INDICES I",
                                   "   , RDB$INDEX_SEGMENTS S",
                                   "WHERE C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'",
                                   "  AND C.RDB$RELATION_NAME = I.RDB$RELATION_NAME",
                                   "  AND C.RDB$INDEX_NAME = I.RDB$INDEX_NAME",
                                   "  AND I.RDB$INDEX_NAME = S.RDB$INDEX_NAME"};
    if (!Relation.empty() && !byTable)
      lines.push_back("  AND I.RDB$RELATION_NAME = " + RelationLiteral(DialectOf(C), Relation));
    // A relation's key fields come in key order, as the key is declared.
    lines.emplace_back(Relation.empty() ? "ORDER BY S.RDB$FIELD_NAME, I.RDB$RELATION_NAME"
                                        : "ORDER BY I.RDB$RELATION_NAME, S.RDB$FIELD_POSITION");
    CursorPtr cursor = NewCursor(C, T, lines);
    if (byTable) {
      FillGrouped(*cursor, *List, 0, 1);
      return;
    }
    TUnsorted unsorted(*List);
    const int d = cursor->GetSQLDialect();
    ForEachRow(*cursor, [&] {
      const std::string field = Ident(d, cursor->ColumnText(0));
      List->Add(Relation.empty() ? field + "," + Ident(d, cursor->ColumnText(1)) : field);
    });
  });
}

void GetForeignKeyFields(TIB_Connection* C, TIB_Transaction* T, const std::string& Relation, TStrings* List) {
  std::vector<std::string> lines{"SELECT S.RDB$FIELD_NAME",
                                 "     , I.RDB$RELATION_NAME",
                                 "FROM RDB$RELATION_CONSTRAINTS C",
                                 "   , RDB$INDICES I",
                                 "   , RDB$INDEX_SEGMENTS S",
                                 "WHERE C.RDB$CONSTRAINT_TYPE = 'FOREIGN KEY'",
                                 "  AND C.RDB$RELATION_NAME = I.RDB$RELATION_NAME",
                                 "  AND C.RDB$INDEX_NAME = I.RDB$INDEX_NAME",
                                 "  AND I.RDB$INDEX_NAME = S.RDB$INDEX_NAME"};
  if (C && !Relation.empty()) lines.push_back("  AND I.RDB$RELATION_NAME = " + RelationLiteral(DialectOf(C), Relation));
  lines.emplace_back("ORDER BY 1, S.RDB$FIELD_POSITION");
  FillList(C, T, List, lines, [](TIB_SchemaCursor& R) {
    const int d = R.GetSQLDialect();
    return Ident(d, R.ColumnText(0)) + "," + Ident(d, R.ColumnText(1));
  });
}

void GetIndexDefinitions(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List) {
  if (!List) return;
  RunInUpdate(*List, [&] {
    List->Clear();
    if (!C) return;
    CursorPtr segments = NewCursor(C, T,
                                   {"SELECT RDB$FIELD_NAME", "FROM RDB$INDEX_SEGMENTS", "WHERE RDB$INDEX_NAME = ?Name",
                                    "ORDER BY RDB$FIELD_POSITION"});
    segments->Prepare();
    std::vector<std::string> lines{"SELECT I.RDB$RELATION_NAME",
                                   "     , I.RDB$INDEX_NAME",
                                   "     , I.RDB$UNIQUE_FLAG",
                                   "     , I.RDB$INDEX_TYPE",
                                   "     , I.RDB$FOREIGN_KEY",
                                   "     , ( SELECT C.RDB$CONSTRAINT_NAME",
                                   "         FROM RDB$RELATION_CONSTRAINTS C",
                                   "         WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME ) AS CNST",
                                   "     , ( SELECT C.RDB$CONSTRAINT_TYPE",
                                   "         FROM RDB$RELATION_CONSTRAINTS C",
                                   "         WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME ) AS CTYPE",
                                   "     , ( SELECT R.RDB$UPDATE_RULE",
                                   "         FROM RDB$REF_CONSTRAINTS R",
                                   "         WHERE R.RDB$CONSTRAINT_NAME = ",
                                   "       ( SELECT C.RDB$CONSTRAINT_NAME",
                                   "         FROM RDB$RELATION_CONSTRAINTS C",
                                   "         WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME )) AS UR",
                                   "     , ( SELECT R.RDB$DELETE_RULE",
                                   "         FROM RDB$REF_CONSTRAINTS R",
                                   "         WHERE R.RDB$CONSTRAINT_NAME = ",
                                   "       ( SELECT C.RDB$CONSTRAINT_NAME",
                                   "         FROM RDB$RELATION_CONSTRAINTS C",
                                   "         WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME )) AS DR",
                                   "FROM RDB$INDICES I"};
    if (!IncludeSystem) lines.emplace_back("WHERE NOT I.RDB$RELATION_NAME STARTING WITH 'RDB$'");
    CursorPtr indexes = NewCursor(C, T, lines);
    ForEachRow(*indexes, [&] {
      const std::string name = indexes->FieldText("RDB$INDEX_NAME");
      std::string item = name + "=";
      // A primary key declared with a name of its own has an index of that name.
      if (name.compare(0, 11, "RDB$PRIMARY") == 0 || indexes->FieldText("CTYPE") == "PRIMARY KEY")
        item += "PK;";
      else if (indexes->FieldText("RDB$UNIQUE_FLAG") == "1")
        item += "UN;";
      // The engine stores 1 for a descending index.
      if (indexes->FieldText("RDB$INDEX_TYPE") == "1") item += "DESC;";
      item += "REL=" + indexes->FieldText("RDB$RELATION_NAME") + ";";
      const std::string constraint = indexes->FieldText("CNST");
      if (!constraint.empty()) item += "CNST=" + constraint + ";";
      const std::string foreignKey = indexes->FieldText("RDB$FOREIGN_KEY");
      if (!foreignKey.empty()) {
        item += "FK=" + foreignKey + ";";
        for (const char* rule : {"UR", "DR"}) {
          const std::string value = indexes->FieldText(rule);
          if (!value.empty() && value != "RESTRICT") item += std::string(rule) + "=" + value + ";";
        }
      }
      segments->ParamByName("Name")->SetAsString(name);
      bool first = true;
      ForEachRow(*segments, [&] {
        item += (first ? "SEGS=" : ",") + segments->ColumnText(0);
        first = false;
      });
      List->Add(item);
    });
  });
}

bool GetGeneratorValue(TIB_Connection* C, TIB_Transaction* T, const std::string& GeneratorName, int64_t Increment,
                       int64_t& Value, std::exception_ptr* Failure) {
  Value = -1;
  if (!C) return false;
  try {
    std::unique_ptr<TIB_DSQL> statement(new TIB_DSQL(nullptr));
    statement->SetIB_Connection(C);
    if (T) statement->SetIB_Transaction(T);
    const int dialect = statement->GetSQLDialect();
    std::string ident;
    MakeSQLIdent(dialect, GeneratorName, ident);
    // One output column described by hand: the value arrives with the execution, no prepare needed.
    std::vector<char> da(XSQLDA_LENGTH(1), 0);
    auto* out = reinterpret_cast<XSQLDA*>(da.data());
    out->version = SQLDA_VERSION1;
    out->sqln = out->sqld = 1;
    int64_t raw = 0;
    short nullFlag = 0;
    XSQLVAR& v = out->sqlvar[0];
    v.sqltype = (dialect >= 3 ? SQL_INT64 : SQL_LONG) + 1;
    v.sqllen = dialect >= 3 ? 8 : 4;
    v.sqldata = reinterpret_cast<char*>(&raw);
    v.sqlind = &nullFlag;
    statement->SysCheckTransaction(true);
    statement->ExecuteImmediate(
        "SELECT GEN_ID ( " + ident + ", " + std::to_string(Increment) + " )\r\nFROM RDB$DATABASE", nullptr, out);
    if (T) T->CheckOAT();
    if (nullFlag != 0) return false;
    Value = dialect >= 3 ? raw : static_cast<int64_t>(static_cast<int32_t>(raw));
    return true;
  } catch (const std::exception&) {
    // Reported to the caller as the false result (and the error itself when it asks for it).
    if (Failure) *Failure = std::current_exception();
    Value = -1;
    return false;
  }
}

// ---- desktop engine aliases ------------------------------------------------------------------------------------

void GetBDEAliasParams(const std::string& What, const std::string& Name, TStrings* List) {
  if (!List) return;
  RunInUpdate(*List, [&] {
    List->Clear();
    const std::string file =
        TRegIniFile("\\SOFTWARE\\Borland\\Database Engine", HKEY_LOCAL_MACHINE).ReadString("", "CONFIGFILE01", "");
    if (file.empty()) return;
    TFileStream stream(file, fmOpenRead | fmShareDenyWrite);
    ReadBDEAliasParams(stream, What, Name, *List);
  });
}

void ReadBDEAliasParams(TStream& Stream, const std::string& What, const std::string& Name, TStrings& List) {
  using namespace std::string_view_literals;
  // Records are the bytes up to a byte 3; the byte after the 3 is skipped. Reading starts at offset 2.
  std::string bytes;
  Stream.Seek(2, soBeginning);
  char buf[4096];
  for (int64_t n; (n = Stream.Read(buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
  std::vector<std::string_view> records;
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t end = bytes.find('\3', pos);
    if (end == std::string::npos) {
      records.emplace_back(bytes.data() + pos, bytes.size() - pos);
      break;
    }
    records.emplace_back(bytes.data() + pos, end - pos);
    pos = end + 2;
  }
  const auto contains = [](std::string_view R, std::string_view Bytes) { return R.find(Bytes) != R.npos; };
  const std::string_view databases("\0DATABASES\0\1\0"sv);
  const std::string_view endAll("\2\0\2\0\2\0"sv), endAlias("\2\0\2\0"sv);
  const std::string_view dbInfo("\0DB INFO\0\1\0"sv), typeTag("\0TYPE\0\4\0"sv), valueTag("\0\4\0"sv);
  size_t i = 0;
  while (i < records.size() && !contains(records[i], databases)) ++i;
  for (++i; i < records.size() && !contains(records[i], endAll);) {
    const std::string alias = Trim(records[i++]);
    bool inInfo = false;
    for (; i < records.size() && !contains(records[i], endAlias); ++i) {
      const std::string_view entry = records[i];
      if (!inInfo) {
        inInfo = entry.substr(0, dbInfo.size()) == dbInfo;
        continue;
      }
      if (SameText(What, "ALIAS")) {
        if (!SameText(alias, Name)) continue;
        const size_t at = entry.find(valueTag);
        List.Add(at == entry.npos ? Trim(entry) + "="
                                  : Trim(entry.substr(0, at)) + "=" + Trim(entry.substr(at + valueTag.size())));
      } else if (const size_t at = entry.find(typeTag); at != entry.npos) {
        if (Name.empty() || SameText(Trim(entry.substr(at + typeTag.size())), Name)) List.Add(alias);
      }
    }
    if (i < records.size() && !contains(records[i], endAll)) ++i;
  }
}
