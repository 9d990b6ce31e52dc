#include "testing/Quiescence.h"

#include <chrono>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/net/HttpActivity.h"

namespace testkit {

bool waitForQuiescence(double timeoutSeconds) {
  // Work hops between queues (a completion posted to the main queue, a block
  // handed to a worker), so one quiet look is not enough.
  constexpr int kQuietLooks = 3;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
  int quiet = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (platform::isMainThread()) platform::MainQueue::drain();
    const bool idle = platform::pendingTaskCount() == 0 && platform::HttpActivity::inFlightCount() == 0 &&
                      platform::MainQueue::pendingCount() == 0;
    quiet = idle ? quiet + 1 : 0;
    if (quiet >= kQuietLooks) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace testkit
