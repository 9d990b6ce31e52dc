// APMAdExposureReporter: how long ad units are shown. Callers mark the
// beginning and end of an ad unit's exposure by identifier; the reporter times
// each unit and the span during which at least one unit was shown, and logs
// the exposures as internal events with origin "am": "_xu" per unit (with
// "_ai") and "_xa" for the span, each with "_xt" (whole milliseconds) and the
// screen's parameters. An exposure is logged only when it lasted at least
// kMinExposureMilliseconds; at most kMaxAdUnits distinct units are tracked.
//
// Exposures are logged when a unit's last open begin is ended, and for every
// running unit when the screen changes, the engagement timer fires
// ("kAPMSessionReporterEngagementTimerDidFire") or the application resigns
// active; timing then starts again from there. Becoming active restarts the
// running timers. Nothing is logged while reporting is off or the application
// is not active, but begin and end still keep the tables.
//
// Times are seconds since boot (platform::Clock::current()->sinceBoot(), so a
// virtual clock drives them), taken on the caller's thread before the queue is
// entered. Where the application's activity and current screen come from is
// the reporter's ScreenFacts; the shared instance asks the shared screen-view
// reporter, which also drives its screen and activity hooks.
//
// Concurrency: the unit tables and the span start live on the serial queue
// "APMAdExposureReporter". Begin enters it asynchronously (holding the
// reporter weakly); end, logging and the activity hooks synchronously, so an
// end call returns after its events were handed on. The reporting switch is
// an atomic, read and written from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/values/Value.h"

class APMAdExposureReporter : public std::enable_shared_from_this<APMAdExposureReporter> {
 public:
  static constexpr const char* kQueueLabel = "APMAdExposureReporter";
  static constexpr const char* kEngagementTimerNotification = "kAPMSessionReporterEngagementTimerDidFire";
  static constexpr size_t kMaxAdUnits = 100;
  static constexpr int64_t kMinExposureMilliseconds = 1000;

  struct ScreenFacts {
    std::function<bool()> isAppActive;
    // The current screen's parameters ("_sn", "_sc", "_si").
    std::function<platform::Dictionary()> screenParameters;
  };

  static std::shared_ptr<APMAdExposureReporter> sharedInstance();
  // Observes the engagement timer until it is destroyed.
  static std::shared_ptr<APMAdExposureReporter> initWithScreenFacts(ScreenFacts facts);
  ~APMAdExposureReporter();
  APMAdExposureReporter(const APMAdExposureReporter&) = delete;
  APMAdExposureReporter& operator=(const APMAdExposureReporter&) = delete;

  void beginAdUnitExposure(const std::string& adUnitID);
  void endAdUnitExposure(const std::string& adUnitID);
  void logExposureEventsWithScreenParameters(const platform::Dictionary& screenParameters);

  // The screen-view reporter's hooks: the screens' parameters, none without a
  // screen.
  void handleScreenDidChangeFromScreen(const std::optional<platform::Dictionary>& fromScreenParameters,
                                       const std::optional<platform::Dictionary>& toScreenParameters);
  void handleEngagementTimer(const platform::Notification& notification);
  void handleAppDidBecomeActive();
  void handleAppWillResignActiveWithScreen(const std::optional<platform::Dictionary>& screenParameters);

  bool isReportingEnabled() const { return m_reportingEnabled.load(); }
  void setReportingEnabled(bool enabled) { m_reportingEnabled.store(enabled); }

  // Seconds since boot, -1 when unknown.
  static double currentTime();
  // Units tracked now (waits for the queue).
  size_t trackedAdUnitCount() const;

 private:
  explicit APMAdExposureReporter(ScreenFacts facts);
  void logExposureEventsOnSerialQueueWithEndTime(double endTime, const platform::Dictionary& screenParameters);
  void logAdUnitExposureEventOnSerialQueueWithID(const std::string& adUnitID, double endTime,
                                                 const platform::Dictionary& screenParameters);
  void logAdExposureEventOnSerialQueueWithEndTime(double endTime, const platform::Dictionary& screenParameters);
  void updateStartTimesOnSerialQueue(double time);
  bool isAppActive() const;

  const ScreenFacts m_facts;
  const platform::SerialQueue m_queue;
  std::atomic<bool> m_reportingEnabled{true};
  platform::ObserverToken m_engagementTimerToken;
  // Queue only.
  std::map<std::string, int64_t> m_adUnitCounts;
  std::map<std::string, double> m_adUnitStartTimes;
  double m_adExposureStartTime = 0;
};
