#include "ui/list_models.h"

#include <QStringList>
#include <algorithm>

#include "station/station.h"
#include "ui/qt_text.h"

namespace lapora {

StationListModel::StationListModel(const Station& station, ListId list, QObject* parent)
    : QAbstractListModel(parent), m_station(station), m_list(list) {
  m_rows = static_cast<int>(SourceSize());
}

std::size_t StationListModel::SourceSize() const {
  switch (m_list) {
    case ListId::kDetections:
      return m_station.DetectionItems().size();
    case ListId::kSummary:
      return m_station.SummaryEntries().size();
    case ListId::kLog:
      return m_station.LogLines().size();
  }
  return 0;
}

int StationListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : m_rows;
}

QVariant StationListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.row() >= m_rows ||
      static_cast<std::size_t>(index.row()) >= SourceSize()) {
    return {};
  }
  std::size_t row = static_cast<std::size_t>(index.row());
  switch (m_list) {
    case ListId::kDetections: {
      const CLogDetectionItem& item = m_station.DetectionItems()[row];
      if (role == Qt::DisplayRole) {
        return ToQt(item.text);
      }
      if (role == kRecordValidRole) {
        return item.record.valid != 0;
      }
      break;
    }
    case ListId::kSummary: {
      const CSummaryItem& entry = m_station.SummaryEntries()[row];
      if (role == kColumnsRole || role == Qt::DisplayRole) {
        QStringList columns{entry.bib != 0 ? QString::number(entry.bib) : QString(),
                            ToQt(entry.nameText), ToQt(entry.timeText), ToQt(entry.passText),
                            ToQt(entry.resultText)};
        return role == Qt::DisplayRole ? QVariant(columns.join('\t')) : QVariant(columns);
      }
      if (role == kSummaryErrorRole) {
        return entry.error;
      }
      break;
    }
    case ListId::kLog:
      if (role == Qt::DisplayRole) {
        return ToQt(m_station.LogLines()[row]);
      }
      break;
  }
  return {};
}

void StationListModel::RowsPurged(std::size_t count) {
  int removed = static_cast<int>(std::min<std::size_t>(count, static_cast<std::size_t>(m_rows)));
  if (removed == 0) {
    return;
  }
  beginRemoveRows(QModelIndex(), 0, removed - 1);
  m_rows -= removed;
  endRemoveRows();
}

void StationListModel::RowsAppended() {
  int size = static_cast<int>(SourceSize());
  if (size <= m_rows) {
    return;
  }
  beginInsertRows(QModelIndex(), m_rows, size - 1);
  m_rows = size;
  endInsertRows();
}

void StationListModel::RowsCleared() {
  beginResetModel();
  m_rows = static_cast<int>(SourceSize());
  endResetModel();
}

void StationListModel::RowsChanged() {
  if (m_rows > 0) {
    emit dataChanged(index(0), index(m_rows - 1));
  }
}

}  // namespace lapora
