// What the detection intake needs of a box: its number, its connection name, its detector
// label, its last-detections list and, for a box slot, the history of its reads. Box slots and
// the temporary box of a replay both implement it. Thread-safety is the implementer's: the intake
// calls it from one thread at a time.
#pragma once

#include <string>
#include <utility>

#include "detections/box_read_history.h"
#include "detections/last_box_detection_list.h"

namespace lapora {

class IntakeBox {
 public:
  virtual ~IntakeBox() = default;
  // 1 to 4 for a box slot, 0 for a temporary box.
  virtual int BoxNumber() const = 0;
  // The connection label "[address:port detectorId]".
  virtual std::string ConnectionName() const = 0;
  // The detector label that names the detection point in the records.
  virtual std::string DetectorLabel() const = 0;
  virtual CLastBoxDetectionList& LastDetections() = 0;
  // The reads the box delivered during the run; null for a box that keeps none.
  virtual CBoxReadHistory* ReadHistory() { return nullptr; }
};

// A box made of fixed values, with a list of its own: the temporary box of a replay.
class CTemporaryIntakeBox : public IntakeBox {
 public:
  CTemporaryIntakeBox(int number, std::string connectionName, std::string detectorLabel)
      : m_number(number),
        m_connectionName(std::move(connectionName)),
        m_detectorLabel(std::move(detectorLabel)) {}

  int BoxNumber() const override { return m_number; }
  std::string ConnectionName() const override { return m_connectionName; }
  std::string DetectorLabel() const override { return m_detectorLabel; }
  CLastBoxDetectionList& LastDetections() override { return m_last; }

 private:
  int m_number;
  std::string m_connectionName;
  std::string m_detectorLabel;
  CLastBoxDetectionList m_last;
};

}  // namespace lapora
