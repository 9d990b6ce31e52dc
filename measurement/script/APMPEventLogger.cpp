#include "measurement/script/APMPEventLogger.h"

#include <cmath>

#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPEventContext.h"
#include "measurement/script/APMPMapValue.h"
#include "measurement/script/APMPRuntimeEntityConverter.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "platform/text/Unicode.h"

namespace {

// Truncated toward zero (NaN gives 0) and held as a 64-bit integer: values
// beyond its range stay at its ends.
double wholeTimestamp(double value) {
  if (std::isnan(value)) return 0;
  const double whole = std::trunc(value);
  if (whole >= 9223372036854775807.0) return static_cast<double>(INT64_MAX);
  if (whole <= -9223372036854775808.0) return static_cast<double>(INT64_MIN);
  return static_cast<double>(static_cast<int64_t>(whole));
}

}  // namespace

APMPEventLogger::APMPEventLogger(std::shared_ptr<APMPEventContext> eventContext)
    : APMPFunctionValue(u"internal.eventLogger", {}, {}, std::make_shared<APMPScope>()),
      m_eventContext(std::move(eventContext)) {}

APMPValuePtr APMPEventLogger::invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                                  APMPError& error) {
  if (arguments.size() != 3) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  const std::optional<APMPValueList> values = APMPEvaluator::evaluateArguments(arguments, scope, error);
  if (!values) return APMPUndefined();
  const std::u16string name = (*values)[0]->stringValueOrError(error);
  if (error) return APMPUndefined();
  const double timestamp = (*values)[1]->doubleValueOrError(error);
  if (error) return APMPUndefined();
  if (!(*values)[2]->isMap()) {
    error.set(kAPMPErrorArgumentKind);
    return APMPUndefined();
  }
  const platform::Dictionary parameters =
      APMPRuntimeEntityConverter::dictionaryFromMapValue(static_cast<const APMPMapValue&>(*(*values)[2]), error);
  if (error) return APMPUndefined();
  m_eventContext->logEventWithName(platform::Unicode::toUtf8(name), wholeTimestamp(timestamp), parameters);
  return APMPUndefined();
}
