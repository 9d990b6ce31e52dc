#include "measurement/engine/APMAdExposureReporter.h"

#include <cmath>

#include "measurement/base/APMEngineServices.h"
#include "measurement/features/APMScreenViewReporter.h"
#include "platform/time/Clock.h"

using platform::Dictionary;
using platform::Value;

namespace {

APMMonitor& monitor() { return *APMEngineServices::monitor(); }

// Whole milliseconds between two times, truncated.
int64_t millisecondsBetween(double start, double end) {
  const double milliseconds = (end - start) * 1000;
  return std::isfinite(milliseconds) ? static_cast<int64_t>(milliseconds) : 0;
}

Dictionary withParameters(const Dictionary& screenParameters, std::initializer_list<std::pair<const char*, Value>> more) {
  Dictionary parameters;
  for (const auto& [name, value] : screenParameters) parameters.set(name, value);
  for (const auto& [name, value] : more) parameters.set(name, value);
  return parameters;
}

}  // namespace

std::shared_ptr<APMAdExposureReporter> APMAdExposureReporter::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<APMAdExposureReporter>(
      initWithScreenFacts({[] { return APMScreenViewReporter::sharedInstance()->isAppActive(); },
                           [] { return APMScreenViewReporter::sharedInstance()->screenParameters(); }}));
  return *shared;
}

std::shared_ptr<APMAdExposureReporter> APMAdExposureReporter::initWithScreenFacts(ScreenFacts facts) {
  std::shared_ptr<APMAdExposureReporter> reporter(new APMAdExposureReporter(std::move(facts)));
  std::weak_ptr<APMAdExposureReporter> weak = reporter;
  reporter->m_engagementTimerToken = platform::NotificationCenter::defaultCenter().addObserver(
      kEngagementTimerNotification, {}, [weak](const platform::Notification& notification) {
        if (std::shared_ptr<APMAdExposureReporter> strong = weak.lock()) strong->handleEngagementTimer(notification);
      });
  return reporter;
}

APMAdExposureReporter::APMAdExposureReporter(ScreenFacts facts)
    : m_facts(std::move(facts)), m_queue(kQueueLabel), m_adExposureStartTime(currentTime()) {}

APMAdExposureReporter::~APMAdExposureReporter() {
  platform::NotificationCenter::defaultCenter().removeObserver(m_engagementTimerToken);
}

double APMAdExposureReporter::currentTime() { return platform::Clock::current()->sinceBoot(); }

bool APMAdExposureReporter::isAppActive() const { return m_facts.isAppActive && m_facts.isAppActive(); }

size_t APMAdExposureReporter::trackedAdUnitCount() const {
  return m_queue.sync([this] { return m_adUnitCounts.size(); });
}

void APMAdExposureReporter::beginAdUnitExposure(const std::string& adUnitID) {
  if (adUnitID.empty()) {
    monitor().logWithLevel(5, 1000, "Ignoring call to begin ad unit exposure. Received empty ad unit ID");
    return;
  }
  const double now = currentTime();
  std::weak_ptr<APMAdExposureReporter> weak = weak_from_this();
  m_queue.async([weak, adUnitID, now] {
    std::shared_ptr<APMAdExposureReporter> reporter = weak.lock();
    if (!reporter) return;
    if (reporter->m_adUnitCounts.size() >= kMaxAdUnits) {
      monitor().logWithLevel(5, 1002, "Reached limit on ad units. Ignoring ad unit with ID", Value(adUnitID));
      return;
    }
    if (reporter->m_adUnitCounts.empty()) reporter->m_adExposureStartTime = now;
    reporter->m_adUnitStartTimes.try_emplace(adUnitID, now);
    reporter->m_adUnitCounts[adUnitID] += 1;
  });
}

void APMAdExposureReporter::endAdUnitExposure(const std::string& adUnitID) {
  if (adUnitID.empty()) {
    monitor().logWithLevel(5, 1003, "Ignoring call to end ad unit exposure. Received empty ad unit ID");
    return;
  }
  const double now = currentTime();
  const Dictionary screenParameters = m_facts.screenParameters ? m_facts.screenParameters() : Dictionary();
  m_queue.sync([&] {
    auto count = m_adUnitCounts.find(adUnitID);
    if (count == m_adUnitCounts.end()) {
      monitor().logWithLevel(5, 1004, "Unknown ad unit. Ignoring ad unit with ID", Value(adUnitID));
      return;
    }
    if (count->second >= 2) {
      count->second -= 1;
      return;
    }
    logAdUnitExposureEventOnSerialQueueWithID(adUnitID, now, screenParameters);
    m_adUnitCounts.erase(count);
    m_adUnitStartTimes.erase(adUnitID);
    if (m_adUnitCounts.empty()) {
      logAdExposureEventOnSerialQueueWithEndTime(now, screenParameters);
      m_adExposureStartTime = now;
    }
  });
}

void APMAdExposureReporter::logExposureEventsWithScreenParameters(const Dictionary& screenParameters) {
  const double now = currentTime();
  m_queue.sync([&] { logExposureEventsOnSerialQueueWithEndTime(now, screenParameters); });
}

void APMAdExposureReporter::logExposureEventsOnSerialQueueWithEndTime(double endTime,
                                                                      const Dictionary& screenParameters) {
  for (const auto& [adUnitID, count] : m_adUnitCounts) {
    logAdUnitExposureEventOnSerialQueueWithID(adUnitID, endTime, screenParameters);
  }
  if (!m_adUnitCounts.empty()) logAdExposureEventOnSerialQueueWithEndTime(endTime, screenParameters);
  updateStartTimesOnSerialQueue(endTime);
}

void APMAdExposureReporter::logAdUnitExposureEventOnSerialQueueWithID(const std::string& adUnitID, double endTime,
                                                                      const Dictionary& screenParameters) {
  if (!isReportingEnabled()) {
    monitor().logWithLevel(5, 1007, "Ad unit exposure not logged. Reporting is disabled.");
    return;
  }
  if (adUnitID.empty()) {
    monitor().logWithLevel(5, 1008, "Ad unit exposure not logged. Received empty ad unit ID");
    return;
  }
  if (!isAppActive()) {
    monitor().logWithLevel(8, 1011, "Ad unit exposure not logged. App is not active.");
    return;
  }
  const auto start = m_adUnitStartTimes.find(adUnitID);
  const int64_t milliseconds =
      millisecondsBetween(start == m_adUnitStartTimes.end() ? endTime : start->second, endTime);
  if (milliseconds < kMinExposureMilliseconds) {
    monitor().logWithLevel(8, 1009, "Ad unit exposure not logged. Exposure time was less than 1 sec");
    return;
  }
  APMEngineServices::logInternalEvent(
      "am", "_xu",
      withParameters(screenParameters, {{"_ai", Value(adUnitID)}, {"_xt", Value(static_cast<long long>(milliseconds))}}));
}

void APMAdExposureReporter::logAdExposureEventOnSerialQueueWithEndTime(double endTime,
                                                                       const Dictionary& screenParameters) {
  if (!isReportingEnabled()) {
    monitor().logWithLevel(5, 1005, "Ad exposure not logged. Reporting is disabled.");
    return;
  }
  if (!isAppActive()) {
    monitor().logWithLevel(8, 1010, "Ad exposure not logged. App is not active.");
    return;
  }
  const int64_t milliseconds = millisecondsBetween(m_adExposureStartTime, endTime);
  if (milliseconds < kMinExposureMilliseconds) {
    monitor().logWithLevel(8, 1006, "Ad exposure not logged. Exposure time was less than 1 sec");
    return;
  }
  APMEngineServices::logInternalEvent("am", "_xa",
                                      withParameters(screenParameters, {{"_xt", Value(static_cast<long long>(milliseconds))}}));
}

void APMAdExposureReporter::updateStartTimesOnSerialQueue(double time) {
  if (m_adUnitCounts.empty()) return;
  for (auto& [adUnitID, start] : m_adUnitStartTimes) start = time;
  m_adExposureStartTime = time;
}

void APMAdExposureReporter::handleScreenDidChangeFromScreen(const std::optional<Dictionary>& fromScreenParameters,
                                                            const std::optional<Dictionary>&) {
  if (fromScreenParameters) logExposureEventsWithScreenParameters(*fromScreenParameters);
}

void APMAdExposureReporter::handleEngagementTimer(const platform::Notification&) {
  logExposureEventsWithScreenParameters(m_facts.screenParameters ? m_facts.screenParameters() : Dictionary());
}

void APMAdExposureReporter::handleAppDidBecomeActive() {
  const double now = currentTime();
  m_queue.sync([&] { updateStartTimesOnSerialQueue(now); });
}

void APMAdExposureReporter::handleAppWillResignActiveWithScreen(const std::optional<Dictionary>& screenParameters) {
  Dictionary parameters = screenParameters.value_or(Dictionary());
  if (parameters.empty() && m_facts.screenParameters) parameters = m_facts.screenParameters();
  const double now = currentTime();
  m_queue.sync([&] { logExposureEventsOnSerialQueueWithEndTime(now, parameters); });
}
