// Client-side filtering and incremental search on the buffered dataset, at 100,000 and at 1,000,000 rows.
//
// Filter: a TIB_Query opened with Filtered on and an OnFilterRecord that keeps every other row, fetched to
// its end. Search: the same query, ordered by NAME through its ordering link and fully buffered, seeks
// the last rows' names from the top (IncSearchString). Each is timed as the median of a few rounds; the
// ratio of the time at 1,000,000 rows to the time at 100,000 rows must stay at most 12 (linear), and is
// printed with that target.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_Row.h"
#include "dblib/dataset/IB_BDataset.h"

namespace {

int kRounds = 5;
constexpr double kTarget = 12.0;

using bench::Median;

double Seconds(const std::function<void()>& F) {
  const bench::Clock start;
  F();
  return bench::Elapsed(start).Wall;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) kRounds = std::max(1, std::atoi(argv[1]));
  const int sizes[] = {100000, 1000000};
  const std::string dir = bench::TempFolder("filter");
  auto* form = new TComponent(nullptr);
  int rc = 0;
  try {
    const bench::Database base = bench::CreateDatabase(form, dir + "/filter.fdb");
    TIB_Connection* db = base.Db;
    TIB_Transaction* tr = base.Tr;
    TIB_DSQL* dml = base.Sql;
    dml->GetSQL().SetText("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20))");
    dml->Execute();
    tr->Commit();
    dml->GetSQL().SetText("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= " + std::to_string(sizes[1]) +
                          ") DO BEGIN INSERT INTO B VALUES (:I, 'k' || LPAD(:I, 8, '0')); I = I + 1; END END");
    dml->Execute();
    tr->Commit();

    double filterTime[2], searchTime[2];
    for (int s = 0; s < 2; ++s) {
      const int n = sizes[s];
      auto* q = new TIB_Query(form);
      q->SetIB_Connection(db);
      q->SetIB_Transaction(tr);
      q->GetSQL().SetText("SELECT FIRST " + std::to_string(n) + " ID, NAME FROM B");
      q->GetOrderingItems().SetText("By name=NAME;NAME DESC");
      q->GetOrderingLinks().SetText("NAME=ITEM=1");
      q->SetOrderingItemNo(1);
      q->SetIncSearchSeekInt(0);

      std::vector<double> filterRounds, searchRounds;
      int64_t kept = 0;
      for (int r = 0; r < kRounds; ++r) {
        q->SetFiltered(false);
        q->SetOnFilterRecord(nullptr);
        q->Close();
        q->SetOnFilterRecord([](TIB_Row* Row, bool& Accept) { Accept = Row->GetColumns(0)->GetAsInteger() % 2 == 0; });
        q->SetFiltered(true);
        filterRounds.push_back(Seconds([&] {
          q->Open();
          q->Last();
          kept = q->GetBufferCount();
        }));
        q->Close();
        q->SetFiltered(false);
        q->Open();
        q->Last();
        q->First();
        // Seek a handful of names near the end, each from the top.
        searchRounds.push_back(Seconds([&] {
          for (int k = 0; k < 20; ++k) {
            char name[16];
            std::snprintf(name, sizeof name, "k%08d", n - 10 * k);
            if (!q->IncSearchString(name, 1, false)) {
              std::fprintf(stderr, "search for %s failed\n", name);
              std::exit(1);
            }
          }
        }));
        q->Close();
      }
      if (kept != n / 2) {
        std::fprintf(stderr, "filter kept %lld of %d rows\n", static_cast<long long>(kept), n);
        rc = 1;
      }
      filterTime[s] = Median(filterRounds);
      searchTime[s] = Median(searchRounds);
      std::printf("%8d rows: client filter %.3f s, incremental search (20 seeks) %.4f s\n", n, filterTime[s],
                  searchTime[s]);
      delete q;
    }
    const double fr = filterTime[1] / filterTime[0], sr = searchTime[1] / searchTime[0];
    std::printf("client filter: time at 1,000,000 / time at 100,000 = %.2f (target <= %.0f) %s\n", fr, kTarget,
                fr <= kTarget ? "ok" : "MISSED");
    std::printf("incremental search: time at 1,000,000 / time at 100,000 = %.2f (target <= %.0f) %s\n", sr, kTarget,
                sr <= kTarget ? "ok" : "MISSED");
    if (fr > kTarget || sr > kTarget) rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "IB_Filter_bench: %s\n", e.what());
    rc = 1;
  }
  delete form;
  std::filesystem::remove_all(dir);
  return rc;
}
