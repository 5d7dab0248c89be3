#include "platform/Forms.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Clock.h"

TScreen Screen;

// ---------------------------------------------------------------------------------------------
// Beep

namespace {

std::mutex gBeepLock;
TBeepHook gBeepHook;
std::atomic<int64_t> gBeepCount{0};

}  // namespace

void MessageBeep(uint32_t Type) {
  TBeepHook hook;
  {
    std::lock_guard<std::mutex> lock(gBeepLock);
    hook = gBeepHook;
  }
  if (hook)
    hook(Type);
  else
    gBeepCount.fetch_add(1);
}

TBeepHook SetBeepHook(TBeepHook Hook) {
  std::lock_guard<std::mutex> lock(gBeepLock);
  TBeepHook old = std::move(gBeepHook);
  gBeepHook = std::move(Hook);
  return old;
}

int64_t BeepCount() { return gBeepCount.load(); }

// ---------------------------------------------------------------------------------------------
// Per-thread queue and timers

namespace {

struct TTimer {
  const void* Owner;
  uintptr_t Id;
  uint32_t Interval;
  uint64_t Due;
  uint64_t Serial;  // creation order, breaks ties between timers due at the same tick
  std::shared_ptr<TTimerProc> Proc;
  bool Running = false;
};

struct TThreadQueue {
  std::deque<std::function<void()>> Tasks;
  std::vector<TTimer> Timers;
  uint64_t NextSerial = 0;
  TTimerClock Tick;

  uint64_t Now() const { return Tick ? Tick() : GetTickCount64(); }
  TTimer* Find(const void* Owner, uintptr_t Id) {
    for (auto& t : Timers)
      if (t.Owner == Owner && t.Id == Id) return &t;
    return nullptr;
  }
};

TThreadQueue& ThisThread() {
  thread_local TThreadQueue q;
  return q;
}

std::string ProgramPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

std::string BaseNameWithoutExtension(const std::string& Path) {
  std::string name = Path.substr(Path.find_last_of('/') + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

}  // namespace

void ReportException(const std::exception& E) noexcept {
  try {
    if (Application) {
      Application->HandleException(E);
      return;
    }
    if (dynamic_cast<const EAbort*>(&E)) return;
    std::fprintf(stderr, "%s\n", E.what());
  } catch (...) {
    // HandleException itself never throws; a failure in writing the message leaves only stderr.
    std::fprintf(stderr, "%s\n", E.what());
  }
}

void ReportException(std::exception_ptr E) noexcept {
  if (!E) return;
  try {
    std::rethrow_exception(E);
  } catch (const std::exception& Ex) {
    ReportException(Ex);
  } catch (...) {
    ReportException(Exception("Unknown exception"));
  }
}

TApplication::TApplication() : FExeName(ProgramPath()) { FTitle = BaseNameWithoutExtension(FExeName); }

void TApplication::HandleException(const std::exception& E) {
  if (dynamic_cast<const EAbort*>(&E)) return;
  if (OnException) {
    try {
      OnException(E);
      return;
    } catch (const std::exception& inner) {
      // A failing handler must not take the program down; report both to stderr.
      std::fprintf(stderr, "%s\n", inner.what());
    } catch (...) {
      std::fprintf(stderr, "Unknown exception in the application's exception handler\n");
    }
  }
  std::fprintf(stderr, "%s\n", E.what());
}

void TApplication::Post(std::function<void()> Task) {
  if (Task) ThisThread().Tasks.push_back(std::move(Task));
}

void TApplication::ProcessMessages() {
  TThreadQueue& q = ThisThread();
  // Only the tasks queued before this call: a task that posts another does not loop forever.
  size_t n = q.Tasks.size();
  for (size_t i = 0; i < n && !q.Tasks.empty(); ++i) {
    std::function<void()> task = std::move(q.Tasks.front());
    q.Tasks.pop_front();
    RunReported(task);
  }
  RunDueTimers();
}

bool TApplication::SetTimer(const void* Owner, uintptr_t Id, uint32_t Interval, TTimerProc Proc) {
  TThreadQueue& q = ThisThread();
  Interval = std::max<uint32_t>(Interval, 10);
  uint64_t now = q.Now();
  if (TTimer* t = q.Find(Owner, Id)) {
    t->Interval = Interval;
    t->Due = now + Interval;
    t->Proc = std::make_shared<TTimerProc>(std::move(Proc));
    return true;
  }
  if (static_cast<int>(q.Timers.size()) >= FMaxTimers.load()) return false;
  q.Timers.push_back(
      TTimer{Owner, Id, Interval, now + Interval, q.NextSerial++, std::make_shared<TTimerProc>(std::move(Proc))});
  return true;
}

bool TApplication::KillTimer(const void* Owner, uintptr_t Id) {
  TThreadQueue& q = ThisThread();
  auto it =
      std::find_if(q.Timers.begin(), q.Timers.end(), [&](const TTimer& t) { return t.Owner == Owner && t.Id == Id; });
  if (it == q.Timers.end()) return false;
  q.Timers.erase(it);
  return true;
}

int TApplication::TimerCount() const { return static_cast<int>(ThisThread().Timers.size()); }

void TApplication::RunDueTimers() {
  TThreadQueue& q = ThisThread();
  uint64_t now = q.Now();
  // Pick the due timers first, earliest due first; callbacks may add, kill or reset timers, so
  // each one is looked up again before it runs.
  struct TDue {
    const void* Owner;
    uintptr_t Id;
    uint64_t Due, Serial;
  };
  std::vector<TDue> due;
  for (const auto& t : q.Timers)
    if (!t.Running && static_cast<int64_t>(now - t.Due) >= 0) due.push_back({t.Owner, t.Id, t.Due, t.Serial});
  std::sort(due.begin(), due.end(),
            [](const TDue& a, const TDue& b) { return a.Due != b.Due ? a.Due < b.Due : a.Serial < b.Serial; });
  for (const TDue& d : due) {
    TTimer* t = q.Find(d.Owner, d.Id);
    if (!t || t->Serial != d.Serial || t->Running || static_cast<int64_t>(now - t->Due) < 0) continue;
    // One tick per pass however late the timer is, as window timers coalesce.
    t->Due = now + t->Interval;
    t->Running = true;
    std::shared_ptr<TTimerProc> proc = t->Proc;  // survives a KillTimer from inside the callback
    RunReported([&] {
      if (*proc) (*proc)();
    });
    if (TTimer* again = q.Find(d.Owner, d.Id); again && again->Serial == d.Serial) again->Running = false;
  }
}

void TApplication::SetTimerClock(TTimerClock Source) { ThisThread().Tick = std::move(Source); }

namespace {
TApplication gApplication;
}

TApplication* Application = &gApplication;
