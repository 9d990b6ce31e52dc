// AppShell: the start-up of the application, shared by main() and the
// end-to-end test. In order: Qt application (exceptions from events are
// caught), the quit signals (SIGTERM, SIGINT and SIGHUP end exec() as
// closing the window does), the Qt main-queue driver, the Qt pasteboard and
// workspace, the SDK's registration and the analytics interface as the
// usage-event sink, the application delegate (the SDK start-up is installed
// on it here), the life-cycle adapter, the window with its main screen (its
// download manager gets the Qt folder panel); did-finish-launching follows
// on the first turn of the event loop. The destructor undoes the installs in
// reverse.
//
// quit() is the one way out of the program once exec() has returned.
//
// GUI thread only.
#pragma once

#include <memory>

#include "Tavix_YouTube/app/AppDelegate.h"
#include "Tavix_YouTube/app/QtApplicationLifecycle.h"
#include "Tavix_YouTube/app/QtMainQueueDriver.h"
#include "Tavix_YouTube/app/QuitSignals.h"
#include "Tavix_YouTube/app/TavixApplication.h"
#include "Tavix_YouTube/ui/MainWindow.h"

class AppShell {
 public:
  AppShell(int& argc, char** argv);
  ~AppShell();

  // Shows the window and schedules did-finish-launching.
  void start();
  // Runs until the window is closed or a quit signal arrives.
  int exec();
  // Ends the program after exec(): every child process of the downloads
  // (downloaders with their process groups, title queries, file checks) is
  // stopped, then the process ends with `status`.
  [[noreturn]] void quit(int status);

  MainWindow& window() { return *m_window; }
  TavixApplication& application() { return *m_qt; }

 private:
  std::unique_ptr<TavixApplication> m_qt;
  std::unique_ptr<QuitSignals> m_quitSignals;
  std::shared_ptr<QtMainQueueDriver> m_driver;
  std::shared_ptr<platform::Application> m_application;
  std::unique_ptr<QtApplicationLifecycle> m_lifecycle;
  std::unique_ptr<MainWindow> m_window;
};
