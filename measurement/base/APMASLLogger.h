// APMASLLogger: the monitor's sink into the SDK's shared logger (ZULLogger).
//
// A line goes out under the subsystem "com.zoruvu.ririvudu.analytics", with
// the monitor's log tag as category and the code written "I-ACS%06ld". The
// message is passed on unchanged: ZULLogEmit takes a plain text, so a "%" in
// it is printed literally. Monitor levels map to the shared logger's:
// 0-2 error (3), 3-5 warning (4), 6 notice (5), 7 and 8 debug (7), anything
// else warning (4). Level 7 lines are forced past the shared logger's filter.
//
// Stateless; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "measurement/base/APMLogging.h"
#include "sdk/utilities/ZULLogger.h"

class APMASLLogger : public APMLogging {
 public:
  static constexpr const char* kSubsystem = "com.zoruvu.ririvudu.analytics";

  void logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                  int64_t logLevel) override;

  static ZULLoggerLevel ZULLoggerLevelFromLogLevel(int64_t logLevel);
  // "I-ACS" and the code in at least six digits ("I-ACS030001").
  static std::string messageCodeText(int64_t messageCode);
};
