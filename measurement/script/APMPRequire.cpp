#include "measurement/script/APMPRequire.h"

#include <unordered_set>
#include <vector>

#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/internal/APMPRelease.h"

namespace {

// The module and every map or function among its properties, and theirs.
void trackModule(APMPObjectManager& manager, const APMPValuePtr& module) {
  std::vector<APMPValuePtr> pending{module};
  std::unordered_set<const APMPRuntimeValue*> seen;
  while (!pending.empty()) {
    APMPValuePtr value = std::move(pending.back());
    pending.pop_back();
    if (!value->isCollectable() || !seen.insert(value.get()).second) continue;
    manager.addObject(value);
    if (value->isArray()) continue;
    static_cast<const APMPObjectValue&>(*value).properties().forEach(
        [&](const std::u16string&, const APMPValuePtr& property) { pending.push_back(property); });
  }
}

}  // namespace

APMPRequire::APMPRequire(std::shared_ptr<APMPDynamicProvider> provider)
    : APMPFunctionValue(u"require", {}, {}, std::make_shared<APMPScope>()), m_provider(std::move(provider)) {}

APMPValuePtr APMPRequire::invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                              APMPError& error) {
  if (arguments.size() != 1) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  const APMPValuePtr nameValue = APMPEvaluator::evaluateStatement(arguments[0], scope, error);
  if (error) return APMPUndefined();
  const std::u16string name = nameValue->stringValueOrError(error);
  if (error) return APMPUndefined();
  if (const auto kept = m_modules.find(name); kept != m_modules.end()) return kept->second;
  APMPValuePtr module = m_provider->moduleForName(name, error);
  if (error) return APMPUndefined();
  // Modules and their native sub-functions hold properties scripts may set:
  // the collector tracks them too.
  if (APMPObjectManager* manager = scope->objectManager()) trackModule(*manager, module);
  m_modules.emplace(name, module);
  return module;
}

void APMPRequire::markReferences(APMPMarker& marker) const {
  APMPFunctionValue::markReferences(marker);
  for (const auto& [name, module] : m_modules) marker.mark(module);
}

void APMPRequire::dropReferences() {
  APMPFunctionValue::dropReferences();
  std::map<std::u16string, APMPValuePtr> modules = std::move(m_modules);
  m_modules.clear();
  for (auto& [name, module] : modules) APMPReleaseLater(module);
}
