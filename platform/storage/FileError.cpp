#include "platform/storage/FileError.h"

#include <cerrno>
#include <cstring>

namespace platform {

Error FileError::fromErrno(int errnoValue, Operation operation, const std::string& what,
                           const std::string& path) {
  int64_t code = 0;
  switch (errnoValue) {
    case ENOENT:
    case ENOTDIR:
      code = operation == Operation::Read ? kReadNoSuchFile : kNoSuchFile;
      break;
    case EEXIST:
    case ENOTEMPTY:
      code = kWriteFileExists;
      break;
    case EACCES:
    case EPERM:
      code = operation == Operation::Read ? kReadNoPermission : kWriteNoPermission;
      break;
    case ENOSPC:
    case EDQUOT:
      code = kWriteOutOfSpace;
      break;
    case EROFS:
      code = kWriteVolumeReadOnly;
      break;
    default:
      code = operation == Operation::Read ? kReadUnknown : kWriteUnknown;
      break;
  }
  std::string reason = std::strerror(errnoValue);
  Error error = Error::make(kDomain, code, "Could not " + what + " \"" + path + "\": " + reason);
  error.setUserInfo(kFilePathKey, Value(path));
  error.setUnderlying(Error::make(kPosixDomain, errnoValue, reason));
  return error;
}

bool FileError::isNoSuchFile(const Error& error) {
  return error.domain == kDomain && (error.code == kNoSuchFile || error.code == kReadNoSuchFile);
}

bool FileError::isFileExists(const Error& error) {
  return error.domain == kDomain && error.code == kWriteFileExists;
}

int FileError::posixCode(const Error& error) {
  std::optional<Error> under = error.underlying();
  if (!under || under->domain != kPosixDomain) {
    return 0;
  }
  return static_cast<int>(under->code);
}

}  // namespace platform
