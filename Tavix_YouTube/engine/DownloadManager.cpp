#include "Tavix_YouTube/engine/DownloadManager.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "Tavix_YouTube/engine/Utf8ChunkDecoder.h"
#include "Tavix_YouTube/engine/internal/AppBundle.h"
#include "Tavix_YouTube/engine/internal/MediaCheck.h"
#include "Tavix_YouTube/engine/internal/OutputScanner.h"
#include "Tavix_YouTube/engine/internal/TextLines.h"
#include "Tavix_YouTube/engine/internal/ThumbnailLoader.h"
#include "Tavix_YouTube/engine/internal/WorkingFileJournal.h"
#include "platform/dispatch/CancelHandle.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/log/Console.h"
#include "platform/storage/FileError.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"
#include "platform/text/NumberText.h"
#include "platform/text/Unicode.h"
#include "platform/text/Url.h"
#include "platform/time/Clock.h"
#include "platform/time/DateFormatter.h"

namespace tavix {

using engine_internal::contains;
using engine_internal::removeAll;
using engine_internal::splitLines;
using engine_internal::trimmed;
using platform::console::line;

namespace {

// Standard-error text of one run: appended on the reader thread, read on the
// main thread when the run's end is handled.
class ErrorBuffer {
 public:
  void append(std::string_view text) {
    std::lock_guard lock(m_mutex);
    m_text.append(text);
  }
  std::string text() const {
    std::lock_guard lock(m_mutex);
    return m_text;
  }

 private:
  mutable std::mutex m_mutex;
  std::string m_text;
};

enum class Site { instagram, tiktok, facebook, youtube, other };

Site siteOf(std::string_view url) {
  if (contains(url, "instagram.com")) return Site::instagram;
  if (contains(url, "tiktok.com")) return Site::tiktok;
  if (contains(url, "facebook.com") || contains(url, "fb.watch")) return Site::facebook;
  if (contains(url, "youtube.com") || contains(url, "youtu.be")) return Site::youtube;
  return Site::other;
}

// Quality label of a file name: the display name without lowercase "p".
std::string labelOf(Quality quality) { return removeAll(quality.localizedName(), "p"); }

std::string bracketed(const std::vector<std::string>& arguments) {
  std::string text = "[";
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i) text += ", ";
    text += "\"" + arguments[i] + "\"";
  }
  return text + "]";
}

// `text` without any occurrence of `part`, written into `buffer`.
const std::string& removingAll(std::string_view text, std::string_view part, std::string& buffer) {
  buffer.clear();
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part)) {
    buffer.append(text.substr(0, at));
    text.remove_prefix(at + part.size());
  }
  buffer.append(text);
  return buffer;
}

// A short child process of the manager (title query, file check): standard
// output to a pipe, and a process group of its own, so stopping it (at quit)
// reaches whatever it starts too.
std::shared_ptr<platform::Task> childProcess(const std::string& executable, std::vector<std::string> arguments,
                                             platform::Task::Output standardError) {
  auto task = std::make_shared<platform::Task>();
  task->setExecutablePath(executable);
  task->setArguments(std::move(arguments));
  task->setStandardOutput(platform::Task::Output::pipe);
  task->setStandardError(standardError);
  task->setOwnProcessGroup(true);
  return task;
}

std::string pathExtension(std::string_view path) {
  std::string name = platform::fs::lastPathComponent(path);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

}  // namespace

namespace {
// The display names of the six statuses, looked up once for a pass over the
// list; statuses compare through them, as everywhere in the engine.
class StatusNames {
 public:
  StatusNames() {
    for (const DownloadStatus& status : DownloadStatus::allCases()) m_names[index(status)] = status.localizedName();
  }
  bool equal(const DownloadStatus& a, const DownloadStatus& b) const { return m_names[index(a)] == m_names[index(b)]; }

 private:
  static size_t index(const DownloadStatus& status) { return static_cast<size_t>(status.caseValue()); }
  std::array<std::string, 6> m_names;
};
}  // namespace

struct DownloadManager::Run {
  uint64_t number = 0;
  std::shared_ptr<DownloadItem> item;
  std::shared_ptr<platform::Task> task;
  std::string outputPath;
  ErrorBuffer errors;
  bool durationSeen = false;
  std::optional<double> reportedDuration;  // the video's, as the downloader reported it
  std::shared_ptr<platform::Task> check;   // the media tool checking the finished file
  platform::CancelHandle checkTimeout;
};

// ---------------------------------------------------------------- queue

DownloadManager::DownloadManager() = default;

DownloadManager::~DownloadManager() {
  m_cancellables.clear();
  platform::NotificationCenter::defaultCenter().removeObserver(m_retryObserver);
}

std::shared_ptr<DownloadManager> DownloadManager::create() {
  std::shared_ptr<DownloadManager> manager(new DownloadManager());
  manager->subscribe();
  // What the downloads of managers gone before left unfinished is garbage now.
  manager->m_journal =
      std::make_unique<engine_internal::WorkingFileJournal>(engine_internal::WorkingFileJournal::defaultFolder());
  manager->m_journal->removeLeftovers();
  return manager;
}

void DownloadManager::subscribe() {
  std::weak_ptr<DownloadManager> weak = weak_from_this();
  downloads
      .subscribe([weak](const DownloadList& next) {
        if (auto self = weak.lock()) {
          self->processQueue();
          self->listChanged(next);
        }
      })
      .store(m_cancellables);
  m_retryObserver = platform::NotificationCenter::defaultCenter().addObserver(
      DownloadItem::kRetryDownloadNotification, {}, [weak](const platform::Notification&) {
        if (auto self = weak.lock()) self->processQueue();
      });
}

void DownloadManager::addDownload(const std::string& url, Quality quality) {
  std::string cleaned = cleanURL(url);
  auto item = std::make_shared<DownloadItem>(cleaned, quality);
  item->m_manager = weak_from_this();
  DownloadList list = downloads.get();
  list.push_back(item);
  downloads.set(std::move(list));
  ensureToolThenQueue(item);
}

void DownloadManager::ensureToolThenQueue(const std::shared_ptr<DownloadItem>& item) {
  if (engine_internal::resourcePath("yt-dlp")) {
    processQueue();
    fetchRealTitle(item);
  } else {
    item->status.set(DownloadStatus::failed);
    item->errorMessage.set("yt-dlp not found");
  }
}

void DownloadManager::clearCompleted() {
  const StatusNames names;
  DownloadList kept;
  downloads.read([&](const DownloadList& list) {
    for (const auto& item : list) {
      DownloadStatus status = item->status.get();
      if (names.equal(status, DownloadStatus::completed) || names.equal(status, DownloadStatus::failed) ||
          names.equal(status, DownloadStatus::cancelled)) {
        continue;
      }
      kept.push_back(item);
    }
  });
  downloads.set(std::move(kept));
}

void DownloadManager::removeDownload(const platform::Uuid& id) {
  DownloadList list = downloads.get();
  std::erase_if(list, [&](const auto& item) { return item->id == id; });
  downloads.set(std::move(list));
}

void DownloadManager::processQueue() {
  const int running = static_cast<int>(m_currentDownloads.size());
  const int freeSlots = std::max(0, maxConcurrentDownloads - running);
  // One pass over the list without copying it; only the items to start are kept.
  const StatusNames names;
  size_t queued = 0;
  DownloadList toStart;
  downloads.read([&](const DownloadList& list) {
    for (const auto& item : list) {
      if (!names.equal(item->status.get(), DownloadStatus::queued)) continue;
      if (queued++ < static_cast<size_t>(freeSlots)) toStart.push_back(item);
    }
  });
  line("🔄 Processing queue:");
  line("   Queued items: " + std::to_string(queued));
  line("   Available slots: " + std::to_string(freeSlots));
  line("   Current downloads: " + std::to_string(running));
  for (const auto& item : toStart) {
    std::string title = item->videoTitle.get();
    line("   Starting download for: " + (title.empty() ? item->url.get() : title));
    startDownload(item);
  }
}

void DownloadManager::listChanged(const DownloadList& next) {
  // Delivered before the new list is stored: downloads.get() is the old one.
  if (m_reservations.empty()) return;
  DownloadList dropped;
  downloads.read([&](const DownloadList& old) {
    // An addition keeps every item where it was: nothing is dropped.
    if (next.size() >= old.size() && std::equal(old.begin(), old.end(), next.begin())) return;
    std::unordered_set<platform::Uuid> kept;
    kept.reserve(next.size());
    for (const auto& item : next) kept.insert(item->id);
    for (const auto& item : old) {
      if (!kept.count(item->id)) dropped.push_back(item);
    }
  });
  for (const auto& item : dropped) {
    auto reservation = m_reservations.find(item->id);
    if (reservation == m_reservations.end()) continue;
    reservation->second.listed = false;
    // No retry can resume a removed item's working files.
    reservation->second.discard = true;
    releaseIfUnused(item->id);
  }
}

void DownloadManager::releaseIfUnused(const platform::Uuid& id) {
  // A name stays reserved while its item is listed or its downloader runs.
  auto reservation = m_reservations.find(id);
  if (reservation == m_reservations.end()) return;
  removeDiscardedFiles(reservation->second);
  if (!reservation->second.listed && reservation->second.runs == 0) {
    m_reservations.erase(reservation);
    recordWorkingNames();
  }
}

void DownloadManager::discardWorkingFiles(const platform::Uuid& id) {
  auto reservation = m_reservations.find(id);
  if (reservation == m_reservations.end()) return;
  reservation->second.discard = true;
  removeDiscardedFiles(reservation->second);
}

void DownloadManager::removeDiscardedFiles(Reservation& reservation) {
  // Only once the downloader has ended (it would write them again), and
  // never the files of a finished download.
  if (!reservation.discard || reservation.runs > 0 || reservation.lastRunSucceeded) return;
  reservation.discard = false;
  for (const std::string& path : engine_internal::WorkingFileJournal::workingFiles(
           {reservation.expandedFolder, reservation.stem})) {
    if (!platform::fs::removeItem(path)) line("🧹 Removed working file: " + path);
  }
}

void DownloadManager::recordWorkingNames() {
  if (!m_journal) return;
  std::vector<engine_internal::WorkingName> names;
  for (const auto& [id, reservation] : m_reservations) {
    if (!reservation.lastRunSucceeded) names.push_back({reservation.expandedFolder, reservation.stem});
  }
  std::sort(names.begin(), names.end(),
            [](const auto& a, const auto& b) { return std::tie(a.folder, a.stem) < std::tie(b.folder, b.stem); });
  m_journal->record(names);
}

void DownloadManager::adopt(const std::shared_ptr<platform::Task>& child) {
  std::erase_if(m_children, [](const std::weak_ptr<platform::Task>& known) { return known.expired(); });
  m_children.push_back(child);
}

void DownloadManager::stopProcesses(double graceSeconds) {
  std::vector<std::shared_ptr<platform::Task>> running;
  for (const auto& known : m_children) {
    if (auto child = known.lock(); child && child->isRunning()) running.push_back(child);
  }
  for (const auto& child : running) child->terminate();
  auto waitFor = [&](double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::any_of(running.begin(), running.end(), [](const auto& child) { return child->isRunning(); }) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  waitFor(graceSeconds);
  for (const auto& child : running) child->kill();
  waitFor(1);
}

// ---------------------------------------------------------------- folder

void DownloadManager::chooseCustomFolder() {
  if (!m_folderPanel) return;
  FolderPanelOptions options;
  options.canChooseDirectories = true;
  options.canChooseFiles = false;
  options.canCreateDirectories = true;
  options.allowsMultipleSelection = false;
  options.prompt = "Выбрать папку";
  options.title = "Выбор папки для загрузок";
  std::optional<std::string> chosen = m_folderPanel->runModal(options);
  if (!chosen || chosen->empty()) return;
  // The home folder becomes "~" only as the path's leading component: in
  // "/home/ann2/x" the text "/home/ann" is no home folder.
  std::string home = platform::StandardFolders::home();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  std::string folder = *chosen;
  if (!home.empty() && home != "/" && folder.compare(0, home.size(), home) == 0 &&
      (folder.size() == home.size() || folder[home.size()] == '/')) {
    folder = "~" + folder.substr(home.size());
  }
  downloadFolder.set(folder);
  downloadFolderDisplayName.set(platform::fs::lastPathComponent(*chosen));
}

void DownloadManager::setFolderPreset(FolderPreset preset) {
  switch (preset) {
    case FolderPreset::downloads:
      downloadFolder.set("~/Downloads");
      downloadFolderDisplayName.set("Загрузки");
      break;
    case FolderPreset::documents:
      downloadFolder.set("~/Documents");
      downloadFolderDisplayName.set("Документы");
      break;
    case FolderPreset::desktop:
      downloadFolder.set("~/Desktop");
      downloadFolderDisplayName.set("Рабочий стол");
      break;
    case FolderPreset::movies:
      downloadFolder.set("~/Movies");
      downloadFolderDisplayName.set("Фильмы");
      break;
  }
}

// ---------------------------------------------------------------- invocation

std::string DownloadManager::cleanURL(const std::string& text) {
  std::optional<platform::Url> url = platform::Url::parse(text);
  if (!url) return text;
  auto items = url->queryItems();
  if (!items) return text;
  auto v = std::find_if(items->begin(), items->end(), [](const auto& item) { return item.name == "v"; });
  if (v == items->end() || !v->value) return text;
  platform::Url cleaned = *url;
  cleaned.setUser(std::nullopt);
  cleaned.setPassword(std::nullopt);
  cleaned.setPort(std::nullopt);
  cleaned.setFragment(std::nullopt);
  // The value keeps the text it was written with: encoding the decoded value
  // again would turn a "+" (a space to most servers) into "%2B".
  std::string_view rawQuery = *url->percentEncodedQuery();
  for (auto at = items->begin(); at != v; ++at) rawQuery.remove_prefix(rawQuery.find('&') + 1);
  std::string_view rawItem = rawQuery.substr(0, rawQuery.find('&'));
  if (!cleaned.setPercentEncodedQuery("v=" + std::string(rawItem.substr(rawItem.find('=') + 1)))) {
    cleaned.setQueryItems(std::vector<platform::Url::QueryItem>{{"v", v->value}});
  }
  std::string result = cleaned.string();
  if (result.empty()) result = text;
  line("🔗 URL cleaning in DownloadManager:");
  line("   Original: " + text);
  line("   Cleaned:  " + result);
  return result;
}

std::string DownloadManager::fallbackTitle(std::string_view url) {
  switch (siteOf(url)) {
    case Site::instagram: return "Instagram_Video";
    case Site::tiktok: return "TikTok_Video";
    case Site::facebook: return "Facebook_Video";
    case Site::youtube: return "YouTube_Video";
    case Site::other: break;
  }
  return "Downloaded_Video";
}

std::string DownloadManager::formatSelector(std::string_view url, Quality quality) {
  switch (siteOf(url)) {
    case Site::instagram:
      line("📷 Instagram detected: using best available quality");
      return "best[ext=mp4]/best";
    case Site::tiktok:
      line("🎵 TikTok detected: using best available quality");
      return "best[ext=mp4]/best";
    case Site::facebook:
      line("📘 Facebook detected: using best available quality");
      return "best[ext=mp4]/best";
    case Site::youtube:
    case Site::other:
      break;
  }
  line("📺 YouTube detected: using quality-specific format");
  switch (quality.caseValue()) {
    case Quality::Case::mp3: return "bestaudio[ext=m4a]/bestaudio";
    case Quality::Case::p360: return "18/b[height<=360]";
    case Quality::Case::p480: return "bv*[height<=480][ext=mp4]+ba*[ext=m4a]/b[height<=480]";
    case Quality::Case::p720: return "bv*[height<=720][ext=mp4]+ba*[ext=m4a]/b[height<=720]";
    case Quality::Case::p1080: return "bv*[height<=1080][ext=mp4]+ba*[ext=m4a]/b[height<=1080]";
    case Quality::Case::best: break;
  }
  return "bv*[ext=mp4]+ba*[ext=m4a]/18";
}

std::optional<std::string> DownloadManager::ffmpegResourcePath() {
  std::optional<std::string> path = engine_internal::resourcePath("ffmpeg");
  if (!path) line("❌ Не смог получить путь к executable");
  return path;
}

std::optional<platform::Error> DownloadManager::launch(platform::Task& process) {
  return m_launcher ? m_launcher(process) : process.launch();
}

void DownloadManager::startDownload(const std::shared_ptr<DownloadItem>& item) {
  std::optional<std::string> downloader = engine_internal::resourcePath("yt-dlp");
  if (!downloader) {
    item->status.set(DownloadStatus::failed);
    item->errorMessage.set("yt-dlp not found");
    return;
  }
  const std::string url = item->url.get();
  if (item->videoTitle.get().empty()) {
    item->videoTitle.set(fallbackTitle(url));
    line("🔗 Starting download with fallback title: '" + item->videoTitle.get() + "'");
  }
  if (item->displayTitle.get().empty()) item->displayTitle.set(url);

  auto run = std::make_shared<Run>();
  run->number = m_nextRun++;
  run->item = item;
  item->status.set(DownloadStatus::downloading);
  m_currentDownloads.emplace(run->number, item->id);
  item->m_activeRun = run->number;

  const std::string title = item->videoTitle.get();
  line("🎬 Starting download with title: '" + title + "'");

  run->task = std::make_shared<platform::Task>();
  item->setDownloadProcess(run->task);
  run->task->setExecutablePath(*downloader);

  const Quality quality = item->quality.get();
  const bool audioOnly = quality == Quality::mp3;
  const std::string extension = audioOnly ? "mp3" : "mp4";
  const std::string label = audioOnly ? "MP3" : labelOf(quality);
  const std::string folder = downloadFolder.get();
  std::string fileName;
  auto reserved = m_reservations.find(item->id);
  if (reserved != m_reservations.end() && reserved->second.folder == folder) {
    // A retry resumes its own working files under the name it had, but never
    // takes a final file that its last run did not finish as done.
    fileName = reserved->second.fileName;
    if (!reserved->second.lastRunSucceeded) {
      const std::string unfinished = platform::StandardFolders::expandTilde(folder + "/" + fileName);
      if (platform::fs::exists(unfinished)) {
        line("🧹 Removing unfinished file: " + unfinished);
        (void)platform::fs::removeItem(unfinished);
      }
    }
  } else {
    fileName = uniqueFilename(title, label, extension, &item->id);
    reserve(item->id, fileName, extension);
  }
  Reservation& reservation = m_reservations[item->id];
  reservation.runs += 1;
  reservation.lastRunSucceeded = false;
  reservation.discard = false;  // a new start resumes them
  recordWorkingNames();
  run->outputPath = folder + "/" + fileName;
  item->filePath.set(run->outputPath);

  std::vector<std::string> arguments{"-f", formatSelector(url, quality), "--output", run->outputPath, "--progress"};
  if (audioOnly) {
    for (const char* argument : {"--extract-audio", "--audio-format", "mp3", "--audio-quality", "0"}) {
      arguments.emplace_back(argument);
    }
  }
  if (std::optional<std::string> ffmpeg = ffmpegResourcePath()) {
    std::string ffmpegFolder = platform::fs::parentPath(*ffmpeg);
    arguments.emplace_back("--ffmpeg-location");
    arguments.push_back(ffmpegFolder);
    line("Using bundled ffmpeg directory: " + ffmpegFolder);
  }
  // The video's duration, on a line of its own in the output, for the check
  // of the finished file.
  for (const char* argument : {"--print-to-file", "video:[duration] %(duration)s", "/dev/stdout"}) {
    arguments.emplace_back(argument);
  }
  arguments.emplace_back("--continue");

  line("🚀 Starting download:");
  line("   Video: " + title);
  line("   Final path: " + run->outputPath);
  line("   yt-dlp arguments: " + bracketed(arguments));

  // "--" ends the options: an address beginning with "-" stays an address.
  arguments.emplace_back("--");
  arguments.push_back(url);
  run->task->setArguments(std::move(arguments));
  run->task->setStandardOutput(platform::Task::Output::pipe);
  run->task->setStandardError(platform::Task::Output::pipe);
  // Terminating (pause, cancel) then reaches the media tool the downloader started too.
  run->task->setOwnProcessGroup(true);

  std::weak_ptr<DownloadManager> weak = weak_from_this();
  auto stdoutDecoder = std::make_shared<Utf8ChunkDecoder>();
  run->task->setStdoutHandler([weak, run = std::weak_ptr<Run>(run), stdoutDecoder](std::string_view bytes) {
    if (bytes.empty()) {
      stdoutDecoder->finish();
      return;
    }
    std::optional<std::string> text = stdoutDecoder->decode(bytes);
    if (!text) return;
    platform::mainQueue().async([weak, run, text = std::move(*text)] {
      auto self = weak.lock();
      auto strongRun = run.lock();
      if (self && strongRun) self->handleOutput(strongRun, text);
    });
  });
  auto stderrDecoder = std::make_shared<Utf8ChunkDecoder>();
  std::weak_ptr<Run> weakRun = run;
  run->task->setStderrHandler([weakRun, stderrDecoder](std::string_view bytes) {
    if (bytes.empty()) {
      stderrDecoder->finish();
      return;
    }
    std::optional<std::string> text = stderrDecoder->decode(bytes);
    if (!text) return;
    if (auto strongRun = weakRun.lock()) strongRun->errors.append(*text);
    line("🔴 yt-dlp error: " + trimmed(*text));
  });
  // The run (and with it the item) lives until its end has been handled.
  run->task->setTerminationHandler([weak, run](platform::Task&) {
    platform::mainQueue().async([weak, run] {
      if (auto self = weak.lock()) self->handleTermination(run);
    });
  });

  if (launch(*run->task)) {
    // Nothing runs: drop the handlers (they hold the run) and free the slot.
    run->task->setStdoutHandler(nullptr);
    run->task->setStderrHandler(nullptr);
    run->task->setTerminationHandler(nullptr);
    item->status.set(DownloadStatus::failed);
    item->errorMessage.set("Failed to start download");
    m_currentDownloads.erase(run->number);
    m_reservations[item->id].runs -= 1;
    return;
  }
  adopt(run->task);
}

void DownloadManager::handleOutput(const std::shared_ptr<Run>& run, const std::string& text) {
  if (run->item->m_activeRun != run->number) return;  // a stale run's late output
  if (!run->durationSeen && contains(text, engine_internal::kDurationLinePrefix)) {
    // The downloader writes the line in one piece: it is whole in its chunk.
    engine_internal::forEachLine(text, [&](std::string_view l) {
      if (run->durationSeen || !l.starts_with(engine_internal::kDurationLinePrefix)) return;
      run->durationSeen = true;
      run->reportedDuration = engine_internal::reportedDuration(l);
    });
  }
  parseOutput(text, *run->item);
}

// ---------------------------------------------------------------- parsing

void DownloadManager::parseOutput(std::string_view text, DownloadItem& item) {
  engine_internal::forEachLine(text, [&](std::string_view l) {
    if (l.empty()) return;
    if (contains(l, "[download]")) {
      // "Downloading video" first, else "Downloading audio", anywhere in the line.
      bool video = false;
      bool audio = false;
      for (size_t at = l.find("Downloading "); at != std::string_view::npos; at = l.find("Downloading ", at + 1)) {
        const std::string_view what = l.substr(at + 12, 5);
        video = video || what == "video";
        audio = audio || what == "audio";
      }
      if (video) {
        item.downloadStage.set("Downloading video...");
      } else if (audio) {
        item.downloadStage.set("Downloading audio...");
      } else if (contains(l, "has already been downloaded")) {
        return;
      }
      if (contains(l, "%") && contains(l, "of")) {
        // The numbers are read in the C locale whatever the process's is.
        if (std::optional<std::string_view> percentText = engine_internal::findPercent(l)) {
          if (std::optional<double> percent = platform::NumberText::parseDouble(*percentText)) {
            updateProgress(item, l, *percent);
          }
        }
        if (std::optional<std::string_view> speedText = engine_internal::findSpeed(l)) {
          thread_local std::string speed;
          item.speed.set(removingAll(*speedText, "at ", speed));
        }
      }
    } else if (contains(l, "[ffmpeg]") || l.starts_with("[Merger]")) {
      // The bundled downloader announces the merge as "[Merger] Merging formats into ...".
      if (contains(l, "Merging formats")) {
        item.downloadStage.set("Processing...");
        item.progress.set(95.0);
        item.speed.set("");
      }
    } else if (contains(l, "100%")) {
      updateFileSizeFromDisk(item);
    } else if (contains(l, "has already been downloaded")) {
      updateFileSizeFromDisk(item);
    }
  });
}

void DownloadManager::updateProgress(DownloadItem& item, std::string_view line, double percent) {
  std::optional<std::string_view> sizeMatch = engine_internal::findSize(line);
  if (!sizeMatch) return;
  // Texts are built in buffers kept between lines (a progress line costs no
  // allocation) and copied into the item's fields, whose storage is reused.
  thread_local std::string size;
  thread_local std::string shown;
  removingAll(*sizeMatch, "of ", size);
  enum class Share { video, audio, whole };
  const Share share = item.downloadStage.read([](const std::string& stage) {
    return contains(stage, "video") ? Share::video : contains(stage, "audio") ? Share::audio : Share::whole;
  });
  switch (share) {
    case Share::video:
      item.progress.set(percent * 0.7 / 100.0 * 100.0);
      shown.assign("~").append(size).append(" (video)");
      item.fileSize.set(shown);
      break;
    case Share::audio:
      item.progress.set(percent * 0.2 / 100.0 * 100.0 + 70.0);
      shown.assign("~").append(size).append(" (audio)");
      item.fileSize.set(shown);
      break;
    case Share::whole:
      item.progress.set(percent);
      item.fileSize.set(size);
      break;
  }
}

std::string DownloadManager::formatBytes(double count) {
  // std::to_chars ignores the process locale: "1.5 KB" everywhere. The
  // buffer holds the longest fixed form of a double (about 310 digits).
  auto fixed = [](double value, int precision) {
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string("0");
  };
  if (count >= 1073741824.0) return fixed(count / 1073741824.0, 1) + " GB";
  if (count >= 1048576.0) return fixed(count / 1048576.0, 1) + " MB";
  if (count >= 1024.0) return fixed(count / 1024.0, 1) + " KB";
  return fixed(count, 0) + " B";
}

void DownloadManager::updateFileSizeFromDisk(DownloadItem& item) {
  std::string path = item.filePath.get();
  if (path.empty()) return;
  auto attributes = platform::fs::attributes(platform::StandardFolders::expandTilde(path));
  if (!attributes.ok()) return;
  item.fileSize.set(formatBytes(static_cast<double>(attributes.value().size)));
}

// ---------------------------------------------------------------- termination

void DownloadManager::handleTermination(const std::shared_ptr<Run>& run) {
  run->task->setStdoutHandler(nullptr);
  run->task->setStderrHandler(nullptr);
  const int status = run->task->terminationStatus();
  // Exit status 0: the file is checked first (the run keeps its slot meanwhile).
  if (status == 0 && run->item->m_activeRun == run->number && checkDownloadedFile(run)) return;
  finishRun(run, status, std::nullopt);
}

bool DownloadManager::checkDownloadedFile(const std::shared_ptr<Run>& run) {
  std::optional<std::string> tool = engine_internal::resourcePath("ffprobe");
  if (!tool) {
    line("⚠️ Cannot check the downloaded file: ffprobe not found");
    return false;
  }
  auto check = childProcess(
      *tool, engine_internal::mediaCheckArguments(platform::StandardFolders::expandTilde(run->outputPath)),
      platform::Task::Output::discard);
  struct Listing {
    std::mutex mutex;
    engine_internal::PacketListing packets;
  };
  auto listing = std::make_shared<Listing>();
  check->setStdoutHandler([listing](std::string_view bytes) {
    std::lock_guard lock(listing->mutex);
    if (bytes.empty()) {
      listing->packets.finish();
    } else {
      listing->packets.feed(bytes);
    }
  });
  std::weak_ptr<DownloadManager> weak = weak_from_this();
  check->setTerminationHandler([weak, run, listing](platform::Task& ended) {
    const int status = ended.terminationStatus();
    engine_internal::PacketListing packets;
    {
      std::lock_guard lock(listing->mutex);
      packets = listing->packets;
    }
    platform::mainQueue().async([weak, run, status, packets] {
      run->checkTimeout.cancel();
      run->check.reset();
      const std::optional<std::string> failure =
          engine_internal::mediaCheckFailure(status, packets, run->reportedDuration);
      char covered[32];
      std::snprintf(covered, sizeof covered, "%.2f", packets.coveredSeconds().value_or(0));
      line("🔍 Checked downloaded file: " + std::to_string(packets.packetCount()) + " packets, " + covered +
           " s" + (failure ? " - " + *failure : std::string()));
      if (auto self = weak.lock()) self->finishRun(run, 0, failure);
    });
  });
  line("🔍 Checking downloaded file: " + run->outputPath);
  if (std::optional<platform::Error> error = launch(*check)) {
    check->setStdoutHandler(nullptr);
    check->setTerminationHandler(nullptr);
    line("⚠️ Cannot check the downloaded file: " + error->localizedDescription());
    return false;
  }
  run->check = check;
  adopt(check);
  std::weak_ptr<platform::Task> weakCheck = check;
  run->checkTimeout = platform::mainQueue().after(kFileCheckTimeoutSeconds, [weakCheck] {
    if (auto stuck = weakCheck.lock()) stuck->kill();
  });
  return true;
}

void DownloadManager::finishRun(const std::shared_ptr<Run>& run, int status,
                                const std::optional<std::string>& failure) {
  m_currentDownloads.erase(run->number);
  DownloadItem& item = *run->item;
  auto reservation = m_reservations.find(item.id);
  if (reservation != m_reservations.end()) reservation->second.runs -= 1;
  // A stale run (the item was started again meanwhile) only gives back its slot.
  if (item.m_activeRun == run->number) {
    const DownloadStatus current = item.status.get();
    if (status == 0 && current == DownloadStatus::cancelled) {
      // Cancelled while its file was checked: the user's word stands.
    } else if (status == 0 && !failure) {
      if (reservation != m_reservations.end()) reservation->second.lastRunSucceeded = true;
      item.progress.set(100.0);
      line("✅ Download completed: " + run->outputPath);
      item.status.set(DownloadStatus::completed);
      renameWithRealTitle(item);
    } else if (status == 0) {
      // The downloader called it done, but the file is cut or damaged: it
      // stays for a retry.
      item.status.set(DownloadStatus::failed);
      item.errorMessage.set(*failure);
      line("❌ Download failed:");
      line("   Exit code: 0");
      line("   Error: " + *failure);
      line("   Full stderr: " + run->errors.text());
    } else if (status == 15 && current == DownloadStatus::paused) {
      line("⏸️ Download paused: " + item.videoTitle.get());
      processQueue();
    } else if (status == 15 && current != DownloadStatus::downloading) {
      // Cancelled (or already queued again): the status stays.
    } else {
      // Any other status, and 15 that no pause or cancel explains.
      std::string errorText = run->errors.text();
      std::string message = classifyError(errorText, status);
      item.status.set(DownloadStatus::failed);
      item.errorMessage.set(message);
      line("❌ Download failed:");
      line("   Exit code: " + std::to_string(status));
      line("   Error: " + message);
      line("   Full stderr: " + errorText);
    }
  }
  releaseIfUnused(item.id);
  recordWorkingNames();
  processQueue();
}

std::string DownloadManager::classifyError(std::string_view errorText, int exitStatus) {
  struct Rule {
    std::string_view needle;
    std::string_view message;
  };
  static constexpr Rule kRules[] = {
      {"Video unavailable", "Video is unavailable"},
      {"This video is unavailable", "Video is unavailable"},
      {"Private video", "Private video - cannot download"},
      {"This video is private", "Private video - cannot download"},
      {"Sign in to confirm your age", "Age-restricted video"},
      {"The uploader has not made this video available in your country", "Video not available in your country"},
      {"Unable to download webpage", "Network error - check your internet connection"},
      {"HTTP Error", "Network error - check your internet connection"},
      {"No video formats found", "Requested quality not available for this video"},
      {"requested format not available", "Requested quality not available for this video"},
      {"Requested format is not available", "Requested quality not available for this video"},
  };
  for (std::string_view l : splitLines(errorText)) {
    for (const Rule& rule : kRules) {
      if (contains(l, rule.needle)) return std::string(rule.message);
    }
    if (contains(l, "ffmpeg") && contains(l, "not found")) return "Video processing failed - ffmpeg not available";
    if (contains(l, "Permission denied") || contains(l, "Cannot create file")) {
      return "Permission denied - check download folder permissions";
    }
    if (contains(l, "No space left") || contains(l, "Disk full")) return "Not enough storage space";
    if (contains(l, "ERROR:")) {
      std::string rest = trimmed(removeAll(l, "ERROR:"));
      size_t length = engine_internal::characterCount(rest);
      if (length >= 1 && length < 100) return rest;
    }
  }
  switch (exitStatus) {
    case 1: return "Download failed - video may not be available";
    case 2: return "Invalid arguments or URL format";
    case 101: return "Network error - please check your connection";
    default: break;
  }
  return "Download failed (exit code: " + std::to_string(exitStatus) + ")";
}

// ---------------------------------------------------------------- naming

std::string DownloadManager::createUniqueFilename(const std::string& title, const std::string& label,
                                                  const std::string& extension) {
  return uniqueFilename(title, label, extension, nullptr);
}

namespace {
// `name` is `stem` followed by one of `separators` (and more).
bool extendsStem(std::string_view name, std::string_view stem, std::string_view separators) {
  return name.size() > stem.size() && name.substr(0, stem.size()) == stem &&
         separators.find(name[stem.size()]) != std::string_view::npos;
}

// The title as a file-name part: the nine characters file systems and shells
// trip over, and every control character (a title comes from a web page and
// may hold terminal escapes), become "_"; leading dots are dropped so the
// file is never hidden.
std::string cleanedTitle(std::string_view title) {
  std::string cleaned;
  cleaned.reserve(title.size());
  for (char c : title) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case ':': case '/': case '\\': case '?': case '<': case '>': case '|': case '*': case '"':
        cleaned += '_';
        break;
      default:
        cleaned += byte < 0x20 || byte == 0x7F ? '_' : c;
    }
  }
  cleaned.erase(0, cleaned.find_first_not_of('.'));
  return cleaned;
}
}  // namespace

void DownloadManager::reserve(const platform::Uuid& id, const std::string& fileName, const std::string& extension) {
  Reservation& reservation = m_reservations[id];
  reservation.folder = downloadFolder.get();
  reservation.expandedFolder = platform::StandardFolders::expandTilde(reservation.folder);
  reservation.fileName = fileName;
  reservation.stem = fileName.substr(0, fileName.size() - extension.size() - 1);
}

bool DownloadManager::isStemTaken(std::string_view stem, const std::vector<std::string>& folderFiles,
                                  const std::string& folder, const platform::Uuid* owner) const {
  // Any file that begins with the stem may be a working file of a download
  // that used it: the downloader would resume it as this one's.
  for (const std::string& name : folderFiles) {
    if (extendsStem(name, stem, "._")) return true;
  }
  // Names held by other items, whose working files may not exist yet.
  const std::string expandedFolder = platform::StandardFolders::expandTilde(folder);
  for (const auto& [id, reservation] : m_reservations) {
    if (owner && id == *owner) continue;
    if (reservation.expandedFolder != expandedFolder) continue;
    if (reservation.stem == stem || extendsStem(reservation.stem, stem, "._") ||
        extendsStem(stem, reservation.stem, ".")) {
      return true;
    }
  }
  return false;
}

std::string DownloadManager::uniqueFilename(const std::string& title, const std::string& label,
                                            const std::string& extension, const platform::Uuid* owner) {
  const std::string folder = downloadFolder.get();
  const std::string expandedFolder = platform::StandardFolders::expandTilde(folder);
  // The whole name, with room for the time stamp, a counter and the
  // downloader's working-file suffixes, must fit the file system's limit.
  const size_t fixedBytes = 1 + label.size() + 1 + extension.size() + kFileNameReserveBytes;
  const size_t titleBudget = fixedBytes < kMaxFileNameBytes ? kMaxFileNameBytes - fixedBytes : 0;
  std::string workingTitle = title;
  std::string cleaned = engine_internal::characterPrefixWithin(cleanedTitle(workingTitle), titleBudget);
  if (title.empty() || title == "Morvessa" || cleaned.empty()) {
    line("⚠️ Empty video title, using fallback: YouTube_Video");
    workingTitle = "YouTube_Video";
    cleaned = workingTitle;
  }

  const std::string stem = cleaned + "_" + label;
  const std::string baseName = stem + "." + extension;
  const std::string candidate = expandedFolder + "/" + baseName;
  line("📁 Creating unique filename:");
  line("   Original title: '" + title + "'");
  line("   Final title: '" + workingTitle + "'");
  line("   Base filename: '" + stem + "'");
  line("   Download folder: '" + folder + "'");
  line("   Checking path: '" + candidate + "'");
  // A folder that does not exist yet holds nothing (the downloader makes it).
  auto listing = platform::fs::contentsOfDirectory(expandedFolder);
  const std::vector<std::string> files = listing.ok() ? std::move(listing).value() : std::vector<std::string>();
  if (!isStemTaken(stem, files, folder, owner)) {
    line("   File doesn't exist, using: '" + baseName + "'");
    return baseName;
  }
  static const platform::DateFormatter kTimeFormat = platform::DateFormatter::local("HH_mm_ss");
  const std::string stamped = stem + "_" + kTimeFormat.format(platform::Clock::current()->now());
  std::string nameStem = stamped;
  // Two items started within the same second must not share a name either.
  for (int counter = 2; isStemTaken(nameStem, files, folder, owner) && counter < 10000; ++counter) {
    nameStem = stamped + "_" + std::to_string(counter);
  }
  const std::string name = nameStem + "." + extension;
  line("   File exists, adding timestamp: '" + name + "'");
  return name;
}

void DownloadManager::fetchRealTitle(const std::shared_ptr<DownloadItem>& item) {
  // At most kMaxConcurrentTitleQueries run; the others wait in order of adding.
  m_waitingTitleQueries.push_back(item);
  startTitleQueries();
}

void DownloadManager::startTitleQueries() {
  while (m_runningTitleQueries < kMaxConcurrentTitleQueries && !m_waitingTitleQueries.empty()) {
    std::shared_ptr<DownloadItem> item = std::move(m_waitingTitleQueries.front());
    m_waitingTitleQueries.pop_front();
    launchTitleQuery(item);
  }
}

void DownloadManager::launchTitleQuery(const std::shared_ptr<DownloadItem>& item) {
  std::optional<std::string> downloader = engine_internal::resourcePath("yt-dlp");
  if (!downloader) return;
  auto task = childProcess(*downloader, {"--get-title", "--get-thumbnail", "--", item->url.get()},
                           platform::Task::Output::inherit);
  // The query yields the processor to the downloads it runs beside.
  task->setNiceIncrement(kTitleQueryNiceIncrement);
  struct Box {
    std::mutex mutex;
    std::string bytes;
  };
  auto box = std::make_shared<Box>();
  task->setStdoutHandler([box](std::string_view bytes) {
    std::lock_guard lock(box->mutex);
    box->bytes.append(bytes);
  });
  std::weak_ptr<DownloadManager> weak = weak_from_this();
  // The handler holds the task until its end: nothing else keeps the title query.
  task->setTerminationHandler([weak, item, box, task](platform::Task& ended) {
    const int status = ended.terminationStatus();
    std::string output;
    {
      std::lock_guard lock(box->mutex);
      output = std::move(box->bytes);
    }
    platform::mainQueue().async([weak, item, status, output = std::move(output), task] {
      task->setStdoutHandler(nullptr);
      if (auto self = weak.lock()) {
        self->m_runningTitleQueries -= 1;
        self->startTitleQueries();
        self->handleTitleResult(item, status, output);
      }
    });
  });
  if (std::optional<platform::Error> error = launch(*task)) {
    task->setStdoutHandler(nullptr);
    task->setTerminationHandler(nullptr);
    line("⚠️ Failed to get real title: " + error->localizedDescription());
    return;
  }
  adopt(task);
  m_runningTitleQueries += 1;
}

void DownloadManager::handleTitleResult(const std::shared_ptr<DownloadItem>& item, int status,
                                        const std::string& output) {
  const std::string url = item->url.get();
  if (status != 0) {
    line("⚠️ Could not get real title for: " + url);
    return;
  }
  std::string text = platform::Unicode::isValidUtf8(output) ? output : std::string();
  std::vector<std::string_view> lines = splitLines(text);
  if (lines.empty() || lines[0].empty()) return;
  std::string title = trimmed(lines[0]);
  std::string prefix = engine_internal::characterPrefix(title, 10);
  // An empty title (a line of blanks) is no title either.
  if (!title.empty() && !contains(fallbackTitle(url), prefix)) {
    line("📝 Got real title for " + url + ": '" + title + "'");
    item->realVideoTitle.set(title);
    item->displayTitle.set(title);
    line("✨ Updated display title to: '" + title + "'");
    // The download finished first: its file takes the title now.
    if (item->status.get() == DownloadStatus::completed) renameWithRealTitle(*item);
  }
  if (lines.size() > 1 && !lines[1].empty()) fetchThumbnail(item, trimmed(lines[1]));
}

void DownloadManager::fetchThumbnail(const std::shared_ptr<DownloadItem>& item, const std::string& text) {
  engine_internal::loadThumbnail(text, kMaxThumbnailBytes, kThumbnailTimeoutSeconds,
                                 [item](std::optional<platform::Bytes> data) {
                                   if (!data) return;
                                   std::optional<Thumbnail> image = Thumbnail::fromData(std::move(*data));
                                   if (!image) return;
                                   platform::mainQueue().async(
                                       [item, image = std::move(*image)] { item->thumbnail.set(image); });
                                 });
}

void DownloadManager::renameWithRealTitle(DownloadItem& item) {
  std::optional<std::string> real = item.realVideoTitle.get();
  if (!real || real->empty() || *real == item.videoTitle.get()) {
    line("📁 No need to rename file - no real title or same title");
    return;
  }
  line("📝 Attempting to rename file with real title: '" + *real + "'");
  const std::string currentPath = platform::StandardFolders::expandTilde(item.filePath.get());
  if (!platform::fs::exists(currentPath)) {
    line("❌ Cannot rename - file not found: " + currentPath);
    return;
  }
  const std::string label = labelOf(item.quality.get());
  const std::string extension = pathExtension(currentPath);
  std::string newName = uniqueFilename(*real, label, extension, &item.id);
  const std::string folder = downloadFolder.get();
  std::optional<platform::Error> error;
  // The move never replaces a file; when the chosen name was taken meanwhile,
  // the next free counter is used.
  const std::string newStem = newName.substr(0, newName.size() - extension.size() - 1);
  for (int counter = 2;; ++counter) {
    error = platform::fs::moveItem(currentPath, platform::StandardFolders::expandTilde(folder + "/" + newName));
    if (!error || !platform::FileError::isFileExists(*error) || counter > 100) break;
    newName = newStem + "_" + std::to_string(counter) + "." + extension;
  }
  if (!error) {
    const std::string newPath = folder + "/" + newName;
    item.filePath.set(newPath);
    if (auto reservation = m_reservations.find(item.id); reservation != m_reservations.end()) {
      reservation->second.folder = folder;
      reservation->second.expandedFolder = platform::StandardFolders::expandTilde(folder);
      reservation->second.fileName = newName;
      reservation->second.stem = newName.substr(0, newName.size() - extension.size() - 1);
    }
    item.videoTitle.set(*real);
    line("✅ Successfully renamed file:");
    line("   From: " + platform::fs::lastPathComponent(currentPath));
    line("   To: " + newName);
  } else {
    line("❌ Failed to rename file: " + error->localizedDescription());
    item.videoTitle.set(*real);
  }
}

}  // namespace tavix
