#include "dblib/IB_SessionBase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "dblib/IB_Constants.h"
#include "support/TestDatabase.h"

using testsupport::LibraryNameGuard;
using testsupport::NewSession;
using testsupport::SessionPtr;
using testsupport::TestDatabase;

namespace {

using testsupport::MessageOf;

// ---- binding ------------------------------------------------------------------------------------------------

TEST(SessionBinding, RebindingTheDefaultLibraryUndoesReplacedEntriesAndHooks) {
  SessionPtr s = NewSession();
  ASSERT_TRUE(s->GetLibraryLoaded()) << s->GetLibraryError();
  auto real = s->Entries.isc_dsql_prepare;
  s->Entries.isc_dsql_prepare = nullptr;
  s->Cursor.isc_dsql_fetch = nullptr;
  s->SetMonitorOutputHook([](const std::string&) {});
  EXPECT_TRUE(s->GetMonitorHooked());
  s->BindEntryPoints();
  EXPECT_EQ(s->Entries.isc_dsql_prepare, real);
  EXPECT_FALSE(s->GetMonitorHooked());
  // Firebird 3 still exports the user-administration calls.
  EXPECT_NE(s->Entries.isc_add_user, nullptr);
  EXPECT_EQ(s->Cursor.isc_dsql_fetch, s->Entries.isc_dsql_fetch);
  EXPECT_EQ(s->Untraced.isc_dsql_sql_info, s->Entries.isc_dsql_sql_info);
}

TEST(SessionBinding, MissingLibraryLeavesTheSessionUnboundAndEveryOperationRaises) {
  LibraryNameGuard guard("libno-such-client.so.9");
  SessionPtr s = NewSession();
  EXPECT_FALSE(s->GetLibraryLoaded());
  EXPECT_FALSE(s->GetLibraryError().empty());
  EXPECT_EQ(s->Entries.isc_interprete, nullptr);
  const std::string expected = "InterBase Client GDS32.DLL is not installed";
  auto expectNotInstalled = [&](auto&& Operation) {
    try {
      Operation();
      ADD_FAILURE() << "no exception";
    } catch (const EIB_ISCError&) {
      ADD_FAILURE() << "an ISC error where the library is missing";
    } catch (const EIB_Error& e) {
      EXPECT_EQ(e.Message(), expected);
    }
  };
  expectNotInstalled([&] { s->CreateDatabase("/tmp/never.fdb", "", "", 4096, "", 3); });
  expectNotInstalled([&] { s->HandleISCError(s.get()); });
  isc_db_handle db = 0;
  expectNotInstalled([&] { s->Call(s->Entries.isc_detach_database, &db); });
  expectNotInstalled([&] { TIB_SessionBase::CallScratch(s->Entries.isc_detach_database, &db); });
  expectNotInstalled([&] {
    std::string plan;
    s->GetStatementPlan(1, plan);
  });
  expectNotInstalled([&] {
    isc_stmt_handle h = 1;
    std::array<int32_t, 4> counts{};
    s->GetRowsAffected(&h, counts);
  });
  TIB_BlobNode node;
  XSQLVAR var{};
  var.sqltype = SQL_BLOB + 1;
  isc_tr_handle tr = 0;
  expectNotInstalled([&] { s->LoadBlobNodeData(&db, &tr, nullptr, &node, nullptr, &var); });
  expectNotInstalled([&] { s->StoreBlobNodeData(&db, &tr, nullptr, &node, nullptr, &var); });
  ResetBlobNode(node);
}

TEST(SessionBinding, MissingRequiredEntryRaisesWithTheFirstMissingName) {
  LibraryNameGuard guard(STUBCLIENT_PARTIAL);
  // The dynamic SQL group is bound before the compiled requests: isc_dsql_prepare is reported, not isc_vtov.
  EXPECT_EQ(MessageOf<EIB_Error>([&] { SessionPtr s = NewSession(); }), "Unable to locate DLL import isc_dsql_prepare");
}

TEST(SessionBinding, AbsentUserAdministrationEntriesGetStandByRoutinesThatRaise) {
  LibraryNameGuard guard(STUBCLIENT_FULL);
  SessionPtr s = NewSession();
  ASSERT_TRUE(s->GetLibraryLoaded());
  ISC_STATUS_ARRAY status{};
  USER_SEC_DATA user{};
  const std::pair<decltype(s->Entries.isc_add_user), const char*> cases[] = {
      {s->Entries.isc_add_user, "isc_add_user"},
      {s->Entries.isc_delete_user, "isc_delete_user"},
      {s->Entries.isc_modify_user, "isc_modify_user"}};
  for (const auto& [entry, name] : cases)
    EXPECT_EQ(MessageOf<EIB_Error>([&] { entry(status, &user); }),
              std::string(name) + "() not implemented in this session");
  EXPECT_EQ(s->Entries.fb_interpret, nullptr);
}

// ---- the call helpers ---------------------------------------------------------------------------------------

int gCalls = 0;
ISC_STATUS FailingDetach(ISC_STATUS* Status, isc_db_handle*) {
  ++gCalls;
  Status[0] = isc_arg_gds;
  Status[1] = isc_bad_db_handle;
  Status[2] = isc_arg_end;
  return Status[1];
}

TEST(SessionCalls, CallStoresTheResultAsERRCODEAndScratchCallsLeaveItAlone) {
  SessionPtr s = NewSession();
  gCalls = 0;
  s->Entries.isc_detach_database = &FailingDetach;
  isc_db_handle db = 0;
  EXPECT_EQ(s->Call(s->Entries.isc_detach_database, &db), isc_bad_db_handle);
  EXPECT_EQ(s->GetERRCODE(), isc_bad_db_handle);
  EXPECT_EQ(s->GetStatusVector()[1], isc_bad_db_handle);
  // A cleanup call on the real entry fails too, but must not overwrite what the first failure left.
  EXPECT_NE(TIB_SessionBase::CallScratch(s->Untraced.isc_detach_database, &db), 0);
  EXPECT_EQ(s->GetERRCODE(), isc_bad_db_handle);
  EXPECT_EQ(s->GetStatusVector()[1], isc_bad_db_handle);
  EXPECT_THROW(s->CallChecked(s.get(), s->Entries.isc_detach_database, &db), EIB_ISCError);
  EXPECT_EQ(gCalls, 2);
}

// The codes of a status vector are its isc_arg_gds clusters: a counted string takes three slots, any
// other argument two, and the walk stops at isc_arg_end or at the vector's last slot.
TEST(SessionCalls, AStatusVectorIsSearchedForItsErrorCodesOnly) {
  static const char kText[] = "text";
  const auto text = reinterpret_cast<ISC_STATUS>(kText);
  struct {
    const char* Name;
    std::vector<ISC_STATUS> Vector;
    bool HasPortLen, ShowsLost;
  } const cases[] = {
      {"first code", {isc_arg_gds, isc_port_len, isc_arg_end}, true, false},
      {"after a string",
       {isc_arg_gds, isc_io_error, isc_arg_string, text, isc_arg_gds, isc_port_len, isc_arg_end},
       true,
       false},
      {"after a counted string",
       {isc_arg_gds, isc_io_error, isc_arg_cstring, 4, text, isc_arg_gds, isc_network_error, isc_arg_end},
       false,
       true},
      {"a number argument is no code",
       {isc_arg_gds, isc_io_error, isc_arg_number, isc_port_len, isc_arg_end},
       false,
       false},
      {"a warning is no error", {isc_arg_gds, 0, isc_arg_warning, isc_port_len, isc_arg_end}, false, false},
      {"after the end", {isc_arg_gds, isc_io_error, isc_arg_end, isc_arg_gds, isc_port_len}, false, false},
      {"a general code before the cause",
       {isc_arg_gds, isc_io_error, isc_arg_gds, isc_conn_lost, isc_arg_end},
       false,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ISC_STATUS_ARRAY status{};
    std::copy(c.Vector.begin(), c.Vector.end(), status);
    EXPECT_EQ(c.HasPortLen, IB_StatusHasCode(status, isc_port_len));
    EXPECT_EQ(c.ShowsLost, IB_StatusShowsConnectionLost(status));
  }
  // A vector without an end is read up to its last slot and no further.
  ISC_STATUS_ARRAY full;
  for (size_t i = 0; i < ISC_STATUS_LENGTH; i += 2) {
    full[i] = isc_arg_gds;
    if (i + 1 < ISC_STATUS_LENGTH) full[i + 1] = isc_io_error;
  }
  EXPECT_FALSE(IB_StatusHasCode(full, isc_port_len));
  EXPECT_TRUE(IB_StatusHasCode(full, isc_io_error));
}

#if defined(__x86_64__)
// A client function that leaves the floating-point unit rounding toward zero, as some libraries do.
ISC_STATUS DetachThatChangesRounding(ISC_STATUS* Status, isc_db_handle*) {
  uint32_t mx = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(mx));
  mx |= 0x6000;
  __asm__ __volatile__("ldmxcsr %0" : : "m"(mx));
  uint16_t cw = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  cw |= 0x0C00;
  __asm__ __volatile__("fldcw %0" : : "m"(cw));
  Status[0] = isc_arg_gds;
  Status[1] = 0;
  Status[2] = isc_arg_end;
  return 0;
}

TEST(SessionCalls, TheFloatingPointSettingsSurviveAClientCall) {
  SessionPtr s = NewSession();
  s->Entries.isc_detach_database = &DetachThatChangesRounding;
  uint32_t mx0 = 0, mx1 = 0;
  uint16_t cw0 = 0, cw1 = 0;
  __asm__ __volatile__("stmxcsr %0" : "=m"(mx0));
  __asm__ __volatile__("fnstcw %0" : "=m"(cw0));
  isc_db_handle db = 0;
  s->Call(s->Entries.isc_detach_database, &db);
  __asm__ __volatile__("stmxcsr %0" : "=m"(mx1));
  __asm__ __volatile__("fnstcw %0" : "=m"(cw1));
  EXPECT_EQ(mx1 & ~0x3Fu, mx0 & ~0x3Fu);
  EXPECT_EQ(cw1, cw0);
}
#endif

// ---- creating a database ------------------------------------------------------------------------------------

TEST(CreateDatabase, WritesPageSizeDialectAndCharacterSet) {
  const struct {
    uint16_t PageSize;
    const char* CharSet;
    int16_t Dialect;
    std::vector<std::string> Expected;
  } cases[] = {
      {8192, "WIN1252", 3, {"8192", "3", "WIN1252"}},
      // 4600 is nearer 5120 than 4096; the engine then takes the next size it supports at or below.
      {4600, "", 1, {"4096", "1", "NONE"}},
  };
  for (const auto& k : cases) {
    SessionPtr s = NewSession();
    TestDatabase db(*s, k.PageSize, k.CharSet, k.Dialect);
    std::vector<std::string> got;
    for (const auto& v : db.QueryRow("SELECT m.MON$PAGE_SIZE, m.MON$SQL_DIALECT, TRIM(d.RDB$CHARACTER_SET_NAME) "
                                     "FROM MON$DATABASE m CROSS JOIN RDB$DATABASE d"))
      got.push_back(v.Text);
    EXPECT_EQ(got, k.Expected);
  }
}

// The statement text that CreateDatabase sends, caught by a wrapper in the entry table.
std::string gCreateText;
ISC_STATUS CaptureCreate(ISC_STATUS* Status, isc_db_handle*, isc_tr_handle*, unsigned short Length,
                         const ISC_SCHAR* Text, unsigned short, const XSQLDA*) {
  gCreateText.assign(Text, Length);  // the text goes with its length
  Status[0] = isc_arg_gds;
  Status[1] = 0;
  Status[2] = isc_arg_end;
  return 0;
}
ISC_STATUS NoDetach(ISC_STATUS* Status, isc_db_handle*) {
  Status[1] = 0;
  return 0;
}

std::string CreateText(TIB_SessionBase& S, const std::string& Name, const std::string& User,
                       const std::string& Password, uint16_t PageSize, const std::string& CharSet) {
  S.Entries.isc_dsql_execute_immediate = &CaptureCreate;
  S.Entries.isc_detach_database = &NoDetach;
  gCreateText.clear();
  S.CreateDatabase(Name, User, Password, PageSize, CharSet, 3);
  return gCreateText;
}

TEST(CreateDatabase, BuildsTheStatementTextWithQuotesDoubledAndThePageSizeRounded) {
  SessionPtr s = NewSession();
  const struct {
    const char *Name, *User, *Password;
    uint16_t PageSize;
    const char *CharSet, *Text;
  } cases[] = {
      {"/d/a.fdb", "", "", 0, "", "CREATE DATABASE '/d/a.fdb'"},
      {"/d/a.fdb", "SYSDBA", "masterkey", 4096, "UTF8",
       "CREATE DATABASE '/d/a.fdb' USER 'SYSDBA' PASSWORD 'masterkey' PAGE_SIZE = 4096 DEFAULT CHARACTER SET UTF8"},
      {"/d/o'brien.fdb", "o'neil", "it's", 0, "", "CREATE DATABASE '/d/o''brien.fdb' USER 'o''neil' PASSWORD 'it''s'"},
      {"x", "", "", 1535, "", "CREATE DATABASE 'x' PAGE_SIZE = 1024"},
      {"x", "", "", 1536, "", "CREATE DATABASE 'x' PAGE_SIZE = 2048"},
      {"x", "", "", 1023, "", "CREATE DATABASE 'x'"},
      {"x", "", "", 65535, "", "CREATE DATABASE 'x' PAGE_SIZE = 65536"},  // without overflow
  };
  for (const auto& k : cases) EXPECT_EQ(CreateText(*s, k.Name, k.User, k.Password, k.PageSize, k.CharSet), k.Text);
}

TEST(CreateDatabase, RefusesACharacterSetThatIsNotAnIdentifierAndTextsWithANul) {
  SessionPtr s = NewSession();
  gCreateText.clear();
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { CreateText(*s, "x", "", "", 0, "UTF8; DROP"); }, "Invalid character set name: UTF8; DROP"},
      {[&] { CreateText(*s, "x", "", "", 0, "1UTF"); }, "Invalid character set name: 1UTF"},
      {[&] { CreateText(*s, std::string("/tmp/a\0b.fdb", 12), "", "", 0, ""); },
       "The database name contains a NUL character"},
      {[&] { CreateText(*s, "x", std::string("u\0x", 3), "", 0, ""); }, "The user name contains a NUL character"},
      {[&] { CreateText(*s, "x", "", std::string("pw\0x", 4), 0, ""); }, "The password contains a NUL character"},
  };
  for (const auto& [create, message] : cases) EXPECT_EQ(MessageOf<EIB_Error>(create), message);
  EXPECT_TRUE(gCreateText.empty());
}

TEST(CreateDatabase, AnExistingFileIsReportedAsAnISCError) {
  SessionPtr s = NewSession();
  TestDatabase db(*s);
  try {
    s->CreateDatabase(db.Path(), "", "", 0, "", 3);
    FAIL() << "no exception";
  } catch (const EIB_ISCError& e) {
    EXPECT_NE(e.ERRCODE, 0);
    EXPECT_EQ(e.Sender, s.get());
    EXPECT_EQ(e.ERRCODE, s->GetERRCODE());
  }
}

TEST(CreateDatabase, ASuppressedFailureIsNotFollowedByADetach) {
  SessionPtr s = NewSession();
  TestDatabase db(*s);
  std::vector<int32_t> reported;
  s->OnError = [&](TObject*, int32_t ERRCODE, TStrings&, TStrings&, int32_t, TStrings&, TStrings&,
                   bool& RaiseException) {
    reported.push_back(ERRCODE);
    RaiseException = false;
  };
  s->CreateDatabase(db.Path(), "", "", 0, "", 3);
  // Only the failure that happened: no detach of the handle that the failed statement never gave.
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0], isc_bad_db_handle);
  EXPECT_EQ(s->GetERRCODE(), reported[0]);
}

}  // namespace
