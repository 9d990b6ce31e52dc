// APMPRuntime: one instance of the script interpreter.
//
// Owns the root scope (initScope) with the instruction counter and the
// object manager, the global scope (its child, holding "require") where a
// program's top-level statements run and whose names live as long as the
// runtime, and the module registry. "internal.platform" is registered at
// creation; the host registers its own modules and then runs programs.
//
// executeStatements converts each program entity just before it runs (one
// at a time) and evaluates it in the global scope: a conversion or
// evaluation error stops the run and is returned; the result is the last
// statement's value (undefined for none). A control value leaving a
// top-level statement does not stop the run.
//
// The instruction count is the runtime's own (no script can read or change
// it): at most APMPInstructionCounter::kLimit evaluations between two resets,
// error 18 afterwards. Hosts reset it per unit of work (each event), not
// per program load.
//
// Destroying the runtime sweeps every value it made, so that no cycle among
// them outlives it (a value the host still holds is then empty).
//
// Thread safety: synchronous and single-threaded: one thread at a time uses
// a runtime and everything it made. Different runtimes may run at once on
// different threads; they share only immutable singletons.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measurement/script/APMPDynamicProvider.h"
#include "measurement/script/APMPMarkable.h"
#include "measurement/script/APMPRuntimeValue.h"

class APMPInstructionCounter;
class APMPObjectManager;
class NANOMessageBase;

class APMPRuntime {
 public:
  static int32_t runtimeVersion() { return 0; }

  APMPRuntime();
  ~APMPRuntime();
  APMPRuntime(const APMPRuntime&) = delete;
  APMPRuntime& operator=(const APMPRuntime&) = delete;

  void setModuleCreator(APMPModuleCreator creator, const std::string& name);
  // Each entity is a RuntimeEntity message.
  APMPValuePtr executeStatements(const std::vector<const NANOMessageBase*>& entities, APMPError& error);

  // A new child of the global scope: names declared in it vanish with it.
  APMPScopePtr getRunScope() const;
  int32_t getInstructionCount() const;
  void resetInstructionCount();

  const APMPScopePtr& initialScope() const { return m_initScope; }
  const APMPScopePtr& globalScope() const { return m_globalScope; }
  APMPObjectManager& objectManager() const { return *m_objectManager; }
  void addGarbageCollectionRoot(const std::shared_ptr<const APMPMarkable>& root);
  void collectGarbage();

 private:
  std::shared_ptr<APMPInstructionCounter> m_counter;
  std::shared_ptr<APMPObjectManager> m_objectManager;
  APMPScopePtr m_initScope;
  APMPScopePtr m_globalScope;
  std::shared_ptr<APMPDynamicProvider> m_apiProvider;
};
