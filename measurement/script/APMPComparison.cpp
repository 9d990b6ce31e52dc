#include "measurement/script/APMPComparison.h"

#include <cmath>

#include "measurement/script/APMPBooleanValue.h"
#include "measurement/script/APMPNumberValue.h"
#include "measurement/script/APMPStringValue.h"

bool APMPStrictEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case APMPValueKind::Number:
      return static_cast<const APMPNumberValue&>(a).value() == static_cast<const APMPNumberValue&>(b).value();
    case APMPValueKind::Boolean:
      return static_cast<const APMPBooleanValue&>(a).value() == static_cast<const APMPBooleanValue&>(b).value();
    case APMPValueKind::String:
      return static_cast<const APMPStringValue&>(a).value() == static_cast<const APMPStringValue&>(b).value();
    default:
      return &a == &b;
  }
}

namespace {

int looseLevel(const APMPRuntimeValue& value) {
  switch (value.kind()) {
    case APMPValueKind::Undefined:
    case APMPValueKind::Null:
      return 0;
    case APMPValueKind::Number:
    case APMPValueKind::Boolean:
      return 1;
    case APMPValueKind::String:
      return 2;
    default:
      return 3;
  }
}

}  // namespace

std::optional<bool> APMPLooseEquals(const APMPRuntimeValue& a, const APMPRuntimeValue& b, APMPError& error) {
  const bool swap = looseLevel(b) < looseLevel(a);
  const APMPRuntimeValue& first = swap ? b : a;
  const APMPRuntimeValue& second = swap ? a : b;
  switch (looseLevel(first)) {
    case 0:
      return looseLevel(second) == 0;
    case 1: {
      const double x = first.doubleValueOrError(error);
      if (error) return std::nullopt;
      const double y = second.doubleValueOrError(error);
      if (error) return std::nullopt;
      return x == y;
    }
    case 2: {
      const std::u16string x = first.stringValueOrError(error);
      if (error) return std::nullopt;
      const std::u16string y = second.stringValueOrError(error);
      if (error) return std::nullopt;
      return x == y;
    }
    default:
      return &first == &second;
  }
}

std::optional<APMPOrdering> APMPRelationalCompare(const APMPRuntimeValue& x, const APMPRuntimeValue& y,
                                                  APMPError& error) {
  if (x.isObjectLike() && y.isObjectLike()) {
    const std::u16string a = x.stringValueOrError(error);
    if (error) return std::nullopt;
    const std::u16string b = y.stringValueOrError(error);
    if (error) return std::nullopt;
    const int order = a.compare(b);
    return order < 0 ? APMPOrdering::Less : order == 0 ? APMPOrdering::Equal : APMPOrdering::Greater;
  }
  const double a = x.doubleValueOrError(error);
  if (error) return std::nullopt;
  const double b = y.doubleValueOrError(error);
  if (error) return std::nullopt;
  if (a < b) return APMPOrdering::Less;
  if (a == b) return APMPOrdering::Equal;
  return APMPOrdering::Greater;
}

int32_t APMPToInt32(double value) {
  if (!std::isfinite(value)) return 0;
  const double remainder = std::fmod(std::trunc(value), 4294967296.0);
  if (remainder < -2147483648.0 || remainder > 2147483647.0) return INT32_MIN;
  return static_cast<int32_t>(remainder);
}

uint32_t APMPToUInt32(double value) { return static_cast<uint32_t>(APMPToInt32(value)); }

double APMPToInteger(double value) {
  if (std::isnan(value)) return 0;
  if (std::isinf(value) || value == 0) return value;
  return std::trunc(value);
}
