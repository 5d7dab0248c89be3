#include "dblib/IB_Errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "dblib/IB_SessionBase.h"
#include "support/TestDatabase.h"

using testsupport::NewSession;
using testsupport::SessionPtr;
using testsupport::TestDatabase;

namespace {

std::vector<std::string> Lines(const TStrings& L) {
  std::vector<std::string> r;
  for (int i = 0; i < L.Count(); ++i) r.push_back(L[i]);
  return r;
}

std::unique_ptr<TStringList> List(std::initializer_list<std::string> Items) {
  auto l = std::make_unique<TStringList>();
  for (const auto& s : Items) l->Add(s);
  return l;
}

// ---- the exception ------------------------------------------------------------------------------------------

TEST(ISCError, OwnsCopiesOfItsLists) {
  auto em = List({"a", "b"});
  auto ec = List({"1"});
  auto sm = List({});
  auto sql = List({"SELECT 1"});
  auto* e = new EIB_ISCError(nullptr, "boom", 7, *em, *ec, -104, *sm, *sql);
  em->Clear();
  sql->Add("more");
  EXPECT_EQ(e->Message(), "boom");
  EXPECT_EQ(e->ERRCODE, 7);
  EXPECT_EQ(e->SQLCODE, -104);
  EXPECT_EQ(Lines(e->ErrorMessage()), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Lines(e->SQL()), (std::vector<std::string>{"SELECT 1"}));
  EIB_ISCError copy(*e);
  delete e;
  EXPECT_EQ(Lines(copy.ErrorCodes()), (std::vector<std::string>{"1"}));
}

TEST(ISCError, MessageIsCutTo255BytesWithoutSplittingAUtf8Character) {
  auto empty = List({});
  const std::pair<std::string, std::string> cases[] = {
      {std::string(300, 'x'), std::string(255, 'x')},
      // 254 ASCII bytes, then a two-byte character that would straddle the cut.
      {std::string(254, 'a') + "\xC3\xA9" + "tail", std::string(254, 'a')},
      // A three-byte character ending exactly at the cut stays whole.
      {std::string(252, 'a') + "\xE2\x82\xAC" + "more", std::string(252, 'a') + "\xE2\x82\xAC"},
      // Single-byte text whose bytes are not a UTF-8 sequence is cut at 255 as it is.
      {std::string(254, 'a') + "\xE9\xE9\xE9", std::string(254, 'a') + "\xE9"},
  };
  for (const auto& [text, cut] : cases)
    EXPECT_EQ(EIB_ISCError(nullptr, text, 1, *empty, *empty, 0, *empty, *empty).Message(), cut);
}

// ---- HandleISCError against the engine ----------------------------------------------------------------------

TEST(HandleISCError, SyntaxErrorGivesTheFullListsAndSQLCODE) {
  SessionPtr s = NewSession();
  TestDatabase db(*s);
  try {
    db.Execute("SELEC * FROM RDB$DATABASE");
    FAIL() << "no exception";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE, isc_dsql_error);
    EXPECT_EQ(e.SQLCODE, -104);
    EXPECT_EQ(s->GetSQLCODE(), -104);
    EXPECT_EQ(e.Sender, s.get());
    const std::vector<std::string> expected = {
        "ISC ERROR CODE:335544569",         "",     "ISC ERROR MESSAGE:", "Dynamic SQL Error", "SQL error code = -104",
        "Token unknown - line 1, column 1", "SELEC"};
    EXPECT_EQ(Lines(e.ErrorMessage()), expected);
    // One line per call, each the code of the cluster that call read; the closing call reads the end.
    EXPECT_EQ(Lines(e.ErrorCodes()),
              (std::vector<std::string>{"335544569", "335544436", "335544634", "335544382", "0"}));
    ASSERT_EQ(e.SQLMessage().Count(), 4);
    EXPECT_EQ(e.SQLMessage()[0], "SQL ERROR CODE:-104");
    EXPECT_EQ(e.SQLMessage()[1], "");
    EXPECT_EQ(e.SQLMessage()[2], "SQL ERROR MESSAGE:");
    EXPECT_FALSE(e.SQLMessage()[3].empty());
    EXPECT_EQ(e.SQL().Count(), 0);
    EXPECT_EQ(e.Message(),
              "ISC ERROR CODE:335544569\r\n\r\nISC ERROR MESSAGE:\r\nDynamic SQL Error\r\nSQL error code = -104\r\n"
              "Token unknown - line 1, column 1\r\nSELEC\r\n");
  }
}

TEST(HandleISCError, UserExceptionCarriesItsOwnText) {
  SessionPtr s = NewSession();
  TestDatabase db(*s);
  db.Execute("CREATE EXCEPTION E_NO_FLIGHT 'default text'");
  db.Commit();
  try {
    db.Execute("EXECUTE BLOCK AS BEGIN EXCEPTION E_NO_FLIGHT 'Runway closed for maintenance'; END");
    FAIL() << "no exception";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.SQLCODE, -836);
    EXPECT_EQ(e.Message(), "Runway closed for maintenance");
    EXPECT_EQ(e.ErrorMessage()[4], "E_NO_FLIGHT");
  }
  try {
    db.Execute("EXECUTE BLOCK AS BEGIN EXCEPTION E_NO_FLIGHT; END");
    FAIL() << "no exception";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.Message(), "default text");
  }
}

// ---- HandleISCError with prepared status vectors ------------------------------------------------------------

// A failing entry whose status vector the test prepares: gStatus is copied into the caller's vector.
std::vector<ISC_STATUS> gStatus;
ISC_STATUS PreparedFailure(ISC_STATUS* Status, isc_db_handle*) {
  for (size_t i = 0; i < gStatus.size() && i < ISC_STATUS_LENGTH; ++i) Status[i] = gStatus[i];
  return Status[1];
}

ISC_STATUS StringArg(const char* S) { return reinterpret_cast<ISC_STATUS>(S); }

class PreparedError : public ::testing::Test {
protected:
  void SetUp() override {
    S = NewSession();
    S->Entries.isc_detach_database = &PreparedFailure;
  }
  // Makes the failing call and returns what HandleISCError raised (or nullptr).
  std::unique_ptr<EIB_ISCError> Fail() {
    isc_db_handle db = 0;
    try {
      S->CallChecked(nullptr, S->Entries.isc_detach_database, &db);
    } catch (const EIB_ISCError& e) {
      return std::make_unique<EIB_ISCError>(e);
    }
    return nullptr;
  }
  SessionPtr S;
};

ISC_LONG SqlCodeUnknown(const ISC_STATUS*) { return -999; }
ISC_LONG SqlCodeUserException(const ISC_STATUS*) { return -836; }
void SqlTextLikeServer(short, ISC_SCHAR* Buffer, short) { strcpy(Buffer, "  same text "); }

TEST_F(PreparedError, TextsCodesAndTheSQLMessageFollowTheStatusVector) {
  static const char same[] = "same text";
  const std::vector<ISC_STATUS> repeated = {isc_arg_gds, isc_random,        isc_arg_string, StringArg(same),
                                            isc_arg_gds, isc_random,        isc_arg_string, StringArg(same),
                                            isc_arg_gds, isc_bad_db_handle, isc_arg_end};
  const std::vector<ISC_STATUS> badHandle = {isc_arg_gds, isc_bad_db_handle, isc_arg_end};
  const std::vector<ISC_STATUS> sameText = {isc_arg_gds, isc_random, isc_arg_string, StringArg(same), isc_arg_end};
  // A repeated text is listed once, but every call of the walk has its code line.
  gStatus = repeated;
  auto e = Fail();
  ASSERT_TRUE(e);
  EXPECT_EQ(Lines(e->ErrorMessage()),
            (std::vector<std::string>{"ISC ERROR CODE:335544382", "", "ISC ERROR MESSAGE:", "same text",
                                      "invalid database handle (no active connection)"}));
  EXPECT_EQ(Lines(e->ErrorCodes()), (std::vector<std::string>{"335544382", "335544382", "335544324", "0"}));
  // An unknown SQL code gives no SQL message.
  gStatus = badHandle;
  S->Entries.isc_sqlcode = &SqlCodeUnknown;
  e = Fail();
  EXPECT_EQ(e->SQLCODE, -999);
  EXPECT_EQ(e->SQLMessage().Count(), 0);
  // A user exception's code with only four lines uses the whole text.
  S->Entries.isc_sqlcode = &SqlCodeUserException;
  e = Fail();
  EXPECT_EQ(e->ErrorMessage().Count(), 4);
  EXPECT_EQ(e->Message(), e->ErrorMessage().GetText());
  // An SQL text equal to the last server text gives no SQL message.
  S->BindEntryPoints();
  S->Entries.isc_detach_database = &PreparedFailure;
  S->Entries.isc_sql_interprete = &SqlTextLikeServer;
  gStatus = sameText;
  e = Fail();
  EXPECT_EQ(e->SQLCODE, -901);
  EXPECT_EQ(e->SQLMessage().Count(), 0);
}

TEST_F(PreparedError, HandlersSeeTheTextsAndMaySuppressOrReplaceTheError) {
  gStatus = {isc_arg_gds, isc_bad_db_handle, isc_arg_end};
  int fired = 0;
  TObject* seenSender = nullptr;
  S->OnError = [&](TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings&, int32_t SQLCODE, TStrings&,
                   TStrings&, bool& RaiseException) {
    ++fired;
    seenSender = Sender;
    EXPECT_EQ(ERRCODE, isc_bad_db_handle);
    EXPECT_EQ(SQLCODE, -904);
    EXPECT_EQ(ErrorMessage[3], "invalid database handle (no active connection)");
    EXPECT_TRUE(RaiseException);
    RaiseException = false;
  };
  isc_db_handle db = 0;
  EXPECT_NO_THROW(S->CallChecked(S.get(), S->Entries.isc_detach_database, &db));
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(seenSender, S.get());
  EXPECT_EQ(S->GetERRCODE(), isc_bad_db_handle);
  S->OnError = [](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool&) {
    throw EIB_ConnectionError("handled differently");
  };
  EXPECT_THROW(S->CallChecked(S.get(), S->Entries.isc_detach_database, &db), EIB_ConnectionError);
}

TEST_F(PreparedError, ZeroERRCODEFiresTheEventsButRaisesNothingUnlessAHandlerAsks) {
  gStatus = {isc_arg_gds, 0, isc_arg_end};
  int fired = 0;
  bool ask = false;
  S->OnError = [&](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool& RaiseException) {
    ++fired;
    EXPECT_FALSE(RaiseException);
    RaiseException = ask;
  };
  isc_db_handle db = 0;
  S->Call(S->Entries.isc_detach_database, &db);
  EXPECT_NO_THROW(S->HandleISCError(S.get()));
  EXPECT_EQ(fired, 1);
  ask = true;
  EXPECT_THROW(S->HandleISCError(S.get()), EIB_ISCError);
}

// A session whose handler runs after a handler of its own, as a derived session lets the failing
// component's handler run first.
class TOrderedSession : public TIB_SessionBase {
public:
  using TIB_SessionBase::TIB_SessionBase;
  std::vector<std::string>* Log = nullptr;
  bool ComponentSuppresses = false;

protected:
  void DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes, int32_t SQLCODE,
                     TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) override {
    Log->push_back("component");
    SQL.Add("UPDATE FLIGHTS SET X = 1");
    if (ComponentSuppresses) RaiseException = false;
    if (RaiseException)
      TIB_SessionBase::DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL,
                                     RaiseException);
  }
};

TEST(HandleISCErrorOrder, AnOverrideRunsFirstAndTheMonitorSeesItsLines) {
  std::vector<std::string> log;
  std::unique_ptr<TOrderedSession, testsupport::SessionDeleter> s(new TOrderedSession(nullptr));
  s->Log = &log;
  s->OnError = [&](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool&) {
    log.push_back("session");
  };
  std::string monitor;
  s->SetMonitorOutputHook([&](const std::string& Text) { monitor = Text; });
  s->Entries.isc_detach_database = &PreparedFailure;
  gStatus = {isc_arg_gds, isc_bad_db_handle, isc_arg_end};
  isc_db_handle db = 0;
  try {
    s->CallChecked(s.get(), s->Entries.isc_detach_database, &db);
    FAIL() << "no exception";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(Lines(e.SQL()), (std::vector<std::string>{"UPDATE FLIGHTS SET X = 1"}));
  }
  EXPECT_EQ(log, (std::vector<std::string>{"component", "session"}));
  EXPECT_EQ(monitor,
            "//>>> ERROR <<<//\r\nISC ERROR CODE:335544324\r\n\r\nISC ERROR MESSAGE:\r\n"
            "invalid database handle (no active connection)\r\n\r\n"
            "//>>> SQL MESSAGE <<<//\r\nSQL ERROR CODE:-904\r\n\r\nSQL ERROR MESSAGE:\r\n"
            "Unsuccessful execution caused by an unavailable resource.\r\n\r\n"
            "//>>> SQL <<<//\r\nUPDATE FLIGHTS SET X = 1");

  // Suppressed by the component: the session's handler stays quiet, the monitor still hears of it.
  log.clear();
  monitor.clear();
  s->ComponentSuppresses = true;
  EXPECT_NO_THROW(s->CallChecked(s.get(), s->Entries.isc_detach_database, &db));
  EXPECT_EQ(log, (std::vector<std::string>{"component"}));
  EXPECT_FALSE(monitor.empty());
}

}  // namespace
