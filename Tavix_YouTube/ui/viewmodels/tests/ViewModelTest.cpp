// Address model, main-screen behaviour, plural rule and display-name equality.
#include <gtest/gtest.h>

#include <functional>

#include "Tavix_YouTube/engine/DownloadStatus.h"
#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"
#include "Tavix_YouTube/ui/viewmodels/QueueViewModel.h"
#include "Tavix_YouTube/ui/viewmodels/RowViewModel.h"
#include "Tavix_YouTube/ui/viewmodels/VideoDownloadScreenModel.h"
#include "Tavix_YouTube/ui/viewmodels/VideoDownloadViewModel.h"
#include "Tavix_YouTube/ui/viewmodels/tests/ViewModelSupport.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"

using tavix::Quality;
using tavix::VideoDownloadViewModel;

namespace {

class TextsTest : public uitest::ViewModelTest {};

class AddressModelTest : public uitest::ViewModelTest {
 protected:
  std::shared_ptr<VideoDownloadViewModel> make(std::optional<std::string> clipboard) {
    pasteboard->setString(std::move(clipboard));
    auto board = pasteboard;
    return VideoDownloadViewModel::create([board] { return board->string(); });
  }
};

struct PasteCase {
  const char* clipboard;
  const char* automatic;  // field after the paste at creation
  const char* button;     // field after the paste button on an empty field
};

TEST_F(AddressModelTest, PasteRulesForAutomaticAndButtonPaste) {
  const PasteCase cases[] = {
      // watch address: reduced to its v parameter
      {"https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=42s&list=PL1",
       "https://www.youtube.com/watch?v=dQw4w9WgXcQ", "https://www.youtube.com/watch?v=dQw4w9WgXcQ"},
      // short link with a query: pattern matches, no v item, unchanged
      {"https://youtu.be/dQw4w9WgXcQ?si=abc", "https://youtu.be/dQw4w9WgXcQ?si=abc",
       "https://youtu.be/dQw4w9WgXcQ?si=abc"},
      // other supported site: trimmed
      {"  https://www.instagram.com/reel/xyz/ \n", "https://www.instagram.com/reel/xyz/",
       "https://www.instagram.com/reel/xyz/"},
      // leading blanks: no pattern matches (anchored), trimmed, not cleaned
      {"  https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=1", "https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=1",
       "https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=1"},
      // upper case matches
      {"HTTPS://WWW.YOUTUBE.COM/watch?v=dQw4w9WgXcQ&x=1", "HTTPS://WWW.YOUTUBE.COM/watch?v=dQw4w9WgXcQ",
       "HTTPS://WWW.YOUTUBE.COM/watch?v=dQw4w9WgXcQ"},
      // unsupported site: only the button pastes it
      {"https://example.org/video/1", "", "https://example.org/video/1"},
      // no scheme: not valid anywhere
      {"www.youtube.com/watch?v=dQw4w9WgXcQ", "", ""},
      // not an address at all
      {"hello world", "", ""},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clipboard);
    auto model = make(std::string(c.clipboard));
    EXPECT_EQ(model->urlText.get(), c.automatic);
    model->urlText = std::string();
    events.clear();
    model->pasteButtonTapped();
    EXPECT_EQ(model->urlText.get(), c.button);
    EXPECT_EQ(events, std::vector<std::string>{"paste_clipboard"});
  }
}

TEST_F(AddressModelTest, CleaningWritesThreeConsoleLines) {
  auto model = make(std::string("https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=42s"));
  EXPECT_TRUE(consoleHas("🔗 URL cleaning:"));
  EXPECT_TRUE(consoleHas("   Original: https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=42s"));
  EXPECT_TRUE(consoleHas("   Cleaned:  https://www.youtube.com/watch?v=dQw4w9WgXcQ"));
}

TEST_F(AddressModelTest, IdentifierLengthAndValidity) {
  // 12 characters still match (no end anchor); 10 do not, so no cleaning happens.
  EXPECT_EQ(VideoDownloadViewModel::cleanURL("https://youtube.com/watch?v=x&v=y"), "https://youtube.com/watch?v=x");
  auto longId = make(std::string("https://youtube.com/watch?v=abcdefghijkl&t=1"));
  EXPECT_EQ(longId->urlText.get(), "https://youtube.com/watch?v=abcdefghijkl");
  auto shortId = make(std::string("https://youtube.com/watch?v=abcdefghij&t=1"));
  EXPECT_EQ(shortId->urlText.get(), "https://youtube.com/watch?v=abcdefghij&t=1");
  EXPECT_FALSE(VideoDownloadViewModel::isValidURL("   "));
  EXPECT_TRUE(VideoDownloadViewModel::isValidURL(" ftp://host/x "));
  EXPECT_FALSE(VideoDownloadViewModel::isValidURL("/just/a/path"));
}

TEST_F(AddressModelTest, PasteFlagIsSetThenResetOnTheMainQueue) {
  auto model = make(std::string("https://youtu.be/dQw4w9WgXcQ"));
  EXPECT_TRUE(model->urlPasteAnimation.get());
  EXPECT_TRUE(platform::MainQueue::runUntil([&] { return !model->urlPasteAnimation.get(); }, 5.0));
  auto quiet = make(std::nullopt);
  EXPECT_FALSE(quiet->urlPasteAnimation.get());
}

TEST_F(AddressModelTest, RepastesOnActivationOnlyWhenFieldIsExactlyEmpty) {
  auto model = make(std::nullopt);
  pasteboard->setString("https://youtu.be/dQw4w9WgXcQ");
  auto activate = [] {
    platform::NotificationCenter::defaultCenter().post(platform::kApplicationDidBecomeActiveNotification);
    platform::MainQueue::drain();
  };
  model->urlText = std::string(" ");
  activate();
  EXPECT_EQ(model->urlText.get(), " ");
  model->urlText = std::string();
  activate();
  EXPECT_EQ(model->urlText.get(), "https://youtu.be/dQw4w9WgXcQ");
  // A released model no longer hears activation.
  std::weak_ptr<VideoDownloadViewModel> weak = model;
  model.reset();
  platform::MainQueue::runUntil([&] { return weak.expired(); }, 5.0);
  EXPECT_TRUE(weak.expired());
  activate();
}

class ScreenModelTest : public uitest::ViewModelTest {
 protected:
  struct FakeHost : WindowHost {
    std::optional<WindowFrame> frame = WindowFrame{0, 0, 1000, 400};
    std::vector<WindowFrame> animated;
    std::optional<WindowFrame> firstWindowFrame() override { return frame; }
    std::optional<WindowFrame> visibleScreenFrame() override { return WindowFrame{0, 0, 1920, 1080}; }
    void animateFirstWindow(const WindowFrame& f, double) override { animated.push_back(f); }
  };

  void SetUp() override {
    uitest::ViewModelTest::SetUp();
    manager = tavix::DownloadManager::create();
    manager->setLauncher([](auto&) -> std::optional<platform::Error> {
      return platform::Error::make("test", 1, "not launched in tests");
    });
    host = std::make_shared<FakeHost>();
    auto board = pasteboard;
    screen = std::make_unique<tavix::VideoDownloadScreenModel>(
        VideoDownloadViewModel::create([board] { return board->string(); }), manager,
        std::make_shared<WindowSizeManager>(host));
    subscription = manager->downloads.subscribe([this](const tavix::DownloadList& list) {
      if (!list.empty()) journal.push_back("added:" + list.back()->url.get());
    });
  }
  void TearDown() override {
    subscription.cancel();
    screen.reset();
    uitest::ViewModelTest::TearDown();
  }

  std::shared_ptr<tavix::DownloadManager> manager;
  std::shared_ptr<FakeHost> host;
  std::unique_ptr<tavix::VideoDownloadScreenModel> screen;
  platform::Cancellable subscription;
};

TEST_F(ScreenModelTest, DownloadButtonWithBlanksLogsInvalidAndKeepsText) {
  auto& vm = *screen->viewModel();
  EXPECT_FALSE(screen->downloadEnabled());
  vm.urlText = std::string("   ");
  EXPECT_TRUE(screen->downloadEnabled());
  screen->downloadPressed();
  EXPECT_EQ(events, std::vector<std::string>{"download_invalid_url"});
  EXPECT_TRUE(consoleHas("❌ Invalid URL:    "));
  EXPECT_EQ(vm.urlText.get(), "   ");
  EXPECT_TRUE(manager->downloads.get().empty());
}

TEST_F(ScreenModelTest, ValidPressLogsThenQueuesUntrimmedAndEmptiesField) {
  auto& vm = *screen->viewModel();
  vm.selectedQuality = Quality::p720;
  vm.urlText = std::string(" https://example.org/v/1 ");
  journal.clear();
  screen->downloadPressed();
  ASSERT_GE(journal.size(), 2u);
  EXPECT_EQ(journal[0], "event:download_720");
  EXPECT_EQ(journal[1].rfind("added:", 0), 0u);
  EXPECT_EQ(eventParameterCounts, std::vector<size_t>{0});
  EXPECT_EQ(vm.urlText.get(), "");
  EXPECT_FALSE(screen->downloadEnabled());
  EXPECT_EQ(manager->downloads.get().size(), 1u);
}

TEST_F(ScreenModelTest, CountChangeWritesLineAndResizesLater) {
  screen->viewModel()->urlText = std::string("https://example.org/v/1");
  screen->downloadPressed();
  EXPECT_TRUE(consoleHas("Downloads count changed: -> 1"));
  EXPECT_TRUE(platform::MainQueue::runUntil([&] { return !host->animated.empty(); }, 5.0));
  EXPECT_EQ(host->animated.back().height, 600);
  EXPECT_TRUE(consoleHas("🪟 Updating window size for 1 downloads"));
}

TEST_F(ScreenModelTest, AppearanceAndSizeLines) {
  screen->appeared();
  EXPECT_TRUE(consoleHas("🚀 App appeared, downloads count: 0"));
  EXPECT_TRUE(platform::MainQueue::runUntil([&] { return !host->animated.empty(); }, 5.0));
  EXPECT_TRUE(consoleHas("🪟 About to update window size for 0 downloads"));
  screen->windowSizeChanged(1000.7, 599.9);
  EXPECT_TRUE(consoleHas("Window size changed: 1000x599"));
}

TEST_F(ScreenModelTest, MascotTiltAndSiteClick) {
  const std::pair<double, double> tilts[] = {{150, 0}, {130, -2}, {120, -3}, {0, -3}, {180, 3}, {300, 3}, {155, 0.5}};
  for (auto [x, expected] : tilts) EXPECT_DOUBLE_EQ(tavix::VideoDownloadScreenModel::tilt(x), expected) << x;
  screen->dragChanged(0);  // not hovering: ignored
  EXPECT_EQ(screen->rotationY.get(), 0);
  screen->pointerEntered();
  screen->dragChanged(130);
  screen->dragEnded();  // still over it: tilt stays
  EXPECT_EQ(screen->rotationY.get(), -2);
  screen->pointerLeft();
  EXPECT_EQ(screen->rotationY.get(), 0);
  screen->mascotClicked();
  EXPECT_EQ(events, std::vector<std::string>{"site_click"});
  EXPECT_EQ(workspace->openedURLs(), std::vector<std::string>{tavix::VideoDownloadScreenModel::kSiteAddress});
}

// Every usage event of the window reaches the analytics interface, with an
// empty parameter dictionary, before its action changes anything: what the
// action changes reads the same at the event as before the press, and
// differently afterwards.
TEST_F(ScreenModelTest, EveryEventIsLoggedBeforeItsAction) {
  auto& vm = *screen->viewModel();
  auto item = std::make_shared<tavix::DownloadItem>("https://example.org/a", Quality::p720);
  int removed = 0;
  tavix::RowViewModel row(item, [&] { ++removed; });
  tavix::QueueViewModel queue(manager);
  auto status = [&] { return std::string(item->status.get().caseName()); };
  auto count = [](size_t n) { return std::to_string(n); };
  struct Case {
    std::string event;
    std::function<void()> prepare;
    std::function<std::string()> state;  // what the action changes
    std::function<void()> act;
  } cases[] = {
      {"paste_clipboard",
       [&] {
         pasteboard->setString("https://youtu.be/dQw4w9WgXcQ");
         vm.urlText = std::string();
       },
       [&] { return vm.urlText.get(); }, [&] { vm.pasteButtonTapped(); }},
      {"download_720",
       [&] {
         vm.selectedQuality = Quality::p720;
         vm.urlText = std::string("https://example.org/v/1");
       },
       [&] { return count(manager->downloads.get().size()) + vm.urlText.get(); }, [&] { screen->downloadPressed(); }},
      {"download_invalid_url", [&] { vm.urlText = std::string("no address"); },
       [&] { return count(console.lines().size()); }, [&] { screen->downloadPressed(); }},
      {"download_pause", [&] { item->status = tavix::DownloadStatus::downloading; }, status,
       [&] { row.pauseDownload(); }},
      {"download_retry", [&] { item->status = tavix::DownloadStatus::failed; }, status, [&] { row.retryDownload(); }},
      {"download_cancel", [&] { item->status = tavix::DownloadStatus::queued; },
       [&] { return status() + count(static_cast<size_t>(removed)); }, [&] { row.cancelDownload(); }},
      {"download_remove", [] {}, [&] { return count(static_cast<size_t>(removed)); }, [&] { row.removeFromList(); }},
      {"open_finder", [&] { item->filePath = std::string("/tmp/tavix-clip.mp4"); },
       [&] { return count(workspace->selectedFiles().size()); }, [&] { row.showInFinder(); }},
      {"url_click", [] {}, [&] { return count(workspace->openedURLs().size()); }, [&] { row.openInBrowser(); }},
      {"clear_completed",
       [&] {
         auto done = std::make_shared<tavix::DownloadItem>("https://example.org/done", Quality::best);
         done->status = tavix::DownloadStatus::completed;
         manager->downloads = tavix::DownloadList{done};
       },
       [&] { return count(manager->downloads.get().size()); }, [&] { queue.clearPressed(); }},
      {"site_click", [] {}, [&] { return count(workspace->openedURLs().size()); }, [&] { screen->mascotClicked(); }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.event);
    c.prepare();
    const std::string before = c.state();
    std::vector<std::pair<std::string, std::string>> heard;  // event, state when heard
    MyAnalytics::setSink([&](const std::string& name, const platform::Dictionary& parameters) {
      EXPECT_EQ(parameters.size(), 0u);
      heard.emplace_back(name, c.state());
    });
    c.act();
    MyAnalytics::setSink(nullptr);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].first, c.event);
    EXPECT_EQ(heard[0].second, before);
    EXPECT_NE(c.state(), before);
  }
}

TEST_F(TextsTest, EventSuffixRemovesEveryLetterP) {
  EXPECT_EQ(tavix::VideoDownloadScreenModel::downloadEventName(Quality::p1080), "download_1080");
  EXPECT_EQ(tavix::VideoDownloadScreenModel::downloadEventName(Quality::mp3), "download_m3");
  EXPECT_EQ(tavix::VideoDownloadScreenModel::downloadEventName(Quality::best), "download_best");
  // The event follows the display name: numbers read the same in every
  // language, "Best" is translated.
  useBundle(uitest::bundlePath(), "ru");
  EXPECT_EQ(tavix::VideoDownloadScreenModel::downloadEventName(Quality::p360), "download_360");
  EXPECT_EQ(Quality::best.localizedName(), "Лучшее");
  EXPECT_EQ(tavix::VideoDownloadScreenModel::downloadEventName(Quality::best), "download_лучшее");
}

TEST_F(TextsTest, PluralFormsAndMissingKeys) {
  useBundle(uitest::bundlePath(), "ru");
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 загрузок"},   {1, "1 загрузка"},  {2, "2 загрузки"},  {5, "5 загрузок"},   {11, "11 загрузок"},
      {12, "12 загрузок"}, {21, "21 загрузка"}, {22, "22 загрузки"}, {25, "25 загрузок"}, {111, "111 загрузок"},
      {112, "112 загрузок"}, {101, "101 загрузка"}, {1000, "1000 загрузок"},
  };
  for (auto [n, text] : cases) EXPECT_EQ(downloadsCountText(n), text) << n;
  // English: the form one for exactly 1, otherwise many.
  useBundle(uitest::bundlePath(), "en");
  const std::pair<int64_t, const char*> english[] = {
      {0, "0 downloads"}, {1, "1 download"},    {2, "2 downloads"},     {11, "11 downloads"},
      {21, "21 downloads"}, {101, "101 downloads"}, {-1, "-1 downloads"}, {1000, "1000 downloads"},
  };
  for (auto [n, text] : english) EXPECT_EQ(downloadsCountText(n), text) << n;
  // A missing form shows its key.
  uitest::ScratchBundle empty(R"({"downloads.items.one": "item"})");
  useBundle(empty.path(), "en");
  EXPECT_EQ(downloadsCountText(2), "2 downloads.items.many");
  EXPECT_EQ(downloadsCountText(1), "1 item");
  EXPECT_EQ(downloadsCountText(21), "21 downloads.items.many");
}

TEST_F(TextsTest, QualityAndStatusCompareThroughDisplayNames) {
  EXPECT_FALSE(Quality::p360 == Quality::p480);
  uitest::ScratchBundle same(R"({"quality.360p": "SD", "quality.480p": "SD", "status.failed": "Stopped",
                                  "status.cancelled": "Stopped"})");
  useBundle(same.path(), "en");
  EXPECT_TRUE(Quality::p360 == Quality::p480);
  EXPECT_TRUE(tavix::DownloadStatus::failed == tavix::DownloadStatus::cancelled);
  EXPECT_EQ(Quality::mp3.localizedName(), "quality.mp3");
}

}  // namespace
