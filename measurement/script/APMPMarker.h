// APMPMarker: the mark phase of one collection, without recursion.
//
// mark(value) marks a collectable value (array, map, function) the first
// time it is met in this collection and queues it so that what it holds is
// marked in turn; markScope(scope) marks the scope's declared values and
// those of every enclosing scope (a function's defining scope keeps its
// whole chain alive). drain() works the queues off with an explicit stack,
// so arbitrarily deep chains of values never deepen the native stack.
//
// Thread safety: one collection on one thread.
#pragma once

#include <cstdint>
#include <vector>

#include "measurement/script/APMPRuntimeValue.h"

class APMPMarker {
 public:
  explicit APMPMarker(uint32_t epoch) : m_epoch(epoch) {}

  uint32_t epoch() const { return m_epoch; }
  void mark(const APMPValuePtr& value) { mark(value.get()); }
  void mark(const APMPRuntimeValue* value);
  void markScope(const APMPScope* scope);
  void drain();

 private:
  uint32_t m_epoch;
  std::vector<const APMPRuntimeValue*> m_pendingValues;
  std::vector<const APMPScope*> m_pendingScopes;
};
