// Log: a handle on the process-wide system log for one subsystem and category.
//
//   Log log = Log::handle("com.zoruvu.ririvudu", "[RirivuduCore]");
//   if (log.enabled(LogType::Debug)) log.write(LogType::Debug, line);
//
// write() hands the line, unchanged, to the current sink on the calling
// thread. The sink is process-wide and replaceable at any time (setSink);
// nullptr restores the default, one line per write on standard error.
// Handles are cheap values and may be copied and used from any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/log/LogSink.h"

namespace platform {

class Log {
 public:
  Log(std::string subsystem, std::string category);
  static Log handle(std::string subsystem, std::string category);

  const std::string& subsystem() const { return m_subsystem; }
  const std::string& category() const { return m_category; }

  bool enabled(LogType type) const;
  void write(LogType type, std::string_view text) const;

  // The sink every handle writes to. Returns the previous sink.
  static std::shared_ptr<LogSink> setSink(std::shared_ptr<LogSink> sink);
  static std::shared_ptr<LogSink> sink();

 private:
  std::string m_subsystem;
  std::string m_category;
};

}  // namespace platform
