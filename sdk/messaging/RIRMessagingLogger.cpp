#include "sdk/messaging/RIRMessagingLogger.h"

#include <cstdio>

std::string RIRMessagingLogger::formatMessageCode(long code) {
  char text[32];
  std::snprintf(text, sizeof(text), "I-RCM%06ld", code);
  return text;
}

void RIRMessagingLogger::log(ZULLoggerLevel level, long code, std::string_view message) const {
  RIRLogEmit(level, kRIRMessagingLogService, formatMessageCode(code), message);
}

const RIRMessagingLogger& RIRMessagingSharedLogger() {
  static const auto* const logger = new RIRMessagingLogger(RIRMessagingLogger::standardLogger());
  return *logger;
}
