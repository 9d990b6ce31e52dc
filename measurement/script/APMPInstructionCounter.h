// APMPInstructionCounter: the evaluation budget of one runtime.
//
// Every evaluation takes one step first. At most kLimit steps succeed between
// two resets; the next step fails with error 18 and leaves the count at the
// limit, so a runaway program ends instead of hanging its queue. The count
// belongs to the runtime (its root scope hands it to the evaluator), not to
// any name a program can read or change.
//
// Memory: texts, array slots and properties made while the runtime
// evaluates are charged to it (chargeBytes); once more than kMemoryLimit
// bytes were charged since the last reset, every further step fails with
// error 18 too. One step makes at most a few MB (the bounds of one value), so
// a program cannot take more than the limit plus that, however it loops.
//
// Thread safety: one thread at a time (the runtime's).
#pragma once

#include <cstddef>
#include <cstdint>

#include "measurement/script/APMPError.h"

class APMPInstructionCounter {
 public:
  static constexpr int32_t kLimit = 1000000;
  static constexpr size_t kMemoryLimit = size_t(64) << 20;

  // One step: NO with error 18 when the budget is spent.
  bool step(APMPError& error) {
    if (m_count >= kLimit || m_bytes > kMemoryLimit) {
      error.set(kAPMPErrorLimitReached);
      return false;
    }
    ++m_count;
    return true;
  }
  int32_t count() const { return m_count; }
  void chargeBytes(size_t bytes) { m_bytes += bytes; }
  size_t chargedBytes() const { return m_bytes; }
  void reset() {
    m_count = 0;
    m_bytes = 0;
  }

 private:
  int32_t m_count = 0;
  size_t m_bytes = 0;
};
