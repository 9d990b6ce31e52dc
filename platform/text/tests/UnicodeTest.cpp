#include "platform/text/Unicode.h"

#include <gtest/gtest.h>

using platform::Unicode;

TEST(UnicodeTest, LengthsCountUtf16UnitsAndCodePoints) {
    struct Case {
        std::string text;
        size_t utf16;
        size_t codePoints;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"abc", 3, 3},
        {"\xC3\xA9", 1, 1},                  // é
        {"\xE2\x82\xAC", 1, 1},              // €
        {"\xF0\x9F\x98\x80", 2, 1},          // 😀 outside the BMP
        {"a\xF0\x9F\x98\x80" "b", 4, 3},
        {"\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E", 4, 2},  // two 𝄞
        {"\xFF" "a", 2, 2},                  // an ill-formed byte counts as U+FFFD
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Unicode::utf16Length(c.text), c.utf16);
        EXPECT_EQ(Unicode::codePointCount(c.text), c.codePoints);
        EXPECT_EQ(Unicode::toUtf16(c.text).size(), c.utf16);
    }
}

TEST(UnicodeTest, Utf16IndexAndUtf8OffsetConvert) {
    const std::string text = "a\xF0\x9F\x98\x80" "b\xC3\xA9";  // a 😀 b é: UTF-16 indexes 0,1,3,4; bytes 0,1,5,6
    const std::pair<size_t, std::optional<size_t>> toOffset[] = {
        {0, 0}, {1, 1}, {2, std::nullopt}, {3, 5}, {4, 6}, {5, 8}, {6, std::nullopt}};
    for (const auto& [index, offset] : toOffset) {
        SCOPED_TRACE(index);
        EXPECT_EQ(Unicode::utf8OffsetForUtf16Index(text, index), offset);
    }
    const std::pair<size_t, size_t> toIndex[] = {{0, 0}, {1, 1}, {3, 1}, {5, 3}, {6, 4}, {7, 4}, {8, 5}, {99, 5}};
    for (const auto& [offset, index] : toIndex) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(Unicode::utf16IndexForUtf8Offset(text, offset), index);
    }
}

TEST(UnicodeTest, SubstringForUtf16Range) {
    const std::string text = "a\xF0\x9F\x98\x80" "b\xC3\xA9";
    EXPECT_EQ(Unicode::substringForUtf16Range(text, 1, 3), "\xF0\x9F\x98\x80" "b");
    EXPECT_EQ(Unicode::substringForUtf16Range(text, 5, 0), "");
    EXPECT_EQ(Unicode::substringForUtf16Range(text, 2, 1), std::nullopt);  // starts inside the pair
    EXPECT_EQ(Unicode::substringForUtf16Range(text, 0, 2), std::nullopt);  // ends inside the pair
    EXPECT_EQ(Unicode::substringForUtf16Range(text, 4, 2), std::nullopt);  // past the end
}

TEST(UnicodeTest, CodePointPrefixNeverSplitsACharacter) {
    const std::string text = "a\xF0\x9F\x98\x80" "b";
    EXPECT_EQ(Unicode::codePointPrefix(text, 0), "");
    EXPECT_EQ(Unicode::codePointPrefix(text, 2), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(Unicode::codePointPrefix(text, 10), text);
}

TEST(UnicodeTest, ValidatesUtf8Strictly) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"plain", true},
        {"\xE2\x82\xAC \xF0\x9F\x98\x80", true},
        {"\xC0\xAF", false},          // overlong "/"
        {"\xED\xA0\x80", false},      // UTF-16 surrogate encoded in UTF-8
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE2\x82", false},          // truncated
        {"a\x80", false},             // lone continuation byte
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Unicode::isValidUtf8(text), valid);
    }
}

TEST(UnicodeTest, Utf16RoundTripAndLoneSurrogates) {
    const std::string text = "x\xF0\x9F\x98\x80\xC3\xA9";
    EXPECT_EQ(Unicode::toUtf8(Unicode::toUtf16(text)), text);
    EXPECT_EQ(Unicode::toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(UnicodeTest, CaseMapping) {
    EXPECT_EQ(Unicode::lowercase("\xC3\x84\xC3\x96\xC3\x9C Abc"), "\xC3\xA4\xC3\xB6\xC3\xBC abc");
    EXPECT_EQ(Unicode::uppercase("stra\xC3\x9F" "e"), "STRASSE");
    // Root locale by default, whatever the environment says; Turkish on request.
    EXPECT_EQ(Unicode::lowercase("I"), "i");
    EXPECT_EQ(Unicode::lowercase("I", "tr"), "\xC4\xB1");
    EXPECT_EQ(Unicode::uppercase("i", "tr"), "\xC4\xB0");
    EXPECT_EQ(Unicode::uppercase(u"\xE9t\xE9"), u"\xC9T\xC9");
}

TEST(UnicodeTest, CaseInsensitiveComparison) {
    EXPECT_TRUE(Unicode::equalsCaseInsensitive("Hello", "hELLO"));
    EXPECT_TRUE(Unicode::equalsCaseInsensitive("\xC3\x84pfel", "\xC3\xA4PFEL"));
    EXPECT_FALSE(Unicode::equalsCaseInsensitive("abc", "abd"));
    EXPECT_LT(Unicode::compareCaseInsensitive("apple", "Banana"), 0);
    EXPECT_GT(Unicode::compareCaseInsensitive("Zebra", "apple"), 0);
}

TEST(UnicodeTest, LocalizedComparisonFollowsTheCollation) {
    // Byte order would put "B" and "_" before "a" and "é" after "f".
    EXPECT_LT(Unicode::compareLocalized("apple", "Banana", "en_US"), 0);
    EXPECT_LT(Unicode::compareLocalized("_x", "a", "en_US"), 0);
    EXPECT_LT(Unicode::compareLocalized("\xC3\xA9t\xC3\xA9", "f", "en_US"), 0);
    EXPECT_LT(Unicode::compareLocalized("a", "A", "en_US"), 0);
    EXPECT_GT(Unicode::compareLocalized("item2", "item10", "en_US"), 0);  // digits are not read as numbers
    // Only identical texts are equal, also where the collation ignores a difference.
    EXPECT_EQ(Unicode::compareLocalized("same", "same", "en_US"), 0);
    EXPECT_NE(Unicode::compareLocalized("e\xCC\x81", "\xC3\xA9", "en_US"), 0);
}

TEST(UnicodeTest, Trimming) {
    const std::string mixed = " \t\n\xC2\xA0" "a b\r\n\xE2\x80\xA8 ";  // NBSP in front, LINE SEPARATOR behind
    EXPECT_EQ(Unicode::trimWhitespaceAndNewlines(mixed), "a b");
    EXPECT_EQ(Unicode::trimWhitespaceAndNewlines("  \n "), "");
    EXPECT_EQ(Unicode::trimWhitespaceAndNewlines("\xC3\xA9"), "\xC3\xA9");
    EXPECT_EQ(Unicode::trimWhitespace(" \nabc\n "), "\nabc\n");
    EXPECT_EQ(Unicode::trimWhitespaceAndNewlines(u"\u3000 x\U0001F600 \n"), u"x\U0001F600");
}
