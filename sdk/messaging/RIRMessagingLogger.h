// RIRMessagingLogger: every log line of the messaging library goes through
// the shared instance to the core logger (RIRLogEmit) with the category
// "[RirivuduMessaging]" and a message code "I-RCM" + six digits. The levels
// are the core's: debug 7, info 6, notice 5, warning 4, error 3.
//
//   RIRMessagingSharedLogger().logFuncError(2017, "Cannot create directory ...");
//   RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, 27006, [&] { return expensive(); });
//
// Thread safety: stateless; every member may be called from any thread.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

#include "sdk/core/RIRLogger.h"

inline constexpr const char* kRIRMessagingLogService = "[RirivuduMessaging]";

class RIRMessagingLogger {
 public:
  static RIRMessagingLogger standardLogger() { return RIRMessagingLogger(); }
  // "I-RCM%06ld": 2005 -> "I-RCM002005".
  static std::string formatMessageCode(long code);

  void logFuncDebug(long code, std::string_view message) const { log(ZULLoggerLevelDebug, code, message); }
  void logFuncInfo(long code, std::string_view message) const { log(ZULLoggerLevelInfo, code, message); }
  void logFuncNotice(long code, std::string_view message) const { log(ZULLoggerLevelNotice, code, message); }
  void logFuncWarning(long code, std::string_view message) const { log(ZULLoggerLevelWarning, code, message); }
  void logFuncError(long code, std::string_view message) const { log(ZULLoggerLevelError, code, message); }

  void log(ZULLoggerLevel level, long code, std::string_view message) const;
  // Builds the message only when the line will be written.
  template <class MakeMessage>
    requires std::is_invocable_r_v<std::string, MakeMessage&>
  void logLazy(ZULLoggerLevel level, long code, MakeMessage&& makeMessage) const {
    if (!RIRLogIsLoggable(level, false)) return;
    log(level, code, makeMessage());
  }
};

// The one process-wide logger.
const RIRMessagingLogger& RIRMessagingSharedLogger();
