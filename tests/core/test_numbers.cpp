#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/numbers.h"

using core::LeadingNumber;

TEST(LeadingNumber, PlainNumbersAndWhatStopsThem) {
    EXPECT_EQ(LeadingNumber("5"), 5);
    EXPECT_EQ(LeadingNumber("12x"), 12);
    EXPECT_EQ(LeadingNumber("5.5"), 5.5);
    EXPECT_EQ(LeadingNumber("2.5.7"), 2.5);  // one decimal point only
    EXPECT_EQ(LeadingNumber("-5"), -5);
    EXPECT_EQ(LeadingNumber("+7"), 7);
    EXPECT_EQ(LeadingNumber("-.5"), -0.5);
    EXPECT_EQ(LeadingNumber(".25"), 0.25);
    EXPECT_EQ(LeadingNumber("3."), 3);
    EXPECT_EQ(LeadingNumber("1,5"), 1);  // the comma never counts, whatever the locale
}

TEST(LeadingNumber, TextWithoutANumberIsZero) {
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber("Text1"), 0);
    EXPECT_EQ(LeadingNumber("-"), 0);
    EXPECT_EQ(LeadingNumber("."), 0);
    EXPECT_EQ(LeadingNumber("+-3"), 0);
    EXPECT_EQ(LeadingNumber("x12"), 0);
    EXPECT_EQ(LeadingNumber("&"), 0);
    EXPECT_EQ(LeadingNumber("&Q12"), 0);
}

TEST(LeadingNumber, BlanksTabsAndLineFeedsAnywhereAreIgnored) {
    EXPECT_EQ(LeadingNumber(" 1"), 1);
    EXPECT_EQ(LeadingNumber("1 2"), 12);
    EXPECT_EQ(LeadingNumber("\t-\n3 . 5"), -3.5);
    EXPECT_EQ(LeadingNumber("  \t \n"), 0);
    EXPECT_EQ(LeadingNumber("1 e 2"), 100);
}

TEST(LeadingNumber, Exponents) {
    EXPECT_EQ(LeadingNumber("1e3"), 1000);
    EXPECT_EQ(LeadingNumber("1E3"), 1000);
    EXPECT_EQ(LeadingNumber("2.5e-1"), 0.25);
    EXPECT_EQ(LeadingNumber("4E+2x"), 400);
    EXPECT_EQ(LeadingNumber("7e"), 7);    // an exponent without digits is not read
    EXPECT_EQ(LeadingNumber("7e-"), 7);
    EXPECT_EQ(LeadingNumber("7ex"), 7);
    // Far out of range stays finite rather than becoming infinity.
    EXPECT_TRUE(std::isfinite(LeadingNumber("1e999")));
    EXPECT_GT(LeadingNumber("1e999"), 1e300);
    EXPECT_EQ(LeadingNumber("1e-999"), 0);
}

TEST(LeadingNumber, HexAndOctalPrefixes) {
    EXPECT_EQ(LeadingNumber("&H1F"), 31);
    EXPECT_EQ(LeadingNumber("&hff"), 255);
    EXPECT_EQ(LeadingNumber("&O17"), 15);
    EXPECT_EQ(LeadingNumber("&o78"), 7);   // 8 is no octal digit
    EXPECT_EQ(LeadingNumber("&H1G"), 1);
    EXPECT_EQ(LeadingNumber(" & H 1 0"), 16);
    EXPECT_EQ(LeadingNumber("&H"), 0);
    EXPECT_TRUE(std::isfinite(LeadingNumber("&H" + QString(300, QChar(u'F')))));
}

TEST(LeadingNumber, FullWidthDigitsAreNotDigits) {
    EXPECT_EQ(LeadingNumber(QStringLiteral("５")), 0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("1５")), 1);
}

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(core::RoundHalfEven(1.5), 2);
    EXPECT_EQ(core::RoundHalfEven(2.5), 2);
    EXPECT_EQ(core::RoundHalfEven(3.5), 4);
    EXPECT_EQ(core::RoundHalfEven(-0.5), 0);
    EXPECT_EQ(core::RoundHalfEven(-1.5), -2);
    EXPECT_EQ(core::RoundHalfEven(-2.5), -2);
    EXPECT_EQ(core::RoundHalfEven(299.5), 300);
    EXPECT_EQ(core::RoundHalfEven(30.5), 30);
    EXPECT_EQ(core::RoundHalfEven(31.5), 32);
    EXPECT_EQ(core::RoundHalfEven(2.4999999), 2);
    EXPECT_EQ(core::RoundHalfEven(2.5000001), 3);
}

TEST(Rounding, IntegerConversionsSaturateInsteadOfOverflowing) {
    EXPECT_EQ(core::RoundToInt32(2.5), 2);
    EXPECT_EQ(core::RoundToInt32(1e12), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(core::RoundToInt32(-1e12), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(core::RoundToInt32(std::nan("")), 0);
    EXPECT_EQ(core::RoundToInt16(1.5), 2);
    EXPECT_EQ(core::RoundToInt16(40000), 32767);
    EXPECT_EQ(core::RoundToInt16(-40000), -32768);
}
