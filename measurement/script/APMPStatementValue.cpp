#include "measurement/script/APMPStatementValue.h"

#include "measurement/script/internal/APMPRelease.h"

namespace {

// "0".."66" in canonical decimal.
int opcodeOf(const std::u16string& name) {
  if (name.empty() || name.size() > 2) return APMPStatementValue::kNoOpcode;
  if (name.size() == 2 && name[0] == u'0') return APMPStatementValue::kNoOpcode;
  int value = 0;
  for (char16_t unit : name) {
    if (unit < u'0' || unit > u'9') return APMPStatementValue::kNoOpcode;
    value = value * 10 + (unit - u'0');
  }
  return value <= 66 ? value : APMPStatementValue::kNoOpcode;
}

}  // namespace

APMPStatementValue::APMPStatementValue(std::u16string functionName, APMPValueList arguments)
    : APMPRuntimeValue(APMPValueKind::Statement),
      m_functionName(std::move(functionName)),
      m_arguments(std::move(arguments)),
      m_opcode(opcodeOf(m_functionName)) {}

APMPStatementValue::~APMPStatementValue() { APMPReleaseLater(m_arguments); }

void APMPStatementValue::markReferences(APMPMarker&) const {}
