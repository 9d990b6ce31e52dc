#include "platform/net/HttpTask.h"

#include <curl/curl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/log/Log.h"
#include <cstdlib>
#include <cstring>

#include "platform/net/HttpActivity.h"
#include "platform/net/ServiceAddress.h"
#include "platform/net/URLError.h"
#include "platform/runtime/Immortal.h"
#include "platform/net/internal/CurlEngine.h"
#include "platform/net/internal/ResponseHead.h"
#include "platform/net/internal/SessionCore.h"
#include "platform/time/Clock.h"

namespace platform {

namespace {

// Bodies collected in memory beyond this fail with -1103 instead of
// exhausting memory on a hostile server.
constexpr size_t kMaximumMemoryBody = size_t(512) << 20;
// A refused redirect keeps at most this much of its body.
constexpr size_t kMaximumRedirectBody = size_t(1) << 20;
// A streaming task's received bytes waiting for its delegate; beyond this the
// transfer pauses until the delegate caught up to half of it.
constexpr size_t kMaximumStreamBytesInFlight = size_t(1) << 20;

double monotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string lowerScheme(const std::string& url) {
  auto colon = url.find("://");
  if (colon == std::string::npos) return {};
  std::string scheme = url.substr(0, colon);
  for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

// "scheme://host:port" of a URL, empty when it does not parse.
std::string origin(const std::string& url) {
  CURLU* u = curl_url();
  std::string result;
  if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char *scheme = nullptr, *host = nullptr, *port = nullptr;
    curl_url_get(u, CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(u, CURLUPART_HOST, &host, 0);
    curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT);
    if (scheme && host) {
      result = std::string(scheme) + "://" + host + ":" + (port ? port : "");
      for (auto& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
  }
  curl_url_cleanup(u);
  return result;
}

int64_t errorCodeForCurl(CURLcode code, long osErrno) {
  switch (code) {
    case CURLE_ABORTED_BY_CALLBACK: return URLError::kCancelled;
    case CURLE_UNSUPPORTED_PROTOCOL: return URLError::kUnsupportedURL;
    case CURLE_URL_MALFORMAT: return URLError::kBadURL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return URLError::kCannotFindHost;
    case CURLE_COULDNT_CONNECT:
      if (osErrno == ENETUNREACH || osErrno == ENETDOWN) return URLError::kNotConnectedToInternet;
      return URLError::kCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return URLError::kTimedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE: return URLError::kNetworkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_RANGE_ERROR:
    case CURLE_TOO_MANY_REDIRECTS: return URLError::kBadServerResponse;
    case CURLE_BAD_CONTENT_ENCODING: return URLError::kCannotDecodeContentData;
    case CURLE_PEER_FAILED_VERIFICATION: return URLError::kServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED: return URLError::kSecureConnectionFailed;
    case CURLE_READ_ERROR: return URLError::kFileDoesNotExist;
    case CURLE_WRITE_ERROR: return URLError::kCannotWriteToFile;
    case CURLE_FILESIZE_EXCEEDED: return URLError::kDataLengthExceedsMaximum;
    default: return URLError::kUnknown;
  }
}

std::string noProxyList() {
  std::string list = "localhost,127.0.0.1,::1";
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      list += ",";
      list += value;
      break;
    }
  }
  return list;
}

}  // namespace

namespace net_internal {

// One hop of a task: one easy handle, one request, one response.
class TaskTransfer : public CurlTransfer {
 public:
  TaskTransfer(std::shared_ptr<HttpTask> task, HttpRequest request)
      : m_task(std::move(task)), m_request(std::move(request)) {}
  ~TaskTransfer() override {
    if (m_headerList) curl_slist_free_all(m_headerList);
    if (m_bodyFile) std::fclose(m_bodyFile);
  }

  // Configures the easy handle; an error ends the task before it starts.
  std::optional<Error> configure(const HttpSessionConfiguration& config, double remainingResource,
                                 bool streaming);

  void finished(CURLcode code, bool cancelled) override {
    m_task->hopFinished(std::static_pointer_cast<TaskTransfer>(shared()), code, cancelled);
  }

  std::shared_ptr<CurlTransfer> shared() { return m_self.lock(); }
  void setSelf(const std::shared_ptr<TaskTransfer>& self) { m_self = self; }

  const HttpRequest& request() const { return m_request; }
  bool headDone() const { return m_head.complete(); }
  bool isRedirect() const { return m_head.isRedirect(); }
  int status() const { return m_head.status(); }
  const HttpHeaders& headers() const { return m_head.headers(); }
  Bytes takeRedirectBody() { return std::move(m_redirectBody); }
  std::string effectiveURL() const {
    char* url = nullptr;
    curl_easy_getinfo(easy(), CURLINFO_EFFECTIVE_URL, &url);
    return url ? url : m_request.url();
  }
  std::string redirectURL() const {
    char* url = nullptr;
    curl_easy_getinfo(easy(), CURLINFO_REDIRECT_URL, &url);
    return url ? url : "";
  }
  long osErrno() const {
    long value = 0;
    curl_easy_getinfo(easy(), CURLINFO_OS_ERRNO, &value);
    return value;
  }
  std::string errorText() const { return m_errorBuffer; }

 private:
  static size_t onHeader(char* data, size_t size, size_t count, void* self);
  static size_t onWrite(char* data, size_t size, size_t count, void* self);
  static size_t onRead(char* data, size_t size, size_t count, void* self);
  static int onSeek(void* self, curl_off_t offset, int origin);
  // False when the head grew beyond its bound (the transfer then ends).
  bool headerLine(std::string_view line);

  std::shared_ptr<HttpTask> m_task;
  std::weak_ptr<TaskTransfer> m_self;
  HttpRequest m_request;
  curl_slist* m_headerList = nullptr;
  std::FILE* m_bodyFile = nullptr;
  char m_errorBuffer[CURL_ERROR_SIZE] = {0};

  ResponseHead m_head;
  Bytes m_redirectBody;
};

std::optional<Error> TaskTransfer::configure(const HttpSessionConfiguration& config,
                                             double remainingResource, bool streaming) {
  const std::string& url = m_request.url();
  CURL* h = easy();
  if (!h) return URLError::make(URLError::kUnknown, url, "no easy handle");
  std::string scheme = lowerScheme(url);
  if (scheme != "http" && scheme != "https") return URLError::make(URLError::kUnsupportedURL, url);
  if (ServiceAddress::isRefused(url)) return ServiceAddress::refusalError(url);
  if (url.find_first_of(std::string_view(" \r\n\t\0", 5)) != std::string::npos) {
    return URLError::make(URLError::kBadURL, url);
  }

  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // A proxy's CONNECT answer must not be taken for the server's head.
  curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_errorBuffer);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!config.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, config.caFile.c_str());
  static platform::Immortal<std::string> kNoProxy{noProxyList()};
  curl_easy_setopt(h, CURLOPT_NOPROXY, kNoProxy->c_str());

  double requestTimeout = m_request.timeoutInterval() > 0 ? m_request.timeoutInterval()
                                                          : config.timeoutIntervalForRequest;
  if (requestTimeout > 0) {
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(requestTimeout * 1000));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, std::max(1L, static_cast<long>(std::ceil(requestTimeout))));
  }
  if (remainingResource > 0 && remainingResource < 1e9) {
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, std::max(1L, static_cast<long>(remainingResource * 1000)));
  }

  // Method and body.
  const std::string& method = m_request.method().empty() ? std::string("GET") : m_request.method();
  if (!m_request.bodyFile().empty()) {
    m_bodyFile = std::fopen(m_request.bodyFile().c_str(), "rb");
    struct stat st {};
    if (!m_bodyFile || fstat(fileno(m_bodyFile), &st) != 0 || !S_ISREG(st.st_mode)) {
      return URLError::make(URLError::kFileDoesNotExist, url, m_request.bodyFile());
    }
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &TaskTransfer::onRead);
    curl_easy_setopt(h, CURLOPT_READDATA, this);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &TaskTransfer::onSeek);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, this);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(st.st_size));
    if (method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (!m_request.body().empty() || method == "POST") {
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_request.body().size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS,
                     m_request.body().empty() ? "" : reinterpret_cast<const char*>(m_request.body().data()));
    if (method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "HEAD") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else if (method == "GET") {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  // Headers: the caller's, minus Content-Length (always from the body). An
  // empty "Expect:" keeps libcurl from waiting for "100 Continue", and an
  // empty "Accept:" from adding its own "Accept: */*" to what the caller sends.
  bool hasExpect = false;
  bool hasAccept = false;
  HttpHeaders headers = m_request.headers();
  for (const auto& [name, value] : config.additionalHeaders.fields()) {
    if (!m_request.headers().contains(name)) headers.add(name, value);
  }
  for (const auto& [name, value] : headers.fields()) {
    if (name.empty() || HttpHeaders::namesEqual(name, "Content-Length")) continue;
    if (HttpHeaders::namesEqual(name, "Expect")) hasExpect = true;
    if (HttpHeaders::namesEqual(name, "Accept")) hasAccept = true;
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    m_headerList = curl_slist_append(m_headerList, line.c_str());
  }
  if (!hasExpect) m_headerList = curl_slist_append(m_headerList, "Expect:");
  if (!hasAccept) m_headerList = curl_slist_append(m_headerList, "Accept:");
  // A stream sends only its caller's headers; an answer compressed anyway is
  // still decoded (CURLOPT_ACCEPT_ENCODING above).
  if (streaming && !headers.contains("Accept-Encoding")) {
    m_headerList = curl_slist_append(m_headerList, "Accept-Encoding:");
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, m_headerList);

  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &TaskTransfer::onHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &TaskTransfer::onWrite);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
  return std::nullopt;
}

size_t TaskTransfer::onRead(char* data, size_t size, size_t count, void* self) {
  auto* t = static_cast<TaskTransfer*>(self);
  size_t n = std::fread(data, 1, size * count, t->m_bodyFile);
  if (n == 0 && std::ferror(t->m_bodyFile)) return CURL_READFUNC_ABORT;
  return n;
}

int TaskTransfer::onSeek(void* self, curl_off_t offset, int origin) {
  auto* t = static_cast<TaskTransfer*>(self);
  return fseeko(t->m_bodyFile, offset, origin) == 0 ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

size_t TaskTransfer::onHeader(char* data, size_t size, size_t count, void* self) {
  auto* t = static_cast<TaskTransfer*>(self);
  return t->headerLine(std::string_view(data, size * count)) ? size * count : 0;
}

bool TaskTransfer::headerLine(std::string_view line) {
  if (m_head.complete()) return true;  // trailers of a chunked body
  switch (m_head.addLine(line)) {
    case ResponseHead::Step::More:
      return true;
    case ResponseHead::Step::Complete:
      if (!m_head.isRedirect()) m_task->headReceived(HttpResponse(m_head.status(), m_head.headers(), effectiveURL()));
      return true;
    case ResponseHead::Step::Refused:
      m_task->transferFailed(URLError::make(URLError::kBadServerResponse, m_request.url(), "response head too large"));
      return false;
  }
  return false;
}

size_t TaskTransfer::onWrite(char* data, size_t size, size_t count, void* self) {
  auto* t = static_cast<TaskTransfer*>(self);
  size_t n = size * count;
  if (!t->m_head.complete()) return n;
  if (t->m_head.isRedirect()) {
    size_t room = kMaximumRedirectBody - std::min(kMaximumRedirectBody, t->m_redirectBody.size());
    t->m_redirectBody.insert(t->m_redirectBody.end(), data, data + std::min(n, room));
    return n;
  }
  switch (t->m_task->dataReceived(data, n)) {
    case HttpTask::Received::Taken: return n;
    case HttpTask::Received::Paused: return CURL_WRITEFUNC_PAUSE;
    case HttpTask::Received::Refused: break;
  }
  return 0;
}

}  // namespace net_internal

using net_internal::CurlEngine;
using net_internal::TaskTransfer;

HttpTask::HttpTask(std::shared_ptr<net_internal::SessionCore> session, uint64_t identifier,
                   HttpTaskKind kind, HttpRequest request)
    : m_session(std::move(session)),
      m_identifier(identifier),
      m_kind(kind),
      m_originalRequest(request),
      m_currentRequest(std::move(request)) {}

HttpTask::~HttpTask() {
  if (m_downloadFile) std::fclose(m_downloadFile);
  if (!m_downloadPath.empty()) ::unlink(m_downloadPath.c_str());
}

HttpTaskState HttpTask::state() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_state;
}

HttpRequest HttpTask::currentRequest() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_currentRequest;
}

std::optional<HttpResponse> HttpTask::response() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_response;
}

std::optional<Error> HttpTask::error() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_error;
}

int64_t HttpTask::countOfBytesReceived() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_received;
}

void HttpTask::resume() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state != HttpTaskState::Suspended) return;
    m_state = HttpTaskState::Running;
    m_startMonotonic = monotonicSeconds();
    m_startWall = Clock::current()->now();
    m_resumed = true;
  }
  HttpActivity::taskResumed();
  if (!m_session->taskStarted(shared_from_this())) {
    finish(URLError::make(URLError::kCancelled, m_originalRequest.url(), "session invalidated"));
    return;
  }
  startHop();
}

void HttpTask::cancel() {
  std::shared_ptr<TaskTransfer> transfer;
  bool suspended = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended || m_state == HttpTaskState::Canceling) return;
    suspended = m_state == HttpTaskState::Suspended;
    m_state = HttpTaskState::Canceling;
    transfer = m_transfer;
  }
  if (suspended) {
    finish(URLError::make(URLError::kCancelled, m_originalRequest.url()));
  } else if (transfer) {
    // Ends through hopFinished(cancelled); when the hop already finished, the
    // next step sees Canceling and ends the task with -999.
    CurlEngine::shared().cancel(transfer);
  }
}

void HttpTask::startHop() {
  HttpRequest request;
  double remaining;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    request = m_currentRequest;
    remaining = m_session->configuration().timeoutIntervalForResource - (monotonicSeconds() - m_startMonotonic);
  }
  if (remaining <= 0) {
    finish(URLError::make(URLError::kTimedOut, request.url()));
    return;
  }
  auto transfer = std::make_shared<TaskTransfer>(shared_from_this(), std::move(request));
  transfer->setSelf(transfer);
  if (auto error = transfer->configure(m_session->configuration(), remaining, m_kind == HttpTaskKind::Stream)) {
    finish(std::move(error));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended) return;
    if (m_state != HttpTaskState::Canceling) {
      m_transfer = transfer;
      CurlEngine::shared().start(transfer);
      return;
    }
  }
  finish(URLError::make(URLError::kCancelled, transfer->request().url()));
}

void HttpTask::headReceived(const HttpResponse& response) {
  std::string openError;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_response = response;
    if (m_kind == HttpTaskKind::Download && !m_downloadFile) {
      const char* tmp = std::getenv("TMPDIR");
      std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/net-download-XXXXXX";
      int fd = ::mkstemp(pattern.data());
      if (fd >= 0) {
        m_downloadFile = ::fdopen(fd, "wb");
        m_downloadPath = pattern;
      }
    }
  }
  if (m_kind == HttpTaskKind::Stream) {
    auto self = shared_from_this();
    m_session->queue().async([self, response] {
      if (auto delegate = self->m_session->delegate()) delegate->didReceiveResponse(*self, response);
    });
  }
}

void HttpTask::transferFailed(Error error) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_error) m_error = std::move(error);
}

HttpTask::Received HttpTask::dataReceived(const char* data, size_t size, bool mayPause) {
  if (size == 0) return Received::Taken;
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_kind == HttpTaskKind::Stream && mayPause && m_streamBytesInFlight > 0 &&
      m_streamBytesInFlight + size > kMaximumStreamBytesInFlight) {
    // libcurl keeps these bytes and hands them over again once resumed.
    m_streamPaused = true;
    return Received::Paused;
  }
  m_received += static_cast<int64_t>(size);
  switch (m_kind) {
    case HttpTaskKind::Data:
    case HttpTaskKind::Upload:
      if (m_body.size() + size > kMaximumMemoryBody) {
        m_error = URLError::make(URLError::kDataLengthExceedsMaximum, m_currentRequest.url());
        return Received::Refused;
      }
      m_body.insert(m_body.end(), data, data + size);
      return Received::Taken;
    case HttpTaskKind::Download:
      if (!m_downloadFile || std::fwrite(data, 1, size, m_downloadFile) != size) {
        m_error = URLError::make(m_downloadFile ? URLError::kCannotWriteToFile : URLError::kCannotCreateFile,
                                 m_currentRequest.url());
        return Received::Refused;
      }
      return Received::Taken;
    case HttpTaskKind::Stream: {
      m_streamBytesInFlight += size;
      lock.unlock();
      auto self = shared_from_this();
      Bytes chunk(data, data + size);
      m_session->queue().async([self, chunk = std::move(chunk)] {
        if (auto delegate = self->m_session->delegate()) delegate->didReceiveData(*self, chunk);
        self->streamDataDelivered(chunk.size());
      });
      return Received::Taken;
    }
  }
  return Received::Taken;
}

void HttpTask::streamDataDelivered(size_t size) {
  std::shared_ptr<TaskTransfer> transfer;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_streamBytesInFlight -= std::min(size, m_streamBytesInFlight);
    if (!m_streamPaused || m_streamBytesInFlight > kMaximumStreamBytesInFlight / 2) return;
    m_streamPaused = false;
    transfer = m_transfer;
  }
  if (transfer) CurlEngine::shared().resume(transfer);
}

void HttpTask::hopFinished(std::shared_ptr<TaskTransfer> transfer, int curlCode, bool cancelled) {
  const std::string url = transfer->request().url();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state == HttpTaskState::Canceling) cancelled = true;
  }
  if (cancelled) {
    finish(URLError::make(URLError::kCancelled, url));
    return;
  }
  auto code = static_cast<CURLcode>(curlCode);
  if (code != CURLE_OK) {
    std::optional<Error> own;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      own = m_error;  // set by our own write callback (size limit, file write)
    }
    if (code == CURLE_WRITE_ERROR && own) {
      finish(own);
    } else {
      finish(URLError::make(errorCodeForCurl(code, transfer->osErrno()), url, transfer->errorText()));
    }
    return;
  }
  if (!transfer->headDone()) {
    finish(URLError::make(URLError::kBadServerResponse, url, "no response head"));
    return;
  }
  if (!transfer->isRedirect()) {
    finish(std::nullopt);
    return;
  }

  HttpResponse redirect(transfer->status(), transfer->headers(), transfer->effectiveURL());
  Bytes body = transfer->takeRedirectBody();
  std::string target = transfer->redirectURL();
  if (target.empty()) {
    // Location that cannot be resolved: hand over the answer as it is.
    auto self = shared_from_this();
    m_session->queue().async([self, redirect, body = std::move(body)]() mutable {
      self->deliverFinalRefusedRedirect(std::move(redirect), std::move(body));
    });
    return;
  }
  HttpRequest next = transfer->request();
  next.setURL(target);
  int status = transfer->status();
  const std::string& method = next.method();
  if ((status == 303 && method != "HEAD") || ((status == 301 || status == 302) && method == "POST")) {
    next.setMethod("GET");
    next.clearBody();
    next.headers().remove("Content-Type");
    next.headers().remove("Content-Encoding");
  }
  if (origin(target) != origin(url)) {
    // Credentials never travel to another origin.
    next.headers().remove("Authorization");
    next.headers().remove("Cookie");
  }
  auto self = shared_from_this();
  m_session->queue().async([self, redirect, body = std::move(body), next = std::move(next)]() mutable {
    self->decideRedirect(std::move(redirect), std::move(body), std::move(next));
  });
}

void HttpTask::decideRedirect(HttpResponse redirect, Bytes body, HttpRequest proposed) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended) return;
  }
  if (state() == HttpTaskState::Canceling) {
    finish(URLError::make(URLError::kCancelled, proposed.url()));
    return;
  }
  RedirectDecision decision = RedirectDecision::follow();
  if (const auto& policy = m_session->configuration().redirectPolicy) {
    try {
      decision = policy(redirect.statusCode(), redirect, proposed);
    } catch (const std::exception& e) {
      Log::handle("platform.net", "[HTTP]").write(LogType::Error, std::string("redirect policy threw: ") + e.what() + "; redirect refused");
      decision = RedirectDecision::refuse();
    }
  }
  if (decision.kind == RedirectDecision::Kind::Refuse) {
    deliverFinalRefusedRedirect(std::move(redirect), std::move(body));
    return;
  }
  bool tooMany;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    tooMany = ++m_redirects > m_session->configuration().maximumRedirects;
    if (!tooMany) {
      m_currentRequest = decision.kind == RedirectDecision::Kind::Replace ? std::move(decision.replacement)
                                                                         : std::move(proposed);
    }
  }
  if (tooMany) {
    finish(URLError::make(URLError::kHTTPTooManyRedirects, redirect.url()));
    return;
  }
  startHop();
}

void HttpTask::deliverFinalRefusedRedirect(HttpResponse response, Bytes body) {
  headReceived(response);
  if (!body.empty() &&
      dataReceived(reinterpret_cast<const char*>(body.data()), body.size(), false) == Received::Refused) {
    finish(error());
    return;
  }
  finish(std::nullopt);
}

void HttpTask::finish(std::optional<Error> error) {
  std::string downloadPath;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended) return;
    m_ended = true;
    m_state = HttpTaskState::Completed;
    m_error = error;
    m_transfer.reset();
    if (m_downloadFile) {
      if (std::fclose(m_downloadFile) != 0 && !error) {
        error = URLError::make(URLError::kCannotWriteToFile, m_currentRequest.url());
        m_error = error;
      }
      m_downloadFile = nullptr;
    }
    if (m_kind == HttpTaskKind::Download) {
      if (error && !m_downloadPath.empty()) {
        ::unlink(m_downloadPath.c_str());
        m_downloadPath.clear();
      }
      downloadPath = m_downloadPath;
    }
  }
  auto self = shared_from_this();
  m_session->queue().async([self, error, downloadPath] {
    try {
      switch (self->m_kind) {
        case HttpTaskKind::Data:
        case HttpTaskKind::Upload: {
          HttpDataCompletion completion;
          HttpResult result;
          {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            completion = std::move(self->m_dataCompletion);
            self->m_dataCompletion = nullptr;
            result.response = error ? std::nullopt : self->m_response;
            result.body = std::move(self->m_body);
            result.error = error;
          }
          if (completion) completion(std::move(result));
          break;
        }
        case HttpTaskKind::Download: {
          HttpDownloadCompletion completion;
          HttpDownloadResult result;
          {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            completion = std::move(self->m_downloadCompletion);
            self->m_downloadCompletion = nullptr;
            result.response = error ? std::nullopt : self->m_response;
            result.location = downloadPath;
            result.error = error;
          }
          if (completion) completion(std::move(result));
          std::lock_guard<std::mutex> lock(self->m_mutex);
          if (!self->m_downloadPath.empty()) {
            ::unlink(self->m_downloadPath.c_str());
            self->m_downloadPath.clear();
          }
          break;
        }
        case HttpTaskKind::Stream:
          if (auto delegate = self->m_session->delegate()) delegate->didComplete(*self, error);
          break;
      }
    } catch (...) {
      self->m_session->taskEnded(self->m_identifier);
      self->reportEnd();
      throw;  // the queue's runner reports it
    }
    self->m_session->taskEnded(self->m_identifier);
    self->reportEnd();
  });
}

void HttpTask::reportEnd() {
  HttpActivityRecord record;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_resumed) return;
    record.method = m_originalRequest.method();
    record.url = m_originalRequest.url();
    record.startTime = m_startWall;
    record.statusCode = m_response && !m_error ? m_response->statusCode() : 0;
  }
  HttpActivity::taskEnded(record);
}

}  // namespace platform
