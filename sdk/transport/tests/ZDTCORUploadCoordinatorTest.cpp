// Upload coordinator on a virtual clock, the reachability holder and the
// life-cycle relay.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"
#include "sdk/transport/ZDTCORLifecycle.h"
#include "sdk/transport/ZDTCORReachability.h"
#include "sdk/transport/ZDTCORRegistrar.h"
#include "sdk/transport/ZDTCORUploadCoordinator.h"
#include "sdk/transport/tests/TransportTesting.h"
#include "testing/VirtualClockFixture.h"

namespace {

using transporttest::RecordingUploader;
using Calls = std::vector<std::pair<int64_t, ZDTCORUploadConditions>>;

class FakeApplication : public ZDTCORApplicationProtocol {
 public:
  ZDTCORBackgroundIdentifier beginBackgroundTaskWithName(const std::string&, std::function<void()>) override {
    return ZDTCORBackgroundIdentifierInvalid;
  }
  void endBackgroundTask(ZDTCORBackgroundIdentifier) override {}
  bool isRunningInBackground() const override { return background.load(); }
  std::atomic<bool> background{false};
};

class CountingStorage : public ZDTCORFlatFileStorage {
 public:
  CountingStorage() : ZDTCORFlatFileStorage(nullptr, nullptr) {}
  void checkForExpirations() override { ++checks; }
  std::atomic<int> checks{0};
};

class ZDTCORUploadCoordinatorTest : public testkit::VirtualClockFixture {
 protected:
  void SetUp() override {
    registrar->registerUploader(uploader1000, 1000);
    registrar->registerUploader(uploader1001, 1001);
  }
  void TearDown() override {
    coordinator->stopTimer();
    settle();
  }
  // Lets queued timer fires and the dispatch they queue run.
  void settle() {
    for (int i = 0; i < 3; ++i) coordinator->coordinationQueue().sync([] {});
  }
  void advance(double seconds) {
    clock->advance(seconds);
    settle();
  }

  std::atomic<platform::ReachabilityFlags> flags{platform::kReachabilityFlagReachable};
  std::shared_ptr<ZDTCORRegistrar> registrar = std::make_shared<ZDTCORRegistrar>();
  std::shared_ptr<FakeApplication> application = std::make_shared<FakeApplication>();
  std::shared_ptr<ZDTCORUploadCoordinator> coordinator = std::make_shared<ZDTCORUploadCoordinator>(
      registrar, application, [this] { return flags.load(); });
  std::shared_ptr<RecordingUploader> uploader1000 = std::make_shared<RecordingUploader>();
  std::shared_ptr<RecordingUploader> uploader1001 = std::make_shared<RecordingUploader>();
};

TEST_F(ZDTCORUploadCoordinatorTest, TimerFiresHalfASecondAfterStartThenEveryThirtySeconds) {
  coordinator->startTimer();
  coordinator->startTimer();  // still one timer
  settle();
  advance(0.49);
  EXPECT_TRUE(uploader1000->calls().empty());
  advance(0.01);
  EXPECT_EQ(uploader1000->calls(), (Calls{{1000, 4}}));
  EXPECT_EQ(uploader1001->calls(), (Calls{{1001, 4}}));
  advance(29.9);
  EXPECT_EQ(uploader1000->calls().size(), 1u);
  advance(0.1);
  EXPECT_EQ(uploader1000->calls().size(), 2u);

  // A tick while the application runs in the background, or without a
  // network, asks nobody.
  application->background = true;
  advance(30);
  application->background = false;
  flags = 0;
  advance(30);
  EXPECT_EQ(uploader1000->calls().size(), 2u);

  // Terminating stops the timer; a restart fires 0.5 s later again.
  coordinator->appWillTerminate(*application);
  settle();
  EXPECT_FALSE(coordinator->isTimerRunning());
  flags = platform::kReachabilityFlagReachable;
  advance(60);
  EXPECT_EQ(uploader1000->calls().size(), 2u);
  coordinator->startTimer();
  settle();
  advance(0.5);
  EXPECT_EQ(uploader1000->calls().size(), 3u);
}

TEST_F(ZDTCORUploadCoordinatorTest, ForcedUploadCarriesTheHighPriorityBitOnlyWithANetwork) {
  const struct {
    platform::ReachabilityFlags flags;
    Calls expected;
  } cases[] = {
      {platform::kReachabilityFlagReachable, {{1001, 0x14}}},
      {platform::kReachabilityFlagReachable | platform::kReachabilityFlagConnectionRequired, {}},
      {0, {}},
  };
  for (const auto& c : cases) {
    auto uploader = std::make_shared<RecordingUploader>();
    registrar->registerUploader(uploader, 1001);
    flags = c.flags;
    coordinator->forceUploadForTarget(1001);
    settle();
    EXPECT_EQ(uploader->calls(), c.expected);
  }
  EXPECT_EQ(coordinator->uploadConditions(), ZDTCORUploadConditionNoNetwork);
  // A target without an uploader is nobody's business.
  flags = platform::kReachabilityFlagReachable;
  coordinator->forceUploadForTarget(999);
  settle();
}

TEST_F(ZDTCORUploadCoordinatorTest, ForegroundAsksEachDistinctStorageOnceAndRestartsTheTimer) {
  auto shared = std::make_shared<CountingStorage>();
  auto single = std::make_shared<CountingStorage>();
  for (int64_t target : {999, 1000, 1001}) registrar->registerStorage(shared, target);
  registrar->registerStorage(single, 1002);
  coordinator->appWillForeground(*application);
  EXPECT_EQ(shared->checks.load(), 1);
  EXPECT_EQ(single->checks.load(), 1);
  settle();
  EXPECT_TRUE(coordinator->isTimerRunning());
  testkit::LogCapture logs;
  EXPECT_EQ(coordinator->storageForTarget(1003), nullptr);
  EXPECT_TRUE(logs.contains("A storage must be registered for target 1003"));
}

TEST_F(ZDTCORUploadCoordinatorTest, ReachabilityChangesDecideWhatTicksAsk) {
  // The first read found no network; changes arrive through the callback.
  auto reachability = std::make_shared<ZDTCORReachability>();
  reachability->setFlags(platform::kReachabilityFlagReachable | platform::kReachabilityFlagConnectionRequired);
  coordinator = std::make_shared<ZDTCORUploadCoordinator>(registrar, application,
                                                          [reachability] { return reachability->readCurrentFlags(); });
  coordinator->startTimer();
  settle();
  advance(0.5);
  EXPECT_TRUE(uploader1000->calls().empty());
  reachability->setCallbackFlags(platform::kReachabilityFlagReachable);
  advance(30);
  EXPECT_EQ(uploader1000->calls(), (Calls{{1000, 4}}));
  coordinator->forceUploadForTarget(1000);
  settle();
  EXPECT_EQ(uploader1000->calls(), (Calls{{1000, 4}, {1000, 0x14}}));
  // A change to 0 falls back to the first read: no network again.
  reachability->setCallbackFlags(0);
  advance(30);
  coordinator->forceUploadForTarget(1000);
  settle();
  EXPECT_EQ(uploader1000->calls().size(), 2u);
}

TEST(ZDTCORReachabilityTest, CurrentFlagsPreferTheLatestChangeAndFallBackOnZero) {
  ZDTCORReachability reachability;
  reachability.setFlags(platform::kReachabilityFlagReachable);
  EXPECT_EQ(reachability.readCurrentFlags(), platform::kReachabilityFlagReachable);
  reachability.setCallbackFlags(6);
  EXPECT_EQ(reachability.readCurrentFlags(), 6u);
  reachability.setCallbackFlags(0);
  EXPECT_EQ(reachability.readCurrentFlags(), platform::kReachabilityFlagReachable);
  EXPECT_EQ(reachability.flags(), platform::kReachabilityFlagReachable);
}

TEST(ZDTCORLifecycleTest, TerminateRelayStopsTheSharedTimerAndForegroundRestartsIt) {
  testkit::LogCapture logs;
  const int savedLevel = ZDTCORConsoleLoggerLoggingLevel();
  ZDTCORSetConsoleLoggerLoggingLevel(ZDTCORLoggingLevelDebug);
  ZDTCORApplication::load();
  ZDTCORLifecycle::load();
  auto coordinator = ZDTCORUploadCoordinator::sharedInstance();
  auto wait = [&] { coordinator->coordinationQueue().sync([] {}); };

  platform::NotificationCenter::defaultCenter().post(platform::kApplicationWillTerminateNotification);
  wait();
  EXPECT_FALSE(coordinator->isTimerRunning());
  std::vector<std::string> relayed;
  for (const std::string& line : logs.texts()) {
    if (line.find("terminating") != std::string::npos) relayed.push_back(line);
  }
  EXPECT_EQ(relayed, (std::vector<std::string>{
                         "[ZoruvuDataTransport][I-ZDTCOR000000] ZDTCORPlatform is sending a notif that the app is "
                         "terminating.",
                         "[ZoruvuDataTransport][I-ZDTCOR000000] Signaling ZDTCORUploadCoordinator that the app is "
                         "terminating.",
                         "[ZoruvuDataTransport][I-ZDTCOR000000] Signaling ZDTCORRegistrar that the app is terminating.",
                     }));

  platform::NotificationCenter::defaultCenter().post(kZDTCORApplicationWillEnterForegroundNotification);
  wait();
  EXPECT_TRUE(coordinator->isTimerRunning());
  platform::NotificationCenter::defaultCenter().post(kZDTCORApplicationDidEnterBackgroundNotification);
  wait();
  EXPECT_FALSE(coordinator->isTimerRunning());
  ZDTCORSetConsoleLoggerLoggingLevel(savedLevel);
}

}  // namespace
