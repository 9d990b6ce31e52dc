#include "measurement/script/APMPRegisterCallbackNativeFunctionValue.h"

#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPEditingCallbackHandler.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPUndefinedValue.h"

APMPRegisterCallbackNativeFunctionValue::APMPRegisterCallbackNativeFunctionValue(
    std::shared_ptr<APMPEditingCallbackHandler> handler)
    : APMPFunctionValue(u"internal.registerCallback", {}, {}, std::make_shared<APMPScope>()),
      m_handler(std::move(handler)) {}

APMPValuePtr APMPRegisterCallbackNativeFunctionValue::invokeWithArguments(const APMPValueList& arguments,
                                                                          const APMPScopePtr& scope,
                                                                          APMPError& error) {
  if (arguments.size() != 3) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  const std::optional<APMPValueList> values = APMPEvaluator::evaluateArguments(arguments, scope, error);
  if (!values) return APMPUndefined();
  const APMPValuePtr& callback = (*values)[1];
  const APMPValuePtr& options = (*values)[2];
  if (!callback->isFunction() || !options->isMap()) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  const auto& map = static_cast<const APMPMapValue&>(*options);
  if (!map.hasProperty(u"type")) {
    error.setEditing(kAPMPEditingErrorMissingType);
    return APMPUndefined();
  }
  const std::u16string type = map.valueForProperty(u"type")->stringValueOrError(error);
  if (error) return APMPUndefined();
  int32_t priority = APMPEditingCallbackHandler::kDefaultPriority;
  if (map.hasProperty(u"priority")) {
    const double number = map.valueForProperty(u"priority")->doubleValueOrError(error);
    if (error) return APMPUndefined();
    priority = APMPToInt32(number);
  }
  m_handler->registerWithPriority(priority, std::static_pointer_cast<APMPFunctionValue>(callback), type, error);
  return APMPUndefined();
}
