#include "Tavix_YouTube/ui/QualitySelector.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QPushButton>

#include "Tavix_YouTube/ui/Animations.h"
#include "Tavix_YouTube/ui/Theme.h"

namespace {

class Highlight : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(theme::backgroundItem());
    painter.drawRoundedRect(rect(), 10, 10);
  }
};

}  // namespace

QualitySelector::QualitySelector(std::shared_ptr<tavix::VideoDownloadViewModel> model, QWidget* parent)
    : QWidget(parent), m_model(std::move(model)) {
  setFixedHeight(44);
  m_highlight = new Highlight(this);
  m_highlight->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (const tavix::Quality& quality : tavix::Quality::allCases()) {
    auto* button = new QPushButton(QString::fromStdString(quality.localizedName()), this);
    button->setFlat(true);
    // A segment under the pointer or pressed shows a faint plate behind its name.
    button->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; border-radius: 10px; }"
                                         " QPushButton:hover { background: rgba(255,255,255,0.07); }"
                                         " QPushButton:pressed { background: rgba(255,255,255,0.14); }"));
    button->setCursor(Qt::PointingHandCursor);
    button->setMinimumHeight(44);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    button->setFont(theme::font(QStringLiteral("Montserrat-Medium"), 14));
    connect(button, &QPushButton::clicked, this, [this, quality] { m_model->selectedQuality = quality; });
    layout->addWidget(button);
    m_segments.push_back(button);
  }
  m_highlight->lower();
  m_subscription = m_model->selectedQuality.subscribe([this](const tavix::Quality& selected) {
    refresh(selected, isVisible() && ui_animations::enabled());
  });
}

QualitySelector::~QualitySelector() { m_subscription.cancel(); }

QColor QualitySelector::primaryColor() { return QColor(Qt::white); }
QColor QualitySelector::secondaryColor() { return QColor::fromRgbF(1, 1, 1, 0.55); }

int QualitySelector::selectedIndex() const {
  const tavix::Quality selected = m_model->selectedQuality.get();
  const auto& all = tavix::Quality::allCases();
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i] == selected) return static_cast<int>(i);
  }
  return -1;
}

QColor QualitySelector::labelColor(int index) const {
  return m_segments[static_cast<size_t>(index)]->palette().color(QPalette::ButtonText);
}

void QualitySelector::refresh(const tavix::Quality& selected, bool animate) {
  const auto& all = tavix::Quality::allCases();
  int index = -1;
  for (size_t i = 0; i < all.size(); ++i) {
    const bool isSelected = all[i] == selected;
    if (isSelected && index < 0) index = static_cast<int>(i);
    QPalette palette = m_segments[i]->palette();
    palette.setColor(QPalette::ButtonText, isSelected ? primaryColor() : secondaryColor());
    m_segments[i]->setPalette(palette);
    m_segments[i]->setText(QString::fromStdString(all[i].localizedName()));
  }
  m_highlight->setVisible(index >= 0);
  if (index < 0) return;
  const QRect target = m_segments[static_cast<size_t>(index)]->geometry();
  if (m_slide) m_slide->stop();
  if (!animate || m_highlight->geometry().isEmpty()) {
    m_highlight->setGeometry(target);
    return;
  }
  auto* slide = new QPropertyAnimation(m_highlight, "geometry", this);
  slide->setDuration(400);
  slide->setEasingCurve(QEasingCurve::OutBack);
  slide->setEndValue(target);
  m_slide = slide;
  slide->start(QAbstractAnimation::DeleteWhenStopped);
}

void QualitySelector::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  layout()->activate();
  refresh(m_model->selectedQuality.get(), false);
}

void QualitySelector::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(theme::backgroundArea());
  painter.drawRoundedRect(rect(), 12, 12);
}
