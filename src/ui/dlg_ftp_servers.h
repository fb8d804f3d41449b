// The FTP servers dialog: the known servers with a tick each (the export's target servers), a
// compact form with the list only and a full form that edits the servers. It only shows what
// its CFtpServersEditor decides: modes, checks, the file written on OK. Qt thread only.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <vector>

#include "export/ftp_servers_editor.h"

namespace lapora {

class CDlgFtpServers : public QDialog {
  Q_OBJECT

 public:
  // Loads the servers of serversFilePath (FtpServers.dat) and ticks the pre-selected labels.
  CDlgFtpServers(std::vector<std::string> preselectedLabels, std::string serversFilePath,
                 QWidget* parent = nullptr);

  // The ticked labels in row order; meaningful once the dialog closed with OK.
  std::vector<std::string> CheckedLabels() const { return m_checkedLabels; }

  // Where a refused server's warning goes: a warning message box unless replaced (tests).
  void SetWarningShower(std::function<void(const QString&)> shower) {
    m_showWarning = std::move(shower);
  }

  bool IsFullForm() const { return m_fullForm; }
  const CFtpServersEditor& Editor() const { return m_editor; }

  QTreeWidget* List() const { return m_list; }
  QPushButton* FormButton() const { return m_form; }
  QPushButton* AddButton() const { return m_add; }
  QPushButton* RemoveButton() const { return m_remove; }
  QPushButton* UpdateButton() const { return m_update; }
  QGroupBox* InfoGroup() const { return m_infoGroup; }
  QLineEdit* LabelEdit() const { return m_label; }
  QLineEdit* SiteEdit() const { return m_site; }
  QLineEdit* UserEdit() const { return m_user; }
  QLineEdit* PasswordEdit() const { return m_password; }
  QLineEdit* DirectoryEdit() const { return m_directory; }
  QPushButton* ValidateButton() const { return m_validate; }
  QPushButton* CancelEditButton() const { return m_cancelEdit; }
  QPushButton* OkButton() const { return m_ok; }
  QPushButton* CancelButton() const { return m_cancel; }

 public slots:
  // OK (and Enter in browse mode): ignored while editing; otherwise writes the servers and
  // closes.
  void accept() override;
  // "Cancel", Escape and the window's close button: ignored while editing.
  void reject() override;

 private:
  void ToggleForm();
  void OnSelectionChanged();
  void OnItemChanged(QTreeWidgetItem* item);
  void OnDoubleClicked();
  void StartAdd();
  void StartUpdate();
  void ValidateEdit();
  void CancelEdit();
  void RemoveSelected();

  // Rebuilds the rows from the editor and selects its selected row.
  void FillList();
  void ShowFields(const CFtpServer& server);
  // Enables the controls the editor allows and sets the default button of the mode.
  void UpdateActions();
  QLineEdit* EditOf(FtpServerField field) const;

  CFtpServersEditor m_editor;
  std::vector<std::string> m_checkedLabels;
  std::function<void(const QString&)> m_showWarning;
  bool m_fullForm = false;

  QTreeWidget* m_list = nullptr;
  QPushButton* m_form = nullptr;
  QWidget* m_listButtons = nullptr;
  QPushButton* m_add = nullptr;
  QPushButton* m_remove = nullptr;
  QPushButton* m_update = nullptr;
  QGroupBox* m_infoGroup = nullptr;
  QLineEdit* m_label = nullptr;
  QLineEdit* m_site = nullptr;
  QLineEdit* m_user = nullptr;
  QLineEdit* m_password = nullptr;
  QLineEdit* m_directory = nullptr;
  QPushButton* m_validate = nullptr;
  QPushButton* m_cancelEdit = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace lapora
