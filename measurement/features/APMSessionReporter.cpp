#include "measurement/features/APMSessionReporter.h"

#include <algorithm>
#include <cmath>

#include "measurement/base/APMAlarm.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMValue.h"
#include "measurement/features/APMScreenViewReporter.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/time/Clock.h"

using platform::Dictionary;
using platform::Value;

namespace {

APMMonitor& monitor() { return *APMEngineServices::monitor(); }

// Whole seconds of a time, as the session identifier carries it.
int64_t wholeSeconds(double seconds) { return std::isfinite(seconds) ? static_cast<int64_t>(seconds) : 0; }

}  // namespace

std::shared_ptr<APMSessionReporter> APMSessionReporter::initWithPersistedConfig(
    std::shared_ptr<APMPersistedConfig> persistedConfig, Environment environment) {
  if (!environment.isAppActive) {
    environment.isAppActive = [] { return APMScreenViewReporter::sharedInstance()->isAppActive(); };
  }
  if (!environment.screenParameters) {
    environment.screenParameters = [] { return APMScreenViewReporter::sharedInstance()->screenParameters(); };
  }
  if (!environment.logInternalEvent) environment.logInternalEvent = APMEngineServices::logInternalEvent;
  if (!environment.settings) environment.settings = [] { return APMEngineServices::remoteConfig(); };
  return std::shared_ptr<APMSessionReporter>(new APMSessionReporter(std::move(persistedConfig), std::move(environment)));
}

APMSessionReporter::APMSessionReporter(std::shared_ptr<APMPersistedConfig> persistedConfig, Environment environment)
    : m_persistedConfig(std::move(persistedConfig)),
      m_environment(std::move(environment)),
      m_userEngagementTimer(APMAlarm::initWithDispatchQueue(platform::mainQueue(), kEngagementTimerName)) {
  std::optional<Value> pending = m_persistedConfig ? m_persistedConfig->sessionTimeoutValue() : std::nullopt;
  if (pending && pending->isNumeric()) {
    m_timeoutSessionInterval = std::max(0.0, pending->doubleValue());
    m_persistedConfig->setSessionTimeoutValue(Value());
  } else {
    m_timeoutSessionInterval = settings()->sessionDefaultTimeoutInterval();
  }
  const double now = currentUptime();
  m_engagementStartUptime = now;
  m_freerideEngagementStartUptime = now;
}

APMSessionReporter::~APMSessionReporter() { m_userEngagementTimer->cancel(); }

double APMSessionReporter::currentUptime() {
  const double uptime = platform::Clock::current()->sinceBoot();
  return uptime > 0 ? uptime : -1;
}

double APMSessionReporter::currentClockTime() { return platform::Clock::current()->now(); }

bool APMSessionReporter::isAppActive() const { return m_environment.isAppActive(); }

std::shared_ptr<APMRemoteConfig> APMSessionReporter::settings() const {
  std::shared_ptr<APMRemoteConfig> current = m_environment.settings();
  return current ? current : APMRemoteConfig::defaultInstance();
}

bool APMSessionReporter::efficientEngagementReportingEnabled() const {
  return settings()->efficientEngagementReportingEnabled();
}

bool APMSessionReporter::hasScheduledTimer() const { return m_userEngagementTimer->hasActiveTimer(); }

bool APMSessionReporter::isReportingEnabled() const {
  std::lock_guard lock(m_mutex);
  return m_reportingEnabled;
}

void APMSessionReporter::setReportingEnabled(bool enabled) {
  {
    std::lock_guard lock(m_mutex);
    m_reportingEnabled = enabled;
  }
  if (!enabled) {
    m_userEngagementTimer->cancel();
  } else if (isAppActive() && !m_userEngagementTimer->hasActiveTimer()) {
    rescheduleUserEngagementTimer();
  }
}

double APMSessionReporter::timeoutSessionInterval() const {
  std::lock_guard lock(m_mutex);
  return m_timeoutSessionInterval;
}

void APMSessionReporter::setTimeoutSessionInterval(double seconds) {
  if (seconds < 0 || std::isnan(seconds)) {
    monitor().logWithLevel(3, 33001, "Received negative timeout session duration. Setting to 0.0 instead.");
    seconds = 0;
  }
  // A session that expired under the old timeout stays expired.
  isSessionExpired();
  std::lock_guard lock(m_mutex);
  m_timeoutSessionInterval = seconds;
}

bool APMSessionReporter::hasReachedSessionTimeout() {
  const double timeout = timeoutSessionInterval();
  const double last = m_persistedConfig->lastSessionActivityClockTime();
  return std::fabs(currentClockTime() - last) > timeout;
}

bool APMSessionReporter::isSessionExpired() {
  if (isAppActive() || !hasReachedSessionTimeout()) return false;
  std::lock_guard lock(m_mutex);
  if (m_persistedConfig->lastSessionActivityClockTime() > 0) m_persistedConfig->setLastSessionActivityClockTime(0);
  return true;
}

bool APMSessionReporter::extendSession() {
  if (isSessionExpired()) return false;
  setLastActivityTime(currentClockTime());
  return true;
}

void APMSessionReporter::setLastActivityTime(double clockTime) {
  std::lock_guard lock(m_mutex);
  m_persistedConfig->setLastSessionActivityClockTime(clockTime);
}

std::shared_ptr<APMUserAttribute> APMSessionReporter::sessionIDPropertyWithTimestamp(double timestamp) {
  return APMUserAttribute::initWithOrigin("auto", "_sid", APMValue::initWithInt64(wholeSeconds(timestamp)), timestamp);
}

std::shared_ptr<APMUserAttribute> APMSessionReporter::sessionNumberProperty() {
  const int64_t number = m_persistedConfig->sessionNumber();
  return APMUserAttribute::initWithOrigin("auto", "_sno", APMValue::initWithInt64(number), currentClockTime());
}

void APMSessionReporter::updatePropertiesForNewSessionStart() {
  std::lock_guard lock(m_mutex);
  m_persistedConfig->setSessionNumber(m_persistedConfig->sessionNumber() + 1);
  m_persistedConfig->setLastSessionActivityClockTime(currentClockTime());
}

void APMSessionReporter::setSessionID(const std::optional<int64_t>& sessionID,
                                      const std::optional<int64_t>& sessionNumber) {
  if (!m_environment.setInternalUserProperty) return;
  auto number = [](const std::optional<int64_t>& value) -> std::optional<Value> {
    return value ? std::optional<Value>(Value(static_cast<long long>(*value))) : std::nullopt;
  };
  m_environment.setInternalUserProperty("_sid", number(sessionID), "auto");
  m_environment.setInternalUserProperty("_sno", number(sessionNumber), "auto");
}

void APMSessionReporter::logSessionStartEvent() {
  if (!isAppActive()) {
    monitor().logWithLevel(7, 33005, "Session start event not logged. Application is not active");
    return;
  }
  if (!isReportingEnabled()) return;
  updatePropertiesForNewSessionStart();
  const int64_t sessionID = wholeSeconds(currentClockTime());
  const int64_t sessionNumber = m_persistedConfig->sessionNumber();
  setSessionID(sessionID, sessionNumber);
  m_environment.logInternalEvent("auto", "_s",
                                 Dictionary{{"_sid", APMValue::objectWithInt64(sessionID)},
                                            {"_sno", APMValue::objectWithInt64(sessionNumber)}});
}

double APMSessionReporter::incurredEngagementTime() {
  const bool efficient = efficientEngagementReportingEnabled();
  const double now = currentUptime();
  double start = 0;
  {
    std::lock_guard lock(m_mutex);
    start = efficient ? m_freerideEngagementStartUptime : m_engagementStartUptime;
  }
  const double incurred = now - start;
  if (incurred < 0 || std::isnan(incurred)) {
    monitor().logWithLevel(4, 33004, "Incurred engagement time is negative. Setting to 0.0 instead");
    return 0;
  }
  return incurred;
}

int64_t APMSessionReporter::logUserEngagementEvent() {
  return logEngagementEventAndReturnTimeWithScreen(std::nullopt, false);
}

int64_t APMSessionReporter::logEngagementEventAndReturnTimeWithScreen(const std::optional<APMScreen>& screen,
                                                                      bool isRedundant) {
  if (!isAppActive()) {
    monitor().logWithLevel(7, 33006, "User engagement event not logged. Application is not active");
    return 0;
  }
  const bool efficient = efficientEngagementReportingEnabled();
  int64_t milliseconds = 0;
  if (isReportingEnabled()) {
    const double seconds = std::min(incurredEngagementTime(), kMaxEngagementSeconds);
    milliseconds = static_cast<int64_t>(seconds * 1000);
    Dictionary parameters;
    if (screen) parameters = APMScreenParametersFromScreen(*screen);
    parameters.set("_et", APMValue::objectWithInt64(milliseconds));
    if (isRedundant && efficient) parameters.set("_fr", APMValue::objectWithInt64(1));
    m_environment.logInternalEvent("auto", "_e", parameters);
  }
  const double now = currentUptime();
  {
    std::lock_guard lock(m_mutex);
    m_engagementStartUptime = now;
    if (!isRedundant && efficient) m_freerideEngagementStartUptime = now;
    m_persistedConfig->setLastSessionActivityClockTime(currentClockTime());
  }
  rescheduleUserEngagementTimer();
  return milliseconds;
}

void APMSessionReporter::rescheduleUserEngagementTimer() {
  std::weak_ptr<APMSessionReporter> weak = weak_from_this();
  m_userEngagementTimer->runAfterDelay(settings()->sessionEventUserEngagementInterval(), [weak] {
    platform::NotificationCenter::defaultCenter().post(kEngagementTimerDidFireNotification);
    if (std::shared_ptr<APMSessionReporter> reporter = weak.lock()) reporter->logUserEngagementEvent();
  });
}

void APMSessionReporter::handleAppDidBecomeActive() {
  const double now = currentUptime();
  {
    std::lock_guard lock(m_mutex);
    m_engagementStartUptime = now;
    m_freerideEngagementStartUptime = now;
  }
  rescheduleUserEngagementTimer();
  if (isAppActive() && shouldStartNewSession() && isReportingEnabled()) {
    setSessionID(std::nullopt, std::nullopt);
    logSessionStartEvent();
  }
}

void APMSessionReporter::handleAppWillResignActiveWithScreen(const std::optional<APMScreen>& screen) {
  logEngagementEventAndReturnTimeWithScreen(screen, false);
  m_userEngagementTimer->cancel();
}

void APMSessionReporter::handleScreenDidChangeFromScreen(const std::optional<APMScreen>& fromScreen,
                                                         const std::optional<APMScreen>&) {
  if (!fromScreen || incurredEngagementTime() < 1) return;
  if (efficientEngagementReportingEnabled()) {
    if (!settings()->redundantEngagementRemovalEnabled()) logEngagementEventAndReturnTimeWithScreen(fromScreen, true);
  } else {
    logEngagementEventAndReturnTimeWithScreen(fromScreen, false);
  }
}

int64_t APMSessionReporter::cutFreerideEngagementTimeMillis() {
  if (!efficientEngagementReportingEnabled()) return 0;
  const double seconds = incurredEngagementTime();
  std::lock_guard lock(m_mutex);
  m_freerideEngagementStartUptime = currentUptime();
  return static_cast<int64_t>(seconds * 1000);
}
