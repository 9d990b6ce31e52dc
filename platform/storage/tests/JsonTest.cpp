#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/storage/Json.h"

namespace platform {
namespace {

TEST(JsonTest, IntegersAbove2To53SurviveARoundTrip) {
  const std::string text = R"({"android_id":9007199254740993,"security_token":18446744073709551615,"neg":-9223372036854775808})";
  Result<Value> parsed = Json::parse(text);
  ASSERT_TRUE(parsed) << parsed.error().description();
  EXPECT_EQ(parsed.value()["android_id"].asInt64(), 9007199254740993LL);
  EXPECT_EQ(parsed.value()["security_token"].asUInt64(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(parsed.value()["neg"].asInt64(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(parsed.value()["android_id"].stringValue(), "9007199254740993");
  Result<std::string> written = Json::serialize(parsed.value());
  ASSERT_TRUE(written);
  EXPECT_EQ(written.value(), text);
}

TEST(JsonTest, KindsAreKept) {
  Result<Value> v = Json::parse(R"([true, 1, 1.0, 1e2, null, "s", {"a": false}])");
  ASSERT_TRUE(v);
  const Value& a = v.value();
  EXPECT_TRUE(a[0].isBool());
  EXPECT_TRUE(a[1].isInteger());
  EXPECT_TRUE(a[2].isFloatingNumber());
  EXPECT_TRUE(a[3].isFloatingNumber());
  EXPECT_TRUE(a[4].isNull());
  EXPECT_TRUE(a[6]["a"].isFalseObject());
  EXPECT_EQ(Json::serialize(a).valueOr("?"), R"([true,1,1.0,100.0,null,"s",{"a":false}])");
}

TEST(JsonTest, FragmentsNeedTheOption) {
  struct Case {
    const char* text;
    bool withoutOption;
    bool withOption;
  };
  for (const Case& c : {Case{"\"just text\"", false, true}, Case{"12", false, true}, Case{"null", false, true},
                        Case{"{}", true, true}, Case{"[1]", true, true}, Case{"", false, false},
                        Case{"{\"a\":1", false, false}, Case{"[1] trailing", false, false},
                        Case{"\"\xff\"", false, false}}) {
    EXPECT_EQ(Json::parse(c.text).ok(), c.withoutOption) << c.text;
    EXPECT_EQ(Json::parse(c.text, {.allowFragments = true}).ok(), c.withOption) << c.text;
  }
  EXPECT_EQ(Json::parse("\"x\"").error().code, Json::kErrorCode);
}

TEST(JsonTest, DepthIsLimited) {
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  EXPECT_FALSE(Json::parse(deep));
  EXPECT_TRUE(Json::parse("[[[1]]]", {.maxDepth = 3}));
  EXPECT_FALSE(Json::parse("[[[1]]]", {.maxDepth = 2}));
}

TEST(JsonTest, ValidJsonObjectDetection) {
  struct Case {
    const char* name;
    Value value;
    bool valid;
  };
  std::vector<Case> cases = {
      {"dictionary", Value::dict({{"a", Value::array({Value(1), Value(true), Value(), Value("s")})}}), true},
      {"array", Value::array({}), true},
      {"top-level string", Value("s"), false},
      {"top-level number", Value(1), false},
      {"date inside", Value::dict({{"d", Value::date(0)}}), false},
      {"data inside", Value::array({Value::data(Bytes{1})}), false},
      {"NaN inside", Value::array({Value(std::nan(""))}), false},
      {"infinity inside", Value::dict({{"x", Value(std::numeric_limits<double>::infinity())}}), false},
      {"set inside", Value::array({Value::set({})}), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Json::isValidJSONObject(c.value), c.valid) << c.name;
    EXPECT_EQ(Json::serialize(c.value).ok(), c.valid) << c.name;
  }
  Array cyclic;
  cyclic.append(Value(cyclic));
  EXPECT_FALSE(Json::isValidJSONObject(Value(cyclic)));
  cyclic.clear();  // break the cycle so the storage is freed
  EXPECT_TRUE(Json::serialize(Value("text"), {.allowFragments = true}));
}

TEST(JsonTest, PrettyOutputReadsBack) {
  Value v = Value::dict({{"b", Value(1)}, {"a", Value::array({Value("x")})}});
  Result<std::string> pretty = Json::serialize(v, {.pretty = true, .sortedKeys = true});
  ASSERT_TRUE(pretty);
  EXPECT_NE(pretty->find('\n'), std::string::npos);
  EXPECT_LT(pretty->find("\"a\""), pretty->find("\"b\""));
  EXPECT_EQ(Json::parse(pretty.value()).valueOr(Value()), v);
}

}  // namespace
}  // namespace platform
