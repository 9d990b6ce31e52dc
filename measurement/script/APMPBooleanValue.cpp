#include "measurement/script/APMPBooleanValue.h"

const APMPValuePtr& APMPBooleanValue::booleanValueWithBool(bool value) {
  // Never destroyed: runtimes may still use them while the process ends.
  static const APMPValuePtr* trueValue = new APMPValuePtr(std::make_shared<APMPBooleanValue>(true));
  static const APMPValuePtr* falseValue = new APMPValuePtr(std::make_shared<APMPBooleanValue>(false));
  return value ? *trueValue : *falseValue;
}

std::u16string APMPBooleanValue::stringValueOrError(APMPError&) const { return m_value ? u"true" : u"false"; }
double APMPBooleanValue::doubleValueOrError(APMPError&) const { return m_value ? 1 : 0; }
bool APMPBooleanValue::booleanValueOrError(APMPError&) const { return m_value; }
