#include "measurement/script/APMPComparisonCommandEvaluator.h"

#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPUndefinedValue.h"

namespace {

APMPValuePtr answer(std::optional<bool> result) { return result ? APMPBoolean(*result) : APMPUndefined(); }

APMPValuePtr looseEqual(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return answer(APMPLooseEquals(*values[0], *values[1], error));
}

APMPValuePtr looseNotEqual(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  const std::optional<bool> equal = APMPLooseEquals(*values[0], *values[1], error);
  return equal ? APMPBoolean(!*equal) : APMPUndefined();
}

APMPValuePtr strictEqual(const APMPValueList& values, const APMPScopePtr&, APMPError&) {
  return APMPBoolean(APMPStrictEquals(*values[0], *values[1]));
}

APMPValuePtr strictNotEqual(const APMPValueList& values, const APMPScopePtr&, APMPError&) {
  return APMPBoolean(!APMPStrictEquals(*values[0], *values[1]));
}

// Whether the relational comparison of x with y is one of the wanted orders.
APMPValuePtr ordered(const APMPRuntimeValue& x, const APMPRuntimeValue& y, bool orEqual, APMPError& error) {
  const std::optional<APMPOrdering> order = APMPRelationalCompare(x, y, error);
  if (!order) return APMPUndefined();
  return APMPBoolean(*order == APMPOrdering::Less || (orEqual && *order == APMPOrdering::Equal));
}

APMPValuePtr greater(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return ordered(*values[1], *values[0], false, error);
}

APMPValuePtr greaterOrEqual(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return ordered(*values[1], *values[0], true, error);
}

APMPValuePtr less(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return ordered(*values[0], *values[1], false, error);
}

APMPValuePtr lessOrEqual(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return ordered(*values[0], *values[1], true, error);
}

}  // namespace

APMPComparisonCommandEvaluator::APMPComparisonCommandEvaluator() : APMPCommandEvaluator(ArgumentPassing::Evaluated) {
  addHandler(12, looseEqual);
  addHandler(29, looseNotEqual);
  addHandler(20, strictEqual);
  addHandler(21, strictNotEqual);
  addHandler(18, greater);
  addHandler(19, greaterOrEqual);
  addHandler(23, less);
  addHandler(24, lessOrEqual);
}

APMPValuePtr APMPComparisonCommandEvaluator::evaluateCommand(const APMPStatementValue& statement,
                                                             const APMPScopePtr& scope, APMPError& error) const {
  // The count is checked before either argument is evaluated.
  if (handlerFor(statement.opcode()) == nullptr) return APMPUndefined();
  if (!APMPCheckArgumentCount(statement.arguments(), 2, error)) return APMPUndefined();
  return APMPCommandEvaluator::evaluateCommand(statement, scope, error);
}
