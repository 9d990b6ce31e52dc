// The front's user state: user properties and the user ID, the two user
// property queries, the session timeout and identifier, the data reset with a
// new app instance identifier, and user data for on-device conversion.
#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMError.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMUserAttribute.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/time/Clock.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr int64_t kUserPropertyErrorLength = 24;
constexpr size_t kMaxOriginLength = 32;
constexpr const char* kAllowPersonalizedAdsName = "allow_personalized_ads";

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

double now() { return platform::Clock::current()->now(); }

// The engine, without the warning the shared accessor gives before creation.
std::shared_ptr<APMMeasurement> engineIfAny() {
  return APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance() : nullptr;
}

std::shared_ptr<APMMeasurement> initializedEngine() {
  std::shared_ptr<APMMeasurement> engine = engineIfAny();
  return engine && engine->didInitializeComponents() ? engine : nullptr;
}

// The value of a refused property as its error event carries it.
Value errorValueText(const Value& value) {
  if (value.isString()) return value;
  if (value.isNumeric()) return Value(APMValue::descriptionOfObject(value));
  return Value();
}

void logInvalidPublicName(const std::string& name, int64_t failure) {
  APMLogErrorEvent(failure == 4 ? 15 : 6, Value(name), kUserPropertyErrorLength, Value(name));
}

// "allow_personalized_ads": the stored preference, the consent and "_npa".
void setAllowPersonalizedAds(const std::optional<std::string>& value) {
  APMAnalytics::queueOperationWithBlock([value] {
    const bool enabled = APMAnalytics::isEnabledFlag();
    if (!enabled) {
      monitor()->logWithLevel(7, 25033, "Personalized Ads property changed while Analytics is disabled");
    }
    std::shared_ptr<APMPersistedConfig> persisted = APMPersistedConfig::sharedInstance();
    persisted->setAllowPersonalizedAds(value ? Value(Value(*value).boolValue()) : Value());
    if (!value && APMConsentSettingsUtil::adPersonalization()) APMConsentSettingsUtil::unsetAdPersonalization();
    std::shared_ptr<APMMeasurement> engine = engineIfAny();
    if (!enabled || !engine) return;
    if (std::optional<int64_t> npa = engine->shouldDisableAdPersonalization()) {
      engine->setUserAttribute(APMUserAttribute::initWithOrigin("auto", "_npa", APMValue::initWithInt64(*npa), now()));
    } else {
      engine->removeUserAttribute(APMUserAttribute::initWithOrigin("auto", "_npa", APMValue::initWithInt64(0), now()));
    }
  });
}

}  // namespace

void APMAnalytics::setUserPropertyString(const std::optional<std::string>& value, const std::string& name) {
  if (name == kAllowPersonalizedAdsName) {
    setAllowPersonalizedAds(value);
    return;
  }
  if (!value) {
    removeUserAttributeForName(name);
    return;
  }
  int64_t failure = 0;
  if (!APMDataTypeValidator::isValidPublicUserAttributeName(Value(name), &failure)) {
    logInvalidPublicName(name, failure);
    return;
  }
  if (!APMDataTypeValidator::isValidPublicUserAttributeValue(APMValue::objectWithString(*value), &failure)) {
    if (failure == 2) APMLogErrorEvent(7, Value(name), kUserPropertyErrorLength, Value(*value));
    return;
  }
  setInternalUserProperty(Value(*value), name, "app");
}

void APMAnalytics::setUserID(const std::optional<std::string>& userID) {
  if (!userID) {
    removeInternalUserAttributeForName("_id");
    removeInternalUserAttributeForName("_lair");
    return;
  }
  setInternalUserProperty(Value(*userID), "_id", "app");
}

void APMAnalytics::removeUserAttributeForName(const std::string& name) {
  if (!APMDataTypeValidator::isValidPublicUserAttributeName(Value(name))) return;
  removeInternalUserAttributeForName(name);
}

void APMAnalytics::setUserAttributeNumber(const Value& number, const std::string& name) {
  int64_t failure = 0;
  if (!APMDataTypeValidator::isValidPublicUserAttributeName(Value(name), &failure)) {
    logInvalidPublicName(name, failure);
    return;
  }
  if (!number.isNumeric()) return;
  const bool floating = !number.isInteger();
  const Value converted =
      floating ? APMValue::objectWithDouble(number.doubleValue()) : APMValue::objectWithInt64(number.longLongValue());
  setInternalUserProperty(converted, name, "auto");
}

void APMAnalytics::setInternalUserProperty(const std::optional<Value>& value, const std::string& name,
                                           const std::string& origin) {
  int64_t failure = 0;
  if (!APMDataTypeValidator::isValidInternalUserAttributeName(Value(name), &failure)) {
    APMLogErrorEvent(6, Value(name), kUserPropertyErrorLength, Value(name));
    return;
  }
  if (origin.empty() || origin.size() > kMaxOriginLength) {
    monitor()->logWithLevel(2, 25005, "Unable to set user property. Origin is invalid. Origin, name", origin, name);
    return;
  }
  if (!value || value->isNull()) {
    removeInternalUserAttributeForName(name);
    return;
  }
  APMValuePtr converted = APMValue::valueFromObject(*value);
  if (!converted) return;
  if (!APMDataTypeValidator::isValidInternalUserAttributeValue(APMValue::toObject(converted), Value(name), &failure)) {
    if (failure == 2) APMLogErrorEvent(7, Value(name), kUserPropertyErrorLength, errorValueText(*value));
    return;
  }
  std::shared_ptr<APMUserAttribute> attribute = APMUserAttribute::initWithOrigin(origin, name, converted, now());
  if (!attribute) return;
  queueOperationWithBlock([attribute] {
    if (std::shared_ptr<APMMeasurement> engine = engineIfAny()) engine->setUserAttribute(attribute);
  });
}

void APMAnalytics::removeInternalUserAttributeForName(const std::string& name) {
  std::shared_ptr<APMUserAttribute> attribute =
      APMUserAttribute::initWithOrigin("", name, APMValue::initWithDouble(0), now());
  if (!attribute) return;
  queueOperationWithBlock([attribute] {
    if (std::shared_ptr<APMMeasurement> engine = engineIfAny()) engine->removeUserAttribute(attribute);
  });
}

void APMAnalytics::userPropertiesIncludingInternal(bool includingInternal,
                                                   const std::optional<platform::DispatchQueue>& queue,
                                                   UserPropertiesCallback callback) {
  queueOperationWithBlock([includingInternal, queue, callback = std::move(callback)] {
    if (!callback) {
      monitor()->logWithLevel(2, 25006, "Analytics userProperties callback cannot be nil");
      return;
    }
    if (!queue) {
      monitor()->logWithLevel(2, 25007, "Cannot query for Analytics user properties. Queue cannot be nil");
      platform::mainQueue().async([callback] { callback(Dictionary()); });
      return;
    }
    std::shared_ptr<APMMeasurement> engine = engineIfAny();
    if (!isEnabledFlag() || !engine) {
      monitor()->logWithLevel(5, 25008, "Cannot query for public user properties when Analytics is disabled");
      queue->async([callback] { callback(Dictionary()); });
      return;
    }
    engine->userPropertiesIncludingInternal(includingInternal, [queue, callback](Dictionary properties) {
      queue->async([callback, properties = std::move(properties)] { callback(properties); });
    });
  });
}

void APMAnalytics::maxUserPropertiesForOrigin(const std::string& origin,
                                              const std::optional<platform::DispatchQueue>& queue,
                                              MaxUserPropertiesCallback callback) {
  if (origin.empty()) {
    monitor()->logWithLevel(2, 25009,
                            "Cannot query Analytics for max user properties. Origin must be a non-empty string");
    return;
  }
  if (!queue) {
    monitor()->logWithLevel(2, 25010, "Cannot query Analytics for max user properties. Queue cannot be nil. Origin",
                            origin);
    return;
  }
  if (!callback) {
    monitor()->logWithLevel(2, 25011,
                            "Cannot query Analytics for max user properties. MaxUserProperties callback cannot be "
                            "nil. Origin",
                            origin);
    return;
  }
  queueOperationWithBlock([origin, queue, callback = std::move(callback)] {
    std::shared_ptr<APMMeasurement> engine = engineIfAny();
    if (!engine) return;
    engine->maxUserPropertiesForOrigin(origin, [queue, callback](int64_t maximum) {
      queue->async([callback, maximum] { callback(maximum); });
    });
  });
}

void APMAnalytics::setSessionTimeoutInterval(double seconds) {
  dispatchAsyncOnSerialQueue([seconds] {
    if (seconds < 0) {
      monitor()->logWithLevel(4, 25060, "Session timeout interval cannot be set to a negative value");
      return;
    }
    if (std::shared_ptr<APMMeasurement> engine = initializedEngine()) {
      engine->setSessionTimeoutInterval(seconds);
    } else {
      APMPersistedConfig::sharedInstance()->setSessionTimeoutValue(Value(seconds));
    }
    monitor()->logWithLevel(7, 25059, "Session timeout interval set. (s)", seconds);
  });
}

void APMAnalytics::sessionIDWithCompletion(SessionIDCompletion completion) {
  if (!completion) {
    monitor()->logWithLevel(1, 25050, "Analytics sessionID completion cannot be nil");
    return;
  }
  SessionIDCompletion onGlobalQueue = [completion = std::move(completion)](int64_t sessionID,
                                                                          std::optional<platform::Error> error) {
    platform::globalQueue().async([completion, sessionID, error] { completion(sessionID, error); });
  };
  dispatchAsyncOnSerialQueue([onGlobalQueue] {
    if (std::shared_ptr<APMMeasurement> engine = initializedEngine()) {
      engine->sessionIDWithCompletion(onGlobalQueue);
    } else {
      onGlobalQueue(0, apm_errorWithCode(13, "Analytics uninitialized"));
    }
  });
}

std::optional<std::string> APMAnalytics::appInstanceID() {
  if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) return std::nullopt;
  std::optional<std::string> afterReset = appInstanceIDAfterReset();
  if (afterReset && !afterReset->empty()) return afterReset;
  std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance();
  return identity ? identity->appInstanceID() : std::nullopt;
}

void APMAnalytics::resetAnalyticsData() {
  setLoadTimestamp(now());
  setResetRetryCount(resetRetryCount() + 1);
  setNeedFirstOpenAfterReset(true);
  const std::string fresh = APMIdentity::randomAppInstanceID();
  if (fresh.empty()) {
    monitor()->logWithLevel(1, 25039, "Cannot generate a new app instance ID");
    return;
  }
  std::optional<std::string> used;
  if (!APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
    used = fresh;
    setAppInstanceIDAfterReset(fresh);
  }
  queueOperationWithBlock([used] {
    std::shared_ptr<APMMeasurement> engine = engineIfAny();
    if (!engine || !engine->resetAnalyticsDataWithAppInstanceID(used)) {
      monitor()->logWithLevel(1, 25037, "Failed to reset Analytics data");
      return;
    }
    setResetRetryCount(0);
    if (used && appInstanceIDAfterReset() == used) setAppInstanceIDAfterReset(std::nullopt);
  });
}

void APMAnalytics::setUserData(const Dictionary& userData) {
  const Dictionary copy = userData.copy();
  queueOperationWithBlockThenWait([copy] {
    if (!isEnabledFlag()) {
      monitor()->logWithLevel(4, 25044, "Analytics is disabled. User data not set.");
      return;
    }
    if (std::shared_ptr<APMMeasurement> engine = engineIfAny()) engine->setUserData(copy);
  });
}
