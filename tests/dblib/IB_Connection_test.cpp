#include "dblib/IB_Connection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "dblib/IB_Utils.h"
#include "platform/Dialogs.h"
#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

using testsupport::TempDir;

// Points the settings store at a private folder for the life of the object.
class SettingsRootGuard {
public:
  SettingsRootGuard() {
    if (const char* old = std::getenv("DBLIB_SETTINGS_ROOT")) FSaved = old, FHad = true;
    setenv("DBLIB_SETTINGS_ROOT", FDir.Path().c_str(), 1);
  }
  ~SettingsRootGuard() {
    if (FHad)
      setenv("DBLIB_SETTINGS_ROOT", FSaved.c_str(), 1);
    else
      unsetenv("DBLIB_SETTINGS_ROOT");
  }

private:
  TempDir FDir;
  std::string FSaved;
  bool FHad = false;
};

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
  EXPECT_EQ(isc_info_attachment_id, reply[0]);
  int len = static_cast<unsigned char>(reply[1]);
  int32_t v = 0;
  for (int i = 0; i < len && i < 4; ++i) v |= static_cast<int32_t>(static_cast<unsigned char>(reply[3 + i])) << (8 * i);
  return v;
}

// ---- names ------------------------------------------------------------------------------------------------

struct NameCase {
  const char* Name;
  TIB_Protocol Protocol;
  const char* Server;
  const char* Path;
};

TEST(ConnectionNamesTest, SplitsAndComposesEveryNetworkForm) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  const NameCase cases[] = {
      {"C:\\DATA\\NAV.GDB", cpLocal, "", "C:\\DATA\\NAV.GDB"},
      {"srv:C:\\DATA\\NAV.GDB", cpTCP_IP, "srv", "C:\\DATA\\NAV.GDB"},
      {"\\\\srv\\C:\\DATA\\NAV.GDB", cpNetBEUI, "srv", "C:\\DATA\\NAV.GDB"},
      {"srv@SYS:DATA\\NAV.GDB", cpNovell, "srv", "SYS:DATA\\NAV.GDB"},
      {"/var/db/nav.fdb", cpLocal, "", "/var/db/nav.fdb"},
      {"/var/db/nav", cpLocal, "", "/var/db/nav"},
      {"localhost/3051:/var/db/nav.fdb", cpTCP_IP, "localhost/3051", "/var/db/nav.fdb"},
      {"nav.fdb", cpLocal, "", "nav.fdb"},
  };
  for (const NameCase& k : cases) {
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
  a->SetDatabaseName("/data/x.fdb");
  EXPECT_FALSE(a->IsDatabaseNameStored());
}

// ---- parameters --------------------------------------------------------------------------------------------

TEST(ConnectionParamsTest, PropertiesReadAndWriteTheList) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->SetUsername("SYSDBA");
  c->GetParams().Add("ROLE=OLDROLE");
  EXPECT_EQ("OLDROLE", c->GetSQLRole());
  EXPECT_EQ("ROLE NAME=OLDROLE", c->GetParams()[c->GetParams().IndexOfName("ROLE NAME")]);
  EXPECT_EQ(-1, c->GetParams().IndexOfName("ROLE"));
  c->GetParams().Add("LOCAL PASSWORD=lp");
  EXPECT_EQ("lp", c->GetPassword());
  c->SetPassword("new");
  EXPECT_EQ("new", c->GetParams().GetValue("LOCAL PASSWORD"));
  c->SetBuffers(75);
  EXPECT_EQ(-1, c->GetParams().IndexOfName("BUFFERS"));
  c->GetParams().SetValue("BUFFERS", "1000");
  EXPECT_EQ(255, c->GetBuffers());
  c->SetPageSize(5000);
  EXPECT_EQ("4096", c->GetParams().GetValue("PAGE SIZE"));
  c->SetPageSize(100);
  EXPECT_EQ(-1, c->GetParams().IndexOfName("PAGE SIZE"));
  EXPECT_EQ(1, c->GetSQLDialect());
  c->SetSQLDialect(3);
  EXPECT_EQ("3", c->GetParams().GetValue("SQL DIALECT"));
  c->SetForcedWrites(dpbFalse);
  EXPECT_EQ("FALSE", c->GetParams().GetValue("FORCED WRITES"));
  c->SetForcedWrites(dpbDefault);
  EXPECT_EQ(-1, c->GetParams().IndexOfName("FORCED WRITES"));
}

TEST(ConnectionParamsTest, StoredFormHoldsNoPlainPassword) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->SetUsername("U");
  c->GetParams().Add("PASSWORD=secret");
  c->GetParams().Add("LOCAL PASSWORD=secret2");
  TStringList stored;
  c->GetStoredParams(stored);
  EXPECT_EQ("USER NAME=U", Trim(stored.GetText()));
}

TEST(ConnectionParamsTest, ReadingAStoredFormSplitsServerName) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  TStringList p;
  p.Add("SERVER NAME=srv:/db/x.fdb");
  p.Add("USER NAME=A");
  c->BeginLoading();
  c->SetParams(p);
  c->EndLoading();
  EXPECT_EQ("srv", c->GetServer());
  EXPECT_EQ("/db/x.fdb", c->GetPath());
  EXPECT_EQ(-1, c->GetParams().IndexOfName("SERVER NAME"));
}

TEST(ConnectionParamsTest, UserAndRolePrefixes) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->LoginUsernamePrefix = "APP_";
  c->LoginSQLRolePrefix = "R_";
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

// ---- parameter block ---------------------------------------------------------------------------------------

TEST(ConnectionDPBTest, TypicalSettingsGiveTheseBytes) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->SetForcedWrites(dpbTrue);
  c->SetReservePageSpace(dpbTrue);
  c->SetCharSet("ISO8859_1");
  c->SetSQLDialect(3);
  std::string dpb = c->BuildDPB("SYSDBA", "pw", "R");
  std::string expected = {1, 28, 6, 'S', 'Y', 'S', 'D', 'B', 'A', 29, 2, 'p', 'w', 5, 1, 75, 24, 1, 1, 27, 1, 0, 48, 9};
  expected += "ISO8859_1";
  expected += std::string{60, 1, 'R', 63, 1, 3};
  EXPECT_EQ(expected, dpb);
  c->SetSQLDialect(1);
  EXPECT_EQ(std::string::npos, c->BuildDPB("", "", "").find(std::string{63, 1}));
}

TEST(ConnectionDPBTest, CustomizeAppendsToAGrowableBuffer) {
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->OnCustomizeDPB = [](TIB_Connection*, int32_t& BufPtr, std::string& Buffer) {
    for (int i = 0; i < 8; ++i) AddDPBString(BufPtr, Buffer, std::string(200, 'x'), isc_dpb_lc_messages);
  };
  std::string dpb = c->BuildDPB("", "", "");
  EXPECT_EQ(1u + 3 + 8 * 202, dpb.size());
  int32_t len = 0;
  std::string buf;
  EXPECT_THROW(AddDPBString(len, buf, std::string(256, 'x'), 28), EIB_ConnectionError);
  AddDPBString(len, buf, "", 28);
  EXPECT_EQ(0, len);
}

// ---- a real database ---------------------------------------------------------------------------------------

class ConnectionDbTest : public ::testing::Test {
protected:
  TempDir Dir;
  Form F;
  TIB_Connection* C = F.NewConnection();
  void SetUp() override {
    C->SetDatabaseName(Dir.File("test.fdb"));
    C->SetCharSet("ISO8859_1");
    C->SetSQLDialect(3);
    C->SetPageSize(8192);
  }
};

// Records notices and events in order.
struct Recorder : TIB_ConnectionLink {
  std::vector<std::string>* Log;
  Recorder(TComponent* Owner, std::vector<std::string>* L) : TIB_ConnectionLink(Owner), Log(L) {}
  void ProcessEvent(int32_t AEvent) override { Log->push_back(Name + IntToStr(AEvent)); }
  std::string Name;
};

void RecordEvents(TIB_Connection* C, std::vector<std::string>& Log) {
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
  std::vector<std::string> log;
  RecordEvents(C, log);
  auto* a = new Recorder(F.Owner, &log);
  a->Name = "a";
  auto* b = new Recorder(F.Owner, &log);
  b->Name = "b";
  a->SetIB_Connection(C);
  b->SetIB_Connection(C);
  EXPECT_EQ((std::vector<std::string>{"a0", "a1", "b0", "b1"}), log);
  log.clear();
  C->CreateDatabase();
  EXPECT_TRUE(C->GetConnected());
  EXPECT_EQ(csConnected, C->GetConnectionStatus());
  EXPECT_EQ((std::vector<std::string>{"BeforeConnect", "b7", "a7", "BeforeCreate", "b5", "a5", "b6", "a6",
                                      "AfterCreate", "b4", "a4", "b8", "a8", "Changed", "AfterConnect"}),
            log);
  log.clear();
  C->Disconnect();
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ((std::vector<std::string>{"BeforeDisconnect", "b9", "a9", "b4", "a4", "b10", "a10", "Changed",
                                      "AfterDisconnect"}),
            log);
  log.clear();
  C->Disconnect();  // nothing to do: only the state notice
  EXPECT_EQ((std::vector<std::string>{"b4", "a4"}), log);
  C->Connect();
  EXPECT_TRUE(C->GetConnected());
  log.clear();
  C->DropDatabase();
  EXPECT_EQ((std::vector<std::string>{"BeforeDisconnect", "b9", "a9", "BeforeDrop", "b11", "a11", "b4", "a4", "b10",
                                      "a10", "Changed", "AfterDisconnect", "b12", "a12", "AfterDrop"}),
            log);
  EXPECT_FALSE(std::filesystem::exists(Dir.File("test.fdb")));
  EXPECT_EQ(csNotConnected, C->GetConnectionStatus());
  delete C;  // links are let go
  EXPECT_EQ(nullptr, a->GetIB_Connection());
}

TEST_F(ConnectionDbTest, CharacteristicsOfACreatedDatabase) {
  EXPECT_THROW(C->GetCharacteristics(), EIB_ConnectionError);
  C->SetBuffers(200);
  C->CreateDatabase();
  TIB_ConnectCharacteristics ch = C->GetCharacteristics();
  EXPECT_EQ(8192, ch.dbPage_Size);
  EXPECT_EQ(3, ch.dbSQL_Dialect);
  EXPECT_EQ(12, ch.dbODS_Version);
  EXPECT_EQ(0, ch.dbRead_Only);
  EXPECT_GT(ch.dbAllocation, 0);
  EXPECT_NE(std::string::npos, ch.dbFile_Name.find("test.fdb"));
  EXPECT_NE(std::string::npos, ch.dbVersion.find("Firebird 3"));
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

TEST_F(ConnectionDbTest, AttachesWithTheParameterBlock) {
  C->SetForcedWrites(dpbFalse);
  C->SetBuffers(100);
  C->CreateDatabase();
  C->Disconnect();
  C->Connect();
  TIB_ConnectCharacteristics ch = C->GetCharacteristics();
  EXPECT_EQ(0, ch.dbForced_Writes);
  // The engine took every numeric item (it refuses one without its length byte).
  EXPECT_EQ(std::string({5, 1, 100}), C->BuildDPB("", "", "").substr(1, 3));
}

TEST_F(ConnectionDbTest, BlankNameAndBadPath) {
  C->SetDatabaseName("");
  unsetenv("ISC_DATABASE");
  EXPECT_EQ("DatabaseName cannot be blank", MessageOf<EIB_ConnectionError>([&] { C->Connect(); }));
  C->SetPath("/tmp/a:b.fdb");
  EXPECT_THROW(C->Connect(), EIB_ConnectionError);
}

TEST_F(ConnectionDbTest, IscDatabaseNamesABlankDatabase) {
  C->CreateDatabase();
  C->Disconnect();
  std::string path = C->GetPath();
  C->SetDatabaseName("");
  setenv("ISC_DATABASE", path.c_str(), 1);
  C->Connect();
  unsetenv("ISC_DATABASE");
  EXPECT_TRUE(C->GetConnected());
}

TEST_F(ConnectionDbTest, FailedDropLeavesTheConnectionAttached) {
  C->CreateDatabase();
  TIB_Connection* other = F.NewConnection();
  other->SetDatabaseName(C->GetDatabaseName());
  other->Connect();
  EXPECT_THROW(C->DropDatabase(), EIB_ISCError);
  EXPECT_TRUE(C->GetConnected());
  EXPECT_EQ(csConnected, C->GetConnectionStatus());
  EXPECT_NO_THROW(C->GetCharacteristics());
  ExecuteOn(C->GetSession(), C->GetdbHandle(), "CREATE TABLE T (I INTEGER)");
  other->Disconnect();
  C->DropDatabase();
  EXPECT_FALSE(std::filesystem::exists(Dir.File("test.fdb")));
}

TEST_F(ConnectionDbTest, AFailedDropWhoseErrorAHandlerSuppressedAnnouncesNoDrop) {
  C->CreateDatabase();
  TIB_Connection* other = F.NewConnection();
  other->SetDatabaseName(C->GetDatabaseName());
  other->Connect();
  std::vector<std::string> log;
  RecordEvents(C, log);
  C->GetSession()->OnError = [](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool& Raise) {
    Raise = false;
  };
  C->DropDatabase();
  C->GetSession()->OnError = nullptr;
  EXPECT_TRUE(C->GetConnected());
  EXPECT_EQ(csConnected, C->GetConnectionStatus());
  EXPECT_EQ((std::vector<std::string>{"BeforeDisconnect", "BeforeDrop"}), log);
  EXPECT_TRUE(std::filesystem::exists(Dir.File("test.fdb")));
  other->Disconnect();
  C->DropDatabase();
  EXPECT_FALSE(std::filesystem::exists(Dir.File("test.fdb")));
}

TEST_F(ConnectionDbTest, FailingHandlersStillDetach) {
  C->CreateDatabase();
  C->BeforeDisconnect = [](TIB_Connection*) { throw Exception("handler failed"); };
  EXPECT_THROW(C->Disconnect(), Exception);
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ(csNotConnected, C->GetConnectionStatus());
  C->Connect();
  C->BeforeDisconnect = [](TIB_Connection*) { throw Exception("handler failed"); };
  delete C;  // reported, never thrown
}

TEST_F(ConnectionDbTest, StatementHandleCache) {
  C->CreateDatabase();
  std::vector<isc_stmt_handle> h(10, 0);
  for (auto& x : h) C->AcquireStatementHandle(x);
  for (auto& x : h) EXPECT_NE(0u, x);
  std::vector<isc_stmt_handle> released = h;
  for (auto& x : h) C->ReleaseStatementHandle(x);
  for (auto& x : h) EXPECT_EQ(0u, x);
  EXPECT_EQ(10, C->GetStatementHandleCacheCount());
  EXPECT_EQ(10, C->GetStatementHandleCacheCapacity());
  for (int i = 9; i >= 0; --i) {
    isc_stmt_handle x = 0;
    C->AcquireStatementHandle(x);
    EXPECT_EQ(released[i], x);
    h[9 - i] = x;
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
  first = 4242;  // the variable now serves something else
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
  // The handle went with the attachment: it must never be handed out again.
  C->ReleaseStatementHandle(held);
  EXPECT_EQ(0u, held);
  EXPECT_EQ(0, C->GetStatementHandleCacheCount());
  C->Connect();
  isc_stmt_handle fresh = 0;
  C->AcquireStatementHandle(fresh);
  EXPECT_NE(0u, fresh);
  EXPECT_NE(held0, fresh);
  C->ReleaseStatementHandle(fresh);
}

TEST_F(ConnectionDbTest, LostConnectionIsDetectedAndRecovered) {
  C->CreateDatabase();
  TIB_Session* s = C->GetSession();
  int32_t id = AttachmentId(s, C->GetdbHandle());
  TIB_Connection* other = F.NewConnection();
  other->SetDatabaseName(C->GetDatabaseName());
  other->Connect();
  ExecuteOn(s, other->GetdbHandle(), "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = " + IntToStr(id));
  C->CheckConnection();
  EXPECT_TRUE(C->GetConnectionWasLost());
  std::vector<std::string> log;
  RecordEvents(C, log);
  C->Disconnect();
  EXPECT_EQ((std::vector<std::string>{"BeforeDisconnect", "Changed", "AfterDisconnect"}), log);
  EXPECT_FALSE(C->GetConnected());
  C->Connect();
  EXPECT_FALSE(C->GetConnectionWasLost());
  C->CheckConnection();
  EXPECT_FALSE(C->GetConnectionWasLost());
  EXPECT_NE(id, AttachmentId(s, C->GetdbHandle()));
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
  TExceptionEvent saved = Application->OnException;
  int reported = 0;
  Application->OnException = [&](const std::exception&) { ++reported; };
  C->SetPath(Dir.File("missing.fdb"));
  C->BeginLoading();
  C->SetConnected(true);
  EXPECT_NO_THROW(C->EndLoading());
  Application->OnException = saved;
  EXPECT_FALSE(C->GetConnected());
  EXPECT_EQ(1, reported);
}

// ---- login -------------------------------------------------------------------------------------------------

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
  C->LoginPrompt = true;
  int attempts = 0;
  TExceptionEvent saved = Application->OnException;
  int reported = 0;
  Application->OnException = [&](const std::exception&) { ++reported; };
  std::string good = C->GetPath();
  // An embedded attach needs no password: a bad path makes the attempt fail.
  C->OnLogin = [&](TIB_Connection* Sender, bool&) {
    ++attempts;
    Sender->SetPath(attempts < 3 ? Dir.File("missing.fdb") : good);
  };
  C->Connect();
  EXPECT_TRUE(C->GetConnected());
  EXPECT_EQ(3, attempts);
  EXPECT_EQ(2, reported);
  C->Disconnect();
  attempts = 0;
  C->LoginAttempts = 2;
  EXPECT_EQ("Login failed", MessageOf<EIB_ConnectionError>([&] { C->Connect(); }));
  int failures = 0;
  attempts = 0;
  C->OnLoginFailure = [&](TIB_Connection*) { ++failures; };
  C->Connect();
  EXPECT_EQ(1, failures);
  Application->OnException = saved;
}

TEST_F(ConnectionDbTest, LoginDialogAndLoginMemory) {
  SettingsRootGuard root;
  C->CreateDatabase();
  C->Disconnect();
  ScriptedDialogs dialogs;
  dialogs.Passwords = {"pw"};
  TDialogs* old = SetDialogs(&dialogs);
  C->LoginPrompt = true;
  C->LoginRegKey = "Software\\Test\\Planner";
  C->LoginSQLRoleList = " PILOT, ,ADMIN ";
  C->LoginCaption = "Sign in";
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
  SettingsRootGuard root;
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->SetPassword("masterkey");
  std::string saved = c->GetSavedPassword();
  EXPECT_TRUE(saved.starts_with(".QiVrOx.07."));
  EXPECT_EQ(std::string::npos, saved.find("masterkey"));
  TIB_Connection* d = f.NewConnection();
  d->SetSavedPassword(saved);
  EXPECT_EQ("masterkey", d->GetPassword());
  TRegIniFile("Software\\Zindor\\ZDB").WriteInteger("Security", "Level", 0);
  EXPECT_EQ("masterkey", c->GetSavedPassword());
}

// ---- threads -----------------------------------------------------------------------------------------------

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
        TIB_Session* s = c->GetSession();
        for (int k = 0; k < 5; ++k) {
          c->Disconnect();
          c->Connect();
        }
        ok[i] = c->GetConnected() && s == CurrentSession() ? 1 : 0;
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

// ---- TCP/IP through a private server ------------------------------------------------------------------------

class ConnectionServerTest : public ::testing::Test {
protected:
  std::string Port, User, Password;
  void SetUp() override {
    const char* port = std::getenv("DBLIB_FBSERVER_PORT");
    const char* user = std::getenv("DBLIB_FBSERVER_USER");
    const char* pw = std::getenv("DBLIB_FBSERVER_PASSWORD");
    if (!port || !user || !pw) GTEST_SKIP() << "no private Firebird server (run through scripts/test.sh)";
    Port = port, User = user, Password = pw;
  }
};

TEST_F(ConnectionServerTest, AttachesOverTcpWithTheRightPasswordOnly) {
  TempDir dir;
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);
  Form f;
  TIB_Connection* c = f.NewConnection();
  c->SetDatabaseName("localhost/" + Port + ":" + dir.File("net.fdb"));
  EXPECT_EQ(cpTCP_IP, c->GetProtocol());
  c->SetUsername(User);
  c->SetPassword(Password);
  try {
    c->CreateDatabase();
  } catch (const EIB_ISCError& e) {
    if (e.ERRCODE == 335544721) GTEST_SKIP() << "the private server refused: " << e.what();
    throw;
  }
  EXPECT_TRUE(c->GetConnected());
  c->Disconnect();
  c->SetPassword("wrong");
  try {
    c->Connect();
    FAIL() << "a wrong password was accepted";
  } catch (const EIB_ISCError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("Your user name and password are not defined"));
  }
  EXPECT_FALSE(c->GetConnected());
  c->SetPassword(Password);
  c->Connect();
  c->DropDatabase();
  EXPECT_FALSE(std::filesystem::exists(dir.File("net.fdb")));
}

}  // namespace
