#include "Tavix_YouTube/ui/viewmodels/QueueViewModel.h"

#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"
#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
#include "platform/notifications/NotificationCenter.h"

namespace tavix {

std::string QueueViewModel::countText() const { return downloadsCountText(static_cast<int64_t>(count())); }

DownloadList QueueViewModel::rowsNewestFirst() const {
  DownloadList list = m_manager->downloads.get();
  return DownloadList(list.rbegin(), list.rend());
}

void QueueViewModel::clearPressed() {
  MyAnalytics::logEvent("clear_completed");
  m_manager->clearCompleted();
}

void QueueViewModel::removeDownload(const platform::Uuid& id) { m_manager->removeDownload(id); }

void QueueViewModel::scrollButtonPressed() {
  platform::NotificationCenter::defaultCenter().post(kScrollToBottomNotification);
}

}  // namespace tavix
