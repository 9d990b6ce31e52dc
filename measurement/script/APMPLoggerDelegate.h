// APMPLoggerDelegate: where the script logger module's lines go. level is
// the program's level; silent and monitored are the flags of the log
// function that was called.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class APMPLoggerDelegate {
 public:
  virtual ~APMPLoggerDelegate() = default;
  virtual void logWithLevel(int64_t level, const std::string& message, const std::vector<std::string>& context,
                            bool silent, bool monitored) = 0;
};
