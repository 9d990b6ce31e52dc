#include "platform/storage/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/storage/FileError.h"

namespace platform {

std::unique_ptr<FileLock> FileLock::tryLock(const std::string& path, Error* error) {
  int descriptor = -1;
  do {
    descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    if (error != nullptr) *error = FileError::fromErrno(errno, FileError::Operation::Write, "lock", path);
    return nullptr;
  }
  int status = -1;
  do {
    status = ::flock(descriptor, LOCK_EX | LOCK_NB);
  } while (status != 0 && errno == EINTR);
  if (status != 0) {
    const int failure = errno;
    ::close(descriptor);
    if (error != nullptr) *error = FileError::fromErrno(failure, FileError::Operation::Write, "lock", path);
    return nullptr;
  }
  return std::unique_ptr<FileLock>(new FileLock(path, descriptor));
}

FileLock::~FileLock() {
  ::flock(m_descriptor, LOCK_UN);
  ::close(m_descriptor);
}

}  // namespace platform
