#include "dblib/IB_Alive.h"

// Out of line: the last holder frees the flag; the compiler, seeing only the inlined copies, takes
// the count for a use after the free.
void TIB_AliveFlag::Free(TShared* Shared) noexcept { delete Shared; }
