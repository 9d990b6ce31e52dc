#include "Tavix_YouTube/app/QtMainQueueDriver.h"

#include <QCoreApplication>
#include <QMetaObject>

QtMainQueueDriver::QtMainQueueDriver() : m_context(std::make_unique<QObject>()) {}

QtMainQueueDriver::~QtMainQueueDriver() = default;

void QtMainQueueDriver::wakeUp() {
  QMetaObject::invokeMethod(m_context.get(), [] { platform::MainQueue::drain(); }, Qt::QueuedConnection);
}

std::shared_ptr<QtMainQueueDriver> QtMainQueueDriver::install() {
  auto driver = std::make_shared<QtMainQueueDriver>();
  platform::MainQueue::setDriver(driver);
  return driver;
}

void QtMainQueueDriver::uninstall() { platform::MainQueue::setDriver(nullptr); }
