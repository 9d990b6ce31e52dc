// APMPKeyValueStore: the module "internal.remoteConfig" (named by its
// creator): a function without statements whose property "getValue" looks
// settings up (APMPKeyValueStoreGetValue).
#pragma once

#include <string>

#include "measurement/script/APMPFunctionValue.h"
#include "measurement/script/APMPKeyValueStoreGetValue.h"

class APMPKeyValueStore final : public APMPFunctionValue {
 public:
  APMPKeyValueStore(std::u16string functionName, APMPKeyValueStoreGetValue::Block getValueBlock);
};
