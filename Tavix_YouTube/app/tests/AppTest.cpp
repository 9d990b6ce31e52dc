// End to end: the application's start-up (the same AppShell as main()) with
// the fake downloader as the bundle's "yt-dlp". An address on the clipboard
// is pasted at activation, the download button starts the download, the row
// reaches "completed" and the console shows the engine's lines. Runs on the
// offscreen platform, and under Xvfb (xcb) through a second CTest entry.
// The quit signals end the event loop as closing the window does, and the
// quit path stops every process the downloads started; the program itself
// ends with status 0 on SIGTERM.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <filesystem>
#include <fstream>

#include "Tavix_YouTube/app/AppShell.h"
#include "Tavix_YouTube/app/QtDesktop.h"
#include "Tavix_YouTube/ui/DownloadItemView.h"
#include "Tavix_YouTube/ui/DownloadQueueView.h"
#include "Tavix_YouTube/ui/VideoDownloadView.h"
#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
// Qt's "slots" keyword macro would rewrite a field of the measurement messages.
#pragma push_macro("slots")
#undef slots
#include "measurement/engine/APMMeasurement.h"
#include "measurement/engine/tests/MeasurementEngineWorld.h"
#include "testing/Quiescence.h"
#include "testing/fakes/measurement/FakeMeasurementConfigService.h"
#include "testing/fakes/measurement/FakeMeasurementUploadService.h"
#pragma pop_macro("slots")
#include "platform/app/Application.h"
#include "platform/app/Bundle.h"
#include "platform/log/ConsoleCapture.h"
#include "platform/time/Clock.h"
#include "platform/process/Task.h"
#include "sdk/core/RIRApp.h"
#include "testing/BuildPaths.h"
#include "testing/ProgramRun.h"
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
    // A real clip, as the bundle's media tool checks the finished file.
    m_clip = (m_root / "clip.mp4").string();
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=duration=2:size=160x120:rate=10 "
                           "-c:v libx264 -pix_fmt yuv420p '" + m_clip + "'").c_str()),
              0);
    writeScenario("title out Sample clip\\n\n"
                  "out [duration] 2\\n\n"
                  "out [download] Destination: clip.mp4\\n\n"
                  "out [download]  50.0% of 1.00MiB at 1.00MiB/s ETA 00:01\\n\n"
                  "sleep 0.3\n"
                  "copy " + m_clip + "\n"
                  "out [download] 100% of 1.00MiB in 00:01\\n\n"
                  "exit 0\n");
    m_environment.set("APP_RESOURCES", bundle.string());
    m_environment.set("FAKE_DOWNLOADER_SCENARIO", (m_root / "scenario").string());
    platform::Bundle::setMain(nullptr);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Measurement starts afresh in this home, as in a new process.
    measurementtest::MeasurementEngineWorld::resetProcessState();
  }
  // What the application set up globally goes, so that any test can follow.
  void TearDown() override {
    // The engine's start-up and writes finish in this home, not the next test's.
    EXPECT_TRUE(testkit::waitForQuiescence());
    MyAnalytics::setSink(nullptr);
    RIRApp::resetForTesting();
    measurementtest::MeasurementEngineWorld::resetProcessState();
    platform::Application::setShared(nullptr);
    platform::Bundle::setMain(nullptr);
  }
  void writeScenario(const std::string& text) { std::ofstream(m_root / "scenario") << text; }
  testkit::TempHome m_home;  // HOME and the XDG folders
  testkit::ScopedEnvironment m_environment;
  fs::path m_root;
  std::string m_clip;
};

// The engine's raw events as (name, origin), in row order; none before the
// engine and its database are up.
std::vector<std::pair<std::string, std::string>> storedRawEvents() {
  std::vector<std::pair<std::string, std::string>> stored;
  std::shared_ptr<APMMeasurement> engine =
      APMMeasurement::hasSharedInstance() ? APMMeasurement::sharedInstance() : nullptr;
  if (!engine || !engine->database()) return stored;
  engine->scheduler()->dispatchSyncOnWorkerQueueBlockID("app-test", [&] {
    platform::Error error;
    for (const auto& raw : engine->database()->allRawEventsWithError(&error).value_or(
             std::vector<std::shared_ptr<APMRawEventData>>())) {
      stored.emplace_back(raw->rawEvent()->name(), raw->rawEvent()->origin());
    }
  });
  return stored;
}

bool waitFor(const std::function<bool()>& condition, int milliseconds = 20000) {
  return QTest::qWaitFor(condition, milliseconds);
}

// Program arguments of the shell (Qt keeps referring to them).
int& shellArgc() {
  static int argc = 1;
  return argc;
}
char** shellArgv() {
  static char name[] = "tavix";
  static char* argv[] = {name, nullptr};
  return argv;
}

// Records the usage events and passes them on to the sink the shell installed.
void recordUsageEvents(std::vector<std::string>& events) {
  auto forward = std::make_shared<MyAnalytics::Sink>();
  *forward = MyAnalytics::setSink([&events, forward](const std::string& name, const platform::Dictionary& parameters) {
    events.push_back(name);
    if (*forward) (*forward)(name, parameters);
  });
}

// The clipboard outlives the shell: it is emptied again when the test ends.
struct ClipboardCleanup {
  ~ClipboardCleanup() { QGuiApplication::clipboard()->clear(); }
};

// The process is there and has not ended (a zombie has ended).
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string number, command, state;
  return static_cast<bool>(stat >> number >> command >> state) && state != "Z";
}

pid_t readPid(const fs::path& file) {
  std::ifstream in(file);
  pid_t pid = 0;
  in >> pid;
  return pid;
}

// SIGHUP, SIGINT and SIGTERM each end the event loop as closing the window
// does; the quit path then stops what the download started: the downloader
// with the media tool it runs, and the title query.
TEST_F(EndToEndTest, QuitSignalsEndTheLoopAndTheQuitPathStopsTheChildren) {
  const fs::path pids = m_root / "pids";
  fs::create_directories(pids);
  writeScenario("title pid " + (pids / "title").string() + "\ntitle sleep 600\n" + "child " +
                (pids / "tool").string() + "\npid " + (pids / "downloader").string() + "\nsleep 600\n");
  AppShell shell(shellArgc(), shellArgv());
  ClipboardCleanup clipboardCleanup;
  VideoDownloadView* screen = shell.window().mainScreen();
  QGuiApplication::clipboard()->setText(QString::fromUtf8(kAddress));
  shell.start();
  ASSERT_TRUE(waitFor([&] { return screen->addressField()->text() == kAddress; }));
  QTest::mouseClick(screen->downloadButton(), Qt::LeftButton);
  std::vector<pid_t> children;
  ASSERT_TRUE(waitFor([&] {
    children.clear();
    for (const char* child : {"title", "tool", "downloader"}) children.push_back(readPid(pids / child));
    return std::all_of(children.begin(), children.end(), [](pid_t pid) { return pid > 0; });
  })) << "the download's processes did not start";
  for (int signalNumber : {SIGHUP, SIGINT, SIGTERM}) {
    QTimer::singleShot(0, [signalNumber] { ::raise(signalNumber); });
    EXPECT_EQ(shell.exec(), 0) << "signal " << signalNumber;
    for (pid_t child : children) EXPECT_TRUE(alive(child)) << "stopped before the quit path";
  }
  // The quit path's first step (the second ends the process).
  screen->model().downloadManager()->stopProcesses();
  for (pid_t child : children) EXPECT_FALSE(alive(child)) << child << " outlived the quit";
  shell.window().close();
}

// The program itself: SIGTERM (a logout) ends it through the quit path, with
// status 0, not killed by the signal.
TEST_F(EndToEndTest, ProgramEndsOnSigtermThroughTheQuitPath) {
  platform::Task program;
  program.setExecutablePath(testkit::builtProgram("tavix"));
  program.setEnvironmentAdditions({{"QT_QPA_PLATFORM", "offscreen"}});
  std::mutex mutex;
  std::string out;
  program.setStdoutHandler([&](std::string_view bytes) {
    std::lock_guard lock(mutex);
    out.append(bytes);
  });
  program.setStandardError(platform::Task::Output::discard);
  ASSERT_FALSE(program.launch());
  const bool appeared = waitFor([&] {
    std::lock_guard lock(mutex);
    return out.find("🚀 App appeared") != std::string::npos;
  });
  program.terminate();
  program.waitUntilExit();
  ASSERT_TRUE(appeared) << out;
  EXPECT_EQ(program.terminationReason(), platform::Task::TerminationReason::exit);
  EXPECT_EQ(program.terminationStatus(), 0);
}

TEST_F(EndToEndTest, PasteAtActivationDownloadAndComplete) {
  platform::ConsoleCapture console;
  std::vector<std::string> events;

  {
    AppShell shell(shellArgc(), shellArgv());
    recordUsageEvents(events);
    ClipboardCleanup clipboardCleanup;
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

// The launch starts the SDK, which starts analytics and the measurement
// engine; the engine reports the first open and the window's usage events
// become raw events of its database.
TEST_F(EndToEndTest, LaunchStoresTheUsageEventsAsRawEvents) {
  using Row = std::pair<std::string, std::string>;  // name, origin
  std::vector<Row> stored;
  {
    AppShell shell(shellArgc(), shellArgv());
    shell.start();
    ASSERT_TRUE(waitFor([&] {
      stored = storedRawEvents();
      return std::find(stored.begin(), stored.end(), Row{"app_launch", "app"}) != stored.end();
    })) << "no app_launch stored";
    shell.window().close();
  }
  // The first open, the session the active application starts, its engagement.
  ASSERT_GE(stored.size(), 4u);
  EXPECT_EQ(stored.at(0), (Row{"_f", "auto"}));
  EXPECT_EQ(stored.at(1), (Row{"_s", "auto"}));
  EXPECT_EQ(stored.at(2), (Row{"_e", "auto"}));
}

// With no configuration stored, the first launch fetches one and uploads its
// first bundles, with its first open and "app_launch", 15 s after its first
// event.
TEST_F(EndToEndTest, TheFirstLaunchUploadsItsFirstBundle15SecondsAfterItsFirstEvent) {
  testkit::LoopbackServer services;
  testkit::FakeMeasurementConfigService configs(services);
  testkit::FakeMeasurementUploadService uploads(services);
  m_environment.set("APP_SERVICES_URL", services.url());
  m_environment.set("APP_REACHABILITY", "reachable");
  auto clock = std::make_shared<platform::VirtualClock>(measurementtest::MeasurementEngineWorld::kEpoch);
  platform::Clock::setCurrent(clock);
  struct ClockCleanup {
    ~ClockCleanup() { platform::Clock::setCurrent(nullptr); }
  } clockCleanup;
  // The front takes its load time (the first open's time) on the virtual clock.
  measurementtest::MeasurementEngineWorld::resetProcessState();
  {
    AppShell shell(shellArgc(), shellArgv());
    shell.start();
    ASSERT_TRUE(waitFor([] { return !storedRawEvents().empty(); })) << "no raw event stored";
    clock->advance(14.9);
    // Whatever 14.9 s started has run before the counts are read.
    ASSERT_TRUE(testkit::waitForQuiescence());
    EXPECT_EQ(configs.fetchCount(), 0u);
    EXPECT_EQ(uploads.uploadCount(), 0u);
    clock->advance(0.1);
    ASSERT_TRUE(waitFor([&] { return uploads.uploadCount() == 1; })) << "no upload";
    shell.window().close();
  }
  EXPECT_EQ(configs.fetchCount(), 1u);
  const std::vector<testkit::UploadedBatch> batches = uploads.batches();
  ASSERT_EQ(batches.size(), 1u);
  std::vector<testkit::UploadedEvent> launches;
  std::vector<testkit::UploadedEvent> firstOpens;
  for (const testkit::UploadedBundle& bundle : batches[0].bundles) {
    for (const testkit::UploadedEvent& event : bundle.eventsNamed("app_launch")) launches.push_back(event);
    for (const testkit::UploadedEvent& event : bundle.eventsNamed("_f")) firstOpens.push_back(event);
  }
  ASSERT_EQ(firstOpens.size(), 1u);
  EXPECT_EQ(firstOpens[0].timestampMs, static_cast<int64_t>(measurementtest::MeasurementEngineWorld::kEpoch * 1000));
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].timestampMs, static_cast<int64_t>(measurementtest::MeasurementEngineWorld::kEpoch * 1000));
}

}  // namespace
