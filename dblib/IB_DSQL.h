// TIB_DSQL: the public statement for SQL that returns at most one row (DML, DDL, procedures,
// singleton selects). It adds no behaviour to TIB_Statement; the class marks the component kind.
#pragma once

#include "dblib/IB_Statement.h"

class TIB_DSQL : public TIB_Statement {
public:
  explicit TIB_DSQL(TComponent* AOwner);
};
