#include "dblib/data/IB_Row.h"

#include <gtest/gtest.h>

#include "RowTestSupport.h"
#include "dblib/IB_Errors.h"
#include "support/TestSupport.h"

using namespace rowtest;

namespace {

using testsupport::MessageOf;
using Names = std::vector<std::string>;

class RowTest : public ::testing::Test {
protected:
  TTestColumnRegistration Registration;
  TFakeStatement St;

  std::unique_ptr<TIB_Row> MakeRow(uint8_t Type, std::vector<XSQLVAR> Vars, bool KeyRow = false) {
    St.Vars = std::move(Vars);
    auto row = std::make_unique<TIB_Row>(&St, Type);
    row->SetIsKeyRow(KeyRow);
    row->AllocateXSQLDA(static_cast<int>(St.Vars.size()));
    return row;
  }
  static Names UniqueNames(TIB_Row& Row) {
    Names names;
    for (int i = 0; i < Row.GetColumnCount(); ++i) names.push_back(Row.GetColumns(i)->GetUniqueName());
    return names;
  }
};

TEST_F(RowTest, ColumnsGetUniqueNamesAndShortNames) {
  // A renamed column never meets an existing name.
  const std::pair<Names, Names> cases[] = {
      {{"ID", "ID", "ID"}, {"ID", "ID_1", "ID_2"}},
      {{"ID", "ID_1", "ID"}, {"ID", "ID_1", "ID_2"}},
      {{"ID", "ID", "ID_1", "ID"}, {"ID", "ID_2", "ID_1", "ID_3"}},
  };
  for (const auto& [names, expected] : cases) {
    std::vector<XSQLVAR> vars;
    for (const std::string& n : names) vars.push_back(MakeVar(SQL_LONG, 4, n));
    EXPECT_EQ(UniqueNames(*MakeRow(rtFields, vars)), expected) << names[1];
  }
  const std::string name(31, 'N');
  auto row =
      MakeRow(rtFields, {MakeVar(SQL_LONG, 4, name), MakeVar(SQL_LONG, 4, name),
                         MakeVar(SQL_LONG, 4, "CUSTOMER_NAME_FIRST"), MakeVar(SQL_LONG, 4, "CUSTOMER_NAME_LAST")});
  EXPECT_EQ(row->GetColumns(1)->GetUniqueName(), std::string(29, 'N') + "_1");
  EXPECT_EQ(row->GetColumns(2)->GetShortName(), "CUSTOMER_N");
  EXPECT_EQ(row->GetColumns(3)->GetShortName(), "CUSTOMER_1");
  St.Dialect = 1;
  auto nameless = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, ""), MakeVar(SQL_LONG, 4, "")});
  EXPECT_EQ(UniqueNames(*nameless), (Names{"COLUMN0", "COLUMN1"}));
}

TEST_F(RowTest, ParametersOfOneNameAndCompatibleTypeShareOneValue) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_VARYING, 5, "A"), MakeVar(SQL_LONG, 4, "B"), MakeVar(SQL_VARYING, 10, "A"),
                                MakeVar(SQL_LONG, 4, "P", "", "", -2), MakeVar(SQL_LONG, 4, "P")});
  ASSERT_EQ(row->GetColumnCount(), 4);  // P of two scales stays apart
  XSQLDA* da = row->GetPSQLDA();
  EXPECT_EQ(da->sqlvar[0].sqllen, 10);  // the larger description decides
  EXPECT_EQ(da->sqlvar[0].sqldata, da->sqlvar[2].sqldata);
  EXPECT_NE(da->sqlvar[3].sqldata, da->sqlvar[4].sqldata);
  TIB_Column* a = row->ColumnByName("A");
  a->SetAsString("hello");
  EXPECT_EQ(std::string(da->sqlvar[2].sqldata + 2, 5), "hello");
  // The client reads the null indicator of nullable types only: every occurrence becomes nullable.
  a->Clear();
  EXPECT_EQ(da->sqlvar[0].sqltype, SQL_VARYING | 1);
  EXPECT_EQ(da->sqlvar[2].sqltype, SQL_VARYING | 1);
  EXPECT_EQ(da->sqlvar[1].sqltype, SQL_LONG);
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
    if (i % 2) {
      EXPECT_NE(da->sqlvar[v++].sqldata, text.sqldata) << i;
    }
  }
}

TEST_F(RowTest, UntypedNullParametersTakeTheirNamesakesTypeElseNullableVarchar) {
  auto row =
      MakeRow(rtParams, {MakeVar(SQL_NULL | 1, 0, "P"), MakeVar(SQL_LONG, 4, "P"), MakeVar(SQL_NULL | 1, 0, "X")});
  ASSERT_EQ(row->GetColumnCount(), 2);
  XSQLDA* da = row->GetPSQLDA();
  EXPECT_EQ(da->sqlvar[0].sqltype, SQL_LONG | 1);
  EXPECT_EQ(da->sqlvar[0].sqldata, da->sqlvar[1].sqldata);
  EXPECT_EQ(da->sqlvar[2].sqltype, SQL_VARYING | 1);
  EXPECT_GT(da->sqlvar[2].sqllen, 0);
}

TEST_F(RowTest, HiddenParametersStayAtTheEnd) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_LONG, 4, "MLNK_1"), MakeVar(SQL_LONG, 4, "A"),
                                MakeVar(SQL_LONG, 4, "QBE_X"), MakeVar(SQL_LONG, 4, "B")});
  EXPECT_EQ(UniqueNames(*row), (Names{"A", "B", "MLNK_1", "QBE_X"}));
  EXPECT_EQ(row->GetHiddenParamCount(), 2);
}

TEST_F(RowTest, ParameterNamesComeFromTheScan) {
  St.NameParams = true;
  St.ParamNames.Add("cust.\"Name\"");
  St.ParamNames.Add(" db_key ");
  auto row = MakeRow(rtParams, {MakeVar(SQL_LONG, 4, "?"), MakeVar(SQL_LONG, 4, "?"), MakeVar(SQL_LONG, 4, "?")});
  XSQLVAR* v = row->GetPSQLDA()->sqlvar;
  EXPECT_EQ(XSQLVARText(v[0].relname, v[0].relname_length), "CUST");
  EXPECT_EQ(XSQLVARText(v[0].aliasname, v[0].aliasname_length), "Name");
  EXPECT_EQ(v[0].sqlname_length, -1);
  EXPECT_EQ(XSQLVARText(v[1].aliasname, v[1].aliasname_length), "RDB$DB_KEY");
  EXPECT_EQ(XSQLVARText(v[2].aliasname, v[2].aliasname_length), "PARAM_2");
}

TEST_F(RowTest, ColumnsAreFoundByNameUnderTheDialectsRulesAndByNumber) {
  St.Dialect = 3;
  auto row = MakeRow(
      rtFields, {MakeVar(SQL_LONG, 4, "ID", "T"), MakeVar(SQL_LONG, 4, "Name", "T"), MakeVar(SQL_LONG, 4, "NAME", "T"),
                 MakeVar(SQL_LONG, 4, "KEY", "U"), MakeVar(SQL_LONG, 4, "A_LONGER_NAME_OF_A_COLUMN", "U"),
                 MakeVar(SQL_LONG, 4, "ALIAS", "U", "X"), MakeVar(SQL_LONG, 4, "ID", "U")});
  // Each name and the position of the column it finds (-1: none).
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
  for (const auto& [name, position] : cases) EXPECT_EQ(find(*row, name), position) << name;
  EXPECT_EQ(MessageOf<EIB_StatementError>([&] { row->ColumnByName("MISSING"); }), "FieldName: MISSING not found");
  EXPECT_EQ(row->ColumnByNumber(1), row->GetColumns(1));
  EXPECT_EQ(MessageOf<EIB_Error>([&] { row->ColumnByNumber(7); }), "FieldNo: 7 not found");
  // The first column of a name in the current order, after the columns moved.
  row->MoveColumn(0, 6);
  EXPECT_EQ(row->GetColumns(find(*row, "ID"))->GetRelName(), "U");
  // Below dialect 3 names compare case-insensitively: "Name" (now first) and "NAME" are one name.
  St.Dialect = 1;
  EXPECT_EQ(find(*row, "name"), 0);
  EXPECT_EQ(find(*row, "t.NAME"), 0);
}

TEST(NameIndex, KeepsTheFirstPositionOfAKeyAlsoPastItsAnnouncedSize) {
  TIB_NameIndex index;
  index.Reset(1, true, true);  // pairs, case-insensitive, one position announced
  for (int i = 0; i < 40; ++i) index.Add("REL", "NAME_" + std::to_string(i % 20), i);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(index.Find("rel", "name_" + std::to_string(i)), i);
  EXPECT_EQ(index.Find("REL", "NAME_20"), -1);
  EXPECT_EQ(index.Find("RELNAME_1", ""), -1);
}

TEST_F(RowTest, FactoryPicksTheClassBySqlTypeAndAttributes) {
  struct Case {
    short Type, Scale, SubType;
    std::string SqlName, Attributes;
    TIB_ColumnClass Expected;
  };
  const Case cases[] = {
      {SQL_LONG, -2, 0, "C", "", TIB_ColumnClass::Numeric},
      {SQL_INT64, -4, 0, "C", "", TIB_ColumnClass::Numeric},
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
  };
  for (const auto& c : cases) {
    St.StatementAttributes.Clear();
    if (!c.Attributes.empty()) St.StatementAttributes.Add("C=" + c.Attributes);
    Registration.Chosen.clear();
    MakeRow(rtFields, {MakeVar(c.Type | 1, 8, "C", "T", c.SqlName, c.Scale, c.SubType)});
    ASSERT_EQ(Registration.Chosen.size(), 1u);
    EXPECT_EQ(Registration.Chosen[0], c.Expected) << "type " << c.Type << " " << c.SqlName << " " << c.Attributes;
  }
  St.StatementAttributes.Add("T.C=NOROUNDERR");
  MakeRow(rtFields, {MakeVar(SQL_DOUBLE, 8, "C", "T", "C", -2)});
  EXPECT_TRUE(Registration.NoRoundErr);
  EXPECT_EQ(MessageOf<EIB_StatementError>([&] { MakeRow(rtFields, {MakeVar(SQL_BOOLEAN | 1, 1, "B")}); }),
            "Unsupported Column type: 32765");
}

TEST_F(RowTest, AFailedDescriptionLeavesAnEmptyRow) {
  St.CreateHook = [](TIB_Row&, int16_t, XSQLVAR&, TIB_Column*&) { return true; };
  St.Vars = {MakeVar(SQL_LONG, 4, "A")};
  TIB_Row row(&St, rtFields);
  EXPECT_EQ(MessageOf<EIB_Error>([&] { row.AllocateXSQLDA(1); }), "Must create a TIB_Column instance");
  EXPECT_EQ(row.GetColumnCount(), 0);
  // The client counts XSQLVARs in 16 bits: calculated columns cannot push a row past that.
  St.CreateHook = nullptr;
  for (int i = 0; i < 32767; ++i) St.Calculated.Add("C" + std::to_string(i) + " INTEGER");
  EXPECT_EQ(MessageOf<EIB_StatementError>([&] { row.AllocateXSQLDA(1); }),
            "Too many columns: 32768 (a row holds at most 32767)");
  EXPECT_EQ(row.GetColumnCount(), 0);
}

TEST_F(RowTest, BuffersStartNullAndClearingFillsThePadding) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_TEXT, 3, "A"), MakeVar(SQL_LONG, 4, "B"), MakeVar(SQL_VARYING | 1, 4, "V"),
                                MakeVar(SQL_TEXT, 32767, "C"), MakeVar(SQL_TEXT, 32767, "D")});
  ASSERT_EQ(row->GetRecordLength(), 5u + 6 + 8 + 2 * 32769);  // past 64 KiB
  const char* buf = reinterpret_cast<const char*>(row->GetRecordBuffer());
  EXPECT_EQ(std::string(buf, 11), std::string("\xFF\xFF\0\0\0\xFF\xFF\0\0\0\0", 11));
  row->ClearBuffers(true);
  EXPECT_EQ(row->ColumnByName("B")->GetAsString(), "0");  // NOT NULL columns start from an empty value
  EXPECT_EQ(std::string(buf + 11, 8), std::string("\xFF\xFF\0\0    ", 8));  // a null VARCHAR: length 0, padded
  row->ColumnByName("D")->SetAsString("tail");
  EXPECT_EQ(row->ColumnByName("D")->GetAsString(), "tail");
}

TEST_F(RowTest, RowDataRoundTripsAsHexTextAndRawLengthsAreClamped) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A"), MakeVar(SQL_VARYING, 3, "V")});
  EXPECT_EQ(row->GetRowData(), "");  // no row yet
  row->SetRowData(
      "000002010000"
      "0000"
      "FF00"
      "414243");  // length word 255 for a VARCHAR(3)
  row->SetRowState(rsUnmodified);
  EXPECT_EQ(row->ColumnByName("A")->GetAsInteger(), 258);
  EXPECT_EQ(row->ColumnByName("V")->GetAsString(), "ABC");
  EXPECT_EQ(row->GetRowData(),
            "000002010000"
            "0000"
            "0300"
            "414243");
  row->ColumnByName("V")->SetColData(std::string("\x10\x00xyz", 5));
  EXPECT_EQ(row->ColumnByName("V")->GetAsString(), "xyz");
  row->SetRowData("");  // nothing
  EXPECT_EQ(row->ColumnByName("A")->GetAsInteger(), 258);
  for (const std::string& bad : {std::string("0000020100"), std::string(40, '0'), std::string(23, '0') + "G"}) {
    EXPECT_EQ(MessageOf<EIB_DatasetError>([&] { row->SetRowData(bad); }), "Invalid Bookmark String");
  }
}

TEST_F(RowTest, NoticesAreBatchedInsideUpdates) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A"), MakeVar(SQL_LONG, 4, "B")});
  Names log;
  row->OnDataChange = [&](TIB_Row*, TIB_Column* c) { log.push_back(c ? c->GetColumnName() : "*"); };
  auto batch = [&](bool OnePerColumn, const std::function<void()>& Changes) {
    log.clear();
    row->BeginUpdate();
    Changes();
    EXPECT_TRUE(log.empty());
    row->EndUpdate(OnePerColumn);
    return log;
  };
  TIB_Column* a = row->ColumnByName("A");
  TIB_Column* b = row->ColumnByName("B");
  EXPECT_EQ(batch(false, [&] { a->SetAsInteger(1), b->SetAsInteger(2), a->SetAsInteger(3); }), (Names{"A", "B"}));
  EXPECT_EQ(batch(true, [&] { a->SetAsInteger(4), b->SetAsInteger(5); }), (Names{"*"}));
  EXPECT_EQ(batch(false, [&] { a->SetAsInteger(6), row->RevertRow(); }), (Names{"*"}));
}

TEST_F(RowTest, ValuesByNameListsAsVariantArrays) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A"), MakeVar(SQL_VARYING, 10, "B")});
  row->SetValues("A;B", VarArrayOf({Variant(int32_t(7)), Variant("seven")}));
  const Variant v = row->GetValues("A;B");
  ASSERT_TRUE(VarIsArray(v));
  EXPECT_EQ(v.GetElement({0}).AsInteger(), 7);
  EXPECT_EQ(v.GetElement({1}).AsString(), "seven");
  EXPECT_EQ(VarArrayHighBound(row->GetValues("A;"), 1), 0);  // one name and ';' still gives an array
  row->SetValues("A", VarArrayOf({Variant(int32_t(9)), Variant(int32_t(10))}));
  EXPECT_EQ(row->GetValues("A").AsInteger(), 9);
  EXPECT_TRUE(VarIsNull(row->GetOldValues("A")));
  St.Prepared = false;
  row->GetValues("A");
  EXPECT_EQ(St.PrepareCalls, 1);
}

TEST_F(RowTest, CalculatedColumnsFollowTheDescribedOnesButNotInAKeyRowUnlessAsked) {
  St.Calculated.Add("TOTAL INTEGER");
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A")});
  ASSERT_EQ(row->GetColumnCount(), 2);
  EXPECT_EQ(row->ColumnByName("TOTAL")->GetFieldNo(), -1);
  row->CalculateFields();
  EXPECT_EQ(St.Log, (Names{"calc TOTAL"}));
  EXPECT_EQ(MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "A")}, true)->GetColumnCount(), 1);
  St.Vars = {MakeVar(SQL_LONG, 4, "A")};
  TIB_Row key(&St, rtFields);
  key.SetIsKeyRow(true);
  key.SetKeyRowCalculated(true);
  key.AllocateXSQLDA(1);
  EXPECT_EQ(key.GetColumnCount(), 2);
}

// ---- key rows -------------------------------------------------------------------------------------

TEST_F(RowTest, AKeyRowKeepsItsRecordAndShowsItsDataWithoutARowState) {
  auto key = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "ID"), MakeVar(SQL_BLOB | 1, 8, "B")}, true);
  key->SetRowData(
      "0000"
      "2A000000"
      "0000"
      "0000000005000000");
  EXPECT_EQ(key->GetRowState(), rsNone);
  EXPECT_EQ(key->GetRowData(),
            "00002A000000"
            "00000000000005000000");
  EXPECT_EQ(key->ColumnByName("ID")->GetColData(), std::string("\x2A\0\0\0", 4));
  const std::string oldData = key->GetOldRowData();
  key->ClearRow(rsUnmodified);
  key->RevertRow();
  key->ResetRow(false, false, false);  // copies no old record either
  EXPECT_EQ(key->ColumnByName("ID")->GetAsInteger(), 42);
  EXPECT_EQ(key->GetOldRowData(), oldData);
  // Blob nodes: a key row never writes them.
  TIB_BlobNode* node = key->GetBlobNode(1);
  ASSERT_NE(node, nullptr);
  node->BlobFlag = bnfModified;
  std::memset(key->GetPSQLDA()->sqlvar[1].sqldata, 0, 8);
  key->PostBlobNodes();
  EXPECT_EQ(key->GetNewBlobCount(), 0);
  EXPECT_TRUE(IsZeroQuad(node->BlobID));
}

// ---- blob nodes -----------------------------------------------------------------------------------

class TFakeBufferNode : public TIB_RowBufferNode {
public:
  std::vector<uint8_t> Record;
  TIB_BlobNodeList Cache;
  bool HasRecordData() override { return !Record.empty(); }
  bool HasOldRecordData() override { return false; }
  void PackRow(TIB_Row& Row) override {
    Record.assign(Row.GetRecordBuffer(), Row.GetRecordBuffer() + Row.GetRecordLength());
  }
  void UnpackRow(TIB_Row& Row, bool) override { std::memcpy(Row.GetRecordBuffer(), Record.data(), Record.size()); }
  TIB_BlobNodeList& BlobNodes() override { return Cache; }
  // The cache as "field:id:data" entries from the head.
  Names Entries() const {
    Names out;
    for (const TIB_BlobNode* n = Cache.get(); n; n = n->Next.get()) {
      out.push_back(std::to_string(n->FieldNo) + ":" + std::to_string(n->BlobID.gds_quad_low) + ":" +
                    std::string(reinterpret_cast<const char*>(n->BlobBuffer.get()), static_cast<size_t>(n->BlobSize)));
    }
    return out;
  }
};

class RowBlobTest : public RowTest {
protected:
  static void SetId(TIB_Row& Row, int Var, ISC_ULONG Low, ISC_LONG High = 0) {
    const ISC_QUAD id{High, Low};
    std::memcpy(Row.GetPSQLDA()->sqlvar[Var].sqldata, &id, 8);
  }
  static ISC_ULONG IdOf(TIB_Row& Row, int Var) {
    ISC_QUAD id;
    std::memcpy(&id, Row.GetPSQLDA()->sqlvar[Var].sqldata, 8);
    return id.gds_quad_low;
  }
  static void SetNull(TIB_Row& Row, int Var, bool Null) { *Row.GetPSQLDA()->sqlvar[Var].sqlind = Null ? -1 : 0; }
  // Gives the node of Var new, unwritten data.
  static TIB_BlobNode& Modify(TIB_Row& Row, int Var, const std::string& Data) {
    TIB_BlobNode& node = *Row.GetBlobNode(Var);
    ReserveBlobNode(node, static_cast<int32_t>(Data.size()));
    if (!Data.empty()) std::memcpy(node.BlobBuffer.get(), Data.data(), Data.size());
    node.BlobSize = static_cast<int32_t>(Data.size());
    node.BlobFlag |= bnfModified;
    return node;
  }
  static std::string DataOf(const TIB_BlobNode& Node) {
    return std::string(reinterpret_cast<const char*>(Node.BlobBuffer.get()), static_cast<size_t>(Node.BlobSize));
  }
  std::unique_ptr<TIB_Row> BlobRow(uint8_t Type) {
    return MakeRow(Type, {MakeVar(SQL_BLOB | 1, 8, "B0"), MakeVar(SQL_LONG | 1, 4, "N"), MakeVar(SQL_BLOB | 1, 8, "B2"),
                          MakeVar(SQL_BLOB | 1, 8, "B3"), MakeVar(SQL_BLOB, 8, "B4")});
  }
};

TEST_F(RowBlobTest, PostWritesModifiedNodesOfNonNullValuesWithoutAnIdAndCountsNewIds) {
  auto row = BlobRow(rtParams);
  EXPECT_EQ(row->GetBlobNode(1), nullptr);
  Modify(*row, 0, "new");   // written: the fake writer gives id 77
  Modify(*row, 2, "null");  // not written: the value is null
  SetNull(*row, 2, true);
  Modify(*row, 3, "has an id");  // not written: it already has an id, which counts as new
  SetId(*row, 3, 5);
  Modify(*row, 4, "big id");  // not written; an id with a high half is not counted
  SetId(*row, 4, 6, 1);
  for (int v : {0, 3, 4}) SetNull(*row, v, false);
  row->SetNoBlobNodes(true);
  row->PostBlobNodes();
  EXPECT_EQ(IdOf(*row, 0), 0u);
  row->SetNoBlobNodes(false);
  row->PostBlobNodes();
  EXPECT_EQ(IdOf(*row, 0), 77u);
  EXPECT_EQ(IdOf(*row, 2), 0u);
  EXPECT_EQ(IdOf(*row, 3), 5u);
  EXPECT_EQ(row->GetNewBlobCount(), 2);
  // Reset without keeping: the modified nodes' ids are gone from the row.
  row->ResetBlobNodes(false);
  for (int v : {0, 2, 3, 4}) EXPECT_EQ(IdOf(*row, v), 0u) << v;
}

TEST_F(RowBlobTest, ResetKeepingCachesWrittenValuesUnderTheirIdsAndDropsStaleOnes) {
  auto row = BlobRow(rtFields);
  TFakeBufferNode buffer;
  row->SetBufferNode(&buffer);
  TIB_BlobNode stale, unsaved;
  stale.BlobID = ISC_QUAD{0, 99};  // no column holds this id any more
  stale.FieldNo = 9;
  unsaved.FieldNo = 3;
  AddBlobNode(buffer.Cache, stale, false);
  AddBlobNode(buffer.Cache, unsaved, false);
  Modify(*row, 0, "written");
  SetId(*row, 0, 77);
  SetNull(*row, 0, false);
  Modify(*row, 2, "null");  // a null value is not cached
  SetId(*row, 2, 78);
  row->ResetBlobNodes(true);
  EXPECT_EQ(buffer.Entries(), (Names{"0:77:written", "3:0:"}));
  EXPECT_EQ(row->GetBlobNode(0)->BlobFlag & bnfModified, 0);
  EXPECT_EQ(row->GetBlobNode(0)->BlobBuffer, nullptr);  // the data moved into the cache
  row->SetBufferNode(nullptr);
}

TEST_F(RowBlobTest, UnsavedValuesWaitInTheCacheUntilLoadedOrCancelled) {
  auto row = BlobRow(rtFields);
  TFakeBufferNode buffer;
  row->SetBufferNode(&buffer);
  EXPECT_EQ(MessageOf<Exception>([&] { row->LoadFromNode(true, true); }), "No record data to load");
  row->ColumnByName("N")->SetAsInteger(11);
  Modify(*row, 0, "xyz");
  Modify(*row, 2, "");  // empty and nullable: nothing to keep
  Modify(*row, 4, "");  // empty but NOT NULL: kept
  row->SaveToNode();
  EXPECT_EQ(buffer.Entries(), (Names{"4:0:", "0:0:xyz"}));
  EXPECT_EQ(row->GetBlobNode(0)->BlobSize, 0);

  row->ClearRow(rsNone);
  row->LoadFromNode(true, true);
  EXPECT_EQ(row->ColumnByName("N")->GetAsInteger(), 11);
  EXPECT_EQ(row->GetRowState(), rsUnmodified);
  EXPECT_EQ(DataOf(*row->GetBlobNode(0)), "xyz");
  EXPECT_TRUE(buffer.Entries().empty());  // moved back out of the cache

  Modify(*row, 3, "abc");
  row->SaveToNode();
  TIB_BlobNode other;
  other.BlobID = ISC_QUAD{0, 5};
  AddBlobNode(buffer.Cache, other, false);
  Modify(*row, 0, "changed");
  row->CancelBlobNodes();
  EXPECT_EQ(row->GetBlobNode(0)->BlobSize, 0);
  EXPECT_EQ(buffer.Entries(), (Names{"0:5:"}));  // only values read from the server stay
  row->ClearRow(rsNone);
  row->ResetRow(true, true, false);  // clearing with blobs frees the cache
  EXPECT_TRUE(buffer.Entries().empty());
  row->SetBufferNode(nullptr);
}

TEST_F(RowBlobTest, ClearingAParamsRowForgetsTheIdsButKeepsTheData) {
  auto row = BlobRow(rtParams);
  TIB_BlobNode& node = Modify(*row, 0, "kept");
  node.BlobID = ISC_QUAD{0, 9};
  row->ClearRow(rsNone);
  EXPECT_TRUE(IsZeroQuad(node.BlobID));
  EXPECT_EQ(DataOf(node), "kept");
  auto fields = BlobRow(rtFields);
  Modify(*fields, 0, "gone");
  fields->ClearRow(rsNone);
  EXPECT_EQ(fields->GetBlobNode(0)->BlobSize, 0);
}

}  // namespace
