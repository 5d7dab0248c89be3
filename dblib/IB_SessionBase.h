// The binding to the client library: loading it, its table of entry points, the status vector every
// client call fills, turning a failed call into an exception, and the client operations that belong to
// no single component (creating a database, plan and row-count queries, blob and array transfer).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dblib/IB_BlobNode.h"
#include "dblib/IB_Constants.h"
#include "dblib/IB_Errors.h"
#include "dblib/IB_Header.h"
#include "platform/Classes.h"
#include "platform/DynLib.h"
#include "platform/FpuGuard.h"

// File name of the client library that sessions load when they are created.
extern std::string ClientLibraryName;

// The type of a pointer to the client API function Name, as the client header declares it.
#define IB_ENTRY_TYPE(Name) decltype(&::Name)

// One typed pointer per entry point of the client library, in the groups the library uses them.
//
// This is the seam for tracing and testing: every client call of the library goes through a table of
// its session, so assigning a member (say `Session->Entries.isc_dsql_prepare = &MyWrapper`) redirects
// that call; a wrapper that counts or fails can call the real function through `Session->Untraced`.
// `BindEntryPoints()` restores everything from the library. A null member means "not bound": calling
// it through the session's Call helpers raises instead of jumping to null.
struct TIB_EntryTable {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  // database
  IB_ENTRY_TYPE(isc_attach_database) isc_attach_database = nullptr;
  IB_ENTRY_TYPE(isc_detach_database) isc_detach_database = nullptr;
  IB_ENTRY_TYPE(isc_drop_database) isc_drop_database = nullptr;
  IB_ENTRY_TYPE(isc_create_database) isc_create_database = nullptr;
  IB_ENTRY_TYPE(isc_database_info) isc_database_info = nullptr;
  // transaction
  IB_ENTRY_TYPE(isc_start_multiple) isc_start_multiple = nullptr;
  IB_ENTRY_TYPE(isc_commit_transaction) isc_commit_transaction = nullptr;
  IB_ENTRY_TYPE(isc_commit_retaining) isc_commit_retaining = nullptr;
  IB_ENTRY_TYPE(isc_rollback_transaction) isc_rollback_transaction = nullptr;
  IB_ENTRY_TYPE(isc_transaction_info) isc_transaction_info = nullptr;
  IB_ENTRY_TYPE(isc_transact_request) isc_transact_request = nullptr;
  // dynamic SQL
  IB_ENTRY_TYPE(isc_dsql_execute_immediate) isc_dsql_execute_immediate = nullptr;
  IB_ENTRY_TYPE(isc_dsql_exec_immed2) isc_dsql_exec_immed2 = nullptr;
  IB_ENTRY_TYPE(isc_dsql_execute) isc_dsql_execute = nullptr;
  IB_ENTRY_TYPE(isc_dsql_execute2) isc_dsql_execute2 = nullptr;
  IB_ENTRY_TYPE(isc_dsql_allocate_statement) isc_dsql_allocate_statement = nullptr;
  IB_ENTRY_TYPE(isc_dsql_alloc_statement2) isc_dsql_alloc_statement2 = nullptr;
  IB_ENTRY_TYPE(isc_dsql_prepare) isc_dsql_prepare = nullptr;
  IB_ENTRY_TYPE(isc_dsql_set_cursor_name) isc_dsql_set_cursor_name = nullptr;
  IB_ENTRY_TYPE(isc_dsql_describe) isc_dsql_describe = nullptr;
  IB_ENTRY_TYPE(isc_dsql_describe_bind) isc_dsql_describe_bind = nullptr;
  IB_ENTRY_TYPE(isc_dsql_fetch) isc_dsql_fetch = nullptr;
  IB_ENTRY_TYPE(isc_dsql_free_statement) isc_dsql_free_statement = nullptr;
  IB_ENTRY_TYPE(isc_dsql_sql_info) isc_dsql_sql_info = nullptr;
  // blob
  IB_ENTRY_TYPE(isc_blob_default_desc) isc_blob_default_desc = nullptr;
  IB_ENTRY_TYPE(isc_blob_gen_bpb) isc_blob_gen_bpb = nullptr;
  IB_ENTRY_TYPE(isc_blob_info) isc_blob_info = nullptr;
  IB_ENTRY_TYPE(isc_blob_lookup_desc) isc_blob_lookup_desc = nullptr;
  IB_ENTRY_TYPE(isc_blob_set_desc) isc_blob_set_desc = nullptr;
  IB_ENTRY_TYPE(isc_cancel_blob) isc_cancel_blob = nullptr;
  IB_ENTRY_TYPE(isc_close_blob) isc_close_blob = nullptr;
  IB_ENTRY_TYPE(isc_create_blob) isc_create_blob = nullptr;
  IB_ENTRY_TYPE(isc_create_blob2) isc_create_blob2 = nullptr;
  IB_ENTRY_TYPE(isc_open_blob) isc_open_blob = nullptr;
  IB_ENTRY_TYPE(isc_open_blob2) isc_open_blob2 = nullptr;
  IB_ENTRY_TYPE(isc_get_segment) isc_get_segment = nullptr;
  IB_ENTRY_TYPE(isc_put_segment) isc_put_segment = nullptr;
  // array
  IB_ENTRY_TYPE(isc_array_gen_sdl) isc_array_gen_sdl = nullptr;
  IB_ENTRY_TYPE(isc_array_get_slice) isc_array_get_slice = nullptr;
  IB_ENTRY_TYPE(isc_array_lookup_bounds) isc_array_lookup_bounds = nullptr;
  IB_ENTRY_TYPE(isc_array_lookup_desc) isc_array_lookup_desc = nullptr;
  IB_ENTRY_TYPE(isc_array_set_desc) isc_array_set_desc = nullptr;
  IB_ENTRY_TYPE(isc_array_put_slice) isc_array_put_slice = nullptr;
  IB_ENTRY_TYPE(isc_get_slice) isc_get_slice = nullptr;
  IB_ENTRY_TYPE(isc_put_slice) isc_put_slice = nullptr;
  // events
  IB_ENTRY_TYPE(isc_event_block) isc_event_block = nullptr;
  IB_ENTRY_TYPE(isc_event_counts) isc_event_counts = nullptr;
  IB_ENTRY_TYPE(isc_que_events) isc_que_events = nullptr;
  IB_ENTRY_TYPE(isc_cancel_events) isc_cancel_events = nullptr;
  // dates
  IB_ENTRY_TYPE(isc_decode_date) isc_decode_date = nullptr;
  IB_ENTRY_TYPE(isc_encode_date) isc_encode_date = nullptr;
  // messages and utilities
  IB_ENTRY_TYPE(isc_interprete) isc_interprete = nullptr;
  IB_ENTRY_TYPE(isc_sql_interprete) isc_sql_interprete = nullptr;
  IB_ENTRY_TYPE(isc_sqlcode) isc_sqlcode = nullptr;
  IB_ENTRY_TYPE(isc_free) isc_free = nullptr;
  IB_ENTRY_TYPE(isc_vax_integer) isc_vax_integer = nullptr;
  // compiled requests
  IB_ENTRY_TYPE(isc_compile_request) isc_compile_request = nullptr;
  IB_ENTRY_TYPE(isc_compile_request2) isc_compile_request2 = nullptr;
  IB_ENTRY_TYPE(isc_send) isc_send = nullptr;
  IB_ENTRY_TYPE(isc_start_and_send) isc_start_and_send = nullptr;
  IB_ENTRY_TYPE(isc_start_request) isc_start_request = nullptr;
  IB_ENTRY_TYPE(isc_unwind_request) isc_unwind_request = nullptr;
  IB_ENTRY_TYPE(isc_receive) isc_receive = nullptr;
  IB_ENTRY_TYPE(isc_release_request) isc_release_request = nullptr;
  IB_ENTRY_TYPE(isc_vtov) isc_vtov = nullptr;
  // user administration: optional; a library without them gets stand-by routines that raise
  IB_ENTRY_TYPE(isc_add_user) isc_add_user = nullptr;
  IB_ENTRY_TYPE(isc_delete_user) isc_delete_user = nullptr;
  IB_ENTRY_TYPE(isc_modify_user) isc_modify_user = nullptr;
  // the bounded message formatter, where the library has it (null otherwise; isc_interprete serves then)
  IB_ENTRY_TYPE(fb_interpret) fb_interpret = nullptr;
#pragma GCC diagnostic pop
};

// The entries of the row-fetching path of statements and datasets, traced by the monitor with a switch
// of its own.
struct TIB_CursorEntries {
  IB_ENTRY_TYPE(isc_dsql_fetch) isc_dsql_fetch = nullptr;
  IB_ENTRY_TYPE(isc_dsql_execute) isc_dsql_execute = nullptr;
  IB_ENTRY_TYPE(isc_dsql_execute2) isc_dsql_execute2 = nullptr;
  IB_ENTRY_TYPE(isc_dsql_set_cursor_name) isc_dsql_set_cursor_name = nullptr;
  IB_ENTRY_TYPE(isc_dsql_free_statement) isc_dsql_free_statement = nullptr;
};

// The states reported to a blob transfer callback, in this order.
enum TIB_BlobCallbackStatus { bcsReadStart, bcsWriteStart, bcsReadStep, bcsWriteStep, bcsReadEnd, bcsWriteEnd };

// Reports the progress of a blob transfer of column AVAR. At read start and write start the callback
// may change MaxSegmentSize to choose the segment size.
using TIB_BlobCallbackEvent =
    std::function<void(XSQLVAR* AVAR, TIB_BlobCallbackStatus AStatus, int32_t ABytes, int32_t& MaxSegmentSize)>;

// Per-session bookkeeping of the client-call monitor's wrappers (dblib/trace/IB_Monitor.cpp).
struct TIB_TraceState;

// Receives a text of the client-call monitor.
using TIB_MonitorTextHook = std::function<void(const std::string& Text)>;

// Holds the loaded client library and its entry table, the status vector that every client call of this
// session fills, and the session's error handling. Sessions are used by one thread each.
class TIB_SessionBase : public TComponent {
public:
  // Loads the library named by ClientLibraryName and binds it. A library that cannot be loaded leaves
  // the session unbound (its client operations raise "not installed"); a missing required entry raises.
  explicit TIB_SessionBase(TComponent* AOwner);
  ~TIB_SessionBase() override;

  // The library as loaded at construction.
  bool GetLibraryLoaded() const noexcept { return FLibrary.Loaded(); }
  const std::string& GetLibraryName() const noexcept { return FLibraryName; }
  // Why the library did not load (the loader's text); empty when it did.
  const std::string& GetLibraryError() const noexcept { return FLibrary.LastError(); }

  // (Re)fills the entry table, the cursor group, the untraced copies and both monitor hooks from the
  // loaded library. Does nothing when no library is loaded.
  void BindEntryPoints();
  // Sets Entry to the address of Name in the library; raises EIB_Error "Unable to locate DLL import
  // <Name>" when the library lacks it.
  template <class F>
  void BindEntryPoint(const char* Name, F& Entry) {
    Entry = reinterpret_cast<F>(LookupEntryPoint(Name, true));
  }

  TIB_EntryTable Entries;    // the entries every client call goes through (the monitor may wrap them)
  TIB_CursorEntries Cursor;  // the fetch path's entries
  TIB_EntryTable Untraced;   // the library's own addresses, for wrappers and for untraced queries
  // What the call monitor's wrappers call through; made by the monitor, released with the session.
  std::shared_ptr<TIB_TraceState> TraceState;

  // The status vector of the most recent call, its result, and the SQL code of the last failure.
  ISC_STATUS* GetStatusVector() noexcept { return FStatus; }
  const ISC_STATUS* GetStatusVector() const noexcept { return FStatus; }
  int32_t GetERRCODE() const noexcept { return FERRCODE; }
  int32_t GetSQLCODE() const noexcept { return FSQLCODE; }

  // Calls Entry with the session's status vector first and the given arguments, the floating-point
  // state saved around it, and stores the result as ERRCODE. Raises "not installed" instead of calling
  // an unbound entry.
  template <class... P, class... A>
  ISC_STATUS Call(ISC_STATUS (*Entry)(ISC_STATUS*, P...), A... Args) {
    if (!Entry) RaiseNotInstalled();
    ISC_STATUS result;
    {
      TFpuGuard guard;
      result = Entry(FStatus, Args...);
    }
    FERRCODE = static_cast<int32_t>(result);
    return result;
  }
  // As Call, and a non-zero result goes to HandleISCError(Sender).
  template <class... P, class... A>
  ISC_STATUS CallChecked(TObject* Sender, ISC_STATUS (*Entry)(ISC_STATUS*, P...), A... Args) {
    ISC_STATUS result = Call(Entry, Args...);
    if (result != 0) HandleISCError(Sender);
    return result;
  }
  // For cleanup after a failure (closing, cancelling, freeing): calls Entry with a scratch status vector
  // and leaves the session's status vector and ERRCODE, which describe the failure, alone.
  template <class... P, class... A>
  static ISC_STATUS CallScratch(ISC_STATUS (*Entry)(ISC_STATUS*, P...), A... Args) {
    if (!Entry) RaiseNotInstalled();
    ISC_STATUS_ARRAY scratch{};
    TFpuGuard guard;
    return Entry(scratch, Args...);
  }
  [[noreturn]] static void RaiseNotInstalled();

  // Turns the failure in the status vector into an EIB_ISCError: builds the texts, gives the error
  // handlers their say, feeds the monitor and raises unless a handler suppressed it.
  void HandleISCError(TObject* Sender);
  // The session's error event; a handler clears RaiseException to suppress the exception.
  TIB_ErrorEvent OnError;

  // Creates the database file DBName with the given settings and detaches from it again. PageSize is
  // rounded to the nearest multiple of 1024 (below 1024 the engine's default is used); an empty User,
  // Password or CharSet is left out. False when the server refused and a handler suppressed the error.
  bool CreateDatabase(const std::string& DBName, const std::string& User, const std::string& Password,
                      uint16_t PageSize, const std::string& CharSet, int16_t SQLDialect);
  // The access plan of a prepared statement; empty for handle 0. Never raises: a failed query gives
  // "PLAN ERROR!" and a CR LF.
  void GetStatementPlan(isc_stmt_handle StatementHandle, std::string& Plan);
  // Rows updated, deleted, selected and inserted by the statement's last execution (in that order);
  // -1 each when there is no handle or the server gives no counts.
  void GetRowsAffected(const isc_stmt_handle* StatementHandle, std::array<int32_t, 4>& Counts);
  // The largest segment, total length and number of segments of an open blob. For a sub-type 2 column
  // the sizes include room for the line breaks that reading inserts. Returns the client status.
  ISC_STATUS GetBlobInfo(int32_t& MaxSegment, int32_t& TotalLength, const XSQLVAR* AVAR, isc_blob_handle* BlobHandle,
                         int32_t& NumSegments);
  // Reads the blob (types 520/521) or the array slice (540/541) of column AVAR whose id is in Node into
  // Node's buffer. Returns the client status (0 = success) without raising; other types return 0.
  ISC_STATUS LoadBlobNodeData(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const TIB_BlobCallbackEvent& Callback,
                              TIB_BlobNode* Node, const ISC_ARRAY_DESC* ArrayDesc, XSQLVAR* AVAR);
  // Writes Node's data as a new blob (its id goes into Node) or as the array slice. An array node of
  // size 0 sets the column to NULL. Returns the client status without raising.
  ISC_STATUS StoreBlobNodeData(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const TIB_BlobCallbackEvent& Callback,
                               TIB_BlobNode* Node, const ISC_ARRAY_DESC* ArrayDesc, XSQLVAR* AVAR);

  // The monitor's hooks. Empty hooks stand for the session's own no-op receivers.
  void MonitorOutput(const std::string& Text);
  void MonitorStatsOutput(const std::string& Text);
  bool GetMonitorHooked() const noexcept { return static_cast<bool>(FMonitorOutputHook); }
  void SetMonitorOutputHook(TIB_MonitorTextHook Hook) { FMonitorOutputHook = std::move(Hook); }
  void SetMonitorStatsOutputHook(TIB_MonitorTextHook Hook) { FMonitorStatsOutputHook = std::move(Hook); }

protected:
  // Gives the error handlers their say; the base fires OnError. Derived sessions let the failing
  // component's handlers run first.
  virtual void DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes,
                             int32_t SQLCODE, TStrings& SQLMessage, TStrings& SQL, bool& RaiseException);

private:
  void* LookupEntryPoint(const char* Name, bool Required);
  ISC_STATUS ReadBlob(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const TIB_BlobCallbackEvent& Callback,
                      TIB_BlobNode& Node, XSQLVAR* AVAR);
  ISC_STATUS WriteBlob(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const TIB_BlobCallbackEvent& Callback,
                       TIB_BlobNode& Node, XSQLVAR* AVAR);
  // Records a failure that the library detects itself in the status vector and ERRCODE, as a client
  // call would, so that HandleISCError reports it; returns Code.
  ISC_STATUS SetFailure(ISC_STATUS Code);
  int32_t LookupSegmentSize(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const XSQLVAR* AVAR);

  TDynLib FLibrary;
  std::string FLibraryName;
  int32_t FSQLCODE = 0;
  int32_t FERRCODE = 0;
  ISC_STATUS_ARRAY FStatus{};
  TIB_MonitorTextHook FMonitorOutputHook;
  TIB_MonitorTextHook FMonitorStatsOutputHook;
};

// Raises E "<What> contains a NUL character" when Text holds a NUL byte. For every text the client
// takes as a C string (a database name, an SQL text passed without its length): a NUL would silently
// cut it short, and the server would act on the part before it.
template <class E = EIB_Error>
void IB_CheckNoNul(const std::string& Text, const char* What) {
  if (Text.find('\0') != std::string::npos) IB_Raise<E>(IBMsg::TextContainsNul, {std::string(What)});
}

// The one walk over a status vector's error codes (the isc_arg_gds clusters up to isc_arg_end, never
// past the vector's last slot): true when Match(code) holds for one of them. Every test of a status
// vector for a code goes through it.
template <class F>
bool IB_StatusAnyCode(const ISC_STATUS* Status, F&& Match) {
  for (int i = 0; i < ISC_STATUS_LENGTH - 1 && Status[i] != isc_arg_end;) {
    const ISC_STATUS arg = Status[i];
    if (arg == isc_arg_gds && Match(Status[i + 1])) return true;
    i += arg == isc_arg_cstring ? 3 : 2;  // a counted string takes a length and a pointer
  }
  return false;
}
// True when the status vector carries Code among its error codes (the specific cause may follow a
// general one).
bool IB_StatusHasCode(const ISC_STATUS* Status, ISC_STATUS Code) noexcept;

// True for the client results that mean the server connection is gone (a network failure, a lost or
// shut-down attachment), Firebird 3's included. Connections and transactions share this one set.
bool IB_IsConnectionLostCode(ISC_STATUS ERRCODE) noexcept;
// True when any error code of the status vector is one of those.
bool IB_StatusShowsConnectionLost(const ISC_STATUS* Status) noexcept;

// Size in bytes of the slice that ArrayDesc describes (elements of varying types carry a 2-byte length).
// Raises EIB_Error for a descriptor without dimensions, with more than 16, or a slice over 2 GiB.
int32_t ArraySliceSize(const ISC_ARRAY_DESC& ArrayDesc);
