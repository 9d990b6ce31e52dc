// End to end: the application's start-up (the same AppShell as main()) with
// the fake downloader as the bundle's "yt-dlp". An address on the clipboard
// is pasted at activation, the download button starts the download, the row
// reaches "completed" and the console shows the engine's lines. Runs on the
// offscreen platform, and under Xvfb (xcb) through a second CTest entry.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Tavix_YouTube/app/AppShell.h"
#include "Tavix_YouTube/app/QtDesktop.h"
#include "Tavix_YouTube/ui/DownloadItemView.h"
#include "Tavix_YouTube/ui/DownloadQueueView.h"
#include "Tavix_YouTube/ui/VideoDownloadView.h"
#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
#include "platform/app/Application.h"
#include "platform/app/Bundle.h"
#include "platform/log/ConsoleCapture.h"
#include "sdk/core/RIRApp.h"
#include "testing/BuildPaths.h"
#include "testing/ScopedEnvironment.h"
#include "testing/TempHome.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kAddress = "https://www.youtube.com/watch?v=dQw4w9WgXcQ";

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The bundle is this build's, with the fake downloader as its "yt-dlp".
    const fs::path build = testkit::binaryDir();
    m_root = m_home.path();
    const fs::path bundle = m_root / "resources";
    fs::create_directories(bundle);
    fs::create_directories(m_root / "Downloads");
    for (const auto& entry : fs::directory_iterator(build / "resources")) {
      const std::string name = entry.path().filename().string();
      if (name == "yt-dlp") continue;
      fs::create_symlink(fs::canonical(entry.path()), bundle / name);
    }
    fs::create_symlink(build / "bin" / "fake-downloader", bundle / "yt-dlp");
    std::ofstream(m_root / "scenario") << "title out Sample clip\\n\n"
                                          "out [download] Destination: clip.mp4\\n\n"
                                          "out [download]  50.0% of 1.00MiB at 1.00MiB/s ETA 00:01\\n\n"
                                          "sleep 0.3\n"
                                          "output 2048\n"
                                          "out [download] 100% of 1.00MiB in 00:01\\n\n"
                                          "exit 0\n";
    m_environment.set("APP_RESOURCES", bundle.string());
    m_environment.set("FAKE_DOWNLOADER_SCENARIO", (m_root / "scenario").string());
    platform::Bundle::setMain(nullptr);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // What the application set up globally goes, so that any test can follow.
  void TearDown() override {
    MyAnalytics::setSink(nullptr);
    RIRApp::resetForTesting();
    platform::Application::setShared(nullptr);
    platform::Bundle::setMain(nullptr);
  }
  testkit::TempHome m_home;  // HOME and the XDG folders
  testkit::ScopedEnvironment m_environment;
  fs::path m_root;
};

bool waitFor(const std::function<bool()>& condition, int milliseconds = 20000) {
  return QTest::qWaitFor(condition, milliseconds);
}

TEST_F(EndToEndTest, PasteAtActivationDownloadAndComplete) {
  platform::ConsoleCapture console;
  std::vector<std::string> events;
  MyAnalytics::setSink([&](const std::string& name, const platform::Dictionary&) { events.push_back(name); });

  static int argc = 1;
  static char name[] = "tavix";
  static char* argv[] = {name, nullptr};
  {
    AppShell shell(argc, argv);
    // The clipboard outlives the shell: it is emptied again when the test ends.
    struct ClipboardCleanup {
      ~ClipboardCleanup() { QGuiApplication::clipboard()->clear(); }
    } clipboardCleanup;
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Video Downloader");
    EXPECT_EQ(shell.window().windowTitle(), "Video Downloader");
    VideoDownloadView* screen = shell.window().mainScreen();
    ASSERT_NE(screen, nullptr);
    // The download manager can choose a folder: the Qt panel is set at launch.
    EXPECT_NE(dynamic_cast<QtFolderPanel*>(screen->model().downloadManager()->folderPanel().get()), nullptr);
    // The field is empty at creation (nothing on the clipboard yet); the
    // address arrives before activation and is pasted then.
    EXPECT_EQ(screen->addressField()->text(), "");
    QGuiApplication::clipboard()->setText(QString::fromUtf8(kAddress));
    shell.start();
    ASSERT_TRUE(waitFor([&] { return screen->addressField()->text() == kAddress; }))
        << "clipboard address not pasted at activation";

    QTest::mouseClick(screen->downloadButton(), Qt::LeftButton);
    EXPECT_EQ(screen->addressField()->text(), "");
    auto& manager = *screen->model().downloadManager();
    ASSERT_EQ(manager.downloads.get().size(), 1u);
    auto item = manager.downloads.get()[0];
    ASSERT_TRUE(waitFor([&] { return item->status.get() == tavix::DownloadStatus::completed; }))
        << "status: " << item->status.get().localizedName() << " error: " << item->errorMessage.get();
    ASSERT_TRUE(waitFor([&] {
      auto rows = screen->queueView()->rows();
      return rows.size() == 1 && !rows[0]->statusTextLabels().empty() &&
             rows[0]->statusTextLabels()[0]->text() == "Completed";
    }));
    shell.window().close();
  }

  EXPECT_NE(std::find(events.begin(), events.end(), "app_launch"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "download_360"), events.end());
  const auto lines = console.lines();
  auto has = [&](const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  };
  EXPECT_TRUE(has("🔄 Processing queue:"));
  EXPECT_TRUE(has("   Starting download for: "));
  EXPECT_TRUE(has("🚀 App appeared, downloads count: 0"));
  EXPECT_TRUE(has("Downloads count changed: -> 1"));
}

}  // namespace
