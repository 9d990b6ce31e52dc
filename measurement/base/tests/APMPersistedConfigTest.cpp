#include "measurement/base/APMPersistedConfig.h"

#include <gtest/gtest.h>

#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMPersistentDictionary.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "testing/VirtualClockFixture.h"

namespace {

using measurementtest::MeasurementTestEnvironment;
using measurementtest::ScriptedRandomSource;

constexpr const char* kSuite = "com.zoruvu.test.persisted";

class APMPersistedConfigTest : public ::testing::Test {
 protected:
  std::shared_ptr<APMPersistedConfig> open() { return APMPersistedConfig::initWithSuiteName(kSuite); }
  std::string filePath() const { return APMMeasurementPlistPath(kSuite); }
  platform::Dictionary fileContents() const {
    return platform::PropertyList::readDictionary(filePath()).valueOr(platform::Dictionary());
  }

  MeasurementTestEnvironment env;
};

TEST_F(APMPersistedConfigTest, EveryKeyRoundTripsAcrossARestart) {
  const platform::Bytes bytes = {1, 2, 3};
  const std::pair<const char*, platform::Value> values[] = {
      {APMPersistedConfig::kLastDeleteStaleKey, 1.5},
      {APMPersistedConfig::kSearchAdCampaignKey, 1},
      {APMPersistedConfig::kSearchAdLastAttemptKey, 2.25},
      {APMPersistedConfig::kSearchAdRetriesKey, 3},
      {APMPersistedConfig::kAppInstanceIDKey, "ABCDEF"},
      {APMPersistedConfig::kAppIDFromVODKey, "1:2:ios:3"},
      {APMPersistedConfig::kAppIDFromVaRudKey, "varud"},
      {APMPersistedConfig::kHashedIDFAKey, "hash"},
      {APMPersistedConfig::kDiversionKeyKey, "ABCDE"},
      {APMPersistedConfig::kLastBackoffKey, 4.0},
      {APMPersistedConfig::kLastSuccessfulUploadKey, 5.0},
      {APMPersistedConfig::kLastFailedUploadKey, 6.0},
      {APMPersistedConfig::kAppVersionKey, "1.0"},
      {APMPersistedConfig::kOSVersionKey, "6.1"},
      {APMPersistedConfig::kMidnightOffsetKey, 3600.5},
      {APMPersistedConfig::kLastMonitorSampleKey, 7.0},
      {APMPersistedConfig::kFirstOpenMillisKey, 1700000000123LL},
      {APMPersistedConfig::kLastModifiedSinceKey, "Tue, 14 Nov 2023 22:13:20 GMT"},
      {APMPersistedConfig::kConfigETagKey, "etag"},
      {APMPersistedConfig::kConfigVODVersionKey, 120500},
      {APMPersistedConfig::kLoadTimestampKey, 8.0},
      {APMPersistedConfig::kAllowPersonalizedAdsKey, true},
      {APMPersistedConfig::kFeatureRolloutsKey, "rollouts"},
      {APMPersistedConfig::kDeepLinkCompleteKey, false},
      {APMPersistedConfig::kDeepLinkRetryCountKey, 2},
      {APMPersistedConfig::kSetLastAdIDResetKey, 1},
      {APMPersistedConfig::kUnmatchedFirstOpenKey, 1},
      {APMPersistedConfig::kPreviousFirstOpenCountKey, 9},
      {APMPersistedConfig::kPreviousConsentSignalsKey, "G111"},
      {APMPersistedConfig::kAdCampaignInfoBufferKey, platform::Value::data(bytes)},
      {APMPersistedConfig::kPSMHashedInputDataKey, platform::Value::data(bytes)},
      {APMPersistedConfig::kPSMInputTypeKey, 1},
      {APMPersistedConfig::kPSMCurrentDayKey, 19700},
      {APMPersistedConfig::kLastEngagementEndKey, 10.0},
      {APMPersistedConfig::kSessionNumberKey, 11},
      {APMPersistedConfig::kSessionTimeoutKey, 1800},
      {APMPersistedConfig::kDefaultEventParametersKey, platform::Value::dict({{"p", "v"}})},
      {APMPersistedConfig::kLastUploadedEventMillisKey, 12},
      {APMPersistedConfig::kSKANEvaluationEventTimeKey, 13},
      {APMPersistedConfig::kSKANEvaluationBackoffKey, 14},
  };
  {
    std::shared_ptr<APMPersistedConfig> config = open();
    for (const auto& [key, value] : values) config->setNumber(value, key);
    config->setMeasurementEnabledState(2);
  }  // destroyed with its write pending: written at once
  // It holds the app instance ID: nobody else may read it.
  EXPECT_EQ(platform::fs::attributes(filePath()).value().permissions, 0600u);
  ASSERT_FALSE(platform::fs::setPermissions(filePath(), 0644));
  std::shared_ptr<APMPersistedConfig> config = open();
  EXPECT_EQ(platform::fs::attributes(filePath()).value().permissions, 0600u);
  for (const auto& [key, value] : values) EXPECT_EQ(config->numberForKey(key), value) << key;
  EXPECT_EQ(config->measurementEnabledState(), 2);
  EXPECT_EQ(APMUserDefaults::sharedUserDefaults()->integerForKey(APMPersistedConfig::kMeasurementEnabledStateKey), 2);
  // The typed properties read the same values.
  EXPECT_EQ(config->lastDeleteStaleBundlesTimestamp(), 1.5);
  EXPECT_EQ(config->appInstanceID(), "ABCDEF");
  EXPECT_EQ(config->firstOpenTimestampMilliseconds(), 1700000000123LL);
  EXPECT_TRUE(config->shouldSetLastAdvertisingIDResetUserProperty());
  EXPECT_EQ(config->midnightOffset(), 3600.5);
  EXPECT_EQ(config->defaultEventParameters()->get("p"), platform::Value("v"));
  EXPECT_EQ(config->allowPersonalizedAds(), platform::Value(true));

  config->setSearchAdCampaignValue("not a number");
  EXPECT_EQ(config->searchAdCampaignValue(), platform::Value(1));
  config->setAppInstanceID(std::nullopt);
  EXPECT_EQ(config->appInstanceID(), std::nullopt);
  config->clearValues();
  EXPECT_EQ(config->sessionNumber(), 0);
  EXPECT_EQ(APMPersistedConfig::initWithSuiteName(""), nullptr);
}

class APMPersistentDictionaryClockTest : public testkit::VirtualClockFixture {
 protected:
  MeasurementTestEnvironment env;
};

TEST_F(APMPersistentDictionaryClockTest, OneWriteOneSecondAfterTheFirstChange) {
  std::shared_ptr<APMPersistentDictionary> dictionary = APMPersistentDictionary::initWithFileName("clock-test");
  ASSERT_TRUE(dictionary);
  auto settle = [&] { dictionary->serialQueue().sync([] {}); };
  const int64_t before = APMPersistentDictionary::writeCount();
  dictionary->setInteger(1, "a");
  clock->advance(0.5);
  dictionary->setInteger(2, "b");
  clock->advance(0.49);
  settle();
  EXPECT_EQ(APMPersistentDictionary::writeCount(), before);
  clock->advance(0.01);
  settle();
  EXPECT_EQ(APMPersistentDictionary::writeCount(), before + 1);
  EXPECT_EQ(platform::PropertyList::readDictionary(dictionary->filePath()).value().size(), 2u);

  // No change, no write: an equal value, a missing key removed, an empty clear.
  dictionary->setInteger(2, "b");
  dictionary->removeObjectForKey("missing");
  clock->advance(5);
  settle();
  EXPECT_EQ(APMPersistentDictionary::writeCount(), before + 1);
  dictionary->clearAllData();
  dictionary->clearAllData();
  clock->advance(1);
  settle();
  EXPECT_EQ(APMPersistentDictionary::writeCount(), before + 2);
  EXPECT_TRUE(platform::PropertyList::readDictionary(dictionary->filePath()).value().empty());
}

TEST_F(APMPersistedConfigTest, InvalidKeysAndValuesAreRefused) {
  std::shared_ptr<APMPersistentDictionary> dictionary = APMPersistentDictionary::initWithFileName(kSuite);
  dictionary->setObject(platform::Value("x"), "");
  EXPECT_TRUE(env.logged("[I-ACS043002] Cannot set object for invalid config key."));
  EXPECT_EQ(dictionary->objectForKey(""), std::nullopt);
  EXPECT_TRUE(env.logged("[I-ACS043001] Cannot get object for invalid config key."));
  dictionary->setObject(platform::Value::array({platform::Value::set({1})}), "nested");
  EXPECT_TRUE(env.logged("[I-ACS043003] Cannot set invalid object to config."));
  EXPECT_FALSE(dictionary->hasPendingPersistence());
  std::shared_ptr<APMPersistedConfig> config = open();
  config->setDictionary(platform::Dictionary{{"bad", platform::Value()}}, "dict");
  EXPECT_TRUE(env.logged("[I-ACS027002] Unsupported value passed in dictionary"));
  EXPECT_EQ(config->dictionaryForKey("dict"), std::nullopt);
}

TEST_F(APMPersistedConfigTest, LegacyAndDamagedFiles) {
  const std::string oldPath = APMPreferencesPlistPath(kSuite);
  ASSERT_FALSE(platform::fs::createDirectory(platform::fs::parentPath(oldPath)));
  ASSERT_FALSE(platform::PropertyList::writeFile(oldPath, platform::Value::dict({{"k", "old"}})));
  // Old file only: moved and read.
  EXPECT_EQ(open()->stringForKey("k"), "old");
  EXPECT_FALSE(platform::fs::exists(oldPath));
  // Both: the old one is deleted, the new one wins.
  ASSERT_FALSE(platform::PropertyList::writeFile(oldPath, platform::Value::dict({{"k", "older"}})));
  EXPECT_EQ(open()->stringForKey("k"), "old");
  EXPECT_FALSE(platform::fs::exists(oldPath));
  // A corrupt file reads empty.
  ASSERT_FALSE(platform::fs::writeFile(filePath(), std::string_view("not a property list")));
  EXPECT_EQ(open()->stringForKey("k"), std::nullopt);
}

TEST_F(APMPersistedConfigTest, AWriteThatFailsAtTheRenameLeavesThePreviousFile) {
  std::shared_ptr<APMPersistentDictionary> dictionary = APMPersistentDictionary::initWithFileName(kSuite);
  dictionary->setObject(platform::Value("first"), "k");
  dictionary->persistToDisk();
  dictionary->setObject(platform::Value("second"), "k");
  platform::fs::testing::failAtomicWritesBeforeRename(1);
  dictionary->persistToDisk();
  EXPECT_TRUE(env.logged("[I-ACS043000] Cannot persist configs to disk"));
  EXPECT_EQ(fileContents().get("k"), platform::Value("first"));
  // The next change writes again.
  dictionary->setObject(platform::Value("third"), "k");
  dictionary->persistToDisk();
  EXPECT_EQ(fileContents().get("k"), platform::Value("third"));
}

TEST_F(APMPersistedConfigTest, MidnightOffsetIsMadeOnce) {
  auto random = std::make_shared<ScriptedRandomSource>(std::vector<uint32_t>{12345678, 999});
  platform::RandomSource::setCurrent(random);
  {
    std::shared_ptr<APMPersistedConfig> config = open();
    EXPECT_EQ(config->midnightOffset(), 12345.678);
    EXPECT_EQ(config->midnightOffset(), 12345.678);
    EXPECT_EQ(random->bounds(), (std::vector<uint32_t>{86400000}));
  }
  std::shared_ptr<APMPersistedConfig> config = open();
  EXPECT_EQ(config->midnightOffset(), 12345.678);
  config->setNumber(platform::Value(), APMPersistedConfig::kMidnightOffsetKey);
  EXPECT_EQ(config->midnightOffset(), 0.999);
}

}  // namespace
