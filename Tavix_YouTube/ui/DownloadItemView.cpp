#include "Tavix_YouTube/ui/DownloadItemView.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "Tavix_YouTube/ui/CandyStripeBar.h"
#include "Tavix_YouTube/ui/Theme.h"
#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"

namespace {

QString css(const QColor& color) {
  return QStringLiteral("rgba(%1,%2,%3,%4)")
      .arg(color.red())
      .arg(color.green())
      .arg(color.blue())
      .arg(color.alphaF(), 0, 'f', 3);
}

QColor withAlpha(QColor color, double alpha) {
  color.setAlphaF(alpha);
  return color;
}

void setTextIfChanged(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

void setStyleSheetIfChanged(QWidget* widget, const QString& sheet) {
  if (widget->styleSheet() != sheet) widget->setStyleSheet(sheet);
}

}  // namespace

ClickableLabel::~ClickableLabel() {
  if (m_cursorPushed) QGuiApplication::restoreOverrideCursor();
}

void ClickableLabel::setFullText(const QString& text, const QString& hint, Qt::TextElideMode mode) {
  if (text == m_fullText && hint == m_hint && mode == m_elideMode) return;
  m_fullText = text;
  m_hint = hint;
  m_elideMode = mode;
  elide();
}

bool ClickableLabel::isElided() const { return text() != m_fullText; }

void ClickableLabel::elide() {
  // Cut with "…" to the width the row gives the line; the whole text then
  // stands in the tooltip, above what a click does.
  const QString shown = fontMetrics().elidedText(m_fullText, m_elideMode, qMax(0, contentsRect().width()));
  if (shown != text()) setText(shown);
  const QString tip = shown == m_fullText ? m_hint : m_fullText + QLatin1Char('\n') + m_hint;
  if (tip != toolTip()) setToolTip(tip);
}

void ClickableLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  elide();
}

QSize ClickableLabel::minimumSizeHint() const {
  return QSize(0, QLabel::minimumSizeHint().height());  // any width: the text is elided
}

void ClickableLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit clicked();
  QLabel::mousePressEvent(event);
}

void ClickableLabel::enterEvent(QEnterEvent* event) {
  if (!m_cursorPushed) {
    QGuiApplication::setOverrideCursor(Qt::PointingHandCursor);
    m_cursorPushed = true;
  }
  QLabel::enterEvent(event);
}

void ClickableLabel::leaveEvent(QEvent* event) {
  if (m_cursorPushed) {
    QGuiApplication::restoreOverrideCursor();
    m_cursorPushed = false;
  }
  QLabel::leaveEvent(event);
}

ThumbnailView::ThumbnailView(QWidget* parent) : QWidget(parent) { setFixedSize(100, 70); }

void ThumbnailView::setImage(const QImage& image) {
  if (image.isNull() && m_image.isNull()) return;
  if (image.cacheKey() == m_image.cacheKey()) return;
  m_image = image;
  m_cache = QPixmap();
  update();
}

void ThumbnailView::setTurn(double degrees) {
  if (degrees == m_turn) return;
  m_turn = degrees;
  m_cache = QPixmap();
  update();
}

QPixmap ThumbnailView::render() const {
  const qreal ratio = devicePixelRatioF();
  QPixmap pixmap(size() * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  // Turned counter-clockwise about the centre; drawn a little smaller so the
  // turned corners stay inside the widget.
  painter.translate(width() / 2.0, height() / 2.0);
  painter.rotate(-m_turn);
  const double scale = m_turn == 0 ? 1.0 : 0.82;
  const QRectF frame(-50 * scale, -35 * scale, 100 * scale, 70 * scale);
  QPainterPath clip;
  clip.addRoundedRect(frame, 8, 8);
  painter.setClipPath(clip);
  if (!m_image.isNull()) {
    const QImage filled = m_image.scaled(frame.size().toSize(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const QPointF origin(frame.center().x() - filled.width() / 2.0, frame.center().y() - filled.height() / 2.0);
    painter.drawImage(origin, filled);
  } else {
    painter.fillPath(clip, QColor::fromRgbF(0.5, 0.5, 0.5, 0.3));
    const QPixmap icon = theme::symbol(QStringLiteral("video"), QColor::fromRgbF(1, 1, 1, 0.6), 20);
    painter.drawPixmap(QPointF(-10, -10), icon);
  }
  return pixmap;
}

void ThumbnailView::paintEvent(QPaintEvent*) {
  // Drawn once per image and turn; the many repaints copy it.
  if (m_cache.isNull() || m_cache.devicePixelRatio() != devicePixelRatioF()) m_cache = render();
  QPainter painter(this);
  painter.drawPixmap(0, 0, m_cache);
}

DownloadItemView::DownloadItemView(std::shared_ptr<tavix::DownloadItem> item, std::function<void()> onRemove,
                                   QWidget* parent)
    : QWidget(parent), m_model(std::move(item), std::move(onRemove)) {
  setAttribute(Qt::WA_StyledBackground, false);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(16, 16, 16, 16);
  row->setSpacing(15);

  m_thumbnail = new ThumbnailView(this);
  row->addWidget(m_thumbnail, 0, Qt::AlignVCenter);

  m_details = new QVBoxLayout();
  m_details->setSpacing(10);
  auto* titleBlock = new QVBoxLayout();
  titleBlock->setSpacing(5);
  // Titles, addresses, sizes and error texts come from outside (the page and
  // the downloader): they are shown as they are, never read as rich text.
  m_title = new ClickableLabel(this);
  m_title->setTextFormat(Qt::PlainText);
  m_title->setFont(theme::font(QStringLiteral("Montserrat-Medium"), 14));
  m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  connect(m_title, &ClickableLabel::clicked, this, [this] { m_model.openInBrowser(); });
  titleBlock->addWidget(m_title);
  auto* badgeRow = new QHBoxLayout();
  badgeRow->setSpacing(8);
  m_badge = new QLabel(this);
  m_badge->setTextFormat(Qt::PlainText);
  m_badge->setFont(theme::font(QStringLiteral("Montserrat-Regular"), 11));
  const QColor cyan = theme::systemColor(SystemColor::Cyan);
  m_badge->setStyleSheet(QStringLiteral("color: %1; background: %2; border-radius: 4px; padding: 2px 6px;")
                             .arg(css(cyan), css(withAlpha(cyan, 0.2))));
  badgeRow->addWidget(m_badge);
  badgeRow->addStretch(1);
  titleBlock->addLayout(badgeRow);
  m_details->addLayout(titleBlock);

  m_statusLine = new QHBoxLayout();
  m_statusLine->setSpacing(4);
  m_statusIcon = new QLabel(this);
  m_statusLine->addWidget(m_statusIcon);
  m_statusLine->addStretch(1);
  m_details->addLayout(m_statusLine);
  m_error = new QLabel(this);
  m_error->setTextFormat(Qt::PlainText);
  m_error->setFont(theme::font(QStringLiteral("Montserrat-Regular"), 11));
  m_error->setWordWrap(true);
  m_error->setStyleSheet(QStringLiteral("color: %1;").arg(css(withAlpha(theme::systemColor(SystemColor::Red), 0.8))));
  m_details->addWidget(m_error);
  row->addLayout(m_details, 1);

  m_buttonBox = new QHBoxLayout();
  m_buttonBox->setSpacing(8);
  row->addLayout(m_buttonBox);

  auto* itemPtr = m_model.item().get();
  m_subscription = itemPtr->objectWillChange().subscribe([this] { scheduleRefresh(); });
  refresh();
}

DownloadItemView::~DownloadItemView() { m_subscription.cancel(); }

void DownloadItemView::scheduleRefresh() {
  if (m_refreshQueued) return;
  m_refreshQueued = true;
  // The item announces a change before storing it: read it on the next turn.
  QMetaObject::invokeMethod(this, [this] { refresh(); }, Qt::QueuedConnection);
}

void DownloadItemView::refresh() {
  m_refreshQueued = false;
  const auto& item = *m_model.item();

  // Title line. A refresh follows every progress line of a running
  // download, so only what changed is set (style sheets are costly to apply).
  const QColor titleColor = theme::systemColor(m_model.titleColor());
  // Addresses of one site differ at their end: they lose their middle.
  m_title->setFullText(QString::fromStdString(m_model.titleText()),
                       QString::fromStdString(localizedString(tavix::RowViewModel::kTitleTooltipKey)),
                       m_model.titleShowsAddress() ? Qt::ElideMiddle : Qt::ElideRight);
  setStyleSheetIfChanged(m_title, QStringLiteral("color: %1; %2")
                                      .arg(css(titleColor), m_model.titleIsAddress()
                                                                ? QStringLiteral("text-decoration: underline;")
                                                                : QString()));
  setTextIfChanged(m_badge, QString::fromStdString(m_model.qualityBadgeText()));

  // Thumbnail: decoded once per new picture, not on every progress change.
  auto thumbnail = item.thumbnail.get();
  if (thumbnail != m_shownThumbnail) {
    if (thumbnail) {
      const auto& bytes = thumbnail->data();
      m_thumbnail->setImage(QImage::fromData(bytes.data(), static_cast<int>(bytes.size())));
    } else {
      m_thumbnail->setImage(QImage());
    }
    m_shownThumbnail = std::move(thumbnail);
  }
  m_thumbnail->setTurn(m_model.thumbnailTurn());

  // Progress bar: present only while downloading or paused.
  if (m_model.showsProgressBar()) {
    if (!m_bar) {
      m_bar = new CandyStripeBar(m_model.progress(), m_model.progressBarActive(), 200, 10, this);
      m_details->insertWidget(1, m_bar);
    } else {
      m_bar->setProgress(m_model.progress());
      m_bar->setActive(m_model.progressBarActive());
    }
  } else if (m_bar) {
    m_bar->deleteLater();
    m_details->removeWidget(m_bar);
    m_bar = nullptr;
  }

  // Status line: the labels are kept and only their texts and colours change.
  const QColor statusColor = theme::systemColor(m_model.statusColor());
  const QString icon = QString::fromStdString(m_model.statusIcon());
  if (icon != m_shownIcon || statusColor != m_shownIconColor) {
    m_statusIcon->setPixmap(theme::symbol(icon, statusColor, 12));
    m_shownIcon = icon;
    m_shownIconColor = statusColor;
  }
  const auto texts = m_model.statusTexts();
  while (m_statusTexts.size() > texts.size()) {
    QLabel* label = m_statusTexts.back();
    m_statusTexts.pop_back();
    m_statusLine->removeWidget(label);
    delete label;
  }
  while (m_statusTexts.size() < texts.size()) {
    auto* label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);
    label->setFont(theme::font(QStringLiteral("Montserrat-Regular"), 12));
    // Before the stretch that ends the line.
    m_statusLine->insertWidget(static_cast<int>(m_statusTexts.size()) + 1, label);
    m_statusTexts.push_back(label);
  }
  for (size_t i = 0; i < texts.size(); ++i) {
    const QColor color = i == 0 ? statusColor : QColor::fromRgbF(1, 1, 1, texts[i].opacity);
    setTextIfChanged(m_statusTexts[i], QString::fromStdString(texts[i].text));
    setStyleSheetIfChanged(m_statusTexts[i], QStringLiteral("color: %1;").arg(css(color)));
  }

  // Error text, at most three lines.
  const QString error = QString::fromStdString(m_model.errorText());
  if (m_error->isVisibleTo(this) == error.isEmpty()) m_error->setVisible(!error.isEmpty());
  setTextIfChanged(m_error, error);
  m_error->setMaximumHeight(QFontMetrics(m_error->font()).lineSpacing() * tavix::RowViewModel::kErrorLineLimit + 2);

  // Buttons of the status.
  const auto buttons = m_model.buttons();
  if (buttons != m_shownButtons) {
    for (QToolButton* button : m_buttons) {
      m_buttonBox->removeWidget(button);
      button->deleteLater();
    }
    m_buttons.clear();
    for (const tavix::RowButton& spec : buttons) {
      auto* button = new QToolButton(this);
      const QColor color = theme::systemColor(spec.color);
      button->setFixedSize(32, 32);
      button->setIcon(QIcon(theme::symbol(QString::fromStdString(spec.icon), color, 14)));
      button->setIconSize(QSize(14, 14));
      button->setProperty("symbol", QString::fromStdString(spec.icon));
      button->setToolTip(QString::fromStdString(localizedString(spec.tooltipKey)));
      button->setCursor(Qt::PointingHandCursor);
      // Hovered and pressed buttons deepen their tint.
      button->setStyleSheet(QStringLiteral("QToolButton { background: %1; border: none; border-radius: 12px; }"
                                           " QToolButton:hover { background: %2; }"
                                           " QToolButton:pressed { background: %3; }")
                                .arg(css(withAlpha(color, 0.2)), css(withAlpha(color, 0.32)),
                                     css(withAlpha(color, 0.45))));
      const tavix::RowAction action = spec.action;
      connect(button, &QToolButton::clicked, this, [this, action] { m_model.run(action); });
      m_buttonBox->addWidget(button);
      m_buttons.push_back(button);
    }
    m_shownButtons = buttons;
  }
  // The frame's border follows the status colour; labels repaint themselves.
  if (withAlpha(statusColor, 0.3) != m_frameBorder) update();
}

void DownloadItemView::paintEvent(QPaintEvent* event) {
  // The rounded frame is drawn once per size and status colour; repaints of
  // parts of the row (the bar, the bubbles behind it) copy what they need.
  const QColor border = withAlpha(theme::systemColor(m_model.statusColor()), 0.3);
  const qreal ratio = devicePixelRatioF();
  if (m_frame.size() != size() * ratio || m_frameBorder != border || m_frame.devicePixelRatio() != ratio) {
    m_frame = QPixmap(size() * ratio);
    m_frame.setDevicePixelRatio(ratio);
    m_frame.fill(Qt::transparent);
    QPainter painter(&m_frame);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.08));  // thin material over the blue background
    painter.setPen(QPen(border, 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 16, 16);
    m_frameBorder = border;
  }
  const QRect area = event->rect();
  QPainter painter(this);
  painter.drawPixmap(QRectF(area), m_frame,
                     QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio));
}
