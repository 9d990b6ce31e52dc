#include "measurement/features/APMLifetimeValueRecorder.h"

#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMEvent.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMUserAttribute.h"
#include "measurement/base/APMValue.h"
#include "platform/text/Unicode.h"
#include "platform/time/Clock.h"

namespace {

APMMonitor& monitor() { return *APMEngineServices::monitor(); }

bool isEcommercePurchaseName(const std::string& name) {
  return name == "ecommerce_purchase" || name == "purchase" || name == "refund";
}

// A double as a whole signed 64-bit number (already rounded or truncated);
// none when it is not finite or out of range.
std::optional<int64_t> wholeInt64(double whole) {
  // 2^63 is exact as a double; the range is [-2^63, 2^63).
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(whole) || whole < -kLimit || whole >= kLimit) return std::nullopt;
  return static_cast<int64_t>(whole);
}

// The amount an event adds, in millionths; none when it does not fit.
std::optional<int64_t> amountOfEvent(const APMEvent& event, const APMValue& value) {
  const std::string& name = event.name();
  if (isEcommercePurchaseName(name)) {
    std::optional<int64_t> amount;
    if (value.isInt64()) {
      int64_t scaled = 0;
      if (!__builtin_mul_overflow(value.int64Value(), int64_t{1000000}, &scaled)) amount = scaled;
    } else {
      amount = wholeInt64(std::round(value.doubleValue() * 1000000.0));
    }
    if (!amount || name != "refund") return amount;
    int64_t negated = 0;
    if (__builtin_sub_overflow(int64_t{0}, *amount, &negated)) return std::nullopt;
    return negated;
  }
  if (name == "_iap") return value.isInt64() ? value.int64Value() : wholeInt64(std::trunc(value.doubleValue()));
  return 0;
}

}  // namespace

bool APMLifetimeValueRecorder::isEcommercePurchaseEvent(const APMEvent& event) {
  return isEcommercePurchaseName(event.name());
}

bool APMLifetimeValueRecorder::isPurchaseEvent(const APMEvent& event) {
  return event.name() == "_iap" || event.name() == "in_app_purchase" || isEcommercePurchaseEvent(event);
}

bool APMLifetimeValueRecorder::recordLifetimeValueToDatabase(APMDatabase& database, const APMEvent& event) {
  if (!isPurchaseEvent(event)) return false;
  const platform::Dictionary parameters = event.parameters();
  const platform::Value currencyObject = parameters.get("currency");
  APMValuePtr currency = APMValue::fromObject(currencyObject);
  std::optional<std::string> currencyText = currency ? currency->stringValue() : std::nullopt;
  if (!currency || !currency->isString() || !currencyText || platform::Unicode::utf16Length(*currencyText) != 3) {
    monitor().logWithLevel(1, 22000, "Cannot record transaction with invalid currency code",
                           currency ? platform::Value(currency->description()) : currencyObject);
    return false;
  }
  APMValuePtr value = APMValue::fromObject(parameters.get("value"));
  if (!value || !(value->isDouble() || value->isInt64())) {
    monitor().logWithLevel(1, 22001, "Cannot record transaction with invalid transaction value");
    return false;
  }
  std::optional<int64_t> amount = amountOfEvent(event, *value);
  if (!amount) {
    monitor().logWithLevel(1, 22002, "Cannot record transaction with value that is out of bounds");
    return false;
  }

  const std::string name = std::string(kPropertyPrefix) + platform::Unicode::uppercase(*currencyText);
  platform::Error error;
  std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> tracked =
      database.allLifetimeValueUserAttributes(&error);
  if (!tracked) {
    monitor().logWithLevel(1, 22003, "Failed to query all Lifetime Value User properties. Error", error);
    return false;
  }
  std::shared_ptr<APMUserAttribute> existing;
  for (const std::shared_ptr<APMUserAttribute>& property : *tracked) {
    if (property && property->name() == name) existing = property;
  }

  int64_t total = *amount;
  if (existing) {
    const int64_t previous = existing->value() ? existing->value()->int64Value() : 0;
    if (__builtin_add_overflow(previous, *amount, &total)) {
      monitor().logWithLevel(1, 22002, "Cannot record transaction with value that is out of bounds");
      return false;
    }
  } else if (!tracked->empty() && tracked->back() &&
             static_cast<int64_t>(tracked->size()) >= APMEngineServices::remoteConfig()->maxTrackedCurrencies()) {
    const std::string& dropped = tracked->back()->name();
    if (!database.deleteUserAttributeWithName(dropped, &error)) {
      monitor().logWithLevel(1, 22004, "Unable to delete Lifetime Value User property. Name, error",
                             platform::Value(dropped), error);
      return false;
    }
  }

  std::shared_ptr<APMUserAttribute> property = APMUserAttribute::initWithOrigin(
      "auto", name, APMValue::initWithInt64(total), platform::Clock::current()->now());
  if (!property || !database.updateUserAttribute(property.get(), &error)) {
    monitor().logWithLevel(1, 22005, "Unable to upsert Lifetime Value User Attribute in database. Name, error",
                           platform::Value(name), error);
    return false;
  }
  monitor().logWithLevel(7, 22006, "Lifetime value has been updated in database");
  return true;
}
