// Flags of the experiments code: an APMPBFlag message made from a name and a
// value, and the value read back.
//
// APMPBFlagCreate(name, value): name must be a string and value a number or a
// string, else nullptr after a level-1 report to the shared measurement
// monitor (850000 "Flag name must not be nil", 850001 "Flag name must be a
// string", 850002 "Flag value is invalid", the last two with the offending
// object's class name as context). A string value goes to kStringValue, a
// floating number to kDoubleValue, any other number (bools included) to
// kIntValue (APMPBFlagSlot).
//
// APMPBFlagValue(flag): the first present of kIntValue, kDoubleValue,
// kStringValue, kBoolValue; null when none is present or flag is null.
//
// Thread safety: as the messages (one thread per message).
#pragma once

#include <memory>

#include "measurement/messages/APMPBMessage.h"
#include "platform/values/Value.h"

std::shared_ptr<APMPBFlag> APMPBFlagCreate(const platform::Value& name, const platform::Value& value);
platform::Value APMPBFlagValue(const APMPBFlag* flag);
