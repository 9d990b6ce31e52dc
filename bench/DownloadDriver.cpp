// Engine side of bench/download_overhead: one download through a download
// manager that is already running, timed from the add to the completed
// status, so the process's own start (paid once, when the application
// launches) is not counted.
//
//   bench_download_driver QUALITY URL
//
// Prints the engine's console lines, then "=> download WALL CPU": the wall
// seconds and this process's CPU seconds (every thread, no child process)
// from the add to the completed status. It then waits for the title query to
// end and exits; status 1 if the download did not complete.
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "bench/BenchSupport.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/log/Console.h"

int main(int argc, char** argv) {
  const auto quality = argc == 3 ? tavix::Quality::fromRawValue(argv[1]) : std::nullopt;
  if (!quality) {
    std::fprintf(stderr, "usage: bench_download_driver QUALITY URL\n");
    return 2;
  }
  auto manager = tavix::DownloadManager::create();
  platform::MainQueue::drain();

  const auto start = std::chrono::steady_clock::now();
  const double cpuBefore = benchsupport::processCpuSeconds();
  manager->addDownload(argv[2], *quality);
  auto item = manager->downloads.read([](const tavix::DownloadList& list) { return list.back(); });
  platform::MainQueue::runUntilAfterWork(
      [&] {
        const auto status = item->status.get();
        return status == tavix::DownloadStatus::completed || status == tavix::DownloadStatus::failed ||
               status == tavix::DownloadStatus::cancelled;
      },
      3600);
  const double cpu = benchsupport::processCpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const bool completed = item->status.get() == tavix::DownloadStatus::completed;
  if (completed) platform::console::line("=> download " + std::to_string(wall) + " " + std::to_string(cpu));

  platform::MainQueue::runUntilAfterWork([&] { return manager->titleQueryCount() == 0; }, 3600);
  platform::MainQueue::drain();
  return completed ? 0 : 1;
}
