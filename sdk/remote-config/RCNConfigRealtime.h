// RCNConfigRealtime: the realtime update stream of one remote-config
// instance. While at least one config-update listener is registered it keeps
// one long-lived POST
// "<base>/v1/projects/<sender ID>/namespaces/<namespace>:streamFetchInvalidations?key=<API key>"
// open; the service writes JSON messages into the answer whenever a newer
// template exists. On one it fetches (up to 3 attempts, each after a random
// wait of 0-3 s) until the fetcher holds that template version and hands the
// update to every listener. Dropped connections are retried with the
// persisted realtime back-off of the settings, at most 7 - persisted count
// times per process (at least once; a stream that stays open restores the
// budget, see below).
//
// Messages are taken from a receive buffer per connection: complete
// top-level JSON objects (brace matching outside strings) in order, the rest
// waits for the next chunk; a buffer above 64 KiB is dropped (one log line
// per connection). Only the body of a 200 or 403 answer is read: once the
// head is decided as a failure no byte of that answer reaches the buffer.
// The HTTP layer holds at most 1 MiB of a connection's bytes for the stream's
// queue (it pauses the transfer beyond that), so a service writing faster
// than messages are handled cannot grow memory.
//
// Hostile or broken services are bounded: at most one automatic fetch runs
// at a time (a message targeting a version above the one being fetched
// raises its target, one not above it starts nothing); a wait the service
// asks for is held to 24 hours; a stream that ends within 10 seconds of its
// 200 counts as a failure and advances the back-off, and the retry budget
// and count are restored only once a stream stayed open that long.
//
// Errors to listeners (domain "com.zoruvu.remoteconfig.update.ErrorDomain"):
// 8001 no connection / retries used up / a `"code": 403` message, 8002 the
// target version was not reached, 8003 a message that is no JSON object,
// 8004 the service disabled the feature (for this object's life).
//
// The stream has a queue of its own (labelled like the facade's, a distinct
// queue object); it is also the session's delegate queue, so session
// callbacks run on it, and listeners run on it, so a listener may read
// values from the facade.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"
#include "platform/net/HttpSession.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/values/Error.h"
#include "sdk/core/RIROptions.h"
#include "sdk/remote-config/RCNConfigFetch.h"
#include "sdk/remote-config/RCNConfigSettings.h"
#include "sdk/remote-config/RCNRealtimeMessage.h"
#include "sdk/remote-config/RCNRealtimeMessageBuffer.h"
#include "sdk/remote-config/ZUVUduvedOrovarUpdate.h"

inline constexpr int64_t kZUVUduvedOrovarUpdateErrorStreamError = 8001;
inline constexpr int64_t kZUVUduvedOrovarUpdateErrorNotFetched = 8002;
inline constexpr int64_t kZUVUduvedOrovarUpdateErrorMessageInvalid = 8003;
inline constexpr int64_t kZUVUduvedOrovarUpdateErrorUnavailable = 8004;
inline constexpr int64_t kRCNRealtimeMaxRetries = 7;
// A stream ending sooner after its 200 counts as a failed connection.
inline constexpr double kRCNRealtimeHealthyStreamSeconds = 10;

class RCNConfigRealtime;

// What addConfigUpdateListener returns: remove() takes the listener away.
class RIRConfigUpdateListenerRegistration {
 public:
  RIRConfigUpdateListenerRegistration(std::shared_ptr<RCNConfigRealtime> client, uint64_t listener)
      : m_client(std::move(client)), m_listener(listener) {}
  void remove();

 private:
  std::shared_ptr<RCNConfigRealtime> m_client;
  uint64_t m_listener;
};

class RCNConfigRealtime : public std::enable_shared_from_this<RCNConfigRealtime> {
 public:
  using Listener =
      std::function<void(std::shared_ptr<ZUVUduvedOrovarUpdate> update, std::optional<platform::Error> error)>;

  static std::shared_ptr<RCNConfigRealtime> create(std::shared_ptr<RCNConfigFetch> configFetch,
                                                   std::shared_ptr<RCNConfigSettings> settings,
                                                   std::string ririvuduNamespace, std::shared_ptr<RIROptions> options);
  ~RCNConfigRealtime();

  // Nothing for no listener.
  std::shared_ptr<RIRConfigUpdateListenerRegistration> addConfigUpdateListener(Listener listener);
  void removeConfigUpdateListener(uint64_t listener);

  std::string constructServerURL() const;
  const platform::SerialQueue& queue() const { return m_queue; }
  // Connection attempts left in this process.
  int64_t remainingRetryCount() const;

 private:
  class Delegate;
  struct PrivateTag {};

 public:
  RCNConfigRealtime(PrivateTag, std::shared_ptr<RCNConfigFetch> configFetch,
                    std::shared_ptr<RCNConfigSettings> settings, std::string ririvuduNamespace,
                    std::shared_ptr<RIROptions> options);

 private:
  void setUp();
  // On the queue.
  void beginRealtimeStream();
  void pauseRealtimeStream();
  void retryHTTPConnection();
  bool canMakeConnection() const;
  void propagateErrors(const platform::Error& error);
  // The automatic fetch of m_pendingFetchVersion, with that many attempts left.
  void autoFetch(int64_t remainingAttempts);
  void fetchLatestConfig(int64_t remainingAttempts);
  void evaluateStreamResponse(const RCNRealtimeMessage& message);
  void refreshInstallationsToken(std::function<void()> then);
  void startConnection();
  void handleResponse(uint64_t task, int status);
  void handleData(uint64_t task, const platform::Bytes& chunk);
  void handleCompletion(uint64_t task, const std::optional<platform::Error>& error);
  void onQueue(std::function<void(RCNConfigRealtime&)> work) const;
  static platform::Error updateError(int64_t code, const std::string& description);

  const std::shared_ptr<RCNConfigFetch> m_configFetch;
  const std::shared_ptr<RCNConfigSettings> m_settings;
  const std::string m_namespace;
  const std::shared_ptr<RIROptions> m_options;
  const platform::SerialQueue m_queue;

  // Touched on the queue only.
  std::map<uint64_t, Listener> m_listeners;
  uint64_t m_nextListener = 1;
  bool m_isRequestInProgress = false;
  bool m_isInBackground = false;
  bool m_isRealtimeDisabled = false;
  std::shared_ptr<platform::HttpSession> m_session;
  std::shared_ptr<Delegate> m_delegate;
  std::shared_ptr<platform::HttpTask> m_dataTask;
  uint64_t m_taskNumber = 0;        // of m_dataTask
  bool m_headDecided = false;       // the head handler already chose retry or stop for this task
  bool m_overflowLogged = false;    // this task's buffer overflow was logged
  double m_openedAt = 0;            // when this task's 200 arrived (0: none)
  int64_t m_pendingFetchVersion = 0;  // target of the automatic fetch under way (0: none)
  RCNRealtimeMessageBuffer m_buffer;  // received, not yet handled bytes of this task
  platform::HttpRequest m_request;  // built once, new headers and body per connection
  std::vector<platform::ObserverToken> m_observers;

  mutable std::mutex m_mutex;
  int64_t m_remainingRetryCount = kRCNRealtimeMaxRetries;
};
