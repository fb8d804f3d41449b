// The manual detection dialog: time, bib, detector and time correction, with the "+24h"
// indicator. It only shows the fields; its OK runs ManualEntryCheck and shows the warning of a
// refused entry. The remembered detector index belongs to the caller. Qt thread only.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "detections/detection_list_operations.h"

namespace lapora {

class Clock;

class CDlgInsertTimeNew : public QDialog {
  Q_OBJECT

 public:
  // detectors: the labels of the configured boxes (ManualEntryDetectors); rememberedDetectorIndex:
  // the detector chosen the last time the dialog was accepted. clock must outlive the dialog.
  CDlgInsertTimeNew(std::vector<std::string> detectors, int rememberedDetectorIndex,
                    const std::array<std::string, 4>& raceDayDates, const Clock& clock,
                    QWidget* parent = nullptr);

  // The accepted entry; meaningful once the dialog closed with OK. Its detectorIndex is the one
  // to remember for the next opening.
  const ManualEntry& Entry() const { return m_entry; }

  // Where a refused entry's warning goes: a warning message box unless replaced (tests).
  void SetWarningShower(std::function<void(const QString&)> shower) {
    m_showWarning = std::move(shower);
  }

  QLineEdit* TimeEdit() const { return m_time; }
  QLineEdit* BibEdit() const { return m_bib; }
  QComboBox* DetectorBox() const { return m_detector; }
  QComboBox* CorrectionBox() const { return m_correction; }
  QLabel* IndicatorText() const { return m_indicatorText; }
  QLabel* IndicatorImage() const { return m_indicatorImage; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  // OK (and Enter): closes only when the entry passes the checks.
  void accept() override;

 private:
  void UpdateIndicator();

  std::vector<std::string> m_detectors;
  const Clock& m_clock;
  ManualEntry m_entry;
  std::function<void(const QString&)> m_showWarning;

  QLineEdit* m_time = nullptr;
  QLineEdit* m_bib = nullptr;
  QComboBox* m_detector = nullptr;
  QComboBox* m_correction = nullptr;
  QLabel* m_indicatorText = nullptr;
  QLabel* m_indicatorImage = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace lapora
