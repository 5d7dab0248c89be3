// The statements that the SQL text toolkit builds, run on the real engine (embedded Firebird through its
// isql tool, as the library's own client binding is not part of these tests).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "dblib/sql/IB_Parse.h"
#include "support/TestSupport.h"

namespace {

bool HaveIsql() { return std::system("command -v isql-fb >/dev/null 2>&1") == 0; }

// Runs Script with isql on the database Db; returns everything isql printed.
std::string RunIsql(const testsupport::TempDir& Dir, const std::string& Script) {
  const std::string file = Dir.File("script.sql");
  std::ofstream(file) << Script;
  std::string output;
  FILE* p = popen(("isql-fb -q -i '" + file + "' 2>&1").c_str(), "r");
  if (!p) return output;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  pclose(p);
  return output;
}

TEST(IB_ParseEngine, RecordCountCountsWhatTheStatementReturns) {
  if (!HaveIsql()) GTEST_SKIP() << "isql-fb is not installed";
  testsupport::TempDir dir;
  const std::string db = dir.File("count.fdb");
  std::string out = RunIsql(dir, "CREATE DATABASE '" + db +
                                     "';\n"
                                     "CREATE TABLE A (ID INTEGER, X INTEGER);\n"
                                     "CREATE TABLE B (ID INTEGER, Y INTEGER);\n"
                                     "INSERT INTO A VALUES (1, 1);\nINSERT INTO A VALUES (2, 1);\n"
                                     "INSERT INTO A VALUES (3, 2);\nINSERT INTO B VALUES (1, 5);\n"
                                     "INSERT INTO B VALUES (4, 5);\nCOMMIT;\n");
  ASSERT_EQ(out.find("Statement failed"), std::string::npos) << out;

  struct TCase {
    const char* SQL;
    int Rows;
  };
  const TCase cases[] = {
      {"SELECT * FROM A WHERE X = 1 ORDER BY ID", 2},
      {"SELECT DISTINCT X FROM A", 2},
      {"SELECT DISTINCT X + 1, X FROM A ORDER BY 1", 2},
      {"SELECT DISTINCT A.ID, B.ID FROM A JOIN B ON A.ID = B.ID -- pairs", 1},
      {"SELECT X, COUNT(*) FROM A GROUP BY X", 2},
      {"SELECT X FROM A GROUP BY X HAVING COUNT(*) > 1", 1},
      {"SELECT ID FROM A UNION SELECT ID FROM B ORDER BY 1", 4},
      {"SELECT ID FROM A UNION ALL SELECT ID FROM B", 5},
      {"SELECT FIRST 2 * FROM A ORDER BY ID", 2},
      {"SELECT DISTINCT * FROM B", 2},
  };
  std::string script = "SET HEADING OFF;\nCONNECT '" + db + "';\n";
  for (const TCase& c : cases) {
    std::string count;
    MakeRecordCountSQL(c.SQL, count);
    script += count + ";\n";
  }
  out = RunIsql(dir, script);
  ASSERT_EQ(out.find("Statement failed"), std::string::npos) << out;
  std::istringstream in(out);
  std::vector<int> counts;
  int v;
  while (in >> v) counts.push_back(v);
  ASSERT_EQ(counts.size(), std::size(cases)) << out;
  for (size_t i = 0; i < counts.size(); ++i) EXPECT_EQ(counts[i], cases[i].Rows) << cases[i].SQL;
}

TEST(IB_ParseEngine, GuardedWhereRunsWithLineComments) {
  if (!HaveIsql()) GTEST_SKIP() << "isql-fb is not installed";
  testsupport::TempDir dir;
  const std::string db = dir.File("where.fdb");
  std::string out = RunIsql(dir, "CREATE DATABASE '" + db +
                                     "';\nCREATE TABLE A (ID INTEGER, X INTEGER);\n"
                                     "INSERT INTO A VALUES (1, 1);\nINSERT INTO A VALUES (2, 2);\n"
                                     "INSERT INTO A VALUES (3, 3);\nCOMMIT;\n");
  ASSERT_EQ(out.find("Statement failed"), std::string::npos) << out;
  std::string sql = "SELECT COUNT(*) FROM A WHERE X = 1 OR X = 3 -- old";
  std::string where = GetSQLWhere(sql);
  PrependWhereCondition(where, "ID > 1 -- new");
  SetSQLWhere(sql, where);
  std::string where2 = GetSQLWhere(sql);
  AppendWhereCondition(where2, "ID < 9 -- last");
  SetSQLWhere(sql, where2);
  out = RunIsql(dir, "SET HEADING OFF;\nCONNECT '" + db + "';\n" + sql + "\n;\n");
  ASSERT_EQ(out.find("Statement failed"), std::string::npos) << sql << "\n" << out;
  std::istringstream in(out);
  int v = -1;
  in >> v;
  EXPECT_EQ(v, 1) << sql;
}

}  // namespace
