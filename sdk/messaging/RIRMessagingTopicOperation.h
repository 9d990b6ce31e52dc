// RIRMessagingTopicOperation: one topic change (action 0 subscribe, 1
// unsubscribe) as an asynchronous operation: a POST to the topic endpoint
// with the device's check-in credentials ("Authorization: AidLogin
// ID:SECRET", "app", "info") and the form body "sender=<token>&app=<bundle
// id>&device=<device ID>&app_ver=<version>&X-zcm.topic=<topic>&X-scope=
// <topic>" (and "&delete=true" to unsubscribe), every value percent-encoded.
//
// Endpoint: $RCM_SERVER_ENDPOINT when set and not empty, else the
// configured topic service (RIRMessagingServiceBaseURL) + "/iid/register".
//
// Outcome: a 2xx answer whose text before its first "=" is "token"
// succeeds; an answer with another status (whatever its body), an empty
// answer or any other fails with code 0 of "com.zoruvu.rcm"; a transport
// error is passed on. The completion runs exactly once, on the
// shared session's delegate queue (or where start or cancel ran); a cancel
// finishes it with code 3005 and the cancelled request's own answer is
// ignored.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/Operation.h"
#include "platform/net/HttpSession.h"
#include "platform/values/Value.h"
#include "sdk/messaging/RIRMessagingTopicBatch.h"

class RIRMessagingTokenManager;

inline constexpr const char* kRIRMessagingTopicEndpointVariable = "RCM_SERVER_ENDPOINT";

class RIRMessagingTopicOperation : public platform::Operation {
 public:
  RIRMessagingTopicOperation(std::string topic, RIRMessagingTopicAction action,
                             std::shared_ptr<RIRMessagingTokenManager> tokenManager, platform::Dictionary options,
                             RIRMessagingTopicOperationCompletion completion);

  static std::shared_ptr<platform::HttpSession> sharedSession();
  // Where topic changes are posted.
  static std::string topicEndpoint();

  void finishWithError(std::optional<platform::Error> error);
  void performSubscriptionChange();

  const std::string& topic() const { return m_topic; }
  RIRMessagingTopicAction action() const { return m_action; }
  const platform::Dictionary& options() const { return m_options; }

 protected:
  void execute() override;
  void didCancel() override;

 private:
  void handleResponse(platform::HttpResult result);

  const std::string m_topic;
  const RIRMessagingTopicAction m_action;
  const std::shared_ptr<RIRMessagingTokenManager> m_tokenManager;
  const platform::Dictionary m_options;

  std::mutex m_mutex;
  RIRMessagingTopicOperationCompletion m_completion;
  bool m_finishing = false;
  std::shared_ptr<platform::HttpTask> m_dataTask;
};
