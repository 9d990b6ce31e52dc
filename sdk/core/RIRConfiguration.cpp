#include "sdk/core/RIRConfiguration.h"

#include "sdk/core/RIRLogger.h"
#include "sdk/utilities/ZULAssertionHandler.h"

std::shared_ptr<RIRConfiguration> RIRConfiguration::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<RIRConfiguration>(std::make_shared<RIRConfiguration>());
  return *shared;
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
    // The current assertion handler raises by default; a handler that returns
    // leaves the level unchanged.
    ZULAssertionHandler::handleFailure("Invalid logger level, " + std::to_string(level));
    return;
  }
  std::lock_guard lock(m_mutex);
  RIRLogSetLevel(level);
}

ZULLoggerLevel RIRConfiguration::loggerLevel() const {
  std::lock_guard lock(m_mutex);
  return RIRLogGetLevel();
}
