#include "sdk/remote-config/RCNRealtimeMessageBuffer.h"

namespace {

constexpr std::string_view kForbidden = "\"code\": 403";

}  // namespace

void RCNRealtimeMessageBuffer::clear() {
  std::string().swap(m_bytes);  // a huge chunk leaves no huge allocation behind
  m_start = 0;
  m_open = false;
}

void RCNRealtimeMessageBuffer::restartScan(size_t brace) {
  m_start = brace;
  m_open = true;
  m_scanned = brace;
  m_depth = 0;
  m_inString = false;
  m_escape = false;
}

RCNRealtimeMessageBuffer::Appended RCNRealtimeMessageBuffer::append(std::string_view chunk) {
  // What is held has been searched for the refusal already; only text that
  // reaches into the new bytes can hold it now.
  const size_t overlap = kForbidden.size() - 1;
  size_t searchFrom = m_bytes.size() > m_start + overlap ? m_bytes.size() - overlap : m_start;
  m_bytes.append(chunk);
  if (!m_open) {
    const size_t brace = m_bytes.find('{', m_start);
    if (brace == std::string::npos) {
      clear();
      return Appended::Buffered;
    }
    m_start = brace;
  }
  if (m_start > 0) {
    m_bytes.erase(0, m_start);
    searchFrom = searchFrom > m_start ? searchFrom - m_start : 0;
    if (m_open) m_scanned -= m_start;
    m_start = 0;
  }
  if (m_bytes.size() > m_limit) {
    clear();
    return Appended::Overflow;
  }
  if (m_bytes.find(kForbidden, searchFrom) != std::string::npos) {
    m_forbidden = std::move(m_bytes);
    clear();
    return Appended::Forbidden;
  }
  return Appended::Buffered;
}

std::optional<std::string> RCNRealtimeMessageBuffer::nextMessage() {
  if (!m_open) {
    const size_t brace = m_bytes.find('{', m_start);
    if (brace == std::string::npos) {
      clear();  // nothing but text between messages
      return std::nullopt;
    }
    restartScan(brace);
  }
  for (; m_scanned < m_bytes.size(); ++m_scanned) {
    const char c = m_bytes[m_scanned];
    if (m_inString) {
      if (m_escape) {
        m_escape = false;
      } else if (c == '\\') {
        m_escape = true;
      } else if (c == '"') {
        m_inString = false;
      }
      continue;
    }
    if (c == '"') {
      m_inString = true;
    } else if (c == '{') {
      ++m_depth;
    } else if (c == '}' && --m_depth == 0) {
      std::string message = m_bytes.substr(m_start, m_scanned - m_start + 1);
      m_start = m_scanned + 1;
      m_open = false;
      return message;
    }
  }
  // The unfinished object waits for more (append() moves it to the front).
  return std::nullopt;
}
