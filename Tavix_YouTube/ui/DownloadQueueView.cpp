#include "Tavix_YouTube/ui/DownloadQueueView.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QPropertyAnimation>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "Tavix_YouTube/ui/Animations.h"
#include "Tavix_YouTube/ui/DownloadItemView.h"
#include "Tavix_YouTube/ui/Theme.h"
#include "Tavix_YouTube/ui/viewmodels/LocalizationHelper.h"
#include "platform/notifications/NotificationCenter.h"

namespace {
QString text(const char* key) { return QString::fromStdString(localizedString(key)); }
}  // namespace

DownloadQueueView::DownloadQueueView(std::shared_ptr<tavix::DownloadManager> manager, QWidget* parent)
    : QWidget(parent), m_model(manager) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(16);

  m_header = new QWidget(this);
  auto* headerLayout = new QHBoxLayout(m_header);
  headerLayout->setContentsMargins(0, 0, 0, 0);
  auto* titles = new QVBoxLayout();
  titles->setSpacing(4);
  m_title = new QLabel(text("downloads.title"), m_header);
  m_title->setFont(theme::font(QStringLiteral("Montserrat-Bold"), 18));
  m_title->setStyleSheet(QStringLiteral("color: white;"));
  m_count = new QLabel(m_header);
  m_count->setFont(theme::font(QStringLiteral("Montserrat-Regular"), 14));
  m_count->setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.7);"));
  titles->addWidget(m_title);
  titles->addWidget(m_count);
  headerLayout->addLayout(titles);
  headerLayout->addStretch(1);
  m_clear = new QPushButton(text("button.clearCompleted"), m_header);
  m_clear->setIcon(QIcon(theme::symbol(QStringLiteral("trash"), QColor::fromRgbF(1, 0.27, 0.23, 0.8), 12)));
  m_clear->setFont(theme::font(QStringLiteral("Montserrat-Medium"), 12));
  m_clear->setToolTip(text("tooltip.removeCompleted"));
  m_clear->setCursor(Qt::PointingHandCursor);
  m_clear->setStyleSheet(QStringLiteral(
      "QPushButton { color: rgba(255,69,58,0.8); background: rgba(255,69,58,0.2); border: none;"
      " border-radius: 8px; padding: 6px 12px; }"
      " QPushButton:hover { color: rgba(255,69,58,0.95); background: rgba(255,69,58,0.3); }"
      " QPushButton:pressed { background: rgba(255,69,58,0.42); }"));
  connect(m_clear, &QPushButton::clicked, this, [this] { m_model.clearPressed(); });
  headerLayout->addWidget(m_clear);
  // The header keeps its height in a short window; the list below gives way.
  m_header->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  layout->addWidget(m_header);

  m_scroll = new QScrollArea(this);
  m_scroll->setWidgetResizable(true);
  m_scroll->setFrameShape(QFrame::NoFrame);
  m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_scroll->setStyleSheet(QStringLiteral("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"));
  // A thin, rounded, translucent white scroll bar without arrows, brighter
  // under the pointer and while dragged.
  m_scroll->verticalScrollBar()->setStyleSheet(QStringLiteral(
      "QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 0 2px 0; }"
      " QScrollBar::handle:vertical { background: rgba(255,255,255,0.28); border-radius: 3px; min-height: 24px;"
      " margin: 0 1px 0 1px; }"
      " QScrollBar::handle:vertical:hover { background: rgba(255,255,255,0.45); }"
      " QScrollBar::handle:vertical:pressed { background: rgba(255,255,255,0.6); }"
      " QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; background: none; border: none; }"
      " QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
  m_listContent = new QWidget();
  // A row that changes its height may change the list's minimum.
  m_listContent->installEventFilter(this);
  m_listLayout = new QVBoxLayout(m_listContent);
  m_listLayout->setContentsMargins(0, 8, 0, 8);
  m_listLayout->setSpacing(12);
  m_marker = new QWidget(m_listContent);
  m_marker->setFixedHeight(1);
  m_marker->setObjectName(QStringLiteral("bottom_marker"));
  m_listLayout->addWidget(m_marker);
  m_listLayout->addStretch(1);
  m_scroll->setWidget(m_listContent);
  layout->addWidget(m_scroll, 1);

  m_buttonStrip = new QWidget(this);
  m_buttonStrip->setFixedHeight(kScrollButtonStripHeight);
  auto* stripLayout = new QHBoxLayout(m_buttonStrip);
  stripLayout->setContentsMargins(0, 0, 0, kScrollButtonStripHeight - 44);
  m_scrollButton = new QToolButton(m_buttonStrip);
  m_scrollButton->setFixedSize(44, 44);
  m_scrollButton->setIcon(QIcon(theme::symbol(QStringLiteral("chevron.down"), QColor::fromRgbF(1, 1, 1, 0.9), 16)));
  m_scrollButton->setIconSize(QSize(16, 16));
  m_scrollButton->setToolTip(text("tooltip.scrollToBottom"));
  m_scrollButton->setStyleSheet(
      QStringLiteral("QToolButton { background: rgba(255,255,255,0.18); border: none; border-radius: 22px; }"
                     " QToolButton:hover { background: rgba(255,255,255,0.28); }"
                     " QToolButton:pressed { background: rgba(255,255,255,0.38); }"));
  auto* shadow = new QGraphicsDropShadowEffect(m_scrollButton);
  shadow->setColor(QColor::fromRgbF(0, 0, 0, 0.2));
  shadow->setBlurRadius(8);
  shadow->setOffset(0, 4);
  m_scrollButton->setGraphicsEffect(shadow);
  connect(m_scrollButton, &QToolButton::clicked, this, [this] { m_model.scrollButtonPressed(); });
  stripLayout->addStretch(1);
  stripLayout->addWidget(m_scrollButton);
  stripLayout->addStretch(1);
  m_scrollButton->hide();
  m_buttonStrip->hide();
  layout->addWidget(m_buttonStrip);

  connect(m_scroll->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { updateNearBottom(); });
  connect(m_scroll->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { updateNearBottom(); });

  auto& center = platform::NotificationCenter::defaultCenter();
  m_scrollObserver = center.removal(center.addObserver(tavix::QueueViewModel::kScrollToBottomNotification, {},
                                                       [this](const platform::Notification&) { scrollToBottom(); }));
  m_subscription = manager->downloads.subscribe([this](const tavix::DownloadList&) {
    if (m_refreshQueued) return;
    m_refreshQueued = true;
    QMetaObject::invokeMethod(this, [this] { refresh(); }, Qt::QueuedConnection);
  });
  refresh();
}

DownloadQueueView::~DownloadQueueView() {
  m_subscription.cancel();
  m_scrollObserver.cancel();
}

std::vector<DownloadItemView*> DownloadQueueView::rows() const {
  std::vector<DownloadItemView*> result;
  for (int i = 0; i < m_listLayout->count(); ++i) {
    if (auto* row = qobject_cast<DownloadItemView*>(m_listLayout->itemAt(i)->widget())) result.push_back(row);
  }
  return result;
}

void DownloadQueueView::refresh() {
  m_refreshQueued = false;
  const tavix::DownloadList rows = m_model.rowsNewestFirst();
  setVisible(m_model.showsHeader());
  m_count->setText(QString::fromStdString(m_model.countText()));
  m_clear->setVisible(m_model.showsClearButton());

  // Drop rows whose item left the list; make rows for new items.
  std::map<std::string, DownloadItemView*> kept;
  for (const auto& item : rows) {
    const std::string id = item->id.string();
    auto it = m_rows.find(id);
    if (it != m_rows.end()) {
      kept[id] = it->second;
      m_rows.erase(it);
    } else {
      const platform::Uuid itemId = item->id;
      kept[id] = new DownloadItemView(item, [this, itemId] { m_model.removeDownload(itemId); }, m_listContent);
    }
  }
  for (auto& [id, row] : m_rows) {
    m_listLayout->removeWidget(row);
    row->hide();
    row->deleteLater();
  }
  m_rows = std::move(kept);
  // Lay out newest first, then the marker after the oldest row.
  for (const auto& item : rows) m_listLayout->removeWidget(m_rows[item->id.string()]);
  m_listLayout->removeWidget(m_marker);
  int index = 0;
  for (const auto& item : rows) {
    DownloadItemView* row = m_rows[item->id.string()];
    m_listLayout->insertWidget(index++, row);
    row->show();
  }
  m_listLayout->insertWidget(index, m_marker);
  m_buttonStrip->setVisible(m_model.mayShowScrollButton());
  updateListMinimum();
  // Judge what is in view once the new rows have been laid out.
  QMetaObject::invokeMethod(this, [this] { updateNearBottom(); }, Qt::QueuedConnection);
  m_scrollButton->setVisible(m_model.showsScrollButton());
}

bool DownloadQueueView::inView(const QWidget* widget) const {
  if (widget == nullptr || widget->isHidden()) return false;
  const QRect area(widget->mapTo(m_scroll->viewport(), QPoint(0, 0)), widget->size());
  return area.intersects(m_scroll->viewport()->rect());
}

void DownloadQueueView::updateNearBottom() {
  const std::vector<DownloadItemView*> shown = rows();
  DownloadItemView* last = shown.empty() ? nullptr : shown.back();
  if (last != m_lastRow) {  // another row is now the oldest one: it has not appeared yet
    m_lastRow = last;
    m_lastRowInView = false;
  }
  const bool lastRowInView = inView(last);
  if (lastRowInView != m_lastRowInView) {
    m_lastRowInView = lastRowInView;
    m_model.setNearBottom(lastRowInView);
  }
  const bool markerInView = !shown.empty() && inView(m_marker);
  if (markerInView != m_markerInView) {
    m_markerInView = markerInView;
    m_model.setNearBottom(markerInView);
  }
  m_scrollButton->setVisible(m_model.showsScrollButton());
}

void DownloadQueueView::updateListMinimum() {
  // The tallest row with the list's padding and the end marker below it: at
  // the window's smallest height any row can still be seen whole, and a list
  // of one row needs no scrolling.
  int tallest = 0;
  for (const DownloadItemView* row : rows()) tallest = std::max(tallest, row->sizeHint().height());
  const QMargins padding = m_listLayout->contentsMargins();
  const int minimum = padding.top() + tallest + m_listLayout->spacing() + m_marker->height() + padding.bottom();
  if (m_scroll->minimumHeight() != minimum) m_scroll->setMinimumHeight(minimum);
}

bool DownloadQueueView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_listContent && event->type() == QEvent::LayoutRequest) updateListMinimum();
  return QWidget::eventFilter(watched, event);
}

void DownloadQueueView::scrollToBottom() {
  QScrollBar* bar = m_scroll->verticalScrollBar();
  if (!ui_animations::enabled()) {
    bar->setValue(bar->maximum());
    return;
  }
  auto* animation = new QPropertyAnimation(bar, "value", this);
  animation->setDuration(800);
  animation->setEasingCurve(QEasingCurve::InOutQuad);
  animation->setEndValue(bar->maximum());
  animation->start(QAbstractAnimation::DeleteWhenStopped);
}
