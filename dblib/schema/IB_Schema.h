// Schema queries: facts about a database read from its system tables (RDB$...) and from the library's
// schema version table (ZDB$SCHEMA_VERSION), turned into the text items of a string list.
//
// Each routine runs one fixed SELECT through a temporary TIB_SchemaCursor, which it creates and frees
// itself, clears the target list first and does nothing more when the connection or the list is null.
// Names come back trimmed of the blanks that pad the system tables' CHAR columns and spelled as exact
// SQL identifiers (upper case, or double-quoted when that is not how they are stored). A relation
// argument is taken quoted or exact; below SQL dialect 3 it is upper-cased. The schema cache
// (IB_SchemaCache.h) fills its lists through these routines.
//
// Server errors of the queries reach the caller as the statement's exceptions; only GetGeneratorValue
// turns them into a false result.
#pragma once

#include <exception>

#include <cstdint>
#include <string>

class TIB_Connection;
class TIB_SchemaCursor;  // dblib/schema/IB_SchemaCursor.h
class TIB_Transaction;
class TStream;
class TStrings;

// The relation argument "<BY TABLE>" of GetRelationFields and GetPrimaryKeyFields: one item per
// relation, RELATION=FIELD1,FIELD2,...
inline constexpr const char* IB_ByTable = "<BY TABLE>";

// SCHEMA_ITEM=VERSION_NUMBER per row of ZDB$SCHEMA_VERSION; empty when the database has no such table.
void GetSchemaVersions(TIB_Connection* C, TIB_Transaction* T, TStrings* List);
void GetDomainNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List);
// REL.FIELD=DOMAIN for the columns of user domains.
void GetRelationFieldSources(TIB_Connection* C, TIB_Transaction* T, TStrings* List);
void GetGeneratorNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List);
void GetRelationNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, bool IncludeTables, bool IncludeViews,
                      TStrings* List);
// RELATION_ID=NAME.
void GetRelationIds(TIB_Connection* C, TIB_Transaction* T, bool IncludeViews, TStrings* List);
void GetProcedureNames(TIB_Connection* C, TIB_Transaction* T, TStrings* List);
// Empty Relation: REL.FIELD per column; IB_ByTable: REL=F1,F2,...; a relation: its field names. Columns
// in their position order.
void GetRelationFields(TIB_Connection* C, TIB_Transaction* T, TStrings* List, const std::string& Relation);
void GetConstraintNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, const std::string& Relation,
                        TStrings* List);
void GetTriggerNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, const std::string& Relation,
                     TStrings* List);
// Index names; INDEX,RELATION when no relation is given.
void GetIndexNames(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, const std::string& Relation,
                   TStrings* List);
// Empty Relation: FIELD,RELATION; IB_ByTable: REL=K1,K2,...; a relation: its key fields. Key fields in
// their key order.
void GetPrimaryKeyFields(TIB_Connection* C, TIB_Transaction* T, const std::string& Relation, TStrings* List);
// FIELD,RELATION.
void GetForeignKeyFields(TIB_Connection* C, TIB_Transaction* T, const std::string& Relation, TStrings* List);
// Field names of Relation; FIELD,RELATION when no relation is given.
void GetNotNullFields(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List,
                      const std::string& Relation);
void GetComputedFields(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List,
                       const std::string& Relation);
void GetDefaultedFields(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List,
                        const std::string& Relation);
// NAME=[PK;|UN;][DESC;]REL=R;[CNST=C;][FK=F;[UR=U;][DR=D;]]SEGS=A,B,... per index.
void GetIndexDefinitions(TIB_Connection* C, TIB_Transaction* T, bool IncludeSystem, TStrings* List);

// GEN_ID(GeneratorName, Increment): true with the value; false (Value -1) without a connection or when
// anything fails. GeneratorName is put into the SQL as an identifier of the connection's dialect. With
// Failure given, the error that made it fail (the engine's, with its texts) is kept there.
bool GetGeneratorValue(TIB_Connection* C, TIB_Transaction* T, const std::string& GeneratorName, int64_t Increment,
                       int64_t& Value, std::exception_ptr* Failure = nullptr);

// The aliases (What "ALIAS": the parameters of alias Name) of a desktop database engine configuration
// named by the machine-wide settings key "\SOFTWARE\Borland\Database Engine". Machine-wide keys read
// empty on this platform, so the list stays empty.
void GetBDEAliasParams(const std::string& What, const std::string& Name, TStrings* List);
// Reads the aliases of such a configuration from Stream (the same meaning of What and Name).
void ReadBDEAliasParams(TStream& Stream, const std::string& What, const std::string& Name, TStrings& List);
