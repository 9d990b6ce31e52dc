// APMErrorCodeName: the names of the measurement error codes that events
// carry in their "_err" entry ("InvalidEventName" for 2, ...); built once,
// never changed. Codes 24 to 27 are not used.
#pragma once

#include <cstdint>
#include <map>
#include <string>

using APMErrorCodeNameMap = std::map<int64_t, std::string>;

const APMErrorCodeNameMap& APMErrorCodeName();
