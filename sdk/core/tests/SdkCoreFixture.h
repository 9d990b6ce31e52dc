// SdkCoreFixture: SdkTestEnvironment plus a clean core: no apps, no library
// registrants, no analytics class, the core logger re-armed, the null
// heartbeat logger, and a valid options file in the fixture bundle.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/runtime/ClassRegistry.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRComponentContainer.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/utilities/tests/SdkTestEnvironment.h"

namespace sdktest {

class SdkCoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    cleanCore();
    env.writeOptions(platform::Value(SdkTestEnvironment::validOptions()));
  }
  void TearDown() override { cleanCore(); }

  static void cleanCore() {
    RIRApp::resetForTesting();
    RIRComponentContainer::resetRegistrantsForTesting();
    RIRApp::setHeartbeatLoggerFactory(nullptr);
    platform::ClassRegistry::shared().removeClass(kRIRAnalyticsClassName);
    RIRLogResetForTesting();
  }

  // Options built from the valid dictionary with some keys replaced.
  static std::shared_ptr<RIROptions> optionsWith(std::initializer_list<platform::Dictionary::Entry> changes) {
    platform::Dictionary dictionary = SdkTestEnvironment::validOptions();
    for (const auto& [key, value] : changes) {
      if (value.isNull()) {
        dictionary.remove(key);
      } else {
        dictionary.set(key, value);
      }
    }
    return RIROptions::initInternalWithOptionsDictionary(dictionary);
  }

  SdkTestEnvironment env;
};

// The exception fn raises, as "NAME: REASON"; "none" when it raises nothing.
inline std::string raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const platform::Exception& exception) {
    return exception.name + ": " + exception.reason;
  }
  return "none";
}

}  // namespace sdktest
