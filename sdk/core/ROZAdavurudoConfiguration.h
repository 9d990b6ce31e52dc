// ROZAdavurudoConfiguration: the shared analytics switch. Setting it posts
// "ROZAdavurudoConfigurationSetEnabledNotification" (object: the shared
// configuration; user info: the name -> the boolean) on the default centre
// and, when asked to persist, stores 1 (enabled) or 2 (disabled) under
// "/zoruvu/measurement/measurement_enabled_state" in the standard user
// defaults.
//
// Thread safety: any thread; the shared instance is created once.
#pragma once

#include <memory>
#include <string>

#include "platform/values/Value.h"

inline constexpr const char* kROZAdavurudoConfigurationSetEnabledNotification =
    "ROZAdavurudoConfigurationSetEnabledNotification";
inline constexpr const char* kROZAdavurudoMeasurementEnabledStateKey = "/zoruvu/measurement/measurement_enabled_state";

class ROZAdavurudoConfiguration : public std::enable_shared_from_this<ROZAdavurudoConfiguration> {
 public:
  static std::shared_ptr<ROZAdavurudoConfiguration> sharedInstance();

  void setAnalyticsCollectionEnabled(bool enabled, bool persistSetting);
  // Posts only when the value is not null and the name not empty.
  void postNotificationName(const std::string& name, const platform::Value& value);
};
