// Test helper: collects what the dispatch layer reports through
// reportInternalProblem while alive.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/log/InternalProblem.h"

namespace platform::testing_support {

class ProblemCapture {
 public:
  ProblemCapture() {
    m_previous = setInternalProblemHandler([this](std::string_view component, std::string_view text) {
      std::lock_guard lock(m_mutex);
      m_lines.push_back(std::string(component) + ": " + std::string(text));
    });
  }
  ~ProblemCapture() { setInternalProblemHandler(m_previous); }

  std::vector<std::string> lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
  }
  std::string joined() const {
    std::string all;
    for (const auto& line : lines()) all += line + "\n";
    return all;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_lines;
  InternalProblemHandler m_previous;
};

}  // namespace platform::testing_support
