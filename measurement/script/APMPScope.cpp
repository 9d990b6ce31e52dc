#include "measurement/script/APMPScope.h"

#include "measurement/script/APMPInstructionCounter.h"
#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPObjectManager.h"
#include "measurement/script/APMPUndefinedValue.h"

APMPScope::APMPScope(APMPScopePtr parent)
    : m_parent(std::move(parent)), m_root(m_parent ? m_parent->m_root : this) {}

APMPScopePtr APMPScope::createChildScope() { return std::make_shared<APMPScope>(shared_from_this()); }

const APMPValuePtr* APMPScope::findValue(const std::u16string& name) const {
  for (const APMPScope* scope = this; scope != nullptr; scope = scope->m_parent.get()) {
    if (const APMPValuePtr* value = scope->m_contents.find(name)) return value;
  }
  return nullptr;
}

APMPValuePtr APMPScope::valueForName(const std::u16string& name) const {
  const APMPValuePtr* value = findValue(name);
  return value == nullptr ? APMPUndefined() : *value;
}

void APMPScope::addValue(APMPValuePtr value, const std::u16string& name) { m_contents.setValue(std::move(value), name); }

void APMPScope::addImmutableValue(APMPValuePtr value, const std::u16string& name) {
  m_contents.setImmutableValue(std::move(value), name);
}

void APMPScope::setValue(APMPValuePtr value, const std::u16string& name) {
  // The nearest scope that declares the name takes the value (this one when
  // none does); an immutable scope on the way there drops the assignment.
  APMPScope* target = this;
  for (APMPScope* scope = this; scope != nullptr; scope = scope->m_parent.get()) {
    if (scope->m_contents.hasName(name)) {
      target = scope;
      break;
    }
  }
  for (APMPScope* scope = this;; scope = scope->m_parent.get()) {
    if (scope->m_contents.isImmutable()) return;
    if (scope == target) break;
  }
  target->m_contents.setValue(std::move(value), name);
}

void APMPScope::setObjectManager(std::shared_ptr<APMPObjectManager> objectManager) {
  m_objectManager = std::move(objectManager);
}

APMPObjectManager* APMPScope::objectManager() const { return m_root->m_objectManager.get(); }

void APMPScope::setInstructionCounter(std::shared_ptr<APMPInstructionCounter> counter) {
  m_counter = std::move(counter);
}

void APMPScope::mark(APMPMarker& marker) const { marker.markScope(this); }
