// APMPRequire: the function "require" of every runtime's global scope.
//
// require(name): exactly one argument (error 9), evaluated and converted to
// a string. The first request of a name asks the runtime's provider and
// keeps what it answers, undefined for an unregistered name included, so a
// creator registered after that first request is never used by this runtime;
// later requests get the kept value. A creator's error (15) is passed on and
// nothing is kept.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "measurement/script/APMPDynamicProvider.h"
#include "measurement/script/APMPFunctionValue.h"

class APMPRequire final : public APMPFunctionValue {
 public:
  explicit APMPRequire(std::shared_ptr<APMPDynamicProvider> provider);

  APMPValuePtr invokeWithArguments(const APMPValueList& arguments, const APMPScopePtr& scope,
                                   APMPError& error) override;
  // The modules handed out stay alive with the runtime.
  void markReferences(APMPMarker& marker) const override;
  void dropReferences() override;

 private:
  std::shared_ptr<APMPDynamicProvider> m_provider;
  std::map<std::u16string, APMPValuePtr> m_modules;
};
