#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/tests/ProblemCapture.h"
#include "platform/values/Exception.h"

namespace platform {
namespace {

constexpr double kGenerous = 30;

// An asynchronous operation that stays executing until the test finishes it;
// started while cancelled, it finishes at once (as the SDK's operations do).
class ManualOperation : public Operation {
 public:
  std::atomic<int> starts{0};
  std::atomic<bool> startedCancelled{false};
  std::atomic<int> completions{0};
  Semaphore started;

  ManualOperation() {
    setCompletion([this] { ++completions; });
  }

 protected:
  void execute() override {
    startedCancelled = isCancelled();
    ++starts;
    started.signal();
    if (isCancelled()) finish();
  }
};

std::vector<std::shared_ptr<ManualOperation>> makeOperations(int n) {
  std::vector<std::shared_ptr<ManualOperation>> ops;
  for (int i = 0; i < n; ++i) ops.push_back(std::make_shared<ManualOperation>());
  return ops;
}

TEST(OperationQueueTest, ExecutingOperationsHoldTheirSlotsUntilTheyFinish) {
  OperationQueue queue(2);
  auto ops = makeOperations(5);
  for (auto& op : ops) queue.add(op);

  ASSERT_FALSE(ops[0]->started.wait(kGenerous));
  ASSERT_FALSE(ops[1]->started.wait(kGenerous));
  EXPECT_TRUE(ops[0]->isExecuting());
  EXPECT_EQ(ops[2]->starts + ops[3]->starts + ops[4]->starts, 0);
  EXPECT_EQ(queue.operationCount(), 5u);

  std::thread([op = ops[1]] { op->finish(); }).join();  // finish from any thread
  ASSERT_FALSE(ops[2]->started.wait(kGenerous));
  EXPECT_EQ(ops[3]->starts + ops[4]->starts, 0);
  EXPECT_TRUE(ops[1]->isFinished());
  EXPECT_FALSE(ops[1]->isExecuting());

  ops[0]->finish();
  ops[0]->finish();  // a second finish changes nothing
  ASSERT_FALSE(ops[3]->started.wait(kGenerous));
  EXPECT_EQ(ops[4]->starts, 0);
  ops[2]->finish();
  ASSERT_FALSE(ops[4]->started.wait(kGenerous));
  ops[3]->finish();
  ops[4]->finish();
  queue.waitUntilAllOperationsAreFinished();
  for (auto& op : ops) {
    EXPECT_EQ(op->starts, 1);
    EXPECT_EQ(op->completions, 1);
  }
}

TEST(OperationQueueTest, CancelledOperationsThatNeverStartedStillGetStart) {
  OperationQueue queue(1, /*suspended=*/true);
  EXPECT_TRUE(queue.isSuspended());
  auto ops = makeOperations(3);
  for (auto& op : ops) queue.add(op);
  EXPECT_EQ(ops[0]->starts, 0);
  queue.cancelAll();
  queue.resume();
  queue.waitUntilAllOperationsAreFinished();
  for (auto& op : ops) {
    EXPECT_EQ(op->starts, 1);
    EXPECT_TRUE(op->startedCancelled);
    EXPECT_TRUE(op->isFinished());
    EXPECT_EQ(op->completions, 1);
  }
}

TEST(OperationQueueTest, DestroyingTheQueueCancelsQueuedOperationsWhichStillStart) {
  auto running = std::make_shared<ManualOperation>();
  auto queued = makeOperations(3);
  {
    OperationQueue queue(1);
    queue.add(running);
    ASSERT_FALSE(running->started.wait(kGenerous));
    for (auto& op : queued) queue.add(op);
  }
  EXPECT_TRUE(running->isCancelled());
  EXPECT_TRUE(running->isExecuting());  // keeps going until it finishes
  running->finish();
  for (auto& op : queued) {
    ASSERT_FALSE(op->started.wait(kGenerous));
    EXPECT_TRUE(op->startedCancelled);
  }
}

TEST(OperationQueueTest, SuspendedQueueStartsNothingUntilResumed) {
  OperationQueue queue(1, /*suspended=*/true);
  std::atomic<bool> ran{false};
  auto op = queue.add([&] { ran = true; });
  EXPECT_FALSE(ran);
  EXPECT_FALSE(op->isExecuting());
  queue.resume();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(ran);
  EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueueTest, ThrowingOperationIsReportedAndFinishedSoTheQueueGoesOn) {
  testing_support::ProblemCapture problems;
  OperationQueue queue(1);
  queue.add([] { throw std::runtime_error("operation blew up"); });
  std::atomic<bool> next{false};
  queue.add([&] { next = true; });
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(next);
  EXPECT_THAT(problems.joined(), ::testing::HasSubstr("operation blew up"));
}

TEST(OperationQueueTest, AnOperationCanBeAddedOnlyOnce) {
  OperationQueue queue(1, /*suspended=*/true);
  auto op = std::make_shared<ManualOperation>();
  queue.add(op);
  OperationQueue other(1);
  EXPECT_THROW(other.add(op), Exception);
  EXPECT_THROW(queue.add(std::shared_ptr<Operation>()), Exception);
}

}  // namespace
}  // namespace platform
