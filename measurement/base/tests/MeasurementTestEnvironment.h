// MeasurementTestEnvironment: a clean world for one measurement test: a
// temporary home (preferences and Application Support start empty), a
// fixture bundle installed as the main bundle (Info.plist and options file
// written by the test), a capturing log sink, the shared logger reset, no
// launch arguments, not a store installation, no engine providers in the
// services seam, and the process's random source, clock and purchase store
// restored afterwards. The shared monitor's queue is drained before the home
// goes away, so no late write lands outside the test's folders.
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

#include "measurement/base/APMDefaultIdentitySupport.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "platform/app/Application.h"
#include "platform/app/Bundle.h"
#include "platform/app/PurchaseStore.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
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
  static constexpr const char* kAppID = "1:123456789012:ios:0123abcdef";

  MeasurementTestEnvironment() {
    drainSharedMonitor();
    APMEngineServices::resetProvidersForTesting();
    platform::UserDefaults::resetForTesting();
    m_bundlePath = m_home.file("Bundle");
    EXPECT_FALSE(platform::fs::createDirectory(m_bundlePath));
    writeInfo({{"CFBundleIdentifier", "com.tavix.app"}, {"CFBundleShortVersionString", "2.5"},
               {"CFBundleVersion", "2.5.1"}});
    writeOptions(platform::Dictionary{{"ZORUVU_APP_ID", kAppID}});
    setLaunchArguments({});
    ZULAppEnvironmentUtil::setFromAppStoreForTesting(std::nullopt);
    ZULLogResetForTesting();
    m_logs.clear();
  }

  ~MeasurementTestEnvironment() {
    drainSharedMonitor();
    APMEngineServices::resetProvidersForTesting();
    platform::Bundle::setMain(nullptr);
    platform::PurchaseStore::setCurrent(nullptr);
    APMDefaultIdentitySupport::setSharedInstanceForTesting(nullptr);
    ZULLogResetForTesting();
    ZULAppEnvironmentUtil::setFromAppStoreForTesting(std::nullopt);
    platform::Application::setShared(nullptr);
    platform::RandomSource::setCurrent(nullptr);
    platform::Clock::setCurrent(nullptr);
    platform::UserDefaults::resetForTesting();
  }

  const testkit::TempHome& home() const { return m_home; }
  const std::string& bundlePath() const { return m_bundlePath; }

  // Replaces Info.plist and reinstalls the main bundle (its Info is read once).
  void writeInfo(const platform::Dictionary& info) {
    EXPECT_FALSE(platform::PropertyList::writeFile(m_bundlePath + "/Info.plist", platform::Value(info)));
    platform::Bundle::setMain(std::make_shared<platform::Bundle>(m_bundlePath));
  }
  void writeOptions(const platform::Dictionary& options) {
    EXPECT_FALSE(
        platform::PropertyList::writeFile(m_bundlePath + "/ZoruvuService-Info.plist", platform::Value(options)));
  }

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
  std::string m_bundlePath;
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
