#include "Tavix_YouTube/ui/BubblesView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <vector>

#include "Tavix_YouTube/ui/WindowVisibility.h"

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
// How far ahead the next step is looked for, and how finely.
constexpr qint64 kLookAheadMilliseconds = 2000;
constexpr qint64 kLookAheadResolution = 10;

// Phase 0..1..0 over two legs, eased in and out on each leg (quadratic).
double phaseAt(qint64 milliseconds) {
  const double loop = double(milliseconds % (2 * kLegMilliseconds)) / double(kLegMilliseconds);
  const double t = loop <= 1 ? loop : 2 - loop;
  return t < 0.5 ? 2 * t * t : 1 - (2 - 2 * t) * (2 - 2 * t) / 2;
}

// The largest change one pixel of bubble i takes per pixel the bubble moves,
// in 8-bit colour levels: its opacity falls from its colour's alpha to 0
// between the start radius and the edge of its frame.
double levelsPerPixel(const Bubble& b) {
  const double falloff = std::min(b.endRadius, b.size / 2.0) - b.startRadius;
  return b.color.alphaF() * 255 / falloff;
}

}  // namespace

int BubblesView::stepPixels(int index) {
  return std::max(1, int(std::floor(kLevelsPerStep / levelsPerPixel(kBubbles[index]))));
}

BubblesView::BubblesView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_TranslucentBackground);
  m_timer.setSingleShot(true);
  m_timer.setTimerType(Qt::PreciseTimer);
  connect(&m_timer, &QTimer::timeout, this, &BubblesView::frame);
  m_visibility = new WindowVisibility(this);
  connect(m_visibility, &WindowVisibility::changed, this, [this] { updateDrifting(); });
}

QPointF BubblesView::offsetAt(int index, double phase) const {
  const Bubble& b = kBubbles[index];
  return b.restOffset + (b.movedOffset - b.restOffset) * phase;
}

QPointF BubblesView::bubbleOffset(int index) const { return offsetAt(index, m_phase[index]); }

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

bool BubblesView::isDrifting() const { return m_clock.isValid(); }

qint64 BubblesView::elapsed() const { return m_elapsedBeforePause + (m_clock.isValid() ? m_clock.elapsed() : 0); }

void BubblesView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  updateDrifting();
}

void BubblesView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  updateDrifting();
}

void BubblesView::updateDrifting() {
  const bool drift = m_visibility->isVisible();
  if (drift == isDrifting()) return;
  if (drift) {
    m_clock.start();
    frame();
  } else {
    // The drift pauses where it is and goes on from there.
    m_elapsedBeforePause = elapsed();
    m_clock.invalidate();
    m_timer.stop();
  }
}

void BubblesView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  for (int i = 0; i < 3; ++i) m_drawn[i] = bubbleRect(i);
}

void BubblesView::frame() {
  const qint64 now = elapsed();
  advanceTo(now);
  if (!isDrifting()) return;
  // Sleep until the first bubble has drifted a whole step from where it is drawn.
  qint64 delay = kLookAheadMilliseconds;
  for (qint64 ahead = kLookAheadResolution; ahead <= kLookAheadMilliseconds; ahead += kLookAheadResolution) {
    if (anyStepDue(now + ahead)) {
      delay = ahead;
      break;
    }
  }
  m_timer.start(int(delay));
}

bool BubblesView::stepDue(int index, qint64 milliseconds) const {
  const QPointF moved = offsetAt(index, phaseAt(milliseconds)) - bubbleOffset(index);
  return std::hypot(moved.x(), moved.y()) >= stepPixels(index);
}

bool BubblesView::anyStepDue(qint64 milliseconds) const {
  for (int i = 0; i < 3; ++i) {
    if (stepDue(i, milliseconds)) return true;
  }
  return false;
}

void BubblesView::advanceTo(qint64 milliseconds) {
  if (!anyStepDue(milliseconds)) return;
  // A step of any bubble moves all three: one frame instead of three.
  std::vector<QRect> dirty;
  for (int i = 0; i < 3; ++i) {
    m_phase[i] = phaseAt(milliseconds);
    const QRect now = bubbleRect(i);
    if (now == m_drawn[i]) continue;
    QRect area = now.united(m_drawn[i]);
    m_drawn[i] = now;
    // Overlapping areas are repainted as one rectangle.
    for (auto other = dirty.begin(); other != dirty.end();) {
      if (other->intersects(area)) {
        area = area.united(*other);
        other = dirty.erase(other);
      } else {
        ++other;
      }
    }
    dirty.push_back(area);
  }
  // Each rectangle in a pass of its own: with one rectangle to repaint,
  // every widget in it is drawn on the fast, clipped-to-a-rectangle path
  // (a region of several is drawn span by span, at a few times the cost).
  for (const QRect& area : dirty) repaint(area);
}

void BubblesView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  for (int i = 0; i < 3; ++i) {
    if (m_drawn[i].intersects(event->rect())) painter.drawPixmap(m_drawn[i].topLeft(), bubblePixmap(i));
  }
}
