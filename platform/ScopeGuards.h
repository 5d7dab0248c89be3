// Scope guards: state raised around a callback or a step is put back when the scope ends, also when an
// exception leaves it. One small set, used everywhere instead of restoring flags and counters by hand.
#pragma once

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

// Runs a closing step at the end of a scope unless released. The step must not throw; one that does
// would end the program, so closing steps that can fail report instead (ReportException).
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

// Brackets a scope with two calls on one object: Begin now, End at the end of the scope
// (BeginUpdate/EndUpdate, BeginBusy/EndBusy, BeginDeferEvents/EndDeferEvents ...).
//   auto update = MakeBracket(List, &TStrings::BeginUpdate, &TStrings::EndUpdate);
// End may raise (an OnChange handler, say): on a normal exit its exception reaches the caller; while
// another exception leaves the scope, End's own is reported and the first one goes on.
template <class Obj, class End>
class [[nodiscard]] TBracket {
public:
  TBracket(Obj& Target, End EndFn) : FTarget(&Target), FEnd(EndFn) {}
  TBracket(TBracket&& Other) noexcept
      : FTarget(std::exchange(Other.FTarget, nullptr)), FEnd(Other.FEnd), FUncaught(Other.FUncaught) {}
  ~TBracket() noexcept(false) {
    if (!FTarget) return;
    if (std::uncaught_exceptions() <= FUncaught) {
      (FTarget->*FEnd)();
      return;
    }
    try {
      (FTarget->*FEnd)();
    } catch (...) {
      ReportException(std::current_exception());
    }
  }
  TBracket(const TBracket&) = delete;
  TBracket& operator=(const TBracket&) = delete;
  TBracket& operator=(TBracket&&) = delete;

private:
  Obj* FTarget;
  End FEnd;
  int FUncaught = std::uncaught_exceptions();
};

template <class Obj, class Begin, class End>
TBracket<Obj, End> MakeBracket(Obj& Target, Begin BeginFn, End EndFn) {
  (Target.*BeginFn)();
  return TBracket<Obj, End>(Target, EndFn);
}
