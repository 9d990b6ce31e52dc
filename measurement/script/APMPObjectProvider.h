// APMPObjectProvider: a module that answers a plain object (the app metadata
// of "internal.appMetadata"): each call runs the block and converts what it
// builds into a new script value (APMPRuntimeEntityConverter); arguments are
// ignored, not evaluated.
#pragma once

#include <functional>
#include <string>

#include "measurement/script/APMPFunctionValue.h"
#include "platform/values/Value.h"

class APMPObjectProvider final : public APMPFunctionValue {
 public:
  using Block = std::function<platform::Value()>;

  APMPObjectProvider(std::u16string name, Block block);
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;

 private:
  Block m_objectProviderBlock;
};
