#include "measurement/script/APMPEditingCallbackHandler.h"

#include <algorithm>

#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPEventContext.h"
#include "measurement/script/APMPEventNativeFunctions.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPScope.h"

bool APMPEditingCallbackHandler::registerWithPriority(int32_t priority, std::shared_ptr<APMPFunctionValue> callback,
                                                      const std::u16string& ruleType, APMPError& error) {
  if (m_editCallbackMap.size() + m_createCallbackMap.size() >= kMaxCallbacks) {
    error.setEditing(kAPMPEditingErrorTooManyCallbacks);
    return false;
  }
  if (ruleType == u"create") {
    addCallback(std::move(callback), m_createCallbackMap, m_sortedCreatePriorities, priority);
  } else if (ruleType == u"edit") {
    addCallback(std::move(callback), m_editCallbackMap, m_sortedEditPriorities, priority);
  } else {
    error.setEditing(kAPMPEditingErrorUnknownType);
    return false;
  }
  return true;
}

void APMPEditingCallbackHandler::addCallback(std::shared_ptr<APMPFunctionValue> callback, CallbackMap& dictionary,
                                             std::vector<int64_t>& keyArray, int64_t priority) {
  int64_t key = priority;
  if (dictionary.contains(key)) key = keyArray.back() + 1;
  dictionary[key] = std::move(callback);
  keyArray.push_back(key);
  std::sort(keyArray.begin(), keyArray.end());
}

int32_t APMPEditingCallbackHandler::invokeCallbackWithScope(const APMPScopePtr& scope, APMPFunctionValue& function,
                                                            const APMPValuePtr& eventHandler, APMPError& error) {
  const APMPValuePtr result = function.invokeWithArguments({eventHandler}, scope, error);
  if (error) return kDiscardChanges;
  if (!result->isNumber()) return kNoResult;
  return APMPToInt32(static_cast<const APMPNumberValue&>(*result).value());
}

bool APMPEditingCallbackHandler::triggerCallbacksWithScope(const APMPScopePtr& scope,
                                                           const std::shared_ptr<APMPEventContext>& eventContext,
                                                           APMPError& error) {
  auto eventObject = std::make_shared<APMPEventNativeFunctions>(eventContext);
  if (APMPObjectManager* manager = scope->objectManager()) manager->addObject(eventObject);
  // The callbacks as they stand now: what a callback registers runs next time.
  std::vector<std::shared_ptr<APMPFunctionValue>> edits;
  for (int64_t key : m_sortedEditPriorities) edits.push_back(m_editCallbackMap.at(key));
  std::vector<std::shared_ptr<APMPFunctionValue>> creates;
  for (int64_t key : m_sortedCreatePriorities) creates.push_back(m_createCallbackMap.at(key));

  for (const std::shared_ptr<APMPFunctionValue>& callback : edits) {
    APMPEvent before = eventContext->outputEvent().copy();
    const int32_t code = invokeCallbackWithScope(scope, *callback, eventObject, error);
    if (error) {
      eventContext->setOutputEvent(std::move(before));
      return false;
    }
    if (code == kDiscardChanges || code == kNoResult) eventContext->setOutputEvent(std::move(before));
  }
  for (const std::shared_ptr<APMPFunctionValue>& callback : creates) {
    invokeCallbackWithScope(scope, *callback, eventObject, error);
    if (error) return false;
  }
  return true;
}

void APMPEditingCallbackHandler::mark(APMPMarker& marker) const {
  for (const auto& [key, callback] : m_editCallbackMap) marker.mark(callback.get());
  for (const auto& [key, callback] : m_createCallbackMap) marker.mark(callback.get());
}
