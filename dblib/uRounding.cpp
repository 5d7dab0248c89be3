#include "dblib/uRounding.h"

#include <cmath>

#include "dblib/IB_Constants.h"
#include "platform/SysUtils.h"

namespace {

const double PowersOfTen[MaxRoundingPrecision + 1] = {1e0, 1e1, 1e2, 1e3,  1e4,  1e5, 1e6,
                                                      1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
constexpr double RoundingBias = 0.5;
constexpr double RoundingTolerance = 0.001;

// From 2^63 up every extended value is a whole number: there is nothing left to round, and scaling
// such a value back and forth would only lose bits (or overflow to an infinity).
constexpr long double NoFractionBound = 9223372036854775808.0L;

double PowerOf(int Precision) {
  if (Precision > MaxRoundingPrecision) IB_Raise<Exception>(IBMsg::RoundingPrecisionTooLarge);
  if (Precision < 0) IB_Raise<EIB_Error>(IBMsg::RoundingPrecisionNegative);
  return PowersOfTen[Precision];
}

#if defined(__x86_64__) || defined(__i386__)
// Runs one rounding step on the x87 unit at 64-bit precision, round to nearest, all exceptions masked,
// whatever the caller (or a library it called) left in the control word, and gives the caller's control
// word back afterwards. The operands are tied to the two fldcw instructions so that the compiler cannot
// move the arithmetic outside the bracket.
class TExtendedStep {
public:
  explicit TExtendedStep(long double& Operand) {
    asm volatile("fnstcw %0" : "=m"(FSaved));
    const uint16_t Work = static_cast<uint16_t>((FSaved & ~0x0F3Fu) | 0x033Fu);
    asm volatile("fldcw %1" : "+m"(Operand) : "m"(Work));
  }
  TExtendedStep(const TExtendedStep&) = delete;
  TExtendedStep& operator=(const TExtendedStep&) = delete;
  void Finish(long double& Result) {
    asm volatile("fldcw %1" : "+m"(Result) : "m"(FSaved));
    FDone = true;
  }
  ~TExtendedStep() {
    if (!FDone) asm volatile("fldcw %0" : : "m"(FSaved));
  }

private:
  uint16_t FSaved = 0;
  bool FDone = false;
};
#else
// Elsewhere long double is whatever the platform offers, and there is no control word to pin.
class TExtendedStep {
public:
  explicit TExtendedStep(long double&) {}
  void Finish(long double&) {}
};
#endif

enum class TStep { Round, Trunc };

// Value * F moved away from zero by the step's offsets and cut to a whole number toward zero, which is
// the scaled result of both rounding and cutting: positive values go toward minus infinity, negative
// ones toward plus infinity. Value must be finite and non-zero.
long double ScaledStep(long double Value, double F, TStep Step, bool DivideBack) {
  TExtendedStep Bracket(Value);
  long double X = Value * F;
  if (std::fabs(X) >= NoFractionBound) {
    X = DivideBack ? Value : X;
  } else {
    if (X > 0) {
      if (Step == TStep::Round) X = X + RoundingBias;
      X = X + RoundingTolerance;
      X = std::floor(X);
    } else {
      if (Step == TStep::Round) X = X - RoundingBias;
      X = X - RoundingTolerance;
      X = std::ceil(X);
    }
    if (DivideBack) X = X / F;
  }
  Bracket.Finish(X);
  return X;
}

bool PassesUnchanged(long double Value) { return Value == 0 || !std::isfinite(Value); }

}  // namespace

long double RoundToPrecision(int Precision, long double Value) {
  const double F = PowerOf(Precision);
  if (PassesUnchanged(Value)) return Value;
  return ScaledStep(Value, F, TStep::Round, true);
}

long double TruncToPrecision(int Precision, long double Value) {
  const double F = PowerOf(Precision);
  if (PassesUnchanged(Value)) return Value;
  return ScaledStep(Value, F, TStep::Trunc, true);
}

int32_t RoundToScaledInt(int Precision, long double Value) {
  const double F = PowerOf(Precision);
  if (Value == 0) return 0;
  if (!std::isfinite(Value)) IB_Raise<EIB_Error>(IBMsg::ScaledValueOutOfIntegerRange);
  const long double X = ScaledStep(Value, F, TStep::Round, false);
  // A silent wrap (or the processor's "integer indefinite" -2147483648) would store a wrong number.
  if (X < -2147483648.0L || X > 2147483647.0L) IB_Raise<EIB_Error>(IBMsg::ScaledValueOutOfIntegerRange);
  return static_cast<int32_t>(X);
}

long double ScaledIntToFloat(int32_t Value, int Precision) {
  const double F = PowerOf(Precision);
  long double X = Value;
  TExtendedStep Bracket(X);
  X = X / F;
  Bracket.Finish(X);
  return X;
}

bool IsWholeNumber(double Value) {
  if (Value == 0) return true;
  if (!std::isfinite(Value)) return false;
  const int Exponent = std::ilogb(Value);
  if (Exponent < 0 || Exponent > 52) return false;
  return Value == std::trunc(Value);
}
