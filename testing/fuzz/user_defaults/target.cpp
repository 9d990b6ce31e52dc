// User-defaults suite files: opening a suite from any file never crashes;
// what it keeps of the file can always be written again (a damaged file is
// set aside, values that cannot be written back are dropped), and a change
// after opening is saved and reads back with everything that was kept.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/storage/FileSystem.h"
#include "platform/storage/UserDefaults.h"
#include "testing/fuzz/FuzzCheck.h"

using platform::UserDefaults;
using platform::Value;

namespace {
constexpr const char* kSuite = "fuzz.suite";
}

// A home of our own (in memory where there is one: every save syncs to disk).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : platform::fs::temporaryDirectory()) +
                        "/user-defaults-fuzz-XXXXXX";
  char* home = ::mkdtemp(pattern.data());
  if (home == nullptr) return 1;
  ::setenv("HOME", home, 1);
  for (const char* name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"}) ::unsetenv(name);
  ::atexit([] { platform::fs::removeItem(::getenv("HOME")); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  UserDefaults::resetForTesting();
  const std::string file = UserDefaults::suite(kSuite)->filePath();
  platform::fs::removeItem(file + ".corrupt");
  FUZZ_CHECK(!platform::fs::createDirectory(platform::fs::parentPath(file)));
  FUZZ_CHECK(!platform::fs::writeFile(file, platform::Bytes(data, data + size)));
  UserDefaults::resetForTesting();

  auto suite = UserDefaults::suite(kSuite);
  platform::Dictionary kept = suite->dictionaryRepresentation();
  FUZZ_CHECK(suite->setInteger("fuzz.added", 7));
  kept.set("fuzz.added", Value(7LL));

  UserDefaults::resetForTesting();
  FUZZ_CHECK(Value(UserDefaults::suite(kSuite)->dictionaryRepresentation()) == Value(kept));
  return 0;
}
