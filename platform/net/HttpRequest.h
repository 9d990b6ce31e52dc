// HttpRequest: what one HTTP transfer sends. Method (default "GET"), URL,
// ordered headers with case-insensitive `setValue` (replaces) and
// `addValue` (appends), a body from memory or from a file, and a timeout in
// seconds (0 = the session's request timeout). There is no cache and no
// cookie store anywhere in this layer, so no cache policy exists.
//
// A body (memory or file) is sent with the method as given; "POST" without a
// Content-Type header gets "application/x-www-form-urlencoded". A caller's
// Content-Length header is ignored: the length always comes from the body.
//
// Thread safety: a plain value type; copy it to share it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/net/HttpHeaders.h"
#include "platform/values/Value.h"

namespace platform {

class HttpRequest {
 public:
  HttpRequest() = default;
  explicit HttpRequest(std::string url, std::string method = "GET")
      : m_url(std::move(url)), m_method(std::move(method)) {}

  const std::string& url() const { return m_url; }
  void setURL(std::string url) { m_url = std::move(url); }

  const std::string& method() const { return m_method; }
  void setMethod(std::string method) { m_method = std::move(method); }

  const HttpHeaders& headers() const { return m_headers; }
  HttpHeaders& headers() { return m_headers; }
  void setValue(std::string_view value, std::string_view headerName) {
    m_headers.set(headerName, value);
  }
  void addValue(std::string_view value, std::string_view headerName) {
    m_headers.add(headerName, value);
  }
  std::optional<std::string> valueForHeader(std::string_view name) const {
    return m_headers.value(name);
  }

  // Body bytes in memory; setting it clears a body file.
  const Bytes& body() const { return m_body; }
  void setBody(Bytes bytes) {
    m_body = std::move(bytes);
    m_bodyFile.clear();
  }
  void setBody(std::string_view text) { setBody(Bytes(text.begin(), text.end())); }
  // Body streamed from a file; setting it clears a memory body.
  const std::string& bodyFile() const { return m_bodyFile; }
  void setBodyFile(std::string path) {
    m_bodyFile = std::move(path);
    m_body.clear();
  }
  bool hasBody() const { return !m_body.empty() || !m_bodyFile.empty(); }
  void clearBody() {
    m_body.clear();
    m_bodyFile.clear();
  }

  // Seconds without any byte moving before the transfer fails with -1001;
  // 0 means the session's request timeout.
  double timeoutInterval() const { return m_timeout; }
  void setTimeoutInterval(double seconds) { m_timeout = seconds; }

 private:
  std::string m_url;
  std::string m_method = "GET";
  HttpHeaders m_headers;
  Bytes m_body;
  std::string m_bodyFile;
  double m_timeout = 0;
};

}  // namespace platform
