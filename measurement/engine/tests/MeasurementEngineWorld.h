// MeasurementEngineWorld: a real measurement engine for one test, started as
// the application starts it, on a virtual clock, in a temporary home.
//
//   measurementtest::MeasurementEngineWorld world;   // nothing started yet
//   world.start();                                   // front start, engine created and started
//   ROZAdavurudo::logEventWithName(...) or APMAnalytics::logEventWithOrigin(...);
//   world.settle();                                  // every queue idle
//   EXPECT_EQ(world.rawEvents().at(0).name, "app_launch");
//
// What it sets up (and puts back at its end):
//  - MeasurementTestEnvironment: a temporary home, a fixture bundle (Info.plist
//    and options file written by the test), a log capture, no launch
//    arguments, the process-wide settings reset;
//  - a VirtualClock at kEpoch as Clock::current() (advance() moves it from one
//    timer deadline to the next and lets the queues settle in between);
//  - a LoopbackServer as every remote service (APP_SERVICES_URL), the
//    network reachable (APP_REACHABILITY);
//  - the process-wide measurement state of a fresh process: no engine, no
//    experiment manager, no sZTM preview headers, an unstarted front, no
//    consent, new shared persisted configuration and
//    identity under the temporary home, the analytics class registered;
//  - a record of every monitor report (monitorLines).
// configureApp() instead starts the whole SDK (RIRApp::configure with full
// options), which starts analytics through the registered class.
//
// Test thread only (it pumps the main queue).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/ROZAdavurudo.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/features/APMScreenViewReporter.h"
#include "measurement/features/experiments/APMEManager.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIRApp.h"
#include "sdk/registration/RIRRegistration.h"
#include "testing/LoopbackServer.h"
#include "testing/Quiescence.h"
#include "testing/ScopedEnvironment.h"

namespace measurementtest {

struct MonitorLine {
  int64_t level = 0;
  int64_t code = 0;
  std::string message;
};

struct RawEventRow {
  std::string name;
  std::string origin;
  double timestamp = 0;
  platform::Dictionary parameters;  // name -> APMValue (toObject form)
  int64_t metadataFingerprint = 0;
};

class MeasurementEngineWorld {
 public:
  // 2024-03-01T00:00:00Z: far from an hour or day boundary's surprises.
  static constexpr double kEpoch = 1709251200.0;

  explicit MeasurementEngineWorld(double epoch = kEpoch) : m_clock(std::make_shared<platform::VirtualClock>(epoch)) {
    m_environment.set("APP_SERVICES_URL", services.url());
    m_environment.set("APP_REACHABILITY", "reachable");
    platform::Clock::setCurrent(m_clock);
    resetProcessState();
    ROZAdavurudoRegisterLibrary();
    APMEngineServices::monitor()->setReportObserver([this](int64_t level, int64_t code, const std::string& message) {
      std::lock_guard lock(m_linesMutex);
      m_lines.push_back({level, code, message});
    });
  }

  ~MeasurementEngineWorld() {
    EXPECT_TRUE(testkit::waitForQuiescence());
    APMEngineServices::monitor()->setReportObserver(nullptr);
    if (m_configuredApp) RIRApp::resetForTesting();
    resetProcessState();
    MeasurementTestEnvironment::drainSharedMonitor();
  }

  MeasurementEngineWorld(const MeasurementEngineWorld&) = delete;
  MeasurementEngineWorld& operator=(const MeasurementEngineWorld&) = delete;

  // Starts analytics as the analytics interface does (origin "fa") and waits
  // until the engine's start-up has run.
  void start(platform::Dictionary options = defaultOptions()) {
    APMAnalytics::startWithAppID(MeasurementTestEnvironment::kAppID, "fa", options);
    settle();
  }

  // Starts as a returning user: the database already holds the first open
  // of an earlier run, so this start reports none and the raw events are the
  // test's own.
  void startReturning(platform::Dictionary options = defaultOptions()) {
    seedEarlierFirstOpen();
    start(std::move(options));
  }

  // Writes "_fot" of a first open a day before the epoch into the database
  // the engine will open.
  static void seedEarlierFirstOpen() {
    platform::Error error;
    std::shared_ptr<APMDatabase> database = APMDatabase::initWithDatabaseName(
        APMDatabase::kDatabaseName, APMPersistedConfig::sharedInstance(), &error);
    ASSERT_TRUE(database);
    const double earlier = kEpoch - 86400;
    std::shared_ptr<APMUserAttribute> firstOpen = APMUserAttribute::initWithOrigin(
        "auto", "_fot", APMValue::initWithInt64(static_cast<int64_t>(earlier) * 1000 + 3600000), earlier);
    ASSERT_TRUE(database->updateUserAttribute(firstOpen.get(), &error));
  }

  // Starts the whole SDK as the application delegate does.
  void configureApp() {
    env.writeOptions(fullOptions());
    RIRRegisterAll();
    m_configuredApp = true;
    RIRApp::configure();
    settle();
  }

  static platform::Dictionary defaultOptions() {
    return platform::Dictionary{{APMAnalytics::kCollectionEnabledOption, true},
                                {APMAnalytics::kCollectionDeactivatedOption, false},
                                {APMAnalytics::kLogTagOption, ROZAdavurudo::kLogTag}};
  }

  static platform::Dictionary fullOptions() {
    return platform::Dictionary{{"API_KEY", "ATavixLocalApiKey0123456789abcdefghijkl"},
                                {"ZCM_SENDER_ID", "123456789012"},
                                {"BUNDLE_ID", "com.tavix.app"},
                                {"PROJECT_ID", "tavix-test"},
                                {"ZORUVU_APP_ID", MeasurementTestEnvironment::kAppID}};
  }

  // Waits until every queue is idle and no request is in flight.
  void settle() { ASSERT_TRUE(testkit::waitForQuiescence()); }

  // Moves virtual time from one timer deadline to the next, settling in
  // between, up to `seconds` from now.
  void advance(double seconds) {
    settle();
    const double target = m_clock->monotonic() + seconds;
    for (;;) {
      std::optional<double> next = m_clock->nextDeadline();
      if (!next || *next > target) break;
      m_clock->advance(std::max(0.0, *next - m_clock->monotonic()));
      settle();
    }
    m_clock->advance(std::max(0.0, target - m_clock->monotonic()));
    settle();
  }

  std::shared_ptr<APMMeasurement> engine() const { return APMMeasurement::sharedInstance(); }

  // Runs `work` on the engine's worker queue and waits for it.
  void onWorkerQueue(const std::function<void(APMMeasurement&)>& work) {
    std::shared_ptr<APMMeasurement> current = engine();
    ASSERT_TRUE(current);
    current->scheduler()->dispatchSyncOnWorkerQueueBlockID("MeasurementEngineWorld", [&] { work(*current); });
  }

  // The raw events in row order.
  std::vector<RawEventRow> rawEvents() {
    std::vector<RawEventRow> rows;
    onWorkerQueue([&rows](APMMeasurement& current) {
      platform::Error error;
      std::shared_ptr<APMDatabase> database = current.database();
      if (!database) return;
      for (const std::shared_ptr<APMRawEventData>& raw : database->allRawEventsWithError(&error).value_or(
               std::vector<std::shared_ptr<APMRawEventData>>())) {
        const APMEvent& event = *raw->rawEvent();
        rows.push_back({event.name(), event.origin(), event.timestamp(), event.parameters(),
                        raw->metadataFingerprint()});
      }
    });
    return rows;
  }

  std::vector<std::string> rawEventNames() {
    std::vector<std::string> names;
    for (const RawEventRow& row : rawEvents()) names.push_back(row.name);
    return names;
  }

  std::vector<MonitorLine> monitorLines(int64_t code) {
    MeasurementTestEnvironment::drainSharedMonitor();
    std::lock_guard lock(m_linesMutex);
    std::vector<MonitorLine> found;
    for (const MonitorLine& line : m_lines) {
      if (line.code == code) found.push_back(line);
    }
    return found;
  }
  bool reported(int64_t code) { return !monitorLines(code).empty(); }
  void clearMonitorLines() {
    std::lock_guard lock(m_linesMutex);
    m_lines.clear();
  }

  const std::shared_ptr<platform::VirtualClock>& clock() const { return m_clock; }

  // What a fresh process would have: no engine, an unstarted front, no
  // consent, shared persisted configuration and identity made anew at their
  // next use, no engine providers. The old engine keeps running on its queue
  // until its last owner lets go. (Application tests call it around theirs.)
  static void resetProcessState() {
    APMAnalytics::resetForTesting();
    APMMeasurement::resetSharedInstanceForTesting();
    APMEManager::resetSharedInstanceForTesting();
    APMConsentSettingsUtil::resetForTesting();
    APMScreenViewReporter::resetSharedInstanceForTesting();
    APMIdentity::setSharedInstanceForTesting(nullptr);
    APMPersistedConfig::setSharedInstanceForTesting(nullptr);
    APMIdentity::resetAppIDFromVODGuardForTesting();
    APMEngineServices::resetProvidersForTesting();
  }

  // The environment comes first: it restores the clock and the settings last.
  MeasurementTestEnvironment env;
  testkit::LoopbackServer services;

 private:
  testkit::ScopedEnvironment m_environment;
  std::shared_ptr<platform::VirtualClock> m_clock;
  bool m_configuredApp = false;
  std::mutex m_linesMutex;
  std::vector<MonitorLine> m_lines;
};

}  // namespace measurementtest
