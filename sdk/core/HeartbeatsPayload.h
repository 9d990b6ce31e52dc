// HeartbeatsPayload: the heartbeats handed out by a flush, grouped by user
// agent, and their request-header form.
//
// headerValue() is the JSON
//   {"heartbeats": [{"agent": text, "dates": ["yyyy-MM-dd", ...]}, ...], "version": 2}
// (dates as UTC days), gzip-compressed and base64url-encoded without
// padding; when compression fails the uncompressed JSON is encoded instead.
// It never fails.
//
// The byte helpers are the header's encoding steps and their inverses.
//
// Thread safety: plain values; the shared date formatter is immutable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/time/DateFormatter.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"

namespace RirivuduCoreInternal {

struct HeartbeatsPayload {
  struct UserAgentPayload {
    std::string agent;
    std::vector<double> dates;  // seconds since 1970
    bool operator==(const UserAgentPayload&) const = default;
  };

  static constexpr int64_t kVersion = 2;

  std::vector<UserAgentPayload> userAgentPayloads;
  int64_t version = kVersion;

  static const HeartbeatsPayload& empty();
  // "yyyy-MM-dd" in UTC, POSIX locale.
  static const platform::DateFormatter& dateFormatter();

  bool isEmpty() const { return userAgentPayloads.empty(); }
  // The JSON tree the header carries.
  platform::Value encode() const;
  // Inverse of encode(); none when a key is missing or malformed.
  static std::optional<HeartbeatsPayload> decode(const platform::Value& value);
  std::string headerValue() const;

  bool operator==(const HeartbeatsPayload&) const = default;
};

// Byte helpers of the header encoding.
std::optional<platform::Bytes> zipped(const platform::Bytes& data, platform::Error* error = nullptr);
std::optional<platform::Bytes> unzipped(const platform::Bytes& data, platform::Error* error = nullptr);
// Standard base64 with "/" -> "_", "+" -> "-" and no "=".
std::string base64URLEncodedString(const platform::Bytes& data);
// "_" -> "/", "-" -> "+", "=" padding restored, then standard base64; none on bad input.
std::optional<platform::Bytes> base64URLEncoded(std::string_view text);

}  // namespace RirivuduCoreInternal
