#include "Tavix_YouTube/engine/DownloadItem.h"

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "Tavix_YouTube/engine/internal/AppBundle.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/StandardFolders.h"

namespace tavix {

DownloadItem::DownloadItem(std::string url, Quality quality) : id(platform::Uuid::random()) {
  this->url.set(std::move(url));
  this->quality.set(quality);
}

void DownloadItem::cancel() {
  if (m_downloadProcess) m_downloadProcess->terminate();
  m_downloadProcess.reset();
  status.set(DownloadStatus::cancelled);
  deleteTempFile();
  // No retry resumes a cancelled download's working files.
  if (auto manager = m_manager.lock()) manager->discardWorkingFiles(id);
}

void DownloadItem::pause() {
  if (m_downloadProcess) m_downloadProcess->terminate();
  m_downloadProcess.reset();
  status.set(DownloadStatus::paused);
}

void DownloadItem::deleteTempFile() {
  std::string path = tempFilePath.get();
  if (!path.empty()) (void)platform::fs::removeItem(path);
}

void DownloadItem::retry() {
  status.set(DownloadStatus::queued);
  progress.set(0.0);
  speed.set("");
  fileSize.set("");
  errorMessage.set("");
  platform::NotificationCenter::defaultCenter().post(kRetryDownloadNotification,
                                                     platform::NotificationObject(shared_from_this()));
}

void DownloadItem::showInFinder() {
  std::string path = filePath.get();
  if (path.empty()) return;
  engine_internal::selectFileInFileManager(platform::StandardFolders::expandTilde(path));
}

}  // namespace tavix
