// APMSessionReporter: measurement sessions and engagement time. It decides
// when a session has expired (no activity for the session timeout while the
// application is inactive), keeps the session number and the last activity
// time (wall clock) in the persisted configuration, produces the session user
// properties "_sid" and "_sno" and the session-start event "_s", and measures
// engagement time, reported as "_e" with "_et" in milliseconds (capped at one
// hour per event).
//
// Engagement is measured in seconds of uptime (platform::Clock::current()->
// sinceBoot(), so a virtual clock drives it). The timer "Engagement timer"
// (an APMAlarm on the main queue) fires every
// "measurement.session.event_user_engagement_interval" while the application
// is active: it posts "kAPMSessionReporterEngagementTimerDidFire" and logs the
// engagement event.
//
// What it needs from outside comes through its Environment: whether the
// application is active and the current screen's parameters (the shared
// screen-view reporter by default), the logging of internal events and the
// setting of internal user properties (the analytics front, installed by the
// engine) and the settings (the engine's by default).
//
// Thread safety: every member may be called from any thread. The timer runs
// on the main queue, the activity handlers come from the screen-view
// reporter's notifications and the engine asks its questions on its worker
// queue, so the fields sit under one mutex, never held while calling out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "measurement/base/APMUserAttribute.h"
#include "measurement/features/APMScreen.h"
#include "platform/values/Value.h"

class APMAlarm;
class APMPersistedConfig;
class APMRemoteConfig;

class APMSessionReporter : public std::enable_shared_from_this<APMSessionReporter> {
 public:
  static constexpr const char* kEngagementTimerName = "Engagement timer";
  static constexpr const char* kEngagementTimerDidFireNotification = "kAPMSessionReporterEngagementTimerDidFire";
  static constexpr double kMaxEngagementSeconds = 3600;

  struct Environment {
    std::function<bool()> isAppActive;
    std::function<platform::Dictionary()> screenParameters;
    std::function<void(const std::string& origin, const std::string& name, const platform::Dictionary& parameters)>
        logInternalEvent;
    // None removes the property.
    std::function<void(const std::string& name, const std::optional<platform::Value>& value,
                       const std::string& origin)>
        setInternalUserProperty;
    std::function<std::shared_ptr<APMRemoteConfig>()> settings;
  };

  // Empty members of the environment take the defaults: the shared
  // screen-view reporter, APMEngineServices' internal-event logger and
  // settings, and no user properties.
  static std::shared_ptr<APMSessionReporter> initWithPersistedConfig(std::shared_ptr<APMPersistedConfig> persistedConfig,
                                                                     Environment environment = {});
  ~APMSessionReporter();
  APMSessionReporter(const APMSessionReporter&) = delete;
  APMSessionReporter& operator=(const APMSessionReporter&) = delete;

  bool isReportingEnabled() const;
  void setReportingEnabled(bool enabled);
  double timeoutSessionInterval() const;
  void setTimeoutSessionInterval(double seconds);

  bool hasReachedSessionTimeout();
  bool shouldStartNewSession() { return hasReachedSessionTimeout(); }
  bool isSessionExpired();
  bool extendSession();

  std::shared_ptr<APMUserAttribute> sessionIDPropertyWithTimestamp(double timestamp);
  std::shared_ptr<APMUserAttribute> sessionNumberProperty();
  void updatePropertiesForNewSessionStart();
  void setSessionID(const std::optional<int64_t>& sessionID, const std::optional<int64_t>& sessionNumber);

  void logSessionStartEvent();
  int64_t logUserEngagementEvent();
  int64_t logEngagementEventAndReturnTimeWithScreen(const std::optional<APMScreen>& screen, bool isRedundant);
  void handleAppDidBecomeActive();
  void handleAppWillResignActiveWithScreen(const std::optional<APMScreen>& screen);
  void handleScreenDidChangeFromScreen(const std::optional<APMScreen>& fromScreen,
                                       const std::optional<APMScreen>& toScreen);
  int64_t cutFreerideEngagementTimeMillis();

  // Seconds since boot (-1 when unknown) and since 1970.
  static double currentUptime();
  static double currentClockTime();
  bool hasScheduledTimer() const;

 private:
  APMSessionReporter(std::shared_ptr<APMPersistedConfig> persistedConfig, Environment environment);
  bool isAppActive() const;
  std::shared_ptr<APMRemoteConfig> settings() const;
  bool efficientEngagementReportingEnabled() const;
  // Engagement seconds of the running interval (not negative).
  double incurredEngagementTime();
  void rescheduleUserEngagementTimer();
  void setLastActivityTime(double clockTime);

  const std::shared_ptr<APMPersistedConfig> m_persistedConfig;
  const Environment m_environment;
  std::shared_ptr<APMAlarm> m_userEngagementTimer;

  mutable std::mutex m_mutex;  // guards the four below
  double m_engagementStartUptime = 0;
  double m_freerideEngagementStartUptime = 0;
  bool m_reportingEnabled = false;
  double m_timeoutSessionInterval = 0;
};
