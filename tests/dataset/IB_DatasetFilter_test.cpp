// The client's comparisons of buffered values, checked against the order the server gives them.
#include "dblib/dataset/IB_DatasetFilter.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "../dblib/StatementTestSupport.h"
#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/Forms.h"

namespace {

class DatasetFilterTest : public stmttest::StatementDbTest {
protected:
  // NONE: values travel as the bytes of their columns' own character sets.
  explicit DatasetFilterTest(const char* CharSet = "NONE") : FCharSet(CharSet) {}
  void SetUp() override {
    StatementDbTest::SetUp();
    Conn->Disconnect();
    Conn->SetCharSet(FCharSet);
    Conn->Connect();
  }
  const char* FCharSet;
  // How many rows of W lie at or after the search value of Text in each direction.
  void CheckBounds(const char* Column, const char* Text, int Expected) {
    TIB_DSQL* all = NewDSQL("SELECT * FROM W");
    all->Prepare();
    for (bool descending : {false, true}) {
      SCOPED_TRACE(std::string(Column) + (descending ? " desc" : " asc"));
      bool drop = true;
      const std::string value = OrderingSearchValue(*all->FieldByName(Column), Text, descending, drop);
      ASSERT_FALSE(drop);
      TIB_DSQL* q = NewDSQL(std::string("SELECT COUNT(*) FROM W WHERE ") + Column + (descending ? " <= ?" : " >= ?"));
      q->Prepare();
      AssignOrderingSearchValue(*q->GetParams()->GetColumns(0), value);
      q->Execute();
      EXPECT_EQ(q->GetFields()->GetColumns(0)->GetAsInteger(), Expected) << value;
      delete q;
    }
    delete all;
  }
};

class Utf8FilterTest : public DatasetFilterTest {
protected:
  Utf8FilterTest() : DatasetFilterTest("UTF8") {}
};

// The server's dense rank of every value (ORDER BY Expr) against the client's, for each character set.
TEST_F(DatasetFilterTest, TextComparisonAgreesWithTheServersOrder) {
  struct TCase {
    const char* CharSet;
    int32_t Id;
    std::vector<std::string> Values;
  };
  const std::vector<std::string> common = {"a", "B", "b", "a ", "ab", "a\x01", "", "z", "Z", "\x7f", "A", " a"};
  auto with = [&](std::vector<std::string> Extra) {
    Extra.insert(Extra.end(), common.begin(), common.end());
    return Extra;
  };
  const TCase cases[] = {
      {"NONE", 0, with({"\xe9", "\xc9", "\xff", "\xe9t\xe9"})},
      {"OCTETS", 1, with({"\xe9", "\xff", "a\xff"})},
      {"UTF8", 4,
       with({"\xc3\xa9", "\xc3\x89", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xc3\xa9t\xc3\xa9", "\xef\xbf\xbd"})},
      {"WIN1252", 53, with({"\xe9", "\xc9", "\x80", "\xf7", "\xd7"})},
      {"ISO8859_1", 21,
       with({"\xe9", "\xc9", "\xff",
             "\xe0"
             "b",
             "\xc0"
             "a",
             "\xfe", "\xde"})},
  };
  for (const TCase& c : cases) {
    for (bool caseInsensitive : {false, true}) {
      SCOPED_TRACE(std::string(c.CharSet) + (caseInsensitive ? " UPPER" : ""));
      Exec("RECREATE TABLE V (ID INTEGER, S VARCHAR(8) CHARACTER SET " + std::string(c.CharSet) + ")");
      Tr->Commit();
      for (size_t i = 0; i < c.Values.size(); ++i) {
        std::string hex;
        for (unsigned char ch : c.Values[i]) hex += "0123456789ABCDEF"[ch >> 4], hex += "0123456789ABCDEF"[ch & 15];
        Exec("INSERT INTO V VALUES (" + std::to_string(i) + ", CAST(" +
             (hex.empty() ? std::string("''") : "X'" + hex + "'") + " AS VARCHAR(8) CHARACTER SET OCTETS))");
      }
      const std::string expr = caseInsensitive ? "UPPER(S)" : "S";
      const std::string server = Scalar(
          "SELECT CAST(LIST(R, ',') AS VARCHAR(400)) FROM (SELECT ID, DENSE_RANK() "
          "OVER (ORDER BY " +
          expr + ") R FROM V ORDER BY ID)");
      // The client's dense ranks by the same comparison.
      std::vector<size_t> order(c.Values.size());
      std::iota(order.begin(), order.end(), 0);
      auto cmp = [&](size_t a, size_t b) {
        return CompareTextAsServer(c.Id, c.Values[a], c.Values[b], caseInsensitive);
      };
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return cmp(a, b) < 0; });
      std::vector<int> rank(c.Values.size());
      for (size_t i = 0, r = 0; i < order.size(); ++i) {
        if (i == 0 || cmp(order[i - 1], order[i]) != 0) ++r;
        rank[order[i]] = static_cast<int>(r);
      }
      std::string client;
      for (size_t i = 0; i < rank.size(); ++i) client += (i ? "," : "") + std::to_string(rank[i]);
      EXPECT_EQ(client, server);
    }
  }
}

// The rows of an open query, as comma-separated ids.
std::string Ids(TIB_Dataset* D) {
  std::string r;
  for (D->First(); !D->GetEof(); D->Next()) r += (r.empty() ? "" : ",") + D->GetFields()->GetColumns(0)->GetAsString();
  return r;
}

TIB_Query* NewQuery(TComponent* Owner, TIB_Connection* Conn, TIB_Transaction* Tr, const std::string& SQL) {
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText(SQL);
  return q;
}

// A filter written by the client (OnFilterRecord comparing as the server does) keeps the rows the server
// keeps for the same condition, for each character set.
TEST_F(DatasetFilterTest, ClientFilterAgreesWithTheServersFilter) {
  Exec(
      "CREATE TABLE U (ID INTEGER NOT NULL PRIMARY KEY, A VARCHAR(10) CHARACTER SET NONE, "
      "B VARCHAR(10) CHARACTER SET OCTETS, C VARCHAR(10) CHARACTER SET UTF8)");
  Tr->Commit();
  const char* values[] = {"a", "B", "b", "a ", "ab", "", "z", "Z", "\xc3\xa9", "\xc3\x89t", "\xe2\x82\xac", "A"};
  int id = 0;
  for (const char* v : values) {
    const std::string lit = "'" + std::string(v) + "'";
    Exec("INSERT INTO U VALUES (" + std::to_string(++id) + ", " + lit + ", " + lit + ", " + lit + ")");
  }
  Tr->Commit();
  for (const char* column : {"A", "B", "C"}) {
    for (const char* bound : {"a", "B", "\xc3\xa9", "a "}) {
      SCOPED_TRACE(std::string(column) + " >= " + bound);
      TIB_Query* q = NewQuery(Owner, Conn, Tr, "SELECT ID, A, B, C FROM U ORDER BY ID");
      q->SetFilter(std::string(column) + " >= '" + bound + "'");
      q->SetFiltered(true);
      q->Open();
      const std::string server = Ids(q);
      q->SetFiltered(false);
      q->SetOnFilterRecord([&](TIB_Row* Row, bool& Accept) {
        TIB_Column* c = Row->ColumnByName(column);
        // The bytes as fetched (the text getter trims trailing blanks, which OCTETS keeps as data).
        const XSQLVAR* v = c->GetPSQLVAR();
        const std::string raw(v->sqldata + 2, static_cast<uint8_t>(v->sqldata[0]) | (v->sqldata[1] << 8));
        Accept = !c->GetIsNull() && CompareTextAsServer(c->GetSQLSubType(), raw, bound, false) >= 0;
      });
      q->SetFiltered(true);
      q->SetFilter("");
      EXPECT_EQ(Ids(q), server);
      delete q;
    }
  }
}

class QueryFilterTest : public datasettest::DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Fill(12);
  }
  TIB_Query* Query(const std::string& SQL = "SELECT ID, NAME, GRP FROM T ORDER BY ID") {
    return NewQuery(SQL);
  }
};

TEST_F(QueryFilterTest, FilterTextSelectsTheRowsOnTheServer) {
  constexpr TIB_FilterOptions ci = 1 << fopCaseInsensitive, np = 1 << fopNoPartialCompare;
  struct TCase {
    const char* Filter;
    TIB_FilterOptions Options;
    const char* Plan;
    const char* Ids;
  };
  const TCase cases[] = {
      {"GRP = 1", 0, "", "1,4,7,10"},
      {"NAME = 'n1*'", 0, "", "1,10,11,12"},
      {"NAME = 'n1*'", np, "", ""},
      {"NAME = 'N2'", ci, "", "2"},
      {"(GRP = 0 OR ID < 3) AND NAME <> 'n6'", 0, "", "1,2,3,9,12"},
      {"ID BETWEEN 3 AND 5", 0, "(T NATURAL)", "3,4,5"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Filter);
    TIB_Query* q = Query();
    q->SetFilter(c.Filter);
    q->SetFilterOptions(c.Options);
    q->SetFilterPlan(c.Plan);
    q->SetFiltered(true);
    q->Open();
    EXPECT_EQ(Ids(q), c.Ids);
    delete q;
  }
}

TEST_F(QueryFilterTest, ChangingTheFilterReopensOnlyWhileFiltered) {
  TIB_Query* q = Query();
  q->Open();
  q->SetFilter("ID > 10");
  EXPECT_EQ(Ids(q), "1,2,3,4,5,6,7,8,9,10,11,12");
  q->SetFiltered(true);
  EXPECT_EQ(Ids(q), "11,12");
  q->SetFilter("ID < 3");
  EXPECT_EQ(Ids(q), "1,2");
  q->SetOnFilterRecord([](TIB_Row* Row, bool& Accept) { Accept = Row->ColumnByName("ID")->GetAsInteger() != 1; });
  EXPECT_EQ(Ids(q), "2");
  q->SetFiltered(false);
  EXPECT_EQ(Ids(q), "1,2,3,4,5,6,7,8,9,10,11,12");
  delete q;
}

// A filter set after the transaction ended prepares the query in a new one.
TEST_F(QueryFilterTest, AFilterSetAfterACommitPreparesInANewTransaction) {
  TIB_Query* q = Query();
  q->Open();
  Tr->Commit();
  ASSERT_FALSE(Tr->GetStarted());
  q->SetFilter("ID > 10");
  q->SetFiltered(true);
  EXPECT_TRUE(q->GetPrepared());
  EXPECT_EQ(Ids(q), "11,12");
  delete q;
}

TEST_F(QueryFilterTest, RowsAreSelectedOneByOneOrTogether) {
  TIB_Query* q = Query();
  std::string events;
  q->OnRowSelectedChanged = [&](TIB_BDataset*, int32_t Row, const std::string& Bookmark, bool On) {
    events += std::to_string(Row) + (On ? "+" : "-") + Bookmark + " ";
  };
  int multi = 0;
  q->OnMultiSelect = [&](TObject*) { ++multi; };
  q->Open();
  q->SetRowNum(3);
  const std::string mark3 = q->GetBookmark();
  q->SetRowNum(2);
  const std::string mark2 = q->GetBookmark();
  q->SetRowSelected(3, true);
  q->SetRowSelected(2, true);
  EXPECT_TRUE(q->GetRowSelected(3));
  EXPECT_FALSE(q->GetRowSelected(4));
  EXPECT_EQ(q->GetRowNum(), 2);
  EXPECT_THROW(q->SetRowSelected(3, true), EIB_DatasetError);
  q->SetRowSelected(3, false);
  q->SetRowSelected(99, true);  // no such row: nothing
  EXPECT_EQ(events, "3+" + mark3 + " 2+" + mark2 + " 3-" + mark3 + " ");
  q->SelectRange(5, 4, true, true);
  std::string selected;
  for (int r = 1; r <= 12; ++r) selected += q->GetRowSelected(r) ? '1' : '0';
  EXPECT_EQ(selected, "000110000000");
  q->SelectAll(true);
  EXPECT_TRUE(q->GetRowSelected(12));
  EXPECT_EQ(multi, 2);
  delete q;
}

TEST_F(QueryFilterTest, IncrementalSearchFindsTheRowAsTheUserTypes) {
  Exec(
      "UPDATE T SET NAME = CASE ID WHEN 1 THEN 'apple' WHEN 2 THEN 'apricot' WHEN 3 THEN 'banana' WHEN 4 THEN "
      "'blueberry' WHEN 5 THEN 'cherry' ELSE 'x' || ID END");
  Tr->Commit();
  datasettest::TestClock clock(100000, 0);
  TIB_Query* q = Query("SELECT ID, NAME, GRP FROM T");
  q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
  q->GetOrderingLinks().SetText("NAME=ITEM=1");
  q->SetOrderingItemNo(1);
  q->Open();
  ASSERT_EQ(q->GetOrderingLink(), "NAME");
  struct TCase {
    char Key;
    uint64_t After;  // ms since the previous key
    bool Found;
    const char* Text;
    const char* Name;  // the current row's name afterwards
  };
  const TCase cases[] = {
      {'b', 10, true, "b", "banana"},   {'l', 10, true, "bl", "blueberry"}, {'q', 10, false, "blq", "blueberry"},
      {8, 10, true, "bl", "blueberry"}, {'c', 4000, true, "c", "cherry"},   {1, 10, false, "c", "cherry"},
      {'h', 10, true, "ch", "cherry"},  {27, 10, true, "", "cherry"},       {'a', 10, true, "a", "apple"},
      {'p', 10, true, "ap", "apple"},   {'r', 10, true, "apr", "apricot"},  {'z', 10, false, "aprz", "apricot"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string("key ") + std::to_string(static_cast<int>(c.Key)));
    clock.Now += c.After;
    EXPECT_EQ(q->IncSearchKey(c.Key, true, false, true), c.Found);
    EXPECT_EQ(q->GetIncSearchText(), c.Text);
    EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetAsString(), c.Name);
  }
  // A seek that runs out of time beeps and, seeking the nearest, stops on the row it reached.
  int beeps = 0;
  const TBeepHook saved = SetBeepHook([&](uint32_t) { ++beeps; });
  q->SetIncSearchSeekInt(3);
  clock.Step = 1;
  q->First();
  EXPECT_FALSE(q->IncSearchString("x9", 1, true));
  EXPECT_EQ(beeps, 1);
  EXPECT_GT(q->GetRowNum(), 1);
  EXPECT_LT(q->GetRowNum(), 12);
  SetBeepHook(saved);
  clock.Step = 0;
  q->SetIncSearchSeekInt(0);
  // Seek nearest stops on the first row after the text; descending order searches the other way.
  EXPECT_FALSE(q->IncSearchString("bz", 1, true));
  EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetAsString(), "cherry");
  q->SetOrderingItemNo(-1);
  q->Open();
  EXPECT_TRUE(q->IncSearchString("banana", 1, false));
  EXPECT_EQ(q->GetFields()->ColumnByName("ID")->GetAsInteger(), 3);
  delete q;
}

// The search finds the same rows whether the query holds whole rows or only keys (reading the rows the
// seek compares by their key), in either direction, through the seek's long steps.
TEST_F(QueryFilterTest, IncrementalSearchFindsRowsInKeysOnlyModeAsWithWholeRows) {
  Exec("DELETE FROM T");
  Exec(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 300) DO BEGIN "
      "INSERT INTO T VALUES (:I, 'n' || LPAD(:I, 3, '0'), MOD(:I, 3)); I = I + 1; END END");
  Tr->Commit();
  struct TCase {
    int Order;  // the ordering item: 1 ascending, -1 descending
    const char* Text;
    bool Nearest;
    bool Found;
    int Id;  // the current row afterwards
  };
  const TCase cases[] = {
      {1, "n150", false, true, 150},  {1, "n2", false, true, 200},    {1, "n007", false, true, 7},
      {1, "n300", false, true, 300},  {1, "n1505", true, false, 151}, {1, "n1505", false, false, 151},
      {-1, "n150", false, true, 150}, {-1, "n1", false, true, 199},   {-1, "n0995", true, false, 99},
  };
  for (bool wholeRows : {true, false}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(testing::Message() << (wholeRows ? "whole rows " : "keys only ") << c.Order << " " << c.Text);
      TIB_Query* q = Query("SELECT ID, NAME, GRP FROM T");
      q->SetFetchWholeRows(wholeRows);
      q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
      q->GetOrderingLinks().SetText("NAME=ITEM=1");
      q->SetOrderingItemNo(c.Order);
      q->Open();
      ASSERT_EQ(q->GetKeysOnly(), !wholeRows);
      EXPECT_EQ(q->IncSearchString(c.Text, 1, c.Nearest), c.Found);
      // Not found and not seeking the nearest: the dataset stays where the search left it (the row of
      // the previous case is not this case's business), so only the found rows are checked there.
      if (c.Found || c.Nearest) {
        EXPECT_EQ(q->GetFields()->ColumnByName("ID")->GetAsInteger(), c.Id);
        EXPECT_EQ(q->GetFields()->ColumnByName("NAME")->GetAsString().substr(0, 1), "n");
      }
      delete q;
    }
  }
}

// With POS on the ordering link the dataset starts at the search text on the server.
TEST_F(QueryFilterTest, OrderingSearchTextRestartsTheDatasetThere) {
  TIB_Query* q = Query("SELECT ID, NAME, GRP FROM T");
  q->GetOrderingItems().SetText("By id=ID;ID DESC");
  q->GetOrderingLinks().SetText("ID=ITEM=1;POS");
  q->SetOrderingItemNo(1);
  q->Open();
  q->SetOrderingSearchText("");
  EXPECT_EQ(Ids(q), "1,2,3,4,5,6,7,8,9,10,11,12");
  q->SetOrderingSearchText("10");
  EXPECT_EQ(Ids(q), "10,11,12");
  q->First();
  EXPECT_EQ(q->GetOrderingColumnText(), "10");
  EXPECT_TRUE(q->IncSearchString("5", 1, false));
  EXPECT_EQ(q->GetOrderingColumnText(), "5");
  EXPECT_EQ(Ids(q), "5,6,7,8,9,10,11,12");
  q->SetOrderingItemNo(-1);
  q->Open();
  q->SetOrderingSearchText("");
  EXPECT_EQ(Ids(q), "12,11,10,9,8,7,6,5,4,3,2,1");
  delete q;
}

// The seek serves the application's messages between its rounds, also over a buffer that needs no
// fetch: a search started meanwhile makes the running one give up without moving (the nested one
// only moves at the outermost level, so neither moves),
// a handler that destroys the dataset ends the seek without touching it, and a dataset whose callback
// settings forbid it serves none.
TEST_F(QueryFilterTest, TheSeekServesMessagesBetweenItsRounds) {
  Exec("DELETE FROM T");
  Exec(
      "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 3000) DO BEGIN "
      "INSERT INTO T VALUES (:I, 'n' || LPAD(:I, 4, '0'), MOD(:I, 3)); I = I + 1; END END");
  Tr->Commit();
  TIB_Query* q = Query("SELECT ID, NAME, GRP FROM T");
  q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
  q->GetOrderingLinks().SetText("NAME=ITEM=1");
  q->SetOrderingItemNo(1);
  q->SetIncSearchSeekInt(0);
  q->Open();
  q->Last();
  q->First();
  int runs = 0;
  bool nested = false;
  Application->Post([&] {
    ++runs;
    nested = q->IncSearchString("n0007", 1, false);
  });
  EXPECT_FALSE(q->IncSearchString("n2900", 1, false));
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(nested);
  EXPECT_EQ(q->GetFields()->ColumnByName("ID")->GetAsInteger(), 1);
  // Nothing waits: the search arrives.
  EXPECT_TRUE(q->IncSearchString("n2900", 1, false));
  EXPECT_EQ(q->GetFields()->ColumnByName("ID")->GetAsInteger(), 2900);
  // Forbidden by the callback settings: the message waits for the application's own loop.
  q->SetCallbackInc(-1);
  runs = 0;
  Application->Post([&] { ++runs; });
  q->First();
  EXPECT_TRUE(q->IncSearchString("n2500", 1, false));
  EXPECT_EQ(runs, 0);
  Application->ProcessMessages();
  EXPECT_EQ(runs, 1);
  q->SetCallbackInc(0);
  q->First();
  Application->Post([&] { FreeAndNil(q); });
  EXPECT_THROW(q->IncSearchString("n2000", 1, false), EAbort);
  EXPECT_EQ(q, nullptr);
}

// The ordering column's search text outlives a new prepare: a changed filter or a reopen starts the
// rows at the same text again.
TEST_F(QueryFilterTest, OrderingSearchTextSurvivesAChangeOfCriteria) {
  TIB_Query* q = Query("SELECT ID, NAME, GRP FROM T");
  q->GetOrderingItems().SetText("By id=ID;ID DESC");
  q->GetOrderingLinks().SetText("ID=ITEM=1;POS");
  q->SetOrderingItemNo(1);
  q->Open();
  q->SetOrderingSearchText("8");
  EXPECT_EQ(Ids(q), "8,9,10,11,12");
  q->SetFilter("ID < 11");
  q->SetFiltered(true);
  EXPECT_EQ(Ids(q), "8,9,10");
  q->SetFiltered(false);
  EXPECT_EQ(Ids(q), "8,9,10,11,12");
  q->Close();
  q->Unprepare();
  q->Open();
  EXPECT_EQ(Ids(q), "8,9,10,11,12");
  q->First();
  EXPECT_EQ(q->GetOrderingColumnText(), "8");
  // A new direction: the same text bounds the rows from the other side.
  q->SetOrderingItemNo(-1);
  q->Open();
  EXPECT_EQ(Ids(q), "8,7,6,5,4,3,2,1");
  q->SetOrderingSearchText("");
  EXPECT_EQ(Ids(q), "12,11,10,9,8,7,6,5,4,3,2,1");
  q->SetOrderingItemNo(1);
  q->Open();
  EXPECT_EQ(Ids(q), "1,2,3,4,5,6,7,8,9,10,11,12");
  delete q;
}

// A search posts a pending edit first; without an ordering column it is refused.
TEST_F(QueryFilterTest, SearchWithoutAnOrderingColumnIsRefused) {
  TIB_Query* q = Query();
  q->SetRequestLive(true);
  q->Open();
  q->Edit();
  q->FieldByName("NAME")->SetAsString("edited");
  EXPECT_FALSE(q->IncSearchKey('a', true, false, false));
  EXPECT_FALSE(q->GetIsModifying());  // the first key of a search posted the edit
  EXPECT_EQ(q->FieldByName("NAME")->GetAsString(), "edited");
  EXPECT_THROW(q->IncSearchString("a", 1, false), EIB_DatasetError);
  delete q;
}

// The search value of an empty or partial text bounds every row: range sentinels per type, and the
// highest character of the column's set (never 0xFF in UTF8, which the server refuses as malformed).
TEST_F(DatasetFilterTest, OrderingSearchValuesBoundEveryRow) {
  Exec(
      "CREATE TABLE W (ID INTEGER, BIG BIGINT, AMT NUMERIC(15,2), SM SMALLINT, DBL DOUBLE PRECISION, D DATE, "
      "TS TIMESTAMP, TM TIME, U VARCHAR(4) CHARACTER SET UTF8, S CHAR(4) CHARACTER SET ISO8859_1)");
  Tr->Commit();
  Exec(
      "INSERT INTO W VALUES (1, -9223372036854775808, -9999999999999.99, -32768, -1e300, '0001-01-01', "
      "'0001-01-01 00:00', '00:00', 'b', 'b')");
  Exec(
      "INSERT INTO W VALUES (2, 9223372036854775807, 9999999999999.99, 32767, 1e300, '9999-12-31', "
      "'9999-12-31 23:59:59.9999', '23:59:59.9999', _UTF8 x'62F48FBFBF', _ISO8859_1 x'62FF')");
  Exec("INSERT INTO W VALUES (3, 0, 0, 0, 0, '2002-05-01', '2002-05-01', '12:00', 'bz', 'bz')");
  Tr->Commit();
  for (const char* column : {"BIG", "AMT", "SM", "DBL", "D", "TS", "TM", "S"}) CheckBounds(column, "", 3);
  CheckBounds("S", "b", 3);
}

// In UTF8 a descending text is padded with U+10FFFF: 0xFF would be refused as malformed.
TEST_F(Utf8FilterTest, OrderingSearchValuesOfUtf8TextAreWellFormed) {
  Exec("CREATE TABLE W (ID INTEGER, U VARCHAR(4) CHARACTER SET UTF8)");
  Tr->Commit();
  for (const char* v : {"'b'", "_UTF8 x'62F48FBFBF'", "'bz'", "_UTF8 x'62C3BF'"})
    Exec(std::string("INSERT INTO W VALUES (1, ") + v + ")");
  Tr->Commit();
  CheckBounds("U", "b", 4);
  CheckBounds("U", "", 4);
}

}  // namespace

// The filter cursor is the application's: made on first use on the query's connection and transaction,
// told (OnInvalidateSQL, unprepared) when the filter text changes while filtering is off, not when the
// query filters itself; closed with the query and freed when the query's SQL is built again.
TEST_F(QueryFilterTest, TheFilterCursorFollowsTheFilterAndTheQuery) {
  TIB_Query* q = Query("SELECT ID, NAME, GRP FROM T ORDER BY ID");
  q->Open();
  const int owned = q->GetComponentCount();
  TIB_Cursor* fc = q->GetFilterCursor();
  EXPECT_EQ(q->GetFilterCursor(), fc);
  EXPECT_EQ(q->GetComponentCount(), owned + 1);
  fc->GetSQL().SetText("SELECT ID FROM T");
  int told = 0;
  fc->OnInvalidateSQL = [&](TIB_Statement*) { ++told; };
  fc->OnPrepareSQL = [&](TIB_Statement*) {
    fc->GetAddedConditions().Clear();
    fc->GetAddedConditions().Add(q->GetFilter());
  };
  q->SetFilter("GRP = 1");
  EXPECT_EQ(told, 1);
  fc->Open();
  EXPECT_EQ(Walk(fc), 4);  // 1, 4, 7, 10
  q->SetFilter("GRP = 2");
  EXPECT_EQ(told, 2);
  EXPECT_FALSE(fc->GetSQLIsValid());
  fc->Close();
  fc->Open();
  EXPECT_EQ(Walk(fc), 4);              // 2, 5, 8, 11
  EXPECT_EQ(q->GetRecordCount(), 12);  // the query itself does not filter
  q->Close();
  EXPECT_FALSE(fc->GetActive());
  q->SetFiltered(true);
  q->Open();
  EXPECT_EQ(q->GetRecordCount(), 4);
  EXPECT_EQ(told, 2);
  EXPECT_EQ(q->GetComponentCount(), owned);  // freed with the SQL built again
}

// OnRowSelectedChange is OnRowSelectedChanged under another name: a handler set through either runs.
TEST_F(QueryFilterTest, OnRowSelectedChangeIsTheSameEvent) {
  TIB_Query* q = Query("SELECT ID, NAME FROM T ORDER BY ID");
  q->Open();
  std::vector<std::string> seen;
  q->OnRowSelectedChange = [&](TIB_BDataset*, int32_t ARow, const std::string&, bool IsSelected) {
    seen.push_back(std::to_string(ARow) + (IsSelected ? "+" : "-"));
  };
  EXPECT_TRUE(static_cast<bool>(q->OnRowSelectedChanged));
  q->SetRowSelected(2, true);
  q->OnRowSelectedChanged = nullptr;
  EXPECT_FALSE(static_cast<bool>(q->OnRowSelectedChange));
  q->SetRowSelected(2, false);
  EXPECT_EQ(seen, (std::vector<std::string>{"2+"}));
}
