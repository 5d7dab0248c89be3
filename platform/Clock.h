// The one clock of the library: a monotonic millisecond tick for elapsed-time logic and the wall-clock
// time as TDateTime. Tests can replace either source.
#pragma once

#include <cstdint>

// Days since 1899-12-30; the fraction is the time of day.
using TDateTime = double;

// Milliseconds from an arbitrary start, never going backwards. Compare two ticks by subtraction.
uint64_t GetTickCount64();
// The local date and time now.
TDateTime Now();

using TTickSource = uint64_t (*)();
using TNowSource = TDateTime (*)();
// Replace the sources (for tests); nullptr restores the system clock.
void SetTickSource(TTickSource Source);
void SetNowSource(TNowSource Source);
