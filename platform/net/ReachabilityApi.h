// ReachabilityApi: the replaceable table of network-reachability entry points
// (create a handle for a host name, set its callback with an info pointer,
// schedule it on the main loop, unschedule it, release it) and the 32-bit
// flag word it reports.
//
// The built-in table is the Linux backend: after scheduling it evaluates the
// host once promptly, and again on every address or route change seen on a
// netlink route socket. An evaluation runs on a background queue: resolve
// the host (getaddrinfo) and connect a UDP socket to it (no packet is sent);
// success gives kReachabilityFlagReachable, anything else 0. An empty host or
// "0.0.0.0" asks about the machine as a whole: reachable when a non-loopback
// interface is up with an address. A callback comes with the first
// evaluation and then only when the flags change, on the main queue, and
// never after unschedule returned (unschedule waits for a callback running
// on another thread).
//
// Forced mode for tests and CI: APP_REACHABILITY=reachable reports 0x2 and
// APP_REACHABILITY=unreachable reports 0, without looking at the network.
//
// ReachabilityApi::current() is the table new users take (the built-in one
// unless a test installed another with setCurrent()).
//
// Thread safety: every entry and function may be called from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

using ReachabilityFlags = uint32_t;
using ReachabilityRef = void*;
using ReachabilityCallback = void (*)(ReachabilityRef target, ReachabilityFlags flags, void* info);

inline constexpr ReachabilityFlags kReachabilityFlagReachable = 0x2;
inline constexpr ReachabilityFlags kReachabilityFlagConnectionRequired = 0x4;
inline constexpr ReachabilityFlags kReachabilityFlagConnectionOnTraffic = 0x8;
inline constexpr ReachabilityFlags kReachabilityFlagInterventionRequired = 0x10;
inline constexpr ReachabilityFlags kReachabilityFlagConnectionOnDemand = 0x20;

struct ReachabilityApi {
  // nullptr when the host name is empty or the handle cannot be made.
  ReachabilityRef (*createWithName)(const char* hostName);
  bool (*setCallback)(ReachabilityRef target, ReachabilityCallback callback, void* info);
  bool (*scheduleWithMainLoop)(ReachabilityRef target);
  bool (*unscheduleFromMainLoop)(ReachabilityRef target);
  void (*release)(ReachabilityRef target);

  static const ReachabilityApi& builtIn();
  static const ReachabilityApi* current();
  // nullptr restores the built-in table.
  static void setCurrent(const ReachabilityApi* api);
};

namespace reachability {

inline constexpr const char* kForceVariable = "APP_REACHABILITY";

// The forced flags of APP_REACHABILITY, if it is set to a known word.
std::optional<ReachabilityFlags> forcedFlags();
// One synchronous evaluation of `host` as the built-in backend does it.
ReachabilityFlags evaluate(const std::string& host);
// Built-in backend only: like scheduleWithMainLoop, delivering on `queue`.
bool scheduleOnQueue(ReachabilityRef target, DispatchQueue queue);

}  // namespace reachability

}  // namespace platform
