// RIRRolloutsStateSubscriber: told the active rollouts after each activation
// and when it subscribes (on the thread that posts the change).
#pragma once

#include <memory>

#include "sdk/remote-config/interop/RIRRolloutsState.h"

class RIRRolloutsStateSubscriber {
 public:
  virtual ~RIRRolloutsStateSubscriber() = default;
  virtual void rolloutsStateDidChange(const std::shared_ptr<RIRRolloutsState>& rolloutsState) = 0;
};
