#include "platform/crypto/Gzip.h"

#include "platform/crypto/RandomSource.h"

#include <gtest/gtest.h>
#include <zlib.h>

using platform::Gzip;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes gzip(const Bytes& data) {
    auto r = Gzip::compress(data);
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(r.ok() && r->has_value());
    return r.ok() && r->has_value() ? **r : Bytes{};
}

int64_t zlibStatus(const platform::Error& error) {
    const auto* v = error.userInfo.find(Gzip::kStatusKey);
    EXPECT_NE(v, nullptr);
    return v ? v->longLongValue() : 0;
}

}  // namespace

TEST(GzipTest, RoundTripsAndWritesGzipMagic) {
    platform::DeterministicRandomSource random(1);
    const std::vector<Bytes> inputs = {
        Bytes{'x'},
        Bytes(1 << 20, 'a'),    // compresses to far less than one chunk
        random.bytes(100000),  // incompressible, several chunks each way
    };
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.size());
        const Bytes compressed = gzip(input);
        ASSERT_GE(compressed.size(), 18u);
        EXPECT_EQ(compressed[0], 0x1f);
        EXPECT_EQ(compressed[1], 0x8b);
        auto inflated = Gzip::inflate(compressed);
        ASSERT_TRUE(inflated.ok()) << inflated.error().description();
        ASSERT_TRUE(inflated->has_value());
        EXPECT_EQ(**inflated, input);
    }
}

TEST(GzipTest, EmptyInputGivesNothingAndNoError) {
    auto c = Gzip::compress({});
    ASSERT_TRUE(c.ok());
    EXPECT_FALSE(c->has_value());
    auto i = Gzip::inflate({});
    ASSERT_TRUE(i.ok());
    EXPECT_FALSE(i->has_value());
}

TEST(GzipTest, InflatesZlibWrappedData) {
    const std::string text = "zlib wrapped, not gzip";
    Bytes out(compressBound(text.size()));
    uLongf size = out.size();
    ASSERT_EQ(compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 6), Z_OK);
    out.resize(size);
    auto r = Gzip::inflate(out);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(std::string((*r)->begin(), (*r)->end()), text);
}

TEST(GzipTest, BadInputGivesErrorValues) {
    const Bytes input(5000, 'q');
    const Bytes compressed = gzip(input);

    {  // trailing bytes after the gzip stream
        Bytes extra = compressed;
        extra.insert(extra.end(), {1, 2, 3});
        auto r = Gzip::inflate(extra);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().domain, "com.zoruvu.ZULNSDataZlibErrorDomain");
        EXPECT_EQ(r.error().code, 1026);
        const auto* remaining = r.error().userInfo.find(Gzip::kRemainingBytesKey);
        ASSERT_NE(remaining, nullptr);
        EXPECT_EQ(remaining->longLongValue(), 3);
    }
    {  // truncated: zlib runs out of input (buffer error)
        auto r = Gzip::inflate(std::span(compressed).first(compressed.size() - 6));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, 1025);
        EXPECT_EQ(zlibStatus(r.error()), Z_BUF_ERROR);
    }
    {  // not compressed data at all
        const std::string text = "this is plain text, not a compressed stream";
        auto r = Gzip::inflate(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, 1025);
        EXPECT_EQ(zlibStatus(r.error()), Z_DATA_ERROR);
        EXPECT_FALSE(r.error().localizedDescription().empty());
    }
    {  // damaged trailer: the CRC check fails
        Bytes damaged = compressed;
        damaged[damaged.size() - 8] ^= 0xff;
        auto r = Gzip::inflate(damaged);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, 1025);
        EXPECT_EQ(zlibStatus(r.error()), Z_DATA_ERROR);
    }
}

TEST(GzipTest, InflationStopsAtTheSizeLimit) {
    const Bytes zeros(4 << 20, 0);
    const Bytes bomb = gzip(zeros);
    ASSERT_LT(bomb.size(), 10000u);

    auto limited = Gzip::inflate(bomb, 1 << 20);
    ASSERT_FALSE(limited.ok());
    EXPECT_EQ(limited.error().code, Gzip::kErrorOutputTooLarge);

    auto exact = Gzip::inflate(bomb, zeros.size());
    ASSERT_TRUE(exact.ok());
    EXPECT_EQ((*exact)->size(), zeros.size());
}
