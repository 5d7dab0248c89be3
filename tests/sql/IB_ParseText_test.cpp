// Identifiers, quotes, list items, escaped list text and attribute text.
#include <gtest/gtest.h>

#include "dblib/sql/IB_Parse.h"

namespace {

std::string Esc(std::string_view S) {
  std::string r;
  EscapeListText(S, r);
  return r;
}
std::string Unesc(std::string_view S) {
  std::string r;
  UnescapeListText(S, r);
  return r;
}

TEST(IB_ParseIdent, ReservedWordsAndCase) {
  const struct {
    bool Exact;
    int Dialect;
    const char *Name, *Expected;
  } cases[] = {
      {false, 3, "Order", "\"Order\""},
      {false, 3, "MyCol", "MYCOL"},
      {true, 3, "MyCol", "\"MyCol\""},
      {true, 3, "MYCOL", "MYCOL"},
      {false, 1, "MyCol", "MYCOL"},
      {true, 1, "MyCol", "MYCOL"},
      {false, 3, "  ", "\"\""},
      {false, 1, "", ""},
      {false, 3, "\"Already\"", "\"Already\""},
      {false, 3, "A$B_1", "A$B_1"},
      {false, 3, "1ABC", "\"1ABC\""},
      {false, 3, "my \"x\" col", "\"my \"\"x\"\" col\""},
      // Only one whole quoted name passes as it is; any other text with quotes is quoted whole.
      {false, 3, "\"My \"\"x\"\" col\"", "\"My \"\"x\"\" col\""},
      {true, 3, "\"Already\"", "\"Already\""},
      {false, 3, "\"K\" IS NOT NULL OR \"K\"", "\"\"\"K\"\" IS NOT NULL OR \"\"K\"\"\""},
      {true, 3, "\"K\" IS NOT NULL OR \"K\"", "\"\"\"K\"\" IS NOT NULL OR \"\"K\"\"\""},
      {false, 3, "\"G\", 0) + EVIL() + GEN_ID(\"G\"", "\"\"\"G\"\", 0) + EVIL() + GEN_ID(\"\"G\"\"\""},
      {false, 3, "\"a\"\"", "\"\"\"a\"\"\"\"\""},
      {false, 3, "\"", "\"\"\"\""},
      // Dialect 1 has no quoted names: a name that would end its word is quoted whole all the same.
      {false, 1, "G, 0) + EVIL() + GEN_ID(G", "\"G, 0) + EVIL() + GEN_ID(G\""},
      {false, 1, "my_col$1", "MY_COL$1"},
      {false, 1, "\"Quoted\"", "\"QUOTED\""},
  };
  for (const auto& c : cases) {
    std::string r;
    (c.Exact ? MakeSQLIdentExact : MakeSQLIdent)(c.Dialect, c.Name, r);
    EXPECT_EQ(c.Expected, r) << c.Name << " " << c.Dialect;
  }
}

TEST(IB_ParseIdent, AQuotedNameIsOneQuotedWordWithItsInnerQuotesDoubled) {
  for (const char* s : {"\"A\"", "\"a b\"", "\"a\"\"b\"", "\"\"", "\"\"\"\""}) EXPECT_TRUE(IsQuotedIdent(s)) << s;
  for (const char* s : {"A", "\"", "\"a\"b\"", "\"a\" OR \"b\"", "\"a\"\"", " \"a\"", "'a'"})
    EXPECT_FALSE(IsQuotedIdent(s)) << s;
}

TEST(IB_ParseIdent, EveryTableWordIsReserved) {
  for (const char* w : {"ACTION", "CHARACTER", "GENERATOR", "LENGTH", "GROUP_COMMIT_", "MENT", "WRITE", "ORDER",
                        "select", "Wait_Time"}) {
    EXPECT_TRUE(IsReservedWord(w)) << w;
  }
  for (const char* w : {"", "MYCOL", "ORDERS", "ROWS", "CHARACTERS"}) EXPECT_FALSE(IsReservedWord(w)) << w;
}

TEST(IB_ParseQuotes, QuoteStripDouble) {
  std::string r;
  EXPECT_TRUE(IsQuoted(" 'abc' ", '\''));
  EXPECT_FALSE(IsQuoted("'", '\''));
  EXPECT_FALSE(IsQuoted("\"abc\"", '\''));
  EXPECT_TRUE(IsQuoted("\"abc\"", ' '));
  EXPECT_TRUE(IsQuoted("'abc'", ' '));
  QuoteText("it's", '\'', r);
  EXPECT_EQ(r, "'it''s'");
  QuoteText("'done'", '\'', r);
  EXPECT_EQ(r, "'done'");
  StripQuotes("'it''s'", r);
  EXPECT_EQ(r, "it's");
  StripQuotes("\"a\"\"b\"", r);
  EXPECT_EQ(r, "a\"b");
  StripQuotes(" plain ", r);
  EXPECT_EQ(r, " plain ");
  DoubleChar("a'b'", '\'', r);
  EXPECT_EQ(r, "a''b''");
  UndoubleChar("a''b''''", '\'', r);
  EXPECT_EQ(r, "a'b''");
  RemoveParenthesesAndLiterals("A(B(')')C)D 'x' E \"q\"", 1, r);
  EXPECT_EQ(r, "A()D  E ");
  RemoveParenthesesAndLiterals("A 'x' \"q\"", 3, r);
  EXPECT_EQ(r, "A  \"q\"");
}

TEST(IB_ParseQuotes, SearchesOutsideDoubleQuotes) {
  EXPECT_EQ(CharPosOutsideQuotes('.', "\"a.b\".c", 1), 6);
  EXPECT_EQ(CharPosOutsideQuotes('.', "\"a.b\"", 0), 0);
  EXPECT_EQ(StrPosOutsideQuotes("AND", "\"X AND\" AND Y", 1), 9);
  EXPECT_EQ(StrPosOutsideQuotes(".", "\"a.b\".c", 1), 6);
  EXPECT_EQ(CharPosBackOutsideQuotes('.', "T.\"a.b\"", 0, true), 2);
  EXPECT_EQ(CharPosBackOutsideQuotes('.', "T.A = B", 0, true), 0);
  EXPECT_EQ(CharPosBackOutsideQuotes('.', "T.A = B", 3, true), 2);
  std::string v;
  EXPECT_TRUE(ExtractQuotedText("X USER 'sys''dba' Y", 1, 0, v));
  EXPECT_EQ(v, "sys'dba");
  EXPECT_FALSE(ExtractQuotedText("X 'open", 1, 0, v));
  EXPECT_EQ(v, "open");
  EXPECT_TRUE(ExtractQuotedText("'a' \"b\"", 4, 0, v));
  EXPECT_EQ(v, "b");
}

TEST(IB_ParseLists, NextListItemAndSplit) {
  int32_t pos = 0;
  std::string s = "A,B;C\r\nD";
  EXPECT_EQ(NextListItem(s, pos), "A");
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(NextListItem(s, pos), "B");
  EXPECT_EQ(NextListItem(s, pos), "C");
  EXPECT_EQ(pos, 8);
  EXPECT_EQ(NextListItem(s, pos), "D");
  TStringList items;
  items.Add("old");
  SplitListText(" A , B,,C", items);
  ASSERT_EQ(items.Count(), 2);
  EXPECT_EQ(items[0], "A");
  EXPECT_EQ(items[1], "B");
}

TEST(IB_ParseLists, SmallTextRoutines) {
  std::string s = "a-b_c";
  ReplaceChars(s, "-_", '.');
  EXPECT_EQ(s, "a.b.c");
  s = "x.y.z";
  ReplaceText(s, ".", "::");
  EXPECT_EQ(s, "x::y::z");
  ReplaceText(s, ":", "::");  // New contains Old: left alone
  EXPECT_EQ(s, "x::y::z");
  std::string r;
  RepeatChar('*', 3, r);
  EXPECT_EQ(r, "***");
  RepeatChar('*', -1, r);
  EXPECT_EQ(r, "");
  PadString("abc", ' ', 5, r, false);
  EXPECT_EQ(r, "abc  ");
  PadString("abcdef", ' ', 4, r, true);
  EXPECT_EQ(r, "abcd");
  PadString("abcdef", ' ', 4, r, false);
  EXPECT_EQ(r, "abcdef");
}

TEST(IB_ParseEscapes, EscapeRules) {
  EXPECT_EQ(Esc("a\r\nb"), "a\\N\\Kb");
  EXPECT_EQ(Esc("#;=\\"), "\\#\\;\\=\\\\");
  EXPECT_EQ(Esc(std::string("\0\x1a\x1b\x1f", 4)), "\\A\\[#027#031");
  EXPECT_EQ(Esc("\xe9"), "#233");
  EXPECT_EQ(Esc("plain text"), "plain text");
  EXPECT_EQ(Unesc("\\N\\K\\#x#65#"), "\r\n#xA");
  EXPECT_EQ(Unesc("#0651"), "A1");   // at most three digits
  EXPECT_EQ(Unesc("#999"), "#999");  // no such byte: kept as written
}

TEST(IB_ParseEscapes, EveryByteRoundTrips) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  all += "123#1\\";
  EXPECT_EQ(Unesc(Esc(all)), all);
  for (int i = 0; i < 256; ++i) {
    std::string one(1, static_cast<char>(i));
    EXPECT_EQ(Unesc(Esc(one + "7")), one + "7") << i;
  }
  // Escaped, every byte reads back whole as an attribute value.
  int32_t np, ep;
  std::string v;
  ParseAttributeText("A;V=" + Esc(all) + ";B", "V", np, v, ep);
  EXPECT_EQ(np, 3);
  EXPECT_EQ(v, all);
}

TEST(IB_ParseAttributes, FindsNamesAndValues) {
  int32_t np = -1, ep = -1;
  std::string v;
  const std::string t = "BOOLEAN=T,F;NOCASE;X=a\\;b#0659;Y";
  ParseAttributeText(t, "x", np, v, ep);
  EXPECT_EQ(np, 20);
  EXPECT_EQ(v, "a;bA9");
  EXPECT_EQ(ep, 31);
  ParseAttributeText(t, "NOCASE", np, v, ep);
  EXPECT_EQ(np, 13);
  EXPECT_EQ(v, "");
  EXPECT_EQ(ep, 19);
  ParseAttributeText(t, "Y", np, v, ep);
  EXPECT_EQ(np, 32);
  EXPECT_EQ(ep, 33);
  ParseAttributeText(t, "BOOL", np, v, ep);
  EXPECT_EQ(np, 0);
  ParseAttributeText("REQUIRED NOCASE = up", "nocase", np, v, ep);
  EXPECT_EQ(np, 10);
  EXPECT_EQ(v, " up");
  EXPECT_EQ(ep, 21);
}

TEST(IB_ParseAttributes, NameInsideAnotherValueIsNotAnAttribute) {
  int32_t np, ep;
  std::string v;
  ParseAttributeText("A=X Y;Y=2", "Y", np, v, ep);
  EXPECT_EQ(np, 7);
  EXPECT_EQ(v, "2");
  ParseAttributeText("A=x\\;Y", "Y", np, v, ep);
  EXPECT_EQ(np, 0);
}

}  // namespace
