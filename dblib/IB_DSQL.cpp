#include "dblib/IB_DSQL.h"

TIB_DSQL::TIB_DSQL(TComponent* AOwner) : TIB_Statement(AOwner) {}
