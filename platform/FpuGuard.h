// Keeps a foreign library from changing the floating-point control state of the caller.
#pragma once

#include <cstdint>

#if !defined(__x86_64__) && !defined(__i386__)
#include <cfenv>
#endif

// Saves the floating-point control state on construction and restores it on destruction. On x86 that
// is the x87 control word and MXCSR, loaded back only when the call changed them; the full
// fegetenv/fesetenv pair would cost far more on every client call. Elsewhere it falls back to the
// environment functions.
class TFpuGuard {
public:
  TFpuGuard() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __asm__ __volatile__("fnstcw %0" : "=m"(FControlWord));
    __asm__ __volatile__("stmxcsr %0" : "=m"(FMxcsr));
#else
    fegetenv(&FEnv);
#endif
  }
  ~TFpuGuard() {
#if defined(__x86_64__) || defined(__i386__)
    // Reading the state is cheap; loading it stalls the pipeline, so it is loaded only when it changed.
    uint16_t controlWord;
    uint32_t mxcsr;
    __asm__ __volatile__("fnstcw %0" : "=m"(controlWord));
    __asm__ __volatile__("stmxcsr %0" : "=m"(mxcsr));
    if (controlWord != FControlWord) __asm__ __volatile__("fldcw %0" : : "m"(FControlWord));
    if (mxcsr != FMxcsr) __asm__ __volatile__("ldmxcsr %0" : : "m"(FMxcsr));
#else
    fesetenv(&FEnv);
#endif
  }
  TFpuGuard(const TFpuGuard&) = delete;
  TFpuGuard& operator=(const TFpuGuard&) = delete;

private:
#if defined(__x86_64__) || defined(__i386__)
  uint16_t FControlWord = 0;
  uint32_t FMxcsr = 0;
#else
  fenv_t FEnv{};
#endif
};
