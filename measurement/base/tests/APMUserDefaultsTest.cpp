#include "measurement/base/APMUserDefaults.h"

#include <gtest/gtest.h>

#include "measurement/base/APMFileLocations.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/UserDefaults.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

TEST(APMUserDefaultsTest, InvalidKeysAndValuesAreLoggedAndIgnored) {
  MeasurementTestEnvironment env;
  APMUserDefaults defaults{std::string("com.zoruvu.test.suite")};
  defaults.setObject(platform::Value("x"), "");
  EXPECT_TRUE(env.logged("[I-ACS041002] Cannot set object for invalid user default key."));
  EXPECT_EQ(defaults.objectForKey(""), std::nullopt);
  EXPECT_TRUE(env.logged("[I-ACS041001] Cannot get object for invalid user default key."));
  defaults.setObject(platform::Value::set({1, 2}), "set");
  EXPECT_TRUE(env.logged("[I-ACS041003] Cannot set invalid object to user defaults. Must be a string or number or "
                         "an array. Value "));
  EXPECT_EQ(defaults.objectForKey("set"), std::nullopt);
  EXPECT_TRUE(platform::UserDefaults::suite("com.zoruvu.test.suite")->keys().empty());
}

TEST(APMUserDefaultsTest, TypedGettersReadOnlyTheirOwnKinds) {
  MeasurementTestEnvironment env;
  APMUserDefaults defaults{std::string("com.zoruvu.test.suite")};
  defaults.setObject(platform::Value("12"), "text");
  defaults.setInteger(42, "int");
  defaults.setDouble(2.5, "double");
  defaults.setBool(true, "bool");
  defaults.setObject(platform::Value::array({1}), "array");
  defaults.setObject(platform::Value::dict({{"k", "v"}}), "dict");
  EXPECT_EQ(defaults.integerForKey("text"), 0);
  EXPECT_EQ(defaults.doubleForKey("text"), 0);
  EXPECT_FALSE(defaults.boolForKey("text"));
  EXPECT_EQ(defaults.stringForKey("text"), "12");
  EXPECT_EQ(defaults.integerForKey("int"), 42);
  EXPECT_EQ(defaults.doubleForKey("double"), 2.5);
  EXPECT_EQ(defaults.integerForKey("double"), 2);
  EXPECT_TRUE(defaults.boolForKey("bool"));
  EXPECT_EQ(defaults.integerForKey("bool"), 1);
  EXPECT_EQ(defaults.stringForKey("int"), std::nullopt);
  EXPECT_EQ(defaults.numberForKey("text"), std::nullopt);
  EXPECT_TRUE(defaults.arrayForKey("array"));
  EXPECT_FALSE(defaults.arrayForKey("dict"));
  EXPECT_TRUE(defaults.dictionaryForKey("dict"));
  defaults.removeObjectForKey("int");
  EXPECT_EQ(defaults.objectForKey("int"), std::nullopt);

  // The application's own preferences are a different domain.
  APMUserDefaults application;
  EXPECT_EQ(application.appNameRef(), "");
  EXPECT_EQ(application.objectForKey("text"), std::nullopt);
  defaults.clearAllData();
  EXPECT_TRUE(platform::UserDefaults::suite("com.zoruvu.test.suite")->keys().empty());
}

TEST(APMUserDefaultsTest, BackupExclusionIsRetriedUntilTheFileExists) {
  MeasurementTestEnvironment env;
  APMUserDefaults defaults{std::string("com.zoruvu.test.backup")};
  const std::string path = APMPreferencesPlistPath("com.zoruvu.test.backup");
  ASSERT_FALSE(platform::fs::exists(path));
  defaults.synchronize();
  EXPECT_FALSE(defaults.isPreferenceFileExcluded());
  defaults.synchronize();
  EXPECT_FALSE(defaults.isPreferenceFileExcluded());
  defaults.setInteger(1, "key");
  defaults.synchronize();
  EXPECT_TRUE(platform::fs::exists(path));
  EXPECT_TRUE(defaults.isPreferenceFileExcluded());
  EXPECT_TRUE(APMUserDefaults::sharedUserDefaults()->isPreferenceFileExcluded());
}

}  // namespace
