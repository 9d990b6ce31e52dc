// RIRMessagingPubSub: the topic front of the messaging facade. It checks
// topic names ("/topics/" followed by letters, digits, "-", "_", ".", "~"
// and "%"), queues subscribe and unsubscribe requests in the pending list
// (RIRMessagingPendingTopicsList), keeps that list in the standard user
// defaults under "com.ririvudu.messaging.pending-subscriptions" (rewritten on
// every change, restored at creation; an unreadable archive starts an empty
// list), and sends each queued topic as one RIRMessagingTopicOperation
// (at most 10 at a time) once a registration token exists.
//
// A change without a valid check-in fails at once with code 501; an invalid
// topic with code 8; options with non-string values are logged and trimmed.
// Releasing the front cancels its queued topic operations.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/OperationQueue.h"
#include "platform/values/Error.h"
#include "sdk/messaging/RIRMessagingPendingTopicsList.h"

class RIRMessagingTokenManager;

inline constexpr const char* kRIRMessagingPendingSubscriptionsKey = "com.ririvudu.messaging.pending-subscriptions";
inline constexpr const char* kRIRMessagingTopicsPrefix = "/topics/";

class RIRMessagingPubSub : public RIRMessagingPendingTopicsListDelegate,
                           public std::enable_shared_from_this<RIRMessagingPubSub> {
 public:
  using Handler = RIRMessagingTopicOperationCompletion;

  static std::shared_ptr<RIRMessagingPubSub> initWithTokenManager(std::shared_ptr<RIRMessagingTokenManager> tokenManager);

  void subscribeToTopic(const std::string& topic, Handler handler);
  void unsubscribeFromTopic(const std::string& topic, Handler handler);
  void scheduleSync(bool immediately);
  void subscribeWithToken(const std::string& token, const std::string& topic,
                          const std::optional<platform::Dictionary>& options, Handler handler);
  void unsubscribeWithToken(const std::string& token, const std::string& topic,
                            const std::optional<platform::Dictionary>& options, Handler handler);
  void updateSubscriptionWithToken(const std::string& token, const std::string& topic,
                                   const platform::Dictionary& options, bool shouldDelete, Handler handler);

  void pendingTopicsList(RIRMessagingPendingTopicsList& list, const std::string& requestedUpdateForTopic,
                         RIRMessagingTopicAction action, RIRMessagingTopicOperationCompletion completion) override;
  void pendingTopicsListDidUpdate(RIRMessagingPendingTopicsList& list) override;
  bool pendingTopicsListCanRequestTopicUpdates(RIRMessagingPendingTopicsList& list) override;

  void archivePendingTopicsList(const RIRMessagingPendingTopicsList& list);
  void restorePendingTopicsList();
  static bool verifyPubSubOptions(const platform::Dictionary& options);

  static std::string addPrefixToTopic(const std::string& topic);
  static std::string removePrefixFromTopic(const std::string& topic);
  static bool hasTopicsPrefix(const std::string& topic);
  static bool isValidTopicWithPrefix(const std::string& topic);

  const std::shared_ptr<RIRMessagingPendingTopicsList>& pendingTopicUpdates() const { return m_pendingTopicUpdates; }
  size_t queuedOperationCount() const { return m_topicOperations->operationCount(); }

 private:
  explicit RIRMessagingPubSub(std::shared_ptr<RIRMessagingTokenManager> tokenManager);

  std::shared_ptr<RIRMessagingPendingTopicsList> m_pendingTopicUpdates;
  std::unique_ptr<platform::OperationQueue> m_topicOperations;
  const std::shared_ptr<RIRMessagingTokenManager> m_tokenManager;
};
