// The library's message table: English texts by id (65040-65199), and raising by id.
#pragma once

#include <initializer_list>
#include <string>

#include "platform/SysUtils.h"

// The text of message Id; empty when the table has no such id.
const std::string& IB_LoadStr(int Id);

// Raises E with the text of Id, its placeholders filled with Args by safe substitution.
template <class E>
[[noreturn]] void IB_Raise(int Id, std::initializer_list<TFormatArg> Args = {}) {
  throw E(Format(IB_LoadStr(Id), Args));
}

// Ids of the messages the library raises (and a few it shows), named after their texts:
// IB_Raise<EIB_Error>(IBMsg::SessionIsUndefined).
namespace IBMsg {
// clang-format off
inline constexpr int LoginDialog = 65072;  // "Login Dialog"
inline constexpr int SaveChanges = 65074;  // "Save changes?"
inline constexpr int InvalidRowNum = 65088;  // "Invalid RowNum"
inline constexpr int InvalidSyntaxExtraOrMissingParenthesis = 65089;  // "Invalid syntax: extra or missing parenthesis"
inline constexpr int PlanError = 65090;  // "PLAN ERROR!"
inline constexpr int PlanException = 65091;  // "PLAN EXCEPTION!"
inline constexpr int NotImplementedAtThisLevel = 65092;  // "Not implemented at this level"
inline constexpr int InvalidColData = 65093;  // "Invalid ColData"
inline constexpr int AreYouSureYouWantTo = 65094;  // "Are you sure you want to abort?"
inline constexpr int FetchingQueryResults = 65095;  // "Fetching Query Results"
inline constexpr int RowNumber = 65096;  // "Row# %d"
inline constexpr int Abort = 65097;  // "Abort"
inline constexpr int Database = 65098;  // "Database"
inline constexpr int User = 65099;  // "User"
inline constexpr int Password = 65100;  // "Password"
inline constexpr int OK = 65101;  // "OK"
inline constexpr int Cancel = 65102;  // "Cancel"
inline constexpr int Help = 65103;  // "&Help"
inline constexpr int CouldNotLoadMemo = 65104;  // "Could not load memo"
inline constexpr int InvalidDPBContentsOver255Characters = 65105;  // "Invalid DPB: Contents over 255 characters"
inline constexpr int InvalidCustomDMLColumnReference = 65106;  // "Invalid custom DML column reference: %s"
inline constexpr int RecordWasNotLocatedToUpdate = 65107;  // "Record was not located to update"
inline constexpr int RecordWasNotLocatedToDelete = 65108;  // "Record was not located to delete"
inline constexpr int UnableToInitializeDefault = 65109;  // "Unable to initialize default %s"
inline constexpr int StringlistMustBeSortedForThis = 65110;  // "Stringlist must be sorted for this operation"
inline constexpr int InvalidInternalTransaction = 65111;  // "Invalid Internal IB_Transaction"
inline constexpr int MultipleRecordsUpdated = 65112;  // "Multiple records updated"
inline constexpr int MultipleRecordsDeleted = 65113;  // "Multiple records deleted"
inline constexpr int InvalidDatabaseName = 65114;  // "Invalid DatabaseName"
inline constexpr int UnableToPerformSearch = 65115;  // "Unable to perform search"
inline constexpr int NoRecordsFound = 65116;  // "No records found"
inline constexpr int SessionIsUndefined = 65117;  // "Session is undefined"
inline constexpr int CircularReferenceNotAllowed = 65118;  // "Circular reference not allowed"
inline constexpr int InvalidClassType = 65119;  // "Invalid class type"
inline constexpr int UnableToGetGeneratorValue = 65120;  // "Unable to get generator value"
inline constexpr int MustBeBufferedDataset = 65121;  // "Must be of TIB_BDataset ancestry (IB_Query)"
inline constexpr int CannotChangeReadOnlyWhenStarted = 65122;  // "Cannot change ReadOnly when started"
inline constexpr int CannotChangeIsolationWhenStarted = 65123;  // "Cannot change Isolation when started"
inline constexpr int CannotChangeRecVersionWhenStarted = 65124;  // "Cannot change RecVersion when started"
inline constexpr int CannotChangeLockWaitWhenStarted = 65125;  // "Cannot change LockWait when started"
inline constexpr int InvalidReferenceToDelete = 65126;  // "Invalid reference to Delete"
inline constexpr int Integer53bitOverflow = 65127;  // "53bit integer overflow"
inline constexpr int DatabaseNameCannotBeBlank = 65128;  // "DatabaseName cannot be blank"
inline constexpr int RecordWasNotInserted = 65129;  // "Record was not inserted"
inline constexpr int InvalidKeyLinksEntry = 65130;  // "Invalid KeyLinks entry: %s"
inline constexpr int UnassignedBlobNode = 65131;  // "Unassigned BlobNode"
inline constexpr int UnassignedTransaction = 65132;  // "Unassigned Transaction"
inline constexpr int InvalidRowsAffectedBuffer = 65133;  // "Invalid RowsAffected buffer"
inline constexpr int UnableToSaveToGraphic = 65134;  // "Unable to save to Graphic"
inline constexpr int NotInstalled = 65135;  // "InterBase Client GDS32.DLL is not installed"
inline constexpr int CannotUsePessimisticLockingWithLockWait = 65136;  // "Cannot use pessimistic locking with LockWait"
inline constexpr int CannotEditCurrentRow = 65137;  // "Cannot Edit current Row"
inline constexpr int CannotInsertANewRow = 65138;  // "Cannot Insert a new Row"
inline constexpr int CannotDeleteCurrentRow = 65139;  // "Cannot delete current Row"
inline constexpr int SearchingIsNotAllowed = 65140;  // "Searching is not allowed"
inline constexpr int RecordIsLockedByAnotherUser = 65141;  // "Record is locked by another user"
inline constexpr int IsReadonly = 65142;  // "%s is readonly"
inline constexpr int IsARequiredField = 65143;  // "%s is a required field"
inline constexpr int CannotUsePostRetainingWithCachedUpdates = 65144;  // "Cannot Use PostRetaining with Cached Updates"
inline constexpr int MultipleRowsInSingletonFetch = 65145;  // "Multiple rows in singleton fetch"
inline constexpr int InvalidRowsAffectedBuffer_65146 = 65146;  // "Invalid RowsAffected buffer"
inline constexpr int InvalidBookmarkString = 65147;  // "Invalid Bookmark String"
inline constexpr int CannotAssignFrom = 65148;  // "Cannot assign from %s"
inline constexpr int CannotAssignTo = 65149;  // "Cannot assign to %s"
inline constexpr int ValueOutOfRange = 65150;  // "Value out of range"
inline constexpr int SmallintOverflow = 65151;  // "Smallint overflow"
inline constexpr int AttemptToExecuteAnUnknownStatement = 65152;  // "Attempt to execute an unknown statement"
inline constexpr int CircularReferenceNotAllowed_65153 = 65153;  // "Circular reference not allowed"
inline constexpr int CannotChangeWhileConnected = 65154;  // "Cannot change while connected"
inline constexpr int LoginFailed = 65155;  // "Login failed"
inline constexpr int CannotGetConnectionCharacteristics = 65156;  // "Cannot get connection characteristics"
inline constexpr int CannotCancelCurrentRow = 65157;  // "Cannot cancel current Row"
inline constexpr int CannotPostCurrentRow = 65158;  // "Cannot Post current Row"
inline constexpr int DatasetIsInactive = 65159;  // "Dataset is inactive"
inline constexpr int DatasetIsCurrentlyOpen = 65160;  // "Dataset is currently open"
inline constexpr int DatasetCannotScroll = 65161;  // "Dataset cannot scroll"
inline constexpr int DatasetIsReadonly = 65162;  // "Dataset is readonly"
inline constexpr int DatasetIsCurrentlyFetching = 65163;  // "Dataset is currently fetching"
inline constexpr int InvalidKeyRelationValue = 65164;  // "Invalid KeyRelation value"
inline constexpr int RowNumIsNotImplementedYet = 65165;  // "RowNum is not implemented yet"
inline constexpr int AtEndOfDataset = 65166;  // "At end of Dataset"
inline constexpr int AtBeginningOfDataset = 65167;  // "At beginning of Dataset"
inline constexpr int FailedToCancelAllDatasets = 65168;  // "Failed to cancel all datasets"
inline constexpr int CannotUpdateIsNotOwnedBy = 65169;  // "Cannot update, %s is not owned by %s"
inline constexpr int BlankSQLStatementNotAllowed = 65170;  // "Blank SQL statement not allowed"
inline constexpr int AtEndOfDataset_65171 = 65171;  // "At end of dataset"
inline constexpr int UnanticipatedLengthInIscDsqlSql = 65172;  // "Unanticipated length in isc_dsql_sql_info"
inline constexpr int InvalidDataReturnedFromIscDsql = 65173;  // "Invalid data returned from isc_dsql_sql_info"
inline constexpr int CannotChangeRequestLiveWhileActive = 65174;  // "Cannot change RequestLive while active"
inline constexpr int CursorIsUnidirectional = 65175;  // "IB_CURSOR is unidirectional"
inline constexpr int UnsupportedColumnType = 65176;  // "Unsupported Column type: %d"
inline constexpr int FieldNoNotFound = 65177;  // "FieldNo: %d not found"
inline constexpr int FieldNameNotFound = 65178;  // "FieldName: %s not found"
inline constexpr int BetweenSyntaxError = 65179;  // "BETWEEN value AND value syntax error"
inline constexpr int UnableToLocateDLLImport = 65180;  // "Unable to locate DLL import %s"
inline constexpr int CannotOpenCursorWithoutKeyData = 65181;  // "Cannot open cursor without key data"
inline constexpr int RecordKeyWasLostFailedTo = 65182;  // "Record key was lost\n\rFailed to open cursor"
inline constexpr int CannotPrepareABlankStatement = 65183;  // "Cannot Prepare a blank statement"
inline constexpr int ConnectionHasAlreadyBeenEstablished = 65186;  // "Connection has already been established"
inline constexpr int ConnectionHasNotBeenEstablished = 65187;  // "Connection has not been established"
inline constexpr int TransactionHasAlreadyBeenStarted = 65188;  // "Transaction has already been started"
inline constexpr int TransactionHasNoConnections = 65189;  // "Transaction has no connections"
inline constexpr int TransactionIsPaused = 65190;  // "Transaction is Paused"
inline constexpr int StatementHasNotBeenPrepared = 65191;  // "Statement has not been prepared"
inline constexpr int StatementFailedToPrepare = 65192;  // "Statement failed to prepare"
inline constexpr int StatementHasAlreadyBeenOpened = 65193;  // "Statement has already been opened"
inline constexpr int StatementMustHaveAConnection = 65194;  // "Statement must have an IB_Connection assigned"
inline constexpr int NoActiveTransactionToExecuteWith = 65195;  // "No active transaction to execute with"
inline constexpr int ExplicitTransNotAllowedWithServerAutoCommit = 65196;  // "Explicit trans. not allowed with ServerAutoCommit"
inline constexpr int InvalidTransactionStateCannotActivate = 65197;  // "Invalid transaction state. Cannot activate"
inline constexpr int TransactionHasPendingChanges = 65198;  // "Transaction has pending changes"
inline constexpr int FailedToPostAllDatasets = 65199;  // "Failed to post all datasets"
// clang-format on
}  // namespace IBMsg

// Texts the library raises that the message table has no entry for, named like the ids above.
namespace IBText {
inline constexpr const char* TooManyColumns = "Too many columns: %d (a row holds at most %d)";
inline constexpr const char* ForeignDefaultSession = "The default session of another thread cannot be released here";
inline constexpr const char* SessionDestroying = "Cannot join a session that is being destroyed";
inline constexpr const char* SessionOfAnotherThread =
    "This component's session belongs to another thread: use one session per thread (make the thread's "
    "components on that thread, or give them a TIB_Session made there)";
}  // namespace IBText
