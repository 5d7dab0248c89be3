#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "StatementTestSupport.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Row.h"
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

TEST_F(ExecuteTest, DMLMarksAStartedTransactionActive) {
  TIB_DSQL* q = NewDSQL("INSERT INTO T (ID) VALUES (1)");
  q->Execute();
  EXPECT_EQ(tsActive, Tr->GetTransactionState());
  EXPECT_EQ(1, q->GetRowsAffected());
  EXPECT_FALSE(q->GetActive());
  Tr->Rollback();
  EXPECT_EQ("0", Scalar("SELECT COUNT(*) FROM T"));
}

TEST_F(ExecuteTest, DMLOnAnAutoCommitTransactionIsSavedAtOnce) {
  Tr->SetAutoCommit(true);
  Exec("INSERT INTO T (ID) VALUES (1)");
  EXPECT_TRUE(Tr->GetStarted());
  EXPECT_EQ(tsStarted, Tr->GetTransactionState());
}

TEST_F(ExecuteTest, RowsAffectedCountsEveryKindOfChange) {
  Fill(3);
  TIB_DSQL* q = NewDSQL("UPDATE T SET NAME = 'x' WHERE ID > 1");
  q->Execute();
  EXPECT_EQ(2, q->GetRowsAffected());
  q->GetSQL().SetText("INSERT INTO T (ID) VALUES (10) RETURNING ID");
  q->Execute();
  EXPECT_EQ(1, q->GetRowsAffected());
  EXPECT_EQ(10, q->FieldByName("ID")->GetAsInteger());
  q->GetSQL().SetText("UPDATE OR INSERT INTO T (ID, NAME) VALUES (10, 'u') MATCHING (ID)");
  q->Execute();
  EXPECT_EQ(1, q->GetRowsAffected());
  q->GetSQL().SetText("UPDATE OR INSERT INTO T (ID, NAME) VALUES (11, 'u') MATCHING (ID) RETURNING ID");
  q->Execute();
  EXPECT_EQ(1, q->GetRowsAffected());
  q->GetSQL().SetText("DELETE FROM T WHERE ID >= 10");
  q->Execute();
  EXPECT_EQ(2, q->GetRowsAffected());
  q->GetSQL().SetText("CREATE TABLE U (A INTEGER)");
  q->Execute();
  EXPECT_EQ(-1, q->GetRowsAffected());
  q->GetSQL().SetText("EXECUTE PROCEDURE P_SUM 1, 2");
  q->Execute();
  EXPECT_EQ(-1, q->GetRowsAffected());
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

TEST_F(ExecuteTest, SavepointsRun) {
  Exec("INSERT INTO T (ID) VALUES (1)");
  Exec("SAVEPOINT S1");
  Exec("INSERT INTO T (ID) VALUES (2)");
  Exec("ROLLBACK TO SAVEPOINT S1");
  Exec("SAVEPOINT S2");
  Exec("RELEASE SAVEPOINT S2");
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM T"));
}

TEST_F(ExecuteTest, TransactionControlTextsDoWhatTheySay) {
  Exec("INSERT INTO T (ID) VALUES (1)");
  Exec("COMMIT RETAIN");
  EXPECT_TRUE(Tr->GetStarted());
  Exec("INSERT INTO T (ID) VALUES (2)");
  Exec("ROLLBACK");
  EXPECT_FALSE(Tr->GetStarted());
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM T"));
  Exec("COMMIT");
  EXPECT_FALSE(Tr->GetStarted());
  TIB_DSQL* q = NewDSQL("SET TRANSACTION READ ONLY");
  EXPECT_THROW(q->Execute(), EIB_StatementError);
  EXPECT_THROW(q->ExecuteImmediate("SET TRANSACTION"), EIB_StatementError);
}

TEST_F(ExecuteTest, ExecuteImmediateOfDMLActivatesTheTransaction) {
  TIB_DSQL* q = NewDSQL();
  q->ExecuteImmediate("INSERT INTO T (ID) VALUES (7)");
  EXPECT_EQ(tsActive, Tr->GetTransactionState());
  q->ExecuteImmediate("COMMIT");
  EXPECT_FALSE(Tr->GetStarted());
  EXPECT_EQ(tsInactive, Tr->GetTransactionState());
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM T"));
}

TEST_F(ExecuteTest, ExecuteImmediateOfARetainingEndBringsTheTransactionStateAlong) {
  TIB_DSQL* q = NewDSQL();
  q->ExecuteImmediate("INSERT INTO T (ID) VALUES (1)");
  ASSERT_EQ(tsActive, Tr->GetTransactionState());
  q->ExecuteImmediate("COMMIT RETAIN");
  EXPECT_TRUE(Tr->GetStarted());
  EXPECT_EQ(tsStarted, Tr->GetTransactionState());
  q->ExecuteImmediate("INSERT INTO T (ID) VALUES (2)");
  q->ExecuteImmediate("ROLLBACK RETAIN");
  EXPECT_TRUE(Tr->GetStarted());
  EXPECT_EQ(tsStarted, Tr->GetTransactionState());
  Tr->Rollback();
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM T"));
}

TEST_F(ExecuteTest, GeneratorValues) {
  TIB_DSQL* q = NewDSQL();
  EXPECT_EQ(1, q->Gen_ID("G", 1));
  EXPECT_EQ(11, q->Gen_ID("g", 10));
  EXPECT_EQ(11, q->Gen_ID("G", 0));
}

TEST_F(ExecuteTest, AFailedGeneratorQueryRaisesTheEnginesError) {
  TIB_DSQL* q = NewDSQL();
  q->SetName("qGen");
  try {
    q->Gen_ID("NO_SUCH", 1);
    FAIL() << "no error";
  } catch (const EIB_ISCError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("NO_SUCH")) << e.what();
    EXPECT_NE(std::string::npos, e.SQL().GetText().find("qGen"));
  }
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
  TIB_DSQL* q = NewDSQL("SELECT COUNT(*) FROM T");
  EXPECT_TRUE(q->SQLIsAggregate());
  q->GetSQL().SetText("SELECT ID, (SELECT MAX(ID) FROM T) FROM T");
  EXPECT_FALSE(q->SQLIsAggregate());
  q->GetSQL().SetText("SELECT DISTINCT NAME FROM T");
  EXPECT_TRUE(q->SQLIsAggregate());
  q->GetSQL().SetText("SELECT NAME FROM T GROUP BY NAME");
  EXPECT_TRUE(q->SQLIsAggregate());
  q->GetSQL().SetText("SELECT XMAX(ID) FROM T");
  EXPECT_FALSE(q->SQLIsAggregate());
  q->GetSQL().SetText("SELECT S FROM P_SUM(1, 2)");
  EXPECT_TRUE(q->SQLIsSelectProc());
  q->GetSQL().SetText("SELECT A.ID FROM T A JOIN T B ON (A.ID = B.ID)");
  EXPECT_FALSE(q->SQLIsSelectProc());
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

TEST_F(ExecuteTest, ExecutingWithoutPreparableTextRaises) {
  TIB_DSQL* q = NewDSQL("SELEKT 1");
  EXPECT_THROW(q->Execute(), EIB_ISCError);
  EXPECT_FALSE(q->GetPrepared());
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

TEST_F(RoundTripTest, LimitsOfTheIntegerTypes) {
  Ins->ParamByName("SI")->SetAsInteger(-32768);
  Ins->ParamByName("I")->SetAsInteger(std::numeric_limits<int32_t>::min());
  Ins->ParamByName("BI")->SetAsInt64(std::numeric_limits<int64_t>::max());
  Put(1);
  Ins->ParamByName("SI")->SetAsInteger(32767);
  Ins->ParamByName("I")->SetAsInteger(std::numeric_limits<int32_t>::max());
  Ins->ParamByName("BI")->SetAsInt64(std::numeric_limits<int64_t>::min());
  Put(2);
  Get(1);
  EXPECT_EQ(-32768, Sel->FieldByName("SI")->GetAsInteger());
  EXPECT_EQ(std::numeric_limits<int32_t>::min(), Sel->FieldByName("I")->GetAsInteger());
  EXPECT_EQ(std::numeric_limits<int64_t>::max(), Sel->FieldByName("BI")->GetAsInt64());
  EXPECT_EQ("1", Server("COUNT(*)", 1));
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 1 AND SI = -32768 AND I = -2147483648 AND BI = "
                        "9223372036854775807"));
  Get(2);
  EXPECT_EQ(32767, Sel->FieldByName("SI")->GetAsInteger());
  EXPECT_EQ(std::numeric_limits<int64_t>::min(), Sel->FieldByName("BI")->GetAsInt64());
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 2 AND BI = -9223372036854775808"));
}

TEST_F(RoundTripTest, ScaledNumbersKeepEveryDigit) {
  Ins->ParamByName("N1")->SetAsString("-999.9");
  Ins->ParamByName("N2")->SetAsString("9999999.99");
  Ins->ParamByName("N4")->SetAsString("99999999999999.9999");
  Ins->ParamByName("D3")->SetAsString("-123456789012345.678");
  Put(1);
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 1 AND N1 = -999.9 AND N2 = 9999999.99 AND "
                        "N4 = 99999999999999.9999 AND D3 = -123456789012345.678"));
  Get(1);
  EXPECT_EQ("-999.9", Sel->FieldByName("N1")->GetAsString());
  EXPECT_EQ("9999999.99", Sel->FieldByName("N2")->GetAsString());
  EXPECT_EQ("99999999999999.9999", Sel->FieldByName("N4")->GetAsString());
  EXPECT_EQ("-123456789012345.678", Sel->FieldByName("D3")->GetAsString());
  EXPECT_EQ(99999999999999.9999L, Sel->FieldByName("N4")->GetAsExtended());
}

TEST_F(RoundTripTest, FloatingPointValues) {
  Ins->ParamByName("F")->SetAsFloat(1.5f);
  Ins->ParamByName("DB")->SetAsDouble(std::numeric_limits<double>::max());
  Put(1);
  Ins->ParamByName("F")->SetAsFloat(-3.25e-10f);
  Ins->ParamByName("DB")->SetAsDouble(std::numeric_limits<double>::denorm_min());
  Put(2);
  Get(1);
  EXPECT_EQ(1.5, Sel->FieldByName("F")->GetAsDouble());
  EXPECT_EQ(std::numeric_limits<double>::max(), Sel->FieldByName("DB")->GetAsDouble());
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 1 AND F = 1.5 AND DB > 1.7e308"));
  Get(2);
  EXPECT_EQ(static_cast<double>(-3.25e-10f), Sel->FieldByName("F")->GetAsDouble());
  EXPECT_EQ(std::numeric_limits<double>::denorm_min(), Sel->FieldByName("DB")->GetAsDouble());
}

TEST_F(RoundTripTest, DatesAndTimesAgreeWithTheServer) {
  Ins->ParamByName("DT")->SetAsDate(EncodeDate(1, 1, 1));
  Ins->ParamByName("TM")->SetAsDateTime(EncodeTime(23, 59, 59, 999));
  Ins->ParamByName("TS")->SetAsDateTime(EncodeDate(9999, 12, 31) + EncodeTime(23, 59, 59, 999));
  Put(1);
  Ins->ParamByName("DT")->SetAsDate(EncodeDate(1899, 12, 29));
  Ins->ParamByName("TM")->SetAsDateTime(EncodeTime(0, 0, 0, 0));
  Ins->ParamByName("TS")->SetAsDateTime(EncodeDate(2024, 2, 29) + EncodeTime(12, 30, 15, 250));
  Put(2);
  EXPECT_EQ("1", Server("EXTRACT(YEAR FROM DT)", 1));
  EXPECT_EQ("9999", Server("EXTRACT(YEAR FROM TS)", 1));
  EXPECT_EQ("23", Server("EXTRACT(HOUR FROM TM)", 1));
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 2 AND DT = DATE '1899-12-29' AND TM = TIME '00:00:00' "
                        "AND TS = TIMESTAMP '2024-02-29 12:30:15.250'"));
  Get(1);
  EXPECT_EQ(EncodeDate(1, 1, 1), Sel->FieldByName("DT")->GetAsDateTime());
  EXPECT_EQ("9999/12/31 23:59:59.9990", Sel->FieldByName("TS")->GetAsTimestampText());
  Get(2);
  EXPECT_EQ("2024/02/29 12:30:15.2500", Sel->FieldByName("TS")->GetAsTimestampText());
  EXPECT_EQ(EncodeDate(1899, 12, 29), Sel->FieldByName("DT")->GetAsDateTime());
}

TEST_F(RoundTripTest, TextFillsAndPadsAsDeclared) {
  Ins->ParamByName("C")->SetAsString("ab");
  Ins->ParamByName("V")->SetAsString(std::string(30, 'z'));
  Put(1);
  Ins->ParamByName("C")->SetAsString("");
  Ins->ParamByName("V")->SetAsString("it's \xE9t\xE9");
  Put(2);
  EXPECT_EQ("5", Server("OCTET_LENGTH(C)", 1));
  EXPECT_EQ("30", Server("CHAR_LENGTH(V)", 1));
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 2 AND V = 'it''s \xE9t\xE9' AND C = ''"));
  Get(1);
  EXPECT_EQ("ab", Sel->FieldByName("C")->GetAsString());
  EXPECT_EQ(std::string(30, 'z'), Sel->FieldByName("V")->GetAsString());
  Get(2);
  EXPECT_EQ("it's \xE9t\xE9", Sel->FieldByName("V")->GetAsString());
}

TEST_F(RoundTripTest, NullsGoBothWays) {
  Put(1);  // every column but the key left null
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM R WHERE K = 1 AND SI IS NULL AND BI IS NULL AND N4 IS NULL AND "
                        "TS IS NULL AND V IS NULL AND C IS NULL"));
  Get(1);
  for (int i = 0; i < Sel->GetFieldCount(); ++i) {
    EXPECT_TRUE(Sel->GetFields()->GetColumns(i)->GetIsNull()) << Sel->GetFields()->GetColumns(i)->GetColumnName();
  }
  Ins->ParamByName("I")->SetAsInteger(5);
  Ins->ParamByName("I")->SetNull(true);
  Put(2);
  EXPECT_EQ("<null>", Server("I", 2));
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
  struct TRestore {
    TIB_ColumnCreator Creator;
    ~TRestore() { RegisterColumnClass(TIB_ColumnClass::Memo, std::move(Creator)); }
  } restore{previous};
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
