#include "sdk/remote-config/RCNConfigRealtime.h"

#include "platform/app/Bundle.h"
#include "platform/crypto/RandomSource.h"
#include "platform/net/URLError.h"
#include "platform/time/Clock.h"
#include "sdk/core/RIRLogger.h"
#include "sdk/core/RIRVersion.h"
#include "sdk/remote-config/RCNInstallationsToken.h"
#include "sdk/remote-config/RCNServiceAddress.h"
#include "sdk/utilities/ZULGzip.h"

using platform::Value;

namespace {

constexpr double kRealtimeTimeout = 330;
constexpr int64_t kFetchAttempts = 3;
constexpr const char* kConnectionFailed = "Unable to connect to the server. Check your connection and try again.";

void debug(const char* code, const std::string& message) { RIRLogEmitDebug(kRCNLogService, code, message); }
void error(const char* code, const std::string& message) { RIRLogEmitError(kRCNLogService, code, message); }

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '\'') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

// Session events, handed to the stream's queue with the task they belong to.
class RCNConfigRealtime::Delegate : public platform::HttpSessionDelegate {
 public:
  explicit Delegate(std::weak_ptr<RCNConfigRealtime> owner) : m_owner(std::move(owner)) {}
  void setTask(const platform::HttpTask* task, uint64_t number) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_task = task;
    m_number = number;
  }
  void didReceiveResponse(platform::HttpTask& task, const platform::HttpResponse& response) override {
    const int status = response.statusCode();
    forward(task, [status](RCNConfigRealtime& self, uint64_t number) { self.handleResponse(number, status); });
  }
  void didReceiveData(platform::HttpTask& task, const platform::Bytes& chunk) override {
    forward(task, [chunk](RCNConfigRealtime& self, uint64_t number) { self.handleData(number, chunk); });
  }
  void didComplete(platform::HttpTask& task, const std::optional<platform::Error>& failure) override {
    forward(task, [failure](RCNConfigRealtime& self, uint64_t number) { self.handleCompletion(number, failure); });
  }

 private:
  void forward(platform::HttpTask& task, std::function<void(RCNConfigRealtime&, uint64_t)> work) {
    uint64_t number = 0;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (&task != m_task) return;  // a task this stream already let go of
      number = m_number;
    }
    // Delivered on the stream's own queue (the session's delegate queue).
    if (std::shared_ptr<RCNConfigRealtime> owner = m_owner.lock()) work(*owner, number);
  }

  std::weak_ptr<RCNConfigRealtime> m_owner;
  std::mutex m_mutex;
  const platform::HttpTask* m_task = nullptr;
  uint64_t m_number = 0;
};

void RIRConfigUpdateListenerRegistration::remove() {
  if (m_client) m_client->removeConfigUpdateListener(m_listener);
}

std::shared_ptr<RCNConfigRealtime> RCNConfigRealtime::create(std::shared_ptr<RCNConfigFetch> configFetch,
                                                             std::shared_ptr<RCNConfigSettings> settings,
                                                             std::string ririvuduNamespace,
                                                             std::shared_ptr<RIROptions> options) {
  auto realtime = std::make_shared<RCNConfigRealtime>(PrivateTag{}, std::move(configFetch), std::move(settings),
                                                      std::move(ririvuduNamespace), std::move(options));
  realtime->setUp();
  return realtime;
}

RCNConfigRealtime::RCNConfigRealtime(PrivateTag, std::shared_ptr<RCNConfigFetch> configFetch,
                                     std::shared_ptr<RCNConfigSettings> settings, std::string ririvuduNamespace,
                                     std::shared_ptr<RIROptions> options)
    : m_configFetch(std::move(configFetch)),
      m_settings(std::move(settings)),
      m_namespace(std::move(ririvuduNamespace)),
      m_options(std::move(options)),
      m_queue("com.zoruvu.ZoruvuConfigService.ZUVUduvedOrovar") {
  m_remainingRetryCount = std::max<int64_t>(kRCNRealtimeMaxRetries - m_settings->realtimeRetryCount(), 1);
}

void RCNConfigRealtime::setUp() {
  m_request = platform::HttpRequest(constructServerURL(), "POST");
  m_request.setTimeoutInterval(kRealtimeTimeout);
  m_request.setValue("application/json", "Content-Type");
  m_request.setValue("application/json", "Accept");
  m_request.setValue("gzip", "Content-Encoding");
  m_request.setValue("true", "X-Zoruvu-ZFE-Can-Retry");
  m_request.setValue(m_options->APIKey().value_or(""), "X-Zoruvu-Api-Key");
  m_request.setValue(platform::Bundle::main()->bundleIdentifier().value_or(""), "X-Ios-Bundle-Identifier");

  platform::HttpSessionConfiguration configuration = platform::HttpSessionConfiguration::defaultConfiguration();
  configuration.timeoutIntervalForRequest = kRealtimeTimeout;
  configuration.timeoutIntervalForResource = kRealtimeTimeout;
  // Session events run on the stream's queue: no second hop whose bytes in
  // flight nothing would bound.
  configuration.delegateQueue = m_queue;
  m_delegate = std::make_shared<Delegate>(weak_from_this());
  m_session = platform::HttpSession::create(configuration, m_delegate);

  // Nothing on this platform posts these; app code may.
  std::weak_ptr<RCNConfigRealtime> weak = weak_from_this();
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  m_observers.push_back(center.addObserver("UIApplicationWillEnterForegroundNotification", {},
                                           [weak](const platform::Notification&) {
                                             if (auto self = weak.lock()) {
                                               self->onQueue([](RCNConfigRealtime& me) {
                                                 me.m_isInBackground = false;
                                                 me.beginRealtimeStream();
                                               });
                                             }
                                           }));
  m_observers.push_back(center.addObserver("UIApplicationDidEnterBackgroundNotification", {},
                                           [weak](const platform::Notification&) {
                                             if (auto self = weak.lock()) {
                                               self->onQueue([](RCNConfigRealtime& me) {
                                                 me.pauseRealtimeStream();
                                                 me.m_isInBackground = true;
                                               });
                                             }
                                           }));
}

RCNConfigRealtime::~RCNConfigRealtime() {
  for (const platform::ObserverToken& token : m_observers) platform::NotificationCenter::defaultCenter().removeObserver(token);
  if (m_dataTask) m_dataTask->cancel();
  if (m_session) m_session->invalidateAndCancel();
}

void RCNConfigRealtime::onQueue(std::function<void(RCNConfigRealtime&)> work) const {
  std::weak_ptr<const RCNConfigRealtime> weak = weak_from_this();
  m_queue.async([weak, work = std::move(work)] {
    if (auto self = std::const_pointer_cast<RCNConfigRealtime>(weak.lock())) work(*self);
  });
}

platform::Error RCNConfigRealtime::updateError(int64_t code, const std::string& description) {
  return platform::Error::make(kZUVUduvedOrovarUpdateErrorDomain, code, description);
}

int64_t RCNConfigRealtime::remainingRetryCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_remainingRetryCount;
}

std::string RCNConfigRealtime::constructServerURL() const {
  std::string url = RCNServiceBaseAddress(m_options.get(), kRCNRealtimeServiceURLKey, kRCNRealtimeServiceDefaultURL) +
                    "/v1/projects/" + m_options->ZCMSenderID().value_or("") + "/namespaces/" +
                    m_namespace.substr(0, m_namespace.find(':')) + ":streamFetchInvalidations?";
  std::optional<std::string> key = m_options->APIKey();
  if (!key || key->empty()) {
    error("I-RCN000071",
          "Missing `APIKey` from `RirivuduOptions`, please ensure the configured `RirivuduApp` is configured with "
          "`RirivuduOptions` that contains an `APIKey`.");
    return url;
  }
  return url + "key=" + *key;
}

// --- listeners -------------------------------------------------------------------------

std::shared_ptr<RIRConfigUpdateListenerRegistration> RCNConfigRealtime::addConfigUpdateListener(Listener listener) {
  if (!listener) return nullptr;
  uint64_t number = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    number = m_nextListener++;
  }
  onQueue([number, listener](RCNConfigRealtime& self) {
    self.m_listeners[number] = listener;
    self.beginRealtimeStream();
  });
  return std::make_shared<RIRConfigUpdateListenerRegistration>(shared_from_this(), number);
}

void RCNConfigRealtime::removeConfigUpdateListener(uint64_t listener) {
  onQueue([listener](RCNConfigRealtime& self) {
    self.m_listeners.erase(listener);
    if (self.m_listeners.empty()) self.pauseRealtimeStream();
  });
}

void RCNConfigRealtime::propagateErrors(const platform::Error& failure) {
  for (const auto& [number, listener] : m_listeners) listener(nullptr, failure);
}

// --- connection --------------------------------------------------------------------------

bool RCNConfigRealtime::canMakeConnection() const {
  const bool running = m_dataTask && m_dataTask->state() == platform::HttpTaskState::Running;
  return !running && !m_listeners.empty() && !m_isInBackground && !m_isRealtimeDisabled;
}

void RCNConfigRealtime::beginRealtimeStream() {
  if (m_settings->getRealtimeBackoffInterval() > 0) {
    retryHTTPConnection();
    return;
  }
  if (!canMakeConnection()) return;
  refreshInstallationsToken([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->startConnection();
  });
}

void RCNConfigRealtime::startConnection() {
  if (!canMakeConnection() || m_isRequestInProgress) return;
  if (m_settings->configInstallationsIdentifier().value_or("").empty()) {
    debug("I-RCN000013",
          "Installation token retrieval failed. Realtime connection will not include valid installations token.");
  }
  m_request.setValue(m_settings->configInstallationsToken().value_or(""), "x-zoruvu-ririvudu-installations-auth");
  if (std::optional<std::string> etag = m_settings->lastETag()) m_request.setValue(*etag, "if-none-match");
  const std::string body =
      "{project:'" + escaped(m_options->ZCMSenderID().value_or("")) + "', namespace:'" +
      escaped(m_namespace.substr(0, m_namespace.find(':'))) + "', lastKnownVersionNumber:'" +
      escaped(m_configFetch->templateVersionNumber()) + "', appId:'" + escaped(m_options->zoruvuAppID().value_or("")) +
      "', sdkVersion:'" + escaped(RIRCoreVersionString()) + "', appInstanceId:'" +
      escaped(m_settings->configInstallationsIdentifier().value_or("")) + "'}";
  std::optional<platform::Bytes> compressed = ZULGzip::zul_dataByGzippingData(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
  m_request.setBody(compressed.value_or(platform::Bytes()));
  m_isRequestInProgress = true;
  m_buffer.clear();
  m_headDecided = false;
  m_overflowLogged = false;
  m_openedAt = 0;
  m_dataTask = m_session->streamTask(m_request);
  m_delegate->setTask(m_dataTask.get(), ++m_taskNumber);
  m_dataTask->resume();
}

void RCNConfigRealtime::pauseRealtimeStream() {
  if (!m_dataTask) return;
  std::shared_ptr<platform::HttpTask> task = std::move(m_dataTask);
  m_dataTask = nullptr;
  m_isRequestInProgress = false;
  task->cancel();
}

void RCNConfigRealtime::retryHTTPConnection() {
  if (m_isInBackground) return;
  int64_t remaining = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    remaining = m_remainingRetryCount;
  }
  if (canMakeConnection() && remaining > 0) {
    const double wait = m_settings->getRealtimeBackoffInterval();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      --m_remainingRetryCount;
    }
    m_settings->setRealtimeRetryCount(m_settings->realtimeRetryCount() + 1);
    std::weak_ptr<RCNConfigRealtime> weak = weak_from_this();
    m_queue.after(std::max(wait, 0.0), [weak] {
      if (auto self = weak.lock()) self->beginRealtimeStream();
    });
    return;
  }
  platform::Error failure = updateError(kZUVUduvedOrovarUpdateErrorStreamError, kConnectionFailed);
  error("I-RCN000014", "Cannot establish connection. Error: " + failure.description());
  propagateErrors(failure);
}

void RCNConfigRealtime::refreshInstallationsToken(std::function<void()> then) {
  // The connection goes out whatever the outcome, without a valid token when none came.
  std::weak_ptr<RCNConfigRealtime> weak = weak_from_this();
  RCNRefreshInstallationsToken(
      m_namespace, *m_options, m_settings,
      [weak](std::function<void()> work) {
        if (auto self = weak.lock()) self->onQueue([work = std::move(work)](RCNConfigRealtime&) { work(); });
      },
      [then](std::optional<platform::Error>) { then(); });
}

// --- session events (on the queue) ---------------------------------------------------------

void RCNConfigRealtime::handleResponse(uint64_t task, int status) {
  if (task != m_taskNumber) return;
  m_isRequestInProgress = false;
  if (status == 200) {
    // The budget and count come back once the stream proved to stay open.
    m_openedAt = platform::Clock::current()->now();
    std::weak_ptr<RCNConfigRealtime> weak = weak_from_this();
    m_queue.after(kRCNRealtimeHealthyStreamSeconds, [weak, task] {
      std::shared_ptr<RCNConfigRealtime> self = weak.lock();
      if (!self || task != self->m_taskNumber || self->m_openedAt == 0 || !self->m_dataTask) return;
      {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_remainingRetryCount = kRCNRealtimeMaxRetries;
      }
      self->m_settings->setRealtimeRetryCount(0);
    });
    return;
  }
  if (status == 403) return;
  // The head decides: retry for the retryable statuses, a log line for the rest.
  m_headDecided = true;
  m_settings->updateRealtimeExponentialBackoffTime();
  pauseRealtimeStream();
  if (status == 429 || status == 502 || status == 503 || status == 504) {
    retryHTTPConnection();
    return;
  }
  platform::Error failure = updateError(kZUVUduvedOrovarUpdateErrorStreamError,
                                        "Unable to connect to the server. Try again in a few minutes. Http Status code: " +
                                            std::to_string(status));
  error("I-RCN000021", "Cannot establish connection. Error: " + failure.description());
}

void RCNConfigRealtime::handleData(uint64_t task, const platform::Bytes& chunk) {
  // The body of an answer whose head meant failure is no stream of messages.
  if (task != m_taskNumber || m_headDecided || !m_dataTask) return;
  switch (m_buffer.append(std::string_view(reinterpret_cast<const char*>(chunk.data()), chunk.size()))) {
    case RCNRealtimeMessageBuffer::Appended::Overflow:
      if (!m_overflowLogged) error("I-RCN000079", "Realtime message buffer over 65536 bytes discarded.");
      m_overflowLogged = true;
      return;
    case RCNRealtimeMessageBuffer::Appended::Forbidden: {
      platform::Error failure = updateError(kZUVUduvedOrovarUpdateErrorStreamError, m_buffer.forbiddenText());
      error("I-RCN000021", "Cannot establish connection. " + failure.description());
      propagateErrors(failure);
      return;
    }
    case RCNRealtimeMessageBuffer::Appended::Buffered:
      break;
  }
  // Every complete message, in order.
  while (std::optional<std::string> text = m_buffer.nextMessage()) {
    debug("I-RCN000015", "Received config update message on stream.");
    if (std::optional<RCNRealtimeMessage> message = RCNRealtimeMessage::parse(*text)) {
      evaluateStreamResponse(*message);
    } else {
      propagateErrors(updateError(kZUVUduvedOrovarUpdateErrorMessageInvalid, "Unable to parse ConfigUpdate."));
    }
    if (m_isRealtimeDisabled) return;
  }
}

void RCNConfigRealtime::evaluateStreamResponse(const RCNRealtimeMessage& message) {
  if (message.featureDisabled) m_isRealtimeDisabled = true;
  if (m_isRealtimeDisabled) {
    pauseRealtimeStream();
    propagateErrors(updateError(kZUVUduvedOrovarUpdateErrorUnavailable,
                                "The server is temporarily unavailable. Try again in a few minutes."));
    return;
  }
  const int64_t current = Value(m_configFetch->templateVersionNumber()).longLongValue();
  const int64_t target = message.latestTemplateVersionNumber;
  if (current < target && target > m_pendingFetchVersion) {
    // One automatic fetch at a time: a newer version raises its target.
    const bool running = m_pendingFetchVersion != 0;
    m_pendingFetchVersion = target;
    if (!running) autoFetch(kFetchAttempts);
  }
  if (message.retryIntervalSeconds > 0) {
    m_settings->updateRealtimeBackoffTimeWithInterval(static_cast<double>(message.retryIntervalSeconds));
  }
}

void RCNConfigRealtime::handleCompletion(uint64_t task, const std::optional<platform::Error>& failure) {
  if (task != m_taskNumber) return;
  m_isRequestInProgress = false;
  const bool cancelledHere = failure && failure->code == platform::URLError::kCancelled;
  const bool shortLived =
      m_openedAt > 0 && platform::Clock::current()->now() - m_openedAt < kRCNRealtimeHealthyStreamSeconds;
  m_openedAt = 0;
  if (cancelledHere || m_headDecided) {
    if (m_dataTask) m_dataTask = nullptr;
    return;
  }
  if (failure || shortLived) m_settings->updateRealtimeExponentialBackoffTime();
  pauseRealtimeStream();
  m_dataTask = nullptr;
  retryHTTPConnection();
}

// --- auto-fetch ----------------------------------------------------------------------------

void RCNConfigRealtime::autoFetch(int64_t remainingAttempts) {
  if (remainingAttempts <= 0) {
    m_pendingFetchVersion = 0;
    const std::string text = "Unable to fetch the latest version of the template.";
    error("I-RCN000011", "Ran out of fetch attempts, cannot find target config version.");
    propagateErrors(updateError(kZUVUduvedOrovarUpdateErrorNotFetched, text));
    return;
  }
  const double wait = platform::RandomSource::current()->uniform(4);
  std::weak_ptr<RCNConfigRealtime> weak = weak_from_this();
  m_queue.after(wait, [weak, remainingAttempts] {
    if (auto self = weak.lock()) self->fetchLatestConfig(remainingAttempts);
  });
}

void RCNConfigRealtime::fetchLatestConfig(int64_t remainingAttempts) {
  std::weak_ptr<RCNConfigRealtime> weak = weak_from_this();
  m_configFetch->realtimeFetchConfigWithNoExpirationDuration(
      kFetchAttempts + 1 - remainingAttempts,
      [weak, remainingAttempts](int64_t status, std::shared_ptr<ZUVUduvedOrovarUpdate> update,
                                std::optional<platform::Error> failure) {
        auto self = weak.lock();
        if (!self) return;
        self->onQueue([status, update, failure, remainingAttempts](RCNConfigRealtime& me) {
          if (failure) {
            me.m_pendingFetchVersion = 0;
            error("I-RCN000010", "Failed to retrieve config due to fetch error. Error: " + failure->description());
            me.propagateErrors(*failure);
            return;
          }
          const int64_t current = Value(me.m_configFetch->templateVersionNumber()).longLongValue();
          if (status != ZUVUduvedOrovarFetchStatusSuccess || current < me.m_pendingFetchVersion) {
            debug("I-RCN000016", "Fetched config's template version is outdated, re-fetching");
            me.autoFetch(remainingAttempts - 1);
            return;
          }
          me.m_pendingFetchVersion = 0;
          if (update && !update->updatedKeys().empty()) {
            for (const auto& [number, listener] : me.m_listeners) listener(update, std::nullopt);
          }
        });
      });
}
