#include "platform/net/ServiceAddress.h"

#include <curl/curl.h>

#include <cstdlib>

namespace platform {

namespace {

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

}  // namespace

std::optional<std::string> ServiceAddress::overrideURL() {
  const char* value = std::getenv(kOverrideVariable);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

std::string ServiceAddress::replaceOrigin(const std::string& base, const std::string& override) {
  std::string origin = originOf(override);
  auto schemeEnd = base.find("://");
  if (origin.empty() || schemeEnd == std::string::npos) return base;
  auto pathStart = base.find_first_of("/?#", schemeEnd + 3);
  return origin + (pathStart == std::string::npos ? std::string() : base.substr(pathStart));
}

std::string ServiceAddress::resolve(const std::string& base) {
  auto override = overrideURL();
  return override ? replaceOrigin(base, *override) : base;
}

}  // namespace platform
