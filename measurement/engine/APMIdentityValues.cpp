#include "measurement/engine/APMIdentityValues.h"

#include "measurement/base/APMIdentity.h"

namespace {

class IdentityValues final : public APMIdentityValues {
 public:
  explicit IdentityValues(std::shared_ptr<APMIdentity> identity) : m_identity(std::move(identity)) {}

  bool hasTrackingAuthorization() override { return APMIdentity::iOS14OrAbove(); }
  uint64_t trackingAuthorizationStatus() override { return m_identity->appleConsentStatus(); }
  bool hasLimitedAdTracking() override { return m_identity->hasLimitedAdTracking(); }
  bool limitedAdTracking() override { return m_identity->limitedAdTracking(); }
  std::optional<std::string> resettableDeviceID() override { return m_identity->resettableDeviceID(); }
  std::optional<std::string> identifierForVendor() override { return m_identity->identifierForVendor(); }
  std::optional<std::string> appInstanceID() override { return m_identity->appInstanceID(); }
  std::string ephemeralAppInstanceID() override { return m_identity->ephemeralAppInstanceID(); }

 private:
  const std::shared_ptr<APMIdentity> m_identity;
};

}  // namespace

std::unique_ptr<APMIdentityValues> APMIdentityValues::of(std::shared_ptr<APMIdentity> identity) {
  if (!identity) return nullptr;
  return std::make_unique<IdentityValues>(std::move(identity));
}
