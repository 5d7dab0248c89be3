// Lengths, cuts and conversions of text in the server's character sets.
#include "dblib/IB_CharSets.h"

#include <gtest/gtest.h>

namespace {

const std::string kBorisUtf8 = "\xD0\x91\xD0\xBE\xD1\x80\xD0\xB8\xD1\x81", kBorisWin1251 = "\xC1\xEE\xF0\xE8\xF1";

// A cut keeps whole characters: UTF-8 counts the bytes that start one, the single-byte sets count bytes, and
// a malformed run of continuation bytes never makes a cut longer than the text.
TEST(CharSets, ACutKeepsWholeCharacters) {
  struct TCase {
    int32_t Id;
    std::string Text;
    size_t Max, Length, Bytes;
  };
  const TCase cases[] = {
      {4, "a\xD0\x96" "b\xD0\x96", 3, 4, 4},
      {4, kBorisUtf8, 5, 5, 10},
      {4, kBorisUtf8, 0, 5, 0},
      {3, "\xE2\x82\xAC\xE2\x82\xAC", 1, 2, 3},
      {4, std::string(6, '\x80'), 2, 0, 6},
      {52, kBorisWin1251, 3, 5, 3},
      {0, "abc", 5, 3, 3},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.Text);
    EXPECT_EQ(k.Length, CharSetTextLength(k.Id, k.Text));
    EXPECT_EQ(k.Bytes, CharSetPrefixBytes(k.Id, k.Text, k.Max));
  }
  EXPECT_EQ(5u, CharSetMaxLength(4, 20));
  EXPECT_EQ(20u, CharSetMaxLength(52, 20));
}

// Text converts between the single-byte sets and UTF-8 both ways; a character the target lacks, or a
// malformed text, fails the conversion instead of turning into another character.
TEST(CharSets, ConversionsKeepEveryCharacterOrFail) {
  if (!CharSetFoldingAvailable()) GTEST_SKIP() << "ICU (libicuuc) is not installed";
  std::string out;
  EXPECT_TRUE(CharSetConvert(52, 4, kBorisWin1251, out));
  EXPECT_EQ(kBorisUtf8, out);
  EXPECT_TRUE(CharSetConvert(4, 52, kBorisUtf8, out));
  EXPECT_EQ(kBorisWin1251, out);
  EXPECT_TRUE(CharSetConvert(53, 52, "\x80", out));  // the euro sign sits at 0x80 in WIN1252, 0x88 in WIN1251
  EXPECT_EQ("\x88", out);
  EXPECT_FALSE(CharSetConvert(4, 52, "\xE4\xB8\xAD", out));  // a CJK ideograph
  EXPECT_FALSE(CharSetConvert(4, 21, "\xC3", out));          // a cut sequence
  EXPECT_FALSE(CharSetConvert(4, 3, "\xF0\x9F\x98\x80", out));  // UNICODE_FSS holds the BMP only
  EXPECT_FALSE(CharSetConvert(0, 4, "a", out));
}

// Bytes that are no character stay as they are; OCTETS never changes.
TEST(CharSets, UpperCaseLeavesWhatIsNoLetter) {
  EXPECT_EQ("A\xFF" "B", CharSetUpperCase(4, "a\xFF" "b"));
  EXPECT_EQ("ab", CharSetUpperCase(1, "ab"));
  EXPECT_EQ("AB\xE9", CharSetUpperCase(0, "ab\xE9"));
}

// The character that sorts highest in another set's binary order, of those both sets hold.
TEST(CharSets, TheHighestCharacterIsTheOneTheOrderingSetSortsLast) {
  EXPECT_EQ("\xFF", CharSetHighestChar(52, 52));
  EXPECT_EQ("\xF4\x8F\xBF\xBF", CharSetHighestChar(4, 4));
  EXPECT_EQ("\xEF\xBF\xBF", CharSetHighestChar(4, 3));  // UNICODE_FSS holds the BMP only
  EXPECT_EQ("", CharSetHighestChar(5, 4));
  if (!CharSetFoldingAvailable()) GTEST_SKIP() << "ICU (libicuuc) is not installed";
  EXPECT_EQ("\xD1\x8F", CharSetHighestChar(4, 52));  // я, at 0xFF in WIN1251
  EXPECT_EQ("\x99", CharSetHighestChar(52, 4));      // ™ (U+2122), WIN1251's highest code point
  EXPECT_EQ("\xFF", CharSetHighestChar(53, 21));     // ÿ at 0xFF in both
  EXPECT_EQ("\xBB", CharSetHighestChar(52, 21));     // », ISO8859_1's highest byte whose character WIN1251 holds
}

TEST(CharSets, AUtf8TextIsWellFormedOnlyWithWholeCharacters) {
  for (const char* s : {"", "abc", "n\xC3\xA4he", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"})
    EXPECT_TRUE(CharSetTextWellFormed(4, s)) << s;
  for (const char* s : {"\xC3", "n\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\x80", "\xF4\x90\x80\x80"}) {
    EXPECT_FALSE(CharSetTextWellFormed(4, s)) << s;
    EXPECT_FALSE(CharSetTextWellFormed(3, s)) << s;  // UNICODE_FSS
    EXPECT_TRUE(CharSetTextWellFormed(21, s)) << s;  // ISO8859_1: every byte is a character
  }
}

}  // namespace
