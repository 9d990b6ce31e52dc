// Download engine speed.
//
// BM_ParseOutput / BM_PlainLineScan: parseOutput on recorded-style progress
// lines beside a plain string_view scan for "[download]" over the same text
// (items_per_second = lines per second).
//
// BM_DownloadOverhead: one 200 MB file from a loopback server, fetched once
// by the downloader run directly and once through "engine-probe download";
// the counter "ratio" is engine time / direct time (1.0 = no overhead).
// Needs <build>/bin/engine-probe and <build>/resources (the real tools).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "platform/log/Console.h"
#include "platform/storage/FileSystem.h"
#include "testing/LoopbackServer.h"

namespace {

std::string progressText(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    text += "[download]  " + std::to_string(i % 100) + ".3% of   10.00MiB at    1.23MiB/s ETA 00:05\r";
  }
  return text;
}

void BM_ParseOutput(benchmark::State& state) {
  platform::console::setWriter([](std::string_view) {});
  auto manager = tavix::DownloadManager::create();
  tavix::DownloadItem item("http://h/x", tavix::Quality::best);
  const int lines = 1000;
  std::string text = progressText(lines);
  for (auto _ : state) {
    manager->parseOutput(text, item);
    benchmark::DoNotOptimize(item.progress.get());
  }
  state.SetItemsProcessed(state.iterations() * lines);
  platform::console::setWriter(nullptr);
}
BENCHMARK(BM_ParseOutput);

void BM_PlainLineScan(benchmark::State& state) {
  const int lines = 1000;
  std::string text = progressText(lines);
  for (auto _ : state) {
    std::string_view rest(text);
    size_t found = 0;
    while (!rest.empty()) {
      size_t end = rest.find_first_of("\r\n");
      std::string_view line = rest.substr(0, end);
      if (line.find("[download]") != std::string_view::npos) ++found;
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_PlainLineScan);

std::string exePath() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

double seconds(const std::string& command) {
  auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_DownloadOverhead(benchmark::State& state) {
  const char* build = std::getenv("TAVIX_BINARY_DIR");
  // <build>/bin/bench_engine -> <build>
  std::string buildDir = build ? build : platform::fs::parentPath(platform::fs::parentPath(exePath()));
  std::string home = platform::fs::temporaryDirectory() + "/engine-bench-" + std::to_string(::getpid());
  (void)platform::fs::createDirectory(home + "/Downloads");
  testkit::LoopbackServer server;
  server.on("GET", "/www.instagram.com/big.mp4",
            testkit::Answer::text(200, std::string(200u * 1024 * 1024, 'v'), "video/mp4"));
  const std::string url = server.url("/www.instagram.com/big.mp4");
  const std::string env = "HOME='" + home + "' APP_RESOURCES='" + buildDir + "/resources' ";
  double direct = 0, engine = 0;
  for (auto _ : state) {
    (void)platform::fs::removeItem(home + "/Downloads");
    (void)platform::fs::createDirectory(home + "/Downloads");
    direct = seconds(env + buildDir + "/resources/yt-dlp -q -f 'best[ext=mp4]/best' --output '~/Downloads/d.mp4' "
                     "--progress --continue -- '" + url + "' > /dev/null 2>&1");
    (void)platform::fs::removeItem(home + "/Downloads");
    (void)platform::fs::createDirectory(home + "/Downloads");
    engine = seconds(env + buildDir + "/bin/engine-probe download --quality best '" + url + "' > /dev/null 2>&1");
    state.SetIterationTime(engine);
  }
  state.counters["direct_s"] = direct;
  state.counters["engine_s"] = engine;
  state.counters["ratio"] = direct > 0 ? engine / direct : 0;
  (void)platform::fs::removeItem(home);
}
BENCHMARK(BM_DownloadOverhead)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
