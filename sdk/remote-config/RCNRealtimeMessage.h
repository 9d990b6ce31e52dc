// RCNRealtimeMessage: what one message of the realtime stream asks for.
//
//   {"latestTemplateVersionNumber": 12}        a newer template exists
//   {"featureDisabled": true}                  stop (the key alone counts)
//   {"retryIntervalSeconds": 120}              wait that long before the next connection
//
// The two numbers may also come as decimal strings; anything else counts as
// absent (target version 1, retry interval 0). A template version must be a
// whole number within 64 bits (1e300 or 2.5 count as absent); a retry
// interval is saturated to 64 bits here and held to 24 hours where it is used.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

struct RCNRealtimeMessage {
  int64_t latestTemplateVersionNumber = 1;
  bool featureDisabled = false;
  int64_t retryIntervalSeconds = 0;

  // None for text that is not a JSON object.
  static std::optional<RCNRealtimeMessage> parse(std::string_view text);
};
