// Download engine speed, each figure a median ratio to a reference measured
// alternately in the same run (see BenchSupport.h; --pin=N pins to one CPU).
//
// BM_ParserThroughput: parseOutput over a 100 MB synthetic stream of the
// downloader's progress lines (handed over in 64 KiB reads, as from the
// pipe) beside a plain std::string_view line scan that looks for
// "[download]" in each line. Counters: ratio (our MB/s over the scan's; goal
// at least 0.5), ours_MBps, scan_MBps.
//
// BM_QueueScaling: the manager's CPU time (whole process) per download when
// 1000 items are queued at once, beside the same with 50 items; the
// downloader is the fake one, which ends at once. Counters: ratio (goal:
// flat, about 1), cpu_ms_1000, cpu_ms_50. Needs <build>/bin/fake-downloader.
//
// The whole-download overhead against the bare downloader is measured by
// bench/download_overhead (separate server process, real tools).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "bench/BenchSupport.h"
#include "platform/app/Bundle.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/log/Console.h"
#include "platform/storage/FileSystem.h"

namespace {

// Progress lines as the downloader prints them (carriage returns between
// updates), with a stage line and a destination line now and then.
std::string syntheticStream(size_t bytes) {
  std::string text;
  text.reserve(bytes + 256);
  const char* stages[] = {"[download] Downloading video 1 of 2\n", "[download] Downloading audio\n"};
  for (size_t i = 0; text.size() < bytes; ++i) {
    if (i % 5000 == 0) text += stages[(i / 5000) % 2];
    if (i % 5000 == 1) text += "[download] Destination: /home/u/Downloads/Clip_720.f137.mp4\n";
    const size_t tenths = i % 1000;
    text += "\r[download]  " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "% of   " +
            std::to_string(10 + i % 90) + ".27MiB at    " + std::to_string(1 + i % 9) + ".23MiB/s ETA 00:0" +
            std::to_string(i % 10);
  }
  return text;
}

constexpr size_t kStreamBytes = 100u * 1024 * 1024;
constexpr size_t kReadBytes = 64 * 1024;

void BM_ParserThroughput(benchmark::State& state) {
  platform::console::setWriter([](std::string_view) {});
  auto manager = tavix::DownloadManager::create();
  const std::string stream = syntheticStream(kStreamBytes);
  const double megabytes = static_cast<double>(stream.size()) / 1e6;
  auto ours = [&] {
    tavix::DownloadItem item("http://h/x", tavix::Quality::best);
    const double seconds = benchsupport::wallSeconds([&] {
      for (size_t at = 0; at < stream.size(); at += kReadBytes) {
        manager->parseOutput(std::string_view(stream).substr(at, kReadBytes), item);
      }
    });
    benchmark::DoNotOptimize(item.progress.get());
    return seconds;
  };
  auto scan = [&] {
    size_t found = 0;
    const double seconds = benchsupport::wallSeconds([&] {
      for (size_t at = 0; at < stream.size(); at += kReadBytes) {
        std::string_view rest = std::string_view(stream).substr(at, kReadBytes);
        while (!rest.empty()) {
          const size_t end = rest.find_first_of("\r\n");
          if (rest.substr(0, end).find("[download]") != std::string_view::npos) ++found;
          rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
      }
    });
    benchmark::DoNotOptimize(found);
    return seconds;
  };
  for (auto _ : state) {
    // Seconds per pass; the ratio of throughputs is the inverse ratio of times.
    benchsupport::Pairs pairs = benchsupport::alternate(10, ours, scan);
    for (double& ratio : pairs.ratios) ratio = ratio > 0 ? 1 / ratio : 0;
    benchsupport::report(state, pairs, "ours_s", "scan_s");
    state.counters["ours_MBps"] = megabytes / benchsupport::Pairs::quantile(pairs.ours, 0.5);
    state.counters["scan_MBps"] = megabytes / benchsupport::Pairs::quantile(pairs.reference, 0.5);
  }
  platform::console::setWriter(nullptr);
}
BENCHMARK(BM_ParserThroughput)->Iterations(1)->Unit(benchmark::kMillisecond);

std::string buildFolder() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  const std::string exe = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  return platform::fs::parentPath(platform::fs::parentPath(exe));  // <build>/bin/bench_engine -> <build>
}

// CPU seconds of the process per download, for `count` items added at once.
double cpuPerDownload(size_t count, const std::string& home) {
  (void)platform::fs::removeItem(home + "/Downloads");
  (void)platform::fs::createDirectory(home + "/Downloads");
  auto manager = tavix::DownloadManager::create();
  // Ends counted as they happen, so that waiting costs nothing per item.
  size_t ended = 0;
  std::vector<platform::Cancellable> watches;
  const double before = benchsupport::processCpuSeconds();
  for (size_t i = 0; i < count; ++i) {
    manager->addDownload("http://h/" + std::to_string(i), tavix::Quality::p720);
    auto item = manager->downloads.read([](const tavix::DownloadList& list) { return list.back(); });
    watches.push_back(item->status.subscribe([&](const tavix::DownloadStatus& status) {
      ended += status.caseValue() == tavix::DownloadStatus::Case::completed;
    }));
  }
  platform::MainQueue::runUntil(
      [&] { return ended == count && manager->currentDownloadCount() == 0 && manager->titleQueryCount() == 0; },
      3600);
  return (benchsupport::processCpuSeconds() - before) / static_cast<double>(count);
}

void BM_QueueScaling(benchmark::State& state) {
  const std::string build = buildFolder();
  const std::string home = platform::fs::temporaryDirectory() + "/engine-bench-" + std::to_string(::getpid());
  (void)platform::fs::createDirectory(home + "/bundle");
  (void)platform::fs::removeItem(home + "/bundle/yt-dlp");
  if (::symlink((build + "/bin/fake-downloader").c_str(), (home + "/bundle/yt-dlp").c_str()) != 0) {
    state.SkipWithError("no fake downloader");
    return;
  }
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("FAKE_DOWNLOADER_SCENARIO");
  platform::Bundle::setMain(std::make_shared<platform::Bundle>(home + "/bundle"));
  platform::console::setWriter([](std::string_view) {});
  for (auto _ : state) {
    benchsupport::Pairs pairs =
        benchsupport::alternate(3, [&] { return cpuPerDownload(1000, home); }, [&] { return cpuPerDownload(50, home); });
    benchsupport::report(state, pairs, "cpu_ms_1000", "cpu_ms_50", 1000);
  }
  platform::console::setWriter(nullptr);
  platform::Bundle::setMain(nullptr);
  (void)platform::fs::removeItem(home);
}
BENCHMARK(BM_QueueScaling)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHSUPPORT_MAIN();
