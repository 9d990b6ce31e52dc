#include "measurement/engine/internal/ConnectorAnalyticsFront.h"

#include <memory>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMUserAttribute.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMMeasurement.h"
#include "platform/text/Unicode.h"
#include "platform/time/Clock.h"

using platform::Value;

namespace connectorfront {
namespace {

constexpr int64_t kUserPropertyNameLimit = 24;
constexpr size_t kMaxOriginLength = 32;

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

// Through the front's operation queue to the engine's worker queue, while an engine exists.
void onWorkerQueue(const std::string& blockID, std::function<void(APMMeasurement&)> work,
                   std::function<void()> withoutEngine = nullptr) {
  APMAnalytics::queueOperationWithBlock([blockID, work = std::move(work), withoutEngine = std::move(withoutEngine)] {
    std::shared_ptr<APMMeasurement> engine = APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance()
                                                                                 : nullptr;
    if (!engine) {
      if (withoutEngine) withoutEngine();
      return;
    }
    engine->scheduler()->scheduleOnWorkerQueueBlockID(blockID, [engine, work] { work(*engine); });
  });
}

Value plainValue(const APMValuePtr& value) {
  if (!value) return Value();
  if (value->isInt64()) return Value(static_cast<long long>(value->int64Value()));
  if (value->isDouble()) return Value(value->doubleValue());
  return Value(value->stringValue().value_or(""));
}

}  // namespace

void setInternalUserProperty(const Value& value, const std::string& name, const std::string& origin) {
  int64_t failure = 0;
  if (!APMDataTypeValidator::isValidInternalUserAttributeName(Value(name), &failure)) {
    APMLogErrorEvent(6, Value(name), kUserPropertyNameLimit, Value(name));
    return;
  }
  const size_t originLength = platform::Unicode::utf16Length(origin);
  if (originLength == 0 || originLength > kMaxOriginLength) {
    monitor()->logWithLevel(2, 25005, "Unable to set user property. Origin is invalid. Origin, name", origin, name);
    return;
  }
  if (value.isNull()) {
    onWorkerQueue("ROZAdavurudoConnector:remove", [name](APMMeasurement& engine) {
      std::shared_ptr<APMDatabase> db = engine.isEnabled() ? engine.database() : nullptr;
      platform::Error error;
      if (db && !db->deleteUserAttributeWithName(name, &error)) {
        monitor()->logWithLevel(1, 23077, "Unable to remove user property. Name, error", name, error);
      }
    });
    return;
  }
  APMValuePtr typed = APMValue::valueFromObject(value);
  if (!typed) return;
  if (!APMDataTypeValidator::isValidInternalUserAttributeValue(APMValue::toObject(typed), Value(name), &failure)) {
    if (failure == 2) {
      const Value text = typed->isString() ? Value(typed->stringValue().value_or("")) : Value(typed->description());
      APMLogErrorEvent(7, Value(name), kUserPropertyNameLimit, text);
    }
    return;
  }
  std::shared_ptr<APMUserAttribute> attribute =
      APMUserAttribute::initWithOrigin(origin, name, typed, platform::Clock::current()->now());
  if (!attribute) return;
  onWorkerQueue("ROZAdavurudoConnector:set", [attribute](APMMeasurement& engine) {
    if (engine.isEnabled()) engine.setUserPropertyInDatabaseOnWorkerQueue(attribute);
  });
}

void maxUserPropertiesForOrigin(const std::string& origin, const platform::DispatchQueue& queue,
                                std::function<void(int64_t)> callback) {
  if (origin.empty()) {
    monitor()->logWithLevel(2, 25009, "Cannot query Analytics for max user properties. Origin must be a non-empty string");
    return;
  }
  if (!callback) {
    monitor()->logWithLevel(2, 25011,
                            "Cannot query Analytics for max user properties. MaxUserProperties callback cannot be nil. "
                            "Origin",
                            origin);
    return;
  }
  onWorkerQueue("ROZAdavurudoConnector:max", [queue, callback](APMMeasurement&) {
    queue.async([callback] { callback(kMaxUserPropertiesPerOrigin); });
  });
}

void userPropertiesIncludingInternal(bool includingInternal, const platform::DispatchQueue& queue,
                                     std::function<void(platform::Dictionary)> callback) {
  if (!callback) {
    monitor()->logWithLevel(2, 25006, "Analytics userProperties callback cannot be nil");
    return;
  }
  auto answerEmpty = [queue, callback] { queue.async([callback] { callback(platform::Dictionary()); }); };
  APMAnalytics::queueOperationWithBlock([includingInternal, queue, callback, answerEmpty] {
    if (!APMAnalytics::isEnabledFlag()) {
      monitor()->logWithLevel(5, 25008, "Cannot query for public user properties when Analytics is disabled");
      answerEmpty();
      return;
    }
    std::shared_ptr<APMMeasurement> engine = APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance()
                                                                                 : nullptr;
    if (!engine) {
      answerEmpty();
      return;
    }
    engine->scheduler()->scheduleOnWorkerQueueBlockID("ROZAdavurudoConnector:properties", [engine, includingInternal,
                                                                                          queue, callback] {
      platform::Dictionary properties;
      platform::Error error;
      std::shared_ptr<APMDatabase> db = engine->database();
      if (db) {
        for (const std::shared_ptr<APMUserAttribute>& attribute :
             db->userAttributesIncludingInternal(includingInternal, &error)
                 .value_or(std::vector<std::shared_ptr<APMUserAttribute>>())) {
          properties.set(attribute->name(), plainValue(attribute->value()));
        }
      }
      queue.async([callback, properties] { callback(properties); });
    });
  });
}

}  // namespace connectorfront
