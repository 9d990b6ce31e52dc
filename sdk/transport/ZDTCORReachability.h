// ZDTCORReachability: the network reachability flags of the machine as a
// whole (the IPv4 zero address), for the whole transport.
//
// The shared instance reads the flags once when it is made (`flags`) and
// then follows the platform's change reports (`callbackFlags`, 0 until the
// first change). currentFlags() answers the latest change's flags, or the
// first read's while no change (or a change to 0) has come. All reads and
// writes run on the serial queue "com.zoruvu.ZDTCORReachability"; APP_REACHABILITY
// forces the flags (see platform/net/ReachabilityApi.h).
//
// Thread safety: every member may be called from any thread except the
// reachability queue itself (currentFlags waits on it).
#pragma once

#include <memory>

#include "platform/dispatch/SerialQueue.h"
#include "platform/net/ReachabilityApi.h"
#include "platform/net/ReachabilityFlagsProvider.h"

class ZDTCORReachability : public std::enable_shared_from_this<ZDTCORReachability> {
 public:
  static std::shared_ptr<ZDTCORReachability> sharedInstance();
  // The shared instance's current flags.
  static platform::ReachabilityFlags currentFlags();

  // An instance that watches nothing; tests set its flags by hand.
  ZDTCORReachability();

  platform::ReachabilityFlags readCurrentFlags() const;
  platform::ReachabilityFlags flags() const;
  void setFlags(platform::ReachabilityFlags flags);
  // Stores the flags of a change report (only when they differ).
  void setCallbackFlags(platform::ReachabilityFlags flags);

  const platform::SerialQueue& reachabilityQueue() const { return m_queue; }

 private:
  void startWatching();

  platform::SerialQueue m_queue;
  // Touched only on m_queue.
  platform::ReachabilityFlags m_flags = 0;
  platform::ReachabilityFlags m_callbackFlags = 0;
  std::unique_ptr<platform::ReachabilityFlagsProvider> m_provider;
};
