// MessagingTestEnvironment: a clean world for one messaging test: the SDK
// test environment (temporary home, fixture bundle with Info.plist and a
// valid options file, captured log lines), every environment value the
// library reads set or cleared (service address, keychain root,
// reachability, languages, topic endpoint, time zone), the messaging folders
// created as the component's start-up creates them, and the keychain faults,
// default options and locale state cleared, and the log level at debug. Everything is restored after.
//
//   MessagingTestEnvironment env(service.url());
//   env.env.logged("I-RCM027003");
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "platform/keychain/Keychain.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/core/RIROptions.h"
#include "sdk/utilities/tests/SdkTestEnvironment.h"

namespace rcmtest {

// Sets environment variables for its lifetime and restores the old values.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : m_saved) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  // none: unset.
  void set(const std::string& name, const std::optional<std::string>& value) {
    if (!m_saved.count(name)) {
      const char* old = std::getenv(name.c_str());
      m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> m_saved;
};

class MessagingTestEnvironment {
 public:
  explicit MessagingTestEnvironment(const std::string& serviceURL = {}) {
    vars.set("APP_SERVICES_URL", serviceURL.empty() ? std::nullopt : std::optional<std::string>(serviceURL));
    vars.set("APP_KEYCHAIN_ROOT", env.home().file("keychain"));
    vars.set("APP_RESOURCES", env.bundlePath());
    vars.set("APP_REACHABILITY", std::string("reachable"));
    vars.set("RCM_SERVER_ENDPOINT", std::nullopt);
    vars.set("LANGUAGE", std::string("en_US"));
    vars.set("LC_ALL", std::nullopt);
    vars.set("LC_MESSAGES", std::nullopt);
    vars.set("LANG", std::nullopt);
    vars.set("TZ", std::string("UTC"));
    platform::Keychain::clearFaults();
    env.writeInfo({{"CFBundleIdentifier", "com.tavix.app"}, {"CFBundleShortVersionString", "1.0"}});
    env.writeOptions(platform::Value(sdktest::SdkTestEnvironment::validOptions()));
    RIROptions::resetDefaultOptions();
    createFolder("Zoruvu/RirivuduInstanceID");
    createFolder("Zoruvu/RirivuduMessaging");
    RIRLogSetLevelDebug();  // the debug lines are part of what tests check
  }
  ~MessagingTestEnvironment() {
    platform::Keychain::clearFaults();
    RIROptions::resetDefaultOptions();
  }

  // A path below Application Support.
  static std::string supportPath(const std::string& relative) {
    return platform::fs::joinPath(platform::StandardFolders::applicationSupport(), relative);
  }
  static void createFolder(const std::string& relative) {
    EXPECT_FALSE(platform::fs::createDirectory(supportPath(relative), true));
  }

  sdktest::SdkTestEnvironment env;
  ScopedEnvironment vars;
};

}  // namespace rcmtest
