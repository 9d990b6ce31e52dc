// ScopedLogSink: installs a sink for its lifetime and puts the previous one
// back when destroyed (tests). Not meant to be nested across threads.
#pragma once

#include <memory>

#include "platform/log/CapturingLogSink.h"
#include "platform/log/Log.h"

namespace platform {

class ScopedLogSink {
 public:
  explicit ScopedLogSink(std::shared_ptr<LogSink> sink = std::make_shared<CapturingLogSink>())
      : m_sink(std::move(sink)), m_previous(Log::setSink(m_sink)) {}
  ~ScopedLogSink() { Log::setSink(m_previous); }
  ScopedLogSink(const ScopedLogSink&) = delete;
  ScopedLogSink& operator=(const ScopedLogSink&) = delete;

  const std::shared_ptr<LogSink>& sink() const { return m_sink; }
  // The installed sink when it is a CapturingLogSink, else nullptr.
  CapturingLogSink* capture() const { return dynamic_cast<CapturingLogSink*>(m_sink.get()); }

 private:
  std::shared_ptr<LogSink> m_sink;
  std::shared_ptr<LogSink> m_previous;
};

}  // namespace platform
