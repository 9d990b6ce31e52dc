// Download rows: texts, colours, buttons and actions per status; the
// candy-stripe geometry.
#include <gtest/gtest.h>

#include <cmath>

#include "Tavix_YouTube/ui/viewmodels/CandyStripeGeometry.h"
#include "Tavix_YouTube/ui/viewmodels/RowViewModel.h"
#include "Tavix_YouTube/ui/viewmodels/tests/ViewModelSupport.h"

using tavix::DownloadStatus;
using tavix::RowAction;
using tavix::RowViewModel;

namespace {

class RowTest : public uitest::ViewModelTest {
 protected:
  RowViewModel row(DownloadStatus status) {
    item = std::make_shared<tavix::DownloadItem>("https://example.org/watch/1", tavix::Quality::p720);
    item->status = status;
    return RowViewModel(item, [this] { journal.push_back("removed"); });
  }
  std::shared_ptr<tavix::DownloadItem> item;
};

TEST_F(RowTest, ButtonsIconsAndColoursPerStatus) {
  struct Case {
    DownloadStatus status;
    std::vector<std::pair<std::string, RowAction>> buttons;
    std::string icon;
    SystemColor color;
    bool bar;
    double turn;
  } cases[] = {
      {DownloadStatus::queued, {{"trash", RowAction::cancel}}, "clock", SystemColor::Orange, false, 10},
      {DownloadStatus::downloading, {{"pause.fill", RowAction::pause}, {"trash", RowAction::cancel}},
       "arrow.down.circle", SystemColor::Blue, true, 10},
      {DownloadStatus::paused, {{"arrow.clockwise", RowAction::retry}, {"trash", RowAction::cancel}},
       "pause.circle.fill", SystemColor::Yellow, true, 10},
      {DownloadStatus::completed, {{"folder", RowAction::showInFinder}, {"trash", RowAction::remove}},
       "checkmark.circle.fill", SystemColor::Green, false, 0},
      {DownloadStatus::failed, {{"arrow.clockwise", RowAction::retry}, {"trash", RowAction::remove}},
       "exclamationmark.triangle.fill", SystemColor::Red, false, 10},
      {DownloadStatus::cancelled, {{"arrow.clockwise", RowAction::retry}, {"trash", RowAction::remove}},
       "xmark.circle.fill", SystemColor::Gray, false, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.status.caseName()));
    RowViewModel model = row(c.status);
    std::vector<std::pair<std::string, RowAction>> shown;
    for (const auto& b : model.buttons()) shown.emplace_back(b.icon, b.action);
    EXPECT_EQ(shown, c.buttons);
    EXPECT_EQ(model.statusIcon(), c.icon);
    EXPECT_EQ(model.statusColor(), c.color);
    EXPECT_EQ(model.showsProgressBar(), c.bar);
    EXPECT_EQ(model.progressBarActive(), c.status == DownloadStatus::downloading);
    EXPECT_EQ(model.thumbnailTurn(), c.turn);
  }
}

TEST_F(RowTest, StatusTextsFollowStatus) {
  auto texts = [](const RowViewModel& m) {
    std::vector<std::string> out;
    for (const auto& t : m.statusTexts()) out.push_back(t.text);
    return out;
  };
  RowViewModel downloading = row(DownloadStatus::downloading);
  item->progress = 42.9;
  item->fileSize = std::string("12.3MiB");
  item->speed = std::string("1.2MiB/s");
  EXPECT_EQ(texts(downloading), (std::vector<std::string>{"Downloading", "• 42%", "• 12.3MiB", "• 1.2MiB/s"}));
  item->status = DownloadStatus::paused;
  item->progress = 0.0;
  EXPECT_EQ(texts(downloading), (std::vector<std::string>{"Paused", "• 0%", "• 12.3MiB"}));
  item->status = DownloadStatus::completed;
  EXPECT_EQ(texts(downloading), (std::vector<std::string>{"Completed"}));
  item->status = DownloadStatus::failed;
  item->errorMessage = std::string("Video unavailable");
  EXPECT_EQ(texts(downloading), (std::vector<std::string>{"Failed", "• 12.3MiB"}));
  EXPECT_EQ(downloading.errorText(), "• Video unavailable");
}

TEST_F(RowTest, TitleLineShowsAddressUntilTitleArrives) {
  RowViewModel model = row(DownloadStatus::queued);
  EXPECT_TRUE(model.titleIsAddress());
  EXPECT_EQ(model.titleText(), "https://example.org/watch/1");
  EXPECT_EQ(model.titleColor(), SystemColor::Cyan);
  item->displayTitle = std::string("A title");
  EXPECT_EQ(model.titleText(), "A title");
  EXPECT_EQ(model.titleColor(), SystemColor::White);
  EXPECT_EQ(model.qualityBadgeText(), "720p");
}

TEST_F(RowTest, ActionsLogTheirEventFirst) {
  RowViewModel queued = row(DownloadStatus::queued);
  queued.cancelDownload();
  EXPECT_EQ(journal, (std::vector<std::string>{"event:download_cancel", "removed"}));
  EXPECT_EQ(item->status.get(), DownloadStatus::cancelled);

  journal.clear();
  RowViewModel done = row(DownloadStatus::completed);
  done.removeFromList();
  EXPECT_EQ(journal, (std::vector<std::string>{"event:download_remove", "removed"}));
  EXPECT_EQ(item->status.get(), DownloadStatus::completed);

  journal.clear();
  RowViewModel paused = row(DownloadStatus::paused);
  item->progress = 55.0;
  paused.retryDownload();
  EXPECT_EQ(journal, (std::vector<std::string>{"event:download_retry"}));
  EXPECT_EQ(item->status.get(), DownloadStatus::queued);
  EXPECT_EQ(item->progress.get(), 0);

  journal.clear();
  RowViewModel running = row(DownloadStatus::downloading);
  running.pauseDownload();  // no process: still paused
  EXPECT_EQ(item->status.get(), DownloadStatus::paused);
  running.showInFinder();  // no file: only the event
  EXPECT_EQ(events, (std::vector<std::string>{"download_cancel", "download_remove", "download_retry",
                                              "download_pause", "open_finder"}));

  // Without onRemove, cancel still logs and cancels.
  auto lone = std::make_shared<tavix::DownloadItem>("https://example.org/2", tavix::Quality::mp3);
  RowViewModel(lone, nullptr).cancelDownload();
  EXPECT_EQ(lone->status.get(), DownloadStatus::cancelled);
}

TEST_F(RowTest, OpenInBrowserOpensOnlyWebAddresses) {
  const std::pair<const char*, bool> cases[] = {
      {"https://example.org/watch/1", true}, {"HTTP://example.org/x", true},
      {"file:///etc/passwd", false},        {"javascript://x/alert(1)", false},
      {"not an address", false},            {"ftp://example.org/a", false},
  };
  for (auto [address, opens] : cases) {
    events.clear();
    auto entry = std::make_shared<tavix::DownloadItem>(address, tavix::Quality::best);
    const size_t before = workspace->openedURLs().size();
    RowViewModel(entry, nullptr).openInBrowser();
    EXPECT_EQ(events, std::vector<std::string>{"url_click"}) << address;
    EXPECT_EQ(workspace->openedURLs().size(), before + (opens ? 1 : 0)) << address;
  }
}

TEST(CandyStripeTest, FillWidthAndStripes) {
  const std::pair<double, double> fills[] = {{0, 0}, {50, 100}, {-5, 0}, {120, 240}, {NAN, 0}, {100, 200}};
  for (auto [p, w] : fills) EXPECT_DOUBLE_EQ(candy_stripe::fillWidth(p, 200), w) << p;
  EXPECT_EQ(candy_stripe::cornerRadius(10), 5);

  auto stripes = candy_stripe::stripes(200, 10, 0);
  ASSERT_FALSE(stripes.empty());
  EXPECT_EQ(stripes[0][0], (candy_stripe::Point{-10, 0}));
  EXPECT_EQ(stripes[0][2], (candy_stripe::Point{3, 10}));
  EXPECT_EQ(stripes[1][0].x - stripes[0][0].x, 8);
  // x runs while x < w + h + o: k up to 27 for (200, 10, 0).
  EXPECT_EQ(stripes.size(), 28u);
  auto shifted = candy_stripe::stripes(200, 10, 16);
  EXPECT_EQ(shifted[0][0].x, 6);
  EXPECT_EQ(shifted.size(), 30u);
  EXPECT_TRUE(candy_stripe::stripes(INFINITY, 10, 0).empty());
}

}  // namespace
