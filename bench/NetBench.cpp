// One 8 KiB POST over loopback through our HTTP session (the shared libcurl
// multi handle on its worker thread; the completion delivered on the main
// queue, which this thread drains) beside the plain reference, one libcurl
// easy handle reused with curl_easy_perform on the calling thread, against
// the same loopback server. The sides alternate in pairs of 200 requests
// each (see BenchSupport.h; --pin=N pins everything, server included, to one
// CPU). Counters: ratio (our time per request over the reference's; goal at
// most 1.2), session_us and easy_us per request, and the context switches
// per request of each side (whole process).
//
// BM_SdkPostRatio: the SDK's HTTP helper (ZULNetwork::postURL: gzip of the
// 8 KiB payload, one URL session object and HTTP session per request, the
// handler on the main queue) beside the same easy handle posting the payload
// gzipped with zlib per request. Counters as above (helper_us, easy_us);
// the goal is the session's, at most 1.2.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <stdlib.h>
#include <zlib.h>

#include <functional>
#include <string>

#include "bench/BenchSupport.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/net/HttpSession.h"
#include "platform/net/ReachabilityApi.h"
#include "platform/storage/FileSystem.h"
#include "sdk/utilities/ZULNetwork.h"
#include "testing/LoopbackServer.h"

namespace {

const std::string kBody(8192, 'x');
constexpr int kRequests = 200;

// The payload gzipped, as the helper sends it.
std::string gzipped(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

class EasyPost {
 public:
  explicit EasyPost(const std::string& url, bool gzip = false)
      : m_handle(curl_easy_init()), m_url(url), m_gzip(gzip) {
    m_headers = curl_slist_append(nullptr, "Expect:");
    m_headers = curl_slist_append(m_headers, gzip ? "Content-Type: application/x-www-form-urlencoded"
                                                  : "Content-Type: application/octet-stream");
    if (gzip) m_headers = curl_slist_append(m_headers, "Content-Encoding: gzip");
    curl_easy_setopt(m_handle, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(m_handle, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(m_handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(m_handle, CURLOPT_POSTFIELDS, kBody.data());
    curl_easy_setopt(m_handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(kBody.size()));
    curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, +[](char* p, size_t s, size_t n, void* out) {
      static_cast<std::string*>(out)->append(p, s * n);
      return s * n;
    });
    curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, &m_sink);
  }
  ~EasyPost() {
    curl_slist_free_all(m_headers);
    curl_easy_cleanup(m_handle);
  }
  bool post() {
    m_sink.clear();
    long status = 0;
    if (m_gzip) {
      m_body = gzipped(kBody);
      curl_easy_setopt(m_handle, CURLOPT_POSTFIELDS, m_body.data());
      curl_easy_setopt(m_handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_body.size()));
    }
    if (curl_easy_perform(m_handle) != CURLE_OK) return false;
    curl_easy_getinfo(m_handle, CURLINFO_RESPONSE_CODE, &status);
    return status == 200;
  }

 private:
  CURL* m_handle;
  std::string m_url;
  bool m_gzip;
  curl_slist* m_headers = nullptr;
  std::string m_sink;
  std::string m_body;
};

// Runs rounds of kRequests requests, ours (`postOurs` sends one request and
// waits for its answer) beside the easy handle's, in alternated pairs, and
// reports the ratio, the times per request under `oursName` and "easy_us",
// and the context switches per request of each side.
void comparePosts(benchmark::State& state, testkit::LoopbackServer& server, EasyPost& easy,
                  const std::function<bool()>& postOurs, const std::string& oursName) {
  bool failed = false;
  long oursSwitches = 0, easySwitches = 0;
  auto round = [&](const std::function<bool()>& post, long& switches) {
    const long switchesBefore = benchsupport::processContextSwitches();
    const double seconds = benchsupport::wallSeconds([&] {
      for (int i = 0; i < kRequests; ++i) failed = !post() || failed;
    });
    switches += benchsupport::processContextSwitches() - switchesBefore;
    server.clearRequests();  // the server's record must not grow between rounds
    return seconds / kRequests;
  };
  auto ours = [&] { return round(postOurs, oursSwitches); };
  auto reference = [&] { return round([&] { return easy.post(); }, easySwitches); };
  ours();  // connections and caches warm on both sides before measuring
  reference();
  oursSwitches = easySwitches = 0;
  constexpr int kPairs = 15;
  for (auto _ : state) {
    benchsupport::Pairs pairs = benchsupport::alternate(kPairs, ours, reference);
    benchsupport::report(state, pairs, oursName + "_us", "easy_us", 1e6);
  }
  state.counters[oursName + "_switches"] = static_cast<double>(oursSwitches) / (kPairs * kRequests);
  state.counters["easy_switches"] = static_cast<double>(easySwitches) / (kPairs * kRequests);
  if (failed) state.SkipWithError("a request failed");
}

void BM_HttpPostRatio(benchmark::State& state) {
  testkit::LoopbackServer server;
  server.on("POST", "/bench", testkit::Answer::text(200, "ok"));
  platform::HttpSessionConfiguration configuration = platform::HttpSessionConfiguration::defaultConfiguration();
  configuration.delegateQueue = platform::mainQueue();
  auto session = platform::HttpSession::create(configuration);
  platform::HttpRequest request(server.url("/bench"), "POST");
  request.setBody(kBody);
  request.setValue("application/octet-stream", "Content-Type");
  EasyPost easy(server.url("/bench"));
  comparePosts(state, server, easy, [&] {
    bool done = false;
    bool ok = false;
    session->dataTask(request, [&](platform::HttpResult result) {
      ok = result.statusCode() == 200;
      done = true;
    })->resume();
    platform::MainQueue::runUntilAfterWork([&] { return done; }, 30);
    return ok;
  }, "session");
}
BENCHMARK(BM_HttpPostRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SdkPostRatio(benchmark::State& state) {
  // The helper's files and reachability stay in a folder of the run's own.
  char folder[] = "/tmp/bench-net-XXXXXX";
  if (!::mkdtemp(folder)) {
    state.SkipWithError("no temporary folder");
    return;
  }
  ::setenv("HOME", folder, 1);
  ::setenv("XDG_DATA_HOME", (std::string(folder) + "/data").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (std::string(folder) + "/config").c_str(), 1);
  ::setenv(platform::reachability::kForceVariable, "reachable", 1);
  testkit::LoopbackServer server;
  server.on("POST", "/bench", testkit::Answer::text(200, "ok"));
  std::shared_ptr<ZULNetwork> network = ZULNetwork::initWithReachabilityHost("127.0.0.1");
  if (!network) {
    state.SkipWithError("no helper");
    return;
  }
  const platform::Bytes payload(kBody.begin(), kBody.end());
  const std::string url = server.url("/bench");
  EasyPost easy(url, true);
  comparePosts(state, server, easy, [&] {
    bool done = false;
    bool ok = false;
    network->postURL(url, payload, std::nullopt, false,
                     [&](std::optional<platform::HttpResponse> response, std::optional<platform::Bytes>,
                         std::optional<platform::Error>) {
                       ok = response && response->statusCode() == 200;
                       done = true;
                     });
    platform::MainQueue::runUntilAfterWork([&] { return done; }, 30);
    return ok;
  }, "helper");
  network.reset();
  platform::MainQueue::runUntilIdle(5);
  (void)platform::fs::removeItem(folder);
}
BENCHMARK(BM_SdkPostRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHSUPPORT_MAIN();
