#include "measurement/script/APMPFunctionEvaluator.h"

#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPUndefinedValue.h"

APMPValuePtr APMPFunctionEvaluator::evaluateCommand(const APMPStatementValue& statement, const APMPScopePtr& scope,
                                                    APMPError& error) const {
  const APMPValuePtr* value = scope->findValue(statement.functionName());
  if (value == nullptr || !(*value)->isFunction()) return APMPUndefined();
  // Held while it runs: the call may reassign the name.
  const APMPValuePtr function = *value;
  return static_cast<APMPFunctionValue&>(*function).invokeWithArguments(statement.arguments(), scope, error);
}
