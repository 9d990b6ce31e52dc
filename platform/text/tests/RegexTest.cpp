#include "platform/text/Regex.h"

#include <gtest/gtest.h>

#include <thread>

using platform::Regex;
using platform::RegexCapture;
using platform::RegexOptions;

namespace {

Regex compiled(std::string_view pattern, const RegexOptions& options = {}) {
    auto r = Regex::compile(pattern, options);
    EXPECT_TRUE(r.ok()) << pattern << ": " << (r.ok() ? "" : r.error().description());
    return std::move(r).value();
}

}  // namespace

TEST(RegexTest, FirstMatchRangesAreUtf16Units) {
    struct Case {
        std::string pattern;
        std::string text;
        std::optional<RegexCapture> match;
    };
    const Case cases[] = {
        {R"(\d+\.?\d*%)", "[download]  45.3% of 10.00MiB at 1.2MiB/s", RegexCapture{12, 5, "45.3%"}},
        {R"(at\s+[\d\.]+\w+iB/s)", "45.3% of 10.00MiB at  1.25MiB/s ETA", RegexCapture{18, 13, "at  1.25MiB/s"}},
        {R"(of\s+[\d\.]+\w+iB)", "45.3% of ~10.00MiB", std::nullopt},
        // 😀 is two UTF-16 units, é one.
        {"b", "\xF0\x9F\x98\x80" "ab", RegexCapture{3, 1, "b"}},
        {R"(\p{L}+)", "\xF0\x9F\x98\x80" "1\xC3\xA9" "a2", RegexCapture{3, 2, "\xC3\xA9" "a"}},
        {R"([\p{L}\p{Nd}_]+)", "-- n\xC3\xA4me_\xD9\xA3 --", RegexCapture{3, 6, "n\xC3\xA4me_\xD9\xA3"}},
        {".", "\xF0\x9F\x98\x80", RegexCapture{0, 2, "\xF0\x9F\x98\x80"}},
        {"x*", "abc", RegexCapture{0, 0, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern + " / " + c.text);
        const Regex regex = compiled(c.pattern);
        auto m = regex.firstMatch(c.text);
        ASSERT_TRUE(m.ok());
        ASSERT_EQ(m->has_value(), c.match.has_value());
        if (c.match) {
            EXPECT_EQ((*m)->captures[0], c.match);
        }
    }
    auto m16 = compiled("b").firstMatch(std::u16string_view(u"\U0001F600" u"ab"));
    ASSERT_TRUE(m16.ok() && m16->has_value());
    EXPECT_EQ((*m16)->location(), 3u);
}

TEST(RegexTest, OptionsAndAnchors) {
    const Regex ltv = compiled("^_ltv_[A-Z]{3}$");
    const Regex ltvFolded = compiled("^_ltv_[A-Z]{3}$", {.caseInsensitive = true});
    EXPECT_TRUE(*ltv.search("_ltv_USD"));
    EXPECT_FALSE(*ltv.search("_ltv_usd"));
    EXPECT_TRUE(*ltvFolded.search("_ltv_usd"));

    const Regex numeric = compiled(R"(^[+-]?(([0-9]+\.?)|([0-9]*\.[0-9]+))$)", {.caseInsensitive = true});
    for (const char* ok : {"1", "-1.", "+.5", "12.75"}) EXPECT_TRUE(*numeric.search(ok)) << ok;
    for (const char* bad : {"", "1e5", ".", "1.2.3", " 1"}) EXPECT_FALSE(*numeric.search(bad)) << bad;

    const Regex host = compiled(R"(^(www\.)?zoruvu(\.com?)?(\.[a-z]{2}t?)?$)");
    EXPECT_TRUE(*host.search("www.zoruvu.co.uk"));
    EXPECT_FALSE(*host.search("zoruvu.evil.test"));

    // Without multiline "$" matches only at the end; with it also before "\n".
    const Regex line = compiled("^b$");
    const Regex lines = compiled("^b$", {.multiline = true});
    EXPECT_FALSE(*line.search("a\nb\nc"));
    EXPECT_TRUE(*lines.search("a\nb\nc"));
}

TEST(RegexTest, WholeStringMatchAndCaptureGroups) {
    const Regex topic = compiled("/topics/([a-zA-Z0-9-_.~%]+)", {.multiline = true});
    EXPECT_TRUE(*topic.matchesWhole("/topics/news%25"));
    EXPECT_FALSE(*topic.matchesWhole("/topics/news x"));
    EXPECT_FALSE(*topic.matchesWhole("x/topics/news"));
    auto m = topic.firstMatch("see /topics/a.b~c");
    ASSERT_TRUE(m.ok() && m->has_value());
    EXPECT_EQ((*m)->group(1), (RegexCapture{12, 5, "a.b~c"}));

    const Regex alternatives = compiled("(a)|(b)");
    EXPECT_EQ(alternatives.groupCount(), 2u);
    auto alt = alternatives.firstMatch("xb");
    ASSERT_TRUE(alt.ok() && alt->has_value());
    EXPECT_FALSE((*alt)->group(1));
    EXPECT_EQ((*alt)->group(2), (RegexCapture{1, 1, "b"}));
    EXPECT_FALSE((*alt)->group(3));
}

TEST(RegexTest, AllMatches) {
    auto all = compiled(R"(\d+)").allMatches("a1b22\xF0\x9F\x98\x80" "333");
    ASSERT_TRUE(all.ok());
    ASSERT_EQ(all->size(), 3u);
    EXPECT_EQ((*all)[1].text(), "22");
    EXPECT_EQ((*all)[2].location(), 7u);
    EXPECT_EQ((*all)[2].length(), 3u);
    auto none = compiled("z").allMatches("abc");
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->empty());
}

TEST(RegexTest, InvalidPatternIsAnErrorValue) {
    for (const char* bad : {"(", "[a-", "a{2,1}", "\\p{NoSuchClass}", "*a"}) {
        auto r = Regex::compile(bad);
        ASSERT_FALSE(r.ok()) << bad;
        EXPECT_EQ(r.error().domain, Regex::kErrorDomain);
        EXPECT_EQ(r.error().code, Regex::kInvalidPattern);
        EXPECT_NE(r.error().localizedDescription().find("offset"), std::string::npos);
    }
}

TEST(RegexTest, CatastrophicPatternHitsTheWorkLimit) {
    const std::string text = std::string(40, 'a') + "b";
    const Regex regex = compiled("(a+)+$", {.timeLimit = 5});
    for (auto result : {regex.search(text), regex.matchesWhole(text)}) {
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().code, Regex::kLimitExceeded);
    }
    // The default limit applies as well: no option is needed to be safe.
    auto withDefault = compiled("(a+)+$").firstMatch(text);
    ASSERT_FALSE(withDefault.ok());
    EXPECT_EQ(withDefault.error().code, Regex::kLimitExceeded);
    // A harmless text still matches under the same limit.
    EXPECT_TRUE(*regex.search("aaaa"));
}

TEST(RegexTest, DeepBacktrackingHitsTheStackLimit) {
    const Regex regex = compiled("(a|b)*c", {.timeLimit = 0, .stackLimitBytes = 4096});
    auto r = regex.search(std::string(100000, 'a'));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, Regex::kLimitExceeded);
}

TEST(RegexTest, OneCompiledRegexServesSeveralThreads) {
    const Regex regex = compiled(R"((\d+)-(\d+))");
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const std::string text = "x" + std::to_string(t) + "-" + std::to_string(i);
                auto m = regex.firstMatch(text);
                if (!m.ok() || !m->has_value() || (*m)->group(2)->text != std::to_string(i)) ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
}
