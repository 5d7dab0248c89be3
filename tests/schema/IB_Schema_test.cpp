#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "SchemaTestSupport.h"
#include "platform/Streams.h"

namespace {

using schematest::Items;
using schematest::SchemaDbTest;

struct QueryCase {
  const char* Name;
  std::function<void(TIB_Connection*, TStrings*)> Run;
  std::vector<std::string> Items;
  bool AnyOrder = false;
};

TEST_F(SchemaDbTest, EveryQueryGivesTheTrimmedIdentifiersOfTheSchemaInItsOrder) {
  const QueryCase cases[] = {
      {"field sources", [](auto c, auto l) { GetRelationFieldSources(c, nullptr, l); }, {"A.ALPHA=D_NAME"}},
      {"generators", [](auto c, auto l) { GetGeneratorNames(c, nullptr, false, l); }, {"G"}},
      {"tables",
       [](auto c, auto l) { GetRelationNames(c, nullptr, false, true, false, l); },
       {"A", "B", "C", "MIXED", "\"Mixed\""}},
      {"views", [](auto c, auto l) { GetRelationNames(c, nullptr, false, false, true, l); }, {"V"}},
      {"neither", [](auto c, auto l) { GetRelationNames(c, nullptr, true, false, false, l); }, {}},
      {"procedures", [](auto c, auto l) { GetProcedureNames(c, nullptr, l); }, {"P"}},
      {"fields",
       [](auto c, auto l) { GetRelationFields(c, nullptr, l, ""); },
       {"A.ZED", "A.ALPHA", "A.\"mixed\"", "A.CALC", "B.Z", "C.ID", "C.AZ", "C.AM", "MIXED.R", "\"Mixed\".Q", "V.ZED"}},
      {"fields by table",
       [](auto c, auto l) { GetRelationFields(c, nullptr, l, IB_ByTable); },
       {"A=ZED,ALPHA,\"mixed\",CALC", "B=Z", "C=ID,AZ,AM", "MIXED=R", "\"Mixed\"=Q", "V=ZED"}},
      {"fields of quoted", [](auto c, auto l) { GetRelationFields(c, nullptr, l, "\"Mixed\""); }, {"Q"}},
      {"fields of plain", [](auto c, auto l) { GetRelationFields(c, nullptr, l, "MIXED"); }, {"R"}},
      {"fields of exact", [](auto c, auto l) { GetRelationFields(c, nullptr, l, "Mixed"); }, {"Q"}},
      {"constraints of C",
       [](auto c, auto l) { GetConstraintNames(c, nullptr, false, "C", l); },
       {"FK_C", "INTEG_3", "INTEG_4"}},
      {"triggers of B", [](auto c, auto l) { GetTriggerNames(c, nullptr, false, "B", l); }, {}},
      {"indexes",
       [](auto c, auto l) { GetIndexNames(c, nullptr, false, "", l); },
       {"FK_C,C", "IX_B,B", "PK_A,A", "RDB$PRIMARY1,C"}},
      {"indexes of B", [](auto c, auto l) { GetIndexNames(c, nullptr, false, "B", l); }, {"IX_B"}},
      {"keys", [](auto c, auto l) { GetPrimaryKeyFields(c, nullptr, "", l); }, {"ID,C", "ZED,A", "\"mixed\",A"}},
      {"keys of A in key order", [](auto c, auto l) { GetPrimaryKeyFields(c, nullptr, "A", l); }, {"ZED", "\"mixed\""}},
      {"keys by table",
       [](auto c, auto l) { GetPrimaryKeyFields(c, nullptr, IB_ByTable, l); },
       {"A=ZED,\"mixed\"", "C=ID"}},
      {"foreign keys", [](auto c, auto l) { GetForeignKeyFields(c, nullptr, "", l); }, {"AM,C", "AZ,C"}},
      {"foreign keys of A", [](auto c, auto l) { GetForeignKeyFields(c, nullptr, "A", l); }, {}},
      {"not null",
       [](auto c, auto l) { GetNotNullFields(c, nullptr, false, l, ""); },
       {"ID,C", "ZED,A", "\"mixed\",A"}},
      {"not null of A", [](auto c, auto l) { GetNotNullFields(c, nullptr, false, l, "A"); }, {"ZED", "\"mixed\""}},
      {"computed", [](auto c, auto l) { GetComputedFields(c, nullptr, false, l, ""); }, {"CALC,A"}},
      {"defaulted", [](auto c, auto l) { GetDefaultedFields(c, nullptr, false, l, ""); }, {"ALPHA,A", "\"mixed\",A"}},
      {"defaulted of C", [](auto c, auto l) { GetDefaultedFields(c, nullptr, false, l, "C"); }, {}},
      {"index definitions",
       [](auto c, auto l) { GetIndexDefinitions(c, nullptr, false, l); },
       {"FK_C=REL=C;CNST=FK_C;FK=PK_A;DR=CASCADE;SEGS=AZ,AM", "IX_B=DESC;REL=B;SEGS=Z",
        "PK_A=PK;REL=A;CNST=PK_A;SEGS=ZED,mixed", "RDB$PRIMARY1=PK;REL=C;CNST=INTEG_4;SEGS=ID"},
       true},
      {"no version table", [](auto c, auto l) { GetSchemaVersions(c, nullptr, l); }, {}},
  };
  for (const QueryCase& c : cases) {
    TStringList list;
    list.Add("left over");
    c.Run(Conn, &list);
    std::vector<std::string> items = Items(list), expected = c.Items;
    if (c.AnyOrder) std::sort(items.begin(), items.end());
    EXPECT_EQ(expected, items) << c.Name;
  }
}

TEST_F(SchemaDbTest, ListsOfSystemOrViewRelationsFollowTheirFlags) {
  TStringList list;
  GetDomainNames(Conn, nullptr, false, &list);
  EXPECT_GE(list.IndexOf("D_NAME"), 0);
  EXPECT_LT(list.IndexOf("RDB$RELATION_NAME"), 0);
  GetDomainNames(Conn, nullptr, true, &list);
  EXPECT_GE(list.IndexOf("RDB$RELATION_NAME"), 0);
  GetRelationIds(Conn, nullptr, false, &list);
  EXPECT_GE(list.IndexOf("128=A"), 0);
  EXPECT_LT(list.IndexOf("131=V"), 0);
  GetRelationIds(Conn, nullptr, true, &list);
  EXPECT_GE(list.IndexOf("131=V"), 0);
}

TEST_F(SchemaDbTest, WithoutListOrConnectionNothingIsRead) {
  TStringList list;
  list.Add("left over");
  GetRelationNames(nullptr, nullptr, false, true, true, &list);
  GetIndexDefinitions(nullptr, nullptr, false, &list);
  EXPECT_EQ(0, list.Count());
  GetRelationFields(Conn, nullptr, nullptr, "A");
  GetIndexDefinitions(Conn, nullptr, false, nullptr);
}

TEST_F(SchemaDbTest, GeneratorValuesAndTheirFailures) {
  struct {
    const char* Name;
    int64_t Increment;
    bool Ok;
    int64_t Value;
  } const cases[] = {{"G", 5, true, 5}, {"G", 0, true, 5}, {"g", -2, true, 3}, {"NO_SUCH", 1, false, -1}};
  for (const auto& c : cases) {
    int64_t value = 99;
    EXPECT_EQ(c.Ok, GetGeneratorValue(Conn, Tr, c.Name, c.Increment, value)) << c.Name;
    EXPECT_EQ(c.Value, value) << c.Name;
  }
  int64_t value = 99;
  EXPECT_FALSE(GetGeneratorValue(nullptr, nullptr, "G", 1, value));
  EXPECT_EQ(-1, value);
}

TEST(SchemaAliasTest, AliasesComeFromTheEngineConfigurationOnly) {
  using namespace std::string_literals;
  // Two bytes of file header, then records ended by a byte 3 and one more byte.
  const std::vector<std::string> records = {"junk"s,
                                            "\0DATABASES\0\1\0"s,
                                            "NAV"s,
                                            "\0DB INFO\0\1\0"s,
                                            "PATH\0\4\0/data/nav.gdb"s,
                                            "\0TYPE\0\4\0STANDARD"s,
                                            "\2\0\2\0"s,
                                            "IBX"s,
                                            "\0DB INFO\0\1\0"s,
                                            "\0TYPE\0\4\0INTRBASE"s,
                                            "\2\0\2\0\2\0"s};
  std::string bytes = "\1\1";
  for (const std::string& r : records) bytes += r + "\3x";
  struct {
    const char* What;
    const char* Name;
    std::vector<std::string> Items;
  } const cases[] = {{"ALIAS", "nav", {"PATH=/data/nav.gdb", "TYPE=STANDARD"}},
                     {"TYPE", "intrbase", {"IBX"}},
                     {"TYPE", "", {"NAV", "IBX"}},
                     {"ALIAS", "none", {}}};
  for (const auto& c : cases) {
    TMemoryStream stream;
    stream.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    TStringList list;
    ReadBDEAliasParams(stream, c.What, c.Name, list);
    EXPECT_EQ(c.Items, Items(list)) << c.What << " " << c.Name;
  }
  // No machine-wide configuration here: nothing is found.
  TStringList list;
  list.Add("left over");
  GetBDEAliasParams("ALIAS", "NAV", &list);
  EXPECT_EQ(0, list.Count());
}

}  // namespace
