// The one place that includes the client library's C header. It is used for the client API's
// types and constants only: nothing links against the client library, which is loaded at run time.
#pragma once

#include <ibase.h>
