// BubblesView: three soft radial-gradient circles drifting between two
// offsets each (20 s per leg, ease in-out, forever, reversing), drawn over the
// main screen's gradient. Each bubble's phase is a property (0 = first
// offset, 1 = second). Passes mouse events through. GUI thread only.
#pragma once

#include <QPointF>
#include <QWidget>

class QVariantAnimation;

class BubblesView : public QWidget {
  Q_OBJECT
 public:
  explicit BubblesView(QWidget* parent = nullptr);

  // Offset of bubble i (0..2) from the centre at its current phase.
  QPointF bubbleOffset(int index) const;
  bool isDrifting() const { return m_started; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  double m_phase[3] = {0, 0, 0};
  bool m_started = false;
};
