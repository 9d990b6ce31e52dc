#include "sdk/messaging/RIRMessagingTokenOperation.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/dispatch/MainQueue.h"
#include "platform/net/HttpSession.h"
#include "platform/text/PercentEncoding.h"
#include "sdk/core/RIRApp.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/installations/RIRInstallations.h"
#include "sdk/messaging/RIRMessagingAPNSInfo.h"
#include "sdk/messaging/RIRMessagingErrors.h"
#include "sdk/messaging/RIRMessagingLogger.h"
#include "sdk/messaging/RIRMessagingUtilities.h"
#include "sdk/utilities/ZULAppEnvironmentUtil.h"

using platform::Error;
using platform::HttpRequest;
using platform::Value;

namespace {

constexpr long kCodeIdentityReset = 22001;
constexpr long kCodeRegisterRequest = 40000;
constexpr long kCodeFetchError = 40001;
constexpr long kCodeInvalidFetchResponse = 40002;
constexpr long kCodeUnregisterRequest = 41000;
constexpr long kCodeUnregisterError = 41001;
constexpr long kCodeInvalidUnregisterResponse = 41002;

constexpr double kRequestTimeout = 60;

std::atomic<int> g_phoneRegistrationRetries{0};

std::optional<std::string> nonEmpty(const std::string& text) {
  return text.empty() ? std::nullopt : std::optional<std::string>(text);
}

std::shared_ptr<RIRInstallations> defaultInstallations() {
  std::shared_ptr<RIRApp> app = RIRApp::defaultAppIfConfigured();
  return app ? RIRInstallations::installationsWithApp(*app) : nullptr;
}

Error messagingError(int64_t code, const std::string& reason) {
  return RIRMessagingErrors::messagingErrorWithCode(code, reason);
}

}  // namespace

RIRMessagingTokenOperation::RIRMessagingTokenOperation(
    RIRMessagingTokenAction action, std::string authorizedEntity, std::string scope,
    std::optional<platform::Dictionary> options, std::shared_ptr<RIRMessagingCheckinPreferences> checkinPreferences,
    std::optional<std::string> instanceID, std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger)
    : m_action(action),
      m_authorizedEntity(std::move(authorizedEntity)),
      m_scope(std::move(scope)),
      m_options(options ? std::optional<platform::Dictionary>(options->copy()) : std::nullopt),
      m_checkinPreferences(std::move(checkinPreferences)),
      m_instanceID(std::move(instanceID)),
      m_heartbeatLogger(heartbeatLogger ? std::move(heartbeatLogger) : std::make_shared<RIRNullHeartbeatLogger>()) {}

void RIRMessagingTokenOperation::addCompletionHandler(CompletionHandler handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_completionHandlers.push_back(std::move(handler));
}

RIRMessagingTokenOperationResult RIRMessagingTokenOperation::result() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_result;
}

std::optional<std::string> RIRMessagingTokenOperation::RISAuthToken() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_RISAuthToken;
}

void RIRMessagingTokenOperation::finishWithResult(RIRMessagingTokenOperationResult result,
                                                  std::optional<std::string> token, std::optional<Error> error) {
  std::vector<CompletionHandler> handlers;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_finishing) return;
    m_finishing = true;
    m_dataTask.reset();
    m_result = result;
    handlers = m_completionHandlers;
  }
  for (const CompletionHandler& handler : handlers) {
    if (handler) handler(result, token, error);
  }
  finish();
}

void RIRMessagingTokenOperation::execute() {
  if (isCancelled()) {
    finishWithResult(RIRMessagingTokenOperationCancelled, std::nullopt, std::nullopt);
    return;
  }
  if (!m_checkinPreferences || !m_checkinPreferences->hasCheckinInfo()) {
    finishWithResult(RIRMessagingTokenOperationError, std::nullopt,
                     messagingError(kRIRMessagingErrorCodeNoCheckin, "Failed to checkin before token registration."));
    return;
  }
  std::shared_ptr<RIRInstallations> installations = defaultInstallations();
  if (!installations) {
    finishWithResult(RIRMessagingTokenOperationError, std::nullopt,
                     messagingError(kRIRMessagingErrorCodeMissingInstallations,
                                    "Failed to send token request, missing critical info."));
    return;
  }
  std::weak_ptr<RIRMessagingTokenOperation> weakSelf =
      std::static_pointer_cast<RIRMessagingTokenOperation>(shared_from_this());
  installations->authTokenWithCompletion(
      [weakSelf](std::shared_ptr<RIRInstallationsAuthTokenResult> tokenResult, std::optional<Error> error) {
        std::shared_ptr<RIRMessagingTokenOperation> self = weakSelf.lock();
        if (!self) return;
        if (tokenResult && !tokenResult->authToken().empty()) {
          {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_RISAuthToken = tokenResult->authToken();
          }
          self->performTokenOperation();
          return;
        }
        self->finishWithResult(RIRMessagingTokenOperationError, std::nullopt,
                               error ? error
                                     : std::optional<Error>(messagingError(kRIRMessagingErrorCodeUnknown,
                                                                           "Failed to get an installation auth token.")));
      });
}

void RIRMessagingTokenOperation::didCancel() {
  std::shared_ptr<platform::HttpTask> task;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    task = m_dataTask;
  }
  // Finished first, so that the cancelled request's own answer finds the
  // operation done. One that has not started yet finishes when its queue
  // starts it.
  if (isExecuting()) finishWithResult(RIRMessagingTokenOperationCancelled, std::nullopt, std::nullopt);
  if (task) task->cancel();
}

std::string RIRMessagingTokenOperation::HTTPAuthHeaderFromCheckin(const RIRMessagingCheckinPreferences& checkin) {
  return "AidLogin " + checkin.deviceID() + ":" + checkin.secretToken();
}

HttpRequest RIRMessagingTokenOperation::requestWithAuthHeader(const std::string& authHeader,
                                                              const std::optional<std::string>& RISAuthToken) {
  HttpRequest request(RIRMessagingTokenRegisterServer(), "POST");
  request.setValue(authHeader, "Authorization");
  request.setValue(RIRMessagingAppIdentifier().value_or(""), "app");
  if (RISAuthToken) request.setValue(*RISAuthToken, kRIRMessagingInstallationsAuthHeader);
  return request;
}

HttpRequest RIRMessagingTokenOperation::tokenRequest() const {
  return requestWithAuthHeader(m_checkinPreferences ? HTTPAuthHeaderFromCheckin(*m_checkinPreferences)
                                                    : std::string("AidLogin :"),
                               RISAuthToken());
}

RIRMessagingFormItems RIRMessagingTokenOperation::standardQueryItemsWithDeviceID(
    const std::optional<std::string>& deviceID, const std::optional<std::string>& scope) {
  RIRMessagingFormItems items{{"X-osv", ZULAppEnvironmentUtil::systemVersion()}};
  if (deviceID) items.emplace_back("device", *deviceID);
  if (scope) items.emplace_back("X-scope", *scope);
  items.emplace_back("plat", "2");
  items.emplace_back("app", RIRMessagingAppIdentifier().value_or(""));
  items.emplace_back("app_ver", RIRMessagingCurrentAppVersion());
  const std::string clientVersion = "riid-" + RIRCoreVersionString();
  if (!clientVersion.empty()) items.emplace_back("X-cliv", clientVersion);
  return items;
}

std::string RIRMessagingTokenOperation::formBody(const RIRMessagingFormItems& items) {
  std::string body;
  for (const auto& [name, value] : items) {
    if (!body.empty()) body += "&";
    body += platform::PercentEncoding::encodeFormComponent(name) + "=" +
            platform::PercentEncoding::encodeFormComponent(value);
  }
  return body;
}

void RIRMessagingTokenOperation::sendRequest(HttpRequest request, const RIRMessagingFormItems& items, long logCode,
                                             const std::string& logPrefix) {
  if (isFinished() || isCancelled()) return;
  const std::string body = formBody(items);
  request.setBody(body);
  RIRMessagingSharedLogger().logLazy(ZULLoggerLevelDebug, logCode,
                                     [&] { return logPrefix + request.url() + " content: " + body; });
  platform::HttpSessionConfiguration configuration = platform::HttpSessionConfiguration::ephemeralConfiguration();
  configuration.timeoutIntervalForResource = kRequestTimeout;
  std::shared_ptr<platform::HttpSession> session = platform::HttpSession::create(configuration);
  std::weak_ptr<RIRMessagingTokenOperation> weakSelf =
      std::static_pointer_cast<RIRMessagingTokenOperation>(shared_from_this());
  std::shared_ptr<platform::HttpTask> task =
      session->dataTask(std::move(request), [weakSelf](platform::HttpResult result) {
        std::shared_ptr<RIRMessagingTokenOperation> self = weakSelf.lock();
        if (!self || self->isFinished()) return;
        self->handleResponse(std::move(result));
      });
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_finishing) return;
    m_dataTask = task;
  }
  task->resume();
  session->finishTasksAndInvalidate();
}

// --- fetch -------------------------------------------------------------------------

RIRMessagingTokenFetchOperation::RIRMessagingTokenFetchOperation(
    std::string authorizedEntity, std::string scope, std::optional<platform::Dictionary> options,
    std::shared_ptr<RIRMessagingCheckinPreferences> checkinPreferences, std::optional<std::string> instanceID,
    std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger)
    : RIRMessagingTokenOperation(RIRMessagingTokenActionFetch, std::move(authorizedEntity), std::move(scope),
                                 std::move(options), std::move(checkinPreferences), std::move(instanceID),
                                 std::move(heartbeatLogger)) {}

int RIRMessagingTokenFetchOperation::phoneRegistrationRetries() { return g_phoneRegistrationRetries.load(); }

void RIRMessagingTokenFetchOperation::setPhoneRegistrationRetriesForTesting(int retries) {
  g_phoneRegistrationRetries = retries;
}

void RIRMessagingTokenFetchOperation::performTokenOperation() {
  HttpRequest request = tokenRequest();
  request.setValue(checkinPreferences()->versionInfo(), "info");
  request.setValue(RIRApp::ririvuduUserAgent(), "X-ririvudu-client");
  request.setValue(std::to_string(heartbeatLogger()->heartbeatCodeForToday()), "X-ririvudu-client-log-type");

  RIRMessagingFormItems items = standardQueryItemsWithDeviceID(nonEmpty(checkinPreferences()->deviceID()),
                                                               nonEmpty(scope()));
  items.emplace_back("sender", authorizedEntity());
  items.emplace_back("X-subtype", authorizedEntity());
  if (instanceID() && !instanceID()->empty()) items.emplace_back("appid", *instanceID());
  const platform::Dictionary options = this->options().value_or(platform::Dictionary());
  const Value& apnsToken = options[kRIRMessagingTokenOptionsAPNSKey];
  const Value& sandbox = options[kRIRMessagingTokenOptionsAPNSIsSandboxKey];
  if (apnsToken.isData() && sandbox.isNumeric()) {
    items.emplace_back("apns_token",
                       *RIRMessagingAPNSTupleStringForTokenAndServerType(*apnsToken.asData(), sandbox.boolValue()));
  }
  if (const std::string* appID = options[kRIRMessagingTokenOptionsAppIDKey].asString()) {
    items.emplace_back("vod_app_id", *appID);
  }
  sendRequest(std::move(request), items, kCodeRegisterRequest, "Register request to ");
}

std::vector<std::pair<std::string, std::string>> RIRMessagingTokenFetchOperation::parseFetchTokenResponse(
    const std::string& response) {
  std::vector<std::pair<std::string, std::string>> parsed;
  for (const std::string& line : RIRMessagingSplit(response, '\n')) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    bool replaced = false;
    for (auto& entry : parsed) {
      if (entry.first == key) {
        entry.second = value;
        replaced = true;
      }
    }
    if (!replaced) parsed.emplace_back(std::move(key), std::move(value));
  }
  return parsed;
}

void RIRMessagingTokenFetchOperation::handleResponse(platform::HttpResult result) {
  const RIRMessagingLogger& logger = RIRMessagingSharedLogger();
  if (result.error) {
    logger.logFuncDebug(kCodeFetchError, "Token fetch HTTP error. Error Code: " + std::to_string(result.error->code));
    finishWithResult(RIRMessagingTokenOperationError, std::nullopt, result.error);
    return;
  }
  if (std::optional<Error> refused = RIRMessagingErrors::errorForHTTPStatus(result)) {
    logger.logFuncDebug(kCodeFetchError, "Token fetch HTTP error. Error Code: " + std::to_string(result.statusCode()));
    finishWithResult(RIRMessagingTokenOperationError, std::nullopt, refused);
    return;
  }
  const std::string body = result.text();
  if (body.empty()) {
    finishWithResult(RIRMessagingTokenOperationError, std::nullopt,
                     messagingError(kRIRMessagingErrorCodeUnknown, "Empty response."));
    return;
  }
  std::string token;
  std::string errorValue;
  for (const auto& [key, value] : parseFetchTokenResponse(body)) {
    if (key == "token") token = value;
    if (key == "Error") errorValue = value;
  }
  if (!token.empty()) {
    finishWithResult(RIRMessagingTokenOperationSucceeded, token, std::nullopt);
    return;
  }
  if (!errorValue.empty()) {
    const std::vector<std::string> parts = RIRMessagingSplit(errorValue, ':');
    const bool phoneRegistration =
        std::find(parts.begin(), parts.end(), "PHONE_REGISTRATION_ERROR") != parts.end();
    const int retries = g_phoneRegistrationRetries.load();
    if (phoneRegistration && retries < kMaxPhoneRegistrationRetries) {
      std::weak_ptr<RIRMessagingTokenOperation> weakSelf =
          std::static_pointer_cast<RIRMessagingTokenOperation>(shared_from_this());
      platform::mainQueue().after(std::pow(2.0, retries), [weakSelf] {
        ++g_phoneRegistrationRetries;
        if (std::shared_ptr<RIRMessagingTokenOperation> self = weakSelf.lock()) self->performTokenOperation();
      });
      // Counted once the wait is on the clock, so that a count seen by
      // another thread means the retry's time is already fixed.
      ++m_scheduledRetries;
      return;
    }
    if (!phoneRegistration) {
      if (std::find(parts.begin(), parts.end(), "RST") != parts.end()) {
        const char* reason = "Identity is invalid. Server request identity reset.";
        logger.logFuncDebug(kCodeIdentityReset, reason);
        finishWithResult(RIRMessagingTokenOperationError, std::nullopt,
                         messagingError(kRIRMessagingErrorCodeInvalidIdentity, reason));
        return;
      }
      logger.logFuncDebug(kCodeFetchError, "Token fetch got an error from server: " + errorValue);
      finishWithResult(RIRMessagingTokenOperationError, std::nullopt,
                       messagingError(kRIRMessagingErrorCodeUnknown, errorValue));
      return;
    }
  }
  const char* reason = "Invalid fetch response, expected 'token' or 'Error' key";
  logger.logFuncDebug(kCodeInvalidFetchResponse, reason);
  finishWithResult(RIRMessagingTokenOperationError, std::nullopt, messagingError(kRIRMessagingErrorCodeUnknown, reason));
}

// --- delete ------------------------------------------------------------------------

RIRMessagingTokenDeleteOperation::RIRMessagingTokenDeleteOperation(
    std::string authorizedEntity, std::string scope, std::shared_ptr<RIRMessagingCheckinPreferences> checkinPreferences,
    std::optional<std::string> instanceID, RIRMessagingTokenAction action,
    std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger)
    : RIRMessagingTokenOperation(action, std::move(authorizedEntity), std::move(scope), std::nullopt,
                                 std::move(checkinPreferences), std::move(instanceID), std::move(heartbeatLogger)) {}

void RIRMessagingTokenDeleteOperation::performTokenOperation() {
  RIRMessagingFormItems items = standardQueryItemsWithDeviceID(nonEmpty(checkinPreferences()->deviceID()),
                                                               nonEmpty(scope()));
  items.emplace_back("delete", "true");
  if (action() == RIRMessagingTokenActionDeleteTokenAndIID) items.emplace_back("iid-operation", "delete");
  if (!authorizedEntity().empty()) items.emplace_back("sender", authorizedEntity());
  if (instanceID() && !instanceID()->empty()) items.emplace_back("appid", *instanceID());
  sendRequest(tokenRequest(), items, kCodeUnregisterRequest, "Unregister request to ");
}

void RIRMessagingTokenDeleteOperation::handleResponse(platform::HttpResult result) {
  if (result.error) {
    RIRMessagingSharedLogger().logFuncDebug(
        kCodeUnregisterError, "Device unregister HTTP fetch error. Error code: " + std::to_string(result.error->code));
    finishWithResult(RIRMessagingTokenOperationError, std::nullopt, result.error);
    return;
  }
  if (std::optional<Error> refused = RIRMessagingErrors::errorForHTTPStatus(result)) {
    RIRMessagingSharedLogger().logFuncDebug(
        kCodeUnregisterError, "Device unregister HTTP fetch error. Error code: " + std::to_string(result.statusCode()));
    finishWithResult(RIRMessagingTokenOperationError, std::nullopt, refused);
    return;
  }
  const std::string body = result.text();
  if (body.empty()) {
    finishWithResult(RIRMessagingTokenOperationError, std::nullopt,
                     messagingError(kRIRMessagingErrorCodeUnknown, "Empty response."));
    return;
  }
  if (body.rfind("deleted=", 0) == 0 || body.rfind("token=", 0) == 0) {
    finishWithResult(RIRMessagingTokenOperationSucceeded, std::nullopt, std::nullopt);
    return;
  }
  std::string response = "<HTTP response: status " + std::to_string(result.statusCode()) +
                         (result.response ? ", url " + result.response->url() : std::string()) + ">";
  const std::string reason = "Invalid unregister response " + response;
  RIRMessagingSharedLogger().logFuncDebug(kCodeInvalidUnregisterResponse, reason);
  finishWithResult(RIRMessagingTokenOperationError, std::nullopt, messagingError(kRIRMessagingErrorCodeUnknown, reason));
}
