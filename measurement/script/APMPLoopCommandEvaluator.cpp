#include "measurement/script/APMPLoopCommandEvaluator.h"

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPControlValue.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPObjectValue.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"

namespace {

enum class Binding { Assigned, Constant, Variable };

// What a pass's outcome means for the loop.
enum class PassOutcome { Next, Stop };

// Runs the body once; Stop with the loop's result in `result` after an
// error, a break or a return.
PassOutcome runPass(const APMPValueList& body, const APMPScopePtr& scope, APMPError& error, APMPValuePtr& result) {
  const APMPValuePtr outcome = APMPEvaluator::executeStatements(body, scope, error);
  if (error) {
    result = APMPUndefined();
    return PassOutcome::Stop;
  }
  if (outcome->isControl()) {
    const auto& control = static_cast<const APMPControlValue&>(*outcome);
    if (control.isBreak()) {
      result = APMPUndefined();
      return PassOutcome::Stop;
    }
    if (control.isReturn()) {
      result = outcome;
      return PassOutcome::Stop;
    }
  }
  return PassOutcome::Next;
}

APMPValueList keysOf(const APMPValuePtr& collection) {
  APMPValueList keys;
  switch (collection->kind()) {
    case APMPValueKind::String: {
      const size_t length = static_cast<const APMPStringValue&>(*collection).value().size();
      for (size_t i = 0; i < length; ++i) keys.push_back(APMPString(APMPNumberValue::u16StringFromDouble(double(i))));
      break;
    }
    case APMPValueKind::Array:
      keys = static_cast<const APMPArrayValue&>(*collection).allPropertyNames();
      break;
    case APMPValueKind::Map:
    case APMPValueKind::Function:
      for (const std::u16string& name : static_cast<const APMPObjectValue&>(*collection).allPropertyNames()) {
        keys.push_back(APMPString(name));
      }
      break;
    default:
      break;
  }
  return keys;
}

std::optional<APMPValueList> valuesOf(const APMPValuePtr& collection, APMPError& error) {
  if (collection->isString()) {
    APMPValueList values;
    for (char16_t unit : static_cast<const APMPStringValue&>(*collection).value()) {
      values.push_back(APMPString(std::u16string(1, unit)));
    }
    return values;
  }
  if (collection->isArray()) return static_cast<const APMPArrayValue&>(*collection).allElements();
  error.set(kAPMPErrorNotIterable);
  return std::nullopt;
}

// The key and value loops: name, collection, body.
APMPValuePtr iterate(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error, bool overKeys,
                     Binding binding) {
  if (!APMPCheckArgumentCount(arguments, 3, error)) return APMPUndefined();
  const APMPValuePtr nameValue = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const std::u16string name = nameValue->stringValueOrError(error);
  if (error) return APMPUndefined();
  const APMPValuePtr collection = APMPEvaluator::evaluateStatement(arguments[1], scope, error);
  if (error) return APMPUndefined();
  const APMPValuePtr bodyValue = APMPEvaluator::evaluateStatement(arguments[2], scope, error);
  if (error) return APMPUndefined();
  if (!bodyValue->isArray()) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  const APMPValueList body = static_cast<const APMPArrayValue&>(*bodyValue).allElements();
  APMPValueList items;
  if (overKeys) {
    items = keysOf(collection);
  } else if (std::optional<APMPValueList> values = valuesOf(collection, error)) {
    items = std::move(*values);
  } else {
    return APMPUndefined();
  }

  for (const APMPValuePtr& item : items) {
    APMPScopePtr passScope = scope;
    switch (binding) {
      case Binding::Assigned:
        scope->setValue(item, name);
        break;
      case Binding::Constant:
        passScope = scope->createChildScope();
        passScope->addImmutableValue(item, name);
        break;
      case Binding::Variable:
        passScope = scope->createChildScope();
        passScope->addValue(item, name);
        break;
    }
    APMPValuePtr result;
    if (runPass(body, passScope, error, result) == PassOutcome::Stop) return result;
  }
  return APMPUndefined();
}

APMPValuePtr keysAssigned(const APMPValueList& a, const APMPScopePtr& s, APMPError& e) {
  return iterate(a, s, e, true, Binding::Assigned);
}
APMPValuePtr keysConstant(const APMPValueList& a, const APMPScopePtr& s, APMPError& e) {
  return iterate(a, s, e, true, Binding::Constant);
}
APMPValuePtr keysVariable(const APMPValueList& a, const APMPScopePtr& s, APMPError& e) {
  return iterate(a, s, e, true, Binding::Variable);
}
APMPValuePtr valuesAssigned(const APMPValueList& a, const APMPScopePtr& s, APMPError& e) {
  return iterate(a, s, e, false, Binding::Assigned);
}
APMPValuePtr valuesConstant(const APMPValueList& a, const APMPScopePtr& s, APMPError& e) {
  return iterate(a, s, e, false, Binding::Constant);
}
APMPValuePtr valuesVariable(const APMPValueList& a, const APMPScopePtr& s, APMPError& e) {
  return iterate(a, s, e, false, Binding::Variable);
}

// A condition's truthiness; none after an error (which ends the loop with it).
std::optional<bool> holds(const APMPValuePtr& condition, const APMPScopePtr& scope, APMPError& error) {
  const APMPValuePtr value = APMPEvaluator::evaluateStatement(condition, scope, error);
  if (error) return std::nullopt;
  const bool truthy = value->booleanValueOrError(error);
  if (error) return std::nullopt;
  return truthy;
}

// "63": names, condition, update, body.
APMPValuePtr countingLoop(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 4, error)) return APMPUndefined();
  const APMPValuePtr namesValue = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
  if (error) return APMPUndefined();
  if (!namesValue->isArray()) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  const APMPValuePtr bodyValue = APMPEvaluator::evaluateStatement(arguments[3], scope, error);
  if (error) return APMPUndefined();
  if (!bodyValue->isArray()) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  std::vector<std::u16string> names;
  for (const APMPValuePtr& name : static_cast<const APMPArrayValue&>(*namesValue).allElements()) {
    names.push_back(name->stringValueOrError(error));
    if (error) return APMPUndefined();
  }
  const APMPValueList body = static_cast<const APMPArrayValue&>(*bodyValue).allElements();

  auto copyInto = [&](const APMPScope& from) {
    APMPScopePtr next = scope->createChildScope();
    for (const std::u16string& name : names) next->addValue(from.valueForName(name), name);
    return next;
  };
  APMPScopePtr passScope = copyInto(*scope);
  while (true) {
    const std::optional<bool> going = holds(arguments[1], passScope, error);
    if (!going || !*going) return APMPUndefined();
    APMPValuePtr result;
    if (runPass(body, passScope, error, result) == PassOutcome::Stop) return result;
    APMPScopePtr nextScope = copyInto(*passScope);
    APMPEvaluator::evaluateStatement(arguments[2], nextScope, error);
    if (error) return APMPUndefined();
    passScope = std::move(nextScope);
  }
}

// "42": condition, update, first test, body.
APMPValuePtr conditionalLoop(const APMPValueList& arguments, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(arguments, 4, error)) return APMPUndefined();
  const std::optional<bool> firstTest = holds(arguments[2], scope, error);
  if (!firstTest) return APMPUndefined();
  const APMPValuePtr bodyValue = APMPEvaluator::evaluateStatement(arguments[3], scope, error);
  if (error) return APMPUndefined();
  if (!bodyValue->isArray()) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  const APMPValueList body = static_cast<const APMPArrayValue&>(*bodyValue).allElements();
  APMPValuePtr result;
  if (*firstTest && runPass(body, scope, error, result) == PassOutcome::Stop) return result;
  while (true) {
    const std::optional<bool> going = holds(arguments[0], scope, error);
    if (!going || !*going) return APMPUndefined();
    if (runPass(body, scope, error, result) == PassOutcome::Stop) return result;
    APMPEvaluator::evaluateStatement(arguments[1], scope, error);
    if (error) return APMPUndefined();
  }
}

}  // namespace

APMPLoopCommandEvaluator::APMPLoopCommandEvaluator() {
  addHandler(42, conditionalLoop);
  addHandler(47, keysAssigned);
  addHandler(54, keysConstant);
  addHandler(55, keysVariable);
  addHandler(63, countingLoop);
  addHandler(64, valuesAssigned);
  addHandler(65, valuesConstant);
  addHandler(66, valuesVariable);
}
