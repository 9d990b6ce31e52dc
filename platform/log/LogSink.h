// LogSink: where system-log lines go.
//
// A sink receives one LogRecord per Log::write call, synchronously on the
// writing thread, and must be safe to call from any thread at once. The text
// of a record is the caller's line, unchanged (no prefix, no redaction).
// Sinks: StderrLogSink (the default), SyslogLogSink, FileLogSink and
// CapturingLogSink (tests). Install one with Log::setSink. The sinks that
// write lines out write control characters escaped (internal/EscapeControls.h);
// the capturing sink keeps the records as they came.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The system log's message types, in increasing severity apart from debug.
enum class LogType { Default, Info, Debug, Error, Fault };

// "default", "info", "debug", "error", "fault".
std::string_view logTypeName(LogType type);

struct LogRecord {
  std::string subsystem;
  std::string category;
  LogType type = LogType::Default;
  std::string text;

  bool operator==(const LogRecord&) const = default;
};

class LogSink {
 public:
  virtual ~LogSink() = default;
  // Whether lines of this type are kept at all; Log::enabled asks this.
  virtual bool enabled(LogType type) const;
  virtual void write(const LogRecord& record) = 0;
};

}  // namespace platform
