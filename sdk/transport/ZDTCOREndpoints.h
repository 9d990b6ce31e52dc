// ZDTCOREndpoints: where each upload target's events go, and the API key.
//
// Targets 1000 ("cct"), 1001 ("fll") and 1002 ("csh") have an HTTPS endpoint
// each; 1003 ("int") has a placeholder that reaches no collector. The
// addresses are configuration: built-in defaults, replaced per target by the
// Info dictionary's "ZDTCOREndpointUploadURLs" (a dictionary from the target
// in decimal to an address); the key likewise comes from
// "ZDTCOREndpointAPIKey" or the built-in one, and is sent for targets 1001 to
// 1003 only. The table is built once on first use; APP_SERVICES_URL
// (platform::ServiceAddress) then replaces scheme, host and port of every
// address on each look-up, so that uploads can go to a loopback collector.
//
// Thread safety: every function may be called from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class ZDTCOREndpoints {
 public:
  static constexpr const char* kUploadURLsInfoKey = "ZDTCOREndpointUploadURLs";
  static constexpr const char* kAPIKeyInfoKey = "ZDTCOREndpointAPIKey";

  // The target's address (after APP_SERVICES_URL), none for other targets.
  static std::optional<std::string> uploadURLForTarget(int64_t target);
  static std::map<int64_t, std::string> uploadURLs();
  // The key of targets 1001, 1002 and 1003; none for the others.
  static std::optional<std::string> APIKeyForTarget(int64_t target);
  static std::string FLLAndCSHAndINTAPIKey();
};
