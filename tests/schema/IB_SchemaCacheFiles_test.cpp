// Where the schema cache keeps its files, and that a list read during an uncommitted schema change is
// asked of the server again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SchemaTestSupport.h"

namespace {

using schematest::CallCounter;
using schematest::SchemaDbTest;

class SchemaCacheFilesTest : public SchemaDbTest {
protected:
  testsupport::TempDir CacheDir;
  static std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(SchemaCacheFilesTest, AListsFileIsNamedAfterTheListInAFolderNamedAfterTheDatabase) {
  // A second database whose file name has more than one dot: its folder is the name up to the first.
  auto* other = new TIB_Connection(Owner);
  other->SetDatabaseName(Dir.File("nav.2025.fdb"));
  other->SetCharSet("ISO8859_1");
  other->SetSQLDialect(3);
  other->CreateDatabase();
  for (TIB_Connection* c : {Conn, other}) {
    c->SetSchemaCacheDir(CacheDir.Path());
    static_cast<TIB_SchemaCache*>(c->GetSchemaCache())->GetSchemaList(slTableNames);
  }
  const std::filesystem::path own = std::filesystem::path(CacheDir.Path()) / "stmt" / "TableNames.ZDB";
  const std::filesystem::path nav = std::filesystem::path(CacheDir.Path()) / "nav" / "TableNames.ZDB";
  ASSERT_TRUE(std::filesystem::exists(own));
  ASSERT_TRUE(std::filesystem::exists(nav));
  EXPECT_NE(std::string::npos, ReadFile(own.string()).find("MIXED\r\n"));
  EXPECT_EQ(std::string::npos, ReadFile(nav.string()).find("MIXED\r\n"));
  EXPECT_EQ(own.string(), static_cast<TIB_SchemaCache*>(Conn->GetSchemaCache())->GetCacheFileName(slTableNames));
  other->DropDatabase();
}

TEST_F(SchemaCacheFilesTest, EveryReadDuringAnUncommittedSchemaChangeGoesToTheServer) {
  for (bool files : {false, true}) {
    SCOPED_TRACE(files);
    Conn->SetSchemaCacheDir(files ? CacheDir.Path() : "");
    const std::string table = files ? "NEW_WITH_FILES" : "NEW_IN_MEMORY";
    ASSERT_LT(Cache().GetSchemaList(slTableNames)->IndexOf(table), 0);
    Exec("CREATE TABLE " + table + " (I INTEGER)");
    for (int read = 1; read <= 2; ++read) {
      SCOPED_TRACE(read);
      CallCounter counter(*Conn->GetSession());
      Cache().GetSchemaList(slTableNames);
      EXPECT_LT(0, counter.Count());  // not the list kept from the read before
    }
    // The change's own transaction sees the new table; the list read then is not kept either.
    Tr->Commit();
    EXPECT_GE(Cache().GetSchemaList(slTableNames)->IndexOf(table), 0);
    CallCounter counter(*Conn->GetSession());
    Cache().GetSchemaList(slTableNames);
    EXPECT_EQ(0, counter.Count());  // committed: kept again
  }
}

}  // namespace
