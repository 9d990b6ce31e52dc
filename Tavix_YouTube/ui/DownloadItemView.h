// DownloadItemView: one row of the download queue over a RowViewModel:
// thumbnail (turned 10 degrees until completed), title line (address in cyan,
// underlined, while no title is known; a click opens it; pointing-hand cursor
// on hover), quality badge, candy-stripe bar while downloading or paused,
// status line (icon, name, percent, size, speed), error text (at most three
// lines) and the buttons of the status. The row redraws after every change of
// one of the item's published fields.
//
// GUI thread only.
#pragma once

#include <QLabel>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Tavix_YouTube/ui/viewmodels/RowViewModel.h"
#include "platform/observable/Cancellable.h"

class CandyStripeBar;
class QHBoxLayout;
class QVBoxLayout;

// A label that reports clicks and shows the pointing-hand cursor while the
// pointer is over it (pushed on enter, popped on leave). Its text is cut with
// "…" to the label's width, at the end or in the middle; the tooltip is the
// hint, with the whole text above it when the text is cut.
class ClickableLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
  ~ClickableLabel() override;
  bool isHovered() const { return m_cursorPushed; }
  void setFullText(const QString& text, const QString& hint, Qt::TextElideMode mode = Qt::ElideRight);
  const QString& fullText() const { return m_fullText; }
  bool isElided() const;
  QSize minimumSizeHint() const override;
 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void elide();
  bool m_cursorPushed = false;
  QString m_fullText;
  QString m_hint;
  Qt::TextElideMode m_elideMode = Qt::ElideRight;
};

class ThumbnailView : public QWidget {
 public:
  explicit ThumbnailView(QWidget* parent = nullptr);
  void setImage(const QImage& image);
  void setTurn(double degrees);
  double turn() const { return m_turn; }
  bool hasImage() const { return !m_image.isNull(); }
  const QImage& image() const { return m_image; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap render() const;
  QImage m_image;
  double m_turn = 10;
  QPixmap m_cache;  // the drawn thumbnail; empty when it must be drawn again
};

class DownloadItemView : public QWidget {
  Q_OBJECT
 public:
  DownloadItemView(std::shared_ptr<tavix::DownloadItem> item, std::function<void()> onRemove,
                   QWidget* parent = nullptr);
  ~DownloadItemView() override;

  tavix::RowViewModel& model() { return m_model; }
  // Rebuilds the row from the item now (also runs queued after each change).
  void refresh();

  ClickableLabel* titleLabel() const { return m_title; }
  QLabel* badgeLabel() const { return m_badge; }
  QLabel* errorLabel() const { return m_error; }
  QLabel* statusIconLabel() const { return m_statusIcon; }
  ThumbnailView* thumbnail() const { return m_thumbnail; }
  CandyStripeBar* progressBar() const { return m_bar; }
  std::vector<QLabel*> statusTextLabels() const { return m_statusTexts; }
  std::vector<QToolButton*> actionButtons() const { return m_buttons; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void scheduleRefresh();

  tavix::RowViewModel m_model;
  ThumbnailView* m_thumbnail;
  ClickableLabel* m_title;
  QLabel* m_badge;
  QVBoxLayout* m_details;
  CandyStripeBar* m_bar = nullptr;
  QLabel* m_statusIcon;
  QString m_shownIcon;
  QColor m_shownIconColor;
  QHBoxLayout* m_statusLine;
  std::vector<QLabel*> m_statusTexts;
  QLabel* m_error;
  QHBoxLayout* m_buttonBox;
  std::vector<QToolButton*> m_buttons;
  std::vector<tavix::RowButton> m_shownButtons;
  std::optional<tavix::Thumbnail> m_shownThumbnail;  // decoded only when it changes
  bool m_refreshQueued = false;
  QPixmap m_frame;  // the row's rounded frame at its size
  QColor m_frameBorder;
  platform::Cancellable m_subscription;
  std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
