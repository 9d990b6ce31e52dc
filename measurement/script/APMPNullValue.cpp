#include "measurement/script/APMPNullValue.h"

#include "measurement/script/APMPUndefinedValue.h"

const APMPValuePtr& APMPNullValue::sharedInstance() {
  static const APMPValuePtr* instance = new APMPValuePtr(std::make_shared<APMPNullValue>());  // never destroyed
  return *instance;
}

std::u16string APMPNullValue::stringValueOrError(APMPError&) const { return u"null"; }
double APMPNullValue::doubleValueOrError(APMPError&) const { return 0; }
bool APMPNullValue::booleanValueOrError(APMPError&) const { return false; }

APMPValuePtr APMPNullValue::applyWithName(const std::u16string&, const APMPValueList&, const APMPScopePtr&,
                                          APMPError& error) {
  error.set(kAPMPErrorMethodOfNothing);
  return APMPUndefined();
}
