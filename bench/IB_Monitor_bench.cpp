// What the call monitor costs: the same statement work (a parameterised INSERT and a singleton SELECT by
// key per step) with no monitor at all, with a monitor that exists but is disabled, and with one enabled
// (default groups) whose items go nowhere. The work runs in rounds that rotate the three variants, so
// that warm-up and the table's growth fall on all alike. Prints the totals and the ratios to the run
// without a monitor: of the totals and the median of the per-round ratios (CPU time of the calling
// thread; wall time beside it). The target for the disabled monitor is at most 1.02.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/trace/IB_Monitor.h"

namespace {

int kRounds = 30;
int kStepsPerRound = 1000;

enum TVariant { vNone, vDisabled, vEnabled };
const char* const kNames[] = {"no monitor", "monitor disabled", "monitor enabled, null sink"};

}  // namespace

// Arguments: [rounds [steps per round]] (default 30 x 1000 per variant). BENCH_ROUNDS=1 prints every round.
int main(int argc, char** argv) {
  // Other arguments (Google Benchmark flags that scripts/bench.sh passes to every benchmark) are ignored.
  if (argc > 1 && std::atoi(argv[1]) > 0) kRounds = std::atoi(argv[1]);
  if (argc > 2 && std::atoi(argv[2]) > 0) kStepsPerRound = std::atoi(argv[2]);
  const std::string dir = bench::TempFolder("monitor");
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
    auto* ddl = new TIB_DSQL(form);
    ddl->SetIB_Connection(db);
    ddl->SetIB_Transaction(tr);
    ddl->GetSQL().SetText("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, V INTEGER)");
    ddl->Execute();
    tr->Commit();
    tr->SysStart();

    auto statement = [&](const char* SQL) {
      auto* q = new TIB_DSQL(form);
      q->SetIB_Connection(db);
      q->SetIB_Transaction(tr);
      q->GetSQL().SetText(SQL);
      q->Prepare();
      return q;
    };
    TIB_DSQL* ins = statement("INSERT INTO B (ID, V) VALUES (:ID, :V)");
    TIB_DSQL* sel = statement("SELECT V FROM B WHERE ID = :K");
    TIB_Column* id = ins->ParamByName("ID");
    TIB_Column* v = ins->ParamByName("V");
    TIB_Column* k = sel->ParamByName("K");
    TIB_Column* value = sel->FieldByName("V");

    double cpu[3] = {}, wall[3] = {};
    std::vector<double> roundCpu[3];
    int64_t items = 0, sum = 0;
    int next = 0;
    // Round -1 warms up the engine's cache and the statements; it is not counted.
    for (int r = -1; r < kRounds; ++r) {
      for (int turn = 0; turn < 3; ++turn) {
        const auto variant = static_cast<TVariant>((r + 3 + turn) % 3);
        TIB_Monitor* monitor = nullptr;
        if (variant != vNone) {
          monitor = new TIB_Monitor(form);
          monitor->OnMonitorOutputItem = [&items](TObject*, const std::string&) { ++items; };
          monitor->SetEnabled(variant == vEnabled);
        }
        const bench::Clock t0;
        for (int i = 0; i < kStepsPerRound; ++i, ++next) {
          id->SetAsInteger(next);
          v->SetAsInteger(next);
          ins->Execute();
          k->SetAsInteger(next);
          sel->Execute();
          sum += value->GetAsInteger();
        }
        const bench::Time t = bench::Elapsed(t0);
        delete monitor;
        if (r < 0) continue;
        roundCpu[variant].push_back(t.Cpu);
        cpu[variant] += roundCpu[variant].back();
        wall[variant] += t.Wall;
        if (std::getenv("BENCH_ROUNDS")) std::printf("  round %2d %-28s wall %.3f s\n", r + 1, kNames[variant], t.Wall);
      }
    }
    tr->Commit();

    std::printf("%d steps (INSERT + singleton SELECT) per variant\n", kRounds * kStepsPerRound);
    for (int i = 0; i < 3; ++i) {
      // A round's ratio compares it with the no-monitor run of the same round: a stall of the machine
      // falls on one round, and the median leaves it out.
      std::vector<double> ratios;
      for (int r = 0; r < kRounds; ++r) ratios.push_back(roundCpu[i][r] / roundCpu[vNone][r]);
      std::printf("  %-28s cpu %.3f s, wall %.3f s; ratio to no monitor: cpu %.3f (median round %.3f), wall %.3f\n",
                  kNames[i], cpu[i], wall[i], cpu[i] / cpu[vNone], bench::Median(ratios), wall[i] / wall[vNone]);
    }
    std::printf("  (%lld items written by the enabled monitor)\n", static_cast<long long>(items));
    const int64_t expected = static_cast<int64_t>(next) * (next - 1) / 2;
    if (sum != expected) {
      std::printf("error: read back %lld, expected %lld\n", static_cast<long long>(sum),
                  static_cast<long long>(expected));
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
