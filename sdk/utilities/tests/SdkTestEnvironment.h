// SdkTestEnvironment: a clean SDK world for one test: a temporary home (so
// user defaults start empty), a fixture bundle folder installed as the main
// bundle (Info.plist and options file written by the test), a capturing log
// sink, the logger's state reset, and the application's launch arguments
// cleared. Everything is restored in the destructor.
//
//   SdkTestEnvironment env;
//   env.writeInfo({{"RirivuduDataCollectionDefaultEnabled", false}});
//   env.writeOptions(SdkTestEnvironment::validOptions());
//   ...
//   EXPECT_TRUE(env.logged("I-COR000009"));   // waits for pending log writes
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/app/Application.h"
#include "platform/app/Bundle.h"
#include "platform/log/LogSink.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/UserDefaults.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULLogger.h"
#include "testing/LogCapture.h"
#include "testing/TempHome.h"

namespace sdktest {

class SdkTestEnvironment {
 public:
  static constexpr const char* kValidAppID = "1:123456789012:ios:0123abcdef";

  SdkTestEnvironment() {
    ZULLogFlush();
    platform::UserDefaults::resetForTesting();
    m_bundlePath = m_home.file("Bundle");
    EXPECT_FALSE(platform::fs::createDirectory(m_bundlePath));
    writeInfo({{"CFBundleIdentifier", "com.tavix.app"}});
    platform::Application::shared()->setLaunchArguments(std::vector<std::string>{"test"});
    ZULAppEnvironmentUtil::setFromAppStoreForTesting(std::nullopt);
    ZULLogResetForTesting();
    m_logs.clear();
  }

  ~SdkTestEnvironment() {
    ZULLogFlush();
    ZULLogResetForTesting();
    ZULAppEnvironmentUtil::setFromAppStoreForTesting(std::nullopt);
    platform::Application::setShared(nullptr);
    platform::Bundle::setMain(nullptr);
    platform::UserDefaults::resetForTesting();
  }

  static platform::Dictionary validOptions() {
    return platform::Dictionary{{"API_KEY", "ATavixLocalApiKey0123456789abcdefghijkl"},
                                {"ZCM_SENDER_ID", "123456789012"},
                                {"BUNDLE_ID", "com.tavix.app"},
                                {"PROJECT_ID", "tavix-test"},
                                {"ZORUVU_APP_ID", kValidAppID}};
  }

  const std::string& bundlePath() const { return m_bundlePath; }
  const testkit::TempHome& home() const { return m_home; }

  // Replaces Info.plist and reinstalls the main bundle (its Info is read once).
  void writeInfo(const platform::Dictionary& info) {
    EXPECT_FALSE(platform::PropertyList::writeFile(m_bundlePath + "/Info.plist", platform::Value(info)));
    platform::Bundle::setMain(std::make_shared<platform::Bundle>(m_bundlePath));
  }
  void writeOptions(const platform::Value& options) {
    EXPECT_FALSE(platform::PropertyList::writeFile(m_bundlePath + "/ZoruvuService-Info.plist", options));
  }
  void writeOptionsText(std::string_view text) {
    EXPECT_FALSE(platform::fs::writeFile(m_bundlePath + "/ZoruvuService-Info.plist", text));
  }
  void setLaunchArguments(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "test");
    platform::Application::shared()->setLaunchArguments(std::move(arguments));
  }

  // Log queries wait until every submitted line has been written.
  bool logged(std::string_view fragment) {
    ZULLogFlush();
    return m_logs.contains(fragment);
  }
  std::vector<platform::LogRecord> records() {
    ZULLogFlush();
    return m_logs.records();
  }
  std::vector<std::string> texts() {
    ZULLogFlush();
    return m_logs.texts();
  }
  void clearLogs() {
    ZULLogFlush();
    m_logs.clear();
  }

 private:
  testkit::TempHome m_home;
  testkit::LogCapture m_logs;
  std::string m_bundlePath;
};

}  // namespace sdktest
