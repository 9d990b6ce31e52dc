#include "sdk/messaging/RIRMessaging.h"

#include "platform/app/Bundle.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/notifications/NotificationQueue.h"
#include "platform/storage/FileSystem.h"
#include "platform/text/Url.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRComponentType.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/messaging/RIRMessagingAnalytics.h"
#include "sdk/messaging/RIRMessagingContextManagerService.h"
#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingExtensionHelper.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingPubSub.h"
#include "sdk/messaging/RIRMessagingRemoteNotificationsProxy.h"
#include "sdk/messaging/RIRMessagingRmqManager.h"
#include "sdk/messaging/RIRMessagingTokenManager.h"
#include "sdk/messaging/RIRMessagingTokenStore.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"
#include "sdk/utilities/ZULUserDefaults.h"

using platform::Dictionary;
using platform::Value;

namespace {

const RIRMessagingLogger& logger() { return RIRMessagingSharedLogger(); }

constexpr const char* kIntegrationDocumentation = "https://zoruvu.com/docs/cloud-messaging/ios/client";

const std::string* nonEmptyString(const Dictionary& message, const char* key) {
  const Value* value = message.find(key);
  const std::string* text = value ? value->asString() : nullptr;
  return text && !text->empty() ? text : nullptr;
}

bool isContentAvailable(const Dictionary& message) {
  const Value& aps = message["aps"];
  return aps.isDictionary() && aps["content-available"].boolValue();
}

}  // namespace

// --- component -----------------------------------------------------------------------

std::vector<RIRComponent> RIRMessaging::componentsToRegister() {
  return {RIRComponent::componentWithProtocol(
      RIRProtocol::of<RIRMessagingInterop>(), RIRComponentTimingEagerInDefaultApp,
      [](RIRComponentContainer& container, bool& isCacheable) -> std::shared_ptr<RIRComponentInstance> {
        std::shared_ptr<RIRApp> app = container.app();
        if (!app || !app->isDefaultApp()) {
          logger().logFuncDebug(1001, "Ririvudu Messaging only works with the default app.");
          return nullptr;
        }
        isCacheable = true;
        auto analytics = RIRComponentType::instanceForProtocol<ROZAdavurudoInterop>(app->container());
        auto messaging =
            initWithAnalytics(analytics, ZULUserDefaults::standardUserDefaults(), app->heartbeatLogger());
        messaging->start();
        messaging->configureMessagingWithOptions(*app->options());
        messaging->configureNotificationSwizzlingIfEnabled();
        return messaging;
      })};
}

std::shared_ptr<RIRMessaging> RIRMessaging::messaging() {
  std::shared_ptr<RIRApp> app = RIRApp::defaultAppIfConfigured();
  if (!app) return nullptr;
  return std::dynamic_pointer_cast<RIRMessaging>(
      RIRComponentType::instanceForProtocol<RIRMessagingInterop>(app->container()));
}

std::shared_ptr<RIRMessagingExtensionHelper> RIRMessaging::extensionHelper() {
  static const auto* const helper = new std::shared_ptr<RIRMessagingExtensionHelper>(std::make_shared<RIRMessagingExtensionHelper>());
  return *helper;
}

bool RIRMessaging::isAutoInitEnabledWithUserDefaults(const ZULUserDefaults& userDefaults) {
  if (std::optional<Value> stored = userDefaults.objectForKey(kRIRMessagingAutoInitEnabledKey)) {
    return stored->boolValue();
  }
  Value fromPlist = platform::Bundle::main()->objectForInfoDictionaryKey(kRIRMessagingPlistAutoInitEnabled);
  if (!fromPlist.isNull()) return fromPlist.boolValue();
  std::shared_ptr<RIRApp> app = RIRApp::defaultAppIfConfigured();
  return app && app->isDataCollectionDefaultEnabled();
}

std::string RIRMessaging::pathForSubDirectory(const std::string& subDirectoryName) {
  return platform::fs::joinPath(RIRMessagingSupportedDirectory(), subDirectoryName);
}

bool RIRMessaging::hasSubDirectory(const std::string& subDirectoryName) {
  return platform::fs::isDirectory(pathForSubDirectory(subDirectoryName));
}

bool RIRMessaging::createSubDirectory(const std::string& subDirectoryName) {
  const std::string path = pathForSubDirectory(subDirectoryName);
  if (platform::fs::exists(path)) {
    if (platform::fs::isDirectory(path)) return true;
    logger().logFuncError(2018, "Found file instead of directory at " + path);
    return false;
  }
  if (std::optional<platform::Error> error = platform::fs::createDirectory(path, true)) {
    logger().logFuncError(2017, "Cannot create directory " + path + ", error: " + error->localizedDescription());
    return false;
  }
  return true;
}

std::shared_ptr<RIRMessaging> RIRMessaging::initWithAnalytics(std::shared_ptr<ROZAdavurudoInterop> analytics,
                                                              std::shared_ptr<ZULUserDefaults> userDefaults,
                                                              std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger) {
  return std::make_shared<RIRMessaging>(PrivateTag{}, std::move(analytics), std::move(userDefaults),
                                        std::move(heartbeatLogger));
}

RIRMessaging::RIRMessaging(PrivateTag, std::shared_ptr<ROZAdavurudoInterop> analytics,
                           std::shared_ptr<ZULUserDefaults> userDefaults,
                           std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger)
    : m_messagingUserDefaults(std::move(userDefaults)),
      m_heartbeatLogger(std::move(heartbeatLogger)),
      m_analytics(std::move(analytics)) {}

RIRMessaging::~RIRMessaging() {
  if (m_reachability) m_reachability->stop();
  if (m_refreshTokenObserver) platform::NotificationCenter::defaultCenter().removeObserver(m_refreshTokenObserver);
  // The instance usually goes with the process's static objects: release the
  // services without the teardown line, the logger may be gone already.
  releaseServices();
}

void RIRMessaging::start() {
  setupFileManagerSubDirectory();
  setupNotificationListeners();
  m_tokenManager = RIRMessagingTokenManager::initWithHeartbeatLogger(m_heartbeatLogger);
  m_installations = RIRInstallations::installations();
  setupTopics();
  logger().logFuncInfo(2000, std::string("RIRMessaging library version ") + RIRCoreVersionString());
  m_reachability = ZULReachabilityChecker::initWithReachabilityDelegate(
      std::static_pointer_cast<ZULReachabilityDelegate>(shared_from_this()), kRIRMessagingReachabilityHostname);
  if (m_reachability) m_reachability->start();
  setupRmqManager();
  setupSyncMessageManager();
}

void RIRMessaging::setupFileManagerSubDirectory() {
  for (const char* directory : {kRIRMessagingDirectory, kRIRMessagingInstanceIDDirectory}) {
    if (!hasSubDirectory(directory)) createSubDirectory(directory);
  }
}

void RIRMessaging::setupNotificationListeners() {
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  if (m_refreshTokenObserver) center.removeObserver(m_refreshTokenObserver);
  std::weak_ptr<RIRMessaging> weakSelf = weak_from_this();
  m_refreshTokenObserver = center.addObserver(kRIRMessagingRefreshTokenNotification, {},
                                              [weakSelf](const platform::Notification& notification) {
                                                if (auto self = weakSelf.lock()) {
                                                  self->defaultRCMTokenWasRefreshed(notification);
                                                }
                                              });
}

void RIRMessaging::setupTopics() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pubsub = RIRMessagingPubSub::initWithTokenManager(m_tokenManager);
}

void RIRMessaging::setupRmqManager() {
  auto store = std::make_shared<RIRMessagingRmqManager>(kRIRMessagingRmqDatabaseName);
  store->loadRmqId();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_rmq2Manager = std::move(store);
}

void RIRMessaging::setupSyncMessageManager() {
  std::shared_ptr<RIRMessagingSyncMessageManager> manager;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    manager = m_syncMessageManager = std::make_shared<RIRMessagingSyncMessageManager>(m_rmq2Manager);
  }
  manager->removeExpiredSyncMessages();
}

void RIRMessaging::configureMessagingWithOptions(const RIROptions& options) {
  const std::string senderID = options.ZCMSenderID().value_or("");
  if (senderID.empty()) {
    logger().logFuncError(1000, "Ririvudu not set up correctly, nil or empty senderID.");
    platform::Exception::raise(kRIRMessagingExceptionName,
                               "Could not configure Ririvudu Messaging. ZCMSenderID must not be nil or empty.");
  }
  m_tokenManager->setRcmSenderID(senderID);
  m_tokenManager->setRirivuduAppID(options.zoruvuAppID());
  if (!ZULAppEnvironmentUtil::isAppExtension()) didCompleteConfigure();
}

void RIRMessaging::didCompleteConfigure() {
  const std::string senderID = m_tokenManager->rcmSenderID();
  std::shared_ptr<RIRMessagingTokenInfo> cached =
      m_tokenManager->cachedTokenInfoWithAuthorizedEntity(senderID, kRIRMessagingDefaultTokenScope);
  if (cached && !cached->token().empty()) {
    std::shared_ptr<RIRMessaging> self = shared_from_this();
    m_installations->installationIDWithCompletion(
        [self, senderID](std::optional<std::string> identifier, std::optional<platform::Error>) {
          if (self->m_tokenManager->checkTokenRefreshPolicyWithIID(identifier) && self->APNSToken()) {
            self->retrieveRCMTokenForSenderID(senderID, nullptr);
          }
          self->updateDefaultRCMToken(self->RCMToken());
        });
    return;
  }
  if (isAutoInitEnabled() && APNSToken()) retrieveRCMTokenForSenderID(senderID, nullptr);
}

void RIRMessaging::configureNotificationSwizzlingIfEnabled() {
  if (!RIRMessagingRemoteNotificationsProxy::canSwizzleMethods()) return;
  logger().logFuncNotice(
      1000, std::string("RIRMessaging Remote Notifications proxy enabled, will swizzle remote notification receiver "
                        "handlers. If you'd prefer to manually integrate Ririvudu Messaging, add \"") +
                kRIRMessagingAppDelegateProxyEnabledKey +
                "\" to your Info.plist, and set it to NO. Follow the instructions at:\n" + kIntegrationDocumentation +
                "\nto ensure proper integration.");
  RIRMessagingRemoteNotificationsProxy::sharedProxy()->swizzleMethodsIfPossible();
}

void RIRMessaging::teardown() {
  releaseServices();
  logger().logFuncDebug(2001, "Did successfully teardown");
}

void RIRMessaging::releaseServices() {
  std::shared_ptr<RIRMessagingPubSub> pubsub;
  std::shared_ptr<RIRMessagingSyncMessageManager> syncMessageManager;
  std::shared_ptr<RIRMessagingRmqManager> rmq2Manager;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    pubsub = std::move(m_pubsub);
    syncMessageManager = std::move(m_syncMessageManager);
    rmq2Manager = std::move(m_rmq2Manager);
  }
  // Released outside the lock, in this order.
  pubsub.reset();
  syncMessageManager.reset();
  rmq2Manager.reset();
}

std::shared_ptr<RIRMessagingPubSub> RIRMessaging::pubsub() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pubsub;
}

std::shared_ptr<RIRMessagingRmqManager> RIRMessaging::rmq2Manager() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_rmq2Manager;
}

std::shared_ptr<RIRMessagingSyncMessageManager> RIRMessaging::syncMessageManager() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_syncMessageManager;
}

// --- auto-init and the push token ------------------------------------------------------

bool RIRMessaging::isAutoInitEnabled() const { return isAutoInitEnabledWithUserDefaults(*m_messagingUserDefaults); }

void RIRMessaging::setAutoInitEnabled(bool autoInitEnabled) {
  const bool wasEnabled = isAutoInitEnabled();
  m_messagingUserDefaults->setBool(autoInitEnabled, kRIRMessagingAutoInitEnabledKey);
  if (autoInitEnabled && !wasEnabled) m_tokenManager->tokenAndRequestIfNotExist();
}

std::optional<platform::Bytes> RIRMessaging::APNSToken() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_apnsTokenData;
}

void RIRMessaging::setAPNSToken(const std::optional<platform::Bytes>& token, int64_t type) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (token && m_apnsTokenData && *token == *m_apnsTokenData) return;
    m_apnsTokenData = token;
  }
  Dictionary userInfo{{kRIRMessagingAPNSTokenTypeKey, Value(static_cast<long long>(type))}};
  platform::NotificationObject object;
  if (token) object = platform::NotificationObject(std::make_shared<Value>(Value::data(*token)));
  platform::NotificationQueue::defaultQueue().enqueue(
      platform::Notification{kRIRMessagingAPNSTokenNotification, object, userInfo, {}},
      platform::PostingStyle::AsSoonAsPossible);
  m_tokenManager->setAPNSToken(token, userInfo);
}

// --- reachability ----------------------------------------------------------------------

void RIRMessaging::reachability(ZULReachabilityChecker&, ZULReachabilityStatus) { onNetworkStatusChanged(); }

void RIRMessaging::onNetworkStatusChanged() {
  if (!isNetworkAvailable()) return;
  if (std::shared_ptr<RIRMessagingPubSub> topics = pubsub()) topics->scheduleSync(true);
}

bool RIRMessaging::isNetworkAvailable() const {
  if (!m_reachability) return false;
  const ZULReachabilityStatus status = m_reachability->reachabilityStatus();
  return status == kZULReachabilityViaWifi || status == kZULReachabilityViaCellular;
}

int RIRMessaging::networkType() const {
  if (!isNetworkAvailable()) return 0;
  return m_reachability->reachabilityStatus() == kZULReachabilityViaCellular ? 2 : 1;
}

// --- tokens ----------------------------------------------------------------------------

std::optional<std::string> RIRMessaging::RCMToken() { return m_tokenManager->tokenAndRequestIfNotExist(); }

void RIRMessaging::tokenWithCompletion(TokenCompletion completion) {
  std::shared_ptr<RIROptions> options = RIROptions::defaultOptions();
  retrieveRCMTokenForSenderID(options ? options->ZCMSenderID().value_or("") : std::string(), std::move(completion));
}

void RIRMessaging::deleteTokenWithCompletion(ErrorCompletion completion) {
  std::shared_ptr<RIROptions> options = RIROptions::defaultOptions();
  deleteRCMTokenForSenderID(options ? options->ZCMSenderID().value_or("") : std::string(), std::move(completion));
}

void RIRMessaging::retrieveRCMTokenForSenderID(const std::string& senderID, TokenCompletion completion) {
  if (senderID.empty()) {
    const std::string reason =
        "Couldn't fetch token because a Sender ID was not supplied. A valid Sender ID is required to fetch an RCM "
        "token";
    logger().logFuncError(2020, reason);
    if (completion) completion(std::nullopt, RIRMessagingErrors::messagingErrorWithCode(502, reason));
    return;
  }
  std::optional<Dictionary> options;
  if (std::optional<platform::Bytes> apnsToken = APNSToken()) {
    options = Dictionary{{kRIRMessagingTokenOptionsAPNSKey, Value::data(*apnsToken)}};
  } else {
    logger().logFuncWarning(2022, "APNS device token not set before retrieving RCM Token for Sender ID '" + senderID +
                                      "'.Be sure to re-retrieve the RCM token once the APNS device token is set.");
  }
  m_tokenManager->tokenWithAuthorizedEntity(
      senderID, kRIRMessagingDefaultTokenScope, options,
      [completion](std::optional<std::string> token, std::optional<platform::Error> error) {
        if (completion) completion(std::move(token), std::move(error));
      });
}

void RIRMessaging::deleteRCMTokenForSenderID(const std::string& senderID, ErrorCompletion completion) {
  if (senderID.empty()) {
    const std::string reason =
        "Couldn't delete token because a Sender ID was not supplied. A valid Sender ID is required to delete an RCM "
        "token";
    logger().logFuncError(2021, reason);
    if (completion) completion(RIRMessagingErrors::messagingErrorWithCode(7, reason));
    return;
  }
  std::weak_ptr<RIRMessaging> weakSelf = weak_from_this();
  m_installations->installationIDWithCompletion(
      [weakSelf, senderID, completion](std::optional<std::string> identifier, std::optional<platform::Error> error) {
        if (error || !identifier) {
          if (completion) completion(RIRMessagingErrors::messagingErrorWithCode(2001, "Failed to get installation ID."));
          return;
        }
        std::shared_ptr<RIRMessaging> self = weakSelf.lock();
        if (!self) return;
        self->m_tokenManager->deleteTokenWithAuthorizedEntity(
            senderID, kRIRMessagingDefaultTokenScope, identifier, [completion](std::optional<platform::Error> error) {
              if (completion) completion(std::move(error));
            });
      });
}

void RIRMessaging::deleteDataWithCompletion(ErrorCompletion completion) {
  std::weak_ptr<RIRMessaging> weakSelf = weak_from_this();
  m_tokenManager->deleteWithHandler([weakSelf, completion](std::optional<platform::Error> error) {
    if (error) {
      if (completion) completion(std::move(error));
      return;
    }
    std::shared_ptr<RIRMessaging> self = weakSelf.lock();
    if (self && self->isAutoInitEnabled()) {
      self->tokenWithCompletion([completion](std::optional<std::string>, std::optional<platform::Error> error) {
        if (completion) completion(std::move(error));
      });
      return;
    }
    if (completion) completion(std::nullopt);
  });
}

std::shared_ptr<RIRMessagingDelegate> RIRMessaging::delegate() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_delegate.lock();
}

void RIRMessaging::setDelegate(std::weak_ptr<RIRMessagingDelegate> delegate) {
  // A C++ delegate always implements the token callback, so there is nothing
  // to validate.
  std::lock_guard<std::mutex> lock(m_mutex);
  m_delegate = std::move(delegate);
}

void RIRMessaging::defaultRCMTokenWasRefreshed(const platform::Notification& notification) {
  std::optional<std::string> token;
  if (notification.object) {
    std::shared_ptr<Value> value = notification.object.as<Value>();
    if (!value || !value->isString()) {
      logger().logFuncDebug(2015, "Invalid default RCM token type " + (value ? value->typeName() : std::string("object")));
      return;
    }
    token = *value->asString();
  }
  updateDefaultRCMToken(token);
}

void RIRMessaging::updateDefaultRCMToken(const std::optional<std::string>& token) {
  const std::optional<std::string> oldToken = m_tokenManager->defaultRCMToken();
  if (!RIRMessagingTokenManager::hasTokenChangedFromOldToken(oldToken, token)) return;
  if (token) m_tokenManager->saveDefaultTokenInfoInKeychain(*token);
  notifyDelegateOfRCMTokenAvailability();
  if (std::shared_ptr<RIRMessagingPubSub> topics = pubsub()) topics->scheduleSync(true);
}

void RIRMessaging::notifyDelegateOfRCMTokenAvailability() {
  if (!platform::isMainThread()) {
    std::weak_ptr<RIRMessaging> weakSelf = weak_from_this();
    platform::mainQueue().async([weakSelf] {
      if (auto self = weakSelf.lock()) self->notifyDelegateOfRCMTokenAvailability();
    });
    return;
  }
  const std::optional<std::string> token = m_tokenManager->defaultRCMToken();
  if (std::shared_ptr<RIRMessagingDelegate> appDelegate = delegate()) {
    appDelegate->messagingDidReceiveRegistrationToken(*this, token);
  }
  platform::NotificationObject object;
  if (token) object = platform::NotificationObject(std::make_shared<Value>(*token));
  platform::NotificationCenter::defaultCenter().post(kRIRMessagingRegistrationTokenRefreshedNotification, object);
}

// --- topics ------------------------------------------------------------------------------

void RIRMessaging::subscribeToTopic(const std::string& topic, ErrorCompletion completion) {
  changeTopic(topic, true, std::move(completion));
}

void RIRMessaging::unsubscribeFromTopic(const std::string& topic, ErrorCompletion completion) {
  changeTopic(topic, false, std::move(completion));
}

void RIRMessaging::changeTopic(const std::string& topic, bool subscribe, ErrorCompletion completion) {
  const char* method = subscribe ? "subscribeToTopic" : "unsubscribeFromTopic";
  if (RIRMessagingPubSub::hasTopicsPrefix(topic)) {
    logger().logFuncWarning(2024, "Format '" + topic + "' is deprecated. Only '" +
                                      RIRMessagingPubSub::removePrefixFromTopic(topic) + "' should be used in " +
                                      method + ".");
  }
  std::weak_ptr<RIRMessaging> weakSelf = weak_from_this();
  retrieveRCMTokenForSenderID(
      m_tokenManager->rcmSenderID(),
      [weakSelf, topic, subscribe, completion](std::optional<std::string>, std::optional<platform::Error> error) {
        if (error) {
          logger().logFuncError(subscribe ? 2010 : 2012,
                                std::string(subscribe ? "The subscription" : "The unsubscription") +
                                    " operation failed due to an error getting the RCM token: " +
                                    error->localizedDescription() + ".");
          if (completion) completion(std::move(error));
          return;
        }
        std::shared_ptr<RIRMessaging> self = weakSelf.lock();
        if (!self) return;
        std::optional<std::string> normalized = normalizeTopic(topic);
        if (normalized && !normalized->empty()) {
          std::shared_ptr<RIRMessagingPubSub> topics = self->pubsub();
          if (!topics) return;
          auto handler = [completion](std::optional<platform::Error> error) {
            if (completion) completion(std::move(error));
          };
          if (subscribe) {
            topics->subscribeToTopic(*normalized, handler);
          } else {
            topics->unsubscribeFromTopic(*normalized, handler);
          }
          return;
        }
        const std::string reason = "Cannot parse topic name: '" + topic + "'. Will not " +
                                   (subscribe ? "subscribe." : "unsubscribe.");
        logger().logFuncError(subscribe ? 2009 : 2011, reason);
        if (completion) completion(RIRMessagingErrors::messagingErrorWithCode(8, reason));
      });
}

std::optional<std::string> RIRMessaging::normalizeTopic(const std::string& topic) {
  if (topic.empty()) return std::nullopt;
  std::string prefixed = RIRMessagingPubSub::hasTopicsPrefix(topic) ? topic : RIRMessagingPubSub::addPrefixToTopic(topic);
  if (RIRMessagingPubSub::isValidTopicWithPrefix(prefixed)) return prefixed;
  return std::nullopt;
}

// --- incoming messages ---------------------------------------------------------------------

RIRMessagingMessageInfo RIRMessaging::appDidReceiveMessage(const Dictionary& message) {
  if (message.empty()) return RIRMessagingMessageInfo(0);
  if (const std::string* messageID = nonEmptyString(message, "zcm.message_id")) {
    if (std::shared_ptr<RIRMessagingRmqManager> store = rmq2Manager()) store->saveS2dMessageWithRmqId(*messageID);
    if (isContentAvailable(message)) {
      std::shared_ptr<RIRMessagingSyncMessageManager> sync = syncMessageManager();
      if (sync && sync->didReceiveAPNSSyncMessage(message)) return RIRMessagingMessageInfo(1);
    }
    if (!RIRMessagingContextManagerService::isContextManagerMessage(message)) {
      if (!m_loggedMessageIDs.insert(*messageID).second) return RIRMessagingMessageInfo(1);
    }
  }
  RIRMessagingAnalytics::logMessage(message, m_analytics);
  handleContextManagerMessage(message);
  handleIncomingLinkIfNeededFromMessage(message);
  return RIRMessagingMessageInfo(1);
}

bool RIRMessaging::handleContextManagerMessage(const Dictionary& message) {
  if (!RIRMessagingContextManagerService::isContextManagerMessage(message)) return false;
  return RIRMessagingContextManagerService::handleContextManagerMessage(message);
}

std::optional<std::string> RIRMessaging::linkURLFromMessage(const Dictionary& message) {
  const std::string* link = nonEmptyString(message, "zcm.app_link");
  if (!link) return std::nullopt;
  std::optional<platform::Url> url = platform::Url::parse(*link);
  return url ? std::optional<std::string>(url->string()) : std::nullopt;
}

void RIRMessagingRegisterLibrary() {
  RIRMessagingRemoteNotificationsProxy::registerClass();
  RIRApp::registerInternalLibrary(RIRLibrary{"RIRMessaging", &RIRMessaging::componentsToRegister},
                                  kRIRMessagingLibraryName);
}
