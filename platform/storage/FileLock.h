// FileLock: a non-blocking exclusive lock on a lock file (flock), held from
// tryLock until the FileLock is destroyed.
//
// tryLock opens (creating when missing, mode 0600, so that no other user can
// open it and hold the lock) the file and takes an exclusive flock without
// waiting. It gives nothing when another holder has
// the lock (another process, or another FileLock of this process on the same
// file: flock locks belong to each open of the file) or when the file cannot
// be opened; the error then says why (EWOULDBLOCK for a held lock, as a
// NSPOSIXErrorDomain code under a file error). Destruction releases the lock
// and closes the file; the file itself stays. A process that dies releases
// its locks.
//
// Thread safety: a FileLock is owned by one holder; tryLock may be called
// from any thread.
#pragma once

#include <memory>
#include <string>

#include "platform/values/Error.h"

namespace platform {

class FileLock {
 public:
  static std::unique_ptr<FileLock> tryLock(const std::string& path, Error* error = nullptr);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  const std::string& path() const { return m_path; }

 private:
  FileLock(std::string path, int descriptor) : m_path(std::move(path)), m_descriptor(descriptor) {}

  std::string m_path;
  int m_descriptor;
};

}  // namespace platform
