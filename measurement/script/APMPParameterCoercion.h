// The coercion of a number that a program stores into an event parameter,
// against the value the parameter has (or the input event's parameter of
// the same name, for created events), so that a parameter keeps its kind:
//  - a value that is no number is stored as it is;
//  - "_syn", "_err" and "_el" always take the number's integer part;
//  - against a floating number the number is stored as it is;
//  - against an integer: a name without a leading "_" takes the integer
//    part, a name with one keeps the current value;
//  - against a text the number's text is stored;
//  - with no current value (or another kind) the number is stored as it is.
#pragma once

#include <string_view>

#include "platform/values/Value.h"

platform::Value APMPCoerceParameterValue(std::string_view name, const platform::Value& current,
                                         const platform::Value& value);
