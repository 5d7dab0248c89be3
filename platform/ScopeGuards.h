// Scope guards: state raised around a callback or a step is put back when the scope ends, also when an
// exception leaves it. One small set, used everywhere instead of restoring flags and counters by hand.
#pragma once

#include <cassert>
#include <exception>
#include <type_traits>
#include <utility>

// Sets a variable for the length of a scope and puts the old value back at its end.
//   TValueRestorer<bool> busy(FBusy, true);
template <class T>
class [[nodiscard]] TValueRestorer {
public:
  TValueRestorer(T& Target, T Value) : FTarget(Target), FOld(std::move(Target)) { FTarget = std::move(Value); }
  ~TValueRestorer() { FTarget = std::move(FOld); }
  TValueRestorer(const TValueRestorer&) = delete;
  TValueRestorer& operator=(const TValueRestorer&) = delete;
  const T& Old() const noexcept { return FOld; }

private:
  T& FTarget;
  T FOld;
};

// Raises a counter for the length of a scope: + 1 now, - 1 at the end.
template <class T>
class [[nodiscard]] TCountGuard {
public:
  explicit TCountGuard(T& Counter) : FCounter(Counter) { ++FCounter; }
  ~TCountGuard() { --FCounter; }
  TCountGuard(const TCountGuard&) = delete;
  TCountGuard& operator=(const TCountGuard&) = delete;

private:
  T& FCounter;
};

// Runs a closing step at the end of a scope unless released. The step only puts state back (a flag,
// a counter, a buffer, a handle): it never raises, never sends events, fetches or posts, never calls
// the application. Work that can fail is done on the normal path instead (see TBracket).
template <class F>
class [[nodiscard]] TScopeExit {
public:
  explicit TScopeExit(F Fn) noexcept(std::is_nothrow_move_constructible_v<F>) : FFn(std::move(Fn)) {}
  ~TScopeExit() {
    if (FActive) FFn();
  }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  void Release() noexcept { FActive = false; }

private:
  F FFn;
  bool FActive = true;
};

void ReportException(std::exception_ptr E) noexcept;  // platform/Forms.h

// Brackets a scope with two calls on one object: Begin now, End once the scope's work is done
// (BeginUpdate/EndUpdate, BeginDeferEvents/EndDeferEvents ...).
//   auto update = MakeBracket(List, &TStrings::BeginUpdate, &TStrings::EndUpdate, &TStrings::EndUpdateQuietly);
//   ...
//   update.End();
// End may raise or call the application (an OnChange handler, deferred events), so it never runs in
// a destructor: the normal path calls End() and its error reaches the caller. A bracket left without
// End (an exception leaves the scope) closes with Quiet, which only puts the object's counters and
// flags back and sends nothing.
template <class Obj, class EndFn, class QuietFn>
class [[nodiscard]] TBracket {
public:
  TBracket(Obj& Target, EndFn End, QuietFn Quiet) : FTarget(&Target), FEnd(End), FQuiet(Quiet) {}
  TBracket(TBracket&& Other) noexcept
      : FTarget(std::exchange(Other.FTarget, nullptr)), FEnd(Other.FEnd), FQuiet(Other.FQuiet),
        FUncaught(Other.FUncaught) {}
  ~TBracket() {
    if (!FTarget) return;
    // Only an exception leaving the scope skips End; a normal exit that forgot it would lose the events.
    assert(std::uncaught_exceptions() > FUncaught && "a bracket left on the normal path without End()");
    (FTarget->*FQuiet)();
  }
  TBracket(const TBracket&) = delete;
  TBracket& operator=(const TBracket&) = delete;
  TBracket& operator=(TBracket&&) = delete;
  // Closes the bracket with its full end (once); its error reaches the caller, the bracket closed.
  void End() {
    if (Obj* target = std::exchange(FTarget, nullptr)) (target->*FEnd)();
  }

private:
  Obj* FTarget;
  EndFn FEnd;
  QuietFn FQuiet;
  int FUncaught = std::uncaught_exceptions();
};

template <class Obj, class Begin, class End, class Quiet>
TBracket<Obj, End, Quiet> MakeBracket(Obj& Target, Begin BeginFn, End EndFn, Quiet QuietFn) {
  (Target.*BeginFn)();
  return TBracket<Obj, End, Quiet>(Target, EndFn, QuietFn);
}
