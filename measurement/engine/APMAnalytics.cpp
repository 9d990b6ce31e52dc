#include "measurement/engine/APMAnalytics.h"
#include "measurement/features/APMScreenViewReporter.h"

#include <atomic>
#include <map>
#include <mutex>

#include "measurement/base/APMDataTypeValidator.h"
#include "measurement/base/APMDecimal.h"
#include "measurement/base/APMEngineServices.h"
#include "measurement/base/APMIdentifiers.h"
#include "measurement/base/APMIdentity.h"
#include "measurement/base/APMParameterValidation.h"
#include "measurement/base/APMPersistedConfig.h"
#include "measurement/base/APMUserDefaults.h"
#include "measurement/base/APMValue.h"
#include "measurement/base/APMZoruvuServiceFileUtil.h"
#include "measurement/engine/APMAppDelegateInterceptor.h"
#include "measurement/engine/APMMeasurement.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "measurement/features/APMInAppPurchaseTransactionReporter.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/time/Clock.h"
#include "sdk/core/ROZAdavurudoConfiguration.h"
#include "sdk/utilities/ZULAppDelegateSwizzler.h"
#include "sdk/utilities/ZULNetwork.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr int64_t kEventNameLengthLimit = 40;

// The front's process-wide state.
struct FrontState {
  // The load time is the front's first use.
  FrontState()
      : analyticsQueue(APMAnalytics::kQueueLabel),
        timestampQueue(APMAnalytics::kTimestampQueueLabel),
        loadTimestamp(platform::Clock::current()->now()) {
    // Events and switches queued here end in the engine's database and the
    // stored settings: a normal exit lets them through.
    platform::ExitDrain::registerQueue(analyticsQueue);
  }

  const platform::SerialQueue analyticsQueue;
  const platform::SerialQueue timestampQueue;

  std::mutex mutex;  // guards the operation queue, the start mark and the configuration observer
  std::shared_ptr<platform::OperationQueue> operationQueue =
      std::make_shared<platform::OperationQueue>(1, /*suspended=*/true);
  bool started = false;
  platform::ObserverToken configurationObserver;

  std::atomic<bool> deactivated{false};
  std::atomic<bool> enabled{false};
  std::atomic<uint64_t> nextListenerToken{1};

  // The analytics queue only.
  APMAnalytics::LogEventInterceptor interceptor;
  std::optional<std::map<APMAnalytics::ListenerToken, APMAnalytics::EventListener>> listeners;
  APMAnalytics::OpenURLListener openURLListener;

  std::mutex loadMutex;  // guards the load timestamp
  double loadTimestamp;
};

FrontState& front() {
  static FrontState* const state = new FrontState();
  return *state;
}

std::shared_ptr<platform::OperationQueue> operationQueue() {
  FrontState& state = front();
  std::lock_guard lock(state.mutex);
  return state.operationQueue;
}

std::shared_ptr<APMMonitor> monitor() { return APMEngineServices::monitor(); }

// The shared screen-view reporter knows the current screen and reports the
// screens of the public "screen_view".
std::optional<Dictionary> currentScreenParameters() {
  Dictionary parameters = APMScreenViewReporter::sharedInstance()->screenParameters();
  return parameters.empty() ? std::nullopt : std::optional<Dictionary>(std::move(parameters));
}
void trackScreenView(const Dictionary& parameters, double timestamp) {
  APMScreenViewReporter::sharedInstance()->trackScreenWithParameters(parameters, timestamp);
}

// The transactions that passed the engine's filter go to the purchase reporter.
void reportFilteredTransactions(const std::vector<platform::PaymentTransaction>& transactions) {
  APMInAppPurchaseTransactionReporter::sharedInstance()->paymentQueueUpdatedFilteredTransactions(transactions);
}

bool isNumberObject(const Value& value) { return value.isNumeric(); }

// The start options' safelist: every name must be a valid internal event
// name, or none is kept.
std::optional<std::vector<std::string>> safelistFromOptions(const Dictionary& options) {
  const Value* value = options.find(APMAnalytics::kSafelistedEventsOption);
  if (value == nullptr) return std::nullopt;
  std::optional<platform::Array> names = value->asArray();
  if (!names) {
    monitor()->logWithLevel(0, 25034, "Invalid safelisted event parameter. Type must be an array");
    return std::nullopt;
  }
  std::vector<std::string> safelist;
  for (const Value& name : *names) {
    if (!APMDataTypeValidator::isValidInternalEventName(name)) {
      monitor()->logWithLevel(0, 25035, "Invalid event name for safelisting. Name", name);
      return std::nullopt;
    }
    safelist.push_back(*name.asString());
  }
  return safelist;
}

void createEngine(const std::string& appID, const std::string& origin, bool enabled, bool deactivated,
                  const std::optional<std::vector<std::string>>& safelist) {
  std::shared_ptr<APMIdentity> identity = APMIdentity::sharedInstance();
  if (origin == "fa" && identity && identity->appIDFromVOD() != appID) identity->setAppIDFromVOD(appID);
  APMIdentifiers::sharedInstance()->setOrigin(origin);
  APMMeasurement::initializeSharedInstanceWithAppID(appID, enabled, deactivated, safelist);
  if (ZULAppDelegateSwizzler::isAppDelegateProxyEnabled()) {
    if (!deactivated) platform::mainQueue().async([] { APMAnalytics::createAppDelegateProxy(); });
  } else {
    monitor()->logWithLevel(6, 25036, "App Delegate Proxy is disabled");
  }
  std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
  front().enabled.store(engine && engine->wasEnabledDuringInitialization());
  APMAnalytics::maybeEnableTagManager();
}

// The once-only set-up of the first start.
void setUp(const std::string& appID, const std::string& origin, const Dictionary& options) {
  FrontState& state = front();
  if (APMConsentSettingsUtil::consentSource() == APMConsentSettingsUtil::kSourceNone) {
    APMAnalytics::loadPersistedConsentSettings();
  }
  platform::NotificationCenter::defaultCenter().post(APMAnalytics::kWillStartNotification, {});

  bool enabled = true;
  bool deactivated = false;
  APMAnalytics::Configuration configuration;
  std::optional<std::vector<std::string>> safelist;
  if (!options.empty()) {
    const Value enabledOption = options.get(APMAnalytics::kCollectionEnabledOption);
    enabled = isNumberObject(enabledOption) ? enabledOption.boolValue() : true;
    const Value deactivatedOption = options.get(APMAnalytics::kCollectionDeactivatedOption);
    deactivated = isNumberObject(deactivatedOption) && deactivatedOption.boolValue();
    configuration = options.get(APMAnalytics::kConfigurationOption).asOpaque<ROZAdavurudoConfiguration>();
    safelist = safelistFromOptions(options);
    const Dictionary consent = APMConsentSettingsUtil::consentSettingsFromDictionary(options);
    if (!consent.empty()) APMAnalytics::frontSuite()->setObject(Value(consent), APMAnalytics::kConsentSettingsOnStartKey);
  }
  state.deactivated.store(deactivated);

  state.analyticsQueue.async([appID, origin, enabled, deactivated, safelist] {
    createEngine(appID, origin, enabled, deactivated, safelist);
  });
  if (configuration) APMAnalytics::observeNotificationsForAnalyticsConfiguration(configuration);
  platform::mainQueue().async([] {
    platform::PurchaseStore::current()->addTransactionObserver(APMAnalytics::sharedInstance());
  });
  APMAnalytics::unsuspendOperationQueue();
}

}  // namespace

std::shared_ptr<APMAnalytics> APMAnalytics::sharedInstance() {
  static const auto* const shared = new std::shared_ptr<APMAnalytics>(std::make_shared<APMAnalytics>());
  return *shared;
}

// --- start ----------------------------------------------------------------------------------

void APMAnalytics::startWithAppID(const std::string& appID, const std::string& origin, const Dictionary& options) {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  if (registry.exists("VUVEDatabase")) {
    monitor()->logWithLevel(1, 25029,
                            "Detected an older version of Zoruvu Analytics for Ririvudu framework. Data collection "
                            "will be disabled. Please upgrade to the latest version of Zoruvu Analytics for Ririvudu");
    return;
  }
  if (registry.exists("ROZAdavurudo")) {
    if (origin != "fa") {
      monitor()->logWithLevel(3, 25026, "Deferring to Ririvudu for event data collection");
      return;
    }
  } else if (std::optional<std::string> path = APMZoruvuServiceFileUtil::zoruvuServiceInfoPlistPath();
             path && !path->empty()) {
    monitor()->logWithLevel(0, 25027,
                            "Deferring to Zoruvu Analytics for Ririvudu for event data collection. See the analytics "
                            "set-up guide of the SDK documentation.");
    return;
  }
  if (!options.empty()) {
    const Value tag = options.get(kLogTagOption);
    if (tag.isString() && !tag.asString()->empty()) {
      monitor()->setLogTag(*tag.asString());
    } else {
      monitor()->logWithLevel(2, 25030, "Invalid monitor tag. It must be a non-empty string.");
    }
  }
  {
    FrontState& state = front();
    std::lock_guard lock(state.mutex);
    if (state.started) return;
    state.started = true;
  }
  setUp(appID, origin, options);
}

bool APMAnalytics::isStarted() {
  FrontState& state = front();
  std::lock_guard lock(state.mutex);
  return state.started;
}

// --- queues ---------------------------------------------------------------------------------

const platform::DispatchQueue& APMAnalytics::queue() { return front().analyticsQueue; }

void APMAnalytics::dispatchAsyncOnSerialQueue(Block block) { front().analyticsQueue.async(std::move(block)); }

void APMAnalytics::queueOperationWithBlock(Block block) {
  operationQueue()->add([block = std::move(block)] { front().analyticsQueue.async(block); });
}

void APMAnalytics::queueOperationWithBlockThenWait(Block block) {
  std::shared_ptr<platform::OperationQueue> operations = operationQueue();
  queueOperationWithBlock(std::move(block));
  if (operations->isSuspended()) return;
  operations->waitUntilAllOperationsAreFinished();
  operations->suspend();
  front().analyticsQueue.after(0.5, [] { unsuspendOperationQueue(); });
}

void APMAnalytics::unsuspendOperationQueue() { operationQueue()->resume(); }

bool APMAnalytics::isOperationQueueSuspended() { return operationQueue()->isSuspended(); }

bool APMAnalytics::isCurrentQueueSerialQueue() { return platform::currentQueueLabel() == kQueueLabel; }

// --- events -----------------------------------------------------------------------------------

void APMAnalytics::logEventWithName(const std::string& name, const Dictionary& parameters) {
  logEventWithOrigin("app", name, parameters);
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      const Dictionary& parameters) {
  int64_t failure = 0;
  if (!APMDataTypeValidator::isValidPublicEventName(Value(name), &failure)) {
    APMLogErrorEvent(failure == kAPMValidationReserved ? 13 : 2, Value(name), kEventNameLengthLimit, Value(name));
    return;
  }
  logEventWithOrigin(origin, true, name, parameters);
}

void APMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name,
                                              const Dictionary& parameters) {
  logEventWithOrigin(origin, false, name, parameters);
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const Dictionary& parameters) {
  const Dictionary copy = parameters.copy();
  if (name == "screen_view") {
    trackScreenView(copy, platform::Clock::current()->now());
    return;
  }
  const std::optional<Dictionary> screen =
      APMHasScreenParameters(copy) ? std::nullopt : currentScreenParameters();
  // Taking the time and queueing the event is one step, so events reach the
  // engine in the order of their timestamps.
  front().timestampQueue.sync([&] {
    const double timestamp = platform::Clock::current()->now();
    queueOperationWithBlock([origin, isPublicEvent, name, copy, timestamp, screen] {
      logEventOnSerialQueueWithOrigin(origin, isPublicEvent, name, copy, timestamp, false, false, screen);
    });
  });
}

void APMAnalytics::logInternalEventWithOrigin(const std::string& origin, const std::string& name, double timestamp,
                                              const Dictionary& parameters) {
  const Dictionary copy = parameters.copy();
  const std::optional<Dictionary> screen =
      APMHasScreenParameters(copy) ? std::nullopt : currentScreenParameters();
  queueOperationWithBlock([origin, name, copy, timestamp, screen] {
    logEventOnSerialQueueWithOrigin(origin, false, name, copy, timestamp, false, false, screen);
  });
}

void APMAnalytics::logEventWithOrigin(const std::string& origin, bool isPublicEvent, const std::string& name,
                                      const Dictionary& parameters, double timestamp, bool ignoreEnabled,
                                      bool ignoreInterceptor) {
  const Dictionary copy = parameters.copy();
  queueOperationWithBlock([=] {
    logEventOnSerialQueueWithOrigin(origin, isPublicEvent, name, copy, timestamp, ignoreEnabled, ignoreInterceptor,
                                    std::nullopt);
  });
}

void APMAnalytics::logEventOnSerialQueueWithOrigin(const std::string& origin, bool isPublicEvent,
                                                   const std::string& name, const Dictionary& parameters,
                                                   double timestamp, bool ignoreEnabled, bool ignoreInterceptor,
                                                   const std::optional<Dictionary>& addedScreenParameters) {
  Dictionary eventParameters = parameters;
  std::optional<Dictionary> screen = addedScreenParameters;
  if (ignoreInterceptor && !screen && APMDataTypeValidator::isValidForwardedEventOrigin(Value(origin))) {
    Dictionary extracted = APMExtractScreenParameters(parameters);
    if (!extracted.empty()) {
      eventParameters = parameters.copy();
      for (const char* key : {"_sn", "_sc", "_si"}) eventParameters.remove(key);
      screen = extracted;
    }
  }
  if (!APMMeasurement::hasSharedInstance()) return;
  std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
  FrontState& state = front();
  engine->logEventWithOrigin(origin, isPublicEvent, name, eventParameters, timestamp, state.enabled.load(),
                             ignoreEnabled, ignoreInterceptor, state.interceptor, screen);
}

void APMAnalytics::logInternalEventWithOriginInstance(const std::string& origin, const std::string& name,
                                                      const Dictionary& parameters) {
  Dictionary eventParameters = parameters;
  if (origin == "am") {
    const Value adEventID = parameters.get("_aeid");
    if (const std::string* text = adEventID.asString()) {
      if (APMIsDecimalString(*text)) {
        eventParameters = parameters.copy();
        eventParameters.set("_aeid", APMValue::objectWithInt64(adEventID.longLongValue()));
      } else {
        monitor()->logWithLevel(2, 25024, "AdEvent ID string is not a number");
      }
    }
  }
  logInternalEventWithOrigin(origin, name, eventParameters);
}

// --- switches ---------------------------------------------------------------------------------

void APMAnalytics::setAnalyticsEnabled(bool enabled) { setAnalyticsEnabled(enabled, false); }

void APMAnalytics::setAnalyticsEnabled(bool enabled, bool persistSetting) {
  dispatchAsyncOnSerialQueue([enabled, persistSetting] {
    if (persistSetting) {
      if (std::shared_ptr<APMPersistedConfig> persisted = APMPersistedConfig::sharedInstance()) {
        persisted->setMeasurementEnabledState(enabled ? 1 : 2);
      }
    }
    FrontState& state = front();
    if (state.deactivated.load() && enabled) return;
    state.enabled.store(enabled);
    if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) engine->setEnabled(enabled);
  });
}

bool APMAnalytics::isEnabledFlag() { return front().enabled.load(); }

bool APMAnalytics::isDeactivatedFlag() { return front().deactivated.load(); }

void APMAnalytics::observeNotificationsForAnalyticsConfiguration(const Configuration& configuration) {
  FrontState& state = front();
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  std::lock_guard lock(state.mutex);
  if (state.configurationObserver) center.removeObserver(state.configurationObserver);
  state.configurationObserver = center.addObserver(kSetEnabledNotification, platform::NotificationObject(configuration.get()),
                                                   [](const platform::Notification& notification) {
                                                     handleSetEnabled(notification);
                                                   });
}

void APMAnalytics::handleSetEnabled(const platform::Notification& notification) {
  const Value value = notification.userInfo.get(kSetEnabledNotification);
  if (!value.isNumeric()) {
    monitor()->logWithLevel(4, 25000, "Received setEnabled notification without NSNumber", value);
    return;
  }
  setAnalyticsEnabled(value.boolValue(), false);
}

void APMAnalytics::setDefaultEventParameters(const std::optional<Dictionary>& parameters) {
  std::optional<Dictionary> copy = parameters ? std::optional<Dictionary>(parameters->copy()) : std::nullopt;
  queueOperationWithBlock([copy] {
    if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) engine->setDefaultEventParameters(copy);
  });
}

// --- interceptor and listeners ---------------------------------------------------------------

void APMAnalytics::setLogEventInterceptor(LogEventInterceptor interceptor) {
  auto store = [interceptor = std::move(interceptor)] { front().interceptor = interceptor; };
  if (isCurrentQueueSerialQueue()) {
    store();
  } else {
    queueOperationWithBlock(store);
  }
}

APMAnalytics::ListenerToken APMAnalytics::addLogEventListener(EventListener listener) {
  if (!listener) {
    monitor()->logWithLevel(2, 25012, "Attempted addition of nil log event listener.");
    return 0;
  }
  const ListenerToken token = front().nextListenerToken.fetch_add(1);
  auto store = [token, listener = std::move(listener)] {
    FrontState& state = front();
    if (!state.listeners) state.listeners.emplace();
    (*state.listeners)[token] = listener;
  };
  if (isCurrentQueueSerialQueue()) {
    store();
  } else {
    queueOperationWithBlock(store);
  }
  return token;
}

void APMAnalytics::removeLogEventListener(ListenerToken token) {
  if (token == 0) {
    monitor()->logWithLevel(2, 25013, "Attempted removal of nil log event.");
    return;
  }
  queueOperationWithBlock([token] {
    FrontState& state = front();
    if (!state.listeners) {
      monitor()->logWithLevel(2, 25014, "Attempted removal of nil log event listener.");
    } else if (state.listeners->erase(token) == 0) {
      monitor()->logWithLevel(2, 25015, "Attempted removal of log event listener with invalid token.");
    }
  });
}

void APMAnalytics::notifyEventListeners(const std::shared_ptr<APMEvent>& event) {
  queueOperationWithBlock([event] { notifyEventListenersOnSerialQueue(event); });
}

void APMAnalytics::notifyEventListenersOnSerialQueue(const std::shared_ptr<APMEvent>& event) {
  FrontState& state = front();
  if (!state.listeners) return;
  // A copy: a listener may add or remove listeners.
  const std::map<ListenerToken, EventListener> listeners = *state.listeners;
  for (const auto& [token, listener] : listeners) listener(event);
}

void APMAnalytics::setOpenURLListener(OpenURLListener listener) {
  dispatchAsyncOnSerialQueue([listener = std::move(listener)] { front().openURLListener = listener; });
}

void APMAnalytics::handleOpenURL(const std::string& url) {
  const double timestamp = platform::Clock::current()->now();
  APMMeasurement::handleSZTMDebugModeWithURL(url);
  dispatchAsyncOnSerialQueue([url, timestamp] {
    if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
      engine->handleNonFirstOpenEventURL(url, timestamp, std::nullopt);
    }
    if (front().openURLListener) front().openURLListener(url);
  });
}

void APMAnalytics::handleUserActivity(const platform::UserActivity& userActivity) {
  const double timestamp = platform::Clock::current()->now();
  dispatchAsyncOnSerialQueue([userActivity, timestamp] {
    std::optional<std::string> link = APMMeasurement::deepLinkFromUserActivity(userActivity);
    if (!link || link->empty()) return;
    if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
      engine->handleNonFirstOpenEventURL(*link, timestamp, userActivity.referrerURL);
    }
  });
}

void APMAnalytics::handleEventsForBackgroundURLSession(const std::string& sessionID, std::function<void()> completion) {
  ZULNetwork::handleEventsForBackgroundURLSessionID(sessionID, std::move(completion));
}

// --- platform hooks ---------------------------------------------------------------------------

void APMAnalytics::createAppDelegateProxy() {
  static std::once_flag once;
  std::call_once(once, [] {
    ZULAppDelegateSwizzler::proxyOriginalDelegate();
    ZULAppDelegateSwizzler::registerAppDelegateInterceptor(APMAppDelegateInterceptor::sharedInstance());
  });
}

void APMAnalytics::maybeEnableTagManager() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  constexpr const char* kTagManagerClass = "ZAVManager";
  if (!registry.exists(kTagManagerClass) || !registry.respondsTo(kTagManagerClass, "initializeSharedInstance")) return;
  platform::Implementation initialize =
      registry.method(kTagManagerClass, "initializeSharedInstance", platform::MethodKind::Class);
  if (!initialize) {
    monitor()->logWithLevel(2, 25016, "ZAVManager class doesn't define initializeSharedInstance");
    return;
  }
  initialize(nullptr, {});
}

void APMAnalytics::paymentQueueUpdatedTransactions(const std::vector<platform::PaymentTransaction>& transactions) {
  queueOperationWithBlock([transactions] {
    if (!front().enabled.load()) return;
    if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
      engine->filterPurchaseTransactions(transactions, reportFilteredTransactions);
    }
  });
}

void APMAnalytics::updatedTransactions(const std::vector<platform::PaymentTransaction>& transactions) {
  paymentQueueUpdatedTransactions(transactions);
}

void APMAnalytics::logTransactionWithProductID(
    const std::string& productID, const std::string& transactionID, const std::string& originalTransactionID,
    const std::optional<std::string>& webOrderLineItemID, int64_t productType, bool isFreeTrial,
    bool isIntroductoryOffer, int64_t paymentQuantity, std::optional<double> purchaseDate,
    std::optional<double> originalPurchaseDate, std::optional<double> subscriptionExpirationDate,
    std::optional<double> cancellationDate, const std::optional<std::string>& environment, bool isVerified) {
  APMInAppPurchaseTransactionReporter::sharedInstance()->reportTransactionWithProductID(
      productID, transactionID, originalTransactionID, webOrderLineItemID, productType, isFreeTrial,
      isIntroductoryOffer, paymentQuantity, purchaseDate, originalPurchaseDate, subscriptionExpirationDate,
      cancellationDate, environment, isVerified);
}

// --- load timestamp ---------------------------------------------------------------------------

double APMAnalytics::loadTimestamp() {
  FrontState& state = front();
  std::lock_guard lock(state.loadMutex);
  return state.loadTimestamp;
}

void APMAnalytics::setLoadTimestamp(double timestamp) {
  FrontState& state = front();
  std::lock_guard lock(state.loadMutex);
  state.loadTimestamp = timestamp;
}

// --- tests --------------------------------------------------------------------------------------

void APMAnalytics::resetForTesting() {
  FrontState& state = front();
  state.analyticsQueue.sync([&state] {
    state.interceptor = nullptr;
    state.listeners.reset();
    state.openURLListener = nullptr;
  });
  std::shared_ptr<platform::OperationQueue> old;
  {
    std::lock_guard lock(state.mutex);
    old = std::move(state.operationQueue);
    state.operationQueue = std::make_shared<platform::OperationQueue>(1, /*suspended=*/true);
    state.started = false;
    if (state.configurationObserver) {
      platform::NotificationCenter::defaultCenter().removeObserver(state.configurationObserver);
      state.configurationObserver = {};
    }
  }
  state.deactivated.store(false);
  state.enabled.store(false);
  {
    std::lock_guard lock(state.loadMutex);
    state.loadTimestamp = platform::Clock::current()->now();
  }
  platform::PurchaseStore::current()->removeTransactionObserver(sharedInstance());
}
