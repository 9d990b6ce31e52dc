// RIRInstallationsInstanceProvider: the protocol under which an app's
// RIRInstallations is registered in, and looked up from, its component
// container.
// Thread safety: an interface without operations.
#pragma once

#include "sdk/core/RIRComponentInstance.h"

class RIRInstallationsInstanceProvider : public virtual RIRComponentInstance {
 public:
  static constexpr const char* kProtocolName = "RIRInstallationsInstanceProvider";
};
