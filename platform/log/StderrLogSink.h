// StderrLogSink: the default sink; each record's text plus a newline goes to
// standard error in one write(2), so lines from several threads never mix.
// Thread-safe.
#pragma once

#include "platform/log/LogSink.h"

namespace platform {

class StderrLogSink : public LogSink {
 public:
  // With includeDebug false, debug lines are reported as not enabled.
  explicit StderrLogSink(bool includeDebug = true) : m_includeDebug(includeDebug) {}
  bool enabled(LogType type) const override;
  void write(const LogRecord& record) override;

 private:
  bool m_includeDebug;
};

}  // namespace platform
