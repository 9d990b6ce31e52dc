#include "platform/text/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <locale>

using platform::NumberText;

namespace {

// A C++ locale that writes "1,5": formatting must not pick it up.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

}  // namespace

TEST(NumberTextTest, FormatsShortestRoundTrip) {
    const std::pair<double, const char*> cases[] = {
        {0.0, "0"},       {-0.0, "-0"},     {5.0, "5"},          {0.1, "0.1"},
        {1.5, "1.5"},     {-2.25, "-2.25"}, {1e21, "1e+21"},     {1e-7, "1e-07"},
        {123456.0, "123456"},               {1.0 / 3.0, "0.3333333333333333"},
        {std::numeric_limits<double>::infinity(), "inf"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(NumberText::formatDouble(value), text);
    }
    for (double v : {0.1 + 0.2, 1e300, 5e-324, 2.0 / 3.0, 9007199254740993.0}) {
        EXPECT_EQ(NumberText::parseDouble(NumberText::formatDouble(v)), v);
    }
    EXPECT_EQ(NumberText::format(int64_t{-9223372036854775807 - 1}), "-9223372036854775808");
    EXPECT_EQ(NumberText::format(uint64_t{18446744073709551615u}), "18446744073709551615");
}

TEST(NumberTextTest, IgnoresTheProcessLocale) {
    const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    EXPECT_EQ(NumberText::formatDouble(1234.5), "1234.5");
    EXPECT_EQ(NumberText::parseDouble("1234.5"), 1234.5);
    EXPECT_EQ(NumberText::format(int64_t{1234567}), "1234567");
    std::locale::global(saved);
}

TEST(NumberTextTest, ParsesIntegersStrictly) {
    const std::pair<const char*, std::optional<int64_t>> cases[] = {
        {"42", 42},
        {"-42", -42},
        {"+7", 7},
        {"007", 7},
        {"9223372036854775807", 9223372036854775807},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1.0", std::nullopt},
        {"0x10", std::nullopt},
        {"+-1", std::nullopt},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(NumberText::parseInt64(text), value);
    }
    EXPECT_EQ(NumberText::parseUInt64("18446744073709551615"), 18446744073709551615u);
    EXPECT_EQ(NumberText::parseUInt64("-1"), std::nullopt);
    EXPECT_EQ(NumberText::parseUInt64("18446744073709551616"), std::nullopt);
}

TEST(NumberTextTest, ParsesDoublesStrictly) {
    const std::pair<const char*, std::optional<double>> cases[] = {
        {"1.5", 1.5},  {"+1.5", 1.5},         {"-0.25", -0.25},     {"1e3", 1000.0}, {".5", 0.5},
        {"5.", 5.0},   {"abc", std::nullopt}, {"1.5x", std::nullopt}, {" 1", std::nullopt},
        {"", std::nullopt}, {"+-1", std::nullopt}, {"1,5", std::nullopt},
        // from_chars alone would read these as NaN and infinity.
        {"nan", std::nullopt}, {"-NaN", std::nullopt}, {"inf", std::nullopt}, {"+Infinity", std::nullopt},
        {"-.5", -0.5}, {"-", std::nullopt}, {"1e999", std::nullopt},
    };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(NumberText::parseDouble(text), value);
    }
}

TEST(NumberTextTest, ScansLeadingNumbers) {
    EXPECT_EQ(NumberText::scanDouble("  3.5abc"), 3.5);
    EXPECT_EQ(NumberText::scanDouble("-2e2x"), -200.0);
    EXPECT_EQ(NumberText::scanDouble("abc"), 0.0);
    EXPECT_EQ(NumberText::scanDouble(""), 0.0);
    EXPECT_EQ(NumberText::scanDouble("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(NumberText::scanDouble("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(NumberText::scanDouble("1e-999"), 0.0);
    for (const char* notDecimal : {"nan", " -nan(1)", "inf", "Infinity5", "+INF", "-infinity"}) {
        EXPECT_EQ(NumberText::scanDouble(notDecimal), 0.0) << notDecimal;
    }
    EXPECT_EQ(NumberText::scanDouble(" -.5e1x"), -5.0);
    EXPECT_EQ(NumberText::scanInt64(" -12ab"), -12);
    EXPECT_EQ(NumberText::scanInt64("+5"), 5);
    EXPECT_EQ(NumberText::scanInt64("x5"), 0);
    EXPECT_EQ(NumberText::scanInt64("99999999999999999999"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(NumberText::scanInt64("-99999999999999999999"), std::numeric_limits<int64_t>::min());
}
