// ConsoleCapture: while alive, console::line() texts are kept here instead of
// going to standard output (tests). The previous writer is restored on
// destruction. lines() is thread-safe.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log/Console.h"

namespace platform {

class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::vector<std::string> lines() const;

 private:
  struct State {
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<State> m_state;
  console::Writer m_previous;
};

}  // namespace platform
