// CapturingLogSink: keeps every record in memory for tests. All members are
// thread-safe; records() returns a copy in arrival order.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log/LogSink.h"

namespace platform {

class CapturingLogSink : public LogSink {
 public:
  void write(const LogRecord& record) override;

  std::vector<LogRecord> records() const;
  std::vector<std::string> texts() const;
  // Whether some record's text contains the fragment.
  bool contains(std::string_view fragment) const;
  size_t count() const;
  void clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<LogRecord> m_records;
};

}  // namespace platform
