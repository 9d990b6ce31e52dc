#include "platform/net/ServiceAddress.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

#include "platform/log/Log.h"
#include "platform/net/URLError.h"
#include "platform/runtime/Immortal.h"

namespace platform {

namespace {

// A value longer than this is shortened in messages.
constexpr size_t kMaximumQuotedLength = 200;

// "scheme://host[:port]" of an http(s) address, empty when it is not one.
std::string originOf(const std::string& address) {
  CURLU* u = curl_url();
  std::string result;
  if (curl_url_set(u, CURLUPART_URL, address.c_str(), 0) == CURLUE_OK) {
    char *scheme = nullptr, *host = nullptr, *port = nullptr;
    curl_url_get(u, CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(u, CURLUPART_HOST, &host, 0);
    curl_url_get(u, CURLUPART_PORT, &port, 0);
    std::string s = scheme ? scheme : "";
    if ((s == "http" || s == "https") && host && *host) {
      result = s + "://" + host;
      if (port) result += std::string(":") + port;
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
  }
  curl_url_cleanup(u);
  return result;
}

std::string quoted(const std::string& value) {
  std::string shown = value.size() > kMaximumQuotedLength ? value.substr(0, kMaximumQuotedLength) + "..." : value;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return "\"" + shown + "\"";
}

std::string refusalText(const std::string& value) {
  return std::string(ServiceAddress::kOverrideVariable) + " is set to " + quoted(value) +
         ", which is not an http or https address with a host (such as http://127.0.0.1:8080);"
         " no request is sent to any service until it is corrected or unset.";
}

// Logs the refusal when `value` differs from the value logged last, so that
// each mistyped value is reported once rather than on every request.
void reportUnusable(const std::string& value) {
  static Immortal<std::mutex> mutex;
  static Immortal<std::string> lastReported;
  {
    std::lock_guard<std::mutex> lock(*mutex);
    if (*lastReported == value) return;
    *lastReported = value;
  }
  Log::handle("platform.net", "[ServiceAddress]").write(LogType::Error, refusalText(value));
}

}  // namespace

std::optional<std::string> ServiceAddress::overrideURL() {
  const char* value = std::getenv(kOverrideVariable);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

std::string ServiceAddress::replaceOrigin(const std::string& base, const std::string& override) {
  auto schemeEnd = base.find("://");
  if (schemeEnd == std::string::npos) return base;
  std::string origin = originOf(override);
  if (origin.empty()) origin = kRefusedOrigin;
  auto pathStart = base.find_first_of("/?#", schemeEnd + 3);
  return origin + (pathStart == std::string::npos ? std::string() : base.substr(pathStart));
}

std::string ServiceAddress::resolve(const std::string& base) {
  auto override = overrideURL();
  if (!override) return base;
  std::string resolved = replaceOrigin(base, *override);
  if (isRefused(resolved)) reportUnusable(*override);
  return resolved;
}

bool ServiceAddress::isRefused(const std::string& url) {
  const std::string_view origin(kRefusedOrigin);
  return url.compare(0, origin.size(), origin) == 0 &&
         (url.size() == origin.size() || url.find_first_of("/?#", origin.size()) == origin.size());
}

Error ServiceAddress::refusalError(const std::string& url) {
  Error error = URLError::make(URLError::kBadURL, url);
  std::optional<std::string> value = overrideURL();
  error.setUserInfo(Error::kLocalizedDescriptionKey,
                    Value(value ? refusalText(*value)
                                : std::string(kOverrideVariable) +
                                      " held no usable address when this request was made; it was not sent."));
  return error;
}

}  // namespace platform
