#include "measurement/base/APMNotificationNames.h"

#include "platform/notifications/ApplicationNotifications.h"

const char* APMAppDidBecomeActiveNotificationName() { return platform::kApplicationDidBecomeActiveNotification; }
const char* APMAppDidFinishLaunchingNotificationName() {
  return platform::kApplicationDidFinishLaunchingNotification;
}
const char* APMAppWillResignActiveNotificationName() { return platform::kApplicationWillResignActiveNotification; }
const char* APMWindowDidResignKeyNotificationName() { return platform::kWindowDidResignKeyNotification; }
void APMNotificationsLinkAnchor() {}
