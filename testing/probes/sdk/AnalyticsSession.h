// The probe's analytics session: one real measurement engine per process,
// started as the application starts it (virtual clock, did-finish-launching,
// SDK configuration), and what every analytics subcommand shares.
//
// Each analytics subcommand that waits calls settle() (or advanceTo()), which
// waits until every queue is idle and no request is in flight, then prints the
// requests that completed meanwhile:
//   => http METHOD PATH at=+S.SSS status=N
// (PATH percent-decoded without query, `at` the virtual send time relative to
// the session's start, status 0 without an answer). Subcommands of later
// areas add themselves in files of their own and use these helpers.
//
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net/HttpActivity.h"
#include "platform/time/Clock.h"
#include "platform/values/Value.h"

class APMMeasurement;

namespace sdkprobe {

struct AnalyticsMonitorLine {
  int64_t level = 0;
  int64_t code = 0;
  std::string message;
};

class AnalyticsSession {
 public:
  static AnalyticsSession& shared();

  // The virtual clock at `epoch`, the taps on requests and monitor lines,
  // did-finish-launching, the SDK configured; false (after an error line)
  // when the session was started before or the start did not settle.
  bool start(double epoch);
  // What did-finish-launching carries at the start (before start only).
  void setLaunchOptions(platform::Dictionary options) { m_launchOptions = std::move(options); }
  bool isStarted() const { return m_started; }
  // "=> error: no analytics session (use analytics-start EPOCH first)" and
  // status 2 when not started, else 0.
  int requireStarted() const;

  // Waits for a quiet process and prints the requests that ended; false
  // (after an error line) when it stayed busy.
  bool settle();
  // Moves virtual time from one timer deadline to the next up to `seconds`
  // from now, settling before each step.
  bool advance(double seconds);

  // "+S.SSS": seconds of virtual time since the start, three decimals.
  std::string relative(double wallTime) const;
  std::string now() const;
  const std::shared_ptr<platform::VirtualClock>& clock() const { return m_clock; }

  std::shared_ptr<APMMeasurement> engine() const;
  // Runs the work on the engine's worker queue and waits; false without engine.
  bool onWorkerQueue(const std::function<void(APMMeasurement&)>& work) const;

  // The monitor lines of a code written since the start, in order.
  std::vector<AnalyticsMonitorLine> monitorLines(int64_t code);

  // The plain form of a parameter value (APMValues unwrapped, arrays of
  // parameter dictionaries recursively), and a parameter dictionary as
  // compact JSON with sorted keys.
  static platform::Value plainValue(const platform::Value& value);
  static std::string parameterText(const platform::Dictionary& parameters);

 private:
  void printFinishedRequests();

  bool m_started = false;
  double m_epoch = 0;
  platform::Dictionary m_launchOptions;
  std::shared_ptr<platform::VirtualClock> m_clock;
  std::mutex m_mutex;  // guards the two lists below
  std::vector<platform::HttpActivityRecord> m_finished;
  std::vector<AnalyticsMonitorLine> m_lines;
};

}  // namespace sdkprobe
