// The import dialog of box data files: source, day and time span, search with its information
// list, box id, time correction and the three closing actions. It only shows the fields; the
// search, the checks and the results are core code (detections/box_data_import). The caller
// owns the remembered values and drives the boxes through the callables it gives. Qt thread only.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "detections/box_data_import.h"

namespace lapora {

class CDlgImportVarnex : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgImportVarnex(ImportDialogSetup setup, QWidget* parent = nullptr);

  // Results, meaningful after exec(): the action that closed the dialog (kNone for Cancel) and
  // what the import command needs. TakeRequest moves the found detections out.
  ImportAction Action() const { return m_action; }
  const std::vector<CDetection>& Found() const { return m_found; }
  std::string BoxId() const;
  int CorrectionIndex() const { return m_correction->currentIndex(); }
  const std::optional<ImportBoxIdentity>& Attached() const { return m_attached; }
  const std::string& OutputPath() const { return m_outputPath; }
  const std::array<std::string, 2>& Headers() const { return m_headers; }
  ImportRequest TakeRequest();

  // Seams for tests: where warnings go, and who answers the Yes/No questions.
  void SetWarningShower(std::function<void(const QString&)> shower) {
    m_showWarning = std::move(shower);
  }
  void SetQuestionAsker(std::function<bool(const QString&)> asker) { m_ask = std::move(asker); }

  QLineEdit* FileEdit() const { return m_file; }
  QToolButton* SourceButton() const { return m_sourceButton; }
  QMenu* SourceMenu() const { return m_sourceMenu; }
  QAction* ImportFromServerAction() const { return m_fromServerAction; }
  QAction* DefineServerAction() const { return m_defineServerAction; }
  QDateEdit* DateEdit() const { return m_date; }
  QLineEdit* StartEdit() const { return m_start; }
  QLineEdit* EndEdit() const { return m_end; }
  QMenu* StartMenu() const { return m_startMenu; }
  QMenu* EndMenu() const { return m_endMenu; }
  QPushButton* SearchButton() const { return m_search; }
  QCheckBox* ShowAbnormalBox() const { return m_showAbnormal; }
  QComboBox* BoxIdBox() const { return m_boxId; }
  QComboBox* CorrectionBox() const { return m_correction; }
  QLabel* IndicatorText() const { return m_indicator; }
  QPushButton* ReplayButton() const { return m_replay; }
  QPushButton* ImportButton() const { return m_import; }
  QLineEdit* OutputEdit() const { return m_output; }
  QPushButton* SaveButton() const { return m_save; }
  QListWidget* InformationList() const { return m_information; }
  QPushButton* ClearButton() const { return m_clear; }
  QLabel* CountLabel() const { return m_count; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  void Search();
  void reject() override;

 private:
  void ChooseFile();
  void FetchFromBox(int box);
  void ImportFromServer();
  // False when the operator cancelled.
  bool DefineServer();
  void ChooseOutput();
  void CloseWith(ImportAction action);
  void UpdateActions();
  void UpdateIndicator();
  void SelectBoxId(const std::string& id);
  void AddInformation(const std::string& text);
  void RememberOnClose();

  ImportDialogSetup m_setup;
  std::function<void(const QString&)> m_showWarning;
  std::function<bool(const QString&)> m_ask;

  std::vector<CDetection> m_found;
  std::array<std::string, 2> m_headers;
  std::optional<ImportBoxIdentity> m_attached;
  std::string m_outputPath;
  ImportAction m_action = ImportAction::kNone;
  std::vector<std::string> m_boxIds;  // the id of each box id entry

  QLineEdit* m_file = nullptr;
  QToolButton* m_sourceButton = nullptr;
  QMenu* m_sourceMenu = nullptr;
  std::array<QAction*, 4> m_boxActions{};
  QAction* m_fromServerAction = nullptr;
  QAction* m_defineServerAction = nullptr;
  QDateEdit* m_date = nullptr;
  QLineEdit* m_start = nullptr;
  QLineEdit* m_end = nullptr;
  QMenu* m_startMenu = nullptr;
  QMenu* m_endMenu = nullptr;
  QPushButton* m_search = nullptr;
  QCheckBox* m_showAbnormal = nullptr;
  QComboBox* m_boxId = nullptr;
  QComboBox* m_correction = nullptr;
  QLabel* m_indicator = nullptr;
  QPushButton* m_replay = nullptr;
  QPushButton* m_import = nullptr;
  QLineEdit* m_output = nullptr;
  QPushButton* m_save = nullptr;
  QListWidget* m_information = nullptr;
  QPushButton* m_clear = nullptr;
  QLabel* m_count = nullptr;
  QPushButton* m_cancel = nullptr;
};

// "Name\tpattern\t..." filters as Qt writes them: "Name (pattern);;...".
QString QtFileFilter(const std::string& tabbed);

}  // namespace lapora
