// ServiceAddress: where remote services are reached.
//
// The environment variable APP_SERVICES_URL (for example
// "http://127.0.0.1:8080") replaces the scheme, host and port of every
// service base address while keeping the address's own path, query and
// fragment, so that tests can send every request to a loopback fake service:
//
//   "https://api.example.net/v1/projects" -> "http://127.0.0.1:8080/v1/projects"
//
// An override that is not an http(s) address with a host, or a base address
// without "scheme://", leaves the base unchanged.
//
// Thread safety: stateless (reads the environment on each call).
#pragma once

#include <optional>
#include <string>

namespace platform {

struct ServiceAddress {
  static constexpr const char* kOverrideVariable = "APP_SERVICES_URL";

  // `base` with the override of APP_SERVICES_URL applied, if set.
  static std::string resolve(const std::string& base);
  // `base` with scheme, host and port taken from `override`.
  static std::string replaceOrigin(const std::string& base, const std::string& override);
  // The value of APP_SERVICES_URL, when set and non-empty.
  static std::optional<std::string> overrideURL();
};

}  // namespace platform
