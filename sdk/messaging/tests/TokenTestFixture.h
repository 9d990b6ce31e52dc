// TokenTestFixture: a configured default app (core, heartbeats and
// installations registered; messaging is not) whose installations and
// messaging requests both go to one loopback server: the fake installations
// service with the fake messaging service's routes added.
#pragma once

#include <gtest/gtest.h>

#include <atomic>

#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRComponentContainer.h"
#include "sdk/core/RIRHeartbeatLogger.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/messaging/RIRMessagingTokenOperation.h"
#include "sdk/messaging/tests/MessagingTestEnvironment.h"
#include "sdk/registration/RIRRegistration.h"
#include "testing/MainQueuePump.h"
#include "testing/fakes/installations/FakeInstallationsService.h"
#include "testing/fakes/messaging/FakeMessagingService.h"

namespace rcmtest {

class TokenTestFixture : public testkit::MainQueuePump {
 protected:
  using Kind = testkit::FakeMessagingService::Kind;

  void SetUp() override {
    RIRApp::resetForTesting();
    RIRComponentContainer::resetRegistrantsForTesting();
    RIRCoreRegisterLibrary();
    RIRHeartbeatRegisterLibrary();
    RIRInstallationsRegisterLibrary();
    RIRMessagingTokenFetchOperation::setPhoneRegistrationRetriesForTesting(0);
    RIRApp::configure();
  }
  void TearDown() override {
    drain();
    RIRApp::resetForTesting();
    RIRComponentContainer::resetRegistrantsForTesting();
    RIRMessagingTokenFetchOperation::setPhoneRegistrationRetriesForTesting(0);
    testkit::MainQueuePump::TearDown();
  }

  // The installation ID the default app's installations hand out.
  std::string installationID() {
    std::optional<std::string> fid;
    std::atomic<bool> done{false};
    RIRInstallations::installations()->installationIDWithCompletion(
        [&](std::optional<std::string> identifier, std::optional<platform::Error>) {
          fid = std::move(identifier);
          done = true;
        });
    EXPECT_TRUE(runUntil([&] { return done.load(); }));
    return fid.value_or("");
  }

  testkit::FakeInstallationsService installationsService;
  testkit::FakeMessagingService messagingService{installationsService.server()};
  MessagingTestEnvironment env{installationsService.url()};
};

}  // namespace rcmtest
