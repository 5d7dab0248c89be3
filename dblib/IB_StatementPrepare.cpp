// TIB_Statement: finding the connection and transaction, building the server text, preparing and
// describing, unpreparing and giving the handle back.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/IB_Constants.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Statement.h"
#include "dblib/IB_StatementLinks.h"
#include "dblib/IB_Transaction.h"
#include "dblib/data/IB_Column.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

// A handle the connection has released: unusable until a new one is acquired.
constexpr isc_stmt_handle kReleasedHandle = static_cast<isc_stmt_handle>(-1);

// Sizes Buffer for an XSQLDA of N variables (at least one) and sets its header.
XSQLDA* SizeDA(std::vector<std::byte>& Buffer, int N) {
  N = std::max(N, 1);
  const size_t length = XSQLDA_LENGTH(N);
  if (Buffer.size() < length) {
    Buffer.assign(length, std::byte{0});
  }
  auto* da = reinterpret_cast<XSQLDA*>(Buffer.data());
  da->version = SQLDA_VERSION1;
  da->sqln = static_cast<ISC_SHORT>(N);
  return da;
}

// First word of a text, upper case, after any leading blanks and comments.
std::string FirstWord(std::string_view S) {
  size_t i = 0;
  for (;;) {
    while (i < S.size() && static_cast<unsigned char>(S[i]) <= ' ') ++i;
    if (S.compare(i, 2, "/*") == 0) {
      const size_t e = S.find("*/", i + 2);
      i = e == std::string_view::npos ? S.size() : e + 2;
    } else if (S.compare(i, 2, "--") == 0) {
      while (i < S.size() && S[i] != '\n' && S[i] != '\r') ++i;
    } else {
      break;
    }
  }
  size_t j = i;
  while (j < S.size() && (std::isalnum(static_cast<unsigned char>(S[j])) || S[j] == '_')) ++j;
  return UpperCase(S.substr(i, j - i));
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// SQL text handed to the client

void TIB_Statement::CheckSQLTextSendable(const std::string& Text) {
  const size_t nul = Text.find('\0');
  if (nul != std::string::npos) {
    IB_Raise<EIB_StatementError>(IBMsg::SQLTextHasNulByte, {static_cast<int32_t>(nul + 1)});
  }
}

unsigned short TIB_Statement::SQLTextLength(const std::string& Text) noexcept {
  // Past what the length can hold the client reads up to the terminating NUL, which the text (checked
  // by CheckSQLTextSendable) holds nowhere else.
  return Text.size() <= 0xFFFF ? static_cast<unsigned short>(Text.size()) : 0;
}

// ---------------------------------------------------------------------------------------------------------
// Connection and transaction on demand

bool TIB_Statement::SysCheckConnection(bool Raise) {
  TIB_Connection* c = GetIB_Connection();
  if (!c) {
    TIB_Session* s = GetSession();
    if (s && !FDatabaseName.empty()) c = s->GetConnectionByDatabaseName(FDatabaseName);
    if (!c && s && s->GetAllowDefaultConnection()) c = s->GetDefaultConnection();
    if (c) SetIB_Connection(c);
  }
  if (Raise && !c && !HasState(csReading) && !HasState(csLoading)) {
    IB_Raise<EIB_StatementError>(IBMsg::StatementMustHaveAConnection);
  }
  if (c && !c->GetConnected() && !HasState(csLoading) && !HasState(csReading)) c->Perform(cnConnect);
  return GetIB_Connection() != nullptr;
}

bool TIB_Statement::SysCheckTransaction(bool Raise) {
  TIB_Transaction* t = GetIB_Transaction();
  // The common case on every execute: an assigned, started transaction of the caller's. Nothing in
  // CheckTransactionFully would change anything then.
  if (t && !FInternalTransaction && t->GetStarted()) return true;
  return CheckTransactionFully(t, Raise);
}

bool TIB_Statement::CheckTransactionFully(TIB_Transaction* T, bool Raise) {
  // The connection's and the transaction's handlers run from here may destroy this statement.
  const TIB_AliveFlag alive = FAlive;
  TIB_Transaction* t = T;
  if (!t) {
    SysCheckConnection(false);
    if (TIB_Connection* c = GetIB_Connection()) {
      if (auto* def = dynamic_cast<TIB_Transaction*>(c->GetDefaultTransaction())) {
        SetIB_Transaction(def);
        t = def;
      }
    }
  }
  TIB_Session* s = GetSession();
  if (!t && ((s && s->GetAllowDefaultTransaction()) || HasState(csDesigning))) {
    const bool existed = FInternalTransaction != nullptr;
    TIB_Transaction* it = InternalTransaction();
    if (existed && it->GetAutoCommit() && it->GetStarted()) it->Commit();
    SetIB_Transaction(it);
    t = it;
  }
  if (FInternalTransaction) FInternalTransaction->SetIB_Connection(GetIB_Connection());
  if (Raise && !(t && t->GetStarted())) {
    if (!t) IB_Raise<EIB_Error>(IBMsg::InvalidInternalTransaction);
    if (!t->GetConnection(0)) {
      SysCheckConnection(false);
      if (TIB_Connection* c = GetIB_Connection()) t->SetIB_Connection(c);
    }
    if (TIB_Connection* c = t->GetConnection(0)) {
      if (!c->GetConnected() && c->GetConnectionStatus() != csNotConnected) c->SysConnect(false);
    }
    // A connection attached here raises the engine's error to the caller: the start would only report
    // it on the side, and the caller would learn no more than that no transaction could start.
    for (int i = 0; i < t->Get_ConnectionCount() && !HasState(csLoading) && !HasState(csReading); ++i) {
      TIB_Connection* c = t->GetConnection(i);
      if (c && !c->GetConnected() && c->GetConnectionStatus() == csNotConnected) c->Perform(cnConnect);
    }
    if (!t->SysStart()) t->SysStart();
    IB_CheckAlive(alive);
  }
  return t && t->GetStarted();
}

bool TIB_Statement::SysAllocateHandle() {
  if (FStmtHandle == 0 && SysCheckConnection(true)) {
    TIB_Connection* c = GetIB_Connection();
    c->AcquireStatementHandle(FStmtHandle);
    FSQLDialect = static_cast<int16_t>(c->GetSQLDialect());
  }
  return FStmtHandle != 0;
}

// ---------------------------------------------------------------------------------------------------------
// Prepare

bool TIB_Statement::PrepareCore() {
  if (FPrepared && FSQLValid) return true;
  return PrepareCoreFully();
}

bool TIB_Statement::PrepareCoreFully() {
  if (FPrepared) {
    if (GetActive()) SysClose();
    // The transaction may have ended since the last prepare: the server prepares only in a started one.
    if (SysCheckTransaction(true)) SysPrepare();
  } else if (HasState(csLoading) || HasState(csReading)) {
    FDeferredPrepare = true;
  } else if (SysAllocateHandle() && SysCheckTransaction(true)) {
    SysPrepare();
    // A building hook may have invalidated the text it just built.
    if (FPrepared && !FSQLValid) SysPrepare();
  }
  return FPrepared;
}

void TIB_Statement::SysPrepare() {
  if (FPreparing) return;
  // The handlers called from here on may destroy the statement: nothing of it is put back then.
  TIB_AliveRestorer<bool> repreparing(FAlive, FRepreparing, FPrepared);
  if (FPrepared) {
    KeepParamValues();
  } else {
    DoBeforePrepare();
  }
  TIB_AliveRestorer<bool> preparing(FAlive, FPreparing, true);
  FStatementTypeStale = true;
  const bool savedValid = FSQLValid;
  // Whatever fails from here to the described rows leaves the statement unprepared with empty rows.
  TIB_AliveExit resetOnFailure(FAlive, [&] {
    FSQLValid = savedValid;
    RunReported([&] { SysResetDescription(); });
  });
  {
    // The building hooks may change the SQL and JoinLinks texts: they are put back however the
    // build ends, inside the SQL's update bracket.
    const std::string savedSQL = FSQL->GetText();
    const std::string savedJoinLinks = FJoinLinks.GetText();
    FSQL->BeginUpdate();
    TIB_AliveExit quietUpdate(FAlive, [&] { FSQL->EndUpdateQuietly(); });
    const auto restore = [&] {
      if (FSQL->GetText() != savedSQL) FSQL->SetText(savedSQL);
      if (FJoinLinks.GetText() != savedJoinLinks) FJoinLinks.SetText(savedJoinLinks);
    };
    TIB_AliveExit restoreTexts(FAlive, [&] { RunReported(restore); });
    FBuildParams.Clear();
    FSQLValid = true;
    SysPrepareSQL();
    restoreTexts.Release();
    restore();
    quietUpdate.Release();
    FSQL->EndUpdate();
  }

  int32_t inCount = 0, outCount = 0;
  ISC_STATUS status = API_Prepare(FServerSQL, inCount, outCount);
  if (status == isc_dsql_error && FParamCheck && IsProcedureOrTriggerDDL(FSQL->GetText())) {
    // Stored code whose ':variables' were taken for parameters: send the text as it was written.
    // (No other text is scanned again: with ParamCheck on the same scan would give the same text, and
    // with it off a scan for markers would turn the ':names' the caller wants sent as written into
    // parameters.)
    FServerSQL = FSQL->GetText();
    FParamNames.Clear();
    FParamNameCount = 0;
    if (FPreparedSQL != FServerSQL && !SysNeedPlan()) FPreparedSQL = FServerSQL;
    status = API_Prepare(FServerSQL, inCount, outCount);
  }
  if (status != 0) {
    resetOnFailure.Release();
    SysResetDescription();
    Session().HandleISCError(this);
    return;
  }

  FPrepared = true;
  FParamsDescribed = static_cast<int16_t>(inCount);
  FFieldsDescribed = static_cast<int16_t>(outCount);
  SysAllocateRows();
  resetOnFailure.Release();
  const bool hasLinks = !FStatementLinks.empty();
  if (hasLinks && (FParams->GetColumnCount() > 0 || FRepreparing)) ProcessLinkEvent(sleColumnsReleased);
  if (FRepreparing) {
    DoLayoutChanged();
  } else {
    if (hasLinks) ProcessLinkEvent(sleColumnsRebind);
    ApplyFieldsProperties();
    if (FKeepSQLHistory) RecordSQLHistory();
    if (FFields->GetColumnCount() > 0) SysClearFieldBuffers();
    DoPreparedChanged();
  }
  if (FParams->GetColumnCount() > 0) RestoreParamValues();
  DoAfterPrepare();
}

void TIB_Statement::SysPrepareSQL() {
  const char marker = FParamCheck ? FParamChar : '\0';
  const bool needPlan = SysNeedPlan();
  SysBuildForUpdate();
  if (OnMacroSubstitute) SysSubstituteMacros();
  DoPrepareSQL();
  SysBuildSelect();
  int32_t kept = 0;
  if (needPlan) {
    ParseSQLParams(FSQL->GetText(), nullptr, nullptr, nullptr, FPreparedSQL, marker, false, kept);
    TIB_AliveRestorer<bool> buildingPlan(FAlive, FBuildingPlan, true);
    SysBuildForUpdate();
    SysBuildPlan();
    SysBuildSelect();
  }
  const std::string text = FSQL->GetText();
  FAnalysis.Clear();
  if (IsProcedureOrTriggerDDL(text) && FirstWord(text) != "EXECUTE") {
    // The engine does not parse stored code at prepare time: its ':variables' must reach it as written.
    FServerSQL = text;
    FParamNames.Clear();
    FSelectColumns.Clear();
    FParamNameCount = 0;
  } else if (IsProcedureOrTriggerDDL(text)) {
    // EXECUTE BLOCK: '?' inputs are parameters; the body's ':variables' are not.
    FParamNameCount = ParseSQLParams(text, &FParamNames, &FSelectColumns, &FAnalysis, FServerSQL, '\0', true, kept);
  } else {
    FParamNameCount = ParseSQLParams(text, &FParamNames, &FSelectColumns, &FAnalysis, FServerSQL, marker, false, kept);
  }
  if (!needPlan) FPreparedSQL = FServerSQL;
  FSourceSQL = text;
  if (!FRepreparing) ExpandSelectColumns(text);
}

void TIB_Statement::ExpandSelectColumns(const std::string& Text) {
  TIB_Connection* connection = GetIB_Connection();
  TIB_ConnectionSchemaCache* cache =
      connection && connection->GetConnected() ? connection->GetSchemaCache() : nullptr;
  for (int i = 0; i < FSelectColumns.Count(); ++i) {
    const std::string item = FSelectColumns.Get(i);
    if (item == "<*>") {
      if (i + 1 >= FSelectColumns.Count()) break;
      // "*" stands for the key relation's columns, "Q.*" for those of the relation Q names; when the
      // cache does not know them the two items stay and the server describes the columns.
      std::string star;
      UnescapeListText(FSelectColumns.Get(i + 1), star);
      star = Trim(star);
      const std::string qualifier = star == "*" ? std::string() : Trim(star.substr(0, star.size() - 2));
      const std::string relation = qualifier.empty() ? GetKeyRelation() : QualifiedRelation(Text, qualifier);
      TIB_StringList columns;
      if (cache && !relation.empty()) cache->GetTableFields(relation, columns);
      if (columns.Count() == 0) {
        ++i;
        continue;
      }
      FSelectColumns.Delete(i + 1);
      FSelectColumns.Delete(i);
      for (int k = 0; k < columns.Count(); ++k) {
        std::string escaped;
        EscapeListText(qualifier.empty() ? columns.Get(k) : qualifier + "." + columns.Get(k), escaped);
        FSelectColumns.Insert(i + k, escaped);
      }
      i += columns.Count() - 1;
      continue;
    }
    std::string text, expression, alias;
    UnescapeListText(item, text);
    if (!SplitSelectItem(text, expression, alias)) continue;
    std::string escapedAlias, escapedExpression;
    EscapeListText(alias, escapedAlias);
    EscapeListText(expression, escapedExpression);
    FSelectColumns.Put(i, escapedAlias + "=" + escapedExpression);
  }
}

void TIB_Statement::SysSubstituteMacros() {
  std::string result;
  ExpandSQLMacros(FSQL->GetText(), FMacroBegin, FMacroEnd, result, [this](const std::string& Name) {
    std::string text;
    if (OnMacroSubstitute) CallOutWatching(OnMacroSubstitute, this, Name, text);
    return text;
  });
  FSQL->SetText(result);
}

void TIB_Statement::DoPrepareSQL() {
  Fire(OnPrepareSQL);
  const std::vector<TIB_StatementLink*> snapshot = FStatementLinks;
  for (TIB_StatementLink* link : snapshot) {
    if (std::find(FStatementLinks.begin(), FStatementLinks.end(), link) == FStatementLinks.end()) continue;
    link->DoPrepareSQL();
  }
}

ISC_STATUS TIB_Statement::API_Prepare(const std::string& Text, int32_t& InCount, int32_t& OutCount) {
  InCount = OutCount = 0;
  if (Trim(Text).empty()) IB_Raise<EIB_StatementError>(IBMsg::BlankSQLStatementNotAllowed);
  CheckSQLTextSendable(Text);
  TIB_Session& s = Session();
  const int expected = FRepreparing ? FFields->GetColumnCount() : FSelectColumns.Count();
  XSQLDA* out = SizeDA(FOutDA, expected);
  if (FStmtHandle == kReleasedHandle || FStmtHandle == 0) {
    if (TIB_Connection* c = GetIB_Connection()) c->AcquireStatementHandle(FStmtHandle);
  }
  isc_tr_handle noTransaction = 0;
  isc_tr_handle* tr = GetTrHandlePtr();
  if (!tr) tr = &noTransaction;
  const auto dialect = static_cast<unsigned short>(GetSQLDialect());
  ISC_STATUS status =
      s.Call(s.Entries.isc_dsql_prepare, tr, &FStmtHandle, SQLTextLength(Text), Text.c_str(), dialect, out);
  if (status != 0) return status;
  if (s.GetMonitorHooked()) {
    std::string line = "//>>> STATEMENT PREPARED <<<//\r\nTIB_Statement.API_Prepare()\r\n";
    if (GetOwner() && !GetOwner()->GetName().empty()) line += GetOwner()->GetName() + ".";
    line += GetName() + " stHandle=" + std::to_string(FStmtHandle);
    s.MonitorOutput(line);
  }
  if (out->sqld > out->sqln) {
    out = SizeDA(FOutDA, out->sqld);
    status = s.Call(s.Entries.isc_dsql_describe, &FStmtHandle, dialect, out);
    if (status != 0) return status;
  }
  XSQLDA* in = SizeDA(FInDA, std::max(FParamNames.Count(), 1));
  status = s.Call(s.Entries.isc_dsql_describe_bind, &FStmtHandle, dialect, in);
  if (status != 0) return status;
  if (in->sqld > in->sqln) {
    in = SizeDA(FInDA, in->sqld);
    status = s.Call(s.Entries.isc_dsql_describe_bind, &FStmtHandle, dialect, in);
    if (status != 0) return status;
  }
  InCount = in->sqld;
  OutCount = out->sqld;
  return 0;
}

void TIB_Statement::SysAllocateRows() {
  FParams->AllocateXSQLDA(FParamsDescribed);
  if (!FRowsShared) FFields->AllocateXSQLDA(FFieldsDescribed);
  FRowsAllocated = true;
}

void TIB_Statement::SysDescribeFields(TIB_Row& Row) {
  XSQLDA* dest = Row.GetPSQLDA();
  if (!dest) return;
  const bool params = Row.GetRowType() == rtParams;
  const std::vector<std::byte>& from = params ? FInDA : FOutDA;
  if (from.empty()) return;
  const auto* src = reinterpret_cast<const XSQLDA*>(from.data());
  const int n = std::min<int>(dest->sqld, src->sqld);
  for (int i = 0; i < n; ++i) dest->sqlvar[i] = src->sqlvar[i];
  if (params) Row.AssignParamNames();
}

void TIB_Statement::SysResetDescription() {
  if (!FRowsShared) {
    FParamsDescribed = 0;
    FFieldsDescribed = 0;
    FParams->AllocateXSQLDA(0);
    FFields->AllocateXSQLDA(0);
    FPrepared = false;
  }
  FParamNames.Clear();
  FSelectColumns.Clear();
  FAnalysis.Clear();
}

void TIB_Statement::DoBeforePrepare() {
  Fire(BeforePrepare);
  ProcessLinkEvent(sleBeforePrepare);
}

void TIB_Statement::DoAfterPrepare() {
  ProcessLinkEvent(sleAfterPrepare);
  Fire(AfterPrepare);
}

void TIB_Statement::DoBeforeUnprepare() {
  Fire(BeforeUnprepare);
  ProcessLinkEvent(sleBeforeUnprepare);
}

void TIB_Statement::DoAfterUnprepare() {
  ProcessLinkEvent(sleAfterUnprepare);
  Fire(AfterUnprepare);
}

void TIB_Statement::DoPreparedChanged() {
  ProcessLinkEvent(slePreparedChanged);
  Fire(OnPreparedChanged);
}

// ---------------------------------------------------------------------------------------------------------
// Unprepare and the handle

void TIB_Statement::SysUnprepare() {
  if (FUnpreparing || !FPrepared) return;
  TIB_AliveRestorer<bool> unpreparing(FAlive, FUnpreparing, true);
  SysClose();
  DoBeforeUnprepare();
  KeepParamValues();
  FPrepared = false;
  FPreparedSQL.clear();
  FParamNames.Clear();
  FSelectColumns.Clear();
  FAnalysis.Clear();
  FParamsDescribed = 0;
  FFieldsDescribed = 0;
  FStatementTypeStale = true;
  SysAllocateRows();
  ProcessLinkEvent(sleColumnsReleased);
  ProcessLinkEvent(sleColumnsRebind);
  DoLayoutChanged();
  DoAfterUnprepare();
  DoPreparedChanged();
}

void TIB_Statement::SysDeallocate(bool CacheHandle) {
  TIB_Connection* c = GetIB_Connection();
  if (FStmtHandle != 0) {
    SysUnprepare();
    if (FStmtHandle != kReleasedHandle) {
      if (CacheHandle && c) {
        c->ReleaseStatementHandle(FStmtHandle);
      } else {
        TIB_Session& s = Session();
        s.Call(s.Entries.isc_dsql_free_statement, &FStmtHandle, static_cast<unsigned short>(DSQL_drop));
      }
    }
    FStmtHandle = 0;
  }
  if (FInternalTransaction && FInternalTransaction->GetStarted()) FInternalTransaction->Commit();
  if (c) FSQLDialect = static_cast<int16_t>(c->GetSQLDialect());
}
