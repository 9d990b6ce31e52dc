// VideoDownloadScreenModel: the behaviour of the main screen, kept out of the
// Qt view so that it runs headless. It holds the screen's three long-lived
// objects (address model, download manager, window-size manager).
//
// - download button: enabled iff the field's text is not "" (blanks enable
//   it). Valid address: logs "download_" + suffix (display name of the
//   quality, lowercased, every "p" removed), queues the text exactly as it
//   stands, empties the field. Invalid: logs "download_invalid_url" and
//   writes "❌ Invalid URL: " + text; the field keeps its text.
// - appeared(): a console line, then 0.2 s later another and a resize for the
//   count at that moment. Every change of the number of downloads: a console
//   line, then 0.1 s later a resize for the count at the change.
// - mascot: tilt (x - 150) / 10 clamped to [-3, 3] while hovering; reset on
//   leaving; a click logs "site_click" and opens the product's web site.
//
// Thread safety: main thread only; delayed steps run on the main queue and
// hold the objects weakly.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "Tavix_YouTube/engine/DownloadManager.h"
#include "Tavix_YouTube/ui/viewmodels/VideoDownloadViewModel.h"
#include "Tavix_YouTube/ui/viewmodels/WindowSizeManager.h"
#include "platform/observable/Cancellable.h"
#include "platform/observable/Published.h"

namespace tavix {

class VideoDownloadScreenModel {
 public:
  static constexpr const char* kSiteAddress = "https://tavix.app/";
  static constexpr double kAppearResizeDelay = 0.2;
  static constexpr double kCountResizeDelay = 0.1;
  static constexpr double kMaxTilt = 3;

  VideoDownloadScreenModel(std::shared_ptr<VideoDownloadViewModel> viewModel,
                           std::shared_ptr<DownloadManager> downloadManager,
                           std::shared_ptr<WindowSizeManager> windowSizeManager);

  const std::shared_ptr<VideoDownloadViewModel>& viewModel() const { return m_viewModel; }
  const std::shared_ptr<DownloadManager>& downloadManager() const { return m_downloadManager; }
  const std::shared_ptr<WindowSizeManager>& windowSizeManager() const { return m_windowSizeManager; }

  bool downloadEnabled() const;
  void downloadPressed();
  static std::string qualitySuffix(const Quality& quality);
  static std::string downloadEventName(const Quality& quality);

  void appeared();
  void windowSizeChanged(double width, double height);

  // Mascot.
  platform::Published<double> rotationY{0.0};
  bool isHovering() const { return m_hovering; }
  void pointerEntered();
  void pointerLeft();
  void dragChanged(double x);
  void dragEnded();
  void mascotClicked();
  static double tilt(double x);

 private:
  void downloadsCountChanged(size_t count);

  std::shared_ptr<VideoDownloadViewModel> m_viewModel;
  std::shared_ptr<DownloadManager> m_downloadManager;
  std::shared_ptr<WindowSizeManager> m_windowSizeManager;
  platform::Cancellable m_countSubscription;
  size_t m_lastCount = 0;
  bool m_hovering = false;
};

}  // namespace tavix
