#include <gtest/gtest.h>

#include <string>

#include "DatasetTestSupport.h"

namespace {

using DatasetSQLTest = datasettest::DatasetDbTest;

// The ORDER BY the dataset sends: split at top-level commas, direction words kept and understood.
TEST_F(DatasetSQLTest, OrderByItemsKeepTheirExpressionsAndDirections) {
  Fill(3);
  struct {
    const char* Order;
    const char* Sent;
    const char* Work;
  } cases[] = {
      {"ORDER BY COALESCE(NAME, 'x'), ID DESC NULLS LAST",
       "ORDER BY COALESCE(NAME, 'x') ASC\r\n       , ID DESC NULLS LAST", "COALESCE(NAME, 'x')=ASC|ID=DESC|"},
      {"ORDER BY NAME DESCENDING", "ORDER BY NAME DESC", "NAME=DESC|"},
      {"ORDER BY ID ASCENDING NULLS FIRST", "ORDER BY ID ASC NULLS FIRST", "ID=ASC|"},
      {"", "", ""},
  };
  for (const auto& k : cases) {
    TIB_Cursor* c = NewCursor(std::string("SELECT ID, NAME FROM T ") + k.Order);
    c->Open();  // the engine takes the text
    EXPECT_EQ(k.Sent, Trim(GetSQLOrder(c->GetSourceSQL())));
    std::string work;
    for (int i = 0; i < c->GetOrderingWorkList().Count(); ++i) work += c->GetOrderingWorkList().Get(i) + "|";
    EXPECT_EQ(k.Work, work);
    delete c;
  }
}

TEST_F(DatasetSQLTest, OrderingItemsChooseTheOrderByNumber) {
  Fill(3);
  TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T");
  c->GetOrderingItems().SetText("By name=NAME;NAME DESC");
  int changed = 0;
  c->OnOrderingChanged = [&](TIB_Dataset*) { ++changed; };
  struct {
    int32_t No;
    const char* Sent;
    const char* First;
  } cases[] = {{-1, "ORDER BY NAME DESC", "n3"}, {1, "ORDER BY NAME ASC", "n1"}};
  for (const auto& k : cases) {
    c->SetOrderingItemNo(k.No);
    c->Open();
    EXPECT_EQ(k.Sent, Trim(GetSQLOrder(c->GetSourceSQL())));
    EXPECT_EQ(k.First, c->FieldByName("NAME")->GetAsString());
    c->Close();
  }
  EXPECT_EQ(4, changed);  // at each setting and after each prepare
  EXPECT_EQ("", c->GetOrderingSQL(-2));
}

TEST_F(DatasetSQLTest, AnOrderingLinkPositionsAndPlansTheSelect) {
  Fill(5);
  TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T WHERE GRP >= 0");
  c->GetOrderingItems().SetText("By id=ID;ID DESC");
  c->GetOrderingLinks().SetText("ID=ITEM=1;POS;PLANASC=(T ORDER RDB$PRIMARY1)");
  c->SetSearchText("ID <> 4");
  c->SetOrderingItemNo(1);
  EXPECT_EQ("ID", c->GetOrderingLink());
  c->Prepare();
  const std::string sql = c->GetSourceSQL();
  EXPECT_NE(std::string::npos, sql.find("ID /*<*/ >= ?OLNK_ID"));
  EXPECT_EQ("PLAN (T ORDER RDB$PRIMARY1)", Trim(GetSQLPlan(sql)));
  // Each condition once.
  EXPECT_EQ(sql.find("ID <> 4"), sql.rfind("ID <> 4"));
  c->ParamByName("OLNK_ID")->SetAsInteger(3);
  c->Open();
  EXPECT_EQ(2, Walk(c));  // 3 and 5
}

TEST_F(DatasetSQLTest, TheKeyRelationComesFromAOneTableFromClause) {
  struct {
    const char* SQL;
    const char* Relation;
  } cases[] = {{"SELECT 1 FROM AIRPORT A", "AIRPORT"},
               {"SELECT 1 FROM \"MixedCase\" m", "\"MixedCase\""},
               {"SELECT 1 FROM A JOIN B ON A.X = B.X", ""},
               {"SELECT 1 FROM A, B", ""}};
  for (const auto& k : cases) {
    TIB_Cursor* c = NewCursor(k.SQL);
    EXPECT_EQ(k.Relation, c->GetKeyRelation()) << k.SQL;
    delete c;
  }
}

TEST_F(DatasetSQLTest, KeyLinksAreDefinedFromThePrimaryKeyOrTheDbKey) {
  Exec("CREATE TABLE K (ID INTEGER NOT NULL PRIMARY KEY, IDX INTEGER)");
  Exec("CREATE TABLE NOPK (A INTEGER)");
  Tr->Commit();
  Exec("INSERT INTO NOPK VALUES (1)");
  Tr->Commit();
  struct {
    const char* SQL;
    const char* Links;
    const char* KeyColumn;
  } cases[] = {{"SELECT ID, IDX FROM K", "K.ID", "ID"},
               {"SELECT IDX FROM K", "", ""},  // ID is not selected: IDX does not stand for it
               {"SELECT A FROM NOPK", "", ""},
               {"SELECT RDB$DB_KEY, A FROM NOPK", "NOPK.RDB$DB_KEY", "RDB$DB_KEY"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.SQL);
    TIB_Cursor* c = NewCursor(k.SQL);
    c->SetKeyLinksAutoDefine(true);
    c->Open();
    EXPECT_EQ(k.Links, c->GetKeyLinks().GetCommaText());
    TIB_Row* key = c->GetKeyFields();
    EXPECT_EQ(k.KeyColumn, *k.KeyColumn ? key->GetColumns(0)->GetSQLName() : std::string());
    delete c;
  }
}

TEST_F(DatasetSQLTest, ALiveResultSetAsksForUpdateUnlessEveryChangeIsSearched) {
  struct {
    bool SearchedEdits, SearchedDeletes;
    const char* For;
  } cases[] = {{false, false, "FOR UPDATE"}, {true, false, "FOR UPDATE"}, {true, true, ""}};
  for (const auto& k : cases) {
    TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T");
    c->SetRequestLive(true);
    c->SetSearchedEdits(k.SearchedEdits);
    c->SetSearchedDeletes(k.SearchedDeletes);
    c->Prepare();
    EXPECT_EQ(k.For, Trim(GetSQLForUpdate(c->GetSourceSQL())));
    delete c;
  }
}

TEST_F(DatasetSQLTest, ConditionListsGroupTheirLinesAndRefuseUnbalancedParentheses) {
  TIB_Cursor* c = NewCursor();
  TIB_StringList list;
  list.SetText("(\r\nID = 1\r\nOR\r\nID = 2\r\n)\r\nNAME IS NOT NULL");
  std::string where = "WHERE GRP = 0";
  c->AddConditionsToWhere(list, where, false);
  EXPECT_NE(std::string::npos, where.find("AND (ID = 1 OR ID = 2)"));
  EXPECT_NE(std::string::npos, where.find("AND NAME IS NOT NULL"));
  list.SetText("(\r\nID = 1");
  EXPECT_THROW(c->AddConditionsToWhere(list, where, true), EIB_Error);
}

}  // namespace
