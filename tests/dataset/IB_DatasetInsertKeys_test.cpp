// The values a new row gets for the columns that tie it to its master and for an IDENTITY key: the row
// posts with them, shows them, and is found again by them.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "DatasetTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_DataSource.h"

namespace {

class InsertKeysTest : public datasettest::DatasetDbTest {
protected:
  static std::string Rows(TIB_Dataset* D) {
    std::string out;
    for (D->First(); !D->GetEof(); D->Next()) {
      if (!out.empty()) out += ";";
      for (int i = 0; i < D->GetFieldCount(); ++i) {
        TIB_Column* c = D->GetFields()->GetColumns(i);
        out += (i ? "," : "") + (c->GetIsNull() ? std::string("null") : c->GetAsString());
      }
    }
    return out;
  }
  std::string Message(const std::function<void()>& Step) {
    try {
      Step();
    } catch (const std::exception& e) {
      return e.what();
    }
    return std::string();
  }
};

// ---- MasterLinks -----------------------------------------------------------------------------------

class MasterLinkInsertTest : public InsertKeysTest {
protected:
  void SetUp() override {
    InsertKeysTest::SetUp();
    Exec("CREATE TABLE AIRPORT (CODE VARCHAR(3) NOT NULL PRIMARY KEY)");
    Exec(
        "CREATE TABLE FLIGHT (ID INTEGER NOT NULL PRIMARY KEY, ORIGIN VARCHAR(3) NOT NULL REFERENCES AIRPORT, "
        "NAME VARCHAR(10))");
    Tr->Commit();
    Exec("INSERT INTO AIRPORT VALUES ('VIE')");
    Exec("INSERT INTO AIRPORT VALUES ('ZRH')");
    Exec("INSERT INTO FLIGHT VALUES (1, 'VIE', 'a')");
    Exec("INSERT INTO FLIGHT VALUES (2, 'ZRH', 'b')");
    Exec("INSERT INTO FLIGHT VALUES (3, 'VIE', 'c')");
    Tr->Commit();
  }
};

// Whichever form names the detail's column (the FROM clause's alias, the relation, the bare name), the
// detail follows its master and a new row takes the master's value: it is written under the master
// row it was made under, and the detail shows what the same SQL run directly returns.
TEST_F(MasterLinkInsertTest, ANewDetailRowTakesTheMastersValueWhateverNamesItsColumn) {
  struct Case {
    const char* SQL;
    const char* Link;
    bool Cached;
  };
  const Case cases[] = {
      {"SELECT F.ID, F.ORIGIN, F.NAME FROM FLIGHT F ORDER BY F.ID", "F.ORIGIN=AIRPORT.CODE", false},
      {"SELECT F.ID, F.ORIGIN, F.NAME FROM FLIGHT F ORDER BY F.ID", "f.origin=AIRPORT.CODE", true},
      {"SELECT F.ID, F.ORIGIN, F.NAME FROM FLIGHT AS F ORDER BY F.ID", "F.ORIGIN=CODE", false},
      {"SELECT FLIGHT.ID, ORIGIN, NAME FROM FLIGHT ORDER BY ID", "FLIGHT.ORIGIN=AIRPORT.CODE", false},
      {"SELECT ID, ORIGIN, NAME FROM FLIGHT ORDER BY ID", "ORIGIN=AIRPORT.CODE", true},
      {"SELECT X.ID, X.ORIGIN, X.NAME FROM FLIGHT X JOIN AIRPORT A ON A.CODE = X.ORIGIN ORDER BY X.ID",
       "X.ORIGIN=AIRPORT.CODE", false},
  };
  int id = 100;
  std::string zrh = "2,ZRH,b";  // the rows under ZRH, those of the cases before included
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.SQL) + " " + c.Link + (c.Cached ? " cached" : ""));
    auto* source = new TIB_DataSource(Owner);
    TIB_Query* master = NewQuery("SELECT CODE FROM AIRPORT ORDER BY CODE");
    source->SetDataset(master);
    master->Open();
    TIB_Query* detail = NewQuery(c.SQL);
    detail->GetMasterLinks().SetText(c.Link);
    detail->SetMasterSource(source);
    detail->SetRequestLive(true);
    detail->SetCachedUpdates(c.Cached);
    if (std::string(c.SQL).find(" JOIN ") != std::string::npos) detail->SetKeyRelation("FLIGHT");
    detail->Open();
    EXPECT_EQ(Rows(detail), "1,VIE,a;3,VIE,c");
    master->Next();
    EXPECT_EQ(Rows(detail), zrh);
    detail->Insert();
    EXPECT_EQ(detail->FieldByName("ORIGIN")->GetAsString(), "ZRH");
    detail->FieldByName("ID")->SetAsInteger(++id);
    detail->FieldByName("NAME")->SetAsString("new");
    detail->Post();
    zrh += ";" + std::to_string(id) + ",ZRH,new";
    EXPECT_EQ(Rows(detail), zrh);
    // The row stays under its master row when the master moves away and back.
    master->First();
    EXPECT_EQ(Rows(detail), "1,VIE,a;3,VIE,c");
    master->Next();
    EXPECT_EQ(Rows(detail), zrh);
    if (c.Cached) Tr->ApplyUpdates();
    Tr->Commit();
    EXPECT_EQ(ReadSecond("SELECT ID, ORIGIN, NAME FROM FLIGHT WHERE ID = " + std::to_string(id), ","),
              std::to_string(id) + ",ZRH,new");
    delete detail;
    delete master;
    delete source;
  }
}

// In a self-join the entry's alias names its own column: the detail follows the master by that
// column, and a new row takes the master's value there, not in the other alias's column of the same
// name that stands first in the select list.
TEST_F(MasterLinkInsertTest, InASelfJoinTheAliasNamesItsOwnColumn) {
  struct Case {
    const char* Select;  // G's origin is the column at position 2
    const char* Insert;
    bool Cached;
  };
  const Case cases[] = {
      {"SELECT G.ID, P.ORIGIN, G.ORIGIN AS DEST, G.NAME", "INSERT INTO FLIGHT (ID, ORIGIN, NAME) VALUES (:ID, :DEST, :NAME)",
       false},
      {"SELECT G.ID, P.ORIGIN, G.ORIGIN AS DEST, G.NAME", "INSERT INTO FLIGHT (ID, ORIGIN, NAME) VALUES (:ID, :DEST, :NAME)",
       true},
      {"SELECT G.ID, P.ORIGIN AS PREV, G.ORIGIN, G.NAME", "INSERT INTO FLIGHT (ID, ORIGIN, NAME) VALUES (:ID, :ORIGIN, :NAME)",
       false},
  };
  int id = 200;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Select) + (c.Cached ? " cached" : ""));
    const std::string from = " FROM FLIGHT G LEFT JOIN FLIGHT P ON P.ID = G.ID - 1 ";
    auto* source = new TIB_DataSource(Owner);
    TIB_Query* master = NewQuery("SELECT CODE FROM AIRPORT ORDER BY CODE");
    source->SetDataset(master);
    master->Open();
    TIB_Query* detail = NewQuery(c.Select + from + "ORDER BY G.ID");
    detail->GetMasterLinks().SetText("G.ORIGIN=AIRPORT.CODE");
    detail->SetMasterSource(source);
    detail->SetRequestLive(true);
    detail->SetCachedUpdates(c.Cached);
    detail->SetKeyRelation("FLIGHT");
    detail->GetKeyLinks().SetText("FLIGHT.ID");
    detail->GetInsertSQL().SetText(c.Insert);
    detail->Open();
    const std::string sql = c.Select + from + "WHERE G.ORIGIN = '<>' ORDER BY G.ID";
    auto direct = [&](const std::string& Code) {
      std::string text = sql;
      text.replace(text.find("<>"), 2, Code);
      return ReadSecond(text, ",");
    };
    EXPECT_EQ(Rows(detail), direct("VIE"));
    master->Next();
    const std::string before = direct("ZRH");
    EXPECT_EQ(Rows(detail), before);
    detail->Insert();
    EXPECT_EQ(detail->GetFields()->GetColumns(2)->GetAsString(), "ZRH");
    EXPECT_TRUE(detail->GetFields()->GetColumns(1)->GetIsNull());
    detail->FieldByName("ID")->SetAsInteger(++id);
    detail->FieldByName("NAME")->SetAsString("new");
    detail->Post();
    // The new row stays under its master row when the master moves away and back.
    master->First();
    EXPECT_EQ(Rows(detail), direct("VIE"));
    master->Next();
    EXPECT_EQ(detail->GetRecordCount(), std::count(before.begin(), before.end(), ';') + 2);
    EXPECT_NE(Rows(detail).find(";" + std::to_string(id) + ","), std::string::npos);
    if (c.Cached) Tr->ApplyUpdates();
    Tr->Commit();
    EXPECT_EQ(ReadSecond("SELECT ID, ORIGIN, NAME FROM FLIGHT WHERE ID = " + std::to_string(id), ","),
              std::to_string(id) + ",ZRH,new");
    // Read again after the commit (which closed both), the detail shows what the same SQL returns.
    master->Open();
    master->Last();
    detail->Open();
    EXPECT_EQ(Rows(detail), direct("ZRH"));
    delete detail;
    delete master;
    delete source;
  }
}

// ---- IDENTITY keys -----------------------------------------------------------------------------------

class IdentityInsertTest : public InsertKeysTest {
protected:
  void SetUp() override {
    InsertKeysTest::SetUp();
    Exec("CREATE TABLE C (ID INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, NAME VARCHAR(20))");
    Exec("CREATE SEQUENCE OWN_GEN");
    Tr->Commit();
    Exec("ALTER SEQUENCE OWN_GEN RESTART WITH 500");
    for (const char* n : {"a", "b", "c"}) Exec(std::string("INSERT INTO C (NAME) VALUES ('") + n + "')");
    Tr->Commit();
  }
  TIB_Query* Live(const std::string& SQL = "SELECT ID, NAME FROM C ORDER BY ID") {
    TIB_Query* q = NewQuery(SQL);
    q->SetRequestLive(true);
    q->SetCommitAction(caRefresh);
    return q;
  }
  static bool MoveTo(TIB_Query* Q, int64_t Id) {
    for (Q->First(); !Q->GetEof(); Q->Next()) {
      if (Q->FieldByName("ID")->GetAsInt64() == Id) return true;
    }
    return false;
  }
  // The value the engine's own insert would give the identity column next.
  int64_t NextIdentity() {
    auto* c = NewCursor(
        "SELECT RDB$GENERATOR_NAME FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = 'C' AND RDB$FIELD_NAME = 'ID'");
    c->Open();
    const std::string gen = Trim(c->GetFields()->GetColumns(0)->GetAsString());
    delete c;
    c = NewCursor("SELECT GEN_ID(" + gen + ", 0) + 1 FROM RDB$DATABASE");
    c->Open();
    const int64_t n = c->GetFields()->GetColumns(0)->GetAsInt64();
    delete c;
    return n;
  }
};

// A new row of a table whose key is an IDENTITY column shows the key its generator gives at once,
// posts with it, is found again after the commit and edits; the rows equal what the SQL run directly
// returns. The same with cached updates.
TEST_F(IdentityInsertTest, ANewRowGetsItsKeyFromTheIdentitysGenerator) {
  for (const bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached" : "posted");
    TIB_Query* q = Live();
    q->SetCachedUpdates(cached);
    q->Open();
    const int64_t next = NextIdentity();
    q->Insert();
    EXPECT_FALSE(q->FieldByName("ID")->GetRequired());
    EXPECT_EQ(q->FieldByName("ID")->GetAsInt64(), next);
    q->FieldByName("NAME")->SetAsString("new");
    q->Post();
    EXPECT_EQ(q->FieldByName("ID")->GetAsInt64(), next);
    if (cached) q->ApplyUpdates();
    Tr->Commit();
    const std::string id = std::to_string(next);
    EXPECT_EQ(ReadSecond("SELECT ID, NAME FROM C WHERE ID = " + id, ","), id + ",new");
    ASSERT_TRUE(q->GetActive());
    EXPECT_EQ(Rows(q), ReadSecond("SELECT ID, NAME FROM C ORDER BY ID", ","));
    ASSERT_TRUE(MoveTo(q, next));
    q->Edit();
    q->FieldByName("NAME")->SetAsString("edited");
    q->Post();
    if (cached) q->ApplyUpdates();
    Tr->Commit();
    EXPECT_EQ(ReadSecond("SELECT ID, NAME FROM C WHERE ID = " + id, ","), id + ",edited");
    // The engine's own next insert goes on after the value taken.
    EXPECT_EQ(NextIdentity(), next + 1);
    delete q;
  }
}

// The identity column is no required field: left empty (cleared, or never filled because the insert
// began before the column was known) it gets its generator's value when the row is posted, not NULL.
TEST_F(IdentityInsertTest, AnEmptiedIdentityKeyIsFilledWhenTheRowIsPosted) {
  for (const bool checkRequired : {true, false}) {
    SCOPED_TRACE(checkRequired ? "CheckRequired" : "no CheckRequired");
    TIB_Query* q = Live();
    q->SetCheckRequired(checkRequired);
    q->Open();
    q->Insert();
    q->FieldByName("ID")->Clear();
    q->FieldByName("NAME")->SetAsString("emptied");
    const int64_t next = NextIdentity();
    q->Post();
    EXPECT_EQ(q->FieldByName("ID")->GetAsInt64(), next);
    Tr->Commit();
    EXPECT_EQ(ReadSecond("SELECT ID FROM C WHERE NAME = 'emptied'", ","), std::to_string(next));
    Exec("DELETE FROM C WHERE NAME = 'emptied'");
    Tr->Commit();
    delete q;
  }
}

// A key the user types over the one the row was given is written as typed; GeneratorLinks naming the column (the dataset's or the
// connection's) give it their generator's value instead of the identity's.
TEST_F(IdentityInsertTest, TypedKeysAndGeneratorLinksComeFirst) {
  struct Case {
    const char* Name;
    std::function<void(TIB_Query*)> Setup;
    std::function<void(TIB_Query*)> Fill;
    int64_t Expected;
    int64_t IdentityTaken;  // values the identity's generator gave
  };
  const Case cases[] = {
      {"typed", [](TIB_Query*) {}, [](TIB_Query* q) { q->FieldByName("ID")->SetAsInteger(77); }, 77, 1},
      {"own links", [](TIB_Query* q) { q->GetGeneratorLinks().SetText("ID=OWN_GEN"); }, [](TIB_Query*) {}, 501, 0},
      {"connection links", [this](TIB_Query*) { Conn->GetGeneratorLinks().SetText("C.ID=OWN_GEN"); }, [](TIB_Query*) {},
       502, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const int64_t identity = NextIdentity();
    TIB_Query* q = Live();
    c.Setup(q);
    q->Open();
    q->Insert();
    c.Fill(q);
    q->FieldByName("NAME")->SetAsString(c.Name);
    q->Post();
    EXPECT_EQ(q->FieldByName("ID")->GetAsInt64(), c.Expected);
    EXPECT_EQ(NextIdentity(), identity + c.IdentityTaken);
    Tr->Commit();
    EXPECT_EQ(ReadSecond(std::string("SELECT ID FROM C WHERE NAME = '") + c.Name + "'", ","),
              std::to_string(c.Expected));
    Conn->GetGeneratorLinks().Clear();
    delete q;
  }
}

// An InsertSQL of the application that leaves the key to the engine and returns it: the row shows the
// key the engine gave, is found again after the commit and edits.
TEST_F(IdentityInsertTest, AnInsertSQLReturningTheKeyGivesTheRowItsKey) {
  struct Case {
    const char* SQL;
    int64_t Least;  // the trigger gives keys from 1001 on where the statement sends none
    bool Cached;
  };
  for (const Case& c : {Case{"INSERT INTO C (NAME) VALUES (:NAME) RETURNING ID", 4, false},
                        Case{"INSERT INTO C (ID, NAME) VALUES (NULL, :NAME) RETURNING ID, NAME", 1001, false},
                        Case{"INSERT INTO C (NAME) VALUES (:NAME) RETURNING ID", 4, true}}) {
    const char* sql = c.SQL;
    SCOPED_TRACE(std::string(sql) + (c.Cached ? " cached" : ""));
    Exec(
        "CREATE OR ALTER TRIGGER C_BI FOR C BEFORE INSERT AS BEGIN IF (NEW.ID IS NULL) THEN NEW.ID = 1000 + "
        "GEN_ID(OWN_GEN, 1); END");
    Tr->Commit();
    TIB_Query* q = Live();
    q->GetInsertSQL().SetText(sql);
    q->SetCachedUpdates(c.Cached);
    q->Open();
    q->Insert();
    q->FieldByName("NAME")->SetAsString("custom");
    q->Post();
    if (c.Cached) q->ApplyUpdates();
    const int64_t id = q->FieldByName("ID")->GetAsInt64();
    EXPECT_GE(id, c.Least);
    Tr->Commit();
    EXPECT_EQ(ReadSecond("SELECT ID FROM C WHERE NAME = 'custom'", ","), std::to_string(id));
    ASSERT_TRUE(MoveTo(q, id));
    q->Edit();
    q->FieldByName("NAME")->SetAsString("custom2");
    q->Post();
    if (c.Cached) q->ApplyUpdates();
    Tr->Commit();
    EXPECT_EQ(ReadSecond("SELECT ID, NAME FROM C WHERE ID = " + std::to_string(id), ","),
              std::to_string(id) + ",custom2");
    Exec("DELETE FROM C WHERE ID = " + std::to_string(id));
    Exec("DROP TRIGGER C_BI");
    Tr->Commit();
    delete q;
  }
}

}  // namespace
