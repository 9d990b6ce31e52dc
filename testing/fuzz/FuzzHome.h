// fuzzing::useTemporaryHome(name): a fresh folder for the files of a fuzz
// target, in /dev/shm when there is one (no disk syncs per input), else in
// /tmp; HOME and the XDG data and config homes point into it, and it is
// removed at a normal exit. Call it once, from LLVMFuzzerInitialize; it
// aborts when no folder can be made.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

inline void useTemporaryHome(const std::string& name) {
  static std::string folder;
  for (const char* base : {"/dev/shm", "/tmp"}) {
    std::string pattern = std::string(base) + "/fuzz-" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      folder = pattern;
      break;
    }
  }
  if (folder.empty()) std::abort();
  std::atexit([] { std::filesystem::remove_all(folder); });
  setenv("HOME", folder.c_str(), 1);
  setenv("XDG_DATA_HOME", (folder + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
}

}  // namespace fuzzing
