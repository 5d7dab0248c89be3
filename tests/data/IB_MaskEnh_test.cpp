#include "dblib/data/IB_MaskEnh.h"

#include <gtest/gtest.h>

#include "platform/Locale.h"

namespace {

// Every test starts from the US separators and leaves the process-wide settings as it found them.
class MaskEnhTest : public ::testing::Test {
protected:
  void SetUp() override {
    Saved = FormatSettings;
    FormatSettings.DecimalSeparator = '.';
    FormatSettings.ThousandSeparator = ',';
    FormatSettings.DateSeparator = '/';
    FormatSettings.TimeSeparator = ':';
  }
  void TearDown() override { FormatSettings = Saved; }

  static std::string Build(const TMaskEnh& M, bool WithLiterals, bool Blanks) {
    std::string Text = "stale";
    M.BuildText(WithLiterals, Blanks, Text, false);
    return Text;
  }

  TFormatSettings Saved;
};

TEST_F(MaskEnhTest, StartsWithoutAMask) {
  TMaskEnh M;
  EXPECT_EQ(M.GetMaskKind(), mkNone);
  EXPECT_EQ(M.GetBlankChar(), '_');
  EXPECT_TRUE(M.GetShowBlanks());
  EXPECT_TRUE(M.GetSaveLiterals());
  EXPECT_EQ(M.GetListIndex(), -1);
  EXPECT_EQ(M.GetPositionCount(), 0);
  EXPECT_EQ(M.GetText(), "");
}

TEST_F(MaskEnhTest, TagsSetTheKind) {
  TMaskEnh M;
  const std::pair<const char*, int> Cases[] = {
      {"::SM::99", mkStandard},      {"::SL::99,00", mkStandardList}, {"::EM::x", mkExtended},
      {"::EL::x,y", mkExtendedList}, {"::NM::#0.00", mkNumeric},      {"::NO::", mkNone},
  };
  for (const auto& [Text, Kind] : Cases) {
    M.SetMaskText(Text);
    EXPECT_EQ(M.GetMaskKind(), Kind) << Text;
  }
  M.SetMaskText("::SM::(999)");
  EXPECT_EQ(M.GetMask(), "(999)");
  EXPECT_EQ(M.GetPositionCount(), 5);
}

TEST_F(MaskEnhTest, UntaggedTextIsAMaskOfTheKindAlreadySet) {
  TMaskEnh M;
  M.SetMaskText("99");
  EXPECT_EQ(M.GetMaskKind(), mkStandard);
  M.SetMaskText("::NM::#0.00");
  M.SetMaskText("##0.0");
  EXPECT_EQ(M.GetMaskKind(), mkNumeric);
  M.SetText("12.5");
  EXPECT_EQ(M.GetText(), " 12.5");
  // An unknown tag is no error: the whole text is the mask.
  M.SetMaskText("");
  EXPECT_EQ(M.GetMaskKind(), mkNone);
  M.SetMaskText("::XY::00");
  EXPECT_EQ(M.GetMaskKind(), mkStandard);
  EXPECT_EQ(M.GetMask(), "::XY::00");
  EXPECT_EQ(M.GetPositionCount(), 8);
}

TEST_F(MaskEnhTest, ListsKeepTheirMasksButChooseNone) {
  TMaskEnh M;
  M.SetMaskText("::SL::000-0000,(000) 000-0000,00\\,00");
  EXPECT_EQ(M.GetMaskKind(), mkStandardList);
  ASSERT_EQ(M.GetMaskList().size(), 3u);
  EXPECT_EQ(M.GetMaskList()[0], "000-0000");
  EXPECT_EQ(M.GetMaskList()[1], "(000) 000-0000");
  EXPECT_EQ(M.GetMaskList()[2], "00\\,00");
  EXPECT_EQ(M.GetListIndex(), -1);
  EXPECT_EQ(M.GetPositionCount(), 0);
  M.SetMaskText("::EM::[A-Z]+");
  EXPECT_EQ(M.GetMaskKind(), mkExtended);
  EXPECT_EQ(M.GetPositionCount(), 0);
  EXPECT_TRUE(M.GetMaskList().empty());
}

TEST_F(MaskEnhTest, ClearShowsLiteralsWithTheLocaleSeparators) {
  TMaskEnh M;
  M.SetMaskText("::SM::!99/99/0000;1;_");
  M.Clear();
  EXPECT_EQ(M.GetText(), "  /  /    ");
  EXPECT_EQ(Build(M, true, false), "__/__/____");
  EXPECT_EQ(Build(M, false, false), "________");
  FormatSettings.DateSeparator = '.';
  FormatSettings.TimeSeparator = 'h';
  FormatSettings.ThousandSeparator = '\'';
  FormatSettings.DecimalSeparator = ',';
  M.SetMaskText("::SM::99/99 90:00 9,990.00");
  M.Clear();
  EXPECT_EQ(M.GetCursor(), 0);
  EXPECT_EQ(M.GetText(), "  .     h    '   ,  ");
}

TEST_F(MaskEnhTest, SavedLiteralsTravelWithTheText) {
  TMaskEnh M;
  M.SetMaskText("::SM::!99/99/0000;1;_");
  M.SetText("12/31/2024");
  EXPECT_EQ(M.GetText(), "12/31/2024");
  EXPECT_EQ(Build(M, false, true), "12312024");
  M.SetText("1 /3_/2024");
  EXPECT_EQ(Build(M, true, false), "1_/3_/2024");
}

TEST_F(MaskEnhTest, UnsavedLiteralsAreLeftOutOfTheText) {
  TMaskEnh M;
  M.SetMaskText("::SM::(999)000-0000;0;*");
  EXPECT_FALSE(M.GetSaveLiterals());
  EXPECT_EQ(M.GetBlankChar(), '*');
  M.SetText("5551234567");
  EXPECT_EQ(M.GetText(), "5551234567");
  EXPECT_EQ(Build(M, true, true), "(555)123-4567");
  M.SetText("555");
  EXPECT_EQ(Build(M, true, false), "(555)***-****");
  EXPECT_EQ(M.GetText(), "555       ");
}

TEST_F(MaskEnhTest, LeadingBlanksWithTheExclamationMark) {
  TMaskEnh M;
  M.SetMaskText("::SM::!9999;0");
  M.SetText("12");
  EXPECT_EQ(M.GetText(), "  12");
  M.SetMaskText("::SM::9999;0");
  M.SetText("12");
  EXPECT_EQ(M.GetText(), "12  ");
}

TEST_F(MaskEnhTest, CaseConversionAndEscapes) {
  TMaskEnh M;
  M.SetMaskText("::SM::>LL<ll<>cc;0");
  M.SetText("abCDeF");
  EXPECT_EQ(M.GetText(), "ABcdeF");
  M.SetMaskText("::SM::\\0\\9_#\\;0;1");
  EXPECT_EQ(M.GetPositionCount(), 6);
  M.SetText("09 -;0");
  EXPECT_EQ(M.GetText(), "09 -;0");
  EXPECT_EQ(Build(M, false, true), "-0");
}

TEST_F(MaskEnhTest, NumericMaskAlignsOnTheDecimalPoint) {
  TMaskEnh M;
  M.SetMaskText("::NM::#,##0.00");
  M.SetText("1234.5");
  EXPECT_EQ(M.GetText(), "1,234.50");
  M.SetText("5");
  EXPECT_EQ(M.GetText(), "    5.00");
  M.SetText("-5");
  EXPECT_EQ(M.GetText(), "   -5.00");
  M.SetText(".5");
  EXPECT_EQ(M.GetText(), "    0.50");
  M.SetText("1.500");
  EXPECT_EQ(M.GetText(), "    1.50");
  // Without literals the decimal point stays.
  M.SetText("1234.5");
  EXPECT_EQ(Build(M, false, true), "1234.50");
}

TEST_F(MaskEnhTest, NumericMaskUsesTheLocaleSeparators) {
  FormatSettings.DecimalSeparator = ',';
  FormatSettings.ThousandSeparator = '.';
  TMaskEnh M;
  M.SetMaskText("::NM::#,##0.00");
  M.SetText("1234,5");
  EXPECT_EQ(M.GetText(), "1.234,50");
  M.SetText("1.234,5");
  EXPECT_EQ(M.GetText(), "1.234,50");
}

TEST_F(MaskEnhTest, NumericTextThatDoesNotFitIsShownAsGiven) {
  TMaskEnh M;
  M.SetMaskText("::NM::#,##0.00");
  M.SetText("123456");
  EXPECT_EQ(M.GetText(), "123456");
  M.SetText("1.234");
  EXPECT_EQ(M.GetText(), "1.234");
  M.SetText("12x");
  EXPECT_EQ(Build(M, true, true), "12x");
  M.SetMaskText("::NM::000");
  M.SetText("-5");
  EXPECT_EQ(M.GetText(), "-5");
  M.SetText("5");
  EXPECT_EQ(M.GetText(), "005");
  M.Clear();
  EXPECT_EQ(M.GetText(), "   ");
}

TEST_F(MaskEnhTest, EmptyTextEqualsTheClearedMask) {
  for (const char* Mask : {"::SM::!99/99/0000;1;_", "::NM::#,##0.00", "::SM::(999)000-0000;0"}) {
    TMaskEnh M;
    M.SetMaskText(Mask);
    M.SetText("1");
    M.Clear();
    const std::string Empty = M.GetText();
    M.SetText("1");
    M.SetText("");
    EXPECT_EQ(M.GetText(), Empty) << Mask;
  }
}

TEST_F(MaskEnhTest, FormatMaskTextLaysOutAValue) {
  EXPECT_EQ(FormatMaskText("", "as is"), "as is");
  EXPECT_EQ(FormatMaskText("!(999)000-0000;0;_", "5551234567"), "(555)123-4567");
  EXPECT_EQ(FormatMaskText("!99/99/9999;1; ", "12/31/2024"), "12/31/2024");
  EXPECT_EQ(FormatMaskText("!99/99/9999;1; ", ""), "  /  /    ");
  FormatSettings.DateSeparator = '-';
  FormatSettings.DecimalSeparator = ',';
  EXPECT_EQ(FormatMaskText("!99/99/9999;1; ", ""), "  -  -    ");
  // The classic formatting keeps "." and "," as they are.
  EXPECT_EQ(FormatMaskText("99.99;0", "1234"), "12.34");
}

}  // namespace
