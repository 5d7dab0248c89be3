// The clause locators over the SELECT syntax of Firebird 3 beyond the classic clauses: a leading WITH list,
// row limits behind the ORDER BY (ROWS, OFFSET, FETCH) and NEXT VALUE FOR in the select list.
#include <gtest/gtest.h>

#include "dblib/sql/IB_Parse.h"

namespace {

const std::string CRLF = "\r\n";

TEST(IB_ParseSyntax, TheStatementsSelectStandsBehindCommentsAndAWithList) {
  const struct {
    const char* SQL;
    const char* Select;
    const char* Where;
  } cases[] = {
      {"/* passengers */ SELECT ID, NAME FROM PAX WHERE ID > 1", "SELECT ID, NAME", "WHERE ID > 1"},
      {"-- passengers\r\nSELECT ID FROM PAX", "SELECT ID", ""},
      {"WITH BIG AS (SELECT ID, NAME FROM NODE WHERE ID > 1) SELECT B.ID, B.NAME FROM BIG B ORDER BY B.ID",
       "SELECT B.ID, B.NAME", ""},
      {"WITH RECURSIVE R (ID) AS (SELECT 1 FROM RDB$DATABASE UNION ALL SELECT ID + 1 FROM R WHERE ID < 5), "
       "S AS (SELECT ID FROM R) SELECT ID FROM S WHERE ID > 2",
       "SELECT ID", "WHERE ID > 2"},
      // Neither a WITH list nor a SELECT first: no SELECT of the statement's own.
      {"INSERT INTO T SELECT ID FROM U", "", ""},
      {"WITH", "", ""},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(k.Select, GetSQLSelect(k.SQL)) << k.SQL;
    EXPECT_EQ(k.Where, GetSQLWhere(k.SQL)) << k.SQL;
  }
  std::string s = "WITH BIG AS (SELECT ID FROM NODE WHERE ID > 1) SELECT B.ID FROM BIG B ORDER BY B.ID";
  SetSQLWhere(s, "WHERE B.ID < 6");
  EXPECT_EQ("WITH BIG AS (SELECT ID FROM NODE WHERE ID > 1) SELECT B.ID FROM BIG B" + CRLF + "WHERE B.ID < 6" + CRLF +
                "ORDER BY B.ID",
            s);
}

TEST(IB_ParseSyntax, RowLimitsEndTheClausesBeforeThem) {
  const struct {
    const char* SQL;
    void (*Set)(std::string&, std::string_view);
    const char* Clause;
    std::string Expected;
  } cases[] = {
      {"SELECT ID FROM T ORDER BY ID ROWS 2 TO 5", SetSQLOrder, "ORDER BY ID DESC",
       "SELECT ID FROM T" + CRLF + "ORDER BY ID DESC" + CRLF + "ROWS 2 TO 5"},
      {"SELECT ID FROM T ORDER BY ID OFFSET 1 ROWS FETCH NEXT 3 ROWS ONLY", SetSQLOrder, "",
       "SELECT ID FROM T" + CRLF + CRLF + "OFFSET 1 ROWS FETCH NEXT 3 ROWS ONLY"},
      {"SELECT ID FROM T ROWS 5", SetSQLWhere, "WHERE ID > 1",
       "SELECT ID FROM T" + CRLF + "WHERE ID > 1" + CRLF + "ROWS 5"},
      {"SELECT ID FROM T WHERE ID > 1 FETCH FIRST 2 ROWS ONLY", SetSQLOrder, "ORDER BY ID",
       "SELECT ID FROM T WHERE ID > 1" + CRLF + "ORDER BY ID" + CRLF + "FETCH FIRST 2 ROWS ONLY"},
      {"SELECT ID FROM T ORDER BY ID ROWS 3 FOR UPDATE", SetSQLForUpdate, "",
       "SELECT ID FROM T ORDER BY ID ROWS 3" + CRLF + CRLF},
  };
  for (const auto& k : cases) {
    std::string s = k.SQL;
    k.Set(s, k.Clause);
    EXPECT_EQ(k.Expected, s) << k.SQL;
  }
  // The limit cuts the rows the count counts: it counts through a derived table.
  std::string r;
  MakeRecordCountSQL("SELECT ID FROM T ORDER BY ID ROWS 2 TO 5", r);
  EXPECT_EQ("SELECT COUNT( * ) FROM (" + CRLF + "SELECT ID FROM T" + CRLF + CRLF + "ROWS 2 TO 5" + CRLF +
                ") COUNTED_ROWS (C1)",
            r);
}

TEST(IB_ParseSyntax, NextValueForIsNoForClause) {
  const char* sql = "SELECT ID, NEXT VALUE FOR SEQ AS NV, next  value\r\nfor S2 FROM NODE WHERE GRP = 1 ORDER BY ID";
  EXPECT_EQ("SELECT ID, NEXT VALUE FOR SEQ AS NV, next  value\r\nfor S2", GetSQLSelect(sql));
  EXPECT_EQ("FROM NODE", GetSQLFrom(sql));
  EXPECT_EQ("ORDER BY ID", GetSQLOrder(sql));
  EXPECT_EQ("", GetSQLForUpdate(sql));
  std::string s = sql;
  SetSQLForUpdate(s, "FOR UPDATE");
  EXPECT_EQ("FOR UPDATE", GetSQLForUpdate(s));
  EXPECT_EQ("ORDER BY ID", GetSQLOrder(s));
  SetSQLForUpdate(s, "");
  EXPECT_EQ(sql + CRLF + CRLF, s);
  // A FOR UPDATE behind one is found.
  EXPECT_EQ("FOR UPDATE WITH LOCK", GetSQLForUpdate("SELECT NEXT VALUE FOR SEQ FROM T FOR UPDATE WITH LOCK"));
}

// Comments and line breaks may stand between the words of NEXT VALUE FOR as between any others.
TEST(IB_ParseSyntax, NextValueForIsNoForClauseWhateverSeparatesItsWords) {
  for (const char* nv : {"NEXT VALUE /* seq */ FOR SEQ", "NEXT VALUE\r\nFOR SEQ", "NEXT\r\nVALUE\r\nFOR SEQ",
                         "NEXT /* a */ VALUE -- b\r\n FOR SEQ", "NEXT/**/VALUE/**/FOR SEQ",
                         "NEXT VALUE // c\nFOR SEQ", "next value/*\r\n*/for SEQ"}) {
    const std::string select = std::string("SELECT ID, ") + nv + " AS NV";
    const std::string sql = select + " FROM NODE WHERE GRP = 1 ORDER BY ID";
    EXPECT_EQ(select, GetSQLSelect(sql)) << nv;
    EXPECT_EQ("WHERE GRP = 1", GetSQLWhere(sql)) << nv;
    EXPECT_EQ("ORDER BY ID", GetSQLOrder(sql)) << nv;
    EXPECT_EQ("", GetSQLForUpdate(sql)) << nv;
    EXPECT_EQ("FOR UPDATE", GetSQLForUpdate(sql + " FOR UPDATE")) << nv;
  }
  // The words in a comment or a string make no NEXT VALUE FOR.
  EXPECT_EQ("FOR UPDATE", GetSQLForUpdate("SELECT ID FROM T -- NEXT VALUE\r\nFOR UPDATE"));
  EXPECT_EQ("FOR UPDATE", GetSQLForUpdate("SELECT ID FROM T /* NEXT VALUE */ FOR UPDATE"));
  EXPECT_EQ("FOR UPDATE", GetSQLForUpdate("SELECT ID FROM T WHERE S = 'NEXT VALUE' FOR UPDATE"));
  // Nor does a word that only ends in NEXT.
  EXPECT_EQ("FOR UPDATE", GetSQLForUpdate("SELECT ID FROM T ORDER BY IS_NEXT, VALUE FOR UPDATE"));
}

}  // namespace
