// JSON arguments of sdk-probe subcommands: inline text or "@PATH" (a file),
// any JSON value at the top level; and compact JSON of a value with keys
// sorted bytewise.
#pragma once

#include <optional>
#include <string>

#include "platform/values/Value.h"

namespace sdkprobe {

// The parsed value, or none with `error` set.
std::optional<platform::Value> parseJsonArgument(const std::string& argument, std::string& error);
// Compact JSON with sorted keys; the value's description when it is no JSON.
std::string compactJson(const platform::Value& value);

}  // namespace sdkprobe
