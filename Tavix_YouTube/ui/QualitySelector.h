// QualitySelector: six segments in one row, one per quality in declaration
// order, labelled with each quality's display name and bound both ways to the
// address model's selectedQuality. A click anywhere in a segment selects it;
// a rounded highlight slides to the selected segment (400 ms). The selected
// label is drawn in the primary text colour, the others in the secondary.
//
// GUI thread only.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <vector>

#include "Tavix_YouTube/ui/viewmodels/VideoDownloadViewModel.h"

class QPushButton;
class QPropertyAnimation;

class QualitySelector : public QWidget {
  Q_OBJECT
 public:
  explicit QualitySelector(std::shared_ptr<tavix::VideoDownloadViewModel> model, QWidget* parent = nullptr);
  ~QualitySelector() override;

  QPushButton* segment(int index) const { return m_segments[static_cast<size_t>(index)]; }
  int segmentCount() const { return static_cast<int>(m_segments.size()); }
  int selectedIndex() const;
  QWidget* highlight() const { return m_highlight; }
  static QColor primaryColor();
  static QColor secondaryColor();
  // Colour the label of segment `index` is drawn in now.
  QColor labelColor(int index) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void refresh(const tavix::Quality& selected, bool animate);

  std::shared_ptr<tavix::VideoDownloadViewModel> m_model;
  std::vector<QPushButton*> m_segments;
  QWidget* m_highlight;
  QPointer<QPropertyAnimation> m_slide;
  platform::Cancellable m_subscription;
};
