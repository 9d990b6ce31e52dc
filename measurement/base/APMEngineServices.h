// APMEngineServices: the measurement base's only door to the engine's shared
// objects. The base never includes the engine; it asks here, and the engine
// installs its providers at its start (tests install fakes). Each entry
// answers a fixed default until something is installed.
//
//   monitor()        the one process-wide APMMonitor, made on first use with
//                    initWithLibraryVersion(kMeasurementLibraryVersion) and
//                    never destroyed; the engine's APMMeasurement::monitor()
//                    returns this same object.
//   isFromAppStore() whether the application came from a store installation
//                    (ZULAppEnvironmentUtil: never on this platform, so debug
//                    mode is allowed; tests may pretend otherwise there).
//   deviceModel()    the device model text, empty when unknown.
//
// Later entries follow one pattern: a getter that answers the installed
// provider's value or the default, and a setter that installs a provider
// (an empty provider restores the default).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "measurement/base/APMMonitor.h"

class APMEngineServices {
 public:
  // The measurement library version, part of every health-sample key.
  static constexpr int64_t kMeasurementLibraryVersion = 120500;

  static std::shared_ptr<APMMonitor> monitor();
  static bool isFromAppStore();
  static std::string deviceModel();
};
