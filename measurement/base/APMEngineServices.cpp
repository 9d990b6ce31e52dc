#include "measurement/base/APMEngineServices.h"

#include <mutex>

#include "measurement/base/APMEventEditing.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMRemoteConfig.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

namespace {

struct Providers {
  std::mutex mutex;
  std::function<std::shared_ptr<APMRemoteConfig>()> remoteConfig;
  std::function<bool()> hasSharedInstance;
  std::function<std::shared_ptr<APMIdentity>()> identity;
  std::function<bool()> isEnabled;
  std::function<std::optional<platform::Dictionary>()> previewHeaders;
  std::function<bool()> analyticsStorageDenied;
  std::function<bool()> adStorageDenied;
  std::function<std::shared_ptr<APMEventEditing>()> eventEditing;
  APMEngineServices::InternalEventLogger internalEventLogger;
};

Providers& providers() {
  static Providers* const shared = new Providers();
  return *shared;
}

// A copy of one provider, taken under the lock and called outside it.
template <class Provider>
Provider installed(Provider Providers::*member) {
  Providers& all = providers();
  std::lock_guard lock(all.mutex);
  return all.*member;
}

template <class Provider>
void install(Provider Providers::*member, Provider provider) {
  Providers& all = providers();
  std::lock_guard lock(all.mutex);
  all.*member = std::move(provider);
}

}  // namespace

std::shared_ptr<APMMonitor> APMEngineServices::monitor() {
  // Made once and kept for the whole process: queued console lines and
  // samples may still run while statics are destroyed at exit.
  static std::shared_ptr<APMMonitor>* const shared =
      new std::shared_ptr<APMMonitor>(APMMonitor::initWithLibraryVersion(kMeasurementLibraryVersion));
  return *shared;
}

bool APMEngineServices::isFromAppStore() { return ZULAppEnvironmentUtil::isFromAppStore(); }

std::string APMEngineServices::deviceModel() { return ZULAppEnvironmentUtil::deviceModel(); }

std::shared_ptr<APMRemoteConfig> APMEngineServices::remoteConfig() {
  if (auto provider = installed(&Providers::remoteConfig)) {
    if (std::shared_ptr<APMRemoteConfig> config = provider()) return config;
  }
  return APMRemoteConfig::defaultInstance();
}

void APMEngineServices::setRemoteConfigProvider(std::function<std::shared_ptr<APMRemoteConfig>()> provider) {
  install(&Providers::remoteConfig, std::move(provider));
}

bool APMEngineServices::hasSharedInstance() {
  auto provider = installed(&Providers::hasSharedInstance);
  return provider ? provider() : false;
}

void APMEngineServices::setHasSharedInstanceProvider(std::function<bool()> provider) {
  install(&Providers::hasSharedInstance, std::move(provider));
}

std::shared_ptr<APMIdentity> APMEngineServices::identity() {
  auto provider = installed(&Providers::identity);
  return provider ? provider() : nullptr;
}

void APMEngineServices::setIdentityProvider(std::function<std::shared_ptr<APMIdentity>()> provider) {
  install(&Providers::identity, std::move(provider));
}

bool APMEngineServices::isEnabled() {
  auto provider = installed(&Providers::isEnabled);
  return provider ? provider() : false;
}

void APMEngineServices::setIsEnabledProvider(std::function<bool()> provider) {
  install(&Providers::isEnabled, std::move(provider));
}

std::optional<platform::Dictionary> APMEngineServices::SZTMPreviewHeaders() {
  auto provider = installed(&Providers::previewHeaders);
  return provider ? provider() : std::nullopt;
}

void APMEngineServices::setSZTMPreviewHeadersProvider(std::function<std::optional<platform::Dictionary>()> provider) {
  install(&Providers::previewHeaders, std::move(provider));
}

bool APMEngineServices::isAnalyticsStorageDenied() {
  auto provider = installed(&Providers::analyticsStorageDenied);
  return provider ? provider() : false;
}

void APMEngineServices::setAnalyticsStorageDeniedProvider(std::function<bool()> provider) {
  install(&Providers::analyticsStorageDenied, std::move(provider));
}

bool APMEngineServices::isAdStorageDenied() {
  auto provider = installed(&Providers::adStorageDenied);
  return provider ? provider() : false;
}

void APMEngineServices::setAdStorageDeniedProvider(std::function<bool()> provider) {
  install(&Providers::adStorageDenied, std::move(provider));
}

std::shared_ptr<APMEventEditing> APMEngineServices::makeEventEditing() {
  if (auto factory = installed(&Providers::eventEditing)) return factory();
  return std::make_shared<APMRecordingEventEditing>();
}

void APMEngineServices::setEventEditingFactory(std::function<std::shared_ptr<APMEventEditing>()> factory) {
  install(&Providers::eventEditing, std::move(factory));
}

void APMEngineServices::logInternalEvent(const std::string& origin, const std::string& name,
                                         const platform::Dictionary& parameters) {
  if (auto logger = installed(&Providers::internalEventLogger)) logger(origin, name, parameters);
}

void APMEngineServices::setInternalEventLogger(InternalEventLogger logger) {
  install(&Providers::internalEventLogger, std::move(logger));
}

void APMEngineServices::resetProvidersForTesting() {
  Providers& all = providers();
  std::lock_guard lock(all.mutex);
  all.remoteConfig = {};
  all.hasSharedInstance = {};
  all.identity = {};
  all.isEnabled = {};
  all.previewHeaders = {};
  all.analyticsStorageDenied = {};
  all.adStorageDenied = {};
  all.eventEditing = {};
  all.internalEventLogger = {};
}
