#include "measurement/script/APMPEventNativeFunctions.h"

#include <unordered_map>

#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPEventContext.h"
#include "measurement/script/APMPNullValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPParameterCoercion.h"
#include "measurement/script/APMPRuntimeEntityConverter.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "platform/text/Unicode.h"

namespace {

using Routine = APMPValuePtr (*)(APMPEvent& event, const APMPValueList& values, const APMPScope& scope,
                                 APMPError& error);

struct Method {
  size_t argumentCount;
  Routine routine;
};

APMPValuePtr getEventName(APMPEvent& event, const APMPValueList&, const APMPScope&, APMPError& error) {
  return APMPStringValue::checkedValueWithString(platform::Unicode::toUtf16(event.name()), error);
}

APMPValuePtr getParamValue(APMPEvent& event, const APMPValueList& values, const APMPScope& scope, APMPError& error) {
  const std::u16string name = values[0]->stringValueOrError(error);
  if (error) return APMPUndefined();
  const std::string key = platform::Unicode::toUtf8(name);
  if (!event.hasParameterName(key)) return APMPNull();
  return APMPRuntimeEntityConverter::runtimeValueFromNSObject(event.parameterForName(key), scope, error);
}

APMPValuePtr getParams(APMPEvent& event, const APMPValueList&, const APMPScope& scope, APMPError& error) {
  std::shared_ptr<APMPMapValue> map = APMPObjectManager::mapValueWithScope(scope);
  for (const auto& [key, value] : event.parameters()) {
    APMPValuePtr converted = APMPRuntimeEntityConverter::runtimeValueFromNSObject(value, scope, error);
    if (error) return APMPUndefined();
    map->setValueForProperty(std::move(converted), platform::Unicode::toUtf16(key));
  }
  return map;
}

APMPValuePtr getTimestamp(APMPEvent& event, const APMPValueList&, const APMPScope&, APMPError&) {
  return APMPNumber(event.timestamp());
}

APMPValuePtr setEventName(APMPEvent& event, const APMPValueList& values, const APMPScope&, APMPError& error) {
  if (values[0]->isNothing()) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  std::u16string name = values[0]->stringValueOrError(error);
  if (error) return APMPUndefined();
  event.setName(platform::Unicode::toUtf8(name));
  return APMPString(std::move(name));
}

APMPValuePtr setParamValue(APMPEvent& event, const APMPValueList& values, const APMPScope&, APMPError& error) {
  const std::u16string name = values[0]->stringValueOrError(error);
  if (error) return APMPUndefined();
  const platform::Value plain = APMPRuntimeEntityConverter::objectFromRuntimeValue(values[1], error);
  if (error) return APMPUndefined();
  const std::string key = platform::Unicode::toUtf8(name);
  event.setParameter(plain.isNull() ? plain : APMPCoerceParameterValue(key, event.parameterForName(key), plain), key);
  return values[1];
}

const std::unordered_map<std::u16string, Method>& methods() {
  static const auto* table = new std::unordered_map<std::u16string, Method>{  // never destroyed
      {u"getEventName", {0, getEventName}},   {u"getParamValue", {1, getParamValue}},
      {u"getParams", {0, getParams}},         {u"getTimestamp", {0, getTimestamp}},
      {u"setEventName", {1, setEventName}},   {u"setParamValue", {2, setParamValue}},
  };
  return *table;
}

}  // namespace

APMPEventNativeFunctions::APMPEventNativeFunctions(std::shared_ptr<APMPEventContext> eventContext)
    : m_eventContext(std::move(eventContext)) {}

APMPValuePtr APMPEventNativeFunctions::applyWithName(const std::u16string& name, const APMPValueList& arguments,
                                                     const APMPScopePtr& scope, APMPError& error) {
  const auto found = methods().find(name);
  if (found == methods().end()) return APMPMapValue::applyWithName(name, arguments, scope, error);
  const std::optional<APMPValueList> values = APMPEvaluator::evaluateArguments(arguments, scope, error);
  if (!values) return APMPUndefined();
  if (values->size() != found->second.argumentCount) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  return found->second.routine(m_eventContext->outputEvent(), *values, *scope, error);
}
