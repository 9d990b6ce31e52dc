// VideoDownloadViewModel: the model behind the address field of the main
// screen: the field's text, the quality of the next download and the
// short-lived paste flag.
//
// It fills the field from the pasteboard once at creation, again on every
// did-become-active notification while the field is exactly empty, and when
// the paste button is pressed (which logs "paste_clipboard" first). The
// automatic paste takes only valid addresses of supported sites; the button
// takes any valid address. A YouTube watch address is reduced to its "v"
// parameter (cleanURL); other addresses are trimmed. Each paste sets
// urlPasteAnimation for 0.8 s (every paste schedules its own reset on the
// main queue, holding the model).
//
// The pasteboard is read through an injected reader (the general pasteboard
// in the application, a fake in tests).
//
// Thread safety: main thread only; the activation notification hops to the
// main queue before touching the model.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Tavix_YouTube/engine/Quality.h"
#include "platform/observable/Cancellable.h"
#include "platform/observable/ObservableObject.h"
#include "platform/observable/Published.h"

namespace tavix {

class VideoDownloadViewModel : public platform::ObservableObject,
                               public std::enable_shared_from_this<VideoDownloadViewModel> {
 public:
  using PasteboardReader = std::function<std::optional<std::string>()>;
  static constexpr double kPasteFlagSeconds = 0.8;

  // Creates the model, pastes once, then subscribes to activation.
  static std::shared_ptr<VideoDownloadViewModel> create(PasteboardReader pasteboard);
  // Reads the general pasteboard of the platform.
  static PasteboardReader generalPasteboard();

  platform::Published<std::string> urlText{*this, std::string()};
  platform::Published<bool> isDownloading{*this, false};
  platform::Published<std::string> downloadProgress{*this, std::string()};
  platform::Published<std::string> statusMessage{*this, std::string()};
  platform::Published<std::string> errorMessage{*this, std::string()};
  platform::Published<Quality> selectedQuality{*this, Quality::p360};
  platform::Published<bool> urlPasteAnimation{*this, false};
  platform::Published<std::string> videoTitle{*this, std::string()};
  platform::Published<std::string> downloadSpeed{*this, std::string()};
  platform::Published<std::string> fileSize{*this, std::string()};
  platform::Published<double> progressPercentage{*this, 0.0};
  platform::Published<std::string> downloadedPath{*this, std::string()};

  void pasteFromClipboard();
  void pasteButtonTapped();
  void pasteIfEmpty();

  static bool isValidURL(const std::string& text);
  static bool isSupportedSite(const std::string& text);
  static std::string cleanURL(const std::string& text);

 private:
  explicit VideoDownloadViewModel(PasteboardReader pasteboard);
  void observeAppActivation();
  void paste(bool requireSupportedSite);
  void animatePaste();

  PasteboardReader m_pasteboard;
  std::vector<platform::Cancellable> m_cancellables;
};

}  // namespace tavix
