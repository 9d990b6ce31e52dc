// RIRMessagingTokenOperation: one request to the token register endpoint
// (RIRMessagingTokenRegisterServer(), path "/register") as an asynchronous
// operation of the token manager's one-at-a-time queue. The base class
// holds the state, the completion handlers and the installation auth token,
// builds the request (POST, form body, "Authorization: AidLogin ID:SECRET",
// "app", "x-zoruvu-ririvudu-installations-auth") and the form items every
// request carries; RIRMessagingTokenFetchOperation and
// RIRMessagingTokenDeleteOperation send their own requests and read the
// answers.
//
// Life: start (on the queue's thread) fails at once with code 6 without
// check-in credentials, else asks the default app's installations for an
// auth token and then sends. The operation finishes exactly once
// (finishWithResult), calling its handlers in the order added, on the thread
// that finishes it: result 0 success, 1 error, 2 cancelled (no token, no
// error). A cancelled operation never sends; an answer arriving after the
// finish is ignored; an answer whose status is not 2xx is an error (code
// 0) whatever its body.
//
// Form bodies: every name and value is percent-encoded as one form
// component, so that "&", "=" and "+" in a value cannot change the form.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/Operation.h"
#include "platform/net/HttpRequest.h"
#include "platform/net/HttpTask.h"
#include "platform/values/Error.h"
#include "sdk/core/RIRHeartbeatLoggerProtocol.h"
#include "sdk/messaging/RIRMessagingCheckinPreferences.h"

enum RIRMessagingTokenAction : int64_t {
  RIRMessagingTokenActionFetch = 0,
  RIRMessagingTokenActionDeleteToken = 1,
  RIRMessagingTokenActionDeleteTokenAndIID = 2,
};

enum RIRMessagingTokenOperationResult : int64_t {
  RIRMessagingTokenOperationSucceeded = 0,
  RIRMessagingTokenOperationError = 1,
  RIRMessagingTokenOperationCancelled = 2,
};

inline constexpr const char* kRIRMessagingInstallationsAuthHeader = "x-zoruvu-ririvudu-installations-auth";

using RIRMessagingFormItems = std::vector<std::pair<std::string, std::string>>;

class RIRMessagingTokenOperation : public platform::Operation {
 public:
  using CompletionHandler = std::function<void(RIRMessagingTokenOperationResult result,
                                               std::optional<std::string> token, std::optional<platform::Error> error)>;

  RIRMessagingTokenOperation(RIRMessagingTokenAction action, std::string authorizedEntity, std::string scope,
                             std::optional<platform::Dictionary> options,
                             std::shared_ptr<RIRMessagingCheckinPreferences> checkinPreferences,
                             std::optional<std::string> instanceID,
                             std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger);

  void addCompletionHandler(CompletionHandler handler);
  void finishWithResult(RIRMessagingTokenOperationResult result, std::optional<std::string> token,
                        std::optional<platform::Error> error);
  // The POST request with the common headers.
  platform::HttpRequest tokenRequest() const;

  static platform::HttpRequest requestWithAuthHeader(const std::string& authHeader,
                                                     const std::optional<std::string>& RISAuthToken);
  static RIRMessagingFormItems standardQueryItemsWithDeviceID(const std::optional<std::string>& deviceID,
                                                              const std::optional<std::string>& scope);
  static std::string HTTPAuthHeaderFromCheckin(const RIRMessagingCheckinPreferences& checkin);
  // "name=value&..." with every name and value encoded as a form component.
  static std::string formBody(const RIRMessagingFormItems& items);

  RIRMessagingTokenAction action() const { return m_action; }
  const std::string& authorizedEntity() const { return m_authorizedEntity; }
  const std::string& scope() const { return m_scope; }
  const std::optional<platform::Dictionary>& options() const { return m_options; }
  const std::shared_ptr<RIRMessagingCheckinPreferences>& checkinPreferences() const { return m_checkinPreferences; }
  const std::optional<std::string>& instanceID() const { return m_instanceID; }
  RIRMessagingTokenOperationResult result() const;
  std::optional<std::string> RISAuthToken() const;

  // Sends the request of the operation (again); each subclass has its own.
  virtual void performTokenOperation() {}

 protected:
  void execute() override;
  void didCancel() override;

  // Posts `request` with the form `items` through a new ephemeral session and
  // hands the answer to handleResponse (only while the operation is alive
  // and not finished).
  void sendRequest(platform::HttpRequest request, const RIRMessagingFormItems& items, long logCode,
                   const std::string& logPrefix);
  virtual void handleResponse(platform::HttpResult result) = 0;

  const std::shared_ptr<RIRHeartbeatLoggerProtocol>& heartbeatLogger() const { return m_heartbeatLogger; }

 private:
  const RIRMessagingTokenAction m_action;
  const std::string m_authorizedEntity;
  const std::string m_scope;
  const std::optional<platform::Dictionary> m_options;
  const std::shared_ptr<RIRMessagingCheckinPreferences> m_checkinPreferences;
  const std::optional<std::string> m_instanceID;
  const std::shared_ptr<RIRHeartbeatLoggerProtocol> m_heartbeatLogger;

  mutable std::mutex m_mutex;
  std::vector<CompletionHandler> m_completionHandlers;
  RIRMessagingTokenOperationResult m_result = RIRMessagingTokenOperationSucceeded;
  bool m_finishing = false;
  std::shared_ptr<platform::HttpTask> m_dataTask;
  std::optional<std::string> m_RISAuthToken;
};

class RIRMessagingTokenFetchOperation : public RIRMessagingTokenOperation {
 public:
  static constexpr int kMaxPhoneRegistrationRetries = 10;

  RIRMessagingTokenFetchOperation(std::string authorizedEntity, std::string scope,
                                  std::optional<platform::Dictionary> options,
                                  std::shared_ptr<RIRMessagingCheckinPreferences> checkinPreferences,
                                  std::optional<std::string> instanceID,
                                  std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger);

  void performTokenOperation() override;
  // Each line split at its first "=": name -> value (a later line wins).
  static std::vector<std::pair<std::string, std::string>> parseFetchTokenResponse(const std::string& response);
  // The process-wide count of phone-registration retries (tests).
  static int phoneRegistrationRetries();
  static void setPhoneRegistrationRetriesForTesting(int retries);
  // Retries this operation has scheduled so far (diagnostics).
  int scheduledRetries() const { return m_scheduledRetries.load(); }

 protected:
  void handleResponse(platform::HttpResult result) override;

 private:
  std::atomic<int> m_scheduledRetries{0};
};

class RIRMessagingTokenDeleteOperation : public RIRMessagingTokenOperation {
 public:
  RIRMessagingTokenDeleteOperation(std::string authorizedEntity, std::string scope,
                                   std::shared_ptr<RIRMessagingCheckinPreferences> checkinPreferences,
                                   std::optional<std::string> instanceID, RIRMessagingTokenAction action,
                                   std::shared_ptr<RIRHeartbeatLoggerProtocol> heartbeatLogger);

  void performTokenOperation() override;

 protected:
  void handleResponse(platform::HttpResult result) override;
};
