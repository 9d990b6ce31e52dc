#include "measurement/features/APMScreen.h"

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMValue.h"

using platform::Dictionary;
using platform::Value;

namespace {

bool passes(const std::optional<std::string>& text, int64_t* failureCode = nullptr) {
  return text && APMDataTypeValidator::isValidScreenParameterValue(Value(*text), failureCode);
}

Dictionary parametersFromScreen(const APMScreen& screen, const char* idKey, const char* classKey, const char* nameKey,
                                bool logFailures) {
  Dictionary parameters;
  parameters.set(idKey, APMValue::objectWithInt64(screen.instanceID()));
  bool keepName = true;
  if (!screen.className() || screen.className()->empty()) {
    if (logFailures) APMEngineServices::monitor()->logWithLevel(3, 31014, "Screen class name is empty");
  } else {
    int64_t failure = 0;
    if (passes(screen.className(), &failure)) {
      parameters.set(classKey, APMValue::objectWithString(*screen.className()));
    } else if (logFailures) {
      // The current screen with a bad class keeps only its instance number.
      keepName = false;
      APMEngineServices::monitor()->logWithLevel(3, 31015, "Screen class name is invalid. Error code",
                                                 static_cast<long long>(failure));
    }
  }
  if (keepName && passes(screen.name())) parameters.set(nameKey, APMValue::objectWithString(*screen.name()));
  return parameters;
}

}  // namespace

Dictionary APMScreenParametersFromScreen(const APMScreen& screen, bool logFailures) {
  return parametersFromScreen(screen, "_si", "_sc", "_sn", logFailures);
}

Dictionary APMPreviousScreenParametersFromScreen(const APMScreen& screen) {
  return parametersFromScreen(screen, "_pi", "_pc", "_pn", false);
}
