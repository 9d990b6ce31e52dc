// Debug text of the measurement engine's monitor messages. With the
// monitor's debug mode on and the analytics front present (a class
// "ROZAdavurudo" registered in platform::ClassRegistry), internal names are
// shown with their public name ("ga_campaign (_cmp)") and parameter
// dictionaries as indented, case-insensitively sorted lines; otherwise names
// and objects print plainly.
//
// Objects are platform::Value trees whose leaves may be APMValue payloads
// (APMValue::toObject). Never fails; any thread.
#pragma once

#include <string>

#include "measurement/base/APMNameTables.h"
#include "platform/values/Value.h"

std::string APMDebugName(const platform::Value& name, const APMNameMap& publicToInternal);
std::string APMDebugEventName(const platform::Value& name);
std::string APMDebugParameterName(const platform::Value& name);
// "_exp_..." names always read "experiment_id (_exp_...)".
std::string APMDebugUserPropertyName(const platform::Value& name);

std::string APMDescriptionString(const platform::Value& object);
std::string APMDescriptionStringWithIndent(const platform::Value& object, const std::string& indent);
std::string APMArrayDescriptionString(const platform::Value& object);
