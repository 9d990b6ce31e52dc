#include "measurement/base/APMDebugNames.h"

#include <gtest/gtest.h>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMValue.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "platform/storage/UserDefaults.h"

namespace {

using measurementtest::MeasurementTestEnvironment;

// Debug mode on the shared monitor with the analytics front's class
// registered, both undone afterwards.
class DebugModeScope {
 public:
  DebugModeScope() {
    m_registered = platform::ClassRegistry::shared().registerClass("ROZAdavurudo");
    std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
    monitor->monitorQueue().sync([] {});
    monitor->setDebugModeEnabled(true);
  }
  ~DebugModeScope() {
    APMEngineServices::monitor()->setDebugModeEnabled(false);
    if (m_registered) platform::ClassRegistry::shared().removeClass("ROZAdavurudo");
  }

 private:
  bool m_registered = false;
};

platform::Value typed(APMValuePtr value) { return APMValue::toObject(std::move(value)); }

TEST(APMDebugNamesTest, NamesShowTheirPublicFormOnlyInDebugMode) {
  MeasurementTestEnvironment env;
  EXPECT_EQ(APMDebugEventName("_cmp"), "_cmp");
  EXPECT_EQ(APMDebugUserPropertyName("_exp_42"), "experiment_id (_exp_42)");
  {
    DebugModeScope debug;
    EXPECT_EQ(APMDebugEventName("_cmp"), "ga_campaign (_cmp)");
    EXPECT_EQ(APMDebugEventName("_vs"), "screen_view (_vs)");
    EXPECT_EQ(APMDebugEventName("_unknown"), "_unknown");
    EXPECT_EQ(APMDebugParameterName("_c"), "ga_conversion (_c)");
    EXPECT_EQ(APMDebugParameterName("_ffr"), "ririvudu_feature_rollouts (_ffr)");
    EXPECT_EQ(APMDebugParameterName("ad_unit_id"), "ad_unit_id");
    EXPECT_EQ(APMDebugUserPropertyName("_id"), "user_id (_id)");
    EXPECT_EQ(APMDebugName(platform::Value(12), APMEventNameMap()), "12");
    EXPECT_EQ(APMDebugName("_vs", APMNameMap()), "_vs");
  }
  // Without the analytics front names stay plain even in debug mode.
  std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
  monitor->setDebugModeEnabled(true);
  EXPECT_EQ(APMDebugEventName("_cmp"), "_cmp");
  monitor->setDebugModeEnabled(false);
}

TEST(APMDebugNamesTest, DescriptionsAreSortedIndentedLines) {
  MeasurementTestEnvironment env;
  platform::Value parameters = platform::Value::dict({
      {"b", typed(APMValue::initWithInt64(1))},
      {"A", typed(APMValue::initWithString("x"))},
      {"_err", typed(APMValue::initWithInt64(2))},
      {"_c", typed(APMValue::initWithInt64(1))},
  });
  EXPECT_EQ(APMDescriptionString(platform::Value::dict({{"b", 1}})), "{\"b\": 1}");
  DebugModeScope debug;
  EXPECT_EQ(APMDescriptionString(parameters),
            "{\n"
            "    A = x;\n"
            "    b = 1;\n"
            "    ga_conversion (_c) = 1;\n"
            "    ga_error (_err) = InvalidEventName (2);\n"
            "}");
  EXPECT_EQ(APMDescriptionString(platform::Value::dict({{"_err", typed(APMValue::initWithInt64(25))}})),
            "{\n    ga_error (_err) = 25;\n}");
  EXPECT_EQ(APMDescriptionString(platform::Value::dict({{"_err", typed(APMValue::initWithString("2"))}})),
            "{\n    ga_error (_err) = 2;\n}");
  platform::Value items = typed(APMValue::initWithArray(platform::Value::array(
      {platform::Value::dict({{"item_id", typed(APMValue::initWithString("p1"))}}), platform::Value::dict()})));
  EXPECT_EQ(APMDescriptionString(platform::Value::dict({{"items", items}})),
            "{\n"
            "    items = [\n"
            "    {\n"
            "        item_id = p1;\n"
            "    },\n"
            "    {\n"
            "    }\n"
            "    ];\n"
            "}");
  EXPECT_EQ(APMArrayDescriptionString(platform::Value("plain")), "plain");
}

TEST(APMFileLocationsTest, PathsFollowTheXdgFolders) {
  MeasurementTestEnvironment env;
  const std::string bundle = platform::StandardFolders::bundleIdentifier();
  EXPECT_EQ(APMPreferencesPlistPath("com.zoruvu.vod.measurement"),
            env.home().configHome() + "/" + bundle + "/Preferences/com.zoruvu.vod.measurement.plist");
  EXPECT_EQ(APMPreferencesPlistPath("suite"), platform::UserDefaults::suite("suite")->filePath());
  EXPECT_EQ(APMApplicationSupportPath("zoruvu-app-measurement.sql"),
            env.home().dataHome() + "/" + bundle + "/Zoruvu/Measurement/zoruvu-app-measurement.sql");
  EXPECT_EQ(APMMeasurementPlistPath("a.plist"), APMApplicationSupportPath("a.plist"));
  EXPECT_EQ(APMMeasurementPlistPath("a"), APMApplicationSupportPath("a.plist"));
  EXPECT_EQ(APMMeasurementPlistPath("a.txt"), APMApplicationSupportPath("a.txt.plist"));
  EXPECT_EQ(APMPreferencesPlistPath(""), "");

  platform::Error error;
  EXPECT_FALSE(APMDeleteFile("", &error));
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(error.localizedDescription(), "Received empty path for deleting file");
}

TEST(APMFileLocationsTest, MigrationMovesWithoutEverReplacing) {
  MeasurementTestEnvironment env;
  const std::string name = "com.zoruvu.test.migrate";
  const std::string oldPath = APMPreferencesPlistPath(name);
  const std::string newPath = APMMeasurementPlistPath(name);
  ASSERT_FALSE(platform::fs::createDirectory(platform::fs::parentPath(oldPath)));

  // Nothing to move counts as done.
  EXPECT_TRUE(APMMigratePlistToApplicationSupport(name));
  EXPECT_FALSE(APMMigratePlistToApplicationSupport(""));

  // Old file only: moved.
  ASSERT_FALSE(platform::fs::writeFile(oldPath, std::string_view("old")));
  EXPECT_TRUE(APMMigratePlistToApplicationSupport(name));
  EXPECT_FALSE(platform::fs::exists(oldPath));
  EXPECT_EQ(platform::fs::readTextFile(newPath).valueOr(""), "old");

  // Both: the old one goes, the new one stays.
  ASSERT_FALSE(platform::fs::writeFile(oldPath, std::string_view("older")));
  EXPECT_TRUE(APMMigratePlistToApplicationSupport(name));
  EXPECT_FALSE(platform::fs::exists(oldPath));
  EXPECT_EQ(platform::fs::readTextFile(newPath).valueOr(""), "old");

  // A folder at the new place: nothing moves, nothing is lost.
  ASSERT_FALSE(platform::fs::removeItem(newPath));
  ASSERT_FALSE(platform::fs::createDirectory(newPath));
  ASSERT_FALSE(platform::fs::writeFile(oldPath, std::string_view("kept")));
  EXPECT_FALSE(APMMigratePlistToApplicationSupport(name));
  EXPECT_EQ(platform::fs::readTextFile(oldPath).valueOr(""), "kept");

  // A folder at the old place fails too.
  ASSERT_FALSE(platform::fs::removeItem(oldPath));
  ASSERT_FALSE(platform::fs::createDirectory(oldPath));
  EXPECT_FALSE(APMMigratePlistToApplicationSupport(name));
}

}  // namespace
