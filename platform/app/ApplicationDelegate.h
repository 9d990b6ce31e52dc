// ApplicationDelegate: what the application object tells its delegate about
// the life cycle. Every method has an empty default; each receives the same
// notification that is then posted on the default notification centre.
//
// Thread safety: called on the thread that drives the life cycle (the main
// thread).
#pragma once

#include "platform/notifications/Notification.h"

namespace platform {

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching(const Notification& notification) { (void)notification; }
  virtual void applicationDidBecomeActive(const Notification& notification) { (void)notification; }
  virtual void applicationWillResignActive(const Notification& notification) { (void)notification; }
  virtual void applicationWillTerminate(const Notification& notification) { (void)notification; }
};

}  // namespace platform
