// APMPObjectManager: the collector of one runtime.
//
// Scripts make arrays, maps and functions only through the factories below,
// which register each with the manager of the given scope (values made in a
// scope without a runtime are not tracked). The manager holds its tracked
// values and its roots weakly: ordinary reference counting frees what
// nothing references, and collectGarbage only has to break cycles.
//
// collectGarbage: mark everything reachable from the roots that are still
// alive (the runtime's root and global scopes, host roots such as the
// editing callbacks), then sweep: every tracked value that was not marked
// drops what it holds, so a cycle of values that reference each other is
// freed as soon as nothing outside references it. Marking and freeing use no
// recursion. Entries of freed values are dropped from the tracked list then,
// and also as the list grows, so it stays proportional to the live values.
//
// Thread safety: one thread at a time (the runtime's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measurement/script/APMPMarkable.h"
#include "measurement/script/APMPRuntimeValue.h"

class APMPArrayValue;
class APMPFunctionValue;
class APMPMapValue;

class APMPObjectManager {
 public:
  void addRoot(const std::shared_ptr<const APMPMarkable>& root);
  // The next collection then sweeps every tracked value (the runtime's end).
  void removeAllRoots() { m_roots.clear(); }
  // Nothing (nullptr) is ignored.
  void addObject(const APMPValuePtr& object);
  void collectGarbage();
  // The tracked values still alive, and the roots still alive.
  APMPValueList trackedObjects() const;
  std::vector<std::shared_ptr<const APMPMarkable>> roots() const;

  // New values registered with the scope's manager.
  static std::shared_ptr<APMPFunctionValue> functionValueWithFunctionName(std::u16string name,
                                                                          std::vector<std::u16string> parameterNames,
                                                                          APMPValueList statements,
                                                                          const APMPScopePtr& definingScope);
  static std::shared_ptr<APMPMapValue> mapValueWithScope(const APMPScope& scope);
  static std::shared_ptr<APMPArrayValue> arrayValueWithScope(const APMPScope& scope);
  static std::shared_ptr<APMPArrayValue> arrayValueWithArray(APMPValueList elements, const APMPScope& scope);
  // The elements of the clamped range, holes kept.
  static std::shared_ptr<APMPArrayValue> subarrayWithArray(const APMPArrayValue& array, int64_t start, int64_t length,
                                                           const APMPScope& scope);

 private:
  void compact();

  std::vector<std::weak_ptr<const APMPMarkable>> m_roots;
  std::vector<std::weak_ptr<APMPRuntimeValue>> m_objects;
  size_t m_compactAt = 64;
  uint32_t m_epoch = 0;
};
