// TIB_Cursor: the component kind of the forward-only dataset.
#include "dblib/dataset/IB_Cursor.h"

TIB_Cursor::TIB_Cursor(TComponent* AOwner) : TIB_Dataset(AOwner) {}
