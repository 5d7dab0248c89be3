#include "dblib/trace/IB_Monitor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <thread>
#include <vector>

#include "dblib/StatementTestSupport.h"
#include "platform/Clock.h"
#include "platform/ScopeGuards.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

constexpr TIB_MonitorGroups Bit(TIB_MonitorGroup G) { return static_cast<TIB_MonitorGroups>(1u << G); }
constexpr TIB_StatementGroups Bit(TIB_StatementGroup G) { return static_cast<TIB_StatementGroups>(1u << G); }

// Handles differ from run to run: "= 1234" after a handle's name reads "= #".
std::string Plain(const std::string& Item) {
  static const std::regex handle("(HANDLE =? ?)\\d+");
  return std::regex_replace(Item, handle, "$1#");
}

class MonitorTest : public stmttest::StatementDbTest {
protected:
  TIB_Monitor* M = nullptr;
  std::vector<std::string> Items;
  TIB_Session* S = nullptr;
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(10))");
    Tr->Commit();
    S = Conn->GetSession();
    M = NewMonitor(Items);
  }
  TIB_Monitor* NewMonitor(std::vector<std::string>& Into) {
    auto* m = new TIB_Monitor(Owner);
    m->SetMinTicks(UINT32_MAX);
    m->OnMonitorOutputItem = [&Into](TObject*, const std::string& Item) { Into.push_back(Plain(Item)); };
    return m;
  }
  // The items that begin with Head.
  std::vector<std::string> ItemsOf(const std::string& Head, const std::vector<std::string>* From = nullptr) const {
    std::vector<std::string> r;
    for (const std::string& i : From ? *From : Items)
      if (i.rfind(Head, 0) == 0) r.push_back(i);
    return r;
  }
  void Insert(int Id, const std::string& Name) {
    TIB_DSQL* q = NewDSQL("INSERT INTO T (ID, NAME) VALUES (:ID, :NAME)");
    q->Prepare();
    q->ParamByName("ID")->SetAsInteger(Id);
    q->ParamByName("NAME")->SetAsString(Name);
    auto drop = TScopeExit([&] { delete q; });
    q->Execute();
  }
};

TEST_F(MonitorTest, ItemsShowTheCallsWithTheirValuesAndRowCounts) {
  M->SetEnabled(true);
  Insert(7, "it's");
  EXPECT_EQ(std::vector<std::string>{"/*---\r\nPREPARE STATEMENT\r\nTR_HANDLE = #\r\nSTMT_HANDLE = #\r\n\r\n"
                                     "INSERT INTO T (ID, NAME) VALUES (? /* ID */ , ? /* NAME */ )\r\n\r\n"
                                     "FIELDS = [  Version 1 SQLd 0 SQLn 1 ]\r\n----*/"},
            ItemsOf("/*---\r\nPREPARE"));
  EXPECT_EQ(std::vector<std::string>{"/*---\r\nEXECUTE STATEMENT\r\nTR_HANDLE = #\r\nSTMT_HANDLE = #\r\n"
                                     "PARAMS = [  Version 1 SQLd 2 SQLn 2\r\n  [ID] = 7\r\n  [NAME] = 'it's' ]\r\n"
                                     "\r\nINSERT COUNT: 1\r\n----*/"},
            ItemsOf("/*---\r\nEXECUTE"));
  Items.clear();
  Exec("UPDATE T SET NAME = NAME");
  Tr->Commit();
  EXPECT_EQ(1u,
            ItemsOf("/*---\r\nPREPARE STATEMENT\r\nTR_HANDLE = #\r\nSTMT_HANDLE = #\r\n\r\nUPDATE T SET NAME = NAME\r\n"
                    "\r\nPLAN (T NATURAL)\r\n\r\nFIELDS = [ ")
                .size());
  EXPECT_EQ(1u, ItemsOf("/*---\r\nEXECUTE STATEMENT\r\nTR_HANDLE = #\r\nSTMT_HANDLE = #\r\nPARAMS = [  ]\r\n\r\n"
                        "SELECT COUNT: 1\r\nUPDATE COUNT: 1\r\n----*/")
                    .size());
  EXPECT_EQ(std::vector<std::string>{"/*---\r\nCOMMIT\r\nTR_HANDLE = #\r\n----*/"}, ItemsOf("/*---\r\nCOMMIT"));
}

TEST_F(MonitorTest, AFailedCallKeepsItsErrorWhileTheMonitorAsksForMore) {
  Insert(1, "a");
  M->SetMonitorGroups(M->GetMonitorGroups() | Bit(mgProfile) | Bit(mgClientTrace));
  M->SetEnabled(true);
  Items.clear();
  try {
    Insert(1, "b");
    ADD_FAILURE() << "a duplicate key was taken";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(isc_unique_key_violation, e.ERRCODE);
    EXPECT_NE(std::string::npos, std::string(e.what()).find("violation of PRIMARY or UNIQUE KEY")) << e.what();
  }
  auto execute = ItemsOf("/*---\r\nEXECUTE STATEMENT");
  std::erase_if(execute, [](const std::string& I) { return I.find("[NAME] = 'b'") == std::string::npos; });
  ASSERT_EQ(1u, execute.size());
  EXPECT_EQ(std::string::npos, execute[0].find("COUNT:")) << execute[0];
  EXPECT_NE(std::string::npos, execute[0].find("\r\n\r\nERRCODE = 335544665\r\n----*/")) << execute[0];
  EXPECT_EQ(1u, ItemsOf("/*===\r\n//>>> ERROR <<<//\r\nISC ERROR CODE:335544665\r\n").size());
  EXPECT_EQ(1u, ItemsOf("/*===\r\nPROFILE DIFF REPORT -- After execute\r\n").size());
}

TEST_F(MonitorTest, TheTextsOfAFailedCallAreShownAsTheLibraryReadsThem) {
  Insert(1, "a");
  M->SetEnabled(true);
  Items.clear();
  EXPECT_THROW(Insert(1, "b"), EIB_ISCError);
  const auto texts = ItemsOf("/*---\r\nINTERPRETE BUFFER = ");
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(0u, texts[0].find("/*---\r\nINTERPRETE BUFFER = violation of PRIMARY or UNIQUE KEY constraint"))
      << texts[0];
  // An item that found a text ends with its length.
  const size_t from = std::strlen("/*---\r\nINTERPRETE BUFFER = ");
  const size_t length = texts[0].find("\r\n", from) - from;
  EXPECT_NE(std::string::npos, texts[0].find("\r\n\r\nERRCODE = " + std::to_string(length) + "\r\n----*/")) << texts[0];
  // The call that finds no more text ends its item with -1.
  EXPECT_EQ("/*---\r\nINTERPRETE BUFFER = \r\n\r\nERRCODE = -1\r\n----*/", texts.back());
}

// A detach that fails, or whose library raises, behind the monitor's wrapper.
ISC_STATUS FailingDetach(ISC_STATUS* Status, isc_db_handle*) {
  Status[0] = isc_arg_gds;
  Status[1] = isc_bad_db_handle;
  Status[2] = isc_arg_end;
  return isc_bad_db_handle;
}
ISC_STATUS RaisingDetach(ISC_STATUS*, isc_db_handle*) { throw std::runtime_error("detach raised"); }

TEST_F(MonitorTest, ADetachsFailureReachesTheCaller) {
  const auto real = S->Entries.isc_detach_database;
  auto restore = TScopeExit([&] { S->Entries.isc_detach_database = real; });
  isc_db_handle db = 12345;
  S->Entries.isc_detach_database = &FailingDetach;
  M->SetEnabled(true);
  ISC_STATUS_ARRAY status{};
  EXPECT_EQ(isc_bad_db_handle, S->Entries.isc_detach_database(status, &db));
  EXPECT_EQ(isc_bad_db_handle, status[1]);
  EXPECT_EQ(std::vector<std::string>{"/*---\r\nDISCONNECT DATABASE\r\nDB_HANDLE = #\r\n\r\nERRCODE = "
                                     "335544324\r\n----*/"},
            ItemsOf("/*---\r\nDISCONNECT"));
  M->SetEnabled(false);
  S->Entries.isc_detach_database = &RaisingDetach;
  M->SetEnabled(true);
  EXPECT_EQ("detach raised", MessageOf<std::runtime_error>([&] { S->Entries.isc_detach_database(status, &db); }));
}

TEST_F(MonitorTest, WrappersStayOnlyWhileAMonitorIsEnabled) {
  const auto real = S->Entries;
  auto wrapped = [&] { return std::pair(IB_CallHooksInstalled(*S), IB_RowHooksInstalled(*S)); };
  M->SetEnabled(true);
  EXPECT_EQ(std::pair(true, false), wrapped());
  M->SetMonitorGroups(Bit(mgRow));
  EXPECT_EQ(std::pair(true, true), wrapped());
  S->BindEntryPoints();  // the table rebound under an enabled monitor: the next change wraps it again
  EXPECT_EQ(std::pair(false, false), wrapped());
  M->SetMonitorGroups(Bit(mgConnection));
  EXPECT_EQ(std::pair(true, false), wrapped());
  M->SetEnabled(false);
  EXPECT_EQ(std::pair(false, false), wrapped());
  EXPECT_EQ(real.isc_dsql_prepare, S->Entries.isc_dsql_prepare);
  EXPECT_EQ(real.isc_dsql_fetch, S->Cursor.isc_dsql_fetch);
  // A monitor freed while enabled takes its wrappers along; the session's work goes on untraced.
  M->SetMonitorGroups(Bit(mgRow) | Bit(mgStatement));
  M->SetEnabled(true);
  delete M;
  M = nullptr;
  EXPECT_EQ(std::pair(false, false), wrapped());
  Insert(1, "a");
  EXPECT_EQ("a", Scalar("SELECT NAME FROM T"));
  EXPECT_TRUE(Items.empty());
}

// Counts the commits that pass through it, in front of the library's own function.
int gCommits = 0;
decltype(TIB_EntryTable::isc_commit_transaction) gRealCommit = nullptr;
ISC_STATUS CountedCommit(ISC_STATUS* Status, isc_tr_handle* TR) {
  ++gCommits;
  return gRealCommit(Status, TR);
}

TEST_F(MonitorTest, AWrapperPutThereBeforeStaysInTheChain) {
  gRealCommit = S->Entries.isc_commit_transaction;
  gCommits = 0;
  S->Entries.isc_commit_transaction = &CountedCommit;
  M->SetEnabled(true);
  Tr->SysStart();
  Tr->Commit();
  EXPECT_EQ(1, gCommits);
  EXPECT_EQ(1u, ItemsOf("/*---\r\nCOMMIT\r\n").size());
  M->SetEnabled(false);
  EXPECT_EQ(&CountedCommit, S->Entries.isc_commit_transaction);
  S->Entries.isc_commit_transaction = gRealCommit;
}

TEST_F(MonitorTest, EachMonitorGetsTheItemsOfItsGroupsInListOrder) {
  std::vector<std::string> both;
  M->OnMonitorOutputItem = [&](TObject* Sender, const std::string&) { both.push_back(Sender == M ? "A" : "B"); };
  TIB_Monitor* rows = NewMonitor(Items);
  rows->SetMonitorGroups(Bit(mgRow) | Bit(mgTransaction));
  rows->OnMonitorOutputItem = M->OnMonitorOutputItem;
  M->SetMonitorGroups(Bit(mgTransaction));
  M->SetEnabled(true);
  rows->SetEnabled(true);
  Tr->SysStart();
  EXPECT_EQ((std::vector<std::string>{"A", "B"}), both);
  both.clear();
  rows->OnMonitorOutputItem = [&](TObject*, const std::string& Item) { Items.push_back(Plain(Item)); };
  Insert(1, "a");
  EXPECT_EQ("a", Scalar("SELECT NAME FROM T"));
  EXPECT_TRUE(both.empty());  // no transaction call, and M wants no rows
  EXPECT_EQ(
      1u,
      ItemsOf("/*---\r\nFETCH\r\nSTMT_HANDLE = #\r\nFIELDS = [  Version 1 SQLd 1 SQLn 1\r\n  T.NAME = 'a' ]").size());
  EXPECT_TRUE(ItemsOf("/*---\r\nPREPARE").empty());
}

TEST_F(MonitorTest, AMonitorServesTheCallsOfItsOwnThread) {
  M->SetMonitorGroups(Bit(mgTransaction));
  M->SetEnabled(true);
  std::vector<std::string> workerItems;
  bool workerWrapped = true;
  std::thread worker([&] {
    // The worker's components live in the worker's own session.
    auto* owner = new TComponent(nullptr);
    auto* conn = new TIB_Connection(owner);
    conn->SetDatabaseName(Dir.File("worker.fdb"));
    conn->CreateDatabase();
    auto* tr = new TIB_Transaction(owner);
    tr->SetIB_Connection(conn);
    workerWrapped = IB_CallHooksInstalled(*conn->GetSession());
    tr->SysStart();
    tr->Commit();
    auto* own = new TIB_Monitor(owner);
    own->SetMinTicks(UINT32_MAX);
    own->OnMonitorOutputItem = [&](TObject*, const std::string& Item) { workerItems.push_back(Plain(Item)); };
    own->SetMonitorGroups(Bit(mgTransaction));
    own->SetEnabled(true);
    tr->SysStart();
    tr->Commit();
    delete owner;
  });
  worker.join();
  EXPECT_FALSE(workerWrapped);
  EXPECT_TRUE(Items.empty());
  EXPECT_EQ((std::vector<std::string>{"/*---\r\nSTART TRANSACTION\r\nDB HANDLE COUNT 1\r\nTR_HANDLE = #\r\n----*/",
                                      "/*---\r\nCOMMIT\r\nTR_HANDLE = #\r\n----*/"}),
            workerItems);
  Tr->SysStart();
  EXPECT_EQ(1u, Items.size());
}

TEST_F(MonitorTest, ClosingAStatementIsShownByItsGroups) {
  struct Case {
    TIB_StatementGroups Groups;
    unsigned short Option;
    const char* Expected;  // empty: no item
  };
  const Case cases[] = {
      {Bit(sgAllocate), DSQL_close, "/*---\r\nSTMT_HANDLE = #\r\n----*/"},
      {Bit(sgServerCursor), DSQL_close, "/*---\r\nCLOSE CURSOR\r\nSTMT_HANDLE = #\r\n----*/"},
      {Bit(sgAllocate), DSQL_drop, "/*---\r\nDEALLOCATE STATEMENT\r\nSTMT_HANDLE = #\r\n----*/"},
      {Bit(sgPrepare), DSQL_drop, ""},
  };
  M->SetMonitorGroups(Bit(mgStatement));
  M->SetEnabled(true);
  Tr->SysStart();
  for (const Case& c : cases) {
    M->SetStatementGroups(c.Groups);
    isc_stmt_handle h = 0;
    S->CallChecked(S, S->Entries.isc_dsql_allocate_statement, Conn->GetdbHandle(), &h);
    S->CallChecked(S, S->Entries.isc_dsql_prepare, Tr->GetPtrHandle(), &h, static_cast<unsigned short>(0),
                   "SELECT 1 FROM RDB$DATABASE", static_cast<unsigned short>(3), static_cast<XSQLDA*>(nullptr));
    S->CallChecked(S, S->Entries.isc_dsql_execute, Tr->GetPtrHandle(), &h, static_cast<unsigned short>(3),
                   static_cast<const XSQLDA*>(nullptr));
    Items.clear();
    S->CallChecked(S, S->Entries.isc_dsql_free_statement, &h, c.Option);
    EXPECT_EQ(*c.Expected ? std::vector<std::string>{c.Expected} : std::vector<std::string>{}, Items) << c.Expected;
    if (c.Option == DSQL_close) S->CallChecked(S, S->Entries.isc_dsql_free_statement, &h, DSQL_drop);
  }
}

TEST_F(MonitorTest, AnImmediateStatementIsShownByItsLength) {
  M->SetMonitorGroups(Bit(mgStatement));
  M->SetEnabled(true);
  Tr->SysStart();
  const char* sql = "CREATE TABLE U (A INTEGER)garbage";
  const std::pair<unsigned short, const char*> cases[] = {{26, "CREATE TABLE U (A INTEGER)"},
                                                          {0, "CREATE TABLE U (A INTEGER)garbage"}};
  for (const auto& [length, shown] : cases) {
    Items.clear();
    S->Call(S->Entries.isc_dsql_execute_immediate, Conn->GetdbHandle(), Tr->GetPtrHandle(), length, sql,
            static_cast<unsigned short>(3), static_cast<const XSQLDA*>(nullptr));
    ASSERT_EQ(1u, Items.size());
    EXPECT_EQ(0u, Items[0].find(std::string("/*---\r\nEXECUTE IMMEDIATE\r\nDB_HANDLE = #\r\nTR_HANDLE = #\r\n\r\n") +
                                shown + "\r\n\r\nPARAMS = [  ]\r\n"))
        << Items[0];
  }
}

TEST_F(MonitorTest, AnItemShowsItsTimeAndTimeStampWhenAsked) {
  M->SetMonitorGroups(Bit(mgTransaction));
  M->SetEnabled(true);
  static uint64_t tick = 0;
  SetTickSource([] { return tick += 750; });
  SetNowSource([] { return 43831.5; });  // 1/1/2020 12:00:00
  TScopeExit restore([] {
    SetTickSource(nullptr);
    SetNowSource(nullptr);
  });
  M->SetIncludeTimeStamp(true);
  M->SetMinTicks(750);
  Tr->SysStart();
  ASSERT_EQ(1u, Items.size());
  EXPECT_EQ(
      "/*---\r\n[ 1/1/2020 12:00:00 ]\r\nSTART TRANSACTION\r\nDB HANDLE COUNT 1\r\nTR_HANDLE = #\r\n"
      "\r\nSECONDS = 0.750\r\n----*/",
      Items[0]);
  EXPECT_EQ(750u, M->GetTicks());
  M->SetMinTicks(751);
  M->SetIncludeTimeStamp(false);
  Tr->Commit();
  EXPECT_EQ("/*---\r\nCOMMIT\r\nTR_HANDLE = #\r\n----*/", Items.back());
}

TEST_F(MonitorTest, AHandlerThatFailsOrFreesItsMonitorLeavesTheCallDone) {
  testsupport::ExceptionSink sink;
  TIB_Monitor* second = NewMonitor(Items);
  M->SetMonitorGroups(Bit(mgTransaction));
  second->SetMonitorGroups(Bit(mgTransaction));
  M->OnMonitorOutputItem = [&](TObject*, const std::string&) {
    delete second;  // the next monitor of the list goes while the call's items are delivered
    second = nullptr;
    throw Exception("handler failed");
  };
  M->SetEnabled(true);
  second->SetEnabled(true);
  Tr->SysStart();
  EXPECT_TRUE(Tr->GetStarted());
  EXPECT_EQ(std::vector<std::string>{"handler failed"}, sink.Messages);
  EXPECT_TRUE(Items.empty());
}

// ---- passwords --------------------------------------------------------------------------------------

// No item, trace text or error text shows a password: the literal after PASSWORD reads '*****', with the
// default groups and with every group.
TEST_F(MonitorTest, NoItemOrErrorTextShowsAPassword) {
  M->SetMonitorGroups(0xFF);
  M->SetEnabled(true);
  auto noPassword = [&](const std::string& Secret) {
    for (const std::string& item : Items) EXPECT_EQ(std::string::npos, item.find(Secret)) << item;
  };
  // The database's creation, with the groups a new monitor has.
  M->SetMonitorGroups(Bit(mgConnection) | Bit(mgTransaction) | Bit(mgStatement));
  auto* db = new TIB_Connection(Owner);
  db->SetDatabaseName(Dir.File("secret.fdb"));
  db->SetUsername("SYSDBA");
  db->SetPassword("TestPw42");
  db->SetSQLDialect(3);
  db->CreateDatabase();
  const auto created = ItemsOf("/*---\r\nEXECUTE IMMEDIATE\r\n");
  ASSERT_EQ(1u, created.size());
  EXPECT_NE(std::string::npos, created[0].find(" USER 'SYSDBA' PASSWORD '*****'")) << created[0];
  noPassword("TestPw42");
  db->DropDatabase();
  // A statement that the server refuses: its prepare item, the library's error item and the exception.
  M->SetMonitorGroups(0xFF);
  Items.clear();
  TIB_DSQL* q = NewDSQL(
      "CREATE USER DBLIB_X PASSWORD 'Secret-1' FIRSTNAME 'A' bogus\nALTER USER DBLIB_X SET "
      "PASSWORD 'Secret-2'");
  try {
    q->Prepare();
    ADD_FAILURE() << "the server took the text";
  } catch (const EIB_ISCError& e) {
    const std::string texts = std::string(e.what()) + e.ErrorMessage().GetText() + e.SQL().GetText();
    EXPECT_NE(std::string::npos, texts.find("PASSWORD '*****' FIRSTNAME 'A' bogus")) << texts;
    EXPECT_NE(std::string::npos, texts.find("SET PASSWORD '*****'")) << texts;
    EXPECT_EQ(std::string::npos, texts.find("Secret-")) << texts;
  }
  EXPECT_FALSE(ItemsOf("/*---\r\nPREPARE STATEMENT\r\n").empty());
  EXPECT_FALSE(ItemsOf("/*===\r\n//>>> ERROR <<<//").empty());
  noPassword("Secret-");
  // An immediate statement.
  Items.clear();
  try {
    NewDSQL()->ExecuteImmediate("ALTER USER DBLIB_NOBODY PASSWORD q'{Secret-3}'");
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(std::string::npos, (e.ErrorMessage().GetText() + e.SQL().GetText()).find("Secret-"));
  }
  const auto immediate = ItemsOf("/*---\r\nEXECUTE IMMEDIATE 2\r\n");
  ASSERT_EQ(1u, immediate.size());
  EXPECT_NE(std::string::npos, immediate[0].find("ALTER USER DBLIB_NOBODY PASSWORD '*****'")) << immediate[0];
  noPassword("Secret-");
}

}  // namespace
