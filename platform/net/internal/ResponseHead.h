// ResponseHead: the head of one HTTP response, read from the lines libcurl
// hands over one at a time (status line, header lines, blank line).
//
// A status line ("HTTP/<version> <three digits>[ <reason>]") starts a head
// afresh, so interim 1xx heads are dropped; the blank line after a head whose
// status is not 1xx ends it, and later lines (trailers) change nothing. A
// status line without three digits after its first blank gives status 0. Header lines
// without a colon are ignored; names and values are stored as sent, values
// without surrounding blanks. Lines are taken with or without their CR LF.
//
// Bound: a head (interim ones included) larger than kMaximumBytes is refused
// (addLine answers Refused and keeps refusing), so a server cannot grow it
// without end.
//
// Thread safety: a plain value, used by one transfer at a time.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/net/HttpHeaders.h"

namespace platform::net_internal {

class ResponseHead {
 public:
  static constexpr size_t kMaximumBytes = size_t(256) << 10;

  enum class Step { More, Complete, Refused };

  Step addLine(std::string_view line);

  bool complete() const { return m_complete; }
  int status() const { return m_status; }
  const HttpHeaders& headers() const { return m_headers; }
  // A complete 300, 301, 302, 303, 307 or 308 head with a Location.
  bool isRedirect() const;

 private:
  int m_status = 0;
  HttpHeaders m_headers;
  bool m_complete = false;
  bool m_refused = false;
  size_t m_bytes = 0;
};

}  // namespace platform::net_internal
