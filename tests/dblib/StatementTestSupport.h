// A form with a connection to a fresh embedded database and a transaction, for the statement tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "support/TestSupport.h"

namespace stmttest {

// Owns the components of a test (so they are registered with the session) and the database folder: a fresh
// embedded database (dialect 3, ISO8859_1) and a transaction of the given isolation on it.
class StatementDbTest : public ::testing::Test {
protected:
  testsupport::TempDir Dir;
  TComponent* Owner = new TComponent(nullptr);
  TIB_Connection* Conn = new TIB_Connection(Owner);
  TIB_Transaction* Tr = new TIB_Transaction(Owner);

  void SetUp() override { CreateDatabase("stmt.fdb", tiCommitted); }
  void TearDown() override {
    delete Owner;
    Owner = nullptr;
  }
  void CreateDatabase(const std::string& File, TIB_Isolation Isolation) {
    Conn->SetDatabaseName(Dir.File(File));
    Conn->SetCharSet("ISO8859_1");
    Conn->SetSQLDialect(3);
    Conn->SetPageSize(8192);
    Conn->CreateDatabase();
    Tr->SetIB_Connection(Conn);
    Tr->SetIsolation(Isolation);
  }

  TIB_DSQL* NewDSQL(const std::string& SQL = "") {
    auto* q = new TIB_DSQL(Owner);
    q->SetIB_Connection(Conn);
    q->SetIB_Transaction(Tr);
    if (!SQL.empty()) q->GetSQL().SetText(SQL);
    return q;
  }
  // Runs SQL in the test's transaction.
  void Exec(const std::string& SQL) {
    TIB_DSQL* q = NewDSQL(SQL);
    q->Execute();
    delete q;
  }
  // The first column of a one-row query as text ("<null>" for null).
  std::string Scalar(const std::string& SQL) {
    TIB_DSQL* q = NewDSQL(SQL);
    q->Execute();
    TIB_Column* c = q->GetFields()->GetColumns(0);
    std::string r = c->GetIsNull() ? "<null>" : c->GetAsString();
    delete q;
    return r;
  }
};

}  // namespace stmttest
