#include "dblib/trace/IB_Profiler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dblib/StatementTestSupport.h"
#include "platform/ScopeGuards.h"

namespace {

using testsupport::MessageOf;

class ProfilerTest : public stmttest::StatementDbTest {
protected:
  TIB_Profiler* Profiler = nullptr;
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, V INTEGER)");
    Tr->Commit();
    Profiler = new TIB_Profiler(Owner);
    Profiler->SetIB_Connection(Conn);
  }
  std::string Report(const std::string& Label = "") {
    std::string text;
    Profiler->Report(Label, true, text);
    return text;
  }
  void Insert(int From, int Count) {
    TIB_DSQL* q = NewDSQL("INSERT INTO T (ID, V) VALUES (:ID, 0)");
    q->Prepare();
    for (int i = From; i < From + Count; ++i) {
      q->ParamByName("ID")->SetAsInteger(i);
      q->Execute();
    }
    delete q;
  }
};

TEST_F(ProfilerTest, ReportsWhatEachRelationDidSinceTheLastReport) {
  EXPECT_EQ("PROFILE MARKED START\r\n", Report());
  Insert(1, 1000);
  std::string text = Report("inserted");
  EXPECT_EQ(0u, text.find("PROFILE DIFF REPORT -- inserted\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("*** INSERT COUNT ***  1,000\r\n  1,000  T\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find("*** OVERALL SERVER PROCESS ***\r\n")) << text;
  EXPECT_EQ(text.size() - 30, text.find("PROFILE DATA MARKED AS START\r\n")) << text;

  Exec("UPDATE T SET V = 1 WHERE ID <= 12");
  text = Report();
  EXPECT_NE(std::string::npos, text.find("*** UPDATE COUNT ***  12\r\n  12  T\r\n")) << text;
  EXPECT_EQ(std::string::npos, text.find("INSERT COUNT")) << text;
}

TEST_F(ProfilerTest, WithoutGroupsTheReportsAreHeadingsOnly) {
  Profiler->SetProfilerGroups(0);
  EXPECT_EQ(std::string(1, isc_info_end), Profiler->GetRequestItems());
  EXPECT_EQ("PROFILE MARKED START\r\n", Report());
  Insert(1, 5);
  EXPECT_EQ("PROFILE DIFF REPORT\r\nPROFILE DATA MARKED AS START\r\n", Report());
}

TEST_F(ProfilerTest, ADisconnectedProfilerSaysSo) {
  Conn->Disconnect();
  EXPECT_EQ("Profiler not connected!", MessageOf<Exception>([&] { Report(); }));
}

// Replies of the server as a hand-made buffer, given through the session's entry table.
std::vector<unsigned char> gReply;
ISC_STATUS FakeDatabaseInfo(ISC_STATUS* Status, isc_db_handle*, short, const ISC_SCHAR*, short Length,
                            ISC_SCHAR* Buffer) {
  std::memset(Buffer, 0, static_cast<size_t>(Length));
  std::memcpy(Buffer, gReply.data(), gReply.size());
  Status[0] = isc_arg_gds;
  Status[1] = 0;
  Status[2] = isc_arg_end;
  return 0;
}

std::vector<unsigned char> Item(unsigned char Code, std::vector<unsigned char> Value) {
  std::vector<unsigned char> r{Code, static_cast<unsigned char>(Value.size() & 255),
                               static_cast<unsigned char>(Value.size() >> 8)};
  r.insert(r.end(), Value.begin(), Value.end());
  return r;
}
std::vector<unsigned char> operator+(std::vector<unsigned char> A, const std::vector<unsigned char>& B) {
  A.insert(A.end(), B.begin(), B.end());
  return A;
}

TEST_F(ProfilerTest, RepliesAreReadByTheirLengthsAndTags) {
  TIB_Session* s = Conn->GetSession();
  TValueRestorer<decltype(s->Entries.isc_database_info)> fake(s->Entries.isc_database_info, &FakeDatabaseInfo);
  const std::vector<unsigned char> end{isc_info_end};
  // relation 40000 (an unsigned id) inserted 5, then 4,294,967,280 rows (an unsigned count); an 8-byte
  // memory counter; a truncated reply ends at its tag.
  const auto start =
      Item(isc_info_insert_count, {0x40, 0x9C, 5, 0, 0, 0}) + Item(isc_info_current_memory, {1, 0}) + end;
  const auto later = Item(isc_info_insert_count, {0x40, 0x9C, 0xF0, 0xFF, 0xFF, 0xFF}) +
                     Item(isc_info_current_memory, {0x00, 0xF2, 0x05, 0x2A, 0x01, 0, 0, 0}) +
                     std::vector<unsigned char>{isc_info_truncated, 0xFF, 0xFF, 0xFF};
  gReply = start;
  EXPECT_EQ("PROFILE MARKED START\r\n", Report());
  gReply = later;
  EXPECT_EQ(
      "PROFILE DIFF REPORT\r\n*** OVERALL SERVER PROCESS ***\r\n"
      "  Current Memory = 5,000,000,000 (+4,999,999,999)\r\n"
      "*** INSERT COUNT ***  4,294,967,275\r\n  4,294,967,275  RELATION_ID=40000\r\n"
      "PROFILE DATA MARKED AS START\r\n",
      Report());

  const std::pair<std::vector<unsigned char>, const char*> broken[] = {
      {Item(isc_info_insert_count, {1, 0, 5, 0, 0, 0, 0}) + end,
       "TIB_Profiler.Grab.TranslateValuePairs():\r\nItemLen not an exact value pair multiple"},
      {std::vector<unsigned char>{isc_info_fetches, 0xFF, 0x7F},  // 32,767 bytes claimed
       "TIB_Profiler.Grab():\r\nResultPtr + ItemLen would go outside of Buffer"},
  };
  for (const auto& [reply, message] : broken) {
    gReply = reply;
    EXPECT_EQ(message, MessageOf<Exception>([&] { Report(); }));
  }
}

}  // namespace
