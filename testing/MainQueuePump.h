// MainQueuePump: pumping the main queue from a test (the test thread is the
// main thread). runUntil() pumps until the predicate holds or a real-time
// timeout passes (default kDefaultTimeout) and answers whether it held;
// runFor() pumps for a while; drain() runs what is queued now.
//
//   std::optional<HttpResult> result;
//   ...
//   ASSERT_TRUE(testkit::runUntil([&] { return result.has_value(); }));
//
// Thread safety: call from the test's main thread only.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "platform/dispatch/MainQueue.h"

namespace testkit {

inline constexpr double kDefaultTimeout = 10.0;

inline bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = kDefaultTimeout) {
  return platform::MainQueue::runUntil(predicate, timeoutSeconds);
}

inline void runFor(double seconds) { platform::MainQueue::runFor(seconds); }

class MainQueuePump : public ::testing::Test {
 protected:
  bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = kDefaultTimeout) {
    return testkit::runUntil(predicate, timeoutSeconds);
  }
  void runFor(double seconds) { testkit::runFor(seconds); }
  int drain() { return platform::MainQueue::drain(); }
  // Leaves nothing queued behind for the next test.
  void TearDown() override { platform::MainQueue::drain(); }
};

}  // namespace testkit
