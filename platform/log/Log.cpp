#include "platform/log/Log.h"

#include <mutex>

#include "platform/log/StderrLogSink.h"

namespace platform {

namespace {

// Process-wide objects here are never destroyed: work still running while the
// process exits (queued blocks, destructors of other statics) may use them.

std::mutex& sinkMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

std::shared_ptr<LogSink>& sinkSlot() {
  static auto* const slot = new std::shared_ptr<LogSink>();
  return *slot;
}

std::shared_ptr<LogSink> defaultSink() {
  static const auto* const sink = new std::shared_ptr<LogSink>(std::make_shared<StderrLogSink>());
  return *sink;
}

}  // namespace

std::string_view logTypeName(LogType type) {
  switch (type) {
    case LogType::Default: return "default";
    case LogType::Info: return "info";
    case LogType::Debug: return "debug";
    case LogType::Error: return "error";
    case LogType::Fault: return "fault";
  }
  return "default";
}

bool LogSink::enabled(LogType) const { return true; }

Log::Log(std::string subsystem, std::string category)
    : m_subsystem(std::move(subsystem)), m_category(std::move(category)) {}

Log Log::handle(std::string subsystem, std::string category) {
  return Log(std::move(subsystem), std::move(category));
}

bool Log::enabled(LogType type) const { return sink()->enabled(type); }

void Log::write(LogType type, std::string_view text) const {
  std::shared_ptr<LogSink> target = sink();
  if (!target->enabled(type)) return;
  target->write(LogRecord{m_subsystem, m_category, type, std::string(text)});
}

std::shared_ptr<LogSink> Log::setSink(std::shared_ptr<LogSink> sink) {
  std::lock_guard lock(sinkMutex());
  std::shared_ptr<LogSink> previous = sinkSlot() ? sinkSlot() : defaultSink();
  sinkSlot() = std::move(sink);
  return previous;
}

std::shared_ptr<LogSink> Log::sink() {
  std::lock_guard lock(sinkMutex());
  return sinkSlot() ? sinkSlot() : defaultSink();
}

}  // namespace platform
