// The library's message table: English texts by id (65040-65199, and the library's own texts beside
// them from 65400), the exception classes each message is raised with, and raising by id.
#pragma once

#include <initializer_list>
#include <string>
#include <type_traits>

#include "dblib/IB_Errors.h"
#include "platform/SysUtils.h"

// The text of message Id; empty when the table has no such id.
const std::string& IB_LoadStr(int Id);

// A message id, typed with the exception classes the table gives for it. Captions, hints and prompts
// name no class: they are shown, never raised.
template <class... Raises>
struct TIB_Msg {
  int Id;
  constexpr operator int() const noexcept { return Id; }
};

// Raises E with the text of Id, its placeholders filled with Args by safe substitution. E must be a
// class the table gives for the message: another one does not compile.
template <class E, class... Raises>
[[noreturn]] void IB_Raise(TIB_Msg<Raises...> Id, std::initializer_list<TFormatArg> Args = {}) {
  static_assert((std::is_same_v<E, Raises> || ...), "the message table gives another exception class for this id");
  throw E(Format(IB_LoadStr(Id), Args));
}

// The same for an id given as a bare number, which nothing checks. Kept only for the call sites that
// have not named their ids yet; name the id in IBMsg instead.
template <class E>
[[noreturn]] void IB_Raise(int Id, std::initializer_list<TFormatArg> Args = {}) {
  throw E(Format(IB_LoadStr(Id), Args));
}

// Ids of the messages the library raises or shows, named after their texts:
// IB_Raise<EIB_Error>(IBMsg::SessionIsUndefined).
namespace IBMsg {
// clang-format off
inline constexpr TIB_Msg<> LoginDialog{65072};  // "Login Dialog"
inline constexpr TIB_Msg<> SaveChanges{65074};  // "Save changes?"
inline constexpr TIB_Msg<EIB_DatasetError> InvalidRowNum{65088};  // "Invalid RowNum"
inline constexpr TIB_Msg<EIB_Error> InvalidSyntaxExtraOrMissingParenthesis{65089};  // "Invalid syntax: extra or missing parenthesis"
inline constexpr TIB_Msg<> PlanError{65090};  // "PLAN ERROR!"
inline constexpr TIB_Msg<> PlanException{65091};  // "PLAN EXCEPTION!"
inline constexpr TIB_Msg<EIB_Error, EIB_ColumnError> NotImplementedAtThisLevel{65092};  // "Not implemented at this level"
inline constexpr TIB_Msg<EIB_ColumnError> InvalidColData{65093};  // "Invalid ColData"
inline constexpr TIB_Msg<> AreYouSureYouWantTo{65094};  // "Are you sure you want to abort?"
inline constexpr TIB_Msg<> FetchingQueryResults{65095};  // "Fetching Query Results"
inline constexpr TIB_Msg<> RowNumber{65096};  // "Row# %d"
inline constexpr TIB_Msg<> Abort{65097};  // "Abort"
inline constexpr TIB_Msg<> Database{65098};  // "Database"
inline constexpr TIB_Msg<> User{65099};  // "User"
inline constexpr TIB_Msg<> Password{65100};  // "Password"
inline constexpr TIB_Msg<> OK{65101};  // "OK"
inline constexpr TIB_Msg<> Cancel{65102};  // "Cancel"
inline constexpr TIB_Msg<> Help{65103};  // "&Help"
inline constexpr TIB_Msg<> CouldNotLoadMemo{65104};  // "Could not load memo"
inline constexpr TIB_Msg<EIB_ConnectionError> InvalidDPBContentsOver255Characters{65105};  // "Invalid DPB: Contents over 255 characters"
inline constexpr TIB_Msg<EIB_DatasetError> InvalidCustomDMLColumnReference{65106};  // "Invalid custom DML column reference: %s"
inline constexpr TIB_Msg<EIB_DatasetError> RecordWasNotLocatedToUpdate{65107};  // "Record was not located to update"
inline constexpr TIB_Msg<EIB_DatasetError> RecordWasNotLocatedToDelete{65108};  // "Record was not located to delete"
inline constexpr TIB_Msg<EIB_DatasetError> UnableToInitializeDefault{65109};  // "Unable to initialize default %s"
inline constexpr TIB_Msg<EIB_Error> StringlistMustBeSortedForThis{65110};  // "Stringlist must be sorted for this operation"
inline constexpr TIB_Msg<EIB_Error> InvalidInternalTransaction{65111};  // "Invalid Internal IB_Transaction"
inline constexpr TIB_Msg<EIB_DatasetError> MultipleRecordsUpdated{65112};  // "Multiple records updated"
inline constexpr TIB_Msg<EIB_DatasetError> MultipleRecordsDeleted{65113};  // "Multiple records deleted"
inline constexpr TIB_Msg<EIB_ConnectionError> InvalidDatabaseName{65114};  // "Invalid DatabaseName"
inline constexpr TIB_Msg<EIB_DatasetError> UnableToPerformSearch{65115};  // "Unable to perform search"
inline constexpr TIB_Msg<EIB_DatasetError> NoRecordsFound{65116};  // "No records found"
inline constexpr TIB_Msg<EIB_Error> SessionIsUndefined{65117};  // "Session is undefined"
inline constexpr TIB_Msg<EIB_DatasetError> CircularReferenceNotAllowed{65118};  // "Circular reference not allowed"
inline constexpr TIB_Msg<EIB_DatasetError> InvalidClassType{65119};  // "Invalid class type"
inline constexpr TIB_Msg<EIB_StatementError> UnableToGetGeneratorValue{65120};  // "Unable to get generator value"
inline constexpr TIB_Msg<> MustBeBufferedDataset{65121};  // "Must be of TIB_BDataset ancestry (IB_Query)"
inline constexpr TIB_Msg<EIB_TransactionError> CannotChangeReadOnlyWhenStarted{65122};  // "Cannot change ReadOnly when started"
inline constexpr TIB_Msg<EIB_TransactionError> CannotChangeIsolationWhenStarted{65123};  // "Cannot change Isolation when started"
inline constexpr TIB_Msg<EIB_TransactionError> CannotChangeRecVersionWhenStarted{65124};  // "Cannot change RecVersion when started"
inline constexpr TIB_Msg<EIB_TransactionError> CannotChangeLockWaitWhenStarted{65125};  // "Cannot change LockWait when started"
inline constexpr TIB_Msg<> InvalidReferenceToDelete{65126};  // "Invalid reference to Delete"
inline constexpr TIB_Msg<EIB_ColumnError> Integer53bitOverflow{65127};  // "53bit integer overflow"
inline constexpr TIB_Msg<EIB_ConnectionError> DatabaseNameCannotBeBlank{65128};  // "DatabaseName cannot be blank"
inline constexpr TIB_Msg<EIB_DatasetError> RecordWasNotInserted{65129};  // "Record was not inserted"
inline constexpr TIB_Msg<EIB_Error> InvalidKeyLinksEntry{65130};  // "Invalid KeyLinks entry: %s"
inline constexpr TIB_Msg<EIB_Error> UnassignedBlobNode{65131};  // "Unassigned BlobNode"
inline constexpr TIB_Msg<EIB_StatementError> UnassignedTransaction{65132};  // "Unassigned Transaction"
inline constexpr TIB_Msg<EIB_Error> InvalidRowsAffectedBuffer{65133};  // "Invalid RowsAffected buffer"
inline constexpr TIB_Msg<EIB_ColumnError> UnableToSaveToGraphic{65134};  // "Unable to save to Graphic"
inline constexpr TIB_Msg<EIB_Error> NotInstalled{65135};  // "InterBase Client GDS32.DLL is not installed"
inline constexpr TIB_Msg<EIB_DatasetError> CannotUsePessimisticLockingWithLockWait{65136};  // "Cannot use pessimistic locking with LockWait"
inline constexpr TIB_Msg<EIB_DatasetError> CannotEditCurrentRow{65137};  // "Cannot Edit current Row"
inline constexpr TIB_Msg<EIB_DatasetError> CannotInsertANewRow{65138};  // "Cannot Insert a new Row"
inline constexpr TIB_Msg<EIB_DatasetError> CannotDeleteCurrentRow{65139};  // "Cannot delete current Row"
inline constexpr TIB_Msg<EIB_DatasetError> SearchingIsNotAllowed{65140};  // "Searching is not allowed"
inline constexpr TIB_Msg<EIB_DatasetError> RecordIsLockedByAnotherUser{65141};  // "Record is locked by another user"
inline constexpr TIB_Msg<EIB_DatasetError> IsReadonly{65142};  // "%s is readonly"
inline constexpr TIB_Msg<EIB_DatasetError> IsARequiredField{65143};  // "%s is a required field"
inline constexpr TIB_Msg<EIB_DatasetError> CannotUsePostRetainingWithCachedUpdates{65144};  // "Cannot Use PostRetaining with Cached Updates"
inline constexpr TIB_Msg<EIB_DatasetError> MultipleRowsInSingletonFetch{65145};  // "Multiple rows in singleton fetch"
inline constexpr TIB_Msg<EIB_Error> InvalidRowsAffectedBuffer_65146{65146};  // "Invalid RowsAffected buffer"
inline constexpr TIB_Msg<EIB_DatasetError> InvalidBookmarkString{65147};  // "Invalid Bookmark String"
inline constexpr TIB_Msg<EIB_ColumnError> CannotAssignFrom{65148};  // "Cannot assign from %s"
inline constexpr TIB_Msg<EIB_ColumnError> CannotAssignTo{65149};  // "Cannot assign to %s"
inline constexpr TIB_Msg<EIB_ColumnError> ValueOutOfRange{65150};  // "Value out of range"
inline constexpr TIB_Msg<EIB_ColumnError> SmallintOverflow{65151};  // "Smallint overflow"
inline constexpr TIB_Msg<EIB_StatementError> AttemptToExecuteAnUnknownStatement{65152};  // "Attempt to execute an unknown statement"
inline constexpr TIB_Msg<EIB_DatasetError> CircularReferenceNotAllowed_65153{65153};  // "Circular reference not allowed"
inline constexpr TIB_Msg<EIB_ConnectionError> CannotChangeWhileConnected{65154};  // "Cannot change while connected"
inline constexpr TIB_Msg<EIB_ConnectionError> LoginFailed{65155};  // "Login failed"
inline constexpr TIB_Msg<EIB_ConnectionError> CannotGetConnectionCharacteristics{65156};  // "Cannot get connection characteristics"
inline constexpr TIB_Msg<EIB_DatasetError> CannotCancelCurrentRow{65157};  // "Cannot cancel current Row"
inline constexpr TIB_Msg<EIB_DatasetError> CannotPostCurrentRow{65158};  // "Cannot Post current Row"
inline constexpr TIB_Msg<EIB_DatasetError> DatasetIsInactive{65159};  // "Dataset is inactive"
inline constexpr TIB_Msg<EIB_Error> DatasetIsCurrentlyOpen{65160};  // "Dataset is currently open"
inline constexpr TIB_Msg<EIB_DatasetError> DatasetCannotScroll{65161};  // "Dataset cannot scroll"
inline constexpr TIB_Msg<EIB_DatasetError> DatasetIsReadonly{65162};  // "Dataset is readonly"
inline constexpr TIB_Msg<EIB_DatasetError> DatasetIsCurrentlyFetching{65163};  // "Dataset is currently fetching"
inline constexpr TIB_Msg<EIB_DatasetError> InvalidKeyRelationValue{65164};  // "Invalid KeyRelation value"
inline constexpr TIB_Msg<EIB_DatasetError> RowNumIsNotImplementedYet{65165};  // "RowNum is not implemented yet"
inline constexpr TIB_Msg<EIB_DatasetError> AtEndOfDataset{65166};  // "At end of Dataset"
inline constexpr TIB_Msg<EIB_DatasetError> AtBeginningOfDataset{65167};  // "At beginning of Dataset"
inline constexpr TIB_Msg<EIB_TransactionError> FailedToCancelAllDatasets{65168};  // "Failed to cancel all datasets"
inline constexpr TIB_Msg<EIB_TransactionError> CannotUpdateIsNotOwnedBy{65169};  // "Cannot update, %s is not owned by %s"
inline constexpr TIB_Msg<EIB_StatementError> BlankSQLStatementNotAllowed{65170};  // "Blank SQL statement not allowed"
inline constexpr TIB_Msg<EIB_DatasetError> AtEndOfDataset_65171{65171};  // "At end of dataset"
inline constexpr TIB_Msg<EIB_StatementError> UnanticipatedLengthInIscDsqlSql{65172};  // "Unanticipated length in isc_dsql_sql_info"
inline constexpr TIB_Msg<EIB_StatementError> InvalidDataReturnedFromIscDsql{65173};  // "Invalid data returned from isc_dsql_sql_info"
inline constexpr TIB_Msg<EIB_DatasetError> CannotChangeRequestLiveWhileActive{65174};  // "Cannot change RequestLive while active"
inline constexpr TIB_Msg<EIB_StatementError> CursorIsUnidirectional{65175};  // "IB_CURSOR is unidirectional"
inline constexpr TIB_Msg<EIB_Error, EIB_StatementError> UnsupportedColumnType{65176};  // "Unsupported Column type: %d"
inline constexpr TIB_Msg<EIB_Error> FieldNoNotFound{65177};  // "FieldNo: %d not found"
inline constexpr TIB_Msg<EIB_StatementError> FieldNameNotFound{65178};  // "FieldName: %s not found"
inline constexpr TIB_Msg<EIB_Error> BetweenSyntaxError{65179};  // "BETWEEN value AND value syntax error"
inline constexpr TIB_Msg<EIB_Error> UnableToLocateDLLImport{65180};  // "Unable to locate DLL import %s"
inline constexpr TIB_Msg<EIB_DatasetError> CannotOpenCursorWithoutKeyData{65181};  // "Cannot open cursor without key data"
inline constexpr TIB_Msg<EIB_DatasetError> RecordKeyWasLostFailedTo{65182};  // "Record key was lost\n\rFailed to open cursor"
inline constexpr TIB_Msg<EIB_StatementError> CannotPrepareABlankStatement{65183};  // "Cannot Prepare a blank statement"
inline constexpr TIB_Msg<EIB_ConnectionError> ConnectionHasAlreadyBeenEstablished{65186};  // "Connection has already been established"
inline constexpr TIB_Msg<EIB_ConnectionError> ConnectionHasNotBeenEstablished{65187};  // "Connection has not been established"
inline constexpr TIB_Msg<EIB_TransactionError> TransactionHasAlreadyBeenStarted{65188};  // "Transaction has already been started"
inline constexpr TIB_Msg<EIB_TransactionError> TransactionHasNoConnections{65189};  // "Transaction has no connections"
inline constexpr TIB_Msg<EIB_TransactionError> TransactionIsPaused{65190};  // "Transaction is Paused"
inline constexpr TIB_Msg<EIB_DatasetError> StatementHasNotBeenPrepared{65191};  // "Statement has not been prepared"
inline constexpr TIB_Msg<EIB_StatementError> StatementFailedToPrepare{65192};  // "Statement failed to prepare"
inline constexpr TIB_Msg<EIB_StatementError> StatementHasAlreadyBeenOpened{65193};  // "Statement has already been opened"
inline constexpr TIB_Msg<EIB_StatementError> StatementMustHaveAConnection{65194};  // "Statement must have an IB_Connection assigned"
inline constexpr TIB_Msg<EIB_StatementError> NoActiveTransactionToExecuteWith{65195};  // "No active transaction to execute with"
inline constexpr TIB_Msg<EIB_TransactionError> ExplicitTransNotAllowedWithServerAutoCommit{65196};  // "Explicit trans. not allowed with ServerAutoCommit"
inline constexpr TIB_Msg<EIB_TransactionError> InvalidTransactionStateCannotActivate{65197};  // "Invalid transaction state. Cannot activate"
inline constexpr TIB_Msg<EIB_TransactionError> TransactionHasPendingChanges{65198};  // "Transaction has pending changes"
inline constexpr TIB_Msg<EIB_TransactionError> FailedToPostAllDatasets{65199};  // "Failed to post all datasets"

// The library's own texts, beside the table: failures the table has no text for.
inline constexpr TIB_Msg<EIB_Error> NotImplementedInThisSession{65400};  // "%s() not implemented in this session"
inline constexpr TIB_Msg<EIB_ConnectionError> InvalidConnectionPath{65401};  // "Invalid connection path"
inline constexpr TIB_Msg<EIB_ConnectionError> InvalidDPBLength{65402};  // "Invalid DPB: length %d outside the buffer of %d bytes"
inline constexpr TIB_Msg<EIB_Error> InvalidCharacterSetName{65403};  // "Invalid character set name: %s"
inline constexpr TIB_Msg<EIB_Error, EIB_ConnectionError, EIB_StatementError> TextContainsNul{65404};  // "%s contains a NUL character"
inline constexpr TIB_Msg<EIB_TransactionError> InvalidTPBLength{65405};  // "OnCustomizeTPB left a TPB length of %d for a buffer of %d bytes"
inline constexpr TIB_Msg<EIB_Error> InvalidArrayDimensions{65406};  // "Invalid array descriptor: %d dimensions"
inline constexpr TIB_Msg<EIB_Error> ArraySliceTooLarge{65407};  // "Invalid array descriptor: slice too large"
inline constexpr TIB_Msg<EIB_Error> MissingArrayDescriptor{65408};  // "Array descriptor is missing"
inline constexpr TIB_Msg<Exception> InvalidHexText{65409};  // "Invalid text in HexTextToBinary"
inline constexpr TIB_Msg<EIB_ColumnError> TextLongerThanParam{65430};  // "Text of %d characters is longer than parameter %s, which holds %d"
inline constexpr TIB_Msg<EIB_Error> InvalidANode{65440};  // "Invalid ANode"
inline constexpr TIB_Msg<Exception> UnsupportedHere{65441};  // "Unsupported here"
inline constexpr TIB_Msg<Exception> ThisShouldntHappen{65442};  // "This shouldn't happen %d"
inline constexpr TIB_Msg<EIB_Error> CorruptRowNode{65443};  // "Corrupt row node data"
inline constexpr TIB_Msg<Exception> ProblemInBindingCursor{65444};  // "Problem in BindingCursor"
inline constexpr TIB_Msg<Exception> InvalidSearchBufferIn{65480};  // "Invalid SearchBuffer IN() clause"
inline constexpr TIB_Msg<EIB_Error> InvalidFilterSyntax{65481};  // "Invalid Filter syntax"
inline constexpr TIB_Msg<EIB_Error> InvalidFilterSyntaxBetween{65482};  // "Invalid Filter syntax: BETWEEN"
inline constexpr TIB_Msg<EIB_Error> InvalidFilterSyntaxIn{65483};  // "Invalid Filter syntax: IN()"
inline constexpr TIB_Msg<Exception> InvalidFilterSyntaxRest{65484};  // "Invalid Filter Syntax: %s"
inline constexpr TIB_Msg<EIB_Error> InvalidFilterSyntaxAt{65485};  // "Invalid Filter syntax: %s"
inline constexpr TIB_Msg<EIB_Error> InvalidNumberForColumn{65486};  // "Invalid number for %s: %s"
// Checks of the rounding, parsing, row, column, session, profiler and dataset code.
inline constexpr TIB_Msg<Exception> RoundingPrecisionTooLarge{65490};  // "Rounding precision too large"
inline constexpr TIB_Msg<EIB_Error> RoundingPrecisionNegative{65491};  // "Rounding precision negative"
inline constexpr TIB_Msg<EIB_Error> ScaledValueOutOfIntegerRange{65492};  // "Scaled value out of Integer range"
inline constexpr TIB_Msg<Exception> InvalidParserState{65493};  // "Invalid parser state"
inline constexpr TIB_Msg<Exception> InvalidXSQLVARDefString{65494};  // "Invalid XSQLVAR Def string: %s"
inline constexpr TIB_Msg<Exception> NoRecordDataToLoad{65495};  // "No record data to load"
inline constexpr TIB_Msg<Exception> UnsupportedArrayVariantConversion{65496};  // "Unsupported array variant conversion"
inline constexpr TIB_Msg<Exception> DimensionsAreDifferent{65497};  // "Dimensions are different"
inline constexpr TIB_Msg<Exception> DimensionHasDifferentNumberOfElements{65498};  // "Dimension has different number of elements"
inline constexpr TIB_Msg<Exception, EIB_Error> VariantMustBeOfAnArrayType{65499};  // "Variant must be of an array type"
inline constexpr TIB_Msg<EIB_ColumnError> UnableToAssignToArrayAsString{65500};  // "Unable to assign to array AsString"
inline constexpr TIB_Msg<EIB_ColumnError> ArrayBoundsUnknown{65501};  // "Array bounds of %s are unknown"
inline constexpr TIB_Msg<EIB_ColumnError> ArrayValueShorterThanBounds{65502};  // "Array value of %s is shorter than its bounds"
inline constexpr TIB_Msg<EIB_Error> MustCreateATIB_ColumnInstance{65503};  // "Must create a TIB_Column instance"
inline constexpr TIB_Msg<EIB_StatementError> TooManyColumns{65504};  // "Too many columns: %d (a row holds at most %d)"
inline constexpr TIB_Msg<EIB_StatementError> CreateBlobStreamNeedsAColumn{65505};  // "CreateBlobStream needs a column"
inline constexpr TIB_Msg<EIB_StatementError> SQLTextHasNulByte{65506};  // "SQL text contains a NUL byte at position %d: the server would read only the text before it, so it is not sent"
inline constexpr TIB_Msg<EIB_StatementError> SetTransactionThroughStatement{65507};  // "SET TRANSACTION cannot run through a statement: its options would be lost. Set them on the IB_Transaction and start it"
inline constexpr TIB_Msg<EIB_Error> InternalSchemaCacheError{65508};  // "Internal SchemaCache ERRCODE: %d"
inline constexpr TIB_Msg<EIB_DatasetError> InvalidSQLClauseNumber{65509};  // "Invalid SQL clause number %d"
inline constexpr TIB_Msg<EIB_Error> ForeignDefaultSession{65510};  // "The default session of another thread cannot be released here"
inline constexpr TIB_Msg<EIB_Error> SessionDestroying{65511};  // "Cannot join a session that is being destroyed"
inline constexpr TIB_Msg<EIB_Error> SessionOfAnotherThread{65512};  // "This component's session belongs to another thread: use one session per thread (make the thread's components on that thread, or give them a TIB_Session made there)"
inline constexpr TIB_Msg<Exception> ProfilerNotConnected{65513};  // "Profiler not connected!"
inline constexpr TIB_Msg<Exception> ProfilerNoRequestItems{65514};  // "Profiler has no request items"
inline constexpr TIB_Msg<EIB_Error> ProfilerReplyOutsideBuffer{65515};  // "TIB_Profiler.Grab():\r\nResultPtr + ItemLen would go outside of Buffer"
inline constexpr TIB_Msg<EIB_Error> ProfilerPairLength{65516};  // "TIB_Profiler.Grab.TranslateValuePairs():\r\nItemLen not an exact value pair multiple"
inline constexpr TIB_Msg<Exception> UnsupportedDumpType{65517};  // "Unsupported column type"
inline constexpr TIB_Msg<Exception, EIB_DatasetError> NotImplemented{65518};  // "Not implemented"
inline constexpr TIB_Msg<EIB_DatasetError> CursorIsAlreadyOpen{65519};  // "Cursor is already open"
inline constexpr TIB_Msg<EIB_DatasetError> NotReadyYet{65520};  // "Not ready yet"
// clang-format on
}  // namespace IBMsg
