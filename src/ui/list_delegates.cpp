#include "ui/list_delegates.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <algorithm>

#include "ui/list_models.h"

namespace lapora {

namespace {

int RowHeight(const QStyleOptionViewItem& option) {
  return std::max(QFontMetrics(option.font).height(), 16) + 2;
}

// The summary entries are drawn in the list's font, never bold.
QFont EntryFont(const QStyleOptionViewItem& option) {
  QFont font = option.font;
  font.setBold(false);
  return font;
}

// Draws the tab-separated columns from x on; each column starts one average character width
// after the previous one ends and is cut at its width. With lastTakesRest, the last of the given
// widths reaches at least to the line's end.
void DrawColumns(QPainter* painter, const QRect& line, int x, const QStringList& columns,
                 const std::vector<int>& widths, int averageWidth, bool lastTakesRest = false) {
  for (int i = 0; i < columns.size(); ++i) {
    auto column = static_cast<std::size_t>(i);
    int width = (column < widths.size() ? widths[column] : widths.back()) * averageWidth;
    x += averageWidth;
    if (lastTakesRest && column + 1 == widths.size()) {
      width = std::max(width, line.right() + 1 - x);
    }
    QRect cell(x, line.top(), width, line.height());
    painter->save();
    painter->setClipRect(cell.intersected(line));
    painter->drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, columns[i]);
    painter->restore();
    x += width;
  }
}

}  // namespace

std::vector<int> DetectionColumnWidths(const QString& text) {
  return {text.startsWith('+') ? 15 : 10, 25, 30, 80};
}

std::vector<int> SummaryColumnWidths() {
  return {5, 25, 10, 4, 80};
}

int SummaryEntryWidth(const QFont& font) {
  int average = QFontMetrics(font).averageCharWidth();
  int width = 0;
  for (int columnWidth : SummaryColumnWidths()) {
    width += (1 + columnWidth) * average;
  }
  return width;
}

DetectionItemDelegate::DetectionItemDelegate(QObject* parent)
    : QStyledItemDelegate(parent), m_removed(":/images/removed.png") {}

void DetectionItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  bool selected = (option.state & QStyle::State_Selected) != 0;
  painter->save();
  painter->setFont(option.font);
  painter->fillRect(option.rect, selected ? kSelectionNavy : QColor(Qt::white));
  painter->setPen(selected ? QColor(Qt::white) : QColor(Qt::black));
  int average = QFontMetrics(option.font).averageCharWidth();
  int x = option.rect.left() + average;
  if (!index.data(StationListModel::kRecordValidRole).toBool() && !m_removed.isNull()) {
    QSize size = m_removed.size();
    QPoint at(x + (kImageSlot - size.width()) / 2,
              option.rect.top() + (option.rect.height() - size.height()) / 2);
    painter->drawPixmap(at, m_removed);
  }
  x += kImageSlot;
  QString text = index.data(Qt::DisplayRole).toString();
  DrawColumns(painter, option.rect, x, text.split('\t'), DetectionColumnWidths(text), average);
  if ((option.state & QStyle::State_HasFocus) != 0) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(option);
    focus.rect = option.rect;
    focus.backgroundColor = selected ? kSelectionNavy : QColor(Qt::white);
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
  }
  painter->restore();
}

QSize DetectionItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex&) const {
  return QSize(option.rect.width(), RowHeight(option));
}

void SummaryItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
  painter->save();
  QFont font = EntryFont(option);
  painter->setFont(font);
  painter->fillRect(option.rect, Qt::white);
  painter->setPen(index.data(StationListModel::kSummaryErrorRole).toInt() == 1 ? kSummaryBrown
                                                                               : kSummaryGreen);
  int average = QFontMetrics(font).averageCharWidth();
  DrawColumns(painter, option.rect, option.rect.left(),
              index.data(StationListModel::kColumnsRole).toStringList(), SummaryColumnWidths(),
              average, true);
  painter->restore();
}

// As wide as all the columns, so that the list scrolls sideways to an entry's end when it is
// narrower; the list draws its entries at least as wide as itself, and the result column takes
// that room.
QSize SummaryItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return QSize(SummaryEntryWidth(EntryFont(option)), RowHeight(option));
}

}  // namespace lapora
