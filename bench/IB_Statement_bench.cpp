// The same work through the library's statements and through direct client calls on the same entry
// points of the same session: parameterised INSERTs (two INTEGER parameters each) and prepared singleton
// SELECTs by key (one parameter, one column), both sides in the same server transaction.
//
// To give both sides the same table state, warm-up and index growth, the work runs in rounds that
// alternate the sides (and which side goes first); each side does kRounds x kRowsPerRound rows. Prints
// the per-round times, the totals, the median of the per-round ratios and the ratio of the totals
// (library / direct; the target is at most 1.10).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"

namespace {

// Runs both sides of a round, the side that goes first swapping from round to round, so that warm-up
// and the table's growth fall on both alike.
template <class A, class B>
void RunInTurn(int Round, A& Library, B& Direct) {
  if (Round % 2 == 0) {
    Library();
    Direct();
  } else {
    Direct();
    Library();
  }
}

int kRounds = 50;
int kRowsPerRound = 2000;

// Wall time and the calling thread's CPU time (the embedded engine works in the caller's thread; the CPU
// time is what other processes on a shared machine disturb least).
struct Clock {
  std::chrono::steady_clock::time_point Wall = std::chrono::steady_clock::now();
  double Cpu = ThreadCpu();
  static double ThreadCpu() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
};
struct Time {
  double Wall, Cpu;
};
Time Elapsed(const Clock& Start) {
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - Start.Wall).count(),
          Clock::ThreadCpu() - Start.Cpu};
}

double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  const size_t n = V.size();
  return n % 2 ? V[n / 2] : (V[n / 2 - 1] + V[n / 2]) / 2;
}

// A statement prepared by hand through the session's entry table: input and output XSQLDA set up once
// over fixed INTEGER buffers, then only values written and the statement executed.
class DirectStatement {
public:
  DirectStatement(TIB_Session* S, isc_db_handle* DB, isc_tr_handle* TR, const char* SQL) : S(S), TR(TR) {
    S->CallChecked(S, S->Entries.isc_dsql_allocate_statement, DB, &H);
    auto* out = Out();
    auto* in = In();
    in->version = out->version = SQLDA_VERSION1;
    in->sqln = out->sqln = 2;
    S->CallChecked(S, S->Entries.isc_dsql_prepare, TR, &H, static_cast<unsigned short>(0), SQL,
                   static_cast<unsigned short>(3), out);
    S->CallChecked(S, S->Entries.isc_dsql_describe_bind, &H, static_cast<unsigned short>(3), in);
    // The described types are INTEGER (nullable or not) here; the buffers hold them as they are.
    for (int i = 0; i < in->sqld; ++i) {
      in->sqlvar[i].sqldata = reinterpret_cast<char*>(&Param[i]);
      in->sqlvar[i].sqlind = &ParamInd[i];
    }
    for (int i = 0; i < out->sqld; ++i) {
      out->sqlvar[i].sqldata = reinterpret_cast<char*>(&Value[i]);
      out->sqlvar[i].sqlind = &ValueInd[i];
    }
  }
  ~DirectStatement() { S->Call(S->Entries.isc_dsql_free_statement, &H, static_cast<unsigned short>(DSQL_drop)); }

  void Execute() {
    S->CallChecked(S, S->Cursor.isc_dsql_execute, TR, &H, static_cast<unsigned short>(3),
                   static_cast<const XSQLDA*>(In()));
  }
  // Execute, fetch the one row, close the cursor: the road a singleton SELECT takes.
  bool ExecuteAndFetchOne() {
    Execute();
    const ISC_STATUS st =
        S->Call(S->Cursor.isc_dsql_fetch, &H, static_cast<unsigned short>(3), static_cast<const XSQLDA*>(Out()));
    if (st != 0 && st != 100) S->HandleISCError(S);
    S->CallChecked(S, S->Cursor.isc_dsql_free_statement, &H, static_cast<unsigned short>(DSQL_close));
    return st == 0;
  }

  int32_t Param[2] = {};
  short ParamInd[2] = {};
  int32_t Value[2] = {};
  short ValueInd[2] = {};

private:
  XSQLDA* In() { return reinterpret_cast<XSQLDA*>(InBuf.data()); }
  XSQLDA* Out() { return reinterpret_cast<XSQLDA*>(OutBuf.data()); }

  TIB_Session* S;
  isc_tr_handle* TR;
  isc_stmt_handle H = 0;
  std::vector<char> InBuf = std::vector<char>(XSQLDA_LENGTH(2), 0);
  std::vector<char> OutBuf = std::vector<char>(XSQLDA_LENGTH(2), 0);
};

struct Totals {
  std::vector<Time> Lib, Direct;
  void Print(const char* What, bool Rounds) const {
    double lib = 0, direct = 0, libCpu = 0, directCpu = 0;
    std::vector<double> ratios, cpuRatios;
    for (size_t i = 0; i < Lib.size(); ++i) {
      lib += Lib[i].Wall;
      direct += Direct[i].Wall;
      libCpu += Lib[i].Cpu;
      directCpu += Direct[i].Cpu;
      ratios.push_back(Lib[i].Wall / Direct[i].Wall);
      cpuRatios.push_back(Lib[i].Cpu / Direct[i].Cpu);
      if (Rounds) {
        std::printf("  round %2zu: library %.3f s (cpu %.3f), direct %.3f s (cpu %.3f), ratio %.3f (cpu %.3f)\n", i + 1,
                    Lib[i].Wall, Lib[i].Cpu, Direct[i].Wall, Direct[i].Cpu, ratios.back(), cpuRatios.back());
      }
    }
    std::printf(
        "%d %s\n  wall: library %.3f s, direct %.3f s; ratio of totals %.3f, median round ratio %.3f\n"
        "  cpu:  library %.3f s, direct %.3f s; ratio of totals %.3f, median round ratio %.3f\n",
        kRounds * kRowsPerRound, What, lib, direct, lib / direct, Median(ratios), libCpu, directCpu, libCpu / directCpu,
        Median(cpuRatios));
  }
};

}  // namespace

// Arguments: [rounds [rows per round]] (default 50 x 2000 per side). BENCH_ROUNDS=1 prints every round.
int main(int argc, char** argv) {
  if (argc > 1) kRounds = std::atoi(argv[1]);
  if (argc > 2) kRowsPerRound = std::atoi(argv[2]);
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("dblib_bench_" + std::to_string(getpid()))).string();
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

    // Both sides work in the library transaction's server transaction, started before any timing.
    tr->SysStart();
    TIB_Session* s = db->GetSession();

    auto* ins = new TIB_DSQL(form);
    ins->SetIB_Connection(db);
    ins->SetIB_Transaction(tr);
    ins->GetSQL().SetText("INSERT INTO B (ID, V) VALUES (:ID, :V)");
    ins->Prepare();
    TIB_Column* id = ins->ParamByName("ID");
    TIB_Column* v = ins->ParamByName("V");
    Totals inserts;
    {
      DirectStatement d(s, db->GetdbHandle(), tr->GetPtrHandle(), "INSERT INTO B (ID, V) VALUES (?, ?)");
      int next = 0;
      for (int r = 0; r < kRounds; ++r) {
        auto library = [&]() __attribute__((noinline)) {
          const Clock t0;
          for (int i = 0; i < kRowsPerRound; ++i, ++next) {
            id->SetAsInteger(next);
            v->SetAsInteger(next);
            ins->Execute();
          }
          inserts.Lib.push_back(Elapsed(t0));
        };
        auto direct = [&]() __attribute__((noinline)) {
          const Clock t0;
          for (int i = 0; i < kRowsPerRound; ++i, ++next) {
            d.Param[0] = next;
            d.Param[1] = next;
            d.Execute();
          }
          inserts.Direct.push_back(Elapsed(t0));
        };
        RunInTurn(r, library, direct);
      }
    }
    tr->Commit();
    const int rows = 2 * kRounds * kRowsPerRound;

    tr->SysStart();
    auto* sel = new TIB_DSQL(form);
    sel->SetIB_Connection(db);
    sel->SetIB_Transaction(tr);
    sel->GetSQL().SetText("SELECT V FROM B WHERE ID = :K");
    sel->Prepare();
    TIB_Column* k = sel->ParamByName("K");
    TIB_Column* value = sel->FieldByName("V");
    Totals selects;
    int64_t libSum = 0, directSum = 0;
    {
      DirectStatement d(s, db->GetdbHandle(), tr->GetPtrHandle(), "SELECT V FROM B WHERE ID = ?");
      for (int r = 0; r < kRounds; ++r) {
        // Both sides read the same keys in a round, spread over the whole table.
        const int first = (r * kRowsPerRound * 2) % rows;
        auto library = [&]() __attribute__((noinline)) {
          const Clock t0;
          for (int i = 0; i < kRowsPerRound; ++i) {
            k->SetAsInteger((first + i) % rows);
            sel->Execute();
            libSum += value->GetAsInteger();
          }
          selects.Lib.push_back(Elapsed(t0));
        };
        auto direct = [&]() __attribute__((noinline)) {
          const Clock t0;
          for (int i = 0; i < kRowsPerRound; ++i) {
            d.Param[0] = (first + i) % rows;
            if (d.ExecuteAndFetchOne() && d.ValueInd[0] == 0) directSum += d.Value[0];
          }
          selects.Direct.push_back(Elapsed(t0));
        };
        RunInTurn(r, library, direct);
      }
    }
    tr->Commit();

    const bool rounds = std::getenv("BENCH_ROUNDS") != nullptr;
    inserts.Print("parameterised INSERTs (ID, V), per side", rounds);
    selects.Print("singleton SELECTs by key, per side", rounds);
    if (libSum != directSum || libSum == 0) {
      std::printf("error: the sides read different sums (%lld, %lld)\n", static_cast<long long>(libSum),
                  static_cast<long long>(directSum));
      rc = 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    rc = 1;
  }
  delete form;
  std::filesystem::remove_all(dir);
  return rc;
}
