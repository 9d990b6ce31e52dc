// A provisioning profile beside the bundle (signed bytes around a property
// list) read for the push environment. Never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/storage/FileSystem.h"
#include "sdk/messaging/RIRMessagingUtilities.h"

namespace {
std::string g_profile;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static char folder[] = "/tmp/fuzz-profile-XXXXXX";
  if (mkdtemp(folder) != nullptr) {
    setenv("HOME", folder, 1);
    g_profile = std::string(folder) + "/embedded.provisionprofile";
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_profile.empty()) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (platform::fs::writeFile(g_profile, bytes)) return 0;
  RIRMessagingIsProductionAppWithProfilePath(g_profile);
  return 0;
}
