#include "platform/storage/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/storage/FileError.h"

namespace platform::fs {

namespace {

using Op = FileError::Operation;

std::atomic<int> g_failBeforeRename{0};

Error errnoError(int err, Op op, const std::string& what, const std::string& path) {
  return FileError::fromErrno(err, op, what, path);
}

// Writes everything, retrying on EINTR and short writes. Returns 0 or errno.
int writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

double toSeconds(const struct statx_timestamp& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int statxPath(const std::string& path, int flags, struct statx* out) {
  if (::statx(AT_FDCWD, path.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, out) != 0) {
    return errno;
  }
  return 0;
}

FileAttributes attributesFrom(const struct statx& st) {
  FileAttributes a;
  a.size = st.stx_size;
  a.modificationDate = toSeconds(st.stx_mtime);
  a.creationDate = (st.stx_mask & STATX_BTIME) ? toSeconds(st.stx_btime) : a.modificationDate;
  a.isDirectory = S_ISDIR(st.stx_mode);
  a.isRegularFile = S_ISREG(st.stx_mode);
  a.isSymbolicLink = S_ISLNK(st.stx_mode);
  a.permissions = st.stx_mode & 07777;
  return a;
}

int fsyncDirectory(const std::string& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  int rc = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  // Some file systems refuse fsync on folders; the rename is done anyway.
  return (rc == EINVAL || rc == EROFS) ? 0 : rc;
}

// Creates a unique hidden temporary file beside `path`. Returns the fd or -1
// with errno set; `tempPath` receives its name.
int openTempBeside(const std::string& path, std::string& tempPath) {
  std::string dir = parentPath(path);
  std::string name = lastPathComponent(path);
  std::string pattern = joinPath(dir, "." + name + ".XXXXXX");
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd >= 0) {
    tempPath.assign(buffer.data());
  }
  return fd;
}

// Copies a regular file into a new temporary file beside `to`; 0 or errno.
int copyToTemp(const std::string& from, const std::string& to, std::string& tempPath) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    return errno;
  }
  struct stat st {};
  ::fstat(in, &st);
  int out = openTempBeside(to, tempPath);
  if (out < 0) {
    int err = errno;
    ::close(in);
    return err;
  }
  int err = 0;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      err = errno;
      break;
    }
    if (n == 0) {
      break;
    }
    if ((err = writeAll(out, buffer, static_cast<size_t>(n))) != 0) {
      break;
    }
  }
  if (err == 0) {
    ::fchmod(out, st.st_mode & 07777);
    if (::fsync(out) != 0) {
      err = errno;
    }
  }
  ::close(in);
  ::close(out);
  if (err != 0) {
    ::unlink(tempPath.c_str());
  }
  return err;
}

std::optional<Error> atomicWrite(const std::string& path, const char* data, size_t size, mode_t mode) {
  if (path.empty()) {
    return errnoError(ENOENT, Op::Write, "write", path);
  }
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      return errnoError(EISDIR, Op::Write, "write", path);
    }
    mode = existing.st_mode & 07777;
  }
  std::string temp;
  int fd = openTempBeside(path, temp);
  if (fd < 0) {
    return errnoError(errno, Op::Write, "write", path);
  }
  int err = writeAll(fd, data, size);
  if (err == 0 && ::fchmod(fd, mode) != 0) {
    err = errno;
  }
  if (err == 0 && ::fsync(fd) != 0) {
    err = errno;
  }
  if (::close(fd) != 0 && err == 0) {
    err = errno;
  }
  if (err != 0) {
    ::unlink(temp.c_str());
    return errnoError(err, Op::Write, "write", path);
  }
  int pending = g_failBeforeRename.load();
  while (pending > 0 && !g_failBeforeRename.compare_exchange_weak(pending, pending - 1)) {
  }
  if (pending > 0) {
    return errnoError(EIO, Op::Write, "write (interrupted before rename)", path);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    err = errno;
    ::unlink(temp.c_str());
    return errnoError(err, Op::Write, "write", path);
  }
  if ((err = fsyncDirectory(parentPath(path))) != 0) {
    return errnoError(err, Op::Write, "sync the folder of", path);
  }
  return std::nullopt;
}

std::optional<Error> plainWrite(const std::string& path, const char* data, size_t size, mode_t mode) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    return errnoError(errno, Op::Write, "write", path);
  }
  int err = writeAll(fd, data, size);
  if (::close(fd) != 0 && err == 0) {
    err = errno;
  }
  if (err != 0) {
    return errnoError(err, Op::Write, "write", path);
  }
  return std::nullopt;
}

template <typename Entry, typename Make>
Result<std::vector<Entry>> listDirectory(const std::string& path, Make make) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) {
    return errnoError(errno, Op::Read, "list", path);
  }
  std::vector<Entry> entries;
  for (;;) {
    errno = 0;
    struct dirent* d = ::readdir(dir);
    if (d == nullptr) {
      int err = errno;
      ::closedir(dir);
      if (err != 0) {
        return errnoError(err, Op::Read, "list", path);
      }
      break;
    }
    std::string_view name = d->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    entries.push_back(make(std::string(name)));
  }
  return entries;
}

}  // namespace

bool exists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<Error> createDirectory(const std::string& path, bool intermediates, mode_t mode) {
  if (path.empty()) {
    return errnoError(ENOENT, Op::Write, "create the folder", path);
  }
  if (::mkdir(path.c_str(), mode) == 0) {
    return std::nullopt;
  }
  int err = errno;
  if (err == EEXIST) {
    if (intermediates && isDirectory(path)) {
      return std::nullopt;
    }
    return errnoError(EEXIST, Op::Write, "create the folder", path);
  }
  if (err != ENOENT || !intermediates) {
    return errnoError(err, Op::Write, "create the folder", path);
  }
  std::string parent = parentPath(path);
  if (parent.empty() || parent == path) {
    return errnoError(err, Op::Write, "create the folder", path);
  }
  if (auto e = createDirectory(parent, true, mode)) {
    return e;
  }
  if (::mkdir(path.c_str(), mode) != 0 && !(errno == EEXIST && isDirectory(path))) {
    return errnoError(errno, Op::Write, "create the folder", path);
  }
  return std::nullopt;
}

Result<Bytes> readFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return errnoError(errno, Op::Read, "read", path);
  }
  Bytes out;
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      ::close(fd);
      return errnoError(EISDIR, Op::Read, "read", path);
    }
    if (st.st_size > 0) {
      out.reserve(static_cast<size_t>(st.st_size));
    }
  }
  uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      int err = errno;
      ::close(fd);
      return errnoError(err, Op::Read, "read", path);
    }
    if (n == 0) {
      break;
    }
    out.insert(out.end(), buffer, buffer + n);
  }
  ::close(fd);
  return out;
}

Result<std::string> readTextFile(const std::string& path) {
  Result<Bytes> bytes = readFile(path);
  if (!bytes) {
    return bytes.error();
  }
  return std::string(bytes->begin(), bytes->end());
}

std::optional<Error> writeFile(const std::string& path, std::string_view contents, mode_t mode) {
  return plainWrite(path, contents.data(), contents.size(), mode);
}

std::optional<Error> writeFile(const std::string& path, const Bytes& contents, mode_t mode) {
  return plainWrite(path, reinterpret_cast<const char*>(contents.data()), contents.size(), mode);
}

std::optional<Error> writeFileAtomically(const std::string& path, std::string_view contents, mode_t mode) {
  return atomicWrite(path, contents.data(), contents.size(), mode);
}

std::optional<Error> writeFileAtomically(const std::string& path, const Bytes& contents, mode_t mode) {
  return atomicWrite(path, reinterpret_cast<const char*>(contents.data()), contents.size(), mode);
}

std::optional<Error> moveItem(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) {
    return errnoError(ENOENT, Op::Remove, "move", from);
  }
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return std::nullopt;
  }
  int err = errno;
  if (err == EINVAL || err == ENOSYS || err == EXDEV) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) {
      return errnoError(errno, Op::Remove, "move", from);
    }
    if (!S_ISREG(st.st_mode)) {
      // A folder cannot be hard-linked: check, then rename (best effort).
      if (err == EXDEV) {
        return errnoError(EXDEV, Op::Write, "move", from);
      }
      struct stat target {};
      if (::lstat(to.c_str(), &target) == 0) {
        return errnoError(EEXIST, Op::Write, "move to", to);
      }
      if (::rename(from.c_str(), to.c_str()) != 0) {
        return errnoError(errno, Op::Write, "move", from);
      }
      return std::nullopt;
    }
    std::string source = from;
    std::string temp;
    if (err == EXDEV) {
      if (int e = copyToTemp(from, to, temp); e != 0) {
        return errnoError(e, Op::Write, "move", from);
      }
      source = temp;
    }
    // link() never replaces an existing name.
    if (::link(source.c_str(), to.c_str()) != 0) {
      int e = errno;
      if (!temp.empty()) {
        ::unlink(temp.c_str());
      }
      return errnoError(e, Op::Write, "move to", to);
    }
    if (!temp.empty()) {
      ::unlink(temp.c_str());
    }
    ::unlink(from.c_str());
    return std::nullopt;
  }
  if (err == EEXIST || err == ENOTEMPTY) {
    return errnoError(EEXIST, Op::Write, "move to", to);
  }
  return errnoError(err, Op::Remove, "move", from);
}

std::optional<Error> removeItem(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
    return errnoError(path.empty() ? ENOENT : errno, Op::Remove, "remove", path);
  }
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  if (ec) {
    return errnoError(ec.value(), Op::Remove, "remove", path);
  }
  return std::nullopt;
}

Result<std::vector<std::string>> contentsOfDirectory(const std::string& path) {
  auto r = listDirectory<std::string>(path, [](std::string name) { return name; });
  if (r) {
    std::sort(r->begin(), r->end());
  }
  return r;
}

Result<std::vector<DirectoryEntry>> contentsOfDirectoryWithDates(const std::string& path) {
  auto r = listDirectory<DirectoryEntry>(path, [&](std::string name) {
    DirectoryEntry entry;
    struct statx st {};
    if (statxPath(joinPath(path, name), AT_SYMLINK_NOFOLLOW, &st) == 0) {
      entry.creationDate = attributesFrom(st).creationDate;
    }
    entry.name = std::move(name);
    return entry;
  });
  if (r) {
    std::sort(r->begin(), r->end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  }
  return r;
}

void walk(const std::string& root, const std::function<void(const WalkEntry&)>& visit,
          const std::function<void(const Error&)>& onError) {
  std::vector<std::string> pending{root};
  while (!pending.empty()) {
    std::string dir = std::move(pending.back());
    pending.pop_back();
    auto names = contentsOfDirectory(dir);
    if (!names) {
      if (onError) {
        onError(names.error());
      }
      continue;
    }
    // Visit in name order; push subfolders reversed so they pop in order.
    std::vector<std::string> subfolders;
    for (const std::string& name : *names) {
      if (name.empty() || name[0] == '.') {
        continue;
      }
      WalkEntry entry;
      entry.path = joinPath(dir, name);
      struct statx st {};
      if (int err = statxPath(entry.path, AT_SYMLINK_NOFOLLOW, &st); err != 0) {
        if (onError) {
          onError(errnoError(err, Op::Read, "examine", entry.path));
        }
        continue;
      }
      entry.isRegularFile = S_ISREG(st.stx_mode);
      entry.isDirectory = S_ISDIR(st.stx_mode);
      entry.size = st.stx_size;
      visit(entry);
      if (entry.isDirectory) {
        subfolders.push_back(entry.path);
      }
    }
    pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
  }
}

Result<FileAttributes> attributes(const std::string& path) {
  struct statx st {};
  if (path.empty()) {
    return errnoError(ENOENT, Op::Remove, "read the attributes of", path);
  }
  if (int err = statxPath(path, AT_SYMLINK_NOFOLLOW, &st); err != 0) {
    return errnoError(err, Op::Remove, "read the attributes of", path);
  }
  return attributesFrom(st);
}

Result<uint64_t> fileSize(const std::string& path) {
  auto a = attributes(path);
  if (!a) {
    return a.error();
  }
  return a->size;
}

std::optional<Error> excludeFromBackup(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
    return errnoError(path.empty() ? ENOENT : errno, Op::Remove, "exclude from backup", path);
  }
  return std::nullopt;
}

std::optional<Error> setPermissions(const std::string& path, mode_t mode) {
  if (::chmod(path.c_str(), mode & 07777) != 0) {
    return errnoError(errno, Op::Write, "change the permissions of", path);
  }
  return std::nullopt;
}

std::optional<Error> restrictToOwner(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode) || (st.st_mode & 077) == 0) {
    return std::nullopt;
  }
  return setPermissions(path, st.st_mode & 07700);
}

std::optional<Error> ensurePrivateFile(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    ::close(fd);
    return std::nullopt;
  }
  if (errno != EEXIST) {
    return errnoError(errno, Op::Write, "create", path);
  }
  return restrictToOwner(path);
}

double processStartTime() {
  static const double start = [] {
    // Field 22 of /proc/self/stat: clock ticks from boot to the start. The
    // boot moment is the wall clock minus the time since boot; truncating
    // the ticks can only make the start earlier, never later.
    double result = 0;
    std::FILE* file = std::fopen("/proc/self/stat", "re");
    if (file == nullptr) {
      return result;
    }
    char buffer[1024] = {};
    size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    std::string_view stat(buffer, n);
    size_t close = stat.rfind(')');  // the command name may hold spaces
    if (close == std::string_view::npos) {
      return result;
    }
    std::string rest(stat.substr(close + 2));
    unsigned long long ticks = 0;
    // Fields 3 to 21 come before the start time.
    if (std::sscanf(rest.c_str(), "%*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu",
                    &ticks) != 1) {
      return result;
    }
    timespec wall {}, boot {};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    const double bootedAt = (static_cast<double>(wall.tv_sec) - static_cast<double>(boot.tv_sec)) +
                            (static_cast<double>(wall.tv_nsec) - static_cast<double>(boot.tv_nsec)) / 1e9;
    // One second of slack for the two clock readings and a wall clock set meanwhile.
    return bootedAt + static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK)) - 1.0;
  }();
  return start;
}

size_t removeStaleTemporaryFiles(const std::string& folder,
                                 const std::function<bool(std::string_view name)>& isOwnName) {
  auto names = contentsOfDirectory(folder);
  if (!names) {
    return 0;
  }
  constexpr size_t kRandomPart = 6;  // the XXXXXX of mkostemp
  const double started = processStartTime();
  size_t removed = 0;
  for (const std::string& entry : *names) {
    std::string_view name(entry);
    if (name.size() < 1 + 1 + 1 + kRandomPart || name.front() != '.' || name[name.size() - kRandomPart - 1] != '.') {
      continue;
    }
    std::string_view random = name.substr(name.size() - kRandomPart);
    if (!std::all_of(random.begin(), random.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }) ||
        !isOwnName(name.substr(1, name.size() - kRandomPart - 2))) {
      continue;
    }
    std::string path = joinPath(folder, entry);
    struct statx st {};
    if (statxPath(path, AT_SYMLINK_NOFOLLOW, &st) != 0 || !S_ISREG(st.stx_mode) ||
        toSeconds(st.stx_mtime) >= started) {
      continue;
    }
    if (::unlink(path.c_str()) == 0) {
      ++removed;
    }
  }
  return removed;
}

size_t removeStaleTemporaryFilesOf(const std::string& path) {
  static auto* const mutex = new std::mutex();
  static auto* const looked = new std::set<std::string>();
  {
    std::lock_guard<std::mutex> lock(*mutex);
    if (!looked->insert(path).second) {
      return 0;
    }
  }
  const std::string fileName = lastPathComponent(path);
  return removeStaleTemporaryFiles(parentPath(path), [&](std::string_view name) { return name == fileName; });
}

Result<std::string> createTemporaryFile(const std::string& directory, const std::string& prefix) {
  std::string dir = directory.empty() ? temporaryDirectory() : directory;
  std::string pattern = joinPath(dir, (prefix.empty() ? std::string("tmp") : prefix) + ".XXXXXX");
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    return errnoError(errno, Op::Write, "create a temporary file in", dir);
  }
  ::close(fd);
  return std::string(buffer.data());
}

std::string temporaryDirectory() {
  const char* t = std::getenv("TMPDIR");
  if (t != nullptr && t[0] == '/') {
    return t;
  }
  return "/tmp";
}

std::string joinPath(std::string_view base, std::string_view component) {
  if (base.empty()) {
    return std::string(component);
  }
  std::string out(base);
  if (out.back() != '/') {
    out.push_back('/');
  }
  while (!component.empty() && component.front() == '/') {
    component.remove_prefix(1);
  }
  out.append(component);
  return out;
}

std::string parentPath(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') {
    path.remove_suffix(1);
  }
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    return ".";
  }
  if (slash == 0) {
    return "/";
  }
  return std::string(path.substr(0, slash));
}

std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') {
    path.remove_suffix(1);
  }
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos || path == "/" ? path : path.substr(slash + 1));
}

std::string pathExtension(std::string_view path) {
  std::string name = lastPathComponent(path);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || name == "/") {
    return {};
  }
  return name.substr(dot + 1);
}

std::string appendingPathExtension(std::string_view path, std::string_view extension) {
  while (path.size() > 1 && path.back() == '/') {
    path.remove_suffix(1);
  }
  std::string name = lastPathComponent(path);
  if (extension.empty() || path.empty() || name == "/" || name == "." || name == "..") {
    return std::string(path);
  }
  return std::string(path) + "." + std::string(extension);
}

namespace testing {
void failAtomicWritesBeforeRename(int count) { g_failBeforeRename.store(count); }
}  // namespace testing

}  // namespace platform::fs
