#include "Tavix_YouTube/ui/BubblesView.h"

#include <QPainter>
#include <QRadialGradient>
#include <QVariantAnimation>

namespace {

struct Bubble {
  QColor color;
  double startRadius;
  double endRadius;
  double size;
  QPointF restOffset;   // while its flag is false
  QPointF movedOffset;  // while true
};

const Bubble kBubbles[3] = {
    {QColor::fromRgbF(1, 1, 1, 0.2), 20, 150, 300, {200, 100}, {-200, -100}},
    {QColor::fromRgbF(0, 1, 1, 0.2), 30, 200, 400, {-150, -120}, {150, 120}},
    {QColor::fromRgbF(0, 0, 1, 0.15), 25, 180, 350, {-80, 150}, {80, -150}},
};

constexpr int kLegMilliseconds = 20000;

}  // namespace

BubblesView::BubblesView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_TranslucentBackground);
}

QPointF BubblesView::bubbleOffset(int index) const {
  const Bubble& b = kBubbles[index];
  return b.restOffset + (b.movedOffset - b.restOffset) * m_phase[index];
}

void BubblesView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (m_started) return;
  m_started = true;
  for (int i = 0; i < 3; ++i) {
    // One leg there and one back is a loop; together they alternate forever.
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(2 * kLegMilliseconds);
    animation->setStartValue(0.0);
    animation->setKeyValueAt(0.5, 1.0);
    animation->setEndValue(0.0);
    animation->setLoopCount(-1);
    connect(animation, &QVariantAnimation::valueChanged, this, [this, i](const QVariant& value) {
      // Ease in-out on each leg.
      m_phase[i] = QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(value.toDouble());
      update();
    });
    animation->start();
  }
}

void BubblesView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const QPointF centre = rect().center();
  for (int i = 0; i < 3; ++i) {
    const Bubble& b = kBubbles[i];
    const QPointF c = centre + bubbleOffset(i);
    // Circle of the bubble's frame; gradient from the start to the end radius.
    QRadialGradient gradient(c, b.endRadius);
    const double inner = b.startRadius / b.endRadius;
    gradient.setColorAt(0, b.color);
    gradient.setColorAt(inner, b.color);
    QColor clear = b.color;
    clear.setAlphaF(0);
    gradient.setColorAt(1, clear);
    painter.setBrush(gradient);
    painter.drawEllipse(c, b.size / 2, b.size / 2);
  }
}
