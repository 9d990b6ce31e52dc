// APMMonitor: the measurement engine's one logging and health-monitoring
// facility. Every measurement class reports through it with a level (0-8),
// a numeric message code, a message and optional context objects; the engine
// keeps one process-wide instance (APMEngineServices::monitor()).
//
// Each report does two independent things:
//  - a console line through the sink (APMLogging) when the level is loggable:
//    the shared logger lets the sink's mapped level through and the level is
//    not silent (2, 5 and levels outside 0-8 are silent);
//  - a health sample when the level is monitorable (1, 2, 4, 5 and levels
//    outside 0-8): one randomly kept report with its value-hiding context
//    encoding, stored in the suite "com.zoruvu.vod.measurement.monitor" and
//    handed to the upload once per sampling period.
// A level-8 report is dropped entirely unless verbose logging is on.
//
// Switches: debug mode (monitor level 7) and verbose logging (level 8) come
// from launch arguments and from two keys of the application's preferences;
// a store installation (APMEngineServices::isFromAppStore()) allows neither.
// Unless the process defers to the core's logger ("-RIRDebugDisabled" or
// "-RIRDebugEnabled" with a class "RIRConfiguration" registered), the
// switches also set the shared logger's level.
//
// Start-up: creation queues one task on the monitor queue that migrates the
// sample out of the application's preferences, loads it, decides whether
// debug mode is allowed and, when it is, applies the launch arguments. Wait
// for it with monitorQueue().sync([] {}).
//
// Concurrency: log calls come from any thread; line building and encoding run
// on the caller's thread. Sample reads and writes, the monitor suite, the
// start-up task and all console output run on the serial queue
// "APMMonitorQueue", so console lines leave in the order of the log calls.
// monitoringDataForDispatchWithSamplePeriod and clearMonitoringData wait on
// that queue: never call them from it. Flags are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMLogContext.h"
#include "measurement/base/APMLogging.h"
#include "measurement/base/APMMonitoringSampledData.h"
#include "measurement/base/APMUserDefaults.h"
#include "platform/dispatch/SerialQueue.h"

class APMMonitor : public std::enable_shared_from_this<APMMonitor> {
 public:
  static constexpr const char* kMonitorQueueLabel = "APMMonitorQueue";
  static constexpr const char* kMonitorSuiteName = "com.zoruvu.vod.measurement.monitor";
  static constexpr const char* kDefaultLogTag = "<RedIveduruveza>";
  static constexpr const char* kDebugModeKey = "/zoruvu/measurement/debug_mode";
  static constexpr const char* kVerboseLoggingKey = "/zoruvu/measurement/verbose_logging";
  static constexpr const char* kHealthMonitorKey = "/zoruvu/measurement/health_monitor";
  static constexpr const char* kMigrationStateKey = "/zoruvu/measurement/monitor_migration_state";

  // Level 6, a new APMASLLogger and the version.
  static std::shared_ptr<APMMonitor> initWithLibraryVersion(int64_t libraryVersion);
  static std::shared_ptr<APMMonitor> initWithLogLevel(int64_t logLevel, std::shared_ptr<APMLogging> logger,
                                                      int64_t libraryVersion);

  // --- reports (any thread) ---------------------------------------------------
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message);
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                    const APMLogContext& context);
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                    const APMLogContext& context, const APMLogContext& context2);
  void logWithLevel(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                    const APMLogContext& context, const APMLogContext& context2, const APMLogContext& context3);
  void logWithLevelContexts(int64_t level, int64_t messageCode, const std::optional<std::string>& message,
                            const std::vector<APMLogContext>& contexts);

  // Hears every report as it is made, on the reporting thread, before any
  // level filtering: the level, code and message as given (tests and the test
  // driver). An empty observer removes it.
  using ReportObserver = std::function<void(int64_t level, int64_t messageCode, const std::string& message)>;
  void setReportObserver(ReportObserver observer);

  // --- switches ----------------------------------------------------------------
  void setDebugModeEnabled(bool enabled);
  void setVerboseLoggingEnabled(bool enabled);
  void setSZTMDebugModeEnabled(bool enabled);
  int64_t logLevel() const { return m_logLevel.load(); }
  void setLogLevel(int64_t level) { m_logLevel.store(level); }
  bool isDebugModeAllowed() const { return m_isDebugModeAllowed.load(); }
  bool isDebugModeEnabled() const { return m_debugModeEnabled.load(); }
  bool isVerboseLoggingEnabled() const { return m_verboseLoggingEnabled.load(); }
  bool deferToRIRLogger() const { return m_deferToRIRLogger.load(); }
  bool encodeContexts() const { return m_encodeContexts.load(); }
  void setEncodeContexts(bool encode) { m_encodeContexts.store(encode); }
  std::string logTag() const;
  void setLogTag(std::string tag);

  // --- health sample -------------------------------------------------------------
  std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                      double lastSampledTimestamp);
  void clearMonitoringData();

  int64_t libraryVersion() const { return m_libraryVersion; }
  const platform::SerialQueue& monitorQueue() const { return m_monitorQueue; }
  const std::shared_ptr<APMLogging>& logger() const { return m_logger; }
  const std::shared_ptr<APMUserDefaults>& monitorUserDefaults() const { return m_monitorUserDefaults; }

  // --- pure helpers -----------------------------------------------------------
  // "ERROR", "WARNING", "NOTICE", "DEBUG" for 0-7; none for 8 and others.
  static std::optional<std::string> logLevelDescriptionFromLogLevel(int64_t level);
  static bool isSilentLevel(int64_t level);
  static bool isMonitorableLevel(int64_t level);
  static std::string encodedStringWithContextObject(const APMLogContext& context);
  static std::string encodedStringWithContextArray(const std::vector<APMLogContext>& contexts, bool insertSpaces);
  static std::string stringWithLogMessage(const std::optional<std::string>& message, int64_t level,
                                          const std::vector<APMLogContext>& contexts, bool encodeContexts);
  // Exceptions here carry no call stack, so the symbol is the exception's name.
  static std::optional<std::string> lastAPMSymbolFromException(const platform::Exception* exception);
  static std::string monitoringDataKeyWithMessage(const std::optional<std::string>& message, int64_t level,
                                                  int64_t libraryVersion);
  // The monitor contexts of the measurement errors among the contexts, joined with ",".
  static std::string monitorContextsOfErrors(const std::vector<APMLogContext>& contexts);

  bool isLoggableLevel(int64_t level) const;


 private:
  APMMonitor(int64_t logLevel, std::shared_ptr<APMLogging> logger, int64_t libraryVersion);
  void logToConsole(int64_t messageCode, const std::optional<std::string>& message, int64_t level);
  void insertOrUpdateMonitoringDataWithMessage(const std::optional<std::string>& message,
                                               const std::string& encodedContext, int64_t level);
  void startUpOnMonitorQueue();
  void loadMonitoringDataFromUserDefaultsOnMonitorQueue();
  void saveMonitoringDataToUserDefaultsOnMonitorQueue();
  void migrateMonitorDataOnMonitorQueue();
  void processLaunchArgumentsOnMonitorQueue();
  void synchronizeToDiskOnMonitorQueue();
  void setSharedLoggerLevel(int64_t monitorLevel);

  std::atomic<int64_t> m_logLevel;
  const std::shared_ptr<APMLogging> m_logger;
  APMMonitoringSampledData m_monitoringSampledData;  // monitor queue only
  const platform::SerialQueue m_monitorQueue;
  const int64_t m_libraryVersion;
  const std::shared_ptr<APMUserDefaults> m_monitorUserDefaults;
  std::atomic<bool> m_deferToRIRLogger{false};
  std::atomic<bool> m_isDebugModeAllowed{false};
  std::atomic<bool> m_debugModeEnabled{false};
  std::atomic<bool> m_verboseLoggingEnabled{false};
  std::atomic<bool> m_encodeContexts{false};
  mutable std::mutex m_tagMutex;
  std::string m_logTag = kDefaultLogTag;
  std::atomic<bool> m_hasReportObserver{false};
  std::mutex m_observerMutex;
  ReportObserver m_reportObserver;
};
