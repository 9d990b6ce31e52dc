#include "sdk/utilities/ZULGzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes randomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random() % 7);  // compressible
  return bytes;
}

Bytes gzip(const Bytes& input) {
  auto output = ZULGzip::zul_dataByGzippingData(input);
  EXPECT_TRUE(output.has_value());
  return output.value_or(Bytes());
}

TEST(ZULGzipTest, RoundTripsAndWritesTheGzipMagic) {
  for (size_t size : {size_t(1), size_t(1023), size_t(1025), size_t(200000)}) {
    Bytes input = randomBytes(size, static_cast<unsigned>(size));
    Bytes compressed = gzip(input);
    ASSERT_GE(compressed.size(), 2u);
    EXPECT_EQ(compressed[0], 0x1f);
    EXPECT_EQ(compressed[1], 0x8b);
    EXPECT_EQ(ZULGzip::zul_dataByInflatingGzippedData(compressed), std::optional<Bytes>(input)) << size;
  }
}

TEST(ZULGzipTest, InflatesZlibWrappedData) {
  Bytes input = randomBytes(5000, 1);
  uLongf size = compressBound(input.size());
  Bytes wrapped(size);
  ASSERT_EQ(compress(wrapped.data(), &size, input.data(), input.size()), Z_OK);
  wrapped.resize(size);
  EXPECT_EQ(ZULGzip::zul_dataByInflatingGzippedData(wrapped), std::optional<Bytes>(input));
}

TEST(ZULGzipTest, BadInputGivesTheDomainErrors) {
  Bytes compressed = gzip(randomBytes(3000, 2));
  struct Case {
    const char* name;
    Bytes input;
    int64_t code;
    const char* key;
    int64_t value;
  };
  Bytes trailing = compressed;
  trailing.insert(trailing.end(), {1, 2, 3});
  Bytes truncated(compressed.begin(), compressed.begin() + static_cast<long>(compressed.size() / 2));
  Bytes corrupt = compressed;
  corrupt[12] ^= 0xff;
  corrupt[13] ^= 0xff;
  const Case cases[] = {
      {"trailing", trailing, 1026, "ZULNSDataZlibRemainingBytesKey", 3},
      {"truncated", truncated, 1025, "ZULNSDataZlibErrorKey", Z_BUF_ERROR},
      {"not gzip", Bytes{'h', 'e', 'l', 'l', 'o'}, 1025, "ZULNSDataZlibErrorKey", Z_DATA_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::Error error;
    EXPECT_FALSE(ZULGzip::zul_dataByInflatingGzippedData(c.input, &error).has_value());
    EXPECT_EQ(error.domain, "com.zoruvu.ZULNSDataZlibErrorDomain");
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.userInfo.get(c.key).integerValue(), c.value);
    EXPECT_FALSE(ZULGzip::zul_dataByInflatingGzippedData(c.input).has_value());  // no error pointer
  }
}

TEST(ZULGzipTest, EmptyInputGivesNothingAndLeavesTheErrorAlone) {
  platform::Error error("untouched", 7);
  EXPECT_FALSE(ZULGzip::zul_dataByGzippingData({}, &error).has_value());
  EXPECT_FALSE(ZULGzip::zul_dataByInflatingGzippedData({}, &error).has_value());
  EXPECT_EQ(error.domain, "untouched");
  EXPECT_EQ(error.code, 7);
}

}  // namespace
