#include "measurement/script/APMPEvaluator.h"

#include "measurement/script/APMPCommandRegistrar.h"
#include "measurement/script/APMPUndefinedValue.h"

APMPValuePtr APMPEvaluator::evaluateStatement(const APMPValuePtr& value, const APMPScopePtr& scope,
                                              APMPError& error) {
  return APMPCommandRegistrar::sharedInstance().evaluateStatement(value, scope, error);
}

APMPValuePtr APMPEvaluator::executeStatements(const APMPValueList& statements, const APMPScopePtr& scope,
                                              APMPError& error) {
  APMPValuePtr result = APMPUndefined();
  for (const APMPValuePtr& statement : statements) {
    result = evaluateStatement(statement, scope, error);
    if (error) return APMPUndefined();
    if (result->isControl()) return result;
  }
  return result;
}

std::optional<APMPValueList> APMPEvaluator::evaluateArguments(const APMPValueList& arguments,
                                                              const APMPScopePtr& scope, APMPError& error) {
  APMPValueList values;
  values.reserve(arguments.size());
  for (const APMPValuePtr& argument : arguments) {
    values.push_back(evaluateStatement(argument, scope, error));
    if (error) return std::nullopt;
  }
  return values;
}
