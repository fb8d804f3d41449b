// Qt models over the Station's three lists. A model reads the Station's own entries and keeps
// the number of rows its views know, so that it can announce a purge (rows removed at the
// front) and a batch (rows appended) after the Station's list has changed. Qt thread only.
#pragma once

#include <QAbstractListModel>
#include <cstddef>

#include "station/front_end.h"

namespace lapora {

class Station;

class StationListModel : public QAbstractListModel {
 public:
  // Extra data roles for the delegates.
  enum Role {
    kRecordValidRole = Qt::UserRole + 1,  // detections: the record copy is still valid
    kSummaryErrorRole,                    // summary: the entry's error flag
    kColumnsRole,                         // summary: the five column texts (QStringList)
  };

  StationListModel(const Station& station, ListId list, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // After the Station's list changed: `count` entries left the front / new ones were appended
  // (as many as the Station's list now holds beyond the rows known) / all of them went / some
  // changed in place.
  void RowsPurged(std::size_t count);
  void RowsAppended();
  void RowsCleared();
  void RowsChanged();

 private:
  std::size_t SourceSize() const;

  const Station& m_station;
  ListId m_list;
  int m_rows = 0;
};

}  // namespace lapora
