// ZULReachabilityChecker: watches whether one host is reachable, through the
// replaceable reachability table of the platform (platform::ReachabilityApi),
// turns each flag word into a status and tells its delegate when the status
// changes.
//
// Statuses: 0 unknown, 1 not reachable, 2 reachable, 3 reachable through
// cellular data (never derived here; the HTTP helper counts it as connected).
// The status is 0 at creation and after stop(); start() computes nothing, the
// first report comes with the first callback of the service. Callbacks, and
// so delegate calls, arrive on the main queue. Lines go to the utilities
// logger, category "[ZULReachability]".
//
// Thread safety: start, stop and the accessors may be called from any thread.
// stop() (and the destructor) waits for a callback running on another thread
// and no callback reaches the checker after it returned; do not destroy the
// checker from another thread while the main queue is blocked waiting for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/net/ReachabilityApi.h"

using ZULReachabilityStatus = int32_t;
inline constexpr ZULReachabilityStatus kZULReachabilityUnknown = 0;
inline constexpr ZULReachabilityStatus kZULReachabilityNotReachable = 1;
inline constexpr ZULReachabilityStatus kZULReachabilityViaWifi = 2;
inline constexpr ZULReachabilityStatus kZULReachabilityViaCellular = 3;

// "Reachability Unknown", "Not reachable", "Reachable via Wifi", "Reachable
// via Cellular Data", else "Invalid reachability status %d".
std::string ZULReachabilityStatusText(ZULReachabilityStatus status);

class ZULReachabilityChecker;

class ZULReachabilityDelegate {
 public:
  virtual ~ZULReachabilityDelegate() = default;
  // On the main queue, each time the status changes.
  virtual void reachability(ZULReachabilityChecker& reachability, ZULReachabilityStatus statusChanged) = 0;
};

class ZULReachabilityChecker {
 public:
  // nullptr (and I-REA902001) when the host is empty. Uses the table of
  // platform::ReachabilityApi::current(); does not start.
  static std::unique_ptr<ZULReachabilityChecker> initWithReachabilityDelegate(
      std::weak_ptr<ZULReachabilityDelegate> delegate, const std::string& withHost);
  ~ZULReachabilityChecker();
  ZULReachabilityChecker(const ZULReachabilityChecker&) = delete;
  ZULReachabilityChecker& operator=(const ZULReachabilityChecker&) = delete;

  // True while monitoring (also when already active); false when the handle
  // cannot be made, or its callback or scheduling fails (I-REA902002).
  bool start();
  // Back to inactive with status 0.
  void stop();

  // Status 1 or 2 for a flag word.
  static ZULReachabilityStatus statusForFlags(platform::ReachabilityFlags flags);
  // Recomputes the status; a new one is logged, stored and reported.
  void reachabilityFlagsChanged(platform::ReachabilityFlags flags);

  bool isActive() const;
  ZULReachabilityStatus reachabilityStatus() const { return m_status.load(); }
  const std::string& host() const { return m_host; }
  const platform::ReachabilityApi* reachabilityApi() const;
  // Refused with I-REA902000 while active; nullptr is refused too.
  void setReachabilityApi(const platform::ReachabilityApi* api);
  std::shared_ptr<ZULReachabilityDelegate> reachabilityDelegate() const;
  void setReachabilityDelegate(std::weak_ptr<ZULReachabilityDelegate> delegate);

 private:
  explicit ZULReachabilityChecker(std::string host);
  static void flagsCallback(platform::ReachabilityRef target, platform::ReachabilityFlags flags, void* info);

  std::atomic<ZULReachabilityStatus> m_status{kZULReachabilityUnknown};
  const std::string m_host;
  mutable std::mutex m_mutex;
  const platform::ReachabilityApi* m_api;
  platform::ReachabilityRef m_reachability = nullptr;
  std::weak_ptr<ZULReachabilityDelegate> m_delegate;
};
