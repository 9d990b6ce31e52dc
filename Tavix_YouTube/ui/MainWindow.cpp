#include "Tavix_YouTube/ui/MainWindow.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <cmath>

#include "Tavix_YouTube/ui/Animations.h"
#include "Tavix_YouTube/ui/Theme.h"
#include "Tavix_YouTube/ui/VideoDownloadView.h"
#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"
#include "Tavix_YouTube/ui/viewmodels/VideoDownloadScreenModel.h"
#include "platform/notifications/ApplicationNotifications.h"
#include "platform/notifications/NotificationCenter.h"

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  // The window frame shows the screen's title and the mascot.
  setWindowTitle(QString::fromStdString(localizedString("app.title")));
  const QPixmap mascot = theme::image(QStringLiteral("Tavix"), QSize(256, 256));
  if (!mascot.isNull()) setWindowIcon(QIcon(mascot));
  // The minimum size is the main screen's (at least 1000 x 400).
  resize(1000, 400);
  setFont(theme::font(QStringLiteral("Montserrat-Regular"), 18));
}

void MainWindow::installMainScreen() {
  if (m_screen) return;  // the screen and its objects are made once
  auto viewModel = tavix::VideoDownloadViewModel::create(tavix::VideoDownloadViewModel::generalPasteboard());
  auto manager = tavix::DownloadManager::create();
  auto sizer = std::make_shared<WindowSizeManager>(std::make_shared<QtWindowHost>());
  auto model = std::make_shared<tavix::VideoDownloadScreenModel>(viewModel, manager, sizer);
  m_screen = new VideoDownloadView(model, this);
  setCentralWidget(m_screen);
}

QWidget* QtWindowHost::firstWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (qobject_cast<MainWindow*>(widget)) return widget;
  }
  const auto widgets = QApplication::topLevelWidgets();
  for (QWidget* widget : widgets) {
    if (widget->isWindow() && widget->isVisible()) return widget;
  }
  return nullptr;
}

namespace {
double desktopBottom() {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 0;
  const QRect desktop = screen->virtualGeometry();
  return desktop.y() + desktop.height();
}
}  // namespace

WindowFrame QtWindowHost::fromQt(const QRect& rect) {
  return WindowFrame{double(rect.x()), desktopBottom() - (rect.y() + rect.height()), double(rect.width()),
                     double(rect.height())};
}

QRect QtWindowHost::toQt(const WindowFrame& frame) {
  return QRect(int(std::lround(frame.x)), int(std::lround(desktopBottom() - (frame.y + frame.height))),
               int(std::lround(frame.width)), int(std::lround(frame.height)));
}

std::optional<WindowFrame> QtWindowHost::firstWindowFrame() {
  QWidget* window = firstWindow();
  if (!window) return std::nullopt;
  return fromQt(window->geometry());
}

std::optional<WindowFrame> QtWindowHost::visibleScreenFrame() {
  QWidget* window = firstWindow();
  QScreen* screen = window ? window->screen() : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return std::nullopt;
  return fromQt(screen->availableGeometry());
}

void QtWindowHost::animateFirstWindow(const WindowFrame& frame, double durationSeconds) {
  QWidget* window = firstWindow();
  if (!window) return;
  const QRect target = toQt(frame);
  if (!ui_animations::enabled() || !window->isVisible()) {
    window->setGeometry(target);
    return;
  }
  // A newer call takes over from the frame reached so far: the earlier
  // animation stops, so the two never fight over the geometry.
  for (auto* running : window->findChildren<QPropertyAnimation*>(QStringLiteral("windowResize"),
                                                                  Qt::FindDirectChildrenOnly)) {
    running->stop();
  }
  auto* animation = new QPropertyAnimation(window, "geometry", window);
  animation->setObjectName(QStringLiteral("windowResize"));
  animation->setDuration(int(durationSeconds * 1000));
  animation->setEasingCurve(QEasingCurve::InOutQuad);
  animation->setEndValue(target);
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
    platform::NotificationCenter::defaultCenter().post(platform::kWindowDidResignKeyNotification);
  }
}
