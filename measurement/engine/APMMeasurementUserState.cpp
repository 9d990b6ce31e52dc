// User properties, reset and wipe-out, the purchase filter and user data.
// Built so far: storing a user property under the per-origin limits (the
// "_npa" consent update that goes with it belongs to the reports). Not built
// yet: the wipe-out reports failure (so an app-ID change keeps its retry
// count), no purchase passes the filter and user data is dropped.
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/engine/APMMeasurement.h"

namespace {

constexpr int64_t kMaxUserPropertiesPerOrigin = 25;

std::string valueText(const APMUserAttribute& attribute) {
  return attribute.value() ? APMValue::descriptionOfObject(APMValue::toObject(attribute.value())) : std::string();
}

}  // namespace

bool APMMeasurement::setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& attribute) {
  std::shared_ptr<APMDatabase> db = database();
  std::shared_ptr<APMMonitor> log = monitor();
  if (!db || !attribute) return false;
  const std::string& name = attribute->name();
  platform::Error error;
  std::optional<platform::Value> exists = db->containsUserAttributeWithName(name, &error);
  if (!exists) {
    log->logWithLevel(1, 23082, "Unable to query existence of user property. Name, error", name, error);
    return false;
  }
  if (exists->boolValue() && name == "_id") {
    std::shared_ptr<APMUserAttribute> stored = db->userAttributeWithName(name, &error);
    const std::optional<std::string> before = stored && stored->value() ? stored->value()->stringValue() : std::nullopt;
    const std::optional<std::string> after = attribute->value() ? attribute->value()->stringValue() : std::nullopt;
    if (before && after && *before != *after) {
      if (std::shared_ptr<APMIdentity> id = identity()) id->resetSessionStitchingToken();
      db->deleteUserAttributeWithName("_lair", &error);
    }
  }
  if (!exists->boolValue()) {
    const bool isPublic = attribute->isPublic();
    std::optional<platform::Value> count =
        isPublic ? db->publicUserAttributeCount(&error) : db->userAttributeCountForOrigin(attribute->origin(), &error);
    if (!count) {
      log->logWithLevel(1, 23083, "Unable to query user property count. Origin, error", attribute->origin(), error);
      return false;
    }
    const int64_t limit = isPublic ? remoteConfigInstance()->maxPublicUserProperties() : kMaxUserPropertiesPerOrigin;
    if (count->longLongValue() >= limit) {
      log->logWithLevel(3, 23084,
                        "Unable to set user property. Reached limit on set user properties "
                        "for origin. Origin, name, "
                        "value",
                        attribute->origin(), name, valueText(*attribute));
      APMLogErrorCodeEvent(9);
      return false;
    }
  }
  if (!db->updateUserAttribute(attribute.get(), &error)) {
    log->logWithLevel(1, 23085, "Unable to set user property. Name, value, error", name, valueText(*attribute), error);
    return false;
  }
  log->logWithLevel(7, 23087, "User property set. Name, value", name, valueText(*attribute));
  return true;
}

bool APMMeasurement::wipeoutAnalyticsDataAndResetComponents() { return false; }
void APMMeasurement::setLastAdvertisingIDResetUserPropertyOnWorkerQueue() {}

void APMMeasurement::filterPurchaseTransactions(
    const std::vector<platform::PaymentTransaction>&,
    std::function<void(std::vector<platform::PaymentTransaction>)> callback) {
  if (callback) callback({});
}

void APMMeasurement::setUserData(const platform::Dictionary&) {}
