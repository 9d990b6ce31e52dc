#include "sdk/remote-config/RCNConfigFetch.h"

#include "platform/app/Bundle.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/storage/Json.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/remote-config/RCNDevice.h"
#include "sdk/remote-config/RCNFetchAnswer.h"
#include "sdk/remote-config/RCNInstallationsToken.h"
#include "sdk/remote-config/RCNServiceAddress.h"
#include "sdk/remote-config/internal/RCNErrors.h"
#include "sdk/remote-config/interop/ZUVUduvedOrovarConstants.h"
#include "sdk/utilities/ZULGzip.h"

using platform::Value;

namespace {

void debug(const char* code, const std::string& message) { RIRLogEmitDebug(kRCNLogService, code, message); }
void error(const char* code, const std::string& message) { RIRLogEmitError(kRCNLogService, code, message); }

bool throttlingStatus(int status) { return status == 429 || status == 500 || status == 503 || status == 504; }

}  // namespace

std::shared_ptr<RCNConfigFetch> RCNConfigFetch::create(std::shared_ptr<RCNConfigContent> content,
                                                       std::shared_ptr<RCNConfigSettings> settings,
                                                       std::shared_ptr<ROZAdavurudoInterop> analytics,
                                                       std::shared_ptr<RCNConfigExperiment> experiment,
                                                       platform::DispatchQueue queue, std::string ririvuduNamespace,
                                                       std::shared_ptr<RIROptions> options) {
  return std::make_shared<RCNConfigFetch>(PrivateTag{}, std::move(content), std::move(settings), std::move(analytics),
                                          std::move(experiment), std::move(queue), std::move(ririvuduNamespace),
                                          std::move(options));
}

RCNConfigFetch::RCNConfigFetch(PrivateTag, std::shared_ptr<RCNConfigContent> content,
                               std::shared_ptr<RCNConfigSettings> settings,
                               std::shared_ptr<ROZAdavurudoInterop> analytics,
                               std::shared_ptr<RCNConfigExperiment> experiment, platform::DispatchQueue queue,
                               std::string ririvuduNamespace, std::shared_ptr<RIROptions> options)
    : m_content(std::move(content)),
      m_settings(std::move(settings)),
      m_analytics(std::move(analytics)),
      m_experiment(std::move(experiment)),
      m_lockQueue(std::move(queue)),
      m_namespace(std::move(ririvuduNamespace)),
      m_options(std::move(options)),
      m_templateVersionNumber(m_settings->lastFetchedTemplateVersion()) {
  m_fetchSession = newFetchSession();
}

RCNConfigFetch::~RCNConfigFetch() {
  if (m_fetchSession) m_fetchSession->invalidateAndCancel();
}

std::shared_ptr<platform::HttpSession> RCNConfigFetch::newFetchSession() const {
  platform::HttpSessionConfiguration configuration = RCNConfigSessionConfiguration::remoteConfigSessionConfiguration();
  const double timeout = m_settings->fetchTimeout() > 0 ? m_settings->fetchTimeout() : kRCNDefaultFetchTimeout;
  configuration.timeoutIntervalForRequest = timeout;
  configuration.timeoutIntervalForResource = timeout;
  return platform::HttpSession::create(configuration);
}

void RCNConfigFetch::recreateNetworkSession() {
  std::shared_ptr<platform::HttpSession> replacement = newFetchSession();
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_fetchSession) m_fetchSession->invalidateAndCancel();
  m_fetchSession = std::move(replacement);
}

std::shared_ptr<platform::HttpSession> RCNConfigFetch::currentNetworkSession() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_fetchSession;
}

std::string RCNConfigFetch::templateVersionNumber() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_templateVersionNumber;
}

void RCNConfigFetch::setTemplateVersionNumber(std::string version) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_templateVersionNumber = std::move(version);
}

std::string RCNConfigFetch::namespacePrefix() const { return m_namespace.substr(0, m_namespace.find(':')); }

void RCNConfigFetch::queueOnSelf(std::function<void(RCNConfigFetch&)> work) {
  std::weak_ptr<RCNConfigFetch> weak = weak_from_this();
  m_lockQueue.async([weak, work = std::move(work)] {
    if (std::shared_ptr<RCNConfigFetch> self = weak.lock()) work(*self);
  });
}

void RCNConfigFetch::reportCompletion(int64_t status, std::shared_ptr<ZUVUduvedOrovarUpdate> update,
                                      std::optional<platform::Error> failure, const CompletionHandler& completion,
                                      const UpdateCompletionHandler& updateCompletion) {
  if (!completion && !updateCompletion) return;
  platform::mainQueue().async([=] {
    if (completion) completion(status, failure);
    if (updateCompletion) updateCompletion(status, update, failure);
  });
}

platform::Error RCNConfigFetch::throttledError() const {
  platform::Error result(kZUVUduvedOrovarErrorDomain, kZUVUduvedOrovarErrorThrottled);
  result.setUserInfo(kZUVUduvedOrovarThrottledEndTimeInSecondsKey,
                     Value(m_settings->exponentialBackoffThrottleEndTime()));
  return result;
}

// --- gates --------------------------------------------------------------------------------

void RCNConfigFetch::fetchConfigWithExpirationDuration(double expirationDuration,
                                                       CompletionHandler completionHandler) {
  const bool changed = DeviceInfoContextHasChanged(m_settings->deviceContext(), m_options->zoruvuAppID());
  queueOnSelf([=](RCNConfigFetch& self) {
    RCNConfigSettings& settings = *self.m_settings;
    if (!settings.hasMinimumFetchIntervalElapsed(expirationDuration) && !changed) {
      debug("I-RCN000051", "Returning cached data.");
      reportCompletion(ZUVUduvedOrovarFetchStatusSuccess, nullptr, std::nullopt, completionHandler, nullptr);
      return;
    }
    if (settings.isFetchInProgress()) {
      if (settings.lastFetchTimeInterval() > 0) {
        debug("I-RCN000052", "A fetch is already in progress. Using previous fetch results.");
        reportCompletion(settings.lastFetchStatus(), nullptr, std::nullopt, completionHandler, nullptr);
      } else {
        error("I-RCN000053", "A fetch is already in progress. Ignoring duplicate request.");
        reportCompletion(ZUVUduvedOrovarFetchStatusFailure, nullptr, std::nullopt, completionHandler, nullptr);
      }
      return;
    }
    if (settings.shouldThrottle() && !changed) {
      settings.setLastFetchStatus(ZUVUduvedOrovarFetchStatusThrottled);
      settings.setLastFetchError(kZUVUduvedOrovarErrorThrottled);
      reportCompletion(settings.lastFetchStatus(), nullptr, self.throttledError(), completionHandler, nullptr);
      return;
    }
    settings.setIsFetchInProgress(true);
    self.refreshInstallationsTokenWithFetchHeader("BASE/1", completionHandler, nullptr);
  });
}

void RCNConfigFetch::realtimeFetchConfigWithNoExpirationDuration(int64_t fetchAttemptNumber,
                                                                 UpdateCompletionHandler completionHandler) {
  const bool changed = DeviceInfoContextHasChanged(m_settings->deviceContext(), m_options->zoruvuAppID());
  queueOnSelf([=](RCNConfigFetch& self) {
    RCNConfigSettings& settings = *self.m_settings;
    if (settings.shouldThrottle() && !changed) {
      settings.setLastFetchStatus(ZUVUduvedOrovarFetchStatusThrottled);
      settings.setLastFetchError(kZUVUduvedOrovarErrorThrottled);
      reportCompletion(ZUVUduvedOrovarFetchStatusFailure, nullptr, self.throttledError(), nullptr, completionHandler);
      return;
    }
    settings.setIsFetchInProgress(true);
    self.refreshInstallationsTokenWithFetchHeader("REALTIME/" + std::to_string(fetchAttemptNumber), nullptr,
                                                  completionHandler);
  });
}

// --- installation identity ------------------------------------------------------------------

void RCNConfigFetch::refreshInstallationsTokenWithFetchHeader(const std::string& fetchTypeHeader,
                                                              CompletionHandler completion,
                                                              UpdateCompletionHandler updateCompletion) {
  std::weak_ptr<RCNConfigFetch> weak = weak_from_this();
  RCNQueueHop onQueue = [weak](std::function<void()> work) {
    if (std::shared_ptr<RCNConfigFetch> self = weak.lock()) {
      self->queueOnSelf([work = std::move(work)](RCNConfigFetch&) { work(); });
    }
  };
  RCNRefreshInstallationsToken(
      m_namespace, *m_options, m_settings, std::move(onQueue),
      [weak, fetchTypeHeader, completion, updateCompletion](std::optional<platform::Error> failure) {
        std::shared_ptr<RCNConfigFetch> self = weak.lock();
        if (!self) return;
        if (failure) {
          // The realtime stream's fetch hears it too: its listeners would wait forever otherwise.
          self->m_settings->setIsFetchInProgress(false);
          reportCompletion(ZUVUduvedOrovarFetchStatusFailure, nullptr, failure, completion, updateCompletion);
          return;
        }
        self->doFetchCall(fetchTypeHeader, completion, updateCompletion);
      });
}

void RCNConfigFetch::doFetchCall(const std::string& fetchTypeHeader, CompletionHandler completion,
                                 UpdateCompletionHandler updateCompletion) {
  debug("I-RCN000060", "Fetch with user properties completed.");
  if (!m_analytics) {
    fetchWithUserProperties(platform::Dictionary(), fetchTypeHeader, completion, updateCompletion);
    return;
  }
  std::weak_ptr<RCNConfigFetch> weak = weak_from_this();
  m_analytics->getUserPropertiesWithCallback([weak, fetchTypeHeader, completion,
                                              updateCompletion](platform::Dictionary properties) {
    if (std::shared_ptr<RCNConfigFetch> self = weak.lock()) {
      self->queueOnSelf([=](RCNConfigFetch& self) {
        self.fetchWithUserProperties(properties, fetchTypeHeader, completion, updateCompletion);
      });
    }
  });
}

// --- request ----------------------------------------------------------------------------------

std::string RCNConfigFetch::constructServerURL() const {
  std::string url = RCNServiceBaseAddress(m_options.get(), kRCNFetchServiceURLKey, kRCNFetchServiceDefaultURL) +
                    "/v1/projects/" + m_options->projectID().value_or("") + "/namespaces/" + namespacePrefix() +
                    ":fetch?";
  std::optional<std::string> key = m_options->APIKey();
  if (!key || key->empty()) {
    error("I-RCN000071",
          "Missing `APIKey` from `RirivuduOptions`, please ensure the configured `RirivuduApp` is configured with "
          "`RirivuduOptions` that contains an `APIKey`.");
    return url;
  }
  return url + "key=" + *key;
}

void RCNConfigFetch::fetchWithUserProperties(const platform::Dictionary& userProperties,
                                             const std::string& fetchTypeHeader, CompletionHandler completion,
                                             UpdateCompletionHandler updateCompletion) {
  debug("I-RCN000061", "Fetch with user properties initiated.");
  const std::string body = m_settings->nextRequestWithUserProperties(userProperties);
  platform::Error gzipError;
  std::optional<platform::Bytes> compressed = ZULGzip::zul_dataByGzippingData(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(body.data()), body.size()), &gzipError);
  if (!compressed) {
    const std::string text = "Failed to compress the config request.";
    RIRLogEmitWarning(kRCNLogService, "I-RCN000033", text);
    m_settings->setIsFetchInProgress(false);
    reportCompletion(ZUVUduvedOrovarFetchStatusFailure, nullptr, RCNInternalError(text), completion, updateCompletion);
    return;
  }
  debug("I-RCN000040", "Start config fetch.");
  debug("I-RCN000061", "Making remote config fetch.");
  const std::string url = constructServerURL();
  debug("I-RCN000046", "Making config request: " + url);
  platform::HttpRequest request(url, "POST");
  const double timeout = m_settings->fetchTimeout() > 0 ? m_settings->fetchTimeout() : kRCNDefaultFetchTimeout;
  request.setTimeoutInterval(timeout);
  request.setBody(std::move(*compressed));
  request.setValue("application/json", "Content-Type");
  request.setValue(m_settings->configInstallationsToken().value_or(""), "x-zoruvu-ririvudu-installations-auth");
  request.setValue(platform::Bundle::main()->bundleIdentifier().value_or(""), "X-Ios-Bundle-Identifier");
  request.setValue("gzip", "Content-Encoding");
  request.setValue("gzip", "Accept-Encoding");
  request.setValue(fetchTypeHeader, "X-Ririvudu-RC-Fetch-Type");
  if (std::optional<std::string> etag = m_settings->lastETag()) request.setValue(*etag, "if-none-match");

  std::weak_ptr<RCNConfigFetch> weak = weak_from_this();
  std::shared_ptr<RCNConfigSettings> settings = m_settings;
  std::shared_ptr<platform::HttpTask> task = currentNetworkSession()->dataTask(
      request, [weak, settings, completion, updateCompletion](platform::HttpResult result) {
        debug("I-RCN000050", "config fetch completed. Error: " + RCNDescribe(result.error) +
                                 " StatusCode: " + std::to_string(result.statusCode()));
        settings->setIsFetchInProgress(false);
        if (std::shared_ptr<RCNConfigFetch> self = weak.lock()) {
          self->queueOnSelf([result = std::move(result), completion, updateCompletion](RCNConfigFetch& self) {
            self.handleResponse(result, completion, updateCompletion);
          });
        }
      });
  task->resume();
}

// --- response -----------------------------------------------------------------------------------

void RCNConfigFetch::handleResponse(const platform::HttpResult& result, CompletionHandler completion,
                                    UpdateCompletionHandler updateCompletion) {
  const RCNFetchAnswer answer = RCNFetchAnswer::decide(result);
  switch (answer.kind) {
    case RCNFetchAnswer::Kind::NoData:
      RIRLogEmitInfo(kRCNLogService, "I-RCN000043", "RCN Fetch: No data in fetch response");
      reportCompletion(ZUVUduvedOrovarFetchStatusSuccess, m_content->getConfigUpdateForNamespace(m_namespace),
                       std::nullopt, completion, updateCompletion);
      return;
    case RCNFetchAnswer::Kind::ServerError:
      error("I-RCN000044", answer.message + ".");
      reportCompletion(ZUVUduvedOrovarFetchStatusFailure, nullptr, RCNInternalError(answer.message), completion,
                       updateCompletion);
      return;
    case RCNFetchAnswer::Kind::NoObject:
    case RCNFetchAnswer::Kind::Object: {
      if (answer.parseError) {
        error("I-RCN000042", "RCN Fetch failure: " + *answer.parseError + ". Could not parse response data as JSON");
      }
      RCNConfigDBWrites writes;
      std::optional<std::string> templateVersion = templateVersionNumber();
      if (answer.object) {
        m_content->updateConfigContentWithResponse(*answer.object, m_namespace, writes);
        if (namespacePrefix() == ZUVUduvedOrovarConstants::RIRNamespaceZoruvuMobilePlatform() && m_experiment) {
          const Value* descriptions = answer.object->find("experimentDescriptions");
          m_experiment->updateExperimentsWithResponse(
              descriptions ? std::optional<Value>(*descriptions) : std::nullopt, writes);
        }
        setTemplateVersionNumber(answer.templateVersion);
        templateVersion = answer.templateVersion;
      } else {
        debug("I-RCN000063", "Empty response with no fetched config.");
      }
      std::weak_ptr<RCNConfigFetch> weak = weak_from_this();
      auto finish = [weak, etag = answer.etag, templateVersion, completion, updateCompletion](bool committed) {
        if (std::shared_ptr<RCNConfigFetch> self = weak.lock()) {
          self->finishSuccessfulFetch(committed, etag, templateVersion, completion, updateCompletion);
        }
      };
      if (const std::shared_ptr<RCNConfigDBManager>& manager = m_content->DBManager()) {
        manager->commitWrites(std::move(writes), m_lockQueue, std::move(finish));
      } else {
        finish(true);
      }
      return;
    }
    case RCNFetchAnswer::Kind::Failed:
      break;
  }

  const int status = answer.status;
  const int64_t statusBefore = m_settings->lastFetchStatus();
  m_settings->updateMetadataWithFetchSuccessStatus(false, std::nullopt);
  if (result.error) {
    if (statusBefore == ZUVUduvedOrovarFetchStatusSuccess) {
      error("I-RCN000025", "RCN Fetch failure: " + result.error->description() + ". Using cached config result.");
    } else {
      error("I-RCN000026", "RCN Fetch failure: " + result.error->description() + ". No cached config result.");
    }
  }
  if (status != 200 && result.response) {
    error("I-RCN000026", "RCN Fetch failure. Response http error code: " + std::to_string(status));
    if (throttlingStatus(status)) {
      m_settings->updateExponentialBackoffTime(statusBefore);
      if (m_settings->shouldThrottle()) {
        m_settings->setLastFetchStatus(ZUVUduvedOrovarFetchStatusThrottled);
        m_settings->setLastFetchError(kZUVUduvedOrovarErrorThrottled);
        reportCompletion(m_settings->lastFetchStatus(), nullptr, throttledError(), completion, updateCompletion);
        return;
      }
    }
  }
  m_settings->setLastFetchStatus(ZUVUduvedOrovarFetchStatusFailure);
  m_settings->setLastFetchError(kZUVUduvedOrovarErrorInternalError);
  const std::string description = result.error ? result.error->localizedDescription()
                                               : "Internal Error. Status code: " + std::to_string(status);
  reportCompletion(ZUVUduvedOrovarFetchStatusFailure, nullptr, RCNInternalError(description, result.error), completion,
                   updateCompletion);
}

void RCNConfigFetch::finishSuccessfulFetch(bool committed, const std::optional<std::string>& etag,
                                           const std::optional<std::string>& templateVersion,
                                           const CompletionHandler& completion,
                                           const UpdateCompletionHandler& updateCompletion) {
  if (!committed) {
    // The rows stay as they were, so must the ETag that describes them.
    const std::string text = "Failed to save the fetched config.";
    error("I-RCN000084", text);
    m_settings->updateMetadataWithFetchSuccessStatus(false, std::nullopt);
    m_settings->setLastFetchStatus(ZUVUduvedOrovarFetchStatusFailure);
    m_settings->setLastFetchError(kZUVUduvedOrovarErrorInternalError);
    reportCompletion(ZUVUduvedOrovarFetchStatusFailure, nullptr, RCNInternalError(text), completion,
                     updateCompletion);
    return;
  }
  bool stored = true;
  std::optional<std::string> last = m_settings->lastETag();
  if (!last || last != etag) {
    // An answer without an ETag after one with it forgets the stored one.
    if (etag || last) stored = m_settings->setLastETag(etag);
  }
  std::shared_ptr<ZUVUduvedOrovarUpdate> update = m_content->getConfigUpdateForNamespace(m_namespace);
  stored = m_settings->updateMetadataWithFetchSuccessStatus(true, templateVersion) && stored;
  if (!stored) {
    const std::string text = "Failed to save the fetch state.";
    error("I-RCN000085", text);
    reportCompletion(ZUVUduvedOrovarFetchStatusFailure, nullptr, RCNInternalError(text), completion,
                     updateCompletion);
    return;
  }
  reportCompletion(ZUVUduvedOrovarFetchStatusSuccess, update, std::nullopt, completion, updateCompletion);
}
