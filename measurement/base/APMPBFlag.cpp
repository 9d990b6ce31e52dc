#include "measurement/base/APMPBFlag.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/messages/APMPBFieldAccess.h"

namespace {

using Slot = APMPBFlagSlot;
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
  APMPBSetString(flag.get(), Slot::kName, *name.asString());
  if (const std::string* text = value.asString()) {
    APMPBSetString(flag.get(), Slot::kStringValue, *text);
  } else if (value.isFloatingNumber()) {
    APMPBSetDouble(flag.get(), Slot::kDoubleValue, value.doubleValue());
  } else {
    APMPBSetInt64(flag.get(), Slot::kIntValue, value.isBool() ? (*value.asBool() ? 1 : 0) : value.longLongValue());
  }
  return flag;
}

platform::Value APMPBFlagValue(const APMPBFlag* flag) {
  if (flag == nullptr) return {};
  if (APMPBHasField(flag, Slot::kIntValue)) return platform::Value(APMPBGetInt64(flag, Slot::kIntValue));
  if (APMPBHasField(flag, Slot::kDoubleValue)) return platform::Value(APMPBGetDouble(flag, Slot::kDoubleValue));
  if (APMPBHasField(flag, Slot::kStringValue)) {
    std::optional<std::string> text = APMPBGetString(flag, Slot::kStringValue);
    return text ? platform::Value(*text) : platform::Value();
  }
  if (APMPBHasField(flag, Slot::kBoolValue)) return platform::Value(APMPBGetBool(flag, Slot::kBoolValue));
  return {};
}
