// APMLogging: the console sink of the measurement monitor. The monitor hands
// every printable report to its sink on the monitor queue, in the order of the
// log calls.
//
// Thread safety: the monitor calls its sink from its own serial queue only;
// an implementation shared by several monitors must be safe from any thread.
#pragma once

#include <cstdint>
#include <string>

class APMLogging {
 public:
  virtual ~APMLogging() = default;
  virtual void logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                          int64_t logLevel) = 0;
};
