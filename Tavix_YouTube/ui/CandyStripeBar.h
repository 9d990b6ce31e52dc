// CandyStripeBar: the progress bar of a download row. A rounded track (white
// at 0.2), a blue gradient fill of width fillWidth(progress) and, clipped to
// the fill, white stripes at 0.25 that slide by animationOffset (0 -> 16,
// linear, 1.5 s, looping). The slide starts when the bar is first shown while
// active or when it becomes active, and is never stopped. A change of
// progress animates the fill over 0.3 s (ease in-out).
//
// Both motions advance on one timer of at most kFramesPerSecond frames, which
// runs only while something moves and the bar can be seen (WindowVisibility:
// not while hidden, minimised or covered); each frame repaints the bar's own
// rectangle and nothing else.
//
// GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class WindowVisibility;

class CandyStripeBar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(double animationOffset READ animationOffset WRITE setAnimationOffset)

 public:
  static constexpr int kFramesPerSecond = 20;

  CandyStripeBar(double progress, bool active, int width, int height, QWidget* parent = nullptr);

  double progress() const { return m_progress; }
  void setProgress(double progress);
  bool isActive() const { return m_active; }
  void setActive(bool active);
  double animationOffset() const { return m_offset; }
  void setAnimationOffset(double offset);
  bool isSliding() const { return m_sliding; }
  // The timer runs: something moves and the bar can be seen.
  bool isAnimating() const { return m_timer.isActive(); }
  // Width of the fill as drawn now (follows the fill animation).
  double drawnFillWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void startStripeAnimation();
  void updateTimer();
  void frame();

  double m_progress;
  double m_shownProgress;
  bool m_active;
  double m_offset = 0;
  bool m_sliding = false;
  QElapsedTimer m_slideClock;  // since the slide started
  QElapsedTimer m_fillClock;   // valid while the fill moves
  double m_fillFrom = 0;
  QTimer m_timer;
  WindowVisibility* m_visibility;
};
