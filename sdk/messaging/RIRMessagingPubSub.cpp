#include "sdk/messaging/RIRMessagingPubSub.h"

#include "platform/storage/KeyedArchiver.h"
#include "platform/text/Regex.h"
#include "sdk/messaging/RIRMessagingDictionary.h"
#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingTokenManager.h"
#include "sdk/messaging/RIRMessagingTopicOperation.h"
#include "sdk/utilities/ZULUserDefaults.h"

using platform::Dictionary;
using platform::Value;

namespace {

constexpr long kCodeSubscriptionFailed = 4001;
constexpr long kCodeUnsubscribed = 4002;
constexpr long kCodeSubscribed = 4003;
constexpr long kCodeInvalidSubscribeTopic = 9000;
constexpr long kCodeInvalidSubscribeOptions = 9001;
constexpr long kCodeInvalidUnsubscribeTopic = 9002;
constexpr long kCodeInvalidUnsubscribeOptions = 9003;
constexpr long kCodeArchiveFailed = 9004;
constexpr long kCodeUnarchiveFailed = 9005;
constexpr long kCodeNoCheckin = 11000;

constexpr int kMaxConcurrentTopicOperations = 10;

const platform::Regex& topicRegex() {
  static const platform::Regex* regex = [] {
    platform::RegexOptions options;
    options.multiline = true;
    return new platform::Regex(platform::Regex::compile("/topics/([a-zA-Z0-9-_.~%]+)", options).value());
  }();
  return *regex;
}

}  // namespace

std::shared_ptr<RIRMessagingPubSub> RIRMessagingPubSub::initWithTokenManager(
    std::shared_ptr<RIRMessagingTokenManager> tokenManager) {
  std::shared_ptr<RIRMessagingPubSub> pubsub(new RIRMessagingPubSub(std::move(tokenManager)));
  pubsub->restorePendingTopicsList();
  return pubsub;
}

RIRMessagingPubSub::RIRMessagingPubSub(std::shared_ptr<RIRMessagingTokenManager> tokenManager)
    : m_topicOperations(std::make_unique<platform::OperationQueue>(kMaxConcurrentTopicOperations)),
      m_tokenManager(std::move(tokenManager)) {}

// --- topic names -------------------------------------------------------------------

bool RIRMessagingPubSub::hasTopicsPrefix(const std::string& topic) { return topic.rfind(kRIRMessagingTopicsPrefix, 0) == 0; }

std::string RIRMessagingPubSub::addPrefixToTopic(const std::string& topic) {
  return hasTopicsPrefix(topic) ? topic : kRIRMessagingTopicsPrefix + topic;
}

std::string RIRMessagingPubSub::removePrefixFromTopic(const std::string& topic) {
  return hasTopicsPrefix(topic) ? topic.substr(std::string(kRIRMessagingTopicsPrefix).size()) : topic;
}

bool RIRMessagingPubSub::isValidTopicWithPrefix(const std::string& topic) {
  platform::Result<std::optional<platform::RegexMatch>> match = topicRegex().firstMatch(topic);
  return match && match.value() && match.value()->location() == 0 &&
         match.value()->length() == Value::utf16Length(topic);
}

bool RIRMessagingPubSub::verifyPubSubOptions(const Dictionary& options) { return !rcm_hasNonStringKeysOrValues(options); }

// --- requests ----------------------------------------------------------------------

void RIRMessagingPubSub::subscribeToTopic(const std::string& topic, Handler handler) {
  m_pendingTopicUpdates->addOperationForTopic(topic, RIRMessagingTopicActionSubscribe, std::move(handler));
}

void RIRMessagingPubSub::unsubscribeFromTopic(const std::string& topic, Handler handler) {
  m_pendingTopicUpdates->addOperationForTopic(topic, RIRMessagingTopicActionUnsubscribe, std::move(handler));
}

void RIRMessagingPubSub::scheduleSync(bool /*immediately*/) {
  std::optional<std::string> token = m_tokenManager->defaultRCMToken();
  if (token && !token->empty()) m_pendingTopicUpdates->resumeOperationsIfNeeded();
}

void RIRMessagingPubSub::subscribeWithToken(const std::string& token, const std::string& topic,
                                            const std::optional<Dictionary>& options, Handler handler) {
  Dictionary checked = options ? options->copy() : Dictionary();
  if (!isValidTopicWithPrefix(topic)) {
    const std::string reason = "Invalid subscription topic :'" + topic + "'";
    RIRMessagingSharedLogger().logFuncError(kCodeInvalidSubscribeTopic, reason);
    if (handler) handler(RIRMessagingErrors::messagingErrorWithCode(kRIRMessagingErrorCodeInvalidTopicName, reason));
    return;
  }
  if (!verifyPubSubOptions(checked)) {
    RIRMessagingSharedLogger().logFuncError(kCodeInvalidSubscribeOptions,
                                            "Invalid options passed to RIRMessagingPubSub with non-string keys or values.");
  }
  updateSubscriptionWithToken(token, topic, rcm_trimNonStringValues(checked), false, std::move(handler));
}

void RIRMessagingPubSub::unsubscribeWithToken(const std::string& token, const std::string& topic,
                                              const std::optional<Dictionary>& options, Handler handler) {
  Dictionary checked = options ? options->copy() : Dictionary();
  if (!isValidTopicWithPrefix(topic)) {
    const std::string reason = "Invalid topic name : '" + topic + "' for unsubscription.";
    RIRMessagingSharedLogger().logFuncError(kCodeInvalidUnsubscribeTopic, reason);
    if (handler) handler(RIRMessagingErrors::messagingErrorWithCode(kRIRMessagingErrorCodeInvalidTopicName, reason));
    return;
  }
  if (!verifyPubSubOptions(checked)) {
    RIRMessagingSharedLogger().logFuncError(kCodeInvalidUnsubscribeOptions,
                                            "Invalid options passed to RIRMessagingPubSub with non-string keys or values.");
  }
  updateSubscriptionWithToken(token, topic, rcm_trimNonStringValues(checked), true, std::move(handler));
}

void RIRMessagingPubSub::updateSubscriptionWithToken(const std::string& /*token*/, const std::string& topic,
                                                     const Dictionary& options, bool shouldDelete, Handler handler) {
  if (!m_tokenManager->hasValidCheckinInfo()) {
    const char* reason =
        "Device ID and checkin info is not found. Will not proceed with subscription/unsubscription.";
    RIRMessagingSharedLogger().logFuncDebug(kCodeNoCheckin, reason);
    if (handler) handler(RIRMessagingErrors::messagingErrorWithCode(kRIRMessagingErrorCodeMissingDeviceID, reason));
    return;
  }
  const RIRMessagingTopicAction action =
      shouldDelete ? RIRMessagingTopicActionUnsubscribe : RIRMessagingTopicActionSubscribe;
  auto operation = std::make_shared<RIRMessagingTopicOperation>(
      topic, action, m_tokenManager, options, [topic, action, handler](std::optional<platform::Error> error) {
        if (error) {
          RIRMessagingSharedLogger().logFuncError(kCodeSubscriptionFailed, "Failed to subscribe to topic " + topic);
        } else if (action == RIRMessagingTopicActionSubscribe) {
          RIRMessagingSharedLogger().logFuncInfo(kCodeSubscribed, "Successfully subscribed to topic " + topic);
        } else {
          RIRMessagingSharedLogger().logFuncInfo(kCodeUnsubscribed, "Successfully unsubscribed from topic " + topic);
        }
        if (handler) handler(error);
      });
  m_topicOperations->add(operation);
}

// --- the pending list --------------------------------------------------------------

void RIRMessagingPubSub::pendingTopicsList(RIRMessagingPendingTopicsList& /*list*/,
                                           const std::string& requestedUpdateForTopic, RIRMessagingTopicAction action,
                                           RIRMessagingTopicOperationCompletion completion) {
  const std::string token = m_tokenManager->defaultRCMToken().value_or("");
  if (action == RIRMessagingTopicActionSubscribe) {
    subscribeWithToken(token, requestedUpdateForTopic, std::nullopt, std::move(completion));
  } else {
    unsubscribeWithToken(token, requestedUpdateForTopic, std::nullopt, std::move(completion));
  }
}

void RIRMessagingPubSub::pendingTopicsListDidUpdate(RIRMessagingPendingTopicsList& list) { archivePendingTopicsList(list); }

bool RIRMessagingPubSub::pendingTopicsListCanRequestTopicUpdates(RIRMessagingPendingTopicsList& /*list*/) {
  std::optional<std::string> token = m_tokenManager->defaultRCMToken();
  return token && !token->empty();
}

void RIRMessagingPubSub::archivePendingTopicsList(const RIRMessagingPendingTopicsList& list) {
  platform::Result<platform::Bytes> data = platform::KeyedArchiver::archivedData(list);
  if (!data) {
    RIRMessagingSharedLogger().logFuncError(kCodeArchiveFailed,
                                            "Failed to archive topic list data " + data.error().description());
    return;
  }
  ZULUserDefaults::standardUserDefaults()->setObject(Value::data(data.value()), kRIRMessagingPendingSubscriptionsKey);
}

void RIRMessagingPubSub::restorePendingTopicsList() {
  RIRMessagingPendingTopicsList::registerClasses();
  std::shared_ptr<RIRMessagingPendingTopicsList> list;
  std::optional<Value> stored = ZULUserDefaults::standardUserDefaults()->objectForKey(kRIRMessagingPendingSubscriptionsKey);
  if (stored && stored->isData()) {
    platform::Result<Value> root =
        platform::KeyedUnarchiver::unarchivedObject(RIRMessagingPendingTopicsList::archiveClasses(), *stored->asData());
    if (root) {
      list = std::dynamic_pointer_cast<RIRMessagingPendingTopicsList>(platform::KeyedArchiver::unwrap(root.value()));
    } else {
      RIRMessagingSharedLogger().logFuncError(kCodeUnarchiveFailed,
                                              "Failed to unarchive topic list data " + root.error().description());
    }
  }
  m_pendingTopicUpdates = list ? list : std::make_shared<RIRMessagingPendingTopicsList>();
  m_pendingTopicUpdates->setDelegate(weak_from_this());
}
