#include "measurement/script/APMPKeyValueStore.h"

#include "measurement/script/APMPScope.h"

APMPKeyValueStore::APMPKeyValueStore(std::u16string functionName, APMPKeyValueStoreGetValue::Block getValueBlock)
    : APMPFunctionValue(std::move(functionName), {}, {}, std::make_shared<APMPScope>()) {
  setValueForProperty(std::make_shared<APMPKeyValueStoreGetValue>(std::move(getValueBlock)), u"getValue");
}
