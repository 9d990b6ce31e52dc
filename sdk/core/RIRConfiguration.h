// RIRConfiguration: the SDK's shared configuration object: the logger level
// (3..7; anything else goes to the current ZULAssertionHandler, which by
// default raises NSInternalInconsistencyException "Invalid logger level, N")
// and the analytics configuration.
// Thread safety: any thread; the level accessors are serialised.
#pragma once

#include <memory>
#include <mutex>

#include "sdk/core/ROZAdavurudoConfiguration.h"
#include "sdk/utilities/ZULLogger.h"

class RIRConfiguration {
 public:
  static std::shared_ptr<RIRConfiguration> sharedInstance();
  RIRConfiguration();

  std::shared_ptr<ROZAdavurudoConfiguration> analyticsConfiguration() const;
  void setAnalyticsConfiguration(std::shared_ptr<ROZAdavurudoConfiguration> configuration);

  void setLoggerLevel(ZULLoggerLevel level);
  ZULLoggerLevel loggerLevel() const;

 private:
  mutable std::mutex m_mutex;
  std::shared_ptr<ROZAdavurudoConfiguration> m_analyticsConfiguration;
};
