#include "Tavix_YouTube/ui/VideoDownloadView.h"

#include <QEnterEvent>
#include <algorithm>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QVBoxLayout>

#include "Tavix_YouTube/ui/BubblesView.h"
#include "Tavix_YouTube/ui/DownloadQueueView.h"
#include "Tavix_YouTube/ui/QualitySelector.h"
#include "Tavix_YouTube/ui/Theme.h"
#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"

namespace {
QString localized(const char* key) { return QString::fromStdString(localizedString(key)); }
}  // namespace

QSize Gap::minimumSize() const { return {0, m_minimum}; }

// --- mascot

MascotButton::MascotButton(tavix::VideoDownloadScreenModel& model, QWidget* parent)
    : QAbstractButton(parent), m_model(model) {
  setFixedSize(300, 300);
  m_image = theme::image(QStringLiteral("Tavix"), QSize(300, 300));
  connect(this, &QAbstractButton::clicked, this, [this] { m_model.mascotClicked(); });
  m_subscription = m_model.rotationY.subscribe([this](double) { QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection); });
}

MascotButton::~MascotButton() {
  m_subscription.cancel();
  if (m_cursorPushed) QGuiApplication::restoreOverrideCursor();
}

void MascotButton::paintEvent(QPaintEvent*) {
  if (m_image.isNull()) return;
  QPainter painter(this);
  const QPointF origin((width() - m_image.width()) / 2.0, (height() - m_image.height()) / 2.0);
  const double rotation = m_model.rotationY.get();
  if (rotation == 0) {
    // At rest (nearly always) a plain copy: the background's bubbles
    // repaint the mascot's area many times a second.
    painter.drawPixmap(origin.toPoint(), m_image);
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QTransform transform;
  transform.translate(width() / 2.0, height() / 2.0);
  transform.rotate(rotation, Qt::YAxis);
  transform.translate(-width() / 2.0, -height() / 2.0);
  painter.setTransform(transform);
  painter.drawPixmap(origin, m_image);
}

void MascotButton::enterEvent(QEnterEvent* event) {
  m_model.pointerEntered();
  if (!m_cursorPushed) {
    QGuiApplication::setOverrideCursor(Qt::PointingHandCursor);
    m_cursorPushed = true;
  }
  QAbstractButton::enterEvent(event);
}

void MascotButton::leaveEvent(QEvent* event) {
  m_model.pointerLeft();
  if (m_cursorPushed) {
    QGuiApplication::restoreOverrideCursor();
    m_cursorPushed = false;
  }
  QAbstractButton::leaveEvent(event);
}

void MascotButton::mousePressEvent(QMouseEvent* event) {
  m_model.dragChanged(event->position().x());
  QAbstractButton::mousePressEvent(event);
}

void MascotButton::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) m_model.dragChanged(event->position().x());
  QAbstractButton::mouseMoveEvent(event);
}

void MascotButton::mouseReleaseEvent(QMouseEvent* event) {
  m_model.dragEnded();
  QAbstractButton::mouseReleaseEvent(event);
}

// --- download button

DownloadButton::DownloadButton(QWidget* parent) : QAbstractButton(parent) {
  setFixedHeight(60);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setText(localized("button.download"));
  setCursor(Qt::PointingHandCursor);
}

QPixmap DownloadButton::render() const {
  const qreal ratio = devicePixelRatioF();
  QPixmap pixmap(size() * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) painter.setOpacity(0.5);
  const bool pressed = isEnabled() && isDown();
  const bool hovered = isEnabled() && underMouse();
  // Pressed: the body sinks onto its shadow and darkens; hovered: it lightens.
  const double sink = pressed ? 2 : 0;
  const QRectF frame = QRectF(rect()).adjusted(0, sink, 0, -6 + sink);  // room for the shadow below
  QPainterPath shadow;
  shadow.addRoundedRect(QRectF(rect()).adjusted(0, 6, 0, 0), 16, 16);
  painter.fillPath(shadow, QColor::fromRgbF(0, 1, 0, pressed ? 0.08 : 0.15));
  const double tone = pressed ? 0.85 : hovered ? 1.12 : 1.0;
  auto shade = [tone](double r, double g, double b) {
    return QColor::fromRgbF(std::min(1.0, r * tone), std::min(1.0, g * tone), std::min(1.0, b * tone));
  };
  QLinearGradient gradient(frame.topLeft(), frame.bottomRight());
  gradient.setColorAt(0, shade(0.3, 0.8, 0.2));
  gradient.setColorAt(1, shade(0.2, 0.6, 0.1));
  QPainterPath body;
  body.addRoundedRect(frame, 16, 16);
  painter.fillPath(body, gradient);
  painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, hovered ? 0.45 : 0.3), 1));
  painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), 15, 15);

  const QFont labelFont = theme::font(QStringLiteral("Montserrat-Bold"), 18);
  const QPixmap icon = theme::symbol(QStringLiteral("arrow.down.circle.fill"), Qt::white, 20);
  const int textWidth = QFontMetrics(labelFont).horizontalAdvance(text());
  const double total = 20 + 12 + textWidth;
  const double left = frame.center().x() - total / 2;
  painter.drawPixmap(QPointF(left, frame.center().y() - 10), icon);
  painter.setFont(labelFont);
  painter.setPen(Qt::white);
  painter.drawText(QRectF(left + 32, frame.top(), textWidth + 2, frame.height()), Qt::AlignVCenter | Qt::AlignLeft,
                   text());
  return pixmap;
}

void DownloadButton::paintEvent(QPaintEvent*) {
  // Drawn once per look and size; repaints (the bubbles cause many) copy it.
  const QString key = QStringLiteral("%1x%2/%3%4%5/%6")
                          .arg(width())
                          .arg(height())
                          .arg(isEnabled())
                          .arg(isEnabled() && isDown())
                          .arg(isEnabled() && underMouse())
                          .arg(text());
  if (key != m_cacheKey || m_cache.devicePixelRatio() != devicePixelRatioF()) {
    m_cache = render();
    m_cacheKey = key;
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, m_cache);
}

void DownloadButton::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  update();
}

void DownloadButton::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  update();
}

// --- main screen

VideoDownloadView::VideoDownloadView(std::shared_ptr<tavix::VideoDownloadScreenModel> model, QWidget* parent)
    : QWidget(parent), m_model(std::move(model)) {
  // The height's minimum is minimumSizeHint's: it grows with the queue's rows.
  setMinimumWidth(kMinimumSize.width());
  setAttribute(Qt::WA_OpaquePaintEvent);  // the background covers every pixel
  m_bubbles = new BubblesView(this);

  auto* front = new QHBoxLayout(this);
  front->setContentsMargins(40, 40, 40, 40);
  front->setSpacing(40);

  auto* left = new QVBoxLayout();
  left->setSpacing(30);
  m_mascot = new MascotButton(*m_model, this);
  left->addWidget(m_mascot, 0, Qt::AlignHCenter);
  left->addStretch(1);
  auto* leftColumn = new QWidget(this);
  leftColumn->setLayout(left);
  leftColumn->setMaximumWidth(400);
  front->addWidget(leftColumn, 1);

  auto* rightColumn = new QWidget(this);
  rightColumn->setMaximumWidth(550);
  auto* right = new QVBoxLayout(rightColumn);
  right->setContentsMargins(0, 0, 0, 0);
  // The rows are 30 apart while there is room; in a short window (400 high
  // with downloads) the gaps give way first, down to 8, and then the list.
  right->setSpacing(0);

  auto* titleRow = new QHBoxLayout();
  titleRow->setSpacing(16);
  m_title = new QLabel(localized("app.title"), rightColumn);
  m_title->setFont(theme::font(QStringLiteral("Montserrat-Bold"), 22));
  m_title->setStyleSheet(QStringLiteral("color: white;"));
  titleRow->addWidget(m_title);
  titleRow->addStretch(1);
  right->addLayout(titleRow);

  auto* addressRow = new QHBoxLayout();
  addressRow->setSpacing(12);
  m_address = new QLineEdit(rightColumn);
  m_address->setPlaceholderText(localized("input.placeholder"));
  m_address->setFont(theme::font(QStringLiteral("Montserrat-Regular"), 16));
  m_address->setMinimumHeight(52);
  addressRow->addWidget(m_address, 1);
  m_paste = new QToolButton(rightColumn);
  m_paste->setIcon(QIcon(theme::symbol(QStringLiteral("doc.on.clipboard"), Qt::white, 16)));
  m_paste->setIconSize(QSize(16, 16));
  m_paste->setFixedSize(44, 44);
  m_paste->setCursor(Qt::PointingHandCursor);
  addressRow->addWidget(m_paste);
  right->addItem(new Gap(8, 30));
  right->addLayout(addressRow);

  m_quality = new QualitySelector(m_model->viewModel(), rightColumn);
  right->addItem(new Gap(8, 30));
  right->addWidget(m_quality);

  m_download = new DownloadButton(rightColumn);
  right->addItem(new Gap(8, 30));
  right->addWidget(m_download);

  m_queue = new DownloadQueueView(m_model->downloadManager(), rightColumn);
  right->addItem(new Gap(8, 30));
  right->addWidget(m_queue, 1);
  right->addStretch(0);
  front->addWidget(rightColumn, 2);

  // Two-way binding of the field's text; Return starts nothing.
  connect(m_address, &QLineEdit::textEdited, this,
          [this](const QString& value) { m_model->viewModel()->urlText = value.toStdString(); });
  connect(m_paste, &QToolButton::clicked, this, [this] { m_model->viewModel()->pasteButtonTapped(); });
  connect(m_download, &QAbstractButton::clicked, this, [this] { m_model->downloadPressed(); });

  auto& vm = *m_model->viewModel();
  // Subscribers hear a change before it is stored: apply the incoming value.
  m_subscriptions.push_back(vm.urlText.subscribe([this](const std::string& value) {
    const QString text = QString::fromStdString(value);
    if (m_address->text() != text) m_address->setText(text);
    m_download->setEnabled(!value.empty());
  }));
  m_subscriptions.push_back(vm.urlPasteAnimation.subscribe([this](bool on) { applyPasteEffect(on); }));
}

VideoDownloadView::~VideoDownloadView() {
  for (auto& subscription : m_subscriptions) subscription.cancel();
}

QSize VideoDownloadView::minimumSizeHint() const {
  return QWidget::minimumSizeHint().expandedTo(kMinimumSize);
}

void VideoDownloadView::applyPasteEffect(bool on) {
  m_pasteHighlighted = on;
  const QString secondary = theme::textSecondary().name(QColor::HexArgb);
  m_address->setStyleSheet(
      QStringLiteral("QLineEdit { color: %1; background: rgba(255,255,255,0.10); border-radius: 12px; padding: 0 16px;"
                     " border: %2; }")
          .arg(secondary, on ? QStringLiteral("2px solid rgba(0,255,0,0.8)") : QStringLiteral("2px solid transparent")));
  // The paste button lightens under the pointer and darkens while pressed.
  m_paste->setStyleSheet(QStringLiteral("QToolButton { background: %1; border-radius: 12px; border: %2; }"
                                        " QToolButton:hover { background: rgba(255,255,255,0.30); }"
                                        " QToolButton:pressed { background: rgba(255,255,255,0.12); }")
                             .arg(theme::backgroundItem().name(QColor::HexArgb),
                                  on ? QStringLiteral("1.5px solid rgba(0,255,0,0.6)")
                                     : QStringLiteral("1.5px solid transparent")));
}

const QPixmap& VideoDownloadView::background() {
  const qreal ratio = devicePixelRatioF();
  if (m_background.size() != size() * ratio || m_background.devicePixelRatio() != ratio) {
    m_background = QPixmap(size() * ratio);
    m_background.setDevicePixelRatio(ratio);
    QPainter painter(&m_background);
    QLinearGradient gradient(rect().topLeft(), rect().bottomRight());
    gradient.setColorAt(0, QColor::fromRgbF(0, 0.4, 0.8));
    gradient.setColorAt(0.5, QColor::fromRgbF(0, 0.2, 0.6));
    gradient.setColorAt(1, QColor::fromRgbF(0, 0.1, 0.4));
    painter.fillRect(rect(), gradient);
  }
  return m_background;
}

void VideoDownloadView::paintEvent(QPaintEvent* event) {
  // The gradient is drawn once per size; a repaint copies the part it needs.
  const QPixmap& cached = background();
  const QRect area = event->rect();
  const qreal ratio = cached.devicePixelRatio();
  QPainter painter(this);
  painter.drawPixmap(QRectF(area), cached,
                     QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
}

void VideoDownloadView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_bubbles->setGeometry(rect());
  m_bubbles->lower();
  // Only changes are reported: the first layout (no old size) is not one.
  if (event->oldSize().isValid()) m_model->windowSizeChanged(width(), height());
}

void VideoDownloadView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (m_appeared) return;
  m_appeared = true;
  m_model->appeared();
}
