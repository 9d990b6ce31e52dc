#include "measurement/script/APMPParameterCoercion.h"

platform::Value APMPCoerceParameterValue(std::string_view name, const platform::Value& current,
                                         const platform::Value& value) {
  if (!value.isNumeric()) return value;
  const auto asInteger = [&] { return platform::Value(static_cast<long long>(value.longLongValue())); };
  if (name == "_syn" || name == "_err" || name == "_el") return asInteger();
  if (current.isNumeric()) {
    if (current.isFloatingNumber()) return value;
    if (name.empty() || name.front() != '_') return asInteger();
    return current;
  }
  if (current.isString()) return platform::Value(value.stringValue());
  return value;
}
