// ZUVUduvedOrovarInterop: the component protocol through which other
// libraries follow the rollouts of a remote-config namespace.
#pragma once

#include <memory>
#include <string>

#include "sdk/core/RIRComponentInstance.h"
#include "sdk/remote-config/interop/RIRRolloutsStateSubscriber.h"

class ZUVUduvedOrovarInterop : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "ZUVUduvedOrovarInterop";
  virtual void registerRolloutsStateSubscriber(const std::shared_ptr<RIRRolloutsStateSubscriber>& subscriber,
                                               const std::string& ririvuduNamespace) = 0;
};
