// TIB_Statement: execution by statement type, execute immediate, statement type and row counts,
// generator values and the tests on the SQL text.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "dblib/IB_Constants.h"
#include "dblib/IB_Statement.h"
#include "dblib/IB_StatementLinks.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"
#include "dblib/schema/IB_Schema.h"

namespace {

bool HasWord(const std::vector<std::string>& W, const char* Word) {
  return std::find(W.begin(), W.end(), Word) != W.end();
}

bool IsDMLWord(const std::string& W) { return W == "INSERT" || W == "UPDATE" || W == "DELETE" || W == "MERGE"; }

[[noreturn]] void RaiseSetTransaction() {
  IB_Raise<EIB_StatementError>(IBMsg::SetTransactionThroughStatement);
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Execute

void TIB_Statement::Execute() {
  TIB_BusyBracket busy(this);
  SysClose();
  SysExecute();
  busy.End();
}

void TIB_Statement::SetActive(bool Value) {
  if (Value == GetActive()) return;
  TIB_BusyBracket busy(this);
  if (Value) {
    SysExecute();
  } else {
    SysClose();
  }
  busy.End();
}

void TIB_Statement::SysClose() {
  if (!FActive) return;
  FActive = false;
  DoActiveChange();
}

void TIB_Statement::DoActiveChange() {
  ProcessLinkEvent(sleActiveChange);
  Fire(OnActiveChange);
}

void TIB_Statement::DoBeforeExecute() {
  Fire(BeforeExecute);
  ProcessLinkEvent(sleBeforeExecute);
  if (FParams->GetColumnCount() > 0) ProcessLinkEvent(sleBeforeExecuteWithParams);
}

void TIB_Statement::SysClearFieldBuffers() { FFields->ClearBuffers(true); }

void TIB_Statement::SysActivate() {
  if (FFieldsRowResetOnActivate) FFields->ResetRow(false, true, true);
  FActive = true;
  DoActiveChange();
}

void TIB_Statement::SysExecute() {
  const bool loading = HasState(csLoading) || HasState(csReading) || HasState(csDestroying);
  bool haveTransaction = false;
  try {
    haveTransaction = SysCheckTransaction(true);
  } catch (const EIB_StatementError&) {
    if (loading) return;
    throw;
  }
  if (!haveTransaction) {
    if (loading) return;
    IB_Raise<EIB_StatementError>(IBMsg::NoActiveTransactionToExecuteWith);
  }
  if (!PrepareCore()) IB_Raise<EIB_StatementError>(IBMsg::StatementFailedToPrepare);
  DoBeforeExecute();
  const uint8_t type = GetStatementType() & 0x7F;
  if (FFields->GetColumnCount() > 0) SysClearFieldBuffers();
  const bool hasParams = FParams->GetColumnCount() > 0;
  // Blob and array values set on parameters go to the server first, whatever the statement type: a
  // parameter of a SELECT or a procedure needs its id as much as one of an INSERT.
  if (hasParams) FParams->PostBlobNodes();
  FFieldsRowResetOnActivate = false;
  const TIB_AliveFlag alive = FAlive;
  try {
    SysExecuteStatement();
  } catch (...) {
    // The values stay set for another execute, which writes them again.
    if (hasParams && alive.Get()) FParams->ForgetPostedBlobNodes();
    throw;
  }
  FExecutedSinceInfo = true;
  TIB_Transaction* t = GetIB_Transaction();
  if (t && SysExecuteChangesData(type) && t->GetStarted()) t->Activate();
  if (hasParams) FParams->ResetBlobNodes(false);
  if (FFields->GetColumnCount() > 0) SysActivate();
  ProcessLinkEvent(sleAfterExecute);
  Fire(AfterExecute);
}

bool TIB_Statement::SysExecuteChangesData(uint8_t Type) {
  return Type == stInsert || Type == stUpdate || Type == stDelete || Type == stDDL ||
         (Type == stExecProcedure && FActivateTransactionForProcedures);
}

void TIB_Statement::SysExecuteStatement() {
  const uint8_t type = GetStatementType() & 0x7F;
  if (type != stStartTrans && type != stCommit && type != stRollback && type != stSetGenerator) {
    SysCheckTransaction(true);
  }
  switch (type) {
    case stSelect:
    case stSelectForUpdate: SysOpenCursor(); break;
    case stInsert:
    case stUpdate:
    case stDelete: ExecDML(); break;
    case stDDL: ExecDDL(); break;
    case stGetSegment:
    case stPutSegment:
    case stSetGenerator:
    case stSavePoint: API_Execute(); break;
    case stExecProcedure: API_Execute2(); break;
    case stStartTrans:
    case stCommit:
    case stRollback: ExecTransactionControl(type); break;
    default:
      throw EIB_StatementError(IB_LoadStr(IBMsg::AttemptToExecuteAnUnknownStatement) + ": " + std::to_string(type));
  }
}

void TIB_Statement::SysOpenCursor() { ExecuteAndFetchOne(); }

void TIB_Statement::ExecDML() {
  Fire(BeforeExecDML);
  ProcessLinkEvent(sleBeforeExecDML);
  API_Execute();
  Fire(AfterExecDML);
  ProcessLinkEvent(sleAfterExecDML);
}

void TIB_Statement::ExecDDL() {
  Fire(BeforeExecDDL);
  ProcessLinkEvent(sleBeforeExecDDL);
  // The connection's handlers may destroy the statement or its transaction (the connection's own death
  // ends its step with the silent abort): the silent abort then. A failed execute still puts the
  // connection's caches right (quietly); the execute's error is the one raised.
  const TIB_AliveFlag alive = FAlive;
  const TIB_AliveFlag* t = TransactionToken();
  const TIB_AliveFlag transaction = t ? *t : alive;
  const auto watch = [&] {
    IB_CheckAlive(alive);
    IB_CheckAlive(transaction);
  };
  TIB_ExecDDLBracket bracket(GetIB_Connection());
  watch();
  API_Execute();
  bracket.End();
  watch();
  Fire(AfterExecDDL);
  ProcessLinkEvent(sleAfterExecDDL);
}

void TIB_Statement::ExecTransactionControl(uint8_t Type) {
  TIB_Transaction* t = GetIB_Transaction();
  if (!t) IB_Raise<EIB_StatementError>(IBMsg::UnassignedTransaction);
  const std::vector<std::string> words = SQLWords(FServerSQL, 8);
  const bool retain = HasWord(words, "RETAIN") || HasWord(words, "RETAINING");
  switch (Type) {
    case stStartTrans: RaiseSetTransaction();
    case stCommit:
      if (retain) {
        t->CommitRetaining();
      } else {
        t->Commit();
      }
      break;
    case stRollback:
      if (retain) {
        t->RollbackRetaining();
      } else {
        t->Rollback();
      }
      break;
    default: break;
  }
}

void TIB_Statement::API_Execute() {
  TIB_Session& s = Session();
  XSQLDA* in = FParamsDescribed > 0 ? FParams->GetPSQLDA() : nullptr;
  isc_tr_handle noTransaction = 0;
  isc_tr_handle* tr = GetTrHandlePtr();
  if (!tr) tr = &noTransaction;
  // A statement's execution goes through the general entry (the call monitor shows it with its row
  // counts); the cursor group serves the row-fetching path.
  const ISC_STATUS status = s.Call(s.Entries.isc_dsql_execute, tr, &FStmtHandle,
                                   static_cast<unsigned short>(GetSQLDialect()), static_cast<const XSQLDA*>(in));
  if (status != 0) s.HandleISCError(this);
  FExecutedSinceInfo = true;
  FFieldsRowResetOnActivate = false;
}

void TIB_Statement::API_Execute2() {
  TIB_Session& s = Session();
  FExecutedSinceInfo = true;
  XSQLDA* in = FParamsDescribed > 0 ? FParams->GetPSQLDA() : nullptr;
  XSQLDA* out = FFieldsDescribed > 0 ? FFields->GetPSQLDA() : nullptr;
  isc_tr_handle noTransaction = 0;
  isc_tr_handle* tr = GetTrHandlePtr();
  if (!tr) tr = &noTransaction;
  const auto dialect = static_cast<unsigned short>(GetSQLDialect());
  // The call writes the fields row before it is reset: the old record keeps what it held.
  if (out) FFields->TakeOldValues();
  auto run = [&] {
    return s.Call(s.Entries.isc_dsql_execute2, tr, &FStmtHandle, dialect, static_cast<const XSQLDA*>(in), out);
  };
  // A statement whose output no longer matches what the server holds for it (a DSQL error, or the
  // message length error) is prepared once more and run again.
  ISC_STATUS status = run();
  if (out && (status == isc_dsql_error || status == isc_port_len)) {
    if (s.GetMonitorHooked()) {
      std::string line;
      if (GetOwner()) line += GetOwner()->GetName() + ".";
      line += GetName() + " stHandle=" + std::to_string(FStmtHandle) + " #QF";
      s.MonitorOutput(line);
    }
    if (!FActivateTransactionForProcedures) {
      ISC_STATUS_ARRAY saved;
      std::memcpy(saved, s.GetStatusVector(), sizeof saved);
      const ISC_STATUS again = s.Call(s.Entries.isc_dsql_prepare, tr, &FStmtHandle, SQLTextLength(FPreparedSQL),
                                      FPreparedSQL.c_str(), dialect, static_cast<XSQLDA*>(nullptr));
      if (again == 0) {
        status = run();
      } else {
        std::memcpy(s.GetStatusVector(), saved, sizeof saved);
      }
    }
  }
  FFieldsRowResetOnActivate = true;
  if (status != 0) s.HandleISCError(this);
}

void TIB_Statement::ExecuteAndFetchOne() {
  TIB_Session& s = Session();
  FExecutedSinceInfo = true;
  XSQLDA* in = FParamsDescribed > 0 ? FParams->GetPSQLDA() : nullptr;
  XSQLDA* out = FFieldsDescribed > 0 ? FFields->GetPSQLDA() : nullptr;
  isc_tr_handle noTransaction = 0;
  isc_tr_handle* tr = GetTrHandlePtr();
  if (!tr) tr = &noTransaction;
  const auto dialect = static_cast<unsigned short>(GetSQLDialect());
  ISC_STATUS status = s.Call(s.Cursor.isc_dsql_execute, tr, &FStmtHandle, dialect, static_cast<const XSQLDA*>(in));
  if (status != 0) {
    s.HandleISCError(this);
    return;
  }
  // The fetch writes the fields row before it is reset: the old record keeps what it held.
  FFields->TakeOldValues();
  status = s.Call(s.Cursor.isc_dsql_fetch, &FStmtHandle, dialect, static_cast<const XSQLDA*>(out));
  if (status == kEndOfCursor) {
    // No row: every column reads null.
    for (int i = 0; i < FFields->GetColumnCount(); ++i) FFields->GetColumns(i)->SetIsNull(true);
  } else if (status != 0) {
    TIB_SessionBase::CallScratch(s.Cursor.isc_dsql_free_statement, &FStmtHandle,
                                 static_cast<unsigned short>(DSQL_close));
    FFieldsRowResetOnActivate = true;
    s.HandleISCError(this);
    return;
  }
  FFieldsRowResetOnActivate = true;
  s.CallChecked(this, s.Cursor.isc_dsql_free_statement, &FStmtHandle, static_cast<unsigned short>(DSQL_close));
}

// ---------------------------------------------------------------------------------------------------------
// Execute immediate

namespace {

// Lets the SQL text toolkit apply a CONNECT statement's settings to a connection.
class TConnectionCommandTarget : public TIB_DatabaseCommandTarget {
public:
  explicit TConnectionCommandTarget(TIB_Connection& C) : FConnection(C) {}
  bool GetConnected() override { return FConnection.GetConnected(); }
  void SetDatabaseName(const std::string& Value) override { FConnection.SetDatabaseName(Value); }
  void SetIndexedParam(int32_t Index, const std::string& Value) override { FConnection.SetIndexedParam(Index, Value); }

private:
  TIB_Connection& FConnection;
};

}  // namespace

void TIB_Statement::ExecuteImmediate(const std::string& SQL, XSQLDA* InRow, XSQLDA* OutRow) {
  TIB_BusyBracket busy(this);
  SysExecuteImmediate(SQL, InRow, OutRow);
  busy.End();
}

void TIB_Statement::SysExecuteImmediate(const std::string& SQL, XSQLDA* InRow, XSQLDA* OutRow) {
  CheckSQLTextSendable(SQL);
  SysCheckConnection(true);
  const std::vector<std::string> words = SQLWords(SQL, 8);
  const std::string first = words.empty() ? std::string() : words[0];
  if (first == "SET" && words.size() > 1 && words[1] == "TRANSACTION") RaiseSetTransaction();
  SysCheckTransaction(true);
  TIB_Connection* c = GetIB_Connection();
  TIB_Transaction* t = GetIB_Transaction();
  const bool wasStarted = t && t->GetStarted();
  TIB_Session& s = Session();
  isc_tr_handle noTransaction = 0;
  isc_tr_handle* tr = GetTrHandlePtr();
  if (!tr) tr = &noTransaction;
  ISC_STATUS status = s.Call(s.Entries.isc_dsql_exec_immed2, GetDbHandlePtr(), tr, SQLTextLength(SQL), SQL.c_str(),
                             static_cast<unsigned short>(GetSQLDialect()), static_cast<const XSQLDA*>(InRow),
                             static_cast<const XSQLDA*>(OutRow));
  if (s.GetMonitorHooked()) {
    std::string line = "//>>> STATEMENT PREPARED <<<//\r\nTIB_Statement.ISC_ExecImmed2()\r\n";
    if (GetOwner() && !GetOwner()->GetName().empty()) line += GetOwner()->GetName() + ".";
    line += GetName() + " stHandle=" + std::to_string(FStmtHandle);
    s.MonitorOutput(line);
  }
  if (status == isc_dsql_error && c && c->GetConnected()) {
    std::string verb, value;
    if (FindCommandClause(SQL, "DATABASE", {"CONNECT", "DISCONNECT", "DROP"}, verb, value)) {
      status = 0;
      if (verb == "DISCONNECT") {
        c->Disconnect();
      } else if (verb == "DROP") {
        c->DropDatabase();
      } else if (verb == "CONNECT" && !SameText(value, c->GetDatabaseName())) {
        c->Disconnect();
        TConnectionCommandTarget target(*c);
        std::string applied;
        ApplyDatabaseCommand(target, SQL, applied);
        c->Connect();
      }
      return;
    }
  }
  if (status != 0) s.HandleISCError(this);
  if (!t) return;
  if (wasStarted && !t->GetStarted()) {
    // The text ended the server transaction: the component ends its own bookkeeping the same way.
    if (first == "ROLLBACK") {
      t->Rollback();
    } else {
      t->Commit();
    }
    return;
  }
  if ((first == "COMMIT" || first == "ROLLBACK") && (HasWord(words, "RETAIN") || HasWord(words, "RETAINING"))) {
    // The server kept the transaction open and ended its work: the component's own retaining end
    // (which has nothing left to save or undo) brings its state and notices along.
    if (first == "COMMIT") {
      t->CommitRetaining();
    } else {
      t->RollbackRetaining();
    }
    return;
  }
  // What a prepared statement of the same kind would do to the transaction: data and metadata
  // changes make it active (and, with AutoCommit, saved at once).
  const bool quiet = first.empty() || first == "SELECT" || first == "WITH" || first == "COMMIT" ||
                     first == "ROLLBACK" || first == "SAVEPOINT" || first == "RELEASE" ||
                     (first == "SET" && words.size() > 1 && words[1] == "TRANSACTION");
  if (!quiet && t->GetStarted()) t->Activate();
}

// ---------------------------------------------------------------------------------------------------------
// Statement information

uint8_t TIB_Statement::GetStatementType() {
  if (!FStatementTypeStale) return FStatementType;
  return ReadStatementType();
}

uint8_t TIB_Statement::ReadStatementType() {
  const std::string text = FSQL->GetText();
  if (!GetSQLSelect(text).empty()) {
    FStatementType = GetSQLForUpdate(text).empty() ? stSelect : stSelectForUpdate;
  } else {
    FStatementType = stUnknown;
    if (FPrepared) {
      TIB_Session& s = Session();
      char items[11] = {isc_info_sql_stmt_type, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
      char result[51] = {};
      s.CallChecked(this, s.Entries.isc_dsql_sql_info, &FStmtHandle, static_cast<short>(sizeof items), items,
                    static_cast<short>(sizeof result), result);
      if (result[0] != isc_info_sql_stmt_type) IB_Raise<EIB_StatementError>(IBMsg::InvalidDataReturnedFromIscDsql);
      const int length = static_cast<unsigned char>(result[1]) | (static_cast<unsigned char>(result[2]) << 8);
      if (length >= 256) IB_Raise<EIB_StatementError>(IBMsg::UnanticipatedLengthInIscDsqlSql);
      FStatementType = static_cast<uint8_t>(result[3]);
    }
  }
  FStatementTypeStale = false;
  return FStatementType;
}

std::array<int32_t, 4> TIB_Statement::GetRecordCounts() {
  if (FExecutedSinceInfo) {
    Session().GetRowsAffected(&FStmtHandle, FCounts);
    FExecutedSinceInfo = false;
  }
  return FCounts;
}

int32_t TIB_Statement::GetRowsAffected() {
  const std::array<int32_t, 4> counts = GetRecordCounts();
  const int32_t updates = counts[0], deletes = counts[1], selects = counts[2], inserts = counts[3];
  // -1 when the server gave no count (the request failed): an unknown count is never read as 0.
  auto changed = [&] {
    int32_t sum = -1;
    for (int32_t n : {inserts, updates, deletes}) {
      if (n >= 0) sum = std::max<int32_t>(sum, 0) + n;
    }
    return sum;
  };
  switch (GetStatementType() & 0x7F) {
    case stSelect:
    case stSelectForUpdate: return selects;
    // UPDATE OR INSERT and MERGE report one kind but may do another: the changed rows of all kinds count.
    case stInsert:
    case stUpdate:
    case stDelete: return changed();
    case stExecProcedure:
      // INSERT ... RETURNING and its kin run as procedures.
      if (IsDMLWord(SQLWords(FServerSQL, 1).empty() ? std::string() : SQLWords(FServerSQL, 1)[0])) return changed();
      return -1;
    default: return -1;
  }
}

int64_t TIB_Statement::Gen_ID(const std::string& GeneratorName, int64_t Increment) {
  SysCheckTransaction(false);
  std::string ident;
  MakeSQLIdent(GetSQLDialect(), GeneratorName, ident);
  std::exception_ptr failure;
  int64_t value = -1;
  if (!GetGeneratorValue(GetIB_Connection(), GetIB_Transaction(), ident, Increment, value, &failure)) {
    // A refused query raises the engine's error (an unknown generator, a lost connection ...).
    if (failure) std::rethrow_exception(failure);
    IB_Raise<EIB_StatementError>(IBMsg::UnableToGetGeneratorValue);
  }
  return value;
}

bool TIB_Statement::SQLIsAggregate() {
  const std::string text = FSQL->GetText();
  if (!GetSQLGroup(text).empty()) return true;
  const std::string select = BlankControlChars(GetSQLSelect(text));
  const std::string upper = UpperCase(select);
  if (SelectsDistinct(select)) return true;
  if (upper.find('(') == std::string::npos) return false;
  TIB_StringList items;
  const TStrings* list = &FSelectColumns;
  if (FSelectColumns.Count() == 0) {
    std::string server;
    int32_t kept = 0;
    ParseSQLParams(text, nullptr, &items, nullptr, server, FParamCheck ? FParamChar : '\0', false, kept);
    list = &items;
  }
  auto isIdentChar = [](char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '$' || ch == '"';
  };
  for (int i = 0; i < list->Count(); ++i) {
    const std::string item = BlankControlChars(UpperCase(list->Get(i)));
    // "COUNT (" and "COUNT(" alike.
    std::string squeezed;
    for (char ch : item) {
      if (ch == '(') {
        while (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
      }
      squeezed += ch;
    }
    auto findCall = [&](const char* Name) {
      size_t pos = squeezed.find(Name);
      while (pos != std::string::npos && pos > 0 && isIdentChar(squeezed[pos - 1])) pos = squeezed.find(Name, pos + 1);
      return pos;
    };
    size_t pos = std::string::npos;
    for (const char* name : {"COUNT(", "MAX(", "MIN(", "AVG(", "SUM("}) {
      pos = findCall(name);
      if (pos != std::string::npos) break;
    }
    if (pos == std::string::npos) continue;
    const size_t sel = squeezed.find("SELECT ");
    if (sel == std::string::npos || sel > pos) return true;
  }
  return false;
}

bool TIB_Statement::SQLIsSelectProc() {
  const std::string from = BlankControlChars(GetSQLFrom(FSQL->GetText()));
  const std::string upper = UpperCase(from);
  if (upper.find('(') != std::string::npos && upper.find(" ON ") == std::string::npos &&
      upper.find(" JOIN ") == std::string::npos) {
    return true;
  }
  TIB_Connection* c = GetIB_Connection();
  TIB_ConnectionSchemaCache* cache = c ? c->GetSchemaCache() : nullptr;
  const std::string relation = GetKeyRelation();
  return cache && !relation.empty() && cache->IsProcedure(relation);
}
