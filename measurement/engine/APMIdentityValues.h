// APMIdentityValues: what the bundle identifier rules read of the identity:
// whether the system has app-tracking authorization and its status, the
// limited-ad-tracking state (known or not, and its value), the advertising,
// vendor, app instance and ephemeral app instance identifiers.
//
// APMIdentityValues::of(identity) reads the engine's APMIdentity; the test
// driver describes one by hand.
//
// Thread safety: as the identity read (APMIdentity: any thread but its queue).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class APMIdentity;

class APMIdentityValues {
 public:
  virtual ~APMIdentityValues() = default;

  virtual bool hasTrackingAuthorization() = 0;
  virtual uint64_t trackingAuthorizationStatus() = 0;
  virtual bool hasLimitedAdTracking() = 0;
  virtual bool limitedAdTracking() = 0;
  virtual std::optional<std::string> resettableDeviceID() = 0;
  virtual std::optional<std::string> identifierForVendor() = 0;
  virtual std::optional<std::string> appInstanceID() = 0;
  virtual std::string ephemeralAppInstanceID() = 0;

  static std::unique_ptr<APMIdentityValues> of(std::shared_ptr<APMIdentity> identity);
};
