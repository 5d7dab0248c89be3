#include "dblib/data/IB_Column.h"

#include <gtest/gtest.h>

#include "RowTestSupport.h"
#include "dblib/IB_Errors.h"
#include "dblib/data/IB_MaskEnh.h"
#include "support/TestSupport.h"

using namespace rowtest;

namespace {

using testsupport::MessageOf;

class ColumnTest : public ::testing::Test {
protected:
  TTestColumnRegistration Registration;
  TFakeStatement St;
  TFormatSettings SavedSettings = FormatSettings;

  void TearDown() override { FormatSettings = SavedSettings; }

  std::unique_ptr<TIB_Row> MakeRow(uint8_t Type, std::vector<XSQLVAR> Vars) {
    St.Vars = std::move(Vars);
    auto row = std::make_unique<TIB_Row>(&St, Type);
    row->AllocateXSQLDA(static_cast<int>(St.Vars.size()));
    return row;
  }
};

TEST_F(ColumnTest, ChangeProtocolFiresInOrder) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG | 1, 4, "A")});
  TIB_Column* a = row->ColumnByName("A");
  std::vector<std::string> log;
  a->OnBeforeModify = [&](TIB_Column*) { log.push_back("beforemodify"); };
  row->OnBeforeColumnChange = [&](TIB_Row*, TIB_Column*) { log.push_back("beforechange"); };
  a->OnValidate = [&](TIB_Column*) { log.push_back("validate"); };
  row->OnRowStateChanged = [&](TIB_Row* r) { log.push_back("state " + std::to_string(r->GetRowState())); };
  row->OnDataChange = [&](TIB_Row*, TIB_Column*) { log.push_back("datachange"); };
  a->OnAfterModify = [&](TIB_Column*) { log.push_back("aftermodify"); };
  a->SetAsInteger(5);
  EXPECT_EQ(log, (std::vector<std::string>{"beforemodify", "beforechange", "validate", "state 2", "datachange",
                                           "aftermodify"}));
  EXPECT_EQ(St.Log, (std::vector<std::string>{"validatefield A"}));
  log.clear();
  a->SetAsInteger(5);  // unchanged value: no after-modify notice
  EXPECT_EQ(log.back(), "datachange");
  EXPECT_TRUE(a->GetIsModified());
  a->Revert();
  EXPECT_TRUE(a->GetIsNull());
}

TEST_F(ColumnTest, OldValuesReadTheOldBufferAndRestoreTheCurrent) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_VARYING | 1, 10, "V")});
  TIB_Column* v = row->ColumnByName("V");
  v->SetAsString("old");
  row->ResetRow(false, false, false);
  v->SetAsString("new");
  EXPECT_EQ(v->GetOldAsString(), "old");
  EXPECT_EQ(v->GetOldAsVariant().AsString(), "old");
  v->OnGetText = [](TIB_Column*, std::string&) { throw Exception("handler failed"); };
  EXPECT_THROW(v->GetOldAsString(), Exception);
  v->OnGetText = nullptr;
  EXPECT_EQ(v->GetAsString(), "new");
}

TEST_F(ColumnTest, ANullParameterIsMadeNullableAndPadded) {
  auto row = MakeRow(rtParams, {MakeVar(SQL_VARYING, 4, "P")});
  TIB_Column* p = row->ColumnByName("P");
  p->SetAsString("abcd");
  p->SetNull(true);
  EXPECT_EQ(row->GetPSQLDA()->sqlvar[0].sqltype, SQL_VARYING | 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(row->GetRecordBuffer()) + 2, 6), std::string("\0\0    ", 6));
  EXPECT_TRUE(VarIsNull(p->GetAsVariant()));
}

TEST_F(ColumnTest, TextDefaultsOfTheTypedGetters) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_VARYING | 1, 30, "T")});
  TIB_Column* t = row->ColumnByName("T");
  t->SetAsString("   ");
  EXPECT_EQ(t->GetAsInteger(), 0);
  t->SetAsString("40000");
  EXPECT_EQ(MessageOf<EIB_ColumnError>([&] { t->GetAsSmallint(); }), "Value out of range");
  t->SetAsString("-123");
  EXPECT_EQ(t->GetAsSmallint(), -123);
  t->SetAsString("2.5");
  EXPECT_DOUBLE_EQ(t->GetAsFloat(), 2.5);
  EXPECT_EQ(t->GetAsCurrency().Raw(), 25000);
  EXPECT_EQ(t->GetAsComp(), 2);  // ties to even
  t->SetAsCurrency(Currency::FromRaw(12345));
  EXPECT_EQ(t->GetAsString(), "1.2345");
  t->SetAsInt64(9007199254740993LL);
  EXPECT_EQ(t->GetAsInt64(), 9007199254740993LL);
  t->SetAsComp(9007199254740993LL);
  EXPECT_EQ(t->GetAsString(), "9007199254740993");
  t->SetAsDate(EncodeDate(2020, 2, 29) + 0.5);
  EXPECT_EQ(t->GetAsDate(), EncodeDate(2020, 2, 29));
  t->SetAsTimestampText("2020/02/29 12:00:00.0000");
  EXPECT_EQ(t->GetAsTimestampText(), "2020/02/29 12:00:00.0000");
  EXPECT_THROW(t->SetAsTimestampText("not a date"), EConvertError);
}

TEST_F(ColumnTest, AttributesAndTheirNegations) {
  St.NoCaseDefault = true;
  St.StatementAttributes.Add("B=YESCASE");
  St.ConnectionAttributes.Add("T.C=REQUIRED;NOTIME=dd.mm.yyyy");
  auto row = MakeRow(rtFields, {MakeVar(SQL_VARYING | 1, 4, "A", "T"), MakeVar(SQL_VARYING | 1, 4, "B", "T"),
                                MakeVar(SQL_TIMESTAMP | 1, 8, "C", "T")});
  EXPECT_TRUE(row->ColumnByName("A")->HasAttribute("NOCASE"));   // the connection's default
  EXPECT_FALSE(row->ColumnByName("B")->HasAttribute("NOCASE"));  // cancelled by YESCASE
  TIB_Column* c = row->ColumnByName("C");
  EXPECT_TRUE(c->GetRequired());
  EXPECT_FALSE(row->ColumnByName("A")->GetRequired());
  bool found = false;
  EXPECT_EQ(c->GetAttributeParam("NOTIME", found), "dd.mm.yyyy");
  EXPECT_TRUE(found);
}

TEST_F(ColumnTest, LabelsWidthsAndTypeTexts) {
  St.Dialect = 1;
  auto row = MakeRow(rtFields, {MakeVar(SQL_TEXT | 1, 3, "FIRST_NAME"), MakeVar(SQL_TEXT | 1, 40, "X"),
                                MakeVar(SQL_INT64 | 1, 8, "N", "", "", -2), MakeVar(SQL_TIMESTAMP, 8, "D")});
  TIB_Column* first = row->ColumnByName("FIRST_NAME");
  EXPECT_EQ(first->GetDisplayLabel(), "FIRST NAME");
  first->SetDisplayLabel("X");
  EXPECT_EQ(first->GetDefaultWidth(), 70);
  first->SetGridLabel("/-");
  EXPECT_EQ(first->GetGridLabel(), "-");
  first->SetDisplayLabel("-");
  EXPECT_EQ(first->GetDisplayLabel(), "");
  EXPECT_EQ(row->ColumnByName("X")->GetDefaultWidth(), 200);
  EXPECT_EQ(row->ColumnByName("X")->GetSQLTypeSource(), "CHAR( 40 )");
  EXPECT_EQ(row->ColumnByName("N")->GetSQLTypeSource(), "DECIMAL ( 18, 2 )");
  EXPECT_EQ(row->ColumnByName("D")->GetSQLTypeSource(), "DATE");
  St.Dialect = 3;
  EXPECT_EQ(row->ColumnByName("D")->GetSQLTypeSource(), "TIMESTAMP");
  TIB_Column* x = row->ColumnByName("X");
  x->SetDisplayWidth(120);
  EXPECT_EQ(x->GetDisplayWidth(), 120);
  x->SetDisplayWidth(200);  // the default again: the setting is dropped
  EXPECT_EQ(x->GetDisplayWidthSetting(), -1);
  ASSERT_EQ(St.FieldsWrites.size(), 2u);
  EXPECT_EQ(St.FieldsWrites[0], (std::pair<std::string, std::string>{"W:X", "120"}));
  EXPECT_EQ(St.FieldsWrites[1], (std::pair<std::string, std::string>{"W:X", ""}));
  first->SetIndex(99);  // clamped to the last position
  EXPECT_EQ(first->GetIndex(), 3);
  EXPECT_EQ(St.OrderChanges, 1);
}

TEST_F(ColumnTest, TrimmingKinds) {
  const std::string text = "  a  b   c  ";
  const std::vector<std::pair<int, std::string>> expected = {{0, text},         {1, "abc"},        {2, "a  b   c"},
                                                             {3, "a  b   c  "}, {4, "  a  b   c"}, {5, "a b c"}};
  for (const auto& [kind, result] : expected) {
    std::string t = text;
    TIB_Column::ApplyTrimming(t, kind);
    EXPECT_EQ(t, result) << kind;
  }
}

TEST_F(ColumnTest, EditMasks) {
  FormatSettings.DateSeparator = '.';
  auto row = MakeRow(rtFields, {MakeVar(SQL_VARYING | 1, 10, "V")});
  TIB_Column* v = row->ColumnByName("V");
  v->SetEditMask("99%d99;0;_");
  EXPECT_EQ(v->GetEditMask(), "99.99;0;_");
  EXPECT_TRUE(v->GetMaskActive());
  EXPECT_EQ(v->GetMaskEnh(), nullptr);
  v->SetEditMask("::NM::#0.00");
  ASSERT_NE(v->GetMaskEnh(), nullptr);
  EXPECT_EQ(v->GetMaskEnh()->GetMaskKind(), 5);
  v->SetEditMask("");
  EXPECT_EQ(v->GetMaskEnh(), nullptr);
  EXPECT_FALSE(v->GetMaskActive());
  v->SetAsString("abc");
  EXPECT_EQ(v->FormatMaskedText("abc"), "abc");
}

TEST_F(ColumnTest, RawColumnData) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG | 1, 4, "A")});
  TIB_Column* a = row->ColumnByName("A");
  EXPECT_EQ(a->GetColData(), "");
  a->SetColData(std::string("\x05\x00\x00\x00", 4));
  EXPECT_EQ(a->GetAsInteger(), 5);
  row->SetRowState(rsUnmodified);
  EXPECT_EQ(a->GetColData(), std::string("\x05\x00\x00\x00", 4));
  EXPECT_EQ(MessageOf<EIB_ColumnError>([&] { a->SetColData("abc"); }), "Invalid ColData");
  a->SetColData("");
  EXPECT_TRUE(a->GetIsNull());
}

TEST_F(ColumnTest, VariantsBySqlType) {
  auto row = MakeRow(
      rtFields, {MakeVar(SQL_LONG | 1, 4, "I"), MakeVar(SQL_INT64 | 1, 8, "L"), MakeVar(SQL_VARYING | 1, 10, "S")});
  TIB_Column* i = row->ColumnByName("I");
  EXPECT_TRUE(VarIsNull(i->GetAsVariant()));
  i->SetAsVariant(Variant(int32_t(42)));
  EXPECT_EQ(VarType(i->GetAsVariant()), varInteger);
  EXPECT_EQ(i->GetAsVariant().AsInteger(), 42);
  i->SetAsVariant(Variant::Null());
  EXPECT_TRUE(i->GetIsNull());
  TIB_Column* l = row->ColumnByName("L");
  l->SetAsVariant(Variant(int64_t(1) << 40));
  EXPECT_EQ(VarType(l->GetAsVariant()), varDecimal);
  EXPECT_EQ(l->GetAsVariant().AsInt64(), int64_t(1) << 40);
  row->ColumnByName("S")->SetAsVariant(Variant("x"));
  EXPECT_EQ(row->ColumnByName("S")->GetAsVariant().AsString(), "x");
}

TEST_F(ColumnTest, AssignCopiesValuesAndRejectsOtherObjects) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_VARYING | 1, 10, "A"), MakeVar(SQL_VARYING | 1, 10, "B")});
  TIB_Column* a = row->ColumnByName("A");
  TIB_Column* b = row->ColumnByName("B");
  a->SetAsString("copy");
  b->Assign(a);
  EXPECT_EQ(b->GetAsString(), "copy");
  TStringList list;
  a->AssignTo(&list);
  EXPECT_EQ(list.Get(0), "copy");
  EXPECT_EQ(MessageOf<EIB_ColumnError>([&] { a->Assign(&list); }), "Cannot assign to TStringList");
  EXPECT_EQ(a->GetAsXml(), "<a>\r\ncopy\r\n</a>\r\n");
}

TEST_F(ColumnTest, ValidCharactersByType) {
  auto row =
      MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "I"), MakeVar(SQL_LONG, 4, "N", "", "", -2),
                         MakeVar(SQL_TYPE_DATE, 4, "D"), MakeVar(SQL_TEXT, 4, "T"), MakeVar(SQL_DOUBLE, 8, "F")});
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"I", "-+09", ". aE"}, {"N", "-.9", " E"}, {"D", "/ 9a", ":"}, {"T", "%:", ""}, {"F", " eIn.t9", "x:"}};
  for (const auto& [name, valid, invalid] : cases) {
    for (const char* ch = valid; *ch; ++ch) EXPECT_TRUE(row->ColumnByName(name)->IsValidChar(*ch)) << name << *ch;
    for (const char* ch = invalid; *ch; ++ch) EXPECT_FALSE(row->ColumnByName(name)->IsValidChar(*ch)) << name << *ch;
  }
}

TEST_F(ColumnTest, TheReservedNotificationsAreNotImplementedAtThisLevel) {
  auto row = MakeRow(rtFields, {MakeVar(SQL_LONG, 4, "I")});
  TIB_Column* i = row->ColumnByName("I");
  for (int32_t code : {cnColumnReserved1, cnColumnReserved2}) {
    EXPECT_EQ(MessageOf<Exception>([&] { i->Perform(code); }), "Not implemented at this level");
  }
  i->Perform(0);  // any other code is not the column's
}

}  // namespace
