// ExperimentWorld: an experiment task manager (and, when asked, the manager
// over it) on a virtual clock in a temporary home, posting to a loopback fake
// experiment service. The task manager has its own worker queue, alarm,
// suite, database file and request builder, so tests share nothing.
//
//   ExperimentWorld world;
//   world.start();                        // database opened, first fetch planned
//   world.advanceTo(world.t0 + 10);       // the timer fires; the answer is handled
//   world.service.fetches()               // the requests, decoded
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMAlarm.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/features/experiments/APMEManager.h"
#include "measurement/features/experiments/APMETaskManager.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/TimerWork.h"
#include "platform/net/ServiceAddress.h"
#include "testing/LoopbackServer.h"
#include "testing/MainQueuePump.h"
#include "testing/ScopedEnvironment.h"
#include "testing/VirtualClockFixture.h"
#include "testing/fakes/measurement/FakeExperimentService.h"

namespace experimenttest {

// Records what the task manager tells its delegate.
class RecordingTaskManagerDelegate : public APMETaskManagerDelegate {
 public:
  bool shouldFetch = true;

  bool taskManagerShouldFetchExperiments(APMETaskManager&) override { return shouldFetch; }
  void taskManagerDidStartWithActivatedSnapshots(APMETaskManager&, const Snapshots& activated,
                                                 const Snapshots& pending, const Snapshots& launched) override {
    std::lock_guard lock(mutex);
    started.push_back({activated, pending, launched});
  }
  void taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager&, const Snapshots& snapshots,
                                                       const std::optional<Errors>& errors) override {
    std::lock_guard lock(mutex);
    fetched.push_back({snapshots, errors});
  }
  void taskManagerDidUpsertPendingSnapshots(APMETaskManager&, const Snapshots& snapshots) override {
    std::lock_guard lock(mutex);
    upserted.push_back(snapshots);
  }

  struct Start {
    Snapshots activated, pending, launched;
  };
  struct Fetch {
    Snapshots snapshots;
    std::optional<Errors> errors;
  };
  std::mutex mutex;
  std::vector<Start> started;
  std::vector<Fetch> fetched;
  std::vector<Snapshots> upserted;
};

class ExperimentWorld {
 public:
  static constexpr const char* kSDKName = "app_measurement";

  ExperimentWorld() {
    environment.set(platform::ServiceAddress::kOverrideVariable, server.url());
    environment.set("LANGUAGE", "pt_BR");
    builder->addSDKProperty(APMESDKProperty{kSDKName, 120500, std::nullopt, "ABCDE", {}, {}});
    taskManager = APMETaskManager::initWithQueue(queue, APMAlarm::initWithDispatchQueue(queue, "Experiment test"),
                                                 ZULNetwork::initWithReachabilityHost("127.0.0.1"), storage,
                                                 databasePath(), clock->now(), builder);
  }
  ~ExperimentWorld() {
    taskManager->alarm()->cancel();
    settleQueues();
  }

  std::string databasePath() const { return env.home().file("experiments.sql"); }

  // The task manager with the recording delegate, started.
  void start() {
    taskManager->setDelegate(recorder);
    startOnly();
  }
  void startOnly() {
    taskManager->startTaskManager();
    settleQueues();
  }

  // Moves the clock to `time`, lets the timers fire, and when the fetch timer
  // fired, waits until that fire was dealt with: postponed (a timer is set
  // again), or a request answered (its time stored).
  void advanceTo(double time) {
    const std::optional<double> due = scheduled();
    clock->advance(time - clock->now());
    ASSERT_TRUE(platform::waitForTimerWork());
    settleQueues();
    if (!due || *due > time) return;
    const double now = clock->now();
    ASSERT_TRUE(testkit::runUntil([&] {
      return scheduled().has_value() || stored(APMETaskManager::kSuccessTimestampKey) == now ||
             stored(APMETaskManager::kFailureTimestampKey) == now;
    }));
    settleQueues();
  }

  // Runs what the worker queue, the manager's queue and the main queue hold.
  void settleQueues() {
    for (int round = 0; round < 3; ++round) {
      taskManager->workerQueue().sync([] {});
      if (manager) manager->queue().sync([] {});
      platform::MainQueue::drain();
    }
  }

  std::optional<double> stored(const char* key) {
    std::optional<platform::Value> value = storage->objectForKey(key);
    return value ? std::optional<double>(value->doubleValue()) : std::nullopt;
  }
  std::optional<double> scheduled() { return taskManager->alarm()->scheduledTimestamp(); }

  // Runs `read` with the database on the worker queue.
  template <class Read>
  auto withDatabase(Read read) {
    using Result = decltype(read(std::declval<APMEDatabase&>()));
    std::optional<Result> result;
    taskManager->dispatchSyncOnWorkerQueue([&] {
      APMEDatabase* database = taskManager->database();
      EXPECT_NE(database, nullptr);
      if (database) result.emplace(read(*database));
    });
    return result.value_or(Result());
  }

  // A manager over the task manager (its delegate from then on).
  std::shared_ptr<APMEManager> makeManager() {
    manager = APMEManager::initWithTaskManager(taskManager, builder);
    return manager;
  }

  measurementtest::MeasurementTestEnvironment env;
  testkit::VirtualClockScope clockScope;
  std::shared_ptr<platform::VirtualClock> clock = clockScope.clock();
  const double t0 = clock->now();
  testkit::LoopbackServer server;
  testkit::FakeExperimentService service{server};
  testkit::ScopedEnvironment environment;
  platform::SerialQueue queue{APMETaskManager::kWorkerQueueLabel};
  std::shared_ptr<APMUserDefaults> storage = std::make_shared<APMUserDefaults>(APMETaskManager::kSuiteName);
  std::shared_ptr<APMEExperimentRequestBuilder> builder = std::make_shared<APMEExperimentRequestBuilder>();
  std::shared_ptr<RecordingTaskManagerDelegate> recorder = std::make_shared<RecordingTaskManagerDelegate>();
  std::shared_ptr<APMETaskManager> taskManager;
  std::shared_ptr<APMEManager> manager;
};

}  // namespace experimenttest
