// Datasets over joins and derived tables: the key relation decides what is written and how a row is
// found again; the record count of a SELECT that skips rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_BindingCursor.h"
#include "dblib/sql/IB_Parse.h"
#include "platform/ScopeGuards.h"

namespace {

using datasettest::DatasetDbTest;

// Notes the text of every statement the session prepares.
struct PrepareLog {
  static inline decltype(TIB_EntryTable::isc_dsql_prepare) Real = nullptr;
  static inline std::vector<std::string> Texts;
  static ISC_STATUS Prepare(ISC_STATUS* Status, isc_tr_handle* Tr, isc_stmt_handle* St, unsigned short Length,
                            const ISC_SCHAR* Text, unsigned short Dialect, XSQLDA* Out) {
    Texts.emplace_back(Text, Length ? Length : std::char_traits<char>::length(Text));
    return Real(Status, Tr, St, Length, Text, Dialect, Out);
  }
  // The texts that begin with Head.
  static std::vector<std::string> Starting(const std::string& Head) {
    std::vector<std::string> r;
    for (const std::string& t : Texts)
      if (t.rfind(Head, 0) == 0) r.push_back(t);
    return r;
  }
};

class JoinedKeyTest : public DatasetDbTest {
protected:
  void SetUp() override {
    DatasetDbTest::SetUp();
    Exec("CREATE TABLE AIRPORTS (CODE CHAR(4) NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
    Exec("CREATE TABLE FLIGHTS (ID INTEGER NOT NULL PRIMARY KEY, ORIGIN CHAR(4), PAX INTEGER)");
    Tr->Commit();
    Exec("INSERT INTO AIRPORTS VALUES ('EDDF', 'Frankfurt')");
    Exec("INSERT INTO AIRPORTS VALUES ('LFPG', 'Paris')");
    Exec("INSERT INTO FLIGHTS VALUES (1, 'EDDF', 100)");
    Exec("INSERT INTO FLIGHTS VALUES (2, 'LFPG', 200)");
    Exec("INSERT INTO FLIGHTS VALUES (3, 'EDDF', 300)");
    Tr->Commit();
  }
  TIB_Query* Joined(bool Cached) {
    TIB_Query* q = NewQuery("SELECT F.ID, F.ORIGIN, F.PAX, A.NAME FROM FLIGHTS F JOIN AIRPORTS A ON A.CODE = F.ORIGIN "
                            "ORDER BY F.ID");
    q->SetKeyRelation("FLIGHTS");
    TIB_StringList links;
    links.SetText("FLIGHTS.ID");
    q->SetKeyLinks(links);
    q->SetRequestLive(true);
    q->SetCachedUpdates(Cached);
    q->Open();
    return q;
  }
};

TEST_F(JoinedKeyTest, CachedChangesOnAJoinAreWrittenToTheKeyRelationFoundByItsOwnColumns) {
  TIB_Query* q = Joined(true);
  PrepareLog::Real = Conn->GetSession()->Entries.isc_dsql_prepare;
  PrepareLog::Texts.clear();
  TValueRestorer<decltype(PrepareLog::Real)> log(Conn->GetSession()->Entries.isc_dsql_prepare, &PrepareLog::Prepare);
  q->First();
  q->Edit();
  q->FieldByName("PAX")->SetAsInteger(111);
  q->Post();
  q->Next();
  ASSERT_EQ(2, q->FieldByName("ID")->GetAsInteger());
  q->Delete();
  EXPECT_EQ("1,EDDF,100;2,LFPG,200;3,EDDF,300", ReadSecond("SELECT ID, ORIGIN, PAX FROM FLIGHTS ORDER BY ID", ","));
  q->ApplyUpdates();
  Tr->Commit();
  EXPECT_EQ("1,EDDF,111;3,EDDF,300", ReadSecond("SELECT ID, ORIGIN, PAX FROM FLIGHTS ORDER BY ID", ","));
  EXPECT_EQ("EDDF,Frankfurt;LFPG,Paris", ReadSecond("SELECT CODE, NAME FROM AIRPORTS ORDER BY CODE", ","));
  const auto update = PrepareLog::Starting("UPDATE FLIGHTS");
  const auto remove = PrepareLog::Starting("DELETE FROM FLIGHTS");
  ASSERT_EQ(1u, update.size());
  ASSERT_EQ(1u, remove.size());
  for (const std::string& sql : {update[0], remove[0]}) {
    const std::string where = sql.substr(sql.find("WHERE"));
    EXPECT_NE(std::string::npos, where.find("FLIGHTS.ID")) << sql;
    EXPECT_EQ(std::string::npos, where.find("NAME")) << sql;
    EXPECT_EQ(std::string::npos, where.find("AIRPORTS")) << sql;
  }
}

TEST_F(JoinedKeyTest, ColumnsOutsideTheKeyRelationAreReadOnlyAndNeverWritten) {
  TIB_Query* q = Joined(false);
  q->First();
  EXPECT_FALSE(q->FieldByName("PAX")->GetReadOnly());
  EXPECT_FALSE(q->FieldByName("ORIGIN")->GetReadOnly());
  EXPECT_TRUE(q->FieldByName("NAME")->GetReadOnly());
  q->Edit();
  EXPECT_TRUE(q->FieldByName("NAME")->GetReadOnly());
  q->FieldByName("PAX")->SetAsInteger(150);
  q->Post();
  Tr->Commit();
  EXPECT_EQ("1,150", ReadSecond("SELECT ID, PAX FROM FLIGHTS WHERE ID = 1", ","));
  EXPECT_EQ("Frankfurt", ReadSecond("SELECT NAME FROM AIRPORTS WHERE CODE = 'EDDF'", ","));
}

// ---- a derived table's key that may be null --------------------------------------------------------------

TEST_F(JoinedKeyTest, ARowOfADerivedTableWhoseKeyIsNullIsReadByItsKey) {
  // K is null in the derived table's last row; the rows are read by key after the keys are fetched.
  const std::string sql =
      "SELECT K, NAME FROM (SELECT ID AS K, ORIGIN AS NAME FROM FLIGHTS UNION ALL "
      "SELECT CAST(NULL AS INTEGER), 'none' FROM RDB$DATABASE) D ORDER BY NAME, K";
  for (bool whole : {false, true}) {
    SCOPED_TRACE(whole);
    TIB_Query* q = NewQuery(sql);
    TIB_StringList links;
    links.SetText("K");
    q->SetKeyLinks(links);
    q->SetFetchWholeRows(whole);
    q->Open();
    std::string rows;
    for (q->First(); !q->GetEof(); q->Next()) {
      TIB_Column* k = q->FieldByName("K");
      rows += (k->GetIsNull() ? std::string("null") : k->GetAsString()) + "," + q->FieldByName("NAME")->GetAsString() + ";";
    }
    EXPECT_EQ("1,EDDF;3,EDDF;2,LFPG;null,none;", rows);
    q->Last();
    ASSERT_TRUE(q->FieldByName("K")->GetIsNull());
    EXPECT_TRUE(q->RefreshRow());  // found again by its null key
    EXPECT_TRUE(q->FieldByName("K")->GetIsNull());
    EXPECT_EQ("none", q->FieldByName("NAME")->GetAsString());
    const std::string text = q->GetFieldsCursor()->GetSourceSQL();
    EXPECT_NE(std::string::npos, text.find("IS NOT DISTINCT FROM ?BIND_0")) << text;
    delete q;
  }
}

// ---- the record count --------------------------------------------------------------------------------

TEST_F(JoinedKeyTest, TheRecordCountOfASelectThatSkipsRowsCountsTheRowsItReturns) {
  Fill(10);
  struct {
    const char* SQL;
    int Rows;
  } cases[] = {{"SELECT SKIP 3 ID, NAME FROM T ORDER BY ID", 7},
               {"SELECT SKIP 12 ID FROM T", 0},
               {"SELECT FIRST 4 SKIP 8 ID FROM T ORDER BY ID", 2},
               {"SELECT SKIP (1 + 1) * FROM FLIGHTS", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.SQL);
    TIB_Cursor* cur = NewCursor(c.SQL);
    EXPECT_EQ(c.Rows, cur->GetRecordCount());
    cur->Open();
    EXPECT_EQ(c.Rows, Walk(cur));
    delete cur;
  }
  std::string count;
  MakeRecordCountSQL("SELECT SKIP 3 ID, NAME FROM T ORDER BY ID", count);
  EXPECT_EQ("SELECT COUNT( * ) FROM (\r\nSELECT SKIP 3 ID, NAME FROM T\r\n) COUNTED_ROWS (C1, C2)", count);
}

}  // namespace
