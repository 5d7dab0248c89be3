// Text handled safely: names that carry SQL of their own stay names, search mode takes its criteria from
// the data links only, malformed text finds nothing, and errors name statements by their classes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LinkTestSupport.h"
#include "dblib/IB_CharSets.h"
#include "dblib/sql/IB_SearchBuffer.h"

namespace {

using testsupport::MessageOf;

class SafeTextTest : public datasettest::DatasetDbTest {
protected:
  TIB_DataSource* Source = new TIB_DataSource(Owner);
  // The link of an edit control over one column: in search mode it hands its text over as criteria.
  TIB_ControlDataLink* Criteria = new TIB_ControlDataLink(Owner);
  std::string CriteriaColumn;

  void Searchable(TIB_Dataset* D, const std::string& Column) {
    Source->SetDataset(D);
    Criteria->SetDataSource(Source);
    CriteriaColumn = Column;
  }
  // What the control does with the text typed into it in search mode: its criterion for the column.
  void Type(const std::string& Text) {
    TIB_Dataset* d = Criteria->GetDataset();
    TStringList lines, params;
    SearchBufferToSQL(d->FieldByName(CriteriaColumn), Text, &lines, nullptr, &params);
    std::string where;
    for (int i = 0; i < lines.Count(); ++i) where += (i ? " AND " : "") + lines.Get(i);
    Criteria->SetSearchBuffer(Text);
    Criteria->SetSearchWhere(where);
  }
  static std::string Ids(TIB_Dataset* D) {
    std::string ids;
    for (; !D->GetEof(); D->Next()) ids += (ids.empty() ? "" : ",") + D->FieldByName("ID")->GetAsString();
    return ids;
  }
  void Reconnect(const char* CharSet) {
    if (Tr->GetStarted()) Tr->Commit();
    Conn->Disconnect();
    Conn->SetCharSet(CharSet);
    Conn->Connect();
  }
};

// ---- names that carry SQL ---------------------------------------------------------------------------

// A column named "K" IS NOT NULL OR "K" is one name: a search for 2 finds the one row that holds 2 (it
// found all five when the name went into the WHERE clause as it stood).
TEST_F(SafeTextTest, AColumnNameThatLooksLikeAConditionStaysOneName) {
  Exec("CREATE TABLE Q (ID INTEGER NOT NULL PRIMARY KEY, \"\"\"K\"\" IS NOT NULL OR \"\"K\"\"\" INTEGER)");
  Tr->Commit();
  for (int i = 1; i <= 5; ++i) Exec("INSERT INTO Q VALUES (" + std::to_string(i) + ", " + std::to_string(i) + ")");
  Tr->Commit();
  TIB_Query* q = NewQuery("SELECT * FROM Q ORDER BY ID");
  q->SetRequestLive(true);
  Searchable(q, "\"\"\"K\"\" IS NOT NULL OR \"\"K\"\"\"");
  q->EnterSearchMode();
  Type("2");
  q->PostSearch();
  EXPECT_EQ("2", Ids(q));
  EXPECT_EQ(1, q->GetRecordCount());
  // Edited and read back: the update statement names it whole too.
  q->First();
  q->Edit();
  q->GetFields()->GetColumns(1)->SetAsInteger(20);
  q->Post();
  Tr->Commit();
  EXPECT_EQ("1 1;2 20;3 3;4 4;5 5",
            ReadSecond("SELECT ID, \"\"\"K\"\" IS NOT NULL OR \"\"K\"\"\" FROM Q ORDER BY ID", " "));
}

// A generator name that would close its quotes and call a function reads the generator of that name.
TEST_F(SafeTextTest, AGeneratorNameThatCarriesAFunctionCallReadsThatGenerator) {
  const std::string name = "\"G\", 0) + EVIL() + GEN_ID(\"G\"",
                    quoted = "\"\"\"G\"\", 0) + EVIL() + GEN_ID(\"\"G\"\"\"";
  Exec("CREATE SEQUENCE G");
  Exec("CREATE SEQUENCE " + quoted);
  Exec("CREATE FUNCTION EVIL RETURNS BIGINT AS BEGIN RETURN 1000; END");
  Tr->Commit();
  Exec("ALTER SEQUENCE " + quoted + " RESTART WITH 41");
  Tr->Commit();
  TIB_DSQL* d = NewDSQL();
  EXPECT_EQ(42, d->Gen_ID(name, 1));    // the name ran EVIL() and read G twice: 1000
  EXPECT_EQ(42, d->Gen_ID(quoted, 0));  // the same name, quoted
  EXPECT_EQ(0, d->Gen_ID("G", 0));
}

// ---- search mode --------------------------------------------------------------------------------------

// In search mode the criteria live in the data links: a value the application writes into a column is
// refused with a message that says so (it was dropped, and the search returned every row), before its
// text is read (">100" into a NUMERIC raised a conversion error). Back in browse mode the columns take
// values again.
TEST_F(SafeTextTest, AWriteIntoAColumnInSearchModeIsRefused) {
  Exec("CREATE TABLE A (ID INTEGER NOT NULL PRIMARY KEY, CODE VARCHAR(4), SEATS NUMERIC(9,2), DAY_ DATE)");
  Tr->Commit();
  Exec("INSERT INTO A VALUES (1, 'VIE', 120, '2025-06-01')");
  Exec("INSERT INTO A VALUES (2, 'LHR', 90, '2025-06-02')");
  Tr->Commit();
  TIB_Query* q = NewQuery("SELECT ID, CODE, SEATS, DAY_ FROM A ORDER BY ID");
  q->SetRequestLive(true);
  Searchable(q, "CODE");
  q->Open();
  q->EnterSearchMode();
  const std::string tail =
      " in search mode: a search takes its criteria from the data links (a control's link hands its text over "
      "with SetSearchBuffer), not from the columns";
  EXPECT_EQ("Cannot write A.CODE" + tail,
            MessageOf<EIB_DatasetError>([&] { q->FieldByName("CODE")->SetAsString("VIE"); }));
  EXPECT_EQ("Cannot write A.SEATS" + tail,
            MessageOf<EIB_DatasetError>([&] { q->FieldByName("SEATS")->SetAsString(">100"); }));
  EXPECT_EQ("Cannot write A.SEATS" + tail,
            MessageOf<EIB_DatasetError>([&] { q->FieldByName("SEATS")->SetAsInteger(100); }));
  EXPECT_EQ("Cannot write A.DAY_" + tail,
            MessageOf<EIB_DatasetError>([&] { q->FieldByName("DAY_")->SetAsString("6/1/2025"); }));
  EXPECT_EQ("Cannot write A.ID" + tail, MessageOf<EIB_DatasetError>([&] { q->FieldByName("ID")->Clear(); }));
  EXPECT_EQ(dssSearch, q->GetState());
  // The link's text is the search.
  Type("VIE");
  q->PostSearch();
  EXPECT_EQ(dssBrowse, q->GetState());
  EXPECT_EQ("1", Ids(q));
  // Cancelled, the search leaves the columns writable again.
  q->EnterSearchMode();
  q->Cancel();
  q->Open();
  q->FieldByName("CODE")->SetAsString("LOWW");
  EXPECT_EQ(dssEdit, q->GetState());
  q->Post();
  Tr->Commit();
  EXPECT_EQ("1 LOWW;2 LHR", ReadSecond("SELECT ID, CODE FROM A ORDER BY ID", " "));
}

// ---- errors ---------------------------------------------------------------------------------------------

// The SQL lines of an error name the failing statement by its class: the dataset's update statement is a
// TIB_UpdateStatement, not the compiler's spelling of an internal type.
TEST_F(SafeTextTest, AnErrorNamesItsStatementByItsClass) {
  Fill(2);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T ORDER BY ID");
  q->SetName("flights");
  q->SetRequestLive(true);
  q->Open();
  q->Insert();
  q->FieldByName("ID")->SetAsInteger(1);  // taken
  try {
    q->Post();
    FAIL() << "a duplicate key was posted";
  } catch (const EIB_ISCError& e) {
    const std::string sql = e.SQL().GetText();
    EXPECT_NE(std::string::npos, sql.find("STATEMENT:\r\nTIB_UpdateStatement: \"")) << sql;
    EXPECT_EQ(std::string::npos, sql.find("::")) << sql;
  }
  q->Cancel();
}

// ---- malformed text ---------------------------------------------------------------------------------------

// Through a UTF8 connection a search text that is no UTF-8 (a cut character, a byte no character starts
// with, an overlong form, a surrogate) finds no row, whatever set the column keeps its text in (over an
// ISO8859_1 column it matched row 1).
TEST_F(SafeTextTest, AnIncrementalSearchWithMalformedUtf8FindsNothing) {
  Exec("CREATE TABLE L (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) CHARACTER SET ISO8859_1)");
  Exec("CREATE TABLE U (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20) CHARACTER SET UTF8)");
  Tr->Commit();
  Reconnect("UTF8");
  const char* rows[] = {"\xC3\x84rger", "n\xC3\xA4he", "nord", "\303\274ber"};  // Ärger nähe nord über
  for (const char* table : {"L", "U"})
    for (int i = 0; i < 4; ++i)
      Exec(std::string("INSERT INTO ") + table + " VALUES (" + std::to_string(i + 1) + ", '" + rows[i] + "')");
  Tr->Commit();
  for (const char* table : {"L", "U"}) {
    for (const char* links : {"NAME=ITEM=1", "NAME=ITEM=1;POS"}) {
      SCOPED_TRACE(std::string(table) + " " + links);
      TIB_Query* q = NewQuery(std::string("SELECT ID, NAME FROM ") + table);
      q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
      q->GetOrderingLinks().SetText(links);
      q->SetOrderingItemNo(1);
      q->Open();
      EXPECT_TRUE(q->IncSearchString("n\xC3\xA4", 1, false));
      EXPECT_EQ(2, q->FieldByName("ID")->GetAsInteger());
      for (const char* bad : {"\xC3", "n\xFF", "\xC0\xAF", "\xED\xA0\x80"}) {
        bool found = true;
        try {
          found = q->IncSearchString(bad, 1, false);
        } catch (const EIB_Error&) {
          found = false;
        }
        EXPECT_FALSE(found) << bad;
        EXPECT_EQ(2, q->FieldByName("ID")->GetAsInteger()) << bad;
      }
      delete q;
    }
  }
}

}  // namespace
