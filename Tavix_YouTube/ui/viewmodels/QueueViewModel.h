// QueueViewModel: the download queue view's behaviour. Nothing shows for an
// empty list; the header carries the plural count; the clear button shows
// from 2 items; the scroll button from 4 items while the end of the list is
// out of view. Rows are newest first. The clear button logs
// "clear_completed" and then clears; a row's remove request removes the
// first item with that id; the scroll button posts "scrollToBottom" on the
// default notification centre.
//
// Thread safety: main thread only.
#pragma once

#include <memory>
#include <string>

#include "Tavix_YouTube/engine/DownloadManager.h"

namespace tavix {

class QueueViewModel {
 public:
  static constexpr const char* kScrollToBottomNotification = "scrollToBottom";

  explicit QueueViewModel(std::shared_ptr<DownloadManager> manager) : m_manager(std::move(manager)) {}

  size_t count() const { return m_manager->downloads.get().size(); }
  bool showsHeader() const { return count() > 0; }
  std::string countText() const;
  bool showsClearButton() const { return count() >= 2; }
  // From 4 items the list can show its scroll button.
  bool mayShowScrollButton() const { return count() >= 4; }
  bool showsScrollButton() const { return mayShowScrollButton() && !m_isNearBottom; }
  bool isNearBottom() const { return m_isNearBottom; }
  void setNearBottom(bool nearBottom) { m_isNearBottom = nearBottom; }
  DownloadList rowsNewestFirst() const;

  void clearPressed();
  void removeDownload(const platform::Uuid& id);
  void scrollButtonPressed();

 private:
  std::shared_ptr<DownloadManager> m_manager;
  bool m_isNearBottom = true;
};

}  // namespace tavix
