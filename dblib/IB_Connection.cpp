// TIB_Connection: construction, attach and detach, create and drop, notices, characteristics, the
// statement-handle cache, lost connections, focus and registries; TIB_ConnectionLink.
#include "dblib/IB_Connection.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Utils.h"
#include "dblib/schema/IB_SchemaCache.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

constexpr isc_stmt_handle kReleasedHandle = static_cast<isc_stmt_handle>(~0u);

// Serialises attaching across the process.
std::mutex& AttachLock() {
  static std::mutex m;
  return m;
}

std::vector<char> MakeSQLDA(int N) {
  std::vector<char> raw(XSQLDA_LENGTH(N), 0);
  XSQLDA* d = reinterpret_cast<XSQLDA*>(raw.data());
  d->version = SQLDA_VERSION1;
  d->sqln = static_cast<ISC_SHORT>(N);
  return raw;
}

int32_t ReadLE(const unsigned char* P, size_t Len) {
  uint32_t v = 0;
  for (size_t i = 0; i < Len && i < 4; ++i) v |= uint32_t{P[i]} << (8 * i);
  if (Len == 1) return static_cast<int8_t>(v);
  if (Len == 2) return static_cast<int16_t>(v);
  return static_cast<int32_t>(v);
}

}  // namespace

std::function<std::unique_ptr<TIB_ConnectionSchemaCache>(TIB_Connection*)> TIB_Connection::SchemaCacheFactory;

// ---- construction ----------------------------------------------------------------------------------------

TIB_Connection::TIB_Connection(TComponent* AOwner)
    : TIB_Component(AOwner), FParams(std::make_unique<TIB_StringList>()), FSQLDA2(MakeSQLDA(2)), FSQLDA5(MakeSQLDA(5)) {
  FSchemaCache = SchemaCacheFactory ? SchemaCacheFactory(this) : std::make_unique<TIB_SchemaCache>(this);
  FLastActivity = FLastDisconnect = Now();
  if (TIB_Session* s = GetBoundSession(); s && !IsInternal()) {
    JoinSessionRegistry(srConnections);
    if (!s->GetDefaultConnection()) s->SetDefaultConnection(this);
  }
}

TIB_Connection::~TIB_Connection() = default;

void TIB_Connection::BeforeDestruction() {
  IncludeState(csDestroying);
  // The cache's cursors and transaction go while the connection is whole.
  FSchemaCache.reset();
  for (TIB_ConnectionTransactionSite* t : std::vector(FTransactions)) RunReported([&] { t->CloseForConnection(); });
  RunReported([&] { SysDisconnect(); });
  for (TIB_ConnectionTransactionSite* t : std::vector(FTransactions)) t->RemoveConnection(this);
  FTransactions.clear();
  for (TIB_ConnectionLink* l : std::vector(FLinks)) RunReported([&] { l->SetIB_Connection(nullptr); });
  FLinks.clear();
  if (FDefaultTransaction) FDefaultTransaction->RemoveFreeNotification(this);
  FDefaultTransaction = nullptr;
  TIB_Component::BeforeDestruction();
}

void TIB_Connection::SetSession(TIB_Session* ASession) {
  TIB_Session* old = GetBoundSession();
  if (ASession == old) return;
  if (old && !IsInternal()) {
    if (old->GetFocusedConnection() == this) old->SetFocusedConnection(nullptr);
    if (old->GetDefaultConnection() == this) old->SetDefaultConnection(nullptr);
    LeaveSessionRegistry(srConnections);
  }
  TIB_Component::SetSession(ASession);
  if (ASession && !IsInternal()) {
    JoinSessionRegistry(srConnections);
    if (!ASession->GetDefaultConnection()) ASession->SetDefaultConnection(this);
  }
}

void TIB_Connection::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_Component::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FDefaultTransaction) FDefaultTransaction = nullptr;
}

void TIB_Connection::SetDefaultTransaction(TIB_Component* Value) {
  if (Value == FDefaultTransaction) return;
  if (FDefaultTransaction) FDefaultTransaction->RemoveFreeNotification(this);
  FDefaultTransaction = Value;
  if (Value) Value->FreeNotification(this);
}

void TIB_Connection::Loaded() {
  TIB_Component::Loaded();
  if (!FStreamedConnected) return;
  // The stored form is loaded all the same: a failure is reported and the connection stays detached.
  // Their handlers may destroy the connection (the walks then end with the silent abort) or other
  // statements and datasets (those left the lists and are skipped).
  const TIB_AliveFlag alive = FAlive;
  RunReported([&] {
    if (SysConnect(false)) {
      FStreamedConnected = false;
      for (TIB_ConnectionStatementSite* s : std::vector(FStatements)) {
        if (std::find(FStatements.begin(), FStatements.end(), s) == FStatements.end()) continue;
        s->FinishDeferredPrepare();
        IB_CheckAlive(alive);
      }
      for (TIB_ConnectionDatasetSite* d : std::vector(FDatasets)) {
        if (std::find(FDatasets.begin(), FDatasets.end(), d) == FDatasets.end()) continue;
        d->ApplyDeferredActive();
        IB_CheckAlive(alive);
      }
    }
  });
}

// ---- events and notices ------------------------------------------------------------------------------------

bool TIB_Connection::CanFireEvents() const { return !IsDestroying() && !HasState(csDestroying); }

// A handler that destroyed the connection ends the running step with the silent abort.
void TIB_Connection::Fire(const TIB_ConnectionEvent& Event) {
  if (Event && CanFireEvents()) CallOut(Event, this);
}

// A link's notice may destroy the connection (and with it the list): the walk then ends with the silent
// abort. Links that left the list meanwhile (their owner destroyed) are skipped.
void TIB_Connection::SendLinkNotice(int32_t AEvent) {
  const TIB_AliveFlag alive = FAlive;
  const std::vector<TIB_ConnectionLink*> snapshot(FLinks);
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    if (std::find(FLinks.begin(), FLinks.end(), *it) == FLinks.end()) continue;
    (*it)->ProcessEvent(AEvent);
    IB_CheckAlive(alive);
  }
}

void TIB_Connection::AddLink(TIB_ConnectionLink* Link) {
  if (std::find(FLinks.begin(), FLinks.end(), Link) == FLinks.end()) FLinks.push_back(Link);
}

void TIB_Connection::RemoveLink(TIB_ConnectionLink* Link) { std::erase(FLinks, Link); }

// ---- connect -------------------------------------------------------------------------------------------------

void TIB_Connection::SetConnected(bool Value) {
  if (HasState(csLoading)) {
    if (Value) SysConnect(false);
    return;
  }
  TIB_BusyBracket busy(this);
  if (Value)
    SysConnect(false);
  else
    SysDisconnect();
  busy.End();
}

bool TIB_Connection::IsConnectedStored() {
  TIB_Session* s = GetBoundSession();
  return s && s->GetStoreActive() && GetConnected();
}

void TIB_Connection::BeforeConnectStep() {
  if (FStatus != csSQLConnecting) FStatus = csConnecting;
  Fire(BeforeConnect);
  SendLinkNotice(cevBeforeConnect);
}

void TIB_Connection::AfterConnectStep() {
  if (FRegistryUsed) WriteLoginMemory();
  FStatus = csConnected;
  FCharacteristicsRead = false;
  if (FSchemaCache) FSchemaCache->ClearLoadedLists();
  SendLinkNotice(cevConnectedChanged);
  SendLinkNotice(cevAfterConnect);
  Fire(OnConnectedChanged);
  Fire(AfterConnect);
}

bool TIB_Connection::SysConnect(bool FromSQLConnect) {
  if (GetConnected()) return true;
  FRegistryUsed = false;
  if (HasState(csLoading)) {
    FStatus = csConnecting;
    FStreamedConnected = true;
    return false;
  }
  if (FromSQLConnect) FStatus = csSQLConnecting;
  BeforeConnectStep();
  if (FromSQLConnect || !FLoginPrompt)
    ConnectCore();
  else
    LoginLoop();
  if (GetConnected()) FinishConnect(&TIB_Connection::AfterConnectStep);
  return GetConnected();
}

void TIB_Connection::FinishConnect(void (TIB_Connection::*Step)()) {
  const TIB_AliveFlag alive = FAlive;
  try {
    (this->*Step)();
  } catch (...) {
    // A connect that raises leaves the connection detached (a server that died right after the attach
    // fails the first request of a follower): what got attached is let go again, unless a handler
    // destroyed the connection (its destruction detached it).
    if (alive.Get()) RunReported([&] { SysDisconnect(); });
    throw;
  }
}

void TIB_Connection::ConnectCore() {
  if (GetConnected()) return;
  FAliasParams.reset();
  TIB_Session* session = GetSession();
  std::string name = FParams->GetValue("FORCED_DATABASE");
  if (name.empty()) name = GetDatabaseName();
  if (Trim(name).empty()) {
    std::string serverName = FParams->GetValue("SERVER NAME");
    if (!serverName.empty()) {
      FParams->SetValue("SERVER NAME", "");
      SplitDatabaseName(serverName);
      name = GetDatabaseName();
    } else if (!FAliasName.empty()) {
      name = Trim(GetAliasParams().GetValue("SERVER NAME"));
    }
  }
  std::string user = Trim(GetUsername()), password = GetPassword(), role = GetSQLRole();
  if (!FAliasName.empty()) {
    TStrings& alias = GetAliasParams();
    if (user.empty()) user = Trim(alias.GetValue("USER NAME"));
    if (password.empty()) password = Trim(alias.GetValue("PASSWORD"));
    if (role.empty()) role = Trim(alias.GetValue("ROLE NAME"));
  }
  if (Trim(name).empty()) {
    // The client library of Firebird 3 no longer reads ISC_DATABASE itself.
    name = GetEnvVar("ISC_DATABASE");
    if (Trim(name).empty()) IB_Raise<EIB_ConnectionError>(IBMsg::DatabaseNameCannotBeBlank);
  }
  {
    std::string path = GetPath();
    bool quoted = false;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
      if (path[i] == '"') quoted = !quoted;
      if (!quoted && path[i] == ':' && path[i + 1] != '/' && path[i + 1] != '\\')
        IB_Raise<EIB_ConnectionError>(IBMsg::InvalidConnectionPath);
    }
  }
  // The file name ends up a C string for the engine and the system, and the parameter block's texts
  // are names the engine reads as C strings: a NUL would silently cut any of them short.
  IB_CheckNoNul<EIB_ConnectionError>(name, "The database name");
  IB_CheckNoNul<EIB_ConnectionError>(user, "The user name");
  IB_CheckNoNul<EIB_ConnectionError>(password, "The password");
  IB_CheckNoNul<EIB_ConnectionError>(role, "The role name");
  IB_CheckNoNul<EIB_ConnectionError>(GetCharSet(), "The character set");
  IB_CheckNoNul<EIB_ConnectionError>(GetSysDBA(), "The system user name");
  IB_CheckNoNul<EIB_ConnectionError>(GetMessageFile(), "The message file");
  // A create whose error a handler suppressed made no database: nothing to attach to.
  if (FStatus == csCreatingDatabase && !session->CreateDatabase(name, user, password, GetPageSize(), GetCharSet(),
                                                                static_cast<int16_t>(GetSQLDialect())))
    return;
  std::string dpb = BuildDPB(user, password, role);
  if (dpb.size() > 32767) IB_Raise<EIB_ConnectionError>(IBMsg::InvalidDPBLength, {int64_t(dpb.size()), int64_t{32767}});
  // Passed with its length (a name too long to count goes as the C string it can be: it holds no NUL).
  const auto nameLength = static_cast<short>(name.size() <= 32767 ? name.size() : 0);
  ISC_STATUS result;
  {
    std::lock_guard<std::mutex> lock(AttachLock());
    result = session->Call(session->Entries.isc_attach_database, nameLength, name.c_str(), &FHandle,
                           static_cast<short>(dpb.size()), dpb.data());
  }
  if (result == 0)
    FLastConnect = Now();
  else {
    FHandle = 0;
    session->HandleISCError(this);
  }
  FLost = false;
  FLastActivity = Now();
}

// ---- disconnect ----------------------------------------------------------------------------------------------

void TIB_Connection::BeforeDisconnectStep() {
  FStatus = csDisconnecting;
  // Every part runs even when an earlier one fails: a detach that follows must not leave transactions,
  // statements or cached statement handles behind on the gone attachment. The first failure is raised
  // at the end (the silent abort of a part whose handler destroyed a transaction or dataset too). A
  // part whose handler destroyed the connection ends the step with the silent abort at once.
  const TIB_AliveFlag alive = FAlive;
  std::exception_ptr failure;
  auto attempt = [&failure, &alive](auto&& Part) {
    try {
      Part();
    } catch (...) {
      IB_CheckAlive(alive);
      if (failure)
        ReportException(std::current_exception());
      else
        failure = std::current_exception();
    }
    IB_CheckAlive(alive);
  };
  attempt([&] { Fire(BeforeDisconnect); });
  for (size_t i = 0; i < FTransactions.size();) {
    TIB_ConnectionTransactionSite* t = FTransactions[i];
    attempt([&] { t->CloseForConnection(); });
    // Closing may change the list: start again from the first when the item here changed.
    i = (i < FTransactions.size() && FTransactions[i] == t) ? i + 1 : 0;
  }
  for (TIB_ConnectionStatementSite* s : std::vector(FStatements)) {
    if (std::find(FStatements.begin(), FStatements.end(), s) != FStatements.end())
      attempt([&] { s->DeallocateForConnection(); });
  }
  attempt([&] { FlushStatementHandleCache(0); });
  attempt([&] { SendLinkNotice(cevBeforeDisconnect); });
  if (failure) std::rethrow_exception(failure);
}

void TIB_Connection::AfterDisconnectStep() {
  FStatus = csNotConnected;
  if (FSchemaCache) FSchemaCache->ClearLoadedLists();
  SendLinkNotice(cevConnectedChanged);
  SendLinkNotice(cevAfterDisconnect);
  Fire(OnConnectedChanged);
  Fire(AfterDisconnect);
}

void TIB_Connection::DisconnectCore() {
  TIB_Session* session = GetSession();
  if (FLost) {
    // The server side is gone; detaching still frees the client's handle.
    if (session->Entries.isc_detach_database)
      TIB_SessionBase::CallScratch(session->Entries.isc_detach_database, &FHandle);
  } else if (FStatus == csDroppingDatabase) {
    if (session->Call(session->Entries.isc_drop_database, &FHandle) != 0) {
      // The database is still there and still attached (in use by others, say).
      FStatus = csConnected;
      session->HandleISCError(this);
      return;
    }
  } else if (session->Entries.isc_detach_database) {
    // A failed detach must not keep the component attached; its status is not the caller's concern.
    TIB_SessionBase::CallScratch(session->Entries.isc_detach_database, &FHandle);
  }
  FHandle = 0;
  FLastDisconnect = Now();
}

void TIB_Connection::SysDisconnect() {
  if (!GetConnected()) return;
  const TIB_AliveFlag alive = FAlive;
  std::exception_ptr failure;
  try {
    BeforeDisconnectStep();
  } catch (...) {
    // Detach all the same; the failure is raised once the connection is down. A connection a handler
    // destroyed was detached by its destruction: nothing of it is touched.
    IB_CheckAlive(alive);
    failure = std::current_exception();
  }
  FStatus = csDisconnecting;
  DisconnectCore();
  try {
    AfterDisconnectStep();
  } catch (...) {
    IB_CheckAlive(alive);
    if (failure)
      ReportException(std::current_exception());
    else
      failure = std::current_exception();
  }
  FStatus = csNotConnected;
  if (failure) std::rethrow_exception(failure);
}

// ---- create and drop -----------------------------------------------------------------------------------------

void TIB_Connection::CreateDatabase() {
  if (GetConnected()) IB_Raise<EIB_ConnectionError>(IBMsg::ConnectionHasAlreadyBeenEstablished);
  TIB_BusyBracket busy(this);
  SysCreateDatabase();
  busy.End();
}

void TIB_Connection::DropDatabase() {
  if (!GetConnected()) IB_Raise<EIB_ConnectionError>(IBMsg::ConnectionHasNotBeenEstablished);
  TIB_BusyBracket busy(this);
  SysDropDatabase();
  busy.End();
}

void TIB_Connection::SysCreateDatabase() {
  if (GetConnected()) return;
  FRegistryUsed = false;
  BeforeConnectStep();
  FStatus = csCreatingDatabase;
  Fire(BeforeCreateDatabase);
  SendLinkNotice(cevBeforeCreateDatabase);
  // A later attach attempt must not create again.
  TIB_AliveExit notCreating(FAlive, [this] {
    if (FStatus == csCreatingDatabase) FStatus = csConnecting;
  });
  ConnectCore();
  // Refused with the error suppressed by a handler: nothing was created, nothing is announced.
  if (!GetConnected()) return;
  FStatus = csConnected;
  FinishConnect(&TIB_Connection::AfterCreateStep);
}

void TIB_Connection::AfterCreateStep() {
  SendLinkNotice(cevAfterCreateDatabase);
  Fire(AfterCreateDatabase);
  AfterConnectStep();
}

void TIB_Connection::SysDropDatabase() {
  if (!GetConnected()) return;
  {
    // A drop that fails, or is refused with the error suppressed by a handler, leaves the connection
    // attached and usable: nothing was dropped.
    TIB_AliveExit stillAttached(FAlive, [this] {
      if (GetConnected()) FStatus = csConnected;
    });
    BeforeDisconnectStep();
    FStatus = csDroppingDatabase;
    Fire(BeforeDropDatabase);
    SendLinkNotice(cevBeforeDropDatabase);
    DisconnectCore();
  }
  if (GetConnected()) return;
  AfterDisconnectStep();
  SendLinkNotice(cevAfterDropDatabase);
  Fire(AfterDropDatabase);
}

// ---- numbered notifications ----------------------------------------------------------------------------------

void TIB_Connection::Perform(int32_t Code) {
  switch (Code) {
    case cnConnect:
      if (!GetConnected()) {
        TIB_BusyBracket busy(this);
        SysConnect(false);
        busy.End();
      } else {
        SendLinkNotice(cevConnectedChanged);
      }
      break;
    case cnDisconnect:
      if (GetConnected()) {
        TIB_BusyBracket busy(this);
        SysDisconnect();
        busy.End();
      } else {
        SendLinkNotice(cevConnectedChanged);
      }
      break;
    case cnConnectCommand: Perform(cnConnect); break;
    case cnDisconnectCommand: Perform(cnDisconnect); break;
    case cnCreateDatabase: CreateDatabase(); break;
    case cnDropDatabase: DropDatabase(); break;
    case cnSetFocus: SetFocus(); break;
    case cnCheckConnection: CheckConnection(); break;
    default: break;
  }
}

// ---- characteristics -----------------------------------------------------------------------------------------

void ParseConnectCharacteristics(const char* Reply, size_t Length, TIB_ConnectCharacteristics& C) {
  const auto* p = reinterpret_cast<const unsigned char*>(Reply);
  size_t i = 0;
  // A counted string at Pos within the item's value of Len bytes.
  auto counted = [&](const unsigned char* V, size_t Len, size_t& Pos, std::string& Out) {
    if (Pos >= Len) return;
    size_t n = std::min<size_t>(V[Pos], Len - Pos - 1);
    Out.assign(reinterpret_cast<const char*>(V + Pos + 1), n);
    Pos += 1 + n;
  };
  while (i < Length) {
    unsigned char code = p[i];
    if (code == isc_info_end || code == isc_info_truncated) break;
    if (i + 3 > Length) break;
    size_t len = static_cast<size_t>(p[i + 1]) | static_cast<size_t>(p[i + 2]) << 8;
    const unsigned char* v = p + i + 3;
    if (i + 3 + len > Length) break;
    switch (code) {
      case isc_info_allocation: C.dbAllocation = ReadLE(v, len); break;
      case isc_info_base_level:
        for (size_t k = 0; k < 2 && k < len; ++k) C.dbBase_Level[k] = v[k];
        break;
      case isc_info_db_id: {
        if (len < 1) break;
        C.dbDB_Id_Count = v[0];
        size_t pos = 1;
        counted(v, len, pos, C.dbFile_Name);
        counted(v, len, pos, C.dbSite_Name);
        break;
      }
      case isc_info_implementation:
        for (size_t k = 0; k < 3 && k < len; ++k) C.dbImplementation[k] = v[k];
        break;
      case isc_info_no_reserve: C.dbNo_Reserve = static_cast<uint8_t>(ReadLE(v, len)); break;
      case isc_info_forced_writes: C.dbForced_Writes = static_cast<uint8_t>(ReadLE(v, len)); break;
      case isc_info_ods_minor_version: C.dbODS_Minor_Version = static_cast<uint16_t>(ReadLE(v, len)); break;
      case isc_info_ods_version: C.dbODS_Version = static_cast<uint16_t>(ReadLE(v, len)); break;
      case isc_info_page_size: C.dbPage_Size = static_cast<uint16_t>(ReadLE(v, len)); break;
      case isc_info_version: {
        if (len < 1) break;
        C.dbVersion_Count = v[0];
        size_t pos = 1;
        counted(v, len, pos, C.dbVersion);
        break;
      }
      case isc_info_sweep_interval: C.dbSweep_Interval = ReadLE(v, len); break;
      case isc_info_set_page_buffers: C.dbPage_Buffers = ReadLE(v, len); break;
      case isc_info_db_sql_dialect: C.dbSQL_Dialect = ReadLE(v, len); break;
      case isc_info_db_read_only: C.dbRead_Only = static_cast<uint8_t>(ReadLE(v, len)); break;
      case isc_info_db_size_in_pages: C.dbSize_In_Pages = ReadLE(v, len); break;
      default: break;
    }
    i += 3 + len;
  }
}

void TIB_Connection::ReadCharacteristics() {
  static const char kItems[] = {isc_info_allocation,
                                isc_info_base_level,
                                isc_info_db_id,
                                isc_info_implementation,
                                isc_info_no_reserve,
                                isc_info_forced_writes,
                                isc_info_ods_minor_version,
                                isc_info_ods_version,
                                isc_info_page_size,
                                isc_info_version,
                                isc_info_sweep_interval,
                                isc_info_set_page_buffers,
                                isc_info_db_sql_dialect,
                                isc_info_db_read_only,
                                isc_info_db_size_in_pages,
                                isc_info_end};
  std::vector<char> reply(1024, 0);
  TIB_Session* session = GetSession();
  if (session->Call(session->Entries.isc_database_info, &FHandle, static_cast<short>(sizeof(kItems)), kItems,
                    static_cast<short>(reply.size()), reply.data()) != 0) {
    // A server found gone is never asked again, not even by the detach.
    if (IB_StatusShowsConnectionLost(session->GetStatusVector())) ConnectionLost();
    FCharacteristics = TIB_ConnectCharacteristics{};  // unknown, not the last attach's
    session->HandleISCError(this);
    return;
  }
  TIB_ConnectCharacteristics c;
  ParseConnectCharacteristics(reply.data(), reply.size(), c);
  FCharacteristics = c;
  FCharacteristicsRead = true;
}

TIB_ConnectCharacteristics TIB_Connection::GetCharacteristics() {
  if (!GetConnected()) IB_Raise<EIB_ConnectionError>(IBMsg::CannotGetConnectionCharacteristics);
  if (!FCharacteristicsRead) ReadCharacteristics();
  return FCharacteristics;
}

const TIB_ConnectCharacteristics* TIB_Connection::KnownCharacteristics() {
  if (!GetConnected()) return nullptr;
  if (!FCharacteristicsRead) {
    if (FLost || FStatus == csDisconnecting || FStatus == csDroppingDatabase) return nullptr;
    ReadCharacteristics();
    if (!FCharacteristicsRead) return nullptr;  // failed, with the error suppressed by a handler
  }
  return &FCharacteristics;
}

// ---- statement handles ---------------------------------------------------------------------------------------

void TIB_Connection::AcquireStatementHandle(isc_stmt_handle& Handle) {
  if (Handle != 0 && Handle != kReleasedHandle) return;
  if (!FHandleCache.empty()) {
    Handle = FHandleCache.back();
    FHandleCache.pop_back();
    if (FHandleCacheCapacity - static_cast<int32_t>(FHandleCache.size()) > 10) FHandleCacheCapacity -= 10;
    return;
  }
  Handle = 0;
  TIB_Session* session = GetSession();
  // Not isc_dsql_alloc_statement2: that one keeps the address of Handle and writes 0 there when the
  // statement is dropped or the database detached. Cached handles move from one holder to the next,
  // so that address may belong to something else, or to nothing, by then. Handles are freed before
  // every detach instead.
  session->CallChecked(this, session->Entries.isc_dsql_allocate_statement, &FHandle, &Handle);
}

void TIB_Connection::FreeStatementHandle(isc_stmt_handle& Handle) {
  TIB_Session* session = GetSession();
  if (session->Entries.isc_dsql_free_statement)
    TIB_SessionBase::CallScratch(session->Entries.isc_dsql_free_statement, &Handle,
                                 static_cast<unsigned short>(DSQL_drop));
  Handle = 0;
}

void TIB_Connection::ReleaseStatementHandle(isc_stmt_handle& Handle) {
  if (Handle == 0 || Handle == kReleasedHandle) return;
  // A handle given back after the detach went with the attachment: it is never handed out again.
  if (FCacheStatementHandles && GetConnected()) {
    if (static_cast<int32_t>(FHandleCache.size()) >= FHandleCacheCapacity) FHandleCacheCapacity += 10;
    FHandleCache.push_back(Handle);
    Handle = 0;
  } else {
    FreeStatementHandle(Handle);
  }
}

void TIB_Connection::FlushStatementHandleCache(int32_t KeepCount) {
  KeepCount = std::max(KeepCount, 0);
  if (KeepCount == 0 && FSchemaCache) FSchemaCache->FreeCursors();
  while (static_cast<int32_t>(FHandleCache.size()) > KeepCount) {
    isc_stmt_handle h = FHandleCache.back();
    FHandleCache.pop_back();
    FreeStatementHandle(h);
  }
  FHandleCacheCapacity = KeepCount;
}

void TIB_Connection::SetCacheStatementHandles(bool Value) {
  FCacheStatementHandles = Value;
  if (!Value) FlushStatementHandleCache(0);
}

// ---- lost connection and DDL ---------------------------------------------------------------------------------

void TIB_Connection::CheckConnection() {
  if (!GetConnected() || FLost) return;
  static const char kItems[] = {isc_info_forced_writes, isc_info_end};
  std::vector<char> reply(1024, 0);
  TIB_Session* session = GetSession();
  if (session->Call(session->Entries.isc_database_info, &FHandle, static_cast<short>(sizeof(kItems)), kItems,
                    static_cast<short>(reply.size()), reply.data()) != 0 &&
      IB_StatusShowsConnectionLost(session->GetStatusVector()))
    ConnectionLost();
}

void TIB_Connection::ConnectionLost() {
  FLost = true;
  for (TIB_ConnectionTransactionSite* t : std::vector(FTransactions)) t->ConnectionWasLost(this);
}

void TIB_Connection::SysBeforeExecDDL() {
  Fire(BeforeExecDDL);
  SendLinkNotice(cevBeforeExecDDL);
}

void TIB_Connection::SysAfterExecDDL() {
  if (FSchemaCache) FSchemaCache->SchemaChanged();
  SendLinkNotice(cevAfterExecDDL);
  Fire(AfterExecDDL);
  FlushStatementHandleCache(0);
}

TIB_ExecDDLBracket::TIB_ExecDDLBracket(TIB_Connection* AConnection)
    : FConnection(AConnection), FAlive(AConnection ? AConnection->GetAlive() : TIB_AliveFlag()) {
  if (FConnection) FConnection->SysBeforeExecDDL();
}

TIB_ExecDDLBracket::~TIB_ExecDDLBracket() {
  if (FConnection && FAlive.Get()) FConnection->SysAfterExecDDLQuietly();
}

void TIB_ExecDDLBracket::End() {
  if (TIB_Connection* c = std::exchange(FConnection, nullptr)) {
    IB_CheckAlive(FAlive);
    c->SysAfterExecDDL();
  }
}

void TIB_Connection::SysAfterExecDDLQuietly() noexcept {
  if (FSchemaCache) RunReported([this] { FSchemaCache->SchemaChanged(); });
  RunReported([this] { FlushStatementHandleCache(0); });
}

// ---- focus, search helpers -----------------------------------------------------------------------------------

void TIB_Connection::SetFocus() { GetSession()->SetFocusedConnection(this); }

void TIB_Connection::DoGainFocus() {
  if (OnGainFocus && CanFireEvents() && !HasState(csLoading)) CallOut(OnGainFocus, this);
}

void TIB_Connection::DoLoseFocus() {
  if (OnLoseFocus && CanFireEvents() && !HasState(csLoading)) CallOut(OnLoseFocus, this);
}

void TIB_Connection::DoSoundExParse(const std::string& Value, std::string& Result) {
  if (OnSoundExParse)
    CallOut(OnSoundExParse, this, Value, Result);
  else
    Result = IntToStr(SoundexCode(Value));
}

void TIB_Connection::DoSoundExMaxParse(const std::string& Value, std::string& Result) {
  if (OnSoundExMaxParse)
    CallOut(OnSoundExMaxParse, this, Value, Result);
  else if (OnSoundExParse)
    CallOut(OnSoundExParse, this, Value, Result);
  else
    Result = IntToStr(SoundexMaxCode(Value));
}

void TIB_Connection::DoReceiveDMLCache(const TIB_DMLCacheItem& Item) {
  if (OnReceiveDMLCache && CanFireEvents()) CallOut(OnReceiveDMLCache, this, Item);
}

int32_t TIB_Connection::GetStartedTransactionCount() const {
  return static_cast<int32_t>(std::count_if(FTransactions.begin(), FTransactions.end(),
                                            [](TIB_ConnectionTransactionSite* t) { return t->GetServerStarted(); }));
}

void TIB_Connection::DoProcessSearchBuffer(TIB_Column* IB_Field, std::string& SearchBuffer, TStrings* WhereClause,
                                           TStrings* Parameters, TStrings* Macros, bool& DefaultHandling) {
  if (OnProcessSearchBuffer)
    CallOut(OnProcessSearchBuffer, this, IB_Field, SearchBuffer, WhereClause, Parameters, Macros, DefaultHandling);
}

// ---- registries ----------------------------------------------------------------------------------------------

namespace {

template <class T>
void AddOnce(std::vector<T*>& List, T* Item) {
  if (Item && std::find(List.begin(), List.end(), Item) == List.end()) List.push_back(Item);
}

template <class T>
T* ItemAt(const std::vector<T*>& List, int32_t Index) {
  return Index >= 0 && static_cast<size_t>(Index) < List.size() ? List[static_cast<size_t>(Index)] : nullptr;
}

}  // namespace

void TIB_Connection::RegisterTransaction(TIB_ConnectionTransactionSite* T) { AddOnce(FTransactions, T); }
void TIB_Connection::UnregisterTransaction(TIB_ConnectionTransactionSite* T) { std::erase(FTransactions, T); }
void TIB_Connection::RegisterStatement(TIB_ConnectionStatementSite* S) { AddOnce(FStatements, S); }
void TIB_Connection::UnregisterStatement(TIB_ConnectionStatementSite* S) { std::erase(FStatements, S); }
void TIB_Connection::RegisterDataset(TIB_ConnectionDatasetSite* D) { AddOnce(FDatasets, D); }
void TIB_Connection::UnregisterDataset(TIB_ConnectionDatasetSite* D) { std::erase(FDatasets, D); }
TIB_ConnectionLink* TIB_Connection::GetConnectionLink(int32_t Index) const { return ItemAt(FLinks, Index); }
TIB_ConnectionTransactionSite* TIB_Connection::GetTransaction(int32_t Index) const {
  return ItemAt(FTransactions, Index);
}
TIB_ConnectionStatementSite* TIB_Connection::GetStatement(int32_t Index) const { return ItemAt(FStatements, Index); }
TIB_ConnectionDatasetSite* TIB_Connection::GetDataset(int32_t Index) const { return ItemAt(FDatasets, Index); }

// ---- TIB_ConnectionLink --------------------------------------------------------------------------------------

TIB_ConnectionLink::TIB_ConnectionLink(TComponent* AOwner) : TIB_Component(AOwner) {
  if (GetBoundSession() && !IsInternal()) JoinSessionRegistry(srConnectionLinks);
}

TIB_ConnectionLink::~TIB_ConnectionLink() = default;

void TIB_ConnectionLink::BeforeDestruction() {
  RunReported([&] { SetIB_Connection(nullptr); });
  TIB_Component::BeforeDestruction();
}

void TIB_ConnectionLink::SetIB_Connection(TIB_Connection* Value) {
  if (Value == FConnection) return;
  ProcessEvent(cevLinkLeaving);
  if (FConnection) {
    FConnection->RemoveLink(this);
    FConnection->RemoveFreeNotification(this);
  }
  FConnection = Value;
  if (Value) {
    Value->AddLink(this);
    Value->FreeNotification(this);
  }
  ProcessEvent(cevLinkJoined);
}

void TIB_ConnectionLink::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_Component::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FConnection) {
    FConnection->RemoveLink(this);
    FConnection = nullptr;
  }
}

void TIB_ConnectionLink::ProcessEvent(int32_t /*AEvent*/) {}

void TIB_ConnectionLink::SetReceiveFocus(bool Value) {
  if (Value == FReceiveFocus) return;
  FReceiveFocus = Value;
  if (Value) TakeFocusedConnection();
}

void TIB_ConnectionLink::DoReceiveFocus(TIB_Component* AFocused) {
  if (!FReceiveFocus) return;
  auto* connection = dynamic_cast<TIB_Connection*>(AFocused);
  if (connection == FConnection) return;
  if (OnReceiveFocus)
    CallOut(OnReceiveFocus, this, connection);
  else
    SetIB_Connection(connection);
}

void TIB_ConnectionLink::TakeFocusedConnection() {
  if (!FReceiveFocus || HasState(csLoading)) return;
  TIB_Session* s = GetBoundSession();
  if (!s) return;
  if (TIB_Connection* focused = s->GetFocusedConnection()) DoReceiveFocus(focused);
}

void TIB_ConnectionLink::Loaded() {
  TIB_Component::Loaded();
  TakeFocusedConnection();
}

void TIB_ConnectionLink::SetSession(TIB_Session* ASession) {
  if (ASession == GetBoundSession()) return;
  if (GetBoundSession()) LeaveSessionRegistry(srConnectionLinks);
  TIB_Component::SetSession(ASession);
  if (ASession) {
    JoinSessionRegistry(srConnectionLinks);
    if (!ASession->HasState(csLoading)) TakeFocusedConnection();
  }
}

void TIB_ConnectionReceiverLink::ProcessEvent(int32_t AEvent) {
  if (FReceiver) FReceiver->ProcessConnectionEvent(this, AEvent);
}
