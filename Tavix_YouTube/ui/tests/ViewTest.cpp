// Qt views on the offscreen platform: rows per status, elided titles, the
// status icons' pixels, the queue with 0, 1 and several items, the layout at
// every window height, the quality selector, the main screen's wiring, press
// and hover feedback and the candy-stripe bar's pixels. The screenshot test
// renders the window with items in several states to
// <build>/artifacts/window-<platform>.png.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QLineF>
#include <QPaintEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <ostream>
#include <QElapsedTimer>
#include <QTest>
#include <cstdlib>

#include "Tavix_YouTube/ui/Animations.h"
#include "Tavix_YouTube/ui/BubblesView.h"
#include "Tavix_YouTube/ui/CandyStripeBar.h"
#include "Tavix_YouTube/ui/DownloadItemView.h"
#include "Tavix_YouTube/ui/DownloadQueueView.h"
#include "Tavix_YouTube/ui/MainWindow.h"
#include "Tavix_YouTube/ui/QualitySelector.h"
#include "Tavix_YouTube/ui/Theme.h"
#include "Tavix_YouTube/ui/VideoDownloadView.h"
#include "Tavix_YouTube/ui/viewmodels/tests/ViewModelSupport.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"

using tavix::DownloadStatus;

QT_BEGIN_NAMESPACE
// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "ui-tests";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* instance = new QApplication(argc, argv);
  return *instance;
}

class ViewTest : public uitest::ViewModelTest {
 protected:
  void SetUp() override {
    app();
    uitest::ViewModelTest::SetUp();
    ui_animations::setEnabled(false);
    theme::setResourceDirectory(QString::fromStdString(uitest::bundlePath()));
    manager = tavix::DownloadManager::create();
    // Queued items fail to start instead of running a downloader.
    manager->setLauncher([](auto&) -> std::optional<platform::Error> {
      return platform::Error::make("test", 1, "not launched in tests");
    });
  }
  void TearDown() override {
    QApplication::processEvents();
    uitest::ViewModelTest::TearDown();
  }
  std::shared_ptr<tavix::DownloadItem> addItem(DownloadStatus status, const std::string& url) {
    auto item = std::make_shared<tavix::DownloadItem>(url, tavix::Quality::p720);
    item->status = status;
    auto list = manager->downloads.get();
    list.push_back(item);
    manager->downloads = list;
    return item;
  }
  // Pumps until the screen has resized the window `count` times in all: it
  // does so 0.2 s after it appears and 0.1 s after each change of the queue.
  int windowSizings() const {
    int done = 0;
    for (const auto& line : console.lines()) done += line.rfind("🪟 Updating window size for ", 0) == 0;
    return done;
  }
  bool waitForWindowSizing(int count) {
    return QTest::qWaitFor(
        [&] {
          platform::MainQueue::drain();
          return windowSizings() >= count;
        },
        20000);
  }
  static void settle() {
    for (int i = 0; i < 3; ++i) {
      QApplication::processEvents();
      platform::MainQueue::drain();
    }
  }
  std::shared_ptr<tavix::DownloadManager> manager;
};

TEST_F(ViewTest, RowShowsButtonsAndBarPerStatus) {
  auto item = std::make_shared<tavix::DownloadItem>("https://example.org/v", tavix::Quality::p480);
  DownloadItemView row(item, nullptr);
  row.resize(700, 120);
  row.show();
  struct Case {
    DownloadStatus status;
    std::vector<QString> symbols;
    bool bar;
  } cases[] = {
      {DownloadStatus::queued, {"trash"}, false},
      {DownloadStatus::downloading, {"pause.fill", "trash"}, true},
      {DownloadStatus::paused, {"arrow.clockwise", "trash"}, true},
      {DownloadStatus::completed, {"folder", "trash"}, false},
      {DownloadStatus::failed, {"arrow.clockwise", "trash"}, false},
      {DownloadStatus::cancelled, {"arrow.clockwise", "trash"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.status.caseName()));
    item->status = c.status;
    settle();
    std::vector<QString> shown;
    for (QToolButton* b : row.actionButtons()) shown.push_back(b->property("symbol").toString());
    EXPECT_EQ(shown, c.symbols);
    EXPECT_EQ(row.progressBar() != nullptr, c.bar);
    if (row.progressBar()) {
      EXPECT_EQ(row.progressBar()->isActive(), c.status == DownloadStatus::downloading);
    }
    EXPECT_EQ(row.thumbnail()->turn(), c.status == DownloadStatus::completed ? 0 : 10);
  }
  // Tooltips come from the strings table; the title line has its own.
  EXPECT_EQ(row.actionButtons().back()->toolTip(), "Remove from list");
  EXPECT_EQ(row.titleLabel()->toolTip(), "Open in browser");
}

// Titles, sizes and errors come from the page and the downloader: markup in
// them is shown as typed, never rendered (nor does it load images).
TEST_F(ViewTest, RowShowsOutsideTextsAsTheyAre) {
  auto item = std::make_shared<tavix::DownloadItem>("https://example.org/v", tavix::Quality::p480);
  item->status = DownloadStatus::failed;
  item->displayTitle = std::string("<b>T</b><img src=\"/nonexistent.png\">");
  item->fileSize = std::string("<i>9</i>MiB");
  item->errorMessage = std::string("<h1>E</h1>");
  DownloadItemView row(item, nullptr);
  row.resize(900, 120);
  row.show();
  settle();
  auto showsRaw = [](QLabel* label, const QString& raw) {
    EXPECT_EQ(label->text(), raw);
    EXPECT_GE(label->sizeHint().width(), QFontMetrics(label->font()).horizontalAdvance(raw) - 4) << raw.toStdString();
  };
  EXPECT_EQ(row.titleLabel()->textFormat(), Qt::PlainText);
  showsRaw(row.titleLabel(), "<b>T</b><img src=\"/nonexistent.png\">");
  ASSERT_EQ(row.statusTextLabels().size(), 2u);
  showsRaw(row.statusTextLabels()[1], "• <i>9</i>MiB");
  EXPECT_EQ(row.errorLabel()->text(), "• <h1>E</h1>");
  EXPECT_EQ(row.errorLabel()->textFormat(), Qt::PlainText);
}

// The thumbnail is decoded once per new picture, not on every change of the
// item (progress changes many times a second while downloading).
TEST_F(ViewTest, RowDecodesTheThumbnailOncePerChange) {
  auto picture = [](Qt::GlobalColor color) {
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return tavix::Thumbnail::fromData(platform::Bytes(bytes.begin(), bytes.end())).value();
  };
  auto item = std::make_shared<tavix::DownloadItem>("https://example.org/v", tavix::Quality::p480);
  item->status = DownloadStatus::downloading;
  DownloadItemView row(item, nullptr);
  item->thumbnail = picture(Qt::red);
  settle();
  ASSERT_TRUE(row.thumbnail()->hasImage());
  const qint64 decoded = row.thumbnail()->image().cacheKey();
  for (double progress : {10.0, 20.5, 30.0}) {
    item->progress = progress;
    item->speed = std::to_string(progress) + "KiB/s";
    settle();
  }
  EXPECT_EQ(row.thumbnail()->image().cacheKey(), decoded);
  item->thumbnail = picture(Qt::blue);
  settle();
  EXPECT_NE(row.thumbnail()->image().cacheKey(), decoded);
  EXPECT_EQ(row.thumbnail()->image().pixelColor(0, 0), QColor(Qt::blue));
  item->thumbnail = std::nullopt;
  settle();
  EXPECT_FALSE(row.thumbnail()->hasImage());
}

// Titles too long for the row end in "…" within the line's width; addresses
// (shown until the title arrives, also as the title of a started download)
// lose their middle, so their differing ends stay. The whole text is in the
// tooltip above what a click does.
TEST_F(ViewTest, RowTitleElidesLongTextsWithFullTextInTooltip) {
  const std::string longTitle = "A very long video title that goes on and on about many things in great detail, "
                                "longer than any row of this window could show on one line";
  const std::string longAddress = "https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PLabcdefghijklmnopqrstuvwxyz0123456789"
                                  "&index=42&t=1234s&feature=shared";
  struct Case {
    const char* name;
    std::string title;  // empty: the address shows
    bool middle;        // elided in the middle rather than at the end
  } cases[] = {{"title", longTitle, false}, {"address", "", true}, {"address as title", longAddress, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto item = std::make_shared<tavix::DownloadItem>(longAddress, tavix::Quality::p720);
    item->status = DownloadStatus::failed;
    if (!c.title.empty()) item->displayTitle = c.title;
    DownloadItemView row(item, nullptr);
    row.resize(550, 120);
    row.show();
    settle();
    ClickableLabel* title = row.titleLabel();
    const QString full = QString::fromStdString(c.title.empty() ? longAddress : c.title);
    EXPECT_EQ(title->fullText(), full);
    EXPECT_TRUE(title->isElided());
    const QString shown = title->text();
    const qsizetype cut = shown.indexOf(QChar(0x2026));
    ASSERT_GE(cut, 0) << shown.toStdString();
    if (c.middle) {
      EXPECT_GT(cut, 10) << shown.toStdString();
      EXPECT_TRUE(full.startsWith(shown.left(cut)));
      EXPECT_TRUE(full.endsWith(shown.mid(cut + 1))) << shown.toStdString();
      EXPECT_TRUE(shown.endsWith("feature=shared"));
    } else {
      EXPECT_EQ(cut, shown.size() - 1) << shown.toStdString();
      EXPECT_TRUE(full.startsWith(shown.chopped(1)));
    }
    EXPECT_LE(QFontMetrics(title->font()).horizontalAdvance(shown), title->contentsRect().width());
    EXPECT_EQ(title->toolTip(), full + "\nOpen in browser");

    // Room enough: the whole text, and the tooltip names only the action.
    row.resize(4000, 120);
    settle();
    EXPECT_EQ(title->text(), full);
    EXPECT_FALSE(title->isElided());
    EXPECT_EQ(title->toolTip(), "Open in browser");
  }
}

// The status icons keep their marks at 12 pixels: the pause bars and the
// triangle's "!" are see-through columns in the solid shape, not a blur.
TEST_F(ViewTest, StatusIconsAreLegibleAtTwelvePixels) {
  auto alphaAt = [](const QImage& image, int x, int y) { return image.pixelColor(x, y).alpha(); };
  {
    auto item = std::make_shared<tavix::DownloadItem>("https://example.org/p", tavix::Quality::p720);
    item->status = DownloadStatus::paused;
    DownloadItemView row(item, nullptr);
    settle();
    const QImage icon = row.statusIconLabel()->pixmap().toImage();
    ASSERT_EQ(icon.size(), QSize(12, 12));
    for (int y = 4; y <= 7; ++y) {
      SCOPED_TRACE(y);
      EXPECT_GT(alphaAt(icon, 2, y), 200);  // disc
      EXPECT_LT(alphaAt(icon, 4, y), 60);   // left bar, cut out
      EXPECT_GT(alphaAt(icon, 5, y), 200);  // disc between the bars
      EXPECT_GT(alphaAt(icon, 6, y), 200);
      EXPECT_LT(alphaAt(icon, 7, y), 60);   // right bar
      EXPECT_GT(alphaAt(icon, 9, y), 200);
    }
    // The icon is drawn in the status colour (yellow).
    EXPECT_EQ(icon.pixelColor(6, 6).rgb(), theme::systemColor(SystemColor::Yellow).rgb());
  }
  {
    auto item = std::make_shared<tavix::DownloadItem>("https://example.org/f", tavix::Quality::p720);
    item->status = DownloadStatus::failed;
    DownloadItemView row(item, nullptr);
    settle();
    const QImage icon = row.statusIconLabel()->pixmap().toImage();
    ASSERT_EQ(icon.size(), QSize(12, 12));
    for (int x : {5, 6}) {
      SCOPED_TRACE(x);
      for (int y : {5, 6, 7}) EXPECT_LT(alphaAt(icon, x, y), 60) << "stem row " << y;
      EXPECT_GT(alphaAt(icon, x, 8), 200) << "between stem and dot";
      EXPECT_LT(alphaAt(icon, x, 9), 60) << "dot";
      EXPECT_GT(alphaAt(icon, x, 10), 200) << "base";
    }
    EXPECT_GT(alphaAt(icon, 3, 9), 200);  // the triangle around the mark
    EXPECT_GT(alphaAt(icon, 8, 9), 200);
  }
}

TEST_F(ViewTest, RowClickRunsEventThenAction) {
  auto item = addItem(DownloadStatus::downloading, "https://example.org/a");
  DownloadItemView row(item, [this, item] { manager->removeDownload(item->id); });
  row.show();
  QTest::mouseClick(row.actionButtons()[0], Qt::LeftButton);  // pause
  EXPECT_EQ(item->status.get(), DownloadStatus::paused);
  settle();
  QTest::mouseClick(row.actionButtons()[1], Qt::LeftButton);  // trash: cancel + remove
  EXPECT_EQ(item->status.get(), DownloadStatus::cancelled);
  EXPECT_TRUE(manager->downloads.get().empty());
  QTest::mouseClick(row.titleLabel(), Qt::LeftButton);
  EXPECT_EQ(events, (std::vector<std::string>{"download_pause", "download_cancel", "url_click"}));
  EXPECT_EQ(workspace->openedURLs(), std::vector<std::string>{"https://example.org/a"});
}

TEST_F(ViewTest, QueueWithZeroOneAndSeveralItems) {
  DownloadQueueView queue(manager);
  queue.resize(550, 400);
  queue.show();
  settle();
  EXPECT_FALSE(queue.isVisible());

  auto first = addItem(DownloadStatus::completed, "https://example.org/1");
  settle();
  EXPECT_TRUE(queue.isVisible());
  EXPECT_EQ(queue.countLabel()->text(), "1 download");
  EXPECT_FALSE(queue.clearButton()->isVisible());
  EXPECT_FALSE(queue.scrollButton()->isVisible());

  addItem(DownloadStatus::failed, "https://example.org/2");
  auto third = addItem(DownloadStatus::downloading, "https://example.org/3");
  settle();
  EXPECT_TRUE(queue.clearButton()->isVisible());
  ASSERT_EQ(queue.rows().size(), 3u);
  EXPECT_EQ(queue.rows().front()->model().item(), third);  // newest first
  EXPECT_EQ(queue.rows().back()->model().item(), first);

  // A row's remove request removes that item only.
  queue.model().removeDownload(first->id);
  queue.model().removeDownload(first->id);  // already gone: nothing
  settle();
  EXPECT_EQ(queue.rows().size(), 2u);

  // Clearing logs first, then keeps only unfinished items.
  QTest::mouseClick(queue.clearButton(), Qt::LeftButton);
  settle();
  EXPECT_EQ(events, std::vector<std::string>{"clear_completed"});
  ASSERT_EQ(manager->downloads.get().size(), 1u);
  EXPECT_EQ(manager->downloads.get()[0], third);
}

TEST_F(ViewTest, ScrollButtonFromFourItemsWhenEndIsOutOfView) {
  DownloadQueueView queue(manager);
  queue.resize(550, 300);
  queue.show();
  for (int i = 0; i < 3; ++i) addItem(DownloadStatus::queued, "https://example.org/" + std::to_string(i));
  settle();
  QScrollBar* bar = queue.scrollArea()->verticalScrollBar();
  bar->setValue(0);
  settle();
  EXPECT_FALSE(queue.scrollButton()->isVisible());  // 3 items: never
  addItem(DownloadStatus::queued, "https://example.org/4");
  settle();
  bar->setValue(0);
  settle();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_TRUE(queue.scrollButton()->isVisible());
  QTest::mouseClick(queue.scrollButton(), Qt::LeftButton);  // posts scrollToBottom
  settle();
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_FALSE(queue.scrollButton()->isVisible());

  // The marker leaving the view shows the button even while the oldest row is
  // still in view; it goes again as soon as that row comes back, before the
  // end of the list is reached.
  const int almostEnd = bar->maximum() - 30;
  bar->setValue(almostEnd);
  settle();
  EXPECT_TRUE(queue.scrollButton()->isVisible());
  bar->setValue(0);
  settle();
  EXPECT_TRUE(queue.scrollButton()->isVisible());
  bar->setValue(almostEnd);
  settle();
  EXPECT_FALSE(queue.scrollButton()->isVisible());
}

// The list's scroll bar is thin, has no arrow buttons and a light handle.
TEST_F(ViewTest, ScrollBarIsThinAndTranslucentWhite) {
  DownloadQueueView queue(manager);
  queue.resize(550, 300);
  queue.show();
  for (int i = 0; i < 5; ++i) addItem(DownloadStatus::queued, "https://example.org/" + std::to_string(i));
  settle();
  QScrollBar* bar = queue.scrollArea()->verticalScrollBar();
  ASSERT_TRUE(bar->isVisible());
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_LE(bar->width(), 8);
  QStyleOptionSlider option;
  option.initFrom(bar);
  option.orientation = Qt::Vertical;
  option.minimum = bar->minimum();
  option.maximum = bar->maximum();
  option.sliderPosition = bar->value();
  option.pageStep = bar->pageStep();
  EXPECT_EQ(bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarAddLine, bar).height(), 0);
  const QRect handle = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
  ASSERT_FALSE(handle.isEmpty());
  // Over black, the handle shows as a grey of its white's opacity; the track
  // stays black.
  QImage image(bar->size(), QImage::Format_ARGB32);
  image.fill(Qt::black);
  bar->render(&image);
  const QColor inHandle = image.pixelColor(handle.center());
  EXPECT_GT(inHandle.lightness(), 40);
  EXPECT_LT(inHandle.lightness(), 200);
  EXPECT_EQ(inHandle.red(), inHandle.blue());
  const int trackY = handle.bottom() + 20 < bar->height() ? handle.bottom() + 20 : handle.top() - 20;
  EXPECT_EQ(image.pixelColor(handle.center().x(), trackY).lightness(), 0);
}

TEST_F(ViewTest, QualitySelectorSegmentsAndSelection) {
  auto model = tavix::VideoDownloadViewModel::create([] { return std::optional<std::string>(); });
  QualitySelector selector(model);
  selector.resize(550, 44);
  selector.show();
  settle();
  ASSERT_EQ(selector.segmentCount(), 6);
  const char* labels[] = {"MP3", "360p", "480p", "720p", "1080p", "Best"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(selector.segment(i)->text(), labels[i]);
  EXPECT_EQ(selector.selectedIndex(), 1);
  // A click beside the text, near the segment's edge, selects it.
  QPushButton* p1080 = selector.segment(4);
  QTest::mouseClick(p1080, Qt::LeftButton, {}, QPoint(2, p1080->height() - 3));
  EXPECT_EQ(model->selectedQuality.get(), tavix::Quality::p1080);
  settle();
  EXPECT_EQ(selector.labelColor(4), QualitySelector::primaryColor());
  EXPECT_EQ(selector.labelColor(1), QualitySelector::secondaryColor());
  EXPECT_EQ(selector.highlight()->geometry(), p1080->geometry());
}

TEST_F(ViewTest, CandyStripeBarFillPixels) {
  struct Case {
    double progress;
    int filledUpTo;  // columns < this are blue fill
  } cases[] = {{0, 0}, {50, 100}, {-10, 0}, {120, 200}};
  for (const auto& c : cases) {
    CandyStripeBar bar(c.progress, false, 200, 10);
    EXPECT_DOUBLE_EQ(bar.drawnFillWidth(), std::max(0.0, c.progress * 2));
    const QImage image = bar.grab().toImage();
    ASSERT_EQ(image.size(), QSize(200, 10));
    auto blueish = [&](int x) {
      const QColor px = image.pixelColor(x, 5);
      return px.blue() > 120 && px.red() < 150;
    };
    if (c.filledUpTo > 20) {
      EXPECT_TRUE(blueish(c.filledUpTo / 2)) << c.progress;
    }
    if (c.filledUpTo < 190) {
      EXPECT_FALSE(blueish(std::min(199, c.filledUpTo + 10))) << c.progress;
    }
  }
  CandyStripeBar bar(40, false, 200, 10);
  bar.show();
  EXPECT_FALSE(bar.isSliding());  // created inactive: still
  bar.setActive(true);
  EXPECT_TRUE(bar.isSliding());
  bar.setActive(false);
  EXPECT_TRUE(bar.isSliding());  // nothing stops it
}

// The background bubbles over a plain dark blue screen, as the main screen
// shows them.
class BubblesHost : public QWidget {
 public:
  BubblesHost() {
    setAutoFillBackground(true);
    QPalette palette;
    palette.setColor(QPalette::Window, QColor::fromRgbF(0, 0.2, 0.6));
    setPalette(palette);
    resize(1000, 860);
    bubbles = new BubblesView(this);
    bubbles->setGeometry(rect());
    bubbles->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted.push_back(static_cast<QPaintEvent*>(event)->rect());
    return false;
  }
  BubblesView* bubbles;
  std::vector<QRect> painted;
};

int largestChannelChange(const QImage& a, const QImage& b) {
  int largest = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q))});
    }
  }
  return largest;
}

// Over two legs (40 s) the bubbles move in a few dozen steps a leg, each too
// small to see as a jump (a bubble changes no pixel by more than the step's
// colour levels; where bubbles overlap their changes add up), and a step
// repaints the bubbles' own rectangles, never the whole screen.
TEST_F(ViewTest, BubblesDriftInFewInvisibleSteps) {
  EXPECT_EQ(BubblesView::stepPixels(0), 7);
  EXPECT_EQ(BubblesView::stepPixels(1), 10);
  EXPECT_EQ(BubblesView::stepPixels(2), 11);
  BubblesHost host;
  host.show();
  settle();
  QImage before = host.grab().toImage();
  const QPointF start = host.bubbles->bubbleOffset(0);
  int steps = 0;
  int largest = 0;
  for (qint64 t = 0; t <= 40000; t += 10) {
    host.painted.clear();
    host.bubbles->advanceTo(t);
    if (host.painted.empty()) continue;
    ++steps;
    int area = 0;
    for (const QRect& rect : host.painted) area += rect.width() * rect.height();
    EXPECT_LT(area, 3 * 420 * 420) << "at " << t << " ms";
    const QImage after = host.grab().toImage();
    largest = std::max(largest, largestChannelChange(before, after));
    before = after;
  }
  EXPECT_GE(steps, 2 * 30);
  EXPECT_LE(steps, 2 * 70);
  EXPECT_LE(largest, 2 * BubblesView::kLevelsPerStep);
  EXPECT_GT(largest, 0);
  // Back where it started after two legs, having been at the other end.
  EXPECT_LT(QLineF(host.bubbles->bubbleOffset(0), start).length(), BubblesView::stepPixels(0));
}

// The drift, and a running progress bar's stripes, stop while the window is
// hidden or minimised and go on from where they were.
TEST_F(ViewTest, AnimationsPauseWhileTheWindowCannotBeSeen) {
  BubblesHost host;
  auto* bar = new CandyStripeBar(40, true, 200, 10, &host);
  host.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.bubbles->isDrifting() && bar->isAnimating(); }));
  for (const char* how : {"hidden", "minimised"}) {
    SCOPED_TRACE(how);
    if (std::string(how) == "hidden") {
      host.hide();
    } else {
      host.showMinimized();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.bubbles->isDrifting() && !bar->isAnimating(); }));
    const qint64 pausedAt = host.bubbles->elapsed();
    QTest::qWait(100);
    EXPECT_EQ(host.bubbles->elapsed(), pausedAt) << "the drift went on while paused";
    QElapsedTimer sinceShown;
    sinceShown.start();
    host.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.bubbles->isDrifting() && bar->isAnimating(); }));
    // Drift time after the pause is at most the time since the window came
    // back, however long the (loaded) machine took: the pause is not counted.
    const qint64 resumed = host.bubbles->elapsed();
    EXPECT_GE(resumed, pausedAt);
    EXPECT_LE(resumed, pausedAt + sinceShown.elapsed());
  }
}

// Under an X server: a window laid over the whole main window stops them too.
TEST_F(ViewTest, AnimationsPauseWhileTheWindowIsCovered) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X server";
  BubblesHost host;
  auto* bar = new CandyStripeBar(40, true, 200, 10, &host);
  host.setGeometry(100, 100, 400, 300);
  host.bubbles->setGeometry(host.rect());
  host.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.bubbles->isDrifting() && bar->isAnimating(); }));
  QWidget cover;
  cover.setGeometry(50, 50, 600, 500);
  cover.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !host.bubbles->isDrifting() && !bar->isAnimating(); }))
      << "still drifting under a covering window";
  cover.hide();
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.bubbles->isDrifting() && bar->isAnimating(); }))
      << "not drifting once uncovered";
}

TEST_F(ViewTest, MainScreenWiring) {
  MainWindow window;
  window.installMainScreen();
  window.show();
  ASSERT_TRUE(waitForWindowSizing(1));
  settle();
  VideoDownloadView* screen = window.mainScreen();
  EXPECT_EQ(window.minimumSize(), QSize(1000, 400));
  EXPECT_EQ(window.windowTitle(), "Video Downloader");
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(screen->titleLabel()->text(), "Video Downloader");
  // Appearing writes its line; the first layout is no size change, a resize is.
  auto sizeLines = [this] {
    std::vector<std::string> lines;
    for (const auto& line : console.lines()) {
      if (line.rfind("Window size changed: ", 0) == 0) lines.push_back(line);
    }
    return lines;
  };
  EXPECT_TRUE(consoleHas("🚀 App appeared, downloads count: 0"));
  EXPECT_TRUE(sizeLines().empty());
  window.resize(1000, 600);
  settle();
  EXPECT_EQ(sizeLines(), std::vector<std::string>{"Window size changed: 1000x600"});
  EXPECT_FALSE(screen->downloadButton()->isEnabled());
  QTest::keyClicks(screen->addressField(), "  ");
  EXPECT_EQ(screen->model().viewModel()->urlText.get(), "  ");
  EXPECT_TRUE(screen->downloadButton()->isEnabled());
  // Return in the field starts nothing.
  QTest::keyClick(screen->addressField(), Qt::Key_Return);
  EXPECT_TRUE(events.empty());

  pasteboard->setString("https://youtu.be/dQw4w9WgXcQ");
  platform::Pasteboard::setGeneral(pasteboard);
  QTest::mouseClick(screen->pasteButton(), Qt::LeftButton);
  EXPECT_EQ(screen->addressField()->text(), "https://youtu.be/dQw4w9WgXcQ");
  EXPECT_TRUE(screen->pasteHighlighted());
  platform::Pasteboard::setGeneral(nullptr);
}

// At every height the window can take (with the number of rows that goes
// with it, and 400 with rows, as right after the first download is added or
// when the user shrinks the window) the column's parts keep their order
// without overlapping, the queue header keeps its height and the list,
// however short, scrolls.
TEST_F(ViewTest, LayoutHoldsAtEveryWindowHeight) {
  struct Case {
    int rows;
    int height;
  } cases[] = {{1, 400}, {1, 600}, {2, 740}, {3, 860}, {3, 400}, {5, 860}, {5, 400}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows at " + std::to_string(c.height));
    const int sizingsBefore = windowSizings();
    MainWindow window;
    window.installMainScreen();
    VideoDownloadView* screen = window.mainScreen();
    auto& screenManager = *screen->model().downloadManager();
    screenManager.setLauncher([](auto&) -> std::optional<platform::Error> { return std::nullopt; });
    tavix::DownloadList list;
    for (int i = 0; i < c.rows; ++i) {
      auto item = std::make_shared<tavix::DownloadItem>("https://example.org/" + std::to_string(i), tavix::Quality::p720);
      item->status = DownloadStatus::downloading;
      list.push_back(item);
    }
    screenManager.downloads = list;
    window.show();
    // The screen sizes the window for its queue after the change and after it
    // appears; the height under test is set once both have run.
    ASSERT_TRUE(waitForWindowSizing(sizingsBefore + 2));
    window.resize(1000, c.height);
    settle();
    // The window goes no lower than what shows a whole row (above 400 then).
    ASSERT_EQ(window.height(), std::max(c.height, window.minimumHeight()));
    EXPECT_GE(window.minimumHeight(), 400);

    DownloadQueueView* queue = screen->queueView();
    auto frameIn = [screen](const QWidget* widget) {
      return QRect(widget->mapTo(screen, QPoint(0, 0)), widget->size());
    };
    const QWidget* column[] = {screen->titleLabel(), screen->addressField(), screen->qualitySelector(),
                               screen->downloadButton(), queue};
    for (size_t i = 0; i + 1 < std::size(column); ++i) {
      EXPECT_LE(frameIn(column[i]).bottom(), frameIn(column[i + 1]).top()) << "part " << i << " overlaps the next";
    }
    EXPECT_LE(frameIn(queue).bottom(), screen->height() - 1);
    EXPECT_EQ(queue->header()->height(), queue->header()->sizeHint().height());
    EXPECT_LE(frameIn(queue->titleLabel()).bottom(), frameIn(queue->countLabel()).top());
    EXPECT_GE(queue->countLabel()->height(), queue->countLabel()->sizeHint().height());
    const int rowsHeight = queue->rows().size() * queue->rows().front()->sizeHint().height();
    if (rowsHeight > queue->scrollArea()->height()) {
      EXPECT_GT(queue->scrollArea()->verticalScrollBar()->maximum(), 0);
    }
    if (c.rows == 1) {
      EXPECT_EQ(queue->scrollArea()->verticalScrollBar()->maximum(), 0) << "one row scrolls";
    }
    // From the top of the list the newest row is seen whole, and the scroll
    // button (there from 4 rows, once the end has been seen) covers no part
    // of the list.
    QScrollBar* bar = queue->scrollArea()->verticalScrollBar();
    bar->setValue(bar->maximum());
    settle();
    bar->setValue(0);
    settle();
    QWidget* viewport = queue->scrollArea()->viewport();
    const DownloadItemView* newest = queue->rows().front();
    EXPECT_TRUE(viewport->rect().contains(QRect(newest->mapTo(viewport, QPoint(0, 0)), newest->size())))
        << "the newest row is cut";
    EXPECT_EQ(queue->scrollButton()->isVisible(), c.rows >= 4);
    if (queue->scrollButton()->isVisible()) {
      EXPECT_FALSE(frameIn(queue->scrollButton()).intersects(frameIn(viewport))) << "the scroll button covers the list";
    }
  }
}

// Buttons answer the pointer: each looks different at rest, under the
// pointer and while pressed.
TEST_F(ViewTest, ButtonsShowHoverAndPress) {
  MainWindow window;
  window.installMainScreen();
  VideoDownloadView* screen = window.mainScreen();
  auto& screenManager = *screen->model().downloadManager();
  screenManager.setLauncher([](auto&) -> std::optional<platform::Error> { return std::nullopt; });
  auto first = std::make_shared<tavix::DownloadItem>("https://example.org/1", tavix::Quality::p720);
  auto second = std::make_shared<tavix::DownloadItem>("https://example.org/2", tavix::Quality::p720);
  first->status = DownloadStatus::failed;
  second->status = DownloadStatus::failed;
  screenManager.downloads = tavix::DownloadList{first, second};
  screen->model().viewModel()->urlText = std::string("https://example.org/x");  // enables the download button
  window.resize(1000, 740);
  window.show();
  settle();
  ASSERT_FALSE(screen->queueView()->rows().empty());
  struct Case {
    const char* name;
    QAbstractButton* button;
  } cases[] = {
      {"download", screen->downloadButton()},
      {"paste", screen->pasteButton()},
      {"clear", screen->queueView()->clearButton()},
      {"row action", screen->queueView()->rows().front()->actionButtons().front()},
      {"quality segment", screen->qualitySelector()->segment(0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.button->isVisible());
    auto look = [&] {
      QImage image(c.button->size(), QImage::Format_ARGB32);
      image.fill(Qt::black);
      c.button->render(&image);
      return image;
    };
    const QImage rest = look();
    // Under the pointer: the pointer moves onto it (push buttons follow the
    // moves) and the widget knows it is under the pointer.
    QTest::mouseMove(c.button, c.button->rect().center());
    c.button->setAttribute(Qt::WA_UnderMouse, true);
    const QImage hovered = look();
    c.button->setDown(true);
    const QImage pressed = look();
    c.button->setDown(false);
    c.button->setAttribute(Qt::WA_UnderMouse, false);
    EXPECT_NE(rest, hovered);
    EXPECT_NE(hovered, pressed);
    EXPECT_NE(rest, pressed);
    EXPECT_EQ(look(), rest);
  }
}

// Losing the active state posts window-did-resign-key; other changes do not.
TEST_F(ViewTest, TheWindowPostsResignKeyWhenItStopsBeingActive) {
  MainWindow window;
  int posted = 0;
  platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
  platform::ObserverToken token =
      center.addObserver(platform::kWindowDidResignKeyNotification, {}, [&](const platform::Notification&) { ++posted; });
  QEvent title(QEvent::WindowTitleChange);
  QApplication::sendEvent(&window, &title);
  EXPECT_EQ(posted, 0);
  QEvent activation(QEvent::ActivationChange);
  QApplication::sendEvent(&window, &activation);  // never shown, so not the active window
  EXPECT_EQ(posted, 1);
  center.removeObserver(token);
}

// Rendered window with rows in several states, kept as a build artifact.
TEST_F(ViewTest, WindowScreenshot) {
  MainWindow window;
  window.installMainScreen();
  auto& screenManager = *window.mainScreen()->model().downloadManager();
  screenManager.setLauncher([](auto&) -> std::optional<platform::Error> {
    return platform::Error::make("test", 1, "not launched in tests");
  });
  DownloadStatus states[] = {DownloadStatus::completed, DownloadStatus::failed, DownloadStatus::downloading};
  tavix::DownloadList list;
  for (const auto& status : states) {
    auto item = std::make_shared<tavix::DownloadItem>("https://www.youtube.com/watch?v=dQw4w9WgXcQ",
                                                      tavix::Quality::p1080);
    item->status = status;
    item->progress = status == DownloadStatus::downloading ? 62.5 : 100.0;
    item->fileSize = std::string("48.2MiB");
    item->speed = std::string("3.1MiB/s");
    if (status != DownloadStatus::downloading) item->displayTitle = std::string("Sample clip");
    if (status == DownloadStatus::failed) item->errorMessage = std::string("Network error");
    list.push_back(item);
  }
  screenManager.downloads = list;
  window.resize(1000, 860);
  window.show();
  settle();
  const QImage image = window.grab().toImage();
  // <build>/artifacts, beside the bundle folder; one file per platform, as
  // the offscreen and the X server runs may run side by side.
  const QString folder = QString::fromStdString(uitest::bundlePath()) + "/../artifacts";
  QDir().mkpath(folder);
  const QString file = folder + "/window-" + QGuiApplication::platformName() + ".png";
  ASSERT_TRUE(image.save(file));
  const QImage saved(file);
  EXPECT_EQ(saved.size(), QSize(1000, 860) * window.devicePixelRatio());
  // Not blank: the background gradient and the rows give many colours.
  QSet<QRgb> colours;
  for (int y = 0; y < saved.height(); y += 17) {
    for (int x = 0; x < saved.width(); x += 13) colours.insert(saved.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 50);
}

}  // namespace
