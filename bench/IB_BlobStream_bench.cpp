// A 100 MB blob written and read through a blob column and TIB_BlobStream, against direct segment calls
// that write from and read into one std::vector, on the same entry points of the same session and in the
// same server transaction. Rounds alternate the sides (and which goes first).
//
// Prints per side the median wall and CPU time of a write (the value set, then an INSERT that stores it;
// the prepared INSERT reused, as applications do) and of a read (a SELECT, then the whole value), the
// ratios library / direct (the target is at most 1.10), and the peak memory each operation added to the
// process (the high-water mark of its resident set, reset before each operation) as a multiple of the
// blob's size (the target is at most 1.2: one copy of the value), also for a write into a parameter that
// holds no buffer yet. A write into the parameter reuses the buffer the previous write left there: that
// buffer counts as memory of the write, though it was resident before. Wall times follow the disk; on a shared machine the CPU ratio is the steadier one.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_BlobStream.h"
#include "dblib/data/IB_Column.h"

namespace {

int kRounds = 5;
int64_t kBlobSize = 100 << 20;
constexpr int64_t kChunk = 64 << 10;

// The resident set's high-water mark, reset: what an operation adds is its peak minus the resident set
// before it.
int64_t StatusKB(const char* Key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind(Key, 0) == 0) return std::atoll(line.c_str() + std::strlen(Key));
  }
  return -1;
}
bool ResetPeak() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
  return static_cast<bool>(f.flush());
}

struct Sample {
  double Seconds;
  double Cpu;        // the calling thread's CPU time (the embedded engine works in it)
  double PeakRatio;  // added peak memory / blob size; negative when unknown
};

// Held is what the side already keeps of the value when the operation starts (a parameter's buffer
// filled by the previous write and reused by this one): memory the operation uses though it was
// resident before, counted with what the operation adds.
template <class F>
Sample Measure(F&& Body, int64_t Held = 0) {
  const bool peak = ResetPeak();
  const int64_t before = StatusKB("VmRSS:");
  const bench::Clock start;
  Body();
  const bench::Time t = bench::Elapsed(start);
  const double s = t.Wall, c = t.Cpu;
  const int64_t hwm = StatusKB("VmHWM:");
  return {s, c,
          peak && before >= 0 && hwm >= 0 ? (static_cast<double>(hwm - before) * 1024 + Held) / kBlobSize : -1};
}

constexpr double kPeakTarget = 1.2;

using bench::Median;

struct Series {
  std::vector<double> Seconds, Cpu, Peaks;
  void Add(const Sample& S) {
    Seconds.push_back(S.Seconds);
    Cpu.push_back(S.Cpu);
    Peaks.push_back(S.PeakRatio);
  }
};

void Report(const char* What, const Series& Lib, const Series& Direct) {
  if (std::getenv("BENCH_ROUNDS")) {
    for (size_t i = 0; i < Lib.Seconds.size(); ++i) {
      std::printf("  %s round %zu: library %.3f s (cpu %.3f, peak %.2f), direct %.3f s (cpu %.3f, peak %.2f)\n", What,
                  i + 1, Lib.Seconds[i], Lib.Cpu[i], Lib.Peaks[i], Direct.Seconds[i], Direct.Cpu[i], Direct.Peaks[i]);
    }
  }
  const double lib = Median(Lib.Seconds), direct = Median(Direct.Seconds);
  const double libCpu = Median(Lib.Cpu), directCpu = Median(Direct.Cpu);
  const double libPeak = *std::max_element(Lib.Peaks.begin(), Lib.Peaks.end());
  std::printf(
      "%s: median wall library %.3f s, direct %.3f s, ratio %.3f; median cpu library %.3f s, direct %.3f s, "
      "ratio %.3f (target <= 1.10)%s; peak memory x blob size: library %.2f (target <= %.1f)%s, direct %.2f\n",
      What, lib, direct, lib / direct, libCpu, directCpu, libCpu / directCpu,
      libCpu / directCpu <= 1.10 ? "" : " MISSED", libPeak, kPeakTarget, libPeak <= kPeakTarget ? "" : " MISSED",
      *std::max_element(Direct.Peaks.begin(), Direct.Peaks.end()));
}

}  // namespace

// Arguments: [rounds [blob size in MB]] (default 5 rounds of 100 MB). BENCH_ROUNDS=1 prints every round.
int main(int argc, char** argv) {
  if (argc > 1) kRounds = std::atoi(argv[1]);
  if (argc > 2) kBlobSize = int64_t{std::atoi(argv[2])} << 20;
  const std::string dir = bench::TempFolder("blob");
  auto* form = new TComponent(nullptr);
  int rc = 0;
  try {
    auto* db = new TIB_Connection(form);
    db->SetDatabaseName(dir + "/bench.fdb");
    db->SetSQLDialect(3);
    db->SetPageSize(16384);
    db->CreateDatabase();
    auto* tr = new TIB_Transaction(form);
    tr->SetIB_Connection(db);
    tr->SetIsolation(tiCommitted);
    auto* ddl = new TIB_DSQL(form);
    ddl->SetIB_Connection(db);
    ddl->SetIB_Transaction(tr);
    ddl->GetSQL().SetText("CREATE TABLE B (ID INTEGER NOT NULL PRIMARY KEY, V BLOB SUB_TYPE 0)");
    ddl->Execute();
    tr->Commit();
    tr->SysStart();
    TIB_Session* s = db->GetSession();
    isc_db_handle* dbh = db->GetdbHandle();
    isc_tr_handle* trh = tr->GetPtrHandle();

    std::vector<char> source(static_cast<size_t>(kBlobSize));
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 131 % 251);

    auto* ins = new TIB_DSQL(form);
    ins->SetIB_Connection(db);
    ins->SetIB_Transaction(tr);
    ins->GetSQL().SetText("INSERT INTO B (ID, V) VALUES (:ID, :V)");
    ins->Prepare();
    auto* sel = new TIB_DSQL(form);
    sel->SetIB_Connection(db);
    sel->SetIB_Transaction(tr);
    sel->GetSQL().SetText("SELECT V FROM B WHERE ID = :ID");
    sel->Prepare();

    Series libWrite, directWrite, libRead, directRead;
    int next = 0;
    std::vector<int> libIds, directIds;
    for (int r = -1; r < kRounds; ++r) {  // round -1 warms the engine up and is not counted
      auto library = [&] {
        const int id = ++next;
        libIds.push_back(id);
        // The buffer the parameter kept from the previous write, which this one fills again.
        const TIB_BlobNode* node = ins->GetParams()->GetBlobNode(
            static_cast<int>(ins->ParamByName("V")->GetPSQLVAR() - ins->GetParams()->GetPSQLDA()->sqlvar));
        const int64_t held = node && node->BlobBuffer ? node->BlobBufferSize : 0;
        libWrite.Add(Measure(
            [&] {
              bench::Counted("blob write of the value, then INSERT|library|<= 1.10", [&] {
                ins->ParamByName("ID")->SetAsInteger(id);
                auto w = ins->CreateBlobStream(ins->ParamByName("V"), bsmWrite);
                w->WriteBuffer(source.data(), kBlobSize);
                w->EndWrite();
                w.reset();
                ins->Execute();
              });
            },
            held));
        // The parameter keeps its value until the next write, which reuses its buffer: a prepared INSERT
        // run again and again, as applications do.
        libRead.Add(Measure([&] {
          bench::Counted("blob read of the whole value|library|<= 1.10", [&] {
          sel->ParamByName("ID")->SetAsInteger(id);
          sel->Execute();
          auto rd = sel->CreateBlobStream(sel->GetFields()->GetColumns(0), bsmRead);
          std::vector<char> chunk(kChunk);
          int64_t total = 0;
          for (int64_t n; (n = rd->Read(chunk.data(), kChunk)) > 0;) total += n;
          if (total != kBlobSize) throw Exception("short read");
          });
        }));
        sel->GetFields()->ResetRow(true, true, false);
      };
      auto direct = [&] {
        const int id = ++next;
        directIds.push_back(id);
        directWrite.Add(Measure([&] {
          bench::Counted("blob write of the value, then INSERT|plain", [&] {
          isc_blob_handle h = 0;
          ISC_QUAD blob{};
          s->CallChecked(s, s->Entries.isc_create_blob2, dbh, trh, &h, &blob, static_cast<short>(0),
                         static_cast<const ISC_SCHAR*>(nullptr));
          for (int64_t at = 0; at < kBlobSize; at += 65535) {
            const auto n = static_cast<unsigned short>(std::min<int64_t>(65535, kBlobSize - at));
            s->CallChecked(s, s->Entries.isc_put_segment, &h, n, source.data() + at);
          }
          s->CallChecked(s, s->Entries.isc_close_blob, &h);
          ins->ParamByName("ID")->SetAsInteger(id);
          ins->ParamByName("V")->SetColData(std::string(reinterpret_cast<const char*>(&blob), sizeof blob));
          ins->Execute();
          });
        }));
        ins->ParamByName("V")->Clear();
        directRead.Add(Measure([&] {
          bench::Counted("blob read of the whole value|plain", [&] {
          sel->ParamByName("ID")->SetAsInteger(id);
          sel->Execute();
          ISC_QUAD blob;
          std::memcpy(&blob, sel->GetFields()->GetColumns(0)->GetPSQLVAR()->sqldata, sizeof blob);
          isc_blob_handle h = 0;
          s->CallChecked(s, s->Entries.isc_open_blob2, dbh, trh, &h, &blob, static_cast<ISC_USHORT>(0),
                         static_cast<const ISC_UCHAR*>(nullptr));
          int32_t maxSeg = 0, total = 0, segs = 0;
          s->GetBlobInfo(maxSeg, total, nullptr, &h, segs);
          std::vector<char> into(static_cast<size_t>(total));
          int64_t at = 0;
          for (;;) {
            unsigned short got = 0;
            const auto want = static_cast<unsigned short>(std::min<int64_t>(65535, total - at));
            if (want == 0) break;
            const ISC_STATUS st = s->Call(s->Entries.isc_get_segment, &h, &got, want, into.data() + at);
            at += got;
            if (st != 0 && st != isc_segment) break;
          }
          s->CallChecked(s, s->Entries.isc_close_blob, &h);
          if (at != kBlobSize) throw Exception("short read");
          });
        }));
      };
      if (r % 2 == 0) {
        library();
        direct();
      } else {
        direct();
        library();
      }
      if (r < 0) {
        for (Series* series : {&libWrite, &directWrite, &libRead, &directRead}) *series = Series();
      }
    }
    // The memory of a write into a parameter that holds no buffer yet: its one copy of the value.
    ins->Unprepare();
    ins->Prepare();
    const Sample fresh = Measure([&] {
      ins->ParamByName("ID")->SetAsInteger(++next);
      ins->ParamByName("V")->SetFromBuffer(source.data(), static_cast<int>(kBlobSize));
      ins->Execute();
    });
    std::printf("%d rounds, blob of %lld MB\n", kRounds, static_cast<long long>(kBlobSize >> 20));
    std::printf("write into a fresh parameter: %.3f s, peak memory x blob size %.2f\n", fresh.Seconds, fresh.PeakRatio);
    Report("write", libWrite, directWrite);
    Report("read ", libRead, directRead);
    tr->Rollback();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    rc = 1;
  }
  delete form;
  std::filesystem::remove_all(dir);
  return rc;
}
