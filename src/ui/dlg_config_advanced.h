// The advanced configuration dialog: the three timing values with their up-down controls, the
// sync of the incoming-detections file, the replay of a box's reads after a lost connection and
// the factory values. Its OK runs AdvancedOk, which stores
// the values in the settings at once; a refused value is shown and keeps the focus. Qt thread only.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QPushButton>
#include <QSpinBox>
#include <functional>

namespace lapora {

struct AppSettings;

class CDlgConfigAdvanced : public QDialog {
  Q_OBJECT

 public:
  // settings must outlive the dialog.
  explicit CDlgConfigAdvanced(AppSettings& settings, QWidget* parent = nullptr);

  // Where a refused value's message goes: a warning message box unless replaced (tests).
  void SetWarningShower(std::function<void(const QString&)> shower) {
    m_showWarning = std::move(shower);
  }

  QSpinBox* InputDeltaBox() const { return m_fields[0]; }
  QSpinBox* OutputDeltaBox() const { return m_fields[1]; }
  QSpinBox* ReadDeltaBox() const { return m_fields[2]; }
  QCheckBox* SyncDetectionsBox() const { return m_sync; }
  QCheckBox* AutoRecoverBox() const { return m_autoRecover; }
  QPushButton* FactoryButton() const { return m_factory; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  void accept() override;
  void RestoreFactorySettings();

 private:
  AppSettings& m_settings;
  std::function<void(const QString&)> m_showWarning;
  QSpinBox* m_fields[3] = {};
  QCheckBox* m_sync = nullptr;
  QCheckBox* m_autoRecover = nullptr;
  QPushButton* m_factory = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace lapora
