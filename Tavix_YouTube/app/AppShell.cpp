#include "Tavix_YouTube/app/AppShell.h"

#include <QDir>
#include <QGuiApplication>

#include "Tavix_YouTube/app/QtDesktop.h"
#include "Tavix_YouTube/ui/Theme.h"
#include "Tavix_YouTube/ui/VideoDownloadView.h"
#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"
#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
// Qt's "slots" keyword macro would rewrite a field of the measurement messages.
#pragma push_macro("slots")
#undef slots
#include "measurement/engine/ROZAdavurudo.h"
#pragma pop_macro("slots")
#include "platform/app/Bundle.h"
#include "platform/dispatch/ExitDrain.h"
#include "platform/runtime/EndProcess.h"
#include "sdk/registration/RIRRegistration.h"

AppShell::AppShell(int& argc, char** argv) {
  m_qt = std::make_unique<TavixApplication>(argc, argv);
  m_quitSignals = std::make_unique<QuitSignals>();
  m_driver = QtMainQueueDriver::install();
  platform::Pasteboard::setGeneral(std::make_shared<QtPasteboard>());
  platform::Workspace::setShared(std::make_shared<QtWorkspace>());
  theme::setResourceDirectory(QString::fromStdString(platform::Bundle::main()->resourcePath()));
  // The desktop names the program by the screen's title, not the executable.
  QGuiApplication::setApplicationDisplayName(QString::fromStdString(localizedString("app.title")));

  m_application = platform::Application::shared();
  m_application->setLaunchArguments(argc, argv);
  // The SDK's libraries register before the delegate configures the SDK; the
  // window's usage events go to the analytics interface.
  RIRRegisterAll();
  MyAnalytics::setSink(ROZAdavurudo::logEventWithName);
  m_application->setDelegate(AppDelegate::make());
  m_lifecycle = std::make_unique<QtApplicationLifecycle>(m_application);

  m_window = std::make_unique<MainWindow>();
  m_window->installMainScreen();
  m_window->mainScreen()->model().downloadManager()->setFolderPanel(std::make_shared<QtFolderPanel>());
}

AppShell::~AppShell() {
  MyAnalytics::setSink(nullptr);
  m_window.reset();
  m_lifecycle.reset();
  platform::Workspace::setShared(nullptr);
  platform::Pasteboard::setGeneral(nullptr);
  QtMainQueueDriver::uninstall();
  m_driver.reset();
  m_quitSignals.reset();
  m_qt.reset();
}

void AppShell::start() {
  m_window->show();
  m_window->raise();
  m_window->activateWindow();
  m_lifecycle->scheduleFinishLaunching();
}

int AppShell::exec() { return m_qt->exec(); }

void AppShell::quit(int status) {
  // Nothing the downloads started outlives the program.
  m_window->mainScreen()->model().downloadManager()->stopProcesses();
  // What the stores have queued is written; the rest of the SDK's queued work
  // may still run on the pool: no exit-time destructors under it.
  platform::ExitDrain::drain();
  platform::endProcess(status);
}
