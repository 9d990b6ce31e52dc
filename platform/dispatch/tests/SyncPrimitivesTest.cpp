#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/tests/ProblemCapture.h"

namespace platform {
namespace {

constexpr double kGenerous = 30;

TEST(GroupTest, TimedOutWaitDoesNotLatch) {
  Group group;
  group.enter();
  group.enter();
  EXPECT_TRUE(group.wait(0.01));
  EXPECT_TRUE(group.wait(0.01));  // waits again, times out again
  group.leave();
  EXPECT_TRUE(group.wait(0.01));
  std::thread leaver([&] { group.leave(); });
  EXPECT_FALSE(group.wait(kGenerous));
  leaver.join();
  EXPECT_FALSE(group.wait(0));  // empty: no wait at all
}

TEST(GroupTest, NotifyFiresOnceWhenAsyncWorkIsDoneEvenIfItThrows) {
  testing_support::ProblemCapture problems;
  SerialQueue queue("test.group");
  Group group;
  Semaphore gate;
  std::vector<std::string> order;  // touched on queue only
  group.async(globalQueue(), [&] { (void)gate.wait(kGenerous); });
  group.async(queue, [&] {
    order.push_back("work");
    throw std::runtime_error("failed work still leaves");
  });
  group.notify(queue, [&] { order.push_back("notified"); });
  EXPECT_EQ(queue.sync([&] { return order; }), (std::vector<std::string>{"work"}));
  gate.signal();
  EXPECT_FALSE(group.wait(kGenerous));
  group.enter();  // a later round does not re-fire the old notification
  group.leave();
  group.notify(queue, [&] { order.push_back("immediate"); });
  EXPECT_EQ(queue.sync([&] { return order; }), (std::vector<std::string>{"work", "notified", "immediate"}));

  group.leave();  // unbalanced: reported, ignored
  EXPECT_FALSE(group.wait(0));
  EXPECT_THAT(problems.joined(), ::testing::HasSubstr("without a matching enter"));
}

TEST(SemaphoreTest, CountsAndTimesOut) {
  Semaphore semaphore(2);
  EXPECT_FALSE(semaphore.wait(0));
  EXPECT_FALSE(semaphore.wait(0));
  EXPECT_TRUE(semaphore.wait(0.01));
  std::thread signaller([&] { semaphore.signal(); });
  semaphore.wait();
  signaller.join();
  EXPECT_TRUE(semaphore.wait(0.01));  // the signal was consumed once
}

TEST(ResettableOnceTest, FailedAttemptsRetryAndSuccessSticks) {
  ResettableOnce once;
  int calls = 0;
  EXPECT_FALSE(once.call([&] { ++calls; return false; }));
  EXPECT_THROW(once.call([&] { ++calls; throw std::runtime_error("compile failed"); }), std::runtime_error);
  EXPECT_FALSE(once.isDone());
  EXPECT_TRUE(once.call([&] { ++calls; return true; }));
  EXPECT_TRUE(once.call([&] { ++calls; }));
  EXPECT_EQ(calls, 3);
  once.reset();
  EXPECT_TRUE(once.call([&] { ++calls; }));
  EXPECT_EQ(calls, 4);
}

TEST(ResettableOnceTest, ConcurrentCallersRunTheBodyOnce) {
  ResettableOnce once;
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] { EXPECT_TRUE(once.call([&] { ++calls; std::this_thread::yield(); })); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace platform
