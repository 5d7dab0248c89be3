#include "dblib/IB_SessionBase.h"

#include <cstring>
#include <memory>
#include <vector>

#include "dblib/IB_Constants.h"

std::string ClientLibraryName = "libfbclient.so.2";

namespace {

// Stand-by routines for the optional user-administration entries.
ISC_STATUS StandbyAddUser(ISC_STATUS*, const USER_SEC_DATA*) {
  IB_Raise<EIB_Error>(IBMsg::NotImplementedInThisSession, {std::string("isc_add_user")});
}
ISC_STATUS StandbyDeleteUser(ISC_STATUS*, const USER_SEC_DATA*) {
  IB_Raise<EIB_Error>(IBMsg::NotImplementedInThisSession, {std::string("isc_delete_user")});
}
ISC_STATUS StandbyModifyUser(ISC_STATUS*, const USER_SEC_DATA*) {
  IB_Raise<EIB_Error>(IBMsg::NotImplementedInThisSession, {std::string("isc_modify_user")});
}

// Little-endian integer of Length bytes (at most 8) at P: the client's portable integer format.
int64_t PortableInteger(const unsigned char* P, size_t Length) {
  uint64_t v = 0;
  for (size_t i = 0; i < Length && i < 8; ++i) v |= static_cast<uint64_t>(P[i]) << (8 * i);
  if (Length > 0 && Length < 8 && (P[Length - 1] & 0x80)) v |= ~uint64_t{0} << (8 * Length);  // sign-extend
  return static_cast<int64_t>(v);
}

int32_t ClampToInt32(int64_t V) {
  if (V > INT32_MAX) return INT32_MAX;
  if (V < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(V);
}

// Doubles every apostrophe so S can stand inside a quoted SQL literal.
std::string DoubleQuotes(const std::string& S) {
  std::string r;
  r.reserve(S.size() + 2);
  for (char c : S) {
    r += c;
    if (c == '\'') r += '\'';
  }
  return r;
}

// A plain SQL identifier: a letter, then letters, digits, '_' or '$'.
bool IsPlainIdentifier(const std::string& S) {
  if (S.empty()) return false;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!letter(S[0])) return false;
  for (char c : S)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '_' && c != '$') return false;
  return true;
}

// Every line break (CR, LF, CR LF or LF CR) as CR LF.
std::string AdjustLineBreaks(const std::string& S) {
  std::string r;
  r.reserve(S.size() + 8);
  for (size_t i = 0; i < S.size(); ++i) {
    const char c = S[i];
    if (c == '\r' || c == '\n') {
      r += "\r\n";
      const char other = c == '\r' ? '\n' : '\r';
      if (i + 1 < S.size() && S[i + 1] == other) ++i;
    } else {
      r += c;
    }
  }
  return r;
}

// The error code of the status-vector cluster that starts at P (0 for the end and for clusters that
// carry no code).
ISC_STATUS ClusterCode(const ISC_STATUS* P) {
  if (P[0] == isc_arg_gds) {
    // "no error, but warnings": the code is the first warning's
    if (P[1] == 0 && P[2] == isc_arg_warning) return P[3];
    return P[1];
  }
  if (P[0] == isc_arg_warning) return P[1];
  return 0;
}

}  // namespace

TIB_SessionBase::TIB_SessionBase(TComponent* AOwner) : TComponent(AOwner), FLibraryName(ClientLibraryName) {
  FLibrary.Load(FLibraryName);
  BindEntryPoints();
}

TIB_SessionBase::~TIB_SessionBase() = default;

void TIB_SessionBase::RaiseNotInstalled() { IB_Raise<EIB_Error>(IBMsg::NotInstalled); }

void* TIB_SessionBase::LookupEntryPoint(const char* Name, bool Required) {
  void* p = FLibrary.Symbol(Name);
  if (!p && Required) IB_Raise<EIB_Error>(IBMsg::UnableToLocateDLLImport, {std::string(Name)});
  return p;
}

void TIB_SessionBase::BindEntryPoints() {
  if (!FLibrary.Loaded()) return;
  TIB_EntryTable e;
  {
    // Loading symbols may run the library's initialisers, which may touch the floating-point state.
    TFpuGuard guard;
#define IB_BIND(Name) BindEntryPoint(#Name, e.Name)
    // array group
    IB_BIND(isc_array_gen_sdl);
    IB_BIND(isc_array_get_slice);
    IB_BIND(isc_array_lookup_bounds);
    IB_BIND(isc_array_lookup_desc);
    IB_BIND(isc_array_set_desc);
    IB_BIND(isc_array_put_slice);
    // blob group with the raw slice calls
    IB_BIND(isc_blob_default_desc);
    IB_BIND(isc_blob_gen_bpb);
    IB_BIND(isc_blob_info);
    IB_BIND(isc_blob_lookup_desc);
    IB_BIND(isc_blob_set_desc);
    IB_BIND(isc_cancel_blob);
    IB_BIND(isc_close_blob);
    IB_BIND(isc_create_blob);
    IB_BIND(isc_create_blob2);
    IB_BIND(isc_open_blob);
    IB_BIND(isc_open_blob2);
    IB_BIND(isc_get_segment);
    IB_BIND(isc_put_segment);
    IB_BIND(isc_get_slice);
    IB_BIND(isc_put_slice);
    // database
    IB_BIND(isc_attach_database);
    IB_BIND(isc_detach_database);
    IB_BIND(isc_drop_database);
    IB_BIND(isc_create_database);
    IB_BIND(isc_database_info);
    // transaction
    IB_BIND(isc_start_multiple);
    IB_BIND(isc_commit_transaction);
    IB_BIND(isc_commit_retaining);
    IB_BIND(isc_rollback_transaction);
    IB_BIND(isc_transaction_info);
    IB_BIND(isc_transact_request);
    // dynamic SQL
    IB_BIND(isc_dsql_execute_immediate);
    IB_BIND(isc_dsql_exec_immed2);
    IB_BIND(isc_dsql_execute);
    IB_BIND(isc_dsql_execute2);
    IB_BIND(isc_dsql_allocate_statement);
    IB_BIND(isc_dsql_alloc_statement2);
    IB_BIND(isc_dsql_prepare);
    IB_BIND(isc_dsql_set_cursor_name);
    IB_BIND(isc_dsql_describe);
    IB_BIND(isc_dsql_describe_bind);
    IB_BIND(isc_dsql_fetch);
    IB_BIND(isc_dsql_free_statement);
    IB_BIND(isc_dsql_sql_info);
    // dates
    IB_BIND(isc_decode_date);
    IB_BIND(isc_encode_date);
    // events
    IB_BIND(isc_event_block);
    IB_BIND(isc_event_counts);
    IB_BIND(isc_que_events);
    IB_BIND(isc_cancel_events);
    // messages and utilities
    IB_BIND(isc_interprete);
    IB_BIND(isc_sql_interprete);
    IB_BIND(isc_sqlcode);
    IB_BIND(isc_free);
    IB_BIND(isc_vax_integer);
    // compiled requests
    IB_BIND(isc_compile_request);
    IB_BIND(isc_compile_request2);
    IB_BIND(isc_send);
    IB_BIND(isc_start_and_send);
    IB_BIND(isc_start_request);
    IB_BIND(isc_unwind_request);
    IB_BIND(isc_receive);
    IB_BIND(isc_release_request);
    IB_BIND(isc_vtov);
#undef IB_BIND
    // optional entries
    e.isc_add_user = reinterpret_cast<decltype(e.isc_add_user)>(LookupEntryPoint("isc_add_user", false));
    e.isc_delete_user = reinterpret_cast<decltype(e.isc_delete_user)>(LookupEntryPoint("isc_delete_user", false));
    e.isc_modify_user = reinterpret_cast<decltype(e.isc_modify_user)>(LookupEntryPoint("isc_modify_user", false));
    e.fb_interpret = reinterpret_cast<decltype(e.fb_interpret)>(LookupEntryPoint("fb_interpret", false));
  }
  if (!e.isc_add_user) e.isc_add_user = &StandbyAddUser;
  if (!e.isc_delete_user) e.isc_delete_user = &StandbyDeleteUser;
  if (!e.isc_modify_user) e.isc_modify_user = &StandbyModifyUser;

  Entries = e;
  Untraced = e;
  Cursor.isc_dsql_fetch = e.isc_dsql_fetch;
  Cursor.isc_dsql_execute = e.isc_dsql_execute;
  Cursor.isc_dsql_execute2 = e.isc_dsql_execute2;
  Cursor.isc_dsql_set_cursor_name = e.isc_dsql_set_cursor_name;
  Cursor.isc_dsql_free_statement = e.isc_dsql_free_statement;
  FMonitorOutputHook = nullptr;
  FMonitorStatsOutputHook = nullptr;
}

// ---- errors ---------------------------------------------------------------------------------------------

void TIB_SessionBase::HandleISCError(TObject* Sender) {
  if (!Entries.isc_interprete || !Entries.isc_sqlcode || !Entries.isc_sql_interprete) RaiseNotInstalled();

  bool raiseException = FERRCODE != 0;
  auto errorMessage = std::make_unique<TStringList>();
  auto errorCodes = std::make_unique<TStringList>();
  auto sqlMessage = std::make_unique<TStringList>();
  auto sql = std::make_unique<TStringList>();

  errorMessage->Add("ISC ERROR CODE:" + IntToStr(FERRCODE));
  errorMessage->Add("");
  errorMessage->Add("ISC ERROR MESSAGE:");

  // One text per status cluster, with the code of the cluster it came from. The walk reads a copy, so
  // nothing a handler does later can change what was reported.
  ISC_STATUS_ARRAY status;
  std::memcpy(status, FStatus, sizeof status);
  status[ISC_STATUS_LENGTH - 1] = isc_arg_end;  // the walk can never run off the vector
  struct TCluster {
    ISC_STATUS Code;
    std::string Text;
  };
  std::vector<TCluster> clusters;
  std::string lastText;
  char buffer[1024];
  const ISC_STATUS* cursor = status;
  ISC_STATUS* legacyCursor = status;
  for (int call = 0; call < ISC_STATUS_LENGTH; ++call) {
    const ISC_STATUS* start = Entries.fb_interpret ? cursor : legacyCursor;
    const ISC_STATUS code = ClusterCode(start);
    ISC_LONG length;
    buffer[0] = '\0';
    {
      TFpuGuard guard;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
      length = Entries.fb_interpret ? Entries.fb_interpret(buffer, sizeof buffer, &cursor)
                                    : Entries.isc_interprete(buffer, &legacyCursor);
#pragma GCC diagnostic pop
    }
    errorCodes->Add(IntToStr(code));
    if (length == 0) break;  // the end: this call consumed nothing and has no text
    const std::string text = Trim(std::string(buffer, strnlen(buffer, sizeof buffer)));
    clusters.push_back({code, text});
    if (text != lastText) {
      errorMessage->Add(text);
      lastText = text;
    }
  }

  {
    TFpuGuard guard;
    FSQLCODE = static_cast<int32_t>(Entries.isc_sqlcode(status));
  }
  const int32_t sqlCode = FSQLCODE;
  if (sqlCode != -999) {
    buffer[0] = '\0';
    {
      TFpuGuard guard;
      Entries.isc_sql_interprete(static_cast<short>(sqlCode), buffer, sizeof buffer);
    }
    const std::string text = Trim(std::string(buffer, strnlen(buffer, sizeof buffer)));
    if (text != lastText) {
      sqlMessage->Add("SQL ERROR CODE:" + IntToStr(sqlCode));
      sqlMessage->Add("");
      sqlMessage->Add("SQL ERROR MESSAGE:");
      sqlMessage->Add(text);
    }
  }

  std::string message;
  if (sqlCode == -836 && clusters.size() >= 3 && clusters[0].Code == isc_except && clusters[1].Code == isc_random &&
      clusters[2].Code == isc_random) {
    // A user exception: the exception's name comes first, then its own text.
    message = clusters[2].Text;
  } else if (sqlCode == -836 && errorMessage->Count() >= 5) {
    message = errorMessage->Get(4);
  } else {
    message = errorMessage->GetText();
  }

  DoHandleError(Sender, FERRCODE, *errorMessage, *errorCodes, sqlCode, *sqlMessage, *sql, raiseException);

  if (GetMonitorHooked()) {
    std::string text = "//>>> ERROR <<<//\r\n" + Trim(AdjustLineBreaks(errorMessage->GetText()));
    if (sqlMessage->Count() > 0)
      text += "\r\n\r\n//>>> SQL MESSAGE <<<//\r\n" + Trim(AdjustLineBreaks(sqlMessage->GetText()));
    if (sql->Count() > 0) text += "\r\n\r\n//>>> SQL <<<//\r\n" + Trim(AdjustLineBreaks(sql->GetText()));
    MonitorOutput(text);
  }

  if (raiseException)
    throw EIB_ISCError(Sender, message, FERRCODE, *errorMessage, *errorCodes, sqlCode, *sqlMessage, *sql);
}

void TIB_SessionBase::DoHandleError(TObject* Sender, int32_t ERRCODE, TStrings& ErrorMessage, TStrings& ErrorCodes,
                                    int32_t SQLCODE, TStrings& SQLMessage, TStrings& SQL, bool& RaiseException) {
  if (OnError && !HasState(csLoading) && !HasState(csDestroying))
    OnError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
}

void TIB_SessionBase::MonitorOutput(const std::string& Text) {
  if (FMonitorOutputHook) FMonitorOutputHook(Text);
}

void TIB_SessionBase::MonitorStatsOutput(const std::string& Text) {
  if (FMonitorStatsOutputHook) FMonitorStatsOutputHook(Text);
}

// ---- database-wide operations ---------------------------------------------------------------------------

bool TIB_SessionBase::CreateDatabase(const std::string& DBName, const std::string& User, const std::string& Password,
                                     uint16_t PageSize, const std::string& CharSet, int16_t SQLDialect) {
  if (!CharSet.empty() && !IsPlainIdentifier(CharSet)) IB_Raise<EIB_Error>(IBMsg::InvalidCharacterSetName, {CharSet});
  // The engine takes the names as C strings: a NUL inside a quoted literal would cut the name short.
  IB_CheckNoNul(DBName, "The database name");
  IB_CheckNoNul(User, "The user name");
  IB_CheckNoNul(Password, "The password");
  std::string text = "CREATE DATABASE '" + DoubleQuotes(DBName) + "'";
  if (!User.empty()) text += " USER '" + DoubleQuotes(User) + "'";
  if (!Password.empty()) text += " PASSWORD '" + DoubleQuotes(Password) + "'";
  if (PageSize >= 1024) {
    // Rounded in 32 bits: 65,535 becomes 65,536, not 0.
    const uint32_t rounded = (static_cast<uint32_t>(PageSize) + 512u) & ~uint32_t{1023};
    text += " PAGE_SIZE = " + IntToStr(rounded);
  }
  if (!CharSet.empty()) text += " DEFAULT CHARACTER SET " + CharSet;

  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  // Passed with its length (a text too long to count goes as the C string it can be: it holds no NUL).
  const auto length = static_cast<unsigned short>(text.size() <= 0xFFFF ? text.size() : 0);
  // A failure that a handler kept quiet gave no database to detach from.
  if (CallChecked(this, Entries.isc_dsql_execute_immediate, &db, &tr, length, text.c_str(),
                  static_cast<unsigned short>(SQLDialect), static_cast<const XSQLDA*>(nullptr)) != 0)
    return false;
  CallChecked(this, Entries.isc_detach_database, &db);
  return true;
}

void TIB_SessionBase::GetStatementPlan(isc_stmt_handle StatementHandle, std::string& Plan) {
  Plan.clear();
  if (StatementHandle == 0) return;
  if (!Untraced.isc_dsql_sql_info) RaiseNotInstalled();
  constexpr size_t kReplySize = 32761;
  constexpr size_t kMaxPlan = 32757;
  try {
    const char items[] = {isc_info_sql_get_plan, isc_info_end};
    std::vector<char> reply(kReplySize, 0);
    isc_stmt_handle handle = StatementHandle;
    const ISC_STATUS status = CallScratch(Untraced.isc_dsql_sql_info, &handle, static_cast<short>(sizeof items), items,
                                          static_cast<short>(kReplySize), reply.data());
    if (status != 0) {
      Plan = IB_LoadStr(IBMsg::PlanError) + sLineBreak + Plan;
      return;
    }
    // Anything but the plan item (an empty reply, or isc_info_truncated for a plan too long for the
    // buffer) leaves the plan empty.
    if (reply[0] != isc_info_sql_get_plan) return;
    size_t length = static_cast<size_t>(PortableInteger(reinterpret_cast<const unsigned char*>(&reply[1]), 2) & 0xFFFF);
    if (length > kMaxPlan) length = kMaxPlan;
    if (length > kReplySize - 3) length = kReplySize - 3;  // never past the reply
    if (length >= 1) Plan.assign(&reply[4], length - 1);   // without the leading line break
  } catch (const std::exception&) {
    Plan = IB_LoadStr(IBMsg::PlanException) + sLineBreak + Plan;
  }
}

void TIB_SessionBase::GetRowsAffected(const isc_stmt_handle* StatementHandle, std::array<int32_t, 4>& Counts) {
  Counts = {-1, -1, -1, -1};
  if (!StatementHandle || *StatementHandle == 0) return;
  const char items[] = {isc_info_sql_records, isc_info_end};
  unsigned char reply[256] = {};
  isc_stmt_handle handle = *StatementHandle;
  const ISC_STATUS status = CallScratch(Untraced.isc_dsql_sql_info, &handle, static_cast<short>(sizeof items), items,
                                        static_cast<short>(sizeof reply), reinterpret_cast<char*>(reply));
  if (status != 0 || reply[0] != isc_info_sql_records) return;
  const size_t length = static_cast<size_t>(PortableInteger(reply + 1, 2) & 0xFFFF);
  if (length > 255) IB_Raise<EIB_Error>(IBMsg::InvalidRowsAffectedBuffer);
  // The items lie in reply[3 .. 3 + length), and never beyond the reply buffer.
  const size_t end = std::min(sizeof reply, 3 + length);
  size_t pos = 3;
  while (pos < end && reply[pos] != isc_info_end) {
    if (pos + 3 > end) IB_Raise<EIB_Error>(IBMsg::InvalidRowsAffectedBuffer);
    const unsigned char code = reply[pos];
    const size_t itemLength = static_cast<size_t>(PortableInteger(reply + pos + 1, 2) & 0xFFFF);
    pos += 3;
    if (pos + itemLength > end) IB_Raise<EIB_Error>(IBMsg::InvalidRowsAffectedBuffer);
    const int32_t value = ClampToInt32(PortableInteger(reply + pos, itemLength));
    pos += itemLength;
    switch (code) {
      case isc_info_req_update_count: Counts[0] = value; break;
      case isc_info_req_delete_count: Counts[1] = value; break;
      case isc_info_req_select_count: Counts[2] = value; break;
      case isc_info_req_insert_count: Counts[3] = value; break;
      default: IB_Raise<EIB_Error>(IBMsg::InvalidRowsAffectedBuffer);
    }
  }
}

bool IB_IsConnectionLostCode(ISC_STATUS ERRCODE) noexcept {
  switch (ERRCODE) {
    case isc_shutdown:             // 335544528 database shut down
    case isc_conn_lost:            // 335544648 connection lost to database
    case isc_network_error:        // 335544721 unable to complete network request
    case isc_net_read_err:         // 335544726 error reading data from the connection
    case isc_net_write_err:        // 335544727 error writing data to the connection
    case isc_lost_db_connection:   // 335544741 connection lost to database
    case isc_att_shutdown:         // 335544856 connection shut down
    case isc_net_server_shutdown:  // 335544971 the server is shutting down
      return true;
    default: return false;
  }
}

bool IB_StatusHasCode(const ISC_STATUS* Status, ISC_STATUS Code) noexcept {
  return IB_StatusAnyCode(Status, [Code](ISC_STATUS C) { return C == Code; });
}

bool IB_StatusShowsConnectionLost(const ISC_STATUS* Status) noexcept {
  return IB_StatusAnyCode(Status, IB_IsConnectionLostCode);
}
