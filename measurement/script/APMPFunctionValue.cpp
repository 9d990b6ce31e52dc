#include "measurement/script/APMPFunctionValue.h"

#include <limits>

#include "measurement/script/APMPControlValue.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPMarker.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "measurement/script/internal/APMPRelease.h"

APMPFunctionValue::APMPFunctionValue(std::u16string functionName, std::vector<std::u16string> parameterNames,
                                     APMPValueList statements, APMPScopePtr definingScope)
    : APMPObjectValue(APMPValueKind::Function),
      m_functionName(std::move(functionName)),
      m_parameters(std::move(parameterNames)),
      m_statements(std::move(statements)),
      m_definingScope(std::move(definingScope)) {}

APMPFunctionValue::~APMPFunctionValue() { APMPReleaseLater(m_statements); }

APMPValuePtr APMPFunctionValue::invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                                    APMPError& error) {
  std::optional<APMPValueList> values = APMPEvaluator::evaluateArguments(arguments, scope, error);
  if (!values) return APMPUndefined();
  return invokeWithEvaluatedArguments(*values, error);
}

APMPValuePtr APMPFunctionValue::invokeWithEvaluatedArguments(const APMPValueList& values, APMPError& error) {
  // A child of the defining scope: closures see where they were written.
  // A swept function has no scope left and runs nothing.
  if (!m_definingScope) return APMPUndefined();
  const APMPScopePtr callScope = m_definingScope->createChildScope();
  for (size_t i = 0; i < m_parameters.size(); ++i) {
    callScope->addValue(i < values.size() ? values[i] : APMPUndefined(), m_parameters[i]);
  }
  // Keeps the body alive while it runs, whatever the body does to this function.
  const APMPValueList body = m_statements;
  APMPValuePtr result = APMPEvaluator::executeStatements(body, callScope, error);
  if (error) return APMPUndefined();
  if (result->isControl()) {
    const auto& control = static_cast<const APMPControlValue&>(*result);
    if (control.isReturn()) return control.data();
  }
  return result;
}

std::u16string APMPFunctionValue::stringValueOrError(APMPError&) const { return m_functionName; }
double APMPFunctionValue::doubleValueOrError(APMPError&) const { return std::numeric_limits<double>::quiet_NaN(); }
bool APMPFunctionValue::booleanValueOrError(APMPError&) const { return true; }

void APMPFunctionValue::markReferences(APMPMarker& marker) const {
  APMPObjectValue::markReferences(marker);
  if (m_definingScope) marker.markScope(m_definingScope.get());
}

void APMPFunctionValue::dropReferences() {
  APMPReleaseLater(m_statements);
  m_definingScope.reset();
  APMPObjectValue::dropReferences();
}
