// DownloadQueueView: the download manager's list on the main screen. Hidden
// while the list is empty; otherwise a header (title, plural count, clear
// button from 2 items) and a scrolling list of rows, newest first, with a
// 1-pixel bottom marker after the oldest row and a round scroll button
// (from 4 items, while the marker is out of view) that posts
// "scrollToBottom"; the list scrolls the marker into view (0.8 s) on that
// notification. The view follows every change of the list (queued to the
// next turn of the event loop, so a row may remove itself from its own
// click handler).
//
// The list is never shorter than its tallest row (the window's minimum
// height follows), and from 4 items the scroll button has a strip of its own
// below the list, so it never covers a row's text or buttons.
//
// GUI thread only.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QWidget>
#include <map>
#include <memory>
#include <string>

#include "Tavix_YouTube/ui/viewmodels/QueueViewModel.h"
#include "platform/observable/Cancellable.h"

class DownloadItemView;
class QVBoxLayout;

class DownloadQueueView : public QWidget {
  Q_OBJECT
 public:
  // The scroll button's strip: the button and 20 below it.
  static constexpr int kScrollButtonStripHeight = 44 + 20;

  explicit DownloadQueueView(std::shared_ptr<tavix::DownloadManager> manager, QWidget* parent = nullptr);
  ~DownloadQueueView() override;

  tavix::QueueViewModel& model() { return m_model; }
  void refresh();

  QWidget* header() const { return m_header; }
  QLabel* titleLabel() const { return m_title; }
  QLabel* countLabel() const { return m_count; }
  QPushButton* clearButton() const { return m_clear; }
  QToolButton* scrollButton() const { return m_scrollButton; }
  QScrollArea* scrollArea() const { return m_scroll; }
  QWidget* bottomMarker() const { return m_marker; }
  QWidget* scrollButtonStrip() const { return m_buttonStrip; }
  // Rows top to bottom (newest first).
  std::vector<DownloadItemView*> rows() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // isNearBottom follows the list's appearance events: the oldest item's row
  // and the marker after it each set it to true when they come into view and
  // to false when they leave it.
  void updateNearBottom();
  bool inView(const QWidget* widget) const;
  void updateListMinimum();
  void scrollToBottom();

  tavix::QueueViewModel m_model;
  QWidget* m_header;
  QLabel* m_title;
  QLabel* m_count;
  QPushButton* m_clear;
  QScrollArea* m_scroll;
  QWidget* m_listContent;
  QVBoxLayout* m_listLayout;
  QWidget* m_marker;
  QWidget* m_buttonStrip;
  QToolButton* m_scrollButton;
  std::map<std::string, DownloadItemView*> m_rows;  // by item id
  // What was in view at the last check: the row of the oldest item and the marker.
  QPointer<DownloadItemView> m_lastRow;
  bool m_lastRowInView = false;
  bool m_markerInView = false;
  bool m_refreshQueued = false;
  platform::Cancellable m_subscription;
  platform::Cancellable m_scrollObserver;
};
