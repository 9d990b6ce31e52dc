// APMPScope: one lexical scope of the interpreter.
//
// A scope declares names in its contents (APMPPropertyMap) and has a parent,
// held strongly, up to the root scope of its runtime. The root also carries
// the runtime's object manager and instruction counter; every scope answers
// its root's, so all values made under one runtime register with one manager
// and count against one budget. A scope made on its own (no runtime) has
// neither: values made in it are not tracked and its evaluations do not
// count.
//
// Names:
//  - valueForName: this scope's value, else the nearest enclosing scope's,
//    else undefined (never an error).
//  - hasName: declared here or in any enclosing scope.
//  - addValue / addImmutableValue: declare (or redeclare) here, shadowing
//    outer names; nothing when this scope's contents are immutable.
//  - setValue: assignment. Lands in the nearest scope that declares the name,
//    else here; dropped silently when it meets an immutable scope on the way,
//    and by the property map when the name is a constant.
//
// Thread safety: one thread at a time (the runtime's).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "measurement/script/APMPMarkable.h"
#include "measurement/script/APMPPropertyMap.h"
#include "measurement/script/APMPRuntimeValue.h"

class APMPObjectManager;
class APMPInstructionCounter;

class APMPScope final : public std::enable_shared_from_this<APMPScope>, public APMPMarkable {
 public:
  explicit APMPScope(APMPScopePtr parent = nullptr);
  static APMPScopePtr initWithParentScope(APMPScopePtr parent) { return std::make_shared<APMPScope>(std::move(parent)); }
  APMPScopePtr createChildScope();

  const APMPScopePtr& parentScope() const { return m_parent; }
  bool hasName(const std::u16string& name) const { return findValue(name) != nullptr; }
  // The value the name has here or in the nearest enclosing scope; nullptr
  // when no scope declares it.
  const APMPValuePtr* findValue(const std::u16string& name) const;
  APMPValuePtr valueForName(const std::u16string& name) const;
  void addValue(APMPValuePtr value, const std::u16string& name);
  void addImmutableValue(APMPValuePtr value, const std::u16string& name);
  void setValue(APMPValuePtr value, const std::u16string& name);
  void makeImmutable() { m_contents.makeImmutable(); }
  const APMPPropertyMap& contents() const { return m_contents; }

  // Root only; children answer their root's.
  void setObjectManager(std::shared_ptr<APMPObjectManager> objectManager);
  APMPObjectManager* objectManager() const;
  void setInstructionCounter(std::shared_ptr<APMPInstructionCounter> counter);
  APMPInstructionCounter* instructionCounter() const { return m_root->m_counter.get(); }

  // Marks the declared values of this scope and of its enclosing scopes.
  void mark(APMPMarker& marker) const override;
  void markDeclaredValues(APMPMarker& marker) const { m_contents.markValues(marker); }
  bool setMarked(uint32_t epoch) {
    if (m_markEpoch == epoch) return false;
    m_markEpoch = epoch;
    return true;
  }

 private:
  APMPScopePtr m_parent;
  APMPScope* m_root;  // this scope, or the root of its parent chain (kept alive by it)
  APMPPropertyMap m_contents;
  std::shared_ptr<APMPObjectManager> m_objectManager;
  std::shared_ptr<APMPInstructionCounter> m_counter;
  uint32_t m_markEpoch = 0;
};
