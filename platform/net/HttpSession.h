// HttpSession: HTTP over libcurl, shaped like the platform's URL sessions.
//
//   auto session = HttpSession::create(HttpSessionConfiguration::ephemeralConfiguration());
//   auto task = session->dataTask(HttpRequest("http://127.0.0.1:8080/a", "POST"),
//                                 [](HttpResult r) { ... });
//   task->resume();
//
// All transfers of the process share one libcurl multi handle on one worker
// thread. Responses are gzip/deflate-decoded transparently; there are no
// cookies and no cache; only http and https are allowed; TLS is verified
// against the system CA store (plus the configuration's caFile); libcurl's
// automatic "Expect: 100-continue" and "Accept: */*" are off, so a request
// carries its own headers plus Host, Content-Length and, unless it sets one,
// the decoder's Accept-Encoding. Requests to an address that
// ServiceAddress::resolve() refused fail with its error before connecting.
// Redirects are followed by hand so
// that the configuration's redirectPolicy decides each one.
//
// A streaming task sends only its request's headers: no Accept-Encoding is
// added for it (a compressed answer is still decoded).
//
// Completions and delegate calls run on the delegate queue (default: a
// serial queue of the session), never inside the call that made them.
//
// invalidateAndCancel() cancels every task (each ends once with -999) and
// refuses new ones; finishTasksAndInvalidate() lets running tasks end and
// refuses new ones. Either way the delegate hears didBecomeInvalid once,
// after the last task ended. A task made on an invalidated session ends with
// -999 when resumed. Dropping the last reference to the session acts like
// finishTasksAndInvalidate().
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>
#include <vector>

#include "platform/net/HttpSessionConfiguration.h"
#include "platform/net/HttpSessionDelegate.h"
#include "platform/net/HttpTask.h"

namespace platform {

class HttpSession {
 public:
  static std::shared_ptr<HttpSession> create(
      HttpSessionConfiguration configuration = HttpSessionConfiguration::defaultConfiguration(),
      std::shared_ptr<HttpSessionDelegate> delegate = nullptr);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  const HttpSessionConfiguration& configuration() const;
  DispatchQueue delegateQueue() const;

  // Request as given (body from memory or file); completion with response,
  // body and error.
  std::shared_ptr<HttpTask> dataTask(HttpRequest request, HttpDataCompletion completion);
  // Like dataTask with the body streamed from `file`.
  std::shared_ptr<HttpTask> uploadTask(HttpRequest request, std::string file,
                                       HttpDataCompletion completion);
  // Body written to a temporary file handed to the completion.
  std::shared_ptr<HttpTask> downloadTask(HttpRequest request, HttpDownloadCompletion completion);
  // Events go to the session delegate as they arrive.
  std::shared_ptr<HttpTask> streamTask(HttpRequest request);

  void invalidateAndCancel();
  void finishTasksAndInvalidate();
  // Tasks that have not ended yet.
  std::vector<std::shared_ptr<HttpTask>> tasks() const;

 private:
  explicit HttpSession(std::shared_ptr<net_internal::SessionCore> core) : m_core(std::move(core)) {}
  std::shared_ptr<net_internal::SessionCore> m_core;
};

}  // namespace platform
