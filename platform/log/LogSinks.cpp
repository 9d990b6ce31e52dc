// The stock sinks: standard error, syslog, file, capture.
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>

#include "platform/log/CapturingLogSink.h"
#include "platform/log/FileLogSink.h"
#include "platform/log/StderrLogSink.h"
#include "platform/log/SyslogLogSink.h"
#include "platform/log/internal/EscapeControls.h"
#include "platform/log/internal/WriteAll.h"

namespace platform {

namespace {
// The written line: control characters escaped, then the line break.
std::string withNewline(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  internal::appendEscapingControls(line, text);
  line.push_back('\n');
  return line;
}
}  // namespace

bool StderrLogSink::enabled(LogType type) const { return m_includeDebug || type != LogType::Debug; }

void StderrLogSink::write(const LogRecord& record) {
  internal::writeAll(STDERR_FILENO, withNewline(record.text));
}

SyslogLogSink::SyslogLogSink(std::string ident) : m_ident(std::move(ident)) {
  if (!m_ident.empty()) ::openlog(m_ident.c_str(), LOG_PID, LOG_USER);
}

SyslogLogSink::~SyslogLogSink() {
  if (!m_ident.empty()) ::closelog();
}

int SyslogLogSink::priority(LogType type) {
  switch (type) {
    case LogType::Fault: return LOG_CRIT;
    case LogType::Error: return LOG_ERR;
    case LogType::Default: return LOG_NOTICE;
    case LogType::Info: return LOG_INFO;
    case LogType::Debug: return LOG_DEBUG;
  }
  return LOG_NOTICE;
}

void SyslogLogSink::write(const LogRecord& record) {
  std::string text;
  internal::appendEscapingControls(text, record.text);
  ::syslog(priority(record.type), "%s", text.c_str());
}

std::shared_ptr<FileLogSink> FileLogSink::open(const std::string& path, std::string* errorText) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errorText) *errorText = path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::shared_ptr<FileLogSink>(new FileLogSink(path, fd));
}

FileLogSink::~FileLogSink() { ::close(m_fd); }

void FileLogSink::write(const LogRecord& record) { internal::writeAll(m_fd, withNewline(record.text)); }

void CapturingLogSink::write(const LogRecord& record) {
  std::lock_guard lock(m_mutex);
  m_records.push_back(record);
}

std::vector<LogRecord> CapturingLogSink::records() const {
  std::lock_guard lock(m_mutex);
  return m_records;
}

std::vector<std::string> CapturingLogSink::texts() const {
  std::lock_guard lock(m_mutex);
  std::vector<std::string> texts;
  texts.reserve(m_records.size());
  for (const LogRecord& record : m_records) texts.push_back(record.text);
  return texts;
}

bool CapturingLogSink::contains(std::string_view fragment) const {
  std::lock_guard lock(m_mutex);
  for (const LogRecord& record : m_records) {
    if (record.text.find(fragment) != std::string::npos) return true;
  }
  return false;
}

size_t CapturingLogSink::count() const {
  std::lock_guard lock(m_mutex);
  return m_records.size();
}

void CapturingLogSink::clear() {
  std::lock_guard lock(m_mutex);
  m_records.clear();
}

}  // namespace platform
