// The client-call monitor: traces the calls that the library makes into the client library.
//
// While a thread has an enabled TIB_Monitor, 30 entries of its monitors' sessions are replaced by tracing
// wrappers (and the five entries of the cursor group while some enabled monitor asks for mgRow); the
// bounded message formatter fb_interpret, through which the library reads error texts, is traced as
// isc_interprete ("INTERPRETE BUFFER = "). Every wrapper hands the real call's result, and any exception
// of it, to the caller. A wrapper builds one text item per enabled monitor that selected the call's group: the call's kind,
// handles, SQL text, parameter and field values, elapsed time and error code. It calls what the entry
// held before (normally the library's own function) with the caller's arguments and returns its result
// unchanged. Monitors also receive the library's own trace texts (mgClientTrace) and server statistics
// differences at fixed points before and after transactions and statements (mgProfile, through the
// owned TIB_Profiler). Each finished item goes to OnMonitorOutputItem.
//
// The wrappers are free functions: they find the session's saved entries through the session and the
// enabled monitors through the calling thread's list, so a destroyed monitor leaves nothing behind that
// could point at it. With no enabled monitor the entry table holds the real functions: a disabled
// monitor costs nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dblib/IB_Session.h"
#include "dblib/trace/IB_Profiler.h"

enum TIB_MonitorGroup { mgConnection, mgTransaction, mgStatement, mgRow, mgBlob, mgArray, mgClientTrace, mgProfile };
using TIB_MonitorGroups = uint8_t;  // bits 1 << TIB_MonitorGroup
enum TIB_StatementGroup {
  sgAllocate,
  sgPrepare,
  sgDescribe,
  sgStatementInfo,
  sgExecute,
  sgExecuteImmediate,
  sgServerCursor
};
using TIB_StatementGroups = uint8_t;  // bits 1 << TIB_StatementGroup

using TIB_MonitorOutput = std::function<void(TObject* Sender, const std::string& NewString)>;

struct TIB_MonitorThread;

class TIB_Monitor : public TIB_Component {
public:
  explicit TIB_Monitor(TComponent* AOwner);
  ~TIB_Monitor() override;
  void BeforeDestruction() override;

  bool GetEnabled() const noexcept { return FEnabled; }
  // Installs the wrappers in the monitor's session when the thread's first monitor is enabled; removes
  // them from the thread's sessions when its last one is disabled.
  virtual void SetEnabled(bool Value);
  TIB_MonitorGroups GetMonitorGroups() const noexcept { return FMonitorGroups; }
  void SetMonitorGroups(TIB_MonitorGroups Value);
  TIB_StatementGroups GetStatementGroups() const noexcept { return FStatementGroups; }
  void SetStatementGroups(TIB_StatementGroups Value) { FStatementGroups = Value; }
  bool GetIncludeTimeStamp() const noexcept { return FIncludeTimeStamp; }
  void SetIncludeTimeStamp(bool Value) { FIncludeTimeStamp = Value; }
  bool GetShowColOwner() const noexcept { return FShowColOwner; }
  void SetShowColOwner(bool Value) { FShowColOwner = Value; }
  // An item shows its elapsed time only when the call took at least MinTicks milliseconds.
  uint32_t GetMinTicks() const noexcept { return FMinTicks; }
  void SetMinTicks(uint32_t Value) { FMinTicks = Value; }
  // Elapsed milliseconds of the last finished call item.
  uint32_t GetTicks() const noexcept { return FTicks; }
  // Error code of the last finished call item.
  int32_t GetLastErrorCode() const noexcept { return FLastErrorCode; }

  const std::string& GetItemStart() const noexcept { return FItemStart; }
  void SetItemStart(const std::string& Value) { FItemStart = Value; }
  const std::string& GetItemEnd() const noexcept { return FItemEnd; }
  void SetItemEnd(const std::string& Value) { FItemEnd = Value; }
  const std::string& GetTraceItemStart() const noexcept { return FTraceItemStart; }
  void SetTraceItemStart(const std::string& Value) { FTraceItemStart = Value; }
  const std::string& GetTraceItemEnd() const noexcept { return FTraceItemEnd; }
  void SetTraceItemEnd(const std::string& Value) { FTraceItemEnd = Value; }
  const std::string& GetProfileItemStart() const noexcept { return FProfileItemStart; }
  void SetProfileItemStart(const std::string& Value) { FProfileItemStart = Value; }
  const std::string& GetProfileItemEnd() const noexcept { return FProfileItemEnd; }
  void SetProfileItemEnd(const std::string& Value) { FProfileItemEnd = Value; }

  // The owned profiler (not to be freed by the caller) and its connection.
  TIB_Profiler* GetProfiler() const noexcept { return FProfiler; }
  TIB_Connection* GetProfilerConnection() const { return FProfiler->GetIB_Connection(); }
  void SetProfilerConnection(TIB_Connection* Value) { FProfiler->SetIB_Connection(Value); }

  bool HasGroup(TIB_MonitorGroup G) const noexcept { return FMonitorGroups & (1u << G); }
  bool HasStatementGroup(TIB_StatementGroup G) const noexcept { return FStatementGroups & (1u << G); }

  // Receives each finished item: the whole item text.
  TIB_MonitorOutput OnMonitorOutputItem;
  void DoMonitorOutputItem(const std::string& NewString);

  // The text that begins a call item (ItemStart, CR LF, the optional date-time line), and the text that
  // ends one: the elapsed seconds when at least MinTicks, "ERRCODE = " when Code is not 0, then ItemEnd.
  // EndItem also sets Ticks and LastErrorCode.
  std::string BeginItemText() const;
  void EndItem(std::string& Item, uint64_t StartTick, int32_t Code);
  std::string TimeStampLine() const;

private:
  void UpdateHooks();

  std::shared_ptr<TIB_MonitorThread> FThread;  // the list of the thread that made the monitor
  bool FEnabled = false;
  TIB_MonitorGroups FMonitorGroups = (1u << mgConnection) | (1u << mgTransaction) | (1u << mgStatement);
  TIB_StatementGroups FStatementGroups = (1u << sgPrepare) | (1u << sgExecute) | (1u << sgExecuteImmediate);
  bool FIncludeTimeStamp = false;
  uint32_t FTicks = 0;
  uint32_t FMinTicks = 10;
  std::string FItemStart = "/*---";
  std::string FItemEnd = "----*/";
  std::string FTraceItemStart = "/*===";
  std::string FTraceItemEnd = "====*/";
  std::string FProfileItemStart = "/*===";
  std::string FProfileItemEnd = "====*/";
  TIB_Profiler* FProfiler;
  bool FShowColOwner = false;
  int32_t FLastErrorCode = 0;
};

// True when the session's general entries hold the monitor's wrappers; the second: when its cursor group does.
bool IB_CallHooksInstalled(const TIB_SessionBase& Session);
bool IB_RowHooksInstalled(const TIB_SessionBase& Session);
