#include "measurement/base/APMValue.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

#include "measurement/base/APMDataUtil.h"
#include "measurement/base/APMDecimal.h"
#include "measurement/base/APMNumericUtil.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

class FrontValue : public APMValue {
 public:
  using APMValue::APMValue;
  const char* className() const override { return "ROZAdavurudoValue"; }
};

TEST(APMValueTest, KindsAndConversions) {
  MeasurementTestEnvironment env;
  APMValuePtr number = APMValue::initWithDouble(2.5);
  EXPECT_TRUE(number->isDouble());
  EXPECT_EQ(number->doubleValue(), 2.5);
  EXPECT_EQ(number->int64Value(), 0);
  EXPECT_EQ(number->stringValue(), std::nullopt);
  EXPECT_EQ(number->description(), "2.5");

  APMValuePtr flag = APMValue::valueFromObject(true);
  ASSERT_TRUE(flag);
  EXPECT_TRUE(flag->isInt64());
  EXPECT_EQ(flag->int64Value(), 1);
  EXPECT_TRUE(APMValue::valueFromObject(2.5)->isDouble());
  EXPECT_TRUE(APMValue::valueFromObject(platform::Value(static_cast<float>(0.5)))->isDouble());
  EXPECT_TRUE(APMValue::valueFromObject(7)->isInt64());
  EXPECT_EQ(APMValue::valueFromObject("text")->stringValue(), "text");
  EXPECT_EQ(APMValue::valueFromObject(APMValue::toObject(number)), number);

  platform::Value items = platform::Value::array({platform::Value::dict({{"a", 1}})});
  EXPECT_EQ(APMValue::valueFromObject(items), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS035001] Cannot create Value type with unsupported value. The Value has to be "
                         "NSNumber, NSString or NSArray (if supported). Value: [{\"a\": 1}]"));
  APMValuePtr array = APMValue::valueFromObject(items, true);
  ASSERT_TRUE(array);
  EXPECT_TRUE(array->isArray());
  // The elements are copies: changing the caller's dictionary changes nothing.
  items.asArray()->at(0).asDictionary()->set("b", 2);
  EXPECT_EQ(array->arrayValue()->at(0).asDictionary()->size(), 1u);

  EXPECT_EQ(APMValue::valueFromObject(platform::Value()), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS035000] Cannot create Value type with nil value"));
  EXPECT_EQ(APMValue::valueFromObject(platform::Value::dict()), nullptr);
  EXPECT_EQ(APMValue::initWithString(platform::Value()), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS035002] Cannot create String value with nil"));
  EXPECT_EQ(APMValue::initWithString(3), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS035003] Cannot create String value with non-string value. Value: 3"));
  EXPECT_EQ(APMValue::initWithArray(platform::Value()), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS035004]"));
  EXPECT_EQ(APMValue::initWithArray("x"), nullptr);
  EXPECT_TRUE(env.logged("[I-ACS035005] Cannot create Array value with non-array value. Value: x"));
}

TEST(APMValueTest, EqualityAcrossKindsAndSubclasses) {
  APMValuePtr three = APMValue::initWithInt64(3);
  APMValuePtr threeAgain = APMValue::initWithInt64(3);
  APMValuePtr threeDouble = APMValue::initWithDouble(3.0);
  FrontValue front(APMValue::kInt64, platform::Value(3));
  EXPECT_TRUE(three->isEqual(*threeAgain));
  EXPECT_EQ(three->hash(), threeAgain->hash());
  EXPECT_FALSE(three->isEqual(*threeDouble));
  EXPECT_FALSE(three->isEqual(front));
  EXPECT_TRUE(front.isEqual(*three));
  EXPECT_TRUE(three->copy()->isEqual(*three));
  EXPECT_EQ(three->hash(), static_cast<size_t>(APMValue::kInt64 * 31) ^ platform::Value(3).hash());
  // Inside value trees they compare by contents.
  EXPECT_EQ(APMValue::toObject(three), APMValue::toObject(threeAgain));
  EXPECT_NE(APMValue::toObject(three), APMValue::toObject(threeDouble));
}

TEST(APMDataUtilTest, Md5SuiteAndLowBits) {
  const std::pair<const char*, const char*> suite[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& [text, hex] : suite) EXPECT_EQ(apm_MD5String(text), hex) << text;
  EXPECT_EQ(apm_MD5String("\xff"), std::nullopt);

  EXPECT_EQ(apm_64LSBMD5(std::span<const uint8_t>()), static_cast<int64_t>(0xe9800998ecf8427eULL));
  EXPECT_EQ(apm_64LSBMD5(std::string_view("abc")), static_cast<int64_t>(0xd6963f7d28e17f72ULL));
  EXPECT_EQ(apm_64LeastSignificantBits(std::span<const uint8_t>()), 0u);
  const std::array<uint8_t, 3> three = {0x01, 0x02, 0x03};
  EXPECT_EQ(apm_64LeastSignificantBits(three), 0x010203u);
  std::array<uint8_t, 16> sixteen{};
  for (size_t index = 0; index < sixteen.size(); ++index) sixteen[index] = static_cast<uint8_t>(index);
  EXPECT_EQ(apm_64LeastSignificantBits(sixteen), 0x08090a0b0c0d0e0fu);
}

TEST(APMDataUtilTest, QueryStringsBothWays) {
  EXPECT_EQ(apm_queryString(platform::Dictionary{{"a", "x&y=z+"}}), "a=x%26y%3Dz%2B");
  EXPECT_EQ(apm_queryString(platform::Dictionary{{"k y", "ä/?:@"}, {"n", 5}}), "k%20y=%C3%A4/?:@&n=5");
  EXPECT_EQ(apm_queryString(platform::Dictionary()), "");

  struct Row {
    const char* text;
    platform::Dictionary expected;
  };
  const Row rows[] = {
      {"a=1&a=2&b", {{"a", "1"}, {"b", ""}}},
      {"x=%41+b&&y=", {{"x", "A b"}, {"y", ""}}},
      {"bad=%4&ok=1", {{"bad", ""}, {"ok", "1"}}},
      {"e=a=b", {{"e", "a=b"}}},
      {"", {}},
  };
  for (const Row& row : rows) {
    platform::Dictionary parsed = apm_dictionaryWithHttpArgumentsString(row.text);
    EXPECT_EQ(platform::Value(parsed), platform::Value(row.expected)) << row.text;
  }
  EXPECT_EQ(apm_stringByUnescapingFromURLArgument("%41+b"), "A b");
  EXPECT_EQ(apm_stringByUnescapingFromURLArgument("%4"), std::nullopt);
  EXPECT_EQ(apm_stringByUnescapingFromURLArgument("%ff"), std::nullopt);
  EXPECT_EQ(apm_stringByUnescapingFromURLArgument("%2B"), "+");
}

TEST(APMDataUtilTest, BitsAndUtf32) {
  EXPECT_TRUE(isBitEnabledAtIndex("0101", 1));
  EXPECT_FALSE(isBitEnabledAtIndex("0101", 0));
  EXPECT_FALSE(isBitEnabledAtIndex("0101", -1));
  EXPECT_FALSE(isBitEnabledAtIndex("0101", 4));

  EXPECT_EQ(apm_UTF32Length("\xF0\x9F\x98\x80"), 1u);  // one emoji, two UTF-16 units
  EXPECT_EQ(apm_UTF32Length("e\xCC\x81"), 2u);          // e + combining acute
  EXPECT_EQ(apm_UTF32Length(""), 0u);
  std::array<uint8_t, 8> buffer;
  buffer.fill(0xAA);
  apm_getUTF32Bytes("a\xF0\x9F\x98\x80", buffer.data(), 6);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.end()),
            (std::vector<uint8_t>{'a', 0, 0, 0, 0xAA, 0xAA, 0xAA, 0xAA}));
  apm_getUTF32Bytes("a\xF0\x9F\x98\x80", buffer.data(), 8);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.end()),
            (std::vector<uint8_t>{'a', 0, 0, 0, 0x00, 0xF6, 0x01, 0x00}));
}

TEST(APMDecimalTest, ParsingWithThePrecisionCheck) {
  MeasurementTestEnvironment env;
  struct Row {
    const char* text;
    const char* canonical;  // nullptr: refused
  };
  const Row rows[] = {
      {"1.50", "1.5"},
      {"-1.50", "-1.5"},
      {"+2", "2"},
      {".5", "0.5"},
      {"-.5", "-0.5"},
      {"+.25", "0.25"},
      {"007", "7"},
      {"1.", "1"},
      {"0", "0"},
      {"-0.0", "0"},
      {"100", "100"},
      {"0.05", "0.05"},
      {"12345678901234567890123456789012345678", "12345678901234567890123456789012345678"},
      {"1.0000000000000000000000000000000000000000", "1"},
      {"123456789012345678901234567890123456789", nullptr},
      {"1e3", nullptr},
      {"1E3", nullptr},
      {"", nullptr},
      {".", nullptr},
      {"1.2.3", nullptr},
      {" 1", nullptr},
      {"1\n", nullptr},
      {"1,5", nullptr},
      {"abc", nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::optional<APMDecimal> number = APMDecimalNumberFromString(row.text);
    EXPECT_EQ(number.has_value(), row.canonical != nullptr);
    if (number && row.canonical != nullptr) {
      EXPECT_EQ(number->canonicalText(), row.canonical);
    }
  }
  EXPECT_TRUE(APMIsDecimalString("-12.5"));
  EXPECT_FALSE(APMIsDecimalString("1e3"));
  EXPECT_EQ(APMDecimal::parse("0.000001")->canonicalText(), "0.000001");
  EXPECT_EQ(APMDecimal::parse("1" + std::string(200, '0')), std::nullopt);
  EXPECT_LT(*APMDecimal::parse("-2"), *APMDecimal::parse("1.5"));
  EXPECT_LT(*APMDecimal::parse("1.49"), *APMDecimal::parse("1.5"));
  EXPECT_GT(*APMDecimal::parse("-1.49"), *APMDecimal::parse("-1.5"));
  EXPECT_EQ(*APMDecimal::parse("1.50"), *APMDecimal::parse("1.5"));
}

TEST(APMDecimalTest, ScaledRoundingIsExactAndChecked) {
  struct Row {
    const char* text;
    int64_t factor;
    int shift;
    std::optional<int64_t> expected;
  };
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const Row rows[] = {
      {"2.01", 1, 6, 2010000},  // 2.01 * 1e6 in doubles is 2009999.9999999998
      {"2.01", 3, 6, 6030000},
      {"0.99", 7, 6, 6930000},
      {"0.0000015", 1, 6, 2},  // half away from zero
      {"0.0000014", 1, 6, 1},
      {"-0.0000015", 1, 6, -2},
      {"0.0000015", -1, 6, -2},
      {"0.0000004", 1, 6, 0},
      {"1.5", 1, 0, 2},
      {"-2.5", 1, 0, -3},
      {"0", 5, 6, 0},
      {"4.99", 0, 6, 0},
      {"9223372036854.775807", 1, 6, kMax},
      {"9223372036854.775808", 1, 6, std::nullopt},
      {"-9223372036854.775808", 1, 6, kMin},
      {"-9223372036854.775809", 1, 6, std::nullopt},
      {"9223372036854.7758074", 1, 6, kMax},  // rounds down onto the limit
      {"9223372036854.7758075", 1, 6, std::nullopt},  // rounds up past it
      {"1", kMax, 0, kMax},
      {"1", kMin, 0, kMin},
      {"2", kMax, 0, std::nullopt},
      {"4.99", kMax, 6, std::nullopt},
      {"12345678901234567890123456789012345678", 1, 0, std::nullopt},
      {"18446744073709551616", 1, 0, std::nullopt},  // 2^64
      {"1", 1, 127, std::nullopt},
      {"1", 1, -200, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text) + " x " + std::to_string(row.factor) + " e" + std::to_string(row.shift));
    std::optional<APMDecimal> number = APMDecimal::parse(row.text);
    ASSERT_TRUE(number.has_value());
    EXPECT_EQ(number->roundedInt64(row.factor, row.shift), row.expected);
  }
}

TEST(APMDecimalTest, AFailedCompilationIsReportedAndRetried) {
  MeasurementTestEnvironment env;
  apm_testing::setDecimalPatternForTesting("([");
  EXPECT_FALSE(APMIsDecimalString("1"));
  apm_testing::setDecimalPatternForTesting("");
  EXPECT_TRUE(APMIsDecimalString("1"));
  // Level 2 is silent: only the health sample knows.
  EXPECT_FALSE(env.logged("I-ACS026000"));
}

TEST(APMNumericUtilTest, RandomInt64ComesFromTheRandomSource) {
  MeasurementTestEnvironment env;
  auto random = std::make_shared<platform::DeterministicRandomSource>(7);
  platform::RandomSource::setCurrent(random);
  const int64_t first = APMNumericUtil::randomInt64();
  platform::RandomSource::setCurrent(std::make_shared<platform::DeterministicRandomSource>(7));
  EXPECT_EQ(APMNumericUtil::randomInt64(), first);
}

}  // namespace
