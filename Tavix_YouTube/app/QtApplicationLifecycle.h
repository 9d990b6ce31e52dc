// QtApplicationLifecycle: turns the Qt application's state into the platform
// application's life-cycle events: finishLaunching() once the event loop
// runs, becomeActive() when Qt reports the application active,
// resignActive() when it leaves that state, terminate() when Qt is about to
// quit. The platform application calls its delegate and posts the
// notifications.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <memory>

#include "platform/app/Application.h"

class QtApplicationLifecycle : public QObject {
  Q_OBJECT
 public:
  explicit QtApplicationLifecycle(std::shared_ptr<platform::Application> application, QObject* parent = nullptr);

  // Queues did-finish-launching for the first pass of the event loop; an
  // application already active then also becomes active.
  void scheduleFinishLaunching();

 private:
  void applicationStateChanged(Qt::ApplicationState state);

  std::shared_ptr<platform::Application> m_application;
};
