// TIB_Statement: construction, the SQL text and the lists, connection and transaction, columns,
// statement links, kept parameter values and error decoration. Preparing is in IB_StatementPrepare.cpp,
// execution in IB_StatementExecute.cpp.
#include "dblib/IB_Statement.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include "dblib/IB_Constants.h"
#include "dblib/IB_StatementLinks.h"
#include "dblib/IB_Transaction.h"
#include "dblib/IB_Utils.h"
#include "dblib/data/IB_Column.h"
#include "dblib/schema/IB_SchemaCache.h"
#include "platform/Forms.h"
#include "platform/ScopeGuards.h"

namespace {

// Out of the way of the lookups that find their name.
[[noreturn, gnu::cold, gnu::noinline]] void RaiseNameNotFound(const std::string& Name) {
  IB_Raise<EIB_StatementError>(IBMsg::FieldNameNotFound, {Name});
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// TIB_SQLStrings

void TIB_SQLStrings::Assign(const TStrings& Source) {
  if (&Source == this) return;
  FStatement->SetPrepared(false);
  if (const auto* src = dynamic_cast<const TIB_SQLStrings*>(&Source)) {
    TIB_Statement* from = src->FStatement;
    if (from && from != FStatement) {
      if (from->GetPrepared()) from->KeepParamValues();
      FStatement->FParamValues.Assign(from->FParamValues);
      FStatement->FKeptParams = from->FKeptParams;
    }
    TIB_StringList::Assign(Source);
    if (from && from != FStatement) {
      FStatement->FCalculatedFields.Assign(from->FCalculatedFields);
      FStatement->FColumnAttributes.Assign(from->FColumnAttributes);
      for (int i = 0; i < IB_FieldsPropertyListCount; ++i) FStatement->FFieldsLists[i].Assign(from->FFieldsLists[i]);
    }
    return;
  }
  TIB_StringList::Assign(Source);
  FStatement->FCalculatedFields.Clear();
  FStatement->FColumnAttributes.Clear();
  for (auto& list : FStatement->FFieldsLists) list.Clear();
}

void TIB_SQLStrings::AssignFrom(const TStrings* Source) {
  if (!Source) {
    FStatement->SetPrepared(false);
    Clear();
    return;
  }
  Assign(*Source);
}

void TIB_SQLStrings::AssignTo(TStrings* Dest) const {
  if (Dest) Dest->Assign(*this);
}

// ---------------------------------------------------------------------------------------------------------
// Construction and destruction

TIB_Statement::TIB_Statement(TComponent* AOwner) : TIB_Component(AOwner) {
  FSQL = std::make_unique<TIB_SQLStrings>(this);
  FSQL->OnChange = [this](TObject*) { SQLChanged(); };
  FJoinLinks.OnChange = [this](TObject*) { SQLChanged(); };
  FCalculatedFields.OnChange = [this](TObject*) { SQLChanged(); };
  FColumnAttributes.OnChange = [this](TObject*) { SQLChanged(); };
  for (int i = 0; i < IB_FieldsPropertyListCount; ++i) {
    FFieldsLists[i].OnChange = [this, i](TObject*) { FieldsPropertyChanged(static_cast<TIB_FieldsPropertyList>(i)); };
  }
  FHints.OnChange = [this](TObject*) {
    if (FPrepared) ProcessLinkEvent(sleHintsChanged);
  };

  FParams = std::make_unique<TIB_Row>(this, rtParams);
  FFields = std::make_unique<TIB_Row>(this, rtFields);
  FKeyFields = std::make_unique<TIB_Row>(this, rtKey);
  FKeyFields->SetIsKeyRow(true);
  FParams->OnBeforeColumnChange = [this](TIB_Row*, TIB_Column* c) { SysHook60(c); };
  FParams->OnDataChange = [this](TIB_Row*, TIB_Column* c) { SysParamsChanged(c); };
  FParams->OnRowStateChanged = [this](TIB_Row*) { ProcessLinkEvent(sleParamsStateChanged); };
  FFields->OnBeforeColumnChange = [this](TIB_Row*, TIB_Column* c) { SysCheckCanModify(c); };
  FFields->OnDataChange = [this](TIB_Row*, TIB_Column* c) { DoLinkEvent22(c); };
  FFields->OnRowStateChanged = [this](TIB_Row*) { ProcessLinkEvent(sleFieldsStateChanged); };

  // The links are the statement's own parts: without owner, so they join no registry of the session.
  FConnectionLink = std::make_unique<TIB_ConnectionStatementLink>(nullptr, this);
  FTransactionLink = std::make_unique<TIB_TransactionStatementLink>(nullptr, this);
  if (GetBoundSession()) JoinSessionRegistry(srStatements);
}

TIB_Statement::~TIB_Statement() = default;

void TIB_Statement::BeforeDestruction() {
  IncludeState(csDestroying);
  RunReported([&] { SysDeallocate(true); });
  RunReported([&] { SetIB_Connection(nullptr); });
  RunReported([&] { SetIB_Transaction(nullptr); });
  FreeInternalTransaction();
  const std::vector<TIB_StatementLink*> links = FStatementLinks;
  for (TIB_StatementLink* link : links) {
    if (std::find(FStatementLinks.begin(), FStatementLinks.end(), link) == FStatementLinks.end()) continue;
    RunReported([&] { link->SetStatement(nullptr); });
    // A link that refused to leave is taken off the list all the same.
    FStatementLinks.erase(std::remove(FStatementLinks.begin(), FStatementLinks.end(), link), FStatementLinks.end());
  }
  FParams->OnBeforeColumnChange = nullptr;
  FParams->OnDataChange = nullptr;
  FParams->OnRowStateChanged = nullptr;
  FFields->OnBeforeColumnChange = nullptr;
  FFields->OnDataChange = nullptr;
  FFields->OnRowStateChanged = nullptr;
  FSQL->OnChange = nullptr;
  FJoinLinks.OnChange = nullptr;
  FCalculatedFields.OnChange = nullptr;
  FColumnAttributes.OnChange = nullptr;
  FHints.OnChange = nullptr;
  for (auto& list : FFieldsLists) list.OnChange = nullptr;
  LeaveSessionRegistry(srStatements);
  TIB_Component::BeforeDestruction();
}

void TIB_Statement::SetSession(TIB_Session* ASession) {
  if (ASession == GetBoundSession()) return;
  LeaveSessionRegistry(srStatements);
  TIB_Component::SetSession(ASession);
  JoinSessionRegistry(srStatements);
}

void TIB_Statement::Loaded() {
  TIB_Component::Loaded();
  if (FDeferredPrepare) {
    if (PrepareCore()) FDeferredPrepare = false;
  }
}

void TIB_Statement::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_Component::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == static_cast<TComponent*>(FInternalTransaction)) {
    FInternalTransaction = nullptr;
  }
}

bool TIB_Statement::CanFireEvents() const {
  return !HasState(csLoading) && !HasState(csDestroying) && !HasState(csReading);
}

// ---------------------------------------------------------------------------------------------------------
// SQL text and lists

void TIB_Statement::SetSQL(const TStrings* Value) { FSQL->AssignFrom(Value); }

void TIB_Statement::InvalidateSQL() {
  Fire(OnInvalidateSQL);
  FSQLValid = false;
}

void TIB_Statement::SQLChanged() {
  if (FPreparing) return;
  bool unprepare = true;
  SysHook31(unprepare);
  InvalidateSQL();
  if (FPrepared && !unprepare) {
    // Kept prepared: the new text is prepared at the next use.
    FStatementTypeStale = true;
    return;
  }
  if (FPrepared) {
    SysUnprepare();
  } else {
    FParamNames.Clear();
    FSelectColumns.Clear();
    FAnalysis.Clear();
  }
  FStatementTypeStale = true;
}

void TIB_Statement::SetParamCheck(bool Value) {
  if (Value == FParamCheck) return;
  FParamCheck = Value;
  SQLChanged();
}

void TIB_Statement::SetParamChar(char Value) {
  if (Value == FParamChar) return;
  FParamChar = Value;
  SQLChanged();
}

void TIB_Statement::RecordSQLHistory() {
  const std::string text = Trim(FSQL->GetText());
  const int count = FSQLHistory.Count();
  if (FSQLHistoryPos >= count) {
    if (count == 0 || FSQLHistory.Get(count - 1) != text) {
      FSQLHistory.Add(text);
      if (FSQLHistoryPos == count) FSQLHistoryPos = count + 1;
    }
  } else if (FSQLHistoryPos >= 0) {
    FSQLHistory.Put(FSQLHistoryPos, text);
  }
}

// ---------------------------------------------------------------------------------------------------------
// Kept parameter values

namespace {

bool IsBlobOrArray(const TIB_Column& Column) {
  const int t = Column.GetSQLType() & ~1;
  return t == SQL_BLOB || t == SQL_ARRAY;
}

bool IsDateTimeType(const TIB_Column& Column) {
  const int t = Column.GetSQLType() & ~1;
  return t == SQL_TIMESTAMP || t == SQL_TYPE_DATE || t == SQL_TYPE_TIME;
}

}  // namespace

void TIB_Statement::KeepParamValues() {
  if (FParams->GetColumnCount() == 0) return;
  auto update = MakeBracket(FParamValues, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
  {
    FParamValues.Clear();
    FKeptParams.clear();
    for (int i = 0; i < FParams->GetColumnCount(); ++i) {
      TIB_Column* c = FParams->GetColumns(i);
      if (!c || c->GetIsNull() || IsBlobOrArray(*c)) continue;
      const std::string name = c->GetBestName();
      TKeptParam kept;
      kept.Text = IsDateTimeType(*c) ? DateTimeToTimestampText(c->GetAsDateTime()) : c->GetAsString();
      kept.SQLType = static_cast<int16_t>(c->GetSQLType() & ~1);
      kept.SQLScale = c->GetSQLScale();
      kept.SQLSubType = c->GetSQLSubType();
      kept.SQLLen = c->GetSQLLen();
      kept.Data = c->GetColData();
      kept.Value = c->GetAsVariant();
      FParamValues.Add(name + "=" + kept.Text);
      FKeptParams[UpperCase(name)] = std::move(kept);
    }
  }
  update.End();
}

void TIB_Statement::RestoreParamValues() {
  if (FParams->GetColumnCount() == 0) return;
  for (int i = 0; i < FParams->GetColumnCount(); ++i) {
    TIB_Column* c = FParams->GetColumns(i);
    if (!c) continue;
    const std::string name = c->GetBestName();
    const int idx = FParamValues.IndexOfName(name);
    if (idx < 0) continue;
    const std::string text = FParamValues.GetValueFromIndex(idx);
    auto kept = FKeptParams.find(UpperCase(name));
    if (kept != FKeptParams.end() && kept->second.Text == text) {
      const TKeptParam& k = kept->second;
      // The value this statement held: restored exactly, by its bytes when the type is unchanged.
      if (!k.Data.empty() && k.SQLType == (c->GetSQLType() & ~1) && k.SQLScale == c->GetSQLScale() &&
          k.SQLLen == c->GetSQLLen() && k.SQLSubType == c->GetSQLSubType()) {
        c->BeforeModify();
        c->SetColData(k.Data);
        c->AfterModify();
      } else {
        c->SetAsVariant(k.Value);
      }
    } else if (IsDateTimeType(*c)) {
      c->SetAsDateTime(TimestampTextToDateTime(text));
    } else {
      c->SetAsString(text);
    }
    FParamValues.Delete(idx);
    if (kept != FKeptParams.end()) FKeptParams.erase(kept);
  }
  for (int i = 0; i < FBuildParams.Count(); ++i) {
    const std::string name = FBuildParams.GetName(i);
    if (name.empty()) continue;
    TIB_Column* c = nullptr;
    if (!FParams->FindByName(name, c) || !c) continue;
    const std::string value = FBuildParams.GetValueFromIndex(i);
    if (IsDateTimeType(*c)) {
      c->SetAsDateTime(StrToDateTime(value));
    } else {
      c->SetAsString(value);
    }
  }
}

void TIB_Statement::WriteParamValues(TStrings& Dest) {
  if (FPrepared && FParams->GetColumnCount() > 0) {
    auto update = MakeBracket(Dest, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
    Dest.Clear();
    for (int i = 0; i < FParams->GetColumnCount(); ++i) {
      TIB_Column* c = FParams->GetColumns(i);
      if (!c || c->GetIsNull() || IsBlobOrArray(*c)) continue;
      Dest.Add(c->GetBestName() + "=" +
               (IsDateTimeType(*c) ? DateTimeToTimestampText(c->GetAsDateTime()) : c->GetAsString()));
    }
    update.End();
    return;
  }
  Dest.Assign(FParamValues);
}

void TIB_Statement::ReadParamValues(const TStrings& Source) {
  FKeptParams.clear();
  FParamValues.Assign(Source);
  if (FPrepared) RestoreParamValues();
}

// ---------------------------------------------------------------------------------------------------------
// Preparedness and columns

void TIB_Statement::Prepare() {
  TIB_BusyBracket busy(this);
  PrepareCore();
  busy.End();
}

void TIB_Statement::Unprepare() {
  if (!FPrepared) return;
  TIB_BusyBracket busy(this);
  SysDeallocate(false);
  busy.End();
}

void TIB_Statement::SetPrepared(bool Value) {
  if (Value == FPrepared) return;
  if (Value) {
    Prepare();
  } else {
    Unprepare();
  }
}

bool TIB_Statement::IsPreparedStored() {
  TIB_Session* s = GetBoundSession();
  return s && s->GetStoreActive() && FPrepared && !GetActive();
}

TIB_Column* TIB_Statement::FieldByName(const std::string& Name) {
  SetPrepared(true);
  TIB_Column* c = nullptr;
  if (!GetFields()->FindByName(Name, c) || !c) RaiseNameNotFound(Name);
  return c;
}

TIB_Column* TIB_Statement::FindField(const std::string& Name) {
  TIB_Column* c = nullptr;
  return GetFields()->FindByName(Name, c) ? c : nullptr;
}

TIB_Column* TIB_Statement::ParamByName(const std::string& Name) {
  SetPrepared(true);
  TIB_Column* c = nullptr;
  if (!FParams->FindByName(Name, c) || !c) RaiseNameNotFound(Name);
  return c;
}

TIB_Column* TIB_Statement::FindParam(const std::string& Name) {
  TIB_Column* c = nullptr;
  return FParams->FindByName(Name, c) ? c : nullptr;
}

std::string TIB_Statement::GetKeyRelation() {
  if (FKeyRelation.empty() && FFields->GetRelationCount() == 1) return FFields->GetRelationName(0);
  return FKeyRelation;
}

void TIB_Statement::SetKeyRelation(const std::string& Value) {
  if (Value == FKeyRelation) return;
  if (FPrepared) Unprepare();
  FKeyRelation = Value;
}

// ---------------------------------------------------------------------------------------------------------
// Connection and transaction

TIB_Connection* TIB_Statement::GetIB_Connection() { return FConnectionLink->GetIB_Connection(); }

TIB_Transaction* TIB_Statement::GetIB_Transaction() { return FTransactionLink->GetIB_Transaction(); }

const TIB_AliveFlag* TIB_Statement::TransactionToken() {
  TIB_Transaction* t = FTransactionLink ? FTransactionLink->GetIB_Transaction() : nullptr;
  return t ? &t->GetAlive() : nullptr;
}

TIB_Transaction* TIB_Statement::GetStoredIB_Transaction() {
  TIB_Transaction* t = GetIB_Transaction();
  if (!t || t == FInternalTransaction) return nullptr;
  if (TIB_Connection* c = GetIB_Connection()) {
    if (c->GetDefaultTransaction() == static_cast<TIB_Component*>(t)) return nullptr;
  }
  return t;
}

void TIB_Statement::SetIB_Connection(TIB_Connection* Value) {
  TIB_Connection* old = GetIB_Connection();
  if (Value == old) return;
  if (old) {
    // The handle belongs to the old attachment: it goes back to that connection's cache.
    if (FStmtHandle != 0) SysDeallocate(true);
    TIB_Transaction* t = GetIB_Transaction();
    if (t && old->GetDefaultTransaction() == static_cast<TIB_Component*>(t)) SetIB_Transaction(nullptr);
    old->UnregisterStatement(this);
  }
  FConnectionLink->SetIB_Connection(Value);
  if (FInternalTransaction && GetIB_Transaction() == FInternalTransaction) {
    FInternalTransaction->SetIB_Connection(Value);
  }
  if (Value) {
    Value->RegisterStatement(this);
    FSQLDialect = static_cast<int16_t>(Value->GetSQLDialect());
  }
}

void TIB_Statement::SetIB_Transaction(TIB_Transaction* Value) {
  TIB_Transaction* old = GetIB_Transaction();
  if (Value == old) return;
  if (FPrepared && (!Value || !old || Value->GetConnection(0) != old->GetConnection(0))) SysUnprepare();
  if (old) old->RemoveStatement(this);
  FTransactionLink->SetIB_Transaction(Value);
  if (FInternalTransaction && FInternalTransaction != Value) FreeInternalTransaction();
  if (Value) Value->AddStatement(this);
}

void TIB_Statement::SetDatabaseName(const std::string& Value) {
  FDatabaseName = Value;
  if (TIB_Session* s = GetSession()) {
    if (TIB_Connection* c = s->GetConnectionByDatabaseName(Value)) SetIB_Connection(c);
  }
}

int TIB_Statement::GetSQLDialect() {
  if (FSQLDialect >= 3) return FSQLDialect;
  TIB_Connection* c = GetIB_Connection();
  if (!c) {
    TIB_Session* s = GetSession();
    if (s && !FDatabaseName.empty()) c = s->GetConnectionByDatabaseName(FDatabaseName);
    if (!c && s && s->GetAllowDefaultConnection()) c = s->GetDefaultConnection();
  }
  if (c) {
    const int d = c->GetSQLDialect();
    if (d >= 1) return d;
  }
  return FSQLDialect;
}

isc_db_handle* TIB_Statement::GetDbHandlePtr() {
  TIB_Connection* c = GetIB_Connection();
  return c ? c->GetdbHandle() : nullptr;
}

isc_tr_handle* TIB_Statement::GetTrHandlePtr() {
  TIB_Transaction* t = GetIB_Transaction();
  return t ? t->GetPtrHandle() : nullptr;
}

TIB_Transaction* TIB_Statement::InternalTransaction() {
  if (!FInternalTransaction) {
    auto* t = new TIB_TransactionDefault(this);
    t->SetName("tr" + GetName());
    t->SetAutoCommit(true);
    t->SetIsolation(tiCommitted);
    t->FreeNotification(this);
    FInternalTransaction = t;
  }
  return FInternalTransaction;
}

void TIB_Statement::FreeInternalTransaction() {
  TIB_Transaction* t = FInternalTransaction;
  if (!t) return;
  FInternalTransaction = nullptr;
  if (GetIB_Transaction() == t) {
    t->RemoveStatement(this);
    FTransactionLink->SetIB_Transaction(nullptr);
  }
  t->RemoveFreeNotification(this);
  delete t;
}

void TIB_Statement::ProcessConnectionEvent(TIB_ConnectionLink* /*Link*/, int32_t AEvent) {
  switch (AEvent) {
    case cevLinkLeaving: SysConnectionChanged(0); break;
    case cevLinkJoined:
    case cevAfterConnect: SysConnectionChanged(1); break;
    default: break;
  }
}

void TIB_Statement::SysConnectionChanged(int Flag) {
  if (Flag == 0) {
    if (FPrepared) SysUnprepare();
  } else if (Flag == 1) {
    TIB_Connection* c = GetIB_Connection();
    FSQLDialect = static_cast<int16_t>(c ? c->GetSQLDialect() : 1);
  }
}

void TIB_Statement::TransactionLinkEvent(uint8_t AEvent) {
  if (AEvent == tleLinkBeforeLeave) SysTransactionChanged(false);
  SysTransactionNotice(AEvent);
}

void TIB_Statement::SysTransactionChanged(bool Keep) {
  if (!FPrepared || Keep) return;
  TIB_Transaction* incoming = FTransactionLink->GetIncomingTransaction();
  TIB_Connection* c = GetIB_Connection();
  if (incoming && c && incoming->GetConnectionIndex(c) >= 0) return;
  SysUnprepare();
}

void TIB_Statement::DeallocateForConnection() { SysDeallocate(true); }

void TIB_Statement::FinishDeferredPrepare() {
  if (FDeferredPrepare && PrepareCore()) FDeferredPrepare = false;
}

// ---------------------------------------------------------------------------------------------------------
// Columns

bool TIB_Statement::DoCreateColumn(TIB_Row&, int16_t, XSQLVAR&, TIB_Column*&) { return false; }

std::string TIB_Statement::GetColumnAttributesValue(TIB_AttributeLevel Level, const std::string& Key) {
  if (Level == alStatement) return FColumnAttributes.GetLinkValueByName(Key);
  TIB_Connection* c = GetIB_Connection();
  return c ? c->GetColumnAttributes().GetLinkValueByName(Key) : std::string();
}

bool TIB_Statement::HasConnectionColumnAttributes() {
  TIB_Connection* c = GetIB_Connection();
  return c && c->GetColumnAttributes().Count() > 0;
}

bool TIB_Statement::GetDomainNameEntries() {
  TIB_Connection* c = GetIB_Connection();
  return c && (c->FieldEntryTypes & (1u << fetDomainName)) != 0;
}

bool TIB_Statement::GetDefaultNoCase() {
  TIB_Connection* c = GetIB_Connection();
  return c && c->DefaultNoCase;
}

bool TIB_Statement::GetDefaultNoTrailing() {
  TIB_Connection* c = GetIB_Connection();
  return c && c->DefaultNoTrailing;
}

std::string TIB_Statement::GetColumnAttributeValue(TIB_Column& Column, const std::string& Attribute) {
  bool found = false;
  return Column.GetAttributeParam(Attribute, found);
}

bool TIB_Statement::HasColumnAttribute(TIB_Column& Column, const std::string& Attribute) {
  return Column.HasAttribute(Attribute);
}

// Domain names and the computed/defaulted lists come from the connection's schema cache.
std::string TIB_Statement::GetFieldDomain(const std::string& RelName, const std::string& SQLName) {
  TIB_Connection* c = GetIB_Connection();
  TIB_ConnectionSchemaCache* cache = c ? c->GetSchemaCache() : nullptr;
  return cache ? cache->GetFieldSource(RelName, SQLName) : std::string();
}

// Entry is FIELD,RELATION.
bool TIB_Statement::SchemaListContains(TIB_SchemaColumnList List, const std::string& Entry) {
  TIB_Connection* c = GetIB_Connection();
  TIB_ConnectionSchemaCache* cache = c ? c->GetSchemaCache() : nullptr;
  const size_t comma = Entry.rfind(',');
  if (!cache || comma == std::string::npos) return false;
  if (List == sclIdentity) {
    std::string rel, field;
    StripQuotes(Trim(Entry.substr(comma + 1)), rel);
    StripQuotes(Trim(Entry.substr(0, comma)), field);
    return !cache->GetIdentityGenerator(rel, field).empty();
  }
  return cache->IsColumnListed(List == sclComputed ? slComputed : slDefaults, Entry.substr(comma + 1),
                               Entry.substr(0, comma));
}

void TIB_Statement::GetColumnReadOnly(TIB_Column& Column, bool& ReadOnly) {
  if (ReadOnly) return;
  const std::string rel = Column.GetRelName();
  const std::string field = Column.GetSQLName();
  if (rel.empty() || field.empty() || SameText(field, "DB_KEY") || SameText(field, "RDB$DB_KEY")) {
    ReadOnly = true;
    return;
  }
  if (Column.GetComputed()) return;
  const std::string key = GetKeyRelation();
  if (!key.empty() && !SameText(key, rel)) ReadOnly = true;
}

void TIB_Statement::GetColumnPreventChange(TIB_Column&, bool&) {}

void TIB_Statement::DoCalculateField(TIB_Row& Row, TIB_Column& Column) {
  if (FPrepared && OnCalculateField && CanFireEvents()) CallOutWatching(OnCalculateField, this, &Row, &Column);
}

void TIB_Statement::DoValidateField(TIB_Row& Row, TIB_Column& Column) {
  if (OnValidateField && CanFireEvents()) CallOutWatching(OnValidateField, this, &Row, &Column);
}

void TIB_Statement::SysCalculateFields() {
  if (FPrepared) FFields->CalculateFields();
}

void TIB_Statement::SetFieldsListValue(TIB_FieldsList List, const std::string& Key, const std::string& Value) {
  TIB_StringProperty& list = FFieldsLists[List == flDisplayWidth ? fplDisplayWidth : fplEditMask];
  // The column already carries the value: the list only records it, with its change handler set aside.
  TValueRestorer<TNotifyEvent> quiet(list.OnChange, nullptr);
  list.SetLinkValueByName(Key, Value);
}

void TIB_Statement::ColumnOrderChanged(TIB_Row& Row) {
  if (!FWritingFieldsIndex && &Row == FFields.get()) {
    // The list records the order the row already has: its change handler is set aside meanwhile.
    TIB_StringProperty& list = FFieldsLists[fplIndex];
    TValueRestorer<TNotifyEvent> quiet(list.OnChange, nullptr);
    auto update = MakeBracket(list, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
    list.Clear();
    for (int i = 0; i < Row.GetColumnCount(); ++i) list.Add(Row.GetColumns(i)->GetFullName() + "=" + IntToStr(i));
    update.End();
  }
  DoLayoutChanged();
}

bool TIB_Statement::FindOrderingLink(const std::string&, std::string& Value) {
  Value.clear();
  return false;
}

void TIB_Statement::FocusColumn(TIB_Column& Column) {
  ProcessLinkEvent(sleFocusColumn, reinterpret_cast<intptr_t>(&Column));
}

void TIB_Statement::SysParamsChanged(TIB_Column*) {}

bool TIB_Statement::GetRowChangesHeard(const TIB_Row& Row) {
  return FParamChangesHeard || &Row != FParams.get() || !FStatementLinks.empty() || OnValidateField ||
         GetOwningStatement();
}

void TIB_Statement::DoLinkEvent22(TIB_Column* Column) {
  ProcessLinkEvent(sleDataChange, reinterpret_cast<intptr_t>(Column));
}

// ---------------------------------------------------------------------------------------------------------
// Column property lists

std::string TIB_Statement::LookupFieldsValue(TIB_FieldsPropertyList List, TIB_Column& Column, bool& Found) {
  Found = false;
  const std::string full = Column.GetFullName();
  TIB_StringProperty& own = FFieldsLists[List];
  if (own.Count() > 0) {
    const int idx = own.IndexOfLinkName(full);
    if (idx >= 0) {
      Found = true;
      return own.GetLinkValue(idx);
    }
  }
  if (List == fplIndex) return std::string();
  TIB_Connection* c = GetIB_Connection();
  if (!c) return std::string();
  TIB_StringProperty* conn = nullptr;
  switch (List) {
    case fplAlignment: conn = &c->GetFieldsAlignment(); break;
    case fplCharCase: conn = &c->GetFieldsCharCase(); break;
    case fplDisplayFormat: conn = &c->GetFieldsDisplayFormat(); break;
    case fplDisplayLabel: conn = &c->GetFieldsDisplayLabel(); break;
    case fplGridLabel: conn = &c->GetFieldsGridLabel(); break;
    case fplDisplayWidth: conn = &c->GetFieldsDisplayWidth(); break;
    case fplEditMask: conn = &c->GetFieldsEditMask(); break;
    case fplReadOnly: conn = &c->GetFieldsReadOnly(); break;
    case fplTrimming: conn = &c->GetFieldsTrimming(); break;
    case fplVisible: conn = &c->GetFieldsVisible(); break;
    default: return std::string();
  }
  if (conn->Count() == 0) return std::string();
  auto tryKey = [&](const std::string& Key) {
    if (Key.empty()) return false;
    const int idx = conn->IndexOfLinkName(Key);
    if (idx < 0) return false;
    Found = true;
    return true;
  };
  std::string key = full;
  if (!tryKey(key) && (c->FieldEntryTypes & (1u << fetDomainName))) {
    key = Column.GetDomainName();
    tryKey(key);
  }
  if (!Found && (c->FieldEntryTypes & (1u << fetSQLType))) {
    key = Column.GetSQLTypeSource();
    const size_t paren = key.find('(');
    if (paren != std::string::npos) key.resize(paren);
    key = Trim(key);
    tryKey(key);
  }
  return Found ? conn->GetLinkValue(conn->IndexOfLinkName(key)) : std::string();
}

void TIB_Statement::ApplyFieldsProperty(TIB_FieldsPropertyList List, TIB_Column& Column) {
  bool found = false;
  const std::string value = LookupFieldsValue(List, Column, found);
  const char first = value.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
  switch (List) {
    case fplAlignment:
      // Without an entry of its own (one removed, too) the column's type decides again.
      if (found && first == 'C') {
        Column.SetAlignment(2);
      } else if (found && first == 'L') {
        Column.SetAlignment(0);
      } else if (found && first == 'R') {
        Column.SetAlignment(1);
      } else {
        Column.ResetAlignment();
      }
      break;
    case fplCharCase: Column.SetCharCase(first == 'U' ? 1 : first == 'L' ? 2 : first == 'P' ? 3 : 0); break;
    case fplDisplayFormat: Column.SetDisplayFormat(value); break;
    case fplDisplayLabel: Column.SetDisplayLabel(value); break;
    case fplGridLabel: Column.SetGridLabel(value); break;
    case fplEditMask: Column.SetEditMask(value); break;
    case fplDisplayWidth: {
      int32_t width = -1;
      if (!Trim(value).empty()) width = StrToIntDef(Trim(value), -1);
      Column.SetDisplayWidthSetting(width);
      break;
    }
    case fplIndex:
      if (found) {
        const int32_t index = StrToIntDef(Trim(value), -1);
        const int cur = FFields->IndexOfColumn(&Column);
        if (index >= 0 && index < FFields->GetColumnCount() && cur >= 0 && cur != index) {
          TValueRestorer<bool> writing(FWritingFieldsIndex, true);
          FFields->MoveColumn(cur, index);
        }
      }
      break;
    case fplReadOnly: {
      auto has = [](const std::string& Text, const char* Word) {
        return UpperCase(Text).find(Word) != std::string::npos;
      };
      bool readOnly = first == 'T';
      bool noEdit = has(value, "NOEDIT"), noInsert = has(value, "NOINSERT"), noSearch = has(value, "NOSEARCH");
      // What the statement's own entry leaves false comes from the connection's list.
      TIB_Connection* c = GetIB_Connection();
      if (c && FFieldsLists[fplReadOnly].IndexOfLinkName(Column.GetFullName()) >= 0) {
        const std::string cv = c->GetFieldsReadOnly().GetLinkValueByName(Column.GetFullName());
        const char cf = cv.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(cv[0])));
        readOnly = readOnly || cf == 'T';
        noEdit = noEdit || has(cv, "NOEDIT");
        noInsert = noInsert || has(cv, "NOINSERT");
        noSearch = noSearch || has(cv, "NOSEARCH");
      }
      Column.SetReadOnly(readOnly);
      Column.SetPreventEditing(noEdit);
      Column.SetPreventInserting(noInsert);
      Column.SetPreventSearching(noSearch);
      break;
    }
    case fplTrimming:
      if (!found) {
        Column.SetTrimming((Column.GetSQLType() & ~1) == SQL_TEXT ? 4 : 0);
      } else {
        switch (first) {
          case 'A': Column.SetTrimming(1); break;
          case 'B': Column.SetTrimming(2); break;
          case 'L': Column.SetTrimming(3); break;
          case 'N': Column.SetTrimming(0); break;
          case 'R': Column.SetTrimming(4); break;
          case 'S': Column.SetTrimming(5); break;
          default: break;
        }
      }
      break;
    case fplVisible: Column.SetVisible(first != 'F'); break;
  }
}

void TIB_Statement::ApplyFieldsProperties(int OnlyList) {
  TIB_Row* row = FFields.get();
  if (row->GetColumnCount() == 0) return;
  {
    // The layout notice waits until every list is applied: the last one out sends it.
    TCountGuard<int32_t> hold(FLayoutHold);
    const std::vector<TIB_Column*> columns = [&] {
      std::vector<TIB_Column*> v;
      for (int i = 0; i < row->GetColumnCount(); ++i) v.push_back(row->GetColumns(i));
      return v;
    }();
    for (int l = 0; l < IB_FieldsPropertyListCount; ++l) {
      if (OnlyList >= 0 && l != OnlyList) continue;
      for (TIB_Column* c : columns) ApplyFieldsProperty(static_cast<TIB_FieldsPropertyList>(l), *c);
    }
    // The NOTIME / NODATE formats fall back on the display format applied just above.
    if (OnlyList < 0 || OnlyList == fplDisplayFormat) {
      for (TIB_Column* c : columns) c->InitDateTimeFormats();
    }
  }
  if (FLayoutHold == 0) DoLayoutChanged();
}

void TIB_Statement::FieldsPropertyChanged(TIB_FieldsPropertyList List) {
  if (!FPrepared) return;
  ApplyFieldsProperties(List);
}

void TIB_Statement::DoLayoutChanged() {
  if (FLayoutHold > 0) return;
  ProcessLinkEvent(sleLayoutChanged);
  Fire(OnLayoutChanged);
}

// ---------------------------------------------------------------------------------------------------------
// Statement links

TIB_StatementLink* TIB_Statement::GetStatementLink(int Index) const {
  if (Index < 0 || Index >= Get_StatementLinkCount()) return nullptr;
  return FStatementLinks[static_cast<size_t>(Index)];
}

namespace {

// The walk of DispatchLinkEvent. A link's handler may destroy the statement (Alive is its token), and
// with it the list: the walk then ends with the silent abort.
void DispatchLinkEventTo(const TIB_AliveFlag& Alive, const std::vector<TIB_StatementLink*>& Links, int32_t AEvent,
                         intptr_t AArg) {
  const TIB_AliveFlag alive = Alive;
  const std::vector<TIB_StatementLink*> snapshot = Links;
  for (TIB_StatementLink* link : snapshot) {
    // A link that an earlier one's handler removed hears nothing more.
    if (std::find(Links.begin(), Links.end(), link) == Links.end()) continue;
    link->ProcessEvent(AEvent, AArg);
    IB_CheckAlive(alive);
  }
}

}  // namespace

// Out of line so that the common case, a statement without links (several notices per execute), costs
// a test and no call.
void TIB_Statement::DispatchLinkEvent(int32_t AEvent, intptr_t AArg) {
  DispatchLinkEventTo(FAlive, FStatementLinks, AEvent, AArg);
}

void TIB_Statement::UpdateData() { ProcessLinkEvent(sleUpdateData); }

// ---------------------------------------------------------------------------------------------------------
// Errors

void TIB_Statement::DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes,
                                  int32_t SQLCODE, TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) {
  if (FPreparing) {
    TStringList lines;
    lines.SetText(MaskSQLPasswords(FServerSQL));  // never a password in an error text
    ErrorMessage.AddStrings(lines);
  }
  std::string line = IB_ClassName(this) + ": \"";
  if (GetOwner() && !GetOwner()->GetName().empty()) line += GetOwner()->GetName() + ".";
  line += GetName() + "\"";
  TIB_Session* s = GetBoundSession();
  if (s && s->GetMonitorHooked()) line += " stHandle=" + std::to_string(FStmtHandle) + " (ERROR)";
  SQL.Add("");
  SQL.Add("STATEMENT:");
  SQL.Add(line);
  // The handlers of the statement, its transaction and its connection may each destroy the statement:
  // the silent abort then, before the next one is asked.
  const TIB_AliveFlag alive = FAlive;
  TIB_Component::DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
  if (RaiseException) {
    if (TIB_Transaction* t = GetIB_Transaction()) {
      t->DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
      IB_CheckAlive(alive);
    }
  }
  if (RaiseException) {
    if (TIB_Connection* c = GetIB_Connection()) {
      c->DoHandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
      IB_CheckAlive(alive);
    }
  }
}
