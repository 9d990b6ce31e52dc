#include "measurement/script/APMPRuntime.h"

#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPInstructionCounter.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPRequire.h"
#include "measurement/script/APMPRuntimeEntityConverter.h"
#include "measurement/script/APMPRuntimePlatform.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "platform/text/Unicode.h"

APMPRuntime::APMPRuntime()
    : m_counter(std::make_shared<APMPInstructionCounter>()),
      m_objectManager(std::make_shared<APMPObjectManager>()),
      m_initScope(std::make_shared<APMPScope>()),
      m_apiProvider(std::make_shared<APMPDynamicProvider>()) {
  m_initScope->setObjectManager(m_objectManager);
  m_initScope->setInstructionCounter(m_counter);
  m_globalScope = m_initScope->createChildScope();
  m_objectManager->addRoot(m_initScope);
  m_objectManager->addRoot(m_globalScope);
  auto require = std::make_shared<APMPRequire>(m_apiProvider);
  m_objectManager->addObject(require);
  m_globalScope->addValue(std::move(require), u"require");
  m_apiProvider->setModuleCreator([] { return std::make_shared<APMPRuntimePlatform>(); }, u"internal.platform");
  resetInstructionCount();
}

APMPRuntime::~APMPRuntime() {
  // Every value the runtime made lets go of what it holds, so no cycle
  // outlives the runtime.
  m_objectManager->removeAllRoots();
  m_objectManager->collectGarbage();
}

void APMPRuntime::setModuleCreator(APMPModuleCreator creator, const std::string& name) {
  m_apiProvider->setModuleCreator(std::move(creator), platform::Unicode::toUtf16(name));
}

APMPValuePtr APMPRuntime::executeStatements(const std::vector<const NANOMessageBase*>& entities, APMPError& error) {
  APMPValuePtr result = APMPUndefined();
  for (const NANOMessageBase* entity : entities) {
    const APMPValuePtr statement = APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*entity, error);
    if (error) return APMPUndefined();
    result = APMPEvaluator::evaluateStatement(statement, m_globalScope, error);
    if (error) return APMPUndefined();
  }
  return result;
}

APMPScopePtr APMPRuntime::getRunScope() const { return m_globalScope->createChildScope(); }

int32_t APMPRuntime::getInstructionCount() const { return m_counter->count(); }

void APMPRuntime::resetInstructionCount() { m_counter->reset(); }

void APMPRuntime::addGarbageCollectionRoot(const std::shared_ptr<const APMPMarkable>& root) {
  m_objectManager->addRoot(root);
}

void APMPRuntime::collectGarbage() { m_objectManager->collectGarbage(); }
