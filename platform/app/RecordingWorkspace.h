// RecordingWorkspace: a workspace fake that records every request and
// answers a settable result (tests). Thread-safe.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/app/Workspace.h"

namespace platform {

class RecordingWorkspace : public Workspace {
 public:
  explicit RecordingWorkspace(bool result = true) : m_result(result) {}

  bool open(const std::string& url) override {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_opened.push_back(url);
    return m_result;
  }
  bool selectFile(const std::string& path) override {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_selected.push_back(path);
    return m_result;
  }

  void setResult(bool result) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_result = result;
  }
  std::vector<std::string> openedURLs() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_opened;
  }
  std::vector<std::string> selectedFiles() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_selected;
  }

 private:
  mutable std::mutex m_mutex;
  bool m_result;
  std::vector<std::string> m_opened;
  std::vector<std::string> m_selected;
};

}  // namespace platform
