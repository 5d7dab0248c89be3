// Clause search, getters and setters, statement kinds and builders, parameters, macros, database commands
// and the XSQLVAR routines of the SQL text toolkit.
#include "dblib/sql/IB_Parse.h"

#include <gtest/gtest.h>

#include <cstring>

#include "dblib/IB_Errors.h"
#include "platform/Locale.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

const std::string CRLF = "\r\n";

struct TParsed {
  int32_t SelectCount = 0;
  int32_t Kept = 0;
  std::string Server;
  TStringList Names, Items;
};

void Parse(std::string_view SQL, TParsed& P, char Marker = ':', bool KeepComments = false) {
  P.SelectCount = ParseSQLParams(SQL, &P.Names, &P.Items, nullptr, P.Server, Marker, KeepComments, P.Kept);
}

// ----- scanner and clause search

TEST(IB_ParseScanner, CommentsQuotesAndDepths) {
  const std::string s = "('a' \"b\" [x] /* c */ // d\n-- e\n)";
  bool inS = false, inD = false, inB = false, inL = false;
  int32_t skip = 0, br = 0, pa = 0, maxPa = 0, maxBr = 0;
  std::string outside;
  for (int32_t pos = 1; pos <= static_cast<int32_t>(s.size()); pos += 1 + skip) {
    const bool wasComment = inB || inL, wasQuote = inS || inD;
    ScanSQLChar(s, pos, inS, skip, br, pa, inB, inL, inD);
    maxPa = std::max(maxPa, pa);
    maxBr = std::max(maxBr, br);
    if (!wasComment && !inB && !inL && !wasQuote && !inS && !inD) outside += s[pos - 1];
  }
  EXPECT_EQ(outside, "(  [x]  )");
  EXPECT_EQ(maxPa, 1);
  EXPECT_EQ(maxBr, 1);
  EXPECT_EQ(pa, 0);
  EXPECT_FALSE(inB || inL || inS || inD);
  // A depth set to -1 is frozen.
  br = pa = -1;
  for (int32_t pos = 1; pos <= 2; ++pos) ScanSQLChar("([", pos, inS, skip, br, pa, inB, inL, inD);
  EXPECT_EQ(pa, -1);
  EXPECT_EQ(br, -1);
}

TEST(IB_ParseClauses, FindSQLClauseRules) {
  const struct {
    const char *SQL, *Keyword;
    bool MustBeFirst, NextWordOnly;
    std::vector<std::string> Terminators;
    bool Found;
    int32_t Start, End;
  } cases[] = {
      {"SELECT A FROM T WHERE B", "FROM", false, false, {"WHERE", ";"}, true, 10, 17},
      // Without a terminator the clause runs to the end; the start tells that the keyword was found.
      {"SELECT A FROM T", "FROM", false, false, {"WHERE"}, false, 10, 16},
      {"X SELECT A", "SELECT", true, false, {}, false, 0, 11},
      {"/* lead */ SELECT A;", "SELECT", true, false, {";"}, true, 12, 20},
      // With NextWordOnly the keyword must be followed directly by a terminator.
      {"ORDER X ORDER BY A", "ORDER", false, true, {"BY"}, true, 9, 15},
      // A quoted terminator makes quoted text searchable once the keyword is found.
      {"A 'x' B", "A", false, false, {"'x'"}, true, 1, 3},
  };
  for (const auto& c : cases) {
    int32_t start = 0, end = 0;
    std::string matched;
    EXPECT_EQ(c.Found,
              FindSQLClause(c.SQL, c.Keyword, c.MustBeFirst, c.Terminators, start, end, matched, false, c.NextWordOnly))
        << c.SQL;
    EXPECT_EQ(c.Start, start) << c.SQL;
    if (c.Start != 0) {
      EXPECT_EQ(c.End, end) << c.SQL;
    }
    if (c.Found) {
      EXPECT_EQ(c.Terminators[0], matched) << c.SQL;
    }
  }
}

TEST(IB_ParseClauses, GettersFindTheirClauseOnly) {
  const std::string sub = "SELECT A FROM T WHERE X IN (SELECT Y FROM U WHERE Z = 1) ORDER BY A";
  const std::string all =
      "SELECT A, COUNT(*) FROM T WHERE B = 1 GROUP BY A HAVING COUNT(*) > 1 UNION SELECT C, 1 FROM U "
      "PLAN (T NATURAL) ORDER BY 1 FOR UPDATE OF A;";
  const std::string onion = "SELECT A FROM T UNION SELECT B FROM U WHERE X = 1 GROUP BY B";
  const struct {
    std::string SQL;
    std::string (*Get)(std::string_view);
    const char* Expected;
  } cases[] = {
      // Sub-selects stay inside the outer clause that holds them.
      {sub, GetSQLSelect, "SELECT A"},
      {sub, GetSQLFrom, "FROM T"},
      {sub, GetSQLWhere, "WHERE X IN (SELECT Y FROM U WHERE Z = 1)"},
      {sub, GetSQLOrder, "ORDER BY A"},
      {sub, GetSQLGroup, ""},
      {all, GetSQLSelect, "SELECT A, COUNT(*)"},
      {all, GetSQLFrom, "FROM T"},
      {all, GetSQLWhere, "WHERE B = 1"},
      {all, GetSQLGroup, "GROUP BY A"},
      {all, GetSQLHaving, "HAVING COUNT(*) > 1"},
      {all, GetSQLUnion, "UNION SELECT C, 1 FROM U"},
      {all, GetSQLPlan, "PLAN (T NATURAL)"},
      {all, GetSQLOrder, "ORDER BY 1"},
      {all, GetSQLForUpdate, "FOR UPDATE OF A"},
      // Clauses behind UNION belong to the union.
      {onion, GetSQLWhere, ""},
      {onion, GetSQLGroup, ""},
      {onion, GetSQLUnion, "UNION SELECT B FROM U WHERE X = 1 GROUP BY B"},
      {"SELECT A FROM T WHERE Y=2 UNION SELECT B FROM U WHERE X = 1", GetSQLWhere, "WHERE Y=2"},
      // Keywords in literals, comments and longer names are no keywords.
      {"SELECT 'WHERE' FROM T", GetSQLWhere, ""},
      {"SELECT A FROM T /* WHERE X */", GetSQLWhere, ""},
      {"SELECT A FROM T // WHERE X\r\n", GetSQLWhere, ""},
      {"SELECT A FROM T -- WHERE X\r\nWHERE Y = 1", GetSQLWhere, "WHERE Y = 1"},
      {"SELECT FROMAGE FROM T", GetSQLFrom, "FROM T"},
      {"SELECT FROMAGE FROM T", GetSQLSelect, "SELECT FROMAGE"},
      // Only a statement that starts with SELECT has a SELECT clause.
      {"CREATE PROCEDURE P AS BEGIN SELECT A FROM T INTO :A; END", GetSQLSelect, ""},
      {"create or alter trigger tr for t before insert as begin select 1 from rdb$database into :x; end", GetSQLSelect,
       ""},
      {"EXECUTE BLOCK RETURNS (X INT) AS BEGIN SELECT 1 FROM RDB$DATABASE INTO :X; END", GetSQLSelect, ""},
      {"INSERT INTO T SELECT A FROM U", GetSQLSelect, ""},
      {"GRANT SELECT ON T TO U", GetSQLSelect, ""},
      {"  /* lead */ SELECT A FROM U", GetSQLSelect, "SELECT A"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Expected, c.Get(c.SQL)) << c.SQL;
}

TEST(IB_ParseSetters, ReplaceInsertAndRemoveClauses) {
  using TSetter = void (*)(std::string&, std::string_view);
  const struct {
    const char* SQL;
    TSetter Set;
    const char* Clause;
    std::string Expected;
  } cases[] = {
      {"SELECT * FROM T ORDER BY A", SetSQLWhere, "WHERE B = 1",
       "SELECT * FROM T" + CRLF + "WHERE B = 1" + CRLF + "ORDER BY A"},
      {"SELECT * FROM T WHERE B = 1 ORDER BY A", SetSQLWhere, "WHERE C = 2",
       "SELECT * FROM T" + CRLF + "WHERE C = 2" + CRLF + "ORDER BY A"},
      {"SELECT * FROM T WHERE C = 2 ORDER BY A", SetSQLOrder, "", "SELECT * FROM T WHERE C = 2" + CRLF + CRLF},
      {"SELECT * FROM T WHERE C = 2", SetSQLGroup, "GROUP BY A",
       "SELECT * FROM T WHERE C = 2" + CRLF + "GROUP BY A" + CRLF},
      {"SELECT * FROM T", SetSQLPlan, "", "SELECT * FROM T"},  // absent and empty: nothing changes
      {"SELECT A FROM T", SetSQLSelect, "SELECT B", CRLF + "SELECT B" + CRLF + "FROM T"},
      {"FROM T", SetSQLSelect, "SELECT C", "SELECT C" + CRLF + "FROM T"},
      {"SELECT A FROM T", SetSQLForUpdate, "FOR UPDATE", "SELECT A FROM T" + CRLF + "FOR UPDATE"},
      {"", SetSQLWhere, "WHERE X", "WHERE X" + CRLF},
  };
  for (const auto& c : cases) {
    std::string s = c.SQL;
    c.Set(s, c.Clause);
    EXPECT_EQ(c.Expected, s) << c.SQL << " + " << c.Clause;
  }
  std::string r = "abcdef";
  ReplaceSQLRange(r, " X ", 3, 5);
  EXPECT_EQ(r, "ab" + CRLF + "X" + CRLF + "ef");
}

// ----- statement kinds and builders

TEST(IB_ParseKinds, StoredCodeOfFirebird3) {
  for (const char* s : {"CREATE PROCEDURE P AS BEGIN END", "alter trigger t active", "CREATE OR ALTER PROCEDURE P",
                        "RECREATE TRIGGER T", "EXECUTE BLOCK AS BEGIN END", "CREATE FUNCTION F RETURNS INT",
                        "CREATE PACKAGE BODY PK AS", "recreate package pk", "/* x */ CREATE -- y\n PROCEDURE P"}) {
    EXPECT_TRUE(IsProcedureOrTriggerDDL(s)) << s;
  }
  for (const char* s : {"CREATE TABLE T (A INT)", "EXECUTE PROCEDURE P", "SELECT 1 FROM RDB$DATABASE", "",
                        "CREATE OR REPLACE PROCEDURE"}) {
    EXPECT_FALSE(IsProcedureOrTriggerDDL(s)) << s;
  }
  EXPECT_TRUE(IsInsertInto(" insert  into T"));
  EXPECT_FALSE(IsInsertInto("INSERT T"));
  EXPECT_TRUE(IsGrantOrRevokeSelect("REVOKE SELECT ON T FROM U"));
  EXPECT_TRUE(IsGrantOrRevokeSelect("GRANT INSERT, SELECT ON T TO U"));
  EXPECT_FALSE(IsGrantOrRevokeSelect("GRANT INSERT ON T TO U"));
}

TEST(IB_ParseKinds, ForUpdateColumns) {
  const std::pair<const char*, const char*> cases[] = {
      {"SELECT * FROM T FOR UPDATE OF A, B WITH LOCK", "A,B"},
      {"SELECT * FROM T WHERE X = :X FOR UPDATE OF  C ,\r\n D", "C,D"},
      {"SELECT * FROM T FOR UPDATE", ""},
      {"SELECT * FROM T FOR UPDATE OF WITHHOLD", "WITHHOLD"},
  };
  TStringList cols;
  for (const auto& [sql, expected] : cases) {
    cols.Add("stale");
    GetForUpdateColumns(sql, cols);
    EXPECT_EQ(expected, cols.GetCommaText()) << sql;
  }
}

TEST(IB_ParseBuilders, RecordCount) {
  const std::pair<const char*, std::string> cases[] = {
      {"SELECT A, B FROM T WHERE X = 1 PLAN (T NATURAL) ORDER BY A FOR UPDATE",
       "SELECT COUNT( * )" + CRLF + "FROM T WHERE X = 1"},
      // Statements whose rows are not the table's rows are counted through a derived table.
      {"SELECT DISTINCT A, B+1 FROM T WHERE X = 1 ORDER BY A", "SELECT COUNT( * ) FROM (" + CRLF +
                                                                   "SELECT DISTINCT A, B+1 FROM T WHERE X = 1" + CRLF +
                                                                   ") COUNTED_ROWS (C1, C2)"},
      {"SELECT A, COUNT(*) FROM T GROUP BY A HAVING COUNT(*) > 1 PLAN (T NATURAL)",
       "SELECT COUNT( * ) FROM (" + CRLF + "SELECT A, COUNT(*) FROM T GROUP BY A HAVING COUNT(*) > 1" + CRLF +
           ") COUNTED_ROWS (C1, C2)"},
      {"SELECT A FROM T UNION SELECT B FROM U ORDER BY 1",
       "SELECT COUNT( * ) FROM (" + CRLF + "SELECT A FROM T UNION SELECT B FROM U" + CRLF + ") COUNTED_ROWS (C1)"},
      {"SELECT DISTINCT * FROM T -- all",
       "SELECT COUNT( * ) FROM (" + CRLF + "SELECT DISTINCT * FROM T -- all" + CRLF + ")"},
  };
  std::string r;
  for (const auto& [sql, expected] : cases) {
    MakeRecordCountSQL(sql, r);
    EXPECT_EQ(expected, r) << sql;
  }
}

// The count names the markers it keeps, in their order, and the text it sends holds exactly those
// markers (a '?' in a string, a quoted name or a comment is none; the ORDER BY's go with the clause).
TEST(IB_ParseBuilders, RecordCountKeptMarkers) {
  struct Case {
    const char* SQL;
    std::vector<int32_t> Kept;
    const char* Sent;
  };
  const Case cases[] = {
      {"SELECT A FROM T WHERE B = ? ORDER BY IIF(? = 1, A, B)", {0}, "SELECT COUNT( * )\r\nFROM T WHERE B = ?"},
      {"SELECT A FROM T WHERE B = ? /* D */ AND C = '?' ORDER BY ? ROWS ? /* N */", {0, 2},
       "SELECT COUNT( * ) FROM (\r\nSELECT A FROM T WHERE B = ? /* D */ AND C = '?'\r\n\r\nROWS ? /* N */\r\n) COUNTED_ROWS (C1)"},
      {"SELECT \"?\", ? FROM T -- ?\r\nWHERE B = ? ORDER BY ? PLAN (T NATURAL)", {0, 1},
       "SELECT COUNT( * ) FROM (\r\nSELECT \"?\", ? FROM T -- ?\r\nWHERE B = ?\r\n) COUNTED_ROWS (C1, C2)"},
      {"SELECT A FROM T WHERE B = ? ORDER BY A FOR UPDATE OF A WITH LOCK", {0}, "SELECT COUNT( * )\r\nFROM T WHERE B = ?"},
      {"SELECT A FROM T", {}, "SELECT COUNT( * )\r\nFROM T"},
      // Markers behind a '/' (a division, or another marker's).
      {"SELECT A FROM T WHERE B = 10/? AND C = ?/? ORDER BY A", {0, 1, 2},
       "SELECT COUNT( * )\r\nFROM T WHERE B = 10/? AND C = ?/?"},
  };
  for (const Case& c : cases) {
    std::string r;
    std::vector<int32_t> kept{42};
    MakeRecordCountSQL(c.SQL, r, &kept);
    EXPECT_EQ(kept, c.Kept) << c.SQL;
    EXPECT_EQ(r, c.Sent) << c.SQL;
    // Without the list the text is the same.
    std::string plain;
    MakeRecordCountSQL(c.SQL, plain);
    EXPECT_EQ(plain, r) << c.SQL;
  }
}

TEST(IB_ParseBuilders, KeyLookup) {
  TStringList keys;
  keys.Add("ID");
  keys.Add("K2=x");
  int32_t selectParams = -1;
  std::string r;
  int32_t fromParams =
      MakeKeyLookupSQL("SELECT :Z, A FROM P(:Q, :R) WHERE X = 1 ORDER BY A", "SELECT *", keys, selectParams, r);
  EXPECT_EQ(fromParams, 2);
  EXPECT_EQ(selectParams, 1);
  EXPECT_EQ(r, "SELECT *" + CRLF + "FROM P(:Q, :R)" + CRLF + "WHERE ID=?" + CRLF + "  AND K2=?" + CRLF + "  AND X = 1" +
                   CRLF);
  keys.Clear();
  keys.Add("ID");
  MakeKeyLookupSQL("SELECT A FROM T", "SELECT A, B", keys, selectParams, r);
  EXPECT_EQ(selectParams, 0);
  EXPECT_EQ(r, "SELECT A, B" + CRLF + "FROM T" + CRLF + "WHERE ID=?" + CRLF);
}

TEST(IB_ParseBuilders, WhereConditions) {
  const std::string guardedOld = "      A = 1 OR B = 2" + CRLF + "      )" + CRLF + "  AND C = 3";
  const struct {
    bool Append;
    const char *Where, *Condition;
    std::string Expected;
  } cases[] = {
      {true, "", " A = 1 ", "WHERE A = 1"},
      {true, "WHERE A = 1", "", "WHERE A = 1"},
      {true, "WHERE A = 1", "B = 2", "WHERE A = 1" + CRLF + "  AND B = 2"},
      {true, "WHERE A = 1 OR B = 2", "C = 3", " WHERE (" + CRLF + guardedOld},
      // The letters OR anywhere count, and a trailing line comment ends before the parenthesis.
      {true, "WHERE COLOR = 1", "C = 3",
       " WHERE (" + CRLF + "      COLOR = 1" + CRLF + "      )" + CRLF + "  AND C = 3"},
      {true, "WHERE A = 1 -- note", "C = 3",
       " WHERE (" + CRLF + "      A = 1 -- note" + CRLF + "      )" + CRLF + "  AND C = 3"},
      {false, "", "B = 2", "WHERE B = 2"},
      {false, "WHERE A = 1", "B = 2", "WHERE B = 2" + CRLF + "  AND A = 1"},
      {false, "WHERE A = 1 OR B = 2", "C = 3", "WHERE ( C = 3 ) " + CRLF + "  AND  ( A = 1 OR B = 2" + CRLF + ")"},
      {false, "WHERE A = 1 OR B = 2", "C = 3 -- why",
       "WHERE ( C = 3 -- why" + CRLF + " ) " + CRLF + "  AND  ( A = 1 OR B = 2" + CRLF + ")"},
      {false, "WHERE A = 1 OR B = 2", "C = 3 // why",
       "WHERE ( C = 3 // why" + CRLF + " ) " + CRLF + "  AND  ( A = 1 OR B = 2" + CRLF + ")"},
  };
  for (const auto& c : cases) {
    std::string w = c.Where;
    (c.Append ? AppendWhereCondition : PrependWhereCondition)(w, c.Condition);
    EXPECT_EQ(c.Expected, w) << c.Where << " + " << c.Condition;
  }
}

// ----- parameters and macros

TEST(IB_ParseParams, MarkersNamesAndServerText) {
  const struct {
    const char* SQL;
    char Marker;
    bool KeepComments;
    const char *Server, *Names;
    int32_t SelectCount, Kept;
  } cases[] = {
      {"SELECT * FROM T WHERE A = :A AND B = ?B AND C = ? AND D = ?", ':', false,
       "SELECT * FROM T WHERE A = ? /* A */  AND B = ? /* B */  AND C = ? /* PRM_2 */  AND D = ? /* PRM_3 */ ",
       "A,B,PRM_2,PRM_3", 0, 0},
      // A name ends at the first character that cannot continue it.
      {"SELECT * FROM T WHERE N LIKE :P||'%' AND X = :A+1 AND Y = :B-1 AND Z=:T.C$_9 AND W = :\"my p\"", ':', false,
       "SELECT * FROM T WHERE N LIKE ? /* P */ ||'%' AND X = ? /* A */ +1 AND Y = ? /* B */ -1 AND Z=? /* T.C$_9 */ "
       " AND W = ? /* \"my p\" */ ",
       "P,A,B,T.C$_9,\"\"\"my p\"\"\"", 0, 0},
      // Nothing inside literals, comments or array brackets; no marker, no parameters.
      {"SELECT ':a', \"?b\" FROM T /* :c */ WHERE X[1:2] = 1 // :d\n -- ?e :f\n AND Y = :G", ':', false,
       "SELECT ':a', \"?b\" FROM T  WHERE X[1:2] = 1 \n \n AND Y = ? /* G */ ", "G", 0, 0},
      {"SELECT * FROM T WHERE A = :A", '\0', false, "SELECT * FROM T WHERE A = :A", "", 0, 0},
      {"CREATE OR ALTER PROCEDURE P AS DECLARE X INT; BEGIN SELECT A FROM T INTO :X; END", '\0', false,
       "CREATE OR ALTER PROCEDURE P AS DECLARE X INT; BEGIN SELECT A FROM T INTO :X; END", "", 0, 0},
      // Block comments are kept on request (and counted); a dropped one still separates the words.
      {"SELECT A /* c */ FROM T -- x\n WHERE B = :B/*d*/", ':', true,
       "SELECT A /* c */ FROM T \n WHERE B = ? /* B */ /*d*/", "B", 0, 12},
      {"SELECT A/*c*/B FROM T", ':', false, "SELECT A B FROM T", "", 0, 0},
      // A comment the text never closes goes to the server as written, for it to refuse.
      {"DELETE FROM T /* WHERE ID = :ID", ':', false, "DELETE FROM T /* WHERE ID = :ID", "", 0, 0},
      // The names stand in the order of the markers (the server's); the SELECT clause's are counted.
      {"SELECT :S AS X, A FROM P(:F) WHERE B = :W", ':', false,
       "SELECT ? /* S */  AS X, A FROM P(? /* F */ ) WHERE B = ? /* W */ ", "S,F,W", 1, 0},
      {"WITH X AS (SELECT A FROM T WHERE B = :C) SELECT FIRST :N A, :S FROM X WHERE A = :W", ':', false,
       "WITH X AS (SELECT A FROM T WHERE B = ? /* C */ ) SELECT FIRST ? /* N */  A, ? /* S */  FROM X WHERE A = ? /* W */ ",
       "C,N,S,W", 2, 0},
  };
  for (const auto& c : cases) {
    TParsed p;
    Parse(c.SQL, p, c.Marker, c.KeepComments);
    EXPECT_EQ(c.Server, p.Server) << c.SQL;
    EXPECT_EQ(c.Names, p.Names.GetCommaText()) << c.SQL;
    EXPECT_EQ(c.SelectCount, p.SelectCount) << c.SQL;
    EXPECT_EQ(c.Kept, p.Kept) << c.SQL;
  }
  std::string server;
  EXPECT_EQ(ConvertParamsToMarkers("SELECT ? FROM T WHERE :A = ?", server), 1);
  EXPECT_EQ(server, "SELECT ? /* PRM_0 */  FROM T WHERE :A = ? /* PRM_1 */ ");
}

TEST(IB_ParseParams, SelectItems) {
  TParsed p;
  Parse("SELECT DISTINCT A.X, B /* note */ Y, 'a;b' AS T, F(1, 2), A*B, \"q\".*, * FROM A", p);
  EXPECT_EQ(p.Items.GetText(), "A.X\r\nB  Y\r\n'a\\;b' AS T\r\nF(1, 2)\r\nA*B\r\n<*>\r\n\"q\".*\r\n<*>\r\n*\r\n");
  Parse("select all\r\n distinct_x, y/*c*/z from t", p);
  EXPECT_EQ(p.Items.GetText(), "distinct_x\r\ny z\r\n");
  Parse("SELECT FIRST (:N + 1) SKIP 2 DISTINCT *, FIRST FROM T", p);
  EXPECT_EQ(p.Items.GetCommaText(), "<*>,*,FIRST");
  EXPECT_EQ(p.Names.GetCommaText(), "N");
  Parse("UPDATE T SET A = :A", p);
  EXPECT_EQ(p.Items.Count(), 0);
}

TEST(IB_ParseMacros, ExpandsNamedMacros) {
  std::string r;
  ExpandSQLMacros("SELECT <<COLS>> FROM <<T.X_1>> WHERE A <<< 1 AND <<BAD X>> <<>> <<END", '<', '>', r,
                  [](const std::string& n) { return "[" + n + "]"; });
  EXPECT_EQ(r, "SELECT [COLS] FROM [T.X_1] WHERE A <<< 1 AND <<BAD X>> <<>> <<END");
  ExpandSQLMacros("<<A>>", '<', '>', r, nullptr);
  EXPECT_EQ(r, "");
}

// ----- database commands

class TFakeConnection : public TIB_DatabaseCommandTarget {
public:
  bool Connected = false;
  std::string DatabaseName = "old.fdb";
  std::string Params[5] = {"", "olduser", "oldpass", "", "oldrole"};
  bool GetConnected() override { return Connected; }
  void SetDatabaseName(const std::string& Value) override { DatabaseName = Value; }
  void SetIndexedParam(int32_t Index, const std::string& Value) override { Params[Index] = Value; }
};

TEST(IB_ParseCommands, FindCommandClause) {
  std::string verb, value;
  const std::vector<std::string> verbs{"CREATE", "DROP"};
  EXPECT_TRUE(
      FindCommandClause("create schema '/tmp/a b.fdb' user 'SYSDBA' password 'x'", "DATABASE", verbs, verb, value));
  EXPECT_EQ(verb, "CREATE");
  EXPECT_EQ(value, "/tmp/a b.fdb");
  EXPECT_TRUE(FindCommandClause("CREATE DATABASE '/tmp/user.fdb' USER 'SYSDBA'", "USER", verbs, verb, value));
  EXPECT_EQ(value, "SYSDBA");
  EXPECT_TRUE(FindCommandClause("CREATE DATABASE 'x.fdb' USER SYSDBA PASSWORD 'p'", "USER", verbs, verb, value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(FindCommandClause("CREATE TABLE T (A INT)", "DATABASE", verbs, verb, value));
  EXPECT_EQ(verb, "");
}

TEST(IB_ParseCommands, ApplyDatabaseCommand) {
  TFakeConnection c;
  std::string verb;
  EXPECT_FALSE(ApplyDatabaseCommand(c, "SELECT 1 FROM RDB$DATABASE", verb));
  EXPECT_TRUE(ApplyDatabaseCommand(c, "CREATE DATABASE 'new.fdb' USER 'SYSDBA' PASSWORD 'it''s'", verb));
  EXPECT_EQ(verb, "CREATE");
  EXPECT_EQ(c.DatabaseName, "new.fdb");
  EXPECT_EQ(c.Params[1], "SYSDBA");
  EXPECT_EQ(c.Params[2], "it's");
  EXPECT_EQ(c.Params[4], "");  // absent: cleared
  c.Params[4] = "R";
  EXPECT_TRUE(ApplyDatabaseCommand(c, "DROP DATABASE 'gone.fdb' PASSWORD 'pw'", verb));
  EXPECT_EQ(c.DatabaseName, "gone.fdb");
  EXPECT_EQ(c.Params[1], "SYSDBA");  // absent: left alone
  EXPECT_EQ(c.Params[2], "pw");
  EXPECT_EQ(c.Params[4], "R");
  c.Connected = true;
  EXPECT_TRUE(ApplyDatabaseCommand(c, "DROP DATABASE 'other.fdb'", verb));
  EXPECT_EQ(c.DatabaseName, "gone.fdb");
  EXPECT_TRUE(ApplyDatabaseCommand(c, "DISCONNECT DATABASE 'x.fdb' USER 'u'", verb));
  EXPECT_EQ(verb, "DISCONNECT");
  EXPECT_EQ(c.Params[1], "SYSDBA");
}

// ----- XSQLVAR routines

std::string Name(const char* S, int16_t Len) { return std::string(S, static_cast<size_t>(Len)); }

TEST(IB_ParseXSQLVAR, FromDefString) {
  XSQLVAR v;
  std::memset(&v, 0x5a, sizeof v);
  XSQLVARFromDefString(" t.name varchar(30) not null ", 3, v);
  EXPECT_EQ(v.sqltype, 448);
  EXPECT_EQ(v.sqllen, 30);
  EXPECT_EQ(v.sqlscale, 0);
  EXPECT_EQ(v.sqlsubtype, 0);
  EXPECT_EQ(Name(v.relname, v.relname_length), "T");
  EXPECT_EQ(Name(v.sqlname, v.sqlname_length), "NAME");
  EXPECT_EQ(Name(v.aliasname, v.aliasname_length), "NAME");
  EXPECT_EQ(v.ownname_length, 0);

  struct TCase {
    const char* Def;
    int Dialect, Type, Len, Scale, SubType;
  };
  for (const TCase& c : std::initializer_list<TCase>{{"AMT=NUMERIC(15,2)", 3, 581, 8, -2, 0},
                                                     {"AMT NUMERIC(15,2)", 1, 481, 8, -2, 0},
                                                     {"A DECIMAL(4,1)", 3, 501, 2, -1, 0},
                                                     {"A DECIMAL(9)", 3, 497, 4, -2, 0},
                                                     {"A DECIMAL", 3, 497, 4, -2, 0},
                                                     {"D DATE", 3, 571, 4, 0, 0},
                                                     {"D DATE", 1, 511, 8, 0, 0},
                                                     {"T TIME", 3, 561, 4, 0, 0},
                                                     {"T TIMESTAMP", 3, 511, 8, 0, 0},
                                                     {"X DOUBLE PRECISION", 3, 481, 8, 0, 0},
                                                     {"X FLOAT", 3, 483, 4, 0, 0},
                                                     {"X SMALLINT", 3, 501, 2, 0, 0},
                                                     {"X INTEGER NOT NULL", 3, 496, 4, 0, 0},
                                                     {"C CHAR", 3, 453, 256, 0, 0},
                                                     {"C CHARACTER(5)", 3, 453, 5, 0, 0},
                                                     {"MYVAR CHAR(2)", 3, 453, 2, 0, 0},
                                                     {"C CHARACTER VARYING(7)", 3, 449, 7, 0, 0},
                                                     {"Q QUAD", 3, 551, 8, 0, 0},
                                                     {"M MEMO", 3, 521, 8, 0, 1},
                                                     {"B BLOB", 3, 521, 8, 0, 0}}) {
    XSQLVARFromDefString(c.Def, c.Dialect, v);
    EXPECT_EQ(v.sqltype, c.Type) << c.Def;
    EXPECT_EQ(v.sqllen, c.Len) << c.Def;
    EXPECT_EQ(v.sqlscale, c.Scale) << c.Def;
    EXPECT_EQ(v.sqlsubtype, c.SubType) << c.Def;
  }
  XSQLVARFromDefString("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 INTEGER", 3, v);
  EXPECT_EQ(v.aliasname_length, 31);
  EXPECT_EQ(Name(v.aliasname, v.aliasname_length), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234");
  EXPECT_EQ(v.relname_length, 0);
}

TEST(IB_ParseXSQLVAR, BadDefinitionsRaise) {
  XSQLVAR v{};
  for (const char* d :
       {"X WHATEVER", "", "X", "X CHAR(", "X CHAR(0)", "X VARCHAR(99999)", "X DOUBLE", "X INTEGER(4)"}) {
    EXPECT_EQ(MessageOf<Exception>([&] { XSQLVARFromDefString(d, 3, v); }),
              std::string("Invalid XSQLVAR Def string: ") + d);
  }
}

TEST(IB_ParseXSQLVAR, TypesQuadsAndBuffers) {
  EXPECT_TRUE(SQLTypesCompatible(496, 497));
  EXPECT_TRUE(SQLTypesCompatible(500, 497));
  EXPECT_TRUE(SQLTypesCompatible(481, 482));
  EXPECT_FALSE(SQLTypesCompatible(448, 452));
  EXPECT_TRUE(QuadsEqual({1, 2}, {1, 2}) && !QuadsEqual({1, 2}, {1, 3}) && !QuadsEqual({1, 2}, {0, 2}));
  EXPECT_TRUE(QuadIsNull({0, 0}) && !QuadIsNull({0, 1}) && !QuadIsNull({1, 0}));
  char* p = nullptr;
  ResizeBuffer(p, 0, 4);
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "abcd", 4);
  ResizeBuffer(p, 4, 8);
  EXPECT_EQ(std::string(p, 4), "abcd");
  EXPECT_EQ(p[7], 0);
  ResizeBuffer(p, 8, 2);
  EXPECT_EQ(std::string(p, 2), "ab");
  ResizeBuffer(p, 2, 0);
  EXPECT_EQ(p, nullptr);
}

}  // namespace

namespace {

ISC_TIMESTAMP Ts(int32_t Date, uint32_t Time) {
  ISC_TIMESTAMP t;
  t.timestamp_date = Date;
  t.timestamp_time = Time;
  return t;
}

TEST(IB_ParseTimestamps, ToDateTime) {
  EXPECT_DOUBLE_EQ(IscTimestampToDateTime(Ts(15018, 0)), 0.0);
  EXPECT_DOUBLE_EQ(IscTimestampToDateTime(Ts(15019, 6 * 36000000)), 1.25);
  // Before 1899-12-30 the time counts backwards: 1899-12-29 06:00 is -1.25, 1899-12-28 18:00 is -2.75.
  EXPECT_DOUBLE_EQ(IscTimestampToDateTime(Ts(15017, 6 * 36000000)), -1.25);
  EXPECT_DOUBLE_EQ(IscTimestampToDateTime(Ts(15016, 18 * 36000000)), -2.75);
  const double d = IscTimestampToDateTime(
      Ts(static_cast<int32_t>(EncodeDate(2024, 2, 29)) + 15018, 13 * 36000000 + 45 * 600000 + 30 * 10000 + 1239));
  uint16_t y, mo, da, h, mi, s, ms;
  DecodeDate(d, y, mo, da);
  DecodeTime(d, h, mi, s, ms);
  EXPECT_EQ(std::vector<int>({y, mo, da, h, mi, s, ms}), std::vector<int>({2024, 2, 29, 13, 45, 30, 123}));
  DecodeDate(IscTimestampToDateTime(Ts(0, 0)), y, mo, da);  // the ISC epoch
  EXPECT_EQ(std::vector<int>({y, mo, da}), std::vector<int>({1858, 11, 17}));
}

TEST(IB_ParseTimestamps, FromDateTime) {
  const double leapDay = EncodeDate(2024, 2, 29);
  // Rounding up to midnight moves to the next calendar day, before 1899-12-30 too: -1.9999999999 is
  // 1899-12-29 23:59:59.9999..., which rounds to 1899-12-30 00:00, not to 1899-12-28.
  const struct {
    double Value;
    int32_t Date;
    uint32_t Time;
  } cases[] = {
      {-1.25, 15017, 6u * 36000000},
      {-2.75, 15016, 18u * 36000000},
      {leapDay + EncodeTime(13, 45, 30, 123), static_cast<int32_t>(leapDay) + 15018,
       13u * 36000000 + 45 * 600000 + 30 * 10000 + 1230},
      {0.9999999999, 15019, 0},
      {-1.9999999999, 15018, 0},
      {-0.9999999999, 15019, 0},  // 1899-12-30 23:59:59.9999...
      {-2.9999999999, 15017, 0},  // 1899-12-28 23:59:59.9999...
  };
  for (const auto& k : cases) {
    const ISC_TIMESTAMP t = DateTimeToIscTimestamp(k.Value);
    EXPECT_EQ(t.timestamp_date, k.Date) << k.Value;
    EXPECT_EQ(t.timestamp_time, k.Time) << k.Value;
  }
  EXPECT_THROW(DateTimeToIscTimestamp(1e300), EIB_ColumnError);
}

TEST(IB_ParseTimestamps, RoundTripEveryHourAroundTheEpoch) {
  for (int32_t date = 15000; date < 15040; ++date) {
    for (uint32_t hour = 0; hour < 24; ++hour) {
      const ISC_TIMESTAMP in = Ts(date, hour * 36000000 + 12340);
      const ISC_TIMESTAMP out = DateTimeToIscTimestamp(IscTimestampToDateTime(in));
      EXPECT_EQ(out.timestamp_date, in.timestamp_date) << date << " " << hour;
      EXPECT_EQ(out.timestamp_time, in.timestamp_time) << date << " " << hour;
    }
  }
}

}  // namespace
