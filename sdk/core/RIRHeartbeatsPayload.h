// RIRHeartbeatsPayload: the payload of a heartbeat flush as the SDK's
// request builders see it. Made only by RIRHeartbeatController.
// RIRHeaderValueFromHeartbeatsPayload gives none for an empty payload, so an
// empty payload is never sent.
//
// Thread safety: immutable.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "sdk/core/HeartbeatsPayload.h"

class RIRHeartbeatsPayload {
 public:
  explicit RIRHeartbeatsPayload(RirivuduCoreInternal::HeartbeatsPayload payload) : m_payload(std::move(payload)) {}

  std::string headerValue() const { return m_payload.headerValue(); }
  bool isEmpty() const { return m_payload.isEmpty(); }
  const RirivuduCoreInternal::HeartbeatsPayload& heartbeatsPayload() const { return m_payload; }

 private:
  RirivuduCoreInternal::HeartbeatsPayload m_payload;
};

inline std::optional<std::string> RIRHeaderValueFromHeartbeatsPayload(const RIRHeartbeatsPayload& payload) {
  if (payload.isEmpty()) return std::nullopt;
  return payload.headerValue();
}
