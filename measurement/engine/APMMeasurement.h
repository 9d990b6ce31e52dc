// APMMeasurement: the measurement engine. One process-wide object, created
// once by the analytics front on its queue "APMAnalyticsQueue" and never
// destroyed, that owns the measurement database, settings, identity, network
// client, upload alarm and the worker queue "com.zoruvu.vuve.worker", and
// through which every event, user property, upload and configuration fetch
// passes.
//
// Life: absent -> created (initializeSharedInstanceWithAppID, once per
// process; an empty app ID leaves the process without an engine for good)
// -> started (the first successful start-up sequence on the worker queue,
// run under the start-up lock) <-> enabled / disabled through setEnabled. A
// deactivated engine exists but never starts. The database, settings and
// components are made by the start-up sequence, not at creation.
//
// Queues: the public entry points only schedule blocks on the worker queue,
// under block IDs "APMMeasurement:<number>", holding the engine weakly.
// Every method whose name ends in OnWorkerQueue runs there and first checks
// it (APMScheduler::checkOnBackgroundThreadWithMethodName). Notification
// handlers run on the posting (main) thread and only schedule, except the
// synchronous write of the persisted configuration. The flags read from
// other queues (enabled, the two start options, the initialisation mark)
// are atomics; the components made by the start-up sequence are published
// under a lock.
//
// The engine's work is split by category, each in a file of its own:
//   APMMeasurement.cpp              creation, start-up, enabling, life cycle
//   APMMeasurementEventLogging.cpp  the event entry, default parameters, backfill
//   APMMeasurementEvents.cpp        the worker-queue road of an event to a raw event
//   APMMeasurementReports.cpp       first open, sessions, updates, campaigns, "_npa"
//   APMMeasurementConditionalUserProperties.cpp  conditional user properties in the event road
//   APMMeasurementUserState.cpp     user properties, reset and wipe-out, purchases
//   APMMeasurementBundles.cpp       bundle building
//   APMMeasurementSampling.cpp      event sampling
//   APMMeasurementUpload.cpp        upload scheduling and batch upload
//   APMMeasurementConfigFetch.cpp   the configuration fetch
//   APMMeasurementAudiences.cpp     audience evaluation's part in start-up
//   APMMeasurementDeepLinks.cpp     deep links, campaigns, debug mode by address
//   APMMeasurementOnDeviceConversion.cpp  search ads, lifetime value, on-device conversion (first protocol)
//   APMMeasurementAdsOnDeviceConversion.cpp  on-device conversion, second protocol
// Steps of the start-up sequence and of the event road that belong to a
// later category are methods of that category's file; until it is built they
// are empty steps that let the sequence go on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMDailyCounts.h"
#include "measurement/base/APMEvent.h"
#include "measurement/base/APMExperimentManager.h"
#include "measurement/base/APMMonitor.h"
#include "measurement/base/APMRawEventData.h"
#include "measurement/base/APMUserAttribute.h"
#include "measurement/base/APMValue.h"
#include "measurement/messages/APMPBMessage.h"
#include "platform/app/PurchaseStore.h"
#include "platform/app/UserActivity.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/values/Value.h"
#include "sdk/utilities/ZULNetwork.h"

class APMAlarm;
class APMAudienceTimestampsCache;
class APMDatabase;
class APMGroupContext;
class APMEventAggregates;
class APMIdentity;
class APMPersistedConfig;
class APMPrivateSetMembershipClient;
class APMPSMContext;
class APMRemoteConfig;
class APMScheduler;
class APMSearchAdReporter;
class APMSessionReporter;
class ODCConversionService;
class APMTCFClient;

// A delegate the engine keeps (weakly) and never calls.
class APMMeasurementDelegate {
 public:
  virtual ~APMMeasurementDelegate() = default;
};

class APMMeasurement : public ZULNetworkReachabilityDelegate,
                       public ZULNetworkLoggerDelegate,
                       public std::enable_shared_from_this<APMMeasurement> {
 public:
  static constexpr const char* kWorkerQueueLabel = "com.zoruvu.vuve.worker";
  static constexpr const char* kAlarmName = "Measurement timer";
  static constexpr const char* kDefaultVersionText = "120500000";
  static constexpr const char* kDocumentationReference = "See the analytics debugging guide of the SDK documentation.";
  static constexpr double kConfigurationCheckInterval = 604800;  // 7 days

  // The interceptor of public events (origin, name, parameters, timestamp).
  using LogEventInterceptor = std::function<void(const std::string& origin, const std::string& name,
                                                 const platform::Dictionary& parameters, double timestamp)>;
  using RawEventFilter = std::function<bool(const APMRawEventData& rawEvent)>;

  // --- the process-wide engine ------------------------------------------------------------
  static void initializeSharedInstanceWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                bool isAnalyticsCollectionDeactivated,
                                                const std::optional<std::vector<std::string>>& safelistedEvents);
  static bool hasSharedInstance();
  // None (and a console warning while creation was never attempted and the
  // analytics interface is registered) without an engine.
  static std::shared_ptr<APMMeasurement> sharedInstance();
  static std::shared_ptr<APMMonitor> monitor();
  // The engine's settings, or the default settings without them.
  static std::shared_ptr<APMRemoteConfig> remoteConfig();
  // Observes did-finish-launching (the analytics registration calls it once).
  static void load();
  static bool isRirivuduRemoteConfigSDKPresent();
  // Points the base's services seam at the engine and the consent state.
  static void installEngineServices();
  // Makes the shared engine the conditional-property controller's engine
  // (APMMeasurementConditionalUserProperties.cpp).
  static void installConditionalUserPropertyEngine();
  // Gives the shared screen-view reporter the engine's session reporter, the
  // ad exposure reporter and the front's event logging.
  static void installScreenViewReporterHooks();
  // Forgets the shared engine, the creation mark, the shared experiment
  // manager and the sZTM preview headers (tests); the old engine keeps running
  // on its queue until its last owner lets go.
  static void resetSharedInstanceForTesting();

  // --- creation -----------------------------------------------------------------------------
  // Logs, network client, scheduler and alarm, then the designated initializer
  // with the shared persisted configuration; none for an empty app ID.
  static std::shared_ptr<APMMeasurement> initWithAppID(const std::string& appID, bool isAnalyticsCollectionEnabled,
                                                       bool isAnalyticsCollectionDeactivated,
                                                       const std::vector<std::string>& safelistedEvents,
                                                       std::shared_ptr<APMExperimentManager> experimentManager);
  static std::shared_ptr<APMMeasurement> initWithDatabaseName(
      const std::string& databaseName, std::shared_ptr<APMPersistedConfig> persistedConfig,
      std::shared_ptr<ZULNetwork> network, std::shared_ptr<APMScheduler> scheduler, std::shared_ptr<APMAlarm> alarm,
      const std::string& appID, bool isAnalyticsCollectionEnabled, bool isAnalyticsCollectionDeactivated,
      const std::vector<std::string>& safelistedEvents, std::shared_ptr<APMExperimentManager> experimentManager);
  ~APMMeasurement() override;
  APMMeasurement(const APMMeasurement&) = delete;
  APMMeasurement& operator=(const APMMeasurement&) = delete;

  // --- enabling and start-up ------------------------------------------------------------------
  bool shouldEnableMeasurement() const;
  void setEnabled(bool enabled);
  void setEnabledOnWorkerQueue(bool enabled);
  bool startMeasurementOnWorkerQueue();
  bool shouldWipeDataWithAppID(const std::string& appID, const std::optional<std::string>& appIDFromVOD,
                               const std::optional<std::string>& persistedAppIDFromVOD);
  void setProspectiveConsentSettings();
  void updatePersistedAppIDFromVOD();

  // --- life cycle -----------------------------------------------------------------------------
  void subscribeForAppForegroundBackgroundNotifications();
  void handleAppDidBecomeActiveEvent(const platform::Notification& notification);
  void handleAppWillResignActiveEvent(const platform::Notification& notification);
  void handleAppWillEnterForegroundNotification(const platform::Notification& notification);
  void terminateBackgroundTask();
  // ZULNetworkReachabilityDelegate: re-plans the upload.
  void reachabilityDidChange() override;
  // ZULNetworkLoggerDelegate: the network client's lines into the monitor.
  void ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message,
                               const std::vector<platform::Value>& contexts) override;
  void ZULNetwork_logWithLevelContext(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message,
                                      const platform::Value& context) override;
  void ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message) override;
  static int64_t monitorLevelFromNetworkLevel(int64_t level);

  // --- accessors ------------------------------------------------------------------------------
  std::shared_ptr<APMAlarm> alarm() const { return m_alarm; }
  std::shared_ptr<APMDatabase> database() const;
  std::shared_ptr<APMIdentity> identity() const;
  std::shared_ptr<ZULNetwork> network() const { return m_network; }
  std::shared_ptr<APMPersistedConfig> persistedConfig() const { return m_persistedConfig; }
  std::shared_ptr<APMRemoteConfig> remoteConfigInstance() const;
  std::shared_ptr<APMScheduler> scheduler() const { return m_scheduler; }
  const std::vector<std::string>& safelistedEvents() const { return m_safelistedEvents; }
  const std::string& appID() const { return m_appID; }
  double initTimestamp() const { return m_initTimestamp; }
  bool isEnabled() const { return m_enabled.load(); }
  bool wasEnabledDuringInitialization() const { return m_wasEnabledDuringInitialization.load(); }
  bool isAnalyticsCollectionEnabled() const { return m_isAnalyticsCollectionEnabled.load(); }
  void setIsAnalyticsCollectionEnabled(bool value) { m_isAnalyticsCollectionEnabled.store(value); }
  bool isAnalyticsCollectionDeactivated() const { return m_isAnalyticsCollectionDeactivated.load(); }
  void setIsAnalyticsCollectionDeactivated(bool value) { m_isAnalyticsCollectionDeactivated.store(value); }
  bool isNetworkRequestPending() const { return m_isNetworkRequestPending.load(); }
  void setIsNetworkRequestPending(bool value) { m_isNetworkRequestPending.store(value); }
  bool didInitializeComponents() const { return m_didInitializeComponents.load(); }
  void setDidInitializeComponents(bool value) { m_didInitializeComponents.store(value); }
  bool shouldUpdateNPAUserProperty() const { return m_shouldUpdateNPAUserProperty; }
  void setShouldUpdateNPAUserProperty(bool value) { m_shouldUpdateNPAUserProperty = value; }
  void setSuspendedUploadTimestamp(double value) { m_suspendedUploadTimestamp = value; }
  std::shared_ptr<APMMeasurementDelegate> measurementDelegate() const;
  void setMeasurementDelegate(std::weak_ptr<APMMeasurementDelegate> delegate);
  std::shared_ptr<APMExperimentManager> experimentManager() const { return m_experimentManager; }

  // --- event entry, default parameters and backfill (APMMeasurementEventLogging.cpp) ----------
  void logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                          const platform::Dictionary& parameters, double timestamp, bool enabled, bool ignoreEnabled,
                          bool ignoreInterceptor, LogEventInterceptor interceptor,
                          const std::optional<platform::Dictionary>& addedScreenParameters);
  void logEventOnWorkerQueueWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                       const platform::Dictionary& parameters, double timestamp, bool enabled,
                                       bool ignoreEnabled, bool ignoreInterceptor,
                                       const LogEventInterceptor& interceptor,
                                       const std::optional<platform::Dictionary>& addedScreenParameters);
  void logEvent(const std::shared_ptr<APMEvent>& event);
  void logEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event, bool notifyEventListeners);
  void setDefaultEventParameters(const std::optional<platform::Dictionary>& parameters);
  void handleSetDefaultEventParametersOnWorkerQueue(const std::optional<platform::Dictionary>& parameters,
                                                    bool backfillEvents);
  platform::Dictionary parametersWithAddedDefaultEventParameters(const platform::Dictionary& parameters);
  platform::Dictionary paramsWithAddedFirstOpenConsentedEventParams(const platform::Dictionary& parameters);
  platform::Dictionary firstOpenConsentedEventParams();
  bool shouldBackfillEvents();
  void backfillEventsWithParameters(const platform::Dictionary& parameters, bool isPublic,
                                    const RawEventFilter& eventFilter);
  void backfillSessionID(const APMValuePtr& sessionID, const APMValuePtr& sessionNumber);
  double backfillStartTimestampForSessionID(const APMValuePtr& sessionID);
  bool shouldBackfillSessionID(const APMValuePtr& sessionID, double startTimestamp,
                               std::map<int64_t, bool>& fingerprintToSessionIDExistence,
                               const APMRawEventData& onEvent);

  // --- the event road on the worker queue (APMMeasurementEvents.cpp) ----------------------------
  void handleInternalEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
  void handleEventOnWorkerQueue(std::shared_ptr<APMEvent> event);
  void writeEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
  void writeFilteredEventOnWorkerQueue(const std::shared_ptr<APMEvent>& event);
  std::shared_ptr<APMEvent> eventAfterSafelistingEvent(const std::shared_ptr<APMEvent>& event);
  void processSessionFromEvent(const APMEvent& event);
  bool dedupeSubscriptionEvent(const APMEvent& event);
  bool shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event);
  std::shared_ptr<APMEvent> appExceptionEventWithRirivuduFeatureRollouts(const std::shared_ptr<APMEvent>& event);
  void writeSessionStartEventOnWorkerQueue(const APMEvent& event);
  bool updateLifetimeValueWithEvent(const APMEvent& event);
  bool shouldProcessEvent(const APMEvent& event, APMDailyCounts& dailyCounts, bool isPublicEvent);
  bool isRealtimeEvent(APMEvent& event, const APMDailyCounts& dailyCounts);
  void maybeAddDebugAndRealtimeParameters(APMEvent& event);
  bool writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime);
  std::shared_ptr<APMPBMeasurementBundle> createRawEventMetadataWithUserAttributes(
      const std::vector<std::shared_ptr<APMUserAttribute>>& userAttributes);
  void logFirstOpenConsentedEvent(double timestamp);

  // --- first open, sessions, updates, campaigns, "_npa" (APMMeasurementReports.cpp) ------------
  void updateConsentSettingsUtilWithRemoteConfig();
  void updateCachedAdCampaignInfoWithExistingGBRAIDProperty();
  void removeLegacyGBRAIDUserProperty();
  void setPersonalizedAdsUserPropertyOnWorkerQueue();
  void reportFirstOpenOnWorkerQueue();
  void reportSessionStartOnWorkerQueueWithTimestamp(double timestamp, bool appInBackground);
  void removeSessionUserPropertiesOnWorkerQueue();
  void reportAppUpdateOnWorkerQueue();
  void reportOSUpdateOnWorkerQueue();
  // The click time in milliseconds, none when unknown.
  void reportStoredCampaignEventOnWorkerQueue(const std::optional<int64_t>& clickTimestampMillis);
  // 1 (no personalized ads), 0, or none when nothing says.
  std::optional<int64_t> shouldDisableAdPersonalization();
  void updateAdPersonalizationConsentFromNPAValue(const std::optional<int64_t>& value);
  // The next whole hour after the time (an exact hour moves one hour on).
  static int64_t timestampMillisRoundedUpToNextHour(int64_t milliseconds);
  // YES when no app version was stored yet or the stored one is the running one.
  bool isVersionSameAsOriginalVersion();
  // The screen-view and session reporters' part of the road and of start-up
  // (the screen-view reporter is made when launching has finished).
  static void startScreenViewReporter();
  bool isAppActive();
  bool isSessionExpiredOnWorkerQueue();
  void extendSessionOnWorkerQueue();
  void startSessionReporterOnWorkerQueue();
  void setSessionReportingEnabled(bool enabled);
  // The session reporter made by the start-up sequence (or the last reset).
  std::shared_ptr<APMSessionReporter> sessionReporter() const;
  void setSessionTimeoutInterval(double seconds);
  // The conditional user properties an event triggers (none on failure).
  std::optional<std::vector<std::shared_ptr<APMEvent>>> processConditionalUserPropertiesOnWorkerQueue(
      const APMEvent& event);

  // --- user properties, reset and wipe-out, purchases (APMMeasurementUserState.cpp) ------------
  using SessionIDCompletion = std::function<void(int64_t sessionID, std::optional<platform::Error> error)>;
  using UserPropertiesCallback = std::function<void(platform::Dictionary properties)>;
  bool wipeoutAnalyticsDataAndResetComponents();
  // Called off the worker queue and the main thread: waits for the worker queue.
  bool resetAnalyticsDataWithAppInstanceID(const std::optional<std::string>& appInstanceID);
  void setUserAttribute(const std::shared_ptr<APMUserAttribute>& attribute);
  void removeUserAttribute(const std::shared_ptr<APMUserAttribute>& attribute);
  bool setUserAttributeOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& attribute);
  void removeUserAttributeOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& attribute);
  // Stores a user property under the per-origin limits; NO on failure.
  bool setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& attribute);
  void userAttributeWithName(const std::string& name,
                             std::function<void(std::shared_ptr<APMUserAttribute>)> callback);
  void userPropertiesIncludingInternal(bool includingInternal, UserPropertiesCallback callback);
  void maxUserPropertiesForOrigin(const std::string& origin, std::function<void(int64_t)> callback);
  // The completion runs on the worker queue.
  void sessionIDWithCompletion(SessionIDCompletion completion);
  // Seconds of the first open, 0 when unknown (worker queue).
  double firstOpenTimestamp();
  void setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
  bool hasUserPropertyUserIDOnWorkerQueue();
  static bool shouldAllowAdNetworkRegistration();
  // Only the purchased ones of the transactions that were not reported yet.
  void filterPurchaseTransactions(const std::vector<platform::PaymentTransaction>& transactions,
                                  std::function<void(std::vector<platform::PaymentTransaction>)> callback);
  void setUserData(const platform::Dictionary& userData);

  // --- bundle building (APMMeasurementBundles.cpp) ---------------------------------------------
  // One group of raw events, taken in one exclusive transaction.
  struct RawEventGroup {
    std::vector<std::shared_ptr<APMRawEventData>> rawEvents;  // the readable rows, in row order
    int64_t lastRowID = -1;                                   // the last row taken, readable or not
  };
  // The oldest group of raw events (one metadata, one hour, consecutive row
  // IDs, within the count and size limits) becomes one queued bundle and
  // leaves the raw-events table, or is dropped whole; YES when a group was
  // consumed, NO when there was none or the transaction rolled back.
  bool bundleRawEvents();
  // Rows that cannot be read are taken (and so deleted with the group) but
  // yield no event; none on a failed query.
  std::optional<RawEventGroup> rawEventsWithMetadataFingerprint(int64_t fingerprint);
  // The group's events after rejection, conversion, real-time and purchase
  // checks; none on failure.
  std::optional<std::vector<std::shared_ptr<APMEvent>>> processRawEvents(const RawEventGroup& group,
                                                                         int64_t fingerprint);
  std::shared_ptr<APMEvent> internalEventFromPublicEvent(const std::shared_ptr<APMEvent>& event);
  std::shared_ptr<APMEvent> processInAppPurchaseEvent(const std::shared_ptr<APMEvent>& event);
  std::shared_ptr<APMEvent> validateAutomaticInAppPurchaseEvent(const std::shared_ptr<APMEvent>& event);
  std::shared_ptr<APMEvent> processManualInAppPurchaseEvent(const std::shared_ptr<APMEvent>& event);
  // YES when the counts changed.
  bool checkConversion(APMEvent& event, APMDailyCounts& dailyCounts);
  bool checkRealtime(APMEvent& event, APMDailyCounts& dailyCounts);
  // Session start and engagement work of a bundle; answers its start time.
  double evaluationTimeFromRawEvents(const RawEventGroup& group, APMPBMeasurementBundle& bundle);
  void handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle);
  std::optional<std::vector<std::shared_ptr<APMEvent>>> eventsAfterUpdatingEventAggregates(
      const std::vector<std::shared_ptr<APMEvent>>& events,
      const std::shared_ptr<APMAudienceTimestampsCache>& audienceTimestampsCache, bool allowEventFilterEvaluation);
  std::shared_ptr<APMEvent> purchaseEventWithCustomerTypeParam(const std::shared_ptr<APMEvent>& event);
  bool updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                  double bundleEndTimestamp);
  bool updateUserEngagement(int64_t milliseconds, APMPBMeasurementBundle& bundle, bool sessionScoped);
  void addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double bundleStartTimestamp,
                                   double bundleEndTimestamp);

  // --- event sampling (APMMeasurementSampling.cpp) ---------------------------------------------
  // The encoded events of a bundle after sampling; none (the error set) on failure.
  std::optional<platform::Array> sampleEvents(const platform::Array& events, platform::Error* error);

  // --- upload scheduling and batch upload (APMMeasurementUpload.cpp) ---------------------------
  using QueuedBundle = std::pair<std::shared_ptr<APMPBMeasurementBundle>, int64_t>;
  static constexpr double kUploadSuspensionInterval = 3600;
  // Re-plans the one upload alarm: the earlier of the pending and the new time.
  void updateSchedule();
  // Seconds since 1970 of the next upload, 0 when none is due.
  double nextUploadingTime();
  bool hasDataToUpload();
  void uploadDataOrRegisterAlarm();
  void backfillSessionNumber();
  // Bundles what is due, then composes and posts one batch.
  void uploadData();
  bool isNetworkReadyForRequest();
  // The longest prefix of the bundles with the same app ID and, where the
  // chosen kind of device ID is set in both, the same device ID.
  std::vector<QueuedBundle> filteredBundlesWithCompatibleAppID(const std::string& appID,
                                                               const std::string& resettableDeviceID,
                                                               const std::string& vendorDeviceID,
                                                               const std::vector<QueuedBundle>& bundlesToUpload);
  // NO (after its line) for an empty list or while another batch is recorded.
  bool setUploadInProgressWithBundleIDs(const std::vector<int64_t>& bundleIDs);
  void networkUploadCompletionHandlerWithResponse(const std::optional<platform::HttpResponse>& response,
                                                  const std::optional<platform::Error>& error);
  void incrementRetryCounter();
  bool removeBundlesFromDatabaseWithIDs(const std::vector<int64_t>& bundleIDs);
  bool shouldUseBackgroundSession() const { return false; }
  const std::vector<int64_t>& uploadingBundleIDs() const { return m_uploadingBundleIDs; }
  double suspendedUploadTimestamp() const { return m_suspendedUploadTimestamp; }

  // --- configuration fetch (APMMeasurementConfigFetch.cpp) --------------------------------------
  void fetchRemoteConfig();
  void networkRemoteConfigFetchCompletionHandler(const std::optional<platform::HttpResponse>& response,
                                                 const std::optional<platform::Bytes>& data,
                                                 const std::optional<platform::Error>& error);
  // Stores a configuration body in one transaction (decode, app ID, settings,
  // consent, audiences); NO rolls everything back and gives the code of the
  // monitor line that said why (23135 .. 23138).
  bool storeRemoteConfigData(const platform::Bytes& body, int64_t* refusalCode);
  // What follows every answer that is not a failure.
  void remoteConfigFetchFollowUps();

  // --- audiences (APMMeasurementAudiences.cpp) --------------------------------------------------
  bool startAudienceOnWorkerQueue();
  // Bundling's part: one cache per bundle, shared by its event and user
  // property evaluations; NO from an evaluation stops the bundle.
  std::shared_ptr<APMAudienceTimestampsCache> newAudienceTimestampsCache();
  bool evaluateAudienceFiltersForEvent(const APMEvent& event, const APMEventAggregates& aggregates,
                                       const std::shared_ptr<APMAudienceTimestampsCache>& audienceTimestampsCache);
  bool evaluateAudienceFiltersForUserProperty(const APMPBUserAttribute& userAttribute,
                                              const std::shared_ptr<APMAudienceTimestampsCache>& audienceTimestampsCache,
                                              std::optional<double> evaluationTime);
  void clearAudienceResultsForSessionScopedFilters();
  // The results to bundle (AudienceLeafFilterResult messages); none on failure.
  std::optional<platform::Array> audienceResultsForBundling();
  // A stored configuration's audiences replace the stored ones; NO on failure.
  bool updateAudiences(const platform::Array& audiences);

  // --- deep links, campaigns and TCF (APMMeasurementDeepLinks.cpp) ------------------------------
  // Where the deferred deep link is asked for (APP_SERVICES_URL applies).
  static constexpr const char* kDeferredDeepLinkServiceURL = "https://adservice.ririvudu.com";
  static constexpr const char* kDeferredDeepLinkPath = "/adlink/conversion/app/deeplink";
  static constexpr const char* kSZTMPreviewHeader = "X-Ztm-Server-Preview";
  static constexpr const char* kLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";
  static constexpr const char* kLaunchOptionsUserActivityDictionaryKey =
      "UIApplicationLaunchOptionsUserActivityDictionaryKey";
  // In that dictionary: the activity as an opaque platform::UserActivity.
  static constexpr const char* kLaunchOptionsUserActivityKey = "UIApplicationLaunchOptionsUserActivityKey";

  bool shouldAllowRequestDeferredDeepLink();
  void requestDeferredDeepLink();
  // The query's settings; none when the request address would not parse.
  std::optional<std::string> deferredDeepLinkURL();
  static std::optional<platform::Dictionary> deepLinkInfoFromResponseData(const platform::Bytes& data);
  void handleDeferredDeepLinkInfo(const platform::Dictionary& info);
  // Nobody on this platform takes an address from the engine: NO.
  static bool sendDeepLinkURLToAppDelegateOnMainThread(const std::string& url, const platform::Dictionary& extraInfo);
  static void handleStoredURLAfterAppLaunchWithNotification(const platform::Notification& notification);
  // Process-wide, guarded: set on the caller's thread, read by the upload.
  static void handleSZTMDebugModeWithURL(const std::string& url);
  static std::optional<platform::Dictionary> SZTMPreviewHeaders();
  static void resetSZTMPreviewHeadersForTesting();
  static std::optional<std::string> deepLinkFromUserActivity(const platform::UserActivity& userActivity);
  void handleNonFirstOpenEventURL(const std::string& url, double eventTimestampInSeconds,
                                  const std::optional<std::string>& referrerURL);
  void handleOpenURL(const std::string& url, std::optional<int64_t> clickTimestampInMs,
                     double eventTimestampInSeconds, const std::optional<std::string>& referrerURL);
  void handleDeepLink(const std::string& url, std::optional<int64_t> clickTimestampInMs,
                      double eventTimestampInSeconds, const std::optional<std::string>& referrerURL);
  void handleOpenURLOnWorkerQueue(const std::string& url, std::optional<int64_t> clickTimestampInMs,
                                  double eventTimestampInSeconds, const platform::Dictionary& extraParameters);
  static void handleDebugModeWithURL(const std::string& url);
  static bool isValidCampaignURLParamDictionary(const platform::Dictionary& parameters);
  // No app-tracking authorization here: click IDs are always kept.
  static bool shouldAllowClickID();
  void startTCFClientOnWorkerQueue();
  void tcfClientSetConsentFromData();
  void tcfClientSetIsDMARegion(bool isDMARegion);
  // Made by the start-up sequence (worker queue only).
  std::shared_ptr<APMTCFClient> tcfClient() const { return m_tcfClient; }

  // --- search ads, purchases and on-device conversion (APMMeasurementOnDeviceConversion.cpp) ---
  void checkPSMDependencyOnWorkerQueue();
  void checkODM2DependencyOnWorkerQueue();
  void maybeDeleteExpiredPSMValueOnWorkerQueue();
  void initiateODMGroupIDProtocol();
  // Follows a stored configuration's switch of the second protocol.
  void updateAdsOnDeviceConversionMeasurement();
  void initiateODMSessionStartProtocolWithTimestamp(double timestamp);
  // Bits 1-3 of the raw-event metadata's client bit set.
  int32_t linkedOnDeviceConversionClientBits();
  void startSearchAdReporterOnWorkerQueue();
  void setSearchAdReportingEnabled(bool enabled);
  // Adds a purchase event's value to the lifetime value of its currency.
  bool recordLifetimeValueOnWorkerQueue(const APMEvent& event);

  // --- on-device conversion measurement, first protocol (APMMeasurementOnDeviceConversion.cpp) ---
  // The linked client classes (by name), none when absent.
  static std::optional<std::string> PSMClientClass();
  static bool isAPMPrivateSetMembershipClientLinked();
  static std::optional<std::string> PSMGroupClientClass();
  void initiateODM1ProtocolWithUserData(const platform::Dictionary& userData);
  void retrievePSMResponse(const std::shared_ptr<APMPSMContext>& context);
  // The context of the queries; none without a linked client class.
  std::shared_ptr<APMPSMContext> PSMContext() const { return m_PSMContext; }
  bool shouldAllowODMFeature();
  bool ODM1ValueExists();

  // --- on-device conversion measurement, second protocol (APMMeasurementAdsOnDeviceConversion.cpp) ---
  static std::optional<std::string> conversionServiceClass();
  static bool isAdsOnDeviceConversionLinked();
  std::shared_ptr<ODCConversionService> conversionServiceFromReflection();
  bool isZoruvuAdsOnDeviceConversionLinked();
  bool isAlphaAppAdsOnDeviceConversionLinked();
  static bool isODM2EnabledInPlist();
  bool isAdsOnDeviceConversionEnabled();
  // The persisted first open in seconds, none when unknown.
  std::optional<double> firstLaunchDate();
  void handleAdsOnDeviceConversionValue(const std::optional<std::string>& value,
                                        const std::optional<platform::Error>& error);
  // Logs the build-configuration error of both conversion frameworks linked
  // and ends the process.
  [[noreturn]] static void raiseDeprecatedOnDeviceConversionException();

 private:
  struct PrivateTag {};

 public:
  APMMeasurement(PrivateTag, std::string databaseName, std::shared_ptr<APMPersistedConfig> persistedConfig,
                 std::shared_ptr<ZULNetwork> network, std::shared_ptr<APMScheduler> scheduler,
                 std::shared_ptr<APMAlarm> alarm, std::string appID, bool isAnalyticsCollectionEnabled,
                 bool isAnalyticsCollectionDeactivated, std::vector<std::string> safelistedEvents,
                 std::shared_ptr<APMExperimentManager> experimentManager);

 private:
  // The start-up sequence; NO leaves the rest undone.
  bool initializeComponentsOnWorkerQueue();
  // Runs the block on the worker queue with the engine, while it exists.
  void scheduleOnWorkerQueue(const std::string& blockID, std::function<void(APMMeasurement&)> block);
  void setComponents(std::shared_ptr<APMIdentity> identity, std::shared_ptr<APMDatabase> database,
                     std::shared_ptr<APMRemoteConfig> remoteConfig);

  const std::string m_databaseName;
  std::atomic<bool> m_didInitializeComponents{false};
  std::mutex m_initializeComponentsLock;
  const std::shared_ptr<APMAlarm> m_alarm;
  const std::shared_ptr<ZULNetwork> m_network;
  const std::shared_ptr<APMPersistedConfig> m_persistedConfig;
  const std::shared_ptr<APMScheduler> m_scheduler;
  const std::shared_ptr<APMExperimentManager> m_experimentManager;

  mutable std::mutex m_componentsMutex;  // guards the three below
  std::shared_ptr<APMIdentity> m_identity;
  std::shared_ptr<APMDatabase> m_database;
  std::shared_ptr<APMRemoteConfig> m_remoteConfig;

  // Worker queue only.
  std::vector<int64_t> m_uploadingBundleIDs;
  std::optional<std::string> m_previousVODAppID;
  double m_initTimestamp = 0;
  double m_suspendedUploadTimestamp = 0;
  std::atomic<bool> m_foundAdPersonalizationPlistFlag{false};  // also set from the analytics queue
  bool m_shouldUpdateNPAUserProperty = false;
  bool m_shouldRequestDeferredDeepLinkAfterConfigFetch = false;
  std::shared_ptr<APMTCFClient> m_tcfClient;

  const std::string m_appID;
  const std::vector<std::string> m_safelistedEvents;
  std::atomic<bool> m_enabled{false};
  std::atomic<bool> m_wasEnabledDuringInitialization{false};
  std::atomic<bool> m_isAnalyticsCollectionEnabled;
  std::atomic<bool> m_isAnalyticsCollectionDeactivated;
  std::atomic<bool> m_isNetworkRequestPending{false};

  mutable std::mutex m_delegateMutex;
  std::weak_ptr<APMMeasurementDelegate> m_measurementDelegate;

  mutable std::mutex m_sessionReporterMutex;  // guards the one below (the screen reporter asks from the main thread)
  std::shared_ptr<APMSessionReporter> m_sessionReporter;

  // Search ads and on-device conversion; worker queue only.
  std::shared_ptr<APMSearchAdReporter> m_searchAdReporter;
  std::shared_ptr<APMPSMContext> m_PSMContext;
  std::shared_ptr<APMGroupContext> m_groupContext;
  std::shared_ptr<ODCConversionService> m_conversionService;

  // The first protocol's steps (APMMeasurementOnDeviceConversion.cpp).
  bool shouldRetrievePSMResponse();
  bool shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress);
  bool shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber);
  bool shouldRetrievePSMResponseWithHashedIdentifier(const platform::Bytes& hashedIdentifier);
  std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithEmailAddress(const std::string& emailAddress);
  std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithPhoneNumber(const std::string& phoneNumber);
  std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithHashedEmailAddress(const platform::Bytes& hashed);
  std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithHashedPhoneNumber(const platform::Bytes& hashed);
  std::shared_ptr<APMPrivateSetMembershipClient> PSMClientWithCachedInputs();
  void cachePSMInputsFromClient(const std::shared_ptr<APMPrivateSetMembershipClient>& client);
  void clearCachedPSMInputs();
  std::optional<std::string> PSMRequestURL(const APMPSMContext& context);
  void handlePSMAnswer(const std::shared_ptr<APMPSMContext>& context, const std::string& counterName,
                       const std::optional<platform::HttpResponse>& response,
                       const std::optional<platform::Bytes>& data, const std::optional<platform::Error>& error);
  void maybeSchedulePSMRetry(const std::shared_ptr<APMPSMContext>& context);
  void handlePSMValueOnWorkerQueue(const std::string& value, bool isSessionValue);
  void incrementPSMCountOnWorkerQueueWithName(const std::string& name);
  bool isExpiredODMValueWithName(const std::string& name);
  void handleODMGroupIDOnWorkerQueue(const std::string& groupID);
  // Sets an internal user property (origin "auto", set now); NO when it could not be stored.
  bool setInternalUserPropertyOnWorkerQueue(const std::string& name, APMValuePtr value);
  // Writes "_fx" (real-time) with "_fxs" and the first-open consented parameters.
  void writeOnDeviceConversionEventOnWorkerQueue(const std::string& source);

  platform::ObserverToken m_becomeActiveToken;
  platform::ObserverToken m_resignActiveToken;
};
