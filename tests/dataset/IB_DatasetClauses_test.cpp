// The clauses the dataset builds over the SQL Firebird 3 users write, each checked against the engine: query
// by example under an alias and over a derived table, WITH LOCK without FOR UPDATE, IS [NOT] DISTINCT FROM,
// a scalar sub-select in the select list, expression columns of a live query, parameters named in the
// order of their markers, and the counts of row limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "LinkTestSupport.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/sql/IB_SearchBuffer.h"

namespace {

class DatasetClausesTest : public datasettest::DatasetDbTest {
protected:
  // The IDs of the rows, walked from the first to the end.
  static std::string Ids(TIB_Dataset* D) {
    std::string ids;
    D->First();
    for (; !D->GetEof(); D->Next()) ids += (ids.empty() ? "" : ",") + D->FieldByName("ID")->GetAsString();
    return ids;
  }
  TIB_DataLink* CriteriaOf(TIB_Dataset* D) {
    auto* s = new TIB_DataSource(Owner);
    s->SetDataset(D);
    auto* l = new TIB_DataLink(Owner);
    l->SetDataSource(s);
    return l;
  }
  // The IDs that SQL selects when run directly (its first column), in its order.
  std::string EngineIds(const std::string& SQL) {
    std::string ids;
    for (const std::string& row : SplitRows(ReadSecond(SQL, "|"))) ids += (ids.empty() ? "" : ",") + row.substr(0, row.find('|'));
    return ids;
  }
  static std::vector<std::string> SplitRows(const std::string& Rows) {
    std::vector<std::string> r;
    size_t from = 0;
    while (!Rows.empty() && from <= Rows.size()) {
      const size_t at = Rows.find(';', from);
      r.push_back(Rows.substr(from, at == std::string::npos ? std::string::npos : at - from));
      if (at == std::string::npos) break;
      from = at + 1;
    }
    return r;
  }
  static constexpr const char* kLocked = "update conflicts with concurrent update";
  // Tries to change row Id through a second attachment that does not wait for locks; the engine's message,
  // or "" when the change went through.
  std::string UpdateElsewhere(int Id) {
    auto* c = new TIB_Connection(Owner);
    c->SetDatabaseName(Conn->GetDatabaseName());
    c->SetCharSet("ISO8859_1");
    c->Connect();
    auto* t = new TIB_Transaction(Owner);
    t->SetIB_Connection(c);
    t->SetLockWait(false);
    auto* q = new TIB_DSQL(Owner);
    q->SetIB_Connection(c);
    q->SetIB_Transaction(t);
    q->GetSQL().SetText("UPDATE T SET NAME = 'elsewhere' WHERE ID = " + std::to_string(Id));
    std::string message;
    try {
      q->Execute();
      t->Rollback();
    } catch (const EIB_ISCError& e) {
      message = e.what();
      t->Rollback();
    }
    delete q;
    delete t;
    delete c;
    return message;
  }
};

// ---------------------------------------------------------------------------------------------------------
// Query by example names a column as the FROM clause names its relation

TEST_F(DatasetClausesTest, SearchCriteriaNameTheColumnAsTheFromClauseDoes) {
  Fill(6);
  struct {
    const char* SQL;
    const char* Column;
    const char* Text;
    const char* Line;
    const char* Ids;
  } cases[] = {
      {"SELECT E.ID, E.NAME FROM T E", "NAME", "n2", "E.NAME = 'n2'", "2"},
      {"SELECT E.ID, E.NAME, E.GRP FROM T E", "GRP", "2", "E.GRP = 2", "2,5"},
      {"SELECT * FROM T E", "NAME", "n3", "E.NAME = 'n3'", "3"},
      {"SELECT E.*, M.NAME AS BOSS FROM T E JOIN T M ON M.ID = E.GRP + 1", "NAME", "n4", "E.NAME = 'n4'", "4"},
      {"SELECT E.ID, E.NAME, M.ID AS MID FROM T E JOIN T M ON M.ID = E.GRP + 1", "ID", ">4", "E.ID > 4", "5,6"},
      {"SELECT D.ID, D.NAME FROM (SELECT ID, NAME FROM T WHERE ID > 1) D", "NAME", "n5", "D.NAME = 'n5'", "5"},
      {"SELECT * FROM (SELECT ID, NAME FROM T WHERE ID > 1) D", "NAME", "n*", "D.NAME LIKE 'n%'", "2,3,4,5,6"},
      {"SELECT * FROM (SELECT ID, NAME AS LABEL FROM T) D", "LABEL", "n6", "D.LABEL = 'n6'", "6"},
      {"WITH X AS (SELECT ID, NAME FROM T) SELECT * FROM X", "NAME", "n1", "X.NAME = 'n1'", "1"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.SQL);
    TIB_Query* q = NewQuery(std::string(k.SQL) + " ORDER BY 1");
    TIB_DataLink* criteria = CriteriaOf(q);
    q->Open();
    TStringList where, params;
    SearchBufferToSQL(q->FieldByName(k.Column), k.Text, &where, nullptr, &params);
    ASSERT_EQ(1, where.Count());
    EXPECT_EQ(k.Line, where[0]);
    q->EnterSearchMode();
    criteria->SetSearchWhere(where[0]);
    q->Post();
    EXPECT_EQ(k.Ids, Ids(q));
    EXPECT_EQ(EngineIds(std::string(k.SQL) + " WHERE " + where[0] + " ORDER BY 1"), Ids(q));
    delete q;
  }
}

TEST_F(DatasetClausesTest, ACaseInsensitiveFilterAndANoCaseSearchUnderAnAlias) {
  Fill(4);
  TIB_Query* q = NewQuery("SELECT * FROM T E ORDER BY ID");
  q->SetFilter("NAME = 'N3'");
  q->SetFilterOptions(1 << fopCaseInsensitive);
  q->SetFiltered(true);
  q->Open();
  EXPECT_EQ("3", Ids(q));
  delete q;
  q = NewQuery("SELECT E.ID, E.NAME FROM T E ORDER BY ID");
  q->GetColumnAttributes().SetText("NAME=NOCASE");
  q->Open();
  TStringList where, params;
  SearchBufferToSQL(q->FieldByName("NAME"), "N4", &where, nullptr, &params);
  ASSERT_EQ(1, where.Count());
  EXPECT_EQ("UPPER( E.NAME ) = 'N4'", where[0]);
  q->SetSearchText(where[0]);
  q->Refresh();
  EXPECT_EQ("4", Ids(q));
}

// ---------------------------------------------------------------------------------------------------------
// WITH LOCK without FOR UPDATE ends the clauses as FOR UPDATE does

TEST_F(DatasetClausesTest, OrderingItemsAndRowLimitsKeepWithLockAndTheRowsStayLocked) {
  Fill(8);
  struct {
    const char* SQL;
    int32_t OrderingItemNo;
    const char* Ids;
  } cases[] = {
      {"SELECT ID, NAME FROM T WHERE GRP = 1 WITH LOCK", 1, "1,4,7"},
      {"SELECT ID, NAME FROM T WHERE GRP = 1 WITH LOCK", -1, "7,4,1"},
      {"SELECT ID, NAME FROM T WHERE GRP = 1 ORDER BY ID WITH LOCK", -1, "7,4,1"},
      {"SELECT ID, NAME FROM T WHERE GRP = 1 ORDER BY ID\r\nWITH\r\n  LOCK;", 0, "1,4,7"},
      {"SELECT ID, NAME FROM T ORDER BY ID ROWS 2 TO 3 WITH LOCK", -1, "7,6"},
      {"SELECT ID, NAME FROM T WHERE NAME STARTING WITH 'n' ORDER BY ID OFFSET 5 ROWS WITH LOCK", -1, "3,2,1"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.SQL) + " " + std::to_string(k.OrderingItemNo));
    TIB_Query* q = NewQuery(k.SQL);
    q->GetOrderingItems().SetText("By id=ID;ID DESC");
    q->SetOrderingItemNo(k.OrderingItemNo);
    q->Open();
    EXPECT_EQ(k.Ids, Ids(q));
    EXPECT_EQ(std::count(k.Ids, k.Ids + std::strlen(k.Ids), ',') + 1, q->GetRecordCount());
    std::string sent = UpperCase(q->GetServerSQL());
    while (!sent.empty() && (sent.back() == ';' || static_cast<unsigned char>(sent.back()) <= ' ')) sent.pop_back();
    EXPECT_TRUE(sent.size() > 9 && sent.compare(sent.size() - 4, 4, "LOCK") == 0) << q->GetServerSQL();
    // Every row fetched is locked against other attachments.
    const int first = std::atoi(k.Ids);
    EXPECT_NE(std::string::npos, UpdateElsewhere(first).find(kLocked));
    Tr->Rollback();
    EXPECT_EQ("", UpdateElsewhere(first));
    delete q;
  }
}

TEST_F(DatasetClausesTest, AFilterOrSearchTextGoesBeforeWithLock) {
  Fill(9);
  TIB_Query* q = NewQuery("SELECT ID, NAME FROM T WHERE GRP = 2 WITH LOCK");
  q->SetFilter("ID > 3");
  q->SetFiltered(true);
  q->Open();
  EXPECT_EQ("5,8", Ids(q));
  EXPECT_EQ(2, q->GetRecordCount());
  q->Close();
  q->SetFiltered(false);
  q->SetSearchText("ID < 6");
  q->Open();
  EXPECT_EQ("2,5", Ids(q));
  EXPECT_EQ(2, q->GetRecordCount());
  EXPECT_NE(std::string::npos, UpdateElsewhere(5).find(kLocked));
}

TEST_F(DatasetClausesTest, ALiveCursorWithLockGetsForUpdateBeforeItAndSearchedChangesKeepTheLock) {
  Fill(4);
  TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T WHERE ID < 4 WITH LOCK");
  c->SetKeyLinksAutoDefine(true);
  c->SetRequestLive(true);
  c->Open();
  EXPECT_EQ("FOR UPDATE\r\nWITH LOCK", GetSQLForUpdate(c->GetServerSQL()));
  c->Next();
  c->Edit();
  c->FieldByName("NAME")->SetAsString("locked");
  c->Post();
  Tr->Commit();
  EXPECT_EQ("1,n1;2,locked;3,n3;4,n4", ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","));
  delete c;
  // Edits and deletes by key need no FOR UPDATE; the rows are locked all the same.
  for (const std::string kind : {"query", "cursor"}) {
    SCOPED_TRACE(kind);
    TIB_Dataset* q = kind == "query" ? static_cast<TIB_Dataset*>(NewQuery("SELECT ID, NAME FROM T WHERE ID > 2 FOR UPDATE WITH LOCK"))
                                     : NewCursor("SELECT ID, NAME FROM T WHERE ID > 2 FOR UPDATE WITH LOCK");
    q->SetKeyLinksAutoDefine(true);
    q->SetRequestLive(true);
    q->SetSearchedEdits(true);
    q->SetSearchedDeletes(true);
    q->Open();
    EXPECT_EQ("", GetSQLForUpdate(q->GetServerSQL()));
    EXPECT_TRUE(HasSQLLock(q->GetServerSQL())) << q->GetServerSQL();
    q->First();
    EXPECT_NE(std::string::npos, UpdateElsewhere(3).find(kLocked));
    q->Edit();
    q->FieldByName("NAME")->SetAsString(kind);
    q->Post();
    Tr->Commit();
    EXPECT_EQ("3," + kind + ";4,n4", ReadSecond("SELECT ID, NAME FROM T WHERE ID > 2 ORDER BY ID", ","));
    delete q;
  }
}

TEST_F(DatasetClausesTest, ALiveCursorTurnedOffKeepsItsLock) {
  Fill(3);
  TIB_Cursor* c = NewCursor("SELECT ID, NAME FROM T WHERE ID > 1 FOR UPDATE WITH LOCK");
  c->Prepare();
  EXPECT_TRUE(c->GetRequestLive());
  c->SetRequestLive(false);
  EXPECT_EQ("", GetSQLForUpdate(c->GetSQL().GetText()));
  c->Open();
  EXPECT_EQ("2,3", Ids(c));
  EXPECT_TRUE(HasSQLLock(c->GetServerSQL())) << c->GetServerSQL();
  EXPECT_NE(std::string::npos, UpdateElsewhere(2).find(kLocked));
  c->Close();
  Tr->Rollback();
  EXPECT_EQ("", UpdateElsewhere(2));
}

// ---------------------------------------------------------------------------------------------------------
// IS [NOT] DISTINCT FROM and the key relation

TEST_F(DatasetClausesTest, IsDistinctFromIsNoFromClause) {
  Fill(7);
  const std::string sql =
      "SELECT ID, CASE WHEN GRP IS DISTINCT FROM 1 THEN 'x' ELSE 'y' END AS K FROM T WHERE ID IS NOT DISTINCT FROM ID";
  TIB_Query* q = NewQuery(sql + " ORDER BY ID");
  q->Open();
  EXPECT_EQ(7, q->GetRecordCount());
  q->SetFilter("K = 'y'");
  q->SetFiltered(true);
  q->Open();
  EXPECT_EQ("1,4,7", Ids(q));
  EXPECT_EQ(3, q->GetRecordCount());
  EXPECT_EQ(EngineIds("SELECT ID FROM (" + sql + ") WHERE K = 'y' ORDER BY ID"), Ids(q));
}

TEST_F(DatasetClausesTest, IsDistinctFromInTheSelectListLeavesTheRowsEditable) {
  Fill(3);
  TIB_Query* q = NewQuery("SELECT ID, NAME, IIF(GRP IS DISTINCT FROM 2, 'a', 'b') AS K FROM T ORDER BY ID");
  q->SetRequestLive(true);
  q->Open();
  EXPECT_EQ("T.ID", Trim(q->GetKeyLinks().GetText()));
  q->Last();
  q->Edit();
  q->FieldByName("NAME")->SetAsString("edited");
  q->Post();
  Tr->Commit();
  EXPECT_EQ("1,n1;2,n2;3,edited", ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","));
  delete q;
  // SELECT DISTINCT and an aggregate's DISTINCT still fold rows: no key links are made for them.
  for (const char* s : {"SELECT DISTINCT ID, NAME FROM T", "SELECT FIRST 5 DISTINCT ID, NAME FROM T",
                        "SELECT ID, NAME, (SELECT COUNT(DISTINCT GRP) FROM T) AS C FROM T"}) {
    SCOPED_TRACE(s);
    q = NewQuery(s);
    q->Prepare();
    EXPECT_EQ(std::strstr(s, "COUNT") != nullptr, q->GetKeyLinks().Count() > 0);
    delete q;
  }
}

TEST_F(DatasetClausesTest, AScalarSubSelectsRelationIsNoKeyRelation) {
  Fill(3);
  TIB_Query* q =
      NewQuery("SELECT 1 AS ID, (SELECT FIRST 1 NAME FROM T ORDER BY NAME DESC) AS MX FROM RDB$DATABASE");
  q->Open();
  EXPECT_EQ("n3", q->FieldByName("MX")->GetAsString());
  EXPECT_EQ("RDB$DATABASE", q->GetKeyRelation());
  q->SetFilter("ID = 1");
  q->SetFiltered(true);
  q->Open();
  EXPECT_EQ("1", Ids(q));
  q->Close();
  q->SetSearchText("0 < 1");
  q->Open();
  EXPECT_EQ(1, q->GetRecordCount());
  EXPECT_EQ("n3", q->FieldByName("MX")->GetAsString());
  delete q;
  // The relation of the FROM clause, of a derived table and of a WITH query all make the key relation.
  for (const char* s : {"SELECT ID, NAME FROM T", "SELECT D.ID, D.NAME FROM (SELECT ID, NAME FROM T) D",
                        "WITH X AS (SELECT ID, NAME FROM T) SELECT ID, NAME FROM X"}) {
    SCOPED_TRACE(s);
    q = NewQuery(s);
    q->Prepare();
    EXPECT_EQ("T", q->GetKeyRelation());
    delete q;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Expression columns of a live query

TEST_F(DatasetClausesTest, AnExpressionColumnIsReadOnlyAndNeverWritten) {
  Fill(4);
  TIB_Query* q = NewQuery(
      "SELECT ID, NAME, GRP, (SELECT M.NAME FROM T M WHERE M.ID = T.GRP) AS BOSS, (NAME) AS PN, NAME AS N2, "
      "ID + 0 AS ID0 FROM T ORDER BY ID");
  q->SetRequestLive(true);
  q->Open();
  q->Next();
  EXPECT_EQ("n2", q->FieldByName("BOSS")->GetAsString());
  for (const char* c : {"BOSS", "PN", "ID0"}) EXPECT_TRUE(q->FieldByName(c)->GetReadOnly()) << c;
  for (const char* c : {"ID", "NAME", "GRP", "N2"}) EXPECT_FALSE(q->FieldByName(c)->GetReadOnly()) << c;
  EXPECT_EQ("T.BOSS is readonly",
            testsupport::MessageOf<EIB_DatasetError>([&] { q->FieldByName("BOSS")->SetAsString("x"); }));
  q->Edit();
  q->FieldByName("NAME")->SetAsString("changed");
  q->FieldByName("GRP")->SetAsInteger(3);
  q->Post();
  q->Append();
  q->FieldByName("ID")->SetAsInteger(9);
  q->FieldByName("NAME")->SetAsString("new");
  q->Post();
  Tr->Commit();
  EXPECT_EQ("1,n1,1;2,changed,3;3,n3,0;4,n4,1;9,new,null", ReadSecond("SELECT ID, NAME, GRP FROM T ORDER BY ID", ","));
}

TEST_F(DatasetClausesTest, CachedUpdatesLocateTheRowByItsOwnColumnsOnly) {
  Fill(3);
  TIB_Query* q =
      NewQuery("SELECT ID, NAME, (SELECT M.NAME FROM T M WHERE M.ID = T.ID + 1) AS NEXTNAME FROM T ORDER BY ID");
  q->SetCachedUpdates(true);
  q->SetRequestLive(true);
  q->Open();
  q->Edit();
  q->FieldByName("NAME")->SetAsString("cached");
  q->Post();
  q->ApplyUpdates();
  Tr->Commit();
  EXPECT_EQ("1,cached;2,n2;3,n3", ReadSecond("SELECT ID, NAME FROM T ORDER BY ID", ","));
}

// ---------------------------------------------------------------------------------------------------------
// Parameters in the order of the text

TEST_F(DatasetClausesTest, ParamsAreNamedAsTheEngineDescribesThem) {
  struct {
    const char* SQL;
    const char* Described;  // name:type of each marker, in the engine's order
  } cases[] = {
      {"SELECT ID, CAST(:TAG AS DATE) AS TAG, NAME FROM T WHERE NAME = CAST(:N AS VARCHAR(7))", "TAG:570 N:448"},
      {"WITH X AS (SELECT ID, NAME, GRP FROM T WHERE ID >= CAST(:MINID AS SMALLINT)) "
       "SELECT ID, CAST(:S AS DATE) FROM X WHERE GRP = CAST(:G AS BIGINT)",
       "MINID:500 S:570 G:580"},
      {"SELECT D.ID, CAST(:A AS DATE) FROM (SELECT ID FROM T WHERE NAME = CAST(:B AS VARCHAR(3))) D "
       "WHERE D.ID = CAST(:C AS SMALLINT)",
       "A:570 B:448 C:500"},
      {"SELECT (SELECT FIRST 1 NAME FROM T WHERE ID = CAST(:A AS SMALLINT)), CAST(:B AS DATE) FROM T "
       "WHERE ID IN (SELECT ID FROM T WHERE GRP = CAST(:C AS BIGINT))",
       "A:500 B:570 C:580"},
      {"SELECT ID FROM T WHERE ID = CAST(:A AS INTEGER) OR NAME = CAST(:B AS VARCHAR(9)) OR GRP = CAST(:A AS INTEGER)",
       "A:496 B:448 A:496"},
      {"SELECT ID, CAST(? AS DATE) FROM T WHERE ID = CAST(:B AS SMALLINT) AND NAME = CAST(? AS VARCHAR(4))",
       "PRM_0:570 B:500 PRM_2:448"},
      {"SELECT FIRST :F ID, CAST(:D AS DATE) FROM T WHERE NAME = CAST(:N AS VARCHAR(9)) "
       "ORDER BY ID + CAST(:O AS SMALLINT)",
       "F:580 D:570 N:448 O:500"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.SQL);
    TIB_DSQL* q = NewDSQL(k.SQL);
    q->Prepare();
    const XSQLDA* da = q->GetParams()->GetPSQLDA();
    ASSERT_NE(nullptr, da);
    std::string described;
    for (int i = 0; i < da->sqld; ++i) {
      const XSQLVAR& v = da->sqlvar[i];
      described += (i ? " " : "") + std::string(v.aliasname, static_cast<size_t>(v.aliasname_length)) + ":" +
                   std::to_string(v.sqltype & ~1);
    }
    EXPECT_EQ(k.Described, described);
    delete q;
  }
}

TEST_F(DatasetClausesTest, ParamsOfAWithListOrTheSelectListSelectTheEnginesRows) {
  Fill(10);
  TIB_Query* q = NewQuery(
      "WITH X AS (SELECT ID, NAME, GRP FROM T WHERE COALESCE(ID, 0) >= :MINID) SELECT ID, NAME FROM X "
      "WHERE GRP = :G ORDER BY ID");
  q->Prepare();
  q->ParamByName("MINID")->SetAsInteger(3);
  q->ParamByName("G")->SetAsInteger(1);
  q->Open();
  EXPECT_EQ("4,7,10", Ids(q));
  EXPECT_EQ(3, q->GetRecordCount());
  delete q;
  // A select-list parameter, also as the buffered query reads rows by key later.
  for (bool whole : {true, false}) {
    SCOPED_TRACE(whole ? "whole rows" : "keys first");
    q = NewQuery("SELECT ID, CAST(:TAG AS INTEGER) AS TAG, NAME FROM T WHERE GRP = :G ORDER BY ID");
    q->GetKeyLinks().SetText("ID");
    q->SetFetchWholeRows(whole);
    q->Prepare();
    q->ParamByName("TAG")->SetAsInteger(7);
    q->ParamByName("G")->SetAsInteger(1);
    q->Open();
    EXPECT_EQ("1,4,7,10", Ids(q));
    EXPECT_EQ(4, q->GetRecordCount());
    for (q->First(); !q->GetEof(); q->Next()) EXPECT_EQ(7, q->FieldByName("TAG")->GetAsInteger());
    q->Last();
    q->RefreshKeys();
    EXPECT_EQ("1,4,7,10", Ids(q));
    q->Close();
    EXPECT_EQ("'t' is not a valid integer value",
              testsupport::MessageOf<EConvertError>([&] { q->ParamByName("TAG")->SetAsString("t"); }));
    delete q;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Row limits count as the engine returns them

TEST_F(DatasetClausesTest, RowLimitsCountWhatTheEngineReturns) {
  Fill(6);
  for (const char* s : {"SELECT ID FROM T ORDER BY ID FETCH FIRST ROW ONLY", "SELECT ID FROM T ORDER BY ID FETCH FIRST 1 ROW ONLY",
                        "SELECT ID FROM T ORDER BY ID FETCH NEXT 4 ROWS ONLY",
                        "SELECT ID FROM T ORDER BY ID OFFSET 4 ROWS", "SELECT ID FROM T ORDER BY ID ROWS 1",
                        "SELECT FIRST 1 ID FROM T ORDER BY ID", "SELECT ID FROM T ORDER BY ID ROWS 5 TO 9 WITH LOCK"}) {
    SCOPED_TRACE(s);
    const std::string engine = EngineIds(s);
    TIB_Query* q = NewQuery(s);
    q->Open();
    EXPECT_EQ(std::count(engine.begin(), engine.end(), ',') + 1, q->GetRecordCount());
    EXPECT_EQ(engine, Ids(q));
    delete q;
    Tr->Rollback();
  }
}

}  // namespace
