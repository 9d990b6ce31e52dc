#include "measurement/messages/APMPBFlag.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {

constexpr int32_t kNameSlot = 0;
constexpr int32_t kIntegerSlot = 1;
constexpr int32_t kStringSlot = 2;
constexpr int32_t kDoubleSlot = 3;
constexpr int32_t kBoolSlot = 4;
constexpr int64_t kErrorLevel = 1;

}  // namespace

std::shared_ptr<APMPBFlag> APMPBFlagCreate(const platform::Value& name, const platform::Value& value) {
  std::shared_ptr<APMMonitor> monitor = APMEngineServices::monitor();
  if (name.isNull()) {
    monitor->logWithLevel(kErrorLevel, 850000, "Flag name must not be nil");
    return nullptr;
  }
  if (!name.isString()) {
    monitor->logWithLevel(kErrorLevel, 850001, "Flag name must be a string",
                          APMLogContext::object(APMPBClassName(name)));
    return nullptr;
  }
  if (!value.isNumeric() && !value.isString()) {
    monitor->logWithLevel(kErrorLevel, 850002, "Flag value is invalid", APMLogContext::object(APMPBClassName(value)));
    return nullptr;
  }
  std::shared_ptr<APMPBFlag> flag = APMPBFlag::initWithBuffer({});
  if (flag == nullptr) return nullptr;
  APMPBSetString(flag.get(), kNameSlot, *name.asString());
  if (const std::string* text = value.asString()) {
    APMPBSetString(flag.get(), kStringSlot, *text);
  } else if (value.isFloatingNumber()) {
    APMPBSetDouble(flag.get(), kDoubleSlot, value.doubleValue());
  } else {
    APMPBSetInt64(flag.get(), kIntegerSlot, value.isBool() ? (*value.asBool() ? 1 : 0) : value.longLongValue());
  }
  return flag;
}

platform::Value APMPBFlagValue(const APMPBFlag* flag) {
  if (flag == nullptr) return {};
  if (APMPBHasField(flag, kIntegerSlot)) return platform::Value(APMPBGetInt64(flag, kIntegerSlot));
  if (APMPBHasField(flag, kDoubleSlot)) return platform::Value(APMPBGetDouble(flag, kDoubleSlot));
  if (APMPBHasField(flag, kStringSlot)) {
    std::optional<std::string> text = APMPBGetString(flag, kStringSlot);
    return text ? platform::Value(*text) : platform::Value();
  }
  if (APMPBHasField(flag, kBoolSlot)) return platform::Value(APMPBGetBool(flag, kBoolSlot));
  return {};
}
