#include "dblib/schema/IB_SchemaCursor.h"

#include "dblib/IB_Connection.h"
#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_Row.h"
#include "platform/SysUtils.h"

TIB_SchemaCursor::TIB_SchemaCursor(TComponent* AOwner) : TIB_Dataset(AOwner) {}

bool TIB_SchemaCursor::SysCheckTransaction(bool Raise) {
  if (!GetIB_Transaction()) {
    if (TIB_Connection* c = GetIB_Connection()) {
      if (TIB_ConnectionSchemaCache* cache = c->GetSchemaCache()) SetIB_Transaction(cache->GetTransaction());
    }
  }
  return TIB_Statement::SysCheckTransaction(Raise);
}

std::string TIB_SchemaCursor::ColumnText(int Index) {
  TIB_Column* c = GetFields()->GetColumns(Index);
  return c->GetIsNull() ? std::string() : TrimRight(c->GetAsString());
}

std::string TIB_SchemaCursor::FieldText(const std::string& Name) {
  TIB_Column* c = FieldByName(Name);
  return c->GetIsNull() ? std::string() : TrimRight(c->GetAsString());
}
