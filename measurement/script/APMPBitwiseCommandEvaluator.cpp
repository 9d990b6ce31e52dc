#include "measurement/script/APMPBitwiseCommandEvaluator.h"

#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPStatementValue.h"
#include "measurement/script/APMPUndefinedValue.h"

namespace {

template <typename Combine>
APMPValuePtr binary(const APMPValueList& values, APMPError& error, Combine combine) {
  if (!APMPCheckArgumentCount(values, 2, error)) return APMPUndefined();
  const double a = values[0]->doubleValueOrError(error);
  if (error) return APMPUndefined();
  const double b = values[1]->doubleValueOrError(error);
  if (error) return APMPUndefined();
  return APMPNumber(combine(APMPToInt32(a), APMPToInt32(b)));
}

APMPValuePtr bitAnd(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](int32_t a, int32_t b) { return double(a & b); });
}

APMPValuePtr bitOr(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](int32_t a, int32_t b) { return double(a | b); });
}

APMPValuePtr bitXor(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](int32_t a, int32_t b) { return double(a ^ b); });
}

APMPValuePtr shiftLeft(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](int32_t a, int32_t b) {
    return double(static_cast<int32_t>(static_cast<uint32_t>(a) << (static_cast<uint32_t>(b) & 31)));
  });
}

APMPValuePtr shiftRight(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](int32_t a, int32_t b) { return double(a >> (static_cast<uint32_t>(b) & 31)); });
}

APMPValuePtr shiftRightUnsigned(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  return binary(values, error, [](int32_t a, int32_t b) {
    return double(static_cast<uint32_t>(a) >> (static_cast<uint32_t>(b) & 31));
  });
}

APMPValuePtr bitNot(const APMPValueList& values, const APMPScopePtr&, APMPError& error) {
  if (!APMPCheckArgumentCount(values, 1, error)) return APMPUndefined();
  const double a = values[0]->doubleValueOrError(error);
  if (error) return APMPUndefined();
  return APMPNumber(double(~APMPToInt32(a)));
}

}  // namespace

APMPBitwiseCommandEvaluator::APMPBitwiseCommandEvaluator() : APMPCommandEvaluator(ArgumentPassing::Evaluated) {
  addHandler(56, bitAnd);
  addHandler(57, shiftLeft);
  addHandler(58, bitNot);
  addHandler(59, bitOr);
  addHandler(60, shiftRight);
  addHandler(61, shiftRightUnsigned);
  addHandler(62, bitXor);
}
