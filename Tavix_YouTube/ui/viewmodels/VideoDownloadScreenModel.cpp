#include "Tavix_YouTube/ui/viewmodels/VideoDownloadScreenModel.h"

#include <algorithm>

#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
#include "Tavix_YouTube/ui/viewmodels/WebAddress.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/log/Console.h"
#include "platform/text/Unicode.h"

namespace tavix {

VideoDownloadScreenModel::VideoDownloadScreenModel(std::shared_ptr<VideoDownloadViewModel> viewModel,
                                                   std::shared_ptr<DownloadManager> downloadManager,
                                                   std::shared_ptr<WindowSizeManager> windowSizeManager)
    : m_viewModel(std::move(viewModel)),
      m_downloadManager(std::move(downloadManager)),
      m_windowSizeManager(std::move(windowSizeManager)) {
  m_lastCount = m_downloadManager->downloads.get().size();
  m_countSubscription = m_downloadManager->downloads.subscribe([this](const DownloadList& list) {
    if (list.size() == m_lastCount) return;
    m_lastCount = list.size();
    downloadsCountChanged(list.size());
  });
}

bool VideoDownloadScreenModel::downloadEnabled() const { return !m_viewModel->urlText.get().empty(); }

std::string VideoDownloadScreenModel::qualitySuffix(const Quality& quality) {
  std::string name = platform::Unicode::lowercase(quality.localizedName());
  name.erase(std::remove(name.begin(), name.end(), 'p'), name.end());
  return name;
}

std::string VideoDownloadScreenModel::downloadEventName(const Quality& quality) {
  return "download_" + qualitySuffix(quality);
}

void VideoDownloadScreenModel::downloadPressed() {
  const std::string text = m_viewModel->urlText.get();
  if (VideoDownloadViewModel::isValidURL(text)) {
    const Quality quality = m_viewModel->selectedQuality.get();
    MyAnalytics::logEvent(downloadEventName(quality));
    m_downloadManager->addDownload(text, quality);
    m_viewModel->urlText = std::string();
  } else {
    MyAnalytics::logEvent("download_invalid_url");
    platform::console::line("❌ Invalid URL: " + text);
  }
}

void VideoDownloadScreenModel::appeared() {
  platform::console::line("🚀 App appeared, downloads count: " +
                          std::to_string(m_downloadManager->downloads.get().size()));
  std::weak_ptr<DownloadManager> manager = m_downloadManager;
  std::weak_ptr<WindowSizeManager> sizer = m_windowSizeManager;
  platform::mainQueue().after(kAppearResizeDelay, [manager, sizer] {
    auto m = manager.lock();
    auto s = sizer.lock();
    if (!m || !s) return;
    const size_t count = m->downloads.get().size();
    platform::console::line("🪟 About to update window size for " + std::to_string(count) + " downloads");
    s->updateWindowSize(static_cast<int64_t>(count));
  });
}

void VideoDownloadScreenModel::downloadsCountChanged(size_t count) {
  platform::console::line("Downloads count changed: -> " + std::to_string(count));
  std::weak_ptr<WindowSizeManager> sizer = m_windowSizeManager;
  platform::mainQueue().after(kCountResizeDelay, [sizer, count] {
    if (auto s = sizer.lock()) s->updateWindowSize(static_cast<int64_t>(count));
  });
}

void VideoDownloadScreenModel::windowSizeChanged(double width, double height) {
  platform::console::line("Window size changed: " + std::to_string(static_cast<long long>(width)) + "x" +
                          std::to_string(static_cast<long long>(height)));
}

double VideoDownloadScreenModel::tilt(double x) { return std::clamp((x - 150) / 10, -kMaxTilt, kMaxTilt); }

void VideoDownloadScreenModel::pointerEntered() { m_hovering = true; }

void VideoDownloadScreenModel::pointerLeft() {
  m_hovering = false;
  rotationY = 0.0;
}

void VideoDownloadScreenModel::dragChanged(double x) {
  if (m_hovering) rotationY = tilt(x);
}

void VideoDownloadScreenModel::dragEnded() {
  if (!m_hovering) rotationY = 0.0;
}

void VideoDownloadScreenModel::mascotClicked() {
  MyAnalytics::logEvent("site_click");
  openWebAddress(kSiteAddress);
}

}  // namespace tavix
