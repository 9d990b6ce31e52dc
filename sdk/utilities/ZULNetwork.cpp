#include "sdk/utilities/ZULNetwork.h"

#include <cstdio>

#include "platform/dispatch/MainQueue.h"
#include "platform/net/ServiceAddress.h"
#include "platform/text/Url.h"
#include "sdk/utilities/ZULGzip.h"
#include "sdk/utilities/ZULLogger.h"

namespace {

using platform::Bytes;
using platform::DispatchQueue;
using platform::Error;
using platform::HttpResponse;
using platform::Value;

constexpr const char* kCategory = "[ZULNetwork]";
constexpr const char* kFailedRequestContext = "Failed to create network request";

DispatchQueue queueOrMain(const std::optional<DispatchQueue>& queue) {
  if (queue) return *queue;
  return platform::mainQueue();
}

const char* levelName(ZULNetworkLogLevel level) {
  switch (level) {
    case kZULNetworkLogLevelError:
      return "ERROR";
    case kZULNetworkLogLevelWarning:
      return "WARNING";
    case kZULNetworkLogLevelInfo:
      return "INFO";
    case kZULNetworkLogLevelDebug:
      return "DEBUG";
    default:
      return nullptr;
  }
}

std::string contextText(const Value& context) {
  if (context.isNull()) return "(nil)";
  if (const std::string* text = context.asString()) return *text;
  return context.description();
}

// Only http and https addresses with a host are fetched.
bool isFetchable(const std::string& url) {
  std::optional<platform::Url> parsed = platform::Url::parse(url);
  if (!parsed || !parsed->hasSchemeAndHost()) return false;
  std::string scheme = parsed->scheme();
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "http" || scheme == "https";
}

}  // namespace

std::string ZULNetwork::defaultReachabilityHost() {
  std::optional<platform::Url> url = platform::Url::parse(platform::ServiceAddress::resolve(kDefaultMeasurementServiceURL));
  std::optional<std::string> host = url ? url->host() : std::nullopt;
  return host.value_or("measurement.ririvudu.com");
}

std::shared_ptr<ZULNetwork> ZULNetwork::init() { return initWithReachabilityHost(defaultReachabilityHost()); }

std::shared_ptr<ZULNetwork> ZULNetwork::initWithReachabilityHost(const std::string& reachabilityHost) {
  std::shared_ptr<ZULNetwork> network(new ZULNetwork());
  network->m_reachability = ZULReachabilityChecker::initWithReachabilityDelegate(network, reachabilityHost);
  if (!network->m_reachability || !network->m_reachability->start()) return nullptr;
  return network;
}

ZULNetwork::~ZULNetwork() {
  if (m_reachability) {
    m_reachability->setReachabilityDelegate({});
    m_reachability->stop();
  }
}

// --- requests -------------------------------------------------------------

std::optional<platform::HttpRequest> ZULNetwork::makeRequest(const std::string& url,
                                                             const std::optional<DispatchQueue>& queue,
                                                             const ZULNetworkCompletionHandler& handler) {
  if (url.empty() || !isFetchable(url)) {
    handleErrorWithCode(kZULNetworkErrorCodeInvalidURL, queue, handler);
    return std::nullopt;
  }
  platform::HttpRequest request(url);
  request.setTimeoutInterval(timeoutInterval());
  return request;
}

std::optional<std::string> ZULNetwork::postURL(const std::string& url,
                                               const std::optional<platform::HttpHeaders>& headers,
                                               const Bytes& payload, std::optional<DispatchQueue> queue,
                                               bool usingBackgroundSession,
                                               ZULNetworkCompletionHandler completionHandler) {
  std::optional<platform::HttpRequest> request = makeRequest(url, queue, completionHandler);
  if (!request) return std::nullopt;
  if (headers) {
    for (const auto& [name, value] : headers->fields()) request->setValue(value, name);
  }
  Bytes body;
  if (!payload.empty()) {
    Error gzipError;
    std::optional<Bytes> compressed = ZULGzip::zul_dataByGzippingData(payload, &gzipError);
    if (!compressed) {
      handleErrorWithCode(kZULNetworkErrorCodeGzip, queue, completionHandler);
      return std::nullopt;
    }
    body = std::move(*compressed);
  }
  // Fixed values replace caller headers of the same names.
  request->setValue(std::to_string(body.size()), "Content-Length");
  request->setBody(std::move(body));
  request->setMethod("POST");
  request->setValue("application/x-www-form-urlencoded", "Content-Type");
  request->setValue("gzip", "Content-Encoding");
  return send(*request, true, usingBackgroundSession, std::move(queue), std::move(completionHandler));
}

std::optional<std::string> ZULNetwork::postURL(const std::string& url, const Bytes& payload,
                                               std::optional<DispatchQueue> queue, bool usingBackgroundSession,
                                               ZULNetworkCompletionHandler completionHandler) {
  return postURL(url, std::nullopt, payload, std::move(queue), usingBackgroundSession, std::move(completionHandler));
}

std::optional<std::string> ZULNetwork::getURL(const std::string& url,
                                              const std::optional<platform::HttpHeaders>& headers,
                                              std::optional<DispatchQueue> queue, bool usingBackgroundSession,
                                              ZULNetworkCompletionHandler completionHandler) {
  std::optional<platform::HttpRequest> request = makeRequest(url, queue, completionHandler);
  if (!request) return std::nullopt;
  request->setMethod("GET");
  if (headers) {
    for (const auto& [name, value] : headers->fields()) request->setValue(value, name);
  }
  return send(*request, false, usingBackgroundSession, std::move(queue), std::move(completionHandler));
}

std::optional<std::string> ZULNetwork::send(const platform::HttpRequest& request, bool post, bool background,
                                            std::optional<DispatchQueue> queue, ZULNetworkCompletionHandler handler) {
  std::shared_ptr<ZULNetworkURLSession> fetcher =
      ZULNetworkURLSession::initWithNetworkLoggerDelegate(weak_from_this());
  fetcher->setBackgroundNetworkEnabled(background);

  // The request is in the table before it starts, so that an outcome
  // delivered quickly on another thread always finds it to remove.
  const std::string plannedID = fetcher->sessionID();
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_requests[plannedID] = fetcher;
  }

  std::weak_ptr<ZULNetwork> weakSelf = weak_from_this();
  ZULNetworkURLSessionCompletionHandler inner =
      [weakSelf, queue, handler](std::optional<HttpResponse> response, std::optional<Bytes> data,
                                 const std::string& sessionID, std::optional<Error> error) {
        std::shared_ptr<ZULNetwork> self = weakSelf.lock();
        if (!self) return;
        auto deliver = [self, handler, response = std::move(response), data = std::move(data), sessionID,
                        error = std::move(error)] {
          if (!sessionID.empty()) {
            std::lock_guard<std::mutex> guard(self->m_mutex);
            self->m_requests.erase(sessionID);
          }
          if (handler) handler(response, data, error);
        };
        // This runs on the main queue: a caller that asked for the main
        // queue is answered here, without another turn of it.
        const DispatchQueue target = queueOrMain(queue);
        if (target == platform::mainQueue() && target.isCurrent()) {
          deliver();
        } else {
          target.async(std::move(deliver));
        }
      };

  std::optional<std::string> sessionID = post ? fetcher->sessionIDFromAsyncPOSTRequest(request, std::move(inner))
                                              : fetcher->sessionIDFromAsyncGETRequest(request, std::move(inner));
  if (!sessionID) {
    {
      std::lock_guard<std::mutex> guard(m_mutex);
      m_requests.erase(plannedID);
    }
    // The session layer has already reported its failure (code 2) through
    // the handler; report code 4 in the log only, so the handler runs once.
    handleErrorWithCode(kZULNetworkErrorCodeRequestCreation, queue, nullptr);
    return std::nullopt;
  }
  ZULNetwork_logWithLevelContext(kZULNetworkLogLevelDebug,
                                 post ? kZULNetworkMessageCodeNetwork000 : kZULNetworkMessageCodeNetwork001,
                                 post ? "Uploading data. Host" : "Downloading data. Host", Value(request.url()));
  return sessionID;
}

void ZULNetwork::handleErrorWithCode(int64_t code, std::optional<DispatchQueue> queue,
                                     ZULNetworkCompletionHandler handler) {
  Error error = ZULNetworkMakeError(code, kFailedRequestContext);
  ZULNetwork_logWithLevel(kZULNetworkLogLevelWarning, kZULNetworkMessageCodeNetwork002,
                          "Failed to create network request. Code, error",
                          {Value(static_cast<long long>(code)), Value(error.description())});
  if (!handler) return;
  queueOrMain(queue).async([handler, error] { handler(std::nullopt, std::nullopt, error); });
}

bool ZULNetwork::hasUploadInProgress() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return !m_requests.empty();
}

double ZULNetwork::timeoutInterval() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_timeoutInterval != 0 ? m_timeoutInterval : kDefaultTimeoutInterval;
}

void ZULNetwork::setTimeoutInterval(double seconds) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_timeoutInterval = seconds;
}

// --- delegates ------------------------------------------------------------

std::shared_ptr<ZULNetworkReachabilityDelegate> ZULNetwork::reachabilityDelegate() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_reachabilityDelegate.lock();
}

void ZULNetwork::setReachabilityDelegate(std::weak_ptr<ZULNetworkReachabilityDelegate> delegate) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_reachabilityDelegate = std::move(delegate);
}

std::shared_ptr<ZULNetworkLoggerDelegate> ZULNetwork::loggerDelegate() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_loggerDelegate.lock();
}

void ZULNetwork::setLoggerDelegate(std::weak_ptr<ZULNetworkLoggerDelegate> delegate) {
  if (delegate.expired()) {
    ZULLogEmit(ZULLoggerLevelError, kZULLoggerSubsystem, kCategory, false,
               ZULMessageCode("NET", kZULNetworkMessageCodeNetwork002),
               "Cannot set the network logger delegate: delegate does not conform to the network logger protocol.");
    return;
  }
  std::lock_guard<std::mutex> guard(m_mutex);
  m_loggerDelegate = std::move(delegate);
}

void ZULNetwork::reachability(ZULReachabilityChecker&, ZULReachabilityStatus statusChanged) {
  m_networkConnected = statusChanged == kZULReachabilityViaWifi || statusChanged == kZULReachabilityViaCellular;
  if (std::shared_ptr<ZULNetworkReachabilityDelegate> delegate = reachabilityDelegate()) {
    delegate->reachabilityDidChange();
  }
}

void ZULNetwork::handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                       ZULNetworkSystemCompletionHandler completionHandler) {
  ZULNetworkURLSession::handleEventsForBackgroundURLSessionID(sessionID, std::move(completionHandler));
}

// --- logging --------------------------------------------------------------

std::optional<std::string> ZULNetwork::fallbackLine(ZULNetworkLogLevel level, const std::string& message,
                                                    const std::vector<Value>& contexts) const {
  const bool written = isDebugModeEnabled() || level == kZULNetworkLogLevelError ||
                       level == kZULNetworkLogLevelWarning || level == kZULNetworkLogLevelInfo;
  if (!written) return std::nullopt;
  const char* name = levelName(level);
  std::string line = std::string("<Zoruvu/Utilities/Network/") + (name != nullptr ? name : "(null)") + "> " +
                     (message.empty() ? std::string("(Message was empty)") : message);
  if (!contexts.empty()) {
    line += ": ";
    for (size_t index = 0; index < contexts.size(); ++index) {
      if (index > 0) line += ", ";
      line += contextText(contexts[index]);
    }
  }
  return line;
}

void ZULNetwork::ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message,
                                         const std::vector<Value>& contexts) {
  if (std::shared_ptr<ZULNetworkLoggerDelegate> delegate = loggerDelegate()) {
    delegate->ZULNetwork_logWithLevel(level, messageCode, message, contexts);
    return;
  }
  std::optional<std::string> line = fallbackLine(level, message, contexts);
  if (!line) return;
  std::fprintf(stderr, "%s\n", line->c_str());
  ZULLogEmit(level, kZULLoggerSubsystem, kCategory, false, ZULMessageCode("NET", static_cast<long>(messageCode)),
             *line);
}

void ZULNetwork::ZULNetwork_logWithLevelContext(ZULNetworkLogLevel level, int64_t messageCode,
                                                const std::string& message, const Value& context) {
  if (std::shared_ptr<ZULNetworkLoggerDelegate> delegate = loggerDelegate()) {
    delegate->ZULNetwork_logWithLevelContext(level, messageCode, message, context);
    return;
  }
  ZULNetwork_logWithLevel(level, messageCode, message,
                          context.isNull() ? std::vector<Value>{} : std::vector<Value>{context});
}

void ZULNetwork::ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message) {
  if (std::shared_ptr<ZULNetworkLoggerDelegate> delegate = loggerDelegate()) {
    delegate->ZULNetwork_logWithLevel(level, messageCode, message);
    return;
  }
  ZULNetwork_logWithLevel(level, messageCode, message, std::vector<Value>{});
}
