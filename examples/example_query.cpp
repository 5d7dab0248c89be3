// Creates a database file, attaches to it through a session's entry table and reports what it made.
//
//   example_query /path/to/new.fdb
//
// The path attaches in embedded mode: the engine opens the file in-process, no server needed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dblib/IB_SessionBase.h"

namespace {

// Reads one integer item of isc_database_info.
int64_t DatabaseInfo(TIB_SessionBase& Session, isc_db_handle* DB, char Item) {
  const char items[] = {Item, isc_info_end};
  unsigned char reply[64] = {};
  Session.CallChecked(&Session, Session.Entries.isc_database_info, DB, static_cast<short>(sizeof items), items,
                      static_cast<short>(sizeof reply), reinterpret_cast<char*>(reply));
  if (reply[0] != static_cast<unsigned char>(Item)) return -1;
  const int length = reply[1] | (reply[2] << 8);
  int64_t value = 0;
  for (int i = 0; i < length && i < 8; ++i) value |= static_cast<int64_t>(reply[3 + i]) << (8 * i);
  return value;
}

// The first column of the first row of a query, as text (CHAR and VARCHAR columns only).
std::string QueryText(TIB_SessionBase& Session, isc_db_handle* DB, isc_tr_handle* TR, const char* SQL) {
  std::vector<char> raw(XSQLDA_LENGTH(1), 0);
  XSQLDA* out = reinterpret_cast<XSQLDA*>(raw.data());
  out->version = SQLDA_VERSION1;
  out->sqln = 1;
  isc_stmt_handle st = 0;
  Session.CallChecked(&Session, Session.Entries.isc_dsql_allocate_statement, DB, &st);
  std::string text;
  try {
    Session.CallChecked(&Session, Session.Entries.isc_dsql_prepare, TR, &st, static_cast<unsigned short>(0), SQL,
                        static_cast<unsigned short>(3), out);
    XSQLVAR& var = out->sqlvar[0];
    std::vector<char> data(static_cast<size_t>(var.sqllen) + 2);
    short nullInd = 0;
    var.sqldata = data.data();
    var.sqlind = &nullInd;
    Session.CallChecked(&Session, Session.Entries.isc_dsql_execute, TR, &st, static_cast<unsigned short>(1),
                        static_cast<const XSQLDA*>(nullptr));
    if (Session.Call(Session.Cursor.isc_dsql_fetch, &st, static_cast<unsigned short>(1), out) == 0 && nullInd == 0) {
      if ((var.sqltype & ~1) == SQL_VARYING) {
        short length = 0;
        std::memcpy(&length, data.data(), sizeof length);
        text.assign(data.data() + 2, static_cast<size_t>(length));
      } else {
        text.assign(data.data(), static_cast<size_t>(var.sqllen));
      }
    }
  } catch (...) {
    TIB_SessionBase::CallScratch(Session.Entries.isc_dsql_free_statement, &st, static_cast<unsigned short>(DSQL_drop));
    throw;
  }
  Session.CallChecked(&Session, Session.Entries.isc_dsql_free_statement, &st, static_cast<unsigned short>(DSQL_drop));
  return Trim(text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <new database file>\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  TIB_SessionBase* session = new TIB_SessionBase(nullptr);
  int rc = 0;
  try {
    if (!session->GetLibraryLoaded())
      std::fprintf(stderr, "client library %s: %s\n", session->GetLibraryName().c_str(),
                   session->GetLibraryError().c_str());
    session->CreateDatabase(path, "", "", 8192, "ISO8859_1", 3);
    std::printf("created %s\n", path.c_str());

    isc_db_handle db = 0;
    session->CallChecked(session, session->Entries.isc_attach_database, static_cast<short>(0), path.c_str(), &db,
                         static_cast<short>(0), static_cast<const char*>(nullptr));
    std::printf("page size:     %lld\n", static_cast<long long>(DatabaseInfo(*session, &db, isc_info_page_size)));
    std::printf("SQL dialect:   %lld\n", static_cast<long long>(DatabaseInfo(*session, &db, isc_info_db_sql_dialect)));

    static const char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version};
    struct {
      isc_db_handle* Database;
      int TpbLength;
      const char* Tpb;
    } teb{&db, static_cast<int>(sizeof tpb), tpb};
    isc_tr_handle tr = 0;
    session->CallChecked(session, session->Entries.isc_start_multiple, &tr, static_cast<short>(1), &teb);
    std::printf("character set: %s\n",
                QueryText(*session, &db, &tr, "SELECT RDB$CHARACTER_SET_NAME FROM RDB$DATABASE").c_str());
    session->CallChecked(session, session->Entries.isc_commit_transaction, &tr);
    session->CallChecked(session, session->Entries.isc_detach_database, &db);
  } catch (const EIB_ISCError& e) {
    std::fprintf(stderr, "%s", e.ErrorMessage().GetText().c_str());
    rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    rc = 1;
  }
  delete session;
  return rc;
}
