// APMScreenViewReporter: the one place that knows the current screen and
// whether the application is active. The application reports screens through
// the public "screen_view" event (automatic screen reporting does not exist
// here); each gets the next instance number, the internal event "_vs" carries
// the new and the previous screen's parameters, and every other event gets the
// current screen's parameters. Activation, deactivation and screen changes are
// passed on to the engine's session reporter and to the ad exposure reporter.
//
// It observes the platform's did-become-active, will-resign-active and
// window-did-resign-key notifications for its life. "Not active" counts only
// after the first activation: before it, screens are tracked and logged.
//
// The parts it reaches above it come through Hooks, installed once by the
// engine (installHooks); without them the reporter only keeps its state. The
// first instance number is a random 64-bit value.
//
// Thread safety: every member may be called from any thread except the
// reporter's serial queue "APMScreenViewReporter", which holds the screens.
// The activity flags are atomics written by the notification handlers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "measurement/features/APMScreen.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/values/Value.h"

class APMSessionReporter;

class APMScreenViewReporter : public std::enable_shared_from_this<APMScreenViewReporter> {
 public:
  static constexpr const char* kQueueLabel = "APMScreenViewReporter";

  struct Hooks {
    // The engine's session reporter once its components exist, else none.
    std::function<std::shared_ptr<APMSessionReporter>()> sessionReporter;
    // Whether the engine exists with its components and efficient engagement
    // reporting is on ("_et" of "_vs").
    std::function<bool()> efficientEngagementReportingEnabled;
    std::function<void(const std::optional<platform::Dictionary>& fromScreen,
                       const std::optional<platform::Dictionary>& toScreen)>
        adExposureScreenDidChange;
    std::function<void()> adExposureDidBecomeActive;
    std::function<void()> adExposureWillResignActive;
    std::function<void(const std::string& origin, const std::string& name, double timestamp,
                       const platform::Dictionary& parameters)>
        logInternalEvent;
  };

  static std::shared_ptr<APMScreenViewReporter> sharedInstance();
  // A reporter of its own with the given hooks (tests); the shared one uses
  // the installed hooks.
  static std::shared_ptr<APMScreenViewReporter> initWithHooks(std::optional<Hooks> hooks);
  static void installHooks(Hooks hooks);
  // The next sharedInstance() is a new reporter (tests).
  static void resetSharedInstanceForTesting();
  ~APMScreenViewReporter();
  APMScreenViewReporter(const APMScreenViewReporter&) = delete;
  APMScreenViewReporter& operator=(const APMScreenViewReporter&) = delete;

  bool isAppActive() const { return m_isAppActive.load(); }
  bool appHasBeenInitialized() const { return m_appHasBeenInitialized.load(); }
  void getScreenName(std::optional<std::string>* screenName, std::optional<std::string>* screenClass) const;
  void trackScreenWithParameters(const platform::Dictionary& parameters, double timestamp);
  // The current screen's parameters; empty while inactive after the first
  // activation, without a screen, or when screen parameters are off.
  platform::Dictionary screenParameters() const;
  void setScreenName(const std::optional<std::string>& screenName, const std::optional<std::string>& screenClass);
  void postScreenDidChangeNotificationWithPreviousScreen(const std::optional<APMScreen>& previousScreen,
                                                         const std::optional<APMScreen>& newScreen);
  void logViewScreenEventWithPreviousScreen(const std::optional<APMScreen>& previousScreen,
                                            const std::optional<APMScreen>& newScreen,
                                            const std::optional<platform::Dictionary>& parameters);
  void handleApplicationDidBecomeActive();
  void handleApplicationWillResignActive();
  void handleApplicationDidEnterBackground();
  void handleWindowDidResign() {}
  int64_t incrementScreenInstanceID();
  // Waits until the screen work queued so far has run (tests, the probe).
  void waitUntilIdle() const;

 private:
  explicit APMScreenViewReporter(std::optional<Hooks> hooks);
  Hooks hooks() const;
  bool isInactiveAfterInitialization() const { return m_appHasBeenInitialized.load() && !m_isAppActive.load(); }
  void observeNotifications();

  const std::optional<Hooks> m_hooks;
  const platform::SerialQueue m_queue;
  std::atomic<bool> m_isAppActive{false};
  std::atomic<bool> m_appHasBeenInitialized{false};
  std::atomic<bool> m_allowScreenParameters{true};
  std::atomic<bool> m_allowPostScreenDidChangeNotification{true};
  std::atomic<bool> m_allowScreenViewEvent{true};
  std::atomic<int64_t> m_currentScreenInstanceID;
  std::vector<platform::ObserverToken> m_observers;
  // Queue only.
  std::optional<APMScreen> m_currentScreen;
  std::optional<APMScreen> m_previousScreen;
};
