// HttpResponse: the head of an HTTP response: status, headers (ordered,
// case-insensitive look-up) and the final URL after redirects, plus the facts
// derived from them (MIME type without parameters, text encoding, expected
// length, suggested file name).
//
// Thread safety: a plain value type.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/net/HttpHeaders.h"

namespace platform {

class HttpResponse {
 public:
  HttpResponse() = default;
  HttpResponse(int statusCode, HttpHeaders headers, std::string url)
      : m_status(statusCode), m_headers(std::move(headers)), m_url(std::move(url)) {}

  int statusCode() const { return m_status; }
  const HttpHeaders& headers() const { return m_headers; }
  std::optional<std::string> valueForHeader(std::string_view name) const {
    return m_headers.value(name);
  }
  const std::string& url() const { return m_url; }

  // "text/html" for "Text/HTML; charset=utf-8"; empty when absent.
  std::string mimeType() const;
  // The charset parameter of Content-Type, lower case; empty when absent.
  std::string textEncodingName() const;
  // Content-Length as sent by the server, -1 when absent or not a number.
  int64_t expectedContentLength() const;
  // Content-Disposition "filename" (a plain file name, never a path), else
  // the last path component of the URL (percent-decoded), else "Unknown".
  std::string suggestedFilename() const;

 private:
  int m_status = 0;
  HttpHeaders m_headers;
  std::string m_url;
};

}  // namespace platform
