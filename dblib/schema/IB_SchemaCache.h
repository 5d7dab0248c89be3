// The schema cache: what a connection knows about its database's metadata.
//
// TIB_SchemaCache answers which names are tables, views, procedures or generators, which columns are
// required, computed or defaulted, the domain of a column and the key and fields of a relation, from
// 21 name lists that it fills on first use through the schema queries (IB_Schema.h). With a cache
// folder set (the connection's SchemaCacheDir) every list read from the database is also written to a
// file, and read back from it by later connections as long as the database's version for that list
// (table ZDB$SCHEMA_VERSION) has not changed. A file is written to a temporary name and renamed into
// place; one that is truncated, damaged, of another database or of another version is not used: the
// list is read from the database again and the file rewritten.
//
// Ownership: the connection owns its cache; the cache owns its lists, its lookup cursors and the
// read-only transaction they and the schema queries run in. The lists live as long as the cache but are
// refilled after every connect, disconnect and schema change: do not keep a list's items across those.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "dblib/IB_Connection.h"
#include "dblib/IB_StringList.h"

class TIB_SchemaCursor;
class TIB_Transaction;

// The cache's lists, by number.
enum TIB_SchemaListNo : int {
  slDomainNames = 0,
  slGeneratorNames = 1,
  slTableNames = 2,
  slViewNames = 3,
  slProcedureNames = 4,
  slConstraintNames = 5,
  slTriggerNames = 6,
  slIndexDefs = 7,
  slIndexNames = 8,
  slPrimaryKeys = 9,
  slForeignKeys = 10,
  slRequired = 11,
  slDefaults = 12,
  slComputed = 13,
  slFieldDomains = 14,
  slTableKeys = 15,
  slTableFields = 16,
  slProcedureParams = 17,
  slRelationsByID = 18,
  slDatabaseSchemaVer = 19,
  slClientSchemaVer = 20,
};
inline constexpr int IB_SchemaListCount = 21;

class TIB_SchemaCache : public TIB_ConnectionSchemaCache {
public:
  explicit TIB_SchemaCache(TIB_Connection* AConnection);
  ~TIB_SchemaCache() override;
  TIB_SchemaCache(const TIB_SchemaCache&) = delete;
  TIB_SchemaCache& operator=(const TIB_SchemaCache&) = delete;

  // The list number N (0..20), filled when it has not been since the last reset; nullptr for another
  // N. The list stays owned by the cache. While disconnected the list is empty and is filled on a later
  // request. Server errors pass to the caller and leave the list to be filled on the next request.
  TIB_StringList* GetSchemaList(int N);
  TIB_StringList* GetRelationsByID() override { return GetSchemaList(slRelationsByID); }
  // The file of list N (the list's name and ".ZDB" in the database's folder under the cache folder);
  // empty without a cache folder.
  std::string GetCacheFileName(int N) const;
  static const char* GetListName(int N);

  // The domain of Relation.Field (names quoted or exact); empty for a procedure's column.
  std::string GetFieldSource(const std::string& Relation, const std::string& Field) override;
  // Target receives RELATION.KEY items, the key columns of Relation in key order.
  void GetTableKeys(const std::string& Relation, TStrings& Target) override;
  // Target receives the column names of Relation in their position order.
  void GetTableFields(const std::string& Relation, TStrings& Target) override;
  // True when FIELD,RELATION is an item of list N (slRequired, slDefaults, slComputed, ...).
  bool IsColumnListed(int N, const std::string& Relation, const std::string& Field) override;
  bool IsProcedure(const std::string& Name) override;

  // Prepared cursors over a column's default source and its domain's default source, with the
  // parameters RDB$RELATION_NAME and RDB$FIELD_NAME. Owned by the cache; freed with FreeCursors.
  TIB_SchemaCursor* GetColumnDefaultCursor();
  TIB_SchemaCursor* GetDomainDefaultCursor();
  // The two cursors' answer for Relation.Field. A server error of theirs is the cache's own, as with the
  // other lookups: nothing is found when the network is gone, else "Internal SchemaCache ERRCODE: n".
  std::string GetDefaultSource(const std::string& Relation, const std::string& Field) override;
  // Read once per column and kept until the lists are filled again (RDB$RELATION_FIELDS's
  // RDB$GENERATOR_NAME; a server without IDENTITY columns answers empty).
  std::string GetIdentityGenerator(const std::string& Relation, const std::string& Field) override;

  const std::string& GetSchemaCacheDir() const override { return FSchemaCacheDir; }
  // Stores Dir trimmed, without trailing backslashes.
  void SetSchemaCacheDir(const std::string& Dir) override;
  // Deletes the files of this database's lists.
  void DeleteCacheFiles() override;
  // Every list is filled again on its next use.
  void ClearLoadedLists() override;
  // Frees the lookup cursors and rolls back the cache's transaction when it is started.
  void FreeCursors() override;
  // Deletes the files and clears the lists; until a transaction of the connection ends, lists are read
  // from the server each time (the change may not be committed yet) and no file is written.
  void SchemaChanged() override;
  void TransactionEnded(TIB_Component* Transaction) override;

  // The read-only transaction of the schema reading, made on first use.
  TIB_Transaction* GetTransaction() override;

private:
  enum TCursorKind { ckFieldSource, ckPrimaryKey, ckRelationFields, ckColumnDefault, ckDomainDefault, ckCount };

  TIB_Connection* GetConnection() const { return FConnection; }
  bool Connected() const;
  int Dialect() const;
  TIB_SchemaCursor* GetCursor(TCursorKind Kind);
  void RunListQuery(int N, TStrings& List);
  // The columns of Relation from cached list List, else read through cursor Cursor and added to the list.
  // Rel gets the relation's identifier. False when it could not be known.
  bool RelationColumns(const std::string& Relation, int List, TCursorKind Cursor, std::string& Rel,
                       TIB_StringList& Fields);
  bool IsCacheFileCurrent(int N);
  bool LoadListFromFile(int N);
  void SaveListToFile(int N);
  // What tells this database from another of the same file name: its name and creation time.
  const std::string& DatabaseIdentity();
  // The version text list 19 gives for list N; empty when the database has none.
  std::string DatabaseVersion(int N);

  TIB_Connection* FConnection;
  TIB_Transaction* FTransaction = nullptr;
  uint32_t FLoaded = 0;
  std::array<std::unique_ptr<TIB_StringList>, IB_SchemaListCount> FLists;
  std::array<TIB_SchemaCursor*, ckCount> FCursors{};
  std::string FSchemaCacheDir;
  std::string FIdentity;
  bool FChangePending = false;
  // IDENTITY generators by RELATION + '\0' + FIELD (stored names) of the columns asked for so far;
  // empty for a column that has none.
  std::map<std::string, std::string> FIdentities;
};
