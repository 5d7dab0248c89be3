#include "dblib/IB_DSQL.h"

// The statement's own parameter hooks do nothing here: only links and OnValidateField hear a change.
TIB_DSQL::TIB_DSQL(TComponent* AOwner) : TIB_Statement(AOwner) { FParamChangesHeard = false; }
