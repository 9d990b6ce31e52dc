// RIRLibrary: how an SDK library hands its components to the registry: a
// class name and the function listing its components. A library registers
// it from its registerLibrary() function (see RIRRegistration.h) through
// RIRApp::registerInternalLibrary.
// Thread safety: an immutable value.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "sdk/core/RIRComponent.h"

struct RIRLibrary {
  std::string className;
  std::function<std::vector<RIRComponent>()> componentsToRegister;
};
