// A database with a small schema of every kind the schema queries read, and a counter of client calls.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dblib/StatementTestSupport.h"
#include "dblib/schema/IB_Schema.h"
#include "dblib/schema/IB_SchemaCache.h"
#include "dblib/schema/IB_SchemaCursor.h"
#include "platform/ScopeGuards.h"

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

// Counts the calls through the entries that every query or fetch of a session uses, while it lives.
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
#define SCHEMATEST_COUNTED(Name) &Counted<&TIB_EntryTable::Name, decltype(TIB_EntryTable::Name)>::Call

class CallCounter {
public:
  explicit CallCounter(TIB_SessionBase& S)
      : FEntries(S.Entries, S.Entries), FCursor(S.Cursor, S.Cursor), FReal(RealEntries, S.Untraced) {
    CalledCount = 0;
    S.Entries.isc_database_info = SCHEMATEST_COUNTED(isc_database_info);
    S.Entries.isc_start_multiple = SCHEMATEST_COUNTED(isc_start_multiple);
    S.Entries.isc_dsql_alloc_statement2 = SCHEMATEST_COUNTED(isc_dsql_alloc_statement2);
    S.Entries.isc_dsql_prepare = SCHEMATEST_COUNTED(isc_dsql_prepare);
    S.Entries.isc_dsql_execute2 = S.Cursor.isc_dsql_execute2 = SCHEMATEST_COUNTED(isc_dsql_execute2);
    S.Entries.isc_dsql_execute = S.Cursor.isc_dsql_execute = SCHEMATEST_COUNTED(isc_dsql_execute);
    S.Entries.isc_dsql_fetch = S.Cursor.isc_dsql_fetch = SCHEMATEST_COUNTED(isc_dsql_fetch);
  }
  int Count() const { return CalledCount; }

private:
  TValueRestorer<TIB_EntryTable> FEntries;
  TValueRestorer<TIB_CursorEntries> FCursor;
  TValueRestorer<TIB_EntryTable> FReal;
};

}  // namespace schematest
