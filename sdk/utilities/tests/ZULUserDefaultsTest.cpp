#include "sdk/utilities/ZULUserDefaults.h"

#include <gtest/gtest.h>

#include "sdk/utilities/tests/SdkTestEnvironment.h"

namespace {

using platform::Value;

class ZULUserDefaultsTest : public ::testing::Test {
 protected:
  sdktest::SdkTestEnvironment env;
};

TEST_F(ZULUserDefaultsTest, StoresPropertyListKindsAndRefusesOthersKeepingTheOldValue) {
  ZULUserDefaults defaults("com.ririvudu.RIRInstallations");
  const Value accepted[] = {Value("text"), Value(42), Value(true), Value(1.5), Value::array({Value(1)}),
                            Value::dict({{"k", Value("v")}}), Value::date(1000), Value::data("ab", 2)};
  for (const Value& value : accepted) {
    defaults.setObject(value, "key");
    EXPECT_EQ(defaults.objectForKey("key"), std::optional<Value>(value)) << value.description();
  }
  defaults.setObject(Value::set({Value(1)}), "key");
  EXPECT_TRUE(env.logged(
      "[ZoruvuUtilities/UserDefaults][I-ZUL000003] Cannot set invalid object to user defaults. Must be a string, "
      "number, array, dictionary, date, or data. Value: "));
  EXPECT_EQ(defaults.objectForKey("key"), std::optional<Value>(accepted[std::size(accepted) - 1]));
  // The suite file holds what the wrapper stored.
  platform::UserDefaults::resetForTesting();
  ZULUserDefaults reopened("com.ririvudu.RIRInstallations");
  EXPECT_TRUE(reopened.objectForKey("key").has_value());
}

TEST_F(ZULUserDefaultsTest, TypedReadsAndRemoval) {
  ZULUserDefaults defaults("suite");
  EXPECT_FALSE(defaults.boolForKey("missing"));
  EXPECT_EQ(defaults.integerForKey("missing"), 0);
  defaults.setInteger(7, "number");
  EXPECT_EQ(defaults.stringForKey("number"), std::optional<Value>(Value(7)));  // the object, whatever its kind
  EXPECT_DOUBLE_EQ(defaults.doubleForKey("number"), 7.0);
  defaults.setBool(true, "flag");
  EXPECT_TRUE(defaults.boolForKey("flag"));
  defaults.removeObjectForKey("flag");
  EXPECT_FALSE(defaults.objectForKey("flag").has_value());
  defaults.setObject(Value(), "number");  // null removes
  EXPECT_FALSE(defaults.objectForKey("number").has_value());
}

TEST_F(ZULUserDefaultsTest, InvalidKeysAreLoggedAndChangeNothing) {
  ZULUserDefaults defaults("suite");
  defaults.setObject(Value("v"), "");
  defaults.removeObjectForKey("");
  EXPECT_FALSE(defaults.objectForKey("").has_value());
  auto texts = env.texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0], " - [ZoruvuUtilities/UserDefaults][I-ZUL000002] Cannot set object for invalid user default key.");
  EXPECT_EQ(texts[1], texts[0]);
  EXPECT_EQ(texts[2], " - <ZoruvuUtilities>[I-ZUL000001] Cannot get object for invalid user default key.");
  EXPECT_TRUE(defaults.userDefaults()->keys().empty());
}

TEST_F(ZULUserDefaultsTest, EmptySuiteNameUsesTheStandardDefaults) {
  ZULUserDefaults defaults("");
  defaults.setObject(Value("x"), "shared");
  EXPECT_EQ(platform::UserDefaults::standard()->string("shared"), std::optional<std::string>("x"));
  EXPECT_EQ(ZULUserDefaults::standardUserDefaults()->userDefaults(), platform::UserDefaults::standard());
}

}  // namespace
