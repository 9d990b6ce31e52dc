// The experiment manager: registration, flag look-up order, activation,
// staleness, experiment IDs, and the new-snapshot cycle end to end against
// the loopback experiment service.
#include "measurement/features/experiments/APMEManager.h"

#include <gtest/gtest.h>

#include <atomic>

#include "measurement/base/APMPBFlag.h"
#include "measurement/features/experiments/tests/ExperimentTestSupport.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {

using experimenttest::ExperimentWorld;
using platform::Value;
using testkit::ExperimentAnswer;

std::shared_ptr<APMESnapshot> snapshot(const std::string& name,
                                       std::vector<std::pair<int64_t, std::vector<std::pair<std::string, Value>>>> experiments) {
  std::vector<std::shared_ptr<APMEExperiment>> made;
  for (const auto& [id, flags] : experiments) {
    std::vector<std::shared_ptr<APMPBFlag>> messages;
    for (const auto& [flag, value] : flags) {
      std::shared_ptr<APMPBFlag> message = APMPBFlag::initWithMessageInfo(nullptr);
      APMPBSetString(message.get(), APMPBFlagSlot::kName, flag);
      if (!value.isNull()) message = APMPBFlagCreate(flag, value);
      messages.push_back(message);
    }
    made.push_back(APMEExperiment::initWithExperimentID(id, messages));
  }
  return APMESnapshot::initWithSDKName(name, made);
}

class Observer : public APMEExperimentObserverDelegate {
 public:
  void clientDidReceiveNewSnapshot(APMExperimentClient&) override { ++notices; }
  void clientDidReceiveFetchError(APMExperimentClient&, const std::optional<platform::Error>& error) override {
    if (error) lastErrorCode = error->code;
  }
  bool shouldFetchExperimentsForClient(APMExperimentClient&) override { return wantsFetch; }

  std::atomic<int> notices{0};
  std::atomic<int64_t> lastErrorCode{0};
  std::atomic<bool> wantsFetch{true};
};

class ExperimentManagerTest : public ::testing::Test {
 protected:
  ExperimentManagerTest() { manager = world.makeManager(); }

  // Snapshots as the task manager hands them over at start.
  void startWith(APMETaskManagerDelegate::Snapshots activated, APMETaskManagerDelegate::Snapshots pending,
                 APMETaskManagerDelegate::Snapshots launched) {
    manager->taskManagerDidStartWithActivatedSnapshots(*world.taskManager, activated, pending, launched);
    world.settleQueues();
  }

  ExperimentWorld world;
  std::shared_ptr<APMEManager> manager;
};

TEST_F(ExperimentManagerTest, FlagsComeFromActivatedThenLaunchedThenDefault) {
  std::shared_ptr<APMExperimentClient> client =
      manager->registerSDKProperty(APMESDKProperty{"sdk", 1}, {{"a", 1}, {"b", "default"}, {"c", 2.5}, {"d", 4}});
  ASSERT_NE(client, nullptr);
  startWith({snapshot("sdk", {{5, {{"a", 10}, {"b", Value()}}}})}, {},
            {snapshot("sdk", {{0, {{"a", 20}, {"b", "launched"}, {"c", Value()}}}})});
  const std::pair<const char*, std::optional<Value>> cases[] = {
      {"a", Value(10)},           // activated wins
      {"b", Value("launched")},   // an activated flag without a value falls through
      {"c", Value(2.5)},          // a launched flag without a value falls through too
      {"d", Value(4)},            // default only
      {"e", std::nullopt},        // nowhere
  };
  for (const auto& [name, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(client->flag(name), expected);
  }
  EXPECT_EQ(client->flag(""), std::nullopt);
  EXPECT_EQ(manager->flagValueForFlagName("a", "unregistered"), std::nullopt);
}

TEST_F(ExperimentManagerTest, RegistrationRefusesBadInputAndASecondRegistrationReplacesTheFirst) {
  EXPECT_EQ(manager->registerSDKProperty(APMESDKProperty{"", 1}, {}), nullptr);
  EXPECT_EQ(manager->registerSDKProperty(APMESDKProperty{"sdk", 1}, {{"bad", Value::array({1})}}), nullptr);
  std::shared_ptr<APMExperimentClient> first = manager->registerSDKProperty(APMESDKProperty{"sdk", 1}, {{"f", 1}});
  std::shared_ptr<APMExperimentClient> second = manager->registerSDKProperty(APMESDKProperty{"sdk", 2}, {{"g", 2}});
  EXPECT_EQ(manager->clientForSDKName("sdk"), second);
  EXPECT_EQ(second->flag("f"), std::nullopt);
  EXPECT_EQ(second->flag("g"), Value(2));
  EXPECT_TRUE(world.env.logged("I-ACS800003"));
}

TEST_F(ExperimentManagerTest, ActivationMovesExperimentZeroToLaunchedAndTheRestToActivated) {
  std::shared_ptr<APMExperimentClient> client = manager->registerSDKProperty(APMESDKProperty{"sdk", 1}, {});
  world.start();
  platform::Error error;
  EXPECT_FALSE(client->activateLatestSnapshot(&error));
  EXPECT_TRUE(error.domain.empty());  // nothing pending is not an error

  std::shared_ptr<APMESnapshot> pending = snapshot("sdk", {{0, {{"rolled", "out"}}}, {7, {{"seven", 7}}}});
  world.withDatabase([&](APMEDatabase& db) {
    return db.upsertSnapshot(*pending->proto(), APMEDatabase::kPendingTable, world.clock->now(), true, nullptr);
  });
  startWith({}, {pending}, {});
  ASSERT_TRUE(client->activateLatestSnapshot(&error));
  EXPECT_EQ(client->flag("rolled"), Value("out"));
  EXPECT_EQ(client->flag("seven"), Value(7));
  EXPECT_EQ(manager->experimentIDs(), std::vector<int64_t>{7});
  EXPECT_FALSE(client->activateLatestSnapshot(&error));  // consumed
  world.settleQueues();
  EXPECT_EQ(world.withDatabase([](APMEDatabase& db) { return db.fetchAllActivatedSnapshots(nullptr)->size(); }), 1u);
  EXPECT_EQ(world.withDatabase([](APMEDatabase& db) { return db.fetchAllLaunchedSnapshots(nullptr)->size(); }), 1u);
  EXPECT_EQ(world.withDatabase([](APMEDatabase& db) { return db.fetchAllPendingSnapshots(nullptr)->size(); }), 0u);

  EXPECT_FALSE(manager->activateSnapshotOfSDK("", &error));
  EXPECT_EQ(error.code, 1);
}

TEST_F(ExperimentManagerTest, AnActivatedSnapshotTurnsStaleAfterThreeDays) {
  manager->registerSDKProperty(APMESDKProperty{"sdk", 1}, {});
  auto client = std::static_pointer_cast<APMEClient>(manager->clientForSDKName("sdk"));
  EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("sdk"), -2);
  EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("other"), -1);
  startWith({snapshot("sdk", {{3, {{"f", 1}}}})}, {}, {});
  const double activatedAt = world.clock->now();
  EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("sdk"), 0);
  world.clock->advance(259200);
  EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("sdk"), 0);
  EXPECT_FALSE(client->hasStaleSnapshot());
  world.clock->advance(1);
  EXPECT_EQ(world.clock->now() - activatedAt, 259201);
  EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("sdk"), 1);
  EXPECT_TRUE(client->hasStaleSnapshot());

  client->resetToDefaults();
  EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("sdk"), -2);
  EXPECT_EQ(client->flag("f"), std::nullopt);
}

TEST_F(ExperimentManagerTest, ExperimentIDsLeaveOutSDKsWithTheirOwnDiversionKey) {
  manager->registerSDKProperty(APMESDKProperty{"plain", 1}, {});
  manager->registerSDKProperty(APMESDKProperty{"own_key", 1, std::nullopt, "KEYED"}, {});
  startWith({snapshot("plain", {{9, {{"a", 1}}}, {2, {{"b", 1}}}}), snapshot("own_key", {{5, {{"c", 1}}}})}, {}, {});
  EXPECT_EQ(manager->experimentIDs(), (std::vector<int64_t>{2, 9}));
}

TEST_F(ExperimentManagerTest, AFetchedSnapshotReachesTheObserverWhichActivatesIt) {
  auto observer = std::make_shared<Observer>();
  std::shared_ptr<APMExperimentClient> client = manager->registerSDKProperty(APMESDKProperty{"app_measurement", 1}, {});
  client->setDelegate(observer);
  manager->registerSDKProperty(APMESDKProperty{"silent", 1}, {});
  world.service.script({ExperimentAnswer::response(
      {{"app_measurement", {{11, {{"customer_type_enabled", 0}}}}}, {"silent", {{12, {{"s", 1}}}}}},
      {{"app_measurement", 3, std::nullopt}})});
  world.taskManager->startTaskManager();
  world.settleQueues();
  world.advanceTo(world.t0 + 10);
  ASSERT_TRUE(testkit::runUntil([&] { return observer->notices.load() == 1; }));
  EXPECT_EQ(observer->lastErrorCode.load(), -4);

  // The observed SDK's row is marked, the silent one's is not.
  APMEDatabase::Snapshots pending =
      world.withDatabase([](APMEDatabase& db) { return *db.fetchAllPendingSnapshots(nullptr); });
  ASSERT_EQ(pending.size(), 2u);
  for (const auto& row : pending) EXPECT_EQ(row->manuallyActivated(), row->SDKName() == "app_measurement");

  platform::Error error;
  ASSERT_TRUE(client->activateLatestSnapshot(&error));
  EXPECT_EQ(client->flag("customer_type_enabled"), Value(0));
  EXPECT_EQ(manager->experimentIDs(), std::vector<int64_t>{11});
}

TEST_F(ExperimentManagerTest, FetchingWaitsForAnObserverThatWantsIt) {
  auto observer = std::make_shared<Observer>();
  observer->wantsFetch = false;
  world.start();  // the recorder first, then the manager takes over
  world.taskManager->setDelegate(manager);
  EXPECT_FALSE(manager->taskManagerShouldFetchExperiments(*world.taskManager));  // nobody registered
  std::shared_ptr<APMExperimentClient> client = manager->registerSDKProperty(APMESDKProperty{"sdk", 1}, {});
  client->setDelegate(observer);
  manager->clientForSDKName("sdk");
  EXPECT_FALSE(manager->taskManagerShouldFetchExperiments(*world.taskManager));
  world.advanceTo(world.t0 + 10);
  EXPECT_EQ(world.service.fetchCount(), 0u);
  observer->wantsFetch = true;
  EXPECT_TRUE(manager->taskManagerShouldFetchExperiments(*world.taskManager));
}

TEST_F(ExperimentManagerTest, ResetForgetsSnapshotsButKeepsClients) {
  std::shared_ptr<APMExperimentClient> client = manager->registerSDKProperty(APMESDKProperty{"sdk", 1}, {{"f", 1}});
  world.start();
  world.taskManager->setDelegate(manager);
  startWith({snapshot("sdk", {{3, {{"f", 5}}}})}, {}, {});
  EXPECT_EQ(client->flag("f"), Value(5));
  manager->reset();
  world.settleQueues();
  EXPECT_EQ(client->flag("f"), Value(1));
  EXPECT_EQ(manager->clientForSDKName("sdk"), client);
}

TEST(ExperimentManagerVersionTest, TheClientVersionIsTheVersionStringWithoutItsLastThreeDigits) {
  EXPECT_EQ(APMEManager::version(), 10000);
}

TEST(ExperimentRequestBuilderTest, APropertyWithoutAKeyTakesTheAppInstancesAndDynamicPropertiesWin) {
  measurementtest::MeasurementTestEnvironment env;
  struct Provider : APMESDKPropertyProviderDelegate {
    std::map<std::string, std::string> dynamicCustomPropertiesForSDKProperty(const APMESDKProperty&) override {
      return {{"tier", "dynamic"}, {"extra", "1"}};
    }
  };
  auto provider = std::make_shared<Provider>();
  APMESDKProperty property{"sdk", 3, std::nullopt, std::nullopt, {{"tier", "static"}, {"kept", "yes"}}, provider};
  std::shared_ptr<APMPBClientProperty> client = APMEExperimentRequestBuilder::clientPropertyProto(property, "QRSTU");
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(APMPBGetString(client.get(), APMPBClientPropertySlot::kDiversion), "QRSTU-sdk");
  std::map<std::string, std::string> custom;
  for (const APMPBMessageView& item : APMPBGetMessageViews(client.get(), APMPBClientPropertySlot::kCustomProperties)) {
    custom[*APMPBGetString(&item, APMPBCustomPropertySlot::kKey)] = *APMPBGetString(&item, APMPBCustomPropertySlot::kValue);
  }
  EXPECT_EQ(custom, (std::map<std::string, std::string>{{"extra", "1"}, {"kept", "yes"}, {"tier", "dynamic"}}));
  EXPECT_EQ(APMEExperimentRequestBuilder::clientPropertyProto(APMESDKProperty{"sdk", 3}, ""), nullptr);
}

}  // namespace
