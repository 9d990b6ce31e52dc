// MyAnalytics: the application's usage-event helper.
//
// logEvent(name, parameters) turns the string map into a parameter
// dictionary (empty by default, never missing) and hands both to the
// analytics sink, then returns; nothing is reported back. The sink is the
// analytics interface's "log event with name and parameters" entry; the
// entry point installs it with setSink(). Without a sink the event is
// dropped silently, as the analytics interface drops events while the SDK is
// not configured.
//
// Thread safety: logEvent is called on the main thread by contract; setSink
// may be called from any thread (the sink is swapped under a lock and called
// outside it).
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/values/Value.h"

class MyAnalytics {
 public:
  using Parameters = std::map<std::string, std::string>;
  using Sink = std::function<void(const std::string& name, const platform::Dictionary& parameters)>;

  MyAnalytics() = delete;

  static void logEvent(const std::string& name, const Parameters& parameters = {});

  // Installs the sink; returns the previous one (empty: events are dropped).
  static Sink setSink(Sink sink);
};
