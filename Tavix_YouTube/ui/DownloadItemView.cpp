#include "Tavix_YouTube/ui/DownloadItemView.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
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

}  // namespace

ClickableLabel::~ClickableLabel() {
  if (m_cursorPushed) QGuiApplication::restoreOverrideCursor();
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
  m_image = image;
  update();
}

void ThumbnailView::setTurn(double degrees) {
  m_turn = degrees;
  update();
}

void ThumbnailView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
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
  m_title->setToolTip(QString::fromStdString(localizedString(tavix::RowViewModel::kTitleTooltipKey)));
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

  // Title line.
  const QColor titleColor = theme::systemColor(m_model.titleColor());
  m_title->setText(QString::fromStdString(m_model.titleText()));
  m_title->setStyleSheet(QStringLiteral("color: %1; %2")
                             .arg(css(titleColor), m_model.titleIsAddress() ? QStringLiteral("text-decoration: underline;")
                                                                             : QString()));
  m_badge->setText(QString::fromStdString(m_model.qualityBadgeText()));

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

  // Status line.
  const QColor statusColor = theme::systemColor(m_model.statusColor());
  m_statusIcon->setPixmap(theme::symbol(QString::fromStdString(m_model.statusIcon()), statusColor, 12));
  for (QLabel* label : m_statusTexts) {
    m_statusLine->removeWidget(label);
    delete label;
  }
  m_statusTexts.clear();
  while (m_statusLine->count() > 1) delete m_statusLine->takeAt(1);
  const auto texts = m_model.statusTexts();
  for (size_t i = 0; i < texts.size(); ++i) {
    auto* label = new QLabel(this);
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromStdString(texts[i].text));
    label->setFont(theme::font(QStringLiteral("Montserrat-Regular"), 12));
    const QColor color = i == 0 ? statusColor : QColor::fromRgbF(1, 1, 1, texts[i].opacity);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(css(color)));
    m_statusLine->addWidget(label);
    m_statusTexts.push_back(label);
  }
  m_statusLine->addStretch(1);

  // Error text, at most three lines.
  const QString error = QString::fromStdString(m_model.errorText());
  m_error->setVisible(!error.isEmpty());
  m_error->setText(error);
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
      button->setStyleSheet(
          QStringLiteral("QToolButton { background: %1; border: none; border-radius: 12px; }").arg(css(withAlpha(color, 0.2))));
      const tavix::RowAction action = spec.action;
      connect(button, &QToolButton::clicked, this, [this, action] { m_model.run(action); });
      m_buttonBox->addWidget(button);
      m_buttons.push_back(button);
    }
    m_shownButtons = buttons;
  }
  update();
}

void DownloadItemView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.08));  // thin material over the blue background
  painter.setPen(QPen(withAlpha(theme::systemColor(m_model.statusColor()), 0.3), 1));
  painter.drawRoundedRect(frame, 16, 16);
}
