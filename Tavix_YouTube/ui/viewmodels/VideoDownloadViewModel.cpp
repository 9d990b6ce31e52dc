#include "Tavix_YouTube/ui/viewmodels/VideoDownloadViewModel.h"

#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
#include "platform/app/Pasteboard.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/log/Console.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/text/Regex.h"
#include "platform/text/Unicode.h"
#include "platform/text/Url.h"

namespace tavix {
namespace {

constexpr const char* kSupportedSites[] = {
    "youtube.com", "youtu.be", "instagram.com", "tiktok.com", "facebook.com", "fb.watch", "pornhub.com",
};

constexpr const char* kYouTubePatterns[] = {
    R"(^https?://(?:www\.)?youtube\.com/watch\?v=([a-zA-Z0-9_-]{11}))",
    R"(^https?://(?:www\.)?youtu\.be/([a-zA-Z0-9_-]{11}))",
    R"(^https?://(?:www\.)?youtube\.com/embed/([a-zA-Z0-9_-]{11}))",
    R"(^https?://(?:www\.)?youtube\.com/v/([a-zA-Z0-9_-]{11}))",
};

bool matchesYouTubePattern(const std::string& text) {
  platform::RegexOptions options;
  options.caseInsensitive = true;
  for (const char* pattern : kYouTubePatterns) {
    auto regex = platform::Regex::compile(pattern, options);
    if (!regex) continue;  // a pattern that does not compile is skipped
    auto match = regex->firstMatch(text);
    if (match && match->has_value()) return true;
  }
  return false;
}

}  // namespace

VideoDownloadViewModel::VideoDownloadViewModel(PasteboardReader pasteboard) : m_pasteboard(std::move(pasteboard)) {}

std::shared_ptr<VideoDownloadViewModel> VideoDownloadViewModel::create(PasteboardReader pasteboard) {
  std::shared_ptr<VideoDownloadViewModel> model(new VideoDownloadViewModel(std::move(pasteboard)));
  model->pasteFromClipboard();
  model->observeAppActivation();
  return model;
}

void VideoDownloadViewModel::pasteFromClipboard() { paste(true); }

void VideoDownloadViewModel::pasteButtonTapped() {
  MyAnalytics::logEvent("paste_clipboard");
  paste(false);
}

void VideoDownloadViewModel::pasteIfEmpty() {
  if (urlText.get().empty()) pasteFromClipboard();
}

void VideoDownloadViewModel::paste(bool requireSupportedSite) {
  std::optional<std::string> text = m_pasteboard ? m_pasteboard() : std::nullopt;
  if (!text) return;
  if (!isValidURL(*text)) return;
  if (requireSupportedSite && !isSupportedSite(*text)) return;
  if (matchesYouTubePattern(*text)) {
    urlText = cleanURL(*text);
  } else {
    urlText = platform::Unicode::trimWhitespaceAndNewlines(*text);
  }
  animatePaste();
}

bool VideoDownloadViewModel::isValidURL(const std::string& text) {
  const std::string trimmed = platform::Unicode::trimWhitespaceAndNewlines(text);
  if (trimmed.empty()) return false;
  auto url = platform::Url::parse(trimmed);
  return url && url->hasSchemeAndHost();
}

bool VideoDownloadViewModel::isSupportedSite(const std::string& text) {
  const std::string lower = platform::Unicode::lowercase(text);
  for (const char* site : kSupportedSites) {
    if (lower.find(site) != std::string::npos) return true;
  }
  return false;
}

std::string VideoDownloadViewModel::cleanURL(const std::string& text) {
  auto url = platform::Url::parse(text);
  if (!url) return text;
  auto items = url->queryItems();
  if (!items || items->empty()) return text;
  std::optional<std::string> video;
  for (const auto& item : *items) {
    if (item.name == "v") {
      video = item.value;
      break;
    }
  }
  if (!video) return text;
  std::string result = text;
  if (auto host = url->host()) {
    if (auto cleaned = platform::Url::make(url->scheme(), *host, url->path(), {{"v", *video}})) {
      result = cleaned->string();
    }
  }
  platform::console::line("🔗 URL cleaning:");
  platform::console::line("   Original: " + text);
  platform::console::line("   Cleaned:  " + result);
  return result;
}

void VideoDownloadViewModel::animatePaste() {
  urlPasteAnimation = true;
  platform::mainQueue().after(kPasteFlagSeconds, [self = shared_from_this()] { self->urlPasteAnimation = false; });
}

void VideoDownloadViewModel::observeAppActivation() {
  auto& center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<VideoDownloadViewModel> weak = weak_from_this();
  auto token = center.addObserver(platform::kApplicationDidBecomeActiveNotification, {},
                                  [weak](const platform::Notification&) {
                                    platform::mainQueue().async([weak] {
                                      if (auto self = weak.lock()) self->pasteIfEmpty();
                                    });
                                  });
  m_cancellables.push_back(center.removal(token));
}

}  // namespace tavix

namespace tavix {

VideoDownloadViewModel::PasteboardReader VideoDownloadViewModel::generalPasteboard() {
  return [] { return platform::Pasteboard::general()->string(); };
}

}  // namespace tavix
