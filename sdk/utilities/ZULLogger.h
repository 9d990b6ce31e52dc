// ZULLogger: the SDK's shared, levelled, coded logger (utilities layer).
//
// Every line has the form "<version> - <category>[<message code>] <message>"
// and goes to the platform system log (platform::Log) under the given
// subsystem and category. Levels: 3 error, 4 warning, 5 notice, 6 info,
// 7 debug. A line is written when its level is at most the current level
// (initially 5), when debug mode is on, or when the caller forces it.
// Filtering runs on the caller's thread; system-log writes run in order on
// the serial queue "ZULLoggingClientQueue" (background priority), where the
// log handles are cached per subsystem and category.
//
// Callers build their message text themselves; ZULLogEmitLazy builds it only
// when the line passes the filter.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

#include "platform/log/LogSink.h"

using ZULLoggerLevel = long;
inline constexpr ZULLoggerLevel ZULLoggerLevelError = 3;
inline constexpr ZULLoggerLevel ZULLoggerLevelWarning = 4;
inline constexpr ZULLoggerLevel ZULLoggerLevelNotice = 5;
inline constexpr ZULLoggerLevel ZULLoggerLevelInfo = 6;
inline constexpr ZULLoggerLevel ZULLoggerLevelDebug = 7;

inline constexpr const char* kZULLoggerSubsystem = "com.zoruvu.utilities.logger";

// Runs the one-time set-up (level 5, logging queue, empty handle cache).
void ZULLogSetUp();
// Levels outside 3..7 are refused with a forced error line (I-COR000023).
// In an App Store build only levels below 5 take effect.
void ZULLogSetLevel(ZULLoggerLevel level);
ZULLoggerLevel ZULLogGetLevel();
bool ZULLogIsLoggable(ZULLoggerLevel level);
// Turns debug mode on for the rest of the process (not in an App Store build).
void ZULLogForceDebugMode();
void ZULLogSetVersionString(std::string version);
platform::LogType ZULLogTypeForLevel(ZULLoggerLevel level);

void ZULLogEmit(ZULLoggerLevel level, std::string_view subsystem, std::string_view category, bool force,
                std::string_view messageCode, std::string_view message);

template <class MakeMessage>
  requires std::is_invocable_r_v<std::string, MakeMessage&>
void ZULLogEmitLazy(ZULLoggerLevel level, std::string_view subsystem, std::string_view category, bool force,
                    std::string_view messageCode, MakeMessage&& makeMessage) {
  if (!force && !ZULLogIsLoggable(level)) return;
  ZULLogEmit(level, subsystem, category, true, messageCode, makeMessage());
}

inline void ZULLogEmitError(std::string_view subsystem, std::string_view category, bool force,
                            std::string_view code, std::string_view message) {
  ZULLogEmit(ZULLoggerLevelError, subsystem, category, force, code, message);
}
inline void ZULLogEmitWarning(std::string_view subsystem, std::string_view category, bool force,
                              std::string_view code, std::string_view message) {
  ZULLogEmit(ZULLoggerLevelWarning, subsystem, category, force, code, message);
}
inline void ZULLogEmitNotice(std::string_view subsystem, std::string_view category, bool force,
                             std::string_view code, std::string_view message) {
  ZULLogEmit(ZULLoggerLevelNotice, subsystem, category, force, code, message);
}
inline void ZULLogEmitInfo(std::string_view subsystem, std::string_view category, bool force,
                           std::string_view code, std::string_view message) {
  ZULLogEmit(ZULLoggerLevelInfo, subsystem, category, force, code, message);
}
inline void ZULLogEmitDebug(std::string_view subsystem, std::string_view category, bool force,
                            std::string_view code, std::string_view message) {
  ZULLogEmit(ZULLoggerLevelDebug, subsystem, category, force, code, message);
}

// "I-" + family + the number in six digits, e.g. ("ZUL", 2) -> "I-ZUL000002".
std::string ZULMessageCode(std::string_view family, long number);

// Waits until every line submitted so far has reached the system log
// (tests, and programs about to exit).
void ZULLogFlush();
// Restores the state before the first set-up: level 5, debug mode off, empty
// version string, set-up re-armed (tests only).
void ZULLogResetForTesting();
