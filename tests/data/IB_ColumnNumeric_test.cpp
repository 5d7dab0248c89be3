#include "dblib/data/IB_ColumnNumeric.h"

#include <cmath>

#include "TypedColumnTestSupport.h"
#include "dblib/StatementTestSupport.h"

using namespace typedtest;

namespace {

XSQLVAR Scaled(short Type, short Scale) {
  return MakeVar(static_cast<short>(Type | 1), Type == SQL_SHORT ? 2 : Type == SQL_LONG ? 4 : 8, "N", "", "", Scale);
}

class NumericColumnTest : public TypedColumnTest {
protected:
  // The stored integer of a scaled column, whatever its storage.
  static int64_t Raw(TIB_Column* C) {
    switch (C->GetSQLType() & ~1) {
      case SQL_SHORT: return Stored<int16_t>(C);
      case SQL_LONG: return Stored<int32_t>(C);
      case SQL_QUAD: {
        const ISC_QUAD q = Stored<ISC_QUAD>(C);
        return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(q.gds_quad_high)) << 32) |
                                    q.gds_quad_low);
      }
      default: return Stored<int64_t>(C);
    }
  }
};

TEST_F(NumericColumnTest, ScaledTextIsStoredAsTheScaledIntegerAndShownWithEveryDigit) {
  struct Case {
    short Type, Scale;
    const char* In;
    int64_t Stored;
    const char* Out;
  };
  const Case cases[] = {
      // 32 and 16 bits round half away from zero, also where double arithmetic falls short.
      {SQL_LONG, -2, "2.675", 268, "2.68"},
      {SQL_LONG, -2, "-2.675", -268, "-2.68"},
      {SQL_SHORT, -1, "12.3", 123, "12.3"},
      {SQL_LONG, -9, "2.147483647", INT32_MAX, "2.147483647"},
      // 64 bits take the text digit by digit; past the scale, ties go to even.
      {SQL_INT64, -4, "922337203685477.5807", INT64_MAX, "922337203685477.5807"},
      {SQL_INT64, -4, "-922337203685477.5808", INT64_MIN, "-922337203685477.5808"},
      {SQL_INT64, -4, "123456789012345.6789", 1234567890123456789, "123456789012345.6789"},
      {SQL_INT64, -4, " -0.0001 ", -1, "-0.0001"},
      {SQL_INT64, -4, "0.00005", 0, "0.0000"},
      {SQL_INT64, -4, "0.00015", 2, "0.0002"},
      {SQL_INT64, -4, "-0.000051", -1, "-0.0001"},
      {SQL_INT64, -4, "1.5E3", 15000000, "1500.0000"},
      {SQL_INT64, -4, "1234.5e-4", 1234, "0.1234"},
      {SQL_INT64, -4, "1e-30", 0, "0.0000"},
      {SQL_INT64, -18, "-9.223372036854775808", INT64_MIN, "-9.223372036854775808"},
      {SQL_INT64, -18, "0.000000000000000001", 1, "0.000000000000000001"},
      {SQL_INT64, -1, "922337203685477580.7", INT64_MAX, "922337203685477580.7"},
      {SQL_QUAD, -2, "42949673.01", (int64_t(1) << 32) + 5, "42949673.01"},
      {SQL_QUAD, -2, "-0.01", -1, "-0.01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.In);
    TIB_Column* n = Column(rtFields, Scaled(c.Type, c.Scale));
    n->SetAsString(c.In);
    EXPECT_EQ(Raw(n), c.Stored);
    EXPECT_EQ(n->GetAsString(), c.Out);
    n->SetAsString(n->GetAsString());  // read, edit, write: nothing changes
    EXPECT_EQ(Raw(n), c.Stored);
    n->GetRow()->ResetRow(false, false, false);  // the value becomes the old one
    n->SetAsString("1");
    n->Revert();
    EXPECT_EQ(Raw(n), c.Stored);
  }
  // The locale's decimal separator, both ways, and display formats with every digit.
  FormatSettings.DecimalSeparator = ',';
  FormatSettings.ThousandSeparator = '.';
  TIB_Column* b = Column(rtFields, Scaled(SQL_INT64, -4));
  b->SetAsString("-922337203685477,5807");
  EXPECT_EQ(b->GetAsString(), "-922337203685477,5807");
  b->SetDisplayFormat("#,##0.0000");
  EXPECT_EQ(b->GetDisplayText(), "-922.337.203.685.477,5807");
  TIB_Column* i = Column(rtFields, MakeVar(SQL_INT64 | 1, 8, "I"));
  i->SetAsString("9223372036854775807");
  i->SetDisplayFormat("#,##0");
  FormatSettings.ThousandSeparator = ' ';
  EXPECT_EQ(i->GetDisplayText(), "9 223 372 036 854 775 807");
  // The CURRENCY attribute shows the amount in the locale's currency format with the column's decimals.
  FormatSettings = TFormatSettings();
  St.StatementAttributes.Add("N=CURRENCY");
  TIB_Column* c = Column(rtFields, Scaled(SQL_INT64, -4));
  c->SetAsString("-922337203685477.5807");
  EXPECT_EQ(c->GetDisplayText(), "($922,337,203,685,477.5807)");
}

TEST_F(NumericColumnTest, ScaledValuesBeyondTheirStorageRaiseAndLeaveTheColumn) {
  struct Case {
    short Type, Scale;
    std::function<void(TIB_Column*)> Store;
    const char* Message;
  };
  const Case cases[] = {
      {SQL_SHORT, -1, [](TIB_Column* c) { c->SetAsExtended(5000); }, "Smallint overflow"},
      {SQL_SHORT, -1, [](TIB_Column* c) { c->SetAsString("1e12"); }, "Smallint overflow"},
      {SQL_SHORT, -1, [](TIB_Column* c) { c->SetAsCurrency(Currency(int64_t(1000000000))); }, "Smallint overflow"},
      {SQL_LONG, -2, [](TIB_Column* c) { c->SetAsExtended(3e7); }, "Scaled value out of Integer range"},
      {SQL_INT64, -2, [](TIB_Column* c) { c->SetAsExtended(1e17); }, "Value out of range"},
      {SQL_INT64, -4, [](TIB_Column* c) { c->SetAsString("922337203685477.5808"); }, "Value out of range"},
      {SQL_INT64, -4, [](TIB_Column* c) { c->SetAsString("-922337203685477.58086"); }, "Value out of range"},
      {SQL_INT64, -4, [](TIB_Column* c) { c->SetAsString("1e400"); }, "Value out of range"},
      {SQL_INT64, -2, [](TIB_Column* c) { c->SetAsString("nan"); }, "'nan' is not a valid floating point value"},
      {SQL_INT64, -2, [](TIB_Column* c) { c->SetAsString("1.2.3"); }, "'1.2.3' is not a valid floating point value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Message);
    TIB_Column* n = Column(rtFields, Scaled(c.Type, c.Scale));
    const Snapshot before = Take(n);
    try {
      c.Store(n);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
    ExpectSame(n, before);
  }
}

TEST_F(NumericColumnTest, ScaledColumnsReadAsIntegerCurrencyAndVariant) {
  TIB_Column* n = Column(rtFields, Scaled(SQL_LONG, -2));
  EXPECT_EQ(dynamic_cast<TIB_ColumnNumeric*>(n)->GetNumericFormat(), "###############0.00");
  n->SetAsString("-123.45");
  EXPECT_EQ(n->GetAsInteger(), -123);  // truncated toward zero
  EXPECT_EQ(n->GetAsCurrency().Raw(), -1234500);
  EXPECT_DOUBLE_EQ(n->GetAsVariant().AsDouble(), -123.45);
  n->SetAsFloat(0.285);
  EXPECT_EQ(Raw(n), 29);
  n->SetAsCurrency(Currency::FromRaw(10050));  // 1.005: half away from zero
  EXPECT_EQ(Raw(n), 101);

  TIB_Column* b = Column(rtFields, Scaled(SQL_INT64, -2));
  b->SetAsCurrency(Currency::FromRaw(12350));  // 1.235 to two places: ties go to even
  EXPECT_EQ(Raw(b), 124);
  b->SetAsString("-1234567890123456.78");
  EXPECT_RAISES(b->GetAsCurrency(), EIB_ColumnError, "Value out of range");
  EXPECT_RAISES(b->GetAsInteger(), EIB_ColumnError, "Value out of range");
  TIB_Column* six = Column(rtFields, Scaled(SQL_INT64, -6));
  six->SetAsString("1.234567");
  EXPECT_EQ(six->GetAsCurrency().Raw(), 12346);
  six->SetAsCurrency(Currency::FromRaw(12346));
  EXPECT_EQ(Raw(six), 1234600);
}

TEST_F(NumericColumnTest, ScaledDoublesRoundToTheirPlacesOrKeepWholeNumbersWithNoRoundErr) {
  TIB_Column* d = Column(rtFields, Scaled(SQL_DOUBLE, -2));
  d->SetAsExtended(2.675);
  EXPECT_EQ(Stored<double>(d), 2.68);
  EXPECT_EQ(d->GetAsCurrency().Raw(), 26800);
  d->SetAsCurrency(Currency::FromRaw(12345));
  EXPECT_EQ(Stored<double>(d), 1.23);
  St.StatementAttributes.Add("N=NOROUNDERR");
  TIB_Column* w = Column(rtFields, Scaled(SQL_DOUBLE, -2));
  w->SetAsString("2.675");
  EXPECT_EQ(Stored<double>(w), 268.0);
  EXPECT_EQ(w->GetAsString(), "2.68");
  EXPECT_EQ(w->GetAsCurrency().Raw(), 26800);
  w->SetAsCurrency(Currency::FromRaw(-12345));
  EXPECT_EQ(Stored<double>(w), -123.0);
  const Snapshot before = Take(w);
  EXPECT_RAISES(w->SetAsExtended(1e16), EIB_ColumnError, "53bit integer overflow");
  ExpectSame(w, before);
}

TEST_F(NumericColumnTest, BlankTextIsNullForNullableColumnsElseZeroUnlessBlankIsNull) {
  St.StatementAttributes.Add("G=BLANKISNULL");
  struct Case {
    uint8_t Row;
    XSQLVAR Var;
    const char* Text;
    bool Null;
  };
  const Case cases[] = {{rtParams, MakeVar(SQL_LONG, 4, "P"), "", false},
                        {rtParams, MakeVar(SQL_LONG | 1, 4, "Q"), "   ", true},  // INTEGER trims first
                        {rtFields, MakeVar(SQL_DOUBLE, 8, "F"), "", false},
                        {rtFields, MakeVar(SQL_LONG, 4, "G"), "", true},
                        {rtParams, MakeVar(SQL_LONG, 4, "G"), "", false},  // only result columns
                        {rtFields, Scaled(SQL_INT64, -2), "", true}};
  for (const Case& c : cases) {
    TIB_Column* col = Column(c.Row, c.Var);
    col->SetAsInteger(9);
    col->SetAsString(c.Text);
    EXPECT_EQ(col->GetIsNull(), c.Null) << col->GetColumnName();
    EXPECT_EQ(col->GetAsInteger(), 0);
  }
}

TEST_F(NumericColumnTest, IntegersKeepTheirRangeAndByteOrder) {
  TIB_Column* s = Column(rtFields, MakeVar(SQL_SHORT | 1, 2, "S"));
  s->SetAsString(" -32768 ");
  EXPECT_EQ(s->GetAsSmallint(), -32768);
  const Snapshot before = Take(s);
  EXPECT_RAISES(s->SetAsString("40000"), EIB_ColumnError, "Value out of range");
  EXPECT_RAISES(s->SetAsInteger(40000), EIB_ColumnError, "Value out of range");
  EXPECT_THROW(s->SetAsString("12x"), EConvertError);
  ExpectSame(s, before);

  TIB_Column* i = Column(rtFields, MakeVar(SQL_LONG | 1, 4, "I"));
  EXPECT_THROW(i->SetAsString("2147483648"), EConvertError);
  EXPECT_EQ(VarType((i->SetAsInteger(1), i->GetAsVariant())), varInteger);

  for (short type : {SQL_INT64, SQL_QUAD}) {
    TIB_Column* b = Column(rtFields, MakeVar(static_cast<short>(type | 1), 8, "B"));
    b->SetAsString("4294967301");  // 2^32 + 5
    EXPECT_EQ(Raw(b), 4294967301);
    EXPECT_RAISES(b->GetAsInteger(), EIB_ColumnError, "Value out of range");  // not its low half
    EXPECT_EQ(b->GetAsVariant().AsInt64(), 4294967301);
    b->SetAsInteger(-2);
    EXPECT_EQ(b->GetAsString(), "-2");
    EXPECT_THROW(b->SetAsString("9223372036854775808"), EConvertError);
  }
  EXPECT_EQ(Stored<ISC_QUAD>(Column(rtFields, (Scaled(SQL_QUAD, 0)))).gds_quad_high, 0);
}

TEST_F(NumericColumnTest, FloatsShowTheirOwnValueAndRefuseOverflow) {
  TIB_Column* f = Column(rtFields, MakeVar(SQL_FLOAT | 1, 4, "F"));
  f->SetAsFloat(0.1);
  EXPECT_EQ(f->GetAsString(), "0.100000001490116");  // the single's own value, 15 digits
  const Snapshot before = Take(f);
  EXPECT_RAISES(f->SetAsString("1e39"), EIB_ColumnError, "Value out of range");
  EXPECT_RAISES(f->SetAsFloat(-1e300), EIB_ColumnError, "Value out of range");
  ExpectSame(f, before);
  TIB_Column* d = Column(rtFields, MakeVar(SQL_DOUBLE | 1, 8, "D"));
  d->SetAsString("1E20");
  EXPECT_EQ(d->GetAsString(), "1E20");
  EXPECT_RAISES(d->SetAsString("1e400"), EIB_ColumnError, "Value out of range");
  FormatSettings.DecimalSeparator = ',';
  d->SetAsString("-3,25");
  EXPECT_EQ(d->GetAsCurrency().Raw(), -32500);
  EXPECT_EQ(d->GetAsString(), "-3,25");
}

TEST_F(NumericColumnTest, CurrAndCompKeepWholeNumbersInTheirDoubles) {
  St.StatementAttributes.Add("C=CURR");
  St.StatementAttributes.Add("K=COMP");
  TIB_Column* c = Column(rtFields, MakeVar(SQL_DOUBLE | 1, 8, "C"));
  TIB_Column* k = Column(rtFields, MakeVar(SQL_DOUBLE | 1, 8, "K"));
  c->SetAsString("12.34");
  EXPECT_EQ(Stored<double>(c), 123400.0);
  EXPECT_EQ(c->GetAsString(), "12.34");
  EXPECT_EQ(VarType(c->GetAsVariant()), varCurrency);
  c->SetAsVariant(Variant(2.5));
  EXPECT_EQ(c->GetAsCurrency().Raw(), 25000);
  k->SetAsString("12.5");  // ties to even
  EXPECT_EQ(Stored<double>(k), 12.0);
  k->SetAsVariant(Variant(7.6));
  EXPECT_EQ(k->GetAsComp(), 8);
  for (TIB_Column* col : {c, k}) {
    col->SetAsVariant(Variant::Null());
    EXPECT_TRUE(VarIsNull(col->GetAsVariant()));
    const Snapshot before = Take(col);
    EXPECT_THROW(col->SetAsVariant(Variant("abc")), Exception);
    EXPECT_RAISES(col == c ? c->SetAsCurrency(Currency::FromRaw(int64_t(1) << 53)) : k->SetAsString("1e300"),
                  EIB_ColumnError, "53bit integer overflow");
    ExpectSame(col, before);
  }
}

TEST_F(NumericColumnTest, TextHooksSeeTheValueAlsoWhenNull) {
  TIB_Column* i = Column(rtFields, MakeVar(SQL_LONG | 1, 4, "I"));
  i->OnSetText = [](TIB_Column*, std::string& Text) { Text = "4" + Text; };
  i->OnGetText = [](TIB_Column*, std::string& Text) { Text = "<" + Text + ">"; };
  i->SetAsString("2");
  EXPECT_EQ(i->GetAsString(), "<42>");
  i->Clear();
  EXPECT_EQ(i->GetAsString(), "<>");
}

TEST_F(NumericColumnTest, AValueThatDoesNotConvertLeavesANullColumnNull) {
  TIB_Row* row = MakeRow(rtFields, {MakeVar(SQL_LONG | 1, 4, "I"), MakeVar(SQL_VARYING | 1, 10, "T")});
  TIB_Column* i = row->GetColumns(0);
  row->GetColumns(1)->SetAsString("abc");
  const Snapshot before = Take(i);
  EXPECT_ANY_THROW(i->SetAsVariant(Variant("abc")));
  EXPECT_ANY_THROW(i->SetAsVariant(Variant(1e300)));
  EXPECT_RAISES(i->Assign(row->GetColumns(1)), EConvertError, "'abc' is not a valid integer value");
  ExpectSame(i, before);
  // A value equal to what a null column reads as is still stored: the column stops being null.
  i->SetAsVariant(Variant(int32_t(0)));
  EXPECT_FALSE(i->GetIsNull());
}

// ---- through the engine ------------------------------------------------------------------------------

class NumericEngineTest : public stmttest::StatementDbTest {};

TEST_F(NumericEngineTest, EveryScaleKeepsItsValueThroughReadEditWrite) {
  std::string columns;
  for (int s = 0; s <= 18; ++s) columns += ", N" + std::to_string(s) + " NUMERIC(18," + std::to_string(s) + ")";
  Exec("CREATE TABLE T (ID INTEGER" + columns + ")");
  Tr->Commit();
  std::vector<std::pair<int, std::string>> cases = {{0, "9223372036854775807"},
                                                    {0, "-9223372036854775808"},
                                                    {1, "-0.1"},
                                                    {4, "922337203685477.5807"},
                                                    {4, "-922337203685477.5808"},
                                                    {4, "123456789012345.6789"},
                                                    {4, "-0.0001"},
                                                    {4, "0.0000"},
                                                    {18, "9.223372036854775807"},
                                                    {18, "-9.223372036854775808"},
                                                    {18, "-0.000000000000000001"}};
  for (int s = 1; s <= 18; ++s) {  // 19 digits at every scale
    std::string digits = "-1234567890123456789";
    digits.insert(digits.size() - static_cast<size_t>(s), ".");
    cases.emplace_back(s, digits);
  }
  int id = 0;
  for (const auto& [scale, text] : cases) {
    SCOPED_TRACE(text);
    const std::string col = "N" + std::to_string(scale);
    ++id;
    TIB_DSQL* ins = NewDSQL("INSERT INTO T (ID, " + col + ") VALUES (:ID, :V)");
    ins->ParamByName("ID")->SetAsInteger(id);
    ins->ParamByName("V")->SetAsString(text);
    ins->Execute();
    TIB_DSQL* sel =
        NewDSQL("SELECT " + col + ", CAST(" + col + " AS VARCHAR(30)) FROM T WHERE ID = " + std::to_string(id));
    sel->Execute();
    const std::string read = sel->GetFields()->GetColumns(0)->GetAsString();
    EXPECT_EQ(read, text);
    EXPECT_EQ(sel->GetFields()->GetColumns(1)->GetAsString(), text);  // what the server holds
    // Write back what was read, as an edit that changes nothing would.
    TIB_DSQL* upd = NewDSQL("UPDATE T SET " + col + " = :V WHERE ID = :ID");
    upd->ParamByName("V")->SetAsString(read);
    upd->ParamByName("ID")->SetAsInteger(id);
    upd->Execute();
    EXPECT_EQ(Scalar("SELECT CAST(" + col + " AS VARCHAR(30)) FROM T WHERE ID = " + std::to_string(id)), text);
    delete ins;
    delete sel;
    delete upd;
  }
}

}  // namespace
