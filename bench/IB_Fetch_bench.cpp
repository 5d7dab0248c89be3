// Fetching a large result: 1,000,000 rows of five columns (INTEGER, VARCHAR(40), NUMERIC(15,2), TIMESTAMP,
// VARCHAR(200)) through a TIB_Cursor, against the same fetch through plain client calls: the client's
// functions looked up with dlopen/dlsym from the client library, an XSQLDA of its own, the values read
// from the buffers by hand. Both sides read every column of every row as its natural type (integer,
// text, currency, date-time) and add them into checksums that must agree.
//
// The library side runs twice: with the columns found by name once per open and held as pointers, and
// with FieldByName on every row. The sides take turns round by round (the first side rotating) in the
// same server transaction. Prints the median round ratios (library / plain) of CPU and wall time, and
// the peak resident memory after 100,000 and after 1,000,000 rows of the first library round.
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "dblib/dataset/IB_Cursor.h"

namespace {

using bench::Check;
using bench::PlainClient;

using bench::Clock;
using bench::Elapsed;
using bench::Median;
using bench::Time;
using bench::PeakRssMB;

int kRounds = 5;
int kRows = 1000000;

const char* const kQuery = "SELECT ID, NAME, AMOUNT, TS, NOTE FROM F";

// What each side adds up from the values it read.
struct Sums {
  int64_t Ints = 0;
  int64_t TextBytes = 0;
  int64_t Money = 0;  // ten-thousandths
  double Stamps = 0;
  bool operator==(const Sums& O) const {
    return Ints == O.Ints && TextBytes == O.TextBytes && Money == O.Money && Stamps == O.Stamps;
  }
};

// The query prepared by hand, with buffers laid out once for the described columns.
class PlainQuery {
public:
  PlainQuery(PlainClient& C, isc_db_handle* DB, isc_tr_handle* TR) : C(C), TR(TR) {
    C.Allocate(Status, DB, &H);
    Check(Status, "allocate");
    Out()->version = SQLDA_VERSION1;
    Out()->sqln = 5;
    C.Prepare(Status, TR, &H, 0, kQuery, 3, Out());
    Check(Status, "prepare");
    bench::LayOutColumns(Out(), Buffer, Offsets, Ind);
  }
  ~PlainQuery() { C.Free(Status, &H, DSQL_drop); }

  // Fetches every row, reading each column as its natural type.
  int Run(Sums& S) {
    C.Execute(Status, TR, &H, 3, nullptr);
    Check(Status, "execute");
    int rows = 0;
    const XSQLDA* da = Out();
    while (C.Fetch(Status, &H, 3, da) == 0) {
      ++rows;
      if (Ind[0] == 0) S.Ints += *reinterpret_cast<const int32_t*>(Col(0));
      if (Ind[1] == 0) S.TextBytes += Varying(1).size();
      if (Ind[2] == 0) S.Money += *reinterpret_cast<const int64_t*>(Col(2)) * 100;
      if (Ind[3] == 0) {
        const auto* ts = reinterpret_cast<const ISC_TIMESTAMP*>(Col(3));
        S.Stamps += (static_cast<double>(ts->timestamp_date) - 15018.0) +
                    static_cast<double>(ts->timestamp_time) / (86400.0 * ISC_TIME_SECONDS_PRECISION);
      }
      if (Ind[4] == 0) S.TextBytes += Varying(4).size();
    }
    C.Free(Status, &H, DSQL_close);
    return rows;
  }

private:
  XSQLDA* Out() { return reinterpret_cast<XSQLDA*>(DA.data()); }
  const char* Col(int I) const { return Buffer.data() + Offsets[I]; }
  std::string Varying(int I) const {
    const char* p = Col(I);
    return std::string(p + 2, *reinterpret_cast<const uint16_t*>(p));
  }

  PlainClient& C;
  isc_tr_handle* TR;
  isc_stmt_handle H = 0;
  ISC_STATUS_ARRAY Status{};
  std::vector<char> DA = std::vector<char>(XSQLDA_LENGTH(5), 0);
  std::vector<char> Buffer;
  size_t Offsets[5] = {};
  short Ind[5] = {};
};

// Adds up one row read through held column pointers.
inline void Read(TIB_Column* Id, TIB_Column* Name, TIB_Column* Amount, TIB_Column* Ts, TIB_Column* Note, Sums& S) {
  if (!Id->GetIsNull()) S.Ints += Id->GetAsInteger();
  if (!Name->GetIsNull()) S.TextBytes += Name->GetAsString().size();
  if (!Amount->GetIsNull()) S.Money += Amount->GetAsCurrency().Raw();
  if (!Ts->GetIsNull()) S.Stamps += Ts->GetAsDateTime();
  if (!Note->GetIsNull()) S.TextBytes += Note->GetAsString().size();
}

struct Side {
  const char* Name;
  std::vector<Time> Times;
  Sums Sum;
};

void PrintRatio(const char* What, const Side& Lib, const Side& Plain) {
  std::vector<double> wall, cpu;
  for (size_t i = 0; i < Lib.Times.size(); ++i) {
    wall.push_back(Lib.Times[i].Wall / Plain.Times[i].Wall);
    cpu.push_back(Lib.Times[i].Cpu / Plain.Times[i].Cpu);
  }
  std::printf("%-44s median ratio: cpu %.3f, wall %.3f\n", What, Median(cpu), Median(wall));
}

}  // namespace

// Arguments: [rounds [rows]] (default 5 rounds of 1,000,000 rows per side). BENCH_ROUNDS=1 prints every round.
int main(int argc, char** argv) {
  if (argc > 1) kRounds = std::atoi(argv[1]);
  if (argc > 2) kRows = std::atoi(argv[2]);
  const std::string dir = bench::TempFolder("fetch");
  auto* form = new TComponent(nullptr);
  int rc = 0;
  try {
    const bench::Database base = bench::CreateDatabase(form, dir + "/fetch.fdb");
    TIB_Connection* db = base.Db;
    TIB_Transaction* tr = base.Tr;
    TIB_DSQL* q = base.Sql;
    q->GetSQL().SetText(
        "CREATE TABLE F (ID INTEGER NOT NULL, NAME VARCHAR(40), AMOUNT NUMERIC(15,2), TS TIMESTAMP, "
        "NOTE VARCHAR(200))");
    q->Execute();
    tr->Commit();
    q->GetSQL().SetText("EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= " + std::to_string(kRows) +
                        ") DO BEGIN INSERT INTO F VALUES (:I, 'name ' || :I, :I * 1.25, "
                        "DATEADD(:I SECOND TO TIMESTAMP '2025-01-01 00:00:00'), "
                        "LPAD('', 60 + MOD(:I, 120), 'x')); I = I + 1; END END");
    q->Execute();
    tr->Commit();
    tr->SysStart();

    auto* cur = new TIB_Cursor(form);
    cur->SetIB_Connection(db);
    cur->SetIB_Transaction(tr);
    cur->GetSQL().SetText(kQuery);
    cur->Prepare();

    PlainClient client;
    PlainQuery plainQuery(client, db->GetdbHandle(), tr->GetPtrHandle());
    Side held{"library, columns held", {}, {}}, byName{"library, FieldByName every row", {}, {}},
        plain{"plain client calls", {}, {}};
    double rss100k = 0, rss1m = 0;

    auto runHeld = [&](bool First) {
      Sums s;
      const Clock t0;
      bench::Counted("TIB_Cursor, columns held|library|<= 1.05", [&] {
        cur->Open();
        TIB_Column* id = cur->FieldByName("ID");
        TIB_Column* name = cur->FieldByName("NAME");
        TIB_Column* amount = cur->FieldByName("AMOUNT");
        TIB_Column* ts = cur->FieldByName("TS");
        TIB_Column* note = cur->FieldByName("NOTE");
        for (; !cur->GetEof(); cur->Next()) {
          Read(id, name, amount, ts, note, s);
          if (First) {
            const int n = cur->GetRowNum();
            if (n == 100000) rss100k = PeakRssMB();
            if (n == 1000000) rss1m = PeakRssMB();
          }
        }
        cur->Close();
      });
      held.Times.push_back(Elapsed(t0));
      held.Sum = s;
    };
    auto runByName = [&] {
      Sums s;
      const Clock t0;
      bench::Counted("TIB_Cursor, FieldByName every row|library|<= 1.10", [&] {
        cur->Open();
        for (; !cur->GetEof(); cur->Next()) {
          Read(cur->FieldByName("ID"), cur->FieldByName("NAME"), cur->FieldByName("AMOUNT"),
               cur->FieldByName("TS"), cur->FieldByName("NOTE"), s);
        }
        cur->Close();
      });
      byName.Times.push_back(Elapsed(t0));
      byName.Sum = s;
    };
    auto runPlain = [&] {
      Sums s;
      const Clock t0;
      bench::Counted("TIB_Cursor, columns held;TIB_Cursor, FieldByName every row|plain", [&] { plainQuery.Run(s); });
      plain.Times.push_back(Elapsed(t0));
      plain.Sum = s;
    };

    const bool rounds = std::getenv("BENCH_ROUNDS") != nullptr;
    for (int r = 0; r < kRounds; ++r) {
      // The side that goes first rotates, so warm-up and caches fall on all alike.
      for (int k = 0; k < 3; ++k) {
        switch ((r + k) % 3) {
          case 0: runHeld(r == 0); break;
          case 1: runByName(); break;
          case 2: runPlain(); break;
        }
      }
      if (rounds) {
        std::printf("round %d: held %.3f s (cpu %.3f), by name %.3f s (cpu %.3f), plain %.3f s (cpu %.3f)\n", r + 1,
                    held.Times.back().Wall, held.Times.back().Cpu, byName.Times.back().Wall, byName.Times.back().Cpu,
                    plain.Times.back().Wall, plain.Times.back().Cpu);
      }
    }
    std::printf("%d rounds of %d rows of five columns per side\n", kRounds, kRows);
    PrintRatio("library (columns held) / plain:", held, plain);
    PrintRatio("library (FieldByName every row) / plain:", byName, plain);
    std::printf("peak RSS after 100,000 rows %.1f MB, after 1,000,000 rows %.1f MB (difference %.1f MB)\n", rss100k,
                rss1m, rss1m - rss100k);
    if (!(held.Sum == plain.Sum) || !(byName.Sum == plain.Sum) || plain.Sum.Ints == 0) {
      std::printf("error: the sides read different values\n");
      rc = 1;
    }
    tr->Commit();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "error: %s\n", e.what());
    rc = 1;
  }
  delete form;
  std::filesystem::remove_all(dir);
  return rc;
}
