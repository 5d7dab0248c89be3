// A database with a small schema of every kind the schema queries read, and a counter of client calls.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dblib/StatementTestSupport.h"
#include "dblib/schema/IB_Schema.h"
#include "dblib/schema/IB_SchemaCache.h"

namespace schematest {

// Table A has its key over two columns in declared order (ZED, "mixed"), a domain column, a default, a
// computed column and a trigger; C refers to A with a cascading delete; B has a descending index; V is a
// view; "Mixed" and MIXED differ only in quoting.
class SchemaDbTest : public stmttest::StatementDbTest {
protected:
  void SetUp() override {
    StatementDbTest::SetUp();
    for (const char* sql : {
             "CREATE DOMAIN D_NAME AS VARCHAR(20) DEFAULT 'x'",
             "CREATE TABLE A (ZED INTEGER NOT NULL, ALPHA D_NAME, \"mixed\" INTEGER DEFAULT 5 NOT NULL,"
             " CALC COMPUTED BY (ZED * 2), CONSTRAINT PK_A PRIMARY KEY (ZED, \"mixed\"))",
             "CREATE TABLE B (Z INTEGER)",
             "CREATE DESCENDING INDEX IX_B ON B (Z)",
             "CREATE TABLE C (ID INTEGER NOT NULL PRIMARY KEY, AZ INTEGER, AM INTEGER,"
             " CONSTRAINT FK_C FOREIGN KEY (AZ, AM) REFERENCES A (ZED, \"mixed\") ON DELETE CASCADE)",
             "CREATE VIEW V AS SELECT ZED FROM A",
             "CREATE TABLE \"Mixed\" (Q INTEGER)",
             "CREATE TABLE MIXED (R INTEGER)",
             "CREATE GENERATOR G",
             "CREATE PROCEDURE P RETURNS (N INTEGER) AS BEGIN N = 1; SUSPEND; END",
             "CREATE TRIGGER A_BI FOR A BEFORE INSERT AS BEGIN END",
         })
      Exec(sql);
    Tr->Commit();
  }
  TIB_SchemaCache& Cache() { return *static_cast<TIB_SchemaCache*>(Conn->GetSchemaCache()); }
};

inline std::vector<std::string> Items(const TStrings& L) {
  std::vector<std::string> r;
  for (int i = 0; i < L.Count(); ++i) r.push_back(L.Get(i));
  return r;
}

// Counts the client calls of a session while it lives: the statement, transaction, database-info and
// fetch entries are wrapped around the library's own addresses.
inline int CalledCount = 0;
inline TIB_EntryTable RealEntries;

template <auto Member, class F>
struct Counted;
template <auto Member, class... A>
struct Counted<Member, ISC_STATUS (*)(ISC_STATUS*, A...)> {
  static ISC_STATUS Call(ISC_STATUS* Status, A... Args) {
    ++CalledCount;
    return (RealEntries.*Member)(Status, Args...);
  }
};

class CallCounter {
public:
  explicit CallCounter(TIB_SessionBase& S) : FSession(S), FEntries(S.Entries), FCursor(S.Cursor) {
    RealEntries = S.Untraced;
    CalledCount = 0;
#define SCHEMATEST_WRAP(Table, Name) \
  S.Table.Name = &Counted<&TIB_EntryTable::Name, decltype(TIB_EntryTable::Name)>::Call
    SCHEMATEST_WRAP(Entries, isc_database_info);
    SCHEMATEST_WRAP(Entries, isc_start_multiple);
    SCHEMATEST_WRAP(Entries, isc_commit_transaction);
    SCHEMATEST_WRAP(Entries, isc_rollback_transaction);
    SCHEMATEST_WRAP(Entries, isc_dsql_execute_immediate);
    SCHEMATEST_WRAP(Entries, isc_dsql_exec_immed2);
    SCHEMATEST_WRAP(Entries, isc_dsql_execute);
    SCHEMATEST_WRAP(Entries, isc_dsql_execute2);
    SCHEMATEST_WRAP(Entries, isc_dsql_allocate_statement);
    SCHEMATEST_WRAP(Entries, isc_dsql_alloc_statement2);
    SCHEMATEST_WRAP(Entries, isc_dsql_prepare);
    SCHEMATEST_WRAP(Entries, isc_dsql_describe);
    SCHEMATEST_WRAP(Entries, isc_dsql_describe_bind);
    SCHEMATEST_WRAP(Entries, isc_dsql_fetch);
    SCHEMATEST_WRAP(Entries, isc_dsql_free_statement);
    SCHEMATEST_WRAP(Entries, isc_dsql_sql_info);
    SCHEMATEST_WRAP(Cursor, isc_dsql_fetch);
    SCHEMATEST_WRAP(Cursor, isc_dsql_execute);
    SCHEMATEST_WRAP(Cursor, isc_dsql_execute2);
    SCHEMATEST_WRAP(Cursor, isc_dsql_free_statement);
#undef SCHEMATEST_WRAP
  }
  ~CallCounter() {
    FSession.Entries = FEntries;
    FSession.Cursor = FCursor;
  }
  CallCounter(const CallCounter&) = delete;
  CallCounter& operator=(const CallCounter&) = delete;
  int Count() const { return CalledCount; }

private:
  TIB_SessionBase& FSession;
  TIB_EntryTable FEntries;
  TIB_CursorEntries FCursor;
};

}  // namespace schematest
