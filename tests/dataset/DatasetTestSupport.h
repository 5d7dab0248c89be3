// A form with a connection to a fresh embedded database, a transaction and a table T of numbered rows,
// for the dataset tests; plus a clock the tests drive and counters of client calls.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_Cursor.h"
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
  // Rows fetched by walking the open cursor to its end.
  static int Walk(TIB_Dataset* D) {
    int n = 0;
    for (; !D->GetEof(); D->Next()) ++n;
    return n;
  }
};

}  // namespace datasettest
