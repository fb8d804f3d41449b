// The handicap re-timing dialog: the passage shown (number, bib, clock time, in bold) and the
// passage time to type. Its OK runs ApplyRetiming and stays open with a warning when the time
// cannot be read. The caller stores the accepted handicap. Qt thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

#include "export/handicap_retiming.h"

namespace lapora {

class CDlgRecalage : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgRecalage(HandicapRetiming retiming, QWidget* parent = nullptr);

  // The new handicap once the dialog closed with OK; the one given otherwise.
  const CChrono& Handicap() const { return m_retiming.handicap; }

  // Where a refused time's warning goes: a warning message box unless replaced (tests).
  void SetWarningShower(std::function<void(const QString&)> shower) {
    m_showWarning = std::move(shower);
  }

  QLabel* PassValue() const { return m_pass; }
  QLabel* BibValue() const { return m_bib; }
  QLabel* ClockValue() const { return m_clock; }
  QLineEdit* TimeEdit() const { return m_time; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  // OK (and Enter): closes only when the passage time can be read.
  void accept() override;

 private:
  HandicapRetiming m_retiming;
  std::function<void(const QString&)> m_showWarning;

  QLabel* m_pass = nullptr;
  QLabel* m_bib = nullptr;
  QLabel* m_clock = nullptr;
  QLineEdit* m_time = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace lapora
