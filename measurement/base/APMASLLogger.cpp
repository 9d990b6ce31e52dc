#include "measurement/base/APMASLLogger.h"

#include <cstdio>

void APMASLLogger::logMessage(const std::string& message, const std::string& logTag, int64_t messageCode,
                              int64_t logLevel) {
  ZULLogEmit(ZULLoggerLevelFromLogLevel(logLevel), kSubsystem, logTag, logLevel == 7, messageCodeText(messageCode),
             message);
}

ZULLoggerLevel APMASLLogger::ZULLoggerLevelFromLogLevel(int64_t logLevel) {
  switch (logLevel) {
    case 0:
    case 1:
    case 2:
      return ZULLoggerLevelError;
    case 3:
    case 4:
    case 5:
      return ZULLoggerLevelWarning;
    case 6:
      return ZULLoggerLevelNotice;
    case 7:
    case 8:
      return ZULLoggerLevelDebug;
    default:
      return ZULLoggerLevelWarning;
  }
}

std::string APMASLLogger::messageCodeText(int64_t messageCode) {
  char text[40];
  std::snprintf(text, sizeof text, "I-ACS%06lld", static_cast<long long>(messageCode));
  return text;
}
