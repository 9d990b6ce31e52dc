// RIRLogger: the SDK products' front of the shared logger. Lines go through
// the utilities logger (ZULLogger.h) under the subsystem "com.zoruvu.ririvudu".
//
// The first call of any function here (except RIRLogSetAnalyticsDebugMode)
// runs the core set-up once per process: the version prefix becomes the SDK
// version, and debug mode is taken from the launch arguments and the
// persisted user default "/zoruvu/ririvudu/debug_mode":
//   "-RIRDebugDisabled"  removes the stored key (wins over the other switch);
//   "-RIRDebugEnabled" or a stored YES  stores YES and forces debug mode.
// A line of the category "[RirivuduAnalytics]" is forced while the
// analytics-debug flag is on.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <string_view>
#include <type_traits>

#include "sdk/utilities/ZULLogger.h"

inline constexpr const char* kRIRLoggerSubsystem = "com.zoruvu.ririvudu";
inline constexpr const char* RIRLogServiceCore = "[RirivuduCore]";
inline constexpr const char* RIRLogServiceAnalytics = "[RirivuduAnalytics]";
inline constexpr const char* RIRLogServiceCrash = "[RirivuduCrash]";
inline constexpr const char* RIRLogServiceRemoteConfig = "[RirivuduRemoteConfig]";
inline constexpr const char* kRIRDebugModeDefaultsKey = "/zoruvu/ririvudu/debug_mode";

void RIRLogEnsureSetUp();

// True for an analytics component while analytics debug is on; otherwise
// whether the utilities logger writes the level.
bool RIRLogIsLoggable(ZULLoggerLevel level, bool analyticsComponent);

void RIRLogEmit(ZULLoggerLevel level, std::string_view category, std::string_view messageCode,
                std::string_view message);

// Builds the message only when the line will be written.
template <class MakeMessage>
  requires std::is_invocable_r_v<std::string, MakeMessage&>
void RIRLogEmitLazy(ZULLoggerLevel level, std::string_view category, std::string_view messageCode,
                    MakeMessage&& makeMessage) {
  if (!RIRLogIsLoggable(level, category == RIRLogServiceAnalytics)) return;
  RIRLogEmit(level, category, messageCode, makeMessage());
}

inline void RIRLogEmitError(std::string_view category, std::string_view code, std::string_view message) {
  RIRLogEmit(ZULLoggerLevelError, category, code, message);
}
inline void RIRLogEmitWarning(std::string_view category, std::string_view code, std::string_view message) {
  RIRLogEmit(ZULLoggerLevelWarning, category, code, message);
}
inline void RIRLogEmitNotice(std::string_view category, std::string_view code, std::string_view message) {
  RIRLogEmit(ZULLoggerLevelNotice, category, code, message);
}
inline void RIRLogEmitInfo(std::string_view category, std::string_view code, std::string_view message) {
  RIRLogEmit(ZULLoggerLevelInfo, category, code, message);
}
inline void RIRLogEmitDebug(std::string_view category, std::string_view code, std::string_view message) {
  RIRLogEmit(ZULLoggerLevelDebug, category, code, message);
}

void RIRLogSetLevel(ZULLoggerLevel level);
ZULLoggerLevel RIRLogGetLevel();
inline void RIRLogSetLevelError() { RIRLogSetLevel(ZULLoggerLevelError); }
inline void RIRLogSetLevelWarning() { RIRLogSetLevel(ZULLoggerLevelWarning); }
inline void RIRLogSetLevelNotice() { RIRLogSetLevel(ZULLoggerLevelNotice); }
inline void RIRLogSetLevelDebug() { RIRLogSetLevel(ZULLoggerLevelDebug); }

inline bool RIRLogIsLoggableError() { return RIRLogIsLoggable(ZULLoggerLevelError, false); }
inline bool RIRLogIsLoggableWarning() { return RIRLogIsLoggable(ZULLoggerLevelWarning, false); }
inline bool RIRLogIsLoggableNotice() { return RIRLogIsLoggable(ZULLoggerLevelNotice, false); }
inline bool RIRLogIsLoggableDebug() { return RIRLogIsLoggable(ZULLoggerLevelDebug, false); }

void RIRLogSetAnalyticsDebugMode(bool enabled);

// Re-arms the core set-up and resets the utilities logger (tests only).
void RIRLogResetForTesting();
