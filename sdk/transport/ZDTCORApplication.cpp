#include "sdk/transport/ZDTCORApplication.h"

#include "platform/app/Bundle.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "sdk/transport/ZDTCORConsoleLogger.h"

void ZDTCORApplication::load() {
  ZDTCORLogDebug(
      "ZDT is initializing. Please note that if you quit the app via the debugger and not through a lifecycle event, "
      "event data will remain on disk but storage won't have a reference to them since the singleton wasn't saved to "
      "disk.");
  sharedApplication();
}

std::shared_ptr<ZDTCORApplication> ZDTCORApplication::sharedApplication() {
  static const auto* const shared = new std::shared_ptr<ZDTCORApplication>([] {
    auto application = std::make_shared<ZDTCORApplication>();
    std::weak_ptr<ZDTCORApplication> weak = application;
    platform::NotificationCenter::defaultCenter().addObserver(
        application, platform::kApplicationWillTerminateNotification, {},
        [weak](const platform::Notification& notification) {
          if (auto self = weak.lock()) self->macOSApplicationWillTerminate(notification);
        });
    return application;
  }());
  return *shared;
}

ZDTCORBackgroundIdentifier ZDTCORApplication::beginBackgroundTaskWithName(const std::string&,
                                                                          std::function<void()>) {
  // Nothing grants background tasks on this platform.
  return ZDTCORBackgroundIdentifierInvalid;
}

void ZDTCORApplication::endBackgroundTask(ZDTCORBackgroundIdentifier) {
  // No task was ever granted, so there is none to end.
}

bool ZDTCORApplication::isAppExtension() {
  const std::string& path = platform::Bundle::main()->bundlePath();
  const std::string suffix = ".appex";
  return path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void ZDTCORApplication::macOSApplicationWillTerminate(const platform::Notification&) {
  ZDTCORLogDebug("ZDTCORPlatform is sending a notif that the app is terminating.");
  platform::NotificationCenter::defaultCenter().post(kZDTCORApplicationWillTerminateNotification);
}
