// Charging what evaluation makes to the running runtime's budget
// (APMPInstructionCounter): while a statement is evaluated on a thread, the
// outermost evaluation names its runtime's counter here, and the values
// that hold memory (texts, array slots, properties) charge their size to it
// when they are made or grow. Outside any evaluation nothing is charged.
#pragma once

#include <cstddef>

class APMPInstructionCounter;

void APMPChargeMemory(size_t bytes);

// Names the counter for the duration of the outermost evaluation on this
// thread (nested ones leave it as it is).
class APMPMemoryChargeScope {
 public:
  explicit APMPMemoryChargeScope(APMPInstructionCounter* counter);
  ~APMPMemoryChargeScope();
  APMPMemoryChargeScope(const APMPMemoryChargeScope&) = delete;
  APMPMemoryChargeScope& operator=(const APMPMemoryChargeScope&) = delete;

 private:
  bool m_outermost;
};
