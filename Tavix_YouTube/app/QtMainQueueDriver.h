// QtMainQueueDriver: drives the platform main queue from the Qt event loop.
// wakeUp() (any thread) posts a queued call to the GUI thread that drains the
// main queue, so main-queue work runs on the Qt GUI thread between events.
// The main queue itself coalesces wake-ups and catches what a task throws.
//
// install() creates the driver on the GUI thread and sets it as the main
// queue's driver; uninstall() (or destruction of the returned guard) removes
// it before the Qt objects go away.
#pragma once

#include <QObject>
#include <memory>

#include "platform/dispatch/MainQueue.h"

class QtMainQueueDriver : public platform::MainQueueDriver {
 public:
  QtMainQueueDriver();
  ~QtMainQueueDriver() override;
  void wakeUp() override;

  static std::shared_ptr<QtMainQueueDriver> install();
  static void uninstall();

 private:
  std::unique_ptr<QObject> m_context;  // lives on the GUI thread; receives the queued calls
};
