// RIRMessagingMetricsLog: a delivery-metrics event as the transport's
// payload: the MessagingClientEventExtension message (one field 1 holding the
// MessagingClientEvent) in protobuf wire form, encoded by nanopb. Numeric
// fields holding 0 and text fields left unset are not written; int64 fields
// are plain varints. The record owns its texts, so the bytes can be produced
// at any time. An encoding failure logs I-RCM020004 and answers the bytes
// written so far.
//
// Thread safety: an immutable value after construction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sdk/transport/ZDTCOREventDataObject.h"

struct RIRMessagingClientEvent {
  int64_t projectID = 0;
  std::optional<std::string> messageID;
  std::optional<std::string> instanceID;
  uint32_t messageKind = 0;
  uint32_t platformKind = 0;
  std::optional<std::string> appBundleID;
  uint32_t eventKind = 0;
  std::optional<std::string> messageLabel;
  int64_t campaignNumber = 0;
  std::optional<std::string> campaignLabel;
};

class RIRMessagingMetricsLog : public ZDTCOREventDataObject {
 public:
  explicit RIRMessagingMetricsLog(RIRMessagingClientEvent event) : m_event(std::move(event)) {}

  const RIRMessagingClientEvent& eventExtension() const { return m_event; }
  platform::Bytes transportBytes() const override;

 private:
  RIRMessagingClientEvent m_event;
};
