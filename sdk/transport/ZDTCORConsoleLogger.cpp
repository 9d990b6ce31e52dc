#include "sdk/transport/ZDTCORConsoleLogger.h"

#include <any>
#include <atomic>
#include <cstdio>

#include "platform/log/Log.h"
#include "platform/runtime/ClassRegistry.h"

namespace {

std::atomic<int>& consoleLevel() {
  static std::atomic<int> level{ZDTCORLoggingLevelErrors};
  return level;
}

// The stand-in of the system's log-line function: the platform's system log.
void writeLine(const std::string& line) {
  static const platform::Log log = platform::Log::handle("", kZDTCORConsoleLoggerCategory);
  log.write(platform::LogType::Default, line);
}

}  // namespace

int ZDTCORConsoleLoggerLoggingLevel() { return consoleLevel().load(); }

void ZDTCORSetConsoleLoggerLoggingLevel(int level) { consoleLevel().store(level); }

std::string ZDTCORMessageCodeEnumToString(int64_t code) {
  char text[48];
  std::snprintf(text, sizeof text, "I-ZDTCOR%06lld", static_cast<long long>(code));
  return text;
}

void ZDTCORLog(int64_t code, int level, const std::string& message) {
  if (level < ZDTCORConsoleLoggerLoggingLevel()) return;
  writeLine(std::string(kZDTCORConsoleLoggerCategory) + "[" + ZDTCORMessageCodeEnumToString(code) + "] " + message);
}

void ZDTCORLogAssert(bool isFatal, const char* file, int line, const std::string& message) {
  const int64_t code = isFatal ? ZDTCORMCEFatalAssertion : ZDTCORMCEGeneralError;
  const std::string source = file != nullptr ? std::string(file) : std::string("<Unknown File>");
  writeLine(std::string(kZDTCORConsoleLoggerCategory) + "[" + ZDTCORMessageCodeEnumToString(code) + "] (" + source +
            ":" + std::to_string(line) + ") : " + message);
}

std::function<void()> ZDTCORAssertionBlockToRunInstead() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  if (!registry.exists("ZDTCORAssertHelper") || !registry.respondsTo("ZDTCORAssertHelper", "assertionBlock")) return {};
  try {
    std::any block = registry.sendClass("ZDTCORAssertHelper", "assertionBlock");
    if (auto* function = std::any_cast<std::function<void()>>(&block)) return *function;
  } catch (...) {
    // A helper that fails to answer counts as none.
  }
  return {};
}

bool ZDTCORAssertCondition(bool condition, const char* file, int line, const std::string& message) {
  if (condition) return true;
  if (std::function<void()> block = ZDTCORAssertionBlockToRunInstead()) {
    block();
  } else {
    ZDTCORLogAssert(false, file, line, message);
  }
  return false;
}
