// APMRemoteConfigStorage: the three database operations the measurement
// settings use to keep their configuration (the measurement database
// implements them; tests fake them).
//
//   updateRemoteConfig                stores the configuration and now as its
//                                     update time; NO with the error on failure
//   queryMeasurementConfigWithError   the stored configuration; nullptr without
//                                     one (no error) or when it cannot be read
//                                     (the error set)
//   lastRemoteConfigUpdateTimestamp   seconds since 1970; none without one or on
//                                     failure (the error set then)
//
// Thread safety: called on the engine's worker queue.
#pragma once

#include <memory>
#include <optional>

#include "measurement/messages/APMPBMessage.h"
#include "platform/values/Error.h"

class APMRemoteConfigStorage {
 public:
  virtual ~APMRemoteConfigStorage() = default;
  virtual bool updateRemoteConfig(const APMPBMeasurementConfig& config, platform::Error* error) = 0;
  virtual std::shared_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(platform::Error* error) = 0;
  virtual std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error* error) = 0;
};
