// Statement plan and row-count queries.
#include <gtest/gtest.h>

#include <cstring>

#include "dblib/IB_SessionBase.h"
#include "support/TestDatabase.h"

using testsupport::NewSession;
using testsupport::SessionPtr;
using testsupport::TestDatabase;

namespace {

using testsupport::MessageOf;

// Replies that the untraced info entry hands back in place of the server's.
std::string gReply;
std::string gItems;
int gInfoCalls = 0;
ISC_STATUS CannedInfo(ISC_STATUS* Status, isc_stmt_handle*, short ItemLength, const ISC_SCHAR* Items,
                      short BufferLength, ISC_SCHAR* Buffer) {
  ++gInfoCalls;
  gItems.assign(Items, static_cast<size_t>(ItemLength));
  std::memcpy(Buffer, gReply.data(), std::min<size_t>(gReply.size(), static_cast<size_t>(BufferLength)));
  Status[0] = isc_arg_gds;
  Status[1] = 0;
  Status[2] = isc_arg_end;
  return 0;
}
ISC_STATUS FailingInfo(ISC_STATUS* Status, isc_stmt_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) {
  ++gInfoCalls;
  Status[0] = isc_arg_gds;
  Status[1] = isc_bad_stmt_handle;
  Status[2] = isc_arg_end;
  return Status[1];
}

std::string Reply(std::initializer_list<int> Bytes) {
  std::string r;
  for (int b : Bytes) r += static_cast<char>(b);
  return r;
}

TEST(StatementPlan, PlanOfAPreparedStatementThroughTheUntracedEntry) {
  SessionPtr s = NewSession();
  TestDatabase db(*s);
  isc_stmt_handle st = db.Prepare("SELECT * FROM RDB$DATABASE");
  s->Entries.isc_dsql_sql_info = &FailingInfo;  // a tracing wrapper that must not see the query
  gInfoCalls = 0;
  std::string plan = "stale";
  s->GetStatementPlan(st, plan);
  EXPECT_EQ(gInfoCalls, 0);
  EXPECT_EQ(plan, "PLAN (RDB$DATABASE NATURAL)");
  s->GetStatementPlan(0, plan);
  EXPECT_EQ(plan, "");
}

TEST(StatementPlan, OddRepliesAndFailuresNeverRaiseNorReadPastTheReply) {
  SessionPtr s = NewSession();
  const struct {
    std::string Reply;
    bool Fails;
    std::string Plan;
  } cases[] = {
      {Reply({isc_info_truncated, isc_info_end}), false, ""},
      {Reply({isc_info_end}), false, ""},
      // claims 40,000 bytes: cut to what a plan may hold
      {Reply({isc_info_sql_get_plan, 0x40, 0x9C}) + "\n" + std::string(40000, 'P'), false, std::string(32756, 'P')},
      {"", true, "PLAN ERROR!\r\n"},
  };
  for (const auto& k : cases) {
    s->Untraced.isc_dsql_sql_info = k.Fails ? &FailingInfo : &CannedInfo;
    gReply = k.Reply;
    std::string plan;
    EXPECT_NO_THROW(s->GetStatementPlan(1, plan));
    EXPECT_EQ(plan, k.Plan);
    EXPECT_EQ(s->GetERRCODE(), 0);
    if (!k.Fails) {
      EXPECT_EQ(gItems, Reply({isc_info_sql_get_plan, isc_info_end}));
    }
  }
}

TEST(RowsAffected, CountsOfUpdateDeleteAndInsert) {
  SessionPtr s = NewSession();
  TestDatabase db(*s);
  db.Execute("CREATE TABLE R (ID INTEGER)");
  db.Commit();
  // Update, delete, select and insert counts; the select count of a searched change is the engine's affair.
  const int32_t any = -2;
  const std::pair<const char*, std::array<int32_t, 4>> cases[] = {
      {"INSERT INTO R SELECT RDB$RELATION_ID FROM RDB$RELATIONS ROWS 7", {0, 0, 7, 7}},
      {"UPDATE R SET ID = ID + 1 WHERE ID < 3", {3, 0, any, 0}},
      {"DELETE FROM R", {0, 7, any, 0}},
  };
  for (const auto& [sql, expected] : cases) {
    std::array<int32_t, 4> counts{};
    isc_stmt_handle st = db.Prepare(sql);
    db.ExecuteStatement(st);
    s->GetRowsAffected(&st, counts);
    if (expected[2] == any) counts[2] = any;
    EXPECT_EQ(counts, expected) << sql;
  }
}

TEST(RowsAffected, NoHandleAFailedQueryOrNoCountsKeepEveryCountAtMinusOne) {
  SessionPtr s = NewSession();
  const std::array<int32_t, 4> unknown{-1, -1, -1, -1};
  std::array<int32_t, 4> counts{};
  s->GetRowsAffected(nullptr, counts);
  EXPECT_EQ(counts, unknown);
  isc_stmt_handle zero = 0, h = 1;
  counts = {};
  s->GetRowsAffected(&zero, counts);
  EXPECT_EQ(counts, unknown);
  s->Untraced.isc_dsql_sql_info = &FailingInfo;
  counts = {};
  EXPECT_NO_THROW(s->GetRowsAffected(&h, counts));
  EXPECT_EQ(counts, unknown);
  s->Untraced.isc_dsql_sql_info = &CannedInfo;
  gReply = Reply({isc_info_end});
  counts = {};
  s->GetRowsAffected(&h, counts);
  EXPECT_EQ(gItems, Reply({isc_info_sql_records, isc_info_end}));
  EXPECT_EQ(counts, unknown);
}

TEST(RowsAffected, MalformedRepliesRaiseInsteadOfReadingPastThem) {
  SessionPtr s = NewSession();
  s->Untraced.isc_dsql_sql_info = &CannedInfo;
  isc_stmt_handle h = 1;
  std::array<int32_t, 4> counts{};
  // A length over 255.
  gReply = Reply({isc_info_sql_records, 0x00, 0x01});
  EXPECT_THROW(s->GetRowsAffected(&h, counts), EIB_Error);
  // An item whose value runs past the stated length.
  gReply = Reply({isc_info_sql_records, 5, 0, isc_info_req_update_count, 4, 0, 1, 0});
  EXPECT_THROW(s->GetRowsAffected(&h, counts), EIB_Error);
  // An unknown item.
  gReply = Reply({isc_info_sql_records, 4, 0, 99, 1, 0, 1, isc_info_end});
  EXPECT_EQ(MessageOf<EIB_Error>([&] { s->GetRowsAffected(&h, counts); }), "Invalid RowsAffected buffer");
  // A well-formed reply with two-byte values.
  gReply = Reply({isc_info_sql_records, 11, 0, isc_info_req_insert_count, 2, 0, 0x10, 0x27, isc_info_req_update_count,
                  1, 0, 5, isc_info_end});
  s->GetRowsAffected(&h, counts);
  EXPECT_EQ(counts, (std::array<int32_t, 4>{5, -1, -1, 10000}));
}

}  // namespace
