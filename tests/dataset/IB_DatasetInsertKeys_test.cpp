// The values a new row gets for the columns that tie it to its master and for an IDENTITY key: the row
// posts with them, shows them, and is found again by them.
#include <gtest/gtest.h>

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
    Exec("CREATE TABLE FLIGHT (ID INTEGER NOT NULL PRIMARY KEY, ORIGIN VARCHAR(3) NOT NULL REFERENCES AIRPORT, "
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

}  // namespace
