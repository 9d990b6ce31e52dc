#include "testing/probes/sdk/AnalyticsSession.h"

#include <algorithm>
#include <cstdio>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMValue.h"
#include "measurement/engine/APMMeasurement.h"
#include "platform/app/Application.h"
#include "platform/dispatch/TimerWork.h"
#include "platform/text/Url.h"
#include "sdk/core/RIRApp.h"
#include "testing/Quiescence.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

AnalyticsSession& AnalyticsSession::shared() {
  static AnalyticsSession* const session = new AnalyticsSession();
  return *session;
}

bool AnalyticsSession::start(double epoch) {
  if (m_started) {
    result("error: the analytics session was started already");
    return false;
  }
  m_started = true;
  m_epoch = epoch;
  m_clock = std::make_shared<platform::VirtualClock>(epoch);
  platform::Clock::setCurrent(m_clock);
  platform::HttpActivity::setObserver([this](const platform::HttpActivityRecord& record) {
    std::lock_guard lock(m_mutex);
    m_finished.push_back(record);
  });
  APMEngineServices::monitor()->setReportObserver([this](int64_t level, int64_t code, const std::string& message) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back({level, code, message});
  });
  platform::Application::shared()->finishLaunching(m_launchOptions);
  RIRApp::configure();
  return settle();
}

int AnalyticsSession::requireStarted() const {
  if (m_started) return 0;
  result("error: no analytics session (use analytics-start EPOCH first)");
  return 2;
}

bool AnalyticsSession::settle() {
  const bool quiet = testkit::waitForQuiescence(kProbeWaitSeconds);
  printFinishedRequests();
  if (!quiet) result("error: still busy after " + timeText(kProbeWaitSeconds) + " s");
  return quiet;
}

bool AnalyticsSession::advance(double seconds) {
  if (!settle()) return false;
  const double target = m_clock->monotonic() + seconds;
  for (;;) {
    std::optional<double> next = m_clock->nextDeadline();
    if (!next || *next > target) break;
    m_clock->advance(std::max(0.0, *next - m_clock->monotonic()));
    if (!platform::waitForTimerWork(kProbeWaitSeconds) || !settle()) return false;
  }
  m_clock->advance(std::max(0.0, target - m_clock->monotonic()));
  return platform::waitForTimerWork(kProbeWaitSeconds) && settle();
}

std::string AnalyticsSession::relative(double wallTime) const {
  char text[48];
  std::snprintf(text, sizeof text, "%+.3f", wallTime - m_epoch);
  return text;
}

std::string AnalyticsSession::now() const { return relative(platform::Clock::current()->now()); }

std::shared_ptr<APMMeasurement> AnalyticsSession::engine() const {
  return APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance() : nullptr;
}

bool AnalyticsSession::onWorkerQueue(const std::function<void(APMMeasurement&)>& work) const {
  std::shared_ptr<APMMeasurement> current = engine();
  if (!current) return false;
  current->scheduler()->dispatchSyncOnWorkerQueueBlockID("sdk-probe", [&] { work(*current); });
  return true;
}

std::vector<AnalyticsMonitorLine> AnalyticsSession::monitorLines(int64_t code) {
  APMEngineServices::monitor()->monitorQueue().sync([] {});
  std::lock_guard lock(m_mutex);
  std::vector<AnalyticsMonitorLine> found;
  for (const AnalyticsMonitorLine& line : m_lines) {
    if (line.code == code) found.push_back(line);
  }
  return found;
}

void AnalyticsSession::printFinishedRequests() {
  std::vector<platform::HttpActivityRecord> finished;
  {
    std::lock_guard lock(m_mutex);
    finished.swap(m_finished);
  }
  for (const platform::HttpActivityRecord& record : finished) {
    std::optional<platform::Url> url = platform::Url::parse(record.url);
    const std::string path = url ? url->path() : record.url;
    result("http " + record.method + " " + (path.empty() ? "/" : path) + " at=" + relative(record.startTime) +
           " status=" + std::to_string(record.statusCode));
  }
}

platform::Value AnalyticsSession::plainValue(const platform::Value& value) {
  APMValuePtr typed = APMValue::fromObject(value);
  if (!typed) {
    if (std::optional<platform::Dictionary> dictionary = value.asDictionary()) {
      platform::Dictionary plain;
      for (const auto& [key, item] : *dictionary) plain.set(key, plainValue(item));
      return platform::Value(plain);
    }
    if (std::optional<platform::Array> array = value.asArray()) {
      platform::Array plain;
      for (const platform::Value& item : *array) plain.append(plainValue(item));
      return platform::Value(plain);
    }
    return value;
  }
  if (typed->isInt64()) return platform::Value(static_cast<long long>(typed->int64Value()));
  if (typed->isDouble()) return platform::Value(typed->doubleValue());
  if (typed->isString()) return platform::Value(typed->stringValue().value_or(""));
  return plainValue(platform::Value(typed->arrayValue().value_or(platform::Array())));
}

std::string AnalyticsSession::parameterText(const platform::Dictionary& parameters) {
  return compactJson(plainValue(platform::Value(parameters)));
}

}  // namespace sdkprobe
