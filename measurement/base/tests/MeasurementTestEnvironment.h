// MeasurementTestEnvironment: a clean world for one measurement test: a
// temporary home (preferences and Application Support start empty), a
// capturing log sink, the shared logger reset, no launch arguments, not a
// store installation, and the process's random source and clock restored
// afterwards. The shared monitor's queue is drained before the home goes
// away, so no late write lands outside the test's folders.
//
//   MeasurementTestEnvironment env;
//   ...
//   EXPECT_TRUE(env.logged("I-ACS030001"));  // waits for monitor and logger
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "platform/app/Application.h"
#include "platform/crypto/RandomSource.h"
#include "platform/storage/UserDefaults.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULLogger.h"
#include "testing/LogCapture.h"
#include "testing/TempHome.h"

namespace measurementtest {

class MeasurementTestEnvironment {
 public:
  MeasurementTestEnvironment() {
    drainSharedMonitor();
    platform::UserDefaults::resetForTesting();
    setLaunchArguments({});
    ZULAppEnvironmentUtil::setFromAppStoreForTesting(std::nullopt);
    ZULLogResetForTesting();
    m_logs.clear();
  }

  ~MeasurementTestEnvironment() {
    drainSharedMonitor();
    ZULLogResetForTesting();
    ZULAppEnvironmentUtil::setFromAppStoreForTesting(std::nullopt);
    platform::Application::setShared(nullptr);
    platform::RandomSource::setCurrent(nullptr);
    platform::Clock::setCurrent(nullptr);
    platform::UserDefaults::resetForTesting();
  }

  const testkit::TempHome& home() const { return m_home; }

  void setLaunchArguments(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "test");
    platform::Application::shared()->setLaunchArguments(std::move(arguments));
  }

  // Waits until every report made so far has left the shared monitor and the
  // shared logger.
  static void drainSharedMonitor() {
    APMEngineServices::monitor()->monitorQueue().sync([] {});
    ZULLogFlush();
  }

  bool logged(std::string_view fragment) {
    drainSharedMonitor();
    return m_logs.contains(fragment);
  }
  std::vector<std::string> texts() {
    drainSharedMonitor();
    return m_logs.texts();
  }
  void clearLogs() {
    drainSharedMonitor();
    m_logs.clear();
  }

 private:
  testkit::TempHome m_home;
  testkit::LogCapture m_logs;
};

// A random source whose uniform() answers come from a script (then 0).
class ScriptedRandomSource : public platform::RandomSource {
 public:
  explicit ScriptedRandomSource(std::vector<uint32_t> uniforms) : m_uniforms(std::move(uniforms)) {}
  void fill(std::span<uint8_t> out) override {
    for (uint8_t& byte : out) byte = 0;
  }
  uint32_t uniform(uint32_t upperBound) override {
    m_bounds.push_back(upperBound);
    if (m_next >= m_uniforms.size()) return 0;
    return m_uniforms[m_next++];
  }
  const std::vector<uint32_t>& bounds() const { return m_bounds; }

 private:
  std::vector<uint32_t> m_uniforms;
  size_t m_next = 0;
  std::vector<uint32_t> m_bounds;
};

}  // namespace measurementtest
