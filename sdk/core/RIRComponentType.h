// RIRComponentType: the one way libraries look components up:
//   RIRComponentType::instanceForProtocol<P>(container)  // nullptr container -> nullptr
// Thread safety: as RIRComponentContainer.
#pragma once

#include <memory>

#include "sdk/core/RIRComponentContainer.h"

class RIRComponentType {
 public:
  template <class P>
  static std::shared_ptr<P> instanceForProtocol(const std::shared_ptr<RIRComponentContainer>& container) {
    return container ? container->instanceFor<P>() : nullptr;
  }
  static std::shared_ptr<RIRComponentInstance> instanceForProtocol(const RIRProtocol& protocol,
                                                                   const std::shared_ptr<RIRComponentContainer>& container) {
    return container ? container->instanceForProtocol(protocol) : nullptr;
  }
};
