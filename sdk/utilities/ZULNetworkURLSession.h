// ZULNetworkURLSession: carries one request of the HTTP helper (ZULNetwork)
// over platform::HttpSession. One object per request.
//
// POST: stale spool files (older or newer than 3600 s by their creation
// date) are removed first; with backgroundNetworkEnabled the body is spooled
// atomically to "<Application Support>/ZUL/Network/ZULNetworkTemporaryDirectory/
// ZULUpload_temp_<session ID>" and uploaded from there (a failed spool is
// logged, 901000, and the body goes from memory instead). GET: a download
// task, the body read back from its file.
// Redirects answered with 300, 301, 302 or 307 are refused (the redirect
// answer itself completes the request); every other one is followed.
// An HTTP status is never an error: the handler gets the response and its
// body. No response: the transport error (NSURLErrorDomain), or code 5 when
// there was none. The handler runs exactly once, on the main queue and never
// inside the call that started the request (an outcome runs it within the
// main-queue task that delivers it, a failed start posts it); then the spool file and stale files are removed and the session is
// invalidated. A start that fails reports code 2 through the handler and
// answers no session ID.
//
// Session IDs are "com.zul.network.background-upload-<UUID>". A class-wide
// map (weak values) finds the object of a background session ID again; a
// class-wide table keeps the completion handlers handed over for background
// sessions. TLS is verified by the platform layer (its failures arrive as
// transport errors); there is no per-request trust evaluation here.
//
// Every diagnostic goes to the logger delegate (dropped when there is none).
//
// Thread safety: start one request per object, from any thread; the class
// functions may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/net/HttpSession.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"
#include "sdk/utilities/ZULNetworkLoggerDelegate.h"

// (response, body, session ID, error); on failure response and body are none.
using ZULNetworkURLSessionCompletionHandler =
    std::function<void(std::optional<platform::HttpResponse> response, std::optional<platform::Bytes> data,
                       const std::string& sessionID, std::optional<platform::Error> error)>;
using ZULNetworkSystemCompletionHandler = std::function<void()>;

class ZULNetworkURLSession : public std::enable_shared_from_this<ZULNetworkURLSession> {
 public:
  static constexpr const char* kSessionIDPrefix = "com.zul.network.background-upload";
  static constexpr double kExpiringTime = 3600;

  // A fresh session ID, the temporary directory and the weak logger delegate.
  static std::shared_ptr<ZULNetworkURLSession> initWithNetworkLoggerDelegate(
      std::weak_ptr<ZULNetworkLoggerDelegate> networkLoggerDelegate);
  ~ZULNetworkURLSession();
  ZULNetworkURLSession(const ZULNetworkURLSession&) = delete;
  ZULNetworkURLSession& operator=(const ZULNetworkURLSession&) = delete;

  // The request with its body; the session ID, or none after code 2 went to
  // the handler.
  std::optional<std::string> sessionIDFromAsyncPOSTRequest(const platform::HttpRequest& request,
                                                          ZULNetworkURLSessionCompletionHandler completionHandler);
  std::optional<std::string> sessionIDFromAsyncGETRequest(const platform::HttpRequest& request,
                                                         ZULNetworkURLSessionCompletionHandler completionHandler);

  bool isBackgroundNetworkEnabled() const;
  void setBackgroundNetworkEnabled(bool enabled);
  std::string sessionID() const;
  void setSessionID(std::string sessionID);
  // "<ZULNetworkURLSession: 0x...>"
  std::string description() const;

  // Background events: for IDs with the prefix, stores the handler with the
  // object of the ID (found or made); other IDs are ignored.
  static void handleEventsForBackgroundURLSessionID(const std::string& sessionID,
                                                    ZULNetworkSystemCompletionHandler completionHandler);
  static std::shared_ptr<ZULNetworkURLSession> fetcherWithSessionIdentifier(const std::string& sessionID);
  // nullptr removes the entry. Replacing a live object logs 901019 through
  // its logger delegate; a replaced or removed object's session is
  // invalidated after its running task.
  static void setSessionInFetcherMap(const std::shared_ptr<ZULNetworkURLSession>& session,
                                     const std::string& forSessionID);
  static std::shared_ptr<ZULNetworkURLSession> sessionFromFetcherMapForSessionID(const std::string& sessionID);

  void addSystemCompletionHandler(ZULNetworkSystemCompletionHandler handler, const std::string& forSession);
  // Removes the stored handler and calls it asynchronously on the main queue.
  void callSystemCompletionHandler(const std::string& sessionID);

  // Temporary files.
  const std::string& networkDirectoryPath() const { return m_networkDirectory; }
  std::string temporaryFilePathWithSessionID(const std::string& sessionID) const;
  bool ensureTemporaryDirectoryExists();
  // Removes entries whose creation date is more than `expiringTime` seconds
  // away from now (Clock::current()), in either direction.
  void maybeRemoveTempFilesAtURL(const std::string& folder, double expiringTime);
  void removeTempItemAtURL(const std::string& path);
  void excludeFromBackupForURL(const std::string& path);

  // Whether a redirect answered with `status` is followed.
  static bool followsRedirectWithStatus(int status);

  // Tests: how sessions are made (nullptr answer: no session); an empty
  // factory restores platform::HttpSession::create.
  using SessionFactory =
      std::function<std::shared_ptr<platform::HttpSession>(platform::HttpSessionConfiguration configuration)>;
  static void setSessionFactoryForTesting(SessionFactory factory);

 private:
  explicit ZULNetworkURLSession(std::weak_ptr<ZULNetworkLoggerDelegate> loggerDelegate);

  platform::HttpSessionConfiguration sessionConfiguration(const platform::HttpRequest& request) const;
  std::optional<std::string> start(const platform::HttpRequest& request, bool upload, const std::string& spoolFile,
                                   ZULNetworkURLSessionCompletionHandler completionHandler);
  void didComplete(std::optional<platform::HttpResponse> response, std::optional<platform::Bytes> data,
                   std::optional<platform::Error> error);
  void callCompletionHandler(const ZULNetworkURLSessionCompletionHandler& handler,
                             std::optional<platform::HttpResponse> response, std::optional<platform::Bytes> data,
                             std::optional<platform::Error> error);
  std::optional<platform::Bytes> readDownloadedFile(const std::string& location);
  void invalidateSession();
  std::shared_ptr<ZULNetworkLoggerDelegate> logger() const;

  const std::string m_networkDirectory;
  std::weak_ptr<ZULNetworkLoggerDelegate> m_loggerDelegate;

  mutable std::mutex m_mutex;
  ZULNetworkURLSessionCompletionHandler m_completionHandler;
  std::string m_sessionID;
  std::string m_configurationIdentifier;  // the session ID for a background configuration
  std::shared_ptr<platform::HttpSession> m_session;
  std::string m_uploadingFile;
  bool m_backgroundNetworkEnabled = false;
};
