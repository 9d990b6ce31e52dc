// APMAlarm: a one-shot timer on a given queue, named for its log lines. The
// engine's upload timer is one ("Measurement timer"); experiment tasks,
// on-device conversion and search-ads retries use others.
//
//   runAfterDelay(delay, block)  cancels what was pending, then runs the block
//                                on the queue `delay` seconds from now (time of
//                                platform::Clock::current(): a virtual clock in
//                                tests). Lines: 2002 "<name> scheduled to fire
//                                in approx. (s)"; at the fire 2001 "<name>
//                                fired", then the alarm cancels itself (2003)
//                                before the block runs. An empty block logs
//                                2000 and schedules nothing.
//   cancel()                     nothing without a pending run; else 2003
//                                "<name> canceled" and the timer is stopped.
//   scheduledTimestamp()         wall time of the pending run, none when idle.
//
// A pending alarm holds its block, not itself: destroying the alarm cancels
// the run.
//
// Thread safety: every member may be called from any thread (the owners
// schedule and cancel from their own queue); the block runs on the queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Timer.h"

class APMAlarm : public std::enable_shared_from_this<APMAlarm> {
 public:
  // An empty name reads "Timer".
  static std::shared_ptr<APMAlarm> initWithDispatchQueue(platform::DispatchQueue queue, const std::string& name);
  ~APMAlarm();
  APMAlarm(const APMAlarm&) = delete;
  APMAlarm& operator=(const APMAlarm&) = delete;

  void runAfterDelay(double delay, std::function<void()> block);
  void cancel();
  bool hasActiveTimer() const;
  std::optional<double> scheduledTimestamp() const;
  const std::string& name() const { return m_name; }

 private:
  APMAlarm(platform::DispatchQueue queue, std::string name);
  void fire(const std::function<void()>& block);

  const platform::DispatchQueue m_queue;
  const std::string m_name;
  mutable std::mutex m_mutex;  // guards the two below
  std::unique_ptr<platform::Timer> m_timer;
  std::optional<double> m_scheduledTimestamp;
};
