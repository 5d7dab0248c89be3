#include "dblib/data/IB_ColumnText.h"

#include "TypedColumnTestSupport.h"

using namespace typedtest;

namespace {

class TextColumnTest : public TypedColumnTest {};

TEST_F(TextColumnTest, VarcharCutsToItsLength) {
  TIB_Column* v = Column(rtFields, MakeVar(SQL_VARYING | 1, 5, "V"));
  ASSERT_NE(dynamic_cast<TIB_ColumnVarText*>(v), nullptr);
  EXPECT_TRUE(v->GetIsTextKind());
  v->SetAsString("abcdefg");
  EXPECT_EQ(v->GetAsString(), "abcde");
  EXPECT_EQ(Stored<uint16_t>(v), 5);
  v->SetAsString("xy");
  EXPECT_EQ(Bytes(v), std::string("\x02\x00xy   ", 7));  // the rest padded with blanks
  EXPECT_EQ(VarType(v->GetAsVariant()), varString);
}

TEST_F(TextColumnTest, CharTrimsResultsButNotParameters) {
  TIB_Column* f = Column(rtFields, MakeVar(SQL_TEXT | 1, 10, "C"));
  ASSERT_NE(dynamic_cast<TIB_ColumnText*>(f), nullptr);
  f->SetAsString("abc");
  EXPECT_EQ(Bytes(f), "abc       ");
  EXPECT_EQ(f->GetAsString(), "abc");
  TIB_Column* p = Column(rtParams, MakeVar(SQL_TEXT | 1, 10, "P"));
  p->SetAsString("abc");
  EXPECT_EQ(p->GetAsString(), "abc       ");
  p->SetAsString(std::string("ab\0cd", 5));  // the text ends at a zero byte
  EXPECT_EQ(p->GetAsString(), "ab");
}

TEST_F(TextColumnTest, BinaryPadsWithZeros) {
  St.StatementAttributes.Add("B=BINARY");
  TIB_Column* b = Column(rtParams, MakeVar(SQL_TEXT | 1, 6, "B"));
  EXPECT_EQ(b->GetPadChar(), 0);
  b->SetAsString("ab");
  EXPECT_EQ(Bytes(b), std::string("ab\0\0\0\0", 6));
  EXPECT_EQ(b->GetAsString(), "ab");
  b->Clear();
  EXPECT_EQ(Bytes(b), std::string(6, '\0'));
}

TEST_F(TextColumnTest, BlankIsNullAndCharCase) {
  TIB_Column* plain = Column(rtFields, MakeVar(SQL_VARYING | 1, 8, "A"));
  plain->SetAsString("");
  EXPECT_FALSE(plain->GetIsNull());
  EXPECT_EQ(plain->GetAsString(), "");
  St.StatementAttributes.Add("B=BLANKISNULL");
  TIB_Column* b = Column(rtFields, MakeVar(SQL_VARYING | 1, 8, "B"));
  b->SetAsString("x");
  b->SetAsString("   ");  // trimmed to nothing first
  EXPECT_TRUE(b->GetIsNull());
  b->SetCharCase(1);
  b->SetAsString("MiXed");
  EXPECT_EQ(b->GetAsString(), "MIXED");
  b->SetCharCase(2);
  EXPECT_EQ(b->GetAsString(), "mixed");
}

TEST_F(TextColumnTest, NoCaseGivesTheSearchExpression) {
  St.StatementAttributes.Add("NAME=NOCASE");
  TIB_Column* n = Column(rtFields, MakeVar(SQL_VARYING | 1, 8, "NAME", "T"));
  EXPECT_EQ(n->GetUpperExpression(), "UPPER( T.NAME )");
  St.StatementAttributes.Clear();
  St.StatementAttributes.Add("NAME=NOCASE=NAME_UP");
  TIB_Column* m = Column(rtFields, MakeVar(SQL_VARYING | 1, 8, "NAME", "T"));
  EXPECT_EQ(m->GetUpperExpression(), "NAME_UP");
}

TEST_F(TextColumnTest, Utf8TextIsCutAtACharacterBoundary) {
  TIB_Column* u = Column(rtFields, MakeVar(SQL_VARYING | 1, 5, "U", "", "", 0, 4));
  u->SetAsString("abcd\xC3\xA9");  // "abcde" with an accent: six bytes
  EXPECT_EQ(u->GetAsString(), "abcd");
  EXPECT_EQ(Stored<uint16_t>(u), 4);
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
  TIB_Row* row = MakeRow(rtFields, {MakeVar(SQL_TEXT | 1, 8, "DB_KEY", "", "DB_KEY")});
  TIB_Column* k = row->GetColumns(0);
  ASSERT_NE(dynamic_cast<TIB_ColumnDB_KEY*>(k), nullptr);
  EXPECT_EQ(k->GetPadChar(), 0);
  k->SetAsString("00ff10203040506a");
  EXPECT_EQ(k->GetAsString(), "00FF10203040506A");
  const Snapshot before = Take(k);
  EXPECT_RAISES(k->SetAsString("12"), Exception, "Invalid text in HexTextToBinary");
  EXPECT_RAISES(k->SetAsString("zz00000000000000"), Exception, "Invalid text in HexTextToBinary");
  // A longer key (of another relation, or of a view's record) is not cut to a key of some other row.
  EXPECT_RAISES(k->SetAsString("00ff10203040506a0102030405060708"), Exception, "Invalid text in HexTextToBinary");
  ExpectSame(k, before);
  k->SetAsString("");
  EXPECT_TRUE(k->GetIsNull());
  EXPECT_EQ(Bytes(k), std::string(8, '\0'));
  EXPECT_EQ(k->GetDefaultWidth(), 128);
  TIB_Column* lower = Column(rtFields, MakeVar(SQL_TEXT | 1, 8, "db_key", "", "db_key"));
  EXPECT_EQ(dynamic_cast<TIB_ColumnDB_KEY*>(lower), nullptr);  // the name test is exact
}

TEST_F(TextColumnTest, BooleanTextsOnAText) {
  St.StatementAttributes.Add("F=BOOLEAN=Y,N");
  TIB_Column* f = Column(rtFields, MakeVar(SQL_TEXT | 1, 1, "F"));
  f->SetAsBoolean(true);
  EXPECT_EQ(f->GetAsString(), "Y");
  f->SetAsString("y");
  EXPECT_TRUE(f->GetAsBoolean());
  f->SetAsBoolean(false);
  EXPECT_EQ(Bytes(f), "N");
}

}  // namespace
