// SyslogLogSink: records go to syslog(3), the text passed as a "%s" argument
// (never as a format). Types map to priorities: fault -> LOG_CRIT, error ->
// LOG_ERR, default -> LOG_NOTICE, info -> LOG_INFO, debug -> LOG_DEBUG.
// With a non-empty ident the constructor calls openlog(ident, LOG_PID,
// LOG_USER) (process-wide, as syslog is). Thread-safe.
#pragma once

#include <string>

#include "platform/log/LogSink.h"

namespace platform {

class SyslogLogSink : public LogSink {
 public:
  explicit SyslogLogSink(std::string ident = {});
  ~SyslogLogSink() override;
  void write(const LogRecord& record) override;

  static int priority(LogType type);

 private:
  std::string m_ident;  // openlog keeps the pointer, so the text lives here
};

}  // namespace platform
