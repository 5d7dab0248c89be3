// The dataset's SQL building over the statements Firebird 3 users write: a SELECT behind comments or a WITH
// list, row limits after the ORDER BY, comments inside the ORDER BY list, NEXT VALUE FOR in the select
// list; and the settings the building reads (NOCASE positions, link sources, column alignment).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "LinkTestSupport.h"

namespace {

class DatasetSQLSyntaxTest : public datasettest::DatasetDbTest {
protected:
  // The IDs of the rows, walked from the current one to the end.
  static std::string Ids(TIB_Dataset* D) {
    std::string ids;
    for (; !D->GetEof(); D->Next()) ids += (ids.empty() ? "" : ",") + D->FieldByName("ID")->GetAsString();
    return ids;
  }
  TIB_DataSource* SourceOf(TIB_Dataset* D) {
    auto* s = new TIB_DataSource(Owner);
    s->SetDataset(D);
    return s;
  }
};

// ---------------------------------------------------------------------------------------------------------
// The statement's own SELECT behind leading comments and a WITH list

TEST_F(DatasetSQLSyntaxTest, AFilterReachesTheSelectBehindCommentsOrAWithList) {
  Fill(8);
  struct {
    const char* SQL;
    const char* Filter;
    const char* Ids;
  } cases[] = {
      {"/* passengers */ SELECT ID, NAME FROM T ORDER BY ID", "ID > 2", "3,4,5,6,7,8"},
      {"-- passengers\r\nSELECT ID, NAME FROM T ORDER BY ID", "ID > 5", "6,7,8"},
      {"WITH BIG AS (SELECT ID, NAME FROM T WHERE ID > 1) SELECT B.ID, B.NAME FROM BIG B ORDER BY B.ID", "ID < 6",
       "2,3,4,5"},
      {"WITH RECURSIVE R AS (SELECT ID, NAME FROM T WHERE ID = 1 UNION ALL SELECT T.ID, T.NAME FROM T JOIN R ON "
       "T.ID = R.ID + 1) SELECT ID, NAME FROM R ORDER BY ID",
       "ID >= 7", "7,8"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.SQL);
    TIB_Query* q = NewQuery(k.SQL);
    q->SetFilter(k.Filter);
    q->SetFiltered(true);
    q->Open();
    EXPECT_EQ(std::count(k.Ids, k.Ids + std::strlen(k.Ids), ',') + 1, q->GetRecordCount());
    EXPECT_EQ(k.Ids, Ids(q));
    delete q;
  }
}

TEST_F(DatasetSQLSyntaxTest, OrderingItemsAndSearchCriteriaReachTheSelectBehindAWithList) {
  Fill(6);
  auto* criteria = new TIB_DataLink(Owner);
  TIB_Cursor* c = NewCursor("WITH SMALL AS (SELECT ID, NAME FROM T WHERE ID < 6) SELECT ID, NAME FROM SMALL");
  criteria->SetDataSource(SourceOf(c));
  c->GetOrderingItems().SetText("By id=ID;ID DESC");
  c->SetOrderingItemNo(-1);
  c->Open();
  EXPECT_EQ("5,4,3,2,1", Ids(c));
  c->EnterSearchMode();
  criteria->SetSearchWhere("ID <> 4");
  c->Post();
  EXPECT_EQ("5,3,2,1", Ids(c));
}

TEST_F(DatasetSQLSyntaxTest, ARowOfARecursiveQueryIsEditedThroughItsKeyRelation) {
  Fill(4);
  const std::string sql =
      "WITH RECURSIVE R AS (SELECT ID, NAME FROM T WHERE ID = 1 UNION ALL SELECT T.ID, T.NAME FROM T JOIN R ON "
      "T.ID = R.ID + 1) SELECT ID, NAME FROM R ORDER BY ID";
  // The buffered query and the cursor alike.
  for (const std::string kind : {"query", "cursor"}) {
    SCOPED_TRACE(kind);
    TIB_Dataset* d = kind == "query" ? static_cast<TIB_Dataset*>(NewQuery(sql)) : NewCursor(sql);
    d->SetKeyRelation("T");
    d->SetKeyLinksAutoDefine(true);
    d->SetRequestLive(true);
    d->Open();
    d->Next();
    d->Edit();
    d->FieldByName("NAME")->SetAsString(kind);
    d->Post();
    Tr->Commit();
    EXPECT_EQ("1,n1;2," + kind + ";3,n3;4,n4", ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","));
    delete d;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Row limits and comments in the ORDER BY

TEST_F(DatasetSQLSyntaxTest, RowLimitsStayBehindTheRebuiltOrderBy) {
  Fill(8);
  struct {
    const char* Limit;
    int32_t OrderingItemNo;
    const char* Ids;
  } cases[] = {
      {"ROWS 2 TO 5", 0, "2,3,4,5"},
      {"ROWS 2 TO 5", -1, "7,6,5,4"},
      {"OFFSET 1 ROWS FETCH NEXT 3 ROWS ONLY", 0, "2,3,4"},
      {"OFFSET 1 ROWS FETCH NEXT 3 ROWS ONLY", -1, "7,6,5"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.Limit) + " " + std::to_string(k.OrderingItemNo));
    TIB_Query* q = NewQuery(std::string("SELECT ID, NAME FROM T ORDER BY ID ") + k.Limit);
    q->GetOrderingItems().SetText("By id=ID;ID DESC");
    q->SetOrderingItemNo(k.OrderingItemNo);
    q->Open();
    EXPECT_EQ(std::count(k.Ids, k.Ids + std::strlen(k.Ids), ',') + 1, q->GetRecordCount());
    EXPECT_EQ(k.Ids, Ids(q));
    delete q;
  }
}

TEST_F(DatasetSQLSyntaxTest, ALineCommentInTheOrderByListLeavesTheNextItemWhole) {
  Fill(6);
  TIB_Cursor* c = NewCursor("SELECT ID, NAME, GRP FROM T ORDER BY GRP, -- then\r\n ID DESC /* last */");
  c->Open();
  EXPECT_EQ("6,3,4,1,5,2", Ids(c));
  EXPECT_EQ("GRP=ASC,ID=DESC", c->GetOrderingWorkList().GetCommaText());
}

TEST_F(DatasetSQLSyntaxTest, NextValueForInTheSelectListIsNoForClause) {
  Fill(4);
  Exec("CREATE SEQUENCE SEQ");
  Tr->Commit();
  TIB_Query* q = NewQuery("SELECT ID, NAME, NEXT VALUE FOR SEQ AS NV FROM T WHERE GRP = 1 ORDER BY ID");
  q->Open();
  EXPECT_EQ("1,4", Ids(q));
  q->First();
  EXPECT_EQ(1, q->FieldByName("NV")->GetAsInteger());
  EXPECT_EQ("", Trim(GetSQLForUpdate(q->GetSourceSQL())));
}

// Comments and line breaks between the words: still an expression; a FOR UPDATE behind it is the one a
// query that cannot edit drops.
TEST_F(DatasetSQLSyntaxTest, NextValueForIsNoForClauseWhateverSeparatesItsWords) {
  Fill(4);
  Exec("CREATE SEQUENCE SEQ");
  Tr->Commit();
  for (const char* nv : {"NEXT VALUE /* seq */ FOR SEQ", "NEXT VALUE\r\nFOR SEQ",
                         "NEXT /* a */ VALUE -- b\r\nFOR SEQ"}) {
    for (const char* tail : {"", " FOR UPDATE"}) {
      SCOPED_TRACE(std::string(nv) + tail);
      TIB_Query* q =
          NewQuery(std::string("SELECT ID, NAME, ") + nv + " AS NV FROM T WHERE GRP = 1 ORDER BY ID" + tail);
      q->Open();
      EXPECT_EQ("1,4", Ids(q));
      q->First();
      EXPECT_GT(q->FieldByName("NV")->GetAsInt64(), 0);
      EXPECT_EQ("", Trim(GetSQLForUpdate(q->GetSourceSQL())));
      EXPECT_NE(std::string::npos, q->GetSourceSQL().find("FOR SEQ AS NV FROM T")) << q->GetSourceSQL();
      delete q;
    }
  }
}

// ---------------------------------------------------------------------------------------------------------
// Settings the building reads

TEST_F(DatasetSQLSyntaxTest, ANoCaseOrderingLinkPositionsByItsCaseFreeExpression) {
  Fill(5);
  struct {
    const char* Attributes;
    const char* Condition;
  } cases[] = {{"NAME=NOCASE", "UPPER( NAME ) /*<*/ >= ?OLNK_NAME"},
               {"NAME=NOCASE=UPPER(NAME)", "UPPER(NAME) /*<*/ >= ?OLNK_NAME"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Attributes);
    TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T");
    c->GetColumnAttributes().SetText(k.Attributes);
    c->GetOrderingItems().SetText("By name=NAME;NAME DESC");
    c->GetOrderingLinks().SetText("NAME=ITEM=1;POS");
    c->SetOrderingItemNo(1);
    c->Prepare();
    EXPECT_NE(std::string::npos, c->GetSourceSQL().find(k.Condition)) << c->GetSourceSQL();
    // Lower-case names sort after 'N3' byte by byte: only the case-free comparison leaves n1 and n2 out.
    c->ParamByName("OLNK_NAME")->SetAsString("N3");
    c->Open();
    EXPECT_EQ("3,4,5", Ids(c));
    delete c;
  }
}

TEST_F(DatasetSQLSyntaxTest, MixedChainsOfMasterAndKeySourcesMustNotLeadBack) {
  TIB_Cursor* a = NewCursor();
  TIB_Cursor* b = NewCursor();
  TIB_Cursor* c = NewCursor();
  TIB_DataSource* sa = SourceOf(a);
  TIB_DataSource* sb = SourceOf(b);
  TIB_DataSource* sc = SourceOf(c);
  a->SetMasterSource(sb);
  EXPECT_EQ("Circular reference not allowed", testsupport::MessageOf<EIB_DatasetError>([&] { b->SetKeySource(sa); }));
  EXPECT_EQ(nullptr, b->GetKeySource());
  a->SetMasterSource(nullptr);
  a->SetKeySource(sb);
  EXPECT_EQ("Circular reference not allowed",
            testsupport::MessageOf<EIB_DatasetError>([&] { b->SetMasterSource(sa); }));
  // Three long: A follows B by its key, B follows C as its detail, C may not follow A.
  b->SetMasterSource(sc);
  EXPECT_EQ("Circular reference not allowed", testsupport::MessageOf<EIB_DatasetError>([&] { c->SetKeySource(sa); }));
  // A chain that does not come back is taken.
  TIB_Cursor* d = NewCursor();
  d->SetKeySource(sa);
  d->SetMasterSource(sc);
  EXPECT_EQ(sc, d->GetMasterSource());
}

TEST_F(DatasetSQLSyntaxTest, ARemovedAlignmentEntryGivesTheColumnItsTypesAlignmentAgain) {
  TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T");
  c->GetFieldsAlignment().SetText("T.ID=C\r\nT.NAME=R");
  c->Prepare();
  EXPECT_EQ(2, c->FieldByName("ID")->GetAlignment());
  EXPECT_EQ(1, c->FieldByName("NAME")->GetAlignment());
  c->GetFieldsAlignment().Clear();
  EXPECT_EQ(1, c->FieldByName("ID")->GetAlignment());
  EXPECT_EQ(0, c->FieldByName("NAME")->GetAlignment());
}

}  // namespace
