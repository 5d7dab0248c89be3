// The column classes of the scalar SQL types, as the row's column factory creates them.
#pragma once

#include "dblib/data/IB_ColumnDateTime.h"
#include "dblib/data/IB_ColumnNumeric.h"
#include "dblib/data/IB_ColumnText.h"
#include "dblib/data/IB_Row.h"

// The constructor of Class when it is one of the scalar classes (numbers, dates and times, text,
// DB_KEY); an empty creator for the blob and array classes.
TIB_ColumnCreator TypedColumnCreator(TIB_ColumnClass Class);
