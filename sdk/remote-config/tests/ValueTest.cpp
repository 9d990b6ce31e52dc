#include <gtest/gtest.h>

#include "sdk/remote-config/ZUVUduvedOrovarSettings.h"
#include "sdk/remote-config/ZUVUduvedOrovarValue.h"
#include "sdk/remote-config/interop/RIRRolloutsState.h"
#include "sdk/remote-config/interop/ZUVUduvedOrovarConstants.h"
#include "sdk/remote-config/tests/RemoteConfigTestSupport.h"

namespace {

using platform::Bytes;

std::shared_ptr<ZUVUduvedOrovarValue> remote(const std::string& text) {
  return ZUVUduvedOrovarValue::initWithData(Bytes(text.begin(), text.end()), ZUVUduvedOrovarSourceRemote);
}

class ValueTest : public rctest::RemoteConfigTest {};

TEST_F(ValueTest, TextViews) {
  struct Case {
    const char* text;
    bool boolValue;
    double numberValue;
  };
  const Case cases[] = {
      {"true", true, 0},      {"yes", true, 0},    {"T", true, 0},    {"  1", true, 1}, {"  -1", true, -1},
      {"   12", true, 12},    {"false", false, 0}, {"no", false, 0},  {"0", false, 0},  {"", false, 0},
      {"3.5abc", true, 3.5},  {"  +0042", true, 42}, {"-0.5", false, -0.5}, {"1e3x", true, 1000},
  };
  for (const Case& c : cases) {
    auto value = remote(c.text);
    EXPECT_EQ(value->boolValue(), c.boolValue) << c.text;
    EXPECT_EQ(value->numberValue().asDouble(), c.numberValue) << c.text;
    EXPECT_EQ(value->stringValue(), c.text);
  }
}

TEST_F(ValueTest, EmptyInvalidAndJSON) {
  ZUVUduvedOrovarValue empty;
  EXPECT_EQ(empty.stringValue(), "");
  EXPECT_EQ(empty.numberValue().asDouble(), 0);
  EXPECT_FALSE(empty.boolValue());
  EXPECT_FALSE(empty.JSONValue());
  EXPECT_EQ(empty.source(), ZUVUduvedOrovarSourceStatic);

  auto invalid = ZUVUduvedOrovarValue::initWithData(Bytes{0xC3, 0x28, '7'}, ZUVUduvedOrovarSourceRemote);
  EXPECT_EQ(invalid->stringValue(), "");
  EXPECT_EQ(invalid->numberValue().asDouble(), 0);
  EXPECT_EQ(invalid->dataValue(), (Bytes{0xC3, 0x28, '7'}));

  std::optional<platform::Value> array = remote("[1, 2]")->JSONValue();
  ASSERT_TRUE(array && array->isArray());
  EXPECT_EQ(array->asArray()->size(), 2u);
  EXPECT_FALSE(logged("I-RCN000065"));
  EXPECT_FALSE(remote("abc")->JSONValue());
  EXPECT_TRUE(logged("I-RCN000065"));
  EXPECT_TRUE(logged("Error parsing data as JSON."));

  auto copy = remote("x")->copy();
  EXPECT_EQ(copy->stringValue(), "x");
  EXPECT_NE(remote("true")->debugDescription().find("Boolean: 1, String: true, Number: 0, JSON:(null)"),
            std::string::npos);
}

TEST_F(ValueTest, SettingsAndRollouts) {
  ZUVUduvedOrovarSettings settings;
  EXPECT_EQ(settings.minimumFetchInterval, 43200);
  EXPECT_EQ(settings.fetchTimeout, 60);
  EXPECT_EQ(ZUVUduvedOrovarConstants::RIRNamespaceZoruvuMobilePlatform(), "ririvudu");

  auto one = std::make_shared<RIRRolloutAssignment>("r", "v", 3, "key", "value");
  auto equal = std::make_shared<RIRRolloutAssignment>("r", "v", 3, "key", "value");
  EXPECT_TRUE(RIRRolloutsState({}).assignments().empty());
  EXPECT_EQ(RIRRolloutsState({one, one}).assignments().size(), 1u);
  EXPECT_EQ(RIRRolloutsState({one, equal}).assignments().size(), 2u);
}

}  // namespace
