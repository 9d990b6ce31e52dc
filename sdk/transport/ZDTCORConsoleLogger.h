// ZDTCORConsoleLogger: the transport's own console log and assertion reports.
//
// A line is written only when its level is at least the console level
// (ZDTCORConsoleLoggerLoggingLevel, 4 at start), as
//   "[ZoruvuDataTransport][I-ZDTCOR001000] message"
// through the platform's system log (category "[ZoruvuDataTransport]").
// Routine lines use level 1 and code 0, so they are not written by default.
//
// Assertions never stop execution. ZDTCORAssert reports a failed condition:
// when the class "ZDTCORAssertHelper" is registered in the runtime registry
// and answers the class method "assertionBlock" (a std::function<void()>),
// that block runs instead; otherwise the report
//   "[ZoruvuDataTransport][I-ZDTCOR001006] (FILE:LINE) : message"
// is written whatever the console level, and the caller goes on.
//
// Thread safety: every function may be called from any thread; the console
// level is an atomic.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

enum ZDTCORLoggingLevel : int {
  ZDTCORLoggingLevelDebug = 1,
  ZDTCORLoggingLevelVerbose = 2,
  ZDTCORLoggingLevelWarnings = 3,
  ZDTCORLoggingLevelErrors = 4,
};

enum ZDTCORMessageCode : int64_t {
  ZDTCORMCDDebugLog = 0,
  ZDTCORMCWReachabilityFailed = 4,
  ZDTCORMCETransformerDoesntImplementTransform = 1000,
  ZDTCORMCEClientMetricsEncodingFailed = 1005,
  ZDTCORMCEGeneralError = 1006,
  ZDTCORMCEFatalAssertion = 1007,
};

inline constexpr const char* kZDTCORConsoleLoggerCategory = "[ZoruvuDataTransport]";

// The console level (4 at start).
int ZDTCORConsoleLoggerLoggingLevel();
void ZDTCORSetConsoleLoggerLoggingLevel(int level);

// "I-ZDTCOR%06ld" of the code.
std::string ZDTCORMessageCodeEnumToString(int64_t code);

// One console line of the given code and level.
void ZDTCORLog(int64_t code, int level, const std::string& message);
// Routine detail: code 0, level 1.
inline void ZDTCORLogDebug(const std::string& message) { ZDTCORLog(ZDTCORMCDDebugLog, ZDTCORLoggingLevelDebug, message); }

// The line of an assertion report, written whatever the console level.
void ZDTCORLogAssert(bool isFatal, const char* file, int line, const std::string& message);

// The registered replacement of assertion reports, or an empty function.
std::function<void()> ZDTCORAssertionBlockToRunInstead();

// Reports `message` when `condition` is false (see above); returns condition.
bool ZDTCORAssertCondition(bool condition, const char* file, int line, const std::string& message);

#define ZDTCORAssert(condition, message) ZDTCORAssertCondition((condition), __FILE__, __LINE__, (message))
