#include "platform/text/Base64.h"
#include "platform/text/PercentEncoding.h"

#include <gtest/gtest.h>

using platform::Base64;
using platform::PercentEncoding;

TEST(PercentEncodingTest, EncodingSets) {
    struct Case {
        std::string input;
        std::string alphanumericDash;
        std::string query;
        std::string form;
    };
    const Case cases[] = {
        {"abcXYZ019-", "abcXYZ019-", "abcXYZ019-", "abcXYZ019-"},
        {"a_b.c~d%e", "a%5Fb%2Ec%7Ed%25e", "a_b.c~d%25e", "a_b.c~d%25e"},
        {"/topics/news%", "%2Ftopics%2Fnews%25", "/topics/news%25", "/topics/news%25"},
        {"k=v&x+y", "k%3Dv%26x%2By", "k=v&x+y", "k%3Dv%26x%2By"},
        {"?:@!$'()*,;", "%3F%3A%40%21%24%27%28%29%2A%2C%3B", "?:@!$'()*,;", "?:@!$'()*,;"},
        {"a b#[]\"<>", "a%20b%23%5B%5D%22%3C%3E", "a%20b%23%5B%5D%22%3C%3E", "a%20b%23%5B%5D%22%3C%3E"},
        {"\xC3\xA9\xF0\x9F\x98\x80", "%C3%A9%F0%9F%98%80", "%C3%A9%F0%9F%98%80", "%C3%A9%F0%9F%98%80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(PercentEncoding::encodeAlphanumericDash(c.input), c.alphanumericDash);
        EXPECT_EQ(PercentEncoding::encodeQuery(c.input), c.query);
        EXPECT_EQ(PercentEncoding::encodeFormComponent(c.input), c.form);
        EXPECT_EQ(PercentEncoding::decode(c.alphanumericDash), c.input);
        EXPECT_EQ(PercentEncoding::decode(c.form), c.input);
    }
}

TEST(PercentEncodingTest, DecodingIsStrict) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"%41%62", "Ab"},
        {"%c3%a9", "\xC3\xA9"},
        {"a+b", "a+b"},  // "+" is not a space here
        {"", ""},
        {"100%", std::nullopt},
        {"%4", std::nullopt},
        {"%zz", std::nullopt},
        {"%%41", std::nullopt},
        {"%FF", std::nullopt},  // not UTF-8
    };
    for (const auto& [text, decoded] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(PercentEncoding::decode(text), decoded);
    }
    EXPECT_EQ(PercentEncoding::decodeBytes("%FF%00"), std::string("\xFF\x00", 2));
}

TEST(Base64Test, Rfc4648Vectors) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : cases) {
        SCOPED_TRACE(plain);
        EXPECT_EQ(Base64::encode(plain), encoded);
        const auto decoded = Base64::decode(encoded, Base64::Alphabet::Standard, Base64::Padding::Required);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), plain);
        // Unpadded form decodes too, unless padding is required.
        std::string unpadded = encoded;
        while (!unpadded.empty() && unpadded.back() == '=') unpadded.pop_back();
        EXPECT_EQ(Base64::encode(plain, Base64::Alphabet::Standard, false), unpadded);
        EXPECT_EQ(Base64::decode(unpadded), decoded);
        if (unpadded != encoded) {
            EXPECT_FALSE(Base64::decode(unpadded, Base64::Alphabet::Standard, Base64::Padding::Required));
        }
    }
}

TEST(Base64Test, UrlAlphabet) {
    const std::vector<uint8_t> bytes = {0xfb, 0xff, 0xbf};
    EXPECT_EQ(Base64::encode(bytes), "+/+/");
    EXPECT_EQ(Base64::encode(bytes, Base64::Alphabet::Url), "-_-_");
    EXPECT_EQ(Base64::encode(std::span(bytes).first(2), Base64::Alphabet::Url, false), "-_8");
    EXPECT_EQ(Base64::decode("-_-_", Base64::Alphabet::Url), bytes);
    EXPECT_FALSE(Base64::decode("-_-_"));                          // not the standard alphabet
    EXPECT_FALSE(Base64::decode("+/+/", Base64::Alphabet::Url));   // not the URL alphabet
}

TEST(Base64Test, DecodingRejectsAnythingOutsideTheAlphabet) {
    for (const char* bad : {"Zm9v\n", "Zm 9v", " Zm9v", "Zm9v=", "Zg=", "Zg===", "Z", "Zm9vY", "Zm=9v", "====",
                            "Zm9v!A==", "Zm9\xC3\xA9"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(Base64::decode(bad));
    }
}
