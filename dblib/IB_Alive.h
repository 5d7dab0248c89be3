// The liveness token of the library's objects and the one way they call out to application code.
//
// Any handler may delete any component, the one that calls it included. Each component (and each row,
// and each session) carries a TIB_AliveFlag that it clears as its deletion starts; a running operation
// holds a copy of the tokens of the objects it still touches, and after every call out asks them. When
// one died, the operation ends with the silent abort (EAbort) and touches nothing of it. IB_CallOut is
// that rule in one place: it copies the handler (a handler that deletes its owner frees the function
// object it runs in), holds the tokens, calls, then asks. The tokens are used on their session's
// thread only, so their holder count is a plain one; asking one is a load.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <type_traits>
#include <utility>

#include "platform/Classes.h"
#include "platform/SysUtils.h"

// A flag shared between an object and the frames of its running operations: the object clears it when
// it goes, and a frame whose call out destroyed the object sees that and leaves without touching it. The
// platform's components carry it too (their loader asks it), so it is one type.
using TIB_AliveFlag = TAliveFlag;

// The silent abort when the object whose token Alive is was destroyed.
inline void IB_CheckAlive(const TIB_AliveFlag& Alive) {
  if (!Alive.Get()) [[unlikely]]
    throw EAbort();
}

// Sets a member of an object for the length of a scope and puts the old value back at its end, unless
// the object (Alive is its token) was destroyed by code it called meanwhile.
template <class T>
class [[nodiscard]] TIB_AliveRestorer {
public:
  TIB_AliveRestorer(const TIB_AliveFlag& Alive, T& Target, T Value) : FAlive(Alive), FTarget(Target), FOld(Target) {
    FTarget = std::move(Value);
  }
  ~TIB_AliveRestorer() {
    if (FAlive.Get()) FTarget = std::move(FOld);
  }
  TIB_AliveRestorer(const TIB_AliveRestorer&) = delete;
  TIB_AliveRestorer& operator=(const TIB_AliveRestorer&) = delete;
  // The copy of the token it holds (alive while the restorer lives, whatever happens to the object).
  const TIB_AliveFlag& Token() const noexcept { return FAlive; }

private:
  TIB_AliveFlag FAlive;
  T& FTarget;
  T FOld;
};

// Raises a counter of an object for the length of a scope, unless the object is gone by its end.
template <class T>
class [[nodiscard]] TIB_AliveCount {
public:
  TIB_AliveCount(const TIB_AliveFlag& Alive, T& Counter) : FAlive(Alive), FCounter(Counter) { ++FCounter; }
  ~TIB_AliveCount() {
    if (FAlive.Get()) --FCounter;
  }
  TIB_AliveCount(const TIB_AliveCount&) = delete;
  TIB_AliveCount& operator=(const TIB_AliveCount&) = delete;
  const TIB_AliveFlag& Token() const noexcept { return FAlive; }

private:
  TIB_AliveFlag FAlive;
  T& FCounter;
};

// Runs a closing step at the end of a scope, unless released or unless the object whose token Alive is
// died meanwhile. As TScopeExit, the step only puts state back: it never raises or calls out.
template <class F>
class [[nodiscard]] TIB_AliveExit {
public:
  TIB_AliveExit(const TIB_AliveFlag& Alive, F Step) : FAlive(Alive), FStep(std::move(Step)) {}
  ~TIB_AliveExit() {
    if (FActive && FAlive.Get()) FStep();
  }
  TIB_AliveExit(const TIB_AliveExit&) = delete;
  TIB_AliveExit& operator=(const TIB_AliveExit&) = delete;
  void Release() noexcept { FActive = false; }

private:
  TIB_AliveFlag FAlive;
  F FStep;
  bool FActive = true;
};

// Calls Handler(Args...) on a copy of it, then ends with the silent abort when the object whose token
// Alive is died meanwhile. Returns what the handler returns.
template <class H, class... A>
decltype(auto) IB_CallOut(const TIB_AliveFlag& Alive, const H& Handler, A&&... Args) {
  const TIB_AliveFlag alive(Alive);
  const H handler(Handler);
  if constexpr (std::is_void_v<decltype(handler(std::forward<A>(Args)...))>) {
    handler(std::forward<A>(Args)...);
    IB_CheckAlive(alive);
  } else {
    auto result = handler(std::forward<A>(Args)...);
    IB_CheckAlive(alive);
    return result;
  }
}

// The same for a handler the library sets on its own objects (a row's notice to its statement): it
// touches nothing of itself once its work is done, so it runs in place, without the copy, and only the
// token is held. Used where a notice goes out for every row shown.
template <class H, class... A>
void IB_CallOwn(const TIB_AliveFlag& Alive, const H& Handler, A&&... Args) {
  const TIB_AliveFlag alive(Alive);
  Handler(std::forward<A>(Args)...);
  IB_CheckAlive(alive);
}

// The same for an operation that touches several objects afterwards: the silent abort when any of
// them died. (The list holds copies of the tokens for the length of the call.)
template <class H, class... A>
decltype(auto) IB_CallOut(std::initializer_list<TIB_AliveFlag> Alive, const H& Handler, A&&... Args) {
  const H handler(Handler);
  auto checkAll = [&] {
    for (const TIB_AliveFlag& a : Alive) IB_CheckAlive(a);
  };
  if constexpr (std::is_void_v<decltype(handler(std::forward<A>(Args)...))>) {
    handler(std::forward<A>(Args)...);
    checkAll();
  } else {
    auto result = handler(std::forward<A>(Args)...);
    checkAll();
    return result;
  }
}
