// Creates an embedded database file, reads one value through a prepared statement and drops the file.
//
//   consumer /path/to/new.fdb
#include <cstdio>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s /path/to/new.fdb\n", argv[0]);
    return 2;
  }
  auto* form = new TComponent(nullptr);
  int rc = 0;
  try {
    auto* db = new TIB_Connection(form);
    db->SetDatabaseName(argv[1]);
    db->SetCharSet("ISO8859_1");
    db->CreateDatabase();
    auto* tr = new TIB_Transaction(form);
    tr->SetIB_Connection(db);
    auto* sel = new TIB_DSQL(form);
    sel->SetIB_Connection(db);
    sel->SetIB_Transaction(tr);
    sel->GetSQL().SetText("SELECT 6 * 7 AS ANSWER FROM RDB$DATABASE");
    sel->Execute();
    std::printf("answer %s\n", sel->FieldByName("ANSWER")->GetAsString().c_str());
    tr->Commit();
    db->DropDatabase();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    rc = 1;
  }
  delete form;
  return rc;
}
