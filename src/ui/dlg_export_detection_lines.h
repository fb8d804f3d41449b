// The detection-lines export dialog: the minimum gap, the target folder and generic name, the
// ZIP and FTP options, the display type, the detector list with its handicaps, "Exporter
// maintenant" and the background export. It only shows fields: every check and result is the
// CExportLinesDialogModel's. The FTP servers dialog picks the target servers and the re-timing
// dialog changes a handicap; questions, messages and the folder chooser go through replaceable
// callables (tests). The snapshot, "Filtrer" and "Exporter maintenant" run on a worker under the
// program's progress dialog, so the window goes on meanwhile. Qt thread only.
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "export/export_lines_dialog_model.h"

namespace lapora {

class CDlgExportDetectionLines : public QDialog {
  Q_OBJECT

 public:
  using MessageShower = std::function<void(const QString&, QMessageBox::Icon)>;
  using QuestionAsker = std::function<bool(const QString&)>;
  // The folder chosen from a start folder; empty when cancelled.
  using FolderChooser = std::function<QString(const QString&)>;

  // model must outlive the dialog.
  explicit CDlgExportDetectionLines(CExportLinesDialogModel& model, QWidget* parent = nullptr);

  void SetMessageShower(MessageShower shower) { m_showMessage = std::move(shower); }
  void SetQuestionAsker(QuestionAsker asker) { m_ask = std::move(asker); }
  void SetFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

  QLineEdit* GapEdit() const { return m_gap; }
  QLineEdit* FolderEdit() const { return m_folder; }
  QPushButton* FolderButton() const { return m_folderBrowse; }
  QLineEdit* NameEdit() const { return m_name; }
  QCheckBox* ZipBox() const { return m_zip; }
  QCheckBox* FtpBox() const { return m_ftp; }
  QPushButton* FtpButton() const { return m_ftpPick; }
  QLabel* FtpTarget() const { return m_ftpTarget; }
  QRadioButton* TypeRadio(int displayType) const {
    return m_types[NormalizeDisplayType(displayType)];
  }
  QTreeWidget* DetectorList() const { return m_list; }
  QPushButton* FilterButton() const { return m_filter; }
  QPushButton* RetimingButton() const { return m_retiming; }
  QPushButton* ResetButton() const { return m_reset; }
  QLabel* HandicapLabel() const { return m_handicap; }
  QLabel* DataLabel() const { return m_data; }
  QPushButton* ExportButton() const { return m_exportNow; }
  QCheckBox* BackgroundBox() const { return m_background; }
  QLineEdit* PeriodEdit() const { return m_period; }
  QToolButton* PeriodUp() const { return m_periodUp; }
  QToolButton* PeriodDown() const { return m_periodDown; }
  QPushButton* CloseButton() const { return m_close; }

 public slots:
  // "Fermer", Escape and the close box: the fields are written, then the dialog closes.
  void reject() override;

 private:
  enum class FilterEnd { kFilled, kRefused, kCancelled };
  // How the dialog waits for its work: under the progress dialog, with exec().
  JobWait ProgressWait();
  // "Filtrer"; refused (unreadable gap) and cancelled leave the rows as they were.
  FilterEnd Filter();
  // Re-runs "Filtrer" keeping the selected detectors selected and the focus on the list. When
  // it is cancelled, the rows stay, shown in displayTypeBefore when the display type had just
  // changed.
  void Refilter(std::optional<int> displayTypeBefore = std::nullopt);
  void FillRows();
  void UpdateSideControls();
  void UpdateFtpTarget();
  std::optional<std::size_t> SingleSelectedRow() const;
  void DisplayTypeChosen(int displayType);
  void RunRetiming();
  void ResetHandicap();
  void BrowseFolder();
  void FtpToggled(bool on);
  void PickServers();
  void ExportNow();
  void StepPeriod(int delta);

  CExportLinesDialogModel& m_model;
  MessageShower m_showMessage;
  QuestionAsker m_ask;
  FolderChooser m_chooseFolder;
  bool m_closed = false;

  QLineEdit* m_gap = nullptr;
  QLineEdit* m_folder = nullptr;
  QPushButton* m_folderBrowse = nullptr;
  QLineEdit* m_name = nullptr;
  QCheckBox* m_zip = nullptr;
  QCheckBox* m_ftp = nullptr;
  QPushButton* m_ftpPick = nullptr;
  QLabel* m_ftpTarget = nullptr;
  QRadioButton* m_types[3] = {nullptr, nullptr, nullptr};
  QTreeWidget* m_list = nullptr;
  QPushButton* m_filter = nullptr;
  QPushButton* m_retiming = nullptr;
  QPushButton* m_reset = nullptr;
  QLabel* m_handicap = nullptr;
  QLabel* m_data = nullptr;
  QPushButton* m_exportNow = nullptr;
  QCheckBox* m_background = nullptr;
  QLineEdit* m_period = nullptr;
  QToolButton* m_periodUp = nullptr;
  QToolButton* m_periodDown = nullptr;
  QPushButton* m_close = nullptr;
};

}  // namespace lapora
