// The column classes of every SQL type, as the row's column factory creates them.
#pragma once

#include "dblib/data/IB_ColumnDateTime.h"
#include "dblib/data/IB_ColumnNumeric.h"
#include "dblib/data/IB_ColumnText.h"
#include "dblib/data/IB_Row.h"

// The constructor of the library's column class Class.
TIB_ColumnCreator TypedColumnCreator(TIB_ColumnClass Class);
