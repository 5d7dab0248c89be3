// Speed of the SQL text toolkit on generated statements of 1 KB, 100 KB and 1 MB. Clause search and
// parameter scanning must grow linearly: after the runs the program prints, for each step of ten times
// the text, how many times the time grew (at most 12 is linear enough) and exits non-zero when the clause
// search or the parameter scan grows faster.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "dblib/sql/IB_Parse.h"

namespace {

// A SELECT of about Size bytes with the usual furniture: select items with sub-selects and literals,
// joins, parameters, comments of all kinds, GROUP BY and ORDER BY.
std::string MakeStatement(size_t Size) {
  std::string sel = "SELECT DISTINCT T.ID";
  std::string where = "WHERE T.ID > 0";
  size_t i = 0;
  while (sel.size() + where.size() + 200 < Size) {
    const std::string n = std::to_string(i);
    if (sel.size() < Size / 3) {
      sel += ",\r\n  T.A" + n + " + 1 AS X" + n + ", (SELECT MAX(U.Y) FROM U WHERE U.K = T.K" + n + ") AS S" + n +
             ", 'lit, FROM ''" + n + "''' AS L" + n;
    } else {
      where += "\r\n  AND (T.C" + n + " = :P" + n + " /* note " + n + " */ OR T.D" + n + " LIKE ? || '%')" +
               " -- where " + n + "\r\n  AND T.E" + n + " IN (SELECT V.E FROM V WHERE V.F = :Q" + n + ")";
    }
    ++i;
  }
  return sel + "\r\nFROM T JOIN R ON R.ID = T.ID\r\n" + where + "\r\nGROUP BY T.ID\r\nORDER BY T.ID";
}

const std::map<int64_t, std::string>& Statements() {
  static const std::map<int64_t, std::string> texts = [] {
    std::map<int64_t, std::string> m;
    for (int64_t size : {int64_t{1} << 10, int64_t{100} << 10, int64_t{1} << 20}) m[size] = MakeStatement(size);
    return m;
  }();
  return texts;
}

void BM_ClauseSearch(benchmark::State& State) {
  const std::string& sql = Statements().at(State.range(0));
  for (auto _ : State) {
    benchmark::DoNotOptimize(GetSQLSelect(sql));
    benchmark::DoNotOptimize(GetSQLWhere(sql));
    benchmark::DoNotOptimize(GetSQLOrder(sql));
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * static_cast<int64_t>(sql.size()));
}

void BM_ParseSQLParams(benchmark::State& State) {
  const std::string& sql = Statements().at(State.range(0));
  TStringList names, items;
  std::string server;
  int32_t kept = 0;
  for (auto _ : State) {
    benchmark::DoNotOptimize(ParseSQLParams(sql, &names, &items, nullptr, server, ':', false, kept));
  }
  State.counters["params"] = names.Count();
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * static_cast<int64_t>(sql.size()));
}

void BM_SetSQLWhere(benchmark::State& State) {
  const std::string& sql = Statements().at(State.range(0));
  for (auto _ : State) {
    std::string s = sql;
    std::string where = GetSQLWhere(s);
    AppendWhereCondition(where, "T.Z = 1");
    SetSQLWhere(s, where);
    benchmark::DoNotOptimize(s);
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * static_cast<int64_t>(sql.size()));
}

BENCHMARK(BM_ClauseSearch)->Arg(1 << 10)->Arg(100 << 10)->Arg(1 << 20);
BENCHMARK(BM_ParseSQLParams)->Arg(1 << 10)->Arg(100 << 10)->Arg(1 << 20);
BENCHMARK(BM_SetSQLWhere)->Arg(1 << 10)->Arg(100 << 10)->Arg(1 << 20);

// Keeps the time per iteration of every run, by benchmark and size.
class TGrowthReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& r : Runs) {
      if (r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
      const std::string name = r.benchmark_name();
      const size_t slash = name.rfind('/');
      if (slash == std::string::npos) continue;
      Times[name.substr(0, slash)][std::stoll(name.substr(slash + 1))] = r.GetAdjustedRealTime();
    }
  }
  std::map<std::string, std::map<int64_t, double>> Times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TGrowthReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // Growth of the time for each tenfold growth of the text (the step from 1 KB to 100 KB counts as two).
  bool linear = true;
  std::printf("\nGrowth of the time per tenfold text (linear: at most 12)\n");
  for (const auto& [bench, bySize] : reporter.Times) {
    for (auto it = bySize.begin(); it != bySize.end() && std::next(it) != bySize.end(); ++it) {
      const auto next = std::next(it);
      const double decades = std::log10(static_cast<double>(next->first) / static_cast<double>(it->first));
      const double perTenfold = std::pow(next->second / it->second, 1.0 / decades);
      const bool ok = perTenfold <= 12.0;
      // The growth among the large texts of the clause search and the parameter scan decides (a 1 KB text
      // is dominated by fixed costs; the splice is shown for information: it copies megabyte strings).
      const bool decides = bench == "BM_ClauseSearch" || bench == "BM_ParseSQLParams";
      if (!ok && decides && it->first >= (100 << 10)) linear = false;
      std::printf("  %-20s %8lld -> %8lld bytes: x%.2f per tenfold%s\n", bench.c_str(),
                  static_cast<long long>(it->first), static_cast<long long>(next->first), perTenfold,
                  ok ? "" : "  (more than linear)");
    }
  }
  std::printf("%s\n", linear ? "Linear growth: yes" : "Linear growth: NO");
  return linear ? 0 : 2;
}
