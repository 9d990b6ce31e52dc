// AppDelegate: the application delegate. When launching has finished it
// configures the SDK (a configuration failure is logged and the application
// goes on without the SDK), logs the usage event "app_launch" and turns the
// whole application dark.
//
// Main thread only.
#pragma once

#include "platform/app/ApplicationDelegate.h"

class AppDelegate : public platform::ApplicationDelegate {
 public:
  // Configures the SDK's default app; false (and a log line) when it raised.
  static bool configureSDK();

  void applicationDidFinishLaunching(const platform::Notification& notification) override;
};

// Dark palette for every window and dialog of the application.
void applyDarkAppearance();
