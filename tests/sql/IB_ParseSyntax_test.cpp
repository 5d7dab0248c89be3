// The clause locators over the SELECT syntax of Firebird 3 beyond the classic clauses: a leading WITH list,
// row limits behind the ORDER BY (ROWS, OFFSET, FETCH), WITH LOCK without FOR UPDATE, and NEXT VALUE FOR and
// IS [NOT] DISTINCT FROM in the select list; the words that tell a DISTINCT, a plain column, the qualifier
// of a relation's columns and the relations a statement reads.
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

// WITH LOCK ends the statement: every clause before it ends there, as before FOR UPDATE.
TEST(IB_ParseSyntax, WithLockEndsTheClausesAsForUpdateDoes) {
  const char* sql = "SELECT ID FROM T WHERE NAME STARTING WITH 'a' ORDER BY ID WITH LOCK";
  EXPECT_EQ("WHERE NAME STARTING WITH 'a'", GetSQLWhere(sql));
  EXPECT_EQ("ORDER BY ID", GetSQLOrder(sql));
  EXPECT_EQ("", GetSQLForUpdate(sql));
  EXPECT_TRUE(HasSQLLock(sql));
  EXPECT_EQ("FROM T", GetSQLFrom("SELECT ID FROM T WITH LOCK"));
  EXPECT_EQ("FROM T", GetSQLFrom("SELECT ID FROM T with\r\n /* c */ lock ;"));
  EXPECT_EQ("GROUP BY ID", GetSQLGroup("SELECT ID FROM T GROUP BY ID WITH LOCK"));
  EXPECT_EQ("PLAN (T NATURAL)", GetSQLPlan("SELECT ID FROM T PLAN (T NATURAL) WITH LOCK"));
  // A FOR UPDATE's clause holds its WITH LOCK.
  EXPECT_EQ("FOR UPDATE OF ID WITH LOCK", GetSQLForUpdate("SELECT ID FROM T ORDER BY ID FOR UPDATE OF ID WITH LOCK"));
  // No lock clause: STARTING WITH, a WITH list, a WITH not at the end, a quoted or commented one.
  for (const char* none : {"SELECT ID FROM T WHERE NAME STARTING WITH LOCK", "WITH LOCK AS (SELECT 1 X FROM T) SELECT X FROM LOCK",
                           "SELECT ID FROM T WHERE A = 'WITH LOCK'", "SELECT ID FROM T /* WITH LOCK */",
                           "SELECT ID FROM T WITH LOCK X"}) {
    EXPECT_FALSE(HasSQLLock(none)) << none;
  }
  EXPECT_EQ("WHERE NAME STARTING WITH LOCK", GetSQLWhere("SELECT ID FROM T WHERE NAME STARTING WITH LOCK"));

  const struct {
    const char* SQL;
    void (*Set)(std::string&, std::string_view);
    const char* Clause;
    std::string Expected;
  } cases[] = {
      {"SELECT ID FROM T ORDER BY ID WITH LOCK", SetSQLOrder, "ORDER BY ID DESC",
       "SELECT ID FROM T" + CRLF + "ORDER BY ID DESC" + CRLF + "WITH LOCK"},
      {"SELECT ID FROM T WHERE A = 1 WITH LOCK", SetSQLOrder, "ORDER BY ID",
       "SELECT ID FROM T WHERE A = 1" + CRLF + "ORDER BY ID" + CRLF + "WITH LOCK"},
      {"SELECT ID FROM T WHERE A = 1 WITH LOCK", SetSQLWhere, "WHERE A = 1 AND ( ID > 3 )",
       "SELECT ID FROM T" + CRLF + "WHERE A = 1 AND ( ID > 3 )" + CRLF + "WITH LOCK"},
      {"SELECT ID FROM T ORDER BY ID ROWS 2 WITH LOCK", SetSQLOrder, "ORDER BY ID DESC",
       "SELECT ID FROM T" + CRLF + "ORDER BY ID DESC" + CRLF + "ROWS 2 WITH LOCK"},
      {"SELECT ID FROM T WITH LOCK", SetSQLForUpdate, "FOR UPDATE",
       "SELECT ID FROM T" + CRLF + "FOR UPDATE" + CRLF + "WITH LOCK"},
      {"SELECT ID FROM T WITH LOCK", SetSQLForUpdate, "", "SELECT ID FROM T WITH LOCK"},
  };
  for (const auto& k : cases) {
    std::string s = k.SQL;
    k.Set(s, k.Clause);
    EXPECT_EQ(k.Expected, s) << k.SQL;
  }
  // The engine refuses a lock with an aggregate: the count leaves it out.
  std::string r;
  MakeRecordCountSQL("SELECT ID FROM T WHERE A = 1 ORDER BY ID WITH LOCK", r);
  EXPECT_EQ("SELECT COUNT( * )" + CRLF + "FROM T WHERE A = 1", r);
  MakeRecordCountSQL("SELECT ID FROM T ORDER BY ID ROWS 2 WITH LOCK", r);
  EXPECT_EQ(std::string::npos, r.find("LOCK")) << r;
  std::string s = "SELECT ID FROM T WITH LOCK;";
  RemoveSQLLock(s);
  EXPECT_EQ("SELECT ID FROM T" + CRLF + CRLF + ";", s);
}

TEST(IB_ParseSyntax, IsDistinctFromIsNoFromClause) {
  const char* sql = "SELECT ID, CASE WHEN SAL IS DISTINCT FROM 2500 THEN 'x' ELSE 'y' END AS K, "
                    "A IS NOT /* c */ DISTINCT\r\nFROM B FROM EMP WHERE C IS DISTINCT FROM D ORDER BY ID";
  EXPECT_EQ("FROM EMP", GetSQLFrom(sql));
  EXPECT_EQ("WHERE C IS DISTINCT FROM D", GetSQLWhere(sql));
  std::string r;
  MakeRecordCountSQL(sql, r);
  EXPECT_EQ("SELECT COUNT( * )" + CRLF + "FROM EMP WHERE C IS DISTINCT FROM D", r);
  // Inside parentheses it never was one.
  EXPECT_EQ("FROM EMP", GetSQLFrom("SELECT IIF(A IS DISTINCT FROM B, 1, 2) FROM EMP"));
}

TEST(IB_ParseSyntax, OnlySelectDistinctAndAnAggregatesDistinctFoldRows) {
  for (const char* yes : {"SELECT DISTINCT A FROM T", "select distinct\r\nA FROM T", "SELECT FIRST 5 DISTINCT A FROM T",
                          "SELECT COUNT(DISTINCT A) FROM T", "SELECT LIST( /* c */ DISTINCT A) FROM T"}) {
    EXPECT_TRUE(SelectsDistinct(GetSQLSelect(yes))) << yes;
  }
  for (const char* no : {"SELECT A FROM T", "SELECT IIF(SAL IS DISTINCT FROM 2000, 1, 2) FROM T",
                         "SELECT A IS NOT DISTINCT FROM B FROM T", "SELECT (SELECT DISTINCT X FROM U) FROM T",
                         "SELECT 'DISTINCT', \"DISTINCT\" FROM T", "SELECT A /* DISTINCT */ FROM T", "SELECT DISTINCT_A FROM T"}) {
    EXPECT_FALSE(SelectsDistinct(GetSQLSelect(no))) << no;
  }
}

TEST(IB_ParseWords, PlainColumnReferences) {
  for (const char* yes : {"NAME", "E.NAME", "e.name", "\"Name\"", "\"my \"\"t\"\"\".\"x.y\"", "T$1.A_"}) {
    EXPECT_TRUE(IsPlainColumnReference(yes)) << yes;
  }
  for (const char* no : {"", "(NAME)", "NAME || 'x'", "ID + 0", "A.B.C", "E.", ".NAME", "\"open", "(SELECT M.NAME FROM T M)",
                         "1", "E .NAME", "\"\""}) {
    EXPECT_FALSE(IsPlainColumnReference(no)) << no;
  }
}

TEST(IB_ParseWords, TheQualifierTheFromClauseGivesARelation) {
  const struct {
    const char* SQL;
    const char* Relation;
    const char* Qualifier;
  } cases[] = {
      {"SELECT * FROM EMP", "EMP", "EMP"},
      {"SELECT * FROM emp E", "EMP", "E"},
      {"SELECT * FROM EMP AS E", "EMP", "E"},
      {"SELECT * FROM \"emp\" E", "\"emp\"", "E"},
      {"SELECT * FROM \"emp\"", "\"emp\"", "\"emp\""},
      {"SELECT * FROM \"emp\" E", "EMP", "E"},
      {"SELECT * FROM DEPT D JOIN EMP E ON E.DEPT = D.ID", "EMP", "E"},
      {"SELECT * FROM DEPT D LEFT OUTER JOIN EMP ON EMP.DEPT = D.ID WHERE 1 = 1", "EMP", "EMP"},
      {"SELECT * FROM DEPT D, EMP E", "EMP", "E"},
      {"SELECT * FROM (SELECT ID, NAME FROM EMP WHERE ID > 1) D", "EMP", "D"},
      {"SELECT * FROM DEPT X JOIN (SELECT ID FROM EMP) AS D ON D.ID = X.ID", "EMP", "D"},
      {"WITH X AS (SELECT ID FROM EMP) SELECT * FROM X", "EMP", "X"},
      {"SELECT * FROM P(1, 2) R", "P", "R"},
      {"SELECT * FROM DEPT D JOIN OTHER O ON O.ID = D.ID", "EMP", ""},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(k.Qualifier, FromClauseQualifier(k.SQL, k.Relation)) << k.SQL << " / " << k.Relation;
  }
}

TEST(IB_ParseWords, TheRelationsAStatementReads) {
  EXPECT_TRUE(RelationNamedOutsideSelectList("SELECT ID FROM EMP E", "EMP"));
  EXPECT_TRUE(RelationNamedOutsideSelectList("SELECT D.ID FROM (SELECT ID FROM emp) D", "EMP"));
  EXPECT_TRUE(RelationNamedOutsideSelectList("WITH X AS (SELECT ID FROM EMP) SELECT ID FROM X", "EMP"));
  EXPECT_TRUE(RelationNamedOutsideSelectList("SELECT A.ID FROM A JOIN EMP ON EMP.ID = A.ID", "EMP"));
  EXPECT_TRUE(RelationNamedOutsideSelectList("SELECT ID FROM \"Emp\"", "\"Emp\""));
  EXPECT_FALSE(RelationNamedOutsideSelectList("SELECT ID FROM \"Emp\"", "EMP"));
  EXPECT_FALSE(RelationNamedOutsideSelectList(
      "SELECT 1 AS ID, (SELECT FIRST 1 NAME FROM EMP ORDER BY NAME DESC) AS MX FROM RDB$DATABASE", "EMP"));
  EXPECT_FALSE(RelationNamedOutsideSelectList("SELECT EMP FROM T", "EMP"));
}

}  // namespace
