#include "sdk/registration/RIRRegistration.h"

#include <mutex>

#include "measurement/engine/ROZAdavurudo.h"
#include "measurement/engine/ROZAdavurudoConnector.h"
#include "measurement/script/APMPScriptRegistration.h"
#include "platform/runtime/ClassRegistry.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRHeartbeatLogger.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/remote-config/ZUVUduvedOrovarComponent.h"
#include "sdk/remote-config/ab-testing/RIRExperimentController.h"
#include "sdk/messaging/RIRMessaging.h"
#include "sdk/transport/ZDTCCTUploader.h"
#include "sdk/transport/ZDTCORApplication.h"
#include "sdk/transport/ZDTCORFlatFileStorage.h"
#include "sdk/transport/ZDTCORLifecycle.h"
#include "sdk/transport/ZDTCORMetricsController.h"

void RIRCoreRegisterLibrary() {
  // The shared user agent starts with "riri-ios" and the SDK version.
  RIRApp::userAgent();
  // Other libraries look the core's configuration class up by name (the
  // measurement monitor defers to the core's logger when it exists).
  platform::ClassRegistry::shared().registerClass("RIRConfiguration");
}

void RIRRegisterAll() {
  static std::once_flag once;
  std::call_once(once, [] {
    RIRCoreRegisterLibrary();
    RIRHeartbeatRegisterLibrary();
    RIRInstallationsRegisterLibrary();
    ZDTCORApplication::load();
    ZDTCORLifecycle::load();
    ZDTCORFlatFileStorage::load();
    ZDTCCTUploader::load();
    ZDTCORMetricsController::load();
    RIRABTestingRegisterLibrary();
    RIRRemoteConfigRegisterLibrary();
    RIRMessagingRegisterLibrary();
    APMPScriptRegisterLibrary();
    ROZAdavurudoRegisterLibrary();
    ROZAdavurudoConnectorRegisterLibrary();
  });
}
