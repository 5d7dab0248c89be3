#include "dblib/trace/IB_Monitor.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "dblib/IB_Utils.h"
#include "dblib/trace/IB_DumpTexts.h"
#include "platform/Clock.h"
#include "platform/Forms.h"
#include "platform/Locale.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // isc_interprete is one of the traced calls

// The monitors of one thread, in the order they were made, and how many are enabled or ask for rows.
struct TIB_MonitorThread {
  std::vector<TIB_Monitor*> Monitors;
  std::atomic<int32_t> EnabledCount{0};
  std::atomic<int32_t> RowCount{0};
};

// What a session's wrapped entries held before the wrappers came: the wrappers call through it.
struct TIB_TraceState {
  TIB_SessionBase* Session = nullptr;
  TIB_EntryTable Next;
  TIB_CursorEntries NextCursor;
  const TIB_MonitorThread* Owner = nullptr;  // the thread whose monitors installed the wrappers
};

namespace {

// The calling thread's monitor list: made with its first monitor, freed with its last.
thread_local std::weak_ptr<TIB_MonitorThread> tThread;

// The sessions that hold wrappers. A session releases its state when it goes, so an expired entry is a
// session that is gone.
std::mutex gStatesMutex;
std::vector<std::weak_ptr<TIB_TraceState>> gStates;

// The state of the session whose status vector is Status. A call made with a scratch status vector (or
// with none) goes through a session wrapped by the calling thread's monitors, else the first wrapped
// session: their saved entries are the same library's.
std::shared_ptr<TIB_TraceState> FindState(const ISC_STATUS* Status) {
  const TIB_MonitorThread* thread = tThread.lock().get();
  std::lock_guard lock(gStatesMutex);
  std::shared_ptr<TIB_TraceState> fallback;
  for (auto it = gStates.begin(); it != gStates.end();) {
    auto st = it->lock();
    if (!st) {
      it = gStates.erase(it);
      continue;
    }
    if (Status && st->Session->GetStatusVector() == Status) return st;
    if (!fallback || (st->Owner == thread && fallback->Owner != thread)) fallback = st;
    ++it;
  }
  return fallback;
}

ISC_STATUS Unavailable(ISC_STATUS* Status) {
  if (Status) {
    Status[0] = isc_arg_gds;
    Status[1] = isc_unavailable;
    Status[2] = isc_arg_end;
  }
  return isc_unavailable;
}

bool Listed(const TIB_MonitorThread& Thread, const TIB_Monitor* M) {
  return std::find(Thread.Monitors.begin(), Thread.Monitors.end(), M) != Thread.Monitors.end();
}

// Keeps the caller's status vector (and the session's) as the traced call left them while the wrapper
// does its own work after the call: asking for row counts or statistics must never turn a failure into
// success.
class TStatusKeeper {
public:
  TStatusKeeper(ISC_STATUS* Caller, ISC_STATUS* Session) : FCaller(Caller), FSession(Session) {
    if (FCaller) std::memcpy(FCallerCopy, FCaller, sizeof FCallerCopy);
    if (FSession != FCaller) std::memcpy(FSessionCopy, FSession, sizeof FSessionCopy);
  }
  ~TStatusKeeper() {
    if (FCaller) std::memcpy(FCaller, FCallerCopy, sizeof FCallerCopy);
    if (FSession != FCaller) std::memcpy(FSession, FSessionCopy, sizeof FSessionCopy);
  }
  TStatusKeeper(const TStatusKeeper&) = delete;
  TStatusKeeper& operator=(const TStatusKeeper&) = delete;

private:
  ISC_STATUS* FCaller;
  ISC_STATUS* FSession;
  ISC_STATUS_ARRAY FCallerCopy;
  ISC_STATUS_ARRAY FSessionCopy;
};

// One call item under construction, built in its own string.
struct TItem {
  TIB_Monitor* Monitor;
  std::string Text;
  uint64_t Start;
  void Line(const std::string& S) { Text += S + sLineBreak; }
  void Descriptor(const char* Prefix, const XSQLDA* DA) {
    std::string dump;
    DumpXSQLDA(DA, Monitor->GetShowColOwner(), dump);
    Line(Prefix + dump + " ]");
  }
  // A line builder that fails leaves a readable marker, never an exception out of the traced call.
  template <class F>
  void Build(F&& Lines) {
    try {
      Lines(*this);
    } catch (const std::exception& e) {
      Line(std::string("<trace failed: ") + e.what() + ">");
    }
  }
};

std::string H(const FB_API_HANDLE* Handle) { return IntToStr(Handle ? static_cast<int32_t>(*Handle) : 0); }
std::string Text(const char* S, unsigned short Length) {
  if (!S) return {};
  return Length ? std::string(S, Length) : std::string(S);
}

void RowCounts(TItem& It, TIB_SessionBase& S, const isc_stmt_handle* Statement) {
  std::array<int32_t, 4> c;
  S.GetRowsAffected(Statement, c);
  const int32_t update = c[0], del = c[1], select = c[2], insert = c[3];
  if (select < 1 && insert <= 0 && update <= 0 && del <= 0) return;
  It.Line("");
  if (select >= 1) It.Line("SELECT COUNT: " + IntToStr(select));
  if (insert > 0) It.Line("INSERT COUNT: " + IntToStr(insert));
  if (update > 0) It.Line("UPDATE COUNT: " + IntToStr(update));
  if (del > 0) It.Line("DELETE COUNT: " + IntToStr(del));
}

// Runs a traced call: the profile point before, the items' lines before, the call, the lines after, the
// items' ends, the profile point after. Call receives the session's saved entries and returns the result;
// After receives the result and the session.
template <class R, class Test, class Before, class Call, class After>
R Traced(ISC_STATUS* Status, const char* ProfileBefore, const char* ProfileAfter, Test&& Wants, Before&& LinesBefore,
         Call&& RealCall, After&& LinesAfter, R (*EndCode)(R) = nullptr) {
  const std::shared_ptr<TIB_TraceState> st = FindState(Status);
  if (!st) return static_cast<R>(Unavailable(Status));
  TIB_SessionBase& s = *st->Session;
  const std::shared_ptr<TIB_MonitorThread> thread = tThread.lock();
  if (ProfileBefore) s.MonitorStatsOutput(ProfileBefore);
  std::vector<TItem> items;
  if (thread) {
    const std::vector<TIB_Monitor*> monitors = thread->Monitors;
    for (TIB_Monitor* m : monitors) {
      if (!Listed(*thread, m) || !m->GetEnabled() || !Wants(*m)) continue;
      TItem it{m, m->BeginItemText(), GetTickCount64()};
      it.Build(LinesBefore);
      items.push_back(std::move(it));
    }
  }
  const R result = RealCall(*st);
  if (items.empty() && !ProfileAfter) return result;
  TStatusKeeper keep(Status, s.GetStatusVector());
  for (TItem& it : items) {
    if (!Listed(*thread, it.Monitor)) continue;  // freed by an earlier item's handler
    it.Build([&](TItem& i) { LinesAfter(i, result, s); });
    it.Monitor->EndItem(it.Text, it.Start, static_cast<int32_t>(EndCode ? EndCode(result) : result));
    RunReported([&] { it.Monitor->DoMonitorOutputItem(it.Text); });
  }
  if (ProfileAfter) s.MonitorStatsOutput(ProfileAfter);
  return result;
}

// A call traced with lines before it only.
template <class Test, class Before, class Call>
ISC_STATUS TracedBefore(ISC_STATUS* Status, const char* ProfileBefore, const char* ProfileAfter, Test&& Wants,
                        Before&& LinesBefore, Call&& RealCall) {
  return Traced<ISC_STATUS>(Status, ProfileBefore, ProfileAfter, Wants, LinesBefore, RealCall,
                            [](TItem&, ISC_STATUS, TIB_SessionBase&) {});
}

auto Group(TIB_MonitorGroup G) {
  return [G](const TIB_Monitor& M) { return M.HasGroup(G); };
}
auto Statements(TIB_StatementGroup G) {
  return [G](const TIB_Monitor& M) { return M.HasGroup(mgStatement) && M.HasStatementGroup(G); };
}
auto NoLines() {
  return [](TItem&) {};
}

// ---- the general entries ----------------------------------------------------------------------------

ISC_STATUS W_isc_attach_database(ISC_STATUS* S, short L, const ISC_SCHAR* Name, isc_db_handle* DB, short DL,
                                 const ISC_SCHAR* DPB) {
  return Traced<ISC_STATUS>(
      S, nullptr, nullptr, Group(mgConnection),
      [&](TItem& i) { i.Line("CONNECT DATABASE " + Text(Name, static_cast<unsigned short>(L > 0 ? L : 0))); },
      [&](TIB_TraceState& t) { return t.Next.isc_attach_database(S, L, Name, DB, DL, DPB); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) { i.Line("DB_HANDLE = " + H(DB)); });
}

ISC_STATUS W_isc_detach_database(ISC_STATUS* S, isc_db_handle* DB) {
  return TracedBefore(
      S, nullptr, nullptr, Group(mgConnection),
      [&](TItem& i) {
        i.Line("DISCONNECT DATABASE");
        i.Line("DB_HANDLE = " + H(DB));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_detach_database(S, DB); });
}

ISC_STATUS W_isc_drop_database(ISC_STATUS* S, isc_db_handle* DB) {
  return TracedBefore(
      S, nullptr, nullptr, Group(mgConnection),
      [&](TItem& i) {
        i.Line("DROP DATABASE");
        i.Line("DB_HANDLE = " + H(DB));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_drop_database(S, DB); });
}

ISC_STATUS W_isc_database_info(ISC_STATUS* S, isc_db_handle* DB, short IL, const ISC_SCHAR* Items, short BL,
                               ISC_SCHAR* Buffer) {
  return TracedBefore(
      S, nullptr, nullptr, Group(mgConnection),
      [&](TItem& i) {
        i.Line("DATABASE INFO");
        i.Line("DB_HANDLE = " + H(DB));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_database_info(S, DB, IL, Items, BL, Buffer); });
}

template <auto Member>
ISC_STATUS EndTransaction(ISC_STATUS* S, isc_tr_handle* TR, const char* Kind, const char* ProfileAfter) {
  return TracedBefore(
      S, nullptr, ProfileAfter, Group(mgTransaction),
      [&](TItem& i) {
        i.Line(Kind);
        i.Line("TR_HANDLE = " + H(TR));
      },
      [&](TIB_TraceState& t) { return (t.Next.*Member)(S, TR); });
}
ISC_STATUS W_isc_commit_retaining(ISC_STATUS* S, isc_tr_handle* TR) {
  return EndTransaction<&TIB_EntryTable::isc_commit_retaining>(S, TR, "COMMIT RETAINING", "After commit retaining");
}
ISC_STATUS W_isc_commit_transaction(ISC_STATUS* S, isc_tr_handle* TR) {
  return EndTransaction<&TIB_EntryTable::isc_commit_transaction>(S, TR, "COMMIT", "After commit");
}
ISC_STATUS W_isc_rollback_transaction(ISC_STATUS* S, isc_tr_handle* TR) {
  return EndTransaction<&TIB_EntryTable::isc_rollback_transaction>(S, TR, "ROLLBACK", "After rollback");
}

ISC_STATUS W_isc_start_multiple(ISC_STATUS* S, isc_tr_handle* TR, short Count, void* TEB) {
  return Traced<ISC_STATUS>(
      S, "Before start transaction", nullptr, Group(mgTransaction),
      [&](TItem& i) {
        i.Line("START TRANSACTION");
        i.Line("DB HANDLE COUNT " + IntToStr(Count));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_start_multiple(S, TR, Count, TEB); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) { i.Line("TR_HANDLE = " + H(TR)); });
}

template <auto Member>
ISC_STATUS Allocate(ISC_STATUS* S, isc_db_handle* DB, isc_stmt_handle* Stmt, const char* Kind) {
  return Traced<ISC_STATUS>(
      S, nullptr, nullptr, Statements(sgAllocate),
      [&](TItem& i) {
        i.Line(Kind);
        i.Line("DB_HANDLE = " + H(DB));
      },
      [&](TIB_TraceState& t) { return (t.Next.*Member)(S, DB, Stmt); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) { i.Line("STMT_HANDLE = " + H(Stmt)); });
}
ISC_STATUS W_isc_dsql_allocate_statement(ISC_STATUS* S, isc_db_handle* DB, isc_stmt_handle* Stmt) {
  return Allocate<&TIB_EntryTable::isc_dsql_allocate_statement>(S, DB, Stmt, "ALLOCATE STATEMENT");
}
ISC_STATUS W_isc_dsql_alloc_statement2(ISC_STATUS* S, isc_db_handle* DB, isc_stmt_handle* Stmt) {
  return Allocate<&TIB_EntryTable::isc_dsql_alloc_statement2>(S, DB, Stmt, "ALLOCATE STATEMENT 2");
}

ISC_STATUS W_isc_dsql_free_statement(ISC_STATUS* S, isc_stmt_handle* Stmt, unsigned short Option) {
  return TracedBefore(
      S, nullptr, nullptr,
      [](const TIB_Monitor& M) {
        return M.HasGroup(mgStatement) && (M.HasStatementGroup(sgServerCursor) || M.HasStatementGroup(sgAllocate));
      },
      [&](TItem& i) {
        if (Option == DSQL_close && i.Monitor->HasStatementGroup(sgServerCursor)) i.Line("CLOSE CURSOR");
        if (Option != DSQL_close && i.Monitor->HasStatementGroup(sgAllocate)) i.Line("DEALLOCATE STATEMENT");
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_dsql_free_statement(S, Stmt, Option); });
}

ISC_STATUS W_isc_dsql_prepare(ISC_STATUS* S, isc_tr_handle* TR, isc_stmt_handle* Stmt, unsigned short Length,
                              const ISC_SCHAR* SQL, unsigned short Dialect, XSQLDA* Out) {
  return Traced<ISC_STATUS>(
      S, "Before prepare", "After prepare", Statements(sgPrepare),
      [&](TItem& i) {
        i.Line("PREPARE STATEMENT");
        i.Line("TR_HANDLE = " + H(TR));
        i.Line("STMT_HANDLE = " + H(Stmt));
        i.Line("");
        i.Line(MaskSQLPasswords(Text(SQL, Length)));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_dsql_prepare(S, TR, Stmt, Length, SQL, Dialect, Out); },
      [&](TItem& i, ISC_STATUS R, TIB_SessionBase& Session) {
        if (R == 0) {
          std::string plan;
          Session.GetStatementPlan(Stmt ? *Stmt : 0, plan);
          if (!plan.empty()) {
            i.Line(plan);
            i.Line("");
          }
        }
        i.Descriptor("FIELDS = [ ", Out);
      });
}

ISC_STATUS W_isc_dsql_execute(ISC_STATUS* S, isc_tr_handle* TR, isc_stmt_handle* Stmt, unsigned short Dialect,
                              const XSQLDA* In) {
  return Traced<ISC_STATUS>(
      S, "Before execute", "After execute", Statements(sgExecute),
      [&](TItem& i) {
        i.Line("EXECUTE STATEMENT");
        i.Line("TR_HANDLE = " + H(TR));
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_dsql_execute(S, TR, Stmt, Dialect, In); },
      [&](TItem& i, ISC_STATUS R, TIB_SessionBase& Session) {
        i.Descriptor("PARAMS = [ ", In);
        if (R == 0) RowCounts(i, Session, Stmt);
      });
}

ISC_STATUS W_isc_dsql_execute2(ISC_STATUS* S, isc_tr_handle* TR, isc_stmt_handle* Stmt, unsigned short Dialect,
                               const XSQLDA* In, const XSQLDA* Out) {
  return Traced<ISC_STATUS>(
      S, "Before execute2 dsql", "After execute2 dsql", Statements(sgExecute),
      [&](TItem& i) {
        i.Line("EXECUTE2 DSQL");
        i.Line("TR_HANDLE = " + H(TR));
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_dsql_execute2(S, TR, Stmt, Dialect, In, Out); },
      [&](TItem& i, ISC_STATUS R, TIB_SessionBase& Session) {
        i.Descriptor("PARAMS = [ ", In);
        i.Descriptor("FIELDS = [ ", Out);
        if (R == 0) RowCounts(i, Session, Stmt);
      });
}

ISC_STATUS W_isc_dsql_execute_immediate(ISC_STATUS* S, isc_db_handle* DB, isc_tr_handle* TR, unsigned short Length,
                                        const ISC_SCHAR* SQL, unsigned short Dialect, const XSQLDA* In) {
  return Traced<ISC_STATUS>(
      S, "Before execute immediate", "After execute immediate", Statements(sgExecuteImmediate),
      [&](TItem& i) {
        i.Line("EXECUTE IMMEDIATE");
        i.Line("DB_HANDLE = " + H(DB));
        i.Line("TR_HANDLE = " + H(TR));
        i.Line("");
        i.Line(MaskSQLPasswords(Text(SQL, Length)));
        i.Line("");
      },
      [&](TIB_TraceState& t) { return t.Next.isc_dsql_execute_immediate(S, DB, TR, Length, SQL, Dialect, In); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) { i.Descriptor("PARAMS = [ ", In); });
}

ISC_STATUS W_isc_dsql_exec_immed2(ISC_STATUS* S, isc_db_handle* DB, isc_tr_handle* TR, unsigned short Length,
                                  const ISC_SCHAR* SQL, unsigned short Dialect, const XSQLDA* In, const XSQLDA* Out) {
  return Traced<ISC_STATUS>(
      S, "Before execute immediate2", "After execute immediate2", Statements(sgExecuteImmediate),
      [&](TItem& i) {
        i.Line("EXECUTE IMMEDIATE 2");
        i.Line("DB_HANDLE = " + H(DB));
        i.Line("TR_HANDLE = " + H(TR));
        i.Line("");
        i.Line(MaskSQLPasswords(Text(SQL, Length)));
        i.Line("");
      },
      [&](TIB_TraceState& t) { return t.Next.isc_dsql_exec_immed2(S, DB, TR, Length, SQL, Dialect, In, Out); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) {
        i.Descriptor("PARAMS = [ ", In);
        i.Descriptor("FIELDS = [ ", Out);
      });
}

ISC_STATUS W_isc_dsql_set_cursor_name(ISC_STATUS* S, isc_stmt_handle* Stmt, const ISC_SCHAR* Name,
                                      unsigned short Type) {
  return TracedBefore(
      S, nullptr, nullptr, Statements(sgServerCursor),
      [&](TItem& i) {
        i.Line("OPEN CURSOR");
        i.Line("STMT_HANDLE = " + H(Stmt));
        i.Line("NAME = " + Text(Name, 0));
        i.Line("");
      },
      [&](TIB_TraceState& t) { return t.Next.isc_dsql_set_cursor_name(S, Stmt, Name, Type); });
}

template <auto Member>
ISC_STATUS Describe(ISC_STATUS* S, isc_stmt_handle* Stmt, unsigned short Dialect, XSQLDA* DA, const char* Kind,
                    const char* Prefix) {
  return Traced<ISC_STATUS>(
      S, nullptr, nullptr, Statements(sgDescribe),
      [&](TItem& i) {
        i.Line(Kind);
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return (t.Next.*Member)(S, Stmt, Dialect, DA); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) { i.Descriptor(Prefix, DA); });
}
ISC_STATUS W_isc_dsql_describe(ISC_STATUS* S, isc_stmt_handle* Stmt, unsigned short Dialect, XSQLDA* DA) {
  return Describe<&TIB_EntryTable::isc_dsql_describe>(S, Stmt, Dialect, DA, "DESCRIBE OUTPUT", "FIELDS = [ ");
}
ISC_STATUS W_isc_dsql_describe_bind(ISC_STATUS* S, isc_stmt_handle* Stmt, unsigned short Dialect, XSQLDA* DA) {
  return Describe<&TIB_EntryTable::isc_dsql_describe_bind>(S, Stmt, Dialect, DA, "DESCRIBE INPUT", "PARAMS = [ ");
}

ISC_STATUS W_isc_dsql_sql_info(ISC_STATUS* S, isc_stmt_handle* Stmt, short IL, const ISC_SCHAR* Items, short BL,
                               ISC_SCHAR* Buffer) {
  return TracedBefore(
      S, nullptr, nullptr, Statements(sgStatementInfo),
      [&](TItem& i) {
        i.Line("STATEMENT INFO");
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return t.Next.isc_dsql_sql_info(S, Stmt, IL, Items, BL, Buffer); });
}

ISC_LONG InterpreteCode(ISC_LONG R) { return R != 0 ? R : -1; }
ISC_LONG W_isc_interprete(ISC_SCHAR* Buffer, ISC_STATUS** Vector) {
  return Traced<ISC_LONG>(
      nullptr, nullptr, nullptr, [](const TIB_Monitor& M) { return M.GetMonitorGroups() != 0; }, NoLines(),
      [&](TIB_TraceState& t) { return t.Next.isc_interprete(Buffer, Vector); },
      [&](TItem& i, ISC_LONG, TIB_SessionBase&) { i.Line("INTERPRETE BUFFER = " + Text(Buffer, 0)); }, &InterpreteCode);
}

// The library reads error texts through the bounded formatter where the client has it: its items are
// those of isc_interprete.
ISC_LONG W_fb_interpret(ISC_SCHAR* Buffer, unsigned int Length, const ISC_STATUS** Vector) {
  return Traced<ISC_LONG>(
      nullptr, nullptr, nullptr, [](const TIB_Monitor& M) { return M.GetMonitorGroups() != 0; }, NoLines(),
      [&](TIB_TraceState& t) { return t.Next.fb_interpret(Buffer, Length, Vector); },
      [&](TItem& i, ISC_LONG, TIB_SessionBase&) {
        i.Line("INTERPRETE BUFFER = " + (Buffer && Length ? std::string(Buffer, strnlen(Buffer, Length)) : ""));
      },
      &InterpreteCode);
}

std::string BlobId(const ISC_QUAD* Id) {
  if (!Id) return "BLOB ID 0, 0";
  return "BLOB ID " + IntToStr(static_cast<int32_t>(Id->gds_quad_high)) + ", " +
         IntToStr(static_cast<int64_t>(static_cast<uint32_t>(Id->gds_quad_low)));
}

ISC_STATUS W_isc_close_blob(ISC_STATUS* S, isc_blob_handle* Blob) {
  return TracedBefore(
      S, nullptr, nullptr, Group(mgBlob), [&](TItem& i) { i.Line("CLOSE BLOB HANDLE " + H(Blob)); },
      [&](TIB_TraceState& t) { return t.Next.isc_close_blob(S, Blob); });
}

// The blob calls that report the handle and the id after the call.
template <class Call>
ISC_STATUS BlobOpened(ISC_STATUS* S, isc_blob_handle* Blob, const ISC_QUAD* Id, const char* Kind, Call&& RealCall) {
  return Traced<ISC_STATUS>(S, nullptr, nullptr, Group(mgBlob), NoLines(), RealCall,
                            [&](TItem& i, ISC_STATUS, TIB_SessionBase&) {
                              i.Line(Kind + H(Blob));
                              i.Line(BlobId(Id));
                            });
}
ISC_STATUS W_isc_create_blob(ISC_STATUS* S, isc_db_handle* DB, isc_tr_handle* TR, isc_blob_handle* Blob, ISC_QUAD* Id) {
  return BlobOpened(S, Blob, Id, "CREATE BLOB HANDLE ",
                    [&](TIB_TraceState& t) { return t.Next.isc_create_blob(S, DB, TR, Blob, Id); });
}
ISC_STATUS W_isc_create_blob2(ISC_STATUS* S, isc_db_handle* DB, isc_tr_handle* TR, isc_blob_handle* Blob, ISC_QUAD* Id,
                              short L, const ISC_SCHAR* BPB) {
  return BlobOpened(S, Blob, Id, "CREATE 2 BLOB HANDLE ",
                    [&](TIB_TraceState& t) { return t.Next.isc_create_blob2(S, DB, TR, Blob, Id, L, BPB); });
}
ISC_STATUS W_isc_open_blob(ISC_STATUS* S, isc_db_handle* DB, isc_tr_handle* TR, isc_blob_handle* Blob, ISC_QUAD* Id) {
  return BlobOpened(S, Blob, Id, "OPEN BLOB HANDLE ",
                    [&](TIB_TraceState& t) { return t.Next.isc_open_blob(S, DB, TR, Blob, Id); });
}
ISC_STATUS W_isc_open_blob2(ISC_STATUS* S, isc_db_handle* DB, isc_tr_handle* TR, isc_blob_handle* Blob, ISC_QUAD* Id,
                            ISC_USHORT L, const ISC_UCHAR* BPB) {
  return BlobOpened(S, Blob, Id, "OPEN BLOB 2 HANDLE ",
                    [&](TIB_TraceState& t) { return t.Next.isc_open_blob2(S, DB, TR, Blob, Id, L, BPB); });
}

ISC_STATUS W_isc_get_segment(ISC_STATUS* S, isc_blob_handle* Blob, unsigned short* Actual, unsigned short Length,
                             ISC_SCHAR* Buffer) {
  return Traced<ISC_STATUS>(
      S, nullptr, nullptr, Group(mgBlob), [&](TItem& i) { i.Line("GET SEGMENT BLOB HANDLE " + H(Blob)); },
      [&](TIB_TraceState& t) { return t.Next.isc_get_segment(S, Blob, Actual, Length, Buffer); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) { i.Line("SEGMENT SIZE = " + IntToStr(Actual ? *Actual : 0)); });
}

ISC_STATUS W_isc_put_segment(ISC_STATUS* S, isc_blob_handle* Blob, unsigned short Length, const ISC_SCHAR* Buffer) {
  return Traced<ISC_STATUS>(
      S, nullptr, nullptr, Group(mgBlob), NoLines(),
      [&](TIB_TraceState& t) { return t.Next.isc_put_segment(S, Blob, Length, Buffer); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) {
        i.Line("PUT SEGMENT BLOB HANDLE " + H(Blob));
        i.Line("SEGMENT SIZE = " + IntToStr(Length));
      });
}

ISC_STATUS W_isc_array_get_slice(ISC_STATUS* S, isc_db_handle* DB, isc_tr_handle* TR, ISC_QUAD* Id,
                                 const ISC_ARRAY_DESC* Desc, void* Slice, ISC_LONG* Length) {
  return TracedBefore(
      S, nullptr, nullptr, Group(mgArray), [&](TItem& i) { i.Line("GET SLICE"); },
      [&](TIB_TraceState& t) { return t.Next.isc_array_get_slice(S, DB, TR, Id, Desc, Slice, Length); });
}
ISC_STATUS W_isc_array_put_slice(ISC_STATUS* S, isc_db_handle* DB, isc_tr_handle* TR, ISC_QUAD* Id,
                                 const ISC_ARRAY_DESC* Desc, void* Slice, ISC_LONG* Length) {
  return TracedBefore(
      S, nullptr, nullptr, Group(mgArray), [&](TItem& i) { i.Line("PUT SLICE"); },
      [&](TIB_TraceState& t) { return t.Next.isc_array_put_slice(S, DB, TR, Id, Desc, Slice, Length); });
}

// ---- the cursor group -------------------------------------------------------------------------------

ISC_STATUS R_isc_dsql_fetch(ISC_STATUS* S, isc_stmt_handle* Stmt, unsigned short Dialect, const XSQLDA* Out) {
  return Traced<ISC_STATUS>(
      S, nullptr, nullptr, Group(mgRow),
      [&](TItem& i) {
        i.Line("FETCH");
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return t.NextCursor.isc_dsql_fetch(S, Stmt, Dialect, Out); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) { i.Descriptor("FIELDS = [ ", Out); });
}

ISC_STATUS R_isc_dsql_execute(ISC_STATUS* S, isc_tr_handle* TR, isc_stmt_handle* Stmt, unsigned short Dialect,
                              const XSQLDA* In) {
  return Traced<ISC_STATUS>(
      S, nullptr, nullptr, Group(mgRow),
      [&](TItem& i) {
        i.Line("EXECUTE ROW FETCH");
        i.Line("TR_HANDLE = " + H(TR));
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return t.NextCursor.isc_dsql_execute(S, TR, Stmt, Dialect, In); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) { i.Descriptor("PARAMS = [ ", In); });
}

ISC_STATUS R_isc_dsql_execute2(ISC_STATUS* S, isc_tr_handle* TR, isc_stmt_handle* Stmt, unsigned short Dialect,
                               const XSQLDA* In, const XSQLDA* Out) {
  return Traced<ISC_STATUS>(
      S, nullptr, nullptr, Group(mgRow),
      [&](TItem& i) {
        i.Line("EXECUTE2 SINGLETON");
        i.Line("TR_HANDLE = " + H(TR));
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return t.NextCursor.isc_dsql_execute2(S, TR, Stmt, Dialect, In, Out); },
      [&](TItem& i, ISC_STATUS, TIB_SessionBase&) {
        i.Descriptor("PARAMS = [ ", In);
        i.Descriptor("FIELDS = [ ", Out);
      });
}

ISC_STATUS R_isc_dsql_set_cursor_name(ISC_STATUS* S, isc_stmt_handle* Stmt, const ISC_SCHAR* Name,
                                      unsigned short Type) {
  return TracedBefore(
      S, nullptr, nullptr, Group(mgRow),
      [&](TItem& i) {
        i.Line("OPEN ROW CURSOR");
        i.Line("STMT_HANDLE = " + H(Stmt));
        i.Line("NAME = " + Text(Name, 0));
      },
      [&](TIB_TraceState& t) { return t.NextCursor.isc_dsql_set_cursor_name(S, Stmt, Name, Type); });
}

ISC_STATUS R_isc_dsql_free_statement(ISC_STATUS* S, isc_stmt_handle* Stmt, unsigned short Option) {
  return TracedBefore(
      S, nullptr, nullptr, Group(mgRow),
      [&](TItem& i) {
        i.Line("CLOSE ROW CURSOR");
        i.Line("STMT_HANDLE = " + H(Stmt));
      },
      [&](TIB_TraceState& t) { return t.NextCursor.isc_dsql_free_statement(S, Stmt, Option); });
}

// ---- the library's trace texts and the profile points ------------------------------------------------

void TraceHook(const std::string& Text) {
  const std::shared_ptr<TIB_MonitorThread> thread = tThread.lock();
  if (!thread) return;
  const std::vector<TIB_Monitor*> monitors = thread->Monitors;
  for (TIB_Monitor* m : monitors) {
    if (!Listed(*thread, m) || !m->GetEnabled() || !m->HasGroup(mgClientTrace)) continue;
    const std::string item =
        m->GetTraceItemStart() + sLineBreak + m->TimeStampLine() + Text + sLineBreak + m->GetTraceItemEnd();
    RunReported([&] { m->DoMonitorOutputItem(item); });
  }
}

void ProfileHook(const std::string& Label) {
  const std::shared_ptr<TIB_MonitorThread> thread = tThread.lock();
  if (!thread) return;
  const std::vector<TIB_Monitor*> monitors = thread->Monitors;
  for (TIB_Monitor* m : monitors) {
    if (!Listed(*thread, m) || !m->GetEnabled() || !m->HasGroup(mgProfile)) continue;
    std::string report;
    try {
      m->GetProfiler()->Report(Label, true, report);
    } catch (const std::exception& e) {
      report = std::string("PROFILE ERROR -- EXCEPTION RAISED") + sLineBreak + Trim(e.what()) + sLineBreak;
    }
    if (!Listed(*thread, m)) continue;  // the report's own calls reached a handler that freed it
    const std::string item =
        m->GetProfileItemStart() + sLineBreak + m->TimeStampLine() + report + m->GetProfileItemEnd();
    RunReported([&] { m->DoMonitorOutputItem(item); });
  }
}

// ---- installing and removing ----------------------------------------------------------------------------

#define IB_TRACED_CALLS(X)       \
  X(isc_attach_database)         \
  X(isc_detach_database)         \
  X(isc_drop_database)           \
  X(isc_database_info)           \
  X(isc_commit_retaining)        \
  X(isc_commit_transaction)      \
  X(isc_rollback_transaction)    \
  X(isc_start_multiple)          \
  X(isc_dsql_allocate_statement) \
  X(isc_dsql_alloc_statement2)   \
  X(isc_dsql_free_statement)     \
  X(isc_dsql_prepare)            \
  X(isc_dsql_execute)            \
  X(isc_dsql_execute2)           \
  X(isc_dsql_execute_immediate)  \
  X(isc_dsql_exec_immed2)        \
  X(isc_dsql_set_cursor_name)    \
  X(isc_dsql_describe)           \
  X(isc_dsql_describe_bind)      \
  X(isc_dsql_sql_info)           \
  X(isc_interprete)              \
  X(isc_close_blob)              \
  X(isc_create_blob)             \
  X(isc_create_blob2)            \
  X(isc_get_segment)             \
  X(isc_put_segment)             \
  X(isc_open_blob)               \
  X(isc_open_blob2)              \
  X(isc_array_get_slice)         \
  X(isc_array_put_slice)

#define IB_CURSOR_CALLS(X)    \
  X(isc_dsql_fetch)           \
  X(isc_dsql_execute)         \
  X(isc_dsql_execute2)        \
  X(isc_dsql_set_cursor_name) \
  X(isc_dsql_free_statement)

TIB_TraceState& StateOf(TIB_SessionBase& S, const TIB_MonitorThread* Owner) {
  if (!S.TraceState) {
    auto st = std::make_shared<TIB_TraceState>();
    st->Session = &S;
    std::lock_guard lock(gStatesMutex);
    gStates.push_back(st);
    S.TraceState = std::move(st);
  }
  S.TraceState->Owner = Owner;
  return *S.TraceState;
}

// Each entry is wrapped once: what it held before is kept as the call to make, so a wrapper that a test
// put there stays in the chain.
void InstallCallHooks(TIB_SessionBase& S, const TIB_MonitorThread* Owner) {
  TIB_TraceState& st = StateOf(S, Owner);
#define IB_INSTALL(N)          \
  if (S.Entries.N != &W_##N) { \
    st.Next.N = S.Entries.N;   \
    S.Entries.N = &W_##N;      \
  }
  IB_TRACED_CALLS(IB_INSTALL)
  // Only where the client has it: a wrapper in an empty entry would make the library call it.
  if (S.Entries.fb_interpret) IB_INSTALL(fb_interpret)
#undef IB_INSTALL
  S.SetMonitorOutputHook(&TraceHook);
  S.SetMonitorStatsOutputHook(&ProfileHook);
}

void InstallRowHooks(TIB_SessionBase& S, const TIB_MonitorThread* Owner) {
  TIB_TraceState& st = StateOf(S, Owner);
#define IB_INSTALL(N)             \
  if (S.Cursor.N != &R_##N) {     \
    st.NextCursor.N = S.Cursor.N; \
    S.Cursor.N = &R_##N;          \
  }
  IB_CURSOR_CALLS(IB_INSTALL)
#undef IB_INSTALL
}

void RemoveCallHooks(TIB_SessionBase& S) {
  TIB_TraceState& st = *S.TraceState;
#define IB_REMOVE(N) \
  if (S.Entries.N == &W_##N) S.Entries.N = st.Next.N;
  IB_TRACED_CALLS(IB_REMOVE)
  IB_REMOVE(fb_interpret)
#undef IB_REMOVE
  S.SetMonitorOutputHook(nullptr);
  S.SetMonitorStatsOutputHook(nullptr);
}

void RemoveRowHooks(TIB_SessionBase& S) {
  TIB_TraceState& st = *S.TraceState;
#define IB_REMOVE(N) \
  if (S.Cursor.N == &R_##N) S.Cursor.N = st.NextCursor.N;
  IB_CURSOR_CALLS(IB_REMOVE)
#undef IB_REMOVE
}

// The sessions whose wrappers the thread's monitors installed.
std::vector<std::shared_ptr<TIB_TraceState>> StatesOf(const TIB_MonitorThread* Owner) {
  std::lock_guard lock(gStatesMutex);
  std::vector<std::shared_ptr<TIB_TraceState>> r;
  for (auto& w : gStates)
    if (auto st = w.lock(); st && st->Owner == Owner) r.push_back(std::move(st));
  return r;
}

}  // namespace

bool IB_CallHooksInstalled(const TIB_SessionBase& Session) {
  return Session.Entries.isc_dsql_prepare == &W_isc_dsql_prepare;
}
bool IB_RowHooksInstalled(const TIB_SessionBase& Session) { return Session.Cursor.isc_dsql_fetch == &R_isc_dsql_fetch; }

// ---- TIB_Monitor ----------------------------------------------------------------------------------------

TIB_Monitor::TIB_Monitor(TComponent* AOwner) : TIB_Component(AOwner) {
  FProfiler = new TIB_Profiler(this);
  FProfiler->SetIncludeTimeStamp(false);
  FThread = tThread.lock();
  if (!FThread) {
    FThread = std::make_shared<TIB_MonitorThread>();
    tThread = FThread;
  }
  FThread->Monitors.push_back(this);
  if (HasGroup(mgRow)) ++FThread->RowCount;
}

void TIB_Monitor::BeforeDestruction() {
  RunReported([&] { SetEnabled(false); });
  TIB_Component::BeforeDestruction();
}

TIB_Monitor::~TIB_Monitor() {
  if (FEnabled) {
    // Not disabled before destruction: take the wrappers out without asking for the session.
    FEnabled = false;
    if (--FThread->EnabledCount == 0)
      for (auto& st : StatesOf(FThread.get())) {
        RemoveCallHooks(*st->Session);
        RemoveRowHooks(*st->Session);
      }
  }
  if (HasGroup(mgRow)) --FThread->RowCount;
  auto& list = FThread->Monitors;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TIB_Monitor::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  if (Value)
    ++FThread->EnabledCount;
  else
    --FThread->EnabledCount;
  UpdateHooks();
}

void TIB_Monitor::SetMonitorGroups(TIB_MonitorGroups Value) {
  if (Value == FMonitorGroups) return;
  const bool hadRows = HasGroup(mgRow);
  FMonitorGroups = Value;
  if (HasGroup(mgRow) != hadRows) {
    if (hadRows)
      --FThread->RowCount;
    else
      ++FThread->RowCount;
  }
  UpdateHooks();
}

void TIB_Monitor::UpdateHooks() {
  TIB_MonitorThread& thread = *FThread;
  if (thread.EnabledCount > 0) {
    TIB_Session* s = GetSession();
    if (!s) return;
    InstallCallHooks(*s, &thread);
    const bool rows = thread.RowCount > 0 && std::any_of(thread.Monitors.begin(), thread.Monitors.end(),
                                                         [](auto* m) { return m->GetEnabled() && m->HasGroup(mgRow); });
    if (rows)
      InstallRowHooks(*s, &thread);
    else
      for (auto& st : StatesOf(&thread)) RemoveRowHooks(*st->Session);
  } else {
    for (auto& st : StatesOf(&thread)) {
      RemoveCallHooks(*st->Session);
      RemoveRowHooks(*st->Session);
    }
  }
}

void TIB_Monitor::DoMonitorOutputItem(const std::string& NewString) {
  if (OnMonitorOutputItem) IB_CallOut(FAlive, OnMonitorOutputItem, this, NewString);
}

std::string TIB_Monitor::TimeStampLine() const {
  return FIncludeTimeStamp ? "[ " + DateTimeToStr(Now()) + " ]" + sLineBreak : std::string();
}

std::string TIB_Monitor::BeginItemText() const { return FItemStart + sLineBreak + TimeStampLine(); }

void TIB_Monitor::EndItem(std::string& Item, uint64_t StartTick, int32_t Code) {
  FTicks = static_cast<uint32_t>(GetTickCount64() - StartTick);
  FLastErrorCode = Code;
  if (FTicks >= FMinTicks)
    Item += std::string(sLineBreak) + "SECONDS = " + FormatFloat("#######0.000", FTicks / 1000.0L) + sLineBreak;
  if (Code != 0) Item += std::string(sLineBreak) + "ERRCODE = " + IntToStr(Code) + sLineBreak;
  Item += FItemEnd;
}
