// The monitor's trace and profile groups on their own, and the profiler's report sections.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dblib/StatementTestSupport.h"
#include "dblib/trace/IB_Monitor.h"
#include "dblib/trace/IB_Profiler.h"
#include "platform/ScopeGuards.h"

namespace {

constexpr TIB_MonitorGroups Bit(TIB_MonitorGroup G) { return static_cast<TIB_MonitorGroups>(1u << G); }

class TraceGroupsTest : public stmttest::StatementDbTest {
protected:
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY)");
    Tr->Commit();
  }
  TIB_Monitor* NewMonitor(TIB_MonitorGroups Groups, std::vector<std::string>& Into) {
    auto* m = new TIB_Monitor(Owner);
    m->SetMinTicks(UINT32_MAX);
    m->SetMonitorGroups(Groups);
    m->OnMonitorOutputItem = [&Into](TObject*, const std::string& Item) { Into.push_back(Item); };
    return m;
  }
  // A prepared insert, its execute, a duplicate key that fails, a commit.
  void Work() {
    TIB_DSQL* q = NewDSQL("INSERT INTO T (ID) VALUES (1)");
    auto drop = TScopeExit([&] { delete q; });
    q->Execute();
    EXPECT_THROW(q->Execute(), EIB_ISCError);
    Tr->Commit();
  }
  // The error texts as the library reads them go to every monitor that asks for any group.
  static std::vector<std::string> WithoutErrorTexts(std::vector<std::string> Items) {
    const size_t before = Items.size();
    std::erase_if(Items, [](const std::string& I) { return I.rfind("/*---\r\nINTERPRETE BUFFER = ", 0) == 0; });
    EXPECT_LT(Items.size(), before);
    return Items;
  }
  static size_t CountOf(const std::vector<std::string>& Items, const std::string& Head) {
    size_t n = 0;
    for (const std::string& i : Items) n += i.rfind(Head, 0) == 0;
    return n;
  }
};

TEST_F(TraceGroupsTest, AMonitorOfTheLibrarysTraceAloneGetsExactlyTheTraceItems) {
  std::vector<std::string> items;
  TIB_Monitor* m = NewMonitor(Bit(mgClientTrace), items);
  m->SetEnabled(true);
  Work();
  m->SetEnabled(false);
  EXPECT_EQ(1u, CountOf(items, "/*===\r\n//>>> STATEMENT PREPARED <<<//\r\nTIB_Statement.API_Prepare()\r\n"));
  EXPECT_EQ(1u, CountOf(items, "/*===\r\n//>>> ERROR <<<//\r\nISC ERROR CODE:335544665\r\n"));
  for (const std::string& i : WithoutErrorTexts(items)) {
    EXPECT_EQ(0u, i.rfind("/*===\r\n//>>> ", 0)) << i;
    EXPECT_EQ(std::string::npos, i.find("PROFILE")) << i;
  }
}

TEST_F(TraceGroupsTest, AMonitorOfTheServerStatisticsAloneGetsExactlyTheProfileItems) {
  std::vector<std::string> items;
  TIB_Monitor* m = NewMonitor(Bit(mgProfile), items);
  m->SetEnabled(true);
  Work();
  m->SetEnabled(false);
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(1u, CountOf(items, "/*===\r\nPROFILE MARKED START"));
  EXPECT_LE(1u, CountOf(items, "/*===\r\nPROFILE DIFF REPORT -- After execute\r\n"));
  EXPECT_LE(1u, CountOf(items, "/*===\r\nPROFILE DIFF REPORT -- After commit\r\n"));
  for (const std::string& i : WithoutErrorTexts(items)) EXPECT_EQ(0u, i.rfind("/*===\r\nPROFILE ", 0)) << i;
}

TEST_F(TraceGroupsTest, TheCallGroupsGetNeitherTraceNorProfileItems) {
  std::vector<std::string> items;
  TIB_Monitor* m = NewMonitor(Bit(mgStatement) | Bit(mgTransaction), items);
  m->SetEnabled(true);
  Work();
  m->SetEnabled(false);
  EXPECT_LE(3u, items.size());
  for (const std::string& i : items) EXPECT_EQ(0u, i.rfind("/*---\r\n", 0)) << i;
}

// ---- the profiler's report ------------------------------------------------------------------------------

class ProfilerReportTest : public TraceGroupsTest {
protected:
  TIB_Profiler* Profiler = nullptr;
  void SetUp() override {
    TraceGroupsTest::SetUp();
    Profiler = new TIB_Profiler(Owner);
    Profiler->SetIB_Connection(Conn);
  }
  std::string Report() {
    std::string text;
    Profiler->Report("", true, text);
    return text;
  }
  void Insert(const std::string& Table, int Count) {
    Exec("EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < " + std::to_string(Count) + ") DO BEGIN "
         "INSERT INTO " + Table + " (ID) VALUES (:I); I = I + 1; END END");
  }
  // The lines of the report's INSERT COUNT section, from its title on.
  static std::string InsertSection(const std::string& Report) {
    const size_t from = Report.find("*** INSERT COUNT ***");
    if (from == std::string::npos) return {};
    const size_t to = Report.find("***", Report.find("\r\n", from));
    const size_t end = Report.find("PROFILE DATA MARKED AS START");
    return Report.substr(from, std::min(to, end) - from);
  }
};

TEST_F(ProfilerReportTest, ASectionListsTheChangedRelationAndLeavesOutTheUnchangedOne) {
  Exec("CREATE TABLE A (ID INTEGER)");
  Exec("CREATE TABLE B (ID INTEGER)");
  Tr->Commit();
  Insert("A", 3);  // A has counts of its own before the mark, B none yet
  Insert("B", 2);
  Report();
  Insert("B", 4);
  EXPECT_EQ("*** INSERT COUNT ***  4\r\n  4  B\r\n", InsertSection(Report()));
  Insert("A", 7);
  EXPECT_EQ("*** INSERT COUNT ***  7\r\n  7  A\r\n", InsertSection(Report()));
}

TEST_F(ProfilerReportTest, RelationsAreGroupedByTheirCountsPowerOfTen) {
  // Created in this order, the relations' ids rise from R5 to R1000: only the grouping by count can put
  // the larger counts first.
  for (const char* t : {"R5", "R10", "R100", "R1000"}) Exec(std::string("CREATE TABLE ") + t + " (ID INTEGER)");
  Tr->Commit();
  Report();
  Insert("R5", 5);
  Insert("R10", 10);
  Insert("R100", 100);
  Insert("R1000", 1000);
  EXPECT_EQ("*** INSERT COUNT ***  1,115\r\n  1,000  R1000\r\n  100  R100\r\n  10  R10\r\n  5  R5\r\n",
            InsertSection(Report()));
}

TEST_F(ProfilerReportTest, ANewProfilerAsksForEveryCounter) {
  const std::string expected{isc_info_current_memory,
                             isc_info_max_memory,
                             isc_info_num_buffers,
                             isc_info_fetches,
                             isc_info_marks,
                             isc_info_allocation,
                             isc_info_reads,
                             isc_info_writes,
                             isc_info_read_seq_count,
                             isc_info_read_idx_count,
                             isc_info_insert_count,
                             isc_info_update_count,
                             isc_info_delete_count,
                             isc_info_backout_count,
                             isc_info_expunge_count,
                             isc_info_purge_count,
                             isc_info_end};
  EXPECT_EQ(expected, Profiler->GetRequestItems());
  // and the report answers for each group it asked for
  Report();
  Insert("T", 2);
  Exec("UPDATE T SET ID = ID + 10");
  Exec("DELETE FROM T WHERE ID = 10");
  const std::string text = Report();
  for (const char* s : {"*** OVERALL SERVER PROCESS ***\r\n", "  Num Buffer Reads = ", "*** INSERT COUNT ***  2\r\n",
                        "*** UPDATE COUNT ***  2\r\n", "*** DELETE COUNT ***  1\r\n", "*** SEQUENTIAL (NON-INDEXED) READS ***"})
    EXPECT_NE(std::string::npos, text.find(s)) << s << "\n" << text;
}

}  // namespace
