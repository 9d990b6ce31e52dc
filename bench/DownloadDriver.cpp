// Engine side of bench/download_overhead: one download through a download
// manager that is already running and has downloaded once before, timed
// from the add to the completed status, so what a process pays once (its
// start, code paged in and memory first touched) is not counted. The first,
// untimed download is of WARMUP_URL, a small file, so that writing it back
// to disk does not overlap the timed one.
//
//   bench_download_driver QUALITY WARMUP_URL URL
//
// Prints the engine's console lines, then "=> download WALL CPU": the wall
// seconds and this process's CPU seconds (every thread, no child process)
// from the add to the completed status. It then waits for the title query to
// end and exits; status 1 if the download did not complete.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "bench/BenchSupport.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/log/Console.h"
#include "platform/storage/FileSystem.h"

int main(int argc, char** argv) {
  const auto quality = argc == 4 ? tavix::Quality::fromRawValue(argv[1]) : std::nullopt;
  if (!quality) {
    std::fprintf(stderr, "usage: bench_download_driver QUALITY WARMUP_URL URL\n");
    return 2;
  }
  auto manager = tavix::DownloadManager::create();
  platform::MainQueue::drain();

  // One download through the manager; returns its wall and CPU seconds, or
  // nothing if it did not complete.
  auto once = [&](const char* url) -> std::optional<std::pair<double, double>> {
    const auto start = std::chrono::steady_clock::now();
    const double cpuBefore = benchsupport::processCpuSeconds();
    manager->addDownload(url, *quality);
    auto item = manager->downloads.read([](const tavix::DownloadList& list) { return list.back(); });
    auto ended = [&] {
      const auto status = item->status.get();
      return status == tavix::DownloadStatus::completed || status == tavix::DownloadStatus::failed ||
             status == tavix::DownloadStatus::cancelled;
    };
    platform::MainQueue::runUntilAfterWork(ended, 3600);
    const double cpu = benchsupport::processCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (item->status.get() != tavix::DownloadStatus::completed) return std::nullopt;
    return std::pair{wall, cpu};
  };
  // The application runs many downloads in one process; the first one in a
  // process also pays, once, for code paged in and memory first touched. An
  // untimed download comes first, and its file is removed again.
  auto idle = [&] { return manager->titleQueryCount() == 0 && manager->currentDownloadCount() == 0; };
  if (!once(argv[2])) return 1;
  platform::MainQueue::runUntilAfterWork(idle, 3600);
  const std::string shown = manager->downloads.read([](const tavix::DownloadList& list) { return list.back(); })
                                ->filePath.get();
  const char* home = std::getenv("HOME");
  if (home && shown.rfind("~/", 0) == 0) (void)platform::fs::removeItem(home + shown.substr(1));
  const auto figures = once(argv[3]);
  const bool completed = figures.has_value();
  if (completed) {
    platform::console::line("=> download " + std::to_string(figures->first) + " " + std::to_string(figures->second));
  }

  platform::MainQueue::runUntilAfterWork(idle, 3600);
  platform::MainQueue::drain();
  return completed ? 0 : 1;
}
