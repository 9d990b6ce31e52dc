// The application as the analytics benchmarks start it: a home of its own
// (removed by finishAnalyticsApplication), no request leaving the machine, a
// bundle with its options, the libraries registered and the SDK configured,
// which starts analytics and the measurement engine.
//
// Header only; the benchmark programs' main threads.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "measurement/base/APMEngineServices.h"
#include "measurement/engine/APMMeasurement.h"
#include "platform/app/Bundle.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/PropertyList.h"
#include "sdk/core/RIRApp.h"
#include "sdk/registration/RIRRegistration.h"
#include "testing/Quiescence.h"

namespace benchsupport {

// The engine's database, none before the engine started.
inline std::shared_ptr<APMDatabase> engineDatabase() {
  std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
  return engine ? engine->database() : nullptr;
}

// Makes the home (from a mkdtemp template such as "/tmp/bench-x-XXXXXX",
// changed in place) and starts the application in it; aborts when it cannot.
inline void startAnalyticsApplication(char* folderTemplate) {
  if (mkdtemp(folderTemplate) == nullptr) std::abort();
  const std::string home = folderTemplate;
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
  setenv("APP_KEYCHAIN_ROOT", (home + "/keychain").c_str(), 1);
  setenv("APP_SERVICES_URL", "http://127.0.0.1:9", 1);
  setenv("APP_REACHABILITY", "unreachable", 1);
  const std::string bundle = platform::fs::joinPath(home, "Bundle");
  platform::fs::createDirectory(bundle);
  platform::PropertyList::writeFile(bundle + "/Info.plist",
                                    platform::Value(platform::Dictionary{{"CFBundleIdentifier", "com.tavix.app"}}));
  platform::PropertyList::writeFile(
      bundle + "/ZoruvuService-Info.plist",
      platform::Value(platform::Dictionary{{"API_KEY", "ATavixLocalApiKey0123456789abcdefghijkl"},
                                           {"ZCM_SENDER_ID", "123456789012"},
                                           {"BUNDLE_ID", "com.tavix.app"},
                                           {"PROJECT_ID", "tavix-bench"},
                                           {"ZORUVU_APP_ID", "1:123456789012:ios:0123abcdef"}}));
  platform::Bundle::setMain(std::make_shared<platform::Bundle>(bundle));
  RIRRegisterAll();
  RIRApp::configure();
  if (!testkit::waitForQuiescence(60) || !engineDatabase()) std::abort();
}

// Waits for the engine's work and removes the home.
inline void finishAnalyticsApplication(const char* folder) {
  testkit::waitForQuiescence(60);
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  platform::fs::removeItem(folder);
}

}  // namespace benchsupport
