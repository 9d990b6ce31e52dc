#include "Tavix_YouTube/engine/internal/WorkingFileJournal.h"

#include <algorithm>

#include "platform/log/Console.h"
#include "platform/storage/FileLock.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/Json.h"
#include "platform/storage/StandardFolders.h"
#include "platform/text/Uuid.h"

namespace tavix::engine_internal {

namespace {

constexpr std::string_view kRecordExtension = ".json";
constexpr std::string_view kLockExtension = ".lock";
constexpr size_t kMaxTextBytes = 4096;

bool isPlainStem(std::string_view stem) {
  return !stem.empty() && stem.size() <= kMaxTextBytes && stem != "." && stem != ".." &&
         stem.find('/') == std::string_view::npos && stem.find('\0') == std::string_view::npos;
}

bool isAbsoluteFolder(std::string_view folder) {
  return !folder.empty() && folder.size() <= kMaxTextBytes && folder.front() == '/' &&
         folder.find('\0') == std::string_view::npos;
}

}  // namespace

WorkingFileJournal::WorkingFileJournal(std::string folder)
    : m_folder(std::move(folder)), m_id(platform::Uuid::random().string()) {}

WorkingFileJournal::~WorkingFileJournal() = default;

std::string WorkingFileJournal::defaultFolder() {
  return platform::fs::joinPath(platform::StandardFolders::applicationSupport(), "WorkingFiles");
}

std::string WorkingFileJournal::encode(const std::vector<WorkingName>& names) {
  platform::Array list;
  for (const WorkingName& name : names) {
    list.append(platform::Value::dict({{"folder", platform::Value(name.folder)}, {"stem", platform::Value(name.stem)}}));
  }
  return platform::Json::serialize(platform::Value::dict({{"names", platform::Value(list)}})).value();
}

std::optional<std::vector<WorkingName>> WorkingFileJournal::decode(std::string_view bytes) {
  if (bytes.size() > kMaxRecordBytes) return std::nullopt;
  platform::JsonReadOptions options;
  options.maxDepth = 4;
  auto parsed = platform::Json::parse(bytes, options);
  if (!parsed.ok()) return std::nullopt;
  std::optional<platform::Array> list = parsed.value()["names"].asArray();
  if (!list || list->size() > kMaxNames) return std::nullopt;
  std::vector<WorkingName> names;
  names.reserve(list->size());
  for (const platform::Value& entry : *list) {
    const std::string* folder = entry["folder"].asString();
    const std::string* stem = entry["stem"].asString();
    if (!folder || !stem || !isAbsoluteFolder(*folder) || !isPlainStem(*stem)) return std::nullopt;
    names.push_back({*folder, *stem});
  }
  return names;
}

std::vector<std::string> WorkingFileJournal::workingFiles(const WorkingName& name) {
  std::vector<std::string> paths;
  auto listing = platform::fs::contentsOfDirectory(name.folder);
  if (!listing.ok()) return paths;
  const std::string prefix = name.stem + ".";
  for (const std::string& file : listing.value()) {
    if (file.size() <= prefix.size() || file.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string path = platform::fs::joinPath(name.folder, file);
    auto attributes = platform::fs::attributes(path);
    if (attributes.ok() && attributes.value().isRegularFile) paths.push_back(path);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

size_t WorkingFileJournal::removeLeftovers() {
  auto listing = platform::fs::contentsOfDirectory(m_folder);
  if (!listing.ok()) return 0;
  size_t removed = 0;
  for (const std::string& file : listing.value()) {
    if (file.size() <= kRecordExtension.size() || !file.ends_with(kRecordExtension)) continue;
    const std::string id = file.substr(0, file.size() - kRecordExtension.size());
    if (id == m_id) continue;
    const std::string record = platform::fs::joinPath(m_folder, file);
    const std::string lockPath = platform::fs::joinPath(m_folder, id + std::string(kLockExtension));
    std::unique_ptr<platform::FileLock> lock = platform::FileLock::tryLock(lockPath);
    if (!lock) continue;  // its manager still runs
    auto size = platform::fs::fileSize(record);
    auto bytes = size.ok() && size.value() <= kMaxRecordBytes ? platform::fs::readTextFile(record)
                                                               : platform::Result<std::string>(std::string());
    if (auto names = bytes.ok() ? decode(bytes.value()) : std::nullopt) {
      for (const WorkingName& name : *names) {
        for (const std::string& path : workingFiles(name)) {
          if (platform::fs::removeItem(path)) continue;
          platform::console::line("🧹 Removed working file of an unfinished download: " + path);
          ++removed;
        }
      }
    }
    // The files first, then the record that names them, then its lock.
    (void)platform::fs::removeItem(record);
    (void)platform::fs::removeItem(lockPath);
  }
  return removed;
}

void WorkingFileJournal::record(const std::vector<WorkingName>& names) {
  std::string text = encode(names);
  if (text == m_written) return;
  if (!m_lock) {
    if (platform::fs::createDirectory(m_folder, true, 0700)) return;
    m_lock = platform::FileLock::tryLock(platform::fs::joinPath(m_folder, m_id + std::string(kLockExtension)));
    if (!m_lock) return;
  }
  if (platform::fs::writeFileAtomically(platform::fs::joinPath(m_folder, m_id + std::string(kRecordExtension)), text,
                                        0600)) {
    return;
  }
  m_written = std::move(text);
}

}  // namespace tavix::engine_internal
