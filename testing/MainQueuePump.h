// MainQueuePump: pumping the main queue from a test (the test thread is the
// main thread). runUntil() pumps until the predicate holds or a real-time
// timeout passes (default kDefaultTimeout) and answers whether it held;
// runFor() pumps for a while; drain() runs what is queued now; awaitError()
// waits for work that answers with an optional error.
//
//   std::optional<HttpResult> result;
//   ...
//   ASSERT_TRUE(testkit::runUntil([&] { return result.has_value(); }));
//
// Thread safety: call from the test's main thread only.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "platform/dispatch/MainQueue.h"
#include "platform/values/Error.h"

namespace testkit {

inline constexpr double kDefaultTimeout = 10.0;

inline bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = kDefaultTimeout) {
  return platform::MainQueue::runUntil(predicate, timeoutSeconds);
}

inline void runFor(double seconds) { platform::MainQueue::runFor(seconds); }

// Starts work that answers with an optional error on any thread and pumps the
// main queue until it answered (the test fails when it does not in time);
// the error it gave.
using ErrorHandler = std::function<void(std::optional<platform::Error>)>;
inline std::optional<platform::Error> awaitError(const std::function<void(ErrorHandler)>& start,
                                                 double timeoutSeconds = kDefaultTimeout) {
  struct Answer {
    std::atomic<bool> done{false};
    std::optional<platform::Error> error;
  };
  auto answer = std::make_shared<Answer>();
  start([answer](std::optional<platform::Error> error) {
    answer->error = std::move(error);
    answer->done = true;
  });
  EXPECT_TRUE(runUntil([&] { return answer->done.load(); }, timeoutSeconds));
  return answer->done ? answer->error : std::nullopt;
}

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
