// Datasets over joins and derived tables: the key relation decides what is written and how a row is
// found again; the record count of a SELECT that skips rows.
#include <gtest/gtest.h>

#include <cctype>
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

// The edit statement of a cached change over a join names the key relation's columns only, in its SET
// list and in its WHERE clause, also where the other relation has columns of the same names and a
// value was written into one of them; the other relation's row is never touched.
TEST_F(JoinedKeyTest, TheCachedEditStatementNamesNoOtherRelationsColumn) {
  Exec("ALTER TABLE FLIGHTS ADD NAME VARCHAR(20)");
  Exec("ALTER TABLE AIRPORTS ADD PAX INTEGER");
  Tr->Commit();
  Exec("UPDATE FLIGHTS SET NAME = 'f' || ID");
  Exec("UPDATE AIRPORTS SET PAX = 7");
  Tr->Commit();
  const std::string airports = ReadSecond("SELECT CODE, NAME, PAX FROM AIRPORTS ORDER BY CODE", ",");
  for (const bool searched : {true, false}) {
    SCOPED_TRACE(searched ? "searched edits" : "no searched edits");
    TIB_Query* q = NewQuery(
        "SELECT A.NAME, A.PAX, F.ID, F.ORIGIN, F.PAX, F.NAME FROM AIRPORTS A "
        "JOIN FLIGHTS F ON A.CODE = F.ORIGIN ORDER BY F.ID");
    q->SetKeyRelation("FLIGHTS");
    TIB_StringList links;
    links.SetText("FLIGHTS.ID");
    q->SetKeyLinks(links);
    q->SetRequestLive(true);
    q->SetCachedUpdates(true);
    q->SetSearchedEdits(searched);
    q->Open();
    PrepareLog::Real = Conn->GetSession()->Entries.isc_dsql_prepare;
    PrepareLog::Texts.clear();
    TValueRestorer<decltype(PrepareLog::Real)> log(Conn->GetSession()->Entries.isc_dsql_prepare, &PrepareLog::Prepare);
    q->SetRowNum(2);
    ASSERT_EQ(2, q->FieldByName("FLIGHTS.ID")->GetAsInteger());
    q->Edit();
    q->FieldByName("FLIGHTS.PAX")->SetAsInteger(searched ? 222 : 333);
    q->FieldByName("FLIGHTS.NAME")->SetAsString(searched ? "s2" : "p2");
    try {
      q->FieldByName("AIRPORTS.NAME")->SetAsString("Elsewhere");
    } catch (const EIB_Error&) {
      // Refused: the column is read-only.
    }
    q->Post();
    q->ApplyUpdates();
    Tr->Commit();
    EXPECT_EQ(ReadSecond("SELECT ID, PAX, NAME FROM FLIGHTS WHERE ID = 2", ","),
              std::string(searched ? "2,222,s2" : "2,333,p2"));
    EXPECT_EQ(ReadSecond("SELECT CODE, NAME, PAX FROM AIRPORTS ORDER BY CODE", ","), airports);
    const auto update = PrepareLog::Starting("UPDATE ");
    ASSERT_EQ(1u, update.size());
    const std::string& sql = update[0];
    EXPECT_EQ(0u, sql.find("UPDATE FLIGHTS")) << sql;
    EXPECT_EQ(std::string::npos, sql.find("AIRPORTS")) << sql;
    // Every column it names is one of FLIGHTS: qualified by it, or a FLIGHTS column in the SET list.
    EXPECT_EQ(std::string::npos, sql.find("CODE")) << sql;
    std::string set = sql.substr(sql.find("SET") + 3, sql.find("WHERE") - sql.find("SET") - 3);
    ReplaceChars(set, "\r\n", ' ');
    std::string items;
    for (size_t from = 0; from <= set.size();) {
      const size_t comma = std::min(set.find(',', from), set.size());
      std::string item = Trim(set.substr(from, comma - from));
      items += (items.empty() ? "" : ";") + Trim(item.substr(0, item.find('=')));
      from = comma + 1;
    }
    EXPECT_EQ("PAX;NAME", items) << sql;
    size_t at = 0;
    int qualified = 0;
    while ((at = sql.find('.', at)) != std::string::npos) {
      size_t from = at;
      while (from > 0 && (std::isalnum(static_cast<unsigned char>(sql[from - 1])) || sql[from - 1] == '_' ||
                          sql[from - 1] == '$' || sql[from - 1] == '"')) {
        --from;
      }
      EXPECT_EQ("FLIGHTS", sql.substr(from, at - from)) << sql;
      ++qualified;
      ++at;
    }
    EXPECT_LT(0, qualified) << sql;
    delete q;
  }
}

// Without a key relation (a join names none) a cached edit cannot be written: the apply refuses it as
// the post without cached updates does, sends no statement, and the change stays pending.
TEST_F(JoinedKeyTest, ACachedEditOverAJoinWithoutKeyRelationIsRefusedByTheApply) {
  Exec("ALTER TABLE AIRPORTS ADD PAX INTEGER");
  Tr->Commit();
  TIB_Query* q = NewQuery(
      "SELECT A.NAME, A.PAX, F.ID, F.ORIGIN, F.PAX FROM AIRPORTS A "
      "JOIN FLIGHTS F ON A.CODE = F.ORIGIN ORDER BY F.ID");
  TIB_StringList links;
  links.SetText("FLIGHTS.ID");
  q->SetKeyLinks(links);
  q->SetRequestLive(true);
  q->SetCachedUpdates(true);
  q->SetSearchedEdits(false);
  q->Open();
  ASSERT_EQ("", q->GetKeyRelation());
  q->Edit();
  q->FieldByName("FLIGHTS.PAX")->SetAsInteger(555);
  q->FieldByName("AIRPORTS.PAX")->SetAsInteger(999);
  q->Post();
  PrepareLog::Real = Conn->GetSession()->Entries.isc_dsql_prepare;
  PrepareLog::Texts.clear();
  TValueRestorer<decltype(PrepareLog::Real)> log(Conn->GetSession()->Entries.isc_dsql_prepare, &PrepareLog::Prepare);
  EXPECT_EQ("Unable to initialize default EditDSQL",
            testsupport::MessageOf<EIB_DatasetError>([&] { q->ApplyUpdates(); }));
  EXPECT_TRUE(PrepareLog::Starting("UPDATE").empty());
  EXPECT_TRUE(q->GetUpdatesPending());
  Tr->Commit();
  EXPECT_EQ("1,100", ReadSecond("SELECT ID, PAX FROM FLIGHTS WHERE ID = 1", ","));
  EXPECT_EQ("EDDF,null;LFPG,null", ReadSecond("SELECT CODE, PAX FROM AIRPORTS ORDER BY CODE", ","));
  q->CancelUpdates();
  delete q;
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
