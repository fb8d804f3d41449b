// How the detections list and the detections information list draw their entries: columns
// cut at the tabs and placed in average character widths, the selection in navy, the
// removed-detection image, the summary colours. Qt thread only.
#pragma once

#include <QPixmap>
#include <QStyledItemDelegate>
#include <vector>

namespace lapora {

// The column widths, in average character widths, of a detections-list entry's text.
std::vector<int> DetectionColumnWidths(const QString& text);
// The column widths of a summary entry: bib, name, time, pass, result.
std::vector<int> SummaryColumnWidths();
// The width in pixels of a whole summary entry drawn in font: every column with the average
// character width before it.
int SummaryEntryWidth(const QFont& font);

class DetectionItemDelegate : public QStyledItemDelegate {
 public:
  static constexpr int kImageSlot = 20;  // pixels reserved for the removed-detection image

  explicit DetectionItemDelegate(QObject* parent = nullptr);
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  QPixmap m_removed;
};

class SummaryItemDelegate : public QStyledItemDelegate {
 public:
  explicit SummaryItemDelegate(QObject* parent = nullptr) : QStyledItemDelegate(parent) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Colours of the lists.
inline const QColor kSelectionNavy{0, 0, 128};
inline const QColor kSummaryGreen{0, 64, 0};
inline const QColor kSummaryBrown{140, 70, 0};

}  // namespace lapora
