// Search texts and filter texts turned into WHERE conditions, each run on the engine against rows whose
// answer is known.
#include "dblib/sql/IB_ParseQBE.h"

#include "dblib/StatementTestSupport.h"
#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_SearchBuffer.h"

namespace {

class QBETest : public stmttest::StatementDbTest {
protected:
  void SetUp() override {
    StatementDbTest::SetUp();
    FormatSettings = TFormatSettings();
    Exec(
        "CREATE TABLE T (ID INTEGER, NAME VARCHAR(20), D DATE, TS TIMESTAMP, AMT NUMERIC(9,2), "
        "DBL DOUBLE PRECISION, TM TIME, SX INTEGER)");
    Tr->Commit();
    const char* rows[] = {
        "1, 'Apple', '2002-05-01', '2002-05-01 10:00', 10.5, 1.5, '10:00', 5",
        "2, 'apricot', '2002-05-02', '2002-05-02 00:00', 20, 2.25, '11:30', 7",
        "3, 'O''Brien', '2002-04-30', '2002-04-30 23:59:59', -5.25, 10, NULL, 7",
        "4, 'AB%C', NULL, NULL, NULL, NULL, NULL, 4",
        "5, 'Banana', '2002-05-01', '2002-05-01 23:00', 0, 0, '23:00', 6",
        "6, NULL, NULL, NULL, NULL, NULL, NULL, NULL",
        "7, '''a'' OR ''x''=''x''', NULL, NULL, NULL, NULL, NULL, NULL",
    };
    for (const char* r : rows) Exec(std::string("INSERT INTO T VALUES (") + r + ")");
    Tr->Commit();
  }

  // The prepared SELECT * FROM T, with Attributes as its column attributes.
  TIB_DSQL* Query(const std::string& Attributes = "") {
    TIB_DSQL* q = NewDSQL("SELECT * FROM T");
    q->GetColumnAttributes().SetText(Attributes);
    q->Prepare();
    return q;
  }
  // The ids of the rows that Lines select, in order, comma-separated.
  // Select gives the rows (ID first) and Columns names its columns.
  std::string Ids(const TStrings& Lines, const TStrings& Params, const std::string& Select = "SELECT ID FROM T",
                  const std::string& Columns = "ID") {
    // Conditions one after another are all required, as in the dataset's WHERE clause.
    std::string where;
    auto joiner = [](const std::string& L) { return L == "(" || L == ")" || L == "AND" || L == "OR"; };
    for (int i = 0; i < Lines.Count(); ++i) {
      if (i > 0 && !joiner(Lines[i - 1]) && !joiner(Lines[i])) where += " AND";
      where += "\r\n" + Lines[i];
    }
    TIB_DSQL* q = NewDSQL("SELECT CAST(LIST(ID, ',') AS VARCHAR(200)) FROM (" + Select + " WHERE " + where +
                          " ORDER BY 1) AS D (" + Columns + ")");
    q->Prepare();
    for (int i = 0; i < Params.Count(); ++i)
      q->ParamByName(Params.GetName(i))->SetAsString(Params.GetValueFromIndex(i));
    q->Execute();
    TIB_Column* c = q->GetFields()->GetColumns(0);
    std::string r = c->GetIsNull() ? "" : c->GetAsString();
    delete q;
    return r;
  }
  // Finds the columns of Q by name, as a dataset does.
  TIB_QBEFindColumn Finder(TIB_DSQL* Q) {
    return [this, Q](const std::string& Name) -> const TIB_QBEColumn* {
      TIB_Column* col = nullptr;
      if (!Q->GetFields()->FindByName(Name, col)) return nullptr;
      FFound = QBEColumnOf(*col);
      return &FFound;
    };
  }
  TIB_QBEColumn FFound;
  static std::string Joined(const TStrings& Lines) {
    std::string r;
    for (int i = 0; i < Lines.Count(); ++i) r += (i ? " | " : "") + Lines[i];
    return r;
  }
};

struct TSearchCase {
  const char* Column;
  const char* Attributes;
  const char* Text;
  const char* Ids;
  const char* Lines;  // the exact lines where they are worth pinning; empty: not checked
};

TEST_F(QBETest, SearchTextsSelectTheRowsTheyDescribe) {
  // The connection's soundex: the length of the text, which SX holds for every name.
  Conn->OnSoundExParse = [](TIB_Connection*, const std::string& S, std::string& R) { R = IntToStr(S.size()); };
  Conn->OnSoundExMaxParse = [](TIB_Connection*, const std::string& S, std::string& R) { R = IntToStr(S.size() + 1); };
  const TSearchCase cases[] = {
      {"NAME", "NAME=SOUNDEX=SX", "Pears", "1", "SX = 5"},
      {"NAME", "NAME=SOUNDEX=SX;NOTRAILING", "Pears", "1,5", "SX >= 5 AND SX <= 6"},
      {"NAME", "NAME=SOUNDEX=SX;NOSOUNDEX", "Pears", "", "T.NAME = 'Pears'"},
      {"ID", "", "3", "3", "ID = 3"},
      {"ID", "", ">=3", "3,4,5,6,7", "ID >= 3"},
      {"ID", "", "in(1,3)", "1,3", "ID IN( 1, 3 )"},
      {"ID", "", "between 2 and 4", "2,3,4", ""},
      {"ID", "", "is not null", "1,2,3,4,5,6,7", "ID is not null"},
      {"NAME", "", "is null", "6", ""},
      {"NAME", "", "Apple", "1", "T.NAME = 'Apple'"},
      {"NAME", "", "AB*", "4", "T.NAME LIKE 'AB%'"},
      {"NAME", "", "A?p*", "1", ""},
      {"NAME", "", "AB\\%C", "4", "T.NAME = 'AB%C'"},
      {"NAME", "", "<>A*", "2,3,5,7", "T.NAME NOT LIKE 'A%'"},
      {"NAME", "", "O'Brien", "3", "T.NAME = 'O''Brien'"},
      {"NAME", "", "'O''Brien'", "3", ""},
      // Not one literal: the whole text is the value.
      {"NAME", "", "'a' OR 'x'='x'", "7", ""},
      {"NAME", "", "in('Apple', x' OR 1=1)", "1", "T.NAME IN( 'Apple', 'x'' OR 1=1' )"},
      {"NAME", "", "THIS IS NULL", "", "T.NAME = 'THIS IS NULL'"},
      {"NAME", "", "like ap*", "2", "T.NAME like 'ap%'"},
      {"NAME", "", "not like A*", "2,3,5,7", ""},
      {"NAME", "", "starting with Ba", "5", "T.NAME starting 'Ba'"},
      {"NAME", "", "containing AN", "5", ""},
      {"NAME", "", "between A and B", "1,4", ""},
      {"NAME", "NAME=NOTRAILING", "App", "1", "T.NAME STARTING 'App'"},
      {"NAME", "NAME=YESLIKE", "pp", "1", "T.NAME CONTAINING 'pp'"},
      {"NAME", "NAME=YESLIKE", "Pp", "", "T.NAME LIKE '%Pp%'"},
      {"NAME", "NAME=NOCASE", "apple", "1", "UPPER( T.NAME ) = 'APPLE'"},
      {"D", "", "5/1/2002", "1,5", "D = '05/01/2002'"},
      {"D", "", "5/1/2002 10:00", "1,5", "D = '05/01/2002'"},
      {"D", "", ">5/1/2002", "2", ""},
      {"D", "", "in(5/2/2002,4/30/2002)", "2,3", ""},
      {"TS", "", "5/1/2002", "1,5", "TS >= '05/01/2002' | TS <  '05/02/2002'"},
      {"TS", "", "<>5/1/2002", "2,3", "( | TS < '05/01/2002' | OR | TS >= '05/02/2002' | )"},
      {"TS", "", "<=5/1/2002", "1,3,5", "TS < '05/02/2002'"},
      {"TS", "", ">5/1/2002", "2", "TS >= '05/02/2002'"},
      {"TS", "", "5/1/2002 10:00", "1", "TS = '05/01/2002 10:00:00'"},
      {"TS", "", "between 5/1/2002 and 5/2/2002", "1,2,5", ""},
      {"TS", "", "today", "", ""},
      {"AMT", "", "10.5", "1", "AMT = 10.5"},
      {"AMT", "", "<0", "3", ""},
      {"DBL", "", "10", "3", ""},
      {"DBL", "DBL=NOROUNDERR", "2.25", "2", ""},
      {"DBL", "DBL=CURR", "in(1.5,10)", "1,3", ""},
      {"TM", "", "10:00", "1", "TM = '10:00'"},
  };
  for (const TSearchCase& c : cases) {
    SCOPED_TRACE(std::string(c.Column) + " " + c.Text);
    TIB_DSQL* q = Query(c.Attributes);
    TStringList lines, params;
    SearchBufferToSQL(q->FieldByName(c.Column), c.Text, &lines, nullptr, &params);
    if (*c.Lines) {
      EXPECT_EQ(Joined(lines), c.Lines);
    }
    EXPECT_EQ(Ids(lines, params), c.Ids) << Joined(lines);
    delete q;
  }
}

// A WHERE clause cannot name an alias: an expression is searched by its SELECT item, a renamed column by
// its source column as the SELECT list writes it.
TEST_F(QBETest, SearchTextsOnExpressionsAndRenamedColumnsNameWhatTheEngineKnows) {
  struct {
    const char* Select;  // ID first, the column searched second
    const char* Attributes;
    const char* Text;
    const char* Ids;
    const char* Lines;
  } const cases[] = {
      {"SELECT ID, ID * 2 AS TWICE FROM T", "", "4", "2", "ID * 2 = 4"},
      {"SELECT ID, ID * 2 TWICE FROM T", "", ">=12", "6,7", "ID * 2 >= 12"},
      {"SELECT ID, ID + 1 FROM T", "", "3", "2", "ID + 1 = 3"},
      {"SELECT ID, NAME || '!' AS BANG FROM T", "", "Apple!", "1", "NAME || '!' = 'Apple!'"},
      {"SELECT ID, (SELECT MAX(ID) FROM T) AS TOP FROM T", "", "7", "1,2,3,4,5,6,7", ""},
      {"SELECT ID, ID AS J FROM T", "", "3", "3", "ID = 3"},
      {"SELECT ID, X.ID AS K FROM T X", "", "in(3,4)", "3,4", "X.ID IN( 3, 4 )"},
      {"SELECT ID, NAME AS N FROM T", "", "Apple", "1", "NAME = 'Apple'"},
      {"SELECT ID, NAME \"Label\" FROM T", "", "AB*", "4", "NAME LIKE 'AB%'"},
      {"SELECT ID, NAME AS N FROM T", "N=NOCASE", "apple", "1", "UPPER( NAME ) = 'APPLE'"},
      {"SELECT ID, TS AS STAMP FROM T", "", "5/1/2002", "1,5", "TS >= '05/01/2002' | TS <  '05/02/2002'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Select) + " / " + c.Text);
    TIB_DSQL* q = NewDSQL(c.Select);
    q->GetColumnAttributes().SetText(c.Attributes);
    q->Prepare();
    TStringList lines, params;
    SearchBufferToSQL(q->GetFields()->GetColumns(1), c.Text, &lines, nullptr, &params);
    if (*c.Lines) {
      EXPECT_EQ(Joined(lines), c.Lines);
    }
    EXPECT_EQ(Ids(lines, params, c.Select, "ID, C"), c.Ids) << Joined(lines);
    delete q;
  }
}

// The same for a filter that names a renamed column or an expression by the name the dataset shows.
TEST_F(QBETest, FiltersOnExpressionsAndRenamedColumnsNameWhatTheEngineKnows) {
  constexpr TIB_FilterOptions ci = 1 << fopCaseInsensitive;
  struct {
    const char* Select;
    TIB_FilterOptions Options;
    const char* Filter;
    const char* Ids;
    const char* Lines;
    const char* Attributes = "";
  } const cases[] = {
      {"SELECT ID, ID * 2 AS TWICE FROM T", 0, "TWICE = 4 OR TWICE > 12", "2,7",
       "( | ID * 2 = 4 | OR | ID * 2 > 12 | )"},
      {"SELECT ID, X.ID AS K FROM T X", 0, "K BETWEEN 2 AND 3", "2,3", "( | X.ID BETWEEN 2 AND 3 | )"},
      {"SELECT ID, NAME AS N FROM T", ci, "N = 'apple'", "1", "( | UPPER( NAME ) = UPPER( 'apple' ) | )"},
      {"SELECT ID, NAME AS N FROM T", 0, "ID = 3", "3", "( | ID = 3 | )"},
      {"SELECT ID, NAME || '!' AS BANG FROM T", ci, "BANG = 'apple!'", "1",
       "( | UPPER( NAME || '!' ) = UPPER( 'apple!' ) | )"},
      {"SELECT ID, NAME AS N FROM T", ci, "N = 'APPLE'", "1", "( | UPPER( NAME ) = UPPER( 'APPLE' ) | )", "N=NOCASE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Select) + " / " + c.Filter);
    TIB_DSQL* q = NewDSQL(c.Select);
    q->GetColumnAttributes().SetText(c.Attributes);
    q->Prepare();
    TStringList lines, params;
    FilterToSQL(c.Filter, c.Options, Finder(q), lines);
    EXPECT_EQ(Joined(lines), c.Lines);
    EXPECT_EQ(Ids(lines, params, c.Select, "ID, C"), c.Ids) << Joined(lines);
    delete q;
  }
}

TEST_F(QBETest, ProcessSearchBufferHookMayTakeOver) {
  Conn->OnProcessSearchBuffer = [](TIB_Connection*, TIB_Column*, std::string& Text, TStrings* Where, TStrings*,
                                   TStrings*, bool& Default) {
    if (Text == "mine") {
      Where->Add("ID = 2");
      Default = false;
    }
    Text = "3";
  };
  TIB_DSQL* q = Query();
  TStringList lines, params;
  SearchBufferToSQL(q->FieldByName("ID"), "mine", &lines, nullptr, &params);
  SearchBufferToSQL(q->FieldByName("ID"), "1", &lines, nullptr, &params);
  EXPECT_EQ(Joined(lines), "ID = 2 | ID = 3");
  delete q;
}

struct TFilterCase {
  TIB_FilterOptions Options;
  const char* Filter;
  const char* Ids;
  const char* Lines;
};

TEST_F(QBETest, FiltersSelectTheRowsTheyDescribe) {
  constexpr TIB_FilterOptions ci = 1 << fopCaseInsensitive, np = 1 << fopNoPartialCompare;
  const TFilterCase cases[] = {
      {0, "NAME = 'Banana' AND (ID > 1 OR AMT < 0)", "5", "( | NAME = 'Banana' | AND | ( | ID > 1 | OR | AMT < 0) | )"},
      {0, "NAME = 'App*'", "1", "( | NAME STARTING 'App' | )"},
      {np, "NAME = 'App*'", "", ""},
      {ci, "NAME = 'apple'", "1", "( | UPPER( T.NAME ) = UPPER( 'apple' ) | )"},
      {ci, "NAME IN ('apple', 'BANANA')", "1,5", ""},
      {0, "NAME IS NULL", "6", "( | NAME IS NULL | )"},
      {0, "NAME is not null and ID>=7", "7", ""},
      {0, "NAME LIKE 'THIS IS NULL'", "", "( | NAME LIKE 'THIS IS NULL' | )"},
      {0, "NAME = \"O'Brien\"", "3", "( | NAME = 'O''Brien' | )"},
      {0, "NAME=Apple", "1", "( | NAME = 'Apple' | )"},
      {0, "[NAME] STARTING WITH 'Ba'", "5", "( | NAME STARTING 'Ba' | )"},
      {0, "NAME LIKE 'AB\\%%' ESCAPE '\\'", "4", ""},
      {0, "NAME NOT LIKE 'A%'", "2,3,5,7", ""},
      {0, "ID IN (1, 3)", "1,3", "( | ID IN ( 1, 3 ) | )"},
      {0, "ID IN(1,3) OR ID = 5", "1,3,5", ""},
      {0, "ID NOT IN (1,2,3,4)", "5,6,7", ""},
      {0, "ID BETWEEN 2 AND 4", "2,3,4", ""},
      {0, "(ID = '2')", "2", "( | ( | ID = 2) | )"},
      {0, "AMT < -5", "3", ""},
      {0, "D = \"5/1/2002\"", "1,5", "( | D = '05/01/2002' | )"},
      {0, "D = '5/1/2002 10:00'", "1,5", "( | D = '05/01/2002' | )"},
      {0, "TS > '5/1/2002 10:00'", "2,5", ""},
      {0, "ID = 4", "4", ""},
      {0, "ID == 4", "4", "( | ID = 4 | )"},
      {0, "ID>=7", "7", "( | ID >= 7 | )"},
  };
  for (const TFilterCase& c : cases) {
    SCOPED_TRACE(c.Filter);
    TIB_DSQL* q = Query();
    TStringList lines, params;
    FilterToSQL(c.Filter, c.Options, Finder(q), lines);
    if (*c.Lines) {
      EXPECT_EQ(Joined(lines), c.Lines);
    }
    EXPECT_EQ(Ids(lines, params), c.Ids) << Joined(lines);
    delete q;
  }
}

// Search texts (for a column) and filters (no column) that are refused, with the message.
TEST_F(QBETest, BadInputIsRefusedWithAClearMessage) {
  struct TCase {
    const char* Column;  // nullptr: a filter
    const char* Text;
    const char* Message;
  };
  const TCase cases[] = {
      {"ID", "1 OR 1=1", "Invalid number for ID: 1 OR 1=1"},
      {"AMT", "=abc", "Invalid number for AMT: abc"},
      {"ID", "in(1,x)", "Invalid number for ID: X"},
      {"ID", "in(1,2", "Invalid SearchBuffer IN() clause"},
      {"NAME", "in('a'", "Invalid SearchBuffer IN() clause"},
      {"ID", "between 1", "BETWEEN value AND value syntax error"},
      {nullptr, "ID = 1) OR (1 = 1", "Invalid Filter syntax: )"},
      {nullptr, "NAME = 'x'; DELETE FROM T", "Invalid Filter Syntax: DELETE FROM T"},
      {nullptr, "NAME = 'x' DELETE FROM T", "Invalid Filter Syntax: DELETE FROM T"},
      {nullptr, "NAME -- = 'x'", "Invalid Filter syntax: --"},
      {nullptr, "NAME = 'x", "Invalid Filter syntax"},
      {nullptr, "ID = abc", "Invalid number for ID: abc"},
      {nullptr, "ID BETWEEN 1 2", "Invalid Filter syntax: BETWEEN"},
      {nullptr, "ID IN 1", "Invalid Filter syntax: IN()"},
      {nullptr, "ID IN (1, 2", "Invalid Filter syntax: ("},
      {nullptr, "ID = 1 AND", "Invalid Filter Syntax: ID = 1 AND"},
      {nullptr, "NA'ME' = 1", "Invalid Filter syntax: NA'ME'"},
      {nullptr, "NAME IN ('a', x(, 'b'))", "Invalid Filter syntax: x("},
      {nullptr, "NAME LIKE 'a%' ESCAPE x", "Invalid Filter syntax: ESCAPE"},
      // An operator mistyped is refused, not read as the comparison it starts with.
      {nullptr, "ID >> 5", "Invalid Filter syntax: >>"},
      {nullptr, "ID<<5", "Invalid Filter syntax: <<"},
      {nullptr, "ID !! 5", "Invalid Filter syntax: !!"},
      {nullptr, "ID <>= 5", "Invalid Filter syntax: <>="},
  };
  for (const TCase& c : cases) {
    TIB_DSQL* q = Query();
    TStringList lines, params;
    try {
      if (c.Column) {
        SearchBufferToSQL(q->FieldByName(c.Column), c.Text, &lines, nullptr, &params);
      } else {
        FilterToSQL(c.Text, 0, Finder(q), lines);
      }
      ADD_FAILURE() << c.Text << " gave " << Joined(lines);
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.Message) << c.Text;
    }
    delete q;
  }
}

}  // namespace
