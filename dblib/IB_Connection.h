// The connection: the component that attaches one database.
//
// TIB_Connection keeps its settings in one NAME=VALUE list (Params) with typed properties over it,
// composes and splits database names in their network forms, runs the login (an event or the
// dialogs' login), remembers the last login in the settings store and builds the database parameter
// block. It attaches, detaches, creates and drops its database, tells the components that hang off it
// (connection links) what happens in a fixed order of numbered notices, reads the database's
// characteristics, caches statement handles and notices a lost server connection.
//
// Transactions, statements, datasets and the schema cache register with a connection through the
// small interfaces below; their own units implement them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dblib/IB_Header.h"
#include "dblib/IB_Session.h"
#include "dblib/IB_StringList.h"
#include "platform/Clock.h"

class TIB_Connection;
class TIB_ConnectionLink;
class TIB_Column;
class TIB_DMLCacheItem;
class TIB_Transaction;

enum TIB_Protocol { cpLocal, cpNetBEUI, cpTCP_IP, cpNovell };
enum TIB_DPBFlag { dpbDefault, dpbTrue, dpbFalse };
enum TIB_FieldEntryType { fetDomainName, fetSQLType };
using TIB_FieldEntryTypes = uint8_t;  // bits 1 << TIB_FieldEntryType

// Connection status byte.
enum : uint8_t {
  csNotConnected = 0,
  csConnected = 1,
  csDisconnecting = 2,
  csConnecting = 3,
  csDroppingDatabase = 4,
  csCreatingDatabase = 5,
  csSQLConnecting = 6,
};

// Notices a connection sends to its links (ProcessEvent), from the last registered link to the first.
enum : int32_t {
  cevLinkLeaving = 0,
  cevLinkJoined = 1,
  cevBeforeExecDDL = 2,
  cevAfterExecDDL = 3,
  cevConnectedChanged = 4,
  cevBeforeCreateDatabase = 5,
  cevAfterCreateDatabase = 6,
  cevBeforeConnect = 7,
  cevAfterConnect = 8,
  cevBeforeDisconnect = 9,
  cevAfterDisconnect = 10,
  cevBeforeDropDatabase = 11,
  cevAfterDropDatabase = 12,
};

// Numbered notifications a connection takes (Perform).
enum : int32_t {
  cnConnect = -16,
  cnDisconnect = -17,
  cnConnectCommand = -18,
  cnDisconnectCommand = -19,
  cnCreateDatabase = -20,
  cnDropDatabase = -21,
  cnSetFocus = -22,
  cnCheckConnection = -23,
};

using TIB_ConnectionEvent = std::function<void(TIB_Connection* Sender)>;
using TIB_LoginEvent = std::function<void(TIB_Connection* Sender, bool& AbortLogin)>;
// Receives the parameter block so far (BufPtr bytes of Buffer) and may append items, e.g. with
// AddDPBString; BufPtr must then be the new length (at most Buffer.size()).
using TIB_CustomizeDPBEvent = std::function<void(TIB_Connection* Sender, int32_t& BufPtr, std::string& Buffer)>;
using TIB_SoundExParse =
    std::function<void(TIB_Connection* Sender, const std::string& SourceStr, std::string& ResultStr)>;
using TIB_ProcessSearchBuffer =
    std::function<void(TIB_Connection* Sender, TIB_Column* IB_Field, std::string& SearchBuffer, TStrings* WhereClause,
                       TStrings* Parameters, TStrings* Macros, bool& DefaultHandling)>;
using TIB_CompareTextEvent = std::function<int32_t(TIB_Column* IB_Field, const std::string& S1, const std::string& S2)>;
using TIB_ConnectionLinkEvent = std::function<void(TIB_ConnectionLink* Sender, TIB_Connection* AConnection)>;
// Hears every DML notice delivered on the connection: a row changed through a dataset of one of its
// transactions, now visible to the others.
using TIB_ReceiveDMLCacheEvent = std::function<void(TIB_Connection* Sender, const TIB_DMLCacheItem& Item)>;

// What the database reports about itself (isc_database_info).
struct TIB_ConnectCharacteristics {
  int32_t dbAllocation = 0;
  std::array<uint8_t, 2> dbBase_Level{};
  uint8_t dbDB_Id_Count = 0;
  std::string dbFile_Name;
  std::string dbSite_Name;
  std::array<uint8_t, 3> dbImplementation{};
  uint8_t dbNo_Reserve = 0;
  uint8_t dbForced_Writes = 0;
  uint16_t dbODS_Minor_Version = 0;
  uint16_t dbODS_Version = 0;
  uint16_t dbPage_Size = 0;
  uint8_t dbVersion_Count = 0;
  std::string dbVersion;
  int32_t dbSweep_Interval = 0;
  int32_t dbPage_Buffers = 0;
  int32_t dbSQL_Dialect = 0;
  uint8_t dbRead_Only = 0;
  int32_t dbSize_In_Pages = 0;
};

// Parses an isc_database_info reply of Length bytes into C. Each item is read by its own length and
// nothing past the reply is read; unknown items are skipped.
void ParseConnectCharacteristics(const char* Reply, size_t Length, TIB_ConnectCharacteristics& C);

// What a connection needs of a transaction registered with it (implemented by the transaction).
class TIB_ConnectionTransactionSite {
public:
  virtual ~TIB_ConnectionTransactionSite() = default;
  // Ends the transaction before its connection detaches.
  virtual void CloseForConnection() = 0;
  // The server connection of AConnection was found broken.
  virtual void ConnectionWasLost(TIB_Connection* AConnection) = 0;
  // AConnection is going away: the transaction drops it from its connections.
  virtual void RemoveConnection(TIB_Connection* AConnection) = 0;
  // The server transaction is started (it has a handle).
  virtual bool GetServerStarted() const = 0;
};

// What a connection needs of a statement registered with it (implemented by the statement).
class TIB_ConnectionStatementSite {
public:
  virtual ~TIB_ConnectionStatementSite() = default;
  // Releases the server statement before its connection detaches.
  virtual void DeallocateForConnection() = 0;
  // Finishes a preparation that waited for the connection's deferred attach at the end of loading.
  virtual void FinishDeferredPrepare() = 0;
};

// What a connection needs of a dataset registered with it (implemented by the dataset).
class TIB_ConnectionDatasetSite {
public:
  virtual ~TIB_ConnectionDatasetSite() = default;
  // Applies an Active setting that waited for the connection's deferred attach.
  virtual void ApplyDeferredActive() = 0;
};

// The connection's schema cache, as the connection drives it and as statements, datasets and the
// profiler ask it (implemented by the schema cache, dblib/schema/IB_SchemaCache.h). Names are taken
// quoted or exact; a lookup while disconnected finds nothing.
class TIB_ConnectionSchemaCache {
public:
  virtual ~TIB_ConnectionSchemaCache() = default;
  // The read-only transaction the cache's own queries run in.
  virtual TIB_Transaction* GetTransaction() = 0;
  virtual bool IsProcedure(const std::string& Name) = 0;
  // The domain of Relation.Field; empty for a procedure's column or when unknown.
  virtual std::string GetFieldSource(const std::string& Relation, const std::string& Field) = 0;
  // True when FIELD,RELATION is an item of the cache's list N (its required, defaulted or computed
  // columns: the list numbers of dblib/schema/IB_SchemaCache.h).
  virtual bool IsColumnListed(int N, const std::string& Relation, const std::string& Field) = 0;
  // Target receives RELATION.KEY items, the key columns of Relation in key order.
  virtual void GetTableKeys(const std::string& Relation, TStrings& Target) = 0;
  // Target receives the column names of Relation in their position order.
  virtual void GetTableFields(const std::string& Relation, TStrings& Target) = 0;
  // ID=NAME for every relation, views included. The list stays owned by the cache.
  virtual TIB_StringList* GetRelationsByID() = 0;
  // The default source text of the column Relation.Field ("DEFAULT 5"), else of its domain; empty when
  // neither has one. Names are the stored ones, without quotes.
  virtual std::string GetDefaultSource(const std::string& Relation, const std::string& Field) = 0;
  // The generator of the IDENTITY column Relation.Field, spelled for SQL; empty for any other column.
  // Names are the stored ones, without quotes.
  virtual std::string GetIdentityGenerator(const std::string& /*Relation*/, const std::string& /*Field*/) {
    return std::string();
  }
  virtual void ClearLoadedLists() = 0;
  virtual void DeleteCacheFiles() = 0;
  virtual const std::string& GetSchemaCacheDir() const = 0;
  virtual void SetSchemaCacheDir(const std::string& Dir) = 0;
  // Frees the cache's own statement handles before the handle cache is emptied.
  virtual void FreeCursors() = 0;
  // A DDL statement ran: what the cache holds is stale, and so is what it reads until the change is
  // committed.
  virtual void SchemaChanged() = 0;
  // Transaction committed (or rolled back) its work: a schema change in it is now seen by all.
  virtual void TransactionEnded(TIB_Component* Transaction) = 0;
};

// Receives the notices of a connection link owned by a transaction or statement.
class TIB_ConnectionNoticeReceiver {
public:
  virtual ~TIB_ConnectionNoticeReceiver() = default;
  virtual void ProcessConnectionEvent(TIB_ConnectionLink* Link, int32_t AEvent) = 0;
};

// Program names (file name without extension, compared ignoring case) of development environments that
// run the components while a form is designed: the login memory is neither read nor written inside them.
// Empty by default; a program that hosts such a designer fills it before any login.
extern std::vector<std::string> LoginMemorySkippedPrograms;

// Attaches one database. Owns its parameter list, column-default lists, statement-handle cache,
// internal descriptor blocks and (when a factory is installed) its schema cache. Links,
// transactions, statements and datasets are registered, not owned.
class TIB_Connection : public TIB_Component {
public:
  explicit TIB_Connection(TComponent* AOwner);
  ~TIB_Connection() override;
  void BeforeDestruction() override;
  void Loaded() override;
  void SetSession(TIB_Session* ASession) override;

  // Makes the schema cache of a new connection in place of the library's TIB_SchemaCache (for tests).
  static std::function<std::unique_ptr<TIB_ConnectionSchemaCache>(TIB_Connection*)> SchemaCacheFactory;

  // ---- parameters ----------------------------------------------------------------------------------
  TIB_StringList& GetParams() { return *FParams; }
  // Copies Value; while reading from a stored form, a "SERVER NAME" item is split into the parts.
  void SetParams(const TStrings& Value);
  // The list as a stored form keeps it: without the plain password items.
  void GetStoredParams(TStrings& Dest) const;

  std::string GetIndexedParam(int Index);
  void SetIndexedParam(int Index, const std::string& Value);
  std::string GetUsername() { return GetIndexedParam(1); }
  void SetUsername(const std::string& V) { SetIndexedParam(1, V); }
  std::string GetPassword() { return GetIndexedParam(2); }
  void SetPassword(const std::string& V) { SetIndexedParam(2, V); }
  std::string GetServer() { return GetIndexedParam(3); }
  void SetServer(const std::string& V) { SetIndexedParam(3, V); }
  std::string GetSQLRole() { return GetIndexedParam(4); }
  void SetSQLRole(const std::string& V) { SetIndexedParam(4, V); }
  std::string GetPath() { return GetIndexedParam(5); }
  void SetPath(const std::string& V) { SetIndexedParam(5, V); }
  std::string GetSysDBA() { return GetIndexedParam(7); }
  void SetSysDBA(const std::string& V) { SetIndexedParam(7, V); }
  std::string GetCharSet() { return GetIndexedParam(9); }
  void SetCharSet(const std::string& V) { SetIndexedParam(9, V); }
  std::string GetMessageFile() { return GetIndexedParam(10); }
  void SetMessageFile(const std::string& V) { SetIndexedParam(10, V); }

  TIB_Protocol GetProtocol() const;
  void SetProtocol(TIB_Protocol Value);
  TIB_DPBFlag GetForcedWrites() const { return GetFlag("FORCED WRITES", "TRUE", "FALSE"); }
  void SetForcedWrites(TIB_DPBFlag Value) { SetFlag("FORCED WRITES", "TRUE", "FALSE", Value); }
  TIB_DPBFlag GetReservePageSpace() const { return GetFlag("RESERVE PAGE SPACE", "TRUE", "FALSE"); }
  void SetReservePageSpace(TIB_DPBFlag Value) { SetFlag("RESERVE PAGE SPACE", "TRUE", "FALSE", Value); }
  TIB_DPBFlag GetDBKeyScope() const { return GetFlag("DB_KEY SCOPE", "CONNECTION", "TRANSACTION"); }
  void SetDBKeyScope(TIB_DPBFlag Value) { SetFlag("DB_KEY SCOPE", "CONNECTION", "TRANSACTION", Value); }
  // Page buffers, 0-255 (a larger stored value reads as 255).
  uint8_t GetBuffers() const;
  void SetBuffers(uint8_t Value);
  uint16_t GetPageSize();
  void SetPageSize(uint16_t Value);
  uint16_t GetSQLDialect();
  void SetSQLDialect(uint16_t Value);
  uint16_t GetSweepInterval();
  void SetSweepInterval(uint16_t Value);

  // ---- database name -------------------------------------------------------------------------------
  std::string GetDatabaseName() const;
  void SetDatabaseName(const std::string& Value);
  // True when DatabaseName holds an alias-style name (only then it is stored).
  bool IsDatabaseNameStored() const { return !FDatabaseName.empty(); }
  const std::string& GetAliasName() const { return FAliasName; }
  void SetAliasName(const std::string& Value);
  // The parameters of AliasName from the desktop engine's configuration (GetBDEAliasParams, unless a
  // reader is installed).
  TStrings& GetAliasParams();
  // Reads the parameters of an alias in place of GetBDEAliasParams (for tests).
  static std::function<void(const std::string& AliasName, TStrings& Params)> AliasParamsReader;

  // ---- login ---------------------------------------------------------------------------------------
  std::string GetLoginUsername();
  void SetLoginUsername(const std::string& Value);
  std::string GetLoginSQLRole();
  void SetLoginSQLRole(const std::string& Value);
  // The password scrambled with the key of "Software\Zindor\ZDB"; setting unscrambles.
  std::string GetSavedPassword();
  void SetSavedPassword(const std::string& Value);
  bool IsSavedPasswordStored() const { return FPasswordRemembered; }
  // One login attempt: OnLogin, else the login dialog; sets LoginAborted when the user cancels.
  void DoLogin();
  void DoLoginFailure();

  // The login's settings: the dialog's caption, the roles it offers (a comma list), the prefixes the
  // dialog hides from user and role names, the settings key of the login memory ("%DEFAULT%": the
  // program's own), whether connecting asks at all, how often it asks, a read-only database box and a
  // help context.
  const std::string& GetLoginCaption() const { return FLoginCaption; }
  void SetLoginCaption(const std::string& V) { FLoginCaption = V; }
  const std::string& GetLoginSQLRoleList() const { return FLoginSQLRoleList; }
  void SetLoginSQLRoleList(const std::string& V) { FLoginSQLRoleList = V; }
  const std::string& GetLoginSQLRolePrefix() const { return FLoginSQLRolePrefix; }
  void SetLoginSQLRolePrefix(const std::string& V) { FLoginSQLRolePrefix = V; }
  const std::string& GetLoginUsernamePrefix() const { return FLoginUsernamePrefix; }
  void SetLoginUsernamePrefix(const std::string& V) { FLoginUsernamePrefix = V; }
  const std::string& GetLoginRegKey() const { return FLoginRegKey; }
  void SetLoginRegKey(const std::string& V) { FLoginRegKey = V; }
  bool GetLoginPrompt() const { return FLoginPrompt; }
  void SetLoginPrompt(bool V) { FLoginPrompt = V; }
  uint16_t GetLoginAttempts() const { return FLoginAttempts; }
  void SetLoginAttempts(uint16_t V) { FLoginAttempts = V; }
  bool GetLoginDBReadOnly() const { return FLoginDBReadOnly; }
  void SetLoginDBReadOnly(bool V) { FLoginDBReadOnly = V; }
  int32_t GetLoginHelpContext() const { return FLoginHelpContext; }
  void SetLoginHelpContext(int32_t V) { FLoginHelpContext = V; }
  bool GetLoginAborted() const { return FLoginAborted; }
  bool GetPasswordRemembered() const { return FPasswordRemembered; }
  void SetPasswordRemembered(bool V) { FPasswordRemembered = V; }

  // Builds the parameter block of an attach (items of this connection, then OnCustomizeDPB).
  std::string BuildDPB(const std::string& User, const std::string& Password, const std::string& Role);

  // ---- lifecycle -----------------------------------------------------------------------------------
  bool GetConnected() const { return FHandle != 0; }
  void SetConnected(bool Value);
  bool IsConnectedStored();
  void Connect() { Perform(cnConnectCommand); }
  void Disconnect() { Perform(cnDisconnectCommand); }
  void CreateDatabase();
  void DropDatabase();
  // Takes a numbered notification (cnConnect ... cnCheckConnection).
  void Perform(int32_t Code);
  // Attaches with the full sequence of events and notices; FromSQLConnect marks an attach on behalf
  // of an SQL CONNECT statement. Statements that need their connection attached call this.
  bool SysConnect(bool FromSQLConnect);
  void SysDisconnect();
  uint8_t GetConnectionStatus() const { return FStatus; }
  isc_db_handle* GetdbHandle() { return &FHandle; }
  bool GetConnectionWasLost() const { return FLost; }

  TIB_ConnectCharacteristics GetCharacteristics();
  // How many of the transactions on this connection are started at the server: one more at each
  // start, one less at each commit or rollback that ends one.
  int32_t GetStartedTransactionCount() const;

  // ---- statement handles ---------------------------------------------------------------------------
  void AcquireStatementHandle(isc_stmt_handle& Handle);
  void ReleaseStatementHandle(isc_stmt_handle& Handle);
  void FlushStatementHandleCache(int32_t KeepCount);
  bool GetCacheStatementHandles() const { return FCacheStatementHandles; }
  void SetCacheStatementHandles(bool Value);
  int32_t GetStatementHandleCacheCount() const { return static_cast<int32_t>(FHandleCache.size()); }
  int32_t GetStatementHandleCacheCapacity() const { return FHandleCacheCapacity; }

  // ---- lost connection and DDL ---------------------------------------------------------------------
  void CheckConnection();
  void ConnectionLost();
  void SysBeforeExecDDL();
  void SysAfterExecDDL();
  // After a failed DDL statement: the caches only (schema, statement handles), no notice or event.
  void SysAfterExecDDLQuietly() noexcept;

  // ---- focus ---------------------------------------------------------------------------------------
  void SetFocus();
  bool GetAnnounceFocus() const override { return FAnnounceFocus; }
  virtual void SetAnnounceFocus(bool Value) { FAnnounceFocus = Value; }
  void DoGainFocus() override;
  void DoLoseFocus() override;

  // ---- registries ----------------------------------------------------------------------------------
  void RegisterTransaction(TIB_ConnectionTransactionSite* T);
  void UnregisterTransaction(TIB_ConnectionTransactionSite* T);
  void RegisterStatement(TIB_ConnectionStatementSite* S);
  void UnregisterStatement(TIB_ConnectionStatementSite* S);
  void RegisterDataset(TIB_ConnectionDatasetSite* D);
  void UnregisterDataset(TIB_ConnectionDatasetSite* D);
  int32_t Get_ConnectionLinkCount() const { return static_cast<int32_t>(FLinks.size()); }
  int32_t Get_TransactionCount() const { return static_cast<int32_t>(FTransactions.size()); }
  int32_t Get_StatementCount() const { return static_cast<int32_t>(FStatements.size()); }
  int32_t Get_DatasetCount() const { return static_cast<int32_t>(FDatasets.size()); }
  TIB_ConnectionLink* GetConnectionLink(int32_t Index) const;
  TIB_ConnectionTransactionSite* GetTransaction(int32_t Index) const;
  TIB_ConnectionStatementSite* GetStatement(int32_t Index) const;
  TIB_ConnectionDatasetSite* GetDataset(int32_t Index) const;

  // ---- connection-wide defaults for datasets and columns --------------------------------------------
  TIB_StringProperty& GetColumnAttributes() { return FDefaults[0]; }
  TIB_StringProperty& GetDefaultValues() { return FDefaults[1]; }
  TIB_StringProperty& GetFieldsAlignment() { return FDefaults[2]; }
  TIB_StringProperty& GetFieldsCharCase() { return FDefaults[3]; }
  TIB_StringProperty& GetFieldsDisplayLabel() { return FDefaults[4]; }
  TIB_StringProperty& GetFieldsGridLabel() { return FDefaults[5]; }
  TIB_StringProperty& GetFieldsDisplayFormat() { return FDefaults[6]; }
  TIB_StringProperty& GetFieldsDisplayWidth() { return FDefaults[7]; }
  TIB_StringProperty& GetFieldsEditMask() { return FDefaults[8]; }
  TIB_StringProperty& GetFieldsReadOnly() { return FDefaults[9]; }
  TIB_StringProperty& GetFieldsTrimming() { return FDefaults[10]; }
  TIB_StringProperty& GetFieldsVisible() { return FDefaults[11]; }
  TIB_StringProperty& GetGeneratorLinks() { return FDefaults[12]; }
  void SetColumnAttributes(const TStrings& V) { FDefaults[0].Assign(V); }
  void SetDefaultValues(const TStrings& V) { FDefaults[1].Assign(V); }
  void SetFieldsAlignment(const TStrings& V) { FDefaults[2].Assign(V); }
  void SetFieldsCharCase(const TStrings& V) { FDefaults[3].Assign(V); }
  void SetFieldsDisplayLabel(const TStrings& V) { FDefaults[4].Assign(V); }
  void SetFieldsGridLabel(const TStrings& V) { FDefaults[5].Assign(V); }
  void SetFieldsDisplayFormat(const TStrings& V) { FDefaults[6].Assign(V); }
  void SetFieldsDisplayWidth(const TStrings& V) { FDefaults[7].Assign(V); }
  void SetFieldsEditMask(const TStrings& V) { FDefaults[8].Assign(V); }
  void SetFieldsReadOnly(const TStrings& V) { FDefaults[9].Assign(V); }
  void SetFieldsTrimming(const TStrings& V) { FDefaults[10].Assign(V); }
  void SetFieldsVisible(const TStrings& V) { FDefaults[11].Assign(V); }
  void SetGeneratorLinks(const TStrings& V) { FDefaults[12].Assign(V); }

  char EscapeCharacter = '\\';
  TIB_FieldEntryTypes FieldEntryTypes = 0;
  bool DefaultNoCase = false;
  bool DefaultNoTrailing = false;
  bool KeepConnection = true;
  const std::string& GetSchemaCacheDir() const {
    return FSchemaCache ? FSchemaCache->GetSchemaCacheDir() : FSchemaCacheDir;
  }
  void SetSchemaCacheDir(const std::string& Value) {
    if (FSchemaCache)
      FSchemaCache->SetSchemaCacheDir(Value);
    else
      FSchemaCacheDir = Value;
  }
  TIB_ConnectionSchemaCache* GetSchemaCache() const { return FSchemaCache.get(); }

  TIB_Component* GetDefaultTransaction() const { return FDefaultTransaction; }
  virtual void SetDefaultTransaction(TIB_Component* Value);

  TDateTime GetLastActivity() const { return FLastActivity; }
  TDateTime GetLastDisconnect() const { return FLastDisconnect; }
  TDateTime GetLastConnect() const { return FLastConnect; }

  // Descriptor blocks of 2 and 5 variables for the connection's internal queries.
  XSQLDA* GetInternalSQLDA2() { return reinterpret_cast<XSQLDA*>(FSQLDA2.data()); }
  XSQLDA* GetInternalSQLDA5() { return reinterpret_cast<XSQLDA*>(FSQLDA5.data()); }

  // The soundex text of Value for searches: OnSoundExParse, else SoundexCode in decimal.
  void DoSoundExParse(const std::string& Value, std::string& Result);
  void DoSoundExMaxParse(const std::string& Value, std::string& Result);
  void DoProcessSearchBuffer(TIB_Column* IB_Field, std::string& SearchBuffer, TStrings* WhereClause,
                             TStrings* Parameters, TStrings* Macros, bool& DefaultHandling);
  // Fires OnReceiveDMLCache; the DML cache calls it for each notice it delivers on this connection.
  void DoReceiveDMLCache(const TIB_DMLCacheItem& Item);

  // ---- events --------------------------------------------------------------------------------------
  TIB_ConnectionEvent BeforeExecDDL, AfterExecDDL, BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect,
      BeforeCreateDatabase, AfterCreateDatabase, BeforeDropDatabase, AfterDropDatabase, OnConnectedChanged,
      OnLoginFailure, OnGainFocus, OnLoseFocus;
  TIB_LoginEvent OnLogin;
  TIB_CustomizeDPBEvent OnCustomizeDPB;
  TIB_ProcessSearchBuffer OnProcessSearchBuffer;
  TIB_SoundExParse OnSoundExParse, OnSoundExMaxParse;
  TIB_CompareTextEvent OnCustomCompareText, OnCustomCompareStr;
  TIB_ReceiveDMLCacheEvent OnReceiveDMLCache;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // One attach attempt (with status csCreatingDatabase: create first). Sends no notices.
  void ConnectCore();
  void DisconnectCore();
  void SysCreateDatabase();
  void SysDropDatabase();

private:
  friend class TIB_ConnectionLink;

  TIB_DPBFlag GetFlag(const char* Item, const char* TrueText, const char* FalseText) const;
  void SetFlag(const char* Item, const char* TrueText, const char* FalseText, TIB_DPBFlag Value);
  void CheckNotConnected();
  void SplitDatabaseName(const std::string& Value);
  bool CanFireEvents() const;
  void Fire(const TIB_ConnectionEvent& Event);
  void SendLinkNotice(int32_t AEvent);
  void BeforeConnectStep();
  void AfterConnectStep();
  void AfterCreateStep();
  // Runs the closing Step of an attach; when it raises, the connection detaches before the error passes.
  void FinishConnect(void (TIB_Connection::*Step)());
  // The characteristics while attached, read on first use. Nullptr when they cannot be known without
  // asking a server that is going or gone (detaching, dropping, lost): callers then use their settings.
  const TIB_ConnectCharacteristics* KnownCharacteristics();
  void BeforeDisconnectStep();
  void AfterDisconnectStep();
  void LoginLoop();
  bool LoginRegistryAllowed() const;
  std::string LoginRegistryKey() const;
  void WriteLoginMemory();
  void ReadCharacteristics();
  void FreeStatementHandle(isc_stmt_handle& Handle);
  void AddLink(TIB_ConnectionLink* Link);
  void RemoveLink(TIB_ConnectionLink* Link);

  std::unique_ptr<TIB_StringList> FParams;
  bool FPasswordRemembered = false;
  std::string FLoginCaption;
  std::string FLoginSQLRoleList;
  std::string FLoginSQLRolePrefix;
  std::string FLoginUsernamePrefix;
  std::string FLoginRegKey;
  bool FLoginPrompt = false;
  uint16_t FLoginAttempts = 3;
  bool FLoginDBReadOnly = false;
  int32_t FLoginHelpContext = 0;
  bool FAnnounceFocus = false;
  bool FLoginAborted = false;
  bool FRegistryUsed = false;
  std::string FDatabaseName;
  std::string FAliasName;
  std::unique_ptr<TStringList> FAliasParams;

  std::unique_ptr<TIB_ConnectionSchemaCache> FSchemaCache;
  std::string FSchemaCacheDir;
  std::array<TIB_StringProperty, 13> FDefaults;
  bool FStreamedConnected = false;
  isc_db_handle FHandle = 0;
  std::vector<TIB_ConnectionTransactionSite*> FTransactions;
  std::vector<TIB_ConnectionStatementSite*> FStatements;
  std::vector<TIB_ConnectionDatasetSite*> FDatasets;
  std::vector<TIB_ConnectionLink*> FLinks;
  uint8_t FStatus = csNotConnected;
  std::vector<isc_stmt_handle> FHandleCache;
  int32_t FHandleCacheCapacity = 0;
  bool FCacheStatementHandles = true;
  std::vector<char> FSQLDA2, FSQLDA5;
  TIB_Component* FDefaultTransaction = nullptr;
  TDateTime FLastActivity = 0, FLastDisconnect = 0, FLastConnect = 0;
  TIB_ConnectCharacteristics FCharacteristics;
  bool FCharacteristicsRead = false;
  bool FLost = false;
};

// Brackets a DDL statement on a connection (which may be nil): SysBeforeExecDDL now, SysAfterExecDDL
// (its notices and events) at End() on the normal path, its error reaching the caller. Left by an
// exception, the bracket only puts the connection's caches right: the schema may have changed, the
// statement handles are flushed; no event is sent.
class [[nodiscard]] TIB_ExecDDLBracket {
public:
  explicit TIB_ExecDDLBracket(TIB_Connection* AConnection);
  ~TIB_ExecDDLBracket();
  TIB_ExecDDLBracket(const TIB_ExecDDLBracket&) = delete;
  TIB_ExecDDLBracket& operator=(const TIB_ExecDDLBracket&) = delete;
  void End();

private:
  TIB_Connection* FConnection;
  TIB_AliveFlag FAlive;
};

// Adds one string item to a parameter block: the item byte, the length byte and the text. Buffer is
// cut to Length first; Length becomes the new length. An empty Value adds nothing; a Value over 255
// bytes raises EIB_ConnectionError "Invalid DPB: Contents over 255 characters".
void AddDPBString(int32_t& Length, std::string& Buffer, const std::string& Value, uint8_t Item);

// Follows one connection: receives its notices and, with ReceiveFocus, the session's focused
// connection. Not owned by the connection.
class TIB_ConnectionLink : public TIB_Component {
public:
  explicit TIB_ConnectionLink(TComponent* AOwner);
  ~TIB_ConnectionLink() override;
  void BeforeDestruction() override;
  void Loaded() override;
  void SetSession(TIB_Session* ASession) override;

  TIB_Connection* GetIB_Connection() const { return FConnection; }
  void SetIB_Connection(TIB_Connection* Value);
  bool GetReceiveFocus() const override { return FReceiveFocus; }
  void SetReceiveFocus(bool Value);
  void DoReceiveFocus(TIB_Component* AFocused) override;

  // Takes a notice of the connection (cevLinkLeaving ... cevAfterDropDatabase).
  virtual void ProcessEvent(int32_t AEvent);

  TIB_ConnectionLinkEvent OnReceiveFocus;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  void TakeFocusedConnection();

  TIB_Connection* FConnection = nullptr;
  bool FReceiveFocus = false;
};

// The connection link of a transaction or a statement: passes every notice to its receiver.
class TIB_ConnectionReceiverLink : public TIB_ConnectionLink {
public:
  TIB_ConnectionReceiverLink(TComponent* AOwner, TIB_ConnectionNoticeReceiver* Receiver)
      : TIB_ConnectionLink(AOwner), FReceiver(Receiver) {}
  void ProcessEvent(int32_t AEvent) override;
  TIB_ConnectionNoticeReceiver* GetReceiver() const { return FReceiver; }

private:
  TIB_ConnectionNoticeReceiver* FReceiver;
};

class TIB_ConnectionTransactionLink : public TIB_ConnectionReceiverLink {
public:
  using TIB_ConnectionReceiverLink::TIB_ConnectionReceiverLink;
};

class TIB_ConnectionStatementLink : public TIB_ConnectionReceiverLink {
public:
  using TIB_ConnectionReceiverLink::TIB_ConnectionReceiverLink;
};
