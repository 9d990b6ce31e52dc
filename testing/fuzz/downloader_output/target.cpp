// The downloader's output: standard-output chunks cut anywhere (inside a
// character or a line) go through the chunk decoder and the output parser
// into one item; standard error goes to the failure classifier. Input: one
// byte chunk size, one byte exit status, then the output; the same bytes
// also serve as the error text. Never a crash; progress stays a number; the
// classifier always has a message.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "Tavix_YouTube/engine/Utf8ChunkDecoder.h"
#include "testing/fuzz/FuzzCheck.h"

using tavix::DownloadManager;

namespace {

std::shared_ptr<DownloadManager> manager() {
  static std::shared_ptr<DownloadManager> shared = DownloadManager::create();
  return shared;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Sizes from disk, and the manager's journal, are looked up under a folder
  // of our own.
  static char folder[] = "/tmp/fuzz-downloader-XXXXXX";
  if (mkdtemp(folder) != nullptr) {
    setenv("HOME", folder, 1);
    unsetenv("XDG_DATA_HOME");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t chunk = std::max<size_t>(1, data[0]);
  const int exitStatus = data[1];
  std::string_view output(reinterpret_cast<const char*>(data + 2), size - 2);

  auto item = std::make_shared<tavix::DownloadItem>("https://example.invalid/watch?v=x", tavix::Quality::best);
  tavix::Utf8ChunkDecoder decoder;
  for (size_t at = 0; at < output.size(); at += chunk) {
    if (auto text = decoder.decode(output.substr(at, chunk))) {
      manager()->parseOutput(*text, *item);
    }
    FUZZ_CHECK(decoder.pending().size() <= 3);
  }
  decoder.finish();
  FUZZ_CHECK(!std::isnan(item->progress.get()));
  FUZZ_CHECK(!DownloadManager::classifyError(output, exitStatus).empty());
  return 0;
}
