#include "dblib/data/IB_ColumnText.h"

#include "TypedColumnTestSupport.h"

using namespace typedtest;

namespace {

class TextColumnTest : public TypedColumnTest {};

TEST_F(TextColumnTest, TextIsCutToItsLengthPaddedAndTrimmedOnlyInResultColumns) {
  struct Case {
    uint8_t Row;
    XSQLVAR Var;
    std::string In, Bytes, Out;
  };
  const Case cases[] = {
      {rtFields, MakeVar(SQL_VARYING | 1, 5, "V"), "abcdefg",
       std::string("\x05\x00"
                   "abcde",
                   7),
       "abcde"},
      {rtFields, MakeVar(SQL_VARYING | 1, 5, "V"), "xy", std::string("\x02\x00xy   ", 7), "xy"},
      {rtFields, MakeVar(SQL_TEXT | 1, 6, "C"), "abc", "abc   ", "abc"},
      {rtParams, MakeVar(SQL_TEXT | 1, 6, "C"), "abc", "abc   ", "abc   "},
      {rtParams, MakeVar(SQL_TEXT | 1, 6, "C"), std::string("ab\0cd", 5), std::string("ab\0cd ", 6), "ab"},
      // A UTF-8 column is cut to its length in characters (VARCHAR(2): eight bytes), never within one.
      {rtFields, MakeVar(SQL_VARYING | 1, 8, "U", "", "", 0, 4), "\xC3\xA9" "abcd",
       std::string("\x03\x00"
                   "\xC3\xA9" "a     ",
                   10),
       "\xC3\xA9" "a"},
  };
  for (const Case& c : cases) {
    TIB_Column* col = Column(c.Row, c.Var);
    col->SetAsString(c.In);
    EXPECT_EQ(Bytes(col), c.Bytes) << c.In;
    EXPECT_EQ(col->GetAsString(), c.Out) << c.In;
  }
}

TEST_F(TextColumnTest, AResultColumnIsReadWithItsTrimmingKindAndCase) {
  // Stored as written (trimming 0), then read with each kind; a tab is a blank to trimming too.
  const std::string text = "\t a  b   c  ";
  struct Case {
    int16_t Type;
    uint8_t Trimming, CharCase;
    std::string Out;
  };
  const Case cases[] = {
      {SQL_VARYING, 0, 0, text},          {SQL_TEXT, 0, 0, text + "  "},
      {SQL_VARYING, 1, 0, "abc"},         {SQL_TEXT, 1, 0, "abc"},
      {SQL_VARYING, 2, 0, "a  b   c"},    {SQL_TEXT, 2, 0, "a  b   c"},
      {SQL_VARYING, 3, 0, "a  b   c  "},  {SQL_TEXT, 3, 0, "a  b   c    "},
      {SQL_VARYING, 4, 0, "\t a  b   c"}, {SQL_TEXT, 4, 0, "\t a  b   c"},
      {SQL_VARYING, 5, 0, "a b c"},       {SQL_TEXT, 5, 0, "a b c"},
      {SQL_VARYING, 4, 1, "\t A  B   C"}, {SQL_TEXT, 2, 2, "a  b   c"},
  };
  for (const Case& c : cases) {
    TIB_Column* col = Column(rtFields, MakeVar(static_cast<int16_t>(c.Type | 1), 14, "T"));
    col->SetTrimming(0);
    col->SetAsString(c.CharCase == 2 ? "\t A  B   C  " : text);
    col->SetTrimming(c.Trimming);
    col->SetCharCase(c.CharCase);
    EXPECT_EQ(col->GetAsString(), c.Out) << c.Type << " " << int(c.Trimming) << " " << int(c.CharCase);
  }
}

TEST_F(TextColumnTest, AKeyRowNeverTrims) {
  St.Vars = {MakeVar(SQL_TEXT | 1, 6, "K")};
  TIB_Row key(&St, rtFields);
  key.SetIsKeyRow(true);
  key.AllocateXSQLDA(1);
  TIB_Column* k = key.GetColumns(0);
  k->SetTrimming(2);
  k->SetAsString(" ab ");
  EXPECT_EQ(Bytes(k), " ab   ");
  EXPECT_EQ(k->GetAsString(), " ab   ");
}

TEST_F(TextColumnTest, AttributesChangePaddingNullsCaseAndSearch) {
  St.StatementAttributes.Add("B=BINARY");
  St.StatementAttributes.Add("N=BLANKISNULL;NOCASE");
  St.StatementAttributes.Add("M=NOCASE=NAME_UP");
  TIB_Column* b = Column(rtParams, MakeVar(SQL_TEXT | 1, 6, "B"));
  b->SetAsString("ab");
  EXPECT_EQ(Bytes(b), std::string("ab\0\0\0\0", 6));
  b->Clear();
  EXPECT_EQ(Bytes(b), std::string(6, '\0'));

  TIB_Column* plain = Column(rtFields, MakeVar(SQL_VARYING | 1, 8, "A"));
  plain->SetAsString("");
  EXPECT_FALSE(plain->GetIsNull());
  TIB_Column* n = Column(rtFields, MakeVar(SQL_VARYING | 1, 8, "N", "T"));
  n->SetAsString("x");
  n->SetAsString("   ");  // trimmed to nothing first
  EXPECT_TRUE(n->GetIsNull());
  EXPECT_EQ(n->GetUpperExpression(), "UPPER( T.N )");
  EXPECT_EQ(Column(rtFields, MakeVar(SQL_VARYING | 1, 8, "M"))->GetUpperExpression(), "NAME_UP");
  n->SetCharCase(1);
  n->SetAsString("MiXed");
  EXPECT_EQ(n->GetAsString(), "MIXED");
  n->SetCharCase(2);
  EXPECT_EQ(n->GetAsString(), "mixed");
}

TEST_F(TextColumnTest, RawWideText) {
  TIB_Column* v = Column(rtFields, MakeVar(SQL_VARYING | 1, 6, "V"));
  v->SetAsRawText(u"hi");
  EXPECT_EQ(Stored<uint16_t>(v), 4);
  EXPECT_EQ(v->GetAsRawText(), u"hi");
  v->SetAsRawText(u"long text");
  EXPECT_EQ(v->GetAsRawText(), u"lon");
  TIB_Column* c = Column(rtParams, MakeVar(SQL_TEXT | 1, 4, "C"));
  c->SetAsRawText(u"\u00e9");
  EXPECT_EQ(c->GetAsRawText(), std::u16string(u"\u00e9") + char16_t(0x2020));  // the rest is blanks
  c->Clear();
  EXPECT_EQ(c->GetAsRawText(), u"");
}

TEST_F(TextColumnTest, DbKeyAsHexadecimal) {
  TIB_Column* k = Column(rtFields, MakeVar(SQL_TEXT | 1, 8, "DB_KEY", "", "DB_KEY"));
  ASSERT_NE(dynamic_cast<TIB_ColumnDB_KEY*>(k), nullptr);
  k->SetAsString("00ff10203040506a");
  EXPECT_EQ(k->GetAsString(), "00FF10203040506A");
  const Snapshot before = Take(k);
  // A key of another length (of another relation, or of a view's record) is refused, not cut.
  for (const char* bad : {"12", "zz00000000000000", "00ff10203040506a0102030405060708"}) {
    EXPECT_RAISES(k->SetAsString(bad), Exception, "Invalid text in HexTextToBinary");
  }
  ExpectSame(k, before);
  k->SetAsString("");
  EXPECT_TRUE(k->GetIsNull());
  EXPECT_EQ(Bytes(k), std::string(8, '\0'));
  EXPECT_EQ(k->GetDefaultWidth(), 128);
}

TEST_F(TextColumnTest, BooleanTextsComeFromTheAttributeElseTheKindsDefaults) {
  St.StatementAttributes.Add("F=BOOLEAN=Y,N");
  St.StatementAttributes.Add("G=BOOLEAN=,N");  // a parameter that begins with the comma sets neither text
  TIB_Column* f = Column(rtFields, MakeVar(SQL_TEXT | 1, 1, "F"));
  EXPECT_EQ(f->GetAlignment(), 2);
  f->SetAsString("y");
  EXPECT_TRUE(f->GetAsBoolean());
  f->SetAsBoolean(false);
  EXPECT_EQ(Bytes(f), "N");
  TIB_Column* g = Column(rtFields, MakeVar(SQL_TEXT | 1, 1, "G"));
  g->SetAsBoolean(true);
  EXPECT_EQ(g->GetAsString(), "T");
}

}  // namespace
