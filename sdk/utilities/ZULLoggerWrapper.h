// ZULLoggerWrapper: a class front of the utilities logger for callers that
// hold a level and texts; the message is written unchanged.
// Thread safety: stateless; any thread.
#pragma once

#include <string_view>

#include "sdk/utilities/ZULLogger.h"

class ZULLoggerWrapper {
 public:
  static void logWithLevel(ZULLoggerLevel level, std::string_view subsystem, std::string_view category,
                           std::string_view messageCode, std::string_view message) {
    ZULLogEmit(level, subsystem, category, false, messageCode, message);
  }
  // Subsystem "com.zoruvu.utilities.logger", the service as category.
  static void logWithLevelWithService(ZULLoggerLevel level, std::string_view service, std::string_view code,
                                      std::string_view message) {
    ZULLogEmit(level, kZULLoggerSubsystem, service, false, code, message);
  }
};
