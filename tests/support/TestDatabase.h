// A test database: an embedded Firebird file in its own temporary folder, attached through a session's
// entry table, with a small set of helpers to run SQL and look at results.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dblib/IB_SessionBase.h"
#include "support/TestSupport.h"

namespace testsupport {

// Sessions in tests are heap objects owned by a unique_ptr.
struct SessionDeleter {
  void operator()(TIB_SessionBase* S) const { delete S; }
};
using SessionPtr = std::unique_ptr<TIB_SessionBase, SessionDeleter>;
inline SessionPtr NewSession() { return SessionPtr(new TIB_SessionBase(nullptr)); }

// Points ClientLibraryName elsewhere for the life of the object.
class LibraryNameGuard {
public:
  explicit LibraryNameGuard(const std::string& Name) : FSaved(ClientLibraryName) { ClientLibraryName = Name; }
  ~LibraryNameGuard() { ClientLibraryName = FSaved; }
  LibraryNameGuard(const LibraryNameGuard&) = delete;
  LibraryNameGuard& operator=(const LibraryNameGuard&) = delete;

private:
  std::string FSaved;
};

// One column of a fetched row, as text (numbers in decimal) or, for blobs and arrays, as the id.
struct TestValue {
  bool Null = false;
  std::string Text;
  ISC_QUAD Quad{};
};

// Creates the database file when constructed, attaches and starts a transaction; at the end rolls back
// what is pending, detaches, and the folder with the file goes. Every call runs through Session.
class TestDatabase {
public:
  explicit TestDatabase(TIB_SessionBase& Session, uint16_t PageSize = 4096, const std::string& CharSet = "ISO8859_1",
                        int16_t Dialect = 3);
  // Attaches to the existing database file at Path, which it leaves in place.
  TestDatabase(TIB_SessionBase& Session, const std::string& Path);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::string& Path() const { return FPath; }
  isc_db_handle* DB() { return &FDB; }
  isc_tr_handle* TR();  // starts a transaction when none is active
  TIB_SessionBase& Session() { return FSession; }

  void Commit();
  void Execute(const std::string& SQL);
  // The first row of a query; empty when it returns none.
  std::vector<TestValue> QueryRow(const std::string& SQL);
  // Prepares SQL (with one parameter), lets Fill set the parameter's XSQLVAR (its data area and null
  // indicator are allocated), then executes it.
  void ExecuteWithParam(const std::string& SQL, const std::function<void(XSQLVAR&)>& Fill);
  // Runs a query and hands its first column of the first row to Use (the XSQLVAR with its data).
  void WithFirstColumn(const std::string& SQL, const std::function<void(XSQLVAR&)>& Use);
  // A prepared statement handle, freed when the database object goes (or with FreeStatement).
  isc_stmt_handle Prepare(const std::string& SQL);
  void ExecuteStatement(isc_stmt_handle Statement);
  void FreeStatement(isc_stmt_handle& Statement);

private:
  TIB_SessionBase& FSession;
  TempDir FDir;
  std::string FPath;
  isc_db_handle FDB = 0;
  isc_tr_handle FTR = 0;
  std::vector<isc_stmt_handle> FStatements;
};

}  // namespace testsupport
