// BubblesView: three soft radial-gradient circles drifting between two
// offsets each (20 s per leg, ease in-out, forever, reversing), drawn over the
// main screen's gradient. Passes mouse events through. GUI thread only.
//
// Cheap at rest: each bubble is rendered once into a pixmap and drawn as a
// copy. The bubbles move in steps: once one of them has drifted
// stepPixels(i), the distance over which its faint gradient changes no pixel
// by more than kLevelsPerStep colour levels (too little to see as a jump),
// all three move to where they are now and only the rectangles they leave
// and enter are repainted. That is about three frames a second (at most
// seven, mid-leg) instead of a repaint at every frame of a timer. One timer
// fires when the next step is due. The drift pauses while the window cannot
// be seen (hidden, minimised, not exposed or fully covered, see
// WindowVisibility) and goes on from where it was.
#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QPointF>
#include <QRect>
#include <QTimer>
#include <QWidget>

class WindowVisibility;

class BubblesView : public QWidget {
  Q_OBJECT
 public:
  static constexpr double kLevelsPerStep = 3;

  explicit BubblesView(QWidget* parent = nullptr);

  // Pixels bubble i (0..2) drifts between two repaints.
  static int stepPixels(int index);
  // Offset of bubble i from the centre as drawn now.
  QPointF bubbleOffset(int index) const;
  // Where bubble i is drawn now, in this view's coordinates.
  QRect bubbleRect(int index) const;
  bool isDrifting() const;
  // Time of the drift in milliseconds (it stands still while paused).
  qint64 elapsed() const;
  // Moves the drift to `milliseconds` after its start (tests) and repaints
  // what changed, as the timer does.
  void advanceTo(qint64 milliseconds);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void updateDrifting();
  void frame();
  QPointF offsetAt(int index, double phase) const;
  bool stepDue(int index, qint64 milliseconds) const;
  bool anyStepDue(qint64 milliseconds) const;
  const QPixmap& bubblePixmap(int index);

  double m_phase[3] = {0, 0, 0};  // phase at which each bubble is drawn
  QRect m_drawn[3];               // rectangles painted at the last step
  QPixmap m_pixmaps[3];
  QTimer m_timer;
  QElapsedTimer m_clock;  // valid while drifting
  qint64 m_elapsedBeforePause = 0;
  WindowVisibility* m_visibility;
};
