// BubblesView: three soft radial-gradient circles drifting between two
// offsets each (20 s per leg, ease in-out, forever, reversing), drawn over the
// main screen's gradient. Passes mouse events through. GUI thread only.
//
// Cheap while idle: each bubble is rendered once into a pixmap and drawn as
// a copy; the drift advances on a timer of at most kFramesPerSecond frames
// and repaints only the rectangles of the bubbles that moved by a whole
// pixel. The timer runs only while the view is shown.
#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QPointF>
#include <QRect>
#include <QTimer>
#include <QWidget>

class BubblesView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kFramesPerSecond = 10;

  explicit BubblesView(QWidget* parent = nullptr);

  // Offset of bubble i (0..2) from the centre at its current phase.
  QPointF bubbleOffset(int index) const;
  // Where bubble i is drawn now, in this view's coordinates.
  QRect bubbleRect(int index) const;
  bool isDrifting() const { return m_started && m_timer.isActive(); }
  // Moves the drift to `milliseconds` after its start (tests) and repaints
  // what changed, as one frame of the timer does.
  void advanceTo(qint64 milliseconds);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void frame();
  const QPixmap& bubblePixmap(int index);

  double m_phase[3] = {0, 0, 0};
  QRect m_drawn[3];  // rectangles painted at the last frame
  QPixmap m_pixmaps[3];
  QTimer m_timer;
  QElapsedTimer m_clock;
  qint64 m_elapsedBeforePause = 0;
  bool m_started = false;
};
