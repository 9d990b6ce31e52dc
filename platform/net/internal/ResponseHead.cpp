#include "platform/net/internal/ResponseHead.h"

namespace platform::net_internal {

namespace {

// The three-digit code of a status line, 0 when it has none.
int statusCode(std::string_view line) {
  const size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return 0;
  std::string_view code = line.substr(space + 1, 3);
  int value = 0;
  for (char c : code) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

ResponseHead::Step ResponseHead::addLine(std::string_view line) {
  if (m_refused) return Step::Refused;
  if (m_complete) return Step::Complete;
  m_bytes += line.size();
  if (m_bytes > kMaximumBytes) {
    m_refused = true;
    return Step::Refused;
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (line.substr(0, 5) == "HTTP/") {
    m_headers.clear();
    m_status = statusCode(line);
    return Step::More;
  }
  if (line.empty()) {
    if (m_status >= 100 && m_status < 200) return Step::More;  // interim answer; the real one follows
    m_complete = true;
    return Step::Complete;
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return Step::More;
  m_headers.add(line.substr(0, colon), trimmed(line.substr(colon + 1)));
  return Step::More;
}

bool ResponseHead::isRedirect() const {
  const bool redirectStatus = m_status == 300 || m_status == 301 || m_status == 302 || m_status == 303 ||
                              m_status == 307 || m_status == 308;
  return m_complete && redirectStatus && m_headers.contains("Location");
}

}  // namespace platform::net_internal
