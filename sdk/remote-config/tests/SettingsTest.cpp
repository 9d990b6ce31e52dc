#include <gtest/gtest.h>

#include "platform/crypto/RandomSource.h"
#include "sdk/remote-config/RCNConfigSettings.h"
#include "sdk/remote-config/RCNDevice.h"
#include "sdk/remote-config/tests/RemoteConfigTestSupport.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "testing/MainQueuePump.h"
#include "testing/VirtualClockFixture.h"

namespace {

using platform::Value;

constexpr const char* kNamespace = "ririvudu:app";

// Every 32-bit draw is the same number.
class FixedRandom : public platform::RandomSource {
 public:
  explicit FixedRandom(uint32_t value) : m_value(value) {}
  void fill(std::span<uint8_t> out) override {
    for (uint8_t& byte : out) byte = 0;
  }
  uint32_t uint32() override { return m_value; }

 private:
  uint32_t m_value;
};

class ScopedRandom {
 public:
  explicit ScopedRandom(uint32_t value) { platform::RandomSource::setCurrent(std::make_shared<FixedRandom>(value)); }
  ~ScopedRandom() { platform::RandomSource::setCurrent(nullptr); }
};

class SettingsTest : public rctest::RemoteConfigTest {
 protected:
  void SetUp() override {
    rctest::RemoteConfigTest::SetUp();
    manager = RCNConfigDBManager::create();
  }
  void TearDown() override {
    manager->waitForDatabaseOperationQueue();
    platform::MainQueue::drain();
    rctest::RemoteConfigTest::TearDown();
  }
  std::unique_ptr<RCNConfigSettings> settings(std::shared_ptr<RCNConfigDBManager> db = nullptr) {
    return std::make_unique<RCNConfigSettings>(db ? db : manager, kNamespace, "app", "1:1:ios:a");
  }
  // As after a restart: a new manager over the existing file (settings
  // holding the old manager must be gone, since it holds the file's lock).
  std::shared_ptr<RCNConfigDBManager> restart() {
    manager->waitForDatabaseOperationQueue();
    manager.reset();
    platform::UserDefaults::resetForTesting();
    RCNUserDefaultsManager::resetSharedUserDefaultsForTesting();
    manager = RCNConfigDBManager::create();
    return manager;
  }
  std::string fixedPieces() const {
    return "country_code:'us', language_code:'en_US', platform_version:'" + ZULAppEnvironmentUtil::systemVersion() +
           "', time_zone:'Europe/Berlin', package_name:'com.tavix.rctest', app_version:'2.5', app_build:'25', "
           "sdk_version:'12.6.0'";
  }

  testkit::VirtualClockScope clockScope;
  std::shared_ptr<platform::VirtualClock> clock = clockScope.clock();
  std::shared_ptr<RCNConfigDBManager> manager;
};

TEST_F(SettingsTest, RequestBodies) {
  auto s = settings();
  EXPECT_EQ(s->nextRequestWithUserProperties(std::nullopt),
            "{app_instance_id:'', app_instance_id_token:'', app_id:'1:1:ios:a', " + fixedPieces() + "}");
  s->setConfigInstallationsIdentifier("fid-1");
  s->setConfigInstallationsToken("it's a \\token");
  const std::string head = "{app_instance_id:'fid-1', app_instance_id_token:'it\\'s a \\\\token', app_id:'1:1:ios:a', ";
  struct Case {
    std::optional<platform::Dictionary> properties;
    std::string tail;
  };
  const Case cases[] = {
      {platform::Dictionary(), "}"},
      {platform::Dictionary{{"_fot", 1700000000123LL}}, ", first_open_time:'2023-11-14T22:13:20Z'}"},
      {platform::Dictionary{{"_fot", 1700000000999.5}, {"b", "x'y"}, {"a", 1}},
       ", first_open_time:'2023-11-14T22:13:20Z', analytics_user_properties:{\"b\":\"x'y\",\"a\":1}}"},
      {platform::Dictionary{{"when", Value::date(1)}}, "}"},
  };
  for (const Case& c : cases) EXPECT_EQ(s->nextRequestWithUserProperties(c.properties), head + fixedPieces() + c.tail);

  s->setCustomSignals(platform::Dictionary{{"level", "5"}, {"name", "it's"}});
  EXPECT_EQ(s->nextRequestWithUserProperties(std::nullopt),
            head + fixedPieces() + ", custom_signals:{\"level\":\"5\",\"name\":\"it's\"}}");
  EXPECT_TRUE(logged("Keys of custom signals during fetch: "));
}

TEST_F(SettingsTest, FetchBackoffForBothJitterSigns) {
  for (uint32_t draw : {7u, 8u}) {
    ScopedRandom random(draw);
    auto s = settings();
    s->updateMetadataWithFetchSuccessStatus(true, "1");
    const double factor = draw % 2 == 1 ? 1.5 : 0.5;
    const double expected[] = {120, 240, 480, 960, 1920, 3840, 7680, 7680};
    for (double interval : expected) {
      const int64_t before = s->lastFetchStatus();
      s->updateMetadataWithFetchSuccessStatus(false, std::nullopt);
      s->updateExponentialBackoffTime(before);
      EXPECT_EQ(s->exponentialBackoffRetryInterval(), interval);
      EXPECT_EQ(s->exponentialBackoffThrottleEndTime() - clock->now(), factor * interval);
    }
    // A success before the next failure starts over.
    s->updateMetadataWithFetchSuccessStatus(true, "2");
    s->updateExponentialBackoffTime(s->lastFetchStatus());
    EXPECT_EQ(s->exponentialBackoffRetryInterval(), 120);
  }
  // A first fetch that fails in a new process enters back-off mode too.
  ScopedRandom random(1);
  auto fresh = settings();
  fresh->updateMetadataWithFetchSuccessStatus(false, std::nullopt);
  fresh->updateExponentialBackoffTime(ZUVUduvedOrovarFetchStatusFailure);
  EXPECT_EQ(fresh->exponentialBackoffRetryInterval(), 120);
  EXPECT_EQ(fresh->exponentialBackoffThrottleEndTime(), clock->now() + 180);
}

TEST_F(SettingsTest, ThrottleAndMinimumIntervalAtTheirBoundaries) {
  ScopedRandom random(1);
  auto s = settings();
  EXPECT_TRUE(s->hasMinimumFetchIntervalElapsed(3600));
  s->updateMetadataWithFetchSuccessStatus(false, std::nullopt);
  s->updateExponentialBackoffTime(ZUVUduvedOrovarFetchStatusNoFetchYet);
  EXPECT_FALSE(s->shouldThrottle());  // never fetched successfully

  s->updateMetadataWithFetchSuccessStatus(true, "1");
  EXPECT_FALSE(s->shouldThrottle());  // last fetch succeeded
  clock->advance(3600);
  EXPECT_FALSE(s->hasMinimumFetchIntervalElapsed(3600));
  clock->advance(0.001);
  EXPECT_TRUE(s->hasMinimumFetchIntervalElapsed(3600));

  s->updateMetadataWithFetchSuccessStatus(false, std::nullopt);
  s->updateExponentialBackoffTime(ZUVUduvedOrovarFetchStatusSuccess);  // ends 180 s from now
  EXPECT_TRUE(s->shouldThrottle());
  clock->advance(179.5);
  EXPECT_TRUE(s->shouldThrottle());
  clock->advance(0.5);
  EXPECT_FALSE(s->shouldThrottle());

  s->setFetchTimeout(0);
  EXPECT_EQ(s->fetchTimeout(), 60);
  s->setFetchTimeout(-3);
  EXPECT_EQ(s->fetchTimeout(), 60);
  s->setFetchTimeout(5);
  EXPECT_EQ(s->fetchTimeout(), 5);
  s->setMinimumFetchInterval(-1);
  EXPECT_EQ(s->minimumFetchInterval(), 0);
}

TEST_F(SettingsTest, MetadataRowRoundTripAndAFailedSerialisationKeepsTheOldRow) {
  {
    auto s = settings();
    s->updateMetadataWithFetchSuccessStatus(true, "7");
    s->setLastApplyTimeInterval(123);
    s->setLastFetchError(8002);
    EXPECT_EQ(s->lastFetchedTemplateVersion(), "7");
  }
  {
    auto again = settings(restart());
    ASSERT_TRUE(again->loadConfigFromMetadataTable());
    EXPECT_EQ(again->successFetchTimes().size(), 1u);
    EXPECT_EQ(again->lastFetchStatus(), 1);
    EXPECT_EQ(again->lastFetchError(), 8002);
    EXPECT_EQ(again->lastApplyTimeInterval(), 123);
    EXPECT_EQ(Value(again->deviceContext()), Value(DeviceInfoContextWithProjectIdentifier("1:1:ios:a")));
    EXPECT_EQ(again->lastFetchedTemplateVersion(), "7");
    EXPECT_EQ(again->lastFetchTimeInterval(), clock->now());

    // A value that is no JSON: the row stays as it was.
    again->setCustomVariables(platform::Dictionary{{"bad", Value::data(platform::Bytes{1})}});
    EXPECT_TRUE(logged("Invalid custom variables to be serialized."));
    again->updateMetadataWithFetchSuccessStatus(false, std::nullopt);
  }
  auto third = settings(restart());
  third->loadConfigFromMetadataTable();
  EXPECT_EQ(third->successFetchTimes().size(), 1u);
  EXPECT_TRUE(third->failureFetchTimes().empty());
  EXPECT_EQ(third->lastFetchStatus(), 1);
}

TEST_F(SettingsTest, RealtimeBackoffSurvivesARestartAndANewDatabaseResetsTheStore) {
  ScopedRandom random(2);
  {
    auto s = settings();
    EXPECT_EQ(s->realtimeRetryCount(), 0);
    s->updateRealtimeExponentialBackoffTime();
    EXPECT_EQ(s->realtimeExponentialBackoffRetryInterval(), 120);
    EXPECT_EQ(s->getRealtimeBackoffInterval(), 60);
    s->setRealtimeRetryCount(1);
    s->userDefaultsManager().setLastFetchedTemplateVersion("9");
  }
  {
    auto later = settings(restart());
    EXPECT_EQ(later->realtimeRetryCount(), 1);
    EXPECT_EQ(later->realtimeExponentialBackoffRetryInterval(), 120);
    EXPECT_EQ(later->lastFetchedTemplateVersion(), "9");
    clock->advance(10);
    EXPECT_EQ(later->getRealtimeBackoffInterval(), 50);
    later->updateRealtimeExponentialBackoffTime();
    EXPECT_EQ(later->realtimeExponentialBackoffRetryInterval(), 240);
    later->updateRealtimeBackoffTimeWithInterval(120);
    EXPECT_EQ(later->getRealtimeBackoffInterval(), 120);
    EXPECT_EQ(later->realtimeExponentialBackoffRetryInterval(), 240);
  }

  // An end stored by an earlier process far beyond any allowed wait is held
  // to 24 hours from now (it used to hold the stream off for good).
  {
    auto s = settings();
    s->userDefaultsManager().setRealtimeThrottleEndTime(9.2e18);
  }
  EXPECT_EQ(settings(restart())->getRealtimeBackoffInterval(), 24 * 3600);

  // The database file is gone: a new one resets the stored values.
  restart()->removeDatabaseOnDatabaseQueueAtPath(databasePath());
  auto fresh = settings(restart());
  EXPECT_TRUE(logged("New config database created. Resetting user defaults."));
  EXPECT_EQ(fresh->realtimeRetryCount(), 0);
  EXPECT_EQ(fresh->lastFetchedTemplateVersion(), "0");
  EXPECT_EQ(fresh->lastActiveTemplateVersion(), "0");
}

TEST_F(SettingsTest, ETagAndUserDefaultsStore) {
  auto s = settings();
  s->setLastETag("etag-1");
  EXPECT_EQ(s->lastETag(), "etag-1");
  EXPECT_EQ(s->lastETagUpdateTime(), clock->now());
  clock->advance(5);
  s->setLastETag(std::nullopt);  // removes it and stamps the time
  EXPECT_EQ(s->lastETag(), std::nullopt);
  EXPECT_EQ(s->lastETagUpdateTime(), clock->now());
  s->setLastETagUpdateTime(0);  // ignored
  EXPECT_EQ(s->lastETagUpdateTime(), clock->now());

  // Dotted names, two namespaces of one app, nothing-given setters.
  RCNUserDefaultsManager dotted("my.app", rctest::kBundleIdentifier, "name.space:my.app");
  RCNUserDefaultsManager other("my.app", rctest::kBundleIdentifier, "other:my.app");
  dotted.setLastETag("a");
  dotted.setCustomSignals(platform::Dictionary{{"k", "v"}});
  other.setLastETag("b");
  dotted.setLastETag(std::nullopt);
  dotted.setCustomSignals(std::nullopt);
  EXPECT_EQ(dotted.lastETag(), "a");
  EXPECT_EQ(Value(dotted.customSignals()), Value::dict({{"k", "v"}}));
  EXPECT_EQ(other.lastETag(), "b");
  EXPECT_EQ(other.lastFetchedTemplateVersion(), "0");
  platform::UserDefaults::resetForTesting();
  RCNUserDefaultsManager::resetSharedUserDefaultsForTesting();
  RCNUserDefaultsManager reread("my.app", rctest::kBundleIdentifier, "name.space:my.app");
  EXPECT_EQ(reread.lastETag(), "a");
  EXPECT_TRUE(std::filesystem::exists(home.configHome() + "/com.tavix.rctest/Preferences/group.com.tavix.rctest.ririvudu.plist"));

  RCNUserDefaultsManager bare("app", rctest::kBundleIdentifier, "plain");
  EXPECT_TRUE(logged("Error: Namespace plain is not fully qualified app:namespace."));
  EXPECT_EQ(bare.ririvuduNamespace(), "plain");
}

}  // namespace
