// TIB_Cursor: the component kind of the forward-only dataset.
#include "dblib/dataset/IB_Cursor.h"

#include <typeinfo>

TIB_Cursor::TIB_Cursor(TComponent* AOwner) : TIB_Dataset(AOwner) {}

bool TIB_Cursor::GetStepsQuickly() const { return typeid(*this) == typeid(TIB_Cursor); }
