// Atomic write of a 4 KiB file (temp + fsync + rename + folder fsync) beside
// a plain write + rename without syncing, and the same with fsync, in one run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/storage/FileSystem.h"

namespace {

const std::string kPayload(4096, 'x');

std::string scratchFolder() {
  char pattern[] = "/tmp/storage-bench-XXXXXX";
  return ::mkdtemp(pattern);
}

void plainWriteRename(const std::string& path, bool sync) {
  std::string temp = path + ".tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, kPayload.data(), kPayload.size()) != static_cast<ssize_t>(kPayload.size())) {
    std::abort();
  }
  if (sync) {
    ::fsync(fd);
  }
  ::close(fd);
  ::rename(temp.c_str(), path.c_str());
}

void BM_AtomicWrite4KiB(benchmark::State& state) {
  std::string dir = scratchFolder();
  std::string path = dir + "/file";
  for (auto _ : state) {
    if (platform::fs::writeFileAtomically(path, kPayload)) {
      state.SkipWithError("write failed");
      break;
    }
  }
  std::filesystem::remove_all(dir);
}

void BM_PlainWriteRename4KiB(benchmark::State& state) {
  std::string dir = scratchFolder();
  for (auto _ : state) {
    plainWriteRename(dir + "/file", false);
  }
  std::filesystem::remove_all(dir);
}

void BM_PlainWriteFsyncRename4KiB(benchmark::State& state) {
  std::string dir = scratchFolder();
  for (auto _ : state) {
    plainWriteRename(dir + "/file", true);
  }
  std::filesystem::remove_all(dir);
}

BENCHMARK(BM_AtomicWrite4KiB);
BENCHMARK(BM_PlainWriteRename4KiB);
BENCHMARK(BM_PlainWriteFsyncRename4KiB);

}  // namespace

BENCHMARK_MAIN();
