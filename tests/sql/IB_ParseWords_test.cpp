#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dblib/sql/IB_Parse.h"

namespace {

std::string Joined(const std::vector<std::string>& W) {
  std::string r;
  for (const std::string& w : W) r += w + "|";
  return r;
}

TEST(StatementWords, ControlCharactersBecomeBlanksAndNothingElseChanges) {
  EXPECT_EQ(BlankControlChars("a\r\nb\tc\x01" "d \x7f\xe9"), "a  b c d \x7f\xe9");
  EXPECT_EQ(BlankControlChars(std::string("x\0y", 3)), "x y");
  EXPECT_EQ(BlankControlChars(""), "");
}

// The command words: upper case, comments skipped, a quoted text one "?" word, at most Max of them.
TEST(StatementWords, CommandWordsSkipCommentsAndCountQuotedTextsAsOneWord) {
  struct {
    const char* Text;
    size_t Max;
    const char* Words;
  } cases[] = {
      {"commit /* work */ retain", 8, "COMMIT|RETAIN|"},
      {"-- note\nrollback\r\n  retaining", 8, "ROLLBACK|RETAINING|"},
      {"set transaction name 'a b' wait", 8, "SET|TRANSACTION|NAME|?|WAIT|"},
      {"update \"My T\" set x$1 = 2", 2, "UPDATE|?|"},
      {"insert into t", 1, "INSERT|"},
      {"/* never closed", 8, ""},
      {"'open quote", 8, "?|"},
      {"a b", 0, ""},
  };
  for (const auto& k : cases) EXPECT_EQ(Joined(SQLWords(k.Text, k.Max)), k.Words) << k.Text;
}

// The FROM clause's words and the relation a name or an alias stands for there.
TEST(StatementWords, AQualifierNamesItsRelationInTheFromClause) {
  EXPECT_EQ(Joined(FromClauseWords("\"Orders\" o join LINES as \"l\" on (o.ID=\"l\".ID), X")),
            "\"Orders\"|o|join|LINES|as|\"l\"|on|(|o.ID=|\"l\"|.ID|)|,|X|");
  const char* sql = "SELECT * FROM \"Orders\" o JOIN LINES AS \"l\" ON o.ID = \"l\".ID, PARTS WHERE 1 = 1";
  struct {
    const char* Qualifier;
    const char* Relation;
  } cases[] = {
      {"o", "\"Orders\""}, {"O", "\"Orders\""},  {"\"Orders\"", "\"Orders\""}, {"\"orders\"", ""},
      {"lines", "LINES"},  {"\"l\"", "LINES"}, {"L", ""},  {"parts", "PARTS"}, {"WHERE", ""},
  };
  for (const auto& k : cases) EXPECT_EQ(QualifiedRelation(sql, k.Qualifier), k.Relation) << k.Qualifier;
}

}  // namespace
