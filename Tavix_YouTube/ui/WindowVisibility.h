// WindowVisibility: whether a widget's window can be seen at all, for the
// views' animations: the widget is shown, its window is not minimised, the
// windowing system has it exposed and, on X11, no other window covers it
// entirely (the X server's visibility events; a compositing desktop, and
// other platforms, report every window as uncovered). changed() follows each
// change of isVisible().
//
// The window is the widget's top-level at its last show; a covered window is
// taken as uncovered again at its next expose event, so a missed visibility
// event never keeps an animation stopped.
//
// GUI thread only.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QWindow>

class WindowVisibility : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT
 public:
  // Watches `widget` (also the parent of this object).
  explicit WindowVisibility(QWidget* widget);

  bool isVisible() const { return m_visible; }
  bool isCovered() const { return m_covered; }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 signals:
  void changed(bool visible);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void attach();
  void evaluate();
  void setCovered(bool covered);

  QWidget* m_widget;
  QPointer<QWidget> m_topLevel;
  QPointer<QWindow> m_window;
  WId m_selectedWindow = 0;  // the X window whose visibility events are selected
  bool m_visible = false;
  bool m_covered = false;
};
