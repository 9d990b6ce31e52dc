// ZDTCORUploader: what uploads a target's stored events, and the upload
// condition bits the upload coordinator passes to it.
//
// Conditions: exactly one of 1 (no network: nothing is uploaded), 2 (mobile
// network) or 4 (any other network, treated as wifi), plus 0x10 when an
// event of tier 4 forced the upload.
//
// Thread safety: uploadTarget is called on the coordinator's queue and must
// return quickly.
#pragma once

#include <cstdint>

#include "sdk/transport/ZDTCORLifecycle.h"

using ZDTCORUploadConditions = int64_t;
inline constexpr ZDTCORUploadConditions ZDTCORUploadConditionNoNetwork = 1;
inline constexpr ZDTCORUploadConditions ZDTCORUploadConditionMobileData = 2;
inline constexpr ZDTCORUploadConditions ZDTCORUploadConditionWifiData = 4;
inline constexpr ZDTCORUploadConditions ZDTCORUploadConditionHighPriority = 0x10;

class ZDTCORUploader : public ZDTCORLifecycleProtocol {
 public:
  virtual void uploadTarget(int64_t target, ZDTCORUploadConditions conditions) = 0;
};
