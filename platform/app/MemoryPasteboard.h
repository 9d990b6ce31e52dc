// MemoryPasteboard: a pasteboard that holds its text in memory (tests, and
// the default until the app installs its own). Thread-safe.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "platform/app/Pasteboard.h"

namespace platform {

class MemoryPasteboard : public Pasteboard {
 public:
  std::optional<std::string> string() const override {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_text;
  }
  void setString(std::optional<std::string> text) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_text = std::move(text);
  }

 private:
  mutable std::mutex m_mutex;
  std::optional<std::string> m_text;
};

}  // namespace platform
