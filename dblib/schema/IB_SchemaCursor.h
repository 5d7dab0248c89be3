// The schema cursor: the forward cursor the schema queries and the schema cache read the system tables
// through.
//
// TIB_SchemaCursor is a dataset over one fixed SELECT. Without a transaction of its own it runs in the
// read-only transaction of its connection's schema cache. Column values are valid until the next Next,
// First or Close; whoever makes a cursor frees it.
#pragma once

#include <string>

#include "dblib/dataset/IB_Dataset.h"

// A read-only forward cursor over one SELECT, for the library's schema reading.
class TIB_SchemaCursor : public TIB_Dataset {
public:
  explicit TIB_SchemaCursor(TComponent* AOwner);

  bool SysCheckTransaction(bool Raise) override;

  // The text of column Index of the current row with trailing blanks removed; empty for null.
  std::string ColumnText(int Index);
  std::string FieldText(const std::string& Name);
};
