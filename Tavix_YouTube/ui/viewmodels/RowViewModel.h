// RowViewModel: what one row of the download queue shows of its item and the
// actions it offers, derived afresh from the item on every call (the row keeps
// no state of its own).
//
// Status tests go through display names (DownloadStatus equality); colours,
// icons and buttons select on the status. Every action logs its usage event
// first, then acts:
//   pauseDownload  "download_pause"  terminate the downloader, status paused
//   cancelDownload "download_cancel" item.cancel(), then onRemove
//   removeFromList "download_remove" onRemove only
//   retryDownload  "download_retry"  item.retry()
//   showInFinder   "open_finder"     item.showInFinder()
//   openInBrowser  "url_click"       open the item's address when it is an
//                                    http or https address; anything else is
//                                    logged to the console and opens nothing
//
// Thread safety: main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Tavix_YouTube/engine/DownloadItem.h"
#include "Tavix_YouTube/ui/viewmodels/SystemColor.h"

namespace tavix {

enum class RowAction { pause, cancel, remove, retry, showInFinder };

struct RowButton {
  std::string icon;        // "trash", "pause.fill", "arrow.clockwise", "folder"
  SystemColor color;       // icon colour and background tint
  RowAction action;
  std::string tooltipKey;  // "tooltip.removeFromList", ...
  bool operator==(const RowButton&) const = default;
};

struct RowStatusText {
  std::string text;
  double opacity;  // of white; the status name uses the status colour (opacity 1)
  bool operator==(const RowStatusText&) const = default;
};

class RowViewModel {
 public:
  static constexpr const char* kTitleTooltipKey = "tooltip.openInBrowser";
  static constexpr int kErrorLineLimit = 3;

  RowViewModel(std::shared_ptr<DownloadItem> item, std::function<void()> onRemove);

  const std::shared_ptr<DownloadItem>& item() const { return m_item; }

  bool isDownloading() const;
  bool isPaused() const;
  bool isCompleted() const;

  // Title line: the address (cyan, underlined) while no title is known.
  std::string titleText() const;
  bool titleIsAddress() const;
  // The line shows the item's address (also as the display title a started
  // download gets until its real title arrives).
  bool titleShowsAddress() const;
  SystemColor titleColor() const;
  std::string qualityBadgeText() const;

  SystemColor statusColor() const;
  std::string statusIcon() const;
  // The status name, then percent / size / speed when they apply.
  std::vector<RowStatusText> statusTexts() const;
  // "• " + error message, or empty.
  std::string errorText() const;

  bool showsProgressBar() const;
  bool progressBarActive() const;
  double progress() const;
  // Turn of the thumbnail in degrees, counter-clockwise: 10, or 0 when completed.
  double thumbnailTurn() const;

  std::vector<RowButton> buttons() const;

  void run(RowAction action);
  void pauseDownload();
  void cancelDownload();
  void removeFromList();
  void retryDownload();
  void showInFinder();
  void openInBrowser();

  // The event logged by an action.
  static std::string eventName(RowAction action);

 private:
  std::shared_ptr<DownloadItem> m_item;
  std::function<void()> m_onRemove;
};

}  // namespace tavix
