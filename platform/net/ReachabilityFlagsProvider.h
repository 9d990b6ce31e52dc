// ReachabilityFlagsProvider: the reachability flag word of one host for a
// component that reads it at start and then follows its changes.
//
// At construction it reads the flags once, synchronously (0 on failure; the
// forced mode of APP_REACHABILITY applies), then watches the host with the
// built-in backend and calls `onChange(flags)` on `queue` for each new flag
// word. An empty host means the machine's connectivity as a whole.
// After the destructor returns no call is made.
//
// Thread safety: every member may be called from any thread. The destructor
// waits for an onChange running on another thread; do not destroy the
// provider from inside its own onChange.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/ReachabilityApi.h"

namespace platform {

class ReachabilityFlagsProvider {
 public:
  using ChangeHandler = std::function<void(ReachabilityFlags flags)>;

  ReachabilityFlagsProvider(DispatchQueue queue, ChangeHandler onChange, std::string host = {});
  ~ReachabilityFlagsProvider();
  ReachabilityFlagsProvider(const ReachabilityFlagsProvider&) = delete;
  ReachabilityFlagsProvider& operator=(const ReachabilityFlagsProvider&) = delete;

  ReachabilityFlags initialFlags() const { return m_initial; }
  const std::string& host() const { return m_host; }

 private:
  static void callback(ReachabilityRef target, ReachabilityFlags flags, void* info);

  std::string m_host;
  ReachabilityFlags m_initial = 0;
  ChangeHandler m_onChange;
  ReachabilityRef m_ref = nullptr;
};

}  // namespace platform
