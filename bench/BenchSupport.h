// What the benchmarks share: wall and CPU clocks, medians, peak memory and the alternating turns of the
// two sides of a comparison.
#pragma once

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Header.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Transaction.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#define CALLGRIND_DUMP_STATS_AT(Label) static_cast<void>(Label)
#endif

namespace bench {

// Runs Body as one measured part of one side of a comparison. Under callgrind (scripts/bench.sh with
// BENCH_CALLGRIND=1 runs the program with instrumentation off) the instructions are counted only inside
// Body and written out under Label, "comparison|side|target" (side "library" or "plain", target such as
// "<= 1.05"); the script adds up the parts of each side and prints library / plain. Outside valgrind the
// requests cost a few instructions and nothing else.
template <class F>
void Counted(const char* Label, F&& Body) {
  CALLGRIND_START_INSTRUMENTATION;
  Body();
  CALLGRIND_STOP_INSTRUMENTATION;
  CALLGRIND_DUMP_STATS_AT(Label);
}

// Wall time and the calling thread's CPU time (the embedded engine works in the caller's thread).
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

inline Time Elapsed(const Clock& Start) {
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - Start.Wall).count(),
          Clock::ThreadCpu() - Start.Cpu};
}

inline double Median(std::vector<double> V) {
  if (V.empty()) return 0;
  std::sort(V.begin(), V.end());
  const size_t n = V.size();
  return n % 2 ? V[n / 2] : (V[n / 2 - 1] + V[n / 2]) / 2;
}

// The process's peak resident memory so far, in MB.
inline double PeakRssMB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// Runs both sides of a round, the side that goes first swapping from round to round.
template <class A, class B>
void RunInTurn(int Round, A& First, B& Second) {
  if (Round % 2 == 0) {
    First();
    Second();
  } else {
    Second();
    First();
  }
}

// The client's cursor functions, straight from the client library file: the plain side of a comparison.
struct PlainClient {
  void* Lib = dlopen("libfbclient.so.2", RTLD_NOW);
  template <class F>
  F Sym(const char* Name) {
    if (!Lib) throw std::runtime_error("libfbclient.so.2 does not load");
    auto f = reinterpret_cast<F>(dlsym(Lib, Name));
    if (!f) throw std::runtime_error(std::string("missing ") + Name);
    return f;
  }
  decltype(&isc_dsql_allocate_statement) Allocate = Sym<decltype(Allocate)>("isc_dsql_allocate_statement");
  decltype(&isc_dsql_prepare) Prepare = Sym<decltype(Prepare)>("isc_dsql_prepare");
  decltype(&isc_dsql_execute) Execute = Sym<decltype(Execute)>("isc_dsql_execute");
  decltype(&isc_dsql_fetch) Fetch = Sym<decltype(Fetch)>("isc_dsql_fetch");
  decltype(&isc_dsql_free_statement) Free = Sym<decltype(Free)>("isc_dsql_free_statement");
  PlainClient() = default;
  PlainClient(const PlainClient&) = delete;
  PlainClient& operator=(const PlainClient&) = delete;
  ~PlainClient() {
    if (Lib) dlclose(Lib);
  }
};

// Raises when a plain client call left an error in Status.
inline void Check(const ISC_STATUS* Status, const char* What) {
  if (Status[0] == 1 && Status[1] != 0) throw std::runtime_error(std::string(What) + " failed");
}

// Points the Out->sqln described columns of Out at one buffer, each on an 8-byte boundary (a VARCHAR with
// its length word), and their null flags at Ind; Offsets gets each column's place in Buffer.
inline void LayOutColumns(XSQLDA* Out, std::vector<char>& Buffer, size_t* Offsets, short* Ind) {
  size_t offset = 0;
  for (int i = 0; i < Out->sqln; ++i) {
    XSQLVAR& v = Out->sqlvar[i];
    const size_t size = (v.sqltype & ~1) == SQL_VARYING ? v.sqllen + 2 : v.sqllen;
    offset = (offset + 7) & ~size_t{7};
    Offsets[i] = offset;
    offset += size;
  }
  Buffer.assign(offset + 8, 0);
  for (int i = 0; i < Out->sqln; ++i) {
    Out->sqlvar[i].sqldata = Buffer.data() + Offsets[i];
    Out->sqlvar[i].sqlind = &Ind[i];
  }
}

// A private folder for one run's database files (the caller removes it).
inline std::string TempFolder(const std::string& Name) {
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("dblib_" + Name + "_bench_" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  return dir;
}

// A new embedded database (dialect 3, 8 KiB pages, ISO8859_1) with a transaction and a statement on it, all
// owned by Owner.
struct Database {
  TIB_Connection* Db;
  TIB_Transaction* Tr;
  TIB_DSQL* Sql;
};

inline Database CreateDatabase(TComponent* Owner, const std::string& Path) {
  auto* db = new TIB_Connection(Owner);
  db->SetDatabaseName(Path);
  db->SetCharSet("ISO8859_1");
  db->SetSQLDialect(3);
  db->SetPageSize(8192);
  db->CreateDatabase();
  auto* tr = new TIB_Transaction(Owner);
  tr->SetIB_Connection(db);
  auto* sql = new TIB_DSQL(Owner);
  sql->SetIB_Connection(db);
  sql->SetIB_Transaction(tr);
  return {db, tr, sql};
}

}  // namespace bench
