// ZULNetworkLoggerDelegate: where the HTTP helper and its URL session layer
// send their diagnostics. Levels: 3 error, 4 warning, 6 info, 7 debug; codes
// are the bare numbers (900000, 901017, ...). A context is any value; a null
// value stands for "no object".
//
// Thread safety: implementations are called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/values/Value.h"
#include "sdk/utilities/ZULNetworkConstants.h"

class ZULNetworkLoggerDelegate {
 public:
  virtual ~ZULNetworkLoggerDelegate() = default;
  virtual void ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message,
                                       const std::vector<platform::Value>& contexts) = 0;
  // One context; a null value means none.
  virtual void ZULNetwork_logWithLevelContext(ZULNetworkLogLevel level, int64_t messageCode,
                                              const std::string& message, const platform::Value& context) = 0;
  virtual void ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode,
                                       const std::string& message) = 0;
};
