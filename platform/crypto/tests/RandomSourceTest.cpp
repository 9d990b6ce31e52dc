#include "platform/crypto/RandomSource.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>

using platform::DeterministicRandomSource;
using platform::RandomSource;

namespace {

// Hands out scripted 32-bit values, to see exactly which draws are used.
class ScriptedSource : public RandomSource {
public:
    explicit ScriptedSource(std::deque<uint32_t> values) : m_values(std::move(values)) {}
    void fill(std::span<uint8_t> out) override {
        for (auto& b : out) b = 0;
    }
    uint32_t uint32() override {
        ++draws;
        const uint32_t v = m_values.front();
        m_values.pop_front();
        return v;
    }
    int draws = 0;

private:
    std::deque<uint32_t> m_values;
};

}  // namespace

TEST(RandomSourceTest, UniformRejectsTheBiasedLowRange) {
    // For n = 3, 2^32 mod 3 = 1: the draw 0 would favour result 0 and is rejected.
    ScriptedSource source({0u, 5u});
    EXPECT_EQ(source.uniform(3), 2u);
    EXPECT_EQ(source.draws, 2);

    // For a power of two nothing is rejected.
    ScriptedSource power({0xFFFFFFFFu});
    EXPECT_EQ(power.uniform(8), 7u);
    EXPECT_EQ(power.draws, 1);

    // n = 2^31 + 1: draws below 2^31 - 1 are rejected.
    ScriptedSource large({0x7FFFFFFEu, 0x7FFFFFFFu});
    EXPECT_EQ(large.uniform(0x80000001u), 0x7FFFFFFFu);
    EXPECT_EQ(large.draws, 2);
}

TEST(RandomSourceTest, UniformEndsOnASourceThatOnlyAnswersZero) {
    // A stuck source (a test double of all zeros) gets a bounded number of
    // draws instead of spinning forever in the rejection loop.
    ScriptedSource source(std::deque<uint32_t>(64, 0u));
    EXPECT_EQ(source.uniform(3), 0u);
    EXPECT_EQ(source.draws, 64);
    ScriptedSource wide({});
    EXPECT_EQ(wide.uniform64(3), 0u);  // fill() answers zeros
}

TEST(RandomSourceTest, UniformBelowTwoIsZeroWithoutDrawing) {
    ScriptedSource source({});
    EXPECT_EQ(source.uniform(0), 0u);
    EXPECT_EQ(source.uniform(1), 0u);
    EXPECT_EQ(source.uniform64(1), 0u);
    EXPECT_EQ(source.draws, 0);
}

TEST(RandomSourceTest, UniformStaysBelowBoundAndCoversRange) {
    DeterministicRandomSource source(42);
    for (uint32_t n : {2u, 3u, 7u, 1000u, 86400000u, 0x80000001u, 0xFFFFFFFFu}) {
        uint32_t lowest = n, highest = 0;
        for (int i = 0; i < 2000; ++i) {
            const uint32_t r = source.uniform(n);
            ASSERT_LT(r, n);
            lowest = std::min(lowest, r);
            highest = std::max(highest, r);
        }
        // 2000 draws reach both ends of small ranges and both halves of large ones.
        if (n <= 7) {
            EXPECT_EQ(lowest, 0u);
            EXPECT_EQ(highest, n - 1);
        } else {
            EXPECT_LT(lowest, n / 2);
            EXPECT_GE(highest, n / 2);
        }
    }
    std::set<uint64_t> seen;
    for (int i = 0; i < 200; ++i) {
        const uint64_t r = source.uniform64(5);
        ASSERT_LT(r, 5u);
        seen.insert(r);
    }
    EXPECT_EQ(seen.size(), 5u);
}

TEST(RandomSourceTest, DeterministicSourceRepeatsForTheSameSeed) {
    DeterministicRandomSource a(7), b(7), c(8);
    const auto first = a.bytes(37);
    EXPECT_EQ(first, b.bytes(37));
    EXPECT_NE(first, c.bytes(37));
    EXPECT_EQ(a.int64(), b.int64());
}

TEST(RandomSourceTest, CurrentIsInjectableAndRestorable) {
    auto scripted = std::make_shared<ScriptedSource>(std::deque<uint32_t>{6u, 7u});
    RandomSource::setCurrent(scripted);
    EXPECT_EQ(RandomSource::current().get(), scripted.get());
    EXPECT_FALSE(RandomSource::current()->parityBit());
    EXPECT_TRUE(RandomSource::current()->parityBit());
    RandomSource::setCurrent(nullptr);
    EXPECT_EQ(RandomSource::current(), RandomSource::system());
}

TEST(RandomSourceTest, SystemSourceFillsWithFreshBytes) {
    auto system = RandomSource::system();
    const auto a = system->bytes(32);
    const auto b = system->bytes(32);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);  // equal only with probability 2^-256
    EXPECT_TRUE(system->bytes(0).empty());
}
