// Where the config fetch service and the realtime config service are: the
// options' value under the service's key, else the Info dictionary's, else
// the built-in address; APP_SERVICES_URL then replaces scheme, host and port.
// Thread safety: stateless.
#pragma once

#include <string>

class RIROptions;

inline constexpr const char* kRCNFetchServiceDefaultURL = "https://ririvuduremoteconfig.zoruvuapis.com";
inline constexpr const char* kRCNFetchServiceURLKey = "REMOTE_CONFIG_SERVICE_URL";
inline constexpr const char* kRCNRealtimeServiceDefaultURL = "https://ririvuduremoteconfigrealtime.zoruvuapis.com";
inline constexpr const char* kRCNRealtimeServiceURLKey = "REMOTE_CONFIG_REALTIME_SERVICE_URL";

// The resolved base address, without a trailing "/".
std::string RCNServiceBaseAddress(const RIROptions* options, const char* key, const char* defaultAddress);
