// Fixture files of the repository for tests, and files made to look as if
// an earlier process had left them.
//
// Header-only: TAVIX_SOURCE_DIR is compiled into each test program.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/storage/FileSystem.h"
#include "platform/values/Value.h"

namespace testkit {

// The bytes of <repository>/<relative>; an empty buffer (and a failed test)
// when the file cannot be read.
inline platform::Bytes fixture(const std::string& relative) {
  platform::Result<platform::Bytes> bytes = platform::fs::readFile(std::string(TAVIX_SOURCE_DIR) + "/" + relative);
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

}  // namespace testkit
