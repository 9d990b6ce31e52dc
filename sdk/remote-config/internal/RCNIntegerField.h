// An integer field of remote JSON that may come as a number or as text.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/text/NumberText.h"
#include "platform/values/Value.h"

// A JSON number (saturated to 64 bits) or a decimal string; none otherwise.
inline std::optional<int64_t> RCNIntegerField(const platform::Value& value) {
  if (value.isNumber()) return value.longLongValue();
  if (const std::string* digits = value.asString()) return platform::NumberText::parseInt64(*digits);
  return std::nullopt;
}

// A whole JSON number within 64 bits or a decimal string; none otherwise
// (1e300 or 2.5 are no such number).
inline std::optional<int64_t> RCNWholeNumberField(const platform::Value& value) {
  if (value.isNumber()) return value.exactAs<int64_t>();
  if (const std::string* digits = value.asString()) return platform::NumberText::parseInt64(*digits);
  return std::nullopt;
}
