#include "dblib/IB_Utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

// Points the settings store at a private folder for the life of the object.
class SettingsRootGuard {
public:
  SettingsRootGuard() {
    const char* old = std::getenv("DBLIB_SETTINGS_ROOT");
    if (old) FSaved = old, FHad = true;
    setenv("DBLIB_SETTINGS_ROOT", FDir.Path().c_str(), 1);
  }
  ~SettingsRootGuard() {
    if (FHad)
      setenv("DBLIB_SETTINGS_ROOT", FSaved.c_str(), 1);
    else
      unsetenv("DBLIB_SETTINGS_ROOT");
  }
  const std::string& Path() const { return FDir.Path(); }

private:
  testsupport::TempDir FDir;
  std::string FSaved;
  bool FHad = false;
};

TEST(BuffersEqualTest, ComparesBytesAndTreatsZeroCountAsUnequal) {
  const char a[] = "abcd", b[] = "abce";
  EXPECT_TRUE(BuffersEqual(a, b, 3));
  EXPECT_FALSE(BuffersEqual(a, b, 4));
  EXPECT_FALSE(BuffersEqual(a, a, 0));
}

TEST(TimestampTextTest, WritesTheFixedLayout) {
  TDateTime v = EncodeDate(2021, 3, 4) + EncodeTime(5, 6, 7, 89);
  EXPECT_EQ("2021/03/04 05:06:07.0890", DateTimeToTimestampText(v));
}

TEST(TimestampTextTest, ZeroAndNegativeValuesIgnoreTheLocaleSeparators) {
  TFormatSettings saved = FormatSettings;
  FormatSettings.DateSeparator = '-';
  FormatSettings.TimeSeparator = '.';
  EXPECT_EQ("1899/12/30 00:00:00.0000", DateTimeToTimestampText(0));
  EXPECT_EQ("1899/12/29 06:00:00.0000", DateTimeToTimestampText(-1.25));
  FormatSettings = saved;
}

TEST(TimestampTextTest, ReadsBackWhatItWrites) {
  TDateTime v = EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 58, 123);
  EXPECT_NEAR(v, TimestampTextToDateTime(DateTimeToTimestampText(v)), 1e-9);
  EXPECT_EQ(0, TimestampTextToDateTime("12/30/1899 00:00"));
}

TEST(TimestampTextTest, DateBeforeDayZeroKeepsItsTimeOfDay) {
  TDateTime v = TimestampTextToDateTime("1899/12/29 06:00:00.0000");
  EXPECT_DOUBLE_EQ(-1.25, v);
  uint16_t h, n, s, z;
  DecodeTime(v, h, n, s, z);
  EXPECT_EQ(6, h);
}

TEST(TimestampTextTest, ShortFractionIsPaddedAndOtherTextFallsBackToTheLocale) {
  TDateTime v = TimestampTextToDateTime("2020/01/02 03:04:05.5");
  uint16_t h, n, s, z;
  DecodeTime(v, h, n, s, z);
  EXPECT_EQ(500, z);
  TFormatSettings saved = FormatSettings;
  FormatSettings.ShortDateFormat = "m/d/yyyy";
  FormatSettings.DateSeparator = '/';
  EXPECT_DOUBLE_EQ(EncodeDate(2020, 1, 2), TimestampTextToDateTime("1/2/2020"));
  EXPECT_THROW(TimestampTextToDateTime("not a date"), EConvertError);
  FormatSettings = saved;
}

TEST(WildcardTest, BasicPatternsIgnoreCase) {
  EXPECT_TRUE(WildcardMatch("A*", "ABC"));
  EXPECT_TRUE(WildcardMatch("A?C", "abc"));
  EXPECT_TRUE(WildcardMatch("[a-c]x", "BX"));
  EXPECT_TRUE(WildcardMatch("[c-a]x", "BX"));  // bounds in either order
  EXPECT_TRUE(WildcardMatch("[^a-c]x", "DX"));
  EXPECT_EQ(wcSetMismatch, WildcardCompare("[!A-C]X", "BX"));
  EXPECT_EQ(wcCharMismatch, WildcardCompare("ABD", "ABC"));
}

TEST(WildcardTest, EndsOfPatternAndText) {
  EXPECT_EQ(wcPatternEnded, WildcardCompare("AB", "ABC"));
  EXPECT_EQ(wcPatternEnded, WildcardCompare("", "A"));
  EXPECT_EQ(wcMatch, WildcardCompare("", ""));
  EXPECT_EQ(wcTextEnded, WildcardCompare("ABC", "AB"));
  EXPECT_EQ(wcMatch, WildcardCompare("AB*", "AB"));
  EXPECT_EQ(wcMatch, WildcardCompare("*", ""));
  EXPECT_EQ(wcMatch, WildcardCompare("**", "xyz"));
  EXPECT_EQ(wcTextEnded, WildcardCompare("*?", ""));
  EXPECT_EQ(wcTextEnded, WildcardCompare("*B", "AAA"));
}

TEST(WildcardTest, StarTriesOnlyTheFirstPlaceOfTheNextLiteral) {
  EXPECT_EQ(wcCharMismatch, WildcardCompare("*AB", "AAB"));
  EXPECT_EQ(wcMatch, WildcardCompare("*B", "AAB"));
  // A set after '*' is tried at the first remaining character only.
  EXPECT_EQ(wcSetMismatch, WildcardCompare("*[B]C", "ABC"));
  EXPECT_EQ(wcMatch, WildcardCompare("*[A]BC", "ABC"));
}

TEST(WildcardTest, MalformedSets) {
  EXPECT_EQ(wcMalformedPattern, WildcardCompare("[A-", "A"));
  EXPECT_EQ(wcMalformedPattern, WildcardCompare("[A-]", "A"));
  EXPECT_EQ(wcMalformedPattern, WildcardCompare("[]", "A"));
  EXPECT_EQ(wcMalformedPattern, WildcardCompare("[!]", "A"));
  EXPECT_EQ(wcMalformedPattern, WildcardCompare("[AB", "A"));
}

TEST(SoundexTest, SimilarNamesShareTheirCode) {
  EXPECT_EQ(SoundexCode("Robert"), SoundexCode("Rupert"));
  EXPECT_EQ(SoundexCode("robert"), SoundexCode("ROBERT"));
  EXPECT_EQ(0u, SoundexCode(""));
  EXPECT_EQ(0u, SoundexMaxCode(""));
}

TEST(SoundexTest, VowelTakesAPositionAndRepeatsDoNot) {
  uint32_t c = SoundexCode("Tymczak");
  EXPECT_EQ(uint32_t{'T'} << 24, c & 0xFF000000u);
  EXPECT_EQ(5u, (c >> 21) & 7);
  EXPECT_EQ(2u, (c >> 18) & 7);
  EXPECT_EQ(0u, (c >> 15) & 7);
  EXPECT_EQ(2u, (c >> 12) & 7);
  EXPECT_EQ(0u, c & 0xFFF);
}

TEST(SoundexTest, MaxCodeBoundsEveryLongerText) {
  uint32_t lo = SoundexCode("Rob"), hi = SoundexMaxCode("Rob");
  for (const char* s : {"Robert", "Rob", "Robinson", "Rupp"}) {
    EXPECT_LE(lo, SoundexCode(s)) << s;
    EXPECT_GE(hi, SoundexCode(s)) << s;
  }
  EXPECT_GT(SoundexCode("Rz"), hi);
  EXPECT_EQ(0x00FFFFFFu, SoundexMaxCode("A") & 0x00FFFFFFu);
}

TEST(HexTextTest, RoundTripAndErrors) {
  const unsigned char data[] = {0x00, 0x7F, 0xA5, 0xFF};
  EXPECT_EQ("007FA5FF", BinaryToHexText(data, 4));
  unsigned char back[4] = {};
  HexTextToBinary("007fa5FF", back, 4);
  EXPECT_TRUE(BuffersEqual(data, back, 4));
  unsigned char keep[2] = {1, 2};
  EXPECT_EQ("Invalid text in HexTextToBinary", MessageOf<Exception>([&] { HexTextToBinary("0", keep, 1); }));
  EXPECT_THROW(HexTextToBinary("0G12", keep, 2), Exception);
  EXPECT_EQ(1, keep[0]);  // nothing written on failure
}

TEST(GetEnvVarTest, ReadsLongValuesAndEmptyWhenAbsent) {
  std::string longValue(1000, 'x');
  setenv("DBLIB_UTILS_TEST_VAR", longValue.c_str(), 1);
  EXPECT_EQ(longValue, GetEnvVar("DBLIB_UTILS_TEST_VAR"));
  unsetenv("DBLIB_UTILS_TEST_VAR");
  EXPECT_EQ("", GetEnvVar("DBLIB_UTILS_TEST_VAR"));
}

// Records what is drawn, as text.
class RecordingCanvas : public TCanvas {
public:
  std::vector<std::string> Log;
  void SetPenColor(TColor V) override {
    Log.push_back(V == clBtnShadow ? "shadow" : V == clBtnHighlight ? "light" : "?");
  }
  void SetPenStyle(TPenStyle V) override { Log.push_back(V == psSolid ? "solid" : "style"); }
  void SetPenWidth(int32_t V) override { Log.push_back("width " + IntToStr(V)); }
  void MoveTo(int32_t X, int32_t Y) override { Log.push_back("move " + IntToStr(X) + "," + IntToStr(Y)); }
  void LineTo(int32_t X, int32_t Y) override { Log.push_back("line " + IntToStr(X) + "," + IntToStr(Y)); }
};

TEST(Draw3DCellLinesTest, DrawsShadowThenHighlightForTheChosenSides) {
  RecordingCanvas c;
  Draw3DCellLines(c, TRect{10, 20, 50, 40}, dclVertical | dclHorizontal);
  std::vector<std::string> expected = {"solid",      "width 1", "shadow",     "move 50,40", "line 50,20", "move 10,40",
                                       "line 51,40", "light",   "move 10,20", "line 10,40", "move 10,20", "line 51,20"};
  EXPECT_EQ(expected, c.Log);
  RecordingCanvas h;
  Draw3DCellLines(h, TRect{0, 0, 5, 5}, dclHorizontal);
  expected = {"solid", "width 1", "shadow", "move 0,5", "line 6,5", "light", "move 0,0", "line 6,0"};
  EXPECT_EQ(expected, h.Log);
}

TEST(ScrambleTest, RoundTripWithEveryByteOfTheKey) {
  std::string key;
  for (int i = 1; i <= 254; ++i) key += static_cast<char>(i);
  std::string plain = "masterkey";
  std::string s = ScramblePassword(plain, key);
  EXPECT_TRUE(s.starts_with(".QiVrOx.07."));
  EXPECT_EQ(11u + 2 * plain.size(), s.size());
  EXPECT_EQ(plain, UnscramblePassword(s, key));
  EXPECT_EQ(s, ScramblePassword(s, key));  // already scrambled
  EXPECT_EQ("plain", UnscramblePassword("plain", key));
  EXPECT_EQ("plain", ScramblePassword("plain", ""));
  EXPECT_EQ("", UnscramblePassword(".QiVrOx.07.", key));
  EXPECT_EQ("abc", UnscramblePassword(ScramblePassword("abc", "k"), "k"));  // the key repeats
}

TEST(ScrambleTest, MalformedScrambledTextRaises) {
  EXPECT_THROW(UnscramblePassword(".QiVrOx.07.ZZ", "key"), Exception);
  EXPECT_THROW(UnscramblePassword(".QiVrOx.07.ABC", "key"), Exception);
}

TEST(ScrambleTest, RandomKeysAreSixteenBytesOneTo254AndDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    std::string k = MakeRandomKey();
    ASSERT_EQ(16u, k.size());
    for (char c : k) {
      unsigned char u = static_cast<unsigned char>(c);
      EXPECT_GE(u, 1);
      EXPECT_LE(u, 254);
    }
    seen.insert(k);
  }
  EXPECT_EQ(20u, seen.size());
}

TEST(ScrambleKeyTest, FirstUseMakesLevelTwoWithAStoredKeyThatSurvivesTheFile) {
  SettingsRootGuard root;
  std::string key = GetScrambleKey("Software\\Zindor\\ZDB");
  EXPECT_EQ(16u, key.size());
  TRegIniFile reg("Software\\Zindor\\ZDB");
  EXPECT_EQ(2, reg.ReadInteger("Security", "Level", -1));
  std::string stored = reg.ReadString("Security", "JumbleKey", "");
  EXPECT_EQ(BinaryToHexText(key.data(), key.size()), stored);
  EXPECT_EQ(key, GetScrambleKey("Software\\Zindor\\ZDB"));
}

TEST(ScrambleKeyTest, LevelsZeroAndOneAndAnEmptyStoredKey) {
  SettingsRootGuard root;
  TRegIniFile reg("Software\\Test\\Keys");
  reg.WriteInteger("Security", "Level", 0);
  EXPECT_EQ("", GetScrambleKey("Software\\Test\\Keys"));
  reg.WriteInteger("Security", "Level", 1);
  EXPECT_EQ(".QiVrOx.07.", GetScrambleKey("Software\\Test\\Keys"));
  reg.WriteInteger("Security", "Level", 3);
  std::string key = GetScrambleKey("Software\\Test\\Keys");
  EXPECT_EQ(16u, key.size());
  EXPECT_EQ(BinaryToHexText(key.data(), key.size()), reg.ReadString("Security", "JumbleKey", ""));
}

}  // namespace
