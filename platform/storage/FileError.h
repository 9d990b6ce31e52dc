// FileError: the error domain and codes of file operations.
//
// File operations report failures as platform::Error in "NSCocoaErrorDomain"
// with the file-manager codes below, chosen from errno; the original errno is
// kept as the underlying error ("NSPOSIXErrorDomain", code = errno) and the
// path under "NSFilePath". A missing file is code 4 for remove / move /
// attributes and 260 for reads and listings, so callers can tell it apart.
//
// Thread safety: stateless.
#pragma once

#include <cstdint>
#include <string>

#include "platform/values/Error.h"

namespace platform {

struct FileError {
  static constexpr const char* kDomain = "NSCocoaErrorDomain";
  static constexpr const char* kPosixDomain = "NSPOSIXErrorDomain";
  static constexpr const char* kFilePathKey = "NSFilePath";

  static constexpr int64_t kNoSuchFile = 4;
  static constexpr int64_t kReadUnknown = 256;
  static constexpr int64_t kReadNoPermission = 257;
  static constexpr int64_t kReadCorruptFile = 259;
  static constexpr int64_t kReadNoSuchFile = 260;
  static constexpr int64_t kWriteUnknown = 512;
  static constexpr int64_t kWriteNoPermission = 513;
  static constexpr int64_t kWriteFileExists = 516;
  static constexpr int64_t kWriteOutOfSpace = 640;
  static constexpr int64_t kWriteVolumeReadOnly = 642;

  enum class Operation { Read, Write, Remove };

  // An error for `operation` on `path` failing with `errnoValue`; `what` is
  // the action for the description, e.g. "read", "move".
  static Error fromErrno(int errnoValue, Operation operation, const std::string& what,
                         const std::string& path);
  // Code 4 or 260: the item does not exist.
  static bool isNoSuchFile(const Error& error);
  // Code 516: the item exists already.
  static bool isFileExists(const Error& error);
  // The errno kept as underlying error, 0 when none.
  static int posixCode(const Error& error);
};

}  // namespace platform
