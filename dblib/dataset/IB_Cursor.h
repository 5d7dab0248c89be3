// TIB_Cursor: the public, forward-only dataset. It adds nothing to TIB_Dataset: open it, walk its rows
// with First/Next until Eof, and read the current row through FieldByName or column pointers found
// once after the open (they stay valid until the next prepare or unprepare).
#pragma once

#include "dblib/dataset/IB_Dataset.h"

class TIB_Cursor : public TIB_Dataset {
public:
  explicit TIB_Cursor(TComponent* AOwner);

protected:
  // True for this class itself; a derived class may change the scroll steps.
  bool GetStepsQuickly() const override;
};
