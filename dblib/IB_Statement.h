// The statement: one SQL text prepared at the server, its parameters and its output columns.
//
// TIB_Statement owns its SQL text, takes a statement handle from its connection's cache, finds or
// makes the transaction it runs in, builds the text the server sees (named parameters become '?'),
// prepares and describes it into the params and fields rows, and executes it by its statement type.
// Every dataset class derives from it and overrides the Sys* steps; TIB_DSQL is the public form for
// statements that return at most one row.
//
// Ownership: a statement owns its three rows (params, fields, key), its SQL and property lists, its
// connection link and transaction link, and the internal transaction it makes when it is given none.
// Columns belong to the rows and live only until the next prepare or unprepare: do not keep a
// TIB_Column pointer across either.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dblib/IB_Connection.h"
#include "dblib/sql/IB_Parse.h"
#include "dblib/IB_Session.h"
#include "dblib/IB_StringList.h"
#include "dblib/data/IB_Row.h"
#include "dblib/data/IB_RowStatement.h"

class TIB_Statement;
class TIB_StatementLink;
class TIB_Transaction;
class TIB_TransactionStatementLink;
class TIB_Column;
class TIB_BlobStream;

using TIB_StatementEvent = std::function<void(TIB_Statement* Sender)>;
using TIB_RowFieldEvent = std::function<void(TIB_Statement* Sender, TIB_Row* ARow, TIB_Column* AField)>;
// Gives the text of the macro MacroName of the SQL text.
using TIB_MacroSubstituteEvent =
    std::function<void(TIB_Statement* Sender, const std::string& MacroName, std::string& TextResult)>;

// isc_info_sql_stmt codes of the client API: the kinds of statement the server reports.
enum : uint8_t {
  stUnknown = 0,
  stSelect = 1,
  stInsert = 2,
  stUpdate = 3,
  stDelete = 4,
  stDDL = 5,
  stGetSegment = 6,
  stPutSegment = 7,
  stExecProcedure = 8,
  stStartTrans = 9,
  stCommit = 10,
  stRollback = 11,
  stSelectForUpdate = 12,
  stSetGenerator = 13,
  stSavePoint = 14,
};

// Statement-link event codes.
enum : int32_t {
  sleBeforeLeave = 0,
  sleAfterJoin = 1,
  sleBeforePrepare = 2,
  sleAfterPrepare = 3,
  sleBeforeUnprepare = 4,
  sleAfterUnprepare = 5,
  sleBeforeExecute = 6,
  sleAfterExecute = 7,
  sleBeforeExecDML = 8,
  sleAfterExecDML = 9,
  sleBeforeExecDDL = 10,
  sleAfterExecDDL = 11,
  slePreparedChanged = 12,
  sleActiveChange = 13,
  sleLayoutChanged = 15,
  sleParamsStateChanged = 17,
  sleBeforeExecuteWithParams = 19,
  sleColumnsReleased = 20,
  sleFieldsStateChanged = 21,
  sleDataChange = 22,
  sleUpdateData = 23,
  sleColumnsRebind = 24,
  sleFocusColumn = 27,  // a column asks the control that shows it to take the focus (argument: the column)
  sleHintsChanged = 32,
};

// The SQL text of a statement. Assigning another statement's SQL also brings its parameter values and
// its column property lists along.
class TIB_SQLStrings : public TIB_StringList {
public:
  explicit TIB_SQLStrings(TIB_Statement* AStatement) : FStatement(AStatement) {}
  TIB_Statement* GetStatement() const noexcept { return FStatement; }

  void Assign(const TStrings& Source) override;
  // Assigning nil clears.
  void AssignFrom(const TStrings* Source);
  // Hands the assignment to Dest's own Assign (nothing for nil).
  void AssignTo(TStrings* Dest) const;

private:
  TIB_Statement* FStatement;
};

// The eleven per-column property lists, in their order.
enum TIB_FieldsPropertyList : uint8_t {
  fplAlignment,
  fplCharCase,
  fplDisplayFormat,
  fplDisplayLabel,
  fplGridLabel,
  fplDisplayWidth,
  fplEditMask,
  fplIndex,
  fplReadOnly,
  fplTrimming,
  fplVisible,
};
inline constexpr int IB_FieldsPropertyListCount = 11;

class TIB_Statement : public TIB_Component,
                      public TIB_RowStatement,
                      public TIB_ConnectionStatementSite,
                      public TIB_ConnectionNoticeReceiver {
public:
  explicit TIB_Statement(TComponent* AOwner);
  ~TIB_Statement() override;
  // Unprepares (the handle goes back to the connection's cache), lets go of the connection and the
  // transaction, detaches every statement link. Never raises.
  void BeforeDestruction() override;
  void Loaded() override;
  void SetSession(TIB_Session* ASession) override;

  // ---- SQL text ------------------------------------------------------------------------------------
  virtual TIB_SQLStrings& GetSQL() { return *FSQL; }
  // From a TIB_SQLStrings: its Assign; from any other list: its text; nil clears.
  virtual void SetSQL(const TStrings* Value);
  // The text sent to the server at the next (or last) prepare; '?' in place of the named parameters.
  const std::string& GetServerSQL() const noexcept { return FServerSQL; }
  const std::string& GetPreparedSQL() const noexcept { return FPreparedSQL; }
  const std::string& GetSourceSQL() const noexcept { return FSourceSQL; }
  bool GetSQLChanged() const noexcept { return FPreparedSQL != FServerSQL; }
  // The SQL or anything that shapes the server text changed: the next PrepareCore prepares again.
  void InvalidateSQL();
  bool GetSQLIsValid() const noexcept { return FSQLValid; }

  bool GetParamCheck() const noexcept { return FParamCheck; }
  void SetParamCheck(bool Value);
  char GetParamChar() const noexcept { return FParamChar; }
  void SetParamChar(char Value);
  char GetMacroBegin() const noexcept { return FMacroBegin; }
  char GetMacroEnd() const noexcept { return FMacroEnd; }
  void SetMacroBegin(char Value) { FMacroBegin = Value; }
  void SetMacroEnd(char Value) { FMacroEnd = Value; }

  bool GetKeepSQLHistory() const noexcept { return FKeepSQLHistory; }
  void SetKeepSQLHistory(bool Value) { FKeepSQLHistory = Value; }
  TIB_StringList& GetSQLHistory() noexcept { return FSQLHistory; }
  int32_t GetSQLHistoryPos() const noexcept { return FSQLHistoryPos; }
  void SetSQLHistoryPos(int32_t Value) { FSQLHistoryPos = Value; }

  // ---- lists ---------------------------------------------------------------------------------------
  TIB_StringProperty& GetJoinLinks() noexcept { return FJoinLinks; }
  TIB_StringProperty& GetHints() noexcept { return FHints; }
  TIB_StringProperty& GetCalculatedFieldsList() noexcept { return FCalculatedFields; }
  TIB_StringProperty& GetColumnAttributes() noexcept { return FColumnAttributes; }
  void SetCalculatedFields(const TStrings& Value) { FCalculatedFields.Assign(Value); }
  void SetColumnAttributes(const TStrings& Value) { FColumnAttributes.Assign(Value); }
  TIB_StringProperty& GetFieldsList(TIB_FieldsPropertyList List) { return FFieldsLists[List]; }
  TIB_StringProperty& GetFieldsAlignment() { return FFieldsLists[fplAlignment]; }
  TIB_StringProperty& GetFieldsCharCase() { return FFieldsLists[fplCharCase]; }
  TIB_StringProperty& GetFieldsDisplayFormat() { return FFieldsLists[fplDisplayFormat]; }
  TIB_StringProperty& GetFieldsDisplayLabel() { return FFieldsLists[fplDisplayLabel]; }
  TIB_StringProperty& GetFieldsGridLabel() { return FFieldsLists[fplGridLabel]; }
  TIB_StringProperty& GetFieldsDisplayWidth() { return FFieldsLists[fplDisplayWidth]; }
  TIB_StringProperty& GetFieldsEditMask() { return FFieldsLists[fplEditMask]; }
  TIB_StringProperty& GetFieldsIndex() { return FFieldsLists[fplIndex]; }
  TIB_StringProperty& GetFieldsReadOnly() { return FFieldsLists[fplReadOnly]; }
  TIB_StringProperty& GetFieldsTrimming() { return FFieldsLists[fplTrimming]; }
  TIB_StringProperty& GetFieldsVisible() { return FFieldsLists[fplVisible]; }
  // The analysis lists of the last scan of the SQL text.
  const TIB_StringList& GetParamNameList() const noexcept { return FParamNames; }
  const TIB_StringList& GetSelectColumnList() const noexcept { return FSelectColumns; }
  // NAME=VALUE items that SQL-building hooks add for parameters they introduce.
  TIB_StringProperty& GetBuildParams() noexcept { return FBuildParams; }

  // Parameter values kept across a re-prepare or unprepare, NAME=TEXT per parameter. A value kept from
  // a parameter of this statement is restored with its type and full precision, not through the text.
  TIB_StringProperty& GetParamValues() noexcept { return FParamValues; }
  // The stored form's "ParamValues": the current values when prepared with parameters, else the list.
  void WriteParamValues(TStrings& Dest);
  void ReadParamValues(const TStrings& Source);

  // ---- preparing -----------------------------------------------------------------------------------
  void Prepare() override;
  void Unprepare();
  bool GetPrepared() override { return FPrepared; }
  void SetPrepared(bool Value);
  bool IsPreparedStored();

  TIB_Row* GetParams() const noexcept { return FParams.get(); }
  virtual TIB_Row* GetFields() { return FFields.get(); }
  TIB_Row* GetKeyFields() const noexcept { return FKeyFields.get(); }
  int GetFieldCount() { return GetFields()->GetColumnCount(); }
  int GetParamCount() const { return FParams->GetColumnCount(); }
  // Prepares, then the column; EIB_StatementError "FieldName: %s not found" when missing.
  TIB_Column* FieldByName(const std::string& Name);
  TIB_Column* FindField(const std::string& Name);
  virtual TIB_Column* ParamByName(const std::string& Name);
  TIB_Column* FindParam(const std::string& Name);

  // ---- connection and transaction ------------------------------------------------------------------
  virtual TIB_Connection* GetIB_Connection();
  virtual void SetIB_Connection(TIB_Connection* Value);
  virtual TIB_Transaction* GetIB_Transaction();
  virtual void SetIB_Transaction(TIB_Transaction* Value);
  // Nil for the internal transaction and for the connection's default transaction (not stored).
  TIB_Transaction* GetStoredIB_Transaction();
  TIB_Transaction* GetInternalTransaction() const noexcept { return FInternalTransaction; }
  const std::string& GetDatabaseName() const noexcept { return FDatabaseName; }
  virtual void SetDatabaseName(const std::string& Value);
  int GetSQLDialect() override;
  isc_db_handle* GetDbHandlePtr();
  isc_tr_handle* GetTrHandlePtr();
  isc_stmt_handle* GetStmtHandlePtr() noexcept { return &FStmtHandle; }
  isc_stmt_handle GetStmtHandle() const noexcept { return FStmtHandle; }

  virtual std::string GetKeyRelation();
  void SetKeyRelation(const std::string& Value);

  bool GetActivateTransactionForProcedures() const noexcept { return FActivateTransactionForProcedures; }
  void SetActivateTransactionForProcedures(bool Value) { FActivateTransactionForProcedures = Value; }

  // ---- execution -----------------------------------------------------------------------------------
  virtual void Execute();
  // Runs SQL without preparing this statement; InRow and OutRow may be null.
  void ExecuteImmediate(const std::string& SQL, XSQLDA* InRow = nullptr, XSQLDA* OutRow = nullptr);
  virtual bool GetActive() { return FActive; }
  virtual void SetActive(bool Value);
  virtual uint8_t GetStatementType();
  bool GetIsSelectSQL() { return GetStatementType() == stSelect || GetStatementType() == stSelectForUpdate; }
  int32_t GetRowsAffected();
  // The server's four counts of the last execute: updates, deletes, selects, inserts.
  std::array<int32_t, 4> GetRecordCounts();
  int64_t Gen_ID(const std::string& GeneratorName, int64_t Increment);
  bool SQLIsAggregate();
  bool SQLIsSelectProc();
  void UpdateData();

  // ---- columns -------------------------------------------------------------------------------------
  std::string GetColumnAttributeValue(TIB_Column& Column, const std::string& Attribute);
  bool HasColumnAttribute(TIB_Column& Column, const std::string& Attribute);
  void CalculateFields() { SysCalculateFields(); }
  // Blob and array values (IB_StatementBlob.cpp).
  void LoadBlobNode(TIB_Column& Column, TIB_BlobNode* Node) override;
  void StoreBlobNode(TIB_Column& Column, TIB_BlobNode& Node) override;
  int64_t GetBlobLength(TIB_Column& Column, const ISC_QUAD& Id) override;
  bool LookupArrayBounds(TIB_Column& Column, ISC_ARRAY_DESC& Desc) override;
  // A stream over the value of blob or array column Column: Mode 0 reads, 1 replaces the value, 2 reads
  // and modifies. The stream must be freed before Column's row moves to another value or is described again.
  std::unique_ptr<TIB_BlobStream> CreateBlobStream(TIB_Column* Column, uint8_t Mode);

  // ---- statement links -----------------------------------------------------------------------------
  int32_t Get_StatementLinkCount() const noexcept { return static_cast<int32_t>(FStatementLinks.size()); }
  bool HasStatementLinks() const noexcept { return !FStatementLinks.empty(); }
  TIB_StatementLink* GetStatementLink(int Index) const;
  // Sends AEvent to every statement link, over a snapshot of the list: a link that leaves during the
  // walk is not called after it left, and none is skipped.
  void ProcessLinkEvent(int32_t AEvent, intptr_t AArg = 0) {
    if (!FStatementLinks.empty()) DispatchLinkEvent(AEvent, AArg);
  }

  // ---- TIB_RowStatement ----------------------------------------------------------------------------
  TIB_RowStatement* GetOwningStatement() override { return nullptr; }
  void SysDescribeFields(TIB_Row& Row) override;
  const TStrings& GetCalculatedFields() override { return FCalculatedFields; }
  const TStrings& GetParamNames() override { return FParamNames; }
  int GetParamNameCount() override { return FParamNameCount; }
  bool DoCreateColumn(TIB_Row& Row, int16_t FieldNo, XSQLVAR& Var, TIB_Column*& Column) override;
  std::string GetColumnAttributesValue(TIB_AttributeLevel Level, const std::string& Key) override;
  bool HasConnectionColumnAttributes() override;
  bool GetDomainNameEntries() override;
  bool GetDefaultNoCase() override;
  bool GetDefaultNoTrailing() override;
  std::string GetFieldDomain(const std::string& RelName, const std::string& SQLName) override;
  bool SchemaListContains(TIB_SchemaColumnList List, const std::string& Entry) override;
  void GetColumnReadOnly(TIB_Column& Column, bool& ReadOnly) override;
  void GetColumnPreventChange(TIB_Column& Column, bool& Prevent) override;
  bool GetCalculatingFields() override { return false; }
  void DoCalculateField(TIB_Row& Row, TIB_Column& Column) override;
  void DoValidateField(TIB_Row& Row, TIB_Column& Column) override;
  bool GetRowChangesHeard(const TIB_Row& Row) override;
  void SetFieldsListValue(TIB_FieldsList List, const std::string& Key, const std::string& Value) override;
  void ColumnOrderChanged(TIB_Row& Row) override;
  bool FindOrderingLink(const std::string& Name, std::string& Value) override;
  void FocusColumn(TIB_Column& Column) override;

  // ---- what the connection asks ----------------------------------------------------------------------
  void DeallocateForConnection() override;
  void FinishDeferredPrepare() override;
  void ProcessConnectionEvent(TIB_ConnectionLink* Link, int32_t AEvent) override;

  void DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes, int32_t SQLCODE,
                     TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) override;

  // ---- events --------------------------------------------------------------------------------------
  TIB_StatementEvent BeforePrepare, AfterPrepare, BeforeUnprepare, AfterUnprepare, BeforeExecute, AfterExecute,
      BeforeExecDDL, AfterExecDDL, BeforeExecDML, AfterExecDML, OnPrepareSQL, OnPreparedChanged, OnActiveChange,
      OnLayoutChanged, OnInvalidateSQL;
  TIB_RowFieldEvent OnCalculateField;
  TIB_RowFieldEvent OnValidateField;
  TIB_BlobCallbackEvent OnBlobCallback;
  TIB_MacroSubstituteEvent OnMacroSubstitute;

  // ---- the prepare and execute steps (datasets override them) -----------------------------------------
  // Prepares when needed; returns Prepared.
  virtual bool PrepareCore();
  virtual bool SysCheckConnection(bool Raise);
  virtual bool SysCheckTransaction(bool Raise);
  // Unprepares and gives the handle back (to the connection's cache with CacheHandle).
  void SysDeallocate(bool CacheHandle);
  virtual void SysClose();
  virtual void SysUnprepare();

protected:
  friend class TIB_SQLStrings;
  friend class TIB_StatementLink;
  friend class TIB_TransactionStatementLink;

  void Notification(TComponent* AComponent, TOperation Operation) override;
  bool CanFireEvents() const;
  // The token of the statement's transaction (nil without one).
  const TIB_AliveFlag* TransactionToken();
  // Calls an application's handler through IB_CallOut watching the statement and its transaction: the
  // silent abort when the handler destroyed either.
  template <class H, class... A>
  decltype(auto) CallOutWatching(const H& Handler, A&&... Args) {
    if (const TIB_AliveFlag* t = TransactionToken()) return IB_CallOut({FAlive, *t}, Handler, std::forward<A>(Args)...);
    return IB_CallOut(FAlive, Handler, std::forward<A>(Args)...);
  }
  void Fire(const TIB_StatementEvent& Event) {
    if (Event && CanFireEvents()) CallOutWatching(Event, this);
  }

  // Prepare.
  virtual bool SysAllocateHandle();
  virtual void SysPrepare();
  virtual void SysPrepareSQL();
  virtual void SysSubstituteMacros();
  virtual void DoPrepareSQL();
  virtual bool SysNeedPlan() { return false; }
  virtual void SysBuildPlan() {}
  virtual void SysBuildForUpdate() {}
  virtual void SysBuildSelect() {}
  virtual void SysAllocateRows();
  virtual void SysResetDescription();
  // Prepares Text at the server and describes it; returns the status and the two described counts.
  virtual ISC_STATUS API_Prepare(const std::string& Text, int32_t& InCount, int32_t& OutCount);
  virtual void DoBeforePrepare();
  virtual void DoAfterPrepare();
  virtual void DoBeforeUnprepare();
  virtual void DoAfterUnprepare();
  virtual void DoPreparedChanged();
  virtual void DoLayoutChanged();
  // Change hooks of the SQL and the lists.
  // A change of the SQL or a list that shapes it is about to unprepare the statement (datasets may
  // veto by raising, or keep it prepared by clearing Unprepare: the SQL is then only invalidated).
  virtual void SysHook31(bool& /*Unprepare*/) {}
  virtual void FieldsPropertyChanged(TIB_FieldsPropertyList List);
  void SQLChanged();

  // Execution.
  virtual void SysExecute();
  virtual void DoBeforeExecute();
  virtual void SysClearFieldBuffers();
  virtual void SysExecuteStatement();
  // Whether an executed statement of this type leaves the transaction with changes to end.
  virtual bool SysExecuteChangesData(uint8_t Type);
  virtual void SysOpenCursor();
  virtual void SysActivate();
  virtual void DoActiveChange();
  virtual void SysExecuteImmediate(const std::string& SQL, XSQLDA* InRow, XSQLDA* OutRow);
  void API_Execute();
  // isc_dsql_execute2 with the params and fields rows (the monitor's retry after a lost prepare).
  void API_Execute2();
  // A SELECT through the statement itself: execute, fetch one row, close the cursor.
  void ExecuteAndFetchOne();
  void ExecDML();
  void ExecDDL();
  void ExecTransactionControl(uint8_t Type);

  // Row hooks.
  // A parameter is about to change (the params row's before-change hook; nothing here).
  virtual void SysHook60(TIB_Column* /*Column*/) {}
  virtual void SysParamsChanged(TIB_Column* Column);
  // Whether this class acts on its parameters' changes (SysHook60, SysParamsChanged): a class that
  // overrides neither may clear it, so that changes nobody else hears skip the notices.
  bool FParamChangesHeard = true;
  virtual void SysCheckCanModify(TIB_Column* /*Column*/) {}
  // A column of the fields row changed its data: statement-link event sleDataChange with the column.
  virtual void DoLinkEvent22(TIB_Column* Column);
  virtual void SysCalculateFields();

  // Connection and transaction notices.
  virtual void SysConnectionChanged(int Flag);
  virtual void SysTransactionChanged(bool Keep);
  // Every notice of the statement's transaction link (after the statement's own handling).
  virtual void SysTransactionNotice(uint8_t /*AEvent*/) {}
  void TransactionLinkEvent(uint8_t AEvent);

  // Column property lists.
  void ApplyFieldsProperties(int OnlyList = -1);
  void ApplyFieldsProperty(TIB_FieldsPropertyList List, TIB_Column& Column);
  std::string LookupFieldsValue(TIB_FieldsPropertyList List, TIB_Column& Column, bool& Found);

  // ProcessLinkEvent for a statement with links; the steps of GetStatementType, SysCheckTransaction and
  // PrepareCore past their common case (known type, started transaction, prepared statement).
  [[gnu::noinline]] void DispatchLinkEvent(int32_t AEvent, intptr_t AArg);
  [[gnu::noinline]] uint8_t ReadStatementType();
  [[gnu::noinline]] bool CheckTransactionFully(TIB_Transaction* T, bool Raise);
  [[gnu::noinline]] bool PrepareCoreFully();

  // Parameter values kept across a re-prepare.
  void KeepParamValues();
  void RestoreParamValues();
  void RecordSQLHistory();
  // Puts the columns of a relation from the schema cache in place of a "*" or "relation.*" item (and
  // the "<*>" before it), and splits the other items into ALIAS=EXPRESSION where an item names its
  // column. Text is the SQL text the list was read from.
  void ExpandSelectColumns(const std::string& Text);
  // Refuses a text with a NUL byte before anything is sent (the server would stop reading there).
  static void CheckSQLTextSendable(const std::string& Text);
  // The length passed with Text to the client.
  static unsigned short SQLTextLength(const std::string& Text) noexcept;

  TIB_Session& Session() { return *GetSession(); }
  TIB_Transaction* InternalTransaction();
  void FreeInternalTransaction();

  // State.
  isc_stmt_handle FStmtHandle = 0;
  std::unique_ptr<TIB_ConnectionStatementLink> FConnectionLink;
  std::unique_ptr<TIB_TransactionStatementLink> FTransactionLink;
  std::vector<TIB_StatementLink*> FStatementLinks;
  std::unique_ptr<TIB_SQLStrings> FSQL;
  TIB_StringProperty FJoinLinks;
  std::string FKeyRelation;
  std::string FServerSQL;
  std::string FPreparedSQL;
  std::string FSourceSQL;
  TIB_StringProperty FBuildParams;
  TIB_StringList FParamNames;
  TIB_StringList FSelectColumns;
  TIB_StringList FAnalysis;
  TIB_StringProperty FParamValues;
  int32_t FParamNameCount = 0;
  bool FParamCheck = true;
  TIB_StringList FSQLHistory;
  int32_t FSQLHistoryPos = 0;
  TIB_StringProperty FHints;
  bool FKeepSQLHistory = false;
  std::array<int32_t, 4> FCounts{-1, -1, -1, -1};
  bool FPrepared = false;
  bool FSQLValid = false;
  bool FActive = false;
  std::unique_ptr<TIB_Row> FParams;
  std::unique_ptr<TIB_Row> FFields;
  std::unique_ptr<TIB_Row> FKeyFields;
  int16_t FParamsDescribed = 0;
  int16_t FFieldsDescribed = 0;
  char FParamChar = ':';
  char FMacroBegin = '<';
  char FMacroEnd = '>';
  bool FPreparing = false;
  bool FBuildingPlan = false;
  bool FRepreparing = false;
  bool FUnpreparing = false;
  bool FRowsShared = false;
  bool FActivateTransactionForProcedures = true;
  bool FFieldsRowResetOnActivate = false;
  uint8_t FStatementType = stUnknown;
  bool FStatementTypeStale = true;
  int16_t FSQLDialect = 1;
  TIB_StringProperty FCalculatedFields;
  TIB_StringProperty FColumnAttributes;
  std::array<TIB_StringProperty, IB_FieldsPropertyListCount> FFieldsLists;
  bool FRowsAllocated = false;
  bool FExecutedSinceInfo = false;
  bool FDeferredPrepare = false;
  int32_t FLayoutHold = 0;
  bool FLayoutPending = false;
  bool FWritingFieldsIndex = false;
  std::string FDatabaseName;
  TIB_Transaction* FInternalTransaction = nullptr;
  // Descriptor areas the server describes into before the rows copy what they need.
  std::vector<std::byte> FInDA;
  std::vector<std::byte> FOutDA;

  // The typed values behind ParamValues entries, by upper-case parameter name.
  struct TKeptParam {
    std::string Text;     // the entry's text when it was kept
    int16_t SQLType = 0;  // without the null bit
    int16_t SQLScale = 0;
    int16_t SQLSubType = 0;
    int16_t SQLLen = 0;
    std::string Data;  // the column's raw value bytes
    Variant Value;     // for a parameter whose type changed
  };
  std::map<std::string, TKeptParam> FKeptParams;
};
