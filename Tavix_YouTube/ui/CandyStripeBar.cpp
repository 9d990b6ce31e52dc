#include "Tavix_YouTube/ui/CandyStripeBar.h"

#include <QEasingCurve>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "Tavix_YouTube/ui/Animations.h"
#include "Tavix_YouTube/ui/WindowVisibility.h"
#include "Tavix_YouTube/ui/viewmodels/CandyStripeGeometry.h"

namespace {
constexpr double kFillSeconds = 0.3;
}  // namespace

CandyStripeBar::CandyStripeBar(double progress, bool active, int width, int height, QWidget* parent)
    : QWidget(parent), m_progress(progress), m_shownProgress(progress), m_active(active) {
  setFixedSize(width, height);
  setAttribute(Qt::WA_TranslucentBackground);
  m_timer.setInterval(1000 / kFramesPerSecond);
  connect(&m_timer, &QTimer::timeout, this, &CandyStripeBar::frame);
  m_visibility = new WindowVisibility(this);
  connect(m_visibility, &WindowVisibility::changed, this, [this] { updateTimer(); });
}

void CandyStripeBar::updateTimer() {
  // The motions go on from their clocks: a bar seen again shows them where they are now.
  if ((m_sliding || m_fillClock.isValid()) && m_visibility->isVisible()) {
    if (!m_timer.isActive()) m_timer.start();
  } else {
    m_timer.stop();
  }
}

void CandyStripeBar::setProgress(double progress) {
  if (progress == m_progress) return;
  m_progress = progress;
  if (!ui_animations::enabled()) {
    m_fillClock.invalidate();
    m_shownProgress = progress;
    update();
    return;
  }
  // The fill moves on from where it is drawn now.
  m_fillFrom = m_shownProgress;
  m_fillClock.start();
  updateTimer();
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
  updateTimer();
}

void CandyStripeBar::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  updateTimer();
}

void CandyStripeBar::startStripeAnimation() {
  if (m_sliding) return;  // one endless slide per bar
  m_sliding = true;
  m_slideClock.start();
  updateTimer();
}

void CandyStripeBar::frame() {
  if (m_sliding) {
    const double period = candy_stripe::kAnimationDuration * 1000;
    m_offset = std::fmod(double(m_slideClock.elapsed()), period) / period * candy_stripe::kAnimationTravel;
  }
  if (m_fillClock.isValid()) {
    const double t = std::min(1.0, m_fillClock.elapsed() / (kFillSeconds * 1000));
    m_shownProgress = m_fillFrom + (m_progress - m_fillFrom) * QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(t);
    if (t >= 1) m_fillClock.invalidate();
  }
  if (!m_sliding && !m_fillClock.isValid()) m_timer.stop();
  update();
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
