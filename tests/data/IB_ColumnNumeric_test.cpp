#include "dblib/data/IB_ColumnNumeric.h"

#include <cmath>

#include "TypedColumnTestSupport.h"

using namespace typedtest;

namespace {

class NumericColumnTest : public TypedColumnTest {};

// NUMERIC(9,2) over INTEGER, NUMERIC(4,1) over SMALLINT, NUMERIC(18,2) over BIGINT, dialect-1 NUMERIC(15,2)
// over DOUBLE PRECISION.
XSQLVAR Num9_2() { return MakeVar(SQL_LONG | 1, 4, "N", "", "", -2); }
XSQLVAR Num4_1() { return MakeVar(SQL_SHORT | 1, 2, "S", "", "", -1); }
XSQLVAR Num18_2() { return MakeVar(SQL_INT64 | 1, 8, "B", "", "", -2); }
XSQLVAR Num15_2Double() { return MakeVar(SQL_DOUBLE | 1, 8, "D", "", "", -2); }

TEST_F(NumericColumnTest, ScaledIntegerReadsAsTextIntegerAndCurrency) {
  TIB_Column* n = Column(rtFields, Num9_2());
  auto* numeric = dynamic_cast<TIB_ColumnNumeric*>(n);
  ASSERT_NE(numeric, nullptr);
  EXPECT_EQ(numeric->GetNumericFormat(), "###############0.00");
  n->SetAsInteger(0);
  const int32_t raw = 12345;
  n->SetColData(std::string(reinterpret_cast<const char*>(&raw), 4));
  EXPECT_EQ(n->GetAsString(), "123.45");
  EXPECT_EQ(n->GetAsInteger(), 123);
  EXPECT_EQ(n->GetAsCurrency().Raw(), 1234500);
  EXPECT_EQ(VarType(n->GetAsVariant()), varDouble);
  EXPECT_DOUBLE_EQ(n->GetAsVariant().AsDouble(), 123.45);
  FormatSettings.DecimalSeparator = ',';
  EXPECT_EQ(n->GetAsString(), "123,45");
  n->SetAsString("-7,5");
  EXPECT_EQ(Stored<int32_t>(n), -750);
  EXPECT_EQ(n->GetAsInteger(), -7);  // truncated toward zero
}

TEST_F(NumericColumnTest, StoresRoundHalfAwayWhereDoubleArithmeticFails) {
  TIB_Column* n = Column(rtFields, Num9_2());
  // 1.005, 2.675 and 0.285 times 100 are 100.4999..., 267.4999... and 28.4999... in double arithmetic.
  n->SetAsExtended(1.005);
  EXPECT_EQ(Stored<int32_t>(n), 101);
  n->SetAsString("2.675");
  EXPECT_EQ(Stored<int32_t>(n), 268);
  n->SetAsFloat(0.285);
  EXPECT_EQ(Stored<int32_t>(n), 29);
  n->SetAsExtended(-2.675);
  EXPECT_EQ(Stored<int32_t>(n), -268);
  n->SetAsInteger(7);
  EXPECT_EQ(Stored<int32_t>(n), 700);
}

TEST_F(NumericColumnTest, BigintKeepsEighteenDigits) {
  TIB_Column* b = Column(rtFields, Num18_2());
  b->SetAsString("123456789012345.67");
  EXPECT_EQ(Stored<int64_t>(b), 12345678901234567);
  EXPECT_EQ(b->GetAsString(), "123456789012345.67");
  b->SetAsString("-1234567890123456.78");
  EXPECT_EQ(Stored<int64_t>(b), -123456789012345678);
  EXPECT_EQ(b->GetAsString(), "-1234567890123456.78");
  EXPECT_THROW(b->GetAsCurrency(), EOverflow);                              // beyond the currency range
  EXPECT_RAISES(b->GetAsInteger(), EIB_ColumnError, "Value out of range");  // not a wrapped value
}

TEST_F(NumericColumnTest, SmallintOverflowLeavesTheColumn) {
  TIB_Column* s = Column(rtFields, Num4_1());
  s->SetAsString("12.3");
  EXPECT_EQ(Stored<int16_t>(s), 123);
  const Snapshot before = Take(s);
  EXPECT_RAISES(s->SetAsExtended(5000), EIB_ColumnError, "Smallint overflow");
  ExpectSame(s, before);
  EXPECT_RAISES(s->SetAsString("1e12"), EIB_ColumnError, "Smallint overflow");
  EXPECT_RAISES(s->SetAsCurrency(Currency(4000)), EIB_ColumnError, "Smallint overflow");
  ExpectSame(s, before);
  // An amount whose scaled value is beyond 32 bits is beyond the SMALLINT too.
  EXPECT_RAISES(s->SetAsCurrency(Currency(int64_t(1000000000))), EIB_ColumnError, "Smallint overflow");
  ExpectSame(s, before);
  EXPECT_EQ(s->GetAsString(), "12.3");
}

TEST_F(NumericColumnTest, ScaledValueBeyondItsStorageRaisesInsteadOfWrapping) {
  TIB_Column* n = Column(rtFields, Num9_2());
  const Snapshot nullBefore = Take(n);
  EXPECT_THROW(n->SetAsExtended(3e7), Exception);  // 3e9 hundredths do not fit 32 bits
  ExpectSame(n, nullBefore);
  EXPECT_TRUE(n->GetIsNull());

  TIB_Column* b = Column(rtFields, Num18_2());
  b->SetAsInteger(1);
  const Snapshot before = Take(b);
  EXPECT_RAISES(b->SetAsExtended(1e17), EIB_ColumnError, "Value out of range");
  EXPECT_RAISES(b->SetAsString("nan"), EConvertError, "'nan' is not a valid floating point value");
  ExpectSame(b, before);
}

TEST_F(NumericColumnTest, QuadHoldsTheHighHalfFirst) {
  TIB_Column* q = Column(rtFields, MakeVar(SQL_QUAD | 1, 8, "Q", "", "", -2));
  q->SetAsExtended(42949673.01);  // (2^32 + 5) hundredths
  const ISC_QUAD raw = Stored<ISC_QUAD>(q);
  EXPECT_EQ(raw.gds_quad_high, 1);
  EXPECT_EQ(raw.gds_quad_low, 5u);
  EXPECT_EQ(q->GetAsString(), "42949673.01");
  q->SetAsExtended(-0.01);
  EXPECT_EQ(Stored<ISC_QUAD>(q).gds_quad_high, -1);
  EXPECT_EQ(q->GetAsString(), "-0.01");
}

TEST_F(NumericColumnTest, CurrencyStoresInTheScaledTypes) {
  TIB_Column* b = Column(rtFields, Num18_2());
  b->SetAsCurrency(Currency::FromRaw(12350));  // 1.235 to two places: ties go to even
  EXPECT_EQ(Stored<int64_t>(b), 124);
  b->SetAsCurrency(Currency::FromRaw(12250));
  EXPECT_EQ(Stored<int64_t>(b), 122);
  EXPECT_EQ(b->GetAsCurrency().Raw(), 12200);

  TIB_Column* n = Column(rtFields, Num9_2());
  n->SetAsCurrency(Currency::FromRaw(10050));  // 1.005 rounds half away from zero
  EXPECT_EQ(Stored<int32_t>(n), 101);

  TIB_Column* six = Column(rtFields, MakeVar(SQL_INT64 | 1, 8, "X", "", "", -6));
  six->SetAsString("1.234567");
  EXPECT_EQ(Stored<int64_t>(six), 1234567);
  EXPECT_EQ(six->GetAsCurrency().Raw(), 12346);
  six->SetAsCurrency(Currency::FromRaw(12346));
  EXPECT_EQ(Stored<int64_t>(six), 1234600);
}

TEST_F(NumericColumnTest, ScaledDoubleRoundsToItsPlaces) {
  TIB_Column* d = Column(rtFields, Num15_2Double());
  d->SetAsExtended(2.675);
  EXPECT_EQ(Stored<double>(d), 2.68);
  EXPECT_EQ(d->GetAsString(), "2.68");
  EXPECT_EQ(d->GetAsCurrency().Raw(), 26800);
  d->SetAsCurrency(Currency::FromRaw(12345));
  EXPECT_EQ(Stored<double>(d), 1.23);
}

TEST_F(NumericColumnTest, NoRoundErrKeepsWholeNumbersAndChecksThe53Bits) {
  St.StatementAttributes.Add("D=NOROUNDERR");
  TIB_Column* d = Column(rtFields, Num15_2Double());
  auto* numeric = dynamic_cast<TIB_ColumnNumeric*>(d);
  ASSERT_NE(numeric, nullptr);
  EXPECT_TRUE(numeric->GetNoRoundErr());
  d->SetAsString("2.675");
  EXPECT_EQ(Stored<double>(d), 268.0);
  EXPECT_EQ(d->GetAsString(), "2.68");
  EXPECT_EQ(d->GetAsCurrency().Raw(), 26800);
  d->SetAsCurrency(Currency::FromRaw(-12345));
  EXPECT_EQ(Stored<double>(d), -123.0);
  const Snapshot before = Take(d);
  EXPECT_RAISES(d->SetAsExtended(1e16), EIB_ColumnError, "53bit integer overflow");
  ExpectSame(d, before);
}

TEST_F(NumericColumnTest, BlankRule) {
  // A NOT NULL parameter stores 0; a nullable one becomes null.
  TIB_Column* p = Column(rtParams, MakeVar(SQL_LONG, 4, "P"));
  p->SetAsString("");
  EXPECT_FALSE(p->GetIsNull());
  EXPECT_EQ(p->GetAsInteger(), 0);
  TIB_Column* q = Column(rtParams, MakeVar(SQL_LONG | 1, 4, "Q"));
  q->SetAsInteger(3);
  q->SetAsString("   ");  // INTEGER trims first
  EXPECT_TRUE(q->GetIsNull());
  // A NOT NULL result column becomes null only under BLANKISNULL.
  TIB_Column* f = Column(rtFields, MakeVar(SQL_DOUBLE, 8, "F"));
  f->SetAsString("");
  EXPECT_FALSE(f->GetIsNull());
  St.StatementAttributes.Add("G=BLANKISNULL");
  TIB_Column* g = Column(rtFields, MakeVar(SQL_LONG, 4, "G"));
  g->SetAsInteger(9);
  g->SetAsString("");
  EXPECT_TRUE(g->GetIsNull());
  EXPECT_EQ(g->GetAsString(), "");
  EXPECT_EQ(g->GetAsInteger(), 0);
  TIB_Column* n = Column(rtFields, Num9_2());
  n->SetAsString("");
  EXPECT_TRUE(n->GetIsNull());
}

TEST_F(NumericColumnTest, SmallintRange) {
  TIB_Column* s = Column(rtFields, MakeVar(SQL_SHORT | 1, 2, "S"));
  s->SetAsString(" -32768 ");
  EXPECT_EQ(s->GetAsSmallint(), -32768);
  const Snapshot before = Take(s);
  EXPECT_RAISES(s->SetAsString("40000"), EIB_ColumnError, "Value out of range");
  EXPECT_RAISES(s->SetAsInteger(40000), EIB_ColumnError, "Value out of range");
  EXPECT_THROW(s->SetAsString("12x"), EConvertError);
  ExpectSame(s, before);
  s->SetAsSmallint(32767);
  EXPECT_EQ(s->GetAsString(), "32767");
  EXPECT_EQ(VarType(s->GetAsVariant()), varSmallint);
}

TEST_F(NumericColumnTest, IntegerAndInt64) {
  TIB_Column* i = Column(rtFields, MakeVar(SQL_LONG | 1, 4, "I"));
  i->SetAsString(" 2147483647 ");
  EXPECT_EQ(i->GetAsInteger(), 2147483647);
  const Snapshot before = Take(i);
  EXPECT_THROW(i->SetAsString("2147483648"), EConvertError);
  ExpectSame(i, before);
  EXPECT_EQ(VarType(i->GetAsVariant()), varInteger);

  TIB_Column* b = Column(rtFields, MakeVar(SQL_INT64 | 1, 8, "B"));
  b->SetAsString("4294967301");                                             // 2^32 + 5
  EXPECT_RAISES(b->GetAsInteger(), EIB_ColumnError, "Value out of range");  // not its low half
  b->SetAsString("-2147483648");
  EXPECT_EQ(b->GetAsInteger(), INT32_MIN);
  b->SetAsString("4294967301");
  EXPECT_EQ(b->GetAsInt64(), 4294967301);
  EXPECT_EQ(b->GetAsString(), "4294967301");
  const Variant v = b->GetAsVariant();
  EXPECT_EQ(VarType(v), varDecimal);
  EXPECT_EQ(v.AsInt64(), 4294967301);
  b->SetAsInteger(-1);
  EXPECT_EQ(Stored<int64_t>(b), -1);
  EXPECT_THROW(b->SetAsString("9223372036854775808"), EConvertError);
  b->SetAsVariant(Variant::FromDecimal(INT64_MAX));
  EXPECT_EQ(b->GetAsString(), "9223372036854775807");
}

TEST_F(NumericColumnTest, QuadIntegerByteOrder) {
  TIB_Column* q = Column(rtFields, MakeVar(SQL_QUAD | 1, 8, "Q"));
  ASSERT_NE(dynamic_cast<TIB_ColumnQuad*>(q), nullptr);
  q->SetAsString("4294967301");
  EXPECT_EQ(Stored<ISC_QUAD>(q).gds_quad_high, 1);
  EXPECT_EQ(Stored<ISC_QUAD>(q).gds_quad_low, 5u);
  EXPECT_RAISES(q->GetAsInteger(), EIB_ColumnError, "Value out of range");
  EXPECT_EQ(q->GetAsString(), "4294967301");
  q->SetAsInteger(-2);
  EXPECT_EQ(q->GetAsString(), "-2");
}

TEST_F(NumericColumnTest, FloatAndDouble) {
  TIB_Column* f = Column(rtFields, MakeVar(SQL_FLOAT | 1, 4, "F"));
  f->SetAsString("0.5");
  EXPECT_EQ(f->GetAsString(), "0.5");
  f->SetAsFloat(0.1);
  EXPECT_EQ(f->GetAsString(), "0.100000001490116");  // the single's own value, 15 digits
  const Snapshot before = Take(f);
  EXPECT_RAISES(f->SetAsString("1e39"), EOverflow, "Floating point overflow");
  EXPECT_RAISES(f->SetAsFloat(-1e300), EOverflow, "Floating point overflow");
  ExpectSame(f, before);

  TIB_Column* d = Column(rtFields, MakeVar(SQL_DOUBLE | 1, 8, "D"));
  d->SetAsString("1E20");
  EXPECT_EQ(d->GetAsString(), "1E20");
  d->SetAsDouble(-2.5);
  EXPECT_EQ(d->GetAsDouble(), -2.5);
  EXPECT_EQ(d->GetAsCurrency().Raw(), -25000);
  const Snapshot dBefore = Take(d);
  EXPECT_RAISES(d->SetAsString("1e400"), EOverflow, "Floating point overflow");
  ExpectSame(d, dBefore);
  FormatSettings.DecimalSeparator = ',';
  d->SetAsString("3,25");
  EXPECT_EQ(d->GetAsDouble(), 3.25);
  EXPECT_EQ(d->GetAsString(), "3,25");
}

TEST_F(NumericColumnTest, CurrColumnKeepsTenThousandths) {
  St.StatementAttributes.Add("C=CURR");
  TIB_Column* c = Column(rtFields, MakeVar(SQL_DOUBLE | 1, 8, "C"));
  ASSERT_NE(dynamic_cast<TIB_ColumnCurr*>(c), nullptr);
  c->SetAsString("12.34");
  EXPECT_EQ(Stored<double>(c), 123400.0);
  EXPECT_EQ(c->GetAsString(), "12.34");
  EXPECT_EQ(c->GetAsCurrency().Raw(), 123400);
  const Variant v = c->GetAsVariant();
  EXPECT_EQ(VarType(v), varCurrency);
  c->SetAsVariant(Variant(Currency::FromRaw(5)));
  EXPECT_EQ(c->GetAsString(), "0.0005");
  c->SetAsVariant(Variant::Null());
  EXPECT_TRUE(c->GetIsNull());
  EXPECT_TRUE(VarIsNull(c->GetAsVariant()));
  // A value that is no amount, or too large for 53 bits, leaves the column null.
  const Snapshot before = Take(c);
  EXPECT_THROW(c->SetAsVariant(Variant("abc")), Exception);
  EXPECT_RAISES(c->SetAsCurrency(Currency::FromRaw(int64_t(1) << 53)), EIB_ColumnError, "53bit integer overflow");
  ExpectSame(c, before);
  c->SetAsVariant(Variant(2.5));
  EXPECT_EQ(c->GetAsCurrency().Raw(), 25000);
}

TEST_F(NumericColumnTest, CompColumnKeepsWholeNumbers) {
  St.StatementAttributes.Add("K=COMP");
  TIB_Column* k = Column(rtFields, MakeVar(SQL_DOUBLE | 1, 8, "K"));
  ASSERT_NE(dynamic_cast<TIB_ColumnComp*>(k), nullptr);
  k->SetAsString("12.5");  // ties to even
  EXPECT_EQ(Stored<double>(k), 12.0);
  k->SetAsString("13.5");
  EXPECT_EQ(k->GetAsComp(), 14);
  EXPECT_EQ(k->GetAsString(), "14");
  EXPECT_EQ(VarType(k->GetAsVariant()), varDouble);
  k->SetAsComp(-9007199254740991);
  EXPECT_EQ(k->GetAsComp(), -9007199254740991);
  const Snapshot before = Take(k);
  EXPECT_RAISES(k->SetAsComp(int64_t(1) << 53), EIB_ColumnError, "53bit integer overflow");
  EXPECT_RAISES(k->SetAsString("1e300"), EIB_ColumnError, "53bit integer overflow");
  ExpectSame(k, before);
  k->SetAsVariant(Variant(7.6));
  EXPECT_EQ(k->GetAsComp(), 8);
}

TEST_F(NumericColumnTest, TextHooksSeeTheValue) {
  TIB_Column* i = Column(rtFields, MakeVar(SQL_LONG | 1, 4, "I"));
  i->OnSetText = [](TIB_Column*, std::string& Text) { Text = "4" + Text; };
  i->OnGetText = [](TIB_Column*, std::string& Text) { Text = "<" + Text + ">"; };
  i->SetAsString("2");
  EXPECT_EQ(i->GetAsString(), "<42>");
  i->Clear();
  EXPECT_EQ(i->GetAsString(), "<>");  // also for null
}

TEST_F(NumericColumnTest, FactoryPicksTheClasses) {
  TIB_Row* row =
      MakeRow(rtFields, {MakeVar(SQL_SHORT | 1, 2, "A"), MakeVar(SQL_LONG | 1, 4, "B"), MakeVar(SQL_INT64 | 1, 8, "C"),
                         MakeVar(SQL_FLOAT | 1, 4, "D"), MakeVar(SQL_DOUBLE | 1, 8, "E"),
                         MakeVar(SQL_LONG | 1, 4, "F", "", "", -3), MakeVar(SQL_FLOAT | 1, 4, "G", "", "", -2)});
  EXPECT_NE(dynamic_cast<TIB_ColumnSmallInt*>(row->ColumnByName("A")), nullptr);
  EXPECT_NE(dynamic_cast<TIB_ColumnInteger*>(row->ColumnByName("B")), nullptr);
  EXPECT_NE(dynamic_cast<TIB_ColumnInt64*>(row->ColumnByName("C")), nullptr);
  EXPECT_NE(dynamic_cast<TIB_ColumnFloat*>(row->ColumnByName("D")), nullptr);
  EXPECT_NE(dynamic_cast<TIB_ColumnDouble*>(row->ColumnByName("E")), nullptr);
  EXPECT_NE(dynamic_cast<TIB_ColumnNumeric*>(row->ColumnByName("F")), nullptr);
  EXPECT_NE(dynamic_cast<TIB_ColumnFloat*>(row->ColumnByName("G")), nullptr);
  for (int i = 0; i < row->GetColumnCount(); ++i) EXPECT_TRUE(row->GetColumns(i)->GetIsNumericKind());
}

}  // namespace

TEST_F(NumericColumnTest, AVariantThatDoesNotConvertLeavesANullColumnNull) {
  TIB_Column* i = Column(rtFields, MakeVar(SQL_LONG | 1, 4, "I"));
  const Snapshot before = Take(i);
  EXPECT_ANY_THROW(i->SetAsVariant(Variant("abc")));
  EXPECT_ANY_THROW(i->SetAsVariant(Variant(1e300)));
  ExpectSame(i, before);
  EXPECT_TRUE(i->GetIsNull());
  // A value equal to what a null column reads as is still stored: the column stops being null.
  i->SetAsVariant(Variant(int32_t(0)));
  EXPECT_FALSE(i->GetIsNull());
  TIB_Column* s = Column(rtFields, MakeVar(SQL_VARYING | 1, 10, "S"));
  s->SetAsVariant(Variant(""));
  EXPECT_FALSE(s->GetIsNull());
}

namespace {

TEST_F(NumericColumnTest, AnAssignThatDoesNotConvertLeavesANullColumnNull) {
  TIB_Row* row = MakeRow(
      rtFields, {MakeVar(SQL_LONG | 1, 4, "I"), MakeVar(SQL_VARYING | 1, 10, "T"), MakeVar(SQL_LONG | 1, 4, "Z")});
  TIB_Column* i = row->GetColumns(0);
  TIB_Column* t = row->GetColumns(1);
  t->SetAsString("abc");
  const Snapshot before = Take(i);
  EXPECT_RAISES(i->Assign(t), EConvertError, "'abc' is not a valid integer value");
  ExpectSame(i, before);
  EXPECT_TRUE(i->GetIsNull());
  // A source whose value equals what a null column reads as is still copied: the column stops being null.
  TIB_Column* z = row->GetColumns(2);
  z->SetAsInteger(0);
  i->Assign(z);
  EXPECT_FALSE(i->GetIsNull());
  EXPECT_EQ(i->GetAsInteger(), 0);
}

}  // namespace
