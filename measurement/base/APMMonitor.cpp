#include "measurement/base/APMMonitor.h"

#include <cstdio>

#include "measurement/base/APMASLLogger.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMError.h"
#include "platform/app/Application.h"
#include "platform/runtime/ClassRegistry.h"
#include "sdk/utilities/ZULLogger.h"

namespace {

std::string join(const std::vector<std::string>& pieces, const std::string& separator) {
  std::string joined;
  for (size_t index = 0; index < pieces.size(); ++index) {
    if (index > 0) joined += separator;
    joined += pieces[index];
  }
  return joined;
}

// A number's range with its digits hidden: |v| <= 99 stays, otherwise the
// decade it lies in ("1000...9999", "-9999...-1000"). Computed on the
// magnitude in unsigned arithmetic, so the largest magnitudes print their
// true bounds instead of overflowing.
std::string encodedNumber(int64_t value) {
  if (value >= -99 && value <= 99) return std::to_string(value);
  const uint64_t magnitude = value < 0 ? static_cast<uint64_t>(-(value + 1)) + 1 : static_cast<uint64_t>(value);
  uint64_t power = 1;
  while (power <= magnitude / 10) power *= 10;
  const uint64_t upper = power * 10 - 1;
  char text[64];
  if (value >= 0) {
    std::snprintf(text, sizeof text, "%llu...%llu", static_cast<unsigned long long>(power),
                  static_cast<unsigned long long>(upper));
  } else {
    std::snprintf(text, sizeof text, "-%llu...-%llu", static_cast<unsigned long long>(upper),
                  static_cast<unsigned long long>(power));
  }
  return text;
}

bool anyLaunchArgument(std::initializer_list<const char*> arguments) {
  std::shared_ptr<platform::Application> application = platform::Application::shared();
  for (const char* argument : arguments) {
    if (application->hasLaunchArgument(argument)) return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<APMMonitor> APMMonitor::initWithLibraryVersion(int64_t libraryVersion) {
  return initWithLogLevel(6, std::make_shared<APMASLLogger>(), libraryVersion);
}

std::shared_ptr<APMMonitor> APMMonitor::initWithLogLevel(int64_t logLevel, std::shared_ptr<APMLogging> logger,
                                                         int64_t libraryVersion) {
  std::shared_ptr<APMMonitor> monitor(new APMMonitor(logLevel, std::move(logger), libraryVersion));
  std::weak_ptr<APMMonitor> weak = monitor;
  monitor->m_monitorQueue.async([weak] {
    if (std::shared_ptr<APMMonitor> strong = weak.lock()) strong->startUpOnMonitorQueue();
  });
  return monitor;
}

APMMonitor::APMMonitor(int64_t logLevel, std::shared_ptr<APMLogging> logger, int64_t libraryVersion)
    : m_logLevel(logLevel),
      m_logger(std::move(logger)),
      m_monitorQueue(kMonitorQueueLabel),
      m_libraryVersion(libraryVersion),
      m_monitorUserDefaults(std::make_shared<APMUserDefaults>(std::string(kMonitorSuiteName))) {}

// --- reports -------------------------------------------------------------------

void APMMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message) {
  logWithLevelContexts(level, messageCode, message, {});
}

void APMMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                              const APMLogContext& context) {
  logWithLevelContexts(level, messageCode, message, {context});
}

void APMMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                              const APMLogContext& context, const APMLogContext& context2) {
  logWithLevelContexts(level, messageCode, message, {context, context2});
}

void APMMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                              const APMLogContext& context, const APMLogContext& context2,
                              const APMLogContext& context3) {
  logWithLevelContexts(level, messageCode, message, {context, context2, context3});
}

void APMMonitor::logWithLevelContexts(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                                      const std::vector<APMLogContext>& contexts) {
  if (m_hasReportObserver.load()) {
    ReportObserver observer;
    {
      std::lock_guard lock(m_observerMutex);
      observer = m_reportObserver;
    }
    if (observer) observer(level, messageCode, message.value_or(""));
  }
  const bool loggable = isLoggableLevel(level);
  const bool monitorable = isMonitorableLevel(level);
  if (!loggable && !monitorable) return;
  if (level >= 8 && !isVerboseLoggingEnabled()) return;
  if (loggable) logToConsole(messageCode, stringWithLogMessage(message, level, contexts, encodeContexts()), level);
  if (monitorable) {
    std::string encoded = encodedStringWithContextArray(contexts, false);
    const std::string errorContexts = monitorContextsOfErrors(contexts);
    if (!errorContexts.empty()) encoded += "," + errorContexts;
    insertOrUpdateMonitoringDataWithMessage(message, encoded, level);
  }
}

bool APMMonitor::isLoggableLevel(int64_t level) const {
  return ZULLogIsLoggable(APMASLLogger::ZULLoggerLevelFromLogLevel(level)) && !isSilentLevel(level);
}

void APMMonitor::logToConsole(int64_t messageCode, const std::optional<std::string>& message, int64_t level) {
  if (!message) return;
  std::shared_ptr<APMMonitor> self = shared_from_this();
  m_monitorQueue.async([self, messageCode, text = *message, level] {
    self->m_logger->logMessage(text, self->logTag(), messageCode, level);
  });
}

void APMMonitor::insertOrUpdateMonitoringDataWithMessage(const std::optional<std::string>& message,
                                                         const std::string& encodedContext, int64_t level) {
  std::string key = monitoringDataKeyWithMessage(message, level, m_libraryVersion);
  std::shared_ptr<APMMonitor> self = shared_from_this();
  m_monitorQueue.async([self, key = std::move(key), encodedContext] {
    self->m_monitoringSampledData.insertOrUpdateSampledDataWithKey(key, encodedContext);
    self->saveMonitoringDataToUserDefaultsOnMonitorQueue();
  });
}

void APMMonitor::setReportObserver(ReportObserver observer) {
  std::lock_guard lock(m_observerMutex);
  m_hasReportObserver.store(static_cast<bool>(observer));
  m_reportObserver = std::move(observer);
}

// --- switches ------------------------------------------------------------------

std::string APMMonitor::logTag() const {
  std::lock_guard lock(m_tagMutex);
  return m_logTag;
}

void APMMonitor::setLogTag(std::string tag) {
  std::lock_guard lock(m_tagMutex);
  m_logTag = std::move(tag);
}

void APMMonitor::setSharedLoggerLevel(int64_t monitorLevel) {
  if (!deferToRIRLogger()) ZULLogSetLevel(APMASLLogger::ZULLoggerLevelFromLogLevel(monitorLevel));
}

void APMMonitor::setDebugModeEnabled(bool enabled) {
  std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
  if (enabled && isDebugModeAllowed()) {
    m_logLevel.store(7);
    setSharedLoggerLevel(7);
    preferences->setBool(true, kDebugModeKey);
    m_debugModeEnabled.store(true);
  } else {
    m_logLevel.store(6);
    setSharedLoggerLevel(6);
    preferences->removeObjectForKey(kDebugModeKey);
    m_debugModeEnabled.store(false);
  }
}

void APMMonitor::setVerboseLoggingEnabled(bool enabled) {
  std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
  if (enabled && isDebugModeAllowed()) {
    m_logLevel.store(8);
    setSharedLoggerLevel(8);
    preferences->setBool(true, kVerboseLoggingKey);
    m_verboseLoggingEnabled.store(true);
  } else {
    const int64_t level = isDebugModeEnabled() ? 7 : 6;
    m_logLevel.store(level);
    setSharedLoggerLevel(level);
    preferences->removeObjectForKey(kVerboseLoggingKey);
    m_verboseLoggingEnabled.store(false);
  }
}

void APMMonitor::setSZTMDebugModeEnabled(bool enabled) {
  if (enabled) {
    m_logLevel.store(7);
    setSharedLoggerLevel(7);
    logWithLevel(7, 24006, "SZTM debug mode is on");
  } else {
    m_logLevel.store(6);
    setSharedLoggerLevel(6);
    logWithLevel(7, 24007, "SZTM debug mode is off");
  }
  m_debugModeEnabled.store(enabled);
}

// --- health sample -------------------------------------------------------------

std::optional<std::string> APMMonitor::monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                                double lastSampledTimestamp) {
  return m_monitorQueue.sync([&]() -> std::optional<std::string> {
    std::optional<std::string> data =
        m_monitoringSampledData.monitoringDataForDispatchWithSamplePeriod(samplePeriod, lastSampledTimestamp);
    if (data) saveMonitoringDataToUserDefaultsOnMonitorQueue();
    return data;
  });
}

void APMMonitor::clearMonitoringData() {
  m_monitorQueue.sync([&] {
    std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
    preferences->removeObjectForKey(kDebugModeKey);
    preferences->removeObjectForKey(kHealthMonitorKey);
    m_monitorUserDefaults->removeObjectForKey(kHealthMonitorKey);
    loadMonitoringDataFromUserDefaultsOnMonitorQueue();
  });
}

void APMMonitor::startUpOnMonitorQueue() {
  migrateMonitorDataOnMonitorQueue();
  loadMonitoringDataFromUserDefaultsOnMonitorQueue();
  m_isDebugModeAllowed.store(!APMEngineServices::isFromAppStore());
  if (isDebugModeAllowed()) processLaunchArgumentsOnMonitorQueue();
}

void APMMonitor::loadMonitoringDataFromUserDefaultsOnMonitorQueue() {
  m_monitoringSampledData = APMMonitoringSampledData(m_monitorUserDefaults->objectForKey(kHealthMonitorKey));
}

void APMMonitor::saveMonitoringDataToUserDefaultsOnMonitorQueue() {
  std::optional<platform::Array> data = m_monitoringSampledData.sampledData();
  m_monitorUserDefaults->setObject(data ? platform::Value(*data) : platform::Value(), kHealthMonitorKey);
  synchronizeToDiskOnMonitorQueue();
}

void APMMonitor::synchronizeToDiskOnMonitorQueue() { m_monitorUserDefaults->synchronize(); }

void APMMonitor::migrateMonitorDataOnMonitorQueue() {
  std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
  int64_t state = m_monitorUserDefaults->integerForKey(kMigrationStateKey);
  if (state == 0) {
    std::optional<platform::Array> old = preferences->arrayForKey(kHealthMonitorKey);
    if (old && !m_monitorUserDefaults->objectForKey(kHealthMonitorKey)) {
      m_monitorUserDefaults->setObject(platform::Value(*old), kHealthMonitorKey);
    }
    m_monitorUserDefaults->setInteger(1, kMigrationStateKey);
    synchronizeToDiskOnMonitorQueue();
    state = 1;
  }
  if (state == 1) {
    preferences->removeObjectForKey(kHealthMonitorKey);
    preferences->synchronize();
    m_monitorUserDefaults->setInteger(2, kMigrationStateKey);
    synchronizeToDiskOnMonitorQueue();
  }
}

void APMMonitor::processLaunchArgumentsOnMonitorQueue() {
  m_deferToRIRLogger.store(anyLaunchArgument({"-RIRDebugDisabled", "-RIRDebugEnabled"}) &&
                           platform::ClassRegistry::shared().exists("RIRConfiguration"));
  std::shared_ptr<APMUserDefaults> preferences = APMUserDefaults::sharedUserDefaults();
  if (anyLaunchArgument({"-noAPMAnalyticsDebugEnabled", "-noROZAdavurudoDebugEnabled", "-RIRDebugDisabled"})) {
    setDebugModeEnabled(false);
  } else if (preferences->boolForKey(kDebugModeKey) ||
             anyLaunchArgument({"-APMAnalyticsDebugEnabled", "-ROZAdavurudoDebugEnabled", "-RIRDebugEnabled"})) {
    setDebugModeEnabled(true);
  }
  if (anyLaunchArgument({"-APMAnalyticsVerboseLoggingDisabled", "-ROZAdavurudoVerboseLoggingDisabled"})) {
    setVerboseLoggingEnabled(false);
  } else if (preferences->boolForKey(kVerboseLoggingKey) ||
             anyLaunchArgument({"-APMAnalyticsVerboseLoggingEnabled", "-ROZAdavurudoVerboseLoggingEnabled"})) {
    setVerboseLoggingEnabled(true);
  }
}

// --- pure helpers ------------------------------------------------------------

std::optional<std::string> APMMonitor::logLevelDescriptionFromLogLevel(int64_t level) {
  static const char* const kDescriptions[] = {"ERROR", "ERROR", "ERROR", "WARNING", "WARNING",
                                              "WARNING", "NOTICE", "DEBUG"};
  if (level < 0 || level > 7) return std::nullopt;
  return std::string(kDescriptions[level]);
}

bool APMMonitor::isSilentLevel(int64_t level) {
  if (level < 0 || level > 8) return true;
  return level == 2 || level == 5;
}

bool APMMonitor::isMonitorableLevel(int64_t level) {
  if (level < 0 || level > 8) return true;
  return level == 1 || level == 2 || level == 4 || level == 5;
}

std::string APMMonitor::encodedStringWithContextObject(const APMLogContext& context) {
  if (const platform::Value* value = context.value()) {
    if (value->isNull()) return "";
    if (value->isString()) return "-";
    if (value->isNumeric()) return encodedNumber(value->longLongValue());
    return "?";
  }
  if (const platform::Error* error = context.error()) return error->domain.empty() ? "-" : error->domain;
  if (const platform::Exception* exception = context.exception()) {
    return lastAPMSymbolFromException(exception).value_or("-");
  }
  return "?";
}

std::string APMMonitor::encodedStringWithContextArray(const std::vector<APMLogContext>& contexts, bool insertSpaces) {
  std::vector<std::string> pieces;
  pieces.reserve(contexts.size());
  for (const APMLogContext& context : contexts) pieces.push_back(encodedStringWithContextObject(context));
  return join(pieces, insertSpaces ? ", " : ",");
}

std::string APMMonitor::stringWithLogMessage(const std::optional<std::string>& message, int64_t,
                                             const std::vector<APMLogContext>& contexts, bool encodeContexts) {
  std::string text = !message ? "(Message was nil)" : message->empty() ? "(Message was empty)" : *message;
  if (contexts.empty()) return text;
  if (encodeContexts) return text + ": " + encodedStringWithContextArray(contexts, true);
  std::vector<std::string> pieces;
  pieces.reserve(contexts.size());
  for (const APMLogContext& context : contexts) {
    if (const platform::Exception* exception = context.exception()) {
      std::optional<std::string> symbol = lastAPMSymbolFromException(exception);
      pieces.push_back(symbol ? *symbol + ": " + context.description() : context.description());
    } else if (context.isNull()) {
      pieces.push_back("(nil)");
    } else {
      pieces.push_back(context.description());
    }
  }
  return text + ": " + join(pieces, ", ");
}

std::optional<std::string> APMMonitor::lastAPMSymbolFromException(const platform::Exception* exception) {
  if (exception == nullptr) return std::nullopt;
  return exception->name;
}

std::string APMMonitor::monitoringDataKeyWithMessage(const std::optional<std::string>& message, int64_t level,
                                                     int64_t libraryVersion) {
  const char letter = level >= 0 && level <= 2 ? 'E' : level >= 3 && level <= 5 ? 'W' : '?';
  return std::string("1") + letter + "_" + std::to_string(libraryVersion) + ":" + message.value_or("(null)");
}

std::string APMMonitor::monitorContextsOfErrors(const std::vector<APMLogContext>& contexts) {
  std::vector<std::string> collected;
  for (const APMLogContext& context : contexts) {
    const platform::Error* error = context.error();
    if (error == nullptr || error->domain != kAPMErrorDomain) continue;
    const platform::Value* monitorContext = error->userInfo.find(kAPMMonitorContextKey);
    if (monitorContext != nullptr && monitorContext->isString() && !monitorContext->asString()->empty()) {
      collected.push_back(*monitorContext->asString());
    }
  }
  return join(collected, ",");
}
