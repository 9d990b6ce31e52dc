// ServiceAddress: where remote services are reached.
//
// The environment variable APP_SERVICES_URL (for example
// "http://127.0.0.1:8080") replaces the scheme, host and port of every
// service base address while keeping the address's own path, query and
// fragment, so that tests can send every request to a loopback fake service:
//
//   "https://api.example.net/v1/projects" -> "http://127.0.0.1:8080/v1/projects"
//
// Unset or empty, it changes nothing. Set to anything that is not an http(s)
// address with a host ("ftp://...", "127.0.0.1:8080", " http://h" with a
// blank), it must not let requests slip through to the real services: every
// base address then takes kRefusedOrigin, a reserved host that never
// resolves, and the HTTP layer fails each request to it with refusalError()
// before connecting. The first resolve() of each such value says so once in
// the log. A base address without "scheme://" is left unchanged.
//
// Thread safety: every member may be called from any thread (reads the
// environment on each call).
#pragma once

#include <optional>
#include <string>

#include "platform/values/Error.h"

namespace platform {

struct ServiceAddress {
  static constexpr const char* kOverrideVariable = "APP_SERVICES_URL";
  static constexpr const char* kRefusedOrigin = "http://app-services-url.invalid";

  // `base` with the override of APP_SERVICES_URL applied, if set.
  static std::string resolve(const std::string& base);
  // `base` with scheme, host and port taken from `override`, or from
  // kRefusedOrigin when `override` is no usable address.
  static std::string replaceOrigin(const std::string& base, const std::string& override);
  // The value of APP_SERVICES_URL, when set and non-empty.
  static std::optional<std::string> overrideURL();
  // True when `url` is an address that resolve() refused.
  static bool isRefused(const std::string& url);
  // The error of a request to a refused address: it names the variable and
  // its current value.
  static Error refusalError(const std::string& url);
};

}  // namespace platform
