// One 8 KiB POST over loopback through our HTTP session (the shared libcurl
// multi handle on its worker thread; the completion delivered on the main
// queue, which this thread drains) beside the plain reference, one libcurl
// easy handle reused with curl_easy_perform on the calling thread, against
// the same loopback server. The sides alternate in pairs of 200 requests
// each (see BenchSupport.h; --pin=N pins everything, server included, to one
// CPU). Counters: ratio (our time per request over the reference's; goal at
// most 1.2), session_us and easy_us per request, and the context switches
// per request of each side (whole process).
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <string>

#include "bench/BenchSupport.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/net/HttpSession.h"
#include "testing/LoopbackServer.h"

namespace {

const std::string kBody(8192, 'x');
constexpr int kRequests = 200;

class EasyPost {
 public:
  explicit EasyPost(const std::string& url) : m_handle(curl_easy_init()), m_url(url) {
    m_headers = curl_slist_append(nullptr, "Expect:");
    m_headers = curl_slist_append(m_headers, "Content-Type: application/octet-stream");
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
    if (curl_easy_perform(m_handle) != CURLE_OK) return false;
    curl_easy_getinfo(m_handle, CURLINFO_RESPONSE_CODE, &status);
    return status == 200;
  }

 private:
  CURL* m_handle;
  std::string m_url;
  curl_slist* m_headers = nullptr;
  std::string m_sink;
};

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
  bool failed = false;
  long sessionSwitches = 0, easySwitches = 0;

  auto ours = [&] {
    const long switchesBefore = benchsupport::processContextSwitches();
    const double seconds = benchsupport::wallSeconds([&] {
      for (int i = 0; i < kRequests; ++i) {
        bool done = false;
        session->dataTask(request, [&](platform::HttpResult result) {
          failed = failed || result.statusCode() != 200;
          done = true;
        })->resume();
        platform::MainQueue::runUntil([&] { return done; }, 30);
      }
    });
    sessionSwitches += benchsupport::processContextSwitches() - switchesBefore;
    server.clearRequests();  // the server's record must not grow between rounds
    return seconds / kRequests;
  };
  auto reference = [&] {
    const long switchesBefore = benchsupport::processContextSwitches();
    const double seconds = benchsupport::wallSeconds([&] {
      for (int i = 0; i < kRequests; ++i) failed = !easy.post() || failed;
    });
    easySwitches += benchsupport::processContextSwitches() - switchesBefore;
    server.clearRequests();
    return seconds / kRequests;
  };
  ours();  // connections and caches warm on both sides before measuring
  reference();
  sessionSwitches = easySwitches = 0;
  constexpr int kPairs = 15;
  for (auto _ : state) {
    benchsupport::Pairs pairs = benchsupport::alternate(kPairs, ours, reference);
    benchsupport::report(state, pairs, "session_us", "easy_us", 1e6);
  }
  state.counters["session_switches"] = static_cast<double>(sessionSwitches) / (kPairs * kRequests);
  state.counters["easy_switches"] = static_cast<double>(easySwitches) / (kPairs * kRequests);
  if (failed) state.SkipWithError("a request failed");
}
BENCHMARK(BM_HttpPostRatio)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHSUPPORT_MAIN();
