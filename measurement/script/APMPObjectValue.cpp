#include "measurement/script/APMPObjectValue.h"

#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPUndefinedValue.h"

APMPValuePtr APMPObjectValue::applyWithName(const std::u16string& name, const APMPValueList& arguments,
                                            const APMPScopePtr& scope, APMPError& error) {
  if (const APMPValuePtr* property = m_properties.find(name)) {
    if (!(*property)->isFunction()) {
      error.set(kAPMPErrorUnknownMethod);
      return APMPUndefined();
    }
    // Held while it runs: the call may replace the property.
    const APMPValuePtr function = *property;
    return static_cast<APMPFunctionValue&>(*function).invokeWithArguments(arguments, scope, error);
  }
  if (name == u"hasOwnProperty") {
    if (arguments.size() != 1) {
      error.set(kAPMPErrorArgumentCount);
      return APMPUndefined();
    }
    const APMPValuePtr key = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
    if (error) return APMPUndefined();
    const std::u16string text = key->stringValueOrError(error);
    if (error) return APMPUndefined();
    return APMPBoolean(m_properties.hasName(text));
  }
  return APMPRuntimeValue::applyWithName(name, arguments, scope, error);
}

void APMPObjectValue::markReferences(APMPMarker& marker) const { m_properties.markValues(marker); }

void APMPObjectValue::dropReferences() { m_properties.clear(); }
