// What the schema cache files save: a connection to a database of 200 tables of 20 columns attaches and
// loads the 17 cached lists of its schema cache, once with current cache files and once from the server.
// After the runs the program prints both times (wall and CPU) and their ratios (server / files).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/schema/IB_SchemaCache.h"

namespace {

constexpr int kTables = 200;
constexpr int kColumns = 20;

std::string gDir;
TComponent* gForm = nullptr;

std::string DatabasePath() { return gDir + "/schema.fdb"; }
std::string CacheDir() { return gDir + "/cache"; }

void Exec(TIB_Connection* C, TIB_Transaction* T, const std::string& SQL) {
  auto* q = new TIB_DSQL(gForm);
  q->SetIB_Connection(C);
  q->SetIB_Transaction(T);
  q->GetSQL().SetText(SQL);
  q->Execute();
  delete q;
}

// The database: tables with a key, required columns, defaults, a domain, a computed column and an index.
void CreateDatabase() {
  auto* db = new TIB_Connection(gForm);
  db->SetDatabaseName(DatabasePath());
  db->SetSQLDialect(3);
  db->SetPageSize(8192);
  db->CreateDatabase();
  auto* tr = new TIB_Transaction(gForm);
  tr->SetIB_Connection(db);
  Exec(db, tr, "CREATE DOMAIN D_NAME AS VARCHAR(40) DEFAULT 'none'");
  for (int t = 0; t < kTables; ++t) {
    const std::string name = "T" + std::to_string(t);
    std::string sql = "CREATE TABLE " + name + " (ID INTEGER NOT NULL PRIMARY KEY";
    for (int c = 1; c < kColumns - 1; ++c) {
      const std::string col = "C" + std::to_string(c);
      switch (c % 4) {
        case 0: sql += ", " + col + " INTEGER NOT NULL"; break;
        case 1: sql += ", " + col + " D_NAME"; break;
        case 2: sql += ", " + col + " VARCHAR(20) DEFAULT 'x'"; break;
        default: sql += ", " + col + " NUMERIC(15, 2)"; break;
      }
    }
    sql += ", TOTAL COMPUTED BY (C3 * 2))";
    Exec(db, tr, sql);
    Exec(db, tr, "CREATE INDEX IX_" + name + " ON " + name + " (C2)");
  }
  Exec(db, tr, "CREATE TABLE ZDB$SCHEMA_VERSION (SCHEMA_ITEM VARCHAR(31), VERSION_NUMBER VARCHAR(20))");
  tr->Commit();
  for (int n = 0; n <= slTableFields; ++n) {
    Exec(db, tr, std::string("INSERT INTO ZDB$SCHEMA_VERSION VALUES ('") + TIB_SchemaCache::GetListName(n) + "', '1')");
  }
  tr->Commit();
  delete tr;
  delete db;
}

// Attaches, loads the cached lists, detaches. Returns the number of items loaded.
int OpenAndLoad(bool Files) {
  auto* db = new TIB_Connection(gForm);
  db->SetDatabaseName(DatabasePath());
  db->SetSQLDialect(3);
  if (Files) db->SetSchemaCacheDir(CacheDir());
  db->Connect();
  auto& cache = *static_cast<TIB_SchemaCache*>(db->GetSchemaCache());
  int items = 0;
  for (int n = 0; n <= slTableFields; ++n) items += cache.GetSchemaList(n)->Count();
  delete db;
  return items;
}

void BM_OpenWithCacheFiles(benchmark::State& State) {
  for (auto _ : State) benchmark::DoNotOptimize(OpenAndLoad(true));
}

void BM_OpenQueryingTheServer(benchmark::State& State) {
  for (auto _ : State) benchmark::DoNotOptimize(OpenAndLoad(false));
}

BENCHMARK(BM_OpenWithCacheFiles)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_OpenQueryingTheServer)->Unit(benchmark::kMillisecond)->Repetitions(3);

// Keeps the mean time of each benchmark for the closing line.
class Capture : public benchmark::ConsoleReporter {
public:
  std::map<std::string, std::pair<double, double>> Mean;  // wall, CPU
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const Run& r : Runs) {
      if (r.aggregate_name == "mean")
        Mean[r.run_name.function_name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
    }
    ConsoleReporter::ReportRuns(Runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  gDir = (std::filesystem::temp_directory_path() / ("dblib_schema_bench_" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(gDir);
  gForm = new TComponent(nullptr);
  int rc = 0;
  try {
    CreateDatabase();
    // The first opening with files writes them; the one after must read the same lists back.
    const int fromServer = OpenAndLoad(true);
    if (OpenAndLoad(true) != fromServer || OpenAndLoad(false) != fromServer) {
      std::fprintf(stderr, "error: the lists read from the files differ from the server's\n");
      rc = 1;
    }
    benchmark::Initialize(&argc, argv);
    Capture reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto [filesWall, filesCpu] = reporter.Mean["BM_OpenWithCacheFiles"];
    const auto [serverWall, serverCpu] = reporter.Mean["BM_OpenQueryingTheServer"];
    std::printf("schema of %d tables x %d columns, %d list items, attach included:\n", kTables, kColumns, fromServer);
    std::printf("  wall: with cache files %.2f ms, from the server %.2f ms, ratio %.1f\n", filesWall, serverWall,
                filesWall > 0 ? serverWall / filesWall : 0.0);
    std::printf("  CPU:  with cache files %.2f ms, from the server %.2f ms, ratio %.1f\n", filesCpu, serverCpu,
                filesCpu > 0 ? serverCpu / filesCpu : 0.0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    rc = 1;
  }
  delete gForm;
  std::filesystem::remove_all(gDir);
  return rc;
}
