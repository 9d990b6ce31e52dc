#include "measurement/script/APMPVariableCommandEvaluator.h"

#include "measurement/script/APMPArrayValue.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPNullValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"

namespace {

// The text of a string value; none with error 10 for any other kind.
const std::u16string* nameOf(const APMPValuePtr& value, APMPError& error) {
  if (!value->isString()) {
    error.set(kAPMPErrorArgumentKind);
    return nullptr;
  }
  return &static_cast<const APMPStringValue&>(*value).value();
}

// "3": assignment.
APMPValuePtr assign(const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 2, error)) return APMPUndefined();
  const std::u16string* name = nameOf(values[0], error);
  if (name == nullptr) return APMPUndefined();
  if (!scope->hasName(*name)) {
    error.set(kAPMPErrorUndeclaredName);
    return APMPUndefined();
  }
  scope->setValue(values[1], *name);
  return values[1];
}

// "41": declarations.
APMPValuePtr declare(const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  for (const APMPValuePtr& value : values) {
    const std::u16string* name = nameOf(value, error);
    if (name == nullptr) return APMPUndefined();
    scope->addValue(APMPUndefined(), *name);
  }
  return APMPUndefined();
}

// "52": constants.
APMPValuePtr declareConstants(const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (values.size() % 2 != 0) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  for (size_t i = 0; i < values.size(); i += 2) {
    const std::u16string* name = nameOf(values[i], error);
    if (name == nullptr) return APMPUndefined();
    scope->addImmutableValue(values[i + 1], *name);
  }
  return APMPUndefined();
}

// "15": look-up.
APMPValuePtr lookUp(const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 1, error)) return APMPUndefined();
  const std::u16string* name = nameOf(values[0], error);
  if (name == nullptr) return APMPUndefined();
  return scope->valueForName(*name);
}

// "16", "17": property read.
APMPValuePtr readProperty(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 2, error)) return APMPUndefined();
  const APMPValuePtr& object = values[0];
  const APMPValuePtr& key = values[1];
  switch (object->kind()) {
    case APMPValueKind::Array:
      return static_cast<const APMPArrayValue&>(*object).valueForProperty(key, error);
    case APMPValueKind::Map:
    case APMPValueKind::Function: {
      const std::u16string name = key->stringValueOrError(error);
      if (error) return APMPUndefined();
      return static_cast<const APMPObjectValue&>(*object).valueForProperty(name);
    }
    case APMPValueKind::String: {
      const std::u16string& text = static_cast<const APMPStringValue&>(*object).value();
      if (key->isString() && static_cast<const APMPStringValue&>(*key).value() == u"length") {
        return APMPNumber(static_cast<double>(text.size()));
      }
      const std::optional<double> index = APMPArrayValue::arrayIndex(*key);
      if (index && *index < static_cast<double>(text.size())) {
        return APMPString(std::u16string(1, text[static_cast<size_t>(*index)]));
      }
      return APMPUndefined();
    }
    default:
      return APMPUndefined();
  }
}

// "43": property store; the value is the result even after an array's error.
APMPValuePtr writeProperty(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 3, error)) return APMPUndefined();
  const APMPValuePtr& object = values[0];
  const APMPValuePtr& value = values[2];
  switch (object->kind()) {
    case APMPValueKind::Undefined:
    case APMPValueKind::Null:
      error.set(kAPMPErrorPropertyOfNothing);
      return APMPUndefined();
    case APMPValueKind::Array:
      static_cast<APMPArrayValue&>(*object).setValueForProperty(value, values[1], error);
      return value;
    case APMPValueKind::Map:
    case APMPValueKind::Function: {
      const std::u16string name = values[1]->stringValueOrError(error);
      if (error) return APMPUndefined();
      static_cast<APMPObjectValue&>(*object).setValueForProperty(value, name);
      return value;
    }
    default:
      return value;
  }
}

// "7": array literal.
APMPValuePtr arrayLiteral(const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (values.size() > APMPRuntimeValue::kMaxArrayLength) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  return APMPObjectManager::arrayValueWithArray(values, *scope);
}

// "8": map literal.
APMPValuePtr mapLiteral(const APMPValueList& values, const APMPScopePtr& scope, APMPError& error) {
  if (values.size() % 2 != 0) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  std::shared_ptr<APMPMapValue> map = APMPObjectManager::mapValueWithScope(*scope);
  for (size_t i = 0; i < values.size(); i += 2) {
    const std::u16string key = values[i]->stringValueOrError(error);
    if (error) return APMPUndefined();
    map->setValueForProperty(values[i + 1], key);
  }
  return map;
}

// "40": type name.
APMPValuePtr typeName(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 1, error)) return APMPUndefined();
  switch (values[0]->kind()) {
    case APMPValueKind::Boolean:
      return APMPString(u"boolean");
    case APMPValueKind::Function:
      return APMPString(u"function");
    case APMPValueKind::Number:
      return APMPString(u"number");
    case APMPValueKind::String:
      return APMPString(u"string");
    case APMPValueKind::Undefined:
      return APMPString(u"undefined");
    default:
      return APMPString(u"object");
  }
}

APMPValuePtr undefinedLiteral(const APMPValueList&, const APMPScopePtr&, APMPError&) { return APMPUndefined(); }
APMPValuePtr nullLiteral(const APMPValueList&, const APMPScopePtr&, APMPError&) { return APMPNull(); }

}  // namespace

APMPVariableCommandEvaluator::APMPVariableCommandEvaluator() : APMPCommandEvaluator(ArgumentPassing::Evaluated) {
  addHandler(3, assign);
  addHandler(7, arrayLiteral);
  addHandler(8, mapLiteral);
  addHandler(15, lookUp);
  addHandler(16, readProperty);
  addHandler(17, readProperty);
  addHandler(40, typeName);
  addHandler(41, declare);
  addHandler(43, writeProperty);
  addHandler(44, undefinedLiteral);
  addHandler(45, nullLiteral);
  addHandler(52, declareConstants);
}
