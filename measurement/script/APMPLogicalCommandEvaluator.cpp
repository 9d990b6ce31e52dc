#include "measurement/script/APMPLogicalCommandEvaluator.h"

#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPUndefinedValue.h"

namespace {

// "1", "30": the first value decides whether the second is evaluated.
APMPValuePtr shortCircuit(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error,
                          bool continueWhen) {
  if (!APMPCheckArgumentCount(arguments, 2, error)) return APMPUndefined();
  APMPValuePtr first = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const bool truthy = first->booleanValueOrError(error);
  if (error) return APMPUndefined();
  if (truthy != continueWhen) return first;
  APMPValuePtr second = APMPEvaluator::evaluateStatement(arguments[1], scope, error);
  if (error) return APMPUndefined();
  return second;
}

APMPValuePtr logicalAnd(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  return shortCircuit(arguments, scope, error, true);
}

APMPValuePtr logicalOr(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  return shortCircuit(arguments, scope, error, false);
}

APMPValuePtr logicalNot(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 1, error)) return APMPUndefined();
  const APMPValuePtr value = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const bool truthy = value->booleanValueOrError(error);
  if (error) return APMPUndefined();
  return APMPBoolean(!truthy);
}

}  // namespace

APMPLogicalCommandEvaluator::APMPLogicalCommandEvaluator() {
  addHandler(1, logicalAnd);
  addHandler(28, logicalNot);
  addHandler(30, logicalOr);
}
