#include "measurement/features/experiments/APMEMonitor.h"

#include "measurement/base/APMEngineServices.h"

const APMEMonitor& APMEMonitor::shared() {
  static const APMEMonitor* const monitor = new APMEMonitor();
  return *monitor;
}

void APMEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message) const {
  APMEngineServices::monitor()->logWithLevel(level, messageCode, message);
}

void APMEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const APMLogContext& context) const {
  APMEngineServices::monitor()->logWithLevel(level, messageCode, message, context);
}

void APMEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const APMLogContext& context, const APMLogContext& context2) const {
  APMEngineServices::monitor()->logWithLevel(level, messageCode, message, context, context2);
}

void APMEMonitor::logWithLevel(int64_t level, int64_t messageCode, const std::string& message,
                               const APMLogContext& context, const APMLogContext& context2,
                               const APMLogContext& context3) const {
  APMEngineServices::monitor()->logWithLevel(level, messageCode, message, context, context2, context3);
}

void APMEMonitor::clearMonitoringData() const { APMEngineServices::monitor()->clearMonitoringData(); }
