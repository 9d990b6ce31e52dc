// Window CPU use: the main window as the application builds it, shown at a
// given height for a few seconds, and the processor time this process used
// meanwhile (all threads, user + system) as a percentage of one core.
//
//   bench_window_idle --height 860 --bubbles on|off --download none|one --seconds 8 [--screenshot FILE]
//
// --bubbles off hides the background bubbles (the reference of the
// comparison); --download one shows one download receiving downloader
// progress lines four times a second, as a running download does. Prints
// "cpu_percent=<value>". bench/window_idle_cpu runs it in pairs under Xvfb.
// --screenshot saves the window as the display shows it when the sample
// starts (PNG), to compare the look of two builds.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "Tavix_YouTube/app/QtMainQueueDriver.h"
#include "Tavix_YouTube/engine/DownloadManager.h"
#include "Tavix_YouTube/ui/BubblesView.h"
#include "Tavix_YouTube/ui/MainWindow.h"
#include "Tavix_YouTube/ui/Theme.h"
#include "Tavix_YouTube/ui/VideoDownloadView.h"
#include "platform/app/Bundle.h"
#include "platform/log/Console.h"

namespace {

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int usage() {
  std::fprintf(stderr,
               "usage: bench_window_idle --height H --bubbles on|off --download none|one --seconds S "
               "[--screenshot FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int height = 400;
  bool bubbles = true;
  bool download = false;
  double seconds = 8;
  std::string screenshot;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--height") {
      height = std::stoi(value);
    } else if (name == "--bubbles") {
      bubbles = value == "on";
    } else if (name == "--download") {
      download = value == "one";
    } else if (name == "--seconds") {
      seconds = std::stod(value);
    } else if (name == "--screenshot") {
      screenshot = value;
    } else {
      return usage();
    }
  }
  if (argc % 2 == 0) return usage();

  platform::console::setWriter([](std::string_view) {});
  QApplication app(argc, argv);
  auto driver = QtMainQueueDriver::install();
  theme::setResourceDirectory(QString::fromStdString(platform::Bundle::main()->resourcePath()));

  MainWindow window;
  window.installMainScreen();
  VideoDownloadView* screen = window.mainScreen();
  if (!bubbles) {
    if (auto* view = screen->findChild<BubblesView*>()) view->hide();
  }
  auto manager = screen->model().downloadManager();
  std::shared_ptr<tavix::DownloadItem> item;
  QTimer progress;
  if (download) {
    item = std::make_shared<tavix::DownloadItem>("https://www.youtube.com/watch?v=dQw4w9WgXcQ", tavix::Quality::p720);
    item->status = tavix::DownloadStatus::downloading;
    item->displayTitle = std::string("A sample clip with a title of ordinary length");
    manager->downloads = tavix::DownloadList{item};
    int step = 0;
    QObject::connect(&progress, &QTimer::timeout, [&] {
      ++step;
      const std::string line = "[download]  " + std::to_string(step % 100) + ".4% of   48.20MiB at    3." +
                               std::to_string(step % 10) + "0MiB/s ETA 00:" + std::to_string(10 + step % 50) + "\r";
      manager->parseOutput(line, *item);
    });
    progress.start(250);
  }
  window.show();

  // The screen sizes the window for its queue 0.2 s after it appears; the
  // height asked for is set after that, then the window settles.
  QElapsedTimer clock;
  double cpuAtStart = 0;
  double wallAtStart = 0;
  QTimer::singleShot(1000, [&] { window.resize(1000, height); });
  QTimer::singleShot(2500, [&] {
    if (!screenshot.empty() && window.screen()) {
      window.screen()->grabWindow(window.winId()).save(QString::fromStdString(screenshot));
    }
    cpuAtStart = cpuSeconds();
    wallAtStart = clock.elapsed() / 1000.0;
  });
  QTimer::singleShot(2500 + int(seconds * 1000), [&] {
    const double cpu = cpuSeconds() - cpuAtStart;
    const double wall = clock.elapsed() / 1000.0 - wallAtStart;
    std::printf("cpu_percent=%.2f height=%d\n", 100.0 * cpu / wall, window.height());
    std::fflush(stdout);
    app.quit();
  });
  clock.start();
  const int status = app.exec();
  window.close();
  return status;
}
