// ZULNetwork: the SDK's small HTTP client. It sends a gzip-compressed POST or
// a plain GET through ZULNetworkURLSession (one per request), keeps a table
// of the requests in flight, watches the reachability of one host and
// reports each status change to its reachability delegate, and routes its
// diagnostics to its logger delegate or, without one, to standard error and
// the utilities logger (category "[ZULNetwork]", codes "I-NET%06ld").
//
// Completion handlers receive (response, body, error); on failure response
// and body are none. Each request's handler runs exactly once, on the given
// queue (the main queue when none), never inside the call that made the
// request; a transfer outcome reaches it through the main queue, in the same
// turn when that is the queue asked for:
//  - failures found before the transfer starts: code 1 (empty URL, or an
//    address that is not http or https with a host), 3 (gzip failed),
//    4 (no request could be made), plus a warning line (900002);
//  - a transfer that could not start: code 2, reported once;
//  - a transfer outcome: any HTTP status with its body and no error, or the
//    transport error (NSURLErrorDomain), or code 5 for an empty outcome.
// When the ZULNetwork is gone before the outcome arrives, the handler is not
// called.
//
// The connected flag starts NO and follows the checker's reports: YES for
// status 2 or 3. Reports and reachabilityDidChange arrive on the main queue.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/net/HttpHeaders.h"
#include "platform/net/HttpResponse.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"
#include "sdk/utilities/ZULNetworkConstants.h"
#include "sdk/utilities/ZULNetworkLoggerDelegate.h"
#include "sdk/utilities/ZULNetworkURLSession.h"
#include "sdk/utilities/ZULReachabilityChecker.h"

using ZULNetworkCompletionHandler = std::function<void(
    std::optional<platform::HttpResponse> response, std::optional<platform::Bytes> data,
    std::optional<platform::Error> error)>;

class ZULNetworkReachabilityDelegate {
 public:
  virtual ~ZULNetworkReachabilityDelegate() = default;
  // On the main queue, after the connected flag was updated.
  virtual void reachabilityDidChange() = 0;
};

class ZULNetwork : public ZULReachabilityDelegate,
                   public ZULNetworkLoggerDelegate,
                   public std::enable_shared_from_this<ZULNetwork> {
 public:
  // The measurement service's host (its scheme, host and port follow
  // APP_SERVICES_URL like every service address).
  static constexpr const char* kDefaultMeasurementServiceURL = "https://measurement.ririvudu.com";
  static std::string defaultReachabilityHost();
  static constexpr double kDefaultTimeoutInterval = 60.0;

  // initWithReachabilityHost with the default host.
  static std::shared_ptr<ZULNetwork> init();
  // nullptr when the checker cannot be made (empty host) or cannot start.
  static std::shared_ptr<ZULNetwork> initWithReachabilityHost(const std::string& reachabilityHost);
  ~ZULNetwork() override;
  ZULNetwork(const ZULNetwork&) = delete;
  ZULNetwork& operator=(const ZULNetwork&) = delete;

  // Answers the session ID, or none (the handler then gets the error).
  // queue: none = the main queue.
  std::optional<std::string> postURL(const std::string& url, const std::optional<platform::HttpHeaders>& headers,
                                     const platform::Bytes& payload, std::optional<platform::DispatchQueue> queue,
                                     bool usingBackgroundSession, ZULNetworkCompletionHandler completionHandler);
  std::optional<std::string> postURL(const std::string& url, const platform::Bytes& payload,
                                     std::optional<platform::DispatchQueue> queue, bool usingBackgroundSession,
                                     ZULNetworkCompletionHandler completionHandler);
  std::optional<std::string> getURL(const std::string& url, const std::optional<platform::HttpHeaders>& headers,
                                    std::optional<platform::DispatchQueue> queue, bool usingBackgroundSession,
                                    ZULNetworkCompletionHandler completionHandler);

  bool hasUploadInProgress() const;
  bool isNetworkConnected() const { return m_networkConnected.load(); }

  std::shared_ptr<ZULNetworkReachabilityDelegate> reachabilityDelegate() const;
  void setReachabilityDelegate(std::weak_ptr<ZULNetworkReachabilityDelegate> delegate);
  std::shared_ptr<ZULNetworkLoggerDelegate> loggerDelegate() const;
  // An empty (or expired) delegate is refused with a level-3 line (900002)
  // and the previous delegate stays.
  void setLoggerDelegate(std::weak_ptr<ZULNetworkLoggerDelegate> delegate);
  bool isDebugModeEnabled() const { return m_isDebugModeEnabled.load(); }
  void setIsDebugModeEnabled(bool enabled) { m_isDebugModeEnabled = enabled; }
  // Seconds; 0 means 60.
  double timeoutInterval() const;
  void setTimeoutInterval(double seconds);

  // Makes the error of `code`, logs it (900002, level 4) and, with a handler,
  // submits handler(none, none, error) to the queue.
  void handleErrorWithCode(int64_t code, std::optional<platform::DispatchQueue> queue,
                           ZULNetworkCompletionHandler handler);

  // ZULReachabilityDelegate
  void reachability(ZULReachabilityChecker& reachability, ZULReachabilityStatus statusChanged) override;

  // ZULNetworkLoggerDelegate
  void ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message,
                               const std::vector<platform::Value>& contexts) override;
  void ZULNetwork_logWithLevelContext(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message,
                                      const platform::Value& context) override;
  void ZULNetwork_logWithLevel(ZULNetworkLogLevel level, int64_t messageCode, const std::string& message) override;

  static void handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                    ZULNetworkSystemCompletionHandler completionHandler);

  // The fallback log line (without a logger delegate); none when filtered out.
  std::optional<std::string> fallbackLine(ZULNetworkLogLevel level, const std::string& message,
                                          const std::vector<platform::Value>& contexts) const;

 private:
  ZULNetwork() = default;

  // Steps 1-3 of both methods: the request, or none after reporting the error.
  std::optional<platform::HttpRequest> makeRequest(const std::string& url,
                                                   const std::optional<platform::DispatchQueue>& queue,
                                                   const ZULNetworkCompletionHandler& handler);
  std::optional<std::string> send(const platform::HttpRequest& request, bool post, bool background,
                                  std::optional<platform::DispatchQueue> queue, ZULNetworkCompletionHandler handler);

  std::unique_ptr<ZULReachabilityChecker> m_reachability;
  mutable std::mutex m_mutex;
  std::map<std::string, std::shared_ptr<ZULNetworkURLSession>> m_requests;
  std::weak_ptr<ZULNetworkReachabilityDelegate> m_reachabilityDelegate;
  std::weak_ptr<ZULNetworkLoggerDelegate> m_loggerDelegate;
  double m_timeoutInterval = kDefaultTimeoutInterval;
  std::atomic<bool> m_networkConnected{false};
  std::atomic<bool> m_isDebugModeEnabled{false};
};
