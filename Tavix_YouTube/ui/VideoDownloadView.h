// VideoDownloadView: the main screen. Blue gradient with drifting bubbles,
// the mascot on the left; on the right the title, the address field with its
// paste button, the quality selector, the download button and the queue. It
// wires Qt widgets to a VideoDownloadScreenModel and holds no logic itself.
// Also: MascotButton (tilts about the vertical axis under the pointer) and
// DownloadButton (green gradient, enabled iff the field is not "").
//
// GUI thread only.
#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QPixmap>
#include <QSpacerItem>
#include <QToolButton>
#include <QWidget>
#include <memory>

#include "Tavix_YouTube/ui/viewmodels/VideoDownloadScreenModel.h"
#include "platform/observable/Cancellable.h"

class BubblesView;

// A vertical gap of `preferred` points that shrinks down to `minimum` when
// the column is short of room.
class Gap : public QSpacerItem {
 public:
  Gap(int minimum, int preferred)
      : QSpacerItem(0, preferred, QSizePolicy::Minimum, QSizePolicy::Preferred), m_minimum(minimum) {}
  QSize minimumSize() const override;

 private:
  int m_minimum;
};

class DownloadQueueView;
class QualitySelector;
class QLabel;

class MascotButton : public QAbstractButton {
  Q_OBJECT
 public:
  MascotButton(tavix::VideoDownloadScreenModel& model, QWidget* parent = nullptr);
  ~MascotButton() override;
  QSize sizeHint() const override { return {300, 300}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  tavix::VideoDownloadScreenModel& m_model;
  QPixmap m_image;
  bool m_cursorPushed = false;
  platform::Cancellable m_subscription;
};

class DownloadButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit DownloadButton(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {550, 60}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QPixmap render() const;  // the button as it looks now
  QPixmap m_cache;
  QString m_cacheKey;
};

class VideoDownloadView : public QWidget {
  Q_OBJECT
 public:
  // The screen is never smaller than this, nor than its content needs (the
  // queue's list shows at least one whole row): the window follows.
  static constexpr QSize kMinimumSize{1000, 400};

  explicit VideoDownloadView(std::shared_ptr<tavix::VideoDownloadScreenModel> model, QWidget* parent = nullptr);
  ~VideoDownloadView() override;

  tavix::VideoDownloadScreenModel& model() { return *m_model; }
  QLineEdit* addressField() const { return m_address; }
  QToolButton* pasteButton() const { return m_paste; }
  DownloadButton* downloadButton() const { return m_download; }
  QualitySelector* qualitySelector() const { return m_quality; }
  DownloadQueueView* queueView() const { return m_queue; }
  MascotButton* mascot() const { return m_mascot; }
  QLabel* titleLabel() const { return m_title; }
  bool pasteHighlighted() const { return m_pasteHighlighted; }
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void applyPasteEffect(bool on);
  const QPixmap& background();

  std::shared_ptr<tavix::VideoDownloadScreenModel> m_model;
  BubblesView* m_bubbles;
  MascotButton* m_mascot;
  QLabel* m_title;
  QLineEdit* m_address;
  QToolButton* m_paste;
  QualitySelector* m_quality;
  DownloadButton* m_download;
  DownloadQueueView* m_queue;
  bool m_appeared = false;
  bool m_pasteHighlighted = false;
  QPixmap m_background;  // the gradient at the current size
  std::vector<platform::Cancellable> m_subscriptions;
};
