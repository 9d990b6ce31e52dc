#include "Tavix_YouTube/ui/CandyStripeBar.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

#include "Tavix_YouTube/ui/Animations.h"
#include "Tavix_YouTube/ui/viewmodels/CandyStripeGeometry.h"

CandyStripeBar::CandyStripeBar(double progress, bool active, int width, int height, QWidget* parent)
    : QWidget(parent), m_progress(progress), m_shownProgress(progress), m_active(active) {
  setFixedSize(width, height);
  setAttribute(Qt::WA_TranslucentBackground);
}

void CandyStripeBar::setProgress(double progress) {
  if (progress == m_progress) return;
  const double from = m_shownProgress;
  m_progress = progress;
  if (m_fill) m_fill->stop();
  if (!ui_animations::enabled()) {
    m_shownProgress = progress;
    update();
    return;
  }
  auto* animation = new QVariantAnimation(this);
  animation->setStartValue(from);
  animation->setEndValue(progress);
  animation->setDuration(300);
  animation->setEasingCurve(QEasingCurve::InOutQuad);
  connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
    m_shownProgress = value.toDouble();
    update();
  });
  m_fill = animation;
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void CandyStripeBar::setActive(bool active) {
  const bool becameActive = active && !m_active;
  m_active = active;
  if (becameActive) startStripeAnimation();
}

void CandyStripeBar::setAnimationOffset(double offset) {
  m_offset = offset;
  update();
}

double CandyStripeBar::drawnFillWidth() const { return candy_stripe::fillWidth(m_shownProgress, width()); }

void CandyStripeBar::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (m_active) startStripeAnimation();
}

void CandyStripeBar::startStripeAnimation() {
  if (m_slide) return;  // one endless slide per bar
  auto* animation = new QPropertyAnimation(this, "animationOffset", this);
  animation->setStartValue(0.0);
  animation->setEndValue(candy_stripe::kAnimationTravel);
  animation->setDuration(static_cast<int>(candy_stripe::kAnimationDuration * 1000));
  animation->setEasingCurve(QEasingCurve::Linear);
  animation->setLoopCount(-1);
  m_slide = animation;
  animation->start();
}

void CandyStripeBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const double h = height();
  const double radius = candy_stripe::cornerRadius(h);

  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.2));
  painter.drawRoundedRect(QRectF(0, 0, width(), h), radius, radius);

  const double fill = drawnFillWidth();
  if (fill <= 0) return;
  QRectF fillRect(0, 0, fill, h);
  QPainterPath clip;
  clip.addRoundedRect(fillRect, radius, radius);
  QLinearGradient gradient(fillRect.topLeft(), fillRect.topRight());
  gradient.setColorAt(0, QColor::fromRgbF(0, 0.4, 0.8, 1));
  gradient.setColorAt(1, QColor::fromRgbF(0, 0.2, 0.6, 1));
  painter.fillPath(clip, gradient);

  // The stripes are drawn for the fill's own width, offset by the slide, and
  // clipped to the rounded fill.
  painter.setClipPath(clip);
  painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.25));
  for (const auto& stripe : candy_stripe::stripes(fill, h, m_offset)) {
    QPolygonF polygon;
    for (const auto& point : stripe) polygon << QPointF(point.x, point.y);
    painter.drawPolygon(polygon, Qt::WindingFill);
  }
}
