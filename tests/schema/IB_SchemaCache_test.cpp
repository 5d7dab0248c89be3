#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "SchemaTestSupport.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/ScopeGuards.h"

namespace {

using schematest::CallCounter;
using schematest::Items;
using schematest::SchemaDbTest;

class SchemaCacheTest : public SchemaDbTest {
protected:
  testsupport::TempDir CacheDir;

  // Another connection to the test's database, with the cache folder set when Files.
  TIB_Connection* Reconnect(bool Files) {
    auto* c = new TIB_Connection(Owner);
    c->SetDatabaseName(Dir.File("stmt.fdb"));
    c->SetCharSet("ISO8859_1");
    c->SetSQLDialect(3);
    if (Files) c->SetSchemaCacheDir(CacheDir.Path());
    c->Connect();
    return c;
  }
  static TIB_SchemaCache& CacheOf(TIB_Connection* C) { return *static_cast<TIB_SchemaCache*>(C->GetSchemaCache()); }
  std::string FileOf(int N) { return Cache().GetCacheFileName(N); }
  static std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteFile(const std::string& Path, const std::string& Text) {
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Text;
  }
  // Puts an item the database does not have into a valid file, so that a read of the file shows.
  static void AddForeignItem(const std::string& Path) {
    std::string text = ReadFile(Path);
    const size_t end = text.rfind("END=");
    const int count = std::stoi(text.substr(end + 4));
    text = text.substr(0, end) + "ZZZ_FROM_FILE\r\nEND=" + std::to_string(count + 1) + "\r\n";
    WriteFile(Path, text);
  }
  void CreateVersionTable(const char* Version) {
    Exec("CREATE TABLE ZDB$SCHEMA_VERSION (SCHEMA_ITEM VARCHAR(31), VERSION_NUMBER VARCHAR(20))");
    Tr->Commit();
    for (const char* list : {"TableNames", "ViewNames"})
      Exec(std::string("INSERT INTO ZDB$SCHEMA_VERSION VALUES ('") + list + "', '" + Version + "')");
    Tr->Commit();
  }
};

TEST_F(SchemaCacheTest, LookupsOnLoadedListsMakeNoClientCalls) {
  TIB_SchemaCache& cache = Cache();
  TStringList target;
  auto lookups = [&] {
    for (int n = 0; n < IB_SchemaListCount; ++n) cache.GetSchemaList(n);
    cache.GetFieldSource("A", "ALPHA");
    cache.GetFieldSource("\"Mixed\"", "Q");
    cache.GetTableKeys("A", target);
    cache.GetTableFields("Mixed", target);
    cache.IsColumnListed(slComputed, "A", "CALC");
    cache.IsProcedure("P");
  };
  lookups();
  CallCounter counter(*Conn->GetSession());
  lookups();
  EXPECT_EQ(0, counter.Count());
  cache.ClearLoadedLists();
  cache.GetSchemaList(slTableNames);
  EXPECT_LT(0, counter.Count());
}

TEST_F(SchemaCacheTest, KeysFieldsAndDomainsAnswerAlikeFromTheListsAndFromTheServer) {
  // N and its domain come after the lists were loaded: they are read through the lookup cursors.
  Cache().GetSchemaList(slTableKeys);
  Cache().GetSchemaList(slTableFields);
  Cache().GetSchemaList(slFieldDomains);
  TIB_Connection* other = Reconnect(false);
  TIB_DSQL* ddl = new TIB_DSQL(Owner);
  ddl->SetIB_Connection(other);
  ddl->GetSQL().SetText("CREATE TABLE N (\"b\" INTEGER NOT NULL, A D_NAME NOT NULL, PRIMARY KEY (\"b\", A))");
  ddl->Execute();
  delete ddl;
  struct {
    const char* Relation;
    std::vector<std::string> Keys, Fields;
  } const cases[] = {{"A", {"A.ZED", "A.\"mixed\""}, {"ZED", "ALPHA", "\"mixed\"", "CALC"}},
                     {"N", {"N.\"b\"", "N.A"}, {"\"b\"", "A"}},
                     {"\"Mixed\"", {}, {"Q"}},
                     {"Mixed", {}, {"Q"}},
                     {"P", {}, {}},
                     {"", {}, {}}};
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : cases) {
      TStringList keys, fields;
      Cache().GetTableKeys(c.Relation, keys);
      Cache().GetTableFields(c.Relation, fields);
      EXPECT_EQ(c.Keys, Items(keys)) << c.Relation << " round " << round;
      EXPECT_EQ(c.Fields, Items(fields)) << c.Relation << " round " << round;
    }
    EXPECT_EQ("D_NAME", Cache().GetFieldSource("A", "ALPHA"));
    EXPECT_EQ("D_NAME", Cache().GetFieldSource("N", "A"));
    EXPECT_EQ("RDB$", Cache().GetFieldSource("Mixed", "Q").substr(0, 4));
    EXPECT_EQ("", Cache().GetFieldSource("P", "N"));
  }
}

// The engine keeps quoted names apart by the case of their letters: so do the lists, whether they come
// from the server, from a lookup cursor or from a cache file, and so does an edit that takes its key from them.
TEST_F(SchemaCacheTest, QuotedNamesThatDifferOnlyInCaseAreTwoNames) {
  // This cache has its key and field lists before the tables exist: it learns them through its cursors.
  TIB_Connection* early = Reconnect(false);
  CacheOf(early).GetSchemaList(slTableKeys);
  CacheOf(early).GetSchemaList(slTableFields);
  Exec("CREATE TABLE \"Pair\" (A INTEGER NOT NULL PRIMARY KEY, B INTEGER, V VARCHAR(10))");
  Exec("CREATE TABLE \"pair\" (B INTEGER NOT NULL PRIMARY KEY, A INTEGER NOT NULL, V VARCHAR(10))");
  Tr->Commit();
  Exec("INSERT INTO \"Pair\" VALUES (1, 7, 'x')");
  Exec("INSERT INTO \"Pair\" VALUES (2, 7, 'y')");
  Exec("INSERT INTO \"pair\" VALUES (7, 1, 'x')");
  Exec("INSERT INTO \"pair\" VALUES (8, 1, 'y')");
  Tr->Commit();
  struct {
    const char* Relation;
    std::vector<std::string> Keys, Fields;
  } const cases[] = {{"\"Pair\"", {"\"Pair\".A"}, {"A", "B", "V"}},
                     {"Pair", {"\"Pair\".A"}, {"A", "B", "V"}},
                     {"\"pair\"", {"\"pair\".B"}, {"B", "A", "V"}},
                     {"pair", {"\"pair\".B"}, {"B", "A", "V"}},
                     {"\"PAIR\"", {}, {}}};
  // Then caches that read the lists from the server, one that writes the files and one that reads them.
  const struct {
    const char* Road;
    TIB_Connection* Connection;
  } roads[] = {{"cursors", early},
               {"server", Reconnect(false)},
               {"files written", Reconnect(true)},
               {"files read", Reconnect(true)}};
  for (const auto& road : roads) {
    TIB_SchemaCache& k = CacheOf(road.Connection);
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(testing::Message() << road.Road << " round " << round);
      TIB_StringList* tables = k.GetSchemaList(slTableNames);
      EXPECT_GE(tables->IndexOf("\"Pair\""), 0);
      EXPECT_GE(tables->IndexOf("\"pair\""), 0);
      EXPECT_LT(tables->IndexOf("\"PAIR\""), 0);
      for (const auto& t : cases) {
        TStringList keys, fields;
        k.GetTableKeys(t.Relation, keys);
        k.GetTableFields(t.Relation, fields);
        EXPECT_EQ(t.Keys, Items(keys)) << t.Relation;
        EXPECT_EQ(t.Fields, Items(fields)) << t.Relation;
      }
      EXPECT_TRUE(k.IsColumnListed(slRequired, "\"pair\"", "A"));
      EXPECT_FALSE(k.IsColumnListed(slRequired, "\"Pair\"", "B"));
    }
  }
  // Each table is edited by its own key: the other rows that share the other table's key column stay.
  for (const char* table : {"\"Pair\"", "\"pair\""}) {
    SCOPED_TRACE(table);
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText(std::string("SELECT A, B, V FROM ") + table + " ORDER BY V");
    q->SetRequestLive(true);
    q->Open();
    q->Edit();
    q->FieldByName("V")->SetAsString("z");
    q->Post();
    Tr->Commit();
    delete q;
  }
  TIB_Connection* reader = Reconnect(false);
  auto* t = new TIB_Transaction(Owner);
  t->SetIB_Connection(reader);
  auto* r = new TIB_DSQL(Owner);
  r->SetIB_Connection(reader);
  r->SetIB_Transaction(t);
  r->GetSQL().SetText(
      "SELECT (SELECT LIST(A || B || V, ';') FROM \"Pair\"), (SELECT LIST(A || B || V, ';') FROM \"pair\") FROM "
      "RDB$DATABASE");
  r->Execute();
  EXPECT_EQ("17z;27y", r->GetFields()->GetColumns(0)->GetAsString());
  EXPECT_EQ("17z;18y", r->GetFields()->GetColumns(1)->GetAsString());
}

TEST_F(SchemaCacheTest, DefaultCursorsGiveTheSourceOfAColumnsOrItsDomainsDefault) {
  struct {
    const char* Relation;
    const char* Field;
    const char* Column;
    const char* Domain;
  } const cases[] = {{"A", "mixed", "DEFAULT 5", ""}, {"A", "ALPHA", "", "DEFAULT 'x'"}, {"A", "ZED", "", ""}};
  for (const auto& c : cases) {
    std::vector<std::string> found;
    for (TIB_SchemaCursor* cursor : {Cache().GetColumnDefaultCursor(), Cache().GetDomainDefaultCursor()}) {
      cursor->ParamByName("RDB$RELATION_NAME")->SetAsString(c.Relation);
      cursor->ParamByName("RDB$FIELD_NAME")->SetAsString(c.Field);
      cursor->First();
      found.push_back(cursor->GetEof() ? "" : cursor->ColumnText(0));
      cursor->Close();
    }
    EXPECT_EQ((std::vector<std::string>{c.Column, c.Domain}), found) << c.Field;
  }
}

ISC_STATUS gInjected = 0;
ISC_STATUS FailingPrepare(ISC_STATUS* Status, isc_tr_handle*, isc_stmt_handle*, unsigned short, const ISC_SCHAR*,
                          unsigned short, XSQLDA*) {
  Status[0] = isc_arg_gds;
  Status[1] = gInjected;
  Status[2] = isc_arg_end;
  return gInjected;
}

TEST_F(SchemaCacheTest, ALookupCursorsServerErrorIsTheCachesOwn) {
  for (int n : {slProcedureNames, slFieldDomains, slTableKeys, slTableFields}) Cache().GetSchemaList(n);
  TIB_Session& s = *Conn->GetSession();
  TValueRestorer failing(s.Entries.isc_dsql_prepare, decltype(s.Entries.isc_dsql_prepare){&FailingPrepare});
  TStringList target;
  gInjected = isc_network_error;
  Cache().GetTableKeys("NOPE", target);
  EXPECT_EQ(0, target.Count());
  gInjected = isc_dsql_error;
  EXPECT_EQ("", Cache().GetFieldSource("NOPE", "X"));
  EXPECT_EQ("Internal SchemaCache ERRCODE: 335544569",
            testsupport::MessageOf<EIB_Error>([&] { Cache().GetTableFields("NOPE", target); }));
  // The default cursors: the same rules.
  Cache().FreeCursors();
  gInjected = isc_network_error;
  EXPECT_EQ("", Cache().GetDefaultSource("A", "mixed"));
  gInjected = isc_dsql_error;
  EXPECT_EQ("Internal SchemaCache ERRCODE: 335544569",
            testsupport::MessageOf<EIB_Error>([&] { Cache().GetDefaultSource("A", "ALPHA"); }));
}

TEST_F(SchemaCacheTest, TheDefaultSourceIsTheColumnsElseItsDomains) {
  TIB_ConnectionSchemaCache& cache = *Conn->GetSchemaCache();
  EXPECT_EQ("DEFAULT 5", cache.GetDefaultSource("A", "mixed"));
  EXPECT_EQ("DEFAULT 'x'", cache.GetDefaultSource("A", "ALPHA"));
  EXPECT_EQ("", cache.GetDefaultSource("A", "ZED"));
  EXPECT_EQ("", cache.GetDefaultSource("NOPE", "ZED"));
}

TEST_F(SchemaCacheTest, ColumnsLearnDomainsComputedAndDefaultsFromTheCache) {
  TIB_DSQL* q = NewDSQL("SELECT ZED, ALPHA, \"mixed\", CALC FROM A");
  q->Prepare();
  EXPECT_EQ("D_NAME", q->FieldByName("ALPHA")->GetDomainName());
  EXPECT_TRUE(q->FieldByName("CALC")->GetComputed());
  EXPECT_FALSE(q->FieldByName("ZED")->GetComputed());
  EXPECT_TRUE(q->GetFields()->GetColumns(2)->GetIsDefaulted());
  EXPECT_FALSE(q->FieldByName("ZED")->GetIsDefaulted());
  q->GetSQL().SetText("SELECT N FROM P");
  q->Prepare();
  EXPECT_TRUE(q->SQLIsSelectProc());
}

// The generator of an IDENTITY column is the one the engine names for it; other columns have none.
// A relation is read once (no client call the second time), and a schema change is seen once committed.
TEST_F(SchemaCacheTest, IdentityColumnsAreKnownByTheirGenerators) {
  Exec("CREATE TABLE IDT (ID BIGINT GENERATED BY DEFAULT AS IDENTITY, N INTEGER)");
  Exec("CREATE TABLE \"Idq\" (\"k\" INTEGER GENERATED BY DEFAULT AS IDENTITY)");
  Tr->Commit();
  TIB_DSQL* q = NewDSQL(
      "SELECT RDB$GENERATOR_NAME FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'IDT' "
      "AND RDB$FIELD_NAME = 'ID'");
  q->Prepare();
  q->Execute();
  const std::string idt = Trim(q->GetFields()->GetColumns(0)->GetAsString());
  TIB_ConnectionSchemaCache& cache = *Conn->GetSchemaCache();
  EXPECT_EQ(idt, cache.GetIdentityGenerator("IDT", "ID"));
  EXPECT_EQ("", cache.GetIdentityGenerator("IDT", "N"));
  EXPECT_EQ("", cache.GetIdentityGenerator("A", "ZED"));
  EXPECT_EQ("", cache.GetIdentityGenerator("NOPE", "ID"));
  EXPECT_NE("", cache.GetIdentityGenerator("Idq", "k"));
  EXPECT_EQ("", cache.GetIdentityGenerator("IDQ", "K"));
  {
    CallCounter counter(*Conn->GetSession());
    EXPECT_EQ(idt, cache.GetIdentityGenerator("IDT", "ID"));
    EXPECT_EQ("", cache.GetIdentityGenerator("IDT", "N"));
    EXPECT_EQ(0, counter.Count());
  }
  Exec("ALTER TABLE IDT DROP ID");
  Exec("ALTER TABLE IDT ADD ID2 INTEGER GENERATED BY DEFAULT AS IDENTITY");
  Tr->Commit();
  EXPECT_EQ("", cache.GetIdentityGenerator("IDT", "ID"));
  EXPECT_NE("", cache.GetIdentityGenerator("IDT", "ID2"));
  // The columns answer through the statement: an IDENTITY column is no required field.
  q->GetSQL().SetText("SELECT \"k\" FROM \"Idq\"");
  q->Prepare();
  EXPECT_TRUE(q->GetFields()->GetColumns(0)->GetIsIdentity());
  EXPECT_FALSE(q->GetFields()->GetColumns(0)->GetRequired());
  q->GetSQL().SetText("SELECT ID2, N FROM IDT");
  q->Prepare();
  EXPECT_TRUE(q->FieldByName("ID2")->GetIsIdentity());
  EXPECT_FALSE(q->FieldByName("N")->GetIsIdentity());
}

TEST_F(SchemaCacheTest, ListsFollowConnectDisconnectAndSchemaChanges) {
  Conn->SetSchemaCacheDir(CacheDir.Path());
  Conn->Disconnect();
  EXPECT_EQ(0, Cache().GetSchemaList(slTableNames)->Count());
  Conn->Connect();
  EXPECT_EQ(5, Cache().GetSchemaList(slTableNames)->Count());
  // The new table is seen once its transaction commits; nothing older is kept or written meanwhile.
  Exec("CREATE TABLE NEWT (I INTEGER)");
  EXPECT_LT(Cache().GetSchemaList(slTableNames)->IndexOf("NEWT"), 0);
  EXPECT_FALSE(std::filesystem::exists(FileOf(slTableNames)));
  Tr->Commit();
  EXPECT_GE(Cache().GetSchemaList(slTableNames)->IndexOf("NEWT"), 0);
  EXPECT_NE(std::string::npos, ReadFile(FileOf(slTableNames)).find("NEWT\r\n"));
}

TEST_F(SchemaCacheTest, ACurrentFileIsReadInPlaceOfTheServer) {
  Conn->SetSchemaCacheDir(CacheDir.Path());
  std::vector<std::vector<std::string>> lists;
  for (int n = 0; n <= slTableFields; ++n) lists.push_back(Items(*Cache().GetSchemaList(n)));
  AddForeignItem(FileOf(slTableNames));
  TIB_Connection* other = Reconnect(true);
  TIB_SchemaCache& cache = CacheOf(other);
  CallCounter counter(*other->GetSession());
  for (int n = 0; n <= slTableFields; ++n) {
    std::vector<std::string> expected = lists[n];
    if (n == slTableNames) expected.push_back("ZZZ_FROM_FILE");
    EXPECT_EQ(expected, Items(*cache.GetSchemaList(n))) << cache.GetListName(n);
  }
  // Only the look for a version table and the database's creation time reach the server.
  EXPECT_GT(12, counter.Count());
  EXPECT_LT(0, counter.Count());
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(FileOf(0)).parent_path()))
    EXPECT_EQ(".ZDB", entry.path().extension()) << entry.path();
}

TEST_F(SchemaCacheTest, AFileNotToTrustIsReadFromTheServerAndRewritten) {
  Conn->SetSchemaCacheDir(CacheDir.Path());
  const std::vector<std::string> tables = Items(*Cache().GetSchemaList(slTableNames));
  const std::string good = ReadFile(FileOf(slTableNames));
  auto replace = [](std::string Text, const std::string& Old, const std::string& New) {
    return Text.replace(Text.find(Old), Old.size(), New);
  };
  struct {
    const char* Name;
    std::function<std::string(const std::string&)> Damage;
  } const cases[] = {
      {"truncated", [](const std::string& T) { return T.substr(0, T.size() - 9); }},
      {"cut in an item", [](const std::string& T) { return T.substr(0, T.find("MIXED") + 2); }},
      {"damaged", [](const std::string& T) { return std::string(T.size(), '\xFF'); }},
      {"empty", [](const std::string&) { return std::string(); }},
      {"another database", [&](const std::string& T) { return replace(T, "DB=", "DB=/elsewhere"); }},
      {"another version", [&](const std::string& T) { return replace(T, "VERSION=", "VERSION=3"); }},
      {"older layout",
       [](const std::string& T) {
         const size_t items = T.find("VERSION=") + 10;
         return T.substr(items, T.find("END=") - items);
       }},
      {"count off", [&](const std::string& T) { return replace(T, "END=", "END=1"); }},
  };
  for (const auto& c : cases) {
    AddForeignItem(FileOf(slTableNames));
    WriteFile(FileOf(slTableNames), c.Damage(ReadFile(FileOf(slTableNames))));
    TIB_Connection* other = Reconnect(true);
    EXPECT_EQ(tables, Items(*CacheOf(other).GetSchemaList(slTableNames))) << c.Name;
    EXPECT_EQ(good, ReadFile(FileOf(slTableNames))) << c.Name;
    delete other;
  }
}

TEST_F(SchemaCacheTest, AFileIsCurrentWhileItsVersionMatchesExactly) {
  CreateVersionTable("a");
  Conn->SetSchemaCacheDir(CacheDir.Path());
  Cache().GetSchemaList(slTableNames);
  AddForeignItem(FileOf(slTableNames));
  struct {
    const char* Version;
    bool FromFile;
  } const cases[] = {{"a", true}, {"A", false}};
  for (const auto& c : cases) {
    Exec(std::string("UPDATE ZDB$SCHEMA_VERSION SET VERSION_NUMBER = '") + c.Version + "'");
    Tr->Commit();
    TIB_Connection* other = Reconnect(true);
    EXPECT_EQ(c.FromFile, CacheOf(other).GetSchemaList(slTableNames)->IndexOf("ZZZ_FROM_FILE") >= 0) << c.Version;
    delete other;
  }
}

TEST_F(SchemaCacheTest, EveryListWrittenKeepsItsVersionBesideTheOthers) {
  CreateVersionTable("1");
  Conn->SetSchemaCacheDir(CacheDir.Path());
  Cache().GetSchemaList(slTableNames);
  EXPECT_EQ((std::vector<std::string>{"TableNames=1", "ViewNames=1"}),
            Items(*Cache().GetSchemaList(slDatabaseSchemaVer)));
  TIB_Connection* other = Reconnect(true);
  CacheOf(other).GetSchemaList(slViewNames);
  EXPECT_EQ((std::vector<std::string>{"TableNames=1", "ViewNames=1"}),
            Items(*CacheOf(other).GetSchemaList(slClientSchemaVer)));
  EXPECT_NE(std::string::npos, ReadFile(FileOf(slClientSchemaVer)).find("TableNames=1\r\nViewNames=1\r\n"));
}

TEST_F(SchemaCacheTest, TheCacheFolderIsStoredTrimmedOfTrailingBackslashes) {
  const std::pair<const char*, const char*> cases[] = {{" /c/cache\\\\\\ ", "/c/cache"}, {"/c/x/", "/c/x/"}};
  for (const auto& [in, out] : cases) {
    Conn->SetSchemaCacheDir(in);
    EXPECT_EQ(out, Conn->GetSchemaCacheDir());
  }
}

}  // namespace
