#include "measurement/messages/internal/APMPBDecodeBudget.h"

#include "measurement/messages/internal/APMPBDiagnostics.h"

namespace apmpb {

namespace {
thread_local DecodeBudget* t_running = nullptr;
}

DecodeBudget::DecodeBudget(const char* name, size_t limit)
    : m_name(name), m_limit(limit), m_outer(t_running), m_counting(t_running == nullptr) {
  if (m_counting) t_running = this;
}

DecodeBudget::~DecodeBudget() {
  if (m_counting) t_running = m_outer;
}

bool chargeDecode(size_t size) {
  DecodeBudget* budget = t_running;
  if (budget == nullptr) return true;
  budget->m_used += size;
  if (budget->m_used <= budget->m_limit) return true;
  if (!budget->m_spent) {
    budget->m_spent = true;
    consoleLine(format("<ERROR> %s decoder failed: Decoded size over %zu bytes", budget->m_name, budget->m_limit));
  }
  return false;
}

}  // namespace apmpb
