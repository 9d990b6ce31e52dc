// AppDelegate: the application delegate. When launching has finished it
// configures the SDK (a configuration failure is logged and the application
// goes on without the SDK), logs the usage event "app_launch" and turns the
// whole application dark.
//
// It is also a runtime object of class "AppDelegate" adopting the
// application-delegate protocol, so that the SDK's application-delegate proxy
// can take it over; create it with make(), which registers the class.
//
// Main thread only.
#pragma once

#include <memory>

#include "platform/app/ApplicationDelegate.h"
#include "platform/runtime/Object.h"

class AppDelegate : public platform::Object, public platform::ApplicationDelegate {
 public:
  static constexpr const char* kClassName = "AppDelegate";

  // Registers the class with the runtime (once) and makes the delegate.
  static std::shared_ptr<AppDelegate> make();
  AppDelegate() : platform::Object(kClassName) {}

  // Configures the SDK's default app; false (and a log line) when it raised.
  static bool configureSDK();

  void applicationDidFinishLaunching(const platform::Notification& notification) override;
};

// Dark palette for every window and dialog of the application.
void applyDarkAppearance();
