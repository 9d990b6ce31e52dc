// ZDTCORLifecycle: passes the transport's application notifications
// ("ZDTCORApplicationDidEnterBackgroundNotification",
// "...WillEnterForegroundNotification", "...WillTerminateNotification") on
// to the transport's shared objects: the upload coordinator and then the
// registrar (which passes them to every uploader and storage). The shared
// transformer answers none of the operations, so it is not signalled.
// Each signal is logged ("Signaling ZDTCORUploadCoordinator that the app is
// terminating.").
//
// ZDTCORLifecycleProtocol is what those objects implement; every operation
// does nothing unless overridden.
//
// Thread safety: handlers run on the posting thread and only hand work to
// the objects' own queues.
#pragma once

#include <memory>

#include "platform/notifications/NotificationCenter.h"
#include "sdk/transport/ZDTCORApplication.h"

class ZDTCORLifecycleProtocol {
 public:
  virtual ~ZDTCORLifecycleProtocol() = default;
  virtual void appWillBackground(ZDTCORApplicationProtocol& application) { (void)application; }
  virtual void appWillForeground(ZDTCORApplicationProtocol& application) { (void)application; }
  virtual void appWillTerminate(ZDTCORApplicationProtocol& application) { (void)application; }
};

class ZDTCORLifecycle {
 public:
  // Creates the shared relay (registration).
  static void load();
  static std::shared_ptr<ZDTCORLifecycle> sharedInstance();

  void applicationDidEnterBackgroundNotification(const platform::Notification& notification);
  void applicationWillEnterForegroundNotification(const platform::Notification& notification);
  void applicationWillTerminateNotification(const platform::Notification& notification);

  // Use sharedInstance(); only the shared relay observes (held weakly).
  ZDTCORLifecycle() = default;

 private:
  enum class Event { Background, Foreground, Terminate };
  void relay(Event event);
};
