// CandyStripeBar: the progress bar of a download row. A rounded track (white
// at 0.2), a blue gradient fill of width fillWidth(progress) and, clipped to
// the fill, white stripes at 0.25 that slide by animationOffset (0 -> 16,
// linear, 1.5 s, looping). The slide starts when the bar is first shown while
// active or when it becomes active, and is never stopped. A change of
// progress animates the fill over 0.3 s (ease in-out).
//
// GUI thread only.
#pragma once

#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

class CandyStripeBar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(double animationOffset READ animationOffset WRITE setAnimationOffset)

 public:
  CandyStripeBar(double progress, bool active, int width, int height, QWidget* parent = nullptr);

  double progress() const { return m_progress; }
  void setProgress(double progress);
  bool isActive() const { return m_active; }
  void setActive(bool active);
  double animationOffset() const { return m_offset; }
  void setAnimationOffset(double offset);
  bool isSliding() const { return m_slide != nullptr; }
  // Width of the fill as drawn now (follows the fill animation).
  double drawnFillWidth() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void startStripeAnimation();

  double m_progress;
  double m_shownProgress;
  bool m_active;
  double m_offset = 0;
  QPointer<QVariantAnimation> m_slide;
  QPointer<QVariantAnimation> m_fill;
};
