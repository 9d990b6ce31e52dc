// The configuration fetch against the fake configuration service: the
// request and its conditional headers, every kind of answer, and a storing
// transaction that rolls back taking the settings with it.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/engine/tests/BundleTestSupport.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"
#include "testing/fakes/measurement/FakeMeasurementUploadService.h"

namespace {

using measurementtest::MeasurementEngineWorld;
using measurementtest::MeasurementTestEnvironment;
using testkit::MeasurementConfigAnswer;

platform::Value json(const std::string& text) { return *platform::Json::parse(text); }

class ConfigFetchTest : public ::testing::Test {
 protected:
  void SetUp() override { world.start(); }

  std::shared_ptr<APMPersistedConfig> persisted() { return world.engine()->persistedConfig(); }
  std::shared_ptr<APMRemoteConfig> settings() { return world.engine()->remoteConfigInstance(); }

  void fetch() {
    world.onWorkerQueue([](APMMeasurement& engine) { engine.fetchRemoteConfig(); });
    world.settle();
  }

  // A stored configuration of that version whose cache time has passed.
  void storeExpiredConfiguration(int64_t version) {
    configs.script({MeasurementConfigAnswer::configuration(
        json(R"({"version": )" + std::to_string(version) + R"(, "data_controls": ["old"]})"), "old-date", "old-tag")});
    fetch();
    ASSERT_EQ(settings()->version(), version);
    measurementtest::rawDatabase()->exec("UPDATE app_metadata SET remote_config_timestamp = 0");
    ASSERT_TRUE(isExpired());
    world.clearMonitorLines();
  }

  bool isExpired() {
    bool expired = false;
    world.onWorkerQueue([&expired](APMMeasurement& engine) { expired = engine.remoteConfigInstance()->isExpired(); });
    return expired;
  }

  MeasurementEngineWorld world;
  testkit::FakeMeasurementConfigService configs{world.services};
  testkit::FakeMeasurementUploadService uploads{world.services};
};

TEST_F(ConfigFetchTest, ConditionalHeadersGoOnlyWithAConfigurationOfThisLibrary) {
  configs.script(
      {MeasurementConfigAnswer::configuration(json(R"({"version": 1})"), "Mon, 04 Mar 2024 10:00:00 GMT", "\"v1\""),
       MeasurementConfigAnswer::withStatus(304)});
  fetch();
  EXPECT_EQ(settings()->version(), 1);
  fetch();
  EXPECT_EQ(settings()->version(), 1);
  persisted()->setConfigVODVersion(APMIdentity::redIveduruvezaLibraryVersion() - 100);  // an older library's
  fetch();

  std::vector<testkit::MeasurementConfigFetch> fetches = configs.fetches();
  ASSERT_EQ(fetches.size(), 3u);
  EXPECT_EQ(fetches[0].appID, MeasurementTestEnvironment::kAppID);
  EXPECT_EQ(fetches[0].query, (std::map<std::string, std::string>{
                                  {"platform", "macos"}, {"runtime_version", "0"}, {"vod_version", "120500"}}));
  EXPECT_FALSE(fetches[0].ifModifiedSince || fetches[0].ifNoneMatch);
  EXPECT_EQ(fetches[1].ifModifiedSince, "Mon, 04 Mar 2024 10:00:00 GMT");
  EXPECT_EQ(fetches[1].ifNoneMatch, "\"v1\"");
  EXPECT_FALSE(fetches[2].ifModifiedSince || fetches[2].ifNoneMatch);
}

TEST_F(ConfigFetchTest, EveryAnswerIsHandled) {
  struct Case {
    const char* name;
    MeasurementConfigAnswer answer;
    int64_t version;  // in force afterwards (3: the old one stays)
    bool failure;     // counted as a failed upload
    bool backOff;
    int64_t code;  // a monitor line that must appear
  };
  const std::vector<Case> cases = {
      {"new configuration", MeasurementConfigAnswer::configuration(json(R"({"version": 4})"), "d4", "t4"), 4, false,
       false, 23133},
      {"204 without a body", MeasurementConfigAnswer::withStatus(204), 3, false, false, 23133},
      {"304", MeasurementConfigAnswer::withStatus(304), 3, false, false, 23131},
      {"404", MeasurementConfigAnswer::withStatus(404), 3, false, false, 23130},
      {"another app", MeasurementConfigAnswer::configuration(json(R"({"version": 5, "app_id": "1:9:ios:9"})"), "d5"), 3,
       false, false, 23136},
      {"undecodable", MeasurementConfigAnswer::raw(200, "\x0a\xff\x01"), 3, false, false, 23135},
      {"500", MeasurementConfigAnswer::withStatus(500), 3, true, false, 23129},
      {"503", MeasurementConfigAnswer::withStatus(503), 3, true, true, 23129},
      {"dropped connection", MeasurementConfigAnswer::dropped(), 3, true, false, 23128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    storeExpiredConfiguration(3);
    persisted()->setLastFailedUploadTimestamp(0);
    persisted()->setLastBackoffTimestamp(0);
    if (c.answer.drop) {
      // The client retries a request whose reused connection was dropped:
      // every attempt is dropped.
      configs.setDefaultAnswer(c.answer);
    } else {
      configs.script({c.answer});
    }
    fetch();
    configs.setDefaultAnswer(MeasurementConfigAnswer::configuration(platform::Value::dict()));
    EXPECT_EQ(settings()->version(), c.version);
    EXPECT_EQ(persisted()->lastFailedUploadTimestamp(), c.failure ? world.clock()->now() : 0);
    EXPECT_EQ(persisted()->lastBackoffTimestamp(), c.backOff ? world.clock()->now() : 0);
    // Any answer but a failure renews the cache time.
    EXPECT_EQ(isExpired(), c.failure);
    EXPECT_TRUE(world.reported(c.code));
    // Validators change only with a stored configuration.
    EXPECT_EQ(persisted()->configServerETag(), c.version == 4 ? "t4" : "old-tag");
  }
}

TEST_F(ConfigFetchTest, AStoringTransactionThatRollsBackTakesTheSettingsBack) {
  const std::string body = [] {
    std::string error;
    auto config = testkit::measurementConfigFromNotation(
        json(R"({"version": 9, "data_controls": ["new"], "settings": {"measurement.upload.interval": "60000"}})"),
        MeasurementTestEnvironment::kAppID, error);
    const platform::Bytes bytes = *config->protoBuffer();
    return std::string(bytes.begin(), bytes.end());
  }();
  auto storeWithFailingCommit = [this, &body] {
    bool stored = true;
    world.onWorkerQueue([&](APMMeasurement& engine) {
      sqlite3* handle = engine.database()->sqliteStore()->sqliteHandle();
      sqlite3_commit_hook(
          handle, [](void*) { return 1; }, nullptr);  // every commit becomes a rollback
      int64_t refusal = 0;
      stored = engine.storeRemoteConfigData(platform::Bytes(body.begin(), body.end()), &refusal);
      sqlite3_commit_hook(handle, nullptr, nullptr);
    });
    return stored;
  };

  // Without a configuration before: none afterwards.
  EXPECT_FALSE(storeWithFailingCommit());
  EXPECT_EQ(settings()->version(), -1);
  EXPECT_TRUE(settings()->dataControls().empty());
  EXPECT_EQ(settings()->uploadingInterval(), 3600);

  // With one before: that one, in the database and in the settings.
  storeExpiredConfiguration(3);
  EXPECT_FALSE(storeWithFailingCommit());
  EXPECT_EQ(settings()->version(), 3);
  EXPECT_EQ(settings()->dataControls(), (std::vector<std::string>{"old"}));
  EXPECT_EQ(settings()->uploadingInterval(), 3600);
  world.onWorkerQueue([](APMMeasurement& engine) {
    std::shared_ptr<APMRemoteConfig> current = engine.remoteConfigInstance();
    EXPECT_EQ(current->measurementConfigFromDatabase()->protoBuffer(), current->measurementConfig()->protoBuffer());
  });
}

}  // namespace
