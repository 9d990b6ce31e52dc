// RIRConnectorUtils: the fixed sets that decide what another SDK component
// may log, set, query or hear through the analytics connector, and the tests
// over them. Each set is built once.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/values/Value.h"

class RIRConnectorUtils {
 public:
  static const std::set<std::string>& allowedListenerOrigins();
  static const std::set<std::string>& blocklistedOrigins();
  static const std::set<std::string>& blocklistedEventNames();
  static const std::set<std::string>& blocklistedParameters();
  static const std::set<std::string>& blocklistedUserProperties();
  static const std::vector<std::string>& blocklistedUserPropertyPatterns();
  static const std::set<std::string>& hiddenEventNames();

  static bool isOriginAllowed(const std::string& origin);
  // "app" or "app+..."
  static bool isAppOrigin(const std::string& origin);
  static bool isListenerOriginAllowed(const std::string& origin);
  static bool isEventNameAllowedForListeners(const std::string& name);
  static bool isEventNameAllowedForListenerOrigin(const std::string& name, const std::string& origin);
  // A non-empty name that is not blocklisted, and no blocklisted parameter with a value.
  static bool shouldLogEventWithName(const std::string& name, const platform::Dictionary& parameters);
  static bool isUserPropertyAllowed(const std::string& name, const std::string& origin);
  static bool isUserPropertyAllowedForQuery(const std::string& name);
};
