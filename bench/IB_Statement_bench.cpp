// The same work through the library's statements and through direct client calls on the same entry
// points: 100,000 parameterised INSERTs in one transaction and 100,000 prepared singleton SELECTs by
// key. Prints each time and the ratio library / direct (the target is at most 1.10).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"

namespace {

constexpr int kRows = 100000;

double Seconds(std::chrono::steady_clock::time_point Start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

struct Direct {
  TIB_Session* S;
  isc_db_handle* DB;
  isc_tr_handle TR = 0;

  void Start() {
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                               isc_tpb_nowait};
    struct {
      isc_db_handle* Database;
      long TpbLength;
      const char* Tpb;
    } teb{DB, static_cast<long>(sizeof tpb), tpb};
    S->CallChecked(S, S->Entries.isc_start_multiple, &TR, static_cast<short>(1), &teb);
  }
  void Commit() { S->CallChecked(S, S->Entries.isc_commit_transaction, &TR); }

  // One statement with one INTEGER parameter (and for a select, one INTEGER column).
  double Run(const char* SQL, bool Select, int Offset) {
    isc_stmt_handle h = 0;
    S->CallChecked(S, S->Entries.isc_dsql_allocate_statement, DB, &h);
    std::vector<char> inBuf(XSQLDA_LENGTH(1), 0), outBuf(XSQLDA_LENGTH(1), 0);
    auto* in = reinterpret_cast<XSQLDA*>(inBuf.data());
    auto* out = reinterpret_cast<XSQLDA*>(outBuf.data());
    in->version = out->version = SQLDA_VERSION1;
    in->sqln = out->sqln = 1;
    S->CallChecked(S, S->Entries.isc_dsql_prepare, &TR, &h, static_cast<unsigned short>(0), SQL,
                   static_cast<unsigned short>(3), out);
    S->CallChecked(S, S->Entries.isc_dsql_describe_bind, &h, static_cast<unsigned short>(3), in);
    int32_t key = 0, value = 0;
    short keyInd = 0, valueInd = 0;
    in->sqlvar[0].sqldata = reinterpret_cast<char*>(&key);
    in->sqlvar[0].sqlind = &keyInd;
    out->sqlvar[0].sqldata = reinterpret_cast<char*>(&value);
    out->sqlvar[0].sqlind = &valueInd;
    int64_t sum = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRows; ++i) {
      key = Offset + i;
      if (Select) {
        // The library's road for a SELECT: execute, fetch one row, close the cursor.
        S->CallChecked(S, S->Cursor.isc_dsql_execute, &TR, &h, static_cast<unsigned short>(3),
                       static_cast<const XSQLDA*>(in));
        S->CallChecked(S, S->Cursor.isc_dsql_fetch, &h, static_cast<unsigned short>(3), static_cast<const XSQLDA*>(out));
        S->CallChecked(S, S->Cursor.isc_dsql_free_statement, &h, static_cast<unsigned short>(DSQL_close));
        sum += value;
      } else {
        S->CallChecked(S, S->Cursor.isc_dsql_execute, &TR, &h, static_cast<unsigned short>(3),
                       static_cast<const XSQLDA*>(in));
      }
    }
    const double t = Seconds(t0);
    S->CallChecked(S, S->Entries.isc_dsql_free_statement, &h, static_cast<unsigned short>(DSQL_drop));
    if (Select && sum == 0) std::printf("(no rows read)\n");
    return t;
  }
};

}  // namespace

int main() {
  const std::string dir = (std::filesystem::temp_directory_path() / ("dblib_bench_" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  auto* form = new TComponent(nullptr);
  int rc = 0;
  try {
    auto* db = new TIB_Connection(form);
    db->SetDatabaseName(dir + "/bench.fdb");
    db->SetSQLDialect(3);
    db->SetPageSize(8192);
    db->CreateDatabase();
    auto* tr = new TIB_Transaction(form);
    tr->SetIB_Connection(db);
    tr->SetIsolation(tiCommitted);
    auto* q = new TIB_DSQL(form);
    q->SetIB_Connection(db);
    q->SetIB_Transaction(tr);
    q->GetSQL().SetText("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, V INTEGER)");
    q->Execute();
    tr->Commit();

    // Library: inserts.
    auto* ins = new TIB_DSQL(form);
    ins->SetIB_Connection(db);
    ins->SetIB_Transaction(tr);
    ins->GetSQL().SetText("INSERT INTO B (ID, V) VALUES (:ID, :ID)");
    ins->Prepare();
    TIB_Column* id = ins->ParamByName("ID");
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRows; ++i) {
      id->SetAsInteger(i);
      ins->Execute();
    }
    const double libInsert = Seconds(t0);
    tr->Commit();

    // Direct: inserts of other keys, in one transaction.
    Direct d{db->GetSession(), db->GetdbHandle()};
    d.Start();
    const double directInsert = d.Run("INSERT INTO B (ID, V) VALUES (?, 1)", false, kRows);
    d.Commit();

    // Library: singleton selects by key.
    auto* sel = new TIB_DSQL(form);
    sel->SetIB_Connection(db);
    sel->SetIB_Transaction(tr);
    sel->GetSQL().SetText("SELECT V FROM B WHERE ID = :K");
    sel->Prepare();
    TIB_Column* k = sel->ParamByName("K");
    TIB_Column* v = sel->FieldByName("V");
    int64_t sum = 0;
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRows; ++i) {
      k->SetAsInteger(i);
      sel->Execute();
      sum += v->GetAsInteger();
    }
    const double libSelect = Seconds(t0);
    tr->Commit();

    d.Start();
    const double directSelect = d.Run("SELECT V FROM B WHERE ID = ?", true, 0);
    d.Commit();

    std::printf("%d parameterised INSERTs: library %.3f s, direct %.3f s, ratio %.3f\n", kRows, libInsert,
                directInsert, libInsert / directInsert);
    std::printf("%d singleton SELECTs:     library %.3f s, direct %.3f s, ratio %.3f\n", kRows, libSelect,
                directSelect, libSelect / directSelect);
    if (sum == 0) std::printf("(no rows read)\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    rc = 1;
  }
  delete form;
  std::filesystem::remove_all(dir);
  return rc;
}
