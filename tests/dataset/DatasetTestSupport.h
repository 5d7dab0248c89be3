// A form with a connection to a fresh embedded database, a transaction and a table T of numbered rows,
// for the dataset tests; plus a clock the tests drive and counters of client calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_Cursor.h"
#include "dblib/dataset/IB_BDataset.h"
#include "platform/Clock.h"
#include "dblib/StatementTestSupport.h"
#include "support/TestSupport.h"

namespace datasettest {

// A tick source the test sets and advances by Step at every reading.
struct TestClock {
  static inline uint64_t Now = 0;
  static inline uint64_t Step = 0;
  static uint64_t Read() {
    const uint64_t t = Now;
    Now += Step;
    return t;
  }
  TestClock(uint64_t Start, uint64_t AStep) {
    Now = Start;
    Step = AStep;
    SetTickSource(&Read);
  }
  ~TestClock() { SetTickSource(nullptr); }
};

class DatasetDbTest : public stmttest::StatementDbTest {
protected:
  void SetUp() override {
    CreateDatabase("ds.fdb", tiConcurrency);
    Exec("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), GRP INTEGER)");
    Tr->Commit();
  }

  // Rows 1..N: NAME 'n<i>', GRP i mod 3.
  void Fill(int N) {
    Exec("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= " + std::to_string(N) +
         ") DO BEGIN INSERT INTO T VALUES (:I, 'n' || :I, MOD(:I, 3)); I = I + 1; END END");
    Tr->Commit();
  }
  TIB_Cursor* NewCursor(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    auto* c = new TIB_Cursor(Owner);
    c->SetIB_Connection(Conn);
    c->SetIB_Transaction(Tr);
    c->GetSQL().SetText(SQL);
    return c;
  }
  // The rows of SQL as a second attachment to the file sees them (committed data): the fields of a row
  // joined by Sep ("null" for a null field), the rows by ';'. The attachment is made on first use.
  TIB_Connection* Conn2 = nullptr;
  TIB_Transaction* Tr2 = nullptr;
  std::string ReadSecond(const std::string& SQL, const char* Sep) {
    if (!Conn2) {
      Conn2 = new TIB_Connection(Owner);
      Conn2->SetDatabaseName(Conn->GetDatabaseName());
      Conn2->SetCharSet("ISO8859_1");
      Conn2->Connect();
      Tr2 = new TIB_Transaction(Owner);
      Tr2->SetIB_Connection(Conn2);
      Tr2->SetIsolation(tiCommitted);
    }
    auto* c = new TIB_Cursor(Owner);
    c->SetIB_Connection(Conn2);
    c->SetIB_Transaction(Tr2);
    c->GetSQL().SetText(SQL);
    c->Open();
    std::string out;
    for (; !c->GetEof(); c->Next()) {
      if (!out.empty()) out += ";";
      for (int i = 0; i < c->GetFieldCount(); ++i) {
        TIB_Column* col = c->GetFields()->GetColumns(i);
        out += (i ? Sep : "") + (col->GetIsNull() ? std::string("null") : col->GetAsString());
      }
    }
    delete c;
    Tr2->Commit();
    return out;
  }
  TIB_Query* NewQuery(const std::string& SQL = "SELECT ID, NAME FROM T ORDER BY ID") {
    auto* q = new TIB_Query(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    q->GetSQL().SetText(SQL);
    return q;
  }
  // Rows fetched by walking the open cursor to its end.
  static int Walk(TIB_Dataset* D) {
    int n = 0;
    for (; !D->GetEof(); D->Next()) ++n;
    return n;
  }
};

// The seeds of a journey test: DBLIB_JOURNEY_SEED=<n> replays one seed, DBLIB_JOURNEY_SEEDS=<count> runs that
// many (else Default); seed i is i * Step + i % Spread.
inline std::vector<uint32_t> JourneySeeds(uint32_t Default, uint32_t Step, uint32_t Spread) {
  std::vector<uint32_t> seeds;
  if (const char* s = std::getenv("DBLIB_JOURNEY_SEED")) {
    seeds.push_back(static_cast<uint32_t>(std::strtoul(s, nullptr, 10)));
    return seeds;
  }
  const char* n = std::getenv("DBLIB_JOURNEY_SEEDS");
  const uint32_t count = n ? static_cast<uint32_t>(std::strtoul(n, nullptr, 10)) : Default;
  for (uint32_t i = 1; i <= count; ++i) seeds.push_back(i * Step + i % Spread);
  return seeds;
}

}  // namespace datasettest
