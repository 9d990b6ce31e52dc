// RIRComponentLifecycleMaintainer: a cached component instance that wants to
// hear that its app is being deleted derives from this interface too.
// Thread safety: called on the deleting thread under the container's lock.
#pragma once

#include "sdk/core/RIRComponentInstance.h"

class RIRApp;

class RIRComponentLifecycleMaintainer : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "RIRComponentLifecycleMaintainer";
  virtual void appWillBeDeleted(RIRApp& app) = 0;
};
