#include "sdk/core/ROZAdavurudoConfiguration.h"

#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/UserDefaults.h"

std::shared_ptr<ROZAdavurudoConfiguration> ROZAdavurudoConfiguration::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ROZAdavurudoConfiguration>(std::make_shared<ROZAdavurudoConfiguration>());
  return *shared;
}

void ROZAdavurudoConfiguration::setAnalyticsCollectionEnabled(bool enabled, bool persistSetting) {
  if (persistSetting) {
    auto defaults = platform::UserDefaults::standard();
    defaults->setInteger(kROZAdavurudoMeasurementEnabledStateKey, enabled ? 1 : 2);
    defaults->synchronize();
  }
  postNotificationName(kROZAdavurudoConfigurationSetEnabledNotification, platform::Value(enabled));
}

void ROZAdavurudoConfiguration::postNotificationName(const std::string& name, const platform::Value& value) {
  if (value.isNull() || name.empty()) return;
  platform::Dictionary userInfo;
  userInfo.set(name, value);
  platform::NotificationCenter::defaultCenter().post(name, platform::NotificationObject(this), userInfo);
}
