#include "measurement/script/APMPKeyValueStoreGetValue.h"

#include "measurement/script/APMPEvaluator.h"
#include "measurement/script/APMPScope.h"
#include "measurement/script/APMPStringValue.h"
#include "measurement/script/APMPUndefinedValue.h"
#include "platform/text/Unicode.h"

APMPKeyValueStoreGetValue::APMPKeyValueStoreGetValue(Block block)
    : APMPFunctionValue(u"getValue", {}, {}, std::make_shared<APMPScope>()), m_block(std::move(block)) {}

APMPValuePtr APMPKeyValueStoreGetValue::invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                                            APMPError& error) {
  const std::optional<APMPValueList> values = APMPEvaluator::evaluateArguments(arguments, scope, error);
  if (!values) return APMPUndefined();
  if (values->size() != 2) {
    error.set(kAPMPErrorArgumentCount);
    return APMPUndefined();
  }
  const std::u16string key = (*values)[0]->stringValueOrError(error);
  if (error) return APMPUndefined();
  const std::optional<std::string> text = m_block ? m_block(platform::Unicode::toUtf8(key)) : std::nullopt;
  if (!text) return (*values)[1];
  return APMPStringValue::checkedValueWithString(platform::Unicode::toUtf16(*text), error);
}
