// Fixture of the facade and fetch tests: the shared remote-config set-up,
// the default app configured from an options file, the loopback fake
// installations and config fetch services behind APP_SERVICES_URL, a
// keychain folder of its own, a virtual clock and a fixed random source.
#pragma once

#include <optional>
#include <string>

#include "platform/crypto/RandomSource.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIRApp.h"
#include "sdk/registration/RIRRegistration.h"
#include "sdk/remote-config/ZUVUduvedOrovar.h"
#include "sdk/remote-config/ZUVUduvedOrovarComponent.h"
#include "sdk/remote-config/ab-testing/ABTConditionalUserPropertyController.h"
#include "sdk/remote-config/tests/RemoteConfigTestSupport.h"
#include "sdk/transport/ZDTCORUploadCoordinator.h"
#include "testing/MainQueuePump.h"
#include "testing/Quiescence.h"
#include "testing/fakes/installations/FakeInstallationsService.h"
#include "testing/fakes/remote-config/FakeRemoteConfigService.h"

namespace rctest {

inline constexpr const char* kAppID = "1:470815926123:ios:5b2c7f9a0d3e41a6";
inline constexpr const char* kAPIKey = "ATavixLocalApiKey0123456789abcdefghijkl";

struct FetchOutcome {
  int64_t status = -1;
  std::optional<platform::Error> error;
};

class FacadeFixture : public RemoteConfigTest {
 protected:
  static platform::Dictionary options() {
    return platform::Dictionary{{"API_KEY", kAPIKey},
                                {"ZCM_SENDER_ID", "470815926123"},
                                {"BUNDLE_ID", kBundleIdentifier},
                                {"PROJECT_ID", testkit::FakeRemoteConfigService::kDefaultProject},
                                {"ZORUVU_APP_ID", kAppID}};
  }

  void SetUp() override {
    RemoteConfigTest::SetUp();
    environment.set("APP_SERVICES_URL", installations.url());
    environment.set("APP_KEYCHAIN_ROOT", home.file("keychain"));
    environment.set("APP_REACHABILITY", "reachable");
    ASSERT_FALSE(platform::PropertyList::writeFile(home.file("bundle/ZoruvuService-Info.plist"),
                                                   platform::Value(options())));
    // The libraries are registered before the virtual clock is installed:
    // the transport's upload timer, started once per process, runs on the
    // system clock. On the virtual one every advance of these tests fired it
    // once per 30 virtual seconds, thousands of upload checks that were still
    // running when the process exited.
    RIRRegisterAll();
    ZDTCORUploadCoordinator::sharedInstance()->isTimerRunning();
    clock = std::make_shared<platform::VirtualClock>();
    platform::Clock::setCurrent(clock);
    platform::RandomSource::setCurrent(std::make_shared<platform::DeterministicRandomSource>(7));
    RIRApp::resetForTesting();
    RIROptions::resetDefaultOptions();
    ZUVUduvedOrovarComponent::clearAllComponentInstances();
    ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
    RIRApp::configure();
  }

  void TearDown() override {
    settle();
    // Configuring started analytics too: its engine's work ends in this home,
    // before the process may exit under it.
    EXPECT_TRUE(testkit::waitForQuiescence());
    ZUVUduvedOrovarComponent::clearAllComponentInstances();
    ABTConditionalUserPropertyController::resetSharedInstanceForTesting();
    RIRApp::resetForTesting();
    RIROptions::resetDefaultOptions();
    settle();
    platform::Clock::setCurrent(nullptr);
    platform::RandomSource::setCurrent(nullptr);
    RemoteConfigTest::TearDown();
  }

  // Lets queued work of the facades and the database finish.
  static void settle() {
    ZUVUduvedOrovar::sharedRemoteConfigSerialQueue().sync([] {});
    platform::MainQueue::drain();
    ZUVUduvedOrovar::sharedRemoteConfigSerialQueue().sync([] {});
    if (RCNConfigDBManager::sharedInstance()) RCNConfigDBManager::sharedInstance()->waitForDatabaseOperationQueue();
    platform::MainQueue::drain();
  }

  // A second passes first, so a minimum interval of 0 has elapsed since the last fetch.
  FetchOutcome fetch(ZUVUduvedOrovar& facade, double minimumInterval = 0) {
    clock->advance(1);
    std::optional<FetchOutcome> outcome;
    facade.fetchWithExpirationDuration(minimumInterval, [&](int64_t status, std::optional<platform::Error> error) {
      outcome = FetchOutcome{status, error};
    });
    EXPECT_TRUE(testkit::runUntil([&] { return outcome.has_value(); }, 30));
    settle();
    return outcome.value_or(FetchOutcome{});
  }

  std::pair<bool, std::optional<platform::Error>> activate(ZUVUduvedOrovar& facade) {
    std::mutex mutex;
    std::optional<std::pair<bool, std::optional<platform::Error>>> outcome;
    facade.activateWithCompletion([&](bool changed, std::optional<platform::Error> error) {
      std::lock_guard<std::mutex> lock(mutex);
      outcome = std::make_pair(changed, error);
    });
    EXPECT_TRUE(testkit::runUntil(
        [&] {
          std::lock_guard<std::mutex> lock(mutex);
          return outcome.has_value();
        },
        30));
    settle();
    std::lock_guard<std::mutex> lock(mutex);
    return outcome.value_or(std::make_pair(false, std::nullopt));
  }

  // The default app's facade of a namespace.
  static std::shared_ptr<ZUVUduvedOrovar> facade(const std::string& ns = "ririvudu") {
    return ZUVUduvedOrovar::remoteConfigWithRIRNamespace(ns);
  }

  // The body of a recorded request (the loopback server inflates gzip request bodies).
  static std::string body(const testkit::RecordedRequest& request) { return request.body; }

  testkit::FakeInstallationsService installations;
  testkit::FakeRemoteConfigService service{installations.server()};
  std::shared_ptr<platform::VirtualClock> clock;
};

}  // namespace rctest
