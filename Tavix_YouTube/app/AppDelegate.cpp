#include "Tavix_YouTube/app/AppDelegate.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"
#include "platform/log/Log.h"
#include "platform/runtime/ClassRegistry.h"
#include "platform/values/Exception.h"
#include "sdk/core/RIRApp.h"

std::shared_ptr<AppDelegate> AppDelegate::make() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  if (!registry.exists(kClassName)) {
    registry.registerClass(kClassName);
    registry.addProtocol(kClassName, "NSApplicationDelegate");
  }
  return std::make_shared<AppDelegate>();
}

void AppDelegate::applicationDidFinishLaunching(const platform::Notification&) {
  configureSDK();
  MyAnalytics::logEvent("app_launch");
  applyDarkAppearance();
}

bool AppDelegate::configureSDK() {
  // A broken options file makes configure raise. The downloader does not need
  // the SDK, so the failure is logged and the application goes on without it.
  try {
    RIRApp::configure();
    return true;
  } catch (const platform::Exception& exception) {
    platform::Log::handle("com.tavix.app", "AppDelegate")
        .write(platform::LogType::Error,
               "SDK not started: " + exception.name + ": " + exception.reason);
  } catch (const std::exception& exception) {
    platform::Log::handle("com.tavix.app", "AppDelegate")
        .write(platform::LogType::Error, std::string("SDK not started: ") + exception.what());
  }
  return false;
}

void applyDarkAppearance() {
  if (!qApp) return;
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QPalette palette;
  palette.setColor(QPalette::Window, QColor(30, 30, 32));
  palette.setColor(QPalette::WindowText, Qt::white);
  palette.setColor(QPalette::Base, QColor(24, 24, 26));
  palette.setColor(QPalette::AlternateBase, QColor(40, 40, 44));
  palette.setColor(QPalette::ToolTipBase, QColor(44, 44, 48));
  palette.setColor(QPalette::ToolTipText, Qt::white);
  palette.setColor(QPalette::Text, Qt::white);
  palette.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 110));
  palette.setColor(QPalette::Button, QColor(44, 44, 48));
  palette.setColor(QPalette::ButtonText, Qt::white);
  palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  QApplication::setPalette(palette);
}
