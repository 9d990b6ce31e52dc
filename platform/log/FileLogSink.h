// FileLogSink: appends each record's text plus a newline to a file, one
// write(2) per line on a descriptor opened with O_APPEND, so several
// processes can share the file. Thread-safe.
#pragma once

#include <memory>
#include <string>

#include "platform/log/LogSink.h"

namespace platform {

class FileLogSink : public LogSink {
 public:
  // nullptr when the file cannot be opened or created (errorText, when given,
  // receives the reason).
  static std::shared_ptr<FileLogSink> open(const std::string& path, std::string* errorText = nullptr);
  ~FileLogSink() override;
  FileLogSink(const FileLogSink&) = delete;
  FileLogSink& operator=(const FileLogSink&) = delete;

  void write(const LogRecord& record) override;
  const std::string& path() const { return m_path; }

 private:
  FileLogSink(std::string path, int fd) : m_path(std::move(path)), m_fd(fd) {}
  std::string m_path;
  int m_fd;
};

}  // namespace platform
