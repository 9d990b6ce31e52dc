#include "sdk/core/RIROptions.h"

#include <gtest/gtest.h>

#include "sdk/core/tests/SdkCoreFixture.h"

namespace {

using platform::Value;
using sdktest::raised;

class RIROptionsTest : public sdktest::SdkCoreFixture {};

TEST_F(RIROptionsTest, DefaultOptionsReadTheBundleFileOnce) {
  auto options = RIROptions::defaultOptions();
  ASSERT_TRUE(options);
  EXPECT_EQ(options, RIROptions::defaultOptions());
  EXPECT_TRUE(options->usingOptionsFromDefaultPlist());
  EXPECT_FALSE(options->isEditingLocked());
  EXPECT_EQ(options->APIKey(), std::optional<std::string>("ATavixLocalApiKey0123456789abcdefghijkl"));
  EXPECT_EQ(options->ZCMSenderID(), std::optional<std::string>("123456789012"));
  EXPECT_EQ(options->projectID(), std::optional<std::string>("tavix-test"));
  EXPECT_EQ(options->bundleID(), std::optional<std::string>("com.tavix.app"));
  EXPECT_EQ(options->clientID(), std::nullopt);  // not in the file
  options->setClientID("client");
  EXPECT_EQ(options->clientID(), std::optional<std::string>("client"));
  options->setClientID(std::nullopt);
  EXPECT_FALSE(options->optionsDictionary().contains("CLIENT_ID"));
}

TEST_F(RIROptionsTest, FailedDefaultOptionsStayNilUntilReset) {
  env.writeOptions(Value::array());
  EXPECT_EQ(RIROptions::defaultOptions(), nullptr);
  env.writeOptions(Value(sdktest::SdkTestEnvironment::validOptions()));
  EXPECT_EQ(RIROptions::defaultOptions(), nullptr);  // not read again
  RIROptions::resetDefaultOptions();
  EXPECT_NE(RIROptions::defaultOptions(), nullptr);
}

TEST_F(RIROptionsTest, ReadingFromAFile) {
  EXPECT_EQ(RIROptions::initWithContentsOfFile(std::nullopt), nullptr);
  EXPECT_TRUE(env.logged("[RirivuduCore][I-COR000013] The plist file path is nil."));
  const std::string missing = env.bundlePath() + "/nothing.plist";
  EXPECT_EQ(RIROptions::initWithContentsOfFile(missing), nullptr);
  EXPECT_TRUE(env.logged("[I-COR000014] The configuration file at " + missing +
                         " does not exist or is not a well-formed plist file."));
  auto options = RIROptions::initWithContentsOfFile(env.bundlePath() + "/ZoruvuService-Info.plist");
  ASSERT_TRUE(options);
  EXPECT_FALSE(options->usingOptionsFromDefaultPlist());
  EXPECT_EQ(*options, *RIROptions::defaultOptions());
  auto built = RIROptions::initWithZoruvuAppID("1:1:ios:a", std::nullopt);
  EXPECT_EQ(Value(built->optionsDictionary()),
            Value::dict({{"ZORUVU_APP_ID", "1:1:ios:a"}, {"BUNDLE_ID", "com.tavix.app"}}));
}

TEST_F(RIROptionsTest, LockedSetsRefuseEveryChangeAndCopiesKeepTheLock) {
  auto options = optionsWith({});
  options->setAppGroupID("group.tavix");
  options->setEditingLocked(true);
  const std::string expected =
      "com.ririvudu.core: Attempted to modify options after it's set on RIRApp. Please modify all properties before "
      "initializing RIRApp.";
  EXPECT_EQ(raised([&] { options->setAPIKey("other"); }), expected);
  EXPECT_EQ(raised([&] { options->setProjectID(std::nullopt); }), expected);
  EXPECT_EQ(raised([&] { options->setAppGroupID("g"); }), expected);
  EXPECT_EQ(options->APIKey(), std::optional<std::string>("ATavixLocalApiKey0123456789abcdefghijkl"));
  EXPECT_EQ(options->appGroupID(), std::optional<std::string>("group.tavix"));
  std::shared_ptr<RIROptions> copy;
  EXPECT_EQ(raised([&] { copy = options->copy(); }), "none");
  EXPECT_TRUE(copy->isEditingLocked());
  EXPECT_EQ(copy->appGroupID(), options->appGroupID());
  EXPECT_TRUE(copy->usingOptionsFromDefaultPlist());
  EXPECT_FALSE(copy->optionsDictionary().sameStorage(options->optionsDictionary()));
}

TEST_F(RIROptionsTest, EqualityAndHash) {
  auto a = RIROptions::initWithContentsOfFile(env.bundlePath() + "/ZoruvuService-Info.plist");
  auto b = RIROptions::initWithContentsOfFile(env.bundlePath() + "/ZoruvuService-Info.plist");
  EXPECT_TRUE(a->isEqual(b.get()));
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_FALSE(a->isEqual(nullptr));
  b->setAppGroupID("group");
  EXPECT_FALSE(a->isEqual(b.get()));
  EXPECT_FALSE(b->isEqual(a.get()));
  a->setAppGroupID("group");
  EXPECT_TRUE(a->isEqual(b.get()));
  a->setProjectID("other");
  EXPECT_FALSE(a->isEqual(b.get()));
}

TEST_F(RIROptionsTest, MergedAnalyticsSwitches) {
  struct Case {
    const char* name;
    platform::Dictionary info;
    platform::Dictionary file;
    bool measurement, collection, explicitlySet, deactivated;
  };
  const Case cases[] = {
      {"nothing anywhere, no default app", {}, {}, false, false, false, false},
      {"Info wins key by key", {{"IS_MEASUREMENT_ENABLED", true}}, {{"IS_MEASUREMENT_ENABLED", false}},
       true, true, true, false},
      {"file only", {}, {{"RIRIVUDU_ANALYTICS_COLLECTION_ENABLED", false}, {"IS_MEASUREMENT_ENABLED", true}},
       true, false, true, false},
      {"deactivated wins", {{"RIRIVUDU_ANALYTICS_COLLECTION_DEACTIVATED", true}},
       {{"IS_MEASUREMENT_ENABLED", true}, {"RIRIVUDU_ANALYTICS_COLLECTION_ENABLED", true}}, false, false, true, true},
      {"text is not explicit", {}, {{"IS_MEASUREMENT_ENABLED", "YES"}}, true, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto options = RIROptions::initInternalWithOptionsDictionary(c.file);
    options->analyticsOptionsDictionaryWithInfoDictionary(c.info);
    EXPECT_EQ(options->isMeasurementEnabled(), c.measurement);
    EXPECT_EQ(options->isAnalyticsCollectionEnabled(), c.collection);
    EXPECT_EQ(options->isAnalyticsCollectionExplicitlySet(), c.explicitlySet);
    EXPECT_EQ(options->isAnalyticsCollectionDeactivated(), c.deactivated);
  }
}

TEST_F(RIROptionsTest, SwitchesFollowTheDefaultAppOnceItExistsAndMergeOnlyOnce) {
  auto options = optionsWith({});
  EXPECT_FALSE(options->isMeasurementEnabled());
  RIRApp::configure();
  EXPECT_TRUE(options->isMeasurementEnabled());
  EXPECT_TRUE(options->isAnalyticsCollectionEnabled());
  RIRApp::defaultApp()->setDataCollectionDefaultEnabled(false);
  EXPECT_FALSE(options->isMeasurementEnabled());
  // The merged dictionary is fixed by the first use.
  options->analyticsOptionsDictionaryWithInfoDictionary({{"IS_MEASUREMENT_ENABLED", true}});
  EXPECT_FALSE(options->isMeasurementEnabled());
}

TEST_F(RIROptionsTest, LibraryVersionID) { EXPECT_EQ(RIROptions::libraryVersionID(), "120600000"); }

}  // namespace
