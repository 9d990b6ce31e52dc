#include "measurement/script/APMPDynamicProvider.h"

#include "measurement/script/APMPUndefinedValue.h"

void APMPDynamicProvider::setModuleCreator(APMPModuleCreator creator, const std::u16string& name) {
  m_creators[name] = std::move(creator);
}

APMPValuePtr APMPDynamicProvider::moduleForName(const std::u16string& name, APMPError& error) const {
  const auto found = m_creators.find(name);
  if (found == m_creators.end() || !found->second) return APMPUndefined();
  APMPValuePtr module = found->second();
  if (!module) {
    error.set(kAPMPErrorModuleNotCreated);
    return APMPUndefined();
  }
  return module;
}
