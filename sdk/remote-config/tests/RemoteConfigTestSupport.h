// Shared set-up of remote configuration's tests: a temporary home, a small
// bundle of its own (identifier "com.tavix.rctest", version 2.5, build 25),
// a fixed language, country and time zone, and fresh shared objects (config
// database, content, user-defaults suite) before and after each test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/app/Bundle.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/StandardFolders.h"
#include "platform/storage/UserDefaults.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/remote-config/RCNConfigContent.h"
#include "sdk/remote-config/RCNConfigDBManager.h"
#include "sdk/remote-config/RCNUserDefaultsManager.h"
#include "testing/LogCapture.h"
#include "testing/ScopedEnvironment.h"
#include "testing/TempHome.h"

namespace rctest {

inline constexpr const char* kBundleIdentifier = "com.tavix.rctest";

class RemoteConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    environment.set("LANGUAGE", "en_US");
    environment.unset("LC_ALL");
    environment.unset("LC_MESSAGES");
    environment.set("LANG", "en_US.UTF-8");
    environment.set("TZ", "Europe/Berlin");
    environment.set("APP_RESOURCES", home.file("bundle"));
    environment.set("APP_SERVICES_URL", "http://127.0.0.1:9");
    platform::Dictionary info{{"CFBundleIdentifier", kBundleIdentifier},
                              {"CFBundleShortVersionString", "2.5"},
                              {"CFBundleVersion", "25"}};
    writeBundle(info);
    resetShared();
    RIRLogSetLevelDebug();
  }
  void TearDown() override {
    resetShared();
    RIRLogResetForTesting();
    platform::Bundle::setMain(nullptr);
    platform::StandardFolders::setBundleIdentifier("");
  }

  void writeBundle(const platform::Dictionary& info) {
    std::filesystem::create_directories(home.file("bundle"));
    ASSERT_FALSE(platform::PropertyList::writeFile(home.file("bundle/Info.plist"), platform::Value(info)).has_value());
    platform::Bundle::setMain(std::make_shared<platform::Bundle>(home.file("bundle")));
  }

  static void resetShared() {
    RCNConfigContent::resetSharedInstanceForTesting();
    RCNConfigDBManager::resetSharedInstanceForTesting();
    RCNUserDefaultsManager::resetSharedUserDefaultsForTesting();
    platform::UserDefaults::resetForTesting();
  }

  // Whether a log line holding `fragment` was written (after the logger's queue drained).
  bool logged(std::string_view fragment) {
    ZULLogFlush();
    return logs.contains(fragment);
  }

  std::string databasePath() const { return RCNConfigDBManager::remoteConfigPathForDatabase(); }

  testkit::TempHome home;
  testkit::ScopedEnvironment environment;
  testkit::LogCapture logs;
};

}  // namespace rctest
