// The engine's own reports on the worker queue (first open, session start,
// app and system updates, the stored campaign, the "_npa" user property and
// the consent defaults of the settings) and the screen-view and session
// reporters' part in start-up and in the event road. These are not built
// yet: each step does nothing, so the start-up sequence and the road go on
// (no screen is known, the application counts as active and no session
// expires).
#include "measurement/engine/APMMeasurement.h"

void APMMeasurement::updateConsentSettingsUtilWithRemoteConfig() {}
void APMMeasurement::updateCachedAdCampaignInfoWithExistingGBRAIDProperty() {}
void APMMeasurement::removeLegacyGBRAIDUserProperty() {}
void APMMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue() {}
void APMMeasurement::reportFirstOpenOnWorkerQueue() {}
void APMMeasurement::reportSessionStartOnWorkerQueueWithTimestamp(double, bool) {}
void APMMeasurement::removeSessionUserPropertiesOnWorkerQueue() {}
void APMMeasurement::reportAppUpdateOnWorkerQueue() {}
void APMMeasurement::reportOSUpdateOnWorkerQueue() {}
void APMMeasurement::reportStoredCampaignEventOnWorkerQueue(const std::optional<platform::Dictionary>&) {}

void APMMeasurement::startScreenViewReporter() {}
bool APMMeasurement::isAppActive() { return true; }
bool APMMeasurement::isSessionExpiredOnWorkerQueue() { return false; }
void APMMeasurement::extendSessionOnWorkerQueue() {}
void APMMeasurement::startSessionReporterOnWorkerQueue() {}
void APMMeasurement::setSessionReportingEnabled(bool) {}
