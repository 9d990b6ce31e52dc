#include "sdk/registration/RIRRegistration.h"

#include <mutex>

#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRHeartbeatLogger.h"
#include "sdk/installations/RIRInstallations.h"

void RIRCoreRegisterLibrary() {
  // The shared user agent starts with "riri-ios" and the SDK version.
  RIRApp::userAgent();
}

void RIRRegisterAll() {
  static std::once_flag once;
  std::call_once(once, [] {
    RIRCoreRegisterLibrary();
    RIRHeartbeatRegisterLibrary();
    RIRInstallationsRegisterLibrary();
  });
}
