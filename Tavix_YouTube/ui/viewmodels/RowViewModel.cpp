#include "Tavix_YouTube/ui/viewmodels/RowViewModel.h"

#include <cmath>

#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
#include "Tavix_YouTube/ui/viewmodels/WebAddress.h"
#include "platform/app/Workspace.h"

namespace tavix {

RowViewModel::RowViewModel(std::shared_ptr<DownloadItem> item, std::function<void()> onRemove)
    : m_item(std::move(item)), m_onRemove(std::move(onRemove)) {}

bool RowViewModel::isDownloading() const { return m_item->status.get() == DownloadStatus::downloading; }
bool RowViewModel::isPaused() const { return m_item->status.get() == DownloadStatus::paused; }
bool RowViewModel::isCompleted() const { return m_item->status.get() == DownloadStatus::completed; }

bool RowViewModel::titleIsAddress() const { return m_item->displayTitle.get().empty(); }

bool RowViewModel::titleShowsAddress() const { return titleIsAddress() || m_item->displayTitle.get() == m_item->url.get(); }

std::string RowViewModel::titleText() const {
  return titleIsAddress() ? m_item->url.get() : m_item->displayTitle.get();
}

SystemColor RowViewModel::titleColor() const { return titleIsAddress() ? SystemColor::Cyan : SystemColor::White; }

std::string RowViewModel::qualityBadgeText() const { return m_item->quality.get().localizedName(); }

SystemColor RowViewModel::statusColor() const {
  switch (m_item->status.get().caseValue()) {
    case DownloadStatus::Case::queued: return SystemColor::Orange;
    case DownloadStatus::Case::downloading: return SystemColor::Blue;
    case DownloadStatus::Case::paused: return SystemColor::Yellow;
    case DownloadStatus::Case::completed: return SystemColor::Green;
    case DownloadStatus::Case::failed: return SystemColor::Red;
    case DownloadStatus::Case::cancelled: return SystemColor::Gray;
  }
  return SystemColor::Gray;
}

std::string RowViewModel::statusIcon() const {
  switch (m_item->status.get().caseValue()) {
    case DownloadStatus::Case::queued: return "clock";
    case DownloadStatus::Case::downloading: return "arrow.down.circle";
    case DownloadStatus::Case::paused: return "pause.circle.fill";
    case DownloadStatus::Case::completed: return "checkmark.circle.fill";
    case DownloadStatus::Case::failed: return "exclamationmark.triangle.fill";
    case DownloadStatus::Case::cancelled: return "xmark.circle.fill";
  }
  return "clock";
}

std::vector<RowStatusText> RowViewModel::statusTexts() const {
  std::vector<RowStatusText> texts;
  texts.push_back({m_item->status.get().localizedName(), 1.0});
  const bool downloading = isDownloading();
  if (downloading || isPaused()) {
    const double p = m_item->progress.get();
    const long long percent = std::isfinite(p) ? static_cast<long long>(std::trunc(p)) : 0;
    texts.push_back({"• " + std::to_string(percent) + "%", 0.8});
  }
  const std::string size = m_item->fileSize.get();
  if (!size.empty() && !isCompleted()) texts.push_back({"• " + size, 0.7});
  const std::string speed = m_item->speed.get();
  if (!speed.empty() && downloading) texts.push_back({"• " + speed, 0.6});
  return texts;
}

std::string RowViewModel::errorText() const {
  const std::string message = m_item->errorMessage.get();
  return message.empty() ? std::string() : "• " + message;
}

bool RowViewModel::showsProgressBar() const { return isDownloading() || isPaused(); }
bool RowViewModel::progressBarActive() const { return isDownloading(); }
double RowViewModel::progress() const { return m_item->progress.get(); }
double RowViewModel::thumbnailTurn() const { return isCompleted() ? 0.0 : 10.0; }

std::vector<RowButton> RowViewModel::buttons() const {
  const RowButton cancel{"trash", SystemColor::Red, RowAction::cancel, "tooltip.removeFromList"};
  const RowButton remove{"trash", SystemColor::Red, RowAction::remove, "tooltip.removeFromList"};
  const RowButton pause{"pause.fill", SystemColor::Orange, RowAction::pause, "tooltip.pauseDownload"};
  const RowButton retry{"arrow.clockwise", SystemColor::Orange, RowAction::retry, "tooltip.retryDownload"};
  const RowButton finder{"folder", SystemColor::Cyan, RowAction::showInFinder, "tooltip.showInFinder"};
  switch (m_item->status.get().caseValue()) {
    case DownloadStatus::Case::queued: return {cancel};
    case DownloadStatus::Case::downloading: return {pause, cancel};
    case DownloadStatus::Case::paused: return {retry, cancel};
    case DownloadStatus::Case::completed: return {finder, remove};
    case DownloadStatus::Case::failed:
    case DownloadStatus::Case::cancelled: return {retry, remove};
  }
  return {};
}

std::string RowViewModel::eventName(RowAction action) {
  switch (action) {
    case RowAction::pause: return "download_pause";
    case RowAction::cancel: return "download_cancel";
    case RowAction::remove: return "download_remove";
    case RowAction::retry: return "download_retry";
    case RowAction::showInFinder: return "open_finder";
  }
  return {};
}

void RowViewModel::run(RowAction action) {
  switch (action) {
    case RowAction::pause: return pauseDownload();
    case RowAction::cancel: return cancelDownload();
    case RowAction::remove: return removeFromList();
    case RowAction::retry: return retryDownload();
    case RowAction::showInFinder: return showInFinder();
  }
}

void RowViewModel::pauseDownload() {
  MyAnalytics::logEvent(eventName(RowAction::pause));
  m_item->pause();
}

void RowViewModel::cancelDownload() {
  MyAnalytics::logEvent(eventName(RowAction::cancel));
  m_item->cancel();
  if (m_onRemove) m_onRemove();
}

void RowViewModel::removeFromList() {
  MyAnalytics::logEvent(eventName(RowAction::remove));
  if (m_onRemove) m_onRemove();
}

void RowViewModel::retryDownload() {
  MyAnalytics::logEvent(eventName(RowAction::retry));
  m_item->retry();
}

void RowViewModel::showInFinder() {
  MyAnalytics::logEvent(eventName(RowAction::showInFinder));
  m_item->showInFinder();
}

void RowViewModel::openInBrowser() {
  MyAnalytics::logEvent("url_click");
  openWebAddress(m_item->url.get());
}

}  // namespace tavix
