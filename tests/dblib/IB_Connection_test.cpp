#include "dblib/IB_Connection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "dblib/IB_DSQL.h"
#include "platform/Dialogs.h"
#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace {

using testsupport::ExceptionSink;
using testsupport::MessageOf;
using testsupport::SettingsRoot;
using testsupport::TempDir;
using TLog = std::vector<std::string>;

// A form that owns the components of a test, so that they are registered with the session.
struct Form {
  TComponent* Owner = new TComponent(nullptr);
  ~Form() { delete Owner; }
  TIB_Connection* NewConnection() { return new TIB_Connection(Owner); }
};

// Runs one statement in its own transaction on an attached database handle.
void ExecuteOn(TIB_Session* S, isc_db_handle* DB, const std::string& SQL) {
  isc_tr_handle tr = 0;
  static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                             isc_tpb_nowait};
  struct {
    isc_db_handle* Database;
    int TpbLength;
    const char* Tpb;
  } teb{DB, static_cast<int>(sizeof tpb), tpb};
  S->CallChecked(S, S->Entries.isc_start_multiple, &tr, static_cast<short>(1), &teb);
  S->CallChecked(S, S->Entries.isc_dsql_execute_immediate, DB, &tr, static_cast<unsigned short>(0), SQL.c_str(),
                 static_cast<unsigned short>(3), static_cast<const XSQLDA*>(nullptr));
  S->CallChecked(S, S->Entries.isc_commit_transaction, &tr);
}

int32_t AttachmentId(TIB_Session* S, isc_db_handle* DB) {
  const char items[] = {isc_info_attachment_id, isc_info_end};
  char reply[64] = {};
  S->CallChecked(S, S->Entries.isc_database_info, DB, static_cast<short>(2), items, static_cast<short>(64), reply);
  int32_t v = 0;
  for (int i = 0; i < reply[1] && i < 4; ++i)
    v |= static_cast<int32_t>(static_cast<unsigned char>(reply[3 + i])) << (8 * i);
  return v;
}

void SuppressErrors(TIB_Session* S, bool On) {
  S->OnError = nullptr;
  if (On)
    S->OnError = [](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool& R) { R = false; };
}

// ---- names and parameters ------------------------------------------------------------------------------------

TEST(ConnectionNamesTest, SplitsAndComposesEveryNetworkForm) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  const struct {
    const char* Name;
    TIB_Protocol Protocol;
    const char *Server, *Path;
  } cases[] = {
      {"C:\\DATA\\NAV.GDB", cpLocal, "", "C:\\DATA\\NAV.GDB"},
      {"srv:C:\\DATA\\NAV.GDB", cpTCP_IP, "srv", "C:\\DATA\\NAV.GDB"},
      {"\\\\srv\\C:\\DATA\\NAV.GDB", cpNetBEUI, "srv", "C:\\DATA\\NAV.GDB"},
      {"srv@SYS:DATA\\NAV.GDB", cpNovell, "srv", "SYS:DATA\\NAV.GDB"},
      {"/var/db/nav.fdb", cpLocal, "", "/var/db/nav.fdb"},
      {"localhost/3051:/var/db/nav.fdb", cpTCP_IP, "localhost/3051", "/var/db/nav.fdb"},
      {"nav.fdb", cpLocal, "", "nav.fdb"},
  };
  for (const auto& k : cases) {
    c->SetDatabaseName(k.Name);
    EXPECT_EQ(k.Protocol, c->GetProtocol()) << k.Name;
    EXPECT_EQ(k.Server, c->GetServer()) << k.Name;
    EXPECT_EQ(k.Path, c->GetPath()) << k.Name;
    EXPECT_EQ(k.Name, c->GetDatabaseName()) << k.Name;
    EXPECT_FALSE(c->IsDatabaseNameStored()) << k.Name;
  }
}

TEST(ConnectionNamesTest, AliasStyleNamesAreNumberedPerSession) {
  Form f;
  TIB_Connection* a = f.NewConnection();
  TIB_Connection* b = f.NewConnection();
  TIB_Connection* c = f.NewConnection();
  a->SetDatabaseName("NavData");
  b->SetDatabaseName("NAVDATA");
  c->SetDatabaseName("navdata");
  EXPECT_EQ("NavData", a->GetDatabaseName());
  EXPECT_EQ("1_NAVDATA", b->GetDatabaseName());
  EXPECT_EQ("2_navdata", c->GetDatabaseName());
  EXPECT_TRUE(a->IsDatabaseNameStored());
  EXPECT_EQ("Invalid DatabaseName", MessageOf<EIB_ConnectionError>([&] { a->SetDatabaseName("9lives"); }));
}

TEST(ConnectionParamsTest, PropertiesReadAndWriteTheList) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  TIB_StringList& p = c->GetParams();
  p.Add("ROLE=OLDROLE");
  EXPECT_EQ("OLDROLE", c->GetSQLRole());
  EXPECT_EQ("OLDROLE", p.GetValue("ROLE NAME"));
  EXPECT_EQ(-1, p.IndexOfName("ROLE"));
  p.Add("LOCAL PASSWORD=lp");
  EXPECT_EQ("lp", c->GetPassword());
  c->SetPassword("new");
  EXPECT_EQ("new", p.GetValue("LOCAL PASSWORD"));
  c->SetBuffers(75);
  EXPECT_EQ(-1, p.IndexOfName("BUFFERS"));
  p.SetValue("BUFFERS", "1000");
  EXPECT_EQ(255, c->GetBuffers());
  c->SetPageSize(5000);
  EXPECT_EQ("4096", p.GetValue("PAGE SIZE"));
  c->SetPageSize(100);
  EXPECT_EQ(-1, p.IndexOfName("PAGE SIZE"));
  c->SetSQLDialect(3);
  EXPECT_EQ("3", p.GetValue("SQL DIALECT"));
  c->SetForcedWrites(dpbFalse);
  EXPECT_EQ("FALSE", p.GetValue("FORCED WRITES"));
  c->SetForcedWrites(dpbDefault);
  EXPECT_EQ(-1, p.IndexOfName("FORCED WRITES"));
}

TEST(ConnectionParamsTest, TheStoredFormHoldsNoPlainPasswordAndReadingItSplitsServerName) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  TStringList p;
  p.Add("SERVER NAME=srv:/db/x.fdb");
  p.Add("USER NAME=U");
  p.Add("PASSWORD=secret");
  p.Add("LOCAL PASSWORD=secret2");
  c->BeginLoading();
  c->SetParams(p);
  c->EndLoading();
  EXPECT_EQ("srv", c->GetServer());
  EXPECT_EQ("/db/x.fdb", c->GetPath());
  EXPECT_EQ(-1, c->GetParams().IndexOfName("SERVER NAME"));
  TStringList stored;
  c->GetStoredParams(stored);
  EXPECT_EQ(-1, stored.IndexOfName("PASSWORD"));
  EXPECT_EQ(-1, stored.IndexOfName("LOCAL PASSWORD"));
  EXPECT_EQ("U", stored.GetValue("USER NAME"));
}

TEST(ConnectionParamsTest, UserAndRolePrefixes) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->SetLoginUsernamePrefix("APP_");
  c->SetLoginSQLRolePrefix("R_");
  c->SetLoginUsername("PILOT");
  EXPECT_EQ("APP_PILOT", c->GetUsername());
  EXPECT_EQ("PILOT", c->GetLoginUsername());
  c->SetLoginUsername("SYSDBA");
  EXPECT_EQ("SYSDBA", c->GetUsername());
  c->SetLoginSQLRole("ADMIN");
  EXPECT_EQ("R_ADMIN", c->GetSQLRole());
  EXPECT_EQ("ADMIN", c->GetLoginSQLRole());
  c->SetLoginSQLRole("");
  EXPECT_EQ("", c->GetSQLRole());
}

TEST(ConnectionDPBTest, TypicalSettingsGiveTheseBytes) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->SetForcedWrites(dpbTrue);
  c->SetReservePageSpace(dpbTrue);
  c->SetCharSet("ISO8859_1");
  c->SetSQLDialect(3);
  std::string expected = {1, 28, 6, 'S', 'Y', 'S', 'D', 'B', 'A', 29, 2, 'p', 'w', 5, 1, 75, 24, 1, 1, 27, 1, 0, 48, 9};
  expected += "ISO8859_1";
  expected += std::string{60, 1, 'R', 63, 1, 3};
  EXPECT_EQ(expected, c->BuildDPB("SYSDBA", "pw", "R"));
  c->SetSQLDialect(1);
  EXPECT_EQ(std::string::npos, c->BuildDPB("", "", "").find(std::string{63, 1}));
}

TEST(ConnectionDPBTest, CustomizeAppendsToAGrowableBuffer) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->OnCustomizeDPB = [](TIB_Connection*, int32_t& BufPtr, std::string& Buffer) {
    for (int i = 0; i < 8; ++i) AddDPBString(BufPtr, Buffer, std::string(200, 'x'), isc_dpb_lc_messages);
  };
  EXPECT_EQ(1u + 3 + 8 * 202, c->BuildDPB("", "", "").size());
  int32_t len = 0;
  std::string buf;
  EXPECT_THROW(AddDPBString(len, buf, std::string(256, 'x'), 28), EIB_ConnectionError);
  AddDPBString(len, buf, "", 28);
  EXPECT_EQ(0, len);
}

TEST(ConnectCharacteristicsTest, ParsingStopsAtTheEndOfTheReply) {
  // A file-name item that claims more bytes than the reply holds.
  const char reply[] = {isc_info_page_size, 2, 0, 0, 16, isc_info_db_id, 40, 0, 1, 30, 'a', 'b'};
  TIB_ConnectCharacteristics c;
  ParseConnectCharacteristics(reply, sizeof reply, c);
  EXPECT_EQ(4096, c.dbPage_Size);
  EXPECT_EQ("", c.dbFile_Name);
  const char counted[] = {isc_info_db_id, 5, 0, 1, 9, 'a', 'b', 'c', isc_info_end};
  ParseConnectCharacteristics(counted, sizeof counted, c);
  EXPECT_EQ("abc", c.dbFile_Name);  // the count is cut to the item's length
}

// ---- a real database -----------------------------------------------------------------------------------------

// Entry wrappers: count attaches and statement texts, fail the database-info request on demand.
TIB_EntryTable gReal;
int gAttaches = 0, gImmediates = 0;
ISC_STATUS gInfoFailure = 0;
ISC_STATUS CountingAttach(ISC_STATUS* S, short L, const ISC_SCHAR* N, isc_db_handle* H, short DL, const ISC_SCHAR* D) {
  ++gAttaches;
  return gReal.isc_attach_database(S, L, N, H, DL, D);
}
ISC_STATUS CountingImmediate(ISC_STATUS* S, isc_db_handle* D, isc_tr_handle* T, unsigned short L, const ISC_SCHAR* Q,
                             unsigned short Dialect, const XSQLDA* X) {
  ++gImmediates;
  return gReal.isc_dsql_execute_immediate(S, D, T, L, Q, Dialect, X);
}
ISC_STATUS FailingInfo(ISC_STATUS* S, isc_db_handle* H, short IL, const ISC_SCHAR* I, short BL, ISC_SCHAR* B) {
  if (!gInfoFailure) return gReal.isc_database_info(S, H, IL, I, BL, B);
  S[0] = isc_arg_gds;
  S[1] = gInfoFailure;
  S[2] = isc_arg_end;
  return gInfoFailure;
}

class ConnectionDbTest : public ::testing::Test {
protected:
  TempDir Dir;
  Form F;
  TIB_Session* S = new TIB_Session(F.Owner);  // the form's own: its entries are the test's to change
  TIB_Connection* C = F.NewConnection();
  void SetUp() override {
    ASSERT_EQ(S, C->GetSession());
    C->SetDatabaseName(Dir.File("test.fdb"));
    C->SetCharSet("ISO8859_1");
    C->SetSQLDialect(3);
    C->SetPageSize(8192);
    gReal = S->Untraced;
    gAttaches = gImmediates = 0;
    gInfoFailure = 0;
    S->Entries.isc_attach_database = &CountingAttach;
    S->Entries.isc_dsql_execute_immediate = &CountingImmediate;
    S->Entries.isc_database_info = &FailingInfo;
  }
  TIB_Connection* SecondConnection() {
    TIB_Connection* other = F.NewConnection();
    other->SetDatabaseName(C->GetDatabaseName());
    other->Connect();
    return other;
  }
};

// Records notices in order.
struct Recorder : TIB_ConnectionLink {
  TLog* Log;
  std::string Name;
  Recorder(TComponent* Owner, TLog* L, std::string N) : TIB_ConnectionLink(Owner), Log(L), Name(std::move(N)) {}
  void ProcessEvent(int32_t AEvent) override { Log->push_back(Name + IntToStr(AEvent)); }
};

void RecordEvents(TIB_Connection* C, TLog& Log) {
  auto ev = [&Log](const char* N) { return [&Log, N](TIB_Connection*) { Log.push_back(N); }; };
  C->BeforeConnect = ev("BeforeConnect");
  C->AfterConnect = ev("AfterConnect");
  C->BeforeDisconnect = ev("BeforeDisconnect");
  C->AfterDisconnect = ev("AfterDisconnect");
  C->BeforeCreateDatabase = ev("BeforeCreate");
  C->AfterCreateDatabase = ev("AfterCreate");
  C->BeforeDropDatabase = ev("BeforeDrop");
  C->AfterDropDatabase = ev("AfterDrop");
  C->OnConnectedChanged = ev("Changed");
}

TEST_F(ConnectionDbTest, CreateConnectDisconnectDropInOrder) {
  TLog log;
  RecordEvents(C, log);
  auto* a = new Recorder(F.Owner, &log, "a");
  auto* b = new Recorder(F.Owner, &log, "b");
  a->SetIB_Connection(C);
  b->SetIB_Connection(C);
  EXPECT_EQ((TLog{"a0", "a1", "b0", "b1"}), log);
  log.clear();
  C->CreateDatabase();
  EXPECT_EQ(csConnected, C->GetConnectionStatus());
  EXPECT_EQ((TLog{"BeforeConnect", "b7", "a7", "BeforeCreate", "b5", "a5", "b6", "a6", "AfterCreate", "b4", "a4", "b8",
                  "a8", "Changed", "AfterConnect"}),
            log);
  log.clear();
  C->Disconnect();
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ((TLog{"BeforeDisconnect", "b9", "a9", "b4", "a4", "b10", "a10", "Changed", "AfterDisconnect"}), log);
  log.clear();
  C->Disconnect();  // nothing to do: only the state notice
  EXPECT_EQ((TLog{"b4", "a4"}), log);
  C->Connect();
  log.clear();
  C->DropDatabase();
  EXPECT_EQ((TLog{"BeforeDisconnect", "b9", "a9", "BeforeDrop", "b11", "a11", "b4", "a4", "b10", "a10", "Changed",
                  "AfterDisconnect", "b12", "a12", "AfterDrop"}),
            log);
  EXPECT_FALSE(std::filesystem::exists(Dir.File("test.fdb")));
  EXPECT_EQ(csNotConnected, C->GetConnectionStatus());
  delete C;  // links are let go
  EXPECT_EQ(nullptr, a->GetIB_Connection());
}

TEST_F(ConnectionDbTest, AttachesWithTheParameterBlockAndReadsTheCharacteristics) {
  EXPECT_THROW(C->GetCharacteristics(), EIB_ConnectionError);
  C->SetForcedWrites(dpbFalse);
  C->CreateDatabase();
  C->Disconnect();
  C->Connect();
  TIB_ConnectCharacteristics ch = C->GetCharacteristics();
  EXPECT_EQ(0, ch.dbForced_Writes);  // the engine took the numeric items with their length bytes
  EXPECT_EQ(8192, ch.dbPage_Size);
  EXPECT_EQ(3, ch.dbSQL_Dialect);
  EXPECT_EQ(12, ch.dbODS_Version);
  EXPECT_GT(ch.dbAllocation, 0);
  EXPECT_NE(std::string::npos, ch.dbFile_Name.find("test.fdb"));
  EXPECT_NE(std::string::npos, ch.dbVersion.find("Firebird 3"));
}

TEST_F(ConnectionDbTest, ABlankNameNeedsIscDatabaseAndADriveColonNeedsASlash) {
  C->CreateDatabase();
  C->Disconnect();
  const std::string path = C->GetPath();
  C->SetDatabaseName("");
  unsetenv("ISC_DATABASE");
  EXPECT_EQ("DatabaseName cannot be blank", MessageOf<EIB_ConnectionError>([&] { C->Connect(); }));
  setenv("ISC_DATABASE", path.c_str(), 1);
  C->Connect();
  unsetenv("ISC_DATABASE");
  EXPECT_TRUE(C->GetConnected());
  C->Disconnect();
  C->SetPath("/tmp/a:b.fdb");
  EXPECT_EQ("Invalid connection path", MessageOf<EIB_ConnectionError>([&] { C->Connect(); }));
}

TEST_F(ConnectionDbTest, TextsWithANulAreRefusedBeforeAnythingIsSent) {
  C->CreateDatabase();
  C->Disconnect();
  const std::string nul("x\0y", 3);
  const struct {
    std::function<void()> Set;
    const char* Message;
  } cases[] = {
      // Today's file name, then a NUL: the attach must not take the name before it.
      {[&] { C->SetPath(Dir.File("test.fdb") + std::string(1, '\0') + "junk"); },
       "The database name contains a NUL character"},
      {[&] { C->SetUsername(nul); }, "The user name contains a NUL character"},
      {[&] { C->SetPassword(nul); }, "The password contains a NUL character"},
      {[&] { C->SetSQLRole(nul); }, "The role name contains a NUL character"},
      {[&] { C->SetCharSet(nul); }, "The character set contains a NUL character"},
      {[&] { C->SetSysDBA(nul); }, "The system user name contains a NUL character"},
      {[&] { C->SetMessageFile(nul); }, "The message file contains a NUL character"},
  };
  TStringList saved;
  saved.Assign(C->GetParams());
  for (const auto& k : cases) {
    C->SetParams(saved);
    k.Set();
    gAttaches = gImmediates = 0;
    EXPECT_EQ(k.Message, MessageOf<EIB_ConnectionError>([&] { C->Connect(); }));
    EXPECT_EQ(k.Message, MessageOf<EIB_ConnectionError>([&] { C->CreateDatabase(); }));
    EXPECT_EQ(0, gAttaches + gImmediates) << k.Message;
    EXPECT_FALSE(C->GetConnected());
  }
  C->SetParams(saved);
  C->Connect();
  EXPECT_EQ(1, gAttaches);
}

TEST_F(ConnectionDbTest, ACreateWhoseErrorAHandlerSuppressedLeavesItAsARefusedCreate) {
  C->CreateDatabase();
  C->Disconnect();
  TLog log;
  RecordEvents(C, log);
  SuppressErrors(S, true);
  gAttaches = 0;
  C->CreateDatabase();  // the file is there already
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ(csConnecting, C->GetConnectionStatus());
  EXPECT_EQ((TLog{"BeforeConnect", "BeforeCreate"}), log);
  EXPECT_EQ(0, gAttaches);  // not attached to a database it did not create
  SuppressErrors(S, false);
  EXPECT_THROW(C->CreateDatabase(), EIB_ISCError);
  EXPECT_EQ(csConnecting, C->GetConnectionStatus());
  C->Connect();  // a later attach does not create again
  EXPECT_TRUE(C->GetConnected());
}

TEST_F(ConnectionDbTest, ADropThatFailsLeavesTheConnectionAttached) {
  C->CreateDatabase();
  TIB_Connection* other = SecondConnection();
  EXPECT_THROW(C->DropDatabase(), EIB_ISCError);
  EXPECT_EQ(csConnected, C->GetConnectionStatus());
  ExecuteOn(S, C->GetdbHandle(), "CREATE TABLE T (I INTEGER)");
  // Refused with the error suppressed: nothing dropped, nothing announced.
  TLog log;
  RecordEvents(C, log);
  SuppressErrors(S, true);
  C->DropDatabase();
  SuppressErrors(S, false);
  EXPECT_EQ(csConnected, C->GetConnectionStatus());
  EXPECT_EQ((TLog{"BeforeDisconnect", "BeforeDrop"}), log);
  EXPECT_TRUE(std::filesystem::exists(Dir.File("test.fdb")));
  other->Disconnect();
  C->DropDatabase();
  EXPECT_FALSE(std::filesystem::exists(Dir.File("test.fdb")));
}

TEST_F(ConnectionDbTest, FailingHandlersStillDetachAndTheOthersFailuresAreReported) {
  C->CreateDatabase();
  ExceptionSink sink;
  C->BeforeDisconnect = [](TIB_Connection*) { throw Exception("before failed"); };
  C->AfterDisconnect = [](TIB_Connection*) { throw Exception("after failed"); };
  EXPECT_EQ("before failed", MessageOf<Exception>([&] { C->Disconnect(); }));
  EXPECT_EQ((TLog{"after failed"}), sink.Messages);
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ(csNotConnected, C->GetConnectionStatus());
  C->Connect();
  delete C;  // no events while it goes, and nothing thrown
  EXPECT_EQ(1u, sink.Messages.size());
}

TEST_F(ConnectionDbTest, AServerGoneRightAfterTheAttachLeavesTheConnectionDetached) {
  C->CreateDatabase();
  C->Disconnect();
  // A statement on the connection asks for the SQL dialect as soon as the connection is attached.
  auto* q = new TIB_DSQL(F.Owner);
  q->SetIB_Connection(C);
  for (ISC_STATUS failure : {ISC_STATUS{isc_net_read_err}, ISC_STATUS{isc_bad_db_handle}}) {
    ExceptionSink sink;
    gInfoFailure = failure;
    EXPECT_THROW(C->Connect(), EIB_ISCError) << failure;
    EXPECT_FALSE(C->GetConnected()) << failure;
    EXPECT_EQ(csNotConnected, C->GetConnectionStatus());
    EXPECT_NO_THROW(C->Disconnect());
    EXPECT_EQ(TLog{}, sink.Messages);  // the way out asked the server nothing
    gInfoFailure = 0;
    C->Connect();
    EXPECT_EQ(3, q->GetSQLDialect());
    C->Disconnect();
  }
}

TEST_F(ConnectionDbTest, TheDDLBracketClosesAlsoWhenTheStatementFailsAndReportsItsOwnFailure) {
  C->CreateDatabase();
  TLog log;
  C->BeforeExecDDL = [&](TIB_Connection*) { log.push_back("before"); };
  C->AfterExecDDL = [&](TIB_Connection*) { log.push_back("after"); };
  isc_stmt_handle h = 0;
  C->AcquireStatementHandle(h);
  C->ReleaseStatementHandle(h);
  // A failed statement: the bracket closes quietly (no event from the unwinding), yet the handles on
  // the old metadata are dropped.
  EXPECT_THROW(
      {
        TIB_ExecDDLBracket ddl(C);
        throw Exception("DDL refused");
      },
      Exception);
  EXPECT_EQ((TLog{"before"}), log);
  EXPECT_EQ(0, C->GetStatementHandleCacheCount());
  // On the normal path the end's events run, and a handler's error reaches the caller.
  {
    TIB_ExecDDLBracket ddl(C);
    ddl.End();
  }
  EXPECT_EQ((TLog{"before", "before", "after"}), log);
  C->AfterExecDDL = [](TIB_Connection*) { throw Exception("after failed"); };
  TIB_ExecDDLBracket ddl(C);
  EXPECT_EQ("after failed", testsupport::MessageOf<Exception>([&] { ddl.End(); }));
}

TEST_F(ConnectionDbTest, StatementHandlesAreCachedAndReusedLastInFirstOut) {
  C->CreateDatabase();
  std::vector<isc_stmt_handle> h(10, 0);
  for (auto& x : h) C->AcquireStatementHandle(x);
  const std::vector<isc_stmt_handle> released = h;
  for (auto& x : h) C->ReleaseStatementHandle(x);
  EXPECT_EQ(std::vector<isc_stmt_handle>(10, 0), h);
  EXPECT_EQ(10, C->GetStatementHandleCacheCount());
  EXPECT_EQ(10, C->GetStatementHandleCacheCapacity());
  for (int i = 9; i >= 0; --i) {
    C->AcquireStatementHandle(h[9 - i]);
    EXPECT_EQ(released[i], h[9 - i]);
  }
  for (auto& x : h) C->ReleaseStatementHandle(x);
  C->FlushStatementHandleCache(3);
  EXPECT_EQ(3, C->GetStatementHandleCacheCount());
  C->SetCacheStatementHandles(false);
  EXPECT_EQ(0, C->GetStatementHandleCacheCount());
  isc_stmt_handle x = 0;
  C->AcquireStatementHandle(x);
  C->ReleaseStatementHandle(x);
  EXPECT_EQ(0u, x);
  EXPECT_EQ(0, C->GetStatementHandleCacheCount());
  isc_stmt_handle kept = 1234;
  C->AcquireStatementHandle(kept);
  EXPECT_EQ(1234u, kept);  // a held handle is used as it is
}

TEST_F(ConnectionDbTest, TheClientNeverWritesIntoAVariableThatGaveItsHandleBack) {
  C->CreateDatabase();
  // A handle moves through the cache from one holder to the next; the first holder's variable may be
  // gone (or hold another handle) by the time the handle is dropped or the database detached.
  isc_stmt_handle first = 0;
  C->AcquireStatementHandle(first);
  C->ReleaseStatementHandle(first);
  first = 4242;
  isc_stmt_handle second = 0;
  C->AcquireStatementHandle(second);
  C->ReleaseStatementHandle(second);
  C->FlushStatementHandleCache(0);
  EXPECT_EQ(4242u, first);
  isc_stmt_handle third = 0;
  C->AcquireStatementHandle(third);
  C->ReleaseStatementHandle(third);
  third = 4343;
  C->Disconnect();
  EXPECT_EQ(4343u, third);
}

TEST_F(ConnectionDbTest, AHandleReleasedAfterTheDetachIsNotCached) {
  C->CreateDatabase();
  isc_stmt_handle held = 0;
  C->AcquireStatementHandle(held);
  const isc_stmt_handle held0 = held;
  C->Disconnect();
  C->ReleaseStatementHandle(held);
  EXPECT_EQ(0u, held);
  EXPECT_EQ(0, C->GetStatementHandleCacheCount());
  C->Connect();
  isc_stmt_handle fresh = 0;
  C->AcquireStatementHandle(fresh);
  EXPECT_NE(held0, fresh);
  C->ReleaseStatementHandle(fresh);
}

TEST_F(ConnectionDbTest, LostConnectionIsDetectedAndRecovered) {
  C->CreateDatabase();
  const int32_t id = AttachmentId(S, C->GetdbHandle());
  TIB_Connection* other = SecondConnection();
  ExecuteOn(S, other->GetdbHandle(), "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = " + IntToStr(id));
  C->CheckConnection();
  EXPECT_TRUE(C->GetConnectionWasLost());
  TLog log;
  RecordEvents(C, log);
  C->Disconnect();
  EXPECT_EQ((TLog{"BeforeDisconnect", "Changed", "AfterDisconnect"}), log);
  C->Connect();
  EXPECT_FALSE(C->GetConnectionWasLost());
  C->CheckConnection();
  EXPECT_FALSE(C->GetConnectionWasLost());
  EXPECT_NE(id, AttachmentId(S, C->GetdbHandle()));
}

TEST_F(ConnectionDbTest, ConnectedWhileLoadingAttachesWhenLoadingEnds) {
  C->CreateDatabase();
  C->Disconnect();
  C->BeginLoading();
  C->SetConnected(true);
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ(csConnecting, C->GetConnectionStatus());
  C->EndLoading();
  EXPECT_TRUE(C->GetConnected());
  C->Disconnect();
  // A failure at the end of loading leaves it detached without an exception.
  ExceptionSink sink;
  C->SetPath(Dir.File("missing.fdb"));
  C->BeginLoading();
  C->SetConnected(true);
  EXPECT_NO_THROW(C->EndLoading());
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ(1u, sink.Messages.size());
}

// ---- login ---------------------------------------------------------------------------------------------------

// Answers login dialogs from a script of passwords; an empty entry cancels.
class ScriptedDialogs : public TDialogs {
public:
  std::vector<std::string> Passwords;
  std::vector<TLoginRequest> Seen;
  TModalResult Login(TLoginRequest& R) override {
    Seen.push_back(R);
    if (Passwords.empty() || Passwords.front().empty()) return mrCancel;
    R.Password = Passwords.front();
    R.Username = "SYSDBA";
    Passwords.erase(Passwords.begin());
    return mrOk;
  }
};

TEST_F(ConnectionDbTest, LoginLoopRetriesAndFails) {
  C->CreateDatabase();
  C->Disconnect();
  C->SetLoginPrompt(true);
  int attempts = 0;
  ExceptionSink sink;
  const std::string good = C->GetPath();
  // An embedded attach needs no password: a bad path makes the attempt fail.
  C->OnLogin = [&](TIB_Connection* Sender, bool&) {
    ++attempts;
    Sender->SetPath(attempts < 3 ? Dir.File("missing.fdb") : good);
  };
  C->Connect();
  EXPECT_TRUE(C->GetConnected());
  EXPECT_EQ(3, attempts);
  EXPECT_EQ(2u, sink.Messages.size());
  C->Disconnect();
  attempts = 0;
  C->SetLoginAttempts(2);
  EXPECT_EQ("Login failed", MessageOf<EIB_ConnectionError>([&] { C->Connect(); }));
  int failures = 0;
  attempts = 0;
  C->OnLoginFailure = [&](TIB_Connection*) { ++failures; };
  C->Connect();
  EXPECT_EQ(1, failures);
}

TEST_F(ConnectionDbTest, LoginDialogAndLoginMemory) {
  SettingsRoot root;
  C->CreateDatabase();
  C->Disconnect();
  ScriptedDialogs dialogs;
  dialogs.Passwords = {"pw"};
  TDialogs* old = SetDialogs(&dialogs);
  C->SetLoginPrompt(true);
  C->SetLoginRegKey("Software\\Test\\Planner");
  C->SetLoginSQLRoleList(" PILOT, ,ADMIN ");
  C->SetLoginCaption("Sign in");
  C->Connect();
  EXPECT_TRUE(C->GetConnected());
  ASSERT_EQ(1u, dialogs.Seen.size());
  EXPECT_EQ("Sign in", dialogs.Seen[0].Caption);
  EXPECT_EQ(C->GetDatabaseName(), dialogs.Seen[0].Database);
  EXPECT_EQ((std::vector<std::string>{"PILOT", "ADMIN"}), dialogs.Seen[0].SQLRoleList);
  EXPECT_EQ("pw", C->GetPassword());
  TRegIniFile reg("Software\\Test\\Planner");
  EXPECT_EQ(C->GetDatabaseName(), reg.ReadString("Settings", "Database", ""));
  EXPECT_EQ("SYSDBA", reg.ReadString("Settings", "LastUser", ""));
  C->Disconnect();
  // A cancelled login ends the loop with "Login failed".
  EXPECT_THROW(C->Connect(), EIB_ConnectionError);
  EXPECT_TRUE(C->GetLoginAborted());
  EXPECT_EQ(2u, dialogs.Seen.size());
  SetDialogs(old);
  // The remembered database replaces the current name at the next login.
  reg.WriteString("Settings", "Database", Dir.File("test.fdb"));
  C->SetDatabaseName(Dir.File("other.fdb"));
  C->OnLogin = [](TIB_Connection*, bool&) {};
  C->Connect();
  EXPECT_EQ(Dir.File("test.fdb"), C->GetDatabaseName());
}

TEST(ConnectionSavedPasswordTest, RoundTripThroughTheScrambleKey) {
  SettingsRoot root;
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->SetPassword("masterkey");
  const std::string saved = c->GetSavedPassword();
  EXPECT_TRUE(saved.starts_with(".QiVrOx.07."));
  EXPECT_EQ(std::string::npos, saved.find("masterkey"));
  TIB_Connection* d = f.NewConnection();
  d->SetSavedPassword(saved);
  EXPECT_EQ("masterkey", d->GetPassword());
  TRegIniFile("Software\\Zindor\\ZDB").WriteInteger("Security", "Level", 0);
  EXPECT_EQ("masterkey", c->GetSavedPassword());
}

// ---- threads --------------------------------------------------------------------------------------

TEST(ConnectionThreadsTest, FourThreadsEachWithItsOwnSession) {
  TempDir dir;
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      try {
        auto* c = new TIB_Connection(nullptr);
        c->SetDatabaseName(dir.File("t" + IntToStr(i) + ".fdb"));
        c->CreateDatabase();
        for (int k = 0; k < 5; ++k) {
          c->Disconnect();
          c->Connect();
        }
        ok[i] = c->GetConnected() && c->GetSession() == CurrentSession() ? 1 : 0;
        c->DropDatabase();
        delete c;
      } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ((std::vector<int>{1, 1, 1, 1}), ok);
}

}  // namespace
