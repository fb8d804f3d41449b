// The configuration dialog: the four box slots, the export file, the direct connection, the
// lost-connection behaviour, the long-race offset, the unknown-chip filter and the sounds. It
// only shows the fields of a ConfigurationSession and calls it: every change applies the slots
// silently and checks the Dorix Classic compatibility (blinking warning), OK runs the session's
// OK. The session, its settings and its callables belong to the caller. Qt thread only.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <functional>

#include "station/configuration.h"

namespace lapora {

class CDlgConfig : public QDialog {
  Q_OBJECT

 public:
  // The warning's blinking period and the time the dialog is kept on top of other windows.
  static constexpr int kBlinkMs = 800;
  static constexpr int kStayOnTopMs = 7500;
  static constexpr int kTooltipMs = 15000;
  static constexpr int kTooltipWidth = 400;

  // session must outlive the dialog.
  explicit CDlgConfig(ConfigurationSession& session, QWidget* parent = nullptr);

  // Seams for tests; each defaults to the real thing.
  // A refused OK's message (warning message box).
  void SetWarningShower(std::function<void(const QString&)> shower) {
    m_showWarning = std::move(shower);
  }
  // The chip table reload's result: information box on success, exclamation box on failure.
  void SetInfoShower(std::function<void(const QString& text, bool ok)> shower) {
    m_showInfo = std::move(shower);
  }
  // The save-file dialog of "...": gets the title, start path and filter, gives the chosen
  // name (empty when cancelled).
  void SetSaveFileChooser(
      std::function<QString(const QString& title, const QString& start, const QString& filter)>
          chooser) {
    m_chooseSaveFile = std::move(chooser);
  }
  // Opens a folder in the file browser.
  void SetFolderOpener(std::function<void(const QString&)> opener) {
    m_openFolder = std::move(opener);
  }
  // How long the dialogs shown from now on are kept on top when nothing is changed (tests
  // shorten it); kStayOnTopMs unless set.
  static void SetStayOnTopMs(int ms) { s_stayOnTopMs = ms; }

  QLineEdit* SlotAddressEdit(int index) const { return m_slotAddress[index]; }
  QLineEdit* SlotPortEdit(int index) const { return m_slotPort[index]; }
  QComboBox* SlotIdBox(int index) const { return m_slotId[index]; }
  QLineEdit* ExportFileEdit() const { return m_exportFile; }
  QPushButton* BrowseButton() const { return m_browse; }
  QLineEdit* HostEdit() const { return m_host; }
  QLineEdit* PortEdit() const { return m_port; }
  QLineEdit* ReconnectEdit() const { return m_reconnect; }
  QCheckBox* CatchUpBox() const { return m_catchUp; }
  QComboBox* LostConnectionBox() const { return m_lostConnection; }
  QComboBox* LongRaceBox() const { return m_longRace; }
  QCheckBox* IgnoreUnknownTagsBox() const { return m_ignoreUnknown; }
  QCheckBox* BeepDetectionsBox() const { return m_beepDetections; }
  QCheckBox* BeepWhenQuitBox() const { return m_beepWhenQuit; }
  QPushButton* ReloadChipTableButton() const { return m_reloadChips; }
  QPushButton* AdvancedButton() const { return m_advanced; }
  QPushButton* ViewLogFolderButton() const { return m_viewLogs; }
  QLabel* WarningIcon() const { return m_warningIcon; }
  QLabel* WarningText() const { return m_warningText; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }
  // The warning blinks (it is shown every other period) while the configuration is
  // incompatible.
  bool IsWarningBlinking() const { return m_blink.isActive(); }
  bool IsKeptOnTop() const { return (windowFlags() & Qt::WindowStaysOnTopHint) != 0; }

 public slots:
  // OK (and Enter): closes only when the session accepts the fields.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::array<SlotFields, kBoxSlotCount> ReadSlotFields() const;
  ConfigurationFields ReadFields() const;
  void OnFieldChanged();
  void CheckCompatibility();
  void BlinkTick();
  void StopKeepingOnTop();
  void BrowseExportFile();
  void ReloadChipTable();
  void ViewLogFolder();
  void OpenAdvanced();

  ConfigurationSession& m_session;
  std::function<void(const QString&)> m_showWarning;
  std::function<void(const QString&, bool)> m_showInfo;
  std::function<QString(const QString&, const QString&, const QString&)> m_chooseSaveFile;
  std::function<void(const QString&)> m_openFolder;
  static inline int s_stayOnTopMs = kStayOnTopMs;

  std::array<QLineEdit*, kBoxSlotCount> m_slotAddress{};
  std::array<QLineEdit*, kBoxSlotCount> m_slotPort{};
  std::array<QComboBox*, kBoxSlotCount> m_slotId{};
  QLineEdit* m_exportFile = nullptr;
  QPushButton* m_browse = nullptr;
  QLineEdit* m_host = nullptr;
  QLineEdit* m_port = nullptr;
  QLineEdit* m_reconnect = nullptr;
  QCheckBox* m_catchUp = nullptr;
  QComboBox* m_lostConnection = nullptr;
  QComboBox* m_longRace = nullptr;
  QCheckBox* m_ignoreUnknown = nullptr;
  QCheckBox* m_beepDetections = nullptr;
  QCheckBox* m_beepWhenQuit = nullptr;
  QPushButton* m_reloadChips = nullptr;
  QPushButton* m_advanced = nullptr;
  QPushButton* m_viewLogs = nullptr;
  QLabel* m_warningIcon = nullptr;
  QLabel* m_warningText = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;

  QTimer m_blink;
  bool m_blinkShown = false;
  // A slot or direct-connection field was changed: the dialog stays on top.
  bool m_fieldChanged = false;
  bool m_onTopTimerStarted = false;
};

}  // namespace lapora
