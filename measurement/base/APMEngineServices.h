// APMEngineServices: the measurement base's only door to the engine's shared
// objects. The base never includes the engine; it asks here, and the engine
// installs its providers at its start (tests install fakes). Each entry
// answers a fixed default until something is installed.
//
//   monitor()            the one process-wide APMMonitor, made on first use with
//                        initWithLibraryVersion(kMeasurementLibraryVersion) and
//                        never destroyed; the engine's APMMeasurement::monitor()
//                        returns this same object.
//   isFromAppStore()     whether the application came from a store installation
//                        (ZULAppEnvironmentUtil: never on this platform, so debug
//                        mode is allowed; tests may pretend otherwise there).
//   deviceModel()        the device model text, empty when unknown.
//   remoteConfig()       the engine's settings once installed, else
//                        APMRemoteConfig::defaultInstance().
//   hasSharedInstance()  whether the engine exists and finished initialising: NO.
//   identity()           the engine's identity: none.
//   isEnabled()          whether analytics collection is enabled: NO.
//   SZTMPreviewHeaders() the stored server-side tag-manager preview headers: none.
//   isAnalyticsStorageDenied(), isAdStorageDenied()
//                        the consent settings' answers: NO until the consent
//                        utility is installed.
//   makeEventEditing()   a new event-editing engine for configuration programs:
//                        an APMRecordingEventEditing until the script runtime
//                        installs its factory.
//   logInternalEvent(origin, name, parameters)
//                        logs an internal (non-public) event through the
//                        analytics front; does nothing until the front installs
//                        its handler with setInternalEventLogger.
//
// Setters install a provider; an empty provider restores the default.
//
// Thread safety: every member may be called from any thread; a provider is
// called without any lock held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "measurement/base/APMMonitor.h"
#include "platform/values/Value.h"

class APMEventEditing;
class APMIdentity;
class APMRemoteConfig;

class APMEngineServices {
 public:
  // The measurement library version, part of every health-sample key.
  static constexpr int64_t kMeasurementLibraryVersion = 120500;

  static std::shared_ptr<APMMonitor> monitor();
  static bool isFromAppStore();
  static std::string deviceModel();

  static std::shared_ptr<APMRemoteConfig> remoteConfig();
  static void setRemoteConfigProvider(std::function<std::shared_ptr<APMRemoteConfig>()> provider);
  static bool hasSharedInstance();
  static void setHasSharedInstanceProvider(std::function<bool()> provider);
  static std::shared_ptr<APMIdentity> identity();
  static void setIdentityProvider(std::function<std::shared_ptr<APMIdentity>()> provider);
  static bool isEnabled();
  static void setIsEnabledProvider(std::function<bool()> provider);
  static std::optional<platform::Dictionary> SZTMPreviewHeaders();
  static void setSZTMPreviewHeadersProvider(std::function<std::optional<platform::Dictionary>()> provider);
  static bool isAnalyticsStorageDenied();
  static void setAnalyticsStorageDeniedProvider(std::function<bool()> provider);
  static bool isAdStorageDenied();
  static void setAdStorageDeniedProvider(std::function<bool()> provider);
  static std::shared_ptr<APMEventEditing> makeEventEditing();
  static void setEventEditingFactory(std::function<std::shared_ptr<APMEventEditing>()> factory);
  using InternalEventLogger =
      std::function<void(const std::string& origin, const std::string& name, const platform::Dictionary& parameters)>;
  static void logInternalEvent(const std::string& origin, const std::string& name,
                               const platform::Dictionary& parameters);
  // An empty logger restores the default (nothing is logged).
  static void setInternalEventLogger(InternalEventLogger logger);

  // Removes every installed provider (tests).
  static void resetProvidersForTesting();
};
