// Decimal rounding of floating values to a fixed number of places, and conversions between
// floating values and scaled integers. The scaled NUMERIC/DECIMAL columns rely on it.
//
// All arithmetic runs in 80-bit extended precision (`long double` on x86-64): a value such as 2.675
// is stored as 2.67499999999999982..., and only the extra 11 bits of mantissa, together with a small
// tolerance of 0.001 in the scaled value, let it round to 2.68 as the user typed it.
#pragma once

#include <cstdint>

// Precisions run from 0 to 12 places. A precision above 12 raises Exception "Rounding precision too
// large"; a negative one raises Exception "Rounding precision negative".
inline constexpr int MaxRoundingPrecision = 12;

// Rounds half away from zero to Precision places; scaled fractions from 0.499 upward already round away
// (0.4995 at precision 3 gives 0.5). Zero, NaN and infinities come back unchanged.
long double RoundToPrecision(int Precision, long double Value);

// Cuts toward zero to Precision places; a scaled value less than 0.001 below the next step counts as
// that step (2.67999 at precision 2 gives 2.68, 2.6798 gives 2.67). Zero, NaN and infinities unchanged.
long double TruncToPrecision(int Precision, long double Value);

// Value times 10^Precision, rounded as RoundToPrecision rounds, not divided back. A result outside the
// 32-bit range, a NaN or an infinity raises Exception "Scaled value out of Integer range".
int32_t RoundToScaledInt(int Precision, long double Value);

// Value / 10^Precision.
long double ScaledIntToFloat(int32_t Value, int Precision);

// True for zero and for values of magnitude 1 up to below 2^53 that have no fraction; false for NaN,
// infinities, non-zero magnitudes below 1 and magnitudes of 2^53 and more.
bool IsWholeNumber(double Value);
