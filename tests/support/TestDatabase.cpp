#include "support/TestDatabase.h"

#include <cstring>
#include <memory>

namespace testsupport {

namespace {

// An XSQLDA with room for N variables, each with its own data area and null indicator.
class TSqlda {
public:
  explicit TSqlda(int N) : FRaw(XSQLDA_LENGTH(N), 0) {
    Get()->version = SQLDA_VERSION1;
    Get()->sqln = static_cast<short>(N);
  }
  XSQLDA* Get() { return reinterpret_cast<XSQLDA*>(FRaw.data()); }
  void AllocateData() {
    XSQLDA* d = Get();
    FData.assign(d->sqld, {});
    FNull.assign(d->sqld, 0);
    for (int i = 0; i < d->sqld; ++i) {
      XSQLVAR& v = d->sqlvar[i];
      size_t size = static_cast<size_t>(v.sqllen) + ((v.sqltype & ~1) == SQL_VARYING ? 2 : 0);
      FData[i].assign(size + 8, 0);
      v.sqldata = FData[i].data();
      v.sqlind = &FNull[i];
    }
  }

private:
  std::vector<char> FRaw;  // XSQLDA has only 2-byte and pointer members: vector storage is aligned enough
  std::vector<std::vector<char>> FData;
  std::vector<short> FNull;
};

std::string Text(const XSQLVAR& V) {
  const char* p = V.sqldata;
  switch (V.sqltype & ~1) {
    case SQL_TEXT: return std::string(p, static_cast<size_t>(V.sqllen));
    case SQL_VARYING: {
      short len;
      std::memcpy(&len, p, 2);
      return std::string(p + 2, static_cast<size_t>(len));
    }
    case SQL_SHORT: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return IntToStr(v);
    }
    case SQL_LONG: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return IntToStr(v);
    }
    case SQL_INT64: {
      int64_t v;
      std::memcpy(&v, p, 8);
      return IntToStr(v);
    }
    default: return "";
  }
}

// Prepares SQL, describes its row into Out (with data areas) and executes it.
isc_stmt_handle OpenQuery(TestDatabase& D, const std::string& SQL, TSqlda& Out) {
  TIB_SessionBase& s = D.Session();
  isc_stmt_handle st = D.Prepare(SQL);
  s.CallChecked(&s, s.Entries.isc_dsql_describe, &st, static_cast<unsigned short>(SQLDA_VERSION1), Out.Get());
  Out.AllocateData();
  D.ExecuteStatement(st);
  return st;
}

}  // namespace

TestDatabase::TestDatabase(TIB_SessionBase& Session, uint16_t PageSize, const std::string& CharSet, int16_t Dialect)
    : FSession(Session), FPath(FDir.File("test.fdb")) {
  FSession.CreateDatabase(FPath, "", "", PageSize, CharSet, Dialect);
  std::string dpb = {static_cast<char>(isc_dpb_version1)};
  if (!CharSet.empty()) {
    dpb += static_cast<char>(isc_dpb_lc_ctype);
    dpb += static_cast<char>(CharSet.size());
    dpb += CharSet;
  }
  FSession.CallChecked(&FSession, FSession.Entries.isc_attach_database, static_cast<short>(0), FPath.c_str(), &FDB,
                       static_cast<short>(dpb.size()), dpb.data());
}

TestDatabase::TestDatabase(TIB_SessionBase& Session, const std::string& Path) : FSession(Session), FPath(Path) {
  const std::string dpb = {static_cast<char>(isc_dpb_version1)};
  FSession.CallChecked(&FSession, FSession.Entries.isc_attach_database, static_cast<short>(0), FPath.c_str(), &FDB,
                       static_cast<short>(dpb.size()), dpb.data());
}

TestDatabase::~TestDatabase() {
  // Cleanup never throws: the test has already reported what went wrong.
  for (isc_stmt_handle& s : FStatements)
    if (s)
      TIB_SessionBase::CallScratch(FSession.Untraced.isc_dsql_free_statement, &s,
                                   static_cast<unsigned short>(DSQL_drop));
  if (FTR) TIB_SessionBase::CallScratch(FSession.Untraced.isc_rollback_transaction, &FTR);
  if (FDB) TIB_SessionBase::CallScratch(FSession.Untraced.isc_detach_database, &FDB);
}

isc_tr_handle* TestDatabase::TR() {
  if (!FTR) {
    static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency, isc_tpb_wait};
    // The client's transaction existence block: database handle, TPB length and TPB (24 bytes).
    struct {
      isc_db_handle* Database;
      int TpbLength;
      const char* Tpb;
    } teb{&FDB, static_cast<int>(sizeof tpb), tpb};
    static_assert(sizeof teb == 24);
    FSession.CallChecked(&FSession, FSession.Entries.isc_start_multiple, &FTR, static_cast<short>(1), &teb);
  }
  return &FTR;
}

void TestDatabase::Commit() {
  if (FTR) FSession.CallChecked(&FSession, FSession.Entries.isc_commit_transaction, &FTR);
}

void TestDatabase::Execute(const std::string& SQL) {
  FSession.CallChecked(&FSession, FSession.Entries.isc_dsql_execute_immediate, &FDB, TR(),
                       static_cast<unsigned short>(0), SQL.c_str(), static_cast<unsigned short>(3),
                       static_cast<const XSQLDA*>(nullptr));
}

isc_stmt_handle TestDatabase::Prepare(const std::string& SQL) {
  isc_stmt_handle st = 0;
  FSession.CallChecked(&FSession, FSession.Entries.isc_dsql_allocate_statement, &FDB, &st);
  FStatements.push_back(st);
  FSession.CallChecked(&FSession, FSession.Entries.isc_dsql_prepare, TR(), &FStatements.back(),
                       static_cast<unsigned short>(0), SQL.c_str(), static_cast<unsigned short>(3),
                       static_cast<XSQLDA*>(nullptr));
  return st;
}

void TestDatabase::ExecuteStatement(isc_stmt_handle Statement) {
  FSession.CallChecked(&FSession, FSession.Entries.isc_dsql_execute, TR(), &Statement,
                       static_cast<unsigned short>(SQLDA_VERSION1), static_cast<const XSQLDA*>(nullptr));
}

void TestDatabase::FreeStatement(isc_stmt_handle& Statement) {
  for (isc_stmt_handle& s : FStatements)
    if (s == Statement) s = 0;
  isc_stmt_handle h = Statement;
  Statement = 0;
  FSession.CallChecked(&FSession, FSession.Entries.isc_dsql_free_statement, &h, static_cast<unsigned short>(DSQL_drop));
}

std::vector<TestValue> TestDatabase::QueryRow(const std::string& SQL) {
  TSqlda out(20);
  isc_stmt_handle st = OpenQuery(*this, SQL, out);
  std::vector<TestValue> row;
  const ISC_STATUS fetched =
      FSession.Call(FSession.Entries.isc_dsql_fetch, &st, static_cast<unsigned short>(SQLDA_VERSION1), out.Get());
  if (fetched != 0 && fetched != 100) FSession.HandleISCError(&FSession);
  if (fetched == 0) {
    for (int i = 0; i < out.Get()->sqld; ++i) {
      const XSQLVAR& v = out.Get()->sqlvar[i];
      TestValue value;
      value.Null = (v.sqltype & 1) && *v.sqlind < 0;
      if (!value.Null) {
        const int type = v.sqltype & ~1;
        if (type == SQL_BLOB || type == SQL_ARRAY)
          std::memcpy(&value.Quad, v.sqldata, sizeof(ISC_QUAD));
        else
          value.Text = Text(v);
      }
      row.push_back(value);
    }
  }
  FreeStatement(st);
  return row;
}

void TestDatabase::ExecuteWithParam(const std::string& SQL, const std::function<void(XSQLVAR&)>& Fill) {
  isc_stmt_handle st = Prepare(SQL);
  TSqlda in(1);
  FSession.CallChecked(&FSession, FSession.Entries.isc_dsql_describe_bind, &st,
                       static_cast<unsigned short>(SQLDA_VERSION1), in.Get());
  in.AllocateData();
  in.Get()->sqlvar[0].sqltype |= 1;  // allow NULL
  Fill(in.Get()->sqlvar[0]);
  FSession.CallChecked(&FSession, FSession.Entries.isc_dsql_execute, TR(), &st,
                       static_cast<unsigned short>(SQLDA_VERSION1), static_cast<const XSQLDA*>(in.Get()));
  FreeStatement(st);
}

void TestDatabase::WithFirstColumn(const std::string& SQL, const std::function<void(XSQLVAR&)>& Use) {
  TSqlda out(1);
  isc_stmt_handle st = OpenQuery(*this, SQL, out);
  FSession.CallChecked(&FSession, FSession.Entries.isc_dsql_fetch, &st, static_cast<unsigned short>(SQLDA_VERSION1),
                       out.Get());
  Use(out.Get()->sqlvar[0]);
  FreeStatement(st);
}

}  // namespace testsupport
