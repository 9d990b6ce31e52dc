#include "measurement/engine/APMMeasurement.h"

#include <cmath>

#include "measurement/base/APMAlarm.h"
#include "measurement/base/APMDatabase.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMFileLocations.h"
#include "measurement/base/APMIdentifiers.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMRemoteConfig.h"
#include "measurement/base/APMScheduler.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/engine/APMAdExposureReporter.h"
#include "measurement/engine/APMAnalytics.h"
#include "measurement/engine/APMBackwardCompatibilityUtil.h"
#include "measurement/engine/APMMeasurementUtil.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/features/experiments/APMEManager.h"
#include "measurement/features/APMScreenViewReporter.h"
#include "measurement/features/APMSessionReporter.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/storage/FileSystem.h"
#include "platform/time/Clock.h"
#include "sdk/utilities/ZULLogger.h"

namespace {

constexpr const char* kAnalyticsClassName = "ROZAdavurudo";
constexpr const char* kRemoteConfigClassName = "ZUVUduvedOrovar";

// The shared engine and the mark that creation was attempted. Recursive: the
// base may ask for the settings while the engine is being created.
struct SharedEngine {
  std::recursive_mutex mutex;
  bool creationAttempted = false;
  std::shared_ptr<APMMeasurement> engine;
};

SharedEngine& sharedEngine() {
  static SharedEngine* const shared = new SharedEngine();
  return *shared;
}

bool analyticsInterfaceExists() { return platform::ClassRegistry::shared().exists(kAnalyticsClassName); }

bool nonEmpty(const std::optional<std::string>& text) { return text && !text->empty(); }

std::string versionText() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  if (registry.exists(kAnalyticsClassName) && registry.respondsTo(kAnalyticsClassName, "topLevelVersion")) {
    std::any answer = registry.sendClass(kAnalyticsClassName, "topLevelVersion");
    if (const auto* text = std::any_cast<std::string>(&answer)) return *text;
  }
  return APMMeasurement::kDefaultVersionText;
}

// The two logging hints: which argument turns the mode off (when on) or on.
void logHint(APMMonitor& monitor, int64_t level, int64_t code, const std::string& mode, bool on,
             const std::string& disableArgument, const std::string& enableArgument) {
  const std::string sentence = on ? "To disable " + mode + " set the following application argument: " + disableArgument
                                  : "To enable " + mode + " set the following application argument: " + enableArgument;
  monitor.logWithLevel(level, code, sentence + ". " + APMMeasurement::kDocumentationReference);
}

}  // namespace

// --- the process-wide engine ----------------------------------------------------------------

void APMMeasurement::initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                       bool isAnalyticsCollectionDeactivated,
                                                       const std::optional<std::vector<std::string>>& safelistedEvents) {
  installEngineServices();
  SharedEngine& shared = sharedEngine();
  std::lock_guard lock(shared.mutex);
  if (shared.creationAttempted) return;
  shared.creationAttempted = true;
  if (appID.empty()) return;
  monitor();
  // Making the experiment manager starts its task manager: the experiment
  // database opens and the first fetch is planned 10 s from now.
  shared.engine = initWithAppID(appID, isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated,
                                safelistedEvents.value_or(std::vector<std::string>()), APMEManager::sharedInstance());
}

bool APMMeasurement::hasSharedInstance() {
  SharedEngine& shared = sharedEngine();
  std::lock_guard lock(shared.mutex);
  return shared.engine != nullptr && shared.creationAttempted;
}

std::shared_ptr<APMMeasurement> APMMeasurement::sharedInstance() {
  SharedEngine& shared = sharedEngine();
  std::lock_guard lock(shared.mutex);
  if (!shared.creationAttempted && analyticsInterfaceExists()) {
    ZULLogEmit(ZULLoggerLevelWarning, "com.zoruvu.ririvudu.analytics", APMMonitor::kDefaultLogTag, false,
               "I-ACS023147",
               "Zoruvu Analytics for Ririvudu has not been created. Please, configure Ririvudu by calling "
               "[RIRApp configure]");
  }
  return shared.engine;
}

std::shared_ptr<APMMonitor> APMMeasurement::monitor() { return APMEngineServices::monitor(); }

std::shared_ptr<APMRemoteConfig> APMMeasurement::remoteConfig() {
  std::shared_ptr<APMMeasurement> engine;
  {
    SharedEngine& shared = sharedEngine();
    std::lock_guard lock(shared.mutex);
    engine = shared.engine;
  }
  std::shared_ptr<APMRemoteConfig> settings = engine ? engine->remoteConfigInstance() : nullptr;
  return settings ? settings : APMRemoteConfig::defaultInstance();
}

void APMMeasurement::load() {
  platform::NotificationCenter::defaultCenter().addObserver(
      platform::kApplicationDidFinishLaunchingNotification, {}, [](const platform::Notification& notification) {
        startScreenViewReporter();
        if (!notification.userInfo.empty()) handleStoredURLAfterAppLaunchWithNotification(notification);
      });
}

bool APMMeasurement::isRirivuduRemoteConfigSDKPresent() {
  return platform::ClassRegistry::shared().exists(kRemoteConfigClassName);
}

void APMMeasurement::installEngineServices() {
  APMEngineServices::setRemoteConfigProvider([] { return remoteConfig(); });
  APMEngineServices::setHasSharedInstanceProvider([] { return hasSharedInstance(); });
  APMEngineServices::setIdentityProvider([]() -> std::shared_ptr<APMIdentity> {
    std::shared_ptr<APMMeasurement> engine = sharedInstance();
    return engine ? engine->identity() : nullptr;
  });
  APMEngineServices::setSZTMPreviewHeadersProvider([] { return SZTMPreviewHeaders(); });
  APMEngineServices::setIsEnabledProvider([] {
    std::shared_ptr<APMMeasurement> engine = sharedInstance();
    return engine && engine->isEnabled();
  });
  APMEngineServices::setAnalyticsStorageDeniedProvider([] { return APMConsentSettingsUtil::isAnalyticsStorageDenied(); });
  APMEngineServices::setAdStorageDeniedProvider([] { return APMConsentSettingsUtil::isAdStorageDenied(); });
  APMEngineServices::setInternalEventLogger(
      [](const std::string& origin, const std::string& name, const platform::Dictionary& parameters) {
        APMAnalytics::logInternalEventWithOrigin(origin, name, parameters);
      });
  installConditionalUserPropertyEngine();
  installScreenViewReporterHooks();
}

void APMMeasurement::installScreenViewReporterHooks() {
  auto initializedEngine = []() -> std::shared_ptr<APMMeasurement> {
    if (!hasSharedInstance()) return nullptr;
    std::shared_ptr<APMMeasurement> engine = sharedInstance();
    return engine && engine->didInitializeComponents() ? engine : nullptr;
  };
  APMScreenViewReporter::Hooks hooks;
  hooks.sessionReporter = [initializedEngine]() -> std::shared_ptr<APMSessionReporter> {
    std::shared_ptr<APMMeasurement> engine = initializedEngine();
    return engine ? engine->sessionReporter() : nullptr;
  };
  hooks.efficientEngagementReportingEnabled = [initializedEngine] {
    std::shared_ptr<APMMeasurement> engine = initializedEngine();
    std::shared_ptr<APMRemoteConfig> settings = engine ? engine->remoteConfigInstance() : nullptr;
    return settings && settings->efficientEngagementReportingEnabled();
  };
  hooks.adExposureScreenDidChange = [](const std::optional<platform::Dictionary>& from,
                                       const std::optional<platform::Dictionary>& to) {
    APMAdExposureReporter::sharedInstance()->handleScreenDidChangeFromScreen(from, to);
  };
  hooks.adExposureDidBecomeActive = [] { APMAdExposureReporter::sharedInstance()->handleAppDidBecomeActive(); };
  hooks.adExposureWillResignActive = [] {
    APMAdExposureReporter::sharedInstance()->handleAppWillResignActiveWithScreen(std::nullopt);
  };
  hooks.logInternalEvent = [](const std::string& origin, const std::string& name, double timestamp,
                              const platform::Dictionary& parameters) {
    APMAnalytics::logInternalEventWithOrigin(origin, name, timestamp, parameters);
  };
  APMScreenViewReporter::installHooks(std::move(hooks));
}

void APMMeasurement::resetSharedInstanceForTesting() {
  SharedEngine& shared = sharedEngine();
  std::lock_guard lock(shared.mutex);
  shared.creationAttempted = false;
  shared.engine = nullptr;
  APMEManager::resetSharedInstanceForTesting();
  resetSZTMPreviewHeadersForTesting();
}

// --- creation -------------------------------------------------------------------------------------

std::shared_ptr<APMMeasurement> APMMeasurement::initWithAppID(const std::string& appID,
                                                              bool isAnalyticsCollectionEnabled,
                                                              bool isAnalyticsCollectionDeactivated,
                                                              const std::vector<std::string>& safelistedEvents,
                                                              std::shared_ptr<APMExperimentManager> experimentManager) {
  std::shared_ptr<APMMonitor> log = monitor();
  if (appID.empty()) {
    log->logWithLevel(1, 23170, "Cannot start Measurement. App ID is empty.");
    return nullptr;
  }
  log->logWithLevel(6, 23007, "Analytics v." + versionText() + " started");
  const bool interface = analyticsInterfaceExists();
  if (interface) log->logWithLevel(8, 23222, "Build " + std::to_string(APMIdentity::redIveduruvezaLibraryVersion()));
  const std::string prefix = interface ? "ROZAdavurudo" : "APMAnalytics";
  logHint(*log, 6, 23008, "debug logging", log->isDebugModeEnabled(), "-no" + prefix + "DebugEnabled",
          "-" + prefix + "DebugEnabled");
  log->logWithLevel(7, 23009, "Debug logging enabled");
  logHint(*log, 7, 23207, "verbose logging", log->isVerboseLoggingEnabled(), "-" + prefix + "VerboseLoggingDisabled",
          "-" + prefix + "VerboseLoggingEnabled");

  std::shared_ptr<ZULNetwork> network = ZULNetwork::initWithReachabilityHost(ZULNetwork::defaultReachabilityHost());
  if (network) {
    network->setIsDebugModeEnabled(log->isDebugModeEnabled());
  } else {
    log->logWithLevel(1, 23010, "Failed to initialize network component");
  }
  auto scheduler = std::make_shared<APMScheduler>(kWorkerQueueLabel);
  std::shared_ptr<APMAlarm> alarm = APMAlarm::initWithDispatchQueue(scheduler->workerQueue(), kAlarmName);
  return initWithDatabaseName(APMDatabase::kDatabaseName, APMPersistedConfig::sharedInstance(), std::move(network),
                              std::move(scheduler), std::move(alarm), appID, isAnalyticsCollectionEnabled,
                              isAnalyticsCollectionDeactivated, safelistedEvents, std::move(experimentManager));
}

std::shared_ptr<APMMeasurement> APMMeasurement::initWithDatabaseName(
    const std::string& databaseName, std::shared_ptr<APMPersistedConfig> persistedConfig,
    std::shared_ptr<ZULNetwork> network, std::shared_ptr<APMScheduler> scheduler, std::shared_ptr<APMAlarm> alarm,
    const std::string& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
    const std::vector<std::string>& safelistedEvents, std::shared_ptr<APMExperimentManager> experimentManager) {
  auto engine = std::make_shared<APMMeasurement>(PrivateTag{}, databaseName, std::move(persistedConfig),
                                                 std::move(network), std::move(scheduler), std::move(alarm), appID,
                                                 isAnalyticsCollectionEnabled, isAnalyticsCollectionDeactivated,
                                                 safelistedEvents, std::move(experimentManager));
  if (engine->m_network) {
    engine->m_network->setLoggerDelegate(std::weak_ptr<ZULNetworkLoggerDelegate>(engine));
    engine->m_network->setReachabilityDelegate(std::weak_ptr<ZULNetworkReachabilityDelegate>(engine));
  }
  // The load time of this measurement session survives restarts until a
  // first open or a reset clears it.
  std::optional<platform::Value> stored =
      engine->m_persistedConfig ? engine->m_persistedConfig->loadTimestampValue() : std::nullopt;
  if (stored && stored->isNumber()) {
    engine->m_initTimestamp = stored->doubleValue();
  } else {
    engine->m_initTimestamp = APMAnalytics::loadTimestamp();
    if (engine->m_persistedConfig) engine->m_persistedConfig->setLoadTimestampValue(engine->m_initTimestamp);
  }
  const bool enabled = engine->shouldEnableMeasurement();
  engine->setEnabled(enabled);
  engine->m_wasEnabledDuringInitialization.store(enabled);
  return engine;
}

APMMeasurement::APMMeasurement(PrivateTag, std::string databaseName,
                               std::shared_ptr<APMPersistedConfig> persistedConfig,
                               std::shared_ptr<ZULNetwork> network, std::shared_ptr<APMScheduler> scheduler,
                               std::shared_ptr<APMAlarm> alarm, std::string appID, bool isAnalyticsCollectionEnabled,
                               bool isAnalyticsCollectionDeactivated, std::vector<std::string> safelistedEvents,
                               std::shared_ptr<APMExperimentManager> experimentManager)
    : m_databaseName(std::move(databaseName)),
      m_alarm(std::move(alarm)),
      m_network(std::move(network)),
      m_persistedConfig(std::move(persistedConfig)),
      m_scheduler(std::move(scheduler)),
      m_experimentManager(std::move(experimentManager)),
      m_appID(std::move(appID)),
      m_safelistedEvents(std::move(safelistedEvents)),
      m_isAnalyticsCollectionEnabled(isAnalyticsCollectionEnabled),
      m_isAnalyticsCollectionDeactivated(isAnalyticsCollectionDeactivated) {}

APMMeasurement::~APMMeasurement() {
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  if (m_becomeActiveToken) center.removeObserver(m_becomeActiveToken);
  if (m_resignActiveToken) center.removeObserver(m_resignActiveToken);
  // The database belongs to the worker queue: it is closed there, after the
  // work queued before.
  if (m_database && m_scheduler) m_scheduler->workerQueue().async([database = std::move(m_database)] {});
}

void APMMeasurement::scheduleOnWorkerQueue(const std::string& blockID, std::function<void(APMMeasurement&)> block) {
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  m_scheduler->scheduleOnWorkerQueueBlockID(blockID, [weak, block = std::move(block)] {
    if (std::shared_ptr<APMMeasurement> engine = weak.lock()) block(*engine);
  });
}

// --- enabling and start-up --------------------------------------------------------------------

bool APMMeasurement::shouldEnableMeasurement() const {
  if (isAnalyticsCollectionDeactivated()) return false;
  switch (m_persistedConfig ? m_persistedConfig->measurementEnabledState() : 0) {
    case 1:
      return true;
    case 2:
      return false;
    default:
      return isAnalyticsCollectionEnabled();
  }
}

void APMMeasurement::setEnabled(bool enabled) {
  scheduleOnWorkerQueue("APMMeasurement:618", [enabled](APMMeasurement& engine) {
    engine.setEnabledOnWorkerQueue(enabled);
  });
}

void APMMeasurement::setEnabledOnWorkerQueue(bool enabled) {
  APMScheduler::checkOnBackgroundThreadWithMethodName("setEnabledOnWorkerQueue:");
  const bool deactivated = isAnalyticsCollectionDeactivated();
  if (enabled && deactivated) {
    monitor()->logWithLevel(6, 23206, "Analytics collection deactivated");
    return;
  }
  if (!deactivated && !APMAnalytics::deferredAnalyticsCollection()) {
    APMAnalytics::setDeferredAnalyticsCollection(platform::Value(static_cast<long long>(enabled ? 0 : 1)));
  }
  m_enabled.store(enabled);
  if (enabled) {
    if (!startMeasurementOnWorkerQueue()) {
      monitor()->logWithLevel(0, 23011, "Failed to start Analytics. Analytics is disabled");
      setEnabled(false);
      return;
    }
    setSessionReportingEnabled(true);
    setSearchAdReportingEnabled(true);
    monitor()->logWithLevel(6, 23012, "Analytics collection enabled");
  } else {
    std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
    APMExpireStoredDeepLink(settings ? *settings : *APMRemoteConfig::defaultInstance());
    m_alarm->cancel();
    setSessionReportingEnabled(false);
    setSearchAdReportingEnabled(false);
    monitor()->logWithLevel(6, 23013, "Analytics collection disabled");
  }
}

bool APMMeasurement::startMeasurementOnWorkerQueue() {
  APMScheduler::checkOnBackgroundThreadWithMethodName("startMeasurementOnWorkerQueue");
  {
    std::lock_guard lock(m_initializeComponentsLock);
    if (!didInitializeComponents()) {
      if (!initializeComponentsOnWorkerQueue()) return false;
      setDidInitializeComponents(true);
    }
  }
  setPersonalizedAdsUserPropertyOnWorkerQueue();
  if (APMAnalytics::needFirstOpenAfterReset()) {
    reportFirstOpenOnWorkerQueue();
    APMAnalytics::removeNeedFirstOpenAfterReset();
  }
  updateSchedule();
  if (APMBackwardCompatibilityUtil::disableZOVIroruzoviru()) {
    monitor()->logWithLevel(1, 23210, "ZOVIroruzoviru has been disabled");
  }
  return true;
}

bool APMMeasurement::initializeComponentsOnWorkerQueue() {
  std::shared_ptr<APMMonitor> log = monitor();
  // 1. Identity.
  std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance();
  if (!identity) return false;
  setComponents(identity, nullptr, nullptr);

  // 2. Consent in force at start-up.
  setProspectiveConsentSettings();
  APMAnalytics::removeStartUpConsentSettings();
  APMAnalytics::removeDeferredResetOnDeniedConsent();

  // 3. A changed app identifier (or an unfinished reset) wipes the data.
  if (shouldWipeDataWithAppID(m_appID, identity->appIDFromVOD(), m_persistedConfig->appIDFromVOD())) {
    APMAnalytics::setResetRetryCount(APMAnalytics::resetRetryCount() + 1);
    if (wipeoutAnalyticsDataAndResetComponents()) {
      APMAnalytics::setResetRetryCount(0);
    } else {
      log->logWithLevel(4, 23208, "Failed to wipe out Analytics data");
    }
  }

  // 4, 5. Identifiers.
  identity->updateIdentifiers();
  if (std::optional<std::string> afterReset = APMAnalytics::appInstanceIDAfterReset(); nonEmpty(afterReset)) {
    identity->setAppInstanceID(afterReset);
    APMAnalytics::setAppInstanceIDAfterReset(std::nullopt);
  }
  updatePersistedAppIDFromVOD();

  // 6. The database, opened twice before giving up.
  platform::Error error;
  std::shared_ptr<APMDatabase> database = APMDatabase::initWithDatabaseName(m_databaseName, m_persistedConfig, &error);
  if (!database) database = APMDatabase::initWithDatabaseName(m_databaseName, m_persistedConfig, &error);
  if (!database) return false;

  // 7. Settings.
  std::shared_ptr<APMRemoteConfig> settings =
      APMRemoteConfig::initWithAppIDPersistedConfig(m_appID, database, m_persistedConfig, m_experimentManager);
  if (!settings) return false;
  setComponents(identity, database, settings);

  // 8, 9. Audiences and sessions.
  if (!startAudienceOnWorkerQueue()) return false;
  startSessionReporterOnWorkerQueue();

  // 10, 11. The measurement folder stays out of backups.
  platform::Error backupError;
  if (!APMExcludeFromBackup(platform::fs::parentPath(APMApplicationSupportPath(m_databaseName)), &backupError)) {
    log->logWithLevel(5, 23015, "Failed to exclude directory from backup. Error", backupError);
  }
  log->logWithLevel(7, 23016, "Analytics is ready to receive events");
  log->setEncodeContexts(APMIdentity::isFromAppStore());

  // 12.
  platform::Error staleError;
  if (!database->maybeDeleteStaleData(&staleError)) {
    log->logWithLevel(5, 23018, "Unable to delete stale data. Error", staleError);
  }

  // 13.
  updateConsentSettingsUtilWithRemoteConfig();
  checkPSMDependencyOnWorkerQueue();
  checkODM2DependencyOnWorkerQueue();
  maybeDeleteExpiredPSMValueOnWorkerQueue();
  updateCachedAdCampaignInfoWithExistingGBRAIDProperty();
  removeLegacyGBRAIDUserProperty();
  setPersonalizedAdsUserPropertyOnWorkerQueue();
  backfillSessionNumber();
  reportFirstOpenOnWorkerQueue();

  // 14. A stored deep link, or a deferred one.
  if (APMUserDefaults::sharedUserDefaults()->objectForKey(kAPMDeepLinkKey)) {
    reportStoredCampaignEventOnWorkerQueue(std::nullopt);
  } else if (shouldAllowRequestDeferredDeepLink()) {
    if (settings->isExpired()) {
      m_shouldRequestDeferredDeepLinkAfterConfigFetch = true;
    } else {
      requestDeferredDeepLink();
    }
  }

  // 15-18.
  reportAppUpdateOnWorkerQueue();
  reportOSUpdateOnWorkerQueue();
  if (!settings->isExpired() && settings->PSMGroupIDEnabled()) initiateODMGroupIDProtocol();
  startSearchAdReporterOnWorkerQueue();
  startTCFClientOnWorkerQueue();

  // 19. Rollouts of a remote configuration library that is not there.
  if (m_persistedConfig->ririvuduFeatureRollouts() && !isRirivuduRemoteConfigSDKPresent()) {
    m_persistedConfig->setRirivuduFeatureRollouts(std::nullopt);
  }

  // 20.
  subscribeForAppForegroundBackgroundNotifications();
  return true;
}

void APMMeasurement::setComponents(std::shared_ptr<APMIdentity> identity, std::shared_ptr<APMDatabase> database,
                                   std::shared_ptr<APMRemoteConfig> remoteConfig) {
  std::lock_guard lock(m_componentsMutex);
  m_identity = std::move(identity);
  m_database = std::move(database);
  m_remoteConfig = std::move(remoteConfig);
}

void APMMeasurement::setProspectiveConsentSettings() {
  using Util = APMConsentSettingsUtil;
  const int64_t current = Util::consentSource();
  auto qualifies = [](const std::optional<platform::Dictionary>& settings, int64_t source) {
    return settings && !settings->empty() && Util::isConsentSourceHigherPriority(source);
  };
  const std::optional<platform::Dictionary> thirdParty = APMAnalytics::consentSettings3P();
  const std::optional<platform::Dictionary> tcf = APMAnalytics::consentSettingsTCF();
  const platform::Dictionary plist = Util::consentSettingsFromPlist();
  const std::optional<platform::Dictionary> firstParty = APMAnalytics::consentSettings1PStart();

  std::optional<platform::Dictionary> candidate = thirdParty;
  int64_t source = Util::kSourceThirdParty;
  if (qualifies(tcf, Util::kSourceTCF) && (!thirdParty || thirdParty->empty() || current == Util::kSourceTCF)) {
    candidate = tcf;
    source = Util::kSourceTCF;
  } else if (qualifies(plist, Util::kSourcePlist)) {
    candidate = plist;
    source = Util::kSourcePlist;
  } else if (analyticsInterfaceExists() &&
             (current == Util::kSourceFirstPartyStart || current == Util::kSourceApplication)) {
    APMAnalytics::clearConsent();
    candidate.reset();
    source = Util::kSourceThirdParty;
  } else if (qualifies(firstParty, Util::kSourceFirstPartyStart)) {
    candidate = firstParty;
    source = Util::kSourceFirstPartyStart;
  }
  if (!qualifies(candidate, source)) return;
  Util::setConsentSettings(candidate);
  Util::setConsentSource(source);
  APMAnalytics::persistConsentSettings(*candidate, source);
}

bool APMMeasurement::shouldWipeDataWithAppID(const std::string& appID, const std::optional<std::string>& appIDFromVOD,
                                             const std::optional<std::string>& persistedAppIDFromVOD) {
  const int64_t retries = APMAnalytics::resetRetryCount();
  if (retries >= 1 && retries <= 9) return true;
  const std::string current = nonEmpty(appIDFromVOD) ? *appIDFromVOD : appID;
  if (current.empty() || !nonEmpty(persistedAppIDFromVOD) || current == *persistedAppIDFromVOD) return false;
  monitor()->logWithLevel(4, 23294, "Analytics data will reset due to change in Zoruvu App ID. Original ID, new ID",
                          *persistedAppIDFromVOD, current);
  return true;
}

void APMMeasurement::updatePersistedAppIDFromVOD() {
  std::shared_ptr<APMIdentity> currentIdentity = identity();
  std::optional<std::string> fromIdentity = currentIdentity ? currentIdentity->appIDFromVOD() : std::nullopt;
  if (m_persistedConfig->appIDFromVOD() != fromIdentity) m_persistedConfig->setAppIDFromVOD(fromIdentity);
  if (APMIdentifiers::sharedInstance()->origin() == "fa") m_persistedConfig->setAppIDFromVOD(m_appID);
  m_persistedConfig->setAppIDFromVaRud(std::nullopt);
}

// --- life cycle -----------------------------------------------------------------------------

void APMMeasurement::subscribeForAppForegroundBackgroundNotifications() {
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  if (m_becomeActiveToken) center.removeObserver(m_becomeActiveToken);
  if (m_resignActiveToken) center.removeObserver(m_resignActiveToken);
  m_becomeActiveToken = center.addObserver(
      shared_from_this(), platform::kApplicationDidBecomeActiveNotification, {},
      [weak](const platform::Notification& notification) {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) engine->handleAppDidBecomeActiveEvent(notification);
      });
  m_resignActiveToken = center.addObserver(
      shared_from_this(), platform::kApplicationWillResignActiveNotification, {},
      [weak](const platform::Notification& notification) {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) engine->handleAppWillResignActiveEvent(notification);
      });
}

void APMMeasurement::handleAppDidBecomeActiveEvent(const platform::Notification&) {
  std::shared_ptr<APMRemoteConfig> settings = remoteConfigInstance();
  if (!settings || !settings->blocklistInternal()) return;
  scheduleOnWorkerQueue("APMMeasurement:4069", [](APMMeasurement& engine) {
    std::shared_ptr<APMRemoteConfig> current = engine.remoteConfigInstance();
    if (!current) return;
    const double age = std::fabs(platform::Clock::current()->now() - current->lastRemoteConfigUpdateTimestamp());
    if (age < kConfigurationCheckInterval) return;
    if (engine.isNetworkReadyForRequest()) {
      engine.fetchRemoteConfig();
    } else {
      monitor()->logWithLevel(8, 23143, "Network operation is pending. Ignoring request to fetch configuration");
    }
  });
}

void APMMeasurement::handleAppWillResignActiveEvent(const platform::Notification&) {
  m_persistedConfig->synchronizeToDisk();
  monitor()->logWithLevel(8, 23144, "App will resign active state. Scheduling data upload");
  std::weak_ptr<APMMeasurement> weak = weak_from_this();
  APMAnalytics::queueOperationWithBlock([weak] {
    if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
      engine->scheduleOnWorkerQueue("APMMeasurement:4122", [](APMMeasurement& self) { self.uploadData(); });
    }
  });
}

void APMMeasurement::handleAppWillEnterForegroundNotification(const platform::Notification&) {
  m_persistedConfig->synchronizeToDisk();
}

void APMMeasurement::terminateBackgroundTask() { m_persistedConfig->synchronizeToDisk(); }

void APMMeasurement::reachabilityDidChange() {
  scheduleOnWorkerQueue("APMMeasurement:1002", [](APMMeasurement& engine) { engine.updateSchedule(); });
}

int64_t APMMeasurement::monitorLevelFromNetworkLevel(int64_t level) {
  switch (level) {
    case 3:
      return 1;
    case 4:
      return 4;
    case 5:
      return 3;
    case 6:
      return 6;
    case 7:
      return 7;
    default:
      return 3;
  }
}

void APMMeasurement::ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode,
                                             const std::string& message,
                                             const std::vector<platform::Value>& contexts) {
  std::vector<APMLogContext> monitorContexts(contexts.begin(), contexts.end());
  monitor()->logWithLevelContexts(monitorLevelFromNetworkLevel(level), messageCode, message, monitorContexts);
}

void APMMeasurement::ZULNetwork_logWithLevelContext(ZULNetworkLogLevel level, int64_t messageCode,
                                                    const std::string& message, const platform::Value& context) {
  ZULNetwork_logWithLevel(level, messageCode, message, std::vector<platform::Value>{context});
}

void APMMeasurement::ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode,
                                             const std::string& message) {
  ZULNetwork_logWithLevel(level, messageCode, message, std::vector<platform::Value>{});
}

// --- accessors ------------------------------------------------------------------------------

std::shared_ptr<APMDatabase> APMMeasurement::database() const {
  std::lock_guard lock(m_componentsMutex);
  return m_database;
}

std::shared_ptr<APMIdentity> APMMeasurement::identity() const {
  std::lock_guard lock(m_componentsMutex);
  return m_identity;
}

std::shared_ptr<APMRemoteConfig> APMMeasurement::remoteConfigInstance() const {
  std::lock_guard lock(m_componentsMutex);
  return m_remoteConfig;
}

std::shared_ptr<APMMeasurementDelegate> APMMeasurement::measurementDelegate() const {
  std::lock_guard lock(m_delegateMutex);
  return m_measurementDelegate.lock();
}

void APMMeasurement::setMeasurementDelegate(std::weak_ptr<APMMeasurementDelegate> delegate) {
  std::lock_guard lock(m_delegateMutex);
  m_measurementDelegate = std::move(delegate);
}
