#include "measurement/script/APMPMarker.h"

#include "measurement/script/APMPControlValue.h"
#include "measurement/script/APMPScope.h"

void APMPMarker::mark(const APMPRuntimeValue* value) {
  // Only arrays, maps, functions and return values can hold what a collection
  // must keep (statements hold literals and statements only); the shared
  // singletons are never written, as other runtimes may read them meanwhile.
  if (value == nullptr) return;
  if (!value->isCollectable() &&
      !(value->isControl() && static_cast<const APMPControlValue*>(value)->isReturn())) {
    return;
  }
  // Marks are bookkeeping of the collector, not part of the value.
  if (!const_cast<APMPRuntimeValue*>(value)->setMarked(m_epoch)) return;
  m_pendingValues.push_back(value);
}

void APMPMarker::markScope(const APMPScope* scope) {
  for (; scope != nullptr; scope = scope->parentScope().get()) {
    // A marked scope has its enclosing scopes marked already.
    if (!const_cast<APMPScope*>(scope)->setMarked(m_epoch)) return;
    m_pendingScopes.push_back(scope);
  }
}

void APMPMarker::drain() {
  while (!m_pendingValues.empty() || !m_pendingScopes.empty()) {
    if (!m_pendingScopes.empty()) {
      const APMPScope* scope = m_pendingScopes.back();
      m_pendingScopes.pop_back();
      scope->markDeclaredValues(*this);
      continue;
    }
    const APMPRuntimeValue* value = m_pendingValues.back();
    m_pendingValues.pop_back();
    value->markReferences(*this);
  }
}
