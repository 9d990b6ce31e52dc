#include "measurement/script/APMPFunctionLog.h"

#include <cmath>

#include "measurement/script/APMPComparison.h"
#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "platform/text/Unicode.h"

APMPFunctionLog::APMPFunctionLog(std::shared_ptr<APMPLoggerDelegate> logger, bool silent, bool monitored)
    : APMPFunctionValue(u"log", {}, {}, std::make_shared<APMPScope>()),
      m_logger(std::move(logger)),
      m_silent(silent),
      m_monitored(monitored) {}

APMPValuePtr APMPFunctionLog::invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                                  APMPError& error) {
  const std::optional<APMPValueList> values = APMPEvaluator::evaluateArguments(arguments, scope, error);
  if (!values) return APMPUndefined();
  if (values->empty()) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  int64_t level = 4;
  size_t messageAt = 0;
  if (values->size() > 1) {
    const double number = (*values)[0]->doubleValueOrError(error);
    if (error) return APMPUndefined();
    const double integer = APMPToInteger(number);
    // Levels far outside the table all read as "any other".
    level = std::isfinite(integer) && std::fabs(integer) < 1e9 ? static_cast<int64_t>(integer) : 0;
    messageAt = 1;
  }
  const std::u16string message = (*values)[messageAt]->stringValueOrError(error);
  if (error) return APMPUndefined();
  std::vector<std::string> context;
  if (values->size() > 2) {
    for (size_t i = 2; i < values->size() && i < 5; ++i) {
      context.push_back(platform::Unicode::toUtf8((*values)[i]->stringValueOrError(error)));
      if (error) return APMPUndefined();
    }
  }
  if (m_logger) m_logger->logWithLevel(level, platform::Unicode::toUtf8(message), context, m_silent, m_monitored);
  return APMPUndefined();
}
