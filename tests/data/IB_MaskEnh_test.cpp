#include "dblib/data/IB_MaskEnh.h"

#include <gtest/gtest.h>

#include "platform/Locale.h"

namespace {

// Every test starts from the US separators and leaves the process-wide settings as it found them.
class MaskEnhTest : public ::testing::Test {
protected:
  TFormatSettings Saved = FormatSettings;
  void SetUp() override { FormatSettings = TFormatSettings(); }
  void TearDown() override { FormatSettings = Saved; }

  static std::string Build(const TMaskEnh& M, bool WithLiterals, bool Blanks) {
    std::string Text = "stale";
    M.BuildText(WithLiterals, Blanks, Text, false);
    return Text;
  }
};

TEST_F(MaskEnhTest, TagsSetTheKindAndUntaggedTextKeepsIt) {
  TMaskEnh M;
  const std::tuple<const char*, int, int> cases[] = {
      {"::SM::(999)", mkStandard, 5},  {"::SL::99,00", mkStandardList, 0},
      {"::EM::[A-Z]+", mkExtended, 0}, {"::EL::x,y", mkExtendedList, 0},
      {"::NM::#0.00", mkNumeric, 5},   {"##0.0", mkNumeric, 5},
      {"::NO::", mkNone, 0},           {"::XY::00", mkStandard, 8},  // an unknown tag is part of the mask
  };
  for (const auto& [text, kind, positions] : cases) {
    M.SetMaskText(text);
    EXPECT_EQ(M.GetMaskKind(), kind) << text;
    EXPECT_EQ(M.GetPositionCount(), positions) << text;
  }
  M.SetMaskText("::SL::000-0000,(000) 000-0000,00\\,00");
  EXPECT_EQ(M.GetMaskList(), (std::vector<std::string>{"000-0000", "(000) 000-0000", "00\\,00"}));
  EXPECT_EQ(M.GetListIndex(), -1);  // a list chooses none of its masks
}

TEST_F(MaskEnhTest, TextIsLaidIntoTheMask) {
  struct Case {
    const char* Mask;
    const char* In;
    const char* Text;      // GetText
    const char* Literals;  // BuildText with literals, blanks shown as the blank character (null: not checked)
    const char* Bare;      // BuildText without literals, blanks as blanks (null: not checked)
  };
  const Case cases[] = {
      {"::SM::!99/99/0000;1;_", "12/31/2024", "12/31/2024", "12/31/2024", "12312024"},
      {"::SM::!99/99/0000;1;_", "1 /3_/2024", "1 /3 /2024", "1_/3_/2024", "1 3 2024"},
      {"::SM::(999)000-0000;0;*", "5551234567", "5551234567", "(555)123-4567", "5551234567"},
      {"::SM::(999)000-0000;0;*", "555", "555       ", "(555)***-****", "555       "},
      {"::SM::!9999;0", "12", "  12", "__12", "  12"},
      {"::SM::9999;0", "12", "12  ", "12__", "12  "},
      {"::SM::>LL<ll<>cc;0", "abCDeF", "ABcdeF", "ABcdeF", "ABcdeF"},
      {"::SM::\\0\\9_#\\;0;1", "09 -;0", "09 -;0", "09 -;0", "-0"},
      {"::NM::#,##0.00", "1234.5", "1,234.50", "1,234.50", "1234.50"},
      {"::NM::#,##0.00", "-5", "   -5.00", nullptr, nullptr},
      {"::NM::#,##0.00", ".5", "    0.50", nullptr, nullptr},
      {"::NM::#,##0.00", "1.500", "    1.50", nullptr, nullptr},
      {"::NM::#,##0.00", "123456", "123456", "123456", "123456"},  // does not fit: shown as given
      {"::NM::#,##0.00", "12x", "12x", "12x", "12x"},
      {"::NM::000", "5", "005", "005", "005"},
      {"::NM::000", "-5", "-5", "-5", "-5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Mask) + " " + c.In);
    TMaskEnh M;
    M.SetMaskText(c.Mask);
    M.SetText(c.In);
    EXPECT_EQ(M.GetText(), c.Text);
    if (c.Literals) {
      EXPECT_EQ(Build(M, true, false), c.Literals);
    }
    if (c.Bare) {
      EXPECT_EQ(Build(M, false, true), c.Bare);
    }
  }
}

TEST_F(MaskEnhTest, LiteralsAndNumbersFollowTheLocaleSeparators) {
  FormatSettings.DateSeparator = '.';
  FormatSettings.TimeSeparator = 'h';
  FormatSettings.ThousandSeparator = '\'';
  FormatSettings.DecimalSeparator = ',';
  TMaskEnh M;
  M.SetMaskText("::SM::99/99 90:00 9,990.00");
  M.Clear();
  EXPECT_EQ(M.GetText(), "  .     h    '   ,  ");
  M.SetMaskText("::NM::#,##0.00");
  for (const char* in : {"1234,5", "1'234,5"}) {
    M.SetText(in);
    EXPECT_EQ(M.GetText(), "1'234,50") << in;
  }
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
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"", "as is", "as is"},
      {"!(999)000-0000;0;_", "5551234567", "(555)123-4567"},
      {"!99/99/9999;1; ", "12/31/2024", "12/31/2024"},
      {"!99/99/9999;1; ", "", "  /  /    "},
      {"99.99;0", "1234", "12.34"},  // "." and "," stay as they are
  };
  for (const auto& [mask, value, expected] : cases) EXPECT_EQ(FormatMaskText(mask, value), expected) << mask;
  FormatSettings.DateSeparator = '-';
  EXPECT_EQ(FormatMaskText("!99/99/9999;1; ", ""), "  -  -    ");
}

}  // namespace
