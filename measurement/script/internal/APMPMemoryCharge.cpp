#include "measurement/script/internal/APMPMemoryCharge.h"

#include "measurement/script/APMPInstructionCounter.h"

namespace {

thread_local APMPInstructionCounter* tCharged = nullptr;

}  // namespace

void APMPChargeMemory(size_t bytes) {
  if (tCharged != nullptr) tCharged->chargeBytes(bytes);
}

APMPMemoryChargeScope::APMPMemoryChargeScope(APMPInstructionCounter* counter)
    : m_outermost(tCharged == nullptr && counter != nullptr) {
  if (m_outermost) tCharged = counter;
}

APMPMemoryChargeScope::~APMPMemoryChargeScope() {
  if (m_outermost) tCharged = nullptr;
}
