// The application object, the screen cursor, the beep hook and colours: the stand-ins for the
// platform's form library. There is no window system here: the application's "message loop" is a
// per-thread queue of posted tasks and timers that ProcessMessages serves on the calling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "platform/SysUtils.h"

// Colours as blue-green-red values; system colours carry the high byte 0xFF and a colour index.
using TColor = int32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;
inline constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clGrayText = clSystemColor | 17;

// Cursor ids.
using TCursor = int16_t;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crSQLWait = -17;
inline constexpr TCursor crAppStart = -19;

// The screen: only the cursor shape that busy operations show.
class TScreen {
public:
  // Release and acquire order suffice for a value that other threads only show; a sequentially
  // consistent store would cost a locked instruction on every busy bracket.
  TCursor GetCursor() const { return FCursor.load(std::memory_order_acquire); }
  void SetCursor(TCursor Value) { FCursor.store(Value, std::memory_order_release); }

private:
  std::atomic<TCursor> FCursor{crDefault};
};

extern TScreen Screen;

// The beep: a hook that by default does nothing but count the calls.
using TBeepHook = std::function<void(uint32_t Type)>;
void MessageBeep(uint32_t Type);
// Installs Hook (an empty one restores the counting default) and gives back the previous hook.
TBeepHook SetBeepHook(TBeepHook Hook);
// Number of beeps the default hook has counted.
int64_t BeepCount();

// The message of the out-of-resources error raised when SetTimer refuses a timer.
inline constexpr const char* SNoTimers = "Not enough timers available";

using TExceptionEvent = std::function<void(const std::exception& E)>;
using TTimerProc = std::function<void()>;
// A monotonic millisecond tick for one thread's timers.
using TTimerClock = std::function<uint64_t()>;

// The application: its title and program file, termination flag, exception sink and the
// per-thread queue of posted tasks and timers.
class TApplication {
public:
  TApplication();

  // Default: the program's file name without its extension.
  const std::string& GetTitle() const { return FTitle; }
  void SetTitle(std::string Value) { FTitle = std::move(Value); }
  // Full path of the program file.
  const std::string& GetExeName() const { return FExeName; }

  bool GetTerminated() const { return FTerminated.load(); }
  void Terminate() { FTerminated.store(true); }

  // Reports an exception that reached the top of an operation: to OnException when assigned, else
  // the message goes to stderr. The silent abort is not reported. Never throws.
  void HandleException(const std::exception& E);
  TExceptionEvent OnException;

  // Queues Task on the calling thread; the thread's next ProcessMessages runs it.
  void Post(std::function<void()> Task);
  // Runs, on the calling thread, the tasks queued so far and the timers that are due, in that
  // order. Never blocks and never starts a thread. Exceptions go to HandleException.
  void ProcessMessages();

  // Starts or restarts the calling thread's timer (Owner, Id): Proc runs from ProcessMessages each
  // time Interval milliseconds (at least 10) have passed. False when the thread's timer limit is
  // reached. A timer never runs again while its own Proc is still running.
  bool SetTimer(const void* Owner, uintptr_t Id, uint32_t Interval, TTimerProc Proc);
  // Stops the timer; false when there was none.
  bool KillTimer(const void* Owner, uintptr_t Id);
  // Number of the calling thread's timers.
  int TimerCount() const;
  // Runs the calling thread's due timers only (tests drive timers with this and SetTimerClock).
  void RunDueTimers();
  // Replaces the calling thread's timer clock (empty: the clock module's GetTickCount64).
  void SetTimerClock(TTimerClock Source);
  // Most timers one thread may hold (default 10000); lower it to see a refused timer.
  void SetMaxTimers(int Value) { FMaxTimers.store(Value); }

private:
  std::string FTitle, FExeName;
  std::atomic<bool> FTerminated{false};
  std::atomic<int> FMaxTimers{10000};
};

// The application object; may be set to nullptr to act as if it were gone.
extern TApplication* Application;

// The one way to report an exception that must not travel further (a destructor, a free notice, a
// timer tick, a failing event handler during teardown): to the application's sink, or to standard
// error when there is no application. The silent abort is not reported. Never throws and never loses
// the message.
void ReportException(const std::exception& E) noexcept;
// The same for a caught exception of any type (inside a catch block: std::current_exception()).
void ReportException(std::exception_ptr E) noexcept;

// Runs Body; whatever it throws is reported, never raised.
template <class F>
void RunReported(F&& Body) noexcept {
  try {
    Body();
  } catch (...) {
    ReportException(std::current_exception());
  }
}
