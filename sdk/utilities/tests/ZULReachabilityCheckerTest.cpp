#include "sdk/utilities/ZULReachabilityChecker.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sdk/utilities/tests/SdkTestEnvironment.h"
#include "testing/FakeReachability.h"
#include "testing/MainQueuePump.h"

namespace {

struct RecordingDelegate : ZULReachabilityDelegate {
  std::vector<ZULReachabilityStatus> statuses;
  void reachability(ZULReachabilityChecker&, ZULReachabilityStatus status) override { statuses.push_back(status); }
};

class ZULReachabilityCheckerTest : public testkit::MainQueuePump {
 protected:
  sdktest::SdkTestEnvironment env;
  testkit::FakeReachability fake;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::unique_ptr<ZULReachabilityChecker> checker =
      ZULReachabilityChecker::initWithReachabilityDelegate(delegate, "reach.test");

  ZULReachabilityCheckerTest() { ZULLogSetLevel(ZULLoggerLevelDebug); }

  void report(platform::ReachabilityFlags flags) {
    fake.setFlags("reach.test", flags);
    drain();
  }
};

TEST(ZULReachabilityStatusTest, DerivesTheStatusFromTheFlagWord) {
  const struct {
    platform::ReachabilityFlags flags;
    ZULReachabilityStatus status;
  } cases[] = {{0x2, 2}, {0x0, 1}, {0x6, 1}, {0xE, 2}, {0x1E, 1}, {0x26, 2}, {0x4, 1}, {0x36, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(ZULReachabilityChecker::statusForFlags(c.flags), c.status) << std::hex << c.flags;
  }
  EXPECT_EQ(ZULReachabilityStatusText(3), "Reachable via Cellular Data");
  EXPECT_EQ(ZULReachabilityStatusText(7), "Invalid reachability status 7");
}

TEST_F(ZULReachabilityCheckerTest, ReportsEachChangeOnceOnTheMainQueue) {
  ASSERT_TRUE(checker);
  EXPECT_FALSE(checker->isActive());
  ASSERT_TRUE(checker->start());
  EXPECT_TRUE(checker->isActive());
  EXPECT_EQ(checker->reachabilityStatus(), kZULReachabilityUnknown);  // nothing computed at start

  report(0x2);
  report(0xE);  // the same status again: no call
  report(0x0);
  EXPECT_EQ(delegate->statuses, (std::vector<ZULReachabilityStatus>{2, 1}));
  EXPECT_EQ(checker->reachabilityStatus(), kZULReachabilityNotReachable);
  EXPECT_TRUE(env.logged("I-REA902003"));

  // After stop the status is unknown again, so the next "reachable" is news.
  report(0x2);
  checker->stop();
  EXPECT_FALSE(checker->isActive());
  EXPECT_EQ(checker->reachabilityStatus(), kZULReachabilityUnknown);
  ASSERT_TRUE(checker->start());
  report(0x2);
  EXPECT_EQ(delegate->statuses, (std::vector<ZULReachabilityStatus>{2, 1, 2, 2}));
}

TEST_F(ZULReachabilityCheckerTest, NoCallbackAfterStopOrDestruction) {
  ASSERT_TRUE(checker->start());
  fake.setFlags("reach.test", 0x2);  // queued, not yet delivered
  checker->stop();
  drain();
  EXPECT_TRUE(delegate->statuses.empty());

  ASSERT_TRUE(checker->start());
  fake.setFlags("reach.test", 0x2);
  checker.reset();
  drain();
  EXPECT_TRUE(delegate->statuses.empty());
  EXPECT_EQ(fake.scheduledCount(), 0);
}

TEST_F(ZULReachabilityCheckerTest, RefusesAnEmptyHostAndATableChangeWhileActive) {
  EXPECT_EQ(ZULReachabilityChecker::initWithReachabilityDelegate(delegate, ""), nullptr);
  EXPECT_TRUE(env.logged("I-REA902001"));

  ASSERT_TRUE(checker->start());
  const platform::ReachabilityApi* before = checker->reachabilityApi();
  checker->setReachabilityApi(&platform::ReachabilityApi::builtIn());
  EXPECT_EQ(checker->reachabilityApi(), before);
  EXPECT_TRUE(env.logged("I-REA902000"));
}

TEST_F(ZULReachabilityCheckerTest, StartFailuresLeaveItInactive) {
  fake.failCreate = true;
  EXPECT_FALSE(checker->start());
  EXPECT_FALSE(env.logged("I-REA902002"));  // a failed create says nothing
  fake.failCreate = false;

  fake.failSchedule = true;
  const int releases = fake.releaseCount();
  EXPECT_FALSE(checker->start());
  EXPECT_FALSE(checker->isActive());
  EXPECT_EQ(fake.releaseCount(), releases + 1);
  EXPECT_TRUE(env.logged("I-REA902002"));
}

}  // namespace
