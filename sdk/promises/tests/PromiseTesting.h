// Helpers shared by the promise tests: errors to reject with, and waiting for
// a promise while pumping the main queue (the test thread is the main thread).
#pragma once

#include <gtest/gtest.h>

#include "platform/dispatch/MainQueue.h"
#include "platform/values/Error.h"
#include "sdk/promises/RBLPromise.h"
#include "testing/MainQueuePump.h"

namespace promises_testing {

inline platform::Error testError(int64_t code) { return platform::Error("test.promises", code); }

// Pumps the main queue until promise settles; false when it stays pending.
inline bool waitSettled(const RBLPromisePtr& promise) {
  return testkit::runUntil([&] { return !promise->isPending(); });
}

class PromiseTest : public testkit::MainQueuePump {
 protected:
  void TearDown() override {
    EXPECT_TRUE(RBLPromiseWaitUntilIdle(10)) << "a promise or callback was left behind";
    testkit::MainQueuePump::TearDown();
  }
};

}  // namespace promises_testing
