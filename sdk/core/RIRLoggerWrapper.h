// RIRLoggerWrapper: a class front of the core logger; the message is written
// unchanged, never read as a format.
// Thread safety: stateless; any thread.
#pragma once

#include <string_view>

#include "sdk/core/RIRLogger.h"

class RIRLoggerWrapper {
 public:
  static void logWithLevel(ZULLoggerLevel level, std::string_view service, std::string_view code,
                           std::string_view message) {
    RIRLogEmit(level, service, code, message);
  }
};
