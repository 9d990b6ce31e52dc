// Writes a whole buffer to a descriptor, retrying after EINTR and partial
// writes. Returns false on any other failure.
#pragma once

#include <cerrno>
#include <string_view>
#include <unistd.h>

namespace platform::internal {

inline bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace platform::internal
