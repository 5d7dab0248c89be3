#include "dblib/data/IB_Row.h"

#include <gtest/gtest.h>

#include "RowTestSupport.h"
#include "dblib/IB_Errors.h"
#include "support/TestSupport.h"

using namespace rowtest;

namespace {

using testsupport::MessageOf;

class RowTest : public ::testing::Test {
protected:
  TTestColumnRegistration Registration;
  TFakeStatement St;

  std::unique_ptr<TIB_Row> MakeRow(uint8_t Type, std::vector<XSQLVAR> Vars) {
    St.Vars = std::move(Vars);
    auto row = std::make_unique<TIB_Row>(&St, Type);
    row->AllocateXSQLDA(static_cast<int>(St.Vars.size()));
    return row;
  }
  static std::vector<std::string> UniqueNames(TIB_Row& Row) {
    std::vector<std::string> names;
    for (int i = 0; i < Row.GetColumnCount(); ++i) names.push_back(Row.GetColumns(i)->GetUniqueName());
    return names;
  }
};

TEST_F(RowTest, DuplicateNamesAreNumberedAndARenamedColumnNeverMeetsAnExistingName) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
      {{"ID", "ID", "ID"}, {"ID", "ID_1", "ID_2"}},
      {{"ID", "ID_1", "ID"}, {"ID", "ID_1", "ID_2"}},
      {{"ID", "ID", "ID_1", "ID"}, {"ID", "ID_2", "ID_1", "ID_3"}},
  };
  for (const auto& [names, expected] : cases) {
    std::vector<XSQLVAR> vars;
    for (const std::string& name : names) vars.push_back(MakeVar(SQL_LONG, 4, name));
    auto row = MakeRow(rtFields, vars);
    EXPECT_EQ(UniqueNames(*row), expected) << names[1];
  }
}

TEST_F(RowTest, LongDuplicateNamesAreCutToThirtyOneCharacters) {
  const std::string name(31, 'N');
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, name), MakeVar(SQL_LONG, 4, name)});
  EXPECT_EQ(row->GetColumns(1)->GetUniqueName(), std::string(29, 'N') + "_1");
}

TEST_F(RowTest, ShortNamesAreUniqueWithinTenCharacters) {
  auto row =
      MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "CUSTOMER_NAME_FIRST"), MakeVar(SQL_LONG, 4, "CUSTOMER_NAME_LAST")});
  EXPECT_EQ(row->GetColumns(0)->GetShortName(), "CUSTOMER_N");
  EXPECT_EQ(row->GetColumns(1)->GetShortName(), "CUSTOMER_1");
}

TEST_F(RowTest, NamelessColumnsAreNumberedUnderDialectOne) {
  St.Dialect = 1;
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, ""), MakeVar(SQL_LONG, 4, "")});
  EXPECT_EQ(row->GetColumns(0)->GetColumnName(), "COLUMN0");
  EXPECT_EQ(row->GetColumns(1)->GetColumnName(), "COLUMN1");
  St.Dialect = 3;
  EXPECT_EQ(row->GetColumns(1)->GetColumnName(), "");
}

TEST_F(RowTest, SameNamedParametersShareOneValue) {
  auto row =
      MakeRow(rtParams, {MakeVar(SQL_VARYING, 5, "A"), MakeVar(SQL_LONG, 4, "B"), MakeVar(SQL_VARYING, 10, "A")});
  ASSERT_EQ(row->GetColumnCount(), 2);
  XSQLDA* da = row->GetPSQLDA();
  EXPECT_EQ(da->sqlvar[0].sqllen, 10);  // the larger description decides
  EXPECT_EQ(da->sqlvar[0].sqldata, da->sqlvar[2].sqldata);
  EXPECT_EQ(da->sqlvar[0].sqlind, da->sqlvar[2].sqlind);
  row->ColumnByName("A")->SetAsString("hello");
  EXPECT_EQ(std::string(da->sqlvar[2].sqldata + 2, 5), "hello");
}

TEST_F(RowTest, SharedParameterSetNullIsSentNullAtEveryOccurrence) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_LONG, 4, "X"), MakeVar(SQL_LONG, 4, "Y"), MakeVar(SQL_LONG, 4, "X")});
  ASSERT_EQ(row->GetColumnCount(), 2);
  XSQLDA* da = row->GetPSQLDA();
  TIB_Column* x = row->ColumnByName("X");
  x->SetAsString("5");
  x->Clear();
  // The client reads the null indicator of nullable types only: every occurrence must be nullable.
  EXPECT_EQ(da->sqlvar[0].sqltype, SQL_LONG | 1);
  EXPECT_EQ(da->sqlvar[2].sqltype, SQL_LONG | 1);
  EXPECT_EQ(da->sqlvar[1].sqltype, SQL_LONG);  // another parameter keeps its description
}

TEST_F(RowTest, SameNamedParametersOfDifferentScaleStayApart) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_LONG, 4, "P", "", "", -2), MakeVar(SQL_LONG, 4, "P")});
  ASSERT_EQ(row->GetColumnCount(), 2);
  EXPECT_NE(row->GetPSQLDA()->sqlvar[0].sqldata, row->GetPSQLDA()->sqlvar[1].sqldata);
}

TEST_F(RowTest, ManyParametersShareByNameTypeAndScale) {
  // Per name: a VARCHAR(5), an untyped one, a VARCHAR(9) and, for odd numbers, a scaled INTEGER.
  std::vector<XSQLVAR> vars;
  for (int i = 0; i < 300; ++i) {
    const std::string name = "P" + std::to_string(i);
    vars.push_back(MakeVar(SQL_VARYING, 5, name));
    vars.push_back(MakeVar(SQL_NULL | 1, 0, name));
    vars.push_back(MakeVar(SQL_VARYING, 9, name));
    if (i % 2) vars.push_back(MakeVar(SQL_LONG, 4, name, "", "", -2));
  }
  auto row = MakeRow(rtParams, vars);
  EXPECT_EQ(row->GetColumnCount(), 450);
  const XSQLDA* da = row->GetPSQLDA();
  for (int v = 0, i = 0; i < 300; ++i) {
    const XSQLVAR& text = da->sqlvar[v];
    for (int k = 1; k < 3; ++k) {
      EXPECT_EQ(da->sqlvar[v + k].sqldata, text.sqldata) << i;
      EXPECT_EQ(da->sqlvar[v + k].sqllen, 9) << i;
    }
    EXPECT_EQ(text.sqllen, 9) << i;
    v += 3;
    if (i % 2) EXPECT_NE(da->sqlvar[v++].sqldata, text.sqldata) << i;
  }
}

TEST_F(RowTest, HiddenParametersStayAtTheEnd) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_LONG, 4, "MLNK_1"), MakeVar(SQL_LONG, 4, "A"),
                                MakeVar(SQL_LONG, 4, "QBE_X"), MakeVar(SQL_LONG, 4, "B")});
  EXPECT_EQ(UniqueNames(*row), (std::vector<std::string>{"A", "B", "MLNK_1", "QBE_X"}));
  EXPECT_EQ(row->GetHiddenParamCount(), 2);
}

TEST_F(RowTest, UntypedNullParameterBecomesNullableVarchar) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_NULL | 1, 0, "X")});
  XSQLVAR& var = row->GetPSQLDA()->sqlvar[0];
  EXPECT_EQ(var.sqltype, SQL_VARYING | 1);
  EXPECT_GT(var.sqllen, 0);
  EXPECT_TRUE(row->ColumnByName("X")->GetIsNull());
}

TEST_F(RowTest, UntypedNullParameterSharesItsTypedNamesake) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_NULL | 1, 0, "P"), MakeVar(SQL_LONG, 4, "P")});
  ASSERT_EQ(row->GetColumnCount(), 1);
  XSQLDA* da = row->GetPSQLDA();
  EXPECT_EQ(da->sqlvar[0].sqltype, SQL_LONG | 1);
  EXPECT_EQ(da->sqlvar[1].sqltype, SQL_LONG | 1);
  EXPECT_EQ(da->sqlvar[0].sqldata, da->sqlvar[1].sqldata);
}

TEST_F(RowTest, ParameterNamesComeFromTheScan) {
  St.NameParams = true;
  St.Dialect = 3;
  St.ParamNames.Add("cust.\"Name\"");
  St.ParamNames.Add(" db_key ");
  auto row = MakeRow(rtParams, {MakeVar(SQL_LONG, 4, "?"), MakeVar(SQL_LONG, 4, "?"), MakeVar(SQL_LONG, 4, "?")});
  XSQLDA* da = row->GetPSQLDA();
  EXPECT_EQ(XSQLVARText(da->sqlvar[0].relname, da->sqlvar[0].relname_length), "CUST");
  EXPECT_EQ(XSQLVARText(da->sqlvar[0].aliasname, da->sqlvar[0].aliasname_length), "Name");
  EXPECT_EQ(da->sqlvar[0].sqlname_length, -1);
  EXPECT_EQ(XSQLVARText(da->sqlvar[1].aliasname, da->sqlvar[1].aliasname_length), "RDB$DB_KEY");
  EXPECT_EQ(XSQLVARText(da->sqlvar[2].aliasname, da->sqlvar[2].aliasname_length), "PARAM_2");
}

TEST_F(RowTest, FindByNameFollowsTheDialectQuotesRelationsAndColumnOrder) {
  St.Dialect = 3;
  auto row = MakeRow(
      rtFields, {MakeVar(SQL_LONG, 4, "ID", "T"), MakeVar(SQL_LONG, 4, "Name", "T"), MakeVar(SQL_LONG, 4, "NAME", "T"),
                 MakeVar(SQL_LONG, 4, "KEY", "U"), MakeVar(SQL_LONG, 4, "A_LONGER_NAME_OF_A_COLUMN", "U"),
                 MakeVar(SQL_LONG, 4, "ALIAS", "U", "X"), MakeVar(SQL_LONG, 4, "ID", "U")});
  const std::vector<std::pair<std::string, int>> cases = {
      {"ID", 0},
      {"id", 0},
      {" id ", 0},
      {"\"Name\"", 1},
      {"name", 2},
      {"T.\"Name\"", 1},
      {"t.name", 2},
      {"KEY", 3},
      {"key", 3},
      {"\"KEY\"", 3},
      {"a_longer_name_of_a_column", 4},
      {"X", 5},
      {"U.X", 5},
      {"U.ID", 6},
      {"T.KEY", -1},
      {"MISSING", -1},
      {"  ", -1},
      {"\"\"", -1},
  };
  auto find = [](TIB_Row& Row, const std::string& Name) {
    TIB_Column* col = nullptr;
    return Row.FindByName(Name, col) ? Row.IndexOfColumn(col) : -1;
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(find(*row, name), expected) << name;
  EXPECT_EQ(MessageOf<EIB_StatementError>([&] { row->ColumnByName("MISSING"); }), "FieldName: MISSING not found");
  // The first column of a name in the current order, after the columns moved.
  row->MoveColumn(0, 6);
  EXPECT_EQ(row->GetColumns(find(*row, "ID"))->GetRelName(), "U");
  // Below dialect 3 names compare case-insensitively: "Name" (now first) and "NAME" are one name.
  St.Dialect = 1;
  EXPECT_EQ(find(*row, "name"), 0);
  EXPECT_EQ(find(*row, "t.NAME"), 0);
}

TEST_F(RowTest, FindByNumberAndItsError) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A"), MakeVar(SQL_LONG, 4, "B")});
  EXPECT_EQ(row->ColumnByNumber(1)->GetColumnName(), "B");
  EXPECT_EQ(MessageOf<EIB_Error>([&] { row->ColumnByNumber(7); }), "FieldNo: 7 not found");
}

struct FactoryCase {
  short Type;
  short Scale;
  short SubType;
  std::string SqlName;
  std::string Attributes;
  TIB_ColumnClass Expected;
};

TEST_F(RowTest, FactoryPicksTheClassBySqlTypeAndAttributes) {
  const std::vector<FactoryCase> cases = {
      {SQL_LONG, -2, 0, "C", "", TIB_ColumnClass::Numeric},
      {SQL_VARYING, 0, 0, "C", "", TIB_ColumnClass::VarText},
      {SQL_TEXT, 0, 0, "DB_KEY", "", TIB_ColumnClass::DB_KEY},
      {SQL_TEXT, 0, 0, "db_key", "", TIB_ColumnClass::Text},
      {SQL_DOUBLE, 0, 0, "C", "CURRENCY", TIB_ColumnClass::Curr},
      {SQL_DOUBLE, 0, 0, "C", "COMP", TIB_ColumnClass::Comp},
      {SQL_DOUBLE, 0, 0, "C", "", TIB_ColumnClass::Double},
      {SQL_FLOAT, -2, 0, "C", "", TIB_ColumnClass::Float},
      {SQL_LONG, 0, 0, "C", "", TIB_ColumnClass::Integer},
      {SQL_SHORT, 0, 0, "C", "", TIB_ColumnClass::SmallInt},
      {SQL_TIMESTAMP, 0, 0, "C", "", TIB_ColumnClass::TimeStamp},
      {SQL_BLOB, 0, 1, "C", "", TIB_ColumnClass::Memo},
      {SQL_BLOB, 0, 2, "C", "", TIB_ColumnClass::BLR},
      {SQL_BLOB, 0, 0, "C", "", TIB_ColumnClass::Binary},
      {SQL_ARRAY, 0, 0, "C", "", TIB_ColumnClass::Array},
      {SQL_QUAD, 0, 0, "C", "", TIB_ColumnClass::Quad},
      {SQL_TYPE_TIME, 0, 0, "C", "", TIB_ColumnClass::Time},
      {SQL_TYPE_DATE, 0, 0, "C", "", TIB_ColumnClass::Date},
      {SQL_INT64, 0, 0, "C", "", TIB_ColumnClass::Int64},
      {SQL_INT64, -4, 0, "C", "", TIB_ColumnClass::Numeric},
  };
  for (const auto& c : cases) {
    St.StatementAttributes.Clear();
    if (!c.Attributes.empty()) St.StatementAttributes.Add("C=" + c.Attributes);
    Registration.Chosen.clear();
    auto row = MakeRow(rtFields, {MakeVar(c.Type | 1, 8, "C", "T", c.SqlName, c.Scale, c.SubType)});
    ASSERT_EQ(Registration.Chosen.size(), 1u);
    EXPECT_EQ(Registration.Chosen[0], c.Expected) << "type " << c.Type << " " << c.SqlName << " " << c.Attributes;
  }
}

TEST_F(RowTest, FactoryPassesNoRoundErrAndRejectsUnknownTypes) {
  St.StatementAttributes.Add("T.C=NOROUNDERR");
  MakeRow(rtFields, {MakeVar(SQL_DOUBLE, 8, "C", "T", "C", -2)});
  EXPECT_TRUE(Registration.NoRoundErr);
  EXPECT_EQ(MessageOf<EIB_StatementError>([&] { MakeRow(rtFields, {MakeVar(SQL_BOOLEAN | 1, 1, "B")}); }),
            "Unsupported Column type: 32765");
}

TEST_F(RowTest, CreateHookReplacesTheFactory) {
  St.CreateHook = [](TIB_Row&, int16_t, XSQLVAR&, TIB_Column*&) { return true; };
  St.Vars = {MakeVar(SQL_LONG, 4, "A")};
  TIB_Row row(&St, rtFields);
  EXPECT_EQ(MessageOf<EIB_Error>([&] { row.AllocateXSQLDA(1); }), "Must create a TIB_Column instance");
  EXPECT_EQ(row.GetColumnCount(), 0);  // a failed description leaves an empty row
}

TEST_F(RowTest, FreshBuffersAreZeroedAndNull) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_TEXT, 3, "A"), MakeVar(SQL_LONG, 4, "B")});
  ASSERT_EQ(row->GetRecordLength(), 2u + 3 + 2 + 4);
  const uint8_t* buf = row->GetRecordBuffer();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buf), 11), std::string("\xFF\xFF\0\0\0\xFF\xFF\0\0\0\0", 11));
  row->ClearBuffers(true);
  auto* b = static_cast<TTestColumn*>(row->ColumnByName("B"));
  EXPECT_FALSE(b->GetIsNull());  // NOT NULL columns start from an empty value
  EXPECT_EQ(b->GetAsString(), "0");
}

TEST_F(RowTest, NullVarcharHasLengthZeroAfterClearing) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_VARYING | 1, 4, "V")});
  row->ClearBuffers(false);
  uint16_t len;
  std::memcpy(&len, row->GetRecordBuffer() + 2, 2);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(row->GetRecordBuffer()) + 4, 4), "    ");
}

TEST_F(RowTest, RowsLargerThan64KiBWork) {
  auto row =
      MakeRow(rtFields, {MakeVar(SQL_TEXT, 32767, "A"), MakeVar(SQL_TEXT, 32767, "B"), MakeVar(SQL_TEXT, 32767, "C")});
  EXPECT_EQ(row->GetRecordLength(), 3u * 32769);
  row->ColumnByName("C")->SetAsString("tail");
  EXPECT_EQ(row->ColumnByName("C")->GetAsString(), "tail");
}

TEST_F(RowTest, RowDataRoundTripsAsHexText) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A")});
  EXPECT_EQ(row->GetRowData(), "");  // no row yet
  row->ColumnByName("A")->SetAsInteger(258);
  EXPECT_EQ(row->GetRowData(), "000002010000");
  auto other = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A")});
  other->SetRowData("000002010000");
  EXPECT_EQ(other->ColumnByName("A")->GetAsInteger(), 258);
  other->SetRowData("");  // nothing
  EXPECT_EQ(other->ColumnByName("A")->GetAsInteger(), 258);
  for (const std::string bad : {"0000020100", "0000020100000000", "00000201000G"}) {
    EXPECT_EQ(MessageOf<EIB_StatementError>([&] { other->SetRowData(bad); }), "Invalid Bookmark String");
  }
}

TEST_F(RowTest, RawVarcharLengthIsClampedToTheDeclaredSize) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_VARYING, 3, "V")});
  row->SetRowData(
      "0000"
      "FF00"
      "414243");  // length word 255 for a VARCHAR(3)
  row->SetRowState(rsUnmodified);
  EXPECT_EQ(row->ColumnByName("V")->GetAsString(), "ABC");
  row->ColumnByName("V")->SetColData(std::string("\x10\x00xyz", 5));
  EXPECT_EQ(row->ColumnByName("V")->GetAsString(), "xyz");
}

TEST_F(RowTest, NoticesAreBatchedInsideUpdates) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A"), MakeVar(SQL_LONG, 4, "B")});
  std::vector<std::string> log;
  row->OnDataChange = [&](TIB_Row*, TIB_Column* c) { log.push_back(c ? c->GetColumnName() : "*"); };
  row->BeginUpdate();
  row->ColumnByName("A")->SetAsInteger(1);
  row->ColumnByName("B")->SetAsInteger(2);
  row->ColumnByName("A")->SetAsInteger(3);
  EXPECT_TRUE(log.empty());
  row->EndUpdate(false);
  EXPECT_EQ(log, (std::vector<std::string>{"A", "B"}));
  log.clear();
  row->BeginUpdate();
  row->ColumnByName("A")->SetAsInteger(4);
  row->ColumnByName("B")->SetAsInteger(5);
  row->EndUpdate(true);
  EXPECT_EQ(log, (std::vector<std::string>{"*"}));
  log.clear();
  row->BeginUpdate();
  row->ColumnByName("A")->SetAsInteger(6);
  row->RevertRow();
  row->EndUpdate(false);
  EXPECT_EQ(log, (std::vector<std::string>{"*"}));
}

TEST_F(RowTest, ValuesAsVariantArrays) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A"), MakeVar(SQL_VARYING, 10, "B")});
  row->SetValues("A;B", VarArrayOf({Variant(int32_t(7)), Variant("seven")}));
  EXPECT_EQ(row->ColumnByName("A")->GetAsInteger(), 7);
  const Variant v = row->GetValues("A;B");
  ASSERT_TRUE(VarIsArray(v));
  EXPECT_EQ(VarArrayHighBound(v, 1), 1);
  EXPECT_EQ(v.GetElement({1}).AsString(), "seven");
  const Variant one = row->GetValues("A;");
  ASSERT_TRUE(VarIsArray(one));
  EXPECT_EQ(VarArrayHighBound(one, 1), 0);
  row->SetValues("A", VarArrayOf({Variant(int32_t(9)), Variant(int32_t(10))}));
  EXPECT_EQ(row->GetValues("A").AsInteger(), 9);
  EXPECT_TRUE(VarIsNull(row->GetOldValues("A")));
  St.Prepared = false;
  row->GetValues("A");
  EXPECT_EQ(St.PrepareCalls, 1);
}

TEST_F(RowTest, CalculatedColumnsFollowTheDescribedOnes) {
  St.Calculated.Add("TOTAL INTEGER");
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A")});
  ASSERT_EQ(row->GetColumnCount(), 2);
  TIB_Column* total = row->ColumnByName("TOTAL");
  EXPECT_EQ(total->GetFieldNo(), -1);
  EXPECT_EQ(total->GetSQLTypeSource(), "INTEGER /* CLIENT CALCULATED */");
  row->CalculateFields();
  EXPECT_EQ(St.Log, (std::vector<std::string>{"calc TOTAL"}));
}

TEST_F(RowTest, PostBlobNodesWritesModifiedNodes) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_BLOB | 1, 8, "B")});
  TIB_BlobNode* node = row->GetBlobNode(0);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(row->GetBlobNode(1), nullptr);
  node->BlobFlag |= bnfModified;
  int16_t zero = 0;
  std::memcpy(row->GetPSQLDA()->sqlvar[0].sqlind, &zero, 2);
  row->PostBlobNodes();
  ISC_QUAD id;
  std::memcpy(&id, row->GetPSQLDA()->sqlvar[0].sqldata, 8);
  EXPECT_EQ(id.gds_quad_low, 77u);
  EXPECT_EQ(row->GetNewBlobCount(), 1);
  row->ResetBlobNodes(false);
  std::memcpy(&id, row->GetPSQLDA()->sqlvar[0].sqldata, 8);
  EXPECT_TRUE(IsZeroQuad(id));
}

class TFakeBufferNode : public TIB_RowBufferNode {
public:
  std::vector<uint8_t> Record;
  PIB_BlobNode Cache = nullptr;
  ~TFakeBufferNode() override { FreeBlobNodeList(Cache); }
  bool HasRecordData() override { return !Record.empty(); }
  bool HasOldRecordData() override { return false; }
  void PackRow(TIB_Row& Row) override {
    Record.assign(Row.GetRecordBuffer(), Row.GetRecordBuffer() + Row.GetRecordLength());
  }
  void UnpackRow(TIB_Row& Row, bool) override { std::memcpy(Row.GetRecordBuffer(), Record.data(), Record.size()); }
  PIB_BlobNode& BlobNodes() override { return Cache; }
};

TEST_F(RowTest, BufferNodeKeepsRecordAndUnsavedBlobs) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG | 1, 4, "A"), MakeVar(SQL_BLOB | 1, 8, "B")});
  TFakeBufferNode node;
  row->SetBufferNode(&node);
  EXPECT_EQ(MessageOf<Exception>([&] { row->LoadFromNode(true, true); }), "No record data to load");
  row->ColumnByName("A")->SetAsInteger(11);
  TIB_BlobNode* blob = row->GetBlobNode(1);
  ReserveBlobNode(*blob, 3);
  std::memcpy(blob->BlobBuffer, "xyz", 3);
  blob->BlobSize = 3;
  blob->BlobFlag |= bnfModified;
  row->SaveToNode();
  ASSERT_NE(node.Cache, nullptr);
  EXPECT_EQ(node.Cache->FieldNo, 1);
  EXPECT_EQ(blob->BlobSize, 0);  // moved into the cache
  row->ClearRow(rsNone);
  row->LoadFromNode(true, true);
  EXPECT_EQ(row->ColumnByName("A")->GetAsInteger(), 11);
  EXPECT_EQ(row->GetRowState(), rsUnmodified);
  ASSERT_EQ(blob->BlobSize, 3);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(blob->BlobBuffer), 3), "xyz");
  EXPECT_EQ(node.Cache, nullptr);  // the moved entry left the cache
  row->SetBufferNode(nullptr);
}

}  // namespace
