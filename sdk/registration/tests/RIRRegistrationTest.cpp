// The ordered registration: what the transport registers, for which targets,
// and its upload timer from start-up to termination.
#include <gtest/gtest.h>

#include "platform/app/Application.h"
#include "sdk/registration/RIRRegistration.h"
#include "sdk/transport/ZDTCCTUploader.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORMetricsController.h"
#include "sdk/transport/ZDTCORRegistrar.h"
#include "sdk/transport/ZDTCORUploadCoordinator.h"
#include "testing/TempHome.h"

namespace {

TEST(RIRRegistrationTest, TransportRegistersItsTargetsAndRunsItsTimerUntilTermination) {
  testkit::TempHome home;
  ::setenv("APP_REACHABILITY", "unreachable", 1);
  RIRRegisterAll();
  RIRRegisterAll();  // later calls do nothing
  auto storages = ZDTCORRegistrar::sharedInstance()->targetToStorage();
  std::vector<int64_t> targets;
  for (const auto& [target, storage] : storages) {
    targets.push_back(target);
    EXPECT_EQ(storage, ZDTCORFlatFileStorage::sharedInstance());
  }
  EXPECT_EQ(targets, (std::vector<int64_t>{999, 1000, 1001, 1002, 1003}));
  // The uploader serves 1000 to 1003, the metrics controller 1001 and 1002,
  // and is the storage's delegate.
  targets.clear();
  for (const auto& [target, uploader] : ZDTCORRegistrar::sharedInstance()->targetToUploader()) {
    targets.push_back(target);
    EXPECT_EQ(uploader, ZDTCCTUploader::sharedInstance());
  }
  EXPECT_EQ(targets, (std::vector<int64_t>{1000, 1001, 1002, 1003}));
  targets.clear();
  for (const auto& [target, controller] : ZDTCORRegistrar::sharedInstance()->targetToMetricsController()) {
    targets.push_back(target);
    EXPECT_EQ(controller, ZDTCORMetricsController::sharedInstance());
  }
  EXPECT_EQ(targets, (std::vector<int64_t>{1001, 1002}));
  EXPECT_EQ(ZDTCORFlatFileStorage::sharedInstance()->delegate(), ZDTCORMetricsController::sharedInstance());

  // The application's termination stops the upload timer; events stay on disk.
  auto coordinator = ZDTCORUploadCoordinator::sharedInstance();
  EXPECT_TRUE(coordinator->isTimerRunning());
  auto application = std::make_shared<platform::Application>();
  application->finishLaunching();
  application->terminate();
  coordinator->coordinationQueue().sync([] {});
  EXPECT_FALSE(coordinator->isTimerRunning());
  ::unsetenv("APP_REACHABILITY");
}

}  // namespace
