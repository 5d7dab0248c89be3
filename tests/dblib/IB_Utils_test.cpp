#include "dblib/IB_Utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;
using testsupport::SettingsRoot;

// Sets the locale's separators for the life of the object.
struct LocaleGuard {
  TFormatSettings Saved = FormatSettings;
  LocaleGuard(char Date, char Time) {
    FormatSettings.DateSeparator = Date;
    FormatSettings.TimeSeparator = Time;
    FormatSettings.ShortDateFormat = "m/d/yyyy";
  }
  ~LocaleGuard() { FormatSettings = Saved; }
};

TEST(BuffersEqualTest, ComparesBytesAndTreatsZeroCountAsUnequal) {
  const char a[] = "abcd", b[] = "abce";
  EXPECT_TRUE(BuffersEqual(a, b, 3));
  EXPECT_FALSE(BuffersEqual(a, b, 4));
  EXPECT_FALSE(BuffersEqual(a, a, 0));
}

TEST(TimestampTextTest, TheFixedLayoutIgnoresTheLocaleAndCountsTimeBackwardsBeforeDayZero) {
  LocaleGuard locale('-', '.');
  const struct {
    TDateTime Value;
    const char* Text;
  } cases[] = {
      {EncodeDate(2021, 3, 4) + EncodeTime(5, 6, 7, 89), "2021/03/04 05:06:07.0890"},
      {EncodeDate(1999, 12, 31) + EncodeTime(23, 59, 58, 123), "1999/12/31 23:59:58.1230"},
      {0, "1899/12/30 00:00:00.0000"},
      {-1.25, "1899/12/29 06:00:00.0000"},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(k.Text, DateTimeToTimestampText(k.Value));
    EXPECT_NEAR(k.Value, TimestampTextToDateTime(k.Text), 1e-9) << k.Text;
  }
}

TEST(TimestampTextTest, ShortFractionsArePaddedAndOtherTextsGoThroughTheLocale) {
  LocaleGuard locale('/', ':');
  uint16_t h, n, s, z;
  DecodeTime(TimestampTextToDateTime("2020/01/02 03:04:05.5"), h, n, s, z);
  EXPECT_EQ(500, z);
  EXPECT_EQ(0, TimestampTextToDateTime("12/30/1899 00:00"));
  EXPECT_DOUBLE_EQ(EncodeDate(2020, 1, 2), TimestampTextToDateTime("1/2/2020"));
  EXPECT_THROW(TimestampTextToDateTime("not a date"), EConvertError);
}

TEST(WildcardTest, EveryResultCode) {
  const struct {
    const char *Pattern, *Text;
    int Result;
  } cases[] = {
      {"A*", "ABC", wcMatch},
      {"A?C", "abc", wcMatch},
      {"[a-c]x", "BX", wcMatch},
      {"[c-a]x", "BX", wcMatch},  // bounds in either order
      {"[^a-c]x", "DX", wcMatch},
      {"[!A-C]X", "BX", wcSetMismatch},
      {"ABD", "ABC", wcCharMismatch},
      {"AB", "ABC", wcPatternEnded},
      {"", "A", wcPatternEnded},
      {"", "", wcMatch},
      {"ABC", "AB", wcTextEnded},
      {"AB*", "AB", wcMatch},
      {"*", "", wcMatch},
      {"**", "xyz", wcMatch},
      {"*?", "", wcTextEnded},
      {"*B", "AAA", wcTextEnded},
      // A literal or a set after '*' is tried at its first place only.
      {"*AB", "AAB", wcCharMismatch},
      {"*B", "AAB", wcMatch},
      {"*[B]C", "ABC", wcSetMismatch},
      {"*[A]BC", "ABC", wcMatch},
      {"[A-", "A", wcMalformedPattern},
      {"[A-]", "A", wcMalformedPattern},
      {"[]", "A", wcMalformedPattern},
      {"[!]", "A", wcMalformedPattern},
      {"[AB", "A", wcMalformedPattern},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(k.Result, WildcardCompare(k.Pattern, k.Text)) << k.Pattern << " / " << k.Text;
    EXPECT_EQ(k.Result == wcMatch, WildcardMatch(k.Pattern, k.Text)) << k.Pattern << " / " << k.Text;
  }
}

TEST(SoundexTest, SimilarNamesShareTheirCodeInTheirPackedForm) {
  EXPECT_EQ(SoundexCode("Robert"), SoundexCode("Rupert"));
  EXPECT_EQ(SoundexCode("robert"), SoundexCode("ROBERT"));
  EXPECT_EQ(0u, SoundexCode(""));
  EXPECT_EQ(0u, SoundexMaxCode(""));
  // A vowel takes a position, a repeated code does not.
  const uint32_t c = SoundexCode("Tymczak");
  EXPECT_EQ((uint32_t{'T'} << 24) | (5u << 21) | (2u << 18) | (0u << 15) | (2u << 12), c);
}

TEST(SoundexTest, MaxCodeBoundsEveryLongerText) {
  const uint32_t lo = SoundexCode("Rob"), hi = SoundexMaxCode("Rob");
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
  const std::string longValue(1000, 'x');
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
  EXPECT_EQ((std::vector<std::string>{"solid", "width 1", "shadow", "move 50,40", "line 50,20", "move 10,40",
                                      "line 51,40", "light", "move 10,20", "line 10,40", "move 10,20", "line 51,20"}),
            c.Log);
  RecordingCanvas h;
  Draw3DCellLines(h, TRect{0, 0, 5, 5}, dclHorizontal);
  EXPECT_EQ(
      (std::vector<std::string>{"solid", "width 1", "shadow", "move 0,5", "line 6,5", "light", "move 0,0", "line 6,0"}),
      h.Log);
}

TEST(ScrambleTest, RoundTripWithEveryByteOfTheKey) {
  std::string key;
  for (int i = 1; i <= 254; ++i) key += static_cast<char>(i);
  const std::string s = ScramblePassword("masterkey", key);
  EXPECT_TRUE(s.starts_with(".QiVrOx.07."));
  EXPECT_EQ(11u + 2 * 9, s.size());
  EXPECT_EQ("masterkey", UnscramblePassword(s, key));
  EXPECT_EQ(s, ScramblePassword(s, key));  // already scrambled
  EXPECT_EQ("plain", UnscramblePassword("plain", key));
  EXPECT_EQ("plain", ScramblePassword("plain", ""));
  EXPECT_EQ("", UnscramblePassword(".QiVrOx.07.", key));
  EXPECT_EQ("abc", UnscramblePassword(ScramblePassword("abc", "k"), "k"));  // the key repeats
  EXPECT_THROW(UnscramblePassword(".QiVrOx.07.ZZ", "key"), Exception);
  EXPECT_THROW(UnscramblePassword(".QiVrOx.07.ABC", "key"), Exception);
}

TEST(ScrambleTest, RandomKeysAreSixteenBytesOneTo254AndDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 20; ++i) {
    const std::string k = MakeRandomKey();
    ASSERT_EQ(16u, k.size());
    for (unsigned char u : k) EXPECT_TRUE(u >= 1 && u <= 254) << int{u};
    seen.insert(k);
  }
  EXPECT_EQ(20u, seen.size());
}

TEST(ScrambleKeyTest, EachLevelGivesItsKeyAndANewKeyIsStoredAsHexText) {
  SettingsRoot root;
  TRegIniFile reg("Software\\Test\\Keys");
  const std::string key = GetScrambleKey("Software\\Test\\Keys");  // first use: level 2 and a new key
  EXPECT_EQ(16u, key.size());
  EXPECT_EQ(2, reg.ReadInteger("Security", "Level", -1));
  EXPECT_EQ(BinaryToHexText(key.data(), key.size()), reg.ReadString("Security", "JumbleKey", ""));
  EXPECT_EQ(key, GetScrambleKey("Software\\Test\\Keys"));
  reg.WriteInteger("Security", "Level", 0);
  EXPECT_EQ("", GetScrambleKey("Software\\Test\\Keys"));
  reg.WriteInteger("Security", "Level", 1);
  EXPECT_EQ(".QiVrOx.07.", GetScrambleKey("Software\\Test\\Keys"));
  reg.WriteInteger("Security", "Level", 3);
  reg.WriteString("Security", "JumbleKey", "");  // an empty stored key is made anew
  const std::string fresh = GetScrambleKey("Software\\Test\\Keys");
  EXPECT_EQ(16u, fresh.size());
  EXPECT_EQ(BinaryToHexText(fresh.data(), fresh.size()), reg.ReadString("Security", "JumbleKey", ""));
}

// ---- passwords in SQL text --------------------------------------------------------------------------

TEST(MaskSQLPasswordsTest, TheLiteralAfterPasswordIsMaskedWhereverItStands) {
  const std::pair<const char*, const char*> cases[] = {
      {"CREATE DATABASE 'a.fdb' USER 'SYSDBA' PASSWORD 'TestPw42' PAGE_SIZE = 8192",
       "CREATE DATABASE 'a.fdb' USER 'SYSDBA' PASSWORD '*****' PAGE_SIZE = 8192"},
      {"create user u password 'it''s' using plugin Srp", "create user u password '*****' using plugin Srp"},
      {"ALTER USER U SET PASSWORD\r\n  /* new */ -- one\n 'x' FIRSTNAME 'Al'",
       "ALTER USER U SET PASSWORD\r\n  /* new */ -- one\n '*****' FIRSTNAME 'Al'"},
      {"CONNECT 'db' USER 'u' PASSWORD Q'{a'b}'", "CONNECT 'db' USER 'u' PASSWORD '*****'"},
      {"EXECUTE STATEMENT 'x' ON EXTERNAL 'db' AS USER 'u' PASSWORD 'p' ROLE 'r'",
       "EXECUTE STATEMENT 'x' ON EXTERNAL 'db' AS USER 'u' PASSWORD '*****' ROLE 'r'"},
      {"CREATE USER U PASSWORD 'unclosed", "CREATE USER U PASSWORD '*****'"},
      // A statement inside a literal, and one inside that.
      {"EXECUTE BLOCK AS BEGIN EXECUTE STATEMENT 'CREATE USER U PASSWORD ''x''''y'' FIRSTNAME ''A'''; END",
       "EXECUTE BLOCK AS BEGIN EXECUTE STATEMENT 'CREATE USER U PASSWORD ''*****'' FIRSTNAME ''A'''; END"},
      {"SELECT 'EXECUTE STATEMENT ''ALTER USER U PASSWORD ''''p'''''' ' FROM T",
       "SELECT 'EXECUTE STATEMENT ''ALTER USER U PASSWORD ''''*****'''''' ' FROM T"},
      {"SELECT 'a PASSWORD b' FROM T", "SELECT 'a PASSWORD b' FROM T"},
      // Not the word: a longer name, a quoted name, a literal, a comment; and no literal after it.
      {"SELECT MYPASSWORD 'x', \"PASSWORD\" 'y', 'PASSWORD' 'z' FROM T -- PASSWORD 'w'",
       "SELECT MYPASSWORD 'x', \"PASSWORD\" 'y', 'PASSWORD' 'z' FROM T -- PASSWORD 'w'"},
      {"UPDATE T SET PASSWORD = 'kept' WHERE PASSWORD IS NULL",
       "UPDATE T SET PASSWORD = 'kept' WHERE PASSWORD IS NULL"},
      {"SELECT q'{ PASSWORD 'a' }' FROM T", "SELECT q'{ PASSWORD 'a' }' FROM T"},
      {"", ""},
  };
  for (const auto& [sql, masked] : cases) EXPECT_EQ(masked, MaskSQLPasswords(sql)) << sql;
}

// ---- class names --------------------------------------------------------------------------------------

namespace inner {
class TSomeObject : public TObject {};
}  // namespace inner

TEST(ClassNameTest, TheClassesOwnNameWithoutItsNamespaces) {
  const inner::TSomeObject inNamespace;
  struct TLocal : TObject {};
  const TLocal local;
  EXPECT_EQ("TSomeObject", IB_ClassName(&inNamespace));
  EXPECT_EQ("TLocal", IB_ClassName(&local));
  EXPECT_EQ("nil", IB_ClassName(nullptr));
}

}  // namespace
