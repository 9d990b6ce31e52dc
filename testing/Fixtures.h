// Fixture files of the repository for tests, and files made to look as if
// an earlier process had left them.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/storage/FileSystem.h"
#include "platform/values/Value.h"
#include "testing/BuildPaths.h"

namespace testkit {

// The bytes of <repository>/<relative>; an empty buffer (and a failed test)
// when the file cannot be read.
inline platform::Bytes fixture(const std::string& relative) {
  platform::Result<platform::Bytes> bytes = platform::fs::readFile(sourceDir() + "/" + relative);
  EXPECT_TRUE(bytes.ok()) << relative;
  return bytes.ok() ? bytes.value() : platform::Bytes();
}

// Writes `contents` to `path` and sets its modification time `ageSeconds`
// into the past, as a file a process that ended earlier left behind.
inline void writeFileChangedAgo(const std::string& path, std::string_view contents, double ageSeconds) {
  ASSERT_FALSE(platform::fs::writeFile(path, contents, 0600)) << path;
  timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  timespec times[2] = {now, now};
  times[1].tv_sec -= static_cast<time_t>(std::ceil(ageSeconds));
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// A file an interrupted write may have left in a folder, and whether a
// clean-up should remove it.
struct Leftover {
  std::string name;
  double ageSeconds;
  bool removed;
};

inline void writeLeftovers(const std::string& folder, const std::vector<Leftover>& leftovers) {
  for (const Leftover& l : leftovers) writeFileChangedAgo(platform::fs::joinPath(folder, l.name), "secret", l.ageSeconds);
}

inline void expectLeftoversCleaned(const std::string& folder, const std::vector<Leftover>& leftovers) {
  for (const Leftover& l : leftovers) {
    EXPECT_EQ(platform::fs::exists(platform::fs::joinPath(folder, l.name)), !l.removed) << l.name;
  }
}

}  // namespace testkit
