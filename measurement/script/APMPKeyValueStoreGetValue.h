// APMPKeyValueStoreGetValue: "getValue(key, default)" of the remote-values
// module: exactly two arguments (error 9), evaluated in order; the key as a
// text is looked up through the block, whose text becomes a new string; a
// key without a value gives the default argument unchanged, of any kind.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "measurement/script/APMPFunctionValue.h"

class APMPKeyValueStoreGetValue final : public APMPFunctionValue {
 public:
  using Block = std::function<std::optional<std::string>(const std::string& key)>;

  explicit APMPKeyValueStoreGetValue(Block block);
  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;

 private:
  Block m_block;
};
