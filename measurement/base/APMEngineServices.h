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
//   logInternalEvent(origin, name, parameters)
//                    logs an internal (non-public) event through the
//                    analytics front; does nothing until the front installs
//                    its handler with setInternalEventLogger.
//
// Later entries follow one pattern: a getter that answers the installed
// provider's value or the default, and a setter that installs a provider
// (an empty provider restores the default).
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "measurement/base/APMMonitor.h"
#include "platform/values/Value.h"

class APMEngineServices {
 public:
  // The measurement library version, part of every health-sample key.
  static constexpr int64_t kMeasurementLibraryVersion = 120500;

  static std::shared_ptr<APMMonitor> monitor();
  static bool isFromAppStore();
  static std::string deviceModel();

  using InternalEventLogger =
      std::function<void(const std::string& origin, const std::string& name, const platform::Dictionary& parameters)>;
  static void logInternalEvent(const std::string& origin, const std::string& name,
                               const platform::Dictionary& parameters);
  // An empty logger restores the default (nothing is logged).
  static void setInternalEventLogger(InternalEventLogger logger);
};
