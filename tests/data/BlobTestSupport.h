// A table with blob and array columns in a fresh database, and statements that write a row through
// their parameters and read it back through their fields.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dblib/StatementTestSupport.h"
#include "dblib/data/IB_BlobStream.h"
#include "dblib/data/IB_ColumnArray.h"
#include "dblib/data/IB_ColumnBlob.h"

namespace blobtest {

class BlobDbTest : public stmttest::StatementDbTest {
protected:
  // Creates the table T (ID INTEGER, then Columns) and commits.
  void MakeTable(const std::string& Columns) {
    Exec("CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, " + Columns + ")");
    Tr->Commit();
  }
  // A prepared statement; freed with the test's components.
  TIB_DSQL* Prepared(const std::string& SQL) {
    TIB_DSQL* q = NewDSQL(SQL);
    q->Prepare();
    return q;
  }
  // Runs SELECT <What> FROM T WHERE ID = Id and gives the statement (its fields hold the row).
  TIB_DSQL* Select(const std::string& What, int Id) {
    TIB_DSQL* q = Prepared("SELECT " + What + " FROM T WHERE ID = :ID");
    q->ParamByName("ID")->SetAsInteger(Id);
    q->Execute();
    return q;
  }
  // The blob-node cache of Row: the number of values it holds.
  static int CachedValues(TIB_Row& Row) {
    int n = 0;
    for (TIB_BlobNode* node = Row.GetBlobNodeList().get(); node; node = node->Next.get()) ++n;
    return n;
  }
};

}  // namespace blobtest
