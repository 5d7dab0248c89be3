// Test helpers for rows and columns: a statement that answers from plain lists, hand-filled XSQLVARs,
// and a small column class that stores text and integers in the row buffer.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dblib/data/IB_Column.h"
#include "dblib/data/IB_Row.h"
#include "dblib/data/IB_RowNames.h"

namespace rowtest {

inline XSQLVAR MakeVar(short Type, short Len, const std::string& Alias, const std::string& Rel = "",
                       const std::string& SqlName = "", short Scale = 0, short SubType = 0) {
  XSQLVAR v{};
  v.sqltype = Type;
  v.sqllen = Len;
  v.sqlscale = Scale;
  v.sqlsubtype = SubType;
  SetXSQLVARText(v.aliasname, v.aliasname_length, Alias);
  SetXSQLVARText(v.relname, v.relname_length, Rel);
  SetXSQLVARText(v.sqlname, v.sqlname_length, SqlName.empty() ? Alias : SqlName);
  return v;
}

// Stores text for CHAR/VARCHAR and a whole number for the other types.
class TTestColumn : public TIB_Column {
public:
  TTestColumn(TIB_Row* Row, int16_t FieldNo, XSQLVAR* Var) : TIB_Column(Row, FieldNo, Var) {
    const int t = GetSQLType() & ~1;
    if (t == SQL_TEXT || t == SQL_VARYING) {
      FIsTextKind = true;
      FPadChar = ' ';
    }
  }
  std::string GetAsString() override {
    std::string text;
    if (!GetIsNull()) {
      const int t = GetSQLType() & ~1;
      if (t == SQL_VARYING) {
        text.assign(reinterpret_cast<const char*>(Data()) + 2, GetVarLength());
      } else if (t == SQL_TEXT) {
        text.assign(reinterpret_cast<const char*>(Data()), static_cast<size_t>(GetSQLLen()));
        text = TrimRight(text);
      } else {
        int64_t v = 0;
        std::memcpy(&v, Data(), std::min<size_t>(DataSize(), 8));
        if (DataSize() == 2) v = static_cast<int16_t>(v);
        if (DataSize() == 4) v = static_cast<int32_t>(v);
        text = IntToStr(v);
      }
    }
    if (OnGetText) OnGetText(this, text);
    return text;
  }
  void SetAsString(const std::string& Value) override {
    std::string text = Value;
    if (OnSetText) OnSetText(this, text);
    BeforeModify();
    if (text.empty() && GetBlankIsNull()) {
      SetIsNull(true);
    } else {
      SetIsNull(false);
      const int t = GetSQLType() & ~1;
      FillPad();
      if (t == SQL_VARYING) {
        const size_t n = std::min<size_t>(text.size(), static_cast<size_t>(GetSQLLen()));
        std::memcpy(Data() + 2, text.data(), n);
        SetVarLength(static_cast<uint16_t>(n));
      } else if (t == SQL_TEXT) {
        std::memcpy(Data(), text.data(), std::min<size_t>(text.size(), static_cast<size_t>(GetSQLLen())));
      } else {
        const int64_t v = Trim(text).empty() ? 0 : StrToInt64(Trim(text));
        std::memcpy(Data(), &v, std::min<size_t>(DataSize(), 8));
      }
    }
    AfterModify();
  }
  using TIB_Column::Data;
  using TIB_Column::NullInd;
};

class TFakeStatement : public TIB_RowStatement {
public:
  int Dialect = 3;
  bool Prepared = true;
  int PrepareCalls = 0;
  std::vector<XSQLVAR> Vars;  // described into the next row that asks
  bool NameParams = false;
  TStringList Calculated;
  TStringList ParamNames;
  int ParamNameCount = 0;
  TStringList StatementAttributes;
  TStringList ConnectionAttributes;
  bool DomainEntries = false;
  bool NoCaseDefault = false;
  bool NoTrailingDefault = false;
  bool Calculating = false;
  std::function<bool(TIB_Row&, int16_t, XSQLVAR&, TIB_Column*&)> CreateHook;
  std::vector<std::string> Log;
  std::vector<std::pair<std::string, std::string>> FieldsWrites;
  int OrderChanges = 0;
  std::string OrderingEntry;

  TIB_RowStatement* GetOwningStatement() override { return nullptr; }
  int GetSQLDialect() override { return Dialect; }
  bool GetPrepared() override { return Prepared; }
  void Prepare() override {
    ++PrepareCalls;
    Prepared = true;
  }
  void SysDescribeFields(TIB_Row& Row) override {
    for (int i = 0; i < Row.GetPSQLDA()->sqld && i < static_cast<int>(Vars.size()); ++i) {
      Row.GetPSQLDA()->sqlvar[i] = Vars[static_cast<size_t>(i)];
    }
    if (NameParams && Row.GetRowType() == rtParams) Row.AssignParamNames();
  }
  const TStrings& GetCalculatedFields() override { return Calculated; }
  const TStrings& GetParamNames() override { return ParamNames; }
  int GetParamNameCount() override { return ParamNameCount; }
  bool DoCreateColumn(TIB_Row& Row, int16_t FieldNo, XSQLVAR& Var, TIB_Column*& Column) override {
    return CreateHook ? CreateHook(Row, FieldNo, Var, Column) : false;
  }
  std::string GetColumnAttributesValue(TIB_AttributeLevel Level, const std::string& Key) override {
    const TStringList& list = Level == alStatement ? StatementAttributes : ConnectionAttributes;
    return list.GetValue(Key);
  }
  bool HasConnectionColumnAttributes() override { return ConnectionAttributes.Count() > 0; }
  bool GetDomainNameEntries() override { return DomainEntries; }
  bool GetDefaultNoCase() override { return NoCaseDefault; }
  bool GetDefaultNoTrailing() override { return NoTrailingDefault; }
  std::string GetFieldDomain(const std::string&, const std::string&) override { return "DOM"; }
  bool SchemaListContains(TIB_SchemaColumnList, const std::string&) override { return false; }
  void GetColumnReadOnly(TIB_Column&, bool&) override {}
  void GetColumnPreventChange(TIB_Column&, bool&) override {}
  bool GetCalculatingFields() override { return Calculating; }
  void DoCalculateField(TIB_Row&, TIB_Column& Column) override { Log.push_back("calc " + Column.GetColumnName()); }
  void DoValidateField(TIB_Row&, TIB_Column& Column) override {
    Log.push_back("validatefield " + Column.GetColumnName());
  }
  void SetFieldsListValue(TIB_FieldsList List, const std::string& Key, const std::string& Value) override {
    FieldsWrites.emplace_back((List == flDisplayWidth ? "W:" : "M:") + Key, Value);
  }
  void ColumnOrderChanged(TIB_Row&) override { ++OrderChanges; }
  bool FindOrderingLink(const std::string&, std::string& Value) override {
    Value = OrderingEntry;
    return !OrderingEntry.empty();
  }
  void FocusColumn(TIB_Column& Column) override { Log.push_back("focus " + Column.GetColumnName()); }
  void StoreBlobNode(TIB_Column&, TIB_BlobNode& Node) override {
    Node.BlobID.gds_quad_high = 0;
    Node.BlobID.gds_quad_low = 77;
  }
  void LoadBlobNode(TIB_Column&, TIB_BlobNode*) override { throw Exception("no server"); }
  int64_t GetBlobLength(TIB_Column&, const ISC_QUAD&) override { throw Exception("no server"); }
  bool LookupArrayBounds(TIB_Column&, ISC_ARRAY_DESC&) override { return false; }
};

// Registers TTestColumn for every column class while a test runs, remembering the class chosen last.
class TTestColumnRegistration {
public:
  TTestColumnRegistration() {
    for (int i = 0; i < TIB_ColumnClassCount; ++i) {
      const auto cls = static_cast<TIB_ColumnClass>(i);
      FPrevious.push_back(RegisterColumnClass(
          cls, [this, cls](TIB_Row* Row, int16_t FieldNo, XSQLVAR* Var, const TIB_ColumnOptions& Options) {
            Chosen.push_back(cls);
            NoRoundErr = Options.NoRoundErr;
            return new TTestColumn(Row, FieldNo, Var);
          }));
    }
  }
  ~TTestColumnRegistration() {
    for (int i = 0; i < TIB_ColumnClassCount; ++i) RegisterColumnClass(static_cast<TIB_ColumnClass>(i), FPrevious[i]);
  }
  std::vector<TIB_ColumnClass> Chosen;
  bool NoRoundErr = false;

private:
  std::vector<TIB_ColumnCreator> FPrevious;
};

}  // namespace rowtest
