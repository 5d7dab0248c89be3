// The library against plain client calls on the common path: 100,000 parameterised five-column INSERTs
// and 100,000 prepared singleton SELECTs by key, five columns of the usual types each (INTEGER,
// VARCHAR(40), NUMERIC(15,2), TIMESTAMP, VARCHAR(200)).
//
// The library side is written as a user writes it: ParamByName and FieldByName by name on every row.
// The plain side calls the client's functions straight (looked up with dlopen/dlsym, no library code in
// between) over its own XSQLDA and buffers, on its own attachment of the same database file; it converts
// the same input values (text, Currency, TDateTime) into the wire formats itself.
//
// Both sides run in alternating rounds (the side that goes first swaps each round), so warm-up and the
// table's growth fall on both alike. Prints the median of the per-round ratios (library / plain) of wall
// and CPU time; the target is at most 1.10 for both workloads. A further line times prepares of
// statements with many parameters.
//
// Arguments: [rounds [rows per round]] (default 50 x 2000 per side). BENCH_ROUNDS=1 prints every round;
// BENCH_NO_PREPARE=1 leaves out the prepares (for runs under callgrind).
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "dblib/IB_Connection.h"
#include "dblib/IB_DSQL.h"
#include "dblib/IB_Header.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"

namespace {

using bench::Clock;
using bench::Elapsed;
using bench::Median;
using bench::Time;
using bench::RunInTurn;

int kRounds = 50;
int kRowsPerRound = 2000;

// The comparisons as instruction counts name them (see bench::Counted), with their targets.
const char* const kInsertLibrary = "INSERT of five parameters by name (TIB_DSQL)|library|<= 1.05";
const char* const kInsertPlain = "INSERT of five parameters by name (TIB_DSQL)|plain";
const char* const kSelectLibrary = "singleton SELECT by key, FieldByName (TIB_DSQL)|library|<= 1.10";
const char* const kSelectPlain = "singleton SELECT by key, FieldByName (TIB_DSQL)|plain";

struct Totals {
  std::vector<Time> Lib, Plain;
  void Print(const char* What, bool Rounds) const {
    double lib = 0, plain = 0, libCpu = 0, plainCpu = 0;
    std::vector<double> ratios, cpuRatios;
    for (size_t i = 0; i < Lib.size(); ++i) {
      lib += Lib[i].Wall;
      plain += Plain[i].Wall;
      libCpu += Lib[i].Cpu;
      plainCpu += Plain[i].Cpu;
      ratios.push_back(Lib[i].Wall / Plain[i].Wall);
      cpuRatios.push_back(Lib[i].Cpu / Plain[i].Cpu);
      if (Rounds) {
        std::printf("  round %2zu: library %.3f s (cpu %.3f), plain %.3f s (cpu %.3f), ratio %.3f (cpu %.3f)\n", i + 1,
                    Lib[i].Wall, Lib[i].Cpu, Plain[i].Wall, Plain[i].Cpu, ratios.back(), cpuRatios.back());
      }
    }
    std::printf(
        "%d %s per side\n  wall: library %.3f s, plain %.3f s; median round ratio %.3f\n"
        "  cpu:  library %.3f s, plain %.3f s; median round ratio %.3f\n",
        kRounds * kRowsPerRound, What, lib, plain, Median(ratios), libCpu, plainCpu, Median(cpuRatios));
  }
};

// ---- the input values -----------------------------------------------------------------------------

// What a program has in hand for each row: a key, two texts, an amount and a time stamp.
struct Input {
  std::vector<std::string> Names, Notes;
  int32_t Id(int I) const { return I; }
  const std::string& Name(int I) const { return Names[static_cast<size_t>(I) % Names.size()]; }
  Currency Amount(int I) const { return Currency::FromRaw((static_cast<int64_t>(I) * 7919 % 10000000) * 100); }
  TDateTime Stamp(int I) const { return 46000.0 + I / 1440.0; }
  const std::string& Note(int I) const { return Notes[static_cast<size_t>(I) % Notes.size()]; }
  Input() {
    for (int i = 0; i < 97; ++i) {
      Names.push_back("Flight " + std::to_string(i * 31));
      Notes.push_back(std::string(static_cast<size_t>(40 + i), static_cast<char>('a' + i % 26)) + " note");
    }
  }
};

// What both sides add up from the rows they read; equal sums show that they read the same values.
struct Sum {
  int64_t Value = 0;
  void Add(int32_t Id, size_t NameLength, int64_t Cents, int64_t StampMs, size_t NoteLength) {
    Value += Id + static_cast<int64_t>(NameLength) + Cents + StampMs + static_cast<int64_t>(NoteLength);
  }
};

int64_t Milliseconds(TDateTime V) { return std::llround(V * 86400000.0); }

// ---- the plain client ------------------------------------------------------------------------------

// The client's functions, looked up by name from the client library.
struct Client {
  using Attach = ISC_STATUS (*)(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short, const ISC_SCHAR*);
  using Detach = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*);
  using StartMultiple = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, short, void*);
  using EndTransaction = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*);
  using Allocate = ISC_STATUS (*)(ISC_STATUS*, isc_db_handle*, isc_stmt_handle*);
  using Prepare = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const ISC_SCHAR*,
                                 unsigned short, XSQLDA*);
  using DescribeBind = ISC_STATUS (*)(ISC_STATUS*, isc_stmt_handle*, unsigned short, XSQLDA*);
  using Execute = ISC_STATUS (*)(ISC_STATUS*, isc_tr_handle*, isc_stmt_handle*, unsigned short, const XSQLDA*);
  using Fetch = ISC_STATUS (*)(ISC_STATUS*, isc_stmt_handle*, unsigned short, const XSQLDA*);
  using Free = ISC_STATUS (*)(ISC_STATUS*, isc_stmt_handle*, unsigned short);

  void* Library = nullptr;
  Attach isc_attach_database = nullptr;
  Detach isc_detach_database = nullptr;
  StartMultiple isc_start_multiple = nullptr;
  EndTransaction isc_commit_transaction = nullptr;
  Allocate isc_dsql_allocate_statement = nullptr;
  Prepare isc_dsql_prepare = nullptr;
  DescribeBind isc_dsql_describe_bind = nullptr;
  Execute isc_dsql_execute = nullptr;
  Fetch isc_dsql_fetch = nullptr;
  Free isc_dsql_free_statement = nullptr;
  ISC_STATUS Status[ISC_STATUS_LENGTH] = {};

  Client() {
    Library = dlopen("libfbclient.so.2", RTLD_NOW);
    if (!Library) throw std::runtime_error("cannot load libfbclient.so.2");
    Bind(isc_attach_database, "isc_attach_database");
    Bind(isc_detach_database, "isc_detach_database");
    Bind(isc_start_multiple, "isc_start_multiple");
    Bind(isc_commit_transaction, "isc_commit_transaction");
    Bind(isc_dsql_allocate_statement, "isc_dsql_allocate_statement");
    Bind(isc_dsql_prepare, "isc_dsql_prepare");
    Bind(isc_dsql_describe_bind, "isc_dsql_describe_bind");
    Bind(isc_dsql_execute, "isc_dsql_execute");
    Bind(isc_dsql_fetch, "isc_dsql_fetch");
    Bind(isc_dsql_free_statement, "isc_dsql_free_statement");
  }
  ~Client() {
    if (Library) dlclose(Library);
  }
  template <class F>
  void Bind(F& Fn, const char* Name) {
    Fn = reinterpret_cast<F>(dlsym(Library, Name));
    if (!Fn) throw std::runtime_error(std::string("missing client function ") + Name);
  }
  // Raises with the call's name when the status vector holds an error.
  void Check(ISC_STATUS Result, const char* What) const {
    if (Result != 0) throw std::runtime_error(std::string(What) + " failed, code " + std::to_string(Status[1]));
  }
};

// An XSQLDA of N variables in memory of its own.
class Sqlda {
public:
  explicit Sqlda(int N) : FMemory(XSQLDA_LENGTH(N), 0) {
    Get()->version = SQLDA_VERSION1;
    Get()->sqln = static_cast<ISC_SHORT>(N);
  }
  XSQLDA* Get() { return reinterpret_cast<XSQLDA*>(FMemory.data()); }

private:
  std::vector<char> FMemory;
};

// The five values of a row in the client's formats, with their null indicators.
struct Record {
  int32_t Id = 0;
  struct {
    uint16_t Length;
    char Text[40];
  } Name{};
  int64_t Cents = 0;
  ISC_TIMESTAMP Stamp{};
  struct {
    uint16_t Length;
    char Text[200];
  } Note{};
  short Ind[5] = {};

  // Points the five variables of Da at the fields (the types are the table's, as the server describes them).
  void Bind(XSQLDA* Da) {
    void* data[5] = {&Id, &Name, &Cents, &Stamp, &Note};
    for (int i = 0; i < 5; ++i) {
      Da->sqlvar[i].sqldata = static_cast<ISC_SCHAR*>(data[i]);
      Da->sqlvar[i].sqlind = &Ind[i];
    }
  }
};

// Days between the client's day 0 (1858-11-17) and a TDateTime's (1899-12-30).
constexpr int kDayOffset = 15018;

ISC_TIMESTAMP ToTimestamp(TDateTime V) {
  const double days = std::floor(V);
  ISC_TIMESTAMP ts;
  ts.timestamp_date = static_cast<ISC_DATE>(static_cast<int>(days) + kDayOffset);
  ts.timestamp_time = static_cast<ISC_TIME>(std::llround((V - days) * 86400.0 * 10000.0));
  return ts;
}

TDateTime FromTimestamp(const ISC_TIMESTAMP& Ts) {
  return static_cast<double>(static_cast<int>(Ts.timestamp_date) - kDayOffset) +
         static_cast<double>(Ts.timestamp_time) / (86400.0 * 10000.0);
}

void SetText(uint16_t& Length, char* Text, size_t Max, const std::string& Value) {
  const size_t n = std::min(Value.size(), Max);
  std::memcpy(Text, Value.data(), n);
  Length = static_cast<uint16_t>(n);
}

// The plain side: an attachment, a transaction and two prepared statements, all through Client.
class PlainSide {
public:
  PlainSide(Client& C, const std::string& Path) : C(C) {
    const char dpb[] = {isc_dpb_version1,
                        isc_dpb_user_name,
                        6,
                        'S',
                        'Y',
                        'S',
                        'D',
                        'B',
                        'A',
                        isc_dpb_lc_ctype,
                        9,
                        'I',
                        'S',
                        'O',
                        '8',
                        '8',
                        '5',
                        '9',
                        '_',
                        '1'};
    C.Check(C.isc_attach_database(C.Status, 0, Path.c_str(), &FDB, sizeof dpb, dpb), "attach");
    Start();
    FInsert =
        PrepareStatement("INSERT INTO T (ID, NAME, AMOUNT, STAMP, NOTE) VALUES (?, ?, ?, ?, ?)", FInsertIn, nullptr);
    FSelect = PrepareStatement("SELECT ID, NAME, AMOUNT, STAMP, NOTE FROM T WHERE ID = ?", FSelectIn, &FSelectOut);
    FInRecord.Bind(FInsertIn.Get());
    FKeyIn.Bind(FSelectIn.Get());
    FOutRecord.Bind(FSelectOut.Get());
  }
  ~PlainSide() {
    C.isc_dsql_free_statement(C.Status, &FInsert, DSQL_drop);
    C.isc_dsql_free_statement(C.Status, &FSelect, DSQL_drop);
    if (FTR) C.isc_commit_transaction(C.Status, &FTR);
    C.isc_detach_database(C.Status, &FDB);
  }

  void Commit() {
    C.Check(C.isc_commit_transaction(C.Status, &FTR), "commit");
    Start();
  }

  void Insert(const Input& In, int I) {
    FInRecord.Id = In.Id(I);
    SetText(FInRecord.Name.Length, FInRecord.Name.Text, sizeof FInRecord.Name.Text, In.Name(I));
    FInRecord.Cents = In.Amount(I).Raw() / 100;
    FInRecord.Stamp = ToTimestamp(In.Stamp(I));
    SetText(FInRecord.Note.Length, FInRecord.Note.Text, sizeof FInRecord.Note.Text, In.Note(I));
    C.Check(C.isc_dsql_execute(C.Status, &FTR, &FInsert, 3, FInsertIn.Get()), "execute");
  }

  void Select(int Key, Sum& Total) {
    FKeyIn.Id = Key;
    C.Check(C.isc_dsql_execute(C.Status, &FTR, &FSelect, 3, FSelectIn.Get()), "execute");
    const ISC_STATUS fetched = C.isc_dsql_fetch(C.Status, &FSelect, 3, FSelectOut.Get());
    if (fetched != 0 && fetched != 100) C.Check(fetched, "fetch");
    C.Check(C.isc_dsql_free_statement(C.Status, &FSelect, DSQL_close), "close");
    if (fetched != 0) return;
    const Record& r = FOutRecord;
    const std::string name(r.Name.Text, std::min<size_t>(r.Name.Length, sizeof r.Name.Text));
    const std::string note(r.Note.Text, std::min<size_t>(r.Note.Length, sizeof r.Note.Text));
    Total.Add(r.Id, name.size(), r.Cents, Milliseconds(FromTimestamp(r.Stamp)), note.size());
  }

private:
  void Start() {
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                               isc_tpb_wait};
    struct {
      isc_db_handle* DB;
      intptr_t TpbLength;
      const char* Tpb;
    } teb{&FDB, sizeof tpb, tpb};
    C.Check(C.isc_start_multiple(C.Status, &FTR, 1, &teb), "start transaction");
  }

  isc_stmt_handle PrepareStatement(const char* SQL, Sqlda& In, Sqlda* Out) {
    isc_stmt_handle h = 0;
    C.Check(C.isc_dsql_allocate_statement(C.Status, &FDB, &h), "allocate");
    C.Check(C.isc_dsql_prepare(C.Status, &FTR, &h, 0, SQL, 3, Out ? Out->Get() : nullptr), "prepare");
    C.Check(C.isc_dsql_describe_bind(C.Status, &h, 3, In.Get()), "describe bind");
    return h;
  }

  Client& C;
  isc_db_handle FDB = 0;
  isc_tr_handle FTR = 0;
  isc_stmt_handle FInsert = 0, FSelect = 0;
  Sqlda FInsertIn{5}, FSelectIn{5}, FSelectOut{5};
  Record FInRecord, FKeyIn, FOutRecord;
};

// ---- many parameters -------------------------------------------------------------------------------

// Times the library's prepare of a statement with Count parameters (every name twice, so that the
// occurrences of each name share one column). The engine takes at most 1500 values in one IN list.
double TimePrepare(TIB_Connection* Db, TIB_Transaction* Tr, TComponent* Owner, int Count) {
  std::string sql = "SELECT 1 FROM RDB$DATABASE WHERE 0 IN (";
  for (int i = 0; i < Count; ++i) {
    if (i > 0) sql += i % 1500 == 0 ? ") OR 0 IN (" : ", ";
    sql += ":P" + std::to_string(i / 2);
  }
  sql += ")";
  auto* q = new TIB_DSQL(Owner);
  q->SetIB_Connection(Db);
  q->SetIB_Transaction(Tr);
  q->GetSQL().SetText(sql);
  const Clock t0;
  q->Prepare();
  const double seconds = Elapsed(t0).Wall;
  if (q->GetParams()->GetColumnCount() != (Count + 1) / 2) throw std::runtime_error("parameters not shared by name");
  delete q;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) kRounds = std::atoi(argv[1]);
  if (argc > 2) kRowsPerRound = std::atoi(argv[2]);
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("dblib_bench_" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/bench.fdb";
  auto* form = new TComponent(nullptr);
  int rc = 0;
  try {
    auto* db = new TIB_Connection(form);
    db->SetDatabaseName(path);
    db->SetUsername("SYSDBA");
    db->SetCharSet("ISO8859_1");
    db->SetSQLDialect(3);
    db->SetPageSize(8192);
    // The engine's page writes are no part of what is compared: the file system takes them as it likes.
    db->SetForcedWrites(dpbFalse);
    db->CreateDatabase();
    auto* tr = new TIB_Transaction(form);
    tr->SetIB_Connection(db);
    tr->SetIsolation(tiCommitted);
    auto* ddl = new TIB_DSQL(form);
    ddl->SetIB_Connection(db);
    ddl->SetIB_Transaction(tr);
    ddl->GetSQL().SetText(
        "CREATE TABLE T (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40), AMOUNT NUMERIC(15,2), "
        "STAMP TIMESTAMP, NOTE VARCHAR(200))");
    ddl->Execute();
    tr->Commit();

    Client client;
    PlainSide plain(client, path);
    const Input in;
    const bool rounds = std::getenv("BENCH_ROUNDS") != nullptr;

    auto* ins = new TIB_DSQL(form);
    ins->SetIB_Connection(db);
    ins->SetIB_Transaction(tr);
    ins->GetSQL().SetText("INSERT INTO T (ID, NAME, AMOUNT, STAMP, NOTE) VALUES (:ID, :NAME, :AMOUNT, :STAMP, :NOTE)");
    ins->Prepare();
    Totals inserts;
    int next = 0;
    for (int r = 0; r < kRounds; ++r) {
      auto library = [&]() __attribute__((noinline)) {
        const Clock t0;
        bench::Counted(kInsertLibrary, [&] {
          for (int i = 0; i < kRowsPerRound; ++i, ++next) {
            ins->ParamByName("ID")->SetAsInteger(in.Id(next));
            ins->ParamByName("NAME")->SetAsString(in.Name(next));
            ins->ParamByName("AMOUNT")->SetAsCurrency(in.Amount(next));
            ins->ParamByName("STAMP")->SetAsDateTime(in.Stamp(next));
            ins->ParamByName("NOTE")->SetAsString(in.Note(next));
            ins->Execute();
          }
        });
        inserts.Lib.push_back(Elapsed(t0));
      };
      auto direct = [&]() __attribute__((noinline)) {
        const Clock t0;
        bench::Counted(kInsertPlain, [&] {
          for (int i = 0; i < kRowsPerRound; ++i, ++next) plain.Insert(in, next);
        });
        inserts.Plain.push_back(Elapsed(t0));
      };
      RunInTurn(r, library, direct);
    }
    tr->Commit();
    plain.Commit();
    const int rows = next;

    auto* sel = new TIB_DSQL(form);
    sel->SetIB_Connection(db);
    sel->SetIB_Transaction(tr);
    sel->GetSQL().SetText("SELECT ID, NAME, AMOUNT, STAMP, NOTE FROM T WHERE ID = :ID");
    sel->Prepare();
    Totals selects;
    Sum libSum, plainSum;
    for (int r = 0; r < kRounds; ++r) {
      // Both sides read the same keys in a round, spread over the whole table.
      const int first = static_cast<int>((static_cast<int64_t>(r) * kRowsPerRound * 2) % rows);
      auto library = [&]() __attribute__((noinline)) {
        const Clock t0;
        bench::Counted(kSelectLibrary, [&] {
          for (int i = 0; i < kRowsPerRound; ++i) {
            sel->ParamByName("ID")->SetAsInteger((first + i) % rows);
            sel->Execute();
            libSum.Add(sel->FieldByName("ID")->GetAsInteger(), sel->FieldByName("NAME")->GetAsString().size(),
                       sel->FieldByName("AMOUNT")->GetAsCurrency().Raw() / 100,
                       Milliseconds(sel->FieldByName("STAMP")->GetAsDateTime()),
                       sel->FieldByName("NOTE")->GetAsString().size());
          }
        });
        selects.Lib.push_back(Elapsed(t0));
      };
      auto direct = [&]() __attribute__((noinline)) {
        const Clock t0;
        bench::Counted(kSelectPlain, [&] {
          for (int i = 0; i < kRowsPerRound; ++i) plain.Select((first + i) % rows, plainSum);
        });
        selects.Plain.push_back(Elapsed(t0));
      };
      RunInTurn(r, library, direct);
    }
    tr->Commit();

    inserts.Print("parameterised five-column INSERTs", rounds);
    selects.Print("prepared singleton SELECTs of five columns by key", rounds);
    if (libSum.Value != plainSum.Value || libSum.Value == 0) {
      std::printf("error: the sides read different values (sums %lld, %lld)\n", static_cast<long long>(libSum.Value),
                  static_cast<long long>(plainSum.Value));
      rc = 1;
    }

    if (std::getenv("BENCH_NO_PREPARE") == nullptr) {
      std::printf("prepare with many parameters (each name twice):");
      for (int count : {1000, 4000, 10000}) std::printf("  %d: %.3f s", count, TimePrepare(db, tr, form, count));
      std::printf("\n");
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
