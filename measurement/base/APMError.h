// Measurement error values: platform errors in the domain
// "com.zoruvu.vod.measurement.ErrorDomain" with the caller's code, the
// description under the localized-description key and the monitor context
// under "APMMonitorContext", each present only when it is a non-empty text.
// The monitor reads the context back from errors passed to it as contexts.
//
// The helpers store into an error out-parameter that may be null (storing
// into null does nothing) and answer whether the checked value was good.
//
// Stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/values/Error.h"

inline constexpr const char* kAPMErrorDomain = "com.zoruvu.vod.measurement.ErrorDomain";
inline constexpr const char* kAPMMonitorContextKey = "APMMonitorContext";

platform::Error apm_errorWithCode(int64_t code, const std::string& description,
                                  const std::string& monitorContext = {});

void APMSetError(platform::Error* error, int64_t code, const std::string& description);
void APMSetErrorWithContext(platform::Error* error, int64_t code, const std::string& description,
                            const std::string& monitorContext);
bool APMCheckFlagOrSetError(bool flag, platform::Error* error, int64_t code, const std::string& description);
// Sets the error and answers NO: `return APMFailWithError(error, 1, "...");`.
inline bool APMFailWithError(platform::Error* error, int64_t code, const std::string& description) {
  APMSetError(error, code, description);
  return false;
}
// Anything that tests as present (a pointer, shared_ptr or optional).
template <class Object>
bool APMCheckObjectOrSetError(const Object& object, platform::Error* error, int64_t code,
                              const std::string& description) {
  return APMCheckFlagOrSetError(static_cast<bool>(object), error, code, description);
}
bool APMCheckHandleOrSetError(const void* handle, platform::Error* error, int64_t code,
                              const std::string& description);
bool APMCheckNonEmptyOrSetError(size_t countOrLength, platform::Error* error, int64_t code,
                                const std::string& description);
