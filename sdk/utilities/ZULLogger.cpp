#include "sdk/utilities/ZULLogger.h"

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/log/Log.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

namespace {

constexpr ZULLoggerLevel kDefaultLevel = ZULLoggerLevelNotice;

struct LoggerState {
  std::mutex setUpMutex;
  std::atomic<bool> setUpDone{false};
  std::atomic<long> level{kDefaultLevel};
  std::atomic<bool> debugMode{false};
  std::mutex versionMutex;
  std::string version;
  std::optional<platform::SerialQueue> queue;  // created once, never replaced
  // Touched only on the logging queue.
  std::map<std::string, std::map<std::string, platform::Log>> handles;
};

LoggerState& state() {
  static LoggerState* s = new LoggerState();  // lives for the whole process
  return *s;
}

const platform::SerialQueue& loggingQueue() {
  ZULLogSetUp();
  return *state().queue;
}

}  // namespace

void ZULLogSetUp() {
  LoggerState& s = state();
  if (s.setUpDone.load(std::memory_order_acquire)) return;
  std::lock_guard lock(s.setUpMutex);
  if (s.setUpDone.load(std::memory_order_relaxed)) return;
  s.level.store(kDefaultLevel);
  if (!s.queue) {
    s.queue.emplace("ZULLoggingClientQueue", platform::globalQueue(platform::Qos::Background));
    // Lines still queued when the process exits are written before the
    // log's own static objects (made first, so destroyed after) go away;
    // otherwise a late line races with their destruction.
    platform::Log::sink();
    std::atexit([] { state().queue->sync([] {}); });
  }
  s.setUpDone.store(true, std::memory_order_release);
}

void ZULLogSetLevel(ZULLoggerLevel level) {
  if (level < ZULLoggerLevelError || level > ZULLoggerLevelDebug) {
    ZULLogEmit(ZULLoggerLevelError, kZULLoggerSubsystem, "[ZULLogger]", true, "I-COR000023",
               "Invalid logger level, " + std::to_string(level));
    return;
  }
  ZULLogSetUp();
  if (level < ZULLoggerLevelNotice || !ZULAppEnvironmentUtil::isFromAppStore()) {
    state().level.store(level);
  }
}

ZULLoggerLevel ZULLogGetLevel() {
  ZULLogSetUp();
  return state().level.load();
}

bool ZULLogIsLoggable(ZULLoggerLevel level) {
  ZULLogSetUp();
  return level <= state().level.load() || state().debugMode.load();
}

void ZULLogForceDebugMode() {
  if (ZULAppEnvironmentUtil::isFromAppStore()) return;
  state().debugMode.store(true);
  ZULLogSetLevel(ZULLoggerLevelDebug);
}

void ZULLogSetVersionString(std::string version) {
  std::lock_guard lock(state().versionMutex);
  state().version = std::move(version);
}

platform::LogType ZULLogTypeForLevel(ZULLoggerLevel level) {
  switch (level) {
    case ZULLoggerLevelError: return platform::LogType::Error;
    case ZULLoggerLevelWarning:
    case ZULLoggerLevelNotice: return platform::LogType::Default;
    case ZULLoggerLevelInfo: return platform::LogType::Info;
    case ZULLoggerLevelDebug: return platform::LogType::Debug;
    default: return platform::LogType::Error;
  }
}

void ZULLogEmit(ZULLoggerLevel level, std::string_view subsystem, std::string_view category, bool force,
                std::string_view messageCode, std::string_view message) {
  ZULLogSetUp();
  LoggerState& s = state();
  if (!force && s.level.load() < level && !s.debugMode.load()) return;
  std::string line;
  {
    std::lock_guard lock(s.versionMutex);
    line = s.version;
  }
  line.append(" - ").append(category).append("[").append(messageCode).append("] ").append(message);
  loggingQueue().async([subsystem = std::string(subsystem), category = std::string(category),
                        line = std::move(line), level] {
    auto& categories = state().handles[subsystem];
    auto found = categories.find(category);
    if (found == categories.end()) {
      found = categories.emplace(category, platform::Log::handle(subsystem, category)).first;
    }
    platform::LogType type = ZULLogTypeForLevel(level);
    if (found->second.enabled(type)) found->second.write(type, line);
  });
}

std::string ZULMessageCode(std::string_view family, long number) {
  char digits[32];
  std::snprintf(digits, sizeof(digits), "%06ld", number);
  return "I-" + std::string(family) + digits;
}

void ZULLogFlush() { loggingQueue().sync([] {}); }

void ZULLogResetForTesting() {
  ZULLogFlush();
  LoggerState& s = state();
  std::lock_guard lock(s.setUpMutex);
  s.level.store(kDefaultLevel);
  s.debugMode.store(false);
  {
    std::lock_guard versionLock(s.versionMutex);
    s.version.clear();
  }
  s.setUpDone.store(false, std::memory_order_release);
}
