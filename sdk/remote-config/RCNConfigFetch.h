// RCNConfigFetch: one remote-config instance's fetches from the config fetch
// service. It decides whether a fetch may go out (minimum interval, fetch in
// progress, throttling, device-context change), gets the installation's
// auth token and ID, the analytics user properties, sends one gzip POST
// "<base>/v1/projects/<project>/namespaces/<namespace>:fetch?key=<API key>"
// and applies the answer to the content, the experiments and the settings.
//
// Decisions, the installation answers, request building and response
// handling run on the instance's queue (the facade's serial queue);
// completions run on the main queue. Work queued after the fetcher is gone
// does nothing and reports nothing.
//
// Answers (RCNFetchAnswer): 200 with a JSON object applies it (an object
// whose only entry "error" is an object is a failure, 8003, with the fetch
// status untouched); 200 without a body or with another body is a success
// without change; any other status or a transfer error records a failure,
// and 429, 500, 503 and 504 advance the back-off (entered from the status
// before the failure), reporting 8002 with the throttle end once it
// throttles. A 200 without an "etag" header after one that had it removes
// the stored ETag.
//
// What an answer changes in the database (config rows, personalization,
// rollouts, experiment payloads) is one transaction. The ETag, the fetch
// times and the template version are stored only after it committed, and
// the success is reported only then: a fetch whose rows could not be
// committed is a failure (8003, no ETag stored), and so is one whose fetch
// state could not be written to the user-defaults store.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/HttpSession.h"
#include "platform/values/Error.h"
#include "sdk/core/RIROptions.h"
#include "sdk/core/ROZAdavurudoInterop.h"
#include "sdk/remote-config/RCNConfigContent.h"
#include "sdk/remote-config/RCNConfigExperiment.h"
#include "sdk/remote-config/RCNConfigSettings.h"
#include "sdk/remote-config/ZUVUduvedOrovarUpdate.h"

class RCNConfigFetch : public std::enable_shared_from_this<RCNConfigFetch> {
 public:
  using CompletionHandler = std::function<void(int64_t status, std::optional<platform::Error> error)>;
  using UpdateCompletionHandler = std::function<void(int64_t status, std::shared_ptr<ZUVUduvedOrovarUpdate> update,
                                                     std::optional<platform::Error> error)>;

  static std::shared_ptr<RCNConfigFetch> create(std::shared_ptr<RCNConfigContent> content,
                                                std::shared_ptr<RCNConfigSettings> settings,
                                                std::shared_ptr<ROZAdavurudoInterop> analytics,
                                                std::shared_ptr<RCNConfigExperiment> experiment,
                                                platform::DispatchQueue queue, std::string ririvuduNamespace,
                                                std::shared_ptr<RIROptions> options);
  ~RCNConfigFetch();

  // The facade's fetch: `expirationDuration` is the minimum interval.
  void fetchConfigWithExpirationDuration(double expirationDuration, CompletionHandler completionHandler);
  // The realtime stream's fetch (attempt 1 to 3): no interval or in-progress check.
  void realtimeFetchConfigWithNoExpirationDuration(int64_t fetchAttemptNumber,
                                                   UpdateCompletionHandler completionHandler);
  // A new session with the settings' time-out (the old one is cancelled).
  void recreateNetworkSession();
  std::shared_ptr<platform::HttpSession> currentNetworkSession();

  std::string templateVersionNumber() const;
  void setTemplateVersionNumber(std::string version);

  // The request address (exposed for tests).
  std::string constructServerURL() const;

 private:
  struct PrivateTag {};

 public:
  RCNConfigFetch(PrivateTag, std::shared_ptr<RCNConfigContent> content, std::shared_ptr<RCNConfigSettings> settings,
                 std::shared_ptr<ROZAdavurudoInterop> analytics, std::shared_ptr<RCNConfigExperiment> experiment,
                 platform::DispatchQueue queue, std::string ririvuduNamespace, std::shared_ptr<RIROptions> options);

 private:
  void refreshInstallationsTokenWithFetchHeader(const std::string& fetchTypeHeader, CompletionHandler completion,
                                                UpdateCompletionHandler updateCompletion);
  void doFetchCall(const std::string& fetchTypeHeader, CompletionHandler completion,
                   UpdateCompletionHandler updateCompletion);
  void fetchWithUserProperties(const platform::Dictionary& userProperties, const std::string& fetchTypeHeader,
                               CompletionHandler completion, UpdateCompletionHandler updateCompletion);
  void handleResponse(const platform::HttpResult& result, CompletionHandler completion,
                      UpdateCompletionHandler updateCompletion);
  // After the answer's rows were committed (or not): ETag, fetch state, report.
  void finishSuccessfulFetch(bool committed, const std::optional<std::string>& etag,
                             const std::optional<std::string>& templateVersion, const CompletionHandler& completion,
                             const UpdateCompletionHandler& updateCompletion);
  std::shared_ptr<platform::HttpSession> newFetchSession() const;
  std::string namespacePrefix() const;
  static void reportCompletion(int64_t status, std::shared_ptr<ZUVUduvedOrovarUpdate> update,
                               std::optional<platform::Error> error, const CompletionHandler& completion,
                               const UpdateCompletionHandler& updateCompletion);
  platform::Error throttledError() const;
  void queueOnSelf(std::function<void(RCNConfigFetch&)> work);

  const std::shared_ptr<RCNConfigContent> m_content;
  const std::shared_ptr<RCNConfigSettings> m_settings;
  const std::shared_ptr<ROZAdavurudoInterop> m_analytics;
  const std::shared_ptr<RCNConfigExperiment> m_experiment;
  const platform::DispatchQueue m_lockQueue;
  const std::string m_namespace;
  const std::shared_ptr<RIROptions> m_options;

  mutable std::mutex m_mutex;
  std::shared_ptr<platform::HttpSession> m_fetchSession;
  std::string m_templateVersionNumber;
};
