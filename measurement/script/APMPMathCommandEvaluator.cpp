#include "measurement/script/APMPMathCommandEvaluator.h"

#include <cmath>

#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"

namespace {

// Both operands as numbers, combined; undefined after a count or conversion
// error.
template <typename Combine>
APMPValuePtr binary(const APMPValueList& values, APMPError& error, Combine combine) {
  if (!APMPCheckArgumentCount(values, 2, error)) return APMPUndefined();
  const double a = values[0]->doubleValueOrError(error);
  if (error) return APMPUndefined();
  const double b = values[1]->doubleValueOrError(error);
  if (error) return APMPUndefined();
  return APMPNumber(combine(a, b));
}

APMPValuePtr add(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 2, error)) return APMPUndefined();
  if (values[0]->isObjectLike() || values[1]->isObjectLike()) {
    // Texts are read in place; others are converted.
    std::u16string converted[2];
    const std::u16string* parts[2];
    for (int i = 0; i < 2; ++i) {
      if (values[i]->isString()) {
        parts[i] = &static_cast<const APMPStringValue&>(*values[i]).value();
      } else {
        converted[i] = values[i]->stringValueOrError(error);
        if (error) return APMPUndefined();
        parts[i] = &converted[i];
      }
    }
    if (parts[0]->size() + parts[1]->size() > APMPRuntimeValue::kMaxStringLength) {
      error.set(kAPMPErrorArgumentKind);
      return APMPUndefined();
    }
    std::u16string text;
    text.reserve(parts[0]->size() + parts[1]->size());
    text.append(*parts[0]).append(*parts[1]);
    return APMPString(std::move(text));
  }
  return binary(values, error, [](double a, double b) { return a + b; });
}

APMPValuePtr subtract(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](double a, double b) { return a - b; });
}

APMPValuePtr multiply(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](double a, double b) { return a * b; });
}

APMPValuePtr divide(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](double a, double b) { return a / b; });
}

APMPValuePtr remainder(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](double a, double b) { return std::fmod(a, b); });
}

APMPValuePtr negate(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 1, error)) return APMPUndefined();
  const double a = values[0]->doubleValueOrError(error);
  if (error) return APMPUndefined();
  return APMPNumber(-a);
}

APMPValuePtr identity(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 1, error)) return APMPUndefined();
  return values[0];
}

APMPValuePtr first(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 2, error)) return APMPUndefined();
  return values[0];
}

}  // namespace

APMPMathCommandEvaluator::APMPMathCommandEvaluator() : APMPCommandEvaluator(ArgumentPassing::Evaluated) {
  addHandler(0, add);
  addHandler(10, divide);
  addHandler(25, remainder);
  addHandler(26, multiply);
  addHandler(27, negate);
  addHandler(32, first);
  addHandler(33, first);
  addHandler(34, identity);
  addHandler(35, identity);
  addHandler(37, subtract);
}
