// APMEMonitor: the log of every experiment class. Each report goes unchanged
// to the measurement monitor (APMEngineServices::monitor()), with the
// six-digit codes of the experiment classes (800xxx manager ... 880xxx
// request builder).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMLogContext.h"

class APMEMonitor {
 public:
  // The one instance the experiment classes share.
  static const APMEMonitor& shared();

  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message) const;
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                    const APMLogContext& context) const;
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const APMLogContext& context,
                    const APMLogContext& context2) const;
  void logWithLevel(int64_t level, int64_t messageCode, const std::string& message, const APMLogContext& context,
                    const APMLogContext& context2, const APMLogContext& context3) const;
  void clearMonitoringData() const;
};
