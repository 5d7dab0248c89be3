// Currency values stored into a NUMERIC(18,2) column, through the engine: ties go to the even cent.
#include <gtest/gtest.h>

#include <string>

#include "dblib/StatementTestSupport.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/ScopeGuards.h"

namespace {

class CurrencyTiesTest : public stmttest::StatementDbTest {
protected:
  void SetUp() override {
    StatementDbTest::SetUp();
    Exec("CREATE TABLE M (ID INTEGER NOT NULL PRIMARY KEY, AMOUNT NUMERIC(18,2))");
    Tr->Commit();
  }
  // AMOUNT of row Id as a second attachment reads it, in cents.
  std::string ReadBack(int Id) {
    auto* conn = new TIB_Connection(Owner);
    auto* tr = new TIB_Transaction(Owner);
    auto* q = new TIB_DSQL(Owner);
    auto drop = TScopeExit([&] {
      delete q;
      delete tr;
      delete conn;
    });
    conn->SetDatabaseName(Conn->GetDatabaseName());
    conn->SetCharSet("ISO8859_1");
    conn->Connect();
    tr->SetIB_Connection(conn);
    q->SetIB_Connection(conn);
    q->SetIB_Transaction(tr);
    q->GetSQL().SetText("SELECT CAST(AMOUNT * 100 AS BIGINT) FROM M WHERE ID = " + std::to_string(Id));
    q->Execute();
    const std::string r = q->GetFields()->GetColumns(0)->GetAsString();
    tr->Commit();
    return r;
  }
};

TEST_F(CurrencyTiesTest, AParameterTakesTheEvenCentAtATie) {
  const std::pair<int64_t, const char*> cases[] = {
      {12250, "122"},  {12350, "124"},   {-12250, "-122"}, {-12350, "-124"},
      {12251, "123"},  {12249, "122"},   {50, "0"},        {150, "2"}};
  TIB_DSQL* ins = NewDSQL("INSERT INTO M (ID, AMOUNT) VALUES (:ID, :AMOUNT)");
  int id = 0;
  for (const auto& [raw, cents] : cases) {
    ins->ParamByName("ID")->SetAsInteger(++id);
    ins->ParamByName("AMOUNT")->SetAsCurrency(Currency::FromRaw(raw));
    ins->Execute();
  }
  Tr->Commit();
  id = 0;
  for (const auto& [raw, cents] : cases) EXPECT_EQ(cents, ReadBack(++id)) << raw;
}

TEST_F(CurrencyTiesTest, AnEditedFieldTakesTheEvenCentAtATie) {
  Exec("INSERT INTO M VALUES (1, 0)");
  Tr->Commit();
  auto* q = new TIB_Query(Owner);
  q->SetIB_Connection(Conn);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText("SELECT ID, AMOUNT FROM M");
  q->SetRequestLive(true);
  q->Open();
  q->Edit();
  q->FieldByName("AMOUNT")->SetAsCurrency(Currency::FromRaw(12250));  // 1.2250
  EXPECT_EQ(12200, q->FieldByName("AMOUNT")->GetAsCurrency().Raw());
  q->Post();
  Tr->Commit();
  EXPECT_EQ("122", ReadBack(1));
}

}  // namespace
