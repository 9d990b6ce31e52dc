// MainWindow: the application's one window: titled with the strings table's
// "app.title" and the mascot as its icon, initial size 1000 x 400, minimum
// size that of the main screen (1000 x 400, taller when its queue needs it
// to show a whole row), the main screen as its central widget, default font of size
// 18, dark. QtWindowHost gives the window-size manager the first window
// and its screen's visible frame in bottom-left-origin coordinates and
// animates the resize (0.3 s, ease in-out). When the window stops being the
// active (key) window it posts platform::kWindowDidResignKeyNotification on
// the default notification centre, object = none.
//
// GUI thread only.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "Tavix_YouTube/ui/viewmodels/WindowSizeManager.h"

class VideoDownloadView;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);

  // Builds the main screen with its three long-lived objects (address model
  // on the given pasteboard reader, download manager, window-size manager).
  void installMainScreen();
  VideoDownloadView* mainScreen() const { return m_screen; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  VideoDownloadView* m_screen = nullptr;
};

class QtWindowHost : public WindowHost {
 public:
  std::optional<WindowFrame> firstWindowFrame() override;
  std::optional<WindowFrame> visibleScreenFrame() override;
  void animateFirstWindow(const WindowFrame& frame, double durationSeconds) override;

  // Bottom-left-origin conversion against the virtual desktop.
  static WindowFrame fromQt(const QRect& rect);
  static QRect toQt(const WindowFrame& frame);

 private:
  static QWidget* firstWindow();
};
