// Releasing values without recursion.
//
// Dropping the last reference to an array that holds the last reference to
// another array, and so on, would free the chain recursively and could
// overflow the native stack (a chain built by a = [a] in a loop). Values
// that hold other values (arrays, maps, functions, statements) are therefore
// released through APMPReleaseLater: the first caller on a thread drains a
// thread-local list, so a value's destructor only hands its contents to the
// list, and the chain is freed one link at a time.
#pragma once

#include <vector>

#include "measurement/script/APMPRuntimeValue.h"

// Takes the values out of the list (leaving it empty) and releases them.
void APMPReleaseLater(std::vector<APMPValuePtr>& values);
// One value.
void APMPReleaseLater(APMPValuePtr& value);
