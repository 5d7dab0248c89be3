// The one place that includes the client library's C header. It is used for the client API's
// types and constants only: nothing links against the client library, which is loaded at run time.
#pragma once

#include <ibase.h>

// isc_dsql_fetch's answer at the end of the rows (not a status code): every fetch loop compares with it.
inline constexpr ISC_STATUS kEndOfCursor = 100;
