#include "measurement/base/APMError.h"

platform::Error apm_errorWithCode(int64_t code, const std::string& description, const std::string& monitorContext) {
  platform::Dictionary userInfo;
  if (!description.empty()) userInfo.set(platform::Error::kLocalizedDescriptionKey, platform::Value(description));
  if (!monitorContext.empty()) userInfo.set(kAPMMonitorContextKey, platform::Value(monitorContext));
  return platform::Error(kAPMErrorDomain, code, std::move(userInfo));
}

void APMSetErrorWithContext(platform::Error* error, int64_t code, const std::string& description,
                            const std::string& monitorContext) {
  if (error != nullptr) *error = apm_errorWithCode(code, description, monitorContext);
}

void APMSetError(platform::Error* error, int64_t code, const std::string& description) {
  APMSetErrorWithContext(error, code, description, {});
}

bool APMCheckFlagOrSetError(bool flag, platform::Error* error, int64_t code, const std::string& description) {
  if (!flag) APMSetError(error, code, description);
  return flag;
}

bool APMCheckHandleOrSetError(const void* handle, platform::Error* error, int64_t code,
                              const std::string& description) {
  return APMCheckFlagOrSetError(handle != nullptr, error, code, description);
}

bool APMCheckNonEmptyOrSetError(size_t countOrLength, platform::Error* error, int64_t code,
                                const std::string& description) {
  return APMCheckFlagOrSetError(countOrLength != 0, error, code, description);
}
