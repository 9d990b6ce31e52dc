#include "sdk/messaging/RIRMessagingTopicOperation.h"

#include <cstdlib>

#include "platform/net/URLError.h"
#include "sdk/installations/RIRInstallationsLogger.h"
#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingTokenManager.h"
#include "sdk/messaging/RIRMessagingUtilities.h"

namespace {

constexpr long kCodeRequest = 17000;
constexpr long kCodeHttpError = 17001;
constexpr long kCodeMissingToken = 17002;
constexpr long kCodeEmpty = 17004;

constexpr double kResourceTimeout = 60;

platform::Error messagingError(int64_t code, const std::string& reason) {
  return RIRMessagingErrors::messagingErrorWithCode(code, reason);
}

}  // namespace

RIRMessagingTopicOperation::RIRMessagingTopicOperation(std::string topic, RIRMessagingTopicAction action,
                                                       std::shared_ptr<RIRMessagingTokenManager> tokenManager,
                                                       platform::Dictionary options,
                                                       RIRMessagingTopicOperationCompletion completion)
    : m_topic(std::move(topic)),
      m_action(action),
      m_tokenManager(std::move(tokenManager)),
      m_options(options.copy()),
      m_completion(std::move(completion)) {}

std::shared_ptr<platform::HttpSession> RIRMessagingTopicOperation::sharedSession() {
  static const auto* session = new std::shared_ptr<platform::HttpSession>([] {
    platform::HttpSessionConfiguration configuration = platform::HttpSessionConfiguration::defaultConfiguration();
    configuration.timeoutIntervalForResource = kResourceTimeout;
    return platform::HttpSession::create(configuration);
  }());
  return *session;
}

std::string RIRMessagingTopicOperation::topicEndpoint() {
  if (const char* endpoint = std::getenv(kRIRMessagingTopicEndpointVariable); endpoint != nullptr && *endpoint != '\0') {
    return endpoint;
  }
  return RIRMessagingServiceBaseURL(kRIRMessagingTopicServiceURLKey, kRIRMessagingDefaultTopicServiceURL) +
         "/iid/register";
}

void RIRMessagingTopicOperation::execute() {
  if (isCancelled()) {
    finishWithError(messagingError(kRIRMessagingErrorCodePubSubOperationIsCancelled,
                                   "Failed to start the pubsub service as the topic operation is cancelled."));
    return;
  }
  performSubscriptionChange();
}

void RIRMessagingTopicOperation::didCancel() {
  std::shared_ptr<platform::HttpTask> task;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    task = m_dataTask;
  }
  // Finished first, so that the cancelled request's own answer finds the
  // operation done. One that has not started yet finishes when its queue
  // starts it.
  if (isExecuting()) {
    finishWithError(messagingError(kRIRMessagingErrorCodePubSubOperationIsCancelled, "The topic operation is cancelled."));
  }
  if (task) task->cancel();
}

void RIRMessagingTopicOperation::finishWithError(std::optional<platform::Error> error) {
  RIRMessagingTopicOperationCompletion completion;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_finishing) return;
    m_finishing = true;
    m_dataTask.reset();
    completion = std::move(m_completion);
  }
  if (completion) completion(std::move(error));
  finish();
}

void RIRMessagingTopicOperation::performSubscriptionChange() {
  platform::HttpRequest request(topicEndpoint(), "POST");
  request.setValue("AidLogin " + m_tokenManager->deviceAuthID() + ":" + m_tokenManager->secretToken(), "Authorization");
  request.setValue(RIRMessagingAppIdentifier().value_or(""), "app");
  request.setValue(m_tokenManager->versionInfo(), "info");

  RIRMessagingFormItems items{{"sender", m_tokenManager->defaultRCMToken().value_or("")},
                              {"app", RIRMessagingAppIdentifier().value_or("")},
                              {"device", m_tokenManager->deviceAuthID()},
                              {"app_ver", RIRMessagingCurrentAppVersion()},
                              {"X-zcm.topic", m_topic},
                              {"X-scope", m_topic}};
  if (m_action == RIRMessagingTopicActionUnsubscribe) items.emplace_back("delete", "true");
  const std::string body = RIRMessagingTokenOperation::formBody(items);
  RIRMessagingSharedLogger().logLazy(ZULLoggerLevelInfo, kCodeRequest, [&] {
    // The registration token (the first value) is a credential.
    return std::string("Topic subscription request: sender=") + kRIRInstallationsRedacted + body.substr(body.find('&'));
  });
  request.setBody(body);

  std::weak_ptr<RIRMessagingTopicOperation> weakSelf =
      std::static_pointer_cast<RIRMessagingTopicOperation>(shared_from_this());
  std::shared_ptr<platform::HttpTask> task =
      sharedSession()->dataTask(std::move(request), [weakSelf](platform::HttpResult result) {
        if (std::shared_ptr<RIRMessagingTopicOperation> self = weakSelf.lock()) self->handleResponse(std::move(result));
      });
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_finishing) return;
    m_dataTask = task;
  }
  task->resume();
}

void RIRMessagingTopicOperation::handleResponse(platform::HttpResult result) {
  const RIRMessagingLogger& logger = RIRMessagingSharedLogger();
  if (result.error) {
    // A cancelled request was finished by the cancel already.
    if (platform::URLError::isCancelled(*result.error)) return;
    logger.logFuncDebug(kCodeHttpError,
                        "Device registration HTTP fetch error. Error Code: " + std::to_string(result.error->code));
    finishWithError(result.error);
    return;
  }
  if (std::optional<platform::Error> refused = RIRMessagingErrors::errorForHTTPStatus(result)) {
    logger.logFuncDebug(kCodeHttpError,
                        "Device registration HTTP fetch error. Error Code: " + std::to_string(result.statusCode()));
    finishWithError(refused);
    return;
  }
  const std::string body = result.text();
  if (body.empty()) {
    const char* reason = "Invalid registration response - zero length.";
    logger.logFuncDebug(kCodeEmpty, reason);
    finishWithError(messagingError(kRIRMessagingErrorCodeUnknown, reason));
    return;
  }
  const size_t equals = body.find('=');
  if (equals != std::string::npos && body.compare(0, equals, "token") == 0) {
    finishWithError(std::nullopt);
    return;
  }
  const std::string reason = "Invalid registration response :'" + body + "'. It is missing 'token' field.";
  logger.logFuncDebug(kCodeMissingToken, reason);
  finishWithError(messagingError(kRIRMessagingErrorCodeUnknown, reason));
}
