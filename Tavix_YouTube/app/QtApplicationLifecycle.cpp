#include "Tavix_YouTube/app/QtApplicationLifecycle.h"

#include <QGuiApplication>
#include <QTimer>

QtApplicationLifecycle::QtApplicationLifecycle(std::shared_ptr<platform::Application> application, QObject* parent)
    : QObject(parent), m_application(std::move(application)) {
  connect(qApp, &QGuiApplication::applicationStateChanged, this, &QtApplicationLifecycle::applicationStateChanged);
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { m_application->terminate(); });
}

void QtApplicationLifecycle::scheduleFinishLaunching() {
  QTimer::singleShot(0, this, [this] {
    m_application->finishLaunching();
    if (QGuiApplication::applicationState() == Qt::ApplicationActive) m_application->becomeActive();
  });
}

void QtApplicationLifecycle::applicationStateChanged(Qt::ApplicationState state) {
  if (state == Qt::ApplicationActive) {
    m_application->becomeActive();
  } else {
    m_application->resignActive();  // does nothing unless it was active
  }
}
