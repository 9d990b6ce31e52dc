// FakeReachability: a reachability table whose flags the test sets. While it
// exists it is ReachabilityApi::current(); api() is the table itself for code
// that takes one explicitly. setFlags(host, flags) reports the flags to every
// scheduled handle of that host (empty host: every handle) on the main queue,
// as the real service would; pump the main queue to receive them.
// Counters and failure switches cover the error paths.
//
// Only one FakeReachability may exist at a time.
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net/ReachabilityApi.h"

namespace testkit {

class FakeReachability {
 public:
  FakeReachability();
  ~FakeReachability();
  FakeReachability(const FakeReachability&) = delete;
  FakeReachability& operator=(const FakeReachability&) = delete;

  static const platform::ReachabilityApi& api();

  void setFlags(const std::string& host, platform::ReachabilityFlags flags);

  std::vector<std::string> createdHosts() const;
  int scheduledCount() const;  // handles scheduled right now
  int releaseCount() const { return m_releases; }

  std::atomic<bool> failCreate{false};
  std::atomic<bool> failSetCallback{false};
  std::atomic<bool> failSchedule{false};

 private:
  struct Handle {
    std::string host;
    platform::ReachabilityCallback callback = nullptr;
    void* info = nullptr;
    bool scheduled = false;
  };
  static platform::ReachabilityRef create(const char* host);
  static bool setCallback(platform::ReachabilityRef, platform::ReachabilityCallback, void*);
  static bool schedule(platform::ReachabilityRef);
  static bool unschedule(platform::ReachabilityRef);
  static void release(platform::ReachabilityRef);

  mutable std::mutex m_mutex;
  std::vector<Handle*> m_handles;
  std::vector<std::string> m_created;
  std::atomic<int> m_releases{0};
};

}  // namespace testkit
