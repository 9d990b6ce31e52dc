// Application: the application object. It keeps the delegate, the launch
// arguments and the active state, and turns life-cycle events into the
// delegate's methods and the notifications
//   "NSApplicationDidFinishLaunchingNotification" (user info: launch options),
//   "NSApplicationDidBecomeActiveNotification",
//   "NSApplicationWillResignActiveNotification",
//   "NSApplicationWillTerminateNotification"
// on NotificationCenter::defaultCenter(), object = the application. For each
// event the delegate is called first, then the notification is posted.
//
// The event loop is not here: the app's Qt adapter calls finishLaunching(),
// becomeActive(), resignActive() and terminate() (tests call them directly).
// Events follow the state: finishLaunching and terminate act once; becoming
// active when active, or resigning when not active, does nothing; nothing is
// delivered after terminate. Becoming active before launch finished is
// ignored.
//
// Launch arguments are whole strings, the program name first, as main()
// received them.
//
// Thread safety: the event calls belong to the main thread; state queries,
// setDelegate and the argument accessors may be used from any thread. A
// delegate method or observer may call back into the application.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/app/ApplicationDelegate.h"
#include "platform/values/Value.h"

namespace platform {

class Application : public std::enable_shared_from_this<Application> {
 public:
  Application() = default;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The process-wide application, created on first use.
  static std::shared_ptr<Application> shared();
  // Replaces it (tests); nullptr makes the next shared() create a new one.
  static void setShared(std::shared_ptr<Application> application);

  std::shared_ptr<ApplicationDelegate> delegate() const;
  void setDelegate(std::shared_ptr<ApplicationDelegate> delegate);

  void setLaunchArguments(std::vector<std::string> arguments);
  void setLaunchArguments(int argc, const char* const* argv);
  std::vector<std::string> launchArguments() const;
  // Whether some argument equals `argument` exactly.
  bool hasLaunchArgument(std::string_view argument) const;

  void finishLaunching(Dictionary launchOptions = {});
  void becomeActive();
  void resignActive();
  void terminate();

  bool hasFinishedLaunching() const;
  bool isActive() const;
  bool isTerminating() const;

 private:
  enum class Event { DidFinishLaunching, DidBecomeActive, WillResignActive, WillTerminate };
  void deliver(Event event, Dictionary userInfo);

  mutable std::mutex m_mutex;
  std::shared_ptr<ApplicationDelegate> m_delegate;
  std::vector<std::string> m_arguments;
  bool m_launched = false;
  bool m_active = false;
  bool m_terminating = false;
};

}  // namespace platform
