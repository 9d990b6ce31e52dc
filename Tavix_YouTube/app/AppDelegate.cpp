#include "Tavix_YouTube/app/AppDelegate.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"

namespace {
std::function<void()>& configureSDK() {
  static std::function<void()> configure;
  return configure;
}
}  // namespace

void AppDelegate::setConfigureSDK(std::function<void()> configure) { configureSDK() = std::move(configure); }

void AppDelegate::applicationDidFinishLaunching(const platform::Notification&) {
  if (configureSDK()) configureSDK()();
  MyAnalytics::logEvent("app_launch");
  applyDarkAppearance();
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
