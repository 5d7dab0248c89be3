// The road of one query on an embedded database file: create the database, create a table, insert rows
// with parameters in a transaction, commit, read a row back through a statement, and print the values,
// the plan and the row counts; then walk all rows of a query through a forward-only cursor.
//
//   example_query /path/to/flights.fdb
//
// The path attaches in embedded mode: the engine opens the file in-process, no server needed. A database
// an earlier run left at the path is dropped first, so the example runs again and again.
#include <cstdio>
#include <filesystem>
#include <string>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_BDataset.h"
#include "dblib/dataset/IB_Cursor.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s /path/to/flights.fdb\n", argv[0]);
    return 2;
  }
  // A form owns the components; deleting it frees them all, last created first.
  auto* form = new TComponent(nullptr);
  try {
    auto* db = new TIB_Connection(form);
    db->SetDatabaseName(argv[1]);
    db->SetCharSet("ISO8859_1");
    db->SetSQLDialect(3);
    if (std::filesystem::exists(argv[1])) {  // an earlier run's database
      db->Connect();
      db->DropDatabase();
    }
    db->CreateDatabase();  // creates the file and attaches
    const TIB_ConnectCharacteristics c = db->GetCharacteristics();
    std::printf("created %s: page size %u, SQL dialect %d, ODS %u.%u, server %s\n", argv[1], unsigned(c.dbPage_Size),
                int(c.dbSQL_Dialect), unsigned(c.dbODS_Version), unsigned(c.dbODS_Minor_Version), c.dbVersion.c_str());
    auto* tr = new TIB_Transaction(form);
    tr->SetIB_Connection(db);

    auto* ddl = new TIB_DSQL(form);
    ddl->SetIB_Connection(db);
    ddl->SetIB_Transaction(tr);
    ddl->GetSQL().SetText(
        "CREATE TABLE FLIGHT (ID INTEGER NOT NULL PRIMARY KEY, ORIGIN CHAR(4), "
        "DEST CHAR(4), DISTANCE NUMERIC(9,1), DEPARTS TIMESTAMP)");
    ddl->Execute();
    tr->Commit();

    auto* ins = new TIB_DSQL(form);
    ins->SetIB_Connection(db);
    ins->SetIB_Transaction(tr);
    ins->GetSQL().SetText(
        "INSERT INTO FLIGHT (ID, ORIGIN, DEST, DISTANCE, DEPARTS) "
        "VALUES (:ID, :ORIGIN, :DEST, :DISTANCE, :DEPARTS)");
    ins->Prepare();
    const struct {
      int Id;
      const char* Origin;
      const char* Dest;
      const char* Distance;
    } rows[] = {{1, "EDDF", "LFPG", "242.5"}, {2, "EGLL", "KJFK", "2999.1"}, {3, "LSZH", "LOWW", "323.0"}};
    int inserted = 0;
    for (const auto& r : rows) {
      ins->ParamByName("ID")->SetAsInteger(r.Id);
      ins->ParamByName("ORIGIN")->SetAsString(r.Origin);
      ins->ParamByName("DEST")->SetAsString(r.Dest);
      ins->ParamByName("DISTANCE")->SetAsString(r.Distance);
      ins->ParamByName("DEPARTS")->SetAsDateTime(EncodeDate(2025, 6, r.Id) + EncodeTime(8, 30, 0, 0));
      ins->Execute();
      inserted += ins->GetRowsAffected();
    }
    tr->Commit();
    std::printf("inserted %d rows, committed\n", inserted);

    auto* sel = new TIB_DSQL(form);
    sel->SetIB_Connection(db);
    sel->SetIB_Transaction(tr);
    sel->GetSQL().SetText("SELECT ID, ORIGIN, DEST, DISTANCE, DEPARTS FROM FLIGHT WHERE ID = :ID");
    sel->Prepare();
    sel->ParamByName("ID")->SetAsInteger(2);
    sel->Execute();
    for (int i = 0; i < sel->GetFieldCount(); ++i) {
      TIB_Column* c = sel->GetFields()->GetColumns(i);
      std::printf("%-9s %s\n", c->GetColumnName().c_str(), c->GetAsString().c_str());
    }
    std::string plan;
    db->GetSession()->GetStatementPlan(sel->GetStmtHandle(), plan);
    std::printf("plan: %s\n", Trim(plan).c_str());
    std::printf("rows selected: %d\n", sel->GetRowsAffected());

    // Every row of a query, forward only: the cursor fetches one row at a time into its fields.
    auto* cur = new TIB_Cursor(form);
    cur->SetIB_Connection(db);
    cur->SetIB_Transaction(tr);
    cur->GetSQL().SetText("SELECT ID, ORIGIN, DEST, DISTANCE FROM FLIGHT ORDER BY ID");
    std::printf("flights (%d):\n", cur->GetRecordCount());
    for (cur->First(); !cur->GetEof(); cur->Next()) {
      std::printf("  %d %s-%s %s\n", cur->FieldByName("ID")->GetAsInteger(),
                  cur->FieldByName("ORIGIN")->GetAsString().c_str(), cur->FieldByName("DEST")->GetAsString().c_str(),
                  cur->FieldByName("DISTANCE")->GetAsString().c_str());
    }
    cur->Close();

    // A buffered, scrollable query: rows stay in memory, and edits are written back by the table's key.
    auto* qry = new TIB_Query(form);
    qry->SetIB_Connection(db);
    qry->SetIB_Transaction(tr);
    qry->GetSQL().SetText("SELECT ID, ORIGIN, DEST FROM FLIGHT ORDER BY ID");
    qry->SetRequestLive(true);                    // edits through generated UPDATE/INSERT/DELETE statements
    qry->Open();
    qry->Last();
    std::printf("buffered rows: %d\n", qry->GetRowNum());
    qry->First();
    qry->Edit();
    qry->FieldByName("DEST")->SetAsString("LFPG");
    qry->Post();                                  // UPDATE FLIGHT SET ... WHERE ID = ? (the primary key)
    std::printf("first flight now goes to %s\n", qry->FieldByName("DEST")->GetAsString().c_str());
    qry->Close();

    auto* upd = new TIB_DSQL(form);
    upd->SetIB_Connection(db);
    upd->SetIB_Transaction(tr);
    upd->GetSQL().SetText("UPDATE FLIGHT SET DISTANCE = DISTANCE + 1 WHERE DISTANCE < 1000");
    upd->Execute();
    std::printf("rows updated: %d\n", upd->GetRowsAffected());
    tr->Commit();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    delete form;
    return 1;
  }
  delete form;
  return 0;
}
