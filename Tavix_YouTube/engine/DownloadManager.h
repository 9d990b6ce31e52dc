// DownloadManager: owns the download queue. It adds items, runs the queue
// step that starts queued items while fewer than maxConcurrentDownloads (2)
// downloaders run, builds the downloader's command line per site and
// quality, parses its output into stage/progress/speed/size, classifies its
// failures, names the output files and renames them after the video's real
// title (a second, short downloader run: at most two of them at a time, the
// others waiting in order of adding; a title that arrives after the download
// has completed renames the finished file then), and fetches thumbnails.
//
// The downloader ("yt-dlp") and the media tool ("ffmpeg", with "ffprobe")
// are resources of the bundle, found by name only. Every console line goes
// through platform::console::line.
//
// Runs: every launch of a downloader is one run with its own number. The
// running set, the output hand-over and the end handling are keyed by run,
// so a stale run (the item was paused and started again before the old
// process's end was handled) never touches the item or the new run's slot.
// A finished file is checked before its item is called completed: the
// downloader reports the video's duration on a line of its own
// ("--print-to-file" of "[duration] ..." to its standard output), and the
// media tool ("ffprobe") must read packets covering it (MediaCheck.h). A cut
// file fails the item with a clear message and stays for a retry; the slot
// stays taken while the file is checked. Without the media tool among the
// resources the check is skipped.
//
// Output names: a name's stem (the name without its extension) is free only
// when no file of the folder begins with the stem followed by "." or "_" (the
// downloader's working files: "X.f137.mp4.part", "X_MP3.m4a", ...) and no
// other listed or running item holds it. Each item keeps its name (its
// reservation, keyed by the item's id) while it is listed or its downloader
// runs, so its retry, and only its retry, resumes its working files. Before a
// retry the item's final output from a run that did not succeed is removed
// (a conversion cut short leaves a truncated file that the downloader would
// take as done); the partial download files stay.
//
// Working files (the files of the folder named stem + "." + more) are
// garbage once no retry can resume them: an unfinished item that is
// cancelled, removed or cleared deletes its own, as soon as its downloader
// has ended. The names of unfinished items are kept on disk
// (WorkingFileJournal); each manager, when made, deletes the working files
// that managers gone before (a quit, a kill) left behind.
//
// stopProcesses() ends every child process (downloads with their process
// groups, title queries, file checks): the quit path calls it.
//
// Make it with create() (the handlers hold it weakly). Thread safety: the
// manager and its items are main-thread objects: call everything on the main
// thread; published fields may be read (get) from any thread. Downloader
// handlers run on background threads and only hand data to the main queue.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Tavix_YouTube/engine/DownloadItem.h"
#include "Tavix_YouTube/engine/FolderPanel.h"
#include "Tavix_YouTube/engine/Quality.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/observable/Cancellable.h"
#include "platform/observable/ObservableObject.h"
#include "platform/observable/Published.h"
#include "platform/values/Error.h"

namespace tavix {

namespace engine_internal {
class WorkingFileJournal;
}

using DownloadList = std::vector<std::shared_ptr<DownloadItem>>;

enum class FolderPreset { downloads = 0, documents = 1, desktop = 2, movies = 3 };

class DownloadManager : public platform::ObservableObject, public std::enable_shared_from_this<DownloadManager> {
 public:
  // Starts a prepared child process; the default calls process.launch().
  // Tests and the probe replace it to see the command line without running it.
  using Launcher = std::function<std::optional<platform::Error>(platform::Task& process)>;

  static constexpr int kMaxConcurrentDownloads = 2;
  // Title queries running at once; each is a downloader process of its own.
  static constexpr size_t kMaxConcurrentTitleQueries = 2;
  // Title queries run at a lower CPU priority than the downloads (a nice
  // value this much higher): on a busy processor the downloads go first.
  static constexpr int kTitleQueryNiceIncrement = 10;
  // Longest file name the file system takes, in bytes.
  static constexpr size_t kMaxFileNameBytes = 255;
  // Room kept free in a file name for the downloader's temporary suffixes
  // (".part", ".ytdl", ".f140.m4a.part" ...), the time stamp and a counter.
  static constexpr size_t kFileNameReserveBytes = 40;
  // Thumbnail fetch limits.
  static constexpr size_t kMaxThumbnailBytes = 10 * 1024 * 1024;
  static constexpr double kThumbnailTimeoutSeconds = 30;
  // Longest check of a finished file; a media tool that takes longer is
  // ended and the file taken as damaged.
  static constexpr double kFileCheckTimeoutSeconds = 600;
  static constexpr double kStopGraceSeconds = 2;

  // Constructs, subscribes to `downloads` and "retryDownload" (holding the
  // manager weakly) and so runs the queue step once.
  static std::shared_ptr<DownloadManager> create();
  ~DownloadManager() override;

  platform::Published<DownloadList> downloads{*this};
  platform::Published<std::string> downloadFolder{*this, "~/Downloads"};
  platform::Published<std::string> downloadFolderDisplayName{*this, "Загрузки"};
  const int maxConcurrentDownloads = kMaxConcurrentDownloads;

  // Size of the running set (runs started whose end is not yet handled).
  size_t currentDownloadCount() const { return m_currentDownloads.size(); }
  // Title queries waiting or started whose result is not yet handled.
  size_t titleQueryCount() const { return m_runningTitleQueries + m_waitingTitleQueries.size(); }

  // --- queue
  void addDownload(const std::string& url, Quality quality);
  void ensureToolThenQueue(const std::shared_ptr<DownloadItem>& item);
  void clearCompleted();
  // Removes one item from the list (the row's remove action); a running
  // downloader keeps its slot until it ends.
  void removeDownload(const platform::Uuid& id);
  void processQueue();

  // --- folder
  void setFolderPanel(std::shared_ptr<FolderPanel> panel) { m_folderPanel = std::move(panel); }
  const std::shared_ptr<FolderPanel>& folderPanel() const { return m_folderPanel; }
  void chooseCustomFolder();
  void setFolderPreset(FolderPreset preset);

  // --- downloader invocation
  void startDownload(const std::shared_ptr<DownloadItem>& item);
  std::string cleanURL(const std::string& text);
  static std::string fallbackTitle(std::string_view url);
  static std::string formatSelector(std::string_view url, Quality quality);
  static std::optional<std::string> ffmpegResourcePath();

  // --- output parsing
  void parseOutput(std::string_view text, DownloadItem& item);
  void updateProgress(DownloadItem& item, std::string_view line, double percent);
  static std::string formatBytes(double count);
  void updateFileSizeFromDisk(DownloadItem& item);

  // --- termination
  static std::string classifyError(std::string_view errorText, int exitStatus);

  // --- file naming and title
  std::string createUniqueFilename(const std::string& title, const std::string& label, const std::string& extension);
  void fetchRealTitle(const std::shared_ptr<DownloadItem>& item);
  void renameWithRealTitle(DownloadItem& item);
  void fetchThumbnail(const std::shared_ptr<DownloadItem>& item, const std::string& text);

  // Deletes the working files of an unfinished item once its downloader has
  // ended (now when none runs); a new start of the item keeps them.
  void discardWorkingFiles(const platform::Uuid& id);

  // Terminates every child process started by this manager (each with its
  // process group) and waits until they have ended, at most `graceSeconds`
  // before killing what is left. Their ends are not handled: for the quit path.
  void stopProcesses(double graceSeconds = kStopGraceSeconds);

  void setLauncher(Launcher launcher) { m_launcher = std::move(launcher); }

 private:
  struct Run;
  // The output name an item holds (see the comment at the top).
  struct Reservation {
    std::string folder;    // downloadFolder as stored when the name was chosen
    std::string expandedFolder;
    std::string fileName;  // stem + "." + extension
    std::string stem;
    bool listed = true;    // the item is in `downloads`
    int runs = 0;          // runs of the item whose end is not yet handled
    bool lastRunSucceeded = false;
    bool discard = false;  // delete the working files once no run is left
  };
  DownloadManager();
  void subscribe();
  std::optional<platform::Error> launch(platform::Task& process);
  void handleOutput(const std::shared_ptr<Run>& run, const std::string& text);
  void handleTermination(const std::shared_ptr<Run>& run);
  bool checkDownloadedFile(const std::shared_ptr<Run>& run);
  void finishRun(const std::shared_ptr<Run>& run, int status, const std::optional<std::string>& failure);
  void adopt(const std::shared_ptr<platform::Task>& child);
  void removeDiscardedFiles(Reservation& reservation);
  void recordWorkingNames();
  void startTitleQueries();
  void launchTitleQuery(const std::shared_ptr<DownloadItem>& item);
  void handleTitleResult(const std::shared_ptr<DownloadItem>& item, int status, const std::string& output);
  std::string uniqueFilename(const std::string& title, const std::string& label, const std::string& extension,
                             const platform::Uuid* owner);
  bool isStemTaken(std::string_view stem, const std::vector<std::string>& folderFiles, const std::string& folder,
                   const platform::Uuid* owner) const;
  void reserve(const platform::Uuid& id, const std::string& fileName, const std::string& extension);
  void listChanged(const DownloadList& next);
  void releaseIfUnused(const platform::Uuid& id);

  std::map<uint64_t, platform::Uuid> m_currentDownloads;  // run number -> item id
  uint64_t m_nextRun = 1;
  std::unordered_map<platform::Uuid, Reservation> m_reservations;
  size_t m_runningTitleQueries = 0;
  std::deque<std::shared_ptr<DownloadItem>> m_waitingTitleQueries;
  std::vector<platform::Cancellable> m_cancellables;
  platform::ObserverToken m_retryObserver;
  std::shared_ptr<FolderPanel> m_folderPanel;
  Launcher m_launcher;
  std::vector<std::weak_ptr<platform::Task>> m_children;  // every child process started
  std::unique_ptr<engine_internal::WorkingFileJournal> m_journal;
};

}  // namespace tavix
