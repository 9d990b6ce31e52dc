// RIRRegistration: the one ordered registration of the SDK libraries with the
// core. Nothing registers itself; the entry point, the probes and every test
// fixture that needs the libraries call RIRRegisterAll() once before
// configuring the SDK (later calls do nothing).
//
// Order (each library's function is called exactly once, in this order):
//   1. core             RIRCoreRegisterLibrary()   "riri-ios" in the user agent
//   2. heartbeats       RIRHeartbeatRegisterLibrary()   every app gets an RIRHeartbeatLogger
//   3. installations    RIRInstallationsRegisterLibrary()   "riri-install"
//   4. transport        ZDTCORApplication::load()   the application adapter (terminate relay)
//                       ZDTCORLifecycle::load()     the transport's life-cycle relay
//                       ZDTCORFlatFileStorage::load()   storage for targets 999, 1000,
//                                  1001, 1002, 1003; creating it starts the upload timer
//                       ZDTCCTUploader::load()   the uploader for targets 1000 to 1003
//                       ZDTCORMetricsController::load()   client metrics for 1002, 1001
//   5. A/B testing      RIRABTestingRegisterLibrary()   "riri-abt" (one lazy component)
//   6. remote config    RIRRemoteConfigRegisterLibrary()   "riri-rc" (provider and interop,
//                                  always eager; no database or fetch until asked)
//   7. messaging        RIRMessagingRegisterLibrary()   "riri-rcm"; its component is
//                       created when the default app is configured and needs the
//                       installations (3) and, for delivery metrics, the transport (4)
//   8. script runtime   APMPScriptRegisterLibrary()   the event-editing factory of the
//                       measurement settings (configuration programs run in it)
//   9. analytics        ROZAdavurudoRegisterLibrary()   the class "ROZAdavurudo" that
//                       configure starts analytics through (which starts the
//                       measurement engine), and the engine's did-finish-launching
//                       observer
//  10. analytics connector  ROZAdavurudoConnectorRegisterLibrary()   "riri-analytics" 12.5.0
//                       (one lazy, uncached component for ROZAdavurudoInterop;
//                       a connector registered earlier, e.g. a test fake, is kept)
// Libraries added later append their line here, their call in
// RIRRegistration.cpp and their target to this folder's CMakeLists.txt.
// A library's function calls RIRApp::registerInternalLibrary(library, name[,
// version]) for libraries with components, RIRApp::registerLibrary(name,
// version) for names only, and may install hooks such as
// RIRApp::setHeartbeatLoggerFactory.
//
// Thread safety: call from one thread before the SDK is configured; guarded
// by a once-flag.
#pragma once

void RIRCoreRegisterLibrary();
void RIRRegisterAll();
