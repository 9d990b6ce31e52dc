#include "sdk/transport/ZDTCORLifecycle.h"

#include "sdk/transport/ZDTCORConsoleLogger.h"
#include "sdk/transport/ZDTCORRegistrar.h"
#include "sdk/transport/ZDTCORUploadCoordinator.h"

void ZDTCORLifecycle::load() { sharedInstance(); }

std::shared_ptr<ZDTCORLifecycle> ZDTCORLifecycle::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<ZDTCORLifecycle>([] {
    auto lifecycle = std::make_shared<ZDTCORLifecycle>();
    std::weak_ptr<ZDTCORLifecycle> weak = lifecycle;
    auto observe = [&](const char* name, void (ZDTCORLifecycle::*handler)(const platform::Notification&)) {
      platform::NotificationCenter::defaultCenter().addObserver(
          lifecycle, name, {}, [weak, handler](const platform::Notification& notification) {
            if (auto self = weak.lock()) ((*self).*handler)(notification);
          });
    };
    observe(kZDTCORApplicationDidEnterBackgroundNotification,
            &ZDTCORLifecycle::applicationDidEnterBackgroundNotification);
    observe(kZDTCORApplicationWillEnterForegroundNotification,
            &ZDTCORLifecycle::applicationWillEnterForegroundNotification);
    observe(kZDTCORApplicationWillTerminateNotification, &ZDTCORLifecycle::applicationWillTerminateNotification);
    return lifecycle;
  }());
  return *shared;
}

void ZDTCORLifecycle::applicationDidEnterBackgroundNotification(const platform::Notification&) {
  relay(Event::Background);
}

void ZDTCORLifecycle::applicationWillEnterForegroundNotification(const platform::Notification&) {
  relay(Event::Foreground);
}

void ZDTCORLifecycle::applicationWillTerminateNotification(const platform::Notification&) { relay(Event::Terminate); }

void ZDTCORLifecycle::relay(Event event) {
  std::shared_ptr<ZDTCORApplication> application = ZDTCORApplication::sharedApplication();
  const char* word = event == Event::Background   ? "backgrounding."
                     : event == Event::Foreground ? "foregrounding."
                                                  : "terminating.";
  auto signal = [&](const char* name, ZDTCORLifecycleProtocol& receiver) {
    ZDTCORLogDebug(std::string("Signaling ") + name + " that the app is " + word);
    switch (event) {
      case Event::Background: receiver.appWillBackground(*application); break;
      case Event::Foreground: receiver.appWillForeground(*application); break;
      case Event::Terminate: receiver.appWillTerminate(*application); break;
    }
  };
  signal("ZDTCORUploadCoordinator", *ZDTCORUploadCoordinator::sharedInstance());
  signal("ZDTCORRegistrar", *ZDTCORRegistrar::sharedInstance());
}
