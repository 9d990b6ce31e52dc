// DownloadItem: one entry of the download queue: an address, a quality, and
// everything the queue view shows of its progress.
//
// The published fields announce "will change" (the item's objectWillChange
// first, then the field's subscribers) before the new value is stored, so a
// Qt view can subscribe to them. Every field is written on the main thread
// only: the child-process handlers hand their work to the main queue first.
// Items are made by DownloadManager::addDownload and shared (shared_ptr) by
// the list, the running downloader's handlers and the views.
//
// Thread safety: mutate and call the operations on the main thread; get() of
// a published field is safe from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/process/Task.h"
#include "Tavix_YouTube/engine/DownloadStatus.h"
#include "Tavix_YouTube/engine/Quality.h"
#include "Tavix_YouTube/engine/Thumbnail.h"
#include "platform/observable/ObservableObject.h"
#include "platform/observable/Published.h"
#include "platform/text/Uuid.h"

namespace tavix {

class DownloadManager;

class DownloadItem : public platform::ObservableObject, public std::enable_shared_from_this<DownloadItem> {
 public:
  // Name of the notification that retry() posts (object: the item).
  static constexpr const char* kRetryDownloadNotification = "retryDownload";

  DownloadItem(std::string url, Quality quality);

  const platform::Uuid id;
  platform::Published<std::string> url{*this};
  platform::Published<Quality> quality{*this, Quality::best};
  platform::Published<DownloadStatus> status{*this, DownloadStatus::queued};
  platform::Published<double> progress{*this, 0.0};
  platform::Published<std::string> speed{*this};
  platform::Published<std::string> fileSize{*this};
  platform::Published<std::string> videoTitle{*this};
  platform::Published<std::string> displayTitle{*this};
  platform::Published<std::optional<std::string>> realVideoTitle{*this};
  platform::Published<std::optional<Thumbnail>> thumbnail{*this};
  platform::Published<std::string> errorMessage{*this};
  platform::Published<std::string> filePath{*this};
  platform::Published<std::string> tempFilePath{*this};
  platform::Published<std::string> downloadStage{*this};

  // The running downloader of this item (not published).
  const std::shared_ptr<platform::Task>& downloadProcess() const { return m_downloadProcess; }
  void setDownloadProcess(std::shared_ptr<platform::Task> process) { m_downloadProcess = std::move(process); }

  // Terminates the downloader (its whole process group), drops it, sets
  // `cancelled` and deletes the temporary file; the manager that added the
  // item deletes its working files once the downloader has ended.
  void cancel();
  // The row's pause action: terminates the downloader, drops it, sets `paused`.
  void pause();
  // Removes tempFilePath when it is set (it never is); failures are ignored.
  void deleteTempFile();
  // Queues the item again (status, progress, speed, size and error reset) and
  // posts "retryDownload" with the item as object.
  void retry();
  // Shows filePath ("~" expanded) in the file manager; nothing when empty.
  void showInFinder();

 private:
  friend class DownloadManager;
  std::shared_ptr<platform::Task> m_downloadProcess;
  uint64_t m_activeRun = 0;  // the run whose output and end may touch this item
  std::weak_ptr<DownloadManager> m_manager;  // the manager that added it
};

}  // namespace tavix
