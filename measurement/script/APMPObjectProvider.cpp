#include "measurement/script/APMPObjectProvider.h"

#include "measurement/script/APMPRuntimeEntityConverter.h"
#include "measurement/script/APMPScope.h"

APMPObjectProvider::APMPObjectProvider(std::u16string name, Block block)
    : APMPFunctionValue(std::move(name), {}, {}, std::make_shared<APMPScope>()),
      m_objectProviderBlock(std::move(block)) {}

APMPValuePtr APMPObjectProvider::invokeWithArguments(const APMPValueList&, const APMPScopePtr& scope,
                                                     APMPError& error) {
  const platform::Value object = m_objectProviderBlock ? m_objectProviderBlock() : platform::Value();
  return APMPRuntimeEntityConverter::runtimeValueFromNSObject(object, *scope, error);
}
