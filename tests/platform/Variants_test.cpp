#include "platform/Variants.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

using testsupport::MessageOf;

class VariantTest : public ::testing::Test {
protected:
  void SetUp() override { FormatSettings = TFormatSettings(); }
  void TearDown() override { FormatSettings = TFormatSettings(); }
};

TEST_F(VariantTest, TextToNumbersThroughTheLocale) {
  EXPECT_EQ(Variant("42").AsInteger(), 42);
  EXPECT_EQ(Variant("2.5").AsInteger(), 2);  // ties to even
  EXPECT_EQ(Variant("3.5").AsInteger(), 4);
  EXPECT_EQ(Variant("1.25").AsDouble(), 1.25);
  EXPECT_EQ(Variant("12.3456").AsCurrency().Raw(), 123456);
  EXPECT_EQ(Variant("9223372036854775807").AsInt64(), INT64_MAX);
  FormatSettings.DecimalSeparator = ',';
  EXPECT_EQ(Variant("1,5").AsDouble(), 1.5);
  EXPECT_EQ(Variant(1.5).AsString(), "1,5");
}

TEST_F(VariantTest, NumbersDatesAndBooleansToText) {
  EXPECT_EQ(Variant(-7).AsString(), "-7");
  EXPECT_EQ(Variant(1e20).AsString(), "1E20");
  EXPECT_EQ(Variant(StrToCurr("2.5")).AsString(), "2.5");
  EXPECT_EQ(Variant::FromDate(EncodeDate(2024, 3, 5) + 0.5).AsString(), "3/5/2024 12:00:00");
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_EQ(Variant().AsString(), "");
  EXPECT_EQ(VarToStr(Variant::Null()), "");
}

TEST_F(VariantTest, FailedConversionsRaise) {
  EXPECT_EQ(MessageOf<EVariantTypeCastError>([&] { Variant("abc").AsInteger(); }),
            "Could not convert variant of type (String) into type (Integer)");
  EXPECT_EQ(MessageOf<EVariantTypeCastError>([&] { Variant::Null().AsString(); }),
            "Could not convert variant of type (Null) into type (String)");
  EXPECT_THROW(Variant("x").AsDate(), EVariantTypeCastError);
  EXPECT_THROW(Variant(3e9).AsInteger(), EVariantError);
  EXPECT_THROW(Variant(40000).AsSmallint(), EVariantError);
  EXPECT_THROW(Variant(1e300).AsCurrency(), EVariantError);
  EXPECT_THROW(VarArrayOf({1}).AsInteger(), EVariantTypeCastError);
}

TEST_F(VariantTest, ClassicBooleanAndEmptyRules) {
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_TRUE(Variant("true").AsBoolean());
  EXPECT_TRUE(Variant("2").AsBoolean());
  EXPECT_FALSE(Variant(0.0).AsBoolean());
  EXPECT_EQ(Variant().AsInteger(), 0);
  EXPECT_EQ(Variant().AsDouble(), 0);
  EXPECT_EQ(Variant::FromDecimal(-5).AsInt64(), -5);
  EXPECT_EQ(Variant(StrToCurr("2.5")).AsInteger(), 2);
  EXPECT_EQ(Variant(StrToCurr("-3.5")).AsInteger(), -4);
}

TEST_F(VariantTest, AsTypeConverts) {
  EXPECT_EQ(VarType(VarAsType(Variant("5"), varSmallint)), varSmallint);
  EXPECT_EQ(VarType(VarAsType(Variant(5), varOleStr)), varString);
  EXPECT_EQ(VarAsType(Variant("3/5/2024"), varDate).AsDate(), EncodeDate(2024, 3, 5));
}

TEST_F(VariantTest, ComparisonRules) {
  EXPECT_TRUE(Variant::Null() == Variant::Null());
  EXPECT_FALSE(Variant::Null() == Variant(0));
  EXPECT_EQ(VarCompareValue(Variant::Null(), Variant(-5)), vrLessThan);
  EXPECT_TRUE(Variant(1) == Variant(1.0));
  EXPECT_TRUE(Variant("10") == Variant(10));
  EXPECT_TRUE(Variant("1.50") == Variant(1.5));
  EXPECT_FALSE(Variant("abc") == Variant(1));
  EXPECT_TRUE(Variant() == Variant(0));
  EXPECT_TRUE(Variant() == Variant(""));
  EXPECT_FALSE(Variant("a") == Variant("A"));
  EXPECT_EQ(VarCompareValue(Variant("a"), Variant("b")), vrLessThan);
  EXPECT_TRUE(Variant(StrToCurr("0.1")) == Variant(StrToCurr("0.1")));
  EXPECT_EQ(VarCompareValue(Variant(INT64_MAX), Variant(INT64_MAX - 1)), vrGreaterThan);
  EXPECT_TRUE(Variant::FromDate(2.5) == Variant(2.5));
  EXPECT_THROW(VarCompareValue(VarArrayOf({1}), Variant(1)), EVariantError);
}

TEST_F(VariantTest, ArraysHaveBoundsAndTypedElements) {
  Variant a = VarArrayCreate({1, 3, -1, 0}, varInteger);
  EXPECT_EQ(VarType(a), varArray | varInteger);
  EXPECT_EQ(VarArrayDimCount(a), 2);
  EXPECT_EQ(VarArrayLowBound(a, 1), 1);
  EXPECT_EQ(VarArrayHighBound(a, 1), 3);
  EXPECT_EQ(VarArrayLowBound(a, 2), -1);
  EXPECT_EQ(VarArrayHighBound(a, 2), 0);
  EXPECT_EQ(a.GetElement({2, -1}).AsInteger(), 0);
  a.PutElement({3, 0}, Variant("17"));  // converted to the element type
  EXPECT_EQ(VarType(a.GetElement({3, 0})), varInteger);
  EXPECT_EQ(a.GetElement({3, 0}).AsInteger(), 17);
  EXPECT_THROW(a.GetElement({4, 0}), EVariantError);
  EXPECT_THROW(a.GetElement({1}), EVariantError);
  EXPECT_THROW(a.PutElement({1, 0}, Variant("x")), EVariantTypeCastError);
  EXPECT_THROW(VarArrayLowBound(a, 3), EVariantError);
  EXPECT_THROW(VarArrayLowBound(Variant(1), 1), EVariantError);
  Variant scalar(5);
  EXPECT_EQ(MessageOf<EVariantError>([&] { scalar.GetElement({0}); }), "Variant is not an array");
  EXPECT_EQ(MessageOf<EVariantError>([&] { scalar.PutElement({0}, Variant(1)); }), "Variant is not an array");
}

TEST_F(VariantTest, ArrayCreationLimits) {
  std::vector<int> sixteen;
  for (int i = 0; i < 16; ++i) sixteen.insert(sixteen.end(), {0, 1});
  Variant big = VarArrayCreate(sixteen, varSmallint);
  EXPECT_EQ(VarArrayDimCount(big), 16);
  std::vector<int> idx(16, 1);
  big.PutElement(idx, Variant(9));
  EXPECT_EQ(big.GetElement(idx).AsSmallint(), 9);
  sixteen.insert(sixteen.end(), {0, 1});
  EXPECT_THROW(VarArrayCreate(sixteen, varInteger), EVariantError);
  EXPECT_THROW(VarArrayCreate({3, 1}, varInteger), EVariantError);
  EXPECT_THROW(VarArrayCreate({0, 1, 2}, varInteger), EVariantError);
  EXPECT_THROW(VarArrayCreate({0, 1 << 30}, varInteger), EVariantError);
  EXPECT_EQ(VarArrayHighBound(VarArrayCreate({0, -1}, varVariant), 1), -1);  // empty
  EXPECT_EQ(VarType(VarArrayCreate({0, 0}, varString).GetElement({0})), varString);
}

TEST_F(VariantTest, ArraysAreValuesAndCompareByElements) {
  Variant a = VarArrayOf({1, "two", Variant::Null()});
  Variant b = a;
  EXPECT_TRUE(a == b);
  b.PutElement({1}, Variant("deux"));
  EXPECT_EQ(a.GetElement({1}).AsString(), "two");  // copies do not share elements
  EXPECT_FALSE(a == b);
  EXPECT_EQ(VarArrayLowBound(a, 1), 0);
  EXPECT_EQ(VarArrayHighBound(a, 1), 2);
  EXPECT_TRUE(VarIsNull(a.GetElement({2})));
  EXPECT_TRUE(VarIsArray(VarArrayOf({a, 5}).GetElement({0})));
  // Empty arrays with different bounds differ.
  EXPECT_FALSE(VarArrayCreate({0, -1, 0, 5}, varInteger) == VarArrayCreate({0, -1, 0, 3}, varInteger));
}

TEST_F(VariantTest, BoundsAtTheEdgesOfTheIntegerRange) {
  Variant top = VarArrayCreate({INT32_MAX - 1, INT32_MAX}, varInteger);
  EXPECT_EQ(VarArrayHighBound(top, 1), INT32_MAX);
  top.PutElement({INT32_MAX}, Variant(7));
  EXPECT_EQ(top.GetElement({INT32_MAX}).AsInteger(), 7);
  Variant copy = top;
  EXPECT_TRUE(copy == top);  // walks every position up to the highest index
  Variant bottom = VarArrayCreate({INT32_MIN, INT32_MIN}, varInteger);
  EXPECT_EQ(VarArrayHighBound(bottom, 1), INT32_MIN);
}

}  // namespace
