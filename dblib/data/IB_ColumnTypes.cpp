// The factory entries of the scalar column classes.
#include "dblib/data/IB_ColumnTypes.h"

#include "dblib/data/IB_ColumnArray.h"
#include "dblib/data/IB_ColumnBlob.h"

namespace {

template <typename T>
TIB_ColumnCreator Creator() {
  return [](TIB_Row* Row, int16_t FieldNo, XSQLVAR* Var, const TIB_ColumnOptions&) -> TIB_Column* {
    return new T(Row, FieldNo, Var);
  };
}

}  // namespace

TIB_ColumnCreator TypedColumnCreator(TIB_ColumnClass Class) {
  switch (Class) {
    case TIB_ColumnClass::Numeric:
      return [](TIB_Row* Row, int16_t FieldNo, XSQLVAR* Var, const TIB_ColumnOptions& Options) -> TIB_Column* {
        return new TIB_ColumnNumeric(Row, FieldNo, Var, Options.NoRoundErr);
      };
    case TIB_ColumnClass::VarText: return Creator<TIB_ColumnVarText>();
    case TIB_ColumnClass::DB_KEY: return Creator<TIB_ColumnDB_KEY>();
    case TIB_ColumnClass::Text: return Creator<TIB_ColumnText>();
    case TIB_ColumnClass::Curr: return Creator<TIB_ColumnCurr>();
    case TIB_ColumnClass::Comp: return Creator<TIB_ColumnComp>();
    case TIB_ColumnClass::Double: return Creator<TIB_ColumnDouble>();
    case TIB_ColumnClass::Float: return Creator<TIB_ColumnFloat>();
    case TIB_ColumnClass::Integer: return Creator<TIB_ColumnInteger>();
    case TIB_ColumnClass::SmallInt: return Creator<TIB_ColumnSmallInt>();
    case TIB_ColumnClass::TimeStamp: return Creator<TIB_ColumnTimeStamp>();
    case TIB_ColumnClass::Quad: return Creator<TIB_ColumnQuad>();
    case TIB_ColumnClass::Time: return Creator<TIB_ColumnTime>();
    case TIB_ColumnClass::Date: return Creator<TIB_ColumnDate>();
    case TIB_ColumnClass::Int64: return Creator<TIB_ColumnInt64>();
    case TIB_ColumnClass::Memo: return Creator<TIB_ColumnMemo>();
    case TIB_ColumnClass::BLR: return Creator<TIB_ColumnBLR>();
    case TIB_ColumnClass::Binary: return Creator<TIB_ColumnBinary>();
    case TIB_ColumnClass::Array: return Creator<TIB_ColumnArray>();
  }
  return TIB_ColumnCreator();
}
