#include "dblib/IB_Statement.h"

#include <gtest/gtest.h>

#include "StatementTestSupport.h"
#include "dblib/IB_DSQL.h"
#include "platform/Locale.h"
#include "platform/ScopeGuards.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

using stmttest::StatementDbTest;

class StatementTest : public StatementDbTest {
protected:
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), AMOUNT NUMERIC(18,4))");
    Tr->Commit();
  }
};

TEST_F(StatementTest, PrepareTurnsNamedParametersIntoMarkersAndDescribesBothRows) {
  TIB_DSQL* q = NewDSQL("SELECT ID, NAME FROM T WHERE ID = :K AND NAME = :WHO");
  q->Prepare();
  ASSERT_TRUE(q->GetPrepared());
  EXPECT_EQ(2, q->GetParamCount());
  EXPECT_EQ(2, q->GetFieldCount());
  EXPECT_NE(std::string::npos, q->GetServerSQL().find("ID = ?"));
  EXPECT_EQ(std::string::npos, q->GetServerSQL().find(":K"));
  EXPECT_EQ("K", q->ParamByName("K")->GetColumnName());
  EXPECT_EQ("NAME", q->FieldByName("NAME")->GetColumnName());
  EXPECT_FALSE(q->GetSQLChanged());
}

TEST_F(StatementTest, AParameterNamedByAReservedWordIsFoundByItsPlainName) {
  Exec("INSERT INTO T (ID, NAME) VALUES (7, 'seven')");
  TIB_DSQL* q = NewDSQL("SELECT NAME FROM T WHERE ID = :KEY");
  q->Prepare();
  TIB_Column* key = q->ParamByName("KEY");
  EXPECT_EQ(key, q->ParamByName("key"));
  EXPECT_EQ(key, q->ParamByName("\"KEY\""));
  key->SetAsInteger(7);
  q->Execute();
  EXPECT_EQ("seven", q->FieldByName("NAME")->GetAsString());
}

TEST_F(StatementTest, AnUntypedIsNullParameterTakesNullsAndValues) {
  Exec("INSERT INTO T (ID, NAME) VALUES (1, 'one')");
  Exec("INSERT INTO T (ID, NAME) VALUES (2, 'two')");
  // The engine describes the marker of "? IS NULL" without a type; it becomes a nullable VARCHAR.
  TIB_DSQL* q = NewDSQL("SELECT COUNT(*) FROM T WHERE :WHO IS NULL OR NAME = :WHO2");
  q->Prepare();
  TIB_Column* who = q->ParamByName("WHO");
  EXPECT_EQ(SQL_VARYING | 1, who->GetSQLType());
  who->SetIsNull(true);
  q->ParamByName("WHO2")->SetAsString("none");
  q->Execute();
  EXPECT_EQ(2, q->GetFields()->GetColumns(0)->GetAsInteger());
  who->SetAsString("x");
  q->Execute();
  EXPECT_EQ(0, q->GetFields()->GetColumns(0)->GetAsInteger());
  q->ParamByName("WHO2")->SetAsString("two");
  q->Execute();
  EXPECT_EQ(1, q->GetFields()->GetColumns(0)->GetAsInteger());
  // One name for both markers: the untyped one shares the typed one's value.
  TIB_DSQL* shared = NewDSQL("SELECT COUNT(*) FROM T WHERE :WHO IS NULL OR NAME = :WHO");
  shared->Prepare();
  EXPECT_EQ(1, shared->GetParamCount());
  shared->ParamByName("WHO")->SetIsNull(true);
  shared->Execute();
  EXPECT_EQ(2, shared->GetFields()->GetColumns(0)->GetAsInteger());
  shared->ParamByName("WHO")->SetAsString("one");
  shared->Execute();
  EXPECT_EQ(1, shared->GetFields()->GetColumns(0)->GetAsInteger());
}

TEST_F(StatementTest, TheSelectColumnListNamesEachColumnsAlias) {
  TIB_DSQL* q = NewDSQL(
      "SELECT ID AS K, NAME N, AMOUNT * 2 \"Twice\", CASE WHEN ID > 1 THEN 1 ELSE 0 END, ID - 1, NAME COLLATE "
      "PT_BR, T.* FROM T");
  q->Prepare();
  EXPECT_EQ(
      "K=ID\r\nN=NAME\r\n\"Twice\"=AMOUNT * 2\r\nCASE WHEN ID > 1 THEN 1 ELSE 0 END\r\nID - 1\r\nNAME COLLATE "
      "PT_BR\r\nT.ID\r\nT.NAME\r\nT.AMOUNT\r\n",
      q->GetSelectColumnList().GetText());
  EXPECT_EQ(9, q->GetFieldCount());
}

// Counts the second describes a prepare needs when it expected too few columns.
int gDescribes = 0;
ISC_STATUS CountedDescribe(ISC_STATUS* Status, isc_stmt_handle* Stmt, unsigned short Dialect, XSQLDA* DA) {
  ++gDescribes;
  return CurrentSession()->Untraced.isc_dsql_describe(Status, Stmt, Dialect, DA);
}

TEST_F(StatementTest, AStarItemIsExpandedToItsRelationsColumnsFromTheSchemaCache) {
  Exec("CREATE TABLE \"u\" (A INTEGER, B INTEGER)");
  Exec("CREATE PROCEDURE P RETURNS (R INTEGER) AS BEGIN R = 1; SUSPEND; END");
  Tr->Commit();
  struct {
    const char* SQL;
    const char* KeyRelation;
    const char* Items;
    int Describes;
  } const cases[] = {
      {"SELECT T.* FROM T", "", "T.ID\r\nT.NAME\r\nT.AMOUNT\r\n", 0},
      {"SELECT X.*, 1 AS ONE FROM T X", "", "X.ID\r\nX.NAME\r\nX.AMOUNT\r\nONE=1\r\n", 0},
      {"SELECT Y.*, X.NAME FROM T AS X JOIN \"u\" Y ON Y.A = X.ID", "", "Y.A\r\nY.B\r\nX.NAME\r\n", 0},
      {"SELECT \"u\".* FROM \"u\"", "", "\"u\".A\r\n\"u\".B\r\n", 0},
      {"SELECT * FROM T", "T", "ID\r\nNAME\r\nAMOUNT\r\n", 0},
      // Unknown to the cache: the items stay and the server's description serves.
      {"SELECT * FROM T", "", "<*>\r\n*\r\n", 1},
      {"SELECT Z.* FROM T X", "", "<*>\r\nZ.*\r\n", 1},
      {"SELECT P.* FROM P", "", "<*>\r\nP.*\r\n", 0},
  };
  TIB_Session& s = *Conn->GetSession();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.SQL);
    TIB_DSQL* q = NewDSQL(c.SQL);
    q->SetKeyRelation(c.KeyRelation);
    Conn->GetSchemaCache()->GetTableFields("T", *std::make_unique<TStringList>());  // lists read beforehand
    gDescribes = 0;
    {
      TValueRestorer counted(s.Entries.isc_dsql_describe, decltype(s.Entries.isc_dsql_describe){&CountedDescribe});
      if (std::string(c.SQL) == "SELECT Z.* FROM T X") {
        EXPECT_THROW(q->Prepare(), EIB_ISCError);  // the server knows no Z either
        continue;
      }
      q->Prepare();
    }
    EXPECT_EQ(c.Items, q->GetSelectColumnList().GetText());
    EXPECT_EQ(c.Describes, gDescribes);
    q->Execute();
  }
}

TEST_F(StatementTest, FieldByNamePreparesFindFieldDoesNot) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T");
  EXPECT_EQ(nullptr, q->FindField("ID"));
  EXPECT_FALSE(q->GetPrepared());
  EXPECT_NE(nullptr, q->FieldByName("ID"));
  EXPECT_TRUE(q->GetPrepared());
  EXPECT_EQ("FieldName: NOPE not found", MessageOf<EIB_StatementError>([&] { q->FieldByName("NOPE"); }));
  EXPECT_THROW(q->ParamByName("NOPE"), EIB_StatementError);
  EXPECT_EQ(nullptr, q->FindParam("NOPE"));
}

TEST_F(StatementTest, BlankSQLIsRefused) {
  TIB_DSQL* q = NewDSQL("   ");
  EXPECT_EQ("Blank SQL statement not allowed", MessageOf<EIB_StatementError>([&] { q->Prepare(); }));
  EXPECT_FALSE(q->GetPrepared());
}

TEST_F(StatementTest, FailedPrepareLeavesItUnpreparedAndNamesTheStatementInTheError) {
  TIB_DSQL* q = NewDSQL("SELECT NOSUCH FROM T");
  q->SetName("qBad");
  try {
    q->Prepare();
    FAIL();
  } catch (const EIB_ISCError& e) {
    const std::string sql = e.SQL().GetText();
    EXPECT_NE(std::string::npos, sql.find("STATEMENT:\r\nTIB_DSQL: \"qBad\""));
    EXPECT_NE(std::string::npos, e.ErrorMessage().GetText().find("SELECT NOSUCH FROM T"));
  }
  EXPECT_FALSE(q->GetPrepared());
  EXPECT_EQ(0, q->GetFieldCount());
  EXPECT_NE(0u, q->GetStmtHandle());
  q->GetSQL().SetText("SELECT ID FROM T");
  q->Prepare();
  EXPECT_TRUE(q->GetPrepared());
}

TEST_F(StatementTest, ParamCheckOffSendsTheTextUnchanged) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T WHERE ID = :KEY");
  q->SetParamCheck(false);
  EXPECT_THROW(q->Prepare(), EIB_ISCError);
  EXPECT_NE(std::string::npos, q->GetServerSQL().find(":KEY"));
  EXPECT_EQ(0, q->GetParamCount());
}

TEST_F(StatementTest, StoredCodeKeepsItsVariables) {
  // The engine only parses a procedure's body when it runs the DDL, so ':variables' must stay.
  const char* texts[] = {
      "CREATE PROCEDURE ADD_ONE (X INTEGER) RETURNS (Y INTEGER) AS\nBEGIN\n  Y = :X + 1; -- keep this\n  "
      "SUSPEND;\nEND",
      "CREATE OR ALTER PROCEDURE TWICE (X INTEGER) RETURNS (Y INTEGER) AS BEGIN Y = :X * 2; END",
      "RECREATE PROCEDURE THRICE (X INTEGER) RETURNS (Y INTEGER) AS BEGIN Y = :X * 3; END",
      "CREATE FUNCTION F_INC (X INTEGER) RETURNS INTEGER AS DECLARE V INTEGER; BEGIN V = :X; RETURN :V + 1; END",
      "CREATE OR ALTER TRIGGER T_BI FOR T BEFORE INSERT AS BEGIN IF (NEW.NAME IS NULL) THEN NEW.NAME = "
      "'n' || NEW.ID; END",
      "ALTER PROCEDURE TWICE (X INTEGER) RETURNS (Y INTEGER) AS DECLARE Z INTEGER; BEGIN Z = :X; Y = :Z + :Z; END",
      "RECREATE TRIGGER T_BU FOR T BEFORE UPDATE AS DECLARE V INTEGER; BEGIN V = NEW.ID; NEW.NAME = 'u' || :V; END",
      "CREATE PACKAGE PK AS BEGIN FUNCTION HALF (X INTEGER) RETURNS INTEGER; END",
      "CREATE PACKAGE BODY PK AS BEGIN FUNCTION HALF (X INTEGER) RETURNS INTEGER AS DECLARE V INTEGER; BEGIN "
      "V = :X; RETURN :V / 2; END END",
  };
  for (const char* sql : texts) {
    TIB_DSQL* q = NewDSQL(sql);
    ASSERT_NO_THROW(q->Execute()) << sql;
    EXPECT_EQ(0, q->GetParamCount()) << sql;
    EXPECT_EQ(q->GetSQL().GetText(), q->GetServerSQL()) << sql;
    delete q;
  }
  Tr->Commit();
  EXPECT_EQ("8", Scalar("SELECT Y FROM ADD_ONE(7)"));
  EXPECT_EQ("14", Scalar("SELECT F_INC(13) FROM RDB$DATABASE"));
  EXPECT_EQ("21", Scalar("SELECT PK.HALF(42) FROM RDB$DATABASE"));
  TIB_DSQL* p = NewDSQL("EXECUTE PROCEDURE TWICE :X");
  p->Prepare();
  p->ParamByName("X")->SetAsInteger(21);
  p->Execute();
  EXPECT_EQ(42, p->FieldByName("Y")->GetAsInteger());
  Exec("INSERT INTO T (ID) VALUES (5)");
  EXPECT_EQ("n5", Scalar("SELECT NAME FROM T WHERE ID = 5"));
  EXPECT_EQ("1", Scalar("SELECT COUNT(*) FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'ADD_ONE' AND "
                        "RDB$PROCEDURE_SOURCE CONTAINING '-- keep this'"));
}

TEST_F(StatementTest, ExecuteBlockTakesQuestionMarkInputsAndKeepsBodyVariables) {
  const std::string block =
      "EXECUTE BLOCK (A INTEGER = ?) RETURNS (B INTEGER) AS DECLARE C INTEGER; BEGIN C = :A; "
      "B = :C * 10; SUSPEND; END";
  std::string plainNames;
  // A leading comment changes nothing: the block's inputs are named as they are without it.
  for (const std::string& sql : {block, "/* tens */ " + block, "-- tens\r\n" + block}) {
    TIB_DSQL* q = NewDSQL(sql);
    q->Prepare();
    ASSERT_EQ(1, q->GetParamCount()) << sql;
    if (plainNames.empty()) plainNames = q->GetParamNameList().GetText();
    EXPECT_EQ(plainNames, q->GetParamNameList().GetText()) << sql;
    q->GetParams()->GetColumns(0)->SetAsInteger(4);
    q->Execute();
    EXPECT_EQ(40, q->FieldByName("B")->GetAsInteger()) << sql;
    delete q;
  }
  EXPECT_FALSE(plainNames.empty());
}

TEST_F(StatementTest, ReprepareKeepsParameterValuesExactlyByName) {
  FormatSettings.DecimalSeparator = ',';
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T WHERE AMOUNT = :AMOUNT AND ID = :ID AND NAME = :GONE");
  q->Prepare();
  q->ParamByName("AMOUNT")->SetAsString("12345678901234,5678");
  q->ParamByName("ID")->SetAsInteger(2147483647);
  q->ParamByName("GONE")->SetAsString("x");
  const std::string amountBytes = q->ParamByName("AMOUNT")->GetColData();
  q->GetSQL().SetText("SELECT ID FROM T WHERE ID = :ID AND AMOUNT = :AMOUNT");
  q->Prepare();
  EXPECT_EQ(amountBytes, q->ParamByName("AMOUNT")->GetColData());
  EXPECT_EQ(2147483647, q->ParamByName("ID")->GetAsInteger());
  EXPECT_EQ(nullptr, q->FindParam("GONE"));
  FormatSettings.DecimalSeparator = '.';
}

TEST_F(StatementTest, ParamValuesFromAStoredFormAreAppliedByName) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T WHERE ID = :ID AND NAME = :NAME");
  TStringList stored;
  stored.Add("ID=17");
  stored.Add("NAME=abc");
  q->ReadParamValues(stored);
  q->Prepare();
  EXPECT_EQ(17, q->ParamByName("ID")->GetAsInteger());
  EXPECT_EQ("abc", q->ParamByName("NAME")->GetAsString());
  TStringList written;
  q->WriteParamValues(written);
  EXPECT_EQ("ID=17\r\nNAME=abc\r\n", written.GetText());
}

TEST_F(StatementTest, AssigningAnotherStatementsSQLBringsItsValuesAndLists) {
  TIB_DSQL* a = NewDSQL("SELECT ID FROM T WHERE ID = :ID");
  a->GetFieldsDisplayLabel().Add("T.ID=Key");
  a->Prepare();
  a->ParamByName("ID")->SetAsInteger(99);
  TIB_DSQL* b = NewDSQL();
  b->SetSQL(&a->GetSQL());
  b->Prepare();
  EXPECT_EQ(99, b->ParamByName("ID")->GetAsInteger());
  EXPECT_EQ("Key", b->FieldByName("ID")->GetDisplayLabel());
  TStringList plain;
  plain.Add("SELECT NAME FROM T");
  b->SetSQL(&plain);
  EXPECT_EQ(0, b->GetFieldsDisplayLabel().Count());
  b->SetSQL(nullptr);
  EXPECT_EQ(0, b->GetSQL().Count());
}

TEST_F(StatementTest, SQLHistoryRecordsEachNewText) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T");
  q->SetKeepSQLHistory(true);
  q->Prepare();
  q->Unprepare();
  q->Prepare();
  q->GetSQL().SetText("SELECT NAME FROM T");
  q->Prepare();
  ASSERT_EQ(2, q->GetSQLHistory().Count());
  EXPECT_EQ("SELECT ID FROM T", q->GetSQLHistory()[0]);
  EXPECT_EQ("SELECT NAME FROM T", q->GetSQLHistory()[1]);
}

TEST_F(StatementTest, AColumnPropertyListChangedWhilePreparedAppliesAtOnce) {
  TIB_DSQL* q = NewDSQL("SELECT ID, NAME FROM T");
  q->Prepare();
  q->GetFieldsDisplayLabel().Add("T.ID=Own");
  EXPECT_EQ("Own", q->FieldByName("ID")->GetDisplayLabel());
  q->GetFieldsIndex().Add("T.NAME=0");
  EXPECT_EQ("NAME", q->GetFields()->GetColumns(0)->GetColumnName());
}

TEST_F(StatementTest, WithoutAnyTransactionTheErrorIsTheTablesPlainError) {
  auto* q = new TIB_DSQL(Owner);
  q->SetIB_Connection(Conn);
  q->GetSQL().SetText("SELECT ID FROM T");
  q->GetSession()->SetAllowDefaultTransaction(false);
  // The class the message table gives: EIB_Error itself.
  EXPECT_EQ("Invalid Internal IB_Transaction", MessageOf<EIB_Error>([&] { q->Prepare(); }));
  try {
    q->Prepare();
  } catch (const EIB_Error& e) {
    EXPECT_EQ(typeid(e), typeid(EIB_Error));
  }
  q->GetSession()->SetAllowDefaultTransaction(true);
  EXPECT_FALSE(q->GetPrepared());
}

TEST_F(StatementTest, MakesAnInternalTransactionWhenGivenNone) {
  auto* q = new TIB_DSQL(Owner);
  q->SetName("qInt");
  q->SetIB_Connection(Conn);
  q->GetSQL().SetText("SELECT ID FROM T");
  q->Prepare();
  ASSERT_NE(nullptr, q->GetInternalTransaction());
  EXPECT_EQ(q->GetInternalTransaction(), q->GetIB_Transaction());
  EXPECT_EQ("trqInt", q->GetInternalTransaction()->GetName());
  EXPECT_TRUE(q->GetInternalTransaction()->GetAutoCommit());
  EXPECT_EQ(nullptr, q->GetStoredIB_Transaction());
  q->SetIB_Transaction(Tr);
  EXPECT_EQ(nullptr, q->GetInternalTransaction());
}

TEST_F(StatementTest, StatementTypesComeFromTheTextOrTheServer) {
  TIB_DSQL* q = NewDSQL("SELECT ID FROM T");
  EXPECT_EQ(stSelect, q->GetStatementType());
  EXPECT_FALSE(q->GetPrepared());
  q->GetSQL().SetText("SELECT ID FROM T FOR UPDATE");
  EXPECT_EQ(stSelectForUpdate, q->GetStatementType());
  const std::pair<const char*, uint8_t> cases[] = {{"INSERT INTO T (ID) VALUES (1)", stInsert},
                                                   {"UPDATE T SET NAME = 'a'", stUpdate},
                                                   {"DELETE FROM T", stDelete},
                                                   {"CREATE TABLE U (A INTEGER)", stDDL},
                                                   {"SAVEPOINT S1", stSavePoint},
                                                   {"INSERT INTO T (ID) VALUES (1) RETURNING ID", stExecProcedure}};
  for (const auto& [sql, type] : cases) {
    q->GetSQL().SetText(sql);
    q->Prepare();
    EXPECT_EQ(type, q->GetStatementType()) << sql;
  }
}

}  // namespace

namespace {

// ---- the fifteen statement events ---------------------------------------------------------------------------

// Records every statement event by name, in the order fired.
struct TEventLog {
  std::vector<std::string> Names;
  void Attach(TIB_Statement& Q) {
    const std::pair<TIB_StatementEvent TIB_Statement::*, const char*> events[] = {
        {&TIB_Statement::BeforePrepare, "BeforePrepare"},     {&TIB_Statement::AfterPrepare, "AfterPrepare"},
        {&TIB_Statement::BeforeUnprepare, "BeforeUnprepare"}, {&TIB_Statement::AfterUnprepare, "AfterUnprepare"},
        {&TIB_Statement::BeforeExecute, "BeforeExecute"},     {&TIB_Statement::AfterExecute, "AfterExecute"},
        {&TIB_Statement::BeforeExecDDL, "BeforeExecDDL"},     {&TIB_Statement::AfterExecDDL, "AfterExecDDL"},
        {&TIB_Statement::BeforeExecDML, "BeforeExecDML"},     {&TIB_Statement::AfterExecDML, "AfterExecDML"},
        {&TIB_Statement::OnPrepareSQL, "OnPrepareSQL"},       {&TIB_Statement::OnPreparedChanged, "OnPreparedChanged"},
        {&TIB_Statement::OnActiveChange, "OnActiveChange"},   {&TIB_Statement::OnLayoutChanged, "OnLayoutChanged"},
        {&TIB_Statement::OnInvalidateSQL, "OnInvalidateSQL"}};
    for (const auto& [member, name] : events) {
      Q.*member = [this, name = name](TIB_Statement* Sender) {
        EXPECT_NE(nullptr, Sender);
        Names.emplace_back(name);
      };
    }
  }
  std::string Take() {
    std::string r;
    for (const std::string& n : Names) r += (r.empty() ? "" : " ") + n;
    Names.clear();
    return r;
  }
};

TEST_F(StatementTest, EventsFireInTheirOrderForEachStep) {
  struct Case {
    const char* Step;
    const char* SQL;
    std::function<void(TIB_DSQL&)> Before, Action;
    const char* Expected;
  };
  auto prepare = [](TIB_DSQL& Q) { Q.Prepare(); };
  auto execute = [](TIB_DSQL& Q) { Q.Execute(); };
  const Case cases[] = {
      {"prepare", "SELECT ID FROM T", nullptr, prepare,
       "BeforePrepare OnPrepareSQL OnLayoutChanged OnPreparedChanged AfterPrepare"},
      {"re-prepare", "SELECT ID FROM T", [](TIB_DSQL& Q) { Q.Prepare(), Q.InvalidateSQL(); }, prepare,
       "OnPrepareSQL OnLayoutChanged AfterPrepare"},
      {"select", "SELECT ID FROM T", prepare, execute, "BeforeExecute OnActiveChange AfterExecute"},
      {"DML", "INSERT INTO T (ID) VALUES (1)", prepare, execute,
       "BeforeExecute BeforeExecDML AfterExecDML AfterExecute"},
      {"DDL", "CREATE TABLE U (A INTEGER)", prepare, execute, "BeforeExecute BeforeExecDDL AfterExecDDL AfterExecute"},
      {"unprepare", "SELECT ID FROM T", execute, [](TIB_DSQL& Q) { Q.Unprepare(); },
       "OnActiveChange BeforeUnprepare OnLayoutChanged AfterUnprepare OnPreparedChanged"},
      {"SQL change", "SELECT ID FROM T", prepare, [](TIB_DSQL& Q) { Q.GetSQL().SetText("SELECT NAME FROM T"); },
       "OnInvalidateSQL BeforeUnprepare OnLayoutChanged AfterUnprepare OnPreparedChanged"},
      {"list change", "SELECT ID FROM T", prepare, [](TIB_DSQL& Q) { Q.GetFieldsVisible().Add("T.ID=F"); },
       "OnLayoutChanged"},
      {"prepare when prepared", "SELECT ID FROM T", prepare, [](TIB_DSQL& Q) { Q.SetPrepared(true), Q.Prepare(); }, ""},
      {"unprepare when unprepared", "SELECT ID FROM T", nullptr,
       [](TIB_DSQL& Q) { Q.SetPrepared(false), Q.Unprepare(); }, ""},
  };
  for (const Case& c : cases) {
    TIB_DSQL* q = NewDSQL(c.SQL);
    TEventLog log;
    log.Attach(*q);
    if (c.Before) c.Before(*q);
    log.Names.clear();
    c.Action(*q);
    EXPECT_EQ(c.Expected, log.Take()) << c.Step;
    delete q;
    Tr->Rollback();
  }
}

}  // namespace

namespace {

// ---- the eleven column property lists ---------------------------------------------------------------------

TEST_F(StatementTest, EachColumnPropertyListShapesItsColumn) {
  Exec("ALTER TABLE T ADD CODE CHAR(3)");
  Tr->Commit();
  using Read = std::function<std::string(TIB_Statement&)>;
  auto col = [](TIB_Statement& Q, const char* Name) { return Q.FieldByName(Name); };
  struct Case {
    TIB_FieldsPropertyList List;
    bool OnConnection;  // the entry sits in the connection's list of the same name
    const char* Entry;
    Read Value;
    const char* Expected;
  };
  const Case cases[] = {
      {fplAlignment, false, "T.NAME=Centre", [&](TIB_Statement& Q) { return IntToStr(col(Q, "NAME")->GetAlignment()); },
       "2"},
      {fplCharCase, false, "T.NAME=upper", [&](TIB_Statement& Q) { return IntToStr(col(Q, "NAME")->GetCharCase()); },
       "1"},
      {fplCharCase, true, "T.NAME=Proper", [&](TIB_Statement& Q) { return IntToStr(col(Q, "NAME")->GetCharCase()); },
       "3"},
      {fplDisplayFormat, false, "T.AMOUNT=#,##0.00",
       [&](TIB_Statement& Q) { return col(Q, "AMOUNT")->GetDisplayFormat(); }, "#,##0.00"},
      {fplDisplayLabel, true, "T.ID=Key", [&](TIB_Statement& Q) { return col(Q, "ID")->GetDisplayLabel(); }, "Key"},
      {fplGridLabel, false, "T.ID=#", [&](TIB_Statement& Q) { return col(Q, "ID")->GetGridLabel(); }, "#"},
      {fplDisplayWidth, false, "T.NAME=12",
       [&](TIB_Statement& Q) { return IntToStr(col(Q, "NAME")->GetDisplayWidthSetting()); }, "12"},
      {fplEditMask, true, "T.CODE=>LLL", [&](TIB_Statement& Q) { return col(Q, "CODE")->GetEditMask(); }, ">LLL"},
      {fplIndex, false, "T.CODE=0", [](TIB_Statement& Q) { return Q.GetFields()->GetColumns(0)->GetColumnName(); },
       "CODE"},
      {fplReadOnly, false, "T.NAME=True NOINSERT",
       [&](TIB_Statement& Q) {
         TIB_Column* c = col(Q, "NAME");
         return IntToStr(c->GetReadOnly()) + IntToStr(c->GetPreventEditing()) + IntToStr(c->GetPreventInserting()) +
                IntToStr(c->GetPreventSearching());
       },
       "1010"},
      {fplReadOnly, true, "T.NAME=NOSEARCH",
       [&](TIB_Statement& Q) { return IntToStr(col(Q, "NAME")->GetPreventSearching()); }, "1"},
      {fplTrimming, false, "T.NAME=Sentence", [&](TIB_Statement& Q) { return IntToStr(col(Q, "NAME")->GetTrimming()); },
       "5"},
      // Without an entry a fixed-length text column is trimmed on the right, anything else not at all.
      {fplTrimming, false, "T.ID=L",
       [&](TIB_Statement& Q) {
         return IntToStr(col(Q, "ID")->GetTrimming()) + IntToStr(col(Q, "CODE")->GetTrimming()) +
                IntToStr(col(Q, "NAME")->GetTrimming());
       },
       "340"},
      {fplVisible, true, "T.NAME=False", [&](TIB_Statement& Q) { return IntToStr(col(Q, "NAME")->GetVisible()); }, "0"},
  };
  auto connectionList = [&](TIB_FieldsPropertyList List) -> TIB_StringProperty& {
    switch (List) {
      case fplCharCase: return Conn->GetFieldsCharCase();
      case fplDisplayLabel: return Conn->GetFieldsDisplayLabel();
      case fplEditMask: return Conn->GetFieldsEditMask();
      case fplReadOnly: return Conn->GetFieldsReadOnly();
      default: return Conn->GetFieldsVisible();
    }
  };
  for (const Case& c : cases) {
    TIB_DSQL* q = NewDSQL("SELECT ID, NAME, AMOUNT, CODE FROM T");
    TIB_StringProperty& list = c.OnConnection ? connectionList(c.List) : q->GetFieldsList(c.List);
    list.Add(c.Entry);
    q->Prepare();
    EXPECT_EQ(c.Expected, c.Value(*q)) << c.Entry;
    list.Clear();
    delete q;
  }
}

}  // namespace
