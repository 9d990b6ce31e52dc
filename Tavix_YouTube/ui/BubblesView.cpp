#include "Tavix_YouTube/ui/BubblesView.h"

#include <QEasingCurve>
#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>
#include <cmath>

namespace {

struct Bubble {
  QColor color;
  double startRadius;
  double endRadius;
  int size;
  QPointF restOffset;   // while its flag is false
  QPointF movedOffset;  // while true
};

const Bubble kBubbles[3] = {
    {QColor::fromRgbF(1, 1, 1, 0.2), 20, 150, 300, {200, 100}, {-200, -100}},
    {QColor::fromRgbF(0, 1, 1, 0.2), 30, 200, 400, {-150, -120}, {150, 120}},
    {QColor::fromRgbF(0, 0, 1, 0.15), 25, 180, 350, {-80, 150}, {80, -150}},
};

constexpr qint64 kLegMilliseconds = 20000;

// Phase 0..1..0 over two legs, eased in and out on each leg.
double phaseAt(qint64 milliseconds) {
  const double loop = double(milliseconds % (2 * kLegMilliseconds)) / double(kLegMilliseconds);
  const double leg = loop <= 1 ? loop : 2 - loop;
  return QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(leg);
}

}  // namespace

BubblesView::BubblesView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_TranslucentBackground);
  m_timer.setInterval(1000 / kFramesPerSecond);
  m_timer.setTimerType(Qt::CoarseTimer);
  connect(&m_timer, &QTimer::timeout, this, &BubblesView::frame);
}

QPointF BubblesView::bubbleOffset(int index) const {
  const Bubble& b = kBubbles[index];
  return b.restOffset + (b.movedOffset - b.restOffset) * m_phase[index];
}

QRect BubblesView::bubbleRect(int index) const {
  const Bubble& b = kBubbles[index];
  const QPointF centre = QRectF(rect()).center() + bubbleOffset(index);
  return QRect(int(std::lround(centre.x() - b.size / 2.0)), int(std::lround(centre.y() - b.size / 2.0)), b.size,
               b.size);
}

const QPixmap& BubblesView::bubblePixmap(int index) {
  const qreal ratio = devicePixelRatioF();
  QPixmap& pixmap = m_pixmaps[index];
  const Bubble& b = kBubbles[index];
  if (pixmap.isNull() || pixmap.devicePixelRatio() != ratio) {
    pixmap = QPixmap(QSize(b.size, b.size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // Circle of the bubble's frame; gradient from the start to the end radius.
    const QPointF c(b.size / 2.0, b.size / 2.0);
    QRadialGradient gradient(c, b.endRadius);
    gradient.setColorAt(0, b.color);
    gradient.setColorAt(b.startRadius / b.endRadius, b.color);
    QColor clear = b.color;
    clear.setAlphaF(0);
    gradient.setColorAt(1, clear);
    painter.setBrush(gradient);
    painter.drawEllipse(c, b.size / 2.0, b.size / 2.0);
  }
  return pixmap;
}

void BubblesView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  m_started = true;
  m_clock.start();
  m_timer.start();
}

void BubblesView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  // The drift pauses where it is and goes on from there when shown again.
  if (m_clock.isValid()) m_elapsedBeforePause += m_clock.elapsed();
  m_clock.invalidate();
  m_timer.stop();
}

void BubblesView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (int i = 0; i < 3; ++i) m_drawn[i] = bubbleRect(i);
}

void BubblesView::frame() { advanceTo(m_elapsedBeforePause + (m_clock.isValid() ? m_clock.elapsed() : 0)); }

void BubblesView::advanceTo(qint64 milliseconds) {
  for (int i = 0; i < 3; ++i) {
    m_phase[i] = phaseAt(milliseconds);
    const QRect now = bubbleRect(i);
    if (now == m_drawn[i]) continue;  // less than a pixel: nothing to repaint
    const QRect dirty = now.united(m_drawn[i]);
    m_drawn[i] = now;
    // Each bubble is painted in a pass of its own: with one rectangle to
    // repaint, every widget in it is drawn on the fast, clipped-to-a-
    // rectangle path instead of span by span for a region of three.
    repaint(dirty);
  }
}

void BubblesView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  for (int i = 0; i < 3; ++i) {
    if (m_drawn[i].intersects(event->rect())) painter.drawPixmap(m_drawn[i].topLeft(), bubblePixmap(i));
  }
}
