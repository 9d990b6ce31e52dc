// platform::fs: file and folder operations on POSIX paths.
//
// Every operation returns its failure as a FileError (see FileError.h): code
// 4 / 260 for a missing item, 516 for an item that exists already.
//  - writeFileAtomically writes a temporary file in the destination folder
//    (named ".<name>.XXXXXX", hidden), fsyncs it, renames it over the
//    destination and fsyncs the folder: readers see the old or the new
//    contents, never a mix, and a crash leaves the old file intact. An
//    existing destination keeps its permission bits.
//  - moveItem never replaces an existing destination (renameat2 with
//    RENAME_NOREPLACE; link + unlink where the file system lacks it; a copy
//    for regular files across file systems). It fails with 516 instead.
//  - removeItem removes recursively; a missing item fails with code 4.
//  - walk visits every item below a folder, skipping hidden items (names
//    starting with '.') and not descending into hidden folders or symbolic
//    links; unreadable folders are skipped and reported to `onError`.
//  - excludeFromBackup is a no-op that succeeds for an existing item.
//
// Thread safety: all functions may be called from any thread; they keep no
// state except the test fault hook, which is atomic.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/values/Error.h"
#include "platform/values/Value.h"

namespace platform::fs {

struct FileAttributes {
  uint64_t size = 0;
  double creationDate = 0;      // seconds since 1970 (birth time, else modification time)
  double modificationDate = 0;  // seconds since 1970
  bool isDirectory = false;
  bool isRegularFile = false;
  bool isSymbolicLink = false;
  uint32_t permissions = 0;     // mode & 07777
};

struct DirectoryEntry {
  std::string name;
  std::optional<double> creationDate;  // empty when the entry could not be examined
};

struct WalkEntry {
  std::string path;
  bool isRegularFile = false;
  bool isDirectory = false;
  uint64_t size = 0;
};

bool exists(const std::string& path);       // follows symbolic links
bool isDirectory(const std::string& path);  // follows symbolic links

// Creates the folder; with `intermediates` also its missing parents, and an
// existing folder counts as success. Without it, an existing item fails (516).
std::optional<Error> createDirectory(const std::string& path, bool intermediates = true,
                                     mode_t mode = 0755);

Result<Bytes> readFile(const std::string& path);
Result<std::string> readTextFile(const std::string& path);

// Plain write: truncate and write in place (not crash safe).
std::optional<Error> writeFile(const std::string& path, std::string_view contents, mode_t mode = 0644);
std::optional<Error> writeFile(const std::string& path, const Bytes& contents, mode_t mode = 0644);

// Crash-safe replacement, see above. `mode` applies to a new file.
std::optional<Error> writeFileAtomically(const std::string& path, std::string_view contents,
                                         mode_t mode = 0644);
std::optional<Error> writeFileAtomically(const std::string& path, const Bytes& contents,
                                         mode_t mode = 0644);

std::optional<Error> moveItem(const std::string& from, const std::string& to);
std::optional<Error> removeItem(const std::string& path);

// One level, hidden items included, "." and ".." excluded, sorted by name.
Result<std::vector<std::string>> contentsOfDirectory(const std::string& path);
Result<std::vector<DirectoryEntry>> contentsOfDirectoryWithDates(const std::string& path);

void walk(const std::string& root, const std::function<void(const WalkEntry&)>& visit,
          const std::function<void(const Error&)>& onError = {});

// Attributes of the item itself (a symbolic link is not followed).
Result<FileAttributes> attributes(const std::string& path);
Result<uint64_t> fileSize(const std::string& path);

std::optional<Error> excludeFromBackup(const std::string& path);
std::optional<Error> setPermissions(const std::string& path, mode_t mode);
// Takes every permission of group and others from the file or folder at
// `path` (a 0644 file becomes 0600, a 0755 folder 0700); the owner's bits are
// kept. A missing item or a symbolic link is left alone. Stores holding
// identifiers or secrets call it on their folder and files when they open
// them, so that a copy once made wider does not stay so.
std::optional<Error> restrictToOwner(const std::string& path);
// Before a library (SQLite) opens or creates a store's file that holds
// identifiers or secrets: a missing file is created empty with mode 0600 (its
// folder must exist), an existing one is restricted to its owner. Files the
// library later makes beside it (journals) take the file's mode.
std::optional<Error> ensurePrivateFile(const std::string& path);

// Removes what writeFileAtomically left in `folder` when a process died
// between writing a temporary file and renaming it: regular files named
// ".<name>.XXXXXX" (six letters or digits) for which isOwnName(<name>) holds
// and that were last changed before the current process started, so a write
// in progress (of this process or a newer one) is never touched. Returns how
// many were removed; a missing folder removes nothing.
size_t removeStaleTemporaryFiles(const std::string& folder,
                                 const std::function<bool(std::string_view name)>& isOwnName);
// The same for the writes of the one file at `path`, looked for the first
// time the path is given in this process only.
size_t removeStaleTemporaryFilesOf(const std::string& path);
// When the current process started, in seconds since 1970 (never later).
double processStartTime();

// Creates an empty file with a unique name in `directory` (default: the
// temporary folder), mode 0600; returns its path.
Result<std::string> createTemporaryFile(const std::string& directory = {},
                                        const std::string& prefix = "tmp");
// $TMPDIR when it is absolute, else "/tmp".
std::string temporaryDirectory();

// Path helpers.
std::string joinPath(std::string_view base, std::string_view component);
std::string parentPath(std::string_view path);
std::string lastPathComponent(std::string_view path);
// The extension of the last component ("a/b.plist" -> "plist"); empty when
// the name has no dot or starts with its only dot (".hidden").
std::string pathExtension(std::string_view path);
// `path` + "." + `extension`, trailing slashes dropped; `path` unchanged when
// it is empty, "/" or ends in "." or "..", or when `extension` is empty.
std::string appendingPathExtension(std::string_view path, std::string_view extension);

namespace testing {
// Makes the next `count` atomic writes stop right before the rename, as if
// the process died there: the temporary file stays behind and an error is
// returned. Tests only.
void failAtomicWritesBeforeRename(int count);
}  // namespace testing

}  // namespace platform::fs
