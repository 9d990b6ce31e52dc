#include "measurement/script/APMPUndefinedValue.h"

#include <limits>

const APMPValuePtr& APMPUndefinedValue::sharedInstance() {
  static const APMPValuePtr* instance = new APMPValuePtr(std::make_shared<APMPUndefinedValue>());  // never destroyed
  return *instance;
}

std::u16string APMPUndefinedValue::stringValueOrError(APMPError&) const { return u"undefined"; }
double APMPUndefinedValue::doubleValueOrError(APMPError&) const { return std::numeric_limits<double>::quiet_NaN(); }
bool APMPUndefinedValue::booleanValueOrError(APMPError&) const { return false; }

APMPValuePtr APMPUndefinedValue::applyWithName(const std::u16string&, const APMPValueList&, const APMPScopePtr&,
                                               APMPError& error) {
  error.set(kAPMPErrorMethodOfNothing);
  return APMPUndefined();
}
