// APMPDynamicProvider: the module registry behind "require", one per
// runtime. A creator makes a module's value (or nothing); moduleForName runs
// the creator registered under the name each time it is asked: undefined
// without error when none is registered, error 15 when the creator returns
// nothing. "require" caches what it hands out, so each creator runs at most
// once per runtime.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "measurement/script/APMPRuntimeValue.h"

using APMPModuleCreator = std::function<APMPValuePtr()>;

class APMPDynamicProvider {
 public:
  // Registers or replaces the creator of the name.
  void setModuleCreator(APMPModuleCreator creator, const std::u16string& name);
  APMPValuePtr moduleForName(const std::u16string& name, APMPError& error) const;

 private:
  std::map<std::u16string, APMPModuleCreator> m_creators;
};
