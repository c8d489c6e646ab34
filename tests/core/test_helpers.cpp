#include "core/helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace dielmon;

TEST(FormatValue, CutsToTheDigitsItsMagnitudeAllows) {
    const struct {
        double value;
        const char* three;
        const char* four;
    } cases[] = {
        {1234.56, "1234", "1234.5"},    {1000, "1000.0", "1000.00"},
        {999.99, "999.9", "999.99"},    {123.456, "123.4", "123.45"},
        {100, "100.00", "100.000"},     {12.3456, "12.34", "12.345"},
        {10, "10.000", "10.0000"},      {1.23456, "1.234", "1.2345"},
        {0, "0.000", "0.0000"},         {-12.3456, "-12.34", "-12.345"},
        {-0.0005, "0.000", "-0.0005"},  {0.29, "0.289", "0.2899"},
        {12345.9, "12345", "12345"},    {-10000.5, "-10000", "-10000"},
        {-1000.55, "-1000", "-1000.5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatValue3(c.value), c.three) << c.value;
        EXPECT_EQ(FormatValue4(c.value), c.four) << c.value;
    }
}

TEST(FormatValue, NonFiniteValuesGiveAPlainText) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FormatValue3(std::nan("")), "NAN");
    EXPECT_EQ(FormatValue4(inf), "INF");
    EXPECT_EQ(FormatValue3(-inf), "-INF");
    EXPECT_EQ(FormatFixed(2, 6, std::nan("")), "NAN   ");
    // Huge finite values need no integer type.
    EXPECT_EQ(FormatValue3(1e20), "100000000000000000000");
    EXPECT_EQ(FormatValue3(-3.4e38).size(), 40u);
}

TEST(FormatFixed, RoundsHalfAwayFromZeroAndFillsToWidth) {
    EXPECT_EQ(FormatFixed(2, 8, 3.14159), "3.14    ");
    EXPECT_EQ(FormatFixed(2, 5, 1.125), "1.13 ");
    EXPECT_EQ(FormatFixed(2, 0, 0.125), "0.13");
    EXPECT_EQ(FormatFixed(2, 0, -0.125), "-0.13");
    EXPECT_EQ(FormatFixed(2, 5, 9.996), "10.00");
    EXPECT_EQ(FormatFixed(2, 5, 1.5), "1.50 ");
    EXPECT_EQ(FormatFixed(3, 0, 0.1), "0.100");
    EXPECT_EQ(FormatFixed(3, 0, -0.0001), "0.000");
    EXPECT_EQ(FormatFixed(0, 0, 2.5), "3");
    EXPECT_EQ(FormatFixed(2, 3, 123456.789), "123456.79"); // never cut
    EXPECT_EQ(FormatFixed(1, 0, 0.05), "0.1");
    EXPECT_EQ(FormatFixed(2, 0, 1e-30), "0.00");
}

TEST(TruncScaled, IsExactWhereTheRoundedProductIsNot) {
    EXPECT_EQ(TruncScaled(0.29, 3), 289); // 0.29 × 1000 rounds to 290 in a double
    EXPECT_EQ(TruncScaled(-0.29, 3), -289);
    EXPECT_EQ(TruncScaled(301.9, 1), 3018);
    EXPECT_EQ(TruncScaled(-5.25, 1), -52);
    EXPECT_FALSE(std::signbit(TruncScaled(-0.0005, 3)));
}

TEST(PadRight, CountsBytesAndAlwaysEndsWithASpace) {
    EXPECT_EQ(PadRight("abcd", 6), "abcd   ");
    EXPECT_EQ(PadRight("abcdef", 6), "abcdef ");
    EXPECT_EQ(PadRight("abcdefg", 6), "abcdefg");
    EXPECT_EQ(PadRight("正接", 6), "正接   ");
    EXPECT_EQ(std::string("正接").size(), 4u);
}

TEST(BytesToFloat, ReadsLittleEndianSingles) {
    const std::uint8_t one[] = {0x00, 0x00, 0x80, 0x3F};
    const std::uint8_t ten[] = {0x00, 0x00, 0x20, 0x41};
    EXPECT_EQ(BytesToFloat(one), 1.0);
    EXPECT_EQ(BytesToFloat(ten), 10.0);
    std::uint8_t back[4];
    FloatToBytes(10.0f, back);
    EXPECT_EQ(0, memcmp(back, ten, 4));
}

TEST(Names, WiringModesAndWeekdays) {
    EXPECT_EQ(WiringModeToIndex("变比"), 5);
    EXPECT_EQ(WiringModeToIndex("反接线低压屏蔽"), 3);
    EXPECT_EQ(WiringModeToIndex(""), 1);
    EXPECT_EQ(WiringModeToIndex("正接线 "), 1);
    EXPECT_EQ(IndexToWiringMode(4), "CVT自激法");
    EXPECT_EQ(IndexToWiringMode(0), "");
    EXPECT_EQ(IndexToWiringMode(6), "");
    EXPECT_EQ(GetWeekName(4), "星期四");
    EXPECT_EQ(GetWeekName(7), "星期日");
    EXPECT_EQ(GetWeekName(0), "");
}

TEST(Parsing, OperatorTextToNumbers) {
    EXPECT_EQ(ParseInt("10000"), 10000);
    EXPECT_EQ(ParseInt("-5"), -5);
    EXPECT_EQ(ParseInt("007"), 7);
    EXPECT_EQ(ParseInt("2147483647"), 2147483647);
    EXPECT_EQ(ParseInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", "-", "1.5", "12a", "2147483648", "99999999999999999999"}) {
        EXPECT_FALSE(ParseInt(bad).has_value()) << bad;
    }
    EXPECT_EQ(ParseDecimal("50.000"), 50.0);
    EXPECT_EQ(ParseDecimal("-.5"), -0.5);
    EXPECT_EQ(ParseDecimal("1e3"), 1000.0);
    EXPECT_EQ(ParseDecimal("+2."), 2.0);
    for (const char* bad : {"", ".", "abc", "nan", "inf", "0x10", "1e", "1e400", "1e39", "1,5"}) {
        EXPECT_FALSE(ParseDecimal(bad).has_value()) << bad;
    }
}

TEST(Parsing, BlanksAroundANumberAreIgnoredAndNothingElse) {
    EXPECT_EQ(ParseInt(" 12"), 12);
    EXPECT_EQ(ParseInt("12 "), 12);
    EXPECT_EQ(ParseInt("\t-5\r\n"), -5);
    EXPECT_EQ(ParseInt(" +7 "), 7);
    EXPECT_EQ(ParseDecimal(" 50.5"), 50.5);
    EXPECT_EQ(ParseDecimal("0.1  "), 0.1);
    EXPECT_EQ(ParseDecimal("\v\f 1e3 \t"), 1000.0);
    // Blanks inside, a sign apart from its digits, other bytes around: still no number.
    for (const char* bad : {" ", "\t\n", "1 2", "- 5", "+ 5", "12 a",
                            "\x01"
                            "12",
                            "\xA1\xA1"
                            "12" /* a full-width space */}) {
        EXPECT_FALSE(ParseInt(bad).has_value()) << bad;
        EXPECT_FALSE(ParseDecimal(bad).has_value()) << bad;
    }
    EXPECT_FALSE(ParseDecimal("50. 5").has_value());
    EXPECT_FALSE(ParseDecimal("1e 3").has_value());
    EXPECT_EQ(TrimBlanks(" \t a b \r\n"), "a b");
    EXPECT_EQ(TrimBlanks("   "), "");
}

TEST(SplitLines, BreaksAtLineFeedsAndDropsTheCarriageReturnsBeforeThem) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(SplitLines(""), Lines{});
    EXPECT_EQ(SplitLines("a\r\nb\n"), (Lines{"a", "b"}));
    EXPECT_EQ(SplitLines("a\n\r\n\nb"), (Lines{"a", "", "", "b"}));
    EXPECT_EQ(SplitLines("a\rb\r"), Lines{"a\rb"}) << "a CR elsewhere stays";
}
