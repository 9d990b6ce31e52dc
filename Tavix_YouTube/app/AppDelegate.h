// AppDelegate: the application delegate. When launching has finished it
// starts the SDK (installed by the SDK start-up hook, empty until then), logs
// the usage event "app_launch" and turns the whole application dark.
//
// Main thread only.
#pragma once

#include <functional>

#include "platform/app/ApplicationDelegate.h"

class AppDelegate : public platform::ApplicationDelegate {
 public:
  // Runs the SDK configuration; set by the entry point before launch.
  static void setConfigureSDK(std::function<void()> configure);

  void applicationDidFinishLaunching(const platform::Notification& notification) override;
};

// Dark palette for every window and dialog of the application.
void applyDarkAppearance();
