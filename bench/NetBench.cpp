// HTTP POST of 8 KiB over loopback: our session layer (one multi handle on a
// worker thread, completion delivered on a queue) beside the plain reference,
// one libcurl easy handle reused with curl_easy_perform, in the same run and
// against the same loopback server.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/net/HttpSession.h"
#include "testing/LoopbackServer.h"

namespace {

const std::string kBody(8192, 'x');

testkit::LoopbackServer& server() {
  static testkit::LoopbackServer* s = [] {
    auto* created = new testkit::LoopbackServer();
    created->on("POST", "/bench", testkit::Answer::text(200, "ok"));
    return created;
  }();
  return *s;
}

void BM_SessionPost8KiB(benchmark::State& state) {
  auto session = platform::HttpSession::create();
  platform::HttpRequest request(server().url("/bench"), "POST");
  request.setBody(kBody);
  request.setValue("application/octet-stream", "Content-Type");
  std::mutex mutex;
  std::condition_variable cv;
  for (auto _ : state) {
    bool done = false;
    int status = 0;
    session
        ->dataTask(request,
                   [&](platform::HttpResult r) {
                     std::lock_guard<std::mutex> lock(mutex);
                     status = r.statusCode();
                     done = true;
                     cv.notify_one();
                   })
        ->resume();
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return done; });
    if (status != 200) state.SkipWithError("unexpected status");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBody.size()));
}
BENCHMARK(BM_SessionPost8KiB)->UseRealTime();

void BM_CurlEasyReusePost8KiB(benchmark::State& state) {
  CURL* h = curl_easy_init();
  std::string url = server().url("/bench");
  std::string sink;
  curl_slist* headers = curl_slist_append(nullptr, "Expect:");
  headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, kBody.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(kBody.size()));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, +[](char* p, size_t s, size_t n, void* out) {
    static_cast<std::string*>(out)->append(p, s * n);
    return s * n;
  });
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  for (auto _ : state) {
    sink.clear();
    long status = 0;
    if (curl_easy_perform(h) != CURLE_OK) state.SkipWithError("transfer failed");
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) state.SkipWithError("unexpected status");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBody.size()));
  curl_slist_free_all(headers);
  curl_easy_cleanup(h);
}
BENCHMARK(BM_CurlEasyReusePost8KiB)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
