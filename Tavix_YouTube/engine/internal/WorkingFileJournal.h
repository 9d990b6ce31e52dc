// WorkingFileJournal: which download names of a running download manager are
// unfinished, kept on disk so that the working files a quit or a kill leaves
// behind (".part", "-Frag", ".ytdl", a cut final file ...) are removed at the
// next start.
//
// A name is a folder and a stem; its working files are the regular files of
// that folder named stem + "." + anything (the downloader names every file of
// a download so; a name is reserved only while no other file or name begins
// with its stem and "." or "_", see DownloadManager).
//
// Each manager keeps one record, "<id>.json" in the journal folder, and holds
// a lock on "<id>.lock" from its first record on (taken before the record is
// written, so a record is never seen without its lock held while its manager
// lives). record() replaces the record in one atomic rename. removeLeftovers()
// looks at every record whose lock it can take (its manager is gone, however
// it ended): it removes the working files the record names, then the record,
// then the lock file. Destruction releases the lock and keeps the record.
//
// A record is JSON: {"names":[{"folder":"/abs","stem":"X_720"}, ...]}.
// decode() takes at most kMaxRecordBytes, kMaxNames names and absolute
// folders and plain stems (no "/", not "." or ".."); anything else is no
// record, and a damaged record removes nothing.
//
// Thread safety: one journal per manager, on the manager's thread; the
// static functions are safe from any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class FileLock;
}

namespace tavix::engine_internal {

struct WorkingName {
  std::string folder;  // absolute, "~" expanded
  std::string stem;
  bool operator==(const WorkingName&) const = default;
};

class WorkingFileJournal {
 public:
  static constexpr size_t kMaxRecordBytes = 1024 * 1024;
  static constexpr size_t kMaxNames = 10000;

  explicit WorkingFileJournal(std::string folder);
  ~WorkingFileJournal();
  WorkingFileJournal(const WorkingFileJournal&) = delete;
  WorkingFileJournal& operator=(const WorkingFileJournal&) = delete;

  // The journal folder of this user: <Application Support>/WorkingFiles.
  static std::string defaultFolder();

  // Number of working files removed.
  size_t removeLeftovers();
  // Replaces this manager's record; unchanged names write nothing.
  void record(const std::vector<WorkingName>& names);

  static std::string encode(const std::vector<WorkingName>& names);
  static std::optional<std::vector<WorkingName>> decode(std::string_view bytes);
  // Paths of the working files of `name`, sorted.
  static std::vector<std::string> workingFiles(const WorkingName& name);

 private:
  const std::string m_folder;
  const std::string m_id;
  std::unique_ptr<platform::FileLock> m_lock;
  std::optional<std::string> m_written;  // the record as last written
};

}  // namespace tavix::engine_internal
