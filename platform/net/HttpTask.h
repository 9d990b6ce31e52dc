// HttpTask: one HTTP exchange of an HttpSession (data, upload-from-file,
// download-to-file or streaming), following redirects by the session's policy.
//
// A task is created suspended; resume() starts it. It ends exactly once: its
// completion handler (or the delegate's didComplete for streaming tasks) runs
// once on the session's delegate queue, never inside the call that started or
// cancelled it. cancel() at any time before that end makes it end with
// URLError -999; after the end it does nothing. The session keeps a running
// task alive, so the caller need not hold it.
//
// States: Suspended -> Running -> (Canceling ->) Completed.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/net/HttpRequest.h"
#include "platform/net/HttpResponse.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"

namespace platform {

namespace net_internal {
class SessionCore;
class TaskTransfer;
}  // namespace net_internal

enum class HttpTaskState { Suspended, Running, Canceling, Completed };
enum class HttpTaskKind { Data, Upload, Download, Stream };

// Outcome of a data or upload task. A response with any status is a
// success at this layer; `error` is set only for transport failures.
struct HttpResult {
  std::optional<HttpResponse> response;
  Bytes body;
  std::optional<Error> error;

  int statusCode() const { return response ? response->statusCode() : 0; }
  std::string text() const { return std::string(body.begin(), body.end()); }
};

// Outcome of a download task. `location` is a temporary file holding the body;
// it is removed once the handler returns, so move or read it there.
struct HttpDownloadResult {
  std::optional<HttpResponse> response;
  std::string location;
  std::optional<Error> error;
};

using HttpDataCompletion = std::function<void(HttpResult)>;
using HttpDownloadCompletion = std::function<void(HttpDownloadResult)>;

class HttpTask : public std::enable_shared_from_this<HttpTask> {
 public:
  ~HttpTask();
  HttpTask(const HttpTask&) = delete;
  HttpTask& operator=(const HttpTask&) = delete;

  uint64_t taskIdentifier() const { return m_identifier; }
  HttpTaskKind kind() const { return m_kind; }
  HttpTaskState state() const;
  const HttpRequest& originalRequest() const { return m_originalRequest; }
  // The request of the current hop (after redirects).
  HttpRequest currentRequest() const;
  // The final response once its head arrived.
  std::optional<HttpResponse> response() const;
  // The transport error once the task ended with one.
  std::optional<Error> error() const;
  // Body bytes received so far (after decoding).
  int64_t countOfBytesReceived() const;

  void resume();
  void cancel();

 private:
  friend class net_internal::SessionCore;
  friend class net_internal::TaskTransfer;
  friend class HttpSession;

  HttpTask(std::shared_ptr<net_internal::SessionCore> session, uint64_t identifier,
           HttpTaskKind kind, HttpRequest request);

  void startHop();                                   // any thread, task not ended
  void hopFinished(std::shared_ptr<net_internal::TaskTransfer> transfer, int curlCode,
                   bool cancelled);                  // transfer thread
  void headReceived(const HttpResponse& response);   // transfer thread
  enum class Received { Taken, Refused, Paused };
  // Transfer thread. Refused aborts the transfer; Paused (streaming tasks,
  // when `mayPause`) leaves the bytes with libcurl until the delegate caught up.
  Received dataReceived(const char* data, size_t size, bool mayPause = true);
  // Delegate queue: the delegate took `size` streamed bytes.
  void streamDataDelivered(size_t size);
  void transferFailed(Error error);                  // transfer thread, before aborting the hop
  void decideRedirect(HttpResponse redirect, Bytes body, HttpRequest proposed);  // delegate queue
  void finish(std::optional<Error> error);           // any thread; first call wins
  void deliverFinalRefusedRedirect(HttpResponse response, Bytes body);
  void reportEnd();                                  // delegate queue, after the completion

  const std::shared_ptr<net_internal::SessionCore> m_session;
  const uint64_t m_identifier;
  const HttpTaskKind m_kind;
  const HttpRequest m_originalRequest;
  double m_startMonotonic = 0;
  double m_startWall = 0;    // Clock::current() when resumed
  bool m_resumed = false;    // counted in HttpActivity

  mutable std::mutex m_mutex;
  HttpTaskState m_state = HttpTaskState::Suspended;
  bool m_ended = false;
  HttpRequest m_currentRequest;
  int m_redirects = 0;
  std::shared_ptr<net_internal::TaskTransfer> m_transfer;
  std::optional<HttpResponse> m_response;
  std::optional<Error> m_error;
  Bytes m_body;
  int64_t m_received = 0;
  size_t m_streamBytesInFlight = 0;  // handed to the delegate queue, not yet taken
  bool m_streamPaused = false;
  std::string m_downloadPath;
  std::FILE* m_downloadFile = nullptr;
  HttpDataCompletion m_dataCompletion;
  HttpDownloadCompletion m_downloadCompletion;
};

}  // namespace platform
