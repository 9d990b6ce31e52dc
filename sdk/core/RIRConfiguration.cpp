#include "sdk/core/RIRConfiguration.h"

#include "platform/values/Exception.h"
#include "sdk/core/RIRLogger.h"

std::shared_ptr<RIRConfiguration> RIRConfiguration::sharedInstance() {
  static const std::shared_ptr<RIRConfiguration> shared = std::make_shared<RIRConfiguration>();
  return shared;
}

RIRConfiguration::RIRConfiguration() : m_analyticsConfiguration(ROZAdavurudoConfiguration::sharedInstance()) {}

std::shared_ptr<ROZAdavurudoConfiguration> RIRConfiguration::analyticsConfiguration() const {
  std::lock_guard lock(m_mutex);
  return m_analyticsConfiguration;
}

void RIRConfiguration::setAnalyticsConfiguration(std::shared_ptr<ROZAdavurudoConfiguration> configuration) {
  std::lock_guard lock(m_mutex);
  m_analyticsConfiguration = std::move(configuration);
}

void RIRConfiguration::setLoggerLevel(ZULLoggerLevel level) {
  if (level < ZULLoggerLevelError || level > ZULLoggerLevelDebug) {
    platform::Exception::raise(platform::Exception::kInternalInconsistencyException,
                               "Invalid logger level, " + std::to_string(level));
  }
  std::lock_guard lock(m_mutex);
  RIRLogSetLevel(level);
}

ZULLoggerLevel RIRConfiguration::loggerLevel() const {
  std::lock_guard lock(m_mutex);
  return RIRLogGetLevel();
}
