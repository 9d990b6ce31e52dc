#include "measurement/script/APMPEventEditing.h"

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/script/APMPEditingCallbackHandler.h"
#include "measurement/script/APMPEventContext.h"
#include "measurement/script/APMPEventLogger.h"
#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPKeyValueStore.h"
#include "measurement/script/APMPMessageLogger.h"
#include "measurement/script/APMPObjectProvider.h"
#include "measurement/script/APMPRegisterCallbackNativeFunctionValue.h"
#include "measurement/script/APMPRuntime.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPixieLogger.h"
#include "platform/text/Unicode.h"

namespace {

std::vector<const NANOMessageBase*> pointers(const std::vector<APMPBMessageView>& views) {
  std::vector<const NANOMessageBase*> items;
  items.reserve(views.size());
  for (const APMPBMessageView& view : views) items.push_back(&view);
  return items;
}

// The native module a settings description stands for.
APMPValuePtr nativeModule(const APMEventEditingModule& description) {
  if (const auto* store = std::get_if<APMEventEditingKeyValueStore>(&description)) {
    return std::make_shared<APMPKeyValueStore>(platform::Unicode::toUtf16(store->functionName), store->valueForKey);
  }
  if (const auto* provider = std::get_if<APMEventEditingObjectProvider>(&description)) {
    return std::make_shared<APMPObjectProvider>(platform::Unicode::toUtf16(provider->name), provider->object);
  }
  return std::make_shared<APMPMessageLogger>(std::make_shared<APMPixieLogger>());
}

bool failed(const APMPError& error, platform::Error* out) {
  if (out != nullptr) *out = error.error();
  return false;
}

}  // namespace

APMPEventEditing::APMPEventEditing() : APMPEventEditing(std::make_shared<APMPRuntime>()) {}

APMPEventEditing::APMPEventEditing(std::shared_ptr<APMPRuntime> runtime)
    : m_runtime(std::move(runtime)),
      m_eventContext(std::make_shared<APMPEventContext>()),
      m_callbackHandler(std::make_shared<APMPEditingCallbackHandler>()) {
  m_runtime->addGarbageCollectionRoot(m_callbackHandler);
  std::weak_ptr<APMPEditingCallbackHandler> handler = m_callbackHandler;
  m_runtime->setModuleCreator(
      [handler]() -> APMPValuePtr {
        std::shared_ptr<APMPEditingCallbackHandler> strong = handler.lock();
        if (!strong) return nullptr;
        return std::make_shared<APMPRegisterCallbackNativeFunctionValue>(std::move(strong));
      },
      "internal.registerCallback");
  std::weak_ptr<APMPEventContext> context = m_eventContext;
  m_runtime->setModuleCreator(
      [context]() -> APMPValuePtr {
        std::shared_ptr<APMPEventContext> strong = context.lock();
        if (!strong) return nullptr;
        return std::make_shared<APMPEventLogger>(std::move(strong));
      },
      "internal.eventLogger");
}

APMPEventEditing::~APMPEventEditing() = default;

void APMPEventEditing::setModuleCreator(APMPModuleCreator creator, const std::string& name) {
  m_runtime->setModuleCreator(std::move(creator), name);
}

void APMPEventEditing::setModuleCreator(ModuleCreator creator, const std::string& name) {
  if (!creator) return;
  m_runtime->setModuleCreator([creator = std::move(creator)] { return nativeModule(creator()); }, name);
}

bool APMPEventEditing::loadProgram(const APMPBProgram& program, platform::Error* error) {
  APMPError failure;
  const std::vector<APMPBMessageView> statements = APMPBGetMessageViews(&program, APMPBProgramSlot::kInstructions);
  const APMPValuePtr result = m_runtime->executeStatements(pointers(statements), failure);
  if (failure) return failed(failure, error);
  if (result->isControl()) {
    failure.setEditing(kAPMPEditingErrorControlAtTopLevel);
    return failed(failure, error);
  }
  if (APMPBHasField(&program, APMPBProgramSlot::kOgtActivities)) {
    const std::shared_ptr<APMPBOgtActivities> activities =
        APMPBGetMessage<APMPBOgtActivities>(&program, APMPBProgramSlot::kOgtActivities);
    if (activities) {
      for (const APMPBMessageView& activity : APMPBGetMessageViews(activities.get(), APMPBOgtActivitiesSlot::kActivities)) {
        if (!loadActivityData(activity, failure)) return failed(failure, error);
      }
    }
  }
  m_runtime->collectGarbage();
  return true;
}

bool APMPEventEditing::loadActivityData(const NANOMessageBase& activity, APMPError& error) {
  const std::u16string name = platform::Unicode::toUtf16(APMPBGetString(&activity, APMPBOgtActivitySlot::kName).value_or(""));
  for (const APMPBMessageView& rule : APMPBGetMessageViews(&activity, APMPBOgtActivitySlot::kData)) {
    const APMPValuePtr value = m_runtime->executeStatements({&rule}, error);
    if (error) return false;
    if (!value->isMap()) {
      error.setEditing(kAPMPEditingErrorRuleNotMap);
      return false;
    }
    if (!registerRuleWithName(name, value, error)) return false;
  }
  return true;
}

bool APMPEventEditing::registerRuleWithName(const std::u16string& name, const APMPValuePtr& rule, APMPError& error) {
  const APMPScopePtr runScope = m_runtime->getRunScope();
  const APMPValuePtr function = runScope->valueForName(name);
  if (!function->isFunction()) {
    error.setEditing(kAPMPEditingErrorRuleHandlerMissing);
    return false;
  }
  static_cast<APMPFunctionValue&>(*function).invokeWithArguments({rule}, runScope, error);
  return !error;
}

bool APMPEventEditing::handleEvent(const APMPEvent& event, platform::Error* error) {
  m_eventContext->setInputEvent(event);
  m_runtime->resetInstructionCount();
  APMPError failure;
  m_callbackHandler->triggerCallbacksWithScope(m_runtime->getRunScope(), m_eventContext, failure);
  m_runtime->collectGarbage();
  if (failure) return failed(failure, error);
  return hasEdits() || hasCreatedEvents();
}

bool APMPEventEditing::hasEdits() const {
  return !m_eventContext->outputEvent().isEqualToEvent(m_eventContext->inputEvent());
}

bool APMPEventEditing::hasCreatedEvents() const { return !m_eventContext->eventsToLog().empty(); }

APMPEvent APMPEventEditing::outputEvent() const { return m_eventContext->outputEvent(); }

std::vector<APMPEvent> APMPEventEditing::eventsToLog() const { return m_eventContext->eventsToLog(); }
