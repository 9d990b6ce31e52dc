#include "measurement/script/APMPControlCommandEvaluator.h"

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPControlValue.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"

namespace {

APMPValuePtr evaluate(const APMPValuePtr& value, const APMPScopePtr& scope, APMPError& error) {
  return APMPEvaluator::evaluateStatement(value, scope, error);
}

const APMPArrayValue* asArray(const APMPValuePtr& value) {
  return value->isArray() ? static_cast<const APMPArrayValue*>(value.get()) : nullptr;
}

// "2": target, method name, argument array.
APMPValuePtr callMethod(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 3, error)) return APMPUndefined();
  const APMPValuePtr target = evaluate(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const APMPValuePtr name = evaluate(arguments[1], scope, error);
  if (error) return APMPUndefined();
  const APMPValuePtr list = evaluate(arguments[2], scope, error);
  if (error) return APMPUndefined();
  const APMPArrayValue* methodArguments = asArray(list);
  if (!name->isString() || methodArguments == nullptr) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  return target->applyWithName(static_cast<const APMPStringValue&>(*name).value(), methodArguments->allElements(),
                               scope, error);
}

APMPValuePtr breakCommand(const APMPValueList& arguments, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 0, error)) return APMPUndefined();
  return APMPControlValue::breakValue();
}

APMPValuePtr continueCommand(const APMPValueList& arguments, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 0, error)) return APMPUndefined();
  return APMPControlValue::continueValue();
}

// "5", "9": an array whose elements are executed here.
APMPValuePtr block(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 1, error)) return APMPUndefined();
  const APMPValuePtr list = evaluate(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const APMPArrayValue* statements = asArray(list);
  if (statements == nullptr) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  return APMPEvaluator::executeStatements(statements->allElements(), scope, error);
}

// "13": a sequence of expressions.
APMPValuePtr sequence(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (arguments.empty()) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  APMPValuePtr result;
  for (const APMPValuePtr& argument : arguments) {
    result = evaluate(argument, scope, error);
    if (error) return APMPUndefined();
    if (result->isControl()) {
      error.set(kAPMPErrorArgumentKind);
      return APMPUndefined();
    }
  }
  return result;
}

// A branch's value: an array (normally from "46") is executed here.
APMPValuePtr branchResult(const APMPValuePtr& value, const APMPScopePtr& scope, APMPError& error) {
  if (const APMPArrayValue* statements = asArray(value)) {
    return APMPEvaluator::executeStatements(statements->allElements(), scope, error);
  }
  return value;
}

// "22": if.
APMPValuePtr conditional(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentRange(arguments, 1, 3, error)) return APMPUndefined();
  const APMPValuePtr condition = evaluate(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const bool holds = condition->booleanValueOrError(error);
  if (error) return APMPUndefined();
  const size_t branch = holds ? 1 : 2;
  if (branch >= arguments.size()) return APMPUndefined();
  const APMPValuePtr value = evaluate(arguments[branch], scope, error);
  if (error) return APMPUndefined();
  return branchResult(value, scope, error);
}

// "36": return [value].
APMPValuePtr returnCommand(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentRange(arguments, 0, 1, error)) return APMPUndefined();
  if (arguments.empty()) return APMPControlValue::returnValueWithData(APMPUndefined());
  APMPValuePtr data = evaluate(arguments[0], scope, error);
  if (error) return APMPUndefined();
  return APMPControlValue::returnValueWithData(std::move(data));
}

// "38": switch.
APMPValuePtr switchCommand(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 3, error)) return APMPUndefined();
  const APMPValuePtr discriminant = evaluate(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const APMPValuePtr caseList = evaluate(arguments[1], scope, error);
  if (error) return APMPUndefined();
  const APMPValuePtr bodyList = evaluate(arguments[2], scope, error);
  if (error) return APMPUndefined();
  if (!caseList->isArray() || !bodyList->isArray()) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  const APMPValueList cases = static_cast<const APMPArrayValue&>(*caseList).allElements();
  const APMPValueList bodies = static_cast<const APMPArrayValue&>(*bodyList).allElements();

  size_t matched = cases.size();
  for (size_t i = 0; i < cases.size(); ++i) {
    const APMPValuePtr candidate = evaluate(cases[i], scope, error);
    if (error) return APMPUndefined();
    if (APMPStrictEquals(*candidate, *discriminant)) {
      matched = i;
      break;
    }
  }
  // From the matching case on, through the bodies of the later cases.
  for (size_t i = matched; i < cases.size() && i < bodies.size(); ++i) {
    const APMPValuePtr result = evaluate(bodies[i], scope, error);
    if (error) return APMPUndefined();
    if (result->isControl()) {
      return static_cast<const APMPControlValue&>(*result).isBreak() ? APMPUndefined() : result;
    }
  }
  if (bodies.size() == cases.size() + 1) {
    const APMPValuePtr result = evaluate(bodies.back(), scope, error);
    if (error) return APMPUndefined();
    if (result->isControl() && !static_cast<const APMPControlValue&>(*result).isBreak()) return result;
  }
  return APMPUndefined();
}

// "39": condition ? then : else.
APMPValuePtr ternary(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 3, error)) return APMPUndefined();
  const APMPValuePtr condition = evaluate(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const bool holds = condition->booleanValueOrError(error);
  if (error) return APMPUndefined();
  return evaluate(arguments[holds ? 1 : 2], scope, error);
}

// "46": the raw arguments, kept for later.
APMPValuePtr statementList(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (arguments.size() > APMPRuntimeValue::kMaxArrayLength) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  return APMPObjectManager::arrayValueWithArray(arguments, *scope);
}

// "51": name, parameter names, body.
std::shared_ptr<APMPFunctionValue> makeFunction(const APMPValueList& arguments, const APMPScopePtr& scope,
                                                APMPError& error) {
  if (arguments.size() < 2) {
    error.set(kAPMPErrorArgumentCount);
    return nullptr;
  }
  std::u16string name = arguments[0]->stringValueOrError(error);
  if (error) return nullptr;
  const APMPValuePtr parameterList = evaluate(arguments[1], scope, error);
  if (error) return nullptr;
  if (!parameterList->isArray()) {
    error.set(kAPMPErrorArgumentKind);
    return nullptr;
  }
  std::vector<std::u16string> parameters;
  for (const APMPValuePtr& parameter : static_cast<const APMPArrayValue&>(*parameterList).allElements()) {
    parameters.push_back(parameter->stringValueOrError(error));
    if (error) return nullptr;
  }
  APMPValueList body(arguments.begin() + 2, arguments.end());
  return APMPObjectManager::functionValueWithFunctionName(std::move(name), std::move(parameters), std::move(body),
                                                          scope);
}

APMPValuePtr functionExpression(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  std::shared_ptr<APMPFunctionValue> function = makeFunction(arguments, scope, error);
  if (!function) return APMPUndefined();
  return function;
}

// "50": function declaration.
APMPValuePtr functionDeclaration(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  std::shared_ptr<APMPFunctionValue> function = makeFunction(arguments, scope, error);
  if (!function) return APMPUndefined();
  scope->setValue(function, function->functionName());
  return function;
}

// "53": a block with its own scope.
APMPValuePtr scopedBlock(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  return APMPEvaluator::executeStatements(arguments, scope->createChildScope(), error);
}

}  // namespace

APMPControlCommandEvaluator::APMPControlCommandEvaluator() {
  addHandler(2, callMethod);
  addHandler(4, breakCommand);
  addHandler(5, block);
  addHandler(6, continueCommand);
  addHandler(9, block);
  addHandler(13, sequence);
  addHandler(22, conditional);
  addHandler(36, returnCommand);
  addHandler(38, switchCommand);
  addHandler(39, ternary);
  addHandler(46, statementList);
  addHandler(50, functionDeclaration);
  addHandler(51, functionExpression);
  addHandler(53, scopedBlock);
}
