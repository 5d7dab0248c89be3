// Connections through the private loopback server of scripts/fbserver.sh in a single-byte and in the
// UTF8 character set: text reaches a column of another character set and comes back byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "support/TestSupport.h"

namespace {

using testsupport::TempDir;

struct TCharSetCase {
  const char* CharSet;
  std::string Text;  // "Zürich" in that character set
};
void PrintTo(const TCharSetCase& C, std::ostream* Out) { *Out << C.CharSet; }

class ConnectionServerCharSet : public ::testing::TestWithParam<TCharSetCase> {};

TEST_P(ConnectionServerCharSet, TextRoundTripsThroughAnIso8859Column) {
  const char* port = std::getenv("DBLIB_FBSERVER_PORT");
  const char* user = std::getenv("DBLIB_FBSERVER_USER");
  const char* password = std::getenv("DBLIB_FBSERVER_PASSWORD");
  if (!port || !user || !password) GTEST_SKIP() << "no private Firebird server (run through scripts/test.sh)";
  TempDir dir;
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);  // the server writes the file
  std::unique_ptr<TComponent> form(new TComponent(nullptr));
  auto* db = new TIB_Connection(form.get());
  db->SetDatabaseName(std::string("localhost/") + port + ":" + dir.File("cs.fdb"));
  db->SetUsername(user);
  db->SetPassword(password);
  db->SetCharSet(GetParam().CharSet);
  db->SetSQLDialect(3);
  db->CreateDatabase();
  auto* tr = new TIB_Transaction(form.get());
  tr->SetIB_Connection(db);
  auto run = [&](const std::string& SQL) {
    auto* q = new TIB_DSQL(form.get());
    q->SetIB_Connection(db);
    q->SetIB_Transaction(tr);
    q->GetSQL().SetText(SQL);
    return q;
  };
  run("CREATE TABLE CITY (NAME VARCHAR(6) CHARACTER SET ISO8859_1)")->Execute();
  tr->Commit();
  TIB_DSQL* ins = run("INSERT INTO CITY (NAME) VALUES (:NAME)");
  ins->ParamByName("NAME")->SetAsString(GetParam().Text);
  ins->Execute();
  tr->Commit();
  TIB_DSQL* sel = run("SELECT NAME, CHAR_LENGTH(NAME) AS CHARS, OCTET_LENGTH(NAME) AS BYTES FROM CITY");
  sel->Execute();
  EXPECT_EQ(GetParam().Text, sel->FieldByName("NAME")->GetAsString());
  EXPECT_EQ(6, sel->FieldByName("CHARS")->GetAsInteger());
  EXPECT_EQ(6, sel->FieldByName("BYTES")->GetAsInteger());  // stored as ISO8859_1
  tr->Commit();
  db->DropDatabase();
}

INSTANTIATE_TEST_SUITE_P(CharSets, ConnectionServerCharSet,
                         ::testing::Values(TCharSetCase{"ISO8859_1", "Z\xFCrich"},
                                           TCharSetCase{"UTF8", "Z\xC3\xBCrich"}),
                         [](const auto& Info) { return std::string(Info.param.CharSet); });

}  // namespace
