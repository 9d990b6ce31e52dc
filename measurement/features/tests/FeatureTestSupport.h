// Helpers for tests of the measurement features: a record of the internal
// events the features log through the services seam, and of every monitor
// report (code and level) made while the record lives. Both put the seam and
// the monitor back at their end.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "platform/values/Value.h"

namespace measurementtest {

struct LoggedEvent {
  std::string origin;
  std::string name;
  platform::Dictionary parameters;
};

class InternalEventRecord {
 public:
  InternalEventRecord() {
    APMEngineServices::setInternalEventLogger(
        [this](const std::string& origin, const std::string& name, const platform::Dictionary& parameters) {
          std::lock_guard lock(m_mutex);
          m_events.push_back({origin, name, parameters});
        });
  }
  ~InternalEventRecord() { APMEngineServices::setInternalEventLogger(nullptr); }
  InternalEventRecord(const InternalEventRecord&) = delete;
  InternalEventRecord& operator=(const InternalEventRecord&) = delete;

  std::vector<LoggedEvent> events() const {
    std::lock_guard lock(m_mutex);
    return m_events;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> names;
    for (const LoggedEvent& event : events()) names.push_back(event.name);
    return names;
  }
  void clear() {
    std::lock_guard lock(m_mutex);
    m_events.clear();
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<LoggedEvent> m_events;
};

class MonitorReportRecord {
 public:
  struct Report {
    int64_t level = 0;
    int64_t code = 0;
    std::string message;
  };

  MonitorReportRecord() {
    APMEngineServices::monitor()->setReportObserver([this](int64_t level, int64_t code, const std::string& message) {
      std::lock_guard lock(m_mutex);
      m_reports.push_back({level, code, message});
    });
  }
  ~MonitorReportRecord() { APMEngineServices::monitor()->setReportObserver(nullptr); }
  MonitorReportRecord(const MonitorReportRecord&) = delete;
  MonitorReportRecord& operator=(const MonitorReportRecord&) = delete;

  std::vector<Report> reports() const {
    std::lock_guard lock(m_mutex);
    return m_reports;
  }
  // The codes reported so far, in order.
  std::vector<int64_t> codes() const {
    std::vector<int64_t> codes;
    for (const Report& report : reports()) codes.push_back(report.code);
    return codes;
  }
  // The codes within [first, last], in order.
  std::vector<int64_t> codes(int64_t first, int64_t last) const {
    std::vector<int64_t> found;
    for (int64_t code : codes()) {
      if (code >= first && code <= last) found.push_back(code);
    }
    return found;
  }
  bool reported(int64_t code) const {
    for (int64_t seen : codes()) {
      if (seen == code) return true;
    }
    return false;
  }
  void clear() {
    std::lock_guard lock(m_mutex);
    m_reports.clear();
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<Report> m_reports;
};

}  // namespace measurementtest
