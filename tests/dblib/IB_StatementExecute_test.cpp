#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>

#include "StatementTestSupport.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Row.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_Cursor.h"
#include "platform/ScopeGuards.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

using stmttest::StatementDbTest;

class ExecuteTest : public StatementDbTest {
protected:
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
    Exec("CREATE GENERATOR G");
    Exec("CREATE PROCEDURE P_SUM (A INTEGER, B INTEGER) RETURNS (S INTEGER) AS BEGIN S = :A + :B; END");
    Tr->Commit();
  }
  void Fill(int N) {
    TIB_DSQL* ins = NewDSQL("INSERT INTO T (ID, NAME) VALUES (:ID, :NAME)");
    ins->Prepare();
    for (int i = 1; i <= N; ++i) {
      ins->ParamByName("ID")->SetAsInteger(i);
      ins->ParamByName("NAME")->SetAsString("n" + IntToStr(i));
      ins->Execute();
    }
    delete ins;
  }
};

// An attach the server refuses, as a wrong password would be (embedded attaches take any password).
ISC_STATUS gRefusedAttaches = 0;
ISC_STATUS RefusingAttach(ISC_STATUS* Status, short, const ISC_SCHAR*, isc_db_handle*, short, const ISC_SCHAR*) {
  ++gRefusedAttaches;
  Status[0] = isc_arg_gds;
  Status[1] = isc_login;
  Status[2] = isc_arg_end;
  return isc_login;
}

// A statement or dataset whose connection attaches on demand and cannot: the engine's error reaches the
// caller, once, through the connection's OnError, whichever road asked for the connection; nothing is
// reported on the side and nothing else is raised in its place.
TEST_F(ExecuteTest, AConnectionThatCannotAttachOnDemandRaisesTheEnginesErrorOnce) {
  const struct {
    const char* Road;
    bool WithTransaction;
    std::function<void(TComponent* Owner, TIB_Connection* C, TIB_Transaction* T)> Run;
  } roads[] = {
      {"execute", true,
       [](TComponent* O, TIB_Connection* C, TIB_Transaction* T) {
         auto* q = new TIB_DSQL(O);
         q->SetIB_Connection(C);
         q->SetIB_Transaction(T);
         q->GetSQL().SetText("UPDATE T SET NAME = 'x'");
         q->Execute();
       }},
      {"execute in an internal transaction", false,
       [](TComponent* O, TIB_Connection* C, TIB_Transaction*) {
         auto* q = new TIB_DSQL(O);
         q->SetIB_Connection(C);
         q->GetSQL().SetText("UPDATE T SET NAME = 'x'");
         q->Execute();
       }},
      {"prepare", true,
       [](TComponent* O, TIB_Connection* C, TIB_Transaction* T) {
         auto* q = new TIB_DSQL(O);
         q->SetIB_Connection(C);
         q->SetIB_Transaction(T);
         q->GetSQL().SetText("SELECT ID FROM T");
         q->Prepare();
       }},
      {"open a cursor", true,
       [](TComponent* O, TIB_Connection* C, TIB_Transaction* T) {
         auto* q = new TIB_Cursor(O);
         q->SetIB_Connection(C);
         q->SetIB_Transaction(T);
         q->GetSQL().SetText("SELECT ID FROM T");
         q->First();
       }},
      {"open a query", true,
       [](TComponent* O, TIB_Connection* C, TIB_Transaction* T) {
         auto* q = new TIB_Query(O);
         q->SetIB_Connection(C);
         q->SetIB_Transaction(T);
         q->GetSQL().SetText("SELECT ID FROM T");
         q->Open();
       }},
      {"execute immediate", true,
       [](TComponent* O, TIB_Connection* C, TIB_Transaction* T) {
         auto* q = new TIB_DSQL(O);
         q->SetIB_Connection(C);
         q->SetIB_Transaction(T);
         q->ExecuteImmediate("UPDATE T SET NAME = 'x'");
       }},
  };
  const struct {
    const char* Failure;
    bool MissingFile;
    const char* Message;  // the start of the engine's text
  } failures[] = {{"missing file", true, "I/O error during \"open\" operation for file"},
                  {"refused login", false, "Your user name and password are not defined"}};
  TIB_Session& session = *Conn->GetSession();
  for (const auto& f : failures) {
    for (const auto& road : roads) {
      SCOPED_TRACE(std::string(f.Failure) + ", " + road.Road);
      auto* owner = new TComponent(Owner);
      auto* c = new TIB_Connection(owner);
      c->SetDatabaseName(f.MissingFile ? Dir.File("missing.fdb") : Conn->GetDatabaseName());
      TIB_Transaction* t = nullptr;
      if (road.WithTransaction) {
        t = new TIB_Transaction(owner);
        t->SetIB_Connection(c);
      }
      int errors = 0;
      c->OnError = [&](TObject*, int32_t, TStrings&, TStrings&, int32_t, TStrings&, TStrings&, bool&) { ++errors; };
      testsupport::ExceptionSink reported;
      gRefusedAttaches = 0;
      TValueRestorer attach(session.Entries.isc_attach_database, session.Entries.isc_attach_database);
      if (!f.MissingFile) session.Entries.isc_attach_database = &RefusingAttach;
      std::string message = "(no exception)";
      try {
        road.Run(owner, c, t);
      } catch (const EIB_ISCError& e) {
        message = e.what();
      } catch (const std::exception& e) {
        message = std::string("not the engine's error: ") + e.what();
      }
      EXPECT_NE(std::string::npos, message.find(f.Message)) << message;
      EXPECT_EQ(1, errors);
      EXPECT_EQ(std::vector<std::string>{}, reported.Messages);
      if (!f.MissingFile) {
        EXPECT_EQ(1, gRefusedAttaches);
      }
      EXPECT_FALSE(c->GetConnected());
      delete owner;
    }
  }
}

// The first execute of a statement with output answers with an injected code; later ones run as they are.
ISC_STATUS gFirstExecuteAnswer = 0;
int gExecutes = 0, gPrepares = 0;
TIB_EntryTable gRealEntries;
ISC_STATUS AnsweringExecute2(ISC_STATUS* Status, isc_tr_handle* Tr, isc_stmt_handle* Stmt, unsigned short Dialect,
                             const XSQLDA* In, const XSQLDA* Out) {
  if (gExecutes++ == 0 && gFirstExecuteAnswer != 0) {
    Status[0] = isc_arg_gds;
    Status[1] = gFirstExecuteAnswer;
    Status[2] = isc_arg_end;
    return gFirstExecuteAnswer;
  }
  return gRealEntries.isc_dsql_execute2(Status, Tr, Stmt, Dialect, In, Out);
}
ISC_STATUS CountingPrepare(ISC_STATUS* Status, isc_tr_handle* Tr, isc_stmt_handle* Stmt, unsigned short Length,
                           const ISC_SCHAR* SQL, unsigned short Dialect, XSQLDA* Out) {
  ++gPrepares;
  return gRealEntries.isc_dsql_prepare(Status, Tr, Stmt, Length, SQL, Dialect, Out);
}

// A procedure with output (run without activating the transaction) that the server answers with a DSQL
// error or a message length error (its output no longer matches the statement the server holds) is
// prepared again and run once more; other errors raise as they are, and so do these when the procedure
// activates the transaction.
TEST_F(ExecuteTest, AnOutputStatementRefusedForItsFormatIsPreparedAgainOnce) {
  const struct {
    ISC_STATUS Answer;
    bool Activates;
    bool Retried;
  } cases[] = {{isc_port_len, false, true},
               {isc_dsql_error, false, true},
               {isc_dsql_cursor_err, false, false},
               {isc_io_error, false, false},
               {isc_port_len, true, false}};
  TIB_Session& s = *Conn->GetSession();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Answer << (c.Activates ? " activating" : ""));
    TIB_DSQL* q = NewDSQL("EXECUTE PROCEDURE P_SUM 2, 3");
    q->SetActivateTransactionForProcedures(c.Activates);
    q->Prepare();
    gRealEntries = s.Entries;
    TValueRestorer execute(s.Entries.isc_dsql_execute2, decltype(s.Entries.isc_dsql_execute2){&AnsweringExecute2});
    TValueRestorer prepare(s.Entries.isc_dsql_prepare, decltype(s.Entries.isc_dsql_prepare){&CountingPrepare});
    gFirstExecuteAnswer = c.Answer;
    gExecutes = gPrepares = 0;
    if (c.Retried) {
      q->Execute();
      EXPECT_EQ(5, q->FieldByName("S")->GetAsInteger());
      EXPECT_EQ(2, gExecutes);
      EXPECT_EQ(1, gPrepares);
    } else {
      try {
        q->Execute();
        ADD_FAILURE() << "no exception";
      } catch (const EIB_ISCError& e) {
        EXPECT_EQ(c.Answer, e.ERRCODE);
      }
      EXPECT_EQ(1, gExecutes);
      EXPECT_EQ(0, gPrepares);
    }
    delete q;
  }
}

TEST_F(ExecuteTest, DMLOnAnAutoCommitTransactionIsSavedAtOnce) {
  Tr->SetAutoCommit(true);
  Exec("INSERT INTO T (ID) VALUES (1)");
  EXPECT_TRUE(Tr->GetStarted());
  EXPECT_EQ(tsStarted, Tr->GetTransactionState());
}

TEST_F(ExecuteTest, RowsAffectedCountsEveryKindOfChange) {
  Fill(3);
  const std::pair<const char*, int32_t> cases[] = {
      {"UPDATE T SET NAME = 'x' WHERE ID > 1", 2},
      {"INSERT INTO T (ID) VALUES (10) RETURNING ID", 1},
      {"UPDATE OR INSERT INTO T (ID, NAME) VALUES (10, 'u') MATCHING (ID)", 1},
      {"UPDATE OR INSERT INTO T (ID, NAME) VALUES (11, 'u') MATCHING (ID) RETURNING ID", 1},
      {"DELETE FROM T WHERE ID >= 10", 2},
      {"CREATE TABLE U (A INTEGER)", -1},
      {"EXECUTE PROCEDURE P_SUM 1, 2", -1},
  };
  TIB_DSQL* q = NewDSQL();
  for (const auto& [sql, rows] : cases) {
    q->GetSQL().SetText(sql);
    q->Execute();
    EXPECT_EQ(rows, q->GetRowsAffected()) << sql;
  }
}

TEST_F(ExecuteTest, ASelectOfSeveralRowsGivesTheFirstRowAndClosesItsCursor) {
  Fill(3);
  TIB_DSQL* q = NewDSQL("SELECT ID, NAME FROM T ORDER BY ID");
  q->Execute();
  EXPECT_TRUE(q->GetActive());
  EXPECT_EQ(1, q->FieldByName("ID")->GetAsInteger());
  EXPECT_EQ(1, q->GetRowsAffected());
  q->Execute();  // the cursor was closed: the statement runs again
  EXPECT_EQ("n1", q->FieldByName("NAME")->GetAsString());
  q->GetSQL().SetText("SELECT ID FROM T WHERE ID = 99");
  q->Execute();
  EXPECT_TRUE(q->FieldByName("ID")->GetIsNull());
}

TEST_F(ExecuteTest, AProcedureWithOutputRunsAgainWithoutACloseError) {
  TIB_DSQL* q = NewDSQL("EXECUTE PROCEDURE P_SUM :A, :B");
  q->Prepare();
  for (int i = 0; i < 3; ++i) {
    q->ParamByName("A")->SetAsInteger(i);
    q->ParamByName("B")->SetAsInteger(100);
    ASSERT_NO_THROW(q->Execute());
    EXPECT_EQ(100 + i, q->FieldByName("S")->GetAsInteger());
  }
}

TEST_F(ExecuteTest, TextsMoveTheTransactionAsTheServerDoes) {
  const struct {
    bool Immediate;
    std::vector<const char*> Texts;
    TIB_TransactionState State;
    const char* Kept;
  } cases[] = {
      {false, {"INSERT INTO T (ID) VALUES (1)"}, tsActive, "0"},
      {true, {"INSERT INTO T (ID) VALUES (1)"}, tsActive, "0"},
      {false, {"INSERT INTO T (ID) VALUES (1)", "COMMIT RETAIN"}, tsStarted, "1"},
      {true,
       {"INSERT INTO T (ID) VALUES (1)", "COMMIT RETAIN", "INSERT INTO T (ID) VALUES (2)", "ROLLBACK RETAIN"},
       tsStarted,
       "1"},
      {false,
       {"INSERT INTO T (ID) VALUES (1)", "COMMIT RETAIN", "INSERT INTO T (ID) VALUES (2)", "ROLLBACK"},
       tsInactive,
       "1"},
      {true, {"INSERT INTO T (ID) VALUES (7)", "COMMIT"}, tsInactive, "1"},
      {false,
       {"INSERT INTO T (ID) VALUES (1)", "SAVEPOINT S1", "INSERT INTO T (ID) VALUES (2)", "ROLLBACK TO SAVEPOINT S1",
        "SAVEPOINT S2", "RELEASE SAVEPOINT S2", "COMMIT"},
       tsInactive,
       "1"},
  };
  for (const auto& c : cases) {
    TIB_DSQL* q = NewDSQL();
    for (const char* text : c.Texts) {
      if (c.Immediate) {
        q->ExecuteImmediate(text);
      } else {
        q->GetSQL().SetText(text);
        q->Execute();
      }
    }
    EXPECT_FALSE(q->GetActive());  // no cursor: the statement is done
    EXPECT_EQ(c.State, Tr->GetTransactionState()) << c.Texts.back();
    EXPECT_EQ(c.State != tsInactive, Tr->GetStarted()) << c.Texts.back();
    if (Tr->GetStarted()) Tr->Rollback();
    EXPECT_EQ(c.Kept, Scalar("SELECT COUNT(*) FROM T")) << c.Texts.back();
    Exec("DELETE FROM T");
    Tr->Commit();
    delete q;
  }
  TIB_DSQL* q = NewDSQL("SET TRANSACTION READ ONLY");
  EXPECT_THROW(q->Execute(), EIB_StatementError);
  EXPECT_THROW(q->ExecuteImmediate("SET TRANSACTION"), EIB_StatementError);
}

TEST_F(ExecuteTest, GeneratorValuesAndTheEnginesErrorForAMissingOne) {
  TIB_DSQL* q = NewDSQL();
  EXPECT_EQ(1, q->Gen_ID("G", 1));
  EXPECT_EQ(11, q->Gen_ID("g", 10));
  EXPECT_EQ(11, q->Gen_ID("G", 0));
  const std::string message = MessageOf<EIB_ISCError>([&] { q->Gen_ID("NO_SUCH", 1); });
  EXPECT_NE(std::string::npos, message.find("NO_SUCH")) << message;
}

// Texts the server would read differently from the caller's text are refused or sent whole: either way
// no row is lost.
TEST_F(ExecuteTest, TextsThatWouldLoseTheirConditionChangeNothing) {
  const std::string nul("DELETE FROM T\0 WHERE ID = 1", 27);
  const std::string unclosed = "DELETE FROM T /* WHERE ID = 1";
  const std::string unclosedParam = "DELETE FROM T WHERE ID = :ID /* AND NAME = 'x'";
  struct Case {
    std::string SQL;
    bool Immediate;
  } cases[] = {{nul, false}, {nul, true}, {unclosed, false}, {unclosed, true}, {unclosedParam, false}};
  Fill(3);
  Tr->Commit();
  for (const Case& c : cases) {
    TIB_DSQL* q = NewDSQL();
    if (c.Immediate) {
      EXPECT_ANY_THROW(q->ExecuteImmediate(c.SQL)) << c.SQL;
    } else {
      q->GetSQL().SetText(c.SQL);
      EXPECT_ANY_THROW(q->Execute()) << c.SQL;
      EXPECT_FALSE(q->GetPrepared());
    }
    delete q;
    EXPECT_EQ("3", Scalar("SELECT COUNT(*) FROM T")) << c.SQL;
  }
  TIB_DSQL* q = NewDSQL();
  EXPECT_EQ(
      "SQL text contains a NUL byte at position 14: the server would read only the text before it, so it "
      "is not sent",
      MessageOf<EIB_StatementError>([&] { q->ExecuteImmediate(nul); }));
}

ISC_STATUS FailingInfo(ISC_STATUS* Status, isc_stmt_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*) {
  Status[0] = 1;
  Status[1] = isc_network_error;
  Status[2] = 0;
  return isc_network_error;
}

TEST_F(ExecuteTest, AnUnknownRowCountReadsMinusOne) {
  Fill(10);
  TIB_Session* s = Conn->GetSession();
  const auto real = s->Untraced.isc_dsql_sql_info;
  const char* texts[] = {"INSERT INTO T (ID) VALUES (11)", "UPDATE T SET NAME = 'x'", "DELETE FROM T WHERE ID = 1",
                         "SELECT ID FROM T"};
  for (const char* sql : texts) {
    TIB_DSQL* q = NewDSQL(sql);
    q->Execute();
    s->Untraced.isc_dsql_sql_info = &FailingInfo;
    EXPECT_EQ(-1, q->GetRowsAffected()) << sql;
    s->Untraced.isc_dsql_sql_info = real;
    delete q;
  }
}

TEST_F(ExecuteTest, AggregateAndSelectProcedureTests) {
  const struct {
    const char* SQL;
    bool Aggregate, SelectProc;
  } cases[] = {
      {"SELECT COUNT(*) FROM T", true, false},
      {"SELECT ID, (SELECT MAX(ID) FROM T) FROM T", false, false},
      {"SELECT DISTINCT NAME FROM T", true, false},
      {"SELECT NAME FROM T GROUP BY NAME", true, false},
      {"SELECT XMAX(ID) FROM T", false, false},
      {"SELECT S FROM P_SUM(1, 2)", false, true},
      {"SELECT A.ID FROM T A JOIN T B ON (A.ID = B.ID)", false, false},
  };
  TIB_DSQL* q = NewDSQL();
  for (const auto& c : cases) {
    q->GetSQL().SetText(c.SQL);
    EXPECT_EQ(c.Aggregate, q->SQLIsAggregate()) << c.SQL;
    EXPECT_EQ(c.SelectProc, q->SQLIsSelectProc()) << c.SQL;
  }
  q->GetSQL().SetText("SELECT ID FROM T");
  q->Prepare();
  EXPECT_FALSE(q->SQLIsSelectProc());
}

TEST_F(ExecuteTest, ASelectableProcedureIsKnownWithoutAStartedTransaction) {
  Exec("CREATE PROCEDURE P_ROWS RETURNS (R INTEGER) AS BEGIN R = 1; SUSPEND; END");
  Tr->Commit();
  TIB_DSQL* q = NewDSQL("SELECT R FROM P_ROWS");
  q->Prepare();
  Tr->Commit();
  ASSERT_FALSE(Tr->GetStarted());
  EXPECT_TRUE(q->SQLIsSelectProc());
  EXPECT_FALSE(Tr->GetStarted());
}

// ---- round trips --------------------------------------------------------------------------------------------

class RoundTripTest : public StatementDbTest {
protected:
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec(
        "CREATE TABLE R (K INTEGER NOT NULL PRIMARY KEY, SI SMALLINT, I INTEGER, BI BIGINT, N1 NUMERIC(4,1), "
        "N2 NUMERIC(9,2), N4 NUMERIC(18,4), D3 DECIMAL(18,3), F FLOAT, DB DOUBLE PRECISION, DT DATE, TM TIME, "
        "TS TIMESTAMP, C CHAR(5), V VARCHAR(30), B BLOB SUB_TYPE 1)");
    Tr->Commit();
    Ins = NewDSQL(
        "INSERT INTO R (K, SI, I, BI, N1, N2, N4, D3, F, DB, DT, TM, TS, C, V) VALUES (:K, :SI, :I, :BI, "
        ":N1, :N2, :N4, :D3, :F, :DB, :DT, :TM, :TS, :C, :V)");
    Ins->Prepare();
    Sel = NewDSQL("SELECT SI, I, BI, N1, N2, N4, D3, F, DB, DT, TM, TS, C, V FROM R WHERE K = :K");
    Sel->Prepare();
  }
  TIB_DSQL* Ins = nullptr;
  TIB_DSQL* Sel = nullptr;
  void Put(int K) {
    Ins->ParamByName("K")->SetAsInteger(K);
    Ins->Execute();
  }
  void Get(int K) {
    Sel->ParamByName("K")->SetAsInteger(K);
    Sel->Execute();
  }
  std::string Server(const std::string& Expr, int K) {
    return Scalar("SELECT " + Expr + " FROM R WHERE K = " + IntToStr(K));
  }
};

// Each value goes to the server through a parameter, is checked there by a condition of the server's own,
// and reads back through a column unchanged.
TEST_F(RoundTripTest, ValuesAgreeWithTheServerBothWays) {
  using TPut = std::function<void(TIB_Column*)>;
  using TRead = std::function<std::string(TIB_Column*)>;
  auto str = [](TIB_Column* C) { return C->GetAsString(); };
  auto num = [](TIB_Column* C) { return FloatToStr(C->GetAsDouble()); };
  auto stamp = [](TIB_Column* C) { return C->GetAsTimestampText(); };
  auto date = [](TIB_Column* C) { return FloatToStr(C->GetAsDateTime()); };
  const double dmax = std::numeric_limits<double>::max(), dmin = std::numeric_limits<double>::denorm_min();
  struct Case {
    const char* Column;
    TPut Put;
    const char* ServerCondition;
    TRead Read;
    std::string Expected;
  } cases[] = {
      {"SI", [](TIB_Column* C) { C->SetAsInteger(-32768); }, "SI = -32768", str, "-32768"},
      {"SI", [](TIB_Column* C) { C->SetAsInteger(32767); }, "SI = 32767", str, "32767"},
      {"I", [](TIB_Column* C) { C->SetAsInteger(std::numeric_limits<int32_t>::min()); }, "I = -2147483648", str,
       "-2147483648"},
      {"BI", [](TIB_Column* C) { C->SetAsInt64(std::numeric_limits<int64_t>::max()); }, "BI = 9223372036854775807", str,
       "9223372036854775807"},
      {"BI", [](TIB_Column* C) { C->SetAsInt64(std::numeric_limits<int64_t>::min()); }, "BI = -9223372036854775808",
       str, "-9223372036854775808"},
      {"N1", [](TIB_Column* C) { C->SetAsString("-999.9"); }, "N1 = -999.9", str, "-999.9"},
      {"N2", [](TIB_Column* C) { C->SetAsString("9999999.99"); }, "N2 = 9999999.99", str, "9999999.99"},
      {"N4", [](TIB_Column* C) { C->SetAsString("99999999999999.9999"); }, "N4 = 99999999999999.9999", str,
       "99999999999999.9999"},
      {"D3", [](TIB_Column* C) { C->SetAsString("-123456789012345.678"); }, "D3 = -123456789012345.678", str,
       "-123456789012345.678"},
      {"F", [](TIB_Column* C) { C->SetAsFloat(1.5f); }, "F = 1.5", num, "1.5"},
      {"F", [](TIB_Column* C) { C->SetAsFloat(-3.25e-10f); }, "F < 0", num, FloatToStr(-3.25e-10f)},
      {"DB", [&](TIB_Column* C) { C->SetAsDouble(dmax); }, "DB > 1.7e308", num, FloatToStr(dmax)},
      {"DB", [&](TIB_Column* C) { C->SetAsDouble(dmin); }, "DB > 0", num, FloatToStr(dmin)},
      {"DT", [](TIB_Column* C) { C->SetAsDate(EncodeDate(1, 1, 1)); }, "EXTRACT(YEAR FROM DT) = 1", date,
       FloatToStr(EncodeDate(1, 1, 1))},
      {"DT", [](TIB_Column* C) { C->SetAsDate(EncodeDate(1899, 12, 29)); }, "DT = DATE '1899-12-29'", date, "-1"},
      {"TM", [](TIB_Column* C) { C->SetAsDateTime(EncodeTime(23, 59, 59, 999)); }, "TM = TIME '23:59:59.999'", stamp,
       "1899/12/30 23:59:59.9990"},
      {"TS", [](TIB_Column* C) { C->SetAsDateTime(EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 999)); },
       "TS = TIMESTAMP '9999-12-31 23:59:59.999'", stamp, "9999/12/31 23:59:59.9990"},
      {"TS", [](TIB_Column* C) { C->SetAsDateTime(EncodeDate(2024, 2, 29) + EncodeTime(12, 30, 15, 250)); },
       "TS = TIMESTAMP '2024-02-29 12:30:15.250'", stamp, "2024/02/29 12:30:15.2500"},
      {"C", [](TIB_Column* C) { C->SetAsString("ab"); }, "C = 'ab' AND OCTET_LENGTH(C) = 5", str, "ab"},
      {"C", [](TIB_Column* C) { C->SetAsString(""); }, "C = ''", str, ""},
      {"V", [](TIB_Column* C) { C->SetAsString(std::string(30, 'z')); }, "CHAR_LENGTH(V) = 30", str,
       std::string(30, 'z')},
      {"V", [](TIB_Column* C) { C->SetAsString("it's \xE9t\xE9"); }, "V = 'it''s \xE9t\xE9'", str, "it's \xE9t\xE9"},
      {"I", [](TIB_Column* C) { C->SetAsInteger(5), C->SetNull(true); }, "I IS NULL", str, ""},
  };
  int k = 0;
  for (const Case& c : cases) {
    ++k;
    for (int i = 0; i < Ins->GetParamCount(); ++i) Ins->GetParams()->GetColumns(i)->SetNull(true);
    c.Put(Ins->ParamByName(c.Column));
    Put(k);
    EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = " + IntToStr(k) + " AND " + c.ServerCondition))
        << c.ServerCondition;
    Get(k);
    EXPECT_EQ(c.Expected, c.Read(Sel->FieldByName(c.Column))) << c.ServerCondition;
  }
  // The last row holds nulls only: every column reads null.
  for (int i = 0; i < Sel->GetFieldCount(); ++i) EXPECT_TRUE(Sel->GetFields()->GetColumns(i)->GetIsNull());
}

// Stands in for the blob column classes: it carries the blob id only.
class TQuadColumn : public TIB_Column {
public:
  using TIB_Column::TIB_Column;
  std::string GetAsString() override { return BinaryToHexText(GetColData().data(), GetColData().size()); }
  void SetAsString(const std::string&) override {}
};

TEST_F(RoundTripTest, BlobIdsTravelFromFieldsToParameters) {
  TIB_ColumnCreator previous = RegisterColumnClass(
      TIB_ColumnClass::Memo, [](TIB_Row* Row, int16_t FieldNo, XSQLVAR* Var, const TIB_ColumnOptions&) -> TIB_Column* {
        return new TQuadColumn(Row, FieldNo, Var);
      });
  TScopeExit restore([&] { RegisterColumnClass(TIB_ColumnClass::Memo, std::move(previous)); });
  Exec("INSERT INTO R (K, B) VALUES (1, 'the blob text')");
  Exec("INSERT INTO R (K) VALUES (2)");
  TIB_DSQL* read = NewDSQL("SELECT B FROM R WHERE K = 1");
  read->Execute();
  const std::string id = read->FieldByName("B")->GetColData();
  ASSERT_EQ(sizeof(ISC_QUAD), id.size());
  TIB_DSQL* write = NewDSQL("UPDATE R SET B = :B WHERE K = 2");
  write->Prepare();
  TIB_Column* b = write->ParamByName("B");
  b->BeforeModify();
  b->SetColData(id);
  b->AfterModify();
  write->Execute();
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 2 AND B = 'the blob text'"));
  b->SetNull(true);
  write->Execute();
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 2 AND B IS NULL"));
}

}  // namespace
